// The race reset and the race step on a small track written by the test: a
// flat field with a ring of six timing gates. Bikes are moved along the ring
// by a test driver that places them each tic (the gate step and everything
// after it then runs as in a real race).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/random.h"
#include "assets/file.h"
#include "bike/assembly.h"
#include "bike/bike.h"
#include "platform/log.h"
#include "race/race.h"
#include "replay/demo.h"
#include "race/results.h"
#include "race/roster.h"
#include "race/running_order.h"
#include "robot/autopilot.h"
#include "ring_scene.h"
#include "test_util.h"
#include "track/gates.h"
#include "track/objects.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

using namespace ring_scene;

std::vector<int> kinds_of(std::initializer_list<int> first) {
  std::vector<int> kinds(max_slots, slot_kind_empty);
  int k = 0;
  for (int kind : first) kinds[k++] = kind;
  return kinds;
}

float frame_z(int slot) { return static_cast<float>(dBodyGetPosition(race_slot(slot)->bike->bodies[bike_frame])[2]); }

uint64_t state_hash() {
  const Terrain *t = track_terrain();
  PackTerrain pt = {t->extent, t->min_height, nullptr, nullptr};
  uint64_t h = 1469598103934665603ull;
  for (int i = 0; i < max_slots; i++) {
    const Slot *s = race_slot(i);
    if (!s->bike) continue;
    PackedBikeState p = pack_bike_state(s->bike, pt);
    for (uint8_t b : p.bytes) h = (h ^ b) * 1099511628211ull;
  }
  return h;
}

// A 3-lap race of one local rider and three robots, run to its end.
std::vector<uint64_t> scripted_race() {
  std::vector<int> kinds = kinds_of({slot_kind_human, slot_kind_robot, slot_kind_robot, slot_kind_robot});
  race_state().tic = 0;
  EXPECT_EQ(race_reset(kinds.data(), 0, 0, 0, 3, 0), 1);
  std::vector<uint64_t> hashes;
  for (int tic = 0; tic < 20000 && !race_state().results_final; tic++) {
    if (race_state().tic == race_state().gate_drop_tic - 1) {
      // Still behind their gates where the reset put them. Without the auto
      // pilot and the dabbing code a robot may topple over, but no further.
      for (int i = 0; i < 4; i++) {
        const dReal *p = dBodyGetPosition(race_slot(i)->bike->bodies[bike_frame]);
        EXPECT_LT(std::hypot(p[0] - race_slot(i)->start_position[0], p[2] - race_slot(i)->start_position[2]), 6) << i;
        const Statue *gate = track_statue(timing_gates()->grid[i].statue);
        EXPECT_LT(p[2], gate->z) << i;
        EXPECT_EQ(race_slot(i)->timing.next_gate, 0) << i;
      }
    }
    drive(4);
    race_step();
    hashes.push_back(state_hash());
  }
  return hashes;
}

}  // namespace

TEST(RaceReset, LapsRaceStateAndStartPositions) {
  Track track;
  std::vector<int> kinds = kinds_of({slot_kind_robot, slot_kind_human, slot_kind_robot_two_stroke,
                                     slot_kind_robot_four_stroke, slot_kind_human, slot_kind_numbered_robot + 42});
  ASSERT_EQ(race_reset(kinds.data(), 0, 0, 0, 5, 0), 1);
  const RaceState &race = race_state();
  EXPECT_EQ(race.tic, 0);
  EXPECT_EQ(race.final_lap, 5);
  EXPECT_EQ(race.halfway_lap, 3);
  EXPECT_GE(race.gate_drop_tic, 13 * 128);
  EXPECT_LT(race.gate_drop_tic, 15 * 128);
  EXPECT_EQ(race.first_lap_length, 6);
  EXPECT_EQ(race.normal_lap_length, 6);
  EXPECT_EQ(race.start_gate_count, 4);
  EXPECT_EQ(race.viewed_slot, 1);  // the first local rider
  EXPECT_EQ(race.running_count, 5);

  EXPECT_EQ(race_slot(0)->drive_mode, drive_robot);
  EXPECT_STREQ(race_slot(0)->name, "Roborider");
  EXPECT_EQ(race_slot(1)->drive_mode, drive_local);
  EXPECT_NE(strstr(race_slot(2)->bike_model, "125"), nullptr);
  EXPECT_NE(strstr(race_slot(3)->bike_model, "250"), nullptr);
  EXPECT_EQ(race_slot(4)->bike, nullptr);  // a second local rider is dropped
  EXPECT_STREQ(race_slot(5)->number, "42");
  EXPECT_STREQ(race_slot(5)->bike_model, "crf250(2008)");  // old name translated
  EXPECT_EQ(race_slot(6)->bike, nullptr);

  // Slot i stands behind grid position i mod 4, in row i / 4, 10 ft a row.
  const TimingGates *g = timing_gates();
  for (int i : {0, 1, 5}) {
    const GridPosition &p = g->grid[i % 4];
    float behind = ((i / 4) + 0.0625f) * 10;
    EXPECT_NEAR(race_slot(i)->start_position[0], p.x + std::sin(p.angle) * behind, 0.5f) << i;
    EXPECT_NEAR(race_slot(i)->start_position[2], p.z + std::cos(p.angle) * behind, 0.5f) << i;
    EXPECT_GT(race_slot(i)->start_position[1], 5.0f);  // on the ground, not in it
    EXPECT_LT(race_slot(i)->start_position[1], 9.0f);
  }
  // Turned to the start angle: the front wheel is ahead along (-sin a, -cos a).
  const dReal *front = dBodyGetPosition(race_slot(0)->bike->bodies[bike_front_wheel]);
  EXPECT_GT(front[2], frame_z(0));
}

