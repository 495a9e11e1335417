// The console line: editing and history, the message scroll, chat and its
// rate limit, how commands are matched, their effects and messages, the
// camera keyframes and their files, and names that would leave the home
// directory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/camera.h"
#include "app/config.h"
#include "app/console.h"
#include "app/frame_clock.h"
#include "app/keyframes.h"
#include "assets/file.h"
#include "platform/input.h"
#include "platform/log.h"
#include "robot_scene.h"
#include "track/deform.h"
#include "track/terrain.h"
#include "race/race.h"
#include "test_util.h"
#include "track/objects.h"

namespace {

std::vector<std::string> printed;
void observe(const char *text) { printed.push_back(text); }

struct ConsoleTest : ::testing::Test {
  std::string home;
  FrameClock clock = {};
  void SetUp() override {
    home = make_temp_dir("console");
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    unsetenv("QX_HOME");
    file_layer_reset_for_tests();
    config_set_defaults();
    console_reset();
    clear_keyframes();
    console_set_frame_clock(&clock);
    printed.clear();
    message_set_observer(observe);
  }
  void TearDown() override {
    message_set_observer(nullptr);
    console_set_frame_clock(nullptr);
    race_state() = RaceState{};
    unsetenv("XDG_DATA_HOME");
    file_layer_reset_for_tests();
  }
  std::string root() { return data_directory(0); }
  // Runs a line and returns the last message it printed ("" for none).
  std::string run(const char *line, int expect_handled = 1) {
    size_t before = printed.size();
    EXPECT_EQ(run_console_line(line), expect_handled) << line;
    return printed.size() > before ? printed.back() : "";
  }
  static void type(const char *text) {
    for (; *text; text++) console_line_key(static_cast<unsigned char>(*text));
  }
  static void key(const char *name) {
    int code = input_button_code(name);
    ASSERT_GE(code, 0) << name;
    console_line_key(code);
  }
};

}  // namespace

TEST_F(ConsoleTest, LineEditingInInsertModeUpToTheLimit) {
  type("helo");
  key("left");
  type("l");
  EXPECT_STREQ(console_input(), "hello");
  EXPECT_EQ(console_cursor(), 4);
  console_line_key(8);  // backspace
  EXPECT_STREQ(console_input(), "helo");
  key("left");
  key("left");
  console_line_key(127);  // delete
  EXPECT_STREQ(console_input(), "hlo");
  console_line_key(13);  // the character of the enter key is no text
  console_line_key(27);
  console_line_key(9);
  EXPECT_STREQ(console_input(), "hlo");
  for (int k = 0; k < 10; k++) key("right");
  EXPECT_EQ(console_cursor(), 3);

  console_reset();
  std::string full(console_line_length, 'a');
  type(full.c_str());
  type("b");  // at the limit: nothing more
  EXPECT_EQ(std::string(console_input()), full);
  for (int k = 0; k < 5; k++) key("left");
  type("c");  // inserting pushes the last character off
  std::string expected = full.substr(0, console_line_length - 5) + "c" + full.substr(console_line_length - 5, 4);
  EXPECT_EQ(std::string(console_input()), expected);
}

TEST_F(ConsoleTest, HandledLinesGoIntoTheHistoryOthersStay) {
  type("/nosuchcommand");
  key("enter");
  EXPECT_STREQ(console_input(), "/nosuchcommand");  // left for correction
  EXPECT_EQ(console_history_count(), 1);
  for (int k = 0; k < 14; k++) console_line_key(8);
  type("/togglefps");
  key("keypad enter");
  EXPECT_STREQ(console_input(), "");
  EXPECT_EQ(console_history_count(), 2);
  EXPECT_STREQ(console_history_line(1), "/togglefps");
  type("/toggletime");
  key("enter");
  EXPECT_STREQ(console_history_line(1), "/toggletime");
  EXPECT_STREQ(console_history_line(2), "/togglefps");

  // Up walks to older lines (no further than the oldest), down back again;
  // what was typed is kept in entry 0.
  type("draft");
  key("up");
  EXPECT_STREQ(console_input(), "/toggletime");
  key("up");
  key("up");
  EXPECT_STREQ(console_input(), "/togglefps");
  key("down");
  key("down");
  EXPECT_STREQ(console_input(), "draft");
  key("down");
  EXPECT_STREQ(console_input(), "draft");

  // A hundred lines at most.
  console_reset();
  for (int k = 0; k < 120; k++) {
    type("/togglespeed");
    key("enter");
  }
  EXPECT_EQ(console_history_count(), console_history_lines);

  for (int k = 0; k < 1000; k++) key("page up");
  EXPECT_EQ(console_scroll(), console_max_scroll);
  for (int k = 0; k < 1000; k++) key("page down");
  EXPECT_EQ(console_scroll(), 0);
}

