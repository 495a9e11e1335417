// Control setters and the packed bike state.
//
// PackedBikeState, 39 bytes, little-endian; unsigned fixed-point values that
// cover each field's range with 2^(8n) - 1 steps:
//   0-2   frame x over 0..E (E = terrain extent)   3-5 frame y over ymin..ymin+E
//   6-8   frame z over 0..E                        9-16 frame quaternion w x y z, -1..1
//   17    steering angle -pi/4..pi/4               18 swingarm angle -T..0, bit 0 always 1
//   19    fork position -F..0, bit 0 written 0     20-25 rider minus frame x y z, -16..16 ft
//   26-33 rider quaternion                         34-35 front, rear wheel angle -pi..pi
//   36    riding byte: gear (bits 0-2), foot down (bit 3), throttle x 15 (bits 4-7);
//         crashed: bits 0-2 = 7 and bits 4-7 = the crash timer scaled to 0..15
//   37-38 engine rpm 0..32768
#include "bike/bike.h"

#include <cmath>

#include "app/types.h"
#include "bike/assembly.h"
#include "bike/crash.h"

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double rpm_to_rads = 0.10471975511965977;

struct Vec {
  double x, y, z;
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(Vec a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double length(Vec a) { return std::sqrt(dot(a, a)); }
Vec vec(const float v[3]) { return {v[0], v[1], v[2]}; }
Vec vec_r(const dReal *v) { return {v[0], v[1], v[2]}; }
Vec unit(Vec a) {
  double l = length(a);
  return l > 0 ? a * (1 / l) : Vec{0, 0, 0};
}

struct Quat {
  double w, x, y, z;
};
Quat qmul(Quat a, Quat b) {
  return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
          a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}
Quat qconj(Quat q) { return {q.w, -q.x, -q.y, -q.z}; }
Quat qaxis(Vec axis, double angle) {
  Vec u = unit(axis);
  double s = std::sin(angle * 0.5);
  return {std::cos(angle * 0.5), u.x * s, u.y * s, u.z * s};
}
Vec qrotate(Quat q, Vec v) {
  Quat r = qmul(qmul(q, {0, v.x, v.y, v.z}), qconj(q));
  return {r.x, r.y, r.z};
}
// Axis times angle of the rotation q, the short way round; 0 for identity.
Vec rotation_vector(Quat q) {
  if (q.w < 0) q = {-q.w, -q.x, -q.y, -q.z};
  Vec v{q.x, q.y, q.z};
  double s = length(v);
  if (s <= 0) return {0, 0, 0};
  return v * (2 * std::atan2(s, q.w) / s);
}

Vec body_position(dBodyID b) { return vec_r(dBodyGetPosition(b)); }
Quat body_quat(dBodyID b) {
  const dReal *q = dBodyGetQuaternion(b);
  return {q[0], q[1], q[2], q[3]};
}
void place_body(dBodyID b, Vec p, Quat q) {
  dBodySetPosition(b, p.x, p.y, p.z);
  dQuaternion dq = {q.w, q.x, q.y, q.z};
  dBodySetQuaternion(b, dq);
}

// NaN goes to the low end so a broken value still packs into range.
double clampd(double v, double lo, double hi) {
  if (!(v > lo)) return lo;
  return v > hi ? hi : v;
}
float clamp_input(float v, float lo, float hi) {
  if (v != v) return 0;
  return v < lo ? lo : v > hi ? hi : v;
}

uint32_t quantize(double v, double lo, double hi, uint32_t steps) {
  if (!(hi > lo)) return 0;
  return static_cast<uint32_t>(std::floor((clampd(v, lo, hi) - lo) / (hi - lo) * steps + 0.5));
}
double dequantize(uint32_t v, double lo, double hi, uint32_t steps) {
  return lo + (hi - lo) * (static_cast<double>(v) / steps);
}

void put(uint8_t *out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; i++) out[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get(const uint8_t *in, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; i++) v |= static_cast<uint32_t>(in[i]) << (8 * i);
  return v;
}

constexpr uint32_t max24 = 16777215, max16 = 65535, max8 = 255;

// Everything a packed state says, decoded.
struct Pose {
  Vec frame;
  Quat frame_q;
  double steer, swingarm, fork;
  Vec rider_offset;
  Quat rider_q;
  double front_spin, rear_spin;
  int riding;
  double omega;
};

Quat get_quat(const uint8_t *in) {
  double c[4];
  for (int i = 0; i < 4; i++) c[i] = 2 * (get(in + 2 * i, 2) / double(max16)) - 1;
  double l = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2] + c[3] * c[3]);
  if (!(l > 0)) return {1, 0, 0, 0};
  return {c[0] / l, c[1] / l, c[2] / l, c[3] / l};
}
void put_quat(uint8_t *out, Quat q) {
  const double c[4] = {q.w, q.x, q.y, q.z};
  for (int i = 0; i < 4; i++) put(out + 2 * i, quantize(c[i], -1, 1, max16), 2);
}

