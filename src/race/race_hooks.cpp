// Neutral stand-ins for modules that are not built yet; see race_hooks.h.
#include "race/race_hooks.h"

#include "race/race.h"
#include "race/running_order.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"
#include "robot/autopilot.h"
#include "robot/lines.h"

void hook_finish_series_event() {}
void hook_loading_screen(const char *) {}
void hook_save_lines() { save_lines(race_state().skill); }
void hook_clear_lines() { clear_lines(); }
void hook_load_lines(int skill) {
  // The table is sized by the gates of the track just loaded.
  clear_lines();
  for (int i = 0; i < max_slots; i++) {
    reset_line_recorder(i);
    autopilot_clear(i);
  }
  load_lines(skill);
}
void hook_analyse_lines() { analyse_lines(); }
void hook_set_personality(BikeState *bike, const char *name) { set_personality(bike, name); }
void hook_autopilot(int slot) {
  if (Slot *s = race_slot(slot)) auto_pilot(s->bike);
}
void hook_record_lines(int slot) { record_lines(slot); }
void hook_erode_sample(BikeState *) {}
void hook_erode_apply(int) {}
void hook_roost_emit(int, BikeState *) {}
void hook_roost_step() {}
void hook_object_contacts(BikeState *, int) {}
void hook_start_gate_touch(BikeState *, int) {}
void hook_bike_bike_contacts(BikeState *, BikeState *, int) {}
void hook_sound_attach(int, BikeState *, const char *) {}
void hook_sound_free(int) {}
void hook_frills_load(const char *) {}
void hook_frills_tic(int) {}
int hook_texture_megabytes() { return 0; }
void hook_release_unused_assets() {}
void hook_place_free_camera(BikeState *) {}
void hook_suspension_graph(BikeState *) {}
void hook_net_clear_slots() {}
void hook_net_remote_update(int) {}

// History and demos: the replay module is built; it reaches the race through
// the ReplayRace record, installed on first use (no global constructors).
namespace {

BikeState *replay_slot_bike(int slot) {
  Slot *s = race_slot(slot);
  return s ? s->bike : nullptr;
}

int replay_slot_drive_mode(int slot) {
  Slot *s = race_slot(slot);
  return s ? s->drive_mode : drive_history;
}

void replay_slot_rider(int slot, const char **bike_model, const char *textures[4], const char **number,
                       const char **name) {
  Slot *s = race_slot(slot);
  if (!s) return;
  *bike_model = s->bike_model;
  for (int k = 0; k < 4; k++) textures[k] = s->textures[k];
  *number = s->number;
  *name = s->name;
}

float replay_height_at(const void *terrain, float x, float z) {
  return terrain_height(static_cast<const Terrain *>(terrain), x, z);
}

PackTerrain replay_pack_terrain() {
  const Terrain *t = track_terrain();
  if (!t) return PackTerrain{};
  return PackTerrain{t->extent, t->min_height, replay_height_at, t};
}

int replay_network_phase() {
  const RaceNetwork &n = race_network();
  if (!n.connected) return 0;
  return n.gate_position >= max_slots ? 1 : 2;
}

int replay_cut_timing(int slot, int tic) {
  Slot *s = race_slot(slot);
  if (!s) return 0;
  GateProgress *p = &s->timing;
  int cut = 0;
  // Back from the end until the last entry is a stamp no later than tic;
  // missed entries at the end go too.
  while (p->next_gate > 0) {
    int t = gate_tic(p, p->next_gate - 1);
    if (t >= 0 && t <= tic) break;
    p->next_gate--;
    cut = 1;
  }
  if (cut) p->finished = 0;
  return cut;
}

void install_replay() {
  static int installed = 0;
  if (installed) return;
  installed = 1;
  RaceState &race = race_state();
  ReplayRace r = {};
  r.tic = &race.tic;
  r.results_final = &race.results_final;
  r.gate_drop_tic = &race.gate_drop_tic;
  r.finish_time = &race.finish_time;
  r.finish_laps = &race.finish_laps;
  r.erosion_rate = &race.erosion_rate;
  r.time_trial = &race.time_trial;
  r.viewed_slot = &race.viewed_slot;
  r.slot_bike = replay_slot_bike;
  r.slot_drive_mode = replay_slot_drive_mode;
  r.slot_rider = replay_slot_rider;
  r.track_name = current_track_dir;
  r.pack_terrain = replay_pack_terrain;
  r.network_phase = replay_network_phase;
  r.race_step = race_step;
  r.cut_timing = replay_cut_timing;
  r.update_running_order = update_running_order;
  replay_set_race(r);
}

}  // namespace

void hook_clear_history() {
  install_replay();
  clear_history();
}
void hook_history_pose(int slot, int tic) { pose_from_history(slot, tic); }
int hook_history_newest_tic(int slot) { return history_newest_tic(slot); }
void hook_demo_close_read() { demo_close_read(); }
void hook_demo_close_write() { demo_close_write(); }
void hook_demo_open_write() {
  install_replay();
  demo_open_write();
}
int hook_demo_open_read(const char *path) {
  install_replay();
  return demo_open_read(path);
}
int hook_demo_rider_count() { return demo_rider_count(); }
int hook_demo_rider(int i, const char **number, const char **bike, const char *textures[4], const char **name) {
  const DemoRider *r = demo_rider(i);
  if (!r) return 0;
  *number = r->number;
  *bike = r->fields[0];
  // The header's order is rider body, bike graphics, wheels, helmet; the
  // slot's is rider body, helmet, bike graphics, wheels.
  textures[0] = r->fields[1];
  textures[1] = r->fields[4];
  textures[2] = r->fields[2];
  textures[3] = r->fields[3];
  *name = r->name;
  return 1;
}
void hook_demo_map_rider(int rider, int slot) { demo_map_rider(rider, slot); }
const char *hook_demo_track() { return demo_track(); }
void hook_demo_write_tic(int force) { demo_write_tic(force); }
void hook_demo_read_ahead() { demo_read_ahead(); }
