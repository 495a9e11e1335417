// Engine voices: templates, ".braap" files, sound tables, the per-cycle
// synthesis, spatialisation and the pitch of a rendered rpm sweep.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/alloc.h"
#include "platform/audio.h"
#include "platform/log.h"
#include "sound/engine_sound.h"
#include "sound/engine_sweep.h"
#include "sound/synthetic_engine.h"
#include "test_util.h"

namespace {

// A raw 16-bit recording of `cycles` segments; segment i holds the value
// (i + 1) * 1000 so a stream position tells which segment plays.
void write_recording(const std::string &path, int samples, int cycles) {
  std::string bytes;
  for (int i = 0; i < samples; i++) {
    int16_t v = static_cast<int16_t>((i * cycles / samples + 1) * 1000);
    bytes.push_back(static_cast<char>(v & 0xff));
    bytes.push_back(static_cast<char>((v >> 8) & 0xff));
  }
  write_text_file(path, bytes);
}

// Runs the voice one sample at a time and records the speed (rpm) each new
// cycle was given, reconstructed from its cycle frequency.
std::vector<float> cycle_speeds(EngineVoice *voice, float rpm, float load, int cycles) {
  std::vector<float> speeds;
  uint32_t seen = voice->cycle_counter;
  for (int n = 0; n < 44100 * 4 && static_cast<int>(speeds.size()) < cycles; n++) {
    engine_voice_synthesize(voice, rpm, load, 1);
    if (voice->cycle_counter != seen) {
      seen = voice->cycle_counter;
      speeds.push_back(voice->cycle_frequency * 60.0f / voice->config.cycles_per_revolution);
    }
  }
  return speeds;
}

class EngineSound : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = make_temp_dir("engine_sound");
    message_clear();
  }
  void TearDown() override {
    engine_voice_free(&voice);
    if (audio_is_open()) audio_close();
  }
  std::string dir;
  EngineVoice voice = {};
};

}  // namespace

TEST_F(EngineSound, TemplatesFollowTheBikeClass) {
  engine_voice_create(&voice, "50", nullptr);
  EXPECT_EQ(voice.config.high_torque, 1.5f);
  EXPECT_EQ(voice.config.cycles_per_revolution, 1.0f);
  EXPECT_STREQ(voice.config.table->name, "default_two_stroke");
  engine_voice_create(&voice, "250", nullptr);
  EXPECT_EQ(voice.config.high_torque, 3.5f);
  EXPECT_EQ(voice.config.low_torque, -3.5f);
  EXPECT_STREQ(voice.config.table->name, "default_two_stroke");
  engine_voice_create(&voice, "450f", nullptr);
  EXPECT_EQ(voice.config.cycles_per_revolution, 0.5f);
  EXPECT_EQ(voice.config.high_torque, 2.5f);
  EXPECT_STREQ(voice.config.table->name, "default_four_stroke");
  // A fresh voice: no sound without audio, the documented starting state.
  EXPECT_EQ(voice.sound, nullptr);
  EXPECT_EQ(voice.write_position, 11025u);
  EXPECT_EQ(voice.cycle_frequency, 10.0f);
  EXPECT_EQ(voice.previous_speed, 1000.0f);
  EXPECT_EQ(voice.config.bias_count, 1);
  EXPECT_EQ(voice.config.scale[0], 1.0f);
}

TEST_F(EngineSound, BuiltInTablesHoldOneCycleAtTwoLoads) {
  const SoundTable *four = sound_table_get("default_four_stroke");
  const SoundTable *two = sound_table_get("default_two_stroke");
  ASSERT_TRUE(four && two);
  ASSERT_EQ(four->rows, 1);
  ASSERT_EQ(four->columns, 2);
  const SoundCell &loud = four->cells[1], &quiet = four->cells[0];
  EXPECT_EQ(loud.sample_count, 1024);
  EXPECT_EQ(loud.cycles, 1);
  EXPECT_EQ(loud.load, 1.0f);
  EXPECT_EQ(quiet.load, 0.0f);
  // x = 0: (|sin 0.5246| - 0.5) * 0.5 + sin 0 = -0.0499...
  EXPECT_NEAR(loud.samples[0], (std::fabs(std::sin(0.5246)) - 0.5) * 0.5, 1e-5);
  // x = 100/1023 lies in the burst.
  double x = 100.0 / 1023.0;
  double w = (std::fabs(std::sin(3 * M_PI * x + 0.5246)) - 0.5) * 0.5 + std::sin(16 * M_PI * x) * (1 - 4 * x);
  EXPECT_NEAR(loud.samples[100], w, 1e-4);
  EXPECT_NEAR(quiet.samples[100], w * 0.25, 1e-4);
  // The two-stroke wave is silent after the first quarter.
  EXPECT_EQ(two->cells[1].samples[600], 0.0f);
  EXPECT_NEAR(two->cells[1].samples[20], std::sin(8 * M_PI * 20 / 1023.0) * (1 - 4 * 20 / 1023.0), 1e-4);
}

