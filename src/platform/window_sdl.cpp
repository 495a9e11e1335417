// The window on SDL2: one window with a GL context, its events turned into
// time-stamped input events with PC scan codes, and the controllers (SDL
// joysticks, which covers game pads, wheels and pedals) as input devices.
#include <SDL.h>
// X11 calls its window handle "Window" too; rename it while its headers are read.
#define Window XWindow
#include <SDL_syswm.h>
#undef Window

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/input.h"
#include "platform/log.h"
#include "platform/window.h"

struct Window {
  SDL_Window *sdl;
  SDL_GLContext gl;
  bool fullscreen_allowed;
  bool fullscreen_active;
  int width, height;  // client size in window units
  bool size_changed;
  bool shown;  // from the show, hide, minimise and restore notices
  bool in_frame;
};

namespace {

// ------------------------------------------------------------ state

// The one window: from window_open_gl to window_close.
Window *current = nullptr;

// The mode list: built once, lives for the process.
DisplayMode modes[max_display_modes + 1];
bool modes_built = false;
static_assert(max_display_modes >= 1, "the mode list needs room for the desktop mode");

// Options read before the first window; live for the process.
bool options_read = false;
bool option_fullscreen = false;

// SDL stamps events with its millisecond tick count when it reads them.
// An event's time is "now" less its age in ticks: only differences of the
// two clocks count, so they cannot drift apart. Rounding to whole ticks
// could put an event before one read earlier, so times never go back.
// Lives for the process.
HovlTime last_sdl_time = {0, 0};

// Under X11 keys and buttons carry the server's millisecond time of the
// press, which tells a key pressed early in a frame from one pressed late.
// A local server counts on the same monotonic clock as ours, so its times
// are ours with the upper bits cut off; for any other server the delay
// between press and arrival is taken as the smallest one seen. Lives for the process.
bool server_delay_known = false;
int64_t server_delay_ms = 0;
bool pending_server_time = false;
Uint32 server_time_ms = 0;

// ------------------------------------------------------------ clock

HovlTime sdl_event_time(Uint32 timestamp) {
  // Unsigned subtraction keeps the age right across the 49-day wrap.
  Uint32 age_ms = static_cast<Uint32>(SDL_GetTicks()) - timestamp;
  if (age_ms > 60000) age_ms = 0;  // not a stamp of this session
  HovlTime when = time_from_seconds(time_seconds(time_now()) - age_ms * 0.001);
  if (time_compare(when, last_sdl_time) < 0) when = last_sdl_time;
  last_sdl_time = when;
  return when;
}

HovlTime server_event_time(Uint32 server_ms) {
  HovlTime now = time_now();
  int64_t now_ms = now.sec * 1000 + now.usec / 1000;
  // Server times are 32-bit and wrap; their difference to ours is what counts.
  int64_t delay = static_cast<int32_t>(static_cast<Uint32>(now_ms) - server_ms);
  // A delay far beyond any seen means the clocks do not agree (a remote
  // server, a suspended machine): start over from this event. A press is
  // never stamped later than its arrival.
  if (!server_delay_known || delay < server_delay_ms || delay - server_delay_ms > 10000) {
    server_delay_ms = !server_delay_known && delay >= 0 && delay < 10000 ? 0 : delay;
    if (server_delay_ms > delay) server_delay_ms = delay;
    server_delay_known = true;
  }
  int64_t late_ms = delay - server_delay_ms;
  return time_from_seconds(time_seconds(now) - static_cast<double>(late_ms) * 0.001);
}

// Keys, typed text and mouse buttons take the server time of the X event
// they came from; everything else SDL's stamp.
HovlTime event_time(Uint32 timestamp) {
  // Events are read in the order they happened: whichever clock stamps one,
  // it never goes before the one read earlier (a click's release must not
  // sort before its press when the two clocks disagree by a millisecond).
  static HovlTime last_event = {0, 0};
  HovlTime when = pending_server_time ? server_event_time(server_time_ms) : sdl_event_time(timestamp);
  if (time_compare(when, last_event) < 0) when = last_event;
  last_event = when;
  return when;
}

void system_event(const SDL_SysWMmsg *message) {
#if defined(SDL_VIDEO_DRIVER_X11)
  if (!message || message->subsystem != SDL_SYSWM_X11) return;
  const XEvent &x = message->msg.x11.event;
  switch (x.type) {
    case KeyPress:
    case KeyRelease:
      pending_server_time = true;
      server_time_ms = static_cast<Uint32>(x.xkey.time);
      break;
    case ButtonPress:
    case ButtonRelease:
      pending_server_time = true;
      server_time_ms = static_cast<Uint32>(x.xbutton.time);
      break;
    default:
      pending_server_time = false;
      break;
  }
#else
  (void)message;
#endif
}

// ------------------------------------------------------------ scan codes

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
    case SDL_SCANCODE_NONUSHASH: return 43;
    case SDL_SCANCODE_SEMICOLON: return 39;
    case SDL_SCANCODE_APOSTROPHE: return 40;
    case SDL_SCANCODE_GRAVE: return 41;
    case SDL_SCANCODE_COMMA: return 51;
    case SDL_SCANCODE_PERIOD: return 52;
    case SDL_SCANCODE_SLASH: return 53;
    case SDL_SCANCODE_CAPSLOCK: return 58;
    case SDL_SCANCODE_F11: return 87;
    case SDL_SCANCODE_F12: return 88;
    // The window messages give Pause the bare code of Num Lock, and Num
    // Lock the extended one.
    case SDL_SCANCODE_PAUSE: return 69;
    case SDL_SCANCODE_NUMLOCKCLEAR: return 256 + 69;
    case SDL_SCANCODE_SCROLLLOCK: return 70;
    case SDL_SCANCODE_PRINTSCREEN: return 256 + 55;
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

// ------------------------------------------------------------ controllers

// One SDL joystick behind an input device. Its hats follow its buttons as
// four buttons each (up, right, down, left), so that d-pads can be bound.
struct Controller {
  InputDevice *device;      // null when the slot is free
  SDL_Joystick *joystick;   // null while unplugged
  SDL_JoystickID instance;  // -1 while unplugged
  int sdl_buttons;
  int hats;
  Sint16 rest[max_device_axes];  // the axes when first opened, read while unplugged
  unsigned char down[max_device_buttons];
};

// The controllers and the mouse: from the roll call to input_close_all.
Controller controllers[max_input_devices];
bool joysticks_started = false;
// Off with the option dinput off: controllers SDL reports are then ignored.
bool controllers_on = false;

// The "Mouse" device (only with dinputsticksonly off): x, y and wheel motion
// accumulated between reads, and five buttons.
constexpr int mouse_axes = 3;
constexpr int mouse_buttons = 5;
struct MouseDevice {
  InputDevice *device;
  int motion[mouse_axes];
};
MouseDevice mouse = {};

Sint16 clamp_axis(Sint16 value) { return value < -32767 ? static_cast<Sint16>(-32767) : value; }

// The state as of the last pump: every input_wait_event pumps, so a tic that
// takes its events first reads fresh axes.
int controller_read_axis(InputDevice *device, int axis) {
  Controller *c = static_cast<Controller *>(device->backend);
  if (!c->joystick) return c->rest[axis];
  return clamp_axis(SDL_JoystickGetAxis(c->joystick, axis));
}

void controller_release(InputDevice *device) {
  Controller *c = static_cast<Controller *>(device->backend);
  hovl_log("Killing %s\n", device->name);
  if (c->joystick) SDL_JoystickClose(c->joystick);
  memset(c, 0, sizeof *c);
  c->instance = -1;
}

const InputDeviceOps controller_ops = {nullptr, controller_read_axis, controller_release};

int mouse_read_axis(InputDevice *, int axis) {
  int value = mouse.motion[axis];
  mouse.motion[axis] = 0;
  return value;
}

void mouse_release(InputDevice *device) {
  hovl_log("Killing %s\n", device->name);
  mouse = {};
}

const InputDeviceOps mouse_ops = {nullptr, mouse_read_axis, mouse_release};

Controller *find_controller(SDL_JoystickID instance) {
  if (instance < 0) return nullptr;
  for (Controller &c : controllers)
    if (c.device && c.joystick && c.instance == instance) return &c;
  return nullptr;
}

// Hands the joystick aliases to the first two controllers ever seen.
void alias_controller(InputDevice *device) {
  char mine[max_device_name + 16];
  snprintf(mine, sizeof mine, "%s.axis[0]", device->name);
  if (strcmp(hovl_alias_lookup("joystick-a-x"), "joystick-a-x") == 0) {
    input_alias_joystick(0, device->name);
  } else if (strcmp(hovl_alias_lookup("joystick-a-x"), mine) != 0) {
    input_alias_joystick(1, device->name);
  }
}

// Opens the joystick at an SDL device index: at the roll call and when one
// is plugged in. A device that comes back takes its old record, so bindings
// made to it work again.
void add_controller(int index) {
  if (!controllers_on) return;
  SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(index);
  if (instance < 0 || find_controller(instance)) return;
  const char *sdl_name = SDL_JoystickNameForIndex(index);
  const char *name = sdl_name && sdl_name[0] ? sdl_name : "Joystick";
  char guid[33];
  SDL_JoystickGetGUIDString(SDL_JoystickGetDeviceGUID(index), guid, sizeof guid);
  hovl_log("%s (%s)\n", name, guid);
  SDL_Joystick *joystick = SDL_JoystickOpen(index);
  if (!joystick) {
    hovl_log("Can't create \"%s\"\n", name);
    return;
  }
  int axes = SDL_JoystickNumAxes(joystick);
  int sdl_buttons = SDL_JoystickNumButtons(joystick);
  int hats = SDL_JoystickNumHats(joystick);
  if (axes < 0 || sdl_buttons < 0 || hats < 0) {
    hovl_log("Can't get device caps\n");
    SDL_JoystickClose(joystick);
    return;
  }
  int buttons = sdl_buttons + 4 * hats;
  if (axes == 0 && buttons == 0) {
    hovl_log("Ignoring Dunsel device\n");
    SDL_JoystickClose(joystick);
    return;
  }
  hovl_log("%d axes, %d keys\n", axes, buttons);
  if (axes > max_device_axes) {
    hovl_log("Wow! This thing has a lot of axes!\nThe first ignored axis is called \"axis %d\"\n", max_device_axes);
    axes = max_device_axes;
  }
  if (buttons > max_device_buttons) {
    hovl_log("Wow! This thing has a lot of buttons!\nThe first ignored button is called \"button %d\"\n",
             max_device_buttons);
    buttons = max_device_buttons;
    if (sdl_buttons > buttons) sdl_buttons = buttons;
    hats = (buttons - sdl_buttons) / 4;
  }

  char base[max_device_name];
  input_device_base_name(name, base, sizeof base);
  Controller *c = nullptr;
  for (Controller &old : controllers) {
    if (!old.device || old.joystick || old.device->axes != axes || old.device->buttons != buttons) continue;
    char old_base[max_device_name];
    snprintf(old_base, sizeof old_base, "%s", old.device->name);
    // Strip the "#2" a repeated name was given.
    char *suffix = strrchr(old_base, '#');
    if (suffix && suffix[1] >= '0' && suffix[1] <= '9') *suffix = '\0';
    if (strcmp(old_base, base) == 0) {
      c = &old;
      break;
    }
  }
  bool returning = c != nullptr;
  if (!c) {
    for (Controller &free_slot : controllers)
      if (!free_slot.device) {
        c = &free_slot;
        break;
      }
    if (!c) {
      hovl_log("Out of memory\n");
      SDL_JoystickClose(joystick);
      return;
    }
    memset(c, 0, sizeof *c);
    c->device = input_add_device(name, buttons, axes, &controller_ops, c);
    if (!c->device) {
      SDL_JoystickClose(joystick);
      return;
    }
    c->device->first_hat_button = sdl_buttons;
    for (int a = 0; a < axes; a++) {
      Sint16 state = 0;
      SDL_JoystickGetAxisInitialState(joystick, a, &state);
      c->rest[a] = clamp_axis(state);
      hovl_log("axis %d is absolute\n", a);
      hovl_log("Adding axis \"%.200s axis %d\"\n", c->device->name, a);
    }
  } else {
    hovl_log("%s is back\n", c->device->name);
  }
  c->joystick = joystick;
  c->instance = instance;
  c->sdl_buttons = sdl_buttons;
  c->hats = hats;
  memset(c->down, 0, sizeof c->down);
  c->device->connected = 1;
  if (!returning) alias_controller(c->device);
}

// Controller buttons are queued whether or not a binding asked for them
// (SDL reports them anyway), so that a binding capture sees them too.
void set_controller_button(Controller *c, int button, bool pressed, HovlTime time) {
  if (button < 0 || button >= c->device->buttons) return;
  if (c->down[button] == (pressed ? 1 : 0)) return;
  c->down[button] = pressed ? 1 : 0;
  if (button < device_event_buttons) input_push_event(c->device->id + button, pressed, time);
}

// An unplugged controller stops reading: held buttons are released and its
// axes fall back to where they rested, so nothing stays pressed.
void remove_controller(SDL_JoystickID instance) {
  Controller *c = find_controller(instance);
  if (!c) return;
  HovlTime now = time_now();
  for (int b = 0; b < c->device->buttons; b++) set_controller_button(c, b, false, now);
  SDL_JoystickClose(c->joystick);
  c->joystick = nullptr;
  c->instance = -1;
  c->device->connected = 0;
  hovl_log("%s unplugged\n", c->device->name);
}

void hat_moved(Controller *c, int hat, Uint8 value, HovlTime time) {
  if (hat < 0 || hat >= c->hats) return;
  static const Uint8 directions[4] = {SDL_HAT_UP, SDL_HAT_RIGHT, SDL_HAT_DOWN, SDL_HAT_LEFT};
  for (int d = 0; d < 4; d++) set_controller_button(c, c->sdl_buttons + 4 * hat + d, (value & directions[d]) != 0, time);
}

void add_mouse_device() {
  if (mouse.device) return;
  mouse.device = input_add_device("Mouse", mouse_buttons, mouse_axes, &mouse_ops, &mouse);
  if (!mouse.device) return;
  hovl_log("Mouse (system mouse)\n");
  hovl_log("%d axes, %d keys\n", mouse_axes, mouse_buttons);
  for (int a = 0; a < mouse_axes; a++) {
    hovl_log("axis %d is relative\n", a);
    hovl_log("Adding axis \"%.200s axis %d\"\n", mouse.device->name, a);
  }
}

// SDL button numbers 1 left, 2 middle, 3 right, 4 and 5 the side buttons;
// the "Mouse" device numbers them left, right, middle, side, side.
int mouse_device_button(Uint8 sdl_button) {
  static const int order[6] = {-1, 0, 2, 1, 3, 4};
  return sdl_button < 6 ? order[sdl_button] : -1;
}

// ------------------------------------------------------------ window events

// Typed characters in the 0..255 range: UTF-8 decoded to Latin-1.
void push_text(const char *text, HovlTime time) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  while (*p) {
    if (*p < 0x80) {
      input_push_event(*p++, 1, time);
    } else if ((*p == 0xC2 || *p == 0xC3) && (p[1] & 0xC0) == 0x80) {
      input_push_event(((p[0] & 0x1F) << 6) | (p[1] & 0x3F), 1, time);
      p += 2;
    } else {
      p++;
      while ((*p & 0xC0) == 0x80) p++;
    }
  }
}

