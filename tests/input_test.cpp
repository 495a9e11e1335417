// Input without hardware: key names and codes, the event queue, device
// naming and ids, axis handles, and SDL's virtual joysticks standing in for
// game controllers (found, named, read, unplugged and plugged back).
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/bindings.h"
#include "app/config.h"
#include "platform/input.h"
#include "platform/log.h"
#include "platform/window.h"

namespace {

int key(int scan) { return event_key_base + scan; }

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hovl_reset_for_tests();
    input_set_pump(nullptr);
    input_clear_events();
  }
  void TearDown() override {
    input_close_all();
    input_set_pump(nullptr);
    input_clear_events();
    hovl_reset_for_tests();
  }
};

HovlTime at(int64_t sec, int32_t usec) { return {sec, usec}; }

}  // namespace

// ------------------------------------------------------------ names

TEST_F(InputTest, KeyNamesResolveExactlyThenLoosely) {
  EXPECT_EQ(input_button_code("Left Shift"), key(42));
  EXPECT_EQ(input_button_code("left_shift"), key(42));
  EXPECT_EQ(input_button_code("LEFT SHIFT"), key(42));
  EXPECT_EQ(input_button_code("0x1c"), key(28));
  EXPECT_EQ(input_button_code("0x1FF"), key(511));
  EXPECT_EQ(input_button_code("0x200"), -1);
  EXPECT_EQ(input_button_code("0x1c junk"), -1);
  EXPECT_EQ(input_button_code(" "), key(57));
  EXPECT_EQ(input_button_code("space"), key(57));
  EXPECT_EQ(input_button_code("Keypad Enter"), key(284));
  EXPECT_EQ(input_button_code("keypad_enter"), key(284));
  EXPECT_EQ(input_button_code("Close"), event_close);
  EXPECT_EQ(input_button_code("mouse_middle"), event_mouse_middle);
  EXPECT_EQ(input_button_code("Mouse Right"), event_mouse_right);
  EXPECT_EQ(input_button_code("No Such Key"), -1);
  EXPECT_EQ(input_button_code(""), -1);
  EXPECT_EQ(input_button_code(nullptr), -1);
}

TEST_F(InputTest, DefaultBindingNamesResolve) {
  struct {
    const char *name;
    int scan;
  } defaults[] = {{"left", 331}, {"right", 333}, {"x", 45},   {"c", 46},   {"v", 47},           {"up", 328},
                  {"down", 336}, {"z", 44},     {"b", 48},   {"n", 49},   {"m", 50},           {"pause", 69},
                  {".", 52},     {"\\", 43},    {"/", 53},   {"[", 26},   {"]", 27},           {"t", 20},
                  {"s", 31},     {"esc", 1},    {"enter", 28}, {"right ctrl", 285}, {"keypad enter", 284}};
  for (const auto &d : defaults) EXPECT_EQ(input_button_code(d.name), key(d.scan)) << d.name;
}

TEST_F(InputTest, EveryKeyCodeHasANameThatMapsBack) {
  for (int scan = 0; scan < event_key_count; scan++) {
    const char *name = input_code_name(key(scan));
    ASSERT_NE(name, nullptr) << scan;
    EXPECT_EQ(input_button_code(name), key(scan)) << name;
    EXPECT_EQ(name, input_code_name(key(scan))) << "names are interned";
  }
  EXPECT_STREQ(input_code_name(key(57)), "Space");
  EXPECT_STREQ(input_code_name(key(1)), "Esc");
  EXPECT_STREQ(input_code_name(key(285)), "Right Ctrl");
  EXPECT_STREQ(input_code_name(key(56)), "Left Alt");
  EXPECT_STREQ(input_code_name(key(0x64)), "0x64");
  EXPECT_STREQ(input_code_name(event_close), "Close");
  EXPECT_STREQ(input_code_name(event_mouse_left), "Mouse Left");
  EXPECT_EQ(input_code_name('a'), nullptr);
  EXPECT_EQ(input_code_name(0x3000), nullptr);
  EXPECT_EQ(input_code_name(5 * event_device_step + 1), nullptr) << "no such device";
}

