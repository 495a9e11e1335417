// The rider: the skinned body (version 2, nine bones), its first-person
// variant with the same skeleton, and the helmeted head; and the pose the
// game gives them on a bike at rest, which the pose check and the turntable
// use.
//
// The body is modelled standing with the arms straight out sideways: the
// bones' rest pivots are the catalogue's (shoulders and elbows at y 0.875,
// hips and knees at x -+0.269, the pelvis at y -0.88, all at z 0.01), the
// rider facing -z. Bones: 0 left forearm, 1 right forearm, 2 left upper arm,
// 3 right upper arm, 4 left shin, 5 right shin, 6 left thigh, 7 right
// thigh, 8 torso. Each forearm reaches its grip at the elbow's x minus or
// plus the forearm length; each shin its foot at the knee's y minus the
// shin length. Weights blend across every joint so elbows, knees,
// shoulders and hips bend smoothly.
//
// The head is in its own frame: the pivot (neck) at the origin, +y up, the
// face toward -z.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "bike/catalogue.h"
#include "databuild.h"

namespace databuild {

namespace {

const BikeInfo &reference_bike() { return *bike_info(0); }

enum { bone_forearm = 0, bone_upper_arm = 2, bone_shin = 4, bone_thigh = 6, bone_torso = 8 };


float ramp(float v, float from_, float to) { return std::clamp((v - from_) / (to - from_), 0.0f, 1.0f); }

void set_weights(MeshVertex *v, int a, float wa, int b, float wb) {
  for (float &w : v->w) w = 0;
  v->w[a] += wa;
  v->w[b] += wb;
}

// A limb's inner bone shares a vertex with the torso near the body, or with
// the outer bone near the middle joint.
void limb_weights(MeshVertex *v, int inner, float torso, int outer, float toward_outer) {
  if (torso > 0)
    set_weights(v, inner, 1 - torso, bone_torso, torso);
  else
    set_weights(v, inner, 1 - toward_outer, outer, toward_outer);
}

enum Part { part_torso, part_arm, part_hand, part_leg, part_foot };

// Weights for a vertex of a part by where it lies in the rest pose.
void weigh(Mesh *mesh, int first, Part part, int side) {
  const RiderPoseBlock &pose = reference_bike().pose;
  float elbow = std::fabs(pose.model_elbows[0][0]), shoulder = std::fabs(pose.model_shoulders[0][0]);
  float knee = pose.model_knees[0][1], hip = pose.model_hips[0][1];
  for (size_t i = static_cast<size_t>(first); i < mesh->verts.size(); i++) {
    MeshVertex &v = mesh->verts[i];
    float x = v.p[0], y = v.p[1], d = std::fabs(x);
    int s = side;
    switch (part) {
      case part_torso: {
        // The shoulders go with the arms a little, the seat with the thighs.
        float arm = 0.5f * ramp(d, shoulder - 0.2f, shoulder + 0.05f) * ramp(y, 0.5f, 0.7f);
        float leg = 0.6f * ramp(-y, -hip - 0.18f, -hip + 0.22f);
        s = x < 0 ? 0 : 1;
        if (arm > 0)
          set_weights(&v, bone_torso, 1 - arm, bone_upper_arm + s, arm);
        else
          set_weights(&v, bone_torso, 1 - leg, bone_thigh + s, leg);
        break;
      }
      case part_arm:
        limb_weights(&v, bone_upper_arm + s, 0.5f * (1 - ramp(d, shoulder - 0.1f, shoulder + 0.12f)), bone_forearm + s,
                     ramp(d, elbow - 0.12f, elbow + 0.12f));
        break;
      case part_hand:
        set_weights(&v, bone_forearm + s, 1, bone_forearm + s, 0);
        break;
      case part_leg:
        limb_weights(&v, bone_thigh + s, 0.5f * ramp(y, hip - 0.12f, hip + 0.15f), bone_shin + s,
                     ramp(-y, -knee - 0.14f, -knee + 0.14f));
        break;
      case part_foot:
        set_weights(&v, bone_shin + s, 1, bone_shin + s, 0);
        break;
    }
  }
}

// Whether a row of a limb's or the torso's profile is kept at a level of
// detail: all of them for the first three levels; then every other one,
// always with the ends and the joint the limb bends at.
bool row_kept(int i, int count, bool joint, int detail) {
  return detail < 3 || joint || i == 0 || i == count - 1 || i % 2 == 0;
}

void add_torso(Mesh *m, int detail) {
  int first = static_cast<int>(m->verts.size());
  // From the neck down: height, half width, half depth.
  static const float rows[][3] = {{1.2f, 0.13f, 0.12f}, {1.0f, 0.15f, 0.14f}, {0.92f, 0.32f, 0.22f},
                                  {0.8f, 0.52f, 0.26f}, {0.55f, 0.53f, 0.29f}, {0.2f, 0.47f, 0.3f},
                                  {-0.2f, 0.42f, 0.27f}, {-0.55f, 0.44f, 0.28f}, {-0.85f, 0.45f, 0.28f},
                                  {-1.05f, 0.32f, 0.24f}, {-1.12f, 0.12f, 0.12f}};
  std::vector<Vec3> path;
  std::vector<float> rx, rz;
  constexpr int count = sizeof rows / sizeof rows[0];
  for (int i = 0; i < count; i++) {
    const float *r = rows[i];
    if (!row_kept(i, count, false, detail)) continue;
    path.push_back({0, r[0], 0.01f});
    rx.push_back(r[1]);
    rz.push_back(r[2]);
  }
  mesh_tube(m, Place{}, path.data(), rx.data(), rz.data(), static_cast<int>(path.size()), lod_sides(14, detail),
            gear_torso_uv, 1);
  weigh(m, first, part_torso, 0);
}

void add_arm(Mesh *m, int side, float start, int detail) {
  const RiderPoseBlock &pose = reference_bike().pose;
  float s = side ? 1.0f : -1.0f;
  float y = pose.model_elbows[side][1], z = pose.model_elbows[side][2];
  float elbow = std::fabs(pose.model_elbows[side][0]);
  float hand = elbow + pose.forearm;  // the grip, in the middle of the fist
  int first = static_cast<int>(m->verts.size());
  static const float rows[][2] = {{0.42f, 0.2f}, {0.7f, 0.17f}, {1.1f, 0.15f}, {0.0f, 0.14f},
                                  {1.8f, 0.14f}, {2.2f, 0.115f}, {2.42f, 0.1f}};
  std::vector<Vec3> path;
  std::vector<float> r;
  constexpr int count = sizeof rows / sizeof rows[0];
  for (int i = 0; i < count; i++) {
    const float *row = rows[i];
    float d = row[0] == 0 ? elbow : row[0];
    if (d < start || !row_kept(i, count, row[0] == 0, detail)) continue;
    path.push_back({s * d, y, z});
    r.push_back(row[1]);
  }
  mesh_tube(m, Place{}, path.data(), r.data(), r.data(), static_cast<int>(path.size()), lod_sides(10, detail),
            gear_arm_uv, 1);
  weigh(m, first, part_arm, side);
  first = static_cast<int>(m->verts.size());
  const Vec3 cuff[2] = {{s * 2.34f, y, z}, {s * (hand - 0.1f), y, z}};
  const float cr[2] = {0.115f, 0.12f};
  // The cuff and the sole are a pixel from 45 ft.
  if (detail < 4) mesh_tube(m, Place{}, cuff, cr, cr, 2, lod_sides(10, detail), gear_glove_uv, 0);
  mesh_ellipsoid(m, Place{}, {s * hand, y - 0.01f, z - 0.02f}, {0.17f, 0.12f, 0.14f}, lod_sides(6, detail),
                 lod_sides(10, detail), gear_glove_uv);
  weigh(m, first, part_hand, side);
}

void add_leg(Mesh *m, int side, int detail) {
  const RiderPoseBlock &pose = reference_bike().pose;
  float x = pose.model_hips[side][0], z = pose.model_hips[side][2];
  float knee = pose.model_knees[side][1];
  float sole = knee - pose.shin;  // the foot's point: where it stands on the peg
  int first = static_cast<int>(m->verts.size());
  static const float rows[][2] = {{-0.78f, 0.23f}, {-1.1f, 0.22f}, {-1.6f, 0.19f}, {-2.0f, 0.17f},
                                  {0.0f, 0.175f},  {-2.45f, 0.16f}};
  std::vector<Vec3> path;
  std::vector<float> r;
  constexpr int count = sizeof rows / sizeof rows[0];
  for (int i = 0; i < count; i++) {
    const float *row = rows[i];
    if (!row_kept(i, count, row[0] == 0, detail)) continue;
    path.push_back({x, row[0] == 0 ? knee : row[0], z});
    r.push_back(row[1]);
  }
  mesh_tube(m, Place{}, path.data(), r.data(), r.data(), static_cast<int>(path.size()), lod_sides(10, detail),
            gear_pants_uv, 1);
  weigh(m, first, part_leg, side);
  // Boot: the shaft from under the knee, then the foot with its sole.
  first = static_cast<int>(m->verts.size());
  const Vec3 shaft[3] = {{x, -2.35f, z}, {x, -3.2f, z}, {x, sole + 0.25f, z}};
  const float br[3] = {0.185f, 0.17f, 0.16f};
  mesh_tube(m, Place{}, shaft, br, br, 3, lod_sides(10, detail), gear_boot_uv, 1);
  mesh_ellipsoid(m, Place{}, {x, sole + 0.15f, z - 0.1f}, {0.15f, 0.12f, 0.33f}, lod_sides(6, detail),
                 lod_sides(10, detail), gear_boot_uv);
  if (detail < 4) mesh_box(m, Place{}, {x, sole + 0.04f, z - 0.1f}, {0.14f, 0.035f, 0.31f}, gear_sole_uv);
  weigh(m, first, part_foot, side);
}

// ---- The pose on a bike at rest ----

Vec3 two_bone_ik(Vec3 a, Vec3 e, float la, float lb, Vec3 hint) {
  Vec3 d = v_sub(e, a);
  float l = v_len(d);
  if (l <= 0) return a;
  Vec3 u = v_scale(d, 1.0f / l);
  float lr = std::min(l, 0.95f * (la + lb));
  float m = (lr * lr + la * la - lb * lb) / (2 * lr);
  float h = std::sqrt(std::max(la * la - m * m, 0.0f));
  Vec3 hv = v_sub(hint, a);
  Vec3 w = v_unit(v_sub(hv, v_scale(u, v_dot(hv, u))));
  return v_add(a, v_add(v_scale(u, m), v_scale(w, h)));
}

BonePose bone(Vec3 c, Vec3 t, Vec3 rx, Vec3 ry, Vec3 rz) { return {c, t, rx, ry, rz}; }

}  // namespace

RiderPose rider_pose_at_rest() {
  const BikeInfo &b = reference_bike();
  const RiderPoseBlock &pb = b.pose;
  // At rest every body stands unturned, so a body point is its position
  // plus the point.
  Vec3 rider = v_from(b.rider_position), fork = v_from(b.steering_head), frame = v_from(b.frame_position);
  RiderPose pose{};
  Vec3 sh[2], hip[2], elbow[2], knee[2];
  for (int i = 0; i < 2; i++) {
    sh[i] = v_add(rider, v_from(pb.shoulders[i]));
    hip[i] = v_add(rider, v_from(pb.hips[i]));
    pose.grips[i] = v_add(fork, v_from(pb.grips[i]));
    pose.pegs[i] = v_add(frame, v_from(pb.pegs[i]));
    pose.feet[i] = pose.pegs[i];  // on the pegs: no foot down, no crash
  }
  float dy = sh[1].y - sh[0].y;
  Vec3 g = v_sub(pose.grips[1], pose.grips[0]);
  Vec3 hint_l = v_sub(v_add(rider, {pb.shoulders[0][0] - 0.5f, pb.shoulders[0][1] - (1.5f * std::max(dy, 0.0f) + 1.0f),
                                    pb.shoulders[0][2] + 2.0f}), g);
  Vec3 hint_r = v_add(v_add(rider, {pb.shoulders[1][0] + 0.5f, pb.shoulders[1][1] - (1.5f * std::max(-dy, 0.0f) + 0.9f),
                                    pb.shoulders[1][2] + 2.0f}), g);
  elbow[0] = two_bone_ik(sh[0], pose.grips[0], pb.upper_arm, pb.forearm, hint_l);
  elbow[1] = two_bone_ik(sh[1], pose.grips[1], pb.upper_arm, pb.forearm, hint_r);
  for (int i = 0; i < 2; i++) {
    float out = i ? 0.5f : -0.5f;
    knee[i] = two_bone_ik(hip[i], pose.feet[i], pb.thigh, pb.shin,
                          v_add(rider, {pb.hips[i][0] + out, pb.hips[i][1], pb.hips[i][2] - 2.0f}));
  }
  Vec3 e = v_sub(hip[1], hip[0]);
  Vec3 spine{0, pb.shoulders[0][1] - pb.hips[0][1], pb.shoulders[0][2] - pb.hips[0][2]};
  Vec3 x;
  // Forearms.
  x = v_unit(v_sub(elbow[0], pose.grips[0]));
  Vec3 y = v_unit(v_cross(v_sub(pose.grips[0], pose.grips[1]), x));
  pose.bones[0] = bone(v_from(pb.model_elbows[0]), elbow[0], x, y, v_cross(x, y));
  x = v_unit(v_sub(pose.grips[1], elbow[1]));
  y = v_unit(v_cross(v_sub(pose.grips[1], pose.grips[0]), x));
  pose.bones[1] = bone(v_from(pb.model_elbows[1]), elbow[1], x, y, v_cross(x, y));
  // Upper arms.
  for (int i = 0; i < 2; i++) {
    x = i ? v_unit(v_sub(elbow[1], sh[1])) : v_unit(v_sub(sh[0], elbow[0]));
    Vec3 z = v_unit(v_cross(x, spine));
    pose.bones[2 + i] = bone(v_from(pb.model_shoulders[i]), sh[i], x, v_cross(z, x), z);
  }
  // Shins (feet on the pegs: the side axis is e) and thighs.
  for (int i = 0; i < 2; i++) {
    y = v_unit(v_sub(knee[i], pose.feet[i]));
    Vec3 z = v_unit(v_cross(e, y));
    pose.bones[4 + i] = bone(v_from(pb.model_knees[i]), knee[i], v_cross(y, z), y, z);
    y = v_unit(v_sub(hip[i], knee[i]));
    z = v_unit(v_cross(e, y));
    pose.bones[6 + i] = bone(v_from(pb.model_hips[i]), hip[i], v_cross(y, z), y, z);
  }
  Vec3 pelvis = v_add(rider, {0, pb.hips[0][1], pb.hips[0][2]});
  Vec3 neck = v_add(rider, {0, pb.shoulders[0][1], pb.shoulders[0][2]});
  x = {1, 0, 0};
  y = v_unit(v_sub(neck, pelvis));
  pose.bones[8] = bone(v_from(pb.model_pelvis), pelvis, x, y, v_cross(x, y));
  // The head of a rider standing still: the back of the head points back,
  // tipped up so the face looks down ahead.
  Vec3 zb{0, 0, 1}, yb{0, 1, 0};
  Vec3 d = zb;  // no velocity
  float rho = std::hypot(d.x, d.z);
  d.y = std::max((60 - rho) * rho * 0.005833333333f, 0.0f) + 0.25f * rho;
  Vec3 beta = v_unit(d);
  Vec3 r1 = v_scale(v_sub(v_scale(yb, 1.5f), zb), 0.5547002f), r2 = v_scale(v_add(v_scale(yb, 1.5f), zb), 0.5547002f);
  Vec3 up{0, 1, 0};
  float ur = v_len(v_sub(up, r1));
  if (ur > 0.5f) up = v_add(r1, v_scale(v_sub(up, r1), 0.5f / ur));
  Vec3 b1 = v_add(beta, v_scale(r1, 2 * v_dot(beta, r1)));
  float br = v_len(v_sub(b1, r2));
  if (br > 0.75f) b1 = v_add(r2, v_scale(v_sub(b1, r2), 0.75f / br));
  Vec3 b2 = v_sub(b1, v_scale(r1, (2.0f / 3.0f) * v_dot(b1, r1)));
  pose.head_pivot = v_add(rider, v_from(pb.head_pivot));
  pose.head_x = v_unit(v_cross(up, b2));
  pose.head_y = v_unit(v_cross(b2, v_cross(up, b2)));
  pose.head_z = v_unit(b2);
  return pose;
}

void pose_vertex(const RiderPose &pose, const MeshVertex &v, Vec3 *p, Vec3 *n) {
  Vec3 sp{0, 0, 0}, sn{0, 0, 0};
  float sum = 0;
  for (float w : v.w) sum += w > 0 ? w : 0;
  for (int b = 0; b < rider_bone_count; b++) {
    float w = v.w[b];
    if (!(w > 0) || sum <= 0) continue;
    w /= sum;
    const BonePose &bp = pose.bones[b];
    Vec3 q = v_sub(Vec3{v.p[0], v.p[1], v.p[2]}, bp.c);
    Vec3 r = v_add(v_add(v_scale(bp.rx, q.x), v_scale(bp.ry, q.y)), v_scale(bp.rz, q.z));
    Vec3 rn = v_add(v_add(v_scale(bp.rx, v.n[0]), v_scale(bp.ry, v.n[1])), v_scale(bp.rz, v.n[2]));
    sp = v_add(sp, v_scale(v_add(r, bp.t), w));
    sn = v_add(sn, v_scale(rn, w));
  }
  *p = sp;
  *n = v_unit(sn);
}

Model rider_body_model(int first_person, int detail) {
  Model model;
  Mesh m;
  m.material = 6;
  m.bones = rider_bone_count;
  // The rider view looks from just behind the steering head, low over the
  // tank: the torso, the shoulders and the thighs would all stand in front
  // of it. The first-person body is the arms from mid upper arm out, so the
  // gloves are seen on the grips.
  if (!first_person) add_torso(&m, detail);
  for (int side = 0; side < 2; side++) {
    add_arm(&m, side, first_person ? 1.0f : 0.0f, detail);
    if (!first_person) add_leg(&m, side, detail);
  }
  model.meshes.push_back(m);
  return model;
}

Model rider_head_model(int detail) {
  Model model;
  Mesh m;
  m.material = 40;
  const Place at;
  int st = lod_sides(10, detail), sl = lod_sides(18, detail);
  mesh_ellipsoid(&m, at, {0, 0.45f, 0.04f}, {0.44f, 0.46f, 0.52f}, st, sl, helmet_shell_uv);
  // Chin guard and its vent, jutting forward under the face.
  mesh_ellipsoid(&m, at, {0, 0.12f, -0.33f}, {0.3f, 0.2f, 0.29f}, lod_sides(6, detail), lod_sides(12, detail),
                 helmet_swatch(hs_chin));
  mesh_ellipsoid(&m, at, {0, 0.08f, -0.57f}, {0.16f, 0.12f, 0.1f}, lod_sides(6, detail), lod_sides(10, detail),
                 helmet_swatch(hs_vent));
  // The peak over the brow, tipped down at the front.
  const float peak[][2] = {{-0.2f, 0.86f}, {-0.5f, 0.84f}, {-0.86f, 0.76f}, {-0.86f, 0.72f},
                           {-0.5f, 0.79f}, {-0.25f, 0.8f}};
  mesh_slab(&m, at, peak, 6, -0.32f, 0.32f, {-0.86f, -0.2f, 0.72f, 0.86f, helmet_swatch(hs_peak)});
  // Goggles: frame and lens in the eye port, the strap round the shell.
  const UvRect frame = helmet_swatch(hs_goggle_frame), lens = helmet_swatch(hs_lens);
  const UvRect faces[6] = {frame, frame, frame, frame, frame, lens};
  mesh_box_faces(&m, at, {0, 0.42f, -0.5f}, {0.31f, 0.1f, 0.06f}, faces);
  if (detail < 4) {
    std::vector<Vec3> strap;
    for (int k = 0; k <= 16; k++) {
      float ph = -0.6f * 3.14159265f + 1.2f * 3.14159265f * static_cast<float>(k) / 16.0f;
      strap.push_back({0.458f * std::sin(ph), 0.42f, 0.04f + 0.535f * std::cos(ph)});
    }
    std::vector<float> thick(strap.size(), 0.012f), tall(strap.size(), 0.055f);
    mesh_tube(&m, at, strap.data(), thick.data(), tall.data(), static_cast<int>(strap.size()), 4,
              helmet_swatch(hs_strap), 0);
  }
  model.meshes.push_back(m);
  if (detail < 3) {
    // The lens again as a reflection layer.
    Mesh shine;
    const Vec3 q[4] = {{0.28f, 0.34f, -0.562f}, {-0.28f, 0.34f, -0.562f}, {-0.28f, 0.5f, -0.562f}, {0.28f, 0.5f, -0.562f}};
    const float uv[4][2] = {{lens.u0, lens.t1}, {lens.u1, lens.t1}, {lens.u1, lens.t0}, {lens.u0, lens.t0}};
    mesh_face(&shine, at, q, uv, 4);
    model.meshes.push_back(reflection_of(shine, 0.7f, 0.8f, 0.85f, 1.0f));
  }
  return model;
}

int check_rider_pose() {
  RiderPose pose = rider_pose_at_rest();
  const RiderPoseBlock &pb = reference_bike().pose;
  Model body = rider_body_model(0, 0);
  const Mesh &m = body.meshes[0];
  int ok = 1;
  for (int side = 0; side < 2; side++) {
    // The fist and the sole, as posed, against the grip and the peg.
    Vec3 grip_model = v_add(v_from(pb.model_elbows[side]), {side ? pb.forearm : -pb.forearm, 0, 0});
    Vec3 foot_model = v_add(v_from(pb.model_knees[side]), {0, -pb.shin, 0});
    Vec3 hand{0, 0, 0}, foot{0, 0, 0};
    int hands = 0, feet = 0;
    for (const MeshVertex &v : m.verts) {
      Vec3 p{v.p[0], v.p[1], v.p[2]}, posed, n;
      if (v_len(v_sub(p, grip_model)) < 0.2f && v.w[bone_forearm + side] > 0.99f) {
        pose_vertex(pose, v, &posed, &n);
        hand = v_add(hand, posed);
        hands++;
      }
      if (v_len(v_sub(p, foot_model)) < 0.3f && v.w[bone_shin + side] > 0.99f) {
        pose_vertex(pose, v, &posed, &n);
        foot = v_add(foot, posed);
        feet++;
      }
    }
    if (!hands || !feet) {
      fprintf(stderr, "Rider pose: no hand or foot found on the %s side\n", side ? "right" : "left");
      return 0;
    }
    float hand_off = v_len(v_sub(v_scale(hand, 1.0f / static_cast<float>(hands)), pose.grips[side]));
    float foot_off = v_len(v_sub(v_scale(foot, 1.0f / static_cast<float>(feet)), pose.pegs[side]));
    printf("Rider pose, %s: hand %.3f ft from the grip, foot %.3f ft from the peg\n", side ? "right" : "left",
           static_cast<double>(hand_off), static_cast<double>(foot_off));
    if (hand_off > 0.15f || foot_off > 0.25f) {
      fprintf(stderr, "Rider pose: the %s hand or foot misses the bike\n", side ? "right" : "left");
      ok = 0;
    }
  }
  return ok;
}

namespace {

Model body_lod(int detail, const void *) { return rider_body_model(0, detail); }
Model head_lod(int detail, const void *) { return rider_head_model(detail); }


}  // namespace

void write_rider_models(Archive *archive) {
  const BikeInfo &b = reference_bike();
  archive_add_model_lods(archive, model_base_name(b.rider_body_model), body_lod, nullptr, true);
  archive_add_model(archive, model_base_name(b.rider_first_person_model), rider_body_model(1, 0));
  archive_add_model_lods(archive, model_base_name(b.rider_head_model), head_lod, nullptr, true);
}

}  // namespace databuild