// Keys that type a control character, as the window messages deliver them.
int control_character(int scan) {
  switch (scan) {
    case 14: return 8;
    case 15: return 9;
    case 28:
    case 256 + 28: return 13;
    case 1: return 27;
    default: return -1;
  }
}

void window_event(Window *window, const SDL_WindowEvent &e) {
  switch (e.event) {
    case SDL_WINDOWEVENT_CLOSE:
      // The close box asks; the game decides.
      input_push_event(event_close, 1, event_time(e.timestamp));
      break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      if (!window) break;
      window->width = e.data1;
      window->height = e.data2;
      window->size_changed = true;
      hovl_log("WM_SIZE message %dx%d\n", e.data1, e.data2);
      break;
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_MAXIMIZED:
      if (window) window->shown = true;
      break;
    case SDL_WINDOWEVENT_HIDDEN:
    case SDL_WINDOWEVENT_MINIMIZED:
      if (window) window->shown = false;
      break;
    default:
      break;
  }
}

void cursor_moved(Window *window, int x, int y) {
  // The cursor axes count drawable pixels, like the viewport.
  if (window) {
    int w = 0, h = 0, pw = 0, ph = 0;
    SDL_GetWindowSize(window->sdl, &w, &h);
    SDL_GL_GetDrawableSize(window->sdl, &pw, &ph);
    if (w > 0 && h > 0 && (pw != w || ph != h)) {
      x = static_cast<int>(static_cast<int64_t>(x) * pw / w);
      y = static_cast<int>(static_cast<int64_t>(y) * ph / h);
    }
  }
  input_set_cursor(x, y);
}