Pose decode(const BikeInfo *info, const PackedBikeState &p, const PackTerrain &t) {
  const uint8_t *b = p.bytes;
  Pose s;
  double e = t.extent > 0 ? t.extent : 0;
  s.frame = {get(b, 3) / double(max24) * e, get(b + 3, 3) / double(max24) * e + t.min_height,
             get(b + 6, 3) / double(max24) * e};
  s.frame_q = get_quat(b + 9);
  s.steer = b[17] / 255.0 * (pi / 2) - pi / 4;
  double T = info->swingarm_travel, F = info->fork_travel;
  s.swingarm = T * b[18] / 255.0 - T;
  s.fork = F * b[19] / 255.0 - F;
  s.rider_offset = {dequantize(get(b + 20, 2), -16, 16, max16), dequantize(get(b + 22, 2), -16, 16, max16),
                    dequantize(get(b + 24, 2), -16, 16, max16)};
  s.rider_q = get_quat(b + 26);
  s.front_spin = b[34] / 255.0 * (2 * pi) - pi;
  s.rear_spin = b[35] / 255.0 * (2 * pi) - pi;
  s.riding = b[36];
  s.omega = get(b + 37, 2) / double(max16) * 32768 * rpm_to_rads;
  return s;
}

bool riding_crashed(int riding) { return (riding & 7) == 7; }
int crash_timer_from(int riding) { return (riding >> 4) * 127 / 15 + 1; }

// The bike's bodies at a decoded pose; rider placed by the caller.
void place_bike(BikeState *bike, const Pose &s) {
  const BikeInfo *info = bike_info(bike->model);
  Vec frame_rest = vec(info->frame_position);
  Vec steer_rest = vec(info->steering_head);
  Vec lower_rest = vec(info->fork_lower_position);
  Vec pivot = vec(info->swingarm_pivot);
  Vec fork_axis = unit(steer_rest - lower_rest);
  Vec lateral{1, 0, 0};

  place_body(bike->bodies[bike_frame], s.frame, s.frame_q);

  // Fork upper turns about the steering axis through its own centre.
  Quat upper_q = qmul(s.frame_q, qaxis(fork_axis, s.steer));
  Vec upper = s.frame + qrotate(s.frame_q, steer_rest - frame_rest);
  place_body(bike->bodies[bike_fork_upper], upper, upper_q);

  // Swingarm turns about the pivot.
  Quat swing_turn = qaxis(lateral, s.swingarm);
  Quat swing_q = qmul(s.frame_q, swing_turn);
  Vec swing_local = pivot - frame_rest + qrotate(swing_turn, vec(info->swingarm_position) - pivot);
  Vec swing = s.frame + qrotate(s.frame_q, swing_local);
  place_body(bike->bodies[bike_swingarm], swing, swing_q);

  // Fork lower slides along the fork axis; a negative position compresses.
  Vec lower_local = (lower_rest - steer_rest) - fork_axis * s.fork;
  Vec lower = upper + qrotate(upper_q, lower_local);
  place_body(bike->bodies[bike_fork_lower], lower, upper_q);

  // Each wheel turns against its carrier: the axle hinges measure the
  // carrier's angle relative to the wheel.
  Vec front = lower + qrotate(upper_q, vec(info->front_axle) - lower_rest);
  place_body(bike->bodies[bike_front_wheel], front, qmul(upper_q, qaxis(lateral, -s.front_spin)));
  Vec rear = swing + qrotate(swing_q, vec(info->rear_axle) - vec(info->swingarm_position));
  place_body(bike->bodies[bike_rear_wheel], rear, qmul(swing_q, qaxis(lateral, -s.rear_spin)));
}

