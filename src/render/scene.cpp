#include "render/scene.h"

#include <GL/gl.h>
#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/alloc.h"
#include "app/config.h"
#include "assets/model.h"
#include "assets/texture.h"
#include "bike/bike.h"
#include "bike/collide.h"
#include "platform/input.h"
#include "platform/window.h"
#include "race/race.h"
#include "render/billboard_draw.h"
#include "render/bike_draw.h"
#include "render/flares.h"
#include "render/gl_caps.h"
#include "render/render_stats.h"
#include "render/terrain_render.h"
#include "render/view.h"
#include "replay/history.h"
#include "robot/lines.h"
#include "track/gates.h"
#include "track/objects.h"
#include "track/track.h"
#include "ui/text.h"

namespace {

constexpr int max_labels = 256;
constexpr int max_drawn_billboards = 16384;
constexpr float gate_raised_tilt = 0.5890486f;

struct Label {
  float position[3];
  const char *text;  // interned
};

// Lives for the process; the labels until they are cleared.
struct Scene {
  int width, height;
  int plain;
  int debug_level;
  Label labels[max_labels];
  int label_count;
  SceneTimes times;
  BillboardItem items[max_drawn_billboards];
  BillboardItem scratch[max_drawn_billboards];
};

Scene the_scene;
Scene *scene_state() { return &the_scene; }

double now() { return time_seconds(time_now()); }

// The camera's rotation (rows right, up, back) as the GL view matrix.
void load_view_rotation(const SceneView &v) {
  float m[16] = {v.axes[0][0], v.axes[1][0], v.axes[2][0], 0, v.axes[0][1], v.axes[1][1], v.axes[2][1], 0,
                 v.axes[0][2], v.axes[1][2], v.axes[2][2], 0, 0, 0, 0, 1};
  glMatrixMode(GL_MODELVIEW);
  glLoadMatrixf(m);
}

// The sky box: north -z, east +x, south +z, west -x, and up; each face a
// picture looking toward its direction with up at its top, drawn with the
// outer 1/128 of the picture beyond the cube's edges so faces meet cleanly.
// It goes in after the solid things, at the far end of the depth range and
// tested against them, so only the pixels that show sky are filled: a
// whole-screen layer costs software GL a fifth of a frame, and the ground
// and the bikes cover about half of the sky's.
void draw_sky(const Lighting &l) {
  glPushAttrib(GL_ENABLE_BIT | GL_DEPTH_BUFFER_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT | GL_VIEWPORT_BIT);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glDepthRange(1, 1);
  glDepthMask(GL_FALSE);
  glDisable(GL_ALPHA_TEST);
  glDisable(GL_LIGHTING);
  glDisable(GL_FOG);
  glDisable(GL_CULL_FACE);
  glDisable(GL_BLEND);
  glEnable(GL_TEXTURE_2D);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  // A face point for the picture coordinates (a, b) in -1..1, b down.
  auto point = [](int face, float a, float b, float out[3]) {
    switch (face) {
      case 0: out[0] = a, out[1] = -b, out[2] = -1; break;
      case 1: out[0] = 1, out[1] = -b, out[2] = a; break;
      case 2: out[0] = -a, out[1] = -b, out[2] = 1; break;
      case 3: out[0] = -1, out[1] = -b, out[2] = -a; break;
      default: out[0] = a, out[1] = 1, out[2] = b; break;
    }
  };
  const float lo = 1.0f / 128, hi = 127.0f / 128;
  const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  for (int face = 0; face < sky_faces; face++) {
    if (!l.sky_textures[face]) continue;
    glBindTexture(GL_TEXTURE_2D, l.sky_textures[face]);
    render_stats().texture_changes++;
    glBegin(GL_QUADS);
    for (const auto &c : corners) {
      float p[3];
      point(face, c[0], c[1], p);
      glTexCoord2f(c[0] < 0 ? lo : hi, c[1] < 0 ? lo : hi);
      glVertex3fv(p);
    }
    glEnd();
  }
  glPopAttrib();
}

void set_fog(const Lighting &l) {
  if (l.fog_density > 0) {
    float colour[4] = {l.fog_color[0], l.fog_color[1], l.fog_color[2], 1};
    glEnable(GL_FOG);
    glFogi(GL_FOG_MODE, GL_EXP2);
    glFogfv(GL_FOG_COLOR, colour);
    glFogf(GL_FOG_DENSITY, l.fog_density);
  } else {
    glDisable(GL_FOG);
    glFogf(GL_FOG_DENSITY, 0);  // the programs fog whenever the density says so
  }
}

void set_light(const Lighting &l) {
  float sun[4] = {l.sun_vector[0], l.sun_vector[1], l.sun_vector[2], 0};
  float colour[4] = {l.sun_color[0], l.sun_color[1], l.sun_color[2], 1};
  float ambient[4] = {l.ambient[0], l.ambient[1], l.ambient[2], 1};
  float global[4] = {l.global_ambient[0], l.global_ambient[1], l.global_ambient[2], 1};
  glLightfv(GL_LIGHT0, GL_POSITION, sun);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, colour);
  glLightfv(GL_LIGHT0, GL_SPECULAR, colour);
  glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, global);
  glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, 1);
  const float white[4] = {1, 1, 1, 1};
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
}

