// Recorded lines and the auto pilot: the lines file, planning geometry,
// personalities, robots on a track without lines, and line learning.
#include <gtest/gtest.h>
#include <ode/ode.h>

#include <cmath>
#include <string>

#include "bike/bike.h"
#include "ring_scene.h"
#include "robot_scene.h"

namespace {

// The race tests' ring track: six unmarked gates (twelve slot positions)
// and four start places; no lines files.
struct RingTrack : ring_scene::Track {
  int reset(int robots) {
    std::vector<int> kinds(max_slots, slot_kind_empty);
    for (int i = 0; i < robots; i++) kinds[static_cast<size_t>(i)] = slot_kind_robot;
    return race_reset(kinds.data(), 0, 0, 0, 3, 2);
  }
};

std::string point_text(float x, float z, float speed) {
  char line[120];
  snprintf(line, sizeof line, "[%f 5 %f] %f 0.1\n", x, z, speed);
  return line;
}

TEST(LinesFile, ReadsRecordsDropsBadOnesAndRoundTrips) {
  RingTrack track;
  ASSERT_EQ(track.reset(0), 1);
  ASSERT_EQ(line_slot_count(), 12);
  EXPECT_EQ(first_lap_slots(), 6);
  // Slot 0: a good record with outsized statistics, a record with a broken
  // point, another good one; slot 1: one record; the rest empty.
  std::string text = "ct03 12\n3\n3 500 900 70000 400 800 35000000 63000000 70000\n";
  text += point_text(1, 2, 30) + point_text(3, 4, 31) + point_text(5, 6, 32);
  text += "2 100 200 0 1000000 1000000 0 0 0\n" + point_text(1, 1, 1) + "[1 2 oops] 3 4\n";
  text += "2 600 1000 0 1000000 1000000 0 0 1\n" + point_text(7, 8, 20) + point_text(9, 10, -21);
  text += "1\n2 300 700 0 1000000 1000000 0 0 0\n" + point_text(11, 12, 25) + point_text(13, 14, 26);
  for (int s = 2; s < 12; s++) text += "0\n";
  ASSERT_EQ(read_lines_text(text.c_str(), static_cast<long>(text.size())), 1);
  EXPECT_EQ(line_in_use_count(0), 2);
  EXPECT_EQ(line_in_use_count(1), 1);
  const Line *a = line_record(0, 0), *b = line_record(0, 1);
  EXPECT_EQ(a->point_count, 3);
  EXPECT_FLOAT_EQ(a->points[2].x, 5);
  EXPECT_EQ(b->time1, 600);
  EXPECT_FLOAT_EQ(b->points[1].speed, -21);
  EXPECT_NE(a->serial, b->serial);
  // Statistics halved into range with their averages kept.
  EXPECT_LT(a->tested, 65536);
  EXPECT_LE(a->failed, 65535);
  EXPECT_NEAR(static_cast<double>(a->sum1) / a->tested, 500, 1);
  EXPECT_LE(a->sum2, 100000000);
  EXPECT_EQ(a->last_picked, line_never_picked);

  std::string path = track.root + "lines_copy";
  ASSERT_EQ(write_lines_file(path.c_str()), 1);
  std::string written = read_text_file(path);
  ASSERT_EQ(read_lines_text(written.c_str(), static_cast<long>(written.size())), 1);
  EXPECT_EQ(read_text_file(path), written);
  EXPECT_EQ(line_in_use_count(0), 2);
  EXPECT_EQ(line_record(1, 0)->time2, 700);

  // A file for another gate layout is ignored and leaves the table alone.
  std::string other = "ct03 5\n0\n0\n0\n0\n0\n";
  EXPECT_EQ(read_lines_text(other.c_str(), static_cast<long>(other.size())), 0);
  EXPECT_EQ(line_in_use_count(0), 2);
  EXPECT_EQ(read_lines_text("garbage", 7), 0);
}

TEST(Planning, ReferencePointAndConnectingLines) {
  // Three points on a circle of radius 20 round (100, 100).
  auto on_circle = [](float a, float speed) {
    return LinePoint{100 + 20 * std::cos(a), 0, 100 + 20 * std::sin(a), speed, 0};
  };
  float ref[3];
  reference_point(on_circle(0, 1), on_circle(0.3f, 1), on_circle(0.6f, 1), ref);
  EXPECT_NEAR(ref[0], 100, 1e-3);
  EXPECT_NEAR(ref[2], 100, 1e-3);
  // Collinear points: far out to the side.
  reference_point(LinePoint{0, 0, 0, 0, 0}, LinePoint{0, 0, 1, 0, 0}, LinePoint{0, 0, 2, 0, 0}, ref);
  EXPECT_GT(std::fabs(ref[0]), 1e5);

  LinePoint first[3] = {on_circle(0, 40), on_circle(0.3f, 40), on_circle(0.6f, 40)};
  LinePoint carry[2] = {on_circle(0.9f, 40), on_circle(1.2f, 40)};
  LinePoint off[2] = {on_circle(0.9f, 40), on_circle(1.2f, 40)};
  off[0].x += 10;
  LinePoint slow[2] = {on_circle(0.9f, 20), on_circle(1.2f, 20)};
  Line a{first, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  Line b{carry, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
  Line c{off, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3};
  Line d{slow, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4};
  EXPECT_EQ(lines_connect(&a, &b), 1);
  EXPECT_EQ(lines_connect(&a, &c), 0);  // starts off the circle
  EXPECT_EQ(lines_connect(&a, &d), 0);  // 20 ft/s slower than the end
  EXPECT_EQ(lines_connect(&b, &a), 0);  // fewer than three points

  // Costs: the exploring mode prefers lines tried least.
  Line fresh{first, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
  Line tried{first, 3, 0, 0, 9, 0, 0, 900, 1800, 0, 0, 6};
  EXPECT_LT(line_cost(&fresh, 3), line_cost(&tried, 3));
  EXPECT_EQ(line_cost(&fresh, 0), line_untimed);
  EXPECT_DOUBLE_EQ(line_cost(&tried, 0), 100);
}

TEST(AutoPilot, PersonalitiesAndATrackWithoutLines) {
  RingTrack track;
  ASSERT_EQ(track.reset(2), 1);
  ASSERT_EQ(line_in_use_count(0), 0);
  BikeState *bike = race_slot(0)->bike;
  ASSERT_NE(bike, nullptr);
  set_personality(bike, "tester");
  EXPECT_EQ(personality_of(0), 4);
  set_personality(bike, "nobody");
  EXPECT_EQ(personality_of(0), 1);
  EXPECT_EQ(bike->aid_flags & aid_auto_shift, aid_auto_shift);

  const RaceState &race = race_state();
  int staged = 0, launched = 0;
  while (race.tic < race.gate_drop_tic + 4 * tics_per_second) {
    race_step();
    const ControlInput &c = bike->controls;
    if (race.tic > tics_per_second && race.tic < race.gate_drop_tic - 1) {
      staged += c.front_brake == 1 && c.rear_brake == 1 && c.clutch == 0 && c.dab == 1;
      EXPECT_EQ(bike->aid_flags & aid_auto_shift, 0);
    }
    if (race.tic > race.gate_drop_tic && c.clutch > 0 && c.front_brake == 0) launched++;
  }
  EXPECT_EQ(staged, race.gate_drop_tic - 2 - tics_per_second);
  EXPECT_GT(launched, 10);
  // With no path the robot stops with the brakes on.
  EXPECT_EQ(autopilot_path_length(0), 0);
  EXPECT_EQ(bike->controls.front_brake, 1);
  EXPECT_EQ(bike->controls.rear_brake, 1);
  EXPECT_EQ(bike->controls.throttle, 0);
  EXPECT_EQ(bike->controls.dab, 1);
}

// The raised gates hold the staged robots on the grid; dropped, they let them
// ride away down the start straight.
TEST(AutoPilot, GatesHoldTheGridUntilTheyDrop) {
  RobotScene scene("rabbithill");
  ASSERT_EQ(scene.reset(4, 1, 2), 1);
  const RaceState &race = race_state();
  ASSERT_GT(race.start_gate_count, 0);
  while (race.tic < race.gate_drop_tic) race_step();
  for (int i = 0; i < 4; i++) {
    const Slot *s = race_slot(i);
    const dReal *p = dBodyGetPosition(s->bike->bodies[bike_frame]);
    double dx = p[0] - s->start_position[0], dz = p[2] - s->start_position[2];
    EXPECT_LT(dx * dx + dz * dz, 1.0) << "slot " << i;
    EXPECT_EQ(race.start_gates[i].angle, 1.0f);
  }
  while (race.tic < race.gate_drop_tic + 20 * tics_per_second) race_step();
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(race.start_gates[i].angle, 0.0f) << "gate " << i;
    // Down the start straight and through the first timing gate; riders
    // merging into one lane leave in turn, so not all at once.
    const Slot *s = race_slot(i);
    const dReal *p = dBodyGetPosition(s->bike->bodies[bike_frame]);
    EXPECT_GT(std::hypot(p[0] - s->start_position[0], p[2] - s->start_position[2]), 150) << "slot " << i;
    EXPECT_GE(s->timing.next_gate, 1) << "slot " << i;
  }
}

// Robots ride a while on the shipped track with the expert lines; the race
// reset that follows saves the lines only when learning is on.
std::string learnt_after_riding(int learn) {
  RobotScene scene("rabbithill");
  set_line_learning(learn);
  EXPECT_EQ(scene.reset(3, 1, 2), 1);
  EXPECT_GT(line_in_use_count(0), 0);
  const RaceState &race = race_state();
  while (race.tic < race.gate_drop_tic + 20 * tics_per_second) race_step();
  EXPECT_EQ(scene.reset(3, 1, 2), 1);
  std::string saved = scene.home + "/torvane/rabbithill/lines_expert";
  return file_exists(saved) ? read_text_file(saved) : std::string();
}

// Robots roll to a stop past the finish line; riders still racing pass
// through them, while two riders both racing (or both finished) collide.
TEST(AutoPilot, FinishedRidersPassThroughRidersStillRacing) {
  RobotScene scene("rabbithill");
  ASSERT_EQ(scene.reset(2, 3, 2), 1);
  RaceState &race = race_state();
  race.tic = race.gate_drop_tic + 10 * tics_per_second;
  BikeState *a = race_slot(0)->bike, *b = race_slot(1)->bike;
  ASSERT_TRUE(a && b);
  auto touched = [&]() {
    // Side by side, the frame of one 1.5 ft into the other.
    const dReal *pa = dBodyGetPosition(a->bodies[bike_frame]);
    const dReal *pb = dBodyGetPosition(b->bodies[bike_frame]);
    move_bike(b, pa[0] + 1.5 - pb[0], pa[1] - pb[1], pa[2] - pb[2]);
    int tic = race.tic;
    race_step();
    return a->last_collision_tic == tic && b->last_collision_tic == tic;
  };
  const int cases[][2] = {{1, 0}, {0, 1}, {1, 1}, {0, 0}};
  for (const auto &c : cases) {
    race_slot(0)->timing.finished = c[0];
    race_slot(1)->timing.finished = c[1];
    EXPECT_EQ(touched(), c[0] == c[1]) << c[0] << " " << c[1];
  }
}

TEST(LineLearning, SavedOnlyWhenLearningIsOn) {
  EXPECT_EQ(learnt_after_riding(0), "");
  std::string learnt = learnt_after_riding(1);
  ASSERT_NE(learnt, "");
  EXPECT_EQ(learnt.compare(0, 8, "ct03 42\n"), 0);
  // The riding changed the statistics: some line was tried or failed.
  bool rated = false;
  for (size_t at = learnt.find('\n'); at != std::string::npos && !rated; at = learnt.find('\n', at + 1)) {
    int n, t1, t2, tested, b1, b2, s1, s2, failed;
    if (sscanf(learnt.c_str() + at + 1, "%d %d %d %d %d %d %d %d %d", &n, &t1, &t2, &tested, &b1, &b2, &s1, &s2,
               &failed) == 9)
      rated = tested > 0 || failed > 0;
  }
  EXPECT_TRUE(rated);
}

}  // namespace