void apply_riding(BikeState *bike, const Pose &s, const PackTerrain &terrain) {
  const BikeInfo *info = bike_info(bike->model);
  if (riding_crashed(s.riding)) {
    // The free feet start where the pose puts the feet as he comes off.
    if (bike->crash_timer == 0) free_feet_from_pose(bike, terrain);
    detach_rider(bike);
    bike->controls.throttle = 0;
    bike->crash_timer = crash_timer_from(s.riding);
  } else {
    if (bike->crash_timer > 0) seat_rider(bike);
    bike->crash_timer = 0;
    int gear = s.riding & 7;
    bike->controls.gear = bike_select_gear(info, gear > 5 ? 5 : gear);
    bike->controls.throttle = static_cast<float>((s.riding >> 4) / 15.0);
  }
  // A crashed rider is placed too: the packed pose is the only thing that
  // shows where a remote or replayed rider has fallen.
  place_body(bike->bodies[bike_rider], s.frame + s.rider_offset, s.rider_q);
  bike->engine_speed = static_cast<float>(s.omega);
}

Vec capped(Vec v, double limit) {
  double l = length(v);
  return l > limit ? v * (limit / l) : v;
}

void force_driven_unpack(BikeState *bike, const Pose &older, const Pose &newer, const Pose &now, int n,
                         const PackTerrain &terrain) {
  const BikeInfo *info = bike_info(bike->model);
  double P = bike->activity, k, c;
  if (P > 0.75) {
    k = 0;
    c = 0;
  } else if (P > 0.5) {
    double w = clampd((0.75 - P) * 4, 0, 1);
    k = 5000 * w;
    c = -500 * w;
  } else {
    double w = clampd((0.5 - P) * 2, 0, 1);
    k = 5000 + 45000 * w;
    c = -500;
  }
  dBodyID frame = bike->bodies[bike_frame];
  double dt = seconds_per_tic * n;
  Vec target_v = (newer.frame - older.frame) * (1 / dt);
  Vec force = capped((now.frame - body_position(frame)) * k + (vec_r(dBodyGetLinearVel(frame)) - target_v) * c, 2500);
  dBodyAddForce(frame, force.x, force.y, force.z);
  Vec theta = rotation_vector(qmul(now.frame_q, qconj(body_quat(frame))));
  Vec torque = capped(theta * k + vec_r(dBodyGetAngularVel(frame)) * c, 2500);
  dBodyAddTorque(frame, torque.x, torque.y, torque.z);

  dJointID steering = bike->joints[joint_steering];
  double delta = dJointGetHingeAngle(steering), rate = dJointGetHingeAngleRate(steering);
  bike_set_steer(bike, static_cast<float>(clampd((now.steer - delta - rate) * 0.25, -1, 1)));

  bool crashed = riding_crashed(now.riding);
  if (crashed) {
    if (bike->crash_timer == 0) free_feet_from_pose(bike, terrain);
    detach_rider(bike);
    bike->controls.throttle = 0;
    bike->crash_timer = crash_timer_from(now.riding);
  } else {
    if (bike->crash_timer > 0) {
      // Seat the joint at the rest offset, then put the rider back where he
      // was so the joint pulls him home.
      dBodyID rider = bike->bodies[bike_rider];
      Vec p = body_position(rider);
      Quat q = body_quat(rider);
      seat_rider(bike);
      place_body(rider, p, q);
    }
    bike->crash_timer = 0;
    int gear = now.riding & 7;
    bike->controls.gear = bike_select_gear(info, gear > 5 ? 5 : gear);
    bike->controls.throttle = static_cast<float>(clampd((now.riding >> 4) / 15.0, 0, 1));
  }
  float dab = crashed ? 0.0f : static_cast<float>((now.riding >> 3) & 1);
  bike->controls.dab = dab;
  float lean = 0;
  if (!crashed) {
    Vec Y = qrotate(now.frame_q, {0, 1, 0}), Z = qrotate(now.frame_q, {0, 0, 1});
    double dy = info->rider_position[1] - info->frame_position[1];
    double dz = info->rider_position[2] - info->frame_position[2];
    Vec d = now.rider_offset;
    lean = static_cast<float>(clampd((dy - dot(d, Y)) * (0.5 * dab + 0.5) - (dz - dot(d, Z)), -1, 1));
  }
  bike->controls.lean = lean;
  bike->engine_speed = static_cast<float>(now.omega);
}

}  // namespace

