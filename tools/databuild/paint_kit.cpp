// The builder's small painting kit: RGBA pictures, anti-aliased shapes,
// value noise, sampling, and PNG and PPM encoding. Everything is a plain
// function of its arguments, so a picture's bytes depend only on the code.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "databuild.h"

namespace databuild {

namespace {

unsigned char to_byte(float v) { return static_cast<unsigned char>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f); }

// Coverage of a pixel by a shape, from a 4 x 4 grid of samples.
template <typename Inside>
void paint_covered(Image *image, float x0, float y0, float x1, float y1, Colour c, Inside inside) {
  int i0 = std::max(0, static_cast<int>(std::floor(x0))), i1 = std::min(image->width - 1, static_cast<int>(x1));
  int j0 = std::max(0, static_cast<int>(std::floor(y0))), j1 = std::min(image->height - 1, static_cast<int>(y1));
  for (int j = j0; j <= j1; j++)
    for (int i = i0; i <= i1; i++) {
      int hits = 0;
      for (int s = 0; s < 16; s++)
        hits += inside(static_cast<float>(i) + 0.125f + 0.25f * static_cast<float>(s & 3),
                       static_cast<float>(j) + 0.125f + 0.25f * static_cast<float>(s >> 2));
      if (hits) paint_pixel(image, i, j, c, static_cast<float>(hits) / 16.0f);
    }
}

uint32_t hash3(int x, int y, uint32_t seed) {
  uint32_t h = seed ^ (static_cast<uint32_t>(x) * 0x9e3779b1u) ^ (static_cast<uint32_t>(y) * 0x85ebca77u);
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  h ^= h >> 12;
  h *= 0x297a2d39u;
  h ^= h >> 15;
  return h;
}

float lattice(int x, int y, uint32_t seed) { return static_cast<float>(hash3(x, y, seed) & 0xffffu) / 32767.5f - 1.0f; }

float value_noise(float x, float y, uint32_t seed) {
  int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
  float fx = x - static_cast<float>(ix), fy = y - static_cast<float>(iy);
  fx = fx * fx * (3 - 2 * fx);
  fy = fy * fy * (3 - 2 * fy);
  float a = lattice(ix, iy, seed), b = lattice(ix + 1, iy, seed);
  float c = lattice(ix, iy + 1, seed), d = lattice(ix + 1, iy + 1, seed);
  return (a + (b - a) * fx) * (1 - fy) + (c + (d - c) * fx) * fy;
}

void append_png(png_structp png, png_bytep data, png_size_t length) {
  bytes_append(static_cast<Bytes *>(png_get_io_ptr(png)), data, length);
}

void flush_png(png_structp) {}

// Seven-segment style digits on a 3 x 5 grid of cells: which cells are ink.
const char *const digit_cells[10] = {"111101101101111", "010110010010111", "111001111100111", "111001111001111",
                                     "101101111001001", "111100111001111", "111100111101111", "111001001001001",
                                     "111101111101111", "111101111001111"};

}  // namespace

Image image_new(int width, int height, Colour fill) {
  Image image;
  image.width = width;
  image.height = height;
  image.rgba.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  unsigned char px[4] = {to_byte(fill.r), to_byte(fill.g), to_byte(fill.b), to_byte(fill.a)};
  for (size_t i = 0; i < image.rgba.size(); i += 4) memcpy(&image.rgba[i], px, 4);
  return image;
}

void paint_pixel(Image *image, int x, int y, Colour c, float cover) {
  if (x < 0 || y < 0 || x >= image->width || y >= image->height) return;
  unsigned char *px = &image->rgba[(static_cast<size_t>(y) * static_cast<size_t>(image->width) + x) * 4];
  float a = std::clamp(c.a * cover, 0.0f, 1.0f);
  const float src[3] = {c.r, c.g, c.b};
  for (int k = 0; k < 3; k++) px[k] = to_byte(static_cast<float>(px[k]) / 255.0f * (1 - a) + src[k] * a);
  px[3] = to_byte(static_cast<float>(px[3]) / 255.0f * (1 - a) + a);
}

void paint_rect(Image *image, float x0, float y0, float x1, float y1, Colour c) {
  paint_covered(image, x0, y0, x1, y1, c,
                [&](float x, float y) { return x >= x0 && x < x1 && y >= y0 && y < y1; });
}

void paint_ellipse(Image *image, float cx, float cy, float rx, float ry, Colour c) {
  paint_covered(image, cx - rx, cy - ry, cx + rx, cy + ry, c, [&](float x, float y) {
    float dx = (x - cx) / rx, dy = (y - cy) / ry;
    return dx * dx + dy * dy <= 1.0f;
  });
}

void paint_polygon(Image *image, const float *xy, int count, Colour c) {
  if (count < 3) return;
  float x0 = xy[0], x1 = xy[0], y0 = xy[1], y1 = xy[1];
  for (int i = 1; i < count; i++) {
    x0 = std::min(x0, xy[2 * i]);
    x1 = std::max(x1, xy[2 * i]);
    y0 = std::min(y0, xy[2 * i + 1]);
    y1 = std::max(y1, xy[2 * i + 1]);
  }
  // Even-odd rule: a sample is inside when a ray to the right crosses an odd
  // number of edges.
  paint_covered(image, x0, y0, x1, y1, c, [&](float x, float y) {
    bool inside = false;
    for (int i = 0, j = count - 1; i < count; j = i++) {
      float xi = xy[2 * i], yi = xy[2 * i + 1], xj = xy[2 * j], yj = xy[2 * j + 1];
      if ((yi > y) != (yj > y) && x < xi + (y - yi) * (xj - xi) / (yj - yi)) inside = !inside;
    }
    return inside;
  });
}

