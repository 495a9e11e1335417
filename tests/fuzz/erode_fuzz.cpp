// Fuzzes the erode packet decoder (datagrams and demo chunks) and applies
// whatever it yields to a small field: every point must land in the queue
// finite, and digging must keep the ground finite.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "track/deform.h"
#include "track/terrain.h"
#include "track/tiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Terrain *t = [] {
    Terrain *f = terrain_create(3, 2.0f, 0, 0);
    tile_defaults(&f->tiles[0]);
    f->tile_count = 1;
    return f;
  }();
  int length = size > 4096 ? 4096 : static_cast<int>(size);
  ErodePoint points[erode_packet_points];
  int n = erode_decode(data, length, t, points);
  if (n < 0 || n > erode_packet_points) __builtin_trap();
  for (int k = 0; k < n; k++) {
    const ErodePoint &p = points[k];
    if (!std::isfinite(p.x) || !std::isfinite(p.z) || p.count < 1 || p.count > erode_max_samples) __builtin_trap();
    if (std::fabs(p.ex) > 1 || std::fabs(p.ez) > 1) __builtin_trap();
  }
  erode_queue_clear();
  erode_receive_message(t, data, length, 0);
  erode_receive(t, data, length);
  for (int tic = 0; erode_queue_length() > 0; tic++) erode_apply(t, nullptr, 100, tic);
  int verts = t->verts_per_side * t->verts_per_side;
  for (int k = 0; k < verts; k++)
    if (!std::isfinite(t->heights[k])) __builtin_trap();
  // Keep the field from drifting without bound across runs.
  memcpy(t->heights, t->loaded_heights, sizeof(float) * static_cast<size_t>(verts));
  return 0;
}
