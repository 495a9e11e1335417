// Roost particles: emission per the tile's roost types and the density
// setting, the fling and splash directions, motion under drag and gravity,
// the 2000-particle pool with its billboards, and replay from the seed.
#include <gtest/gtest.h>
#include <ode/ode.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "app/random.h"
#include "bike/assembly.h"
#include "bike/bike.h"
#include "track/objects.h"
#include "track/roost.h"
#include "track/terrain.h"
#include "track/tiles.h"

namespace {

constexpr float pi = 3.14159265f;

// A bike reduced to what the roost reads: two free wheel bodies with their
// contact records, on a flat field at height 0 whose one tile throws roost.
struct RoostScene {
  Terrain *terrain;
  BikeState *bike;

  RoostScene() {
    physics_world_create();
    terrain = terrain_create(6, 2, 0, 0);
    tile_defaults(&terrain->tiles[0]);
    terrain->tile_count = 1;
    RoostType type = roost_defaults();
    type.kind = 1;
    terrain->tiles[0].roost[0] = type;
    bike = new BikeState{};
    for (int w = 0; w < 2; w++) {
      WheelContact &c = bike->wheels[w];
      c.body = dBodyCreate(physics_world());
      c.axle[0] = 1;
      c.ring_radius = 0.8f;
      c.tube_radius = 0.2f;
      float z = w == 0 ? 60.0f : 64.0f;
      dBodySetPosition(c.body, 60, 0.95, z);
      c.point[0] = 60;
      c.point[1] = 0;
      c.point[2] = z;
      c.normal[1] = 1;
      c.depth = 0.05f;
    }
    roost_reset();
  }
  ~RoostScene() {
    roost_reset();
    for (WheelContact &c : bike->wheels) dBodyDestroy(c.body);
    delete bike;
    terrain_free(terrain);
  }
  // Riding forward (-z) at v ft/s, rolling: the contact point slips backward
  // at `slip` ft/s relative to the ground.
  void ride(float v, float slip, float spin) {
    for (WheelContact &c : bike->wheels) {
      dBodySetLinearVel(c.body, 0, 0, -v);
      dBodySetAngularVel(c.body, -spin, 0, 0);
      c.velocity[0] = 0;
      c.velocity[1] = 0;
      c.velocity[2] = slip;
    }
  }
  RoostType &type(int k) { return terrain->tiles[0].roost[k]; }
};

int emitted(RoostScene *s, int density, int tic, int from_history = 0) {
  roost_reset();
  roost_emit(s->terrain, s->bike, from_history, density, tic);
  return roost_live_count();
}

std::vector<const RoostParticle *> live_particles() {
  std::vector<const RoostParticle *> out;
  for (int k = 0; k < roost_pool_size; k++)
    if (roost_particle(k)->live) out.push_back(roost_particle(k));
  return out;
}

}  // namespace

TEST(Roost, DensityAndTileTypesSetTheCount) {
  random_seed(1);
  RoostScene s;
  s.ride(30, 10, 30);
  // count 10 per type, capped at density / 100 per wheel.
  EXPECT_EQ(emitted(&s, 1000, 0), 20);
  EXPECT_EQ(emitted(&s, 300, 0), 6);
  EXPECT_EQ(emitted(&s, 0, 0), 0);
  EXPECT_EQ(emitted(&s, 99999, 0), 20);  // clamped to 1000
  // A density of 250 caps at 2 or 3, 3 half of the time.
  int total = 0;
  for (int k = 0; k < 400; k++) total += emitted(&s, 250, k);
  EXPECT_NEAR(total / 800.0, 2.5, 0.1);
  // A fractional count: 2.5 particles per type and wheel on average.
  s.type(0).count = 2.5f;
  total = 0;
  for (int k = 0; k < 400; k++) total += emitted(&s, 1000, k);
  EXPECT_NEAR(total / 800.0, 2.5, 0.1);
  s.type(0).count = 4;
  // Too little slip: no fling. A splash type throws whatever the slip.
  s.ride(30, 3, 30);
  EXPECT_EQ(emitted(&s, 1000, 0), 0);
  s.type(1) = roost_defaults();
  s.type(1).kind = 2;
  s.type(1).count = 3;
  EXPECT_EQ(emitted(&s, 1000, 0), 6);
  s.ride(30, 10, 30);
  EXPECT_EQ(emitted(&s, 1000, 0), 14);
  // Types after an empty one are not used; an empty first type means none.
  s.type(0).kind = 0;
  EXPECT_EQ(emitted(&s, 1000, 0), 0);
  s.type(0).kind = 1;
  // A wheel off the ground throws nothing.
  s.bike->wheels[0].depth = 0;
  EXPECT_EQ(emitted(&s, 1000, 0), 7);
  // A history-driven bike tests its wheels afresh, its slip being the wheel
  // body's velocity at the contact: the rear wheel raised clear of the ground
  // throws nothing, the front one pressed in throws.
  s.ride(30, 0, 20);
  dBodySetPosition(s.bike->wheels[1].body, 60, 3, 64);
  EXPECT_EQ(emitted(&s, 1000, 0, 1), 7);
  dBodySetPosition(s.bike->wheels[1].body, 60, 0.95, 64);
  EXPECT_EQ(emitted(&s, 1000, 0, 1), 14);
}

