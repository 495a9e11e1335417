// The race server in-process on 127.0.0.1, with the real client and with
// scripted clients; and its configuration.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "net/client.h"
#include "net/server.h"
#include "platform/log.h"
#include "test_util.h"

namespace {

std::vector<std::string> server_log;
std::vector<std::string> warnings;
void log_line(const char *line) { server_log.push_back(line); }
void warn_line(const char *line) { warnings.push_back(line); }

bool logged(const std::string &part) {
  for (const std::string &line : server_log)
    if (line.find(part) != std::string::npos) return true;
  return false;
}

bool saw_message(const char *text) {
  for (int i = 0; i < 100; i++)
    if (strcmp(message_line(i), text) == 0) return true;
  return false;
}

const uint8_t hash_a[track_hash_size] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};

// What the real client told the race.
struct Seen {
  int resets;
  NetRaceSetup setup;
  int erosion;
  int32_t knockout0;
  int timing_count;
  int has_bike;
  int remote_states[max_slots];
  int32_t tic;
} seen;

NetHooks client_hooks() {
  NetHooks h = {};
  h.track_installed = [](const char *name) { return strncmp(name, "track", 5) == 0 ? 1 : 0; };
  h.reset_race = [](const NetRaceSetup *s, uint8_t hash[track_hash_size]) {
    seen.resets++;
    seen.setup = *s;
    memcpy(hash, hash_a, track_hash_size);
    return 1;
  };
  h.race_tic = []() { return seen.tic; };
  h.set_race_tic = [](int32_t tic) { seen.tic = tic; };
  h.is_remote = [](int slot) { return slot != net_my_slot() && seen.setup.kinds[slot] == net_kind_network ? 1 : 0; };
  h.add_remote_state = [](int slot, int32_t, const PackedBikeState *) { seen.remote_states[slot]++; };
  h.pack_local_state = [](PackedBikeState *out) {
    memset(out, 0x33, sizeof *out);
    return seen.has_bike;
  };
  h.local_timing = [](int *count, int32_t *last) {
    *count = seen.timing_count;
    *last = seen.tic;
    return seen.has_bike;
  };
  h.local_rider = [](RiderInfo *r) {
    strcpy(r->bike, "yz250f(2017)");
    strcpy(r->number, "42");
    strcpy(r->name, "Real");
  };
  h.set_erosion = [](int amount) { seen.erosion = amount; };
  h.set_knockout = [](const int32_t extra[knockout_count]) { seen.knockout0 = extra[0]; };
  return h;
}

// A client written out by hand: it answers only what the test tells it to.
struct ScriptedClient {
  int socket;
  NetAddress server;
  int32_t slot = -1, connection_id = 0, race_id = 0;
  uint8_t raw[net_datagram_buffer_size];
  explicit ScriptedClient(int port) {
    socket = net_open();
    net_bind(socket, "127.0.0.1", 0, nullptr);
    net_resolve(&server, "127.0.0.1", port);
  }
  ~ScriptedClient() { net_close(socket); }
  void send(ClientMessage m) {
    if (m.type != msg_contact) {
      m.slot = slot;
      m.connection_id = connection_id;
    }
    uint8_t out[net_datagram_buffer_size];
    int n = encode_client_message(&m, out, net_datagram_max);
    net_send(socket, out, n, &server);
  }
  // Every datagram waiting, decoded; payloads stay valid until the next call.
  std::vector<ServerMessage> all() {
    std::vector<ServerMessage> list;
    datagrams.clear();
    NetAddress from;
    int n;
    while ((n = net_receive(socket, raw, net_datagram_max, &from)) >= 0) datagrams.emplace_back(raw, raw + n);
    for (const std::vector<uint8_t> &d : datagrams) {
      ServerMessage m;
      if (decode_server_message(d.data(), static_cast<int>(d.size()), &m)) list.push_back(m);
    }
    return list;
  }
  std::deque<std::vector<uint8_t>> datagrams;
};

