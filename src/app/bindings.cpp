#include "app/bindings.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/alloc.h"
#include "app/config.h"
#include "platform/input.h"
#include "platform/log.h"

namespace {

const BindingTableEntry table[binding_table_size] = {
    {bind_left, channel_steer, +1},          {bind_right, channel_steer, -1},
    {bind_throttle, channel_throttle, +1},   {bind_front_brake, channel_front_brake, +1},
    {bind_rear_brake, channel_rear_brake, +1}, {bind_upshift, channel_shift, +1},
    {bind_downshift, channel_shift, -1},     {bind_clutch, channel_clutch, +1},
    {bind_dab, channel_dab, +1},             {bind_back_up, channel_back_up, +1},
    {bind_lean_forward, channel_lean, -1},   {bind_lean_backward, channel_lean, +1},
};

// A capture waits this long after the last movement before it binds.
constexpr double capture_settle_seconds = 0.25;
// An axis must travel more than this (in raw / 32768) to be bound.
constexpr float capture_axis_travel = 0.5f;

struct CaptureAxis {
  AxisHandle handle;
  char name[max_device_name + 24];
  float start;
  float farthest;
};

// The binding capture: runs from start_binding_capture until it binds or
// is cancelled; its axis list is allocated for that time only.
struct Capture {
  int binding;  // -1 when no capture runs
  CaptureAxis *axes;
  int axis_count;
  const char *key_name;
  int key_code;
  double key_time;
  double last_change;
};

Capture capture = {-1, nullptr, 0, nullptr, -1, 0, 0};
int esc_code = -1;
bool esc_resolved = false;
int debug_level = 0;

int escape_code() {
  if (!esc_resolved) {
    esc_code = input_button_code("esc");
    esc_resolved = true;
  }
  return esc_code;
}

float axis_position(AxisHandle handle) { return static_cast<float>(input_read_axis(handle)) / 32768.0f; }

void end_capture() {
  if (capture.binding < 0) return;
  tracked_free(capture.axes);
  capture = {-1, nullptr, 0, nullptr, -1, 0, 0};
  if (debug_level) hovl_log("Done watching pots\n");
}

void bind_axis(KeyBinding *binding, const CaptureAxis &axis) {
  float travel = axis.farthest - axis.start;
  binding->key_name = nullptr;
  binding->key_code = -1;
  binding->axis_name = intern_string(axis.name);
  binding->axis_device = axis.handle.device;
  binding->axis_index = axis.handle.axis;
  // The inner 7/8 of the travel becomes the working range.
  binding->low = axis.start + travel / 16;
  binding->high = axis.start + 15 * travel / 16;
}

void bind_key(KeyBinding *binding) {
  binding->key_name = capture.key_name;
  binding->key_code = capture.key_code;
  binding->axis_name = nullptr;
  binding->axis_device = nullptr;
  binding->axis_index = 0;
}

void advance_capture(double now) {
  KeyBinding *binding = key_binding(capture.binding);
  if (!binding) {
    end_capture();
    return;
  }
  for (int i = 0; i < capture.axis_count; i++) {
    CaptureAxis &axis = capture.axes[i];
    float p = axis_position(axis.handle);
    if (std::fabs(axis.start - p) > std::fabs(axis.start - axis.farthest)) {
      axis.farthest = p;
      capture.last_change = now;
    }
    if (now - capture.last_change > capture_settle_seconds &&
        std::fabs(axis.start - axis.farthest) > capture_axis_travel) {
      bind_axis(binding, axis);
      end_capture();
      return;
    }
  }
  if (capture.key_name && now - capture.last_change > capture_settle_seconds) {
    bind_key(binding);
    end_capture();
  }
}

}  // namespace

const BindingTableEntry *binding_table() { return table; }