void pump_current() { window_pump(current); }

void fatal_close_window() {
  if (current) window_close(current);
}

DisplayMode desktop_mode() {
  SDL_DisplayMode desktop;
  int display = current ? SDL_GetWindowDisplayIndex(current->sdl) : 0;
  if (display < 0) display = 0;
  if (SDL_GetDesktopDisplayMode(display, &desktop) != 0) return {0, 0, 0};
  return {desktop.w, desktop.h, static_cast<int>(SDL_BITSPERPIXEL(desktop.format))};
}

bool usable_depth(int bits) { return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32; }

// Starts SDL's video. Without a display SDL would settle for its off-screen
// driver and the game would run unseen; that driver is taken only when
// SDL_VIDEODRIVER asks for it by name.
// Mesa unloads its GL driver when the display closes; the leak checker of
// sanitizer builds then meets the driver's own small leaks at exit with no
// module to name or suppress. Those builds keep the driver loaded.
void keep_gl_driver_loaded() {
#if defined(__SANITIZE_ADDRESS__)
  static const char *const drivers[] = {"libGLX_mesa.so.0", "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"};
  for (const char *name : drivers) dlopen(name, RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
#endif
}

bool start_video() {
  keep_gl_driver_loaded();
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) return false;
  const char *driver = SDL_GetCurrentVideoDriver();
  const char *wanted = getenv("SDL_VIDEODRIVER");
  bool headless = driver && (strcmp(driver, "offscreen") == 0 || strcmp(driver, "dummy") == 0);
  if (headless && !(wanted && strstr(wanted, driver))) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    SDL_SetError("no display to open a window on");
    return false;
  }
  return true;
}