class NetServer : public ::testing::Test {
 protected:
  std::unique_ptr<RaceServer> server = std::make_unique<RaceServer>();
  ServerConfig config;
  double now = 50.0;

  void SetUp() override {
    server_log.clear();
    warnings.clear();
    message_clear();
    seen = Seen{};
    server_config_defaults(&config);
    snprintf(config.bind, sizeof config.bind, "127.0.0.1");
    config.port = 0;
    config.gate_delay = 10;
    config.results_wait = 0.5;
    config.erode = 300;
    snprintf(config.knockout, sizeof config.knockout, "128 256");
    server->log = log_line;
    NetHooks h = client_hooks();
    net_set_hooks(&h);
    net_set_password(nullptr);
  }
  void TearDown() override {
    net_leave();
    net_set_hooks(nullptr);
    server_stop(server.get());
  }
  void add_track(const char *dir, int laps) {
    ServerTrack &t = config.tracks[config.track_count++];
    t = ServerTrack{};
    snprintf(t.dir, sizeof t.dir, "%s", dir);
    t.laps = laps;
    t.minutes = -1;
    memcpy(t.hash, hash_a, track_hash_size);
    t.have_hash = 1;
    t.first_lap = 2;
    t.normal_lap = 2;
  }
  void start() {
    if (config.track_count == 0) add_track("track1", 1);
    ASSERT_EQ(server_start(server.get(), &config, now), 1);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(server->port); }
  // Both ends for this many seconds of tics.
  void run(double seconds) {
    for (double until = now + seconds; now < until;) {
      now += seconds_per_tic;
      seen.tic++;
      server_run(server.get(), now);
      net_client_run(now);
    }
  }
  void run_until(int phase, double limit = 10) {
    for (double until = now + limit; now < until && net_phase() != phase;) run(seconds_per_tic);
  }
  // A scripted client up to the racing state, watching the replies.
  void join_scripted(ScriptedClient &c, const char *text = "kx125||||\n5\nScripted") {
    ClientMessage m = {};
    m.type = msg_contact;
    m.protocol_value = contact_protocol_value;
    m.nonce = 1234;
    c.send(m);
    run(0.02);
    for (const ServerMessage &r : c.all())
      if (r.type == msg_hello) {
        c.slot = r.slot;
        c.connection_id = r.connection_id;
      }
    ASSERT_GE(c.slot, 0);
    m = {};
    m.type = msg_client_info;
    m.data = reinterpret_cast<const uint8_t *>(text);
    m.data_length = static_cast<int>(strlen(text));
    c.send(m);
    run(0.02);
    for (const ServerMessage &r : c.all())
      if (r.type == msg_track) c.race_id = r.race_id;
    ASSERT_NE(c.race_id, 0);
    m = {};
    m.type = msg_track_ack;
    m.race_id = c.race_id;
    c.send(m);
    run(0.02);
    bool started = false;
    for (const ServerMessage &r : c.all()) started |= r.type == msg_start;
    ASSERT_TRUE(started);
    m = {};
    m.type = msg_loaded;
    m.race_id = c.race_id;
    c.send(m);
    run(0.02);
  }
  void scripted_state(ScriptedClient &c, int32_t tic) {
    ClientMessage m = {};
    m.type = msg_state;
    m.race_id = c.race_id;
    m.local_tic = tic;
    m.highest_server_tic = server->server_tic;
    c.send(m);
  }
};

}  // namespace

