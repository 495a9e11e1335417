#include "platform/audio.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "assets/file.h"
#include "platform/log.h"

namespace {

constexpr int flag_loop = 1;
constexpr int flag_playing = 2;
constexpr int flag_stereo = 4;
constexpr int flag_restart = 8;
constexpr int flag_ended = 16;
// Set with flag_ended when a voice reaches the end inside the current block,
// so the sound's other voice still plays its part of that block.
constexpr int flag_ended_now = 32;

constexpr int max_play_rate = 1 << 24;
constexpr int fraction_bits = 31;

enum DriverKind { driver_none, driver_sdl, driver_readback };

// Shared, reference-counted samples (a duplicated sound shares them).
struct SampleBlock {
  int references;
  int length;
  uint8_t *bytes;
};

}  // namespace

// One output channel's view of a sound; the right voice is used only on
// stereo output. The position is the byte index shifted up by 31 bits with
// the 31-bit fraction below it.
struct MixVoice {
  Sound *sound;
  MixVoice *previous, *next;
  uint64_t position;
  int channel;
  int level;
  int previous_level;
  bool listed;
};

struct Sound {
  SampleBlock *samples;
  int data_rate;
  int play_rate;
  uint64_t step;  // play rate / data rate, 31-bit fixed point
  int volume;
  int pan;
  int flags;
  MixVoice voices[2];
};