TEST(RaceReset, NoStartGatesLinesUpFiveApart) {
  Track track(0);
  std::vector<int> kinds = kinds_of({slot_kind_robot, slot_kind_robot, slot_kind_robot});
  ASSERT_EQ(race_reset(kinds.data(), 0, 0, 0, 2, 0), 1);
  EXPECT_EQ(race_state().start_gate_count, 0);
  for (int i = 0; i < 3; i++) {
    EXPECT_NEAR(race_slot(i)->start_position[0], centre + 5.0f * i, 0.5f);
    EXPECT_NEAR(race_slot(i)->start_position[2], centre, 0.5f);
  }
}

TEST(RaceReset, EmptyLineupRidesOneRobotAndMissingTrackFails) {
  Track track;
  std::vector<int> kinds(max_slots, slot_kind_empty);
  ASSERT_EQ(race_reset(kinds.data(), 0, 0, 0, 1000, 0), 1);
  EXPECT_EQ(race_slot(0)->drive_mode, drive_robot);
  EXPECT_EQ(race_state().running_count, 1);
  const char *names[] = {"tracks/none"};
  set_track_names(names, 1);
  select_choice(&game_settings().track, "tracks/none");
  EXPECT_EQ(race_reset(kinds.data(), 0, 0, 0, 1000, 0), 0);
  EXPECT_EQ(current_track_dir(), nullptr);
}

TEST(RaceReset, TimedRaceLeavesLapsOpen) {
  Track track;
  std::vector<int> kinds = kinds_of({slot_kind_robot});
  ASSERT_EQ(race_reset(kinds.data(), 0, 0, 10 * 60 * 128, 2, 0), 1);
  EXPECT_EQ(race_state().final_lap, unknown_lap);
  EXPECT_EQ(race_state().halfway_lap, unknown_lap);
  EXPECT_EQ(race_state().finish_laps, 2);
}

TEST(Roster, ShuffleIsAPermutationAndReproducible) {
  random_seed(1234);
  RobotOrder a;
  robot_order_shuffle(&a);
  random_seed(1234);
  RobotOrder b;
  robot_order_shuffle(&b);
  EXPECT_EQ(memcmp(a.order, b.order, sizeof a.order), 0);
  std::vector<int> seen(robot_count, 0);
  for (int k : a.order) seen[k]++;
  for (int n : seen) EXPECT_EQ(n, 1);
  // Two-stroke picks come from the 125s while any is left, then from the rest.
  for (int k = 0; k < 20; k++) EXPECT_NE(strstr(robot_entry(robot_order_take(&a, "125"))->bike, "125"), nullptr);
  EXPECT_EQ(strstr(robot_entry(robot_order_take(&a, "125"))->bike, "125"), nullptr);
  EXPECT_EQ(robot_by_number(59), 39);
  const char *t[4];
  robot_textures(robot_entry(robot_by_number(23)), t);
  EXPECT_STREQ(t[0], "@rider_body-alt1.png");
  EXPECT_EQ(t[1], nullptr);
  EXPECT_STREQ(t[2], "@kx125-alt1.png");
  EXPECT_STREQ(t[3], "@wheels-alt1.png");
}

