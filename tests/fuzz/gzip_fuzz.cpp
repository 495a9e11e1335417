// Feeds bytes as gzip data: a loose "x.txt.gz" and the same bytes as the
// ".gz" member of an archive between two other members.
#include <cstdint>
#include <cstring>
#include <string>

#include "assets/file.h"
#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &dir = fuzz_data_dir();
  fuzz_write(dir + "/x.txt.gz", data, size);
  std::string archive = "3 a.txt\n" + std::to_string(size) + " y.txt.gz\n3 z.txt\n-\nabc";
  archive.append(reinterpret_cast<const char *>(data), size);
  archive += "xyz";
  fuzz_write(dir + "/m.saf", archive.data(), archive.size());
  file_layer_reset_for_tests();
  file_list();
  fuzz_drain("@x.txt");
  fuzz_drain("@y.txt");
  // The members around the compressed one must be untouched by it.
  DataFile *z = dfile_open("@z.txt", "rb");
  char text[8] = {};
  if (!z || dfile_read(z, text, sizeof text) != 3 || strcmp(text, "xyz") != 0) abort();
  dfile_close(z);
  file_layer_reset_for_tests();
  return 0;
}
