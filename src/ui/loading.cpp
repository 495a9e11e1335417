#include "ui/loading.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstring>

#include "app/bindings.h"
#include "app/config.h"
#include "assets/file.h"
#include "platform/input.h"
#include "platform/log.h"
#include "platform/window.h"
#include "render/view.h"
#include "ui/hud_local.h"
#include "ui/text.h"

namespace {

constexpr double progress_interval = 0.125;
constexpr double scan_interval = 0.0625;

// Lives for the process (the window from start-up to shutdown).
struct LoadingScreen {
  Window *window;
  const char *version;
  int dots;
  double progress_drawn;  // real time of the last progress redraw
  double tick_drawn;      // and of the last scan tick's
  double last_update;     // real time of the last update, 0 before the first
  double max_delay;
  char max_delay_text[80];
  char shown[80];         // what the screen shows now (first 79 characters)
};
LoadingScreen screen;

double now_seconds() { return time_seconds(time_now()); }

// No key stays held across a load. A close request is put back: it is the
// one event the player must not lose while the game is busy.
void drop_input() {
  InputEvent e;
  bool close = false;
  while (input_next_event(&e))
    if (e.code == event_close && e.pressed) close = true;
  if (close) input_push_event(event_close, 1, time_now());
  clear_binding_values();
}

void note_delay(const char *text) {
  double now = now_seconds();
  if (screen.last_update > 0 && now - screen.last_update > screen.max_delay) {
    screen.max_delay = now - screen.last_update;
    snprintf(screen.max_delay_text, sizeof screen.max_delay_text, "%s", screen.shown);
  }
  screen.last_update = now;
  snprintf(screen.shown, sizeof screen.shown, "%s", text ? text : "");
}

void listing_tick() { loading_progress_tick("Listing files"); }

}  // namespace

void loading_set_window(Window *window, const char *version) {
  screen.window = window;
  screen.version = version;
  file_set_progress_tick(window ? listing_tick : nullptr);
}

void draw_title_screen(const char *message) {
  overlay_begin();
  overlay_units();
  const ViewExtents &v = view_extents();
  draw_box(0, 0, 0, 1, -v.xext, -v.yext, v.xext, v.yext);
  // The 2:1 picture as large as fits, centred.
  float half_w = v.xext, half_h = v.xext / 2;
  if (v.xext > 2 * v.yext) {
    half_h = v.yext;
    half_w = 2 * v.yext;
  }
  draw_picture(hud_texture(picture_title), -half_w, -half_h, half_w, half_h, 0, 0, 1, 1);
  if (message && *message) {
    text_frame(25);
    text_move(0.5f, 0);
    draw_text(1, 1, 1, 1, message, text_mode_colour);
  }
  if (screen.version) {
    text_frame(32);
    text_move(0, -31);
    draw_text_right(0.75f, 0.75f, 0.75f, 1, text_frame_width(32) - 0.25f, screen.version);
  }
  overlay_end();
}

void show_loading(const char *text) {
  note_delay(text);
  if (!screen.window) return;
  drop_input();
  Viewport viewport;
  if (!window_frame_begin(screen.window, &viewport)) return;
  set_projection(viewport.width, viewport.height, static_cast<float>(game_settings().fov.value));
  glViewport(viewport.x, viewport.y, viewport.width, viewport.height);
  glPushAttrib(GL_DEPTH_BUFFER_BIT | GL_ENABLE_BIT);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_ALPHA_TEST);
  draw_title_screen(text);
  glPopAttrib();
  window_frame_end(screen.window);
}

void show_loading_logged(const char *text) {
  hovl_log("%s\n", text);
  show_loading(text);
}

void show_loading_reset(const char *text) {
  screen.dots = 0;
  screen.progress_drawn = 0;
  show_loading(text);
}

void show_loading_progress(const char *text) {
  screen.dots = (screen.dots + 1) & 3;
  double now = now_seconds();
  if (screen.progress_drawn > 0 && now - screen.progress_drawn < progress_interval) return;
  screen.progress_drawn = now;
  static const char *const dots[4] = {"", ".", "..", "..."};
  char line[96];
  snprintf(line, sizeof line, "%.64s%s", text, dots[screen.dots]);
  show_loading(line);
}

void show_loading_done(const char *text) {
  char line[96];
  snprintf(line, sizeof line, "%.64s...done", text);
  show_loading(line);
}

void loading_progress_tick(const char *text) {
  if (!screen.window) return;
  window_pump(screen.window);
  double now = now_seconds();
  if (now - screen.tick_drawn < scan_interval) return;
  screen.tick_drawn = now;
  show_loading(text);
}

void loading_delay_reset() {
  screen.last_update = 0;
  screen.max_delay = 0;
  screen.max_delay_text[0] = 0;
}

double loading_max_delay() { return screen.max_delay; }
const char *loading_max_delay_text() { return screen.max_delay_text; }
