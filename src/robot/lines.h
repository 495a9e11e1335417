// Recorded lines: the paths riders took between consecutive unmarked timing
// gates, sampled four times a second, kept in a table of 45 records per slot
// position, rated by the robots that ride them, thinned when crowded and
// stored per track in one file per skill level.
#pragma once
#include "app/types.h"
#include "track/gates.h"

struct BikeState;

constexpr int lines_per_slot = 45;
constexpr int max_line_slots = max_lap_entries;
constexpr int line_untimed = 1000000;
constexpr int line_never_picked = -999999;
constexpr int line_sample_tics = 32;  // four points a second
constexpr int line_skill_count = 3;
constexpr int line_mode_count = 3;  // modes with a best-line row
static_assert(lines_per_slot == 45 && max_line_slots >= 2);

struct LinePoint {
  float x, y, z;
  float speed;  // negative while both wheels are off the ground
  float lean;
};
static_assert(sizeof(LinePoint) == 20);

struct Line {
  LinePoint *points;  // owned
  int point_count;    // 0: empty record
  int time1, time2;   // tics
  int tested;
  int best1, best2;
  int sum1, sum2;
  int failed;
  int last_picked;  // tic
  int serial;
};

// --- The table -------------------------------------------------------------------
// Slot positions j + k of the current gates; 0 when the gates are not in force.
int line_slot_count();
int first_lap_slots();  // j
// Number of unmarked entries before sequence position p.
int line_slot(int p);
// A slot count folded into the lap cycle (j + (m - j) mod k past the first lap).
int fold_line_slot(int m);
Line *line_record(int slot, int index);  // null outside the table
int line_in_use_count(int slot);
// Expected time (tics) used to decide which records to keep.
int line_expected_time(const Line *line);
// Empties every record and sizes the table for the current gates.
void clear_lines();
// Serial of the best chain's line at slot position `slot` for `mode` (0..2), 0 when none.
int best_line_serial(int mode, int slot);

// --- Files -------------------------------------------------------------------------
// Line learning ("--learn"): off by default; save_lines writes only while on.
void set_line_learning(int on);
int line_learning();
void set_autopilot_debug(int on);
int autopilot_debug();
// level 0 novice, 1 amateur, 2 expert; anything else: none.
void load_lines(int level);
void save_lines(int level);
// The file parsers, also used by the loaders above. Return 0 when the file
// does not fit the current gates (and leave the table alone).
int read_lines_text(const char *text, long length);
int write_lines_file(const char *path);

// --- Per bike ------------------------------------------------------------------------
// Every tic for a locally simulated bike after its gate check.
void record_lines(int slot);
// Forgets the bike's recording state (a new race or a new bike in the slot).
void reset_line_recorder(int slot);
void cancel_line(int slot);
// Serials of the lines a robot picked for its last four slot positions.
int *picked_serials(int slot);
// A point ahead on the lines for realigning a fallen rider.
void line_target(int slot, float out[3]);

// --- Planning --------------------------------------------------------------------------
// Cost (tics) of a line in planning mode 0..3.
double line_cost(const Line *line, int mode);
// 1 when line b (of the following slot) carries on from line a.
int lines_connect(const Line *a, const Line *b);
// The centre of the circle through three points in the ground plane.
void reference_point(const LinePoint &a, const LinePoint &b, const LinePoint &c, float out[3]);
// For each line of slot `first` the lowest total cost of a chain of connected
// lines through `count` slots (costs[45]); chain[45 * count] holds each chain's
// record indices (-1 where it breaks). Unused lines cost line_untimed * count.
void plan(int first, int count, int mode, double costs[lines_per_slot], int *chain);
// Thins crowded slots and computes the best chains.
void analyse_lines();
