// Ruts: erode samples from wheel contacts, erode packets, the erode queue and
// its budget and hold-back, the dig-and-pile crater, and a bike riding laps
// on a flat field whose ruts replay exactly from the recorded packets.
#include <gtest/gtest.h>
#include <ode/ode.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "bike/assembly.h"
#include "platform/log.h"
#include "ride_scene.h"
#include "test_util.h"
#include "track/deform.h"
#include "track/terrain.h"
#include "track/tiles.h"
#include "track/track.h"

namespace {

double height_sum(const Terrain *t) {
  double s = 0;
  int n = t->verts_per_side * t->verts_per_side;
  for (int k = 0; k < n; k++) s += t->heights[k];
  return s;
}

double dug_volume(const Terrain *t) {
  double s = 0;
  int n = t->verts_per_side * t->verts_per_side;
  for (int k = 0; k < n; k++) s += std::fabs(t->heights[k] - t->loaded_heights[k]);
  return s;
}

// Packets that erode_send produced, with the tic they were made in.
struct SentPacket {
  int tic;
  std::vector<uint8_t> bytes;
};
std::vector<SentPacket> sent;
int current_tic;
void record_packet(const uint8_t *p, int n) { sent.push_back({current_tic, std::vector<uint8_t>(p, p + n)}); }

// A wheel record with a free ODE body, driven by hand: position, body
// velocity, the contact force of the last step and the tyre's slip.
struct HandWheel {
  WheelContact w{};
  HandWheel() {
    physics_world_create();
    w.body = dBodyCreate(physics_world());
    w.axle[0] = 1;
    w.ring_radius = 1;
    w.tube_radius = 0.2f;
    w.normal[1] = 1;
  }
  ~HandWheel() { dBodyDestroy(w.body); }
  void set(float x, float z, float vx, float vz, float fx, float fz, float depth = 0.05f) {
    w.point[0] = x;
    w.point[2] = z;
    w.depth = depth;
    dBodySetLinearVel(w.body, vx, 0, vz);
    w.feedback.f1[0] = fx;
    w.feedback.f1[1] = 300;  // the tyre's load
    w.feedback.f1[2] = fz;
  }
};

Terrain *flat(int size_exp = 6, float spacing = 2, float height = 0) {
  Terrain *t = terrain_create(size_exp, spacing, height, height);
  tile_defaults(&t->tiles[0]);
  t->tile_count = 1;
  return t;
}

class Deform : public ::testing::Test {
 protected:
  void SetUp() override {
    erode_queue_clear();
    erode_reset();
    sent.clear();
    current_tic = 0;
    set_erode_recorder(record_packet);
    set_erode_server_sink(nullptr);
  }
  void TearDown() override {
    set_erode_recorder(nullptr);
    erode_queue_clear();
    erode_reset();
  }
};

// Points k = 0 ... n-1 on a random walk; delta bounds as the accumulator keeps them.
ErodeAccumulator walk(int n, float x0, float z0, float max_step, uint32_t seed) {
  ErodeAccumulator acc{};
  uint32_t r = seed;
  auto next = [&r]() {
    r = r * 1664525u + 1013904223u;
    return static_cast<float>(r >> 8) / 16777216.0f;
  };
  float x = x0, z = z0;
  for (int k = 0; k < n; k++) {
    if (k > 0) {
      float dx = (next() * 2 - 1) * max_step, dz = (next() * 2 - 1) * max_step;
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
    acc.points[k] = {x, z, next() * 2 - 1, next() * 2 - 1, k % erode_max_samples + 1};
  }
  acc.point_count = n;
  return acc;
}

}  // namespace

// --- Packets ------------------------------------------------------------------------

TEST_F(Deform, PacketsRoundTrip) {
  Terrain *t = flat(9, 2);  // extent 2048 ft
  for (uint32_t seed : {1u, 2u, 3u}) {
    ErodeAccumulator acc = walk(erode_packet_points, 700, 1300, 3, seed);
    uint8_t packet[erode_packet_max];
    int length = erode_encode(&acc, t, packet);
    ASSERT_EQ(length, erode_packet_max);
    ErodePoint out[erode_packet_points];
    ASSERT_EQ(erode_decode(packet, length, t, out), erode_packet_points);
    // The first position to the u24 grid; every later one to within half a
    // step quantum (range 6 ft + margins over 255), however far along.
    float quantum = (6 + 0.125f) / 255;
    EXPECT_NEAR(out[0].x, acc.points[0].x, t->extent / 16777215.0f);
    EXPECT_NEAR(out[0].z, acc.points[0].z, t->extent / 16777215.0f);
    for (int k = 0; k < erode_packet_points; k++) {
      SCOPED_TRACE(k);
      EXPECT_NEAR(out[k].x, acc.points[k].x, quantum * 0.5f + 1e-3f);
      EXPECT_NEAR(out[k].z, acc.points[k].z, quantum * 0.5f + 1e-3f);
      // Push components keep six bits, rounded down.
      EXPECT_LE(out[k].ex, acc.points[k].ex + 1e-6f);
      EXPECT_GT(out[k].ex, acc.points[k].ex - 1.0f / 32 - 1e-6f);
      EXPECT_LE(out[k].ez, acc.points[k].ez + 1e-6f);
      EXPECT_GT(out[k].ez, acc.points[k].ez - 1.0f / 32 - 1e-6f);
      EXPECT_EQ(out[k].count, acc.points[k].count);  // 1 ... 16, 16 included
    }
  }
  // One point alone is the 17-byte header; a count of 16 travels as four
  // zero bits and comes back as 16.
  ErodeAccumulator one{};
  one.points[0] = {10, 20, 0.5f, -0.5f, 16};
  one.point_count = 1;
  uint8_t packet[erode_packet_max];
  ASSERT_EQ(erode_encode(&one, t, packet), erode_packet_header);
  EXPECT_EQ(packet[0], 1);
  EXPECT_EQ(packet[15] & 3, 0);
  EXPECT_EQ(packet[16] & 3, 0);
  ErodePoint out[erode_packet_points];
  ASSERT_EQ(erode_decode(packet, erode_packet_header, t, out), 1);
  EXPECT_EQ(out[0].count, 16);
  EXPECT_FLOAT_EQ(out[0].ex, 0.5f);
  EXPECT_FLOAT_EQ(out[0].ez, -0.5f);
  one.points[0].count = 15;
  erode_encode(&one, t, packet);
  EXPECT_EQ((packet[15] & 3) | ((packet[16] & 3) << 2), 15);
  // Off-terrain positions are clamped into it.
  one.points[0].x = -50;
  one.points[0].z = 1e9f;
  erode_encode(&one, t, packet);
  erode_decode(packet, erode_packet_header, t, out);
  EXPECT_EQ(out[0].x, 0);
  EXPECT_EQ(out[0].z, t->extent);
  terrain_free(t);
}

TEST_F(Deform, MalformedPacketsHoldNoPoints) {
  Terrain *t = flat();
  ErodeAccumulator acc = walk(10, 50, 50, 2, 7);
  uint8_t packet[erode_packet_max + 40] = {};
  int length = erode_encode(&acc, t, packet);
  ErodePoint out[erode_packet_points];
  EXPECT_EQ(erode_decode(packet, erode_packet_header - 1, t, out), 0);
  EXPECT_EQ(erode_decode(nullptr, length, t, out), 0);
  EXPECT_EQ(erode_decode(packet, length, nullptr, out), 0);
  EXPECT_EQ(erode_decode(packet, length + 3, t, out), 10);  // a partial point is ignored
  packet[0] = 2;
  EXPECT_EQ(erode_decode(packet, length, t, out), 0);
  packet[0] = 1;
  // A packet longer than 64 points yields 64.
  EXPECT_EQ(erode_decode(packet, sizeof packet, t, out), erode_packet_points);
  erode_receive(t, packet, 5);
  EXPECT_EQ(erode_queue_length(), 0);
  // The protocol message applies only with the current race id.
  uint8_t message[4 + erode_packet_max];
  int32_t id = -7;
  memcpy(message, &id, 4);
  memcpy(message + 4, packet, static_cast<size_t>(length));
  EXPECT_EQ(erode_receive_message(t, message, 4 + length, 8), 0);
  EXPECT_EQ(erode_queue_length(), 0);
  EXPECT_EQ(erode_receive_message(t, message, 3, -7), 0);
  EXPECT_EQ(erode_receive_message(t, message, 4 + length, -7), 1);
  EXPECT_EQ(erode_queue_length(), 10);
  terrain_free(t);
}

// --- Samples -----------------------------------------------------------------------

TEST_F(Deform, SamplesNeedSpeedAndForce) {
  Terrain *t = flat();
  HandWheel h;
  ErodeAccumulator acc{};
  // Below the off speed (10 ft/s) nothing is taken, however hard the push.
  for (int tic = 0; tic < 200; tic++) {
    h.set(20 + 0.07f * tic, 60, 9, 0, 0, 400);
    erode_sample(&acc, t, &h.w, 0, tic, nullptr);
  }
  EXPECT_EQ(acc.sample_count, 0);
  EXPECT_EQ(acc.point_count, 0);
  // At speed, a force at or under erode_lower (50 lbf) leaves nothing either.
  for (int tic = 200; tic < 300; tic++) {
    h.set(20 + 0.3f * tic, 60, 38.4f, 0, 0, 50);
    erode_sample(&acc, t, &h.w, 0, tic, nullptr);
  }
  EXPECT_EQ(acc.sample_count, 0);
  // The push points along the ground part of the force, its length the
  // strength: 100 lbf is halfway from 50 to 150, 0.125 + 0.875 / 2.
  h.set(20, 60, 38.4f, 0, 60, -80);
  erode_sample(&acc, t, &h.w, 0, 300, nullptr);
  ASSERT_EQ(acc.sample_count, 1);
  EXPECT_NEAR(acc.sums[2], 0.5625f * 0.6f, 1e-5);
  EXPECT_NEAR(acc.sums[3], -0.5625f * 0.8f, 1e-5);
  // A front wheel on a tile whose front scale is 0 never digs.
  t->tiles[0].erode.erode_front_scale = 0;
  erode_clear(&acc);
  for (int tic = 0; tic < 100; tic++) {
    h.set(20 + 0.3f * tic, 60, 38.4f, 0, 0, 400);
    erode_sample(&acc, t, &h.w, 1, tic, nullptr);
  }
  EXPECT_EQ(acc.sample_count + acc.point_count, 0);
  terrain_free(t);
}

TEST_F(Deform, ForceIntoASlopeIsNotAPush) {
  // Ground rising 1 in 2 along x: a force along the slope's normal presses
  // the tyre in and pushes no dirt; the same force with a sideways part does.
  Terrain *t = flat();
  int r = t->verts_per_side;
  for (int j = 0; j < r; j++)
    for (int i = 0; i < r; i++) terrain_set_height(t, i, j, static_cast<float>(i));
  memcpy(t->loaded_heights, t->heights, sizeof(float) * static_cast<size_t>(r * r));
  float n[3];
  terrain_normal(t, 40.5f, 60.5f, n);
  float len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  HandWheel h;
  ErodeAccumulator acc{};
  h.set(40.5f, 60.5f, 0, -30, 0, 0);
  h.w.feedback.f1[0] = 400 * n[0] / len;
  h.w.feedback.f1[1] = 400 * n[1] / len;
  h.w.feedback.f1[2] = 400 * n[2] / len;
  erode_sample(&acc, t, &h.w, 0, 0, nullptr);
  EXPECT_EQ(acc.sample_count, 0);
  h.w.feedback.f1[2] += 120;
  erode_sample(&acc, t, &h.w, 0, 1, nullptr);
  ASSERT_EQ(acc.sample_count, 1);
  EXPECT_NEAR(acc.sums[2], 0, 1e-4);
  EXPECT_NEAR(acc.sums[3], 0.125f + 0.875f * 0.7f, 1e-4);
  terrain_free(t);
}

TEST_F(Deform, SamplesAverageOverAboutAFoot) {
  Terrain *t = flat();
  HandWheel h;
  ErodeAccumulator acc{};
  // 0.3 ft per tic: the first point is the average of four samples, made
  // when the fifth arrives; later points carry the travel over and stay a
  // foot apart on average.
  for (int tic = 0; tic < 5; tic++) {
    h.set(10 + 0.3f * tic, 60, 38.4f, 0, 0, 200);
    erode_sample(&acc, t, &h.w, 0, tic, nullptr);
  }
  ASSERT_EQ(acc.point_count, 1);
  EXPECT_EQ(acc.points[0].count, 4);
  EXPECT_NEAR(acc.points[0].x, 10.45f, 1e-4);
  EXPECT_EQ(acc.last_point_tic, 4);
  for (int tic = 5; tic < 200; tic++) {
    h.set(10 + 0.3f * tic, 60, 38.4f, 0, 0, 200);
    erode_sample(&acc, t, &h.w, 0, tic, nullptr);
  }
  ASSERT_GT(acc.point_count, 50);
  for (int k = 0; k < acc.point_count; k++) {
    EXPECT_GE(acc.points[k].count, 3);
    EXPECT_LE(acc.points[k].count, 4);
  }
  float mean = (acc.points[acc.point_count - 1].x - acc.points[0].x) / static_cast<float>(acc.point_count - 1);
  EXPECT_NEAR(mean, 1.0f, 0.05f);
  EXPECT_TRUE(sent.empty());
  // A slow-rolling contact averages sixteen samples at most, and a count of
  // 16 reaches the queue intact.
  erode_clear(&acc);
  for (int tic = 0; tic < 60; tic++) {
    h.set(10 + 0.02f * tic, 60, 20, 0, 0, 200);
    erode_sample(&acc, t, &h.w, 0, tic, nullptr);
  }
  ASSERT_EQ(acc.point_count, 3);
  for (int k = 0; k < 3; k++) EXPECT_EQ(acc.points[k].count, 16);
  // The wheel lifts: 64 tics after the last point everything pending goes.
  int last = acc.last_point_tic;
  for (int tic = 60; tic <= last + 64; tic++) {
    h.w.depth = 0;
    erode_sample(&acc, t, &h.w, 0, tic, nullptr);
  }
  EXPECT_TRUE(sent.empty());
  h.w.depth = 0;
  erode_sample(&acc, t, &h.w, 0, last + 65, nullptr);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(acc.point_count, 0);
  EXPECT_EQ(acc.sample_count, 0);
  ASSERT_EQ(erode_queue_length(), 4);  // three points and the partial average
  for (int k = 0; k < 3; k++) EXPECT_EQ(erode_queue_entry(k).count, 16);
  EXPECT_EQ(erode_queue_entry(3).count, 60 - 48);
  terrain_free(t);
}

TEST_F(Deform, PacketsAreSplitAtSixtyFourPointsOrFeet) {
  Terrain *t = flat(8, 2);
  HandWheel h;
  ErodeAccumulator acc{};
  // 1.5 ft per tic: every tic emits the previous sample as a point.
  float x = 20;
  int tic = 0;
  for (; tic < 5; tic++, x += 1.5f) {
    h.set(x, 60, 192, 0, 0, 200);
    erode_sample(&acc, t, &h.w, 0, tic, nullptr);
  }
  ASSERT_EQ(acc.point_count, 4);
  // A jump of 90 ft widens the step range past 64 ft: the five points before
  // it go out alone and the far point starts the next packet.
  x += 90;
  for (int k = 0; k < 2; k++, tic++, x += 1.5f) {
    h.set(x, 60, 192, 0, 0, 200);
    erode_sample(&acc, t, &h.w, 0, tic, nullptr);
  }
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].bytes.size(), static_cast<size_t>(erode_packet_header + 4 * 4));
  ASSERT_EQ(acc.point_count, 1);
  EXPECT_NEAR(acc.points[0].x, 20 + 6 + 1.5f + 90, 1e-3);
  EXPECT_EQ(erode_queue_length(), 5);
  // Sixty-four points fill a packet; the sixty-fifth starts the next.
  for (; acc.point_count < erode_packet_points; tic++, x += 1.5f) {
    h.set(x, 60, 192, 0, 0, 200);
    erode_sample(&acc, t, &h.w, 0, tic, nullptr);
  }
  EXPECT_EQ(sent.size(), 1u);
  h.set(x, 60, 192, 0, 0, 200);
  erode_sample(&acc, t, &h.w, 0, tic, nullptr);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].bytes.size(), static_cast<size_t>(erode_packet_max));
  EXPECT_EQ(acc.point_count, 1);
  EXPECT_EQ(erode_queue_length(), 5 + erode_packet_points);
  // Online the packet goes to the server and nothing is queued here.
  set_erode_server_sink(record_packet);
  set_erode_recorder(nullptr);
  erode_send(t, sent[0].bytes.data(), static_cast<int>(sent[0].bytes.size()));
  EXPECT_EQ(sent.size(), 3u);
  EXPECT_EQ(erode_queue_length(), 5 + erode_packet_points);
  terrain_free(t);
}

