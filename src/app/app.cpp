#include "app/app.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "app/bindings.h"
#include "app/camera.h"
#include "app/config.h"
#include "app/console.h"
#include "app/keyframes.h"
#include "app/frame_clock.h"
#include "app/options.h"
#include "app/timedemo.h"
#include "app/types.h"
#include "net/client.h"
#include "assets/file.h"
#include "assets/model.h"
#include "assets/texture.h"
#include "bike/assembly.h"
#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/crash.h"
#include "platform/audio.h"
#include "platform/input.h"
#include "platform/log.h"
#include "platform/window.h"
#include "script/frills.h"
#include "race/race.h"
#include "render/gl_caps.h"
#include "render/render_stats.h"
#include "render/scene.h"
#include "render/view.h"
#include "ui/hud.h"
#include "ui/loading.h"
#include "ui/menu.h"
#include "ui/text.h"
#include "render/terrain_render.h"
#include "race/race_net.h"
#include "race/series.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "robot/lines.h"
#include "race/race_sound.h"
#include "sound/engine_sound.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

constexpr const char *version_text = "2019-02-04-1446 snapshot";
// The main data archive: the game data counts as found when a base
// directory holds it.
constexpr const char *main_archive = "torvane.saf";

enum ViewMode { view_rider = 0, view_editor = 2, view_chase = 3, view_trackside = 4, view_title = 5 };

// Main-loop state: lives for the process.
struct App {
  ProgramSettings settings;
  Window *window;
  FrameClock clock;
  int quit;
  int paused;
  int view;
  int viewed_slot;
  int pointer_button;  // "cursor-left" held
  int key_pointer;
  float channels[control_channel_count];
  int width, height;
  const char *starting_track;
  AxisHandle cursor_x, cursor_y;
  int cursor_last_x, cursor_last_y;
  // Special keys resolved once at start-up.
  int key_esc, key_tab, key_help;
  int key_digits[10];
  int dab_latch;
  float dab_channel_last;
  const char **demos;
  int demo_count, demo_capacity;
};

App app;

// Set from the signal handler; the loop turns it into a "close" event so the
// program always shuts down in order.
volatile sig_atomic_t close_requested = 0;

void on_signal(int) { close_requested = 1; }

bool has_game_data() {
  for (int i = 0; data_directory(i); i++) {
    char path[1024];
    snprintf(path, sizeof path, "%s%s", data_directory(i), main_archive);
    if (access(path, R_OK) == 0) return true;
  }
  return false;
}

void drain_events() {
  InputEvent e;
  while (input_next_event(&e)) {
    if (e.code == event_close && e.pressed) app.quit = 1;
  }
}

void collect_demos() {
  for (const char *const *name = file_list(); *name; name++) {
    size_t n = strlen(*name);
    if (strncmp(*name, "demos/", 6) != 0 || n < 7 + 7 || strcmp(*name + n - 7, ".qxdemo") != 0) continue;
    grow_array(app.demos, app.demo_count, app.demo_capacity);
    app.demos[app.demo_count++] = *name;
    if (app.settings.debug) {
      const char *slash = strrchr(*name, '/');
      const char *base = slash ? slash + 1 : *name;
      const char *dot = strrchr(base, '.');
      int length = dot ? static_cast<int>(dot - base) : static_cast<int>(strlen(base));
      if (length == 0) {
        base = *name;
        length = static_cast<int>(n);
      }
      hovl_log("%s -> %.*s\n", *name, length, base);
    }
  }
}


// --- key handling ------------------------------------------------------

int binding_code(int index) {
  const KeyBinding *b = key_binding(index);
  return b ? b->key_code : -1;
}