TEST_F(ConsoleTest, ChatWaitsTwoSecondsBetweenLines) {
  clock.program_clock = 100;
  type("hello");
  key("enter");
  EXPECT_EQ(printed.back(), "Not connected to server");
  EXPECT_STREQ(console_input(), "");
  clock.program_clock = 101.5;
  type("again");
  key("enter");
  EXPECT_EQ(printed.back(), "No one likes a spammer");
  EXPECT_STREQ(console_input(), "again");  // kept for later
  clock.program_clock = 102.0;
  key("enter");
  EXPECT_EQ(printed.back(), "Not connected to server");
  EXPECT_STREQ(console_input(), "");
  EXPECT_EQ(run_console_line("   "), 0);  // an empty line is nothing
}

TEST_F(ConsoleTest, CommandFormsAndSettings) {
  EXPECT_EQ(run("/fov 500"), "fov set");
  EXPECT_DOUBLE_EQ(game_settings().fov.value, 170);
  EXPECT_EQ(run("\\fov 5"), "fov set");
  EXPECT_DOUBLE_EQ(game_settings().fov.value, 10);
  EXPECT_EQ(run("/fov"), "Usage: fov <degrees>");
  EXPECT_EQ(run("/fov wide"), "Usage: fov <degrees>");
  run("/fovx 90", 0);         // a name ends at a blank
  run("/togglefps now", 0);   // exact commands are the whole text
  run("/ togglefps", 0);
  EXPECT_EQ(run("/togglefps  "), "FPS display ON");
  EXPECT_EQ(run("/togglefps"), "FPS display OFF");
  EXPECT_EQ(run("/   messagelines   3"), "Maximum showing messages is now 3");  // word commands skip blanks
  EXPECT_EQ(game_settings().message_lines, 3);

  EXPECT_EQ(run("/togglespy"), "Spy mode ON");
  EXPECT_EQ(game_settings().spy, 1);
  EXPECT_EQ(run("/toggleping"), "Ping display OFF");  // on by default
  EXPECT_EQ(run("/togglespeed"), "Speed display ON");
  EXPECT_EQ(run("/toggletime"), "Time display ON");
  EXPECT_EQ(run("/togglegraph"), "Suspension graph ON");
  EXPECT_EQ(suspension_graph_on(), 1);
  EXPECT_EQ(run("/togglekeycam"), "Keycam mode ON");
  EXPECT_EQ(keycam_mode(), 1);
  run("/togglekeycam");

  EXPECT_EQ(run("/bbopt 12"), "Billboard optimization window is now 12");
  EXPECT_EQ(game_settings().billboard_optimize_lookahead, 12);
  EXPECT_EQ(run("/bbopt many"), "Usage: bbopt <frames>");
  EXPECT_EQ(game_settings().billboard_optimize_lookahead, 12);
  EXPECT_EQ(run("/demobackups 500"), "Now keeping 100 demo backups");
  EXPECT_EQ(run("/demobackups -2"), "Now keeping 0 demo backups");
  EXPECT_EQ(run("/mapscale 20"), "Map scale set to 8.000000");
  EXPECT_EQ(run("/mapscale 0.01"), "Map scale set to 0.125000");
  EXPECT_FLOAT_EQ(game_settings().map_scale, 0.125f);
  EXPECT_EQ(run("/log e 5"), "Logging 0x1, spacing 5.000000");
  EXPECT_EQ(console_debug_flags(), 1);
  EXPECT_EQ(run("/log"), "Logging 0x0, spacing 10.000000");
  EXPECT_EQ(run("/forcereload"), "Track will be reloaded on next restart");
  EXPECT_EQ(run("/namedemo race1"), "Not currently recording a demo");
  EXPECT_EQ(run("/sendfile my.trk"), "Sending files is not available in this version");

  // Without a bike to look from, these are not handled; without a track
  // there is nothing to measure.
  run("/pipe", 0);
  run("/camangle 10 20", 0);
  EXPECT_EQ(run("/hfvol"), "No track loaded");
  EXPECT_EQ(run("/toggledecals"), "No track loaded");
  set_suspension_graph(0);
}

