#include "ui/text.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "assets/file.h"
#include "assets/image.h"
#include "assets/texture.h"
#include "platform/log.h"
#include "render/gl_caps.h"
#include "render/view.h"

namespace {

constexpr int max_batch = 256;  // quads per draw call
constexpr int max_layout = 8192;
constexpr int max_sgr_parameters = 64;

// Lives from load_fonts to free_fonts.
Font fonts[font_count];
bool fonts_defaulted = false;

const char *const font_files[font_count] = {"!@font.png", "!@numbers.png", "!@numbers-condensed.png"};
const char *const text_glyphs =
    "!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";
const char *const digit_glyphs = "0123456789";

void font_defaults(Font *f) {
  memset(f, 0, sizeof *f);
  for (float &a : f->advance) a = 2.0f / 3.0f;
}

void ensure_defaults() {
  if (fonts_defaulted) return;
  for (Font &f : fonts) font_defaults(&f);
  fonts_defaulted = true;
}

bool is_marker(const uint8_t *pixels, int width, int x, int y, const uint8_t marker[4]) {
  return memcmp(pixels + (static_cast<size_t>(y) * width + x) * 4, marker, 4) == 0;
}

// Reads a font picture as an RGBA chain; null when it cannot be read.
uint8_t *read_rgba(const char *name, int *width, int *height) {
  if (name[0] == '!') name++;
  DataFile *file = dfile_open(name, "rb");
  if (!file) return nullptr;
  Picture p;
  char error[image_error_size];
  int ok = png_read(file, &p, nullptr, error);
  dfile_close(file);
  if (!ok) return nullptr;
  if (p.channels == 4) {
    *width = p.width;
    *height = p.height;
    return p.pixels;
  }
  Picture rgba = picture_alloc(p.width, p.height, 4);
  for (size_t i = 0; i < static_cast<size_t>(p.width) * p.height; i++) {
    memcpy(rgba.pixels + i * 4, p.pixels + i * 3, 3);
    rgba.pixels[i * 4 + 3] = 255;
  }
  picture_free(&p);
  *width = rgba.width;
  *height = rgba.height;
  return rgba.pixels;
}

void palette(int index, float rgb[3]) {
  float level = index >= 8 ? 1.0f : 0.75f;
  int bits = index & 7;  // black, red, green, yellow, blue, magenta, cyan, white
  rgb[0] = bits & 1 ? level : 0.0f;
  rgb[1] = bits & 2 ? level : 0.0f;
  rgb[2] = bits & 4 ? level : 0.0f;
}

// The colour state of the walk over a text.
struct Pen {
  float caller[3];
  int palette_index;  // -1: the caller's colour
  int bold;
  bool shadow;
  void colour(float a, float out[4]) const {
    if (palette_index >= 0) {
      palette(palette_index + (bold ? 8 : 0), out);
    } else {
      for (int c = 0; c < 3; c++) out[c] = bold ? std::min(caller[c] + 0.25f, 1.0f) : caller[c];
    }
    out[3] = a;
  }
};

// Applies one escape sequence starting at the ESC; returns the position after it.
const char *escape(const char *p, Pen *pen) {
  p++;  // the ESC
  if (*p != '[') return p;
  p++;
  int params[max_sgr_parameters];
  int count = 0;
  bool any_digit = false;
  int value = 0;
  while ((*p >= '0' && *p <= '9') || *p == ';') {
    if (*p == ';') {
      if (count < max_sgr_parameters) params[count++] = value;
      value = 0;
      any_digit = false;
    } else {
      value = std::min(value * 10 + (*p - '0'), 100000);
      any_digit = true;
    }
    p++;
  }
  if (any_digit || count > 0) {
    if (count < max_sgr_parameters) params[count++] = value;
  }
  while (*p && !(*p >= '@' && *p <= '~')) p++;
  if (!*p) return p;
  if (*p == 'm') {
    if (count == 0) {
      pen->palette_index = -1;
      pen->bold = 0;
    }
    for (int i = 0; i < count; i++) {
      int v = params[i];
      if (v == 0) {
        pen->palette_index = -1;
        pen->bold = 0;
      } else if (v == 1) {
        pen->bold = 1;
      } else if (v == 22) {
        pen->bold = 0;
      } else if (v >= 30 && v <= 37) {
        if (!pen->shadow) pen->palette_index = v - 30;
      } else if (v >= 40 && v <= 47) {
        if (pen->shadow) pen->palette_index = v - 40;
      }
    }
  }
  return p + 1;
}

bool only_blanks(const char *text) {
  for (const char *p = text; *p; p++)
    if (!(*p == ' ' || (*p >= '\t' && *p <= '\r'))) return false;
  return true;
}

TextQuad layout_buffer[max_layout];

void draw_quads(unsigned texture, const TextQuad *quads, int count) {
  static float vertices[max_batch * 4 * 2], coords[max_batch * 4 * 2], colours[max_batch * 4 * 4];
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glVertexPointer(2, GL_FLOAT, 0, vertices);
  glTexCoordPointer(2, GL_FLOAT, 0, coords);
  glColorPointer(4, GL_FLOAT, 0, colours);
  for (int start = 0; start < count; start += max_batch) {
    int n = std::min(max_batch, count - start);
    for (int i = 0; i < n; i++) {
      const TextQuad &q = quads[start + i];
      const float v[8] = {q.x0, q.y0, q.x1, q.y0, q.x1, q.y1, q.x0, q.y1};
      const float t[8] = {q.u0, q.v1, q.u1, q.v1, q.u1, q.v0, q.u0, q.v0};
      memcpy(vertices + i * 8, v, sizeof v);
      memcpy(coords + i * 8, t, sizeof t);
      for (int k = 0; k < 4; k++) memcpy(colours + i * 16 + k * 4, q.rgba, sizeof q.rgba);
    }
    glDrawArrays(GL_QUADS, 0, n * 4);
  }
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisable(GL_TEXTURE_2D);
}

}  // namespace

