// Text scanning shared by the track file readers: a file read whole into
// memory, then scanned with sscanf on bounded copies so that a long file
// stays linear to read.
#pragma once
#include <cstring>

struct DataFile;

namespace track_scan {

// The file's bytes (at most max_bytes) as a zero-terminated text; a zero
// byte inside the file ends the text like the end of the file. Free it with
// tracked_free. *truncated is set when the file was longer.
char *read_text(DataFile *file, int max_bytes, int *truncated);

inline int is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

inline void skip_space(const char **p) {
  while (is_space(**p)) (*p)++;
}

// The next white-space separated word, cut to size - 1 characters.
inline int next_token(const char **p, char *token, int size) {
  skip_space(p);
  int n = 0;
  while (**p && !is_space(**p)) {
    if (n < size - 1) token[n++] = **p;
    (*p)++;
  }
  token[n] = 0;
  return n > 0;
}

// A bounded copy of the text ahead for one sscanf.
inline void window(const char *p, char *copy, int size) {
  int n = 0;
  while (n < size - 1 && p[n]) {
    copy[n] = p[n];
    n++;
  }
  copy[n] = 0;
}

// Copies the line at *p (without its line feed) and moves past it; 0 at the end.
inline int next_line(const char **p, char *line, int size) {
  if (!**p) return 0;
  int n = 0;
  while (**p && **p != '\n') {
    if (n < size - 1) line[n++] = **p;
    (*p)++;
  }
  if (**p == '\n') (*p)++;
  line[n] = 0;
  return 1;
}

}  // namespace track_scan
