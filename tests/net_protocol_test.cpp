// Wire layouts, length checks, the reliable channel, rider info texts, text
// commands and the password proof.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/ripemd160.h"
#include "net/protocol.h"

namespace {

PackedBikeState sample_state(uint8_t seed) {
  PackedBikeState s;
  for (int i = 0; i < packed_bike_state_size; i++) s.bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return s;
}

const int client_types[] = {msg_contact,   msg_client_info,     msg_track_ack,   msg_bike_ack,
                            msg_loaded,    msg_state,           msg_restart_request, msg_restart_ack,
                            msg_disconnect, msg_reliable,       msg_ack};
const int server_types[] = {msg_server_full, msg_hello,  msg_track,        msg_rider_info, msg_start,
                            msg_time,        msg_states, msg_server_13,    msg_restart,    msg_disconnected,
                            msg_refusal,     msg_reliable, msg_ack,        msg_redirect};

ClientMessage full_client(int type, const uint8_t *tail, int tail_length) {
  ClientMessage m = {};
  m.type = type;
  if (type == msg_contact) {
    m.password_flag = 1;
    m.identity_a = -5;
    m.protocol_value = contact_protocol_value;
    m.nonce = 0x12345678;
    m.identity_b = 77;
    return m;
  }
  m.slot = 42;
  m.connection_id = -123456;
  if (type == msg_client_info) {
    for (int i = 0; i < 4; i++) m.proof[i] = static_cast<uint8_t>(0xa0 + i);
    for (int i = 0; i < client_token_size; i++) m.token[i] = static_cast<uint8_t>(i * 3);
    m.identity_a = 99;
    m.nonce = -7;
  }
  if (type == msg_track_ack || type == msg_bike_ack || type == msg_loaded || type == msg_state ||
      type == msg_restart_request || type == msg_restart_ack)
    m.race_id = type == msg_restart_request ? 1 : 1001;
  if (type == msg_bike_ack) m.last_rider = 17;
  if (type == msg_state) {
    m.highest_server_tic = 4096;
    m.local_tic = 4100;
    m.state = sample_state(3);
  }
  if (type == msg_reliable || type == msg_ack) m.sequence = 65537;
  if (type == msg_reliable) m.kind = kind_chat;
  if (type == msg_client_info || type == msg_reliable) {
    m.data = tail;
    m.data_length = tail_length;
  }
  return m;
}

ServerMessage full_server(int type, const uint8_t *tail, int tail_length) {
  ServerMessage m = {};
  m.type = type;
  switch (type) {
    case msg_hello:
      m.slot = 3;
      m.connection_id = 0x7eadbeef;
      m.version = server_protocol_version;
      break;
    case msg_track:
      m.race_id = 9;
      m.duration = 38400;
      m.laps = 2;
      m.gate_drop = 1792;
      for (int i = 0; i < track_hash_size; i++) m.track_hash[i] = static_cast<uint8_t>(255 - i);
      break;
    case msg_rider_info: m.race_id = 9; m.slot = 159; break;
    case msg_start: m.race_id = 9; m.gate_position = 4; break;
    case msg_time:
    case msg_states:
      m.race_id = 9;
      m.server_tic = 12345;
      m.echo = 12000;
      if (type == msg_states) m.record_count = tail_length / state_record_size;
      break;
    case msg_server_13: m.value = -1; break;
    case msg_restart: m.race_id = 10; break;
    case msg_reliable: m.sequence = 3; m.kind = kind_text; break;
    case msg_ack: m.sequence = 4; break;
    case msg_redirect: m.nonce = -99; break;
    default: break;
  }
  if (type == msg_track || type == msg_rider_info || type == msg_start || type == msg_states ||
      type == msg_refusal || type == msg_reliable || type == msg_redirect) {
    m.data = tail;
    m.data_length = tail_length;
  }
  return m;
}

}  // namespace

