#include "track/scan_local.h"

#include "app/alloc.h"
#include "assets/file.h"

namespace track_scan {

char *read_text(DataFile *file, int max_bytes, int *truncated) {
  int capacity = 4096, size = 0;
  char *text = static_cast<char *>(alloc_or_die(capacity + 1));
  *truncated = 0;
  for (;;) {
    if (size == capacity) {
      if (capacity >= max_bytes) {
        *truncated = dfile_getc(file) >= 0;
        break;
      }
      capacity = capacity * 2 < max_bytes ? capacity * 2 : max_bytes;
      text = static_cast<char *>(realloc_or_die(text, capacity + 1));
    }
    int got = dfile_read(file, text + size, capacity - size);
    if (got <= 0) break;
    size += got;
  }
  text[size] = 0;
  return text;
}

}  // namespace track_scan
