// History rings: ordering of entries, the bracketing entries, interpolation
// of packed states, posing with capped extrapolation, and hiding.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "platform/log.h"
#include "replay_scene.h"

namespace {

PackedBikeState state_with(int byte, int value) {
  PackedBikeState s{};
  s.bytes[byte] = static_cast<uint8_t>(value);
  return s;
}

uint32_t get(const PackedBikeState &s, int offset, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; i--) v = v << 8 | s.bytes[offset + i];
  return v;
}
void put(PackedBikeState *s, int offset, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; i++) s->bytes[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}
void put_quat(PackedBikeState *s, int offset, double w, double x, double y, double z) {
  double q[4] = {w, x, y, z};
  for (int i = 0; i < 4; i++) put(s, offset + 2 * i, static_cast<uint32_t>(std::floor((q[i] + 1) * 0.5 * 65535 + 0.5)), 2);
}
double quat_component(const PackedBikeState &s, int offset, int i) { return 2 * (get(s, offset + 2 * i, 2) / 65535.0) - 1; }

struct HistoryTest : ::testing::Test {
  void SetUp() override { scene_reset(); }
  void TearDown() override { scene_reset(); }
};

TEST_F(HistoryTest, EntriesStayOrderedAndTheFirstStateForATicWins) {
  add_state_to_history(3, state_with(17, 10), 8);
  add_state_to_history(3, state_with(17, 20), 8);  // same tic: ignored
  add_state_to_history(3, state_with(17, 30), 16);
  add_state_to_history(3, state_with(17, 40), 12);  // late: inserted between
  add_state_to_history(3, state_with(17, 50), 4);   // older than everything held
  const HistoryRing *ring = history_ring(3);
  int expect_tics[] = {4, 8, 12, 16}, expect_bytes[] = {50, 10, 40, 30};
  for (int k = 0; k < 4; k++) {
    const HistoryEntry &e = ring->entries[(ring->head - 3 + k + history_length) % history_length];
    EXPECT_EQ(e.tic, expect_tics[k]);
    EXPECT_EQ(e.state.bytes[17], expect_bytes[k]);
  }
  EXPECT_EQ(ring->entries[(ring->head - 4 + history_length) % history_length].tic, -1);
  EXPECT_EQ(ring->pending, 4);
  EXPECT_EQ(history_newest_tic(3), 16);

  // Entries older than what the writer already took are kept for posing
  // but not counted as pending (they would reach a demo out of order).
  history_take_pending(3);
  add_state_to_history(3, state_with(17, 60), 10);
  EXPECT_EQ(ring->pending, 0);
  add_state_to_history(3, state_with(17, 70), 20);
  EXPECT_EQ(ring->pending, 1);

  message_clear();
  add_state_to_history(max_slots, state_with(17, 1), 4);
  add_state_to_history(-1, state_with(17, 1), 4);
  ASSERT_GE(message_visible_count(), 1);
  EXPECT_STREQ(message_line(0), "add_state_to_history: slot out of range");
  EXPECT_EQ(history_ring(max_slots), nullptr);
}

TEST_F(HistoryTest, AFullRingDropsItsOldestEntry) {
  for (int i = 0; i < history_length + 10; i++) add_state_to_history(0, state_with(17, i & 255), 4 * i);
  const HistoryRing *ring = history_ring(0);
  EXPECT_EQ(ring->pending, history_length);
  int oldest = ring->entries[(ring->head + 1) % history_length].tic;
  EXPECT_EQ(oldest, 40);
  // A late entry older than the whole ring has nowhere to go.
  add_state_to_history(0, state_with(17, 1), 2);
  EXPECT_EQ(ring->entries[(ring->head + 1) % history_length].tic, 40);
  // One inside the ring pushes the oldest out.
  add_state_to_history(0, state_with(17, 1), 42);
  EXPECT_EQ(ring->entries[(ring->head + 1) % history_length].tic, 42);
  EXPECT_EQ(ring->entries[(ring->head + 2) % history_length].tic, 44);
}

