#include "net/client.h"

#include <time.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "app/frame_clock.h"
#include "app/ripemd160.h"
#include "net/transport.h"
#include "platform/log.h"

namespace {

// A send time that makes the next handshake message go at once.
constexpr double send_now = -1e30;
// The receive loop hands at most this many datagrams to the handler per run,
// so a flood cannot stall the tic.
constexpr int receive_limit_per_run = 4096;
// Identity value A marks the program ("TRVN"); B and the client token are
// derived from the build identifier (and the rider's name), so that a server
// can tell builds and returning riders apart.
constexpr int32_t identity_a_value = 0x4e565254;

struct NetSlot {
  int kind;
  RiderInfo rider;
  int32_t last_state_tic;
  int ping;
};

// Client state: lives for the process; net_reset_client clears the connection.
struct Client {
  char target[net_track_name_size];  // empty = none
  int socket;
  NetAddress server;
  int phase;
  int my_slot;
  int32_t connection_id;
  int32_t race_id;
  int32_t nonce;
  int gate_position;
  int last_rider;
  double last_send;
  double last_heard;         // program clock of the last datagram from the server
  double disconnect_since;   // program clock when phase 15 began
  int32_t server_tic_estimate;
  int32_t highest_server_tic;
  ReliableChannel reliable;
  int32_t duration, laps, gate_drop;
  uint8_t track_hash[track_hash_size];
  char track[net_track_name_size];
  int last_timing_count;
  int info_dirty;
  int no_arcade;
  int erosion;  // -1 until the server decides
  double off_course_bias, off_course_scale;
  double last_run;  // program clock of the latest run
  int ping;
  NetSlot slots[max_slots];
};

Client client = {.socket = -1,
                 .my_slot = slot_none,
                 .gate_position = slot_none,
                 .last_rider = slot_none,
                 .erosion = -1,
                 .off_course_bias = net_default_off_course_bias,
                 .off_course_scale = net_default_off_course_scale};
NetHooks hooks;                          // set by the main program; lives for the process
char password[256];                      // lives for the process
const char *gl_renderer, *gl_version;    // owned by GL
NetFakeQueue fake;                       // lives for the process

// Returns 0 (after saying so) when the send failed.
int send_bytes(const uint8_t *bytes, int length) {
  if (client.socket < 0 || length <= 0) return 0;
  if (net_send(client.socket, bytes, length, &client.server) < 0) {
    char text[160];
    snprintf(text, sizeof text, "sendto error (%.100s)", net_error_name() ? net_error_name() : "unknown");
    print_message(text);
    return 0;
  }
  return 1;
}

int send_client(const ClientMessage *m) {
  uint8_t out[net_datagram_buffer_size];
  int length = encode_client_message(m, out, net_datagram_max);
  return send_bytes(out, length);
}

ClientMessage header(int type) {
  ClientMessage m = {};
  m.type = type;
  m.slot = client.my_slot;
  m.connection_id = client.connection_id;
  m.race_id = client.race_id;
  return m;
}

void clear_slots() {
  for (NetSlot &s : client.slots) {
    s = NetSlot{};
    s.last_state_tic = INT32_MIN;
  }
}

void build_identifier(uint8_t id[32]) {
  static const char text[] = "torvane " __DATE__ " " __TIME__ " " __VERSION__;
  uint8_t first[20], second[20];
  ripemd160(text, sizeof text - 1, first);
  ripemd160(first, sizeof first, second);
  memcpy(id, first, 20);
  memcpy(id + 20, second, 12);
}

void reset_client(const char *new_target) {
  if (client.socket >= 0) net_close(client.socket);
  ReliableChannel reliable = client.reliable;
  reliable_reset(&reliable);
  char target[net_track_name_size] = "";
  if (new_target) snprintf(target, sizeof target, "%s", new_target);
  client = Client{};
  memcpy(client.target, target, sizeof target);
  client.socket = -1;
  client.phase = net_phase_contacting;
  client.my_slot = slot_none;
  client.gate_position = slot_none;
  client.last_rider = slot_none;
  client.erosion = -1;
  client.off_course_bias = net_default_off_course_bias;
  client.off_course_scale = net_default_off_course_scale;
  clear_slots();
  if (hooks.set_off_course) hooks.set_off_course(client.off_course_bias, client.off_course_scale);
}

void go_disconnecting(double now) {
  if (client.phase != net_phase_disconnecting) client.disconnect_since = now;
  client.phase = net_phase_disconnecting;
}

int32_t local_tic() { return hooks.race_tic ? hooks.race_tic() : 0; }

// a - b without overflow, whatever a server sends.
int tic_difference(int32_t a, int32_t b) {
  int64_t d = static_cast<int64_t>(a) - b;
  return d < INT32_MIN ? INT32_MIN : d > INT32_MAX ? INT32_MAX : static_cast<int>(d);
}

void record_demo(int type, const void *data, int length) {
  if (hooks.record_demo) hooks.record_demo(type, static_cast<const uint8_t *>(data), length);
}

// --- incoming --------------------------------------------------------------

void take_server_tic(int32_t server_tic, double now) {
  if (client.highest_server_tic == 0 && hooks.set_race_tic) hooks.set_race_tic(server_tic);
  if (server_tic > client.highest_server_tic) {
    client.highest_server_tic = server_tic;
    client.server_tic_estimate = server_tic;
  }
  if (client.phase == net_phase_loaded) {
    char text[64];
    race_length_text(client.duration, client.laps, text, sizeof text);
    print_message(text);
    client.phase = net_phase_racing;
  }
}

void handle_text_command(const char *text, int length) {
  TextCommand c;
  parse_text_command(text, &c);
  switch (c.kind) {
    case command_no_arcade:
      client.no_arcade = 1;
      if (hooks.arcade_off && hooks.arcade_off()) print_message("Arcade physics disabled");
      break;
    case command_off_course_bias:
    case command_off_course_scale:
      if (c.kind == command_off_course_bias)
        client.off_course_bias = c.value;
      else
        client.off_course_scale = c.value;
      if (hooks.set_off_course) hooks.set_off_course(client.off_course_bias, client.off_course_scale);
      break;
    case command_knockout:
      if (hooks.set_knockout) hooks.set_knockout(c.knockout);
      break;
    case command_erode:
      if (c.race_id != client.race_id) break;
      if (client.erosion == -1 && c.amount == 0) {
        client.erosion = 0;
        if (hooks.set_erosion) hooks.set_erosion(0);
        break;
      }
      client.erosion = c.amount;
      {
        char chunk[32];
        int n = snprintf(chunk, sizeof chunk, "erode %d", c.amount);
        record_demo(3, chunk, n);
      }
      if (hooks.set_erosion) hooks.set_erosion(c.amount);
      break;
    case command_erode_malformed: print_message("Malformed erode command received"); break;
    case command_sendready:
      if (hooks.file_reply) hooks.file_reply(1);
      break;
    case command_senddenied:
      print_message("Send file denied");
      if (hooks.file_reply) hooks.file_reply(0);
      break;
    case command_version: {
      char version[256];
      net_version_text(version, sizeof version);
      net_send_reliable(kind_text, version, static_cast<int>(strlen(version)));
      break;
    }
    default: hovl_log("Unknown server command '%.100s'\n", text); break;
  }
  (void)length;
}

// One reliable message in sequence (a whole type 17 datagram).
void handle_reliable(const uint8_t *bytes, int length) {
  ServerMessage m;
  if (!decode_server_message(bytes, length, &m) || m.type != msg_reliable) return;
  // Payload texts end at the datagram's end.
  char text[net_datagram_buffer_size];
  int n = m.data_length < net_datagram_max ? m.data_length : net_datagram_max;
  memcpy(text, m.data, static_cast<size_t>(n));
  text[n] = 0;
  switch (m.kind) {
    case kind_chat:
      print_message(text);
      record_demo(2, m.data, m.data_length);
      break;
    case kind_timing: {
      TimingUpdate update;
      if (!decode_timing_update(m.data, m.data_length, &update) || update.race_id != client.race_id) break;
      for (int i = 0; i < update.count; i++) {
        const TimingEntry &e = update.entries[i];
        if (e.slot < 0 || e.slot >= max_slots || e.slot == client.my_slot || e.index < 0) continue;
        if (hooks.set_remote_timing) hooks.set_remote_timing(e.slot, e.index, e.tic);
      }
      if (hooks.standings_changed) hooks.standings_changed();
      break;
    }
    case kind_text: handle_text_command(text, n); break;
    case kind_deformation:
      if (m.data_length < 4 || wire_get_i32(m.data) != client.race_id) break;
      if (hooks.apply_deformation) hooks.apply_deformation(m.data + 4, m.data_length - 4);
      record_demo(5, m.data + 4, m.data_length - 4);
      break;
    default: break;
  }
}

void receive_reliable(const ServerMessage *m, const uint8_t *bytes, int length) {
  int verdict = reliable_receive(&client.reliable, m->sequence, bytes, length);
  if (verdict != reliable_refused) {
    ClientMessage ack = header(msg_ack);
    ack.sequence = m->sequence;
    send_client(&ack);
  }
  if (verdict != reliable_deliver) return;
  handle_reliable(bytes, length);
  uint8_t early[net_datagram_buffer_size];
  int n;
  while (client.socket >= 0 && (n = reliable_take_early(&client.reliable, early, net_datagram_max)) > 0)
    handle_reliable(early, n);
}

void store_rider(int slot, const ServerMessage *m) {
  parse_rider_info(m->data, m->data_length, &client.slots[slot].rider);
}

void handle_track(const ServerMessage *m, double now) {
  client.race_id = m->race_id;
  client.duration = m->duration;
  client.laps = m->laps;
  client.gate_drop = m->gate_drop;
  memcpy(client.track_hash, m->track_hash, track_hash_size);
  int n = m->data_length;
  const uint8_t *zero = static_cast<const uint8_t *>(memchr(m->data, 0, static_cast<size_t>(n)));
  if (zero) n = static_cast<int>(zero - m->data);
  if (n > net_track_name_size - 1) n = net_track_name_size - 1;
  char name[net_track_name_size];
  memcpy(name, m->data, static_cast<size_t>(n));
  name[n] = 0;
  if (n == 0 || !hooks.track_installed || !hooks.track_installed(name)) {
    char text[200];
    snprintf(text, sizeof text, "Can't find track '%.150s'\n", name);
    print_message(text);
    go_disconnecting(now);
    return;
  }
  memcpy(client.track, name, static_cast<size_t>(n) + 1);
  clear_slots();
  client.server_tic_estimate = 0;
  client.highest_server_tic = 0;
  if (hooks.clear_histories) hooks.clear_histories();
  client.gate_position = slot_none;
  client.last_rider = slot_none;
  client.phase = net_phase_track_ack;
}

void handle_start(const ServerMessage *m, double now) {
  client.gate_position = m->gate_position >= 0 && m->gate_position < max_slots ? m->gate_position : slot_none;
  store_rider(client.my_slot, m);
  client.slots[client.my_slot].kind = net_kind_local;
  NetRaceSetup setup = {};
  setup.track = client.track;
  setup.duration = client.duration;
  setup.laps = client.laps;
  setup.gate_drop = client.gate_drop;
  for (int i = 0; i < max_slots; i++) setup.kinds[i] = client.slots[i].kind;
  setup.my_slot = client.my_slot;
  setup.gate_position = client.gate_position;
  uint8_t loaded[track_hash_size] = {};
  int loaded_ok = hooks.reset_race ? hooks.reset_race(&setup, loaded) : 0;
  client.erosion = -1;
  client.last_timing_count = 0;
  client.phase = net_phase_loaded;
  client.last_send = send_now;
  char text[200];
  if (!loaded_ok) {
    snprintf(text, sizeof text, "Can't find track '%.150s'\n", client.track);
    print_message(text);
    go_disconnecting(now);
  } else if (memcmp(loaded, client.track_hash, track_hash_size) != 0) {
    snprintf(text, sizeof text, "Client track modified - does not match server's track (%.100s)\n", client.track);
    print_message(text);
    go_disconnecting(now);
  }
}

void handle_states(const ServerMessage *m) {
  for (int i = 0; i < m->record_count; i++) {
    StateRecord r;
    if (!state_record_at(m, i, &r)) {
      print_message("State packet too small");
      break;
    }
    if (r.slot < max_slots && hooks.is_remote && hooks.is_remote(r.slot) &&
        r.tic > client.slots[r.slot].last_state_tic) {
      client.slots[r.slot].last_state_tic = r.tic;
      client.slots[r.slot].ping = r.ping;
      if (hooks.add_remote_state) hooks.add_remote_state(r.slot, r.tic, &r.state);
    }
    if (m->echo) client.ping = tic_difference(local_tic(), m->echo);
  }
}

void handle_datagram(const uint8_t *bytes, int length, double now) {
  ServerMessage m;
  if (!decode_server_message(bytes, length, &m)) return;
  bool have_slot = client.my_slot != slot_none;
  int phase = client.phase;
  switch (m.type) {
    case msg_server_full: print_message("Server is full\n"); break;
    case msg_hello:
      if (phase != net_phase_contacting || m.slot < 0 || m.slot >= max_slots) break;
      client.my_slot = m.slot;
      client.connection_id = m.connection_id;
      client.last_send = send_now;
      if (m.version != server_protocol_version) {
        print_message("Server version does not match client version\n");
        go_disconnecting(now);
      } else {
        client.phase = net_phase_client_info;
      }
      break;
    case msg_track:
      if (have_slot && (phase == net_phase_client_info || phase == net_phase_restart) &&
          (client.race_id == 0 || client.race_id == m.race_id))
        handle_track(&m, now);
      break;
    case msg_rider_info:
      if (have_slot && (phase == net_phase_track_ack || phase == net_phase_bike_ack) && m.race_id == client.race_id &&
          m.slot >= 0 && m.slot < max_slots && (client.last_rider == slot_none || client.last_rider < m.slot)) {
        store_rider(m.slot, &m);
        client.slots[m.slot].kind = net_kind_network;
        client.last_rider = m.slot;
        client.phase = net_phase_bike_ack;
      }
      break;
    case msg_start:
      if (have_slot && (phase == net_phase_track_ack || phase == net_phase_bike_ack) && m.race_id == client.race_id)
        handle_start(&m, now);
      break;
    case msg_time:
    case msg_states:
      if (!have_slot || (phase != net_phase_loaded && phase != net_phase_racing) || m.race_id != client.race_id) break;
      if (m.type == msg_states)
        handle_states(&m);
      else if (m.echo)
        client.ping = tic_difference(local_tic(), m.echo);
      take_server_tic(m.server_tic, now);
      break;
    case msg_server_13: break;
    case msg_restart:
      if (have_slot && (phase == net_phase_loaded || phase == net_phase_racing) &&
          static_cast<uint32_t>(m.race_id) > static_cast<uint32_t>(client.race_id)) {
        client.race_id = m.race_id;
        client.phase = net_phase_restart;
      }
      break;
    case msg_disconnected:
      print_message("Disconnected\n");
      reset_client(nullptr);
      break;
    case msg_refusal: {
      char text[net_datagram_buffer_size];
      int n = m.data_length < net_datagram_max ? m.data_length : net_datagram_max;
      memcpy(text, m.data, static_cast<size_t>(n));
      text[n] = 0;
      print_message(text);
      go_disconnecting(now);
      break;
    }
    case msg_reliable: receive_reliable(&m, bytes, length); break;
    case msg_ack: reliable_acknowledge(&client.reliable, m.sequence); break;
    case msg_redirect:
      if (phase == net_phase_contacting && m.nonce == client.nonce) {
        char address[redirect_address_max + 1];
        int n = m.data_length < redirect_address_max ? m.data_length : redirect_address_max;
        memcpy(address, m.data, static_cast<size_t>(n));
        address[n] = 0;
        hovl_log("Redirected to %s\n", address);
        reset_client(address);
      }
      break;
    default: break;
  }
}

// --- outgoing --------------------------------------------------------------

int32_t choose_nonce() {
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  uint32_t fraction = static_cast<uint32_t>(t.tv_nsec / 1000);
  return static_cast<int32_t>(fraction * 1103515245u + 12345u);
}

void send_contact() {
  uint8_t id[32];
  build_identifier(id);
  ClientMessage m = {};
  m.type = msg_contact;
  m.password_flag = password[0] != 0;
  m.identity_a = identity_a_value;
  m.protocol_value = contact_protocol_value;
  m.nonce = client.nonce;
  m.identity_b = wire_get_i32(id);
  send_client(&m);
}

void local_rider(RiderInfo *info) {
  *info = RiderInfo{};
  if (hooks.local_rider) hooks.local_rider(info);
}

void send_client_info() {
  print_message("Sending client info\n");
  RiderInfo info;
  local_rider(&info);
  char text[client_info_text_room + 1];
  int n = rider_info_text(&info, client_info_text_room, text, sizeof text);
  uint8_t id[32];
  build_identifier(id);
  Ripemd160 r;
  ripemd160_init(&r);
  ripemd160_update(&r, info.name, strlen(info.name));
  ripemd160_update(&r, id, sizeof id);
  ClientMessage m = header(msg_client_info);
  ripemd160_final(&r, m.token);
  password_proof(password, client.connection_id, m.proof);
  m.identity_a = identity_a_value;
  m.nonce = client.nonce;
  m.data = reinterpret_cast<const uint8_t *>(text);
  m.data_length = n;
  send_client(&m);
}

void send_race_messages() {
  bool riding = client.my_slot != slot_none && client.gate_position != slot_none;
  int count;
  int32_t last_tic;
  if (riding && hooks.local_timing && hooks.local_timing(&count, &last_tic) && count != client.last_timing_count) {
    client.last_timing_count = count;
    uint8_t payload[12];
    wire_put_i32(payload, client.race_id);
    wire_put_i32(payload + 4, count - 1);
    wire_put_i32(payload + 8, count > 0 ? last_tic : -1);
    net_send_reliable(kind_timing, payload, sizeof payload);
  }
  PackedBikeState state;
  int32_t tic = local_tic();
  if (riding && tic % 4 == 0 && hooks.pack_local_state && hooks.pack_local_state(&state)) {
    ClientMessage m = header(msg_state);
    m.highest_server_tic = client.highest_server_tic;
    m.local_tic = tic;
    m.state = state;
    send_client(&m);
  }
  if (client.info_dirty && (!hooks.info_update_allowed || hooks.info_update_allowed())) {
    client.info_dirty = 0;
    RiderInfo info;
    local_rider(&info);
    char text[rider_update_text_room + 1];
    int n = rider_info_text(&info, rider_update_text_room, text, sizeof text);
    net_send_reliable(kind_rider_info, text, n);
  }
}

void send_for_phase(double now) {
  if (client.phase != net_phase_racing) {
    if (now - client.last_send < net_handshake_interval) return;
  }
  client.last_send = now;
  ClientMessage m;
  switch (client.phase) {
    case net_phase_contacting: send_contact(); break;
    case net_phase_client_info: send_client_info(); break;
    case net_phase_track_ack:
      print_message("Sending track acknowledgment\n");
      m = header(msg_track_ack);
      send_client(&m);
      break;
    case net_phase_bike_ack: {
      char text[64];
      snprintf(text, sizeof text, "Sending bike acknowledgment %d\n", client.last_rider);
      print_message(text);
      m = header(msg_bike_ack);
      m.last_rider = client.last_rider;
      send_client(&m);
      break;
    }
    case net_phase_loaded:
      m = header(msg_loaded);
      send_client(&m);
      break;
    case net_phase_racing: send_race_messages(); break;
    case net_phase_restart:
      print_message("Sending restart\n");
      m = header(msg_restart_ack);
      send_client(&m);
      break;
    case net_phase_disconnecting:
      print_message("Disconnecting\n");
      m = header(msg_disconnect);
      send_client(&m);
      break;
    default: break;
  }
}

bool open_connection(double now) {
  if (!net_resolve(&client.server, client.target, net_default_port)) {
    print_message("Can't resolve address\n");
    client.target[0] = 0;
    return false;
  }
  client.socket = net_open();
  if (client.socket < 0) {
    print_message("Can't create socket\n");
    client.target[0] = 0;
    return false;
  }
  client.phase = net_phase_contacting;
  client.nonce = choose_nonce();
  client.last_send = now;
  client.last_heard = now;
  print_message("Contacting server\n");
  send_contact();
  return true;
}

}  // namespace

