#include "net/server.h"

#include <arpa/inet.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "app/number_text.h"
#include "net/server_files.h"
#include "net/server_robots.h"

namespace {

constexpr double handshake_interval = 1.0;
constexpr double never = -1e30;
// States older than this are no longer relayed: the rider has stalled.
constexpr double state_stale_seconds = 2.0;
// Riders who join this close to the gate drop watch the race instead.
constexpr double join_cutoff_seconds = 3.0;
constexpr int timing_index_limit = 100000;

void say(const RaceServer *s, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Writes one log line from raw bytes. Names, chat and anything else from the
// wire may hold control sequences that would act on the terminal reading the
// log, and zero bytes: every byte that is not printable is written as \xNN
// (a backslash as \\, so the escapes stay unambiguous).
void log_bytes(const RaceServer *s, const char *bytes, int length) {
  static const char hex[] = "0123456789abcdef";
  char line[4 * 1400 + 1];
  int n = 0;
  for (int i = 0; i < length && n < static_cast<int>(sizeof line) - 5; i++) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b == '\\') {
      line[n++] = '\\';
      line[n++] = '\\';
    } else if (b < 32 || b >= 127) {
      line[n++] = '\\';
      line[n++] = 'x';
      line[n++] = hex[b >> 4];
      line[n++] = hex[b & 15];
    } else {
      line[n++] = static_cast<char>(b);
    }
  }
  line[n] = 0;
  if (s->log) {
    s->log(line);
    return;
  }
  time_t t = time(nullptr);
  tm local;
  localtime_r(&t, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  printf("[%s] %s\n", stamp, line);
  fflush(stdout);
}

void say(const RaceServer *s, const char *format, ...) {
  char line[1200];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 0) return;
  log_bytes(s, line, n < static_cast<int>(sizeof line) ? n : static_cast<int>(sizeof line) - 1);
}

// Contacts and refusals from one address (host and port: riders behind one
// router share the host) are logged at most once a second, so a flood of them
// cannot fill the log; the next line logged for that address says how many
// were left out. Returns whether to log now, with that count.
bool contact_log_due(RaceServer *s, const NetAddress *from, double now, int *left_out) {
  ServerLogLimit *entry = nullptr, *oldest = &s->log_limits[0];
  for (ServerLogLimit &l : s->log_limits) {
    if (l.used && net_same_address(&l.address, from)) {
      entry = &l;
      break;
    }
    if (!l.used || (oldest->used && l.last < oldest->last)) oldest = &l;
  }
  if (!entry) {
    // An address not seen lately takes the place of the one heard from longest ago.
    entry = oldest;
    *entry = ServerLogLimit{};
    entry->used = 1;
    entry->address = *from;
    entry->last = now - 2;
  }
  if (now - entry->last < 1.0) {
    entry->left_out++;
    return false;
  }
  *left_out = entry->left_out;
  entry->left_out = 0;
  entry->last = now;
  return true;
}

const char *address_text(const NetAddress *a, char *out, int size);

void say_contact(RaceServer *s, const NetAddress *from, double now, const char *what) {
  int left_out = 0;
  if (!contact_log_due(s, from, now, &left_out)) return;
  char where[64];
  address_text(from, where, sizeof where);
  if (left_out > 0)
    say(s, "Contact from %s%s (%d more from this address in the last second left out)", where, what, left_out);
  else
    say(s, "Contact from %s%s", where, what);
}

uint32_t next_random(RaceServer *s) {
  uint32_t x = s->random_state ? s->random_state : 0x9e3779b9u;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  s->random_state = x;
  return x;
}

int slot_of(const RaceServer *s, const ServerClient *c) { return static_cast<int>(c - s->clients); }

const char *address_text(const NetAddress *a, char *out, int size) {
  char host[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &a->in.sin_addr, host, sizeof host);
  snprintf(out, static_cast<size_t>(size), "%s:%d", host, ntohs(a->in.sin_port));
  return out;
}

// --- sending -----------------------------------------------------------------

void send_to(RaceServer *s, const NetAddress *to, const ServerMessage *m) {
  uint8_t out[net_datagram_buffer_size];
  int n = encode_server_message(m, out, net_datagram_max);
  if (n <= 0) return;
  if (net_send(s->socket, out, n, to) < 0 && net_error_name()) say(s, "sendto error (%.100s)", net_error_name());
}

void send_type(RaceServer *s, const NetAddress *to, int type) {
  ServerMessage m = {};
  m.type = type;
  send_to(s, to, &m);
}

void send_refusal(RaceServer *s, const NetAddress *to, const char *text) {
  ServerMessage m = {};
  m.type = msg_refusal;
  m.data = reinterpret_cast<const uint8_t *>(text);
  m.data_length = static_cast<int>(strlen(text));
  send_to(s, to, &m);
}

bool joined(const ServerClient *c) { return c->state >= server_client_track; }

void queue_reliable(ServerClient *c, int kind, const void *payload, int length) {
  reliable_queue_server(&c->reliable, kind, payload, length);
}

void queue_text(ServerClient *c, int kind, const char *text) {
  queue_reliable(c, kind, text, static_cast<int>(strlen(text)));
}

void free_client(RaceServer *s, ServerClient *c, const char *why) {
  int slot = slot_of(s, c);
  if (c->state >= server_client_track)
    say(s, "Rider %d (%s) %s", slot, c->rider.name, why);
  else
    say(s, "Slot %d %s", slot, why);
  server_files_drop(c);
  reliable_reset(&c->reliable);
  *c = ServerClient{};
}

// --- the race ------------------------------------------------------------------

const ServerTrack *current_track(const RaceServer *s) { return &s->config.tracks[s->track_index]; }

