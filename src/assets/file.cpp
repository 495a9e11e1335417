// The file layer: base directories, the index of plain files and ".saf"
// archive members, opening with the "@" search, gzip decompression, the
// DataFile reading and writing operations, and the home directory.
//
// A ".saf" archive is a text header followed by the raw member data. Each
// header line ends in "\n" and is at most 1023 bytes with its newline. A
// member line is a decimal size, one space and the member's "/"-separated
// name; the line "-" ends the header. The members follow right after the
// "-" line, back to back in header order. So "5 a.txt\n3 b/c.txt\n-\n" is a
// 20-byte header, a.txt is bytes 20-24 and b/c.txt bytes 25-27. A broken
// header (a line without newline, a line that is not "size name") makes
// the whole archive be ignored; a member whose data runs past the end of
// the archive is dropped on its own.
//
// Scrambled variants (".scram", ".gz.scram") are not supported: they are
// treated as absent. Scrambling only hid data from curious players, our
// data set does not use it, and every reader it adds is one more place for
// malformed input to go wrong.
#include "assets/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "assets/file_local.h"
#include "platform/log.h"

extern char **environ;

namespace {

constexpr int max_base_directories = 3;
constexpr int max_data_path = 511;      // base directory + "@" name
constexpr int max_path = 1024;          // suffixed names, directory creation
constexpr int max_backup_path = 1000;
constexpr int max_backup_number = 9999;
constexpr int copy_block_size = 64 * 1024;
constexpr int inflate_block_size = 16 * 1024;
constexpr int max_header_line = 1023;   // with its newline
constexpr int max_os_path = 4096;
constexpr int max_walk_depth = 64;
constexpr int max_index_entries = 1 << 22;
constexpr int file_to_string_limit = 16 * 1024 * 1024;
static_assert(max_path > max_data_path + 16, "suffixed data paths must fit");
static_assert(max_backup_path + 16 < max_path, "backup names must fit");

struct IndexEntry {
  char *owned;       // freed at release: the path for plain files, the name for members
  const char *path;  // what to open: the file, or the archive holding it
  const char *name;  // relative name, "/"-separated
  int64_t offset;    // of the data within path
  int32_t size;
  int32_t priority;  // base directory index, or archive number for members
};

// Base directories: built on first use, live until file_layer_release.
char *base_dirs[max_base_directories];
int base_count = 0;
bool bases_built = false;

// The index and the file list: built by the first file_list call, live
// until file_layer_release.
IndexEntry *entries = nullptr;
int entry_count = 0;
int entry_capacity = 0;
bool index_full = false;
const char **names = nullptr;
bool index_built = false;
void (*progress_tick)() = nullptr;

struct Inflater {
  z_stream stream;
  int64_t raw_left;  // compressed bytes still to read from the stream
  bool ended;
  int output_start, output_end;
  char path[256];  // for messages
  unsigned char input[inflate_block_size];
  unsigned char output[inflate_block_size];
};

}  // namespace

struct DataFile {
  FILE *stream;
  int64_t base;       // offset of the data in the stream
  int64_t limit;      // bytes of data that may be read
  int64_t taken;      // bytes taken from the data, the pushed-back one included
  int pushback;       // -1 when empty
  bool read_mode;
  Inflater *compressed;
  char *replace_target;  // final path of a dfile_open_replace file
  char *replace_temp;    // its temporary path
};

