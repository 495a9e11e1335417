// Timing gates: the file reader, the sequence mapping, and a bike riding a
// circular track through its gates.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "assets/file.h"
#include "platform/log.h"
#include "test_util.h"
#include "track/gates.h"
#include "track/objects.h"

namespace {

constexpr float ring = 100;  // radius of the test circuit, feet
constexpr float degree = 3.14159265f / 180;

void read_gates(const std::string &text, int add_statues = 0) {
  static std::string dir = make_temp_dir("gates");
  std::string path = dir + "/timing_gates";
  write_text_file(path, text);
  DataFile *f = dfile_open(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  timing_gates_read(f, add_statues);
  dfile_close(f);
}

// Checkpoints 0..3 at 0, 90, 180 and 270 degrees on the circle and 4 at 45,
// each facing along the circle (increasing angle). First lap 4 1 2 3 0,
// normal laps 1 2 3 0 with gate 2 marked.
std::string circuit() {
  std::string text = "startinggate:\n[100 0 -5] 0.5\n[100 0 -10] 7 a.hm null b.shp\ncheckpoints:\n";
  const float angles[] = {0, 90, 180, 270, 45};
  for (float a : angles) {
    float r = a * degree;
    char line[200];
    snprintf(line, sizeof line, "10 [%f 0 %f] [%f 0 %f]\n", ring * std::cos(r), ring * std::sin(r), -std::sin(r),
             std::cos(r));
    text += line;
  }
  return text + "firstlap:\n4 1 2 3 0\nnormallap:\n1 100002 3 0\n";
}

struct Rider {
  GateProgress progress = {};
  int tic = 0;
  std::vector<int> passed;
  ~Rider() { gate_progress_free(&progress); }

  // Rides from the current angle by `degrees` at half a degree per tic;
  // `radius_at` may steer the bike off the circle.
  template <typename F>
  void ride(float &angle, float degrees, F radius_at, int race_laps = 10) {
    for (float end = angle + degrees; angle < end; angle += 0.5f) {
      float r = radius_at(angle);
      int p = check_gates(&progress, r * std::cos(angle * degree), r * std::sin(angle * degree), tic, race_laps,
                          progress.next_gate);
      if (p >= 0) passed.push_back(p);
      tic++;
    }
  }
  void ride(float &angle, float degrees, int race_laps = 10) {
    ride(angle, degrees, [](float) { return ring; }, race_laps);
  }
};

}  // namespace

TEST(GatesFile, SectionsEntriesAndGrid) {
  free_track_objects();
  read_gates(circuit(), 1);
  const TimingGates *g = timing_gates();
  EXPECT_EQ(g->checkpoint_count, 5);
  EXPECT_EQ(g->gate_count, 5);
  EXPECT_EQ(g->first_lap_count, 5);
  EXPECT_EQ(g->normal_lap_count, 4);
  EXPECT_EQ(g->normal_lap_unmarked, 3);
  EXPECT_EQ(g->lap_entries[6], 100002);
  EXPECT_FLOAT_EQ(g->checkpoints[1].gate_radius, 10);
  EXPECT_NEAR(g->checkpoints[1].gate_centre[2], 100, 1e-4);

  ASSERT_EQ(g->grid_count, 2);
  EXPECT_FLOAT_EQ(g->grid[0].angle, 0.5f);
  EXPECT_NEAR(g->grid[1].angle, 7 - 2 * 3.14159265f, 1e-5);
  EXPECT_STREQ(g->grid[0].model, "@startgate.hm");
  EXPECT_STREQ(g->grid[0].shape, "@startgate.shp");
  EXPECT_STREQ(g->grid[1].model, "a.hm");
  EXPECT_EQ(g->grid[1].texture, nullptr);
  EXPECT_STREQ(g->grid[1].shape, "b.shp");
  // Start-gate statues stand three feet ahead along the start direction.
  ASSERT_EQ(statue_count(), 2);
  const Statue *s = track_statue(g->grid[0].statue);
  EXPECT_NEAR(s->x, 100 - 3 * std::sin(0.5f), 1e-4);
  EXPECT_NEAR(s->z, -5 - 3 * std::cos(0.5f), 1e-4);
  EXPECT_FLOAT_EQ(s->angle, 0.5f);

  // The sequence mapping, marker removed.
  EXPECT_EQ(gate_at_position(0), 4);
  EXPECT_EQ(gate_at_position(4), 0);
  EXPECT_EQ(gate_at_position(6), 2);
  EXPECT_TRUE(gate_is_marked(6));
  EXPECT_TRUE(gate_is_marked(10));
  EXPECT_FALSE(gate_is_marked(5));
  EXPECT_TRUE(gate_ends_lap(4));
  EXPECT_TRUE(gate_ends_lap(8));
  EXPECT_FALSE(gate_ends_lap(7));
  free_track_objects();
}

TEST(GatesFile, EntriesAreClampedAndListsLimited) {
  read_gates("checkpoints: 1 [0 0 0] [1 0 0] 1 [5 0 0] [1 0 0] 1 [9 0 0] [1 0 0]\n"
             "firstlap: 100003 -4 7 1 2\nnormallap: 0 1 2\n");
  const TimingGates *g = timing_gates();
  EXPECT_EQ(g->lap_entries[0], 100002);
  EXPECT_EQ(g->lap_entries[1], 0);
  EXPECT_EQ(g->lap_entries[2], 2);
  EXPECT_EQ(g->first_lap_unmarked, 4);
  EXPECT_EQ(g->gate_count, 3);

  // Only two normal-lap entries: no timing gates at all.
  read_gates("checkpoints: 1 [0 0 0] [1 0 0]\nfirstlap: 0 0 0\nnormallap: 0 0\n");
  EXPECT_EQ(timing_gates()->gate_count, 0);
  EXPECT_EQ(gate_at_position(3), -1);
  GateProgress p = {};
  EXPECT_EQ(check_gates(&p, 0, 0, 5, 3, 0), -1);
  EXPECT_EQ(lap_of(&p), 0);
  // Three entries but two of them marked: not enough unmarked ones.
  read_gates("checkpoints: 1 [0 0 0] [1 0 0]\nfirstlap: 0 0 0\nnormallap: 0 100000 100000\n");
  EXPECT_EQ(timing_gates()->gate_count, 0);

  // More than 256 entries in all: reading stops at 256.
  std::string text = "checkpoints: 1 [0 0 0] [1 0 0]\nfirstlap:";
  for (int k = 0; k < 200; k++) text += " 0";
  text += "\nnormallap:";
  for (int k = 0; k < 300; k++) text += " 0";
  text += "\nrubbish";
  message_clear();
  read_gates(text);
  EXPECT_EQ(timing_gates()->first_lap_count, 200);
  EXPECT_EQ(timing_gates()->normal_lap_count, 56);
  EXPECT_STREQ(message_line(0), "timing_gates warning: more than 256 lap entries, the rest ignored");
  EXPECT_STREQ(message_line(1), "");  // once per file

  // More than 160 grid positions and 256 checkpoints: the rest is dropped.
  text = "startinggate:\n";
  for (int k = 0; k < 200; k++) text += "[1 2 3] 0\n";
  text += "checkpoints:\n";
  for (int k = 0; k < 300; k++) text += "1 [0 0 0] [1 0 0]\n";
  text += "firstlap: 299 0 0\nnormallap: 0 0 0\n";
  read_gates(text);
  EXPECT_EQ(timing_gates()->grid_count, max_grid_positions);
  EXPECT_EQ(timing_gates()->checkpoint_count, 0);  // the grid's overflow line ends the file's sections
  EXPECT_STREQ(message_line(0), "timing_gates warning: more than 160 grid positions, the rest ignored");
  text = "checkpoints:\n";
  for (int k = 0; k < 300; k++) text += "1 [0 0 0] [1 0 0]\n";
  read_gates(text + "firstlap: 0 0 0\nnormallap: 0 0 0\n");
  EXPECT_EQ(timing_gates()->checkpoint_count, max_checkpoints);
  EXPECT_EQ(timing_gates()->gate_count, 0);
  EXPECT_STREQ(message_line(0), "timing_gates warning: more than 256 checkpoints, the rest ignored");
  // Junk of every kind reads as no gates, without harm.
  for (const char *junk : {"", "startinggate:", "checkpoints: 1 [", "firstlap: 1 2 3", "startinggate:\n[1 2",
                           "checkpoints:\n5 [1 2 3] [4 5 6]\nnormallap: 9 9 9 9"}) {
    read_gates(junk);
    EXPECT_EQ(timing_gates()->gate_count, 0) << junk;
  }
}

TEST(GatesFile, GridOverflowStillReadsCheckpoints) {
  std::string text = "startinggate:\n";
  for (int k = 0; k < 160; k++) text += "[1 2 3] 0\n";
  text += "checkpoints:\n1 [0 0 0] [1 0 0]\nfirstlap: 0 0 0\nnormallap: 0 0 0\n";
  read_gates(text);
  EXPECT_EQ(timing_gates()->grid_count, 160);
  EXPECT_EQ(timing_gates()->gate_count, 1);
}

TEST(GatesRide, LapsStampsAndLapTimes) {
  read_gates(circuit());
  Rider bike;
  float angle = -20.25f;
  bike.ride(angle, 3 * 360 + 30, 2);
  // Gate 4 (45 degrees) first, then 1, 2, 3, 0; then 1, 2, 3, 0 per lap.
  std::vector<int> expected;
  for (int k = 0; k < 13; k++) expected.push_back(k);
  EXPECT_EQ(bike.passed, expected);
  EXPECT_EQ(gate_tic(&bike.progress, 0), 131);  // the first tic at or past 45 degrees
  EXPECT_EQ(gate_tic(&bike.progress, 4), 761);
  EXPECT_EQ(gate_tic(&bike.progress, 8), 1481);
  EXPECT_EQ(lap_of(&bike.progress), 3);
  EXPECT_FLOAT_EQ(lap_time(&bike.progress, 1, 0), 761 / 128.0f);
  EXPECT_FLOAT_EQ(lap_time(&bike.progress, 2, 0), 720 / 128.0f);
  EXPECT_FLOAT_EQ(lap_time(&bike.progress, 1, 100), 661 / 128.0f);
  EXPECT_FLOAT_EQ(lap_time(&bike.progress, 4, 0), 0);  // not yet ridden
  // A race of two laps: finished when lap 2 ended, not after lap 1.
  EXPECT_TRUE(bike.progress.finished);

  // A three-lap race: after lap 2 a bike goes on while the leader has not
  // passed the final finish gate (position 12), and finishes at the end of
  // its current lap once the leader has.
  Rider alone, behind;
  float a1 = -20.25f;
  alone.ride(a1, 390, 3);
  EXPECT_EQ(lap_of(&alone.progress), 1);
  EXPECT_FALSE(alone.progress.finished);
  for (int p = 0; p < alone.progress.gate_tic_count; p++) gate_stamp(&behind.progress, p, alone.progress.gate_tics[p]);
  behind.progress.next_gate = alone.progress.next_gate;
  float a2 = a1;
  alone.ride(a1, 360, 3);
  EXPECT_EQ(lap_of(&alone.progress), 2);
  EXPECT_FALSE(alone.progress.finished);
  for (float end = a2 + 360; a2 < end; a2 += 0.5f) {
    float r = a2 * degree;
    check_gates(&behind.progress, ring * std::cos(r), ring * std::sin(r), 2000, 3, 13);
  }
  EXPECT_EQ(lap_of(&behind.progress), 2);
  EXPECT_TRUE(behind.progress.finished);
}

TEST(GatesRide, SkippedGatesAndFinishGates) {
  read_gates(circuit());
  // Around gate 1 (90 degrees) but through gate 2: gate 1 keeps -1.
  Rider bike;
  float angle = -20.25f;
  bike.ride(angle, 300, [](float a) { return std::fabs(a - 90) < 12 ? ring + 30 : ring; });
  EXPECT_EQ(gate_tic(&bike.progress, 1), -1);
  EXPECT_GT(gate_tic(&bike.progress, 2), 0);
  EXPECT_EQ(bike.progress.next_gate, 4);

  // Riding on through the finish and gate 1 of lap 2: the skipped
  // position keeps its -1.
  bike.ride(angle, 180);
  EXPECT_EQ(bike.progress.next_gate, 6);
  EXPECT_EQ(gate_tic(&bike.progress, 1), -1);
  EXPECT_EQ(lap_of(&bike.progress), 1);

  // Around the finish gate (360 degrees): gate 1 of the next lap does not count.
  Rider other;
  angle = -20.25f;
  other.ride(angle, 480, [](float a) { return std::fabs(a - 360) < 12 ? ring + 30 : ring; });
  EXPECT_EQ(other.progress.next_gate, 4);
  EXPECT_EQ(gate_tic(&other.progress, 5), -1);
  // Coming back through the finish gate picks the bike up again.
  angle = 350;
  other.ride(angle, 15);
  EXPECT_EQ(other.progress.next_gate, 5);

  // A bike through a gate's circle on the wrong side is not counted until
  // it is on the direction's side.
  GateProgress p = {};
  float c = 100 * std::cos(45 * degree), s = 100 * std::sin(45 * degree);
  float dir[2] = {-std::sin(45 * degree), std::cos(45 * degree)};
  EXPECT_EQ(check_gates(&p, c - 3 * dir[0], s - 3 * dir[1], 1, 3, 0), -1);
  EXPECT_EQ(check_gates(&p, c + 3 * dir[0], s + 3 * dir[1], 2, 3, 0), 0);
  EXPECT_EQ(p.next_gate, 1);
  gate_progress_free(&p);
}

TEST(GatesRide, BackingUpAndPlacement) {
  read_gates(circuit());
  Rider bike;
  float angle = -20.25f;
  bike.ride(angle, 300, [](float a) { return std::fabs(a - 180) < 12 ? ring + 30 : ring; });
  // Gate 2 (position 2) was skipped; gate 3 counted.
  EXPECT_EQ(gate_tic(&bike.progress, 2), -1);
  EXPECT_EQ(bike.progress.next_gate, 4);
  // Backing up through gate 1 (stamped) does nothing; through gate 2
  // (missed) it is picked up, two back from the next gate.
  int stamp1 = gate_tic(&bike.progress, 1);
  for (float a = 265; a > 80; a -= 0.5f) {
    float r = a * degree;
    // Driving backwards, the direction test holds only while past each centre.
    check_gates(&bike.progress, ring * std::cos(r), ring * std::sin(r), 5000, 3, 0);
  }
  EXPECT_EQ(gate_tic(&bike.progress, 1), stamp1);
  EXPECT_EQ(gate_tic(&bike.progress, 2), 5000);
  EXPECT_EQ(bike.progress.next_gate, 3);

  // Placing the bike drops the later stamps.
  set_next_gate(&bike.progress, 2);
  EXPECT_EQ(bike.progress.gate_tic_count, 2);
  EXPECT_EQ(gate_tic(&bike.progress, 2), -1);
  gate_stamp(&bike.progress, 6, 77);
  EXPECT_EQ(gate_tic(&bike.progress, 5), -1);
  EXPECT_EQ(gate_tic(&bike.progress, 6), 77);
  // A position from nowhere is refused rather than allocated.
  gate_stamp(&bike.progress, 2000000000, 1);
  EXPECT_EQ(bike.progress.gate_tic_count, 7);
}

TEST(GatesRide, LapArithmetic) {
  // F = 4, N = 3: the final finish gate of a 2-lap race is position 6, and
  // a bike at position 7 has completed two laps.
  read_gates("checkpoints: 1 [0 0 0] [1 0 0] 1 [9 0 0] [1 0 0] 1 [20 0 0] [1 0 0] 1 [30 0 0] [1 0 0]\n"
             "firstlap: 3 0 1 2\nnormallap: 0 1 2\n");
  GateProgress p = {};
  for (int k = 0; k < 6; k++) gate_stamp(&p, k, k);
  set_next_gate(&p, 7);
  EXPECT_EQ(lap_of(&p), 2);
  set_next_gate(&p, 6);
  EXPECT_EQ(lap_of(&p), 1);
  EXPECT_TRUE(gate_ends_lap(3));
  EXPECT_TRUE(gate_ends_lap(6));
  EXPECT_FALSE(gate_ends_lap(5));
  // Passing position 6 (checkpoint 2 at x = 20) ends the race of 2 laps.
  EXPECT_EQ(check_gates(&p, 20.5f, 0, 10, 2, 6), 6);
  EXPECT_TRUE(p.finished);
  EXPECT_EQ(lap_of(&p), 2);
  gate_progress_free(&p);
}
