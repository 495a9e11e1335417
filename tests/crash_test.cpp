// Dabbing, crashes and recovery.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "bike/bike_step.h"
#include "bike/contact.h"
#include "bike/posture.h"
#include "collide_scene.h"
#include "ride_scene.h"
#include "track/objects.h"

namespace {

constexpr const char *model = "crf250(2018)";

bool rider_attached(const BikeState *bike) { return dJointGetBody(bike->joints[joint_rider], 0) != nullptr; }

class Crash : public ::testing::Test {
 protected:
  CollideData data;
  RideScene scene;
  void SetUp() override {
    data = collide_data_setup("crash");
    physics_world_create();
    install_crash_hooks();
    for (int i = 0; i < extra_crash_time_slots; i++) set_extra_crash_time(i, 0);
    scene_start(&scene, make_flat_terrain(5, 2), model, 40, 40, false);
  }
  void TearDown() override {
    set_crash_race_queries(CrashRaceQueries{});
    free_track_objects();
    scene_end(&scene);
    collide_data_end();
    physics_world_destroy();
  }
  BikeState *bike() { return scene.bike; }
  PhysicsTic now() { return PhysicsTic{scene.terrain, scene.tic, scene.start_tic}; }
  // Every body moving at v, the rider's velocity history the same.
  void move_all(double vx, double vy, double vz) {
    for (dBodyID body : bike()->bodies) dBodySetLinearVel(body, vx, vy, vz);
    for (auto &slot : bike()->rider_velocity_history) {
      slot[0] = static_cast<float>(vx);
      slot[1] = static_cast<float>(vy);
      slot[2] = static_cast<float>(vz);
    }
  }
  void run(int tics) {
    for (int i = 0; i < tics; i++) scene_tic(&scene);
  }
};

}  // namespace

// The rider's body sliding 40 ft/s against the frame stays on (limit 46.5);
// at 50 he comes off. Right after a 0.8 s drop the limit is 31.
TEST_F(Crash, SlipLimit) {
  scene.tic = 1000;
  move_all(0, 0, 0);
  dBodySetLinearVel(bike()->bodies[bike_rider], 40, 0, 0);
  crash_check(bike(), now());
  EXPECT_EQ(bike()->crash_timer, 0);
  EXPECT_TRUE(rider_attached(bike()));

  bike()->take_off_tic = 1000 - 102;
  bike()->landing_tic = 1000;
  crash_check(bike(), now());
  EXPECT_EQ(bike()->crash_timer, crash_time);
  EXPECT_EQ(bike()->crash_count, 1);
  EXPECT_FALSE(rider_attached(bike()));
  EXPECT_EQ(dJointGetBody(bike()->joints[joint_rider], 1), nullptr);
  // Crashed: the gated controls read 0.
  bike_set_throttle(bike(), 1);
  EXPECT_EQ(bike()->controls.throttle, 0);
}

TEST_F(Crash, SlipAndJoltLimitsWithExtraTimes) {
  scene.tic = 1000;
  bike()->take_off_tic = 0;
  bike()->landing_tic = 10;  // long ago: full tolerance
  move_all(0, 0, 0);
  dBodySetLinearVel(bike()->bodies[bike_rider], 0, 0, -50);
  set_extra_crash_time(0, 100);
  crash_check(bike(), now());
  EXPECT_EQ(bike()->crash_timer, crash_time + 100);

  // A jolt: the whole bike stops from 60 ft/s in four tics is survived, from
  // 70 is not (1376 x 1.5 ft/s^2, gravity included).
  set_extra_crash_time(1, 1 << 30);
  EXPECT_EQ(extra_crash_time(1), max_extra_crash_time);
  set_extra_crash_time(16, 5);
  EXPECT_EQ(extra_crash_time(16), 0);
  for (double speed : {60.0, 70.0}) {
    bike()->crash_timer = 0;
    seat_rider(bike());
    move_all(0, -speed, 0);
    for (dBodyID body : bike()->bodies) dBodySetLinearVel(body, 0, 0, 0);
    crash_check(bike(), now());
    EXPECT_EQ(bike()->crash_timer > 0, speed > 64) << speed;
  }
  EXPECT_EQ(bike()->crash_timer, crash_time + max_extra_crash_time);
  // From the sixteenth crash on the last slot is used.
  set_extra_crash_time(15, 7);
  bike()->crash_count = 40;
  bike()->crash_timer = 0;
  crash_rider(bike(), scene.terrain);
  EXPECT_EQ(bike()->crash_timer, crash_time + 7);
  EXPECT_EQ(bike()->crash_count, 41);
  crash_rider(bike(), scene.terrain);  // nothing while down
  EXPECT_EQ(bike()->crash_count, 41);
}

