// The race protocol on the wire: every datagram between a client and the race
// server as a plain record with its encoder and decoder, the reliable channel
// both ends run, the rider info text, the text commands, the password proof
// and the version text.
//
// Byte 0 of every datagram is its type; all integers are little-endian, int32
// signed. Offsets below count from the start of the datagram.
//
// Client to server:
//   0 contact          21  1: password flag; 2..4: 0; 5..8: identity A; 9..12: 34;
//                          13..16: nonce; 17..20: identity B
//   3 client info   41+n  1..4 slot; 5..8 connection id; 9..12 password proof;
//                          13..16 identity A; 17..20 nonce; 21..40 client token; 41.. rider info
//   5 track ack        13  slot, connection id, race id
//   7 bike ack         17  slot, connection id, race id, last rider acknowledged
//   9 loaded           13  slot, connection id, race id
//  11 state            60  slot, connection id, race id, highest server tic, local tic,
//                          21..59 packed bike state
//  13 restart request  13  slot, connection id, 1
//  14 restart ack      13  slot, connection id, race id
//  15 disconnect        9  slot, connection id
//  17 reliable      14+n  slot, connection id, sequence, 13: kind, 14.. payload
//  18 ack              13  slot, connection id, sequence
//
// Server to client:
//   1 server full       1
//   2 hello            13  my slot, connection id, protocol version (6)
//   4 track         37+n  race id, duration (tics), laps, gate drop tic, 17..36 track hash,
//                          37.. track directory name
//   6 rider info     9+n  race id, slot, 9.. rider info
//   8 start          9+n  race id, gate position, 9.. this client's own rider info
//  10 time             13  race id, server tic, echo of a local tic (0 = none)
//  11 states      17+47N  race id, server tic, echo, record count N, then N records of
//                          47 bytes: slot (u16), ping (u16), tic, packed bike state
//  13 (unused)          5  an int32 the client ignores
//  14 restart           5  new race id
//  15 disconnected      1
//  16 refusal        1+n  1.. text
//  17 reliable       6+n  sequence, 5: kind, 6.. payload
//  18 ack               5  sequence
//  25 redirect       5+n  nonce, 5.. new server address (at most 127 characters)
//
// Decoders check every length before they read; a datagram too short for its
// type's fixed fields, or of an unknown type, decodes to nothing.
#pragma once
#include <cstdint>

#include "app/types.h"
#include "bike/bike.h"  // PackedBikeState: the protocol only carries its bytes
#include "net/transport.h"

constexpr int server_protocol_version = 6;
constexpr int contact_protocol_value = 34;
constexpr int slot_none = max_slots;  // no slot, no gate position, no rider acknowledged
constexpr int track_hash_size = 20;
constexpr int client_token_size = 20;
constexpr int state_record_size = 47;
constexpr int state_records_offset = 17;
constexpr int state_message_size = 60;
constexpr int redirect_address_max = 127;

// Message types.
constexpr int msg_contact = 0;
constexpr int msg_server_full = 1;
constexpr int msg_hello = 2;
constexpr int msg_client_info = 3;
constexpr int msg_track = 4;
constexpr int msg_track_ack = 5;
constexpr int msg_rider_info = 6;
constexpr int msg_bike_ack = 7;
constexpr int msg_start = 8;
constexpr int msg_loaded = 9;
constexpr int msg_time = 10;
constexpr int msg_state = 11;   // client to server: one state
constexpr int msg_states = 11;  // server to client: state records
constexpr int msg_restart_request = 13;
constexpr int msg_server_13 = 13;
constexpr int msg_restart_ack = 14;
constexpr int msg_restart = 14;
constexpr int msg_disconnect = 15;
constexpr int msg_disconnected = 15;
constexpr int msg_refusal = 16;
constexpr int msg_reliable = 17;
constexpr int msg_ack = 18;
constexpr int msg_redirect = 25;

// Reliable message kinds.
constexpr int kind_rider_info = 3;
constexpr int kind_chat = 19;
constexpr int kind_timing = 21;
constexpr int kind_text = 24;
constexpr int kind_deformation = 27;

// Reliable messages: room per queued message, and the cut for text payloads.
constexpr int reliable_message_room = 484;
constexpr int reliable_client_header = 14;  // type, slot, connection id, sequence, kind
constexpr int reliable_server_header = 6;   // type, sequence, kind
constexpr int reliable_payload_max = reliable_message_room - reliable_client_header;
constexpr int reliable_text_max = 466;
// Early messages kept per channel; a message beyond them is neither kept nor
// acknowledged, so the sender resends it.
constexpr int reliable_early_limit = 32;