TEST(NetProtocol, EveryClientMessageRoundTrips) {
  const uint8_t tail[] = "pb|a|b|c|d\n12\nRider";
  for (int type : client_types) {
    SCOPED_TRACE(type);
    ClientMessage m = full_client(type, tail, sizeof tail - 1);
    uint8_t bytes[net_datagram_buffer_size];
    int length = encode_client_message(&m, bytes, net_datagram_max);
    ASSERT_GT(length, 0);
    ClientMessage d;
    ASSERT_EQ(decode_client_message(bytes, length, &d), 1);
    EXPECT_EQ(d.type, type);
    EXPECT_EQ(d.slot, m.slot);
    EXPECT_EQ(d.connection_id, m.connection_id);
    EXPECT_EQ(d.race_id, m.race_id);
    EXPECT_EQ(d.last_rider, m.last_rider);
    EXPECT_EQ(d.highest_server_tic, m.highest_server_tic);
    EXPECT_EQ(d.local_tic, m.local_tic);
    EXPECT_EQ(memcmp(d.state.bytes, m.state.bytes, packed_bike_state_size), 0);
    EXPECT_EQ(d.sequence, m.sequence);
    EXPECT_EQ(d.kind, m.kind);
    EXPECT_EQ(d.password_flag, m.password_flag);
    EXPECT_EQ(d.identity_a, m.identity_a);
    EXPECT_EQ(d.protocol_value, m.protocol_value);
    EXPECT_EQ(d.nonce, m.nonce);
    EXPECT_EQ(d.identity_b, m.identity_b);
    EXPECT_EQ(memcmp(d.proof, m.proof, 4), 0);
    EXPECT_EQ(memcmp(d.token, m.token, client_token_size), 0);
    ASSERT_EQ(d.data_length, m.data_length);
    if (m.data_length) {
      EXPECT_EQ(memcmp(d.data, m.data, static_cast<size_t>(m.data_length)), 0);
    }
    // Every shorter prefix of the fixed part is refused.
    int fixed = length - m.data_length;
    for (int cut = 0; cut < fixed; cut++) EXPECT_EQ(decode_client_message(bytes, cut, &d), 0) << cut;
  }
}

TEST(NetProtocol, EveryServerMessageRoundTrips) {
  uint8_t records[2 * state_record_size];
  for (int i = 0; i < 2; i++) {
    StateRecord r = {i + 7, 300 + i, 4000 + 4 * i, sample_state(static_cast<uint8_t>(i))};
    encode_state_record(&r, records + i * state_record_size);
  }
  const uint8_t text[] = "rabbithill";
  for (int type : server_types) {
    SCOPED_TRACE(type);
    const uint8_t *tail = type == msg_states ? records : text;
    int tail_length = type == msg_states ? static_cast<int>(sizeof records) : static_cast<int>(sizeof text - 1);
    ServerMessage m = full_server(type, tail, tail_length);
    uint8_t bytes[net_datagram_buffer_size];
    int length = encode_server_message(&m, bytes, net_datagram_max);
    ASSERT_GT(length, 0);
    ServerMessage d;
    ASSERT_EQ(decode_server_message(bytes, length, &d), 1);
    EXPECT_EQ(d.type, type);
    EXPECT_EQ(d.slot, m.slot);
    EXPECT_EQ(d.connection_id, m.connection_id);
    EXPECT_EQ(d.version, m.version);
    EXPECT_EQ(d.race_id, m.race_id);
    EXPECT_EQ(d.duration, m.duration);
    EXPECT_EQ(d.laps, m.laps);
    EXPECT_EQ(d.gate_drop, m.gate_drop);
    EXPECT_EQ(memcmp(d.track_hash, m.track_hash, track_hash_size), 0);
    EXPECT_EQ(d.gate_position, m.gate_position);
    EXPECT_EQ(d.server_tic, m.server_tic);
    EXPECT_EQ(d.echo, m.echo);
    EXPECT_EQ(d.record_count, m.record_count);
    EXPECT_EQ(d.value, m.value);
    EXPECT_EQ(d.nonce, m.nonce);
    EXPECT_EQ(d.sequence, m.sequence);
    EXPECT_EQ(d.kind, m.kind);
    ASSERT_EQ(d.data_length, m.data_length);
    if (m.data_length) {
      EXPECT_EQ(memcmp(d.data, m.data, static_cast<size_t>(m.data_length)), 0);
    }
    int fixed = length - m.data_length;
    for (int cut = 0; cut < fixed; cut++) EXPECT_EQ(decode_server_message(bytes, cut, &d), 0) << cut;
  }
}

