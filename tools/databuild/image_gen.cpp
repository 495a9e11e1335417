// The picture toolkit (see image_gen.h). Shapes are drawn by a signed
// distance per pixel centre, so edges get one pixel of antialiasing at any
// size; blurs and resampling work on premultiplied colour so transparent
// pixels never darken what they touch.
#include "image_gen.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace databuild {

namespace {

constexpr float pi = 3.14159265358979f;

float clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

// Paints every pixel of the box [x0, x1) x [y0, y1) (clipped) whose signed
// distance from the shape's edge, negative inside, leaves some coverage.
template <typename Distance>
void fill_by_distance(Canvas *canvas, float x0, float y0, float x1, float y1, const Distance &distance,
                      const Paint *paint, Rgba colour) {
  int i0 = std::max(0, static_cast<int>(std::floor(x0 - 1.0f)));
  int j0 = std::max(0, static_cast<int>(std::floor(y0 - 1.0f)));
  int i1 = std::min(canvas->width - 1, static_cast<int>(std::ceil(x1 + 1.0f)));
  int j1 = std::min(canvas->height - 1, static_cast<int>(std::ceil(y1 + 1.0f)));
  for (int j = j0; j <= j1; j++)
    for (int i = i0; i <= i1; i++) {
      float px = static_cast<float>(i) + 0.5f, py = static_cast<float>(j) + 0.5f;
      float coverage = clamp01(0.5f - distance(px, py));
      if (coverage <= 0.0f) continue;
      blend_pixel(canvas, i, j, paint ? (*paint)(px, py) : colour, coverage);
    }
}

float segment_distance(float px, float py, float x0, float y0, float x1, float y1) {
  float dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
  float t = len2 > 0.0f ? clamp01(((px - x0) * dx + (py - y0) * dy) / len2) : 0.0f;
  return length2d(px - (x0 + t * dx), py - (y0 + t * dy));
}

// Row by row over the edges that reach the row: the winding number says
// inside or out, and only pixels within a pixel of an edge need its
// distance for their coverage.
void polygon_fill(Canvas *canvas, const std::vector<Point> &pts, const Paint *paint, Rgba colour) {
  if (pts.size() < 3) return;
  float x0 = pts[0].x, x1 = pts[0].x, y0 = pts[0].y, y1 = pts[0].y;
  for (const Point &p : pts) {
    x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
  }
  size_t n = pts.size();
  int i0 = std::max(0, static_cast<int>(std::floor(x0 - 1.0f)));
  int j0 = std::max(0, static_cast<int>(std::floor(y0 - 1.0f)));
  int i1 = std::min(canvas->width - 1, static_cast<int>(std::ceil(x1 + 1.0f)));
  int j1 = std::min(canvas->height - 1, static_cast<int>(std::ceil(y1 + 1.0f)));
  std::vector<size_t> active;
  for (int j = j0; j <= j1; j++) {
    float py = static_cast<float>(j) + 0.5f;
    active.clear();
    for (size_t k = 0; k < n; k++) {
      const Point &a = pts[k], &b = pts[(k + 1) % n];
      if (std::min(a.y, b.y) - 1.0f <= py && std::max(a.y, b.y) + 1.0f >= py) active.push_back(k);
    }
    for (int i = i0; i <= i1; i++) {
      float px = static_cast<float>(i) + 0.5f;
      float nearest = 1.0f;
      int winding = 0;
      for (size_t k : active) {
        const Point &a = pts[k], &b = pts[(k + 1) % n];
        if (px >= std::min(a.x, b.x) - 1.0f && px <= std::max(a.x, b.x) + 1.0f)
          nearest = std::min(nearest, segment_distance(px, py, a.x, a.y, b.x, b.y));
        float cross = (b.x - a.x) * (py - a.y) - (px - a.x) * (b.y - a.y);
        if (a.y <= py) {
          if (b.y > py && cross > 0.0f) winding++;
        } else if (b.y <= py && cross < 0.0f) {
          winding--;
        }
      }
      float coverage = clamp01(0.5f - (winding != 0 ? -nearest : nearest));
      if (coverage > 0.0f) blend_pixel(canvas, i, j, paint ? (*paint)(px, py) : colour, coverage);
    }
  }
}

void ellipse_fill(Canvas *canvas, float cx, float cy, float rx, float ry, const Paint *paint, Rgba colour) {
  if (rx <= 0.0f || ry <= 0.0f) return;
  auto distance = [&](float px, float py) {
    float x = (px - cx) / rx, y = (py - cy) / ry;
    float f = x * x + y * y - 1.0f;
    float gx = 2.0f * x / rx, gy = 2.0f * y / ry;
    float g = std::sqrt(gx * gx + gy * gy);
    return g > 1e-6f ? f / g : -std::min(rx, ry);
  };
  fill_by_distance(canvas, cx - rx, cy - ry, cx + rx, cy + ry, distance, paint, colour);
}

// ---- Premultiplied working copies for filters ----

struct Premultiplied {
  int width, height;
  std::vector<float> v;  // r*a, g*a, b*a, a
};

Premultiplied premultiply(const Canvas &c) {
  Premultiplied p{c.width, c.height, std::vector<float>(c.pixels.size() * 4)};
  for (size_t k = 0; k < c.pixels.size(); k++) {
    const Rgba &s = c.pixels[k];
    p.v[k * 4 + 0] = s.r * s.a;
    p.v[k * 4 + 1] = s.g * s.a;
    p.v[k * 4 + 2] = s.b * s.a;
    p.v[k * 4 + 3] = s.a;
  }
  return p;
}

Canvas unpremultiply(const Premultiplied &p, const Canvas *colour_source) {
  Canvas c;
  c.width = p.width;
  c.height = p.height;
  c.pixels.resize(static_cast<size_t>(p.width) * p.height);
  for (size_t k = 0; k < c.pixels.size(); k++) {
    float a = p.v[k * 4 + 3];
    if (a > 1e-6f) {
      c.pixels[k] = {p.v[k * 4] / a, p.v[k * 4 + 1] / a, p.v[k * 4 + 2] / a, clamp01(a)};
    } else {
      Rgba keep = colour_source ? colour_source->pixels[k] : Rgba{1, 1, 1, 0};
      c.pixels[k] = {keep.r, keep.g, keep.b, 0.0f};
    }
  }
  return c;
}

// One box pass along rows (stride 4 floats per pixel) or columns.
void box_pass(std::vector<float> *v, int width, int height, int radius, bool along_rows, bool wrap) {
  int length = along_rows ? width : height, lines = along_rows ? height : width;
  std::vector<float> line(static_cast<size_t>(length) * 4), out(static_cast<size_t>(length) * 4);
  float norm = 1.0f / static_cast<float>(2 * radius + 1);
  for (int l = 0; l < lines; l++) {
    auto index = [&](int k) {
      return along_rows ? (static_cast<size_t>(l) * width + k) * 4 : (static_cast<size_t>(k) * width + l) * 4;
    };
    for (int k = 0; k < length; k++)
      for (int c = 0; c < 4; c++) line[static_cast<size_t>(k) * 4 + c] = (*v)[index(k) + c];
    auto at = [&](int k) {
      if (wrap) k = ((k % length) + length) % length;
      else k = std::clamp(k, 0, length - 1);
      return &line[static_cast<size_t>(k) * 4];
    };
    for (int c = 0; c < 4; c++) {
      double sum = 0.0;
      for (int k = -radius; k <= radius; k++) sum += at(k)[c];
      for (int k = 0; k < length; k++) {
        out[static_cast<size_t>(k) * 4 + c] = static_cast<float>(sum) * norm;
        sum += at(k + radius + 1)[c] - at(k - radius)[c];
      }
    }
    for (int k = 0; k < length; k++)
      for (int c = 0; c < 4; c++) (*v)[index(k) + c] = out[static_cast<size_t>(k) * 4 + c];
  }
}

// Resamples one axis of a premultiplied buffer: area-weighted when
// shrinking, linear when growing.
Premultiplied resample_axis(const Premultiplied &src, int size, bool horizontal) {
  int from = horizontal ? src.width : src.height;
  Premultiplied dst{horizontal ? size : src.width, horizontal ? src.height : size, {}};
  dst.v.assign(static_cast<size_t>(dst.width) * dst.height * 4, 0.0f);
  int lines = horizontal ? src.height : src.width;
  float scale = static_cast<float>(from) / static_cast<float>(size);
  for (int l = 0; l < lines; l++) {
    auto src_at = [&](int k) {
      k = std::clamp(k, 0, from - 1);
      return &src.v[horizontal ? (static_cast<size_t>(l) * src.width + k) * 4 : (static_cast<size_t>(k) * src.width + l) * 4];
    };
    for (int k = 0; k < size; k++) {
      float *out = &dst.v[horizontal ? (static_cast<size_t>(l) * dst.width + k) * 4
                                     : (static_cast<size_t>(k) * dst.width + l) * 4];
      if (scale > 1.0f) {
        float a = static_cast<float>(k) * scale, b = a + scale, total = 0.0f;
        for (int s = static_cast<int>(std::floor(a)); static_cast<float>(s) < b; s++) {
          float w = std::min(b, static_cast<float>(s + 1)) - std::max(a, static_cast<float>(s));
          if (w <= 0.0f) continue;
          const float *p = src_at(s);
          for (int c = 0; c < 4; c++) out[c] += p[c] * w;
          total += w;
        }
        for (int c = 0; c < 4; c++) out[c] /= total;
      } else {
        float x = (static_cast<float>(k) + 0.5f) * scale - 0.5f;
        int s = static_cast<int>(std::floor(x));
        float t = x - static_cast<float>(s);
        const float *p = src_at(s), *q = src_at(s + 1);
        for (int c = 0; c < 4; c++) out[c] = p[c] + (q[c] - p[c]) * t;
      }
    }
  }
  return dst;
}

// ---- FreeType faces, opened once for the builder's run ----

struct FaceFile {
  const char *file;
  float x_scale, y_scale;  // applied to the outlines: the condensed face is narrower and taller
};

const FaceFile face_files[face_count] = {
    {"DejaVuSans.ttf", 1.0f, 1.0f},
    {"DejaVuSans-Bold.ttf", 1.0f, 1.0f},
    {"DejaVuSans-Bold.ttf", 0.9f, 1.13f},
    {"DejaVuSerif-Bold.ttf", 1.0f, 1.0f},
};
const char *const font_dir = "/usr/share/fonts/truetype/dejavu/";

FT_Library library;
FT_Face faces[face_count];
int faces_tried, faces_ok;

FT_Face open_face(int face) {
  if (!faces_tried) {
    faces_tried = 1;
    faces_ok = FT_Init_FreeType(&library) == 0;
    for (int f = 0; f < face_count && faces_ok; f++) {
      std::string path = std::string(font_dir) + face_files[f].file;
      if (FT_New_Face(library, path.c_str(), 0, &faces[f]) != 0) {
        fprintf(stderr, "Can't open the typeface %s (Debian package fonts-dejavu-core)\n", path.c_str());
        faces_ok = 0;
      }
    }
  }
  if (!faces_ok || face < 0 || face >= face_count) return nullptr;
  return faces[face];
}

FT_Face sized_face(int face, float pixel_size) {
  FT_Face f = open_face(face);
  if (!f) return nullptr;
  FT_Set_Char_Size(f, 0, static_cast<FT_F26Dot6>(std::lround(pixel_size * 64.0f)), 72, 72);
  FT_Matrix m = {static_cast<FT_Fixed>(std::lround(face_files[face].x_scale * 65536.0f)), 0, 0,
                 static_cast<FT_Fixed>(std::lround(face_files[face].y_scale * 65536.0f))};
  FT_Set_Transform(f, &m, nullptr);
  return f;
}

// ---- PNG through memory ----

struct ReadCursor {
  const unsigned char *data;
  size_t size, at;
};

void read_png(png_structp png, png_bytep out, png_size_t length) {
  ReadCursor *c = static_cast<ReadCursor *>(png_get_io_ptr(png));
  if (length > c->size - c->at) png_error(png, "truncated");
  memcpy(out, c->data + c->at, length);
  c->at += length;
}

void quiet_png(png_structp, png_const_charp) {}

}  // namespace

