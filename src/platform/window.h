// The game window with its OpenGL context, display modes and the frame
// bracket. SDL2 lives behind these functions; window messages are always
// handled on the main thread (SDL wants its event pump there), whenever
// input events are asked for.
#pragma once

struct Window;

struct Viewport {
  int x, y, width, height;
};

struct DisplayMode {
  int width, height, bits;
};
constexpr int max_display_modes = 256;

// Mode flags of window_open_gl: the colour depth in the low byte, and:
constexpr int window_no_fullscreen = 0x100;
constexpr int window_start_fullscreen = 0x200;

// Creates the window and its GL context (made current) and rolls the input
// devices; null on failure. Sizes are in window units (0 x 0 = the desktop).
Window *window_open_gl(const char *title, int width, int height, int mode_flags,
                       int alpha_bits, int depth_bits, int stencil_bits, int accum_bits);
void window_close(Window *window);
// Full screen with the listed mode nearest the size, or windowed with that
// client size (0 x 0 = the desktop size).
void window_set_mode(Window *window, int width, int height, int fullscreen);
// The viewport in drawable pixels (which differ from window units on high-DPI
// displays); false when nothing may be drawn (no context, hidden, minimised).
bool window_frame_begin(Window *window, Viewport *viewport);
// Swaps the buffers of a frame that window_frame_begin opened.
void window_frame_end(Window *window);
// Closes such a frame without showing it (a frame drawn only to warm up).
void window_frame_discard(Window *window);
// Current client size in window units (what xres/yres store); true when it
// changed since the last call.
bool window_size_changed(Window *window, int *width, int *height);
bool window_is_shown(Window *window);
bool window_is_fullscreen(Window *window);

// The desktop mode first (when its depth is usable), then every other usable
// mode once; ends with a zero entry. Built once (it starts SDL's video if the
// window is not open yet; without a display it is just the zero entry).
const DisplayMode *display_modes();
// The full-screen mode for a requested size, from a mode list ending in a
// zero entry: the smallest one that holds the size, else the desktop.
DisplayMode choose_fullscreen_mode(const DisplayMode *modes, DisplayMode desktop, int width, int height);

// The address of a GL entry point of the current context (extensions and
// everything past GL 1.1), or null when the driver has none.
void *hovl_gl_proc(const char *name);

// Pumps window and controller messages into the input queue (window may be
// null when only controllers are open).
void window_pump(Window *window);
// PC scan code (extended keys + 256) of an SDL scancode, -1 when none.
int window_pc_scan_code(int sdl_scancode);
