#include "bike/posture.h"

#include <cmath>
#include <cstring>

#include "app/types.h"
#include "bike/assembly.h"
#include "bike/vec_local.h"
#include "bike/contact.h"
#include "track/terrain.h"
#include "track/tiles.h"

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr float quarter_pi = static_cast<float>(pi / 4);

using namespace bike_vec;

V to_world(dBodyID body, double x, double y, double z) {
  dVector3 out;
  dBodyVectorToWorld(body, x, y, z, out);
  return vr(out);
}
V from_world(dBodyID body, V v) {
  dVector3 out;
  dBodyVectorFromWorld(body, v.x, v.y, v.z, out);
  return vr(out);
}

// The steering axis (steering head minus fork lower) in the frame's axes.
V steering_axis_rest(const BikeInfo *info) {
  return unit(V{info->steering_head[0] - info->fork_lower_position[0],
                info->steering_head[1] - info->fork_lower_position[1],
                info->steering_head[2] - info->fork_lower_position[2]});
}

// T about the steering axis: +T on the front wheel, -T on the frame.
void apply_steering_torque(BikeState *bike, double T) {
  V e = steering_axis_rest(bike_info(bike->model));
  V axis = to_world(bike->bodies[bike_frame], e.x, e.y, e.z) * T;
  dBodyAddTorque(bike->bodies[bike_front_wheel], axis.x, axis.y, axis.z);
  dBodyAddTorque(bike->bodies[bike_frame], -axis.x, -axis.y, -axis.z);
}

// A one-sided soft spring from rider (pushed along normal) to frame.
void soft_push(BikeState *bike, V normal, double depth, double k, double damping) {
  double h = seconds_per_tic;
  dContact c;
  memset(&c, 0, sizeof c);
  c.surface.mode = dContactSoftERP | dContactSoftCFM;
  c.surface.soft_erp = h * k / (h * k + damping);
  c.surface.soft_cfm = 1 / (h * k + damping);
  V p = vr(dBodyGetPosition(bike->bodies[bike_rider]));
  c.geom.pos[0] = p.x;
  c.geom.pos[1] = p.y;
  c.geom.pos[2] = p.z;
  c.geom.normal[0] = normal.x;
  c.geom.normal[1] = normal.y;
  c.geom.normal[2] = normal.z;
  c.geom.depth = depth;
  dJointID j = dJointCreateContact(physics_world(), physics_contact_group(), &c);
  dJointAttach(j, bike->bodies[bike_rider], bike->bodies[bike_frame]);
}

double front_wheel_speed(const BikeState *bike) {
  const BikeInfo *info = bike_info(bike->model);
  return (info->front_ring_radius + info->front_tube_radius) * dJointGetHingeAngleRate(bike->joints[joint_front_axle]);
}

// The saturation figure read by the foot-down aid.
float saturation(double vf, double A, double alpha, double phi, double delta) {
  double p = clampd((vf - 5) / 10, 0, 1);
  double a0 = 0.25 * p * A, a1 = (0.625 * p + 0.125) * A;
  double span = a1 - a0;
  double q1, q2;
  if (phi >= 0) {
    q1 = span != 0 ? clampd((-alpha - a0) / span, 0, 1) : 0;
    q2 = clampd((delta - 0.2617994) * 3.8197186, 0, 1);
  } else {
    q1 = span != 0 ? clampd((alpha - a0) / span, 0, 1) : 0;
    q2 = clampd((delta + 0.2617994) * -3.8197186, 0, 1);
  }
  return static_cast<float>(q1 > q2 ? q1 : q2);
}