TEST_F(NetServer, RealClientJoinsAndRaces) {
  start();
  net_connect(address().c_str());
  run_until(net_phase_racing);
  ASSERT_EQ(net_phase(), net_phase_racing);
  EXPECT_EQ(net_my_slot(), 0);
  EXPECT_EQ(net_gate_position(), 0);
  EXPECT_STREQ(net_track(), "track1");
  EXPECT_EQ(seen.resets, 1);
  EXPECT_EQ(seen.setup.laps, 1);
  EXPECT_EQ(seen.setup.gate_drop, 10 * 128);
  EXPECT_EQ(seen.setup.kinds[0], net_kind_local);
  run(0.5);
  EXPECT_EQ(seen.erosion, 300);  // the race's text commands arrived
  EXPECT_EQ(seen.knockout0, 128);
  EXPECT_TRUE(logged("Rider 0 joined: #42 Real on yz250f(2017)"));
  EXPECT_TRUE(logged("Rider 0 (Real) is in race 1, racing"));
  // The client's clock follows the server's.
  EXPECT_NEAR(net_highest_server_tic(), server->server_tic, 8);
  net_disconnect();
  run(1.5);
  EXPECT_FALSE(net_connected());
  EXPECT_TRUE(logged("Rider 0 (Real) left"));
  EXPECT_EQ(server_client_count(server.get()), 0);
}

TEST_F(NetServer, StatesTimingAndChatAreRelayed) {
  start();
  ScriptedClient other(server->port);
  join_scripted(other);
  net_connect(address().c_str());
  run_until(net_phase_racing);
  ASSERT_EQ(net_phase(), net_phase_racing);
  EXPECT_EQ(seen.setup.kinds[other.slot], net_kind_network);
  EXPECT_STREQ(net_slot_rider(other.slot)->name, "Scripted");

  // The scripted rider's states reach the real client's history.
  for (int i = 1; i <= 10; i++) {
    scripted_state(other, 100 + 4 * i);
    run(4 * seconds_per_tic);
  }
  EXPECT_GE(seen.remote_states[other.slot], 5);
  EXPECT_EQ(net_slot_last_state_tic(other.slot), 140);

  // The real client's states, timing and chat reach the scripted one.
  seen.has_bike = 1;
  seen.timing_count = 1;
  net_send_chat("hello there");
  int states = 0, timing = 0, chat = 0;
  for (int i = 0; i < 40; i++) {
    scripted_state(other, 200 + 4 * i);
    run(2 * seconds_per_tic);
    for (const ServerMessage &m : other.all()) {
      if (m.type == msg_states) {
        StateRecord r;
        for (int k = 0; state_record_at(&m, k, &r); k++) states += r.slot == net_my_slot();
      }
      if (m.type == msg_reliable) {
        if (m.kind == kind_timing) timing++;
        if (m.kind == kind_chat &&
            std::string(reinterpret_cast<const char *>(m.data), m.data_length) == "Real: hello there")
          chat++;
        ClientMessage ack = {};
        ack.type = msg_ack;
        ack.sequence = m.sequence;
        other.send(ack);
      }
    }
  }
  EXPECT_GT(states, 5);
  EXPECT_EQ(timing, 1);
  EXPECT_EQ(chat, 1);
  EXPECT_TRUE(saw_message("Real: hello there"));
}

TEST_F(NetServer, WrongPasswordIsRefused) {
  snprintf(config.password, sizeof config.password, "sesame");
  start();
  net_set_password("open");
  net_connect(address().c_str());
  run(1.0);
  EXPECT_EQ(net_phase(), net_phase_disconnecting);
  EXPECT_TRUE(logged("gave a wrong password"));
  EXPECT_EQ(server_client_count(server.get()), 0);

  net_leave();
  net_set_password("sesame");
  net_connect(address().c_str());
  run_until(net_phase_racing);
  EXPECT_EQ(net_phase(), net_phase_racing);
}

TEST_F(NetServer, FullServerSaysSo) {
  config.max_riders = 1;
  start();
  ScriptedClient first(server->port);
  join_scripted(first);
  net_connect(address().c_str());
  run(0.2);
  EXPECT_EQ(net_phase(), net_phase_contacting);
  EXPECT_TRUE(logged("server full"));
}

