// Contacts of 40 bikes bunched at the start: 20 start gates 2.25 ft apart
// (handlebars overlapping their neighbours'), two rows, a start-gate statue
// in front of each position and a few posts around. Measured: every pair of
// bikes through bike_bike_contacts, every bike against the objects near it
// through the grid, and the whole tic with terrain contacts, world step and
// physics steps for scale.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../tests/collide_scene.h"
#include "../tests/ride_scene.h"
#include "../tests/test_util.cpp"
#include "assets/file.h"
#include "track/gates.h"
#include "track/objects.h"

namespace {

constexpr int bike_count = 40;
constexpr int gate_count = 20;

struct StartScene {
  Terrain *terrain;
  std::vector<BikeState *> bikes;
  int tic;
};

StartScene start_scene() {
  static CollideData data = collide_data_setup("collide-bench");
  physics_world_create();
  install_crash_hooks();
  StartScene s{make_flat_terrain(6, 2), {}, 0};
  std::string text = "startinggate:\n";
  for (int g = 0; g < gate_count; g++)
    text += "[" + std::to_string(100 + 2.25 * g) + " 0 120] 0 null null @startgate.shp\n";
  text += "checkpoints:\n";
  std::string path = data.dir + "timing_gates";
  write_text_file(path, text);
  DataFile *file = dfile_open(path.c_str(), "rb");
  timing_gates_read(file, 1);
  dfile_close(file);
  for (int k = 0; k < 12; k++) add_statue(90 + 5.0f * k, 0, 100 + (k % 3) * 12.0f, 0, nullptr, nullptr, "@post.shp");
  object_grid_build(s.terrain);
  for (int i = 0; i < bike_count; i++) {
    BikeState *bike = build_bike("crf250(2018)", i, "1", nullptr, nullptr, nullptr, nullptr);
    const BikeInfo *info = bike_info(bike->model);
    float x = 100 + 2.25f * static_cast<float>(i % gate_count);
    float z = 120 + 0.625f + 10.0f * static_cast<float>(i / gate_count);
    move_bike(bike, x - info->frame_position[0], 0, z - info->frame_position[2]);
    s.bikes.push_back(bike);
  }
  place_bikes_on_ground(s.bikes.data(), bike_count, s.terrain);
  return s;
}

void end_scene(StartScene *s) {
  for (BikeState *bike : s->bikes) destroy_bike(bike);
  free_track_objects();
  timing_gates_reset();
  object_grid_free();
  terrain_free(s->terrain);
  physics_world_destroy();
}

double speed_of(const BikeState *bike) {
  const dReal *v = dBodyGetLinearVel(bike->bodies[bike_frame]);
  return v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
}

// The race's order: fastest first, every pair once.
int all_pairs(StartScene *s) {
  std::vector<BikeState *> list = s->bikes;
  std::stable_sort(list.begin(), list.end(),
                   [](const BikeState *a, const BikeState *b) { return speed_of(a) > speed_of(b); });
  int touched = 0;
  for (int a = 0; a < bike_count; a++)
    for (int b = a + 1; b < bike_count; b++) touched += bike_bike_contacts(list[a], list[b], 0, s->tic) != 0;
  return touched;
}

void full_tic(StartScene *s) {
  for (BikeState *bike : s->bikes) {
    bike_terrain_contacts(bike, s->terrain);
    object_contacts_near(bike, s->tic);
  }
  all_pairs(s);
  physics_world_step();
  for (BikeState *bike : s->bikes) {
    bike_set_clutch(bike, 1);
    bike_set_throttle(bike, 0.3f);
    bike_physics_step(bike, PhysicsTic{s->terrain, s->tic, 0});
  }
  s->tic++;
}

// Rolled forward against the gates for half a second so that the bikes lean
// on the gates and on each other as they do before the drop.
StartScene settled_scene() {
  StartScene s = start_scene();
  for (int i = 0; i < 64; i++) full_tic(&s);
  return s;
}

void BM_BikeBikeContacts40(benchmark::State &state) {
  StartScene s = settled_scene();
  int touched = 0;
  for (auto _ : state) {
    touched = all_pairs(&s);
    dJointGroupEmpty(physics_contact_group());
    s.tic++;
  }
  state.counters["touching_pairs"] = touched;
  end_scene(&s);
}
BENCHMARK(BM_BikeBikeContacts40)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ObjectContacts40(benchmark::State &state) {
  StartScene s = settled_scene();
  int touched = 0;
  for (auto _ : state) {
    touched = 0;
    for (BikeState *bike : s.bikes) touched += object_contacts_near(bike, s.tic) != 0;
    dJointGroupEmpty(physics_contact_group());
    s.tic++;
  }
  state.counters["bikes_on_objects"] = touched;
  end_scene(&s);
}
BENCHMARK(BM_ObjectContacts40)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_WholeTic40(benchmark::State &state) {
  StartScene s = settled_scene();
  for (auto _ : state) full_tic(&s);
  end_scene(&s);
}
BENCHMARK(BM_WholeTic40)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
