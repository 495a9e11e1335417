#include "runner_options.h"

#include <strings.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/number_text.h"
#include "app/options.h"
#include "app/types.h"

void runner_usage(FILE *out) {
  fprintf(out,
          "Usage: torvane-race [--track DIR] [--robots N] [--skill novice|amateur|expert|0..2]\n"
          "                    [--laps N] [--minutes M] [--limit-minutes M] [--seed N] [--erode R]\n"
          "                    [--simple-driver] [--record FILE] [--play FILE] [--expect-hash HEX]\n"
          "                    [--home DIR] [--progress|--no-progress]\n"
          "       torvane-race --connect HOST[:PORT] [--password TEXT] [--name NAME] [--number N]\n"
          "                    [--chat TEXT] [--sendfile NAME] [--personality NAME] [--fake-lag MS]\n"
          "                    [--fake-loss PERCENT]\n"
          "                    [--join-timeout S] [--limit-minutes M] [--simple-driver] [--home DIR]\n"
          "       torvane-race --series NAME [--reset-points] [--personality NAME] [--limit-minutes M]\n"
          "                    [--simple-driver] [--home DIR]\n"
          "       any of them also [--command LINE]... [--demos]\n"
          "       torvane-race --help | -h | --version\n"
          "Runs a race with robot riders and no window, as fast as possible, and prints\n"
          "the results and a summary (riders finished, simulated and wall seconds, the\n"
          "real-time ratio and the hash of the final state). --play replays a demo and\n"
          "with --expect-hash checks its final state. --erode sets the erosion rate as\n"
          "the game's option does (0 to 100; 0, the default, leaves no ruts). --connect\n"
          "joins a race server and rides its race on the auto pilot in real time, sending\n"
          "--chat after the gate drop and, with --sendfile, sends a file of its outgoing\n"
          "folder to the server as the console's sendfile does, waiting for it to go.\n"
          "The game's messages are printed as \"message: TEXT\" lines. --series runs\n"
          "the next event of a points series\n"
          "(by file name or title; the series decides track, riders and laps) with the\n"
          "player on the auto pilot, records the result and prints the standings;\n"
          "--reset-points starts the series again. --command runs a console line (a chat\n"
          "line or a slash command) after the race reset, online once in the race; it may\n"
          "be repeated. --demos records every race into the home's demos folder as the\n"
          "game's \"Record Demo\" setting does.\n"
          "The game data is torvane.saf beside the program (PREFIX/share/torvane when\n"
          "installed); demos, results, standings\n"
          "and lines go to the home folder, $XDG_DATA_HOME/torvane/ (default\n"
          "~/.local/share/torvane/), or to --home DIR/torvane/.\n");
}

