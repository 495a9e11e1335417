// Robot riders on the race server, in-process on the default data and a
// virtual clock, seen from a scripted client: they take the top slots and
// the front gate positions, arrive as riders with their roster bikes, send
// states from the server's own simulation on its clock, pass on their
// timing, wear the ground with the riders' ruts, and stand in the results.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "net/server.h"
#include "net/server_robots.h"
#include "net_scene.h"
#include "race/race.h"
#include "test_util.h"
#include "track/deform.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

std::vector<std::string> server_log;
void log_line(const char *line) { server_log.push_back(line); }
int logged_count(const std::string &part) {
  int n = 0;
  for (const std::string &line : server_log) n += line.find(part) != std::string::npos;
  return n;
}

// The frame's x and z as a packed state carries them (24 bits over the extent).
void packed_xz(const PackedBikeState &s, float *x, float *z) {
  const uint8_t *b = s.bytes;
  float extent = track_terrain()->extent;
  *x = static_cast<float>(b[0] | b[1] << 8 | b[2] << 16) / 16777215.0f * extent;
  *z = static_cast<float>(b[6] | b[7] << 8 | b[8] << 16) / 16777215.0f * extent;
}

class ServerRobots : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QX_HOME", TORVANE_BIN_DIR "/", 1);
    static std::string home = make_temp_dir("serverrobots");
    ASSERT_TRUE(server_open_data(home.c_str())) << "build the default data (torvane_data) first";
  }

  std::unique_ptr<RaceServer> server = std::make_unique<RaceServer>();
  ServerConfig config;
  double now = 10.0;

  void SetUp() override {
    server_log.clear();
    local_server_config(&config, "rabbithill");
    config.gate_delay = 6;
    config.laps = 1;
    config.erode = 400;
    config.robots = 2;
    server_data_track_info(&config, nullptr);
    server->log = log_line;
  }
  void TearDown() override { server_stop(server.get()); }

  void run(ScriptedClient &c, double seconds) {
    for (double until = now + seconds; now < until;) {
      now += seconds_per_tic;
      server_run(server.get(), now);
      c.pump();
    }
  }
  void join(ScriptedClient &c) {
    ClientMessage m = {};
    m.type = msg_contact;
    m.protocol_value = contact_protocol_value;
    m.nonce = 7;
    c.send(m);
    run(c, 0.05);
    const char *info = "yz250f(2017)||||\n9\nHuman";
    m = {};
    m.type = msg_client_info;
    m.data = reinterpret_cast<const uint8_t *>(info);
    m.data_length = static_cast<int>(strlen(info));
    c.send(m);
    run(c, 0.05);
    c.send_type(msg_track_ack);
    run(c, 0.05);
    // One bike acknowledgment per robot, each naming the last rider taken.
    for (int k = 0; k <= server->robot_count && c.gate_position < 0; k++) {
      int last = -1;
      c.each([&](const ServerMessage &r) {
        if (r.type == msg_rider_info && r.slot > last) last = r.slot;
      });
      ClientMessage ack = {};
      ack.type = msg_bike_ack;
      ack.race_id = c.race_id;
      ack.last_rider = last;
      c.send(ack);
      run(c, 0.05);
    }
    c.send_type(msg_loaded);
    run(c, 0.05);
  }
};

