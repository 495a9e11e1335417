// The head-up display drawn over the view: the rider gauges (suspension
// graph, tachometer, gear, pitboard with the lapping warning, rider name,
// lean indicator, track map, race title), the text HUD (results table,
// frame rate, race time, ping, speed, renderer statistics, the dab notice,
// message lines) and the broadcast overlay of the trackside view.
//
// Every layer reads the game's state and changes nothing in it. Layers draw
// in overlay space (unit distance in front of the camera, +-xext across,
// +-yext up and down) or in text frames. The state kept here: the
// suspension graph rings (cleared by clear_suspension_graph, otherwise for
// the process) and the command-line values of the HUD switches.
#pragma once

struct BikeState;
struct RunningEntry;

// The views as the main loop numbers them.
constexpr int hud_view_rider = 0;
constexpr int hud_view_editor = 2;
constexpr int hud_view_chase = 3;
constexpr int hud_view_trackside = 4;
constexpr int hud_view_title = 5;

// What the main loop hands the HUD each frame.
struct HudFrame {
  int view;
  int viewed_slot;
  int show_hud;             // cleared by --hidden-hud (the broadcast overlay still shows)
  int dab_latch;            // the sticky sit/dab latch
  double program_clock;     // seconds; the ticker scrolls by it
  double *longest_advance;  // the longest frame advance, read and cleared by the FPS line
};

// Start-up, after the fonts: "!@tach.png", "!@shifter.png", "!@pitboard.png"
// and "!@title.png" (kept for the process).
void load_hud_textures();
// The HUD layers of one frame, after the view, in the main loop's order.
void draw_hud(const HudFrame &frame);
// The command-line values of the switches (--draw-fps ...): -1 leaves the
// setting's value. The render statistics have only the option.
void hud_set_switch_options(int fps, int time, int ping, int speed, int render_stats);

// --- Layers ---------------------------------------------------------------------
// Rider and chase views: needs the viewed slot's bike for most of it.
void draw_rider_gauges(int viewed_slot);
void draw_text_hud(const HudFrame &frame);
// The trackside view while one of the track's cameras is in use.
void draw_broadcast_overlay(double program_clock);
// The dial, its needle and the gear cell in the bottom-right corner.
void draw_tachometer(float rpm, int gear);

// --- Suspension graph -------------------------------------------------------------
constexpr int suspension_graph_samples = 1024;
enum SuspensionRing {
  ring_fork_position,
  ring_fork_speed,
  ring_fork_blend,
  ring_rear_position,
  ring_shock_speed,
  ring_shock_blend,
  suspension_ring_count
};
// Each tic while the graph is on (race step): stores the bike's readings
// and advances the shared write index. Does nothing without a bike.
void sample_suspension_graph(const BikeState *bike);
void clear_suspension_graph();
// Sample `age` tics back (0 = newest) of a ring.
float suspension_graph_value(int ring, int age);

// --- Timing arithmetic (no GL) -------------------------------------------------------
// The two tics that compare entries a and b: their latest timings when they
// stand at the same timing position, else each one's stamp at the last
// index both have reached.
void compare_tics(const RunningEntry &a, const RunningEntry &b, int *tic_a, int *tic_b);
// Pitboard gap in seconds of the rider at list index p: positive for the
// leader's lead, negative for the deficit to the rider ahead; 0 with fewer
// than two entries or a missing stamp.
float pitboard_gap(const RunningEntry *list, int count, int p);
// Results table gap of row k to the row above (row 0 against row 1), in
// seconds; 0 when not behind, a stamp is missing or fewer than two entries.
float table_gap(const RunningEntry *list, int count, int k);
// Seconds entry k is behind the first entry (ticker); 0 when not behind.
float gap_to_first(const RunningEntry *list, int count, int k);
// The lapping warning of the rider at list index p: " %.5s (%.1f) " for
// each rider ahead who is a lap or more up and passed the same gate at most
// 3 s after it. Returns the length (0: no bar).
int lapping_text(const RunningEntry *list, int count, int p, char *out, int size);
// The final results' penalty line of an entry ("%3s penalized ..."); 0 when
// the entry carries no time beyond its own latest timing.
int penalty_line(const RunningEntry &entry, char *out, int size);
// Clockwise turn of the tachometer needle from straight up, degrees.
float needle_degrees(float rpm);
