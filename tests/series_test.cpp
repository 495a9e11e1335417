// Points series: the series and standings files, round ranks and their
// display, the lineups of first and later events, the places an event
// gives, and events started, left and recorded on a shipped track.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/config.h"
#include "assets/file.h"
#include "bike/assembly.h"
#include "platform/log.h"
#include "race/race.h"
#include "race/running_order.h"
#include "race/series.h"
#include "robot_scene.h"
#include "test_util.h"
#include "timing_scene.h"
#include "track/gates.h"
#include "track/track.h"

namespace {

// Two known tracks for the readers' lookups.
void fake_tracks() {
  static const char *const files[] = {"rabbithill/terrain.hf", "quarrybend/terrain.hf", nullptr};
  scan_tracks_from(files);
}

std::string points(int first, int step, int count = 40) {
  std::string s;
  for (int k = 0; k < count; k++) s += std::to_string(first - step * k > 0 ? first - step * k : 0) + " ";
  return s + "\n";
}
std::string zeros(int count = 40) { return points(0, 0, count); }

// An event line: title, track, minutes, laps, moto and round points.
std::string event(const std::string &title, const std::string &track, const std::string &moto,
                  const std::string &round, int minutes = 0, int laps = 3) {
  return title + " " + track + " " + std::to_string(minutes) + " " + std::to_string(laps) + "\n" + moto + round;
}

struct Files {
  std::string dir = make_temp_dir("series");
  int n = 0;
  DataFile *open(const std::string &text) {
    std::string path = dir + "/f" + std::to_string(n++);
    write_text_file(path, text);
    return dfile_open(path.c_str(), "rb");
  }
  // Parses a series text; 1 on success.
  int read(const std::string &text, Series *out, const char *name = "test.series") {
    DataFile *f = open(text);
    int ok = series_read(f, name, out);
    dfile_close(f);
    return ok;
  }
  int standings(const std::string &text, Series *s) {
    DataFile *f = open(text);
    int done = standings_read(f, s);
    dfile_close(f);
    return done;
  }
};

// Sets the places of event e directly (competitors, then the player).
void places(Series *s, int e, const std::vector<int> &p) {
  for (size_t r = 0; r < p.size(); r++) s->events[e].result[r] = p[r];
}

std::string cell(const Series *s, int row, int column) {
  static StandingsBlock block;
  standings_block(s, column / standings_block_columns, "999", &block);
  return block.rows[row][column % standings_block_columns].text;
}

}  // namespace

TEST(SeriesFile, ReadsTitlesSkillCompetitorsAndEvents) {
  fake_tracks();
  Files files;
  Series s;
  std::string text = "\"Summer Cup 2024\"\n3 Amateur\n20 21 22\n2\n" +
                     event("\"First Moto\"", "rabbithill", points(25, 3), zeros(), 10, 2) +
                     event("Second", "\"quarrybend\"", points(25, 3), points(50, 5));
  ASSERT_EQ(files.read(text, &s), 1);
  EXPECT_STREQ(s.title, "Summer Cup 2024");
  EXPECT_STREQ(s.standings_path, "@test.series_standings");
  EXPECT_EQ(s.skill, 1);
  ASSERT_EQ(s.competitor_count, 3);
  EXPECT_EQ(s.competitors[2], 22);
  ASSERT_EQ(s.event_count, 2);
  EXPECT_STREQ(s.events[0].title, "First Moto");
  EXPECT_STREQ(track_dir(s.events[0].track), "rabbithill");
  EXPECT_STREQ(track_dir(s.events[1].track), "quarrybend");
  EXPECT_EQ(s.events[0].minutes, 10);
  EXPECT_EQ(s.events[0].laps, 2);
  EXPECT_EQ(s.events[1].moto_points[7], 4);
  EXPECT_EQ(s.events[1].round_points[0], 50);
  EXPECT_EQ(s.events[1].round_points[39], 0);
  EXPECT_EQ(s.events[1].round_points[40], 0);  // places beyond the file's 40 score nothing
  EXPECT_EQ(s.events_done, 0);
  series_free(&s);

  // One-word title; an unknown skill word means "Expert", known words in any case.
  ASSERT_EQ(files.read("Open 0 Pro\n1\n" + event("Only", "rabbithill", zeros(), points(1, 0)), &s), 1);
  EXPECT_STREQ(s.title, "Open");
  EXPECT_EQ(s.skill, 2);
  EXPECT_EQ(s.competitor_count, 0);
  series_free(&s);
  ASSERT_EQ(files.read("Easy 0 novice\n0\n", &s), 1);
  EXPECT_EQ(s.skill, 0);
  series_free(&s);
}