void read_options_once() {
  if (options_read) return;
  options_read = true;
  // [fullscreen:yes] starts the window full screen wherever its flags allow.
  option_fullscreen = hovl_option_bool("fullscreen", 0) != 0;
  int threaded = hovl_option_bool("threaded", 0);
  hovl_log("Options:\n");
  hovl_log("%10s [%s]\n", "threaded:", threaded ? "on" : "off");
  // SDL pumps window messages only on the thread that started its video.
  if (threaded) hovl_log("Window messages are handled on the main thread all the same\n");
  // Drawing is in physical pixels: SDL reports the drawable size apart from
  // the window size, and Windows builds take the DPI hint set before video starts.
  hovl_log("Display scaling disabled via high-DPI window\n");
}

}  // namespace

// ------------------------------------------------------------ interface

int window_pc_scan_code(int sdl_scancode) {
  if (sdl_scancode < 0 || sdl_scancode >= SDL_NUM_SCANCODES) return -1;
  return pc_scan_code(static_cast<SDL_Scancode>(sdl_scancode));
}

// The names SDL gives the keys the fixed table leaves out (Alt, the Windows
// keys, Scroll Lock, Print Screen): layout independent, like the table.
const char *input_system_key_name(int scan) {
  static const int named_elsewhere[] = {56, 256 + 56, 70, 256 + 55, 256 + 91, 256 + 92, 256 + 93};
  for (int wanted : named_elsewhere) {
    if (wanted != scan) continue;
    for (int s = 0; s < SDL_NUM_SCANCODES; s++)
      if (pc_scan_code(static_cast<SDL_Scancode>(s)) == scan) return SDL_GetScancodeName(static_cast<SDL_Scancode>(s));
  }
  return nullptr;
}

