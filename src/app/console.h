// The console and chat line: the one-line input of the chat/console screen
// with its history, the scroll of the message view behind it, chat lines for
// the race server and the slash commands that reach the debugging and
// tuning functions without a menu.
//
// A line that begins with "/" or "\" is a command; any other line is chat.
// Exact commands must be the whole text after the slash; prefix commands
// take their arguments after the name and one blank; word commands may
// follow blanks and end at a blank or the end of the line. A line that is
// not handled (an unknown command, chat too soon after the last) stays in
// the input for correction.
#pragma once

struct FrameClock;

constexpr int console_history_lines = 100;  // entry 0 is the line being edited
constexpr int console_line_length = 119;
constexpr int console_max_scroll = 950;     // message lines the view goes back
constexpr double chat_interval = 2.0;       // seconds of program clock between chat lines

// The key handler of the chat/console screen: "enter" runs the line, "up"
// and "down" walk the history, "page up" and "page down" scroll the message
// view; other keys edit the line (cursor keys, backspace, delete, printable
// characters; insert mode, at most console_line_length characters).
void console_line_key(int code);
// Runs one line; returns 1 when it was handled.
int run_console_line(const char *text);

// What the screen draws.
const char *console_input();
int console_cursor();
int console_scroll();  // 0 .. console_max_scroll
int console_history_count();
const char *console_history_line(int index);  // 0 = the line being edited

// The main loop's clock: its program clock times chat lines and "fpshist"
// prints and clears its frame-time histogram. Null leaves chat untimed.
void console_set_frame_clock(FrameClock *clock);

// The "log" command's state: bit 0 labels terrain deformation.
int console_debug_flags();
float console_label_spacing();

// Tests: an empty line, history and scroll, chat never sent.
void console_reset();