// --- Queue and ground edits -------------------------------------------------------------------

namespace {
void queue_point(const Terrain *t, float x, float z, float ex, float ez, int count) {
  ErodeAccumulator acc{};
  acc.points[0] = {x, z, ex, ez, count};
  acc.point_count = 1;
  uint8_t packet[erode_packet_max];
  erode_receive(t, packet, erode_encode(&acc, t, packet));
}
}  // namespace

TEST_F(Deform, DigAndPileKeepTheVolume) {
  Terrain *t = flat(6, 2, 0);
  double before = height_sum(t);
  // Craters all over the field, the edges included (half their window off
  // the grid): what is dug is piled.
  uint32_t r = 99;
  for (int k = 0; k < 3000; k++) {
    r = r * 1664525u + 1013904223u;
    float x = static_cast<float>(r >> 16 & 1023) / 1023 * 270 - 7;
    r = r * 1664525u + 1013904223u;
    float z = static_cast<float>(r >> 16 & 1023) / 1023 * 270 - 7;
    float a = static_cast<float>(k % 7) * 0.01f + 0.005f;
    float taken = erode_dig(t, x, z, 4, -a);
    EXPECT_LE(taken, 0);
    erode_pile(t, x + 1.5f, z - 1, 4, -taken);
  }
  EXPECT_GT(dug_volume(t), 20);
  EXPECT_NEAR(height_sum(t), before, 1e-4 * dug_volume(t));
  EXPECT_GT(t->edit_count, 0);
  // The crater: deepest at its centre, smooth, nothing past its radius.
  Terrain *c = flat(6, 2, 0);
  float total = erode_dig(c, 64, 64, 4, -1);
  EXPECT_FLOAT_EQ(terrain_vertex_height(c, 32, 32), -1);
  EXPECT_FLOAT_EQ(terrain_vertex_height(c, 33, 32), -0.5f);  // s = 1/2: 2/8 - 3/4 + 1
  EXPECT_EQ(terrain_vertex_height(c, 34, 32), 0);
  double sum = height_sum(c);
  EXPECT_NEAR(total, sum, 1e-5);
  erode_pile(c, 70, 64, 4, -total);
  EXPECT_NEAR(height_sum(c), 0, 1e-5);
  // A locked terrain takes no edit outside the erode step.
  c->locked = 1;
  EXPECT_EQ(erode_dig(c, 64, 64, 4, -1), 0);
  EXPECT_FLOAT_EQ(terrain_vertex_height(c, 32, 32), -1);
  terrain_free(c);
  terrain_free(t);
}

