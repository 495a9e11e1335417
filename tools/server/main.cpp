// torvane-server: runs races for Torvane clients over UDP. No window, no
// sound, no input: it reads its configuration ("torvane-server.cfg" in the
// working directory, or --config FILE), takes command-line overrides, and logs
// one line per event to standard output until SIGINT or SIGTERM (or
// quit_after seconds).
#include <poll.h>
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/options.h"
#include "net/server.h"
#include "net/server_robots.h"

namespace {

// The signal that asked the server to stop, or 0.
volatile sig_atomic_t stop_requested = 0;
void on_signal(int number) { stop_requested = number; }

void warn(const char *line) {
  printf("Warning: %s\n", line);
  fflush(stdout);
}

double monotonic_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The whole file as text, or null.
char *read_file(const char *path) {
  FILE *f = fopen(path, "rb");
  if (!f) return nullptr;
  size_t size = 0, capacity = 4096;
  char *text = static_cast<char *>(malloc(capacity));
  size_t n;
  while (text && (n = fread(text + size, 1, capacity - size - 1, f)) > 0) {
    size += n;
    if (size + 1 == capacity) {
      if (capacity > (1u << 24)) break;  // no configuration is this large
      char *bigger = static_cast<char *>(realloc(text, capacity * 2));
      if (!bigger) break;
      text = bigger;
      capacity *= 2;
    }
  }
  fclose(f);
  if (text) text[size] = 0;
  return text;
}

void usage() {
  printf(
      "Usage: torvane-server [OPTION]...\n"
      "The Torvane race server: riders join over UDP, race the configured tracks in\n"
      "turn, and see each other, the timing and the chat. It logs to standard output.\n"
      "\n"
      "  -h, --help              show this text and exit\n"
      "      --version           show the version and exit\n"
      "      --config FILE       read the configuration from FILE (default\n"
      "                          \"torvane-server.cfg\" in the working folder, when there)\n"
      "      --print-config      print the commented default configuration and exit\n"
      "      --bind HOST         address to listen on (default every interface)\n"
      "      --port N            UDP port\n"
      "      --password TEXT     riders must give this password\n"
      "      --track DIR         a track of the rotation (repeat for more)\n"
      "      --laps N            laps of a race\n"
      "      --minutes M         race length in minutes (0: laps only)\n"
      "      --max-riders N      riders at once, 1..160\n"
      "      --gate-delay S      seconds from the race start to the gate drop\n"
      "      --results-wait S    seconds between the end of a race and the next\n"
      "      --race-limit M      minutes after which a race ends regardless\n"
      "      --client-timeout S  seconds of silence before a rider is dropped\n"
      "      --erode N           ruts: erosion amount sent at each race (0: off)\n"
      "      --knockout \"T1 T2\"  extra crash times in tics\n"
      "      --tracks-dir DIR    where the tracks' \"DIR.trackinfo\" files are\n"
      "      --motd TEXT         chat line for every new rider\n"
      "      --quit-after S      stop after S seconds (0: run until stopped)\n"
      "      --robots N          robot riders in every race, from the game data\n"
      "      --robot-skill 0..2  their lines: novice, amateur, expert\n"
      "      --home DIR          folder for the game data's user files (robot lines)\n"
      "      --accept-files DIR  keep files riders send (sendfile) in DIR\n"
      "      --max-file-size BYTES, --max-files N  limits on those files\n"
      "Options taking a value also accept OPTION=VALUE. SIGINT or SIGTERM stops it.\n");
}

RaceServer server;  // lives for the process

}  // namespace

int main(int argc, char **argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  const char *config_path = nullptr;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      usage();
      return 0;
    }
    if (strcmp(argv[i], "--version") == 0) {
      printf("torvane-server %s\n", torvane_version);
      return 0;
    }
    if (strcmp(argv[i], "--print-config") == 0) {
      fputs(server_config_default_text(), stdout);
      return 0;
    }
    if (strcmp(argv[i], "--config") == 0 && i + 1 < argc) config_path = argv[i + 1];
    if (strncmp(argv[i], "--config=", 9) == 0) config_path = argv[i] + 9;
  }

  ServerConfig config;
  server_config_defaults(&config);
  const char *path = config_path ? config_path : "torvane-server.cfg";
  if (char *text = read_file(path)) {
    printf("Reading %s\n", path);
    server_config_read(&config, text, warn);
    free(text);
  } else if (config_path) {
    printf("Can't read %s\n", config_path);
    return 1;
  }
  int status = server_config_arguments(&config, argc, argv, warn);
  if (status >= 0) {
    usage();
    return status;
  }
  server_config_track_info(&config, warn);
  // The game data gives the robots their bikes and tracks, and the tracks
  // their hashes when no .trackinfo file did.
  bool need_data = config.robots > 0;
  for (int i = 0; i < config.track_count; i++) need_data |= !config.tracks[i].have_hash;
  if (need_data) {
    if (server_open_data(config.home))
      server_data_track_info(&config, warn);
    else
      warn("No game data found");
  }

  struct sigaction action = {};
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!server_start(&server, &config, monotonic_seconds())) return 1;
  while (!stop_requested && server_run(&server, monotonic_seconds())) {
    // Wake for the next datagram or the next state send, whichever is first.
    pollfd p = {server.socket, POLLIN, 0};
    poll(&p, 1, 2);
  }
  // A service manager stops the server with SIGTERM: the race ends, the
  // riders are told, and the status is 0 as for any planned stop.
  if (stop_requested) server_say(&server, "Stopping on %s", stop_requested == SIGTERM ? "SIGTERM" : "SIGINT");
  server_stop(&server);
  return 0;
}
