// The shipped points series raced to its end headless, one torvane-race
// --series run per event, the player on the auto pilot: the standings file
// grows by one line per event, the printed totals match a computation made
// here from the series file and those lines, a run after the last event
// races nothing, and the whole series raced again from "Reset Points" gives
// the same standings (the races are deterministic). About twelve races of
// twenty riders: labelled "slow".
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/alloc.h"
#include "assets/file.h"
#include "test_util.h"

namespace {

std::string bin() { return TORVANE_BIN_DIR; }

// Runs torvane-race with the arguments; returns its standard output.
std::string race(const std::string &home, const std::string &extra, int *status) {
  std::string out = home + "/out.txt";
  std::string command = bin() + "/torvane-race --home " + home + " --series torvane --no-progress " + extra +
                        " < /dev/null > " + out + " 2> " + home + "/err.txt";
  int s = system(command.c_str());
  *status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  return read_text_file(out);
}

int count_lines(const std::string &text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// The shipped series as this test reads it: competitors and, per event, the
// moto and round points.
struct Shipped {
  std::vector<int> competitors;
  std::vector<std::vector<int>> moto, round;
};

// The series text from the game data (the title is two words).
Shipped read_shipped(const std::string &home) {
  Shipped s;
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  setenv("QX_HOME", TORVANE_BIN_DIR, 1);
  file_layer_reset_for_tests();
  file_list();  // the archive's members
  char *text = file_to_string("@torvane.series");
  EXPECT_NE(text, nullptr);
  if (!text) return s;
  std::string series(text);
  tracked_free(text);
  std::istringstream in(series);
  std::string word;
  in >> word >> word;  // the two words of the title
  int n = 0, events = 0;
  in >> n >> word;
  s.competitors.resize(static_cast<size_t>(n));
  for (int &c : s.competitors) in >> c;
  in >> events;
  for (int e = 0; e < events; e++) {
    // Title in quotes, then track, minutes, laps.
    std::string title;
    std::getline(in >> std::ws, title, '"');
    std::getline(in, title, '"');
    int minutes, laps;
    in >> word >> minutes >> laps;
    std::vector<int> moto(160, 0), round(160, 0);
    for (int k = 0; k < 40; k++) in >> moto[static_cast<size_t>(k)];
    for (int k = 0; k < 40; k++) in >> round[static_cast<size_t>(k)];
    s.moto.push_back(moto);
    s.round.push_back(round);
  }
  return s;
}

// Totals by rider (competitor index, then the player) from standings lines:
// moto points added up within a round, the round ranked by that sum (ties
// to the better place in the round's last event), round points by rank.
std::vector<long> totals(const Shipped &s, const std::string &standings) {
  size_t riders = s.competitors.size() + 1;
  std::vector<long> total(riders, 0), sum(riders, 0);
  std::istringstream in(standings);
  for (size_t e = 0; e < s.moto.size(); e++) {
    std::vector<int> place(riders);
    for (int &p : place) {
      if (!(in >> p)) return total;
      p--;
    }
    for (size_t r = 0; r < riders; r++) sum[r] += s.moto[e][static_cast<size_t>(place[r])];
    if (s.round[e][0] == 0) continue;
    std::vector<size_t> order;
    for (size_t r = 0; r < riders; r++) order.push_back(r);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return sum[a] != sum[b] ? sum[a] > sum[b] : place[a] < place[b];
    });
    for (size_t rank = 0; rank < riders; rank++) total[order[rank]] += s.round[e][rank];
    for (long &v : sum) v = 0;
  }
  return total;
}

// "standings: number | ... | total |" rows of the last table printed.
std::map<std::string, long> printed_totals(const std::string &out) {
  std::map<std::string, long> t;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("standings: ", 0) != 0 || line.find("No.") != std::string::npos) continue;
    std::string number = line.substr(11, line.find(' ', 11) - 11);
    size_t end = line.rfind(" |");
    size_t start = line.rfind("| ", end - 1);
    t[number] = atol(line.c_str() + start + 2);
  }
  return t;
}

TEST(SeriesHeadless, TheShippedSeriesRacedToItsEndTwice) {
  std::string home = make_temp_dir("series-run");
  Shipped shipped = read_shipped(home);
  ASSERT_EQ(shipped.competitors.size(), 19u);
  int events = static_cast<int>(shipped.moto.size());
  ASSERT_GE(events, 4);
  std::string standings_path = home + "/torvane/torvane.series_standings";
  std::string out;
  int status = 0;
  for (int e = 1; e <= events; e++) {
    out = race(home, "", &status);
    ASSERT_EQ(status, 0) << out << read_text_file(home + "/err.txt");
    std::string standings = read_text_file(standings_path);
    ASSERT_EQ(count_lines(standings), e) << standings;
    EXPECT_NE(out.find("series: events done: " + std::to_string(e) + " of " + std::to_string(events)),
              std::string::npos);
    EXPECT_NE(out.find("riders finished: 20 of 20"), std::string::npos) << "event " << e;
  }
  std::string first = read_text_file(standings_path);
  EXPECT_NE(out.find("series: Torvane Championship Final Standings"), std::string::npos);

  // The printed table against the computation made here.
  std::vector<long> expected = totals(shipped, first);
  std::map<std::string, long> shown = printed_totals(out);
  ASSERT_EQ(shown.size(), shipped.competitors.size() + 1);
  long sum = 0;
  for (size_t r = 0; r < shipped.competitors.size(); r++) {
    EXPECT_EQ(shown[std::to_string(shipped.competitors[r])], expected[r]) << "rider " << shipped.competitors[r];
    sum += expected[r];
  }
  EXPECT_EQ(shown["999"], expected.back());
  EXPECT_GT(sum, 0);

  // Nothing is left to race: the standings stay.
  out = race(home, "", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("series: every event is done"), std::string::npos);
  EXPECT_EQ(read_text_file(standings_path), first);

  // Again from "Reset Points": the first event rewrites the file, and the
  // whole series comes out the same.
  out = race(home, "--reset-points", &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(count_lines(read_text_file(standings_path)), 1);
  for (int e = 2; e <= events; e++) {
    out = race(home, "", &status);
    ASSERT_EQ(status, 0);
  }
  EXPECT_EQ(read_text_file(standings_path), first);
}

}  // namespace
