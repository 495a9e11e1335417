// The builder's picture toolkit: floating-point RGBA canvases, antialiased
// shapes, text from the system's DejaVu typefaces, value noise, blurs,
// resampling, and PNG encoding and decoding. Every generator of textures
// (fonts, interface, sky, ground, billboards, skins) draws with these, so
// the same inputs always give the same bytes.
#pragma once
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/random.h"
#include "databuild.h"

namespace databuild {

// The length of (x, y); std::hypot is far slower and its care for
// overflow is wasted on pixels.
inline float length2d(float x, float y) { return std::sqrt(x * x + y * y); }

// ---- Colours and canvases ----

// Straight (not premultiplied) colour, every channel 0..1.
struct Rgba {
  float r, g, b, a;
};

// 0xRRGGBB with an alpha.
Rgba rgb_hex(uint32_t hex, float alpha = 1.0f);
Rgba mix(Rgba a, Rgba b, float t);
// The colour with its red, green and blue scaled by k (alpha kept).
Rgba scaled(Rgba c, float k);
Rgba with_alpha(Rgba c, float alpha);

struct Canvas {
  int width = 0, height = 0;
  std::vector<Rgba> pixels;  // row-major, top row first
};

Canvas canvas_make(int width, int height, Rgba fill);
Rgba &canvas_at(Canvas *canvas, int x, int y);
Rgba canvas_get(const Canvas &canvas, int x, int y);  // clamped at the edges
// Bilinear sample at a point in pixels (pixel centres at +0.5); wrap
// repeats the picture, otherwise edges are clamped.
Rgba canvas_sample(const Canvas &canvas, float x, float y, bool wrap);
// Puts colour over the pixel with the given coverage (0..1), "source over".
void blend_pixel(Canvas *canvas, int x, int y, Rgba colour, float coverage);

// ---- Shapes: pixel coordinates, x right, y down, antialiased edges ----

struct Point {
  float x, y;
};

// Colour of a painted point; shapes take either one colour or a paint.
using Paint = std::function<Rgba(float x, float y)>;

void fill_rect(Canvas *canvas, float x0, float y0, float x1, float y1, Rgba colour);
void fill_round_rect(Canvas *canvas, float x0, float y0, float x1, float y1, float radius, Rgba colour);
void fill_ellipse(Canvas *canvas, float cx, float cy, float rx, float ry, Rgba colour);
void fill_ellipse(Canvas *canvas, float cx, float cy, float rx, float ry, const Paint &paint);
// Any simple or self-touching polygon (non-zero winding).
void fill_polygon(Canvas *canvas, const std::vector<Point> &points, Rgba colour);
void fill_polygon(Canvas *canvas, const std::vector<Point> &points, const Paint &paint);
// A line of the given width with round ends.
void stroke_line(Canvas *canvas, float x0, float y0, float x1, float y1, float width, Rgba colour);
void stroke_polyline(Canvas *canvas, const std::vector<Point> &points, float width, Rgba colour);
// A band between two radii, from angle a0 to a1 (radians, clockwise from
// straight up, a0 < a1).
void fill_arc(Canvas *canvas, float cx, float cy, float r0, float r1, float a0, float a1, Rgba colour);

// ---- Pictures on pictures ----

// Draws src over dst with its top-left corner at (x, y), scaled by alpha.
void canvas_paste(Canvas *dst, const Canvas &src, int x, int y, float alpha = 1.0f);
// A new size: averaging when smaller, bilinear when larger.
Canvas canvas_resize(const Canvas &src, int width, int height);
// Gaussian-like blur of the given radius in pixels (three box passes),
// weighting colour by alpha; wrap for seamless tiles.
void canvas_blur(Canvas *canvas, float radius, bool wrap);
// Gives fully transparent pixels the colour of their nearest visible
// neighbours, so filtering at the edges of a sprite never pulls in black.
void bleed_colour(Canvas *canvas);

// ---- Text (DejaVu typefaces from the system's font directory) ----

enum Face { face_sans, face_sans_bold, face_condensed_bold, face_serif_bold, face_count };

// 1 when every face opens; otherwise prints which file is missing.
int faces_ready();

struct Glyph {
  int width = 0, height = 0;  // of the coverage bitmap
  int left = 0, top = 0;      // bitmap offset from the pen: right, and up from the baseline
  float advance = 0.0f;       // pixels
  std::vector<unsigned char> coverage;
};

struct FaceMetrics {
  float ascender, descender;  // pixels above and (negative) below the baseline
};

FaceMetrics face_metrics(int face, float pixel_size);
// 0 when the face has no such character.
int glyph_render(int face, float pixel_size, uint32_t code, Glyph *out);
// Width in pixels of a line of text.
float text_width(int face, float pixel_size, const char *text);
// Draws one line with its baseline at y from pen position x; returns the
// width drawn.
float draw_text(Canvas *canvas, int face, float pixel_size, float x, float baseline, const char *text, Rgba colour);
// The same centred on cx.
void draw_text_centred(Canvas *canvas, int face, float pixel_size, float cx, float baseline, const char *text,
                       Rgba colour);

// ---- Noise ----

float smoothstep(float t);
// Hash of a lattice point, uniform in 0..1.
float lattice(int ix, int iz, uint32_t seed);
// Smooth value noise in 0..1. With period > 0 the lattice repeats every
// period units, so a tile built from it is seamless.
float value_noise(float x, float z, uint32_t seed, int period = 0);
// Octaves of value noise, each twice the frequency and half the weight,
// scaled back to 0..1. The period (if any) doubles with each octave.
float fractal_noise(float x, float z, int octaves, uint32_t seed, int period = 0);

// Random numbers for placing details, from a fixed seed per picture.
struct Dice {
  Mt19937 mt;
  explicit Dice(uint32_t seed) { mt_seed(&mt, seed); }
  float uniform() { return static_cast<float>(mt_next(&mt) >> 8) / 16777216.0f; }  // 0..1
  float range(float a, float b) { return a + (b - a) * uniform(); }
  int below(int n) { return static_cast<int>(mt_next(&mt) % static_cast<uint32_t>(n)); }
};

// ---- Encoded images ----

// 8-bit pixels, 3 (RGB) or 4 (RGBA) channels, top row first.
struct Bitmap {
  int width = 0, height = 0, channels = 0;
  std::vector<unsigned char> pixels;
};

Bitmap canvas_image(const Canvas &canvas, int channels);
Canvas image_canvas(const Bitmap &image);
// PNG bytes with no time or text chunks: the same pixels give the same bytes.
int png_encode(const Bitmap &image, Bytes *out);
// Any PNG as 8-bit RGB or RGBA (grey and palettes expanded, 16-bit stripped,
// transparency chunks turned into alpha). 0 on anything malformed or larger
// than 8192 pixels a side.
int png_decode(const unsigned char *data, size_t size, Bitmap *out);
// The canvas as a PNG member of the archive.
void archive_add_png(Archive *archive, const std::string &name, const Canvas &canvas, int channels);

}  // namespace databuild
