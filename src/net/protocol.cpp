#include "net/protocol.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "app/ripemd160.h"

void wire_put_i32(uint8_t *at, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
  at[2] = static_cast<uint8_t>(v >> 16);
  at[3] = static_cast<uint8_t>(v >> 24);
}

int32_t wire_get_i32(const uint8_t *at) {
  uint32_t v = static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
               static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
  return static_cast<int32_t>(v);
}

void wire_put_u16(uint8_t *at, int value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

int wire_get_u16(const uint8_t *at) { return at[0] | at[1] << 8; }

namespace {

// The fixed part of each type; -1 for types that do not exist in a direction.
int client_fixed_length(int type) {
  switch (type) {
    case msg_contact: return 21;
    case msg_client_info: return 41;
    case msg_track_ack: return 13;
    case msg_bike_ack: return 17;
    case msg_loaded: return 13;
    case msg_state: return state_message_size;
    case msg_restart_request: return 13;
    case msg_restart_ack: return 13;
    case msg_disconnect: return 9;
    case msg_reliable: return reliable_client_header;
    case msg_ack: return 13;
    default: return -1;
  }
}

int server_fixed_length(int type) {
  switch (type) {
    case msg_server_full: return 1;
    case msg_hello: return 13;
    case msg_track: return 37;
    case msg_rider_info: return 9;
    case msg_start: return 9;
    case msg_time: return 13;
    case msg_states: return state_records_offset;
    case msg_server_13: return 5;
    case msg_restart: return 5;
    case msg_disconnected: return 1;
    case msg_refusal: return 1;
    case msg_reliable: return reliable_server_header;
    case msg_ack: return 5;
    case msg_redirect: return 5;
    default: return -1;
  }
}

// Types whose datagram ends with a text or payload of any length.
bool client_has_tail(int type) { return type == msg_client_info || type == msg_reliable; }
bool server_has_tail(int type) {
  return type == msg_track || type == msg_rider_info || type == msg_start || type == msg_states ||
         type == msg_refusal || type == msg_reliable || type == msg_redirect;
}

}  // namespace

int encode_client_message(const ClientMessage *m, uint8_t *out, int size) {
  int fixed = client_fixed_length(m->type);
  if (fixed < 0) return 0;
  int tail = client_has_tail(m->type) && m->data ? m->data_length : 0;
  if (tail < 0 || fixed + tail > size) return 0;
  memset(out, 0, static_cast<size_t>(fixed));
  out[0] = static_cast<uint8_t>(m->type);
  if (m->type == msg_contact) {
    out[1] = m->password_flag ? 1 : 0;
    wire_put_i32(out + 5, m->identity_a);
    wire_put_i32(out + 9, m->protocol_value);
    wire_put_i32(out + 13, m->nonce);
    wire_put_i32(out + 17, m->identity_b);
    return fixed;
  }
  wire_put_i32(out + 1, m->slot);
  wire_put_i32(out + 5, m->connection_id);
  switch (m->type) {
    case msg_client_info:
      memcpy(out + 9, m->proof, 4);
      wire_put_i32(out + 13, m->identity_a);
      wire_put_i32(out + 17, m->nonce);
      memcpy(out + 21, m->token, client_token_size);
      break;
    case msg_track_ack:
    case msg_loaded:
    case msg_restart_request:
    case msg_restart_ack: wire_put_i32(out + 9, m->race_id); break;
    case msg_bike_ack:
      wire_put_i32(out + 9, m->race_id);
      wire_put_i32(out + 13, m->last_rider);
      break;
    case msg_state:
      wire_put_i32(out + 9, m->race_id);
      wire_put_i32(out + 13, m->highest_server_tic);
      wire_put_i32(out + 17, m->local_tic);
      memcpy(out + 21, m->state.bytes, packed_bike_state_size);
      break;
    case msg_reliable:
      wire_put_i32(out + 9, m->sequence);
      out[13] = static_cast<uint8_t>(m->kind);
      break;
    case msg_ack: wire_put_i32(out + 9, m->sequence); break;
    default: break;
  }
  if (tail) memcpy(out + fixed, m->data, static_cast<size_t>(tail));
  return fixed + tail;
}

int decode_client_message(const uint8_t *bytes, int length, ClientMessage *m) {
  *m = ClientMessage{};
  if (length < 1) return 0;
  m->type = bytes[0];
  int fixed = client_fixed_length(m->type);
  if (fixed < 0 || length < fixed) return 0;
  if (client_has_tail(m->type)) {
    m->data = bytes + fixed;
    m->data_length = length - fixed;
  }
  if (m->type == msg_contact) {
    m->password_flag = bytes[1];
    m->identity_a = wire_get_i32(bytes + 5);
    m->protocol_value = wire_get_i32(bytes + 9);
    m->nonce = wire_get_i32(bytes + 13);
    m->identity_b = wire_get_i32(bytes + 17);
    return 1;
  }
  m->slot = wire_get_i32(bytes + 1);
  m->connection_id = wire_get_i32(bytes + 5);
  switch (m->type) {
    case msg_client_info:
      memcpy(m->proof, bytes + 9, 4);
      m->identity_a = wire_get_i32(bytes + 13);
      m->nonce = wire_get_i32(bytes + 17);
      memcpy(m->token, bytes + 21, client_token_size);
      break;
    case msg_track_ack:
    case msg_loaded:
    case msg_restart_request:
    case msg_restart_ack: m->race_id = wire_get_i32(bytes + 9); break;
    case msg_bike_ack:
      m->race_id = wire_get_i32(bytes + 9);
      m->last_rider = wire_get_i32(bytes + 13);
      break;
    case msg_state:
      m->race_id = wire_get_i32(bytes + 9);
      m->highest_server_tic = wire_get_i32(bytes + 13);
      m->local_tic = wire_get_i32(bytes + 17);
      memcpy(m->state.bytes, bytes + 21, packed_bike_state_size);
      break;
    case msg_reliable:
      m->sequence = wire_get_i32(bytes + 9);
      m->kind = bytes[13];
      break;
    case msg_ack: m->sequence = wire_get_i32(bytes + 9); break;
    default: break;
  }
  return 1;
}

int encode_server_message(const ServerMessage *m, uint8_t *out, int size) {
  int fixed = server_fixed_length(m->type);
  if (fixed < 0) return 0;
  int tail = server_has_tail(m->type) && m->data ? m->data_length : 0;
  if (tail < 0 || fixed + tail > size) return 0;
  memset(out, 0, static_cast<size_t>(fixed));
  out[0] = static_cast<uint8_t>(m->type);
  switch (m->type) {
    case msg_hello:
      wire_put_i32(out + 1, m->slot);
      wire_put_i32(out + 5, m->connection_id);
      wire_put_i32(out + 9, m->version);
      break;
    case msg_track:
      wire_put_i32(out + 1, m->race_id);
      wire_put_i32(out + 5, m->duration);
      wire_put_i32(out + 9, m->laps);
      wire_put_i32(out + 13, m->gate_drop);
      memcpy(out + 17, m->track_hash, track_hash_size);
      break;
    case msg_rider_info:
      wire_put_i32(out + 1, m->race_id);
      wire_put_i32(out + 5, m->slot);
      break;
    case msg_start:
      wire_put_i32(out + 1, m->race_id);
      wire_put_i32(out + 5, m->gate_position);
      break;
    case msg_time:
    case msg_states:
      wire_put_i32(out + 1, m->race_id);
      wire_put_i32(out + 5, m->server_tic);
      wire_put_i32(out + 9, m->echo);
      if (m->type == msg_states) wire_put_i32(out + 13, m->record_count);
      break;
    case msg_server_13: wire_put_i32(out + 1, m->value); break;
    case msg_restart: wire_put_i32(out + 1, m->race_id); break;
    case msg_reliable:
      wire_put_i32(out + 1, m->sequence);
      out[5] = static_cast<uint8_t>(m->kind);
      break;
    case msg_ack: wire_put_i32(out + 1, m->sequence); break;
    case msg_redirect: wire_put_i32(out + 1, m->nonce); break;
    default: break;
  }
  if (tail) memcpy(out + fixed, m->data, static_cast<size_t>(tail));
  return fixed + tail;
}

int decode_server_message(const uint8_t *bytes, int length, ServerMessage *m) {
  *m = ServerMessage{};
  if (length < 1) return 0;
  m->type = bytes[0];
  int fixed = server_fixed_length(m->type);
  if (fixed < 0 || length < fixed) return 0;
  if (server_has_tail(m->type)) {
    m->data = bytes + fixed;
    m->data_length = length - fixed;
  }
  switch (m->type) {
    case msg_hello:
      m->slot = wire_get_i32(bytes + 1);
      m->connection_id = wire_get_i32(bytes + 5);
      m->version = wire_get_i32(bytes + 9);
      break;
    case msg_track:
      m->race_id = wire_get_i32(bytes + 1);
      m->duration = wire_get_i32(bytes + 5);
      m->laps = wire_get_i32(bytes + 9);
      m->gate_drop = wire_get_i32(bytes + 13);
      memcpy(m->track_hash, bytes + 17, track_hash_size);
      break;
    case msg_rider_info:
      m->race_id = wire_get_i32(bytes + 1);
      m->slot = wire_get_i32(bytes + 5);
      break;
    case msg_start:
      m->race_id = wire_get_i32(bytes + 1);
      m->gate_position = wire_get_i32(bytes + 5);
      break;
    case msg_time:
    case msg_states:
      m->race_id = wire_get_i32(bytes + 1);
      m->server_tic = wire_get_i32(bytes + 5);
      m->echo = wire_get_i32(bytes + 9);
      if (m->type == msg_states) m->record_count = wire_get_i32(bytes + 13);
      break;
    case msg_server_13: m->value = wire_get_i32(bytes + 1); break;
    case msg_restart: m->race_id = wire_get_i32(bytes + 1); break;
    case msg_reliable:
      m->sequence = wire_get_i32(bytes + 1);
      m->kind = bytes[5];
      break;
    case msg_ack: m->sequence = wire_get_i32(bytes + 1); break;
    case msg_redirect: m->nonce = wire_get_i32(bytes + 1); break;
    default: break;
  }
  return 1;
}

void encode_state_record(const StateRecord *r, uint8_t out[state_record_size]) {
  wire_put_u16(out, r->slot);
  wire_put_u16(out + 2, r->ping);
  wire_put_i32(out + 4, r->tic);
  memcpy(out + 8, r->state.bytes, packed_bike_state_size);
}

int state_record_at(const ServerMessage *m, int index, StateRecord *out) {
  if (m->type != msg_states || index < 0 || !m->data) return 0;
  // The records start at byte 17; record i ends at 17 + 47 (i + 1).
  if (static_cast<long>(state_record_size) * (index + 1) > m->data_length) return 0;
  const uint8_t *at = m->data + static_cast<long>(state_record_size) * index;
  out->slot = wire_get_u16(at);
  out->ping = wire_get_u16(at + 2);
  out->tic = wire_get_i32(at + 4);
  memcpy(out->state.bytes, at + 8, packed_bike_state_size);
  return 1;
}

// --- reliable payloads --------------------------------------------------------

int decode_timing_update(const uint8_t *payload, int length, TimingUpdate *out) {
  out->count = 0;
  if (length < 8) return 0;
  out->race_id = wire_get_i32(payload);
  int32_t count = wire_get_i32(payload + 4);
  if (count < 0 || count > timing_entries_max || 8 + 12L * count > length) return 0;
  for (int i = 0; i < count; i++) {
    const uint8_t *at = payload + 8 + 12 * i;
    out->entries[i] = {wire_get_i32(at), wire_get_i32(at + 4), wire_get_i32(at + 8)};
  }
  out->count = count;
  return 1;
}

int encode_timing_update(const TimingUpdate *u, uint8_t *out, int size) {
  if (u->count < 0 || u->count > timing_entries_max || 8 + 12 * u->count > size) return 0;
  wire_put_i32(out, u->race_id);
  wire_put_i32(out + 4, u->count);
  for (int i = 0; i < u->count; i++) {
    wire_put_i32(out + 8 + 12 * i, u->entries[i].slot);
    wire_put_i32(out + 12 + 12 * i, u->entries[i].index);
    wire_put_i32(out + 16 + 12 * i, u->entries[i].tic);
  }
  return 8 + 12 * u->count;
}

// --- the reliable channel ---------------------------------------------------

namespace {

// Sequence order that survives the 32-bit wrap.
inline int32_t sequence_distance(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

int cut_payload(int kind, int length, int room) {
  if (length < 0) return 0;
  if ((kind == kind_chat || kind == kind_text) && length > reliable_text_max) length = reliable_text_max;
  return length > room ? room : length;
}

ReliableOutgoing *append_outgoing(ReliableChannel *c) {
  if (c->queue_head > 0 && c->queue_head + c->queue_count == c->queue_capacity) {
    memmove(c->queue, c->queue + c->queue_head, sizeof(ReliableOutgoing) * static_cast<size_t>(c->queue_count));
    c->queue_head = 0;
  }
  grow_array(c->queue, c->queue_head + c->queue_count, c->queue_capacity);
  ReliableOutgoing *o = &c->queue[c->queue_head + c->queue_count++];
  o->sequence = c->next_outgoing;
  c->next_outgoing = static_cast<int32_t>(static_cast<uint32_t>(c->next_outgoing) + 1);
  o->resend_time = 0;
  return o;
}

}  // namespace

int32_t reliable_queue_client(ReliableChannel *c, int32_t slot, int32_t connection_id, int kind, const void *payload,
                              int length) {
  length = cut_payload(kind, length, reliable_message_room - reliable_client_header);
  ReliableOutgoing *o = append_outgoing(c);
  ClientMessage m = {};
  m.type = msg_reliable;
  m.slot = slot;
  m.connection_id = connection_id;
  m.sequence = o->sequence;
  m.kind = kind;
  m.data = static_cast<const uint8_t *>(payload);
  m.data_length = length;
  o->length = encode_client_message(&m, o->bytes, reliable_message_room);
  return o->sequence;
}

int32_t reliable_queue_server(ReliableChannel *c, int kind, const void *payload, int length) {
  length = cut_payload(kind, length, reliable_message_room - reliable_server_header);
  ReliableOutgoing *o = append_outgoing(c);
  ServerMessage m = {};
  m.type = msg_reliable;
  m.sequence = o->sequence;
  m.kind = kind;
  m.data = static_cast<const uint8_t *>(payload);
  m.data_length = length;
  o->length = encode_server_message(&m, o->bytes, reliable_message_room);
  return o->sequence;
}

const ReliableOutgoing *reliable_due(ReliableChannel *c, double now) {
  if (c->queue_count == 0) return nullptr;
  ReliableOutgoing *head = &c->queue[c->queue_head];
  if (now < head->resend_time) return nullptr;
  head->resend_time = now + reliable_resend_interval;
  return head;
}

void reliable_acknowledge(ReliableChannel *c, int32_t sequence) {
  if (c->queue_count == 0 || c->queue[c->queue_head].sequence != sequence) return;
  c->queue_head++;
  c->queue_count--;
  if (c->queue_count == 0) c->queue_head = 0;
}

int reliable_receive(ReliableChannel *c, int32_t sequence, const uint8_t *datagram, int length) {
  int32_t ahead = sequence_distance(sequence, c->expected_incoming);
  if (ahead < 0) return reliable_duplicate;
  if (ahead == 0) {
    c->expected_incoming = static_cast<int32_t>(static_cast<uint32_t>(c->expected_incoming) + 1);
    return reliable_deliver;
  }
  int at = 0;
  while (at < c->early_count && sequence_distance(c->early[at].sequence, sequence) < 0) at++;
  if (at < c->early_count && c->early[at].sequence == sequence) return reliable_duplicate;
  if (c->early_count == reliable_early_limit || length < 0 || length > net_datagram_buffer_size)
    return reliable_refused;
  if (!c->early) c->early = static_cast<ReliableEarly *>(alloc_or_die(sizeof(ReliableEarly) * reliable_early_limit));
  memmove(c->early + at + 1, c->early + at, sizeof(ReliableEarly) * static_cast<size_t>(c->early_count - at));
  c->early[at].sequence = sequence;
  c->early[at].length = length;
  memcpy(c->early[at].bytes, datagram, static_cast<size_t>(length));
  c->early_count++;
  return reliable_kept;
}

int reliable_take_early(ReliableChannel *c, uint8_t *out, int size) {
  if (c->early_count == 0 || c->early[0].sequence != c->expected_incoming) return 0;
  int length = c->early[0].length < size ? c->early[0].length : size;
  memcpy(out, c->early[0].bytes, static_cast<size_t>(length));
  c->early_count--;
  memmove(c->early, c->early + 1, sizeof(ReliableEarly) * static_cast<size_t>(c->early_count));
  c->expected_incoming = static_cast<int32_t>(static_cast<uint32_t>(c->expected_incoming) + 1);
  return length;
}

void reliable_reset(ReliableChannel *c) {
  tracked_free(c->queue);
  tracked_free(c->early);
  *c = ReliableChannel{};
}

// --- rider info ------------------------------------------------------------

namespace {

void copy_field(char *to, int size, const char *from, int length) {
  if (length > size - 1) length = size - 1;
  if (length < 0) length = 0;
  memcpy(to, from, static_cast<size_t>(length));
  to[length] = 0;
}

}  // namespace

int rider_info_text(const RiderInfo *r, int room, char *out, int out_size) {
  size_t sum = strlen(r->bike) + strlen(r->rider_texture) + strlen(r->bike_texture) + strlen(r->wheel_texture) +
               strlen(r->head_texture) + strlen(r->number) + strlen(r->name);
  int n;
  if (static_cast<long>(sum) + 6 < room)
    n = snprintf(out, static_cast<size_t>(out_size), "%s|%s|%s|%s|%s\n%s\n%s", r->bike, r->rider_texture,
                 r->bike_texture, r->wheel_texture, r->head_texture, r->number, r->name);
  else
    n = snprintf(out, static_cast<size_t>(out_size), "%s\n%s\n%s", r->bike, r->number, r->name);
  if (n < 0) n = 0;
  if (n >= out_size) n = out_size - 1;
  // The short form can still exceed a small room when the name is huge.
  if (n > room) {
    n = room;
    out[n] = 0;
  }
  return n;
}

void parse_rider_info(const uint8_t *bytes, int length, RiderInfo *out) {
  *out = RiderInfo{};
  const char *text = reinterpret_cast<const char *>(bytes);
  int at = 0;
  // Line 1: up to five fields split at '|'.
  char *fields[5] = {out->bike, out->rider_texture, out->bike_texture, out->wheel_texture, out->head_texture};
  int field = 0, start = 0;
  for (; at <= length; at++) {
    bool end_of_line = at == length || text[at] == '\n' || text[at] == 0;
    if (end_of_line || text[at] == '|') {
      if (field < 5) copy_field(fields[field], rider_text_size, text + start, at - start);
      field++;
      start = at + 1;
      if (end_of_line) break;
    }
  }
  if (at >= length || text[at] == 0) return;
  // Line 2: the number, three characters at most.
  start = ++at;
  while (at < length && text[at] != '\n' && text[at] != 0) at++;
  copy_field(out->number, rider_number_size, text + start, at - start);
  if (at >= length || text[at] == 0) return;
  // Line 3: the name, up to the end of the text.
  start = ++at;
  while (at < length && text[at] != 0) at++;
  copy_field(out->name, rider_name_size, text + start, at - start);
}

// --- text commands -----------------------------------------------------------

namespace {

// The word after leading blanks, followed by a blank or the end; returns what
// follows, or null.
const char *after_word(const char *text, const char *word) {
  while (*text == ' ' || *text == '\t') text++;
  size_t n = strlen(word);
  if (strncmp(text, word, n) != 0) return nullptr;
  char next = text[n];
  if (next != 0 && next != ' ' && next != '\t' && next != '\n' && next != '\r') return nullptr;
  return text + n;
}

bool read_int(const char **at, long *value) {
  char *end = nullptr;
  errno = 0;
  long v = strtol(*at, &end, 10);
  if (end == *at || errno == ERANGE) return false;
  *value = v;
  *at = end;
  return true;
}

}  // namespace

int parse_text_command(const char *text, TextCommand *out) {
  *out = TextCommand{};
  const char *rest;
  float f;
  if (strcmp(text, "no_arcade") == 0) {
    out->kind = command_no_arcade;
  } else if (strncmp(text, "off_course_bias", 15) == 0 && sscanf(text, "off_course_bias %f", &f) == 1 &&
             std::isfinite(f)) {
    out->kind = command_off_course_bias;
    out->value = f;
  } else if (strncmp(text, "off_course_scale", 16) == 0 && sscanf(text, "off_course_scale %f", &f) == 1 &&
             std::isfinite(f)) {
    out->kind = command_off_course_scale;
    out->value = f;
  } else if ((rest = after_word(text, "knockout"))) {
    out->kind = command_knockout;
    long previous = 0;
    bool reading = true;
    for (int i = 0; i < knockout_count; i++) {
      long v;
      // After the first missing value every later one repeats the last.
      if (reading && read_int(&rest, &v))
        previous = v < 0 ? 0 : v > knockout_max ? knockout_max : v;
      else
        reading = false;
      out->knockout[i] = static_cast<int32_t>(previous);
    }
  } else if ((rest = after_word(text, "erode"))) {
    long race_id, amount;
    if (read_int(&rest, &race_id) && read_int(&rest, &amount) && race_id >= INT32_MIN && race_id <= INT32_MAX &&
        amount >= INT32_MIN && amount <= INT32_MAX) {
      out->kind = command_erode;
      out->race_id = static_cast<int32_t>(race_id);
      out->amount = static_cast<int32_t>(amount);
    } else {
      out->kind = command_erode_malformed;
    }
  } else if (strcmp(text, "sendready") == 0) {
    out->kind = command_sendready;
  } else if (after_word(text, "senddenied")) {
    out->kind = command_senddenied;
  } else if (after_word(text, "version")) {
    out->kind = command_version;
  } else {
    out->kind = command_unknown;
  }
  return out->kind;
}

// --- proofs and texts ---------------------------------------------------------

void password_proof(const char *password, int32_t connection_id, uint8_t proof[4]) {
  memset(proof, 0, 4);
  if (!password || !*password) return;
  Ripemd160 r;
  ripemd160_init(&r);
  ripemd160_update(&r, password, strlen(password));
  uint8_t id[4];
  wire_put_i32(id, connection_id);
  ripemd160_update(&r, id, 4);
  uint8_t digest[20];
  ripemd160_final(&r, digest);
  proof[0] = digest[3];
  proof[1] = digest[2];
  proof[2] = digest[1];
  proof[3] = digest[0];
}

void build_version_text(char *buffer, int size, unsigned status_a, int status_b, const uint8_t build_id[32],
                        const char *renderer, const char *gl_version) {
  if (size <= 0) return;
  char hex[65];
  for (int i = 0; i < 32; i++) snprintf(hex + 2 * i, 3, "%02x", build_id[i]);
  snprintf(buffer, static_cast<size_t>(size), "version %x %d %s 2019-02-04-1446 snapshot %s %s", status_a, status_b,
           hex, renderer ? renderer : "NULL", gl_version ? gl_version : "NULL");
}

void race_length_text(int32_t duration, int32_t laps, char *buffer, int size) {
  if (duration < 1) {
    snprintf(buffer, static_cast<size_t>(size), "%d laps", laps);
    return;
  }
  int minutes = static_cast<int>(std::floor(duration * seconds_per_tic / 60.0 + 0.5));
  if (laps < 1)
    snprintf(buffer, static_cast<size_t>(size), "%d minutes", minutes);
  else
    snprintf(buffer, static_cast<size_t>(size), "%d minutes + %d laps", minutes, laps);
}