TEST_F(InputTest, ScanCodesOfThePhysicalKeysCarryTheirNames) {
  // Letters and digits: the name of the PC scan code is the key's own label.
  for (int s = SDL_SCANCODE_A; s <= SDL_SCANCODE_Z; s++) {
    int scan = window_pc_scan_code(s);
    ASSERT_GE(scan, 0);
    std::string label(1, static_cast<char>('A' + (s - SDL_SCANCODE_A)));
    EXPECT_EQ(input_code_name(key(scan)), label);
  }
  for (int s = SDL_SCANCODE_1; s <= SDL_SCANCODE_0; s++) {
    std::string label(1, s == SDL_SCANCODE_0 ? '0' : static_cast<char>('1' + (s - SDL_SCANCODE_1)));
    EXPECT_EQ(input_code_name(key(window_pc_scan_code(s))), label);
  }
  EXPECT_STREQ(input_code_name(key(window_pc_scan_code(SDL_SCANCODE_KP_ENTER))), "Keypad Enter");
  EXPECT_STREQ(input_code_name(key(window_pc_scan_code(SDL_SCANCODE_RCTRL))), "Right Ctrl");
  EXPECT_STREQ(input_code_name(key(window_pc_scan_code(SDL_SCANCODE_PAUSE))), "Pause");
  EXPECT_STREQ(input_code_name(key(window_pc_scan_code(SDL_SCANCODE_NUMLOCKCLEAR))), "Num Lock");
  EXPECT_STREQ(input_code_name(key(window_pc_scan_code(SDL_SCANCODE_UP))), "Up");
  EXPECT_STREQ(input_code_name(key(window_pc_scan_code(SDL_SCANCODE_KP_8))), "Keypad 8");
  EXPECT_STREQ(input_code_name(key(window_pc_scan_code(SDL_SCANCODE_KP_DIVIDE))), "Keypad /");
  EXPECT_EQ(window_pc_scan_code(-1), -1);
  EXPECT_EQ(window_pc_scan_code(SDL_NUM_SCANCODES), -1);
  // No two keys share a code (the ISO and US backslash positions aside).
  int owner[event_key_count];
  for (int &o : owner) o = -1;
  for (int s = 0; s < SDL_NUM_SCANCODES; s++) {
    int scan = window_pc_scan_code(s);
    if (scan < 0 || s == SDL_SCANCODE_NONUSHASH) continue;
    ASSERT_LT(scan, event_key_count);
    EXPECT_EQ(owner[scan], -1) << SDL_GetScancodeName(static_cast<SDL_Scancode>(s));
    owner[scan] = s;
  }
}

TEST_F(InputTest, CursorAliasesAndAxes) {
  input_make_aliases();
  EXPECT_EQ(input_button_code("cursor-left"), event_mouse_left);
  EXPECT_EQ(input_button_code("cursor-right"), event_mouse_right);
  input_set_cursor(120, 45);
  AxisHandle x = input_open_axis("cursor-x");
  AxisHandle y = input_open_axis("cursor axis 1");
  ASSERT_NE(x.device, nullptr);
  ASSERT_NE(y.device, nullptr);
  EXPECT_EQ(input_read_axis(x), 120);
  EXPECT_EQ(input_read_axis(y), 45);
  EXPECT_STREQ(input_axis_name(y), "cursor.axis[1]");
  EXPECT_EQ(input_open_axis("cursor.axis[2]").device, nullptr);
  AxisHandle list[8];
  EXPECT_EQ(input_list_axes(list, 8), 0) << "the cursor is not a controller";
}

