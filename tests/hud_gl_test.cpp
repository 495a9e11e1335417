// The HUD drawn with the data set's font and pictures into a 1280 x 720
// frame buffer: the results table keeps to its box, the lapping bar spans
// the bottom line only when a rider is about to lap, the ticker and lap
// board sit at the top, and a bigger map keeps its dots' size. With TORVANE_HUD_SHOTS set to a directory, each
// frame is also written there as a PNG to look at.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/config.h"
#include "assets/file.h"
#include "assets/image.h"
#include "gl_fixture.h"
#include "render/view.h"
#include "race/race_replay.h"
#include "timing_scene.h"
#include "track/terrain.h"
#include "track/track.h"
#include "ui/hud.h"
#include "ui/text.h"

namespace {

int even_gap(int) { return 1000; }
int fast_gap(int) { return 700; }
int uneven_gap(int p) {
  if (p < 4) return 1000;
  return (p - 4) % 3 == 1 ? 3000 : 1000;
}

struct Rgb {
  int r, g, b;
};

}  // namespace

class HudDrawTest : public GlTest {
 protected:
  std::string base;
  std::vector<unsigned char> px;

  HudDrawTest() {
    width = 1280;
    height = 720;
  }

  void SetUp() override {
    GlTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // One copy of the archive for the whole program (the file layer lists
    // regular files only).
    static std::string data_dir;
    if (data_dir.empty()) {
      data_dir = make_temp_dir("hud-data");
      write_text_file(data_dir + "/torvane.saf", read_text_file(TORVANE_BIN_DIR "/torvane.saf"));
    }
    base = data_dir;
    setenv("QX_HOME", base.c_str(), 1);
    setenv("XDG_DATA_HOME", (base + "/home").c_str(), 1);
    file_layer_reset_for_tests();
    file_list();  // the index over the archive
    load_fonts();
    ASSERT_NE(font(font_text)->texture, 0u) << "the data set's font";
    load_hud_textures();
    set_projection(width, height, 90);
    message_clear();
    glClearColor(0.5f, 0.5f, 0.5f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
  }

  void TearDown() override {
    free_fonts();
    unsetenv("QX_HOME");
    unsetenv("XDG_DATA_HOME");
    file_layer_reset_for_tests();
    GlTest::TearDown();
  }

  void grab(const char *name) {
    px = read_pixels();
    if (const char *dir = getenv("TORVANE_HUD_SHOTS")) {
      std::string path = std::string(dir) + "/" + name + ".png";
      png_write_rgb(path.c_str(), px.data(), width, height);
    }
  }
  // y counted from the top of the screen.
  Rgb at(int x, int y) const {
    const unsigned char *p = &px[(static_cast<size_t>(height - 1 - y) * width + x) * 3];
    return {p[0], p[1], p[2]};
  }
  bool background(int x, int y) const {
    Rgb c = at(x, y);
    return std::abs(c.r - 128) <= 1 && std::abs(c.g - 128) <= 1 && std::abs(c.b - 128) <= 1;
  }
};

TEST_F(HudDrawTest, ResultsTableKeepsToItsBox) {
  Timing timing;
  Timing::add(0, "1");
  Timing::add(1, "2");
  Timing::add(2, "123");
  Timing::ride(0, 0, 15, 0, uneven_gap);
  Timing::ride(1, 0, 15, 10, uneven_gap, 8, 3000);  // cuts: a lap and 8.81 s
  Timing::ride(2, 0, 15, 300, uneven_gap);
  ASSERT_TRUE(race_state().results_final);
  HudFrame frame = {hud_view_rider, 0, 1, 0, 0, nullptr};
  draw_text_hud(frame);
  grab("results");
  // A line is 720 / 50 = 14.4 pixels; the table runs from 0.25 to 19.25.
  const float unit = height / 50.0f;
  int right = 0, bottom = 0;
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++)
      if (!background(x, y)) {
        right = std::max(right, x);
        bottom = std::max(bottom, y);
      }
  EXPECT_LE(right, static_cast<int>(19.25f * unit) + 1) << "nothing outside the table's width";
  EXPECT_GE(right, static_cast<int>(18 * unit)) << "the best-lap column reaches the right edge";
  // Title and heads, three rows, the total time and one penalty line at half size.
  EXPECT_GT(bottom, static_cast<int>(6 * unit));
  EXPECT_LT(bottom, static_cast<int>(8.5f * unit));
  // The header box darkens the background behind the title.
  Rgb header = at(static_cast<int>(1 * unit), static_cast<int>(0.5f * unit));
  EXPECT_LT(header.r, 110);
}

