// The ring track of the race tests: a flat field 256 ft square with six
// timing gates on a ring of radius 50 ft around its centre, a start grid
// just past the finish line, written to a scratch directory and selected
// as the race's track. Tests add their own files to `dir` before the reset.
#pragma once
#include <cmath>
#include <cstdio>
#include <string>

#include "app/config.h"
#include "bike/assembly.h"
#include "bike/bike.h"
#include "race/race.h"
#include "race/results.h"
#include "test_util.h"
#include "track/track.h"

namespace ring_scene {

inline constexpr float centre = 128;  // the field is 256 ft square
inline constexpr float ring = 50;
inline constexpr float pi = 3.14159265f;

inline std::string flat_terrain() {
  // Size exponent 6 (129 x 129 samples), spacing 2, every sample at 5 ft.
  std::string s = "6 2.0 4 6\n:";
  for (int k = 0; k < 129 * 129; k++) {
    s += static_cast<char>(0xff);
    s += static_cast<char>(0x7f);
  }
  return s;
}

// Six gates around the ring, each facing along increasing angle; the laps
// run 1 2 3 4 5 0, so gate 0 is the finish line. The grid stands just past
// gate 0, facing along the ring.
inline std::string ring_gates(int grid) {
  std::string text;
  if (grid > 0) {
    text = "startinggate:\n";
    for (int k = 0; k < grid; k++) {
      // Across the track at 10 degrees, bikes facing +z (angle pi).
      char line[128];
      snprintf(line, sizeof line, "[%f 5 %f] %f\n", centre + ring - 6 + 4.0f * k, centre + 10, pi);
      text += line;
    }
  }
  text += "checkpoints:\n";
  for (int k = 0; k < 6; k++) {
    float a = k * pi / 3;
    char line[200];
    snprintf(line, sizeof line, "12 [%f 5 %f] [%f 0 %f]\n", centre + ring * std::cos(a), centre + ring * std::sin(a),
             -std::sin(a), std::cos(a));
    text += line;
  }
  return text + "firstlap: 1 2 3 4 5 0\nnormallap: 1 2 3 4 5 0\n";
}

struct Track {
  std::string root;
  std::string dir;  // the track directory, with a trailing slash
  explicit Track(int grid = 4) {
    root = make_temp_dir("race") + "/";
    dir = root + "tracks/ring/";
    write_text_file(dir + "terrain.hf", flat_terrain());
    write_text_file(dir + "tileinfo", "texture @dirt.png\naddtile\n");
    write_text_file(dir + "tilemap", std::string(64 * 64, '\0'));
    write_text_file(dir + "shadingx2.ppm", flat_shading_ppm(129));
    write_text_file(dir + "timing_gates", ring_gates(grid));
    track_set_root(root.c_str());
    const char *names[] = {"tracks/ring"};
    set_track_names(names, 1);
    select_choice(&game_settings().track, "tracks/ring");
    physics_world_create();
    set_results_path((root + "results.txt").c_str());
    race_state().tic = 0;
  }
  ~Track() {
    race_free_bikes();
    free_track();
    track_set_root("@");
    set_results_path(nullptr);
    race_state() = RaceState{};
  }
};

// Puts the bike's front wheel at angle `a` on the ring, keeping its height.
inline void drive_to(BikeState *bike, float a) {
  const dReal *w = dBodyGetPosition(bike->bodies[bike_front_wheel]);
  move_bike(bike, centre + ring * std::cos(a) - w[0], 0, centre + ring * std::sin(a) - w[2]);
}

// The test driver: nobody moves before the gate drop; then slot i rides the
// ring from just past the finish line at 40 + 4 i ft/s.
inline void drive(int ridden) {
  const RaceState &race = race_state();
  if (race.tic < race.gate_drop_tic) return;
  for (int i = 0; i < ridden; i++) {
    Slot *s = race_slot(i);
    if (!s->bike) continue;
    float distance = (40.0f + 4.0f * i) * (race.tic - race.gate_drop_tic) * static_cast<float>(seconds_per_tic);
    drive_to(s->bike, 0.05f + distance / ring);
  }
}

}  // namespace ring_scene
