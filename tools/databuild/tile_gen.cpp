// Surfaces: the tile table ("tileinfo", and the same table as an older
// track's "texturelist") and the tile of every square ("tilemap"). The
// track is firm dirt with loose dirt along its edges and loam berms, the
// start area hard packed, and everything off the track grass that grips
// much less; patches of drier and lusher grass and of darker dirt ride like
// the surface they vary. The pictures are ground_gen.cpp's.
#include <algorithm>
#include <cmath>

#include "databuild.h"
#include "image_gen.h"

namespace databuild {

namespace {

struct TileSurface {
  const char *name;
  float friction[4][2];    // coefficient at slip speed (ft/s)
  float roll[2];           // rolling resistance pair
  const char *roost;       // roost parameters but the texture
  float erode_depth;
};

// The first friction point is what robots lean on; the peak comes with a
// little slip and falls off when the tyre spins or slides hard. The track's
// dirt grips nearly at its peak from the first slip, so a robot's lean limit
// stays well above what the lines' corners ask of it. Loose dirt lies only
// at the edges, outside every robot lane.
const TileSurface tile_surfaces[tile_kind_count] = {
    {"grass", {{0.6f, 0.5f}, {0.72f, 3.0f}, {0.62f, 10.0f}, {0.5f, 25.0f}}, {9.0f, 25.0f},
     "count=3 size=0.3 r=96 g=104 b=62", 0.5f},
    {"dirt", {{1.15f, 0.5f}, {1.2f, 3.0f}, {1.05f, 10.0f}, {0.9f, 25.0f}}, {5.0f, 15.0f},
     "count=6 size=0.3 r=112 g=86 b=62", 1.0f},
    {"berm", {{1.2f, 0.5f}, {1.25f, 3.0f}, {1.1f, 10.0f}, {0.95f, 25.0f}}, {6.0f, 18.0f},
     "count=8 size=0.35 r=96 g=72 b=52", 1.5f},
    {"startpad", {{0.95f, 0.5f}, {1.1f, 3.0f}, {1.0f, 10.0f}, {0.85f, 25.0f}}, {4.0f, 12.0f},
     "count=2 size=0.25 r=150 g=140 b=128", 0.25f},
    {"loose", {{1.05f, 0.5f}, {1.12f, 3.0f}, {0.98f, 10.0f}, {0.85f, 25.0f}}, {6.0f, 17.0f},
     "count=8 size=0.35 r=124 g=96 b=70", 1.3f},
    {"grass-alt1", {{0.6f, 0.5f}, {0.72f, 3.0f}, {0.62f, 10.0f}, {0.5f, 25.0f}}, {9.0f, 25.0f},
     "count=3 size=0.3 r=112 g=110 b=66", 0.5f},
    {"grass-alt2", {{0.6f, 0.5f}, {0.72f, 3.0f}, {0.62f, 10.0f}, {0.5f, 25.0f}}, {9.0f, 25.0f},
     "count=3 size=0.3 r=84 g=100 b=56", 0.5f},
    {"dirt-alt1", {{1.15f, 0.5f}, {1.2f, 3.0f}, {1.05f, 10.0f}, {0.9f, 25.0f}}, {5.0f, 15.0f},
     "count=6 size=0.3 r=100 g=76 b=56", 1.0f},
};

}  // namespace

float tile_grip(int tile) { return tile_surfaces[tile_base(tile)].friction[0][0]; }

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
      float cx = static_cast<float>(2 * col + 1) * track_spacing, cz = static_cast<float>(2 * row + 1) * track_spacing;
      if (x > -50.0f && x < 6.0f) tile = tile_startpad;
      else if (p.bank > 1.0f) tile = tile_berm;
      else if (track->edge[v] > -3.0f && (x < -150.0f || x > track->design->funnel_length)) tile = tile_loose;
      else if (value_noise(cx / 45.0f, cz / 45.0f, track->design->seed + 77u) > 0.68f) tile = tile_dirt_dark;
      track->tilemap[static_cast<size_t>(col + row * track_tiles)] = tile;
    }
  // The field: drier grass where the crowd and the roost wear it beside
  // the track, patches of dry and lush grass elsewhere.
  for (int row = 0; row < track_tiles; row++)
    for (int col = 0; col < track_tiles; col++) {
      uint8_t &tile = track->tilemap[static_cast<size_t>(col + row * track_tiles)];
      if (tile != tile_grass) continue;
      size_t v = static_cast<size_t>(2 * col + 1) + static_cast<size_t>(2 * row + 1) * track_verts;
      float cx = static_cast<float>(2 * col + 1) * track_spacing, cz = static_cast<float>(2 * row + 1) * track_spacing;
      float dry = value_noise(cx / 70.0f, cz / 70.0f, track->design->seed + 91u);
      float lush = value_noise(cx / 55.0f, cz / 55.0f, track->design->seed + 97u);
      if (track->edge[v] < 4.0f || dry > 0.7f) tile = tile_grass_dry;
      else if (lush > 0.7f) tile = tile_grass_lush;
    }
  // The edge: a corner of a grass square counts as track when any square
  // round it is; the surface is the one most of its neighbours have.
  std::vector<uint8_t> kinds(track->tilemap);
  auto at = [&](int col, int row) {
    return kinds[static_cast<size_t>(std::clamp(col, 0, track_tiles - 1) + std::clamp(row, 0, track_tiles - 1) * track_tiles)];
  };
  auto surface_of = [](int tile) {
    for (int k = 0; k < edge_surface_count; k++)
      if (edge_surfaces[k] == tile || (edge_surfaces[k] == tile_dirt && tile == tile_dirt_dark)) return k;
    return -1;
  };
  for (int row = 0; row < track_tiles; row++)
    for (int col = 0; col < track_tiles; col++) {
      if (at(col, row) != tile_grass_dry) continue;
      int votes[edge_surface_count] = {};
      for (int dz = -1; dz <= 1; dz++)
        for (int dx = -1; dx <= 1; dx++) {
          int k = surface_of(at(col + dx, row + dz));
          if (k >= 0) votes[k]++;
        }
      int best = static_cast<int>(std::max_element(votes, votes + edge_surface_count) - votes);
      if (votes[best] == 0) continue;
      int mask = 0;
      for (int corner = 0; corner < 4; corner++) {
        int cx = col + (corner & 1), cz = row + (corner >> 1);  // the corner between squares cx-1..cx, cz-1..cz
        bool track_corner = false;
        for (int q = 0; q < 4; q++) track_corner = track_corner || surface_of(at(cx - 1 + (q & 1), cz - 1 + (q >> 1))) >= 0;
        if (track_corner) mask |= 8 >> corner;
      }
      if (mask > 0 && mask < 15) track->tilemap[static_cast<size_t>(col + row * track_tiles)] = static_cast<uint8_t>(edge_tile(best, mask));
    }
}

