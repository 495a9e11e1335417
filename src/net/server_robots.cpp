#include "net/server_robots.h"

#include <cstdio>
#include <cstring>

#include "app/config.h"
#include "bike/bike.h"
#include "race/race.h"
#include "race/race_replay.h"
#include "runner/runner.h"
#include "track/deform.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

// Tics the simulation may run in one server pass: a slow pass is caught up
// over the next few instead of stalling the receive loop.
constexpr int catch_up_tics_per_pass = 32;
// Falling this far behind the server's clock is reported (once a race).
constexpr int behind_report_tics = tics_per_second;

// Process-wide: the data is opened once; the server whose race is simulated
// receives the robots' ruts. Both live for the process.
bool data_open;
RaceServer *simulating;
bool behind_reported;

void robots_erode(const uint8_t *packet, int length) {
  if (const Terrain *t = track_terrain()) erode_receive(t, packet, length);
  if (simulating) server_relay_erode(simulating, packet, length);
}

void clear_robots(RaceServer *s) {
  s->robot_count = 0;
  for (int &r : s->robot_index) r = -1;
}

void copy_text(char *to, int size, const char *from) {
  snprintf(to, static_cast<size_t>(size), "%.*s", size - 1, from ? from : "");
}

// The robot's rider as the reset drew it from the roster.
void describe(ServerRobot *r) {
  const Slot *slot = race_slot(r->gate_position);
  RiderInfo &info = r->rider;
  info = RiderInfo{};
  copy_text(info.bike, sizeof info.bike, slot->bike_model);
  // Slot textures: rider body, helmet, bike graphics, wheels.
  copy_text(info.rider_texture, sizeof info.rider_texture, slot->textures[0]);
  copy_text(info.head_texture, sizeof info.head_texture, slot->textures[1]);
  copy_text(info.bike_texture, sizeof info.bike_texture, slot->textures[2]);
  copy_text(info.wheel_texture, sizeof info.wheel_texture, slot->textures[3]);
  copy_text(info.number, sizeof info.number, slot->number);
  copy_text(info.name, sizeof info.name, slot->name);
  r->rider_text_length =
      rider_info_text(&info, server_robot_text_size - 1, r->rider_text, static_cast<int>(sizeof r->rider_text));
}

}  // namespace

int server_open_data(const char *home) {
  if (data_open) return 1;
  if (!runner_open_data(home && home[0] ? home : nullptr)) return 0;
  data_open = true;
  return 1;
}

int server_data_open() { return data_open ? 1 : 0; }

void server_data_track_info(ServerConfig *config, void (*warn)(const char *line)) {
  if (!data_open) return;
  for (int i = 0; i < config->track_count; i++) {
    ServerTrack &t = config->tracks[i];
    if (t.have_hash) continue;
    if (!load_track(t.dir)) {
      if (warn) {
        char line[server_text_size + 64];
        snprintf(line, sizeof line, "Track %s is not in the game data", t.dir);
        warn(line);
      }
      continue;
    }
    memcpy(t.hash, track_hash(), track_hash_size);
    t.have_hash = 1;
    const TimingGates *g = timing_gates();
    if (g->gate_count > 0) {
      if (t.first_lap <= 0) t.first_lap = g->first_lap_count;
      if (t.normal_lap <= 0) t.normal_lap = g->normal_lap_count;
    }
    free_track();
  }
}

void server_robots_begin(RaceServer *s) {
  clear_robots(s);
  // Without robots the race module is left alone: it may be a client's, in
  // the same process.
  if (!data_open || s->config.robots <= 0) {
    server_robots_stop(s);
    return;
  }
  simulating = nullptr;
  set_erode_server_sink(nullptr);
  race_free_bikes();

  const ServerTrack &track = s->config.tracks[s->track_index];
  if (!select_choice(&game_settings().track, track.dir)) {
    server_say(s, "Robots: no track %s in the game data", track.dir);
    return;
  }
  // The gate positions after the riders already in this race.
  int gate = 0;
  for (const ServerClient &c : s->clients)
    if (c.state != server_client_free && c.in_race && c.gate_position != slot_none && c.gate_position >= gate)
      gate = c.gate_position + 1;
  int kinds[max_slots] = {};
  for (int slot = max_slots - 1; slot >= 0 && s->robot_count < s->config.robots && gate < max_slots; slot--) {
    if (s->clients[slot].state != server_client_free) continue;
    ServerRobot &r = s->robots[s->robot_count];
    r = ServerRobot{};
    r.slot = slot;
    r.gate_position = gate++;
    r.timing_last = -1;
    kinds[r.gate_position] = slot_kind_robot;
    s->robot_index[slot] = s->robot_count++;
  }
  // Every race starts on fresh ground, as the clients' does.
  free_track();
  if (!race_reset(kinds, 0, 0, s->duration, s->laps, s->config.robot_skill)) {
    server_say(s, "Robots: track %s would not load", track.dir);
    clear_robots(s);
    return;
  }
  RaceState &race = race_state();
  race.gate_drop_tic = s->gate_drop;
  race.erosion_rate = s->config.erode;
  for (int k = 0; k < s->robot_count; k++) describe(&s->robots[k]);
  simulating = s;
  behind_reported = false;
  set_erode_server_sink(robots_erode);
  server_say(s, "Robots: %d in race %d", s->robot_count, s->race_id);
}

void server_robots_step(RaceServer *s) {
  if (s->robot_count == 0 || simulating != s) return;
  RaceState &race = race_state();
  for (int n = 0; n < catch_up_tics_per_pass && race.tic < s->server_tic; n++) race_step();
  if (!behind_reported && s->server_tic - race.tic > behind_report_tics) {
    behind_reported = true;
    server_say(s, "Robots run %d tics behind the clock", s->server_tic - race.tic);
  }
  for (int k = 0; k < s->robot_count; k++) {
    ServerRobot &r = s->robots[k];
    const GateProgress *p = &race_slot(r.gate_position)->timing;
    // Every gate passed since the last look, in order; a gate missed has no
    // stamp and is not sent.
    for (int index = r.timing_count; index < p->next_gate; index++) {
      int tic = gate_tic(p, index);
      if (tic < 0) continue;
      r.timing_last = tic;
      server_relay_timing(s, r.slot, index, tic);
    }
    if (p->next_gate < r.timing_count) r.timing_last = p->next_gate > 0 ? gate_tic(p, p->next_gate - 1) : -1;
    r.timing_count = p->next_gate;
  }
}

void server_robot_state(const RaceServer *s, const ServerRobot *robot, StateRecord *out) {
  *out = StateRecord{};
  out->slot = robot->slot;
  out->tic = race_state().tic;
  const Slot *slot = race_slot(robot->gate_position);
  if (slot && slot->bike) out->state = pack_bike_state(slot->bike, race_pack_terrain());
  (void)s;
}

void server_robots_erode(const uint8_t *packet, int length) {
  if (!simulating) return;
  if (const Terrain *t = track_terrain()) erode_receive(t, packet, length);
}

void server_robots_stop(RaceServer *s) {
  if (simulating == s) {
    simulating = nullptr;
    set_erode_server_sink(nullptr);
    race_free_bikes();
  }
  clear_robots(s);
}
