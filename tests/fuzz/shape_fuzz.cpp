// The collision shape reader over arbitrary file contents; a shape it accepts
// can be placed in the world without producing non-finite spheres.
// Seeds: tests/fuzz/corpus/shape.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bike/collide.h"
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
    // Placed anywhere on a track, every sphere stays finite.
    ShapePose pose = {{4096, -100, 4096}, {0.6f, 0, 0.8f, 0, 1, 0, -0.8f, 0, 0.6f}};
    place_shape(copy, pose);
    for (int i = 0; i < copy->sphere_count; i++) {
      const ShapeSphere &sp = copy->spheres[i];
      if (!std::isfinite(sp.centre[0] + sp.centre[1] + sp.centre[2] + sp.radius)) abort();
      if (!(sp.radius >= 0 && sp.radius <= max_shape_extent)) abort();
    }
    free_shape_instance(copy);
  }
  free_shapes();
  return 0;
}
