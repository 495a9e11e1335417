// Feeds the race server sequences of datagrams from a few made-up client
// addresses. Input: records of one byte choosing the sender, a 2-byte
// little-endian length and that many bytes; the server runs a tic after each.
// Whatever it sends goes to closed ports on 127.0.0.1.
#include <cstdint>
#include <cstring>
#include <memory>

#include "net/server.h"
#include "server_fuzz.h"

namespace {

void quiet(const char *) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static RaceServer *server = nullptr;
  static ServerConfig config;
  if (!server) {
    server = new RaceServer();
    server_config_defaults(&config);
    snprintf(config.bind, sizeof config.bind, "127.0.0.1");
    config.port = 0;
    config.gate_delay = 0.5;
    config.results_wait = 0.1;
    snprintf(config.password, sizeof config.password, "pw");
    snprintf(config.motd, sizeof config.motd, "welcome");
    snprintf(config.knockout, sizeof config.knockout, "1 2 3");
    config.track_count = 2;
    snprintf(config.tracks[0].dir, sizeof config.tracks[0].dir, "a");
    snprintf(config.tracks[1].dir, sizeof config.tracks[1].dir, "b");
    config.tracks[0].minutes = config.tracks[1].minutes = -1;
    config.tracks[0].first_lap = config.tracks[0].normal_lap = 1;
    server->log = quiet;
  }
  if (!server_start(server, &config, 0.0)) return 0;
  // Password checks must not stop the fuzzer: the first byte says whether
  // this run has one.
  if (size > 0 && (data[0] & 1)) server->config.password[0] = 0;
  // Connection ids come from a generator: make them repeatable.
  server->random_state = 1;

  NetAddress senders[4];
  fuzz_sender_addresses(senders);
  double now = 0;
  size_t at = 1;
  int control, length;
  const uint8_t *bytes;
  while (fuzz_next_record(data, size, &at, &control, &bytes, &length)) {
    server_handle_datagram(server, bytes, length, &senders[control & 3], now);
    now += 0.05 * ((data[at - 1 < size ? at - 1 : 0] & 7) + 1);
    server_run(server, now);
  }
  server_stop(server);
  return 0;
}
