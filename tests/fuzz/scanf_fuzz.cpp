// Differential check of dfile_scanf against the C library's fscanf: the
// first bytes pick a format from safe pieces, the rest is the text. Any
// difference in result, stored bytes or unread rest aborts.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "assets/file.h"
#include "fuzz_files.h"

namespace {

const char *const pieces[] = {
    "%d", "%i", "%o", "%u", "%x", "%X", "%f", "%lf", "%Lf", "%e", "%g", "%s", "%c", "%n", "%%", " ", "x", ",",
    "%*d", "%*f", "%*s", "%2d", "%3i", "%1x", "%4f", "%2f", "%3s", "%2c", "%[a-f0-9]", "%[^ ]", "%[]-]",
    "%[^,\n]", "%2[0-9.]", "%hd", "%hhd", "%ld", "%lld", "%hn", "%*c", "\n", "#", "%*[^\n]", "e", "%5c",
    "%[", "%[^", "%", "-", "]", "%*",
};
constexpr int piece_count = sizeof pieces / sizeof pieces[0];

// The C library's own fscanf: the sanitizer's scanf interceptor trips over
// some malformed formats that the library itself handles.
using ScanFunction = int (*)(FILE *, const char *, ...);
ScanFunction library_fscanf() {
  static ScanFunction real = reinterpret_cast<ScanFunction>(dlsym(RTLD_NEXT, "__isoc99_fscanf"));
  return real ? real : fscanf;
}

struct Slots {
  alignas(16) unsigned char slot[8][96];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  int parts = data[0] % 7 + 1;
  if (size < static_cast<size_t>(parts) + 1) return 0;
  std::string format;
  for (int i = 0; i < parts; i++) format += pieces[data[1 + i] % piece_count];
  const uint8_t *text = data + 1 + parts;
  size_t length = size - 1 - parts;
  if (length > 60) length = 60;  // every %s and %[ fits its 96-byte slot
  std::string path = fuzz_data_dir() + "/scan.txt";
  fuzz_write(path, text, length);

  FILE *c_file = fopen(path.c_str(), "rb");
  DataFile *d_file = dfile_open(path.c_str(), "rb");
  if (!c_file || !d_file) abort();
  Slots c_out, d_out;
  memset(&c_out, 0xa5, sizeof c_out);
  memset(&d_out, 0xa5, sizeof d_out);
  for (int round = 0; round < 2; round++) {
    unsigned char(*c)[96] = c_out.slot;
    unsigned char(*d)[96] = d_out.slot;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    int c_result = library_fscanf()(c_file, format.c_str(), c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
    int d_result = dfile_scanf(d_file, format.c_str(), d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
#pragma GCC diagnostic pop
    if (c_result != d_result || memcmp(&c_out, &d_out, sizeof c_out) != 0) {
      fprintf(stderr, "scanf differs: format \"%s\" round %d: %d vs %d\n", format.c_str(), round, c_result,
              d_result);
      abort();
    }
  }
  for (;;) {
    int a = fgetc(c_file), b = dfile_getc(d_file);
    if (a != (b < 0 ? EOF : b)) {
      fprintf(stderr, "scanf differs: format \"%s\": unread rest\n", format.c_str());
      abort();
    }
    if (a == EOF) break;
  }
  fclose(c_file);
  dfile_close(d_file);
  return 0;
}