void race_commands(RaceServer *s, ServerClient *c) {
  char text[server_text_size + 32];
  snprintf(text, sizeof text, "erode %d %d", s->race_id, s->config.erode);
  queue_text(c, kind_text, text);
  if (s->config.knockout[0]) {
    snprintf(text, sizeof text, "knockout %s", s->config.knockout);
    queue_text(c, kind_text, text);
  }
  snprintf(text, sizeof text, "off_course_bias %g", s->config.off_course_bias);
  queue_text(c, kind_text, text);
  snprintf(text, sizeof text, "off_course_scale %g", s->config.off_course_scale);
  queue_text(c, kind_text, text);
  if (s->config.no_arcade) queue_text(c, kind_text, "no_arcade");
}

int next_gate_position(const RaceServer *s) {
  bool used[max_slots] = {};
  for (const ServerClient &c : s->clients)
    if (c.state != server_client_free && c.in_race && c.gate_position >= 0 && c.gate_position < max_slots)
      used[c.gate_position] = true;
  for (int k = 0; k < s->robot_count; k++) used[s->robots[k].gate_position] = true;
  for (int g = 0; g < max_slots; g++)
    if (!used[g]) return g;
  return slot_none;
}

void begin_race(RaceServer *s, int track_index, double now) {
  s->race_id++;
  s->track_index = track_index;
  const ServerTrack *t = current_track(s);
  s->laps = t->laps > 0 ? t->laps : s->config.laps;
  double minutes = t->minutes >= 0 ? t->minutes : s->config.minutes;
  s->duration = static_cast<int32_t>(minutes * 60 * tics_per_second);
  s->gate_drop = static_cast<int32_t>(s->config.gate_delay * tics_per_second);
  s->race_start = now;
  s->server_tic = 0;
  s->race_over = 0;
  int riders = 0;
  for (ServerClient &c : s->clients) {
    if (c.state == server_client_free) continue;
    c.in_race = joined(&c);
    c.gate_position = c.in_race ? riders++ : slot_none;
    c.timing_count = 0;
    c.timing_last = -1;
    c.finished = 0;
    c.restart_vote = 0;
    c.state_tic = INT32_MIN;
    c.roster_count = 0;
    // Riders who are racing or loaded get the restart now; those still in the
    // handshake of the old race finish it first (see the loaded message).
    if (c.state == server_client_racing) {
      c.state = server_client_restart;
      c.last_sent = never;
    }
  }
  say(s, "Race %d: track %s, %d laps, %g minutes, %d riders", s->race_id, t->dir, s->laps, minutes, riders);
  server_robots_begin(s);
}

// Laps done by a rider with `count` timing entries.
int laps_done(const ServerTrack *t, int count) {
  if (t->normal_lap <= 0 || t->first_lap <= 0 || count < t->first_lap) return 0;
  return 1 + (count - t->first_lap) / t->normal_lap;
}

// Whether a rider with `count` timing entries, the last at `last`, has finished.
bool rider_finished(const RaceServer *s, int count, int32_t last) {
  const ServerTrack *t = current_track(s);
  if (t->normal_lap <= 0) return false;
  if (s->duration <= 0) return laps_done(t, count) >= s->laps;
  // A timed race ends for a rider at the first lap line crossed after the time.
  bool on_line = count >= t->first_lap && (count - t->first_lap) % t->normal_lap == 0;
  return on_line && last >= s->gate_drop + s->duration;
}

void check_race_end(RaceServer *s, double now) {
  if (s->race_over) return;
  for (int k = 0; k < s->robot_count; k++) {
    ServerRobot &r = s->robots[k];
    if (!r.finished && rider_finished(s, r.timing_count, r.timing_last)) {
      r.finished = 1;
      say(s, "Robot %d (#%s) finished", r.slot, r.rider.number);
    }
  }
  int racing = 0, done = 0, waiting = 0;
  for (const ServerClient &c : s->clients) {
    if (c.state == server_client_free) continue;
    if (!c.in_race) {
      waiting += joined(&c);
      continue;
    }
    racing++;
    done += c.finished;
  }
  if (racing == 0) {
    // Nobody races: an empty server idles (its robots ride on); riders who
    // came too late for this race get a new one at once.
    if (waiting > 0) {
      say(s, "Race %d has no riders; starting a new one for %d waiting", s->race_id, waiting);
      begin_race(s, s->track_index, now);
    }
    return;
  }
  // Robots are riders too: the race is over when they have finished as well.
  for (int k = 0; k < s->robot_count; k++) {
    racing++;
    done += s->robots[k].finished;
  }
  const char *why = nullptr;
  if (done == racing) why = "every rider finished";
  if (s->server_tic > s->gate_drop + s->config.race_limit * 60 * tics_per_second) why = "time limit reached";
  if (!why) return;
  s->race_over = 1;
  s->race_over_at = now;
  say(s, "Race %d over (%s)", s->race_id, why);
  // The result: finished riders first, then by timing gates passed and time.
  struct Entry {
    int slot;
    const RiderInfo *rider;
    int finished, count;
    int32_t last;
  };
  Entry order[max_slots];
  int n = 0;
  for (int i = 0; i < max_slots; i++) {
    const ServerClient &c = s->clients[i];
    if (c.state != server_client_free && c.in_race)
      order[n++] = {i, &c.rider, c.finished, c.timing_count, c.timing_last};
    else if (s->robot_index[i] >= 0) {
      const ServerRobot &r = s->robots[s->robot_index[i]];
      order[n++] = {i, &r.rider, r.finished, r.timing_count, r.timing_last};
    }
  }
  for (int i = 1; i < n; i++)
    for (int j = i; j > 0; j--) {
      const Entry &a = order[j - 1], &b = order[j];
      bool swap = b.finished != a.finished ? b.finished > a.finished
                  : b.count != a.count     ? b.count > a.count
                                           : b.last < a.last;
      if (!swap) break;
      Entry t = order[j];
      order[j] = order[j - 1];
      order[j - 1] = t;
    }
  for (int i = 0; i < n; i++) {
    const Entry &e = order[i];
    say(s, "  %d. #%s %s: %d gates, last at tic %d%s", i + 1, e.rider->number, e.rider->name, e.count, e.last,
        e.finished ? ", finished" : "");
  }
}