void input_open_devices() {
  input_make_aliases();
  input_set_pump(pump_current);
  controllers_on = false;
  if (!hovl_option_bool("dinput", 1)) {
    hovl_log("Controllers disabled\n");
    return;
  }
  // One reference for the process; taken again if someone let go of it.
  if (!joysticks_started || !SDL_WasInit(SDL_INIT_JOYSTICK)) {
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
      hovl_log("Can't open the joystick library (%s)\n", SDL_GetError());
      return;
    }
    joysticks_started = true;
  }
  controllers_on = true;
  hovl_log("Controller roll call...\n");
  for (int i = 0; i < SDL_NumJoysticks(); i++) add_controller(i);
  // Other input devices: the mouse as a device of its own with motion axes.
  if (!hovl_option_bool("dinputsticksonly", 1)) add_mouse_device();
  hovl_log("End of controller roll call\n");
}

void window_pump(Window *window) {
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    if (e.type != SDL_SYSWMEVENT && e.type != SDL_KEYDOWN && e.type != SDL_KEYUP && e.type != SDL_TEXTINPUT &&
        e.type != SDL_MOUSEBUTTONDOWN && e.type != SDL_MOUSEBUTTONUP)
      pending_server_time = false;
    switch (e.type) {
      case SDL_SYSWMEVENT:
        system_event(e.syswm.msg);
        break;
      case SDL_QUIT:  // a termination signal: ask like the close box
        input_push_event(event_close, 1, event_time(e.quit.timestamp));
        break;
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        int scan = pc_scan_code(e.key.keysym.scancode);
        if (scan < 0) break;
        HovlTime t = event_time(e.key.timestamp);
        // Auto-repeat arrives as further presses, as with the window messages.
        input_push_event(event_key_base + scan, e.type == SDL_KEYDOWN, t);
        int character = control_character(scan);
        if (e.type == SDL_KEYDOWN && character >= 0) input_push_event(character, 1, t);
        break;
      }
      case SDL_TEXTINPUT:
        push_text(e.text.text, event_time(e.text.timestamp));
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        bool pressed = e.type == SDL_MOUSEBUTTONDOWN;
        HovlTime t = event_time(e.button.timestamp);
        int code = e.button.button == SDL_BUTTON_LEFT     ? event_mouse_left
                   : e.button.button == SDL_BUTTON_MIDDLE ? event_mouse_middle
                   : e.button.button == SDL_BUTTON_RIGHT  ? event_mouse_right
                                                          : -1;
        if (code >= 0) input_push_event(code, pressed, t);
        int button = mouse_device_button(e.button.button);
        if (mouse.device && button >= 0) input_push_event(mouse.device->id + button, pressed, t);
        break;
      }
      case SDL_MOUSEMOTION:
        cursor_moved(window, e.motion.x, e.motion.y);
        mouse.motion[0] += e.motion.xrel;
        mouse.motion[1] += e.motion.yrel;
        break;
      case SDL_MOUSEWHEEL:
        mouse.motion[2] += e.wheel.y * 120;  // one notch is 120, as wheels report elsewhere
        break;
      case SDL_WINDOWEVENT:
        window_event(window, e.window);
        break;
      case SDL_JOYDEVICEADDED:
        add_controller(e.jdevice.which);
        break;
      case SDL_JOYDEVICEREMOVED:
        remove_controller(e.jdevice.which);
        break;
      case SDL_JOYBUTTONDOWN:
      case SDL_JOYBUTTONUP: {
        Controller *c = find_controller(e.jbutton.which);
        if (c && e.jbutton.button < c->sdl_buttons)
          set_controller_button(c, e.jbutton.button, e.type == SDL_JOYBUTTONDOWN, event_time(e.jbutton.timestamp));
        break;
      }
      case SDL_JOYHATMOTION: {
        Controller *c = find_controller(e.jhat.which);
        if (c) hat_moved(c, e.jhat.hat, e.jhat.value, event_time(e.jhat.timestamp));
        break;
      }
      default:
        break;
    }
  }
}

