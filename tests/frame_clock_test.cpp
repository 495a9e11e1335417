// Frame advance and the distribution of tics and input events.
#include <gtest/gtest.h>

#include <vector>

#include "app/frame_clock.h"
#include "app/types.h"

namespace {

struct Recorder {
  int tic = 0;
  std::vector<std::pair<int, int>> events;  // (tic, code)
};

void begin(void *c) { static_cast<Recorder *>(c)->tic++; }
void event(void *c, const InputEvent *e) {
  Recorder *r = static_cast<Recorder *>(c);
  r->events.push_back({r->tic, e->code});
}

}  // namespace

TEST(FrameAdvance, CapsLocksAndWarps) {
  FrameTiming plain = {0, 0, 0};
  double sleep;
  EXPECT_DOUBLE_EQ(frame_advance_for(1.0, &plain, &sleep), 0.125);  // a 1 s stall: 16 tics
  EXPECT_EQ(sleep, 0);
  EXPECT_DOUBLE_EQ(frame_advance_for(0.02, &plain, &sleep), 0.02);
  frame_advance_for(0.001, &plain, &sleep);
  EXPECT_NEAR(sleep, seconds_per_tic - 0.001, 1e-12);

  FrameTiming locked = {30, 0, 0};
  for (double elapsed : {0.0, 0.01, 0.2, 3.0}) {
    EXPECT_DOUBLE_EQ(frame_advance_for(elapsed, &locked, &sleep), 1.0 / 30);
    EXPECT_EQ(sleep > 0, elapsed < 1.0 / 30);
  }
  FrameTiming warp = {0, 1, 0};
  EXPECT_DOUBLE_EQ(frame_advance_for(0.5, &warp, &sleep), 100 * seconds_per_tic);
  // Online neither lock nor warp applies.
  FrameTiming online = {30, 1, 1};
  EXPECT_DOUBLE_EQ(frame_advance_for(0.05, &online, &sleep), 0.05);
}

TEST(FrameAdvance, ServerClockScaling) {
  EXPECT_DOUBLE_EQ(scale_advance_for_server(0.1, -2.0, 1), 0.05);
  EXPECT_DOUBLE_EQ(scale_advance_for_server(0.1, -0.5, 1), 0.075);
  EXPECT_DOUBLE_EQ(scale_advance_for_server(0.1, 0.0, 1), 0.1);
  EXPECT_DOUBLE_EQ(scale_advance_for_server(0.1, 1.0, 1), 0.1125);
  EXPECT_DOUBLE_EQ(scale_advance_for_server(0.1, 0.5, 0), 0.25);
  EXPECT_DOUBLE_EQ(scale_advance_for_server(0.1, 9.0, 0), 0.4);
}

TEST(FrameAdvance, HistogramSlots) {
  FrameClock clock;
  frame_clock_start(&clock, 0);
  frame_histogram_add(&clock, 0.001);                 // under one tic
  frame_histogram_add(&clock, seconds_per_tic * 3);   // under four tics
  frame_histogram_add(&clock, 5.0);                   // beyond all
  EXPECT_EQ(clock.histogram[0], 1);
  EXPECT_EQ(clock.histogram[2], 1);
  EXPECT_EQ(clock.histogram[7], 1);
}

TEST(TicLoop, OneSecondFrameRunsSixteenTics) {
  input_clear_events();
  FrameClock clock;
  frame_clock_start(&clock, 100.0);
  Recorder r;
  TicHandlers h = {begin, event, nullptr, &r};
  FrameTiming plain = {0, 0, 0};
  double sleep;
  frame_clock_advance(&clock, frame_advance_for(1.0, &plain, &sleep), 101.0);
  EXPECT_EQ(frame_run_tics(&clock, 101.0, &h), 16);
  // A lock of 32 fps over 32 frames is one second: 128 tics in all; the
  // simulation never runs ahead of the target.
  FrameTiming locked = {32, 0, 0};
  frame_clock_start(&clock, 0);
  int tics = 0;
  for (int i = 0; i < 32; i++) {
    frame_clock_advance(&clock, frame_advance_for(0.001, &locked, &sleep), i);
    tics += frame_run_tics(&clock, i, &h);
    EXPECT_LE(clock.sim_clock, clock.target_clock);
  }
  EXPECT_EQ(tics, 128);
}

TEST(TicLoop, EventsReachTheTicTheyFallIn) {
  input_clear_events();
  FrameClock clock;
  frame_clock_start(&clock, 50.0);
  double frame_time = 50.0 + 8 * seconds_per_tic;  // an 8-tic frame
  frame_clock_advance(&clock, 8 * seconds_per_tic, frame_time);
  // Tic k (1-based) covers real time up to 50 + k tics.
  input_push_event(event_key_base + 30, 1, time_from_seconds(50.0 + 1.5 * seconds_per_tic));  // tic 2
  input_push_event(event_key_base + 30, 0, time_from_seconds(50.0 + 5.2 * seconds_per_tic));  // tic 6
  input_push_event(event_key_base + 31, 1, time_from_seconds(50.0 + 0.5 * seconds_per_tic));  // tic 1
  input_push_event(event_key_base + 32, 1, time_from_seconds(frame_time + 0.5 * seconds_per_tic));  // next frame
  Recorder r;
  TicHandlers h = {begin, event, nullptr, &r};
  EXPECT_EQ(frame_run_tics(&clock, frame_time, &h), 8);
  ASSERT_EQ(r.events.size(), 3u);
  EXPECT_EQ(r.events[0], std::make_pair(1, event_key_base + 31));
  EXPECT_EQ(r.events[1], std::make_pair(2, event_key_base + 30));
  EXPECT_EQ(r.events[2], std::make_pair(6, event_key_base + 30));
  // The stamp after the frame's last tic waits for the tic it falls in.
  EXPECT_EQ(input_queued_count(), 1);
  frame_clock_advance(&clock, 2 * seconds_per_tic, frame_time + 2 * seconds_per_tic);
  EXPECT_EQ(frame_run_tics(&clock, frame_time + 2 * seconds_per_tic, &h), 2);
  ASSERT_EQ(r.events.size(), 4u);
  EXPECT_EQ(r.events[3], std::make_pair(9, event_key_base + 32));
}

// A frame that ends inside a tic leaves that tic to the next frame, so an
// event stamped between the frame's end and the tic's end still reaches
// that tic.
TEST(TicLoop, ATicNeverRunsAheadOfItsEvents) {
  input_clear_events();
  FrameClock clock;
  frame_clock_start(&clock, 0);
  Recorder r;
  TicHandlers h = {begin, event, nullptr, &r};
  double first = 2.5 * seconds_per_tic;
  frame_clock_advance(&clock, first, first);
  EXPECT_EQ(frame_run_tics(&clock, first, &h), 2);
  input_push_event(event_key_base + 40, 1, time_from_seconds(2.7 * seconds_per_tic));  // inside tic 3
  double second = 4 * seconds_per_tic;
  frame_clock_advance(&clock, second - first, second);
  EXPECT_EQ(frame_run_tics(&clock, second, &h), 2);
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0], std::make_pair(3, event_key_base + 40));
}
