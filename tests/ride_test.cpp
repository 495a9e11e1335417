#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "bike/drivetrain.h"
#include "bike/posture.h"
#include "bike/suspension.h"
#include "ride_scene.h"

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double mph = 1.4666667;

// The frame's axes in the world.
void frame_axis(const BikeState *bike, double x, double y, double z, double out[3]) {
  dVector3 v;
  dBodyVectorToWorld(bike->bodies[bike_frame], x, y, z, v);
  for (int k = 0; k < 3; k++) out[k] = v[k];
}
double frame_up_y(const BikeState *bike) {
  double u[3];
  frame_axis(bike, 0, 1, 0, u);
  return u[1];
}
// Heading of the frame's forward direction in the ground plane.
double heading(const BikeState *bike) {
  double f[3];
  frame_axis(bike, 0, 0, -1, f);
  return std::atan2(f[0], -f[2]);
}
// The rider's offset from the frame in the frame's own axes.
void rider_offset(const BikeState *bike, double out[3]) {
  const dReal *r = dBodyGetPosition(bike->bodies[bike_rider]);
  dVector3 local;
  dBodyGetPosRelPoint(bike->bodies[bike_frame], r[0], r[1], r[2], local);
  for (int k = 0; k < 3; k++) out[k] = local[k];
}
bool finite_pose(const BikeState *bike) {
  for (dBodyID b : bike->bodies) {
    const dReal *p = dBodyGetPosition(b), *v = dBodyGetLinearVel(b);
    for (int k = 0; k < 3; k++)
      if (!std::isfinite(p[k]) || !std::isfinite(v[k])) return false;
  }
  return std::isfinite(bike->engine_speed);
}
bool wheel_locked(const BikeState *bike, int joint) {
  return std::fabs(dJointGetHingeAngleRate(bike->joints[joint])) * 1.0833 < 0.25 * frame_speed(bike);
}
// Throttle that holds a speed (ft/s), clutch engaged.
void hold_speed(BikeState *bike, double target) {
  double v = frame_speed(bike);
  bike_set_clutch(bike, 1);
  bike_set_throttle(bike, static_cast<float>(std::clamp((target - v) * 0.5 + 0.15, 0.0, 1.0)));
}

// Rides from rest on flat ground with full throttle until `speed` (ft/s).
void ride_up_to(RideScene *s, double speed) {
  for (int i = 0; i < 128 * 20 && frame_speed(s->bike) < speed; i++) {
    hold_speed(s->bike, speed + 20);
    scene_tic(s);
  }
}

}  // namespace

// --- Suspension and drivetrain rules -------------------------------------------

TEST(Suspension, DamperAndSprings) {
  SuspensionValues fork{10, 60, 20, 30, 500, 0.04f, 0.4166667f};
  EXPECT_EQ(two_stage_damper(0, fork), 0);  // at rest, whatever the low-speed part
  SuspensionValues negative = fork;
  negative.slow_compression = -60;
  negative.slow_rebound = -30;
  EXPECT_EQ(two_stage_damper(0, negative), 0);
  // Compressing at 1 ft/s with a speed part of 10 lbf: +60 gives 70, -60 is
  // held at an eighth of the speed part.
  EXPECT_FLOAT_EQ(two_stage_damper(-1, fork), 70);
  EXPECT_FLOAT_EQ(two_stage_damper(-1, negative), 1.25f);
  // Extending: negative force, at most 8 times the speed part.
  EXPECT_FLOAT_EQ(two_stage_damper(1, fork), -50);
  EXPECT_FLOAT_EQ(two_stage_damper(0.1f, fork), -2 - 14);

  // Full extension: no force whatever the preload.
  EXPECT_EQ(fork_force(fork, 1, 0, -2), 0);
  // Fully compressed with the least oil: the air spring's full value.
  SuspensionValues still = fork;
  still.slow_compression = still.slow_rebound = 0;
  float air = 82.4616928100586f * (std::pow(1.4166667f / 0.4166667f, 1.4f) - 1);
  EXPECT_NEAR(fork_force(still, 1, -1, 0), air + (0.04f + 1) * 500, 0.05f);
  // Half way in the top-out ramp the force is halved.
  float p = -1.0f / 64;
  float whole = 82.4616928100586f * (std::pow(1.4166667f / (1.4166667f - 1.0f / 64), 1.4f) - 1) +
                (0.04f - p) * 500;
  EXPECT_NEAR(fork_force(still, 1, p, 0), whole * 0.5f, 1e-3f);
  // A fast rebound out-damps the spring: the force turns negative.
  EXPECT_LT(fork_force(fork, 1, -0.2f, 30), 0);
}

