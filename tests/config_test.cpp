// Settings, configuration and setup files, key bindings, channels, capture.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "app/bindings.h"
#include "app/config.h"
#include "platform/input.h"
#include "platform/log.h"
#include "test_util.h"

namespace {

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string key_of(const std::string &line) { return line.substr(0, line.find('=')); }

// A controller whose axis positions the test sets directly.
int fake_axes[4];
int fake_read(InputDevice *, int axis) { return fake_axes[axis]; }
const InputDeviceOps fake_ops = {nullptr, fake_read, nullptr};

class Config : public ::testing::Test {
 protected:
  void SetUp() override {
    set_bike_names(nullptr, 0);
    set_track_names(nullptr, 0);
    set_video_modes(nullptr, nullptr, 0);
    config_set_defaults();
    release_bindings();
    dir = make_temp_dir("config");
    path = dir + "/config";
    memset(fake_axes, 0, sizeof fake_axes);
  }
  void TearDown() override {
    release_bindings();
    if (device) input_remove_device(device);
  }
  // Writes `text` as a configuration file and reads it.
  void read_text(const std::string &text) {
    write_text_file(path, text);
    ASSERT_EQ(read_config(path.c_str()), 1);
  }
  std::string written() {
    EXPECT_EQ(write_config(path.c_str()), 1);
    return read_text_file(path);
  }
  InputDevice *add_pedal() {
    device = input_add_device("Pedal", 0, 2, &fake_ops, nullptr);
    return device;
  }
  std::string dir, path;
  InputDevice *device = nullptr;
};

void bump(Slider &s) { s.value = s.value == s.minimum ? s.minimum + s.step : s.minimum; }
void bump(Choice &c) { c.selected = (c.selected + 1) % c.count; }

// Moves every setting away from its default, so that a written file differs
// from the default one on every line.
void change_everything() {
  GameSettings &g = game_settings();
  SetupSettings &s = setup_settings();
  g.xres = 1024;
  g.yres = 768;
  g.draw_fps = 1;
  g.draw_time = 1;
  g.draw_ping = 0;
  g.draw_speed = 1;
  g.spy = 1;
  set_text(&g.configured_track, "mudpit");
  for (Choice *c : {&g.record, &g.skill, &g.time_trial_abort, &g.ground_texture_dim, &g.ground_mipmaps,
                    &g.texture_compress, &g.render_texture, &g.use_shader, &g.lens_flare, &g.reflections,
                    &g.hide_rider, &g.rigid_camera, &g.playback_mode})
    bump(*c);
  for (Choice &gate : g.gates) bump(gate);
  ASSERT_TRUE(select_choice(&g.video_mode, "800x600"));
  for (Slider *sl : {&g.minutes, &g.laps, &g.ghost_fade_distance, &g.ground_detail, &g.ground_texture_detail,
                     &g.roost_density, &g.reshade_delay, &g.model_detail, &g.model_texture_detail, &g.fov,
                     &g.first_person_height, &g.first_person_angle, &g.third_person_height, &g.third_person_distance,
                     &g.volume, &g.comp_volume})
    bump(*sl);
  set_text(&g.server_name, "race.example.org");
  for (int i = 0; i < server_history_count; i++) set_text(&g.server_name_hist[i], ("host" + std::to_string(i)).c_str());
  g.billboard_optimize_lookahead = 3;
  g.message_lines = 9;
  g.demo_backups = 4;
  g.map_scale = 2.5f;

  ASSERT_TRUE(select_choice(&s.bike, "kx250f(2013)"));
  set_text(&s.name, "Fast Eddie");
  set_text(&s.number, "42");
  set_text(&s.rider_texture, "rider_body-alt1.png");
  set_text(&s.head_texture, "rider_head-alt2.png");
  set_text(&s.bike_texture, "kx250f-alt1.png");
  set_text(&s.wheel_texture, std::string(max_text_length, 'w').c_str());
  s.stability.value = 37;
  for (Slider *sl : {&s.leveling, &s.roll_damping, &s.roll_limit_angle, &s.roll_limit_factor, &s.steering_damping,
                     &s.steering_strength, &s.max_steering_force, &s.direct_steering, &s.slow_damping_speed,
                     &s.slow_damping_factor, &s.land_damping_falloff, &s.land_damping_factor, &s.full_lock_speed,
                     &s.restricted_lock_speed, &s.restricted_lock, &s.auto_clutch_rpms, &s.brake_torque,
                     &s.rear_brake_torque, &s.max_dab_speed, &s.front_sprocket_adjustment, &s.rear_sprocket_adjustment,
                     &s.fork_compression_adjustment, &s.fork_slow_compression_adjustment, &s.fork_rebound_adjustment,
                     &s.fork_slow_rebound_adjustment, &s.fork_spring_rate_adjustment, &s.fork_preload_adjustment,
                     &s.fork_oil_level_adjustment, &s.shock_compression_adjustment,
                     &s.shock_slow_compression_adjustment, &s.shock_rebound_adjustment,
                     &s.shock_slow_rebound_adjustment, &s.shock_spring_rate_adjustment, &s.shock_preload_adjustment,
                     &s.rider_yspring, &s.rider_ydamping, &s.rider_zspring, &s.rider_zdamping,
                     &s.rider_mass_distribution})
    bump(*sl);
  for (Choice *c : {&s.arcade, &s.front_brake, &s.rear_brake, &s.stop_wheelies, &s.auto_shift, &s.auto_dab,
                    &s.auto_align, &s.sticky_dab, &s.reverse_steering, &s.lean_indicator})
    bump(*c);

  // Keys, axes (one inverted) and one binding left unbound.
  const char *texts[binding_count] = {
      "(0.062500,0.937500)Pedal.axis[1]", "(k)Q", "(k)Left Shift", "(k)A", "(k)D", "(-1,1)Joystick1.axis[0]",
      "(k)W", "(k)S", "(k)Space", "(k)Tab", "(k)Keypad 8", "(k)Keypad 2", "(k)P", "(k)Enter", "(k)F1",
      "(k)F2", "(1,-1)Joystick1.axis[3]", "(k)0x1c", "(k)Mouse Left", "",
  };
  for (int i = 0; i < binding_count; i++) ASSERT_TRUE(set_binding_text(key_binding(i), texts[i]));
}

}  // namespace

