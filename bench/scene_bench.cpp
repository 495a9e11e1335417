// The 3-D scene of a 40-robot race a few seconds after the start, drawn at
// 1280 x 720 from behind and above the pack: milliseconds per frame, the
// triangles and the cost split into terrain, bikes, statues, billboards and
// flares. Needs an X display (run under xvfb-run) and the built data archive.
#include <benchmark/benchmark.h>

#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/config.h"
#include "assets/file.h"
#include "assets/texture.h"
#include "bike/assembly.h"
#include "bike/crash.h"
#include "platform/window.h"
#include "race/race.h"
#include "render/gl_caps.h"
#include "render/render_stats.h"
#include "render/scene.h"
#include "render/terrain_render.h"
#include "render/view.h"
#include "track/track.h"

namespace {

const int width = 1280, height = 720, robots = 40;

bool ready() {
  static int state = 0;  // 0 untried, 1 ready, -1 failed
  if (state) return state == 1;
  state = -1;
  const char *display = getenv("DISPLAY");
  if (!display || !*display) return false;
  std::string home = "/tmp/torvane-scene-bench";
  if (system(("mkdir -p " + home).c_str()) != 0) return false;
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  setenv("QX_HOME", TORVANE_BENCH_BIN_DIR, 1);
  if (!window_open_gl("scene bench", width, height, 32 | window_no_fullscreen, 8, 24, 8, 0)) return false;
  gl_init_caps();
  texture_set_gl_ready(1);
  file_list();
  track_set_root("@");
  const char *names[] = {"rabbithill"};
  set_track_names(names, 1);
  select_choice(&game_settings().track, "rabbithill");
  physics_world_create();
  install_crash_hooks();
  std::vector<int> kinds(max_slots, slot_kind_empty);
  for (int i = 0; i < robots; i++) kinds[static_cast<size_t>(i)] = slot_kind_robot;
  if (!race_reset(kinds.data(), 0, 0, 0, 1, 1) || !track_terrain()) return false;
  // Out of the gate and into the first turn, the pack still close.
  for (int tic = 0; tic < 128 * 8; tic++) race_step();
  state = 1;
  return true;
}

// Behind and above the middle of the pack, looking at it.
SceneView pack_view() {
  double centre[3] = {0, 0, 0}, heading[3] = {0, 0, 0};
  int n = 0;
  for (int i = 0; i < max_slots; i++) {
    Slot *s = race_slot(i);
    if (!s || !s->bike || !s->bike->bodies[bike_frame]) continue;
    const dReal *p = dBodyGetPosition(s->bike->bodies[bike_frame]);
    const dReal *v = dBodyGetLinearVel(s->bike->bodies[bike_frame]);
    for (int k = 0; k < 3; k++) centre[k] += p[k], heading[k] += v[k];
    n++;
  }
  for (double &c : centre) c /= n > 0 ? n : 1;
  double hl = std::sqrt(heading[0] * heading[0] + heading[2] * heading[2]);
  double hx = hl > 1 ? heading[0] / hl : 1, hz = hl > 1 ? heading[2] / hl : 0;
  SceneView view = {};
  float eye[3] = {static_cast<float>(centre[0] - 45 * hx), static_cast<float>(centre[1] + 18),
                  static_cast<float>(centre[2] - 45 * hz)};
  float back[3] = {eye[0] - static_cast<float>(centre[0]), eye[1] - static_cast<float>(centre[1]),
                   eye[2] - static_cast<float>(centre[2])};
  float bl = std::sqrt(back[0] * back[0] + back[1] * back[1] + back[2] * back[2]);
  for (float &b : back) b /= bl;
  float right[3] = {back[2], 0, -back[0]};  // up x back
  float rl = std::sqrt(right[0] * right[0] + right[2] * right[2]);
  for (float &r : right) r /= rl;
  float up[3] = {back[1] * right[2] - back[2] * right[1], back[2] * right[0] - back[0] * right[2],
                 back[0] * right[1] - back[1] * right[0]};
  for (int k = 0; k < 3; k++) {
    view.position[k] = eye[k];
    view.axes[0][k] = right[k];
    view.axes[1][k] = up[k];
    view.axes[2][k] = back[k];
  }
  view.fov = 90;
  view.hidden_slot = -1;
  return view;
}

void BM_DrawScene40Bikes(benchmark::State &state) {
  if (!ready()) {
    state.SkipWithError("needs an X display and the data archive");
    return;
  }
  SceneView view = pack_view();
  scene_set_window(width, height);
  // Let the terrain's level of detail and composition settle first.
  for (int i = 0; i < 30; i++) {
    render_stats_frame_begin();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    terrain_update(track_terrain());
    draw_scene(view);
    glFinish();
  }
  double terrain = 0, bikes = 0, statues = 0, billboards = 0, flares = 0;
  double ground = 0, models = 0, signs = 0;
  for (auto _ : state) {
    render_stats_frame_begin();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    terrain_update(track_terrain());
    draw_scene(view);
    glFinish();
    const SceneTimes &t = scene_times();
    terrain += t.terrain, bikes += t.bikes, statues += t.statues, billboards += t.billboards, flares += t.flares;
    const RenderStats &r = render_stats();
    ground += r.ground_polygons, models += r.model_polygons, signs += r.billboards;
  }
  double n = static_cast<double>(state.iterations());
  state.counters["terrain_ms"] = 1000 * terrain / n;
  state.counters["bikes_ms"] = 1000 * bikes / n;
  state.counters["statues_ms"] = 1000 * statues / n;
  state.counters["billboards_ms"] = 1000 * billboards / n;
  state.counters["flares_ms"] = 1000 * flares / n;
  state.counters["ground_tris"] = ground / n;
  state.counters["model_tris"] = models / n;
  state.counters["billboards"] = signs / n;
}
BENCHMARK(BM_DrawScene40Bikes)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
