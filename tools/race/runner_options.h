// torvane-race's command line, apart from its main so that the fuzz targets
// and tests can run the parser alone.
#pragma once
#include <cstdio>

constexpr int max_commands = 64;

struct RunnerOptions {
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
  // Online.
  const char *connect = nullptr;
  const char *password = nullptr;
  const char *name = nullptr;
  const char *number = nullptr;
  const char *chat = nullptr;
  const char *sendfile = nullptr;  // a file of "@outgoing/" to send once in the race
  const char *personality = "ardo";
  double fake_lag = 0;  // seconds
  long fake_loss = 0;   // percent
  double join_timeout = 60;  // wall seconds to get into a race
  // Series and console.
  const char *series = nullptr;
  int reset_points = 0;
  int demos = 0;  // the "Record Demo" setting: races recorded under the home's demos/
  const char *commands[max_commands];
  int command_count = 0;
};

// The usage text: every option with what it does.
void runner_usage(FILE *out);
// Parses argv into `o`: 0 to go on, -1 after --help (exit 0), else the exit
// status (1, the message written to `err`).
int parse_runner_options(int argc, char **argv, RunnerOptions *o, FILE *err);