// --- Setters -----------------------------------------------------------------

void bike_set_steer(BikeState *bike, float value) { bike->controls.steer = clamp_input(value, -1, 1); }
void bike_set_throttle(BikeState *bike, float value) {
  bike->controls.throttle = bike->crash_timer > 0 ? 0 : clamp_input(value, 0, 1);
}
void bike_set_front_brake(BikeState *bike, float value) { bike->controls.front_brake = clamp_input(value, 0, 1); }
void bike_set_rear_brake(BikeState *bike, float value) { bike->controls.rear_brake = clamp_input(value, 0, 1); }
void bike_set_clutch(BikeState *bike, float value) { bike->controls.clutch = clamp_input(value, 0, 1); }
void bike_set_dab(BikeState *bike, float value) {
  bike->controls.dab = bike->crash_timer > 0 ? 0 : clamp_input(value, 0, 1);
}
void bike_set_back_up(BikeState *bike, float value) {
  bike->controls.back_up = bike->crash_timer > 0 ? 0 : clamp_input(value, 0, 1);
}
void bike_set_lean(BikeState *bike, float value) {
  bike->controls.lean = bike->crash_timer > 0 ? 0 : clamp_input(value, -1, 1);
}

void bike_set_shift(BikeState *bike, int request) {
  if (bike->crash_timer > 0 || request == bike->controls.last_shift || request < -1 || request > 1) return;
  bike->controls.last_shift = request;
  bike->controls.gear = bike_select_gear(bike_info(bike->model), bike->controls.gear + request);
}

float bike_fork_fraction(const BikeState *bike) {
  return static_cast<float>(-dJointGetSliderPosition(bike->joints[joint_fork]) / bike_info(bike->model)->fork_travel);
}

float bike_swingarm_fraction(const BikeState *bike) {
  double x = -dJointGetHingeAngle(bike->joints[joint_swingarm]) / bike_info(bike->model)->swingarm_travel;
  return static_cast<float>(clampd(x, 0, 1));
}

BodyPlacement bike_body_placement(const BikeState *bike, int body) {
  dBodyID b = bike->bodies[body];
  const dReal *p = dBodyGetPosition(b), *r = dBodyGetRotation(b), *v = dBodyGetLinearVel(b);
  BodyPlacement out;
  for (int k = 0; k < 3; k++) {
    out.position[k] = static_cast<float>(p[k]);
    out.velocity[k] = static_cast<float>(v[k]);
    // ODE's rotation is 3 x 4, row-major: column i is the image of axis i.
    for (int i = 0; i < 3; i++) out.axes[i][k] = static_cast<float>(r[4 * k + i]);
  }
  return out;
}

// --- Packing -------------------------------------------------------------------