void text_palette(int index, float rgb[3]) { palette(index & 15, rgb); }

void font_from_pixels(Font *f, uint8_t *pixels, int width, int height, const char *glyphs) {
  font_defaults(f);
  f->pixels = pixels;
  f->width = width;
  f->height = height;
  if (!pixels || width < 1 || height < 1) return;
  uint8_t marker[4];
  memcpy(marker, pixels, 4);
  // Band tops: row 0 and every row whose left-most pixel is a marker.
  static int band_top[max_image_side + 1];
  int bands = 0;
  for (int y = 0; y < height; y++)
    if (y == 0 || is_marker(pixels, width, 0, y, marker)) band_top[bands++] = y;
  band_top[bands] = height;
  int band = 0, cell_start = 0;
  size_t n = strlen(glyphs);
  for (size_t g = 0; g < n; g++) {
    int top = band_top[band], bottom = band_top[band + 1];
    int next = cell_start + 1;
    while (next < width && !is_marker(pixels, width, next, top, marker)) next++;
    unsigned char c = static_cast<unsigned char>(glyphs[g]);
    f->rect[c][0] = static_cast<float>(cell_start) / width;
    f->rect[c][1] = static_cast<float>(top) / height;
    f->rect[c][2] = static_cast<float>(next) / width;
    f->rect[c][3] = static_cast<float>(bottom) / height;
    f->advance[c] = static_cast<float>(next - cell_start) / static_cast<float>(bottom - top);
    cell_start = next;
    if (cell_start >= width) {
      // This band's cells are used up: the next band, or the first again.
      cell_start = 0;
      band = band + 1 < bands ? band + 1 : 0;
    }
  }
  f->advance[' '] = f->advance['-'];
  // The markers must never show: every marker of a band's top row, and the
  // row's first pixel, becomes clear white.
  static const uint8_t clear[4] = {255, 255, 255, 0};
  for (int b = 0; b < bands; b++) {
    uint8_t *row = pixels + static_cast<size_t>(band_top[b]) * width * 4;
    for (int x = 0; x < width; x++)
      if (x == 0 || memcmp(row + x * 4, marker, 4) == 0) memcpy(row + x * 4, clear, 4);
  }
  build_levels(pixels, width, height, 4, 0);
}

void load_fonts() {
  ensure_defaults();
  const char *glyph_lists[font_count] = {text_glyphs, digit_glyphs, digit_glyphs};
  for (int i = 0; i < font_count; i++) {
    int w = 0, h = 0;
    uint8_t *pixels = read_rgba(font_files[i], &w, &h);
    if (!pixels) {
      char text[600];
      snprintf(text, sizeof text, "Can't open font '%.512s'", font_files[i] + 1);
      print_message(text);
      font_defaults(&fonts[i]);
      continue;
    }
    font_from_pixels(&fonts[i], pixels, w, h, glyph_lists[i]);
    if (i == font_text) {
      fonts[i].texture = texture_upload(pixels, w, h, 4, 0, nullptr);
      tracked_free(pixels);
      fonts[i].pixels = nullptr;
    }
  }
}

void free_fonts() {
  ensure_defaults();
  for (Font &f : fonts) {
    if (f.texture) texture_release(f.texture, chain_bytes(f.width, f.height, 4));
    tracked_free(f.pixels);
    font_defaults(&f);
  }
}

const Font *font(int index) {
  ensure_defaults();
  return index >= 0 && index < font_count ? &fonts[index] : nullptr;
}

int layout_text(const Font *f, float r, float g, float b, float a, const char *text, int mode, TextQuad *quads,
                int max_quads) {
  if (!text || !*text || only_blanks(text)) return 0;
  Pen pen = {{r, g, b}, -1, 0, mode == text_mode_shadow};
  float x = 0, y = 0;
  float space = f->advance[' '];
  int count = 0;
  for (const char *p = text; *p;) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == static_cast<unsigned char>(text_escape)) {
      p = escape(p, &pen);
      continue;
    }
    p++;
    if (c == ' ') {
      x += space;
    } else if (c == '\r') {
      x = 0;
    } else if (c == '\n') {
      x = 0;
      y -= 1;
    } else if (c == '\t') {
      float stop = 8 * space;
      if (stop > 0) x = (static_cast<float>(static_cast<int>(x / stop)) + 1) * stop;
    } else {
      if (count < max_quads && quads) {
        TextQuad &q = quads[count];
        q.x0 = x;
        q.y0 = y;
        q.x1 = x + f->advance[c];
        q.y1 = y + 1;
        q.u0 = f->rect[c][0];
        q.v0 = f->rect[c][1];
        q.u1 = f->rect[c][2];
        q.v1 = f->rect[c][3];
        pen.colour(a, q.rgba);
        q.character = c;
      }
      count++;
      x += f->advance[c];
    }
  }
  return count;
}

