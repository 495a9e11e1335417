// Renders one engine's sound swept from idle to its upshift speed through the
// readback mixer (no audio device) and writes it as a WAV file:
//   sound_sweep out.wav [class [from_rpm [to_rpm [seconds [torque [skin]]]]]]
// The skin name finds the ".braap" file (x.png -> x.braap). Also writes the
// synthetic engine sound set for the bike classes into a directory:
//   sound_sweep --write-tables directory [prefix]   (prefix "@" for a data set)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/alloc.h"
#include "app/options.h"
#include "platform/audio.h"
#include "sound/engine_sound.h"
#include "sound/engine_sweep.h"
#include "sound/synthetic_engine.h"

namespace {

void usage(FILE *out) {
  fputs(
      "Usage: sound_sweep OUT.wav [CLASS [FROM_RPM [TO_RPM [SECONDS [TORQUE [SKIN]]]]]]\n"
      "       sound_sweep --write-tables DIRECTORY [PREFIX]\n"
      "Renders one engine's sound swept from idle to its upshift speed (no audio\n"
      "device needed) and writes it as a WAV file; CLASS is a bike class such as\n"
      "250f, SKIN a bike picture whose \".braap\" file describes the engine.\n"
      "--write-tables writes the synthetic engine sound set for every bike class\n"
      "into DIRECTORY (PREFIX \"@\" names it for a data set).\n"
      "\n"
      "  -h, --help     show this text and exit\n"
      "      --version  show the version and exit\n",
      out);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    usage(stdout);
    return 0;
  }
  if (argc >= 2 && strcmp(argv[1], "--version") == 0) {
    printf("sound_sweep %s\n", torvane_version);
    return 0;
  }
  if (argc < 2) {
    usage(stderr);
    return 1;
  }
  if (strcmp(argv[1], "--write-tables") == 0) {
    if (argc < 3) {
      fprintf(stderr, "usage: %s --write-tables directory [prefix]\n", argv[0]);
      return 1;
    }
    std::string prefix = argc > 3 ? argv[3] : std::string(argv[2]) + "/";
    int written = write_synthetic_engine_sounds(argv[2], prefix.c_str());
    printf("%d engine sound sets written to %s\n", written, argv[2]);
    return written == synthetic_engine_classes ? 0 : 1;
  }
  EngineSweep sweep = {"250f", nullptr, 1800.0f, 11500.0f, 6.0f, 2.5f};
  if (argc > 2) sweep.bike_class = argv[2];
  if (argc > 3) sweep.from_rpm = static_cast<float>(atof(argv[3]));
  if (argc > 4) sweep.to_rpm = static_cast<float>(atof(argv[4]));
  if (argc > 5) sweep.seconds = static_cast<float>(atof(argv[5]));
  if (argc > 6) sweep.torque = static_cast<float>(atof(argv[6]));
  if (argc > 7) sweep.skin_name = argv[7];
  if (!(sweep.seconds > 0.0f && sweep.seconds <= 600.0f)) {
    fprintf(stderr, "seconds must be in 0..600\n");
    return 1;
  }
  int frames = 0;
  int16_t *samples = engine_sweep_render(&sweep, &frames);
  if (!samples) {
    fprintf(stderr, "Can't open the readback mixer\n");
    return 1;
  }
  int ok = wav_write(argv[1], samples, frames, 2, record_audio_rate);
  tracked_free(samples);
  engine_sound_release();
  if (!ok) {
    fprintf(stderr, "Can't write %s\n", argv[1]);
    return 1;
  }
  printf("%s: %s engine, %.0f to %.0f rpm in %.1f s, %d samples at %d Hz\n", argv[1], sweep.bike_class,
         sweep.from_rpm, sweep.to_rpm, sweep.seconds, frames, record_audio_rate);
  return 0;
}
