// The menu screens: their items, layout, actions and drawing.
#include "ui/menu.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "app/bindings.h"
#include "app/config.h"
#include "app/console.h"
#include "assets/file.h"
#include "assets/image.h"
#include "assets/texture.h"
#include "bike/assembly.h"
#include "bike/catalogue.h"
#include "net/client.h"
#include "platform/log.h"
#include "platform/window.h"
#include "race/race.h"
#include "race/series.h"
#include "replay/demo.h"
#include "render/gl_caps.h"
#include "ui/text.h"

namespace {

enum ItemKind { item_button, item_choice, item_slider, item_text, item_binding };

// What activating a button or changing a value does.
enum Action {
  act_none,
  act_open,         // opens `target`
  act_back,         // back to `target`
  act_new_race,
  act_time_trial,
  act_prev_page,
  act_next_page,
  act_demo,         // `index` = demo
  act_series,       // `index` = series
  act_enter_event,
  act_practice_event,
  act_reset_points,
  act_connect,
  act_restart,
  act_preset,       // `index` = preset
  act_switch_mode,
  act_chooser_cancel,
  act_chooser_pick,  // `index` = entry
  act_setup,        // a bike setup value: re-apply to the viewed bike
  act_stability,    // "Stability": the fifteen values, then re-apply
  act_bike,         // the bike choice
  act_gear,         // a gear texture choice (`index` = family)
  act_rider_info,   // name / number
  act_live_graphics,  // values that take effect at once
};

struct Item {
  int kind;
  const char *label;
  Choice *choice;
  Slider *slider;
  TextSetting *text;
  int binding;
  int action, target, index;
  int green;
  int chooser;  // the choice opens the list chooser
  int list_row;  // an entry of a paged list: 1 or 2 for the alternating rows
  int max_length, insert;
  float label_fraction;
  float x, y, w, h;  // frame units in the 32-unit area; y is the top edge
  const char *physical;  // grey text beside a slider, or null
  MenuRect rect, value_rect;
  float bar_x0, bar_x1;
};

enum GearFamily { gear_rider, gear_head, gear_bike, gear_wheels, gear_count };

struct GearList {
  Choice choice;
  const char **paths;
  const char **labels;
  int count;
};

struct MenuState {
  int screen;
  int selection;
  int changed;
  Item items[max_menu_items];
  int count;
  TypeAhead typed;
  Chooser chooser;
  int width, height;
  float pointer_x, pointer_y;
  int pointer_held;
  int quit;
  double clock;
  const char *version;
  const char *const *demos;
  int demo_count;
  int demo_page, series_page;
  int text_cursor;
  const TextSetting *cursor_owner;
  int history_cursor;
  Window *window;
  GearList gear[gear_count];
  char physical[7][48];
  int stability_before;  // whole number of "Stability" before the key
  char labels[max_menu_items][64];
};

MenuState menu = {};

const char *const no_texts[] = {"default"};

// --- layout helpers -----------------------------------------------------------------------

constexpr float frame_lines = 24;
constexpr float item_spacing = 1.375f;
constexpr float first_item_top = -1.0f;

struct Column {
  float x, w, top, spacing, h, label_fraction;
};

Column column(float x, float w) { return {x, w, first_item_top, item_spacing, 1.0f, 0.5f}; }

Item &add(Column &c, int kind, const char *label) {
  Item &it = menu.items[menu.count < max_menu_items ? menu.count++ : max_menu_items - 1];
  it = {};
  it.kind = kind;
  it.label = label;
  it.binding = -1;
  it.label_fraction = c.label_fraction;
  it.x = c.x;
  it.y = c.top;
  it.w = c.w;
  it.h = c.h;
  c.top -= c.spacing;
  return it;
}

Item &button(Column &c, const char *label, int action, int target = 0) {
  Item &it = add(c, item_button, label);
  it.action = action;
  it.target = target;
  return it;
}

Item &choice(Column &c, Choice *ch, int action = act_none, int chooser = 0) {
  Item &it = add(c, item_choice, ch->label);
  it.choice = ch;
  it.action = action;
  it.chooser = chooser;
  return it;
}

Item &slider(Column &c, Slider *s, int action = act_none) {
  Item &it = add(c, item_slider, s->label);
  it.slider = s;
  it.action = action;
  return it;
}

Item &text_field(Column &c, TextSetting *t, int max_length, int insert, int action = act_none) {
  Item &it = add(c, item_text, t->label);
  it.text = t;
  it.max_length = max_length;
  it.insert = insert;
  it.action = action;
  return it;
}

// --- texture families --------------------------------------------------------------------

void free_gear(GearList &g) {
  tracked_free(g.paths);
  tracked_free(g.labels);
  g.paths = nullptr;
  g.labels = nullptr;
  g.count = 0;
}

TextSetting *gear_setting(int family) {
  SetupSettings &s = setup_settings();
  switch (family) {
    case gear_rider: return &s.rider_texture;
    case gear_head: return &s.head_texture;
    case gear_bike: return &s.bike_texture;
    default: return &s.wheel_texture;
  }
}

// Selects the configured texture in its family; an unknown name keeps the selection.
void select_gear(int family) {
  GearList &g = menu.gear[family];
  const char *wanted = gear_setting(family)->text;
  for (int i = 0; i < g.count; i++) {
    const char *path = g.paths[i] ? g.paths[i] : "";
    if (strcmp(path, wanted) == 0) g.choice.selected = i;
  }
}

void build_gear(int family, const char *label, const char *prefix) {
  GearList &g = menu.gear[family];
  free_gear(g);
  g.count = texture_choices(prefix, &g.paths, &g.labels);
  g.choice.label = label;
  g.choice.texts = g.count > 0 ? g.labels : no_texts;
  g.choice.count = g.count > 0 ? g.count : 1;
  g.choice.selected = 0;
  select_gear(family);
}

// The bike's graphics prefix: its catalogue texture without "@" and the part
// after the last "-" ("@yz250f-stock.png" -> "yz250f-").
void bike_prefix(char *out, int size) {
  const BikeInfo *info = bike_info(bike_info_resolve(choice_text(&setup_settings().bike)));
  const char *name = info ? info->bike_texture : "";
  if (*name == '@') name++;
  const char *dash = strrchr(name, '-');
  int n = dash ? static_cast<int>(dash - name) + 1 : static_cast<int>(strlen(name));
  snprintf(out, static_cast<size_t>(size), "%.*s", n, name);
}

void gear_changed(int family) {
  const GearList &g = menu.gear[family];
  const char *path = g.paths && g.choice.selected < g.count ? g.paths[g.choice.selected] : nullptr;
  set_text(gear_setting(family), path ? path : "");
}

// --- the viewed bike -------------------------------------------------------------------------

BikeState *local_viewed_bike() {
  Slot *s = race_slot(race_state().viewed_slot);
  return s && s->drive_mode == drive_local ? s->bike : nullptr;
}

void reapply_setup() {
  if (BikeState *bike = local_viewed_bike()) apply_setup(bike, setup_values(), menu.clock);
}

void rider_info_changed() { net_rider_info_changed(); }

// Starting an offline race while connected leaves the server first.
void leave_server() {
  if (net_connected()) net_leave();
}

// --- screens ---------------------------------------------------------------------------------

const char *screen_title(int screen) {
  switch (screen) {
    case menu_main: return "Main Menu";
    case menu_new_race: return "New Race";
    case menu_playback: return "Playback Race";
    case menu_series: return "Points Series";
    case menu_standings: return "Standings";
    case menu_time_trial: return "Time Trial";
    case menu_multiplayer: return "Multiplayer";
    case menu_bike_setup: return "Bike Setup";
    case menu_graphics: return "Graphics/Sound Setup";
    case menu_controls: return "Customize Controls";
    case menu_suspension: return "Suspension and Gearing";
    case menu_stability: return "Advanced Stability Setup";
    case menu_advanced_graphics: return "Advanced Graphics Setup";
    case menu_chooser: return menu.chooser.title;
    case menu_help: return "Controls and Help";
    default: return "";
  }
}

const char *demo_display_name(int index, char *out, int size) {
  const char *name = menu.demos[index];
  const char *slash = strrchr(name, '/');
  const char *base = slash ? slash + 1 : name;
  const char *dot = strrchr(base, '.');
  int length = dot ? static_cast<int>(dot - base) : static_cast<int>(strlen(base));
  if (length == 0) {
    base = name;
    length = static_cast<int>(strlen(name));
  }
  snprintf(out, static_cast<size_t>(size), "%.*s", length, base);
  return out;
}

void build_main() {
  Column c = column(8.5f, 15);
  // "Controls and Help" is an addition to the original nine entries, placed
  // before "Quit" so that "Quit" stays the last.
  static const char *labels[] = {"New Race",           "Playback Race", "Points Series",        "Time Trial",
                                 "Multiplayer",        "Bike Setup",    "Graphics/Sound Setup", "Customize Controls",
                                 "Controls and Help",  "Quit"};
  static const int targets[] = {menu_new_race,    menu_playback,   menu_series,   menu_time_trial, menu_multiplayer,
                                menu_bike_setup,  menu_graphics,   menu_controls, menu_help,       menu_quit};
  for (int i = 0; i < 10; i++) button(c, labels[i], act_open, targets[i]);
}

void build_help() {
  Column c = column(0.5f, 15);
  button(c, "Back to Main Menu", act_back, menu_main);
  Item &controls = button(c, "Customize Controls", act_open, menu_controls);
  controls.x = 16.5f;
  controls.y = first_item_top;
}

void build_new_race() {
  GameSettings &g = game_settings();
  Column c = column(0.25f, 12);
  button(c, "Back to Main Menu", act_back, menu_main);
  button(c, "Start", act_new_race).green = 1;
  choice(c, &g.track, act_none, 1);
  choice(c, &g.record);
  choice(c, &g.skill);
  slider(c, &g.minutes);
  slider(c, &g.laps);
  // Forty gates in two columns of twenty, closer together than other items.
  for (int col = 0; col < 2; col++) {
    Column gc = {12.75f + col * 9.75f, 9.5f, -0.6f, 1.05f, 0.875f, 0.38f};
    for (int k = 0; k < 20; k++) choice(gc, &g.gates[col * 20 + k]);
  }
}

void build_time_trial() {
  GameSettings &g = game_settings();
  Column c = column(8.5f, 15);
  button(c, "Back to Main Menu", act_back, menu_main);
  button(c, "Start", act_time_trial).green = 1;
  choice(c, &g.track, act_none, 1);
  slider(c, &g.ghost_fade_distance);
  choice(c, &g.time_trial_abort);
}

// A paged list laid out in two columns: the fixed items, the page's entries,
// then "Next Page".
void build_playback() {
  GameSettings &g = game_settings();
  Column c = column(0.5f, 15);
  button(c, "Back to Main Menu", act_back, menu_main);
  choice(c, &g.playback_mode);
  button(c, "Prev Page", act_prev_page);
  Column right = column(16.5f, 15);
  int first = menu.demo_page * chooser_page_size;
  static char names[chooser_page_size][64];
  for (int k = 0; k < chooser_page_size && first + k < menu.demo_count; k++) {
    Column &col = k < 11 ? c : right;
    Item &it = button(col, demo_display_name(first + k, names[k], sizeof names[k]), act_demo);
    it.index = first + k;
    it.list_row = 1 + k % 2;
  }
  button(menu.demo_count - first > 11 ? right : c, "Next Page", act_next_page);
}

void build_series() {
  Column c = column(0.5f, 15);
  button(c, "Back to Main Menu", act_back, menu_main);
  int pages = chooser_pages(series_count());
  if (menu.series_page > 0) button(c, "Prev Page", act_prev_page);
  Column right = column(16.5f, 15);
  int first = menu.series_page * chooser_page_size;
  for (int k = 0; k < chooser_page_size && first + k < series_count(); k++) {
    Column &col = k < 12 ? c : right;
    Item &it = button(col, series_at(first + k)->title, act_series);
    it.index = first + k;
    it.list_row = 1 + k % 2;
  }
  if (menu.series_page < pages - 1) button(series_count() - first > 12 ? right : c, "Next Page", act_next_page);
}

void build_standings() {
  Column c = {0.25f, 7.6f, first_item_top, 0, 1, 0.5f};
  static const char *labels[] = {"Back to Points Series List", "Enter Next Event", "Practice Next Event", "Reset Points"};
  static const int actions[] = {act_back, act_enter_event, act_practice_event, act_reset_points};
  for (int i = 0; i < 4; i++) {
    Item &it = button(c, labels[i], actions[i], menu_series);
    it.x = 0.25f + i * 7.9f;
    it.green = i == 1;
  }
}

void build_multiplayer() {
  GameSettings &g = game_settings();
  Column c = column(0.5f, 15);
  button(c, "Back to Main Menu", act_back, menu_main);
  button(c, net_connected() ? "Disconnect" : "Connect", act_connect);
  button(c, "Request Restart", act_restart);
  c.w = 22;
  text_field(c, &g.server_name, 127, 1).label_fraction = 0.25f;
}

void build_bike_setup() {
  SetupSettings &s = setup_settings();
  Column c = column(0.5f, 15);
  button(c, "Back to Main Menu", act_back, menu_main);
  button(c, "Suspension and Gearing", act_open, menu_suspension);
  button(c, "Advanced Stability Setup", act_open, menu_stability);
  choice(c, &s.bike, act_bike, 1);
  text_field(c, &s.name, 63, 1, act_rider_info);
  text_field(c, &s.number, 3, 0, act_rider_info);
  static const char *titles[gear_count] = {"Choose Riding Gear", "Choose Helmet", "Choose Bike Graphics",
                                           "Choose Wheel Graphics"};
  (void)titles;
  for (int f = 0; f < gear_count; f++) choice(c, &menu.gear[f].choice, act_gear, 1).index = f;
  slider(c, &s.stability, act_stability);
  slider(c, &s.auto_clutch_rpms, act_setup);
  slider(c, &s.brake_torque, act_setup);
  slider(c, &s.rear_brake_torque, act_setup);
  slider(c, &s.max_dab_speed, act_setup);
  Column r = column(16.5f, 15);
  Choice *flags[] = {&s.arcade,    &s.front_brake, &s.rear_brake,   &s.stop_wheelies,    &s.auto_shift,
                     &s.auto_dab,  &s.sticky_dab,  &s.auto_align,   &s.reverse_steering, &s.lean_indicator};
  // The file order differs from the menu's: "Realign After Fall" comes before
  // "Reversed Steering" and after "Sticky Sit/Dab".
  Choice *order[] = {flags[0], flags[1], flags[2], flags[3], flags[4], flags[5], flags[6], flags[7], flags[8], flags[9]};
  for (Choice *ch : order) choice(r, ch, act_setup);
}

// Physical values of seven suspension sliders, as the bike model computes them.
void physical_values() {
  for (auto &p : menu.physical) p[0] = 0;
  Slot *slot = race_slot(race_state().viewed_slot);
  if (!slot || !slot->bike) return;
  const BikeInfo *info = bike_info(slot->bike->model);
  if (!info) return;
  const SetupSettings &s = setup_settings();
  auto lerp = [](float a, float b, double adj) { return a + (b - a) * static_cast<float>(adj * 0.01); };
  // Rates in lbf/ft and lengths in feet, shown in kg/mm and mm.
  constexpr float kg_mm_per_lbf_ft = 0.45359237f / 304.8f;
  constexpr float mm_per_ft = 304.8f;
  snprintf(menu.physical[0], 48, "%.3f kg/mm",
           lerp(info->fork_spring_min, info->fork_spring_max, s.fork_spring_rate_adjustment.value) * kg_mm_per_lbf_ft);
  snprintf(menu.physical[1], 48, "%.2f mm",
           lerp(info->fork_preload_min, info->fork_preload_max, s.fork_preload_adjustment.value) * mm_per_ft);
  snprintf(menu.physical[2], 48, "%.2f mm",
           lerp(info->fork_air_gap_min, info->fork_air_gap_max, s.fork_oil_level_adjustment.value) * mm_per_ft);
  snprintf(menu.physical[3], 48, "%.2f kg/mm",
           lerp(info->shock_spring_min, info->shock_spring_max, s.shock_spring_rate_adjustment.value) * kg_mm_per_lbf_ft);
  snprintf(menu.physical[4], 48, "%.2f mm",
           lerp(info->shock_preload_min, info->shock_preload_max, s.shock_preload_adjustment.value) * mm_per_ft);
  snprintf(menu.physical[5], 48, "%.2f teeth", info->front_sprocket + s.front_sprocket_adjustment.value);
  snprintf(menu.physical[6], 48, "%.2f teeth", info->rear_sprocket + s.rear_sprocket_adjustment.value);
}

void build_suspension() {
  SetupSettings &s = setup_settings();
  physical_values();
  // Twenty-one rows: one column, a little closer than usual.
  Column c = {2, 22, -0.75f, 1.06f, 0.9f, 0.56f};
  button(c, "Back to Bike Setup Menu", act_back, menu_bike_setup);
  Slider *sliders[] = {&s.fork_compression_adjustment,
                       &s.fork_slow_compression_adjustment,
                       &s.fork_rebound_adjustment,
                       &s.fork_slow_rebound_adjustment,
                       &s.fork_spring_rate_adjustment,
                       &s.fork_preload_adjustment,
                       &s.fork_oil_level_adjustment,
                       &s.shock_compression_adjustment,
                       &s.shock_slow_compression_adjustment,
                       &s.shock_rebound_adjustment,
                       &s.shock_slow_rebound_adjustment,
                       &s.shock_spring_rate_adjustment,
                       &s.shock_preload_adjustment,
                       &s.front_sprocket_adjustment,
                       &s.rear_sprocket_adjustment,
                       &s.rider_yspring,
                       &s.rider_ydamping,
                       &s.rider_zspring,
                       &s.rider_zdamping,
                       &s.rider_mass_distribution};
  static const int physical_of[20] = {-1, -1, -1, -1, 0, 1, 2, -1, -1, -1, -1, 3, 4, 5, 6, -1, -1, -1, -1, -1};
  for (int i = 0; i < 20; i++) {
    Item &it = slider(c, sliders[i], act_setup);
    if (physical_of[i] >= 0 && menu.physical[physical_of[i]][0]) it.physical = menu.physical[physical_of[i]];
  }
}

void build_stability() {
  SetupSettings &s = setup_settings();
  Column c = column(5, 22);
  c.spacing = 1.3f;
  c.top = -0.75f;
  button(c, "Back to Bike Setup Menu", act_back, menu_bike_setup);
  Slider *sliders[] = {&s.leveling,          &s.roll_damping,          &s.roll_limit_angle,      &s.roll_limit_factor,
                       &s.steering_damping,  &s.steering_strength,     &s.max_steering_force,    &s.direct_steering,
                       &s.slow_damping_speed, &s.slow_damping_factor,  &s.land_damping_falloff,  &s.land_damping_factor,
                       &s.full_lock_speed,   &s.restricted_lock_speed, &s.restricted_lock};
  for (Slider *sl : sliders) slider(c, sl, act_setup);
}

void build_controls() {
  Column c = column(0.5f, 15);
  c.label_fraction = 0.25f;
  button(c, "Back to Main Menu", act_back, menu_main);
  static const int order[] = {bind_throttle, bind_front_brake, bind_rear_brake, bind_left,         bind_right,
                              bind_clutch,   bind_upshift,     bind_downshift,  bind_dab,          bind_back_up,
                              bind_lean_forward, bind_lean_backward, bind_pause, bind_step,        bind_rewind,
                              bind_skip,     bind_prev,        bind_next,       bind_console,      bind_screenshot};
  Column r = column(16.5f, 15);
  r.label_fraction = 0.25f;
  r.top -= item_spacing;  // the right column starts level with the first row
  for (int i = 0; i < 20; i++) {
    Column &col = i < 10 ? c : r;
    Item &it = add(col, item_binding, key_binding(order[i])->label);
    it.binding = order[i];
  }
}

void build_graphics() {
  GameSettings &g = game_settings();
  Column c = column(0.5f, 15);
  button(c, "Back to Main Menu", act_back, menu_main);
  button(c, "Advanced Graphics Setup", act_open, menu_advanced_graphics);
  c.top -= item_spacing;  // room for "Current Settings: ..."
  button(c, "Use Compatibility Settings", act_preset).index = graphics_compatibility;
  button(c, "Use High FPS Settings", act_preset).index = graphics_high_fps;
  button(c, "Use Normal Settings", act_preset).index = graphics_normal;
  button(c, "Use High Detail Settings", act_preset).index = graphics_high_detail;
  choice(c, &g.video_mode);
  button(c, "Switch To Selected Mode Now", act_switch_mode);
  choice(c, &g.hide_rider);
  choice(c, &g.rigid_camera);
  Column r = column(16.5f, 15);
  Slider *sliders[] = {&g.fov, &g.first_person_height, &g.first_person_angle, &g.third_person_height,
                       &g.third_person_distance, &g.volume, &g.comp_volume};
  for (Slider *s : sliders) slider(r, s);
}

void build_advanced_graphics() {
  GameSettings &g = game_settings();
  Column c = column(6, 17);
  c.label_fraction = 0.6f;
  button(c, "Back to Graphics/Sound Menu", act_back, menu_graphics);
  slider(c, &g.ground_detail);
  slider(c, &g.ground_texture_detail);
  choice(c, &g.ground_texture_dim);
  choice(c, &g.ground_mipmaps);
  choice(c, &g.texture_compress);
  choice(c, &g.render_texture);
  choice(c, &g.use_shader);
  slider(c, &g.model_detail);
  slider(c, &g.model_texture_detail);
  slider(c, &g.roost_density, act_live_graphics);
  slider(c, &g.reshade_delay);
  choice(c, &g.lens_flare);
  choice(c, &g.reflections, act_live_graphics);
}

void build_chooser() {
  Chooser &ch = menu.chooser;
  Column c = {6, 20, -0.6f, 0.95f, 0.85f, 0.5f};
  button(c, "Cancel", act_chooser_cancel);
  button(c, "Prev Page", act_prev_page);
  int count = ch.choice ? ch.choice->count : 0;
  int first = ch.page * chooser_page_size;
  int shown = chooser_page_entries(count, ch.page);
  for (int k = 0; k < chooser_page_size; k++) {
    Item &it = button(c, k < shown ? ch.choice->texts[first + k] : "", act_chooser_pick);
    it.index = k < shown ? first + k : -1;
    it.list_row = 1 + k % 2;
  }
  button(c, "Next Page", act_next_page);
}

void build() {
  menu.count = 0;
  switch (menu.screen) {
    case menu_main: build_main(); break;
    case menu_new_race: build_new_race(); break;
    case menu_playback: build_playback(); break;
    case menu_series: build_series(); break;
    case menu_standings: build_standings(); break;
    case menu_time_trial: build_time_trial(); break;
    case menu_multiplayer: build_multiplayer(); break;
    case menu_bike_setup: build_bike_setup(); break;
    case menu_graphics: build_graphics(); break;
    case menu_controls: build_controls(); break;
    case menu_suspension: build_suspension(); break;
    case menu_stability: build_stability(); break;
    case menu_advanced_graphics: build_advanced_graphics(); break;
    case menu_chooser: build_chooser(); break;
    case menu_help: build_help(); break;
    default: break;
  }
  // Window-pixel rectangles: one unit is a 24th of the height; the 32-unit
  // area is centred.
  float unit = menu.height > 0 ? menu.height / frame_lines : 1;
  float ox = menu.width > 0 ? (menu.width / unit - 32) / 2 : 0;
  auto px = [&](float x) { return (ox + x) * unit; };
  auto py = [&](float y) { return (1 - y) * unit; };
  for (int i = 0; i < menu.count; i++) {
    Item &it = menu.items[i];
    it.rect = {px(it.x), py(it.y), px(it.x + it.w), py(it.y - it.h)};
    float split = it.kind == item_button ? it.x : it.x + it.w * it.label_fraction;
    it.value_rect = {px(split), it.rect.y0, it.rect.x1, it.rect.y1};
    if (it.kind == item_slider) {
      // "%.2f" takes the first part of the value box, the bar the rest.
      float v0 = split + 0.125f, v1 = it.x + it.w - 0.125f;
      float number = (v1 - v0) * 0.4f;
      if (number > 3.5f) number = 3.5f;
      it.bar_x0 = px(v0 + number + 0.125f);
      it.bar_x1 = px(v1);
    }
  }
}

// --- actions -------------------------------------------------------------------------------

void open_chooser(Item &it) {
  Chooser &ch = menu.chooser;
  ch.choice = it.choice;
  ch.return_screen = menu.screen;
  ch.return_selection = menu.selection;
  ch.page = 0;
  if (it.choice == &game_settings().track) ch.title = "Choose Track";
  else if (it.choice == &setup_settings().bike) ch.title = "Choose Bike";
  else if (it.action == act_gear) {
    static const char *titles[gear_count] = {"Choose Riding Gear", "Choose Helmet", "Choose Bike Graphics",
                                             "Choose Wheel Graphics"};
    ch.title = titles[it.index];
  } else ch.title = "Choose";
  menu_open(menu_chooser);
}

void value_changed(const Item &it) {
  switch (it.action) {
    case act_setup: reapply_setup(); break;
    case act_stability:
      // Only a change of the whole number re-sets the fifteen values, so that
      // hand-tuned advanced values survive a fractional change.
      if (static_cast<int>(it.slider->value) != menu.stability_before) apply_stability(static_cast<int>(it.slider->value));
      reapply_setup();
      break;
    case act_bike:
      menu_rebuild_bike_graphics();
      rider_info_changed();
      break;
    case act_gear:
      gear_changed(it.index);
      rider_info_changed();
      break;
    case act_rider_info: rider_info_changed(); break;
    case act_live_graphics: {
      ActiveGraphics &active = active_graphics();
      const GameSettings &g = game_settings();
      active.roost_density = static_cast<int>(g.roost_density.value);
      active.reflections = g.reflections.selected;
      break;
    }
    default: break;
  }
}

void switch_video_mode() {
  GameSettings &g = game_settings();
  if (!menu.window) return;
  if (g.video_mode.selected == 1) {
    window_set_mode(menu.window, g.xres, g.yres, 0);
    return;
  }
  int w = 0, h = 0;
  if (g.video_mode.selected > 1) sscanf(choice_text(&g.video_mode), "%dx%d", &w, &h);
  window_set_mode(menu.window, w, h, 1);
}

void connect_action() {
  GameSettings &g = game_settings();
  if (net_connected()) {
    net_disconnect();  // phase 15, or at once "Disconnected" and a reset
    return;
  }
  // Nothing to connect to: the menu stays (an empty host would only time out).
  if (!g.server_name.text[0]) return;
  push_server_history(g.server_name.text);
  menu.history_cursor = -1;
  menu_open(menu_none);
  net_connect(g.server_name.text);
}

void start_playback(int index) {
  GameSettings &g = game_settings();
  leave_server();
  int gates[playback_gate_count];
  for (int k = 0; k < playback_gate_count; k++) gates[k] = g.gates[k].selected;
  PlaybackSetup setup;
  demo_playback_setup(menu.demos[index], g.playback_mode.selected, gates, g.record.selected == 1, &setup);
  menu_open(menu_none);
  int finish = static_cast<int>(g.minutes.value * 60 * tics_per_second);
  race_reset(setup.kinds, 1, setup.record, finish, setup.laps, g.skill.selected);
}

void activate(Item &it) {
  switch (it.action) {
    case act_open:
      if (it.target == menu_playback) menu.demo_page = 0;
      if (it.target == menu_series) menu.series_page = 0;
      menu_open(it.target);
      break;
    case act_back: menu_open(it.target); break;
    case act_new_race:
      leave_server();
      menu_open(menu_none);
      race_new_from_settings();
      break;
    case act_time_trial: {
      leave_server();
      menu_open(menu_none);
      const GameSettings &g = game_settings();
      // A time trial never ends; it records its own laps.
      race_reset(nullptr, 0, 0, 0, 1000, g.skill.selected);
      break;
    }
    case act_prev_page:
    case act_next_page: {
      int step = it.action == act_next_page ? 1 : -1;
      int *page = menu.screen == menu_playback ? &menu.demo_page
                  : menu.screen == menu_series ? &menu.series_page
                                               : &menu.chooser.page;
      int count = menu.screen == menu_playback ? menu.demo_count
                  : menu.screen == menu_series ? series_count()
                                               : (menu.chooser.choice ? menu.chooser.choice->count : 0);
      int next = *page + step, pages = chooser_pages(count);
      if (next < 0) next = 0;
      if (next > pages - 1) next = pages - 1;
      *page = next;
      if (menu.screen == menu_series) {
        // The hidden buttons move the items: stay on the one just used, if shown.
        build();
        int want = step > 0 ? menu.count - 1 : 1;
        if (want >= menu.count) want = menu.count - 1;
        menu.selection = want;
      }
      break;
    }
    case act_demo: start_playback(it.index); break;
    case act_series:
      select_series(it.index);
      menu_open(menu_standings);
      break;
    case act_enter_event:
    case act_practice_event:
      if (start_series_event(it.action == act_practice_event) != 0) menu_open(menu_none);
      break;
    case act_reset_points: reset_series_points(); break;
    case act_connect: connect_action(); break;
    case act_restart:
      if (net_connected() && net_phase() == net_phase_racing) {
        net_request_restart();
        menu_open(menu_none);
      }
      break;
    case act_preset: apply_graphics_preset(it.index); break;
    case act_switch_mode: switch_video_mode(); break;
    case act_chooser_cancel: {
      int back = menu.chooser.return_selection;
      menu_open(menu.chooser.return_screen);
      menu.selection = back;
      break;
    }
    case act_chooser_pick: {
      if (it.index < 0 || !menu.chooser.choice) break;
      Chooser ch = menu.chooser;
      ch.choice->selected = it.index;
      menu_open(ch.return_screen);
      menu.selection = ch.return_selection;
      build();
      if (menu.selection < menu.count) value_changed(menu.items[menu.selection]);
      break;
    }
    default: break;
  }
}

// "page up"/"page down" in the "Server" field walk the history. Returns 1
// when the key was used.
int server_history_key(int code) {
  const MenuKeys &k = menu_keys();
  GameSettings &g = game_settings();
  if (code == k.page_up && k.page_up >= 0) {
    int next = menu.history_cursor + 1;
    if (menu.history_cursor < 0 && strcmp(g.server_name_hist[0].text, g.server_name.text) == 0) next = 1;
    if (next >= server_history_count || !g.server_name_hist[next].text[0]) return 0;
    menu.history_cursor = next;
    set_text(&g.server_name, g.server_name_hist[next].text);
    menu.text_cursor = static_cast<int>(strlen(g.server_name.text));
    return 1;
  }
  if (code == k.page_down && k.page_down >= 0) {
    if (menu.history_cursor < 0) return 1;
    menu.history_cursor--;
    if (menu.history_cursor >= 0) {
      set_text(&g.server_name, g.server_name_hist[menu.history_cursor].text);
      menu.text_cursor = static_cast<int>(strlen(g.server_name.text));
    }
    return 1;
  }
  return 0;
}

bool is_activate(int code) {
  const MenuKeys &k = menu_keys();
  return (k.enter >= 0 && code == k.enter) || (k.keypad_enter >= 0 && code == k.keypad_enter) || code == ' ';
}

void item_key(Item &it, int code) {
  const MenuKeys &k = menu_keys();
  bool press = k.cursor_left >= 0 && code == k.cursor_left;
  bool inside = rect_contains(it.rect, menu.pointer_x, menu.pointer_y);
  switch (it.kind) {
    case item_button:
      if (is_activate(code) || (press && inside)) activate(it);
      break;
    case item_choice: {
      if (it.chooser && ((code == k.enter && k.enter >= 0) || (code == k.keypad_enter && k.keypad_enter >= 0) ||
                         (press && inside))) {
        open_chooser(it);
        break;
      }
      if (press && !inside) break;
      if (choice_key(it.choice, &menu.typed, press ? 0 : code, press && inside)) value_changed(it);
      break;
    }
    case item_slider: {
      if (it.action == act_stability && code == '*') {
        menu_open(menu_stability);
        break;
      }
      menu.stability_before = static_cast<int>(it.slider->value);
      bool row = menu.pointer_y >= it.rect.y0 && menu.pointer_y < it.rect.y1;
      bool near = row && menu.pointer_x >= it.bar_x0 - 15 && menu.pointer_x <= it.bar_x1 + 15;
      if (slider_key(it.slider, code, menu.pointer_x, it.bar_x0, it.bar_x1, near)) value_changed(it);
      break;
    }
    case item_text: {
      if (menu.cursor_owner != it.text) {
        menu.cursor_owner = it.text;
        menu.text_cursor = static_cast<int>(strlen(it.text->text));
      }
      if (it.text == &game_settings().server_name && server_history_key(code)) break;
      if (text_key(it.text, it.max_length, it.insert != 0, &menu.text_cursor, code)) value_changed(it);
      break;
    }
    case item_binding:
      if (((code == k.enter && k.enter >= 0) || (code == k.keypad_enter && k.keypad_enter >= 0)) ||
          (press && rect_contains(it.value_rect, menu.pointer_x, menu.pointer_y)))
        start_binding_capture(it.binding, menu.clock);
      break;
  }
}

// --- drawing -------------------------------------------------------------------------------

struct Style {
  float box[4], text[4];
};
const Style title_style = {{0, 0, 0, 0.25f}, {0.9f, 0.9f, 0.9f, 1}};
const Style item_style = {{0.5f, 0.5f, 0.5f, 0.25f}, {0.9f, 0.9f, 0.9f, 0.8f}};
const Style selected_style = {{0.9f, 0.9f, 0.9f, 0.8f}, {0, 0, 0, 1}};
const Style list_styles[2] = {{{0.2f, 0.2f, 0.2f, 0.25f}, {0.9f, 0.9f, 0.9f, 0.8f}},
                               {{0.3f, 0.3f, 0.3f, 0.25f}, {0.9f, 0.9f, 0.9f, 0.8f}}};
const Style start_style = {{0, 1, 0, 0.3f}, {0.9f, 0.9f, 0.9f, 0.8f}};
const Style start_selected_style = {{0, 1, 0, 0.8f}, {0.9f, 0.9f, 0.9f, 1}};
const Style available_style = {{0, 1, 0, 0.5f}, {0.9f, 0.9f, 0.9f, 1}};
const Style unavailable_style = {{1, 0, 0, 0.5f}, {0, 0, 0, 1}};

void box(const float c[4], float x0, float top, float x1, float bottom) { draw_box(c[0], c[1], c[2], c[3], x0, top, x1, bottom); }

// Text inside a box of height h at `top`, shrunk to fit between x0 and x1.
void text_in(const float c[4], const char *text, float x0, float x1, float top, float h, bool centred) {
  float size = h * 0.75f;
  float room = x1 - x0 - 0.25f;
  float width = text_width(text) * size;
  if (width > room && width > 0) {
    size *= room / width;
    width = room;
  }
  float x = centred ? x0 + (x1 - x0 - width) / 2 : x0 + 0.125f;
  float y = top - h / 2 - size / 2;
  text_move(x, y);
  text_scale(size);
  draw_text(c[0], c[1], c[2], c[3], text, text_mode_colour);
  text_scale(1 / size);
  text_move(-x, -y);
}

void draw_labelled(const Item &it, const Style &value_style, const char *value) {
  float split = it.x + it.w * it.label_fraction;
  float bottom = it.y - it.h;
  box(title_style.box, it.x, it.y, split, bottom);
  text_in(title_style.text, it.label, it.x, split, it.y, it.h, false);
  float inset = 0.125f * it.h;
  box(value_style.box, split + inset, it.y - inset, it.x + it.w - inset, bottom + inset);
  if (value) text_in(value_style.text, value, split + inset, it.x + it.w - inset, it.y - inset, it.h - 2 * inset, false);
}

void draw_item(const Item &it, bool selected, float ox, float unit) {
  const Style &st = it.green       ? (selected ? start_selected_style : start_style)
                    : selected     ? selected_style
                    : it.list_row  ? list_styles[it.list_row - 1]
                                   : item_style;
  char value[512];
  float bottom = it.y - it.h;
  switch (it.kind) {
    case item_button:
      if (!it.label || !it.label[0]) {
        if (selected) box(st.box, it.x, it.y, it.x + it.w, bottom);
        break;
      }
      box(st.box, it.x, it.y, it.x + it.w, bottom);
      text_in(st.text, it.label, it.x, it.x + it.w, it.y, it.h, true);
      break;
    case item_choice:
      choice_display(it.choice, &menu.typed, value, sizeof value);
      draw_labelled(it, st, value);
      break;
    case item_text: {
      int cursor = menu.cursor_owner == it.text ? menu.text_cursor : static_cast<int>(strlen(it.text->text));
      // While selected, the character at the cursor is drawn in red (a red
      // underscore past the end), so the text never shifts.
      const char *t = it.text->text;
      if (selected && t[cursor]) {
        snprintf(value, sizeof value, "%.*s\033[31m%c\033[0m%s", cursor, t, t[cursor], t + cursor + 1);
      } else if (selected) {
        snprintf(value, sizeof value, "%s\033[31m_\033[0m", t);
      } else {
        snprintf(value, sizeof value, "%s", t);
      }
      draw_labelled(it, st, value);
      break;
    }
    case item_binding:
      binding_display(it.binding, value, sizeof value);
      draw_labelled(it, st, value);
      break;
    case item_slider: {
      draw_labelled(it, st, nullptr);
      const Slider *s = it.slider;
      float inset = 0.125f * it.h;
      float split = it.x + it.w * it.label_fraction;
      float b0 = it.bar_x0 / unit - ox, b1 = it.bar_x1 / unit - ox;
      snprintf(value, sizeof value, "%.2f", s->value);
      text_in(st.text, value, split + inset, b0, it.y - inset, it.h - 2 * inset, false);
      double range = s->maximum - s->minimum;
      double f = range > 0 ? (s->value - s->minimum) / range : 0;
      if (f < 0) f = 0;
      if (f > 1) f = 1;
      float top = it.y - 2.5f * inset, low = bottom + 2.5f * inset;
      box(title_style.box, b0, top, b1, low);
      box(st.text, b0, top, b0 + (b1 - b0) * static_cast<float>(f), low);
      if (it.physical) {
        const float grey[4] = {0.5f, 0.5f, 0.5f, 0.8f};
        text_in(grey, it.physical, it.x + it.w, it.x + it.w + 6, it.y, it.h, false);
      }
      break;
    }
  }
}

void draw_notice_lines() {
  double alpha = 10 - menu.clock;
  if (alpha <= 0) return;
  if (alpha > 1) alpha = 1;
  text_frame(40);
  float w = text_frame_width(40);
  float a = static_cast<float>(alpha);
  text_move(0, -37);
  draw_text_centred(1, 1, 1, a, 0, w, "Although this software depicts real objects and places, it is not");
  text_move(0, -1);
  draw_text_centred(1, 1, 1, a, 0, w, "endorsed by or affiliated with any of the subjects depicted.");
}

void draw_version() {
  if (!menu.version) return;
  text_frame(32);
  text_move(0, -31);
  draw_text_right(0.75f, 0.75f, 0.75f, 1, text_frame_width(32) - 0.25f, menu.version);
}

void draw_graphics_extras() {
  text_in(title_style.text, graphics_preset_status(), 0.5f, 15.5f, first_item_top - 2 * item_spacing, 1, true);
  float y = first_item_top - 11 * item_spacing;
  const float red[4] = {1, 0.2f, 0.2f, 1};
  text_in(red, "Some settings will not take effect until next restart", 0.5f, 31.5f, y, 1, false);
  const GlCaps &caps = gl_caps();
  const char *lines[4] = {"Driver info:", caps.vendor, caps.renderer, caps.version};
  for (int i = 0; i < 4; i++)
    text_in(item_style.text, lines[i] ? lines[i] : "", 0.5f, 31.5f, y - 1 - i * 0.8f, 0.75f / 0.75f * 0.75f, false);
}

void draw_available(const Item &it, bool available) {
  const Style &st = available ? available_style : unavailable_style;
  float x0 = it.x + it.w + 0.25f, x1 = x0 + 5.5f;
  box(st.box, x0, it.y, x1, it.y - it.h);
  text_in(st.text, available ? "Available" : "Not Available", x0, x1, it.y, it.h, true);
}

void draw_advanced_graphics_extras() {
  const GameSettings &g = game_settings();
  const GlCaps &caps = gl_caps();
  for (int i = 0; i < menu.count; i++) {
    const Item &it = menu.items[i];
    if (it.choice == &g.render_texture) draw_available(it, !(g.render_texture.selected == 2 && !caps.framebuffer_object));
    if (it.choice == &g.use_shader) draw_available(it, caps.shader_objects && caps.fragment_shader && caps.vertex_shader);
  }
}

void draw_riders_table() {
  if (!net_connected() || net_phase() != net_phase_racing) return;
  float x = 17, y = first_item_top;
  static const char *heads[] = {"Slot", "Ping", "No.", "Bike", "Name"};
  static const float cols[] = {0, 2, 4.5f, 6.5f, 11};
  const float white[4] = {0.9f, 0.9f, 0.9f, 1};
  for (int c = 0; c < 5; c++) text_in(white, heads[c], x + cols[c], x + (c < 4 ? cols[c + 1] : 15), y, 0.8f, false);
  int row = 0;
  for (int s = 0; s < max_slots && row < 24; s++) {
    const RiderInfo *r = net_slot_rider(s);
    if (!r && s != net_my_slot()) continue;
    float top = y - 0.8f * (row + 1);
    if (row % 2 == 0) draw_box(1, 1, 1, 0.25f, x, top, x + 15, top - 0.8f);
    char cells[5][80];
    snprintf(cells[0], 80, "%d", s);
    snprintf(cells[1], 80, "%d", net_slot_ping(s) * 1000 / tics_per_second);
    const SetupSettings &mine = setup_settings();
    snprintf(cells[2], 80, "%.60s", r ? r->number : mine.number.text);
    snprintf(cells[3], 80, "%.60s", r ? r->bike : choice_text(&mine.bike));
    snprintf(cells[4], 80, "%.60s", r ? r->name : mine.name.text);
    for (int c = 0; c < 5; c++) text_in(white, cells[c], x + cols[c], x + (c < 4 ? cols[c + 1] : 15), top, 0.8f, false);
    row++;
  }
}

void draw_standings_table() {
  int selected = selected_series();
  const Series *series = series_at(selected);
  if (!series) return;
  char title[1024];
  standings_title(series, title, sizeof title);
  text_in(title_style.text, title, 0, 32, first_item_top - 1.375f, 1, true);
  static StandingsBlock block;
  float top = first_item_top - 2.75f;
  const float white[4] = {0.9f, 0.9f, 0.9f, 1};
  for (int b = 0; b < standings_block_count(series) && top > -22; b++) {
    standings_block(series, b, setup_settings().number.text, &block);
    for (int c = 0; c < block.column_count; c++)
      text_in(white, block.header[c].text, block.header[c].x, block.header[c].x + block.header[c].width, top, 0.75f, false);
    top -= 0.75f;
    for (int r = 0; r < block.row_count && top > -22.5f; r++, top -= 0.75f) {
      if (r == block.player_row) draw_box(1, 1, 1, 0.25f, 0, top, 32, top - 0.75f);
      else if (r % 2) draw_box(0.3f, 0.3f, 0.3f, 0.25f, 0, top, 32, top - 0.75f);
      for (int c = 0; c < block.column_count; c++)
        text_in(white, block.rows[r][c].text, block.rows[r][c].x, block.rows[r][c].x + block.rows[r][c].width, top, 0.75f,
                false);
    }
    top -= 0.5f;
  }
}

void draw_console() {
  draw_box(0, 0, 0, 0.75f, -1000, 1000, 1000, -1000);
  constexpr float lines = 54;
  text_frame(lines);
  int scroll = console_scroll();
  for (int i = 0; i < 50; i++) {
    const char *line = message_line(i + scroll);
    text_move(0.5f, -(lines - 4 - i));
    if (i == 0 && scroll > 0) line = "^    ^    ^    ^    ^";
    if (line) draw_text_shadowed(line);
    text_move(-0.5f, lines - 4 - i);
  }
  char field[256];
  snprintf(field, sizeof field, "> %s", console_input());
  text_move(0.5f, -(lines - 2));
  draw_text_shadowed(0.9f, 0.9f, 0.9f, 1, field);
  if (fmod(menu.clock * 2, 1.0) < 0.5) {
    char before[256];
    snprintf(before, sizeof before, "> %.*s", console_cursor(), console_input());
    text_move(text_width(before), 0);
    draw_text_shadowed(0.9f, 0.9f, 0.9f, 1, "_");
  }
}

void draw_help() {
  static HelpLine lines[max_help_lines];
  int count = menu_help_layout(lines, max_help_lines);
  for (int i = 0; i < count; i++) {
    const HelpLine &l = lines[i];
    switch (l.style) {
      case help_heading: text_in(title_style.text, l.text, l.x0, l.x1, l.top, l.h, false); break;
      case help_label:
        box(title_style.box, l.x0, l.top, l.x1, l.top - l.h);
        text_in(title_style.text, l.text, l.x0, l.x1, l.top, l.h, false);
        break;
      case help_key:
        box(item_style.box, l.x0, l.top, l.x1, l.top - l.h);
        text_in(item_style.text, l.text, l.x0, l.x1, l.top, l.h, false);
        break;
      default:
        // A darker band keeps the notes readable over a bright scene.
        draw_box(0, 0, 0, 0.35f, l.x0, l.top, l.x1, l.top - l.h);
        text_in(item_style.text, l.text, l.x0, l.x1, l.top, l.h, false);
        break;
    }
  }
}

void draw_quit() {
  text_frame(30);
  float w = text_frame_width(30);
  text_move(0, -12);
  draw_text_centred(1, 1, 1, 1, 0, w, "Torvane");
  text_move(0, -2);
  draw_text_centred(1, 1, 1, 1, 0, w, "Press any key to exit or ESC to keep playing");
}

}  // namespace