TEST_F(Deform, EntriesDigAgainstThePushAndRespectSlopesAndLimits) {
  Terrain *t = flat(6, 2, 0);
  // Push toward +x at full strength: dig at (64, 64), pile 2 ft toward -x.
  queue_point(t, 64, 64, 0.96875f, 0, 1);
  t->locked = 1;
  erode_apply(t, nullptr, 8, 0);
  EXPECT_EQ(t->locked, 1);  // lifted for the call only
  EXPECT_EQ(erode_queue_length(), 0);
  EXPECT_LT(terrain_vertex_height(t, 32, 32), 0);
  EXPECT_GT(terrain_vertex_height(t, 31, 32), terrain_vertex_height(t, 33, 32));
  EXPECT_NEAR(height_sum(t), 0, 1e-5);

  // Ground falling 1 ft per ft toward -x: the pile's target lies 2 ft
  // lower, beyond erode_min_slope * D, and the entry is used up unapplied.
  Terrain *s = flat(6, 2, 0);
  int r = s->verts_per_side;
  for (int j = 0; j < r; j++)
    for (int i = 0; i < r; i++) terrain_set_height(s, i, j, 2.0f * static_cast<float>(i));
  std::vector<float> before(s->heights, s->heights + r * r);
  queue_point(s, 64, 64, 0.96875f, 0, 1);
  int edits = s->edit_count;
  erode_apply(s, nullptr, 8, 0);
  EXPECT_EQ(erode_queue_length(), 0);
  EXPECT_EQ(s->edit_count, edits);
  EXPECT_EQ(memcmp(before.data(), s->heights, before.size() * sizeof(float)), 0);
  terrain_free(s);

  // Digging fades out one foot below the loaded surface (with the slope
  // rule out of the way, so that the growing pile does not stop it first).
  // The limit is measured where the entry digs; the crater's flank, which
  // the pile does not reach, may end a little deeper.
  Terrain *d = flat(6, 2, 0);
  d->tiles[0].erode.erode_max_slope = 1000;
  d->tiles[0].erode.erode_min_slope = -1000;
  float deepest = 0;
  for (int k = 0; k < 400; k++) {
    queue_point(d, 64, 64, 0.96875f, 0, 16);
    erode_apply(d, nullptr, 100, k);
    deepest = std::fmin(deepest, terrain_height(d, 64, 64));
  }
  EXPECT_LT(terrain_height(d, 64, 64), -0.99f);
  EXPECT_GE(deepest, -1.0f - 1e-4f);
  EXPECT_LT(terrain_vertex_height(d, 33, 32), -1.0f);
  terrain_free(d);
  terrain_free(t);
}

