#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bike/assembly.h"
#include "bike/contact.h"
#include "ride_scene.h"
#include "track/terrain.h"

namespace {

constexpr float R = 0.75f, r = 0.3333333f;
const float x_axle[3] = {1, 0, 0};
constexpr float tol = 1e-4f;

// A large triangle in the plane y = 0 over x -5..5, z 0..10, normal up; its
// edge 2 runs from (5, 0, 0) to (-5, 0, 0) along z = 0.
const float T0[3] = {-5, 0, 0}, T1[3] = {-5, 0, 10}, T2[3] = {5, 0, 0};

void expect_vec(const float v[3], float x, float y, float z, float eps = tol) {
  EXPECT_NEAR(v[0], x, eps);
  EXPECT_NEAR(v[1], y, eps);
  EXPECT_NEAR(v[2], z, eps);
}

void expect_finite(const TorusHit &h) {
  EXPECT_TRUE(std::isfinite(h.depth));
  for (int k = 0; k < 3; k++) {
    EXPECT_TRUE(std::isfinite(h.point[k]));
    EXPECT_TRUE(std::isfinite(h.normal[k]));
  }
}

}  // namespace

TEST(TorusTriangle, FaceCases) {
  // Resting 0.1 ft into a level face: the lowest ring point is over it.
  const float W[3] = {0, R + r - 0.1f, 3};
  TorusHit h = torus_triangle(W, x_axle, R, r, T0, T1, T2, 1);
  EXPECT_NEAR(h.depth, 0.1f, tol);
  expect_vec(h.normal, 0, 1, 0);
  expect_vec(h.point, 0, -0.1f, 3);

  // Clear of the face: a negative depth, which the contact never keeps.
  const float high[3] = {0, R + r + 0.5f, 3};
  EXPECT_NEAR(torus_triangle(high, x_axle, R, r, T0, T1, T2, 1).depth, -0.5f, tol);

  // A slope y = 0.5 z seen by a wheel in the y-z plane: the depth is the
  // outer radius minus the centre's distance from the plane.
  const float S0[3] = {-5, 0, 0}, S1[3] = {-5, 5, 10}, S2[3] = {5, 0, 0};
  const float Ws[3] = {0, 3.5f, 4};
  float inv = 1 / std::sqrt(1.25f);
  float distance = (3.5f - 0.5f * 4) * inv;
  h = torus_triangle(Ws, x_axle, R, r, S0, S1, S2, 1);
  EXPECT_NEAR(h.depth, R + r - distance, tol);
  expect_vec(h.normal, 0, inv, -0.5f * inv);
}

TEST(TorusTriangle, RingCutsThePlane) {
  // The lowest ring point 0.2 ft under the face: tube radius plus that.
  const float W[3] = {0, R - 0.2f, 3};
  TorusHit h = torus_triangle(W, x_axle, R, r, T0, T1, T2, 1);
  EXPECT_NEAR(h.depth, r + 0.2f, tol);
  expect_vec(h.normal, 0, 1, 0);
  expect_vec(h.point, 0, -0.2f - r, 3);

  // The wheel straddles edge 2 (z = 0) with its centre outside the face:
  // the edge passes through the wheel's disc at (0, 0, 0).
  const float Wb[3] = {0, 0.5f, -0.3f};
  h = torus_triangle(Wb, x_axle, R, r, T0, T1, T2, 1);
  EXPECT_NEAR(h.depth, r - 9.5367431640625e-07f, 1e-6f);
  float n = std::sqrt(34.0f);
  expect_vec(h.normal, 0, 5 / n, -3 / n);
  float l = std::sqrt(0.34f);
  expect_vec(h.point, 0, 0.5f - R * 0.5f / l - r * 5 / n, -0.3f + R * 0.3f / l + r * 3 / n);
}