TEST(Roost, FlingLeavesTheBackOfTheTyre) {
  random_seed(2);
  RoostScene s;
  s.type(0).count = 10;
  s.type(0).randomize = 0;
  s.bike->wheels[0].depth = 0;  // the rear wheel alone
  // Where particle k of n left the tyre: it starts k / n of a tic along its
  // velocity from there (randomize 0, vscale 1). The angle is measured from
  // straight down toward +z, the rear.
  auto tyre_angle = [](const float centre[3], int k, int n, float *rear_offset) {
    const RoostParticle *p = roost_particle(k);
    float lead = static_cast<float>(k) * 0.0078125f / static_cast<float>(n);
    float rel[3];
    for (int i = 0; i < 3; i++) rel[i] = p->position[i] - p->velocity[i] * lead - centre[i];
    *rear_offset = rel[2];
    return std::atan2(rel[2], -rel[1]);
  };
  const float centre[3] = {60, 0.95f, 64};
  auto spread = [&](float *lowest_z) {
    float widest = 0;
    *lowest_z = 1e9f;
    EXPECT_EQ(roost_live_count(), 10);
    for (int k = 0; k < 10; k++) {
      float offset;
      widest = std::fmax(widest, std::fabs(tyre_angle(centre, k, 10, &offset)));
      *lowest_z = std::fmin(*lowest_z, offset);
    }
    return widest;
  };
  // Rolling forward with the tyre spinning fast: the fast angle (pi / 16).
  s.ride(30, 10, 70);
  float back = 0;
  for (int k = 0; k < 20; k++) {
    roost_emit(s.terrain, s.bike, 0, 1000, k);
    float widest = spread(&back);
    EXPECT_LE(widest, pi / 16 + 0.02f);
    EXPECT_GE(back, -1e-3f);
    roost_reset();
  }
  // Spinning slowly: the slow angle, pi / 2, for the rear wheel.
  s.ride(30, 10, 0);
  float widest = 0;
  for (int k = 0; k < 20; k++) {
    roost_emit(s.terrain, s.bike, 0, 1000, k);
    widest = std::fmax(widest, spread(&back));
    roost_reset();
  }
  EXPECT_GT(widest, pi / 4);
  EXPECT_LE(widest, pi / 2 + 0.02f);
  // The front wheel is held to pi / 8.
  s.bike->wheels[0].depth = 0.05f;
  s.bike->wheels[1].depth = 0;
  const float front[3] = {60, 0.95f, 60};
  widest = 0;
  for (int k = 0; k < 20; k++) {
    roost_emit(s.terrain, s.bike, 0, 1000, k);
    float offset;
    for (int i = 0; i < 10; i++) widest = std::fmax(widest, std::fabs(tyre_angle(front, i, 10, &offset)));
    roost_reset();
  }
  EXPECT_GT(widest, pi / 16);
  EXPECT_LE(widest, pi / 8 + 0.02f);
  // A skidding tyre (sliding the way it travels) throws within pi / 64, each
  // particle with the tyre's own velocity at its point.
  s.ride(30, -10, 0);
  for (WheelContact &c : s.bike->wheels) c.velocity[2] = -10;
  roost_emit(s.terrain, s.bike, 0, 1000, 0);
  ASSERT_EQ(roost_live_count(), 10);
  for (int k = 0; k < 10; k++) {
    float offset;
    EXPECT_LE(std::fabs(tyre_angle(front, k, 10, &offset)), pi / 64 + 1e-3f);
    EXPECT_NEAR(roost_particle(k)->velocity[2], -30, 1e-3);
  }
}

TEST(Roost, SplashJetsRiseToEitherSide) {
  random_seed(3);
  RoostScene s;
  s.type(0).kind = 2;
  s.type(0).count = 6;
  s.type(0).randomize = 0;
  s.bike->wheels[1].depth = 0;
  s.ride(20, 0, 25);
  const int tic = 5;
  roost_emit(s.terrain, s.bike, 0, 1000, tic);
  ASSERT_EQ(roost_live_count(), 6);
  // Travelling along -z: the jets are (-1, 1, 0) and (1, 1, 0) times
  // 20 / sqrt(2), particle k on the first when tic xor k is even, scaled by a
  // random share u.
  int k = 0;
  for (const RoostParticle *p : live_particles()) {
    float side = ((tic ^ k) & 1) == 0 ? -1.0f : 1.0f;
    EXPECT_NEAR(p->velocity[0], side * p->velocity[1], 1e-4) << k;
    EXPECT_GE(p->velocity[1], 0);
    EXPECT_LE(p->velocity[1], 20 / std::sqrt(2.0f) + 1e-4);
    EXPECT_NEAR(p->velocity[2], 0, 1e-4);
    float lead = k * 0.0078125f / 6;
    EXPECT_NEAR(p->position[0], 60 + side * 20 / std::sqrt(2.0f) * lead, 1e-4);
    EXPECT_NEAR(p->position[1], 20 / std::sqrt(2.0f) * lead, 1e-4);
    k++;
  }
}