void standard_steering(BikeState *bike, const Terrain *terrain) {
  if (bike->crash_timer > 0) {
    bike->steering_saturation = 0;
    return;
  }
  const BikeInfo *info = bike_info(bike->model);
  const double h = seconds_per_tic;
  double s = bike->controls.steer;
  double phi = lean_angle(bike), wr = roll_rate(bike);
  double delta = dJointGetHingeAngle(bike->joints[joint_steering]);
  double vf = front_wheel_speed(bike);
  double alpha = front_slip_angle(bike);
  const dReal *axle = dBodyGetPosition(bike->bodies[bike_front_wheel]);

  double L_plus = bike->max_steering_force, L_minus = -bike->max_steering_force;
  double Td = bike->steering_strength * s * bike->direct_steering;

  const Tile *tile = ground_tile(terrain, static_cast<float>(axle[0]), static_cast<float>(axle[2]));
  double A = steering_lock(bike, static_cast<float>(vf), tile->friction[0].value);

  double clearance = axle[1] - terrain_height(terrain, static_cast<float>(axle[0]), static_cast<float>(axle[2])) -
                     info->front_ring_radius - info->front_tube_radius;
  if (vf > 1 && clearance < 0.5) {
    double A2 = (pi / 4 - A) * clampd(2 * clearance, 0, 1) + A;
    double a = 1.125 * A2 + 0.015;
    // Past the lock the limit on that side shrinks, then pushes back.
    if (alpha > A2) {
      double q = clampd((alpha - a) / (A2 - a), 0, 1);
      L_minus *= 1.25 * q - 0.25;
    } else if (alpha < -A2) {
      double q = clampd((-alpha - a) / (A2 - a), 0, 1);
      L_plus *= 1.25 * q - 0.25;
    }
  }

  double Ts;
  double front_spin = std::fabs(dJointGetHingeAngleRate(bike->joints[joint_front_axle]));
  if (!(bike->wheels[0].depth > 0) || front_spin < pi / 4) {
    bike->landing_damping = bike->land_damping_factor;
    Ts = -50 * delta;
    if (!(bike->aid_flags & aid_steering_model)) Td = 0;
  } else {
    double m = bike->landing_damping;
    double Troll = wr * bike->roll_damping * m;
    if (m > 1) {
      m = bike->land_damping_falloff > 0 ? m - (bike->land_damping_factor - 1) * h / bike->land_damping_falloff : 1;
      bike->landing_damping = static_cast<float>(m < 1 ? 1 : m);
    }
    double Tlevel = phi * bike->leveling;
    double speed = std::sqrt(dot(vr(dBodyGetLinearVel(bike->bodies[bike_frame])),
                                 vr(dBodyGetLinearVel(bike->bodies[bike_frame]))));
    if (speed < bike->slow_damping_speed) {
      double f = bike->slow_damping_factor;
      double scale = f + (1 - f) * clampd(speed / bike->slow_damping_speed, 0, 1);
      Troll *= scale;
      Tlevel *= scale;
    }
    bool further = (wr >= 0 && phi >= 0) || (wr < 0 && phi < 0);
    if (further && std::fabs(phi) > bike->roll_limit_angle)
      Troll *= (std::fabs(phi) - bike->roll_limit_angle) * bike->roll_limit_factor + 1;
    Ts = Troll + Tlevel;

    if (bike->direct_steering < 1) {
      double target = (-s * bike->roll_limit_angle - phi) * 2.5;
      bool upright = (target < 0 && phi >= 0) || (target >= 0 && phi < 0);
      double cap = upright ? 9.817477 : 3.926991;
      target = clampd(target, -cap, cap);
      double y = clampd(target - wr, -0.125, 0.125);
      double z = clampd((wr - (target - y)) * 4, -1, 1);
      Td = (Td - bike->steering_strength * z) * bike->direct_steering + bike->steering_strength * z;
    }
  }

  if (bike->collision_timer > 0) {
    double cap = 200 * clampd((128 - bike->collision_timer) / 128, 0, 1);
    Ts = clampd(Ts, -cap, cap);
  }
  double T = clampd((Ts + Td) * 1.5, L_minus, L_plus);
  bike->steering_saturation = saturation(vf, A, alpha, phi, delta);
  apply_steering_torque(bike, T);
}

