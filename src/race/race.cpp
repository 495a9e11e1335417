#include "race/race.h"
#include "race/race_replay.h"
#include "track/deform.h"
#include "track/roost.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "app/config.h"
#include "app/random.h"
#include "app/camera.h"
#include "assets/file.h"
#include "assets/model.h"
#include "assets/texture.h"
#include "bike/assembly.h"
#include "bike/bike.h"
#include "bike/bike_step.h"
#include "bike/collide.h"
#include "bike/contact.h"
#include "platform/input.h"
#include "platform/log.h"
#include "race/race_net.h"
#include "race/race_sound.h"
#include "race/roster.h"
#include "race/running_order.h"
#include "race/series.h"
#include "render/bike_draw.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "robot/autopilot.h"
#include "robot/lines.h"
#include "script/frills.h"
#include "track/gates.h"
#include "track/objects.h"
#include "track/terrain.h"
#include "track/track.h"
#include "ui/hud.h"
#include "ui/loading.h"

namespace {

// --- What the race step asks of the robots, demos, ground and other bikes --

void load_lines_for_track(int skill) {
  // The table is sized by the gates of the track just loaded.
  clear_lines();
  for (int i = 0; i < max_slots; i++) {
    reset_line_recorder(i);
    autopilot_clear(i);
  }
  load_lines(skill);
}
void steer_robot(int slot) {
  if (Slot *s = race_slot(slot)) auto_pilot(s->bike);
}
// Offline the ruts are made here, not by a server: the demo keeps the
// erosion rate and every erode packet so that playback wears the same ruts.
// (Online the network client records what the server sends.)
void record_erode_packet(const uint8_t *packet, int length) { demo_write_event(chunk_erode, packet, length); }
void open_demo_recording() {
  demo_open_write();
  const RaceState &race = race_state();
  if (race_network().connected || race.time_trial) {
    set_erode_recorder(nullptr);
    return;
  }
  if (race.erosion_rate > 0) {
    char command[32];
    int n = snprintf(command, sizeof command, "erode %d", race.erosion_rate);
    demo_write_event(chunk_command, command, n);
  }
  set_erode_recorder(record_erode_packet);
}
int demo_rider_fields(int i, const char **number, const char **bike, const char *textures[4], const char **name) {
  const DemoRider *r = demo_rider(i);
  if (!r) return 0;
  *number = r->number;
  *bike = r->fields[0];
  // The header keeps bike model, rider body, bike graphics, wheels, helmet;
  // the race wants rider body, helmet, bike graphics, wheels.
  textures[0] = r->fields[1];
  textures[1] = r->fields[4];
  textures[2] = r->fields[2];
  textures[3] = r->fields[3];
  *name = r->name;
  return 1;
}
void sample_wheel_marks(BikeState *bike) {
  if (Terrain *t = track_terrain()) erode_wheel_marks(t, bike, race_state().tic);
}
void apply_erodes(int rate) {
  Terrain *t = track_terrain();
  if (!t) return;
  // Erodes near the local rider are held back a little so his own ruts
  // never shift under him mid-corner.
  const RaceState &race = race_state();
  Slot *viewed = race_slot(race.viewed_slot);
  float player[2];
  const float *player_xz = nullptr;
  if (viewed && viewed->bike && viewed->drive_mode == drive_local) {
    const dReal *p = dBodyGetPosition(viewed->bike->bodies[bike_frame]);
    player[0] = static_cast<float>(p[0]);
    player[1] = static_cast<float>(p[2]);
    player_xz = player;
  }
  erode_apply(t, player_xz, static_cast<float>(rate) / 1024.0f, race.tic);
}
void throw_roost(int slot, BikeState *bike) {
  Slot *s = race_slot(slot);
  if (const Terrain *t = track_terrain())
    roost_emit(t, bike, s && s->drive_mode == drive_history, active_graphics().roost_density, race_state().tic);
}
void move_roost() {
  if (const Terrain *t = track_terrain()) roost_move(t);
}
void bike_pair_contacts(BikeState *a, BikeState *b, int remote) {
  // A robot stalled for long passes through other bikes until it is back on
  // its path, so a jam of riders always comes apart.
  if (autopilot_stalled(a->slot) || autopilot_stalled(b->slot)) return;
  if (bike_bike_contacts(a, b, remote, race_state().tic) && remote) bike_touch(b);
}

static_assert(max_slots == 160, "the slot table and the lineup rotation assume 160 slots");
static_assert(max_start_gates >= max_grid_positions, "one start gate per grid position");

constexpr int false_start_penalty_tics = 15 * tics_per_second;
constexpr float false_start_distance_squared = 9;
constexpr float gate_gravity = 32;
constexpr float gate_max_speed = 8;
// A raised gate stands turned this far about its own x axis; a dropped one
// lies as its model is drawn.
constexpr float gate_raised_tilt = 0.5890486f;
constexpr int path_size = 1024;

// The slot table and the race state; live for the process.
Slot slots[max_slots];
RaceState race;
RaceNetwork network = {0, max_slots, 0, 0, nullptr, nullptr, 10.0f, 1.5f, {}};
RaceOptions options = {0, -1, 0};
RobotOrder robots;
// Console switches: "forcereload" and "togglegraph"; live for the process.
int track_reload_requested = 0;
int suspension_graph = 0;

void loading(const char *text) { show_loading(text); }
void loading_done(const char *text) { show_loading_done(text); }

int network_warmup() { return network.connected && network.gate_position >= max_slots; }

const float *frame_position(const BikeState *bike) {
  static float p[3];
  const dReal *q = dBodyGetPosition(bike->bodies[bike_frame]);
  for (int k = 0; k < 3; k++) p[k] = static_cast<float>(q[k]);
  return p;
}

float frame_speed(const BikeState *bike) {
  const dReal *v = dBodyGetLinearVel(bike->bodies[bike_frame]);
  return static_cast<float>(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
}

// Turns every body of the bike about the vertical axis through the world
// origin, where a freshly built or reset bike stands.
void turn_bike(BikeState *bike, float angle) {
  dMatrix3 turn;
  dRFromAxisAndAngle(turn, 0, 1, 0, angle);
  for (dBodyID body : bike->bodies) {
    const dReal *p = dBodyGetPosition(body);
    dVector3 q;
    dMultiply0_331(q, turn, p);
    dBodySetPosition(body, q[0], q[1], q[2]);
    dMatrix3 r;
    dMultiply0_333(r, turn, dBodyGetRotation(body));
    dBodySetRotation(body, r);
    dVector3 v;
    dMultiply0_331(v, turn, dBodyGetLinearVel(body));
    dBodySetLinearVel(body, v[0], v[1], v[2]);
    dMultiply0_331(v, turn, dBodyGetAngularVel(body));
    dBodySetAngularVel(body, v[0], v[1], v[2]);
  }
}

void free_slot(int i) {
  Slot *s = &slots[i];
  race_sound_free(i);
  if (s->bike) destroy_bike(s->bike);
  s->bike = nullptr;
  gate_progress_free(&s->timing);
}

// Rider numbers are cut to the three characters a plate shows.
void copy_number(Slot *s, const char *number) {
  char copy[max_rider_number_length + 1] = {};
  for (int k = 0; number && k < max_rider_number_length && number[k]; k++) copy[k] = number[k];
  memcpy(s->number, copy, sizeof copy);
}

// The slot's start position index and where that puts the bike.
void start_position(int slot, float position[3], float *angle) {
  int index = slot;
  if (network.connected && network.start_order) index = network.start_order[slot];
  const TimingGates *g = timing_gates();
  int count = g->grid_count;
  if (count >= 1) {
    const GridPosition &grid = g->grid[index % count];
    float distance = (static_cast<float>(index / count) + 0.0625f) * 10;
    position[0] = grid.x + std::sin(grid.angle) * distance;
    position[1] = grid.y;
    position[2] = grid.z + std::cos(grid.angle) * distance;
    *angle = grid.angle;
  } else {
    const Terrain *t = track_terrain();
    float half = t ? t->extent * 0.5f : 0;
    position[0] = half + 5.0f * static_cast<float>(index);
    position[1] = 0;
    position[2] = half;
    *angle = 0;
  }
}

// Builds the slot's rider for its kind; 0 when the slot stays empty.
int build_slot(int i, int kind, int *demo_rider) {
  Slot *s = &slots[i];
  const char *number = "", *model = nullptr, *name = "";
  const char *textures[4] = {nullptr, nullptr, nullptr, nullptr};
  s->personality = nullptr;
  if (kind == slot_kind_human) {
    SetupSettings &setup = setup_settings();
    number = setup.number.text;
    model = choice_text(&setup.bike);
    textures[0] = setup.rider_texture.text;
    textures[1] = setup.head_texture.text;
    textures[2] = setup.bike_texture.text;
    textures[3] = setup.wheel_texture.text;
    name = setup.name.text;
    s->drive_mode = drive_local;
  } else if (kind == slot_kind_robot || kind == slot_kind_robot_two_stroke || kind == slot_kind_robot_four_stroke ||
             kind >= slot_kind_numbered_robot) {
    int index = -1;
    if (kind >= slot_kind_numbered_robot) index = robot_by_number(kind - slot_kind_numbered_robot);
    if (index < 0) {
      const char *part = kind == slot_kind_robot_two_stroke ? "125" : kind == slot_kind_robot_four_stroke ? "250" : nullptr;
      index = robot_order_take(&robots, part);
    }
    const RobotEntry *robot = robot_entry(index);
    static char number_text[16];
    snprintf(number_text, sizeof number_text, "%d", robot->number);
    number = number_text;
    model = robot->bike;
    robot_textures(robot, textures);
    name = "Roborider";
    s->personality = options.practice ? "tester" : robot->personality;
    s->drive_mode = drive_robot;
  } else if (kind == slot_kind_network) {
    // The network client fills the slot's rider as the server described it.
    if (!s->bike_model) return 0;
    number = s->number;
    model = s->bike_model;
    for (int k = 0; k < 4; k++) textures[k] = s->textures[k];
    name = s->name ? s->name : "";
    s->drive_mode = drive_history;
  } else if (kind == slot_kind_empty && race.from_demo && *demo_rider < demo_rider_count()) {
    const char *bike_name = nullptr, *rider_name = nullptr, *rider_number = nullptr;
    if (!demo_rider_fields(*demo_rider, &rider_number, &bike_name, textures, &rider_name)) return 0;
    demo_map_rider(*demo_rider, i);
    (*demo_rider)++;
    number = rider_number;
    model = bike_name;
    name = rider_name;
    s->drive_mode = drive_history;
  } else {
    return 0;
  }
  copy_number(s, number);
  model = translate_old_bike_name(model ? model : "");
  s->bike_model = intern_string(model);
  s->name = intern_string(name ? name : "");
  for (int k = 0; k < 4; k++) s->textures[k] = textures[k] && *textures[k] ? intern_string(textures[k]) : nullptr;
  s->bike = build_bike(s->bike_model, i, s->number, s->textures[0], s->textures[1], s->textures[2], s->textures[3]);
  bike_graphics_load(s->bike);  // before the sound, which takes the skin it was loaded with
  race_sound_attach(i, s->bike, s->textures[2]);
  return 1;
}

void place_slot(int i) {
  Slot *s = &slots[i];
  float position[3], angle;
  start_position(i, position, &angle);
  place_bike(s->bike, position[0], position[2], angle);
  s->start_angle = angle;
  const float *p = frame_position(s->bike);
  for (int k = 0; k < 3; k++) s->start_position[k] = p[k];
  if (s->drive_mode == drive_local) s->penalty_counter = 0;
  if (s->drive_mode == drive_history) {
    bike_deactivate(s->bike);
    s->bike->roll_damping = 100;
    s->bike->full_lock_speed = 5;
    s->bike->restricted_lock_speed = 50;
    s->bike->restricted_lock_angle = 0.04363323f;
  } else {
    bike_activate(s->bike);
  }
  if (s->drive_mode == drive_robot) set_personality(s->bike, s->personality);
}

// The gate objects collide where they are drawn.
void tilt_start_gate(int k) {
  object_set_tilt(timing_gates()->grid[k].statue, race.start_gates[k].angle * gate_raised_tilt);
}

void raise_start_gates() {
  race.start_gate_count = timing_gates()->grid_count;
  for (int g = 0; g < max_start_gates; g++) race.start_gates[g] = StartGate{1, 0};
  for (int g = 0; g < race.start_gate_count; g++) tilt_start_gate(g);
}

void reset_trackside() {
  const TimingGates *g = timing_gates();
  race.first_lap_length = g->gate_count ? g->first_lap_count : 0;
  race.normal_lap_length = g->gate_count ? g->normal_lap_count : 0;
  for (int c = 0; c < g->checkpoint_count; c++) timing_checkpoint(c)->mark = 0;
  for (int k = 0; k < statue_count(); k++) track_statue(k)->last_contact_tic = -1;
  for (Slot &s : slots) gate_progress_clear(&s.timing);
}

// Collisions of this tic, before the world step.
void collide(const Terrain *terrain) {
  BikeState *list[max_slots];
  int done[max_slots] = {};  // finished its race (offline list only)
  int count = 0;
  int gates_open = race.tic < race.gate_drop_tic + start_gate_active_tics;
  if (!network.connected) {
    for (int i = 0; i < max_slots; i++) {
      BikeState *bike = slots[i].bike;
      if (!bike) continue;
      if (slots[i].drive_mode == drive_history) {
        if (gates_open) start_gate_touches(bike, race.tic);
        continue;
      }
      if (bike_is_active(bike)) bike_terrain_contacts(bike, terrain);
      object_contacts_near(bike, race.tic);
      done[count] = slots[i].timing.finished != 0;
      list[count++] = bike;
    }
  } else {
    int local = network.local_slot;
    BikeState *own = local >= 0 && local < max_slots ? slots[local].bike : nullptr;
    int warmup = network_warmup();
    int hide_rule = race.tic >= race.gate_drop_tic + static_cast<int>(network.off_course_bias * tics_per_second) &&
                    race.running_count >= 2 && own && slots[local].timing.next_gate > 0 && !rider_finished(local) &&
                    !off_course(local);
    for (int i = 0; i < max_slots; i++) {
      BikeState *bike = slots[i].bike;
      if (!bike || i == local || slots[i].drive_mode != drive_history) continue;
      if (race.tic - network.last_update_tic[i] >= tics_per_second) continue;
      if (hide_rule && (rider_finished(i) || slots[i].timing.next_gate == 0 || off_course(i))) continue;
      if (warmup && race.tic < race.gate_drop_tic + start_gate_active_tics + tics_per_second)
        start_gate_touches(bike, race.tic);
      list[count++] = bike;
    }
    if (own) {
      if (bike_is_active(own)) bike_terrain_contacts(own, terrain);
      object_contacts_near(own, race.tic);
    }
    // In a warm-up nobody collides with remote bikes.
    if (warmup || !own) return;
  }
  // Fastest first; equal speeds keep slot order so the run is reproducible.
  float speed[max_slots];
  for (int k = 0; k < count; k++) speed[k] = frame_speed(list[k]);
  for (int a = 1; a < count; a++) {
    BikeState *b = list[a];
    float v = speed[a];
    int d = done[a];
    int k = a;
    for (; k > 0 && speed[k - 1] < v; k--) {
      list[k] = list[k - 1];
      speed[k] = speed[k - 1];
      done[k] = done[k - 1];
    }
    list[k] = b;
    speed[k] = v;
    done[k] = d;
  }
  if (!network.connected) {
    // A rider who has finished rolls to a stop past the line; he no longer
    // collides with riders still racing, or the lapped would pile into the
    // parked. Online, finished remote riders leave the list the same way.
    // Pairs farther apart on the ground than their reaches (with a margin
    // for rounding) are passed over before the full test; the order of the
    // pairs tested stays the same.
    PairBounds bounds;
    pair_bounds(list, count, race.tic, &bounds);
    for (int a = 0; a < count; a++)
      for (int b = a + 1; b < count; b++)
        if (done[a] == done[b] && pair_may_touch(bounds, a, b)) bike_pair_contacts(list[a], list[b], 0);
    return;
  }
  BikeState *own = slots[network.local_slot].bike;
  for (int k = 0; k < count; k++) {
    bike_pair_contacts(own, list[k], 1);
    if (bike_is_active(list[k])) {
      bike_terrain_contacts(list[k], terrain);
      object_contacts_near(list[k], race.tic);
    }
  }
}

void emit_roost() {
  int order[max_slots], n = 0;
  for (int i = 0; i < max_slots; i++)
    if (slots[i].bike) order[n++] = i;
  for (int k = 0; k < n; k++) {
    int i = order[(k + race.tic) % n];
    throw_roost(i, slots[i].bike);
  }
}

int leader_progress() {
  int best = 0;
  for (const Slot &s : slots)
    if (s.bike && s.timing.next_gate > best) best = s.timing.next_gate;
  return best;
}

void step_start_gates() {
  int window = race.gate_drop_tic + start_gate_active_tics + (network_warmup() ? tics_per_second : 0);
  // A bike leaning on its gate holds it up only while the start lasts. A gate
  // held past it would stay up for the rest of the race with the rider stuck
  // behind it (a player who rolled into the gate and kept the throttle on),
  // so afterwards a gate still up falls as a free one does.
  int leaning_holds = race.tic < window;
  const TimingGates *g = timing_gates();
  for (int k = 0; k < race.start_gate_count; k++) {
    StartGate *gate = &race.start_gates[k];
    if (race.tic < race.gate_drop_tic) {
      *gate = StartGate{1, 0};
      tilt_start_gate(k);
      continue;
    }
    if (gate->angle <= 0) continue;
    int statue = g->grid[k].statue;
    if (leaning_holds && statue >= 0 && statue < statue_count() &&
        track_statue(statue)->last_contact_tic == race.tic) {
      gate->speed = 0;  // a bike leaning on the gate holds it up
      continue;
    }
    gate->speed += gate_gravity * static_cast<float>(seconds_per_tic);
    gate->angle -= static_cast<float>(seconds_per_tic) * gate->speed;
    if (gate->angle < 0) gate->angle = 0;
    if (gate->speed > gate_max_speed) gate->speed = gate_max_speed;
    tilt_start_gate(k);
  }
}

// --- Time trial ---------------------------------------------------------------

void track_file(char *out, const char *name) {
  const char *dir = current_track_dir();
  if (snprintf(out, path_size, "@%s/%s", dir ? dir : "", name) >= path_size) out[0] = 0;
}

int file_exists_at(const char *path) {
  DataFile *f = dfile_open(path, "rb");
  if (!f) return 0;
  dfile_close(f);
  return 1;
}

// Byte-for-byte copy through a temporary file renamed into place.
void copy_file(const char *from, const char *to) {
  DataFile *in = dfile_open(from, "rb");
  if (!in) return;
  DataFile *out = dfile_open_replace(to);
  if (!out) {
    dfile_close(in);
    print_message("Can't save the fastest lap");
    return;
  }
  static char buffer[65536];
  int ok = 1;
  for (;;) {
    int got = dfile_read(in, buffer, sizeof buffer);
    if (got <= 0) break;
    ok &= dfile_write(out, buffer, got) == got;
  }
  dfile_close(in);
  if (!ok) {
    dfile_close(out);  // abandons the temporary file
    print_message("Can't save the fastest lap");
    return;
  }
  if (!dfile_commit_replace(out)) print_message("Can't save the fastest lap");
}

void free_others() {
  for (int i = 1; i < max_slots; i++) {
    free_slot(i);
    slots[i].drive_mode = drive_history;
    slots[i].kind = slot_kind_empty;
  }
}

// The time over one normal lap from index F - 1, 0 unless every gate of it
// was passed.
int section_lap_tics(const GateProgress *p) {
  int f = race.first_lap_length, n = race.normal_lap_length;
  if (n <= 0 || f < 1) return 0;
  for (int q = f - 1; q <= f + n - 1; q++)
    if (gate_tic(p, q) < 0) return 0;
  return gate_tic(p, f + n - 1) - gate_tic(p, f - 1);
}

void start_ghost() {
  char path[path_size];
  track_file(path, "fastlap.qxdemo");
  if (!demo_open_read(path)) return;
  int next = 1;
  for (int r = 0; r < demo_rider_count() && next < max_slots; r++) {
    const char *number = nullptr, *model = nullptr, *name = nullptr;
    const char *textures[4] = {nullptr, nullptr, nullptr, nullptr};
    if (!demo_rider_fields(r, &number, &model, textures, &name)) continue;
    Slot *s = &slots[next];
    copy_number(s, number);
    s->bike_model = intern_string(translate_old_bike_name(model ? model : ""));
    s->name = intern_string(name ? name : "");
    for (int k = 0; k < 4; k++) s->textures[k] = textures[k] && *textures[k] ? intern_string(textures[k]) : nullptr;
    s->bike = build_bike(s->bike_model, next, s->number, s->textures[0], s->textures[1], s->textures[2], s->textures[3]);
    bike_graphics_load(s->bike);
    race_sound_attach(next, s->bike, s->textures[2]);
    s->drive_mode = drive_history;
    bike_deactivate(s->bike);
    set_next_gate(&s->timing, race.first_lap_length > 0 ? race.first_lap_length - 1 : 0);
    demo_map_rider(r, next);
    next++;
  }
}

void time_trial_tic() {
  int f = race.first_lap_length;
  Slot *ghost = &slots[1];
  if (ghost->bike && lap_of(&ghost->timing) != race.ghost_laps_before) {
    int t = section_lap_tics(&ghost->timing);
    if (t > 0 && (race.best_lap == 0 || t < race.best_lap)) race.best_lap = t;
  }
  Slot *rider = &slots[0];
  if (!rider->bike || lap_of(&rider->timing) == race.rider_laps_before) return;
  int rider_position = rider->timing.next_gate;
  int ghost_position = ghost->bike ? ghost->timing.next_gate : 0;
  demo_close_read();
  demo_close_write();
  int last = section_lap_tics(&rider->timing);
  free_others();
  if (timing_gates()->gate_count > 0) {
    char fast[path_size], lastlap[path_size];
    track_file(fast, "fastlap.qxdemo");
    track_file(lastlap, "lastlap.qxdemo");
    int exists = file_exists_at(fast);
    race.last_lap = last;
    if (last > 0 && (race.best_lap == 0 || last < race.best_lap)) race.best_lap = last;
    if (!exists || (rider_position > ghost_position && last > 0)) copy_file(lastlap, fast);
    start_ghost();
  }
  set_next_gate(&rider->timing, f > 0 ? f - 1 : 0);
  gate_stamp(&rider->timing, f > 0 ? f - 1 : 0, race.tic);
  rider->timing.next_gate = f > 0 ? f : 0;
  record_lines(0);
  open_demo_recording();
  demo_write_tic(1);
  update_running_order();
}

}  // namespace

RaceState &race_state() { return race; }
RaceNetwork &race_network() { return network; }
RaceOptions &race_options() { return options; }
Slot *race_slot(int slot) { return slot >= 0 && slot < max_slots ? &slots[slot] : nullptr; }
int race_tic() { return race.tic; }
void race_request_track_reload() { track_reload_requested = 1; }
int suspension_graph_on() { return suspension_graph; }
void set_suspension_graph(int on) { suspension_graph = on != 0; }

void place_bike(BikeState *bike, float x, float z, float angle) {
  reset_bike(bike);
  turn_bike(bike, angle);
  const Terrain *t = track_terrain();
  float ground = 0;
  if (t) {
    int i = static_cast<int>(std::lround(x * t->inverse_spacing));
    int j = static_cast<int>(std::lround(z * t->inverse_spacing));
    ground = terrain_vertex_height(t, i, j);
  }
  const dReal *p = dBodyGetPosition(bike->bodies[bike_frame]);
  move_bike(bike, x - p[0], ground, z - p[2]);
  if (t) {
    // A bike deeper than this under the ground is left where the loop stops.
    for (int lift = 0; lift < 4096 && bike_terrain_contacts(bike, t); lift++) {
      dJointGroupEmpty(physics_contact_group());
      move_bike(bike, 0, 0.25, 0);
    }
    dJointGroupEmpty(physics_contact_group());
  }
  for (dBodyID body : bike->bodies) {
    dBodySetForce(body, 0, 0, 0);
    dBodySetTorque(body, 0, 0, 0);
  }
}

void race_free_bikes() {
  hovl_log("Deallocating bikes\n");
  for (int i = 0; i < max_slots; i++) free_slot(i);
  hovl_log("Finished deallocating bikes\n");
}

int race_reset(const int *slot_kinds, int from_demo, int record, int finish_time, int laps, int skill) {
  static bool replay_connected = false;
  if (!replay_connected) {
    race_connect_replay();
    replay_connected = true;
  }
  loading_delay_reset();
  finish_series_event();
  loading("Resetting...");
  hovl_log("Resetting\n");
  // Textures and models this race asks for move into the new generation;
  // the rest go once the race is set up.
  texture_new_generation();

  random_seed(static_cast<uint32_t>(race.tic));
  robot_order_shuffle(&robots);

  loading("Remembering lines");
  save_lines(race_state().skill);
  clear_lines();
  demo_close_read();
  loading_done("Remembering lines");
  demo_close_write();

  loading("Cleaning up");
  race_free_bikes();
  race.running_count = 0;

  race.tic = 0;
  race.finish_time = finish_time > 0 ? finish_time : 0;
  race.finish_laps = laps;
  race.skill = skill;
  race.record = record;
  race.from_demo = from_demo;
  if (network.connected) {
    race.gate_drop_tic = network.gate_drop_tic;
    race.erosion_rate = -1;
  } else {
    race.erosion_rate = options.erode_rate > 0 ? options.erode_rate : 0;
    race.gate_drop_tic = static_cast<int>(std::floor((13 + 2 * static_cast<double>(random_float())) * tics_per_second));
  }
  race.time_trial = slot_kinds == nullptr;
  race.best_lap = race.last_lap = 0;
  if (!network.connected) {
    race_net_clear_slots();
    clear_history();
  }

  const char *dir = nullptr;
  if (from_demo && demo_open_read(nullptr)) dir = demo_track();
  if (!dir && network.connected) dir = network.track;
  if (!dir) dir = choice_text(&game_settings().track);
  int reload = track_reload_requested;
  track_reload_requested = 0;
  frills_unload();  // the old track's script goes with its race, loaded or not
  if (!track_ensure_loaded(dir, network.connected, reload)) {
    race.from_demo = 0;
    return 0;
  }
  {
    char path[path_size];
    current_track_file(path, sizeof path, "frills.js");
    if (path[0]) frills_load(path);
  }

  int kinds[max_slots] = {};
  if (race.time_trial) {
    kinds[0] = slot_kind_human;
    race.tic = time_trial_start_tic;
  } else {
    memcpy(kinds, slot_kinds, sizeof kinds);
  }
  race.viewed_slot = -1;
  for (int i = 0; i < max_slots; i++) {
    if (kinds[i] == slot_kind_human) {
      if (race.viewed_slot >= 0 && kinds[race.viewed_slot] == slot_kind_human) {
        kinds[i] = slot_kind_empty;  // only one local rider
        continue;
      }
      race.viewed_slot = i;
    }
  }
  if (race.viewed_slot < 0) {
    for (int i = 0; i < max_slots && race.viewed_slot < 0; i++)
      if (kinds[i] != slot_kind_empty) race.viewed_slot = i;
  }
  if (race.viewed_slot < 0) {
    race.viewed_slot = 0;
    if (!from_demo) kinds[0] = slot_kind_robot;
  }

  load_lines_for_track(skill);
  loading("Analyzing lines");
  analyse_lines();

  show_loading_reset("Loading bikes");
  int demo_rider = 0;
  for (int i = 0; i < max_slots; i++) {
    Slot *s = &slots[i];
    s->kind = kinds[i];
    if (kinds[i] != slot_kind_network) s->bike_model = nullptr;
    s->drive_mode = drive_history;
    gate_progress_clear(&s->timing);
    if (!build_slot(i, kinds[i], &demo_rider)) continue;
    place_slot(i);
    show_loading_progress("Loading bikes");
  }

  clear_history();
  erode_reset();  // no stale wheel marks or particles from the last race
  race_replay_clear_erodes();
  roost_reset();
  if (record) open_demo_recording();

  reset_trackside();
  hovl_log("%d MB texture memory used\n", static_cast<int>(texture_memory() >> 20));
  texture_flush(0);  // what this race did not ask for again
  model_flush(0);

  if (race.finish_time > 0) {
    race.final_lap = unknown_lap;
    race.halfway_lap = unknown_lap;
  } else {
    race.final_lap = laps;
    race.halfway_lap = (laps + 1) / 2;
  }
  raise_start_gates();
  if (race.time_trial) time_trial_start_attempt();

  hovl_log("Max loading delay was %f (%s)\n", loading_max_delay(), loading_max_delay_text());
  demo_write_tic(1);
  demo_read_ahead();
  race.results_final = 0;
  update_running_order();

  if (!slots[race.viewed_slot].bike && race.running_count > 0) race.viewed_slot = race.running_order[0].slot;
  Slot *viewed = &slots[race.viewed_slot];
  if (viewed->bike && viewed->drive_mode == drive_local) apply_setup(viewed->bike, setup_values(), 0);
  if (viewed->bike) place_free_camera(viewed->bike);
  if (options.prepare_first_frame) options.prepare_first_frame();
  return 1;
}

void false_start_step(int slot) {
  Slot *s = race_slot(slot);
  if (!s || !s->bike) return;
  BikeState *bike = s->bike;
  if (s->penalty_counter == 0 && race.tic < race.gate_drop_tic) {
    bike_set_dab(bike, 1);
    const float *p = frame_position(bike);
    float d2 = 0;
    for (int k = 0; k < 3; k++) d2 += (p[k] - s->start_position[k]) * (p[k] - s->start_position[k]);
    if (d2 >= false_start_distance_squared) {
      s->penalty_counter = race.gate_drop_tic + false_start_penalty_tics - race.tic;
      print_message("15 second false start penalty");
    }
  }
  if (s->penalty_counter > 0) {
    s->penalty_counter--;
    bike_set_front_brake(bike, 1);
    bike_set_rear_brake(bike, 1);
    bike_set_back_up(bike, 0);
    bike_set_clutch(bike, 0);
    bike_set_throttle(bike, 0);
    bike_set_dab(bike, 1);
  }
}

void race_step() {
  const Terrain *terrain = track_terrain();
  if (!terrain) return;
  frills_tic(race.tic);

  int pose_tic = network_warmup() ? race.tic - (tics_per_second - 1) : race.tic;
  for (int i = 0; i < max_slots; i++)
    if (slots[i].bike && slots[i].drive_mode == drive_history) pose_from_history(i, pose_tic);

  if (race.time_trial) {
    race.rider_laps_before = lap_of(&slots[0].timing);
    race.ghost_laps_before = lap_of(&slots[1].timing);
  }

  collide(terrain);
  emit_roost();
  physics_world_step();

  race_replay_erodes_due(race.tic);
  if (race.erosion_rate > 0) {
    for (const Slot &s : slots)
      if (s.bike && s.drive_mode != drive_history) sample_wheel_marks(s.bike);
    apply_erodes(race.erosion_rate);
  }

  PhysicsTic now = {terrain, race.tic, race.gate_drop_tic};
  int leader = leader_progress();
  for (int i = 0; i < max_slots; i++) {
    Slot *s = &slots[i];
    if (!s->bike) continue;
    if (s->drive_mode == drive_robot) steer_robot(i);
    if (network.connected) {
      if (i == network.local_slot) {
        false_start_step(i);
      } else if (s->drive_mode == drive_history) {
        race_net_remote_update(i);
      }
    }
    bike_physics_step(s->bike, now);
    if (network.connected && i != network.local_slot) continue;
    // A finished rider's timing stops at its finish line, so its result
    // (laps, time, place) is the one it finished with however far it rides on.
    if (s->timing.finished) continue;
    const dReal *w = dBodyGetPosition(s->bike->bodies[bike_front_wheel]);
    int passed = check_gates(&s->timing, static_cast<float>(w[0]), static_cast<float>(w[2]), race.tic,
                             race.final_lap, leader);
    if (s->timing.finished) s->bike->finished = 1;
    record_lines(i);
    if (passed >= 0) {
      if (s->timing.next_gate > leader) leader = s->timing.next_gate;
      update_running_order();
    }
  }

  move_roost();
  step_start_gates();
  int before = race.tic;
  race.tic++;
  if (network.connected && before % 512 == 510) update_running_order();
  demo_write_tic(0);
  demo_read_ahead();
  if (race.time_trial) time_trial_tic();
  if (suspension_graph && race.viewed_slot >= 0 && slots[race.viewed_slot].bike)
    sample_suspension_graph(slots[race.viewed_slot].bike);
}

void time_trial_start_attempt() {
  demo_close_read();
  demo_close_write();
  free_others();
  Slot *rider = &slots[0];
  if (rider->bike) {
    const TimingGates *g = timing_gates();
    int index = race.first_lap_length - 3;
    if (index < 0) index = 0;
    int gate = gate_at_position(index);
    if (gate >= 0) {
      const Checkpoint *c = &g->checkpoints[gate];
      // A bike faces -z; turning it by a faces (-sin a, -cos a).
      float angle = std::atan2(-c->gate_direction[0], -c->gate_direction[2]);
      place_bike(rider->bike, c->gate_centre[0], c->gate_centre[2], angle);
    } else {
      place_bike(rider->bike, rider->start_position[0], rider->start_position[2], rider->start_angle);
    }
    gate_progress_clear(&rider->timing);
    set_next_gate(&rider->timing, index);
  }
  race.last_lap = 0;
  update_running_order();
}

void rotate_lineup(int count) {
  GameSettings &g = game_settings();
  int kinds[max_slots] = {}, rotated[max_slots] = {};
  for (int k = 0; k < max_gates; k++) kinds[k] = g.gates[k].selected;
  for (int k = 0; k < max_slots; k++) {
    int to = static_cast<int>(((static_cast<long>(k) + count) % max_slots + max_slots) % max_slots);
    rotated[to] = kinds[k];
  }
  for (int k = 0; k < max_gates; k++) {
    if (rotated[k] >= 0 && rotated[k] < g.gates[k].count) g.gates[k].selected = rotated[k];
  }
}

int race_new_from_settings() {
  GameSettings &g = game_settings();
  int kinds[max_slots] = {};
  for (int k = 0; k < max_gates; k++) kinds[k] = g.gates[k].selected;
  int finish = static_cast<int>(g.minutes.value * 60 * tics_per_second);
  int ok = race_reset(kinds, 0, g.record.selected == 1, finish, static_cast<int>(g.laps.value), g.skill.selected);
  rotate_lineup(options.rotate_lineup);
  return ok;
}

int race_warp_check() {
  if (!current_track_dir() || race.running_count == 0) return 0;
  const Slot *leader = &slots[race.running_order[0].slot];
  if (!leader->bike || lap_of(&leader->timing) < race.finish_laps) return 0;
  int kinds[max_slots];
  for (int i = 0; i < max_slots; i++) kinds[(i + 1) % max_slots] = slots[i].kind;
  GameSettings &g = game_settings();
  int finish = static_cast<int>(g.minutes.value * 60 * tics_per_second);
  race_reset(kinds, 0, g.record.selected == 1, finish, static_cast<int>(g.laps.value), g.skill.selected);
  return 1;
}
