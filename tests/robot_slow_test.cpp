// Twenty robots race three laps on every shipped track with the expert lines:
// all of them finish, none stays stuck, and their laps come close to the
// lines' own times. Minutes of simulation: labelled "slow".
#include <gtest/gtest.h>
#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "bike/bike.h"
#include "robot_scene.h"
#include "track/gates.h"

namespace {

// The lap the lines describe: the fastest recorded time of each normal-lap
// segment, added up (seconds).
double lines_lap_seconds() {
  double sum = 0;
  for (int s = first_lap_slots(); s < line_slot_count(); s++) {
    int best = line_untimed;
    for (int i = 0; i < lines_per_slot; i++)
      if (line_record(s, i)->point_count > 0) best = std::min(best, line_record(s, i)->time1);
    sum += best * seconds_per_tic;
  }
  return sum;
}

struct RaceOutcome {
  int finished = 0;
  double longest_stuck = 0;  // s
  double lap_sum = 0;
  int laps = 0;
  int most_gates = 0;  // furthest timing position reached by any robot
};

RaceOutcome run_race(int robots, int laps) {
  RaceOutcome out;
  const RaceState &race = race_state();
  std::vector<int> slow_since(robots, -1);
  int limit = race.gate_drop_tic + 900 * tics_per_second;
  while (race.tic < limit) {
    race_step();
    int done = 0;
    for (int i = 0; i < robots; i++) {
      Slot *s = race_slot(i);
      if (s->timing.finished) {
        done++;
        continue;
      }
      if (race.tic < race.gate_drop_tic + 3 * tics_per_second) continue;
      const dReal *v = dBodyGetLinearVel(s->bike->bodies[bike_frame]);
      double speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
      if (speed >= 3) {
        slow_since[i] = -1;
      } else {
        if (slow_since[i] < 0) slow_since[i] = race.tic;
        out.longest_stuck = std::max(out.longest_stuck, (race.tic - slow_since[i]) * seconds_per_tic);
      }
    }
    if (done == robots) break;
  }
  for (int i = 0; i < robots; i++) {
    Slot *s = race_slot(i);
    out.finished += s->timing.finished != 0;
    out.most_gates = std::max(out.most_gates, s->timing.next_gate);
    for (int k = 2; k <= laps; k++) {
      float t = lap_time(&s->timing, k, race.gate_drop_tic);
      if (t > 0) out.lap_sum += t, out.laps++;
    }
  }
  return out;
}

class TwentyRobots : public ::testing::TestWithParam<const char *> {};

TEST_P(TwentyRobots, FinishThreeLapsNearTheLinesTimes) {
  RobotScene scene(GetParam());
  ASSERT_EQ(scene.reset(20, 3, 2), 1);
  ASSERT_GT(line_slot_count(), 0);
  double reference = lines_lap_seconds();
  RaceOutcome r = run_race(20, 3);
  double average = r.laps ? r.lap_sum / r.laps : 0;
  printf("%s: %d/20 finished, furthest timing position %d of %d, longest stuck %.1f s, average normal lap %.2f s, "
         "lines %.2f s\n",
         GetParam(), r.finished, r.most_gates, race_state().first_lap_length + 2 * race_state().normal_lap_length,
         r.longest_stuck, average, reference);
  EXPECT_EQ(r.finished, 20);
  EXPECT_LE(r.longest_stuck, 10.0);
  EXPECT_LE(std::fabs(average / reference - 1), 0.15);
}

INSTANTIATE_TEST_SUITE_P(ShippedTracks, TwentyRobots, ::testing::Values("rabbithill", "quarrybend"));

}  // namespace
