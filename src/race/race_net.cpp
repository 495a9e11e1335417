#include "race/race_net.h"

#include <climits>
#include <cstring>

#include "app/alloc.h"
#include "app/config.h"
#include "bike/assembly.h"
#include "bike/bike.h"
#include "bike/crash.h"
#include "net/client.h"
#include "net/file_transfer.h"
#include "platform/log.h"
#include "race/race.h"
#include "race/race_replay.h"
#include "race/running_order.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "track/deform.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

// A remote timing index beyond this is not a lap anyone rides: ignored, so a
// bad message cannot make a timing list grow without end.
constexpr int remote_timing_index_limit = 100000;
// "Never updated": far enough back that a race tic minus it is always more
// than a second, and never overflows.
constexpr int never_updated = INT_MIN / 2;
// Our own erode packets come back from the server; the last ones sent are
// remembered by hash to tell them from the other riders'.
constexpr int sent_erode_memory = 256;

// Network-mode state of the race: lives for the process.
int start_order[max_slots];
RaceNetStats stats;
void (*chat_observer)(const char *text);
uint64_t sent_erodes[sent_erode_memory];
int sent_erode_next;

uint64_t packet_hash(const uint8_t *bytes, int length) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (int i = 0; i < length; i++) {
    h ^= bytes[i];
    h *= 0x100000001b3ull;
  }
  return h;
}

Slot *local_slot() {
  const RaceNetwork &n = race_network();
  return n.connected ? race_slot(n.local_slot) : nullptr;
}

// --- the hooks -------------------------------------------------------------------

int track_installed(const char *dir) {
  for (int i = 0; i < track_count(); i++)
    if (strcmp(track_dir(i), dir) == 0) return 1;
  return 0;
}

void send_erode(const uint8_t *packet, int length) {
  sent_erodes[sent_erode_next] = packet_hash(packet, length);
  sent_erode_next = (sent_erode_next + 1) % sent_erode_memory;
  stats.erodes_sent++;
  net_send_deformation(packet, length);
}

// The riders the server described go into their slots before the reset
// builds their bikes.
void take_remote_rider(int slot) {
  const RiderInfo *r = net_slot_rider(slot);
  Slot *s = race_slot(slot);
  if (!r || !s) return;
  s->bike_model = intern_string(r->bike[0] ? r->bike : "yz250f(2017)");
  s->name = intern_string(r->name);
  memcpy(s->number, r->number, sizeof s->number);
  s->number[sizeof s->number - 1] = 0;
  // Slot textures: rider body, helmet, bike graphics, wheels.
  const char *textures[4] = {r->rider_texture, r->head_texture, r->bike_texture, r->wheel_texture};
  for (int k = 0; k < 4; k++) s->textures[k] = textures[k][0] ? intern_string(textures[k]) : nullptr;
}

int reset_race(const NetRaceSetup *setup, uint8_t loaded_hash[track_hash_size]) {
  RaceNetwork &n = race_network();
  n.connected = 1;
  n.gate_position = setup->gate_position;
  n.gate_drop_tic = setup->gate_drop;
  n.local_slot = setup->my_slot;
  n.track = setup->track;
  // The server places only the local rider; the others are posed from their
  // histories, so their own start places do not matter.
  for (int i = 0; i < max_slots; i++) start_order[i] = i;
  if (setup->my_slot >= 0 && setup->my_slot < max_slots) start_order[setup->my_slot] = setup->gate_position;
  n.start_order = start_order;
  for (int &t : n.last_update_tic) t = never_updated;

  int kinds[max_slots] = {};
  for (int i = 0; i < max_slots; i++) {
    if (setup->kinds[i] == net_kind_local) {
      kinds[i] = slot_kind_human;
    } else if (setup->kinds[i] == net_kind_network) {
      kinds[i] = slot_kind_network;
      take_remote_rider(i);
    }
  }
  set_erode_server_sink(send_erode);
  stats.races++;
  // A server's race is recorded like a local one when "Record Demo" is on.
  int ok = race_reset(kinds, 0, game_settings().record.selected == 1, setup->duration, setup->laps,
                      game_settings().skill.selected);
  if (ok && track_hash()) memcpy(loaded_hash, track_hash(), track_hash_size);
  return ok;
}

void clear_histories() { clear_history(); }

int32_t race_tic_now() { return race_state().tic; }

void set_race_tic(int32_t tic) { race_state().tic = tic; }

int is_remote(int slot) {
  const Slot *s = race_slot(slot);
  return s && s->bike && s->drive_mode == drive_history ? 1 : 0;
}

void add_remote_state(int slot, int32_t tic, const PackedBikeState *state) {
  add_state_to_history(slot, *state, tic);
  race_network().last_update_tic[slot] = race_state().tic;
  stats.remote_states[slot]++;
}

int pack_local_state(PackedBikeState *out) {
  Slot *s = local_slot();
  if (!s || !s->bike) return 0;
  *out = pack_bike_state(s->bike, race_pack_terrain());
  return 1;
}

int local_timing(int *count, int32_t *last_tic) {
  Slot *s = local_slot();
  if (!s || !s->bike) return 0;
  *count = s->timing.next_gate;
  *last_tic = s->timing.next_gate > 0 ? gate_tic(&s->timing, s->timing.next_gate - 1) : -1;
  return 1;
}

void set_remote_timing(int slot, int index, int32_t tic) {
  Slot *s = race_slot(slot);
  if (!s || !s->bike || index < 0 || index >= remote_timing_index_limit) return;
  set_next_gate(&s->timing, index);
  gate_stamp(&s->timing, index, tic);
  set_next_gate(&s->timing, index + 1);
  stats.timing_received++;
}

