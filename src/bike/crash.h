// Dabbing, crashes and recovery. The rider puts a foot down to hold the bike
// up at low speed (or the program does it for him when stopped), walks it
// backward, and comes off when the forces on his body grow too large: the
// rider joint is detached, his body flies free tethered by the hands to the
// bars while it still moves, the crash timer counts down, tethers draw him
// back to the seat and he is joined to the bike again. The two feet are
// points with their own velocity, kept on the pose while riding and
// simulated while the rider is down. Units: feet, seconds, tics, radians.
#pragma once
#include "bike/bike.h"
#include "bike/bike_step.h"
#include "bike/pose.h"

constexpr int crash_time = 512;               // tics the rider stays off, plus the extra time
constexpr int crash_realign_tics = 511;        // tethers draw him home from here down
constexpr int extra_crash_time_slots = 16;
constexpr int max_extra_crash_time = 460800;   // one hour
constexpr float crash_slip_limit = 31;         // ft/s, times the tolerance
constexpr float crash_jolt_limit = 1376;       // ft/s^2, times the tolerance

// The extra crash times the race server sets (index = crash count, capped
// at 15), each clamped to 0 ... max_extra_crash_time. Process lifetime.
void set_extra_crash_time(int index, int tics);
int extra_crash_time(int index);

// Throws the rider off: detaches the rider joint, starts the free feet from
// the pose, sets the crash timer and counts the crash. Nothing while crashed.
void crash_rider(BikeState *bike, const Terrain *terrain);

// Crash detection while riding; the crashed rider's tethers, timer and
// realignment while down.
void crash_check(BikeState *bike, const PhysicsTic &now);
// Dab when stopped and back up; may override the brakes and dab for this tic.
void auto_dab(BikeState *bike, const PhysicsTic &now);
void back_up(BikeState *bike, const PhysicsTic &now);
// The foot-down level, the forces that hold a dabbing bike up and the
// auto-align that turns a fallen bike toward the track.
void foot_down_step(BikeState *bike, const PhysicsTic &now);
// The two free feet.
void feet_step(BikeState *bike, const PhysicsTic &now);

// The race answers a few questions for the auto-align after a fall. Any
// null member is answered "no" (which keeps auto-align off).
struct CrashRaceQueries {
  int (*track_has_gates)();
  int (*timing_position)(const BikeState *bike);  // gates passed
  int (*rider_finished)(BikeState *bike);
  // A point ahead on the best recorded line; 0 when there is none.
  int (*line_target)(const BikeState *bike, float target[3]);
};
void set_crash_race_queries(const CrashRaceQueries &queries);
// A line target for tracks without recorded lines: the centre of the gate at
// sequence position `next_gate`. Returns 0 when the track has no gates.
int next_gate_target(int next_gate, float target[3]);

// Installs the shape-terrain contacts and the dabbing and crash steps into
// the bike's physics step. Called once at start-up.
void install_crash_hooks();

// Both free feet from the pose (where the drawn feet are) with the rider
// body's point velocities there.
void free_feet_from_pose(BikeState *bike, const PackTerrain &ground);
PackTerrain ground_of(const Terrain *terrain);

// tether(A, a in A's frame, B, b in B's frame, L): a soft contact that keeps
// the two points within L of each other. A may be the only body.
void tether(dBodyID a, const float pa[3], dBodyID b, const float pb[3], float length);
// Pushes the body toward a target velocity with at most `force` lbf.
void push_toward(dBodyID body, const float target[3], float force);