TEST_F(ConsoleTest, FrameHistogramPrintedAndCleared) {
  int counts[frame_histogram_size] = {1, 0, 2, 0, 0, 0, 0, 3};
  for (int k = 0; k < frame_histogram_size; k++) clock.histogram[k] = counts[k];
  EXPECT_EQ(run("/fpshist"), "128=1 64=0 32=2 16=0 8=0 4=0 2=0 1=3 ");
  for (int k = 0; k < frame_histogram_size; k++) EXPECT_EQ(clock.histogram[k], 0);
}

TEST_F(ConsoleTest, ListFilesMatchesNamesInAnyCase) {
  write_text_file(root() + "tracks/hill/terrain.hf", "x");
  write_text_file(root() + "Old_TERRAIN.txt", "x");
  write_text_file(root() + "other.txt", "x");
  file_list();
  run("/listfiles TERRAIN");
  int ours = 0;
  for (const std::string &line : printed) {
    std::string name = line.substr(0, line.find(" -> "));
    std::string lower;
    for (char c : name) lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(lower.find("terrain"), std::string::npos) << line;
    EXPECT_NE(line.find(" -> "), std::string::npos);
    ours += name == "tracks/hill/terrain.hf" || name == "Old_TERRAIN.txt";
  }
  EXPECT_EQ(ours, 2);
  printed.clear();
  run("/listfiles");
  bool other = false;
  for (const std::string &line : printed) other |= line.rfind("other.txt -> ", 0) == 0;
  EXPECT_TRUE(other);  // no pattern: every file
}

TEST_F(ConsoleTest, KeyframesFromTheFreeCamera) {
  // A view needs a bike for "camangle"; the keyframes take the free camera.
  TrackCamera *camera = free_camera();
  *camera = TrackCamera{1, 2, 3, 0, 0, 0, 0, 90, 0};
  race_state().tic = 256;
  EXPECT_EQ(run("/addkey"), "Keyframe added");
  ASSERT_EQ(keyframe_count(), 1);
  const CameraKeyframe *k = keyframes();
  EXPECT_FLOAT_EQ(k[0].position[2], 3);
  EXPECT_FLOAT_EQ(k[0].fov, 110);  // the "Field Of View" setting
  EXPECT_FLOAT_EQ(k[0].rotation[3], 1);
  EXPECT_EQ(k[0].tic, 256);

  // Yaw 90 degrees: a half-angle rotation about y.
  float q[4];
  keyframe_rotation(1.5707964f, 0, q);
  EXPECT_NEAR(q[0], 0, 1e-6);
  EXPECT_NEAR(q[1], std::sqrt(0.5f), 1e-6);
  EXPECT_NEAR(q[3], std::sqrt(0.5f), 1e-6);
  keyframe_rotation(0.4f, 0.6f, q);
  EXPECT_NEAR(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3], 1, 1e-6);
  EXPECT_NEAR(q[2], -std::sin(0.2f) * std::sin(0.3f), 1e-6);

  // Same tic: after the one already there. Earlier tic: before it.
  camera->x = 5;
  run("/addkey");
  race_state().tic = 128;
  camera->x = 7;
  run("/addkey");
  ASSERT_EQ(keyframe_count(), 3);
  EXPECT_EQ(keyframes()[0].tic, 128);
  EXPECT_FLOAT_EQ(keyframes()[1].position[0], 1);
  EXPECT_FLOAT_EQ(keyframes()[2].position[0], 5);

  printed.clear();
  run("/listkeys");
  ASSERT_EQ(printed.size(), 3u);
  EXPECT_EQ(printed[0], "pos = { 7.00, 2.00, 3.00 }, rot = { 0.00, 0.00, -0.00, 1.00 }, time = 1.00");
  EXPECT_EQ(run("/clearkeys"), "Keyframes cleared");
  EXPECT_EQ(keyframe_count(), 0);
}