TEST_F(EngineSound, PipeTapsSpreadOverThePipeLength) {
  std::string braap = dir + "/pipe.braap";
  write_text_file(braap, "pipe 4   # only the length\n");
  VoiceTemplate t = *engine_voice_template("250");
  ASSERT_EQ(engine_voice_read_braap(&t, braap.c_str()), 1);
  // 2 * 4 * 44100 / 1140.63 = 309.3; the last tap's pipe is 4 - 0.9182072.
  EXPECT_EQ(t.tap_delays[0], 32768 - 309);
  EXPECT_EQ(t.tap_delays[15], 32768 - 238);
  for (int i = 0; i < pipe_taps; i++) EXPECT_FLOAT_EQ(t.tap_gains[i], -0.85f / 16);
  for (int i = 1; i < pipe_taps; i++) EXPECT_GE(t.tap_delays[i], t.tap_delays[i - 1]);

  // One tap: the whole gain on it, the others untouched.
  pipe_setup(&t, 2.0f, 0.5f, 0.5f, 3, 3);
  EXPECT_EQ(t.tap_delays[3], 32768 - 154);
  EXPECT_EQ(t.tap_gains[3], 0.5f);
  EXPECT_FLOAT_EQ(t.tap_gains[4], -0.85f / 16);
  // Out-of-range taps are clamped, and a pipe longer than the history is capped.
  pipe_setup(&t, 1000.0f, 1.0f, 0.1f, 20, 40);
  EXPECT_EQ(t.tap_delays[15], 1);
  EXPECT_EQ(t.tap_gains[15], 0.1f);

  // The console command: defaults by class, then "Pipe updated".
  engine_voice_create(&voice, "250f", nullptr);
  pipe_command(&voice, "250f", "3");
  EXPECT_EQ(voice.config.tap_delays[0], 32768 - static_cast<int>(2 * 3 * 44100 / 1140.63));
  EXPECT_FLOAT_EQ(voice.config.tap_gains[0], -0.85f / 16);
  EXPECT_STREQ(message_line(0), "Pipe updated");
  pipe_command(&voice, "125", "");
  EXPECT_FLOAT_EQ(voice.config.tap_gains[0], -0.75f / 16);
}

TEST_F(EngineSound, PipeFeedsTheOutputBackAfterItsDelay) {
  // One cycle is a recording of 8820 samples with a single pulse at the
  // start; at 300 rpm (5 cycles per second) it plays one sample a sample,
  // and the echoes of one pulse die away before the next.
  std::string bytes(2 * 8820, '\0');
  bytes[1] = 0x40;  // 16384: 0.5
  write_text_file(dir + "/pulse.raw", bytes);
  write_text_file(dir + "/pulse.table", "SOUNDTABLE 1 1 0 0 -1 1 " + dir + "/pulse.raw\n");
  write_text_file(dir + "/pulse.braap", "soundtable " + dir + "/pulse.table\nminrpm 100\n");
  engine_voice_create(&voice, "125", (dir + "/pulse.png").c_str());
  // Two taps: 100 samples back with gain 0.5, 250 back with gain -0.25.
  voice.config.tap_delays[0] = 32768 - 100;
  voice.config.tap_gains[0] = 0.5f;
  voice.config.tap_delays[7] = 32768 - 250;
  voice.config.tap_gains[7] = -0.25f;
  voice.previous_speed = 300.0f;
  engine_voice_synthesize(&voice, 300.0f, 1.0f, 30000);
  // The newest pulse with its echoes behind it.
  uint32_t w = voice.write_position;
  uint32_t pulse = 0;
  for (uint32_t i = 1000; i < 10000 && !pulse; i++)
    if (voice.history[(w - i) & voice_history_mask] > 0.45f) pulse = (w - i) & voice_history_mask;
  ASSERT_NE(pulse, 0u);
  ASSERT_GT((w - pulse) & voice_history_mask, 400u);
  auto h = [&](int offset) { return voice.history[(pulse + static_cast<uint32_t>(offset)) & voice_history_mask]; };
  EXPECT_NEAR(h(0), 0.5f, 1e-4f);
  EXPECT_NEAR(h(100), 0.25f, 1e-4f);
  EXPECT_NEAR(h(200), 0.125f, 1e-4f);
  EXPECT_NEAR(h(250), -0.125f, 1e-4f);
  EXPECT_NEAR(h(300), 0.0625f, 1e-4f);
  EXPECT_NEAR(h(350), -0.125f, 1e-4f);  // by 100 then 250, and by 250 then 100
  EXPECT_NEAR(h(-1), 0.0f, 1e-4f);
  EXPECT_NEAR(h(50), 0.0f, 1e-4f);
  EXPECT_NEAR(h(150), 0.0f, 1e-4f);
}