// --- interface ---------------------------------------------------------------

void net_set_hooks(const NetHooks *h) { hooks = h ? *h : NetHooks{}; }

void net_connect(const char *address) {
  if (client.socket >= 0) reset_client(nullptr);
  snprintf(client.target, sizeof client.target, "%s", address ? address : "");
}

void net_set_password(const char *text) { snprintf(password, sizeof password, "%s", text ? text : ""); }

void net_set_fake_conditions(double lag, int loss_percent, uint32_t seed) {
  net_fake_set(&fake, lag, loss_percent, seed);
}

void net_client_handle_datagram(const uint8_t *bytes, int length, double now) {
  if (length < 0 || length > net_datagram_max) return;
  // Text fields end at the datagram's end: keep a terminated copy.
  uint8_t buffer[net_datagram_buffer_size];
  memcpy(buffer, bytes, static_cast<size_t>(length));
  buffer[length] = 0;
  client.last_heard = now;
  handle_datagram(buffer, length, now);
}

void net_client_run(double now) {
  client.last_run = now;
  if (client.target[0] && client.socket < 0 && !open_connection(now)) return;
  if (client.socket < 0) return;
  if (client.server_tic_estimate > 0 && client.server_tic_estimate < INT32_MAX) client.server_tic_estimate++;

  uint8_t buffer[net_datagram_buffer_size];
  for (int received = 0; received < receive_limit_per_run && client.socket >= 0; received++) {
    NetAddress from;
    int length = net_fake_active(&fake)
                     ? net_receive_fake(&fake, client.socket, buffer, net_datagram_max, &from, now)
                     : net_receive(client.socket, buffer, net_datagram_max, &from);
    if (length < 0) {
      if (net_error_name()) print_message(net_error_name());
      break;
    }
    // Only the server we talk to is heard.
    if (!net_same_address(&from, &client.server)) continue;
    net_client_handle_datagram(buffer, length, now);
  }
  if (client.socket < 0) return;

  if (hooks.file_step) hooks.file_step(now);
  if (const ReliableOutgoing *head = reliable_due(&client.reliable, now)) send_bytes(head->bytes, head->length);

  if (client.phase == net_phase_disconnecting) {
    if (now - client.disconnect_since >= net_disconnect_timeout) {
      print_message("Disconnected\n");
      reset_client(nullptr);
      return;
    }
  } else if (client.phase != net_phase_contacting && now - client.last_heard >= net_silence_timeout) {
    print_message("Server not responding\n");
    go_disconnecting(now);
  }
  send_for_phase(now);
}