Window *window_open_gl(const char *title, int width, int height, int mode_flags, int alpha_bits, int depth_bits,
                       int stencil_bits, int accum_bits) {
  read_options_once();
  // Windows builds need the DPI hint before video starts; elsewhere SDL
  // reports the drawable size apart from the window size.
  SDL_SetHint(SDL_HINT_WINDOWS_DPI_AWARENESS, "permonitorv2");
  // Closing the window is a request the game answers, never an SDL quit.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  if (!start_video()) {
    hovl_log("Can't create window!\n");
    hovl_log("%s\n", SDL_GetError());
    return nullptr;
  }
  display_modes();
  bool fullscreen_allowed = !(mode_flags & window_no_fullscreen);
  bool fullscreen = fullscreen_allowed && ((mode_flags & window_start_fullscreen) || option_fullscreen);
  int colour = mode_flags & 0xFF;
  if (width <= 0 || height <= 0) {
    DisplayMode desktop = desktop_mode();
    width = desktop.width > 0 ? desktop.width : 800;
    height = desktop.height > 0 ? desktop.height : 600;
  }

  hovl_log("Creating window\n");
  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_ALLOW_HIGHDPI | SDL_WINDOW_HIDDEN;
  if (fullscreen_allowed) flags |= SDL_WINDOW_RESIZABLE;
  // The pixel format is chosen with the window: the request first, then
  // without the accumulation buffer and the alpha channel, which few
  // visuals offer and the game can do without.
  hovl_log("Choosing pixel format\n");
  int channel = colour >= 24 ? 8 : colour >= 15 ? 5 : 0;
  SDL_Window *sdl = nullptr;
  for (int attempt = 0; attempt < 3 && !sdl; attempt++) {
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, channel);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, channel);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, channel);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth_bits);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, stencil_bits);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, attempt < 2 ? alpha_bits : 0);
    int accum = attempt < 1 ? accum_bits / 4 : 0;
    SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, attempt < 2 && alpha_bits ? accum : 0);
    sdl = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height, flags);
  }
  if (!sdl) {
    hovl_log("No suitable pixel formats found\n");
    hovl_log("Can't create window!\n");
    hovl_log("%s\n", SDL_GetError());
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    return nullptr;
  }
  hovl_log("Creating OpenGL context\n");
  SDL_GLContext gl = SDL_GL_CreateContext(sdl);
  if (!gl) {
    hovl_log("Couldn't create OpenGL context\n");
    hovl_log("%s\n", SDL_GetError());
    SDL_DestroyWindow(sdl);
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    return nullptr;
  }
  SDL_GL_MakeCurrent(sdl, gl);
  SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
  int depth = 0, stencil = 0, alpha = 0;
  SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &depth);
  SDL_GL_GetAttribute(SDL_GL_STENCIL_SIZE, &stencil);
  SDL_GL_GetAttribute(SDL_GL_ALPHA_SIZE, &alpha);
  hovl_log("Pixel format: %d alpha, %d depth, %d stencil bits\n", alpha, depth, stencil);

  Window *window = new Window{};
  window->sdl = sdl;
  window->gl = gl;
  window->fullscreen_allowed = fullscreen_allowed;
  window->shown = true;
  SDL_GetWindowSize(sdl, &window->width, &window->height);
  current = window;
  SDL_DisableScreenSaver();
  if (fullscreen) window_set_mode(window, width, height, 1);
  SDL_ShowWindow(sdl);
  SDL_RaiseWindow(sdl);
  input_open_devices();
  hovl_on_fatal(fatal_close_window);
  return window;
}