// --- the public side --------------------------------------------------------------------------

namespace {
// After "readsetup": the families follow the new bike and texture names, and
// the viewed bike takes the new setup.
void setup_was_read() {
  menu_build_texture_families();
  reapply_setup();
}
}  // namespace

void menu_init() {
  menu_resolve_keys();
  menu.history_cursor = -1;
  set_setup_read_hook(setup_was_read);
}

int menu_screen() { return menu.screen; }

void menu_open(int screen) {
  if (screen < menu_none || screen >= menu_screen_count) screen = menu_none;
  menu.screen = screen;
  menu.selection = 0;
  menu.changed = 1;
  menu.cursor_owner = nullptr;
  build();
}

int menu_selection() { return menu.selection; }
void menu_set_selection(int index) { menu.selection = index; }
int menu_item_count() {
  build();
  return menu.count;
}
int menu_changed() { return menu.changed; }
void menu_frame_end() { menu.changed = 0; }

void menu_set_screen_size(int width, int height) {
  menu.width = width;
  menu.height = height;
}

void menu_set_pointer(float x, float y, int held) {
  menu.pointer_x = x;
  menu.pointer_y = y;
  menu.pointer_held = held;
}

void menu_key(int code) {
  if (menu.changed || menu.screen == menu_none) return;
  if (menu.screen == menu_quit) {
    const MenuKeys &k = menu_keys();
    if (code != k.esc) menu.quit = 1;
    return;
  }
  if (menu.screen == menu_console) {
    console_line_key(code);
    return;
  }
  build();
  if (menu.count == 0) return;
  const MenuKeys &k = menu_keys();
  int last = menu.count - 1;
  if (menu.selection > last) menu.selection = last;
  if (k.down >= 0 && code == k.down) {
    menu.selection = menu.screen == menu_chooser
                         ? chooser_move(menu.chooser.choice ? menu.chooser.choice->count : 0, menu.chooser.page,
                                        menu.selection, 1)
                         : (menu.selection < last ? menu.selection + 1 : last);
    return;
  }
  if (k.up >= 0 && code == k.up) {
    menu.selection = menu.screen == menu_chooser
                         ? chooser_move(menu.chooser.choice ? menu.chooser.choice->count : 0, menu.chooser.page,
                                        menu.selection, -1)
                         : (menu.selection > 0 ? menu.selection - 1 : 0);
    return;
  }
  // The pointer button acts on the item under it, which hovering selected.
  if (k.cursor_left >= 0 && code == k.cursor_left) {
    for (int i = 0; i < menu.count; i++)
      if (rect_contains(menu.items[i].rect, menu.pointer_x, menu.pointer_y)) menu.selection = i;
  }
  Item &it = menu.items[menu.selection];
  if (it.kind == item_choice && menu.typed.owner != it.choice) {
    menu.typed.owner = it.choice;
    menu.typed.text[0] = 0;
  }
  item_key(it, code);
}

