#include "platform/input.h"

#include <SDL.h>
#include <sched.h>
#include <time.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "platform/log.h"

// ---------------------------------------------------------------- clock

HovlTime time_now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return {static_cast<int64_t>(ts.tv_sec), static_cast<int32_t>(ts.tv_nsec / 1000)};
}

double time_seconds(HovlTime t) { return static_cast<double>(t.sec) + t.usec * 1e-6; }

HovlTime time_from_seconds(double seconds) {
  int64_t whole = static_cast<int64_t>(seconds);
  if (static_cast<double>(whole) > seconds) whole--;
  int32_t usec = static_cast<int32_t>((seconds - static_cast<double>(whole)) * 1e6 + 0.5);
  if (usec >= 1000000) {
    whole++;
    usec -= 1000000;
  }
  return {whole, usec};
}

int time_compare(HovlTime a, HovlTime b) {
  if (a.sec != b.sec) return a.sec < b.sec ? -1 : 1;
  if (a.usec != b.usec) return a.usec < b.usec ? -1 : 1;
  return 0;
}

void sleep_until(HovlTime when) {
  // Sleep for the whole milliseconds less one, then yield until it is time.
  for (;;) {
    double left = time_seconds(when) - time_seconds(time_now());
    if (left <= 0) return;
    if (left > 0.002) {
      double nap = left - 0.001;
      struct timespec ts = {static_cast<time_t>(nap), static_cast<long>((nap - static_cast<time_t>(nap)) * 1e9)};
      nanosleep(&ts, nullptr);
    } else {
      sched_yield();
    }
  }
}

// ---------------------------------------------------------------- queue

namespace {

// The event queue: lives for the process; the only input state shared
// between threads, guarded by its mutex.
InputEvent queue[input_queue_size];
int queue_head = 0;
int queue_count = 0;
SDL_mutex *queue_mutex = nullptr;
void (*pump_hook)() = nullptr;

void lock_queue() {
  if (!queue_mutex) queue_mutex = SDL_CreateMutex();
  if (queue_mutex) SDL_LockMutex(queue_mutex);
}
void unlock_queue() {
  if (queue_mutex) SDL_UnlockMutex(queue_mutex);
}

int take_event(const HovlTime *limit, InputEvent *out) {
  lock_queue();
  int taken = 0;
  if (queue_count > 0 && (!limit || time_compare(queue[queue_head].time, *limit) <= 0)) {
    *out = queue[queue_head];
    queue_head = (queue_head + 1) % input_queue_size;
    queue_count--;
    taken = 1;
  }
  unlock_queue();
  return taken;
}

}  // namespace

int input_push_event(int code, int pressed, HovlTime time) {
  lock_queue();
  if (queue_count >= input_queue_size) {
    unlock_queue();
    return 0;
  }
  // Insert before the first queued event with a later stamp.
  int position = queue_count;
  while (position > 0 && time_compare(queue[(queue_head + position - 1) % input_queue_size].time, time) > 0) {
    queue[(queue_head + position) % input_queue_size] = queue[(queue_head + position - 1) % input_queue_size];
    position--;
  }
  queue[(queue_head + position) % input_queue_size] = {code, pressed ? 1 : 0, time};
  queue_count++;
  unlock_queue();
  return 1;
}

void input_set_pump(void (*pump)()) { pump_hook = pump; }

static void poll_devices();

int input_wait_event(HovlTime limit, InputEvent *out) {
  if (pump_hook) pump_hook();
  if (take_event(&limit, out)) return 1;
  poll_devices();
  return take_event(&limit, out);
}

int input_next_event(InputEvent *out) {
  if (pump_hook) pump_hook();
  if (take_event(nullptr, out)) return 1;
  poll_devices();
  return take_event(nullptr, out);
}

int input_queued_count() {
  lock_queue();
  int count = queue_count;
  unlock_queue();
  return count;
}

void input_clear_events() {
  lock_queue();
  queue_head = 0;
  queue_count = 0;
  unlock_queue();
}

// ---------------------------------------------------------------- names