namespace {

bool parse_skill(const char *text, int *out) {
  static const char *const names[] = {"novice", "amateur", "expert"};
  for (int k = 0; k < 3; k++)
    if (text && strcasecmp(text, names[k]) == 0) {
      *out = k;
      return true;
    }
  long v;
  if (!parse_long_within(text, 0, 2, &v)) return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

// Returns 0 to go on, else the exit status (1 for a bad command line).
int parse_runner_options(int argc, char **argv, RunnerOptions *o, FILE *err) {
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
    long n = 0;
    bool ok = true, takes_value = true;
    if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
      runner_usage(stdout);
      return -1;
    } else if (!strcmp(a, "--version")) {
      printf("torvane-race %s\n", torvane_version);
      return -1;
    } else if (!strcmp(a, "--track")) {
      ok = value && *value;
      o->track = value;
    } else if (!strcmp(a, "--robots")) {
      ok = parse_long_within(value, 1, max_slots, &n);
      o->robots = static_cast<int>(n);
    } else if (!strcmp(a, "--skill")) {
      ok = parse_skill(value, &o->skill);
    } else if (!strcmp(a, "--laps")) {
      ok = parse_long_within(value, 0, 1000, &n);
      o->laps = static_cast<int>(n);
    } else if (!strcmp(a, "--minutes")) {
      ok = parse_double_within(value, 0, 600, &o->minutes);
    } else if (!strcmp(a, "--limit-minutes")) {
      ok = parse_double_within(value, 0.001, 6000, &o->limit_minutes);
    } else if (!strcmp(a, "--seed")) {
      ok = parse_long_within(value, 0, 0x7fffffff, &o->seed);
    } else if (!strcmp(a, "--erode")) {
      ok = parse_double_within(value, 0, 100, &o->erode);
    } else if (!strcmp(a, "--record")) {
      ok = value && *value;
      o->record = value;
    } else if (!strcmp(a, "--play")) {
      ok = value && *value;
      o->play = value;
    } else if (!strcmp(a, "--expect-hash")) {
      ok = value && *value;
      o->expect_hash = value;
    } else if (!strcmp(a, "--home")) {
      ok = value && *value;
      o->home = value;
    } else if (!strcmp(a, "--connect")) {
      ok = value && *value;
      o->connect = value;
    } else if (!strcmp(a, "--password")) {
      ok = value != nullptr;
      o->password = value;
    } else if (!strcmp(a, "--name")) {
      ok = value && *value;
      o->name = value;
    } else if (!strcmp(a, "--number")) {
      ok = value && *value && strlen(value) <= 3;
      o->number = value;
    } else if (!strcmp(a, "--chat")) {
      ok = value && *value;
      o->chat = value;
    } else if (!strcmp(a, "--sendfile")) {
      ok = value && *value;
      o->sendfile = value;
    } else if (!strcmp(a, "--personality")) {
      ok = value && *value;
      o->personality = value;
    } else if (!strcmp(a, "--fake-lag")) {
      ok = parse_double_within(value, 0, 1000, &o->fake_lag);
      o->fake_lag *= 0.001;
    } else if (!strcmp(a, "--fake-loss")) {
      ok = parse_long_within(value, 0, 100, &o->fake_loss);
    } else if (!strcmp(a, "--join-timeout")) {
      ok = parse_double_within(value, 1, 3600, &o->join_timeout);
    } else if (!strcmp(a, "--series")) {
      ok = value && *value;
      o->series = value;
    } else if (!strcmp(a, "--command")) {
      ok = value && o->command_count < max_commands;
      if (ok) o->commands[o->command_count++] = value;
    } else {
      takes_value = false;
      if (!strcmp(a, "--simple-driver")) o->simple_driver = 1;
      else if (!strcmp(a, "--progress")) o->progress = 1;
      else if (!strcmp(a, "--no-progress")) o->progress = 0;
      else if (!strcmp(a, "--reset-points")) o->reset_points = 1;
      else if (!strcmp(a, "--demos")) o->demos = 1;
      else {
        fprintf(err, "torvane-race: unknown option '%s'\n", a);
        runner_usage(err);
        return 1;
      }
    }
    if (!ok) {
      fprintf(err, "torvane-race: bad or missing value for %s\n", a);
      return 1;
    }
    if (takes_value) i++;
  }
  if (o->connect && (o->record || o->play)) {
    fprintf(err, "torvane-race: --connect rides a server's race: no --record or --play\n");
    return 1;
  }
  if (o->series && (o->connect || o->play)) {
    fprintf(err, "torvane-race: --series runs a local event: no --connect or --play\n");
    return 1;
  }
  if (o->reset_points && !o->series) {
    fprintf(err, "torvane-race: --reset-points needs --series\n");
    return 1;
  }
  if (o->record && o->play) {
    fprintf(err, "torvane-race: --record and --play exclude each other\n");
    return 1;
  }
  if (o->laps == 0 && o->minutes <= 0) {
    fprintf(err, "torvane-race: a race needs laps or minutes\n");
    return 1;
  }
  if (o->progress < 0) o->progress = isatty(2) ? 1 : 0;
  return 0;
}
