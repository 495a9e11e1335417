// Engine sound synthesis. Every rider's engine has a voice that builds its
// sound engine cycle by engine cycle at 44100 samples per second: each cycle
// plays recorded single-cycle snippets from a sound table (engine speed by
// load), stretched to the cycle's length and blended bilinearly from the four
// nearest cells, through a 16-tap feedback delay that models the exhaust
// pipe. Once per frame a voice writes its new samples just ahead of the play
// position of a looping sound in the audio layer and sets that sound's rate
// (Doppler), volume (distance) and pan (direction to the listener).
//
// A voice is configured by a ".braap" text file naming a sound table file and
// setting the pipe, the speed floor, the load range and per-cycle
// irregularities; built-in templates and two generated tables
// ("default_four_stroke", "default_two_stroke") stand in when there is none.
#pragma once
#include <cstdint>

struct Sound;

constexpr int engine_sound_rate = 44100;    // synthesis rate, samples per second
constexpr int voice_sound_length = 32768;   // the looping sound and the history
constexpr int voice_history_mask = voice_sound_length - 1;
constexpr int voice_start_write = 11025;    // first history index written
constexpr int voice_write_lead = 4410;      // samples kept ahead of the player
constexpr int max_samples_per_update = 8820;
constexpr int pipe_taps = 16;
constexpr int voice_streams = 4;
constexpr int max_speed_offsets = 100;      // entries of the bias and scale lists
constexpr int max_table_rows = 256;
constexpr int max_table_columns = 256;
// Stream positions are 22.10 fixed point, so a recording holds fewer than
// 2^22 samples.
constexpr int max_recording_samples = (1 << 22) - 1;
constexpr float speed_of_sound = 1140.63f;  // feet per second
static_assert((voice_sound_length & voice_history_mask) == 0, "the history is a power of two");

struct SoundCell {
  const float *samples;  // scaled to -1..1; owned by the recording cache
  int sample_count;      // N
  int cycles;            // R: the recording is R equal segments of N / R samples
  int *remap;            // order of the recorded cycles, entries in 0..R-1; or null
  int remap_count;
  float speed;           // the row's engine-speed breakpoint, rpm
  float load;            // the column's load breakpoint, 0..1
};

// Loaded once per name and kept for the process.
struct SoundTable {
  const char *name;  // interned, as written in the ".braap" file
  int rows, columns;
  SoundCell *cells;  // row-major: cell (r, c) at r * columns + c
};

// The configuration part of a voice.
struct VoiceTemplate {
  const SoundTable *table;
  float cycles_per_revolution;  // 0.5 four-stroke, 1.0 two-stroke
  float low_torque, high_torque;  // engine torque at load 0 and load 1
  float minimum_speed;            // rpm floor
  // Delay of tap i stored as 32768 minus the delay in samples, so adding it
  // to a write position modulo 32768 points back in time.
  int tap_delays[pipe_taps];
  float tap_gains[pipe_taps];
  float bias[max_speed_offsets];   // additive rpm offsets, one per cycle in turn
  int bias_count;
  float scale[max_speed_offsets];  // rpm factors, one per cycle in turn
  int scale_count;
};

struct VoiceStream {
  const SoundCell *cell;
  float weight;
  uint32_t position;   // sample index * 1024
  uint32_t increment;  // per output sample, same format
};

// One per rider slot. Zero-initialise it before the first create.
struct EngineVoice {
  VoiceTemplate config;
  Sound *sound;      // the looping sound; null while audio is closed
  float *history;    // 32768 samples of the voice's own output
  uint32_t write_position;
  float cycle_frequency;  // engine cycles per second of the current cycle
  float previous_speed;   // rpm at the end of the last update
  uint32_t phase;         // 24-bit fixed-point position within the cycle
  uint32_t cycle_counter;
  VoiceStream streams[voice_streams];
};

// What a voice reads from its bike each frame; the race code fills it from
// the bike state (rpm = engine speed in rad/s * 60 / 2 pi).
struct EngineSoundInput {
  float rpm;
  float torque;       // the engine's current torque, lbf ft
  float position[3];  // main body position, feet
  float velocity[3];  // main body velocity, feet per second
};

// The view's ear, set once per frame before the voices update.
struct SoundListener {
  float position[3];
  float velocity[3];
  float right[3];  // unit axis pointing to the listener's right
};

// (Re)initialises a voice when its bike is built. `bike_class` is the
// catalogue's short class name ("125", "250f", ...); `skin_name` the bike's
// skin texture file name, from which the ".braap" file is found (may be null).
void engine_voice_create(EngineVoice *voice, const char *bike_class, const char *skin_name);
// Once per frame for a voice with a sound. `gain` comes from
// engine_voice_gain. Returns the number of samples synthesised.
int engine_voice_update(const EngineSoundInput *bike, EngineVoice *voice, float gain);
// Frees the sound and the history (when the rider goes).
void engine_voice_free(EngineVoice *voice);
void engine_sound_set_listener(const SoundListener *listener);

// The per-sample synthesis alone: `count` samples at engine speed `speed`
// (rpm, reached linearly from the previous speed) and `load` (0..1), written
// to the history from the write position on. Used by the update, the tests
// and the benchmark.
void engine_voice_synthesize(EngineVoice *voice, float speed, float load, int count);
// Samples to make for play position `play` and write position `write`:
// keeps the writer 4410 samples ahead, at most 8820 per frame.
int engine_voice_samples_due(int play, int write);

// Pipe taps from a length and spread (feet), a feedback gain and the first
// and last tap used.
void pipe_setup(VoiceTemplate *config, float length, float spread, float gain, int first, int last);
// The console's "pipe" command: up to three floats and two integers; missing
// values take the pipe of the bike's class. Prints "Pipe updated".
void pipe_command(EngineVoice *voice, const char *bike_class, const char *arguments);

// The built-in template for a class ("50", "...f", or any other).
const VoiceTemplate *engine_voice_template(const char *bike_class);
// A table by exact name: a loaded one, else read from the file and kept.
// Null (with a message) when the file is unusable.
const SoundTable *sound_table_get(const char *name);
// Reads a ".braap" file into a template; 0 when it cannot be opened.
int engine_voice_read_braap(VoiceTemplate *config, const char *path);

// The main loop's master factor: 0 paused or in the editor; with a menu open
// 0.25, or 0 when the local rider drives; else 1.
float engine_sound_master_factor(int paused, int editor_view, int menu_open, int local_rider_drives);
// A bike's engine gain: master * volume * 0.1, times comp_volume * 0.1 for
// riders other than the viewed one, 0 for a rider hidden at the shown time.
float engine_voice_gain(float master, float volume, float comp_volume, int viewed, int hidden);

// At shutdown ("Closing audio"): frees the tables and the recording cache.
// Every voice must be freed first.
void engine_sound_release();