TEST_F(NetServer, SurvivesGarbageAndVanishingClients) {
  config.client_timeout = 2;
  start();
  ScriptedClient ghost(server->port);
  join_scripted(ghost);
  ASSERT_EQ(server_client_count(server.get()), 1);
  // Garbage of every type and length, from the ghost's address and others.
  uint32_t x = 12345;
  ScriptedClient stranger(server->port);
  for (int i = 0; i < 2000; i++) {
    uint8_t bytes[net_datagram_max];
    int n = static_cast<int>((x >> 8) % 80);
    for (int k = 0; k < n; k++) {
      x = x * 1103515245u + 12345u;
      bytes[k] = static_cast<uint8_t>(x >> 16);
    }
    if (n > 0) bytes[0] = static_cast<uint8_t>(i % 30);
    // Half of them with the ghost's real slot and connection id.
    if (n >= 9 && i % 2) {
      wire_put_i32(bytes + 1, ghost.slot);
      wire_put_i32(bytes + 5, ghost.connection_id);
    }
    net_send((i % 3 ? ghost : stranger).socket, bytes, n, &ghost.server);
    if (i % 50 == 0) run(seconds_per_tic);
  }
  run(0.1);
  EXPECT_GT(server->garbage, 100);
  // The ghost now stays silent and is dropped.
  for (int i = 0; i < 4; i++) {
    ghost.all();
    stranger.all();
    run(1.0);
  }
  EXPECT_TRUE(logged("timed out"));
  EXPECT_EQ(server_client_count(server.get()) - (stranger.slot >= 0), 0);
  // And the server still serves.
  net_connect(address().c_str());
  run_until(net_phase_racing);
  EXPECT_EQ(net_phase(), net_phase_racing);
}

TEST_F(NetServer, RacesFollowTheTrackList) {
  add_track("track1", 1);
  add_track("track2", 2);
  start();
  net_connect(address().c_str());
  run_until(net_phase_racing);
  ASSERT_EQ(net_phase(), net_phase_racing);
  int32_t first_race = net_race_id();
  // One lap is two timing gates here: the rider finishes.
  seen.has_bike = 1;
  seen.timing_count = 2;
  run(0.5);
  EXPECT_TRUE(logged("Rider 0 (Real) finished"));
  EXPECT_TRUE(logged("Race 1 over (every rider finished)"));
  run(1.0);
  EXPECT_TRUE(logged("Race 2: track track2, 2 laps"));
  run_until(net_phase_racing);
  run(0.1);
  EXPECT_EQ(net_phase(), net_phase_racing);
  EXPECT_GT(net_race_id(), first_race);
  EXPECT_STREQ(net_track(), "track2");
  EXPECT_EQ(seen.resets, 2);
  EXPECT_EQ(seen.setup.laps, 2);
}

TEST_F(NetServer, LateRiderWatchesThenRacesNext) {
  config.gate_delay = 1;
  start();
  run(2.0);  // past the gate drop with nobody there
  net_connect(address().c_str());
  run_until(net_phase_racing);
  run(0.2);
  // Too late for race 1: a new race starts for the waiting rider at once.
  EXPECT_TRUE(logged("Race 1 has no riders"));
  run_until(net_phase_racing);
  run(0.5);
  EXPECT_EQ(net_phase(), net_phase_racing);
  EXPECT_EQ(net_race_id(), 2);
  EXPECT_EQ(net_gate_position(), 0);
}

