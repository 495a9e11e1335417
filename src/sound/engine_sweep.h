// Offline rendering of one engine voice through the readback mixer: the
// engine speed ramps linearly while the game's frame and tic rhythm is kept
// (one voice update per frame of two tics, one 690-sample block per tic at
// 88320 Hz). Used by the sound_sweep tool, the tests and the benchmark.
#pragma once
#include <cstdint>

struct EngineSweep {
  const char *bike_class;  // "250f", "125", ...
  const char *skin_name;   // finds the ".braap" file; may be null
  float from_rpm, to_rpm;  // ramped linearly over `seconds`
  float seconds;
  float torque;            // engine torque during the sweep, lbf ft
};

constexpr int sweep_tics_per_frame = 2;

// The engine speed the sweep asks for at `time` seconds.
float engine_sweep_rpm(const EngineSweep *sweep, double time);
// Opens the readback driver (audio must be closed), renders, closes it.
// Returns interleaved 16-bit stereo at record_audio_rate (tracked_free it)
// and its frame count, or null when the driver did not open.
int16_t *engine_sweep_render(const EngineSweep *sweep, int *frames);
// A 16-bit PCM WAV file, written under a temporary name and renamed.
int wav_write(const char *path, const int16_t *samples, int frames, int channels, int rate);
