// The software mixer through the readback driver, the SDL device on SDL's
// dummy driver (and with no driver at all), and the audio recording file.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/audio.h"
#include "platform/log.h"
#include "test_util.h"

namespace {

// The smallest volume that gives `level` on the left voice of a mono output.
int volume_for_level(int level) { return static_cast<int>(((int64_t{level} << 26) + 65534) / 65535); }

Sound *constant_sound(int length, uint8_t value, int loop) {
  std::vector<uint8_t> bytes(static_cast<size_t>(length), value);
  Sound *s = hovl_sound_create(length, bytes.data(), 0);
  hovl_sound_set_loop(s, loop);
  return s;
}

class Audio : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = make_temp_dir("audio");
    log_path = dir + "/log.txt";
    setenv("HOVL_LOGFILE", log_path.c_str(), 1);
    unsetenv("HOVL_OPTIONS");
    hovl_reset_for_tests();
  }
  void TearDown() override {
    for (Sound *s : sounds) hovl_sound_free(s);
    if (audio_is_open()) audio_close();
    unsetenv("HOVL_OPTIONS");
    unsetenv("SDL_AUDIODRIVER");
    hovl_reset_for_tests();
    unsetenv("HOVL_LOGFILE");
  }
  void options(const char *text) {
    setenv("HOVL_OPTIONS", text, 1);
    hovl_reset_for_tests();
  }
  Sound *keep(Sound *s) {
    sounds.push_back(s);
    return s;
  }
  std::string log_text() { return read_text_file(log_path); }

  std::string dir, log_path;
  std::vector<Sound *> sounds;
};

}  // namespace

TEST_F(Audio, ChannelBudgetGoesToTheLoudestVoices) {
  options("[sound-channels:2]");
  ASSERT_EQ(audio_open_readback(22050, 64, 1), 1);
  // Sample byte 168 is +40: 40 * 31 / 32 = 38, 40 * 20 / 32 = 25, 40 * 5 / 32 = 6.
  Sound *quiet = keep(constant_sound(1000, 168, 1));
  Sound *loud = keep(constant_sound(1000, 168, 1));
  Sound *middle = keep(constant_sound(1000, 168, 1));
  hovl_sound_set_volume(quiet, volume_for_level(5));
  hovl_sound_set_volume(loud, volume_for_level(31));
  hovl_sound_set_volume(middle, volume_for_level(20));
  for (Sound *s : {quiet, loud, middle}) hovl_sound_play(s);
  const int16_t *out = audio_read_back();
  for (int i = 0; i < 64; i++) ASSERT_EQ(out[i], (38 + 25) * 256) << i;
  // The silent voice keeps time with the others.
  EXPECT_EQ(hovl_sound_position(quiet), 64);
  EXPECT_EQ(hovl_sound_position(loud), 64);
  // When the loud one stops, the quiet one is heard (after the loud one's
  // fade, which a constant signal never reaches: it just ends).
  hovl_sound_stop(loud);
  audio_read_back();
  EXPECT_FALSE(hovl_sound_is_playing(loud));
  out = audio_read_back();
  EXPECT_EQ(out[10], (25 + 6) * 256);
  EXPECT_EQ(hovl_sound_position(quiet), 192);
}

TEST_F(Audio, LevelChangesWaitForAZeroCrossing) {
  ASSERT_EQ(audio_open_readback(22050, 64, 1), 1);
  // A square wave: ten samples at +40, ten at -40.
  std::vector<uint8_t> square(20);
  for (int i = 0; i < 20; i++) square[static_cast<size_t>(i)] = i < 10 ? 168 : 88;
  Sound *s = keep(hovl_sound_create(20, square.data(), 0));
  hovl_sound_set_loop(s, 1);
  hovl_sound_play(s);
  const int16_t *out = audio_read_back();
  EXPECT_EQ(out[0], 38 * 256);
  EXPECT_EQ(out[10], -38 * 256);
  // 64 samples in: position 4 of the wave, six samples left of the half-wave.
  hovl_sound_set_volume(s, 0);
  out = audio_read_back();
  for (int i = 0; i < 6; i++) EXPECT_EQ(out[i], 38 * 256) << i;
  for (int i = 6; i < 64; i++) EXPECT_EQ(out[i], 0) << i;
  EXPECT_EQ(hovl_sound_position(s), 128 % 20);
  // Back up to half volume: silent until the level is set, then level 15 at once
  // (no old level to finish).
  hovl_sound_set_volume(s, 16384);
  out = audio_read_back();
  EXPECT_EQ(out[0], (40 * 15 / 32) * 256);
  // A restart also finishes the current half-wave first.
  hovl_sound_set_volume(s, 32767);
  audio_read_back();  // position 0 again (256 % 20 = 16: four negative samples left)
  hovl_sound_play(s);
  out = audio_read_back();
  for (int i = 0; i < 4; i++) EXPECT_EQ(out[i], -38 * 256) << i;
  for (int i = 4; i < 14; i++) EXPECT_EQ(out[i], 38 * 256) << i;
  EXPECT_EQ(out[14], -38 * 256);
}