TEST_F(EngineSound, BraapFileSetsTheVoice) {
  write_recording(dir + "/rec.raw", 300, 3);
  write_text_file(dir + "/one.table", "SOUNDTABLE 1 1\n0\n0\n-1 3 " + dir + "/rec.raw\n");
  std::string braap = dir + "/only.braap";
  write_text_file(braap, "  soundtable   " + dir + "/one.table  \n");
  VoiceTemplate t = *engine_voice_template("250f");
  ASSERT_EQ(engine_voice_read_braap(&t, braap.c_str()), 1);
  ASSERT_NE(t.table, nullptr);
  EXPECT_EQ(t.table->name, intern_string((dir + "/one.table").c_str()));
  for (int i = 0; i < pipe_taps; i++) EXPECT_EQ(t.tap_gains[i], 0.0f);
  // A second voice naming the table reuses it.
  EXPECT_EQ(sound_table_get((dir + "/one.table").c_str()), t.table);

  write_text_file(braap,
                  "minrpm 1500\nlowtorque -1\nhightorque 7 # comment\n"
                  "bias 0 200 nonsense 5\nscale\nsoundtablex nothing\nrandom line\n");
  t = *engine_voice_template("250f");
  ASSERT_EQ(engine_voice_read_braap(&t, braap.c_str()), 1);
  EXPECT_EQ(t.minimum_speed, 1500.0f);
  EXPECT_EQ(t.low_torque, -1.0f);
  EXPECT_EQ(t.high_torque, 7.0f);
  EXPECT_EQ(t.bias_count, 2);
  EXPECT_EQ(t.bias[1], 200.0f);
  EXPECT_EQ(t.scale_count, 0);
  EXPECT_STREQ(t.table->name, "default_four_stroke");
}

TEST_F(EngineSound, BraapFileIsFoundFromTheSkinName) {
  write_text_file(dir + "/cr250.braap", "minrpm 1100\n");
  write_text_file(dir + "/cr250-red.braap", "minrpm 1200\nscale\n");
  engine_voice_create(&voice, "250", (dir + "/cr250-red-2.png").c_str());
  EXPECT_EQ(voice.config.minimum_speed, 1200.0f);
  // An empty scale list falls back to [1].
  EXPECT_EQ(voice.config.scale_count, 1);
  EXPECT_EQ(voice.config.scale[0], 1.0f);
  engine_voice_create(&voice, "250", (dir + "/cr250-blue.png").c_str());
  EXPECT_EQ(voice.config.minimum_speed, 1100.0f);
  // A dash in a directory name is not part of the skin's name.
  engine_voice_create(&voice, "250", (dir + "/x-y/kx.png").c_str());
  EXPECT_EQ(voice.config.minimum_speed, 1000.0f);
  EXPECT_EQ(voice.config.high_torque, 3.5f);
}

TEST_F(EngineSound, SingleCellPlaysAtEverySpeedAndLoad) {
  write_recording(dir + "/rec.raw", 300, 3);
  write_text_file(dir + "/one.table", "SOUNDTABLE 1 1 0 0 -1 3 " + dir + "/rec.raw");
  write_text_file(dir + "/one.braap", "soundtable " + dir + "/one.table\n");
  engine_voice_create(&voice, "250", (dir + "/one.png").c_str());
  ASSERT_EQ(voice.config.table->rows, 1);
  for (float rpm : {500.0f, 6000.0f, 20000.0f}) {
    for (float load : {0.0f, 0.5f, 1.0f}) {
      cycle_speeds(&voice, rpm, load, 1);
      float total = 0;
      for (const VoiceStream &s : voice.streams) {
        EXPECT_EQ(s.cell, &voice.config.table->cells[0]);
        total += s.weight;
      }
      EXPECT_FLOAT_EQ(total, 1.0f);
    }
  }
}

