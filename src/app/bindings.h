// Key bindings at run time: resolving their names to event codes and axis
// handles, following key events and axes, summing them into the nine control
// channels each tic, and capturing a new binding from whatever the player
// presses or moves ("Customize Controls").
#pragma once

struct KeyBinding;

constexpr int control_channel_count = 9;

// Channels: 0 steering, 1 throttle, 2 front brake, 3 rear brake, 4 gear
// change, 5 clutch lever, 6 sit/dab, 7 back up, 8 rider lean.
enum ControlChannel {
  channel_steer,
  channel_throttle,
  channel_front_brake,
  channel_rear_brake,
  channel_shift,
  channel_clutch,
  channel_dab,
  channel_back_up,
  channel_lean,
};

// One row of the binding table: a binding (BindingIndex), its channel and scale.
struct BindingTableEntry {
  int binding;
  int channel;
  float scale;
};
constexpr int binding_table_size = 12;
const BindingTableEntry *binding_table();  // binding_table_size rows

// Start-up, once input devices exist: every binding's key name to a key
// code and axis name to an axis handle. Unknown names are logged and leave
// the binding without effect.
void resolve_bindings();
// Shutdown ("Closing input devices"): ends a capture and forgets the
// handles, which die with the devices.
void release_bindings();

// One input event (main loop key handling). Every binding with this key
// code takes the value 1 (pressed) or 0. While a capture runs, a pressed
// key feeds it ("esc" cancels, another key is taken if none has been yet)
// and 1 is returned: the event must not be handled further.
int binding_key_event(int code, int pressed, double program_clock);

// Once per tic after the tic's events: advances a running capture, reads
// the axis bindings, then clears `channels` and adds every table binding's
// value times its scale to its channel.
void bindings_tic(double program_clock, float channels[control_channel_count]);

// Value of an axis binding for a raw position -32768..32767.
float binding_axis_value(const KeyBinding *binding, int raw);

// Every binding back to 0 (nothing stays held across a load).
void clear_binding_values();

// Capture: starts listening for `binding` (a BindingIndex), remembering where
// every device axis stands now. A running capture is replaced.
void start_binding_capture(int binding, double program_clock);
void cancel_binding_capture();
// The binding being captured, or -1.
int binding_capture_target();

// Extra log lines ("Done watching pots") when the debug level is not 0.
void bindings_set_debug_level(int level);
