// Height field queries on small hand-built grids, the "terrain.hf" reader,
// and the tile table, tile map and surface curves.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "assets/file.h"
#include "platform/log.h"
#include "test_util.h"
#include "track/terrain.h"
#include "track/tiles.h"

namespace {

// A 9 x 9 grid (size exponent 2) with spacing 2 and the given height function.
template <typename F>
Terrain *grid(F height, float spacing = 2.0f, int size_exp = 2) {
  Terrain *t = terrain_create(size_exp, spacing, 0, 0);
  for (int j = 0; j < t->verts_per_side; j++)
    for (int i = 0; i < t->verts_per_side; i++) {
      t->heights[i + j * t->verts_per_side] = height(i, j);
      t->loaded_heights[i + j * t->verts_per_side] = height(i, j);
    }
  return t;
}

float pseudo_random_height(int i, int j) { return static_cast<float>(((i * 7919 + j * 104729) % 97)) * 0.1f; }

float h(const Terrain *t, int i, int j) { return terrain_vertex_height(t, i, j); }

std::string last_message(int newest = 0) {
  const char *m = message_line(newest);
  std::string s = m ? m : "";
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

DataFile *open_text(const std::string &dir, const char *name, const std::string &content) {
  std::string path = dir + "/" + name;
  write_text_file(path, content);
  return dfile_open(path.c_str(), "rb");
}

}  // namespace

TEST(TerrainHeight, EachTriangleOfBothParities) {
  Terrain *t = grid(pseudo_random_height);
  const float n = t->spacing;
  // Odd cell (1, 0): diagonal from (2, 0) to (1, 1).
  float a = h(t, 1, 0), b = h(t, 2, 0), c = h(t, 1, 1), d = h(t, 2, 1);
  EXPECT_NEAR(terrain_height(t, (1 + 0.25f) * n, 0.25f * n), a + 0.25f * (b - a) + 0.25f * (c - a), 1e-5);
  EXPECT_NEAR(terrain_height(t, (1 + 0.75f) * n, 0.75f * n), d + 0.25f * (c - d) + 0.25f * (b - d), 1e-5);
  // Even cell (2, 0): diagonal from (2, 0) to (3, 1).
  float e00 = h(t, 2, 0), e10 = h(t, 3, 0), e01 = h(t, 2, 1), e11 = h(t, 3, 1);
  EXPECT_NEAR(terrain_height(t, (2 + 0.75f) * n, 0.25f * n), e10 + 0.25f * (e00 - e10) + 0.25f * (e11 - e10), 1e-5);
  EXPECT_NEAR(terrain_height(t, (2 + 0.25f) * n, 0.75f * n), e01 + 0.25f * (e11 - e01) + 0.25f * (e00 - e01), 1e-5);
  // On the even diagonal both triangles agree; just off it on either side too.
  EXPECT_NEAR(terrain_height(t, 2.5f * n, 0.5f * n), 0.5f * (e00 + e11), 1e-5);
  EXPECT_NEAR(terrain_height(t, 2.5f * n + 1e-4f, 0.5f * n), terrain_height(t, 2.5f * n - 1e-4f, 0.5f * n), 1e-3);
  // Vertices give their own heights exactly.
  EXPECT_FLOAT_EQ(terrain_height(t, 3 * n, 5 * n), h(t, 3, 5));
  terrain_free(t);
}

TEST(TerrainHeight, OutsideTheGridContinuesTheBorder) {
  Terrain *t = grid(pseudo_random_height);
  float e = t->extent;
  EXPECT_FLOAT_EQ(terrain_height(t, -10, 3.0f), terrain_height(t, 0, 3.0f));
  EXPECT_FLOAT_EQ(terrain_height(t, e + 50, 7.0f), terrain_height(t, e, 7.0f));
  EXPECT_FLOAT_EQ(terrain_height(t, 5.0f, -1e6f), terrain_height(t, 5.0f, 0));
  EXPECT_FLOAT_EQ(terrain_height(t, -100, -100), h(t, 0, 0));
  EXPECT_FLOAT_EQ(terrain_height(t, e + 100, e + 100), h(t, 8, 8));
  // Absurd coordinates neither crash nor leave the grid's height range.
  for (float x : {1e30f, -1e30f, INFINITY, -INFINITY, NAN}) {
    float y = terrain_height(t, x, NAN);
    EXPECT_GE(y, 0.0f);
    EXPECT_LE(y, 9.7f);
    float n[3];
    terrain_normal(t, x, 3, n);
    EXPECT_FLOAT_EQ(n[1], 4.0f);
  }
  terrain_free(t);
}

TEST(TerrainNormal, FlatSlopedAndConsistentWithHeights) {
  Terrain *flat = grid([](int, int) { return 3.0f; });
  float n[3];
  terrain_normal(flat, 5.3f, 7.9f, n);
  EXPECT_FLOAT_EQ(n[0], 0);
  EXPECT_FLOAT_EQ(n[1], 4.0f);  // spacing squared
  EXPECT_FLOAT_EQ(n[2], 0);
  terrain_free(flat);

  // h = 0.5 x - 0.25 z: N * (-0.5 N, N, 0.25 N).
  Terrain *slope = grid([](int i, int j) { return 0.5f * 2 * i - 0.25f * 2 * j; });
  terrain_normal(slope, 6.1f, 3.3f, n);
  EXPECT_FLOAT_EQ(n[0], -2.0f);
  EXPECT_FLOAT_EQ(n[1], 4.0f);
  EXPECT_FLOAT_EQ(n[2], 1.0f);
  terrain_free(slope);

  // On bumpy ground the normal's gradient matches small height steps in
  // every triangle of both cell parities.
  Terrain *t = grid(pseudo_random_height);
  for (int cell = 0; cell < 4; cell++) {
    for (float fx : {0.2f, 0.7f}) {
      for (float fz : {0.15f, 0.65f}) {
        float x = (cell + fx) * 2, z = (1 + fz) * 2, d = 0.01f;
        terrain_normal(t, x, z, n);
        EXPECT_NEAR((terrain_height(t, x + d, z) - terrain_height(t, x, z)) / d, -n[0] / n[1], 2e-3);
        EXPECT_NEAR((terrain_height(t, x, z + d) - terrain_height(t, x, z)) / d, -n[2] / n[1], 2e-3);
      }
    }
  }
  terrain_free(t);
}

TEST(TerrainVertexNormal, AveragesTheTrianglesThatMeetThere) {
  Terrain *t = grid(pseudo_random_height);
  // Triangles found geometrically: every half-cell around the vertex that
  // has the vertex as a corner, with its upward unit normal.
  auto expected = [&](int vi, int vj, float out[3]) {
    float sum[3] = {0, 0, 0};
    int count = 0;
    for (int cj = vj - 1; cj <= vj; cj++) {
      for (int ci = vi - 1; ci <= vi; ci++) {
        int even = ((ci + cj) & 1) == 0;
        int tris[2][3][2];
        if (even) {
          int a[3][2] = {{ci, cj}, {ci, cj + 1}, {ci + 1, cj + 1}};
          int b[3][2] = {{ci + 1, cj + 1}, {ci + 1, cj}, {ci, cj}};
          memcpy(tris[0], a, sizeof a);
          memcpy(tris[1], b, sizeof b);
        } else {
          int a[3][2] = {{ci, cj}, {ci, cj + 1}, {ci + 1, cj}};
          int b[3][2] = {{ci + 1, cj + 1}, {ci + 1, cj}, {ci, cj + 1}};
          memcpy(tris[0], a, sizeof a);
          memcpy(tris[1], b, sizeof b);
        }
        for (auto &tri : tris) {
          int has = 0;
          float p[3][3];
          for (int k = 0; k < 3; k++) {
            has |= tri[k][0] == vi && tri[k][1] == vj;
            p[k][0] = tri[k][0] * 2.0f;
            p[k][1] = h(t, tri[k][0], tri[k][1]);
            p[k][2] = tri[k][1] * 2.0f;
          }
          if (!has) continue;
          float e1[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
          float e2[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
          float c[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
          float l = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
          for (int k = 0; k < 3; k++) sum[k] += c[k] / l;
          count++;
        }
      }
    }
    float l = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
    for (int k = 0; k < 3; k++) out[k] = sum[k] / l;
    return count;
  };
  for (int j = 1; j < 8; j++) {
    for (int i = 1; i < 8; i++) {
      float want[3], got[3];
      int count = expected(i, j, want);
      EXPECT_EQ(count, ((i + j) & 1) ? 4 : 8);
      terrain_vertex_normal(t, i, j, got);
      for (int k = 0; k < 3; k++) EXPECT_NEAR(got[k], want[k], 1e-5) << i << "," << j;
    }
  }
  // At the corner the clamped triangles count again: triangle 0 of row 0
  // six times and triangle 1 twice.
  float n0[3], n1[3], got[3];
  terrain_triangle_normal(t, 0, 0, n0);
  terrain_triangle_normal(t, 1, 0, n1);
  float sum[3] = {6 * n0[0] + 2 * n1[0], 6 * n0[1] + 2 * n1[1], 6 * n0[2] + 2 * n1[2]};
  float l = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
  terrain_vertex_normal(t, 0, 0, got);
  for (int k = 0; k < 3; k++) EXPECT_NEAR(got[k], sum[k] / l, 1e-5);
  terrain_free(t);
}

TEST(TerrainSetHeight, DirtyBitsLockAndRange) {
  Terrain *t = grid([](int, int) { return 1.0f; });
  t->max_height = 1;
  t->min_height = 1;
  const int verts = t->verts_per_side, columns = 2 * verts - 2;
  // Clear every cached normal and renderer bit.
  for (int j = 0; j < verts - 1; j++)
    for (int k = 0; k < columns; k++) {
      float n[3];
      terrain_triangle_normal(t, k, j, n);
    }
  memset(t->shading_dirty, 0, sizeof(uint32_t) * ((verts * verts + 31) / 32));
  memset(t->normal_dirty, 0, sizeof(uint32_t) * ((verts * verts + 31) / 32));

  t->locked = 1;
  terrain_set_height(t, 4, 4, 9);
  EXPECT_FLOAT_EQ(h(t, 4, 4), 1);
  EXPECT_EQ(t->modified, 0);
  for (int k = 0; k < columns * (verts - 1); k++) ASSERT_EQ(terrain_bit(t->triangle_dirty, k), 0);
  for (int k = 0; k < verts * verts; k++) ASSERT_EQ(terrain_bit(t->shading_dirty, k), 0);

  t->locked = 0;
  terrain_set_height(t, -1, 4, 9);
  terrain_set_height(t, 4, verts, 9);
  EXPECT_EQ(t->modified, 0);
  terrain_set_height(t, 4, 3, 9);
  EXPECT_FLOAT_EQ(h(t, 4, 3), 9);
  EXPECT_EQ(t->modified, 7);
  EXPECT_FLOAT_EQ(t->max_height, 9);
  EXPECT_FLOAT_EQ(t->loaded_heights[4 + 3 * verts], 1);
  for (int j = 0; j < verts - 1; j++)
    for (int k = 0; k < columns; k++)
      EXPECT_EQ(terrain_bit(t->triangle_dirty, k + columns * j), (j >= 2 && j <= 3 && k >= 6 && k <= 9) ? 1 : 0)
          << k << "," << j;
  for (int j = 0; j < verts; j++)
    for (int i = 0; i < verts; i++) {
      int near = std::abs(i - 4) <= 1 && std::abs(j - 3) <= 1;
      EXPECT_EQ(terrain_bit(t->shading_dirty, i + j * verts), near);
      EXPECT_EQ(terrain_bit(t->normal_dirty, i + j * verts), near);
    }
  // The vertex normal next to the raised vertex now leans away from it.
  float n[3];
  terrain_vertex_normal(t, 3, 3, n);
  EXPECT_LT(n[0], -0.1f);
  // A corner write clamps its neighbourhood.
  terrain_set_height(t, 0, 0, -2);
  EXPECT_FLOAT_EQ(t->min_height, -2);
  EXPECT_EQ(terrain_bit(t->triangle_dirty, 0), 1);
  terrain_free(t);
}

TEST(TerrainSphereContact, FaceSlopeAndDeepCases) {
  Terrain *flat = grid([](int, int) { return 0.0f; });
  TerrainContact c;
  float centre[3] = {5.3f, 0.5f, 5.1f};
  ASSERT_TRUE(terrain_sphere_contact(flat, centre, 1.0f, &c));
  EXPECT_NEAR(c.depth, 0.5f, 1e-6);
  EXPECT_NEAR(c.normal[1], 1.0f, 1e-6);
  EXPECT_NEAR(c.point[0], 5.3f, 1e-6);
  EXPECT_NEAR(c.point[1], -0.5f, 1e-6);
  // Clear of the ground, or exactly touching: no contact.
  centre[1] = 1.5f;
  EXPECT_FALSE(terrain_sphere_contact(flat, centre, 1.0f, &c));
  centre[1] = 1.0f;
  EXPECT_FALSE(terrain_sphere_contact(flat, centre, 1.0f, &c));
  // Deep: the centre three feet under the ground.
  float deep[3] = {5.3f, -3.0f, 5.1f};
  ASSERT_TRUE(terrain_sphere_contact(flat, deep, 1.0f, &c));
  EXPECT_NEAR(c.depth, 4.0f, 1e-5);
  EXPECT_NEAR(c.normal[1], 1.0f, 1e-6);
  EXPECT_NEAR(c.point[1], -4.0f, 1e-5);
  // Outside the grid the border plane still holds the sphere up.
  float outside[3] = {-3.0f, 0.25f, 4.0f};
  ASSERT_TRUE(terrain_sphere_contact(flat, outside, 1.0f, &c));
  EXPECT_NEAR(c.depth, 0.75f, 1e-5);
  // Nonsense input is no contact.
  float bad[3] = {NAN, 0, 0};
  EXPECT_FALSE(terrain_sphere_contact(flat, bad, 1.0f, &c));
  float far[3] = {1e30f, 0, -1e30f};
  terrain_sphere_contact(flat, far, 1.0f, &c);  // must simply return
  EXPECT_FALSE(terrain_sphere_contact(flat, centre, 0.0f, &c));
  terrain_free(flat);

  // Plane h = 0.5 x: the centre one foot above the surface vertically.
  Terrain *slope = grid([](int i, int) { return 0.5f * 2 * i; });
  float s[3] = {5.0f, 2.5f + 1.0f, 5.0f};
  ASSERT_TRUE(terrain_sphere_contact(slope, s, 1.5f, &c));
  float distance = 1.0f / std::sqrt(1.25f);
  EXPECT_NEAR(c.depth, 1.5f - distance, 1e-5);
  EXPECT_NEAR(c.normal[0], -0.5f / std::sqrt(1.25f), 1e-5);
  EXPECT_NEAR(c.normal[1], 1.0f / std::sqrt(1.25f), 1e-5);
  EXPECT_NEAR(c.normal[2], 0, 1e-6);
  terrain_free(slope);
}

TEST(TerrainSphereContact, EdgeAndVertexCases) {
  // A sharp ridge along x = 4 (spacing 1), falling 10 per foot either side.
  Terrain *ridge = grid([](int i, int) { return 10.0f - 10.0f * std::abs(i - 4); }, 1.0f);
  TerrainContact c;
  float centre[3] = {4.05f, 10.5f, 4.5f};
  ASSERT_TRUE(terrain_sphere_contact(ridge, centre, 1.0f, &c));
  float l = std::sqrt(0.05f * 0.05f + 0.5f * 0.5f);
  EXPECT_NEAR(c.depth, 1.0f - l, 1e-5);
  EXPECT_NEAR(c.normal[0], 0.05f / l, 1e-4);
  EXPECT_NEAR(c.normal[1], 0.5f / l, 1e-4);
  EXPECT_NEAR(c.normal[2], 0, 1e-5);
  EXPECT_NEAR(c.point[0], 4.05f - 0.05f / l, 1e-4);
  terrain_free(ridge);

  // A spike at vertex (4, 4): the sphere sits on its tip.
  Terrain *spike = grid([](int i, int j) { return (i == 4 && j == 4) ? 10.0f : 0.0f; }, 1.0f);
  float tip[3] = {4.0f, 10.5f, 4.0f};
  ASSERT_TRUE(terrain_sphere_contact(spike, tip, 1.0f, &c));
  EXPECT_NEAR(c.depth, 0.5f, 1e-5);
  EXPECT_NEAR(c.normal[1], 1.0f, 1e-5);
  EXPECT_NEAR(c.point[1], 9.5f, 1e-5);
  // Beside the tip, the nearest feature is still the tip vertex.
  float side[3] = {4.0f + 0.3f, 10.4f, 4.0f};
  ASSERT_TRUE(terrain_sphere_contact(spike, side, 1.0f, &c));
  float d = std::sqrt(0.3f * 0.3f + 0.4f * 0.4f);
  EXPECT_NEAR(c.depth, 1.0f - d, 1e-4);
  EXPECT_NEAR(c.normal[0], 0.3f / d, 1e-3);
  terrain_free(spike);
}

// The contact skips triangles that lie wholly under the sphere; it must
// find exactly what testing every triangle of the cells finds.
TEST(TerrainSphereContact, SameAsTestingEveryTriangle) {
  uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<float>(seed >> 8) / 16777216.0f;
  };
  // Rolling ground with noise, a step and a spike: every kind of triangle.
  Terrain *t = grid(
      [&](int i, int j) {
        float y = 1.5f * std::sin(0.6f * i) + std::cos(0.45f * j) + 0.4f * next();
        if (i > 20) y += 1.2f;
        if (i == 9 && j == 12) y += 4;
        return y;
      },
      0.5f, 4);
  int hits = 0;
  for (int trial = 0; trial < 4000; trial++) {
    float radius = trial % 10 == 0 ? 2 + 3 * next() : 0.1f + 0.8f * next();
    float c[3] = {-1 + 18 * next(), 0, -1 + 18 * next()};
    c[1] = terrain_height(t, c[0], c[2]) + (next() * 4.0f - 1.2f) * radius;
    int c0 = static_cast<int>(std::floor((c[0] - radius) / t->spacing));
    int c1 = static_cast<int>(std::ceil((c[0] + radius) / t->spacing));
    int r0 = static_cast<int>(std::floor((c[2] - radius) / t->spacing));
    int r1 = static_cast<int>(std::ceil((c[2] + radius) / t->spacing));
    float best = 0, point[3] = {}, normal[3] = {};
    for (int j = r0; j < r1; j++)
      for (int i = c0; i < c1; i++) {
        int p = (i & 1) == (j & 1) ? 1 : 0;
        const int corners[2][3][2] = {{{i, j}, {i, j + 1}, {i + 1, j + p}},
                                      {{i + 1, j + 1}, {i + 1, j}, {i, j + 1 - p}}};
        for (const auto &half : corners) {
          float tri[3][3];
          for (int k = 0; k < 3; k++) {
            tri[k][0] = static_cast<float>(half[k][0]) * t->spacing;
            tri[k][1] = h(t, half[k][0], half[k][1]);
            tri[k][2] = static_cast<float>(half[k][1]) * t->spacing;
          }
          float q[3], n[3];
          float d = sphere_triangle_depth(c, radius, tri, q, n);
          if (d > best) {
            best = d;
            memcpy(point, q, sizeof q);
            memcpy(normal, n, sizeof n);
          }
        }
      }
    TerrainContact got;
    int touched = terrain_sphere_contact(t, c, radius, &got);
    ASSERT_EQ(touched, best > 0 ? 1 : 0) << "trial " << trial;
    if (!touched) continue;
    hits++;
    EXPECT_EQ(got.depth, best) << "trial " << trial;
    for (int k = 0; k < 3; k++) EXPECT_EQ(got.point[k], point[k]) << "trial " << trial;
    // The reference normal before the contact's clean-up.
    if (normal[1] >= 0) {
      float l = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
      for (int k = 0; k < 3; k++) EXPECT_EQ(got.normal[k], normal[k] / l) << "trial " << trial;
    }
  }
  // Both outcomes were exercised.
  EXPECT_GT(hits, 1000);
  EXPECT_LT(hits, 3000);
  terrain_free(t);
}

// A ball reported clear of the ground holds no sphere that touches it; a
// ball resting on the ground is never reported clear.
TEST(TerrainSphereContact, ClearBallHoldsNoTouchingSphere) {
  uint32_t seed = 99;
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<float>(seed >> 8) / 16777216.0f;
  };
  Terrain *t = grid([&](int i, int j) { return 2 * std::sin(0.5f * i) * std::cos(0.3f * j) + 0.5f * next(); }, 0.5f, 4);
  int clear = 0;
  for (int trial = 0; trial < 2000; trial++) {
    float radius = 0.3f + 2 * next();
    float c[3] = {16 * next(), 0, 16 * next()};
    c[1] = terrain_height(t, c[0], c[2]) + radius * (3 * next() - 0.5f);
    if (!terrain_ball_clear(t, c, radius)) continue;
    clear++;
    TerrainContact contact;
    ASSERT_FALSE(terrain_sphere_contact(t, c, radius, &contact)) << "trial " << trial;
    for (int k = 0; k < 10; k++) {
      // A smaller sphere anywhere inside the ball.
      float inner = radius * next();
      float dir[3] = {next() - 0.5f, next() - 0.5f, next() - 0.5f};
      float l = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
      float off = (radius - inner) * next() / (l > 0 ? l : 1);
      float p[3] = {c[0] + dir[0] * off, c[1] + dir[1] * off, c[2] + dir[2] * off};
      ASSERT_FALSE(terrain_sphere_contact(t, p, inner, &contact)) << "trial " << trial;
    }
  }
  EXPECT_GT(clear, 150);
  // Resting on the ground, or under it: never clear.
  float on[3] = {5, terrain_height(t, 5, 5) + 0.5f, 5};
  EXPECT_FALSE(terrain_ball_clear(t, on, 0.6f));
  on[1] -= 3;
  EXPECT_FALSE(terrain_ball_clear(t, on, 0.6f));
  terrain_free(t);
}

TEST(TerrainFile, RawSamplesAndTheirRange) {
  std::string dir = make_temp_dir("terrain");
  const int verts = 129;
  std::string content = "6 2.0 -10 30\n:";
  for (int j = 0; j < verts; j++)
    for (int i = 0; i < verts; i++) {
      int v = (i == 1 && j == 0) ? 65535 : (i * 300 + j * 7) & 0xffff;
      content += static_cast<char>(v & 255);
      content += static_cast<char>(v >> 8);
    }
  write_text_file(dir + "/terrain.hf", content);
  Terrain *t = load_terrain_file((dir + "/terrain.hf").c_str(), (dir + "/terrain.png").c_str());
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->verts_per_side, verts);
  EXPECT_EQ(t->tiles_per_side, 64);
  EXPECT_FLOAT_EQ(t->extent, 256.0f);
  EXPECT_FLOAT_EQ(t->tile_size, 4.0f);
  EXPECT_FLOAT_EQ(h(t, 0, 0), -10.0f);
  EXPECT_FLOAT_EQ(h(t, 1, 0), 30.0f);
  EXPECT_FLOAT_EQ(h(t, 3, 2), static_cast<float>(-10.0L + 914 * 40.0L / 65535));
  EXPECT_EQ(memcmp(t->heights, t->loaded_heights, sizeof(float) * verts * verts), 0);
  EXPECT_EQ(terrain_bit(t->triangle_dirty, 2 * 128 * 128 - 1), 1);
  terrain_free(t);

  // A cut-off sample block loads, the missing samples at the minimum.
  write_text_file(dir + "/short.hf", content.substr(0, 14 + verts * 2 * 10 + 1));
  t = load_terrain_file((dir + "/short.hf").c_str(), nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_NE(last_message().find("cut short"), std::string::npos);
  EXPECT_FLOAT_EQ(h(t, 3, 2), static_cast<float>(-10.0L + 914 * 40.0L / 65535));
  EXPECT_FLOAT_EQ(h(t, 5, 100), -10.0f);
  terrain_free(t);
}

TEST(TerrainFile, BadHeadersAreRefused) {
  std::string dir = make_temp_dir("terrain-bad");
  for (const char *header : {"5 2.0 0 10\n:", "12 2.0 0 10\n:", "2000000000 1 0 1\n:", "-3 2 0 1\n", "6 0 0 10\n:",
                             "6 -1 0 10\n:", "6 nan 0 10\n:", "6 2 inf 10\n:", "6 2.0 0\n", "hello", ""}) {
    write_text_file(dir + "/terrain.hf", header);
    message_clear();
    Terrain *t = load_terrain_file((dir + "/terrain.hf").c_str(), nullptr);
    EXPECT_EQ(t, nullptr) << header;
    EXPECT_EQ(last_message(0), "Error reading heights") << header;
    EXPECT_EQ(last_message(1), "Bad height field parameters") << header;
  }
  message_clear();
  EXPECT_EQ(load_terrain_file((dir + "/missing.hf").c_str(), nullptr), nullptr);
  EXPECT_EQ(last_message(), "Can't open '" + dir + "/missing.hf'");
}

namespace {

// Writes a grey PNG with the plain libpng interface (no gamma chunk, as
// terrain tools write them).
void write_grey_png(const std::string &path, int width, int height, int depth,
                    const std::vector<uint16_t> &samples) {
  FILE *f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, width, height, depth, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<uint8_t> row(width * 2);
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      uint16_t v = samples[y * width + x];
      if (depth == 16) {
        row[2 * x] = static_cast<uint8_t>(v >> 8);
        row[2 * x + 1] = static_cast<uint8_t>(v);
      } else {
        row[x] = static_cast<uint8_t>(v);
      }
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  fclose(f);
}

}  // namespace

TEST(TerrainFile, HeightsFromTheImage) {
  std::string dir = make_temp_dir("terrain-png");
  std::string hf = dir + "/terrain.hf", png = dir + "/terrain.png";
  write_text_file(hf, "6 1.0 0 65535\n");
  // Smaller than the grid: the last column and row repeat.
  const int w = 100, ht = 50;
  std::vector<uint16_t> samples(w * ht);
  for (int y = 0; y < ht; y++)
    for (int x = 0; x < w; x++) samples[y * w + x] = static_cast<uint16_t>(x * 600 + y * 3);
  write_grey_png(png, w, ht, 16, samples);
  Terrain *t = load_terrain_file(hf.c_str(), png.c_str());
  ASSERT_NE(t, nullptr);
  EXPECT_FLOAT_EQ(h(t, 0, 0), 0);
  EXPECT_FLOAT_EQ(h(t, 7, 9), 7 * 600 + 9 * 3);
  EXPECT_FLOAT_EQ(h(t, 120, 9), 99 * 600 + 9 * 3);
  EXPECT_FLOAT_EQ(h(t, 7, 128), 7 * 600 + 49 * 3);
  terrain_free(t);

  // 8-bit samples are widened by repeating the byte.
  std::vector<uint16_t> bytes(w * ht, 0x12);
  write_grey_png(png, w, ht, 8, bytes);
  t = load_terrain_file(hf.c_str(), png.c_str());
  ASSERT_NE(t, nullptr);
  EXPECT_FLOAT_EQ(h(t, 5, 5), 0x1212);
  terrain_free(t);

  // Neither samples nor a readable image: flat at the minimum.
  write_text_file(png, "not a png");
  write_text_file(hf, "6 1.0 -4 65535\n");
  t = load_terrain_file(hf.c_str(), png.c_str());
  ASSERT_NE(t, nullptr);
  EXPECT_FLOAT_EQ(h(t, 64, 64), -4);
  terrain_free(t);
}

TEST(Tiles, FrictionAndRollingResistanceCurves) {
  Tile tile;
  tile_defaults(&tile);
  EXPECT_FLOAT_EQ(friction_at(&tile, 0), 1.0f);
  EXPECT_FLOAT_EQ(friction_at(&tile, 50), 1.0f);
  tile.friction[0] = {0.5f, 2};
  tile.friction[1] = {1.2f, 6};
  EXPECT_FLOAT_EQ(friction_at(&tile, 1), 0.5f);
  EXPECT_FLOAT_EQ(friction_at(&tile, 10), 1.2f);
  EXPECT_FLOAT_EQ(friction_at(&tile, 4), 0.7625f);
  EXPECT_FLOAT_EQ(friction_at(&tile, -4), 0.7625f);

  float out[2];
  roll_resist_at(&tile, 3, out);
  EXPECT_FLOAT_EQ(out[0], 5);
  EXPECT_FLOAT_EQ(out[1], 15);
  tile.roll_resist[0] = {2, 4, 10};
  tile.roll_resist[1] = {6, 8, 20};
  roll_resist_at(&tile, 5, out);
  EXPECT_FLOAT_EQ(out[0], 2);
  roll_resist_at(&tile, 12.5f, out);
  EXPECT_FLOAT_EQ(out[0], 3);
  EXPECT_FLOAT_EQ(out[1], 5);
  roll_resist_at(&tile, 100, out);
  EXPECT_FLOAT_EQ(out[1], 8);
}

TEST(Tiles, TileinfoKeywordsDefaultsAndWarnings) {
  std::string dir = make_temp_dir("tileinfo");
  Terrain *t = terrain_create(2, 2, 0, 0);
  std::string name60(60, 'n');
  DataFile *f = open_text(dir, "tileinfo",
                          "  texture @tiles/dirt.png\n"
                          "friction 1.2 6\r\n"
                          "friction 0.5 2\n"
                          "friction 0.9\n"
                          "roll_resist 3 4 -1\n"
                          "roost count=7 texture=\"@my roost.png\" splash=1 fade_a=-256 r=300 bogus=1 dig=x\n"
                          "erode_limit 0 1 1\n"
                          "erode_limit 0 0.5 0.5\n"
                          "erode_lower abc\n"
                          "erode_upper 99\n"
                          "wibble 3\n"
                          "addtile\n"
                          "\n"
                          "name " + name60 + "\n"
                          "friction -3 0\n"
                          "addtile\n"
                          "name dropped\n");
  ASSERT_NE(f, nullptr);
  message_clear();
  load_tileinfo(t, f);
  dfile_close(f);
  ASSERT_EQ(t->tile_count, 2);
  const Tile &a = t->tiles[0];
  EXPECT_STREQ(a.tile_name, "@tiles/dirt.png");
  // Sorted by key; the bad third point was not counted.
  EXPECT_FLOAT_EQ(a.friction[0].key, 2);
  EXPECT_FLOAT_EQ(a.friction[1].value, 1.2f);
  EXPECT_FLOAT_EQ(a.friction[2].key, 0);
  EXPECT_FLOAT_EQ(friction_at(&a, 4), 0.7625f);
  EXPECT_FLOAT_EQ(a.roll_resist[0].key, 1.0f / 1048576);
  EXPECT_EQ(a.roost[0].kind, 2);
  EXPECT_FLOAT_EQ(a.roost[0].count, 7);
  EXPECT_STREQ(a.roost[0].texture_path, "@my roost.png");
  EXPECT_EQ(a.roost[0].fade_a, 254);  // -256 per second is -2 per tic
  EXPECT_EQ(a.roost[0].r, 300 & 255);
  EXPECT_FLOAT_EQ(a.roost[0].dig, 1);
  EXPECT_EQ(a.roost[1].kind, 0);
  EXPECT_EQ(a.erode.erode_limit_count, 1);
  EXPECT_FLOAT_EQ(a.erode.erode_lower, 50);
  EXPECT_FLOAT_EQ(a.erode.erode_upper, 99);
  const Tile &b = t->tiles[1];
  EXPECT_EQ(std::string(b.tile_name), name60.substr(0, 47));
  EXPECT_FLOAT_EQ(b.friction[0].value, 0);
  EXPECT_FLOAT_EQ(b.friction[0].key, 1.0f / 1048576);
  EXPECT_EQ(b.erode.erode_limit_count, 2);
  EXPECT_FLOAT_EQ(b.erode.erode_limit_depth[1], 1);
  EXPECT_EQ(b.roost[0].kind, 0);

  std::vector<std::string> messages;
  for (int k = 0; k < 50; k++) messages.push_back(last_message(k));
  auto has = [&](const std::string &m) {
    for (auto &s : messages)
      if (s == m) return true;
    return false;
  };
  EXPECT_TRUE(has("tileinfo warning: Unknown identifier 'wibble'"));
  EXPECT_TRUE(has("tileinfo warning: bad erode_lower"));
  EXPECT_TRUE(has("tileinfo warning: erode_limit depth <= prev depth"));
  EXPECT_TRUE(has("tileinfo warning: bad friction parameters"));
  terrain_free(t);
}

TEST(Tiles, TileinfoLimitsAndEmptyTable) {
  std::string dir = make_temp_dir("tileinfo-limits");
  Terrain *t = terrain_create(2, 2, 0, 0);
  std::string text;
  for (int k = 0; k < 10; k++) text += "friction 1 " + std::to_string(k + 1) + "\n";
  for (int k = 0; k < 6; k++) text += "roost count=" + std::to_string(k) + "\n";
  for (int k = 0; k < 300; k++) text += "addtile\n";
  DataFile *f = open_text(dir, "tileinfo", text);
  load_tileinfo(t, f);
  dfile_close(f);
  EXPECT_EQ(t->tile_count, max_tiles);
  EXPECT_FLOAT_EQ(t->tiles[0].friction[7].key, 8);
  EXPECT_FLOAT_EQ(t->tiles[0].roost[3].count, 3);

  // A file without any "addtile" still leaves a usable tile.
  f = open_text(dir, "empty", "name lonely\n");
  load_tileinfo(t, f);
  dfile_close(f);
  EXPECT_EQ(t->tile_count, 1);
  EXPECT_FLOAT_EQ(friction_at(&t->tiles[0], 3), 1.0f);
  terrain_free(t);
}

TEST(Tiles, TexturelistTilemapAndLookup) {
  std::string dir = make_temp_dir("tilemap");
  Terrain *t = terrain_create(2, 2, 0, 0);  // 4 x 4 squares of 4 feet
  DataFile *f = open_text(dir, "texturelist", "0.8 4 12 tiles/grass.png\ntiles/mud.png\n\nsand.png");
  load_texturelist(t, f);
  dfile_close(f);
  ASSERT_EQ(t->tile_count, 3);
  EXPECT_STREQ(t->tiles[0].tile_name, "grass.png");
  EXPECT_STREQ(t->tiles[0].texture_path, "@tiles/grass.png");
  EXPECT_FLOAT_EQ(friction_at(&t->tiles[0], 9), 0.8f);
  float rr[2];
  roll_resist_at(&t->tiles[1], 1, rr);
  EXPECT_FLOAT_EQ(rr[0], 5);
  EXPECT_FLOAT_EQ(rr[1], 15);
  EXPECT_STREQ(t->tiles[2].tile_name, "sand.png");
  EXPECT_EQ(t->tiles[1].roost[0].kind, 1);

  // Indices beyond the table clamp to the last tile.
  std::string map = {0, 1, 2, 9, 1, 1, 1, 1, (char)200, 0, 0, 0, 2, 2, 2, 2};
  f = open_text(dir, "tilemap", map);
  message_clear();
  load_tilemap(t, f);
  dfile_close(f);
  EXPECT_EQ(last_message(), "tilemap warning: 2 squares name a missing tile, the last tile used");
  EXPECT_EQ(t->tilemap[3], 2);
  EXPECT_EQ(t->tilemap[8], 2);
  EXPECT_EQ(tile_at(t, 4.5f, 0.5f), 1);
  EXPECT_EQ(tile_at(t, 15.9f, 1), 2);
  EXPECT_EQ(tile_at(t, 1, 4.1f), 1);
  // Outside: the nearest border square.
  EXPECT_EQ(tile_at(t, -50, -50), 0);
  EXPECT_EQ(tile_at(t, 100, 1), 2);
  EXPECT_EQ(tile_at(t, 1, 100), 2);
  EXPECT_EQ(tile_at(t, NAN, NAN), 0);

  // A short map: the missing squares use tile 0.
  f = open_text(dir, "short", std::string(5, 1));
  message_clear();
  load_tilemap(t, f);
  dfile_close(f);
  EXPECT_EQ(t->tilemap[4], 1);
  EXPECT_EQ(t->tilemap[5], 0);
  EXPECT_EQ(t->tilemap[15], 0);
  EXPECT_NE(last_message().find("tilemap warning"), std::string::npos);
  terrain_free(t);
}

TEST(Tiles, TransitionCodes) {
  Terrain *t = terrain_create(2, 2, 0, 0);
  const char *names[] = {"grass.png", "dirt.png", "grass-dirt-0110.png", "dirt-alt2.png", "odd.png"};
  for (int k = 0; k < 5; k++) {
    tile_defaults(&t->tiles[k]);
    snprintf(t->tiles[k].tile_name, tile_name_size, "%s", names[k]);
  }
  t->tile_count = 5;
  compute_tile_codes(t);
  EXPECT_EQ(t->tiles[0].tile_code, 0 << 16 | 0 << 8);
  EXPECT_EQ(t->tiles[2].tile_code, 0 << 16 | 1 << 8 | 6);
  EXPECT_EQ(t->tiles[3].tile_code, 1 << 16 | 1 << 8);
  EXPECT_EQ(t->tiles[4].tile_code, 4 << 16 | 4 << 8);
  terrain_free(t);
}