TEST(SeriesFile, AnyErrorLeavesTheSeriesOut) {
  fake_tracks();
  Files files;
  Series s;
  std::string one = event("E", "rabbithill", zeros(), points(10, 1));
  std::vector<std::string> bad = {
      "",                                                   // nothing
      "T 2 Expert 20\n1\n" + one,                           // too few competitor numbers
      "T 1 Expert 20\n2\n" + one,                           // fewer events than announced
      "T 1 Expert 20\n1\nE nowhere 0 3\n" + zeros() + zeros(),  // unknown track
      "T 1 Expert 20\n1\nE rabbithill 0 3\n" + zeros(39),   // too few points
      "T 160 Expert\n0\n",                                  // 160 competitors
      "T -1 Expert\n0\n",
      "T 1 Expert 20\n-1\n",
      "T 1 Expert 20\n1\n" + event("E", "rabbithill", zeros(), zeros(), 0, 0),   // no length at all
      "T 1 Expert 20\n1\n" + event("E", "rabbithill", zeros(), zeros(), -5, 3),  // negative minutes
      "T 1 Expert x\n0\n",
  };
  for (const std::string &text : bad) {
    EXPECT_EQ(files.read(text, &s), 0) << text.substr(0, 60);
    EXPECT_EQ(s.events, nullptr);
  }
  std::string many = "T 159 Expert";
  for (int i = 0; i < 159; i++) many += " 20";
  EXPECT_EQ(files.read(many + " 0\n", &s), 1);  // 159 is the most
  series_free(&s);
}

TEST(SeriesFile, StartUpListsTheGoodFilesWithTheirStandings) {
  std::string home = make_temp_dir("series-home");
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  unsetenv("QX_HOME");
  file_layer_reset_for_tests();
  std::string root = std::string(data_directory(0));
  std::string one = event("E", "rabbithill", zeros(), points(10, 1));
  write_text_file(root + "a.series", "Alpha 1 Expert 20\n2\n" + one + one);
  write_text_file(root + "a.series_standings", "1 2\n2 1\n");
  write_text_file(root + "b.series", "Broken 1 Expert 20\n2\n" + one);
  write_text_file(root + "c.series", "\"Charlie Cup\" 0 Novice\n1\n" + one);
  write_text_file(root + "rabbithill/terrain.hf", "x");
  file_list();
  fake_tracks();
  load_series();
  ASSERT_EQ(series_count(), 2);
  EXPECT_STREQ(series_at(0)->title, "Alpha");
  EXPECT_EQ(series_at(0)->events_done, 2);
  EXPECT_STREQ(series_at(1)->title, "Charlie Cup");
  EXPECT_EQ(series_at(1)->events_done, 0);
  EXPECT_EQ(find_series("a"), 0);
  EXPECT_EQ(find_series("A.SERIES"), 0);
  EXPECT_EQ(find_series("charlie cup"), 1);
  EXPECT_EQ(find_series("b"), -1);
  free_series();
  EXPECT_EQ(series_count(), 0);
  unsetenv("XDG_DATA_HOME");
  file_layer_reset_for_tests();
}

