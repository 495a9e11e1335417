// History lookups and posing: every history-driven rider (up to 159) is
// posed once per tic, and a lookup may walk a whole 128-entry ring.
#include <benchmark/benchmark.h>

#include "bike/assembly.h"
#include "bike/bike.h"
#include "replay/history.h"

namespace {

const PackTerrain terrain = {4096, -100, nullptr, nullptr};
BikeState *bench_bike;

void fill_ring(int slot) {
  clear_history();
  physics_world_create();
  if (!bench_bike) bench_bike = build_bike("yz250f(2017)", slot, "42", nullptr, nullptr, nullptr, nullptr);
  for (int i = 0; i < history_length; i++) {
    move_bike(bench_bike, 0.5, 0, 0.25);
    add_state_to_history(slot, pack_bike_state(bench_bike, terrain), 4 * i + 1000);
  }
}

void BM_InterpolatePacked(benchmark::State &state) {
  fill_ring(0);
  const HistoryRing *ring = history_ring(0);
  const PackedBikeState &a = ring->entries[0].state, &b = ring->entries[1].state;
  for (auto _ : state) {
    PackedBikeState p = interpolate_packed(a, b, 0.375);
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_InterpolatePacked);

// A tic before the oldest entry: the walk covers the whole ring.
void BM_BracketWholeRing(benchmark::State &state) {
  fill_ring(0);
  int older, newer;
  for (auto _ : state) {
    benchmark::DoNotOptimize(history_bracket(0, 10, &older, &newer));
  }
}
BENCHMARK(BM_BracketWholeRing);

void BM_PoseFromHistory(benchmark::State &state) {
  fill_ring(0);
  bike_deactivate(bench_bike);
  ReplayRace race = {};
  race.slot_bike = [](int) { return bench_bike; };
  race.pack_terrain = [] { return terrain; };
  replay_set_race(race);
  int tic = 1000;
  for (auto _ : state) {
    pose_from_history(0, tic);
    tic = tic < 1000 + 4 * history_length ? tic + 1 : 1000;
  }
  replay_set_race(ReplayRace{});
}
BENCHMARK(BM_PoseFromHistory);

}  // namespace
