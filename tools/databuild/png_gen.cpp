// Pictures: the HUD's map of a track ("map.png"), and the top-down picture
// of a track for people: the ground shaded by its slopes and tinted by
// height, the tiles' colours, the racing line (red), the checkpoints (white
// where robot line segments end, yellow elsewhere), the take-off lips
// (orange) and the starting grid (blue).
#include <algorithm>
#include <cmath>

#include "databuild.h"

namespace databuild {

namespace {

struct Picture {
  int size;
  std::vector<unsigned char> rgb;
};

void plot(Picture *p, float x, float z, const unsigned char colour[3]) {
  int i = static_cast<int>(std::lround(x / track_spacing)), j = static_cast<int>(std::lround(z / track_spacing));
  if (i < 0 || j < 0 || i >= p->size || j >= p->size) return;
  unsigned char *px = &p->rgb[(static_cast<size_t>(i) + static_cast<size_t>(j) * p->size) * 3];
  px[0] = colour[0];
  px[1] = colour[1];
  px[2] = colour[2];
}

void segment(Picture *p, float x0, float z0, float x1, float z1, const unsigned char colour[3]) {
  int steps = static_cast<int>(std::hypot(x1 - x0, z1 - z0) / (0.5f * track_spacing)) + 1;
  for (int k = 0; k <= steps; k++) {
    float t = static_cast<float>(k) / static_cast<float>(steps);
    plot(p, x0 + (x1 - x0) * t, z0 + (z1 - z0) * t, colour);
  }
}

}  // namespace

int write_track_picture(const Track *track, const char *path) {
  Picture pic{track_verts, std::vector<unsigned char>(static_cast<size_t>(track_verts) * track_verts * 3)};
  static const unsigned char tile_colour[tile_kind_count][3] = {
      {92, 132, 70}, {150, 112, 78}, {128, 88, 58}, {170, 166, 156}};
  float range = std::max(track->max_height - track->min_height, 1.0f);
  for (int j = 0; j < track_verts; j++)
    for (int i = 0; i < track_verts; i++) {
      size_t v = static_cast<size_t>(i) + static_cast<size_t>(j) * track_verts;
      int tile = track->tilemap[static_cast<size_t>(std::min(i / 2, track_tiles - 1) +
                                                    std::min(j / 2, track_tiles - 1) * track_tiles)];
      float h = track->heights[v];
      float hx = i + 1 < track_verts ? track->heights[v + 1] - h : 0.0f;
      float hz = j + 1 < track_verts ? track->heights[v + track_verts] - h : 0.0f;
      float shade = std::clamp(0.8f + 0.6f * (-hx * 0.5f - hz * 0.7f), 0.35f, 1.3f);
      float tint = 0.8f + 0.4f * (h - track->min_height) / range;
      for (int c = 0; c < 3; c++)
        pic.rgb[v * 3 + static_cast<size_t>(c)] =
            static_cast<unsigned char>(std::clamp(tile_colour[tile][c] * shade * tint, 0.0f, 255.0f));
    }
  static const unsigned char red[3] = {220, 30, 30}, white[3] = {255, 255, 255}, yellow[3] = {240, 220, 40},
                             orange[3] = {255, 140, 0}, blue[3] = {40, 80, 255};
  for (const TrackSample &s : track->line) plot(&pic, s.x, s.z, red);
  for (const Checkpoint &c : track->checkpoints)
    segment(&pic, c.x + c.dz * c.radius, c.z - c.dx * c.radius, c.x - c.dz * c.radius, c.z + c.dx * c.radius,
            c.unmarked ? white : yellow);
  for (const Jump &jump : track->jumps)
    for (float back = 0.0f; back < 3.0f; back += 1.0f) {
      const TrackSample *s = sample_at(track, jump.lip_s - back);
      segment(&pic, s->x + s->tz * s->half_width, s->z - s->tx * s->half_width, s->x - s->tz * s->half_width,
              s->z + s->tx * s->half_width, orange);
    }
  for (const GridPosition &g : track->grid) {
    plot(&pic, g.x, g.z, blue);
    plot(&pic, g.x + 1.0f, g.z, blue);
    plot(&pic, g.x, g.z + 1.0f, blue);
  }

  Bytes png;
  if (!encode_png_pixels(pic.rgb.data(), pic.size, pic.size, 3, nullptr, &png)) return 0;
  return write_file_atomic(path, png);
}

void write_map_image(const Track *track, Archive *archive) {
  // The HUD's map: the whole terrain seen from above, x to the right and z
  // down; the track surface light and its edges dark, the rest clear.
  constexpr int size = 256;
  constexpr int step = (track_verts - 1) / size;
  std::vector<unsigned char> rgba(static_cast<size_t>(size) * size * 4, 0);
  for (int j = 0; j < size; j++)
    for (int i = 0; i < size; i++) {
      size_t v = static_cast<size_t>(i * step + step / 2) + static_cast<size_t>(j * step + step / 2) * track_verts;
      float edge = track->edge[v];
      unsigned char *px = &rgba[(static_cast<size_t>(i) + static_cast<size_t>(j) * size) * 4];
      if (edge <= 0.0f) {
        px[0] = 236, px[1] = 226, px[2] = 204, px[3] = 210;
      } else if (edge <= 3.0f) {
        px[0] = 40, px[1] = 32, px[2] = 24, px[3] = 220;
      }
    }
  Bytes png;
  if (encode_png_pixels(rgba.data(), size, size, 4, nullptr, &png))
    archive_add(archive, std::string(track->design->dir) + "/map.png", std::move(png));
}

}  // namespace databuild
