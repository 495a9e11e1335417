// The diagnostic log, the HOVL_OPTIONS option store, name aliases, the fatal
// out-of-memory path and the player's message ring behind print_message.
#pragma once

// printf-style; writes one entry prefixed with the uptime "[h:mm:ss.hh] " and
// flushes it. The first call decides the log file: a format starting with
// "HOVL_LOGFILE=" names it (HOVL_LOGFILE in the environment wins). A null
// format closes the log.
void hovl_log(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Logs "Error: %s\n" and remembers the text (callers pass literals).
void hovl_error(const char *text);
const char *hovl_last_error();

// A modal box with one OK button; falls back to standard error without a display.
void hovl_message_box(const char *title, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Queries of HOVL_OPTIONS, written as [name:value][name:value].
int hovl_option_bool(const char *name, int fallback);
int hovl_option_int(const char *name, int fallback);

// The first alias for a name wins; returns 1 when added.
int hovl_alias(const char *name, const char *value);
const char *hovl_alias_lookup(const char *name);

// Closes audio and the window, shows "Out of virtual memory", exits 1.
[[noreturn]] void hovl_fatal_out_of_memory();
// Modules that hold a device register how to release it on the fatal path.
void hovl_on_fatal(void (*release)());

// Tests only: forget the log state, the option text and the aliases.
void hovl_reset_for_tests();

// Whether the first hovl_log call (the one that decides the log file) has
// happened; a configuration call after it would be logged as an entry.
int hovl_log_started();

// --- The message ring (main thread only) ---------------------------------
constexpr int message_ring_lines = 1000;
constexpr int message_line_size = 256;

// Logs the text and shows it to the player; returns the visible count.
int print_message(const char *text);
// Tools without a screen show the messages their own way (null: none).
void message_set_observer(void (*observer)(const char *text));
// The main loop keeps the ring on the program clock (seconds).
void message_set_clock(double program_clock);
// Drops one visible line when the expiry time has passed.
void message_expire(double program_clock);
// The limit of visible lines (the message_lines setting, default 5).
void message_set_limit(int lines);
int message_visible_count();
// The n-th newest line (0 = newest).
const char *message_line(int newest_index);
void message_clear();
