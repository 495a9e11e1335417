// The scene's arithmetic without a window: the projection's extents, the
// ghosts' fade, the billboards' sort and regrouping, and where lens flares
// land and whether the frame buffer lets them show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "render/billboard_draw.h"
#include "render/flares.h"
#include "render/scene.h"
#include "render/view.h"
#include "track/objects.h"

namespace {

TEST(SceneProjection, WideWindowsSeeMoreToTheSidesNotMoreUpAndDown) {
  ViewExtents square = view_extents_for(1024, 768, 90, 0.25f, 5000);
  ViewExtents wide = view_extents_for(1920, 1080, 90, 0.25f, 5000);
  ViewExtents tall = view_extents_for(600, 800, 90, 0.25f, 5000);
  // The field of view is the horizontal angle of a 4:3 window.
  EXPECT_NEAR(square.xext, 1.0f, 1e-5f);
  EXPECT_NEAR(square.yext, 0.75f, 1e-5f);
  EXPECT_NEAR(wide.yext, square.yext, 1e-5f);
  EXPECT_NEAR(wide.xext, 0.75f * 1920 / 1080, 1e-5f);
  // A narrower window keeps the horizontal extent instead.
  EXPECT_NEAR(tall.xext, 1.0f, 1e-5f);
  EXPECT_NEAR(tall.yext, 800.0f / 600, 1e-5f);
}

TEST(SceneGhosts, FadeBetweenHalfTheDistanceAndTheWhole) {
  const float G = 40;
  EXPECT_FLOAT_EQ(ghost_fade(0, G), 0);
  EXPECT_FLOAT_EQ(ghost_fade(G / 2, G), 0);
  EXPECT_FLOAT_EQ(ghost_fade(1.5f * G / 2, G), 0.5f);  // drawn half transparent in the second pass
  EXPECT_FLOAT_EQ(ghost_fade(G, G), 1);
  EXPECT_FLOAT_EQ(ghost_fade(10 * G, G), 1);
  EXPECT_FLOAT_EQ(ghost_fade(1, 0), 1);  // no fade distance: never faded
}

// The camera at the origin looking along -z (right x, up y), 90 degrees
// wide in a 4:3 window: the side planes are x = +-depth, y = +-0.75 depth.
TEST(SceneCulling, SpheresBesideOrBehindTheCameraAreSkippedAndTouchingOnesKept) {
  SceneView view = {{0, 0, 0}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, 90, -1, 0};
  ViewExtents e = view_extents_for(1024, 768, 90, 0.25f, 5000);
  const float r = 5.5f;
  auto in = [&](float x, float y, float z) {
    float c[3] = {x, y, z};
    return sphere_in_view(c, r, view, e);
  };
  EXPECT_TRUE(in(0, 0, -30));   // straight ahead
  EXPECT_TRUE(in(0, 0, 0));     // round the eye
  EXPECT_TRUE(in(0, 0, 5));     // behind, but reaching past the near plane
  EXPECT_FALSE(in(0, 0, 6));    // wholly behind
  EXPECT_FALSE(in(0, 0, 200));
  // The right plane x = depth has the normal (1, 0, 1)/sqrt 2: at depth 30
  // a sphere reaches into the view while its centre is within r sqrt 2 of it.
  const float reach = r * std::sqrt(2.0f);
  EXPECT_TRUE(in(30 + reach - 0.05f, 0, -30));
  EXPECT_FALSE(in(30 + reach + 0.05f, 0, -30));
  EXPECT_FALSE(in(-30 - reach - 0.05f, 0, -30));
  // Up and down the planes are steeper: y = 0.75 depth.
  const float up = r * std::sqrt(1 + 0.75f * 0.75f);
  EXPECT_TRUE(in(0, 22.5f + up - 0.05f, -30));
  EXPECT_FALSE(in(0, 22.5f + up + 0.05f, -30));
  EXPECT_FALSE(in(0, -22.5f - up - 0.05f, -30));
  // A turned camera: looking along +x, so -x is behind it.
  SceneView turned = {{0, 0, 0}, {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}}, 90, -1, 0};
  float ahead[3] = {40, 0, 0}, behind[3] = {-40, 0, 0};
  EXPECT_TRUE(sphere_in_view(ahead, r, turned, e));
  EXPECT_FALSE(sphere_in_view(behind, r, turned, e));
}

