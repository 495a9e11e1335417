// Points series: championships defined by ".series" files, raced event by
// event, with the standings kept in a second file beside each.
//
// Series file (text, read with scanf conversions; blanks and line breaks
// are interchangeable):
//   title                 in double quotes (up to 1023 characters) or one word
//   N skill               competitor count (0..159) and "Novice", "Amateur"
//                         or "Expert" (an unknown word means "Expert")
//   N rider numbers       the robots of the roster that ride the series
//   E                     event count, then E events:
//     title track         each in double quotes or one word; a known track
//     minutes laps        race length as for a new race
//     40 moto points      for finishing places 1..40, added up within a round
//     40 round points     for round places 1..40; a non-zero first entry
//                         makes this event the last of a round
//
// Standings file ("@" + series file name + "_standings"): one line per
// recorded event, in event order, holding N + 1 numbers "%d " (the place + 1
// of competitor 0..N-1, then the player's; N + 1 = not placed) and "\n".
// Reading stops at the first line that is not complete: the lines before it
// are the events done.
#pragma once
#include <cstdint>

#include "app/types.h"

struct DataFile;

constexpr int max_series_competitors = max_slots - 1;  // the player rides too
constexpr int series_places = max_slots;               // points tables per place
constexpr int series_file_points = 40;                 // entries given by the file
constexpr int series_text_size = 1024;                 // titles and names, with the terminator

struct SeriesEvent {
  const char *title;  // interned
  int track;          // index in the track list
  int minutes, laps;
  int moto_points[series_places];   // by finishing place; from 40 on 0
  int round_points[series_places];  // by round place; from 40 on 0
  // Per competitor 0..N-1 and the player (index N): place 0-based among the
  // series' riders, N = not placed. Valid for the events done.
  int result[series_places];
  // The rank in the round this event ends (events with round points only).
  int round_rank[series_places];
};

struct Series {
  const char *file_name;       // interned, as in the file list ("torvane.series")
  const char *title;           // interned
  const char *standings_path;  // interned "@" + file name + "_standings"
  int skill;                   // 0 Novice, 1 Amateur, 2 Expert
  int competitor_count;        // N
  int competitors[max_series_competitors];
  int event_count;             // E
  int event_capacity;
  SeriesEvent *events;
  int events_done;             // 0..E
};

// --- Files -------------------------------------------------------------------------
// Parses a series file; `file_name` is the name in the file list. Returns 1
// with `out` filled (its events allocated), or 0 on any error (nothing kept).
// Event tracks are looked up in the current track list.
int series_read(DataFile *file, const char *file_name, Series *out);
// Reads the results recorded so far; returns the events done (also set in
// `series`). Round ranks are recomputed.
int standings_read(DataFile *file, Series *series);
// Rewrites the standings file with the events done (a temporary file renamed
// into place). Returns 1 on success.
int write_standings(const Series *series);
// Round ranks from the events done.
void series_compute_round_ranks(Series *series);
void series_free(Series *series);

// --- The list of series -----------------------------------------------------------
// Start-up: every ".series" name of the file list ("@" + name, so the home
// directory is tried first) with its standings. A file with any error is
// left out (logged at a non-zero track verbosity).
void load_series();
void free_series();  // shutdown
int series_count();
Series *series_at(int index);  // null outside the list
// Index of the series whose file name (with or without ".series") or title
// is `name`, compared without regard to case; -1 when none.
int find_series(const char *name);
// The series the menu shows (-1 none).
void select_series(int index);
int selected_series();
// The counted event being run: its series and event number, -1 when none.
int running_series();
int running_series_event();

// --- Events ---------------------------------------------------------------------------
// Slot kinds of the selected series' next event: competitor i as the robot
// with its number (1000 + number), the player "Human"; first event by
// competitor order, later ones by the previous result, worst first, into
// the gate order of the field's size. Returns 0 when all events are done.
int series_lineup(const Series *series, int kinds[max_slots]);
// "Enter Next Event" (practice 0) and "Practice Next Event" (practice 1):
// selects the event's track, leaves a network game and resets the race.
// Returns 1 when the race started, 0 when all events are done, -1 when the
// track could not be loaded. A counted event does nothing (returns 1)
// while this series already has one running.
int start_series_event(int practice);
// Records the result of the counted event being run, if any: at every race
// reset (as the race stands), when the race is over and at shutdown.
void finish_series_event();
// "Reset Points" on the selected series: no events done (the standings
// file is rewritten at the next recorded event).
void reset_series_points();
// The places the race in progress gives the series' riders (as recorded
// when the event is left now): `result` gets N + 1 entries.
void series_event_places(const Series *series, int result[series_places]);

// --- The Standings screen -----------------------------------------------------------
// Laid out in the menus' 32-unit frame: "No.", up to eight "Rd %d" columns
// and "Total" per block of eight rounds; blocks stack downwards.
constexpr int standings_block_rounds = 8;
constexpr int standings_block_columns = standings_block_rounds + 2;
constexpr int standings_cell_size = 48;
constexpr float standings_number_width = 3.0f;
constexpr float standings_round_width = 3.25f;
constexpr float standings_total_width = 3.0f;

struct StandingsCell {
  float x, width;  // frame units from the table's left edge
  char text[standings_cell_size];
};

struct StandingsBlock {
  int first_round;   // 0-based round of the first round column
  int column_count;  // "No.", this block's rounds, "Total"
  StandingsCell header[standings_block_columns];
  int row_count;     // one row per rider, best total first
  int player_row;
  StandingsCell rows[max_slots][standings_block_columns];
};

// "Next Event: %.900s" with the next event's title, or "%.900s Final
// Standings" with the series title when every event is done.
void standings_title(const Series *series, char *out, int size);
// Rounds: runs of events that end with a scoring event (trailing events
// after the last one form a round that never scores).
int series_round_count(const Series *series);
// First and last event (0-based) of round r; 0 outside.
int series_round_events(const Series *series, int round, int *first, int *last);
// Each rider's total over the scoring rounds done.
void series_totals(const Series *series, int64_t totals[series_places]);
// Riders (competitor index, N for the player) by total, best first; ties go
// to the better rank in the latest scoring round, then to competitor order.
void series_standings_order(const Series *series, int order[series_places]);
int standings_block_count(const Series *series);
// Fills block b (0-based); the player's row shows `player_number`.
void standings_block(const Series *series, int block, const char *player_number, StandingsBlock *out);