namespace {

struct KeyName {
  int scan;
  const char *name;
};

// Scan codes of the PC keyboard (set 1); extended keys have 256 added.
const KeyName fixed_keys[] = {
    {1, "Esc"}, {11, "0"}, {2, "1"}, {3, "2"}, {4, "3"}, {5, "4"}, {6, "5"}, {7, "6"}, {8, "7"}, {9, "8"}, {10, "9"},
    {30, "A"}, {48, "B"}, {46, "C"}, {32, "D"}, {18, "E"}, {33, "F"}, {34, "G"}, {35, "H"}, {23, "I"}, {36, "J"},
    {37, "K"}, {38, "L"}, {49, "M"}, {50, "N"}, {24, "O"}, {25, "P"}, {16, "Q"}, {19, "R"}, {31, "S"}, {20, "T"},
    {22, "U"}, {47, "V"}, {17, "W"}, {45, "X"}, {21, "Y"}, {44, "Z"}, {12, "-"}, {13, "="}, {26, "["}, {27, "]"},
    {39, ";"}, {40, "'"}, {41, "`"}, {43, "\\"}, {51, ","}, {52, "."}, {53, "/"}, {14, "Backspace"}, {15, "Tab"},
    {28, "Enter"}, {29, "Left Ctrl"}, {42, "Left Shift"}, {54, "Right Shift"}, {57, "Space"}, {57, " "},
    {58, "Caps Lock"}, {285, "Right Ctrl"}, {338, "Insert"}, {339, "Delete"}, {327, "Home"}, {335, "End"},
    {329, "Page Up"}, {337, "Page Down"}, {328, "Up"}, {336, "Down"}, {331, "Left"}, {333, "Right"},
    {59, "F1"}, {60, "F2"}, {61, "F3"}, {62, "F4"}, {63, "F5"}, {64, "F6"}, {65, "F7"}, {66, "F8"}, {67, "F9"},
    {68, "F10"}, {87, "F11"}, {88, "F12"}, {69, "Pause"}, {325, "Num Lock"}, {309, "Keypad /"}, {55, "Keypad *"},
    {74, "Keypad -"}, {71, "Keypad 7"}, {72, "Keypad 8"}, {73, "Keypad 9"}, {78, "Keypad +"}, {75, "Keypad 4"},
    {76, "Keypad 5"}, {77, "Keypad 6"}, {79, "Keypad 1"}, {80, "Keypad 2"}, {81, "Keypad 3"}, {284, "Keypad Enter"},
    {82, "Keypad 0"}, {83, "Keypad ."},
};

struct SpecialName {
  int code;
  const char *name;
};
const SpecialName special_names[] = {
    {event_close, "Close"}, {event_mouse_left, "Mouse Left"}, {event_mouse_middle, "Mouse Middle"},
    {event_mouse_right, "Mouse Right"},
};

// Compares names loosely: case-insensitive, blanks and '_' alike.
bool loose_equal(const char *a, const char *b) {
  for (;; a++, b++) {
    int ca = *a == '_' ? ' ' : tolower(static_cast<unsigned char>(*a));
    int cb = *b == '_' ? ' ' : tolower(static_cast<unsigned char>(*b));
    if (ca != cb) return false;
    if (!ca) return true;
  }
}

// The system's key names. This platform has none beyond the fixed table:
// the layout-independent names are the fixed ones, so both lookups agree.
const char *system_key_name(int) { return nullptr; }

int lookup_name(const char *name, bool loose) {
  for (const SpecialName &s : special_names)
    if (loose ? loose_equal(s.name, name) : strcmp(s.name, name) == 0) return s.code;
  for (int scan = 0; scan < 512; scan++) {
    const char *system = system_key_name(scan);
    if (system && (loose ? loose_equal(system, name) : strcmp(system, name) == 0)) return event_key_base + scan;
  }
  for (const KeyName &k : fixed_keys)
    if (loose ? loose_equal(k.name, name) : strcmp(k.name, name) == 0) return event_key_base + k.scan;
  return -1;
}

}  // namespace

int input_button_code(const char *name) {
  if (!name) return -1;
  name = hovl_alias_lookup(name);
  int code = lookup_name(name, false);
  if (code < 0) code = lookup_name(name, true);
  if (code >= 0) return code;
  unsigned value;
  int used = 0;
  if (sscanf(name, "0x%x%n", &value, &used) == 1 && name[used] == '\0' && value <= 511) return event_key_base + static_cast<int>(value);
  char device_name[64];
  int button;
  used = 0;
  bool matched = (sscanf(name, "%63[^.].key[%d]%n", device_name, &button, &used) == 2 && used > 0) ||
                 sscanf(name, "%63s button %d", device_name, &button) == 2;
  if (!matched) return -1;
  InputDevice *device = input_find_device(device_name);
  if (!device || button < 0 || button >= 256 || button >= device->buttons) return -1;
  device->polling = 1;
  return device->id + button;
}

