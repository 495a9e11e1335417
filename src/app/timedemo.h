// The timedemo: plays a demo as fast as frames can be drawn and prints one
// line of frame-rate figures. The name, the option and the summary line
// follow a long-standing convention of racing and shooter engines, so the
// figures can be compared from build to build and machine to machine.
//
// Each frame stands for exactly 1/60 s of race time and every frame is
// drawn: the pace is the drawing's, not the clock's (no sound, no waiting,
// no frame-rate lock). The camera is the chase camera of the leading rider.
#pragma once
#include <cstdio>

constexpr int timedemo_frames_per_second = 60;

// Checks that `path` names a readable demo; otherwise writes why to `err`
// and returns 0.
int timedemo_check(const char *path, FILE *err);

// Marks the start of the track load, for the load-to-first-frame figure.
void timedemo_mark_load();

// What a frame spent outside the scene: drawing the HUD, and handing the
// frame to the window (where software GL finishes rasterising it).
struct FrameOverhead {
  double hud, swap;  // seconds
};

// Runs the demo already set up by the race reset to its end. `frame`
// draws one frame (the game's own frame, HUD and all) with the leader
// viewed, and says what its HUD and swap cost. Prints the summary to `out`; with `show_parts` also where the
// frames' time went, part by part, to standard error. Returns the exit
// status.
int timedemo_run(void (*frame)(FrameOverhead *), int show_parts, FILE *out);

// The summary line for `count` frame times (seconds) and the total
// wall time. `times` is reordered.
void timedemo_summary(double *times, int count, double total, char *line, int size);

// The tic reached by frame `frame` of a timedemo that starts at tic `start`.
int timedemo_frame_tic(int start, int frame);
