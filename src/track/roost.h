// Roost: the dirt the wheels throw up. A pool of particles, each tied to one
// billboard of the track's roost pool (the first 2000 billboards), emitted
// from the wheel contacts according to the roost types of the tile under the
// tyre and moved every tic under drag and gravity until they fall back to the
// ground. All random numbers come from the shared generator, so a race
// replays the same particles.
#pragma once
#include <cstdint>

#include "track/objects.h"
#include "track/tiles.h"

struct BikeState;
struct Terrain;

constexpr int roost_pool_size = 2000;
static_assert(roost_pool_size == roost_billboard_pool, "one billboard per particle");
constexpr float front_roost_spread = 0.39269908f;  // pi / 8
constexpr float rear_roost_spread = 6.2831853f;    // 2 pi
constexpr int max_roost_density = 1000;

struct RoostParticle {
  float position[3];
  float velocity[3];  // ft/s
  float size;         // ft, the billboard's width and height
  uint8_t colour[4];  // r, g, b, a
  RoostType type;     // drag, growth and fade of the kind that threw it
  int live;
  int next_free;      // free list link, -1 at the end
};

// Kills every particle and hides the pool's billboards: at a race reset and
// when a track is freed.
void roost_reset();
// Emission for one bike, once per tic before the world step. `from_history`:
// the bike has no physics contact and its wheels are tested afresh. density is
// the active roost density (0 ... 1000; 0 while a demo seeks).
void roost_emit(const Terrain *terrain, BikeState *bike, int from_history, int density, int tic);
// Moves every live particle by one tic and removes those that have fallen
// back to the ground (all of them when there is no terrain).
void roost_move(const Terrain *terrain);

int roost_live_count();
const RoostParticle *roost_particle(int index);
