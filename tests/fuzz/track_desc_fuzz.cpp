// A track's "desc" as the track list reads it: the first line becomes the
// display name, which must stay one line that fits its buffer.
// Seeds: the shipped tracks' files.
#include <sys/stat.h>

#include <cstring>

#include "fuzz_files.h"
#include "track/track.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string dir = fuzz_data_dir();
  static const bool made = [] {
    std::string track = dir + "/fuzztrack";
    if (mkdir(track.c_str(), 0755) != 0) abort();
    track_set_root((dir + "/").c_str());
    return true;
  }();
  (void)made;
  fuzz_write(dir + "/fuzztrack/desc", data, size);
  static const char *const files[] = {"fuzztrack/terrain.hf", nullptr};
  if (scan_tracks_from(files) != 1) __builtin_trap();
  const char *name = track_name(0);
  if (!name || strlen(name) >= 256 || strpbrk(name, "\r\n")) __builtin_trap();
  return 0;
}