TEST_F(ConsoleTest, DeletingTheNearestKeyframe) {
  auto keys_at = [](std::vector<int> tics) {
    clear_keyframes();
    for (int t : tics) {
      CameraKeyframe k = {{static_cast<float>(t), 0, 0}, {0, 0, 0, 1}, 90, t};
      add_keyframe(&k);
    }
  };
  auto remaining = [] {
    std::vector<int> v;
    for (int i = 0; i < keyframe_count(); i++) v.push_back(keyframes()[i].tic);
    return v;
  };
  keys_at({100, 200, 300});
  race_state().tic = 150;  // exactly halfway: the earlier one goes
  EXPECT_EQ(run("/deletekey"), "Keyframe deleted");
  EXPECT_EQ(remaining(), (std::vector<int>{200, 300}));
  keys_at({100, 200, 300});
  race_state().tic = 160;
  run("/rmkey");
  EXPECT_EQ(remaining(), (std::vector<int>{100, 300}));
  keys_at({100, 200, 300});
  race_state().tic = 50;  // before the first: the first
  run("/rmkey");
  EXPECT_EQ(remaining(), (std::vector<int>{200, 300}));
  keys_at({100, 200, 300});
  race_state().tic = 300;  // none later: the last
  run("/rmkey");
  EXPECT_EQ(remaining(), (std::vector<int>{100, 200}));
  keys_at({100});
  race_state().tic = 5000;
  run("/rmkey");
  EXPECT_EQ(keyframe_count(), 0);
}

TEST_F(ConsoleTest, KeyframeFilesUnderKeycam) {
  for (int t : {300, 100}) {
    CameraKeyframe k = {{1.5f, -2.25f, 3}, {0, 0.5f, 0, 0.8660254f}, 75.5f, t};
    add_keyframe(&k);
  }
  EXPECT_EQ(run("/writekeys flyby"), "Camera keys saved");
  EXPECT_EQ(read_text_file(root() + "keycam/flyby"),
            "1.5000 -2.2500 3.0000 0.0000 0.5000 0.0000 0.8660 75.50 100\n"
            "1.5000 -2.2500 3.0000 0.0000 0.5000 0.0000 0.8660 75.50 300\n");
  clear_keyframes();
  EXPECT_EQ(run("/readkeys flyby"), "Camera keys updated");
  ASSERT_EQ(keyframe_count(), 2);
  EXPECT_EQ(keyframes()[1].tic, 300);
  EXPECT_FLOAT_EQ(keyframes()[1].fov, 75.5f);

  // A bad line keeps what was read before it; the list is sorted by tic.
  write_text_file(root() + "keycam/broken", "0 0 0 0 0 0 1 90 500\n\n1 1 1 0 0 0 1 90 50\n1 2 3 4\n7 7 7 0 0 0 1 90 9\n");
  EXPECT_EQ(run("/readkeys broken"), "Error reading camera keys");
  ASSERT_EQ(keyframe_count(), 2);
  EXPECT_EQ(keyframes()[0].tic, 50);
  write_text_file(root() + "keycam/nan", "nan 0 0 0 0 0 1 90 5\n");
  EXPECT_EQ(run("/readkeys nan"), "Error reading camera keys");
  EXPECT_EQ(keyframe_count(), 0);
  EXPECT_EQ(run("/readkeys missing"), "Error reading camera keys");
  EXPECT_EQ(run("/writekeys"), "Error saving camera keys");
  EXPECT_EQ(run("/writekeys   "), "Error saving camera keys");
}

