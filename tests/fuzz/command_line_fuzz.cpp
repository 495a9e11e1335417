// The command lines of the game, the race server and the race runner. Input:
// the first byte picks the program, the rest are its arguments separated by
// zero bytes. Each parser must end with a status (or go on) and leave what
// it parsed in range.
// Seeds: the command lines the README and the tests use.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/options.h"
#include "net/server.h"
#include "runner_options.h"

namespace {
void quiet(const char *) {}
FILE *null_file() {
  static FILE *f = fopen("/dev/null", "w");
  return f;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool quiet_stdout = [] {
    // --help writes its usage to standard output; libFuzzer reports on standard error.
    int fd = open("/dev/null", O_WRONLY);
    if (fd >= 0) dup2(fd, 1);
    return true;
  }();
  (void)quiet_stdout;
  if (size < 1) return 0;
  std::vector<std::string> words = {"program"};
  std::string word;
  for (size_t i = 1; i < size && words.size() < 64; i++) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  if (!word.empty() && words.size() < 64) words.push_back(word);
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(words.size());

  switch (data[0] % 3) {
    case 0: {
      ProgramSettings s;
      int status = parse_command_line(argc, argv.data(), &s, null_file());
      if (status < -1 || status > 1) __builtin_trap();
      if (s.texture_detail > 4 || s.ground_texture_detail > 4 || s.roost_frequency > 1000) __builtin_trap();
      break;
    }
    case 1: {
      static ServerConfig c;
      server_config_defaults(&c);
      int status = server_config_arguments(&c, argc, argv.data(), quiet);
      if (status < -1 || status > 1) __builtin_trap();
      if (c.track_count < 0 || c.track_count > server_max_tracks || c.max_riders < 1 || c.max_riders > 160)
        __builtin_trap();
      break;
    }
    case 2: {
      RunnerOptions o;
      int status = parse_runner_options(argc, argv.data(), &o, null_file());
      if (status < -1 || status > 1) __builtin_trap();
      if (status == 0 && (o.robots < 1 || o.robots > 160 || o.command_count < 0 || o.command_count > max_commands))
        __builtin_trap();
      break;
    }
  }
  return 0;
}
