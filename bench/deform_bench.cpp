// Costs of the ruts on a 1025 x 1025 field (spacing 2 ft) with the default
// tile: draining a full erode queue, one tic of erosion with 40 bikes, and
// one tic of roost for 40 bikes. The bikes are wheel records driven round
// circles by the benchmark (their contact force, speed and slip set as a
// riding bike's would be), so that only the erosion and roost code is timed.
#include <benchmark/benchmark.h>
#include <ode/ode.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "app/random.h"
#include "bike/assembly.h"
#include "bike/bike.h"
#include "track/deform.h"
#include "track/roost.h"
#include "track/terrain.h"
#include "track/tiles.h"

namespace {

Terrain *field() {
  Terrain *t = terrain_create(9, 2, 0, 0);
  tile_defaults(&t->tiles[0]);
  RoostType type = roost_defaults();
  type.kind = 1;
  t->tiles[0].roost[0] = type;
  t->tile_count = 1;
  return t;
}

// Fills the queue with random walks over the field: 2048 packets of 64.
void fill_queue(const Terrain *t, uint32_t seed) {
  random_seed(seed);
  while (erode_queue_length() + erode_packet_points <= erode_queue_size) {
    ErodeAccumulator acc{};
    float x = 50 + random_float() * 1900, z = 50 + random_float() * 1900;
    for (int k = 0; k < erode_packet_points; k++) {
      float dx = random_float() * 2 - 1, dz = random_float() * 2 - 1;
      if (k > 0) {
        x += dx;
        z += dz;
        if (k == 1) {
          acc.delta_bounds[0] = acc.delta_bounds[2] = dx;
          acc.delta_bounds[1] = acc.delta_bounds[3] = dz;
        } else {
          acc.delta_bounds[0] = std::fmin(acc.delta_bounds[0], dx);
          acc.delta_bounds[1] = std::fmin(acc.delta_bounds[1], dz);
          acc.delta_bounds[2] = std::fmax(acc.delta_bounds[2], dx);
          acc.delta_bounds[3] = std::fmax(acc.delta_bounds[3], dz);
        }
      }
      acc.points[k] = {x, z, 0.6f * std::cos(x), 0.6f * std::sin(z), 1 + k % 4};
    }
    acc.point_count = erode_packet_points;
    uint8_t packet[erode_packet_max];
    erode_receive(t, packet, erode_encode(&acc, t, packet));
  }
}

void BM_DrainFullQueue(benchmark::State &state) {
  Terrain *t = field();
  int tics = 0;
  for (auto _ : state) {
    state.PauseTiming();
    erode_queue_clear();
    fill_queue(t, 7);
    state.ResumeTiming();
    tics = 0;
    while (erode_queue_length() > 0) erode_apply(t, nullptr, 8, tics++);
  }
  state.counters["tics_to_drain"] = tics;
  state.counters["entries"] = benchmark::Counter(static_cast<double>(state.iterations()) * erode_queue_size,
                                                 benchmark::Counter::kIsRate);
  erode_queue_clear();
  terrain_free(t);
}
BENCHMARK(BM_DrainFullQueue)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->ReportAggregatesOnly();

// The first tic of a full queue: its budget is 256 + 1920 + 4 entries.
void BM_FullQueueOneTic(benchmark::State &state) {
  Terrain *t = field();
  for (auto _ : state) {
    state.PauseTiming();
    erode_queue_clear();
    fill_queue(t, 8);
    state.ResumeTiming();
    erode_apply(t, nullptr, 8, 0);
  }
  erode_queue_clear();
  terrain_free(t);
}
BENCHMARK(BM_FullQueueOneTic)->Unit(benchmark::kMicrosecond)->Iterations(20)->Repetitions(3)->ReportAggregatesOnly();

constexpr int bench_bikes = 40;

struct CircleBikes {
  std::vector<BikeState *> bikes;
  std::vector<float> centre_x, centre_z, phase;
  float radius = 40, speed = 30;  // ft, ft/s
  int tic = 0;