TEST_F(InputTest, SleepUntilWaitsForTheTime) {
  HovlTime target = time_from_seconds(time_seconds(time_now()) + 0.02);
  sleep_until(target);
  EXPECT_GE(time_compare(time_now(), target), 0);
  HovlTime past = time_from_seconds(time_seconds(time_now()) - 1.0);
  sleep_until(past);  // returns at once
  HovlTime t = time_from_seconds(12.9999996);
  EXPECT_EQ(t.sec, 13);
  EXPECT_EQ(t.usec, 0);
  EXPECT_EQ(time_compare(time_from_seconds(time_seconds({5, 250000})), {5, 250000}), 0);
}

// ------------------------------------------------------------ queue

TEST_F(InputTest, QueueKeepsTimeOrderAndArrivalOrderOnTies) {
  EXPECT_TRUE(input_push_event(1, 1, at(10, 500)));
  EXPECT_TRUE(input_push_event(2, 1, at(10, 100)));
  EXPECT_TRUE(input_push_event(3, 0, at(10, 500)));
  EXPECT_TRUE(input_push_event(4, 1, at(9, 999999)));
  EXPECT_TRUE(input_push_event(5, 1, at(10, 100)));
  InputEvent e;
  // Nothing is due before the oldest stamp.
  EXPECT_FALSE(input_wait_event(at(9, 999998), &e));
  int expected[] = {4, 2, 5, 1, 3};
  for (int code : expected) {
    ASSERT_TRUE(input_wait_event(at(10, 500), &e));
    EXPECT_EQ(e.code, code);
  }
  EXPECT_EQ(e.pressed, 0);
  EXPECT_FALSE(input_next_event(&e));
}

TEST_F(InputTest, QueueDropsThe257thEvent) {
  for (int i = 0; i < input_queue_size; i++) ASSERT_TRUE(input_push_event(key(30), i % 2, at(1, i)));
  EXPECT_FALSE(input_push_event(key(31), 1, at(0, 0))) << "dropped even though it is the oldest";
  EXPECT_EQ(input_queued_count(), input_queue_size);
  InputEvent e;
  int taken = 0;
  while (input_next_event(&e)) {
    EXPECT_EQ(e.code, key(30));
    EXPECT_EQ(e.time.usec, taken);
    taken++;
  }
  EXPECT_EQ(taken, input_queue_size);
  // Room again once it has been emptied, across the ring's wrap.
  EXPECT_TRUE(input_push_event(key(31), 1, at(2, 0)));
  ASSERT_TRUE(input_next_event(&e));
  EXPECT_EQ(e.code, key(31));
}

// ------------------------------------------------------------ devices

namespace {

int fake_axes[4];
int fake_polls = 0;
int fake_releases = 0;
void fake_poll(InputDevice *device) {
  fake_polls++;
  input_push_event(device->id + 1, 1, at(0, 0));
}
int fake_read(InputDevice *, int axis) { return fake_axes[axis]; }
void fake_release(InputDevice *) { fake_releases++; }
const InputDeviceOps fake_ops = {fake_poll, fake_read, fake_release};

}  // namespace

TEST_F(InputTest, DevicesGetUniqueNamesAndIds) {
  InputDevice *a = input_add_device("Gamepad", 4, 2, &fake_ops, nullptr);
  InputDevice *b = input_add_device("Gamepad", 4, 2, &fake_ops, nullptr);
  InputDevice *c = input_add_device("Game pad. v2", 1, 0, &fake_ops, nullptr);
  ASSERT_TRUE(a && b && c);
  EXPECT_STREQ(a->name, "Gamepad");
  EXPECT_STREQ(b->name, "Gamepad#2");
  EXPECT_STREQ(c->name, "Gamepadv2");
  EXPECT_EQ(input_find_device("Gamepad#2"), b);
  // "Joystick1": even positions J y t c 1 sum to 459, odd o s i k to 438.
  EXPECT_EQ(input_device_id_for_name("Joystick1"), 0x37CB0000);
  int ids[3] = {a->id, b->id, c->id};
  for (int i = 0; i < 3; i++) {
    EXPECT_NE(ids[i], 0);
    EXPECT_EQ(ids[i] % event_device_step, 0);
    for (int j = 0; j < i; j++) EXPECT_NE(ids[i], ids[j]);
  }
  // Same id from the name: the later device moves on by one step.
  InputDevice *d = input_add_device("Joystick1", 2, 1, &fake_ops, nullptr);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->id, input_device_id_for_name("Joystick1"));
  input_close_all();
  EXPECT_EQ(fake_releases, 4);
  EXPECT_EQ(input_device_count(), 0);
  fake_releases = 0;
}

