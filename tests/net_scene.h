// A client of the race server written out by hand, for tests that run the
// server in-process: it sends exactly what the test tells it to, and keeps
// what the server sent it (reliable messages are acknowledged as they come).
#pragma once
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "net/protocol.h"
#include "net/server.h"
#include "net/transport.h"

// The defaults of a server on a free loopback port; with a track, that one
// track raced by laps with no time limit.
inline void local_server_config(ServerConfig *c, const char *track) {
  server_config_defaults(c);
  snprintf(c->bind, sizeof c->bind, "127.0.0.1");
  c->port = 0;
  if (!track) return;
  c->track_count = 1;
  c->tracks[0] = ServerTrack{};
  snprintf(c->tracks[0].dir, sizeof c->tracks[0].dir, "%s", track);
  c->tracks[0].minutes = -1;
}

struct ScriptedClient {
  int socket;
  NetAddress server;
  int32_t slot = -1, connection_id = 0, race_id = 0;
  int gate_position = -1;
  int32_t server_tic = 0;
  int32_t next_sequence = 0;
  std::vector<std::vector<uint8_t>> received;  // every datagram so far

  explicit ScriptedClient(int port) {
    socket = net_open();
    net_bind(socket, "127.0.0.1", 0, nullptr);
    net_resolve(&server, "127.0.0.1", port);
  }
  ~ScriptedClient() { net_close(socket); }
  ScriptedClient(const ScriptedClient &) = delete;
  ScriptedClient &operator=(const ScriptedClient &) = delete;

  void send(ClientMessage m) {
    if (m.type != msg_contact) {
      m.slot = slot;
      m.connection_id = connection_id;
    }
    uint8_t out[net_datagram_buffer_size];
    int n = encode_client_message(&m, out, net_datagram_max);
    net_send(socket, out, n, &server);
  }
  void send_type(int type) {
    ClientMessage m = {};
    m.type = type;
    m.race_id = race_id;
    send(m);
  }
  void send_reliable(int kind, const void *payload, int length) {
    ClientMessage m = {};
    m.type = msg_reliable;
    m.sequence = next_sequence++;
    m.kind = kind;
    m.data = static_cast<const uint8_t *>(payload);
    m.data_length = length;
    send(m);
  }
  void send_state(int32_t tic, const PackedBikeState &state) {
    ClientMessage m = {};
    m.type = msg_state;
    m.race_id = race_id;
    m.local_tic = tic;
    m.highest_server_tic = server_tic;
    m.state = state;
    send(m);
  }
  // Reads what is waiting, keeps it, acknowledges reliable messages and
  // follows the handshake's values (slot, race, gate position, server tic).
  void pump() {
    uint8_t raw[net_datagram_buffer_size];
    NetAddress from;
    int n;
    while ((n = net_receive(socket, raw, net_datagram_max, &from)) >= 0) {
      received.emplace_back(raw, raw + n);
      ServerMessage m;
      if (!decode_server_message(raw, n, &m)) continue;
      if (m.type == msg_hello) {
        slot = m.slot;
        connection_id = m.connection_id;
      } else if (m.type == msg_track) {
        race_id = m.race_id;
      } else if (m.type == msg_start) {
        gate_position = m.gate_position;
      } else if ((m.type == msg_time || m.type == msg_states) && m.server_tic > server_tic) {
        server_tic = m.server_tic;
      } else if (m.type == msg_reliable) {
        ClientMessage ack = {};
        ack.type = msg_ack;
        ack.sequence = m.sequence;
        send(ack);
      }
    }
  }
  // Calls f for every datagram received so far, decoded.
  void each(const std::function<void(const ServerMessage &)> &f) const {
    for (const std::vector<uint8_t> &d : received) {
      ServerMessage m;
      if (decode_server_message(d.data(), static_cast<int>(d.size()), &m)) f(m);
    }
  }
  // The reliable payloads of one kind, as text.
  // The reliable payloads of one kind, as text; a message the server sent
  // again counts once.
  std::vector<std::string> reliable_texts(int kind) const {
    std::vector<std::string> out;
    std::vector<int32_t> seen;
    each([&](const ServerMessage &m) {
      if (m.type != msg_reliable) return;
      for (int32_t s : seen)
        if (s == m.sequence) return;
      seen.push_back(m.sequence);
      if (m.kind == kind) out.emplace_back(reinterpret_cast<const char *>(m.data), static_cast<size_t>(m.data_length));
    });
    return out;
  }
};
