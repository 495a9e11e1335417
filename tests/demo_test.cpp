// Demo files: recording and playing back a race, the chunk chain, events,
// damaged files, seeking, backups and names, the time-trial ghost and the
// Playback Race setup.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>

#include "assets/file.h"
#include "app/config.h"
#include "platform/log.h"
#include "replay_scene.h"
#include "test_util.h"

namespace {

using Expected = std::map<std::pair<int, int>, PackedBikeState>;  // (slot, tic) -> state

uint32_t u32(const std::string &s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; i--) v = v << 8 | static_cast<uint8_t>(s[at + i]);
  return v;
}
void put_u32(std::string *s, uint32_t v) {
  for (int i = 0; i < 4; i++) s->push_back(static_cast<char>(v >> (8 * i)));
}
uint32_t field(const PackedBikeState &s, int offset, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; i--) v = v << 8 | s.bytes[offset + i];
  return v;
}

// Every packed field of two states within one step of its resolution.
::testing::AssertionResult same_pose(const PackedBikeState &a, const PackedBikeState &b) {
  static const int fields[][2] = {{0, 3}, {3, 3}, {6, 3}, {9, 2}, {11, 2}, {13, 2}, {15, 2}, {17, 1}, {18, 1},
                                  {19, 1}, {20, 2}, {22, 2}, {24, 2}, {26, 2}, {28, 2}, {30, 2}, {32, 2},
                                  {36, 1}, {37, 2}};
  for (const auto &f : fields) {
    long d = static_cast<long>(field(a, f[0], f[1])) - static_cast<long>(field(b, f[0], f[1]));
    if (d > 2 || d < -2) return ::testing::AssertionFailure() << "byte " << f[0] << " differs by " << d;
  }
  return ::testing::AssertionSuccess();
}

