// The race client against a scripted fake server on 127.0.0.1.
#include <gtest/gtest.h>
#include <time.h>

#include <climits>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "app/ripemd160.h"
#include "net/client.h"
#include "net/protocol.h"
#include "net/transport.h"
#include "platform/log.h"

namespace {

// A server socket that the test drives by hand.
struct FakeServer {
  int socket = -1;
  int port = 0;
  NetAddress client = {};
  uint8_t raw[net_datagram_buffer_size];
  int raw_length = 0;

  FakeServer() {
    socket = net_open();
    EXPECT_TRUE(net_bind(socket, "127.0.0.1", 0, &port));
  }
  ~FakeServer() { net_close(socket); }

  std::string address() const { return "127.0.0.1:" + std::to_string(port); }

  // One datagram; the sender becomes the address replies go to.
  int receive() {
    NetAddress from;
    raw_length = net_receive(socket, raw, net_datagram_max, &from);
    if (raw_length >= 0) client = from;
    return raw_length;
  }
  // The next datagram from the client, or false when none comes.
  bool next(ClientMessage *m) {
    for (int i = 0; i < 100; i++) {
      if (receive() >= 0) return decode_client_message(raw, raw_length, m) == 1;
      timespec pause = {0, 500000};
      nanosleep(&pause, nullptr);
    }
    return false;
  }
  // Every datagram waiting now, decoded; their payloads stay valid until the
  // next call.
  std::vector<ClientMessage> all() {
    std::vector<ClientMessage> list;
    payloads.clear();
    ClientMessage m;
    timespec pause = {0, 2000000};
    nanosleep(&pause, nullptr);
    while (receive() >= 0)
      if (decode_client_message(raw, raw_length, &m)) {
        payloads.push_back(std::string(reinterpret_cast<const char *>(m.data), m.data ? m.data_length : 0));
        list.push_back(m);
      }
    for (size_t i = 0; i < list.size(); i++)
      if (list[i].data) list[i].data = reinterpret_cast<const uint8_t *>(payloads[i].data());
    return list;
  }
  std::deque<std::string> payloads;
  void send_raw(const uint8_t *bytes, int length) { net_send(socket, bytes, length, &client); }
  void send(const ServerMessage &m) {
    uint8_t out[net_datagram_buffer_size];
    int n = encode_server_message(&m, out, net_datagram_max);
    ASSERT_GT(n, 0);
    send_raw(out, n);
  }
};

// What the client asked of the race, the bikes and the rest.
struct Recorder {
  int resets;
  NetRaceSetup setup;
  uint8_t loaded_hash[track_hash_size];
  int tic;
  int tic_set_to;
  std::vector<std::pair<int, int32_t>> states;  // slot, tic
  int32_t knockout[knockout_count];
  int knockout_calls;
  int erosion;
  int erosion_calls;
  std::vector<int> demo_chunks;
  int remote[max_slots];
  int has_local_bike;
  int timing_count;
  std::vector<TimingEntry> timings;
  double bias, scale;
};
Recorder rec;

const uint8_t track_hash[track_hash_size] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};

NetHooks recording_hooks() {
  NetHooks h = {};
  h.track_installed = [](const char *name) { return strcmp(name, "testtrack") == 0 ? 1 : 0; };
  h.reset_race = [](const NetRaceSetup *s, uint8_t hash[track_hash_size]) {
    rec.resets++;
    rec.setup = *s;
    memcpy(hash, rec.loaded_hash, track_hash_size);
    rec.tic = 0;
    return 1;
  };
  h.race_tic = []() { return static_cast<int32_t>(rec.tic); };
  h.set_race_tic = [](int32_t tic) {
    rec.tic = tic;
    rec.tic_set_to = tic;
  };
  h.is_remote = [](int slot) { return rec.remote[slot]; };
  h.add_remote_state = [](int slot, int32_t tic, const PackedBikeState *) { rec.states.push_back({slot, tic}); };
  h.pack_local_state = [](PackedBikeState *out) {
    memset(out->bytes, 0x5a, packed_bike_state_size);
    return rec.has_local_bike;
  };
  h.local_timing = [](int *count, int32_t *last) {
    *count = rec.timing_count;
    *last = rec.timing_count * 1000;
    return rec.has_local_bike;
  };
  h.set_remote_timing = [](int slot, int index, int32_t tic) { rec.timings.push_back({slot, index, tic}); };
  h.local_rider = [](RiderInfo *r) {
    strcpy(r->bike, "yz250f(2017)");
    strcpy(r->number, "7");
    strcpy(r->name, "Tester");
  };
  h.set_erosion = [](int amount) {
    rec.erosion = amount;
    rec.erosion_calls++;
  };
  h.set_knockout = [](const int32_t extra[knockout_count]) {
    memcpy(rec.knockout, extra, sizeof rec.knockout);
    rec.knockout_calls++;
  };
  h.set_off_course = [](double bias, double scale) {
    rec.bias = bias;
    rec.scale = scale;
  };
  h.record_demo = [](int type, const uint8_t *, int) { rec.demo_chunks.push_back(type); };
  return h;
}

