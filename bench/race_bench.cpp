// The race step: one tic of a race with 1, 10, 40 and 160 robot bikes
// standing behind the gates of a flat written track with a ring of timing
// gates and no robot lines, and the running-order update with every slot
// timed. The race over real ground, riding, is in runner_bench.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/config.h"
#include "bike/assembly.h"
#include "race/race.h"
#include "race/running_order.h"
#include "track/gates.h"
#include "track/track.h"

namespace {

void write_file(const std::string &path, const std::string &content) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) abort();
  fwrite(content.data(), 1, content.size(), f);
  fclose(f);
}

// Writes tracks/ring under a scratch root once and selects it.
void ring_track() {
  static bool done = false;
  if (done) return;
  done = true;
  char pattern[] = "/tmp/torvane-race-bench-XXXXXX";
  if (!mkdtemp(pattern)) abort();
  std::string root = std::string(pattern) + "/";
  std::string dir = root + "tracks/ring/";
  if (system(("mkdir -p " + dir).c_str()) != 0) abort();
  std::string hf = "6 2.0 4 6\n:";
  for (int k = 0; k < 129 * 129; k++) hf += std::string("\xff\x7f", 2);
  write_file(dir + "terrain.hf", hf);
  write_file(dir + "tileinfo", "texture @dirt.png\naddtile\n");
  write_file(dir + "tilemap", std::string(64 * 64, '\0'));
  std::string gates = "startinggate:\n";
  for (int k = 0; k < 40; k++) gates += "[" + std::to_string(40 + 4 * k) + " 5 60] 3.14159\n";
  gates += "checkpoints:\n";
  for (int k = 0; k < 6; k++) {
    double a = k * 3.14159265 / 3;
    char line[200];
    snprintf(line, sizeof line, "12 [%f 5 %f] [%f 0 %f]\n", 128 + 50 * std::cos(a), 128 + 50 * std::sin(a),
             -std::sin(a), std::cos(a));
    gates += line;
  }
  gates += "firstlap: 1 2 3 4 5 0\nnormallap: 1 2 3 4 5 0\n";
  write_file(dir + "timing_gates", gates);
  track_set_root(root.c_str());
  const char *names[] = {"tracks/ring"};
  set_track_names(names, 1);
  select_choice(&game_settings().track, "tracks/ring");
  physics_world_create();
}

void reset_with_robots(int robots) {
  int kinds[max_slots] = {};
  for (int i = 0; i < robots; i++) kinds[i] = slot_kind_robot;
  race_state().tic = 0;
  if (!race_reset(kinds, 0, 0, 0, 1000, 0)) abort();
}

void BM_RaceStep(benchmark::State &state) {
  ring_track();
  reset_with_robots(static_cast<int>(state.range(0)));
  for (auto _ : state) race_step();
  state.SetItemsProcessed(state.iterations());
  race_free_bikes();
}
BENCHMARK(BM_RaceStep)->Arg(1)->Arg(10)->Arg(40)->Arg(160)->Unit(benchmark::kMicrosecond);

// The running order of 40 timed riders, 30 gates each.
void BM_UpdateRunningOrder(benchmark::State &state) {
  ring_track();
  reset_with_robots(40);
  for (int i = 0; i < 40; i++) {
    GateProgress *p = &race_slot(i)->timing;
    for (int q = 0; q < 30; q++) gate_stamp(p, q, 2000 + 100 * q + i);
    p->next_gate = 30;
  }
  for (auto _ : state) {
    race_state().results_final = 0;
    update_running_order();
  }
  race_free_bikes();
}
BENCHMARK(BM_UpdateRunningOrder)->Unit(benchmark::kMicrosecond);

}  // namespace
