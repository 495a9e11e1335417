#include "race/series.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "app/config.h"
#include "assets/file.h"
#include "net/client.h"
#include "platform/log.h"
#include "race/race.h"
#include "race/running_order.h"
#include "track/track.h"

namespace {

static_assert(series_places == max_slots, "places index the slot table's riders");
static_assert(series_file_points <= series_places);

// Longest race an event may ask for; beyond it the tic count would overflow.
constexpr int max_event_minutes = 24 * 60;
constexpr int max_event_laps = 1000;
// A standings line holds at most 160 numbers of four characters.
constexpr int standings_line_size = 4096;

// The series found at start-up and the menu's and the race's choices; live
// for the process.
Series *list = nullptr;
int list_count = 0, list_capacity = 0;
int selected = -1;
int running = -1, running_event = -1;

const char *const skill_words[] = {"Novice", "Amateur", "Expert"};

int skill_of(const char *word) {
  for (int k = 0; k < 3; k++)
    if (strcasecmp(word, skill_words[k]) == 0) return k;
  return 2;
}

// A title or name: up to 1023 characters between double quotes, or else one word.
bool read_text(DataFile *file, char *out) {
  if (dfile_scanf(file, " \"%1023[^\"]\"", out) == 1) return true;
  return dfile_scanf(file, "%1023s", out) == 1;
}

int find_track(const char *dir) {
  for (int i = 0; i < track_count(); i++)
    if (strcasecmp(track_dir(i), dir) == 0) return i;
  return -1;
}

bool read_event(DataFile *file, SeriesEvent *e, bool verbose) {
  char title[series_text_size], track[series_text_size];
  if (!read_text(file, title) || !read_text(file, track)) return false;
  if (verbose) hovl_log("  event %s (%s)\n", track, title);
  memset(e, 0, sizeof *e);
  e->title = intern_string(title);
  e->track = find_track(track);
  if (e->track < 0) return false;
  if (dfile_scanf(file, "%d %d", &e->minutes, &e->laps) != 2) return false;
  // A race needs a length, and one the tic counter can hold.
  if (e->minutes < 0 || e->minutes > max_event_minutes || e->laps < 0 || e->laps > max_event_laps ||
      (e->minutes == 0 && e->laps == 0))
    return false;
  for (int k = 0; k < series_file_points; k++)
    if (dfile_scanf(file, "%d", &e->moto_points[k]) != 1) return false;
  for (int k = 0; k < series_file_points; k++)
    if (dfile_scanf(file, "%d", &e->round_points[k]) != 1) return false;
  return true;
}

// Parses one standings line into places; false unless it holds exactly
// riders numbers, each 1..riders.
bool parse_standings_line(const char *line, int riders, int *result) {
  const char *p = line;
  for (int r = 0; r < riders; r++) {
    char *end = nullptr;
    long v = strtol(p, &end, 10);
    if (end == p || v < 1 || v > riders) return false;
    result[r] = static_cast<int>(v) - 1;
    p = end;
  }
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') p++;
  return *p == 0;
}

bool ends_with(const char *text, const char *suffix) {
  size_t n = strlen(text), m = strlen(suffix);
  return n >= m && strcmp(text + n - m, suffix) == 0;
}

void load_one(const char *name) {
  char path[series_text_size + 16];
  if (snprintf(path, sizeof path, "@%s", name) >= static_cast<int>(sizeof path)) return;
  DataFile *file = dfile_open(path, "rb");
  if (!file) return;
  Series s;
  int ok = series_read(file, name, &s);
  dfile_close(file);
  if (!ok) return;
  DataFile *standings = dfile_open(s.standings_path, "rb");
  if (standings) {
    standings_read(standings, &s);
    dfile_close(standings);
  }
  grow_array(list, list_count, list_capacity);
  list[list_count++] = s;
}

// Gate order of later events: the j-th rider assigned (worst result first)
// takes gate order[j].
int later_gate(int riders, int j) {
  static const int small_field[] = {6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30, 32, 34};
  static const int large_field[] = {10, 9, 11, 8, 12, 7, 13, 6, 14, 5, 15, 4, 16, 3, 17, 2, 18, 1, 19, 0};
  constexpr int large_count = static_cast<int>(sizeof large_field / sizeof large_field[0]);
  if (riders - 1 <= 14) return small_field[j];
  return j < large_count ? large_field[j] : j;
}

// The round place text of one rider: "%d (%d-%d)" once the round is
// scored, "- (%d-)" while it runs, empty before it starts.
void round_cell(const Series *s, int round, int rider, char *out, int size) {
  int first, last;
  out[0] = 0;
  if (!series_round_events(s, round, &first, &last) || first >= s->events_done) return;
  const SeriesEvent &end = s->events[last];
  bool scored = last < s->events_done && end.round_points[0] != 0;
  int n = scored ? snprintf(out, static_cast<size_t>(size), "%d (", end.round_points[end.round_rank[rider]])
                 : snprintf(out, static_cast<size_t>(size), "- (");
  for (int e = first; e <= last && e < s->events_done && n < size; e++)
    n += snprintf(out + n, static_cast<size_t>(size - n), e > first ? "-%d" : "%d", s->events[e].result[rider] + 1);
  if (n < size) n += snprintf(out + n, static_cast<size_t>(size - n), last < s->events_done ? ")" : "-)");
}

void set_cell(StandingsCell *cell, float x, float width, const char *text) {
  cell->x = x;
  cell->width = width;
  snprintf(cell->text, sizeof cell->text, "%s", text);
}

// The latest scoring round done: its last event, or -1.
int latest_scored_event(const Series *s) {
  for (int e = s->events_done - 1; e >= 0; e--)
    if (s->events[e].round_points[0] != 0) return e;
  return -1;
}

}  // namespace

