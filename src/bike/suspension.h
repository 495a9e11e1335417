// Fork and shock. Neither joint has a spring of its own: once per tic the
// force of the fork (steel spring with preload, air spring, two-stage damper)
// and the torque of the shock (steel spring through the rising-rate linkage,
// two-stage damper) are handed to the joints as motors that drive toward
// extension with that force as their limit. Forces in lbf, torques in lbf ft.
#pragma once
#include "bike/bike.h"

// Damper force for speed u (negative while compressing), lbf; 0 at rest.
float two_stage_damper(float u, const SuspensionValues &values);
// Fork force at slider position p (0 extended .. -travel) and rate v.
float fork_force(const SuspensionValues &fork, float travel, float p, float v);
// Shock torque on the swingarm hinge at angle theta (0 .. -travel), rate w.
float shock_torque(const BikeState *bike, float theta, float w);

// Sets both joint motors for this tic.
void suspension_step(BikeState *bike);

// Telemetry for the suspension graph.
struct SuspensionReading {
  float fork_fraction;  // 0 extended .. 1 bottomed
  float fork_rate;      // ft/s
  float fork_blend;     // low-speed share of the damping, 0..1
  float shock_fraction;
  float shock_rate;     // shock compression speed, ft/s
  float shock_blend;
};
SuspensionReading suspension_reading(const BikeState *bike);