// Two robots at the gate; a bike is made to lean on gate 1 (its statue is
// `held`) by stamping the contact each tic.
class StartGates : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<int> kinds = kinds_of({slot_kind_robot, slot_kind_robot});
    ASSERT_EQ(race_reset(kinds.data(), 0, 0, 0, 3, 0), 1);
    held = timing_gates()->grid[1].statue;
    ASSERT_GE(held, 0);
  }
  Track track;
  const RaceState &race = race_state();
  int held = -1;
};

TEST_F(StartGates, FallAfterTheDropUnlessLeanedOn) {
  int fell = -1;
  while (race.tic < race.gate_drop_tic + 200) {
    // A bike leans on gate 1 all the time.
    track_statue(held)->last_contact_tic = race.tic;
    race_step();
    if (race.tic <= race.gate_drop_tic) {
      ASSERT_EQ(race.start_gates[0].angle, 1.0f) << race.tic;
    }
    if (fell < 0 && race.start_gates[0].angle == 0) fell = race.tic;
  }
  // Down about a quarter of a second after the drop, 13 to 15 s after the reset.
  EXPECT_GT(fell, race.gate_drop_tic + 20);
  EXPECT_LT(fell, race.gate_drop_tic + 40);
  EXPECT_GE(fell, 13 * 128);
  EXPECT_LE(fell, 15 * 128 + 40);
  EXPECT_EQ(race.start_gates[1].angle, 1.0f);
  EXPECT_EQ(race.start_gates[2].angle, 0.0f);
  // Let go, it falls too.
  track_statue(held)->last_contact_tic = -1;
  for (int k = 0; k < 40; k++) race_step();
  EXPECT_EQ(race.start_gates[1].angle, 0.0f);
}

// A rider who never lets go is not shut in for the rest of the race: the
// gate he holds comes down once the start is over.
TEST_F(StartGates, AGateLeanedOnPastTheStartFallsAnyway) {
  const int window = race.gate_drop_tic + start_gate_active_tics;
  while (race.tic < window + 60) {
    track_statue(held)->last_contact_tic = race.tic;
    race_step();
    if (race.tic < window) {
      ASSERT_EQ(race.start_gates[1].angle, 1.0f) << race.tic;
    }
  }
  EXPECT_EQ(race.start_gates[1].angle, 0.0f);
}

TEST(FalseStart, MovingBeforeTheDropHoldsTheBike) {
  Track track;
  std::vector<int> kinds = kinds_of({slot_kind_human});
  RaceNetwork &net = race_network();
  ASSERT_EQ(race_reset(kinds.data(), 0, 0, 0, 3, 0), 1);
  RaceState &race = race_state();
  Slot *s = race_slot(0);
  race.tic = race.gate_drop_tic - 100;
  false_start_step(0);
  EXPECT_EQ(s->penalty_counter, 0);
  EXPECT_EQ(s->bike->controls.dab, 1.0f);  // held in sit/dab while waiting
  move_bike(s->bike, 3.1, 0, 0);
  false_start_step(0);
  EXPECT_EQ(s->penalty_counter, 100 + 15 * 128 - 1);
  EXPECT_EQ(s->bike->controls.front_brake, 1.0f);
  EXPECT_EQ(s->bike->controls.throttle, 0.0f);
  (void)net;
}