TEST_F(EngineSound, RowsAndColumnsBlendBilinearly) {
  write_recording(dir + "/rec.raw", 200, 1);
  std::string cell = " -1 1 " + dir + "/rec.raw\n";
  write_text_file(dir + "/grid.table", "SOUNDTABLE 2 2\n2000 6000\n0.25 0.75\n" + cell + cell + cell + cell);
  write_text_file(dir + "/grid.braap", "soundtable " + dir + "/grid.table\nlowtorque 0\nhightorque 1\n");
  engine_voice_create(&voice, "125", (dir + "/grid.png").c_str());
  const SoundCell *cells = voice.config.table->cells;
  // 3000 rpm is a quarter of the way between rows; load 0.5 half-way.
  cycle_speeds(&voice, 3000.0f, 0.5f, 1);
  EXPECT_EQ(voice.streams[0].cell, &cells[0]);
  EXPECT_EQ(voice.streams[1].cell, &cells[2]);
  EXPECT_EQ(voice.streams[2].cell, &cells[1]);
  EXPECT_EQ(voice.streams[3].cell, &cells[3]);
  EXPECT_NEAR(voice.streams[0].weight, 0.75 * 0.5, 1e-5);
  EXPECT_NEAR(voice.streams[1].weight, 0.25 * 0.5, 1e-5);
  EXPECT_NEAR(voice.streams[3].weight, 0.25 * 0.5, 1e-5);
  // Above the last breakpoint only the last row plays.
  cycle_speeds(&voice, 9000.0f, 0.5f, 1);
  EXPECT_EQ(voice.streams[1].cell, &cells[2]);
  EXPECT_EQ(voice.streams[3].cell, &cells[3]);
  EXPECT_NEAR(voice.streams[1].weight + voice.streams[3].weight, 1.0, 1e-5);
  // The stream is stretched to last one cycle: 200 samples in 44100 / f.
  double f = 9000.0 / 60.0;
  EXPECT_EQ(voice.streams[1].increment, static_cast<uint32_t>(f / 44100 * 200 * 1024));
}

TEST_F(EngineSound, BiasAlternatesCycleSpeeds) {
  write_text_file(dir + "/b.braap", "bias 0 200\nscale 1\nminrpm 400\n");
  engine_voice_create(&voice, "125", (dir + "/b.png").c_str());
  voice.previous_speed = 3000.0f;
  std::vector<float> speeds = cycle_speeds(&voice, 3000.0f, 1.0f, 6);
  ASSERT_EQ(speeds.size(), 6u);
  // The first cycle begins with counter 0: bias 0, then 200, 0, 200...
  for (size_t i = 0; i < speeds.size(); i++) EXPECT_NEAR(speeds[i], i % 2 ? 3200.0f : 3000.0f, 0.5f) << i;
  // The speed floor applies after the bias: 10 and 210 both become 400,
  // while 300 and 500 stay apart.
  speeds = cycle_speeds(&voice, 10.0f, 1.0f, 4);
  EXPECT_NEAR(speeds[2], 400.0f, 0.5f);
  EXPECT_NEAR(speeds[3], 400.0f, 0.5f);
  speeds = cycle_speeds(&voice, 300.0f, 1.0f, 4);
  EXPECT_NEAR(std::fabs(speeds[3] - speeds[2]), 100.0f, 0.5f);
}

TEST_F(EngineSound, RemapOrdersTheRecordedCycles) {
  write_recording(dir + "/rec.raw", 300, 3);
  write_text_file(dir + "/r.table", "SOUNDTABLE 1 1 0 0\n2 0 1 -1 3 " + dir + "/rec.raw\n");
  write_text_file(dir + "/r.braap", "soundtable " + dir + "/r.table\n");
  engine_voice_create(&voice, "125", (dir + "/r.png").c_str());
  const int expected[] = {2, 0, 1};
  for (int n = 0; n < 7; n++) {
    cycle_speeds(&voice, 4000.0f, 1.0f, 1);
    uint32_t m = voice.cycle_counter;
    EXPECT_EQ(voice.streams[0].position, expected[m % 3] * 100u * 1024u) << "cycle " << m;
  }
  // The last sample written closed the previous cycle, whose segment holds
  // the value (segment + 1) * 1000.
  float h = voice.history[(voice.write_position - 1) & voice_history_mask];
  uint32_t m = voice.cycle_counter - 1;
  EXPECT_NEAR(h, (expected[m % 3] + 1) * 1000 / 32768.0, 1e-4);
}

