// Whole-race costs on the default track ("rabbithill" from the built data):
// the race step with 1, 10, 40 and 160 robot bikes on the auto pilot, its
// parts measured in the same run (terrain contacts, trackside object and
// bike-to-bike contacts, the ODE world step alone as the reference, the auto
// pilot, the bikes' own physics step), and loading the track. Times are CPU
// time of this thread, since the machine is shared; the counter
// "x_realtime" is simulated time over CPU time.
//
// Two phases: "gate" (every bike standing behind the gate before the drop)
// and "riding" (the gate dropped at once, measured from half a second on).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/config.h"
#include "app/types.h"
#include "bike/assembly.h"
#include "bike/bike_step.h"
#include "bike/collide.h"
#include "bike/contact.h"
#include "race/race.h"
#include "robot/autopilot.h"
#include "runner/runner.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

double thread_cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The data beside the benchmarks' build directory, a scratch home.
void open_data() {
  static bool done = false;
  if (done) return;
  done = true;
  if (!getenv("QX_HOME")) {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 8);
    if (n > 0) {
      exe[n] = 0;
      char *slash = strrchr(exe, '/');
      if (slash) strcpy(slash, "/../bin/");
      setenv("QX_HOME", exe, 1);
    }
  }
  char home[] = "/tmp/torvane-runner-bench-XXXXXX";
  if (!mkdtemp(home) || !runner_open_data(home)) {
    fprintf(stderr, "runner_bench: no game data (build torvane_data)\n");
    exit(1);
  }
  if (!select_choice(&game_settings().track, "rabbithill")) {
    fprintf(stderr, "runner_bench: no track rabbithill\n");
    exit(1);
  }
}

constexpr int phase_gate = 0;
constexpr int phase_riding = 1;

// A race of n robots; in the riding phase the gate drops at once and the
// bikes get half a second to get going.
void start_race(int n, int phase) {
  open_data();
  int kinds[max_slots] = {};
  for (int i = 0; i < n; i++) kinds[i] = slot_kind_robot;
  race_state().tic = 1;
  if (!race_reset(kinds, 0, 0, 0, 3, 2)) abort();
  if (phase == phase_riding) race_state().gate_drop_tic = 0;
  for (int t = 0; t < (phase == phase_riding ? 64 : 16); t++) race_step();
}

void report_ratio(benchmark::State &state, double cpu) {
  if (state.iterations() > 0 && cpu > 0)
    state.counters["x_realtime"] = static_cast<double>(state.iterations()) * seconds_per_tic / cpu;
}

// The race step: what a race costs per tic.
void BM_RaceStep(benchmark::State &state) {
  int n = static_cast<int>(state.range(0));
  start_race(n, static_cast<int>(state.range(1)));
  double cpu = 0;
  for (auto _ : state) {
    double t0 = thread_cpu_seconds();
    race_step();
    cpu += thread_cpu_seconds() - t0;
  }
  report_ratio(state, cpu);
  race_free_bikes();
}

// The same tic in the race step's order, taken apart and timed piece by
// piece: terrain contacts of every bike, its trackside object contacts and
// every pair of bikes fastest first, the ODE world step (the reference), the
// auto pilot and every bike's physics step. Roost, erosion, timing gates and
// line recording are left out.
void BM_TicParts(benchmark::State &state) {
  int n = static_cast<int>(state.range(0));
  start_race(n, static_cast<int>(state.range(1)));
  const Terrain *terrain = track_terrain();
  BikeState *bikes[max_slots];
  for (int i = 0; i < n; i++) bikes[i] = race_slot(i)->bike;
  double contacts = 0, collide = 0, world = 0, bike = 0, pilot = 0;
  RaceState &race = race_state();
  for (auto _ : state) {
    double t0 = thread_cpu_seconds();
    for (int i = 0; i < n; i++)
      if (bike_is_active(bikes[i])) bike_terrain_contacts(bikes[i], terrain);
    double t1 = thread_cpu_seconds();
    BikeState *list[max_slots];
    float speed[max_slots];
    for (int i = 0; i < n; i++) {
      object_contacts_near(bikes[i], race.tic);
      // Fastest first, equal speeds in slot order.
      const dReal *u = dBodyGetLinearVel(bikes[i]->bodies[bike_frame]);
      float v = static_cast<float>(std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]));
      int k = i;
      for (; k > 0 && speed[k - 1] < v; k--) {
        list[k] = list[k - 1];
        speed[k] = speed[k - 1];
      }
      list[k] = bikes[i];
      speed[k] = v;
    }
    // The race's broad phase: pairs apart by more than their reaches skip
    // the full test.
    PairBounds bounds;
    pair_bounds(list, n, race.tic, &bounds);
    for (int a = 0; a < n; a++)
      for (int b = a + 1; b < n; b++)
        if (pair_may_touch(bounds, a, b)) bike_bike_contacts(list[a], list[b], 0, race.tic);
    double t2 = thread_cpu_seconds();
    physics_world_step();
    double t3 = thread_cpu_seconds();
    for (int i = 0; i < n; i++) auto_pilot(bikes[i]);
    double t4 = thread_cpu_seconds();
    PhysicsTic now = {terrain, race.tic, race.gate_drop_tic};
    for (int i = 0; i < n; i++) bike_physics_step(bikes[i], now);
    double t5 = thread_cpu_seconds();
    race.tic++;
    contacts += t1 - t0;
    collide += t2 - t1;
    world += t3 - t2;
    pilot += t4 - t3;
    bike += t5 - t4;
  }
  double per = state.iterations() > 0 ? 1e6 / static_cast<double>(state.iterations()) : 0;
  state.counters["contacts_us"] = contacts * per;
  state.counters["collide_us"] = collide * per;
  state.counters["world_step_us"] = world * per;
  state.counters["world_step_us_per_bike"] = world * per / n;
  state.counters["autopilot_us"] = pilot * per;
  state.counters["bike_step_us"] = bike * per;
  if (world > 0) state.counters["world_step_x_realtime"] = static_cast<double>(state.iterations()) * seconds_per_tic / world;
  report_ratio(state, contacts + collide + world + pilot + bike);
  race_free_bikes();
}

void race_sizes(benchmark::internal::Benchmark *b) {
  for (int phase : {phase_gate, phase_riding})
    for (int n : {1, 10, 40, 160}) b->Args({n, phase});
  b->ArgNames({"bikes", "riding"});
  b->Unit(benchmark::kMicrosecond);
  // A fixed stretch of the race, the same in every run.
  b->Iterations(384);
}
BENCHMARK(BM_RaceStep)->Apply(race_sizes);
BENCHMARK(BM_TicParts)->Apply(race_sizes);

// Loading the default track from the archive: height field, tiles, gates,
// objects.
void BM_LoadTrack(benchmark::State &state) {
  open_data();
  for (auto _ : state) {
    if (!load_track("rabbithill")) abort();
    free_track();
  }
}
BENCHMARK(BM_LoadTrack)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