// --- handshake messages ------------------------------------------------------------
// Every handshake message carries the race the client knows; a client that
// finishes loading an older race is sent the restart at once.

void send_track(RaceServer *s, ServerClient *c) {
  const ServerTrack *t = current_track(s);
  ServerMessage m = {};
  m.type = msg_track;
  m.race_id = c->race_id;
  m.duration = s->duration;
  m.laps = s->laps;
  m.gate_drop = s->gate_drop;
  memcpy(m.track_hash, t->hash, track_hash_size);
  m.data = reinterpret_cast<const uint8_t *>(t->dir);
  m.data_length = static_cast<int>(strlen(t->dir));
  send_to(s, &c->address, &m);
}

void send_rider_or_start(RaceServer *s, ServerClient *c) {
  for (int i = 0; i < c->roster_count; i++) {
    int slot = c->roster[i];
    if (slot <= c->riders_sent) continue;
    ServerMessage m = {};
    m.type = msg_rider_info;
    m.race_id = c->race_id;
    m.slot = slot;
    const ServerClient &other = s->clients[slot];
    if (joined(&other)) {
      m.data = reinterpret_cast<const uint8_t *>(other.rider_text);
      m.data_length = other.rider_text_length;
    } else if (s->robot_index[slot] >= 0 && c->race_id == s->race_id) {
      const ServerRobot &r = s->robots[s->robot_index[slot]];
      m.data = reinterpret_cast<const uint8_t *>(r.rider_text);
      m.data_length = r.rider_text_length;
    } else {
      continue;  // left since the roster was made
    }
    send_to(s, &c->address, &m);
    return;
  }
  c->state = server_client_starting;
  ServerMessage m = {};
  m.type = msg_start;
  m.race_id = c->race_id;
  m.gate_position = c->in_race && c->race_id == s->race_id ? c->gate_position : slot_none;
  m.data = reinterpret_cast<const uint8_t *>(c->rider_text);
  m.data_length = c->rider_text_length;
  send_to(s, &c->address, &m);
}

void send_restart(RaceServer *s, ServerClient *c) {
  ServerMessage m = {};
  m.type = msg_restart;
  m.race_id = s->race_id;
  send_to(s, &c->address, &m);
}

void send_handshake(RaceServer *s, ServerClient *c, double now) {
  c->last_sent = now;
  switch (c->state) {
    case server_client_track: send_track(s, c); break;
    case server_client_riders:
    case server_client_starting: send_rider_or_start(s, c); break;
    case server_client_restart: send_restart(s, c); break;
    default: break;
  }
}

void build_roster(RaceServer *s, ServerClient *c) {
  c->roster_count = 0;
  for (int i = 0; i < max_slots; i++) {
    const ServerClient &other = s->clients[i];
    if ((&other != c && joined(&other)) || s->robot_index[i] >= 0) c->roster[c->roster_count++] = i;
  }
  c->riders_sent = -1;
}

bool racing_now(const RaceServer *s, const ServerClient *c) {
  return c->state == server_client_racing && c->race_id == s->race_id;
}

void send_states(RaceServer *s, ServerClient *c, double now) {
  uint8_t records[net_datagram_max];
  constexpr int per_datagram = (net_datagram_max - state_records_offset) / state_record_size;
  int n = 0, sent = 0;
  auto flush = [&]() {
    ServerMessage m = {};
    m.type = n ? msg_states : msg_time;
    m.race_id = s->race_id;
    m.server_tic = s->server_tic;
    m.echo = c->latest_local_tic;
    m.record_count = n;
    m.data = records;
    m.data_length = n * state_record_size;
    send_to(s, &c->address, &m);
    n = 0;
    sent++;
  };
  for (int i = 0; i < max_slots; i++) {
    const ServerClient &other = s->clients[i];
    if (&other == c || !racing_now(s, &other) || other.state_tic == INT32_MIN) continue;
    if (now - other.last_heard > state_stale_seconds) continue;
    int64_t lag = static_cast<int64_t>(s->server_tic) - other.server_tic_seen;
    StateRecord r = {i, static_cast<int>(lag < 0 ? 0 : lag > 65535 ? 65535 : lag), other.state_tic, other.bike};
    encode_state_record(&r, records + n * state_record_size);
    if (++n == per_datagram) flush();
  }
  for (int k = 0; k < s->robot_count; k++) {
    StateRecord r;
    server_robot_state(s, &s->robots[k], &r);
    encode_state_record(&r, records + n * state_record_size);
    if (++n == per_datagram) flush();
  }
  if (n || sent == 0) flush();
}

// --- incoming --------------------------------------------------------------------

void relay_chat(RaceServer *s, const ServerClient *from, const uint8_t *text, int length) {
  char line[reliable_text_max + 1];
  int n = snprintf(line, sizeof line, "%s: %.*s", from->rider.name, length, reinterpret_cast<const char *>(text));
  if (n < 0) return;
  // The log gets every byte of the chat, a zero byte and what follows included.
  char logged[reliable_text_max + 400];
  int prefix = snprintf(logged, sizeof logged, "Chat from %d: %s: ", slot_of(s, from), from->rider.name);
  if (prefix < 0 || prefix >= static_cast<int>(sizeof logged)) return;
  int body = std::min(length, static_cast<int>(sizeof logged) - prefix);
  memcpy(logged + prefix, text, static_cast<size_t>(body));
  log_bytes(s, logged, prefix + body);
  for (ServerClient &c : s->clients)
    if (joined(&c)) queue_text(&c, kind_chat, line);
}

