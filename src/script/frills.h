// The track's "frills.js": a small JavaScript program that animates the
// trackside decoration (moves, tints and poses billboards and statues,
// composes animated texture frames) and may read the race state. It runs in
// one Duktape heap from the race reset that loaded it to the next reset.
//
// The global object "qx" holds the functions the game provides and, from the
// prelude evaluated before the track's script, convenience functions, the
// handler hooks and a few values (qx.max_slots, qx.first_lap_length,
// qx.normal_lap_length, qx.seconds_per_tic, qx.tics_per_second and
// qx.seconds). A track script defines qx.frame_handler and/or
// qx.tic_handler, which get the race time in seconds.
//
// A script never stops the game. Every call into it is bounded in time and
// its heap in size; a script that runs out of either gets one "javascript
// error" line and is not called again until the next race reset. (These
// bounds are ours: a script that never returned used to freeze the game.)
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int script_error_size = 1024;
// Processor time one handler call may take, and the track's script file at
// load (the watchdog cuts a call at twice as much).
constexpr double frills_call_seconds = 0.02;
constexpr double frills_load_seconds = 0.25;
// The script heap's size limit.
constexpr size_t frills_heap_limit = 16u << 20;
// At most this many qx.message lines a second reach the player (with a
// short burst allowed); the rest are dropped so a script cannot flood the log.
constexpr double frills_messages_per_second = 4;
constexpr double frills_message_burst = 12;

// The race reset: "@" + track + "/frills.js". Unloads the old script first;
// does nothing more when the file cannot be read.
void frills_load(const char *path);
// The same from source text (`name` labels its errors).
void frills_load_source(const char *source, const char *name);
// Destroys the context (race reset, shutdown).
void frills_unload();
// Once per drawn frame and once per simulation tic, with the race's tic.
void frills_frame(int tic);
void frills_tic(int tic);

// Calls the function at a dotted property path from the global object (for
// example "qx.tic_handler_") with string arguments. Returns its numeric
// result, or 0 when the path cannot be followed, does not end in a function,
// or the call fails; the reason is then in script_error().
double script_call(const char *path, int count, const char *const *args);
// Evaluates source text; 1 on success, else 0 with the error's text kept.
int script_eval(const char *source);
// The last error text; empty after a success.
const char *script_error();

int frills_loaded();   // a script context exists
int frills_stopped();  // it ran out of time or memory: handlers are no longer called
size_t frills_heap_bytes();

// The pixel rule of qx.paste_custom_frame, on plain buffers: a rectangle of
// the source frame is copied into the destination (both width x height with
// `channels` bytes a pixel, 3 or 4), with the corners and size given as
// fractions of the picture (sx, sy: source corner; dx, dy: destination
// corner; w, h: size). RGB pixels are copied; RGBA pixels are composited
// over the destination. Returns the number of pixels written.
int paste_frame_pixels(const uint8_t *source, uint8_t *destination, int width, int height, int channels, double sx,
                       double sy, double dx, double dy, double w, double h);