TEST_F(Audio, NonLoopingSoundEndsAndLeaves) {
  ASSERT_EQ(audio_open_readback(22050, 256, 1), 1);
  Sound *s = keep(constant_sound(100, 168, 0));
  hovl_sound_play(s);
  EXPECT_EQ(hovl_sound_position(s), 0);  // waiting for its restart
  const int16_t *out = audio_read_back();
  EXPECT_EQ(out[99], 38 * 256);
  EXPECT_EQ(out[100], 0);
  EXPECT_EQ(out[255], 0);
  EXPECT_FALSE(hovl_sound_is_playing(s));
  EXPECT_EQ(hovl_sound_position(s), 0);
  // Played again it starts over.
  hovl_sound_play(s);
  out = audio_read_back();
  EXPECT_EQ(out[0], 38 * 256);
  EXPECT_EQ(out[99], 38 * 256);
  EXPECT_EQ(out[100], 0);
  // Freeing a playing sound takes it out of the lists.
  Sound *other = constant_sound(1000, 168, 1);
  hovl_sound_play(other);
  audio_read_back();
  hovl_sound_free(other);
  out = audio_read_back();
  EXPECT_EQ(out[0], 0);
}

TEST_F(Audio, LongWritesKeepTheirPlaces) {
  ASSERT_EQ(audio_open_readback(22050, 64, 2), 1);
  Sound *s = keep(hovl_sound_create(32768, nullptr, 0));
  std::vector<uint8_t> data(40000);
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>((i * 7 + i / 256) & 0xff);
  ASSERT_EQ(hovl_sound_write(s, 40000, data.data(), 100), 1);
  int length = 0;
  const uint8_t *bytes = hovl_sound_data(s, &length);
  ASSERT_EQ(length, 32768);
  EXPECT_EQ(bytes[7332], data[7232]);
  EXPECT_EQ(bytes[7331], data[39999]);
  for (int j = 0; j < 32768; j++) ASSERT_EQ(bytes[(100 + 7232 + j) % 32768], data[static_cast<size_t>(7232 + j)]) << j;
  // A short write wraps at the end; positions outside the sound are reduced.
  uint8_t three[3] = {1, 2, 3};
  hovl_sound_write(s, 3, three, 32767);
  EXPECT_EQ(bytes[32767], 1);
  EXPECT_EQ(bytes[0], 2);
  EXPECT_EQ(bytes[1], 3);
  hovl_sound_write(s, 3, three, -2);
  EXPECT_EQ(bytes[32766], 1);
  EXPECT_EQ(bytes[0], 3);
}

TEST_F(Audio, PanSplitsStereoAndIsIgnoredInMono) {
  ASSERT_EQ(audio_open_readback(22050, 32, 1), 1);
  Sound *s = keep(constant_sound(1000, 168, 1));
  hovl_sound_set_pan(s, 32767);
  hovl_sound_play(s);
  const int16_t *out = audio_read_back();
  EXPECT_EQ(out[5], 38 * 256);  // full level on the one channel
  hovl_sound_free(s);
  sounds.clear();
  audio_close();

  ASSERT_EQ(audio_open_readback(22050, 32, 2), 1);
  s = keep(constant_sound(1000, 168, 1));
  hovl_sound_play(s);
  out = audio_read_back();
  // Centred: level 15 on both sides.
  EXPECT_EQ(out[10], 40 * 15 / 32 * 256);
  EXPECT_EQ(out[11], 40 * 15 / 32 * 256);
  // A constant signal never crosses zero: the old levels last one block.
  hovl_sound_set_pan(s, 32767);
  out = audio_read_back();
  EXPECT_EQ(out[10], 40 * 15 / 32 * 256);
  out = audio_read_back();
  EXPECT_EQ(out[10], 0);
  EXPECT_EQ(out[11], 38 * 256);
  hovl_sound_set_pan(s, -32768);
  audio_read_back();
  out = audio_read_back();
  EXPECT_EQ(out[10], 38 * 256);
  EXPECT_EQ(out[11], 0);
}

TEST_F(Audio, SoundsAreResampledToTheOutputRate) {
  ASSERT_EQ(audio_open_readback(22050, 64, 1), 1);
  // A ramp at half the output rate is stored twice as long.
  std::vector<uint8_t> ramp(50);
  for (int i = 0; i < 50; i++) ramp[static_cast<size_t>(i)] = static_cast<uint8_t>(128 + i);
  Sound *s = keep(hovl_sound_create(50, ramp.data(), 11025));
  int length = 0;
  const uint8_t *bytes = hovl_sound_data(s, &length);
  ASSERT_EQ(length, 100);
  for (int i = 0; i < 100; i++) EXPECT_EQ(bytes[i], 128 + i / 2) << i;
  // Played at twice the output rate it takes every other sample.
  hovl_sound_set_rate(s, 44100);
  hovl_sound_play(s);
  const int16_t *out = audio_read_back();
  for (int i = 0; i < 50; i++) EXPECT_EQ(out[i], (i * 31 / 32) * 256) << i;
  EXPECT_EQ(out[50], 0);  // ended after 50 output samples
  // A duplicate shares the samples and outlives the original.
  Sound *copy = hovl_sound_duplicate(s);
  uint8_t high = 200;
  hovl_sound_write(s, 1, &high, 3);
  hovl_sound_free(s);
  sounds.clear();
  EXPECT_EQ(hovl_sound_data(copy, &length)[3], 200);
  hovl_sound_free(copy);
  // Nothing to create from.
  EXPECT_EQ(hovl_sound_create(0, nullptr, 0), nullptr);
  EXPECT_EQ(hovl_sound_create(10000, nullptr, 1), nullptr);  // 22050 times longer: too long
}

