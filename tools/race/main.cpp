// torvane-race: runs a race without a window or sound, as fast as the
// machine allows, and prints the results, the simulated and the wall time,
// their ratio and a hash of the final state. It records a demo of the race,
// or plays one back and checks the hash, so any demo can serve as a
// regression test. The last lines are a summary for scripts, one item a
// line.
#include <time.h>
#include <unistd.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/config.h"
#include "app/types.h"
#include "assets/file.h"
#include "race/race.h"
#include "race/running_order.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "runner/runner.h"
#include "track/gates.h"
#include "track/track.h"

namespace {

struct Options {
  const char *track = "rabbithill";
  int robots = 10;
  int skill = 2;
  int laps = 3;
  double minutes = 0;       // race length in time; 0 = laps only
  double limit_minutes = 30;  // simulated time after which the run stops regardless
  long seed = 0;
  double erode = 0;  // as the game's --erode: ruts when above 0
  const char *record = nullptr;
  const char *play = nullptr;
  const char *expect_hash = nullptr;
  const char *home = nullptr;
  int simple_driver = 0;
  int progress = -1;  // -1: when standard error is a terminal
};

void usage(FILE *out) {
  fprintf(out,
          "Usage: torvane-race [--track DIR] [--robots N] [--skill novice|amateur|expert|0..2]\n"
          "                    [--laps N] [--minutes M] [--limit-minutes M] [--seed N] [--erode R]\n"
          "                    [--simple-driver] [--record FILE] [--play FILE] [--expect-hash HEX]\n"
          "                    [--home DIR] [--progress|--no-progress]\n"
          "Runs a race with robot riders and no window, as fast as possible, and prints\n"
          "the results and a summary (riders finished, simulated and wall seconds, the\n"
          "real-time ratio and the hash of the final state). --play replays a demo and\n"
          "with --expect-hash checks its final state. --erode sets the erosion rate as\n"
          "the game's option does (0 to 100; 0, the default, leaves no ruts).\n");
}

double monotonic_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

bool parse_long(const char *text, long low, long high, long *out) {
  if (!text || !*text) return false;
  char *end = nullptr;
  long v = strtol(text, &end, 10);
  if (*end || v < low || v > high) return false;
  *out = v;
  return true;
}

bool parse_double(const char *text, double low, double high, double *out) {
  if (!text || !*text) return false;
  char *end = nullptr;
  double v = strtod(text, &end);
  if (*end || !std::isfinite(v) || v < low || v > high) return false;
  *out = v;
  return true;
}

bool parse_skill(const char *text, int *out) {
  static const char *const names[] = {"novice", "amateur", "expert"};
  for (int k = 0; k < 3; k++)
    if (text && strcasecmp(text, names[k]) == 0) {
      *out = k;
      return true;
    }
  long v;
  if (!parse_long(text, 0, 2, &v)) return false;
  *out = static_cast<int>(v);
  return true;
}

// Returns 0 to go on, else the exit status (1 for a bad command line).
int parse_options(int argc, char **argv, Options *o) {
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
    long n;
    bool ok = true, takes_value = true;
    if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
      usage(stdout);
      return -1;
    } else if (!strcmp(a, "--track")) {
      ok = value && *value;
      o->track = value;
    } else if (!strcmp(a, "--robots")) {
      ok = parse_long(value, 1, max_slots, &n);
      o->robots = static_cast<int>(n);
    } else if (!strcmp(a, "--skill")) {
      ok = parse_skill(value, &o->skill);
    } else if (!strcmp(a, "--laps")) {
      ok = parse_long(value, 0, 1000, &n);
      o->laps = static_cast<int>(n);
    } else if (!strcmp(a, "--minutes")) {
      ok = parse_double(value, 0, 600, &o->minutes);
    } else if (!strcmp(a, "--limit-minutes")) {
      ok = parse_double(value, 0.001, 6000, &o->limit_minutes);
    } else if (!strcmp(a, "--seed")) {
      ok = parse_long(value, 0, 0x7fffffff, &o->seed);
    } else if (!strcmp(a, "--erode")) {
      ok = parse_double(value, 0, 100, &o->erode);
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
    } else {
      takes_value = false;
      if (!strcmp(a, "--simple-driver")) o->simple_driver = 1;
      else if (!strcmp(a, "--progress")) o->progress = 1;
      else if (!strcmp(a, "--no-progress")) o->progress = 0;
      else {
        fprintf(stderr, "torvane-race: unknown option '%s'\n", a);
        usage(stderr);
        return 1;
      }
    }
    if (!ok) {
      fprintf(stderr, "torvane-race: bad or missing value for %s\n", a);
      return 1;
    }
    if (takes_value) i++;
  }
  if (o->record && o->play) {
    fprintf(stderr, "torvane-race: --record and --play exclude each other\n");
    return 1;
  }
  if (o->laps == 0 && o->minutes <= 0) {
    fprintf(stderr, "torvane-race: a race needs laps or minutes\n");
    return 1;
  }
  if (o->progress < 0) o->progress = isatty(2) ? 1 : 0;
  return 0;
}