// --- Files -------------------------------------------------------------------------

int series_read(DataFile *file, const char *file_name, Series *out) {
  memset(out, 0, sizeof *out);
  if (!file || !file_name) return 0;
  bool verbose = track_verbosity() > 0;
  char title[series_text_size], skill[series_text_size];
  if (!read_text(file, title)) return 0;
  if (verbose) hovl_log("series %s (%s)\n", file_name, title);
  int n = 0, events = 0;
  if (dfile_scanf(file, "%d %1023s", &n, skill) != 2 || n < 0 || n > max_series_competitors) return 0;
  for (int i = 0; i < n; i++)
    if (dfile_scanf(file, "%d", &out->competitors[i]) != 1) return 0;
  if (dfile_scanf(file, "%d", &events) != 1 || events < 0) return 0;
  // Events are added as they are read, so a count the file does not hold
  // never allocates more than the file itself describes.
  for (int e = 0; e < events; e++) {
    grow_array(out->events, out->event_count, out->event_capacity);
    if (!read_event(file, &out->events[out->event_count], verbose)) {
      series_free(out);
      return 0;
    }
    out->event_count++;
  }
  char path[series_text_size + 32];
  snprintf(path, sizeof path, "@%s_standings", file_name);
  out->file_name = intern_string(file_name);
  out->title = intern_string(title);
  out->standings_path = intern_string(path);
  out->skill = skill_of(skill);
  out->competitor_count = n;
  return 1;
}

int standings_read(DataFile *file, Series *series) {
  series->events_done = 0;
  int riders = series->competitor_count + 1;
  char line[standings_line_size];
  while (file && series->events_done < series->event_count && dfile_gets(file, line, sizeof line)) {
    // A line cut by the buffer is not a complete line either.
    size_t length = strlen(line);
    if (length == sizeof line - 1 && line[length - 1] != '\n') break;
    if (!parse_standings_line(line, riders, series->events[series->events_done].result)) break;
    series->events_done++;
  }
  series_compute_round_ranks(series);
  return series->events_done;
}

int write_standings(const Series *series) {
  DataFile *file = dfile_open_replace(series->standings_path);
  if (!file) {
    print_message("Can't write the standings file");
    return 0;
  }
  int riders = series->competitor_count + 1;
  for (int e = 0; e < series->events_done; e++) {
    for (int r = 0; r < riders; r++) dfile_printf(file, "%d ", series->events[e].result[r] + 1);
    dfile_printf(file, "\n");
  }
  if (!dfile_commit_replace(file)) {
    print_message("Can't write the standings file");
    return 0;
  }
  return 1;
}

void series_compute_round_ranks(Series *series) {
  int riders = series->competitor_count + 1;
  int64_t sums[series_places] = {};
  for (int e = 0; e < series->events_done; e++) {
    SeriesEvent &event = series->events[e];
    for (int r = 0; r < riders; r++) sums[r] += event.moto_points[event.result[r]];
    if (event.round_points[0] == 0) continue;
    bool ranked[series_places] = {};
    for (int rank = 0; rank < riders; rank++) {
      int best = -1;
      for (int r = 0; r < riders; r++) {
        if (ranked[r]) continue;
        if (best < 0 || sums[r] > sums[best] || (sums[r] == sums[best] && event.result[r] < event.result[best]))
          best = r;
      }
      ranked[best] = true;
      event.round_rank[best] = rank;
    }
    for (int r = 0; r < riders; r++) sums[r] = 0;
  }
}

