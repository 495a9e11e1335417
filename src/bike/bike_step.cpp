#include "bike/bike_step.h"

#include <cmath>

#include "app/types.h"
#include "bike/assembly.h"
#include "bike/contact.h"
#include "bike/drivetrain.h"
#include "bike/posture.h"
#include "bike/suspension.h"

namespace {

// Installed by the dabbing and crash code; lives for the process.
CrashHooks crash_hooks{};

double speed_squared(dBodyID body) {
  const dReal *v = dBodyGetLinearVel(body);
  return v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
}

void air_time(BikeState *bike, int tic) {
  if (bike->wheels[0].depth > 0 || bike->wheels[1].depth > 0) {
    if (bike->landing_tic < bike->take_off_tic) bike->landing_tic = tic;
  } else if (dBodyGetLinearVel(bike->bodies[bike_frame])[1] < 0 && bike->take_off_tic <= bike->landing_tic) {
    bike->take_off_tic = tic;
  }
}

}  // namespace

void set_crash_hooks(const CrashHooks &hooks) { crash_hooks = hooks; }

void bike_physics_step(BikeState *bike, const PhysicsTic &now) {
  if (!bike_is_active(bike)) {
    if (crash_hooks.feet_step) crash_hooks.feet_step(bike, now);
    return;
  }
  dBodyID frame = bike->bodies[bike_frame];
  if (now.tic - now.start_tic > 2 * tics_per_second && speed_squared(frame) < 25) bike->stopped = 1;
  bike->collision_timer = bike->collision_timer <= 1 ? 0 : bike->collision_timer - 1;
  air_time(bike, now.tic);
  if (crash_hooks.crash_check) crash_hooks.crash_check(bike, now);

  // Dabbing may override these inputs for this tic only.
  float front_brake = bike->controls.front_brake, rear_brake = bike->controls.rear_brake;
  float dab = bike->controls.dab;
  if (crash_hooks.auto_dab_and_back_up) crash_hooks.auto_dab_and_back_up(bike, now);

  if (bike->crash_timer <= 0) rider_posture_step(bike);
  suspension_step(bike);
  steering_step(bike, now.terrain);
  drivetrain_step(bike, now.tic);
  steering_damping_step(bike);
  if (now.tic - now.start_tic >= 2 && bike->crash_timer <= 0) joint_drift_cancellation(bike);
  if (crash_hooks.foot_down_step) crash_hooks.foot_down_step(bike, now);

  bike->controls.front_brake = front_brake;
  bike->controls.rear_brake = rear_brake;
  bike->controls.dab = dab;
  if (crash_hooks.feet_step) crash_hooks.feet_step(bike, now);
  const dReal *v = dBodyGetLinearVel(bike->bodies[bike_rider]);
  float *slot = bike->rider_velocity_history[now.tic & 3];
  for (int k = 0; k < 3; k++) slot[k] = static_cast<float>(v[k]);
}

void bike_sim_tic(BikeState *const *bikes, int count, const PhysicsTic &now) {
  for (int i = 0; i < count; i++)
    if (bikes[i] && bike_is_active(bikes[i])) bike_terrain_contacts(bikes[i], now.terrain);
  physics_world_step();
  for (int i = 0; i < count; i++)
    if (bikes[i]) bike_physics_step(bikes[i], now);
}
