// Packing and unpacking a bike's state (every fourth tic per recorded or
// remote rider) and building and destroying a bike (every race reset, up to
// 160 bikes).
#include <benchmark/benchmark.h>

#include "bike/assembly.h"
#include "bike/bike.h"

namespace {

const PackTerrain terrain = {4096, -100, nullptr, nullptr};

BikeState *posed_bike() {
  physics_world_create();
  BikeState *bike = build_bike("yz250f(2017)", 0, "42", nullptr, nullptr, nullptr, nullptr);
  move_bike(bike, 2000, 10, 1500);
  dBodySetAngularVel(bike->bodies[bike_frame], 0.3, 0.2, 0.1);
  for (int t = 0; t < 10; t++) physics_world_step();
  bike->engine_speed = 900;
  return bike;
}

void BM_PackBikeState(benchmark::State &state) {
  BikeState *bike = posed_bike();
  for (auto _ : state) {
    PackedBikeState p = pack_bike_state(bike, terrain);
    benchmark::DoNotOptimize(p);
  }
  destroy_bike(bike);
}
BENCHMARK(BM_PackBikeState);

void BM_UnpackBikeState(benchmark::State &state) {
  BikeState *bike = posed_bike();
  PackedBikeState p = pack_bike_state(bike, terrain);
  for (auto _ : state) {
    unpack_bike_state(bike, p, terrain);
    benchmark::ClobberMemory();
  }
  destroy_bike(bike);
}
BENCHMARK(BM_UnpackBikeState);

void BM_UnpackBikeStateMoving(benchmark::State &state) {
  BikeState *bike = posed_bike();
  PackedBikeState older = pack_bike_state(bike, terrain);
  move_bike(bike, 1, 0, -2);
  PackedBikeState newer = pack_bike_state(bike, terrain);
  bike_deactivate(bike);
  for (auto _ : state) {
    unpack_bike_state_moving(bike, older, newer, newer, 4, terrain);
    benchmark::ClobberMemory();
  }
  destroy_bike(bike);
}
BENCHMARK(BM_UnpackBikeStateMoving);

void BM_BuildAndDestroyBike(benchmark::State &state) {
  physics_world_create();
  for (auto _ : state) {
    BikeState *bike = build_bike("crf450(2018)", 1, "7", nullptr, nullptr, nullptr, nullptr);
    benchmark::DoNotOptimize(bike);
    destroy_bike(bike);
  }
}
BENCHMARK(BM_BuildAndDestroyBike);

}  // namespace
