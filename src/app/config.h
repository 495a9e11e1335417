// Settings: the typed setting records the menus edit and the other modules
// read, the configuration file "@config" that keeps them between runs, the
// bike setup files under "@setups/", the graphics presets and the active
// graphics values derived from them at start-up.
//
// File format (configuration and setups): one "key=value" line per setting.
// The key is the text before the first "="; the value is the rest of the
// line without its trailing carriage returns and line feeds. Lines without
// "=", unknown keys and values that do not convert are ignored. A setup file
// holds the setup keys only; the configuration holds everything, the setup
// keys included.
#pragma once

#include "bike/assembly.h"

struct DataFile;

// ---------------------------------------------------------------- records

// A number edited by steps within [minimum, maximum].
struct Slider {
  const char *label;
  double value;
  double step;
  double minimum;
  double maximum;
};

// One of a list of texts; files store the selected text, never the index.
struct Choice {
  const char *label;
  const char *const *texts;
  int count;
  int selected;
};

constexpr int max_text_length = 1023;

// A text of at most max_length characters.
struct TextSetting {
  const char *label;
  int max_length;
  char text[max_text_length + 1];
};

// A key (by name and event code) or an axis (by name and handle, with the
// range of raw positions / 32768 that maps to 0..1), or neither. Names are
// interned; codes and handles are resolved from them by resolve_bindings.
struct InputDevice;
struct KeyBinding {
  const char *label;
  const char *key_name;
  int key_code;  // -1 while unresolved or unbound
  const char *axis_name;
  InputDevice *axis_device;  // null while unresolved or unbound
  int axis_index;
  float low;
  float high;
  float value;  // 0..1, the control's current position
};

// Fills a slider from one "%f"; the result is clamped into its range.
// Returns 1 when the text held a finite number.
int set_slider(Slider *slider, const char *text);
// Selects the first entry equal to `text`; returns 1 when there was one.
int select_choice(Choice *choice, const char *text);
const char *choice_text(const Choice *choice);
// Copies at most the setting's maximum length.
void set_text(TextSetting *setting, const char *text);
// Reads "(k)name", a bare key name or "(low,high)axis name". Returns 1 when
// the binding was set (an empty value unbinds it).
int set_binding_text(KeyBinding *binding, const char *text);

// ---------------------------------------------------------------- settings

constexpr int max_gates = 40;
constexpr int server_history_count = 16;
constexpr int max_server_history_length = 126;
constexpr int max_video_modes = 64;
constexpr int max_bike_names = 128;
constexpr int max_track_names = 1024;

enum GateKind { gate_empty, gate_human, gate_robot, gate_robot_two_stroke, gate_robot_four_stroke };

struct GameSettings {
  int xres, yres;
  int draw_fps, draw_time, draw_ping, draw_speed;
  int spy;
  Choice track;  // over the tracks found; see set_track_names
  TextSetting configured_track;  // the name read, kept until the list exists
  Choice record;
  Choice skill;
  Slider minutes;
  Slider laps;
  Choice gates[max_gates];
  Slider ghost_fade_distance;
  Choice time_trial_abort;
  Choice video_mode;
  TextSetting server_name;
  TextSetting server_name_hist[server_history_count];
  Slider ground_detail;
  Slider ground_texture_detail;
  Choice ground_texture_dim;
  Choice ground_mipmaps;
  Choice texture_compress;
  Choice render_texture;
  Choice use_shader;
  Slider roost_density;
  Slider reshade_delay;
  Choice lens_flare;
  Choice reflections;
  Choice hide_rider;
  Choice rigid_camera;
  Slider model_detail;
  Slider model_texture_detail;
  Slider fov;
  Slider first_person_height;
  Slider first_person_angle;
  Slider third_person_height;
  Slider third_person_distance;
  Slider volume;
  Slider comp_volume;
  Choice playback_mode;
  int billboard_optimize_lookahead;
  int message_lines;
  int demo_backups;
  float map_scale;
};

// The rider's bike, gear and tuning: what a setup file keeps.
struct SetupSettings {
  Choice bike;
  TextSetting name;
  TextSetting number;
  TextSetting rider_texture;
  TextSetting head_texture;
  TextSetting bike_texture;
  TextSetting wheel_texture;
  Slider stability;
  Slider leveling;
  Slider roll_damping;
  Slider roll_limit_angle;
  Slider roll_limit_factor;
  Slider steering_damping;
  Slider steering_strength;
  Slider max_steering_force;
  Slider direct_steering;
  Slider slow_damping_speed;
  Slider slow_damping_factor;
  Slider land_damping_falloff;
  Slider land_damping_factor;
  Slider full_lock_speed;
  Slider restricted_lock_speed;
  Slider restricted_lock;
  Choice arcade;
  Choice front_brake;
  Choice rear_brake;
  Choice stop_wheelies;
  Choice auto_shift;
  Choice auto_dab;
  Choice auto_align;
  Choice sticky_dab;
  Choice reverse_steering;
  Choice lean_indicator;
  Slider auto_clutch_rpms;
  Slider brake_torque;
  Slider rear_brake_torque;
  Slider max_dab_speed;
  Slider front_sprocket_adjustment;
  Slider rear_sprocket_adjustment;
  Slider fork_compression_adjustment;
  Slider fork_slow_compression_adjustment;
  Slider fork_rebound_adjustment;
  Slider fork_slow_rebound_adjustment;
  Slider fork_spring_rate_adjustment;
  Slider fork_preload_adjustment;
  Slider fork_oil_level_adjustment;
  Slider shock_compression_adjustment;
  Slider shock_slow_compression_adjustment;
  Slider shock_rebound_adjustment;
  Slider shock_slow_rebound_adjustment;
  Slider shock_spring_rate_adjustment;
  Slider shock_preload_adjustment;
  Slider rider_yspring;
  Slider rider_ydamping;
  Slider rider_zspring;
  Slider rider_zdamping;
  Slider rider_mass_distribution;
};