TEST_F(ConsoleTest, NamesNeverLeaveTheirFolder) {
  std::string outside = home + "/escaped";
  const char *lines[] = {"/writekeys ../../escaped", "/writekeys ..", "/writekeys a/b", "/writekeys a\\b",
                         "/writesetup ../../escaped", "/writesetup ..\\..\\escaped", "/readsetup ../config",
                         "/readkeys ../config"};
  for (const char *line : lines) {
    printed.clear();
    run(line);
    ASSERT_FALSE(printed.empty()) << line;
    bool refused = false;
    for (const std::string &m : printed) refused |= m == "Bad file name" || m == "Bad setup name";
    EXPECT_TRUE(refused) << line;
  }
  EXPECT_FALSE(file_exists(outside));
  EXPECT_FALSE(file_exists(root() + "escaped"));
  EXPECT_FALSE(file_exists(root() + "keycam/b"));
  // A plain name is fine.
  EXPECT_EQ(run("/writesetup mine"), "Setup written");
  EXPECT_TRUE(file_exists(root() + "setups/mine"));
}

namespace {

int dirty_calls, dirty_c1, dirty_r1;
void dirty(Terrain *, int c0, int r0, int c1, int r1) {
  dirty_calls++;
  dirty_c1 = c0 == 0 && r0 == 0 ? c1 : -1;
  dirty_r1 = r1;
}

}  // namespace

// Commands that look at the track and the viewed bike, on a shipped track.
TEST(ConsoleOnATrack, DecalsCameraAndPipe) {
  RobotScene scene("rabbithill");
  ASSERT_EQ(scene.reset(1, 1, 0), 1);
  console_reset();
  printed.clear();
  message_set_observer(observe);
  set_terrain_dirty_hook(dirty);
  dirty_calls = 0;
  Terrain *t = track_terrain();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->hide_decals, 0);
  EXPECT_EQ(run_console_line("/toggledecals"), 1);
  EXPECT_EQ(printed.back(), "Hide decals ON");
  EXPECT_EQ(t->hide_decals, 1);
  // The whole ground is composed again.
  EXPECT_EQ(dirty_calls, 1);
  EXPECT_EQ(dirty_c1, t->verts_per_side - 1);
  EXPECT_EQ(dirty_r1, t->verts_per_side - 1);
  run_console_line("/toggledecals");
  EXPECT_EQ(t->hide_decals, 0);
  set_terrain_dirty_hook(nullptr);

  EXPECT_EQ(run_console_line("/hfvol"), 1);
  double sum = 0;
  for (long k = 0; k < static_cast<long>(t->verts_per_side) * t->verts_per_side; k++) sum += t->heights[k];
  char expected[64];
  snprintf(expected, sizeof expected, "%f\n", sum);
  EXPECT_EQ(printed.back(), expected);

  EXPECT_EQ(run_console_line("/camangle 90 -10"), 1);
  EXPECT_EQ(printed.back(), "Camera aimed");
  EXPECT_NEAR(free_camera()->yaw, 1.5707964f, 1e-5);
  EXPECT_NEAR(free_camera()->pitch, -0.17453292f, 1e-6);
  EXPECT_EQ(run_console_line("/camangle 90"), 1);
  EXPECT_EQ(printed.back(), "Usage: camangle <yaw> <pitch>");
  // The race reset put the free camera 5 ft above the viewed bike.
  const Slot *viewed = race_slot(race_state().viewed_slot);
  EXPECT_NEAR(free_camera()->y, viewed->start_position[1] + 5, 1.0);
  EXPECT_EQ(run_console_line("/pipe 4 0.5 -0.5"), 1);
  EXPECT_EQ(printed.back(), "Pipe updated");
  message_set_observer(nullptr);
}