// Upside down with the rider's shape on the ground: sliding at 6 ft/s he
// comes off, at 4 he does not.
TEST_F(Crash, UpsideDownOnTheGround) {
  for (double speed : {4.0, 6.0}) {
    reset_bike(bike());
    bike()->crash_count = 0;
    dMatrix3 flip;
    dRFromAxisAndAngle(flip, 0, 0, 1, M_PI);
    const BikeInfo *info = bike_info(bike()->model);
    // Turned over about the rider's head so it rests just inside the ground.
    double head_y = info->rider_position[1] + 0.95 + 0.45 - 0.1;
    for (dBodyID body : bike()->bodies) {
      const dReal *p = dBodyGetPosition(body);
      dBodySetPosition(body, 80 - p[0], head_y - p[1], p[2]);
      dBodySetRotation(body, flip);
    }
    move_all(speed, 0, 0);
    bike()->stopped = 0;
    EXPECT_EQ(bike_terrain_contacts(bike(), scene.terrain), 1);
    EXPECT_EQ(bike()->crash_timer > 0, speed > 5) << speed;
    EXPECT_EQ(bike()->stopped, 1);
    dJointGroupEmpty(physics_contact_group());
  }
}

// The rider's shape meeting a statue at 21 ft/s throws him off; at 19 not.
TEST_F(Crash, RiderHitsAStatue) {
  const dReal *r = dBodyGetPosition(bike()->bodies[bike_rider]);
  add_statue(static_cast<float>(r[0]), static_cast<float>(r[1] + 0.95 + 1.3 - 1), static_cast<float>(r[2] - 0.95),
             0, nullptr, nullptr, "@post.shp");
  object_grid_build(scene.terrain);
  for (double speed : {19.0, 21.0}) {
    move_all(0, 0, 0);
    dBodySetLinearVel(bike()->bodies[bike_rider], 0, 0, -speed);
    int mask = object_contacts_near(bike(), 3);
    EXPECT_TRUE(mask & bike_part_mask(bike_rider));
    EXPECT_EQ(bike()->crash_timer > 0, speed > 20) << speed;
    dJointGroupEmpty(physics_contact_group());
  }
}

// A crashed rider's packed state carries the crash; unpacked into another
// bike, that bike's rider is off with his joint detached.
TEST_F(Crash, PackedCrash) {
  crash_rider(bike(), scene.terrain);
  dBodySetPosition(bike()->bodies[bike_rider], 45, 1, 41);
  PackTerrain ground = ground_of(scene.terrain);
  PackedBikeState packed = pack_bike_state(bike(), ground);
  EXPECT_EQ(packed.bytes[36] & 7, 7);
  BikeState *other = build_bike(model, 1, "2", nullptr, nullptr, nullptr, nullptr);
  unpack_bike_state(other, packed, ground);
  EXPECT_GT(other->crash_timer, 0);
  EXPECT_FALSE(rider_attached(other));
  EXPECT_NEAR(dBodyGetPosition(other->bodies[bike_rider])[0], 45, 0.01);
  // And a riding state seats him again.
  PackedBikeState riding = pack_bike_state(other, ground);
  riding.bytes[36] = 0x10;
  unpack_bike_state(other, riding, ground);
  EXPECT_EQ(other->crash_timer, 0);
  EXPECT_TRUE(rider_attached(other));
  destroy_bike(other);
}