TEST(NetProtocol, LayoutsAreLittleEndianAtTheirOffsets) {
  ClientMessage contact = full_client(msg_contact, nullptr, 0);
  uint8_t b[net_datagram_buffer_size];
  ASSERT_EQ(encode_client_message(&contact, b, sizeof b), 21);
  const uint8_t expected_contact[21] = {0, 1, 0, 0, 0, 0xfb, 0xff, 0xff, 0xff, 34, 0, 0, 0,
                                        0x78, 0x56, 0x34, 0x12, 77, 0, 0, 0};
  EXPECT_EQ(memcmp(b, expected_contact, 21), 0);

  ClientMessage state = full_client(msg_state, nullptr, 0);
  ASSERT_EQ(encode_client_message(&state, b, sizeof b), 60);
  EXPECT_EQ(b[0], 11);
  EXPECT_EQ(wire_get_i32(b + 13), 4096);
  EXPECT_EQ(wire_get_i32(b + 17), 4100);
  EXPECT_EQ(memcmp(b + 21, state.state.bytes, packed_bike_state_size), 0);

  ClientMessage disconnect = full_client(msg_disconnect, nullptr, 0);
  EXPECT_EQ(encode_client_message(&disconnect, b, sizeof b), 9);
  ClientMessage bike_ack = full_client(msg_bike_ack, nullptr, 0);
  ASSERT_EQ(encode_client_message(&bike_ack, b, sizeof b), 17);
  EXPECT_EQ(wire_get_i32(b + 13), 17);

  ServerMessage hello = full_server(msg_hello, nullptr, 0);
  ASSERT_EQ(encode_server_message(&hello, b, sizeof b), 13);
  const uint8_t expected_hello[13] = {2, 3, 0, 0, 0, 0xef, 0xbe, 0xad, 0x7e, 6, 0, 0, 0};
  EXPECT_EQ(memcmp(b, expected_hello, 13), 0);

  const uint8_t name[] = "mx";
  ServerMessage track = full_server(msg_track, name, 2);
  ASSERT_EQ(encode_server_message(&track, b, sizeof b), 39);
  EXPECT_EQ(b[17], 255);
  EXPECT_EQ(b[36], 255 - 19);
  EXPECT_EQ(b[37], 'm');

  // A datagram that does not fit in the buffer is not encoded.
  uint8_t big[2000] = {};
  ServerMessage refusal = full_server(msg_refusal, big, sizeof big);
  EXPECT_EQ(encode_server_message(&refusal, b, net_datagram_max), 0);
  // Unknown types in either direction.
  uint8_t unknown[32] = {99};
  ClientMessage c;
  ServerMessage s;
  EXPECT_EQ(decode_client_message(unknown, sizeof unknown, &c), 0);
  EXPECT_EQ(decode_server_message(unknown, sizeof unknown, &s), 0);
  unknown[0] = msg_redirect;
  EXPECT_EQ(decode_client_message(unknown, sizeof unknown, &c), 0);
  unknown[0] = msg_contact;
  EXPECT_EQ(decode_server_message(unknown, sizeof unknown, &s), 0);
}

TEST(NetProtocol, StateRecordsNeedTheirWholeLength) {
  uint8_t records[3 * state_record_size];
  for (int i = 0; i < 3; i++) {
    StateRecord r = {i, 65535, -4 * i, sample_state(static_cast<uint8_t>(i))};
    encode_state_record(&r, records + i * state_record_size);
  }
  ServerMessage m = full_server(msg_states, records, sizeof records);
  m.record_count = 3;
  uint8_t bytes[net_datagram_buffer_size];
  int length = encode_server_message(&m, bytes, sizeof bytes);
  ASSERT_EQ(length, 17 + 3 * 47);
  // Announces three, holds two and a bit.
  ServerMessage d;
  ASSERT_EQ(decode_server_message(bytes, 17 + 47 * 2 + 46, &d), 1);
  EXPECT_EQ(d.record_count, 3);
  StateRecord r;
  ASSERT_EQ(state_record_at(&d, 1, &r), 1);
  EXPECT_EQ(r.slot, 1);
  EXPECT_EQ(r.ping, 65535);
  EXPECT_EQ(r.tic, -4);
  EXPECT_EQ(memcmp(r.state.bytes, sample_state(1).bytes, packed_bike_state_size), 0);
  EXPECT_EQ(state_record_at(&d, 2, &r), 0);
  EXPECT_EQ(state_record_at(&d, -1, &r), 0);
}