void paint_noise(Image *image, int x0, int y0, int x1, int y1, float cell, float amount, uint32_t seed) {
  for (int y = std::max(0, y0); y < std::min(image->height, y1); y++)
    for (int x = std::max(0, x0); x < std::min(image->width, x1); x++) {
      float fx = static_cast<float>(x) / cell, fy = static_cast<float>(y) / cell;
      float n = 0.65f * value_noise(fx, fy, seed) + 0.35f * value_noise(2.1f * fx, 2.1f * fy, seed + 7);
      unsigned char *px = &image->rgba[(static_cast<size_t>(y) * static_cast<size_t>(image->width) + x) * 4];
      for (int k = 0; k < 3; k++) px[k] = to_byte(static_cast<float>(px[k]) / 255.0f * (1 + amount * n));
    }
}

void paint_shade(Image *image, int x0, int y0, int x1, int y1, float top, float bottom) {
  for (int y = std::max(0, y0); y < std::min(image->height, y1); y++) {
    float f = y1 - y0 > 1 ? static_cast<float>(y - y0) / static_cast<float>(y1 - y0 - 1) : 0.0f;
    float m = top + (bottom - top) * f;
    for (int x = std::max(0, x0); x < std::min(image->width, x1); x++) {
      unsigned char *px = &image->rgba[(static_cast<size_t>(y) * static_cast<size_t>(image->width) + x) * 4];
      for (int k = 0; k < 3; k++) px[k] = to_byte(static_cast<float>(px[k]) / 255.0f * m);
    }
  }
}

Colour image_sample(const Image &image, float u, float t) {
  float x = std::clamp(u, 0.0f, 1.0f) * static_cast<float>(image.width) - 0.5f;
  float y = std::clamp(t, 0.0f, 1.0f) * static_cast<float>(image.height) - 0.5f;
  int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
  float fx = x - static_cast<float>(ix), fy = y - static_cast<float>(iy);
  float out[4] = {};
  for (int k = 0; k < 4; k++) {
    int px = std::clamp(ix + (k & 1), 0, image.width - 1), py = std::clamp(iy + (k >> 1), 0, image.height - 1);
    float w = ((k & 1) ? fx : 1 - fx) * ((k >> 1) ? fy : 1 - fy);
    const unsigned char *p = &image.rgba[(static_cast<size_t>(py) * static_cast<size_t>(image.width) + px) * 4];
    for (int c = 0; c < 4; c++) out[c] += w * static_cast<float>(p[c]) / 255.0f;
  }
  return {out[0], out[1], out[2], out[3]};
}

int encode_png_pixels(const unsigned char *pixels, int width, int height, int channels, const char *text,
                      Bytes *out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return 0;
  }
  png_set_write_fn(png, out, append_png, flush_png);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_text chunk{};
  char key[] = "Comment";
  std::vector<char> value;
  if (text && *text) {
    value.assign(text, text + strlen(text) + 1);
    chunk.compression = PNG_TEXT_COMPRESSION_NONE;
    chunk.key = key;
    chunk.text = value.data();
    png_set_text(png, info, &chunk, 1);
  }
  png_write_info(png, info);
  for (int j = 0; j < height; j++)
    png_write_row(png, const_cast<png_bytep>(pixels + static_cast<size_t>(j) * static_cast<size_t>(width) * channels));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return 1;
}

int encode_png(const Image &image, const char *text, Bytes *out) {
  bool opaque = true;
  for (size_t i = 3; i < image.rgba.size() && opaque; i += 4) opaque = image.rgba[i] == 255;
  if (!opaque) return encode_png_pixels(image.rgba.data(), image.width, image.height, 4, text, out);
  std::vector<unsigned char> rgb(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 3);
  for (size_t i = 0, j = 0; i < image.rgba.size(); i += 4, j += 3) memcpy(&rgb[j], &image.rgba[i], 3);
  return encode_png_pixels(rgb.data(), image.width, image.height, 3, text, out);
}

Bytes encode_ppm(const Image &image) {
  Bytes out;
  bytes_printf(&out, "P6\n%d %d\n255\n", image.width, image.height);
  for (size_t i = 0; i < image.rgba.size(); i += 4) bytes_append(&out, &image.rgba[i], 3);
  return out;
}

void paint_digits(Image *image, const char *digits, float x0, float y0, float x1, float y1, Colour c) {
  int n = static_cast<int>(strlen(digits));
  if (n == 0) return;
  // Each digit is 3 cells wide with one cell between digits; cells square.
  float cells_wide = static_cast<float>(4 * n - 1);
  float cell = std::min((x1 - x0) / cells_wide, (y1 - y0) / 5.0f);
  float left = 0.5f * (x0 + x1) - 0.5f * cells_wide * cell, top = 0.5f * (y0 + y1) - 2.5f * cell;
  for (int d = 0; d < n; d++) {
    if (digits[d] < '0' || digits[d] > '9') continue;
    const char *ink = digit_cells[digits[d] - '0'];
    for (int k = 0; k < 15; k++)
      if (ink[k] == '1') {
        float x = left + static_cast<float>(4 * d + k % 3) * cell, y = top + static_cast<float>(k / 3) * cell;
        paint_rect(image, x, y, x + cell, y + cell, c);
      }
  }
}

}  // namespace databuild
