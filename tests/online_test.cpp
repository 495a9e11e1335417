// Online racing in one process, on the default data and on a virtual clock:
// the race server (without robots), the real client with the real race on
// rabbithill, and a scripted second rider. The race takes the server's track,
// gate drop and clock; the scripted rider's states drive its bike; the local
// rider's states, timing, chat and ruts reach the other side; the server's
// deformation packets dig the local ground; silence hides a rider; leaving
// ends the race's network mode.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/config.h"
#include "bike/bike.h"
#include "bike/crash.h"
#include "net/client.h"
#include "net/server.h"
#include "net/server_robots.h"
#include "net_scene.h"
#include "platform/log.h"
#include "race/race.h"
#include "race/race_net.h"
#include "replay/history.h"
#include "runner/runner.h"
#include "test_util.h"
#include "track/deform.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

std::vector<std::string> server_log;
void log_line(const char *line) { server_log.push_back(line); }
bool logged(const std::string &part) {
  for (const std::string &line : server_log)
    if (line.find(part) != std::string::npos) return true;
  return false;
}

std::vector<std::string> chats;
void on_chat(const char *text) { chats.emplace_back(text); }

float frame_distance(const BikeState *bike, float x, float z) {
  const dReal *p = dBodyGetPosition(bike->bodies[bike_frame]);
  return static_cast<float>(std::hypot(p[0] - x, p[2] - z));
}

// One erode packet of a single strong dig at (x, z).
int dig_packet(float x, float z, uint8_t packet[erode_packet_max]) {
  ErodeAccumulator acc{};
  acc.points[0] = {x, z, 1.0f, 0.0f, 16};
  acc.point_count = 1;
  return erode_encode(&acc, track_terrain(), packet);
}

class Online : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QX_HOME", TORVANE_BIN_DIR "/", 1);
    static std::string home = make_temp_dir("online");
    ASSERT_TRUE(server_open_data(home.c_str())) << "build the default data (torvane_data) first";
  }

  std::unique_ptr<RaceServer> server = std::make_unique<RaceServer>();
  std::unique_ptr<ScriptedClient> other;
  double now = 100.0;

  void SetUp() override {
    server_log.clear();
    chats.clear();
    message_clear();
    ServerConfig config;
    local_server_config(&config, "rabbithill");
    config.gate_delay = 10;
    config.laps = 1;
    config.erode = 300;
    config.results_wait = 1;
    snprintf(config.knockout, sizeof config.knockout, "128 256");
    config.off_course_bias = 7;
    config.no_arcade = 1;
    server_data_track_info(&config, nullptr);
    ASSERT_TRUE(config.tracks[0].have_hash);
    server->log = log_line;
    ASSERT_TRUE(server_start(server.get(), &config, now));
    other = std::make_unique<ScriptedClient>(server->port);

    set_text(&setup_settings().name, "Real");
    set_text(&setup_settings().number, "7");
    race_connect_net();
    race_net_set_chat_observer(on_chat);
    net_set_password(nullptr);
  }
  void TearDown() override {
    net_leave();
    race_net_tic(now);
    race_net_set_chat_observer(nullptr);
    other.reset();
    server_stop(server.get());
    race_free_bikes();
  }

  // One tic of everything: the server, the client and its race (the local
  // rider on the auto pilot), the scripted rider's mailbox.
  void tic() {
    now += seconds_per_tic;
    server_run(server.get(), now);
    race_net_tic(now);
    if (net_connected() && !net_waiting_for_server() && current_track_dir()) {
      runner_robot_rider_tic("ardo");
      race_step();
    }
    other->pump();
  }
  void run(double seconds) {
    for (double until = now + seconds; now < until;) tic();
  }
  template <typename F>
  bool run_until(F done, double limit) {
    for (double until = now + limit; now < until; tic())
      if (done()) return true;
    return done();
  }

  void join_other() {
    ClientMessage m = {};
    m.type = msg_contact;
    m.protocol_value = contact_protocol_value;
    m.nonce = 99;
    other->send(m);
    ASSERT_TRUE(run_until([&] { return other->slot >= 0; }, 1));
    const char *info = "kx125(2008)||||\n5\nScripted";
    m = {};
    m.type = msg_client_info;
    m.data = reinterpret_cast<const uint8_t *>(info);
    m.data_length = static_cast<int>(strlen(info));
    other->send(m);
    ASSERT_TRUE(run_until([&] { return other->race_id != 0; }, 1));
    other->send_type(msg_track_ack);
    ASSERT_TRUE(run_until([&] { return other->gate_position >= 0; }, 1));
    other->send_type(msg_loaded);
    run(0.1);
  }
  void join_real() {
    net_connect(("127.0.0.1:" + std::to_string(server->port)).c_str());
    ASSERT_TRUE(run_until([] { return net_phase() == net_phase_racing; }, 10));
  }
};

