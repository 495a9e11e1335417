#include "app/number_text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

bool parse_long_within(const char *text, long low, long high, long *out) {
  if (!text || !*text) return false;
  char *end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (end == text || *end || errno || v < low || v > high) return false;
  *out = v;
  return true;
}

bool parse_int_within(const char *text, int low, int high, int *out) {
  long v = 0;
  if (!parse_long_within(text, low, high, &v)) return false;
  *out = static_cast<int>(v);
  return true;
}

bool parse_double_within(const char *text, double low, double high, double *out) {
  if (!text || !*text) return false;
  char *end = nullptr;
  double v = strtod(text, &end);
  if (end == text || *end || !std::isfinite(v) || v < low || v > high) return false;
  *out = v;
  return true;
}