void window_close(Window *window) {
  if (!window) return;
  hovl_log("Deleting OpenGL context\n");
  SDL_GL_MakeCurrent(window->sdl, nullptr);
  SDL_GL_DeleteContext(window->gl);
  hovl_log("Closing input devices\n");
  input_close_all();
  hovl_log("Destroying window\n");
  // Destroying a full-screen window gives the desktop its mode back.
  SDL_DestroyWindow(window->sdl);
  if (current == window) current = nullptr;
  delete window;
  SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
  hovl_log("Window shutdown complete\n");
}

void window_set_mode(Window *window, int width, int height, int fullscreen) {
  if (!window) return;
  if (fullscreen) {
    if (!window->fullscreen_allowed) return;
    DisplayMode desktop = desktop_mode();
    DisplayMode mode = choose_fullscreen_mode(display_modes(), desktop, width, height);
    // Only the size changes; depth and refresh rate stay the desktop's.
    if (mode.width == desktop.width && mode.height == desktop.height) {
      SDL_SetWindowFullscreen(window->sdl, SDL_WINDOW_FULLSCREEN_DESKTOP);
    } else {
      SDL_DisplayMode wanted = {0, mode.width, mode.height, 0, nullptr};
      SDL_SetWindowDisplayMode(window->sdl, &wanted);
      SDL_SetWindowFullscreen(window->sdl, SDL_WINDOW_FULLSCREEN);
    }
    window->fullscreen_active = true;
    hovl_log("Full screen %dx%d\n", mode.width, mode.height);
  } else {
    if (window->fullscreen_active) SDL_SetWindowFullscreen(window->sdl, 0);
    window->fullscreen_active = false;
    if (width <= 0 || height <= 0) {
      DisplayMode desktop = desktop_mode();
      width = desktop.width;
      height = desktop.height;
    }
    if (width > 0 && height > 0) SDL_SetWindowSize(window->sdl, width, height);
  }
}