TEST_F(InputTest, ClashingIdsStepOnAndZeroIsNeverUsed) {
  // "" has the id 0, which would collide with characters and keys.
  EXPECT_EQ(input_device_id_for_name(""), 0);
  InputDevice *first = input_add_device("Pad", 1, 0, &fake_ops, nullptr);
  ASSERT_NE(first, nullptr);
  // Find another name with the same id: swapping two even-position letters keeps both sums.
  InputDevice *second = input_add_device("daP", 1, 0, &fake_ops, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(input_device_id_for_name("daP"), first->id);
  EXPECT_EQ(second->id, first->id + event_device_step);
}

TEST_F(InputTest, DeviceButtonsAndAxesByName) {
  InputDevice *stick = input_add_device("Joystick1", 2, 3, &fake_ops, nullptr);
  ASSERT_NE(stick, nullptr);
  EXPECT_EQ(input_button_code("Joystick1.key[3]"), -1) << "only two buttons";
  EXPECT_EQ(input_button_code("Joystick1.key[-1]"), -1);
  EXPECT_EQ(input_button_code("Joystick9.key[0]"), -1);
  EXPECT_EQ(stick->polling, 0);
  EXPECT_EQ(input_button_code("Joystick1 button 1"), stick->id + 1);
  EXPECT_EQ(stick->polling, 1) << "a bound button switches polling on";
  EXPECT_EQ(input_button_code("Joystick1.key[0]"), stick->id);
  EXPECT_STREQ(input_code_name(stick->id + 1), "Joystick1 button 1");
  EXPECT_EQ(input_button_code(input_code_name(stick->id + 1)), stick->id + 1);

  fake_axes[2] = -32767;
  AxisHandle h = input_open_axis("Joystick1.axis[2]");
  ASSERT_EQ(h.device, stick);
  EXPECT_EQ(h.axis, 2);
  EXPECT_EQ(input_read_axis(h), -32767);
  EXPECT_EQ(input_open_axis("Joystick1 axis 0").axis, 0);
  EXPECT_EQ(input_open_axis("Joystick1.axis[3]").device, nullptr);
  EXPECT_EQ(input_open_axis("Joystick1.axis[1]junk").device, nullptr);
  EXPECT_EQ(input_read_axis({nullptr, 0}), 0);
  EXPECT_EQ(stick->open_axes, 2);

  // A polling device is polled before each axis read, and when no event is due.
  int polls = fake_polls;
  input_read_axis(h);
  EXPECT_EQ(fake_polls, polls + 1);
  input_clear_events();
  polls = fake_polls;
  InputEvent e;
  ASSERT_TRUE(input_next_event(&e));
  EXPECT_EQ(e.code, stick->id + 1);
  EXPECT_GT(fake_polls, polls);

  AxisHandle list[8];
  ASSERT_EQ(input_list_axes(list, 8), 3);
  EXPECT_STREQ(input_axis_name(list[1]), "Joystick1.axis[1]");
  EXPECT_EQ(input_list_axes(list, 2), 2) << "never more than asked";
}

// ------------------------------------------------------------ SDL virtual joysticks

namespace {

struct VirtualPad {
  int index = -1;
  SDL_Joystick *joystick = nullptr;
};

int attach_virtual(const char *name, int axes, int buttons, int hats) {
  SDL_VirtualJoystickDesc desc;
  memset(&desc, 0, sizeof desc);
  desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
  desc.type = SDL_JOYSTICK_TYPE_WHEEL;
  desc.naxes = static_cast<Uint16>(axes);
  desc.nbuttons = static_cast<Uint16>(buttons);
  desc.nhats = static_cast<Uint16>(hats);
  desc.name = name;
  return SDL_JoystickAttachVirtualEx(&desc);
}

int virtual_index(const char *name) {
  for (int i = 0; i < SDL_NumJoysticks(); i++)
    if (SDL_JoystickIsVirtual(i) && strcmp(SDL_JoystickNameForIndex(i), name) == 0) return i;
  return -1;
}

// Lets the backend see what SDL has queued; returns the events it produced.
int pump_events(InputEvent *out, int max) {
  int n = 0;
  InputEvent e;
  while (input_next_event(&e))
    if (n < max) out[n++] = e;
  return n;
}

class VirtualJoystickTest : public InputTest {
 protected:
  void SetUp() override {
    InputTest::SetUp();
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) GTEST_SKIP() << SDL_GetError();
    input_open_devices();
  }
  void TearDown() override {
    for (int i = SDL_NumJoysticks() - 1; i >= 0; i--)
      if (SDL_JoystickIsVirtual(i)) SDL_JoystickDetachVirtual(i);
    InputEvent e;
    while (input_next_event(&e)) {
    }
    InputTest::TearDown();
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  }
};

}  // namespace