void net_disconnect() {
  if (client.socket >= 0 && client.phase != net_phase_contacting) {
    go_disconnecting(client.last_run);
    client.last_send = send_now;
    return;
  }
  print_message("Disconnected\n");
  reset_client(nullptr);
}

void net_leave() {
  if (client.socket >= 0) {
    ClientMessage m = header(msg_disconnect);
    if (send_client(&m)) print_message("Disconnecting\n");
  }
  reset_client(nullptr);
}

void net_request_restart() {
  if (client.socket < 0 || client.phase != net_phase_racing) return;
  ClientMessage m = header(msg_restart_request);
  m.race_id = 1;
  if (send_client(&m)) print_message("Requesting restart\n");
}

void net_send_reliable(int kind, const void *bytes, int length) {
  if (client.socket < 0) {
    print_message("Not connected to server");
    return;
  }
  reliable_queue_client(&client.reliable, client.my_slot, client.connection_id, kind, bytes, length);
}

void net_send_chat(const char *text) { net_send_reliable(kind_chat, text, static_cast<int>(strlen(text))); }

void net_send_deformation(const uint8_t *packet, int length) {
  uint8_t payload[reliable_payload_max];
  if (length < 0) return;
  if (length > reliable_payload_max - 4) length = reliable_payload_max - 4;
  wire_put_i32(payload, client.race_id);
  memcpy(payload + 4, packet, static_cast<size_t>(length));
  net_send_reliable(kind_deformation, payload, length + 4);
}