TEST_F(Deform, QueueBudgetHoldBackAndOverflow) {
  Terrain *t = flat(6, 2, 0);
  // Budget: L / 512 + (L - 8192) / 64 + 4 entries per tic.
  for (int k = 0; k < 10000; k++) queue_point(t, 20 + static_cast<float>(k % 200), 100, 0.5f, 0, 1);
  erode_apply(t, nullptr, 1, 0);
  EXPECT_EQ(erode_queue_length(), 10000 - (10000 / 512 + 1808 / 64 + 4));
  // At rate 0 nothing is drained and the ground stays as it is.
  int edits = t->edit_count;
  for (int tic = 1; tic < 100; tic++) erode_apply(t, nullptr, 0, tic);
  EXPECT_EQ(erode_queue_length(), 10000 - (10000 / 512 + 1808 / 64 + 4));
  EXPECT_EQ(t->edit_count, edits);
  erode_queue_clear();
  for (int k = 0; k < 3; k++) queue_point(t, 20, 100, 0.5f, 0, 1);
  erode_apply(t, nullptr, 1, 0);
  EXPECT_EQ(erode_queue_length(), 0);

  // An entry within 10 ft of the rider waits, at most 256 tics.
  queue_point(t, 50, 50, 0.5f, 0, 1);
  queue_point(t, 200, 200, 0.5f, 0, 1);
  const float rider[2] = {55, 52};
  for (int tic = 1000; tic < 1256; tic++) {
    erode_apply(t, rider, 1, tic);
    ASSERT_EQ(erode_queue_length(), 2) << tic;
  }
  erode_apply(t, rider, 1, 1256);
  EXPECT_EQ(erode_queue_length(), 0);
  // A clock that went back (a new race) does not keep an old deadline.
  queue_point(t, 50, 50, 0.5f, 0, 1);
  erode_apply(t, rider, 1, 5000);
  EXPECT_EQ(erode_queue_length(), 1);
  erode_apply(t, rider, 1, 3);
  EXPECT_EQ(erode_queue_length(), 0);
  // Far from the rider nothing waits.
  queue_point(t, 50, 50, 0.5f, 0, 1);
  const float away[2] = {80, 50};
  erode_apply(t, away, 1, 2000);
  EXPECT_EQ(erode_queue_length(), 0);

  // Overflow: points beyond 131072 are dropped, with one message.
  message_clear();
  ErodeAccumulator acc = walk(erode_packet_points, 100, 100, 2, 5);
  uint8_t packet[erode_packet_max];
  int length = erode_encode(&acc, t, packet);
  for (int k = 0; k < erode_queue_size / erode_packet_points + 3; k++) erode_receive(t, packet, length);
  EXPECT_EQ(erode_queue_length(), erode_queue_size);
  EXPECT_STREQ(message_line(0), "Erode queue full!");
  EXPECT_EQ(message_visible_count(), 1);
  // A full queue drains fastest: 256 + 1920 + 4 entries in one tic.
  erode_apply(t, nullptr, 1, 0);
  EXPECT_EQ(erode_queue_length(), erode_queue_size - 2180);
  for (int k = 0; k < 40; k++) erode_receive(t, packet, length);
  EXPECT_EQ(erode_queue_length(), erode_queue_size);
  EXPECT_EQ(message_visible_count(), 1);
  terrain_free(t);
}

