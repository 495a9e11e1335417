// Surfaces: the tile table ("tileinfo") and the tile of every square
// ("tilemap"). The track is firm dirt with loose berms, the start area hard
// packed, and everything off the track grass that grips much less.
#include <cmath>

#include "databuild.h"

namespace databuild {

namespace {

struct TileSurface {
  const char *name;
  const char *texture;
  float friction[4][2];    // coefficient at slip speed (ft/s)
  float roll[2];           // rolling resistance pair
  const char *roost;
  float erode_depth;
};

// The first friction point is what robots lean on; the peak comes with a
// little slip and falls off when the tyre spins or slides hard. The track's
// dirt grips nearly at its peak from the first slip, so a robot's lean limit
// stays well above what the lines' corners ask of it.
const TileSurface tile_surfaces[tile_kind_count] = {
    {"grass", "@ground_grass.png", {{0.6f, 0.5f}, {0.72f, 3.0f}, {0.62f, 10.0f}, {0.5f, 25.0f}}, {9.0f, 25.0f},
     "texture=@roost.png count=3 size=0.3 r=96 g=104 b=62", 0.5f},
    {"dirt", "@ground_dirt.png", {{1.15f, 0.5f}, {1.2f, 3.0f}, {1.05f, 10.0f}, {0.9f, 25.0f}}, {5.0f, 15.0f},
     "texture=@roost.png count=6 size=0.3 r=112 g=86 b=62", 1.0f},
    {"berm", "@ground_loam.png", {{1.2f, 0.5f}, {1.25f, 3.0f}, {1.1f, 10.0f}, {0.95f, 25.0f}}, {6.0f, 18.0f},
     "texture=@roost.png count=8 size=0.35 r=96 g=72 b=52", 1.5f},
    {"startpad", "@ground_startpad.png", {{0.95f, 0.5f}, {1.1f, 3.0f}, {1.0f, 10.0f}, {0.85f, 25.0f}},
     {4.0f, 12.0f}, "texture=@roost.png count=2 size=0.25 r=150 g=140 b=128", 0.25f},
};

}  // namespace

float tile_grip(int tile) { return tile_surfaces[tile].friction[0][0]; }

void build_tilemap(Track *track) {
  track->tilemap.assign(static_cast<size_t>(track_tiles) * track_tiles, tile_grass);
  for (int row = 0; row < track_tiles; row++)
    for (int col = 0; col < track_tiles; col++) {
      // The tile's centre is a grid vertex.
      size_t v = static_cast<size_t>(2 * col + 1) + static_cast<size_t>(2 * row + 1) * track_verts;
      int k = track->nearest[v];
      if (k < 0 || track->edge[v] > 0.0f) continue;
      const TrackSample &p = track->line[static_cast<size_t>(k)];
      float x = static_cast<float>(k) * track->step - track->start_s;
      if (x < -track->length * 0.5f) x += track->length;
      uint8_t tile = tile_dirt;
      if (x > -50.0f && x < 6.0f) tile = tile_startpad;
      else if (p.bank > 1.0f) tile = tile_berm;
      track->tilemap[static_cast<size_t>(col + row * track_tiles)] = tile;
    }
}

void write_tile_files(const Track *track, Archive *archive) {
  Bytes info;
  for (const TileSurface &t : tile_surfaces) {
    bytes_printf(&info, "name %s\ntexture %s\n", t.name, t.texture);
    for (const auto &f : t.friction) bytes_printf(&info, "friction %g %g\n", f[0], f[1]);
    bytes_printf(&info, "roll_resist %g %g 1\nroost %s\nerode_depth %g\naddtile\n\n", t.roll[0], t.roll[1],
                 t.roost, t.erode_depth);
  }
  std::string dir = track->design->dir;
  archive_add(archive, dir + "/tileinfo", std::move(info));
  Bytes map;
  bytes_append(&map, track->tilemap.data(), track->tilemap.size());
  archive_add_compressed(archive, dir + "/tilemap", map);
}

}  // namespace databuild
