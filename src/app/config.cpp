#include "app/config.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "assets/file.h"
#include "platform/log.h"

namespace {

// ---------------------------------------------------------------- choice lists

const char *const no_yes_texts[] = {"No", "Yes"};
const char *const skill_texts[] = {"Novice", "Amateur", "Expert"};
const char *const gate_texts[] = {"Empty", "Human", "Robot", "Robot (2 stroke)", "Robot (4 stroke)"};
const char *const texture_dim_texts[] = {"32x32", "64x64", "128x128", "256x256", "512x512", "1024x1024"};
const char *const compress_texts[] = {"No", "Yes", "Always"};
const char *const render_texts[] = {"Software", "Hardware/Copy", "Hardware/Direct", "Shaders/Copy", "Shaders/Direct"};
const char *const playback_texts[] = {"Playback Only", "Race Against"};
const char *const brake_texts[] = {"Normal", "Antilock"};
const char *const wheelie_texts[] = {"No", "Yes", "Front Only"};

// The catalogue's model names in its table order. The catalogue owns the
// bikes; this copy only fills the "Bike" choice until it calls
// set_bike_names with its own list.
const char *const builtin_bike_names[] = {
    "cr125",         "crf250(2007)",  "crf250(2008)",  "crf250(2009)",  "crf250(2013)",  "crf250(2016)",
    "crf250(2017)",  "crf250(2018)",  "cr250(2007)",   "crf450(2011)",  "crf450(2013)",  "crf450(2016)",
    "crf450(2017)",  "crf450(2018)",  "kx125",         "kx250f(2007)",  "kx250f(2008)",  "kx250f(2009)",
    "kx250f(2013)",  "kx250f(2016)",  "kx250f(2017)",  "kx250f(2018)",  "kx250(2006)",   "kx450f(2011)",
    "kx450f(2013)",  "kx450f(2016)",  "kx450f(2017)",  "kx450f(2018)",  "rm125",         "rmz250(2007)",
    "rmz250(2008)",  "rmz250(2009)",  "rmz250(2013)",  "rmz250(2016)",  "rmz250(2017)",  "rmz250(2018)",
    "rm250(2008)",   "rmz450(2011)",  "rmz450(2013)",  "rmz450(2016)",  "rmz450(2017)",  "rmz450(2018)",
    "yz125",         "yz250f(2007)",  "yz250f_se(2006)", "yz250f(2008)", "yz250f(2009)", "yz250f(2013)",
    "yz250f(2016)",  "yz250f(2017)",  "yz250f(2018)",  "yz250(2012)",   "yz450f(2011)",  "yz450f(2013)",
    "yz450f(2016)",  "yz450f(2017)",  "yz450f(2018)",  "125sx",         "250sxf(2009)",  "250sxf(2013)",
    "250sxf(2016)",  "250sxf(2017)",  "250sxf(2018)",  "250sx(2012)",   "350sxf(2011)",  "350sxf(2013)",
    "350sxf(2017)",  "450sxf(2011)",  "450sxf(2013)",  "450sxf(2016)",  "450sxf(2017)",  "450sxf(2018)",
    "fc250(2017)",   "fc250(2018)",   "fc450(2017)",   "fc450(2018)",   "rs50cr",        "rs50kx",
    "rs50rm",        "rs50yz",
};
static_assert(sizeof builtin_bike_names / sizeof builtin_bike_names[0] <= max_bike_names);

const char *const default_bike = "yz250f(2017)";
// No public race server is assumed: a player running a server on this
// machine connects without typing anything; others type their host.
// The numeric loopback address: minimal systems without /etc/hosts cannot
// resolve "localhost".
const char *const default_server = "127.0.0.1";
const char *const default_track = "rabbithill";

const char *const binding_keys[binding_count] = {
    "throttle_key", "front_brake_key", "rear_brake_key", "left_key",   "right_key",
    "clutch_key",   "upshift_key",     "downshift_key",  "dab_key",    "back_up_key",
    "lean_forward_key", "lean_backward_key", "pause_key", "step_key",  "rewind_key",
    "skip_key",     "prev_key",        "next_key",       "console_key", "screenshot_key",
};
const char *const binding_labels[binding_count] = {
    "Throttle", "Front Brake", "Rear Brake", "Left",  "Right",  "Clutch",        "Upshift",   "Downshift", "Sit/Dab",
    "Back up",  "Lean Forward", "Lean Backward", "Pause", "Step", "Rewind", "Skip", "Previous Bike", "Next Bike",
    "Chat",     "Screenshot",
};
const char *const binding_defaults[binding_count] = {
    "x", "c", "v", "left", "right", "z", "up", "down", "right ctrl", "b",
    "n", "m", "pause", ".", "\\", "/", "[", "]", "t", "s",
};

// Longest key or axis name a binding accepts from a file; real names are
// far shorter, and the bound keeps every written line readable.
constexpr int max_binding_name = 255;
// Longest line read from a configuration or setup file. Lines longer than
// this are skipped whole, so the tail of one can never pass for a setting.
constexpr int max_config_line = 2047;
static_assert(max_config_line > max_text_length + 64, "a text setting's line must fit");
constexpr int max_path = 1024;

// ---------------------------------------------------------------- key table

enum SettingKind {
  kind_int,
  kind_map_scale,
  kind_slider,
  kind_choice,
  kind_text,
  kind_history,
  kind_binding,
  kind_track,
  kind_bike,
  kind_stability,
  kind_setup_block,  // marks where the setup keys go in the configuration
};

struct SettingKey {
  const char *key;
  SettingKind kind;
  int *integer;
  float *real;
  Slider *slider;
  Choice *choice;
  TextSetting *text;
  KeyBinding *binding;
};

constexpr int max_setup_keys = 64;
constexpr int max_config_keys = 160;

// All settings and the tables describing them: live for the process,
// filled by ensure_initialised on first use.
GameSettings settings;
SetupSettings setup;
KeyBinding bindings[binding_count];
ActiveGraphics active;
SettingKey setup_keys[max_setup_keys];
int setup_key_count = 0;
SettingKey config_keys[max_config_keys];
int config_key_count = 0;
char gate_keys[max_gates][8];
char gate_labels[max_gates][12];
char history_keys[server_history_count][24];
const char *bike_names[max_bike_names];
int bike_name_count = 0;
const char *video_mode_texts[2 + max_video_modes];
int video_mode_count = 0;
const char *track_names[max_track_names];
int track_name_count = 0;
char setups_prefix[256] = "@setups/";
void (*setup_read_hook)() = nullptr;
int setup_changed_flag = 0;
bool initialised = false;

// ---------------------------------------------------------------- helpers

Slider make_slider(const char *label, double value, double step, double minimum, double maximum) {
  return {label, value, step, minimum, maximum};
}

template <int N>
Choice make_choice(const char *label, const char *const (&texts)[N], const char *selected) {
  Choice choice = {label, texts, N, 0};
  select_choice(&choice, selected);
  return choice;
}

void init_text(TextSetting *setting, const char *label, int max_length, const char *text) {
  setting->label = label;
  setting->max_length = max_length;
  set_text(setting, text);
}

bool parse_int(const char *text, int *out) {
  errno = 0;
  char *end = nullptr;
  long value = strtol(text, &end, 10);
  if (end == text || errno == ERANGE || value < INT_MIN || value > INT_MAX) return false;
  *out = static_cast<int>(value);
  return true;
}

// One "%f": a finite single-precision number (infinities and NaNs would
// poison the physics, so they do not convert).
bool parse_float(const char *text, float *out) {
  errno = 0;
  char *end = nullptr;
  float value = strtof(text, &end);
  if (end == text || !std::isfinite(value)) return false;
  *out = value;
  return true;
}

double clampd(double value, double low, double high) { return value < low ? low : value > high ? high : value; }

void add_key(SettingKey *table, int *count, int limit, SettingKey entry) {
  if (*count >= limit) {
    hovl_log("Settings table full; \"%s\" dropped\n", entry.key);
    return;
  }
  table[(*count)++] = entry;
}

void setup_slider(const char *key, Slider *slider) {
  add_key(setup_keys, &setup_key_count, max_setup_keys, {key, kind_slider, nullptr, nullptr, slider});
}
void setup_choice(const char *key, Choice *choice) {
  add_key(setup_keys, &setup_key_count, max_setup_keys, {key, kind_choice, nullptr, nullptr, nullptr, choice});
}
void setup_text(const char *key, TextSetting *text) {
  add_key(setup_keys, &setup_key_count, max_setup_keys, {key, kind_text, nullptr, nullptr, nullptr, nullptr, text});
}

void config_entry(SettingKey entry) { add_key(config_keys, &config_key_count, max_config_keys, entry); }
void config_int(const char *key, int *value) { config_entry({key, kind_int, value}); }
void config_slider(const char *key, Slider *slider) { config_entry({key, kind_slider, nullptr, nullptr, slider}); }
void config_choice(const char *key, Choice *choice) {
  config_entry({key, kind_choice, nullptr, nullptr, nullptr, choice});
}

// The key tables, in the order the files are written.
void build_key_tables() {
  SetupSettings &s = setup;
  setup_key_count = 0;
  add_key(setup_keys, &setup_key_count, max_setup_keys, {"bike", kind_bike, nullptr, nullptr, nullptr, &s.bike});
  setup_text("name", &s.name);
  setup_text("number", &s.number);
  setup_text("rider_texture", &s.rider_texture);
  setup_text("head_texture", &s.head_texture);
  setup_text("bike_texture", &s.bike_texture);
  setup_text("wheel_texture", &s.wheel_texture);
  add_key(setup_keys, &setup_key_count, max_setup_keys, {"stability", kind_stability, nullptr, nullptr, &s.stability});
  setup_slider("leveling", &s.leveling);
  setup_slider("roll_damping", &s.roll_damping);
  setup_slider("roll_limit_angle", &s.roll_limit_angle);
  setup_slider("roll_limit_factor", &s.roll_limit_factor);
  setup_slider("steering_damping", &s.steering_damping);
  setup_slider("steering_strength", &s.steering_strength);
  setup_slider("max_steering_force", &s.max_steering_force);
  setup_slider("direct_steering", &s.direct_steering);
  setup_slider("slow_damping_speed", &s.slow_damping_speed);
  setup_slider("slow_damping_factor", &s.slow_damping_factor);
  setup_slider("land_damping_falloff", &s.land_damping_falloff);
  setup_slider("land_damping_factor", &s.land_damping_factor);
  setup_slider("full_lock_speed", &s.full_lock_speed);
  setup_slider("restricted_lock_speed", &s.restricted_lock_speed);
  setup_slider("restricted_lock", &s.restricted_lock);
  setup_choice("arcade", &s.arcade);
  setup_choice("front_brake", &s.front_brake);
  setup_choice("rear_brake", &s.rear_brake);
  setup_choice("stop_wheelies", &s.stop_wheelies);
  setup_choice("auto_shift", &s.auto_shift);
  setup_choice("auto_dab", &s.auto_dab);
  setup_choice("auto_align", &s.auto_align);
  setup_choice("sticky_dab", &s.sticky_dab);
  setup_choice("reverse_steering", &s.reverse_steering);
  setup_choice("lean_indicator", &s.lean_indicator);
  setup_slider("auto_clutch_rpms", &s.auto_clutch_rpms);
  setup_slider("brake_torque", &s.brake_torque);
  setup_slider("rear_brake_torque", &s.rear_brake_torque);
  setup_slider("max_dab_speed", &s.max_dab_speed);
  setup_slider("front_sprocket_adjustment", &s.front_sprocket_adjustment);
  setup_slider("rear_sprocket_adjustment", &s.rear_sprocket_adjustment);
  setup_slider("fork_compression_adjustment", &s.fork_compression_adjustment);
  setup_slider("fork_slow_compression_adjustment", &s.fork_slow_compression_adjustment);
  setup_slider("fork_rebound_adjustment", &s.fork_rebound_adjustment);
  setup_slider("fork_slow_rebound_adjustment", &s.fork_slow_rebound_adjustment);
  setup_slider("fork_spring_rate_adjustment", &s.fork_spring_rate_adjustment);
  setup_slider("fork_preload_adjustment", &s.fork_preload_adjustment);
  setup_slider("fork_oil_level_adjustment", &s.fork_oil_level_adjustment);
  setup_slider("shock_compression_adjustment", &s.shock_compression_adjustment);
  setup_slider("shock_slow_compression_adjustment", &s.shock_slow_compression_adjustment);
  setup_slider("shock_rebound_adjustment", &s.shock_rebound_adjustment);
  setup_slider("shock_slow_rebound_adjustment", &s.shock_slow_rebound_adjustment);
  setup_slider("shock_spring_rate_adjustment", &s.shock_spring_rate_adjustment);
  setup_slider("shock_preload_adjustment", &s.shock_preload_adjustment);
  setup_slider("rider_yspring", &s.rider_yspring);
  setup_slider("rider_ydamping", &s.rider_ydamping);
  setup_slider("rider_zspring", &s.rider_zspring);
  setup_slider("rider_zdamping", &s.rider_zdamping);
  setup_slider("rider_mass_distribution", &s.rider_mass_distribution);

  GameSettings &g = settings;
  config_key_count = 0;
  config_int("xres", &g.xres);
  config_int("yres", &g.yres);
  config_int("draw_fps", &g.draw_fps);
  config_int("draw_time", &g.draw_time);
  config_int("draw_ping", &g.draw_ping);
  config_int("draw_speed", &g.draw_speed);
  config_int("spy", &g.spy);
  config_entry({"track", kind_track, nullptr, nullptr, nullptr, &g.track, &g.configured_track});
  config_choice("record", &g.record);
  config_choice("skill", &g.skill);
  config_slider("minutes", &g.minutes);
  config_slider("laps", &g.laps);
  for (int i = 0; i < max_gates; i++) config_choice(gate_keys[i], &g.gates[i]);
  config_slider("ghost_fade_distance", &g.ghost_fade_distance);
  config_choice("time_trial_abort", &g.time_trial_abort);
  config_entry({"", kind_setup_block});
  config_choice("video_mode", &g.video_mode);
  config_entry({"server_name", kind_text, nullptr, nullptr, nullptr, nullptr, &g.server_name});
  for (int i = 0; i < server_history_count; i++)
    config_entry({history_keys[i], kind_history, nullptr, nullptr, nullptr, nullptr, &g.server_name_hist[i]});
  config_slider("ground_detail", &g.ground_detail);
  config_slider("ground_texture_detail", &g.ground_texture_detail);
  config_choice("ground_texture_dim", &g.ground_texture_dim);
  config_choice("ground_mipmaps", &g.ground_mipmaps);
  config_choice("texture_compress", &g.texture_compress);
  config_choice("render_texture", &g.render_texture);
  config_choice("use_shader", &g.use_shader);
  config_slider("roost_density", &g.roost_density);
  config_slider("reshade_delay", &g.reshade_delay);
  config_choice("lens_flare", &g.lens_flare);
  config_choice("reflections", &g.reflections);
  config_choice("hide_rider", &g.hide_rider);
  config_choice("rigid_camera", &g.rigid_camera);
  config_slider("model_detail", &g.model_detail);
  config_slider("model_texture_detail", &g.model_texture_detail);
  config_slider("fov", &g.fov);
  config_slider("first_person_height", &g.first_person_height);
  config_slider("first_person_angle", &g.first_person_angle);
  config_slider("third_person_height", &g.third_person_height);
  config_slider("third_person_distance", &g.third_person_distance);
  config_slider("volume", &g.volume);
  config_slider("comp_volume", &g.comp_volume);
  config_choice("playback_mode", &g.playback_mode);
  config_int("billboard_optimize_lookahead", &g.billboard_optimize_lookahead);
  config_int("message_lines", &g.message_lines);
  config_int("demo_backups", &g.demo_backups);
  config_entry({"map_scale", kind_map_scale, nullptr, &g.map_scale});
  for (int i = 0; i < binding_count; i++)
    config_entry({binding_keys[i], kind_binding, nullptr, nullptr, nullptr, nullptr, nullptr, &bindings[i]});
}

void ensure_initialised();

void reset_bike_choice() {
  setup.bike = {"Bike", bike_names, bike_name_count, 0};
  select_choice(&setup.bike, default_bike);
}

void set_setup_defaults() {
  SetupSettings &s = setup;
  reset_bike_choice();
  init_text(&s.name, "Name", 63, "Trail Rookie");
  init_text(&s.number, "Number", 3, "999");
  init_text(&s.rider_texture, "Riding Gear", max_text_length, "");
  init_text(&s.head_texture, "Helmet", max_text_length, "");
  init_text(&s.bike_texture, "Bike Graphics", max_text_length, "");
  init_text(&s.wheel_texture, "Wheel Graphics", max_text_length, "");
  s.stability = make_slider("Stability", 100, 1, 0, 100);
  s.leveling = make_slider("Leveling", 20, 1, 0, 100);
  s.roll_damping = make_slider("Roll Damping", 80, 1, 0, 100);
  s.roll_limit_angle = make_slider("Roll Limit Angle", 45, 1, 0, 180);
  s.roll_limit_factor = make_slider("Roll Limit Factor", 32, 1, 0, 64);
  s.steering_damping = make_slider("Steering Damping", 60, 1, 0, 100);
  s.steering_strength = make_slider("Steering Strength", 75, 1, 0, 100);
  s.max_steering_force = make_slider("Max Steering Force", 400, 5, 0, 1000);
  s.direct_steering = make_slider("Direct Steering", 0.125, 0.125, 0, 1);
  s.slow_damping_speed = make_slider("Slow Damping Speed", 40, 1, 0, 100);
  s.slow_damping_factor = make_slider("Slow Damping Factor", 2, 0.25, 1, 10);
  s.land_damping_falloff = make_slider("Landing Damping Falloff", 0.25, 0.0625, 0, 0.5);
  s.land_damping_factor = make_slider("Landing Damping Factor", 2, 0.25, 1, 3);
  s.full_lock_speed = make_slider("Full Lock Speed", 10, 1, 1, 100);
  s.restricted_lock_speed = make_slider("Restricted Lock Speed", 50, 1, 1, 100);
  s.restricted_lock = make_slider("Restricted Lock Angle", 1, 0.125, 0, 45);
  s.arcade = make_choice("Arcade Physics", no_yes_texts, "Yes");
  s.front_brake = make_choice("Front Brake", brake_texts, "Antilock");
  s.rear_brake = make_choice("Rear Brake", brake_texts, "Normal");
  s.stop_wheelies = make_choice("Stop Wheelies", wheelie_texts, "Yes");
  s.auto_shift = make_choice("Automatic Shifting", no_yes_texts, "Yes");
  s.auto_dab = make_choice("Dab When Stopped", no_yes_texts, "Yes");
  s.auto_align = make_choice("Realign After Fall", no_yes_texts, "Yes");
  s.sticky_dab = make_choice("Sticky Sit/Dab", no_yes_texts, "No");
  s.reverse_steering = make_choice("Reversed Steering", no_yes_texts, "Yes");
  s.lean_indicator = make_choice("Lean Indicator", no_yes_texts, "Yes");
  s.auto_clutch_rpms = make_slider("Auto Clutch RPMs", 5000, 100, 0, 5000);
  s.brake_torque = make_slider("Braking Torque (Front)", 500, 10, 0, 500);
  s.rear_brake_torque = make_slider("Braking Torque (Rear)", 250, 10, 0, 500);
  s.max_dab_speed = make_slider("Max Dab Speed (MPH)", 60, 1, 5, 60);
  s.front_sprocket_adjustment = make_slider("Countershaft Sprocket", 0, 1, -2, 2);
  s.rear_sprocket_adjustment = make_slider("Rear Sprocket", 0, 1, -2, 2);
  s.fork_compression_adjustment = make_slider("Fork High Speed Compression Damping", 50, 1, 0, 100);
  s.fork_slow_compression_adjustment = make_slider("Fork Low Speed Compression Damping", 50, 1, 0, 100);
  s.fork_rebound_adjustment = make_slider("Fork High Speed Rebound Damping", 50, 1, 0, 100);
  s.fork_slow_rebound_adjustment = make_slider("Fork Low Speed Rebound Damping", 50, 1, 0, 100);
  s.fork_spring_rate_adjustment = make_slider("Fork Spring Rate", 50, 1, 0, 100);
  s.fork_preload_adjustment = make_slider("Fork Preload", 50, 1, 0, 100);
  s.fork_oil_level_adjustment = make_slider("Fork Oil Level", 50, 1, 0, 100);
  s.shock_compression_adjustment = make_slider("Shock High Speed Compression Damping", 75, 1, 0, 100);
  s.shock_slow_compression_adjustment = make_slider("Shock Low Speed Compression Damping", 50, 1, 0, 100);
  s.shock_rebound_adjustment = make_slider("Shock High Speed Rebound Damping", 75, 1, 0, 100);
  s.shock_slow_rebound_adjustment = make_slider("Shock Low Speed Rebound Damping", 50, 1, 0, 100);
  s.shock_spring_rate_adjustment = make_slider("Shock Spring Rate", 50, 1, 0, 100);
  s.shock_preload_adjustment = make_slider("Shock Preload", 50, 1, 0, 100);
  s.rider_yspring = make_slider("Rider Vertical Spring", 50, 1, 0, 100);
  s.rider_ydamping = make_slider("Rider Vertical Damping", 50, 1, 0, 100);
  s.rider_zspring = make_slider("Rider Forward Spring", 50, 1, 0, 100);
  s.rider_zdamping = make_slider("Rider Forward Damping", 50, 1, 0, 100);
  s.rider_mass_distribution = make_slider("Rider Mass Distribution", 0.33, 0.01, 0.33, 0.5);
}

void set_game_defaults() {
  GameSettings &g = settings;
  g.xres = 640;
  g.yres = 480;
  g.draw_fps = 0;
  g.draw_time = 0;
  g.draw_ping = 1;
  g.draw_speed = 0;
  g.spy = 0;
  init_text(&g.configured_track, "Track", 255, default_track);
  g.track = {"Track", track_names, track_name_count, 0};
  select_choice(&g.track, default_track);
  g.record = make_choice("Record Demo", no_yes_texts, "No");
  g.skill = make_choice("Robot Skill", skill_texts, "Novice");
  g.minutes = make_slider("Minutes", 0, 1, 0, 60);
  g.laps = make_slider("Laps", 5, 1, 0, 50);
  for (int i = 0; i < max_gates; i++) {
    int gate = i + 1;
    const char *kind = gate == 20 ? "Human" : (gate == 18 || gate == 19 || (gate >= 21 && gate <= 23)) ? "Robot" : "Empty";
    g.gates[i] = make_choice(gate_labels[i], gate_texts, kind);
  }
  g.ghost_fade_distance = make_slider("Ghost Fade Distance", 10, 1, 0, 40);
  g.time_trial_abort = make_choice("Backing Up Aborts Attempt", no_yes_texts, "Yes");
  g.video_mode = {"Video Mode", video_mode_texts, video_mode_count, 0};
  init_text(&g.server_name, "Server", 127, default_server);
  for (int i = 0; i < server_history_count; i++)
    init_text(&g.server_name_hist[i], "Server", max_server_history_length, "");
  g.ground_detail = make_slider("Ground Geometric Detail", 70, 1, 0, 100);
  g.ground_texture_detail = make_slider("Ground Texture Levels", 9, 1, 0, 10);
  g.ground_texture_dim = make_choice("Ground Texture Resolution", texture_dim_texts, "64x64");
  g.ground_mipmaps = make_choice("Enable Ground Mipmaps", no_yes_texts, "Yes");
  g.texture_compress = make_choice("Compress Textures", compress_texts, "No");
  g.render_texture = make_choice("Terrain Rendering Method", render_texts, "Software");
  g.use_shader = make_choice("Use Shader Programs", no_yes_texts, "Yes");
  g.roost_density = make_slider("Roost Density", 1000, 10, 0, 1000);
  g.reshade_delay = make_slider("Reshade Delay", 8, 1, 0, 20);
  g.lens_flare = make_choice("Enable Lens Flares", no_yes_texts, "Yes");
  g.reflections = make_choice("Enable Reflections", no_yes_texts, "Yes");
  g.hide_rider = make_choice("Hide 1st Person Rider", no_yes_texts, "No");
  g.rigid_camera = make_choice("Rigid 3rd person camera", no_yes_texts, "No");
  g.model_detail = make_slider("Model Geometric Detail", 50, 1, 0, 100);
  g.model_texture_detail = make_slider("Model Texture Detail", 9, 1, 0, 10);
  g.fov = make_slider("Field Of View", 110, 1, 10, 170);
  g.first_person_height = make_slider("1st Person Height", 0, 1.0 / 32, 0, 1);
  g.first_person_angle = make_slider("1st Person Angle", 0, 1, 0, 40);
  g.third_person_height = make_slider("3rd Person Height", 5, 1, 0, 20);
  g.third_person_distance = make_slider("3rd Person Distance", 10, 1, 5, 40);
  g.volume = make_slider("Volume", 10, 1, 0, 10);
  g.comp_volume = make_slider("Competitor Volume", 8, 1, 0, 10);
  g.playback_mode = make_choice("Playback Mode", playback_texts, "Playback Only");
  g.billboard_optimize_lookahead = 8;
  g.message_lines = 5;
  g.demo_backups = 0;
  g.map_scale = 1;
}

void set_binding_defaults() {
  for (int i = 0; i < binding_count; i++) {
    KeyBinding &b = bindings[i];
    b = {};
    b.label = binding_labels[i];
    b.key_code = -1;
    b.low = 0;
    b.high = 1;
    b.key_name = intern_string(binding_defaults[i]);
  }
}

void ensure_initialised() {
  if (initialised) return;
  initialised = true;
  for (int i = 0; i < max_gates; i++) {
    snprintf(gate_keys[i], sizeof gate_keys[i], "slot%02d", i);
    snprintf(gate_labels[i], sizeof gate_labels[i], "Gate %d", i + 1);
  }
  for (int i = 0; i < server_history_count; i++)
    snprintf(history_keys[i], sizeof history_keys[i], "server_name_hist%02d", i);
  bike_name_count = 0;
  for (const char *name : builtin_bike_names) bike_names[bike_name_count++] = name;
  video_mode_texts[0] = "Default Fullscreen";
  video_mode_texts[1] = "Windowed";
  video_mode_count = 2;
  build_key_tables();
  config_set_defaults();
}

// ---------------------------------------------------------------- applying

bool apply_value(const SettingKey &entry, const char *value) {
  switch (entry.kind) {
    case kind_int:
      return parse_int(value, entry.integer);
    case kind_map_scale: {
      float scale;
      if (!parse_float(value, &scale)) return false;
      *entry.real = static_cast<float>(clampd(scale, 0.125, 8));
      return true;
    }
    case kind_slider:
      return set_slider(entry.slider, value);
    case kind_choice:
      return select_choice(entry.choice, value);
    case kind_text:
      set_text(entry.text, value);
      return true;
    case kind_history:
      if (strlen(value) > static_cast<size_t>(max_server_history_length)) return false;
      set_text(entry.text, value);
      return true;
    case kind_binding:
      return set_binding_text(entry.binding, value);
    case kind_track:
      set_text(entry.text, value);
      select_choice(entry.choice, value);
      return true;
    case kind_bike:
      return select_choice(entry.choice, translate_old_bike_name(value));
    case kind_stability:
      if (!set_slider(entry.slider, value)) return false;
      apply_stability(static_cast<int>(entry.slider->value));
      return true;
    case kind_setup_block:
      return false;
  }
  return false;
}

const SettingKey *find_key(const SettingKey *table, int count, const char *key) {
  for (int i = 0; i < count; i++)
    if (table[i].kind != kind_setup_block && strcmp(table[i].key, key) == 0) return &table[i];
  return nullptr;
}

void read_config_key(const char *key, const char *value) {
  if (read_setup_key(key, value)) return;
  if (const SettingKey *entry = find_key(config_keys, config_key_count, key)) {
    apply_value(*entry, value);
    return;
  }
  // Older files: the framebuffer switch became a rendering method.
  if (strcmp(key, "use_fbo") == 0)
    select_choice(&settings.render_texture, strcmp(value, "Yes") == 0 ? "Hardware/Direct" : "Hardware/Copy");
  // "ground_texture_distance" and unknown keys are ignored.
}

// Reads one line into `buffer` (at most `size` - 1 bytes, zero-terminated,
// without its line feed). Returns -1 at the end of the file, 0 for a line to
// skip (too long, or holding zero bytes) and 1 for a usable line.
int read_line(DataFile *file, char *buffer, int size) {
  int length = 0;
  bool usable = true;
  int c = dfile_getc(file);
  if (c < 0) return -1;
  for (; c >= 0 && c != '\n'; c = dfile_getc(file)) {
    if (c == 0) usable = false;
    if (length < size - 1) buffer[length++] = static_cast<char>(c);
    else usable = false;
  }
  buffer[length] = '\0';
  return usable ? 1 : 0;
}

// Splits "key=value" in place and strips the value's trailing line ends.
bool split_line(char *line, char **key, char **value) {
  char *equals = strchr(line, '=');
  if (!equals) return false;
  *equals = '\0';
  *key = line;
  *value = equals + 1;
  size_t length = strlen(*value);
  while (length > 0 && ((*value)[length - 1] == '\r' || (*value)[length - 1] == '\n')) (*value)[--length] = '\0';
  return true;
}

bool read_file_lines(const char *path, void (*apply)(const char *key, const char *value)) {
  if (!path || !path[0]) return false;
  DataFile *file = dfile_open(path, "rb");
  if (!file) return false;
  char line[max_config_line + 1];
  for (;;) {
    int status = read_line(file, line, sizeof line);
    if (status < 0) break;
    char *key, *value;
    if (status > 0 && split_line(line, &key, &value)) apply(key, value);
  }
  dfile_close(file);
  return true;
}

void apply_setup_line(const char *key, const char *value) { read_setup_key(key, value); }

// ---------------------------------------------------------------- writing

struct Writer {
  DataFile *file;
  bool ok;
};

void emit(Writer *writer, const char *format, ...) __attribute__((format(printf, 2, 3)));
void emit(Writer *writer, const char *format, ...) {
  char buffer[max_config_line + 2];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (length < 0 || length >= static_cast<int>(sizeof buffer)) {
    // Only a name far beyond what any reader accepts gets here; the line is
    // dropped rather than written cut short.
    hovl_log("Settings line too long; not written\n");
    return;
  }
  // One setting, one line: a line break inside a value (a track directory
  // or server name can hold one) must not start a line of its own.
  for (int i = 0; i < length - 1; i++)
    if (buffer[i] == '\n' || buffer[i] == '\r') buffer[i] = ' ';
  if (dfile_write(writer->file, buffer, length) != length) writer->ok = false;
}

void write_entry(Writer *writer, const SettingKey &entry) {
  switch (entry.kind) {
    case kind_int:
      emit(writer, "%s=%d\n", entry.key, *entry.integer);
      break;
    case kind_map_scale:
      emit(writer, "%s=%f\n", entry.key, static_cast<double>(*entry.real));
      break;
    case kind_slider:
    case kind_stability:
      emit(writer, "%s=%f\n", entry.key, entry.slider->value);
      break;
    case kind_choice:
    case kind_bike:
      emit(writer, "%s=%s\n", entry.key, choice_text(entry.choice));
      break;
    case kind_text:
    case kind_history:
      emit(writer, "%s=%s\n", entry.key, entry.text->text);
      break;
    case kind_track:
      emit(writer, "%s=%s\n", entry.key, entry.choice->count > 0 ? choice_text(entry.choice) : entry.text->text);
      break;
    case kind_binding: {
      const KeyBinding *b = entry.binding;
      if (b->key_name) emit(writer, "%s=(k)%s\n", entry.key, b->key_name);
      else if (b->axis_name)
        emit(writer, "%s=(%f,%f)%s\n", entry.key, static_cast<double>(b->low), static_cast<double>(b->high), b->axis_name);
      else emit(writer, "%s=\n", entry.key);  // read back as unbound, not as the default
      break;
    }
    case kind_setup_block:
      if (!write_setup(writer->file)) writer->ok = false;
      break;
  }
}

// An "@" name in the home directory as a plain path, or the name itself.
bool plain_path(const char *name, char *out, int size) {
  if (name[0] != '@') return snprintf(out, size, "%s", name) < size;
  const char *home = data_directory(0);
  if (!home) return false;
  size_t length = strlen(home);
  const char *separator = length > 0 && home[length - 1] == '/' ? "" : "/";
  return snprintf(out, size, "%s%s%s", home, separator, name + 1) < size;
}

// Moves the finished temporary file over the target in one step, so a
// reader sees either the old file or the new one.
bool replace_file(const char *temp, const char *target) {
  char temp_plain[max_path], target_plain[max_path];
  if (plain_path(temp, temp_plain, sizeof temp_plain) && plain_path(target, target_plain, sizeof target_plain) &&
      rename(temp_plain, target_plain) == 0)
    return true;
  // The file layer's rename removes the target first: a last resort only.
  return target[0] == '@' && dfile_rename(temp, target) != 0;
}

void remove_temp(const char *temp) {
  char plain[max_path];
  if (plain_path(temp, plain, sizeof plain)) remove(plain);
}

// Writes through `body` into `path` + ".tmp", then renames it into place.
bool write_file_safely(const char *path, bool (*body)(DataFile *file)) {
  if (!path || !path[0]) return false;
  char temp[max_path];
  if (snprintf(temp, sizeof temp, "%s.tmp", path) >= static_cast<int>(sizeof temp)) return false;
  DataFile *file = dfile_open(temp, "wb");
  if (!file) return false;
  bool ok = body(file);
  if (dfile_flush(file) != 0) ok = false;
  dfile_close(file);
  if (ok) ok = replace_file(temp, path);
  if (!ok) remove_temp(temp);
  return ok;
}

bool write_config_body(DataFile *file) {
  Writer writer = {file, true};
  for (int i = 0; i < config_key_count; i++) write_entry(&writer, config_keys[i]);
  return writer.ok;
}

bool write_setup_body(DataFile *file) { return write_setup(file) != 0; }

// ---------------------------------------------------------------- stability

struct StabilityRow {
  Slider SetupSettings::*target;
  double column[6];  // stability 0, 20, 40, 60, 80, 100
};

const StabilityRow stability_table[] = {
    {&SetupSettings::leveling, {20, 20, 20, 20, 20, 20}},
    {&SetupSettings::roll_damping, {40, 50, 60, 70, 75, 80}},
    {&SetupSettings::roll_limit_angle, {90, 45, 45, 45, 45, 45}},
    {&SetupSettings::roll_limit_factor, {0, 5, 10, 32, 32, 32}},
    {&SetupSettings::steering_damping, {45, 45, 45, 45, 50, 60}},
    {&SetupSettings::steering_strength, {75, 75, 75, 75, 75, 75}},
    {&SetupSettings::direct_steering, {1, 1, 1, 1, 1, 0.125}},
    {&SetupSettings::max_steering_force, {400, 400, 400, 400, 400, 400}},
    {&SetupSettings::slow_damping_speed, {40, 40, 40, 40, 40, 40}},
    {&SetupSettings::slow_damping_factor, {1, 1, 1.5, 2, 2, 2}},
    {&SetupSettings::land_damping_falloff, {0, 0.125, 0.25, 0.25, 0.25, 0.25}},
    {&SetupSettings::land_damping_factor, {1, 1.5, 2, 2, 2, 2}},
    {&SetupSettings::full_lock_speed, {10, 10, 10, 10, 10, 10}},
    {&SetupSettings::restricted_lock_speed, {50, 50, 50, 50, 50, 50}},
    {&SetupSettings::restricted_lock, {45, 15, 10, 5, 2.5, 1}},
};
static_assert(sizeof stability_table / sizeof stability_table[0] == 15);

// ---------------------------------------------------------------- graphics

struct PresetColumn {
  double ground_detail;
  const char *ground_texture_dim;
  const char *ground_mipmaps;
  const char *texture_compress;
  const char *render_texture;
  const char *use_shader;
  double ground_texture_detail;
  double model_detail;
  const char *lens_flare;
  const char *reflections;
  double model_texture_detail;
  double roost_density;
  double reshade_delay;
};

const PresetColumn graphics_presets[graphics_preset_count] = {
    {70, "64x64", "Yes", "No", "Software", "Yes", 9, 50, "Yes", "Yes", 9, 1000, 8},
    {50, "64x64", "Yes", "Yes", "Hardware/Direct", "No", 7, 25, "No", "No", 7, 0, 10},
    {70, "128x128", "Yes", "Yes", "Shaders/Direct", "Yes", 9, 50, "Yes", "Yes", 9, 1000, 8},
    {90, "256x256", "Yes", "No", "Shaders/Direct", "Yes", 10, 75, "Yes", "Yes", 10, 1000, 0},
};
const char *const preset_status_texts[graphics_preset_count] = {
    "Current Settings: Compatibility",
    "Current Settings: High FPS",
    "Current Settings: Normal",
    "Current Settings: High Detail",
};

bool preset_matches(const PresetColumn &p) {
  const GameSettings &g = settings;
  auto same = [](const Choice &choice, const char *text) { return strcmp(choice_text(&choice), text) == 0; };
  return g.ground_detail.value == p.ground_detail && same(g.ground_texture_dim, p.ground_texture_dim) &&
         same(g.ground_mipmaps, p.ground_mipmaps) && same(g.texture_compress, p.texture_compress) &&
         same(g.render_texture, p.render_texture) && same(g.use_shader, p.use_shader) &&
         g.ground_texture_detail.value == p.ground_texture_detail && g.model_detail.value == p.model_detail &&
         same(g.lens_flare, p.lens_flare) && same(g.reflections, p.reflections) &&
         g.model_texture_detail.value == p.model_texture_detail && g.roost_density.value == p.roost_density &&
         g.reshade_delay.value == p.reshade_delay;
}

// Copies a run-time list of names into `store`, keeping the selection by text.
int replace_list(Choice *choice, const char **store, int limit, int fixed, const char *const *names, int count) {
  const char *previous = choice->count > 0 ? choice_text(choice) : nullptr;
  int total = fixed;
  for (int i = 0; i < count && total < limit; i++)
    if (names[i]) store[total++] = intern_string(names[i]);
  choice->texts = store;
  choice->count = total;
  choice->selected = 0;
  if (previous) select_choice(choice, previous);
  return total;
}

}  // namespace

