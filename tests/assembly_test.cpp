// The physics world, building and setting up a bike, activity, and the
// collision shape reader.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "app/types.h"
#include "bike/assembly.h"
#include "bike/shape.h"
#include "platform/log.h"
#include "test_util.h"

namespace {

constexpr double pi = 3.14159265358979323846;

double mass_of(dBodyID b) {
  dMass m;
  dBodyGetMass(b, &m);
  return m.mass;
}

double distance(const dReal *a, const dReal *b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

struct AssemblyFixture : ::testing::Test {
  BikeState *bike = nullptr;
  void SetUp() override {
    physics_world_create();
    bike = build_bike("crf450(2018)", 5, "12", nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override { destroy_bike(bike); }
};

}  // namespace

// --- What the rider joint relies on in ODE's hinge-2 --------------------------

// Two free bodies joined like the rider and the frame: axis-1 stops at 0 keep
// the rider from turning about axis 1, a re-attached joint with fresh anchor
// and axes starts from angle 0, and the hinge angle of body 1 relative to
// body 2 is positive for a positive turn about the axis.
TEST(OdeBehaviour, HingeTwoAxisOneStopsHoldAndReattachStartsAtZero) {
  physics_world_create();
  dWorldID w = physics_world();
  dBodyID a = dBodyCreate(w), b = dBodyCreate(w);
  dMass m;
  dMassSetSphereTotal(&m, 1.5, 1);
  dBodySetMass(a, &m);
  dMassSetBoxTotal(&m, 6, 1, 2, 2);
  dBodySetMass(b, &m);
  dBodySetPosition(a, 0, 4.5, 4.12);
  dBodySetPosition(b, 0, 1.98, 3.6);
  dJointID j = dJointCreateHinge2(w, nullptr);
  dJointSetHinge2Param(j, dParamLoStop, 0);
  dJointSetHinge2Param(j, dParamHiStop, 0);
  dJointAttach(j, a, b);
  dJointSetHinge2Anchor(j, 0, 4.5, -50);
  const dReal axis1[3] = {0, 1, 1}, axis2[3] = {1, 0, 0};
  dJointSetHinge2Axes(j, axis1, axis2);
  for (int t = 0; t < 128; t++) {
    dVector3 ax;
    dJointGetHinge2Axis1(j, ax);
    dBodyAddTorque(a, 30 * ax[0], 30 * ax[1], 30 * ax[2]);  // tries to turn the rider about axis 1
    dBodyAddTorque(b, -30 * ax[0], -30 * ax[1], -30 * ax[2]);
    dWorldStep(w, seconds_per_tic);
  }
  EXPECT_LT(std::fabs(dJointGetHinge2Angle1(j)), 0.01);

  // Detached, turned, re-attached with anchor and axes set afresh: angle 0.
  dJointAttach(j, nullptr, nullptr);
  dQuaternion q;
  dQFromAxisAndAngle(q, 0, 1, 0, 0.7);
  dBodySetQuaternion(a, q);
  dBodySetQuaternion(b, q);
  dJointAttach(j, a, b);
  const dReal *p = dBodyGetPosition(b);
  dJointSetHinge2Anchor(j, p[0], p[1] + 2.5, p[2] - 50);
  dJointSetHinge2Axes(j, axis1, axis2);
  EXPECT_NEAR(dJointGetHinge2Angle1(j), 0, 1e-9);
  dJointDestroy(j);

  // Plain hinge sign: body 1 turned by +0.3 about the axis reads +0.3.
  dJointID h = dJointCreateHinge(w, nullptr);
  dBodySetQuaternion(a, q);
  dBodySetQuaternion(b, q);
  dJointAttach(h, a, b);
  dJointSetHingeAxis(h, 1, 0, 0);
  dQuaternion turn, turned;
  dQFromAxisAndAngle(turn, 1, 0, 0, 0.3);
  dQMultiply0(turned, q, turn);
  dBodySetQuaternion(a, turned);
  EXPECT_NEAR(dJointGetHingeAngle(h), 0.3, 1e-9);
  dJointDestroy(h);
  dBodyDestroy(a);
  dBodyDestroy(b);
}

// --- Build ---------------------------------------------------------------------

TEST_F(AssemblyFixture, BuildsAtRestWithTheCatalogueMasses) {
  const BikeInfo *info = bike_info(bike->model);
  EXPECT_STREQ(info->name, "crf450(2018)");
  EXPECT_EQ(bike->slot, 5);
  EXPECT_EQ(bike->activity, 1);
  EXPECT_TRUE(bike_is_active(bike));
  const dReal *frame = dBodyGetPosition(bike->bodies[bike_frame]);
  EXPECT_FLOAT_EQ(frame[1], 1.98f);
  EXPECT_FLOAT_EQ(dBodyGetPosition(bike->bodies[bike_rider])[2], 4.12f);
  EXPECT_NEAR(mass_of(bike->bodies[bike_frame]), info->bike_mass + 2.0 / 3 * info->rider_mass, 1e-6);
  EXPECT_NEAR(mass_of(bike->bodies[bike_rider]), info->rider_mass / 3, 1e-6);
  EXPECT_NEAR(mass_of(bike->bodies[bike_front_wheel]), info->front_hub_mass + info->front_tyre_mass, 1e-6);
  EXPECT_NEAR(mass_of(bike->bodies[bike_swingarm]), 2 * info->swingarm_side_mass, 1e-6);
  EXPECT_NEAR(mass_of(bike->bodies[bike_fork_lower]), info->fork_mass, 1e-6);
  double sum = 0;
  for (dBodyID b : bike->bodies) sum += mass_of(b);
  EXPECT_NEAR(bike->total_mass, sum, 1e-5);
  // The wheel's tyre ring makes its spin inertia larger than a bare hub's.
  dMass m;
  dBodyGetMass(bike->bodies[bike_rear_wheel], &m);
  EXPECT_GT(m.I[0], 0.4 * info->rear_hub_mass * 0.25 + 0.9 * info->rear_tyre_mass * 0.75 * 0.75);
  EXPECT_EQ(bike->aid_flags, 0x8d);
  EXPECT_EQ(bike->arcade, 0);
  EXPECT_FLOAT_EQ(bike->final_drive, 49.0f / 13.0f);
  EXPECT_FLOAT_EQ(bike->shock.compression, 1600);
  EXPECT_FLOAT_EQ(bike->fork.air_gap, info->fork_air_gap_min);
  EXPECT_EQ(bike->last_collision_tic, -1);
}

TEST_F(AssemblyFixture, HoldsTogetherInFreeFall) {
  // A wrong anchor or axis shows as parts drifting apart or spinning up.
  const dReal *fw = dBodyGetPosition(bike->bodies[bike_front_wheel]);
  const dReal *fl = dBodyGetPosition(bike->bodies[bike_fork_lower]);
  const dReal *rw = dBodyGetPosition(bike->bodies[bike_rear_wheel]);
  const dReal *sa = dBodyGetPosition(bike->bodies[bike_swingarm]);
  const dReal *fr = dBodyGetPosition(bike->bodies[bike_frame]);
  const dReal *rd = dBodyGetPosition(bike->bodies[bike_rider]);
  double front = distance(fw, fl), rear = distance(rw, sa), rider = distance(rd, fr);
  double y0 = fr[1];
  for (int t = 0; t < 128; t++) physics_world_step();
  EXPECT_NEAR(distance(fw, fl), front, 1e-3);
  EXPECT_NEAR(distance(rw, sa), rear, 1e-3);
  EXPECT_NEAR(distance(rd, fr), rider, 0.05);
  EXPECT_NEAR(fr[1] - y0, -16, 0.2);  // half g t^2 after one second
  const dReal *w = dBodyGetAngularVel(bike->bodies[bike_frame]);
  EXPECT_LT(std::fabs(w[0]) + std::fabs(w[1]) + std::fabs(w[2]), 1e-3);
}

TEST(Assembly, UnknownModelFallsBackAndPlateTextIsCut) {
  physics_world_create();
  message_clear();
  BikeState *b = build_bike("cr85", 0, "123456789", "", nullptr, "@mine.png", nullptr);
  EXPECT_STREQ(bike_info(b->model)->name, "kx250f(2007)");
  EXPECT_EQ(message_visible_count(), 1);
  EXPECT_STREQ(message_line(0), "bike info for 'cr85' not found using 'kx250f(2007)' instead");
  EXPECT_STREQ(b->graphics.number, "1234567");
  EXPECT_STREQ(b->graphics.texture_names[texture_bike], "@mine.png");
  EXPECT_STREQ(b->graphics.texture_names[texture_rider_body], bike_info(b->model)->rider_body_texture);
  for (int k = 0; k < 3; k++) {
    EXPECT_EQ(b->graphics.number_background[k], 255);
    EXPECT_EQ(b->graphics.number_foreground[k], 255);
  }
  // On this branch "@" data paths do not open: every shape is missing, and
  // the bike is still complete.
  for (CollisionShape *s : b->shapes) EXPECT_EQ(s, nullptr);
  destroy_bike(b);
  message_clear();
}

TEST(Assembly, NumberPlateColoursFromTheTextureText) {
  uint8_t bg[3], fg[3];
  number_plate_colours("a skin [numberbackground:1,0.5,0] [numberforeground:2,-1,0.25] more", bg, fg);
  EXPECT_EQ(bg[0], 255);
  EXPECT_EQ(bg[1], 128);
  EXPECT_EQ(bg[2], 0);
  EXPECT_EQ(fg[0], 255);  // clamped to 1
  EXPECT_EQ(fg[1], 0);    // clamped to 0
  EXPECT_EQ(fg[2], 64);
  number_plate_colours("[numberforeground:0,0,0]", bg, fg);
  EXPECT_EQ(bg[0] & bg[1] & bg[2], 255);
  EXPECT_EQ(fg[0] | fg[1] | fg[2], 0);
  number_plate_colours("[numberbackground:0.2,x", bg, fg);  // malformed: white
  EXPECT_EQ(bg[0] & bg[1] & bg[2], 255);
}

// --- Setup -----------------------------------------------------------------------

TEST_F(AssemblyFixture, ApplySetupTransformsEveryValue) {
  const BikeInfo *info = bike_info(bike->model);
  BikeSetup s = bike_setup_defaults();
  ASSERT_EQ(apply_setup(bike, s, 0), 1);
  EXPECT_FLOAT_EQ(bike->fork.compression, info->fork_compression);        // 50: factor 1
  EXPECT_FLOAT_EQ(bike->shock.compression, 2 * info->shock_compression);  // 75: factor 2
  EXPECT_FLOAT_EQ(bike->fork.slow_compression, 0);
  EXPECT_FLOAT_EQ(bike->fork.air_gap, (info->fork_air_gap_min + info->fork_air_gap_max) / 2);
  EXPECT_FLOAT_EQ(bike->roll_limit_angle, static_cast<float>(pi / 4));
  EXPECT_NEAR(bike->restricted_lock_angle, 0.017453292519943295, 1e-7);
  EXPECT_NEAR(bike->max_dab_speed, 88, 1e-4);
  EXPECT_FLOAT_EQ(bike->rider_vertical_spring, 0.5f);
  EXPECT_EQ(bike->aid_flags, 0x01 | 3 << 1 | 0x08 | 0x20 | 0x40 | 0x80);
  EXPECT_EQ(bike->arcade, 1);

  s.fork_compression_adjustment = 100;  // factor 4
  s.fork_rebound_adjustment = 0;        // factor 1/4
  s.fork_slow_rebound_adjustment = 0;   // offset -1
  s.shock_slow_compression_adjustment = 100;
  s.fork_spring_rate_adjustment = 150;  // t clamped to 1
  s.shock_preload_adjustment = -20;     // t clamped to 0
  s.roll_limit_angle = 200;             // clamped to pi
  s.restricted_lock = 90;               // clamped to pi/4
  s.max_dab_speed = 2;                  // 2.93 ft/s, raised to 7
  s.max_steering_force = 5000;
  s.slow_damping_factor = 0;
  s.front_sprocket_adjustment = -3;
  s.rear_sprocket_adjustment = 2;
  s.stop_wheelies = 2;
  s.front_brake = 0;
  s.rear_brake = 1;
  s.auto_shift = 0;
  s.auto_dab = 0;
  s.auto_align = 0;
  s.arcade = 1;
  set_arcade_allowed(0);
  ASSERT_EQ(apply_setup(bike, s, 0), 1);
  set_arcade_allowed(1);
  EXPECT_FLOAT_EQ(bike->fork.compression, 4 * info->fork_compression);
  EXPECT_FLOAT_EQ(bike->fork.rebound, 0.25f * info->fork_rebound);
  EXPECT_FLOAT_EQ(bike->fork.slow_rebound, -info->fork_slow_rebound);
  EXPECT_FLOAT_EQ(bike->shock.slow_compression, info->shock_slow_compression);
  EXPECT_FLOAT_EQ(bike->fork.spring_rate, info->fork_spring_max);
  EXPECT_FLOAT_EQ(bike->shock.preload, info->shock_preload_min);
  EXPECT_FLOAT_EQ(bike->roll_limit_angle, static_cast<float>(pi));
  EXPECT_FLOAT_EQ(bike->restricted_lock_angle, static_cast<float>(pi / 4));
  EXPECT_FLOAT_EQ(bike->max_dab_speed, 7);
  EXPECT_FLOAT_EQ(bike->max_steering_force, 1000);
  EXPECT_FLOAT_EQ(bike->slow_damping_factor, 1);
  EXPECT_FLOAT_EQ(bike->final_drive, 51.0f / 11.0f);
  EXPECT_EQ(bike->aid_flags, 0x01 | 2 << 1 | 0x10);
  EXPECT_EQ(bike->arcade, 0);  // forbidden by the server
}

TEST_F(AssemblyFixture, RiderMassDistributionKeepsTheTotal) {
  const BikeInfo *info = bike_info(bike->model);
  const float total = bike->total_mass;
  BikeSetup s = bike_setup_defaults();
  const struct {
    float asked, used;
  } cases[] = {{0.6f, 0.5f}, {0.2f, 0.33f}, {0.42f, 0.42f}, {NAN, 0.33f}};
  for (auto c : cases) {
    s.rider_mass_distribution = c.asked;
    ASSERT_EQ(apply_setup(bike, s, 0), 1);
    EXPECT_FLOAT_EQ(bike->rider_mass_distribution, c.used);
    EXPECT_NEAR(mass_of(bike->bodies[bike_rider]), c.used * info->rider_mass, 1e-5);
    EXPECT_NEAR(mass_of(bike->bodies[bike_frame]), info->bike_mass + (1 - c.used) * info->rider_mass, 1e-5);
    double sum = 0;
    for (dBodyID b : bike->bodies) sum += mass_of(b);
    EXPECT_NEAR(sum, total, 1e-5);
    EXPECT_NEAR(bike->total_mass, total, 1e-5);
  }
}

TEST_F(AssemblyFixture, ApplySetupIsRefusedWhileRolling) {
  BikeSetup s = bike_setup_defaults();
  s.roll_damping = 11;
  message_clear();
  dBodySetLinearVel(bike->bodies[bike_frame], 0, 0, -0.2);
  EXPECT_EQ(apply_setup(bike, s, 100), 0);
  EXPECT_EQ(message_visible_count(), 0);  // the first refusal is silent
  EXPECT_EQ(apply_setup(bike, s, 109.5), 0);
  EXPECT_EQ(message_visible_count(), 1);
  EXPECT_STREQ(message_line(0), "Settings not applied.  Mechanic can't keep up error.");
  message_clear();
  EXPECT_EQ(apply_setup(bike, s, 120), 0);  // 10.5 s after the last refusal
  EXPECT_EQ(message_visible_count(), 0);
  EXPECT_NE(bike->roll_damping, 11);

  dBodySetLinearVel(bike->bodies[bike_frame], 0.1, 0, 0);
  EXPECT_EQ(apply_setup(bike, s, 121), 1);
  EXPECT_EQ(bike->roll_damping, 11);
  EXPECT_EQ(message_visible_count(), 0);
}

// --- Reset, move, activity ----------------------------------------------------------

TEST_F(AssemblyFixture, ResetPutsEverythingBackAtRest) {
  move_bike(bike, 10, 20, 30);
  for (int t = 0; t < 20; t++) physics_world_step();
  bike_set_throttle(bike, 1);
  bike_set_shift(bike, 1);
  bike->engine_speed = 900;
  bike->crash_timer = 40;
  bike->last_collision_tic = 77;
  bike->activity = 0.1f;
  detach_rider(bike);
  reset_bike(bike);
  const BikeInfo *info = bike_info(bike->model);
  const dReal *p = dBodyGetPosition(bike->bodies[bike_front_wheel]);
  EXPECT_FLOAT_EQ(p[1], info->front_axle[1]);
  EXPECT_FLOAT_EQ(p[2], info->front_axle[2]);
  EXPECT_EQ(dBodyGetLinearVel(bike->bodies[bike_frame])[1], 0);
  EXPECT_EQ(dBodyGetQuaternion(bike->bodies[bike_swingarm])[0], 1);
  EXPECT_EQ(bike->controls.gear, 0);
  EXPECT_EQ(bike->controls.throttle, 0);
  EXPECT_EQ(bike->controls.last_shift, 0);
  EXPECT_EQ(bike->engine_speed, 0);
  EXPECT_EQ(bike->crash_timer, 0);
  EXPECT_EQ(bike->last_collision_tic, -1);
  EXPECT_EQ(bike->activity, 1);
  EXPECT_EQ(dJointGetBody(bike->joints[joint_rider], 0), bike->bodies[bike_rider]);
  EXPECT_NEAR(dJointGetHinge2Angle1(bike->joints[joint_rider]), 0, 1e-9);
  EXPECT_TRUE(dBodyIsEnabled(bike->bodies[bike_rider]));
}

TEST_F(AssemblyFixture, MoveBikeShiftsAllSevenBodies) {
  double before[bike_body_count][3];
  for (int i = 0; i < bike_body_count; i++)
    for (int k = 0; k < 3; k++) before[i][k] = dBodyGetPosition(bike->bodies[i])[k];
  move_bike(bike, 1.5, -2, 300);
  for (int i = 0; i < bike_body_count; i++) {
    const dReal *p = dBodyGetPosition(bike->bodies[i]);
    EXPECT_DOUBLE_EQ(p[0], before[i][0] + 1.5);
    EXPECT_DOUBLE_EQ(p[1], before[i][1] - 2);
    EXPECT_DOUBLE_EQ(p[2], before[i][2] + 300);
  }
}

TEST_F(AssemblyFixture, DeactivatedBikeDoesNotMoveWhenTheWorldSteps) {
  dBodySetLinearVel(bike->bodies[bike_frame], 3, 0, 0);
  bike_deactivate(bike);
  EXPECT_FALSE(bike_is_active(bike));
  double before[bike_body_count][3];
  for (int i = 0; i < bike_body_count; i++)
    for (int k = 0; k < 3; k++) before[i][k] = dBodyGetPosition(bike->bodies[i])[k];
  for (int t = 0; t < 64; t++) physics_world_step();
  for (int i = 0; i < bike_body_count; i++)
    for (int k = 0; k < 3; k++) EXPECT_EQ(dBodyGetPosition(bike->bodies[i])[k], before[i][k]);
  bike_activate(bike);
  physics_world_step();
  EXPECT_LT(dBodyGetPosition(bike->bodies[bike_frame])[1], before[bike_frame][1]);  // falls again
}

TEST_F(AssemblyFixture, ActivityDecaysTouchesAndSwitchesTheBodies) {
  for (int t = 0; t < 95; t++) bike_decay_activity(bike);
  EXPECT_TRUE(bike_is_active(bike));
  bike_decay_activity(bike);  // 96 tics: 1 - 96/128 = 0.25
  EXPECT_FLOAT_EQ(bike->activity, 0.25f);
  EXPECT_FALSE(bike_is_active(bike));
  EXPECT_FALSE(dBodyIsEnabled(bike->bodies[bike_frame]));
  bike_touch(bike);  // at or below 0.25: held at 0.25, bodies off
  EXPECT_FLOAT_EQ(bike->activity, 0.25f);
  EXPECT_FALSE(dBodyIsEnabled(bike->bodies[bike_rider]));
  for (int t = 0; t < 40; t++) bike_decay_activity(bike);
  EXPECT_EQ(bike->activity, 0);
  dBodyAddForce(bike->bodies[bike_frame], 50, 0, 0);
  bike_touch(bike);  // exactly 0: woken with clean accumulators
  EXPECT_EQ(bike->activity, 1);
  EXPECT_TRUE(dBodyIsEnabled(bike->bodies[bike_swingarm]));
  EXPECT_EQ(dBodyGetForce(bike->bodies[bike_frame])[0], 0);
  bike_touch(bike);  // above 0.25 nothing happens
  EXPECT_EQ(bike->activity, 1);
}

// --- Collision shapes ------------------------------------------------------------------

TEST(Shape, ReadsSpheresAndCachesByName) {
  std::string dir = make_temp_dir("shape");
  std::string path = dir + "/two.shp";
  write_text_file(path, "2\n0 1 0  0.5 0.8 2000 100\n 0 0 -2 1.0 0.6 2500 250\n");
  const CollisionShape *s = load_shape(path.c_str());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->sphere_count, 2);
  EXPECT_FLOAT_EQ(s->spheres[1].centre[2], -2);
  EXPECT_FLOAT_EQ(s->spheres[0].friction, 0.8f);
  EXPECT_FLOAT_EQ(s->spheres[1].damping, 250);
  EXPECT_FLOAT_EQ(shape_bounding_radius(s), 3);
  EXPECT_EQ(load_shape(path.c_str()), s);
  float c[3];
  shape_sphere_centre(s, 0, c);
  EXPECT_FLOAT_EQ(c[1], 1);
  shape_sphere_centre(s, 2, c);
  EXPECT_EQ(c[0] + c[1] + c[2], 0);
  EXPECT_EQ(shape_sphere_radius(s, 2), 0);

  CollisionShape *copy = copy_shape(path.c_str());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->template_shape, s);
  EXPECT_NE(copy->spheres, s->spheres);
  copy->spheres[0].centre[0] = 99;  // placing an instance leaves the loaded shape alone
  EXPECT_FLOAT_EQ(s->spheres[0].centre[0], 0);
  EXPECT_STREQ(shape_name(copy), path.c_str());
  free_shape_instance(copy);

  write_text_file(dir + "/empty.shp", "0\n");
  const CollisionShape *empty = load_shape((dir + "/empty.shp").c_str());
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->sphere_count, 0);
  EXPECT_EQ(shape_bounding_radius(empty), 0);
  free_shapes();
}

