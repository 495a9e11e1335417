// Scenes for the collision and crash tests and benchmarks: a data directory
// with the bike's collision shapes (sphere sets that fit the bodies of the
// built bikes), a post and a start gate; bikes turned and set rolling.
#pragma once
#include <cmath>
#include <cstdlib>
#include <string>

#include "assets/file.h"
#include "bike/assembly.h"
#include "bike/collide.h"
#include "bike/crash.h"
#include "platform/log.h"
#include "test_util.h"

// Shape texts, centres in each body's own frame at build time.
inline const char *const collide_shape_files[][2] = {
    {"generic_frame.shp",
     "4\n0 0.3 -0.6 0.5 0.5 5000 250\n0 0.3 0.3 0.5 0.5 5000 250\n0 0.35 1.1 0.4 0.5 5000 250\n"
     "0 -0.35 0 0.4 0.5 5000 250\n"},
    {"generic_fork_upper.shp",
     "3\n-0.9 1.1 0.7 0.25 0.5 5000 250\n0.9 1.1 0.7 0.25 0.5 5000 250\n0 1.0 0.6 0.3 0.5 5000 250\n"},
    {"generic_fork_lower.shp", "2\n0 -0.35 -0.25 0.3 0.5 5000 250\n0 0.1 0.1 0.25 0.5 5000 250\n"},
    {"generic_swingarm.shp",
     "3\n0 0 0 0.3 0.5 5000 250\n0 -0.1 0.6 0.25 0.5 5000 250\n0 0.1 -0.6 0.25 0.5 5000 250\n"},
    {"generic_rider.shp",
     "3\n0 -0.45 0.55 0.55 0.6 5000 250\n0 0.1 -0.05 0.6 0.6 5000 250\n0 0.95 -0.95 0.45 0.6 5000 250\n"},
    {"front_wheel.shp",
     "9\n0 0 0 0.5 0.8 5000 250\n0 0.85 0 0.33 0.8 5000 250\n0 0.6 0.6 0.33 0.8 5000 250\n"
     "0 0 0.85 0.33 0.8 5000 250\n0 -0.6 0.6 0.33 0.8 5000 250\n0 -0.85 0 0.33 0.8 5000 250\n"
     "0 -0.6 -0.6 0.33 0.8 5000 250\n0 0 -0.85 0.33 0.8 5000 250\n0 0.6 -0.6 0.33 0.8 5000 250\n"},
    {"rear_wheel.shp",
     "9\n0 0 0 0.45 0.8 5000 250\n0 0.75 0 0.33 0.8 5000 250\n0 0.53 0.53 0.33 0.8 5000 250\n"
     "0 0 0.75 0.33 0.8 5000 250\n0 -0.53 0.53 0.33 0.8 5000 250\n0 -0.75 0 0.33 0.8 5000 250\n"
     "0 -0.53 -0.53 0.33 0.8 5000 250\n0 0 -0.75 0.33 0.8 5000 250\n0 0.53 -0.53 0.33 0.8 5000 250\n"},
    // A post two feet thick and six high.
    {"post.shp", "3\n0 1 0 1 0.5 5000 500\n0 3 0 1 0.5 5000 500\n0 5 0 1 0.5 5000 500\n"},
    // A start gate: a bar 2.2 ft wide, 0.1 to 1.1 ft high, across z = -0.5.
    {"startgate.shp", "3\n-0.65 0.6 -0.5 0.5 0.5 5000 500\n0 0.6 -0.5 0.5 0.5 5000 500\n0.65 0.6 -0.5 0.5 0.5 5000 500\n"},
};

// A scratch data directory holding the shapes, found through "@" paths;
// the log goes to a file in it.
struct CollideData {
  std::string dir, log_path;
};

inline CollideData collide_data_setup(const char *tag) {
  CollideData data;
  data.dir = make_temp_dir(tag) + "/";
  for (const auto &file : collide_shape_files) write_text_file(data.dir + file[0], file[1]);
  setenv("XDG_DATA_HOME", (data.dir + "xdg").c_str(), 1);
  setenv("QX_HOME", data.dir.c_str(), 1);
  data.log_path = data.dir + "test.log";
  setenv("HOVL_LOGFILE", data.log_path.c_str(), 1);
  hovl_reset_for_tests();
  file_layer_reset_for_tests();
  free_shapes();
  return data;
}

inline void collide_data_end() {
  object_grid_free();
  free_shapes();
  file_layer_reset_for_tests();
  hovl_reset_for_tests();
  unsetenv("HOVL_LOGFILE");
  unsetenv("QX_HOME");
  unsetenv("XDG_DATA_HOME");
}

// Turns the whole bike by `angle` about the vertical through its frame.
inline void turn_bike(BikeState *bike, double angle) {
  const dReal *f = dBodyGetPosition(bike->bodies[bike_frame]);
  double fx = f[0], fz = f[2];
  dMatrix3 turn;
  dRFromAxisAndAngle(turn, 0, 1, 0, angle);
  double c = std::cos(angle), s = std::sin(angle);
  for (dBodyID body : bike->bodies) {
    const dReal *p = dBodyGetPosition(body);
    double x = p[0] - fx, z = p[2] - fz;
    dBodySetPosition(body, fx + c * x + s * z, p[1], fz - s * x + c * z);
    dMatrix3 r;
    dMultiply0_333(r, turn, dBodyGetRotation(body));
    dBodySetRotation(body, r);
  }
}

// Every body moving at (vx, 0, vz), the wheels rolling with it.
inline void roll_bike(BikeState *bike, double vx, double vz) {
  for (dBodyID body : bike->bodies) {
    dBodySetLinearVel(body, vx, 0, vz);
    dBodySetAngularVel(body, 0, 0, 0);
  }
  for (int w = 0; w < 2; w++) {
    double rr = bike->wheels[w].ring_radius + bike->wheels[w].tube_radius;
    dBodySetAngularVel(bike->wheels[w].body, vz / rr, 0, -vx / rr);
  }
}

inline double body_speed(dBodyID body) {
  const dReal *v = dBodyGetLinearVel(body);
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}