TEST_F(Config, RoundTripRestoresEverySetting) {
  const int widths[] = {800, 1920}, heights[] = {600, 1080};
  set_video_modes(widths, heights, 2);
  config_set_defaults();
  std::string defaults_text = written();
  std::vector<std::string> defaults = lines_of(defaults_text);

  change_everything();
  std::string changed_text = written();
  std::vector<std::string> changed = lines_of(changed_text);

  // Every key is written, in the same order, and every one was changed.
  ASSERT_EQ(changed.size(), defaults.size());
  for (size_t i = 0; i < changed.size(); i++) {
    EXPECT_EQ(key_of(changed[i]), key_of(defaults[i]));
    EXPECT_NE(changed[i], defaults[i]) << "not changed by the test: " << changed[i];
  }

  // Reading it back restores every one of them.
  config_set_defaults();
  EXPECT_EQ(written(), defaults_text);
  write_text_file(path, changed_text);
  ASSERT_EQ(read_config(path.c_str()), 1);
  EXPECT_EQ(written(), changed_text);

  EXPECT_STREQ(choice_text(&setup_settings().bike), "kx250f(2013)");
  EXPECT_EQ(setup_settings().wheel_texture.text, std::string(max_text_length, 'w'));
  EXPECT_STREQ(choice_text(&game_settings().video_mode), "800x600");
  EXPECT_FLOAT_EQ(game_settings().map_scale, 2.5f);
  const KeyBinding *inverted = key_binding(bind_prev);
  EXPECT_EQ(inverted->key_name, nullptr);
  EXPECT_STREQ(inverted->axis_name, "Joystick1.axis[3]");
  EXPECT_EQ(inverted->low, 1.0f);
  EXPECT_EQ(inverted->high, -1.0f);
  EXPECT_EQ(key_binding(bind_screenshot)->key_name, nullptr);
  EXPECT_EQ(key_binding(bind_screenshot)->axis_name, nullptr);
}

