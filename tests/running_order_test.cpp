// Running order, finishing, timed races, cutting penalties and the results
// file, driven through the slots' timing lists (no riding involved).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assets/file.h"
#include "bike/assembly.h"
#include "race/race.h"
#include "race/results.h"
#include "race/running_order.h"
#include "test_util.h"
#include "timing_scene.h"
#include "track/gates.h"

namespace {

int even_gap(int) { return 1000; }
// Normal laps: 1000 to gate 1, 3000 to gate 2, 1000 to gate 3.
int uneven_gap(int p) {
  if (p < 4) return 1000;
  return (p - 4) % 3 == 1 ? 3000 : 1000;
}

std::vector<int> order() {
  std::vector<int> v;
  for (int k = 0; k < race_state().running_count; k++) v.push_back(race_state().running_order[k].slot);
  return v;
}

}  // namespace

TEST(RunningOrder, PositionThenTimeThenSlot) {
  Timing timing;
  Timing::add(7, "7");
  Timing::add(3, "3");
  Timing::add(5, "5");
  Timing::pass(7, 0, 100);
  Timing::pass(3, 0, 100);
  update_running_order();
  EXPECT_EQ(order(), (std::vector<int>{3, 7, 5}));  // equal timing: slot order; no timing last
  Timing::pass(5, 0, 90);
  EXPECT_EQ(order(), (std::vector<int>{5, 3, 7}));
  Timing::pass(7, 1, 200);
  EXPECT_EQ(order(), (std::vector<int>{7, 5, 3}));
  EXPECT_EQ(race_state().running_order[0].position, 2);
  EXPECT_EQ(race_state().running_order[0].tic, 200);
}

TEST(RunningOrder, LapArithmetic) {
  Timing timing;
  EXPECT_EQ(lap_end_index(1), 3);
  EXPECT_EQ(lap_end_index(5), 15);
  EXPECT_EQ(laps_at_position(3), 0);
  EXPECT_EQ(laps_at_position(4), 1);
  EXPECT_EQ(laps_at_position(6), 1);
  EXPECT_EQ(laps_at_position(7), 2);
}

