// Placeholder until the file layer lands.
#include "assets/file.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct DataFile { FILE *stream; };
const char *data_directory(int) { return nullptr; }
DataFile *dfile_open(const char *path, const char *mode) {
  if (path[0] == '@') return nullptr;
  FILE *f = fopen(path, mode);
  if (!f) return nullptr;
  DataFile *d = static_cast<DataFile *>(calloc(1, sizeof(DataFile)));
  d->stream = f;
  return d;
}
void dfile_close(DataFile *file) { if (file) { fclose(file->stream); free(file); } }
int dfile_getc(DataFile *file) { return fgetc(file->stream); }
int dfile_peekc(DataFile *file) { int c = fgetc(file->stream); if (c >= 0) ungetc(c, file->stream); return c; }
char *dfile_gets(DataFile *file, char *buffer, int size) { return fgets(buffer, size, file->stream); }
int dfile_read(DataFile *file, void *buffer, int count) { return static_cast<int>(fread(buffer, 1, count, file->stream)); }
int dfile_vscanf(DataFile *file, const char *format, va_list args) { return vfscanf(file->stream, format, args); }
int dfile_scanf(DataFile *file, const char *format, ...) { va_list a; va_start(a, format); int r = dfile_vscanf(file, format, a); va_end(a); return r; }
int dfile_read_int(DataFile *file) { int v; return dfile_scanf(file, "%d", &v) == 1 ? v : (-2147483647 - 1); }
void dfile_skip_comments(DataFile *file) { int n; do { n = 0; dfile_scanf(file, " #%*[^\n]%n", &n); } while (n > 0); }
int dfile_seek(DataFile *file, int offset) { return fseek(file->stream, offset, SEEK_SET) == 0; }
int dfile_is_scrambled(DataFile *) { return 0; }
int dfile_is_compressed(DataFile *) { return 0; }
int dfile_putc(DataFile *file, int c) { return fputc(c, file->stream); }
int dfile_puts(DataFile *file, const char *text) { return fputs(text, file->stream); }
int dfile_write(DataFile *file, const void *data, int count) { return static_cast<int>(fwrite(data, 1, count, file->stream)); }
int dfile_printf(DataFile *file, const char *format, ...) { va_list a; va_start(a, format); int r = vfprintf(file->stream, format, a); va_end(a); return r; }
int dfile_flush(DataFile *file) { return fflush(file->stream); }
int dfile_rename(const char *from, const char *to) { return rename(from, to) == 0; }
char *file_to_string(const char *) { return nullptr; }
const char *const *file_list() { static const char *none[1] = {nullptr}; return none; }
int file_index_describe(int, char *, int) { return 0; }
void home_prepare() {}
void home_show() {}
void file_layer_release() {}
void file_layer_reset_for_tests() {}