TEST(NetProtocol, TimingUpdatesCheckTheirCount) {
  TimingUpdate u = {};
  u.race_id = 5;
  u.count = 2;
  u.entries[0] = {1, 0, 100};
  u.entries[1] = {2, 3, -1};
  uint8_t payload[64];
  int n = encode_timing_update(&u, payload, sizeof payload);
  ASSERT_EQ(n, 8 + 24);
  TimingUpdate d;
  ASSERT_EQ(decode_timing_update(payload, n, &d), 1);
  EXPECT_EQ(d.count, 2);
  EXPECT_EQ(d.entries[1].index, 3);
  EXPECT_EQ(d.entries[1].tic, -1);
  EXPECT_EQ(decode_timing_update(payload, n - 1, &d), 0);
  wire_put_i32(payload + 4, -1);
  EXPECT_EQ(decode_timing_update(payload, n, &d), 0);
  wire_put_i32(payload + 4, 0x7fffffff);
  EXPECT_EQ(decode_timing_update(payload, n, &d), 0);
  EXPECT_EQ(decode_timing_update(payload, 7, &d), 0);
}

TEST(NetProtocol, ReliableIncomingIsDeliveredInOrderOnce) {
  ReliableChannel c = {};
  auto datagram = [](int32_t seq, uint8_t mark, uint8_t *out) {
    uint8_t payload[1] = {mark};
    ServerMessage m = {};
    m.type = msg_reliable;
    m.sequence = seq;
    m.kind = kind_chat;
    m.data = payload;
    m.data_length = 1;
    return encode_server_message(&m, out, net_datagram_max);
  };
  uint8_t d0[32], d1[32], d2[32], out[net_datagram_buffer_size];
  int n0 = datagram(0, 'a', d0), n1 = datagram(1, 'b', d1), n2 = datagram(2, 'c', d2);
  EXPECT_EQ(reliable_receive(&c, 0, d0, n0), reliable_deliver);
  EXPECT_EQ(reliable_take_early(&c, out, sizeof out), 0);
  EXPECT_EQ(reliable_receive(&c, 2, d2, n2), reliable_kept);
  EXPECT_EQ(reliable_receive(&c, 2, d2, n2), reliable_duplicate);  // already kept
  EXPECT_EQ(reliable_take_early(&c, out, sizeof out), 0);           // 1 is missing
  EXPECT_EQ(reliable_receive(&c, 1, d1, n1), reliable_deliver);
  ASSERT_EQ(reliable_take_early(&c, out, sizeof out), n2);
  EXPECT_EQ(out[6], 'c');
  EXPECT_EQ(c.expected_incoming, 3);
  EXPECT_EQ(reliable_receive(&c, 1, d1, n1), reliable_duplicate);
  EXPECT_EQ(reliable_receive(&c, 0, d0, n0), reliable_duplicate);

  // The early list is bounded: beyond it messages are refused (and resent).
  for (int i = 0; i < reliable_early_limit; i++) EXPECT_EQ(reliable_receive(&c, 10 + i, d0, n0), reliable_kept);
  EXPECT_EQ(reliable_receive(&c, 5, d0, n0), reliable_refused);
  EXPECT_EQ(c.early_count, reliable_early_limit);
  // Kept messages stay sorted whatever order they came in.
  ReliableChannel s = {};
  for (int32_t seq : {5, 3, 4, 1, 2}) reliable_receive(&s, seq, d0, n0);
  ASSERT_EQ(reliable_receive(&s, 0, d0, n0), reliable_deliver);
  int taken = 0;
  while (reliable_take_early(&s, out, sizeof out) > 0) taken++;
  EXPECT_EQ(taken, 5);
  EXPECT_EQ(s.expected_incoming, 6);
  reliable_reset(&c);
  reliable_reset(&s);
  EXPECT_EQ(c.expected_incoming, 0);
}

