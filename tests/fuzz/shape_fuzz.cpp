// The collision shape reader over arbitrary file contents.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bike/shape.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = "/tmp/torvane-shape-fuzz-" + std::to_string(getpid()) + ".shp";
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  const CollisionShape *shape = load_shape(path.c_str());
  if (shape) {
    if (shape->sphere_count < 0 || shape->sphere_count > max_shape_spheres) abort();
    if (!std::isfinite(shape->bounding_radius)) abort();
    CollisionShape *copy = copy_shape(path.c_str());
    if (!copy || copy->sphere_count != shape->sphere_count) abort();
    free_shape_instance(copy);
  }
  free_shapes();
  return 0;
}
