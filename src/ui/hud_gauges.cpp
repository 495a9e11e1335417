// The rider gauges of the rider and chase views: suspension graph,
// tachometer and gear, pitboard with the lapping warning, the rider's name,
// lean indicator, track map and the race title.
#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/config.h"
#include "app/types.h"
#include "assets/texture.h"
#include "bike/bike.h"
#include "race/race.h"
#include "race/running_order.h"
#include "race/series.h"
#include "render/view.h"
#include "replay/history.h"
#include "track/terrain.h"
#include "track/track.h"
#include "ui/hud.h"
#include "ui/hud_local.h"
#include "ui/text.h"

namespace {

constexpr float dial_half_size = 0.2334f;  // of yext: the dial and the graph panels
constexpr float pitboard_width = 0.6227179f;  // of yext
constexpr float lean_radius = 0.9336f;  // of yext
constexpr float lean_warning = 0.6283185f;  // 36 degrees
constexpr float map_side = 0.4668f;  // of yext, times map_scale
constexpr float pi = 3.14159265f;

// Loaded at start-up in the permanent generation; deleted with every texture.
unsigned pictures[hud_picture_count];

float yext() { return view_extents().yext; }
float xext() { return view_extents().xext; }

// "%d:%02d.%d" of a lap in tics: minutes, seconds, tenths.
void format_tenths(char *out, int size, const char *label, int tics) {
  int tenths = static_cast<int>(static_cast<long>(tics) * 10 / tics_per_second);
  snprintf(out, size, "%s%d:%02d.%d ", label, tenths / 600, tenths / 10 % 60, tenths % 10);
}

// --- 1. suspension graph ---------------------------------------------------------

void draw_ring(int ring, float scale, int blend_ring) {
  glBegin(GL_LINE_STRIP);
  for (int i = 0; i < suspension_graph_samples; i++) {
    int age = suspension_graph_samples - 1 - i;  // oldest at the left
    if (blend_ring >= 0) {
      float blend = std::clamp(suspension_graph_value(blend_ring, age), 0.0f, 1.0f);
      glColor4f(blend, 1 - blend, 0, 1);
    }
    float y = std::clamp(scale * suspension_graph_value(ring, age), -1.0f, 1.0f);
    glVertex2f(2.0f * i / suspension_graph_samples - 1, y);
  }
  glEnd();
}

void draw_graph_panel(float cx, float cy, float half, int position, int speed, float speed_scale, int blend,
                      const char *const labels[3]) {
  glPushMatrix();
  glTranslatef(cx, cy, 0);
  glScalef(half, half, 1);
  glColor4f(1, 1, 1, 1);
  glBegin(GL_LINE_LOOP);
  glVertex2f(-1, -1);
  glVertex2f(1, -1);
  glVertex2f(1, 1);
  glVertex2f(-1, 1);
  glEnd();
  glBegin(GL_LINES);
  glVertex2f(-1, 0);
  glVertex2f(1, 0);
  glEnd();
  glColor4f(1, 1, 1, 1);
  draw_ring(position, 1, -1);
  draw_ring(speed, speed_scale, blend);
  // Labels right of the panel's top, a twelfth of the half-size high.
  glTranslatef(1, 1, 0);
  glScalef(1.0f / 12, 1.0f / 12, 1);
  static const float colours[3][3] = {{1, 1, 1}, {0, 1, 0}, {1, 0, 0}};
  for (int k = 0; k < 3; k++) {
    glTranslatef(0, k == 0 ? -1.0f : -2.0f, 0);
    draw_text(colours[k][0], colours[k][1], colours[k][2], 1, labels[k], text_mode_colour);
  }
  glPopMatrix();
}

void draw_suspension_graph() {
  float half = dial_half_size * yext();
  float cy = -yext() + half;
  static const char *const fork[3] = {" Fork Position", " Fork Speed (High)", " Fork Speed (Low)"};
  static const char *const rear[3] = {" Swingarm Position", " Shock Speed (High)", " Shock Speed (Low)"};
  draw_graph_panel(xext() - 7 * half, cy, half, ring_fork_position, ring_fork_speed, -0.25f, ring_fork_blend, fork);
  draw_graph_panel(xext() - 4 * half, cy, half, ring_rear_position, ring_shock_speed, -1.0f, ring_shock_blend, rear);
}

// --- 2, 3. tachometer and gear ---------------------------------------------------------

void draw_dial(float rpm, int gear) {
  float half = dial_half_size * yext();
  glPushMatrix();
  glTranslatef(xext() - half, -yext() + half, 0);
  glScalef(half, half, 1);
  draw_picture(pictures[picture_tach], -1, -1, 1, 1, 0, 0, 1, 1);
  glPushMatrix();
  glRotatef(-needle_degrees(rpm), 0, 0, 1);  // clockwise
  glColor4f(0.75f, 0, 0, 1);
  glBegin(GL_TRIANGLES);
  glVertex2f(0, 0.75f);
  glVertex2f(-0.1f, 0.25f);
  glVertex2f(0.1f, 0.25f);
  glEnd();
  glPopMatrix();
  // One cell of the 3 x 3 grid of gear pictures.
  int column = ((gear % 3) + 3) % 3, row = (((gear / 3) % 3) + 3) % 3;
  const float third = 1.0f / 3;
  draw_picture(pictures[picture_shifter], -third, -third, third, third, column * third, row * third,
               (column + 1) * third, (row + 1) * third);
  glPopMatrix();
}

// --- 4. pitboard and the lapping warning ---------------------------------------------------------

int order_index(int slot) {
  const RaceState &race = race_state();
  for (int i = 0; i < race.running_count; i++)
    if (race.running_order[i].slot == slot) return i;
  return race.running_count;
}

void draw_lapping_bar(int p) {
  const RaceState &race = race_state();
  static char text[1024];
  if (lapping_text(race.running_order, race.running_count, p, text, sizeof text) == 0) return;
  text_frame(30);
  float width = text_frame_width(30);
  text_move(0, -29);
  draw_box(0, 0.5f, 1, 0.5f, 0, 0, width, 1);
  draw_text_centred_plain(1, 1, 1, 1, 0, width, text);
}

void draw_pitboard(int viewed_slot) {
  const RaceState &race = race_state();
  const Slot *s = race_slot(viewed_slot);
  int p = order_index(viewed_slot);
  int laps = laps_at_position(s->timing.next_gate);
  float w = pitboard_width * yext();
  overlay_units();
  draw_picture(pictures[picture_pitboard], -xext(), -yext() + 0.125f * w, -xext() + w, -yext() + 0.8125f * w, 0,
               0.1875f, 1, 0.875f);
  glTranslatef(-xext() + 0.37109375f * w, -yext() + 0.6796875f * w, 0);
  float line = 0.0703125f * w;
  glScalef(line, line, 1);
  draw_text(0, 0, 0, 1, s->number, text_mode_colour);
  text_move(0, -2);
  text_scale(1.25f);
  char text[64];
  if (race.time_trial)
    snprintf(text, sizeof text, "P%d", p + 1);
  else
    snprintf(text, sizeof text, "L%d P%d", laps + 1, p + 1);
  draw_text(0, 0, 0, 1, text, text_mode_colour);
  text_move(0, -1);
  snprintf(text, sizeof text, "%+.1f ", pitboard_gap(race.running_order, race.running_count, p));
  draw_text(0, 0, 0, 1, text, text_mode_colour);
  int last = 0, best = 0;
  if (race.time_trial) {
    last = race.last_lap;
    best = race.best_lap;
  } else {
    if (laps >= 2) last = lap_tics(viewed_slot, laps);
    int lap = best_lap(viewed_slot);
    if (lap > 0) best = lap_tics(viewed_slot, lap);
  }
  // Each on a line of its own: both on one line would run off the board.
  text_move(-2, -1);
  if (last > 0) {
    format_tenths(text, sizeof text, "Last - ", last);
    draw_text(0, 0, 0, 1, text, text_mode_colour);
  }
  text_move(0, -1);
  if (best > 0) {
    format_tenths(text, sizeof text, "Best - ", best);
    draw_text(0, 0, 0, 1, text, text_mode_colour);
  }
  draw_lapping_bar(p);
}

// --- 6. lean indicator -------------------------------------------------------------------------

void draw_lean_indicator(const BikeState *bike) {
  const Terrain *terrain = track_terrain();
  if (!terrain) return;
  BodyPlacement frame = bike_body_placement(bike, bike_frame);
  float n[3];
  terrain_normal(terrain, frame.position[0], frame.position[2], n);
  float bx = n[0] * frame.axes[0][0] + n[1] * frame.axes[0][1] + n[2] * frame.axes[0][2];
  float by = n[0] * frame.axes[1][0] + n[1] * frame.axes[1][1] + n[2] * frame.axes[1][2];
  float a = std::atan2(bx, by);
  // Clockwise from straight up.
  float from = a >= 0 ? -pi / 2 : a + pi / 2;
  float to = a >= 0 ? a - pi / 2 : pi / 2;
  int segments = std::max(1, static_cast<int>(std::ceil((to - from) / (2 * pi) * 62)));
  float red = std::fabs(a) > lean_warning ? 1.0f : 0.0f;
  float radius = lean_radius * yext();
  overlay_units();
  glScalef(radius, radius, 1);
  glBegin(GL_QUAD_STRIP);
  for (int i = 0; i <= segments; i++) {
    float angle = from + (to - from) * i / segments;
    float sx = std::sin(angle), sy = std::cos(angle);
    glColor4f(red, 0, 0, 0);
    glVertex2f(0.5f * sx, 0.5f * sy);
    glColor4f(red, 0, 0, 0.25f);
    glVertex2f(sx, sy);
  }
  glEnd();
}

// --- 7. track map ---------------------------------------------------------------------------------

void map_square(float u, float v, float half) {
  glVertex2f(u - half, v - half);
  glVertex2f(u + half, v - half);
  glVertex2f(u + half, v + half);
  glVertex2f(u - half, v + half);
}

void map_arrow(float u, float v, float fx, float fz, float length) {
  float norm = std::sqrt(fx * fx + fz * fz);
  if (!(norm > 1e-6f)) return;
  fx /= norm;
  fz /= norm;
  // Local y points backwards, local x to the rider's right.
  float rx = -fz, rz = fx, bx = -fx, bz = -fz;
  const float shape[6][2] = {{0, -1}, {-1, 1}, {1, 1}, {0, -1}, {-0.5f, 2}, {0.5f, 2}};
  glBegin(GL_TRIANGLES);
  for (int k = 0; k < 6; k++) {
    float px = shape[k][0] * length, py = shape[k][1] * length;
    glVertex2f(u + px * rx + py * bx, v + px * rz + py * bz);
  }
  glEnd();
}

void draw_track_map(int viewed_slot) {
  unsigned map = track_map_texture();
  const Terrain *terrain = track_terrain();
  if (!map || !terrain || !(terrain->extent > 0)) return;
  float scale = game_settings().map_scale;
  float side = scale * map_side * yext();
  overlay_units();
  // Map-side units: (0, 0) at the square's top-left, v downward (world z).
  glTranslatef(xext() - side, yext(), 0);
  glScalef(side, -side, 1);
  draw_picture(map, 0, 1, 1, 0, 0, 0, 1, 1);
  float extent = terrain->extent;
  glColor4f(0, 0, 0, 1);
  glBegin(GL_QUADS);
  for (int slot = 0; slot < max_slots; slot++) {
    const Slot *s = race_slot(slot);
    if (!s->bike || history_hidden(slot)) continue;
    BodyPlacement frame = bike_body_placement(s->bike, bike_frame);
    map_square(frame.position[0] / extent, frame.position[2] / extent, 1.0f / (64 * scale));
  }
  const RaceState &race = race_state();
  for (int i = race.running_count - 1; i >= 0; i--) {
    int slot = race.running_order[i].slot;
    const Slot *s = race_slot(slot);
    if (!s || !s->bike) continue;
    if (rider_has_finished(slot))
      glColor4f(0.25f, 0.25f, 0.25f, 1);
    else if (i == 0)
      glColor4f(0, 1, 0, 1);
    else
      glColor4f(1, 1, 1, 1);
    BodyPlacement frame = bike_body_placement(s->bike, bike_frame);
    map_square(frame.position[0] / extent, frame.position[2] / extent, 1.0f / (128 * scale));
  }
  glEnd();
  const Slot *viewed = race_slot(viewed_slot);
  if (viewed && viewed->bike) {
    BodyPlacement frame = bike_body_placement(viewed->bike, bike_frame);
    float u = frame.position[0] / extent, v = frame.position[2] / extent;
    // Forward is the frame's -z axis.
    float fx = -frame.axes[2][0], fz = -frame.axes[2][2];
    float length = 3.0f / (128 * scale);
    glColor4f(0, 0, 0, 1);
    map_arrow(u, v, fx, fz, length * 1.5f);  // the outline: the shape grown by half of L
    glColor4f(1, 0, 0, 1);
    map_arrow(u, v, fx, fz, length);
  }
}

// --- 8. race title ----------------------------------------------------------------------------------

void draw_race_title() {
  const RaceState &race = race_state();
  float t = static_cast<float>(race.tic) / tics_per_second;
  if (!(t < 3)) return;
  float alpha = std::clamp(3 - t, 0.0f, 1.0f);
  overlay_units();
  glScalef(0.1f, 0.1f, 1);
  int series = running_series(), event = running_series_event();
  const Series *s = series >= 0 ? series_at(series) : nullptr;
  if (s && event >= 0 && event < s->event_count) {
    draw_text_centred(1, 1, 1, alpha, -10, 10, s->events[event].title);
    return;
  }
  const char *dir = current_track_dir();
  if (!dir) return;
  draw_text_centred(1, 1, 1, alpha, -10, 10, track_display_name(dir));
  char length[64];
  race_length_text(length, sizeof length, race.finish_time, race.finish_laps);
  text_move(0, -1);
  draw_text_centred(1, 1, 1, alpha, -10, 10, length);
}

}  // namespace

