// Collision shapes (".shp"): a sphere count, then per sphere its centre in
// the body's own frame, radius, friction, stiffness and damping. The bike's
// shapes follow the bodies the assembly builds (frame at y 1.98, fork upper at
// the steering head, fork lower, swingarm, rider sphere at y 4.5); trackside
// objects have shapes in their own frame with the ground at y 0.
#include <cmath>

#include "databuild.h"

namespace databuild {

namespace {

struct Sphere {
  float x, y, z, radius, friction, stiffness, damping;
};

void add_shape(Archive *archive, const char *name, const Sphere *spheres, int count) {
  Bytes out;
  bytes_printf(&out, "%d\n", count);
  for (int i = 0; i < count; i++) {
    const Sphere &s = spheres[i];
    bytes_printf(&out, "%f %f %f %f %f %f %f\n", s.x, s.y, s.z, s.radius, s.friction, s.stiffness,
                 s.damping);
  }
  archive_add(archive, name, out);
}

// Plastic and metal against plastic: slippery and fairly stiff.
constexpr float bike_mu = 0.5f, bike_k = 5000.0f, bike_c = 100.0f;
// The rider's body gives more and grips more.
constexpr float rider_mu = 0.8f, rider_k = 3000.0f, rider_c = 80.0f;

}  // namespace

void write_shape_files(Archive *archive) {
  // Frame body at (0, 1.98, 3.6): engine cases low, tank and seat above,
  // the rear fender behind. The lowest sphere leaves about a foot of ground
  // clearance with the wheels at rest.
  const Sphere frame[] = {
      {0.0f, -0.45f, -0.35f, 0.5f, bike_mu, bike_k, bike_c},
      {0.0f, 0.35f, -0.55f, 0.45f, bike_mu, bike_k, bike_c},
      {0.0f, 0.45f, 0.45f, 0.4f, bike_mu, bike_k, bike_c},
      {0.0f, 0.55f, 1.35f, 0.35f, bike_mu, bike_k, bike_c},
      {0.0f, -0.2f, 0.6f, 0.35f, bike_mu, bike_k, bike_c},
  };
  add_shape(archive, "generic_frame.shp", frame, 5);

  // Fork upper at the steering head (0, 2.9, 2.16): bar ends near the grips
  // and the bar clamp with the number plate.
  const Sphere fork_upper[] = {
      {-1.0f, 1.1f, 0.72f, 0.22f, bike_mu, bike_k, bike_c},
      {1.0f, 1.1f, 0.72f, 0.22f, bike_mu, bike_k, bike_c},
      {0.0f, 0.75f, 0.35f, 0.35f, bike_mu, bike_k, bike_c},
      {0.0f, 0.05f, -0.2f, 0.3f, bike_mu, bike_k, bike_c},
  };
  add_shape(archive, "generic_fork_upper.shp", fork_upper, 4);

  // Fork lower at (0, 1.77, 1.59): both legs down to the axle at (0, 1.09, 1.11).
  const Sphere fork_lower[] = {
      {-0.42f, -0.5f, -0.36f, 0.18f, bike_mu, bike_k, bike_c},
      {0.42f, -0.5f, -0.36f, 0.18f, bike_mu, bike_k, bike_c},
      {-0.42f, 0.0f, 0.0f, 0.2f, bike_mu, bike_k, bike_c},
      {0.42f, 0.0f, 0.0f, 0.2f, bike_mu, bike_k, bike_c},
  };
  add_shape(archive, "generic_fork_lower.shp", fork_lower, 4);

  // Swingarm at (0, 1.34, 4.99) from the pivot (0, 1.6, 4.08) to the axle (0, 1.04, 6.0).
  const Sphere swingarm[] = {
      {-0.35f, 0.16f, -0.6f, 0.22f, bike_mu, bike_k, bike_c},
      {0.35f, 0.16f, -0.6f, 0.22f, bike_mu, bike_k, bike_c},
      {-0.38f, -0.12f, 0.3f, 0.2f, bike_mu, bike_k, bike_c},
      {0.38f, -0.12f, 0.3f, 0.2f, bike_mu, bike_k, bike_c},
  };
  add_shape(archive, "generic_swingarm.shp", swingarm, 4);

  // Rider body at (0, 4.5, 4.12): torso, head (its pivot at (0, 0.81, -0.94)),
  // hips over the seat, and the shoulders.
  const Sphere rider[] = {
      {0.0f, 0.1f, -0.3f, 0.7f, rider_mu, rider_k, rider_c},
      {0.0f, 1.05f, -0.95f, 0.45f, rider_mu, rider_k, rider_c},
      {0.0f, -0.6f, 0.45f, 0.55f, rider_mu, rider_k, rider_c},
      {-0.5f, 0.55f, -0.65f, 0.3f, rider_mu, rider_k, rider_c},
      {0.5f, 0.55f, -0.65f, 0.3f, rider_mu, rider_k, rider_c},
  };
  add_shape(archive, "generic_rider.shp", rider, 5);

  // Wheels: a ring of spheres over the tyre (ring radius 0.83 front, 0.75 rear,
  // tube 0.33), in the wheel's own y-z plane, and the hub.
  for (int wheel = 0; wheel < 2; wheel++) {
    float ring = wheel == 0 ? 0.8333333f : 0.75f;
    Sphere spheres[9];
    for (int i = 0; i < 8; i++) {
      float a = static_cast<float>(i) * 0.78539816f;
      spheres[i] = {0.0f, ring * std::cos(a), ring * std::sin(a), 0.38f, 0.9f, 5000.0f, 150.0f};
    }
    spheres[8] = {0.0f, 0.0f, 0.0f, 0.5f, bike_mu, bike_k, bike_c};
    add_shape(archive, wheel == 0 ? "front_wheel.shp" : "rear_wheel.shp", spheres, 9);
  }

  // The start gate: a bar across the lane on a long arm whose pivot lies deep
  // under the ground (the grid places the gate's origin gate_pivot_depth
  // below it). The shape is the dropped gate: the bar lies under the ground
  // ahead of the lane. The race raises a gate by turning it 0.5890486 rad
  // about its x axis, which swings the bar up to stand three feet ahead of
  // the bike at the height of the front tyre, so a rider leaning on it holds
  // it; dropping, it swings forward and down, away from the riders.
  constexpr float raised = 0.5890486f, bar_height = 0.95f;
  const float arm = gate_pivot_depth + bar_height;
  const float bar_y = arm * std::cos(raised), bar_z = -arm * std::sin(raised);
  const Sphere gate[] = {
      {-1.2f, bar_y, bar_z, 0.35f, 0.6f, 8000.0f, 300.0f},
      {-0.6f, bar_y, bar_z, 0.35f, 0.6f, 8000.0f, 300.0f},
      {0.0f, bar_y, bar_z, 0.35f, 0.6f, 8000.0f, 300.0f},
      {0.6f, bar_y, bar_z, 0.35f, 0.6f, 8000.0f, 300.0f},
      {1.2f, bar_y, bar_z, 0.35f, 0.6f, 8000.0f, 300.0f},
  };
  add_shape(archive, "startgate.shp", gate, 5);

  // A straw bale, 4 ft long across x, 2 ft wide and high: soft.
  const Sphere bale[] = {
      {-1.2f, 1.0f, 0.0f, 1.0f, 0.9f, 1500.0f, 200.0f},
      {0.0f, 1.0f, 0.0f, 1.0f, 0.9f, 1500.0f, 200.0f},
      {1.2f, 1.0f, 0.0f, 1.0f, 0.9f, 1500.0f, 200.0f},
  };
  add_shape(archive, "haybale.shp", bale, 3);

  // A plastic tuff block, 3 ft long, 1.5 ft high.
  const Sphere block[] = {
      {-0.75f, 0.75f, 0.0f, 0.75f, 0.6f, 2500.0f, 150.0f},
      {0.75f, 0.75f, 0.0f, 0.75f, 0.6f, 2500.0f, 150.0f},
  };
  add_shape(archive, "tuffblock.shp", block, 2);
}

}  // namespace databuild
