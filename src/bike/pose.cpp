#include "bike/pose.h"

#include <algorithm>
#include <cmath>

#include "bike/catalogue.h"
#include "bike/posture.h"
#include "bike/vec_local.h"

namespace {

using namespace bike_vec;

// NaN goes to the low end, like the double version.
float clampf(float v, float lo, float hi) { return !(v > lo) ? lo : (v > hi ? hi : v); }

V3 world_v3(const dReal *p) { return to_v3(vr(p)); }

// Any unit vector at right angles to u (u non-zero).
V3 perpendicular(V3 u) {
  V3 axis = std::fabs(u.x) < 0.5f ? V3{1, 0, 0} : V3{0, 1, 0};
  return unit(cross(u, axis));
}

void set_bone(RiderBone *bone, const float centre[3], V3 translation, V3 x, V3 y, V3 z) {
  for (int k = 0; k < 3; k++) bone->centre[k] = centre[k];
  store(translation, bone->translation);
  store(x, bone->axes[0]);
  store(y, bone->axes[1]);
  store(z, bone->axes[2]);
}

}  // namespace

void two_bone_ik(const float start[3], const float end[3], float first, float second, const float hint[3],
                 float joint[3]) {
  V3 A = v3(start), H = v3(hint);
  V3 d = v3(end) - A;
  float L = len(d);
  float a = first, b = second;
  // A reach of (almost) nothing has no direction: the limb folds toward the
  // hint. Never met with the catalogue's geometry.
  if (!(L > 1e-6f)) {
    V3 toward = unit(H - A);
    if (dot(toward, toward) == 0) toward = V3{0, -1, 0};
    store(A + toward * a, joint);
    return;
  }
  V3 u = d * (1 / L);
  float reach = std::min(L, 0.95f * (a + b));
  // Closer than the difference of the lengths, the limb is folded flat.
  reach = std::max(reach, std::fabs(a - b));
  if (!(reach > 1e-6f)) {
    store(A + u * a, joint);
    return;
  }
  float m = (reach * reach + a * a - b * b) / (2 * reach);
  float h = std::sqrt(std::max(a * a - m * m, 0.0f));
  V3 toward = H - A;
  V3 w = unit(toward - u * dot(toward, u));
  if (dot(w, w) == 0) w = perpendicular(u);  // the hint on the line: any side
  store(A + u * m + w * h, joint);
}

FootPlacement foot_positions(const BikeState *bike, const PackTerrain &ground) {
  const RiderPoseBlock &pose = bike_info(bike->model)->pose;
  dBodyID frame = bike->bodies[bike_frame], rider = bike->bodies[bike_rider];
  FootPlacement out{};
  int c = bike->crash_timer;
  V3 pegs[2];
  for (int side = 0; side < 2; side++) {
    V3 p = v3(pose.pegs[side]);
    if (c > 0) {
      // Off the bike the peg points move outward, up and back, shrinking
      // back to the pegs over the last second of the crash time.
      float t = clampf(static_cast<float>(c), 1, 128) / 128;
      float a = 0.5f * clampf(2 * t - 1, 0, 1), b = clampf(2 * t, 0, 1), k = clampf(1.3333334f * t, 0, 1);
      p = p + V3{side == 0 ? -a : a, 1.75f * b, k};
    }
    pegs[side] = rel_point(frame, p);
    store(pegs[side], out.feet[side]);
  }
  float level = bike->controls.foot_down;
  if (level != 0 && c < 128) {
    V3 hip_l = rel_point(rider, v3(pose.hips[0])), hip_r = rel_point(rider, v3(pose.hips[1]));
    V3 d = hip_r - hip_l;
    V3 f = to_world(frame, V3{0, 0, -1});
    float phi = lean_angle(bike);
    float q = clampf(dot(f, world_v3(dBodyGetLinearVel(frame))) / 15, 0, 1);
    float s = clampf(std::fabs(phi) * 1.2732395f, 0, 1);
    V3 o = f * ((1.25f * q - 0.25f) * 2.5f * s);
    // Only the foot on the low side goes down, nearer under its hip the
    // more the bike leans, and forward with speed.
    for (int side = 0; side < 2; side++) {
      if (side == 0 ? !(phi > -0.1f) : !(phi < 0.1f)) continue;
      V3 p = side == 0 ? hip_l + d * (0.5f * s - 0.5f) + o : hip_r + d * (0.5f - 0.5f * s) + o;
      float G = ground.height_at ? ground.height_at(ground.terrain, p.x, p.z) : pegs[side].y - 0.125f;
      V3 down{p.x, G + 0.125f, p.z};
      out.weights[side] = level;
      store(pegs[side] + (down - pegs[side]) * level, out.feet[side]);
    }
  }
  if (c > 0) {
    // The drawn feet follow the free feet until the timer is down to 128
    // and return to the pegs by 64.
    float u = clampf(static_cast<float>(2 * c - 128), 1, 128) / 128;
    for (int side = 0; side < 2; side++) {
      V3 foot = v3(out.feet[side]);
      store(foot + (v3(bike->free_feet[side].position) - foot) * u, out.feet[side]);
      out.weights[side] = 1;
    }
  }
  return out;
}