void series_free(Series *series) {
  tracked_free(series->events);
  series->events = nullptr;
  series->event_count = series->event_capacity = series->events_done = 0;
}

// --- The list -------------------------------------------------------------------------

void load_series() {
  free_series();
  for (const char *const *name = file_list(); *name; name++)
    if (ends_with(*name, ".series")) load_one(*name);
}

void free_series() {
  for (int i = 0; i < list_count; i++) series_free(&list[i]);
  tracked_free(list);
  list = nullptr;
  list_count = list_capacity = 0;
  selected = running = running_event = -1;
}

int series_count() { return list_count; }
Series *series_at(int index) { return index >= 0 && index < list_count ? &list[index] : nullptr; }

int find_series(const char *name) {
  if (!name) return -1;
  for (int i = 0; i < list_count; i++) {
    const Series &s = list[i];
    size_t stem = strlen(s.file_name) - strlen(".series");
    if (strcasecmp(s.file_name, name) == 0 || strcasecmp(s.title, name) == 0 ||
        (strlen(name) == stem && strncasecmp(s.file_name, name, stem) == 0))
      return i;
  }
  return -1;
}

void select_series(int index) { selected = index >= 0 && index < list_count ? index : -1; }
int selected_series() { return selected; }
int running_series() { return running; }
int running_series_event() { return running_event; }

// --- Events ---------------------------------------------------------------------------

int series_lineup(const Series *series, int kinds[max_slots]) {
  for (int i = 0; i < max_slots; i++) kinds[i] = slot_kind_empty;
  if (!series || series->events_done >= series->event_count) return 0;
  int n = series->competitor_count;
  auto kind_of = [&](int rider) {
    return rider == n ? slot_kind_human : slot_kind_numbered_robot + series->competitors[rider];
  };
  if (series->events_done == 0) {
    for (int rider = 0; rider <= n; rider++) kinds[rider] = kind_of(rider);
    return 1;
  }
  // Worst first: not placed, then last place ... the winner; the same place
  // keeps competitor order with the player last.
  const int *previous = series->events[series->events_done - 1].result;
  int j = 0;
  for (int place = n; place >= 0; place--)
    for (int rider = 0; rider <= n; rider++)
      if (previous[rider] == place) kinds[later_gate(n + 1, j++)] = kind_of(rider);
  return 1;
}

int start_series_event(int practice) {
  Series *s = series_at(selected);
  if (!s || s->events_done >= s->event_count) return 0;
  if (!practice && running == selected) return 1;
  int kinds[max_slots];
  series_lineup(s, kinds);
  const SeriesEvent &event = s->events[s->events_done];
  GameSettings &g = game_settings();
  select_choice(&g.track, track_dir(event.track));
  if (net_connected()) net_leave();
  int finish = event.minutes * 60 * tics_per_second;
  int number = s->events_done, index = selected;
  if (!race_reset(kinds, 0, g.record.selected == 1, finish, event.laps, s->skill)) return -1;
  if (!practice) {
    running = index;
    running_event = number;
  }
  return 1;
}

void series_event_places(const Series *series, int result[series_places]) {
  int n = series->competitor_count;
  for (int r = 0; r <= n; r++) result[r] = n;
  const RaceState &race = race_state();
  int place = 0;
  for (int k = 0; k < race.running_count; k++) {
    int slot = race.running_order[k].slot;
    const Slot *s = race_slot(slot);
    if (!s || !s->bike) continue;
    if (s->drive_mode == drive_local) {
      // Left early, the player counts only with a clean finish.
      if (result[n] == n && (race.results_final || (rider_finished(slot) && cutting_penalty(slot) == 0)))
        result[n] = place++;
      continue;
    }
    if (s->drive_mode != drive_robot) continue;
    for (int i = 0; i < n; i++) {
      char number[16];
      snprintf(number, sizeof number, "%d", series->competitors[i]);
      if (result[i] == n && strcmp(number, s->number) == 0) {
        result[i] = place++;
        break;
      }
    }
  }
}

void finish_series_event() {
  Series *s = series_at(running);
  int event = running_event;
  running = running_event = -1;
  if (!s || event < 0 || s->events_done != event || event >= s->event_count) return;
  series_event_places(s, s->events[event].result);
  s->events_done++;
  series_compute_round_ranks(s);
  write_standings(s);
}

void reset_series_points() {
  Series *s = series_at(selected);
  if (!s) return;
  s->events_done = 0;
  series_compute_round_ranks(s);
}