const char *input_code_name(int code) {
  for (const SpecialName &s : special_names)
    if (s.code == code) return intern_string(s.name);
  char buffer[1100];
  if (code >= event_key_base && code < event_key_base + 512) {
    int scan = code - event_key_base;
    const char *system = system_key_name(scan);
    if (system && system[0]) return intern_string(system);
    for (const KeyName &k : fixed_keys)
      if (k.scan == scan) return intern_string(k.name);
    snprintf(buffer, sizeof buffer, "0x%x", scan);
    return intern_string(buffer);
  }
  if (code >= event_device_step) {
    for (int i = 0; i < input_device_count(); i++) {
      InputDevice *device = input_device(i);
      if (code >= device->id && code < device->id + 256) {
        snprintf(buffer, sizeof buffer, "%.1000s button %d", device->name, code - device->id);
        return intern_string(buffer);
      }
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------- devices

namespace {

// Devices: from window creation to input_close_all.
InputDevice *devices[max_input_devices];
int device_count = 0;

int cursor_x = 0, cursor_y = 0;

int cursor_read(InputDevice *, int axis) { return axis == 0 ? cursor_x : cursor_y; }
const InputDeviceOps cursor_ops = {nullptr, cursor_read, nullptr};

void ensure_cursor() {
  if (!input_find_device("cursor")) input_add_device("cursor", 0, 2, &cursor_ops, nullptr);
}

}  // namespace

static void poll_devices() {
  for (int i = 0; i < device_count; i++)
    if (devices[i]->polling && devices[i]->ops && devices[i]->ops->poll) devices[i]->ops->poll(devices[i]);
}

int input_device_id_for_name(const char *name) {
  unsigned s1 = 0, s2 = 0;
  for (int i = 0; name[i]; i++) {
    if (i % 2 == 0) s1 += static_cast<unsigned char>(name[i]);
    else s2 += static_cast<unsigned char>(name[i]);
  }
  s1 &= 0xFFFF;
  s2 &= 0xFF;
  return static_cast<int>(((s1 + 256 * s2) & 0x7FFF) << 16);
}

InputDevice *input_add_device(const char *name, int buttons, int axes, const InputDeviceOps *ops, void *backend) {
  if (device_count >= max_input_devices) {
    hovl_log("Too many input devices; \"%s\" ignored\n", name);
    return nullptr;
  }
  InputDevice *device = static_cast<InputDevice *>(alloc_or_die(sizeof(InputDevice)));
  memset(device, 0, sizeof *device);
  // Names lose blanks and dots so that "Name.axis[N]" parses back.
  char base[max_device_name - 8];
  int length = 0;
  for (const char *p = name; *p && length < static_cast<int>(sizeof base) - 1; p++)
    if (*p != ' ' && *p != '.') base[length++] = *p;
  base[length] = '\0';
  snprintf(device->name, sizeof device->name, "%s", base);
  for (int n = 2; input_find_device(device->name); n++) snprintf(device->name, sizeof device->name, "%s#%d", base, n);
  int id = input_device_id_for_name(device->name);
  for (bool clash = true; clash;) {
    clash = false;
    for (int i = 0; i < device_count; i++) {
      if (devices[i]->id == id) {
        id = ((id + event_device_step) & 0x7FFF0000);
        if (id == 0) id = event_device_step;
        clash = true;
      }
    }
  }
  device->id = id;
  device->buttons = buttons;
  device->axes = axes;
  device->ops = ops;
  device->backend = backend;
  devices[device_count++] = device;
  return device;
}

void input_remove_device(InputDevice *device) {
  for (int i = 0; i < device_count; i++) {
    if (devices[i] == device) {
      if (device->ops && device->ops->release) device->ops->release(device);
      tracked_free(device);
      memmove(&devices[i], &devices[i + 1], sizeof(InputDevice *) * (device_count - i - 1));
      device_count--;
      return;
    }
  }
}

InputDevice *input_find_device(const char *name) {
  for (int i = 0; i < device_count; i++)
    if (strcmp(devices[i]->name, name) == 0) return devices[i];
  return nullptr;
}

int input_device_count() { return device_count; }
InputDevice *input_device(int index) { return index >= 0 && index < device_count ? devices[index] : nullptr; }

AxisHandle input_open_axis(const char *name) {
  ensure_cursor();
  name = hovl_alias_lookup(name);
  char device_name[64];
  int axis = -1, used = 0;
  bool matched = (sscanf(name, "%63[^.].axis[%d]%n", device_name, &axis, &used) == 2 && used > 0) ||
                 sscanf(name, "%63s axis %d", device_name, &axis) == 2;
  if (!matched) return {nullptr, 0};
  InputDevice *device = input_find_device(device_name);
  if (!device || axis < 0 || axis >= device->axes) return {nullptr, 0};
  device->open_axes++;
  return {device, axis};
}

int input_read_axis(AxisHandle handle) {
  InputDevice *device = handle.device;
  if (!device || !device->ops || !device->ops->read_axis) return 0;
  if (device->polling && device->ops->poll) device->ops->poll(device);
  return device->ops->read_axis(device, handle.axis);
}

void input_close_all() {
  while (device_count > 0) input_remove_device(devices[device_count - 1]);
}

void input_set_cursor(int x, int y) {
  ensure_cursor();
  cursor_x = x;
  cursor_y = y;
}

void input_make_aliases() {
  ensure_cursor();
  hovl_alias("cursor-left", "Mouse Left");
  hovl_alias("cursor-middle", "Mouse Middle");
  hovl_alias("cursor-right", "Mouse Right");
  hovl_alias("cursor-x", "cursor.axis[0]");
  hovl_alias("cursor-y", "cursor.axis[1]");
}