bool saw_message(const char *text) {
  for (int i = 0; i < 60; i++)
    if (strcmp(message_line(i), text) == 0) return true;
  return false;
}

int count_message(const char *text) {
  int n = 0;
  for (int i = 0; i < 200; i++)
    if (strcmp(message_line(i), text) == 0) n++;
  return n;
}

class NetClient : public ::testing::Test {
 protected:
  FakeServer server;
  double now = 100.0;
  int32_t race_id = 9;
  int32_t connection_id = 0x5150;
  int my_slot = 2;
  int32_t nonce = 0;
  int32_t next_sequence = 0;

  void SetUp() override {
    message_clear();
    rec = Recorder{};
    memcpy(rec.loaded_hash, track_hash, track_hash_size);
    NetHooks h = recording_hooks();
    net_set_hooks(&h);
    net_set_password(nullptr);
    net_set_fake_conditions(0, 0, 1);
    net_connect(server.address().c_str());
  }
  void TearDown() override {
    net_leave();
    net_set_hooks(nullptr);
  }

  // One client run a tic later.
  void tic() {
    now += seconds_per_tic;
    rec.tic++;
    net_client_run(now);
  }
  void run_for(double seconds) {
    for (double until = now + seconds; now < until;) tic();
  }
  ClientMessage expect_next(int type) {
    ClientMessage m = {};
    EXPECT_TRUE(server.next(&m)) << "waiting for type " << type;
    EXPECT_EQ(m.type, type);
    return m;
  }

  void contact() {
    tic();
    ClientMessage m = expect_next(msg_contact);
    nonce = m.nonce;
    EXPECT_EQ(m.protocol_value, contact_protocol_value);
  }
  void hello(int version = server_protocol_version) {
    ServerMessage m = {};
    m.type = msg_hello;
    m.slot = my_slot;
    m.connection_id = connection_id;
    m.version = version;
    server.send(m);
    tic();
  }
  void track(const char *name, int32_t id) {
    ServerMessage m = {};
    m.type = msg_track;
    m.race_id = id;
    m.duration = 0;
    m.laps = 3;
    m.gate_drop = 1800;
    memcpy(m.track_hash, track_hash, track_hash_size);
    m.data = reinterpret_cast<const uint8_t *>(name);
    m.data_length = static_cast<int>(strlen(name));
    server.send(m);
    tic();
  }
  void rider(int slot, const char *text = "crf250|||||\n12\nRemote") {
    ServerMessage m = {};
    m.type = msg_rider_info;
    m.race_id = race_id;
    m.slot = slot;
    m.data = reinterpret_cast<const uint8_t *>(text);
    m.data_length = static_cast<int>(strlen(text));
    server.send(m);
    tic();
  }
  void start(int gate = 3) {
    const char *self = "yz250f(2017)||||\n7\nTester";
    ServerMessage m = {};
    m.type = msg_start;
    m.race_id = race_id;
    m.gate_position = gate;
    m.data = reinterpret_cast<const uint8_t *>(self);
    m.data_length = static_cast<int>(strlen(self));
    server.send(m);
    tic();
  }
  void time_message(int32_t server_tic, int32_t echo = 0) {
    ServerMessage m = {};
    m.type = msg_time;
    m.race_id = race_id;
    m.server_tic = server_tic;
    m.echo = echo;
    server.send(m);
    tic();
  }
  void reliable(int32_t sequence, int kind, const std::string &payload) {
    ServerMessage m = {};
    m.type = msg_reliable;
    m.sequence = sequence;
    m.kind = kind;
    m.data = reinterpret_cast<const uint8_t *>(payload.data());
    m.data_length = static_cast<int>(payload.size());
    server.send(m);
    tic();
  }
  void command(const std::string &text) { reliable(next_sequence++, kind_text, text); }