TEST_F(Deform, FreeingTheTrackEmptiesTheQueue) {
  std::string root = make_temp_dir("deform") + "/";
  std::string dir = root + "tracks/pit";
  std::string hf = "6 2.0 0 10\n:" + std::string(2 * 129 * 129, '\0');
  write_text_file(dir + "/terrain.hf", hf);
  write_text_file(dir + "/tileinfo", "name dirt\naddtile\n");
  write_text_file(dir + "/tilemap", std::string(64 * 64, '\0'));
  write_text_file(dir + "/shadingx2.ppm", flat_shading_ppm(129));
  track_set_root(root.c_str());
  ASSERT_EQ(load_track("tracks/pit"), 1);
  Terrain *t = track_terrain();
  queue_point(t, 30, 30, 0.5f, 0, 1);
  erode_accumulator(3, 1)->point_count = 5;
  ASSERT_EQ(erode_queue_length(), 1);
  free_track();
  EXPECT_EQ(erode_queue_length(), 0);
  EXPECT_EQ(erode_accumulator(3, 1)->point_count, 0);
  track_set_root("@");
}

// --- A bike riding laps ---------------------------------------------------------------------------

namespace {

struct LapRun {
  std::vector<float> heights;
  std::vector<float> path;  // wheel contact points x, z
  std::vector<float> rear;  // the rear wheel's contact point x, z every tic (NaN in the air)
  int last_tic;
};

// Rides circles at 15 mph on flat ground with erosion at `rate`, running the
// wheel marks and the erode step after each tic's world step as the race
// step does (the bike step between them leaves the contact records alone).
LapRun ride_laps(float rate, int laps_tics) {
  RideScene s;
  scene_start(&s, make_flat_terrain(6, 2), "crf250(2018)", 128.3f, 170, true);
  constexpr double speed = 15 * mph_to_fps;
  LapRun run{};
  auto tic = [&](float steer) {
    double v = frame_speed(s.bike);
    bike_set_clutch(s.bike, 1);
    bike_set_throttle(s.bike, static_cast<float>(std::fmin(1.0, std::fmax(0.0, (speed - v) * 0.5 + 0.15))));
    bike_set_steer(s.bike, steer);
    current_tic = s.tic;
    scene_tic(&s);
    erode_wheel_marks(s.terrain, s.bike, s.tic - 1);
    erode_apply(s.terrain, nullptr, rate, s.tic - 1);
    const WheelContact &back = s.bike->wheels[1];
    run.rear.push_back(back.depth > 0 ? back.point[0] : NAN);
    run.rear.push_back(back.depth > 0 ? back.point[2] : NAN);
    for (const WheelContact &w : s.bike->wheels) {
      if (w.depth > 0) {
        run.path.push_back(w.point[0]);
        run.path.push_back(w.point[2]);
      }
    }
  };
  for (int i = 0; i < 128 * 4; i++) tic(0);
  for (int i = 0; i < laps_tics; i++) tic(0.6f);
  int n = s.terrain->verts_per_side * s.terrain->verts_per_side;
  run.heights.assign(s.terrain->heights, s.terrain->heights + n);
  run.last_tic = s.tic - 1;
  EXPECT_NEAR(height_sum(s.terrain), 0, 1e-4 * dug_volume(s.terrain) + 1e-6);
  scene_end(&s);
  return run;
}

}  // namespace