TEST(Shape, MalformedFilesYieldNoShapeAndAreNotCached) {
  std::string dir = make_temp_dir("badshape");
  const char *bad[] = {
      "2\n0 0 0 1 1 1 1\n0 0 0",         // "2" then only ten numbers
      "1\n0 0 nan 1 1 1 1\n",           // not a number the solver can use
      "1\n0 0 0 inf 1 1 1\n",           // infinite radius
      "1\n0 0 0 -1 1 1 1\n",            // negative radius
      "-3\n",                           // negative count
      "999999999\n0 0 0 1 1 1 1\n",     // count far beyond any body
      "two\n",                          // no count at all
      "",                               // empty
  };
  int n = 0;
  for (const char *text : bad) {
    std::string path = dir + "/bad" + std::to_string(n++) + ".shp";
    write_text_file(path, text);
    EXPECT_EQ(load_shape(path.c_str()), nullptr) << text;
    EXPECT_EQ(copy_shape(path.c_str()), nullptr) << text;
    // Fixing the file afterwards loads it: the failure was not cached.
    write_text_file(path, "1 0 0 0 1 1 1 1");
    EXPECT_NE(load_shape(path.c_str()), nullptr) << text;
  }
  EXPECT_EQ(load_shape((dir + "/missing.shp").c_str()), nullptr);
  EXPECT_EQ(load_shape(nullptr), nullptr);
  free_shapes();
}