  // Contact, hello, track, one rider, start, time: the client races.
  void join_race() {
    contact();
    hello();
    expect_next(msg_client_info);
    track("testtrack", race_id);
    rider(0);
    start();
    time_message(500);
    ASSERT_EQ(net_phase(), net_phase_racing);
    server.all();
  }
};

}  // namespace

TEST_F(NetClient, HandshakeRunsThroughEveryPhase) {
  net_set_password("letmein");
  contact();
  EXPECT_TRUE(saw_message("Contacting server\n"));
  EXPECT_EQ(net_phase(), net_phase_contacting);
  // Contact repeats once a second.
  run_for(1.0);
  ClientMessage again = expect_next(msg_contact);
  EXPECT_EQ(again.password_flag, 1);
  EXPECT_EQ(again.nonce, nonce);

  hello();
  EXPECT_EQ(net_phase(), net_phase_client_info);
  EXPECT_EQ(net_my_slot(), my_slot);
  ClientMessage info = expect_next(msg_client_info);  // at once after hello
  EXPECT_EQ(info.slot, my_slot);
  EXPECT_EQ(info.connection_id, connection_id);
  EXPECT_EQ(info.nonce, nonce);
  uint8_t proof[4];
  password_proof("letmein", connection_id, proof);
  EXPECT_EQ(memcmp(info.proof, proof, 4), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(info.data), info.data_length),
            "yz250f(2017)||||\n7\nTester");
  EXPECT_TRUE(saw_message("Sending client info\n"));

  track("testtrack", race_id);
  EXPECT_EQ(net_phase(), net_phase_track_ack);
  EXPECT_STREQ(net_track(), "testtrack");
  run_for(1.0);
  ClientMessage ack = expect_next(msg_track_ack);
  EXPECT_EQ(ack.race_id, race_id);

  rider(4, "kx125|body|gfx|wheels|head\n1234\nOther Rider");
  EXPECT_EQ(net_phase(), net_phase_bike_ack);
  EXPECT_EQ(net_slot_kind(4), net_kind_network);
  EXPECT_STREQ(net_slot_rider(4)->wheel_texture, "wheels");
  EXPECT_STREQ(net_slot_rider(4)->number, "123");
  run_for(1.0);
  server.all();
  run_for(1.0);
  ClientMessage bike_ack = expect_next(msg_bike_ack);
  EXPECT_EQ(bike_ack.last_rider, 4);
  EXPECT_TRUE(saw_message("Sending bike acknowledgment 4\n"));

  start(6);
  EXPECT_EQ(net_phase(), net_phase_loaded);
  ASSERT_EQ(rec.resets, 1);
  EXPECT_STREQ(rec.setup.track, "testtrack");
  EXPECT_EQ(rec.setup.laps, 3);
  EXPECT_EQ(rec.setup.gate_drop, 1800);
  EXPECT_EQ(rec.setup.gate_position, 6);
  EXPECT_EQ(rec.setup.my_slot, my_slot);
  EXPECT_EQ(rec.setup.kinds[my_slot], net_kind_local);
  EXPECT_EQ(rec.setup.kinds[4], net_kind_network);
  EXPECT_EQ(rec.setup.kinds[0], net_kind_empty);
  server.all();
  tic();  // loaded goes at once after start, then once a second
  run_for(1.0);
  expect_next(msg_loaded);
  EXPECT_TRUE(net_waiting_for_server());

  time_message(4000);
  EXPECT_EQ(net_phase(), net_phase_racing);
  EXPECT_EQ(rec.tic_set_to, 4000);  // the first server tic sets the local one
  EXPECT_EQ(net_highest_server_tic(), 4000);
  EXPECT_FALSE(net_waiting_for_server());
  EXPECT_TRUE(saw_message("3 laps"));
}

TEST_F(NetClient, VersionMismatchSendsDisconnectEverySecond) {
  contact();
  hello(5);
  EXPECT_TRUE(saw_message("Server version does not match client version\n"));
  EXPECT_EQ(net_phase(), net_phase_disconnecting);
  server.all();
  int disconnects = 0;
  for (int second = 0; second < 3; second++) {
    run_for(1.0);
    for (const ClientMessage &m : server.all()) {
      EXPECT_EQ(m.type, msg_disconnect);
      EXPECT_EQ(m.slot, my_slot);
      EXPECT_EQ(m.connection_id, connection_id);
      disconnects++;
    }
  }
  EXPECT_GE(disconnects, 2);
  EXPECT_LE(disconnects, 4);
  ServerMessage bye = {};
  bye.type = msg_disconnected;
  server.send(bye);
  tic();
  EXPECT_TRUE(saw_message("Disconnected\n"));
  EXPECT_FALSE(net_connected());
  EXPECT_EQ(net_my_slot(), slot_none);
}

