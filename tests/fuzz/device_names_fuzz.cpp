// The names that key and axis bindings carry ("Pedal.axis[1]", "Pad button
// 3", "0x1c", "left ctrl", aliases): each line of the input is looked up as
// a button and as an axis against two registered controllers, and once
// registered as a device name itself. A code found must name back to a
// name that finds the same code; an axis found must lie on its device.
// Seeds: the bindings of the shipped default configuration.
#include <cstring>
#include <string>

#include "platform/input.h"

namespace {
int zero_axis(InputDevice *, int) { return 0; }
const InputDeviceOps ops = {nullptr, zero_axis, nullptr};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool ready = [] {
    input_make_aliases();
    input_add_device("Pedal", 4, 3, &ops, nullptr);
    input_add_device("Game Pad", 12, 6, &ops, nullptr);
    return true;
  }();
  (void)ready;
  std::string text(reinterpret_cast<const char *>(data), size);
  size_t start = 0;
  for (int line = 0; line < 64 && start <= text.size(); line++) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string name = text.substr(start, end - start);
    start = end + 1;
    const char *c_name = name.c_str();  // stops at a zero byte, as a file's line would

    int code = input_button_code(c_name);
    if (code < -1) __builtin_trap();
    if (code >= 0) {
      const char *back = input_code_name(code);
      if (!back || input_button_code(back) != code) __builtin_trap();
    }
    AxisHandle axis = input_open_axis(c_name);
    if (axis.device) {
      if (axis.axis < 0 || axis.axis >= axis.device->axes) __builtin_trap();
      const char *back = input_axis_name(axis);
      if (!back) __builtin_trap();
      AxisHandle again = input_open_axis(back);
      if (again.device != axis.device || again.axis != axis.axis) __builtin_trap();
      volatile int v = input_read_axis(axis);
      (void)v;
    }
    char base[max_device_name];
    input_device_base_name(c_name, base, sizeof base);
    if (!memchr(base, 0, sizeof base) || strpbrk(base, " .")) __builtin_trap();
    input_device_id_for_name(c_name);
    if (InputDevice *added = input_add_device(c_name, 2, 2, &ops, nullptr)) {
      if (!memchr(added->name, 0, sizeof added->name) || input_find_device(added->name) != added) __builtin_trap();
      input_remove_device(added);
    }
  }
  return 0;
}