TEST(TorusTriangle, WholeRingUnderThePlane) {
  const float W[3] = {0, -R - 0.5f, 3};
  TorusHit h = torus_triangle(W, x_axle, R, r, T0, T1, T2, 1);
  EXPECT_NEAR(h.depth, 2 * R, tol);
  expect_vec(h.normal, 0, 1, 0);
  expect_vec(h.point, 0, -2 * R - 0.5f, 3);
  // Under the plane but beside the triangle as seen from above: only the
  // edge-and-vertex search can answer, and the query variant has none.
  const float beside[3] = {0, -R - 0.5f, -3};
  EXPECT_LE(torus_triangle(beside, x_axle, R, r, T0, T1, T2, 0).depth, 0);
}

TEST(TorusTriangle, EdgeAndVertex) {
  // Edge 2 lies parallel to the axle beside the lowest ring point: the
  // nearest edge point is (0, 0, 0), its distance to the ring |W| - R.
  const float W[3] = {0, 0.8f, -0.5f};
  float centre_distance = std::sqrt(0.8f * 0.8f + 0.25f);
  TorusHit h = torus_triangle(W, x_axle, R, r, T0, T1, T2, 1);
  EXPECT_NEAR(h.depth, r - (centre_distance - R), 1e-3f);
  expect_vec(h.point, 0, 0, 0, 1e-3f);
  float n[3] = {h.normal[0], h.normal[1], h.normal[2]};
  clean_contact_normal(n);
  // Newton's four steps leave the edge point a few thousandths off centre.
  expect_vec(n, 0, 0.8f / centre_distance, -0.5f / centre_distance, 5e-3f);
  // Without the search the same wheel has no contact.
  EXPECT_LE(torus_triangle(W, x_axle, R, r, T0, T1, T2, 0).depth, 0);

  // A corner poking at the side of the tyre, inside the ring's radius: the
  // distance is to the wheel's disc, the push along the axle.
  const float V0[3] = {0.2f, 0.6f, 0}, V1[3] = {3, 0.6f, 1}, V2[3] = {3, 0.6f, -1};
  const float Wv[3] = {0, 1, 0};
  h = torus_triangle(Wv, x_axle, R, r, V0, V1, V2, 1);
  EXPECT_NEAR(h.depth, r - 0.2f, 1e-4f);
  expect_vec(h.point, 0.2f, 0.6f, 0);
  expect_vec(h.normal, -1, 0, 0);
}

TEST(TorusTriangle, DegenerateTrianglesStayFinite) {
  const float W[3] = {0.1f, 0.9f, 0.2f};
  // Two equal vertices, three equal vertices, collinear vertices.
  const float A[3] = {0, 0, 0}, B[3] = {1, 0.2f, 0}, C[3] = {2, 0.4f, 0};
  expect_finite(torus_triangle(W, x_axle, R, r, A, A, B, 1));
  expect_finite(torus_triangle(W, x_axle, R, r, A, A, A, 1));
  expect_finite(torus_triangle(W, x_axle, R, r, A, B, C, 1));
  TorusHit h = torus_triangle(W, x_axle, R, r, A, A, A, 1);
  EXPECT_LE(h.depth, r);

  // A wheel lying flat on a level face (axle along the face normal).
  const float up[3] = {0, 1, 0};
  const float flat[3] = {0, r - 0.05f, 3};
  h = torus_triangle(flat, up, R, r, T0, T1, T2, 1);
  expect_finite(h);
  EXPECT_NEAR(h.depth, 0.05f, tol);

  // A sheer cliff: a huge height step across one grid cell, and a wheel
  // centred exactly on a vertex and on an edge.
  const float S0[3] = {0, 0, 0}, S1[3] = {0, 1e6f, 1}, S2[3] = {1, 0, 0};
  const float on_vertex[3] = {0, 0, 0}, on_edge[3] = {0.5f, 0, 0};
  for (const float *w : {W, on_vertex, on_edge}) {
    expect_finite(torus_triangle(w, x_axle, R, r, S0, S1, S2, 1));
    expect_finite(torus_triangle(w, x_axle, R, r, S0, S1, S2, 0));
  }
  float p[3];
  ring_point(on_vertex, x_axle, R, on_vertex, p);  // a point on the axle
  for (float c : p) EXPECT_TRUE(std::isfinite(c));
  EXPECT_NEAR(std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]), R, tol);
  EXPECT_NEAR(p[0], 0, tol);
}

