// The HUD: gaps on the pitboard, in the results table and on the ticker,
// the lapping warning, penalty lines, the race length of the title, the
// suspension graph rings, the loading screen's delay record, and the
// tachometer needle drawn into a real frame buffer.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "bike/suspension.h"
#include "gl_fixture.h"
#include "render/view.h"
#include "timing_scene.h"
#include "ui/hud.h"
#include "ui/loading.h"
#include "ui/text.h"

namespace {

int even_gap(int) { return 1000; }
int fast_gap(int) { return 700; }
int faster_gap(int) { return 500; }
int uneven_gap(int p) {
  if (p < 4) return 1000;
  return (p - 4) % 3 == 1 ? 3000 : 1000;
}

const RunningEntry *order() { return race_state().running_order; }
int count() { return race_state().running_count; }

}  // namespace

TEST(HudGaps, FewerThanTwoRidersGiveZero) {
  Timing timing;
  Timing::add(0, "1");
  Timing::ride(0, 0, 5, 0, even_gap);
  ASSERT_EQ(count(), 1);
  EXPECT_EQ(pitboard_gap(order(), count(), 0), 0.0f);
  EXPECT_EQ(table_gap(order(), count(), 0), 0.0f);
  EXPECT_EQ(gap_to_first(order(), count(), 0), 0.0f);
  char text[32];
  snprintf(text, sizeof text, "%+.1f ", pitboard_gap(order(), count(), 0));
  EXPECT_STREQ(text, "+0.0 ");
}

TEST(HudGaps, LeaderSeesItsLeadOthersTheirDeficit) {
  Timing timing;
  Timing::add(0, "1");
  Timing::add(1, "2");
  Timing::add(2, "3");
  // Slot 0 leads; slot 1 passes every gate 256 tics (2 s) later, slot 2
  // another 1.5 s later but one gate behind.
  Timing::ride(0, 0, 5, 0, even_gap);
  Timing::ride(1, 0, 5, 256, even_gap);
  Timing::ride(2, 0, 4, 256 + 192, even_gap);
  ASSERT_EQ(count(), 3);
  ASSERT_EQ(order()[0].slot, 0);
  ASSERT_EQ(order()[2].slot, 2);
  EXPECT_FLOAT_EQ(pitboard_gap(order(), count(), 0), 2.0f) << "the leader compares with the second";
  EXPECT_FLOAT_EQ(pitboard_gap(order(), count(), 1), -2.0f);
  // Different positions: both at the last gate both have passed (index 4).
  EXPECT_FLOAT_EQ(pitboard_gap(order(), count(), 2), -1.5f);
  // The table: each row against the row above; the first row shows 0.
  EXPECT_FLOAT_EQ(table_gap(order(), count(), 0), 0.0f);
  EXPECT_FLOAT_EQ(table_gap(order(), count(), 1), 2.0f);
  EXPECT_FLOAT_EQ(table_gap(order(), count(), 2), 1.5f);
  // The ticker: always against the first entry.
  EXPECT_FLOAT_EQ(gap_to_first(order(), count(), 2), 3.5f);
  EXPECT_FLOAT_EQ(gap_to_first(order(), count(), 0), 0.0f);
}

TEST(HudGaps, MissingStampsGiveZero) {
  Timing timing;
  Timing::add(0, "1");
  Timing::add(1, "2");
  Timing::ride(0, 0, 5, 0, even_gap);
  Timing::ride(1, 0, 3, 100, even_gap, 2);  // index 2 missed
  // Positions 6 and 4: compared at index 3, which both have.
  EXPECT_NE(pitboard_gap(order(), count(), 1), 0.0f);
  // A rider with no timing at all (tic 0) against the leader.
  Timing::add(2, "3");
  update_running_order();
  ASSERT_EQ(order()[2].slot, 2);
  EXPECT_EQ(pitboard_gap(order(), count(), 2), 0.0f);
  EXPECT_EQ(table_gap(order(), count(), 2), 0.0f);
}