void handle_key(const InputEvent *e) {
  if (e->code == event_close) {
    if (e->pressed) app.quit = 1;
    return;
  }
  // Bindings take their value first; a running capture swallows the key.
  if (e->code == app.key_pointer) app.pointer_button = e->pressed;
  if (binding_key_event(e->code, e->pressed, app.clock.program_clock)) return;
  if (!e->pressed) return;
  int code = menu_controller_key(e->code);
  if (code == app.key_esc) {
    menu_open(menu_screen() == menu_none ? menu_main : menu_none);
    return;
  }
  // F1 shows the keys from anywhere (an addition to the original keys, so
  // newcomers find them); pressed again it closes the menus.
  if (app.key_help >= 0 && code == app.key_help) {
    menu_open(menu_screen() == menu_help ? menu_none : menu_help);
    return;
  }
  if (menu_screen() != menu_none) {
    menu_key(code);
    if (menu_quit_requested()) app.quit = 1;
    return;
  }
  if (e->code == binding_code(bind_console) && app.view != view_editor) {
    menu_open(menu_console);
    return;
  }
  if (app.view == view_title) return;
  if (e->code == binding_code(bind_pause) && !app.settings.connect) {
    app.paused = !app.paused;
    return;
  }
  if (e->code == binding_code(bind_rewind)) {
    seek_playback(-1);
    return;
  }
  if (e->code == binding_code(bind_skip)) {
    seek_playback(1);
    return;
  }
  if (e->code == app.key_tab) {
    switch (app.view) {
      case view_rider: app.view = app.settings.editor ? view_editor : view_chase; break;
      case view_editor: app.view = view_chase; break;
      case view_chase: app.view = view_trackside; break;
      default: app.view = view_rider; break;
    }
    return;
  }
  if (e->code == binding_code(bind_screenshot) && app.view != view_editor) {
    take_screenshot();
    return;
  }
  for (int digit = 0; digit < 10; digit++)
    if (e->code == app.key_digits[digit]) select_camera_key(digit);
}

void tic_begin(void *) {
  for (float &c : app.channels) c = 0.0f;
}

void tic_event(void *, const InputEvent *e) { handle_key(e); }

// The local rider drives the viewed bike when it is simulated here under the
// player's control.
bool local_rider_drives() {
  Slot *s = race_slot(race_state().viewed_slot);
  return s && s->drive_mode == drive_local && !(game_settings().spy && app.view == view_trackside);
}

BikeState *viewed_bike() {
  Slot *s = race_slot(race_state().viewed_slot);
  return s ? s->bike : nullptr;
}

// The views without the local rider: the chase orbit and the trackside
// cameras take the channels instead of a bike.
void apply_camera_channels() {
  if (app.view == view_chase) {
    chase_orbit_tic(app.channels);
  } else if (app.view == view_trackside) {
    Slot *s = race_slot(race_state().viewed_slot);
    TracksideTic tic{};
    tic.channels = app.channels;
    tic.viewed = s ? s->bike : nullptr;
    tic.timing_position = s ? s->timing.next_gate : 0;
    tic.paused = app.paused;
    tic.fov = static_cast<float>(game_settings().fov.value);
    tic.terrain = track_terrain();
    trackside_tic(tic);
  }
}

// Writes the summed channels into the viewed bike through its setters.
void apply_channels() {
  if (menu_screen() != menu_none || track_count() == 0 || app.view == view_editor) return;
  if (!local_rider_drives()) {
    apply_camera_channels();
    return;
  }
  const float *c = app.channels;
  const RaceState &race = race_state();
  if (race.time_trial && c[channel_back_up] > 0.5f && game_settings().time_trial_abort.selected == 1) {
    time_trial_start_attempt();
    return;
  }
  Slot *s = race_slot(race.viewed_slot);
  BikeState *bike = s ? s->bike : nullptr;
  if (!bike) return;
  bool reversed = setup_settings().reverse_steering.selected == 1;
  bike_set_steer(bike, reversed ? -c[channel_steer] : c[channel_steer]);
  bike_set_front_brake(bike, c[channel_front_brake]);
  bike_set_rear_brake(bike, c[channel_rear_brake]);
  bike_set_throttle(bike, c[channel_throttle]);
  float dab = c[channel_dab];
  if (setup_settings().sticky_dab.selected == 1) {
    // The latch flips each time the channel rises through one half.
    if (dab > 0.5f && app.dab_channel_last <= 0.5f) app.dab_latch = !app.dab_latch;
    app.dab_channel_last = dab;
    dab = app.dab_latch ? 1.0f : 0.0f;
  }
  bike_set_dab(bike, dab);
  bike_set_back_up(bike, c[channel_back_up]);
  bike_set_lean(bike, c[channel_lean]);
  // The clutch lever disengages at once but lets out at most 4 per second.
  float target = std::clamp(1.0f - c[channel_clutch] * 8.0f / 7.0f, 0.0f, 1.0f);
  float now = bike->controls.clutch;
  if (target > now) target = std::min(target, now + 4.0f * static_cast<float>(seconds_per_tic));
  bike_set_clutch(bike, target);
  bike_set_shift(bike, c[channel_shift] > 0.5f ? 1 : c[channel_shift] < -0.5f ? -1 : 0);
}

