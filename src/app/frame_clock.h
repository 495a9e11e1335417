// Turning real time into fixed tics. The simulation never reads the clock;
// the main loop measures each frame, advances a target clock by the frame's
// advance and runs tics until the simulation clock has caught up. Input
// events are handed to the tic in whose interval their time stamp falls.
#pragma once
#include "platform/input.h"

constexpr double max_frame_advance = 0.125;  // a stall never causes a long catch-up
constexpr int warp_tics_per_frame = 100;
constexpr int frame_histogram_size = 8;

struct FrameClock {
  double sim_clock;      // seconds, advanced one tic at a time
  double target_clock;   // seconds, advanced once per frame
  double program_clock;  // seconds; runs while paused (message expiry, captures)
  double last_stamp;     // real time of the previous frame (platform seconds)
  int histogram[frame_histogram_size];
  double longest_advance;  // since the HUD last read it
};

struct FrameTiming {
  float lock_fps;  // 0 = none
  int warp;
  int connected;   // lock and warp apply offline only
};

void frame_clock_start(FrameClock *clock, double now);

// Counts a frame's elapsed real time into the histogram.
void frame_histogram_add(FrameClock *clock, double elapsed);

// The game time a frame advances, given its elapsed real time. Sets *sleep_for
// to the real time to wait first (0 for none). With a lock the advance is
// exactly 1/L; with warp 100 tics; otherwise the elapsed time, at least one tic
// (after sleeping) and at most 0.125 s.
double frame_advance_for(double elapsed, const FrameTiming *timing, double *sleep_for);

// Online the advance follows the server's clock: gap is (newest server tic -
// current tic - 1) in seconds.
double scale_advance_for_server(double advance, double gap, int past_gate_drop);

// Adds the advance to the target and program clocks.
void frame_clock_advance(FrameClock *clock, double advance, double now);

// The tic loop of one frame: while a whole tic fits between the simulation
// clock and the target, advance the clock by one tic and call `tic`. Input
// events stamped up to the tic's real time go to `event` first; later ones
// stay queued. Returns the number of tics run.
struct TicHandlers {
  void (*begin_tic)(void *context);
  void (*event)(void *context, const InputEvent *event);
  void (*tic)(void *context);
  void *context;
};
int frame_run_tics(FrameClock *clock, double frame_real_time, const TicHandlers *handlers);