// ---------------------------------------------------------------- records

int set_slider(Slider *slider, const char *text) {
  float value;
  if (!slider || !text || !parse_float(text, &value)) return 0;
  if (value < static_cast<float>(slider->minimum)) slider->value = slider->minimum;
  else if (value > static_cast<float>(slider->maximum)) slider->value = slider->maximum;
  else slider->value = value;
  return 1;
}

int select_choice(Choice *choice, const char *text) {
  if (!choice || !text) return 0;
  for (int i = 0; i < choice->count; i++) {
    if (strcmp(choice->texts[i], text) == 0) {
      choice->selected = i;
      return 1;
    }
  }
  return 0;
}

const char *choice_text(const Choice *choice) {
  if (!choice || choice->selected < 0 || choice->selected >= choice->count) return "";
  return choice->texts[choice->selected];
}

void set_text(TextSetting *setting, const char *text) {
  int limit = setting->max_length < 0 ? 0 : setting->max_length > max_text_length ? max_text_length : setting->max_length;
  snprintf(setting->text, sizeof setting->text, "%.*s", limit, text ? text : "");
}

int set_binding_text(KeyBinding *binding, const char *text) {
  if (!binding || !text) return 0;
  while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n' || *text == '\v' || *text == '\f') text++;
  float low = 0, high = 1;
  const char *name = text;
  bool axis = false;
  const char *close = strchr(text, ')');
  if (text[0] == '(' && close) {
    // "(%f,%f)" then the axis name after the ")".
    char *end = nullptr;
    float first = strtof(text + 1, &end);
    if (end != text + 1 && *end == ',') {
      const char *second_start = end + 1;
      float second = strtof(second_start, &end);
      if (end != second_start) {
        if (!std::isfinite(first) || !std::isfinite(second)) return 0;
        low = first;
        high = second;
        name = close + 1;
        axis = true;
      }
    }
  }
  if (!axis && strncmp(name, "(k)", 3) == 0) name += 3;
  if (strlen(name) > static_cast<size_t>(max_binding_name)) return 0;
  const char *interned = name[0] ? intern_string(name) : nullptr;
  binding->key_name = axis ? nullptr : interned;
  binding->key_code = -1;
  binding->axis_name = axis ? interned : nullptr;
  binding->axis_device = nullptr;
  binding->axis_index = 0;
  binding->low = low;
  binding->high = high;
  return 1;
}