void tic_run(void *) {
  bindings_tic(app.clock.program_clock, app.channels);
  apply_channels();
  // The client runs every tic: with a server set by --connect its first run
  // opens the connection.
  race_net_tic(app.clock.program_clock);
  bool connected = net_connected();
  if (connected) app.paused = 0;  // never paused online
  if (!app.paused && app.view != view_title && !(connected && net_waiting_for_server())) race_step();
  if (app.settings.record_audio) audio_record_tic();
}

// --- one frame -----------------------------------------------------------

void update_view() {
  if (track_count() > 0 && app.view == view_title) app.view = view_rider;
  if (app.view == view_title) return;
  // The local rider rides in the rider or chase view; the trackside view is
  // for watching others, and a slot without a bike can only be watched.
  if (local_rider_drives() && app.view != view_editor && app.view != view_chase) app.view = view_rider;
  if (!viewed_bike()) app.view = view_trackside;
}

// The camera of the current view.
CameraView view_camera() {
  CameraSettings settings = camera_settings(app.settings.chase_center);
  BikeState *bike = viewed_bike();
  int viewed = race_state().viewed_slot;
  switch (app.view) {
    case view_rider:
      if (bike) return rider_camera(bike, viewed, settings);
      break;
    case view_chase:
      if (bike) return chase_camera(bike, local_rider_drives(), *chase_orbit(), track_terrain(), settings);
      break;
    default:
      break;
  }
  return trackside_camera(keyframes(), keyframe_count(), keycam_mode(), race_tic());
}

void draw_view(const Viewport &viewport) {
  if (app.view == view_title || !track_terrain()) return;
  CameraView camera = view_camera();
  SceneView view;
  memcpy(view.position, camera.position, sizeof view.position);
  memcpy(view.axes, camera.axes, sizeof view.axes);
  view.fov = camera.fov;
  view.hidden_slot = camera.hidden_slot;
  view.first_person = app.view == view_rider;
  scene_set_window(viewport.width, viewport.height);
  draw_scene(view);
}

// "Paused", and the warm-up notice while the player only watches a server's race.
void draw_overlays() {
  bool paused = app.paused && app.settings.show_paused;
  bool warmup = local_rider_drives() && net_connected() && race_network().gate_position == max_slots;
  if (!paused && !warmup) return;
  overlay_begin();
  text_frame(30);
  float width = text_frame_width(30);
  if (paused) {
    text_move(0, -1);
    draw_text_centred(1, 1, 1, 1, 0, width, "Paused");
    text_move(0, 1);
  }
  if (warmup) {
    text_move(0, -28);
    draw_text_centred(1, 1, 1, 1, 0, width, "Warmup mode - collisions disabled");
  }
  overlay_end();
}