void handle_client_reliable(RaceServer *s, ServerClient *c, const uint8_t *bytes, int length) {
  ClientMessage m;
  if (!decode_client_message(bytes, length, &m) || m.type != msg_reliable) return;
  int slot = slot_of(s, c);
  char text[net_datagram_buffer_size];
  int n = m.data_length < net_datagram_max ? m.data_length : net_datagram_max;
  memcpy(text, m.data, static_cast<size_t>(n));
  text[n] = 0;
  switch (m.kind) {
    case kind_chat: relay_chat(s, c, m.data, m.data_length); break;
    case kind_timing: {
      if (m.data_length < 12) break;
      int32_t race = wire_get_i32(m.data), index = wire_get_i32(m.data + 4), tic = wire_get_i32(m.data + 8);
      if (race != s->race_id || index < -1 || index >= timing_index_limit || !c->in_race) break;
      c->timing_count = index + 1;
      c->timing_last = tic;
      if (!c->finished && rider_finished(s, c->timing_count, c->timing_last)) {
        c->finished = 1;
        say(s, "Rider %d (%s) finished", slot, c->rider.name);
      }
      if (index >= 0) server_relay_timing(s, slot, index, tic);
      break;
    }
    case kind_text:
      if (!server_files_text(s, c, m.data, m.data_length)) say(s, "Rider %d says: %.300s", slot, text);
      break;
    case kind_rider_info:
      if (m.data_length <= 0) break;
      memcpy(c->rider_text, m.data, static_cast<size_t>(n));
      c->rider_text_length = n;
      parse_rider_info(m.data, n, &c->rider);
      say(s, "Rider %d is now #%s %s on %s", slot, c->rider.number, c->rider.name, c->rider.bike);
      break;
    case kind_deformation:
      // Back to every racing rider, the sender too: a client digs its ruts
      // when they come back, in the order every client sees them. A rider
      // who only watches this race warms up without wearing its track.
      if (m.data_length < 4 || wire_get_i32(m.data) != s->race_id || !racing_now(s, c) || !c->in_race) break;
      server_robots_erode(m.data + 4, m.data_length - 4);
      server_relay_erode(s, m.data + 4, m.data_length - 4);
      break;
    default: break;
  }
}

void send_hello(RaceServer *s, const ServerClient *c) {
  ServerMessage hello = {};
  hello.type = msg_hello;
  hello.slot = slot_of(s, c);
  hello.connection_id = c->connection_id;
  hello.version = server_protocol_version;
  send_to(s, &c->address, &hello);
}

void handle_contact(RaceServer *s, const ClientMessage *m, const NetAddress *from, double now) {
  for (ServerClient &c : s->clients) {
    if (c.state == server_client_free || !net_same_address(&c.address, from)) continue;
    if (c.nonce == m->nonce) {
      if (c.state == server_client_greeted) send_hello(s, &c);  // the hello was lost
      return;
    }
    // The same address with a new nonce: the old connection is gone.
    free_client(s, &c, "reconnected");
    break;
  }
  if (m->protocol_value != contact_protocol_value) {
    char what[64];
    snprintf(what, sizeof what, " with protocol %d refused", m->protocol_value);
    say_contact(s, from, now, what);
    send_refusal(s, from, "Client protocol not supported by this server");
    return;
  }
  int slot = 0;
  while (slot < max_slots && (s->clients[slot].state != server_client_free || s->robot_index[slot] >= 0)) slot++;
  if (server_client_count(s) >= s->config.max_riders || slot == max_slots) {
    say_contact(s, from, now, ": server full");
    send_type(s, from, msg_server_full);
    return;
  }
  ServerClient &c = s->clients[slot];
  c = ServerClient{};
  c.state = server_client_greeted;
  c.address = *from;
  c.connection_id = static_cast<int32_t>(next_random(s));
  c.nonce = m->nonce;
  c.gate_position = slot_none;
  c.state_tic = INT32_MIN;
  c.last_heard = now;
  c.last_sent = never;
  c.riders_sent = -1;
  char what[32];
  snprintf(what, sizeof what, ": slot %d", slot);
  say_contact(s, from, now, what);
  send_hello(s, &c);
}

void handle_client_info(RaceServer *s, ServerClient *c, const ClientMessage *m, double now) {
  if (c->state != server_client_greeted) return;
  if (s->config.password[0]) {
    uint8_t proof[4];
    password_proof(s->config.password, c->connection_id, proof);
    if (memcmp(proof, m->proof, 4) != 0) {
      send_refusal(s, &c->address, "Wrong password");
      free_client(s, c, "gave a wrong password");
      return;
    }
  }
  int n = m->data_length < net_datagram_max ? m->data_length : net_datagram_max;
  memcpy(c->rider_text, m->data, static_cast<size_t>(n));
  c->rider_text_length = n;
  parse_rider_info(m->data, n, &c->rider);
  bool early = !s->race_over && s->server_tic < s->gate_drop - join_cutoff_seconds * tics_per_second;
  c->in_race = early;
  c->gate_position = early ? next_gate_position(s) : slot_none;
  c->race_id = s->race_id;
  c->state = server_client_track;
  say(s, "Rider %d joined: #%s %s on %s%s", slot_of(s, c), c->rider.number, c->rider.name, c->rider.bike,
      early ? "" : " (watching until the next race)");
  if (s->config.motd[0]) queue_text(c, kind_chat, s->config.motd);
  queue_text(c, kind_text, "version");
  send_handshake(s, c, now);
}

