#include "replay/history.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "platform/log.h"
#include "replay/demo.h"

namespace {

static_assert(history_length == 128, "the writer and the lookups assume 128-entry rings");

// The rings and settings live for the process; the rings are emptied at
// every race reset and seek.
struct History {
  HistoryRing rings[max_slots];
  ReplayRace race;
  int accurate_skip;
  int version;
};

History history = {{}, {}, 0, 5};
bool rings_ready = false;

void clear_ring(HistoryRing *ring) {
  for (HistoryEntry &e : ring->entries) {
    e.tic = -1;
    memset(e.state.bytes, 0, sizeof e.state.bytes);
  }
  ring->head = 0;
  ring->pending = 0;
}

HistoryRing *ring_of(int slot) {
  if (slot < 0 || slot >= max_slots) return nullptr;
  if (!rings_ready) clear_history();
  return &history.rings[slot];
}

// Ring index of the entry k steps older than the head.
int back(const HistoryRing *ring, int k) { return (ring->head - k + 2 * history_length) % history_length; }

// --- field codecs of the packed state -------------------------------------------

uint32_t get(const uint8_t *in, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; i--) v = v << 8 | in[i];
  return v;
}
void put(uint8_t *out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; i++) out[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t max_of(int bytes) { return bytes == 3 ? 16777215u : bytes == 2 ? 65535u : 255u; }

double clamp01(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

uint32_t encode_fraction(double r, int bytes) {
  return static_cast<uint32_t>(std::floor(clamp01(r) * max_of(bytes) + 0.5));
}

void blend_ranged(uint8_t *out, const uint8_t *a, const uint8_t *b, int offset, int bytes, double f,
                  uint32_t ignore_mask = 0) {
  double m = max_of(bytes);
  double x = (get(a + offset, bytes) & ~ignore_mask) / m, y = (get(b + offset, bytes) & ~ignore_mask) / m;
  put(out + offset, encode_fraction(x + f * (y - x), bytes) & ~ignore_mask, bytes);
}

void blend_quaternion(uint8_t *out, const uint8_t *a, const uint8_t *b, int offset, double f) {
  double p[4], q[4], dot = 0;
  for (int i = 0; i < 4; i++) {
    p[i] = 2 * (get(a + offset + 2 * i, 2) / 65535.0) - 1;
    q[i] = 2 * (get(b + offset + 2 * i, 2) / 65535.0) - 1;
    dot += p[i] * q[i];
  }
  if (dot < 0)
    for (double &c : p) c = -c;
  double g = f > 1 ? 1 : f, r[4], norm = 0;
  for (int i = 0; i < 4; i++) {
    r[i] = p[i] + g * (q[i] - p[i]);
    norm += r[i] * r[i];
  }
  if (norm < 1e-12) {  // opposite garbage quaternions: keep the newer one
    memcpy(out + offset, b + offset, 8);
    return;
  }
  norm = std::sqrt(norm);
  for (int i = 0; i < 4; i++) {
    double c = r[i] / norm;
    c = c < -1 ? -1 : c > 1 ? 1 : c;
    put(out + offset + 2 * i, static_cast<uint32_t>(std::floor((c + 1) * 0.5 * 65535 + 0.5)), 2);
  }
}

// Wheel angles are fractions of a turn; a wheel may turn back by up to an
// eighth of a turn between snapshots, anything else wraps forward.
void blend_wheel(uint8_t *out, const uint8_t *a, const uint8_t *b, int offset, double f) {
  double x = a[offset] / 255.0, y = b[offset] / 255.0;
  if (y < x - 0.125) x -= 1;
  if (y > x + 0.875) y -= 1;
  double r = x + f * (y - x);
  if (r < 0) r += 1;
  out[offset] = static_cast<uint8_t>(encode_fraction(r, 1));
}

const PackedBikeState &state_at(const HistoryRing *ring, int index) { return ring->entries[index].state; }

}  // namespace

void replay_set_race(const ReplayRace &race) { history.race = race; }
const ReplayRace &replay_race() { return history.race; }
void history_set_accurate_skip(int on) { history.accurate_skip = on ? 1 : 0; }
void history_set_version(int version) { history.version = version; }
int history_version() { return history.version; }

void clear_history() {
  for (HistoryRing &ring : history.rings) clear_ring(&ring);
  rings_ready = true;
}

const HistoryRing *history_ring(int slot) { return ring_of(slot); }

int history_newest_tic(int slot) {
  const HistoryRing *ring = ring_of(slot);
  return ring ? ring->entries[ring->head].tic : -1;
}

void history_take_pending(int slot) {
  if (HistoryRing *ring = ring_of(slot)) ring->pending = 0;
}

// Entries normally arrive newest last. An older one (only the network sends
// them out of order) is inserted in stamp order; the oldest entry makes room.
// It counts as pending only when no entry the writer already took is newer,
// so a demo never holds a rider's entries out of order.
void add_state_to_history(int slot, const PackedBikeState &state, int tic) {
  HistoryRing *ring = ring_of(slot);
  if (!ring) {
    print_message("add_state_to_history: slot out of range");
    return;
  }
  if (tic < 0) return;  // -1 marks empty entries
  int k = 0;
  for (; k < history_length; k++) {
    int stamp = ring->entries[back(ring, k)].tic;
    if (stamp == tic) return;  // a state for that tic is already held
    if (stamp < tic) break;     // also reached at an empty entry
  }
  if (k == history_length) return;  // older than everything in a full ring
  int new_head = (ring->head + 1) % history_length;
  for (int j = 0; j < k; j++) {
    int from = back(ring, j);
    ring->entries[(from + 1) % history_length] = ring->entries[from];
  }
  HistoryEntry &e = ring->entries[(new_head - k + history_length) % history_length];
  e.tic = tic;
  e.state = state;
  ring->head = new_head;
  if (k <= ring->pending) ring->pending = ring->pending < history_length ? ring->pending + 1 : history_length;
}

int history_bracket(int slot, int tic, int *older, int *newer) {
  const HistoryRing *ring = ring_of(slot);
  if (!ring || ring->entries[ring->head].tic < 0) return 0;
  if (tic < 0) tic = 0;
  int found = -1, oldest = 0;
  for (int k = 0; k < history_length; k++) {
    int stamp = ring->entries[back(ring, k)].tic;
    if (stamp < 0) break;
    oldest = k;
    if (stamp < tic) {
      found = k;
      break;
    }
  }
  if (found == 0) {  // every entry is older than the tic: run on from the head
    *newer = ring->head;
    *older = ring->entries[back(ring, 1)].tic >= 0 ? back(ring, 1) : ring->head;
  } else if (found > 0) {
    *older = back(ring, found);
    *newer = back(ring, found - 1);
  } else {  // nothing older than the tic: start from the oldest entry
    *older = back(ring, oldest);
    *newer = back(ring, oldest > 0 ? oldest - 1 : 0);
  }
  return 1;
}

PackedBikeState interpolate_packed(const PackedBikeState &older, const PackedBikeState &newer, double f) {
  if (f == 0) return older;
  PackedBikeState out = older;
  const uint8_t *a = older.bytes, *b = newer.bytes;
  uint8_t *o = out.bytes;
  for (int offset : {0, 3, 6}) blend_ranged(o, a, b, offset, 3, f);
  blend_quaternion(o, a, b, 9, f);
  blend_ranged(o, a, b, 17, 1, f);
  blend_ranged(o, a, b, 18, 1, f);
  blend_ranged(o, a, b, 19, 1, f, 1);  // bit 0 of the fork byte is reserved
  for (int offset : {20, 22, 24}) blend_ranged(o, a, b, offset, 2, f);
  blend_quaternion(o, a, b, 26, f);
  blend_wheel(o, a, b, 34, f);
  blend_wheel(o, a, b, 35, f);
  o[36] = a[36];
  blend_ranged(o, a, b, 37, 2, f);
  o[18] &= 0xfe;  // interpolated, not packed from a bike
  return out;
}

void pose_from_history(int slot, int tic) {
  const ReplayRace &race = history.race;
  int older, newer;
  if (!race.slot_bike || !history_bracket(slot, tic, &older, &newer)) return;
  BikeState *bike = race.slot_bike(slot);
  if (!bike) return;
  if (tic < 0) tic = 0;
  const HistoryRing *ring = ring_of(slot);
  int a = ring->entries[older].tic, b = ring->entries[newer].tic;
  const PackedBikeState &old_state = state_at(ring, older), &new_state = state_at(ring, newer);
  PackedBikeState now = old_state;
  // Velocities always span the two entries, also before the first one, so a
  // rider waiting for its history does not show a speed n times too high.
  int n = a != b ? b - a : 1;
  if (a < tic && a != b) {
    if (tic == b) {
      now = new_state;
    } else {
      int until = tic < b + history_extrapolate_tics ? tic : b + history_extrapolate_tics;
      double f = static_cast<double>(until - a) / n;
      now = history.version == 4 ? old_state : interpolate_packed(old_state, new_state, f);
    }
  }
  PackTerrain terrain = race.pack_terrain ? race.pack_terrain() : PackTerrain{};
  unpack_bike_state_moving(bike, old_state, new_state, now, n, terrain);
}

int history_hidden(int slot) {
  const ReplayRace &race = history.race;
  if (slot < 0 || slot >= max_slots) return 1;
  BikeState *bike = race.slot_bike ? race.slot_bike(slot) : nullptr;
  if (!bike) return 1;
  int mode = race.slot_drive_mode ? race.slot_drive_mode(slot) : 0;
  int phase = race.network_phase ? race.network_phase() : 0;
  if (mode != 1) {
    int viewed = race.viewed_slot ? *race.viewed_slot : -1;
    return phase == 1 && mode == 0 && slot != viewed;
  }
  int tic = race.tic ? *race.tic : 0;
  // Warm-up riders are posed a second late; judge them at the tic they show.
  if (phase == 1) tic -= tics_per_second - 1;
  if (tic < 0) tic = 0;
  int older, newer;
  if (!history_bracket(slot, tic, &older, &newer)) return 1;
  const HistoryRing *ring = ring_of(slot);
  if (tic < ring->entries[older].tic - history_hide_tics) return 1;
  if (tic > ring->entries[newer].tic + history_hide_tics) return 1;
  return race.network_hidden && race.network_hidden(slot) ? 1 : 0;
}

int seek_playback(int seconds) {
  const ReplayRace &race = history.race;
  if (!demo_playing() || demo_recording()) return 0;
  if (!race.tic || !race.race_step || !race.slot_bike || !race.slot_drive_mode) return 0;
  for (int s = 0; s < max_slots; s++)
    if (race.slot_bike(s) && race.slot_drive_mode(s) != 1) return 0;
  int x = seconds < 0 ? -1 : 1;
  int before = *race.tic;
  if (x > 0 && (demo_version() == 6 || history.accurate_skip)) {
    // Simulating keeps every deformation event in its place.
    float density = race.roost_density ? *race.roost_density : 0;
    if (race.roost_density) *race.roost_density = 0;
    for (int i = 0; i < tics_per_second && *race.tic < before + tics_per_second; i++) race.race_step();
    if (race.roost_density) *race.roost_density = density;
    return 1;
  }
  int target = before + tics_per_second * x - 1;
  if (target < 0) target = 0;
  demo_seek_reader(target);
  if (target < before && race.cut_timing) {
    int cut = 0;
    for (int s = 0; s < max_slots; s++)
      if (race.slot_bike(s) && race.cut_timing(s, target)) cut = 1;
    if (cut && race.results_final) *race.results_final = 0;
    if (race.update_running_order) race.update_running_order();
  }
  *race.tic = target;
  clear_history();
  demo_read_ahead();
  race.race_step();
  return 1;
}