namespace {

// ---- names and paths -------------------------------------------------------

int lower(int c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// Case-insensitive by byte, independent of the locale.
int compare_names(const char *a, const char *b) {
  for (;; a++, b++) {
    int x = lower(static_cast<unsigned char>(*a));
    int y = lower(static_cast<unsigned char>(*b));
    if (x != y || x == 0) return x - y;
  }
}

bool ends_with_nocase(const char *text, const char *suffix) {
  size_t n = strlen(text), m = strlen(suffix);
  return n >= m && compare_names(text + n - m, suffix) == 0;
}

// Copies text with runs of "/" collapsed into one.
void collapse_slashes(char *out, const char *text) {
  char previous = 0;
  for (; *text; text++) {
    if (*text == '/' && previous == '/') continue;
    previous = *out++ = *text;
  }
  *out = 0;
}

bool is_read_mode(const char *mode) { return strchr(mode, 'r') && !strchr(mode, '+'); }

// A data path names something inside the base directories; ".." would let
// a name taken from a track or a server reach any file of the user.
bool data_name_is_safe(const char *name) {
  for (const char *p = name; *p;) {
    const char *end = strchr(p, '/');
    size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
    if (n == 2 && p[0] == '.' && p[1] == '.') return false;
    if (!end) break;
    p = end + 1;
  }
  return true;
}

char *copy_string(const char *text) {
  size_t n = strlen(text) + 1;
  char *copy = static_cast<char *>(alloc_or_die(n));
  memcpy(copy, text, n);
  return copy;
}

// ---- base directories ------------------------------------------------------

// Adds dir + "/" + tail with backslashes turned into slashes and runs of
// slashes collapsed.
void add_base_directory(const char *dir, const char *tail) {
  if (base_count >= max_base_directories) return;
  size_t dir_length = strlen(dir), tail_length = strlen(tail);
  size_t n = dir_length + tail_length + 2;
  if (n > max_path) return;
  char joined[max_path];
  memcpy(joined, dir, dir_length);
  joined[dir_length] = '/';
  memcpy(joined + dir_length + 1, tail, tail_length + 1);
  // Paths written the Windows way still work; a backslash in a real Linux
  // directory name is the price.
  for (char *p = joined; *p; p++)
    if (*p == '\\') *p = '/';
  char *out = static_cast<char *>(alloc_or_die(n));
  collapse_slashes(out, joined);
  base_dirs[base_count++] = out;
}

// An installed program lives in PREFIX/bin and its data in
// PREFIX/share/torvane: when `dir` (the executable's directory) is named
// "bin" and that data directory exists, `dir` becomes it. A build tree's
// bin/ has no share/ beside it and keeps its own directory.
bool installed_data_directory(char *dir, size_t size) {
  size_t n = strlen(dir);
  if (n < 4 || strcmp(dir + n - 4, "/bin") != 0) return false;
  char data[max_os_path];
  if (snprintf(data, sizeof data, "%.*s/share/torvane", static_cast<int>(n - 4), dir) >= static_cast<int>(sizeof data))
    return false;
  struct stat st;
  if (stat(data, &st) != 0 || !S_ISDIR(st.st_mode) || strlen(data) >= size) return false;
  memcpy(dir, data, strlen(data) + 1);
  return true;
}

void build_base_directories() {
  if (bases_built) return;
  bases_built = true;
  base_count = 0;
  // Home: the XDG data directory (only an absolute one counts), else
  // ~/.local/share; absent when neither is known.
  const char *xdg = getenv("XDG_DATA_HOME");
  const char *home = getenv("HOME");
  if (xdg && xdg[0] == '/')
    add_base_directory(xdg, "torvane/");
  else if (home && home[0])
    add_base_directory(home, ".local/share/torvane/");
  const char *qx_home = getenv("QX_HOME");
  if (qx_home) {
    add_base_directory(qx_home, "");
  } else {
    char exe[max_os_path];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
    if (n > 0 && n < static_cast<ssize_t>(sizeof exe)) {
      exe[n] = 0;
      char *slash = strrchr(exe, '/');
      if (slash) {
        *slash = 0;
        installed_data_directory(exe, sizeof exe);
        add_base_directory(exe, "");
      }
    }
  }
}

// ---- directories and backups -----------------------------------------------

// Creates every directory component of path (each prefix up to a "/").
void make_parent_directories(const char *path) {
  size_t n = strlen(path);
  if (n >= max_path) return;
  char prefix[max_path];
  for (size_t i = 1; i < n; i++) {
    if (path[i] != '/' || path[i - 1] == '/') continue;
    memcpy(prefix, path, i);
    prefix[i] = 0;
    mkdir(prefix, 0777);
  }
}

bool copy_file(const char *from, const char *to) {
  FILE *in = fopen(from, "rb");
  if (!in) return false;
  FILE *out = fopen(to, "wb");
  if (!out) {
    fclose(in);
    return false;
  }
  char *block = static_cast<char *>(alloc_or_die(copy_block_size));
  bool ok = true;
  for (;;) {
    size_t n = fread(block, 1, copy_block_size, in);
    if (n > 0 && fwrite(block, 1, n, out) != n) ok = false;
    if (n < static_cast<size_t>(copy_block_size) || !ok) break;
  }
  if (ferror(in)) ok = false;
  tracked_free(block);
  fclose(in);
  if (fclose(out) != 0) ok = false;
  if (!ok) remove(to);
  return ok;
}

// Keeps the existing file at path as "<path>.~N~" with the smallest free N.
bool make_backup(const char *path) {
  if (strlen(path) > static_cast<size_t>(max_backup_path)) return false;
  struct stat st;
  if (stat(path, &st) != 0) return true;  // nothing to keep
  char name[max_path];
  for (int i = 1; i <= max_backup_number; i++) {
    snprintf(name, sizeof name, "%s.~%d~", path, i);
    if (lstat(name, &st) == 0) continue;
    return copy_file(path, name);
  }
  return false;
}

// ---- compressed data -------------------------------------------------------

bool refill_input(DataFile *file) {
  Inflater *z = file->compressed;
  if (z->raw_left <= 0) return false;
  size_t want = z->raw_left < inflate_block_size ? static_cast<size_t>(z->raw_left) : inflate_block_size;
  size_t got = fread(z->input, 1, want, file->stream);
  if (got == 0) {
    z->raw_left = 0;
    return false;
  }
  z->raw_left -= static_cast<int64_t>(got);
  z->stream.next_in = z->input;
  z->stream.avail_in = static_cast<uInt>(got);
  return true;
}

int raw_byte(DataFile *file) {
  Inflater *z = file->compressed;
  if (z->stream.avail_in == 0 && !refill_input(file)) return -1;
  z->stream.avail_in--;
  return *z->stream.next_in++;
}

bool skip_raw(DataFile *file, int count) {
  for (int i = 0; i < count; i++)
    if (raw_byte(file) < 0) return false;
  return true;
}

bool skip_raw_string(DataFile *file) {
  for (;;) {
    int c = raw_byte(file);
    if (c < 0) return false;
    if (c == 0) return true;
  }
}

bool read_gzip_header(DataFile *file) {
  if (raw_byte(file) != 0x1f || raw_byte(file) != 0x8b || raw_byte(file) != 8) return false;
  int flags = raw_byte(file);
  if (flags < 0 || flags >= 32) return false;
  if (!skip_raw(file, 6)) return false;  // time, extra flags, system
  if (flags & 4) {
    int lo = raw_byte(file), hi = raw_byte(file);
    if (lo < 0 || hi < 0 || !skip_raw(file, lo | hi << 8)) return false;
  }
  if ((flags & 8) && !skip_raw_string(file)) return false;
  if ((flags & 16) && !skip_raw_string(file)) return false;
  if ((flags & 2) && !skip_raw(file, 2)) return false;
  return true;
}

// Inflates the next block of output; false at the end of the data. A
// truncated or corrupt stream just ends the data.
bool fill_output(DataFile *file) {
  Inflater *z = file->compressed;
  z->output_start = z->output_end = 0;
  while (!z->ended && z->output_end == 0) {
    if (z->stream.avail_in == 0 && !refill_input(file)) {
      z->ended = true;
      break;
    }
    uInt before = z->stream.avail_in;
    z->stream.next_out = z->output;
    z->stream.avail_out = inflate_block_size;
    int result = inflate(&z->stream, Z_NO_FLUSH);
    z->output_end = inflate_block_size - static_cast<int>(z->stream.avail_out);
    if (result == Z_STREAM_END) {
      z->ended = true;
    } else if ((result != Z_OK && result != Z_BUF_ERROR) ||
               (z->output_end == 0 && z->stream.avail_in == before)) {
      hovl_log("Compressed file %s: corrupt data, reading stops\n", z->path);
      z->ended = true;
    }
  }
  return z->output_end > z->output_start;
}

// ---- opening ---------------------------------------------------------------

DataFile *new_data_file(FILE *stream, int64_t base, int64_t limit, bool read_mode) {
  DataFile *file = static_cast<DataFile *>(alloc_or_die(sizeof(DataFile)));
  *file = {};
  file->stream = stream;
  file->base = base;
  file->limit = limit;
  file->pushback = -1;
  file->read_mode = read_mode;
  return file;
}

// Wraps an "rb" stream positioned at base as gzip data of raw_size bytes.
DataFile *open_compressed(FILE *stream, int64_t base, int64_t raw_size, const char *path) {
  DataFile *file = new_data_file(stream, base, INT_MAX, true);
  Inflater *z = static_cast<Inflater *>(alloc_or_die(sizeof(Inflater)));
  memset(z, 0, sizeof(Inflater));
  z->raw_left = raw_size;
  snprintf(z->path, sizeof z->path, "%s", path);
  file->compressed = z;
  if (!read_gzip_header(file)) {
    hovl_log("Compressed file %s: bad gzip header\n", path);
    tracked_free(z);
    file->compressed = nullptr;
    dfile_close(file);
    return nullptr;
  }
  if (inflateInit2(&z->stream, -15) != Z_OK) {
    tracked_free(z);
    file->compressed = nullptr;
    dfile_close(file);
    return nullptr;
  }
  return file;
}

// fopen that refuses directories (which Linux opens for reading).
FILE *open_stream(const char *path, const char *mode, int64_t *size) {
  FILE *stream = fopen(path, mode);
  if (!stream) return nullptr;
  struct stat st;
  if (fstat(fileno(stream), &st) != 0 || S_ISDIR(st.st_mode)) {
    fclose(stream);
    return nullptr;
  }
  *size = st.st_size;
  return stream;
}

DataFile *open_single(const char *path, const char *mode) {
  bool backup = mode[0] == '~';
  const char *m = backup ? mode + 1 : mode;
  bool read = is_read_mode(m);
  if (!read) make_parent_directories(path);
  if (backup && !make_backup(path)) return nullptr;
  int64_t size = 0;
  FILE *stream = open_stream(path, m, &size);
  if (stream) return new_data_file(stream, 0, INT_MAX, read);
  if (!read) return nullptr;
  char compressed[max_path];
  if (snprintf(compressed, sizeof compressed, "%s.gz", path) >= static_cast<int>(sizeof compressed)) return nullptr;
  stream = open_stream(compressed, "rb", &size);
  if (!stream) return nullptr;
  return open_compressed(stream, 0, size, compressed);
}

// First entry whose name equals key case-insensitively (so the lowest
// priority of that name), or -1.
int find_entry(const char *key) {
  int lo = 0, hi = entry_count;
  while (lo < hi) {
    int mid = lo + (hi - lo) / 2;
    if (compare_names(entries[mid].name, key) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo < entry_count && compare_names(entries[lo].name, key) == 0 ? lo : -1;
}

DataFile *open_from_index(const char *name) {
  if (!index_built) return nullptr;
  static const char *const suffixes[] = {"", ".gz"};
  int best = -1, best_suffix = 0;
  char key[max_path];
  for (int s = 0; s < 2; s++) {
    if (snprintf(key, sizeof key, "%s%s", name, suffixes[s]) >= static_cast<int>(sizeof key)) continue;
    int hit = find_entry(key);
    if (hit >= 0 && (best < 0 || entries[hit].priority < entries[best].priority)) {
      best = hit;
      best_suffix = s;
    }
  }
  if (best < 0) return nullptr;
  const IndexEntry &entry = entries[best];
  int64_t file_size = 0;
  FILE *stream = open_stream(entry.path, "rb", &file_size);
  if (!stream) return nullptr;
  if (fseeko(stream, entry.offset, SEEK_SET) != 0) {
    fclose(stream);
    return nullptr;
  }
  if (best_suffix == 1) {
    char label[max_path];
    snprintf(label, sizeof label, "%s in %s", entry.name, entry.path);
    return open_compressed(stream, entry.offset, entry.size, label);
  }
  return new_data_file(stream, entry.offset, entry.size, true);
}

// ---- the index -------------------------------------------------------------

bool add_entry(const IndexEntry &entry) {
  if (index_full) return false;
  if (entry_count >= max_index_entries) {
    hovl_log("File index full at %d entries, the rest is ignored\n", entry_count);
    index_full = true;
    return false;
  }
  if (entry_count == entry_capacity) {
    int next = entry_capacity < 16 ? 16 : entry_capacity * 2;
    void *grown = tracked_realloc(entries, sizeof(IndexEntry) * static_cast<size_t>(next));
    if (!grown) {
      hovl_log("Out of memory while listing files, the rest is ignored\n");
      index_full = true;
      return false;
    }
    entries = static_cast<IndexEntry *>(grown);
    entry_capacity = next;
  }
  entries[entry_count++] = entry;
  return true;
}

void add_plain_file(const char *path, size_t base_length, int64_t size, int priority) {
  char *owned = static_cast<char *>(tracked_malloc(strlen(path) + 1));
  if (!owned) {
    index_full = true;
    return;
  }
  strcpy(owned, path);
  IndexEntry entry = {owned, owned, owned + base_length, 0, size > INT_MAX ? INT_MAX : static_cast<int32_t>(size),
                      priority};
  if (!add_entry(entry)) tracked_free(owned);
}

struct WalkStack {
  dev_t device[max_walk_depth];
  ino_t inode[max_walk_depth];
  int depth;
};

// Adds every regular file below path (which ends in "/"), following links
// but never into a directory that is already being walked.
void walk_directory(char *path, size_t length, size_t base_length, int priority, WalkStack *stack) {
  DIR *dir = opendir(path);
  if (!dir) return;
  if (progress_tick) progress_tick();
  while (struct dirent *e = readdir(dir)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    size_t n = strlen(e->d_name);
    if (length + n + 2 >= max_os_path) continue;
    memcpy(path + length, e->d_name, n + 1);
    struct stat st;
    if (stat(path, &st) != 0) continue;
    if (S_ISREG(st.st_mode)) {
      add_plain_file(path, base_length, st.st_size, priority);
    } else if (S_ISDIR(st.st_mode)) {
      bool seen = false;
      for (int i = 0; i < stack->depth; i++)
        seen = seen || (stack->device[i] == st.st_dev && stack->inode[i] == st.st_ino);
      if (seen) continue;
      if (stack->depth == max_walk_depth) {
        hovl_log("Directory %s nested too deeply, skipped\n", path);
        continue;
      }
      stack->device[stack->depth] = st.st_dev;
      stack->inode[stack->depth] = st.st_ino;
      stack->depth++;
      path[length + n] = '/';
      path[length + n + 1] = 0;
      walk_directory(path, length + n + 1, base_length, priority, stack);
      stack->depth--;
    }
  }
  closedir(dir);
  path[length] = 0;
}

void walk_base_directory(int index) {
  const char *base = base_dirs[index];
  size_t length = strlen(base);
  if (length + 2 >= max_os_path) return;
  char path[max_os_path];
  memcpy(path, base, length + 1);
  WalkStack stack;
  stack.depth = 0;
  struct stat st;
  if (stat(base, &st) == 0) {
    stack.device[0] = st.st_dev;
    stack.inode[0] = st.st_ino;
    stack.depth = 1;
  }
  walk_directory(path, length, length, index, &stack);
}

int compare_entries(const void *pa, const void *pb) {
  const IndexEntry *a = static_cast<const IndexEntry *>(pa);
  const IndexEntry *b = static_cast<const IndexEntry *>(pb);
  int by_name = compare_names(a->name, b->name);
  if (by_name) return by_name;
  if (a->priority != b->priority) return a->priority < b->priority ? -1 : 1;
  // Equal names of equal priority: make the order independent of the
  // order the directory listing happened to give.
  int exact = strcmp(a->name, b->name);
  if (exact) return exact;
  return a->offset < b->offset ? -1 : a->offset > b->offset;
}

void sort_index() {
  if (entry_count > 1) qsort(entries, static_cast<size_t>(entry_count), sizeof(IndexEntry), compare_entries);
}

struct Member {
  char *name;
  int32_t size;
};

// Reads one header line (without its newline) into line; false for a line
// that is too long, holds a zero byte or has no newline.
bool read_header_line(FILE *stream, char *line, int *length) {
  int n = 0;
  for (;;) {
    int c = getc(stream);
    if (c == EOF || c == 0) return false;
    if (c == '\n') break;
    if (n + 2 > max_header_line) return false;
    line[n++] = static_cast<char>(c);
  }
  line[n] = 0;
  *length = n;
  return true;
}

// Parses "size name"; the name goes into name with its slashes collapsed.
bool parse_member_line(const char *line, int32_t *size, char *name) {
  char *end = nullptr;
  errno = 0;
  long value = strtol(line, &end, 10);
  if (end == line || errno == ERANGE || value < 0 || value > INT_MAX) return false;
  if (*end != ' ' && *end != '\t') return false;
  collapse_slashes(name, end + 1);
  if (!name[0]) return false;
  *size = static_cast<int32_t>(value);
  return true;
}

void free_members(Member *members, int count) {
  for (int i = 0; i < count; i++) tracked_free(members[i].name);
  tracked_free(members);
}

void read_archive(const char *path, int priority) {
  if (progress_tick) progress_tick();
  int64_t archive_size = 0;
  FILE *stream = open_stream(path, "rb", &archive_size);
  if (!stream) {
    hovl_log("Archive %s: cannot open, ignored\n", path);
    return;
  }
  Member *members = nullptr;
  int count = 0, capacity = 0;
  int64_t header_size = 0;
  char line[max_header_line + 1];
  char name[max_header_line + 1];
  bool complete = false;
  for (;;) {
    int length = 0;
    int32_t size = 0;
    if (!read_header_line(stream, line, &length)) {
      hovl_log("Archive %s: bad header line, ignored\n", path);
      break;
    }
    header_size += length + 1;
    if (strcmp(line, "-") == 0) {
      complete = true;
      break;
    }
    if (!parse_member_line(line, &size, name)) {
      hovl_log("Archive %s: bad header line, ignored\n", path);
      break;
    }
    if (count == capacity) {
      int next = capacity < 16 ? 16 : capacity * 2;
      void *grown = tracked_realloc(members, sizeof(Member) * static_cast<size_t>(next));
      if (!grown) {
        hovl_log("Archive %s: out of memory, ignored\n", path);
        break;
      }
      members = static_cast<Member *>(grown);
      capacity = next;
    }
    char *copy = static_cast<char *>(tracked_malloc(strlen(name) + 1));
    if (!copy) {
      hovl_log("Archive %s: out of memory, ignored\n", path);
      break;
    }
    strcpy(copy, name);
    members[count++] = {copy, size};
  }
  fclose(stream);
  if (!complete) {
    free_members(members, count);
    return;
  }
  int64_t offset = header_size;
  for (int i = 0; i < count; i++) {
    Member &m = members[i];
    if (offset + m.size > archive_size) {
      hovl_log("Archive %s: member %s runs past the end of the archive, ignored\n", path, m.name);
    } else if (add_entry({m.name, path, m.name, offset, m.size, priority})) {
      m.name = nullptr;  // the index owns it now
    }
    offset += m.size;
  }
  free_members(members, count);
}

void build_index() {
  build_base_directories();
  hovl_log("Listing directories\n");
  for (int i = 0; i < base_count; i++) walk_base_directory(i);
  sort_index();
  hovl_log("Listing archives\n");
  int listed = entry_count;
  int archive_number = base_count;
  for (int i = 0; i < listed; i++) {
    const char *name = entries[i].name;
    if (strlen(name) < 5 || !ends_with_nocase(name, ".saf")) continue;
    // The path string is owned by its entry, which stays put even when the
    // array moves while members are added.
    read_archive(entries[i].path, archive_number++);
  }
  sort_index();
  hovl_log("Creating file list\n");
  names = static_cast<const char **>(alloc_or_die(sizeof(const char *) * (static_cast<size_t>(entry_count) + 1)));
  int scrambled = 0, distinct = 0;
  for (int i = 0; i < entry_count; i++) {
    if (ends_with_nocase(entries[i].name, ".scram")) scrambled++;
    if (i == 0 || compare_names(entries[i].name, entries[i - 1].name) != 0) names[distinct++] = entries[i].name;
  }
  names[distinct] = nullptr;
  if (scrambled) hovl_log("%d scrambled files are not supported and were ignored\n", scrambled);
  hovl_log("File index complete\n");
  index_built = true;
}

// The data in a file opened for reading, one byte, ignoring the pushback.
int take_byte(DataFile *file) {
  if (file->taken >= file->limit) return -1;
  int c;
  if (Inflater *z = file->compressed) {
    if (z->output_start == z->output_end && !fill_output(file)) return -1;
    c = z->output[z->output_start++];
  } else {
    c = getc(file->stream);
    if (c == EOF) return -1;
  }
  file->taken++;
  return c;
}

bool writable(DataFile *file) { return file && !file->read_mode && !file->compressed; }

// "@name" relative to the home directory, or the path itself.
bool home_path(const char *path, char *out, size_t size) {
  if (path[0] != '@') return snprintf(out, size, "%s", path) < static_cast<int>(size);
  const char *home = data_directory(0);
  if (!home || !data_name_is_safe(path + 1)) return false;
  return snprintf(out, size, "%s%s", home, path + 1) < static_cast<int>(size);
}

}  // namespace

// ---- public ------------------------------------------------------------------

const char *data_directory(int index) {
  build_base_directories();
  return index >= 0 && index < base_count ? base_dirs[index] : nullptr;
}

DataFile *dfile_open(const char *path, const char *mode) {
  if (!path || !mode || !mode[0]) return nullptr;
  if (path[0] != '@') return open_single(path, mode);
  const char *name = path + 1;
  if (!data_name_is_safe(name)) {
    hovl_log("Data path %s leaves the data directories, refused\n", path);
    return nullptr;
  }
  build_base_directories();
  char joined[max_path];
  for (int i = 0; i < base_count; i++) {
    if (strlen(base_dirs[i]) + strlen(name) > static_cast<size_t>(max_data_path)) continue;
    snprintf(joined, sizeof joined, "%s%s", base_dirs[i], name);
    if (DataFile *file = open_single(joined, mode)) return file;
  }
  const char *m = mode[0] == '~' ? mode + 1 : mode;
  if (!is_read_mode(m)) return nullptr;
  return open_from_index(name);
}

void dfile_close(DataFile *file) {
  if (!file) return;
  if (file->compressed) {
    inflateEnd(&file->compressed->stream);
    tracked_free(file->compressed);
  }
  if (file->stream) fclose(file->stream);
  if (file->replace_temp) remove(file->replace_temp);  // abandoned replacement
  tracked_free(file->replace_temp);
  tracked_free(file->replace_target);
  tracked_free(file);
}

int dfile_getc(DataFile *file) {
  if (file->pushback >= 0) {
    int c = file->pushback;
    file->pushback = -1;
    return c;
  }
  return take_byte(file);
}

void dfile_unget(DataFile *file, int c) {
  if (c >= 0) file->pushback = c;
}

int dfile_peekc(DataFile *file) {
  int c = dfile_getc(file);
  dfile_unget(file, c);
  return c;
}

char *dfile_gets(DataFile *file, char *buffer, int size) {
  if (size <= 0) return nullptr;
  int n = 0;
  while (n < size - 1) {
    int c = dfile_getc(file);
    if (c < 0) break;
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[n] = 0;
  return n == 0 && size > 1 ? nullptr : buffer;
}

int dfile_read(DataFile *file, void *buffer, int count) {
  if (count <= 0) return 0;
  unsigned char *out = static_cast<unsigned char *>(buffer);
  int done = 0;
  if (file->pushback >= 0) {
    out[done++] = static_cast<unsigned char>(file->pushback);
    file->pushback = -1;
  }
  while (done < count && file->taken < file->limit) {
    int64_t want = count - done;
    if (want > file->limit - file->taken) want = file->limit - file->taken;
    int got;
    if (Inflater *z = file->compressed) {
      if (z->output_start == z->output_end && !fill_output(file)) break;
      got = z->output_end - z->output_start;
      if (got > want) got = static_cast<int>(want);
      memcpy(out + done, z->output + z->output_start, static_cast<size_t>(got));
      z->output_start += got;
    } else {
      got = static_cast<int>(fread(out + done, 1, static_cast<size_t>(want), file->stream));
      if (got == 0) break;
    }
    file->taken += got;
    done += got;
  }
  return done;
}

int dfile_read_int(DataFile *file) {
  int value = 0;
  return dfile_scanf(file, "%d", &value) == 1 ? value : INT_MIN;
}

// Skips blanks and "#" lines. Unlike repeating " #%*[^\n]%n", this also
// gets past a "#" line with nothing after the "#".
void dfile_skip_comments(DataFile *file) {
  for (;;) {
    int c = dfile_getc(file);
    while (c == ' ' || (c >= '\t' && c <= '\r')) c = dfile_getc(file);
    if (c != '#') {
      dfile_unget(file, c);
      return;
    }
    while (c >= 0 && c != '\n') c = dfile_getc(file);
  }
}

int dfile_seek(DataFile *file, int offset) {
  if (file->compressed || offset < 0 || offset >= file->limit) return 0;
  if (fseeko(file->stream, file->base + offset, SEEK_SET) != 0) return 0;
  file->taken = offset;
  file->pushback = -1;
  return 1;
}

int dfile_tell(DataFile *file) {
  int64_t position = file->taken - (file->pushback >= 0 ? 1 : 0);
  return position > INT_MAX ? INT_MAX : static_cast<int>(position);
}

int dfile_is_scrambled(DataFile *) { return 0; }
int dfile_is_compressed(DataFile *file) { return file->compressed != nullptr; }

int dfile_putc(DataFile *file, int c) { return writable(file) ? fputc(c, file->stream) : EOF; }
int dfile_puts(DataFile *file, const char *text) { return writable(file) ? fputs(text, file->stream) : EOF; }

int dfile_write(DataFile *file, const void *data, int count) {
  if (!writable(file) || count <= 0) return 0;
  return static_cast<int>(fwrite(data, 1, static_cast<size_t>(count), file->stream));
}

int dfile_printf(DataFile *file, const char *format, ...) {
  if (!writable(file)) return -1;
  va_list args;
  va_start(args, format);
  int n = vfprintf(file->stream, format, args);
  va_end(args);
  return n;
}

int dfile_flush(DataFile *file) { return writable(file) ? fflush(file->stream) : EOF; }

DataFile *dfile_open_replace(const char *path) {
  if (!path || !path[0]) return nullptr;
  char temp[max_path];
  if (snprintf(temp, sizeof temp, "%s.tmp", path) >= static_cast<int>(sizeof temp)) return nullptr;
  DataFile *file = dfile_open(temp, "wb");
  if (!file) return nullptr;
  // Find where the temporary file landed: for an "@" path the first base
  // directory where it could be created, as dfile_open tried them.
  char landed[max_path];
  landed[0] = 0;
  if (path[0] != '@') {
    snprintf(landed, sizeof landed, "%s", path);
  } else {
    struct stat opened = {}, st = {};
    fstat(fileno(file->stream), &opened);
    for (int i = 0; i < base_count && !landed[0]; i++) {
      char candidate[max_path];
      if (snprintf(candidate, sizeof candidate, "%s%s", base_dirs[i], temp + 1) >= static_cast<int>(sizeof candidate))
        continue;
      if (stat(candidate, &st) == 0 && st.st_dev == opened.st_dev && st.st_ino == opened.st_ino)
        snprintf(landed, sizeof landed, "%s%s", base_dirs[i], path + 1);
    }
  }
  if (!landed[0]) {
    dfile_close(file);
    return nullptr;
  }
  file->replace_target = copy_string(landed);
  size_t n = strlen(landed);
  file->replace_temp = static_cast<char *>(alloc_or_die(n + 5));
  snprintf(file->replace_temp, n + 5, "%s.tmp", landed);
  return file;
}

int dfile_commit_replace(DataFile *file) {
  if (!file) return 0;
  if (!file->replace_target) {
    dfile_close(file);
    return 0;
  }
  bool ok = fflush(file->stream) == 0 && !ferror(file->stream) && fsync(fileno(file->stream)) == 0;
  ok = fclose(file->stream) == 0 && ok;
  file->stream = nullptr;
  if (ok && rename(file->replace_temp, file->replace_target) == 0) {
    tracked_free(file->replace_temp);
    file->replace_temp = nullptr;  // nothing left to remove
  } else {
    hovl_log("Could not write %s: %s\n", file->replace_target, strerror(errno));
    ok = false;
  }
  dfile_close(file);
  return ok ? 1 : 0;
}

// rename() replaces the target atomically, so the target is not removed
// first: a failed rename must not lose the old file.
int dfile_rename(const char *from, const char *to) {
  char source[max_path], target[max_path];
  if (!home_path(from, source, sizeof source) || !home_path(to, target, sizeof target)) return 0;
  return rename(source, target) == 0 ? 1 : 0;
}

char *file_to_string(const char *path) {
  DataFile *file = dfile_open(path, "rb");
  if (!file) return nullptr;
  char *text = static_cast<char *>(alloc_or_die(file_to_string_limit));
  int length = 0;
  while (length < file_to_string_limit) {
    int got = dfile_read(file, text + length, file_to_string_limit - length);
    if (got <= 0) break;
    length += got;
  }
  dfile_close(file);
  if (length == file_to_string_limit) {
    hovl_log("File %s too long for file_to_string\n", path);
    tracked_free(text);
    return nullptr;
  }
  text[length] = 0;
  char *fitted = static_cast<char *>(tracked_realloc(text, static_cast<size_t>(length) + 1));
  return fitted ? fitted : text;
}

const char *const *file_list() {
  if (!index_built) build_index();
  return names;
}

int file_name_is_plain(const char *name) {
  return name && name[0] && !strchr(name, '/') && !strchr(name, '\\') && !strstr(name, "..");
}

int file_index_describe(int index, char *buffer, int size) {
  if (index < 0 || index >= entry_count) return 0;
  if (buffer && size > 0)
    snprintf(buffer, static_cast<size_t>(size), "%s -> %s", entries[index].name, entries[index].path);
  return 1;
}

void file_set_progress_tick(void (*tick)()) { progress_tick = tick; }

void home_prepare() {
  const char *home = data_directory(0);
  if (home) make_parent_directories(home);
  // The first log call decides the log file and takes the name verbatim
  // from its format after "HOVL_LOGFILE=", so the name goes in unescaped.
  // Any later call would be formatted as an entry, so there is none then.
  if (hovl_log_started()) return;
  char setting[max_path + 32];
  // Without a home directory the call still settles that there is no log
  // file (unless HOVL_LOGFILE names one).
  snprintf(setting, sizeof setting, "HOVL_LOGFILE=%s%s", home ? home : "", home ? "lastlog.txt" : "");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  hovl_log(setting);
#pragma GCC diagnostic pop
}

int home_show() {
  const char *home = data_directory(0);
  if (!home) return 0;
  make_parent_directories(home);
  char dir[max_path];
  snprintf(dir, sizeof dir, "%s", home);
  for (size_t n = strlen(dir); n > 1 && dir[n - 1] == '/'; n--) dir[n - 1] = 0;
  char program[] = "xdg-open";
  char *argv[] = {program, dir, nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0) {
    hovl_log("Can't open %s: xdg-open not found\n", dir);
    return 0;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0;
}

void file_layer_release() {
  for (int i = 0; i < entry_count; i++) tracked_free(entries[i].owned);
  tracked_free(entries);
  entries = nullptr;
  entry_count = entry_capacity = 0;
  index_full = false;
  tracked_free(names);
  names = nullptr;
  index_built = false;
  for (int i = 0; i < base_count; i++) tracked_free(base_dirs[i]);
  base_count = 0;
  bases_built = false;
}

void file_layer_reset_for_tests() { file_layer_release(); }