TEST_F(HudDrawTest, LappingBarOnlyWhenSomeoneIsAboutToLap) {
  Timing timing;
  Timing::add(0, "11");
  Timing::add(1, "22");
  Timing::ride(1, 0, 5, 0, even_gap);  // index 5 at 6000
  Timing::ride(0, 0, 7, 0, fast_gap);
  Timing::pass(0, 8, 6000 + 256);  // a lap up, 2 s behind at the same gate
  draw_rider_gauges(1);
  grab("pitboard_lapping");
  // The bar: the bottom thirtieth of the screen, blue at half alpha over grey.
  for (int x : {2, 640, 1000}) {
    Rgb c = at(x, height - 4);
    EXPECT_GT(c.b, c.r + 40) << "x " << x;
  }
  EXPECT_TRUE(background(1000, height - 30)) << "only one line tall";
  glClear(GL_COLOR_BUFFER_BIT);
  draw_rider_gauges(0);  // the leader: nobody ahead
  grab("pitboard_leader");
  EXPECT_TRUE(background(1000, height - 4));
  // The pitboard picture sits in the bottom-left corner, the dial in the
  // bottom-right one.
  EXPECT_FALSE(background(100, height - 100));
  EXPECT_FALSE(background(width - 80, height - 80));
  EXPECT_TRUE(background(640, 360));
}

TEST_F(HudDrawTest, TickerAndLapBoard) {
  Timing timing;
  Timing::add(0, "11");
  Timing::add(1, "22");
  Timing::add(2, "33");
  race_slot(0)->name = "Ada";
  Timing::ride(0, 0, 5, 0, even_gap);
  Timing::ride(1, 0, 5, 200, even_gap);
  Timing::ride(2, 0, 4, 300, even_gap);
  draw_broadcast_overlay(0);  // the strip unshifted, the first cell the leader's
  grab("ticker");
  const float unit = height / 40.0f;
  // The cells' black boxes over the top two lines.
  Rgb strip = at(static_cast<int>(0.5f * unit), static_cast<int>(1.5f * unit));
  EXPECT_LT(strip.r + strip.g + strip.b, 30);
  // The number box is white, the lap board green (lap 2 of 5).
  Rgb number = at(static_cast<int>(3.1f * unit), static_cast<int>(0.5f * unit));
  EXPECT_GT(number.r + number.g + number.b, 600);
  float w = 40 * view_extents().xext / view_extents().yext;
  Rgb board = at(static_cast<int>((w - 4.8f) * unit), static_cast<int>(2.4f * unit));  // below the ticker
  EXPECT_GT(board.g, 200);
  EXPECT_LT(board.r, 60);
  EXPECT_TRUE(background(640, 360));
}

