// One bike's physics per tic: the whole tic (terrain contacts, world step,
// physics step), each part alone, and the torus-triangle test that the wheel
// contacts run for every triangle under each tyre. The race runs all of it for
// up to 160 bikes at 128 tics per second.
#include <benchmark/benchmark.h>

#include "../tests/ride_scene.h"
#include "bike/contact.h"

namespace {

// A bike riding a steady circle at about 15 mph on flat ground (or with the
// arcade aids), so that long runs stay on the field and in the same state.
RideScene circling_scene(bool arcade) {
  RideScene s;
  scene_start(&s, make_flat_terrain(6, 2), "crf250(2018)", 128.3f, 128.6f, true);
  s.bike->arcade = arcade ? 1 : 0;
  for (int i = 0; i < 6 * tics_per_second; i++) {
    double v = frame_speed(s.bike);
    bike_set_clutch(s.bike, 1);
    bike_set_throttle(s.bike, v < 22 ? 0.6f : 0.15f);
    bike_set_steer(s.bike, i > 2 * tics_per_second ? 0.6f : 0);
    scene_tic(&s);
  }
  return s;
}

void keep_circling(RideScene *s) {
  bike_set_throttle(s->bike, frame_speed(s->bike) < 22 ? 0.6f : 0.15f);
}

void BM_BikeTic(benchmark::State &state) {
  RideScene s = circling_scene(state.range(0) != 0);
  for (auto _ : state) {
    keep_circling(&s);
    scene_tic(&s);
  }
  state.SetLabel(state.range(0) ? "arcade" : "standard");
  scene_end(&s);
}
BENCHMARK(BM_BikeTic)->Arg(0)->Arg(1);

// The terrain contacts of both wheels (joints made, then thrown away).
void BM_TerrainContacts(benchmark::State &state) {
  RideScene s = circling_scene(false);
  for (auto _ : state) {
    benchmark::DoNotOptimize(bike_terrain_contacts(s.bike, s.terrain));
    dJointGroupEmpty(physics_contact_group());
  }
  scene_end(&s);
}
BENCHMARK(BM_TerrainContacts);

// Contacts plus the world step: the world step's own cost is this minus the
// contacts above. The bike keeps riding (no physics step, so it coasts).
void BM_ContactsAndWorldStep(benchmark::State &state) {
  RideScene s = circling_scene(false);
  for (auto _ : state) {
    bike_terrain_contacts(s.bike, s.terrain);
    physics_world_step();
  }
  scene_end(&s);
}
BENCHMARK(BM_ContactsAndWorldStep);

// The physics step alone (posture, suspension, steering, drivetrain, aids);
// the joints it makes are thrown away and its forces cleared each time.
void BM_PhysicsStep(benchmark::State &state) {
  RideScene s = circling_scene(state.range(0) != 0);
  PhysicsTic now{s.terrain, s.tic, 0};
  for (auto _ : state) {
    bike_physics_step(s.bike, now);
    dJointGroupEmpty(physics_contact_group());
    for (dBodyID b : s.bike->bodies) {
      dBodySetForce(b, 0, 0, 0);
      dBodySetTorque(b, 0, 0, 0);
    }
  }
  state.SetLabel(state.range(0) ? "arcade" : "standard");
  scene_end(&s);
}
BENCHMARK(BM_PhysicsStep)->Arg(0)->Arg(1);

// One torus-triangle test: a tyre resting on a face, and a tyre beside an
// edge (the Newton search).
void BM_TorusTriangle(benchmark::State &state) {
  const float a[3] = {1, 0, 0};
  const float T0[3] = {-5, 0, 0}, T1[3] = {-5, 0, 10}, T2[3] = {5, 0, 0};
  const float face[3] = {0, 0.98f, 3}, edge[3] = {0, 0.8f, -0.5f};
  const float *W = state.range(0) ? edge : face;
  for (auto _ : state) {
    TorusHit h = torus_triangle(W, a, 0.75f, 0.3333333f, T0, T1, T2, 1);
    benchmark::DoNotOptimize(h);
  }
  state.SetLabel(state.range(0) ? "edge and vertex" : "face");
}
BENCHMARK(BM_TorusTriangle)->Arg(0)->Arg(1);

}  // namespace
