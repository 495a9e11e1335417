// Numbers typed by people: option values, configuration lines. The whole
// text must be the number (no trailing letters, nothing empty), finite and
// within the bounds; otherwise the call fails and leaves *out alone.
#pragma once

bool parse_long_within(const char *text, long low, long high, long *out);
bool parse_int_within(const char *text, int low, int high, int *out);
bool parse_double_within(const char *text, double low, double high, double *out);
