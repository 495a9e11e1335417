// Control setters, the shift rule and the packed bike state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "app/types.h"
#include "bike/assembly.h"
#include "bike/bike.h"
#include "platform/log.h"

namespace {

constexpr double pi = 3.14159265358979323846;
const PackTerrain flat_square = {4096, -100, nullptr, nullptr};

struct BikeFixture : ::testing::Test {
  BikeState *bike = nullptr;
  void SetUp() override {
    physics_world_create();
    bike = build_bike("cr125", 3, "7", nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override { destroy_bike(bike); }
};

struct Vec3 {
  double x, y, z;
};
Vec3 position(dBodyID b) {
  const dReal *p = dBodyGetPosition(b);
  return {p[0], p[1], p[2]};
}

// Everything the packed state carries, read from the bodies and joints.
struct Reading {
  Vec3 frame;
  double frame_q[4];
  double steer, swingarm, fork, front_spin, rear_spin;
  Vec3 rider_offset;
  double rider_q[4];
};
Reading read(const BikeState *b) {
  Reading r;
  r.frame = position(b->bodies[bike_frame]);
  Vec3 rider = position(b->bodies[bike_rider]);
  r.rider_offset = {rider.x - r.frame.x, rider.y - r.frame.y, rider.z - r.frame.z};
  for (int i = 0; i < 4; i++) {
    r.frame_q[i] = dBodyGetQuaternion(b->bodies[bike_frame])[i];
    r.rider_q[i] = dBodyGetQuaternion(b->bodies[bike_rider])[i];
  }
  r.steer = dJointGetHingeAngle(b->joints[joint_steering]);
  r.swingarm = dJointGetHingeAngle(b->joints[joint_swingarm]);
  r.fork = dJointGetSliderPosition(b->joints[joint_fork]);
  r.front_spin = dJointGetHingeAngle(b->joints[joint_front_axle]);
  r.rear_spin = dJointGetHingeAngle(b->joints[joint_rear_axle]);
  return r;
}

// Turns the whole bike rigidly about its frame's centre.
void turn_bike(BikeState *b, const dQuaternion q) {
  dMatrix3 R;
  dQtoR(q, R);
  Vec3 c = position(b->bodies[bike_frame]);
  for (dBodyID body : b->bodies) {
    Vec3 p = position(body);
    dVector3 d = {p.x - c.x, p.y - c.y, p.z - c.z}, out;
    dMultiply0_331(out, R, d);
    dBodySetPosition(body, c.x + out[0], c.y + out[1], c.z + out[2]);
    dQuaternion turned;
    dQMultiply0(turned, q, dBodyGetQuaternion(body));
    dBodySetQuaternion(body, turned);
  }
}

// Shakes the joints with random torques in free fall so every packed field
// takes some continuous value, then places the bike inside the terrain.
void random_pose(BikeState *b, std::mt19937 &rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  reset_bike(b);
  dQuaternion q = {u(rng), u(rng), u(rng), u(rng)};
  dNormalize4(q);
  turn_bike(b, q);
  for (int t = 0; t < 12; t++) {
    dJointAddHingeTorque(b->joints[joint_steering], 40 * u(rng));
    dJointAddHingeTorque(b->joints[joint_swingarm], 400 * u(rng));
    dJointAddSliderForce(b->joints[joint_fork], 300 * u(rng));
    dJointAddHingeTorque(b->joints[joint_front_axle], 20 * u(rng));
    dJointAddHingeTorque(b->joints[joint_rear_axle], 20 * u(rng));
    dBodyAddForce(b->bodies[bike_rider], 200 * u(rng), 200 * u(rng), 200 * u(rng));
    dBodyAddTorque(b->bodies[bike_rider], 20 * u(rng), 20 * u(rng), 20 * u(rng));
    physics_world_step();
  }
  Vec3 f = position(b->bodies[bike_frame]);
  move_bike(b, 1000 + 1000 * (u(rng) + 1) - f.x, 40 * u(rng) - f.y, 1500 + 1000 * (u(rng) + 1) - f.z);
  b->engine_speed = static_cast<float>(1200 * (u(rng) + 1));
  b->controls.gear = static_cast<int>((u(rng) + 1) * 2.4);
  b->controls.throttle = static_cast<float>((u(rng) + 1) * 0.5);
}

}  // namespace

// --- Setters ---------------------------------------------------------------

TEST_F(BikeFixture, EverySetterClampsIntoItsRange) {
  struct Case {
    void (*set)(BikeState *, float);
    float ControlInput::*field;
    float lo, hi;
  };
  const Case cases[] = {
      {bike_set_steer, &ControlInput::steer, -1, 1},         {bike_set_throttle, &ControlInput::throttle, 0, 1},
      {bike_set_front_brake, &ControlInput::front_brake, 0, 1}, {bike_set_rear_brake, &ControlInput::rear_brake, 0, 1},
      {bike_set_clutch, &ControlInput::clutch, 0, 1},        {bike_set_dab, &ControlInput::dab, 0, 1},
      {bike_set_back_up, &ControlInput::back_up, 0, 1},      {bike_set_lean, &ControlInput::lean, -1, 1},
  };
  for (const Case &c : cases) {
    c.set(bike, 5);
    EXPECT_EQ(bike->controls.*c.field, c.hi);
    c.set(bike, -5);
    EXPECT_EQ(bike->controls.*c.field, c.lo);
    c.set(bike, 0.25f);
    EXPECT_EQ(bike->controls.*c.field, 0.25f);
    c.set(bike, NAN);  // a broken input must not reach the physics
    EXPECT_EQ(bike->controls.*c.field, 0);
  }
}

TEST_F(BikeFixture, CrashGatedSettersStoreZeroWhileCrashed) {
  bike->crash_timer = 10;
  bike_set_throttle(bike, 1);
  bike_set_dab(bike, 1);
  bike_set_back_up(bike, 1);
  bike_set_lean(bike, -1);
  bike_set_steer(bike, 1);
  bike_set_front_brake(bike, 1);
  bike_set_rear_brake(bike, 1);
  bike_set_clutch(bike, 1);
  EXPECT_EQ(bike->controls.throttle, 0);
  EXPECT_EQ(bike->controls.dab, 0);
  EXPECT_EQ(bike->controls.back_up, 0);
  EXPECT_EQ(bike->controls.lean, 0);
  // The others still work while the rider is off.
  EXPECT_EQ(bike->controls.steer, 1);
  EXPECT_EQ(bike->controls.front_brake, 1);
  EXPECT_EQ(bike->controls.rear_brake, 1);
  EXPECT_EQ(bike->controls.clutch, 1);
}

TEST_F(BikeFixture, HeldShiftRequestShiftsOnce) {
  bike_set_shift(bike, 1);
  bike_set_shift(bike, 1);
  EXPECT_EQ(bike_gear(bike), 1);
  bike_set_shift(bike, 0);
  bike_set_shift(bike, 1);
  EXPECT_EQ(bike_gear(bike), 2);
  bike_set_shift(bike, -1);
  EXPECT_EQ(bike_gear(bike), 1);
  bike_set_shift(bike, 2);  // outside -1..1: ignored, not remembered
  bike_set_shift(bike, -1);
  EXPECT_EQ(bike_gear(bike), 1);
  bike_set_shift(bike, 0);
  bike_set_shift(bike, -1);
  bike_set_shift(bike, 0);
  bike_set_shift(bike, -1);
  EXPECT_EQ(bike_gear(bike), 0);  // no neutral below first
  bike->crash_timer = 5;
  bike_set_shift(bike, 1);
  EXPECT_EQ(bike_gear(bike), 0);
  EXPECT_EQ(bike->controls.last_shift, -1);
}

TEST_F(BikeFixture, ShiftingUpStopsAtTheModelsLastGear) {
  for (int i = 0; i < 8; i++) {
    bike_set_shift(bike, 1);
    bike_set_shift(bike, 0);
  }
  EXPECT_EQ(bike_gear(bike), 4);  // cr125 has five gears
}

// --- Packing -------------------------------------------------------------------

TEST_F(BikeFixture, RoundTripKeepsEveryFieldWithinItsResolution) {
  BikeState *copy = build_bike("cr125", 4, "8", nullptr, nullptr, nullptr, nullptr);
  std::mt19937 rng(7);
  const BikeInfo *info = bike_info(bike->model);
  const double E = flat_square.extent;
  for (int trial = 0; trial < 40; trial++) {
    random_pose(bike, rng);
    Reading want = read(bike);
    // Joint stops are soft: a value a little past its stop packs at the stop.
    want.steer = std::clamp(want.steer, -pi / 4, pi / 4);
    want.swingarm = std::clamp(want.swingarm, -double(info->swingarm_travel), 0.0);
    want.fork = std::clamp(want.fork, -double(info->fork_travel), 0.0);
    PackedBikeState packed = pack_bike_state(bike, flat_square);
    unpack_bike_state(copy, packed, flat_square);
    Reading got = read(copy);
    const double eps = 1e-6;
    EXPECT_NEAR(got.frame.x, want.frame.x, 0.5 * E / 16777215 + eps);
    EXPECT_NEAR(got.frame.y, want.frame.y, 0.5 * E / 16777215 + eps);
    EXPECT_NEAR(got.frame.z, want.frame.z, 0.5 * E / 16777215 + eps);
    for (int i = 0; i < 4; i++) {
      // Each packed component is within 1/65535; the bodies hold the
      // normalised quaternion, which may move a component a little more.
      double frame_c = 2 * ((packed.bytes[9 + 2 * i] | packed.bytes[10 + 2 * i] << 8) / 65535.0) - 1;
      double rider_c = 2 * ((packed.bytes[26 + 2 * i] | packed.bytes[27 + 2 * i] << 8) / 65535.0) - 1;
      EXPECT_NEAR(frame_c, want.frame_q[i], 1.0 / 65535 + 1e-12);
      EXPECT_NEAR(rider_c, want.rider_q[i], 1.0 / 65535 + 1e-12);
      EXPECT_NEAR(got.frame_q[i], want.frame_q[i], 2.0 / 65535) << trial;
      EXPECT_NEAR(got.rider_q[i], want.rider_q[i], 2.0 / 65535) << trial;
    }
    EXPECT_NEAR(got.steer, want.steer, 0.5 * (pi / 2) / 255 + eps) << trial;
    // Bit 0 of the swingarm and fork bytes is not part of the value.
    EXPECT_NEAR(got.swingarm, want.swingarm, 1.5 * info->swingarm_travel / 255 + eps) << trial;
    EXPECT_NEAR(got.fork, want.fork, 1.5 * info->fork_travel / 255 + eps) << trial;
    EXPECT_NEAR(got.front_spin, want.front_spin, 0.5 * 2 * pi / 255 + eps) << trial;
    EXPECT_NEAR(got.rear_spin, want.rear_spin, 0.5 * 2 * pi / 255 + eps) << trial;
    EXPECT_NEAR(got.rider_offset.x, want.rider_offset.x, 0.5 * 32 / 65535 + eps);
    EXPECT_NEAR(got.rider_offset.y, want.rider_offset.y, 0.5 * 32 / 65535 + eps);
    EXPECT_NEAR(got.rider_offset.z, want.rider_offset.z, 0.5 * 32 / 65535 + eps);
    EXPECT_NEAR(engine_rpm(copy->engine_speed), engine_rpm(bike->engine_speed), 0.5 * 32768 / 65535 + 0.01);
    EXPECT_EQ(copy->controls.gear, bike->controls.gear);
    EXPECT_LE(copy->controls.throttle, bike->controls.throttle + 1e-6);
    EXPECT_GT(copy->controls.throttle, bike->controls.throttle - 1.0f / 15);
    // The rebuilt pose packs to the same bytes.
    PackedBikeState again = pack_bike_state(copy, flat_square);
    EXPECT_EQ(memcmp(again.bytes, packed.bytes, sizeof packed.bytes), 0) << trial;
  }
  destroy_bike(copy);
}

TEST_F(BikeFixture, FrameOutsideTheTerrainPacksAtTheNearestEdge) {
  const PackTerrain small = {100, 5, nullptr, nullptr};
  move_bike(bike, 500, 500, -500);
  PackedBikeState p = pack_bike_state(bike, small);
  EXPECT_EQ(p.bytes[0] | p.bytes[1] << 8 | p.bytes[2] << 16, 16777215);  // x past the far edge
  EXPECT_EQ(p.bytes[3] | p.bytes[4] << 8 | p.bytes[5] << 16, 16777215);  // y above ymin + E
  EXPECT_EQ(p.bytes[6] | p.bytes[7] << 8 | p.bytes[8] << 16, 0);         // z before the near edge
  move_bike(bike, 0, -600, 0);
  p = pack_bike_state(bike, small);
  EXPECT_EQ(p.bytes[3] | p.bytes[4] << 8 | p.bytes[5] << 16, 0);  // below the lowest height
  unpack_bike_state(bike, p, small);
  Vec3 f = position(bike->bodies[bike_frame]);
  EXPECT_DOUBLE_EQ(f.x, 100);
  EXPECT_DOUBLE_EQ(f.y, 5);
  EXPECT_DOUBLE_EQ(f.z, 0);
}

TEST_F(BikeFixture, RiderFarFromTheFrameAndFastEngineClamp) {
  dBodySetPosition(bike->bodies[bike_rider], 3.6 + 40, 1.98 - 40, 0);
  bike->engine_speed = 40000 / rads_to_rpm;
  PackedBikeState p = pack_bike_state(bike, flat_square);
  EXPECT_EQ(p.bytes[20] | p.bytes[21] << 8, 65535);
  EXPECT_EQ(p.bytes[22] | p.bytes[23] << 8, 0);
  EXPECT_EQ(p.bytes[37] | p.bytes[38] << 8, 65535);
  unpack_bike_state(bike, p, flat_square);
  Vec3 f = position(bike->bodies[bike_frame]), r = position(bike->bodies[bike_rider]);
  EXPECT_NEAR(r.x - f.x, 16, 1e-9);
  EXPECT_NEAR(r.y - f.y, -16, 1e-9);
  EXPECT_NEAR(engine_rpm(bike->engine_speed), 32768, 0.01);
}

TEST_F(BikeFixture, RidingByteCarriesGearFootAndThrottle) {
  bike->controls.gear = 3;
  bike->controls.throttle = 0.999f;  // truncated, not rounded: 14
  bike->controls.foot_down = 0.1f;
  PackedBikeState p = pack_bike_state(bike, flat_square);
  EXPECT_EQ(p.bytes[36], 3 | 8 | 14 << 4);
  EXPECT_EQ(p.bytes[18] & 1, 1);
  EXPECT_EQ(p.bytes[19] & 1, 0);

  // A packed 6 unpacks as 5 and steps down past the missing sixth gear.
  p.bytes[36] = 6 | 15 << 4;
  unpack_bike_state(bike, p, flat_square);
  EXPECT_EQ(bike->controls.gear, 4);
  EXPECT_EQ(bike->controls.throttle, 1);
  BikeState *six = build_bike("kx125", 1, "", nullptr, nullptr, nullptr, nullptr);
  unpack_bike_state(six, p, flat_square);
  EXPECT_EQ(six->controls.gear, 5);
  six->controls.gear = 5;
  EXPECT_EQ(pack_bike_state(six, flat_square).bytes[36] & 7, 5);
  destroy_bike(six);
}

TEST_F(BikeFixture, CrashedRidingByteDetachesAndRestoresTheRider) {
  const struct {
    int timer, bits;
  } cases[] = {{1, 0}, {100, 11}, {127, 14}, {128, 15}, {512, 15}};
  for (auto c : cases) {
    bike->crash_timer = c.timer;
    bike->controls.gear = 2;
    PackedBikeState p = pack_bike_state(bike, flat_square);
    EXPECT_EQ(p.bytes[36] & 7, 7) << c.timer;
    EXPECT_EQ(p.bytes[36] >> 4, c.bits) << c.timer;
  }
  BikeState *remote = build_bike("cr125", 9, "", nullptr, nullptr, nullptr, nullptr);
  bike->crash_timer = 512;
  bike->controls.throttle = 0.5f;
  unpack_bike_state(remote, pack_bike_state(bike, flat_square), flat_square);
  EXPECT_EQ(dJointGetBody(remote->joints[joint_rider], 0), nullptr);
  EXPECT_EQ(dJointGetBody(remote->joints[joint_rider], 1), nullptr);
  EXPECT_EQ(remote->crash_timer, 15 * 127 / 15 + 1);
  EXPECT_EQ(remote->controls.throttle, 0);

  // Back on the bike: the joint joins rider and frame again.
  bike->crash_timer = 0;
  bike->controls.gear = 1;
  bike->controls.throttle = 0.5f;
  unpack_bike_state(remote, pack_bike_state(bike, flat_square), flat_square);
  EXPECT_EQ(remote->crash_timer, 0);
  EXPECT_EQ(dJointGetBody(remote->joints[joint_rider], 0), remote->bodies[bike_rider]);
  EXPECT_EQ(dJointGetBody(remote->joints[joint_rider], 1), remote->bodies[bike_frame]);
  EXPECT_EQ(remote->controls.gear, 1);
  EXPECT_NEAR(remote->controls.throttle, 7.0 / 15, 1e-6);
  destroy_bike(remote);
}

// --- Moving unpack ------------------------------------------------------------------

namespace {
float high_ground(const void *, float, float) { return 50; }
}  // namespace

TEST_F(BikeFixture, MovingUnpackGivesVelocitiesAndLiftsOutOfTheGround) {
  BikeState *remote = build_bike("cr125", 9, "", nullptr, nullptr, nullptr, nullptr);
  bike_deactivate(remote);
  move_bike(bike, 100, 10, 100);
  PackedBikeState older = pack_bike_state(bike, flat_square);
  move_bike(bike, 2, 0, -4);
  PackedBikeState newer = pack_bike_state(bike, flat_square);
  move_bike(bike, 1, 0, -2);
  PackedBikeState now = pack_bike_state(bike, flat_square);

  unpack_bike_state_moving(remote, older, newer, now, 4, flat_square);
  const double dt = seconds_per_tic * 4;
  for (dBodyID b : remote->bodies) {
    const dReal *v = dBodyGetLinearVel(b), *w = dBodyGetAngularVel(b);
    EXPECT_NEAR(v[0], 2 / dt, 0.01);
    EXPECT_NEAR(v[1], 0, 0.01);
    EXPECT_NEAR(v[2], -4 / dt, 0.01);
    EXPECT_NEAR(w[0] * w[0] + w[1] * w[1] + w[2] * w[2], 0, 1e-6);  // same orientation
  }
  EXPECT_NEAR(position(remote->bodies[bike_frame]).x, position(bike->bodies[bike_frame]).x, 1e-3);
  EXPECT_EQ(remote->controls.foot_down, 0);

  // n below 1 acts as 1; a crashed state raises the foot-down level.
  now.bytes[36] = 7;
  unpack_bike_state_moving(remote, older, newer, now, 0, flat_square);
  EXPECT_NEAR(dBodyGetLinearVel(remote->bodies[bike_frame])[0], 2 / seconds_per_tic, 0.05);
  EXPECT_FLOAT_EQ(remote->controls.foot_down, static_cast<float>(seconds_per_tic * 8));

  // Ground above the rear tyre lifts the whole bike onto it.
  const PackTerrain hill = {4096, -100, high_ground, nullptr};
  unpack_bike_state_moving(remote, older, newer, now, 1, hill);
  Vec3 rear = position(remote->bodies[bike_rear_wheel]);
  EXPECT_NEAR(rear.y - bike_info(remote->model)->rear_ring_radius, 50, 1e-6);
  destroy_bike(remote);
}

TEST_F(BikeFixture, ActiveBikeIsPulledTowardThePackedPose) {
  BikeState *remote = build_bike("cr125", 9, "", nullptr, nullptr, nullptr, nullptr);
  move_bike(bike, 100, 10, 100);
  move_bike(remote, 100, 10, 100);
  PackedBikeState older = pack_bike_state(bike, flat_square);
  move_bike(bike, 0, 0, -10);  // the packed rider is 10 ft ahead
  PackedBikeState now = pack_bike_state(bike, flat_square);

  // Right after a touch (activity above 0.75) there is no pull at all.
  unpack_bike_state_moving(remote, older, now, now, 1, flat_square);
  const dReal *f = dBodyGetForce(remote->bodies[bike_frame]);
  EXPECT_EQ(f[0] * f[0] + f[1] * f[1] + f[2] * f[2], 0);
  Vec3 before = position(remote->bodies[bike_frame]);
  EXPECT_NEAR(before.z, 100 + 3.6, 1e-6);  // not placed

  // Decayed activity: full gains, capped at 2500 lbf toward the target.
  remote->activity = 0.3f;
  dBodySetForce(remote->bodies[bike_frame], 0, 0, 0);
  unpack_bike_state_moving(remote, older, now, now, 1, flat_square);
  f = dBodyGetForce(remote->bodies[bike_frame]);
  EXPECT_NEAR(std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]), 2500, 1e-6);
  EXPECT_LT(f[2], -2400);

