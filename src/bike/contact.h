// Tyre-ground contact. Each wheel is a torus (ring radius R about the axle,
// tube radius r) tested against the height field's triangles; the deepest
// penetration becomes one soft ODE contact joint whose stiffness grows with
// the cube of the tyre's squash, with grip from the surface under it and a
// rolling-resistance force against the contact point's sliding.
// Units: feet, slugs, lbf, seconds; +y up.
#pragma once
#include "bike/bike.h"

struct Terrain;
struct Tile;

// Result of one torus-triangle test, single precision as the test works.
struct TorusHit {
  float depth;  // > 0 when the tyre penetrates the triangle
  float point[3];
  float normal[3];  // separation direction, not always unit length
};

// Torus (centre W, world axle a, ring R, tube r) against triangle T0 T1 T2
// whose (T1 - T0) x (T2 - T0) points out of the ground. `edges` 0 skips the
// edge-and-vertex search (cases that need it report no contact). Always
// finite, also for degenerate triangles. Allocates nothing.
TorusHit torus_triangle(const float W[3], const float a[3], float R, float r, const float T0[3],
                        const float T1[3], const float T2[3], int edges);

// The deepest contact of a torus (centre W, world axle a, ring R, tube r)
// with the terrain's triangles, as wheel_contact finds it before making the
// joint: the deepest triangle, the first one in the walk over the cells
// (rows, then columns, then the two halves) among equally deep ones. Depth 0
// when clear. Allocates nothing.
TorusHit torus_ground_contact(const Terrain *terrain, const float W[3], const float a[3], float R, float r);

// The point of the ring (centre W, axle a, radius R) nearest to p.
void ring_point(const float W[3], const float a[3], float R, const float p[3], float out[3]);

// The tyre's air spring at this depth: stiffness k (lbf/ft) and damping
// (lbf s/ft), both growing with the cube of the squash (depth / tube radius).
struct TyreSoftness {
  float stiffness;
  float damping;
};
TyreSoftness tyre_softness(float depth, float tube_radius);
// A contact normal pointing downward (under an overhang of the mesh) is
// flattened to horizontal, or replaced by straight up; then normalised.
void clean_contact_normal(float normal[3]);

// The surface type under (x, z); a terrain without tiles grips like a tile
// with every property at its default.
const Tile *ground_tile(const Terrain *terrain, float x, float z);

// Tests the wheel against the terrain: fills the record and, when it touches,
// adds one contact joint to the world's contact group and the rolling
// resistance to the wheel body. Returns 1 when touching.
int wheel_contact(const Terrain *terrain, WheelContact *wheel, float friction_scale);

struct WheelQuery {
  int touched;
  float point[3];
  float normal[3];
  float depth;
};
// The same cells without the edge-and-vertex search, stopping at the first
// penetrating triangle; no joint, no force, the record is left unchanged.
WheelQuery wheel_contact_query(const Terrain *terrain, const WheelContact *wheel);

// Friction scale of this tic: 1, reduced with lean in arcade physics.
float bike_friction_scale(const BikeState *bike);

// Front wheel, rear wheel, then the part shapes (through the shape contact
// hook below) against the current terrain. Returns 1 if anything touched.
int bike_terrain_contacts(BikeState *bike, const Terrain *terrain);

// The shape-against-terrain contacts of the frame, fork upper, fork lower,
// swingarm and rider, called after both wheels. Null until the collision
// code installs its function; returns 1 if any shape touched.
using ShapeTerrainHook = int (*)(BikeState *bike, const Terrain *terrain);
void set_shape_terrain_hook(ShapeTerrainHook hook);

// Lifts each bike just clear of the ground: up 0.125 ft, then 0.25 ft at a
// time while anything touches, then down 0.125 ft. The contact group is
// emptied after every probe and once more at the end.
void place_bikes_on_ground(BikeState *const *bikes, int count, const Terrain *terrain);