// A bigger map keeps the riders' dots the size they were on the screen.
TEST_F(HudDrawTest, MapScaleGrowsTheMapNotTheDots) {
  track_set_root("@");
  ASSERT_GT(scan_tracks(), 0);
  ASSERT_EQ(load_track("rabbithill"), 1);
  ASSERT_NE(track_map_texture(), 0u);
  Timing timing;  // its own gates replace the track's; the map stays
  Timing::add(0, "1");
  float extent = track_terrain()->extent;
  place_bike(race_slot(0)->bike, extent / 2, extent / 2, 0);
  update_running_order();  // one entry: the leader's green dot
  race_connect_replay();   // riders count as shown
  race_state().tic = 10 * tics_per_second;  // past the race title
  float saved = game_settings().map_scale;
  int side[2], dot[2];
  for (int k = 0; k < 2; k++) {
    game_settings().map_scale = k == 0 ? 1.0f : 2.0f;
    glClear(GL_COLOR_BUFFER_BIT);
    draw_rider_gauges(-1);  // no viewed bike: the map and its dots only
    grab(k == 0 ? "map_scale1" : "map_scale2");
    // The picture is clear off the track: its left-most drawn column.
    int x = width;
    for (int y = 0; y < height / 2; y++)
      for (int xx = 0; xx < x; xx++)
        if (!background(xx, y)) x = xx;
    side[k] = width - x;
    // The dot at the middle of the map: black rim and green centre.
    int square = static_cast<int>(game_settings().map_scale * 0.4668f * height / 2);
    int cx = width - square / 2, cy = square / 2, count = 0;
    for (int y = cy - 12; y <= cy + 12; y++)
      for (int xx = cx - 12; xx <= cx + 12; xx++) {
        Rgb c = at(xx, y);
        if (c.r < 8 && c.b < 8 && (c.g < 8 || c.g > 247)) count++;
      }
    dot[k] = count;
  }
  game_settings().map_scale = saved;
  free_track();
  // The map grows from the top-right corner.
  EXPECT_GT(side[0], 0.5f * 0.4668f * height / 2);
  EXPECT_LE(side[0], 0.4668f * height / 2 + 1);
  EXPECT_NEAR(side[1], 2 * side[0], 3);
  EXPECT_GE(dot[0], 16) << "the dot is there";
  EXPECT_NEAR(dot[1], dot[0], dot[0] / 3.0) << "and keeps its size";
}

// Leaning 60 degrees against the ground fills the left quarter ring in red;
// 20 degrees shows a short black segment from the left.
TEST_F(HudDrawTest, LeanIndicatorTurnsRedPastThirtySixDegrees) {
  track_set_root("@");
  ASSERT_GT(scan_tracks(), 0);
  ASSERT_EQ(load_track("rabbithill"), 1);
  Timing timing;
  Timing::add(0, "1");
  race_state().tic = 10 * tics_per_second;
  BikeState *bike = race_slot(0)->bike;
  float extent = track_terrain()->extent;
  place_bike(bike, extent / 2, extent / 2, 0);
  int saved = setup_settings().lean_indicator.selected;
  setup_settings().lean_indicator.selected = 1;
  const float pi = 3.14159265f;
  // A point of the ring (radii 0.5 .. 1 of 0.9336 yext) at 0.85 of the
  // outer radius, `degrees` clockwise from straight up.
  auto ring = [&](float degrees) {
    float r = 0.85f * 0.9336f * height / 2, a = degrees * pi / 180;
    return at(static_cast<int>(width / 2 + r * std::sin(a)), static_cast<int>(height / 2 - r * std::cos(a)));
  };
  for (float lean : {60.0f, 20.0f}) {
    dMatrix3 rotation;
    dRFromAxisAndAngle(rotation, 0, 0, 1, lean * pi / 180);
    dBodySetRotation(bike->bodies[bike_frame], rotation);
    glClear(GL_COLOR_BUFFER_BIT);
    draw_rider_gauges(0);
    grab(lean > 30 ? "lean60" : "lean20");
    if (lean > 30) {
      Rgb c = ring(-70);
      EXPECT_GT(c.r, c.g + 25) << "red inside the segment";
      EXPECT_TRUE(background(static_cast<int>(width / 2 + 0.85f * 0.9336f * height / 2 * std::sin(70 * pi / 180)),
                             static_cast<int>(height / 2 - 0.85f * 0.9336f * height / 2 * std::cos(70 * pi / 180))))
          << "nothing on the right";
    } else {
      Rgb c = ring(-85);
      EXPECT_LT(c.r, 120) << "darkened";
      EXPECT_NEAR(c.r, c.g, 3) << "black, not red";
      Rgb clear = ring(-40);
      EXPECT_NEAR(clear.r, 128, 1) << "the segment ends near the lean";
    }
  }
  setup_settings().lean_indicator.selected = saved;
  free_track();
}
