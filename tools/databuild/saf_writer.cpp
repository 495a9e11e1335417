// The main data archive (".saf"): a text header of "<size> <name>\n" lines
// ended by "-\n", then the member data back to back in header order. Large
// members go in gzip-compressed under their name plus ".gz", which the
// game's file layer reads as the plain file.
#include <zlib.h>

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

void archive_add_compressed(Archive *archive, const std::string &name, const Bytes &bytes) {
  // A gzip stream with no name and a zero time stamp: the same input always
  // gives the same bytes.
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
    archive_add(archive, name, bytes);
    return;
  }
  Bytes out;
  out.data.resize(deflateBound(&z, static_cast<uLong>(bytes.data.size())) + 64);
  z.next_in = const_cast<Bytef *>(bytes.data.data());
  z.avail_in = static_cast<uInt>(bytes.data.size());
  z.next_out = out.data.data();
  z.avail_out = static_cast<uInt>(out.data.size());
  int result = deflate(&z, Z_FINISH);
  out.data.resize(z.total_out);
  deflateEnd(&z);
  if (result != Z_STREAM_END) {
    archive_add(archive, name, bytes);
    return;
  }
  archive_add(archive, name + ".gz", std::move(out));
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