TEST_F(Config, WrittenInFileOrderWithItsFormats) {
  std::vector<std::string> expected = {"xres", "yres", "draw_fps", "draw_time", "draw_ping", "draw_speed", "spy",
                                       "track", "record", "skill", "minutes", "laps"};
  for (int i = 0; i < 40; i++) expected.push_back((i < 10 ? "slot0" : "slot") + std::to_string(i));
  for (const char *k :
       {"ghost_fade_distance", "time_trial_abort", "bike", "name", "number", "rider_texture", "head_texture",
        "bike_texture", "wheel_texture", "stability", "leveling", "roll_damping", "roll_limit_angle",
        "roll_limit_factor", "steering_damping", "steering_strength", "max_steering_force", "direct_steering",
        "slow_damping_speed", "slow_damping_factor", "land_damping_falloff", "land_damping_factor", "full_lock_speed",
        "restricted_lock_speed", "restricted_lock", "arcade", "front_brake", "rear_brake", "stop_wheelies",
        "auto_shift", "auto_dab", "auto_align", "sticky_dab", "reverse_steering", "lean_indicator",
        "auto_clutch_rpms", "brake_torque", "rear_brake_torque", "max_dab_speed", "front_sprocket_adjustment",
        "rear_sprocket_adjustment", "fork_compression_adjustment", "fork_slow_compression_adjustment",
        "fork_rebound_adjustment", "fork_slow_rebound_adjustment", "fork_spring_rate_adjustment",
        "fork_preload_adjustment", "fork_oil_level_adjustment", "shock_compression_adjustment",
        "shock_slow_compression_adjustment", "shock_rebound_adjustment", "shock_slow_rebound_adjustment",
        "shock_spring_rate_adjustment", "shock_preload_adjustment", "rider_yspring", "rider_ydamping",
        "rider_zspring", "rider_zdamping", "rider_mass_distribution", "video_mode", "server_name"})
    expected.push_back(k);
  for (int i = 0; i < 16; i++) expected.push_back((i < 10 ? "server_name_hist0" : "server_name_hist") + std::to_string(i));
  for (const char *k :
       {"ground_detail", "ground_texture_detail", "ground_texture_dim", "ground_mipmaps", "texture_compress",
        "render_texture", "use_shader", "roost_density", "reshade_delay", "lens_flare", "reflections", "hide_rider",
        "rigid_camera", "model_detail", "model_texture_detail", "fov", "first_person_height", "first_person_angle",
        "third_person_height", "third_person_distance", "volume", "comp_volume", "playback_mode",
        "billboard_optimize_lookahead", "message_lines", "demo_backups", "map_scale", "throttle_key",
        "front_brake_key", "rear_brake_key", "left_key", "right_key", "clutch_key", "upshift_key", "downshift_key",
        "dab_key", "back_up_key", "lean_forward_key", "lean_backward_key", "pause_key", "step_key", "rewind_key",
        "skip_key", "prev_key", "next_key", "console_key", "screenshot_key"})
    expected.push_back(k);

  std::vector<std::string> lines = lines_of(written());
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); i++) EXPECT_EQ(key_of(lines[i]), expected[i]) << "line " << i;

  // Defaults in the written formats.
  std::string text = read_text_file(path);
  for (const char *line :
       {"xres=640\n", "draw_ping=1\n", "track=rabbithill\n", "minutes=0.000000\n", "laps=5.000000\n",
        "slot00=Empty\n", "slot17=Robot\n", "slot19=Human\n", "slot22=Robot\n", "slot23=Empty\n", "bike=yz250f(2017)\n",
        "name=Trail Rookie\n", "number=999\n", "rider_texture=\n", "stability=100.000000\n",
        "direct_steering=0.125000\n", "rider_mass_distribution=0.330000\n", "video_mode=Default Fullscreen\n",
        "server_name_hist15=\n", "ground_texture_dim=64x64\n", "render_texture=Software\n", "map_scale=1.000000\n",
        "throttle_key=(k)x\n", "dab_key=(k)right ctrl\n", "rewind_key=(k)\\\n", "screenshot_key=(k)s\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST_F(Config, StabilityInterpolatesBetweenColumns) {
  SetupSettings &s = setup_settings();
  apply_stability(0);
  EXPECT_DOUBLE_EQ(s.roll_damping.value, 40);
  EXPECT_DOUBLE_EQ(s.roll_limit_angle.value, 90);
  EXPECT_DOUBLE_EQ(s.roll_limit_factor.value, 0);
  EXPECT_DOUBLE_EQ(s.restricted_lock.value, 45);
  EXPECT_DOUBLE_EQ(s.land_damping_falloff.value, 0);

  apply_stability(50);  // halfway between the 40 and 60 columns
  EXPECT_DOUBLE_EQ(s.roll_damping.value, 65);
  EXPECT_DOUBLE_EQ(s.roll_limit_factor.value, 21);
  EXPECT_DOUBLE_EQ(s.slow_damping_factor.value, 1.75);
  EXPECT_DOUBLE_EQ(s.restricted_lock.value, 7.5);
  EXPECT_DOUBLE_EQ(s.direct_steering.value, 1);

  apply_stability(100);
  EXPECT_DOUBLE_EQ(s.roll_damping.value, 80);
  EXPECT_DOUBLE_EQ(s.steering_damping.value, 60);
  EXPECT_DOUBLE_EQ(s.direct_steering.value, 0.125);
  EXPECT_DOUBLE_EQ(s.restricted_lock.value, 1);

  // Out of range clamps to the end columns.
  apply_stability(250);
  EXPECT_DOUBLE_EQ(s.restricted_lock.value, 1);
  apply_stability(INT_MAX);
  EXPECT_DOUBLE_EQ(s.restricted_lock.value, 1);
  apply_stability(-5);
  EXPECT_DOUBLE_EQ(s.restricted_lock.value, 45);

  // From a file: "stability" applies the table, later advanced keys override,
  // and a stability that does not convert leaves the values alone.
  read_text("stability=50\nroll_damping=12\n");
  EXPECT_DOUBLE_EQ(s.stability.value, 50);
  EXPECT_DOUBLE_EQ(s.restricted_lock.value, 7.5);
  EXPECT_DOUBLE_EQ(s.roll_damping.value, 12);
  read_text("stability=soft\n");
  EXPECT_DOUBLE_EQ(s.roll_damping.value, 12);
}

// Every stability writes values that read back as themselves: the second
// write after reading the first gives the same text. The bare 12 bytes
// "stability=48" once wrote roll_limit_factor=18.800000 and then 18.799999.
TEST_F(Config, EveryStabilityReadsBackToTheSameText) {
  read_text("stability=48");
  std::string bare = written();
  EXPECT_NE(bare.find("stability=48.000000\n"), std::string::npos);
  config_set_defaults();
  ASSERT_EQ(read_config(path.c_str()), 1);
  EXPECT_EQ(written(), bare) << "stability=48";

  for (int stability = 0; stability <= 100; stability++) {
    config_set_defaults();
    read_text("stability=" + std::to_string(stability) + "\n");
    std::string first = written();
    config_set_defaults();
    ASSERT_EQ(read_config(path.c_str()), 1);
    EXPECT_EQ(written(), first) << "stability " << stability;
    EXPECT_NE(first.find("stability=" + std::to_string(stability) + ".000000\n"), std::string::npos);
  }
}

TEST_F(Config, BadValuesAndUnknownKeysLeaveSettings) {
  read_text(
      "laps=70\nminutes=-3\nfov=abc\nghost_fade_distance=nan\nthird_person_height=inf\nxres=99999999999\nyres=600px\n"
      "record=Yes \r\nskill=Expert\r\nname\nnumber=\nunknown_key=7\nground_texture_distance=3\nmap_scale=100\n"
      "skill=Wizard\nbike=kx250f\nserver_name_hist00=" +
      std::string(127, 'h') + "\nserver_name_hist01=" + std::string(126, 'k') + "\nname=" + std::string(100, 'n') +
      "\n");
  GameSettings &g = game_settings();
  EXPECT_DOUBLE_EQ(g.laps.value, 50);
  EXPECT_DOUBLE_EQ(g.minutes.value, 0);
  EXPECT_DOUBLE_EQ(g.fov.value, 110);
  EXPECT_DOUBLE_EQ(g.ghost_fade_distance.value, 10);
  EXPECT_DOUBLE_EQ(g.third_person_height.value, 5);
  EXPECT_EQ(g.xres, 640);
  EXPECT_EQ(g.yres, 600);  // read like "%d": the number before the unit
  EXPECT_STREQ(choice_text(&g.record), "No");  // other trailing blanks are kept
  EXPECT_STREQ(choice_text(&g.skill), "Expert");  // carriage return removed; the unknown text changed nothing
  EXPECT_FLOAT_EQ(g.map_scale, 8);
  EXPECT_STREQ(choice_text(&setup_settings().bike), "kx250f(2008)");
  EXPECT_STREQ(g.server_name_hist[0].text, "");
  EXPECT_EQ(std::string(g.server_name_hist[1].text), std::string(126, 'k'));
  EXPECT_EQ(std::string(setup_settings().name.text), std::string(63, 'n'));
  EXPECT_STREQ(setup_settings().number.text, "");

  read_text("bike=cr85\nbike=yz250f\nuse_fbo=Yes\n");
  EXPECT_STREQ(choice_text(&setup_settings().bike), "yz250f(2008)");
  EXPECT_STREQ(choice_text(&g.render_texture), "Hardware/Direct");
  read_text("use_fbo=No\n");
  EXPECT_STREQ(choice_text(&g.render_texture), "Hardware/Copy");
  EXPECT_STREQ(translate_old_bike_name("rmz250"), "rmz250(2008)");
  EXPECT_STREQ(translate_old_bike_name("rmz250(2013)"), "rmz250(2013)");
}

TEST_F(Config, LineBreaksInValuesStayInTheirLine) {
  set_text(&setup_settings().name, "Evil\nlaps=3");
  set_text(&game_settings().server_name, "host\r\nminutes=9\r");
  std::string text = written();
  config_set_defaults();
  read_text(text);
  EXPECT_DOUBLE_EQ(game_settings().laps.value, 5);
  EXPECT_DOUBLE_EQ(game_settings().minutes.value, 0);
  EXPECT_STREQ(setup_settings().name.text, "Evil laps=3");
  EXPECT_STREQ(game_settings().server_name.text, "host  minutes=9 ");
}

TEST_F(Config, BrokenFilesLoadWhatTheyCan) {
  EXPECT_EQ(read_config((dir + "/missing").c_str()), 0);
  EXPECT_DOUBLE_EQ(game_settings().laps.value, 5);

  std::string text = "garbage without equals\n=\n==\n";
  text += std::string("\xff\xfe\x80\x01=\x02\n", 6);
  text += std::string("la\0ps=3\n", 8);  // a zero byte: the line is dropped whole
  text += "name=" + std::string(1500, 'a') + "\n";
  // Too long: skipped whole, so the tail never passes for a line of its own.
  text += "number=" + std::string(2040, '7') + "laps=7\n";
  text += "number=" + std::string(1016, '7') + "laps=8\n" + std::string(1030, '7') + "\n";
  text += std::string(5000, 'x') + "\n";
  text += "minutes=12";  // no final line feed
  read_text(text);
  GameSettings &g = game_settings();
  EXPECT_DOUBLE_EQ(g.laps.value, 5);
  EXPECT_EQ(std::string(setup_settings().name.text), std::string(63, 'a'));
  EXPECT_STREQ(setup_settings().number.text, "777");  // the 1029-character line is whole
  EXPECT_DOUBLE_EQ(g.minutes.value, 12);

  // Random bytes: whatever they say, reading finishes.
  std::string noise;
  unsigned seed = 12345;
  for (int i = 0; i < 20000; i++) {
    seed = seed * 1103515245 + 12345;
    noise += static_cast<char>(i % 97 == 0 ? '\n' : i % 31 == 0 ? '=' : (seed >> 16) & 0xff);
  }
  read_text(noise);
  read_text("");
}

TEST_F(Config, WritingNeverLeavesAHalfWrittenFile) {
  write_text_file(path, "laps=7\n");
  game_settings().laps.value = 9;
  ASSERT_EQ(write_config(path.c_str()), 1);
  EXPECT_FALSE(file_exists(path + ".tmp"));
  config_set_defaults();
  read_config(path.c_str());
  EXPECT_DOUBLE_EQ(game_settings().laps.value, 9);

  // A disk that fills up mid-write: the old file stays whole.
  std::string before = read_text_file(path);
  game_settings().laps.value = 3;
  struct rlimit old_limit;
  getrlimit(RLIMIT_FSIZE, &old_limit);
  struct rlimit small = old_limit;
  small.rlim_cur = 200;
  signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  int result = write_config(path.c_str());
  setrlimit(RLIMIT_FSIZE, &old_limit);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(read_text_file(path), before);
  EXPECT_FALSE(file_exists(path + ".tmp"));

  // Nowhere to write (under a plain file), or the target cannot be replaced.
  write_text_file(dir + "/plain", "x");
  EXPECT_EQ(write_config((dir + "/plain/config").c_str()), 0);
  mkdir((dir + "/taken").c_str(), 0755);
  EXPECT_EQ(write_config((dir + "/taken").c_str()), 0);
  EXPECT_FALSE(file_exists(dir + "/taken.tmp"));
}

namespace {
int hook_calls = 0;
void count_hook() { hook_calls++; }
}  // namespace

TEST_F(Config, SetupCommands) {
  mkdir((dir + "/setups").c_str(), 0755);
  set_setups_prefix((dir + "/setups/").c_str());
  set_setup_read_hook(count_hook);
  hook_calls = 0;
  SetupSettings &s = setup_settings();
  select_choice(&s.bike, "crf450(2016)");
  set_text(&s.name, "Setup Rider");
  s.stability.value = 30;
  apply_stability(30);
  s.restricted_lock.value = 3.125;

  EXPECT_EQ(command_writesetup("  mine \t"), 1);
  EXPECT_STREQ(message_line(0), "Setup written");
  std::string text = read_text_file(dir + "/setups/mine");
  EXPECT_EQ(text.find("laps="), std::string::npos);  // setup keys only
  EXPECT_EQ(text.rfind("bike=crf450(2016)\n", 0), 0u);

  config_set_defaults();
  write_text_file(dir + "/setups/mine", text + "laps=2\n");
  EXPECT_EQ(command_readsetup("mine"), 1);
  EXPECT_STREQ(message_line(0), "Setup updated");
  EXPECT_EQ(hook_calls, 1);
  EXPECT_EQ(setup_changed(), 1);
  EXPECT_STREQ(choice_text(&s.bike), "crf450(2016)");
  EXPECT_STREQ(s.name.text, "Setup Rider");
  EXPECT_DOUBLE_EQ(s.stability.value, 30);
  EXPECT_DOUBLE_EQ(s.restricted_lock.value, 3.125);
  EXPECT_DOUBLE_EQ(s.roll_damping.value, 55);
  EXPECT_DOUBLE_EQ(game_settings().laps.value, 5);  // not a setup key

  EXPECT_EQ(command_readsetup("nothere"), 0);
  EXPECT_STREQ(message_line(0), "Error reading setup");
  EXPECT_EQ(command_readsetup("   "), 0);
  EXPECT_STREQ(message_line(0), "Error reading setup");
  write_text_file(dir + "/setups/plain", "x");
  EXPECT_EQ(command_writesetup("plain/x"), 0);
  EXPECT_STREQ(message_line(0), "Error writing setup");
  EXPECT_EQ(hook_calls, 1);
  set_setup_read_hook(nullptr);
  set_setups_prefix(nullptr);
}

TEST_F(Config, KeyNamesAndAxesBind) {
  KeyBinding *throttle = key_binding(bind_throttle);
  const int x_code = input_button_code("X");
  ASSERT_GE(x_code, 0);
  for (const char *value : {"x", "(k)x", "  (k)x"}) {
    read_text(std::string("throttle_key=") + value + "\n");
    resolve_bindings();
    EXPECT_STREQ(throttle->key_name, "x") << value;
    EXPECT_EQ(throttle->key_code, x_code) << value;
    EXPECT_EQ(throttle->axis_name, nullptr);
  }
  read_text("throttle_key=(k)No Such Key\nfront_brake_key=(nan,1)Pedal.axis[0]\n");
  resolve_bindings();
  EXPECT_EQ(throttle->key_code, -1);
  EXPECT_STREQ(key_binding(bind_front_brake)->key_name, "c");  // unconvertible range: unchanged

  add_pedal();
  read_text("throttle_key=(-1,1)Pedal.axis[0]\nfront_brake_key=(1,-1)Pedal.axis[1]\n");
  resolve_bindings();
  EXPECT_EQ(throttle->key_name, nullptr);
  EXPECT_EQ(throttle->axis_device, device);
  EXPECT_EQ(key_binding(bind_front_brake)->axis_index, 1);

  // Full travel, and the inverted range.
  EXPECT_FLOAT_EQ(binding_axis_value(throttle, -32768), 0);
  EXPECT_FLOAT_EQ(binding_axis_value(throttle, 0), 0.5f);
  EXPECT_NEAR(binding_axis_value(throttle, 32767), 1, 1e-4);
  EXPECT_NEAR(binding_axis_value(key_binding(bind_front_brake), 32767), 0, 1e-4);
  EXPECT_FLOAT_EQ(binding_axis_value(key_binding(bind_front_brake), -32768), 1);
  EXPECT_FLOAT_EQ(binding_axis_value(key_binding(bind_front_brake), -16384), 0.75f);

  // An empty range does not divide by zero.
  ASSERT_TRUE(set_binding_text(throttle, "(0.5,0.5)Pedal.axis[0]"));
  EXPECT_EQ(binding_axis_value(throttle, 0), 0);
  EXPECT_EQ(binding_axis_value(throttle, 32000), 1);

  fake_axes[0] = 16384;
  fake_axes[1] = 0;
  read_text("throttle_key=(-1,1)Pedal.axis[0]\n");
  resolve_bindings();
  float channels[control_channel_count];
  bindings_tic(0, channels);
  EXPECT_FLOAT_EQ(channels[channel_throttle], 0.75f);
  EXPECT_FLOAT_EQ(channels[channel_front_brake], 0.5f);
}

TEST_F(Config, KeysSumIntoChannels) {
  resolve_bindings();
  auto press = [](const char *name, int down) { binding_key_event(input_button_code(name), down, 0); };
  float channels[control_channel_count];
  for (float &c : channels) c = 5;
  bindings_tic(0, channels);
  for (float c : channels) EXPECT_EQ(c, 0);

  press("left", 1);
  press("n", 1);
  press("up", 1);
  press("x", 1);
  bindings_tic(0, channels);
  EXPECT_EQ(channels[channel_steer], 1);
  EXPECT_EQ(channels[channel_lean], -1);
  EXPECT_EQ(channels[channel_shift], 1);
  EXPECT_EQ(channels[channel_throttle], 1);

  press("right", 1);  // both ways cancel out
  press("m", 1);
  press("down", 1);
  press("x", 0);
  press("right ctrl", 1);
  bindings_tic(0, channels);
  EXPECT_EQ(channels[channel_steer], 0);
  EXPECT_EQ(channels[channel_lean], 0);
  EXPECT_EQ(channels[channel_shift], 0);
  EXPECT_EQ(channels[channel_throttle], 0);
  EXPECT_EQ(channels[channel_dab], 1);

  press("left", 0);
  bindings_tic(0, channels);
  EXPECT_EQ(channels[channel_steer], -1);
  clear_binding_values();
  bindings_tic(0, channels);
  for (float c : channels) EXPECT_EQ(c, 0);
}

TEST_F(Config, CaptureTakesAKeyAfterItSettles) {
  resolve_bindings();
  const int q = input_button_code("Q");
  start_binding_capture(bind_throttle, 10.0);
  EXPECT_EQ(binding_capture_target(), bind_throttle);
  EXPECT_EQ(binding_key_event('q', 1, 10.05), 1);  // a typed character is not a key
  EXPECT_EQ(binding_key_event(q, 1, 10.1), 1);
  EXPECT_EQ(binding_key_event(input_button_code("W"), 1, 10.15), 1);  // only the first key counts
  EXPECT_EQ(binding_key_event(q, 0, 10.16), 0);  // releases pass through
  float channels[control_channel_count];
  bindings_tic(10.2, channels);
  EXPECT_EQ(binding_capture_target(), bind_throttle);
  bindings_tic(10.3, channels);
  EXPECT_EQ(binding_capture_target(), -1);
  EXPECT_STREQ(key_binding(bind_throttle)->key_name, "Q");
  EXPECT_EQ(key_binding(bind_throttle)->key_code, q);
  EXPECT_NE(written().find("throttle_key=(k)Q\n"), std::string::npos);

  // esc cancels and leaves the binding as it was.
  start_binding_capture(bind_clutch, 20.0);
  EXPECT_EQ(binding_key_event(input_button_code("esc"), 1, 20.1), 1);
  EXPECT_EQ(binding_capture_target(), -1);
  bindings_tic(21, channels);
  EXPECT_STREQ(key_binding(bind_clutch)->key_name, "z");
  EXPECT_EQ(binding_key_event(q, 1, 21), 0);  // no capture: handled as usual
}

TEST_F(Config, CaptureBindsAnAxisOverAKey) {
  add_pedal();
  fake_axes[1] = 0;
  float channels[control_channel_count];
  // A small movement binds nothing: the key pressed meanwhile wins.
  start_binding_capture(bind_back_up, 0.0);
  fake_axes[0] = -16000;
  bindings_tic(0.05, channels);
  binding_key_event(input_button_code("Q"), 1, 0.06);
  bindings_tic(0.5, channels);
  EXPECT_EQ(binding_capture_target(), -1);
  EXPECT_STREQ(key_binding(bind_back_up)->key_name, "Q");
  EXPECT_EQ(key_binding(bind_back_up)->axis_name, nullptr);

  // A full movement wins over a key.
  fake_axes[0] = 0;
  start_binding_capture(bind_rear_brake, 1.0);
  binding_key_event(input_button_code("Q"), 1, 1.05);
  fake_axes[1] = -16000;
  bindings_tic(1.1, channels);
  fake_axes[1] = -32768;
  bindings_tic(1.2, channels);
  bindings_tic(1.4, channels);  // still settling
  EXPECT_EQ(binding_capture_target(), bind_rear_brake);
  bindings_tic(1.5, channels);
  EXPECT_EQ(binding_capture_target(), -1);

  const KeyBinding *b = key_binding(bind_rear_brake);
  EXPECT_EQ(b->key_name, nullptr);
  EXPECT_STREQ(b->axis_name, "Pedal.axis[1]");
  EXPECT_FLOAT_EQ(b->low, -0.0625f);
  EXPECT_FLOAT_EQ(b->high, -0.9375f);
  bindings_tic(1.6, channels);
  EXPECT_FLOAT_EQ(channels[channel_rear_brake], 1);
  fake_axes[1] = 0;
  bindings_tic(1.7, channels);
  EXPECT_FLOAT_EQ(channels[channel_rear_brake], 0);
  EXPECT_NE(written().find("rear_brake_key=(-0.062500,-0.937500)Pedal.axis[1]\n"), std::string::npos);
}

TEST_F(Config, GraphicsPresetsAndActiveValues) {
  EXPECT_EQ(current_graphics_preset(), graphics_compatibility);
  EXPECT_STREQ(graphics_preset_status(), "Current Settings: Compatibility");
  for (int p = 0; p < graphics_preset_count; p++) {
    apply_graphics_preset(p);
    EXPECT_EQ(current_graphics_preset(), p);
  }
  GameSettings &g = game_settings();
  derive_active_graphics();  // High Detail
  ActiveGraphics &a = active_graphics();
  EXPECT_FLOAT_EQ(a.terrain_detail_threshold, 0.125f / 90);
  EXPECT_EQ(a.ground_texture_reduction, 0);
  EXPECT_EQ(a.ground_texture_size, 256);
  EXPECT_FLOAT_EQ(a.model_lod_scale, 0.5f);
  EXPECT_FLOAT_EQ(a.model_lod_bias, 0);
  EXPECT_EQ(a.model_texture_reduction, 0);
  EXPECT_EQ(a.texture_compression, 0);
  EXPECT_EQ(a.reflections, 1);
  EXPECT_EQ(a.roost_density, 1000);

  g.reshade_delay.value = 3;
  EXPECT_EQ(current_graphics_preset(), -1);
  EXPECT_STREQ(graphics_preset_status(), "Current Settings: Custom");

  apply_graphics_preset(graphics_high_fps);
  g.model_detail.value = 0;
  g.ground_detail.value = 0;
  select_choice(&g.ground_texture_dim, "1024x1024");
  derive_active_graphics();
  EXPECT_FLOAT_EQ(a.model_lod_scale, 8);  // q = 2, cubed
  EXPECT_FLOAT_EQ(a.model_lod_bias, 50);
  EXPECT_TRUE(std::isfinite(a.terrain_detail_threshold));
  EXPECT_EQ(a.ground_texture_size, 1024);
  EXPECT_EQ(a.ground_texture_reduction, 3);
  EXPECT_EQ(a.texture_compression, 1);
  EXPECT_EQ(a.reflections, 0);
  EXPECT_EQ(a.roost_density, 0);
}

TEST_F(Config, RunTimeListsKeepTheirSelection) {
  const char *tracks[] = {"dunes", "rabbithill", "mudpit"};
  read_text("track=mudpit\n");
  EXPECT_NE(written().find("track=mudpit\n"), std::string::npos);  // no list yet: the name read
  set_track_names(tracks, 3);
  EXPECT_STREQ(choice_text(&game_settings().track), "mudpit");
  select_choice(&game_settings().track, "dunes");
  EXPECT_NE(written().find("track=dunes\n"), std::string::npos);

  const char *catalogue[] = {"kx125", "yz250f(2017)"};
  set_bike_names(catalogue, 2);
  EXPECT_STREQ(choice_text(&setup_settings().bike), "yz250f(2017)");
  EXPECT_EQ(setup_settings().bike.count, 2);

  read_text("video_mode=1280x720\n");  // unknown before the modes are listed
  EXPECT_STREQ(choice_text(&game_settings().video_mode), "Default Fullscreen");
  const int w[] = {1280}, h[] = {720};
  set_video_modes(w, h, 1);
  read_text("video_mode=1280x720\n");
  EXPECT_STREQ(choice_text(&game_settings().video_mode), "1280x720");

  push_server_history("alpha");
  push_server_history("beta");
  push_server_history("beta");
  push_server_history("");
  EXPECT_STREQ(game_settings().server_name_hist[0].text, "beta");
  EXPECT_STREQ(game_settings().server_name_hist[1].text, "alpha");
  EXPECT_STREQ(game_settings().server_name_hist[2].text, "");

  set_bike_names(nullptr, 0);  // back to the built-in names
  EXPECT_EQ(setup_settings().bike.count, 80);
  EXPECT_STREQ(choice_text(&setup_settings().bike), "yz250f(2017)");
}

// The menu defaults and the bike's own defaults must describe the same setup.
TEST(SetupValues, DefaultsAgreeWithTheBike) {
  config_set_defaults();
  BikeSetup a = setup_values(), b = bike_setup_defaults();
  EXPECT_FLOAT_EQ(a.roll_damping, b.roll_damping);
  EXPECT_FLOAT_EQ(a.restricted_lock, b.restricted_lock);
  EXPECT_FLOAT_EQ(a.direct_steering, b.direct_steering);
  EXPECT_EQ(a.front_brake, b.front_brake);
  EXPECT_EQ(a.rear_brake, b.rear_brake);
  EXPECT_EQ(a.stop_wheelies, b.stop_wheelies);
  EXPECT_EQ(a.auto_shift, b.auto_shift);
  EXPECT_EQ(a.auto_dab, b.auto_dab);
  EXPECT_EQ(a.arcade, b.arcade);
  EXPECT_FLOAT_EQ(a.auto_clutch_rpms, b.auto_clutch_rpms);
  EXPECT_FLOAT_EQ(a.brake_torque, b.brake_torque);
  EXPECT_FLOAT_EQ(a.shock_compression_adjustment, b.shock_compression_adjustment);
  EXPECT_FLOAT_EQ(a.rider_mass_distribution, b.rider_mass_distribution);
  setup_settings().front_brake.selected = 0;
  EXPECT_EQ(setup_values().front_brake, 0);
}
