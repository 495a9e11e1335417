#include "platform/input.h"

#include <sched.h>
#include <time.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

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
  for (;;) {
    HovlTime now = time_now();
    int64_t left_us = (when.sec - now.sec) * 1000000 + (when.usec - now.usec);
    if (left_us <= 0) return;
    int64_t whole_ms = left_us / 1000;
    if (whole_ms > 1) {
      int64_t nap_us = (whole_ms - 1) * 1000;
      struct timespec ts = {static_cast<time_t>(nap_us / 1000000), static_cast<long>(nap_us % 1000000) * 1000};
      nanosleep(&ts, nullptr);
    } else {
      sched_yield();
    }
  }
}

// ---------------------------------------------------------------- queue

namespace {

// The event queue: lives for the process; the only input state shared
// between threads, guarded by its mutex (constant-initialised).
InputEvent queue[input_queue_size];
int queue_head = 0;
int queue_count = 0;
std::mutex queue_mutex;
void (*pump_hook)() = nullptr;

InputEvent &queue_at(int position) { return queue[(queue_head + position) % input_queue_size]; }

int take_event(const HovlTime *limit, InputEvent *out) {
  std::lock_guard<std::mutex> lock(queue_mutex);
  if (queue_count == 0 || (limit && time_compare(queue[queue_head].time, *limit) > 0)) return 0;
  *out = queue[queue_head];
  queue_head = (queue_head + 1) % input_queue_size;
  queue_count--;
  return 1;
}

void poll_devices();

}  // namespace

int input_push_event(int code, int pressed, HovlTime time) {
  std::lock_guard<std::mutex> lock(queue_mutex);
  if (queue_count >= input_queue_size) return 0;
  // Insert before the queued events with a later stamp; equal stamps keep
  // their arrival order.
  int position = queue_count;
  while (position > 0 && time_compare(queue_at(position - 1).time, time) > 0) {
    queue_at(position) = queue_at(position - 1);
    position--;
  }
  queue_at(position) = {code, pressed ? 1 : 0, time};
  queue_count++;
  return 1;
}

void input_set_pump(void (*pump)()) { pump_hook = pump; }

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
  std::lock_guard<std::mutex> lock(queue_mutex);
  return queue_count;
}

void input_clear_events() {
  std::lock_guard<std::mutex> lock(queue_mutex);
  queue_head = 0;
  queue_count = 0;
}

// ---------------------------------------------------------------- names

