// Shared by the race fuzz targets: the game data is the tiny ring track of
// tests/fuzz/tracks (a flat 256 ft field, four grid places, a ring of six
// gates and one just past the grid so that timing comes soon after the
// start) and the built-in bikes, copied into the scratch data directory once
// per process.
// The seeds were recorded from torvane-server and torvane-race on this same
// track (scripts/race_fuzz_seeds.sh), so their track hash matches.
#pragma once
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_files.h"
#include "platform/log.h"

#ifndef TORVANE_SOURCE_DIR
#error "the race fuzz targets read their track from the source tree"
#endif

inline constexpr const char *race_fuzz_track = "tiny";

// Copies the track into the scratch data directory and returns the home
// folder to open the data with (the client as torvane-race does, the server
// as torvane-server does); aborts when the track is missing, since every run
// would then test nothing.
inline std::string race_fuzz_write_track() {
  const std::string &dir = fuzz_data_dir();
  // The log goes nowhere: the race logs every reset.
  hovl_log("HOVL_LOGFILE=/dev/null");
  std::string track = dir + "/" + race_fuzz_track;
  mkdir(track.c_str(), 0777);
  for (const char *name : {"desc", "shadingx2.ppm.gz", "terrain.hf.gz", "tileinfo", "tilemap.gz", "timing_gates"}) {
    std::string from = std::string(TORVANE_SOURCE_DIR "/tests/fuzz/tracks/") + race_fuzz_track + "/" + name;
    FILE *in = fopen(from.c_str(), "rb");
    if (!in) {
      fprintf(stderr, "race fuzz: can't read %s\n", from.c_str());
      abort();
    }
    std::string bytes;
    char block[4096];
    for (size_t n; (n = fread(block, 1, sizeof block, in)) > 0;) bytes.append(block, n);
    fclose(in);
    fuzz_write(track + "/" + name, bytes.data(), bytes.size());
  }
  return dir + "/home";
}