PackedBikeState pack_bike_state(const BikeState *bike, const PackTerrain &terrain) {
  const BikeInfo *info = bike_info(bike->model);
  PackedBikeState out{};
  uint8_t *b = out.bytes;
  double E = terrain.extent, ymin = terrain.min_height;
  Vec frame = body_position(bike->bodies[bike_frame]);
  put(b, quantize(frame.x, 0, E, max24), 3);
  put(b + 3, quantize(frame.y, ymin, ymin + E, max24), 3);
  put(b + 6, quantize(frame.z, 0, E, max24), 3);
  put_quat(b + 9, body_quat(bike->bodies[bike_frame]));
  b[17] = static_cast<uint8_t>(quantize(dJointGetHingeAngle(bike->joints[joint_steering]), -pi / 4, pi / 4, max8));
  double T = info->swingarm_travel, F = info->fork_travel;
  b[18] = static_cast<uint8_t>(quantize(dJointGetHingeAngle(bike->joints[joint_swingarm]), -T, 0, max8) | 1);
  b[19] = static_cast<uint8_t>(quantize(dJointGetSliderPosition(bike->joints[joint_fork]), -F, 0, max8) & 0xfe);
  Vec offset = body_position(bike->bodies[bike_rider]) - frame;
  put(b + 20, quantize(offset.x, -16, 16, max16), 2);
  put(b + 22, quantize(offset.y, -16, 16, max16), 2);
  put(b + 24, quantize(offset.z, -16, 16, max16), 2);
  put_quat(b + 26, body_quat(bike->bodies[bike_rider]));
  b[34] = static_cast<uint8_t>(quantize(dJointGetHingeAngle(bike->joints[joint_front_axle]), -pi, pi, max8));
  b[35] = static_cast<uint8_t>(quantize(dJointGetHingeAngle(bike->joints[joint_rear_axle]), -pi, pi, max8));
  int riding = bike->controls.foot_down > 0 ? 8 : 0;
  if (bike->crash_timer > 0) {
    int scaled = (bike->crash_timer * 15 - 15) / 127;
    riding |= 7 | (scaled > 15 ? 15 : scaled) << 4;
  } else {
    int gear = bike->controls.gear < 0 ? 0 : bike->controls.gear > 6 ? 6 : bike->controls.gear;
    double t = std::trunc(clampd(bike->controls.throttle * 15.0, 0, 15));
    riding |= gear | static_cast<int>(t) << 4;
  }
  b[36] = static_cast<uint8_t>(riding);
  put(b + 37, quantize(bike->engine_speed * rads_to_rpm, 0, 32768, max16), 2);
  return out;
}

void unpack_bike_state(BikeState *bike, const PackedBikeState &packed, const PackTerrain &terrain) {
  Pose s = decode(bike_info(bike->model), packed, terrain);
  place_bike(bike, s);
  apply_riding(bike, s, terrain);
}

void unpack_bike_state_moving(BikeState *bike, const PackedBikeState &older, const PackedBikeState &newer,
                              const PackedBikeState &now, int n, const PackTerrain &terrain) {
  if (n < 1) n = 1;
  const BikeInfo *info = bike_info(bike->model);
  if (bike_is_active(bike)) {
    force_driven_unpack(bike, decode(info, older, terrain), decode(info, newer, terrain),
                        decode(info, now, terrain), n, terrain);
    return;
  }
  unpack_bike_state(bike, older, terrain);
  Vec old_p[bike_body_count];
  Quat old_q[bike_body_count];
  for (int i = 0; i < bike_body_count; i++) {
    old_p[i] = body_position(bike->bodies[i]);
    old_q[i] = body_quat(bike->bodies[i]);
  }
  unpack_bike_state(bike, newer, terrain);
  double dt = seconds_per_tic * n;
  for (int i = 0; i < bike_body_count; i++) {
    dBodyID body = bike->bodies[i];
    Vec v = (body_position(body) - old_p[i]) * (1 / dt);
    Vec w = rotation_vector(qmul(body_quat(body), qconj(old_q[i]))) * (1 / dt);
    dBodySetLinearVel(body, v.x, v.y, v.z);
    dBodySetAngularVel(body, w.x, w.y, w.z);
  }
  unpack_bike_state(bike, now, terrain);

  // Keep the rear tyre out of the ground: quantisation and interpolation can
  // sink it.
  if (terrain.height_at) {
    Vec down = qrotate(body_quat(bike->bodies[bike_frame]), {0, -1, 0});
    Vec lowest = body_position(bike->bodies[bike_rear_wheel]) + down * info->rear_ring_radius;
    double ground = terrain.height_at(terrain.terrain, static_cast<float>(lowest.x), static_cast<float>(lowest.z));
    if (ground > lowest.y) move_bike(bike, 0, ground - lowest.y, 0);
  }
  int riding = now.bytes[36];
  if (riding_crashed(riding) || (riding & 8)) {
    float level = bike->controls.foot_down + static_cast<float>(seconds_per_tic * 8);
    bike->controls.foot_down = level > 1 ? 1 : level;
  }
}