TEST(NetProtocol, ReliableOutgoingResendsOnlyTheHead) {
  ReliableChannel c = {};
  EXPECT_EQ(reliable_due(&c, 0), nullptr);
  EXPECT_EQ(reliable_queue_client(&c, 2, 77, kind_chat, "one", 3), 0);
  EXPECT_EQ(reliable_queue_client(&c, 2, 77, kind_chat, "two", 3), 1);
  const ReliableOutgoing *head = reliable_due(&c, 10.0);
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->sequence, 0);
  ClientMessage m;
  ASSERT_EQ(decode_client_message(head->bytes, head->length, &m), 1);
  EXPECT_EQ(m.slot, 2);
  EXPECT_EQ(m.connection_id, 77);
  EXPECT_EQ(m.kind, kind_chat);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(m.data), m.data_length), "one");
  EXPECT_EQ(reliable_due(&c, 10.4), nullptr);
  ASSERT_NE(reliable_due(&c, 10.5), nullptr);
  reliable_acknowledge(&c, 1);  // not the head: nothing happens
  EXPECT_EQ(c.queue_count, 2);
  reliable_acknowledge(&c, 0);
  head = reliable_due(&c, 10.6);
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->sequence, 1);
  reliable_acknowledge(&c, 1);
  EXPECT_EQ(reliable_due(&c, 100), nullptr);

  // Text is cut to 466 bytes, other payloads to the room.
  char text[1000];
  memset(text, 'x', sizeof text);
  reliable_queue_client(&c, 0, 0, kind_text, text, sizeof text);
  head = reliable_due(&c, 200);
  ASSERT_EQ(decode_client_message(head->bytes, head->length, &m), 1);
  EXPECT_EQ(m.data_length, reliable_text_max);
  reliable_acknowledge(&c, head->sequence);
  reliable_queue_server(&c, kind_deformation, text, sizeof text);
  head = reliable_due(&c, 300);
  EXPECT_EQ(head->length, reliable_message_room);
  // Many messages queue up behind a slow link.
  for (int i = 0; i < 100; i++) reliable_queue_server(&c, kind_chat, "x", 1);
  EXPECT_EQ(c.queue_count, 101);
  reliable_reset(&c);
}

TEST(NetProtocol, RiderInfoTextsSplitAndCut) {
  RiderInfo r = {};
  strcpy(r.bike, "yz250f(2017)");
  strcpy(r.rider_texture, "rider_body-alt1");
  strcpy(r.head_texture, "rider_head-alt2");
  strcpy(r.number, "123");
  strcpy(r.name, "Speedy Rider");
  char text[1024];
  int n = rider_info_text(&r, client_info_text_room, text, sizeof text);
  EXPECT_STREQ(text, "yz250f(2017)|rider_body-alt1|||rider_head-alt2\n123\nSpeedy Rider");
  EXPECT_EQ(n, static_cast<int>(strlen(text)));
  RiderInfo d;
  parse_rider_info(reinterpret_cast<const uint8_t *>(text), n, &d);
  EXPECT_STREQ(d.bike, r.bike);
  EXPECT_STREQ(d.rider_texture, r.rider_texture);
  EXPECT_STREQ(d.bike_texture, "");
  EXPECT_STREQ(d.head_texture, r.head_texture);
  EXPECT_STREQ(d.number, "123");
  EXPECT_STREQ(d.name, "Speedy Rider");

  // Too long for the room: the short form.
  memset(r.bike_texture, 'b', 120);
  memset(r.wheel_texture, 'w', 120);
  memset(r.rider_texture, 'r', 120);
  memset(r.head_texture, 'h', 120);
  rider_info_text(&r, rider_update_text_room, text, sizeof text);
  EXPECT_STREQ(text, "yz250f(2017)\n123\nSpeedy Rider");

  // Received: the number keeps three characters, extra fields are dropped,
  // the name runs to the end.
  const char odd[] = "a|b|c|d|e|f|g\n98765\nName with\nbreak";
  parse_rider_info(reinterpret_cast<const uint8_t *>(odd), sizeof odd - 1, &d);
  EXPECT_STREQ(d.head_texture, "e");
  EXPECT_STREQ(d.number, "987");
  EXPECT_STREQ(d.name, "Name with\nbreak");
  parse_rider_info(reinterpret_cast<const uint8_t *>("onlybike"), 8, &d);
  EXPECT_STREQ(d.bike, "onlybike");
  EXPECT_STREQ(d.name, "");
  parse_rider_info(reinterpret_cast<const uint8_t *>(""), 0, &d);
  EXPECT_STREQ(d.bike, "");
}

