// A shipped track loaded for the terrain renderer with a chosen method, and
// the cameras the renderer's tests, screenshots and benchmarks look through.
#pragma once
#include <GL/gl.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/config.h"
#include "assets/file.h"
#include "assets/image.h"
#include "render/terrain_render.h"
#include "track/gates.h"
#include "track/objects.h"
#include "track/terrain.h"
#include "track/track.h"

#ifndef TORVANE_BIN_DIR
#define TORVANE_BIN_DIR "bin"
#endif

// Stand-ins for ground and decal pictures the data set does not have (yet):
// 64 x 64 noise round a colour taken from the name, written into the scratch
// home directory, which the file layer searches first. The names come from
// the track's own "tileinfo" and "decals".
inline void make_missing_pictures(const char *track) {
  std::vector<std::string> names;
  auto words_after = [&](const std::string &path, const char *key, int last_word) {
    DataFile *f = dfile_open(path.c_str(), "rb");
    if (!f) return;
    char line[1024];
    while (dfile_gets(f, line, sizeof line)) {
      line[strcspn(line, "\r\n")] = 0;
      const char *word = nullptr;
      if (last_word) {
        word = strrchr(line, ' ');
        word = word ? word + 1 : nullptr;
      } else if (strncmp(line, key, strlen(key)) == 0) {
        word = line + strlen(key);
      }
      if (word && *word) names.push_back(word);
    }
    dfile_close(f);
  };
  words_after(std::string("@") + track + "/tileinfo", "texture ", 0);
  words_after(std::string("@") + track + "/decals", nullptr, 1);
  for (const std::string &name : names) {
    DataFile *f = dfile_open(name.c_str(), "rb");
    if (f) {
      dfile_close(f);
      continue;
    }
    unsigned hash = 2166136261u;
    for (char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    // Ground-like colours for the usual surface names, any colour else.
    int rgb[3] = {70 + static_cast<int>(hash % 140), 70 + static_cast<int>((hash >> 8) % 140),
                  70 + static_cast<int>((hash >> 16) % 140)};
    static const struct {
      const char *word;
      int rgb[3];
    } looks[] = {{"grass", {84, 130, 52}}, {"dirt", {150, 112, 76}}, {"loam", {112, 80, 56}}, {"pad", {160, 150, 136}}};
    for (const auto &look : looks)
      if (name.find(look.word) != std::string::npos) memcpy(rgb, look.rgb, sizeof rgb);
    std::vector<uint8_t> pixels(64 * 64 * 3);
    unsigned noise = hash;
    for (int p = 0; p < 64 * 64; p++) {
      noise = noise * 1103515245u + 12345u;
      int grain = static_cast<int>((noise >> 16) % 48) - 24;
      // Decals get bold stripes so they stand out on the ground.
      int stripe = name.find("decal") != std::string::npos && ((p % 64) / 8 + (p / 64) / 8) % 2 ? -90 : 0;
      for (int c = 0; c < 3; c++) {
        pixels[static_cast<size_t>(p) * 3 + static_cast<size_t>(c)] =
            static_cast<uint8_t>(std::max(0, std::min(255, rgb[c] + grain + stripe)));
      }
    }
    png_write_rgb(name.c_str(), pixels.data(), 64, 64);
  }
}

struct ShippedTrack {
  Terrain *terrain = nullptr;
  std::string home;
  // method: TerrainMethod; size: ground texture texels.
  ShippedTrack(const char *track, int method, int size = 64, int use_shader = 1) {
    char scratch[] = "/tmp/torvane-terrain-XXXXXX";
    home = mkdtemp(scratch) ? scratch : "/tmp";
    mkdir((home + "/torvane").c_str(), 0755);
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    setenv("QX_HOME", TORVANE_BIN_DIR, 1);
    file_layer_reset_for_tests();
    file_list();
    track_set_root("@");
    make_missing_pictures(track);
    config_set_defaults();
    GameSettings &g = game_settings();
    g.render_texture.selected = method;
    g.use_shader.selected = use_shader;
    derive_active_graphics();
    active_graphics().ground_texture_size = size;
    if (load_track(track)) terrain = track_terrain();
  }
  ~ShippedTrack() {
    free_track();
    unsetenv("QX_HOME");
    unsetenv("XDG_DATA_HOME");
    file_layer_reset_for_tests();
    std::string command = "rm -rf '" + home + "'";
    if (home.rfind("/tmp/torvane-terrain-", 0) == 0 && system(command.c_str()) != 0) {
    }
  }
};

struct ViewPoint {
  float eye[3];
  float direction[3];  // unit
};

// A rider's eye on the starting grid, five feet up, looking toward the
// first checkpoint and a little down.
inline ViewPoint rider_view(const Terrain *t) {
  const TimingGates *g = timing_gates();
  ViewPoint v;
  float x = g->grid_count ? g->grid[0].x : 0.5f * t->extent, z = g->grid_count ? g->grid[0].z : 0.5f * t->extent;
  float tx = g->checkpoint_count ? g->checkpoints[0].gate_centre[0] : x, tz = g->checkpoint_count ? g->checkpoints[0].gate_centre[2] : z - 1;
  v.eye[0] = x;
  v.eye[1] = terrain_height(t, x, z) + 5;
  v.eye[2] = z;
  float dx = tx - x, dz = tz - z, len = std::sqrt(dx * dx + dz * dz);
  if (len < 1) dx = 0, dz = -1, len = 1;
  float pitch = -0.12f;
  v.direction[0] = dx / len * std::cos(pitch);
  v.direction[1] = std::sin(pitch);
  v.direction[2] = dz / len * std::cos(pitch);
  return v;
}

// Looking straight down from `height` feet above (x, z).
inline ViewPoint top_view(const Terrain *t, float x, float z, float height) {
  ViewPoint v = {{x, terrain_height(t, x, z) + height, z}, {0, -1, 0}};
  return v;
}

// Projection (90 degrees across) and model-view for a viewpoint; the
// terrain gets its camera copy.
inline void look_through(Terrain *t, const ViewPoint &v, int width, int height) {
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  float aspect = static_cast<float>(width) / static_cast<float>(height), near_plane = 0.25f;
  glFrustum(-near_plane, near_plane, -near_plane / aspect, near_plane / aspect, near_plane, 5000);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  const float *d = v.direction;
  // Straight down needs an up vector other than y.
  float up[3] = {0, 1, 0};
  if (std::fabs(d[1]) > 0.99f) up[0] = 0, up[1] = 0, up[2] = -1;
  float s[3] = {d[1] * up[2] - d[2] * up[1], d[2] * up[0] - d[0] * up[2], d[0] * up[1] - d[1] * up[0]};
  float sl = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
  for (float &c : s) c /= sl;
  float u[3] = {s[1] * d[2] - s[2] * d[1], s[2] * d[0] - s[0] * d[2], s[0] * d[1] - s[1] * d[0]};
  float m[16] = {s[0], u[0], -d[0], 0, s[1], u[1], -d[1], 0, s[2], u[2], -d[2], 0, 0, 0, 0, 1};
  glMultMatrixf(m);
  glTranslatef(-v.eye[0], -v.eye[1], -v.eye[2]);
  terrain_set_view(t, v.eye, v.direction);
}

// Straight down with no perspective over a square of `side` feet centred on
// (x, z): heights do not move pixels, so only the ground textures show.
inline void look_down_flat(Terrain *t, float x, float z, float side, int width, int height) {
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  // Seen from above: x to the right, z down the window.
  glOrtho(x - side / 2, x + side / 2, -z - side / 2, -z + side / 2, -1e5, 1e5);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glRotatef(90, 1, 0, 0);
  float eye[3] = {x, 1e4f, z}, down[3] = {0, -1, 0};
  terrain_set_view(t, eye, down);
}

// Light 0 from the track's sun, as the scene sets it (after the camera, so
// the direction is in the world).
inline void scene_light() {
  const Lighting *l = track_lighting();
  float position[4] = {l->sun_vector[0], l->sun_vector[1], l->sun_vector[2], 0};
  float diffuse[4] = {l->sun_color[0], l->sun_color[1], l->sun_color[2], 1};
  float ambient[4] = {l->ambient[0], l->ambient[1], l->ambient[2], 1};
  float global[4] = {l->global_ambient[0], l->global_ambient[1], l->global_ambient[2], 1};
  glLightfv(GL_LIGHT0, GL_POSITION, position);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
  glLightfv(GL_LIGHT0, GL_SPECULAR, diffuse);
  glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, global);
  glEnable(GL_LIGHT0);
}
