#include "bike/crash.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/types.h"
#include "bike/assembly.h"
#include "bike/catalogue.h"
#include "bike/collide.h"
#include "bike/contact.h"
#include "bike/posture.h"
#include "bike/vec_local.h"
#include "track/gates.h"
#include "track/terrain.h"

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr float tic_f = static_cast<float>(seconds_per_tic);

// Set by the race server; lives for the process.
int extra_crash_times[extra_crash_time_slots];
// Installed by the race; lives for the process.
CrashRaceQueries race_queries{};

using namespace bike_vec;

float ground_height(const void *terrain, float x, float z) {
  return terrain_height(static_cast<const Terrain *>(terrain), x, z);
}

double frame_speed(const BikeState *bike) { return length(vr(dBodyGetLinearVel(bike->bodies[bike_frame]))); }
bool both_wheels_touch(const BikeState *bike) { return bike->wheels[0].depth > 0 && bike->wheels[1].depth > 0; }

// One angular motor on the frame alone about the world's vertical.
void yaw_motor(BikeState *bike, double rate, double max_torque) {
  dJointID motor = dJointCreateAMotor(physics_world(), physics_contact_group());
  dJointAttach(motor, bike->bodies[bike_frame], nullptr);
  dJointSetAMotorNumAxes(motor, 1);
  dJointSetAMotorAxis(motor, 0, 0, 0, 1, 0);
  dJointSetAMotorParam(motor, dParamVel, rate);
  dJointSetAMotorParam(motor, dParamFMax, max_torque);
}

void crashed_step(BikeState *bike, const PhysicsTic &now) {
  const BikeInfo *info = bike_info(bike->model);
  const RiderPoseBlock &pose = info->pose;
  dBodyID rider = bike->bodies[bike_rider], frame = bike->bodies[bike_frame];
  dBodyID fork = bike->bodies[bike_fork_upper];
  if (length(vr(dBodyGetLinearVel(rider))) >= 2) {
    // Still flying: the hands hold the bars, the hips stay near the bike.
    float arm = 0.875f * (pose.upper_arm + pose.forearm);
    for (int side = 0; side < 2; side++) tether(rider, pose.shoulders[side], fork, pose.grips[side], arm);
    if (bike->crash_timer > crash_realign_tics) {
      float hip[3] = {0, pose.hips[0][1], pose.hips[0][2]};
      float bar[3] = {0, pose.grips[0][1], pose.grips[0][2] + 10};
      tether(rider, hip, fork, bar, 8);
    }
    PlacedShape body = bike_part_shape(bike, bike_rider);
    shape_shape_contacts(bike_part_shape(bike, bike_frame), body, contact_joint);
    shape_shape_contacts(bike_part_shape(bike, bike_fork_upper), body, contact_joint);
  } else {
    bike->crash_timer--;
  }
  if (bike->crash_timer > 0 && bike->crash_timer <= crash_realign_tics) {
    // Three tethers with shrinking slack draw the rider to his seat upright.
    float L = static_cast<float>(clampd((bike->crash_timer - 128) * 0.0026041667, 0, 1) * 5);
    float a[3];
    for (int k = 0; k < 3; k++) a[k] = info->rider_position[k] - info->frame_position[k];
    float b[3] = {0, 0, 0};
    tether(frame, a, rider, b, L);
    float a1[3] = {a[0] - 5, a[1] + 10, a[2]}, b1[3] = {-5, 10, 0};
    tether(frame, a1, rider, b1, L);
    float a2[3] = {a[0] + 5, a[1] + 10, a[2]}, b2[3] = {5, 10, 0};
    tether(frame, a2, rider, b2, L);
    if (bike->crash_timer <= 319) {
      int side = lean_angle(bike) < 0 ? 0 : 1;
      const float *peg = pose.pegs[side];
      V target = rel_point(frame, V{peg[0], peg[1] + 3, peg[2] + 1});
      FreeFoot &foot = bike->free_feet[side];
      V d = target - vf(foot.position);
      if (dot(d, d) > 0) {
        V v = d * 32;
        double l = length(v);
        if (l > 1) v = v * (1 / l);
        store(v * 4, foot.velocity);
      }
    }
  }
  if (bike->crash_timer <= 0) {
    bike->crash_timer = 0;
    seat_rider(bike);
    // Carried by the frame from here on.
    V w = vr(dBodyGetAngularVel(frame));
    V p = vr(dBodyGetPosition(rider));
    V v = point_vel(frame, p);
    dBodySetLinearVel(rider, v.x, v.y, v.z);
    dBodySetAngularVel(rider, w.x, w.y, w.z);
  }
  (void)now;
}

