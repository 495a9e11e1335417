// Contact sheets for people reviewing the art: every picture of the archive
// decoded from its member (so a sheet shows what the game will read),
// grouped by folder, each with its name and size over a chequerboard that
// shows its transparency; per track the sky faces laid out round the up
// face; and a page of text set with the fonts as the game cuts them.
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "databuild.h"
#include "image_gen.h"

namespace databuild {

namespace {

constexpr int thumb = 256, label = 22, columns = 6, gap = 12;

bool ends_with(const std::string &s, const char *tail) {
  size_t n = strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// A gzip member's plain bytes.
bool gunzip(const Bytes &in, Bytes *out) {
  z_stream z{};
  if (inflateInit2(&z, 15 + 16) != Z_OK) return false;
  z.next_in = const_cast<Bytef *>(in.data.data());
  z.avail_in = static_cast<uInt>(in.data.size());
  unsigned char buffer[65536];
  int result;
  do {
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    result = inflate(&z, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) break;
    bytes_append(out, buffer, sizeof buffer - z.avail_out);
  } while (result != Z_STREAM_END);
  inflateEnd(&z);
  return result == Z_STREAM_END;
}

// The builder's own binary PPM ("P6") and PGM ("P5"): no comments.
bool decode_netpbm(const Bytes &bytes, Bitmap *out) {
  char magic[3] = {};
  int w = 0, h = 0, max = 0, used = 0;
  std::string head(reinterpret_cast<const char *>(bytes.data.data()), std::min<size_t>(bytes.data.size(), 64));
  if (sscanf(head.c_str(), "%2s %d %d %d%n", magic, &w, &h, &max, &used) != 4 || max != 255 || w <= 0 || h <= 0)
    return false;
  int channels = strcmp(magic, "P6") == 0 ? 3 : strcmp(magic, "P5") == 0 ? 1 : 0;
  size_t start = static_cast<size_t>(used) + 1;
  if (channels == 0 || bytes.data.size() < start + static_cast<size_t>(w) * h * channels) return false;
  *out = Bitmap{w, h, 3, std::vector<unsigned char>(static_cast<size_t>(w) * h * 3)};
  for (size_t k = 0; k < static_cast<size_t>(w) * h; k++)
    for (int c = 0; c < 3; c++) out->pixels[k * 3 + c] = bytes.data[start + k * channels + (channels == 3 ? c : 0)];
  return true;
}

struct Entry {
  std::string name;
  Bitmap image;
};

Canvas checkerboard(int w, int h) {
  // Mid greys: white sprites and dark ones both stand out.
  Canvas c = canvas_make(w, h, rgb_hex(0x767676));
  for (int j = 0; j < h; j++)
    for (int i = 0; i < w; i++)
      if (((i / 8) + (j / 8)) % 2) canvas_at(&c, i, j) = rgb_hex(0x5c5c5c);
  return c;
}

// The picture fitted into a box, on a chequerboard.
Canvas thumbnail(const Bitmap &image, int box) {
  Canvas src = image_canvas(image);
  float k = std::min(1.0f, static_cast<float>(box) / static_cast<float>(std::max(image.width, image.height)));
  int w = std::max(1, static_cast<int>(std::lround(image.width * k)));
  int h = std::max(1, static_cast<int>(std::lround(image.height * k)));
  Canvas small = canvas_resize(src, w, h);
  Canvas out = checkerboard(w, h);
  canvas_paste(&out, small, 0, 0);
  return out;
}

bool write_sheet(const std::string &path, const Canvas &sheet) {
  Bytes png;
  if (!png_encode(canvas_image(sheet, 3), &png) || !write_file_atomic(path.c_str(), png)) return false;
  printf("Wrote %s\n", path.c_str());
  return true;
}

bool grid_sheet(const std::string &path, const std::string &title, const std::vector<const Entry *> &entries) {
  int rows = static_cast<int>((entries.size() + columns - 1) / columns);
  int cell_w = thumb + gap, cell_h = thumb + label + gap;
  Canvas sheet = canvas_make(columns * cell_w + gap, rows * cell_h + 48 + gap, rgb_hex(0x2a2c30));
  draw_text(&sheet, face_sans_bold, 26.0f, gap, 34.0f, title.c_str(), rgb_hex(0xffffff));
  for (size_t k = 0; k < entries.size(); k++) {
    int x = gap + static_cast<int>(k % columns) * cell_w, y = 48 + static_cast<int>(k / columns) * cell_h;
    const Entry &e = *entries[k];
    Canvas t = thumbnail(e.image, thumb);
    canvas_paste(&sheet, t, x + (thumb - t.width) / 2, y + (thumb - t.height) / 2);
    char text[300];
    snprintf(text, sizeof text, "%s  %dx%d", e.name.c_str(), e.image.width, e.image.height);
    draw_text(&sheet, face_sans, 13.0f, static_cast<float>(x), static_cast<float>(y + thumb + 16), text,
              rgb_hex(0xe0e0e0));
  }
  return write_sheet(path, sheet);
}

// The sky box unfolded: west, north, east and south in a row, the up face
// above the north face as seen looking up from there; the environment map
// beside them.
bool sky_sheet(const std::string &path, const std::map<std::string, const Entry *> &faces) {
  constexpr int s = 384;
  Canvas sheet = canvas_make(4 * s + 2 * gap + s, 2 * s + 60, rgb_hex(0x2a2c30));
  static const char *const order[4] = {"sky-w.png", "sky-n.png", "sky-e.png", "sky-s.png"};
  for (int k = 0; k < 4; k++) {
    auto it = faces.find(order[k]);
    if (it == faces.end()) continue;
    canvas_paste(&sheet, canvas_resize(image_canvas(it->second->image), s, s), k * s, s + 40);
  }
  auto up = faces.find("sky-u.png");
  if (up != faces.end()) {
    Canvas u = canvas_resize(image_canvas(up->second->image), s, s);
    Canvas flipped = u;
    for (int j = 0; j < s; j++)
      for (int i = 0; i < s; i++) canvas_at(&flipped, i, j) = canvas_at(&u, i, s - 1 - j);
    canvas_paste(&sheet, flipped, s, 40);
  }
  auto env = faces.find("sky-env.png");
  if (env != faces.end()) canvas_paste(&sheet, canvas_resize(image_canvas(env->second->image), s, s), 4 * s + 2 * gap, 40);
  draw_text(&sheet, face_sans_bold, 24.0f, gap, 30.0f, "sky: up (seen from below, north edge down), W N E S; environment map",
            rgb_hex(0xffffff));
  return write_sheet(path, sheet);
}

// Text set the way the game sets it: each glyph's cell drawn as a quad one
// line tall and its cell's width over its band's height wide.
void set_text(Canvas *sheet, const Bitmap &font, const std::vector<FontCell> &cells, const char *list, float x,
              float y, float line, const char *text, Rgba colour) {
  Canvas glyphs = image_canvas(font);
  float pen = x;
  for (const char *p = text; *p; p++) {
    const char *at = strchr(list, *p);
    size_t index = at ? static_cast<size_t>(at - list) : cells.size();
    if (*p == ' ' || index >= cells.size()) {
      const char *dash = strchr(list, '-');
      const FontCell *d = dash ? &cells[static_cast<size_t>(dash - list)] : nullptr;
      pen += d ? line * static_cast<float>(d->right - d->left) / static_cast<float>(d->bottom - d->top) : line * 0.67f;
      continue;
    }
    const FontCell &c = cells[index];
    float advance = line * static_cast<float>(c.right - c.left) / static_cast<float>(c.bottom - c.top);
    int w = static_cast<int>(std::ceil(advance)), h = static_cast<int>(line);
    for (int j = 0; j < h; j++)
      for (int i = 0; i < w; i++) {
        float u = static_cast<float>(c.left) + (static_cast<float>(i) + 0.5f) / advance * static_cast<float>(c.right - c.left);
        float v = static_cast<float>(c.top) + (static_cast<float>(j) + 0.5f) / line * static_cast<float>(c.bottom - c.top);
        Rgba g = canvas_sample(glyphs, u, v, false);
        // The top row's markers are cleared by the game before drawing.
        if (v < static_cast<float>(c.top) + 1.0f) continue;
        blend_pixel(sheet, static_cast<int>(pen) + i, static_cast<int>(y) + j, colour, g.a);
      }
    pen += advance;
  }
}

bool font_sheet(const std::string &path, const std::map<std::string, Entry> &all) {
  auto font = all.find("font.png"), numbers = all.find("numbers.png"), condensed = all.find("numbers-condensed.png");
  if (font == all.end()) return true;
  static char printable[95];
  for (int c = 33; c <= 126; c++) printable[c - 33] = static_cast<char>(c);
  std::vector<FontCell> cells;
  font_cells(font->second.image, &cells);
  Canvas sheet = canvas_make(1400, 760, rgb_hex(0x3c4a30));
  float y = 20.0f;
  for (float line : {20.0f, 27.0f, 43.0f, 72.0f}) {
    const char *text = line < 30.0f ? "Unofficial Results   Pos. No. Lap Gap Best Time   FPS - 60   Speed - 42.17"
                                    : "Rabbit Hill  5 laps  L3 P12 +1.4";
    set_text(&sheet, font->second.image, cells, printable, 22.0f, y + line * 0.0625f, line, text, Rgba{0, 0, 0, 0.5f});
    set_text(&sheet, font->second.image, cells, printable, 20.0f, y, line, text, rgb_hex(0xffffff));
    y += line * 1.3f;
  }
  set_text(&sheet, font->second.image, cells, printable, 20.0f, y, 36.0f, printable, rgb_hex(0xffd040));
  y += 60.0f;
  for (auto it : {numbers, condensed}) {
    if (it == all.end()) continue;
    std::vector<FontCell> digits;
    font_cells(it->second.image, &digits);
    set_text(&sheet, it->second.image, digits, "0123456789", 20.0f, y, 120.0f, "0123456789 217", rgb_hex(0xffffff));
    y += 130.0f;
  }
  return write_sheet(path, sheet);
}

// A patch of a track's ground laid out from its tile map as the renderer
// composes it (each 2 ft square one tile picture, u along x, v along z),
// where the map is most varied: the grass meeting the track, in plan.
bool ground_sheet(const std::string &path, const Archive *archive, const std::string &dir,
                  const std::map<std::string, Entry> &all) {
  const Bytes *info = nullptr, *map = nullptr;
  for (size_t k = 0; k < archive->names.size(); k++) {
    if (archive->names[k] == dir + "/tileinfo") info = &archive->members[k];
    if (archive->names[k] == dir + "/tilemap.gz") map = &archive->members[k];
  }
  Bytes tiles;
  if (!info || !map || !gunzip(*map, &tiles)) return true;
  size_t side = static_cast<size_t>(std::lround(std::sqrt(static_cast<double>(tiles.data.size()))));
  if (side * side != tiles.data.size() || side < 64) return true;
  std::vector<Canvas> pictures;
  std::string text(info->data.begin(), info->data.end());
  for (size_t at = text.find("texture @"); at != std::string::npos; at = text.find("texture @", at + 1)) {
    size_t end = text.find('\n', at);
    auto it = all.find(text.substr(at + 9, end - at - 9));
    pictures.push_back(it == all.end() ? canvas_make(32, 32, {1, 0, 1, 1}) : canvas_resize(image_canvas(it->second.image), 32, 32));
  }
  constexpr int window = 48, cell = 32;
  size_t best_at = 0;
  int best = -1;
  for (size_t row = 0; row + window <= side; row += 16)
    for (size_t col = 0; col + window <= side; col += 16) {
      std::vector<int> seen(256);
      int kinds = 0;
      for (size_t j = row; j < row + window; j += 2)
        for (size_t i = col; i < col + window; i += 2) kinds += seen[tiles.data[j * side + i]]++ == 0;
      if (kinds > best) best = kinds, best_at = row * side + col;
    }
  Canvas sheet = canvas_make(window * cell, window * cell, {0, 0, 0, 1});
  for (int j = 0; j < window; j++)
    for (int i = 0; i < window; i++) {
      size_t tile = tiles.data[best_at + static_cast<size_t>(j) * side + static_cast<size_t>(i)];
      if (tile < pictures.size()) canvas_paste(&sheet, pictures[tile], i * cell, j * cell);
    }
  return write_sheet(path, sheet);
}

}  // namespace

int write_contact_sheets(const Archive *archive, const char *dir) {
  std::map<std::string, Entry> all;
  for (size_t k = 0; k < archive->names.size(); k++) {
    const std::string &name = archive->names[k];
    const Bytes &bytes = archive->members[k];
    Entry e{name, {}};
    if (ends_with(name, ".png")) {
      if (bytes.data.size() >= 4 && memcmp(bytes.data.data(), "LINK", 4) == 0) continue;
      if (!png_decode(bytes.data.data(), bytes.data.size(), &e.image)) {
        fprintf(stderr, "%s does not decode\n", name.c_str());
        return 0;
      }
    } else if (ends_with(name, ".ppm.gz") || ends_with(name, ".pgm.gz")) {
      Bytes plain;
      if (!gunzip(bytes, &plain) || !decode_netpbm(plain, &e.image)) {
        fprintf(stderr, "%s does not decode\n", name.c_str());
        return 0;
      }
    } else {
      continue;
    }
    all[name] = std::move(e);
  }
  std::map<std::string, std::vector<const Entry *>> groups;
  std::map<std::string, std::map<std::string, const Entry *>> skies;
  for (const auto &[name, e] : all) {
    size_t slash = name.find('/');
    std::string group = slash == std::string::npos ? "interface" : name.substr(0, slash);
    // The frames of a waving flag are all on the sheet; the sky faces
    // have their own.
    std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
    if (file.rfind("sky-", 0) == 0) skies[group][file] = &e;
    groups[group].push_back(&e);
  }
  for (const auto &[group, entries] : groups)
    if (!grid_sheet(std::string(dir) + "/sheet-" + group + ".png", group, entries)) return 0;
  for (const auto &[group, faces] : skies) {
    if (!sky_sheet(std::string(dir) + "/sky-" + group + ".png", faces)) return 0;
    if (!ground_sheet(std::string(dir) + "/ground-" + group + ".png", archive, group, all)) return 0;
  }
  return font_sheet(std::string(dir) + "/sheet-fonts.png", all) ? 1 : 0;
}

}  // namespace databuild