// Rider info text room: in the client info message and in the kind 3 update.
constexpr int client_info_text_room = 982;
constexpr int rider_update_text_room = 465;

struct StateRecord {
  int slot;  // 0..65535 on the wire
  int ping;  // tics, 0..65535 on the wire
  int32_t tic;
  PackedBikeState state;
};

// A client-to-server datagram. Only the fields of its type matter.
struct ClientMessage {
  int type;
  int32_t slot;
  int32_t connection_id;
  int32_t race_id;      // 5, 7, 9, 11, 14; the value 1 in 13
  int32_t last_rider;   // 7
  int32_t highest_server_tic, local_tic;  // 11
  PackedBikeState state;                  // 11
  int32_t sequence;     // 17, 18
  int kind;             // 17
  int password_flag;    // 0
  int32_t identity_a, protocol_value, nonce, identity_b;  // 0; 3 uses identity_a and nonce
  uint8_t proof[4];                                       // 3
  uint8_t token[client_token_size];                       // 3
  const uint8_t *data;  // 3 rider info, 17 payload; not owned
  int data_length;
};

// A server-to-client datagram. Only the fields of its type matter.
struct ServerMessage {
  int type;
  int32_t slot;           // 2 the client's slot; 6 the rider's slot
  int32_t connection_id;  // 2
  int32_t version;        // 2
  int32_t race_id;        // 4, 6, 8, 10, 11; 14 the new race id
  int32_t duration, laps, gate_drop;  // 4
  uint8_t track_hash[track_hash_size];  // 4
  int32_t gate_position;  // 8
  int32_t server_tic, echo;  // 10, 11
  int32_t record_count;      // 11, as announced (records are read with state_record_at)
  int32_t value;             // 13
  int32_t nonce;             // 25
  int32_t sequence;          // 17, 18
  int kind;                  // 17
  const uint8_t *data;  // 4 track name, 6 and 8 rider info, 11 records, 16 text, 17 payload,
  int data_length;      // 25 address; not owned
};

void wire_put_i32(uint8_t *at, int32_t value);
int32_t wire_get_i32(const uint8_t *at);
void wire_put_u16(uint8_t *at, int value);
int wire_get_u16(const uint8_t *at);

// Encoders return the datagram's length, or 0 when it does not fit in `size`.
int encode_client_message(const ClientMessage *message, uint8_t *out, int size);
int encode_server_message(const ServerMessage *message, uint8_t *out, int size);
// Decoders return 1 when the datagram is a known type with all its fixed
// fields present; text and payload pointers point into `bytes`.
int decode_client_message(const uint8_t *bytes, int length, ClientMessage *out);
int decode_server_message(const uint8_t *bytes, int length, ServerMessage *out);

void encode_state_record(const StateRecord *record, uint8_t out[state_record_size]);
// Record `index` of a states message; 0 when the datagram is too short for it.
int state_record_at(const ServerMessage *message, int index, StateRecord *out);

// --- Reliable payloads --------------------------------------------------------
struct TimingEntry {
  int32_t slot, index, tic;
};
constexpr int timing_entries_max = (net_datagram_max - reliable_server_header - 8) / 12;
// Kind 21 from the server: race id, count N, N entries of (slot, index, tic).
struct TimingUpdate {
  int32_t race_id;
  int count;
  TimingEntry entries[timing_entries_max];
};
// 0 when the count is negative or the entries do not fit in the payload.
int decode_timing_update(const uint8_t *payload, int length, TimingUpdate *out);
int encode_timing_update(const TimingUpdate *update, uint8_t *out, int size);

// --- The reliable channel -------------------------------------------------
// Both ends run one per connection: outgoing messages wait in a queue and
// only the head is in flight, resent every half second until acknowledged;
// incoming messages are delivered in sequence order, early ones kept aside.
constexpr double reliable_resend_interval = 0.5;

struct ReliableOutgoing {
  int32_t sequence;
  double resend_time;  // program clock; 0 sends at the next chance
  int length;
  uint8_t bytes[reliable_message_room];
};

struct ReliableEarly {
  int32_t sequence;
  int length;
  uint8_t bytes[net_datagram_buffer_size];
};