// ---------------------------------------------------------------- settings

GameSettings &game_settings() {
  ensure_initialised();
  return settings;
}

SetupSettings &setup_settings() {
  ensure_initialised();
  return setup;
}

KeyBinding *key_binding(int index) {
  ensure_initialised();
  return index >= 0 && index < binding_count ? &bindings[index] : nullptr;
}

const char *binding_config_key(int index) { return index >= 0 && index < binding_count ? binding_keys[index] : nullptr; }

void config_set_defaults() {
  if (!initialised) {
    ensure_initialised();  // comes back here once the tables exist
    return;
  }
  set_game_defaults();
  set_setup_defaults();
  set_binding_defaults();
  apply_stability(static_cast<int>(setup.stability.value));
  apply_graphics_preset(graphics_compatibility);
  setup_changed_flag = 0;
  derive_active_graphics();
}

void set_bike_names(const char *const *names, int count) {
  ensure_initialised();
  if (!names || count <= 0) {
    names = builtin_bike_names;
    count = sizeof builtin_bike_names / sizeof builtin_bike_names[0];
  }
  bike_name_count = replace_list(&setup.bike, bike_names, max_bike_names, 0, names, count);
}

void set_video_modes(const int *widths, const int *heights, int count) {
  ensure_initialised();
  const char *texts[max_video_modes];
  int used = 0;
  for (int i = 0; widths && heights && i < count && used < max_video_modes; i++) {
    char text[32];
    snprintf(text, sizeof text, "%dx%d", widths[i], heights[i]);
    texts[used++] = intern_string(text);
  }
  video_mode_count = replace_list(&settings.video_mode, video_mode_texts, 2 + max_video_modes, 2, texts, used);
}

