// What ODE's world step costs for bikes standing on flat ground: 40 bikes
// well apart, and the same 40 in twenty pairs, each bike's front tyre
// pressed into the rear tyre of the one before, so that each pair is joined
// by its bike-to-bike contact joints into one island. Every tic starts from
// the same placed, still pose, so the contact set stays the same; then, in
// the race's order, the bikes' own physics steps, the terrain and
// bike-to-bike contacts and the world step, which alone is timed (CPU time of
// this thread). The counter "world_us_per_bike" is the figure to compare.
// The bare rig (below) is the same step without the bikes' own rows.
#include <benchmark/benchmark.h>
#include <time.h>

#include <vector>

#include "../tests/collide_scene.h"
#include "../tests/ride_scene.h"
#include "../tests/test_util.cpp"
#include "bike/bike_step.h"
#include "bike/contact.h"

namespace {

constexpr int bike_count = 40;

double thread_cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct BodyPose {
  dVector3 position;
  dQuaternion orientation;
};

struct PairScene {
  Terrain *terrain;
  std::vector<BikeState *> bikes;
  std::vector<BodyPose> poses;  // every body of every bike as placed
  int tic;
};

// Bike 2k + 1 stands `gap` feet behind bike 2k (frame to frame); the pairs
// stand 20 ft apart side by side.
PairScene pair_scene(float gap) {
  static CollideData data = collide_data_setup("world-bench");
  physics_world_create();
  install_crash_hooks();
  PairScene s{make_flat_terrain(6, 2), {}, {}, 0};
  for (int i = 0; i < bike_count; i++) {
    BikeState *bike = build_bike("crf250(2018)", i, "1", nullptr, nullptr, nullptr, nullptr);
    const BikeInfo *info = bike_info(bike->model);
    float x = 20 + 20.0f * static_cast<float>(i / 2);
    float z = 100 + gap * static_cast<float>(i % 2);
    move_bike(bike, x - info->frame_position[0], 0, z - info->frame_position[2]);
    s.bikes.push_back(bike);
  }
  place_bikes_on_ground(s.bikes.data(), bike_count, s.terrain);
  for (BikeState *bike : s.bikes)
    for (dBodyID body : bike->bodies) {
      BodyPose p;
      const dReal *x = dBodyGetPosition(body), *q = dBodyGetQuaternion(body);
      for (int k = 0; k < 3; k++) p.position[k] = x[k];
      for (int k = 0; k < 4; k++) p.orientation[k] = q[k];
      s.poses.push_back(p);
    }
  return s;
}

void restore_poses(PairScene *s) {
  size_t n = 0;
  for (BikeState *bike : s->bikes)
    for (dBodyID body : bike->bodies) {
      const BodyPose &p = s->poses[n++];
      dBodySetPosition(body, p.position[0], p.position[1], p.position[2]);
      dBodySetQuaternion(body, p.orientation);
      dBodySetLinearVel(body, 0, 0, 0);
      dBodySetAngularVel(body, 0, 0, 0);
      dBodySetForce(body, 0, 0, 0);
      dBodySetTorque(body, 0, 0, 0);
    }
}

void end_scene(PairScene *s) {
  for (BikeState *bike : s->bikes) destroy_bike(bike);
  terrain_free(s->terrain);
  physics_world_destroy();
}

// Contact joints between the two bikes of each pair.
int joints_between_pairs(const PairScene *s) {
  int n = 0;
  for (int k = 0; k + 1 < bike_count; k += 2)
    for (dBodyID body : s->bikes[k]->bodies)
      for (int j = 0; j < dBodyGetNumJoints(body); j++) {
        dJointID joint = dBodyGetJoint(body, j);
        if (dJointGetType(joint) != dJointTypeContact) continue;
        for (dBodyID other : s->bikes[k + 1]->bodies)
          if (dJointGetBody(joint, 0) == other || dJointGetBody(joint, 1) == other) n++;
      }
  return n;
}

// One tic from the placed pose; returns the CPU seconds of its world step
// and counts the pairs that touched and the joints between them.
double pair_tic(PairScene *s, int *touching, int *joints) {
  restore_poses(s);
  for (BikeState *bike : s->bikes) {
    bike_set_front_brake(bike, 1);
    bike_set_rear_brake(bike, 1);
    bike_physics_step(bike, PhysicsTic{s->terrain, s->tic, 0});
  }
  for (BikeState *bike : s->bikes) bike_terrain_contacts(bike, s->terrain);
  *touching = 0;
  for (int k = 0; k + 1 < bike_count; k += 2)
    *touching += bike_bike_contacts(s->bikes[k], s->bikes[k + 1], 0, s->tic) != 0;
  *joints = joints_between_pairs(s);
  double t0 = thread_cpu_seconds();
  physics_world_step();
  double t = thread_cpu_seconds() - t0;
  s->tic++;
  return t;
}

void BM_WorldStepPairs(benchmark::State &state) {
  // 12 ft behind, nothing touches; 6.6 ft behind, the front tyre is 0.2 ft
  // into the rear tyre of the bike ahead; 6 ft behind, 0.8 ft.
  const float gaps[] = {12.0f, 6.6f, 6.0f};
  float gap = gaps[state.range(0)];
  PairScene s = pair_scene(gap);
  int touching = 0, joints = 0;
  double world = 0;
  for (auto _ : state) world += pair_tic(&s, &touching, &joints);
  double n = static_cast<double>(state.iterations());
  if (n > 0) state.counters["world_us_per_bike"] = world * 1e6 / n / bike_count;
  state.counters["touching_pairs"] = touching;
  state.counters["joints_per_pair"] = touching ? static_cast<double>(joints) / touching : 0;
  end_scene(&s);
}
BENCHMARK(BM_WorldStepPairs)->Arg(0)->Arg(1)->Arg(2)->ArgName("touching")->Unit(benchmark::kMicrosecond)->Iterations(512);

// The bare rig, the 40 bikes well apart with only their six assembly joints
// and the two tyre contacts: no bike physics step, so no suspension, brake
// or rider posture rows. Against "touching:0" this shows what the rows the
// bike's own step adds (fork and shock motors, brakes, the rider's two
// posture springs) cost in the solver.
void BM_WorldStepBareRig(benchmark::State &state) {
  PairScene s = pair_scene(12.0f);
  double world = 0;
  for (auto _ : state) {
    restore_poses(&s);
    for (BikeState *bike : s.bikes) bike_terrain_contacts(bike, s.terrain);
    double t0 = thread_cpu_seconds();
    physics_world_step();
    world += thread_cpu_seconds() - t0;
    s.tic++;
  }
  double n = static_cast<double>(state.iterations());
  if (n > 0) state.counters["world_us_per_bike"] = world * 1e6 / n / bike_count;
  end_scene(&s);
}
BENCHMARK(BM_WorldStepBareRig)->Unit(benchmark::kMicrosecond)->Iterations(512);

}  // namespace