TEST(Standings, CompleteLinesAreTheEventsDone) {
  fake_tracks();
  Files files;
  Series s;
  std::string one = event("E", "rabbithill", zeros(), points(10, 1));
  ASSERT_EQ(files.read("T 2 Expert 20 21\n3\n" + one + one + one, &s), 1);
  EXPECT_EQ(files.standings("1 2 3 \n3 1 2 \n", &s), 2);
  EXPECT_EQ(s.events[1].result[0], 2);  // stored 0-based
  EXPECT_EQ(s.events[1].result[2], 1);
  // A short line ends the recorded events there, even with full lines after it.
  EXPECT_EQ(files.standings("1 2 3\n3 1\n2 1 3\n", &s), 1);
  // So does a number outside 1..N+1 or one too many.
  EXPECT_EQ(files.standings("1 2 3\n1 2 4\n", &s), 1);
  EXPECT_EQ(files.standings("1 2 3\n1 2 3 1\n", &s), 1);
  EXPECT_EQ(files.standings("1 2 x\n", &s), 0);
  // Lines beyond the series' events are not events.
  EXPECT_EQ(files.standings("1 2 3\n1 2 3\n1 2 3\n1 2 3\n", &s), 3);
  EXPECT_EQ(files.standings("", &s), 0);
  EXPECT_EQ(standings_read(nullptr, &s), 0);  // no file: nothing done

  // Written back through a temporary file: the same lines, read the same.
  EXPECT_EQ(files.standings("2 3 1\n1 3 2\n", &s), 2);
  std::string path = files.dir + "/standings";
  s.standings_path = path.c_str();
  ASSERT_EQ(write_standings(&s), 1);
  EXPECT_EQ(read_text_file(path), "2 3 1 \n1 3 2 \n");
  EXPECT_FALSE(file_exists(path + ".tmp"));
  EXPECT_EQ(files.standings(read_text_file(path), &s), 2);
  series_free(&s);
}

TEST(Standings, RoundsRanksAndTheirCells) {
  fake_tracks();
  Files files;
  Series s;
  // Events 1 and 2 score no round, event 3 ends a round of three motos.
  // Moto points 10 9 8 7 ...; round points 50 40 30 ...
  std::string text = "T 3 Expert 20 21 22\n4\n" + event("M1", "rabbithill", points(10, 1), zeros()) +
                     event("M2", "rabbithill", points(10, 1), zeros()) +
                     event("M3", "rabbithill", points(10, 1), points(50, 10)) +
                     event("Last", "rabbithill", points(10, 1), points(50, 10));
  ASSERT_EQ(files.read(text, &s), 1);
  ASSERT_EQ(series_round_count(&s), 2);
  int first, last;
  ASSERT_EQ(series_round_events(&s, 0, &first, &last), 1);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 2);

  // Places (competitors 20, 21, 22, player): sums 10+7+9=26, 9+10+7=26,
  // 8+9+10=27, 7+8+8=23. Rider 22 wins the round; 20 and 21 tie at 26 and
  // the better place in the round's last event (20 was 2nd, 21 4th) decides.
  s.events_done = 3;
  places(&s, 0, {0, 1, 2, 3});
  places(&s, 1, {3, 0, 1, 2});
  places(&s, 2, {1, 3, 0, 2});
  series_compute_round_ranks(&s);
  EXPECT_EQ(s.events[2].round_rank[2], 0);
  EXPECT_EQ(s.events[2].round_rank[0], 1);
  EXPECT_EQ(s.events[2].round_rank[1], 2);
  EXPECT_EQ(s.events[2].round_rank[3], 3);
  int order[series_places];
  series_standings_order(&s, order);
  EXPECT_EQ(std::vector<int>(order, order + 4), (std::vector<int>{2, 0, 1, 3}));
  // Row 0 is rider 22: 50 points, places 3-2-1.
  EXPECT_EQ(cell(&s, 0, 0), "22");
  EXPECT_EQ(cell(&s, 0, 1), "50 (3-2-1)");
  EXPECT_EQ(cell(&s, 0, 2), "");  // the next round has not started
  EXPECT_EQ(cell(&s, 0, 3), "50");
  EXPECT_EQ(cell(&s, 3, 0), "999");  // the player's row shows his number
  EXPECT_EQ(cell(&s, 3, 1), "20 (4-3-3)");

  // While a round runs its cell shows the places so far and no points.
  s.events_done = 1;
  series_compute_round_ranks(&s);
  EXPECT_EQ(cell(&s, 0, 1), "- (1-)");
  s.events_done = 2;
  EXPECT_EQ(cell(&s, 0, 1), "- (1-4-)");

  // A not-placed rider (place N) is given the moto points of place N + 1.
  s.events_done = 4;
  places(&s, 3, {3, 3, 0, 1});  // 20 and 21 not placed
  series_compute_round_ranks(&s);
  EXPECT_EQ(s.events[3].round_rank[2], 0);
  EXPECT_EQ(s.events[3].round_rank[3], 1);
  EXPECT_EQ(s.events[3].round_rank[0], 2);  // equal sums and places: competitor order
  EXPECT_EQ(s.events[3].round_rank[1], 3);
  int64_t totals[series_places];
  series_totals(&s, totals);
  EXPECT_EQ(totals[2], 100);
  EXPECT_EQ(totals[0], 40 + 30);
  EXPECT_EQ(totals[3], 20 + 40);
  EXPECT_EQ(cell(&s, 0, 2), "50 (1)");  // a round of one event
  series_free(&s);
}