TEST_F(ServerRobots, RobotsRideTheServersRaceAsRiders) {
  ASSERT_TRUE(server_start(server.get(), &config, now));
  ASSERT_EQ(server->robot_count, 2);
  EXPECT_EQ(logged_count("Robots: 2 in race 1"), 1);
  ScriptedClient c(server->port);
  join(c);

  // The top slots and the front of the grid; the rider behind them.
  EXPECT_EQ(c.slot, 0);
  EXPECT_EQ(c.gate_position, 2);
  std::vector<int> infos;
  c.each([&](const ServerMessage &m) {
    if (m.type != msg_rider_info) return;
    RiderInfo r;
    parse_rider_info(m.data, m.data_length, &r);
    EXPECT_STREQ(r.name, "Roborider");
    EXPECT_STREQ(r.bike, race_slot(server->robots[server->robot_index[m.slot]].gate_position)->bike_model);
    if (infos.empty() || infos.back() != m.slot) infos.push_back(m.slot);
  });
  EXPECT_EQ(infos, (std::vector<int>{158, 159}));

  // Their states come from the server's simulation, on its clock, from
  // where their gate positions put them.
  run(c, 1);
  EXPECT_NEAR(race_state().tic, server->server_tic, 2);
  int32_t newest[2] = {-1, -1};
  PackedBikeState last[2];
  c.each([&](const ServerMessage &m) {
    StateRecord r;
    for (int k = 0; m.type == msg_states && state_record_at(&m, k, &r); k++)
      if (r.slot >= 158 && r.tic > newest[r.slot - 158]) {
        newest[r.slot - 158] = r.tic;
        last[r.slot - 158] = r.state;
      }
  });
  for (int k = 0; k < 2; k++) {
    EXPECT_NEAR(newest[k], server->server_tic, 8);
    const ServerRobot &robot = server->robots[server->robot_index[158 + k]];
    const GridPosition &g = timing_gates()->grid[robot.gate_position];
    float x, z;
    packed_xz(last[k], &x, &z);
    EXPECT_LT(std::hypot(x - g.x, z - g.z), 3.0f) << "robot in slot " << 158 + k;
  }

  // A gate a robot passes goes to the riders.
  const ServerRobot &first = server->robots[0];
  GateProgress *p = &race_slot(first.gate_position)->timing;
  gate_stamp(p, 0, race_state().tic - 3);
  p->next_gate = 1;
  int32_t stamp = race_state().tic - 3;
  run(c, 0.2);
  int timing = 0;
  for (const std::string &t : c.reliable_texts(kind_timing)) {
    TimingUpdate u;
    ASSERT_TRUE(decode_timing_update(reinterpret_cast<const uint8_t *>(t.data()), static_cast<int>(t.size()), &u));
    timing += u.count == 1 && u.entries[0].slot == first.slot && u.entries[0].index == 0 && u.entries[0].tic == stamp;
  }
  EXPECT_EQ(timing, 1);

  // A rider's rut wears the server's ground too, and comes back to the rider.
  const GridPosition &g = timing_gates()->grid[0];
  float x = g.x - 80, z = g.z + 80;
  float before = terrain_height(track_terrain(), x, z);
  ErodeAccumulator acc{};
  acc.points[0] = {x, z, 1.0f, 0.0f, 16};
  acc.point_count = 1;
  uint8_t payload[4 + erode_packet_max];
  wire_put_i32(payload, c.race_id);
  int length = erode_encode(&acc, track_terrain(), payload + 4);
  c.send_reliable(kind_deformation, payload, length + 4);
  run(c, 1);
  EXPECT_NE(terrain_height(track_terrain(), x, z), before);
  EXPECT_EQ(c.reliable_texts(kind_deformation).size(), 1u);
}

TEST_F(ServerRobots, RobotsStandInTheResultsAndComeBackForTheNextRace) {
  config.race_limit = 0.02;  // a race ends a second after its gate drop
  config.results_wait = 0.5;
  ASSERT_TRUE(server_start(server.get(), &config, now));
  ScriptedClient c(server->port);
  join(c);
  run(c, 9);
  EXPECT_EQ(logged_count("Race 1 over (time limit reached)"), 1);
  EXPECT_EQ(logged_count("Roborider: 0 gates"), 2);
  EXPECT_EQ(logged_count("Human: 0 gates"), 1);
  EXPECT_EQ(logged_count("Robots: 2 in race 2"), 1);
  // The new race's simulation starts again at the server's tic 0.
  EXPECT_NEAR(race_state().tic, server->server_tic, 33);
  EXPECT_LT(race_state().tic, 8 * tics_per_second);
}

TEST_F(ServerRobots, RobotsLeaveRoomForTheRidersAndKeepToTheirSlots) {
  config.max_riders = 150;
  config.robots = 40;
  ASSERT_TRUE(server_start(server.get(), &config, now));
  EXPECT_EQ(server->config.robots, 10);  // 160 slots in all
  EXPECT_EQ(server->robot_count, 10);
  for (int k = 0; k < server->robot_count; k++) EXPECT_GE(server->robots[k].slot, 150);
  ScriptedClient c(server->port);
  join(c);
  EXPECT_EQ(c.slot, 0);
  EXPECT_EQ(c.gate_position, 10);
}

}  // namespace
