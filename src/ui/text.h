// The one text renderer: bitmap fonts drawn as batches of textured quads,
// with ANSI colour sequences, tabs and line breaks, and the coordinate frames
// every overlay lays its text out in.
//
// Font pictures: glyphs sit in horizontal bands. The colour of the top-left
// pixel is the marker colour; a band starts at the top row or at a row whose
// left-most pixel is a marker, and runs to the next such row. Marker pixels
// in a band's top row cut it into cells, one glyph each, assigned to the
// font's characters in order, band after band (wrapping to the first band).
// A glyph's advance is its cell width over the band height.
//
// Text in a frame: one unit is one line height; x runs right from the left
// edge of the screen, y up, and the origin is one line below the top edge,
// so line k is drawn at y = -k.
#pragma once
#include <cstdint>

constexpr int text_mode_colour = 16;  // draw in the caller's colour
constexpr int text_mode_shadow = 48;  // the shadow pass (background colours apply)
constexpr char text_escape = 27;

struct Font {
  unsigned texture;                  // text font only; 0 when it failed to load
  uint8_t *pixels;                   // the number fonts keep their RGBA chain (number plates)
  int width, height;
  float rect[256][4];                // left, top, right, bottom as fractions; 0 when absent
  float advance[256];                // in line heights
};

enum FontIndex { font_text = 0, font_numbers = 1, font_numbers_condensed = 2, font_count = 3 };

// Loads "@font.png", "@numbers.png" and "@numbers-condensed.png" (after the
// window exists); failures print "Can't open font '...'" and leave defaults.
void load_fonts();
void free_fonts();
const Font *font(int index);
// Builds a font from an RGBA chain (the pixels are changed: markers cleared,
// levels rebuilt). Used by load_fonts and by tests; no GL.
void font_from_pixels(Font *font, uint8_t *pixels, int width, int height, const char *glyphs);

// The overlay state every text and box call assumes: model-view reset to
// unit distance in front of the camera, blending on, no depth test, lighting
// or fog. Layers bracket their drawing with these; the state before is kept.
void overlay_begin();
void overlay_end();
// A frame of `lines` lines over the whole screen (see above).
void text_frame(float lines);
// The screen's width in the units of a frame of `lines` lines.
float text_frame_width(float lines);
// Moves the origin of the current frame.
void text_move(float dx, float dy);
// Scales the current frame (for text of another size at the same origin).
void text_scale(float factor);

void draw_text(float r, float g, float b, float a, const char *text, int mode);
void draw_text_shadowed(float r, float g, float b, float a, const char *text);
void draw_text_shadowed(const char *text);  // grey 0.75, opaque
// Centred between x0 and x1 of the frame.
void draw_text_centred(float r, float g, float b, float a, float x0, float x1, const char *text);
void draw_text_centred_plain(float r, float g, float b, float a, float x0, float x1, const char *text);
// Shadowed, ending at x.
void draw_text_right(float r, float g, float b, float a, float x, const char *text);
void draw_box(float r, float g, float b, float a, float x0, float y0, float x1, float y1);
// Width in line heights of the widest line.
float text_width(const char *text);

// One quad of laid-out text (for tests and anything that wants the layout
// without GL): corners in frame units, glyph rectangle, colour.
struct TextQuad {
  float x0, y0, x1, y1;
  float u0, v0, u1, v1;
  float rgba[4];
  unsigned char character;
};
// Lays out text as draw_text would; returns the number of quads (at most
// max_quads are stored).
int layout_text(const Font *font, float r, float g, float b, float a, const char *text, int mode, TextQuad *quads,
                int max_quads);
// The colour of palette entry 0..15.
void text_palette(int index, float rgb[3]);

// The race's length for the race title: "%d laps" without a time limit,
// else whole minutes (rounded) as "%d minutes", plus " + %d laps" when laps
// follow the time. `finish_time` in tics.
void race_length_text(char *out, int size, int finish_time, int finish_laps);
