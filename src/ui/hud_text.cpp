// The text HUD (results table and the status lines), the broadcast overlay
// of the trackside view, and the order in which a frame's HUD layers draw.
#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/camera.h"
#include "app/config.h"
#include "app/keyframes.h"
#include "app/types.h"
#include "bike/bike.h"
#include "net/client.h"
#include "platform/log.h"
#include "race/race.h"
#include "race/running_order.h"
#include "render/render_stats.h"
#include "render/terrain_render.h"
#include "track/objects.h"
#include "track/track.h"
#include "ui/hud.h"
#include "ui/hud_local.h"
#include "ui/loading.h"
#include "ui/text.h"

namespace {

constexpr float table_width = 19;
constexpr float ticker_cell = 21.5f;

// Command-line values of the switches; -1 = the setting decides. Live for
// the process.
struct SwitchOptions {
  int fps = -1, time = -1, ping = -1, speed = -1, render_stats = -1;
};
SwitchOptions options;

int switch_on(int option, int setting) { return option >= 0 ? option != 0 : setting != 0; }

// "%d:%02d.%03d" of a time in tics.
void format_millis(char *out, int size, int tics) {
  long ms = static_cast<long>(tics) * 1000 / tics_per_second;
  if (ms < 0) ms = 0;
  snprintf(out, size, "%ld:%02ld.%03ld", ms / 60000, ms / 1000 % 60, ms % 1000);
}

// --- results table -------------------------------------------------------------------

void draw_table_row(int k, const RunningEntry &e, int viewed_slot, const RunningEntry *list, int count) {
  const Slot *s = race_slot(e.slot);
  float grey = e.slot == viewed_slot ? 1.0f : 0.75f;
  char text[64];
  snprintf(text, sizeof text, "%d", k + 1);
  draw_text_right(grey, grey, grey, 1, 1.5f, text);
  snprintf(text, sizeof text, "%3s", s ? s->number : "");
  draw_text_right(grey, grey, grey, 1, 4, text);
  snprintf(text, sizeof text, "L%d", laps_at_position(e.position));
  draw_text_right(grey, grey, grey, 1, 6.25f, text);
  snprintf(text, sizeof text, "%7.3f", table_gap(list, count, k));
  draw_text_right(grey, grey, grey, 1, 11, text);
  int lap = best_lap(e.slot);
  format_millis(text, sizeof text, lap > 0 ? lap_tics(e.slot, lap) : 0);
  draw_text_right(grey, grey, grey, 1, 16.5f, text);
  snprintf(text, sizeof text, "(%d)", lap);
  draw_text_right(grey, grey, grey, 1, table_width, text);
}

// Draws the table at the frame's origin; returns whether it was shown.
bool draw_results_table(int viewed_slot) {
  const RaceState &race = race_state();
  const RunningEntry *list = race.running_order;
  int count = race.running_count;
  if (count == 0 || !rider_has_finished(list[0].slot)) return false;
  glPushMatrix();
  text_move(0.25f, -0.25f);
  draw_box(0, 0, 0, 0.25f, 0, 1, table_width, -0.5f);
  draw_text_centred(1, 1, 1, 1, 0, table_width, race.results_final ? "Final Results" : "Unofficial Results");
  // The column heads at half size, half a line down.
  glPushMatrix();
  text_move(0, -0.5f);
  text_scale(0.5f);
  static const struct {
    const char *head;
    float x0, x1;
  } heads[] = {{"Pos.", 0, 2},       {"No.", 2, 4},         {"Lap", 4, 6.25f},
               {"Gap", 6.25f, 11.5f}, {"Best Time", 11.5f, 16.5f}, {"BLap", 16.5f, 19}};
  for (const auto &h : heads) draw_text_centred(1, 1, 1, 1, h.x0 * 2, h.x1 * 2, h.head);
  glPopMatrix();
  text_move(0, -0.5f);
  int drawn = 0;
  for (int k = 0; k < count; k++) {
    if (!race.results_final && !rider_has_finished(list[k].slot)) continue;
    text_move(0, -1);
    if (drawn % 2 == 1) draw_box(1, 1, 1, 0.25f, 0, 0, table_width, 1);
    draw_table_row(k, list[k], viewed_slot, list, count);
    drawn++;
  }
  if (race.results_final) {
    char text[256];
    text_move(0, -1);
    format_millis(text, sizeof text, list[0].tic - race.gate_drop_tic);
    char line[300];
    snprintf(line, sizeof line, "Total Race Time: %s", text);
    draw_text_shadowed(line);
    text_move(0, -1.5f);
    text_scale(0.5f);
    for (int k = 0; k < count; k++) {
      if (penalty_line(list[k], text, sizeof text) == 0) continue;
      text_move(0, -1);
      draw_text_shadowed(1, 0, 0, 1, text);
    }
  }
  glPopMatrix();
  return true;
}

// --- status lines ----------------------------------------------------------------------

struct LineColumn {
  int line;
  void add(const char *text) {
    glPushMatrix();
    text_move(0, static_cast<float>(-line));
    draw_text_shadowed(text);
    glPopMatrix();
    line++;
  }
};

void draw_render_statistics(LineColumn *column) {
  render_stats_update_maxima();
  const RenderStats &now = render_stats(), &max = render_stats_maxima();
  char text[128];
  const struct {
    const char *label;
    int value, maximum;
  } rows[] = {{"Ground polygons", now.ground_polygons, max.ground_polygons},
              {"Model polygons", now.model_polygons, max.model_polygons},
              {"Billboards", now.billboards, max.billboards},
              {"Decals", now.decals, max.decals},
              {"Texture Changes", now.texture_changes, max.texture_changes},
              {"Shader Changes", now.shader_changes, max.shader_changes}};
  for (const auto &r : rows) {
    snprintf(text, sizeof text, "%s - %d max=%d", r.label, r.value, r.maximum);
    column->add(text);
  }
  const Terrain *terrain = track_terrain();
  snprintf(text, sizeof text, "Terrain texture age - %d", terrain ? terrain_texture_age(terrain) : 0);
  column->add(text);
  snprintf(text, sizeof text, "Reshades pending - %d", terrain ? terrain_reshades_pending(terrain) : 0);
  column->add(text);
}

// --- broadcast overlay -------------------------------------------------------------------

void draw_ticker_cell(const RunningEntry *list, int n, int k) {
  draw_box(0, 0, 0, 1, 0, 2, ticker_cell, -1);
  if (k >= n) return;  // the gap after the last entry
  const Slot *s = race_slot(list[k].slot);
  char text[64];
  glPushMatrix();
  snprintf(text, sizeof text, "%d", k + 1);
  draw_text_centred_plain(1, 1, 1, 1, 0, 3, text);
  text_move(3, 0);
  draw_box(1, 1, 1, 1, 0, 0, 3, 1);
  snprintf(text, sizeof text, "%3s", s ? s->number : "");
  draw_text(0, 0, 0, 1, text, text_mode_colour);
  float gap = gap_to_first(list, n, k);
  if (gap > 0) {
    snprintf(text, sizeof text, "%7.3f", gap);
    text_move(0, -1);
    draw_text(1, 1, 1, 1, text, text_mode_colour);
    text_move(0, 1);
  }
  text_move(3.5f, 0);  // past a black strip half a unit wide
  draw_box(1, 1, 1, 1, 0, 0, 15, 1);
  if (s && s->name) {
    text_move(0.25f, 0);
    draw_text(0, 0, 0, 1, s->name, text_mode_colour);
  }
  glPopMatrix();
}

void draw_lap_board(const RunningEntry &first, float width) {
  const RaceState &race = race_state();
  int laps = laps_at_position(first.position);
  glPushMatrix();
  text_move(width - 5, -2.25f);
  char text[32];
  snprintf(text, sizeof text, "Lap %d", laps + 1);
  if (laps + 1 < race.final_lap) {
    draw_box(0, 1, 0, 1, 0, 0, 5, 1);
    draw_text_centred_plain(0, 0, 0, 1, 0, 5, text);
  } else if (laps + 1 == race.final_lap) {
    draw_box(1, 1, 1, 1, 0, 0, 5, 1);
    draw_text_centred_plain(0, 0, 0, 1, 0, 5, text);
  } else {
    // The chequered flag: two rows of four squares.
    for (int row = 0; row < 2; row++)
      for (int col = 0; col < 4; col++) {
        float c = (row + col) % 2 ? 1.0f : 0.0f;
        draw_box(c, c, c, 1, col * 1.25f, row * 0.5f, (col + 1) * 1.25f, (row + 1) * 0.5f);
      }
  }
  glPopMatrix();
}

bool track_camera_in_use() {
  int camera = selected_camera();
  return !keycam_mode() && camera >= 0 && camera < camera_count();
}

}  // namespace

