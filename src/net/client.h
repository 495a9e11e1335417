// The client side of the race protocol: contacting a race server, the
// handshake phases, per-tic states, the reliable channel with its chat, text
// commands, timing records and deformation, and the clock following that
// keeps the local race clock near the server's. Everything runs from the main
// loop, one net_client_run per tic; there are no threads.
//
// Phases: 0 contacting -> 3 on hello (client info) -> 5 on track (track
// acknowledgment) -> 7 on the first rider info (bike acknowledgments) -> 9 on
// start (loaded) -> 11 on the first time or states message (racing). A restart
// with a higher race id leads from 9 or 11 to 14, and a new track back to 5.
// Version mismatch, an unknown or modified track, a refusal or the player's
// disconnect lead to 15, which sends disconnect messages every second until
// the server confirms.
//
// How the main loop drives it: at start-up net_set_hooks, net_set_password
// (--password), net_set_fake_conditions (--fake-lag, --fake-loss) and, with
// --connect, net_connect; each frame the advance goes through
// net_scale_advance; each tic net_client_run(program clock) comes before the
// race step, which is skipped while net_waiting_for_server; at shutdown
// net_client_shutdown.
#pragma once
#include <cstdint>

#include "app/types.h"
#include "net/protocol.h"

constexpr int net_phase_contacting = 0;
constexpr int net_phase_client_info = 3;
constexpr int net_phase_track_ack = 5;
constexpr int net_phase_bike_ack = 7;
constexpr int net_phase_loaded = 9;
constexpr int net_phase_racing = 11;
constexpr int net_phase_restart = 14;
constexpr int net_phase_disconnecting = 15;

// Slot kinds the client hands to the race reset.
constexpr int net_kind_empty = 0;
constexpr int net_kind_local = 1;
constexpr int net_kind_network = 5;

// Handshake messages are resent every second until the next phase begins.
constexpr double net_handshake_interval = 1.0;
// Nothing heard from the server for this long during the handshake or the
// race: the client gives up and says goodbye.
constexpr double net_silence_timeout = 30.0;
// A server that never confirms the disconnect is left after this long.
constexpr double net_disconnect_timeout = 10.0;
constexpr double net_default_off_course_bias = 10.0;
constexpr double net_default_off_course_scale = 1.5;
constexpr int net_track_name_size = 256;

// What the server asks the race reset for.
struct NetRaceSetup {
  const char *track;  // directory name from the track message
  int32_t duration;   // tics; 0 = laps only
  int32_t laps;
  int32_t gate_drop;  // tic
  int kinds[max_slots];  // net_kind_empty, net_kind_network or net_kind_local
  int my_slot;
  int gate_position;  // the local rider's start gate position; slot_none = only watching
};