TEST(Suspension, ShockThroughTheLinkage) {
  physics_world_create();
  BikeState *bike = build_bike("crf250(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  const BikeInfo *info = bike_info(bike->model);
  EXPECT_EQ(shock_torque(bike, 0, -1), 0);
  float theta = -0.5f * info->swingarm_travel;
  LinkagePoint link = bike_linkage(info, 0.5f);
  EXPECT_NEAR(shock_torque(bike, theta, 0), (link.compression + bike->shock.preload) * bike->shock.spring_rate * link.slope,
              1e-2);
  // The rising rate: more travel, more torque per unit of travel.
  float t1 = shock_torque(bike, -0.25f * info->swingarm_travel, 0);
  float t2 = shock_torque(bike, -0.5f * info->swingarm_travel, 0);
  float t3 = shock_torque(bike, -0.75f * info->swingarm_travel, 0);
  EXPECT_GT(t3 - t2, t2 - t1);
  destroy_bike(bike);
}

TEST(Drivetrain, AutoClutchAndCouplingRules) {
  // Auto clutch at 5000 rpm: open at 4000, half at 6000, the lever from 7000.
  const double rpm = 1 / 9.549296585513721;
  EXPECT_EQ(auto_clutch_engagement(static_cast<float>(4000 * rpm), 5000, 1), 0);
  EXPECT_NEAR(auto_clutch_engagement(static_cast<float>(6000 * rpm), 5000, 1), 0.5f, 1e-4f);
  EXPECT_NEAR(auto_clutch_engagement(static_cast<float>(6000 * rpm), 5000, 0.3f), 0.3f, 1e-6f);
  EXPECT_EQ(auto_clutch_engagement(static_cast<float>(7000 * rpm), 5000, 0.8f), 0.8f);

  physics_world_create();
  BikeState *bike = build_bike("crf250(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  bike->auto_clutch_rpm = 0;
  bike_set_clutch(bike, 1);
  // A wind-up beyond 45 degrees is cut back to exactly 45 in the same tic.
  // (At 300 rad/s the engine turns past the automatic clutch; the angle then
  // advances by one tic of engine speed through the gearing.)
  bike->driveline_angle = 1.2f;
  bike->engine_speed = 300;
  drivetrain_step(bike, 1);
  float theta = static_cast<float>(dJointGetHingeAngle(bike->joints[joint_rear_axle]));
  float advance = static_cast<float>(seconds_per_tic) * bike->engine_speed / overall_ratio(bike);
  EXPECT_NEAR(bike->driveline_angle - theta, 0.7853982f + advance, 1e-4f);

  // Clutch pulled: no drive torque, and the engine follows its own curve.
  reset_bike(bike);
  bike_set_clutch(bike, 0);
  bike_set_throttle(bike, 1);
  bike->engine_speed = 800;
  float expected = 800 + static_cast<float>(seconds_per_tic) * engine_torque(bike) / bike->engine_inertia;
  drivetrain_step(bike, 1);
  EXPECT_NEAR(bike->engine_speed, expected, 1e-3f);
  const dReal *torque = dBodyGetTorque(bike->bodies[bike_rear_wheel]);
  EXPECT_EQ(torque[0], 0);
  destroy_bike(bike);
}

TEST(Drivetrain, BrakeAidsFollowTheWheelContacts) {
  physics_world_create();
  BikeState *bike = build_bike("crf250(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  auto fmax = [&](int joint) { return dJointGetHingeParam(bike->joints[joint], dParamFMax); };
  auto set_wheel = [&](int w, float depth, float slide) {
    bike->wheels[w].depth = depth;
    bike->wheels[w].velocity[0] = 0;
    bike->wheels[w].velocity[1] = 0;
    bike->wheels[w].velocity[2] = slide;
  };
  bike->aid_flags = aid_front_antilock | aid_rear_antilock;
  bike_set_front_brake(bike, 1);
  bike_set_rear_brake(bike, 0.5f);
  set_wheel(0, 0.1f, 1);
  set_wheel(1, 0.1f, 1);
  drivetrain_step(bike, 1);
  EXPECT_FLOAT_EQ(fmax(joint_front_axle), bike->front_brake_torque);
  EXPECT_FLOAT_EQ(fmax(joint_rear_axle), 0.5f * bike->rear_brake_torque);
  // Sliding faster than 2 ft/s on the ground: released.
  set_wheel(0, 0.1f, 3);
  set_wheel(1, 0.1f, -3);
  drivetrain_step(bike, 1);
  EXPECT_EQ(fmax(joint_front_axle), 0);
  EXPECT_EQ(fmax(joint_rear_axle), 0);
  // The same slide in the air keeps the brake.
  set_wheel(0, 0, 3);
  set_wheel(1, 0, 3);
  drivetrain_step(bike, 1);
  EXPECT_FLOAT_EQ(fmax(joint_front_axle), bike->front_brake_torque);
  EXPECT_FLOAT_EQ(fmax(joint_rear_axle), 0.5f * bike->rear_brake_torque);

  // "Front Only" stop-wheelies: the throttle is never cut, the front brake is
  // released while only the front wheel touches.
  bike->aid_flags = aid_stop_stoppie;
  set_wheel(0, 0.1f, 0);
  set_wheel(1, 0, 0);
  drivetrain_step(bike, 1);
  EXPECT_EQ(fmax(joint_front_axle), 0);
  bike_set_throttle(bike, 1);
  bike->engine_speed = 900;
  set_wheel(0, 0, 0);
  set_wheel(1, 0.1f, 0);
  EXPECT_GT(engine_torque(bike), 0);
  // "Yes": a wheelie (rear only, front not dropping) cuts positive torque.
  bike->aid_flags = aid_stop_wheelie | aid_stop_stoppie;
  EXPECT_EQ(engine_torque(bike), 0);
  destroy_bike(bike);
}

TEST(Steering, LockAngle) {
  physics_world_create();
  BikeState *bike = build_bike("crf250(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  bike->full_lock_speed = 10;
  bike->restricted_lock_speed = 50;
  bike->restricted_lock_angle = static_cast<float>(7.5 * pi / 180);
  EXPECT_NEAR(steering_lock(bike, 5, 1), pi / 4, 1e-6);
  EXPECT_NEAR(steering_lock(bike, 10, 0.5f), pi / 4, 1e-6);
  EXPECT_NEAR(steering_lock(bike, 50, 1), 7.5 * pi / 180, 1e-6);
  EXPECT_NEAR(steering_lock(bike, 80, 0.1f), pi / 4, 1e-6);  // ice: 60 degrees, capped
  float between = steering_lock(bike, 20, 1);
  EXPECT_GT(between, 7.5 * pi / 180);
  EXPECT_LT(between, pi / 4);
  destroy_bike(bike);
}

// --- Riding -------------------------------------------------------------------

TEST(Ride, SettlesOnFlatGroundAndStaysUpright) {
  RideScene s;
  scene_start(&s, make_flat_terrain(6, 2), "crf250(2018)", 128.3f, 128.6f, true);
  const dReal *start = frame_position(s.bike);
  double x0 = start[0], z0 = start[2];
  double worst_lean = 0, y_min = 1e9, y_max = -1e9;
  for (int i = 0; i < 30 * tics_per_second; i++) {
    // A shove sideways after 5 s, more than the roll aid holds at once.
    if (i >= 5 * 128 && i < 5 * 128 + 13) dBodyAddTorque(s.bike->bodies[bike_frame], 0, 0, 1500);
    scene_tic(&s);
    ASSERT_TRUE(finite_pose(s.bike)) << "tic " << i;
    worst_lean = std::max(worst_lean, static_cast<double>(std::fabs(lean_angle(s.bike))));
    if (i >= 20 * 128) {
      y_min = std::min(y_min, frame_position(s.bike)[1]);
      y_max = std::max(y_max, frame_position(s.bike)[1]);
    }
  }
  EXPECT_GT(worst_lean, 0.02);  // the shove did tip it
  EXPECT_LT(worst_lean, 0.35);
  EXPECT_LT(std::fabs(lean_angle(s.bike)), 0.02);
  EXPECT_GT(frame_up_y(s.bike), 0.999);
  // Sagged on both springs, and at rest: no bounce, no creep.
  EXPECT_GT(bike_fork_fraction(s.bike), 0.05f);
  EXPECT_LT(bike_fork_fraction(s.bike), 0.5f);
  EXPECT_GT(bike_swingarm_fraction(s.bike), 0.05f);
  EXPECT_LT(bike_swingarm_fraction(s.bike), 0.6f);
  EXPECT_LT(y_max - y_min, 0.01);
  EXPECT_LT(frame_speed(s.bike), 0.05);
  const dReal *p = frame_position(s.bike);
  EXPECT_LT(std::hypot(p[0] - x0, p[2] - z0), 0.5);
  EXPECT_GT(s.bike->wheels[0].depth, 0);
  EXPECT_GT(s.bike->wheels[1].depth, 0);
  scene_end(&s);
}

TEST(Ride, FullThrottleShiftsUpToAPlausibleTopSpeed) {
  // Top speed is where the torque curve runs out in top gear; ranges in mph.
  struct Case {
    const char *model;
    double low, high;
  };
  for (Case c : {Case{"crf250(2018)", 60, 80}, Case{"cr125", 55, 80}, Case{"cr250(2007)", 60, 85},
                 Case{"crf450(2018)", 75, 100}, Case{"rs50cr", 40, 70}}) {
    SCOPED_TRACE(c.model);
    RideScene s;
    scene_start(&s, make_flat_terrain(6, 2), c.model, 128.3f, 250, true);
    const BikeInfo *info = bike_info(s.bike->model);
    // The rpm at which the full-throttle curve falls to zero past its peak.
    int peak = 0;
    for (int i = 0; i < torque_curve_points; i++)
      if (info->full_torque[i] > info->full_torque[peak]) peak = i;
    int zero = peak;
    while (zero < torque_curve_points - 1 && info->full_torque[zero] > 0) zero++;
    double limit_rpm = zero * 500.0;
    int top_gear = bike_select_gear(info, 5);

    std::vector<int> gears{0};
    double top = 0, max_rpm = 0, last_gain_at = 0;
    for (int i = 0; i < 30 * 128 && i - last_gain_at < 2 * 128; i++) {
      bike_set_throttle(s.bike, 1);
      bike_set_clutch(s.bike, 1);
      scene_tic(&s);
      ASSERT_TRUE(finite_pose(s.bike));
      if (s.bike->controls.gear != gears.back()) gears.push_back(s.bike->controls.gear);
      max_rpm = std::max(max_rpm, s.bike->engine_speed * 9.549296585513721);
      if (frame_speed(s.bike) > top + 0.01) {
        top = frame_speed(s.bike);
        last_gain_at = i;
      }
    }
    EXPECT_EQ(gears.back(), top_gear);
    // Up through every gear; a shift down on the way only straight after an
    // upshift that landed below the downshift point.
    int downs = 0;
    for (size_t g = 1; g < gears.size(); g++) downs += gears[g] < gears[g - 1];
    EXPECT_LE(downs, 1);
    EXPECT_GE(static_cast<int>(gears.size()), top_gear + 1);
    // An upshift that lands below the downshift point makes the gearbox shift
    // straight back down, and the wheel then drives the engine past the end
    // of its curve for a moment (the 50s' first gear gap does that).
    bool hunts = false;
    for (int g = 0; g < top_gear; g++)
      hunts |= info->upshift_rpm * info->gear_ratios[g + 1] / info->gear_ratios[g] < info->downshift_rpm;
    EXPECT_LT(max_rpm, hunts ? limit_rpm * 1.1 : limit_rpm);
    EXPECT_GT(top / mph, c.low);
    EXPECT_LT(top / mph, c.high);
    // The top speed is the gearing's speed at the end of the curve.
    double ratio = info->gear_ratios[top_gear] * info->primary_ratio * s.bike->final_drive;
    double outer = info->rear_ring_radius + info->rear_tube_radius;
    EXPECT_LT(top, limit_rpm / 9.549296585513721 / ratio * outer);
    EXPECT_GT(top, info->upshift_rpm / 9.549296585513721 / ratio * outer * 0.9);
    EXPECT_LT(std::fabs(lean_angle(s.bike)), 0.05);
    scene_end(&s);
  }
}

TEST(Ride, BrakingFrom40MphStopsWithTheWheelsTurning) {
  struct Run {
    double distance = 0, seconds = 0;
    int front_locked = 0, rear_locked = 0, tics = 0;
  };
  auto brake_run = [](uint8_t antilock) {
    RideScene s;
    scene_start(&s, make_flat_terrain(6, 2), "crf250(2018)", 128.3f, 250, true);
    s.bike->aid_flags = static_cast<uint8_t>((s.bike->aid_flags & ~(aid_front_antilock | aid_rear_antilock)) | antilock);
    ride_up_to(&s, 40 * mph);
    Run run;
    double z0 = frame_position(s.bike)[2];
    int i = 0;
    for (; i < 10 * 128 && frame_speed(s.bike) > 0.5; i++) {
      bike_set_throttle(s.bike, 0);
      bike_set_clutch(s.bike, 0);
      bike_set_front_brake(s.bike, 1);
      bike_set_rear_brake(s.bike, 1);
      scene_tic(&s);
      if (frame_speed(s.bike) > 10) {
        run.tics++;
        // A wheel lifted off the ground keeps its brake; only a locked wheel
        // that touches counts.
        run.front_locked += s.bike->wheels[0].depth > 0 && wheel_locked(s.bike, joint_front_axle);
        run.rear_locked += s.bike->wheels[1].depth > 0 && wheel_locked(s.bike, joint_rear_axle);
      }
    }
    run.distance = z0 - frame_position(s.bike)[2];
    run.seconds = i / 128.0;
    EXPECT_LT(std::fabs(frame_position(s.bike)[0] - 128.3f), 2);  // straight
    EXPECT_GT(frame_up_y(s.bike), 0.95);
    scene_end(&s);
    return run;
  };
  Run both = brake_run(aid_front_antilock | aid_rear_antilock);
  EXPECT_GT(both.distance, 45);
  EXPECT_LT(both.distance, 110);
  EXPECT_LT(both.seconds, 4);
  EXPECT_LT(both.front_locked, both.tics / 10);
  EXPECT_LT(both.rear_locked, both.tics / 10);
  // The player's default: antilock at the front only; the rear locks.
  Run front = brake_run(aid_front_antilock);
  EXPECT_GT(front.distance, 45);
  EXPECT_LT(front.distance, 110);
  EXPECT_LT(front.front_locked, front.tics / 10);
  EXPECT_GT(front.rear_locked, front.tics / 3);
}

TEST(Ride, SteadySteeringTurnsACircle) {
  struct Turn {
    double radius, lean, heading_change, x_span, z_span;
    int revolution_tics;
  };
  constexpr double speed = 15 * mph;
  auto turn = [](bool arcade, float steer) {
    RideScene s;
    scene_start(&s, make_flat_terrain(6, 2), "crf250(2018)", 128.3f, 200, true);
    s.bike->arcade = arcade ? 1 : 0;
    ride_up_to(&s, speed);
    for (int i = 0; i < 3 * 128; i++) {  // into the turn
      bike_set_steer(s.bike, steer);
      hold_speed(s.bike, speed);
      scene_tic(&s);
    }
    // One full revolution at most 15 s long.
    Turn t{};
    double last = heading(s.bike), turned = 0, travelled = 0, lean = 0;
    double x_lo = 1e9, x_hi = -1e9, z_lo = 1e9, z_hi = -1e9;
    int n = 0;
    for (; n < 15 * 128 && std::fabs(turned) < 2 * pi; n++) {
      bike_set_steer(s.bike, steer);
      hold_speed(s.bike, speed);
      scene_tic(&s);
      EXPECT_TRUE(finite_pose(s.bike));
      double h = heading(s.bike), d = h - last;
      d -= std::round(d / (2 * pi)) * 2 * pi;
      turned += d;
      last = h;
      travelled += frame_speed(s.bike) * seconds_per_tic;
      lean += lean_angle(s.bike);
      const dReal *p = frame_position(s.bike);
      x_lo = std::min(x_lo, static_cast<double>(p[0]));
      x_hi = std::max(x_hi, static_cast<double>(p[0]));
      z_lo = std::min(z_lo, static_cast<double>(p[2]));
      z_hi = std::max(z_hi, static_cast<double>(p[2]));
    }
    t.heading_change = turned;
    t.radius = travelled / std::fabs(turned);
    t.lean = lean / n;
    t.x_span = x_hi - x_lo;
    t.z_span = z_hi - z_lo;
    t.revolution_tics = n;
    scene_end(&s);
    return t;
  };
  for (bool arcade : {false, true}) {
    SCOPED_TRACE(arcade ? "arcade" : "standard");
    Turn a = turn(arcade, 0.6f), b = turn(arcade, -0.6f);
    for (const Turn &t : {a, b}) {
      EXPECT_GE(std::fabs(t.heading_change), 2 * pi);  // a full circle
      EXPECT_LT(t.revolution_tics, 15 * 128);
      EXPECT_GT(t.radius, 10);
      EXPECT_LT(t.radius, 60);
      // A closed path whose extent is the circle's diameter both ways.
      EXPECT_NEAR(t.x_span, 2 * t.radius, 0.2 * t.radius);
      EXPECT_NEAR(t.z_span, 2 * t.radius, 0.2 * t.radius);
      // Leaned as far as the speed and radius need.
      double needed = std::atan(speed * speed / (32 * t.radius));
      EXPECT_NEAR(std::fabs(t.lean), needed, 0.15);
    }
    // Opposite inputs turn opposite ways, equally. Heading grows toward +x,
    // the rider's right, and a bike turning right leans right (lean < 0).
    EXPECT_LT(a.heading_change * b.heading_change, 0);
    // The physics turns right for a positive steer value; the "Left" binding
    // gives +1 and the default "Reversed Steering" setting negates it, so
    // the player's Left key (steer -0.6 here) turns the bike left.
    EXPECT_LT(b.heading_change, 0);
    EXPECT_NEAR(a.radius, b.radius, 0.15 * a.radius);
    EXPECT_LT(a.lean * a.heading_change, 0);
    EXPECT_LT(b.lean * b.heading_change, 0);
  }
}

TEST(Ride, LeanAndSitInputsMoveTheRider) {
  RideScene s;
  scene_start(&s, make_flat_terrain(6, 2), "crf250(2018)", 128.3f, 250, true);
  ride_up_to(&s, 15 * mph);
  auto settle_with = [&](float lean, float dab) {
    for (int i = 0; i < 128; i++) {
      hold_speed(s.bike, 15 * mph);
      bike_set_lean(s.bike, lean);
      bike_set_dab(s.bike, dab);
      scene_tic(&s);
    }
    double o[3];
    rider_offset(s.bike, o);
    return std::vector<double>{o[0], o[1], o[2]};
  };
  std::vector<double> rest = settle_with(0, 0);
  std::vector<double> back = settle_with(1, 0);
  std::vector<double> forward = settle_with(-1, 0);
  std::vector<double> sitting = settle_with(0, 1);
  // z is backward in the frame.
  EXPECT_GT(back[2] - rest[2], 0.3);
  EXPECT_LT(forward[2] - rest[2], -0.3);
  EXPECT_LT(std::fabs(back[2] - rest[2]), 1.0);
  EXPECT_LT(sitting[1] - rest[1], -0.2);
  EXPECT_NEAR(rest[0], 0, 0.05);
  EXPECT_GT(frame_up_y(s.bike), 0.95);
  scene_end(&s);
}

TEST(Ride, RampJumpLandsUpright) {
  for (bool arcade : {true, false}) {
    SCOPED_TRACE(arcade ? "arcade" : "standard");
    // A kicker 4 ft high over 16 ft toward -z, its lip slanted across the
    // track so that one side leaves first, then flat ground again.
    Terrain *t = make_flat_terrain(6, 2);
    for (int j = 0; j < t->verts_per_side; j++)
      for (int i = 0; i < t->verts_per_side; i++) {
        float z = j * t->spacing + 0.15f * (i * t->spacing - 128);
        float rise = 160 + 16 - z;
        terrain_set_height(t, i, j, rise > 0 && rise < 16 ? 4 * rise / 16 : 0);
      }
    RideScene s;
    scene_start(&s, t, "crf250(2018)", 128.3f, 400, true);
    s.bike->arcade = arcade ? 1 : 0;
    int air = 0, longest = 0, landed_at = -1;
    double lowest_up = 1;
    for (int i = 0; i < 10 * 128; i++) {
      hold_speed(s.bike, 35 * mph);
      scene_tic(&s);
      ASSERT_TRUE(finite_pose(s.bike));
      bool touching = s.bike->wheels[0].depth > 0 || s.bike->wheels[1].depth > 0;
      air = touching ? 0 : air + 1;
      longest = std::max(longest, air);
      if (touching && longest > 32 && landed_at < 0) landed_at = i;
      lowest_up = std::min(lowest_up, frame_up_y(s.bike));
      if (landed_at >= 0 && i > landed_at + 3 * 128) break;
    }
    EXPECT_GT(longest, 64);  // half a second in the air
    ASSERT_GE(landed_at, 0);
    EXPECT_GT(lowest_up, 0.7);
    EXPECT_LT(std::fabs(lean_angle(s.bike)), 0.3);
    EXPECT_GT(frame_up_y(s.bike), 0.9);
    EXPECT_GT(frame_speed(s.bike), 20 * mph);
    EXPECT_GT(s.bike->landing_tic, s.bike->take_off_tic);
    scene_end(&s);
  }
}

// The dabbing code may override the brakes for one tic: the drivetrain sees
// the override, the rider's own inputs come back afterwards. An inactive bike
// only moves its free feet.
namespace {
int feet_calls = 0, dab_calls = 0;
void dab_hook(BikeState *bike, const PhysicsTic &) {
  dab_calls++;
  bike->controls.front_brake = 1;
  bike->controls.rear_brake = 1;
}
void feet_hook(BikeState *, const PhysicsTic &) { feet_calls++; }
}  // namespace

TEST(PhysicsStep, HooksRunInOrderAndInputsAreRestored) {
  RideScene s;
  scene_start(&s, make_flat_terrain(4, 2), "crf250(2018)", 16.3f, 16.6f, false);
  bike_set_front_brake(s.bike, 0.25f);
  bike_set_rear_brake(s.bike, 0);
  CrashHooks hooks{};
  hooks.auto_dab_and_back_up = dab_hook;
  hooks.feet_step = feet_hook;
  set_crash_hooks(hooks);
  s.bike->aid_flags = 0;
  scene_tic(&s);
  EXPECT_EQ(dab_calls, 1);
  EXPECT_EQ(feet_calls, 1);
  EXPECT_FLOAT_EQ(dJointGetHingeParam(s.bike->joints[joint_front_axle], dParamFMax), s.bike->front_brake_torque);
  EXPECT_FLOAT_EQ(dJointGetHingeParam(s.bike->joints[joint_rear_axle], dParamFMax), s.bike->rear_brake_torque);
  EXPECT_FLOAT_EQ(s.bike->controls.front_brake, 0.25f);
  EXPECT_EQ(s.bike->controls.rear_brake, 0);

  bike_deactivate(s.bike);
  scene_tic(&s);
  EXPECT_EQ(dab_calls, 1);
  EXPECT_EQ(feet_calls, 2);
  set_crash_hooks(CrashHooks{});
  scene_end(&s);
}

TEST(Steering, LandingDampingFallsBackOverTheFalloff) {
  RideScene s;
  scene_start(&s, make_flat_terrain(6, 2), "crf250(2018)", 128.3f, 250, true);
  s.bike->arcade = 0;
  s.bike->land_damping_factor = 2;
  s.bike->land_damping_falloff = 0.25f;
  ride_up_to(&s, 15 * mph);
  // As at a touchdown: the multiplier starts at the factor.
  s.bike->landing_damping = 2;
  for (int i = 0; i < 16; i++) {
    hold_speed(s.bike, 15 * mph);
    scene_tic(&s);
  }
  EXPECT_NEAR(s.bike->landing_damping, 1.5f, 0.01f);
  for (int i = 0; i < 17; i++) {
    hold_speed(s.bike, 15 * mph);
    scene_tic(&s);
  }
  EXPECT_EQ(s.bike->landing_damping, 1);
  // Off the ground it is held at the factor again.
  dBodySetPosition(s.bike->bodies[bike_front_wheel], 0, 50, 0);
  bike_terrain_contacts(s.bike, s.terrain);
  dJointGroupEmpty(physics_contact_group());
  steering_step(s.bike, s.terrain);
  EXPECT_EQ(s.bike->landing_damping, 2);
  scene_end(&s);
}