TEST(Standings, BlocksOfEightRoundsAndTheTitle) {
  fake_tracks();
  Files files;
  Series s;
  std::string text = "\"Long Series\" 1 Expert 20\n10\n";
  for (int e = 0; e < 10; e++) text += event("\"Round " + std::to_string(e + 1) + "\"", "rabbithill", zeros(), points(5, 1));
  ASSERT_EQ(files.read(text, &s), 1);
  EXPECT_EQ(standings_block_count(&s), 2);
  static StandingsBlock block;
  standings_block(&s, 0, "7", &block);
  ASSERT_EQ(block.column_count, 10);
  EXPECT_STREQ(block.header[0].text, "No.");
  EXPECT_STREQ(block.header[1].text, "Rd 1");
  EXPECT_STREQ(block.header[8].text, "Rd 8");
  EXPECT_STREQ(block.header[9].text, "Total");
  EXPECT_EQ(block.row_count, 2);
  // Columns stand side by side within the menus' 32-unit frame.
  for (int c = 1; c < block.column_count; c++)
    EXPECT_FLOAT_EQ(block.header[c].x, block.header[c - 1].x + block.header[c - 1].width);
  EXPECT_LE(block.header[9].x + block.header[9].width, 32.0f);
  standings_block(&s, 1, "7", &block);
  ASSERT_EQ(block.column_count, 4);
  EXPECT_EQ(block.first_round, 8);
  EXPECT_STREQ(block.header[1].text, "Rd 9");
  EXPECT_STREQ(block.header[2].text, "Rd 10");
  EXPECT_STREQ(block.header[3].text, "Total");

  char title[series_text_size + 32];
  standings_title(&s, title, sizeof title);
  EXPECT_STREQ(title, "Next Event: Round 1");
  s.events_done = 10;
  standings_title(&s, title, sizeof title);
  EXPECT_STREQ(title, "Long Series Final Standings");
  series_free(&s);
}

