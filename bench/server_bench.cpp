// The race server's cost per tic (1/128 s of its clock) with 40 and 160
// riders, on loopback:
// - relay: that many clients in the race, each sending its state every
//   fourth tic, and the server sending every client the others' states every
//   fourth tic (the clients' own sending and reading is not timed);
// - robots: that many robots simulated by the server on rabbithill, a few
//   seconds after the gate drop, with one client watching their states.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../tests/net_scene.h"
#include "net/server.h"
#include "net/server_robots.h"
#include "net/transport.h"

namespace {

void quiet(const char *) {}

// A client that has done the handshake by hand; it only sends its state and
// throws away what it gets.
struct BenchClient {
  int socket = -1;
  NetAddress server;
  int32_t slot = -1, connection_id = 0, race_id = 0;

  void send(ClientMessage m) {
    if (m.type != msg_contact) {
      m.slot = slot;
      m.connection_id = connection_id;
    }
    uint8_t out[net_datagram_buffer_size];
    net_send(socket, out, encode_client_message(&m, out, net_datagram_max), &server);
  }
  // Reads what is waiting; follows the hello and the track message.
  void drain() {
    uint8_t raw[net_datagram_buffer_size];
    NetAddress from;
    int n;
    while ((n = net_receive(socket, raw, net_datagram_max, &from)) >= 0) {
      ServerMessage m;
      if (!decode_server_message(raw, n, &m)) continue;
      if (m.type == msg_hello) {
        slot = m.slot;
        connection_id = m.connection_id;
      } else if (m.type == msg_track) {
        race_id = m.race_id;
      } else if (m.type == msg_reliable) {
        ClientMessage ack = {};
        ack.type = msg_ack;
        ack.sequence = m.sequence;
        send(ack);
      }
    }
  }
};

struct Bench {
  std::unique_ptr<RaceServer> server = std::make_unique<RaceServer>();
  std::vector<BenchClient> clients;
  double now = 1000;

  bool start(int riders, int robots) {
    ServerConfig config;
    local_server_config(&config, "rabbithill");
    config.max_riders = riders > 0 ? riders : 1;
    config.robots = robots;
    config.gate_delay = 10;
    config.race_limit = 600;
    config.client_timeout = 3600;
    config.tracks[0].have_hash = 1;  // the handshake is scripted: any hash will do
    server->log = quiet;
    if (!server_start(server.get(), &config, now)) return false;
    if (server->robot_count != robots) return false;
    clients.resize(static_cast<size_t>(riders > 0 ? riders : 1));
    for (BenchClient &c : clients) {
      c.socket = net_open();
      net_bind(c.socket, "127.0.0.1", 0, nullptr);
      net_resolve(&c.server, "127.0.0.1", server->port);
    }
    // Contact, client info, track acknowledgment, every rider at once, loaded.
    for (size_t i = 0; i < clients.size(); i++) {
      ClientMessage m = {};
      m.type = msg_contact;
      m.protocol_value = contact_protocol_value;
      m.nonce = static_cast<int32_t>(i + 1);
      clients[i].send(m);
    }
    step(2);
    const char *info = "yz250f(2017)||||\n1\nBench";
    for (BenchClient &c : clients) {
      ClientMessage m = {};
      m.type = msg_client_info;
      m.data = reinterpret_cast<const uint8_t *>(info);
      m.data_length = static_cast<int>(strlen(info));
      c.send(m);
    }
    step(2);
    for (int type : {msg_track_ack, msg_bike_ack, msg_loaded}) {
      for (BenchClient &c : clients) {
        ClientMessage m = {};
        m.type = type;
        m.race_id = c.race_id;
        m.last_rider = max_slots - 1;
        c.send(m);
      }
      step(2);
    }
    // A few seconds past the gate drop.
    while (server->server_tic < server->gate_drop + 3 * tics_per_second) step(1);
    return server_client_count(server.get()) == static_cast<int>(clients.size());
  }
  void step(int tics) {
    for (int k = 0; k < tics; k++) {
      now += seconds_per_tic;
      server_run(server.get(), now);
      for (BenchClient &c : clients) c.drain();
    }
  }
  ~Bench() {
    server_stop(server.get());
    for (BenchClient &c : clients) net_close(c.socket);
  }
};

void BM_ServerRelayTic(benchmark::State &state) {
  int riders = static_cast<int>(state.range(0));
  Bench bench;
  if (!bench.start(riders, 0)) {
    state.SkipWithError("the riders did not all join");
    return;
  }
  PackedBikeState pose = {};
  int tic = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (tic % 4 == 0)
      for (BenchClient &c : bench.clients) {
        ClientMessage m = {};
        m.type = msg_state;
        m.race_id = c.race_id;
        m.local_tic = bench.server->server_tic;
        m.highest_server_tic = bench.server->server_tic;
        m.state = pose;
        c.send(m);
      }
    bench.now += seconds_per_tic;
    state.ResumeTiming();
    server_run(bench.server.get(), bench.now);
    state.PauseTiming();
    for (BenchClient &c : bench.clients) c.drain();
    tic++;
    state.ResumeTiming();
  }
  state.counters["riders"] = riders;
}
BENCHMARK(BM_ServerRelayTic)->Arg(40)->Arg(160)->Unit(benchmark::kMicrosecond);

bool open_data() {
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
  std::string data = (exe.parent_path() / ".." / "bin").string();
  std::string home = (std::filesystem::temp_directory_path() / "torvane_server_bench").string();
  setenv("QX_HOME", data.c_str(), 1);
  return server_open_data(home.c_str());
}

void BM_ServerRobotsTic(benchmark::State &state) {
  static bool data = open_data();
  int robots = static_cast<int>(state.range(0));
  Bench bench;
  if (!data || !bench.start(0, robots)) {
    state.SkipWithError("no game data, or the robots did not start");
    return;
  }
  for (auto _ : state) {
    bench.now += seconds_per_tic;
    server_run(bench.server.get(), bench.now);
    state.PauseTiming();
    bench.clients[0].drain();
    state.ResumeTiming();
  }
  state.counters["riders"] = robots;
}
BENCHMARK(BM_ServerRobotsTic)->Arg(40)->Arg(159)->Unit(benchmark::kMillisecond);

}  // namespace
