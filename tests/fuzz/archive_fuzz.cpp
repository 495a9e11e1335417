// Feeds bytes as a ".saf" archive, builds the index and reads every member.
#include <cstdint>
#include <cstring>

#include "assets/file.h"
#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &dir = fuzz_data_dir();
  fuzz_write(dir + "/fuzz.saf", data, size);
  file_layer_reset_for_tests();
  char path[1100];
  for (const char *const *name = file_list(); *name; name++) {
    snprintf(path, sizeof path, "@%s", *name);
    fuzz_drain(path);
  }
  char line[256];
  for (int i = 0; file_index_describe(i, line, sizeof line); i++) {
  }
  file_layer_reset_for_tests();
  return 0;
}