namespace {

// The open driver and the mixer: from audio_open to audio_close.
struct Mixer {
  DriverKind kind;
  int rate;
  int channels;
  int block_length;  // samples per mixed block (a fragment for SDL)
  int budget;        // the channel budget: voices heard at once
  int32_t *accumulators;
  MixVoice *heads[2][mixer_levels];
  MixVoice *tails[2][mixer_levels];
  SDL_mutex *mutex;
  // SDL device: a ring of fragments mixed ahead of what SDL has taken.
  SDL_AudioDeviceID device;
  uint8_t *ring;
  int fragment_bytes;
  int mixahead;
  uint64_t ring_written;  // bytes mixed into the ring so far
  uint64_t ring_read;     // bytes handed to SDL so far
  bool thread_logged;
  // Readback driver.
  int16_t *readback_block;
};
Mixer mixer;

// The recording file of --record-audio: from audio_record_open to close.
DataFile *record_file = nullptr;
char record_path[1024];
char record_temp_path[1040];

// Contribution of sample byte m at level L: (m - 128) * L / 32 rounded toward
// zero, byte 0 counting as -127. Built once, lives for the process.
int8_t level_table[mixer_levels][256];
bool level_table_built = false;

void build_level_table() {
  if (level_table_built) return;
  for (int level = 0; level < mixer_levels; level++) {
    for (int m = 0; m < 256; m++) {
      int s = m == 0 ? -127 : m - 128;
      level_table[level][m] = static_cast<int8_t>(s * level / 32);
    }
  }
  level_table_built = true;
}

void lock() {
  if (mixer.mutex) SDL_LockMutex(mixer.mutex);
}
void unlock() {
  if (mixer.mutex) SDL_UnlockMutex(mixer.mutex);
}

void voice_unlink(MixVoice *v) {
  if (!v->listed) return;
  int c = v->channel, l = v->level;
  if (v->previous) v->previous->next = v->next;
  else mixer.heads[c][l] = v->next;
  if (v->next) v->next->previous = v->previous;
  else mixer.tails[c][l] = v->previous;
  v->previous = v->next = nullptr;
  v->listed = false;
}

// New voices go to the end of their list: among equal levels the older
// sounds keep their place in the channel budget.
void voice_link(MixVoice *v, int level) {
  int c = v->channel;
  v->level = level;
  v->next = nullptr;
  v->previous = mixer.tails[c][level];
  if (v->previous) v->previous->next = v;
  else mixer.heads[c][level] = v;
  mixer.tails[c][level] = v;
  v->listed = true;
}

void sound_levels(const Sound *s, int *left, int *right) {
  int64_t volume = s->volume, pan = s->pan;
  *left = static_cast<int>(((32767 - pan) * volume) >> 26);
  *right = static_cast<int>((volume * (pan + 32768)) >> 26);
}

// Puts the voices of a playing sound into the lists of their current levels.
void sound_relink(Sound *s) {
  int left, right;
  sound_levels(s, &left, &right);
  MixVoice *l = &s->voices[0], *r = &s->voices[1];
  if (!l->listed || l->level != left) {
    voice_unlink(l);
    voice_link(l, left);
  }
  if (mixer.channels == 2 && (!r->listed || r->level != right)) {
    voice_unlink(r);
    voice_link(r, right);
  }
}

void sound_unlink(Sound *s) {
  voice_unlink(&s->voices[0]);
  voice_unlink(&s->voices[1]);
  s->voices[0].previous_level = s->voices[1].previous_level = 0;
}

// At the end of the samples: a looping sound goes on from the start, any
// other has ended. Returns false when the sound ended.
bool wrap_position(const Sound *s, uint64_t *position, uint64_t end) {
  if (*position < end) return true;
  if (s->flags & flag_loop) {
    *position %= end;
    return true;
  }
  return false;
}

// Mixes `count` output samples of one voice at level `level` (0 = silent:
// the position only advances). A level change or restart first lets the
// current half-wave finish at the old level, so changes land on a zero
// crossing without a click.
void mix_voice(MixVoice *v, int level, int count) {
  Sound *s = v->sound;
  const uint8_t *bytes = s->samples->bytes;
  const uint64_t end = static_cast<uint64_t>(s->samples->length) << fraction_bits;
  const uint64_t step = s->step;
  const int stride = mixer.channels;
  int32_t *out = mixer.accumulators + v->channel;
  uint64_t position = v->position;
  const bool restart = (s->flags & flag_restart) != 0;
  bool ended = false;
  int i = 0;

  int old_level = v->previous_level;
  if (old_level != 0 && (level != old_level || restart) && position < end) {
    const int8_t *row = level_table[old_level];
    const int sign = bytes[position >> fraction_bits] & 0x80;
    while (i < count) {
      uint8_t m = bytes[position >> fraction_bits];
      if ((m & 0x80) != sign) break;
      out[i * stride] += row[m];
      i++;
      position += step;
      if (position >= end) {
        ended = !wrap_position(s, &position, end);
        break;
      }
    }
  }
  v->previous_level = level;
  if (restart) {
    position = 0;
    ended = false;
  }
  if (!ended && i < count && position < end) {
    if (level > 0) {
      const int8_t *row = level_table[level];
      for (; i < count; i++) {
        out[i * stride] += row[bytes[position >> fraction_bits]];
        position += step;
        if (position >= end && !wrap_position(s, &position, end)) {
          ended = true;
          break;
        }
      }
    } else {
      position += static_cast<uint64_t>(count - i) * step;
      ended = !wrap_position(s, &position, end);
    }
  } else if (position >= end) {
    ended = true;
  }
  v->position = position;
  if (ended) s->flags |= flag_ended | flag_ended_now;
}

// Mixes one block of `count` samples into the accumulators.
void mix_block(int count) {
  memset(mixer.accumulators, 0, sizeof(int32_t) * static_cast<size_t>(count) * mixer.channels);
  int budget = mixer.budget;
  // Loudest first: the budget goes to the loudest voices; the rest keep time.
  for (int level = mixer_levels - 1; level >= 0; level--) {
    MixVoice *l = mixer.heads[0][level], *r = mixer.heads[1][level];
    while (l || r) {
      MixVoice *pair[2] = {l, r};
      for (MixVoice *v : pair) {
        if (!v) continue;
        // A sound stopped before this block only fades out.
        bool stopped = (v->sound->flags & (flag_ended | flag_ended_now)) == flag_ended;
        int audible = level >= 1 && budget > 0 && !stopped ? level : 0;
        if (audible) budget--;
        mix_voice(v, audible, count);
      }
      if (l) l = l->next;
      if (r) r = r->next;
    }
  }
  for (int level = 0; level < mixer_levels; level++) {
    for (MixVoice *v = mixer.heads[0][level]; v;) {
      MixVoice *next = v->next;
      Sound *s = v->sound;
      s->voices[1].position = v->position;
      s->flags &= ~flag_restart;
      if (s->flags & flag_ended) {
        sound_unlink(s);
        s->flags &= ~(flag_playing | flag_ended | flag_ended_now);
        s->voices[0].position = s->voices[1].position = 0;
      }
      v = next;
    }
  }
}

void convert_8bit(uint8_t *out, int count) {
  int n = count * mixer.channels;
  for (int i = 0; i < n; i++) {
    int32_t v = mixer.accumulators[i];
    out[i] = v < -127 ? 0 : v > 126 ? 255 : static_cast<uint8_t>(v + 128);
  }
}

void convert_16bit(int16_t *out, int count) {
  int n = count * mixer.channels;
  for (int i = 0; i < n; i++) {
    int32_t v = mixer.accumulators[i];
    out[i] = static_cast<int16_t>(v < -126 ? -32512 : v > 126 ? 32512 : v * 256);
  }
}

// SDL's audio thread. It keeps `mixahead` fragments mixed ahead of what the
// device has taken, mixing each fragment under the mutex, so the latency is
// the mixahead time and the main thread never changes a sound mid-fragment.
void audio_callback(void *, Uint8 *stream, int length) {
  if (!mixer.thread_logged) {
    mixer.thread_logged = true;
    hovl_log("Audio thread begin\n");
  }
  const uint64_t ahead = static_cast<uint64_t>(mixer.mixahead) * mixer.fragment_bytes;
  const uint64_t ring_bytes = static_cast<uint64_t>(fragment_ring) * mixer.fragment_bytes;
  while (length > 0) {
    while (mixer.ring_written - mixer.ring_read < ahead) {
      uint8_t *fragment = mixer.ring + mixer.ring_written % ring_bytes;
      lock();
      mix_block(mixer.block_length);
      convert_8bit(fragment, mixer.block_length);
      unlock();
      mixer.ring_written += mixer.fragment_bytes;
    }
    uint64_t offset = mixer.ring_read % ring_bytes;
    int chunk = mixer.fragment_bytes - static_cast<int>(offset % mixer.fragment_bytes);
    if (chunk > length) chunk = length;
    memcpy(stream, mixer.ring + offset, static_cast<size_t>(chunk));
    stream += chunk;
    length -= chunk;
    mixer.ring_read += static_cast<uint64_t>(chunk);
  }
}

void release_mixer_memory() {
  tracked_free(mixer.accumulators);
  tracked_free(mixer.ring);
  tracked_free(mixer.readback_block);
  mixer = Mixer{};
}

void close_on_fatal() {
  if (mixer.kind != driver_none) audio_close();
}

// The state shared by both drivers once the output format is known.
void mixer_setup(DriverKind kind, int rate, int channels, int block_length) {
  build_level_table();
  mixer.kind = kind;
  mixer.rate = rate;
  mixer.channels = channels;
  mixer.block_length = block_length;
  mixer.budget = hovl_option_int("sound-channels", 16);
  if (mixer.budget < 0) mixer.budget = 0;
  mixer.accumulators = static_cast<int32_t *>(
      alloc_or_die(sizeof(int32_t) * static_cast<size_t>(block_length) * channels));
  hovl_on_fatal(close_on_fatal);
}

}  // namespace