TEST(Roost, ParticlesFlyFadeAndLand) {
  random_seed(4);
  for (int k = 0; k < roost_pool_size; k++) add_billboard(0, 0, 0, 1, 1, 0);
  add_billboard(5, 5, 5, 2, 2, 0);  // an ordinary billboard after the pool
  RoostScene s;
  s.type(0).count = 1;
  s.type(0).randomize = 0;
  s.type(0).texture = 77;
  s.type(0).r = 200;
  s.type(0).fade_r = 0x80;  // -128 per tic
  s.bike->wheels[0].depth = 0;
  s.ride(30, -10, 0);
  dBodySetLinearVel(s.bike->wheels[1].body, 0, 10, -30);  // thrown upward
  roost_emit(s.terrain, s.bike, 0, 1000, 0);
  ASSERT_EQ(roost_live_count(), 1);
  const RoostParticle *p = live_particles()[0];
  int index = static_cast<int>(p - roost_particle(0));
  const Billboard *b = track_billboard(index);
  EXPECT_EQ(b->visible, 1);
  EXPECT_EQ(b->texture, 77u);
  EXPECT_EQ(b->colour[0], 200);
  EXPECT_FLOAT_EQ(b->width, 0.25f);

  RoostParticle before = *p;
  roost_move(s.terrain);
  const float dt = 0.0078125f;
  for (int i = 0; i < 3; i++) {
    EXPECT_FLOAT_EQ(p->position[i], before.position[i] + before.velocity[i] * dt);
    float v = before.velocity[i] - before.velocity[i] * dt * 0.5f - (i == 1 ? 32 * dt : 0);
    EXPECT_NEAR(p->velocity[i], v, 1e-5);
  }
  EXPECT_FLOAT_EQ(p->size, 0.25f + 4 * dt);
  EXPECT_EQ(p->colour[0], 72);   // 200 - 128
  EXPECT_EQ(p->colour[3], 253);  // fade_a 254 takes 2 from 255, clamped below at 0
  EXPECT_FLOAT_EQ(b->x, p->position[0]);
  EXPECT_FLOAT_EQ(b->y, p->position[1]);
  roost_move(s.terrain);
  EXPECT_EQ(p->colour[0], 0);
  // It falls back and is gone, its billboard hidden; the ordinary billboard
  // is untouched.
  int tics = 2;
  while (roost_live_count() > 0 && tics < 2000) {
    roost_move(s.terrain);
    tics++;
  }
  EXPECT_EQ(roost_live_count(), 0);
  EXPECT_GT(tics, 10);
  EXPECT_EQ(b->visible, 0);
  EXPECT_EQ(track_billboard(roost_pool_size)->visible, 1);
  EXPECT_FLOAT_EQ(track_billboard(roost_pool_size)->x, 5);
  // Without a terrain every particle goes.
  roost_emit(s.terrain, s.bike, 0, 1000, 0);
  roost_move(nullptr);
  EXPECT_EQ(roost_live_count(), 0);
  free_track_objects();
}

TEST(Roost, PoolHoldsTwoThousand) {
  random_seed(5);
  RoostScene s;
  s.ride(30, 10, 30);
  for (int k = 0; k < 150; k++) roost_emit(s.terrain, s.bike, 0, 1000, k);  // 3000 asked for
  EXPECT_EQ(roost_live_count(), roost_pool_size);
  // Particles that land go back to the pool and are used again.
  for (int k = 0; k < 2000 && roost_live_count() > 0; k++) roost_move(s.terrain);
  EXPECT_EQ(roost_live_count(), 0);
  roost_emit(s.terrain, s.bike, 0, 1000, 0);
  EXPECT_EQ(roost_live_count(), 20);
}

TEST(Roost, ReplaysFromTheSeed) {
  auto run = [](std::vector<float> *out) {
    random_seed(1234);
    RoostScene s;
    s.type(1) = roost_defaults();
    s.type(1).kind = 2;
    s.type(0).count = 3.3f;
    s.ride(25, 12, 30);
    for (int tic = 0; tic < 200; tic++) {
      roost_emit(s.terrain, s.bike, 0, 370, tic);
      roost_move(s.terrain);
    }
    for (int k = 0; k < roost_pool_size; k++) {
      const RoostParticle *p = roost_particle(k);
      if (!p->live) continue;
      out->insert(out->end(), p->position, p->position + 3);
      out->insert(out->end(), p->velocity, p->velocity + 3);
    }
    return random_u32();
  };
  std::vector<float> a, b;
  uint32_t next_a = run(&a), next_b = run(&b);
  ASSERT_GT(a.size(), 100u);
  EXPECT_EQ(a, b);
  EXPECT_EQ(next_a, next_b);  // the shared generator is left in the same state
}