// Offline, with a local rider, ghosts fade as they come near the rider.
float bike_opacity(int slot, const SceneView &view) {
  if (slot == view.hidden_slot) return 0;
  const RaceState &race = race_state();
  Slot *s = race_slot(slot);
  Slot *viewed = race_slot(race.viewed_slot);
  if (race_network().connected || !s || s->drive_mode != drive_history || !viewed || !viewed->bike ||
      viewed->drive_mode != drive_local || slot == race.viewed_slot)
    return 1;
  float G = static_cast<float>(game_settings().ghost_fade_distance.value);
  const dReal *a = dBodyGetPosition(s->bike->bodies[bike_frame]);
  const dReal *b = dBodyGetPosition(viewed->bike->bodies[bike_frame]);
  float d = static_cast<float>(std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                                         (a[2] - b[2]) * (a[2] - b[2])));
  return ghost_fade(d, G);
}

bool bike_drawn(int slot) {
  Slot *s = race_slot(slot);
  return s && s->bike && s->bike->bodies[bike_frame] && !history_hidden(slot);
}

// A bike and its rider fit in a sphere of this radius (feet) about a point
// this high above the frame body: the bike is about 7 ft long, the rider
// stands up to about 6 ft above the ground.
constexpr float bike_bound_radius = 5.5f;
constexpr float bike_bound_lift = 1.0f;

// Whether a bike can show in the view: its bounding sphere against the
// near and four side planes of the frustum. Most of a field is behind or
// beside the camera most of the time, and the bikes are the heaviest models.
bool bike_in_view(int slot, const SceneView &view) {
  const dReal *p = dBodyGetPosition(race_slot(slot)->bike->bodies[bike_frame]);
  float centre[3] = {static_cast<float>(p[0]), static_cast<float>(p[1]) + bike_bound_lift, static_cast<float>(p[2])};
  return sphere_in_view(centre, bike_bound_radius, view, view_extents());
}

