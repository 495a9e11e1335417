// Race control: the slot table, the race reset that loads the track and puts
// the riders on the start line, the per-tic race step in its fixed order,
// the falling start gates, the online false-start rule and the time trial.
#pragma once
#include "app/types.h"
#include "track/gates.h"

struct BikeState;

// Slot kinds given to the reset (the gate settings use the first five).
constexpr int slot_kind_empty = 0;
constexpr int slot_kind_human = 1;
constexpr int slot_kind_robot = 2;
constexpr int slot_kind_robot_two_stroke = 3;
constexpr int slot_kind_robot_four_stroke = 4;
constexpr int slot_kind_network = 5;
constexpr int slot_kind_numbered_robot = 1000;  // + rider number

// Drive modes.
constexpr int drive_local = 0;
constexpr int drive_history = 1;
constexpr int drive_robot = 2;

constexpr int unknown_lap = 1000000;
constexpr int five_seconds = 640;
constexpr int time_trial_start_tic = 38400;  // 300 s: the gate drop is long past
constexpr int max_rider_number_length = 3;
constexpr int max_start_gates = max_grid_positions;
// A gate that keeps falling for more than this after the drop is left alone.
constexpr int start_gate_active_tics = 10 * tics_per_second;

struct Slot {
  BikeState *bike;  // none when empty
  int drive_mode;
  int kind;
  const char *name;  // interned
  char number[max_rider_number_length + 1];
  const char *bike_model;    // interned
  const char *textures[4];   // rider body, helmet, bike graphics, wheels; null = default
  const char *personality;   // robots
  GateProgress timing;       // freed with the bike
  float start_position[3];
  float start_angle;
  int penalty_counter;       // false start, tics left
};

struct StartGate {
  float angle;  // 1 = up, 0 = down
  float speed;
};

struct RunningEntry {
  int slot;
  int position;  // timing position (next_gate)
  int tic;       // tic of its latest timing, 0 when none
  int penalty;   // final results: cutting penalty in tics still added to tic
};

// What the network client tells the race; all zero offline.
struct RaceNetwork {
  int connected;
  int gate_position;  // the local rider's start position; 160 = only watching
  int gate_drop_tic;
  int local_slot;
  const char *track;   // the server's track
  const int *start_order;  // per slot its start position index, or null
  float off_course_bias;   // seconds; 10 when unset
  float off_course_scale;  // 1.5 when unset
  int last_update_tic[max_slots];  // tic of the server's latest state per slot
};

struct RaceState {
  int tic;
  int gate_drop_tic;
  int finish_time;  // tics, 0 = laps only
  int finish_laps;
  int final_lap;
  int halfway_lap;
  int first_lap_length, normal_lap_length;
  int start_gate_count;
  RunningEntry running_order[max_slots];
  int running_count;
  int results_final;
  int time_trial;
  int erosion_rate;  // 1/1024 units; -1 when the server decides
  int best_lap, last_lap;  // time trial, tics
  int viewed_slot;
  int skill;
  int from_demo;
  int record;
  StartGate start_gates[max_start_gates];
  // Time trial: lap counters noted at the start of the step.
  int rider_laps_before, ghost_laps_before;
};

// Command-line choices the race uses; set once at start-up.
struct RaceOptions {
  int practice;       // every robot rides as "tester"
  int erode_rate;     // 1/1024 units, -1 unset (0)
  int rotate_lineup;  // gate rotation after a New Race reset
  // Called at the end of every reset that loaded its track, still behind the
  // loading screen: the game draws one frame nobody sees, so the first frame
  // shown does not pay for composing the ground and compiling drawing state.
  void (*prepare_first_frame)();
};

RaceState &race_state();
RaceNetwork &race_network();
RaceOptions &race_options();
Slot *race_slot(int slot);  // null outside 0..159
int race_tic();
// "forcereload": the next race reset loads the track from disk again.
void race_request_track_reload();
// The suspension graph ("togglegraph"): while on, the race step samples the
// viewed bike's suspension for the HUD's graph.
int suspension_graph_on();
void set_suspension_graph(int on);

// Returns 0 when the track could not be loaded. `slot_kinds` holds max_slots
// entries, or is null for a time trial. `finish_time` in tics.
int race_reset(const int *slot_kinds, int from_demo, int record, int finish_time, int laps, int skill);
// One tic.
void race_step();
// Frees the bikes (and sound channels) of every slot.
void race_free_bikes();
// The "New Race" rotation: gate g's kind moves to (g + count) mod 160 and the
// first forty are written back to the gate settings.
void rotate_lineup(int count);
// The "New Race" menu entry: a reset from the gate settings followed by the
// lineup rotation. Returns race_reset's result.
int race_new_from_settings();
// Warp mode (once per frame outside the title view): when the leader has run
// the race's laps, shift every slot kind one place on and reset with the
// configured settings. Returns 1 when it reset.
int race_warp_check();
// Time trial: puts the rider back for a flying start (also on back up).
void time_trial_start_attempt();
// The local rider's false-start rule for one tic (network races).
void false_start_step(int slot);
// Moves a whole bike so its frame stands at (x, z), turned to `angle`, on
// the ground (raised by 0.25 until it touches nothing).
void place_bike(BikeState *bike, float x, float z, float angle);