TEST_F(Deform, LapsLeaveRutsAlongTheLineThatReplayExactly) {
  const float rate = 8;
  LapRun run = ride_laps(rate, 128 * 30);
  ASSERT_FALSE(sent.empty());
  Terrain *t = make_flat_terrain(6, 2);
  int r = t->verts_per_side;
  // The ground moved along the line and nowhere else: every changed vertex
  // lies within a crater radius plus the pile's offset and a grid cell of
  // where a tyre touched.
  int changed = 0;
  double volume = 0;
  for (int j = 0; j < r; j++) {
    for (int i = 0; i < r; i++) {
      float d = run.heights[i + j * r] - t->loaded_heights[i + j * r];
      if (d == 0) continue;
      changed++;
      volume += std::fabs(d);
      float x = static_cast<float>(i) * t->spacing, z = static_cast<float>(j) * t->spacing;
      float nearest = 1e9f;
      for (size_t k = 0; k < run.path.size(); k += 2) {
        float dx = run.path[k] - x, dz = run.path[k + 1] - z;
        nearest = std::fmin(nearest, dx * dx + dz * dz);
      }
      ASSERT_LE(std::sqrt(nearest), 4 + 2 + t->spacing) << i << " " << j;
    }
  }
  EXPECT_GT(changed, 300);
  EXPECT_GT(volume, 1.0);
  // And all along the line: from the first turn until the last packets
  // (which wait for their 64 points), the rear tyre's track has a rut.
  int checked = 0, rutted = 0;
  for (int tic = 128 * 6; tic < 128 * 26; tic += 16) {
    float x = run.rear[2 * tic], z = run.rear[2 * tic + 1];
    if (std::isnan(x)) continue;
    checked++;
    int i = static_cast<int>(std::lround(x / t->spacing)), j = static_cast<int>(std::lround(z / t->spacing));
    rutted += run.heights[i + j * r] != t->loaded_heights[i + j * r];
  }
  EXPECT_GT(checked, 100);
  EXPECT_GE(rutted, checked * 95 / 100);

  // The same packets fed into the queue at the same tics, from the loaded
  // ground, give the same heights to the bit.
  std::vector<SentPacket> stream = sent;
  erode_queue_clear();
  size_t next = 0;
  for (int tic = 0; tic <= run.last_tic; tic++) {
    for (; next < stream.size() && stream[next].tic == tic; next++)
      erode_receive(t, stream[next].bytes.data(), static_cast<int>(stream[next].bytes.size()));
    erode_apply(t, nullptr, rate, tic);
  }
  EXPECT_EQ(next, stream.size());
  EXPECT_EQ(memcmp(run.heights.data(), t->heights, run.heights.size() * sizeof(float)), 0);
  terrain_free(t);
}