// Thrown off at speed, the rider tumbles, then is drawn back and joined to
// the bike again once the crash time has run at low speed.
TEST_F(Crash, RecoveryPutsTheRiderBackOnTheBike) {
  run(64);
  dBodySetLinearVel(bike()->bodies[bike_rider], 0, 10, 20);
  crash_rider(bike(), scene.terrain);
  ASSERT_EQ(bike()->crash_timer, crash_time);
  int flying = 0, seated_at = -1;
  for (int i = 0; i < 2000 && seated_at < 0; i++) {
    if (body_speed(bike()->bodies[bike_rider]) >= 2) flying++;
    scene_tic(&scene);
    // The free feet stay with the rider.
    const BikeInfo *info = bike_info(bike()->model);
    for (int side = 0; side < 2 && bike()->crash_timer > 0; side++) {
      const float *f = bike()->free_feet[side].position;
      dVector3 hip;
      const float *h = info->pose.hips[side];
      dBodyGetRelPointPos(bike()->bodies[bike_rider], h[0], h[1], h[2], hip);
      double d = std::sqrt((f[0] - hip[0]) * (f[0] - hip[0]) + (f[1] - hip[1]) * (f[1] - hip[1]) +
                           (f[2] - hip[2]) * (f[2] - hip[2]));
      EXPECT_LE(d, info->pose.thigh + info->pose.shin + 1.5) << i;
      EXPECT_GE(f[1], -1) << i;
    }
    if (bike()->crash_timer == 0) seated_at = i;
  }
  ASSERT_GE(seated_at, 0);
  EXPECT_GT(flying, 0);
  EXPECT_GE(seated_at, crash_time - 1);
  EXPECT_TRUE(rider_attached(bike()));
  // Back on the bike, on his seat, and he stays on it.
  run(256);
  EXPECT_EQ(bike()->crash_timer, 0);
  const BikeInfo *info = bike_info(bike()->model);
  dVector3 rest;
  dBodyGetRelPointPos(bike()->bodies[bike_frame], info->rider_position[0] - info->frame_position[0],
                      info->rider_position[1] - info->frame_position[1],
                      info->rider_position[2] - info->frame_position[2], rest);
  const dReal *p = dBodyGetPosition(bike()->bodies[bike_rider]);
  EXPECT_LT(std::fabs(p[0] - rest[0]) + std::fabs(p[1] - rest[1]) + std::fabs(p[2] - rest[2]), 1.0);
}

// Stopped with "Dab When Stopped", the rider puts a foot down and holds the
// bike up; both brakes are applied for the tic.
TEST_F(Crash, DabWhenStopped) {
  bike()->aid_flags |= aid_auto_dab;
  bike_set_throttle(bike(), 0);
  run(32);
  auto_dab(bike(), now());
  EXPECT_GT(bike()->controls.dab, 0.95);  // 1 - speed / max dab speed, still settling
  EXPECT_EQ(bike()->controls.front_brake, 1);
  EXPECT_EQ(bike()->controls.rear_brake, 1);
  bike_set_front_brake(bike(), 0);
  bike_set_rear_brake(bike(), 0);
  bike_set_dab(bike(), 0);

  // Tipped a little, it stays up with a foot down on the low side.
  dBodySetAngularVel(bike()->bodies[bike_frame], 0, 0, 0.3);
  for (int i = 0; i < 5 * 128; i++) {
    scene_tic(&scene);
    if (i == 128) {
      FootPlacement feet = foot_positions(bike(), ground_of(scene.terrain));
      EXPECT_GT(feet.weights[0] + feet.weights[1], 0.5);
    }
  }
  EXPECT_GT(bike()->controls.foot_down, 0.5);
  EXPECT_LT(std::fabs(lean_angle(bike())), 0.3);
  EXPECT_EQ(bike()->crash_timer, 0);
  EXPECT_EQ(bike()->controls.dab, 0);  // the rider's own input came back
}

// Without the aid and without dabbing, the same bike falls over.
TEST_F(Crash, WithoutDabbingItFalls) {
  bike()->aid_flags &= static_cast<uint8_t>(~aid_auto_dab);
  dBodySetAngularVel(bike()->bodies[bike_frame], 0, 0, 0.3);
  run(5 * 128);
  EXPECT_GT(std::fabs(lean_angle(bike())), 0.6);
  EXPECT_EQ(bike()->controls.foot_down, 0);
}