void standings_changed() { update_running_order(); }

// Texts are cut to the record's fields.
void copy_text(char *to, int size, const char *from) {
  int n = 0;
  for (; from && from[n] && n < size - 1; n++) to[n] = from[n];
  to[n] = 0;
}

void local_rider(RiderInfo *out) {
  SetupSettings &setup = setup_settings();
  copy_text(out->bike, sizeof out->bike, choice_text(&setup.bike));
  copy_text(out->rider_texture, sizeof out->rider_texture, setup.rider_texture.text);
  copy_text(out->bike_texture, sizeof out->bike_texture, setup.bike_texture.text);
  copy_text(out->wheel_texture, sizeof out->wheel_texture, setup.wheel_texture.text);
  copy_text(out->head_texture, sizeof out->head_texture, setup.head_texture.text);
  copy_text(out->number, sizeof out->number, setup.number.text);
  copy_text(out->name, sizeof out->name, setup.name.text);
}

void apply_deformation(const uint8_t *packet, int length) {
  const Terrain *t = track_terrain();
  if (!t) return;
  erode_receive(t, packet, length);
  stats.erodes_received++;
  uint64_t h = packet_hash(packet, length);
  for (uint64_t sent : sent_erodes)
    if (sent == h) return;
  stats.erodes_foreign++;
}

void set_erosion(int amount) { race_state().erosion_rate = amount; }

void set_knockout(const int32_t extra[knockout_count]) {
  static_assert(knockout_count == extra_crash_time_slots, "one extra crash time per knockout value");
  for (int i = 0; i < knockout_count; i++) set_extra_crash_time(i, extra[i]);
}

void set_off_course(double bias, double scale) {
  RaceNetwork &n = race_network();
  n.off_course_bias = static_cast<float>(bias);
  n.off_course_scale = static_cast<float>(scale);
}

int arcade_off() {
  set_arcade_allowed(0);
  for (int i = 0; i < max_slots; i++) {
    Slot *s = race_slot(i);
    if (s->bike && s->drive_mode == drive_local) s->bike->arcade = 0;
  }
  return setup_settings().arcade.selected == 1;
}

void record_demo(int chunk_type, const uint8_t *data, int length) {
  if (chunk_type == chunk_chat) {
    stats.chat_received++;
    if (chat_observer) {
      char text[net_datagram_buffer_size];
      int n = length < net_datagram_max ? length : net_datagram_max;
      memcpy(text, data, static_cast<size_t>(n));
      text[n] = 0;
      chat_observer(text);
    }
  }
  if (demo_recording()) demo_write_event(chunk_type, data, length);
}

// The race goes on offline once the connection has ended.
void leave_network_mode() {
  RaceNetwork &n = race_network();
  n.connected = 0;
  n.gate_position = max_slots;
  n.start_order = nullptr;
  n.track = nullptr;
  set_erode_server_sink(nullptr);
  set_arcade_allowed(1);
  file_send_cancel();
  if (race_state().erosion_rate < 0) race_state().erosion_rate = 0;
}

}  // namespace

void race_connect_net() {
  NetHooks h = {};
  h.track_installed = track_installed;
  h.reset_race = reset_race;
  h.clear_histories = clear_histories;
  h.race_tic = race_tic_now;
  h.set_race_tic = set_race_tic;
  h.is_remote = is_remote;
  h.add_remote_state = add_remote_state;
  h.pack_local_state = pack_local_state;
  h.local_timing = local_timing;
  h.set_remote_timing = set_remote_timing;
  h.standings_changed = standings_changed;
  h.local_rider = local_rider;
  h.apply_deformation = apply_deformation;
  h.set_erosion = set_erosion;
  h.set_knockout = set_knockout;
  h.set_off_course = set_off_course;
  h.arcade_off = arcade_off;
  h.record_demo = record_demo;
  h.file_reply = file_send_reply;
  h.file_step = file_send_step;
  net_set_hooks(&h);
  race_net_reset_stats();
}

void race_net_tic(double now) {
  net_client_run(now);
  if (race_network().connected && !net_connected()) leave_network_mode();
}

void race_net_clear_slots() {
  RaceNetwork &n = race_network();
  for (int &t : n.last_update_tic) t = never_updated;
}

void race_net_remote_update(int slot) {
  Slot *s = race_slot(slot);
  if (s && s->bike) bike_decay_activity(s->bike);
}

int race_net_hidden(int slot) {
  const RaceNetwork &n = race_network();
  if (!n.connected || slot == n.local_slot) return 0;
  const RaceState &race = race_state();
  const Slot *s = race_slot(slot);
  if (!s || s->drive_mode != drive_history) return 0;
  if (race.tic - n.last_update_tic[slot] >= tics_per_second) return 1;
  const Slot *own = race_slot(n.local_slot);
  bool rule = race.tic >= race.gate_drop_tic + static_cast<int>(n.off_course_bias * tics_per_second) &&
              race.running_count >= 2 && own && own->bike && own->timing.next_gate > 0 &&
              !rider_finished(n.local_slot) && !off_course(n.local_slot);
  return rule && (rider_finished(slot) || s->timing.next_gate == 0 || off_course(slot)) ? 1 : 0;
}

const RaceNetStats &race_net_stats() { return stats; }

void race_net_reset_stats() {
  stats = RaceNetStats{};
  for (uint64_t &h : sent_erodes) h = 0;
  sent_erode_next = 0;
}

void race_net_set_chat_observer(void (*observer)(const char *text)) { chat_observer = observer; }
