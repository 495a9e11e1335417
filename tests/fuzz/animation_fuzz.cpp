// Animation (".seq") and link files over arbitrary bytes: what the reader
// accepts has frames of one size and a sequence that stays inside them.
// Seeds: tests/fuzz/corpus/animation.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "assets/image.h"
#include "assets/texture.h"
#include "fuzz_file.h"
#include "platform/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = fuzz_scratch_path("anim");
  if (!fuzz_write(path, data, size)) return 0;
  DataFile *file = dfile_open(path.c_str(), "rb");
  if (!file) return 0;
  char token[16] = "";
  if (dfile_scanf(file, "%15s", token) == 1 && strcmp(token, "ANIM1") == 0) {
    Animation a;
    if (animation_read(file, path.c_str(), &a)) {
      if (a.length < 1 || a.frame_count < 1 || a.tics_per_step < 1) abort();
      for (int i = 0; i < a.length; i++)
        if (a.sequence[i] < 0 || a.sequence[i] >= a.frame_count) abort();
      for (int t = -5; t < 50; t += 7) {
        int f = animation_frame_at(&a, t);
        if (f < 0 || f >= a.frame_count) abort();
      }
      if (!image_size_ok(a.width, a.height)) abort();
      animation_free(&a);
    }
  } else if (strcmp(token, "LINK") == 0) {
    char target[1024];
    if (link_read(file, target, sizeof target) && strlen(target) >= sizeof target) abort();
  }
  dfile_close(file);
  message_clear();
  return 0;
}
