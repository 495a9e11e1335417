#include "net/file_transfer.h"

#include <cstdio>
#include <cstring>

#include "assets/file.h"
#include "net/client.h"
#include "net/protocol.h"
#include "platform/log.h"

namespace {

constexpr char part_prefix[] = "sendpart -";
constexpr int part_prefix_length = sizeof part_prefix - 1;
static_assert(part_prefix_length + file_part_bytes <= reliable_text_max, "a part fits in one reliable text");

// The transfer; from "sendfile" to its closing text or a refusal.
struct Transfer {
  DataFile *file;
  char closing[file_closing_size];
  int ready;
  double next_part;
};
Transfer transfer;

bool name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
}

void close_transfer() {
  if (transfer.file) dfile_close(transfer.file);
  transfer.file = nullptr;
  transfer.ready = 0;
}

}  // namespace

const char *file_name_problem(const char *name) {
  if (!*name) return "Usage: sendfile <filename>";
  for (const char *c = name; *c; c++)
    if (!name_char(*c)) return "Filename may only contain alphanumeric characters, '_' or '.'";
  // Both would name a directory, never a file.
  if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return "Filename may not be '.' or '..'";
  // The spoken limit is 1023 characters for the path and the closing text;
  // a reliable text holds fewer, and a cut name would be a wrong one.
  if (strlen(name) > static_cast<size_t>(file_name_max)) return "Filename too long";
  return nullptr;
}

void file_send_start(const char *line) {
  const char *p = line;
  while (*p == ' ' || *p == '\t') p++;
  while (*p && *p != ' ' && *p != '\t') p++;  // the command word
  while (*p == ' ' || *p == '\t') p++;
  const char *name = p;
  if (const char *problem = file_name_problem(name)) {
    print_message(problem);
    return;
  }
  if (transfer.file) {
    close_transfer();
    print_message("Stopping previous transfer");
  }
  if (!net_connected()) {
    print_message("Not connected to server");
    return;
  }
  char path[file_closing_size];
  snprintf(path, sizeof path, "@outgoing/%s", name);
  transfer.file = dfile_open(path, "rb");
  if (!transfer.file) {
    print_message("Can't open file");
    return;
  }
  snprintf(transfer.closing, sizeof transfer.closing, "namefile %s", name);
  transfer.ready = 0;
  transfer.next_part = 0;
  net_send_reliable(kind_text, "sendfile", 8);
  print_message("Sending file");
}

void file_send_step(double now) {
  if (!transfer.ready || !transfer.file || now < transfer.next_part) return;
  transfer.next_part = now + file_part_interval;
  char message[part_prefix_length + file_part_bytes];
  memcpy(message, part_prefix, part_prefix_length);
  int got = dfile_read(transfer.file, message + part_prefix_length, file_part_bytes);
  if (got > 0) {
    net_send_reliable(kind_text, message, part_prefix_length + got);
    return;
  }
  char closing[file_closing_size];
  snprintf(closing, sizeof closing, "%s", transfer.closing);
  close_transfer();
  net_send_reliable(kind_text, closing, static_cast<int>(strlen(closing)));
}

void file_send_reply(int allowed) {
  if (allowed) {
    transfer.ready = 1;
    return;
  }
  close_transfer();
}

void file_send_cancel() { close_transfer(); }

int file_send_active() { return transfer.file != nullptr; }
