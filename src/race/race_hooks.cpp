// The race step's calls into other modules; the ones still neutral stand in
// for modules that are not built yet (see race_hooks.h).
#include "race/race_hooks.h"

#include <cstdio>

#include "app/camera.h"
#include "app/config.h"
#include "app/keyframes.h"
#include "bike/assembly.h"
#include "bike/collide.h"
#include "race/race.h"
#include "race/race_net.h"
#include "race/race_sound.h"
#include "race/running_order.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "robot/autopilot.h"
#include "robot/lines.h"
#include "track/deform.h"
#include "track/gates.h"
#include "track/objects.h"
#include "track/roost.h"
#include "track/terrain.h"
#include "track/track.h"

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
void hook_clear_history() { clear_history(); }
void hook_history_pose(int slot, int tic) { pose_from_history(slot, tic); }
int hook_history_newest_tic(int slot) { return history_newest_tic(slot); }
void hook_demo_close_read() { demo_close_read(); }
void hook_demo_close_write() { demo_close_write(); }
// Offline the ruts are made here, not by a server: the demo keeps the
// erosion rate and every erode packet so that playback wears the same ruts.
// (Online the network client records what the server sends.)
static void record_erode_packet(const uint8_t *packet, int length) { demo_write_event(chunk_erode, packet, length); }
void hook_demo_open_write() {
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
int hook_demo_open_read(const char *path) { return demo_open_read(path); }
int hook_demo_rider_count() { return demo_rider_count(); }
int hook_demo_rider(int i, const char **number, const char **bike, const char *textures[4], const char **name) {
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
void hook_demo_map_rider(int rider, int slot) { demo_map_rider(rider, slot); }
const char *hook_demo_track() { return demo_track(); }
void hook_demo_write_tic(int force) { demo_write_tic(force); }
void hook_demo_read_ahead() { demo_read_ahead(); }
void hook_erode_sample(BikeState *bike) {
  if (Terrain *t = track_terrain()) erode_wheel_marks(t, bike, race_state().tic);
}
void hook_erode_apply(int rate) {
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
void hook_roost_emit(int slot, BikeState *bike) {
  Slot *s = race_slot(slot);
  if (const Terrain *t = track_terrain())
    roost_emit(t, bike, s && s->drive_mode == drive_history, active_graphics().roost_density, race_state().tic);
}
void hook_roost_step() {
  if (const Terrain *t = track_terrain()) roost_move(t);
}
void hook_object_contacts(BikeState *bike, int tic) { object_contacts_near(bike, tic); }
void hook_start_gate_touch(BikeState *bike, int tic) { start_gate_touches(bike, tic); }
void hook_bike_bike_contacts(BikeState *a, BikeState *b, int remote) {
  // A robot stalled for long passes through other bikes until it is back on
  // its path, so a jam of riders always comes apart.
  if (autopilot_stalled(a->slot) || autopilot_stalled(b->slot)) return;
  if (bike_bike_contacts(a, b, remote, race_state().tic) && remote) bike_touch(b);
}
void hook_sound_attach(int slot, BikeState *bike, const char *bike_texture) {
  race_sound_attach(slot, bike, bike_texture);
}
void hook_sound_free(int slot) { race_sound_free(slot); }
void hook_place_free_camera(BikeState *bike) { place_free_camera(bike); }
void hook_net_clear_slots() { race_net_clear_slots(); }
void hook_net_remote_update(int slot) { race_net_remote_update(slot); }
