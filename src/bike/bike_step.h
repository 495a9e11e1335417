// The per-bike physics step in its fixed order, the hooks through which the
// dabbing and crash code joins it, and the small loop (contacts, world step,
// physics step) that tests, benchmarks and the race step share.
#pragma once
#include "bike/bike.h"

struct Terrain;

// What a physics step needs from the race: the ground, the race's tic
// counter and the tic at which the race started.
struct PhysicsTic {
  const Terrain *terrain;
  int tic;
  int start_tic;
};

// The dabbing and crash code plugs in here; a null hook is skipped.
struct CrashHooks {
  void (*crash_check)(BikeState *bike, const PhysicsTic &now);          // also the crashed rider
  void (*auto_dab_and_back_up)(BikeState *bike, const PhysicsTic &now);  // may override inputs
  void (*foot_down_step)(BikeState *bike, const PhysicsTic &now);
  void (*feet_step)(BikeState *bike, const PhysicsTic &now);
};
void set_crash_hooks(const CrashHooks &hooks);

// Once per tic for every bike, after its contacts and after the world step
// (its forces and joints act in the next world step).
void bike_physics_step(BikeState *bike, const PhysicsTic &now);

// One whole tic for a set of bikes, in the race step's order: every active
// bike's terrain contacts, one world step (which empties the contact group),
// then each bike's physics step. `now.tic` is the tic being run.
void bike_sim_tic(BikeState *const *bikes, int count, const PhysicsTic &now);
