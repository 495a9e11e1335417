// The loading screen: the title picture, the current step's text and the
// version, redrawn and swapped at once while start-up, the track loader,
// the race reset and shutdown work; the title view draws the same screen.
// Every update drops the pending input and lets go of every key binding, so
// that no key stays held across a load.
#pragma once

struct Window;

// Where the screen draws, and the version text it shows. Null (tests, tools,
// the headless race, after shutdown): updates only keep their timing.
void loading_set_window(Window *window, const char *version);

void show_loading(const char *text);
// Also logs the text ("%s\n").
void show_loading_logged(const char *text);
// With the dot counter reset.
void show_loading_reset(const char *text);
// The text with 0 to 3 dots, one more at each call; redrawn at most every 0.125 s.
void show_loading_progress(const char *text);
// "%.64s...done".
void show_loading_done(const char *text);
// Long scans: pumps the window on every call, redraws at most every 1/16 s.
void loading_progress_tick(const char *text);

// The longest real-time gap between two updates since loading_delay_reset,
// in seconds, and the text shown before it (the race reset logs both).
void loading_delay_reset();
double loading_max_delay();
const char *loading_max_delay_text();

// The screen itself inside an open frame (the title view; no swap).
void draw_title_screen(const char *message);