TEST_F(NetClient, UnknownTrackIsRefused) {
  contact();
  hello();
  track("nosuchtrack", race_id);
  EXPECT_TRUE(saw_message("Can't find track 'nosuchtrack'\n"));
  EXPECT_EQ(net_phase(), net_phase_disconnecting);
  EXPECT_EQ(rec.resets, 0);
}

TEST_F(NetClient, ModifiedTrackIsRefusedAfterLoading) {
  rec.loaded_hash[7] ^= 1;
  contact();
  hello();
  track("testtrack", race_id);
  start();
  EXPECT_EQ(rec.resets, 1);
  EXPECT_TRUE(saw_message("Client track modified - does not match server's track (testtrack)\n"));
  EXPECT_EQ(net_phase(), net_phase_disconnecting);
}

TEST_F(NetClient, RiderInfosOutOfOrderWaitForTheNextTrack) {
  contact();
  hello();
  track("testtrack", race_id);
  rider(3);
  rider(1);
  rider(7);
  EXPECT_EQ(net_slot_kind(3), net_kind_network);
  EXPECT_EQ(net_slot_kind(1), net_kind_empty);
  EXPECT_EQ(net_slot_kind(7), net_kind_network);
  run_for(1.1);
  std::vector<ClientMessage> sent = server.all();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back().type, msg_bike_ack);
  EXPECT_EQ(sent.back().last_rider, 7);
  rider(1);  // resent: still below the last acknowledged
  EXPECT_EQ(net_slot_kind(1), net_kind_empty);

  start();
  time_message(100);
  ServerMessage restart = {};
  restart.type = msg_restart;
  restart.race_id = race_id + 1;
  server.send(restart);
  tic();
  EXPECT_EQ(net_phase(), net_phase_restart);
  race_id++;
  track("testtrack", race_id);
  EXPECT_EQ(net_phase(), net_phase_track_ack);
  EXPECT_EQ(net_slot_kind(3), net_kind_empty);  // remote slots cleared by the track
  rider(1);
  EXPECT_EQ(net_slot_kind(1), net_kind_network);
}

TEST_F(NetClient, ShortStatesDatagramUsesWhatItHolds) {
  join_race();
  rec.remote[4] = rec.remote[5] = rec.remote[6] = 1;
  uint8_t records[3 * state_record_size];
  for (int i = 0; i < 3; i++) {
    StateRecord r = {4 + i, 10, 600 + i, {}};
    encode_state_record(&r, records + i * state_record_size);
  }
  ServerMessage m = {};
  m.type = msg_states;
  m.race_id = race_id;
  m.server_tic = 700;
  m.record_count = 3;
  m.data = records;
  m.data_length = 2 * state_record_size;  // announces 3, holds 2
  server.send(m);
  tic();
  ASSERT_EQ(rec.states.size(), 2u);
  EXPECT_EQ(rec.states[0], std::make_pair(4, int32_t{600}));
  EXPECT_EQ(rec.states[1], std::make_pair(5, int32_t{601}));
  EXPECT_TRUE(saw_message("State packet too small"));
  EXPECT_EQ(net_slot_ping(4), 10);
  EXPECT_EQ(net_highest_server_tic(), 700);
  time_message(800, INT32_MIN);  // a hostile echo cannot overflow the ping
  EXPECT_EQ(net_ping(), INT32_MAX);

  // A state no newer than the last one is dropped; slots that are not
  // remote riders take none.
  rec.states.clear();
  rec.remote[6] = 0;
  m.data_length = 3 * state_record_size;
  server.send(m);
  tic();
  EXPECT_TRUE(rec.states.empty());
}

TEST_F(NetClient, ReliableMessagesArriveInOrderAndOnce) {
  join_race();
  reliable(0, kind_chat, "m0");
  reliable(2, kind_chat, "m2");
  EXPECT_FALSE(saw_message("m2"));
  reliable(1, kind_chat, "m1");
  reliable(1, kind_chat, "m1");  // a second copy
  EXPECT_EQ(message_line(0), std::string("m2"));
  EXPECT_EQ(message_line(1), std::string("m1"));
  EXPECT_EQ(message_line(2), std::string("m0"));
  EXPECT_EQ(count_message("m1"), 1);
  std::vector<int32_t> acks;
  for (const ClientMessage &m : server.all())
    if (m.type == msg_ack) acks.push_back(m.sequence);
  EXPECT_EQ(acks, (std::vector<int32_t>{0, 2, 1, 1}));
  EXPECT_EQ(rec.demo_chunks, (std::vector<int>{2, 2, 2}));
}