void clear_frame(const Viewport &viewport) {
  glViewport(viewport.x, viewport.y, viewport.width, viewport.height);
  glClearColor(0.196078f, 0.6f, 0.8f, 0.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

double seconds_now() { return time_seconds(time_now()); }

// Returns the seconds the HUD took.
double draw_view_and_hud(const Viewport &viewport) {
  render_stats_frame_begin();
  draw_view(viewport);
  double start = seconds_now();
  draw_hud({app.view, race_state().viewed_slot, app.settings.show_hud, app.dab_latch, app.clock.program_clock,
            &app.clock.longest_advance});
  return seconds_now() - start;
}

// The first frame after a load composes every ground block and the squares
// round the viewer, and the driver compiles each new combination of drawing
// state as it meets it: together several times a normal frame. Drawn here,
// behind the loading screen and never shown, that work is part of the load,
// and the first frame the player sees is an ordinary one.
void prepare_first_frame() {
  Viewport viewport;
  if (!app.window || !window_frame_begin(app.window, &viewport)) return;
  update_view();
  clear_frame(viewport);
  draw_view_and_hud(viewport);
  glFinish();
  clear_frame(viewport);
  window_frame_discard(app.window);
}

// `costs`, when given, learns what the HUD and the swap took.
void draw_frame(FrameOverhead *costs) {
  Viewport viewport;
  if (!window_frame_begin(app.window, &viewport)) return;
  clear_frame(viewport);
  double hud = draw_view_and_hud(viewport);
  BikeState *bike = viewed_bike();
  if (app.view == view_rider && bike && app.settings.print_orientation)
    print_orientation(stdout, bike, race_tic(), camera_settings(app.settings.chase_center));
  if (app.settings.record_video && !app.paused && app.view != view_title) {
    int w = viewport.width, h = viewport.height;
    unsigned char *pixels = static_cast<unsigned char *>(alloc_or_die(static_cast<size_t>(w) * h * 3));
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    printf("P6\n%d %d\n255\n", w, h);
    for (int row = h - 1; row >= 0; row--) fwrite(pixels + static_cast<size_t>(row) * w * 3, 1, static_cast<size_t>(w) * 3, stdout);
    fflush(stdout);
    tracked_free(pixels);
  }
  draw_overlays();
  menu_set_screen_size(viewport.width, viewport.height);
  draw_menu();
  if (app.settings.glfinish) glFinish();
  double swap = seconds_now();
  window_frame_end(app.window);
  if (costs) *costs = {hud, seconds_now() - swap};
}

void run_frame() {
  if (close_requested) {
    close_requested = 0;
    input_push_event(event_close, 1, time_now());
  }
  update_view();
  int w, h;
  if (window_size_changed(app.window, &w, &h)) {
    app.width = w;
    app.height = h;
    set_projection(w, h, static_cast<float>(game_settings().fov.value));
  }
  frills_frame(race_tic());
  draw_frame(nullptr);

  FrameTiming timing = {app.settings.lock_fps, app.settings.warp, net_connected()};
  double now = time_seconds(time_now());
  double elapsed = now - app.clock.last_stamp;
  frame_histogram_add(&app.clock, elapsed);
  double advance, sleep_for;
  for (;;) {
    advance = frame_advance_for(elapsed, &timing, &sleep_for);
    if (sleep_for <= 0) break;
    sleep_until(time_from_seconds(now + sleep_for));
    now = time_seconds(time_now());
    elapsed = now - app.clock.last_stamp;
    if (timing.lock_fps > 0 && !timing.connected) break;
  }
  if (net_connected()) advance = net_scale_advance(advance, race_tic());
  frame_clock_advance(&app.clock, advance, now);
  message_set_clock(app.clock.program_clock);

  int cx = input_read_axis(app.cursor_x), cy = input_read_axis(app.cursor_y);
  if (cx != app.cursor_last_x || cy != app.cursor_last_y) {
    app.cursor_last_x = cx;
    app.cursor_last_y = cy;
    menu_set_pointer(static_cast<float>(cx), static_cast<float>(cy), app.pointer_button);
    if (app.pointer_button && menu_screen() != menu_none) menu_key(menu_key_drag);
    else if (binding_capture_target() < 0) menu_hover();
  }
  menu_set_clock(app.clock.program_clock);

  TicHandlers handlers = {tic_begin, tic_event, tic_run, nullptr};
  frame_run_tics(&app.clock, now, &handlers);
  menu_frame_end();
  if (audio_is_open()) {
    const GameSettings &g = game_settings();
    float master = engine_sound_master_factor(app.paused, app.view == view_editor, menu_screen() != menu_none,
                                              local_rider_drives());
    race_sound_frame(master, static_cast<float>(g.volume.value), static_cast<float>(g.comp_volume.value));
  }
  if (app.settings.warp && app.view != view_title) race_warp_check();
  if (app.view != view_title && track_terrain()) {
    int delay = static_cast<int>(game_settings().reshade_delay.value);
    terrain_set_reshade_interval(track_terrain(), app.view == view_editor ? 0 : (1 << delay) - 1);
    terrain_update(track_terrain());
  }
  message_expire(app.clock.program_clock);
}

// --- start-up and shutdown -----------------------------------------------

// A start-up failure said on standard error too: without a window nothing
// else reaches the player. The log has the details.
void start_failed(const char *what) {
  const char *home = data_directory(0);
  const char *log = getenv("HOVL_LOGFILE");
  fprintf(stderr, "torvane: %s\n", what);
  if (log && *log) fprintf(stderr, "The log is %s\n", log + (log[0] == '>' ? (log[1] == '>' ? 2 : 1) : 0));
  else if (home) fprintf(stderr, "The log is %slastlog.txt\n", home);
}

// Opens the home folder; where nothing can open it, its path is printed.
void open_home() {
  if (home_show()) return;
  const char *home = data_directory(0);
  if (home) printf("%s\n", home);
}

int start_up(int argc, char **argv) {
  app.settings.chase_center[0] = 0.0f;
  app.settings.chase_center[1] = 2.52f;
  app.settings.chase_center[2] = 0.52f;
  cameras_reset();  // chase orbit distance 10, height 5, angle 0
  app.view = view_title;

  int info = command_line_info(argc, argv, stdout);
  if (info >= 0) return info;
  if (argc == 2 && strcmp(argv[1], "--open-home") == 0) {
    open_home();
    return 0;
  }
  message_clear();
  home_prepare();
  if (!has_game_data()) {
    hovl_message_box("Problem starting Torvane", "Can't find game data (torvane.saf beside the program)\n");
    start_failed("no game data");
    return 1;
  }
  hovl_log("Torvane version %s\n", version_text);
#if defined(__x86_64__) || defined(__i386__)
  if (!__builtin_cpu_supports("mmx")) hovl_log("This CPU does not have MMX!\n");
#endif

  {
    const char *names[max_bike_names];
    int count = 0;
    for (int i = 0; i < bike_info_count && count < max_bike_names; i++) names[count++] = bike_info_name(i);
    set_bike_names(names, count);
  }
  config_set_defaults();  // selects "yz250f(2017)", stability and the Compatibility preset
  menu_collect_video_modes();
  read_config("@config");
  message_set_limit(game_settings().message_lines);
  derive_active_graphics();

  int status = parse_command_line(argc, argv, &app.settings, stderr);
  if (status >= 0) return status;
  if (app.settings.timedemo) {
    if (!timedemo_check(app.settings.timedemo, stderr)) return 1;
    app.settings.demo_file = app.settings.timedemo;
    app.settings.nosound = 1;
  }
  {
    // Options given on the command line override the derived values.
    ActiveGraphics &active = active_graphics();
    const ProgramSettings &o = app.settings;
    if (o.texture_detail >= 0) active.model_texture_reduction = o.texture_detail;
    if (o.ground_texture_detail >= 0) active.ground_texture_reduction = o.ground_texture_detail;
    if (o.roost_frequency >= 0) active.roost_density = o.roost_frequency;
    if (o.detail >= 0) active.terrain_detail_threshold = o.detail;
    if (o.lod_scale > 0) active.model_lod_scale = o.lod_scale;
    if (o.lod_bias_set) active.model_lod_bias = o.lod_bias;
  }
  if (app.settings.open_home) {
    open_home();
    return 0;
  }
  if (app.settings.connect) {
    push_server_history(app.settings.connect);
    set_text(&game_settings().server_name, app.settings.connect);
    app.settings.track = nullptr;
  }
  GameSettings &g = game_settings();
  if (app.settings.width > 0) g.xres = app.settings.width;
  if (app.settings.height > 0) g.yres = app.settings.height;

  // "Windowed" is the second video mode; the others are full screen.
  bool windowed = g.video_mode.selected == 1;
  int width = windowed ? g.xres : 0, height = windowed ? g.yres : 0;
  int flags = app.settings.colour_depth | (windowed ? 0 : window_start_fullscreen);
  app.window = window_open_gl("Torvane", width, height, flags, 0, app.settings.zdepth, 0, 0);
  if (!app.window) {
    if (!getenv("DISPLAY") && !getenv("WAYLAND_DISPLAY"))
      start_failed("can't open the window: no display (DISPLAY is not set)");
    else
      start_failed("can't open the window");
    return 1;
  }
  app.width = width;
  app.height = height;
  loading_set_window(app.window, version_text);  // the file and track scans keep it alive
  drain_events();

  file_list();
  track_set_verbosity(app.settings.debug);
  set_line_learning(app.settings.learn == 1);  // "--learn"; off unless asked
  if (scan_tracks() == 0) {
    start_failed("no tracks found in the game data");
    return 1;
  }
  {
    const char *dirs[max_track_names];
    int count = 0;
    for (int i = 0; i < track_count() && count < max_track_names; i++) dirs[count++] = track_dir(i);
    set_track_names(dirs, count);
  }
  collect_demos();
  load_series();
  if (app.settings.track) select_choice(&g.track, app.settings.track);
  app.starting_track = choice_text(&g.track);

  if (app.settings.record_audio) {
    audio_record_open(app.settings.record_audio);
  } else if (!app.settings.nosound) {
    audio_open();  // on failure the game runs silent; the audio layer logs why
  }

  for (int waited = 0; !window_is_shown(app.window) && waited < 80; waited++) {
    sleep_until(time_from_seconds(time_seconds(time_now()) + 0.0625));
    drain_events();
  }

  gl_init_caps();
  const GlCaps &caps = gl_caps();
  hovl_log("GL_VENDOR: %s\n", caps.vendor);
  hovl_log("GL_RENDERER: %s\n", caps.renderer);
  hovl_log("GL_VERSION: %s\n", caps.version);
  hovl_log("GL_EXTENSIONS: %s\n", caps.extensions);
  build_programs(g.use_shader.selected == 1);
  texture_set_gl_ready(1);
  texture_set_level_blending(!caps.software);
  texture_set_verbosity(app.settings.debug);
  {
    const ActiveGraphics &active = active_graphics();
    texture_set_options(active.model_texture_reduction, active.ground_texture_reduction, active.texture_compression);
    model_set_options(active.model_lod_scale, active.model_lod_bias, !app.settings.novertexarrays);
    model_set_verbosity(app.settings.debug);
  }
  glClear(GL_COLOR_BUFFER_BIT);
  glClearColor(0.196078f, 0.6f, 0.8f, 0.0f);
  glEnable(GL_CULL_FACE);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  if (app.settings.fugly) glShadeModel(GL_FLAT);
  load_fonts();
  load_hud_textures();
  {
    const ProgramSettings &o = app.settings;
    hud_set_switch_options(o.draw_fps, o.draw_time, o.draw_ping, o.draw_speed, o.draw_render_stats);
  }

  app.cursor_x = input_open_axis("cursor-x");
  app.cursor_y = input_open_axis("cursor-y");
  // Where the pointer stands at start-up is no movement.
  app.cursor_last_x = input_read_axis(app.cursor_x);
  app.cursor_last_y = input_read_axis(app.cursor_y);
  app.key_esc = input_button_code("esc");
  app.key_help = input_button_code("F1");
  resolve_bindings();
  app.key_pointer = input_button_code("cursor-left");
  menu_init();
  menu_set_version(version_text);
  menu_set_window(app.window);
  menu_set_demos(app.demos, app.demo_count);
  menu_build_texture_families();
  app.key_tab = event_key_base + 15;
  for (int digit = 0; digit < 10; digit++) {
    char name[2] = {static_cast<char>('0' + digit), 0};
    app.key_digits[digit] = input_button_code(name);
  }

  physics_world_create();
  install_crash_hooks();  // shape contacts, dabbing and crashes join each bike's step
  history_set_accurate_skip(app.settings.accurate_skip);
  demo_choose_file(app.settings.demo_file);
  RaceOptions &options = race_options();
  options.practice = app.settings.practice;
  options.erode_rate = app.settings.erode_rate;
  options.rotate_lineup = app.settings.rotate_lineup;
  options.prepare_first_frame = prepare_first_frame;
  // The timedemo watches from the chase camera, and its loading prepares that view.
  if (app.settings.timedemo) app.view = view_chase;
  int kinds[max_slots] = {};
  if (!app.settings.demo_file) kinds[0] = slot_kind_robot;
  timedemo_mark_load();
  race_reset(kinds, app.settings.demo_file != nullptr, 0, 0, 1000, game_settings().skill.selected);
  menu_open(app.settings.connect || app.settings.timedemo ? menu_none : menu_main);
  race_connect_net();
  net_set_gl_strings(reinterpret_cast<const char *>(glGetString(GL_RENDERER)),
                     reinterpret_cast<const char *>(glGetString(GL_VERSION)));
  net_set_password(app.settings.password);
  net_set_fake_conditions(app.settings.fake_lag, app.settings.fake_loss, 1);
  if (app.settings.connect) net_connect(app.settings.connect);

  frame_clock_start(&app.clock, time_seconds(time_now()));
  console_set_frame_clock(&app.clock);
  hovl_log("Entering main loop\n");
  return -1;
}

// One timedemo frame: the game's own frame from the chase camera.
void timedemo_frame(FrameOverhead *costs) {
  drain_events();
  app.view = view_chase;
  update_view();
  frills_frame(race_tic());
  draw_frame(costs);
}

void stage(const char *text) { show_loading_logged(text); }

void shut_down() {
  if (net_connected()) net_disconnect();
  net_client_shutdown();
  finish_series_event();
  save_lines(race_state().skill);  // writes only while learning is on
  race_free_bikes();
  demo_close_read();
  demo_close_write();
  frills_unload();
  free_track();
  stage("Freeing memory (1)");
  stage("Closing input devices");
  release_bindings();
  stage("Closing audio");
  if (app.settings.record_audio) audio_record_close();
  else if (audio_is_open()) audio_close();
  engine_sound_release();
  stage("Writing config files");
  write_config("@config");
  stage("Freeing memory (2)");
  free_series();
  stage("Freeing memory (3)");
  tracked_free(app.demos);
  app.demos = nullptr;
  app.demo_count = app.demo_capacity = 0;
  stage("Freeing file list");
  file_layer_release();
  stage("Freeing memory (4)");
  stage("Deleting textures");
  texture_flush(1);
  stage("Deleting models");
  model_flush(1);
  free_programs();
  loading_set_window(nullptr, nullptr);
  free_fonts();
  window_close(app.window);
  app.window = nullptr;
  hovl_log(nullptr);
  report_live_allocations();
}

}  // namespace

int app_main(int argc, char **argv) {
  int status = start_up(argc, argv);
  if (status >= 0) {
    if (app.window) window_close(app.window);
    return status;
  }
  if (app.settings.timedemo) {
    status = timedemo_run(timedemo_frame, app.settings.draw_render_stats > 0, stdout);
    shut_down();
    return status;
  }
  // From here on a signal ends the program through the orderly shutdown;
  // before the loop the default action is as good.
  struct sigaction action = {};
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  while (!app.quit) run_frame();
  shut_down();
  return 0;
}
