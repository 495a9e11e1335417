// Timing gates: the starting grid, the checkpoints and the first-lap and
// normal-lap lists, and each bike's progress through them.
//
// A bike's progress is a position p in an endless sequence: 0 ... F - 1 are
// the first lap's entries; p >= F is the normal-lap entry
// F + (p - F) mod N. The last gate of lap k (k >= 1) is F - 1 + N * (k - 1).
#pragma once
#include "app/types.h"

struct DataFile;

constexpr int max_grid_positions = max_slots;
constexpr int max_checkpoints = 256;
constexpr int max_lap_entries = 256;  // first-lap and normal-lap lists together
// An entry plus this is timed like any other but does not end a recorded
// robot line segment.
constexpr int gate_marker = 100000;

struct GridPosition {
  float x, y, z;
  float angle;  // -pi ... pi
  int statue;   // index of its start-gate statue, -1 when none
  const char *model, *texture, *shape;  // interned; null for "null"
};

struct Checkpoint {
  float gate_radius;
  float gate_centre[3];
  float gate_direction[3];  // only x and z are used
  int mark;                 // runtime: a flagger waves at it
};

struct TimingGates {
  GridPosition grid[max_grid_positions];
  int grid_count;
  Checkpoint checkpoints[max_checkpoints];
  int checkpoint_count;
  int lap_entries[max_lap_entries];  // first-lap list, then normal-lap list
  int first_lap_count, normal_lap_count;
  int first_lap_unmarked, normal_lap_unmarked;
  int gate_count;  // checkpoints when the gates are in force, else 0
};

// A bike's progress; lives in the bike record and is freed with it.
struct GateProgress {
  int next_gate;    // sequence position of the next gate to pass
  int *gate_tics;   // tic each position was passed, -1 when skipped
  int gate_tic_count;
  int gate_tic_capacity;
  int finished;
};

// The gates of the current track (read-only for everyone else).
const TimingGates *timing_gates();
Checkpoint *timing_checkpoint(int index);
// Forgets every gate: the track then has no timing gates.
void timing_gates_reset();
// Reads an open "timing_gates" file (resets first). Start-gate statues are
// added when add_statues is set.
void timing_gates_read(DataFile *file, int add_statues);
// Opens and reads the file; a missing file leaves the track without gates.
void load_timing_gates(const char *path);

// Checkpoint index at sequence position p (marker removed); -1 without gates.
int gate_at_position(int p);
// 1 when the entry at position p carries the marker.
int gate_is_marked(int p);
// 1 when position p is the last gate of a lap.
int gate_ends_lap(int p);

// The per-tic test for one locally simulated bike: (x, z) is its front
// wheel's horizontal position, race_laps the race's lap count and
// leader_next_gate the highest next_gate of all bikes. Returns the sequence
// position passed this tic, or -1.
int check_gates(GateProgress *progress, float x, float z, int tic, int race_laps, int leader_next_gate);
int lap_of(const GateProgress *progress);
// Seconds of lap k (1 = from the gate drop); 0 when a stamp is missing.
float lap_time(const GateProgress *progress, int k, int gate_drop_tic);
// Places the bike at position p and forgets every stamp from p on.
void set_next_gate(GateProgress *progress, int p);
// Stamps position p with tic, filling skipped positions with -1.
void gate_stamp(GateProgress *progress, int p, int tic);
// Stamp of position p, -1 when none.
int gate_tic(const GateProgress *progress, int p);
void gate_progress_clear(GateProgress *progress);
void gate_progress_free(GateProgress *progress);