void menu_hover() {
  if (menu.screen == menu_none || menu.screen == menu_console || menu.screen == menu_quit) return;
  build();
  for (int i = 0; i < menu.count; i++) {
    const Item &it = menu.items[i];
    if (menu.screen == menu_chooser && it.action == act_chooser_pick && it.index < 0) continue;
    if (it.kind == item_button && (!it.label || !it.label[0])) continue;
    if (rect_contains(it.rect, menu.pointer_x, menu.pointer_y)) menu.selection = i;
  }
}

void draw_menu() {
  if (menu.screen == menu_none) return;
  build();
  overlay_begin();
  text_frame(frame_lines);
  float fw = text_frame_width(frame_lines);
  if (menu.screen == menu_console) {
    draw_console();
    overlay_end();
    return;
  }
  draw_box(0.2f, 0.2f, 0.2f, 0.5f, 0, 1, fw, -frame_lines + 1);
  if (menu.screen == menu_quit) {
    draw_quit();
    overlay_end();
    return;
  }
  float ox = (fw - 32) / 2;
  float unit = menu.height > 0 ? menu.height / frame_lines : 1;
  text_move(ox, 0);
  const char *title = screen_title(menu.screen);
  box(title_style.box, 0.5f, 0.75f, 31.5f, -0.25f + 0.0f);
  text_in(title_style.text, title ? title : "", 0.5f, 31.5f, 0.75f, 1, true);
  for (int i = 0; i < menu.count; i++) draw_item(menu.items[i], i == menu.selection, ox, unit);
  if (menu.screen == menu_graphics) draw_graphics_extras();
  if (menu.screen == menu_advanced_graphics) draw_advanced_graphics_extras();
  if (menu.screen == menu_multiplayer) draw_riders_table();
  if (menu.screen == menu_standings) draw_standings_table();
  if (menu.screen == menu_main) draw_notice_lines();
  if (menu.screen == menu_help) draw_help();
  draw_version();
  overlay_end();
}

