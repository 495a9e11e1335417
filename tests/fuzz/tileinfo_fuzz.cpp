// Fuzzes the tile table readers ("tileinfo", "texturelist") and the tile
// map reader on one input, then looks tiles and curves up.
#include <cstring>

#include "fuzz_file.h"
#include "track/terrain.h"
#include "track/tiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = fuzz_scratch_path("tileinfo");
  static Terrain *t = terrain_create(2, 2.0f, 0, 0);
  for (int pass = 0; pass < 3; pass++) {
    DataFile *f = fuzz_open(path, data, size);
    if (!f) return 0;
    if (pass == 0) load_texturelist(t, f);
    if (pass == 1) load_tileinfo(t, f);
    if (pass == 2) load_tilemap(t, f);
    dfile_close(f);
  }
  volatile float sink = 0;
  float rr[2];
  for (int k = 0; k < t->tile_count; k++) {
    sink = sink + friction_at(&t->tiles[k], static_cast<float>(k) * 0.7f);
    roll_resist_at(&t->tiles[k], static_cast<float>(k) * 1.3f, rr);
  }
  for (float x = -3; x < 20; x += 1.7f) {
    int tile = tile_at(t, x, 19 - x);
    if (tile < 0 || tile >= t->tile_count) __builtin_trap();
  }
  return 0;
}
