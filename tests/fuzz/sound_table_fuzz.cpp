// Sound table files and ".braap" files from arbitrary bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/log.h"
#include "sound/engine_sound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
  // Device files would block or never end; they are not data.
  if (text.find("/dev") != std::string::npos || text.find("/proc") != std::string::npos) return 0;
  static const std::string dir = [] {
    char name[] = "/tmp/sound_table_fuzz.XXXXXX";
    return std::string(mkdtemp(name));
  }();
  // A recording the input may name.
  static bool recording_written = [] {
    FILE *f = fopen((dir + "/r.raw").c_str(), "wb");
    for (int i = 0; i < 500; i++) fputc(i * 37, f);
    fclose(f);
    return true;
  }();
  (void)recording_written;
  std::string path = dir + (data[0] & 1 ? "/t.braap" : "/t.table");
  FILE *f = fopen(path.c_str(), "wb");
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  message_clear();
  if (data[0] & 1) {
    VoiceTemplate t = *engine_voice_template("250f");
    engine_voice_read_braap(&t, path.c_str());
    EngineVoice voice = {};
    voice.config = t;
    voice.history = new float[voice_sound_length]();
    voice.cycle_frequency = 10.0f;
    voice.previous_speed = 1000.0f;
    for (VoiceStream &s : voice.streams) s = VoiceStream{&t.table->cells[0], 0.0f, 0, 0};
    engine_voice_synthesize(&voice, 9000.0f, 0.5f, 2000);
    delete[] voice.history;
  } else {
    const SoundTable *table = sound_table_get(path.c_str());
    if (table) {
      EngineVoice voice = {};
      engine_voice_create(&voice, "125", nullptr);
      voice.config.table = table;
      for (VoiceStream &s : voice.streams) s = VoiceStream{&table->cells[0], 0.0f, 0, 0};
      engine_voice_synthesize(&voice, 7000.0f, 0.5f, 3000);
      engine_voice_free(&voice);
    }
  }
  engine_sound_release();
  return 0;
}