int menu_quit_requested() { return menu.quit; }

void menu_set_demos(const char *const *names, int count) {
  menu.demos = names;
  menu.demo_count = count;
}

void menu_set_clock(double program_clock) { menu.clock = program_clock; }
void menu_set_version(const char *text) { menu.version = text; }
void menu_set_window(Window *window) { menu.window = window; }

void menu_build_texture_families() {
  build_gear(gear_rider, "Riding Gear", "rider_body-");
  build_gear(gear_head, "Helmet", "rider_head-");
  build_gear(gear_wheels, "Wheel Graphics", "wheels-");
  char prefix[256];
  bike_prefix(prefix, sizeof prefix);
  build_gear(gear_bike, "Bike Graphics", prefix);
}

void menu_collect_video_modes() {
  const DisplayMode *modes = display_modes();
  int widths[max_video_modes], heights[max_video_modes], count = 0;
  for (const DisplayMode *m = modes; m->width > 0 && count < max_video_modes; m++) {
    if (m->bits != modes[0].bits) continue;  // the depth of the first mode listed
    widths[count] = m->width;
    heights[count] = m->height;
    count++;
  }
  set_video_modes(widths, heights, count);
}

void menu_rebuild_bike_graphics() {
  char prefix[256];
  bike_prefix(prefix, sizeof prefix);
  build_gear(gear_bike, "Bike Graphics", prefix);
  menu.gear[gear_bike].choice.selected = 0;
  gear_changed(gear_bike);
}

