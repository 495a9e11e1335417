// Shared by the file-layer fuzz targets: one scratch data directory for the
// whole run, and a reader that drains a DataFile through every operation.
#pragma once
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "assets/file.h"

inline std::string &fuzz_dir_name() {
  static std::string name;
  return name;
}

inline void fuzz_remove_dir() {
  std::string command = "rm -rf '" + fuzz_dir_name() + "'";
  if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", fuzz_dir_name().c_str());
}

// A scratch directory used as QX_HOME (home points at a directory that is
// never created), made once per process and removed at exit.
inline const std::string &fuzz_data_dir() {
  static std::string dir = [] {
    // tmpfs when there is one: the targets rewrite their files every run.
    char pattern[] = "/dev/shm/torvane-fuzz-XXXXXX";
    if (access("/dev/shm", W_OK) != 0) memcpy(pattern, "/tmp/torvane-fuzz-XXXXXX", sizeof "/tmp/torvane-fuzz-XXXXXX");
    const char *made = mkdtemp(pattern);
    if (!made) abort();
    std::string d = made;
    setenv("QX_HOME", d.c_str(), 1);
    setenv("XDG_DATA_HOME", (d + "/no-home").c_str(), 1);
    fuzz_dir_name() = d;
    atexit(fuzz_remove_dir);
    return d;
  }();
  return dir;
}

inline void fuzz_write(const std::string &path, const void *data, size_t size) {
  FILE *out = fopen(path.c_str(), "wb");
  if (!out) abort();
  if (size) fwrite(data, 1, size, out);
  fclose(out);
}

// Reads the whole file through getc, gets, read, scanf and seek; the
// operations must agree on the data and never run past its end.
inline void fuzz_drain(const char *path) {
  DataFile *file = dfile_open(path, "rb");
  if (!file) return;
  long by_getc = 0;
  while (dfile_getc(file) >= 0) by_getc++;
  dfile_close(file);

  file = dfile_open(path, "rb");
  if (!file) abort();
  char block[97];
  long by_read = 0;
  for (int n; (n = dfile_read(file, block, sizeof block)) > 0;) by_read += n;
  if (by_read != by_getc) abort();
  if (dfile_seek(file, 0)) {
    long by_gets = 0;
    while (dfile_gets(file, block, sizeof block)) by_gets += static_cast<long>(strlen(block));
    if (by_gets > by_getc) abort();
  }
  dfile_close(file);

  file = dfile_open(path, "rb");
  if (!file) abort();
  int number, count;
  float value;
  char word[64];
  for (int guard = 0; guard < 10000; guard++) {
    dfile_skip_comments(file);
    count = 0;
    int got = dfile_scanf(file, "%d %f %63s%n", &number, &value, word, &count);
    if (got < 0) break;
    if (got == 0 && dfile_getc(file) < 0) break;
  }
  dfile_close(file);
}