TEST(TyreContact, SoftnessAndNormalCleanup) {
  TyreSoftness half = tyre_softness(0.5f * r, r);
  EXPECT_FLOAT_EQ(half.stiffness, 4000);
  EXPECT_FLOAT_EQ(half.damping, 487.5f);
  TyreSoftness bottomed = tyre_softness(2 * r, r);
  EXPECT_FLOAT_EQ(bottomed.stiffness, 25000);
  EXPECT_FLOAT_EQ(bottomed.damping, 2500);

  float down_sideways[3] = {0.6f, -0.8f, 0};
  clean_contact_normal(down_sideways);
  expect_vec(down_sideways, 1, 0, 0);
  float straight_down[3] = {0.01f, -1, 0};
  clean_contact_normal(straight_down);
  expect_vec(straight_down, 0, 1, 0);
  float slanted[3] = {0, 2, 2};
  clean_contact_normal(slanted);
  expect_vec(slanted, 0, std::sqrt(0.5f), std::sqrt(0.5f));
}

namespace {

// A small grid of rolling, noisy ground with a step and a spike.
Terrain *rough_terrain(float spacing, uint32_t *seed) {
  auto next = [seed]() {
    *seed = *seed * 1664525u + 1013904223u;
    return static_cast<float>(*seed >> 8) / 16777216.0f;
  };
  Terrain *t = terrain_create(4, spacing, 0, 0);
  int verts = t->verts_per_side;
  for (int j = 0; j < verts; j++)
    for (int i = 0; i < verts; i++) {
      float y = 1.2f * std::sin(0.5f * i) + 0.8f * std::cos(0.4f * j) + 0.3f * next();
      if (i > 20) y += 0.9f;
      if (i == 12 && j == 14) y += 2.5f;
      t->heights[i + j * verts] = y;
    }
  return t;
}

// Every triangle of the wheel's cells through torus_triangle, the deepest
// kept (the earliest of equal ones); also every triangle's own result.
struct WalkResult {
  TorusHit best;
  std::vector<TorusHit> each;
};
WalkResult walk_every_triangle(const Terrain *t, const float W[3], const float a[3], float R, float r, int edges) {
  WalkResult out;
  out.best = TorusHit{};
  float n = t->spacing, reach = R + r;
  int c0 = static_cast<int>(std::floor((W[0] - reach) / n)), c1 = static_cast<int>(std::ceil((W[0] + reach) / n));
  int r0 = static_cast<int>(std::floor((W[2] - reach) / n)), r1 = static_cast<int>(std::ceil((W[2] + reach) / n));
  for (int j = r0; j < r1; j++)
    for (int i = c0; i < c1; i++) {
      int p = (i & 1) == (j & 1) ? 1 : 0;
      const int corners[2][3][2] = {{{i, j}, {i, j + 1}, {i + 1, j + p}}, {{i + 1, j + 1}, {i + 1, j}, {i, j + 1 - p}}};
      for (const auto &half : corners) {
        float tri[3][3];
        for (int k = 0; k < 3; k++) {
          tri[k][0] = static_cast<float>(half[k][0]) * n;
          tri[k][1] = terrain_vertex_height(t, half[k][0], half[k][1]);
          tri[k][2] = static_cast<float>(half[k][1]) * n;
        }
        TorusHit hit = torus_triangle(W, a, R, r, tri[0], tri[1], tri[2], edges);
        out.each.push_back(hit);
        if (hit.depth > out.best.depth) out.best = hit;
      }
    }
  return out;
}

bool same_hit(const TorusHit &x, const TorusHit &y) {
  return x.depth == y.depth && memcmp(x.point, y.point, sizeof x.point) == 0 &&
         memcmp(x.normal, y.normal, sizeof x.normal) == 0;
}

}  // namespace