// Copies the finished default demo to the file asked for, through a
// temporary file renamed into place.
bool keep_demo(const char *target) {
  DataFile *in = dfile_open(default_demo_path, "rb");
  if (!in) return false;
  char temp[4096];
  if (snprintf(temp, sizeof temp, "%s.tmp", target) >= static_cast<int>(sizeof temp)) {
    dfile_close(in);
    return false;
  }
  FILE *out = fopen(temp, "wb");
  if (!out) {
    dfile_close(in);
    return false;
  }
  static char buffer[65536];
  bool ok = true;
  for (;;) {
    int got = dfile_read(in, buffer, sizeof buffer);
    if (got <= 0) break;
    ok &= fwrite(buffer, 1, static_cast<size_t>(got), out) == static_cast<size_t>(got);
  }
  dfile_close(in);
  ok &= fclose(out) == 0;
  if (!ok || rename(temp, target) != 0) {
    remove(temp);
    return false;
  }
  return true;
}

int count_bikes(int *finished) {
  int n = 0;
  *finished = 0;
  for (int i = 0; i < max_slots; i++) {
    const Slot *s = race_slot(i);
    if (!s->bike) continue;
    n++;
    if (s->timing.finished) (*finished)++;
  }
  return n;
}

// Whether every played rider's history has run out at tic.
bool playback_done(int tic) {
  for (int i = 0; i < max_slots; i++) {
    const Slot *s = race_slot(i);
    if (s->bike && s->drive_mode == drive_history && history_newest_tic(i) > tic) return false;
  }
  return true;
}

