// Small riding scenes shared by the riding tests and benchmarks: a terrain
// built in place (flat, or with a shape drawn into it) with one default tile,
// one bike placed on it, and the tic loop of the race step.
#pragma once
#include <cmath>

#include "app/types.h"
#include "bike/assembly.h"
#include "bike/bike_step.h"
#include "bike/contact.h"
#include "track/terrain.h"
#include "track/tiles.h"

// A flat terrain of (2^size_exp * 2 + 1)^2 vertices at height 0 with one
// default tile under every square.
inline Terrain *make_flat_terrain(int size_exp, float spacing) {
  Terrain *t = terrain_create(size_exp, spacing, 0, 0);
  tile_defaults(&t->tiles[0]);
  t->tile_count = 1;
  return t;
}

struct RideScene {
  Terrain *terrain = nullptr;
  BikeState *bike = nullptr;
  int tic = 0;
  int start_tic = 0;
};

// Builds the model, applies the player's default setup when `menu_setup` is
// set (else the bike keeps its built-in defaults), moves it to (x, z) and
// puts it on the ground.
inline void scene_start(RideScene *scene, Terrain *terrain, const char *model, float x, float z, bool menu_setup) {
  scene->terrain = terrain;
  scene->bike = build_bike(model, 0, "1", nullptr, nullptr, nullptr, nullptr);
  if (menu_setup) apply_setup(scene->bike, bike_setup_defaults(), 0);
  const BikeInfo *info = bike_info(scene->bike->model);
  move_bike(scene->bike, x - info->frame_position[0], terrain_height(terrain, x, z), z - info->frame_position[2]);
  BikeState *bikes[1] = {scene->bike};
  place_bikes_on_ground(bikes, 1, terrain);
  scene->tic = 0;
  scene->start_tic = 0;
}

inline void scene_tic(RideScene *scene) {
  BikeState *bikes[1] = {scene->bike};
  bike_sim_tic(bikes, 1, PhysicsTic{scene->terrain, scene->tic, scene->start_tic});
  scene->tic++;
}

inline void scene_end(RideScene *scene) {
  destroy_bike(scene->bike);
  terrain_free(scene->terrain);
  scene->bike = nullptr;
  scene->terrain = nullptr;
}

inline double frame_speed(const BikeState *bike) {
  const dReal *v = dBodyGetLinearVel(bike->bodies[bike_frame]);
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}
inline const dReal *frame_position(const BikeState *bike) { return dBodyGetPosition(bike->bodies[bike_frame]); }