TEST_F(Online, TheRaceFollowsTheServerAndRidersSeeEachOther) {
  join_other();
  join_real();
  const RaceNetwork &network = race_network();
  const RaceState &race = race_state();
  int me = net_my_slot(), them = other->slot;
  ASSERT_NE(me, them);

  // The server's race: its track, gate drop and clock; the local rider at
  // its gate position, the other rider built from its rider info.
  EXPECT_TRUE(network.connected);
  EXPECT_EQ(network.local_slot, me);
  EXPECT_STREQ(current_track_dir(), "rabbithill");
  EXPECT_EQ(race.gate_drop_tic, 10 * tics_per_second);
  EXPECT_EQ(race_net_stats().races, 1);
  EXPECT_NEAR(race.tic, server->server_tic, 2);
  const Slot *mine = race_slot(me), *theirs = race_slot(them);
  ASSERT_TRUE(mine->bike && theirs->bike);
  EXPECT_EQ(mine->drive_mode, drive_local);
  EXPECT_EQ(theirs->drive_mode, drive_history);
  EXPECT_STREQ(theirs->name, "Scripted");
  EXPECT_STREQ(theirs->bike_model, "kx125(2008)");
  const GridPosition &grid = timing_gates()->grid[net_gate_position()];
  EXPECT_EQ(net_gate_position(), 1);
  EXPECT_LT(std::hypot(mine->start_position[0] - grid.x, mine->start_position[2] - grid.z), 2.0);

  // The scripted rider's states pose its bike: a place 30 ft to the side of
  // the local rider's start, packed from the local bike moved there and back.
  float x = mine->start_position[0] + 30, z = mine->start_position[2];
  place_bike(mine->bike, x, z, mine->start_angle);
  PackedBikeState there = runner_pack(mine->bike);
  place_bike(mine->bike, mine->start_position[0], mine->start_position[2], mine->start_angle);
  EXPECT_GT(frame_distance(theirs->bike, x, z), 5);
  for (int k = 0; k < 32; k++) {
    other->send_state(other->server_tic, there);
    run(4 * seconds_per_tic);
  }
  EXPECT_GE(race_net_stats().remote_states[them], 25);
  EXPECT_LT(frame_distance(theirs->bike, x, z), 0.5f);
  EXPECT_FALSE(history_hidden(them));
  EXPECT_FALSE(race_net_hidden(them));

  // The local rider's states reach the other side; so does a chat line,
  // and the other's chat reaches the local one.
  int states = 0;
  other->each([&](const ServerMessage &m) {
    StateRecord r;
    for (int k = 0; m.type == msg_states && state_record_at(&m, k, &r); k++) states += r.slot == me;
  });
  EXPECT_GT(states, 20);
  net_send_chat("hello from the real one");
  const char *hi = "hi back";
  other->send_reliable(kind_chat, hi, static_cast<int>(strlen(hi)));
  run(0.5);
  bool heard = false;
  for (const std::string &t : other->reliable_texts(kind_chat)) heard |= t == "Real: hello from the real one";
  EXPECT_TRUE(heard);
  // Its own line comes back too, in whichever order the two were relayed.
  ASSERT_EQ(chats.size(), 2u);
  EXPECT_TRUE(chats[0] == "Scripted: hi back" || chats[1] == "Scripted: hi back");
  EXPECT_EQ(race_net_stats().chat_received, 2);

  // The race's rules came with it: knockout times, the off-course rule, no
  // arcade physics.
  EXPECT_EQ(extra_crash_time(0), 128);
  EXPECT_EQ(extra_crash_time(15), 256);
  EXPECT_FLOAT_EQ(network.off_course_bias, 7);
  EXPECT_EQ(mine->bike->arcade, 0);

  // Erodes: the server's erosion amount switched deformation on; our own
  // packet goes to the server (not onto our ground), comes back to us and
  // reaches the other rider; the other's packet digs our ground.
  run(0.5);
  EXPECT_EQ(race.erosion_rate, 300);
  uint8_t packet[erode_packet_max];
  float dig_x = mine->start_position[0] - 60, dig_z = mine->start_position[2] + 60;
  int length = dig_packet(dig_x, dig_z, packet);
  ASSERT_GT(length, 0);
  int queued = erode_queue_length();
  erode_send(track_terrain(), packet, length);
  EXPECT_EQ(erode_queue_length(), queued);
  EXPECT_EQ(race_net_stats().erodes_sent, 1);
  run(0.5);
  EXPECT_EQ(race_net_stats().erodes_received, 1);
  EXPECT_EQ(race_net_stats().erodes_foreign, 0);
  std::vector<std::string> relayed = other->reliable_texts(kind_deformation);
  ASSERT_EQ(relayed.size(), 1u);
  EXPECT_EQ(relayed[0].substr(4), std::string(reinterpret_cast<const char *>(packet), static_cast<size_t>(length)));

  float foreign_x = mine->start_position[0] + 80, foreign_z = mine->start_position[2] - 70;
  float before = terrain_height(track_terrain(), foreign_x, foreign_z);
  uint8_t payload[4 + erode_packet_max];
  wire_put_i32(payload, other->race_id);
  length = dig_packet(foreign_x, foreign_z, payload + 4);
  other->send_reliable(kind_deformation, payload, length + 4);
  run(1.0);
  EXPECT_EQ(race_net_stats().erodes_foreign, 1);
  EXPECT_NE(terrain_height(track_terrain(), foreign_x, foreign_z), before);

  // Timing from the server sets the other rider's list.
  uint8_t timing[12];
  int passed_at = race.tic - 5;
  wire_put_i32(timing, other->race_id);
  wire_put_i32(timing + 4, 0);
  wire_put_i32(timing + 8, passed_at);
  other->send_reliable(kind_timing, timing, sizeof timing);
  run(0.5);
  EXPECT_EQ(theirs->timing.next_gate, 1);
  EXPECT_EQ(gate_tic(&theirs->timing, 0), passed_at);
  EXPECT_EQ(race_net_stats().timing_received, 1);

  // A second without the other's states hides it (and keeps it out of
  // collisions).
  run(1.1);
  EXPECT_TRUE(race_net_hidden(them));
  EXPECT_TRUE(history_hidden(them));

  // Leaving: the server lets us go; the race goes on offline, digging its
  // own ruts again.
  net_disconnect();
  ASSERT_TRUE(run_until([] { return !net_connected(); }, 3));
  EXPECT_TRUE(logged("Rider " + std::to_string(me) + " (Real) left"));
  EXPECT_FALSE(network.connected);
  EXPECT_FLOAT_EQ(network.off_course_bias, 10);
  queued = erode_queue_length();
  erode_send(track_terrain(), packet, dig_packet(dig_x, dig_z, packet));
  EXPECT_GT(erode_queue_length(), queued);
}

