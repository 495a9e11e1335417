// Per-slot state history: rings of tic-stamped packed bike states that drive
// the riders not simulated here (demo riders, remote riders), posing them by
// interpolation, hiding them when their history runs dry, and seeking a
// played demo by whole seconds.
#pragma once
#include <cstdint>

#include "app/types.h"
#include "bike/bike.h"

constexpr int history_length = 128;  // entries per ring: 4 s at one entry per 4 tics
constexpr int history_extrapolate_tics = 64;  // posing runs at most this far past the newest entry
constexpr int history_hide_tics = 128;        // a rider this far outside its entries is hidden

struct HistoryEntry {
  int32_t tic;  // -1 = empty
  PackedBikeState state;
};

// Ordered by stamp from oldest to newest ending at the head; empty entries
// only before the oldest.
struct HistoryRing {
  HistoryEntry entries[history_length];
  int head;     // index of the newest entry
  int pending;  // entries added since the demo writer last took them, 0..128
};

// What history and demos need of the race. The race module fills one record
// at start-up and hands it to replay_set_race; every pointer may be null
// (the piece that needs it then does nothing). Drive modes as the slot table
// has them: 0 simulated here, 1 driven from history, 2 robot.
struct ReplayRace {
  int *tic;              // the tic counter
  int *results_final;
  int *gate_drop_tic;
  int *finish_time;      // tics, 0 = laps only
  int *finish_laps;
  int *erosion_rate;     // 1/1024 units, -1 when the server decides
  int *time_trial;
  int *viewed_slot;
  BikeState *(*slot_bike)(int slot);
  int (*slot_drive_mode)(int slot);
  // Rider texts for a demo header; any may be left null (written empty).
  // textures: rider body, helmet, bike graphics, wheels.
  void (*slot_rider)(int slot, const char **bike_model, const char *textures[4], const char **number,
                     const char **name);
  const char *(*track_name)();  // the loaded track's directory name, null when none
  PackTerrain (*pack_terrain)();
  // Online: 0 offline; 1 in a network warm-up; 2 in a network race proper.
  int (*network_phase)();
  // Online hiding rules (server silence, off course); null offline.
  int (*network_hidden)(int slot);
  // Seeking.
  void (*race_step)();
  // Cuts the slot's timing list back until its last entry is a stamp no
  // later than tic; returns 1 when anything was cut.
  int (*cut_timing)(int slot, int tic);
  void (*update_running_order)();
  float *roost_density;
  // One terrain deformation (erode) packet read from a demo, with the race
  // tic at which it was made (the demo is read ahead of the clock).
  void (*erode_receive)(const uint8_t *packet, int length, int tic);
};

// Installs the race interface (copied). Lives for the process.
void replay_set_race(const ReplayRace &race);
const ReplayRace &replay_race();
// "--accurate-skip": skipping forward simulates instead of seeking.
void history_set_accurate_skip(int on);

// Format version that states are interpreted in: 5 online and by default,
// the played demo's version (4, 5 or 6) during playback.
void history_set_version(int version);
int history_version();

// Adds one entry; a slot outside 0..159 is reported and ignored, a tic
// already held keeps the first state. Older entries are inserted in order.
void add_state_to_history(int slot, const PackedBikeState &state, int tic);
// Poses the slot's bike for the tic from its history (nothing without one).
void pose_from_history(int slot, int tic);
// Whether the slot's rider is not to be shown (nor heard).
int history_hidden(int slot);
// Skips (+1) or rewinds (-1) a played demo by one second. Returns 1 when it
// moved; refused silently while recording, without playback, or while any
// rider is simulated here.
int seek_playback(int seconds);
// Empties every ring.
void clear_history();

// Read access for the demo writer, the network client and tests.
const HistoryRing *history_ring(int slot);  // null outside 0..159
int history_newest_tic(int slot);           // -1 when empty
void history_take_pending(int slot);        // the writer took them

// The bracketing entries for posing at tic (raised to 0 when negative), as
// ring indices; returns 0 when the ring is empty.
int history_bracket(int slot, int tic, int *older, int *newer);

// Blends two packed states at fraction f (0 gives `older` unchanged);
// f above 1 extrapolates, clamped to each field's range. The result is
// marked as interpolated (lowest bit of byte 18 clear).
PackedBikeState interpolate_packed(const PackedBikeState &older, const PackedBikeState &newer, double f);