int audio_open() {
  if (mixer.kind != driver_none) {
    hovl_log("Audio already open\n");
    return 0;
  }
  // The switch keeps the name `waveout` that players already use in HOVL_OPTIONS.
  if (!hovl_option_bool("waveout", 1)) {
    hovl_log("Audio output switched off by the waveout option\n");
    return 0;
  }
  hovl_log("Opening SDL audio...\n");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    hovl_log("No audio device (%s)\n", SDL_GetError());
    return 0;
  }
  const char *driver = SDL_GetCurrentAudioDriver();
  hovl_log("Audio driver: %s\n", driver ? driver : "none");
  if (driver && strcmp(driver, "dummy") == 0)
    hovl_log("The dummy audio driver plays to no device: the game is silent\n");

  int channels = 2;
  char *device_name = nullptr;
  SDL_AudioSpec device_spec;
  if (SDL_GetDefaultAudioInfo(&device_name, &device_spec, 0) == 0) {
    hovl_log("Found a %s\n", device_name ? device_name : "default device");
    channels = device_spec.channels >= 2 ? 2 : 1;
    SDL_free(device_name);
  } else {
    hovl_log("Found a default device\n");
  }

  int rate = hovl_option_int("sound-rate", 22050);
  if (rate < 8000 || rate > 192000) {
    hovl_log("sound-rate %d out of range, using 22050\n", rate);
    rate = 22050;
  }
  int mixahead = hovl_option_int("sound-mixahead", 125) * fragments_per_second / 1000;
  if (mixahead < 1) mixahead = 1;
  if (mixahead > max_mixahead) mixahead = max_mixahead;
  int fragment = rate / fragments_per_second;

  mixer_setup(driver_sdl, rate, channels, fragment);
  mixer.mixahead = mixahead;
  mixer.fragment_bytes = fragment * channels;
  hovl_log("Audio rate: %d\n", rate);
  hovl_log("Audio channels: %d\n", mixer.budget);
  hovl_log("Audio mixahead: %d\n", mixahead * 1000 / fragments_per_second);

  mixer.ring = static_cast<uint8_t *>(
      alloc_or_die(static_cast<size_t>(fragment_ring) * static_cast<size_t>(mixer.fragment_bytes)));
  mixer.mutex = SDL_CreateMutex();
  if (!mixer.mutex) {
    hovl_log("Can't create mutex (%s)\n", SDL_GetError());
    release_mixer_memory();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return 0;
  }
  SDL_AudioSpec want;
  SDL_zero(want);
  want.freq = rate;
  want.format = AUDIO_U8;
  want.channels = static_cast<Uint8>(channels);
  want.samples = static_cast<Uint16>(fragment);
  want.callback = audio_callback;
  SDL_AudioSpec have;
  // No changes allowed: SDL converts our 8-bit fragments to the device.
  mixer.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (mixer.device == 0) {
    hovl_log("Can't open audio device (%s)\n", SDL_GetError());
    SDL_DestroyMutex(mixer.mutex);
    release_mixer_memory();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return 0;
  }
  SDL_PauseAudioDevice(mixer.device, 0);
  hovl_log("Audio opened!\n");
  return 1;
}