TEST(SeriesLineup, FirstEventByCompetitorOrderLaterEventsWorstFirst) {
  fake_tracks();
  Files files;
  Series s;
  std::string one = event("E", "rabbithill", zeros(), points(10, 1));
  ASSERT_EQ(files.read("T 3 Expert 40 50 60\n3\n" + one + one + one, &s), 1);
  int kinds[max_slots];
  ASSERT_EQ(series_lineup(&s, kinds), 1);
  EXPECT_EQ(kinds[0], 1040);
  EXPECT_EQ(kinds[1], 1050);
  EXPECT_EQ(kinds[2], 1060);
  EXPECT_EQ(kinds[3], slot_kind_human);
  EXPECT_EQ(kinds[4], slot_kind_empty);

  // Small field: gates 6, 8, 10, ... worst first. Competitor 60 not placed,
  // the player and 50 share last place (the player after the competitor).
  s.events_done = 1;
  places(&s, 0, {0, 2, 3, 2});
  ASSERT_EQ(series_lineup(&s, kinds), 1);
  EXPECT_EQ(kinds[6], 1060);
  EXPECT_EQ(kinds[8], 1050);
  EXPECT_EQ(kinds[10], slot_kind_human);
  EXPECT_EQ(kinds[12], 1040);
  int filled = 0;
  for (int k : kinds) filled += k != slot_kind_empty;
  EXPECT_EQ(filled, 4);
  s.events_done = 3;
  EXPECT_EQ(series_lineup(&s, kinds), 0);  // all done
  series_free(&s);

  // Fourteen competitors still use the small field's order: the fifteen
  // riders take gates 6 to 34.
  std::string many = "T 14 Expert";
  for (int i = 0; i < 14; i++) many += " " + std::to_string(20 + i);
  ASSERT_EQ(files.read(many + "\n2\n" + one + one, &s), 1);
  s.events_done = 1;
  for (int r = 0; r <= 14; r++) s.events[0].result[r] = r;  // the player last
  series_lineup(&s, kinds);
  EXPECT_EQ(kinds[6], slot_kind_human);
  EXPECT_EQ(kinds[34], 1020);  // the winner
  series_free(&s);

  // A large field: 10, 9, 11, 8, ... 19, 0, then 20, 21, ...
  many = "T 30 Expert";
  for (int i = 0; i < 30; i++) many += " " + std::to_string(20 + i);
  ASSERT_EQ(files.read(many + "\n2\n" + one + one, &s), 1);
  s.events_done = 1;
  for (int r = 0; r <= 30; r++) s.events[0].result[r] = r;
  series_lineup(&s, kinds);
  EXPECT_EQ(kinds[10], slot_kind_human);  // worst first
  EXPECT_EQ(kinds[9], 1049);
  EXPECT_EQ(kinds[11], 1048);
  EXPECT_EQ(kinds[0], 1031);   // the 20th assigned: place 11
  EXPECT_EQ(kinds[20], 1030);  // then the gates in order
  EXPECT_EQ(kinds[30], 1020);  // the winner, 31st assigned
  EXPECT_EQ(kinds[31], slot_kind_empty);
  series_free(&s);
}

// Riders moved through the timing gates by hand.
TEST(SeriesPlaces, LeftEarlyThePlayerCountsOnlyWithACleanFinish) {
  fake_tracks();
  Files files;
  Series s;
  std::string one = event("E", "rabbithill", zeros(), points(10, 1));
  ASSERT_EQ(files.read("T 3 Expert 20 21 22\n1\n" + one, &s), 1);
  Timing scene;
  race_state().final_lap = race_state().finish_laps = 1;
  Timing::add(0, "21", drive_robot);
  Timing::add(1, "999", drive_local);
  Timing::add(2, "20", drive_robot);
  Timing::add(3, "55", drive_robot);  // not in the series: takes no place
  for (int p = 0; p < 3; p++) {
    Timing::pass(3, p, 50 + p * 100);
    Timing::pass(1, p, 60 + p * 100);
    Timing::pass(0, p, 70 + p * 100);
  }
  update_running_order();
  ASSERT_FALSE(race_state().results_final);
  int result[series_places];
  series_event_places(&s, result);
  // Running order 55, player, 21, 20; the player has not finished.
  EXPECT_EQ(result[1], 0);  // 21
  EXPECT_EQ(result[0], 1);  // 20
  EXPECT_EQ(result[2], 3);  // 22 is not in the race: not placed
  EXPECT_EQ(result[3], 3);  // the player: not placed

  // Finished cleanly (every gate), the player takes his place.
  Timing::pass(1, 3, 400);
  update_running_order();
  series_event_places(&s, result);
  EXPECT_EQ(result[3], 0);
  EXPECT_EQ(result[1], 1);
  EXPECT_EQ(result[0], 2);
  series_free(&s);
}