float bike_distance(int slot, const SceneView &view) {
  const dReal *p = dBodyGetPosition(race_slot(slot)->bike->bodies[bike_frame]);
  float d[3] = {static_cast<float>(p[0]) - view.position[0], static_cast<float>(p[1]) - view.position[1],
                static_cast<float>(p[2]) - view.position[2]};
  return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

void draw_bikes_pass(const SceneView &view, bool faded, const float opacity[max_slots]) {
  BikeDrawView bv = {{view.position[0], view.position[1], view.position[2]}, 0, programs_available(), 0};
  int viewed = race_state().viewed_slot;
  for (int i = 0; i < max_slots; i++) {
    float o = opacity[i];
    if (o <= 0 || (o < 1) != faded) continue;
    bv.first_person = view.first_person && i == viewed;
    bv.close_up = i == viewed;
    draw_bike(race_slot(i)->bike, o, bv);
  }
  use_program(0);
  // The shiny parts once more, added on in their reflection.
  if (!active_graphics().reflections) return;
  unsigned env = track_lighting()->env_texture;
  if (!env) return;
  glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glDisable(GL_LIGHTING);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ONE);
  glDepthMask(GL_FALSE);
  glDisable(GL_FOG);
  for (int i = 0; i < max_slots; i++) {
    if (opacity[i] <= 0 || (opacity[i] < 1) != faded) continue;
    float shine = i == viewed ? 1 : shine_at(bike_distance(i, view));
    if (shine <= 0) continue;
    bv.first_person = view.first_person && i == viewed;
    bv.close_up = i == viewed;
    model_set_reflection_strength(shine);
    draw_bike_reflections(race_slot(i)->bike, bv, env);
  }
  model_set_reflection_strength(1);
  use_program(0);
  glPopAttrib();
}

// A statue's rotation (row-major): its own turn, and a start gate's tilt.
void statue_rotation(int index, const Statue &s, float out[9]) {
  float tilt = object_tilt(index);
  if (tilt == 0) {
    memcpy(out, s.rotation, sizeof s.rotation);
    return;
  }
  float c = std::cos(tilt), n = std::sin(tilt);
  const float X[9] = {1, 0, 0, 0, c, -n, 0, n, c};
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) out[3 * i + j] = s.rotation[3 * i] * X[j] + s.rotation[3 * i + 1] * X[3 + j] + s.rotation[3 * i + 2] * X[6 + j];
}

void draw_statues(const SceneView &view) {
  bool programs = programs_available();
  const GlExt &e = gl_ext();
  for (int k = 0; k < statue_count(); k++) {
    const Statue &s = *track_statue(k);
    if (!s.model || !s.texture) continue;
    // Most of a track's statues are behind or beside the camera, and each
    // costs software GL a draw of its own.
    float centre[3] = {s.x, s.y, s.z};
    if (!sphere_in_view(centre, model_radius(s.model), view, view_extents())) continue;
    float R[9];
    statue_rotation(k, s, R);
    float m[16] = {R[0], R[3], R[6], 0, R[1], R[4], R[7], 0, R[2], R[5], R[8], 0, s.x, s.y, s.z, 1};
    int program = program_lit;
    if (programs && s.normal_map && e.ActiveTextureARB) {
      program = s.specular_map ? program_norm_spec_lit : program_norm_lit;
      e.ActiveTextureARB(GL_TEXTURE1_ARB);
      glBindTexture(GL_TEXTURE_2D, s.normal_map);
      if (s.specular_map) {
        e.ActiveTextureARB(GL_TEXTURE2_ARB);
        glBindTexture(GL_TEXTURE_2D, s.specular_map);
      }
      e.ActiveTextureARB(GL_TEXTURE0_ARB);
    }
    if (programs) use_program(program);
    glBindTexture(GL_TEXTURE_2D, s.texture);
    render_stats().texture_changes++;
    glPushMatrix();
    glMultMatrixf(m);
    float to_model[3] = {s.x - view.position[0], s.y - view.position[1], s.z - view.position[2]};
    model_draw(s.model, to_model, nullptr);
    glPopMatrix();
  }
  use_program(0);
}

void draw_trackside_billboards(const SceneView &view) {
  Scene *sc = scene_state();
  int n = collect_billboards(view.position, view.axes[2], view.axes[0], sc->items, max_drawn_billboards);
  sort_billboards(sc->items, n, sc->scratch);
  regroup_billboards(sc->items, n, game_settings().billboard_optimize_lookahead);
  glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT);
  glDisable(GL_LIGHTING);
  glDisable(GL_CULL_FACE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glDepthMask(GL_FALSE);
  glEnable(GL_TEXTURE_2D);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  draw_billboards(sc->items, n, view.axes[0]);
  glPopAttrib();
}