TypeAhead *menu_type_ahead() { return &menu.typed; }
Chooser *menu_chooser_state() { return &menu.chooser; }
MenuRect menu_item_rect(int index) {
  build();
  return index >= 0 && index < menu.count ? menu.items[index].rect : MenuRect{0, 0, 0, 0};
}
void menu_item_bar(int index, float *x0, float *x1) {
  build();
  *x0 = *x1 = 0;
  if (index >= 0 && index < menu.count) {
    *x0 = menu.items[index].bar_x0;
    *x1 = menu.items[index].bar_x1;
  }
}
const char *menu_item_label(int index) {
  build();
  return index >= 0 && index < menu.count ? menu.items[index].label : nullptr;
}
int menu_history_cursor() { return menu.history_cursor; }

// --- the help screen ------------------------------------------------------------------------------

namespace {

struct HelpWriter {
  HelpLine *lines;
  int max, count;
};

void help_line(HelpWriter &w, const char *text, float x0, float x1, float top, float h, int style) {
  if (w.count >= w.max) return;
  HelpLine &l = w.lines[w.count++];
  snprintf(l.text, sizeof l.text, "%s", text);
  l.x0 = x0;
  l.x1 = x1;
  l.top = top;
  l.h = h;
  l.style = style;
}

}  // namespace