// ---- Colours and canvases ----

Rgba rgb_hex(uint32_t hex, float alpha) {
  return {static_cast<float>((hex >> 16) & 255) / 255.0f, static_cast<float>((hex >> 8) & 255) / 255.0f,
          static_cast<float>(hex & 255) / 255.0f, alpha};
}

Rgba mix(Rgba a, Rgba b, float t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

Rgba scaled(Rgba c, float k) { return {clamp01(c.r * k), clamp01(c.g * k), clamp01(c.b * k), c.a}; }

Rgba with_alpha(Rgba c, float alpha) { return {c.r, c.g, c.b, alpha}; }

Canvas canvas_make(int width, int height, Rgba fill) {
  Canvas c;
  c.width = width;
  c.height = height;
  c.pixels.assign(static_cast<size_t>(width) * height, fill);
  return c;
}

Rgba &canvas_at(Canvas *canvas, int x, int y) {
  return canvas->pixels[static_cast<size_t>(y) * canvas->width + x];
}

Rgba canvas_get(const Canvas &canvas, int x, int y) {
  x = std::clamp(x, 0, canvas.width - 1);
  y = std::clamp(y, 0, canvas.height - 1);
  return canvas.pixels[static_cast<size_t>(y) * canvas.width + x];
}

Rgba canvas_sample(const Canvas &canvas, float x, float y, bool wrap) {
  float fx = x - 0.5f, fy = y - 0.5f;
  int i = static_cast<int>(std::floor(fx)), j = static_cast<int>(std::floor(fy));
  float u = fx - static_cast<float>(i), v = fy - static_cast<float>(j);
  auto get = [&](int a, int b) {
    if (wrap) {
      a = ((a % canvas.width) + canvas.width) % canvas.width;
      b = ((b % canvas.height) + canvas.height) % canvas.height;
    }
    return canvas_get(canvas, a, b);
  };
  Rgba p00 = get(i, j), p10 = get(i + 1, j), p01 = get(i, j + 1), p11 = get(i + 1, j + 1);
  // Premultiplied, so transparent neighbours only thin the alpha.
  float w[4] = {(1 - u) * (1 - v) * p00.a, u * (1 - v) * p10.a, (1 - u) * v * p01.a, u * v * p11.a};
  float a = w[0] + w[1] + w[2] + w[3];
  if (a <= 1e-6f) return mix(mix(p00, p10, u), mix(p01, p11, u), v);
  return {(p00.r * w[0] + p10.r * w[1] + p01.r * w[2] + p11.r * w[3]) / a,
          (p00.g * w[0] + p10.g * w[1] + p01.g * w[2] + p11.g * w[3]) / a,
          (p00.b * w[0] + p10.b * w[1] + p01.b * w[2] + p11.b * w[3]) / a, a};
}

void blend_pixel(Canvas *canvas, int x, int y, Rgba colour, float coverage) {
  if (x < 0 || y < 0 || x >= canvas->width || y >= canvas->height) return;
  Rgba &d = canvas_at(canvas, x, y);
  float sa = clamp01(colour.a * coverage);
  if (sa <= 0.0f) return;
  float da = d.a * (1.0f - sa), a = sa + da;
  d.r = (colour.r * sa + d.r * da) / a;
  d.g = (colour.g * sa + d.g * da) / a;
  d.b = (colour.b * sa + d.b * da) / a;
  d.a = a;
}

// ---- Shapes ----

void fill_rect(Canvas *canvas, float x0, float y0, float x1, float y1, Rgba colour) {
  auto distance = [&](float px, float py) { return std::max(std::max(x0 - px, px - x1), std::max(y0 - py, py - y1)); };
  fill_by_distance(canvas, x0, y0, x1, y1, distance, nullptr, colour);
}

void fill_round_rect(Canvas *canvas, float x0, float y0, float x1, float y1, float radius, Rgba colour) {
  radius = std::min(radius, 0.5f * std::min(x1 - x0, y1 - y0));
  float cx = 0.5f * (x0 + x1), cy = 0.5f * (y0 + y1), hx = 0.5f * (x1 - x0) - radius, hy = 0.5f * (y1 - y0) - radius;
  auto distance = [&](float px, float py) {
    float qx = std::fabs(px - cx) - hx, qy = std::fabs(py - cy) - hy;
    float outside = length2d(std::max(qx, 0.0f), std::max(qy, 0.0f));
    return outside + std::min(std::max(qx, qy), 0.0f) - radius;
  };
  fill_by_distance(canvas, x0, y0, x1, y1, distance, nullptr, colour);
}

void fill_ellipse(Canvas *canvas, float cx, float cy, float rx, float ry, Rgba colour) {
  ellipse_fill(canvas, cx, cy, rx, ry, nullptr, colour);
}

void fill_ellipse(Canvas *canvas, float cx, float cy, float rx, float ry, const Paint &paint) {
  ellipse_fill(canvas, cx, cy, rx, ry, &paint, {});
}

void fill_polygon(Canvas *canvas, const std::vector<Point> &points, Rgba colour) {
  polygon_fill(canvas, points, nullptr, colour);
}

void fill_polygon(Canvas *canvas, const std::vector<Point> &points, const Paint &paint) {
  polygon_fill(canvas, points, &paint, {});
}

void stroke_line(Canvas *canvas, float x0, float y0, float x1, float y1, float width, Rgba colour) {
  float r = 0.5f * width;
  auto distance = [&](float px, float py) { return segment_distance(px, py, x0, y0, x1, y1) - r; };
  fill_by_distance(canvas, std::min(x0, x1) - r, std::min(y0, y1) - r, std::max(x0, x1) + r, std::max(y0, y1) + r,
                   distance, nullptr, colour);
}

void stroke_polyline(Canvas *canvas, const std::vector<Point> &points, float width, Rgba colour) {
  if (points.size() < 2) return;
  // One pass over the whole line, so joints are not painted twice.
  float r = 0.5f * width;
  float x0 = points[0].x, x1 = x0, y0 = points[0].y, y1 = y0;
  for (const Point &p : points) {
    x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
  }
  auto distance = [&](float px, float py) {
    float d = 1e30f;
    for (size_t k = 0; k + 1 < points.size(); k++)
      d = std::min(d, segment_distance(px, py, points[k].x, points[k].y, points[k + 1].x, points[k + 1].y));
    return d - r;
  };
  fill_by_distance(canvas, x0 - r, y0 - r, x1 + r, y1 + r, distance, nullptr, colour);
}

void fill_arc(Canvas *canvas, float cx, float cy, float r0, float r1, float a0, float a1, Rgba colour) {
  float mid = 0.5f * (a0 + a1), half = 0.5f * (a1 - a0);
  auto distance = [&](float px, float py) {
    float dx = px - cx, dy = py - cy, r = length2d(dx, dy);
    float radial = std::max(r0 - r, r - r1);
    if (half >= pi) return radial;
    float angle = std::atan2(dx, -dy);
    float off = std::fabs(std::remainder(angle - mid, 2.0f * pi)) - half;
    return std::max(radial, off * r);
  };
  fill_by_distance(canvas, cx - r1, cy - r1, cx + r1, cy + r1, distance, nullptr, colour);
}

// ---- Pictures on pictures ----

void canvas_paste(Canvas *dst, const Canvas &src, int x, int y, float alpha) {
  for (int j = 0; j < src.height; j++)
    for (int i = 0; i < src.width; i++) {
      const Rgba &s = src.pixels[static_cast<size_t>(j) * src.width + i];
      blend_pixel(dst, x + i, y + j, s, alpha);
    }
}

Canvas canvas_resize(const Canvas &src, int width, int height) {
  if (src.width == width && src.height == height) return src;
  Premultiplied p = premultiply(src);
  p = resample_axis(p, width, true);
  p = resample_axis(p, height, false);
  return unpremultiply(p, nullptr);
}

void canvas_blur(Canvas *canvas, float radius, bool wrap) {
  if (radius <= 0.0f) return;
  // Three box passes of width w approximate a Gaussian of this deviation.
  float w = std::sqrt(4.0f * radius * radius + 1.0f);
  int r = std::max(1, static_cast<int>(std::lround((w - 1.0f) * 0.5f)));
  Premultiplied p = premultiply(*canvas);
  for (int pass = 0; pass < 3; pass++) {
    box_pass(&p.v, p.width, p.height, r, true, wrap);
    box_pass(&p.v, p.width, p.height, r, false, wrap);
  }
  *canvas = unpremultiply(p, canvas);
}

void bleed_colour(Canvas *canvas) {
  constexpr float visible = 0.5f / 255.0f;
  int w = canvas->width, h = canvas->height;
  std::vector<uint8_t> known(canvas->pixels.size());
  double sum[3] = {0, 0, 0};
  size_t count = 0;
  for (size_t k = 0; k < canvas->pixels.size(); k++) {
    const Rgba &p = canvas->pixels[k];
    known[k] = p.a > visible;
    if (known[k]) sum[0] += p.r, sum[1] += p.g, sum[2] += p.b, count++;
  }
  if (count == 0) return;
  // Sixteen rings of neighbours are more than any filter reaches.
  for (int pass = 0; pass < 16; pass++) {
    std::vector<uint8_t> next = known;
    std::vector<Rgba> colours = canvas->pixels;
    bool changed = false;
    for (int j = 0; j < h; j++)
      for (int i = 0; i < w; i++) {
        size_t k = static_cast<size_t>(j) * w + i;
        if (known[k]) continue;
        float r = 0, g = 0, b = 0;
        int n = 0;
        for (int dj = -1; dj <= 1; dj++)
          for (int di = -1; di <= 1; di++) {
            int x = i + di, y = j + dj;
            if (x < 0 || y < 0 || x >= w || y >= h) continue;
            size_t q = static_cast<size_t>(y) * w + x;
            if (!known[q]) continue;
            r += canvas->pixels[q].r, g += canvas->pixels[q].g, b += canvas->pixels[q].b, n++;
          }
        if (n == 0) continue;
        colours[k] = {r / static_cast<float>(n), g / static_cast<float>(n), b / static_cast<float>(n), canvas->pixels[k].a};
        next[k] = 1;
        changed = true;
      }
    canvas->pixels.swap(colours);
    known.swap(next);
    if (!changed) break;
  }
  Rgba average = {static_cast<float>(sum[0] / static_cast<double>(count)),
                  static_cast<float>(sum[1] / static_cast<double>(count)),
                  static_cast<float>(sum[2] / static_cast<double>(count)), 0.0f};
  for (size_t k = 0; k < canvas->pixels.size(); k++)
    if (!known[k]) canvas->pixels[k] = with_alpha(average, canvas->pixels[k].a);
}

// ---- Text ----

int faces_ready() { return open_face(0) != nullptr; }

FaceMetrics face_metrics(int face, float pixel_size) {
  FT_Face f = sized_face(face, pixel_size);
  if (!f) return {pixel_size * 0.8f, -pixel_size * 0.2f};
  return {static_cast<float>(f->size->metrics.ascender) / 64.0f, static_cast<float>(f->size->metrics.descender) / 64.0f};
}

int glyph_render(int face, float pixel_size, uint32_t code, Glyph *out) {
  *out = Glyph{};
  FT_Face f = sized_face(face, pixel_size);
  if (!f) return 0;
  FT_UInt index = FT_Get_Char_Index(f, code);
  if (index == 0 || FT_Load_Glyph(f, index, FT_LOAD_DEFAULT) != 0) return 0;
  if (FT_Render_Glyph(f->glyph, FT_RENDER_MODE_NORMAL) != 0) return 0;
  const FT_Bitmap &bm = f->glyph->bitmap;
  out->width = static_cast<int>(bm.width);
  out->height = static_cast<int>(bm.rows);
  out->left = f->glyph->bitmap_left;
  out->top = f->glyph->bitmap_top;
  out->advance = static_cast<float>(f->glyph->advance.x) / 64.0f;
  out->coverage.resize(static_cast<size_t>(out->width) * out->height);
  for (int j = 0; j < out->height; j++)
    memcpy(&out->coverage[static_cast<size_t>(j) * out->width], bm.buffer + static_cast<ptrdiff_t>(j) * bm.pitch,
           static_cast<size_t>(out->width));
  return 1;
}

float text_width(int face, float pixel_size, const char *text) {
  float x = 0.0f;
  Glyph g;
  for (const char *p = text; *p; p++)
    if (glyph_render(face, pixel_size, static_cast<unsigned char>(*p), &g)) x += g.advance;
  return x;
}

float draw_text(Canvas *canvas, int face, float pixel_size, float x, float baseline, const char *text, Rgba colour) {
  float pen = x;
  Glyph g;
  for (const char *p = text; *p; p++) {
    if (!glyph_render(face, pixel_size, static_cast<unsigned char>(*p), &g)) continue;
    int ox = static_cast<int>(std::lround(pen)) + g.left, oy = static_cast<int>(std::lround(baseline)) - g.top;
    for (int j = 0; j < g.height; j++)
      for (int i = 0; i < g.width; i++) {
        float c = static_cast<float>(g.coverage[static_cast<size_t>(j) * g.width + i]) / 255.0f;
        if (c > 0.0f) blend_pixel(canvas, ox + i, oy + j, colour, c);
      }
    pen += g.advance;
  }
  return pen - x;
}

void draw_text_centred(Canvas *canvas, int face, float pixel_size, float cx, float baseline, const char *text,
                       Rgba colour) {
  draw_text(canvas, face, pixel_size, cx - 0.5f * text_width(face, pixel_size, text), baseline, text, colour);
}

// ---- Noise ----

float smoothstep(float t) {
  t = clamp01(t);
  return t * t * (3.0f - 2.0f * t);
}

float lattice(int ix, int iz, uint32_t seed) {
  uint32_t h = static_cast<uint32_t>(ix) * 374761393u + static_cast<uint32_t>(iz) * 668265263u + seed * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  h ^= h >> 16;
  return static_cast<float>(h & 0xffffff) / 16777216.0f;
}

float value_noise(float x, float z, uint32_t seed, int period) {
  float fx = std::floor(x), fz = std::floor(z);
  int ix = static_cast<int>(fx), iz = static_cast<int>(fz);
  float u = smoothstep(x - fx), v = smoothstep(z - fz);
  int ix1 = ix + 1, iz1 = iz + 1;
  if (period > 0) {
    auto wrap = [period](int i) { return ((i % period) + period) % period; };
    ix = wrap(ix), iz = wrap(iz), ix1 = wrap(ix1), iz1 = wrap(iz1);
  }
  float a = lattice(ix, iz, seed), b = lattice(ix1, iz, seed);
  float c = lattice(ix, iz1, seed), d = lattice(ix1, iz1, seed);
  return a + (b - a) * u + (c - a) * v + (a - b - c + d) * u * v;
}

float fractal_noise(float x, float z, int octaves, uint32_t seed, int period) {
  float sum = 0.0f, weight = 1.0f, total = 0.0f, f = 1.0f;
  for (int o = 0; o < octaves; o++) {
    sum += weight * value_noise(x * f, z * f, seed + static_cast<uint32_t>(o) * 101u, period > 0 ? period << o : 0);
    total += weight;
    weight *= 0.5f;
    f *= 2.0f;
  }
  return sum / total;
}

// ---- Encoded images ----

Bitmap canvas_image(const Canvas &canvas, int channels) {
  Bitmap image{canvas.width, canvas.height, channels, {}};
  image.pixels.resize(canvas.pixels.size() * static_cast<size_t>(channels));
  auto byte = [](float v) { return static_cast<unsigned char>(std::lround(clamp01(v) * 255.0f)); };
  for (size_t k = 0; k < canvas.pixels.size(); k++) {
    const Rgba &p = canvas.pixels[k];
    unsigned char *out = &image.pixels[k * static_cast<size_t>(channels)];
    out[0] = byte(p.r);
    out[1] = byte(p.g);
    out[2] = byte(p.b);
    if (channels == 4) out[3] = byte(p.a);
  }
  return image;
}

Canvas image_canvas(const Bitmap &image) {
  Canvas c = canvas_make(image.width, image.height, {0, 0, 0, 1});
  for (size_t k = 0; k < c.pixels.size(); k++) {
    const unsigned char *p = &image.pixels[k * static_cast<size_t>(image.channels)];
    c.pixels[k] = {p[0] / 255.0f, p[1] / 255.0f, p[2] / 255.0f, image.channels == 4 ? p[3] / 255.0f : 1.0f};
  }
  return c;
}

int png_encode(const Bitmap &image, Bytes *out) {
  return encode_png_pixels(image.pixels.data(), image.width, image.height, image.channels, nullptr, out);
}

// Whether every chunk's length fits in the data. libpng allocates (and
// clears) a text chunk's whole stated length before it finds the data
// short, so a corrupt length would cost gigabytes.
static bool png_chunks_fit(const unsigned char *data, size_t size) {
  size_t at = 8;
  while (at + 12 <= size) {
    size_t length = (size_t{data[at]} << 24) | (size_t{data[at + 1]} << 16) | (size_t{data[at + 2]} << 8) | data[at + 3];
    if (length > size - at - 12) return false;
    if (memcmp(data + at + 4, "IEND", 4) == 0) return true;
    at += 12 + length;
  }
  return at == size;
}

int png_decode(const unsigned char *data, size_t size, Bitmap *out) {
  *out = Bitmap{};
  if (size < 8 || png_sig_cmp(data, 0, 8) != 0 || !png_chunks_fit(data, size)) return 0;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, quiet_png, quiet_png);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  ReadCursor cursor{data, size, 0};
  // Kept outside the jump's reach: cleared on failure below.
  std::vector<png_bytep> rows;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    *out = Bitmap{};
    return 0;
  }
  png_set_read_fn(png, &cursor, read_png);
  png_set_user_limits(png, 8192, 8192);
  png_read_info(png, info);
  png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  int type = png_get_color_type(png, info), depth = png_get_bit_depth(png, info);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (depth == 16) png_set_strip_16(png);
  if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  int channels = png_get_channels(png, info);
  if (channels != 3 && channels != 4) png_error(png, "channels");
  out->width = static_cast<int>(w);
  out->height = static_cast<int>(h);
  out->channels = channels;
  out->pixels.resize(static_cast<size_t>(w) * h * static_cast<size_t>(channels));
  rows.resize(h);
  for (png_uint_32 j = 0; j < h; j++) rows[j] = &out->pixels[static_cast<size_t>(j) * w * static_cast<size_t>(channels)];
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return 1;
}

void archive_add_png(Archive *archive, const std::string &name, const Canvas &canvas, int channels) {
  Bytes png;
  if (png_encode(canvas_image(canvas, channels), &png)) archive_add(archive, name, std::move(png));
}

}  // namespace databuild