TEST_F(NetClient, OutgoingReliableIsResentUntilAcknowledged) {
  join_race();
  net_send_chat("hello all");
  tic();
  ClientMessage m;
  std::vector<ClientMessage> sent = server.all();
  int copies = 0;
  for (const ClientMessage &c : sent)
    if (c.type == msg_reliable) {
      copies++;
      m = c;
    }
  ASSERT_EQ(copies, 1);
  EXPECT_EQ(m.kind, kind_chat);
  EXPECT_EQ(m.slot, my_slot);
  run_for(0.6);
  copies = 0;
  for (const ClientMessage &c : server.all()) copies += c.type == msg_reliable;
  EXPECT_EQ(copies, 1);  // resent after half a second
  ServerMessage ack = {};
  ack.type = msg_ack;
  ack.sequence = m.sequence;
  server.send(ack);
  tic();
  server.all();
  run_for(1.0);
  copies = 0;
  for (const ClientMessage &c : server.all()) copies += c.type == msg_reliable;
  EXPECT_EQ(copies, 0);
}

TEST_F(NetClient, RacingSendsStatesTimingAndRiderUpdates) {
  join_race();
  rec.has_local_bike = 1;
  rec.timing_count = 2;
  net_rider_info_changed();
  for (int i = 0; i < 8; i++) tic();
  int states = 0, timings = 0, infos = 0;
  for (const ClientMessage &m : server.all()) {
    if (m.type == msg_state) {
      states++;
      EXPECT_EQ(m.local_tic % 4, 0);
      EXPECT_EQ(m.highest_server_tic, 500);
      EXPECT_EQ(m.state.bytes[38], 0x5a);
    }
    if (m.type == msg_reliable && m.kind == kind_timing) {
      timings++;
      ASSERT_EQ(m.data_length, 12);
      EXPECT_EQ(wire_get_i32(m.data), race_id);
      EXPECT_EQ(wire_get_i32(m.data + 4), 1);
      EXPECT_EQ(wire_get_i32(m.data + 8), 2000);
    }
    if (m.type == msg_reliable && m.kind == kind_rider_info) infos++;
  }
  EXPECT_EQ(states, 2);
  EXPECT_EQ(timings, 1);
  EXPECT_EQ(infos, 0);  // queued behind the timing report until it is acknowledged
}

TEST_F(NetClient, WatchersSendNoStates) {
  contact();
  hello();
  track("testtrack", race_id);
  start(slot_none);
  time_message(100);
  EXPECT_TRUE(net_warmup());
  rec.has_local_bike = 1;
  server.all();
  for (int i = 0; i < 16; i++) tic();
  for (const ClientMessage &m : server.all()) EXPECT_NE(m.type, msg_state);
}

TEST_F(NetClient, TextCommandsReachTheRace) {
  join_race();
  command("knockout 100 200");
  ASSERT_EQ(rec.knockout_calls, 1);
  EXPECT_EQ(rec.knockout[0], 100);
  for (int i = 1; i < knockout_count; i++) EXPECT_EQ(rec.knockout[i], 200);
  command("knockout 999999");
  for (int i = 0; i < knockout_count; i++) EXPECT_EQ(rec.knockout[i], knockout_max);

  command("erode 8 500");  // another race: ignored
  EXPECT_EQ(rec.erosion_calls, 0);
  command("erode 9 0");  // -1 -> 0: taken silently
  EXPECT_EQ(rec.erosion, 0);
  EXPECT_TRUE(rec.demo_chunks.empty());
  command("erode 9 300");
  EXPECT_EQ(rec.erosion, 300);
  EXPECT_EQ(rec.demo_chunks, std::vector<int>{3});
  command("erode nine");
  EXPECT_TRUE(saw_message("Malformed erode command received"));

  command("off_course_bias 20");
  EXPECT_EQ(rec.bias, 20.0);
  EXPECT_EQ(rec.scale, 1.5);
  command("off_course_scale 3");
  EXPECT_EQ(rec.bias, 20.0);
  EXPECT_EQ(rec.scale, 3.0);

  server.all();
  command("version");
  bool answered = false;
  for (const ClientMessage &m : server.all())
    if (m.type == msg_reliable && m.kind == kind_text)
      answered = std::string(reinterpret_cast<const char *>(m.data), m.data_length).rfind("version 22 6 ", 0) == 0;
  EXPECT_TRUE(answered);

  // Leaving restores the defaults.
  net_leave();
  EXPECT_EQ(rec.bias, 10.0);
  EXPECT_EQ(rec.scale, 1.5);
}