TEST_F(HistoryTest, BracketsFollowTheTicAroundTheEntries) {
  int older, newer;
  EXPECT_EQ(history_bracket(5, 10, &older, &newer), 0);  // no history
  for (int t : {100, 104, 108}) add_state_to_history(5, state_with(17, t - 100), t);
  const HistoryRing *ring = history_ring(5);
  auto tics = [&](int tic) {
    EXPECT_EQ(history_bracket(5, tic, &older, &newer), 1);
    return std::make_pair(ring->entries[older].tic, ring->entries[newer].tic);
  };
  EXPECT_EQ(tics(102), std::make_pair(100, 104));
  EXPECT_EQ(tics(104), std::make_pair(100, 104));
  EXPECT_EQ(tics(105), std::make_pair(104, 108));
  EXPECT_EQ(tics(500), std::make_pair(104, 108));  // past the newest: run on
  EXPECT_EQ(tics(50), std::make_pair(100, 104));   // before the oldest
  EXPECT_EQ(tics(-7), std::make_pair(100, 104));
  clear_history();
  add_state_to_history(5, state_with(17, 0), 100);
  EXPECT_EQ(tics(300), std::make_pair(100, 100));
  EXPECT_EQ(tics(3), std::make_pair(100, 100));
}

TEST_F(HistoryTest, InterpolationBlendsEachFieldByItsRule) {
  PackedBikeState a{}, b{};
  put(&a, 0, 1000, 3);
  put(&b, 0, 3000, 3);
  put(&a, 3, 16777215, 3);  // at the top of the range: extrapolation clamps
  put(&b, 3, 16777215, 3);
  put(&a, 20, 10000, 2);
  put(&b, 20, 20000, 2);
  a.bytes[17] = 100;
  b.bytes[17] = 200;
  a.bytes[18] = 41;  // packed: lowest bit set
  b.bytes[18] = 81;
  a.bytes[19] = 10;
  b.bytes[19] = 20;
  a.bytes[34] = static_cast<uint8_t>(std::floor(0.95 * 255 + 0.5));  // wheel wraps forward
  b.bytes[34] = static_cast<uint8_t>(std::floor(0.05 * 255 + 0.5));
  a.bytes[35] = 100;  // turning back a little
  b.bytes[35] = 90;
  a.bytes[36] = 0x32;
  b.bytes[36] = 0x47;
  put(&a, 37, 0, 2);
  put(&b, 37, 65535, 2);
  put_quat(&a, 9, 1, 0, 0, 0);
  // The same rotation as (0.7071, 0, 0.7071, 0) but on the far hemisphere.
  put_quat(&b, 9, -std::sqrt(0.5), 0, -std::sqrt(0.5), 0);
  put_quat(&a, 26, 1, 0, 0, 0);
  put_quat(&b, 26, 1, 0, 0, 0);

  PackedBikeState m = interpolate_packed(a, b, 0.5);
  EXPECT_EQ(get(m, 0, 3), 2000u);
  EXPECT_EQ(get(m, 3, 3), 16777215u);
  EXPECT_EQ(get(m, 20, 2), 15000u);
  EXPECT_EQ(m.bytes[17], 150);
  EXPECT_EQ(m.bytes[18] & 1, 0);  // interpolated
  EXPECT_EQ(m.bytes[18], 60);
  EXPECT_EQ(m.bytes[19], 14);  // 15 with the reserved bit written as 0
  // Halfway from 0.95 to 0.05 of a turn is the full turn (0 and 255 are the
  // same angle), not half a turn back.
  EXPECT_TRUE(m.bytes[34] == 0 || m.bytes[34] == 255) << int(m.bytes[34]);
  EXPECT_EQ(m.bytes[35], 95);
  EXPECT_EQ(m.bytes[36], 0x32);
  EXPECT_NEAR(get(m, 37, 2), 32768.0, 1.0);
  // Halfway between identity and a quarter turn about y: an eighth turn
  // (on the hemisphere of the newer quaternion).
  EXPECT_NEAR(std::fabs(quat_component(m, 9, 0)), std::cos(M_PI / 8), 1e-4);
  EXPECT_NEAR(std::fabs(quat_component(m, 9, 2)), std::sin(M_PI / 8), 1e-4);
  EXPECT_GT(quat_component(m, 9, 0) * quat_component(m, 9, 2), 0);

  PackedBikeState q = interpolate_packed(a, b, 0.25);
  EXPECT_NEAR(q.bytes[34] / 255.0, 0.975, 1.0 / 255);

  // Extrapolation: ranged fields keep going but stay in range; the
  // quaternions stop at the newer orientation.
  PackedBikeState e = interpolate_packed(a, b, 2.0);
  EXPECT_EQ(get(e, 0, 3), 5000u);
  EXPECT_EQ(get(e, 37, 2), 65535u);
  EXPECT_NEAR(std::fabs(quat_component(e, 9, 0)), std::sqrt(0.5), 1e-4);
  EXPECT_NEAR(std::fabs(quat_component(e, 9, 2)), std::sqrt(0.5), 1e-4);

  // At fraction 0 the older state comes back untouched, packed bit and all.
  PackedBikeState z = interpolate_packed(a, b, 0);
  EXPECT_EQ(memcmp(z.bytes, a.bytes, sizeof a.bytes), 0);
}