namespace {
std::vector<std::string> label_texts;
std::vector<float> label_x;
void take_label(const float position[3], const char *text) {
  label_texts.emplace_back(text);
  label_x.push_back(position[0]);
}
}  // namespace

TEST_F(Deform, DebugLabelsEverySpacingFeet) {
  Terrain *t = flat();
  BikeState *bike = new BikeState{};
  bike->slot = 7;
  HandWheel front, rear;
  bike->bodies[bike_frame] = dBodyCreate(physics_world());
  label_texts.clear();
  label_x.clear();
  set_erode_label_hook(take_label);
  auto ride = [&](int from, int to) {
    for (int tic = from; tic < to; tic++) {
      float x = 10 + static_cast<float>(tic) * 0.5f;  // 64 ft/s
      dBodySetPosition(bike->bodies[bike_frame], x, 1, 60);
      front.set(x + 2, 60, 64, 0, 120, 0);
      rear.set(x - 2, 60, 64, 0, -200, 0);
      bike->wheels[0] = front.w;
      bike->wheels[1] = rear.w;
      erode_wheel_marks(t, bike, tic);
    }
  };
  ride(0, 50);  // logging off
  EXPECT_TRUE(label_texts.empty());
  erode_set_logging(erode_log_labels, 10);
  ride(50, 200);  // 75 ft from x = 35
  ASSERT_EQ(label_texts.size(), 8u);
  for (size_t k = 0; k < label_x.size(); k++) EXPECT_NEAR(label_x[k], 35 + 10 * static_cast<float>(k), 0.01f);
  // Travelling along +x, a force along +x is forward: its negation shows.
  EXPECT_NE(label_texts[0].find("front:\nspeed=64.00\nslip=0.00\nfx=-0.00\nfz=-120.00\n"), std::string::npos)
      << label_texts[0];
  EXPECT_NE(label_texts[0].find("rear:\nspeed=64.00\nslip=0.00\nfx=-0.00\nfz=200.00\n"), std::string::npos);
  EXPECT_GT(erode_accumulator(7, 0)->point_count, 0);
  erode_set_logging(0, 10);
  set_erode_label_hook(nullptr);
  dBodyDestroy(bike->bodies[bike_frame]);
  delete bike;
  terrain_free(t);
}

TEST_F(Deform, DebugLabelText) {
  ErodeDebug d[2] = {{12.5f, 1, -2, 3, 4.25f, 5}, {0, 0, 0, 0, 0, 0}};
  char text[256];
  erode_label_text(d, text, sizeof text);
  EXPECT_STREQ(text,
               "front:\nspeed=12.50\nslip=1.00\nfx=-2.00\nfz=3.00\npfx=4.25\npfz=5.00\n"
               "rear:\nspeed=0.00\nslip=0.00\nfx=0.00\nfz=0.00\npfx=0.00\npfz=0.00\n");
}
