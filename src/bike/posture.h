// Rider posture, steering and stability aids. The rider body is held on the
// bike by soft springs whose rest point moves with the lean and sit inputs.
// The bars are steered by a torque about the steering axis: a direct part from
// the steer input and a stabilising part that damps roll, levels the bike and
// limits the lean; the arcade variant leans the bike with a roll motor instead.
// Angles in radians, torques in lbf ft, speeds in ft/s.
#pragma once
#include "bike/bike.h"

struct Terrain;

// Lean of the frame, positive when leaning to the left.
float lean_angle(const BikeState *bike);
// Roll rate in the frame's axes (z component); positive raises the lean.
float roll_rate(const BikeState *bike);
// Front tyre slip angle (0 below 1 ft/s).
float front_slip_angle(const BikeState *bike);
// The steering model's lock angle at front wheel speed vf on ground whose
// first friction value is mu0.
float steering_lock(const BikeState *bike, float vf, float mu0);

// The soft springs that hold the rider on the bike (joints go to the world's
// contact group) and the damper of the rider joint.
void rider_posture_step(BikeState *bike);
// Standard or arcade steering and stability, by the bike's arcade flag.
void steering_step(BikeState *bike, const Terrain *terrain);
// Damps every rotation of the front wheel that is not its spin.
void steering_damping_step(BikeState *bike);
// Cancels the net force and torque the joints' error correction put into
// the bike during the last world step.
void joint_drift_cancellation(BikeState *bike);
