// Collision shapes: small sets of spheres fixed to one rigid body.
//
// A ".shp" file is plain text: a whole number N, then N records of seven
// numbers: the centre x, y, z in the body's frame (feet), the radius (feet),
// the friction coefficient, the stiffness (lbf/ft) and the damping
// (lbf s/ft). Any failed conversion rejects the whole file.
#pragma once
#include <cstdint>

constexpr int max_shape_spheres = 4096;
// No sphere centre or radius of a shape reaches this far (feet); larger values
// are taken as a corrupt file.
constexpr float max_shape_extent = 4096;

struct ShapeSphere {
  float centre[3];
  float radius;
  float friction;
  float stiffness;
  float damping;
};

struct CollisionShape {
  const char *name;  // interned
  int32_t sphere_count;
  ShapeSphere *spheres;
  const CollisionShape *template_shape;  // none in a loaded shape
  float bounding_radius;
  // An instance remembers the pose (position, then row-major rotation) its
  // spheres were last placed at: a shape is often tested against several
  // others in the same pose, and placing it again would change nothing.
  int32_t placed;
  float placed_pose[12];
};

// The cached shape of that name, else read from the file and cached; null
// when the file is missing or malformed (nothing is cached then).
const CollisionShape *load_shape(const char *name);
// A private copy of a loaded shape that a user may place in the world.
CollisionShape *copy_shape(const char *name);
void free_shape_instance(CollisionShape *instance);
// Frees every cached shape (program end).
void free_shapes();

const char *shape_name(const CollisionShape *shape);
float shape_bounding_radius(const CollisionShape *shape);
// Sphere i's centre (zero past the count) and radius (0 past the count).
void shape_sphere_centre(const CollisionShape *shape, int i, float centre[3]);
float shape_sphere_radius(const CollisionShape *shape, int i);