void handle_known(RaceServer *s, ServerClient *c, const ClientMessage *m, const uint8_t *bytes, int length,
                  double now) {
  int slot = slot_of(s, c);
  switch (m->type) {
    case msg_client_info: handle_client_info(s, c, m, now); break;
    case msg_track_ack:
      if (c->state != server_client_track || m->race_id != c->race_id) break;
      c->state = server_client_riders;
      build_roster(s, c);
      send_handshake(s, c, now);
      break;
    case msg_bike_ack:
      if ((c->state != server_client_riders && c->state != server_client_starting) || m->race_id != c->race_id)
        break;
      if (m->last_rider > c->riders_sent && m->last_rider < max_slots) {
        c->riders_sent = m->last_rider;
        c->state = server_client_riders;
        send_handshake(s, c, now);
      }
      break;
    case msg_loaded:
      if (c->state != server_client_starting || m->race_id != c->race_id) break;
      if (c->race_id != s->race_id) {
        c->state = server_client_restart;
        send_handshake(s, c, now);
        break;
      }
      c->state = server_client_racing;
      c->last_sent = now;
      race_commands(s, c);
      say(s, "Rider %d (%s) is in race %d, %s", slot, c->rider.name, s->race_id,
          c->in_race ? "racing" : "watching");
      break;
    case msg_state:
      if (!racing_now(s, c) || m->race_id != s->race_id) break;
      c->latest_local_tic = m->local_tic;
      if (m->highest_server_tic > c->server_tic_seen) c->server_tic_seen = m->highest_server_tic;
      if (m->local_tic > c->state_tic) {
        c->state_tic = m->local_tic;
        c->bike = m->state;
      }
      break;
    case msg_restart_request:
      if (!racing_now(s, c) || !s->config.restart_votes || c->restart_vote) break;
      c->restart_vote = 1;
      say(s, "Rider %d (%s) asks for a restart", slot, c->rider.name);
      break;
    case msg_restart_ack:
      if (c->state != server_client_restart) break;
      if (m->race_id != s->race_id) {
        send_handshake(s, c, now);
        break;
      }
      c->race_id = s->race_id;
      c->state = server_client_track;
      send_handshake(s, c, now);
      break;
    case msg_disconnect:
      send_type(s, &c->address, msg_disconnected);
      free_client(s, c, "left");
      break;
    case msg_reliable: {
      int verdict = reliable_receive(&c->reliable, m->sequence, bytes, length);
      if (verdict != reliable_refused) {
        ServerMessage ack = {};
        ack.type = msg_ack;
        ack.sequence = m->sequence;
        send_to(s, &c->address, &ack);
      }
      if (verdict != reliable_deliver) break;
      handle_client_reliable(s, c, bytes, length);
      uint8_t early[net_datagram_buffer_size];
      int n;
      while (c->state != server_client_free && (n = reliable_take_early(&c->reliable, early, net_datagram_max)) > 0)
        handle_client_reliable(s, c, early, n);
      break;
    }
    case msg_ack: reliable_acknowledge(&c->reliable, m->sequence); break;
    default: break;
  }
}

void check_restart_votes(RaceServer *s, double now) {
  if (!s->config.restart_votes || s->race_over) return;
  int racing = 0, votes = 0;
  for (const ServerClient &c : s->clients)
    if (racing_now(s, &c) && c.in_race) {
      racing++;
      votes += c.restart_vote;
    }
  if (racing > 0 && votes * 2 > racing) {
    say(s, "Restart by vote (%d of %d)", votes, racing);
    begin_race(s, s->track_index, now);
  }
}

}  // namespace

// --- interface ------------------------------------------------------------------------

void server_say(const RaceServer *s, const char *format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  say(s, "%s", line);
}

void server_relay_timing(RaceServer *s, int slot, int32_t index, int32_t tic) {
  TimingUpdate u = {};
  u.race_id = s->race_id;
  u.count = 1;
  u.entries[0] = {slot, index, tic};
  uint8_t payload[32];
  int size = encode_timing_update(&u, payload, sizeof payload);
  for (int i = 0; i < max_slots; i++) {
    ServerClient &other = s->clients[i];
    if (i != slot && racing_now(s, &other)) queue_reliable(&other, kind_timing, payload, size);
  }
}

void server_relay_erode(RaceServer *s, const uint8_t *packet, int length) {
  uint8_t payload[reliable_payload_max];
  if (length < 0 || length > reliable_payload_max - 4) return;
  wire_put_i32(payload, s->race_id);
  memcpy(payload + 4, packet, static_cast<size_t>(length));
  for (ServerClient &c : s->clients)
    if (racing_now(s, &c)) queue_reliable(&c, kind_deformation, payload, length + 4);
}

int server_client_count(const RaceServer *s) {
  int n = 0;
  for (const ServerClient &c : s->clients) n += c.state != server_client_free;
  return n;
}

int server_start(RaceServer *s, const ServerConfig *config, double now) {
  s->config = *config;
  for (ServerClient &c : s->clients) c = ServerClient{};
  s->robot_count = 0;
  for (int &r : s->robot_index) r = -1;
  // Room for every rider who may come.
  if (s->config.robots > max_slots - s->config.max_riders) s->config.robots = max_slots - s->config.max_riders;
  if (s->config.robots > 0 && !server_data_open()) {
    say(s, "No game data: no robots");
    s->config.robots = 0;
  }
  s->race_id = 0;
  s->garbage = 0;
  s->started_at = now;
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  s->random_state = static_cast<uint32_t>(t.tv_nsec) ^ static_cast<uint32_t>(t.tv_sec) ^ 0x5bd1e995u;
  if (s->config.track_count <= 0) {
    say(s, "No tracks configured");
    return 0;
  }
  s->socket = net_open();
  if (s->socket < 0) {
    say(s, "Can't create socket (%s)", net_error_name() ? net_error_name() : "?");
    return 0;
  }
  if (!net_bind(s->socket, s->config.bind, s->config.port, &s->port)) {
    say(s, "Can't listen on %s:%d (%s)", s->config.bind[0] ? s->config.bind : "*", s->config.port,
        net_error_name() ? net_error_name() : "?");
    net_close(s->socket);
    s->socket = -1;
    return 0;
  }
  say(s, "Listening on %s:%d, %d tracks, at most %d riders%s", s->config.bind[0] ? s->config.bind : "*", s->port,
      s->config.track_count, s->config.max_riders, s->config.password[0] ? ", password required" : "");
  for (int i = 0; i < s->config.track_count; i++)
    if (!s->config.tracks[i].have_hash)
      say(s, "Warning: no hash for track %s; riders will find it modified", s->config.tracks[i].dir);
  server_files_start(s);
  begin_race(s, 0, now);
  s->next_state_send = now;
  return 1;
}