// Dropped nose first from a height after a long jump, the rider is thrown off.
TEST_F(Crash, HardLandingNoseFirst) {
  dMatrix3 pitch;
  dRFromAxisAndAngle(pitch, 1, 0, 0, -0.7);  // front down
  const dReal *f = dBodyGetPosition(bike()->bodies[bike_frame]);
  double fx = f[0], fy = f[1], fz = f[2];
  double c = std::cos(-0.7), s = std::sin(-0.7);
  for (dBodyID body : bike()->bodies) {
    const dReal *p = dBodyGetPosition(body);
    double y = p[1] - fy, z = p[2] - fz;
    dBodySetPosition(body, p[0], fy + 20 + c * y - s * z, fz + s * y + c * z);
    dMatrix3 r;
    dMultiply0_333(r, pitch, dBodyGetRotation(body));
    dBodySetRotation(body, r);
  }
  (void)fx;
  move_all(0, -25, -30);
  // In the air for over a second already: the landing lowers the tolerance.
  bike()->take_off_tic = -100;
  bike()->landing_tic = -101;
  int crashed = 0;
  for (int i = 0; i < 256 && !crashed; i++) {
    scene_tic(&scene);
    crashed = bike()->crash_timer > 0;
  }
  EXPECT_TRUE(crashed);
  EXPECT_FALSE(rider_attached(bike()));
}

// Fallen over near the track and stopped, the bike is turned toward the line
// ahead while the rider dabs.
namespace {
float target_point[3];
int yes() { return 1; }
int passed_a_gate(const BikeState *) { return 1; }
int not_finished(BikeState *) { return 0; }
int line_ahead(const BikeState *, float t[3]) {
  memcpy(t, target_point, sizeof target_point);
  return 1;
}
double heading_error(BikeState *bike) {
  dVector3 fwd;
  dBodyVectorToWorld(bike->bodies[bike_frame], 0, 0, -1, fwd);
  const dReal *p = dBodyGetPosition(bike->bodies[bike_frame]);
  double tx = target_point[0] - p[0], tz = target_point[2] - p[2];
  double a = std::atan2(fwd[0], -fwd[2]) - std::atan2(tx, -tz);
  while (a > M_PI) a -= 2 * M_PI;
  while (a < -M_PI) a += 2 * M_PI;
  return std::fabs(a);
}
}  // namespace

TEST_F(Crash, RealignAfterFallTurnsTowardTheTrack) {
  const dReal *p = dBodyGetPosition(bike()->bodies[bike_frame]);
  // The line lies behind and to the side: about 135 degrees to turn.
  target_point[0] = static_cast<float>(p[0] + 30);
  target_point[1] = 0;
  target_point[2] = static_cast<float>(p[2] + 30);
  double before = heading_error(bike());
  ASSERT_GT(before, 2.0);
  set_crash_race_queries(CrashRaceQueries{yes, passed_a_gate, not_finished, line_ahead});
  bike()->aid_flags |= aid_auto_align;
  // Lying over at 40 degrees, as after a fall.
  const dReal *f = dBodyGetPosition(bike()->bodies[bike_frame]);
  double fx = f[0];
  dMatrix3 roll;
  dRFromAxisAndAngle(roll, 0, 0, 1, 0.7);
  double c = std::cos(0.7), s = std::sin(0.7);
  for (dBodyID body : bike()->bodies) {
    const dReal *q = dBodyGetPosition(body);
    double x = q[0] - fx, y = q[1];
    dBodySetPosition(body, fx + c * x - s * y, s * x + c * y + 0.3, q[2]);
    dMatrix3 r;
    dMultiply0_333(r, roll, dBodyGetRotation(body));
    dBodySetRotation(body, r);
  }
  for (int i = 0; i < 8 * 128; i++) {
    bike_set_dab(bike(), 1);
    scene_tic(&scene);
  }
  EXPECT_LT(heading_error(bike()), 0.5);
}

// "Back up" walks the stopped bike backward with a foot down, one stroke a
// second; steering turns it while it is walked.
TEST_F(Crash, BackUpWalksTheBikeBackward) {
  run(32);
  double z0 = dBodyGetPosition(bike()->bodies[bike_frame])[2];
  for (int i = 0; i < 3 * 128; i++) {
    bike_set_back_up(bike(), 1);
    bike_set_steer(bike(), 0);
    scene_tic(&scene);
  }
  double z1 = dBodyGetPosition(bike()->bodies[bike_frame])[2];
  EXPECT_GT(z1 - z0, 1.5);  // backward is +z for a bike facing -z
  EXPECT_LT(std::fabs(lean_angle(bike())), 0.3);
  // While crashed nothing is walked: the input reads 0.
  crash_rider(bike(), scene.terrain);
  bike_set_back_up(bike(), 1);
  EXPECT_EQ(bike()->controls.back_up, 0);
}