TEST_F(VirtualJoystickTest, WheelIsFoundNamedReadAndBound) {
  ASSERT_GE(attach_virtual("Test Wheel v1.0", 3, 4, 1), 0) << SDL_GetError();
  InputEvent events[8];
  pump_events(events, 8);  // the plug-in notice
  InputDevice *wheel = input_find_device("TestWheelv10");
  ASSERT_NE(wheel, nullptr);
  EXPECT_EQ(wheel->axes, 3);
  EXPECT_EQ(wheel->buttons, 4 + 4) << "the hat's four directions follow the buttons";
  EXPECT_EQ(wheel->connected, 1);
  EXPECT_STREQ(hovl_alias_lookup("joystick-a-x"), "TestWheelv10.axis[0]");
  EXPECT_STREQ(hovl_alias_lookup("joystick-a-2"), "TestWheelv10.key[1]");

  int index = virtual_index("Test Wheel v1.0");
  ASSERT_GE(index, 0);
  SDL_Joystick *js = SDL_JoystickOpen(index);
  ASSERT_NE(js, nullptr);
  AxisHandle pedal = input_open_axis("TestWheelv10.axis[2]");
  AxisHandle steer = input_open_axis("joystick-a-x");
  ASSERT_EQ(pedal.device, wheel);
  ASSERT_EQ(steer.device, wheel);

  // Full travel both ways: SDL's -32768 is reported as -32767.
  SDL_JoystickSetVirtualAxis(js, 2, -32768);
  SDL_JoystickSetVirtualAxis(js, 0, 12345);
  pump_events(events, 8);
  EXPECT_EQ(input_read_axis(pedal), -32767);
  EXPECT_EQ(input_read_axis(steer), 12345);
  SDL_JoystickSetVirtualAxis(js, 2, 32767);
  pump_events(events, 8);
  EXPECT_EQ(input_read_axis(pedal), 32767);

  // The axes a capture would watch are this wheel's.
  AxisHandle list[8];
  ASSERT_EQ(input_list_axes(list, 8), 3);
  EXPECT_STREQ(input_axis_name(list[2]), "TestWheelv10.axis[2]");

  // Buttons and hat directions arrive as events with the device's codes.
  // SDL counts whole milliseconds: allow for two of them.
  HovlTime before = time_from_seconds(time_seconds(time_now()) - 0.002);
  SDL_JoystickSetVirtualButton(js, 1, SDL_PRESSED);
  SDL_JoystickSetVirtualHat(js, 0, SDL_HAT_LEFT);
  int n = pump_events(events, 8);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(events[0].code, wheel->id + 1);
  EXPECT_EQ(events[0].pressed, 1);
  EXPECT_EQ(events[1].code, wheel->id + 4 + 3);
  EXPECT_GE(time_compare(events[0].time, before), 0);
  EXPECT_LE(time_compare(events[1].time, time_now()), 0);
  EXPECT_STREQ(input_code_name(events[1].code), "TestWheelv10 button 7");
  EXPECT_EQ(input_button_code("joystick-a-2"), wheel->id + 1);
  SDL_JoystickSetVirtualHat(js, 0, SDL_HAT_CENTERED);
  n = pump_events(events, 8);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(events[0].code, wheel->id + 7);
  EXPECT_EQ(events[0].pressed, 0);

  // Pressed fully during a capture, the pedal is bound with the inner 7/8
  // of its travel and then drives its channel.
  config_set_defaults();
  SDL_JoystickSetVirtualAxis(js, 2, 0);
  pump_events(events, 8);
  float channels[control_channel_count];
  start_binding_capture(bind_throttle, 0.0);
  bindings_tic(0.05, channels);
  SDL_JoystickSetVirtualAxis(js, 2, 32767);
  pump_events(events, 8);
  double clock = 0.1;
  for (; clock < 3.0 && binding_capture_target() >= 0; clock += 0.05) bindings_tic(clock, channels);
  EXPECT_EQ(binding_capture_target(), -1);
  const KeyBinding *b = key_binding(bind_throttle);
  EXPECT_STREQ(b->axis_name, "TestWheelv10.axis[2]");
  EXPECT_NEAR(b->low, 0.0625f, 1e-3f);
  EXPECT_NEAR(b->high, 0.9375f, 1e-3f);
  bindings_tic(clock, channels);
  EXPECT_FLOAT_EQ(channels[channel_throttle], 1.0f);
  SDL_JoystickSetVirtualAxis(js, 2, 0);
  pump_events(events, 8);
  bindings_tic(clock + 0.05, channels);
  EXPECT_FLOAT_EQ(channels[channel_throttle], 0.0f);
  SDL_JoystickClose(js);
}

