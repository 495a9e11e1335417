// The riders' engines are heard: each bike built by the race gets a voice,
// the frame update makes it sound while the race runs, the master factor
// silences it, and freeing the bikes frees the voices (the mixer then
// closes cleanly).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "platform/audio.h"
#include "race/race_sound.h"
#include "robot_scene.h"

namespace {

constexpr int rate = 44100;
constexpr int block = rate / 64;  // one frame at 64 frames per second

// Root mean square of the next mixed block.
double next_block_level() {
  const int16_t *samples = audio_read_back();
  if (!samples) return -1;
  double sum = 0;
  for (int i = 0; i < block * 2; i++) sum += static_cast<double>(samples[i]) * samples[i];
  return std::sqrt(sum / (block * 2));
}

// Runs the race for `frames` frames of two tics each, updating the voices
// with `master`; the loudest block heard.
double run_frames(int frames, float master) {
  double loudest = 0;
  for (int f = 0; f < frames; f++) {
    race_step();
    race_step();
    race_sound_frame(master, 10, 8);
    loudest = std::fmax(loudest, next_block_level());
  }
  return loudest;
}

TEST(RaceSound, EnginesSoundWhileTheRaceRunsAndGoWithTheBikes) {
  ASSERT_EQ(audio_open_readback(rate, block), 1);
  {
    RobotScene scene("rabbithill");
    ASSERT_EQ(scene.reset(3, 1, 2), 1);
    const RaceState &race = race_state();
    while (race.tic < race.gate_drop_tic) race_step();
    // Silenced by the master factor (a menu over the race, say).
    EXPECT_LT(run_frames(16, 0), 1.0);
    // The launch: three engines at full throttle.
    double loud = run_frames(128, 1);
    EXPECT_GT(loud, 300.0);
    race_free_bikes();
    // No voices left: the next blocks fall silent once the old ones play out.
    for (int f = 0; f < 64; f++) next_block_level();
    EXPECT_LT(next_block_level(), 1.0);
  }
  audio_close();
}

}  // namespace