TEST_F(EngineSound, BadTablesAreReportedAndDiscarded) {
  write_recording(dir + "/rec.raw", 100, 1);
  write_text_file(dir + "/empty.raw", "");
  std::string rec = dir + "/rec.raw";
  struct Case {
    const char *file;
    std::string content;
    std::string first_message;
  } cases[] = {
      {"remap.table", "SOUNDTABLE 1 1 0 0 3 x -1 1 " + rec, "(0, 0) Bad remap entry"},
      {"missing.table", "SOUNDTABLE 1 2 0 0 1 -1 1 " + rec + " -1 1 " + dir + "/none.raw",
       "(0, 1) Error reading '" + dir + "/none.raw'"},
      {"empty.table", "SOUNDTABLE 1 1 0 0 -1 1 " + dir + "/empty.raw",
       "(0, 0) Error reading '" + dir + "/empty.raw'"},
      {"zero.table", "SOUNDTABLE 0 1 0 -1 1 " + rec, ""},
      {"header.table", "SOUNDTABEL 1 1 0 0 -1 1 " + rec, ""},
      {"cycles.table", "SOUNDTABLE 1 1 0 0 -1 0 " + rec, "(0, 0) Error reading '" + rec + "'"},
  };
  for (const Case &c : cases) {
    message_clear();
    std::string table = dir + "/" + c.file;
    write_text_file(table, c.content);
    write_text_file(dir + "/t.braap", "soundtable " + table + "\n");
    engine_voice_create(&voice, "250f", (dir + "/t.png").c_str());
    // The voice keeps the table it had.
    EXPECT_STREQ(voice.config.table->name, "default_four_stroke") << c.file;
    EXPECT_EQ(message_line(0), "Error reading '" + table + "'") << c.file;
    if (!c.first_message.empty()) {
      EXPECT_EQ(message_line(1), c.first_message) << c.file;
    }
  }
  // An unopenable table file.
  message_clear();
  EXPECT_EQ(sound_table_get((dir + "/absent.table").c_str()), nullptr);
  EXPECT_EQ(std::string(message_line(0)), "Error reading '" + dir + "/absent.table'");
}

TEST_F(EngineSound, WriterKeepsAheadOfThePlayer) {
  // A position that has not moved since the last frame gives nothing.
  EXPECT_EQ(engine_voice_samples_due(11025 - 4410, 11025), 0);
  EXPECT_EQ(engine_voice_samples_due(100, 100 + 4410), 0);
  EXPECT_EQ(engine_voice_samples_due(20000, 4410), 8820);
  EXPECT_EQ(engine_voice_samples_due(735, 4410), 735);
  EXPECT_EQ(engine_voice_samples_due(32000, 32000 + 4410 - 32768), 0);
  EXPECT_EQ(engine_voice_samples_due(100, 32000), 100 + 768 + 4410);
}

