// A whole race on the default track: robots riding the racing lines wait
// behind the raised gates, the gates fall 13 to 15 s after the reset, and the
// race runs to its last lap and a results file in the order of the timing.
// Two minutes of simulation: labelled "slow".
#include <gtest/gtest.h>
#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "robot_scene.h"
#include "track/gates.h"

namespace {

constexpr int riders = 6;

// The tic at which the slot passed the end of lap `laps`, or a large number.
int finish_tic(int slot, int laps) {
  const RaceState &race = race_state();
  const GateProgress &g = race_slot(slot)->timing;
  int p = race.first_lap_length - 1 + race.normal_lap_length * (laps - 1);
  return p < g.gate_tic_count && g.gate_tics[p] >= 0 ? g.gate_tics[p] : 1 << 30;
}

TEST(ScriptedRace, DefaultTrackFromTheGatesToTheResultsFile) {
  RobotScene scene("rabbithill");
  int reset_tic = race_state().tic;
  ASSERT_EQ(scene.reset(riders, 1, 2), 1);
  const RaceState &race = race_state();
  EXPECT_GE(race.gate_drop_tic - reset_tic, 13 * tics_per_second);
  EXPECT_LT(race.gate_drop_tic - reset_tic, 15 * tics_per_second);

  // Behind the gates until the drop: nobody leaves the grid.
  while (race.tic < race.gate_drop_tic) {
    race_step();
    for (int i = 0; i < riders; i++) {
      const Slot *s = race_slot(i);
      const dReal *p = dBodyGetPosition(s->bike->bodies[bike_frame]);
      double dx = p[0] - s->start_position[0], dz = p[2] - s->start_position[2];
      ASSERT_LT(dx * dx + dz * dz, 1.0) << "slot " << i << " at tic " << race.tic;
      ASSERT_EQ(s->timing.next_gate, 0);
    }
  }

  int limit = race.gate_drop_tic + 400 * tics_per_second;
  while (!race.results_final && race.tic < limit) race_step();
  ASSERT_TRUE(race.results_final) << "the race did not end";

  // Riders who completed the lap, in the order they crossed the line.
  std::vector<int> order;
  for (int i = 0; i < riders; i++)
    if (finish_tic(i, 1) < (1 << 30)) order.push_back(i);
  ASSERT_GE(order.size(), 1u);
  std::stable_sort(order.begin(), order.end(), [](int a, int b) { return finish_tic(a, 1) < finish_tic(b, 1); });
  for (size_t k = 0; k < order.size(); k++) EXPECT_EQ(race.running_order[k].slot, order[k]) << "place " << k;

  // The results file lists them in that order with their times from the drop.
  std::string text = read_text_file(scene.home + "/results.txt");
  size_t at = 0;
  for (int slot : order) {
    char line[64];
    snprintf(line, sizeof line, "\r\n%4s | ", race_slot(slot)->number);
    size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << "slot " << slot << " out of order in\n" << text;
    at = found + 1;
    long ms = static_cast<long>((finish_tic(slot, 1) - race.gate_drop_tic) * seconds_per_tic * 1000);
    snprintf(line, sizeof line, "| %3ld:%02ld.%03ld |", ms / 60000, ms / 1000 % 60, ms % 1000);
    EXPECT_NE(text.find(line, at), std::string::npos) << line;
  }
}

}  // namespace