int menu_help_layout(HelpLine *lines, int max) {
  HelpWriter w = {lines, max, 0};
  constexpr float row_h = 0.9f, row_step = 0.95f;
  constexpr float heading_top = first_item_top - 1.5f;
  constexpr float rows_top = heading_top - 1.0f;
  constexpr float label_w = 8.0f, key_w = 7.0f;
  // The bike's controls on the left, the race's on the right, each a label
  // box and the key bound to it now.
  static const int riding[] = {bind_throttle, bind_front_brake, bind_rear_brake,   bind_left,
                               bind_right,    bind_clutch,      bind_upshift,      bind_downshift,
                               bind_dab,      bind_back_up,     bind_lean_forward, bind_lean_backward};
  static const int race[] = {bind_pause, bind_step, bind_rewind, bind_skip,
                             bind_prev,  bind_next, bind_console, bind_screenshot};
  // Keys the main loop handles itself: no binding names them.
  static const char *const fixed[][2] = {
      {"Menus", "esc"}, {"Change View", "tab"}, {"Trackside Camera", "0 to 9"}, {"This Screen", "F1"}};
  const float columns[2] = {0.5f, 16.5f};
  help_line(w, "Riding", columns[0], columns[0] + label_w + key_w, heading_top, row_h, help_heading);
  help_line(w, "Race, Replay and Menus", columns[1], columns[1] + label_w + key_w, heading_top, row_h, help_heading);
  char key[128];
  for (int side = 0; side < 2; side++) {
    float x = columns[side];
    int bound = side == 0 ? 12 : 8;
    for (int row = 0; row < 12; row++) {
      float top = rows_top - row * row_step;
      const char *label;
      if (row < bound) {
        int b = side == 0 ? riding[row] : race[row];
        label = key_binding(b)->label;
        binding_display(b, key, sizeof key);
      } else {
        label = fixed[row - bound][0];
        snprintf(key, sizeof key, "%s", fixed[row - bound][1]);
      }
      help_line(w, label, x, x + label_w, top, row_h, help_label);
      help_line(w, key, x + label_w + 0.125f, x + label_w + key_w, top, row_h, help_key);
    }
  }
  static const char *const notes[] = {
      "Controllers: the hat moves through the menus, the first button selects, the second goes back;",
      "bind their sticks and buttons to the bike in Customize Controls.",
      "A window instead of full screen: Graphics/Sound Setup, Video Mode \"Windowed\",",
      "then Switch To Selected Mode Now. Start with --nosound for no sound.",
      "Quit: Quit in the Main Menu, or close the window (Alt+F4 in full screen).",
      "Settings, demos and the log: run torvane --open-home to find them.",
  };
  float top = rows_top - 12 * row_step - 0.5f;
  for (const char *note : notes) {
    help_line(w, note, 0.5f, 31.5f, top, row_h, help_note);
    top -= row_step;
  }
  return w.count;
}