// Rewrites a file in place (the directory exists already).
void write_bytes(const std::string &path, const std::string &bytes) {
  FILE *f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

struct DemoTest : ::testing::Test {
  std::string root, home;
  void SetUp() override {
    root = make_temp_dir("demo");
    setenv("XDG_DATA_HOME", root.c_str(), 1);
    setenv("QX_HOME", (root + "/data").c_str(), 1);
    file_layer_reset_for_tests();
    home = data_directory(0);
    game_settings().demo_backups = 0;
    scene_reset();
    message_clear();
  }
  void TearDown() override {
    scene_reset();
    std::string command = "rm -rf '" + root + "'";
    if (system(command.c_str()) != 0) ADD_FAILURE() << "cleanup";
  }
  std::string demo_file(const char *name = "default") { return home + "demos/" + name + ".qxdemo"; }

  // Records `riders` local riders (robots on odd slots) from `start` for
  // `tics` tics, calling `during` once per tic; returns the packed states of
  // every 4th tic.
  template <typename F>
  Expected record(int riders, int tics, int start, F during) {
    SceneRace &s = scene();
    s.tic = start;
    s.gate_drop_tic = 1700;
    s.finish_laps = 3;
    for (int i = 0; i < riders; i++) {
      scene_bike(i, i % 2 ? 2 : 0);
      scene_move(i);
    }
    Expected expected;
    demo_open_write();
    demo_write_tic(1);
    for (int i = 0; i < riders; i++) expected[{i, start}] = pack_bike_state(s.bikes[i], scene_terrain());
    for (int k = 0; k < tics; k++) {
      during(s.tic);
      scene_step();
      if (s.tic % 4 == 0)
        for (int i = 0; i < riders; i++) expected[{i, s.tic}] = pack_bike_state(s.bikes[i], scene_terrain());
    }
    demo_close_write();
    return expected;
  }
  Expected record(int riders, int tics, int start = 0) {
    return record(riders, tics, start, [](int) {});
  }

  // Replaces the scene's bikes by history-driven ones playing the demo.
  int start_playback(const char *path) {
    scene_reset();
    if (!demo_open_read(path)) return 0;
    for (int i = 0; i < demo_rider_count(); i++) {
      scene_bike(i, 1);
      demo_map_rider(i, i);
    }
    scene().tic = 0;
    demo_write_tic(1);
    demo_read_ahead();
    return 1;
  }
};

TEST_F(DemoTest, APlayedRaceShowsEveryRiderWhereItWasAtEveryRecordedTic) {
  Expected expected = record(3, 256);
  ASSERT_TRUE(file_exists(demo_file()));
  EXPECT_FALSE(file_exists(demo_file() + ".tmp"));

  DemoHeader h;
  ASSERT_EQ(demo_read_header(demo_file().c_str(), &h, nullptr), 1);
  EXPECT_EQ(h.version, 6);
  EXPECT_EQ(h.rider_count, 3);
  EXPECT_EQ(h.gate_drop_tic, 1700);
  EXPECT_EQ(h.finish_laps, 3);
  EXPECT_STREQ(h.track, "testtrack");
  EXPECT_STREQ(h.riders[1].fields[0], "cr125");
  EXPECT_STREQ(h.riders[1].fields[1], "@rider_body-alt1.png");
  EXPECT_STREQ(h.riders[2].fields[3], "@wheels-alt2.png");
  EXPECT_STREQ(h.riders[2].number, "333");
  EXPECT_STREQ(h.riders[0].name, "Rider");

  ASSERT_EQ(start_playback(nullptr), 1);
  SceneRace &s = scene();
  int checked = 0;
  while (s.tic < 256) {
    scene_step();
    int shown = s.tic - 1;
    for (int i = 0; i < 3; i++) {
      EXPECT_EQ(history_hidden(i), 0) << "tic " << shown;
      auto it = expected.find({i, shown});
      if (it == expected.end()) continue;
      PackedBikeState now = pack_bike_state(s.bikes[i], scene_terrain());
      ASSERT_TRUE(same_pose(now, it->second)) << "slot " << i << " tic " << shown;
      checked++;
    }
  }
  EXPECT_EQ(checked, 3 * 64);
  EXPECT_EQ(demo_stop_reason(), nullptr);
  // The file has ended: a second later the riders are gone.
  for (int k = 0; k < 200; k++) scene_step();
  EXPECT_EQ(history_hidden(0), 1);
  EXPECT_EQ(demo_stop_reason(), nullptr);  // a clean end says nothing
}

TEST_F(DemoTest, ChunksLinkBothWaysAndRewriteByteForByte) {
  record(1, 256);
  std::string bytes = read_text_file(demo_file());
  DemoHeader h;
  ASSERT_EQ(demo_read_header(demo_file().c_str(), &h, nullptr), 1);
  // Forward: each link XOR the previous length is this chunk's length.
  std::vector<size_t> starts;
  std::vector<uint32_t> lengths;
  uint32_t previous = 0;
  for (size_t at = static_cast<size_t>(h.body_start); at < bytes.size();) {
    uint32_t length = u32(bytes, at) ^ previous;
    starts.push_back(at);
    lengths.push_back(length);
    EXPECT_EQ(u32(bytes, at + 4), 16 * (starts.size() - 1));
    EXPECT_EQ(bytes[at + 8], 1);
    EXPECT_EQ(length, starts.size() == 1 ? 44u : 4 * 44u);
    previous = length;
    at += 9 + length;
    ASSERT_LE(at, bytes.size());
  }
  EXPECT_EQ(starts.size(), 17u);
  // Backward from the end through the links reaches the first chunk.
  size_t at = bytes.size();
  uint32_t last = previous;
  int walked = 0;
  while (at > static_cast<size_t>(h.body_start)) {
    at -= 9 + last;
    last = u32(bytes, at) ^ last;
    walked++;
  }
  EXPECT_EQ(at, static_cast<size_t>(h.body_start));
  EXPECT_EQ(last, 0u);
  EXPECT_EQ(walked, 17);

  std::string copy = home + "copy.qxdemo";
  EXPECT_EQ(demo_rewrite(demo_file().c_str(), copy.c_str()), 17);
  EXPECT_EQ(read_text_file(copy), bytes);
}

TEST_F(DemoTest, EventsReplayOnceAndTheRewriteKeepsThem) {
  const uint8_t packet[] = {1, 0, 128, 0, 128, 255, 127, 255, 127, 1, 2, 3, 4, 5, 6, 0x55, 0xaa};
  record(2, 200, 0, [&](int tic) {
    if (tic == 20) demo_write_event(chunk_chat, "hello there", 11);
    if (tic == 21) demo_write_event(chunk_command, "erode 2048", 10);
    if (tic == 50) demo_write_event(chunk_erode, packet, sizeof packet);
    if (tic == 51) demo_write_event(9, "future", 6);  // unknown: skipped
    if (tic == 52) demo_write_event(chunk_command, "erode 77 junk", 13);
  });
  std::string copy = home + "copy.qxdemo";
  EXPECT_GT(demo_rewrite(demo_file().c_str(), copy.c_str()), 0);
  EXPECT_EQ(read_text_file(copy), read_text_file(demo_file()));

  ASSERT_EQ(start_playback(nullptr), 1);
  SceneRace &s = scene();
  while (s.tic < 150) scene_step();
  EXPECT_EQ(s.erosion_rate, 2048);
  ASSERT_EQ(s.erodes.size(), 1u);
  EXPECT_EQ(s.erodes[0], std::vector<uint8_t>(packet, packet + sizeof packet));
  bool chat = false;
  for (int i = 0; i < message_visible_count(); i++) chat |= strcmp(message_line(i), "hello there") == 0;
  EXPECT_TRUE(chat);
  // A rewind reads the deformation chunk again but does not dig twice.
  EXPECT_EQ(seek_playback(-1), 1);
  EXPECT_EQ(seek_playback(-1), 1);
  EXPECT_EQ(s.tic, 1);
  while (s.tic < 150) scene_step();
  EXPECT_EQ(s.erodes.size(), 1u);
}

TEST_F(DemoTest, ADemoCutAtAnyBytePlaysWhatIsCompleteAndSaysWhy) {
  Expected expected = record(1, 48);
  std::string bytes = read_text_file(demo_file());
  DemoHeader h;
  ASSERT_EQ(demo_read_header(demo_file().c_str(), &h, nullptr), 1);
  // Chunk ends and the entries they complete.
  std::vector<size_t> ends;
  std::vector<int> complete;
  uint32_t previous = 0;
  int entries = 0;
  for (size_t at = static_cast<size_t>(h.body_start); at < bytes.size();) {
    uint32_t length = u32(bytes, at) ^ previous;
    at += 9 + length;
    entries += static_cast<int>(length / 44);
    ends.push_back(at);
    complete.push_back(entries);
    previous = length;
  }
  std::string cut = home + "cut.qxdemo";
  for (size_t n = 0; n < bytes.size(); n++) {
    write_bytes(cut, bytes.substr(0, n));
    scene_reset();
    message_clear();
    int opened = demo_open_read(cut.c_str());
    if (n < static_cast<size_t>(h.body_start)) {
      EXPECT_EQ(opened, 0) << n;
      EXPECT_EQ(demo_rider_count(), 0);
      EXPECT_GE(message_visible_count(), 1);
      continue;
    }
    ASSERT_EQ(opened, 1) << n;
    demo_map_rider(0, 0);
    for (int t = 0; t <= 256; t += 16) {
      scene().tic = t;
      demo_read_ahead();
    }
    int want = 0;
    bool boundary = n == static_cast<size_t>(h.body_start);
    for (size_t c = 0; c < ends.size(); c++) {
      if (ends[c] <= n) want = complete[c];
      if (ends[c] == n) boundary = true;
    }
    const HistoryRing *ring = history_ring(0);
    int held = 0;
    for (const HistoryEntry &e : ring->entries) {
      if (e.tic < 0) continue;
      held++;
      auto it = expected.find({0, e.tic});
      ASSERT_NE(it, expected.end()) << n;
      EXPECT_EQ(memcmp(e.state.bytes, it->second.bytes, sizeof e.state.bytes), 0) << n;
    }
    EXPECT_EQ(held, want) << n;
    if (boundary) {
      EXPECT_EQ(demo_stop_reason(), nullptr) << n;
    } else {
      ASSERT_NE(demo_stop_reason(), nullptr) << n;
      EXPECT_NE(strstr(message_line(0), "cut short"), nullptr) << n;
    }
    demo_close_read();
  }
}

TEST_F(DemoTest, BadHeadersAreRefusedWithAReason) {
  const char *bad[] = {
      "",
      "QX06 1 0\n",  // version, riders, finish time: but no track line
      "QY06 1 0 3 100\ntrack\n",
      "QX07 0 0 3 100\ntrack\n",
      "QX03 0 0 3 100\ntrack\n",
      "QX06 1\ntrack\n",
      "QX06 161 0 3 100\ntrack\n",
      "QX06 -1 0 3 100\ntrack\n",
      "QX06 0 0 3 100\n\n",
      "QX06 1 0 3 100\ntrack\ncr125||||\n7\nname\n",  // no empty line after the name
      "QX06 2 0 3 100\ntrack\ncr125||||\n7\nname\n\ncr125||||\n",
      "QX05 1 0 3\ntrack\ncr125||||",  // last line without a line feed
  };
  std::string path = home + "bad.qxdemo";
  for (const char *text : bad) {
    write_text_file(path, text);
    message_clear();
    EXPECT_EQ(demo_open_read(path.c_str()), 0) << text;
    EXPECT_EQ(demo_playing(), 0);
    EXPECT_EQ(demo_rider_count(), 0);
    ASSERT_GE(message_visible_count(), 1);
    EXPECT_NE(strstr(message_line(0), "Can't play demo"), nullptr) << message_line(0);
  }
  // A line longer than the header buffer.
  write_text_file(path, "QX06 0 0 3 100\n" + std::string(2000, 'x') + "\n");
  EXPECT_EQ(demo_open_read(path.c_str()), 0);
  // A zero byte inside a header line.
  write_text_file(path, std::string("QX06 0 0 3 100\ntra\0ck\n", 22));
  EXPECT_EQ(demo_open_read(path.c_str()), 0);
  EXPECT_EQ(demo_open_read((home + "missing.qxdemo").c_str()), 0);

  // Version 5 with four numbers: the gate drops at 14 s.
  write_text_file(path, "QX05 2 0 5\nsometrack\ncr125|a|b|c|d\n12\nyz250f||||\n3\n");
  scene().gate_drop_tic = 99;
  ASSERT_EQ(demo_open_read(path.c_str()), 1);
  EXPECT_EQ(scene().gate_drop_tic, 1792);
  EXPECT_EQ(scene().finish_laps, 5);
  EXPECT_EQ(demo_rider_count(), 2);
  EXPECT_STREQ(demo_track(), "sometrack");
  EXPECT_STREQ(demo_rider(0)->fields[4], "d");
  EXPECT_STREQ(demo_rider(1)->fields[0], "yz250f");
  EXPECT_STREQ(demo_rider(1)->number, "3");
  EXPECT_EQ(demo_rider(2), nullptr);
  demo_close_read();

  // Version 6: lines after the name up to the empty line are skipped.
  write_text_file(path, "QX06 2 0 5 300\nt\nkx125||||\n1\nFirst\nextra\n\nrm125|x|||\n2\nSecond\n\n");
  ASSERT_EQ(demo_open_read(path.c_str()), 1);
  EXPECT_STREQ(demo_rider(0)->name, "First");
  EXPECT_STREQ(demo_rider(1)->name, "Second");
  EXPECT_STREQ(demo_rider(1)->fields[1], "x");
}

TEST_F(DemoTest, GarbageInTheBodyStopsPlaybackWithoutHarm) {
  record(2, 64);
  std::string bytes = read_text_file(demo_file());
  DemoHeader h;
  ASSERT_EQ(demo_read_header(demo_file().c_str(), &h, nullptr), 1);
  std::string path = home + "garbage.qxdemo";
  std::mt19937 random(7);
  for (int round = 0; round < 200; round++) {
    std::string damaged = bytes;
    int flips = 1 + round % 8;
    for (int i = 0; i < flips; i++) {
      size_t at = h.body_start + random() % (damaged.size() - h.body_start);
      damaged[at] = static_cast<char>(random());
    }
    write_bytes(path, damaged);
    ASSERT_EQ(start_playback(path.c_str()), 1);
    for (int k = 0; k < 150; k++) scene_step();
    // Whatever was read, each ring stays ordered oldest to newest ending
    // at its head, with empty entries only before the oldest.
    for (int slot = 0; slot < 2; slot++) {
      const HistoryRing *ring = history_ring(slot);
      int newer = INT32_MAX;
      bool empty_seen = false;
      for (int k = 0; k < history_length; k++) {
        const HistoryEntry &e = ring->entries[(ring->head - k + history_length) % history_length];
        if (e.tic < 0) {
          empty_seen = true;
          continue;
        }
        EXPECT_FALSE(empty_seen) << round;
        EXPECT_LT(e.tic, newer) << round;
        newer = e.tic;
      }
    }
  }
  // A chunk whose length is absurd is reported as damage.
  std::string huge = bytes.substr(0, static_cast<size_t>(h.body_start));
  put_u32(&huge, 0x7fffffff);
  put_u32(&huge, 0);
  huge.push_back(1);
  write_text_file(path, huge);
  message_clear();
  ASSERT_EQ(start_playback(path.c_str()), 1);
  EXPECT_NE(demo_stop_reason(), nullptr);
  EXPECT_NE(strstr(message_line(0), "damaged"), nullptr);
  // States chunks of the wrong size and entries of unknown riders are skipped.
  std::string odd = bytes.substr(0, static_cast<size_t>(h.body_start));
  put_u32(&odd, 45);
  put_u32(&odd, 0);
  odd.push_back(1);
  odd.append(45, '\0');
  put_u32(&odd, 45 ^ 44);
  put_u32(&odd, 16);
  odd.push_back(1);
  odd.push_back(9);  // rider 9 of 2
  odd.append(43, '\0');
  write_text_file(path, odd);
  ASSERT_EQ(start_playback(path.c_str()), 1);
  EXPECT_EQ(history_newest_tic(0), -1);
  EXPECT_EQ(history_newest_tic(1), -1);
  EXPECT_EQ(demo_stop_reason(), nullptr);
}

TEST_F(DemoTest, RewindAndSkipLandOnTheRightTics) {
  Expected expected = record(2, 512);
  ASSERT_EQ(start_playback(nullptr), 1);
  SceneRace &s = scene();
  while (s.tic < 100) scene_step();
  EXPECT_EQ(seek_playback(-1), 1);
  EXPECT_EQ(s.tic, 1);  // rewinding at 100 goes to tic 0, then one step
  while (s.tic < 300) scene_step();
  s.cut_result = 1;
  s.results_final = 1;
  EXPECT_EQ(seek_playback(-1), 1);
  EXPECT_EQ(s.tic, 300 - 128);  // target 171, then one step
  EXPECT_GT(s.cut_calls, 0);
  EXPECT_EQ(s.results_final, 0);  // a rewound race is not over
  // The riders are where they were at those tics.
  for (int k = 0; k < 40; k++) {
    scene_step();
    auto it = expected.find({0, s.tic - 1});
    if (it != expected.end()) {
      EXPECT_TRUE(same_pose(pack_bike_state(s.bikes[0], scene_terrain()), it->second));
    }
  }
  // Skipping forward in a version 6 demo simulates a whole second with the
  // roost switched off meanwhile.
  int before = s.tic;
  s.roost = 0.75f;
  EXPECT_EQ(seek_playback(1), 1);
  EXPECT_EQ(s.tic, before + 128);
  EXPECT_EQ(s.roost, 0.75f);

  // Refused while recording, with a rider simulated here, and without playback.
  demo_open_write();
  EXPECT_EQ(seek_playback(-1), 0);
  demo_close_write();
  s.modes[1] = 0;
  EXPECT_EQ(seek_playback(-1), 0);
  s.modes[1] = 1;
  demo_close_read();
  EXPECT_EQ(seek_playback(-1), 0);
}

// A version 5 demo: one 39-byte state per rider per tic.
TEST_F(DemoTest, OlderVersionsPlayFrameByFrameAndSeekByOffset) {
  Expected expected = record(1, 8);
  PackedBikeState base = expected[{0, 0}];
  std::string text = "QX05 2 0 3 200\ntesttrack\ncr125||||\n5\nyz125||||\n6\n";
  for (int tic = 0; tic < 400; tic++)
    for (int r = 0; r < 2; r++) {
      PackedBikeState s = base;
      s.bytes[0] = static_cast<uint8_t>(tic);  // frame x marks the tic
      s.bytes[1] = static_cast<uint8_t>(tic >> 8);
      s.bytes[17] = static_cast<uint8_t>(r);
      text.append(reinterpret_cast<const char *>(s.bytes), sizeof s.bytes);
    }
  std::string path = home + "old.qxdemo";
  write_text_file(path, text);
  ASSERT_EQ(start_playback(path.c_str()), 1);
  EXPECT_EQ(history_version(), 5);
  SceneRace &s = scene();
  while (s.tic < 150) scene_step();
  auto frame_tic = [](const HistoryEntry &e) { return e.state.bytes[0] | e.state.bytes[1] << 8; };
  for (int slot = 0; slot < 2; slot++) {
    const HistoryRing *ring = history_ring(slot);
    const HistoryEntry &head = ring->entries[ring->head];
    EXPECT_EQ(head.tic, 150 + 8);
    EXPECT_EQ(frame_tic(head), head.tic);
    EXPECT_EQ(head.state.bytes[17], slot);
  }
  // Skip: by offset to tic 150 + 127, then one step.
  EXPECT_EQ(seek_playback(1), 1);
  EXPECT_EQ(s.tic, 150 + 128);
  const HistoryRing *ring = history_ring(1);
  EXPECT_EQ(frame_tic(ring->entries[ring->head]), ring->entries[ring->head].tic);
  EXPECT_EQ(ring->entries[ring->head].state.bytes[17], 1);
  EXPECT_EQ(seek_playback(-1), 1);
  EXPECT_EQ(s.tic, 150);
  EXPECT_EQ(frame_tic(ring->entries[ring->head]), ring->entries[ring->head].tic);
  // Past the end: playback stops, the riders disappear a second later.
  while (s.tic < 600) scene_step();
  EXPECT_EQ(history_newest_tic(0), 399);
  EXPECT_EQ(history_hidden(0), 1);

  // Version 4: 26-byte states, never blended.
  std::string v4 = "QX04 1 0 3 200\ntesttrack\ncr125||||\n5\n";
  for (int tic = 0; tic < 50; tic++) v4.append(reinterpret_cast<const char *>(base.bytes), 26);
  write_text_file(path, v4);
  ASSERT_EQ(start_playback(path.c_str()), 1);
  EXPECT_EQ(history_version(), 4);
  while (s.tic < 20) scene_step();
  const HistoryRing *r4 = history_ring(0);
  EXPECT_EQ(memcmp(r4->entries[r4->head].state.bytes, base.bytes, 26), 0);
  demo_close_read();
  EXPECT_EQ(history_version(), 5);
}

TEST_F(DemoTest, BackupsRotateAndACrashKeepsTheOldDemo) {
  game_settings().demo_backups = 3;
  std::string firsts[5];
  for (int race = 0; race < 5; race++) {
    scene_reset();
    scene().finish_time = race;  // tells the races apart
    record(1, 16);
    firsts[race] = read_text_file(demo_file());
  }
  EXPECT_EQ(read_text_file(demo_file()), firsts[4]);
  EXPECT_EQ(read_text_file(demo_file("default00")), firsts[3]);
  EXPECT_EQ(read_text_file(demo_file("default01")), firsts[2]);
  EXPECT_EQ(read_text_file(demo_file("default02")), firsts[1]);
  EXPECT_FALSE(file_exists(demo_file("default03")));

  // A recording that never closes (the program died) leaves the demo alone.
  scene_reset();
  scene_bike(0, 0);
  demo_open_write();
  demo_write_tic(1);
  EXPECT_EQ(demo_recording(), 1);
  demo_reset_for_tests();
  EXPECT_EQ(read_text_file(demo_file()), firsts[4]);
  EXPECT_EQ(read_text_file(demo_file("default00")), firsts[3]);
}

TEST_F(DemoTest, NamedemoNamesTheFinishedRecording) {
  EXPECT_EQ(demo_name_recording("test"), 0);
  EXPECT_STREQ(message_line(0), "Not currently recording a demo");
  for (const char *name : {"test", "race1.qxdemo extra words"}) {
    scene_reset();
    scene_bike(0, 0);
    demo_open_write();
    EXPECT_EQ(demo_name_recording(name), 1);
    EXPECT_STREQ(message_line(0), "Demo name updated");
    demo_write_tic(1);
    demo_close_write();
  }
  EXPECT_TRUE(file_exists(demo_file("test")));
  EXPECT_TRUE(file_exists(demo_file("race1")));
  EXPECT_FALSE(file_exists(demo_file()));

  scene_reset();
  scene_bike(0, 0);
  demo_open_write();
  EXPECT_EQ(demo_name_recording(std::string(1017, 'n').c_str()), 0);
  EXPECT_STREQ(message_line(0), "Name too long");
  EXPECT_EQ(demo_name_recording("../../outside"), 0);
  demo_close_write();
  EXPECT_TRUE(file_exists(demo_file()));
}

TEST_F(DemoTest, TheGhostLapStartsAtTheCurrentTic) {
  scene().time_trial = 1;
  Expected expected = record(1, 64, 1000);
  std::string lastlap = home + "testtrack/lastlap.qxdemo";
  ASSERT_TRUE(file_exists(lastlap));
  EXPECT_EQ(demo_ghost_exists(), 0);
  EXPECT_EQ(demo_keep_lap_as_fastest(), 1);
  EXPECT_EQ(demo_ghost_exists(), 1);
  EXPECT_EQ(read_text_file(home + "testtrack/fastlap.qxdemo"), read_text_file(lastlap));

  scene_reset();
  scene().time_trial = 1;
  scene().tic = 5000;
  ASSERT_EQ(demo_open_ghost(), 1);
  scene_bike(1, 1);
  demo_map_rider(0, 1);
  demo_read_ahead();
  EXPECT_EQ(scene().tic, 5000);
  const HistoryRing *ring = history_ring(1);
  EXPECT_EQ(ring->entries[(ring->head + 1) % history_length].tic, -1);
  int oldest = -1;
  for (const HistoryEntry &e : ring->entries)
    if (e.tic >= 0 && (oldest < 0 || e.tic < oldest)) oldest = e.tic;
  EXPECT_EQ(oldest, 5000);
  for (const HistoryEntry &e : ring->entries) {
    if (e.tic < 0) continue;
    EXPECT_EQ(memcmp(e.state.bytes, expected[{0, e.tic - 4000}].bytes, sizeof e.state.bytes), 0);
  }
  // Outside a time trial the clock jumps to the first states instead.
  scene().time_trial = 0;
  scene().tic = 5;
  ASSERT_EQ(demo_open_ghost(), 1);
  demo_read_ahead();
  EXPECT_EQ(scene().tic, 1000);
}

TEST_F(DemoTest, PlaybackRaceSetup) {
  int gates[playback_gate_count] = {};
  gates[2] = 2;
  gates[5] = 1;
  gates[9] = 1;
  PlaybackSetup setup;
  demo_playback_setup("@demos/mine.qxdemo", playback_race_against, gates, 1, &setup);
  EXPECT_EQ(setup.kinds[5], 1);
  EXPECT_EQ(setup.kinds[9], 0);
  EXPECT_EQ(setup.kinds[2], 0);
  EXPECT_EQ(setup.record, 1);
  EXPECT_EQ(setup.laps, 10);
  EXPECT_STREQ(demo_chosen_file(), "@demos/mine.qxdemo");

  message_clear();
  int none[playback_gate_count] = {};
  demo_playback_setup("demos/default.qxdemo", playback_race_against, none, 1, &setup);
  EXPECT_EQ(setup.kinds[0], 1);
  EXPECT_EQ(setup.record, 0);
  EXPECT_STREQ(message_line(0), "Can't record and play from same file - recording disabled");

  demo_playback_setup("@demos/mine.qxdemo", playback_only, gates, 1, &setup);
  for (int k : setup.kinds) EXPECT_EQ(k, 0);
  EXPECT_EQ(setup.record, 0);
}

}  // namespace