void hud_set_switch_options(int fps, int time, int ping, int speed, int render_stats) {
  options = {fps, time, ping, speed, render_stats};
}

// The text HUD with its lines from `top_line` down.
static void draw_text_hud_from(const HudFrame &frame, int top_line) {
  const GameSettings &g = game_settings();
  const RaceState &race = race_state();
  overlay_begin();
  text_frame(50);
  text_move(0, static_cast<float>(-top_line));
  LineColumn column = {0};
  if (draw_results_table(frame.viewed_slot)) text_move(19.5f, 0);
  char text[300];
  double longest = frame.longest_advance ? *frame.longest_advance : 0;
  if (frame.longest_advance) *frame.longest_advance = 0;
  if (switch_on(options.fps, g.draw_fps)) {
    snprintf(text, sizeof text, "FPS - %d", longest > 0 ? static_cast<int>(1 / longest) : 0);
    column.add(text);
  }
  if (switch_on(options.time, g.draw_time)) {
    int tenths = static_cast<int>(static_cast<long>(std::max(0, race.tic - race.gate_drop_tic)) * 10 / tics_per_second);
    snprintf(text, sizeof text, "Time - %d:%02d.%d ", tenths / 600, tenths / 10 % 60, tenths % 10);
    column.add(text);
  }
  int client_slot = race_network().local_slot;
  if (switch_on(options.ping, g.draw_ping) && net_connected() && client_slot >= 0 && client_slot < max_slots) {
    snprintf(text, sizeof text, "Ping - %dms (%dms offset)", net_ping() * 1000 / tics_per_second,
             static_cast<int>((static_cast<long>(net_server_tic_estimate()) - race.tic) * 1000 / tics_per_second));
    column.add(text);
  }
  const Slot *viewed = race_slot(frame.viewed_slot);
  if (switch_on(options.speed, g.draw_speed) && viewed && viewed->bike) {
    BodyPlacement body = bike_body_placement(viewed->bike, bike_frame);
    const float *v = body.velocity;
    snprintf(text, sizeof text, "Speed - %.2f", std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) * 0.6818182f);
    column.add(text);
  }
  if (switch_on(options.render_stats, 0)) draw_render_statistics(&column);
  if (setup_settings().sticky_dab.selected == 1 && frame.dab_latch) column.add("Dabbing!");
  for (int k = message_visible_count() - 1; k >= 0; k--) {
    const char *line = message_line(k);
    if (line) column.add(line);
  }
  overlay_end();
}