TEST(NetServerConfig, FileAndArgumentsOverrideDefaults) {
  warnings.clear();
  ServerConfig c;
  server_config_defaults(&c);
  EXPECT_EQ(c.port, 19800);
  // The shipped file is the defaults' text, which reads back without a
  // warning and changes nothing.
  EXPECT_EQ(read_text_file(std::string(TORVANE_SOURCE_DIR) + "/tools/server/torvane-server.cfg"),
            server_config_default_text());
  server_config_read(&c, server_config_default_text(), warn_line);
  EXPECT_TRUE(warnings.empty());
  EXPECT_EQ(c.max_riders, 16);
  EXPECT_EQ(c.track_count, 0);

  const char *text =
      "# a comment\n"
      "port = 20001   # trailing comment\n"
      "max_riders = 500\n"
      "laps=5\n"
      "colour = blue\n"
      "no equals here\n"
      "password = two words\n"
      "track = mx1\n"
      "track = mx2 4 2.5 000102030405060708090a0b0c0d0e0f10111213\n"
      "track = ../etc\n"
      "track = mx3 x\n";
  server_config_read(&c, text, warn_line);
  EXPECT_EQ(c.port, 20001);
  EXPECT_EQ(c.max_riders, 16);  // out of range: kept
  EXPECT_EQ(c.laps, 5);
  EXPECT_STREQ(c.password, "two words");
  ASSERT_EQ(c.track_count, 3);
  EXPECT_STREQ(c.tracks[1].dir, "mx2");
  EXPECT_EQ(c.tracks[1].laps, 4);
  EXPECT_DOUBLE_EQ(c.tracks[1].minutes, 2.5);
  EXPECT_EQ(c.tracks[1].have_hash, 1);
  EXPECT_EQ(c.tracks[1].hash[19], 0x13);
  EXPECT_EQ(c.tracks[0].have_hash, 0);
  EXPECT_EQ(warnings.size(), 5u);  // max_riders, colour, no equals, ../etc, mx3 laps

  const char *argv[] = {"torvane-server", "--config", "x.cfg", "--port=7", "--track", "a", "--track", "b",
                        "--laps", "9"};
  EXPECT_EQ(server_config_arguments(&c, 10, const_cast<char **>(argv), warn_line), -1);
  EXPECT_EQ(c.port, 7);
  EXPECT_EQ(c.laps, 9);
  ASSERT_EQ(c.track_count, 2);
  EXPECT_STREQ(c.tracks[1].dir, "b");
  const char *bad[] = {"torvane-server", "--bogus"};
  EXPECT_EQ(server_config_arguments(&c, 2, const_cast<char **>(bad), warn_line), 1);
  const char *missing[] = {"torvane-server", "--port"};
  EXPECT_EQ(server_config_arguments(&c, 2, const_cast<char **>(missing), warn_line), 1);

  // Hashes and lap lengths come from the game's track info files.
  std::string dir = make_temp_dir("server_config");
  write_text_file(dir + "/a.trackinfo",
                  "dir=a\nlongname=A\nfirstlap=12\nnormallap=10\ngatecount=8\n"
                  "hash=ffeeddccbbaa99887766554433221100ffeeddcc\n");
  snprintf(c.tracks_dir, sizeof c.tracks_dir, "%s", dir.c_str());
  server_config_track_info(&c, warn_line);
  EXPECT_EQ(c.tracks[0].have_hash, 1);
  EXPECT_EQ(c.tracks[0].hash[0], 0xff);
  EXPECT_EQ(c.tracks[0].first_lap, 12);
  EXPECT_EQ(c.tracks[0].normal_lap, 10);
  EXPECT_EQ(c.tracks[1].have_hash, 0);
}