namespace {

struct KeyName {
  int scan;
  const char *name;
};

// PC keyboard scan codes (set 1); extended keys have 256 added. N is 49 and
// M is 50 on every keyboard, so they are named that way round.
const KeyName fixed_keys[] = {
    {1, "Esc"}, {11, "0"}, {2, "1"}, {3, "2"}, {4, "3"}, {5, "4"}, {6, "5"}, {7, "6"}, {8, "7"}, {9, "8"}, {10, "9"},
    {30, "A"}, {48, "B"}, {46, "C"}, {32, "D"}, {18, "E"}, {33, "F"}, {34, "G"}, {35, "H"}, {23, "I"}, {36, "J"},
    {37, "K"}, {38, "L"}, {50, "M"}, {49, "N"}, {24, "O"}, {25, "P"}, {16, "Q"}, {19, "R"}, {31, "S"}, {20, "T"},
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

// The system's key names, interned; built on first use, kept for the process.
const char *system_names[event_key_count];
bool system_names_built = false;

const char *system_name(int scan) {
  if (!system_names_built) {
    system_names_built = true;
    for (int s = 0; s < event_key_count; s++) {
      const char *name = input_system_key_name(s);
      system_names[s] = name && name[0] ? intern_string(name) : nullptr;
    }
  }
  return system_names[scan];
}

// Compares names loosely: case-insensitive, blanks and '_' alike.
bool loose_equal(const char *a, const char *b) {
  for (;; a++, b++) {
    int ca = *a == '_' ? ' ' : tolower(static_cast<unsigned char>(*a));
    int cb = *b == '_' ? ' ' : tolower(static_cast<unsigned char>(*b));
    if (ca != cb) return false;
    if (!ca) return true;
  }
}

bool names_match(const char *a, const char *b, bool loose) { return loose ? loose_equal(a, b) : strcmp(a, b) == 0; }

int lookup_name(const char *name, bool loose) {
  for (const SpecialName &s : special_names)
    if (names_match(s.name, name, loose)) return s.code;
  for (int scan = 0; scan < event_key_count; scan++) {
    const char *system = system_name(scan);
    if (system && names_match(system, name, loose)) return event_key_base + scan;
  }
  for (const KeyName &k : fixed_keys)
    if (names_match(k.name, name, loose)) return event_key_base + k.scan;
  return -1;
}

// Parses "Dev.key[N]" / "Dev button N" (or "axis" for axes); the whole
// name must match so that trailing junk is not silently accepted.
bool parse_control(const char *name, const char *bracket_word, const char *spaced_word, char *device, int *number) {
  char format[64];
  int used = 0;
  snprintf(format, sizeof format, "%%63[^.].%s[%%d]%%n", bracket_word);
  if (sscanf(name, format, device, number, &used) == 2 && used > 0 && name[used] == '\0') return true;
  used = 0;
  snprintf(format, sizeof format, "%%63s %s %%d%%n", spaced_word);
  return sscanf(name, format, device, number, &used) == 2 && used > 0 && name[used] == '\0';
}

}  // namespace

int input_button_code(const char *name) {
  if (!name) return -1;
  name = hovl_alias_lookup(name);
  int code = lookup_name(name, false);
  if (code < 0) code = lookup_name(name, true);
  if (code >= 0) return code;
  unsigned value = 0;
  int used = 0;
  if (sscanf(name, "0x%x%n", &value, &used) == 1 && name[used] == '\0' && value < event_key_count)
    return event_key_base + static_cast<int>(value);
  char device_name[64];
  int button = -1;
  if (!parse_control(name, "key", "button", device_name, &button)) return -1;
  InputDevice *device = input_find_device(device_name);
  if (!device || button < 0 || button >= device_event_buttons || button >= device->buttons) return -1;
  device->polling = 1;
  return device->id + button;
}

const char *input_code_name(int code) {
  for (const SpecialName &s : special_names)
    if (s.code == code) return intern_string(s.name);
  char buffer[1100];
  if (code >= event_key_base && code < event_key_base + event_key_count) {
    int scan = code - event_key_base;
    const char *system = system_name(scan);
    if (system) return system;
    for (const KeyName &k : fixed_keys)
      if (k.scan == scan) return intern_string(k.name);
    snprintf(buffer, sizeof buffer, "0x%x", scan);
    return intern_string(buffer);
  }
  if (code >= event_device_step) {
    for (int i = 0; i < input_device_count(); i++) {
      InputDevice *device = input_device(i);
      if (code >= device->id && code < device->id + device_event_buttons) {
        snprintf(buffer, sizeof buffer, "%.1000s button %d", device->name, code - device->id);
        return intern_string(buffer);
      }
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------- devices

namespace {

// Devices: from the roll call (window creation) to input_close_all.
InputDevice *devices[max_input_devices];
int device_count = 0;

// The pointer position; lives for the process.
int cursor_x = 0, cursor_y = 0;

int cursor_read(InputDevice *, int axis) { return axis == 0 ? cursor_x : cursor_y; }
const InputDeviceOps cursor_ops = {nullptr, cursor_read, nullptr};

void ensure_cursor() {
  if (!input_find_device("cursor")) input_add_device("cursor", 0, 2, &cursor_ops, nullptr);
}

void poll_devices() {
  for (int i = 0; i < device_count; i++)
    if (devices[i]->polling && devices[i]->ops && devices[i]->ops->poll) devices[i]->ops->poll(devices[i]);
}

bool id_taken(int id) {
  if (id == 0) return true;  // would overlap characters and key codes
  for (int i = 0; i < device_count; i++)
    if (devices[i]->id == id) return true;
  return false;
}

}  // namespace

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

void input_device_base_name(const char *name, char *out, int size) {
  int length = 0;
  for (const char *p = name; *p && length < size - 1; p++)
    if (*p != ' ' && *p != '.') out[length++] = *p;
  out[length] = '\0';
}

InputDevice *input_add_device(const char *name, int buttons, int axes, const InputDeviceOps *ops, void *backend) {
  if (device_count >= max_input_devices) {
    hovl_log("Too many input devices; \"%s\" ignored\n", name);
    return nullptr;
  }
  // Room for "#NN" after the base name.
  char base[max_device_name - 8];
  input_device_base_name(name, base, sizeof base);
  if (!base[0]) snprintf(base, sizeof base, "Device");
  InputDevice *device = static_cast<InputDevice *>(alloc_or_die(sizeof(InputDevice)));
  memset(device, 0, sizeof *device);
  snprintf(device->name, sizeof device->name, "%s", base);
  for (int n = 2; n <= max_input_devices + 1 && input_find_device(device->name); n++)
    snprintf(device->name, sizeof device->name, "%.50s#%d", base, n);
  int id = input_device_id_for_name(device->name);
  while (id_taken(id)) id = (id + event_device_step) & 0x7FFF0000;
  device->id = id;
  device->buttons = buttons < 0 ? 0 : buttons;
  device->axes = axes < 0 ? 0 : axes;
  device->connected = 1;
  device->first_hat_button = -1;
  device->ops = ops;
  device->backend = backend;
  devices[device_count++] = device;
  return device;
}

void input_remove_device(InputDevice *device) {
  for (int i = 0; i < device_count; i++) {
    if (devices[i] != device) continue;
    if (device->ops && device->ops->release) device->ops->release(device);
    tracked_free(device);
    memmove(&devices[i], &devices[i + 1], sizeof(InputDevice *) * (device_count - i - 1));
    device_count--;
    return;
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
  if (!name) return {nullptr, 0};
  ensure_cursor();
  name = hovl_alias_lookup(name);
  char device_name[64];
  int axis = -1;
  if (!parse_control(name, "axis", "axis", device_name, &axis)) return {nullptr, 0};
  InputDevice *device = input_find_device(device_name);
  if (!device || axis < 0 || axis >= device->axes) return {nullptr, 0};
  device->open_axes++;
  return {device, axis};
}

int input_read_axis(AxisHandle handle) {
  InputDevice *device = handle.device;
  if (!device || handle.axis < 0 || handle.axis >= device->axes || !device->ops || !device->ops->read_axis) return 0;
  if (device->polling && device->ops->poll) device->ops->poll(device);
  return device->ops->read_axis(device, handle.axis);
}

const char *input_axis_name(AxisHandle handle) {
  if (!handle.device) return nullptr;
  char buffer[max_device_name + 32];
  snprintf(buffer, sizeof buffer, "%s.axis[%d]", handle.device->name, handle.axis);
  return intern_string(buffer);
}

int input_list_axes(AxisHandle *out, int max) {
  int count = 0;
  for (int i = 0; i < device_count; i++) {
    InputDevice *device = devices[i];
    if (device->ops == &cursor_ops || !device->connected) continue;
    for (int a = 0; a < device->axes && count < max; a++) out[count++] = {device, a};
  }
  return count;
}

void input_close_all() {
  while (device_count > 0) input_remove_device(devices[device_count - 1]);
}

void input_set_cursor(int x, int y) {
  ensure_cursor();
  cursor_x = x;
  cursor_y = y;
}

// Aliases are made once per process; a second window must not log refusals.
static void alias_once(const char *name, const char *value) {
  if (strcmp(hovl_alias_lookup(name), name) == 0) hovl_alias(name, value);
}

void input_make_aliases() {
  ensure_cursor();
  alias_once("cursor-left", "Mouse Left");
  alias_once("cursor-middle", "Mouse Middle");
  alias_once("cursor-right", "Mouse Right");
  alias_once("cursor-x", "cursor.axis[0]");
  alias_once("cursor-y", "cursor.axis[1]");
  alias_once("mouse-x", "Mouse.axis[0]");
  alias_once("mouse-y", "Mouse.axis[1]");
  alias_once("mouse-left", "Mouse.key[0]");
  alias_once("mouse-right", "Mouse.key[1]");
  alias_once("mouse-middle", "Mouse.key[2]");
}

void input_alias_joystick(int slot, const char *device_name) {
  if (slot < 0 || slot > 1) return;
  const char *prefix = slot == 0 ? "joystick-a-" : "joystick-b-";
  char probe[32];
  snprintf(probe, sizeof probe, "%sx", prefix);
  if (strcmp(hovl_alias_lookup(probe), probe) != 0) return;
  static const char *const suffixes[4] = {"x", "y", "1", "2"};
  static const char *const targets[4] = {"axis[0]", "axis[1]", "key[0]", "key[1]"};
  for (int i = 0; i < 4; i++) {
    char name[32], value[max_device_name + 64];
    snprintf(name, sizeof name, "%s%s", prefix, suffixes[i]);
    snprintf(value, sizeof value, "%s.%s", device_name, targets[i]);
    alias_once(name, value);
  }
}
