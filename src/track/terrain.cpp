// The height field "terrain.hf":
//   a text header "%d %f %f %f" (size exponent n, spacing, minimum and
//   maximum height) and its trailing white space; then either ':' followed
//   by R * R unsigned 16-bit little-endian samples in row order (R = 2^(n+1)
//   + 1), or anything else, in which case the samples come from the 16-bit
//   grey image "terrain.png". Sample v is the height min + v * (max - min) /
//   65535.
#include "track/terrain.h"


#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "app/ripemd160.h"
#include "render/terrain_render.h"
#include "assets/file.h"
#include "platform/log.h"
#include "track/track.h"

namespace {

// Grid coordinates beyond this are clamped before the float-to-int step;
// the surface is flat out there anyway.
constexpr float grid_coordinate_limit = 1073741824.0f;
// A sphere is tested against at most this many cells per axis around it.
constexpr int max_contact_cells = 64;
// Spheres spanning at most this many cells per axis read their heights once
// into a buffer on the stack.
constexpr int max_buffered_cells = 16;
// Images larger than this are refused rather than decoded.
constexpr long max_image_pixels = 1L << 26;
constexpr long max_image_file_bytes = 1L << 28;

void *zeroed_or_die(size_t count, size_t size) {
  void *block = tracked_calloc(count, size);
  if (!block) hovl_fatal_out_of_memory();
  return block;
}

int bit_words(long bits) { return static_cast<int>((bits + 31) / 32); }

inline void set_bit(uint32_t *bits, int index) { bits[index >> 5] |= 1u << (index & 31); }

inline float clamp_grid(float g) {
  // Written so that NaN ends up at the low limit.
  if (!(g > -grid_coordinate_limit)) return -grid_coordinate_limit;
  if (!(g < grid_coordinate_limit)) return grid_coordinate_limit;
  return g;
}

inline float vertex_height(const Terrain *t, int a, int b) {
  int last = t->verts_per_side - 1;
  a = a < 0 ? 0 : (a > last ? last : a);
  b = b < 0 ? 0 : (b > last ? last : b);
  return t->heights[a + b * t->verts_per_side];
}

inline void sub3(const float a[3], const float b[3], float out[3]) {
  out[0] = a[0] - b[0];
  out[1] = a[1] - b[1];
  out[2] = a[2] - b[2];
}
inline float dot3(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline void cross3(const float a[3], const float b[3], float out[3]) {
  float x = a[1] * b[2] - a[2] * b[1];
  float y = a[2] * b[0] - a[0] * b[2];
  float z = a[0] * b[1] - a[1] * b[0];
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

// World position of vertex (i, j) with a clamped height read.
inline void vertex_position(const Terrain *t, int i, int j, float out[3]) {
  out[0] = static_cast<float>(i) * t->spacing;
  out[1] = vertex_height(t, i, j);
  out[2] = static_cast<float>(j) * t->spacing;
}

// The two triangles of cell (i, j), vertices ordered so that
// (T1 - T0) x (T2 - T0) points up.
void cell_triangle(const Terrain *t, int i, int j, int half, float v[3][3]) {
  int p = ((i & 1) == (j & 1)) ? 1 : 0;
  if (half == 0) {
    vertex_position(t, i, j, v[0]);
    vertex_position(t, i, j + 1, v[1]);
    vertex_position(t, i + 1, j + p, v[2]);
  } else {
    vertex_position(t, i + 1, j + 1, v[0]);
    vertex_position(t, i + 1, j, v[1]);
    vertex_position(t, i, j + 1 - p, v[2]);
  }
}

// Sphere against one triangle. Returns the depth (negative or zero when
// clear); point and normal are set whenever the depth is positive.
float sphere_triangle(const float c[3], float r, float tri[3][3], float point[3], float normal[3]) {
  float e[3][3], n[3], m[3][3], rel[3][3];
  for (int k = 0; k < 3; k++) {
    sub3(tri[(k + 1) % 3], tri[k], e[k]);
    sub3(c, tri[k], rel[k]);
  }
  float e2[3];
  sub3(tri[2], tri[0], e2);
  cross3(e[0], e2, n);
  int outside = 0;
  for (int k = 0; k < 3; k++) {
    cross3(e[k], n, m[k]);
    if (dot3(rel[k], m[k]) > 0) outside = 1;
  }
  float n_length = std::sqrt(dot3(n, n));
  if (!(n_length > 0)) return 0;  // degenerate triangle
  float unit[3] = {n[0] / n_length, n[1] / n_length, n[2] / n_length};

  if (outside) {
    // The nearest point of the triangle's rim: each edge's nearest point
    // (its parameter clamped to the segment, so corners are included),
    // the closest one winning, the lower edge on a tie. Taking merely the
    // first edge whose unclamped parameter falls inside the segment can
    // pick a far edge and miss a sphere resting on a sharp crest.
    float d[3] = {rel[0][0], rel[0][1], rel[0][2]};
    float best_d2 = -1;
    for (int k = 0; k < 3; k++) {
      float ee = dot3(e[k], e[k]);
      float s = ee > 0 ? dot3(rel[k], e[k]) / ee : 0;
      s = s < 0 ? 0 : (s > 1 ? 1 : s);
      float candidate[3] = {rel[k][0] - s * e[k][0], rel[k][1] - s * e[k][1], rel[k][2] - s * e[k][2]};
      float d2 = dot3(candidate, candidate);
      if (best_d2 < 0 || d2 < best_d2) {
        best_d2 = d2;
        memcpy(d, candidate, sizeof d);
      }
    }
    float length = std::sqrt(dot3(d, d));
    if (length > 0) {
      for (int a = 0; a < 3; a++) normal[a] = d[a] / length;
    } else {
      // The centre lies on the triangle's rim: the face normal is the
      // only sensible direction.
      for (int a = 0; a < 3; a++) normal[a] = unit[a];
    }
    for (int a = 0; a < 3; a++) point[a] = c[a] - r * normal[a];
    return r - length;
  }

  float s = dot3(rel[0], unit);
  if (s < -r) {
    // More than a radius below the plane: only inside the vertical prism.
    for (int k = 0; k < 3; k++) {
      float side[3] = {-e[k][2], 0, e[k][0]};  // e_k x (0, 1, 0)
      if (dot3(rel[k], side) > 0) return 0;
    }
  }
  for (int a = 0; a < 3; a++) {
    normal[a] = unit[a];
    point[a] = c[a] - r * unit[a];
  }
  return r - s;
}

void compute_triangle_normal(Terrain *t, int k, int j, float out[3]) {
  float v[3][3], e1[3], e2[3];
  cell_triangle(t, k >> 1, j, k & 1, v);
  sub3(v[1], v[0], e1);
  sub3(v[2], v[0], e2);
  cross3(e1, e2, out);
  float length = std::sqrt(dot3(out, out));
  if (length > 0) {
    for (int a = 0; a < 3; a++) out[a] /= length;
  } else {
    out[0] = 0;
    out[1] = 1;
    out[2] = 0;
  }
}

int read_whole_file(const char *path, uint8_t **data, long *size) {
  DataFile *file = dfile_open(path, "rb");
  if (!file) return 0;
  long capacity = 65536, used = 0;
  uint8_t *buffer = static_cast<uint8_t *>(alloc_or_die(capacity));
  for (;;) {
    if (used == capacity) {
      if (capacity >= max_image_file_bytes) break;
      capacity *= 2;
      buffer = static_cast<uint8_t *>(realloc_or_die(buffer, capacity));
    }
    int got = dfile_read(file, buffer + used, static_cast<int>(capacity - used));
    if (got <= 0) break;
    used += got;
  }
  dfile_close(file);
  *data = buffer;
  *size = used;
  return 1;
}

// The heights from a grey PNG: 16-bit samples as they are, 8-bit ones
// widened by repeating the byte; colour images converted to grey. Uses the
// simplified libpng interface, which reports errors without longjmp.
int read_png_heights(Terrain *t, const char *path, const float *sample_height) {
  uint8_t *data = nullptr;
  long size = 0;
  if (!path || !read_whole_file(path, &data, &size)) return 0;
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  int ok = 0;
  if (png_image_begin_read_from_memory(&image, data, static_cast<size_t>(size))) {
    long pixels = static_cast<long>(image.width) * image.height;
    if (image.width == 0 || image.height == 0 || pixels > max_image_pixels) {
      png_image_free(&image);
    } else {
      int wide = (image.format & PNG_FORMAT_FLAG_LINEAR) != 0;
      image.format = wide ? PNG_FORMAT_LINEAR_Y : PNG_FORMAT_GRAY;
      uint16_t *samples = static_cast<uint16_t *>(alloc_or_die(static_cast<size_t>(pixels) * 2));
      if (png_image_finish_read(&image, nullptr, samples, 0, nullptr)) {
        if (!wide) {
          // Widen in place from the back so no byte is overwritten early.
          const uint8_t *bytes = reinterpret_cast<const uint8_t *>(samples);
          for (long p = pixels - 1; p >= 0; p--) samples[p] = static_cast<uint16_t>(bytes[p] * 257);
        }
        int w = static_cast<int>(image.width), h = static_cast<int>(image.height);
        int verts = t->verts_per_side;
        for (int j = 0; j < verts; j++) {
          const uint16_t *row = samples + static_cast<long>(j < h ? j : h - 1) * w;
          float *out = t->heights + static_cast<long>(j) * verts;
          for (int i = 0; i < verts; i++) out[i] = sample_height[row[i < w ? i : w - 1]];
        }
        ok = 1;
      }
      tracked_free(samples);
    }
  }
  tracked_free(data);
  return ok;
}

}  // namespace

Terrain *terrain_create(int size_exp, float spacing, float min_h, float max_h) {
  if (size_exp < 1 || size_exp > max_size_exp) return nullptr;
  if (!std::isfinite(spacing) || !(spacing > 0) || !std::isfinite(min_h) || !std::isfinite(max_h)) {
    return nullptr;
  }
  int tiles = 1 << size_exp;
  int verts = 2 * tiles + 1;
  float extent = static_cast<float>(2 * tiles) * spacing;
  if (!std::isfinite(extent) || !std::isfinite(1.0f / spacing)) return nullptr;
  long vertex_count = static_cast<long>(verts) * verts;
  long triangle_count = 2L * (verts - 1) * (verts - 1);

  Terrain *t = static_cast<Terrain *>(zeroed_or_die(1, sizeof(Terrain)));
  t->heights = static_cast<float *>(alloc_or_die(sizeof(float) * vertex_count));
  for (long v = 0; v < vertex_count; v++) t->heights[v] = min_h;
  t->loaded_heights = static_cast<float *>(alloc_or_die(sizeof(float) * vertex_count));
  memcpy(t->loaded_heights, t->heights, sizeof(float) * vertex_count);
  t->triangle_normals = static_cast<float *>(zeroed_or_die(triangle_count * 3, sizeof(float)));
  t->triangle_dirty = static_cast<uint32_t *>(alloc_or_die(sizeof(uint32_t) * bit_words(triangle_count)));
  memset(t->triangle_dirty, 0xff, sizeof(uint32_t) * bit_words(triangle_count));
  t->shading_dirty = static_cast<uint32_t *>(alloc_or_die(sizeof(uint32_t) * bit_words(vertex_count)));
  t->normal_dirty = static_cast<uint32_t *>(alloc_or_die(sizeof(uint32_t) * bit_words(vertex_count)));
  memset(t->shading_dirty, 0xff, sizeof(uint32_t) * bit_words(vertex_count));
  memset(t->normal_dirty, 0xff, sizeof(uint32_t) * bit_words(vertex_count));
  t->extent = extent;
  t->spacing = spacing;
  t->inverse_spacing = 1.0f / spacing;
  t->tile_size = 2 * spacing;
  t->min_height = min_h;
  t->max_height = max_h;
  t->size_exp = size_exp;
  t->verts_per_side = verts;
  t->tiles_per_side = tiles;
  t->tilemap = static_cast<uint8_t *>(zeroed_or_die(static_cast<size_t>(tiles) * tiles, 1));
  return t;
}

void terrain_free(Terrain *terrain) {
  if (!terrain) return;
  terrain_render_free(terrain);
  tracked_free(terrain->heights);
  tracked_free(terrain->loaded_heights);
  tracked_free(terrain->triangle_normals);
  tracked_free(terrain->triangle_dirty);
  tracked_free(terrain->shading_dirty);
  tracked_free(terrain->normal_dirty);
  tracked_free(terrain->tilemap);
  for (int k = 0; k < terrain->tile_count; k++) tracked_free(terrain->tiles[k].tile_pixels);
  tracked_free(terrain);
}

Terrain *terrain_read(DataFile *file, const char *png_path) {
  int size_exp = 0;
  float spacing = 0, min_h = 0, max_h = 0;
  Terrain *t = nullptr;
  if (dfile_scanf(file, "%d %f %f %f ", &size_exp, &spacing, &min_h, &max_h) == 4 &&
      size_exp >= min_size_exp && size_exp <= max_size_exp) {
    t = terrain_create(size_exp, spacing, min_h, max_h);
  }
  if (!t) {
    print_message("Bad height field parameters");
    print_message("Error reading heights");
    return nullptr;
  }

  // Every sample value maps to one height; the table does the extended
  // precision arithmetic once instead of once per vertex.
  float *sample_height = static_cast<float *>(alloc_or_die(sizeof(float) * 65536));
  long double low = min_h, range = static_cast<long double>(max_h) - min_h;
  for (int v = 0; v < 65536; v++) sample_height[v] = static_cast<float>(low + v * range / 65535.0L);

  int verts = t->verts_per_side;
  if (dfile_getc(file) == ':') {
    int log_digest = track_verbosity() >= 2;
    Ripemd160 digest;
    ripemd160_init(&digest);
    uint8_t *row = static_cast<uint8_t *>(alloc_or_die(2 * static_cast<size_t>(verts)));
    int short_rows = 0;
    for (int j = 0; j < verts; j++) {
      int got = short_rows ? 0 : dfile_read(file, row, 2 * verts);
      if (got < 0) got = 0;
      if (got < 2 * verts) {
        // A cut-off file: the missing samples take the minimum height.
        if (!short_rows) print_message("terrain.hf warning: height samples cut short, the rest set to the minimum");
        short_rows = 1;
        memset(row + got, 0, 2 * verts - got);
      }
      if (log_digest) ripemd160_update(&digest, row, 2 * static_cast<size_t>(verts));
      float *out = t->heights + static_cast<long>(j) * verts;
      for (int i = 0; i < verts; i++) out[i] = sample_height[row[2 * i] | (row[2 * i + 1] << 8)];
    }
    tracked_free(row);
    if (log_digest) {
      uint8_t hash[20];
      char text[41];
      ripemd160_final(&digest, hash);
      for (int k = 0; k < 20; k++) snprintf(text + 2 * k, 3, "%02x", hash[k]);
      hovl_log("%s\n", text);
    }
  } else if (!read_png_heights(t, png_path, sample_height)) {
    // No samples and no readable image: the terrain stays flat at the minimum.
    for (long v = 0; v < static_cast<long>(verts) * verts; v++) t->heights[v] = min_h;
  }
  tracked_free(sample_height);
  memcpy(t->loaded_heights, t->heights, sizeof(float) * static_cast<size_t>(verts) * verts);
  return t;
}

Terrain *load_terrain_file(const char *path, const char *png_path) {
  DataFile *file = dfile_open(path, "rb");
  if (!file) {
    char text[1000];
    snprintf(text, sizeof text, "Can't open '%.950s'", path);
    print_message(text);
    return nullptr;
  }
  Terrain *t = terrain_read(file, png_path);
  dfile_close(file);
  return t;
}

float terrain_vertex_height(const Terrain *terrain, int i, int j) { return vertex_height(terrain, i, j); }

float terrain_height(const Terrain *t, float x, float z) {
  float gx = clamp_grid(x * t->inverse_spacing), gz = clamp_grid(z * t->inverse_spacing);
  float fi = std::floor(gx), fj = std::floor(gz);
  int i = static_cast<int>(fi), j = static_cast<int>(fj);
  float fx = gx - fi, fz = gz - fj;
  if ((i & 1) != (j & 1)) {
    if (fx + fz <= 1) {
      float h = vertex_height(t, i, j);
      return h + fx * (vertex_height(t, i + 1, j) - h) + fz * (vertex_height(t, i, j + 1) - h);
    }
    float h = vertex_height(t, i + 1, j + 1);
    return h + (1 - fx) * (vertex_height(t, i, j + 1) - h) + (1 - fz) * (vertex_height(t, i + 1, j) - h);
  }
  if (fz + (1 - fx) <= 1) {
    float h = vertex_height(t, i + 1, j);
    return h + (1 - fx) * (vertex_height(t, i, j) - h) + fz * (vertex_height(t, i + 1, j + 1) - h);
  }
  float h = vertex_height(t, i, j + 1);
  return h + fx * (vertex_height(t, i + 1, j + 1) - h) + (1 - fz) * (vertex_height(t, i, j) - h);
}

void terrain_normal(const Terrain *t, float x, float z, float normal[3]) {
  float gx = clamp_grid(x * t->inverse_spacing), gz = clamp_grid(z * t->inverse_spacing);
  float fi = std::floor(gx), fj = std::floor(gz);
  int i = static_cast<int>(fi), j = static_cast<int>(fj);
  float fx = gx - fi, fz = gz - fj;
  float dx, dz;  // height differences along +x and +z over the triangle's edges
  if ((i & 1) != (j & 1)) {
    if (fx + fz <= 1) {
      float h = vertex_height(t, i, j);
      dx = vertex_height(t, i + 1, j) - h;
      dz = vertex_height(t, i, j + 1) - h;
    } else {
      float h = vertex_height(t, i + 1, j + 1);
      dx = h - vertex_height(t, i, j + 1);
      dz = h - vertex_height(t, i + 1, j);
    }
  } else if (fz + (1 - fx) <= 1) {
    float h = vertex_height(t, i + 1, j);
    dx = h - vertex_height(t, i, j);
    dz = vertex_height(t, i + 1, j + 1) - h;
  } else {
    float h = vertex_height(t, i, j + 1);
    dx = vertex_height(t, i + 1, j + 1) - h;
    dz = h - vertex_height(t, i, j);
  }
  float n = t->spacing;
  normal[0] = -dx * n;
  normal[1] = n * n;
  normal[2] = -dz * n;
}

void terrain_triangle_normal(Terrain *t, int k, int j, float normal[3]) {
  int columns = 2 * t->verts_per_side - 2;
  k = k < 0 ? 0 : (k >= columns ? columns - 1 : k);
  j = j < 0 ? 0 : (j > t->verts_per_side - 2 ? t->verts_per_side - 2 : j);
  int index = k + columns * j;
  float *cached = t->triangle_normals + 3 * static_cast<long>(index);
  if (terrain_bit(t->triangle_dirty, index)) {
    compute_triangle_normal(t, k, j, cached);
    t->triangle_dirty[index >> 5] &= ~(1u << (index & 31));
  }
  normal[0] = cached[0];
  normal[1] = cached[1];
  normal[2] = cached[2];
}

void terrain_vertex_normal(Terrain *t, int i, int j, float normal[3]) {
  int last = t->verts_per_side - 1;
  i = i < 0 ? 0 : (i > last ? last : i);
  j = j < 0 ? 0 : (j > last ? last : j);
  int first = ((i + j) & 1) ? 2 * i - 1 : 2 * i - 2;
  int past = ((i + j) & 1) ? 2 * i + 1 : 2 * i + 2;
  float sum[3] = {0, 0, 0};
  for (int row = j - 1; row <= j; row++) {
    for (int k = first; k < past; k++) {
      float n[3];
      terrain_triangle_normal(t, k, row, n);  // clamps k and row
      sum[0] += n[0];
      sum[1] += n[1];
      sum[2] += n[2];
    }
  }
  float length = std::sqrt(dot3(sum, sum));
  if (length > 0) {
    normal[0] = sum[0] / length;
    normal[1] = sum[1] / length;
    normal[2] = sum[2] / length;
  } else {
    normal[0] = 0;
    normal[1] = 1;
    normal[2] = 0;
  }
}

int terrain_ball_clear(const Terrain *t, const float centre[3], float radius) {
  if (!std::isfinite(centre[0]) || !std::isfinite(centre[1]) || !std::isfinite(centre[2]) ||
      !std::isfinite(radius) || radius < 0) {
    return 0;
  }
  float n = t->spacing;
  int c0 = static_cast<int>(std::floor(clamp_grid((centre[0] - radius) / n)));
  int c1 = static_cast<int>(std::ceil(clamp_grid((centre[0] + radius) / n)));
  int r0 = static_cast<int>(std::floor(clamp_grid((centre[2] - radius) / n)));
  int r1 = static_cast<int>(std::ceil(clamp_grid((centre[2] + radius) / n)));
  if (c1 - c0 > max_contact_cells || r1 - r0 > max_contact_cells) return 0;
  float low = centre[1] - radius - ground_cull_margin(centre, radius);
  for (int j = r0; j <= r1; j++)
    for (int i = c0; i <= c1; i++)
      if (!(vertex_height(t, i, j) < low)) return 0;
  return 1;
}

float sphere_triangle_depth(const float centre[3], float radius, const float tri[3][3], float point[3],
                            float normal[3]) {
  float v[3][3];
  memcpy(v, tri, sizeof v);
  return sphere_triangle(centre, radius, v, point, normal);
}

int terrain_sphere_contact(const Terrain *t, const float centre[3], float radius, TerrainContact *contact) {
  if (!std::isfinite(centre[0]) || !std::isfinite(centre[1]) || !std::isfinite(centre[2]) ||
      !std::isfinite(radius) || !(radius > 0)) {
    return 0;
  }
  float n = t->spacing;
  int c0 = static_cast<int>(std::floor(clamp_grid((centre[0] - radius) / n)));
  int c1 = static_cast<int>(std::ceil(clamp_grid((centre[0] + radius) / n)));
  int r0 = static_cast<int>(std::floor(clamp_grid((centre[2] - radius) / n)));
  int r1 = static_cast<int>(std::ceil(clamp_grid((centre[2] + radius) / n)));
  // A sphere wider than the cap is tested against the cells around its centre.
  if (c1 - c0 > max_contact_cells) {
    c0 = static_cast<int>(std::floor(clamp_grid(centre[0] / n))) - max_contact_cells / 2;
    c1 = c0 + max_contact_cells;
  }
  if (r1 - r0 > max_contact_cells) {
    r0 = static_cast<int>(std::floor(clamp_grid(centre[2] / n))) - max_contact_cells / 2;
    r1 = r0 + max_contact_cells;
  }
  // A triangle can only push the sphere when one of its points comes within
  // the radius of the centre or the centre lies under it; either needs a
  // vertex higher than the sphere's lowest point. Most spheres of a bike ride
  // well above the ground, so one look at the cells' heights settles them.
  // The margin is far above the rounding of the exact test.
  float low = centre[1] - radius - ground_cull_margin(centre, radius);
  float best = 0, best_point[3] = {0, 0, 0}, best_normal[3] = {0, 1, 0};
  int cols = c1 - c0, rows = r1 - r0;
  if (cols <= max_buffered_cells && rows <= max_buffered_cells) {
    // Each vertex is shared by up to six triangles: read it once.
    float h[(max_buffered_cells + 1) * (max_buffered_cells + 1)];
    int stride = cols + 1;
    float top = -INFINITY;
    for (int b = 0; b <= rows; b++)
      for (int a = 0; a <= cols; a++) {
        float y = vertex_height(t, c0 + a, r0 + b);
        h[a + b * stride] = y;
        if (y > top) top = y;
      }
    if (!(top >= low)) return 0;
    for (int j = r0; j < r1; j++) {
      const float *row = h + (j - r0) * stride - c0;
      float z0 = static_cast<float>(j) * n, z1 = static_cast<float>(j + 1) * n;
      for (int i = c0; i < c1; i++) {
        float h00 = row[i], h10 = row[i + 1], h01 = row[i + stride], h11 = row[i + 1 + stride];
        if (!(std::max(std::max(h00, h10), std::max(h01, h11)) >= low)) continue;
        float x0 = static_cast<float>(i) * n, x1 = static_cast<float>(i + 1) * n;
        int even = (i & 1) == (j & 1);
        // The halves in the order and vertex order of cell_triangle.
        float tri[2][3][3] = {{{x0, h00, z0}, {x0, h01, z1}, {x1, even ? h11 : h10, even ? z1 : z0}},
                              {{x1, h11, z1}, {x1, h10, z0}, {x0, even ? h00 : h01, even ? z0 : z1}}};
        for (int half = 0; half < 2; half++) {
          float(*v)[3] = tri[half];
          if (!(std::max(std::max(v[0][1], v[1][1]), v[2][1]) >= low)) continue;
          float point[3], normal[3];
          float depth = sphere_triangle(centre, radius, v, point, normal);
          if (depth > best) {
            best = depth;
            memcpy(best_point, point, sizeof point);
            memcpy(best_normal, normal, sizeof normal);
          }
        }
      }
    }
  } else {
    for (int j = r0; j < r1; j++) {
      for (int i = c0; i < c1; i++) {
        for (int half = 0; half < 2; half++) {
          float tri[3][3], point[3], normal[3];
          cell_triangle(t, i, j, half, tri);
          if (!(std::max(std::max(tri[0][1], tri[1][1]), tri[2][1]) >= low)) continue;
          float depth = sphere_triangle(centre, radius, tri, point, normal);
          if (depth > best) {
            best = depth;
            memcpy(best_point, point, sizeof point);
            memcpy(best_normal, normal, sizeof normal);
          }
        }
      }
    }
  }
  if (!(best > 0)) return 0;
  if (best_normal[1] < 0) {
    if (best_normal[0] * best_normal[0] + best_normal[2] * best_normal[2] >= 1.0f / 1024) {
      best_normal[1] = 0;
    } else {
      best_normal[0] = 0;
      best_normal[1] = 1;
      best_normal[2] = 0;
    }
  }
  float length = std::sqrt(dot3(best_normal, best_normal));
  for (int a = 0; a < 3; a++) {
    contact->point[a] = best_point[a];
    contact->normal[a] = best_normal[a] / length;
  }
  contact->depth = best;
  return 1;
}

void terrain_set_height(Terrain *t, int i, int j, float h) {
  int verts = t->verts_per_side;
  if (i < 0 || j < 0 || i >= verts || j >= verts || t->locked) return;
  t->modified = 7;
  if (h > t->max_height) t->max_height = h;
  if (h < t->min_height) t->min_height = h;
  t->heights[i + j * verts] = h;
  for (int b = (j > 0 ? j - 1 : 0); b <= (j + 1 < verts ? j + 1 : verts - 1); b++) {
    for (int a = (i > 0 ? i - 1 : 0); a <= (i + 1 < verts ? i + 1 : verts - 1); a++) {
      set_bit(t->shading_dirty, a + b * verts);
      set_bit(t->normal_dirty, a + b * verts);
    }
  }
  int columns = 2 * verts - 2;
  int row_last = j < verts - 2 ? j : verts - 2;
  int column_last = 2 * i + 1 < columns - 1 ? 2 * i + 1 : columns - 1;
  for (int row = (j > 0 ? j - 1 : 0); row <= row_last; row++) {
    for (int k = (2 * i - 2 > 0 ? 2 * i - 2 : 0); k <= column_last; k++) set_bit(t->triangle_dirty, k + columns * row);
  }
}