void arcade_steering(BikeState *bike, const Terrain *terrain) {
  if (bike->crash_timer > 0) return;
  const BikeInfo *info = bike_info(bike->model);
  dBodyID frame = bike->bodies[bike_frame];
  double s = bike->controls.steer;
  double delta = dJointGetHingeAngle(bike->joints[joint_steering]);
  double direct = (bike->aid_flags & aid_steering_model) ? bike->steering_strength * s * bike->direct_steering : 0;

  if (!(bike->wheels[0].depth > 0)) {
    V ahead = vr(dBodyGetPosition(frame)) + vr(dBodyGetLinearVel(frame)) - V{0, 16, 0};
    float ground = terrain_height(terrain, static_cast<float>(ahead.x), static_cast<float>(ahead.z));
    if (ahead.y - ground >= info->frame_position[1]) {
      apply_steering_torque(bike, (-50 * delta + direct) * 1.5);
      return;
    }
  }

  // A roll motor leans the bike toward the angle the steer input asks for.
  double phi = lean_angle(bike);
  double target = -0.7853981633974483 * s;
  double w = clampd((bike->roll_damping - 40) * 0.025, 0, 1);
  double gap = std::fabs(phi - target);
  double rate = (gap < 0.0625 ? gap : 0.0625) * 16 * (1.5 - 0.5 * w);
  if (target <= phi) rate = -rate;
  V z = to_world(frame, 0, 0, 1);
  dJointID motor = dJointCreateAMotor(physics_world(), physics_contact_group());
  dJointAttach(motor, frame, nullptr);
  dJointSetAMotorNumAxes(motor, 1);
  dJointSetAMotorAxis(motor, 0, 0, z.x, z.y, z.z);
  dJointSetAMotorParam(motor, dParamVel, rate);
  dJointSetAMotorParam(motor, dParamFMax, 1000);

  // The bars follow the front tyre's slip angle, offset by the input.
  double alpha = front_slip_angle(bike);
  double err = clampd(alpha - 0.5 * s - delta, -0.25, 0.25);
  err = err > 0.03125 ? err - 0.03125 : (err < -0.03125 ? err + 0.03125 : 0);
  double x = err * 8 - dJointGetHingeAngleRate(bike->joints[joint_steering]);
  constexpr double band = 0.00041666668;
  x = x > band ? x - band : (x < -band ? x + band : 0);
  double out = clampd(x * 0.5, -0.6666667, 0.6666667);
  apply_steering_torque(bike, out * bike->steering_strength);

  // Yaw drag: a point 20 ft behind the frame is dragged with its velocity.
  dVector3 v;
  dBodyGetRelPointVel(frame, 0, 0, 20, v);
  dBodyAddForceAtRelPos(frame, -0.25 * v[0], -0.25 * v[1], -0.25 * v[2], 0, 0, 20);
}

}  // namespace

float lean_angle(const BikeState *bike) {
  dBodyID frame = bike->bodies[bike_frame];
  V u = to_world(frame, 0, 1, 0);
  V f = to_world(frame, 0, 0, -1);
  double horizontal = std::sqrt(f.x * f.x + f.z * f.z);
  if (!(horizontal > 0)) return 0;  // pointing straight up or down: no lean
  V r{-f.z / horizontal, 0, f.x / horizontal};
  return static_cast<float>(std::acos(clampd(dot(u, r), -1, 1)) - 1.5707963267948966);
}

float roll_rate(const BikeState *bike) {
  dBodyID frame = bike->bodies[bike_frame];
  return static_cast<float>(from_world(frame, vr(dBodyGetAngularVel(frame))).z);
}

float front_slip_angle(const BikeState *bike) {
  V v = from_world(bike->bodies[bike_fork_upper], vr(dBodyGetLinearVel(bike->bodies[bike_front_wheel])));
  V e = steering_axis_rest(bike_info(bike->model));
  double vx = v.x, vp = dot(v, V{0, -e.z, e.y});
  if (!(vx * vx + vp * vp > 1)) return 0;
  return static_cast<float>(-std::atan2(vx, -vp));
}

float steering_lock(const BikeState *bike, float vf, float mu0) {
  double v = vf > 1 ? vf : 1;
  double full = bike->full_lock_speed;
  double V = full + 1 > bike->restricted_lock_speed ? full + 1 : bike->restricted_lock_speed;
  double g = clampd((1 / v - 1 / V) / (1 / full - 1 / V), 0, 1);
  double mu = mu0 > 0.125f ? mu0 : 0.125;
  double rho = bike->restricted_lock_angle / mu;
  if (rho > pi / 4) rho = pi / 4;
  return static_cast<float>((pi / 4 - rho) * g + rho);
}

