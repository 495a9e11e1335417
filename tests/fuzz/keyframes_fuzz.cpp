// Fuzzes the camera keyframe reader: whatever it keeps must be sorted by
// tic and finite, and deleting keyframes one by one must empty the list.
#include <cmath>

#include "app/keyframes.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = fuzz_scratch_path("keycam");
  DataFile *f = fuzz_open(path, data, size);
  if (!f) return 0;
  read_keyframes(f);
  dfile_close(f);
  const CameraKeyframe *k = keyframes();
  int n = keyframe_count();
  for (int i = 0; i < n; i++) {
    if (i > 0 && k[i - 1].tic > k[i].tic) __builtin_trap();
    if (!std::isfinite(k[i].fov) || !std::isfinite(k[i].position[0]) || !std::isfinite(k[i].rotation[3]))
      __builtin_trap();
  }
  for (int i = 0; i < n; i++) delete_keyframe(n > 0 ? k[0].tic + i : 0);
  if (keyframe_count() != 0) __builtin_trap();
  return 0;
}