TEST_F(EngineSound, UpdateWritesAheadAndSpatialises) {
  ASSERT_EQ(audio_open_readback(44100, 735, 2), 1);
  engine_voice_create(&voice, "250f", nullptr);
  ASSERT_NE(voice.sound, nullptr);
  SoundListener ear = {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}};
  engine_sound_set_listener(&ear);
  // The bike 10 ft to the listener's right, coming closer at 100 ft/s.
  EngineSoundInput bike = {6000.0f, 2.5f, {10, 0, 0}, {-100, 0, 0}};
  int made = engine_voice_update(&bike, &voice, 1.0f);
  EXPECT_EQ(made, 8820);
  // The bytes written land where the history was written.
  int length;
  const uint8_t *data = hovl_sound_data(voice.sound, &length);
  ASSERT_EQ(length, 32768);
  uint32_t last = (voice.write_position - 1) & voice_history_mask;
  EXPECT_EQ(data[last], std::lround(std::clamp(voice.history[last] * 127 + 127, 0.0f, 255.0f)));
  EXPECT_EQ(data[0], 128);  // not yet written
  int rate, volume, pan;
  hovl_sound_settings(voice.sound, &rate, &volume, &pan);
  EXPECT_NEAR(rate, 44100 / (1 - 100 / 1140.63), 2);
  EXPECT_NEAR(volume, 32767 / ((10 - 1) / 48.0 + 1), 2);
  EXPECT_EQ(pan, 32767);

  // One block later the writer refills what the player used, and no more.
  audio_read_back();
  bike.position[0] = -10.0f;
  bike.velocity[0] = -100.0f;  // going away now, on the left
  made = engine_voice_update(&bike, &voice, 0.5f);
  EXPECT_GT(made, 0);
  EXPECT_LE(made, 8820);
  hovl_sound_settings(voice.sound, &rate, &volume, &pan);
  EXPECT_LT(rate, 44100);
  EXPECT_NEAR(volume, 0.5 * 32767 / ((10 - 1) / 48.0 + 1), 2);
  EXPECT_EQ(pan, -32767);
  // A listener on the bike: no shift, full gain, centred.
  bike.position[0] = 0.0f;
  engine_voice_update(&bike, &voice, 2.0f);
  hovl_sound_settings(voice.sound, &rate, &volume, &pan);
  EXPECT_EQ(rate, 44100);
  EXPECT_EQ(volume, 32767);
  EXPECT_EQ(pan, 0);
  // Nonsense from the physics does not reach the mixer.
  bike = {NAN, INFINITY, {NAN, 0, 0}, {0, 0, 0}};
  engine_voice_update(&bike, &voice, 1.0f);
  hovl_sound_settings(voice.sound, &rate, &volume, &pan);
  EXPECT_GE(rate, 100);
  EXPECT_GE(volume, 0);
  engine_voice_free(&voice);
  audio_close();
}

TEST_F(EngineSound, VolumeRulesOfTheMainLoop) {
  EXPECT_EQ(engine_sound_master_factor(1, 0, 0, 0), 0.0f);
  EXPECT_EQ(engine_sound_master_factor(0, 1, 0, 0), 0.0f);
  EXPECT_EQ(engine_sound_master_factor(0, 0, 0, 1), 1.0f);
  EXPECT_EQ(engine_sound_master_factor(0, 0, 1, 0), 0.25f);
  EXPECT_EQ(engine_sound_master_factor(0, 0, 1, 1), 0.0f);
  EXPECT_FLOAT_EQ(engine_voice_gain(1.0f, 10.0f, 8.0f, 1, 0), 1.0f);
  EXPECT_FLOAT_EQ(engine_voice_gain(1.0f, 10.0f, 8.0f, 0, 0), 0.8f);
  EXPECT_FLOAT_EQ(engine_voice_gain(0.25f, 6.0f, 5.0f, 0, 0), 0.075f);
  EXPECT_EQ(engine_voice_gain(1.0f, 10.0f, 8.0f, 0, 1), 0.0f);
}

