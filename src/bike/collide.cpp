#include "bike/collide.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "app/alloc.h"
#include "app/types.h"
#include "bike/assembly.h"
#include "bike/catalogue.h"
#include "bike/contact.h"
#include "bike/crash.h"
#include "track/gates.h"
#include "track/objects.h"
#include "track/terrain.h"

namespace {

constexpr int part_front_group = (1 << bike_front_wheel) | (1 << bike_fork_lower);
constexpr float tic_f = static_cast<float>(seconds_per_tic);

// Installed by the auto pilot; lives for the process.
void (*line_reset)(BikeState *bike) = nullptr;

inline float dot3(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void point_velocity(dBodyID body, const float p[3], float out[3]) {
  if (!body) {
    out[0] = out[1] = out[2] = 0;
    return;
  }
  dVector3 v;
  dBodyGetPointVel(body, p[0], p[1], p[2], v);
  for (int k = 0; k < 3; k++) out[k] = static_cast<float>(v[k]);
}

// One soft contact joint in the world's contact group, normal pushing `first`.
void soft_joint(dBodyID first, dBodyID second, const float point[3], const float normal[3], float depth, float mu,
                float k, float c) {
  float hk = tic_f * k;
  float denom = hk + c;
  if (!(denom > 0)) return;  // no spring and no damper: nothing to hold
  dContact contact;
  memset(&contact, 0, sizeof contact);
  contact.surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
  contact.surface.mu = mu;
  contact.surface.soft_erp = hk / denom;
  contact.surface.soft_cfm = 1 / denom;
  for (int k3 = 0; k3 < 3; k3++) {
    contact.geom.pos[k3] = point[k3];
    contact.geom.normal[k3] = normal[k3];
  }
  contact.geom.depth = depth;
  dJointID joint = dJointCreateContact(physics_world(), physics_contact_group(), &contact);
  dJointAttach(joint, first, second);
}

void copy_contact(WheelContact *to, const WheelContact &from) {
  memcpy(to->point, from.point, sizeof to->point);
  memcpy(to->velocity, from.velocity, sizeof to->velocity);
  memcpy(to->normal, from.normal, sizeof to->normal);
  to->depth = from.depth;
  memset(&to->feedback, 0, sizeof to->feedback);
}

float speed_squared(dBodyID body) {
  const dReal *v = dBodyGetLinearVel(body);
  return static_cast<float>(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

// How far anything the bike collides with reaches from its frame's centre:
// each part's shape, and each tyre's torus (its ring and tube radius round
// the axle), which the shape tests use for the wheels.
float bike_reach_now(const BikeState *bike) {
  const dReal *f = dBodyGetPosition(bike->bodies[bike_frame]);
  float reach = 0;
  for (int part = 0; part < bike_body_count; part++) {
    float extent = bike->shapes[part] ? bike->shapes[part]->bounding_radius : -1;
    if (part == bike_front_wheel || part == bike_rear_wheel) {
      const WheelContact &w = bike->wheels[part == bike_front_wheel ? 0 : 1];
      if (w.body) extent = std::max(extent, w.ring_radius + w.tube_radius);
    }
    if (extent < 0) continue;
    const dReal *p = dBodyGetPosition(bike->bodies[part]);
    double dx = p[0] - f[0], dy = p[1] - f[1], dz = p[2] - f[2];
    float r = static_cast<float>(std::sqrt(dx * dx + dy * dy + dz * dz)) + extent;
    if (r > reach) reach = r;
  }
  return reach;
}

// The reach of every slot's bike in the tic it was measured in: the race
// tests every pair of bikes each tic, which would otherwise measure each bike
// once per pair. Within one tic a bike's bodies move only when it is placed
// or posed, which moves its frame too; the rider, the one body set apart
// from the frame, is checked as well. An entry is trusted while the bike, its
// model, the tic and the frame's and rider's positions are all exactly the
// same. Lives for the process.
struct ReachMemo {
  const BikeState *bike;
  int model;
  int tic;
  dReal frame[3];
  dReal rider[3];
  float reach;
};
ReachMemo reach_memo[max_slots];

// Bit for bit, without branches: the test runs twice for every pair of bikes.
inline bool same_point(const dReal *p, const dReal q[3]) {
  uint64_t a[3], b[3];
  memcpy(a, p, sizeof a);
  memcpy(b, q, sizeof b);
  return ((a[0] ^ b[0]) | (a[1] ^ b[1]) | (a[2] ^ b[2])) == 0;
}

// Measures the reach and keeps it in the slot's entry.
float bike_reach_remember(const BikeState *bike, int tic, const dReal *f) {
  float reach = bike_reach_now(bike);
  if (bike->slot < 0 || bike->slot >= max_slots) return reach;
  ReachMemo &m = reach_memo[bike->slot];
  const dReal *r = dBodyGetPosition(bike->bodies[bike_rider]);
  m.bike = bike;
  m.model = bike->model;
  m.tic = tic;
  for (int k = 0; k < 3; k++) {
    m.frame[k] = f[k];
    m.rider[k] = r[k];
  }
  m.reach = reach;
  return reach;
}

// f is the frame's position.
inline float bike_reach(const BikeState *bike, int tic, const dReal *f) {
  if (bike->slot >= 0 && bike->slot < max_slots) {
    const ReachMemo &m = reach_memo[bike->slot];
    if (m.bike == bike && m.tic == tic && m.model == bike->model && same_point(f, m.frame) &&
        same_point(dBodyGetPosition(bike->bodies[bike_rider]), m.rider))
      return m.reach;
  }
  return bike_reach_remember(bike, tic, f);
}

}  // namespace

ShapePose body_shape_pose(dBodyID body) {
  ShapePose pose;
  const dReal *p = dBodyGetPosition(body);
  const dReal *r = dBodyGetRotation(body);
  for (int i = 0; i < 3; i++) {
    pose.position[i] = static_cast<float>(p[i]);
    for (int j = 0; j < 3; j++) pose.rotation[3 * i + j] = static_cast<float>(r[4 * i + j]);
  }
  return pose;
}

PlacedShape bike_part_shape(BikeState *bike, int part) {
  PlacedShape s;
  s.shape = bike->shapes[part];
  s.body = bike->bodies[part];
  s.pose = body_shape_pose(s.body);
  return s;
}

void place_shape(CollisionShape *instance, const ShapePose &pose) {
  const CollisionShape *from = instance->template_shape;
  if (!from || from == instance) return;  // a loaded shape is never moved
  static_assert(sizeof pose.position + sizeof pose.rotation == sizeof instance->placed_pose, "a pose is 12 floats");
  float key[12];
  memcpy(key, pose.position, sizeof pose.position);
  memcpy(key + 3, pose.rotation, sizeof pose.rotation);
  if (instance->placed && memcmp(key, instance->placed_pose, sizeof key) == 0) return;
  memcpy(instance->placed_pose, key, sizeof key);
  instance->placed = 1;
  const float *M = pose.rotation;
  for (int i = 0; i < instance->sphere_count; i++) {
    const float *c = from->spheres[i].centre;
    float *w = instance->spheres[i].centre;
    for (int k = 0; k < 3; k++) w[k] = M[3 * k] * c[0] + M[3 * k + 1] * c[1] + M[3 * k + 2] * c[2] + pose.position[k];
  }
}

int sphere_contact(const ShapeSphere &s1, dBodyID b1, const ShapeSphere &s2, dBodyID b2, int mode,
                   WheelContact *record) {
  float d[3] = {s2.centre[0] - s1.centre[0], s2.centre[1] - s1.centre[1], s2.centre[2] - s1.centre[2]};
  float d2 = dot3(d, d);
  float reach = s1.radius + s2.radius;
  if (!(d2 < reach * reach)) return 0;  // touching exactly is no contact
  if (!b1 && !b2) return 1;
  float rmin = std::min(s1.radius, s2.radius);
  if (d2 < 1.0f / 256 && d2 < rmin * rmin / 256) return 1;  // no direction can be formed
  float L = std::sqrt(d2);
  float depth = reach - L;
  float n[3] = {d[0] / L, d[1] / L, d[2] / L};
  float q[3];
  for (int k = 0; k < 3; k++) q[k] = s1.centre[k] + n[k] * (s1.radius - depth / 2);
  if (record) {
    memcpy(record->point, q, sizeof q);
    point_velocity(b1, q, record->velocity);
    memcpy(record->normal, n, sizeof n);
    record->depth = depth;
    memset(&record->feedback, 0, sizeof record->feedback);
  }
  if (mode == contact_query) return 1;
  float mu = std::min(s1.friction, s2.friction);
  float c = std::min(s1.damping, s2.damping);
  float k = std::min(s1.stiffness, s2.stiffness);
  if (k * depth > max_sphere_spring_force) k = max_sphere_spring_force / depth;
  if (mode == contact_joint) {
    soft_joint(b2, b1, q, n, depth, mu, k, c);
    return 1;
  }
  float u1[3], u2[3];
  point_velocity(b1, q, u1);
  point_velocity(b2, q, u2);
  float F = (dot3(u1, n) - dot3(u2, n)) * c + depth * k;
  F = std::clamp(F, -max_sphere_force, max_sphere_force);
  if (b2 && dBodyIsEnabled(b2)) dBodyAddForceAtPos(b2, F * n[0], F * n[1], F * n[2], q[0], q[1], q[2]);
  if (b1 && dBodyIsEnabled(b1)) dBodyAddForceAtPos(b1, -F * n[0], -F * n[1], -F * n[2], q[0], q[1], q[2]);
  return 1;
}

int shape_shape_contacts(const PlacedShape &a, const PlacedShape &b, int mode) {
  if (!a.shape || !b.shape) return 0;
  float d[3];
  for (int k = 0; k < 3; k++) d[k] = b.pose.position[k] - a.pose.position[k];
  float bound = a.shape->bounding_radius + b.shape->bounding_radius;
  if (!(dot3(d, d) < bound * bound)) return 0;
  place_shape(a.shape, a.pose);
  place_shape(b.shape, b.pose);
  int touched = 0;
  for (int i = 0; i < a.shape->sphere_count; i++) {
    // A sphere clear of the other shape's bounding sphere meets none of its
    // spheres (the margin covers rounding in the placed centres).
    const ShapeSphere &s = a.shape->spheres[i];
    float e[3];
    for (int k = 0; k < 3; k++) e[k] = s.centre[k] - b.pose.position[k];
    float clear = s.radius + b.shape->bounding_radius + 1.0f / 64;
    if (!(dot3(e, e) < clear * clear)) continue;
    for (int j = 0; j < b.shape->sphere_count; j++)
      touched |= sphere_contact(s, a.body, b.shape->spheres[j], b.body, mode, nullptr);
  }
  return touched;
}

int shape_wheel_contacts(const PlacedShape &s, WheelContact *wheel, int mode) {
  if (!s.shape || !wheel->body) return 0;
  const dReal *wp = dBodyGetPosition(wheel->body);
  float W[3] = {static_cast<float>(wp[0]), static_cast<float>(wp[1]), static_cast<float>(wp[2])};
  float R = wheel->ring_radius, r = wheel->tube_radius;
  float d[3] = {W[0] - s.pose.position[0], W[1] - s.pose.position[1], W[2] - s.pose.position[2]};
  float bound = r + R + s.shape->bounding_radius;
  if (!(dot3(d, d) < bound * bound)) return 0;
  place_shape(s.shape, s.pose);
  dVector3 ap;
  dBodyGetRelPointPos(wheel->body, wheel->axle[0], wheel->axle[1], wheel->axle[2], ap);
  float a[3] = {static_cast<float>(ap[0]) - W[0], static_cast<float>(ap[1]) - W[1], static_cast<float>(ap[2]) - W[2]};
  ShapeSphere tyre{};
  tyre.radius = r;
  tyre.friction = 1.0f;
  tyre.stiffness = 25000;
  tyre.damping = 2500;
  int touched = 0;
  WheelContact best{}, temp{};
  for (int i = 0; i < s.shape->sphere_count; i++) {
    ring_point(W, a, R, s.shape->spheres[i].centre, tyre.centre);
    temp.depth = 0;
    touched |= sphere_contact(tyre, wheel->body, s.shape->spheres[i], s.body, mode, &temp);
    if (temp.depth > best.depth) best = temp;
  }
  // A tyre off the ground counts as touching what it hit, for the brakes,
  // aids and sound; its ground contact, when it has one, wins.
  if (best.depth > 0 && !(wheel->depth > 0)) copy_contact(wheel, best);
  return touched;
}

int shape_terrain_contacts(const PlacedShape &s, const Terrain *terrain) {
  if (!s.shape || !terrain) return 0;
  place_shape(s.shape, s.pose);
  int touched = 0;
  for (int i = 0; i < s.shape->sphere_count; i++) {
    const ShapeSphere &sphere = s.shape->spheres[i];
    TerrainContact c;
    if (!terrain_sphere_contact(terrain, sphere.centre, sphere.radius, &c)) continue;
    touched = 1;
    // Against the ground every shape is equally soft, whatever its file says.
    if (s.body) soft_joint(s.body, nullptr, c.point, c.normal, c.depth, sphere.friction, 2500, 250);
  }
  return touched;
}

int shape_bike_contacts(BikeState *bike, const PlacedShape &s, int mode, int front_query) {
  if (!s.shape) return 0;
  int front_mode = front_query ? contact_query : mode;
  int mask = 0;
  if (shape_wheel_contacts(s, &bike->wheels[0], front_mode)) mask |= bike_part_mask(bike_front_wheel);
  if (shape_wheel_contacts(s, &bike->wheels[1], mode)) mask |= bike_part_mask(bike_rear_wheel);
  static const int parts[] = {bike_frame, bike_fork_upper, bike_fork_lower, bike_swingarm, bike_rider};
  for (int part : parts) {
    const CollisionShape *shape = bike->shapes[part];
    if (!shape) continue;
    // The bounding test of shape_shape_contacts, before the part's rotation
    // is fetched: most parts of a bike are far from any one shape.
    const dReal *p = dBodyGetPosition(bike->bodies[part]);
    float d[3];
    for (int k = 0; k < 3; k++) d[k] = s.pose.position[k] - static_cast<float>(p[k]);
    float bound = shape->bounding_radius + s.shape->bounding_radius;
    if (!(dot3(d, d) < bound * bound)) continue;
    int m = (part == bike_fork_upper || part == bike_fork_lower) ? front_mode : mode;
    if (shape_shape_contacts(bike_part_shape(bike, part), s, m)) mask |= bike_part_mask(part);
  }
  return mask;
}

namespace {
// The track's terrain for the free feet of a rider thrown off by an object;
// set by object_grid_build.
const Terrain *object_terrain = nullptr;
}  // namespace

int bike_object_contacts(BikeState *bike, const PlacedShape &object) {
  int mask = shape_bike_contacts(bike, object, contact_joint, 0);
  if ((mask & bike_part_mask(bike_rider)) && bike->crash_timer <= 0) {
    const dReal *v = dBodyGetLinearVel(bike->bodies[bike_rider]);
    double dv[3] = {v[0], v[1], v[2]};
    if (object.body) {
      const dReal *u = dBodyGetLinearVel(object.body);
      for (int k = 0; k < 3; k++) dv[k] -= u[k];
    }
    if (dv[0] * dv[0] + dv[1] * dv[1] + dv[2] * dv[2] > 400) crash_rider(bike, object_terrain);
  }
  return mask;
}

namespace {

// The pair within reach of each other; fb is B's frame position.
int bike_pair_contacts(BikeState *a, BikeState *b, int remote, int tic, const dReal *fb, float reach_b) {
  // A bike's first bike-to-bike contact in a tic is made of joints; every
  // later one of forces, so chains of bikes do not stack up joints.
  int mode = (tic == a->last_collision_tic || tic == b->last_collision_tic) ? contact_force : contact_joint;
  static const int order[] = {bike_front_wheel, bike_rear_wheel, bike_frame,   bike_fork_upper,
                              bike_fork_lower,  bike_swingarm,   bike_rider};
  int mask_a = 0, mask_b = 0;
  for (int part : order) {
    if (!a->shapes[part]) continue;
    // A part that stays farther from B's frame than B reaches touches none
    // of B's parts (the margin covers the single-precision tests).
    const dReal *p = dBodyGetPosition(a->bodies[part]);
    double px = p[0] - fb[0], py = p[1] - fb[1], pz = p[2] - fb[2];
    double near = static_cast<double>(reach_b) + a->shapes[part]->bounding_radius + 1.0 / 64;
    if (!(px * px + py * py + pz * pz < near * near)) continue;
    int front = (part == bike_front_wheel || part == bike_fork_upper || part == bike_fork_lower) ? 0 : remote;
    int m = shape_bike_contacts(b, bike_part_shape(a, part), mode, front);
    mask_b |= m;
    if (m) mask_a |= bike_part_mask(part);
  }
  if (!mask_b) return 0;
  float va = speed_squared(a->bodies[bike_frame]), vb = speed_squared(b->bodies[bike_frame]);
  if (mask_a & mask_b & part_front_group) {
    if (va >= 100) a->collision_timer = std::max(a->collision_timer, 128.0f);
    if (vb >= 100) b->collision_timer = std::max(b->collision_timer, 128.0f);
  } else if (mask_a & part_front_group) {
    if (b->crash_timer <= 0 && vb >= 25 && va >= 100) a->collision_timer = std::max(a->collision_timer, 192.0f);
  } else if ((mask_b & part_front_group) && a->crash_timer <= 0) {
    if (va >= 25 && vb >= 100) b->collision_timer = std::max(b->collision_timer, 192.0f);
  }
  a->last_collision_tic = tic;
  b->last_collision_tic = tic;
  if (line_reset) {
    line_reset(a);
    line_reset(b);
  }
  return mask_b;
}

}  // namespace

float bike_collision_reach(const BikeState *bike, int tic) {
  return bike_reach(bike, tic, dBodyGetPosition(bike->bodies[bike_frame]));
}

void pair_bounds(BikeState *const *list, int count, int tic, PairBounds *out) {
  for (int k = 0; k < count && k < max_slots; k++) {
    const dReal *p = dBodyGetPosition(list[k]->bodies[bike_frame]);
    out->x[k] = p[0];
    out->z[k] = p[2];
    out->reach[k] = bike_collision_reach(list[k], tic) + 1.0 / 64;
  }
}

// Most pairs are far apart and end at the first test.
int bike_bike_contacts(BikeState *a, BikeState *b, int remote, int tic) {
  const dReal *fa = dBodyGetPosition(a->bodies[bike_frame]);
  const dReal *fb = dBodyGetPosition(b->bodies[bike_frame]);
  float reach_b = bike_reach(b, tic, fb);
  float reach = bike_reach(a, tic, fa) + reach_b;
  double dx = fa[0] - fb[0], dy = fa[1] - fb[1], dz = fa[2] - fb[2];
  if (!(dx * dx + dy * dy + dz * dz < static_cast<double>(reach) * reach)) return 0;
  return bike_pair_contacts(a, b, remote, tic, fb, reach_b);
}

namespace {
// A part whose whole shape rides clear of the ground is settled by one look
// at the heights under its bounding sphere, without placing its spheres.
int part_terrain_contacts(BikeState *bike, int part, const Terrain *terrain) {
  const CollisionShape *shape = bike->shapes[part];
  if (!shape || !terrain) return 0;
  const dReal *p = dBodyGetPosition(bike->bodies[part]);
  float centre[3] = {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])};
  if (terrain_ball_clear(terrain, centre, shape->bounding_radius)) return 0;
  return shape_terrain_contacts(bike_part_shape(bike, part), terrain);
}
}  // namespace

int bike_shape_terrain_contacts(BikeState *bike, const Terrain *terrain) {
  int frame = part_terrain_contacts(bike, bike_frame, terrain);
  int others = 0;
  others |= part_terrain_contacts(bike, bike_fork_upper, terrain);
  others |= part_terrain_contacts(bike, bike_fork_lower, terrain);
  others |= part_terrain_contacts(bike, bike_swingarm, terrain);
  int rider = part_terrain_contacts(bike, bike_rider, terrain);
  if (rider && bike->crash_timer <= 0) {
    dBodyID body = bike->bodies[bike_rider];
    // Element [1][1]: the rider's own up axis points down in the world.
    if (dBodyGetRotation(body)[5] < 0 && speed_squared(body) > 25) crash_rider(bike, terrain);
  }
  if ((others || rider) && bike->stopped == 0) bike->stopped = 1;
  return frame | others | rider;
}

void set_collision_line_reset(void (*reset)(BikeState *bike)) { line_reset = reset; }

// --- Trackside objects ----------------------------------------------------------

namespace {

struct GridObject {
  int statue;
  int start_gate;
  float tilt;  // radians about the object's x axis
  CollisionShape *shape;
};

// The object grid: from object_grid_build to the next build or
// object_grid_free. Cells hold object indices in ascending order.
struct ObjectGrid {
  GridObject *objects;
  int count, capacity;
  int *statue_object;  // statue index -> object index or -1
  int statue_count;
  int cell_start[object_grid_cells * object_grid_cells + 1];
  int *cell_items;
  float cell_size;
  int *seen;       // per object: the query serial that last met it
  int *candidates; // scratch for one query
  int serial;
};
static_assert(object_grid_cells > 0 && object_grid_cells <= 64, "a coarse grid");
ObjectGrid grid;

int cell_of(float v) {
  if (!(grid.cell_size > 0)) return 0;
  float c = std::floor(v / grid.cell_size);
  if (!(c >= 0)) return 0;
  if (c > object_grid_cells - 1) return object_grid_cells - 1;
  return static_cast<int>(c);
}

ShapePose object_pose(const GridObject &o) {
  const Statue *s = track_statue(o.statue);
  ShapePose pose;
  pose.position[0] = s->x;
  pose.position[1] = s->y;
  pose.position[2] = s->z;
  static const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  // A statue with a power value keeps its shape unturned.
  const float *R = s->power != 0 ? identity : s->rotation;
  if (o.tilt == 0) {
    memcpy(pose.rotation, R, sizeof pose.rotation);
    return pose;
  }
  float c = std::cos(o.tilt), sn = std::sin(o.tilt);
  const float X[9] = {1, 0, 0, 0, c, -sn, 0, sn, c};
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++)
      pose.rotation[3 * i + j] = R[3 * i] * X[j] + R[3 * i + 1] * X[3 + j] + R[3 * i + 2] * X[6 + j];
  return pose;
}

// Objects whose cells meet the square of half side `reach` around (x, z),
// each once, in ascending order. Returns the count in grid.candidates.
int gather(float x, float z, float reach) {
  int x0 = cell_of(x - reach), x1 = cell_of(x + reach), z0 = cell_of(z - reach), z1 = cell_of(z + reach);
  grid.serial++;
  int n = 0;
  for (int j = z0; j <= z1; j++)
    for (int i = x0; i <= x1; i++) {
      int cell = i + j * object_grid_cells;
      for (int k = grid.cell_start[cell]; k < grid.cell_start[cell + 1]; k++) {
        int o = grid.cell_items[k];
        if (grid.seen[o] == grid.serial) continue;
        grid.seen[o] = grid.serial;
        grid.candidates[n++] = o;
      }
    }
  std::sort(grid.candidates, grid.candidates + n);
  return n;
}

// Objects near the bike (bounding spheres), for the per-bike loops below.
int near_bike(BikeState *bike, int tic, float *reach_out) {
  if (grid.count == 0) return 0;
  const dReal *f = dBodyGetPosition(bike->bodies[bike_frame]);
  float reach = bike_reach(bike, tic, f);
  *reach_out = reach;
  return gather(static_cast<float>(f[0]), static_cast<float>(f[2]), reach);
}

bool within(BikeState *bike, float reach, const GridObject &o) {
  const Statue *s = track_statue(o.statue);
  const dReal *f = dBodyGetPosition(bike->bodies[bike_frame]);
  double dx = f[0] - s->x, dy = f[1] - s->y, dz = f[2] - s->z;
  double r = static_cast<double>(reach) + o.shape->bounding_radius;
  return dx * dx + dy * dy + dz * dz < r * r;
}

}  // namespace

