#include "net/server_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "net/file_transfer.h"

namespace {

constexpr char part_prefix[] = "sendpart -";
constexpr int part_prefix_length = sizeof part_prefix - 1;
constexpr char name_prefix[] = "namefile ";
constexpr int name_prefix_length = sizeof name_prefix - 1;

int slot_of(const RaceServer *s, const ServerClient *c) { return static_cast<int>(c - s->clients); }

void answer(ServerClient *c, const char *text) {
  reliable_queue_server(&c->reliable, kind_text, text, static_cast<int>(strlen(text)));
}

void drop(ServerClient *c) {
  ServerUpload &u = c->upload;
  if (!u.open) return;
  close(u.fd);
  unlink(u.temp);
  u.open = 0;
  u.bytes = 0;
}

// Refuses: the rider hears "senddenied", the log says why, and what is
// still on its way of this transfer is dropped quietly.
void deny(RaceServer *s, ServerClient *c, const char *format, ...) __attribute__((format(printf, 3, 4)));
void deny(RaceServer *s, ServerClient *c, const char *format, ...) {
  char why[400];
  va_list args;
  va_start(args, format);
  vsnprintf(why, sizeof why, format, args);
  va_end(args);
  server_say(s, "Rider %d: file transfer refused (%s)", slot_of(s, c), why);
  drop(c);
  c->upload.swallowing = 1;
  answer(c, "senddenied");
}

void begin(RaceServer *s, ServerClient *c) {
  ServerUpload &u = c->upload;
  if (!s->config.accept_files[0]) {
    deny(s, c, "not accepting files");
    return;
  }
  if (u.open) {
    deny(s, c, "a transfer is already open");
    return;
  }
  if (u.files >= s->config.max_files) {
    deny(s, c, "%d files already", u.files);
    return;
  }
  snprintf(u.temp, sizeof u.temp, "%s/.upload-%d-%08x.part", s->config.accept_files, slot_of(s, c),
           static_cast<unsigned>(c->connection_id));
  u.fd = open(u.temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (u.fd < 0) {
    deny(s, c, "can't create a temporary file: %s", strerror(errno));
    return;
  }
  u.open = 1;
  u.bytes = 0;
  u.swallowing = 0;
  server_say(s, "Rider %d is sending a file", slot_of(s, c));
  answer(c, "sendready");
}

bool write_all(int fd, const uint8_t *data, int length) {
  while (length > 0) {
    ssize_t n = write(fd, data, static_cast<size_t>(length));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<int>(n);
  }
  return true;
}

void part(RaceServer *s, ServerClient *c, const uint8_t *data, int length) {
  ServerUpload &u = c->upload;
  if (!u.open) {
    if (!u.swallowing) server_say(s, "Rider %d sent part of a file without a transfer", slot_of(s, c));
    u.swallowing = 1;
    return;
  }
  if (u.bytes + length > s->config.max_file_size) {
    deny(s, c, "over %d bytes", s->config.max_file_size);
    return;
  }
  if (!write_all(u.fd, data, length)) {
    deny(s, c, "write failed: %s", strerror(errno));
    return;
  }
  u.bytes += length;
}

void finish(RaceServer *s, ServerClient *c, const uint8_t *text, int length) {
  ServerUpload &u = c->upload;
  if (!u.open) {
    // The end of a refused transfer; anything else is worth a line.
    if (!u.swallowing) server_say(s, "Rider %d named a file without a transfer", slot_of(s, c));
    u.swallowing = 0;
    return;
  }
  char name[server_path_size];
  int n = length < static_cast<int>(sizeof name) - 1 ? length : static_cast<int>(sizeof name) - 1;
  memcpy(name, text, static_cast<size_t>(n));
  name[n] = 0;
  // A zero byte inside would cut the name short: refused like a bad character.
  const char *problem = strlen(name) != static_cast<size_t>(length) ? "Filename may only contain alphanumeric characters, '_' or '.'"
                                                                     : file_name_problem(name);
  if (problem) {
    deny(s, c, "bad name: %s", problem);
    u.swallowing = 0;
    return;
  }
  char path[server_path_size + server_text_size + 2];
  snprintf(path, sizeof path, "%s/%s", s->config.accept_files, name);
  bool ok = fsync(u.fd) == 0;
  ok &= close(u.fd) == 0;
  u.open = 0;
  // link() never replaces a file that is there already.
  if (!ok || link(u.temp, path) != 0) {
    int error = errno;
    unlink(u.temp);
    deny(s, c, "%.100s: %s", name, error == EEXIST ? "a file of that name exists" : strerror(error));
    u.swallowing = 0;
    return;
  }
  unlink(u.temp);
  u.files++;
  server_say(s, "Rider %d sent file %s (%lld bytes)", slot_of(s, c), name, u.bytes);
  char line[server_path_size];
  snprintf(line, sizeof line, "File %.400s received", name);
  reliable_queue_server(&c->reliable, kind_chat, line, static_cast<int>(strlen(line)));
  u.bytes = 0;
}

}  // namespace

void server_files_start(RaceServer *s) {
  char *dir = s->config.accept_files;
  if (!dir[0]) return;
  struct stat st;
  if (stat(dir, &st) != 0 && mkdir(dir, 0755) != 0 && errno != EEXIST) {
    server_say(s, "Can't make %s for received files (%s): file transfers are refused", dir, strerror(errno));
    dir[0] = 0;
    return;
  }
  if (stat(dir, &st) != 0 || !S_ISDIR(st.st_mode) || access(dir, W_OK) != 0) {
    server_say(s, "Can't write received files to %s: file transfers are refused", dir);
    dir[0] = 0;
    return;
  }
  server_say(s, "Accepting files in %s (at most %d bytes, %d files a rider)", dir, s->config.max_file_size,
             s->config.max_files);
}

int server_files_text(RaceServer *s, ServerClient *c, const uint8_t *text, int length) {
  const char *t = reinterpret_cast<const char *>(text);
  if (length == 8 && memcmp(t, "sendfile", 8) == 0) {
    begin(s, c);
    return 1;
  }
  if (length >= part_prefix_length && memcmp(t, part_prefix, part_prefix_length) == 0) {
    part(s, c, text + part_prefix_length, length - part_prefix_length);
    return 1;
  }
  if (length >= name_prefix_length && memcmp(t, name_prefix, name_prefix_length) == 0) {
    finish(s, c, text + name_prefix_length, length - name_prefix_length);
    return 1;
  }
  return 0;
}

void server_files_drop(ServerClient *c) {
  drop(c);
  c->upload.swallowing = 0;
}
