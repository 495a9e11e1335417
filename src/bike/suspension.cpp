#include "bike/suspension.h"

#include <cmath>

namespace {

inline float clampf(float v, float lo, float hi) { return !(v > lo) ? lo : (v > hi ? hi : v); }

// Low-speed share of a damper at speed u with the catalogue bases.
float blend(float u, float high_c, float low_c, float high_r, float low_r) {
  float denominator = u < 0 ? -u * high_c + low_c : u * high_r + low_r;
  float low = u < 0 ? low_c : low_r;
  return denominator != 0 ? low / denominator : 1;
}

}  // namespace

float two_stage_damper(float u, const SuspensionValues &s) {
  if (u < 0) {
    float base = -u * s.compression;
    return clampf(base + s.slow_compression, base * 0.125f, base * 8);
  }
  float base = -u * s.rebound;
  return clampf(base - s.slow_rebound, base * 8, base * 0.125f);
}

float fork_force(const SuspensionValues &fork, float travel, float p, float v) {
  float s = clampf(-p, 0, travel);
  float L = travel + fork.air_gap;
  float air = L - s > 0 ? 82.4616928100586f * (std::pow(L / (L - s), 1.399999976158142f) - 1) : 0;
  float force = air + two_stage_damper(v, fork) + (fork.preload - p) * fork.spring_rate;
  // The force fades out over the first 1/32 of the travel so the fork
  // settles softly on its top stop.
  return force * clampf(p / (-travel * 0.03125f), 0, 1);
}

float shock_torque(const BikeState *bike, float theta, float w) {
  const BikeInfo *info = bike_info(bike->model);
  float travel = info->swingarm_travel;
  LinkagePoint link = bike_linkage(info, clampf(-theta / travel, 0, 1));
  float force = (link.compression + bike->shock.preload) * bike->shock.spring_rate +
                two_stage_damper(w * link.slope, bike->shock);
  return force * link.slope * clampf(theta / (-travel * 0.03125f), 0, 1);
}

void suspension_step(BikeState *bike) {
  const BikeInfo *info = bike_info(bike->model);
  dJointID fork = bike->joints[joint_fork], swingarm = bike->joints[joint_swingarm];
  float p = static_cast<float>(dJointGetSliderPosition(fork));
  float v = static_cast<float>(dJointGetSliderPositionRate(fork));
  float force = fork_force(bike->fork, info->fork_travel, p, v);
  // The damper can hold the fork but never pull it in: a negative force
  // becomes a motor holding the joint still. A motor driving toward
  // extension at 100 ft/s never reaches its speed, so it always pushes with
  // its full limit; that push is handed over as a plain force, which costs
  // the world step one solver row less per joint.
  if (force >= 0) {
    dJointSetSliderParam(fork, dParamFMax, 0);
    dJointAddSliderForce(fork, force);
  } else {
    dJointSetSliderParam(fork, dParamVel, 0);
    dJointSetSliderParam(fork, dParamFMax, -force);
  }

  float theta = static_cast<float>(dJointGetHingeAngle(swingarm));
  float w = static_cast<float>(dJointGetHingeAngleRate(swingarm));
  float torque = shock_torque(bike, theta, w);
  if (torque >= 0) {
    dJointSetHingeParam(swingarm, dParamFMax, 0);
    dJointAddHingeTorque(swingarm, torque);
  } else {
    dJointSetHingeParam(swingarm, dParamVel, 0);
    dJointSetHingeParam(swingarm, dParamFMax, -torque);
  }
}

SuspensionReading suspension_reading(const BikeState *bike) {
  const BikeInfo *info = bike_info(bike->model);
  SuspensionReading out{};
  float p = static_cast<float>(dJointGetSliderPosition(bike->joints[joint_fork]));
  out.fork_rate = static_cast<float>(dJointGetSliderPositionRate(bike->joints[joint_fork]));
  out.fork_fraction = info->fork_travel > 0 ? -p / info->fork_travel : 0;
  out.fork_blend = blend(out.fork_rate, info->fork_compression, info->fork_slow_compression, info->fork_rebound,
                         info->fork_slow_rebound);
  float theta = static_cast<float>(dJointGetHingeAngle(bike->joints[joint_swingarm]));
  float w = static_cast<float>(dJointGetHingeAngleRate(bike->joints[joint_swingarm]));
  out.shock_fraction = info->swingarm_travel > 0 ? clampf(-theta / info->swingarm_travel, 0, 1) : 0;
  out.shock_rate = w * bike_linkage(info, out.shock_fraction).slope;
  out.shock_blend = blend(out.shock_rate, info->shock_compression, info->shock_slow_compression,
                          info->shock_rebound, info->shock_slow_rebound);
  return out;
}