// The wheel's search skips triangles that cannot touch and edge searches
// that cannot beat the deepest contact; it must find the contact a walk over
// every triangle finds, up to a tie within 1/4096 ft, which it may settle
// for another triangle's equally deep result.
TEST(TorusGroundContact, SameAsTestingEveryTriangle) {
  uint32_t seed = 777;
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<float>(seed >> 8) / 16777216.0f;
  };
  int hits = 0, exact = 0, trials = 0;
  for (float spacing : {1.0f, 0.5f}) {
    Terrain *t = rough_terrain(spacing, &seed);
    float extent = t->extent;
    for (int trial = 0; trial < 3000; trial++, trials++) {
      float ringR = 0.7f + 0.2f * next(), tube = 0.25f + 0.15f * next();
      // Mostly an upright wheel rolling in any direction, sometimes leaned
      // far over or lying flat.
      float heading = 6.2831853f * next();
      float lean = trial % 7 == 0 ? 3.1415927f * (next() - 0.5f) : 0.6f * (next() - 0.5f);
      float a[3] = {std::cos(heading) * std::cos(lean), std::sin(lean), std::sin(heading) * std::cos(lean)};
      float W[3] = {-1 + (extent + 2) * next(), 0, -1 + (extent + 2) * next()};
      float ground = terrain_height(t, W[0], W[2]);
      W[1] = ground + ringR + tube + (trial % 11 == 0 ? -3 * next() : 0.4f - 1.0f * next());
      WalkResult ref = walk_every_triangle(t, W, a, ringR, tube, 1);
      TorusHit got = torus_ground_contact(t, W, a, ringR, tube);
      ASSERT_EQ(got.depth > 0, ref.best.depth > 0) << "trial " << trial;
      if (!(got.depth > 0)) continue;
      hits++;
      if (same_hit(got, ref.best)) {
        exact++;
        continue;
      }
      EXPECT_NEAR(got.depth, ref.best.depth, 1.0f / 4096) << "trial " << trial;
      bool found = false;
      for (const TorusHit &e : ref.each) found |= same_hit(got, e);
      EXPECT_TRUE(found) << "trial " << trial << ": not any triangle's result";
    }
    terrain_free(t);
  }
  EXPECT_GT(hits, trials / 3);
  EXPECT_LT(hits, trials);
  // Ties are rare.
  EXPECT_GT(exact, hits * 19 / 20);
}

