// Demo files (".qxdemo"): recording a race from the history rings, playing
// one back into the rings of the slots that play its riders, the time-trial
// ghost (the track's "fastlap.qxdemo" and "lastlap.qxdemo"), and the setup
// of a "Playback Race".
//
// Format, version 6 (versions 4 and 5 are read too):
//
//   "QX06 R finish_time finish_laps gate_drop_tic\n"
//   track name "\n"
//   R rider blocks: "bike|rider body|bike graphics|wheels|helmet\n"
//                   rider number "\n", rider name "\n", "\n"
//   then chunks until the end of the file:
//     u32 link   payload length of the previous chunk (0 for the first)
//                XOR payload length of this one
//     i32 tic    when the chunk was written
//     u8  type   1 states, 2 chat text, 3 server command ("erode %d"),
//                5 terrain deformation packet; others are skipped
//     payload    type 1: entries of u8 rider index, i32 tic, 39-byte
//                PackedBikeState; each rider's entries together, oldest
//                first, riders in ascending order
//   All integers little-endian. The links let a reader walk both ways.
//
// Versions 4 and 5 have two-line rider blocks (fields, number) and a body of
// one frame per tic: one state per rider in header order, 26 bytes (version
// 4) or 39 bytes (version 5).
#pragma once
#include <cstdint>

#include "app/types.h"
#include "replay/history.h"

constexpr int demo_version_written = 6;
constexpr int demo_header_line = 1024;    // header lines are read with this buffer
constexpr int demo_chunk_header = 9;      // link, tic, type
constexpr int demo_entry_size = 1 + 4 + packed_bike_state_size;  // 44
constexpr int demo_v4_state_size = 26;
constexpr int demo_text_limit = 1023;     // chat, commands and erode packets
constexpr int demo_read_ahead_tics = 64;  // version 6 reads this far ahead
constexpr int demo_frame_ahead_tics = 8;  // versions 4 and 5
constexpr int demo_chunks_per_read = 128;
constexpr int demo_default_gate_drop = 1792;  // 14 s, when a header has none
constexpr int max_demo_backups = 100;
// A states chunk holds at most a full ring of every rider.
constexpr int max_demo_payload = demo_entry_size * history_length * max_slots;
// Tics beyond this (97 days) in a file are damage, not a race.
constexpr int max_demo_tic = 1 << 30;
constexpr int max_demo_name = 1016;  // "namedemo" refuses longer names

constexpr int chunk_states = 1;
constexpr int chunk_chat = 2;
constexpr int chunk_command = 3;
constexpr int chunk_erode = 5;

constexpr const char *default_demo_path = "@demos/default.qxdemo";

struct DemoRider {
  const char *fields[5];  // bike model, rider body, bike graphics, wheels, helmet (interned; "" = default)
  const char *number;     // interned
  const char *name;       // interned; "" in versions 4 and 5
  int slot;               // the slot that plays it, -1 none
};

struct DemoHeader {
  int version;
  int rider_count;
  int finish_time;
  int finish_laps;
  int gate_drop_tic;
  const char *track;  // interned
  DemoRider riders[max_slots];
  int body_start;  // bytes of the header
};

// Reads and checks a header without touching playback. Returns 1 when it is
// valid; otherwise 0, with the reason in `error` (when not null).
int demo_read_header(const char *path, DemoHeader *header, const char **error);

// --- Recording -----------------------------------------------------------------
// Starts recording ("lastlap.qxdemo" of the track in a time trial, else the
// default demo). The file is written under a temporary name and only put in
// place when closed. Nothing happens when it cannot be created.
void demo_open_write();
// Each tic: packs the local riders into their histories every 4 tics and
// writes a states chunk every 16 (both at once when forced).
void demo_write_tic(int force);
// Appends an event chunk (chat 2, command 3, erode 5) while recording.
void demo_write_event(int type, const void *payload, int length);
// Finishes the recording: backups of the default demo, the file put in
// place, then the "namedemo" name applied.
void demo_close_write();
int demo_recording();
// The "namedemo" command: the text up to the first blank, ".qxdemo" added
// unless present. Prints the outcome; returns 1 when the name was taken.
int demo_name_recording(const char *text);

// --- Playback --------------------------------------------------------------------
// The demo to play chosen on the command line or in the playback menu (null
// to forget it). The path is copied.
void demo_choose_file(const char *path);
const char *demo_chosen_file();
// Opens a demo to play: `path`, else the chosen file, else the default demo.
// Reads its header and puts its finish time, laps and gate drop into the
// race. Returns whether a valid header was read; on failure the rider table
// is empty.
int demo_open_read(const char *path);
void demo_close_read();
int demo_playing();
int demo_version();  // of the played demo, 0 when none
int demo_rider_count();
const DemoRider *demo_rider(int rider);  // null outside the table
const char *demo_track();                // null when nothing is played
// The race reset says which slot plays which demo rider.
void demo_map_rider(int rider, int slot);
// Feeds the played riders' histories a little ahead of the race clock.
void demo_read_ahead();
// Seeking (history module): puts the reader at the tic.
void demo_seek_reader(int tic);
// Why playback stopped early, or null.
const char *demo_stop_reason();

// --- Time trial ghost ----------------------------------------------------------------
// Whether the track's "fastlap.qxdemo" exists.
int demo_ghost_exists();
// Opens the fastest lap as the ghost; returns whether its header is valid.
int demo_open_ghost();
// Copies the track's "lastlap.qxdemo" byte for byte over "fastlap.qxdemo"
// (through a temporary file). Returns 1 on success.
int demo_keep_lap_as_fastest();

// --- Playback Race ----------------------------------------------------------------------
constexpr int playback_only = 0;   // "Playback Only"
constexpr int playback_race_against = 1;  // "Race Against"
constexpr int playback_gate_count = 40;

struct PlaybackSetup {
  int kinds[max_slots];  // slot kinds for the race reset (0 "Empty", 1 "Human")
  int record;            // record flag for the reset
  int laps;              // 10; the demo's header replaces it
};
// Chooses the file and fills the reset arguments of a "Playback Race".
// gate_kinds: the forty gate settings (1 = "Human"). Prints the refusal
// when recording would write the played file.
void demo_playback_setup(const char *path, int mode, const int gate_kinds[playback_gate_count], int record_setting,
                         PlaybackSetup *setup);

// Copies what is valid of a demo into a new file through the writer
// (header, then every complete chunk); a demo written by this program comes
// out byte for byte the same. Returns the number of chunks copied, -1 when
// the header is invalid or the target cannot be written.
int demo_rewrite(const char *from, const char *to);

// Tests: forgets every file and the chosen name.
void demo_reset_for_tests();
