// Twenty robots race three laps on every shipped track with the expert lines:
// all of them finish, none stays stuck, and their laps come close to the
// lines' own times. Minutes of simulation: labelled "slow".
#include <gtest/gtest.h>
#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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
    if (getenv("ROBOT_TRACE") && race.tic % (tics_per_second / 8) == 0 && race.tic > race.gate_drop_tic - 128 && race.tic < race.gate_drop_tic + 1200) {
      for (int i = 0; i < 1; i++) {
        Slot *s = race_slot(i);
        const dReal *v = dBodyGetLinearVel(s->bike->bodies[bike_frame]);
        const dReal *p = dBodyGetPosition(s->bike->bodies[bike_frame]);
        float q[3] = {0, 0, 0};
        autopilot_approach_point(i, q);
        printf("t %.0f slot %d gate %d speed %.1f recovery %d path %d crash %d at %.0f %.0f to %.0f %.0f\n",
               race.tic * seconds_per_tic, i, s->timing.next_gate, std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]),
               autopilot_recovering(i), autopilot_path_length(i), s->bike->crash_timer, p[0], p[2], q[0], q[2]);
        dVector3 fw;
        dBodyVectorToWorld(s->bike->bodies[bike_frame], 0, 0, -1, fw);
        const ControlInput &c = s->bike->controls;
        printf("   fwd %.2f %.2f %.2f thr %.2f clutch %.2f brk %.2f steer %.2f gear %d dab %.2f rpm %.0f\n", fw[0], fw[1], fw[2], c.throttle,
               c.clutch, c.front_brake, c.steer, c.gear, c.dab, s->bike->engine_speed * 9.55);
      }
      fflush(stdout);
    }
  }
  for (int i = 0; i < robots; i++) {
    Slot *s = race_slot(i);
    out.finished += s->timing.finished != 0;
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
  printf("%s: %d/20 finished, longest stuck %.1f s, average normal lap %.2f s, lines %.2f s (%+.1f%%)\n",
         GetParam(), r.finished, r.longest_stuck, average, reference, 100 * (average / reference - 1));
  EXPECT_EQ(r.finished, 20);
  EXPECT_LE(r.longest_stuck, 10.0);
  EXPECT_LE(std::fabs(average / reference - 1), 0.15);
}

INSTANTIATE_TEST_SUITE_P(ShippedTracks, TwentyRobots, ::testing::Values("rabbithill", "quarrybend"));

}  // namespace