TEST(SceneBillboards, KeysGrowTowardTheCameraAndTheLevelOneIsCulled) {
  const float back[3] = {0, 0, 1};  // the camera looks along -z
  const float camera[3] = {5, 2, 100};
  const float level[3] = {-30, 7, 100};  // in the camera's own plane
  const float ahead[3] = {5, 2, 90}, behind[3] = {5, 2, 110};
  uint32_t own = billboard_key(back, camera);
  EXPECT_EQ(billboard_key(back, level), own);  // not below the camera's key: culled
  EXPECT_LT(billboard_key(back, ahead), own);
  EXPECT_GT(billboard_key(back, behind), own);
  const float far_ahead[3] = {0, 0, 50};
  EXPECT_LT(billboard_key(back, far_ahead), billboard_key(back, ahead));
}

// The camera at the origin looking along -z. Roost particles nearer than
// their own width are left out; trackside billboards as near are kept.
TEST(SceneBillboards, RoostRightInFrontOfTheCameraIsLeftOut) {
  while (billboard_count() < roost_billboard_pool + 1) add_billboard(0, 0, 0, 1, 1, 0);
  auto place = [](int index, float z, float size) {
    Billboard *b = track_billboard(index);
    b->x = 0;
    b->y = -size / 2;
    b->z = z;
    b->width = b->height = size;
    b->texture = 7;
    b->visible = 1;
  };
  place(0, -0.8f, 1.0f);   // a particle under its width away
  place(1, -1.6f, 1.0f);   // one farther than its width
  place(2, -3.0f, 4.0f);   // a big one, grown, still too near
  place(roost_billboard_pool, -0.8f, 1.0f);  // a tree as near
  const float camera[3] = {0, 0, 0}, back[3] = {0, 0, 1}, right[3] = {1, 0, 0};
  BillboardItem items[8];
  int n = collect_billboards(camera, back, right, items, 8);
  std::vector<int> kept;
  for (int i = 0; i < n; i++) kept.push_back(items[i].index);
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, (std::vector<int>{1, roost_billboard_pool}));
  for (int index : {0, 1, 2, roost_billboard_pool}) track_billboard(index)->texture = 0;
}

TEST(SceneBillboards, RadixSortIsAStableSortByKey) {
  std::vector<BillboardItem> items(3000), scratch(3000);
  unsigned seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (size_t i = 0; i < items.size(); i++) {
    items[i] = {};
    items[i].index = static_cast<int>(i);
    // Few distinct low bytes, so many ties; the high bytes vary too.
    items[i].key = (next() & 0xff0f0003u) | 0x01000000u;
  }
  std::vector<BillboardItem> expected = items;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const BillboardItem &a, const BillboardItem &b) { return a.key < b.key; });
  sort_billboards(items.data(), static_cast<int>(items.size()), scratch.data());
  for (size_t i = 0; i < items.size(); i++) {
    ASSERT_EQ(items[i].key, expected[i].key) << i;
    ASSERT_EQ(items[i].index, expected[i].index) << "ties keep their order, at " << i;
  }
  sort_billboards(items.data(), 0, scratch.data());  // nothing to sort is fine
}

// Regrouping may only move a billboard past others it does not overlap
// along the camera's right axis; what overlaps keeps its back-to-front order.
TEST(SceneBillboards, RegroupingJoinsTexturesWithoutReorderingOverlaps) {
  std::vector<BillboardItem> items;
  unsigned seed = 99;
  auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  for (int i = 0; i < 400; i++) {
    BillboardItem b = {};
    b.index = i;
    b.key = static_cast<uint32_t>(i);
    b.texture = 1 + next() % 4;
    b.centre = static_cast<float>(next() % 2000) * 0.1f;
    b.half_width = 0.5f + static_cast<float>(next() % 40) * 0.1f;
    items.push_back(b);
  }
  std::vector<BillboardItem> before = items;
  auto binds = [](const std::vector<BillboardItem> &v) {
    int n = 0;
    for (size_t i = 0; i < v.size(); i++) n += i == 0 || v[i].texture != v[i - 1].texture;
    return n;
  };
  regroup_billboards(items.data(), static_cast<int>(items.size()), 8);
  EXPECT_LT(binds(items), binds(before));
  std::vector<int> place(items.size());
  for (size_t i = 0; i < items.size(); i++) place[static_cast<size_t>(items[i].index)] = static_cast<int>(i);
  for (size_t a = 0; a < before.size(); a++)
    for (size_t b = a + 1; b < before.size(); b++) {
      const BillboardItem &p = before[a], &q = before[b];
      bool overlap = !(p.centre + p.half_width <= q.centre - q.half_width || p.centre - p.half_width >= q.centre + q.half_width);
      if (overlap) {
        ASSERT_LT(place[a], place[b]) << "billboards " << a << " and " << b << " overlap";
      }
    }
  std::vector<BillboardItem> unchanged = before;
  regroup_billboards(unchanged.data(), static_cast<int>(unchanged.size()), 1);
  for (size_t i = 0; i < before.size(); i++) EXPECT_EQ(unchanged[i].index, before[i].index);
}

