// Fuzz helper: the input written to a scratch file and opened through the
// file layer, so the readers see it exactly as they see a track file.
//
// To give libFuzzer coverage of the library too, configure with
//   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DTORVANE_FUZZ=ON \
//     -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined"
// and start from the seeds, e.g.
//   build-fuzz/fuzz/gates_fuzz -max_total_time=300 tests/fuzz/corpus/gates
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "assets/file.h"

inline std::string fuzz_scratch_path(const char *name) {
  const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(base) + "/torvane-fuzz-" + std::to_string(getpid()) + "-" + name;
}

inline bool fuzz_write(const std::string &path, const uint8_t *data, size_t size) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(data, 1, size, f) == size;
  return fclose(f) == 0 && ok;
}

inline DataFile *fuzz_open(const std::string &path, const uint8_t *data, size_t size) {
  if (!fuzz_write(path, data, size)) return nullptr;
  return dfile_open(path.c_str(), "rb");
}
