// Contacts of the collision shapes: sphere pairs, shape against shape, shape
// against another bike's tyre, shape against the terrain, bike against the
// trackside objects (found through a coarse grid over the track) and bike
// against bike. An overlap becomes a soft ODE contact joint, a direct
// spring-damper force pair, or only a report, by the mode given.
// Units: feet, slugs, lbf, seconds.
#pragma once
#include <ode/ode.h>

#include "app/types.h"
#include "bike/bike.h"
#include "bike/shape.h"

struct Terrain;

// Contact modes, the last argument of every pair test.
constexpr int contact_query = -1;  // only report the overlap
constexpr int contact_joint = 0;   // one soft contact joint per sphere pair
constexpr int contact_force = 1;   // a spring-damper force pair on the bodies

// The stiffness times depth of any sphere pair never exceeds this (lbf);
// force mode never pushes harder than the force limit.
constexpr float max_sphere_spring_force = 2500;
constexpr float max_sphere_force = 1000;

// Where a shape's body stands: position and row-major 3 x 3 rotation.
struct ShapePose {
  float position[3];
  float rotation[9];
};
// A shape instance with the body that carries it (none for a static object)
// and that body's pose.
struct PlacedShape {
  CollisionShape *shape;
  dBodyID body;
  ShapePose pose;
};

ShapePose body_shape_pose(dBodyID body);
// The part's shape instance with its body's current pose (shape may be null).
PlacedShape bike_part_shape(BikeState *bike, int part);
// Writes the world centres of the instance's spheres from its template.
void place_shape(CollisionShape *instance, const ShapePose &pose);

// Spheres already in world coordinates. Fills `record` (point, velocity of
// body 1 there, normal from sphere 1 toward sphere 2, depth) when given.
int sphere_contact(const ShapeSphere &s1, dBodyID b1, const ShapeSphere &s2, dBodyID b2, int mode,
                   WheelContact *record);
int shape_shape_contacts(const PlacedShape &a, const PlacedShape &b, int mode);
// A shape against a tyre of some bike (a torus around the wheel's axle); a
// wheel without ground contact this tic takes the deepest overlap as its
// contact.
int shape_wheel_contacts(const PlacedShape &s, WheelContact *wheel, int mode);
int shape_terrain_contacts(const PlacedShape &s, const Terrain *terrain);
// Every part of `bike` against the shape; returns the bike's part mask.
// With `front_query` the front wheel and forks only report.
int shape_bike_contacts(BikeState *bike, const PlacedShape &s, int mode, int front_query);
// The bike against one trackside object (joints); a fast hit on the rider
// throws him off. Returns the bike's part mask.
int bike_object_contacts(BikeState *bike, const PlacedShape &object);
// A against B at tic `tic` (A the faster); returns B's part mask. `remote`
// keeps B's front wheel and forks from pushing A's other parts.
int bike_bike_contacts(BikeState *a, BikeState *b, int remote, int tic);
// How far from its frame's centre anything of the bike reaches, as the test
// above measures it (kept per slot for the tic): two bikes whose frames lie
// farther apart than the sum of their reaches cannot touch.
float bike_collision_reach(const BikeState *bike, int tic);

// A broad phase for a list of bikes tested pair by pair: each frame's place
// on the ground and its reach (with a margin for rounding). A pair that may
// not touch is farther apart on the ground than its two reaches.
struct PairBounds {
  double x[max_slots], z[max_slots], reach[max_slots];
};
void pair_bounds(BikeState *const *list, int count, int tic, PairBounds *out);
inline bool pair_may_touch(const PairBounds &b, int i, int j) {
  double dx = b.x[i] - b.x[j], dz = b.z[i] - b.z[j], r = b.reach[i] + b.reach[j];
  return dx * dx + dz * dz < r * r;
}

// The shape contacts of frame, fork upper, fork lower, swingarm and rider with
// the terrain, then the upside-down crash and the stopped flag. Installed as
// the hook that bike_terrain_contacts calls after both wheels.
int bike_shape_terrain_contacts(BikeState *bike, const Terrain *terrain);

// Robots forget the lines they picked for their last four gates after a
// bike-to-bike hit; the auto pilot installs this (null: nothing to forget).
void set_collision_line_reset(void (*reset)(BikeState *bike));

// --- Trackside objects --------------------------------------------------------
// The statues (start gates among them) indexed by an 8 x 8 grid of cells over
// the track. Built after a track loads, from the current statues and grid
// positions; lives until the next build or object_grid_free.
constexpr int object_grid_cells = 8;
void object_grid_build(const Terrain *terrain);
void object_grid_free();
int object_grid_count();  // objects with a shape
// A start gate is drawn turned about its x axis as it falls; its shape turns
// with it (radians). The race step sets it each tic for each gate's statue.
void object_set_tilt(int statue, float radians);
// The tilt a start gate's statue stands at now (0 for other statues).
float object_tilt(int statue);
// bike_object_contacts against every object near the bike; each touched
// statue keeps `tic` as its last contact. Returns the OR of the masks.
int object_contacts_near(BikeState *bike, int tic);
// For a bike driven from history: only reports which start gates it touches
// and stamps them. Returns the number of gates touched.
int start_gate_touches(BikeState *bike, int tic);
