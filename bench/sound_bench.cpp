// Engine sound synthesis and mixing for 40 riders.
#include <benchmark/benchmark.h>

#include "platform/audio.h"
#include "sound/engine_sound.h"

namespace {

constexpr int bench_voices = 40;
constexpr int frame_samples = 735;  // one 60 Hz frame at 44100 Hz

struct Riders {
  EngineVoice voices[bench_voices] = {};
  EngineSoundInput inputs[bench_voices] = {};

  Riders() {
    SoundListener ear = {{0, 2, 0}, {0, 0, 0}, {1, 0, 0}};
    engine_sound_set_listener(&ear);
    const char *classes[] = {"250f", "450f", "125", "250", "50"};
    for (int i = 0; i < bench_voices; i++) {
      engine_voice_create(&voices[i], classes[i % 5], nullptr);
      inputs[i] = {3000.0f + 200.0f * i, 1.0f, {i * 3.0f, 0, -20.0f}, {0, 0, -40.0f}};
    }
  }
  ~Riders() {
    for (EngineVoice &v : voices) engine_voice_free(&v);
  }
};

// The synthesis loop alone: 40 voices, one frame of samples each.
void BM_Synthesis40Voices(benchmark::State &state) {
  Riders riders;
  const int samples = static_cast<int>(state.range(0));
  int frame = 0;
  for (auto _ : state) {
    for (int i = 0; i < bench_voices; i++) {
      float rpm = 3000.0f + 200.0f * i + 50.0f * (frame % 40);
      engine_voice_synthesize(&riders.voices[i], rpm, 0.7f, samples);
    }
    frame++;
  }
  state.SetItemsProcessed(state.iterations() * bench_voices * samples);
  state.counters["voice_samples_per_s"] =
      benchmark::Counter(static_cast<double>(bench_voices) * samples, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Synthesis40Voices)->Arg(frame_samples)->Arg(max_samples_per_update)->Unit(benchmark::kMicrosecond);

// A whole sound frame: the mixer plays one 60 Hz block of 40 voices (16 of
// them audible), then every voice refills, writes and spatialises.
void BM_SoundFrame40Voices(benchmark::State &state) {
  audio_open_readback(44100, frame_samples, 2);
  {
    Riders riders;
    for (auto _ : state) {
      audio_read_back();
      for (int i = 0; i < bench_voices; i++) engine_voice_update(&riders.inputs[i], &riders.voices[i], 0.8f);
    }
  }
  audio_close();
}
BENCHMARK(BM_SoundFrame40Voices)->Unit(benchmark::kMicrosecond);

// The mixer alone: one 1/64 s fragment at 22050 Hz stereo with 40 voices.
void BM_MixFragment40Voices(benchmark::State &state) {
  audio_open_readback(22050, 22050 / fragments_per_second, 2);
  Sound *sounds[bench_voices];
  for (int i = 0; i < bench_voices; i++) {
    sounds[i] = hovl_sound_create(voice_sound_length, nullptr, 0);
    hovl_sound_set_loop(sounds[i], 1);
    hovl_sound_set_rate(sounds[i], 44100 + 37 * i);
    hovl_sound_set_volume(sounds[i], 800 * i);
    hovl_sound_set_pan(sounds[i], -32768 + 1600 * i);
    hovl_sound_play(sounds[i]);
  }
  for (auto _ : state) benchmark::DoNotOptimize(audio_read_back());
  for (Sound *s : sounds) hovl_sound_free(s);
  audio_close();
}
BENCHMARK(BM_MixFragment40Voices)->Unit(benchmark::kMicrosecond);

}  // namespace