namespace {

// The fundamental period in samples of x[start, start + window) by the YIN
// method: the first lag whose cumulative-mean-normalised difference dips
// under the threshold, refined to its minimum and interpolated. Irregular
// engines need a higher threshold than strictly periodic ones.
double yin_period(const std::vector<float> &x, int start, int window, int max_lag, double threshold,
                  double *dip = nullptr) {
  std::vector<double> d(static_cast<size_t>(max_lag) + 2, 0.0);
  for (int lag = 1; lag <= max_lag + 1; lag++) {
    double sum = 0;
    for (int j = 0; j < window; j++) {
      double diff = x[start + j] - x[start + j + lag];
      sum += diff * diff;
    }
    d[lag] = sum;
  }
  std::vector<double> norm(d.size(), 1.0);
  double running = 0;
  for (int lag = 1; lag <= max_lag + 1; lag++) {
    running += d[lag];
    norm[lag] = running > 0 ? d[lag] * lag / running : 1.0;
  }
  int best = -1;
  for (int lag = 2; lag <= max_lag; lag++) {
    if (norm[lag] < threshold) {
      while (lag + 1 <= max_lag && norm[lag + 1] < norm[lag]) lag++;
      best = lag;
      break;
    }
  }
  if (best < 0) return -1;
  if (dip) *dip = norm[best];
  double a = norm[best - 1], b = norm[best], c = norm[best + 1];
  double denom = a - 2 * b + c;
  return best + (denom != 0 ? 0.5 * (a - c) / denom : 0.0);
}

struct PitchCheck {
  float rpm_expected;
  double hz_expected;
  double hz_measured;
  double irregularity;  // how much one cycle differs from the next (0 = a tone)
};

// Renders the sweep and measures the pitch at several engine speeds. The
// sound heard at time t was made 0.1 s earlier (the writer's lead), and a
// cycle takes its speed when it begins, half a period before its middle.
std::vector<PitchCheck> measure_sweep(const EngineSweep &sweep, double firing_per_rev, const float *rpms,
                                      int count, const std::string &wav_path, double threshold = 0.2,
                                      std::vector<float> *mono_out = nullptr) {
  int frames = 0;
  int16_t *out = engine_sweep_render(&sweep, &frames);
  EXPECT_NE(out, nullptr);
  if (!out) return {};
  EXPECT_EQ(wav_write(wav_path.c_str(), out, frames, 2, record_audio_rate), 1);
  // Down-mix and decimate by 4 (22080 Hz) to keep the search cheap.
  const int decimate = 4;
  const double rate = static_cast<double>(record_audio_rate) / decimate;
  std::vector<float> mono(static_cast<size_t>(frames / decimate));
  for (size_t i = 0; i < mono.size(); i++) {
    double sum = 0;
    for (int k = 0; k < decimate; k++) sum += out[(i * decimate + k) * 2] + out[(i * decimate + k) * 2 + 1];
    mono[i] = static_cast<float>(sum / (2 * decimate));
  }
  tracked_free(out);
  const double lead = static_cast<double>(voice_write_lead) / engine_sound_rate;
  const int max_lag = static_cast<int>(rate / 12.0);
  std::vector<PitchCheck> checks;
  for (int i = 0; i < count; i++) {
    double hz = rpms[i] * firing_per_rev / 60.0;
    double t = (rpms[i] - sweep.from_rpm) / (sweep.to_rpm - sweep.from_rpm) * sweep.seconds + lead + 0.5 / hz;
    int center = static_cast<int>(t * rate);
    int window = max_lag;
    // The difference function looks at [start, start + window + period).
    int start = center - (window + static_cast<int>(rate / hz)) / 2;
    if (start < 0 || start + window + max_lag + 2 >= static_cast<int>(mono.size())) {
      ADD_FAILURE() << "check point outside the rendering";
      continue;
    }
    double irregularity = 0;
    double period = yin_period(mono, start, window, max_lag, threshold, &irregularity);
    checks.push_back({rpms[i], hz, period > 0 ? rate / period : 0, irregularity});
  }
  if (mono_out) *mono_out = std::move(mono);
  return checks;
}

}  // namespace

TEST_F(EngineSound, FourStrokePitchFollowsEngineSpeed) {
  EngineSweep sweep = {"250f", nullptr, 1800.0f, 11500.0f, 6.0f, 2.5f};
  const float rpms[] = {3000, 4500, 6000, 7500, 9000, 10500};
  std::string wav = dir + "/sweep250f.wav";
  std::vector<PitchCheck> checks = measure_sweep(sweep, 0.5, rpms, 6, wav);
  ASSERT_EQ(checks.size(), 6u);
  for (const PitchCheck &c : checks) {
    printf("%s %5.0f rpm: firing %6.2f Hz, measured %6.2f Hz\n", sweep.bike_class, c.rpm_expected,
           c.hz_expected, c.hz_measured);
    EXPECT_NEAR(c.hz_measured, c.hz_expected, c.hz_expected * 0.02)
        << c.rpm_expected << " rpm: firing " << c.hz_expected << " Hz, measured " << c.hz_measured;
  }
  std::string header = read_text_file(wav).substr(0, 12);
  EXPECT_EQ(header.substr(0, 4), "RIFF");
  EXPECT_EQ(header.substr(8, 4), "WAVE");
}

TEST_F(EngineSound, TwoStrokePitchFollowsEngineSpeed) {
  EngineSweep sweep = {"125", nullptr, 1800.0f, 12500.0f, 6.0f, 3.5f};
  const float rpms[] = {2500, 4000, 6000, 8000, 10000, 12000};
  std::vector<PitchCheck> checks = measure_sweep(sweep, 1.0, rpms, 6, dir + "/sweep125.wav");
  ASSERT_EQ(checks.size(), 6u);
  for (const PitchCheck &c : checks) {
    printf("%s %5.0f rpm: firing %6.2f Hz, measured %6.2f Hz\n", sweep.bike_class, c.rpm_expected,
           c.hz_expected, c.hz_measured);
    EXPECT_NEAR(c.hz_measured, c.hz_expected, c.hz_expected * 0.02)
        << c.rpm_expected << " rpm: firing " << c.hz_expected << " Hz, measured " << c.hz_measured;
  }
}

