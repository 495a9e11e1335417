// The window on SDL2: one window with a GL context, its events turned into
// time-stamped input events with PC scan codes.
#include <SDL.h>

#include <cstring>

#include "platform/input.h"
#include "platform/log.h"
#include "platform/window.h"

struct Window {
  SDL_Window *sdl;
  SDL_GLContext gl;
  int width, height;
  bool size_changed;
  bool shown;
};

namespace {

// The one window and the mode list: from window_open_gl to window_close.
Window *current = nullptr;
DisplayMode modes[64];
bool modes_built = false;
// SDL event stamps are milliseconds since SDL_Init; this maps them onto our clock.
double sdl_epoch = 0.0;

// SDL scancode (USB usage) to PC set-1 scan code; extended keys + 256.
int pc_scan_code(SDL_Scancode s) {
  if (s >= SDL_SCANCODE_A && s <= SDL_SCANCODE_Z) {
    static const int letters[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                    49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
    return letters[s - SDL_SCANCODE_A];
  }
  if (s >= SDL_SCANCODE_1 && s <= SDL_SCANCODE_0) return 2 + (s - SDL_SCANCODE_1);
  if (s >= SDL_SCANCODE_F1 && s <= SDL_SCANCODE_F10) return 59 + (s - SDL_SCANCODE_F1);
  switch (s) {
    case SDL_SCANCODE_RETURN: return 28;
    case SDL_SCANCODE_ESCAPE: return 1;
    case SDL_SCANCODE_BACKSPACE: return 14;
    case SDL_SCANCODE_TAB: return 15;
    case SDL_SCANCODE_SPACE: return 57;
    case SDL_SCANCODE_MINUS: return 12;
    case SDL_SCANCODE_EQUALS: return 13;
    case SDL_SCANCODE_LEFTBRACKET: return 26;
    case SDL_SCANCODE_RIGHTBRACKET: return 27;
    case SDL_SCANCODE_BACKSLASH: return 43;
    case SDL_SCANCODE_SEMICOLON: return 39;
    case SDL_SCANCODE_APOSTROPHE: return 40;
    case SDL_SCANCODE_GRAVE: return 41;
    case SDL_SCANCODE_COMMA: return 51;
    case SDL_SCANCODE_PERIOD: return 52;
    case SDL_SCANCODE_SLASH: return 53;
    case SDL_SCANCODE_CAPSLOCK: return 58;
    case SDL_SCANCODE_F11: return 87;
    case SDL_SCANCODE_F12: return 88;
    case SDL_SCANCODE_PAUSE: return 69;
    case SDL_SCANCODE_SCROLLLOCK: return 70;
    case SDL_SCANCODE_INSERT: return 256 + 82;
    case SDL_SCANCODE_HOME: return 256 + 71;
    case SDL_SCANCODE_PAGEUP: return 256 + 73;
    case SDL_SCANCODE_DELETE: return 256 + 83;
    case SDL_SCANCODE_END: return 256 + 79;
    case SDL_SCANCODE_PAGEDOWN: return 256 + 81;
    case SDL_SCANCODE_RIGHT: return 256 + 77;
    case SDL_SCANCODE_LEFT: return 256 + 75;
    case SDL_SCANCODE_DOWN: return 256 + 80;
    case SDL_SCANCODE_UP: return 256 + 72;
    case SDL_SCANCODE_NUMLOCKCLEAR: return 256 + 69;
    case SDL_SCANCODE_KP_DIVIDE: return 256 + 53;
    case SDL_SCANCODE_KP_MULTIPLY: return 55;
    case SDL_SCANCODE_KP_MINUS: return 74;
    case SDL_SCANCODE_KP_PLUS: return 78;
    case SDL_SCANCODE_KP_ENTER: return 256 + 28;
    case SDL_SCANCODE_KP_1: return 79;
    case SDL_SCANCODE_KP_2: return 80;
    case SDL_SCANCODE_KP_3: return 81;
    case SDL_SCANCODE_KP_4: return 75;
    case SDL_SCANCODE_KP_5: return 76;
    case SDL_SCANCODE_KP_6: return 77;
    case SDL_SCANCODE_KP_7: return 71;
    case SDL_SCANCODE_KP_8: return 72;
    case SDL_SCANCODE_KP_9: return 73;
    case SDL_SCANCODE_KP_0: return 82;
    case SDL_SCANCODE_KP_PERIOD: return 83;
    case SDL_SCANCODE_LCTRL: return 29;
    case SDL_SCANCODE_LSHIFT: return 42;
    case SDL_SCANCODE_LALT: return 56;
    case SDL_SCANCODE_RCTRL: return 256 + 29;
    case SDL_SCANCODE_RSHIFT: return 54;
    case SDL_SCANCODE_RALT: return 256 + 56;
    case SDL_SCANCODE_LGUI: return 256 + 91;
    case SDL_SCANCODE_RGUI: return 256 + 92;
    case SDL_SCANCODE_APPLICATION: return 256 + 93;
    case SDL_SCANCODE_NONUSBACKSLASH: return 86;
    default: return -1;
  }
}

HovlTime event_time(Uint32 timestamp) {
  HovlTime now = time_now();
  double when = sdl_epoch + timestamp * 0.001;
  // Never stamp an event in the future of our clock.
  if (when > time_seconds(now)) return now;
  return time_from_seconds(when);
}

void pump_current() {
  if (current) window_pump(current);
}

}  // namespace

void window_pump(Window *window) {
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    switch (e.type) {
      case SDL_QUIT:
        input_push_event(event_close, 1, event_time(e.quit.timestamp));
        break;
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        if (e.key.repeat) break;
        int scan = pc_scan_code(e.key.keysym.scancode);
        if (scan >= 0) input_push_event(event_key_base + scan, e.type == SDL_KEYDOWN, event_time(e.key.timestamp));
        break;
      }
      case SDL_TEXTINPUT: {
        HovlTime t = event_time(e.text.timestamp);
        for (const char *p = e.text.text; *p; p++)
          if (static_cast<unsigned char>(*p) < 128) input_push_event(static_cast<unsigned char>(*p), 1, t);
        break;
      }
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        int code = e.button.button == SDL_BUTTON_LEFT     ? event_mouse_left
                   : e.button.button == SDL_BUTTON_MIDDLE ? event_mouse_middle
                   : e.button.button == SDL_BUTTON_RIGHT  ? event_mouse_right
                                                          : -1;
        if (code >= 0) input_push_event(code, e.type == SDL_MOUSEBUTTONDOWN, event_time(e.button.timestamp));
        break;
      }
      case SDL_MOUSEMOTION:
        input_set_cursor(e.motion.x, e.motion.y);
        break;
      case SDL_WINDOWEVENT:
        if (!window) break;
        if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
          window->width = e.window.data1;
          window->height = e.window.data2;
          window->size_changed = true;
          hovl_log("WM_SIZE message %dx%d\n", window->width, window->height);
        } else if (e.window.event == SDL_WINDOWEVENT_SHOWN || e.window.event == SDL_WINDOWEVENT_RESTORED ||
                   e.window.event == SDL_WINDOWEVENT_EXPOSED) {
          window->shown = true;
        } else if (e.window.event == SDL_WINDOWEVENT_HIDDEN || e.window.event == SDL_WINDOWEVENT_MINIMIZED) {
          window->shown = false;
        }
        break;
      default:
        break;
    }
  }
}

