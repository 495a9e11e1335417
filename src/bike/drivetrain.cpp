#include "bike/drivetrain.h"

#include <cmath>

#include "app/types.h"

namespace {

constexpr float quarter_pi = 0.7853982f;
constexpr double pi = 3.14159265358979323846;

inline float clampf(float v, float lo, float hi) { return !(v > lo) ? lo : (v > hi ? hi : v); }

inline float wheel_slip_squared(const WheelContact &w) {
  return w.velocity[0] * w.velocity[0] + w.velocity[1] * w.velocity[1] + w.velocity[2] * w.velocity[2];
}

void automatic_shift(BikeState *bike, const BikeInfo *info, float wheel_rate, int tic) {
  if (!(bike->aid_flags & aid_auto_shift) || (tic & 31) != 0) return;
  if (!(dJointGetHingeAngle(bike->joints[joint_swingarm]) < -0.01)) return;
  const WheelContact &rear = bike->wheels[1];
  if (rear.depth > 0 && wheel_slip_squared(rear) > 4) return;
  float rpm = overall_ratio(bike) * wheel_rate * static_cast<float>(rads_to_rpm);
  int gear = bike->controls.gear;
  if (rpm < info->downshift_rpm)
    gear--;
  else if (rpm > info->upshift_rpm)
    gear++;
  else
    return;
  bike->controls.gear = bike_select_gear(info, gear);
}

void set_brake(dJointID axle, float torque) {
  dJointSetHingeParam(axle, dParamVel, 0);
  dJointSetHingeParam(axle, dParamFMax, torque);
}

}  // namespace

float overall_ratio(const BikeState *bike) {
  const BikeInfo *info = bike_info(bike->model);
  int g = bike->controls.gear;
  if (g < 0) g = 0;
  if (g >= bike_gear_count) g = bike_gear_count - 1;
  return info->gear_ratios[g] * info->primary_ratio * bike->final_drive;
}

float engine_torque(const BikeState *bike) {
  float torque = bike_torque_lookup(bike_info(bike->model), bike->engine_speed, bike->controls.throttle);
  if ((bike->aid_flags & aid_stop_wheelie) && bike->wheels[0].depth == 0 && bike->wheels[1].depth > 0 &&
      torque > 0) {
    dVector3 w;
    dBodyVectorFromWorld(bike->bodies[bike_frame], dBodyGetAngularVel(bike->bodies[bike_frame])[0],
                         dBodyGetAngularVel(bike->bodies[bike_frame])[1],
                         dBodyGetAngularVel(bike->bodies[bike_frame])[2], w);
    if (w[0] > -0.03125) torque = 0;
  }
  return torque;
}

float auto_clutch_engagement(float omega, float auto_clutch_rpm, float lever) {
  float rpm = omega * static_cast<float>(rads_to_rpm);
  if (rpm <= auto_clutch_rpm + 2000) return std::fmin(lever, clampf((rpm - auto_clutch_rpm) / 2000, 0, 1));
  return lever;
}

void drivetrain_step(BikeState *bike, int tic) {
  const BikeInfo *info = bike_info(bike->model);
  const float h = static_cast<float>(seconds_per_tic);
  dJointID rear_axle = bike->joints[joint_rear_axle];
  float theta = static_cast<float>(dJointGetHingeAngle(rear_axle));
  float theta_rate = static_cast<float>(dJointGetHingeAngleRate(rear_axle));

  automatic_shift(bike, info, theta_rate, tic);
  float N = overall_ratio(bike);
  float engine = engine_torque(bike);

  float windup = bike->driveline_angle - theta;
  if (windup > pi)
    windup -= static_cast<float>(2 * pi);
  else if (windup < -pi)
    windup += static_cast<float>(2 * pi);

  float lever = bike->controls.clutch;
  float e = auto_clutch_engagement(bike->engine_speed, bike->auto_clutch_rpm, lever);
  float damping = clampf((bike->engine_speed - N * theta_rate) * info->driveline_damping, -500, 500);
  float Q = info->driveline_stiffness * windup + damping;
  if (Q < 0) e = lever;  // engine braking ignores the automatic clutch
  Q = clampf(Q, -1000000, 1000000);

  // The clutch slips once the wind-up passes e x 45 degrees.
  if (windup > e * quarter_pi)
    bike->driveline_angle = theta + e * quarter_pi;
  else if (windup < -e * quarter_pi)
    bike->driveline_angle = theta - e * quarter_pi;

  float tau = e * e * Q;
  dBodyAddRelTorque(bike->bodies[bike_rear_wheel], -tau, 0, 0);
  dBodyAddRelTorque(bike->bodies[bike_frame], tau, 0, 0);

  if (N != 0) bike->engine_speed += h * (engine - tau / N) / bike->engine_inertia;
  if (!std::isfinite(bike->engine_speed)) bike->engine_speed = 0;
  float phi = bike->driveline_angle + (N != 0 ? h * bike->engine_speed / N : 0);
  // fmod keeps a runaway value from looping for long.
  if (!(std::fabs(phi) <= 64 * pi)) phi = std::isfinite(phi) ? static_cast<float>(std::fmod(phi, 2 * pi)) : 0;
  while (phi > pi) phi -= static_cast<float>(2 * pi);
  while (phi < -pi) phi += static_cast<float>(2 * pi);
  bike->driveline_angle = phi;

  // Brakes; antilock lets go of a touching wheel that slides.
  const WheelContact &front = bike->wheels[0], &rear = bike->wheels[1];
  float front_limit = bike->front_brake_torque * bike->controls.front_brake;
  if ((bike->aid_flags & aid_front_antilock) && front.depth > 0 && wheel_slip_squared(front) > 4) front_limit = 0;
  if ((bike->aid_flags & aid_stop_stoppie) && front.depth > 0 && !(rear.depth > 0)) front_limit = 0;
  set_brake(bike->joints[joint_front_axle], front_limit);
  float rear_limit = bike->rear_brake_torque * bike->controls.rear_brake;
  if ((bike->aid_flags & aid_rear_antilock) && rear.depth > 0 && wheel_slip_squared(rear) > 4) rear_limit = 0;
  set_brake(rear_axle, rear_limit);
}