// --- screenshots --------------------------------------------------------------------------------

namespace {
int screenshot_counter = 0;
}

void screenshot_name(int number, char *out, int size) { snprintf(out, static_cast<size_t>(size), "screenshot%03d.png", number); }

int screenshot_first_number(const char *const *names) {
  unsigned highest = 0;
  for (const char *const *n = names; n && *n; n++) {
    const char *slash = strrchr(*n, '/');
    const char *base = slash ? slash + 1 : *n;
    unsigned value;
    if (strncmp(base, "screenshot", 10) == 0 && sscanf(base, "screenshot%u.ppm", &value) == 1 && value > highest)
      highest = value;
  }
  return static_cast<int>(highest + 1);
}

void take_screenshot() {
  if (screenshot_counter == 0) screenshot_counter = screenshot_first_number(file_list());
  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  int w = viewport[2], h = viewport[3];
  if (w <= 0 || h <= 0) return;
  size_t row = static_cast<size_t>(w) * 3;
  uint8_t *pixels = static_cast<uint8_t *>(alloc_or_die(row * h));
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels);
  int number = screenshot_counter++;
  char name[64], path[80];
  screenshot_name(number, name, sizeof name);
  snprintf(path, sizeof path, "@%s", name);
  // Bottom row first, as GL reads it; the writer goes through a temporary file.
  int ok = png_write_rgb(path, pixels, w, h);
  tracked_free(pixels);
  char message[128];
  if (ok) snprintf(message, sizeof message, "Saved \"%s\"", name);
  else snprintf(message, sizeof message, "Can't save \"%s\"", name);
  print_message(message);
}