static void fatal_close_window() {
  if (current) window_close(current);
}

Window *window_open_gl(const char *title, int width, int height, int mode_flags, int alpha_bits, int depth_bits,
                       int stencil_bits, int accum_bits) {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    hovl_log("Can't create window! (%s)\n", SDL_GetError());
    return nullptr;
  }
  sdl_epoch = time_seconds(time_now()) - SDL_GetTicks64() * 0.001;
  display_modes();
  bool fullscreen = (mode_flags & window_start_fullscreen) && !(mode_flags & window_no_fullscreen);
  int colour = mode_flags & 0xFF;
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth_bits);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, alpha_bits);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, stencil_bits);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, accum_bits / 4);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, accum_bits / 4);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, accum_bits / 4);
  int channel = colour >= 24 ? 8 : 5;
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, channel);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, channel);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, channel);
  if (width <= 0 || height <= 0) {
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
      width = desktop.w;
      height = desktop.h;
    } else {
      width = 800;
      height = 600;
    }
  }
  hovl_log("Creating window\n");
  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_ALLOW_HIGHDPI;
  if (!(mode_flags & window_no_fullscreen)) flags |= SDL_WINDOW_RESIZABLE;
  if (fullscreen) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
  SDL_Window *sdl = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height, flags);
  if (!sdl) {
    // Fewer buffer bits are better than no window.
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    sdl = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height, flags);
  }
  if (!sdl) {
    hovl_log("Can't create window! (%s)\n", SDL_GetError());
    return nullptr;
  }
  hovl_log("Creating OpenGL context\n");
  SDL_GLContext gl = SDL_GL_CreateContext(sdl);
  if (!gl) {
    hovl_log("Couldn't create OpenGL context (%s)\n", SDL_GetError());
    SDL_DestroyWindow(sdl);
    return nullptr;
  }
  SDL_GL_MakeCurrent(sdl, gl);
  Window *window = new Window{sdl, gl, 0, 0, true, true};
  SDL_GL_GetDrawableSize(sdl, &window->width, &window->height);
  current = window;
  input_make_aliases();
  input_set_pump(pump_current);
  hovl_on_fatal(fatal_close_window);
  return window;
}

