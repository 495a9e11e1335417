// Track loading and terrain query costs on synthetic tracks written by the
// benchmark itself: 1025 x 1025 and 2049 x 2049 raw height fields with a
// tile table, a tile map and timing gates.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/random.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/tiles.h"
#include "track/track.h"

namespace {

void write_file(const std::string &path, const std::string &content) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) abort();
  fwrite(content.data(), 1, content.size(), f);
  fclose(f);
}

// Rolling hills: smooth enough to ride, varied enough to exercise every
// triangle case.
uint16_t hill_sample(int i, int j) {
  double h = 0.5 + 0.2 * std::sin(i * 0.013) * std::cos(j * 0.021) + 0.1 * std::sin((i + 2 * j) * 0.05);
  return static_cast<uint16_t>(std::clamp(h, 0.0, 1.0) * 65535);
}

// Writes tracks/big<n> under a scratch root once per process; returns the root.
const std::string &synthetic_root(int size_exp) {
  static std::string root;
  static int written[16];
  if (root.empty()) {
    char pattern[] = "/tmp/torvane-bench-XXXXXX";
    if (!mkdtemp(pattern)) abort();
    root = std::string(pattern) + "/";
    if (system(("mkdir -p " + root + "tracks").c_str()) != 0) abort();
  }
  if (!written[size_exp]) {
    std::string dir = root + "tracks/big" + std::to_string(size_exp);
    if (system(("mkdir -p " + dir).c_str()) != 0) abort();
    int verts = (2 << size_exp) + 1, tiles = 1 << size_exp;
    std::string hf = std::to_string(size_exp) + " 2.0 -20 60\n:";
    hf.reserve(hf.size() + 2ul * verts * verts);
    for (int j = 0; j < verts; j++)
      for (int i = 0; i < verts; i++) {
        uint16_t v = hill_sample(i, j);
        hf += static_cast<char>(v & 255);
        hf += static_cast<char>(v >> 8);
      }
    write_file(dir + "/terrain.hf", hf);
    std::string tileinfo;
    for (int k = 0; k < 8; k++) {
      tileinfo += "texture @tiles/t" + std::to_string(k) + ".png\nfriction 0.8 1\nfriction 1.1 8\n"
                  "roll_resist 4 12 1\nroost count=6 size=0.3\naddtile\n";
    }
    write_file(dir + "/tileinfo", tileinfo);
    std::string map(static_cast<size_t>(tiles) * tiles, 0);
    for (size_t k = 0; k < map.size(); k++) map[k] = static_cast<char>((k / 7 + k / tiles) % 8);
    write_file(dir + "/tilemap", map);
    std::string gates = "startinggate:\n";
    for (int k = 0; k < 40; k++) gates += "[" + std::to_string(100 + 4 * k) + " 0 100] 0\n";
    gates += "checkpoints:\n";
    for (int k = 0; k < 20; k++) gates += "8 [" + std::to_string(200 + 50 * k) + " 0 300] [1 0 0]\n";
    gates += "firstlap:";
    for (int k = 0; k < 20; k++) gates += " " + std::to_string(k);
    gates += "\nnormallap:";
    for (int k = 0; k < 20; k++) gates += " " + std::to_string(k);
    write_file(dir + "/timing_gates", gates + "\n");
    written[size_exp] = 1;
  }
  return root;
}

void BM_LoadTrack(benchmark::State &state) {
  int size_exp = static_cast<int>(state.range(0));
  track_set_root(synthetic_root(size_exp).c_str());
  std::string dir = "tracks/big" + std::to_string(size_exp);
  for (auto _ : state) {
    if (!load_track(dir.c_str())) state.SkipWithError("load failed");
    state.PauseTiming();
    free_track();
    state.ResumeTiming();
  }
  int verts = (2 << size_exp) + 1;
  state.SetLabel(std::to_string(verts) + "x" + std::to_string(verts));
}
BENCHMARK(BM_LoadTrack)->Arg(9)->Arg(10)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)
    ->ComputeStatistics("min", [](const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); });

// A loaded 1025 x 1025 track and query points spread over it.
Terrain *query_terrain() {
  static Terrain *t = nullptr;
  if (!t) {
    track_set_root(synthetic_root(9).c_str());
    if (!load_track("tracks/big9")) abort();
    t = track_terrain();
  }
  return t;
}

std::vector<float> query_points(const Terrain *t, int count) {
  std::vector<float> p(2 * count);
  random_seed(12345);
  for (float &v : p) v = random_float() * t->extent;
  return p;
}

void BM_TerrainHeight(benchmark::State &state) {
  Terrain *t = query_terrain();
  std::vector<float> p = query_points(t, 4096);
  size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(terrain_height(t, p[k], p[k + 1]));
    k = (k + 2) & 8191;
  }
}
BENCHMARK(BM_TerrainHeight);

void BM_TerrainNormal(benchmark::State &state) {
  Terrain *t = query_terrain();
  std::vector<float> p = query_points(t, 4096);
  size_t k = 0;
  float n[3];
  for (auto _ : state) {
    terrain_normal(t, p[k], p[k + 1], n);
    benchmark::DoNotOptimize(n);
    k = (k + 2) & 8191;
  }
}
BENCHMARK(BM_TerrainNormal);

// Spheres the size of a bike's collision spheres, resting 0.1 ft into the ground.
void BM_SphereContact(benchmark::State &state) {
  Terrain *t = query_terrain();
  float radius = static_cast<float>(state.range(0)) / 4;
  std::vector<float> p = query_points(t, 4096);
  size_t k = 0;
  TerrainContact c;
  for (auto _ : state) {
    float centre[3] = {p[k], terrain_height(t, p[k], p[k + 1]) + radius - 0.1f, p[k + 1]};
    benchmark::DoNotOptimize(terrain_sphere_contact(t, centre, radius, &c));
    k = (k + 2) & 8191;
  }
  state.SetLabel("radius " + std::to_string(radius));
}
BENCHMARK(BM_SphereContact)->Arg(1)->Arg(4)->Arg(8);

void BM_TileAndFriction(benchmark::State &state) {
  Terrain *t = query_terrain();
  std::vector<float> p = query_points(t, 4096);
  size_t k = 0;
  for (auto _ : state) {
    const Tile *tile = &t->tiles[tile_at(t, p[k], p[k + 1])];
    benchmark::DoNotOptimize(friction_at(tile, p[k] * 0.01f));
    k = (k + 2) & 8191;
  }
}
BENCHMARK(BM_TileAndFriction);

// The per-tic gate step of one bike riding along the checkpoint line.
void BM_CheckGates(benchmark::State &state) {
  query_terrain();
  GateProgress progress = {};
  float x = 150;
  int tic = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(check_gates(&progress, x, 300, tic++, 1000, progress.next_gate));
    x += 0.5f;
    if (x > 1200) x = 150;
  }
  gate_progress_free(&progress);
}
BENCHMARK(BM_CheckGates);

}  // namespace
