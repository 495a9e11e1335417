// A track's robot line files ("lines_novice", "lines_amateur",
// "lines_expert"). Input: a "timing_gates" file up to the first zero byte
// (it decides the number of line slots), then the lines file. What is read
// is written, read back and written again: both writes must agree, and
// every kept record must have its points.
// Seeds: a shipped track's gates with the start of its lines file.
#include <cmath>
#include <cstring>
#include <string>

#include "fuzz_files.h"
#include "robot/lines.h"
#include "track/gates.h"

namespace {
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
  static const std::string dir = fuzz_data_dir();
  static const std::string gates = dir + "/timing_gates", copy = dir + "/lines_copy";
  const uint8_t *split = static_cast<const uint8_t *>(memchr(data, 0, size));
  if (!split) return 0;
  fuzz_write(gates, data, static_cast<size_t>(split - data));
  DataFile *f = dfile_open(gates.c_str(), "rb");
  if (!f) abort();
  timing_gates_read(f, 0);
  dfile_close(f);
  clear_lines();
  std::string text(reinterpret_cast<const char *>(split + 1), static_cast<size_t>(data + size - split - 1));
  if (!read_lines_text(text.c_str(), static_cast<long>(text.size()))) return 0;
  for (int s = 0; s < line_slot_count(); s++)
    for (int k = 0; k < line_in_use_count(s); k++) {
      const Line *l = line_record(s, k);
      if (!l || !l->points || l->point_count <= 0) __builtin_trap();
      volatile double cost = line_cost(l, 0);
      (void)cost;
    }
  if (!write_lines_file(copy.c_str())) abort();
  std::string first = slurp(copy);
  clear_lines();
  if (!read_lines_text(first.c_str(), static_cast<long>(first.size()))) __builtin_trap();
  if (!write_lines_file(copy.c_str())) abort();
  if (slurp(copy) != first) __builtin_trap();
  clear_lines();
  return 0;
}