// Frame x of a bike as the packed state encodes it.
double frame_x(const BikeState *bike) { return dBodyGetPosition(bike->bodies[bike_frame])[0]; }
uint32_t x_code(double x) { return static_cast<uint32_t>(std::floor(x / 1024.0 * 16777215 + 0.5)); }

TEST_F(HistoryTest, PosingInterpolatesAndExtrapolatesAtMostHalfASecond) {
  BikeState *local = scene_bike(0, 0);
  scene_move(0);
  BikeState *bike = scene_bike(1, 1);
  PackTerrain t = scene_terrain();
  PackedBikeState s = pack_bike_state(local, t);
  // Entries at tics 100 and 104, 4 ft apart along x.
  put(&s, 0, x_code(500), 3);
  add_state_to_history(1, s, 100);
  put(&s, 0, x_code(504), 3);
  add_state_to_history(1, s, 104);
  scene().tic = 102;
  pose_from_history(1, 102);
  EXPECT_NEAR(frame_x(bike), 502, 0.001);
  // Velocity from the two entries: 4 ft over 4 tics.
  EXPECT_NEAR(dBodyGetLinearVel(bike->bodies[bike_frame])[0], 128, 0.1);
  pose_from_history(1, 104);
  EXPECT_NEAR(frame_x(bike), 504, 0.001);
  pose_from_history(1, 104 + 32);
  EXPECT_NEAR(frame_x(bike), 536, 0.001);
  pose_from_history(1, 104 + 100);  // capped at 64 tics past the newest
  EXPECT_NEAR(frame_x(bike), 568, 0.001);
  // Before the first entry the older state is shown, with the velocity
  // between the entries rather than n times too high.
  pose_from_history(1, 20);
  EXPECT_NEAR(frame_x(bike), 500, 0.001);
  EXPECT_NEAR(dBodyGetLinearVel(bike->bodies[bike_frame])[0], 128, 0.1);

  // Version 4 states are never blended.
  history_set_version(4);
  pose_from_history(1, 102);
  EXPECT_NEAR(frame_x(bike), 500, 0.001);
  history_set_version(5);
}

TEST_F(HistoryTest, HidingFollowsTheHistory) {
  EXPECT_EQ(history_hidden(7), 1);  // no bike
  BikeState *local = scene_bike(0, 0);
  scene_bike(1, 1);
  scene_bike(2, 2);
  EXPECT_EQ(history_hidden(0), 0);
  EXPECT_EQ(history_hidden(2), 0);
  EXPECT_EQ(history_hidden(1), 1);  // history-driven with an empty ring
  PackedBikeState s = pack_bike_state(local, scene_terrain());
  add_state_to_history(1, s, 400);
  add_state_to_history(1, s, 404);
  scene().tic = 404 + 100;
  EXPECT_EQ(history_hidden(1), 0);
  scene().tic = 404 + 128;
  EXPECT_EQ(history_hidden(1), 0);
  scene().tic = 404 + 200;
  EXPECT_EQ(history_hidden(1), 1);
  scene().tic = 400 - 128;
  EXPECT_EQ(history_hidden(1), 0);
  scene().tic = 400 - 129;
  EXPECT_EQ(history_hidden(1), 1);
}

}  // namespace
