// Determinism of whole races on the default track: the same race twice ends
// in the same state at every tic, another seed in another; and the frame
// rate does not change the physics: one input stream stamped in real time,
// fed through the main loop's tic machinery at 30, 60, 144 and 1000 frames
// per second, reaches the same state at every tic.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/frame_clock.h"
#include "app/types.h"
#include "bike/bike.h"
#include "platform/input.h"
#include "race/race.h"
#include "runner/runner.h"
#include "test_util.h"

namespace {

constexpr int robot_count = 4;

class Determinism : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QX_HOME", TORVANE_BIN_DIR "/", 1);
    static std::string home = make_temp_dir("determinism");
    ASSERT_TRUE(runner_open_data(home.c_str())) << "build the default data (torvane_data) first";
  }
};

void reset(int seed, const int *kinds) {
  race_state().tic = seed;  // the reset seeds the generator with it
  ASSERT_TRUE(race_reset(kinds, 0, 0, 0, 3, 2));
}

void drive_robots() {
  for (int i = 0; i < max_slots; i++)
    if (race_slot(i)->drive_mode == drive_robot) simple_driver_tic(i);
}

// Runs robots from the reset to `tics` past it; the hash of every tic.
std::vector<uint64_t> robot_race(int seed, int tics) {
  int kinds[max_slots] = {};
  for (int i = 0; i < robot_count; i++) kinds[i] = slot_kind_robot;
  reset(seed, kinds);
  std::vector<uint64_t> trace;
  for (int t = 0; t < tics; t++) {
    drive_robots();
    race_step();
    trace.push_back(bikes_state_hash(state_hash_start, -1));
  }
  return trace;
}

TEST_F(Determinism, SameRaceTwiceSameStateAtEveryTic) {
  // Past the gate drop (13 to 15 s), so the bikes have ridden a while.
  constexpr int tics = 2300;
  std::vector<uint64_t> first = robot_race(5, tics);
  std::vector<uint64_t> second = robot_race(5, tics);
  ASSERT_EQ(first.size(), second.size());
  for (int t = 0; t < tics; t++) ASSERT_EQ(first[t], second[t]) << "tic " << t;
  // The bikes moved: the state is not the one they started in.
  EXPECT_NE(first.front(), first.back());
  // The seed reaches the race (robot order, gate drop).
  std::vector<uint64_t> other = robot_race(6, tics);
  EXPECT_NE(first.back(), other.back());
}

// --- One input stream through the frame loop at several frame rates ---------

constexpr int key_throttle = event_key_base + 1;
constexpr int key_left = event_key_base + 2;
constexpr int key_right = event_key_base + 3;
constexpr int key_brake = event_key_base + 4;

struct ScriptedEvent {
  double time;  // real seconds since the loop started
  int code;
  int pressed;
};

// A rider who opens the throttle after the gate drop, taps steering both
// ways (two taps inside one 30 fps frame but in different tics), brakes and
// goes again. No stamp falls on a tic boundary.
const std::vector<ScriptedEvent> &input_script() {
  static const std::vector<ScriptedEvent> script = {
      {0.5003, key_brake, 1},   {15.2003, key_brake, 0}, {15.2103, key_throttle, 1}, {16.0007, key_left, 1},
      {16.0107, key_left, 0},   {16.0207, key_right, 1}, {16.6001, key_right, 0},    {17.3005, key_throttle, 0},
      {17.3105, key_brake, 1},  {18.1001, key_brake, 0}, {18.1203, key_throttle, 1}, {18.9002, key_left, 1},
      {19.4004, key_left, 0},   {19.9001, key_throttle, 0},
  };
  return script;
}

struct LoopRun {
  int keys[4];  // throttle, left, right, brake
  int tics_run;
  int last_tic;
  std::vector<uint64_t> trace;
};

void on_begin(void *) {}

void on_event(void *context, const InputEvent *e) {
  LoopRun *run = static_cast<LoopRun *>(context);
  int k = e->code - key_throttle;
  if (k >= 0 && k < 4) run->keys[k] = e->pressed;
}

// The tic: the local rider's controls from the keys, the robots, the race.
void on_tic(void *context) {
  LoopRun *run = static_cast<LoopRun *>(context);
  if (race_state().tic >= run->last_tic) return;  // the stream has ended
  BikeState *bike = race_slot(0)->bike;
  bike_set_throttle(bike, static_cast<float>(run->keys[0]));
  bike_set_steer(bike, 0.4f * static_cast<float>(run->keys[1] - run->keys[2]));
  bike_set_front_brake(bike, static_cast<float>(run->keys[3]));
  bike_set_rear_brake(bike, static_cast<float>(run->keys[3]));
  bike_set_clutch(bike, 1);
  drive_robots();
  race_step();
  run->trace.push_back(bikes_state_hash(state_hash_start, -1));
}

std::vector<uint64_t> run_at_frame_rate(float fps, int last_tic) {
  int kinds[max_slots] = {slot_kind_human, slot_kind_robot, slot_kind_robot};
  reset(9, kinds);
  EXPECT_EQ(race_slot(0)->drive_mode, drive_local);
  input_clear_events();
  LoopRun run = {};
  run.last_tic = last_tic;
  TicHandlers handlers = {on_begin, on_event, on_tic, &run};
  FrameTiming timing = {fps, 0, 0};
  FrameClock clock;
  double now = 0;
  frame_clock_start(&clock, now);
  size_t next_event = 0;
  const std::vector<ScriptedEvent> &script = input_script();
  while (race_state().tic < last_tic) {
    double sleep = 0;
    double advance = frame_advance_for(0, &timing, &sleep);  // locked: exactly 1/fps
    now += advance;
    // What happened during the frame is in the queue, stamped when it happened.
    while (next_event < script.size() && script[next_event].time <= now) {
      const ScriptedEvent &e = script[next_event++];
      input_push_event(e.code, e.pressed, time_from_seconds(e.time));
    }
    frame_clock_advance(&clock, advance, now);
    frame_run_tics(&clock, now, &handlers);
  }
  EXPECT_EQ(next_event, script.size());
  return run.trace;
}

TEST_F(Determinism, FrameRateDoesNotChangeThePhysics) {
  constexpr int last_tic = 2600;  // 20.3 s: the whole input stream
  std::vector<uint64_t> reference = run_at_frame_rate(60, last_tic);
  ASSERT_EQ(static_cast<int>(reference.size()), last_tic);
  for (float fps : {30.0f, 144.0f, 1000.0f}) {
    std::vector<uint64_t> trace = run_at_frame_rate(fps, last_tic);
    ASSERT_EQ(trace.size(), reference.size()) << fps << " fps";
    for (size_t t = 0; t < trace.size(); t++) ASSERT_EQ(trace[t], reference[t]) << fps << " fps, tic " << t;
  }
  // The input reached the bike: a run without the stream ends elsewhere.
  std::vector<uint64_t> idle;
  {
    int kinds[max_slots] = {slot_kind_human, slot_kind_robot, slot_kind_robot};
    reset(9, kinds);
    LoopRun run = {};
    run.last_tic = last_tic;
    for (int t = 0; t < last_tic; t++) on_tic(&run);
    idle = run.trace;
  }
  EXPECT_NE(idle.back(), reference.back());
}

}  // namespace