// --- The Standings screen -----------------------------------------------------------

void standings_title(const Series *series, char *out, int size) {
  if (series->events_done < series->event_count)
    snprintf(out, static_cast<size_t>(size), "Next Event: %.900s", series->events[series->events_done].title);
  else
    snprintf(out, static_cast<size_t>(size), "%.900s Final Standings", series->title);
}

int series_round_count(const Series *series) {
  int rounds = 0;
  for (int e = 0; e < series->event_count; e++)
    if (series->events[e].round_points[0] != 0 || e == series->event_count - 1) rounds++;
  return rounds;
}

int series_round_events(const Series *series, int round, int *first, int *last) {
  int r = 0, start = 0;
  for (int e = 0; e < series->event_count; e++) {
    if (series->events[e].round_points[0] == 0 && e != series->event_count - 1) continue;
    if (r == round) {
      *first = start;
      *last = e;
      return 1;
    }
    r++;
    start = e + 1;
  }
  return 0;
}

void series_totals(const Series *series, int64_t totals[series_places]) {
  int riders = series->competitor_count + 1;
  for (int r = 0; r < riders; r++) totals[r] = 0;
  for (int e = 0; e < series->events_done; e++) {
    const SeriesEvent &event = series->events[e];
    if (event.round_points[0] == 0) continue;
    for (int r = 0; r < riders; r++) totals[r] += event.round_points[event.round_rank[r]];
  }
}

void series_standings_order(const Series *series, int order[series_places]) {
  int riders = series->competitor_count + 1;
  int64_t totals[series_places];
  series_totals(series, totals);
  int latest = latest_scored_event(series);
  for (int r = 0; r < riders; r++) order[r] = r;
  auto before = [&](int a, int b) {
    if (totals[a] != totals[b]) return totals[a] > totals[b];
    if (latest >= 0) {
      int ra = series->events[latest].round_rank[a], rb = series->events[latest].round_rank[b];
      if (ra != rb) return ra < rb;
    }
    return a < b;
  };
  for (int a = 1; a < riders; a++) {
    int rider = order[a], k = a;
    for (; k > 0 && before(rider, order[k - 1]); k--) order[k] = order[k - 1];
    order[k] = rider;
  }
}

int standings_block_count(const Series *series) {
  int rounds = series_round_count(series);
  return rounds == 0 ? 1 : (rounds + standings_block_rounds - 1) / standings_block_rounds;
}

void standings_block(const Series *series, int block, const char *player_number, StandingsBlock *out) {
  int rounds = series_round_count(series);
  int first = block * standings_block_rounds;
  int shown = rounds - first;
  if (shown < 0) shown = 0;
  if (shown > standings_block_rounds) shown = standings_block_rounds;
  out->first_round = first;
  out->column_count = shown + 2;
  float x[standings_block_columns], width[standings_block_columns];
  x[0] = 0;
  width[0] = standings_number_width;
  for (int c = 1; c <= shown; c++) {
    x[c] = standings_number_width + standings_round_width * static_cast<float>(c - 1);
    width[c] = standings_round_width;
  }
  x[shown + 1] = standings_number_width + standings_round_width * static_cast<float>(shown);
  width[shown + 1] = standings_total_width;
  set_cell(&out->header[0], x[0], width[0], "No.");
  for (int c = 1; c <= shown; c++) {
    char text[16];
    snprintf(text, sizeof text, "Rd %d", first + c);
    set_cell(&out->header[c], x[c], width[c], text);
  }
  set_cell(&out->header[shown + 1], x[shown + 1], width[shown + 1], "Total");

  int n = series->competitor_count;
  int order[series_places];
  int64_t totals[series_places];
  series_standings_order(series, order);
  series_totals(series, totals);
  out->row_count = n + 1;
  out->player_row = -1;
  for (int row = 0; row <= n; row++) {
    int rider = order[row];
    StandingsCell *cells = out->rows[row];
    char text[standings_cell_size];
    if (rider == n) {
      out->player_row = row;
      set_cell(&cells[0], x[0], width[0], player_number ? player_number : "");
    } else {
      snprintf(text, sizeof text, "%d", series->competitors[rider]);
      set_cell(&cells[0], x[0], width[0], text);
    }
    for (int c = 1; c <= shown; c++) {
      round_cell(series, first + c - 1, rider, text, sizeof text);
      set_cell(&cells[c], x[c], width[c], text);
    }
    snprintf(text, sizeof text, "%lld", static_cast<long long>(totals[rider]));
    set_cell(&cells[shown + 1], x[shown + 1], width[shown + 1], text);
  }
}