class WheelContactTest : public ::testing::Test {
 protected:
  void SetUp() override {
    terrain = make_flat_terrain(4, 1);  // 33 x 33 vertices at height 0
    bike = build_bike("crf250(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
    dJointGroupEmpty(physics_contact_group());
  }
  void TearDown() override {
    dJointGroupEmpty(physics_contact_group());
    destroy_bike(bike);
    terrain_free(terrain);
  }
  // Puts the rear wheel (alone) at centre height y over (10, 10), still.
  WheelContact *rear_at(float y) {
    dBodyID wheel = bike->bodies[bike_rear_wheel];
    dBodySetPosition(wheel, 10, y, 10);
    dBodySetLinearVel(wheel, 0, 0, 0);
    dBodySetAngularVel(wheel, 0, 0, 0);
    dBodySetForce(wheel, 0, 0, 0);
    return &bike->wheels[1];
  }
  Terrain *terrain = nullptr;
  BikeState *bike = nullptr;
};

TEST_F(WheelContactTest, WheelInTheAirMakesNoJointAndNoForce) {
  WheelContact *w = rear_at(3);
  int joints = dBodyGetNumJoints(w->body);
  w->depth = 1;
  EXPECT_EQ(wheel_contact(terrain, w, 1), 0);
  EXPECT_EQ(w->depth, 0);
  EXPECT_EQ(dBodyGetNumJoints(w->body), joints);
  const dReal *f = dBodyGetForce(w->body);
  EXPECT_EQ(f[0], 0);
  EXPECT_EQ(f[1], 0);
  EXPECT_EQ(f[2], 0);
  EXPECT_EQ(wheel_contact_query(terrain, w).touched, 0);
}

TEST_F(WheelContactTest, TouchingWheelMakesOneJointAndRollingResistance) {
  const BikeInfo *info = bike_info(bike->model);
  float outer = info->rear_ring_radius + info->rear_tube_radius;
  WheelContact *w = rear_at(outer - 0.1f);
  // Sliding backward at 3 ft/s without spinning.
  dBodySetLinearVel(w->body, 0, 0, 3);
  int joints = dBodyGetNumJoints(w->body);
  WheelQuery q = wheel_contact_query(terrain, w);
  EXPECT_EQ(q.touched, 1);
  EXPECT_NEAR(q.depth, 0.1f, 1e-4f);
  EXPECT_EQ(dBodyGetNumJoints(w->body), joints);  // the query adds nothing

  ASSERT_EQ(wheel_contact(terrain, w, 1), 1);
  EXPECT_EQ(dBodyGetNumJoints(w->body), joints + 1);
  EXPECT_NEAR(w->depth, 0.1f, 1e-4f);
  expect_vec(w->normal, 0, 1, 0);
  expect_vec(w->point, 10, -0.1f, 10, 1e-4f);
  expect_vec(w->velocity, 0, 0, 3, 1e-4f);
  // Default ground: resistance 5 at no squash to 15 when bottomed, against
  // the slide, at full size above 1 ft/s.
  float f = 0.1f / info->rear_tube_radius;
  const dReal *force = dBodyGetForce(w->body);
  EXPECT_NEAR(force[2], -(5 + 10 * f), 1e-3);
  EXPECT_NEAR(force[0], 0, 1e-6);

  // Below 1 ft/s the resistance falls off with the sliding speed.
  dJointGroupEmpty(physics_contact_group());
  w = rear_at(outer - 0.1f);
  dBodySetLinearVel(w->body, 0.5, 0, 0);
  ASSERT_EQ(wheel_contact(terrain, w, 1), 1);
  EXPECT_NEAR(dBodyGetForce(w->body)[0], -0.5 * (5 + 10 * f), 1e-3);
}

TEST_F(WheelContactTest, DeepestTriangleWinsOnShapedGround) {
  // The ground rises 0.6 ft between x = 10 and 11 and stays up: a wheel
  // over the rise touches the higher side, pushed away from it.
  for (int j = 0; j < terrain->verts_per_side; j++)
    for (int i = 11; i < terrain->verts_per_side; i++) terrain_set_height(terrain, i, j, 0.6f);
  const BikeInfo *info = bike_info(bike->model);
  float outer = info->rear_ring_radius + info->rear_tube_radius;
  WheelContact *w = rear_at(outer + 0.2f);
  dBodySetPosition(w->body, 10.8, outer + 0.2f, 10);
  ASSERT_EQ(wheel_contact(terrain, w, 1), 1);
  EXPECT_GT(w->depth, 0.2f);
  EXPECT_LT(w->depth, 0.6f);
  EXPECT_GT(w->point[0], 10.8f);
  EXPECT_LT(w->normal[0], -0.1f);
  EXPECT_GT(w->normal[1], 0.5f);
  EXPECT_NEAR(w->normal[0] * w->normal[0] + w->normal[1] * w->normal[1] + w->normal[2] * w->normal[2], 1, 1e-5);
}

// The query stops at the first triangle of the walk that the face cases
// find penetrating; the cells it passes over must not hide one.
TEST_F(WheelContactTest, QueryFindsTheFirstPenetratingTriangle) {
  uint32_t seed = 4242;
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<float>(seed >> 8) / 16777216.0f;
  };
  int verts = terrain->verts_per_side;
  for (int j = 0; j < verts; j++)
    for (int i = 0; i < verts; i++)
      terrain_set_height(terrain, i, j, 0.8f * std::sin(0.7f * i) * std::cos(0.5f * j) + 0.2f * next());
  WheelContact *w = &bike->wheels[1];
  int touched = 0;
  for (int trial = 0; trial < 1500; trial++) {
    float heading = 6.2831853f * next(), lean = 0.8f * (next() - 0.5f);
    float a[3] = {std::cos(heading) * std::cos(lean), std::sin(lean), std::sin(heading) * std::cos(lean)};
    // A rotation whose first column is the axle.
    float up[3] = {0, 1, 0};
    float b[3] = {up[1] * a[2] - up[2] * a[1], up[2] * a[0] - up[0] * a[2], up[0] * a[1] - up[1] * a[0]};
    float bl = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
    for (float &v : b) v /= bl;
    float c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    dMatrix3 m = {a[0], b[0], c[0], 0, a[1], b[1], c[1], 0, a[2], b[2], c[2], 0};
    float W[3] = {4 + 24 * next(), 0, 4 + 24 * next()};
    W[1] = terrain_height(terrain, W[0], W[2]) + w->ring_radius + w->tube_radius + 0.3f - 0.9f * next();
    dBodySetPosition(w->body, W[0], W[1], W[2]);
    dBodySetRotation(w->body, m);
    // The world axle and centre exactly as the contact reads them.
    const dReal *p = dBodyGetPosition(w->body);
    dVector3 axle;
    dBodyVectorToWorld(w->body, 1, 0, 0, axle);
    float Wb[3], ab[3];
    for (int k = 0; k < 3; k++) {
      Wb[k] = static_cast<float>(p[k]);
      ab[k] = static_cast<float>(axle[k]);
    }
    WalkResult ref = walk_every_triangle(terrain, Wb, ab, w->ring_radius, w->tube_radius, 0);
    const TorusHit *first = nullptr;
    for (const TorusHit &e : ref.each)
      if (e.depth > 0) {
        first = &e;
        break;
      }
    WheelQuery q = wheel_contact_query(terrain, w);
    ASSERT_EQ(q.touched, first ? 1 : 0) << "trial " << trial;
    if (!first) continue;
    touched++;
    EXPECT_EQ(q.depth, first->depth) << "trial " << trial;
    for (int k = 0; k < 3; k++) EXPECT_EQ(q.point[k], first->point[k]) << "trial " << trial;
  }
  EXPECT_GT(touched, 300);
  EXPECT_LT(touched, 1400);
}

