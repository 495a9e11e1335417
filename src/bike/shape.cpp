#include "bike/shape.h"

#include <cmath>
#include <cstring>

#include "app/alloc.h"
#include "assets/file.h"
#include "platform/log.h"

namespace {

// Loaded shapes, from the first request to free_shapes at program end.
CollisionShape **cache;
int cache_count;
int cache_capacity;

bool finite_all(const ShapeSphere &s) {
  const float v[7] = {s.centre[0], s.centre[1], s.centre[2], s.radius,
                      s.friction,  s.stiffness, s.damping};
  for (float x : v)
    if (!std::isfinite(x)) return false;
  return true;
}

bool sphere_sane(const ShapeSphere &s) {
  if (!finite_all(s) || s.radius < 0 || s.stiffness < 0 || s.damping < 0 || s.friction < 0) return false;
  for (float c : s.centre)
    if (std::fabs(c) > max_shape_extent) return false;
  return s.radius <= max_shape_extent;
}

// Reads the file into a new shape; null on any failure.
CollisionShape *read_shape(const char *name) {
  DataFile *file = dfile_open(name, "rb");
  if (!file) return nullptr;
  int count = -1;
  if (dfile_scanf(file, "%d", &count) != 1) {
    hovl_log("Shape file %s: no sphere count\n", name);
    dfile_close(file);
    return nullptr;
  }
  if (count < 0 || count > max_shape_spheres) {
    hovl_log("Shape file %s: bad sphere count %d\n", name, count);
    dfile_close(file);
    return nullptr;
  }
  ShapeSphere *spheres = nullptr;
  if (count > 0)
    spheres = static_cast<ShapeSphere *>(alloc_or_die(sizeof(ShapeSphere) * static_cast<size_t>(count)));
  float bound = 0;
  for (int i = 0; i < count; i++) {
    ShapeSphere &s = spheres[i];
    bool ok = dfile_scanf(file, "%f", &s.centre[0]) == 1 && dfile_scanf(file, "%f", &s.centre[1]) == 1 &&
              dfile_scanf(file, "%f", &s.centre[2]) == 1 &&
              dfile_scanf(file, "%f %f %f %f", &s.radius, &s.friction, &s.stiffness, &s.damping) == 4;
    if (!ok) hovl_log("Shape file %s: sphere %d of %d is incomplete\n", name, i + 1, count);
    // Non-finite numbers, negative sizes or absurd distances would poison
    // the contact solver.
    if (ok && !sphere_sane(s)) {
      hovl_log("Shape file %s: sphere %d has bad values\n", name, i + 1);
      ok = false;
    }
    if (!ok) {
      tracked_free(spheres);
      dfile_close(file);
      return nullptr;
    }
    float r = std::sqrt(s.centre[0] * s.centre[0] + s.centre[1] * s.centre[1] + s.centre[2] * s.centre[2]) +
              s.radius;
    if (r > bound) bound = r;
  }
  dfile_close(file);
  CollisionShape *shape = static_cast<CollisionShape *>(alloc_or_die(sizeof(CollisionShape)));
  shape->name = intern_string(name);
  shape->sphere_count = count;
  shape->spheres = spheres;
  shape->template_shape = nullptr;
  shape->bounding_radius = bound;
  shape->placed = 0;
  memset(shape->placed_pose, 0, sizeof shape->placed_pose);
  return shape;
}

}  // namespace

const CollisionShape *load_shape(const char *name) {
  if (!name || !name[0]) return nullptr;
  for (int i = 0; i < cache_count; i++)
    if (strcmp(cache[i]->name, name) == 0) return cache[i];
  CollisionShape *shape = read_shape(name);
  if (!shape) return nullptr;
  grow_array(cache, cache_count, cache_capacity);
  cache[cache_count++] = shape;
  return shape;
}

CollisionShape *copy_shape(const char *name) {
  const CollisionShape *loaded = load_shape(name);
  if (!loaded) return nullptr;
  CollisionShape *copy = static_cast<CollisionShape *>(alloc_or_die(sizeof(CollisionShape)));
  *copy = *loaded;
  copy->template_shape = loaded;
  copy->placed = 0;
  copy->spheres = nullptr;
  if (loaded->sphere_count > 0) {
    size_t bytes = sizeof(ShapeSphere) * static_cast<size_t>(loaded->sphere_count);
    copy->spheres = static_cast<ShapeSphere *>(alloc_or_die(bytes));
    memcpy(copy->spheres, loaded->spheres, bytes);
  }
  return copy;
}

void free_shape_instance(CollisionShape *instance) {
  if (!instance) return;
  tracked_free(instance->spheres);
  tracked_free(instance);
}

void free_shapes() {
  for (int i = 0; i < cache_count; i++) {
    tracked_free(cache[i]->spheres);
    tracked_free(cache[i]);
  }
  tracked_free(cache);
  cache = nullptr;
  cache_count = 0;
  cache_capacity = 0;
}

const char *shape_name(const CollisionShape *shape) { return shape ? shape->name : nullptr; }
float shape_bounding_radius(const CollisionShape *shape) { return shape ? shape->bounding_radius : 0; }

void shape_sphere_centre(const CollisionShape *shape, int i, float centre[3]) {
  bool valid = shape && i >= 0 && i < shape->sphere_count;
  for (int k = 0; k < 3; k++) centre[k] = valid ? shape->spheres[i].centre[k] : 0;
}

float shape_sphere_radius(const CollisionShape *shape, int i) {
  if (!shape || i < 0 || i >= shape->sphere_count) return 0;
  return shape->spheres[i].radius;
}
