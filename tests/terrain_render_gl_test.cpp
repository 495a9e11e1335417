// The terrain renderer drawing a shipped track: the composition methods
// agree on the picture, and a dug rut shows in the frame the schedule
// predicts. With TORVANE_SCREENSHOTS set to a directory, the pictures are
// also written there as PNG files.
#include <cstdlib>
#include <string>
#include <vector>

#include "assets/image.h"
#include "gl_fixture.h"
#include "render/terrain_render.h"
#include "terrain_scene.h"
#include "track/deform.h"

namespace {

class TerrainGl : public GlTest {
 protected:
  TerrainGl() {
    width = 320;
    height = 240;
  }
  void SetUp() override {
    GlTest::SetUp();
    if (window) build_programs(1);
  }

  // One frame as the main loop and the scene run it.
  std::vector<unsigned char> frame(Terrain *t, const ViewPoint *view, float flat_x = 0, float flat_z = 0,
                                   float flat_side = 0) {
    terrain_update(t);
    if (view) {
      look_through(t, *view, width, height);
    } else {
      look_down_flat(t, flat_x, flat_z, flat_side, width, height);
    }
    scene_light();
    terrain_compose(t);
    glViewport(0, 0, width, height);
    glClearColor(0.2f, 0.6f, 0.8f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    terrain_draw(t);
    glDisable(GL_DEPTH_TEST);
    return read_pixels();
  }

  // Frames until nothing waits or is stale, then the picture.
  std::vector<unsigned char> settled(Terrain *t, const ViewPoint *view, float fx = 0, float fz = 0, float fs = 0) {
    std::vector<unsigned char> pixels;
    for (int k = 0; k < 40; k++) pixels = frame(t, view, fx, fz, fs);
    return pixels;
  }

  void save(const std::vector<unsigned char> &pixels, const std::string &name) {
    const char *dir = getenv("TORVANE_SCREENSHOTS");
    if (dir) png_write_rgb((std::string(dir) + "/" + name + ".png").c_str(), pixels.data(), width, height);
  }
};

struct Difference {
  double mean;        // per channel, 0 ... 255
  double share_over;  // share of pixels with a channel off by more than the limit
};

Difference compare(const std::vector<unsigned char> &a, const std::vector<unsigned char> &b, int limit) {
  double sum = 0;
  size_t over = 0, pixels = a.size() / 3;
  for (size_t p = 0; p < pixels; p++) {
    int worst = 0;
    for (int c = 0; c < 3; c++) {
      int d = std::abs(static_cast<int>(a[p * 3 + c]) - static_cast<int>(b[p * 3 + c]));
      sum += d;
      worst = std::max(worst, d);
    }
    over += worst > limit;
  }
  return {sum / static_cast<double>(a.size()), static_cast<double>(over) / static_cast<double>(pixels)};
}

// Share of the picture that is sky (the clear colour): the ground must fill
// most of a rider's view.
double sky_share(const std::vector<unsigned char> &p) {
  size_t sky = 0;
  for (size_t k = 0; k + 2 < p.size(); k += 3) sky += p[k] == 51 && p[k + 1] == 153 && p[k + 2] == 204;
  return static_cast<double>(sky) / static_cast<double>(p.size() / 3);
}

const char *const method_names[] = {"software", "hardware_copy", "hardware_direct", "shaders_copy", "shaders_direct"};

}  // namespace

// Every method draws the same ground from the rider's eye and from above;
// the fixed-function ones agree closely (the processor samples the tile
// pictures without the GL's filtering), the shader ones light per pixel and
// so may differ more, but still show the same ground.
// Disabled while a known fault stands: under Mesa's llvmpipe the Copy and
// Direct fixed-function pictures from above carry a striped tint over about
// 15% of the ground. Run it with --gtest_also_run_disabled_tests.
TEST_F(TerrainGl, MethodsAgreeOnTheSamePicture) {
  std::vector<unsigned char> reference_rider, reference_top;
  for (int method = terrain_software; method <= terrain_shaders_direct; method++) {
    ShippedTrack track("rabbithill", method);
    ASSERT_NE(track.terrain, nullptr) << method_names[method];
    Terrain *t = track.terrain;
    const TerrainRenderCounters *c = terrain_render_counters(t);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->technique, method == terrain_software ? compose_tex_sub_image
                            : method == terrain_hardware_copy || method == terrain_shaders_copy ? compose_copy
                                                                                               : compose_direct);
    ViewPoint rider = rider_view(t), above = top_view(t, rider.eye[0], rider.eye[2], 150);
    std::vector<unsigned char> on_bike = settled(t, &rider), overhead = settled(t, &above);
    save(on_bike, std::string("terrain_rider_") + method_names[method]);
    save(overhead, std::string("terrain_above_") + method_names[method]);
    EXPECT_LT(sky_share(on_bike), 0.6) << method_names[method];
    EXPECT_LT(sky_share(overhead), 0.01) << method_names[method];
    EXPECT_GT(c->triangles, 1000);
    if (method == terrain_software) {
      reference_rider = on_bike;
      reference_top = overhead;
      continue;
    }
    int lit_per_pixel = method >= terrain_shaders_copy;
    Difference a = compare(reference_rider, on_bike, 48), b = compare(reference_top, overhead, 48);
    EXPECT_LT(a.mean, lit_per_pixel ? 40 : 10) << method_names[method];
    EXPECT_LT(b.mean, lit_per_pixel ? 40 : 10) << method_names[method];
    if (!lit_per_pixel) {
      EXPECT_LT(a.share_over, 0.05) << method_names[method];
      EXPECT_LT(b.share_over, 0.05) << method_names[method];
    }
  }
}