TEST_F(NetClient, RedirectNeedsTheNonce) {
  FakeServer other;
  contact();
  std::string target = other.address();
  ServerMessage m = {};
  m.type = msg_redirect;
  m.nonce = nonce + 1;
  m.data = reinterpret_cast<const uint8_t *>(target.data());
  m.data_length = static_cast<int>(target.size());
  server.send(m);
  tic();
  EXPECT_TRUE(net_connected());
  run_for(1.0);
  expect_next(msg_contact);  // still talking to the first server
  ClientMessage stray;
  EXPECT_FALSE(other.next(&stray));

  m.nonce = nonce;
  server.send(m);
  tic();  // redirected: the socket is closed
  tic();  // and the next run contacts the new server
  EXPECT_TRUE(net_connected());
  ClientMessage c;
  ASSERT_TRUE(other.next(&c));
  EXPECT_EQ(c.type, msg_contact);
}

TEST_F(NetClient, StrangersAndGarbageAreIgnored) {
  contact();
  FakeServer stranger;
  stranger.client = server.client;
  ServerMessage hello_message = {};
  hello_message.type = msg_hello;
  hello_message.slot = 1;
  hello_message.version = server_protocol_version;
  stranger.send(hello_message);
  tic();
  EXPECT_EQ(net_phase(), net_phase_contacting);  // not from our server

  const uint8_t garbage[][4] = {{2, 1}, {4}, {11, 0, 0}, {17, 1}, {200, 1, 2, 3}};
  for (const auto &g : garbage) server.send_raw(g, 4);
  server.send_raw(garbage[0], 0);
  tic();
  EXPECT_EQ(net_phase(), net_phase_contacting);
  hello();
  EXPECT_EQ(net_phase(), net_phase_client_info);
  // A hello with a slot outside the table would have been ignored too.
}

TEST_F(NetClient, SilentServerIsLeftBehind) {
  contact();
  hello();
  run_for(net_silence_timeout + 0.1);
  EXPECT_TRUE(saw_message("Server not responding\n"));
  EXPECT_EQ(net_phase(), net_phase_disconnecting);
  run_for(net_disconnect_timeout + 0.1);
  EXPECT_FALSE(net_connected());
}

TEST_F(NetClient, ClockFollowsTheServer) {
  EXPECT_EQ(net_scale_advance(0.05, 0), 0.05);  // not connected yet
  join_race();
  // Server 500, gate drop 1800: the gap is (500 - tic - 1) tics.
  EXPECT_DOUBLE_EQ(net_scale_advance(0.05, 499), 0.05);
  EXPECT_DOUBLE_EQ(net_scale_advance(0.05, 499 + 64), 0.05 * 0.75);
  EXPECT_DOUBLE_EQ(net_scale_advance(0.05, 499 - 64), 0.05 * (1 + 3 * (64.0 / 128)));
  EXPECT_DOUBLE_EQ(net_scale_advance(0.05, 499 + 256), 0.05 * 0.5);
  time_message(4000);
  EXPECT_DOUBLE_EQ(net_scale_advance(0.05, 3999 - 8), 0.05 * (1 + 0.125 * (8 * 8.0 / 128)));
}

TEST_F(NetClient, FakeLossDropsWhatTheServerSends) {
  net_set_fake_conditions(0, 100, 3);  // 100 % drops nearly everything
  contact();
  for (int i = 0; i < 20; i++) hello();
  int phase_with_loss = net_phase();
  net_set_fake_conditions(0.5, 0, 3);  // lag only: arrives half a second late
  net_leave();
  server.all();
  net_connect(server.address().c_str());
  contact();
  ServerMessage m = {};
  m.type = msg_hello;
  m.slot = my_slot;
  m.connection_id = connection_id;
  m.version = server_protocol_version;
  server.send(m);
  run_for(0.4);
  EXPECT_EQ(net_phase(), net_phase_contacting);
  run_for(0.2);
  EXPECT_EQ(net_phase(), net_phase_client_info);
  net_set_fake_conditions(0, 0, 1);
  EXPECT_TRUE(phase_with_loss == net_phase_contacting || phase_with_loss == net_phase_client_info);
}