// The whole race: bikes wait behind the gates, ride the ring after the drop
// and the race ends after three laps with the results file in timing order.
TEST(ScriptedRace, RunsToTheResultsFile) {
  Track track;
  std::vector<uint64_t> first = scripted_race();
  const RaceState &race = race_state();
  ASSERT_TRUE(race.results_final);
  // Slot 3 is fastest, slot 0 slowest.
  ASSERT_EQ(race.running_count, 4);
  for (int k = 0; k < 4; k++) EXPECT_EQ(race.running_order[k].slot, 3 - k);
  for (int i = 0; i < 4; i++) EXPECT_TRUE(rider_finished(i)) << i;
  for (int i = 0; i < 4; i++) EXPECT_EQ(lap_of(&race_slot(i)->timing), 3) << i;
  std::string text = read_text_file(track.root + "results.txt");
  size_t at = 0;
  for (int k = 0; k < 4; k++) {
    char line[64];
    snprintf(line, sizeof line, "\r\n%4s | ", race_slot(3 - k)->number);
    size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << line;
    at = found + 1;
    // Laps and total time as the timing list has them.
    const Slot *s = race_slot(3 - k);
    long ms = static_cast<long>((s->timing.gate_tics[lap_end_index(3)] - race.gate_drop_tic) * seconds_per_tic * 1000);
    snprintf(line, sizeof line, "|    3 | %3ld:%02ld.%03ld |", ms / 60000, ms / 1000 % 60, ms % 1000);
    EXPECT_EQ(text.find(line, at), text.find("|", at) + 15) << line;
  }
  // The leader's time: gate drop to the end of lap 3.
  int leader_tics = race_slot(3)->timing.gate_tics[lap_end_index(3)] - race.gate_drop_tic;
  float lap_length = 2 * pi * ring;
  EXPECT_NEAR(leader_tics * seconds_per_tic, (3 * lap_length - 0.05f * ring) / 52.0f, 0.2f);

  // The same race again gives the same states tic by tic.
  std::vector<uint64_t> second = scripted_race();
  ASSERT_EQ(first.size(), second.size());
  for (size_t k = 0; k < first.size(); k++) ASSERT_EQ(first[k], second[k]) << "tic " << k;
}

TEST(TimeTrial, FlyingStartLapTimesAndFastestLapFile) {
  Track track;
  std::string home = track.root + "home";
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  file_layer_reset_for_tests();
  std::string lap_dir = home + "/torvane/tracks/ring/";
  write_text_file(lap_dir + "lastlap.qxdemo", "first lap");

  ASSERT_EQ(race_reset(nullptr, 0, 0, 0, 1000, 0), 1);
  const RaceState &race = race_state();
  EXPECT_TRUE(race.time_trial);
  EXPECT_EQ(race.tic, time_trial_start_tic);
  EXPECT_GT(race.tic, race.gate_drop_tic);
  Slot *rider = race_slot(0);
  ASSERT_NE(rider->bike, nullptr);
  EXPECT_EQ(rider->drive_mode, drive_local);
  for (int i = 1; i < max_slots; i++) EXPECT_EQ(race_slot(i)->bike, nullptr);
  // On the gate three before the finish (index 3 = gate 4 at 240 degrees),
  // facing along it.
  EXPECT_EQ(rider->timing.next_gate, 3);
  float a = 4 * pi / 3;
  EXPECT_NEAR(frame_z(0), centre + ring * std::sin(a), 0.01f);
  const dReal *front = dBodyGetPosition(rider->bike->bodies[bike_front_wheel]);
  EXPECT_GT(front[0] - dBodyGetPosition(rider->bike->bodies[bike_frame])[0], 0.5);  // heading +x at 240 degrees

  // Ride round at 50 ft/s from gate 4: the flying lap starts at the finish
  // line (no lap time yet), the next crossing gives the first lap time.
  int start = race.tic;
  // Each lap end stamps the finish line (index 5) afresh.
  auto ride_lap = [&]() {
    int stamp = gate_tic(&rider->timing, 5);
    for (int k = 0; k < 20000 && gate_tic(&rider->timing, 5) == stamp; k++) {
      float distance = 50.0f * (race.tic - start) * static_cast<float>(seconds_per_tic);
      drive_to(rider->bike, a + distance / ring);
      race_step();
    }
  };
  ride_lap();
  EXPECT_EQ(race.last_lap, 0);
  EXPECT_EQ(race.best_lap, 0);
  EXPECT_EQ(rider->timing.next_gate, 6);  // restarted at the finish line
  // No fastest lap yet: the last lap file is kept as the fastest.
  EXPECT_TRUE(file_exists(lap_dir + "fastlap.qxdemo"));
  std::string first_fastest = read_text_file(lap_dir + "fastlap.qxdemo");
  DemoHeader header;
  const char *error = nullptr;

  ride_lap();
  float lap_seconds = 2 * pi * ring / 50;
  EXPECT_NEAR(race.last_lap * seconds_per_tic, lap_seconds, 0.05f);
  EXPECT_EQ(race.best_lap, race.last_lap);
  // The lap just ridden was recorded over "lastlap.qxdemo" and kept as the
  // fastest: a demo of this track.
  EXPECT_NE(read_text_file(lap_dir + "fastlap.qxdemo"), first_fastest);
  EXPECT_EQ(demo_read_header((lap_dir + "fastlap.qxdemo").c_str(), &header, &error), 1) << (error ? error : "");
  EXPECT_EQ(read_text_file(lap_dir + "fastlap.qxdemo").rfind("QX06 1 0 1000 ", 0), 0u);
  EXPECT_NE(read_text_file(lap_dir + "fastlap.qxdemo").find("\ntracks/ring\n"), std::string::npos);
  EXPECT_FALSE(file_exists(lap_dir + "fastlap.qxdemo.tmp"));

  // Back up aborts the attempt: the rider is put back for a flying start.
  time_trial_start_attempt();
  EXPECT_EQ(rider->timing.next_gate, 3);
  EXPECT_EQ(race.last_lap, 0);
  unsetenv("XDG_DATA_HOME");
  file_layer_reset_for_tests();
}