void draw_text_hud(const HudFrame &frame) { draw_text_hud_from(frame, 0); }

void draw_broadcast_overlay(double program_clock) {
  const RaceState &race = race_state();
  // Online, while the player only watches, its own warm-up bike is left out.
  bool skip_local = race_network().connected && race_network().gate_position == max_slots;
  RunningEntry list[max_slots];
  int n = 0;
  for (int i = 0; i < race.running_count; i++) {
    const Slot *s = race_slot(race.running_order[i].slot);
    if (skip_local && s && s->drive_mode == drive_local) continue;
    list[n++] = race.running_order[i];
  }
  if (n == 0) return;
  overlay_begin();
  text_frame(40);
  float width = text_frame_width(40);
  double s = program_clock / 2;
  double whole = std::floor(s);
  float shift = static_cast<float>((s - whole) * ticker_cell);
  int k = static_cast<int>(std::fmod(whole, n + 1.0));
  if (k < 0) k += n + 1;
  for (float x = -shift; x < width; x += ticker_cell) {
    glPushMatrix();
    text_move(x, 0);
    draw_ticker_cell(list, n, k);
    glPopMatrix();
    k = (k + 1) % (n + 1);
  }
  draw_lap_board(list[0], width);
  overlay_end();
}

void draw_hud(const HudFrame &frame) {
  int top_line = 0;
  switch (frame.view) {
    case hud_view_title:
      draw_title_screen("");
      return;
    case hud_view_rider:
    case hud_view_chase:
      if (frame.show_hud) draw_rider_gauges(frame.viewed_slot);
      break;
    case hud_view_trackside: {
      if (track_camera_in_use()) {
        draw_broadcast_overlay(frame.program_clock);
        // The text lines start below the ticker, which covers the top 2.5 lines.
        top_line = 3;
      }
      const Slot *s = race_slot(frame.viewed_slot);
      if (frame.show_hud && automatic_cameras() && s && s->drive_mode == drive_history) {
        overlay_begin();
        draw_rider_name(s->name);
        overlay_end();
      }
      break;
    }
    default:
      break;
  }
  if (frame.show_hud) draw_text_hud_from(frame, top_line);
}