// Five laps: the leader finishes on its fifth crossing, the others on their
// next crossing after it, a lapped rider one lap short.
TEST(Finishing, FiveLapRace) {
  Timing timing;
  Timing::add(0, "1");
  Timing::add(1, "2");
  Timing::add(2, "3");
  Timing::ride(0, 0, 14, 0, even_gap);  // position 14 at 15000
  Timing::ride(1, 0, 14, 500, even_gap);
  Timing::ride(2, 0, 10, 700, even_gap);  // a lap behind: lap 3 ended at index 9
  EXPECT_FALSE(rider_finished(0));
  Timing::pass(0, 15, 16000);  // end of lap 5
  EXPECT_TRUE(rider_finished(0));
  EXPECT_FALSE(rider_finished(1));
  EXPECT_FALSE(rider_finished(2));
  Timing::pass(2, 11, 16400);  // not a finish line
  EXPECT_FALSE(rider_finished(2));
  Timing::pass(1, 15, 16500);
  EXPECT_TRUE(rider_finished(1));
  EXPECT_FALSE(race_state().results_final);
  Timing::pass(2, 12, 16800);  // lap 4 done after the leader finished
  EXPECT_TRUE(rider_finished(2));
  EXPECT_TRUE(race_state().results_final);
  EXPECT_EQ(order(), (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(file_exists(timing.dir + "/results.txt"));
  // Frozen once final.
  Timing::pass(2, 13, 17000);
  Timing::pass(2, 14, 17100);
  Timing::pass(2, 15, 17200);
  EXPECT_EQ(order(), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(race_state().running_order[2].position, 13);
}

TEST(Finishing, NoGatesNeverFinishes) {
  Timing timing;
  Timing::add(0, "1");
  timing_gates_reset();
  Timing::pass(0, 15, 100);
  EXPECT_FALSE(rider_finished(0));
  EXPECT_FALSE(race_state().results_final);
}

TEST(TimedRace, TenMinutesDecidesFinalLap) {
  Timing timing;
  RaceState &race = race_state();
  race.finish_time = 10 * 60 * 128;  // 76800
  race.finish_laps = 0;
  race.final_lap = race.halfway_lap = unknown_lap;
  Timing::add(0, "1");
  Timing::add(1, "2");
  // Gates every 1600 tics: lap L ends at 1600 * (3L + 1).
  int (*gap)(int) = [](int) { return 1600; };
  Timing::ride(0, 0, 21, 0, gap);  // position 21 at 35200, under half time
  EXPECT_EQ(race.halfway_lap, unknown_lap);
  Timing::ride(0, 22, 24, 35200, gap);  // half time (38400) at index 23, with 7 laps done
  EXPECT_EQ(race.halfway_lap, 8);
  Timing::ride(0, 25, 45, 40000, gap);  // lap 15 ends at index 45, tic 73600
  EXPECT_EQ(race.final_lap, unknown_lap);
  Timing::ride(0, 46, 47, 73600, gap);  // tic 76800: time is up mid lap 16
  EXPECT_EQ(race.final_lap, unknown_lap);
  Timing::pass(1, 0, 76900);  // another update after the time: lap 16 not ended by anyone
  EXPECT_EQ(race.final_lap, unknown_lap);
  Timing::pass(0, 48, 78400);  // end of lap 16, after the time
  EXPECT_EQ(race.final_lap, 16);
  EXPECT_TRUE(rider_finished(0));
}

TEST(TimedRace, TenMinutesPlusTwoLaps) {
  Timing timing;
  RaceState &race = race_state();
  race.finish_time = 10 * 60 * 128;
  race.finish_laps = 2;
  race.final_lap = race.halfway_lap = unknown_lap;
  Timing::add(0, "1");
  int (*gap)(int) = [](int) { return 1600; };
  Timing::ride(0, 0, 48, 0, gap);
  EXPECT_EQ(race.final_lap, 18);
  EXPECT_FALSE(rider_finished(0));
  Timing::ride(0, 49, 54, 78400, gap);  // lap 18 ends at index 54
  EXPECT_TRUE(rider_finished(0));
  EXPECT_TRUE(race.results_final);
}

TEST(Penalty, ExpectedSectionTime) {
  Timing timing;
  EXPECT_EQ(expected_section_time(4, 6), 7680);  // nobody has a value
  Timing::add(0, "1");
  Timing::add(1, "2");
  Timing::ride(0, 0, 12, 0, uneven_gap);
  Timing::ride(1, 0, 12, 10, uneven_gap, 8, 1000);
  // First-lap sections straight; later ones averaged over clean laps only.
  EXPECT_EQ(expected_section_time(0, 2), 2000);
  EXPECT_EQ(expected_section_time(7, 9), 4000);
  EXPECT_EQ(expected_section_time(10, 12), 4000);
  EXPECT_EQ(expected_section_time(5, 6), 1000);
}

// A cut that saves 4 s against the expected time plus one second costs 4 s.
TEST(Penalty, CutSectionPenalised) {
  Timing timing;
  RaceState &race = race_state();
  Timing::add(0, "1");
  Timing::add(1, "2");
  // Slot 1 leaves out index 8 and takes 3616 tics from index 7 to 9 where
  // 4000 + 128 are allowed.
  int t = Timing::ride(1, 0, 7, 5, uneven_gap);
  Timing::pass(1, 9, t + 3616);
  Timing::ride(1, 10, 15, t + 3616, uneven_gap);
  EXPECT_TRUE(rider_finished(1));
  Timing::ride(0, 0, 15, 0, uneven_gap);
  ASSERT_TRUE(race.results_final);
  EXPECT_EQ(cutting_penalty(1), 512);
  EXPECT_EQ(cutting_penalty(0), 0);
  // 23621 + 512 puts it behind slot 0's 24000; no lap is taken (best lap 4616).
  EXPECT_EQ(order(), (std::vector<int>{0, 1}));
  const RunningEntry &cut = race.running_order[1];
  EXPECT_EQ(cut.penalty, 512);
  EXPECT_EQ(cut.position, 16);
  EXPECT_EQ(cut.tic, 23621 + 512);
}

// A penalty longer than the best lap takes a lap off instead.
TEST(Penalty, LongerThanBestLapCostsALap) {
  Timing timing;
  RaceState &race = race_state();
  Timing::add(0, "1");
  Timing::add(1, "2");
  Timing::ride(0, 0, 15, 0, uneven_gap);  // five clean laps, lap 4 ends at 19000
  Timing::ride(1, 0, 15, 10, uneven_gap, 8, 3000);  // skips index 8, 7 -> 9 in 1000
  ASSERT_TRUE(race.results_final);
  EXPECT_EQ(cutting_penalty(1), 4000 + 128 - 1000);
  EXPECT_EQ(best_lap(1), 3);
  EXPECT_EQ(lap_tics(1, 3), 2000);
  EXPECT_EQ(best_lap(0), 2);  // equal laps: the earlier one
  // 3128 - 2000 leaves 1128, and one lap fewer.
  EXPECT_EQ(order(), (std::vector<int>{0, 1}));
  const RunningEntry &cut = race.running_order[1];
  EXPECT_EQ(cut.position, 16 - 3);
  EXPECT_EQ(cut.penalty, 1128);
  EXPECT_EQ(cut.tic, 21010 + 1128);
}

TEST(OffCourse, SlowSectionAgainstTheReference) {
  Timing timing;
  RaceState &race = race_state();
  race_network().off_course_scale = 1.5f;
  race_network().off_course_bias = 10;
  Timing::add(0, "1");
  Timing::add(1, "2");
  Timing::ride(0, 0, 6, 0, even_gap);   // reference: 1000 tics (7.8 s) per gate
  Timing::ride(1, 0, 3, 0, even_gap);
  race.tic = 4000 + 2800;  // still short of index 4: 1.5 x 7.8 + 10 s = 21.7 s = 2780 tics
  EXPECT_TRUE(off_course_at(1, 4));
  race.tic = 4000 + 2700;
  EXPECT_FALSE(off_course_at(1, 4));
  EXPECT_FALSE(off_course(0));  // the reference itself is on course
}

TEST(Results, FileLayout) {
  Timing timing;
  RaceState &race = race_state();
  race.final_lap = 2;
  race.finish_laps = 2;
  race.gate_drop_tic = 128;
  Timing::add(0, "12");
  Timing::add(1, "7");
  int (*gap)(int) = [](int) { return 1024; };  // 8 s
  Timing::ride(0, 0, 6, 128, gap);
  Timing::ride(1, 0, 6, 192, gap, 4, 0);  // misses index 4: one second of penalty
  ASSERT_TRUE(race.results_final);
  std::string text = read_text_file(timing.dir + "/results.txt");
  EXPECT_EQ(text.find("Time=0.00|Laps=2|Track="), 0u);
  EXPECT_NE(text.find("\r\n No. |         Bike | Laps | Total Time | BLap |  Best Time\r\n"
                      "  12 | yz250f(2017) |    2 |   0:56.000 |    2 |   0:24.000\r\n"
                      "   7 | yz250f(2017) |    2 |   0:57.500 |    2 |   0:24.000\r\n\r\n7\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\r\n7\r\n   8.500   16.500   24.500   32.500\r\n      -1   48.500   56.500\r\n"),
            std::string::npos);
  EXPECT_FALSE(file_exists(timing.dir + "/results.txt.tmp"));
}

// The results count the laps left after a penalty and add the rest of the
// penalty to the total time.
TEST(Results, LapTakenOffByAPenalty) {
  Timing timing;
  Timing::add(0, "1");
  Timing::add(1, "2");
  Timing::ride(0, 0, 15, 0, uneven_gap);
  Timing::ride(1, 0, 15, 10, uneven_gap, 8, 3000);
  ASSERT_TRUE(race_state().results_final);
  std::string text = read_text_file(timing.dir + "/results.txt");
  // Position 13 is four laps; 21010 + 1128 tics from the drop; lap 3 of 2000 tics.
  EXPECT_NE(text.find("\r\n   2 | yz250f(2017) |    4 |   2:52.953 |    3 |   0:15.625\r\n"), std::string::npos)
      << text;
  // Its timing list still shows the gate it missed, in its lap's line.
  EXPECT_NE(text.find("      -1 "), std::string::npos);
}

TEST(Results, UnwritableDirectoryIsReported) {
  Timing timing;
  // A plain file where the directory should be.
  write_text_file(timing.dir + "/blocker", "x");
  set_results_path((timing.dir + "/blocker/results.txt").c_str());
  Timing::add(0, "1");
  EXPECT_EQ(write_results(results_path()), 0);
}