TEST_F(VirtualJoystickTest, UnpluggedControllerStopsReadingAndComesBack) {
  ASSERT_GE(attach_virtual("Pedals", 2, 2, 0), 0) << SDL_GetError();
  InputEvent events[8];
  pump_events(events, 8);
  InputDevice *pedals = input_find_device("Pedals");
  ASSERT_NE(pedals, nullptr);
  int id = pedals->id;
  AxisHandle gas = input_open_axis("Pedals.axis[1]");
  ASSERT_NE(gas.device, nullptr);
  int rest = input_read_axis(gas);

  SDL_Joystick *js = SDL_JoystickOpen(virtual_index("Pedals"));
  ASSERT_NE(js, nullptr);
  SDL_JoystickSetVirtualAxis(js, 1, 32767);
  SDL_JoystickSetVirtualButton(js, 0, SDL_PRESSED);
  ASSERT_EQ(pump_events(events, 8), 1);
  EXPECT_EQ(input_read_axis(gas), 32767);
  SDL_JoystickClose(js);

  // Pulled out mid-race with the pedal down and a button held.
  ASSERT_EQ(SDL_JoystickDetachVirtual(virtual_index("Pedals")), 0);
  int n = pump_events(events, 8);
  ASSERT_EQ(n, 1) << "the held button is let go";
  EXPECT_EQ(events[0].code, id);
  EXPECT_EQ(events[0].pressed, 0);
  EXPECT_EQ(pedals->connected, 0);
  EXPECT_EQ(input_read_axis(gas), rest) << "back to where it rested";
  AxisHandle list[4];
  EXPECT_EQ(input_list_axes(list, 4), 0);
  EXPECT_EQ(input_button_code("Pedals.key[1]"), id + 1) << "bindings keep their codes";

  // Plugged back in: the same record, so the open handle reads again.
  ASSERT_GE(attach_virtual("Pedals", 2, 2, 0), 0);
  pump_events(events, 8);
  EXPECT_EQ(input_find_device("Pedals"), pedals);
  EXPECT_EQ(input_find_device("Pedals#2"), nullptr);
  EXPECT_EQ(pedals->connected, 1);
  js = SDL_JoystickOpen(virtual_index("Pedals"));
  ASSERT_NE(js, nullptr);
  SDL_JoystickSetVirtualAxis(js, 1, -20000);
  pump_events(events, 8);
  EXPECT_EQ(input_read_axis(gas), -20000);
  SDL_JoystickClose(js);
}