// The twenty key bindings, in the order the configuration file writes them.
enum BindingIndex {
  bind_throttle,
  bind_front_brake,
  bind_rear_brake,
  bind_left,
  bind_right,
  bind_clutch,
  bind_upshift,
  bind_downshift,
  bind_dab,
  bind_back_up,
  bind_lean_forward,
  bind_lean_backward,
  bind_pause,
  bind_step,
  bind_rewind,
  bind_skip,
  bind_prev,
  bind_next,
  bind_console,
  bind_screenshot,
  binding_count
};

// The process-wide records; they live for the process and start at their
// defaults (the Compatibility graphics preset, stability 100, the bike
// "yz250f(2017)").
GameSettings &game_settings();
SetupSettings &setup_settings();
// The setup's values as the bike takes them (apply_setup).
BikeSetup setup_values();
KeyBinding *key_binding(int index);  // null outside 0..binding_count-1
const char *binding_config_key(int index);  // "throttle_key" ...

// Puts every setting back to its default (start-up steps before the
// configuration is read; tests).
void config_set_defaults();

// The lists behind the choices whose entries are only known at run time.
// Each keeps the current selection when its text is still in the new list.
// The bike names come from the catalogue; until it supplies them (and after
// a call with no names) a built-in copy of its names is used.
void set_bike_names(const char *const *names, int count);
// Sizes for "Video Mode", after "Default Fullscreen" and "Windowed": the
// display modes with the colour depth of the first mode the platform lists.
void set_video_modes(const int *widths, const int *heights, int count);
// The tracks found; selects the configured track when it is among them.
void set_track_names(const char *const *names, int count);

// Translates the four bike names of old setups ("kx250f" -> "kx250f(2008)").
const char *translate_old_bike_name(const char *name);

// Makes `name` the newest server history entry unless it is empty or
// already the newest; the oldest entry is dropped.
void push_server_history(const char *name);

// ---------------------------------------------------------------- files

// The caller passes "@config"; tests pass plain paths. Reading silently does
// nothing when the file cannot be opened; returns 1 when it was read.
int read_config(const char *path);
// Writes to a temporary file renamed into place, so a failed write never
// replaces the old file. Returns 1 on success; failures are silent.
int write_config(const char *path);

// Applies one setup key; returns 1 when `key` is a setup key.
int read_setup_key(const char *key, const char *value);
// Writes every setup key; returns 0 when a write failed.
int write_setup(DataFile *file);

// Reads or writes a setup file by path (the "@setups/" prefix is the
// console commands' business). Return 1 on success.
int read_setup_file(const char *path);
int write_setup_file(const char *path);

// The console commands "readsetup name" and "writesetup name": leading
// blanks of the name are skipped and trailing blanks removed. They print
// "Setup updated" / "Error reading setup" and "Setup written" / "Error
// writing setup"; a name with "/", "\\" or ".." first prints "Bad setup
// name". Return 1 on success.
// `args` is the text after the command word.
int command_readsetup(const char *args);
int command_writesetup(const char *args);
// Where the commands look ("@setups/" unless tests change it).
void set_setups_prefix(const char *prefix);
// Run after a successful "readsetup", before its message: the owner of the
// texture families and bikes rebuilds the bike graphics list, reselects the
// texture names and applies the setup to the viewed bike.
void set_setup_read_hook(void (*hook)());
// Set by "readsetup"; the network client clears it once it has sent the
// new rider information.
int setup_changed();
void clear_setup_changed();

// ---------------------------------------------------------------- stability

// Sets the fifteen stability-driven sliders from a stability of 0..100
// (interpolated between the columns for 0, 20, 40, 60, 80 and 100).
void apply_stability(int stability);

// ---------------------------------------------------------------- graphics

enum GraphicsPreset {
  graphics_compatibility,
  graphics_high_fps,
  graphics_normal,
  graphics_high_detail,
  graphics_preset_count
};

void apply_graphics_preset(int preset);
// The last preset whose thirteen values all equal the current ones, or -1.
int current_graphics_preset();
// "Current Settings: Normal" ... or "Current Settings: Custom".
const char *graphics_preset_status();

// Values the renderer and loaders use, derived once at start-up from the
// settings (later changes take effect at the next start); the command line
// may override them afterwards through active_graphics().
struct ActiveGraphics {
  float terrain_detail_threshold;
  int ground_texture_reduction;
  int ground_texture_size;  // texels, 32 .. 1024
  float model_lod_scale;
  float model_lod_bias;
  int model_texture_reduction;
  int texture_compression;  // 0 no, 1 yes, 2 always
  int reflections;
  int roost_density;
};
void derive_active_graphics();
ActiveGraphics &active_graphics();