namespace {

// Mean power of the component of x[start, start + n) at `hz` (Goertzel):
// A^2 / 2 for a sinusoid of amplitude A.
double power_at(const std::vector<float> &x, int start, int n, double hz, double rate) {
  double w = 2 * M_PI * hz / rate, c = 2 * std::cos(w), s1 = 0, s2 = 0;
  for (int i = 0; i < n; i++) {
    double s0 = x[start + i] + c * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return 2 * (s1 * s1 + s2 * s2 - c * s1 * s2) / (static_cast<double>(n) * n);
}

}  // namespace

TEST_F(EngineSound, SyntheticEnginesSoundLikeEnginesNotTones) {
  ASSERT_EQ(write_synthetic_engine_sounds(dir.c_str(), (dir + "/").c_str()), synthetic_engine_classes);
  // Every class's file set loads: its own table, its pipe, uneven firing.
  for (const char *bike_class : {"50", "125", "250", "250f", "450f"}) {
    std::string braap = dir + "/default" + bike_class + ".braap";
    VoiceTemplate t = *engine_voice_template(bike_class);
    ASSERT_EQ(engine_voice_read_braap(&t, braap.c_str()), 1) << bike_class;
    EXPECT_EQ(std::string(t.table->name), dir + "/sounds/" + bike_class + ".table");
    EXPECT_EQ(t.table->rows, 8);
    EXPECT_EQ(t.table->columns, 2);
    EXPECT_LT(t.tap_gains[0], 0.0f);
    EXPECT_GT(t.bias_count, 4);
  }
  EXPECT_EQ(message_visible_count(), 0);

  EngineSweep sweep = {"250f", nullptr, 1800.0f, 11500.0f, 6.0f, 2.5f};
  std::string skin = dir + "/default250f.png";
  sweep.skin_name = skin.c_str();
  const float rpms[] = {3000, 6000, 9000};
  std::vector<float> mono;
  std::vector<PitchCheck> checks = measure_sweep(sweep, 0.5, rpms, 3, dir + "/synthetic.wav", 0.35, &mono);
  ASSERT_EQ(checks.size(), 3u);
  const double rate = record_audio_rate / 4.0;
  for (const PitchCheck &c : checks) {
    printf("synthetic 250f %5.0f rpm: firing %6.2f Hz, measured %6.2f Hz\n", c.rpm_expected, c.hz_expected,
           c.hz_measured);
    EXPECT_NEAR(c.hz_measured, c.hz_expected, c.hz_expected * 0.04) << c.rpm_expected << " rpm";
    // Not a tone: the firing frequency and its first harmonics leave room for
    // others, and the roar and clatter well above them are heard (-23 dB).
    double t = (c.rpm_expected - sweep.from_rpm) / (sweep.to_rpm - sweep.from_rpm) * sweep.seconds + 0.1;
    int n = 2048, start = static_cast<int>(t * rate) - n / 2;
    double total = 0;
    for (int i = 0; i < n; i++) total += static_cast<double>(mono[start + i]) * mono[start + i];
    total /= n;
    double low = 0, high = 0;
    for (int h = 1; h <= 3; h++) low += power_at(mono, start, n, c.hz_expected * h, rate);
    // The 1..4 kHz band from a sample of its bins (each rate / n wide).
    int bins = 0;
    for (double hz = 1000; hz < 4000; hz += 125, bins++) high += power_at(mono, start, n, hz, rate);
    high = high / bins * (3000.0 / (rate / n));
    printf("  firing and two harmonics %.0f%%, 1..4 kHz %.1f%% of the power, irregularity %.2f\n", 100 * low / total,
           100 * high / total, c.irregularity);
    // (A sine has all its power in the first, a sawtooth 83% in the first three.)
    EXPECT_LT(low / total, 0.75) << c.rpm_expected << " rpm";
    EXPECT_GT(high / total, 0.005) << c.rpm_expected << " rpm";
    // And no two cycles alike, as in a running engine.
    EXPECT_GT(c.irregularity, 0.05) << c.rpm_expected << " rpm";
  }
}