void object_grid_free() {
  for (int i = 0; i < grid.count; i++) free_shape_instance(grid.objects[i].shape);
  tracked_free(grid.objects);
  tracked_free(grid.statue_object);
  tracked_free(grid.cell_items);
  tracked_free(grid.seen);
  tracked_free(grid.candidates);
  grid = ObjectGrid{};
  object_terrain = nullptr;
}

void object_grid_build(const Terrain *terrain) {
  object_grid_free();
  object_terrain = terrain;
  grid.cell_size = terrain ? terrain->extent / object_grid_cells : 0;
  int statues = statue_count();
  grid.statue_count = statues;
  if (statues > 0) {
    grid.statue_object = static_cast<int *>(alloc_or_die(sizeof(int) * static_cast<size_t>(statues)));
    for (int i = 0; i < statues; i++) grid.statue_object[i] = -1;
  }
  for (int i = 0; i < statues; i++) {
    const Statue *s = track_statue(i);
    if (!s->shape_path) continue;
    CollisionShape *shape = copy_shape(s->shape_path);
    if (!shape) continue;
    grow_array(grid.objects, grid.count, grid.capacity);
    grid.statue_object[i] = grid.count;
    grid.objects[grid.count++] = GridObject{i, 0, 0, shape};
  }
  const TimingGates *gates = timing_gates();
  for (int g = 0; g < gates->grid_count; g++) {
    int st = gates->grid[g].statue;
    if (st >= 0 && st < statues && grid.statue_object[st] >= 0) grid.objects[grid.statue_object[st]].start_gate = 1;
  }
  // Every object goes into each cell its bounding square meets.
  constexpr int cells = object_grid_cells * object_grid_cells;
  int counts[cells] = {};
  for (int pass = 0; pass < 2; pass++) {
    int fill[cells] = {};
    for (int o = 0; o < grid.count; o++) {
      const Statue *s = track_statue(grid.objects[o].statue);
      float r = grid.objects[o].shape->bounding_radius;
      for (int j = cell_of(s->z - r); j <= cell_of(s->z + r); j++)
        for (int i = cell_of(s->x - r); i <= cell_of(s->x + r); i++) {
          int cell = i + j * object_grid_cells;
          if (pass == 0)
            counts[cell]++;
          else
            grid.cell_items[grid.cell_start[cell] + fill[cell]++] = o;
        }
    }
    if (pass == 0) {
      grid.cell_start[0] = 0;
      for (int c = 0; c < cells; c++) grid.cell_start[c + 1] = grid.cell_start[c] + counts[c];
      int total = grid.cell_start[cells];
      grid.cell_items = total ? static_cast<int *>(alloc_or_die(sizeof(int) * static_cast<size_t>(total))) : nullptr;
    }
  }
  if (grid.count > 0) {
    size_t bytes = sizeof(int) * static_cast<size_t>(grid.count);
    grid.seen = static_cast<int *>(alloc_or_die(bytes));
    grid.candidates = static_cast<int *>(alloc_or_die(bytes));
    memset(grid.seen, 0, bytes);
  }
}

