// The game window with its OpenGL context, display modes and the frame
// bracket. SDL2 lives behind these functions.
#pragma once

struct Window;

struct Viewport {
  int x, y, width, height;
};

struct DisplayMode {
  int width, height, bits;
};

constexpr int window_no_fullscreen = 0x100;
constexpr int window_start_fullscreen = 0x200;

Window *window_open_gl(const char *title, int width, int height, int mode_flags,
                       int alpha_bits, int depth_bits, int stencil_bits, int accum_bits);
void window_close(Window *window);
void window_set_mode(Window *window, int width, int height, int fullscreen);
// False when nothing may be drawn (hidden, minimised, no context).
bool window_frame_begin(Window *window, Viewport *viewport);
void window_frame_end(Window *window);
// Current client size; true when it changed since the last call.
bool window_size_changed(Window *window, int *width, int *height);
bool window_is_shown(Window *window);

// Ends with a zero entry.
const DisplayMode *display_modes();
// The full-screen mode for a requested size, from a mode list ending in a zero entry.
DisplayMode choose_fullscreen_mode(const DisplayMode *modes, DisplayMode desktop, int width, int height);

// Pumps window messages into the input queue.
void window_pump(Window *window);
