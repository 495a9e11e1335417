// A race of robots on a shipped track, read from the data archive the build
// makes, with the home directory in a scratch folder so learnt lines land
// there and never in the build tree.
#pragma once
#include <cstdlib>
#include <string>
#include <vector>

#include "app/config.h"
#include "assets/file.h"
#include "bike/assembly.h"
#include "bike/crash.h"
#include "race/race.h"
#include "race/results.h"
#include "robot/autopilot.h"
#include "robot/lines.h"
#include "test_util.h"
#include "track/track.h"

struct RobotScene {
  std::string home;
  explicit RobotScene(const char *track) {
    home = make_temp_dir("robots");
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    setenv("QX_HOME", TORVANE_BIN_DIR, 1);
    file_layer_reset_for_tests();
    file_list();  // builds the index with the archive's members
    track_set_root("@");
    const char *names[] = {track};
    set_track_names(names, 1);
    select_choice(&game_settings().track, track);
    physics_world_create();
    install_crash_hooks();  // as the game's start-up does
    set_results_path((home + "/results.txt").c_str());
    race_state().tic = 0;
  }
  ~RobotScene() {
    race_free_bikes();
    free_track();
    set_results_path(nullptr);
    race_state() = RaceState{};
    set_line_learning(0);
    unsetenv("XDG_DATA_HOME");
    unsetenv("QX_HOME");
    file_layer_reset_for_tests();
  }
  // Resets a race of `robots` robots over `laps` laps with the lines of `skill`.
  int reset(int robots, int laps, int skill) {
    std::vector<int> kinds(max_slots, slot_kind_empty);
    for (int i = 0; i < robots; i++) kinds[static_cast<size_t>(i)] = slot_kind_robot;
    return race_reset(kinds.data(), 0, 0, 0, laps, skill);
  }
};