void window_close(Window *window) {
  if (!window) return;
  hovl_log("Deleting OpenGL context\n");
  SDL_GL_DeleteContext(window->gl);
  hovl_log("Closing input devices\n");
  input_close_all();
  hovl_log("Destroying window\n");
  SDL_DestroyWindow(window->sdl);
  if (current == window) {
    current = nullptr;
    input_set_pump(nullptr);
  }
  delete window;
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  hovl_log("Window shutdown complete\n");
}

void window_set_mode(Window *window, int width, int height, int fullscreen) {
  if (!window) return;
  if (fullscreen) {
    SDL_SetWindowFullscreen(window->sdl, SDL_WINDOW_FULLSCREEN_DESKTOP);
  } else {
    SDL_SetWindowFullscreen(window->sdl, 0);
    if (width > 0 && height > 0) SDL_SetWindowSize(window->sdl, width, height);
  }
}

bool window_frame_begin(Window *window, Viewport *viewport) {
  if (!window || !window->gl || !window->shown) return false;
  Uint32 flags = SDL_GetWindowFlags(window->sdl);
  if (flags & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED)) return false;
  SDL_GL_GetDrawableSize(window->sdl, &window->width, &window->height);
  *viewport = {0, 0, window->width, window->height};
  return true;
}

void window_frame_end(Window *window) {
  if (window) SDL_GL_SwapWindow(window->sdl);
}

bool window_size_changed(Window *window, int *width, int *height) {
  if (!window) return false;
  SDL_GL_GetDrawableSize(window->sdl, width, height);
  bool changed = window->size_changed;
  window->size_changed = false;
  return changed;
}

bool window_is_shown(Window *window) { return window && window->shown; }

const DisplayMode *display_modes() {
  if (modes_built) return modes;
  modes_built = true;
  int count = 0;
  SDL_DisplayMode desktop;
  if (SDL_WasInit(SDL_INIT_VIDEO) && SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
    modes[count++] = {desktop.w, desktop.h, static_cast<int>(SDL_BITSPERPIXEL(desktop.format))};
    hovl_log("Registry mode is %dx%dx%d@%dhz\n", desktop.w, desktop.h, modes[0].bits, desktop.refresh_rate);
    int n = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < n && count < 63; i++) {
      SDL_DisplayMode m;
      if (SDL_GetDisplayMode(0, i, &m) != 0) continue;
      int bits = static_cast<int>(SDL_BITSPERPIXEL(m.format));
      bool seen = false;
      for (int j = 0; j < count; j++)
        if (modes[j].width == m.w && modes[j].height == m.h && modes[j].bits == bits) seen = true;
      if (seen) continue;
      hovl_log("Found mode %dx%dx%d@%dhz\n", m.w, m.h, bits, m.refresh_rate);
      modes[count++] = {m.w, m.h, bits};
    }
  }
  modes[count] = {0, 0, 0};
  return modes;
}

DisplayMode choose_fullscreen_mode(const DisplayMode *list, DisplayMode desktop, int width, int height) {
  if (width <= 0 || height <= 0) return desktop;
  const DisplayMode *best = nullptr;
  for (const DisplayMode *m = list; m->width; m++) {
    if (m->width < width || m->height < height) continue;
    if (!best || m->width + m->height < best->width + best->height) best = m;
  }
  return best ? *best : desktop;
}