void set_track_names(const char *const *names, int count) {
  ensure_initialised();
  track_name_count = replace_list(&settings.track, track_names, max_track_names, 0, names, count < 0 ? 0 : count);
  select_choice(&settings.track, settings.configured_track.text);
}

const char *translate_old_bike_name(const char *name) {
  static const char *const old_names[][2] = {
      {"crf250", "crf250(2008)"},
      {"kx250f", "kx250f(2008)"},
      {"rmz250", "rmz250(2008)"},
      {"yz250f", "yz250f(2008)"},
  };
  if (!name) return name;
  for (const auto &pair : old_names)
    if (strcmp(name, pair[0]) == 0) return pair[1];
  return name;
}

void push_server_history(const char *name) {
  ensure_initialised();
  TextSetting *history = settings.server_name_hist;
  if (!name || !name[0] || strcmp(name, history[0].text) == 0) return;
  for (int i = server_history_count - 1; i > 0; i--) memcpy(history[i].text, history[i - 1].text, sizeof history[i].text);
  set_text(&history[0], name);
}

// ---------------------------------------------------------------- files

int read_config(const char *path) {
  ensure_initialised();
  return read_file_lines(path, read_config_key) ? 1 : 0;
}

int write_config(const char *path) {
  ensure_initialised();
  return write_file_safely(path, write_config_body) ? 1 : 0;
}