TEST_F(VirtualJoystickTest, TwoPadsOfOneNameAndTheJoystickAliases) {
  ASSERT_GE(attach_virtual("Gamepad", 2, 2, 0), 0);
  ASSERT_GE(attach_virtual("Gamepad", 2, 2, 0), 0);
  InputEvent events[8];
  pump_events(events, 8);
  InputDevice *first = input_find_device("Gamepad");
  InputDevice *second = input_find_device("Gamepad#2");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first->id, second->id);
  EXPECT_EQ(input_open_axis("joystick-a-y").device, first);
  EXPECT_EQ(input_open_axis("joystick-b-y").device, second);
  EXPECT_EQ(input_button_code("joystick-b-1"), second->id);
}

TEST_F(VirtualJoystickTest, ControllersCanBeSwitchedOff) {
  input_close_all();
  setenv("HOVL_OPTIONS", "[dinput:off]", 1);
  hovl_reset_for_tests();
  input_open_devices();
  ASSERT_GE(attach_virtual("Ignored Pad", 2, 2, 0), 0);
  InputEvent events[4];
  pump_events(events, 4);
  unsetenv("HOVL_OPTIONS");
  hovl_reset_for_tests();
  EXPECT_EQ(input_find_device("IgnoredPad"), nullptr);
  EXPECT_NE(input_find_device("cursor"), nullptr) << "the cursor is always there";
}

TEST_F(VirtualJoystickTest, RollCallFindsControllersAlreadyPlugged) {
  // Attached before the roll call: found by it, and not twice.
  input_close_all();
  ASSERT_GE(attach_virtual("Early Stick", 1, 1, 0), 0);
  input_open_devices();
  InputEvent events[4];
  pump_events(events, 4);
  EXPECT_NE(input_find_device("EarlyStick"), nullptr);
  EXPECT_EQ(input_find_device("EarlyStick#2"), nullptr);
  input_open_devices();
  EXPECT_EQ(input_find_device("EarlyStick#2"), nullptr);
}

// ------------------------------------------------------------ no display

TEST(NoDisplay, NoWindowAndNoInventedModes) {
  std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  std::string wayland = getenv("WAYLAND_DISPLAY") ? getenv("WAYLAND_DISPLAY") : "";
  std::string driver = getenv("SDL_VIDEODRIVER") ? getenv("SDL_VIDEODRIVER") : "";
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("SDL_VIDEODRIVER");
  EXPECT_EQ(window_open_gl("Torvane", 320, 240, 32, 0, 16, 0, 0), nullptr);
  EXPECT_EQ(display_modes()[0].width, 0) << "an empty list, not an invented one";
  if (!driver.empty()) setenv("SDL_VIDEODRIVER", driver.c_str(), 1);
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
  if (!wayland.empty()) setenv("WAYLAND_DISPLAY", wayland.c_str(), 1);
  input_close_all();
  input_set_pump(nullptr);
  hovl_reset_for_tests();
}