unsigned hud_texture(int picture) { return picture >= 0 && picture < hud_picture_count ? pictures[picture] : 0; }

void load_hud_textures() {
  static const char *const names[hud_picture_count] = {"!@tach.png", "!@shifter.png", "!@pitboard.png",
                                                       "!@title.png"};
  for (int i = 0; i < hud_picture_count; i++) pictures[i] = texture_read(names[i]);
}

void overlay_units() {
  glLoadIdentity();
  glTranslatef(0, 0, -1);
}

void draw_picture(unsigned texture, float x0, float y0, float x1, float y1, float u0, float v_top, float u1,
                  float v_bottom) {
  // Shutdown deletes every texture before its last loading screens.
  if (!texture || !glIsTexture(texture)) return;
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glColor4f(1, 1, 1, 1);
  glBegin(GL_QUADS);
  glTexCoord2f(u0, v_bottom);
  glVertex2f(x0, y0);
  glTexCoord2f(u1, v_bottom);
  glVertex2f(x1, y0);
  glTexCoord2f(u1, v_top);
  glVertex2f(x1, y1);
  glTexCoord2f(u0, v_top);
  glVertex2f(x0, y1);
  glEnd();
  glDisable(GL_TEXTURE_2D);
}

void draw_rider_name(const char *name) {
  if (!name || !*name) return;
  text_frame(30);
  text_move(0, -28);
  draw_text_centred(1, 1, 1, 1, 0, text_frame_width(30), name);
}

void draw_tachometer(float rpm, int gear) {
  overlay_begin();
  overlay_units();
  draw_dial(rpm, gear);
  overlay_end();
}

void draw_rider_gauges(int viewed_slot) {
  const Slot *s = race_slot(viewed_slot);
  overlay_begin();
  if (s && s->bike) {
    overlay_units();
    if (suspension_graph_on()) draw_suspension_graph();
    float rpm = bike_engine_speed(s->bike) * 60.0f / (2 * pi);
    draw_dial(rpm, bike_gear(s->bike));
    draw_pitboard(viewed_slot);
    if (s->drive_mode == drive_history) draw_rider_name(s->name);
    if (setup_settings().lean_indicator.selected == 1) draw_lean_indicator(s->bike);
  }
  draw_track_map(viewed_slot);
  draw_race_title();
  overlay_end();
}