void net_rider_info_changed() { client.info_dirty = 1; }

void net_version_text(char *buffer, int size) {
  uint8_t id[32];
  build_identifier(id);
  // The two status values: the contact protocol value and the server
  // protocol version this client speaks.
  build_version_text(buffer, size, contact_protocol_value, server_protocol_version, id, gl_renderer, gl_version);
}

void net_set_gl_strings(const char *renderer, const char *version) {
  gl_renderer = renderer;
  gl_version = version;
}

void net_client_shutdown() {
  net_leave();
  net_fake_free(&fake);
  net_shutdown();
}

int net_connected() { return client.socket >= 0; }
int net_phase() { return client.phase; }
int net_my_slot() { return client.my_slot; }
int net_gate_position() { return client.gate_position; }
int32_t net_race_id() { return client.race_id; }
int net_ping() { return client.ping; }
int32_t net_server_tic_estimate() { return client.server_tic_estimate; }
int32_t net_highest_server_tic() { return client.highest_server_tic; }
int net_waiting_for_server() { return client.socket >= 0 && client.highest_server_tic == 0; }
int net_warmup() { return client.socket >= 0 && client.gate_position == slot_none; }
int net_slot_kind(int slot) { return slot >= 0 && slot < max_slots ? client.slots[slot].kind : 0; }
const RiderInfo *net_slot_rider(int slot) { return slot >= 0 && slot < max_slots ? &client.slots[slot].rider : nullptr; }
int32_t net_slot_last_state_tic(int slot) {
  return slot >= 0 && slot < max_slots ? client.slots[slot].last_state_tic : INT32_MIN;
}
int net_slot_ping(int slot) { return slot >= 0 && slot < max_slots ? client.slots[slot].ping : 0; }
int net_no_arcade() { return client.no_arcade; }
int net_reliable_backlog() { return client.reliable.queue_count; }
const char *net_track() { return client.track; }

double net_scale_advance(double advance, int32_t race_tic) {
  if (client.socket < 0 || client.highest_server_tic == 0) return advance;
  double gap = (static_cast<double>(client.highest_server_tic) - race_tic - 1) * seconds_per_tic;
  return scale_advance_for_server(advance, gap, race_tic > client.gate_drop);
}