void server_handle_datagram(RaceServer *s, const uint8_t *bytes, int length, const NetAddress *from, double now) {
  ClientMessage m;
  if (length < 0 || length > net_datagram_max || !decode_client_message(bytes, length, &m)) {
    s->garbage++;
    return;
  }
  if (m.type == msg_contact) {
    handle_contact(s, &m, from, now);
    return;
  }
  if (m.slot < 0 || m.slot >= max_slots) {
    s->garbage++;
    return;
  }
  ServerClient *c = &s->clients[m.slot];
  if (c->state == server_client_free || c->connection_id != m.connection_id || !net_same_address(&c->address, from)) {
    s->garbage++;
    return;
  }
  c->last_heard = now;
  handle_known(s, c, &m, bytes, length, now);
}

int server_run(RaceServer *s, double now) {
  if (s->socket < 0) return 0;
  uint8_t buffer[net_datagram_buffer_size];
  for (int i = 0; i < 65536; i++) {
    NetAddress from;
    int length = net_receive(s->socket, buffer, net_datagram_max, &from);
    if (length < 0) {
      if (net_error_name()) say(s, "Receive error (%s)", net_error_name());
      break;
    }
    buffer[length] = 0;
    server_handle_datagram(s, buffer, length, &from, now);
  }

  // An idle server's clock runs on; it stops short of the int32 limit.
  double tics = std::floor((now - s->race_start) * tics_per_second);
  int32_t tic = static_cast<int32_t>(tics < 0 ? 0 : tics > 2e9 ? 2e9 : tics);
  s->server_tic = tic > s->server_tic ? tic : s->server_tic;
  server_robots_step(s);
  check_restart_votes(s, now);
  check_race_end(s, now);
  if (s->race_over && now - s->race_over_at >= s->config.results_wait)
    begin_race(s, (s->track_index + 1) % s->config.track_count, now);

  bool states_due = now >= s->next_state_send;
  if (states_due) {
    s->next_state_send += server_state_interval;
    if (s->next_state_send < now) s->next_state_send = now + server_state_interval;
  }
  for (ServerClient &c : s->clients) {
    if (c.state == server_client_free) continue;
    if (now - c.last_heard > s->config.client_timeout) {
      send_type(s, &c.address, msg_disconnected);
      free_client(s, &c, "timed out");
      continue;
    }
    if (c.reliable.queue_count > server_reliable_backlog_limit) {
      send_type(s, &c.address, msg_disconnected);
      free_client(s, &c, "stopped acknowledging");
      continue;
    }
    if (const ReliableOutgoing *head = reliable_due(&c.reliable, now)) {
      if (net_send(s->socket, head->bytes, head->length, &c.address) < 0 && net_error_name())
        say(s, "sendto error (%.100s)", net_error_name());
    }
    if (c.state == server_client_racing) {
      if (states_due) send_states(s, &c, now);
    } else if (c.state != server_client_greeted && now - c.last_sent >= handshake_interval) {
      send_handshake(s, &c, now);
    }
  }
  if (s->config.quit_after > 0 && now - s->started_at >= s->config.quit_after) return 0;
  return 1;
}

void server_stop(RaceServer *s) {
  if (s->socket < 0) return;
  server_robots_stop(s);
  for (ServerClient &c : s->clients) {
    if (c.state == server_client_free) continue;
    send_type(s, &c.address, msg_disconnected);
    server_files_drop(&c);
    reliable_reset(&c.reliable);
    c = ServerClient{};
  }
  net_close(s->socket);
  s->socket = -1;
  say(s, "Server stopped");
}

// --- configuration ------------------------------------------------------------------------

void server_config_defaults(ServerConfig *c) {
  *c = ServerConfig{};
  c->port = net_default_port;
  c->max_riders = 16;
  c->gate_delay = 20;
  c->laps = 3;
  c->minutes = 0;
  c->results_wait = 15;
  c->race_limit = 30;
  c->client_timeout = 15;
  c->erode = 0;
  c->off_course_bias = 10;
  c->off_course_scale = 1.5;
  c->restart_votes = 1;
  c->robots = 0;
  c->robot_skill = 2;
  c->max_file_size = 1 << 20;
  c->max_files = 16;
  snprintf(c->tracks_dir, sizeof c->tracks_dir, ".");
}