void resolve_bindings() {
  esc_code = input_button_code("esc");
  esc_resolved = true;
  for (int i = 0; i < binding_count; i++) {
    KeyBinding *b = key_binding(i);
    b->key_code = -1;
    b->axis_device = nullptr;
    b->axis_index = 0;
    if (b->key_name) {
      b->key_code = input_button_code(b->key_name);
      if (b->key_code < 0) hovl_log("%s: unknown key \"%s\"\n", binding_config_key(i), b->key_name);
    }
    if (b->axis_name) {
      AxisHandle handle = input_open_axis(b->axis_name);
      if (!handle.device) hovl_log("%s: unknown axis \"%s\"\n", binding_config_key(i), b->axis_name);
      b->axis_device = handle.device;
      b->axis_index = handle.axis;
    }
  }
}

void release_bindings() {
  end_capture();
  for (int i = 0; i < binding_count; i++) {
    KeyBinding *b = key_binding(i);
    b->key_code = -1;
    b->axis_device = nullptr;
    b->axis_index = 0;
    b->value = 0;
  }
  esc_resolved = false;
}

int binding_key_event(int code, int pressed, double program_clock) {
  for (int i = 0; i < binding_count; i++) {
    KeyBinding *b = key_binding(i);
    if (b->key_code >= 0 && b->key_code == code) b->value = pressed ? 1.0f : 0.0f;
  }
  if (capture.binding < 0 || !pressed) return 0;
  if (code == escape_code()) {
    end_capture();
    return 1;
  }
  if (!capture.key_name) {
    // Typed characters have no name and cannot be stored; the key's own
    // event, which comes with them, is the one to take.
    const char *name = input_code_name(code);
    if (name) {
      capture.key_name = name;
      capture.key_code = code;
      capture.key_time = program_clock;
    }
  }
  return 1;
}

float binding_axis_value(const KeyBinding *binding, int raw) {
  float p = static_cast<float>(raw) / 32768.0f;
  float range = binding->high - binding->low;
  // An empty range would divide by zero: treat it as a switch at `low`.
  if (std::fabs(range) < 1e-6f) return p >= binding->low ? 1.0f : 0.0f;
  float value = (p - binding->low) / range;
  return value < 0 ? 0 : value > 1 ? 1 : value;
}

void bindings_tic(double program_clock, float channels[control_channel_count]) {
  if (capture.binding >= 0) advance_capture(program_clock);
  for (int i = 0; i < binding_count; i++) {
    KeyBinding *b = key_binding(i);
    if (b->axis_device) b->value = binding_axis_value(b, input_read_axis({b->axis_device, b->axis_index}));
  }
  for (int c = 0; c < control_channel_count; c++) channels[c] = 0;
  for (const BindingTableEntry &entry : table) channels[entry.channel] += key_binding(entry.binding)->value * entry.scale;
}

void clear_binding_values() {
  for (int i = 0; i < binding_count; i++) key_binding(i)->value = 0;
}

void start_binding_capture(int binding, double program_clock) {
  end_capture();
  if (!key_binding(binding)) return;
  int total = 0;
  for (int d = 0; d < input_device_count(); d++) total += input_device(d)->axes;
  capture.binding = binding;
  capture.last_change = program_clock;
  capture.axes = total > 0 ? static_cast<CaptureAxis *>(alloc_or_die(sizeof(CaptureAxis) * total)) : nullptr;
  capture.axis_count = 0;
  for (int d = 0; d < input_device_count(); d++) {
    InputDevice *device = input_device(d);
    for (int a = 0; a < device->axes && capture.axis_count < total; a++) {
      CaptureAxis &axis = capture.axes[capture.axis_count];
      snprintf(axis.name, sizeof axis.name, "%s.axis[%d]", device->name, a);
      axis.handle = input_open_axis(axis.name);
      if (!axis.handle.device) continue;
      axis.start = axis_position(axis.handle);
      axis.farthest = axis.start;
      capture.axis_count++;
    }
  }
}

void cancel_binding_capture() { end_capture(); }

int binding_capture_target() { return capture.binding; }

void bindings_set_debug_level(int level) { debug_level = level; }