void rider_posture_step(BikeState *bike) {
  const BikeInfo *info = bike_info(bike->model);
  dBodyID frame = bike->bodies[bike_frame], rider = bike->bodies[bike_rider];
  double M = 0.21333334 * info->rider_mass;
  dVector3 rest;
  dBodyGetRelPointPos(frame, info->rider_position[0] - info->frame_position[0],
                      info->rider_position[1] - info->frame_position[1],
                      info->rider_position[2] - info->frame_position[2], rest);
  V d = vr(rest) - vr(dBodyGetPosition(rider));
  V b = to_world(frame, 0, 0, 1), u = to_world(frame, 0, 1, 0);
  double db = dot(d, b), du = dot(d, u);
  double dab = bike->controls.dab, lean = bike->controls.lean;

  // Fore and aft: leaning back moves the rest point back; sitting lets the
  // rider's height feed into it.
  double target = clampd((0.5 + 0.5 * dab) * du - lean, -0.75, 0.75);
  double e = db - target;
  double k, damping;
  if (std::fabs(db) > 0.75) {
    k = damping = 2500;
  } else {
    k = 100 * std::fabs(e) + 600 * bike->rider_forward_spring;
    damping = 0;
  }
  if (k * M > 0) soft_push(bike, e < 0 ? b * -1 : b, std::fabs(e), k * M, damping * M);

  // Up and down: the rest height is 1/8 ft above the catalogue position,
  // sitting puts it 3/8 ft below.
  e = du + 0.125 - 0.5 * dab;
  if (du > 0.5 || du < -0.75) {
    k = damping = 2500;
  } else {
    k = 400 * bike->rider_vertical_spring;
    damping = 100 * bike->rider_vertical_damping;
  }
  if ((k + damping) * M > 0) soft_push(bike, e < 0 ? u * -1 : u, std::fabs(e), k * M, damping * M);

  // The rider joint is a pure damper along its axis 1.
  dJointID joint = bike->joints[joint_rider];
  dJointSetHinge2Param(joint, dParamSuspensionERP, 0);
  dJointSetHinge2Param(joint, dParamSuspensionCFM, 1 / ((30 * bike->rider_forward_damping + 5) * M));
}

void steering_step(BikeState *bike, const Terrain *terrain) {
  if (bike->arcade & 1)
    arcade_steering(bike, terrain);
  else
    standard_steering(bike, terrain);
}

void steering_damping_step(BikeState *bike) {
  dBodyID wheel = bike->bodies[bike_front_wheel];
  V w = vr(dBodyGetAngularVel(wheel));
  V a = to_world(wheel, 1, 0, 0);
  V tau = (a * dot(w, a) - w) * bike->steering_damping;
  dBodyAddTorque(wheel, tau.x, tau.y, tau.z);
  dBodyAddTorque(bike->bodies[bike_frame], -tau.x, -tau.y, -tau.z);
}

void joint_drift_cancellation(BikeState *bike) {
  dBodyID frame = bike->bodies[bike_frame];
  V origin = vr(dBodyGetPosition(frame));
  V force{0, 0, 0}, torque{0, 0, 0};
  for (int j = 0; j < bike_joint_count; j++) {
    dJointID joint = bike->joints[j];
    dBodyID b1 = dJointGetBody(joint, 0), b2 = dJointGetBody(joint, 1);
    if (!b1 || !b2) return;
    const dJointFeedback &fb = bike->feedback[j];
    V f1 = vr(fb.f1), f2 = vr(fb.f2);
    force = force + f1 + f2;
    torque = torque + vr(fb.t1) + vr(fb.t2) + cross(vr(dBodyGetPosition(b1)) - origin, f1) +
             cross(vr(dBodyGetPosition(b2)) - origin, f2);
  }
  dBodyAddForce(frame, -force.x, -force.y, -force.z);
  dBodyAddTorque(frame, -torque.x, -torque.y, -torque.z);
}