float text_width(const char *text) {
  ensure_defaults();
  const Font *f = &fonts[font_text];
  if (!text) return 0;
  float x = 0, widest = 0;
  float space = f->advance[' '];
  for (const char *p = text; *p;) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == static_cast<unsigned char>(text_escape)) {
      // The same walk as drawing: a sequence draws nothing and takes no room.
      Pen pen = {{0, 0, 0}, -1, 0, false};
      p = escape(p, &pen);
      continue;
    }
    p++;
    if (c == '\r' || c == '\n') {
      x = 0;
    } else if (c == '\t') {
      float stop = 8 * space;
      if (stop > 0) x = (static_cast<float>(static_cast<int>(x / stop)) + 1) * stop;
    } else {
      x += c == ' ' ? space : f->advance[c];
    }
    widest = std::max(widest, x);
  }
  return widest;
}

void draw_text(float r, float g, float b, float a, const char *text, int mode) {
  ensure_defaults();
  const Font *f = &fonts[font_text];
  if (!f->texture) return;
  int n = layout_text(f, r, g, b, a, text, mode, layout_buffer, max_layout);
  n = std::min(n, max_layout);
  if (n > 0) draw_quads(f->texture, layout_buffer, n);
}

void draw_text_shadowed(float r, float g, float b, float a, const char *text) {
  glTranslatef(0.0625f, -0.0625f, 0);
  draw_text(0, 0, 0, a * 0.5f, text, text_mode_shadow);
  glTranslatef(-0.0625f, 0.0625f, 0);
  draw_text(r, g, b, a, text, text_mode_colour);
}

void draw_text_shadowed(const char *text) { draw_text_shadowed(0.75f, 0.75f, 0.75f, 1.0f, text); }

void draw_text_centred(float r, float g, float b, float a, float x0, float x1, const char *text) {
  float shift = x0 + ((x1 - x0) - text_width(text)) / 2;
  glTranslatef(shift, 0, 0);
  draw_text_shadowed(r, g, b, a, text);
  glTranslatef(-shift, 0, 0);
}

void draw_text_centred_plain(float r, float g, float b, float a, float x0, float x1, const char *text) {
  float shift = x0 + ((x1 - x0) - text_width(text)) / 2;
  glTranslatef(shift, 0, 0);
  draw_text(r, g, b, a, text, text_mode_colour);
  glTranslatef(-shift, 0, 0);
}

void draw_text_right(float r, float g, float b, float a, float x, const char *text) {
  float shift = x - text_width(text);
  glTranslatef(shift, 0, 0);
  draw_text_shadowed(r, g, b, a, text);
  glTranslatef(-shift, 0, 0);
}

void draw_box(float r, float g, float b, float a, float x0, float y0, float x1, float y1) {
  glColor4f(r, g, b, a);
  glBegin(GL_QUADS);
  glVertex2f(x0, y0);
  glVertex2f(x1, y0);
  glVertex2f(x1, y1);
  glVertex2f(x0, y1);
  glEnd();
}

void overlay_begin() {
  glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT |
               GL_LIGHTING_BIT | GL_FOG_BIT | GL_POLYGON_BIT);
  glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glDisable(GL_FOG);
  glDisable(GL_CULL_FACE);
  glDisable(GL_ALPHA_TEST);
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glDepthMask(GL_FALSE);
  use_program(0);
}

void overlay_end() {
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glPopClientAttrib();
  glPopAttrib();
}

void text_frame(float lines) {
  const ViewExtents &v = view_extents();
  float unit = 2 * v.yext / lines;
  glLoadIdentity();
  glTranslatef(-v.xext, v.yext - unit, -1);
  glScalef(unit, unit, 1);
}

float text_frame_width(float lines) {
  const ViewExtents &v = view_extents();
  return v.yext > 0 ? lines * v.xext / v.yext : lines;
}

void text_move(float dx, float dy) { glTranslatef(dx, dy, 0); }
void text_scale(float factor) { glScalef(factor, factor, 1); }

void race_length_text(char *out, int size, int finish_time, int finish_laps) {
  if (size < 1) return;
  if (finish_time == 0) {
    snprintf(out, size, "%d laps", finish_laps);
    return;
  }
  int minutes = static_cast<int>(std::floor(finish_time / 128.0 / 60.0 + 0.5));
  if (finish_laps == 0)
    snprintf(out, size, "%d minutes", minutes);
  else
    snprintf(out, size, "%d minutes + %d laps", minutes, finish_laps);
}