int read_setup_key(const char *key, const char *value) {
  ensure_initialised();
  if (!key || !value) return 0;
  const SettingKey *entry = find_key(setup_keys, setup_key_count, key);
  if (!entry) return 0;
  apply_value(*entry, value);
  return 1;
}

int write_setup(DataFile *file) {
  ensure_initialised();
  if (!file) return 0;
  Writer writer = {file, true};
  for (int i = 0; i < setup_key_count; i++) write_entry(&writer, setup_keys[i]);
  return writer.ok ? 1 : 0;
}

int read_setup_file(const char *path) {
  ensure_initialised();
  return read_file_lines(path, apply_setup_line) ? 1 : 0;
}

int write_setup_file(const char *path) {
  ensure_initialised();
  return write_file_safely(path, write_setup_body) ? 1 : 0;
}

namespace {

// "@setups/" plus the command's name without its surrounding blanks; false
// when there is no name or the path would not fit. A name that would leave
// the setups folder is refused with its reason, so a console line can never
// read or write outside it.
bool setup_path(const char *args, char *out, int size) {
  if (!args) return false;
  while (*args == ' ' || *args == '\t') args++;
  int length = static_cast<int>(strlen(args));
  while (length > 0 && (args[length - 1] == ' ' || args[length - 1] == '\t')) length--;
  if (length == 0) return false;
  char name[max_path];
  if (length >= static_cast<int>(sizeof name)) return false;
  snprintf(name, sizeof name, "%.*s", length, args);
  if (!file_name_is_plain(name)) {
    print_message("Bad setup name");
    return false;
  }
  return snprintf(out, size, "%s%s", setups_prefix, name) < size;
}

}  // namespace

