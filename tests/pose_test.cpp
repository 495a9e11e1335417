// The drawn rider pose: the limb solver, where the feet go (pegs, dabbing,
// crashed), the nine bones on the catalogue's rest model, and the head.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/assembly.h"
#include "bike/crash.h"
#include "bike/pose.h"

namespace {

struct P3 {
  double x, y, z;
};
P3 operator-(P3 a, P3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double dot(P3 a, P3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double dist(P3 a, P3 b) { return std::sqrt(dot(a - b, a - b)); }
P3 p3(const float *v) { return {v[0], v[1], v[2]}; }
P3 body_point(dBodyID body, const float *p) {
  dVector3 out;
  dBodyGetRelPointPos(body, p[0], p[1], p[2], out);
  return {out[0], out[1], out[2]};
}
P3 body_point(dBodyID body, double x, double y, double z) {
  const float p[3] = {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
  return body_point(body, p);
}
// Where a bone draws model point p: R (p - C) + T.
P3 posed(const RiderBone &b, P3 p) {
  P3 d = p - p3(b.centre);
  P3 out = p3(b.translation);
  out.x += b.axes[0][0] * d.x + b.axes[1][0] * d.y + b.axes[2][0] * d.z;
  out.y += b.axes[0][1] * d.x + b.axes[1][1] * d.y + b.axes[2][1] * d.z;
  out.z += b.axes[0][2] * d.x + b.axes[1][2] * d.y + b.axes[2][2] * d.z;
  return out;
}
void expect_rotation(const float axes[3][3], const char *what) {
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) EXPECT_NEAR(dot(p3(axes[i]), p3(axes[j])), i == j ? 1 : 0, 1e-5) << what;
  const float *x = axes[0], *y = axes[1], *z = axes[2];
  double det = x[0] * (y[1] * z[2] - y[2] * z[1]) - x[1] * (y[0] * z[2] - y[2] * z[0]) + x[2] * (y[0] * z[1] - y[1] * z[0]);
  EXPECT_NEAR(det, 1, 1e-5) << what;
}

constexpr float ground_level = 0.3f;
float flat_ground(const void *, float, float) { return ground_level; }
const PackTerrain ground = {4096, -100, flat_ground, nullptr};

class Pose : public ::testing::Test {
 protected:
  BikeState *bike = nullptr;
  const RiderPoseBlock *pose = nullptr;
  void SetUp() override {
    physics_world_create();
    bike = build_bike("crf250(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
    pose = &bike_info(bike->model)->pose;
  }
  void TearDown() override {
    destroy_bike(bike);
    physics_world_destroy();
  }
  P3 peg(int side) { return body_point(bike->bodies[bike_frame], pose->pegs[side]); }
  P3 hip(int side) { return body_point(bike->bodies[bike_rider], pose->hips[side]); }
  void lean(double angle) {  // positive leans left
    dMatrix3 r;
    dRFromAxisAndAngle(r, 0, 0, 1, angle);
    dBodySetRotation(bike->bodies[bike_frame], r);
  }
};

}  // namespace

TEST(TwoBoneIk, ReachBendAndLimit) {
  const float A[3] = {1, 2, 3}, up[3] = {1, 5, 3};
  float j[3];
  // Within reach both segments keep their lengths and the joint bends
  // toward the hint.
  const float near[3] = {2.5f, 2, 3};
  two_bone_ik(A, near, 0.9f, 1.15f, up, j);
  EXPECT_NEAR(dist(p3(j), p3(A)), 0.9, 1e-5);
  EXPECT_NEAR(dist(p3(j), p3(near)), 1.15, 1e-5);
  EXPECT_GT(j[1], 2);
  EXPECT_NEAR(j[2], 3, 1e-6);
  // Beyond 0.95 x 2.05 = 1.9475 the elbow is placed as for that reach along
  // the line to the end.
  const float far[3] = {4, 2, 3};
  two_bone_ik(A, far, 0.9f, 1.15f, up, j);
  double m = (1.9475 * 1.9475 + 0.81 - 1.3225) / (2 * 1.9475);
  EXPECT_NEAR(j[0], 1 + m, 1e-5);
  EXPECT_NEAR(j[1], 2 + std::sqrt(0.81 - m * m), 1e-5);
  EXPECT_NEAR(dist(p3(j), P3{1 + 1.9475, 2, 3}), 1.15, 1e-5);
  // Degenerate reaches stay finite and keep the first segment's length.
  const float close[3] = {1.1f, 2, 3}, on_line[3] = {3, 2, 3};
  for (const float *end : {close, A}) {
    two_bone_ik(A, end, 0.9f, 1.15f, up, j);
    EXPECT_NEAR(dist(p3(j), p3(A)), 0.9, 1e-5);
  }
  two_bone_ik(A, near, 0.9f, 1.15f, on_line, j);  // hint on the line
  EXPECT_NEAR(dist(p3(j), p3(near)), 1.15, 1e-5);
}

TEST_F(Pose, FeetOnThePegsAndDabbing) {
  bike->controls.foot_down = 0;
  FootPlacement f = foot_positions(bike, ground);
  for (int side = 0; side < 2; side++) {
    P3 p = peg(side);
    EXPECT_FLOAT_EQ(f.feet[side][0], static_cast<float>(p.x));
    EXPECT_FLOAT_EQ(f.feet[side][1], static_cast<float>(p.y));
    EXPECT_FLOAT_EQ(f.feet[side][2], static_cast<float>(p.z));
    EXPECT_EQ(f.weights[side], 0);
  }
  // Upright and stopped, fully down: 0.125 above the ground, half the hip
  // spacing outside each hip, neither ahead nor behind it.
  bike->controls.foot_down = 1;
  f = foot_positions(bike, ground);
  double half = (hip(1).x - hip(0).x) / 2;
  for (int side = 0; side < 2; side++) {
    P3 h = hip(side);
    EXPECT_NEAR(f.feet[side][0], h.x + (side == 0 ? -half : half), 1e-5);
    EXPECT_NEAR(f.feet[side][1], ground_level + 0.125, 1e-5);
    EXPECT_NEAR(f.feet[side][2], h.z, 1e-5);
    EXPECT_EQ(f.weights[side], 1);
  }
  // Leaning 0.2 rad left only the left foot leaves its peg; within 0.1 rad
  // of upright both go down.
  bike->controls.foot_down = 1;
  lean(0.2);
  f = foot_positions(bike, ground);
  EXPECT_NEAR(f.feet[0][1], ground_level + 0.125, 1e-5);
  EXPECT_EQ(f.weights[0], 1);
  EXPECT_FLOAT_EQ(f.feet[1][1], static_cast<float>(peg(1).y));
  EXPECT_EQ(f.weights[1], 0);
  lean(-0.2);
  f = foot_positions(bike, ground);
  EXPECT_EQ(f.weights[0], 0);
  EXPECT_EQ(f.weights[1], 1);
  lean(0.05);
  f = foot_positions(bike, ground);
  EXPECT_EQ(f.weights[0] + f.weights[1], 2);
}

TEST_F(Pose, CrashedFeetFollowTheFreeFeet) {
  bike->controls.foot_down = 0;
  for (int side = 0; side < 2; side++) {
    bike->free_feet[side].position[0] = side == 0 ? -10.0f : 10.0f;
    bike->free_feet[side].position[1] = 7;
    bike->free_feet[side].position[2] = 20;
  }
  dBodyID frame = bike->bodies[bike_frame];
  bike->crash_timer = 200;
  FootPlacement f = foot_positions(bike, ground);
  for (int side = 0; side < 2; side++) {
    EXPECT_LT(dist(p3(f.feet[side]), p3(bike->free_feet[side].position)), 1e-5);
    EXPECT_EQ(f.weights[side], 1);
  }
  // At 96 halfway between the free feet and the pegs moved out 0.25, up
  // 1.75 and back 1; at 64 the pegs moved up 1.75 and back 2/3, 1/128 of the
  // way to the free feet.
  struct Case {
    int timer;
    double out, back, u;
  } cases[] = {{96, 0.25, 1, 0.5}, {64, 0, 0.6666667, 1.0 / 128}};
  for (const Case &c : cases) {
    bike->crash_timer = c.timer;
    f = foot_positions(bike, ground);
    for (int side = 0; side < 2; side++) {
      const float *p = pose->pegs[side];
      P3 shifted = body_point(frame, p[0] + (side == 0 ? -c.out : c.out), p[1] + 1.75, p[2] + c.back);
      P3 free = p3(bike->free_feet[side].position);
      P3 want{shifted.x + (free.x - shifted.x) * c.u, shifted.y + (free.y - shifted.y) * c.u,
              shifted.z + (free.z - shifted.z) * c.u};
      EXPECT_LT(dist(p3(f.feet[side]), want), 1e-4) << c.timer;
    }
  }
}

// The crash code starts its free feet from the same placement, also when a
// crashed packed state arrives for a rider who was on his bike.
TEST_F(Pose, FreeFeetStartFromThePose) {
  bike->controls.foot_down = 1;
  FootPlacement f = foot_positions(bike, ground);
  crash_rider(bike, nullptr);  // no terrain: the feet stay at peg height
  EXPECT_GT(bike->crash_timer, 0);
  EXPECT_NEAR(bike->free_feet[0].position[0], f.feet[0][0], 1e-5);
  EXPECT_NEAR(bike->free_feet[0].position[1], peg(0).y, 1e-5);

  PackedBikeState crashed = pack_bike_state(bike, ground);
  BikeState *other = build_bike("crf250(2018)", 1, "2", nullptr, nullptr, nullptr, nullptr);
  other->controls.foot_down = 1;
  FootPlacement want = foot_positions(other, ground);
  // An active bike takes the force-driven path; the feet go down to the
  // ground the unpack was given.
  unpack_bike_state_moving(other, crashed, crashed, crashed, 1, ground);
  EXPECT_GT(other->crash_timer, 0);
  for (int side = 0; side < 2; side++)
    EXPECT_LT(dist(p3(other->free_feet[side].position), p3(want.feet[side])), 1e-5);
  EXPECT_NEAR(other->free_feet[0].position[1], ground_level + 0.125, 1e-5);
  destroy_bike(other);
  // A bike at rest posed from history likewise.
  other = build_bike("crf250(2018)", 1, "2", nullptr, nullptr, nullptr, nullptr);
  other->controls.foot_down = 0;
  for (FreeFoot &foot : other->free_feet) foot = FreeFoot{{99, 99, 99}, {0, 0, 0}};
  unpack_bike_state(other, crashed, ground);
  EXPECT_GT(other->crash_timer, 0);
  P3 other_peg = body_point(other->bodies[bike_frame], pose->pegs[1]);
  EXPECT_LT(dist(p3(other->free_feet[1].position), other_peg), 1e-4);
  destroy_bike(other);
}

// The rest model posed for a bike at rest: hands on the grips, feet on the
// pegs, the limbs joined at elbows and knees, every rotation proper.
TEST_F(Pose, RestModelReachesGripsAndPegs) {
  bike->controls.foot_down = 0;
  RiderBones b = rider_bones(bike, ground);
  for (const RiderBone &bone : b.bones) expect_rotation(bone.axes, "bone");
  dBodyID fork = bike->bodies[bike_fork_upper];
  for (int side = 0; side < 2; side++) {
    const float sign = side == 0 ? -1.0f : 1.0f;
    const float *elbow = pose->model_elbows[side], *knee = pose->model_knees[side];
    P3 hand{elbow[0] + sign * pose->forearm, elbow[1], elbow[2]};
    EXPECT_NEAR(hand.x, sign * 2.606, 1e-5);
    EXPECT_NEAR(hand.y, 0.875, 1e-6);
    EXPECT_LT(dist(posed(b.bones[bone_left_forearm + side], hand), body_point(fork, pose->grips[side])), 1e-4);
    P3 foot{knee[0], knee[1] - pose->shin, knee[2]};
    EXPECT_LT(dist(posed(b.bones[bone_left_shin + side], foot), peg(side)), 1e-4);
    // The upper arm ends where the forearm starts, the thigh where the shin does.
    EXPECT_LT(dist(posed(b.bones[bone_left_upper_arm + side], p3(elbow)), p3(b.bones[bone_left_forearm + side].translation)), 1e-4);
    EXPECT_LT(dist(posed(b.bones[bone_left_thigh + side], p3(knee)), p3(b.bones[bone_left_shin + side].translation)), 1e-4);
    // Elbows outward and down of the shoulders, knees ahead of the hips.
    P3 shoulder = p3(b.bones[bone_left_upper_arm + side].translation);
    P3 e = p3(b.bones[bone_left_forearm + side].translation);
    EXPECT_GT(sign * (e.x - shoulder.x), 0);
    EXPECT_LT(e.y, shoulder.y);
    EXPECT_LT(b.bones[bone_left_shin + side].translation[2], hip(side).z);
  }
  // The torso stands on the pelvis along the spine.
  const RiderBone &torso = b.bones[bone_torso];
  P3 spine{0, pose->shoulders[0][1] - pose->hips[0][1], pose->shoulders[0][2] - pose->hips[0][2]};
  EXPECT_NEAR(dot(p3(torso.axes[1]), spine), std::sqrt(dot(spine, spine)), 1e-5);
  // A grip out of reach: the forearm still points at it.
  dBodySetPosition(fork, 0, 2.9, -3);
  b = rider_bones(bike, ground);
  const RiderBone &arm = b.bones[bone_right_forearm];
  P3 grip = body_point(fork, pose->grips[1]);
  P3 to_grip = grip - p3(arm.translation);
  EXPECT_NEAR(dot(to_grip, p3(arm.axes[0])), std::sqrt(dot(to_grip, to_grip)), 1e-4);
  EXPECT_NEAR(dist(p3(arm.translation), p3(b.bones[bone_right_upper_arm].translation)), pose->upper_arm, 1e-4);
}

TEST_F(Pose, HeadLooksAheadWithinLimits) {
  dBodyID rider = bike->bodies[bike_rider];
  HeadPose rest = head_pose(bike);
  expect_rotation(rest.axes, "head at rest");
  P3 pivot = body_point(rider, pose->head_pivot);
  EXPECT_LT(dist(p3(rest.pivot), pivot), 1e-5);
  // The face (-z) looks forward and down, straight ahead.
  EXPECT_GT(rest.axes[2][2], 0.5);
  EXPECT_GT(rest.axes[2][1], 0.2);
  EXPECT_NEAR(rest.axes[2][0], 0, 1e-6);
  // Riding backward the head does not turn round.
  dBodySetLinearVel(rider, 0, 0, 20);
  HeadPose backward = head_pose(bike);
  for (int i = 0; i < 3; i++)
    for (int k = 0; k < 3; k++) EXPECT_NEAR(backward.axes[i][k], rest.axes[i][k], 1e-6);
  // Sliding sideways it turns toward the travel, not all the way, and the
  // same to either side.
  dBodySetLinearVel(rider, -30, 0, 0);
  HeadPose left = head_pose(bike);
  dBodySetLinearVel(rider, 30, 0, 0);
  HeadPose right = head_pose(bike);
  expect_rotation(left.axes, "head turned");
  EXPECT_GT(left.axes[2][0], 0.1);  // the back of the head turns away from the travel
  EXPECT_GT(left.axes[2][2], 0.1);  // the face still looks partly forward
  for (int i = 0; i < 3; i++) {
    EXPECT_NEAR(left.axes[i][0], (i == 0 ? 1 : -1) * right.axes[i][0], 1e-5);
    EXPECT_NEAR(left.axes[i][1], (i == 0 ? -1 : 1) * right.axes[i][1], 1e-5);
    EXPECT_NEAR(left.axes[i][2], (i == 0 ? -1 : 1) * right.axes[i][2], 1e-5);
  }
}
