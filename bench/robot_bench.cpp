// The auto pilot's cost per robot per tic: twenty robots on the shipped
// "rabbithill" with the expert lines, timed a few seconds after the gate drop
// (following their paths, refilling, looking for bikes ahead).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/config.h"
#include "assets/file.h"
#include "bike/assembly.h"
#include "race/race.h"
#include "race/results.h"
#include "robot/autopilot.h"
#include "track/track.h"

namespace {

constexpr int robots = 20;

bool start_race() {
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
  std::string data = (exe.parent_path() / ".." / "bin").string();
  std::string home = (std::filesystem::temp_directory_path() / "torvane_robot_bench").string();
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  setenv("QX_HOME", data.c_str(), 1);
  file_layer_reset_for_tests();
  file_list();
  track_set_root("@");
  const char *names[] = {"rabbithill"};
  set_track_names(names, 1);
  select_choice(&game_settings().track, "rabbithill");
  physics_world_create();
  set_results_path((home + "/results.txt").c_str());
  std::vector<int> kinds(max_slots, slot_kind_empty);
  for (int i = 0; i < robots; i++) kinds[static_cast<size_t>(i)] = slot_kind_robot;
  if (!race_reset(kinds.data(), 0, 0, 0, 3, 2)) return false;
  while (race_state().tic < race_state().gate_drop_tic + 5 * tics_per_second) race_step();
  return true;
}

bool race_ready() {
  static bool ready = start_race();
  return ready;
}

void BM_AutoPilotPerRobotTic(benchmark::State &state) {
  if (!race_ready()) {
    state.SkipWithError("rabbithill could not be loaded");
    return;
  }
  for (auto _ : state) {
    for (int i = 0; i < robots; i++) auto_pilot(race_slot(i)->bike);
  }
  state.SetItemsProcessed(state.iterations() * robots);
}
BENCHMARK(BM_AutoPilotPerRobotTic);

// The whole race step with twenty robots, for comparison.
void BM_RaceStepTwentyRobots(benchmark::State &state) {
  if (!race_ready()) {
    state.SkipWithError("rabbithill could not be loaded");
    return;
  }
  for (auto _ : state) race_step();
}
BENCHMARK(BM_RaceStepTwentyRobots);

}  // namespace
