// The race server: the other end of the race protocol. It accepts clients,
// gives each a slot and a start gate position, runs the race clock, runs its
// races one after another over a list of tracks, relays rider states, timing,
// chat and terrain deformation to every client, and sends the text commands
// that set the race rules. It has no window and no sound; the torvane-server
// tool runs it, and tests run it in-process on 127.0.0.1.
//
// A client's life on the server: contact -> hello; client info (password
// proof checked) -> joined: the track message is repeated until acknowledged,
// then the other riders' infos one at a time (each bike acknowledgment names
// the last one taken), then the start message until the client says it has
// loaded; from then on it gets time or states messages every 4 tics. A new
// race sends the restart message, and after its acknowledgment the handshake
// begins again at the track message.
//
// With `robots` set and the game data at hand, robot riders simulated here
// (server_robots.h) take the top free slots and the gate positions after the
// riders', and reach the clients as riders like any other.
#pragma once
#include <cstdint>

#include "net/protocol.h"
#include "net/transport.h"

constexpr int server_max_tracks = 64;
constexpr int server_text_size = 128;
constexpr double server_state_interval = 4 * seconds_per_tic;
// A reliable queue longer than this means the client stopped acknowledging.
constexpr int server_reliable_backlog_limit = 2048;

// When an address last had a contact logged, and how many lines were left out since.
constexpr int server_log_limit_addresses = 32;
struct ServerLogLimit {
  int used;
  NetAddress address;
  double last;
  int left_out;
};

struct ServerTrack {
  char dir[server_text_size];
  int laps;        // 0 = the default
  double minutes;  // < 0 = the default
  uint8_t hash[track_hash_size];
  int have_hash;
  int first_lap, normal_lap;  // timing gates per lap, 0 when unknown
};

struct ServerConfig {
  char bind[server_text_size];      // empty = every interface
  int port;
  char password[server_text_size];  // empty = none
  int max_riders;                   // 1..160
  double gate_delay;                // seconds from the race start to the gate drop
  int laps;
  double minutes;                   // 0 = laps only
  double results_wait;              // seconds between the end of a race and the next
  double race_limit;                // minutes: a race never runs longer
  double client_timeout;            // seconds of silence before a client is dropped
  int erode;                        // erosion amount sent at each race (0 = off)
  char knockout[server_text_size];  // extra crash times in tics, blank-separated
  double off_course_bias, off_course_scale;
  int no_arcade;
  int restart_votes;                // 1: a majority of restart requests restarts the race
  char tracks_dir[server_text_size];  // where "<dir>.trackinfo" files are read
  char motd[server_text_size];      // chat line for every new rider
  double quit_after;                // seconds; 0 = run until stopped
  int robots;                       // robot riders simulated here in every race (0: none)
  int robot_skill;                  // their lines: 0 novice, 1 amateur, 2 expert
  char home[server_text_size];      // where the game data's user files go; empty = the user's home
  char accept_files[server_text_size];  // folder for files riders send; empty = refuse them all
  int max_file_size;                // bytes
  int max_files;                    // files one rider may send per connection
  ServerTrack tracks[server_max_tracks];
  int track_count;
};

// The defaults of the commented configuration file.
void server_config_defaults(ServerConfig *config);
// Reads "key = value" lines ("#" starts a comment); unknown keys and bad
// values are reported through `warn` and skipped. A "track" line adds a track
// (the first one replaces the defaults' empty list).
void server_config_read(ServerConfig *config, const char *text, void (*warn)(const char *line));
// Command-line options override the file: returns -1 to go on, else the exit
// status (messages written to `warn`). `--config` is looked at by the tool.
int server_config_arguments(ServerConfig *config, int argc, char **argv, void (*warn)(const char *line));
// Fills in each track's hash and lap lengths from "<tracks_dir>/<dir>.trackinfo"
// when the configuration did not give them.
void server_config_track_info(ServerConfig *config, void (*warn)(const char *line));
// The commented default configuration file's text.
const char *server_config_default_text();