struct FlareCase : ::testing::Test {
  const float camera[3] = {0, 10, 0};
  const float axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};  // looking along -z
  const int width = 800, height = 600;
  const float xext = 1, yext = 0.75f, near_plane = 0.25f, far_plane = 5000;
  const unsigned char sky[3] = {240, 245, 255};
  LensFlare flare(int direction, float x, float y, float z) {
    LensFlare f = {};
    f.is_direction = direction;
    f.position[0] = x, f.position[1] = y, f.position[2] = z;
    return f;
  }
  // The depth buffer value that linearises to d (0 near, 1 far).
  float depth_for(float d) const {
    float n = near_plane, f = far_plane, e = n + d * (f - n);  // eye distance
    return (f / (f - n)) * (1 - n / e);
  }
};

TEST_F(FlareCase, WhereItLandsOnTheWindow) {
  FlareSpot ahead = flare_spot(flare(1, 0, 0, -1), camera, axes, xext, yext, width, height);
  EXPECT_TRUE(ahead.in_view);
  EXPECT_EQ(ahead.column, 400);
  EXPECT_EQ(ahead.row, 300);
  EXPECT_FALSE(flare_spot(flare(1, 0, 0, 1), camera, axes, xext, yext, width, height).in_view);  // behind
  EXPECT_FALSE(flare_spot(flare(1, 1.2f, 0, -1), camera, axes, xext, yext, width, height).in_view);  // off the side
  // The top right corner exactly lies on the window's edge: outside.
  EXPECT_FALSE(flare_spot(flare(1, 1, 0.75f, -1), camera, axes, xext, yext, width, height).in_view);
  FlareSpot point = flare_spot(flare(0, 50, 10, -100), camera, axes, xext, yext, width, height);
  EXPECT_TRUE(point.in_view);
  EXPECT_NEAR(point.x, 0.5f, 1e-5f);
  EXPECT_NEAR(point.eye_depth, 100, 1e-4f);
}

TEST_F(FlareCase, OnlyBrightFarSkyLetsItShow) {
  LensFlare sun = flare(1, 0, 0, -1);
  FlareSpot spot = flare_spot(sun, camera, axes, xext, yext, width, height);
  EXPECT_FLOAT_EQ(flare_visibility(sun, spot, sky, 1.0f, near_plane, far_plane, xext, yext), 1);
  const unsigned char tree[3] = {60, 120, 40}, almost[3] = {223, 255, 255};
  EXPECT_EQ(flare_visibility(sun, spot, tree, 1.0f, near_plane, far_plane, xext, yext), 0);
  EXPECT_EQ(flare_visibility(sun, spot, almost, 1.0f, near_plane, far_plane, xext, yext), 0);
  // A bright object nearer than 0.4 of the depth range hides the sun.
  EXPECT_EQ(flare_visibility(sun, spot, sky, depth_for(0.3f), near_plane, far_plane, xext, yext), 0);
  EXPECT_GT(flare_visibility(sun, spot, sky, depth_for(0.5f), near_plane, far_plane, xext, yext), 0);

  // A point flare 1000 ft away shows unless something is in front of it.
  LensFlare lamp = flare(0, 0, 10, -1000);
  FlareSpot at = flare_spot(lamp, camera, axes, xext, yext, width, height);
  float own = (1000 - 0.25f) * 0.00020001f;
  EXPECT_GT(flare_visibility(lamp, at, sky, depth_for(own + 0.01f), near_plane, far_plane, xext, yext), 0);
  EXPECT_EQ(flare_visibility(lamp, at, sky, depth_for(own - 0.01f), near_plane, far_plane, xext, yext), 0);
}

TEST_F(FlareCase, FadesOutTowardTheEdges) {
  LensFlare sun = flare(1, 0, 0, -1);
  FlareSpot spot = flare_spot(sun, camera, axes, xext, yext, width, height);
  float m = std::min(xext, yext) / 32;
  spot.x = xext - m / 2;  // half way through the fade band
  EXPECT_NEAR(flare_visibility(sun, spot, sky, 1.0f, near_plane, far_plane, xext, yext), 0.5f, 1e-4f);
  spot.x = 0;
  spot.y = -(yext - m / 4);
  EXPECT_NEAR(flare_visibility(sun, spot, sky, 1.0f, near_plane, far_plane, xext, yext), 0.25f, 1e-4f);
  spot.y = yext - m;
  EXPECT_FLOAT_EQ(flare_visibility(sun, spot, sky, 1.0f, near_plane, far_plane, xext, yext), 1);
}

}  // namespace