// --- The seams ---------------------------------------------------------------
// Everything the client needs from the race control, the bikes, the history,
// the terrain and the demo recorder, in one place. The main program fills
// them at start-up; tests fill them with recorders. A null hook is skipped
// (a null query answers "no").
struct NetHooks {
  // 1 when the track directory is installed.
  int (*track_installed)(const char *track);
  // Resets the race for the server's race (slot kinds, local gate position,
  // erosion rate -1 until the server says) and fills the loaded track's hash.
  // Returns 0 when the track could not be loaded.
  int (*reset_race)(const NetRaceSetup *setup, uint8_t loaded_hash[track_hash_size]);
  // Clears every slot's state history (a new track is coming).
  void (*clear_histories)();
  // The race's tic counter, and setting it to the server's first tic.
  int32_t (*race_tic)();
  void (*set_race_tic)(int32_t tic);
  // 1 when the slot's bike exists and is driven from history.
  int (*is_remote)(int slot);
  // A remote rider's state for its history.
  void (*add_remote_state)(int slot, int32_t tic, const PackedBikeState *state);
  // The local rider's packed state; 0 when there is no local bike.
  int (*pack_local_state)(PackedBikeState *out);
  // The local rider's timing list: its length and the tic of its last entry
  // (-1 when none); 0 when there is no local bike.
  int (*local_timing)(int *count, int32_t *last_tic);
  // A remote rider passed timing index `index` (>= 0) at `tic`: set it and
  // cut the list to index + 1 entries; ignored when the slot has no bike or
  // the index is beyond the track's timing list.
  void (*set_remote_timing)(int slot, int index, int32_t tic);
  // Timing changed: refresh the standings.
  void (*standings_changed)();
  // The local rider's settings (bike, textures, number, name).
  void (*local_rider)(RiderInfo *out);
  // 0 while the main loop's game state forbids a rider info update.
  int (*info_update_allowed)();
  // Terrain deformation packet from the server.
  void (*apply_deformation)(const uint8_t *packet, int length);
  // The erosion amount from the server (a positive amount switches
  // deformation on).
  void (*set_erosion)(int amount);
  // The 16 extra crash times, in tics.
  void (*set_knockout)(const int32_t extra[knockout_count]);
  // The off-course rule's bias (seconds) and scale.
  void (*set_off_course)(double bias, double scale);
  // Clears the arcade flag of every locally controlled bike; returns 1 when
  // the local arcade setting was on.
  int (*arcade_off)();
  // Appends a chunk to the demo being recorded (2 chat, 3 server command,
  // 5 deformation packet); nothing when none is recorded.
  void (*record_demo)(int chunk_type, const uint8_t *data, int length);
  // File transfer: the server's answer (1 "sendready", 0 "senddenied") and
  // the per-run step.
  void (*file_reply)(int allowed);
  void (*file_step)(double now);
};

void net_set_hooks(const NetHooks *hooks);

// --- Driving the client ---------------------------------------------------------
// Sets the server to connect to ("host" or "host:port"); the next run connects.
void net_connect(const char *address);
void net_set_password(const char *password);  // null or "" for none
// Simulated lag (seconds, 0..1) and loss (percent) of received datagrams;
// the loss draw starts from `seed`.
void net_set_fake_conditions(double lag, int loss_percent, uint32_t seed);
// Once per tic; `now` is the program clock in seconds.
void net_client_run(double now);
// The player's disconnect: phase 15 when past contacting, else an immediate
// reset ("Disconnected").
void net_disconnect();
// Leaving without waiting (a local race or a demo starts): one disconnect
// message, "Disconnecting", reset.
void net_leave();
// In phase 11: the restart request.
void net_request_restart();
// Queues a reliable message; "Not connected to server" without a socket.
void net_send_reliable(int kind, const void *bytes, int length);
// A chat line for the server.
void net_send_chat(const char *text);
// A terrain deformation packet with the current race id.
void net_send_deformation(const uint8_t *packet, int length);
// The local rider's settings changed: a fresh rider info goes out in the race.
void net_rider_info_changed();
// The version text (at most size - 1 characters).
void net_version_text(char *buffer, int size);
// The GL renderer and version strings for the version text (null = "NULL").
void net_set_gl_strings(const char *renderer, const char *version);
// At shutdown: leaves the server, frees the queues, releases the socket library.
void net_client_shutdown();

// Hands one datagram to the client's handler as if it had arrived from the
// server (the receive loop and the fuzz target use it).
void net_client_handle_datagram(const uint8_t *bytes, int length, double now);

// --- What the rest of the game reads -------------------------------------------
int net_connected();  // a socket is open
int net_phase();
int net_my_slot();
int net_gate_position();
int32_t net_race_id();
int net_ping();  // tics
int32_t net_server_tic_estimate();
int32_t net_highest_server_tic();
// Connected, but no server tic yet: the race step waits.
int net_waiting_for_server();
// Connected while the local player has no start position in the server's race.
int net_warmup();
int net_slot_kind(int slot);
const RiderInfo *net_slot_rider(int slot);
int32_t net_slot_last_state_tic(int slot);  // INT32_MIN when none
int net_slot_ping(int slot);
int net_no_arcade();
// Reliable messages queued and not yet acknowledged by the server.
int net_reliable_backlog();
const char *net_track();
// The frame advance scaled to follow the server's clock (unchanged offline or
// before the first server tic).
double net_scale_advance(double advance, int32_t race_tic);