  explicit CircleBikes(int n) {
    physics_world_create();
    for (int b = 0; b < n; b++) {
      BikeState *bike = new BikeState{};
      bike->slot = b;
      bike->bodies[bike_frame] = dBodyCreate(physics_world());
      for (WheelContact &w : bike->wheels) {
        w.body = dBodyCreate(physics_world());
        w.axle[0] = 1;
        w.ring_radius = 0.8f;
        w.tube_radius = 0.2f;
        w.depth = 0.05f;
        w.normal[1] = 1;
      }
      bikes.push_back(bike);
      centre_x.push_back(150 + static_cast<float>(b % 8) * 220);
      centre_z.push_back(150 + static_cast<float>(b / 8) * 350);
      phase.push_back(static_cast<float>(b) * 0.7f);
    }
  }
  ~CircleBikes() {
    for (BikeState *bike : bikes) {
      for (WheelContact &w : bike->wheels) dBodyDestroy(w.body);
      dBodyDestroy(bike->bodies[bike_frame]);
      delete bike;
    }
  }
  // Moves every wheel one tic round its circle, pushing the ground outward
  // (cornering) and backward (drive) with a few hundred pounds.
  void advance() {
    float w = speed / radius;
    for (size_t b = 0; b < bikes.size(); b++) {
      for (int k = 0; k < 2; k++) {
        WheelContact &c = bikes[b]->wheels[k];
        float a = phase[b] + w * static_cast<float>(tic) / 128 + (k == 0 ? 0.04f : 0.0f);
        float ca = std::cos(a), sa = std::sin(a);
        c.point[0] = centre_x[b] + radius * ca;
        c.point[1] = 0;
        c.point[2] = centre_z[b] + radius * sa;
        dBodySetPosition(c.body, c.point[0], 0.95, c.point[2]);
        dBodySetLinearVel(c.body, -speed * sa, 0, speed * ca);
        dBodySetAngularVel(c.body, speed / 0.95f, 0, 0);
        c.velocity[0] = 6 * sa;
        c.velocity[1] = 0;
        c.velocity[2] = -6 * ca;
        c.feedback.f1[0] = -150 * ca + 60 * sa;
        c.feedback.f1[1] = 300;
        c.feedback.f1[2] = -150 * sa - 60 * ca;
      }
      dBodySetPosition(bikes[b]->bodies[bike_frame], bikes[b]->wheels[1].point[0], 1.5, bikes[b]->wheels[1].point[2]);
    }
    tic++;
  }
};

// Wheel marks of 40 bikes and the erode step, in the race step's order, at
// the steady queue length their points lead to.
void BM_ErosionTic40Bikes(benchmark::State &state) {
  Terrain *t = field();
  erode_queue_clear();
  erode_reset();
  CircleBikes ride(bench_bikes);
  auto one_tic = [&]() {
    ride.advance();
    for (BikeState *bike : ride.bikes) erode_wheel_marks(t, bike, ride.tic);
    erode_apply(t, nullptr, 8, ride.tic);
  };
  for (int k = 0; k < 128 * 20; k++) one_tic();  // to a steady queue
  for (auto _ : state) one_tic();
  state.counters["queue"] = erode_queue_length();
  erode_queue_clear();
  erode_reset();
  terrain_free(t);
}
BENCHMARK(BM_ErosionTic40Bikes)->Unit(benchmark::kMicrosecond)->Repetitions(3)->ReportAggregatesOnly();

// Roost emission for 40 bikes at full density and the particle motion.
void BM_RoostTic40Bikes(benchmark::State &state) {
  Terrain *t = field();
  random_seed(11);
  roost_reset();
  CircleBikes ride(bench_bikes);
  auto one_tic = [&]() {
    ride.advance();
    for (int k = 0; k < bench_bikes; k++) roost_emit(t, ride.bikes[(k + ride.tic) % bench_bikes], 0, 1000, ride.tic);
    roost_move(t);
  };
  for (int k = 0; k < 256; k++) one_tic();
  for (auto _ : state) one_tic();
  state.counters["live"] = roost_live_count();
  roost_reset();
  terrain_free(t);
}
BENCHMARK(BM_RoostTic40Bikes)->Unit(benchmark::kMicrosecond)->Repetitions(3)->ReportAggregatesOnly();

}  // namespace