int audio_open_readback(int rate, int block_length, int channels) {
  if (mixer.kind != driver_none) {
    hovl_log("Audio already open\n");
    return 0;
  }
  hovl_log("Opening readback audio...\n");
  if (rate < 1000 || rate > 1000000 || block_length < 1 || block_length > (1 << 20) ||
      (channels != 1 && channels != 2)) {
    hovl_log("Bad readback format (%d Hz, %d samples, %d channels)\n", rate, block_length, channels);
    return 0;
  }
  mixer_setup(driver_readback, rate, channels, block_length);
  mixer.readback_block = static_cast<int16_t *>(
      alloc_or_die(sizeof(int16_t) * static_cast<size_t>(block_length) * channels));
  hovl_log("Audio opened!\n");
  return 1;
}

void audio_close() {
  if (mixer.kind == driver_none) {
    hovl_log("Can't close audio, not open\n");
    return;
  }
  hovl_log("Closing audio\n");
  if (mixer.kind == driver_sdl) {
    // Returns once the callback thread has finished its last fragment.
    SDL_CloseAudioDevice(mixer.device);
    if (mixer.thread_logged) hovl_log("Audio thread end\n");
    SDL_DestroyMutex(mixer.mutex);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  // Sounds left over by a caller stop and fall out of the lists.
  for (int c = 0; c < 2; c++) {
    for (int level = 0; level < mixer_levels; level++) {
      while (MixVoice *v = mixer.heads[c][level]) {
        v->sound->flags &= ~(flag_playing | flag_ended | flag_ended_now | flag_restart);
        voice_unlink(v);
      }
    }
  }
  release_mixer_memory();
}

int audio_is_open() { return mixer.kind != driver_none; }
int audio_output_rate() { return mixer.rate; }
int audio_output_channels() { return mixer.channels; }

const int16_t *audio_read_back() {
  if (mixer.kind != driver_readback) return nullptr;
  mix_block(mixer.block_length);
  convert_16bit(mixer.readback_block, mixer.block_length);
  return mixer.readback_block;
}

Sound *hovl_sound_create(int length, const uint8_t *samples, int rate) {
  if (mixer.kind == driver_none || length < 1) return nullptr;
  int64_t stored = length;
  if (rate > 0) stored = static_cast<int64_t>(length) * mixer.rate / rate;
  if (stored < 1 || stored > max_sound_length) {
    hovl_log("Sound of %d samples at %d Hz: bad length\n", length, rate);
    return nullptr;
  }
  // Allocated outside the mutex: the fatal path closes the device and must
  // not wait on a lock this thread holds.
  SampleBlock *block = static_cast<SampleBlock *>(alloc_or_die(sizeof(SampleBlock)));
  block->references = 1;
  block->length = static_cast<int>(stored);
  block->bytes = static_cast<uint8_t *>(alloc_or_die(static_cast<size_t>(stored)));
  if (!samples) {
    memset(block->bytes, 128, static_cast<size_t>(stored));
  } else {
    // Nearest neighbour with a Bresenham step of length / stored.
    int source = 0;
    int64_t error = 0;
    for (int64_t i = 0; i < stored; i++) {
      block->bytes[i] = samples[source];
      error += length;
      while (error >= stored) {
        error -= stored;
        if (source < length - 1) source++;
      }
    }
  }
  Sound *s = static_cast<Sound *>(alloc_or_die(sizeof(Sound)));
  *s = Sound{};
  s->samples = block;
  s->data_rate = mixer.rate;
  s->play_rate = mixer.rate;
  s->step = uint64_t{1} << fraction_bits;
  s->volume = 32767;
  s->pan = mixer.channels == 2 ? 0 : -32768;
  if (mixer.channels == 2) s->flags |= flag_stereo;
  for (int c = 0; c < 2; c++) {
    s->voices[c].sound = s;
    s->voices[c].channel = c;
  }
  return s;
}

Sound *hovl_sound_duplicate(Sound *sound) {
  if (!sound || mixer.kind == driver_none) return nullptr;
  Sound *s = static_cast<Sound *>(alloc_or_die(sizeof(Sound)));
  lock();
  *s = Sound{};
  s->samples = sound->samples;
  s->samples->references++;
  s->data_rate = sound->data_rate;
  s->play_rate = sound->play_rate;
  s->step = sound->step;
  s->volume = sound->volume;
  s->pan = sound->pan;
  s->flags = sound->flags & (flag_loop | flag_stereo);
  unlock();
  for (int c = 0; c < 2; c++) {
    s->voices[c].sound = s;
    s->voices[c].channel = c;
  }
  return s;
}

void hovl_sound_free(Sound *sound) {
  if (!sound) return;
  lock();
  sound_unlink(sound);
  SampleBlock *block = sound->samples;
  bool last = --block->references == 0;
  unlock();
  if (last) {
    tracked_free(block->bytes);
    tracked_free(block);
  }
  tracked_free(sound);
}

int hovl_sound_play(Sound *sound) {
  if (!sound || mixer.kind == driver_none) return 0;
  lock();
  sound->flags |= flag_restart;
  sound->flags &= ~(flag_ended | flag_ended_now);
  if (!(sound->flags & flag_playing)) {
    sound->flags |= flag_playing;
    sound->voices[0].position = sound->voices[1].position = 0;
    sound_relink(sound);
  }
  unlock();
  return 1;
}

int hovl_sound_stop(Sound *sound) {
  if (!sound || mixer.kind == driver_none) return 0;
  lock();
  if (sound->flags & flag_playing) sound->flags |= flag_ended;
  unlock();
  return 1;
}

int hovl_sound_set_rate(Sound *sound, int samples_per_second) {
  if (!sound || mixer.kind == driver_none) return 0;
  if (samples_per_second < 1) samples_per_second = 1;
  if (samples_per_second > max_play_rate) samples_per_second = max_play_rate;
  lock();
  sound->play_rate = samples_per_second;
  sound->step = (static_cast<uint64_t>(samples_per_second) << fraction_bits) /
                static_cast<uint64_t>(sound->data_rate);
  unlock();
  return 1;
}

int hovl_sound_set_volume(Sound *sound, int volume) {
  if (!sound || mixer.kind == driver_none) return 0;
  if (volume < 0) volume = 0;
  if (volume > 32767) volume = 32767;
  lock();
  sound->volume = volume;
  if (sound->flags & flag_playing) sound_relink(sound);
  unlock();
  return 1;
}

int hovl_sound_set_pan(Sound *sound, int pan) {
  if (!sound || mixer.kind == driver_none) return 0;
  if (pan < -32768) pan = -32768;
  if (pan > 32767) pan = 32767;
  lock();
  // Mono output plays only the left voice, at the full level range.
  sound->pan = (sound->flags & flag_stereo) ? pan : -32768;
  if (sound->flags & flag_playing) sound_relink(sound);
  unlock();
  return 1;
}

int hovl_sound_set_loop(Sound *sound, int loop) {
  if (!sound || mixer.kind == driver_none) return 0;
  lock();
  if (loop) sound->flags |= flag_loop;
  else sound->flags &= ~flag_loop;
  unlock();
  return 1;
}

int hovl_sound_position(Sound *sound) {
  if (!sound || mixer.kind == driver_none) return 0;
  lock();
  int position = 0;
  if ((sound->flags & flag_playing) && !(sound->flags & flag_restart))
    position = static_cast<int>(sound->voices[0].position >> fraction_bits);
  unlock();
  return position;
}

int hovl_sound_write(Sound *sound, int count, const uint8_t *samples, int position) {
  if (!sound || !samples || count < 1 || mixer.kind == driver_none) return 0;
  lock();
  const int length = sound->samples->length;
  uint8_t *bytes = sound->samples->bytes;
  int64_t start = position;
  if (count > length) {
    // Only the last `length` samples survive; they keep their places.
    samples += count - length;
    start += count - length;
    count = length;
  }
  int at = static_cast<int>(((start % length) + length) % length);
  int first = length - at < count ? length - at : count;
  memcpy(bytes + at, samples, static_cast<size_t>(first));
  memcpy(bytes, samples + first, static_cast<size_t>(count - first));
  unlock();
  return 1;
}

const uint8_t *hovl_sound_data(Sound *sound, int *length) {
  if (!sound) {
    if (length) *length = 0;
    return nullptr;
  }
  if (length) *length = sound->samples->length;
  return sound->samples->bytes;
}

int hovl_sound_is_playing(Sound *sound) {
  if (!sound || mixer.kind == driver_none) return 0;
  lock();
  int playing = (sound->flags & flag_playing) != 0;
  unlock();
  return playing;
}

void hovl_sound_settings(Sound *sound, int *rate, int *volume, int *pan) {
  *rate = *volume = *pan = 0;
  if (!sound) return;
  lock();
  *rate = sound->play_rate;
  *volume = sound->volume;
  *pan = sound->pan;
  unlock();
}

int audio_record_open(const char *path) {
  if (!path || strlen(path) >= sizeof record_path) {
    hovl_log("Bad audio recording file name\n");
    return 0;
  }
  if (!audio_open_readback(record_audio_rate, record_audio_block, 2)) return 0;
  snprintf(record_path, sizeof record_path, "%s", path);
  snprintf(record_temp_path, sizeof record_temp_path, "%s.tmp", path);
  record_file = dfile_open(record_temp_path, "wb");
  if (!record_file) {
    hovl_log("Can't write audio recording '%.512s'\n", record_temp_path);
    audio_close();
    return 0;
  }
  return 1;
}

int audio_record_tic() {
  if (!record_file) return 0;
  const int16_t *block = audio_read_back();
  if (!block) return 0;
  // Little-endian on every host.
  uint8_t bytes[record_audio_block * 2 * 2];
  for (int i = 0; i < record_audio_block * 2; i++) {
    uint16_t v = static_cast<uint16_t>(block[i]);
    bytes[2 * i] = static_cast<uint8_t>(v & 0xff);
    bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  return dfile_write(record_file, bytes, static_cast<int>(sizeof bytes)) == static_cast<int>(sizeof bytes);
}

void audio_record_close() {
  if (!record_file) return;
  dfile_close(record_file);
  record_file = nullptr;
  if (!dfile_rename(record_temp_path, record_path))
    hovl_log("Can't rename '%.512s' to '%.512s'\n", record_temp_path, record_path);
  if (mixer.kind == driver_readback) audio_close();
}