// The robots' recorded lines of the first lap, fading with distance.
void draw_line_debug(const SceneView &view) {
  glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT);
  glDisable(GL_LIGHTING);
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  for (int slot = 0; slot < first_lap_slots(); slot++) {
    for (int k = 0; k < lines_per_slot; k++) {
      const Line *line = line_record(slot, k);
      if (!line || line->point_count < 2) continue;
      glBegin(GL_LINE_STRIP);
      for (int p = 0; p < line->point_count; p++) {
        const LinePoint &lp = line->points[p];
        float dx = lp.x - view.position[0], dy = lp.y - view.position[1], dz = lp.z - view.position[2];
        glColor4f(1, 1, 1, std::clamp(1 - 0.001f * (dx * dx + dy * dy + dz * dz), 0.0625f, 1.0f));
        glVertex3f(lp.x, lp.y, lp.z);
      }
      glEnd();
    }
  }
  glPopAttrib();
}

void draw_labels(const SceneView &view) {
  Scene *sc = scene_state();
  if (sc->label_count == 0) return;
  overlay_begin();
  for (int i = 0; i < sc->label_count; i++) {
    const Label &l = sc->labels[i];
    float d[3] = {l.position[0] - view.position[0], l.position[1] - view.position[1], l.position[2] - view.position[2]};
    float e[3];
    for (int r = 0; r < 3; r++) e[r] = view.axes[r][0] * d[0] + view.axes[r][1] * d[1] + view.axes[r][2] * d[2];
    if (e[2] >= 0) continue;  // behind the camera
    glLoadIdentity();
    glTranslatef(e[0], e[1], e[2]);
    glScalef(0.5f, 0.5f, 0.5f);
    int lines = 1;
    for (const char *c = l.text; *c; c++) lines += *c == '\n';
    draw_box(0.5f, 0.5f, 0.5f, 0.5f, 0, 1, text_width(l.text), 1 - lines);
    draw_text(1, 1, 1, 1, l.text, text_mode_colour);
  }
  overlay_end();
}

}  // namespace

void scene_set_window(int width, int height) {
  scene_state()->width = width;
  scene_state()->height = height;
}

void scene_set_options(int plain, int debug_level) {
  scene_state()->plain = plain;
  scene_state()->debug_level = debug_level;
}

void add_label(const float position[3], const char *text) {
  Scene *sc = scene_state();
  if (sc->label_count >= max_labels || !text) return;
  Label &l = sc->labels[sc->label_count++];
  memcpy(l.position, position, sizeof l.position);
  l.text = intern_string(text);
}

void scene_clear_labels() { scene_state()->label_count = 0; }

const SceneTimes &scene_times() { return scene_state()->times; }