void write_tile_files(const Track *track, Archive *archive) {
  Bytes info, list;
  for (int k = 0; k < tile_count; k++) {
    const TileSurface &t = tile_surfaces[tile_base(k)];
    if (k < tile_kind_count) {
      bytes_printf(&info, "name %s\n", t.name);
    } else {
      // "A-B-mask": the field's grass, the track's surface, its corners.
      int surface = (k - tile_kind_count) / edge_masks, mask = (k - tile_kind_count) % edge_masks + 1;
      bytes_printf(&info, "name %s-%s-%d%d%d%d\n", t.name, tile_surfaces[edge_surfaces[surface]].name, mask >> 3 & 1,
                   mask >> 2 & 1, mask >> 1 & 1, mask & 1);
    }
    bytes_printf(&info, "texture %s\n", tile_texture(k));
    for (const auto &f : t.friction) bytes_printf(&info, "friction %g %g\n", f[0], f[1]);
    bytes_printf(&info, "roll_resist %g %g 1\nroost texture=%s %s\nerode_depth %g\naddtile\n\n", t.roll[0],
                 t.roll[1], roost_texture(k), t.roost, t.erode_depth);
    // The older form: grip and rolling resistance, then the path without "@".
    bytes_printf(&list, "%g %g %g %s\n", t.friction[0][0], t.roll[0], t.roll[1], tile_texture(k) + 1);
  }
  std::string dir = track->design->dir;
  archive_add(archive, dir + "/tileinfo", std::move(info));
  archive_add(archive, dir + "/texturelist", std::move(list));
  Bytes map;
  bytes_append(&map, track->tilemap.data(), track->tilemap.size());
  archive_add_compressed(archive, dir + "/tilemap", map);
}

}  // namespace databuild