TEST_F(WheelContactTest, PlacingPutsTheTyresJustClearOfTheGround) {
  // A slope rising 1 ft per 4 ft toward +z, and the bike sunk into it.
  for (int j = 0; j < terrain->verts_per_side; j++)
    for (int i = 0; i < terrain->verts_per_side; i++) terrain_set_height(terrain, i, j, 0.25f * j);
  const BikeInfo *info = bike_info(bike->model);
  reset_bike(bike);
  move_bike(bike, 16 - info->frame_position[0], 1, 12 - info->frame_position[2]);
  BikeState *bikes[1] = {bike};
  place_bikes_on_ground(bikes, 1, terrain);
  EXPECT_EQ(wheel_contact_query(terrain, &bike->wheels[0]).touched, 0);
  EXPECT_EQ(wheel_contact_query(terrain, &bike->wheels[1]).touched, 0);
  // The rear tyre sits on the higher ground, within one lift of it.
  const dReal *p = dBodyGetPosition(bike->bodies[bike_rear_wheel]);
  float gap = static_cast<float>(p[1]) - info->rear_ring_radius - info->rear_tube_radius -
              terrain_height(terrain, static_cast<float>(p[0]), static_cast<float>(p[2]));
  EXPECT_GT(gap, 0);
  EXPECT_LT(gap, 0.25f);
}