// First lap 4 gates, normal laps 3 (the timing scene): the leader, a lap
// up, comes through the gate the viewed rider passed moments before.
TEST(HudLapping, ListsRidersALapUpCloseBehind) {
  Timing timing;
  Timing::add(0, "11");
  Timing::add(1, "22");
  Timing::add(2, "33");
  char text[1024];
  // Viewed: slot 1, at position 6 (index 5 passed at 6000).
  Timing::ride(1, 0, 5, 0, even_gap);
  // Slot 0 a lap up: index 8 (= 5 + 3) passed 2 s after slot 1 passed 5.
  Timing::ride(0, 0, 7, 0, fast_gap);  // index 7 at 5600
  Timing::pass(0, 8, 6000 + 256);
  int p = 1;
  ASSERT_EQ(order()[0].slot, 0);
  ASSERT_EQ(order()[1].slot, 1);
  EXPECT_GT(lapping_text(order(), count(), p, text, sizeof text), 0);
  EXPECT_STREQ(text, " 11 (2.0) ");
  // 3 s is still listed, more is not.
  Timing::pass(0, 8, 6000 + 384);
  lapping_text(order(), count(), p, text, sizeof text);
  EXPECT_STREQ(text, " 11 (3.0) ");
  Timing::pass(0, 8, 6000 + 385);
  EXPECT_EQ(lapping_text(order(), count(), p, text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  // The same gate at the same tic is not "behind".
  Timing::pass(0, 8, 6000);
  EXPECT_EQ(lapping_text(order(), count(), p, text, sizeof text), 0);
}

TEST(HudLapping, NeedsTheFirstLapAndARecentGate) {
  Timing timing;
  Timing::add(0, "11");
  Timing::add(1, "22");
  char text[1024];
  // Viewed rider still on its first lap (position 3 < 4).
  Timing::ride(1, 0, 2, 0, even_gap);
  Timing::ride(0, 0, 5, 0, fast_gap);  // position 6
  EXPECT_EQ(lapping_text(order(), count(), 1, text, sizeof text), 0);
  // The viewed rider's own latest timing more than 15 s after that gate.
  Timing::ride(1, 3, 5, 3000, even_gap);    // position 6, index 5 at 6000
  Timing::ride(0, 6, 7, 4200, fast_gap);    // index 7 at 5600
  Timing::pass(0, 8, 6000 + 128);           // the leader 1 s behind at the same gate
  ASSERT_GT(lapping_text(order(), count(), 1, text, sizeof text), 0);
  Timing::pass(1, 6, 6000 + 15 * 128 + 1);
  ASSERT_EQ(order()[1].slot, 1);
  EXPECT_EQ(lapping_text(order(), count(), 1, text, sizeof text), 0);
  // The leader itself never gets a bar, nor a list of one.
  EXPECT_EQ(lapping_text(order(), count(), 0, text, sizeof text), 0);
  EXPECT_EQ(lapping_text(order(), 1, 0, text, sizeof text), 0);
}

TEST(HudLapping, TwoLapsUpAndSeveralRiders) {
  Timing timing;
  Timing::add(0, "1");
  Timing::add(1, "2");
  Timing::add(2, "3");
  char text[1024];
  Timing::ride(2, 0, 5, 0, even_gap);              // viewed: index 5 at 6000
  Timing::ride(0, 0, 10, 0, faster_gap);  // index 11 (5 + 2 laps) ...
  Timing::pass(0, 11, 6000 + 64);          // ... half a second later
  Timing::ride(1, 0, 7, 0, fast_gap);      // index 8 (5 + 1 lap) ...
  Timing::pass(1, 8, 6000 + 320);          // ... 2.5 s later
  ASSERT_EQ(order()[2].slot, 2);
  lapping_text(order(), count(), 2, text, sizeof text);
  EXPECT_STREQ(text, " 1 (0.5)  2 (2.5) ");
}

TEST(HudPenalties, CutsAndLostLaps) {
  Timing timing;
  RaceState &race = race_state();
  Timing::add(0, "1");
  Timing::add(1, "2");
  // Slot 1 skips index 8 and gains more than its best lap: one lap fewer and
  // 1128 tics of penalty left (the running order's own rule).
  Timing::ride(0, 0, 15, 0, uneven_gap);
  Timing::ride(1, 0, 15, 10, uneven_gap, 8, 3000);
  ASSERT_TRUE(race.results_final);
  ASSERT_EQ(order()[1].slot, 1);
  char text[256];
  EXPECT_EQ(penalty_line(order()[0], text, sizeof text), 0) << "a clean rider has no line";
  EXPECT_GT(penalty_line(order()[1], text, sizeof text), 0);
  EXPECT_STREQ(text, "  2 penalized 1 lap 8.81 seconds for cutting track");
  // Two whole laps lost and time left.
  RunningEntry entry = order()[1];
  entry.position -= 3;
  penalty_line(entry, text, sizeof text);
  EXPECT_STREQ(text, "  2 penalized 2 laps 8.81 seconds for cutting track");
  // Whole laps lost with no time left over: not listed.
  entry.tic -= entry.penalty;
  EXPECT_EQ(penalty_line(entry, text, sizeof text), 0);
}

TEST(HudPenalties, TimeOnly) {
  Timing timing;
  Timing::add(0, "1");
  Timing::add(1, "42");
  int t = Timing::ride(1, 0, 7, 5, uneven_gap);
  Timing::pass(1, 9, t + 3616);
  Timing::ride(1, 10, 15, t + 3616, uneven_gap);
  Timing::ride(0, 0, 15, 0, uneven_gap);
  ASSERT_TRUE(race_state().results_final);
  char text[256];
  const RunningEntry *cut = order()[0].slot == 1 ? &order()[0] : &order()[1];
  penalty_line(*cut, text, sizeof text);
  EXPECT_STREQ(text, " 42 penalized 4.00 seconds for cutting track");
  char small[8];
  penalty_line(*cut, small, sizeof small);
  EXPECT_STREQ(small, " 42 pen") << "cut to the buffer, terminated";
}

TEST(HudText, RaceLength) {
  char text[64];
  race_length_text(text, sizeof text, 0, 8);
  EXPECT_STREQ(text, "8 laps");
  race_length_text(text, sizeof text, 10 * 60 * 128, 0);
  EXPECT_STREQ(text, "10 minutes");
  race_length_text(text, sizeof text, 10 * 60 * 128, 2);
  EXPECT_STREQ(text, "10 minutes + 2 laps");
  race_length_text(text, sizeof text, static_cast<int>(89.5 * 128), 0);
  EXPECT_STREQ(text, "1 minutes");
  race_length_text(text, sizeof text, 90 * 128, 0);
  EXPECT_STREQ(text, "2 minutes");
  race_length_text(text, sizeof text, 90 * 128 - 1, 0);
  EXPECT_STREQ(text, "1 minutes");
}

TEST(HudText, NeedleAngles) {
  EXPECT_FLOAT_EQ(needle_degrees(0), -135);
  EXPECT_FLOAT_EQ(needle_degrees(8000), 0);
  EXPECT_FLOAT_EQ(needle_degrees(16000), 135);
}

TEST(HudGraph, RingsKeepTheNewestSamples) {
  Timing timing;
  Timing::add(0, "1");
  BikeState *bike = race_slot(0)->bike;
  clear_suspension_graph();
  EXPECT_EQ(suspension_graph_value(ring_fork_position, 0), 0.0f);
  sample_suspension_graph(nullptr);  // no bike: nothing stored
  for (int i = 0; i < suspension_graph_samples + 5; i++) sample_suspension_graph(bike);
  SuspensionReading r = suspension_reading(bike);
  EXPECT_EQ(suspension_graph_value(ring_fork_position, 0), r.fork_fraction);
  EXPECT_EQ(suspension_graph_value(ring_shock_blend, suspension_graph_samples - 1), r.shock_blend);
  EXPECT_EQ(suspension_graph_value(ring_fork_position, suspension_graph_samples), 0.0f) << "outside the ring";
  clear_suspension_graph();
  EXPECT_EQ(suspension_graph_value(ring_rear_position, 3), 0.0f);
}

TEST(HudLoading, KeepsTheLongestGapAndWhatWasShownBeforeIt) {
  loading_set_window(nullptr, nullptr);
  loading_delay_reset();
  show_loading("Loading terrain");
  usleep(60000);
  show_loading("Loading terrain...done");
  usleep(5000);
  show_loading_done("Scanning");
  EXPECT_GE(loading_max_delay(), 0.055);
  EXPECT_LT(loading_max_delay(), 1.0);
  EXPECT_STREQ(loading_max_delay_text(), "Loading terrain");
  loading_delay_reset();
  EXPECT_EQ(loading_max_delay(), 0.0);
  EXPECT_STREQ(loading_max_delay_text(), "");
}

class TachometerTest : public GlTest {
 protected:
  TachometerTest() {
    width = 512;
    height = 512;
  }
};

// Without the dial picture only the needle draws: sample the three
// directions half way along it and see which one is red.
TEST_F(TachometerTest, NeedlePointsWhereTheRpmSays) {
  set_projection(width, height, 90);  // a square window: xext = yext = 1
  const ViewExtents &v = view_extents();
  ASSERT_NEAR(v.xext, 1.0f, 1e-6);
  ASSERT_NEAR(v.yext, 1.0f, 1e-6);
  float half = 0.2334f * (height / 2.0f);  // the dial's half-size in pixels
  float cx = width - half, cy = half;      // bottom-right corner, from the bottom
  struct Case {
    float rpm;
    float degrees;  // clockwise from straight up
  } cases[] = {{0, -135}, {8000, 0}, {16000, 135}};
  for (const Case &c : cases) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    draw_tachometer(c.rpm, 0);
    std::vector<unsigned char> px = read_pixels();
    for (const Case &probe : cases) {
      float a = probe.degrees * 3.14159265f / 180;
      int x = static_cast<int>(std::lround(cx + 0.45f * half * std::sin(a)));
      int y = static_cast<int>(std::lround(cy + 0.45f * half * std::cos(a)));
      const unsigned char *p = &px[(static_cast<size_t>(y) * width + x) * 3];
      if (probe.rpm == c.rpm) {
        EXPECT_NEAR(p[0], 191, 3) << c.rpm << " rpm: the needle is dark red along " << probe.degrees;
        EXPECT_EQ(p[1], 0);
      } else {
        EXPECT_EQ(p[0], 0) << c.rpm << " rpm: nothing along " << probe.degrees;
      }
    }
    // The tip reaches three quarters of the half-size, not beyond.
    float a = c.degrees * 3.14159265f / 180;
    int x = static_cast<int>(std::lround(cx + 0.85f * half * std::sin(a)));
    int y = static_cast<int>(std::lround(cy + 0.85f * half * std::cos(a)));
    EXPECT_EQ(px[(static_cast<size_t>(y) * width + x) * 3], 0) << c.rpm << " rpm: past the tip";
  }
}
