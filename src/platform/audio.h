// Audio output: a software mixer that plays any number of 8-bit sounds at
// once, each with its own playback rate, volume, pan and loop flag. Callers
// may rewrite a sound's samples while it plays (the engine voices stream
// this way).
//
// Two drivers share the mixer: the SDL device, mixed fragment by fragment in
// SDL's audio callback thread, and the readback driver, mixed on request into
// memory (used to record the game's sound). Only one driver is open at a
// time; while none is open the game makes no sound calls and runs silent.
#pragma once
#include <cstdint>

struct Sound;

// Mixer limits.
constexpr int mixer_levels = 32;           // voice levels 0..31, one list each
constexpr int fragments_per_second = 64;   // a fragment is rate / 64 samples
constexpr int fragment_ring = 64;          // fragments in the output ring
constexpr int max_mixahead = 32;           // fragments mixed ahead, at most
constexpr int max_sound_length = 1 << 26;  // bytes in one sound
static_assert(max_mixahead < fragment_ring, "the mixahead must fit in the ring");

// The sample rate and block of the recording mode: 690 samples per tic.
constexpr int record_audio_rate = 88320;
constexpr int record_audio_block = 690;

// Opens the SDL audio device (options: `waveout` on/off, `sound-rate`,
// `sound-channels`, `sound-mixahead`). Returns 1 when audio is open; on
// failure logs why and returns 0, and the game runs silent.
int audio_open();
// The readback driver: blocks of `block_length` samples at `rate`, 16-bit,
// stereo (channels 1 gives mono output; the tests use it).
int audio_open_readback(int rate, int block_length, int channels = 2);
// Closes whichever driver is open. Sounds must be freed first.
void audio_close();
int audio_is_open();
// The output rate and channel count of the open driver (0 when closed).
int audio_output_rate();
int audio_output_channels();

// Readback driver: mixes the next block and returns it (interleaved 16-bit
// samples, block_length frames), or null when that driver is not open.
const int16_t *audio_read_back();

// --- Sounds (any driver; every call is made under the mixer's mutex) -----

// `length` unsigned 8-bit samples (128 = silence; null gives silence) at
// `rate` samples per second, resampled to the output rate (0 = already at
// it). Starts stopped, not looping, volume 32767, pan 0. Null when closed.
Sound *hovl_sound_create(int length, const uint8_t *samples, int rate);
// A new sound sharing the samples (and the rate, volume, pan and loop flag).
Sound *hovl_sound_duplicate(Sound *sound);
void hovl_sound_free(Sound *sound);
// Starts from the first sample (restarts a playing sound at a zero crossing).
int hovl_sound_play(Sound *sound);
int hovl_sound_stop(Sound *sound);
int hovl_sound_set_rate(Sound *sound, int samples_per_second);
int hovl_sound_set_volume(Sound *sound, int volume);  // 0..32767
int hovl_sound_set_pan(Sound *sound, int pan);        // -32768 left .. 32767 right
int hovl_sound_set_loop(Sound *sound, int loop);
// Index of the next sample to play; 0 when not playing.
int hovl_sound_position(Sound *sound);
// Copies `count` samples in from `position` on, wrapping at the end; when
// count exceeds the length only the last `length` samples are copied, each
// to the place it would have had.
int hovl_sound_write(Sound *sound, int count, const uint8_t *samples, int position);
// The stored samples (for tools and tests); `length` receives their count.
const uint8_t *hovl_sound_data(Sound *sound, int *length);
int hovl_sound_is_playing(Sound *sound);
// The play rate, volume and pan last set (for tools and tests).
void hovl_sound_settings(Sound *sound, int *rate, int *volume, int *pan);

// --- Recording the mixed output (--record-audio) -------------------------

// Opens the readback driver at 88320 Hz with 690-sample blocks and the
// recording file (written under a temporary name, renamed at the end).
int audio_record_open(const char *path);
// Once per tic: mixes one block and appends it to the file as raw 16-bit
// little-endian stereo (2760 bytes).
int audio_record_tic();
// Closes the driver and puts the file in place.
void audio_record_close();
