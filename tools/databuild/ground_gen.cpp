// The ground's look: a seamless texture for every surface of the tile table
// (one covers a 2 ft tile square, so 128 texels a foot), the decal pictures
// (finish and start lines, lime on the lips, the name on the start pad),
// the roost particles of every surface, and per track the baked shadows
// ("shadows.pgm": the height field and the trees ray-marched toward the
// sun) and shading ("shadingx2.ppm": half the lit colour, as the game
// reshades a vertex).
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "databuild.h"
#include "image_gen.h"

namespace databuild {

namespace {

constexpr int tile_size = 256;

// Calls draw at (x, y) and at every copy of it one tile over that can
// still reach into the tile, so details cross the edges seamlessly.
template <typename Draw>
void wrapped(float x, float y, float reach, const Draw &draw) {
  for (int dy = -1; dy <= 1; dy++)
    for (int dx = -1; dx <= 1; dx++) {
      float px = x + static_cast<float>(dx * tile_size), py = y + static_cast<float>(dy * tile_size);
      if (px + reach < 0 || py + reach < 0 || px - reach > tile_size || py - reach > tile_size) continue;
      draw(px, py);
    }
}

// Base colour with broad and fine seamless variation.
Canvas soil_base(Rgba colour, uint32_t seed, float broad, float fine) {
  Canvas c = canvas_make(tile_size, tile_size, colour);
  for (int j = 0; j < tile_size; j++)
    for (int i = 0; i < tile_size; i++) {
      float u = static_cast<float>(i) / tile_size, v = static_cast<float>(j) / tile_size;
      float b = fractal_noise(u * 4.0f, v * 4.0f, 3, seed, 4) - 0.5f;
      float f = fractal_noise(u * 32.0f, v * 32.0f, 3, seed + 7u, 32) - 0.5f;
      float g = value_noise(u * 128.0f, v * 128.0f, seed + 13u, 128) - 0.5f;
      canvas_at(&c, i, j) = scaled(colour, 1.0f + broad * b + fine * f + 0.5f * fine * g);
    }
  return c;
}

// Stones and clods: a lit top-left, a shadow to the lower right.
void scatter_clods(Canvas *c, Dice *dice, int count, float r0, float r1, Rgba colour, float variation,
                   float shadow) {
  for (int k = 0; k < count; k++) {
    float x = dice->range(0, tile_size), y = dice->range(0, tile_size);
    float r = dice->range(r0, r1), squash = dice->range(0.6f, 1.0f);
    Rgba base = scaled(colour, dice->range(1.0f - variation, 1.0f + variation));
    wrapped(x, y, r * 2.0f, [&](float px, float py) {
      fill_ellipse(c, px + r * 0.35f, py + r * 0.4f, r * 1.05f, r * squash * 1.05f, Rgba{0.08f, 0.05f, 0.03f, shadow});
      fill_ellipse(c, px, py, r, r * squash, base);
      fill_ellipse(c, px - r * 0.3f, py - r * 0.3f * squash, r * 0.45f, r * 0.4f * squash,
                   with_alpha(scaled(base, 1.25f), 0.6f));
    });
  }
}

Canvas dirt_texture(Rgba colour, uint32_t seed, int stones, int clods) {
  Canvas c = soil_base(colour, seed, 0.16f, 0.16f);
  Dice dice(seed);
  scatter_clods(&c, &dice, clods, 2.0f, 6.0f, scaled(colour, 0.95f), 0.12f, 0.35f);
  scatter_clods(&c, &dice, stones, 1.2f, 3.5f, rgb_hex(0x8a8072), 0.2f, 0.4f);
  return c;
}

Canvas loose_texture(Rgba colour, uint32_t seed) {
  Canvas c = soil_base(colour, seed, 0.2f, 0.2f);
  Dice dice(seed);
  scatter_clods(&c, &dice, 700, 2.0f, 7.5f, scaled(colour, 1.0f), 0.18f, 0.5f);
  scatter_clods(&c, &dice, 60, 1.2f, 3.0f, rgb_hex(0x93897b), 0.2f, 0.45f);
  return c;
}

Canvas grass_texture(Rgba soil, Rgba blade, Rgba tip, uint32_t seed, int blades) {
  Canvas c = soil_base(soil, seed, 0.2f, 0.25f);
  Dice dice(seed);
  // Tufts: blades from a common root, leaning every way, as seen from above.
  for (int k = 0; k < blades; k++) {
    float x = dice.range(0, tile_size), y = dice.range(0, tile_size);
    float a = dice.range(0.0f, 6.2831853f), len = dice.range(5.0f, 13.0f), w = dice.range(1.1f, 2.0f);
    float shade = dice.range(0.75f, 1.2f);
    Rgba colour = scaled(mix(blade, tip, dice.uniform()), shade);
    float ex = x + std::cos(a) * len, ey = y + std::sin(a) * len;
    wrapped(x, y, len + 2.0f, [&](float px, float py) {
      stroke_line(&c, px + 1.0f, py + 1.2f, ex - x + px + 1.0f, ey - y + py + 1.2f, w, Rgba{0.05f, 0.08f, 0.02f, 0.25f});
      stroke_line(&c, px, py, ex - x + px, ey - y + py, w, colour);
    });
  }
  return c;
}

Canvas startpad_texture(uint32_t seed) {
  Rgba colour = rgb_hex(0x9c8c74);
  Canvas c = soil_base(colour, seed, 0.1f, 0.1f);
  Dice dice(seed);
  scatter_clods(&c, &dice, 80, 1.0f, 2.5f, rgb_hex(0xb0a28c), 0.1f, 0.25f);
  scatter_clods(&c, &dice, 40, 1.0f, 2.5f, rgb_hex(0x6e6252), 0.1f, 0.25f);
  return c;
}

struct GroundTile {
  const char *texture;
  const char *roost;
};

const GroundTile ground_tiles[tile_kind_count] = {
    {"@ground/grass-repeat.png", "@roost/grass.png"},      {"@ground/dirt-repeat.png", "@roost/dirt.png"},
    {"@ground/loam-repeat.png", "@roost/loam.png"},        {"@ground/startpad-repeat.png", "@roost/dust.png"},
    {"@ground/loose-repeat.png", "@roost/dirt.png"},       {"@ground/grass-dry-repeat.png", "@roost/grass.png"},
    {"@ground/grass-lush-repeat.png", "@roost/grass.png"}, {"@ground/dirt-dark-repeat.png", "@roost/loam.png"},
};

Canvas tile_picture(int tile) {
  switch (tile) {
    case tile_grass: return grass_texture(rgb_hex(0x3f4a22), rgb_hex(0x4f7a2a), rgb_hex(0x86a447), 0x6a11u, 2600);
    case tile_grass_dry: return grass_texture(rgb_hex(0x474b26), rgb_hex(0x587a2c), rgb_hex(0x93a24e), 0x6a12u, 2400);
    case tile_grass_lush: return grass_texture(rgb_hex(0x3b4720), rgb_hex(0x4a7628), rgb_hex(0x7e9e42), 0x6a13u, 2800);
    case tile_dirt: return dirt_texture(rgb_hex(0x7e6047), 0x6a21u, 90, 160);
    case tile_dirt_dark: return dirt_texture(rgb_hex(0x775a41), 0x6a22u, 70, 200);
    case tile_loose: return loose_texture(rgb_hex(0x84654a), 0x6a31u);
    case tile_berm: return dirt_texture(rgb_hex(0x6c4c36), 0x6a41u, 30, 650);
    default: return startpad_texture(0x6a51u);
  }
}

// Worn paint: the alpha thins where the noise says it has worn off.
void wear(Canvas *c, uint32_t seed, float scale, float amount) {
  for (int j = 0; j < c->height; j++)
    for (int i = 0; i < c->width; i++) {
      float n = fractal_noise(static_cast<float>(i) / scale, static_cast<float>(j) / scale, 4, seed);
      Rgba &p = canvas_at(c, i, j);
      p.a *= std::clamp(1.0f - amount * smoothstep((n - 0.45f) / 0.25f), 0.0f, 1.0f);
    }
}

void write_decal_textures(Archive *archive) {
  Rgba paint = rgb_hex(0xf4f2ea);
  // The finish line: two rows of chequers across the track.
  Canvas finish = canvas_make(1024, 64, with_alpha(paint, 0.0f));
  for (int k = 0; k < 64; k++) {
    float x = static_cast<float>(k % 32) * 32.0f, y = static_cast<float>(k / 32) * 32.0f;
    bool white = ((k % 32) + k / 32) % 2 == 0;
    fill_rect(&finish, x, y, x + 32.0f, y + 32.0f, white ? paint : rgb_hex(0x1c1c1c));
  }
  wear(&finish, 0xdec1u, 14.0f, 0.8f);
  bleed_colour(&finish);
  archive_add_png(archive, decal_finish + 1, finish, 4);

  Canvas start = canvas_make(512, 16, with_alpha(paint, 0.0f));
  fill_rect(&start, 0.0f, 3.0f, 512.0f, 13.0f, paint);
  wear(&start, 0xdec2u, 6.0f, 0.7f);
  bleed_colour(&start);
  archive_add_png(archive, decal_start + 1, start, 4);

  // Lime dusted across a lip: a soft-edged band.
  Canvas lip = canvas_make(512, 32, with_alpha(rgb_hex(0xf2f5ee), 0.0f));
  for (int j = 0; j < 32; j++)
    for (int i = 0; i < 512; i++) {
      float d = std::fabs((static_cast<float>(j) + 0.5f) - 16.0f) / 16.0f;
      float n = fractal_noise(static_cast<float>(i) / 5.0f, static_cast<float>(j) / 5.0f, 3, 0xdec3u);
      canvas_at(&lip, i, j).a = std::clamp((1.0f - smoothstep((d - 0.35f) / 0.6f)) * (0.55f + 0.6f * n), 0.0f, 0.95f);
    }
  archive_add_png(archive, decal_lip + 1, lip, 4);

  Canvas logo = canvas_make(512, 128, with_alpha(paint, 0.0f));
  fill_rect(&logo, 24.0f, 100.0f, 488.0f, 112.0f, rgb_hex(0xc8281e));
  draw_text_centred(&logo, face_sans_bold, 92.0f, 256.0f, 90.0f, "TORVANE", paint);
  wear(&logo, 0xdec4u, 10.0f, 0.35f);
  bleed_colour(&logo);
  archive_add_png(archive, decal_logo + 1, logo, 4);
}

// A spray of dirt: one clod and crumbs round it, light grey so the roost
// colour of the surface tints it.
Canvas roost_picture(uint32_t seed, int crumbs, float softness, bool blades) {
  constexpr int size = 64;
  Canvas c = canvas_make(size, size, {1, 1, 1, 0});
  Dice dice(seed);
  if (softness > 0.0f) {
    // Dust: a soft cloud.
    for (int k = 0; k < 9; k++)
      fill_ellipse(&c, dice.range(20, 44), dice.range(22, 44), dice.range(10, 18), dice.range(8, 14),
                   Rgba{0.92f, 0.92f, 0.92f, 0.22f});
    canvas_blur(&c, softness, false);
  }
  for (int k = 0; k < crumbs; k++) {
    float a = dice.range(0.0f, 6.2831853f), r = 22.0f * std::sqrt(dice.uniform());
    float x = 32.0f + r * std::cos(a), y = 32.0f + r * std::sin(a);
    float s = dice.range(1.2f, 4.0f) * (1.0f - r / 30.0f) + 0.8f;
    float shade = dice.range(0.7f, 1.0f);
    if (blades && k % 3 == 0) {
      float b = dice.range(0.0f, 6.2831853f);
      stroke_line(&c, x, y, x + 7.0f * std::cos(b), y + 7.0f * std::sin(b), 1.6f, Rgba{shade, shade, shade, 1});
    } else {
      fill_ellipse(&c, x + 0.6f, y + 0.7f, s, s * 0.8f, Rgba{0.45f, 0.45f, 0.45f, 0.8f});
      fill_ellipse(&c, x, y, s, s * 0.8f, Rgba{shade, shade, shade, 1});
    }
  }
  bleed_colour(&c);
  return c;
}

void write_roost_textures(Archive *archive) {
  archive_add_png(archive, "roost/dirt.png", roost_picture(0x6001u, 40, 0.0f, false), 4);
  archive_add_png(archive, "roost/loam.png", roost_picture(0x6002u, 55, 0.0f, false), 4);
  archive_add_png(archive, "roost/grass.png", roost_picture(0x6003u, 36, 0.0f, true), 4);
  archive_add_png(archive, "roost/dust.png", roost_picture(0x6004u, 14, 3.0f, false), 4);
  // The game's default particle for surfaces that name none.
  Bytes link;
  bytes_printf(&link, "LINK @roost/dirt.png\n");
  archive_add(archive, "roost.png", std::move(link));
}

}  // namespace

const char *tile_texture(int tile) {
  static std::vector<std::string> edges;
  if (tile < tile_kind_count) return ground_tiles[tile].texture;
  if (edges.empty())
    for (int k = tile_kind_count; k < tile_count; k++) {
      int surface = (k - tile_kind_count) / edge_masks, mask = (k - tile_kind_count) % edge_masks + 1;
      char name[96];
      snprintf(name, sizeof name, "@ground/edge-%d-%d%d%d%d-repeat.png", surface, mask >> 3 & 1, mask >> 2 & 1,
               mask >> 1 & 1, mask & 1);
      edges.push_back(name);
    }
  return edges[static_cast<size_t>(tile - tile_kind_count)].c_str();
}

const char *roost_texture(int tile) { return ground_tiles[tile_base(tile)].roost; }

void write_ground_textures(Archive *archive) {
  std::vector<Canvas> pictures;
  for (int t = 0; t < tile_kind_count; t++) {
    pictures.push_back(tile_picture(t));
    archive_add_png(archive, ground_tiles[t].texture + 1, pictures.back(), 3);
  }
  // Edge tiles: the track's surface over the grass where the corners say,
  // the line between them ragged but the same along a shared side.
  for (int k = tile_kind_count; k < tile_count; k++) {
    int surface = (k - tile_kind_count) / edge_masks, mask = (k - tile_kind_count) % edge_masks + 1;
    const Canvas &grass = pictures[tile_grass_dry], &track = pictures[static_cast<size_t>(edge_surfaces[surface])];
    float corner[4];
    for (int c = 0; c < 4; c++) corner[c] = static_cast<float>(mask >> (3 - c) & 1);
    Canvas out = grass;
    for (int j = 0; j < tile_size; j++)
      for (int i = 0; i < tile_size; i++) {
        float u = (static_cast<float>(i) + 0.5f) / tile_size, v = (static_cast<float>(j) + 0.5f) / tile_size;
        float w = (corner[0] * (1 - u) + corner[1] * u) * (1 - v) + (corner[2] * (1 - u) + corner[3] * u) * v;
        float ragged = fractal_noise(u * 8.0f, v * 8.0f, 3, 0xed9eu, 8) - 0.5f;
        float t = smoothstep((w + 0.45f * ragged - 0.5f) / 0.08f + 0.5f);
        Rgba g = canvas_at(&out, i, j), d = track.pixels[static_cast<size_t>(j) * tile_size + i];
        // Grass right at the edge is darkened by the dirt thrown on it.
        canvas_at(&out, i, j) = mix(scaled(g, 1.0f - 0.25f * smoothstep((w - 0.15f) / 0.35f)), d, t);
      }
    archive_add_png(archive, tile_texture(k) + 1, out, 3);
  }
  write_decal_textures(archive);
  write_roost_textures(archive);
}

void write_ground_files(const Track *track, const Scenery *scenery, const TrackLight *light, Archive *archive) {
  std::string dir = track->design->dir;
  const float *L = light->sun;
  // Shadows: a vertex is in shade where the ground rises above the line
  // from it toward the sun; the last half foot of clearance fades it in.
  float flat = length2d(L[0], L[2]);
  float rise = L[1] / flat;  // height gained per foot toward the sun
  std::vector<float> lit(static_cast<size_t>(track_verts) * track_verts, 1.0f);
  for (int j = 0; j < track_verts; j++)
    for (int i = 0; i < track_verts; i++) {
      float x = static_cast<float>(i) * track_spacing, z = static_cast<float>(j) * track_spacing;
      float h = vertex_height(track, i, j), light_left = 1.0f;
      for (float t = 1.0f; h + t * rise < track->max_height && light_left > 0.0f; t += 1.0f) {
        float clearance = h + t * rise - track_height(track, x + L[0] / flat * t, z + L[2] / flat * t);
        light_left = std::min(light_left, std::clamp(clearance * 2.0f, 0.0f, 1.0f));
      }
      lit[static_cast<size_t>(i) + static_cast<size_t>(j) * track_verts] = light_left;
    }
  // Trees: the crown's shadow, a soft ellipse stretched away from the sun.
  float stretch = 1.0f / std::max(L[1], 0.2f);
  float ax = -L[0] / flat, az = -L[2] / flat;  // along the shadow on the ground
  for (const Placed &b : scenery->billboards) {
    if (b.shadow_radius <= 0.0f) continue;
    float cx = b.x + ax * b.shadow_height * flat / L[1], cz = b.z + az * b.shadow_height * flat / L[1];
    float along = b.shadow_radius * stretch, across = b.shadow_radius;
    int i0 = std::max(0, static_cast<int>((cx - along) / track_spacing) - 1);
    int i1 = std::min(track_verts - 1, static_cast<int>((cx + along) / track_spacing) + 1);
    int j0 = std::max(0, static_cast<int>((cz - along) / track_spacing) - 1);
    int j1 = std::min(track_verts - 1, static_cast<int>((cz + along) / track_spacing) + 1);
    for (int j = j0; j <= j1; j++)
      for (int i = i0; i <= i1; i++) {
        float dx = static_cast<float>(i) * track_spacing - cx, dz = static_cast<float>(j) * track_spacing - cz;
        float u = (dx * ax + dz * az) / along, w = (-dx * az + dz * ax) / across;
        float r = std::sqrt(u * u + w * w);
        float shade = 0.72f * (1.0f - smoothstep((r - 0.55f) / 0.45f));
        float &v = lit[static_cast<size_t>(i) + static_cast<size_t>(j) * track_verts];
        v = std::min(v, 1.0f - shade);
      }
  }
  std::vector<unsigned char> shadow(lit.size());
  for (size_t v = 0; v < lit.size(); v++) shadow[v] = static_cast<unsigned char>(std::lround(255.0f * lit[v]));
  Bytes pgm;
  bytes_printf(&pgm, "P5\n%d %d\n255\n", track_verts, track_verts);
  bytes_append(&pgm, shadow.data(), shadow.size());
  archive_add_compressed(archive, dir + "/shadows.pgm", pgm);

  // Shading at half intensity, lit by the track's sun as the game reshades it.
  Bytes ppm;
  bytes_printf(&ppm, "P6\n%d %d\n255\n", track_verts, track_verts);
  std::vector<unsigned char> pixels(static_cast<size_t>(track_verts) * track_verts * 3);
  for (int j = 0; j < track_verts; j++)
    for (int i = 0; i < track_verts; i++) {
      float nx = -(vertex_height(track, i + 1, j) - vertex_height(track, i - 1, j)) / (2.0f * track_spacing);
      float nz = -(vertex_height(track, i, j + 1) - vertex_height(track, i, j - 1)) / (2.0f * track_spacing);
      float len = std::sqrt(nx * nx + 1.0f + nz * nz);
      size_t v = static_cast<size_t>(i) + static_cast<size_t>(j) * track_verts;
      float amount = std::clamp((L[0] * nx + L[1] + L[2] * nz) / len, 0.0f, 1.0f) * static_cast<float>(shadow[v]) / 255.0f;
      for (int c = 0; c < 3; c++) {
        float value = std::trunc(((light->sun_color[c] * amount + light->ambient[c]) * 0.5f) * 255.0f);
        pixels[v * 3 + static_cast<size_t>(c)] = static_cast<unsigned char>(std::clamp(value, 0.0f, 255.0f));
      }
    }
  bytes_append(&ppm, pixels.data(), pixels.size());
  archive_add_compressed(archive, dir + "/shadingx2.ppm", ppm);
}

}  // namespace databuild
