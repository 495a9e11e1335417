// The configuration reader on arbitrary bytes. Besides not crashing, what it
// accepted must survive a write and a read unchanged: writing, reading that
// back into defaults and writing again gives the same text.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/config.h"

namespace {

std::string scratch_path(const char *tag) {
  char pattern[64];
  snprintf(pattern, sizeof pattern, "/tmp/torvane-fuzz-%s-XXXXXX", tag);
  int fd = mkstemp(pattern);
  if (fd < 0) abort();
  close(fd);
  return pattern;
}

std::string slurp(const std::string &path) {
  std::string text;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) abort();
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string input = scratch_path("in");
  static const std::string output = scratch_path("out");
  FILE *f = fopen(input.c_str(), "wb");
  if (!f) abort();
  fwrite(data, 1, size, f);
  fclose(f);

  config_set_defaults();
  read_config(input.c_str());
  if (!write_config(output.c_str())) abort();
  std::string first = slurp(output);
  config_set_defaults();
  read_config(output.c_str());
  if (!write_config(output.c_str())) abort();
  if (slurp(output) != first) abort();
  return 0;
}
