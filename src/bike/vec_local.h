// Small vector helpers shared by the bike modules: V in double precision for
// the modules that work on ODE bodies directly, V3 in single precision for
// those whose arithmetic is single precision (tyre contact, rider pose).
// Private to src/bike/.
#pragma once
#include <ode/ode.h>

#include <cmath>

namespace bike_vec {

struct V {
  double x, y, z;
};
inline V operator+(V a, V b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V operator-(V a, V b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V operator*(V a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline double length(V a) { return std::sqrt(dot(a, a)); }
inline V cross(V a, V b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline V unit(V a) {
  double l = length(a);
  return l > 0 ? a * (1 / l) : V{0, 0, 0};
}
inline V vr(const dReal *p) { return {p[0], p[1], p[2]}; }
inline V vf(const float *p) { return {p[0], p[1], p[2]}; }
inline void store(V v, float out[3]) {
  out[0] = static_cast<float>(v.x);
  out[1] = static_cast<float>(v.y);
  out[2] = static_cast<float>(v.z);
}

// A body point (in the body's frame) in the world, its velocity there, and a
// body vector in the world.
inline V rel_point(dBodyID body, V p) {
  dVector3 out;
  dBodyGetRelPointPos(body, p.x, p.y, p.z, out);
  return vr(out);
}
inline V point_vel(dBodyID body, V p) {
  dVector3 out;
  dBodyGetPointVel(body, p.x, p.y, p.z, out);
  return vr(out);
}
inline V to_world(dBodyID body, V v) {
  dVector3 out;
  dBodyVectorToWorld(body, v.x, v.y, v.z, out);
  return vr(out);
}
struct V3 {
  float x, y, z;
};
inline V3 v3(const float p[3]) { return {p[0], p[1], p[2]}; }
inline V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 operator*(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline V3 operator-(V3 a) { return {-a.x, -a.y, -a.z}; }
inline float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline float len(V3 a) { return std::sqrt(dot(a, a)); }
// Unit vector, or zero for a zero vector (keeps degenerate cases finite).
inline V3 unit(V3 a) {
  float l = len(a);
  return l > 0 ? a * (1 / l) : V3{0, 0, 0};
}
inline void store(V3 a, float out[3]) {
  out[0] = a.x;
  out[1] = a.y;
  out[2] = a.z;
}
inline V3 to_v3(V v) { return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)}; }
inline V to_v(V3 v) { return {v.x, v.y, v.z}; }
// The same in single precision (ODE computes them in double).
inline V3 rel_point(dBodyID body, V3 p) { return to_v3(rel_point(body, to_v(p))); }
inline V3 to_world(dBodyID body, V3 v) { return to_v3(to_world(body, to_v(v))); }

// NaN goes to the low end.
inline double clampd(double v, double lo, double hi) { return !(v > lo) ? lo : (v > hi ? hi : v); }

}  // namespace bike_vec