struct ReliableChannel {
  ReliableOutgoing *queue;  // growable; entries head..head+count-1 wait
  int queue_head, queue_count, queue_capacity;
  int32_t next_outgoing;
  int32_t expected_incoming;
  ReliableEarly *early;  // reliable_early_limit entries, allocated on first use
  int early_count;       // sorted by sequence
};

// Queues a client-to-server reliable message (type 17 with slot and
// connection id); text kinds are cut to reliable_text_max bytes, other
// payloads to the room. Returns its sequence.
int32_t reliable_queue_client(ReliableChannel *channel, int32_t slot, int32_t connection_id, int kind,
                              const void *payload, int length);
// The same from the server's side (type 17 with sequence and kind only).
int32_t reliable_queue_server(ReliableChannel *channel, int kind, const void *payload, int length);
// The head when its resend time has come (its next resend is then set half a
// second later), else null.
const ReliableOutgoing *reliable_due(ReliableChannel *channel, double now);
// An acknowledgment: removes the head when the sequence is the head's.
void reliable_acknowledge(ReliableChannel *channel, int32_t sequence);

// What to do with an incoming reliable datagram.
enum ReliableVerdict {
  reliable_deliver,    // in order: handle it now, then drain reliable_take_early
  reliable_duplicate,  // seen before: acknowledge and drop
  reliable_kept,       // ahead of sequence: kept; acknowledge
  reliable_refused,    // ahead of sequence but no room: do not acknowledge
};
int reliable_receive(ReliableChannel *channel, int32_t sequence, const uint8_t *datagram, int length);
// Copies out the kept datagram that is next in sequence and advances the
// expected sequence; returns its length, or 0 when the next one is missing.
int reliable_take_early(ReliableChannel *channel, uint8_t *out, int size);
// Frees both lists and sets the sequences to 0.
void reliable_reset(ReliableChannel *channel);

// --- Rider info text ----------------------------------------------------------
constexpr int rider_text_size = 128;
constexpr int rider_number_size = 4;  // three characters and the terminator
constexpr int rider_name_size = 64;

struct RiderInfo {
  char bike[rider_text_size];
  char rider_texture[rider_text_size];
  char bike_texture[rider_text_size];
  char wheel_texture[rider_text_size];
  char head_texture[rider_text_size];
  char number[rider_number_size];
  char name[rider_name_size];
};

// Three lines: "bike|rider|bike texture|wheel|head", number, name; the short
// form "bike\nnumber\nname" when the long one does not fit in `room`.
// Returns the length written (no terminator counted; out is terminated).
int rider_info_text(const RiderInfo *info, int room, char *out, int out_size);
// Splits a received text; fields that are missing stay empty, long ones are cut.
void parse_rider_info(const uint8_t *text, int length, RiderInfo *out);

// --- Text commands from the server ---------------------------------------------
constexpr int knockout_count = 16;
constexpr int32_t knockout_max = 460800;  // one hour in tics

enum TextCommandKind {
  command_unknown,
  command_no_arcade,
  command_off_course_bias,
  command_off_course_scale,
  command_knockout,
  command_erode,
  command_erode_malformed,
  command_sendready,
  command_senddenied,
  command_version,
};

struct TextCommand {
  int kind;
  float value;                        // off-course bias or scale
  int32_t knockout[knockout_count];   // extra crash times in tics
  int32_t race_id, amount;            // erode
};

// `text` is terminated. Returns the kind (also stored in out->kind).
int parse_text_command(const char *text, TextCommand *out);

// --- Proofs and texts ------------------------------------------------------------
// RIPEMD-160 of the password's bytes and the connection id (4 bytes,
// little-endian); the proof is digest bytes 3, 2, 1, 0. Zeros without a password.
void password_proof(const char *password, int32_t connection_id, uint8_t proof[4]);
// "version %x %d " + 64 hex digits + " 2019-02-04-1446 snapshot" + " renderer"
// + " gl version", cut to the buffer ("NULL" for a missing GL string).
void build_version_text(char *buffer, int size, unsigned status_a, int status_b, const uint8_t build_id[32],
                        const char *renderer, const char *gl_version);
// "%d laps", "%d minutes" or "%d minutes + %d laps" for a race's length.
void race_length_text(int32_t duration_tics, int32_t laps, char *buffer, int size);