void draw_scene(const SceneView &view) {
  Scene *sc = scene_state();
  SceneTimes &times = sc->times;
  times = SceneTimes{};
  const RaceState &race = race_state();
  const Lighting &l = *track_lighting();
  Terrain *terrain = track_terrain();

  // 1-2: the race's trackside pictures; the terrain learns where the camera
  // is and composes what waits; projection and rotation.
  animate_trackside(race.tic);
  texture_animate(race.tic);
  float forward[3] = {-view.axes[2][0], -view.axes[2][1], -view.axes[2][2]};
  double t0 = now();
  if (terrain) {
    terrain_set_view(terrain, view.position, forward);
    terrain_compose(terrain);
  }
  times.compose += now() - t0;
  set_projection(sc->width, sc->height, view.fov);
  load_view_rotation(view);
  if (programs_available()) {
    // Eye-space directions back into the world: the transpose of the rows.
    float m[9] = {view.axes[0][0], view.axes[0][1], view.axes[0][2], view.axes[1][0], view.axes[1][1],
                  view.axes[1][2], view.axes[2][0], view.axes[2][1], view.axes[2][2]};
    set_env_matrix(m);
  }

  glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_LIGHTING_BIT | GL_FOG_BIT |
               GL_TEXTURE_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT);
  // 3: the depth; the sky fills what the solid things leave (after 9),
  // so the colour buffer needs no clearing.
  if (sc->plain) glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  else glClear(GL_DEPTH_BUFFER_BIT);
  // 4-5: fog, the camera's place and the sun.
  set_fog(l);
  glTranslatef(-view.position[0], -view.position[1], -view.position[2]);
  set_light(l);
  glEnable(GL_DEPTH_TEST);
  glDepthMask(GL_TRUE);
  glDepthFunc(GL_LESS);
  glEnable(GL_CULL_FACE);
  // 6: the ground.
  t0 = now();
  if (terrain) terrain_draw(terrain);
  times.terrain += now() - t0;
  // Hand the ground to the driver now: software GL rasterises a flushed
  // batch on its own threads while this one goes on with the bikes, where
  // otherwise it would hold all of the frame until the swap (about a tenth
  // of the frame here). A GPU takes it as the hint it is.
  glFlush();
  // 7-8: bikes with full opacity.
  glEnable(GL_ALPHA_TEST);
  glAlphaFunc(GL_GREATER, 0.75f);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glEnable(GL_TEXTURE_2D);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  t0 = now();
  float opacity[max_slots];
  for (int i = 0; i < max_slots; i++) opacity[i] = bike_drawn(i) && bike_in_view(i, view) ? bike_opacity(i, view) : 0;
  draw_bikes_pass(view, false, opacity);
  times.bikes += now() - t0;
  glFlush();  // the solid bikes likewise, while the rest is prepared
  // 9: statues.
  t0 = now();
  draw_statues(view);
  times.statues += now() - t0;
  // The sky, behind everything solid and before anything blended over it.
  if (!sc->plain) {
    glPushMatrix();
    load_view_rotation(view);
    draw_sky(l);
    glPopMatrix();
  }
  // 10: billboards and roost, back to front.
  t0 = now();
  draw_trackside_billboards(view);
  times.billboards += now() - t0;
  // 11: the faded ghosts, blended over everything solid.
  t0 = now();
  glDisable(GL_ALPHA_TEST);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  draw_bikes_pass(view, true, opacity);
  glDisable(GL_BLEND);
  times.bikes += now() - t0;
  // 12-14: fixed function again; the line view; no more fog.
  use_program(0);
  glDisable(GL_LIGHTING);
  if (sc->debug_level >= 2 && autopilot_debug()) draw_line_debug(view);
  glDisable(GL_FOG);
  glPopAttrib();
  // 15: labels.
  load_view_rotation(view);
  draw_labels(view);
  // 16: lens flares.
  t0 = now();
  if (game_settings().lens_flare.selected == 1) draw_lens_flares(view.position, view.axes);
  times.flares += now() - t0;
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

float ghost_fade(float distance, float fade_distance) {
  float G = fade_distance;
  if (G <= 0) return 1;
  return std::clamp((distance - G / 2) / (G - G / 2), 0.0f, 1.0f);
}

float shine_at(float distance) {
  constexpr float full = 12, gone = 24;
  return std::clamp((gone - distance) / (gone - full), 0.0f, 1.0f);
}

bool sphere_in_view(const float centre[3], float r, const SceneView &view, const ViewExtents &e) {
  float d[3] = {centre[0] - view.position[0], centre[1] - view.position[1], centre[2] - view.position[2]};
  float x = view.axes[0][0] * d[0] + view.axes[0][1] * d[1] + view.axes[0][2] * d[2];
  float y = view.axes[1][0] * d[0] + view.axes[1][1] * d[1] + view.axes[1][2] * d[2];
  float depth = -(view.axes[2][0] * d[0] + view.axes[2][1] * d[1] + view.axes[2][2] * d[2]);
  if (depth < e.near_plane - r) return false;
  // The side planes through the eye: |x| <= depth * X, widened by the
  // radius measured along each plane's normal.
  if (std::fabs(x) > depth * e.xext + r * std::sqrt(1 + e.xext * e.xext)) return false;
  if (std::fabs(y) > depth * e.yext + r * std::sqrt(1 + e.yext * e.yext)) return false;
  return true;
}