TEST_F(Audio, RecordingWritesEveryTicBlock) {
  std::string path = dir + "/take.raw";
  ASSERT_EQ(audio_record_open(path.c_str()), 1);
  EXPECT_EQ(audio_output_rate(), 88320);
  // A sound at the output rate, panned left: left channel +38, right 0.
  Sound *s = keep(constant_sound(690 * 3, 168, 0));
  hovl_sound_set_pan(s, -32768);
  hovl_sound_play(s);
  for (int tic = 0; tic < 5; tic++) ASSERT_EQ(audio_record_tic(), 1);
  hovl_sound_free(s);
  sounds.clear();
  audio_record_close();
  EXPECT_FALSE(audio_is_open());
  EXPECT_FALSE(file_exists(path + ".tmp"));
  std::string raw = read_text_file(path);
  ASSERT_EQ(raw.size(), 5u * 690 * 2 * 2);
  auto sample = [&](size_t frame, int channel) {
    size_t at = (frame * 2 + static_cast<size_t>(channel)) * 2;
    return static_cast<int16_t>(static_cast<uint8_t>(raw[at]) | (static_cast<uint8_t>(raw[at + 1]) << 8));
  };
  EXPECT_EQ(sample(0, 0), 38 * 256);
  EXPECT_EQ(sample(0, 1), 0);
  EXPECT_EQ(sample(690 * 3 - 1, 0), 38 * 256);
  EXPECT_EQ(sample(690 * 3, 0), 0);
}

TEST_F(Audio, DummyDeviceMixesOnItsOwnThread) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  options("[sound-mixahead:1000][sound-rate:11025]");
  ASSERT_EQ(audio_open(), 1);
  EXPECT_EQ(audio_output_rate(), 11025);
  EXPECT_EQ(audio_open(), 0);  // already open
  Sound *s = keep(constant_sound(4000, 168, 1));
  hovl_sound_play(s);
  // The callback thread moves the position; give it up to two seconds.
  int position = 0;
  for (int i = 0; i < 200 && position == 0; i++) {
    SDL_Delay(10);
    position = hovl_sound_position(s);
  }
  EXPECT_GT(position, 0);
  hovl_sound_free(s);
  sounds.clear();
  audio_close();
  EXPECT_FALSE(audio_is_open());
  std::string log = log_text();
  EXPECT_NE(log.find("Audio driver: dummy"), std::string::npos);
  EXPECT_NE(log.find("game is silent"), std::string::npos);
  EXPECT_NE(log.find("Audio mixahead: 500"), std::string::npos);  // clamped to 32 fragments
  EXPECT_NE(log.find("Audio opened!"), std::string::npos);
  EXPECT_NE(log.find("Audio already open"), std::string::npos);
  EXPECT_NE(log.find("Audio thread begin"), std::string::npos);
  EXPECT_NE(log.find("Closing audio"), std::string::npos);
}

TEST_F(Audio, NoDeviceLeavesTheGameSilent) {
  setenv("SDL_AUDIODRIVER", "no_such_driver", 1);
  EXPECT_EQ(audio_open(), 0);
  EXPECT_FALSE(audio_is_open());
  EXPECT_EQ(hovl_sound_create(100, nullptr, 0), nullptr);
  EXPECT_EQ(hovl_sound_play(nullptr), 0);
  EXPECT_EQ(audio_read_back(), nullptr);
  audio_close();
  std::string log = log_text();
  EXPECT_NE(log.find("No audio device ("), std::string::npos);
  EXPECT_NE(log.find("Can't close audio, not open"), std::string::npos);
  unsetenv("SDL_AUDIODRIVER");
  options("[waveout:no]");
  EXPECT_EQ(audio_open(), 0);
  EXPECT_NE(log_text().find("switched off"), std::string::npos);
}

TEST_F(Audio, FatalPathClosesTheDevice) {
  EXPECT_EXIT(
      {
        audio_open_readback(22050, 64, 2);
        hovl_fatal_out_of_memory();
      },
      ::testing::ExitedWithCode(1), "Out of virtual memory");
  std::string log = log_text();
  EXPECT_LT(log.find("Audio opened!"), log.find("Closing audio"));
  EXPECT_NE(log.find("Closing audio"), std::string::npos);
}