int object_grid_count() { return grid.count; }

void object_set_tilt(int statue, float radians) {
  if (statue < 0 || statue >= grid.statue_count) return;
  int o = grid.statue_object[statue];
  if (o >= 0) grid.objects[o].tilt = radians;
}

float object_tilt(int statue) {
  if (statue < 0 || statue >= grid.statue_count) return 0;
  int o = grid.statue_object[statue];
  return o >= 0 ? grid.objects[o].tilt : 0;
}

int object_contacts_near(BikeState *bike, int tic) {
  float reach = 0;
  int n = near_bike(bike, tic, &reach);
  int mask = 0;
  for (int k = 0; k < n; k++) {
    const GridObject &o = grid.objects[grid.candidates[k]];
    if (!within(bike, reach, o)) continue;
    PlacedShape s{o.shape, nullptr, object_pose(o)};
    int m = bike_object_contacts(bike, s);
    if (m) track_statue(o.statue)->last_contact_tic = tic;
    mask |= m;
  }
  return mask;
}

int start_gate_touches(BikeState *bike, int tic) {
  float reach = 0;
  int n = near_bike(bike, tic, &reach);
  int touched = 0;
  for (int k = 0; k < n; k++) {
    const GridObject &o = grid.objects[grid.candidates[k]];
    if (!o.start_gate || !within(bike, reach, o)) continue;
    PlacedShape s{o.shape, nullptr, object_pose(o)};
    if (shape_bike_contacts(bike, s, contact_query, 0)) {
      track_statue(o.statue)->last_contact_tic = tic;
      touched++;
    }
  }
  return touched;
}