TEST(Lineup, RotationMovesGateKinds) {
  GameSettings &g = game_settings();
  for (int k = 0; k < max_gates; k++) g.gates[k].selected = slot_kind_empty;
  g.gates[0].selected = slot_kind_human;
  g.gates[1].selected = slot_kind_robot;
  g.gates[39].selected = slot_kind_robot_four_stroke;
  rotate_lineup(3);
  EXPECT_EQ(g.gates[0].selected, slot_kind_empty);
  EXPECT_EQ(g.gates[3].selected, slot_kind_human);
  EXPECT_EQ(g.gates[4].selected, slot_kind_robot);
  // Gate 39 moved to 42, beyond the forty settings: it is gone.
  for (int k = 0; k < 3; k++) EXPECT_EQ(g.gates[k].selected, slot_kind_empty);
  rotate_lineup(-4);
  EXPECT_EQ(g.gates[0].selected, slot_kind_robot);  // 4 -> 0; 3 -> 159 is dropped
  for (int k = 1; k < max_gates; k++) EXPECT_EQ(g.gates[k].selected, slot_kind_empty) << k;
}

TEST(Warp, FinishedRaceShiftsTheLineupAndResets) {
  Track track;
  GameSettings &g = game_settings();
  g.laps.value = 2;
  g.minutes.value = 0;
  std::vector<int> kinds = kinds_of({slot_kind_robot, slot_kind_empty, slot_kind_robot});
  ASSERT_EQ(race_reset(kinds.data(), 0, 0, 0, 2, 0), 1);
  EXPECT_EQ(race_warp_check(), 0);
  // The leader completes two laps (index 11).
  RaceState &race = race_state();
  race.tic = 5000;
  GateProgress *p = &race_slot(2)->timing;
  for (int q = 0; q <= 11; q++) gate_stamp(p, q, 2000 + 100 * q);
  p->next_gate = 12;
  update_running_order();
  EXPECT_EQ(race_warp_check(), 1);
  EXPECT_EQ(race_state().tic, 0);
  EXPECT_EQ(race_slot(0)->bike, nullptr);
  EXPECT_EQ(race_slot(1)->kind, slot_kind_robot);
  EXPECT_EQ(race_slot(3)->kind, slot_kind_robot);
  EXPECT_NE(race_slot(3)->bike, nullptr);
  EXPECT_EQ(race_state().final_lap, 2);
}

// Online: the server's gate drop and no erosion; moving off the start
// before the drop holds the bike until 15 s after it.
TEST(FalseStart, NetworkRaceThroughTheRaceStep) {
  Track track;
  RaceNetwork &net = race_network();
  RaceNetwork saved = net;
  net.connected = 1;
  net.gate_position = 0;
  net.local_slot = 0;
  net.gate_drop_tic = 300;
  net.track = "tracks/ring";
  std::vector<int> kinds = kinds_of({slot_kind_human});
  ASSERT_EQ(race_reset(kinds.data(), 0, 0, 0, 3, 0), 1);
  RaceState &race = race_state();
  EXPECT_EQ(race.gate_drop_tic, 300);
  EXPECT_EQ(race.erosion_rate, -1);
  Slot *s = race_slot(0);
  for (int k = 0; k < 10; k++) race_step();
  EXPECT_EQ(s->penalty_counter, 0);
  move_bike(s->bike, 0, 0, 3.5);
  race_step();  // at tic 10
  EXPECT_EQ(s->penalty_counter, 300 + 1920 - 10 - 1);
  EXPECT_EQ(std::string(message_line(0)).find("15 second false start penalty"), 0u);
  for (int k = 0; k < 100; k++) {
    bike_set_throttle(s->bike, 1);  // the rider tries; the rule wins
    race_step();
    ASSERT_EQ(s->bike->controls.throttle, 0.0f);
    ASSERT_EQ(s->bike->controls.rear_brake, 1.0f);
  }
  EXPECT_EQ(s->penalty_counter, 300 + 1920 - 10 - 101);
  net = saved;
}