int command_readsetup(const char *args) {
  ensure_initialised();
  char path[max_path];
  if (!setup_path(args, path, sizeof path) || !read_setup_file(path)) {
    print_message("Error reading setup");
    return 0;
  }
  if (setup_read_hook) setup_read_hook();
  print_message("Setup updated");
  setup_changed_flag = 1;
  return 1;
}

int command_writesetup(const char *args) {
  ensure_initialised();
  char path[max_path];
  if (!setup_path(args, path, sizeof path) || !write_setup_file(path)) {
    print_message("Error writing setup");
    return 0;
  }
  print_message("Setup written");
  return 1;
}

void set_setups_prefix(const char *prefix) {
  snprintf(setups_prefix, sizeof setups_prefix, "%s", prefix ? prefix : "@setups/");
}

void set_setup_read_hook(void (*hook)()) { setup_read_hook = hook; }
int setup_changed() { return setup_changed_flag; }
void clear_setup_changed() { setup_changed_flag = 0; }

// ---------------------------------------------------------------- stability

void apply_stability(int stability) {
  ensure_initialised();
  double x = clampd(stability * 5.0 * 0.01, 0, 5);
  int i = static_cast<int>(clampd(floor(x), 0, 4));
  double f = x - i;
  for (const StabilityRow &row : stability_table) {
    double a = row.column[i], b = row.column[i + 1];
    // Kept at the precision a slider is read with, so that what is written
    // reads back as the same value and is written again as the same text
    // (18.8 in double would be written "18.800000" and come back "18.799999").
    (setup.*row.target).value = static_cast<float>(a + (b - a) * f);
  }
}

