#include "runner/runner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/config.h"
#include "app/types.h"
#include "assets/file.h"
#include "bike/assembly.h"
#include "bike/catalogue.h"
#include "bike/crash.h"
#include "race/race.h"
#include "replay/history.h"
#include "robot/autopilot.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

float height_at(const void *terrain, float x, float z) {
  return terrain_height(static_cast<const Terrain *>(terrain), x, z);
}

PackTerrain pack_terrain() {
  const Terrain *t = track_terrain();
  if (!t) return PackTerrain{1024.0f, 0.0f, nullptr, nullptr};
  return PackTerrain{t->extent, t->min_height, height_at, t};
}

// Driver tuning: a steady pace that the bike holds in most corners.
constexpr float cruise_speed = 25;      // ft/s on a straight
constexpr float corner_speed = 12;      // ft/s when the gate is behind
constexpr double steer_gain = 1.5;      // input per radian of heading error
constexpr double max_steer = 0.3;
constexpr int clutch_ramp_tics = 32;    // engaged over a quarter second

}  // namespace

uint64_t hash_bytes(uint64_t hash, const void *data, int length) {
  const uint8_t *p = static_cast<const uint8_t *>(data);
  for (int i = 0; i < length; i++) {
    hash ^= p[i];
    hash *= 0x100000001b3ull;
  }
  return hash;
}

PackedBikeState runner_pack(const BikeState *bike) { return pack_bike_state(bike, pack_terrain()); }

// The recorded state of a history-driven slot at exactly that tic, else the
// bike's own packed pose.
PackedBikeState slot_state(int slot, const BikeState *bike, int history_tic) {
  const HistoryRing *ring = history_ring(slot);
  if (history_tic >= 0 && ring)
    for (const HistoryEntry &e : ring->entries)
      if (e.tic == history_tic) return e.state;
  return runner_pack(bike);
}

uint64_t bikes_position_hash(uint64_t hash) {
  for (int i = 0; i < max_slots; i++) {
    const Slot *s = race_slot(i);
    if (!s->bike) continue;
    int32_t slot = i;
    PackedBikeState packed = runner_pack(s->bike);
    hash = hash_bytes(hash, &slot, sizeof slot);
    hash = hash_bytes(hash, packed.bytes, 9);        // frame position
    hash = hash_bytes(hash, packed.bytes + 20, 6);   // rider offset
  }
  return hash;
}

uint64_t bikes_state_hash(uint64_t hash, int history_tic) {
  for (int i = 0; i < max_slots; i++) {
    const Slot *s = race_slot(i);
    if (!s->bike) continue;
    int32_t slot = i;
    PackedBikeState packed = slot_state(i, s->bike, history_tic);
    hash = hash_bytes(hash, &slot, sizeof slot);
    hash = hash_bytes(hash, packed.bytes, packed_bike_state_size);
  }
  return hash;
}

uint64_t race_state_hash(int history_tic) {
  uint64_t hash = bikes_state_hash(state_hash_start, history_tic);
  const Terrain *t = track_terrain();
  if (t) {
    long count = static_cast<long>(t->verts_per_side) * t->verts_per_side;
    for (long k = 0; k < count; k += 4096) {
      long n = std::min(4096L, count - k);
      hash = hash_bytes(hash, t->heights + k, static_cast<int>(n * sizeof(float)));
    }
  }
  return hash;
}

int runner_open_data(const char *home) {
  if (home) {
    setenv("XDG_DATA_HOME", home, 1);
    file_layer_reset_for_tests();
  }
  home_prepare();
  {
    const char *names[max_bike_names];
    int count = 0;
    for (int i = 0; i < bike_info_count && count < max_bike_names; i++) names[count++] = bike_info_name(i);
    set_bike_names(names, count);
  }
  config_set_defaults();
  game_settings().demo_backups = 0;
  file_list();
  if (scan_tracks() == 0) {
    fprintf(stderr, "No tracks found\n");
    return 0;
  }
  const char *dirs[max_track_names];
  int count = 0;
  for (int i = 0; i < track_count() && count < max_track_names; i++) dirs[count++] = track_dir(i);
  set_track_names(dirs, count);
  physics_world_create();
  install_crash_hooks();  // as the game's start-up does
  return 1;
}