// SDL reports no start or end of a move or resize, and nothing blocks while
// one goes on, so a window being dragged keeps drawing. Frames are bracketed
// on the main thread that also handles the messages: no size lock is needed.
bool window_frame_begin(Window *window, Viewport *viewport) {
  if (!window || !window->gl || !window->shown) return false;
  if (SDL_GetWindowFlags(window->sdl) & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED)) return false;
  int width = 0, height = 0;
  SDL_GL_GetDrawableSize(window->sdl, &width, &height);
  if (width <= 0 || height <= 0) return false;
  *viewport = {0, 0, width, height};
  window->in_frame = true;
  return true;
}

void window_frame_end(Window *window) {
  if (!window || !window->in_frame) return;
  window->in_frame = false;
  SDL_GL_SwapWindow(window->sdl);
}

void window_frame_discard(Window *window) {
  if (window) window->in_frame = false;
}

bool window_size_changed(Window *window, int *width, int *height) {
  if (!window) return false;
  *width = window->width;
  *height = window->height;
  bool changed = window->size_changed;
  window->size_changed = false;
  return changed;
}

bool window_is_shown(Window *window) { return window && window->shown; }
bool window_is_fullscreen(Window *window) { return window && window->fullscreen_active; }

const DisplayMode *display_modes() {
  if (modes_built) return modes;
  modes[0] = {0, 0, 0};
  // Keep video running for the process once the list is asked for early.
  if (!SDL_WasInit(SDL_INIT_VIDEO) && !start_video()) return modes;
  modes_built = true;
  int count = 0;
  SDL_DisplayMode desktop;
  if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
    int bits = static_cast<int>(SDL_BITSPERPIXEL(desktop.format));
    bool usable = usable_depth(bits);
    hovl_log("Registry mode is %dx%dx%d@%dhz%s\n", desktop.w, desktop.h, bits, desktop.refresh_rate,
             usable ? "" : " (ignored)");
    if (usable) modes[count++] = {desktop.w, desktop.h, bits};
  }
  int n = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < n && count < max_display_modes; i++) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, i, &m) != 0) continue;
    int bits = static_cast<int>(SDL_BITSPERPIXEL(m.format));
    if (!usable_depth(bits)) {
      hovl_log("Found mode %dx%dx%d@%dhz (ignored)\n", m.w, m.h, bits, m.refresh_rate);
      continue;
    }
    bool seen = false;
    for (int j = 0; j < count; j++)
      if (modes[j].width == m.w && modes[j].height == m.h && modes[j].bits == bits) seen = true;
    if (seen) continue;
    hovl_log("Found mode %dx%dx%d@%dhz\n", m.w, m.h, bits, m.refresh_rate);
    modes[count++] = {m.w, m.h, bits};
  }
  modes[count] = {0, 0, 0};
  return modes;
}

DisplayMode choose_fullscreen_mode(const DisplayMode *list, DisplayMode desktop, int width, int height) {
  if (width <= 0 || height <= 0) return desktop;
  const DisplayMode *best = nullptr;
  for (const DisplayMode *m = list; m->width; m++) {
    if (m->width < width || m->height < height) continue;
    // Strictly smaller: the first listed wins a tie.
    if (!best || m->width + m->height < best->width + best->height) best = m;
  }
  return best ? *best : desktop;
}

void *hovl_gl_proc(const char *name) { return SDL_GL_GetProcAddress(name); }
