// Fuzzes the "terrain.hf" reader (and the terrain image path behind it),
// then queries the terrain it produced. The first byte picks the mode:
// even: the input is "terrain.hf"; odd: the input is "terrain.png" behind a
// header-only height file.
#include <cstdio>
#include <cstring>

#include "fuzz_file.h"
#include "track/terrain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  static const std::string hf = fuzz_scratch_path("terrain.hf"), png = fuzz_scratch_path("terrain.png");
  int mode_byte = data[0], image_mode = mode_byte & 1;
  data++;
  size--;
  Terrain *t = nullptr;
  if (image_mode) {
    static const char header[] = "6 1.5 -3 40\n";
    if (!fuzz_write(hf, reinterpret_cast<const uint8_t *>(header), sizeof header - 1)) return 0;
    if (!fuzz_write(png, data, size)) return 0;
    t = load_terrain_file(hf.c_str(), png.c_str());
  } else {
    // Large grids only cost time here; the size limits have unit tests.
    char head[64] = {};
    memcpy(head, data, size < sizeof head - 1 ? size : sizeof head - 1);
    int n = 0;
    if (sscanf(head, "%d", &n) == 1 && n > 6) return 0;
    if (!fuzz_write(hf, data, size)) return 0;
    t = load_terrain_file(hf.c_str(), nullptr);
  }
  if (!t) return 0;
  float probe[4] = {0.3f, 7.9f, -2.0f, 1e9f};
  if (size >= 16) memcpy(probe, data + size - 16, 16);
  float n[3];
  volatile float sink = terrain_height(t, probe[0], probe[1]);
  terrain_normal(t, probe[2], probe[3], n);
  TerrainContact c;
  float centre[3] = {probe[0], probe[2], probe[1]};
  sink = sink + static_cast<float>(terrain_sphere_contact(t, centre, probe[3] > 0 && probe[3] < 8 ? probe[3] : 1.0f, &c));
  terrain_vertex_normal(t, mode_byte - 3, 200, n);
  terrain_set_height(t, 3, 4, probe[1]);
  terrain_free(t);
  return 0;
}