void simple_driver_tic(int slot) {
  Slot *s = race_slot(slot);
  if (!s || !s->bike) return;
  BikeState *bike = s->bike;
  const RaceState &race = race_state();
  // The aids a robot rides with: no wheelies or stoppies, antilock brakes,
  // automatic shifting.
  bike->aid_flags |= aid_stop_wheelie | aid_stop_stoppie | aid_front_antilock | aid_rear_antilock | aid_auto_shift;
  bike_set_lean(bike, 0);
  bike_set_back_up(bike, 0);
  if (race.tic < race.gate_drop_tic) {
    bike_set_throttle(bike, 0);
    bike_set_clutch(bike, 0);
    bike_set_front_brake(bike, 1);
    bike_set_rear_brake(bike, 1);
    bike_set_dab(bike, 1);
    bike_set_steer(bike, 0);
    return;
  }
  float engaged = std::clamp(static_cast<float>(race.tic - race.gate_drop_tic) / clutch_ramp_tics, 0.0f, 1.0f);
  bike_set_clutch(bike, engaged);
  bike_set_dab(bike, 1 - engaged);

  dBodyID frame = bike->bodies[bike_frame];
  const dReal *p = dBodyGetPosition(frame);
  const dReal *r = dBodyGetRotation(frame);
  // The frame faces its own -z axis; its right is +x.
  double fx = -r[2], fz = -r[10];
  double dx = fx, dz = fz;
  int gate = gate_at_position(s->timing.next_gate);
  const TimingGates *gates = timing_gates();
  if (gate >= 0 && gate < gates->checkpoint_count) {
    dx = gates->checkpoints[gate].gate_centre[0] - p[0];
    dz = gates->checkpoints[gate].gate_centre[2] - p[2];
  }
  double flat = std::sqrt(fx * fx + fz * fz);
  if (flat > 1e-6) {
    fx /= flat;
    fz /= flat;
  }
  // Right of the heading is (-fz, 0, fx); the target in the bike's terms.
  double a = -dx * fz + dz * fx, f = dx * fx + dz * fz;
  double error = std::atan2(-a, f);  // positive: the target is to the left

  const dReal *v = dBodyGetLinearVel(frame);
  float speed = static_cast<float>(std::sqrt(v[0] * v[0] + v[2] * v[2]));
  // The steering model turns the input into a lean target, so the input
  // follows the heading error; measured on the default bikes, positive input
  // turns toward the right of the heading.
  double steer = std::clamp(-error * steer_gain, -max_steer, max_steer);
  // Upright and straight until the bike is rolling.
  if (speed < 10) steer *= std::max(0.0f, speed - 5) / 5;
  bike_set_steer(bike, static_cast<float>(steer));

  float wanted = corner_speed + (cruise_speed - corner_speed) * static_cast<float>(std::max(0.0, std::cos(error)));
  bike_set_throttle(bike, std::clamp((wanted - speed) * 0.1f, 0.0f, 0.8f));
  float brake = std::clamp((speed - wanted - 4) * 0.25f, 0.0f, 1.0f);
  bike_set_front_brake(bike, brake);
  bike_set_rear_brake(bike, brake);
}

void runner_robot_rider_tic(const char *personality) {
  const RaceNetwork &n = race_network();
  Slot *s = race_slot(n.connected ? n.local_slot : race_state().viewed_slot);
  if (!s || !s->bike || s->drive_mode != drive_local) return;
  // Every race reset clears the auto pilots: the rider takes its seat again.
  if (personality_of(s->bike->slot) == 0) set_personality(s->bike, personality);
  auto_pilot(s->bike);
}