TEST(SeriesPlaces, ACutFinishLeftEarlyIsNotPlaced) {
  fake_tracks();
  Files files;
  Series s;
  ASSERT_EQ(files.read("T 1 Expert 20\n1\n" + event("E", "rabbithill", zeros(), points(10, 1)), &s), 1);
  Timing scene;
  race_state().final_lap = race_state().finish_laps = 1;
  Timing::add(0, "999", drive_local);
  Timing::add(1, "20", drive_robot);
  // The player skips gate 1 and 2 and finishes fast: a cutting penalty.
  Timing::pass(0, 0, 100);
  Timing::pass(0, 3, 150);
  Timing::pass(1, 0, 100);
  update_running_order();
  ASSERT_TRUE(rider_finished(0));
  ASSERT_GT(cutting_penalty(0), 0);
  int result[series_places];
  series_event_places(&s, result);
  EXPECT_EQ(result[1], 1);  // the player: not placed
  EXPECT_EQ(result[0], 0);  // the robot takes the first place
  series_free(&s);
}

namespace {

// A counted event on a shipped track with a small field.
struct EventScene : RobotScene {
  EventScene() : RobotScene("rabbithill") {
    std::string one = event("\"Heat\"", "rabbithill", points(10, 1), zeros(), 0, 1);
    std::string last = event("\"Final\"", "rabbithill", points(10, 1), points(30, 10), 0, 1);
    write_text_file(home + "/torvane/mini.series", "Mini 2 Novice 20 30\n2\n" + one + last);
    file_layer_reset_for_tests();
    file_list();
    const char *names[] = {"rabbithill/terrain.hf", nullptr};
    scan_tracks_from(names);
    const char *dirs[] = {"rabbithill"};
    set_track_names(dirs, 1);
    load_series();
    select_series(find_series("mini"));
  }
  ~EventScene() { free_series(); }
  std::string standings() { return read_text_file(home + "/torvane/mini.series_standings"); }
};

}  // namespace

TEST(SeriesEvent, LeavingACountedEventRecordsItAsItStands) {
  EventScene scene;
  Series *s = series_at(selected_series());
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(start_series_event(1), 1);  // practice: nothing is recorded
  EXPECT_EQ(running_series(), -1);
  ASSERT_EQ(scene.reset(1, 1, 0), 1);
  EXPECT_EQ(s->events_done, 0);

  ASSERT_EQ(start_series_event(0), 1);
  EXPECT_EQ(running_series(), selected_series());
  EXPECT_EQ(running_series_event(), 0);
  int riders = 0;
  for (int i = 0; i < max_slots; i++) riders += race_slot(i)->bike != nullptr;
  EXPECT_EQ(riders, 3);
  EXPECT_EQ(race_slot(2)->drive_mode, drive_local);
  EXPECT_STREQ(race_slot(0)->number, "20");
  EXPECT_STREQ(race_slot(1)->number, "30");
  // Entering again while it runs changes nothing.
  for (int k = 0; k < 200; k++) race_step();
  int tic = race_state().tic;
  EXPECT_EQ(start_series_event(0), 1);
  EXPECT_EQ(race_state().tic, tic);

  // Another race: the event counts as it stands, the player not placed.
  ASSERT_EQ(scene.reset(1, 1, 0), 1);
  EXPECT_EQ(running_series(), -1);
  EXPECT_EQ(s->events_done, 1);
  EXPECT_EQ(s->events[0].result[2], 2);
  EXPECT_EQ(scene.standings(), "1 2 3 \n");

  // The second event starts from the first one's result, worst first.
  ASSERT_EQ(start_series_event(0), 1);
  EXPECT_EQ(race_slot(6)->drive_mode, drive_local);
  EXPECT_STREQ(race_slot(8)->number, "30");
  EXPECT_STREQ(race_slot(10)->number, "20");
  finish_series_event();  // as at shutdown
  EXPECT_EQ(s->events_done, 2);
  EXPECT_EQ(scene.standings(), "1 2 3 \n2 1 3 \n");  // 30 led 20 in slot order
  EXPECT_EQ(start_series_event(0), 0);  // nothing left

  // "Reset Points": nothing done, the old file kept until the next result.
  reset_series_points();
  EXPECT_EQ(s->events_done, 0);
  EXPECT_EQ(scene.standings(), "1 2 3 \n2 1 3 \n");
  ASSERT_EQ(start_series_event(0), 1);
  EXPECT_EQ(race_slot(2)->drive_mode, drive_local);  // the first event's lineup again
  finish_series_event();
  EXPECT_EQ(scene.standings(), "1 2 3 \n");
}