// A rut dug under a still viewer changes the ground's pixels at its place:
// for TexSubImage in the first frame (the edit stamps the textures over it
// and the finest is searched first); for Copy not before the frame whose
// update refreshes the shading texture (one interval after the dig), and at
// the latest once every texture that refresh made stale is recomposed.
TEST_F(TerrainGl, DugRutShowsWhenTheScheduleSays) {
  for (int method : {terrain_software, terrain_hardware_copy}) {
    ShippedTrack track("rabbithill", method);
    ASSERT_NE(track.terrain, nullptr);
    Terrain *t = track.terrain;
    ViewPoint rider = rider_view(t);
    // One vertex in the middle of a level-1 square (4 ft of ground), so
    // that everything the edit touches lies in that square.
    float x = 4 * std::floor((rider.eye[0] + 20) / 4) + 2, z = 4 * std::floor((rider.eye[2] + 20) / 4) + 2;
    float side = 24;
    const int interval = 3;
    terrain_set_reshade_interval(t, interval);
    std::vector<unsigned char> before = settled(t, nullptr, x, z, side);
    ASSERT_EQ(terrain_stale_textures(t), 0);
    erode_dig(t, x, z, 0.9f, -2.5f);
    int changed_at = -1, stale_after_refresh = 0;
    for (int f = 1; f <= 200 && changed_at < 0; f++) {
      std::vector<unsigned char> now = frame(t, nullptr, x, z, side);
      if (f == interval + 1) stale_after_refresh = terrain_stale_textures(t) + 1;  // one was composed already
      double centre = 0;
      for (int dy = -4; dy <= 4; dy++)
        for (int dx = -4; dx <= 4; dx++) {
          size_t p = (static_cast<size_t>(height / 2 + dy) * width + width / 2 + dx) * 3;
          for (int c = 0; c < 3; c++) centre += std::abs(static_cast<int>(now[p + c]) - static_cast<int>(before[p + c]));
        }
      if (centre / (81 * 3) > 4) {
        changed_at = f;
        save(now, std::string("terrain_rut_") + method_names[method]);
      }
    }
    if (method == terrain_software) {
      EXPECT_EQ(changed_at, 1);
    } else {
      EXPECT_GE(changed_at, interval + 1);
      EXPECT_GT(stale_after_refresh, 0);
      EXPECT_LE(changed_at, interval + stale_after_refresh);
    }
  }
}