// ---------------------------------------------------------------- graphics

void apply_graphics_preset(int preset) {
  ensure_initialised();
  if (preset < 0 || preset >= graphics_preset_count) return;
  const PresetColumn &p = graphics_presets[preset];
  GameSettings &g = settings;
  g.ground_detail.value = p.ground_detail;
  select_choice(&g.ground_texture_dim, p.ground_texture_dim);
  select_choice(&g.ground_mipmaps, p.ground_mipmaps);
  select_choice(&g.texture_compress, p.texture_compress);
  select_choice(&g.render_texture, p.render_texture);
  select_choice(&g.use_shader, p.use_shader);
  g.ground_texture_detail.value = p.ground_texture_detail;
  g.model_detail.value = p.model_detail;
  select_choice(&g.lens_flare, p.lens_flare);
  select_choice(&g.reflections, p.reflections);
  g.model_texture_detail.value = p.model_texture_detail;
  g.roost_density.value = p.roost_density;
  g.reshade_delay.value = p.reshade_delay;
}

int current_graphics_preset() {
  ensure_initialised();
  int found = -1;
  for (int i = 0; i < graphics_preset_count; i++)
    if (preset_matches(graphics_presets[i])) found = i;
  return found;
}

const char *graphics_preset_status() {
  int preset = current_graphics_preset();
  return preset < 0 ? "Current Settings: Custom" : preset_status_texts[preset];
}

