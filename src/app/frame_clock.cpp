#include "app/frame_clock.h"

#include <algorithm>

#include "app/types.h"

void frame_clock_start(FrameClock *clock, double now) {
  *clock = FrameClock{};
  clock->last_stamp = now;
}

void frame_histogram_add(FrameClock *clock, double elapsed) {
  int slot = frame_histogram_size - 1;
  for (int k = 0; k < frame_histogram_size - 1; k++) {
    if (elapsed < seconds_per_tic * static_cast<double>(1 << k)) {
      slot = k;
      break;
    }
  }
  clock->histogram[slot]++;
}

double frame_advance_for(double elapsed, const FrameTiming *timing, double *sleep_for) {
  *sleep_for = 0;
  if (!timing->connected && timing->lock_fps > 0) {
    double period = 1.0 / timing->lock_fps;
    if (elapsed < period) *sleep_for = period - elapsed;
    return period;
  }
  if (!timing->connected && timing->warp) return warp_tics_per_frame * seconds_per_tic;
  if (elapsed < seconds_per_tic) {
    *sleep_for = seconds_per_tic - elapsed;
    elapsed = seconds_per_tic;
  }
  return std::min(elapsed, max_frame_advance);
}

double scale_advance_for_server(double advance, double gap, int past_gate_drop) {
  if (gap < 0) return advance * (0.5 + 0.5 * std::clamp(gap + 1.0, 0.0, 1.0));
  if (past_gate_drop) return advance * (1.0 + 0.125 * std::clamp(8.0 * gap, 0.0, 1.0));
  return advance * (1.0 + 3.0 * std::clamp(gap, 0.0, 1.0));
}

void frame_clock_advance(FrameClock *clock, double advance, double now) {
  clock->target_clock += advance;
  clock->program_clock += advance;
  clock->last_stamp = now;
  clock->longest_advance = std::max(clock->longest_advance, advance);
}

int frame_run_tics(FrameClock *clock, double frame_real_time, const TicHandlers *h) {
  int tics = 0;
  // A tic runs once the real time it stands for has passed, never ahead of
  // it: all the events stamped inside it have then arrived, so each event
  // reaches the tic it fell in whatever the frame rate. (Running while the
  // clock is merely behind the target would run the frame's last tic up to
  // one tic early, and an event arriving in that gap would slip into the
  // next tic at some frame rates and not at others.) Events stamped after
  // the last tic wait in the queue for the next frame.
  while (clock->sim_clock + seconds_per_tic <= clock->target_clock) {
    clock->sim_clock += seconds_per_tic;
    HovlTime tic_time = time_from_seconds(frame_real_time - (clock->target_clock - clock->sim_clock));
    if (h->begin_tic) h->begin_tic(h->context);
    InputEvent e;
    while (input_wait_event(tic_time, &e))
      if (h->event) h->event(h->context, &e);
    if (h->tic) h->tic(h->context);
    tics++;
  }
  return tics;
}
