#include "sound/engine_sweep.h"

#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "app/types.h"
#include "assets/file.h"
#include "platform/audio.h"
#include "sound/engine_sound.h"

float engine_sweep_rpm(const EngineSweep *sweep, double time) {
  if (sweep->seconds <= 0.0f || time >= sweep->seconds) return sweep->to_rpm;
  if (time <= 0.0) return sweep->from_rpm;
  return static_cast<float>(sweep->from_rpm + (sweep->to_rpm - sweep->from_rpm) * time / sweep->seconds);
}

int16_t *engine_sweep_render(const EngineSweep *sweep, int *frames) {
  *frames = 0;
  if (!audio_open_readback(record_audio_rate, record_audio_block, 2)) return nullptr;
  int tics = static_cast<int>(sweep->seconds * tics_per_second);
  if (tics < sweep_tics_per_frame) tics = sweep_tics_per_frame;
  tics -= tics % sweep_tics_per_frame;
  size_t total = static_cast<size_t>(tics) * record_audio_block;
  int16_t *out = static_cast<int16_t *>(alloc_or_die(total * 2 * sizeof(int16_t)));

  // The listener sits on the bike: no Doppler shift, no distance loss, centred.
  SoundListener ear = {};
  ear.right[0] = 1.0f;
  engine_sound_set_listener(&ear);
  EngineVoice voice = {};
  engine_voice_create(&voice, sweep->bike_class, sweep->skin_name);
  EngineSoundInput input = {};
  input.torque = sweep->torque;
  for (int tic = 0; tic < tics; tic++) {
    if (tic % sweep_tics_per_frame == 0) {
      input.rpm = engine_sweep_rpm(sweep, tic * seconds_per_tic);
      engine_voice_update(&input, &voice, 1.0f);
    }
    const int16_t *block = audio_read_back();
    memcpy(out + static_cast<size_t>(tic) * record_audio_block * 2, block,
           sizeof(int16_t) * record_audio_block * 2);
  }
  engine_voice_free(&voice);
  audio_close();
  *frames = static_cast<int>(total);
  return out;
}

namespace {
void put_u32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put_u16(uint8_t *p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
}  // namespace

int wav_write(const char *path, const int16_t *samples, int frames, int channels, int rate) {
  if (frames < 0 || channels < 1 || channels > 2 || frames > (1 << 28) / channels) return 0;
  char temp[1040];
  snprintf(temp, sizeof temp, "%s.tmp", path);
  DataFile *file = dfile_open(temp, "wb");
  if (!file) return 0;
  uint32_t data_bytes = static_cast<uint32_t>(frames) * static_cast<uint32_t>(channels) * 2u;
  uint8_t header[44];
  memcpy(header, "RIFF", 4);
  put_u32(header + 4, 36 + data_bytes);
  memcpy(header + 8, "WAVEfmt ", 8);
  put_u32(header + 16, 16);
  put_u16(header + 20, 1);  // PCM
  put_u16(header + 22, static_cast<uint16_t>(channels));
  put_u32(header + 24, static_cast<uint32_t>(rate));
  put_u32(header + 28, static_cast<uint32_t>(rate) * static_cast<uint32_t>(channels) * 2u);
  put_u16(header + 32, static_cast<uint16_t>(channels * 2));
  put_u16(header + 34, 16);
  memcpy(header + 36, "data", 4);
  put_u32(header + 40, data_bytes);
  bool ok = dfile_write(file, header, 44) == 44;
  uint8_t buffer[4096];
  size_t count = static_cast<size_t>(frames) * channels;
  for (size_t i = 0; i < count && ok;) {
    int n = 0;
    for (; n < 2048 && i < count; n++, i++) put_u16(buffer + 2 * n, static_cast<uint16_t>(samples[i]));
    ok = dfile_write(file, buffer, 2 * n) == 2 * n;
  }
  dfile_close(file);
  if (!ok) return 0;
  return dfile_rename(temp, path);
}