// Turns a fallen bike toward the line target. Returns 1 when it carries the
// bike's weight this tic (the rest of the foot-down step is skipped).
int auto_align(BikeState *bike) {
  float t[3];
  if (!race_queries.line_target || !race_queries.line_target(bike, t)) return 0;
  dBodyID frame = bike->bodies[bike_frame];
  V d = vf(t) - vr(dBodyGetPosition(frame));
  V b = to_world(frame, V{0, 0, 1});
  double bl = b.x * b.x + b.z * b.z;
  if (bl <= 1.0 / 1024) return 0;
  bl = std::sqrt(bl);
  b.x /= bl;
  b.z /= bl;
  double dt = b.x * d.x + b.z * d.z;
  double cross = b.z * d.x - b.x * d.z;
  double rate = cross < 0 ? pi / 2 : -pi / 2;
  double M = bike->total_mass;
  if (dt < 0 && std::fabs(cross) < 0.25 * std::fabs(dt)) {
    yaw_motor(bike, rate, 1280 * M * std::fabs(cross / dt));
    return 0;
  }
  yaw_motor(bike, rate, 320 * M);
  for (int w = 1; w >= 0; w--)  // rear first
    if (bike->wheels[w].depth > 0) dBodyAddForce(bike->bodies[w == 0 ? bike_front_wheel : bike_rear_wheel], 0, 32 * M, 0);
  return 1;
}

void auto_dab_and_back_up(BikeState *bike, const PhysicsTic &now) {
  if (bike->controls.back_up > 0 && frame_speed(bike) < 5)
    back_up(bike, now);
  else if (bike->aid_flags & aid_auto_dab)
    auto_dab(bike, now);
}

}  // namespace

void set_extra_crash_time(int index, int tics) {
  if (index < 0 || index >= extra_crash_time_slots) return;
  extra_crash_times[index] = std::clamp(tics, 0, max_extra_crash_time);
}

int extra_crash_time(int index) {
  if (index < 0 || index >= extra_crash_time_slots) return 0;
  return extra_crash_times[index];
}

void set_crash_race_queries(const CrashRaceQueries &queries) { race_queries = queries; }

int next_gate_target(int next_gate, float target[3]) {
  int gate = gate_at_position(next_gate);
  const TimingGates *gates = timing_gates();
  if (gate < 0 || gate >= gates->checkpoint_count) return 0;
  memcpy(target, gates->checkpoints[gate].gate_centre, 3 * sizeof(float));
  return 1;
}

PackTerrain ground_of(const Terrain *terrain) {
  PackTerrain g{};
  if (terrain) {
    g.extent = terrain->extent;
    g.min_height = terrain->min_height;
    g.height_at = ground_height;
    g.terrain = terrain;
  }
  return g;
}

void tether(dBodyID a, const float pa[3], dBodyID b, const float pb[3], float length_limit) {
  V wa = a ? rel_point(a, vf(pa)) : vf(pa);
  V wb = b ? rel_point(b, vf(pb)) : vf(pb);
  V d = wb - wa;
  double dist = length(d);
  if (!(dist > length_limit) || dist <= 0) return;
  double h = seconds_per_tic;
  dContact c;
  memset(&c, 0, sizeof c);
  c.surface.mode = dContactSoftERP | dContactSoftCFM;
  c.surface.mu = 0;
  c.surface.soft_erp = 5000 * h / (5000 * h + 500);
  c.surface.soft_cfm = 1 / (5000 * h + 500);
  // The contact pushes A along the normal: toward B, pulling the points in.
  V n = d * (1 / dist);
  c.geom.pos[0] = wa.x;
  c.geom.pos[1] = wa.y;
  c.geom.pos[2] = wa.z;
  c.geom.normal[0] = n.x;
  c.geom.normal[1] = n.y;
  c.geom.normal[2] = n.z;
  c.geom.depth = dist - length_limit;
  dJointID joint = dJointCreateContact(physics_world(), physics_contact_group(), &c);
  dJointAttach(joint, a, b);
}

void push_toward(dBodyID body, const float target[3], float force) {
  V e = vr(dBodyGetLinearVel(body)) - vf(target);
  double e2 = dot(e, e);
  if (e2 < 0.0625) return;
  double l = std::sqrt(e2);
  V f = e * (-force * clampd((l - 0.25) * 0.8, 0, 1) / l);
  dBodyAddForce(body, f.x, f.y, f.z);
}

void free_feet_from_pose(BikeState *bike, const PackTerrain &ground) {
  FootPlacement feet = foot_positions(bike, ground);
  for (int side = 0; side < 2; side++) {
    memcpy(bike->free_feet[side].position, feet.feet[side], sizeof feet.feet[side]);
    store(point_vel(bike->bodies[bike_rider], vf(feet.feet[side])), bike->free_feet[side].velocity);
  }
}