void print_results() {
  const RaceState &race = race_state();
  printf("%-4s %-4s %-4s %-16s %-4s %-10s %s\n", "Pos", "Slot", "No.", "Bike", "Laps", "Time", "Finished");
  for (int k = 0; k < race.running_count; k++) {
    const RunningEntry &e = race.running_order[k];
    const Slot *s = race_slot(e.slot);
    if (!s->bike) continue;
    int laps = race.normal_lap_length > 0 && e.position >= race.first_lap_length
                   ? 1 + (e.position - race.first_lap_length) / race.normal_lap_length
                   : 0;
    double t = e.tic > 0 ? (e.tic - race.gate_drop_tic) * seconds_per_tic : 0;
    printf("%-4d %-4d %-4s %-16s %-4d %10.3f %s\n", k + 1, e.slot, s->number, s->bike_model ? s->bike_model : "",
           laps, t, s->timing.finished ? "yes" : "no");
  }
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  int status = parse_options(argc, argv, &o);
  if (status) return status < 0 ? 0 : status;
  if (!runner_open_data(o.home)) return 1;

  GameSettings &g = game_settings();
  if (!o.play && !select_choice(&g.track, o.track)) {
    fprintf(stderr, "torvane-race: no track '%s'\n", o.track);
    return 1;
  }
  race_options().erode_rate = static_cast<int>(std::floor(o.erode * 1024.0));
  // The race seeds the shared generator with the tic counter at its reset.
  race_state().tic = static_cast<int>(o.seed);
  int ok;
  if (o.play) {
    DemoHeader header;
    const char *error = nullptr;
    if (!demo_read_header(o.play, &header, &error)) {
      fprintf(stderr, "torvane-race: %s: %s\n", o.play, error ? error : "not a demo");
      return 1;
    }
    demo_choose_file(o.play);
    int kinds[max_slots] = {};
    ok = race_reset(kinds, 1, 0, 0, 10, o.skill);
  } else {
    int kinds[max_slots] = {};
    for (int i = 0; i < o.robots; i++) kinds[i] = slot_kind_robot;
    int finish_time = static_cast<int>(o.minutes * 60 * tics_per_second);
    ok = race_reset(kinds, 0, o.record != nullptr, finish_time, o.laps, o.skill);
  }
  if (!ok) {
    fprintf(stderr, "torvane-race: the track could not be loaded\n");
    return 1;
  }
  RaceState &race = race_state();
  int finished = 0;
  int riders = count_bikes(&finished);
  fprintf(stderr, "torvane-race: %s, %d riders, %s\n", current_track_dir(), riders,
          o.play ? "playing a demo" : o.simple_driver ? "simple driver" : "auto pilot");

  long limit = static_cast<long>(o.limit_minutes * 60 * tics_per_second);
  long tics = 0;
  uint64_t trace = state_hash_start;
  double wall_start = monotonic_seconds(), cpu_start = cpu_seconds(), shown = wall_start;
  // A recording runs on to a tic whose states chunk is written, so the
  // demo ends exactly where the run does.
  // Played back, the final state is taken before the step that poses the
  // last recorded tic: the ground is then as the recording left it (that
  // step would drain the erode queue once more).
  uint64_t final_hash = 0;
  bool have_final = false;
  for (;;) {
    if (o.play) {
      if (tics >= limit) break;
      if (!have_final && playback_done(race.tic)) {
        final_hash = race_state_hash(race.tic);
        have_final = true;
      }
    } else {
      bool over = race.results_final || tics >= limit;
      if (over && race.tic % 16 == 0) break;
    }
    if (o.simple_driver)
      for (int i = 0; i < max_slots; i++)
        if (race_slot(i)->drive_mode == drive_robot) simple_driver_tic(i);
    race_step();
    tics++;
    // The demo writer packs every fourth tic after the step; playback poses
    // at the tic before the step's increment. Both fold the same states.
    int stamp = o.play ? race.tic - 1 : race.tic;
    if (stamp > 0 && stamp % 4 == 0) {
      trace = hash_bytes(trace, &stamp, sizeof stamp);
      trace = bikes_position_hash(trace);
    }
    if (o.play && playback_done(race.tic - 1)) break;
    if (o.progress && (tics & 127) == 0) {
      double now = monotonic_seconds();
      if (now - shown >= 0.25) {
        shown = now;
        double sim = tics * seconds_per_tic;
        fprintf(stderr, "\rtic %ld  simulated %.1f s  wall %.1f s  ratio %.2f  ", tics, sim, now - wall_start,
                sim / (now - wall_start));
      }
    }
  }
  double wall = monotonic_seconds() - wall_start, cpu = cpu_seconds() - cpu_start;
  if (o.progress) fprintf(stderr, "\n");
  uint64_t hash = have_final ? final_hash : race_state_hash(o.play ? race.tic - 1 : -1);

  if (o.record) {
    demo_close_write();
    if (!keep_demo(o.record)) {
      fprintf(stderr, "torvane-race: could not write %s\n", o.record);
      return 1;
    }
  }
  print_results();
  riders = count_bikes(&finished);
  double simulated = tics * seconds_per_tic;
  printf("trace hash: %016" PRIx64 "\n", trace);
  printf("cpu seconds: %.3f\n", cpu);
  printf("cpu real-time ratio: %.2f\n", cpu > 0 ? simulated / cpu : 0.0);
  printf("riders finished: %d of %d\n", finished, riders);
  printf("simulated seconds: %.3f\n", simulated);
  printf("wall seconds: %.3f\n", wall);
  printf("real-time ratio: %.2f\n", wall > 0 ? simulated / wall : 0.0);
  printf("state hash: %016" PRIx64 "\n", hash);
  fflush(stdout);
  race_free_bikes();
  demo_close_read();

  if (o.expect_hash) {
    uint64_t expected = strtoull(o.expect_hash, nullptr, 16);
    if (expected != hash) {
      fprintf(stderr, "torvane-race: state hash mismatch: expected %016" PRIx64 ", got %016" PRIx64 "\n", expected,
              hash);
      return 1;
    }
  }
  return 0;
}
