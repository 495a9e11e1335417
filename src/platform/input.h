// Input: one queue of time-stamped button events (keys, mouse buttons,
// controller buttons, typed characters, the window's close request) and
// continuous controls read on demand through axis handles. Every control
// has a name so bindings can be stored as text.
#pragma once
#include <cstdint>

// Platform clock: seconds and microseconds of a monotonic timer.
struct HovlTime {
  int64_t sec;
  int32_t usec;
};
HovlTime time_now();
// Sleeps whole milliseconds less one, then yields until the time has passed.
void sleep_until(HovlTime when);
double time_seconds(HovlTime t);
HovlTime time_from_seconds(double seconds);
int time_compare(HovlTime a, HovlTime b);

// Event codes.
constexpr int event_key_base = 0x1000;       // + scan code 0..511 (0x100 = extended)
constexpr int event_key_count = 512;
constexpr int event_mouse_left = 0x2000;
constexpr int event_mouse_middle = 0x2001;
constexpr int event_mouse_right = 0x2002;
constexpr int event_close = 0xDEAD;
constexpr int event_device_step = 0x10000;  // device ids are multiples of this
constexpr int device_event_buttons = 256;    // buttons 0..255 of a device give events
constexpr int input_queue_size = 256;

struct InputEvent {
  int code;
  int pressed;
  HovlTime time;
};

// Adds an event in time order (after queued events with the same stamp);
// returns 0 when the queue is full and the event is dropped. Any thread.
int input_push_event(int code, int pressed, HovlTime time);
// The oldest event not after `limit`; 0 when none is due. Pumps the window
// first, and polls the polling devices when nothing is due.
int input_wait_event(HovlTime limit, InputEvent *out);
int input_next_event(InputEvent *out);
int input_queued_count();
void input_clear_events();

// The backend's message pump, run before the queue is looked at.
void input_set_pump(void (*pump)());

// Names and codes. Returns -1 when the name is unknown.
int input_button_code(const char *name);
// Interned name of a code, or null.
const char *input_code_name(int code);
// The backend's own name for a scan code: null or "" when it has none.
// Supplied by the window backend; the key table asks it once per code.
const char *input_system_key_name(int scan);

// Devices besides keyboard and window mouse: controllers, the cursor.
struct InputDevice;
struct AxisHandle {
  InputDevice *device;
  int axis;
};
struct InputDeviceOps {
  void (*poll)(InputDevice *device);
  int (*read_axis)(InputDevice *device, int axis);
  void (*release)(InputDevice *device);
};
constexpr int max_input_devices = 32;
constexpr int max_device_name = 64;
constexpr int max_device_axes = 100;
constexpr int max_device_buttons = 500;
struct InputDevice {
  char name[max_device_name];
  int id;
  int buttons;
  int axes;
  int open_axes;
  int polling;
  // 0 once the source is unplugged: the record stays so that handles and
  // button codes stay valid, and a replugged device takes it back.
  int connected;
  // Controllers: the number of plain buttons; four per hat (up, right,
  // down, left) follow them. -1 for devices that are not controllers.
  int first_hat_button;
  const InputDeviceOps *ops;
  void *backend;  // owned by the backend that added the device
};

// Registers a device under a unique name (blanks and dots removed, "#2",
// "#3" ... for repeats) and a unique id; null when the registry is full.
InputDevice *input_add_device(const char *name, int buttons, int axes,
                              const InputDeviceOps *ops, void *backend);
// Releases and frees a device (only at shutdown: handles to it die).
void input_remove_device(InputDevice *device);
InputDevice *input_find_device(const char *name);
int input_device_count();
InputDevice *input_device(int index);
int input_device_id_for_name(const char *name);
// The name with blanks and dots removed, as devices are named.
void input_device_base_name(const char *name, char *out, int size);

// "Dev.axis[N]" or "Dev axis N" after alias lookup; device null when absent.
AxisHandle input_open_axis(const char *name);
// Absolute axes -32767..32767; relative ones the motion since the last read.
int input_read_axis(AxisHandle handle);
// Interned "Dev.axis[N]" of a handle, or null.
const char *input_axis_name(AxisHandle handle);
// The axes of every connected device but the cursor, device by device:
// what a binding capture watches. Returns the count written (at most max).
int input_list_axes(AxisHandle *out, int max);
void input_close_all();

// The pointer position in drawable pixels (the "cursor" device's two axes).
void input_set_cursor(int x, int y);

// Makes the start-up aliases ("cursor-left" -> "Mouse Left" and the rest).
void input_make_aliases();
// Gives "joystick-a-*" (slot 0) or "joystick-b-*" (slot 1) to a device,
// unless that slot already has one.
void input_alias_joystick(int slot, const char *device_name);

// The controller roll call (controllers through SDL, and a "Mouse" device
// when the option dinputsticksonly is off); the window does it at creation.
// Also installs the event pump, so it works without a window.
void input_open_devices();
