// The file layer: base directories (home first), an index over plain files
// and ".saf" archive members, transparent ".gz" variants, and the DataFile
// object through which every data file is read or written.
//
// A path starting with "@" is a data path: it is tried in every base
// directory in turn and then, for reading, in the index.
#pragma once
#include <cstdarg>
#include <cstddef>

struct DataFile;

// The base directory with that index (0 = home), or null past the end.
// Each ends in "/".
const char *data_directory(int index);

// Modes are fopen modes; a leading "~" keeps the old file as "<path>.~N~".
// A mode is a read mode when it holds "r" and no "+"; only read modes
// look in the index and at the ".gz" variants. Writes create missing
// directories. Null on failure, without a message.
DataFile *dfile_open(const char *path, const char *mode);
void dfile_close(DataFile *file);

// Next byte 0-255, or -1 at the end of the data.
int dfile_getc(DataFile *file);
// The next byte without consuming it (kept as the one pushed-back byte).
int dfile_peekc(DataFile *file);
// Like fgets: at most size-1 bytes, stops after a newline, null at the end.
char *dfile_gets(DataFile *file, char *buffer, int size);
// Up to count bytes, never past the end of the data; returns the count read.
int dfile_read(DataFile *file, void *buffer, int count);
// scanf over the data: literal characters, white space, %d %i %o %u %x %X,
// %f %e %g (and upper case), %s, %c, %[...], %n, %%, field widths, "*" and
// the size prefixes hh h l ll L q (and z j t). It reads exactly as the C
// library's fscanf does on the same text, including what a failed partial
// match leaves consumed, and always with "." as the decimal point. Not
// supported: positional "%1$d" (a matching failure) and wide characters
// ("l" on c, s and [ is ignored). Returns the number of assignments, or -1
// when the data ended before the first one.
int dfile_scanf(DataFile *file, const char *format, ...);
int dfile_vscanf(DataFile *file, const char *format, va_list args);
// One "%d"; -2147483648 when none could be read.
int dfile_read_int(DataFile *file);
// Skips white space and any lines that start with "#".
void dfile_skip_comments(DataFile *file);
// Plain uncompressed files only: moves to offset (0 <= offset < size of the
// data; for archive members relative to the member). Returns 1 on success.
int dfile_seek(DataFile *file, int offset);
// Bytes delivered to the caller so far.
int dfile_tell(DataFile *file);
int dfile_is_scrambled(DataFile *file);
int dfile_is_compressed(DataFile *file);

// Writing, for files opened in a write mode; straight to the stream.
int dfile_putc(DataFile *file, int c);
int dfile_puts(DataFile *file, const char *text);
int dfile_write(DataFile *file, const void *data, int count);
int dfile_printf(DataFile *file, const char *format, ...) __attribute__((format(printf, 2, 3)));
int dfile_flush(DataFile *file);

// Safe replacement of a user file: the data go to "<path>.tmp" (an "@" path
// lands where a write by dfile_open would, the home directory first), and
// only dfile_commit_replace renames it over path, after flushing it to disk.
// The commit frees the file and returns 1 on success; on failure it removes
// the temporary file and leaves path untouched. dfile_close on a file that
// was not committed abandons the temporary file.
DataFile *dfile_open_replace(const char *path);
int dfile_commit_replace(DataFile *file);

// Names starting with "@" are relative to the home directory. The target is
// replaced atomically. Returns 1 on success.
int dfile_rename(const char *from, const char *to);

// A name the player typed that stays inside the folder it is meant for:
// not empty, without "/", "\\" or "..". Console commands that read or write
// user files refuse any other.
int file_name_is_plain(const char *name);

// Whole file as a zero-terminated string (tracked_free it), or null when it
// cannot be opened or holds 16 MiB or more.
char *file_to_string(const char *path);

// Builds the index on the first call; returns the null-terminated file list.
const char *const *file_list();
// "name -> path" of index entry `index`; returns whether it exists.
int file_index_describe(int index, char *buffer, int size);
// Called once per directory and archive while the index is built, so the
// loading screen can keep the window alive. Null for none.
void file_set_progress_tick(void (*tick)());

// Creates the home directory and opens the log "lastlog.txt" in it.
void home_prepare();
// Opens the home directory in the desktop's file manager (xdg-open).
// Returns 1 when xdg-open ran and succeeded.
int home_show();
void file_layer_release();

// Tests only: forget the base directories and the index so the next use
// rebuilds them from the current environment.
void file_layer_reset_for_tests();