  // Rider seated at rest: no lean; the dab bit reaches the dab input.
  EXPECT_NEAR(remote->controls.lean, 0, 1e-3);
  now.bytes[36] |= 8;
  unpack_bike_state_moving(remote, older, now, now, 1, flat_square);
  EXPECT_EQ(remote->controls.dab, 1);

  // A crashed state detaches the rider and sets the timer.
  now.bytes[36] = 7 | 15 << 4;
  unpack_bike_state_moving(remote, older, now, now, 1, flat_square);
  EXPECT_EQ(remote->crash_timer, 128);
  EXPECT_EQ(dJointGetBody(remote->joints[joint_rider], 0), nullptr);
  EXPECT_EQ(remote->controls.dab, 0);
  destroy_bike(remote);
}

// States arrive from the network and from demo files: any 39 bytes must give
// a finite pose and in-range controls.
TEST_F(BikeFixture, ArbitraryBytesUnpackToAFinitePose) {
  std::mt19937 rng(11);
  PackedBikeState p;
  for (int trial = 0; trial < 200; trial++) {
    for (uint8_t &b : p.bytes) b = static_cast<uint8_t>(rng());
    if (trial & 1) bike_deactivate(bike);
    else bike_activate(bike);
    unpack_bike_state_moving(bike, p, p, p, static_cast<int>(rng() % 8) - 2, flat_square);
    unpack_bike_state(bike, p, flat_square);
    for (dBodyID b : bike->bodies) {
      const dReal *pos = dBodyGetPosition(b), *q = dBodyGetQuaternion(b), *v = dBodyGetLinearVel(b);
      for (int k = 0; k < 3; k++) EXPECT_TRUE(std::isfinite(pos[k]) && std::isfinite(v[k]));
      EXPECT_NEAR(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3], 1, 1e-9);
    }
    EXPECT_GE(bike->controls.gear, 0);
    EXPECT_LE(bike->controls.gear, 4);
    EXPECT_GE(bike->controls.throttle, 0);
    EXPECT_LE(bike->controls.throttle, 1);
    EXPECT_TRUE(std::isfinite(bike->engine_speed));
  }
}