void derive_active_graphics() {
  ensure_initialised();
  const GameSettings &g = settings;
  // A detail of 0 would divide by zero; it means the coarsest terrain.
  double ground_detail = g.ground_detail.value < 1 ? 1 : g.ground_detail.value;
  active.terrain_detail_threshold = static_cast<float>(0.125 / ground_detail);
  active.ground_texture_reduction = static_cast<int>(clampd(10 - g.ground_texture_detail.value, 0, 10));
  active.ground_texture_size = 32 << g.ground_texture_dim.selected;
  double q = clampd(100 - g.model_detail.value, 0, 100) * 0.02;
  if (q > 1) q = q * q * q;
  active.model_lod_scale = static_cast<float>(q);
  active.model_lod_bias = static_cast<float>(50 - 50 * clampd((g.model_detail.value - 10) * 0.05, 0, 1));
  active.model_texture_reduction = static_cast<int>(clampd(10 - g.model_texture_detail.value, 0, 10));
  active.texture_compression = g.texture_compress.selected;
  active.reflections = g.reflections.selected;
  active.roost_density = static_cast<int>(g.roost_density.value);
}

ActiveGraphics &active_graphics() {
  ensure_initialised();
  return active;
}

BikeSetup setup_values() {
  const SetupSettings &s = setup;
  BikeSetup b = bike_setup_defaults();
  b.leveling = static_cast<float>(s.leveling.value);
  b.roll_damping = static_cast<float>(s.roll_damping.value);
  b.roll_limit_angle = static_cast<float>(s.roll_limit_angle.value);
  b.roll_limit_factor = static_cast<float>(s.roll_limit_factor.value);
  b.steering_damping = static_cast<float>(s.steering_damping.value);
  b.steering_strength = static_cast<float>(s.steering_strength.value);
  b.max_steering_force = static_cast<float>(s.max_steering_force.value);
  b.direct_steering = static_cast<float>(s.direct_steering.value);
  b.slow_damping_speed = static_cast<float>(s.slow_damping_speed.value);
  b.slow_damping_factor = static_cast<float>(s.slow_damping_factor.value);
  b.land_damping_falloff = static_cast<float>(s.land_damping_falloff.value);
  b.land_damping_factor = static_cast<float>(s.land_damping_factor.value);
  b.full_lock_speed = static_cast<float>(s.full_lock_speed.value);
  b.restricted_lock_speed = static_cast<float>(s.restricted_lock_speed.value);
  b.restricted_lock = static_cast<float>(s.restricted_lock.value);
  b.arcade = s.arcade.selected;
  b.front_brake = s.front_brake.selected;
  b.rear_brake = s.rear_brake.selected;
  b.stop_wheelies = s.stop_wheelies.selected;
  b.auto_shift = s.auto_shift.selected;
  b.auto_dab = s.auto_dab.selected;
  b.auto_align = s.auto_align.selected;
  b.auto_clutch_rpms = static_cast<float>(s.auto_clutch_rpms.value);
  b.brake_torque = static_cast<float>(s.brake_torque.value);
  b.rear_brake_torque = static_cast<float>(s.rear_brake_torque.value);
  b.max_dab_speed = static_cast<float>(s.max_dab_speed.value);
  b.front_sprocket_adjustment = static_cast<float>(s.front_sprocket_adjustment.value);
  b.rear_sprocket_adjustment = static_cast<float>(s.rear_sprocket_adjustment.value);
  b.fork_compression_adjustment = static_cast<float>(s.fork_compression_adjustment.value);
  b.fork_slow_compression_adjustment = static_cast<float>(s.fork_slow_compression_adjustment.value);
  b.fork_rebound_adjustment = static_cast<float>(s.fork_rebound_adjustment.value);
  b.fork_slow_rebound_adjustment = static_cast<float>(s.fork_slow_rebound_adjustment.value);
  b.fork_spring_rate_adjustment = static_cast<float>(s.fork_spring_rate_adjustment.value);
  b.fork_preload_adjustment = static_cast<float>(s.fork_preload_adjustment.value);
  b.fork_oil_level_adjustment = static_cast<float>(s.fork_oil_level_adjustment.value);
  b.shock_compression_adjustment = static_cast<float>(s.shock_compression_adjustment.value);
  b.shock_slow_compression_adjustment = static_cast<float>(s.shock_slow_compression_adjustment.value);
  b.shock_rebound_adjustment = static_cast<float>(s.shock_rebound_adjustment.value);
  b.shock_slow_rebound_adjustment = static_cast<float>(s.shock_slow_rebound_adjustment.value);
  b.shock_spring_rate_adjustment = static_cast<float>(s.shock_spring_rate_adjustment.value);
  b.shock_preload_adjustment = static_cast<float>(s.shock_preload_adjustment.value);
  b.rider_yspring = static_cast<float>(s.rider_yspring.value);
  b.rider_ydamping = static_cast<float>(s.rider_ydamping.value);
  b.rider_zspring = static_cast<float>(s.rider_zspring.value);
  b.rider_zdamping = static_cast<float>(s.rider_zdamping.value);
  b.rider_mass_distribution = static_cast<float>(s.rider_mass_distribution.value);
  return b;
}
