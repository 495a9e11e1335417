// Fonts: "@font.png" (the 94 printable characters "!" to "~") and the
// number-plate digits "@numbers.png" and "@numbers-condensed.png",
// rasterised from DejaVu with FreeType, antialiased, white with alpha.
//
// The game's font format: glyphs sit in horizontal bands. The top-left
// pixel's colour is the marker. A band starts at a row whose left-most
// pixel is a marker; in its top row, markers start the glyph cells, each
// running to the next marker (the last to the image's right edge). The
// characters of the font's list take the cells in order, and a glyph's
// advance is its cell's width over its band's height. So every band is
// filled exactly to the right edge, its spare width shared among its cells,
// and the bands tile the height, all but one pixel the same.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "databuild.h"
#include "image_gen.h"

namespace databuild {

namespace {

constexpr uint32_t marker = 0xff00ffffu;  // opaque magenta, RGBA

struct FontLayout {
  int face;
  float pixel_size;
  int width, height, bands;
  const char *glyphs;
};

struct RenderedGlyph {
  Glyph glyph;
  int cell;   // width the glyph needs, pixels
  int shift;  // ink moved right by this much (a negative left bearing)
};

std::vector<RenderedGlyph> render_glyphs(const FontLayout &f) {
  std::vector<RenderedGlyph> out;
  for (const char *c = f.glyphs; *c; c++) {
    RenderedGlyph r;
    glyph_render(f.face, f.pixel_size, static_cast<unsigned char>(*c), &r.glyph);
    r.shift = std::max(0, -r.glyph.left);
    int ink_right = r.shift + r.glyph.left + r.glyph.width;
    r.cell = std::max(static_cast<int>(std::ceil(r.glyph.advance)), ink_right) + 1;
    out.push_back(r);
  }
  return out;
}

// Contiguous runs of glyphs for the bands, each within the width, such
// that the largest spare width per glyph of any band is smallest.
int split_bands(const std::vector<RenderedGlyph> &g, int width, int bands, std::vector<int> *starts) {
  int n = static_cast<int>(g.size());
  constexpr float none = 1e30f;
  std::vector<std::vector<float>> best(static_cast<size_t>(bands) + 1, std::vector<float>(static_cast<size_t>(n) + 1, none));
  std::vector<std::vector<int>> from(static_cast<size_t>(bands) + 1, std::vector<int>(static_cast<size_t>(n) + 1, -1));
  best[0][0] = 0.0f;
  for (int b = 1; b <= bands; b++)
    for (int end = 1; end <= n; end++) {
      int sum = 0;
      for (int start = end - 1; start >= 0; start--) {
        sum += g[static_cast<size_t>(start)].cell;
        if (sum > width) break;
        if (best[static_cast<size_t>(b) - 1][static_cast<size_t>(start)] >= none) continue;
        float spare = static_cast<float>(width - sum) / static_cast<float>(end - start);
        float worst = std::max(best[static_cast<size_t>(b) - 1][static_cast<size_t>(start)], spare);
        if (worst < best[static_cast<size_t>(b)][static_cast<size_t>(end)]) {
          best[static_cast<size_t>(b)][static_cast<size_t>(end)] = worst;
          from[static_cast<size_t>(b)][static_cast<size_t>(end)] = start;
        }
      }
    }
  if (best[static_cast<size_t>(bands)][static_cast<size_t>(n)] >= none) return 0;
  starts->assign(static_cast<size_t>(bands), 0);
  for (int b = bands, end = n; b > 0; b--) {
    end = from[static_cast<size_t>(b)][static_cast<size_t>(end)];
    (*starts)[static_cast<size_t>(b) - 1] = end;
  }
  return 1;
}

// The font picture at the largest size up to the layout's whose glyphs
// fit, or an empty canvas (with a message) when none does.
Canvas font_picture(FontLayout f) {
  std::vector<RenderedGlyph> glyphs;
  std::vector<int> starts;
  for (;; f.pixel_size -= 1.0f) {
    if (f.pixel_size < 8.0f) {
      fprintf(stderr, "The glyphs of a font do not fit %dx%d\n", f.width, f.height);
      return {};
    }
    glyphs = render_glyphs(f);
    int top = 0, below = 0;
    for (const RenderedGlyph &g : glyphs) {
      top = std::max(top, g.glyph.top);
      below = std::max(below, g.glyph.height - g.glyph.top);
    }
    bool tall_enough = 3 + top + below + 1 <= f.height / f.bands;
    if (tall_enough && split_bands(glyphs, f.width, f.bands, &starts)) break;
  }
  Canvas c = canvas_make(f.width, f.height, {1, 1, 1, 0});
  Rgba mark = rgb_hex(marker >> 8, 1.0f);
  // The tallest glyph's top sits two rows under the band's top row.
  int top = 0;
  for (const RenderedGlyph &g : glyphs) top = std::max(top, g.glyph.top);
  int n = static_cast<int>(glyphs.size());
  for (int b = 0; b < f.bands; b++) {
    int y0 = b * f.height / f.bands, y1 = (b + 1) * f.height / f.bands;
    int first = starts[static_cast<size_t>(b)], last = b + 1 < f.bands ? starts[static_cast<size_t>(b) + 1] : n;
    int sum = 0;
    for (int k = first; k < last; k++) sum += glyphs[static_cast<size_t>(k)].cell;
    float spare = static_cast<float>(f.width - sum) / static_cast<float>(last - first);
    float x = 0.0f;
    int baseline = y0 + 3 + top;
    for (int k = first; k < last; k++) {
      const RenderedGlyph &g = glyphs[static_cast<size_t>(k)];
      int left = static_cast<int>(std::lround(x));
      x += static_cast<float>(g.cell) + spare;
      canvas_at(&c, left, y0) = mark;
      // Half the spare width each side keeps the glyph in its cell's middle.
      int ox = left + 1 + static_cast<int>(spare * 0.5f) + g.shift + g.glyph.left, oy = baseline - g.glyph.top;
      for (int j = 0; j < g.glyph.height; j++)
        for (int i = 0; i < g.glyph.width; i++) {
          int py = oy + j;
          if (py <= y0 || py >= y1) continue;  // never on the marker row or into the next band
          float a = static_cast<float>(g.glyph.coverage[static_cast<size_t>(j) * g.glyph.width + i]) / 255.0f;
          if (a > 0.0f) canvas_at(&c, ox + i, py) = {1, 1, 1, a};
        }
    }
  }
  return c;
}

void write_font(Archive *archive, const char *name, const FontLayout &layout, size_t expected) {
  Canvas c = font_picture(layout);
  if (c.width == 0) return;
  Bitmap image = canvas_image(c, 4);
  // The builder checks its own picture the way the game will read it.
  std::vector<FontCell> cells;
  if (font_cells(image, &cells) != expected)
    fprintf(stderr, "%s: %zu glyph cells, not %zu\n", name, cells.size(), expected);
  Bytes png;
  if (png_encode(image, &png)) archive_add(archive, name, std::move(png));
}

}  // namespace

size_t font_cells(const Bitmap &image, std::vector<FontCell> *cells) {
  cells->clear();
  if (image.width <= 0 || image.height <= 0 || image.channels != 4) return 0;
  auto pixel = [&](int x, int y) {
    const unsigned char *p = &image.pixels[(static_cast<size_t>(y) * image.width + x) * 4];
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
  };
  uint32_t mark = pixel(0, 0);
  std::vector<int> band_rows;
  for (int y = 0; y < image.height; y++)
    if (y == 0 || pixel(0, y) == mark) band_rows.push_back(y);
  for (size_t b = 0; b < band_rows.size(); b++) {
    int y0 = band_rows[b], y1 = b + 1 < band_rows.size() ? band_rows[b + 1] : image.height;
    int left = 0;
    for (int x = 1; x <= image.width; x++)
      if (x == image.width || pixel(x, y0) == mark) {
        cells->push_back({left, x, y0, y1});
        left = x;
      }
  }
  return cells->size();
}

void write_font_files(Archive *archive) {
  static char printable[95];
  for (int c = 33; c <= 126; c++) printable[c - 33] = static_cast<char>(c);
  // Lines up to a hundred pixels tall stay sharp: more than a loading
  // screen's text at 1080p.
  write_font(archive, "font.png", {face_sans_bold, 96.0f, 1024, 512, 5, printable}, 94);
  write_font(archive, "numbers.png", {face_sans_bold, 142.0f, 1024, 128, 1, "0123456789"}, 10);
  write_font(archive, "numbers-condensed.png", {face_condensed_bold, 142.0f, 1024, 128, 1, "0123456789"}, 10);
}

}  // namespace databuild
