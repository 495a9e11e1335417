// The drawn rider pose. The rider is one rigid body in the simulation; for
// drawing, a skinned model with nine bones is posed from the bodies as they
// stand: the arms reach from the shoulders to the grips, the legs from the
// hips to the feet, the torso follows the rider body and the head turns to
// look where the rider is going. The feet sit on the pegs, go down to the
// ground while dabbing and follow the free feet while the rider is down; the
// crash code starts and keeps its free feet from the same placement.
// Nothing is kept between calls. World coordinates, feet, single precision.
#pragma once
#include "bike/bike.h"

// Where the drawn feet are.
struct FootPlacement {
  float feet[2][3];  // left, right (world)
  float weights[2];  // 0 on the pegs .. 1 on the ground or free
};

// One bone of the skinned rider: a model point p is drawn at R (p - C) + T,
// where axes[0..2] are the images of the model's x, y and z axes (the
// columns of R).
struct RiderBone {
  float centre[3];       // C: the bone's pivot in the model at rest
  float translation[3];  // T: where that pivot is now
  float axes[3][3];
};

enum RiderBoneIndex {
  bone_left_forearm,
  bone_right_forearm,
  bone_left_upper_arm,
  bone_right_upper_arm,
  bone_left_shin,
  bone_right_shin,
  bone_left_thigh,
  bone_right_thigh,
  bone_torso,
  rider_bone_count
};

struct RiderBones {
  RiderBone bones[rider_bone_count];
};

// The head model is drawn at the pivot with this rotation.
struct HeadPose {
  float pivot[3];
  float axes[3][3];  // the head's x, y and z axes in the world (columns)
};

// The middle joint of a limb from `start` toward `end` with the two segment
// lengths: the limb never straightens beyond 95 % of its full length and
// bends toward `hint`.
void two_bone_ik(const float start[3], const float end[3], float first, float second, const float hint[3],
                 float joint[3]);

// On the pegs, down on the ground while dabbing (`ground` gives the terrain
// height; without one a dabbing foot stays at peg height), following the
// free feet while crashed.
FootPlacement foot_positions(const BikeState *bike, const PackTerrain &ground);

// The nine bones for the bike's current bodies; the first-person rider
// model takes the same bones.
RiderBones rider_bones(const BikeState *bike, const PackTerrain &ground);

// The head turned toward the direction of travel, within its limits.
HeadPose head_pose(const BikeState *bike);