RiderBones rider_bones(const BikeState *bike, const PackTerrain &ground) {
  const RiderPoseBlock &pose = bike_info(bike->model)->pose;
  dBodyID rider = bike->bodies[bike_rider], fork = bike->bodies[bike_fork_upper];
  V3 shoulder[2], hip[2], grip[2];
  for (int side = 0; side < 2; side++) {
    shoulder[side] = rel_point(rider, v3(pose.shoulders[side]));
    hip[side] = rel_point(rider, v3(pose.hips[side]));
    grip[side] = rel_point(fork, v3(pose.grips[side]));
  }
  const float *sh = pose.shoulders[0], *hp = pose.hips[0];
  V3 pelvis = rel_point(rider, V3{0, hp[1], hp[2]});
  V3 neck = rel_point(rider, V3{0, sh[1], sh[2]});
  V3 spine = to_world(rider, V3{0, sh[1] - hp[1], sh[2] - hp[2]});
  V3 e = hip[1] - hip[0];
  FootPlacement placement = foot_positions(bike, ground);
  V3 foot[2] = {v3(placement.feet[0]), v3(placement.feet[1])};

  // The elbows bend outward, down and back; the one on the side of the
  // higher shoulder drops further and opening the throttle lowers the right.
  float dy = shoulder[1].y - shoulder[0].y;
  V3 g = grip[1] - grip[0];
  const float *sl = pose.shoulders[0], *sr = pose.shoulders[1];
  V3 hint_l = rel_point(rider, V3{sl[0] - 0.5f, sl[1] - (1.5f * std::max(dy, 0.0f) + 1.0f), sl[2] + 2.0f}) - g;
  float throttle = bike->controls.throttle;
  V3 hint_r =
      rel_point(rider, V3{sr[0] + 0.5f, sr[1] - (0.125f * throttle + 1.5f * std::max(-dy, 0.0f) + 0.9f), sr[2] + 2.0f}) +
      g;
  V3 elbow[2], knee[2];
  float joint[3], start[3], end[3], hint[3];
  V3 hints[2] = {hint_l, hint_r};
  for (int side = 0; side < 2; side++) {
    store(shoulder[side], start);
    store(grip[side], end);
    store(hints[side], hint);
    two_bone_ik(start, end, pose.upper_arm, pose.forearm, hint, joint);
    elbow[side] = v3(joint);
    // The knees point forward and outward.
    const float *h = pose.hips[side];
    store(rel_point(rider, V3{h[0] + (side == 0 ? -0.5f : 0.5f), h[1], h[2] - 2.0f}), hint);
    store(hip[side], start);
    store(foot[side], end);
    two_bone_ik(start, end, pose.thigh, pose.shin, hint, joint);
    knee[side] = v3(joint);
  }
  // A leg whose foot is on the ground turns its shin into the plane of the
  // bent leg.
  V3 shin_side[2];
  for (int side = 0; side < 2; side++) {
    V3 n = cross(hip[side] - knee[side], foot[side] - knee[side]);
    shin_side[side] = dot(n, n) >= 0.001f ? e + (n - e) * placement.weights[side] : e;
  }

  RiderBones out;
  RiderBone *b = out.bones;
  {
    V3 x = unit(elbow[0] - grip[0]), y = unit(cross(grip[0] - grip[1], x));
    set_bone(&b[bone_left_forearm], pose.model_elbows[0], elbow[0], x, y, cross(x, y));
    x = unit(grip[1] - elbow[1]);
    y = unit(cross(grip[1] - grip[0], x));
    set_bone(&b[bone_right_forearm], pose.model_elbows[1], elbow[1], x, y, cross(x, y));
  }
  {
    V3 x = unit(shoulder[0] - elbow[0]), z = unit(cross(x, spine));
    set_bone(&b[bone_left_upper_arm], pose.model_shoulders[0], shoulder[0], x, cross(z, x), z);
    x = unit(elbow[1] - shoulder[1]);
    z = unit(cross(x, spine));
    set_bone(&b[bone_right_upper_arm], pose.model_shoulders[1], shoulder[1], x, cross(z, x), z);
  }
  for (int side = 0; side < 2; side++) {
    V3 y = unit(knee[side] - foot[side]), z = unit(cross(shin_side[side], y));
    set_bone(&b[bone_left_shin + side], pose.model_knees[side], knee[side], cross(y, z), y, z);
    y = unit(hip[side] - knee[side]);
    z = unit(cross(e, y));
    set_bone(&b[bone_left_thigh + side], pose.model_hips[side], hip[side], cross(y, z), y, z);
  }
  {
    V3 x = to_world(rider, V3{1, 0, 0}), y = unit(neck - pelvis);
    set_bone(&b[bone_torso], pose.model_pelvis, pelvis, x, y, cross(x, y));
  }
  return out;
}