// The torvane-server program itself, with stdin closed, against the real client.
TEST_F(NetServer, ServerProgramRacesTheClient) {
  // A free port: bind one, note it, let it go.
  int probe = net_open();
  int port = 0;
  ASSERT_TRUE(net_bind(probe, "127.0.0.1", 0, &port));
  net_close(probe);
  std::string dir = make_temp_dir("server_program");
  std::string log_path = dir + "/server.log";
  char hash_text[2 * track_hash_size + 1];
  for (int i = 0; i < track_hash_size; i++) snprintf(hash_text + 2 * i, 3, "%02x", hash_a[i]);
  std::string track = std::string("track9 1 0 ") + hash_text;
  std::string port_text = std::to_string(port);
  std::string program = std::string(TORVANE_BIN_DIR) + "/torvane-server";
  int status = 0;
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY), out = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    chdir("/");
    execl(program.c_str(), "torvane-server", "--bind", "127.0.0.1", "--port", port_text.c_str(), "--track",
          track.c_str(), "--quit-after", "20", "--gate-delay", "2", nullptr);
    _exit(127);
  }
  auto wall = []() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
  };
  for (double until = wall() + 5; wall() < until && read_text_file(log_path).find("Listening") == std::string::npos;) {
    timespec pause = {0, 10000000};
    nanosleep(&pause, nullptr);
  }
  net_connect(("127.0.0.1:" + port_text).c_str());
  for (double until = wall() + 8; wall() < until && net_phase() != net_phase_racing;) {
    seen.tic++;
    net_client_run(wall());
    timespec pause = {0, 2000000};
    nanosleep(&pause, nullptr);
  }
  EXPECT_EQ(net_phase(), net_phase_racing);
  EXPECT_STREQ(net_track(), "track9");
  net_send_chat("hi from the test");
  for (double until = wall() + 1; wall() < until;) {
    seen.tic++;
    net_client_run(wall());
    timespec pause = {0, 2000000};
    nanosleep(&pause, nullptr);
  }
  EXPECT_TRUE(saw_message("Real: hi from the test"));
  kill(pid, SIGTERM);
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::string log = read_text_file(log_path);
  EXPECT_NE(log.find("Rider 0 joined: #42 Real"), std::string::npos) << log;
  EXPECT_NE(log.find("Chat from 0: Real: hi from the test"), std::string::npos) << log;
  EXPECT_NE(log.find("Server stopped"), std::string::npos) << log;
}

TEST_F(NetServer, RestartRequestWinsTheVote) {
  start();
  net_connect(address().c_str());
  run_until(net_phase_racing);
  ASSERT_EQ(net_race_id(), 1);
  net_request_restart();
  EXPECT_TRUE(saw_message("Requesting restart\n"));
  run(0.1);
  EXPECT_TRUE(logged("Restart by vote (1 of 1)"));
  EXPECT_TRUE(logged("Race 2: track track1"));
  run_until(net_phase_racing);
  run(0.1);
  EXPECT_EQ(net_phase(), net_phase_racing);
  EXPECT_EQ(net_race_id(), 2);
  EXPECT_EQ(seen.resets, 2);
}

// What riders send reaches the log escaped: a chat line clearing the
// terminal and holding a zero byte is logged whole, as printable text.
TEST_F(NetServer, LogEscapesWireTextAndLimitsContacts) {
  start();
  ScriptedClient rider(server->port);
  join_scripted(rider, "kx125||||\n5\nEvil\x7f");
  static const char chat[] = "look \x1b[2J here\0after \\x";
  ClientMessage m = {};
  m.type = msg_reliable;
  m.kind = kind_chat;
  m.sequence = 0;
  m.data = reinterpret_cast<const uint8_t *>(chat);
  m.data_length = static_cast<int>(sizeof chat - 1);
  rider.send(m);
  run(0.05);
  EXPECT_TRUE(logged("Chat from " + std::to_string(rider.slot) + ": Evil\\x7f: look \\x1b[2J here\\x00after \\\\x"));
  for (const std::string &line : server_log)
    for (unsigned char c : line) ASSERT_TRUE(c >= 32 && c < 127) << line;

  // A flood of refused contacts from one address: one line a second, and
  // the next one counts what was left out.
  ScriptedClient flood(server->port);
  ClientMessage contact = {};
  contact.type = msg_contact;
  contact.protocol_value = contact_protocol_value + 1;
  auto refusals = [] {
    int n = 0;
    for (const std::string &line : server_log) n += line.find("refused") != std::string::npos;
    return n;
  };
  for (int i = 0; i < 20; i++) {
    contact.nonce = 100 + i;
    flood.send(contact);
    run(0.02);
  }
  EXPECT_EQ(refusals(), 1);
  run(1.0);
  contact.nonce = 99;
  flood.send(contact);
  run(0.02);
  EXPECT_EQ(refusals(), 2);
  EXPECT_TRUE(logged("(19 more from this address in the last second left out)"));
}
