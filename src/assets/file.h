// The file layer: base directories (home first), an index over plain files
// and ".saf" archive members, transparent ".gz" / ".scram" variants, and the
// DataFile object through which every data file is read or written.
//
// A path starting with "@" is a data path: it is tried in every base
// directory in turn and then, for reading, in the index.
#pragma once
#include <cstdarg>
#include <cstddef>

struct DataFile;

// The base directory with that index (0 = home), or null past the end.
const char *data_directory(int index);

DataFile *dfile_open(const char *path, const char *mode);
void dfile_close(DataFile *file);

int dfile_getc(DataFile *file);
int dfile_peekc(DataFile *file);
char *dfile_gets(DataFile *file, char *buffer, int size);
int dfile_read(DataFile *file, void *buffer, int count);
int dfile_scanf(DataFile *file, const char *format, ...);
int dfile_vscanf(DataFile *file, const char *format, va_list args);
int dfile_read_int(DataFile *file);
void dfile_skip_comments(DataFile *file);
int dfile_seek(DataFile *file, int offset);
int dfile_is_scrambled(DataFile *file);
int dfile_is_compressed(DataFile *file);

int dfile_putc(DataFile *file, int c);
int dfile_puts(DataFile *file, const char *text);
int dfile_write(DataFile *file, const void *data, int count);
int dfile_printf(DataFile *file, const char *format, ...) __attribute__((format(printf, 2, 3)));
int dfile_flush(DataFile *file);

// Names starting with "@" are relative to the home directory. Returns 1 on success.
int dfile_rename(const char *from, const char *to);

// Whole file as a zero-terminated string (tracked_free it), or null.
char *file_to_string(const char *path);

// Builds the index on the first call; returns the null-terminated file list.
const char *const *file_list();
int file_index_describe(int index, char *buffer, int size);

// Creates the home directory and opens the log "lastlog.txt" in it.
void home_prepare();
// Opens the home directory in the desktop's file manager (xdg-open).
void home_show();
void file_layer_release();

// Tests only: forget the base directories and the index so the next use
// rebuilds them from the current environment.
void file_layer_reset_for_tests();