void crash_rider(BikeState *bike, const Terrain *terrain) {
  if (bike->crash_timer > 0) return;
  detach_rider(bike);
  free_feet_from_pose(bike, ground_of(terrain));
  bike->crash_timer = crash_time + extra_crash_times[std::min(bike->crash_count, extra_crash_time_slots - 1)];
  bike->crash_count++;
  // The crash-gated controls read 0 while he is off.
  bike->controls.throttle = 0;
  bike->controls.dab = 0;
  bike->controls.back_up = 0;
  bike->controls.lean = 0;
}

void crash_check(BikeState *bike, const PhysicsTic &now) {
  if (bike->crash_timer > 0) {
    crashed_step(bike, now);
    return;
  }
  if (bike->arcade & 1) return;
  double s = 1.5;
  if (bike->landing_tic >= bike->take_off_tic) {
    // A hard landing lowers the tolerance for a quarter second.
    double air = (bike->landing_tic - bike->take_off_tic) * seconds_per_tic;
    double t = (now.tic - bike->landing_tic) * seconds_per_tic;
    s = 1.5 - 0.5 * clampd((t - 0.25) * -8, 0, 1) * clampd((air - 0.559) * 7.9365087, 0, 1);
  }
  dBodyID rider = bike->bodies[bike_rider];
  V v = vr(dBodyGetLinearVel(rider));
  V slip = v - point_vel(bike->bodies[bike_frame], vr(dBodyGetPosition(rider)));
  bool crash = length(slip) > crash_slip_limit * s;
  if (!crash) {
    const float *old = bike->rider_velocity_history[now.tic & 3];
    V a = (v - vf(old)) * (0.25 / seconds_per_tic) + V{0, 32, 0};
    crash = length(a) > crash_jolt_limit * s;
  }
  if (crash) crash_rider(bike, now.terrain);
}

void back_up(BikeState *bike, const PhysicsTic &now) {
  int tic = now.tic;
  double p = (1 - std::cos((tic & 127) * 0.049473900056532176)) * 0.5;
  int settle = ((now.start_tic + 128) / 128) * 128;
  if (tic < settle && (tic & 0x180) != 0) p = 0;
  bike->controls.dab = bike->crash_timer > 0 ? 0 : 1;
  dBodyID frame = bike->bodies[bike_frame];
  V back = to_world(frame, V{0, 0, 1}) * (4 * p);
  float target[3];
  store(back, target);
  push_toward(frame, target, 2000);
  yaw_motor(bike, -bike->controls.steer * p * pi / 2, 2000);
}

void auto_dab(BikeState *bike, const PhysicsTic &) {
  double v = frame_speed(bike);
  double V_max = bike->max_dab_speed;
  if (v > V_max) return;
  double lean = std::fabs(lean_angle(bike));
  if (v > 15 && lean < clampd((v - 15) / 15, 0, 1) * pi / 4) return;
  ControlInput &c = bike->controls;
  bool idle = c.throttle == 0 || c.clutch == 0;
  if (!(idle || v < 5 || lean > pi / 16)) return;
  float dab = static_cast<float>(std::max(clampd(1 - v / V_max, 0, 1), static_cast<double>(c.dab)));
  c.dab = bike->crash_timer > 0 ? 0 : dab;
  if (v < 5 && idle && both_wheels_touch(bike)) {
    c.front_brake = 1;
    c.rear_brake = 1;
    const float zero[3] = {0, 0, 0};
    push_toward(bike->bodies[bike_frame], zero, 1000);
  }
}