TEST(NetProtocol, TextCommands) {
  TextCommand c;
  EXPECT_EQ(parse_text_command("no_arcade", &c), command_no_arcade);
  EXPECT_EQ(parse_text_command("no_arcade now", &c), command_unknown);  // whole text only
  EXPECT_EQ(parse_text_command("off_course_bias 12.5", &c), command_off_course_bias);
  EXPECT_FLOAT_EQ(c.value, 12.5f);
  EXPECT_EQ(parse_text_command(" off_course_scale 2", &c), command_unknown);  // must start the text
  EXPECT_EQ(parse_text_command("off_course_scale 2", &c), command_off_course_scale);
  EXPECT_EQ(parse_text_command("off_course_scale x", &c), command_unknown);

  ASSERT_EQ(parse_text_command("knockout 100 200", &c), command_knockout);
  EXPECT_EQ(c.knockout[0], 100);
  for (int i = 1; i < knockout_count; i++) EXPECT_EQ(c.knockout[i], 200) << i;
  ASSERT_EQ(parse_text_command("  knockout 999999", &c), command_knockout);
  for (int i = 0; i < knockout_count; i++) EXPECT_EQ(c.knockout[i], knockout_max) << i;
  ASSERT_EQ(parse_text_command("knockout -5 x 7", &c), command_knockout);
  for (int i = 0; i < knockout_count; i++) EXPECT_EQ(c.knockout[i], 0) << i;
  ASSERT_EQ(parse_text_command("knockout", &c), command_knockout);
  EXPECT_EQ(c.knockout[15], 0);
  EXPECT_EQ(parse_text_command("knockouts 5", &c), command_unknown);

  ASSERT_EQ(parse_text_command("erode 7 300", &c), command_erode);
  EXPECT_EQ(c.race_id, 7);
  EXPECT_EQ(c.amount, 300);
  EXPECT_EQ(parse_text_command("erode 7", &c), command_erode_malformed);
  EXPECT_EQ(parse_text_command("erode seven 3", &c), command_erode_malformed);
  EXPECT_EQ(parse_text_command("erode 99999999999 3", &c), command_erode_malformed);

  EXPECT_EQ(parse_text_command("sendready", &c), command_sendready);
  EXPECT_EQ(parse_text_command("sendready ", &c), command_unknown);
  EXPECT_EQ(parse_text_command(" senddenied because", &c), command_senddenied);
  EXPECT_EQ(parse_text_command("version", &c), command_version);
  EXPECT_EQ(parse_text_command("versions", &c), command_unknown);
  EXPECT_EQ(parse_text_command("", &c), command_unknown);
}

TEST(NetProtocol, PasswordProofIsTheDigestReversed) {
  uint8_t proof[4];
  password_proof("secret", 0x01020304, proof);
  const uint8_t input[] = {'s', 'e', 'c', 'r', 'e', 't', 4, 3, 2, 1};
  uint8_t digest[20];
  ripemd160(input, sizeof input, digest);
  EXPECT_EQ(proof[0], digest[3]);
  EXPECT_EQ(proof[1], digest[2]);
  EXPECT_EQ(proof[2], digest[1]);
  EXPECT_EQ(proof[3], digest[0]);
  uint8_t other[4];
  password_proof("secret", 0x01020305, other);
  EXPECT_NE(memcmp(proof, other, 4), 0);
  password_proof(nullptr, 5, proof);
  EXPECT_EQ(proof[0] | proof[1] | proof[2] | proof[3], 0);
}

TEST(NetProtocol, VersionAndRaceLengthTexts) {
  uint8_t id[32];
  for (int i = 0; i < 32; i++) id[i] = static_cast<uint8_t>(i * 17);
  char text[256];
  build_version_text(text, sizeof text, 0x22, 6, id, nullptr, "2.1 Mesa");
  std::string t = text;
  EXPECT_EQ(t.rfind("version 22 6 0011223344", 0), 0u);
  for (int i = 13; i < 13 + 64; i++) EXPECT_TRUE(isdigit(t[i]) || (t[i] >= 'a' && t[i] <= 'f')) << i;
  EXPECT_EQ(t.substr(13 + 64), " 2019-02-04-1446 snapshot NULL 2.1 Mesa");
  std::string long_renderer(400, 'r');
  build_version_text(text, sizeof text, 0x22, 6, id, long_renderer.c_str(), "x");
  EXPECT_EQ(strlen(text), 255u);

  race_length_text(0, 3, text, sizeof text);
  EXPECT_STREQ(text, "3 laps");
  race_length_text(128 * 60 * 10 + 128 * 31, 0, text, sizeof text);
  EXPECT_STREQ(text, "11 minutes");
  race_length_text(128 * 60 * 5, 2, text, sizeof text);
  EXPECT_STREQ(text, "5 minutes + 2 laps");
}
