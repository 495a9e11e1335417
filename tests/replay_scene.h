// A stand-in race for the history and demo tests: a slot table of real
// bikes (or none), the race counters, and a race step in the race's order
// (pose history-driven bikes, move the local ones along scripted paths,
// advance the clock, write and read the demo).
#pragma once
#include <cmath>
#include <cstring>
#include <vector>

#include "bike/assembly.h"
#include "replay/demo.h"
#include "replay/history.h"

struct SceneRace {
  BikeState *bikes[max_slots];
  int modes[max_slots];
  int cut_calls;
  int cut_result;
  int tic, results_final, gate_drop_tic, finish_time, finish_laps, erosion_rate, time_trial, viewed;
  float roost;
  std::vector<std::vector<uint8_t>> erodes;  // packets handed to the deformation module
  const char *track;
};

inline SceneRace &scene() {
  static SceneRace s;
  return s;
}

inline float scene_ground(const void *, float, float) { return -50.0f; }
inline PackTerrain scene_terrain() { return {1024.0f, -64.0f, nullptr, nullptr}; }

// Local bikes ride a circle of their own radius; one tic of motion.
inline void scene_move(int slot) {
  BikeState *bike = scene().bikes[slot];
  double a = scene().tic * 0.01 * (1 + slot), r = 20 + 5 * slot;
  const dReal *p = dBodyGetPosition(bike->bodies[bike_frame]);
  double x = 512 + r * std::cos(a), z = 512 + r * std::sin(a), y = 3 + 0.5 * std::sin(a * 3);
  move_bike(bike, x - p[0], y - p[1], z - p[2]);
  bike->engine_speed = static_cast<float>(200 + 100 * std::sin(a));
}

inline void scene_step() {
  SceneRace &s = scene();
  for (int i = 0; i < max_slots; i++) {
    if (!s.bikes[i]) continue;
    if (s.modes[i] == 1) pose_from_history(i, s.tic);
  }
  s.tic++;
  for (int i = 0; i < max_slots; i++)
    if (s.bikes[i] && s.modes[i] != 1) scene_move(i);
  demo_write_tic(0);
  demo_read_ahead();
}

inline void scene_install() {
  ReplayRace r = {};
  SceneRace &s = scene();
  r.tic = &s.tic;
  r.results_final = &s.results_final;
  r.gate_drop_tic = &s.gate_drop_tic;
  r.finish_time = &s.finish_time;
  r.finish_laps = &s.finish_laps;
  r.erosion_rate = &s.erosion_rate;
  r.time_trial = &s.time_trial;
  r.viewed_slot = &s.viewed;
  r.slot_bike = [](int slot) { return scene().bikes[slot]; };
  r.slot_drive_mode = [](int slot) { return scene().modes[slot]; };
  r.slot_rider = [](int slot, const char **bike, const char *textures[4], const char **number, const char **name) {
    static const char *numbers[] = {"1", "22", "333"};
    *bike = "cr125";
    textures[0] = slot == 1 ? "@rider_body-alt1.png" : "";
    textures[1] = "";
    textures[2] = "";
    textures[3] = slot == 2 ? "@wheels-alt2.png" : "";
    *number = numbers[slot % 3];
    *name = slot == 0 ? "Rider" : "Roborider";
  };
  r.track_name = [] { return scene().track; };
  r.pack_terrain = scene_terrain;
  r.race_step = scene_step;
  r.cut_timing = [](int, int) {
    scene().cut_calls++;
    return scene().cut_result;
  };
  r.roost_density = &s.roost;
  r.erode_receive = [](const uint8_t *p, int n, int) { scene().erodes.emplace_back(p, p + n); };
  replay_set_race(r);
}

// Empties the scene (destroying its bikes) and installs it.
inline void scene_reset() {
  SceneRace &s = scene();
  for (BikeState *&b : s.bikes) {
    if (b) destroy_bike(b);
    b = nullptr;
  }
  memset(s.modes, 0, sizeof s.modes);
  s.cut_calls = s.cut_result = 0;
  s.tic = s.results_final = s.gate_drop_tic = s.finish_time = s.finish_laps = s.erosion_rate = s.time_trial = 0;
  s.viewed = 0;
  s.roost = 1;
  s.erodes.clear();
  s.track = "testtrack";
  physics_world_create();
  scene_install();
  clear_history();
  demo_reset_for_tests();
}

inline BikeState *scene_bike(int slot, int mode) {
  SceneRace &s = scene();
  s.bikes[slot] = build_bike("cr125", slot, "7", nullptr, nullptr, nullptr, nullptr);
  s.modes[slot] = mode;
  if (mode == 1) bike_deactivate(s.bikes[slot]);
  return s.bikes[slot];
}