enum ServerClientState {
  server_client_free,
  server_client_greeted,   // hello sent, waiting for the client info
  server_client_track,     // track message until acknowledged
  server_client_riders,    // rider infos until the last is acknowledged, then start
  server_client_starting,  // start message until loaded
  server_client_racing,    // time and states
  server_client_restart,   // restart message until acknowledged
};

// A file a rider is sending (see server_files.h).
constexpr int server_path_size = 1024;
struct ServerUpload {
  int open;        // a temporary file is being written
  int fd;
  long long bytes;
  int files;       // files received from this rider
  int swallowing;  // a refused transfer's parts are still arriving
  char temp[server_path_size];
};

struct ServerClient {
  int state;
  NetAddress address;
  int32_t connection_id;
  int32_t nonce;
  RiderInfo rider;
  char rider_text[net_datagram_buffer_size];
  int rider_text_length;
  int in_race;        // has a bike in the current race
  int gate_position;  // slot_none when watching
  int riders_sent;    // slots up to this one have been acknowledged (-1 none)
  int roster[max_slots];  // the riders this client was told about for the current race
  int roster_count;
  double last_heard, last_sent;
  int32_t state_tic;  // tic of the latest state; INT32_MIN none
  int32_t latest_local_tic;  // echoed back in time and states messages
  int32_t server_tic_seen;   // highest server tic the client reported
  PackedBikeState bike;      // the latest state
  int32_t race_id;           // the race the client knows (its handshake runs on it)
  int timing_count;          // timing entries received for this race
  int32_t timing_last;
  int finished;
  int restart_vote;
  ReliableChannel reliable;
  ServerUpload upload;
};

// A robot rider of the current race: simulated here (see server_robots.h)
// and sent to the clients as a rider like any other.
constexpr int server_robot_text_size = 256;
struct ServerRobot {
  int slot;           // on the wire; taken from the top of the free slots
  int gate_position;  // also its slot in the simulated race
  RiderInfo rider;
  char rider_text[server_robot_text_size];
  int rider_text_length;
  int timing_count;   // timing entries so far (all relayed)
  int32_t timing_last;
  int finished;
};

struct RaceServer {
  ServerConfig config;
  int socket;
  int port;  // the bound port
  ServerClient clients[max_slots];
  int32_t race_id;
  int track_index;
  int32_t duration, laps, gate_drop;
  double race_start;   // program clock at server tic 0
  int32_t server_tic;
  int race_over;
  double race_over_at;
  double next_state_send;
  double started_at;
  uint32_t random_state;  // connection ids
  int64_t garbage;        // datagrams that did not decode or fit
  ServerRobot robots[max_slots];
  int robot_count;
  int robot_index[max_slots];  // per wire slot its robot, -1 none
  void (*log)(const char *line);  // one line, no newline; stdout when null
  ServerLogLimit log_limits[server_log_limit_addresses];  // contacts logged per address
};

// Opens the socket and prepares the first race. Returns 1 on success.
int server_start(RaceServer *server, const ServerConfig *config, double now);
// Receives and handles every waiting datagram, advances the clock, sends what
// is due. Returns 0 once `quit_after` has passed.
int server_run(RaceServer *server, double now);
// Handles one datagram from `from` (the receive loop and the fuzz target).
void server_handle_datagram(RaceServer *server, const uint8_t *bytes, int length, const NetAddress *from, double now);
// Says goodbye to every client and closes the socket.
void server_stop(RaceServer *server);
// Riders connected (any state but free).
int server_client_count(const RaceServer *server);

// --- For the robots ----------------------------------------------------------------
// One line in the server's log (printf-style).
void server_say(const RaceServer *server, const char *format, ...) __attribute__((format(printf, 2, 3)));
// A rider passed timing index `index` at `tic`: every racing client hears it.
void server_relay_timing(RaceServer *server, int slot, int32_t index, int32_t tic);
// A terrain deformation packet for every racing client.
void server_relay_erode(RaceServer *server, const uint8_t *packet, int length);
