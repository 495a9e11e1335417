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
void sleep_until(HovlTime when);
double time_seconds(HovlTime t);
HovlTime time_from_seconds(double seconds);
int time_compare(HovlTime a, HovlTime b);

// Event codes.
constexpr int event_key_base = 0x1000;       // + scan code 0..511 (0x100 = extended)
constexpr int event_mouse_left = 0x2000;
constexpr int event_mouse_middle = 0x2001;
constexpr int event_mouse_right = 0x2002;
constexpr int event_close = 0xDEAD;
constexpr int event_device_step = 0x10000;  // device ids are multiples of this
constexpr int input_queue_size = 256;

struct InputEvent {
  int code;
  int pressed;
  HovlTime time;
};

// Adds an event in time order; returns 0 when the queue is full (dropped).
// Safe from any thread.
int input_push_event(int code, int pressed, HovlTime time);
// The oldest event not after `limit`; 0 when none is due.
int input_wait_event(HovlTime limit, InputEvent *out);
int input_next_event(InputEvent *out);
int input_queued_count();
void input_clear_events();

// The window backend's message pump, run before the queue is looked at.
void input_set_pump(void (*pump)());

// Names and codes. Returns -1 when the name is unknown.
int input_button_code(const char *name);
// Interned name of a code, or null.
const char *input_code_name(int code);

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
struct InputDevice {
  char name[max_device_name];
  int id;
  int buttons;
  int axes;
  int open_axes;
  int polling;
  const InputDeviceOps *ops;
  void *backend;  // owned by the backend that added the device
};

// Registers a device, naming it uniquely ("#2", "#3" ...) and giving it an id.
InputDevice *input_add_device(const char *name, int buttons, int axes,
                              const InputDeviceOps *ops, void *backend);
void input_remove_device(InputDevice *device);
InputDevice *input_find_device(const char *name);
int input_device_count();
InputDevice *input_device(int index);
int input_device_id_for_name(const char *name);

// "Dev.axis[N]" or "Dev axis N" after alias lookup; device null when absent.
AxisHandle input_open_axis(const char *name);
int input_read_axis(AxisHandle handle);
void input_close_all();

// The pointer position in window pixels (the "cursor" device's two axes).
void input_set_cursor(int x, int y);

// Makes the start-up aliases ("cursor-left" -> "Mouse Left" and the rest).
void input_make_aliases();
