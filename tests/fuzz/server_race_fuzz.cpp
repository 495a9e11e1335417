// The race server with its robots on the tiny ring track: sequences of
// datagrams from a few made-up client addresses, the server running after
// each. Two robots ride every race on the server's own simulation, so
// riders' deformation packets dig the simulated ground (the robot erode
// path), and the races are short enough (0.6 s after a 0.25 s gate delay)
// that an input sees a race end and the next one begin.
// Input: records of one byte, a 2-byte little-endian length and that many
// bytes (the format torvane-relay --record writes). The first byte holds
// the sender in bits 0-1 and the server tics that pass after the datagram in
// bits 3-7; with bit 2 set the datagram is stamped with the slot and the
// connection id the server gave that sender, so that recorded datagrams
// (whose ids came from another server's generator) are taken as the
// sender's own. Whatever the server sends goes to closed ports on 127.0.0.1.
#include <cstdint>
#include <cstring>

#include "net/server.h"
#include "net/server_robots.h"
#include "race/race.h"
#include "race_fuzz.h"
#include "server_fuzz.h"

namespace {

// Simulated server time per run (tics), so that a long input costs a
// bounded time.
constexpr int max_server_tics = 192;

void quiet(const char *) {}

// Writes the sender's slot and connection id into a datagram that has them.
void stamp(const RaceServer *server, const NetAddress *from, uint8_t *bytes, int length) {
  if (length < 9 || bytes[0] == msg_contact) return;
  for (int slot = 0; slot < max_slots; slot++) {
    const ServerClient &c = server->clients[slot];
    if (c.state == server_client_free || !net_same_address(&c.address, from)) continue;
    wire_put_i32(bytes + 1, slot);
    wire_put_i32(bytes + 5, c.connection_id);
    return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static RaceServer *server = nullptr;
  static ServerConfig config;
  if (!server) {
    if (!server_open_data(race_fuzz_write_track().c_str())) abort();
    server = new RaceServer();
    server_config_defaults(&config);
    snprintf(config.bind, sizeof config.bind, "127.0.0.1");
    config.port = 0;
    config.track_count = 1;
    config.tracks[0] = ServerTrack{};
    snprintf(config.tracks[0].dir, sizeof config.tracks[0].dir, "%s", race_fuzz_track);
    config.tracks[0].minutes = -1;
    config.laps = 1;
    config.gate_delay = 0.25;
    config.race_limit = 0.01;
    config.results_wait = 0.1;
    config.robots = 2;
    config.erode = 50;
    snprintf(config.motd, sizeof config.motd, "welcome");
    snprintf(config.knockout, sizeof config.knockout, "128 256");
    server_data_track_info(&config, nullptr);
    if (!config.tracks[0].have_hash) abort();
    server->log = quiet;
  }
  // The race reset seeds its generator from the tic it starts at.
  race_state().tic = 0;
  if (!server_start(server, &config, 0.0)) return 0;
  // Connection ids come from a generator: make them repeatable.
  server->random_state = 1;

  NetAddress senders[4];
  fuzz_sender_addresses(senders);
  double now = 0;
  size_t at = 0;
  int control, length;
  const uint8_t *bytes;
  uint8_t datagram[net_datagram_buffer_size];
  while (now < max_server_tics * seconds_per_tic && fuzz_next_record(data, size, &at, &control, &bytes, &length)) {
    const NetAddress *from = &senders[control & 3];
    memcpy(datagram, bytes, static_cast<size_t>(length));
    if (control & 4) stamp(server, from, datagram, length);
    server_handle_datagram(server, datagram, length, from, now);
    now += (control >> 3) * seconds_per_tic;
    server_run(server, now);
  }
  server_stop(server);
  return 0;
}