TEST_F(Online, AWatcherRidesTheWarmUpAndJoinsTheNextRace) {
  join_other();
  run(8);  // too close to the gate drop: the next rider watches
  join_real();
  EXPECT_EQ(net_gate_position(), slot_none);
  EXPECT_TRUE(net_warmup());
  EXPECT_EQ(race_network().gate_position, slot_none);
  // No states go out while watching.
  int states = 0;
  run(1);
  other->each([&](const ServerMessage &m) {
    StateRecord r;
    for (int k = 0; m.type == msg_states && state_record_at(&m, k, &r); k++) states += r.slot == net_my_slot();
  });
  EXPECT_EQ(states, 0);
  // Nor do its ruts wear the racers' track.
  uint8_t packet[erode_packet_max];
  const Slot *mine = race_slot(net_my_slot());
  erode_send(track_terrain(), packet, dig_packet(mine->start_position[0] + 50, mine->start_position[2], packet));
  run(1);
  EXPECT_EQ(race_net_stats().erodes_sent, 1);
  EXPECT_EQ(race_net_stats().erodes_received, 0);
  EXPECT_TRUE(other->reliable_texts(kind_deformation).empty());
  // The scripted rider leaves; the watcher is then the only rider and the
  // server starts a race for it at once.
  other->send_type(msg_disconnect);
  ASSERT_TRUE(run_until([] { return net_phase() == net_phase_racing && net_gate_position() == 0; }, 10));
  EXPECT_EQ(race_net_stats().races, 2);
  EXPECT_FALSE(net_warmup());
  EXPECT_TRUE(race_slot(net_my_slot())->bike);
}

}  // namespace