namespace {

// A test rider: throttle on after the drop, steering toward a point a
// little ahead on the ring (the racing line of this track).
void steer_along_ring(BikeState *bike, bool go) {
  const dReal *p = dBodyGetPosition(bike->bodies[bike_frame]);
  const dReal *r = dBodyGetRotation(bike->bodies[bike_frame]);
  double fx = -r[2], fz = -r[10];  // a bike faces along its -z axis
  double ahead = std::atan2(p[2] - centre, p[0] - centre) + 0.6;
  double tx = centre + ring * std::cos(ahead) - p[0], tz = centre + ring * std::sin(ahead) - p[2];
  double left = std::atan2(fx * tz - fz * tx, fx * tx + fz * tz);
  bike_set_steer(bike, static_cast<float>(std::fmax(-1.0, std::fmin(1.0, 1.5 * left))));
  bike_set_throttle(bike, go ? 0.3f : 0.0f);
  bike_set_clutch(bike, 1);
}

// Two laps under the riding physics; returns the state hash of every tic.
std::vector<uint64_t> ridden_race(int riders) {
  std::vector<int> kinds(max_slots, slot_kind_empty);
  kinds[0] = slot_kind_human;
  for (int i = 1; i < riders; i++) kinds[i] = slot_kind_robot_four_stroke;
  race_state().tic = 0;
  EXPECT_EQ(race_reset(kinds.data(), 0, 0, 0, 2, 0), 1);
  // Until the auto pilot sets the robots' aids they ride with the player's
  // setup, as the test rider needs them.
  for (int i = 1; i < riders; i++) EXPECT_EQ(apply_setup(race_slot(i)->bike, setup_values(), 0), 1);
  // The test rider rides the robots' bikes: their auto pilots stand aside.
  for (int i = 1; i < riders; i++) autopilot_clear(i);
  std::vector<uint64_t> hashes;
  const RaceState &race = race_state();
  for (int k = 0; k < 128 * 90 && !race.results_final; k++) {
    for (int i = 0; i < riders; i++) steer_along_ring(race_slot(i)->bike, race.tic >= race.gate_drop_tic);
    race_step();
    hashes.push_back(state_hash());
  }
  return hashes;
}

}  // namespace

// The same race with the bikes ridden by the physics: the test rider steers
// along the ring, the race ends after two laps, and a second run is
// identical tic for tic.
TEST(ScriptedRace, RiddenByThePhysics) {
  Track track;
  std::vector<uint64_t> first = ridden_race(3);
  const RaceState &race = race_state();
  ASSERT_TRUE(race.results_final);
  ASSERT_EQ(race.running_count, 3);
  for (int k = 0; k < 3; k++) {
    int slot = race.running_order[k].slot;
    EXPECT_TRUE(rider_finished(slot)) << slot;
    EXPECT_EQ(lap_of(&race_slot(slot)->timing), 2) << slot;
    EXPECT_EQ(cutting_penalty(slot), 0) << slot;
    // Nobody crossed the start before the gates fell.
    EXPECT_GT(race_slot(slot)->timing.gate_tics[0], race.gate_drop_tic) << slot;
  }
  // The results list the riders in the order of their finishing times.
  for (int k = 1; k < 3; k++) EXPECT_LE(race.running_order[k - 1].tic, race.running_order[k].tic);
  std::string text = read_text_file(track.root + "results.txt");
  size_t at = text.find("Best Time");
  for (int k = 0; k < 3; k++) {
    char line[32];
    snprintf(line, sizeof line, "\r\n%4s | ", race_slot(race.running_order[k].slot)->number);
    size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << line;
    at = found + 1;
  }
  std::vector<uint64_t> second = ridden_race(3);
  ASSERT_EQ(first.size(), second.size());
  for (size_t k = 0; k < first.size(); k++) ASSERT_EQ(first[k], second[k]) << "tic " << k;
}