const char *server_config_default_text() {
  return "# torvane-server configuration: \"key = value\" lines; \"#\" starts a comment.\n"
         "# Every key is optional and shown here with its default. Command-line options\n"
         "# (--port, --password, --track, ...) override this file.\n"
         "\n"
         "# Address and UDP port to listen on (an empty bind listens everywhere).\n"
         "# bind =\n"
         "# port = 19800\n"
         "# Password riders must give with --password (empty: anyone may join).\n"
         "# password =\n"
         "# Riders at most, 1 to 160.\n"
         "# max_riders = 16\n"
         "# Seconds from the start of a race to the gate drop; riders who join later\n"
         "# than 3 seconds before it watch until the next race.\n"
         "# gate_delay = 20\n"
         "# Laps, and minutes for a timed race (0: laps only).\n"
         "# laps = 3\n"
         "# minutes = 0\n"
         "# Seconds between the end of a race and the next one.\n"
         "# results_wait = 15\n"
         "# Minutes after the gate drop at which a race ends whatever happens.\n"
         "# race_limit = 30\n"
         "# Seconds of silence after which a rider is dropped.\n"
         "# client_timeout = 15\n"
         "# Terrain erosion amount (0: the track does not wear).\n"
         "# erode = 0\n"
         "# Extra crash times in tics after a rider's 1st, 2nd, ... crash (up to 16).\n"
         "# knockout =\n"
         "# The off-course rule: seconds of grace, and the factor on a lap section.\n"
         "# off_course_bias = 10\n"
         "# off_course_scale = 1.5\n"
         "# 1 switches arcade physics off for every rider.\n"
         "# no_arcade = 0\n"
         "# 1 lets a majority of riders restart the race.\n"
         "# restart_votes = 1\n"
         "# A chat line for every rider who joins.\n"
         "# motd =\n"
         "# Seconds after which the server stops by itself (0: never).\n"
         "# quit_after = 0\n"
         "# Robot riders simulated by the server in every race, on the gate positions\n"
         "# after the riders' (0: none). They need the game data (torvane.saf beside\n"
         "# the server, in PREFIX/share/torvane when installed, or QX_HOME) and cost\n"
         "# CPU time: each is a whole bike, about\n"
         "# 0.1 ms of a 2 GHz core per tic, and a tic lasts 7.8 ms.\n"
         "# robots = 0\n"
         "# Their lines: 0 novice, 1 amateur, 2 expert.\n"
         "# robot_skill = 2\n"
         "# Where the game data's user files go (robot lines, results, the log);\n"
         "# empty: the user's own data directory.\n"
         "# home =\n"
         "# Files riders send with the console's sendfile command: the folder they\n"
         "# are written to (empty: every transfer is refused), the largest file in\n"
         "# bytes, and how many files one rider may send while connected. A file is\n"
         "# written to a temporary file in that folder and takes its name only when\n"
         "# it is complete; a name that is there already is refused, never replaced.\n"
         "# accept_files =\n"
         "# max_file_size = 1048576\n"
         "# max_files = 16\n"
         "\n"
         "# Tracks, raced in this order and then again from the top:\n"
         "#   track = <directory> [laps [minutes [hash]]]\n"
         "# The hash (40 hex digits) and the lap lengths are read from\n"
         "# \"<tracks_dir>/<directory>.trackinfo\" (written by the game) when not given,\n"
         "# or else from the game data; riders whose copy of a track differs are refused.\n"
         "# tracks_dir = .\n"
         "# track = rabbithill\n";
}

namespace {

void warn_line(void (*warn)(const char *), const char *format, ...) __attribute__((format(printf, 2, 3)));
void warn_line(void (*warn)(const char *), const char *format, ...) {
  if (!warn) return;
  char line[512];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  warn(line);
}

bool parse_hash(const char *text, uint8_t hash[track_hash_size]) {
  if (strlen(text) != 2 * track_hash_size) return false;
  for (int i = 0; i < track_hash_size; i++) {
    unsigned v;
    if (!isxdigit(static_cast<unsigned char>(text[2 * i])) || !isxdigit(static_cast<unsigned char>(text[2 * i + 1])) ||
        sscanf(text + 2 * i, "%2x", &v) != 1)
      return false;
    hash[i] = static_cast<uint8_t>(v);
  }
  return true;
}

bool add_track(ServerConfig *c, const char *entry, void (*warn)(const char *)) {
  if (c->track_count == server_max_tracks) {
    warn_line(warn, "Too many tracks (at most %d)", server_max_tracks);
    return false;
  }
  char dir[server_text_size] = "", hash[64] = "";
  int laps = 0;
  double minutes = -1;
  char laps_text[32] = "", minutes_text[32] = "";
  int n = sscanf(entry, "%127s %31s %31s %63s", dir, laps_text, minutes_text, hash);
  if (n < 1 || strchr(dir, '/') || strstr(dir, "..")) {
    warn_line(warn, "Bad track '%.100s'", entry);
    return false;
  }
  ServerTrack t = {};
  snprintf(t.dir, sizeof t.dir, "%s", dir);
  if (n >= 2 && !parse_int_within(laps_text, 0, 1000, &laps)) warn_line(warn, "Bad laps for track %s", dir);
  if (n >= 3 && !parse_double_within(minutes_text, 0, 600, &minutes)) warn_line(warn, "Bad minutes for track %s", dir);
  t.laps = laps;
  t.minutes = minutes;
  if (n >= 4) {
    if (parse_hash(hash, t.hash))
      t.have_hash = 1;
    else
      warn_line(warn, "Bad hash for track %s", dir);
  }
  c->tracks[c->track_count++] = t;
  return true;
}

// Applies one setting; returns false (after a warning) when it does not fit.
bool apply_setting(ServerConfig *c, const char *key, const char *value, void (*warn)(const char *)) {
  bool ok = true;
  auto text = [&](char *to) { snprintf(to, server_text_size, "%s", value); };
  if (strcmp(key, "bind") == 0) text(c->bind);
  else if (strcmp(key, "port") == 0) ok = parse_int_within(value, 0, 65535, &c->port);
  else if (strcmp(key, "password") == 0) text(c->password);
  else if (strcmp(key, "max_riders") == 0) ok = parse_int_within(value, 1, max_slots, &c->max_riders);
  else if (strcmp(key, "gate_delay") == 0) ok = parse_double_within(value, 0, 600, &c->gate_delay);
  else if (strcmp(key, "laps") == 0) ok = parse_int_within(value, 0, 1000, &c->laps);
  else if (strcmp(key, "minutes") == 0) ok = parse_double_within(value, 0, 600, &c->minutes);
  else if (strcmp(key, "results_wait") == 0) ok = parse_double_within(value, 0, 3600, &c->results_wait);
  else if (strcmp(key, "race_limit") == 0) ok = parse_double_within(value, 0, 6000, &c->race_limit);
  else if (strcmp(key, "client_timeout") == 0) ok = parse_double_within(value, 1, 3600, &c->client_timeout);
  else if (strcmp(key, "erode") == 0) ok = parse_int_within(value, 0, 1000000, &c->erode);
  else if (strcmp(key, "knockout") == 0) text(c->knockout);
  else if (strcmp(key, "off_course_bias") == 0) ok = parse_double_within(value, 0, 3600, &c->off_course_bias);
  else if (strcmp(key, "off_course_scale") == 0) ok = parse_double_within(value, 0, 100, &c->off_course_scale);
  else if (strcmp(key, "no_arcade") == 0) ok = parse_int_within(value, 0, 1, &c->no_arcade);
  else if (strcmp(key, "restart_votes") == 0) ok = parse_int_within(value, 0, 1, &c->restart_votes);
  else if (strcmp(key, "tracks_dir") == 0) text(c->tracks_dir);
  else if (strcmp(key, "motd") == 0) text(c->motd);
  else if (strcmp(key, "quit_after") == 0) ok = parse_double_within(value, 0, 1e9, &c->quit_after);
  else if (strcmp(key, "robots") == 0) ok = parse_int_within(value, 0, max_slots, &c->robots);
  else if (strcmp(key, "robot_skill") == 0) ok = parse_int_within(value, 0, 2, &c->robot_skill);
  else if (strcmp(key, "home") == 0) text(c->home);
  else if (strcmp(key, "accept_files") == 0) text(c->accept_files);
  else if (strcmp(key, "max_file_size") == 0) ok = parse_int_within(value, 1, 1 << 30, &c->max_file_size);
  else if (strcmp(key, "max_files") == 0) ok = parse_int_within(value, 1, 1000000, &c->max_files);
  else if (strcmp(key, "track") == 0) return add_track(c, value, warn);
  else {
    warn_line(warn, "Unknown setting '%.100s'", key);
    return false;
  }
  if (!ok) warn_line(warn, "Bad value '%.100s' for %s", value, key);
  return ok;
}

char *trim(char *text) {
  while (*text == ' ' || *text == '\t') text++;
  char *end = text + strlen(text);
  while (end > text && isspace(static_cast<unsigned char>(end[-1]))) *--end = 0;
  return text;
}

}  // namespace

