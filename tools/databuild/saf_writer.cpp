// The main data archive (".saf"): a text header of "<size> <name>\n" lines
// ended by "-\n", then the member data back to back in header order.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "databuild.h"

namespace databuild {

void bytes_append(Bytes *out, const void *data, size_t count) {
  const unsigned char *p = static_cast<const unsigned char *>(data);
  out->data.insert(out->data.end(), p, p + count);
}

void bytes_printf(Bytes *out, const char *format, ...) {
  char buffer[4096];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  if (n < static_cast<int>(sizeof buffer)) {
    bytes_append(out, buffer, static_cast<size_t>(n));
    return;
  }
  std::vector<char> big(static_cast<size_t>(n) + 1);
  va_start(args, format);
  vsnprintf(big.data(), big.size(), format, args);
  va_end(args);
  bytes_append(out, big.data(), static_cast<size_t>(n));
}

void archive_add(Archive *archive, const std::string &name, Bytes bytes) {
  // A name given twice would leave a dead member; the later one replaces it.
  for (size_t i = 0; i < archive->names.size(); i++)
    if (archive->names[i] == name) {
      archive->members[i] = std::move(bytes);
      return;
    }
  archive->names.push_back(name);
  archive->members.push_back(std::move(bytes));
}

Bytes archive_image(const Archive *archive) {
  Bytes out;
  for (size_t i = 0; i < archive->names.size(); i++)
    bytes_printf(&out, "%zu %s\n", archive->members[i].data.size(), archive->names[i].c_str());
  bytes_printf(&out, "-\n");
  for (const Bytes &member : archive->members) bytes_append(&out, member.data.data(), member.data.size());
  return out;
}

int write_file_atomic(const char *path, const Bytes &bytes) {
  std::string temp = std::string(path) + ".tmp";
  FILE *f = fopen(temp.c_str(), "wb");
  if (!f) {
    fprintf(stderr, "Can't write %s\n", temp.c_str());
    return 0;
  }
  size_t written = fwrite(bytes.data.data(), 1, bytes.data.size(), f);
  int closed = fclose(f);
  if (written != bytes.data.size() || closed != 0 || rename(temp.c_str(), path) != 0) {
    fprintf(stderr, "Can't write %s\n", path);
    remove(temp.c_str());
    return 0;
  }
  return 1;
}

}  // namespace databuild