HeadPose head_pose(const BikeState *bike) {
  const RiderPoseBlock &pose = bike_info(bike->model)->pose;
  dBodyID rider = bike->bodies[bike_rider];
  HeadPose out;
  store(rel_point(rider, v3(pose.head_pivot)), out.pivot);
  V3 v = world_v3(dBodyGetLinearVel(rider));
  V3 xb = to_world(rider, V3{1, 0, 0}), yb = to_world(rider, V3{0, 1, 0}), zb = to_world(rider, V3{0, 0, 1});
  // Riding backward the head does not turn round.
  float back = dot(v, zb);
  if (back >= 0) v = v - zb * back;
  // The back of the head points away from the direction of travel, tipped
  // up so that the face looks down ahead: the nearer, the lower.
  V3 away = zb - v;
  V3 d{away.x, 0, away.z};
  float dd = dot(away, away);
  if (dd < 1024) {
    V3 scaled = zb - v * (std::sqrt(dd) / 32);
    d = V3{scaled.x, 0, scaled.z};
  }
  float rho = std::sqrt(d.x * d.x + d.z * d.z);
  d.y = std::max((60 - rho) * rho * 0.005833333333333333f, 0.0f) + 0.25f * rho;
  V3 beta = unit(d);
  if (dot(beta, beta) == 0) beta = zb;
  V3 r1 = (yb * 1.5f - zb) * 0.5547002f, r2 = (yb * 1.5f + zb) * 0.5547002f;
  V3 up{0, 1, 0};
  V3 tilt = up - r1;
  float t = len(tilt);
  if (t > 0.5f) up = r1 + tilt * (0.5f / t);
  // The turn is limited in the rider's frame: stretched along r1, held
  // within reach of r2, then shrunk back.
  V3 b1 = beta + r1 * (2 * dot(beta, r1));
  V3 off = b1 - r2;
  float l = len(off);
  if (l > 0.75f) b1 = r2 + off * (0.75f / l);
  V3 b2 = b1 - r1 * ((2.0f / 3.0f) * dot(b1, r1));
  V3 side = cross(up, b2);
  if (!(dot(side, side) > 1e-12f)) side = xb;  // looking straight up: keep the rider's side
  store(unit(side), out.axes[0]);
  store(unit(cross(b2, side)), out.axes[1]);
  store(unit(b2), out.axes[2]);
  return out;
}