void server_config_read(ServerConfig *c, const char *text, void (*warn)(const char *)) {
  int line_number = 0;
  while (*text) {
    const char *end = strchr(text, '\n');
    size_t length = end ? static_cast<size_t>(end - text) : strlen(text);
    char line[1024];
    line_number++;
    if (length >= sizeof line) {
      warn_line(warn, "Line %d is too long", line_number);
    } else {
      memcpy(line, text, length);
      line[length] = 0;
      if (char *hash = strchr(line, '#')) *hash = 0;
      char *body = trim(line);
      if (*body) {
        char *equals = strchr(body, '=');
        if (!equals) {
          warn_line(warn, "Line %d: expected key = value", line_number);
        } else {
          *equals = 0;
          apply_setting(c, trim(body), trim(equals + 1), warn);
        }
      }
    }
    text += length;
    if (*text == '\n') text++;
  }
}

int server_config_arguments(ServerConfig *c, int argc, char **argv, void (*warn)(const char *)) {
  struct Option {
    const char *name;
    const char *key;
  };
  static const Option options[] = {
      {"--bind", "bind"},         {"--port", "port"},           {"--password", "password"},
      {"--max-riders", "max_riders"}, {"--gate-delay", "gate_delay"}, {"--laps", "laps"},
      {"--minutes", "minutes"},   {"--results-wait", "results_wait"}, {"--race-limit", "race_limit"},
      {"--client-timeout", "client_timeout"}, {"--erode", "erode"}, {"--knockout", "knockout"},
      {"--tracks-dir", "tracks_dir"}, {"--motd", "motd"},         {"--quit-after", "quit_after"},
      {"--robots", "robots"},     {"--robot-skill", "robot_skill"}, {"--home", "home"},
      {"--accept-files", "accept_files"}, {"--max-file-size", "max_file_size"}, {"--max-files", "max_files"},
      {"--track", "track"},
  };
  bool tracks_replaced = false;
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    if (strcmp(arg, "--config") == 0) {
      i++;  // read by the tool before the other options
      continue;
    }
    if (strncmp(arg, "--config=", 9) == 0) continue;
    const Option *found = nullptr;
    const char *value = nullptr;
    for (const Option &o : options) {
      size_t n = strlen(o.name);
      if (strncmp(arg, o.name, n) != 0) continue;
      if (arg[n] == '=') value = arg + n + 1;
      else if (arg[n] == 0 && i + 1 < argc) value = argv[++i];
      else if (arg[n] != 0) continue;
      found = &o;
      break;
    }
    if (!found || !value) {
      warn_line(warn, found ? "Missing value for %s" : "Unknown option %s", arg);
      return 1;
    }
    if (strcmp(found->key, "track") == 0 && !tracks_replaced) {
      // Tracks on the command line replace the file's list.
      c->track_count = 0;
      tracks_replaced = true;
    }
    if (!apply_setting(c, found->key, value, warn)) return 1;
  }
  return -1;
}

void server_config_track_info(ServerConfig *c, void (*warn)(const char *)) {
  if (c->track_count == 0) add_track(c, "rabbithill", warn);
  for (int i = 0; i < c->track_count; i++) {
    ServerTrack &t = c->tracks[i];
    char path[512];
    snprintf(path, sizeof path, "%s/%s.trackinfo", c->tracks_dir, t.dir);
    FILE *f = fopen(path, "r");
    if (!f) continue;
    char line[256];
    while (fgets(line, sizeof line, f)) {
      char *body = trim(line);
      if (strncmp(body, "hash=", 5) == 0 && !t.have_hash) {
        if (parse_hash(body + 5, t.hash))
          t.have_hash = 1;
        else
          warn_line(warn, "%s: bad hash", path);
      }
      int v;
      if (sscanf(body, "firstlap=%d", &v) == 1 && v > 0 && v < timing_index_limit) t.first_lap = v;
      if (sscanf(body, "normallap=%d", &v) == 1 && v > 0 && v < timing_index_limit) t.normal_lap = v;
    }
    fclose(f);
  }
}
