// The race server's configuration file and the ".trackinfo" files it reads
// for its tracks. Input: the configuration text up to the first zero byte,
// then the text of the ".trackinfo" of one more track, "fuzztrack". What is
// read must keep every value in its range and every text terminated.
// Seeds: the shipped configuration and a written ".trackinfo".
#include <cstring>
#include <string>

#include "fuzz_files.h"
#include "net/server.h"

namespace {
void quiet(const char *) {}

bool terminated(const char *text, size_t size) { return memchr(text, 0, size) != nullptr; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string dir = fuzz_data_dir();
  const uint8_t *split = static_cast<const uint8_t *>(memchr(data, 0, size));
  size_t text_size = split ? static_cast<size_t>(split - data) : size;
  std::string text(reinterpret_cast<const char *>(data), text_size);
  const uint8_t *rest = split ? split + 1 : data + size;
  fuzz_write(dir + "/fuzztrack.trackinfo", rest, static_cast<size_t>(data + size - rest));

  static ServerConfig c;
  server_config_defaults(&c);
  server_config_read(&c, text.c_str(), quiet);
  server_config_read(&c, "track = fuzztrack", quiet);
  snprintf(c.tracks_dir, sizeof c.tracks_dir, "%s", dir.c_str());
  server_config_track_info(&c, quiet);

  if (c.track_count < 0 || c.track_count > server_max_tracks) __builtin_trap();
  if (c.max_riders < 1 || c.max_riders > 160 || c.robots < 0 || c.robots > 160) __builtin_trap();
  if (c.robot_skill < 0 || c.robot_skill > 2 || c.port < 0 || c.port > 65535) __builtin_trap();
  for (const char *t : {c.bind, c.password, c.knockout, c.tracks_dir, c.motd, c.home, c.accept_files})
    if (!terminated(t, server_text_size)) __builtin_trap();
  for (int i = 0; i < c.track_count; i++) {
    const ServerTrack &t = c.tracks[i];
    if (!terminated(t.dir, sizeof t.dir) || t.first_lap < 0 || t.normal_lap < 0) __builtin_trap();
  }
  return 0;
}