void foot_down_step(BikeState *bike, const PhysicsTic &now) {
  float &level = bike->controls.foot_down;
  if (bike->crash_timer > 0) {
    level = std::min(1.0f, level + 8 * tic_f);
    return;
  }
  if (bike->controls.dab == 0) return;
  const BikeInfo *info = bike_info(bike->model);
  dBodyID frame = bike->bodies[bike_frame];
  if (!(bike->wheels[0].depth > 0)) {
    // Off the front wheel the rider must be near the ground to push on it.
    if (!now.terrain) return;
    const dReal *r = dBodyGetPosition(bike->bodies[bike_rider]);
    float centre[3] = {static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2])};
    TerrainContact contact;
    if (!terrain_sphere_contact(now.terrain, centre, info->rider_position[1] + 1, &contact)) return;
  }
  double v = frame_speed(bike);
  double V_max = bike->max_dab_speed;
  double phi = lean_angle(bike), lean = std::fabs(phi);
  if (v > V_max) return;
  if (v > 15 && !(both_wheels_touch(bike) && lean >= 0.5890486)) return;
  level = std::min(1.0f, level + 8 * tic_f);
  if (bike->arcade & 1) return;
  if (v >= 5 && bike->collision_timer > 0) return;
  if (v < 5 && lean > pi / 8 && lean < 1.0995574 && (bike->aid_flags & aid_auto_align) &&
      bike->controls.back_up <= 0.125f && race_queries.track_has_gates && race_queries.track_has_gates() &&
      race_queries.timing_position && race_queries.timing_position(bike) > 0 && race_queries.rider_finished &&
      !race_queries.rider_finished(bike)) {
    if (auto_align(bike)) return;
  }
  // Righting torque toward upright at pi/8 rad/s.
  double q = phi >= 0 ? -pi / 8 : pi / 8;
  if (lean < pi / 16) q = lean * q * 16 / pi;
  double wr = roll_rate(bike);
  double x = 0;
  if (q > 0 && q > wr) x = -400;
  if (q < 0 && q < wr) x = 400;
  if (lean < pi / 32) x = lean * x * 32 / pi;
  if (bike->controls.back_up < 0.125f || v > 5) {
    double rla = bike->roll_limit_angle, theta;
    if (v == 0)
      theta = 0;
    else if (v >= V_max)
      theta = 2 * pi;
    else if (v <= 15)
      theta = (1 - std::pow(1 - clampd(v * v / (V_max * V_max), 0, 1), 32)) * rla;
    else
      theta = rla + (2 * pi - rla) * clampd((v * v - 225) / (V_max * V_max - 225), 0, 1);
    theta *= 1.25;
    double steer = q >= 0 ? -bike->controls.steer : bike->controls.steer;
    double k = clampd(2 * (steer - 0.5), 0, 1);
    double g = clampd((lean - theta) / 0.25, 0, 1);
    x *= g + (1 - g) * k;
    if (v > 5) x *= bike->steering_saturation;
  }
  if (x == 0) return;
  V up = to_world(frame, V{0, 1, 0});
  if (up.y >= 0.707) {
    dBodyAddForceAtRelPos(frame, 0, 0.125 * std::fabs(x), 0, 0, 4, 0);
    dBodyAddRelForceAtRelPos(frame, x, 0, 0, 0, 4, 0);
  } else {
    dBodyAddForceAtRelPos(frame, 0, std::fabs(x), 0, 0, 4, 0);
  }
}

void feet_step(BikeState *bike, const PhysicsTic &now) {
  float &level = bike->controls.foot_down;
  level = std::max(0.0f, level - 4 * tic_f);
  if (bike->crash_timer <= 0) {
    free_feet_from_pose(bike, ground_of(now.terrain));
    return;
  }
  dBodyID rider = bike->bodies[bike_rider];
  const RiderPoseBlock &pose = bike_info(bike->model)->pose;
  double leg = pose.thigh + pose.shin;
  V axis = to_world(rider, V{0, -1, 0});
  V plane = rel_point(rider, vf(pose.hips[0])) + axis;
  for (int side = 0; side < 2; side++) {
    FreeFoot &foot = bike->free_feet[side];
    V p = vf(foot.position), v = vf(foot.velocity);
    p = p + v * seconds_per_tic;
    v.y -= 32 * seconds_per_tic;
    if (now.terrain) {
      double floor = terrain_height(now.terrain, static_cast<float>(p.x), static_cast<float>(p.z)) + 0.25;
      if (p.y < floor) {
        p.y = floor;
        v = V{0, 0, 0};
      }
    }
    v = v * 0.9375;
    // The leg's length holds the foot to its hip.
    V hip = rel_point(rider, vf(pose.hips[side]));
    V d = p - hip;
    double l = length(d);
    if (l > leg) {
      V u = d * (1 / l);
      p = hip + u * leg;
      v = v + u * (dot(point_vel(rider, hip), u) - dot(v, u));
    }
    // And the foot stays at least a foot below the hips.
    double above = dot(p - plane, axis);
    if (above < 0) {
      p = p - axis * above;
      v = v + axis * (dot(point_vel(rider, p), axis) - dot(v, axis));
    }
    store(p, foot.position);
    store(v, foot.velocity);
  }
}

void install_crash_hooks() {
  set_shape_terrain_hook(bike_shape_terrain_contacts);
  CrashHooks hooks{};
  hooks.crash_check = crash_check;
  hooks.auto_dab_and_back_up = auto_dab_and_back_up;
  hooks.foot_down_step = foot_down_step;
  hooks.feet_step = feet_step;
  set_crash_hooks(hooks);
}
