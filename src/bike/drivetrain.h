// Engine, clutch, gearbox, driveline and brakes. The engine is one rotational
// degree of freedom (engine speed, rad/s) integrated here once per tic and
// coupled to the rear wheel by a torsional spring-damper standing for clutch,
// gearbox and chain; the coupling torque acts on the rear wheel and, reversed,
// on the frame. The brakes are motors on the axle hinges. Torques in lbf ft.
#pragma once
#include "bike/bike.h"

// Engine torque at the current engine speed and throttle, with the
// stop-wheelies cut applied.
float engine_torque(const BikeState *bike);
// Clutch engagement after the automatic clutch (0..1) at engine speed omega.
float auto_clutch_engagement(float omega, float auto_clutch_rpm, float lever);
// Overall ratio engine : rear wheel in the current gear.
float overall_ratio(const BikeState *bike);

// One tic of shifting, clutch, coupling, engine speed and brakes. `tic` is the
// race's tic counter (automatic shifts happen on multiples of 32).
void drivetrain_step(BikeState *bike, int tic);
