// Connects the race to the history and demo modules: what a demo needs to
// know of the race, read through the race's own records.
#include "race/race_replay.h"

#include <cstring>

#include "app/config.h"
#include "race/race.h"
#include "race/race_net.h"
#include "race/running_order.h"
#include "replay/history.h"
#include "track/deform.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

BikeState *slot_bike(int slot) {
  Slot *s = race_slot(slot);
  return s ? s->bike : nullptr;
}

int slot_drive_mode(int slot) {
  Slot *s = race_slot(slot);
  return s ? s->drive_mode : 0;
}

void slot_rider(int slot, const char **bike_model, const char *textures[4], const char **number, const char **name) {
  Slot *s = race_slot(slot);
  if (!s) return;
  *bike_model = s->bike_model;
  for (int i = 0; i < 4; i++) textures[i] = s->textures[i];
  *number = s->number;
  *name = s->name;
}

const char *track_name() { return current_track_dir(); }

float height_at(const void *terrain, float x, float z) {
  return terrain_height(static_cast<const Terrain *>(terrain), x, z);
}

PackTerrain pack_terrain() { return race_pack_terrain(); }

int network_phase() {
  const RaceNetwork &n = race_network();
  if (!n.connected) return 0;
  return n.gate_position >= max_slots ? 1 : 2;
}

// Cuts the slot's timing list back to its stamps up to `tic`.
int cut_timing(int slot, int tic) {
  Slot *s = race_slot(slot);
  if (!s) return 0;
  GateProgress *g = &s->timing;
  int p = g->next_gate;
  while (p > 0 && (gate_tic(g, p - 1) < 0 || gate_tic(g, p - 1) > tic)) p--;
  if (p == g->next_gate) return 0;
  set_next_gate(g, p);
  g->finished = 0;
  return 1;
}

float roost_density_value;

// Erode packets read from a demo wait here until the tic they were made in,
// so the queue drains them exactly as it did while recording. Bounded: a
// demo reads at most a few seconds ahead, and a packet beyond the bound is
// applied at once rather than lost.
constexpr int max_pending_erodes = 512;
struct PendingErode {
  int tic, length;
  uint8_t packet[erode_packet_max];
};
PendingErode pending[max_pending_erodes];  // a ring; lives for the process
int pending_start, pending_count;

void demo_erode(const uint8_t *packet, int length, int tic) {
  const Terrain *t = track_terrain();
  if (!t || length <= 0) return;
  if (length > erode_packet_max || pending_count == max_pending_erodes || tic <= race_state().tic) {
    erode_receive(t, packet, length);
    return;
  }
  PendingErode &p = pending[(pending_start + pending_count) % max_pending_erodes];
  p.tic = tic;
  p.length = length;
  memcpy(p.packet, packet, static_cast<size_t>(length));
  pending_count++;
}

}  // namespace

void race_replay_erodes_due(int tic) {
  const Terrain *t = track_terrain();
  while (pending_count > 0 && pending[pending_start].tic <= tic) {
    const PendingErode &p = pending[pending_start];
    if (t) erode_receive(t, p.packet, p.length);
    pending_start = (pending_start + 1) % max_pending_erodes;
    pending_count--;
  }
}

void race_replay_clear_erodes() { pending_start = pending_count = 0; }

PackTerrain race_pack_terrain() {
  const Terrain *t = track_terrain();
  if (!t) return PackTerrain{0, 0, nullptr, nullptr};
  return PackTerrain{t->extent, t->min_height, height_at, t};
}

void race_connect_replay() {
  RaceState &r = race_state();
  roost_density_value = static_cast<float>(game_settings().roost_density.value);
  ReplayRace link = {};
  link.tic = &r.tic;
  link.results_final = &r.results_final;
  link.gate_drop_tic = &r.gate_drop_tic;
  link.finish_time = &r.finish_time;
  link.finish_laps = &r.finish_laps;
  link.erosion_rate = &r.erosion_rate;
  link.time_trial = &r.time_trial;
  link.viewed_slot = &r.viewed_slot;
  link.slot_bike = slot_bike;
  link.slot_drive_mode = slot_drive_mode;
  link.slot_rider = slot_rider;
  link.track_name = track_name;
  link.pack_terrain = pack_terrain;
  link.network_phase = network_phase;
  link.network_hidden = race_net_hidden;
  link.race_step = race_step;
  link.cut_timing = cut_timing;
  link.update_running_order = update_running_order;
  link.roost_density = &roost_density_value;
  link.erode_receive = demo_erode;
  replay_set_race(link);
}
