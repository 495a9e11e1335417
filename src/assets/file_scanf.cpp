// dfile_vscanf: scanf over a DataFile.
//
// It follows the C library's fscanf step by step, so data files read the
// same as they always have: which characters a conversion takes, where it
// stops, what a partial match such as "1e+" or "0x" leaves consumed, how
// widths count, and when the result is -1. fscanf itself never pushes back
// more than the one character it has just read, and neither does this
// reader, so the DataFile's single pushback slot is all it needs; the
// characters of a partial match stay consumed exactly as with fscanf.
// Numbers always use "." as the decimal point, whatever the locale.
#include <locale.h>

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "assets/file.h"
#include "assets/file_local.h"

namespace {

enum : unsigned {
  suppress = 1,
  size_char = 2,    // hh
  size_short = 4,   // h
  size_long = 8,    // l, and with size_double ll L q
  size_double = 16, // L, ll, q: long double for floats
};

// The text of one number, grown on the heap past its inline room.
struct NumberText {
  char inline_room[128];
  char *text;
  int length, capacity;
};

void text_init(NumberText *t) {
  t->text = t->inline_room;
  t->length = 0;
  t->capacity = static_cast<int>(sizeof t->inline_room);
}

void text_add(NumberText *t, int c) {
  if (t->length + 1 >= t->capacity) {
    int next = t->capacity * 2;
    char *grown = static_cast<char *>(alloc_or_die(static_cast<size_t>(next)));
    memcpy(grown, t->text, static_cast<size_t>(t->length));
    if (t->text != t->inline_room) tracked_free(t->text);
    t->text = grown;
    t->capacity = next;
  }
  t->text[t->length++] = static_cast<char>(c);
  t->text[t->length] = 0;
}

void text_free(NumberText *t) {
  if (t->text != t->inline_room) tracked_free(t->text);
  text_init(t);
}

// The "C" locale for number conversion: created once, lives for the process.
locale_t c_locale() {
  static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

bool is_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_xdigit(int c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int lower(int c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

struct Scanner {
  DataFile *file;
  int c;        // the character last read, -1 once the data has ended
  long read_in; // characters consumed since the call began
  NumberText number;
};

// Once the data has ended every further read ends too, as in fscanf.
int in_char(Scanner *s) {
  if (s->c < 0) return -1;
  s->c = dfile_getc(s->file);
  if (s->c >= 0) s->read_in++;
  return s->c;
}

void un_char(Scanner *s, int c) {
  if (c < 0) return;
  s->read_in--;
  dfile_unget(s->file, c);
}

// Reads a decimal width; an overflowing one reads as -1 (no limit).
int read_width(const unsigned char **f) {
  int value = **f - '0';
  while (is_digit(*++*f)) {
    if (value < 0) continue;
    int digit = **f - '0';
    if (value > (INT_MAX - digit) / 10)
      value = -1;
    else
      value = value * 10 + digit;
  }
  return value;
}

enum Outcome { next_directive, matching_failure, input_failure };

Outcome scan_integer(Scanner *s, int base, bool is_signed, unsigned flags, int width, va_list *args, int *done) {
  NumberText *t = &s->number;
  int c = in_char(s);
  if (c < 0) return input_failure;
  if (c == '-' || c == '+') {
    text_add(t, c);
    if (width > 0) --width;
    c = in_char(s);
  }
  if (width != 0 && c == '0') {
    if (width > 0) --width;
    text_add(t, c);
    c = in_char(s);
    if (width != 0 && lower(c) == 'x') {
      if (base == 0) base = 16;
      if (base == 16) {
        if (width > 0) --width;
        c = in_char(s);
      }
    } else if (base == 0) {
      base = 8;
    }
  }
  if (base == 0) base = 10;
  while (c >= 0 && width != 0) {
    if (base == 16 ? !is_xdigit(c) : (!is_digit(c) || c - '0' >= base)) break;
    text_add(t, c);
    if (width > 0) --width;
    c = in_char(s);
  }
  un_char(s, c);
  if (t->length == 0 || (t->length == 1 && (t->text[0] == '+' || t->text[0] == '-'))) return matching_failure;
  char *end = nullptr;
  long value = 0;
  unsigned long uvalue = 0;
  if (is_signed)
    value = strtol(t->text, &end, base);
  else
    uvalue = strtoul(t->text, &end, base);
  if (end == t->text) return matching_failure;
  if (flags & suppress) return next_directive;
  if (is_signed) {
    if (flags & size_long)
      *va_arg(*args, long *) = value;
    else if (flags & size_short)
      *va_arg(*args, short *) = static_cast<short>(value);
    else if (flags & size_char)
      *va_arg(*args, signed char *) = static_cast<signed char>(value);
    else
      *va_arg(*args, int *) = static_cast<int>(value);
  } else {
    if (flags & size_long)
      *va_arg(*args, unsigned long *) = uvalue;
    else if (flags & size_short)
      *va_arg(*args, unsigned short *) = static_cast<unsigned short>(uvalue);
    else if (flags & size_char)
      *va_arg(*args, unsigned char *) = static_cast<unsigned char>(uvalue);
    else
      *va_arg(*args, unsigned *) = static_cast<unsigned>(uvalue);
  }
  ++*done;
  return next_directive;
}

// Reads the rest of a word such as "nan" or "infinity" whose first letter
// is already in the text: each letter must follow, within the width.
bool scan_word(Scanner *s, const char *rest, int *width) {
  for (; *rest; rest++) {
    if (*width == 0 || in_char(s) < 0 || lower(s->c) != *rest) return false;
    if (*width > 0) --*width;
    text_add(&s->number, s->c);
  }
  return true;
}

Outcome scan_float(Scanner *s, unsigned flags, int width, va_list *args, int *done) {
  NumberText *t = &s->number;
  int c = in_char(s);
  if (width > 0) --width;
  if (c < 0) return input_failure;
  bool got_digit = false, got_dot = false, got_e = false, hexa = false;
  int got_sign = 0;
  if (c == '-' || c == '+') {
    got_sign = 1;
    text_add(t, c);
    if (width == 0 || in_char(s) < 0) return matching_failure;
    c = s->c;
    if (width > 0) --width;
  }
  bool special = false;
  if (lower(c) == 'n') {
    text_add(t, c);
    if (!scan_word(s, "an", &width)) return matching_failure;
    special = true;
  } else if (lower(c) == 'i') {
    text_add(t, c);
    if (!scan_word(s, "nf", &width)) return matching_failure;
    if (width != 0 && in_char(s) >= 0) {
      if (lower(s->c) == 'i') {
        if (width > 0) --width;
        text_add(t, s->c);
        if (!scan_word(s, "nity", &width)) return matching_failure;
      } else {
        un_char(s, s->c);
      }
    }
    special = true;
  }
  if (!special) {
    int exp_char = 'e';
    if (width != 0 && c == '0') {
      text_add(t, c);
      c = in_char(s);
      if (width > 0) --width;
      if (width != 0 && lower(c) == 'x') {
        text_add(t, c);
        hexa = true;
        exp_char = 'p';
        c = in_char(s);
        if (width > 0) --width;
      } else {
        got_digit = true;
      }
    }
    for (;;) {
      if (is_digit(c)) {
        text_add(t, c);
        got_digit = true;
      } else if (!got_e && hexa && is_xdigit(c)) {
        text_add(t, c);
        got_digit = true;
      } else if (got_e && t->text[t->length - 1] == exp_char && (c == '-' || c == '+')) {
        text_add(t, c);
      } else if (got_digit && !got_e && lower(c) == exp_char) {
        text_add(t, exp_char);
        got_e = got_dot = true;
      } else if (!got_dot && c == '.') {
        text_add(t, c);
        got_dot = true;
      } else {
        un_char(s, c);
        break;
      }
      if (width == 0 || in_char(s) < 0) break;
      c = s->c;
      if (width > 0) --width;
    }
    if (t->length == got_sign || (hexa && t->length == 2 + got_sign)) return matching_failure;
  }
  char *end = nullptr;
  if (flags & size_double) {
    long double value = strtold_l(t->text, &end, c_locale());
    if (end == t->text) return matching_failure;
    if (!(flags & suppress)) *va_arg(*args, long double *) = value;
  } else if (flags & size_long) {
    double value = strtod_l(t->text, &end, c_locale());
    if (end == t->text) return matching_failure;
    if (!(flags & suppress)) *va_arg(*args, double *) = value;
  } else {
    float value = strtof_l(t->text, &end, c_locale());
    if (end == t->text) return matching_failure;
    if (!(flags & suppress)) *va_arg(*args, float *) = value;
  }
  if (!(flags & suppress)) ++*done;
  return next_directive;
}

// The set of a "%[" conversion; f points after the "[" (and "^").
bool read_set(const unsigned char **format, bool *set) {
  const unsigned char *f = *format;
  memset(set, 0, 256 * sizeof(bool));
  int fc = *f;
  if (fc == ']' || fc == '-') {
    set[fc] = true;
    ++f;
  }
  while ((fc = *f++) != 0 && fc != ']') {
    if (fc == '-' && *f != 0 && *f != ']' && f[-2] <= *f) {
      // From the character before the "-" up to the one after it (which
      // the next turn adds).
      for (fc = f[-2]; fc < *f; ++fc) set[fc] = true;
    } else {
      set[fc] = true;
    }
  }
  if (fc == 0) return false;  // no closing "]"
  *format = f;
  return true;
}

Outcome scan_set(Scanner *s, const unsigned char **f, unsigned flags, int width, va_list *args, int *done) {
  char *out = (flags & suppress) ? nullptr : va_arg(*args, char *);
  bool not_in = false;
  if (**f == '^') {
    ++*f;
    not_in = true;
  }
  if (width < 0) width = INT_MAX;
  bool set[256];
  if (!read_set(f, set)) return matching_failure;
  long start = s->read_in;
  if (in_char(s) < 0) return input_failure;
  do {
    int c = s->c;
    if (set[c] == not_in) {
      un_char(s, c);
      break;
    }
    if (out) *out++ = static_cast<char>(c);
  } while (--width > 0 && in_char(s) >= 0);
  if (start == s->read_in) return matching_failure;
  if (out) {
    *out = 0;
    ++*done;
  }
  return next_directive;
}

}  // namespace

int dfile_vscanf(DataFile *file, const char *format, va_list args_in) {
  if (!file || !format) return -1;
  Scanner scanner = {file, 0, 0, {}};
  Scanner *s = &scanner;
  text_init(&s->number);
  va_list args;
  va_copy(args, args_in);
  const unsigned char *f = reinterpret_cast<const unsigned char *>(format);
  int done = 0;
  bool skip_space = false;
  Outcome outcome = next_directive;

  while (outcome == next_directive && *f) {
    int fc = *f++;
    if (fc != '%') {
      // White space in the format is remembered and skipped lazily, before
      // the next directive that reads.
      if (is_space(fc)) {
        skip_space = true;
        continue;
      }
      int c = in_char(s);
      if (c < 0) {
        outcome = input_failure;
        break;
      }
      if (skip_space) {
        while (is_space(s->c))
          if (in_char(s) < 0) break;
        if (s->c < 0) {
          outcome = input_failure;
          break;
        }
        skip_space = false;
      }
      if (s->c != fc) {
        un_char(s, s->c);
        outcome = matching_failure;
      }
      continue;
    }

    unsigned flags = 0;
    int width = 0;
    if (is_digit(*f)) {
      width = read_width(&f);
      if (*f == '$') {  // positional arguments are not supported
        outcome = matching_failure;
        break;
      }
    } else {
      while (*f == '*' || *f == '\'' || *f == 'I')
        if (*f++ == '*') flags |= suppress;
      if (is_digit(*f)) width = read_width(&f);
    }
    if (width == 0) width = -1;

    switch (*f++) {
      case 'h':
        if (*f == 'h') {
          ++f;
          flags |= size_char;
        } else {
          flags |= size_short;
        }
        break;
      case 'l':
        if (*f == 'l') {
          ++f;
          flags |= size_double | size_long;
        } else {
          flags |= size_long;
        }
        break;
      case 'q':
      case 'L':
        flags |= size_double | size_long;
        break;
      case 'j':
      case 'z':
      case 't':
        flags |= size_long;
        break;
      default:
        --f;
        break;
    }
    if (*f == 0) {
      outcome = matching_failure;
      break;
    }

    fc = *f++;
    if (skip_space || (fc != '[' && fc != 'c' && fc != 'n')) {
      do
        in_char(s);
      while (is_space(s->c));
      un_char(s, s->c);
      skip_space = false;
    }

    s->number.length = 0;
    switch (fc) {
      case '%':
        if (in_char(s) < 0) {
          outcome = input_failure;
        } else if (s->c != '%') {
          un_char(s, s->c);
          outcome = matching_failure;
        }
        break;
      case 'n':
        if (!(flags & suppress)) {
          if (flags & size_long)
            *va_arg(args, long *) = s->read_in;
          else if (flags & size_short)
            *va_arg(args, short *) = static_cast<short>(s->read_in);
          else if (flags & size_char)
            *va_arg(args, char *) = static_cast<char>(s->read_in);
          else
            *va_arg(args, int *) = static_cast<int>(s->read_in);
        }
        break;
      case 'c': {
        char *out = (flags & suppress) ? nullptr : va_arg(args, char *);
        if (width == -1) width = 1;
        if (in_char(s) < 0) {
          outcome = input_failure;
          break;
        }
        // A short field at the end of the data still counts, as in fscanf.
        do
          if (out) *out++ = static_cast<char>(s->c);
        while (--width > 0 && in_char(s) >= 0);
        if (out) ++done;
        break;
      }
      case 's': {
        char *out = (flags & suppress) ? nullptr : va_arg(args, char *);
        if (in_char(s) < 0) {
          outcome = input_failure;
          break;
        }
        do {
          if (is_space(s->c)) {
            un_char(s, s->c);
            break;
          }
          if (out) *out++ = static_cast<char>(s->c);
        } while ((width <= 0 || --width > 0) && in_char(s) >= 0);
        if (out) {
          *out = 0;
          ++done;
        }
        break;
      }
      case 'd':
        outcome = scan_integer(s, 10, true, flags, width, &args, &done);
        break;
      case 'i':
        outcome = scan_integer(s, 0, true, flags, width, &args, &done);
        break;
      case 'u':
        outcome = scan_integer(s, 10, false, flags, width, &args, &done);
        break;
      case 'o':
        outcome = scan_integer(s, 8, false, flags, width, &args, &done);
        break;
      case 'x':
      case 'X':
        outcome = scan_integer(s, 16, false, flags, width, &args, &done);
        break;
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        outcome = scan_float(s, flags, width, &args, &done);
        break;
      case '[':
        outcome = scan_set(s, &f, flags, width, &args, &done);
        break;
      default:
        outcome = matching_failure;
        break;
    }
  }

  // White space at the very end of the format still eats the data's.
  if (outcome == next_directive && skip_space) {
    do
      in_char(s);
    while (is_space(s->c));
    un_char(s, s->c);
  }
  va_end(args);
  text_free(&s->number);
  if (outcome == input_failure && done == 0) return -1;
  return done;
}

int dfile_scanf(DataFile *file, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int result = dfile_vscanf(file, format, args);
  va_end(args);
  return result;
}
