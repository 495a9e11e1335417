// The text renderer: glyph bands and markers, the layout walk with colour
// sequences and tabs, widths, and text drawn into a real frame buffer.
#include <png.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/alloc.h"
#include "assets/file.h"
#include "assets/image.h"
#include "gl_fixture.h"
#include "render/view.h"
#include "ui/text.h"

namespace {

const uint8_t marker[4] = {255, 0, 255, 255};

// A 12 x 16 font picture: band 0 (rows 0..7) cut at columns 5 and 9, band 1
// (rows 8..15) cut at column 6. Glyph texels are opaque white.
uint8_t *make_font_pixels() {
  const int w = 12, h = 16;
  uint8_t *p = static_cast<uint8_t *>(alloc_or_die(chain_bytes(w, h, 4)));
  for (int i = 0; i < w * h; i++) {
    const uint8_t white[4] = {255, 255, 255, 255};
    memcpy(p + i * 4, white, 4);
  }
  auto mark = [&](int x, int y) { memcpy(p + (y * w + x) * 4, marker, 4); };
  mark(0, 0);
  mark(5, 0);
  mark(9, 0);
  mark(0, 8);
  mark(6, 8);
  return p;
}

TEST(FontBands, CellsBandsWrapAndMarkersCleared) {
  Font f;
  uint8_t *pixels = make_font_pixels();
  font_from_pixels(&f, pixels, 12, 16, "ABCDE-F");
  // A, B, C across band 0; D, E across band 1; "-" wraps to band 0's first cell.
  EXPECT_FLOAT_EQ(f.rect['A'][0], 0.0f);
  EXPECT_FLOAT_EQ(f.rect['A'][2], 5.0f / 12);
  EXPECT_FLOAT_EQ(f.rect['A'][3], 8.0f / 16);
  EXPECT_FLOAT_EQ(f.rect['B'][0], 5.0f / 12);
  EXPECT_FLOAT_EQ(f.rect['C'][2], 1.0f) << "the last cell ends at the picture's edge";
  EXPECT_FLOAT_EQ(f.advance['C'], 3.0f / 8);
  EXPECT_FLOAT_EQ(f.rect['D'][1], 0.5f);
  EXPECT_FLOAT_EQ(f.rect['D'][3], 1.0f);
  EXPECT_FLOAT_EQ(f.advance['E'], 6.0f / 8);
  EXPECT_FLOAT_EQ(f.rect['-'][0], 0.0f) << "a list longer than the cells wraps to the first band";
  EXPECT_FLOAT_EQ(f.rect['-'][1], 0.0f);
  EXPECT_FLOAT_EQ(f.rect['F'][0], 5.0f / 12);
  EXPECT_FLOAT_EQ(f.advance[' '], f.advance['-']);
  EXPECT_FLOAT_EQ(f.advance['z'], 2.0f / 3) << "absent: two thirds of a line";
  EXPECT_FLOAT_EQ(f.rect['z'][2], 0.0f);
  // No marker survives in the band tops.
  for (int x : {0, 5, 9}) EXPECT_EQ(pixels[x * 4 + 3], 0) << "column " << x;
  EXPECT_EQ(pixels[(8 * 12 + 6) * 4 + 3], 0);
  EXPECT_EQ(pixels[(8 * 12 + 0) * 4 + 3], 0);
  EXPECT_EQ(pixels[(1 * 12 + 0) * 4 + 3], 255) << "glyph texels stay";
  tracked_free(pixels);
}

class LayoutTest : public ::testing::Test {
 protected:
  Font f;
  TextQuad q[64];
  void SetUp() override {
    memset(&f, 0, sizeof f);
    for (float &a : f.advance) a = 0.5f;
    f.advance[' '] = 0.25f;
  }
};

TEST_F(LayoutTest, ColourSequences) {
  ASSERT_EQ(layout_text(&f, 0.2f, 0.3f, 0.4f, 0.5f, "\x1b[1;31mA", text_mode_colour, q, 64), 1);
  EXPECT_FLOAT_EQ(q[0].rgba[0], 1.0f) << "bold red is full red";
  EXPECT_FLOAT_EQ(q[0].rgba[1], 0.0f);
  EXPECT_FLOAT_EQ(q[0].rgba[3], 0.5f) << "alpha is always the caller's";
  layout_text(&f, 1, 1, 1, 1, "\x1b[31mA\x1b[0mB\x1b[1mC\x1b[32;1mD\x1b[22mE", text_mode_colour, q, 64);
  EXPECT_FLOAT_EQ(q[0].rgba[0], 0.75f);
  EXPECT_FLOAT_EQ(q[1].rgba[1], 1.0f) << "back to the caller's colour";
  layout_text(&f, 0.5f, 0.5f, 0.9f, 1, "\x1b[1mC", text_mode_colour, q, 64);
  EXPECT_FLOAT_EQ(q[0].rgba[0], 0.75f) << "bold lifts the caller's colour by a quarter";
  EXPECT_FLOAT_EQ(q[0].rgba[2], 1.0f) << "capped at 1";
  layout_text(&f, 1, 1, 1, 1, "\x1b[32;1mD\x1b[22mE", text_mode_colour, q, 64);
  EXPECT_FLOAT_EQ(q[0].rgba[1], 1.0f);
  EXPECT_FLOAT_EQ(q[1].rgba[1], 0.75f);

  // The shadow pass takes background colours and ignores foreground ones.
  layout_text(&f, 0, 0, 0, 0.5f, "\x1b[44;31mA", text_mode_shadow, q, 64);
  EXPECT_FLOAT_EQ(q[0].rgba[0], 0.0f);
  EXPECT_FLOAT_EQ(q[0].rgba[2], 0.75f);
  layout_text(&f, 0.1f, 0.1f, 0.1f, 1, "\x1b[44mA", text_mode_colour, q, 64);
  EXPECT_FLOAT_EQ(q[0].rgba[2], 0.1f) << "background colours do not colour the text";
  // A sequence with another final character draws nothing and changes nothing.
  EXPECT_EQ(layout_text(&f, 1, 1, 1, 1, "\x1b[2JA", text_mode_colour, q, 64), 1);
  EXPECT_FLOAT_EQ(q[0].x0, 0.0f);
}

TEST_F(LayoutTest, BlanksTabsAndLines) {
  EXPECT_EQ(layout_text(&f, 1, 1, 1, 1, "", text_mode_colour, q, 64), 0);
  EXPECT_EQ(layout_text(&f, 1, 1, 1, 1, "  \t\n ", text_mode_colour, q, 64), 0) << "only blanks: nothing";
  // Tab stops every 8 spaces (2 units here), strictly beyond the pen.
  ASSERT_EQ(layout_text(&f, 1, 1, 1, 1, "A\tB", text_mode_colour, q, 64), 2);
  EXPECT_FLOAT_EQ(q[1].x0, 2.0f);
  layout_text(&f, 1, 1, 1, 1, "AAAA\tB", text_mode_colour, q, 64);
  EXPECT_FLOAT_EQ(q[4].x0, 4.0f) << "a tab met exactly at a stop goes to the next";
  layout_text(&f, 1, 1, 1, 1, "AB\nC\rD", text_mode_colour, q, 64);
  EXPECT_FLOAT_EQ(q[2].x0, 0.0f);
  EXPECT_FLOAT_EQ(q[2].y0, -1.0f) << "a line feed goes down one line";
  EXPECT_FLOAT_EQ(q[3].x0, 0.0f);
  EXPECT_FLOAT_EQ(q[3].y0, -1.0f);
  EXPECT_FLOAT_EQ(q[0].y1, 1.0f);
}

TEST(TextWidth, EscapesTabsAndLines) {
  // Without a loaded font every glyph and blank advances 2/3.
  free_fonts();
  const float a = 2.0f / 3;
  EXPECT_FLOAT_EQ(text_width("abc"), 3 * a);
  EXPECT_FLOAT_EQ(text_width("\x1b[1;31mab\x1b[0m"), 2 * a) << "sequences take no room";
  EXPECT_FLOAT_EQ(text_width("ab\nabcd\nx"), 4 * a) << "the widest line";
  EXPECT_FLOAT_EQ(text_width("a\tb"), 8 * a + a);
  EXPECT_FLOAT_EQ(text_width(""), 0.0f);
}

class TextDrawTest : public GlTest {};

TEST_F(TextDrawTest, GlyphsLandWhereTheLayoutPutsThem) {
  // A 16 x 16 font as the game's "@font.png": band 0 has one 8-wide cell
  // holding a filled square glyph ("!", the first of the list); the rest of
  // the picture is clear.
  std::string dir = make_temp_dir("font");
  setenv("QX_HOME", dir.c_str(), 1);
  setenv("XDG_DATA_HOME", (dir + "/home").c_str(), 1);
  file_layer_reset_for_tests();
  const int w = 16, h = 16;
  std::vector<uint8_t> pixels(w * h * 4, 0);
  for (int y = 1; y < h; y++)
    for (int x = 0; x < 8; x++) memset(&pixels[(y * w + x) * 4], 255, 4);
  memcpy(&pixels[0], marker, 4);
  memcpy(&pixels[8 * 4], marker, 4);
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  image.width = w;
  image.height = h;
  image.format = PNG_FORMAT_RGBA;
  ASSERT_TRUE(png_image_write_to_file(&image, (dir + "/font.png").c_str(), 0, pixels.data(), 0, nullptr));
  load_fonts();
  ASSERT_NE(font(font_text)->texture, 0u);
  EXPECT_FLOAT_EQ(font(font_text)->advance['!'], 0.5f);

  set_projection(width, height, 90);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  overlay_begin();
  text_frame(8);  // 8 lines over 256 pixels: a line is 32 pixels
  draw_text(1, 1, 1, 1, "\x1b[1;31m!\x1b[0m !", text_mode_colour);
  // More quads than one batch holds: 20 lines of 15 glyphs, an eighth of a
  // line high, below line 4; the last lines come from the second batch.
  text_move(0, -4);
  text_scale(0.125f);
  std::string many;
  for (int line = 0; line < 20; line++) many += std::string(15, '!') + "\n";
  draw_text(0, 1, 0, 1, many.c_str(), text_mode_colour);
  overlay_end();
  std::vector<unsigned char> px = read_pixels();
  auto at = [&](int x, int y_from_top) { return &px[(static_cast<size_t>(height - 1 - y_from_top) * width + x) * 3]; };
  // Line 0 is the top 32 rows; the first glyph covers x 0..15, full red.
  EXPECT_EQ(at(8, 16)[0], 255);
  EXPECT_EQ(at(8, 16)[1], 0);
  // Then a space as wide as "-" (absent: 2/3 of a line), then the second
  // glyph in white.
  int second = static_cast<int>((0.5f + 2.0f / 3) * 32) + 8;
  EXPECT_EQ(at(second, 16)[1], 255);
  EXPECT_EQ(at(second, 48)[1], 0) << "nothing on the next line";
  EXPECT_EQ(at(20, 16)[0], 0) << "the gap between the glyphs is empty";
  // Scaled line k covers rows 156 + 4k .. 160 + 4k; glyph j columns 2j .. 2j + 2.
  EXPECT_EQ(at(1, 158)[1], 255);
  EXPECT_EQ(at(29, 158 + 4 * 19)[1], 255) << "glyph 300 of one call is drawn";
  EXPECT_EQ(at(31, 158 + 4 * 19)[1], 0);
  EXPECT_EQ(at(1, 158 + 4 * 20)[1], 0);
  free_fonts();
  unsetenv("QX_HOME");
  file_layer_reset_for_tests();
}

TEST(Projection, WideWindowsKeepTheVerticalExtent) {
  ViewExtents wide = view_extents_for(1920, 1080, 90, 0.25f, 5000);
  ViewExtents square = view_extents_for(1024, 768, 90, 0.25f, 5000);
  EXPECT_NEAR(wide.yext, square.yext, 1e-6);
  EXPECT_NEAR(square.xext, 1.0f, 1e-6) << "fov is the horizontal angle of a 4:3 window";
  EXPECT_NEAR(wide.xext, 0.75f * 1920 / 1080, 1e-5);
  ViewExtents tall = view_extents_for(600, 800, 90, 0.25f, 5000);
  EXPECT_NEAR(tall.xext, 1.0f, 1e-6) << "narrower than 4:3: the horizontal extent stays";
  EXPECT_NEAR(tall.yext, 800.0f / 600, 1e-5);
}

}  // namespace
