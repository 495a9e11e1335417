// Pixel work without a GL context: the picture readers, the level chain,
// the preparation before upload, the PNG writers and the skin lists.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/alloc.h"
#include "assets/file.h"
#include "assets/image.h"
#include "assets/texture.h"
#include "platform/log.h"
#include "test_util.h"

namespace {

std::string scratch;

std::string put(const std::string &name, const std::string &bytes) {
  if (scratch.empty()) scratch = make_temp_dir("image");
  std::string path = scratch + "/" + name;
  write_text_file(path, bytes);
  return path;
}

// Reads a file with one of the readers; the error text lands in `error`.
int read_with(int (*reader)(DataFile *, Picture *, char *), const std::string &path, Picture *out, std::string *error) {
  DataFile *file = dfile_open(path.c_str(), "rb");
  if (!file) return -1;
  char text[image_error_size] = "";
  int ok = reader(file, out, text);
  dfile_close(file);
  if (error) *error = text;
  return ok;
}

int read_png(const std::string &path, Picture *out, std::string *info = nullptr) {
  DataFile *file = dfile_open(path.c_str(), "rb");
  if (!file) return -1;
  char error[image_error_size] = "";
  char *text = nullptr;
  int ok = png_read(file, out, &text, error);
  dfile_close(file);
  if (info) *info = text ? text : "";
  tracked_free(text);
  return ok;
}

// The predictive format's encoder, written from the format's description.
std::string hpred_encode(const std::vector<uint8_t> &pixels, int w, int h, int channels, const std::string &header_extra) {
  std::string out = channels == 4 ? "H7" : "H6";
  out += header_extra + " " + std::to_string(w) + "\n# a comment before the height\n" + std::to_string(h) + "\n";
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      for (int c = 0; c < channels; c++) {
        auto at = [&](int px, int py) { return static_cast<int>(pixels[(static_cast<size_t>(py) * w + px) * channels + c]); };
        int prediction;
        if (y == 0) {
          prediction = x == 0 ? 0 : at(x - 1, 0);
        } else if (x == 0) {
          prediction = at(0, y - 1);
        } else {
          prediction = std::min(255, std::max(0, at(x - 1, y) + at(x, y - 1) - at(x - 1, y - 1)));
        }
        out += static_cast<char>(static_cast<uint8_t>(at(x, y) - prediction));
      }
    }
  }
  return out;
}

uint8_t *level(const Picture &p, int k, int *w, int *h) {
  return p.pixels + chain_level_offset(p.width, p.height, p.channels, k, w, h);
}

Picture make_picture(int w, int h, int channels, uint8_t (*value)(int x, int y, int c)) {
  Picture p = picture_alloc(w, h, channels);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      for (int c = 0; c < channels; c++) p.pixels[(static_cast<size_t>(y) * w + x) * channels + c] = value(x, y, c);
  build_levels(p.pixels, w, h, channels, 0);
  return p;
}

class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override { hovl_reset_for_tests(); }
  void TearDown() override { hovl_reset_for_tests(); }
};

TEST_F(ImageTest, PredictiveImagesDecodeEveryPredictionCase) {
  // Values chosen so the left + above - corner prediction clamps both ways.
  std::vector<uint8_t> rgb = {10, 200, 30, 250, 5, 60, 0, 255, 128,
                              240, 0, 90, 255, 255, 1, 7, 9, 250};
  std::string path = put("a.h6", hpred_encode(rgb, 3, 2, 3, "\n# comment after the magic\n"));
  Picture p;
  ASSERT_EQ(read_with(hpred_read, path, &p, nullptr), 1);
  ASSERT_EQ(p.width, 3);
  ASSERT_EQ(p.height, 2);
  ASSERT_EQ(p.channels, 3);
  EXPECT_EQ(std::vector<uint8_t>(p.pixels, p.pixels + rgb.size()), rgb);
  int w, h;
  uint8_t *l1 = level(p, 1, &w, &h);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(l1[0], (10 + 250 + 240 + 255) / 4) << "2x2 block of the 3x2 picture";
  picture_free(&p);

  std::vector<uint8_t> rgba = {1, 2, 3, 4, 250, 251, 252, 253, 0, 0, 0, 0, 255, 255, 255, 255};
  path = put("b.h7", hpred_encode(rgba, 2, 2, 4, ""));
  ASSERT_EQ(read_with(hpred_read, path, &p, nullptr), 1);
  EXPECT_EQ(p.channels, 4);
  EXPECT_EQ(std::vector<uint8_t>(p.pixels, p.pixels + rgba.size()), rgba);
  picture_free(&p);

  // Cut short, and with a size no GPU takes: no picture, no crash.
  std::string whole = hpred_encode(rgb, 3, 2, 3, "");
  path = put("c.h6", whole.substr(0, whole.size() - 4));
  EXPECT_EQ(read_with(hpred_read, path, &p, nullptr), 0);
  EXPECT_EQ(p.pixels, nullptr);
  path = put("d.h6", "H6 100000 100000\n");
  EXPECT_EQ(read_with(hpred_read, path, &p, nullptr), 0);
}

TEST_F(ImageTest, NetpbmCommentsMaximaAndErrors) {
  Picture p;
  std::string error;
  // A text PPM with comments between the numbers and a maximum of 15.
  std::string path = put("a.ppm", "P3\n# made by hand\n2 # width\n1\n15\n15 0 0  # red\n 0 7 15\n");
  ASSERT_EQ(read_with(ppm_read, path, &p, &error), 1) << error;
  EXPECT_EQ(p.pixels[0], 255);
  EXPECT_EQ(p.pixels[1], 0);
  EXPECT_EQ(p.pixels[4], 7 * 255 / 15);
  EXPECT_EQ(p.pixels[5], 255);
  picture_free(&p);

  std::string raw = "P6\n# binary\n2 2\n255\n";
  for (int i = 0; i < 12; i++) raw += static_cast<char>(i * 20);
  path = put("b.ppm", raw);
  ASSERT_EQ(read_with(ppm_read, path, &p, &error), 1);
  EXPECT_EQ(p.pixels[11], 220);
  picture_free(&p);

  std::string grey = "P2 3 1\n# maximum other than 255\n1000\n0 500 1000\n";
  path = put("a.pgm", grey);
  ASSERT_EQ(read_with(pgm_read, path, &p, &error), 1);
  EXPECT_EQ(p.channels, 1);
  EXPECT_EQ(p.pixels[0], 0);
  EXPECT_EQ(p.pixels[1], 500 * 255 / 1000);
  EXPECT_EQ(p.pixels[2], 255);
  picture_free(&p);

  // Raw samples: one byte each below a maximum of 255 (scaled, and clamped
  // above it), two bytes each, high byte first, above 255.
  std::string narrow = "P5 3 1 100\n";
  for (int v : {0, 50, 200}) narrow += static_cast<char>(v);
  ASSERT_EQ(read_with(pgm_read, put("c.pgm", narrow), &p, &error), 1) << error;
  EXPECT_EQ(p.pixels[0], 0);
  EXPECT_EQ(p.pixels[1], 50 * 255 / 100);
  EXPECT_EQ(p.pixels[2], 255);
  picture_free(&p);
  ASSERT_EQ(read_with(pgm_read, put("d.pgm", std::string("P5 2 1 1000\n\x01\xf4\x03\xe8", 16)), &p, &error), 1);
  EXPECT_EQ(p.pixels[0], 500 * 255 / 1000);
  EXPECT_EQ(p.pixels[1], 255);
  picture_free(&p);

  EXPECT_EQ(read_with(ppm_read, put("c.ppm", "P7 2 2 255\n"), &p, &error), 0);
  EXPECT_EQ(error, "Can't parse PPM header");
  EXPECT_EQ(read_with(ppm_read, put("d.ppm", "P6 -2 2 255\n"), &p, &error), 0);
  EXPECT_EQ(error, "Can't get PPM dimensions");
  EXPECT_EQ(read_with(pgm_read, put("b.pgm", "P5 2 -1 255\n"), &p, &error), 0);
  EXPECT_EQ(error, "Can't get PGM dimensions");
  EXPECT_EQ(read_with(ppm_read, put("e.ppm", "P6 100000 100000 255\n"), &p, &error), 0)
      << "refused before anything is allocated";
  EXPECT_EQ(read_with(ppm_read, put("f.ppm", "P6 4 4 255\nabc"), &p, &error), 0) << "truncated raster";
  EXPECT_EQ(p.pixels, nullptr);
}

TEST_F(ImageTest, LevelsAverageAndWeightByAlpha) {
  // RGB: the truncated mean of each 2 x 2 block.
  Picture p = picture_alloc(2, 2, 3);
  const uint8_t rgb[12] = {0, 10, 255, 1, 11, 255, 2, 12, 0, 4, 13, 0};
  memcpy(p.pixels, rgb, 12);
  build_levels(p.pixels, 2, 2, 3, 0);
  int w, h;
  uint8_t *l = level(p, 1, &w, &h);
  EXPECT_EQ(l[0], 1);
  EXPECT_EQ(l[1], 11);
  EXPECT_EQ(l[2], 127);
  picture_free(&p);

  // RGBA: one opaque red texel among clear blue ones keeps its colour;
  // alpha is the mean, or with the max-alpha rule the maximum.
  p = picture_alloc(2, 2, 4);
  const uint8_t rgba[16] = {255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0};
  for (int max_alpha = 0; max_alpha < 2; max_alpha++) {
    memcpy(p.pixels, rgba, 16);
    build_levels(p.pixels, 2, 2, 4, max_alpha);
    l = level(p, 1, &w, &h);
    EXPECT_EQ(l[0], 255);
    EXPECT_EQ(l[2], 0);
    EXPECT_EQ(l[3], max_alpha ? 255 : 63);
  }
  // All clear, or all opaque: the plain mean.
  const uint8_t clear[16] = {200, 0, 0, 0, 0, 0, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  memcpy(p.pixels, clear, 16);
  build_levels(p.pixels, 2, 2, 4, 0);
  EXPECT_EQ(level(p, 1, &w, &h)[0], 50);
  EXPECT_EQ(level(p, 1, &w, &h)[2], 25);
  picture_free(&p);

  // A strip: pairs are averaged along its length, down to 1 x 1.
  p = picture_alloc(4, 1, 3);
  const uint8_t strip[12] = {10, 0, 0, 20, 0, 0, 30, 0, 0, 41, 0, 0};
  memcpy(p.pixels, strip, 12);
  build_levels(p.pixels, 4, 1, 3, 0);
  l = level(p, 1, &w, &h);
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(l[0], 15);
  EXPECT_EQ(l[3], 35);
  EXPECT_EQ(level(p, 2, &w, &h)[0], 25);
  EXPECT_EQ(p.levels, 3);
  EXPECT_EQ(chain_bytes(4, 1, 3), static_cast<size_t>(3 * (4 + 2 + 1)));
  picture_free(&p);
}

TEST_F(ImageTest, CustomLevelsComeFromBelowTheBase) {
  // 256 x 384: the base is the top 256 x 256; level 1 (128 x 128) sits under
  // it at the left, level 2 (64) beside level 1, levels 3.. stacked under it.
  Picture p = picture_alloc(256, 384, 3);
  memset(p.pixels, 0, static_cast<size_t>(256) * 384 * 3);
  struct Region {
    int x, y, size, colour;
  };
  const Region regions[] = {{0, 0, 256, 10}, {0, 256, 128, 20}, {128, 256, 64, 30}, {128, 320, 32, 40}, {128, 352, 16, 50},
                            {128, 368, 8, 60}, {128, 376, 4, 70}, {128, 380, 2, 80}, {128, 382, 1, 90}};
  for (const Region &r : regions)
    for (int y = r.y; y < r.y + r.size; y++)
      for (int x = r.x; x < r.x + r.size; x++) p.pixels[(static_cast<size_t>(y) * 256 + x) * 3] = static_cast<uint8_t>(r.colour);
  ASSERT_EQ(take_custom_levels(&p), 1);
  EXPECT_EQ(p.width, 256);
  EXPECT_EQ(p.height, 256);
  for (int k = 0; k < 9; k++) {
    int w, h;
    uint8_t *l = level(p, k, &w, &h);
    EXPECT_EQ(w, 256 >> k);
    EXPECT_EQ(l[0], regions[k].colour) << "level " << k;
    EXPECT_EQ(l[(static_cast<size_t>(h - 1) * w + (w - 1)) * 3], regions[k].colour) << "level " << k << " far corner";
  }
  picture_free(&p);

  Picture odd = picture_alloc(256, 300, 3);
  EXPECT_EQ(take_custom_levels(&odd), 0) << "its base of 200 rows is not a power of two";
  EXPECT_EQ(odd.height, 300) << "left as it was";
  picture_free(&odd);
}

TEST_F(ImageTest, PreparationResamplesReducesAndKeepsDetail) {
  Picture p = make_picture(100, 60, 3, [](int x, int y, int c) { return static_cast<uint8_t>(c == 0 ? x : y); });
  EXPECT_EQ(resample_to_power_of_two(&p, 0), 1);
  EXPECT_EQ(p.width, 64);
  EXPECT_EQ(p.height, 32);
  EXPECT_EQ(p.pixels[(static_cast<size_t>(10) * 64 + 63) * 3], 63 * 100 / 64) << "nearest source column";
  EXPECT_EQ(p.pixels[(static_cast<size_t>(31) * 64) * 3 + 1], 31 * 60 / 32) << "nearest source row";
  EXPECT_EQ(p.levels, 7);
  picture_free(&p);

  // Upscaled twice from 128 x 128 with the rebuilding filter itself: the two
  // top levels add nothing and go.
  Picture small = make_picture(128, 128, 3, [](int x, int y, int c) {
    return static_cast<uint8_t>(128 + 60 * std::sin(x * 0.2 + c) * std::cos(y * 0.15));
  });
  Picture big = small;
  for (int step = 0; step < 2; step++) {
    Picture up = picture_alloc(big.width * 2, big.height * 2, 3);
    int W = up.width, w = big.width;
    auto src = [&](int x, int y, int c) { return static_cast<int>(big.pixels[(static_cast<size_t>(y) * w + x) * 3 + c]); };
    for (int y = 0; y < W; y++)
      for (int x = 0; x < W; x++)
        for (int c = 0; c < 3; c++) {
          int sx = x / 2, nx = x & 1 ? std::min(sx + 1, w - 1) : std::max(sx - 1, 0);
          int sy = y / 2, ny = y & 1 ? std::min(sy + 1, w - 1) : std::max(sy - 1, 0);
          int a = (3 * src(sx, sy, c) + src(nx, sy, c)) / 4, b = (3 * src(sx, ny, c) + src(nx, ny, c)) / 4;
          up.pixels[(static_cast<size_t>(y) * W + x) * 3 + c] = static_cast<uint8_t>((3 * a + b) / 4);
        }
    build_levels(up.pixels, W, W, 3, 0);
    if (big.pixels != small.pixels) picture_free(&big);
    big = up;
  }
  picture_free(&small);
  EXPECT_EQ(big.width, 512);
  EXPECT_EQ(reduce_redundancy(&big), 2);
  EXPECT_EQ(big.width, 128);
  picture_free(&big);

  unsigned seed = 12345;
  static unsigned *s = &seed;
  Picture sharp = make_picture(512, 512, 3, [](int, int, int) {
    *s = *s * 1103515245u + 12345u;
    return static_cast<uint8_t>(*s >> 24);
  });
  EXPECT_EQ(reduce_redundancy(&sharp), 0);
  EXPECT_EQ(sharp.width, 512);
  // Detail reduction stops once a side is 128.
  EXPECT_EQ(reduce_detail(&sharp, 4), 2);
  EXPECT_EQ(sharp.width, 128);
  picture_free(&sharp);
}

TEST_F(ImageTest, BorderColourIsTheFullestEdgeBin) {
  // Green edges with a red top-left corner; the corner counts twice, but the
  // green pixels outnumber it.
  Picture p = make_picture(8, 8, 3, [](int x, int y, int c) {
    if (x == 0 && y == 0) return static_cast<uint8_t>(c == 0 ? 255 : 0);
    if (x > 0 && x < 7 && y > 0 && y < 7) return static_cast<uint8_t>(c == 2 ? 255 : 0);  // blue inside
    return static_cast<uint8_t>(c == 1 ? 200 : 30);
  });
  float rgba[4];
  border_colour(&p, rgba);
  EXPECT_FLOAT_EQ(rgba[0], (30 * 7 / 255) / 7.0f);
  EXPECT_FLOAT_EQ(rgba[1], (200 * 7 / 255) / 7.0f);
  EXPECT_FLOAT_EQ(rgba[2], (30 * 7 / 255) / 7.0f);
  EXPECT_FLOAT_EQ(rgba[3], 0.0f);
  picture_free(&p);
}

// Writes an 8-bit PNG of the given libpng format with the simplified API.
void write_simple_png(const std::string &path, int w, int h, png_uint_32 format, const std::vector<uint8_t> &pixels) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = format;
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr));
}

TEST_F(ImageTest, PngGreyWideningAndRoundTrips) {
  std::string dir = make_temp_dir("png");
  // 8-bit grey widens by repeating the byte.
  write_simple_png(dir + "/g8.png", 2, 1, PNG_FORMAT_GRAY, {0x12, 0xff});
  int w = 0, h = 0;
  uint16_t *samples = png_read_grey16((dir + "/g8.png").c_str(), &w, &h);
  ASSERT_NE(samples, nullptr);
  EXPECT_EQ(w, 2);
  EXPECT_EQ(samples[0], 0x1212);
  EXPECT_EQ(samples[1], 0xffff);
  tracked_free(samples);
  // Colour becomes grey; equal channels stay what they were.
  write_simple_png(dir + "/rgb.png", 1, 1, PNG_FORMAT_RGB, {0x40, 0x40, 0x40});
  samples = png_read_grey16((dir + "/rgb.png").c_str(), &w, &h);
  ASSERT_NE(samples, nullptr);
  EXPECT_NEAR(samples[0], 0x4040, 0x101);
  tracked_free(samples);

  // 16-bit grey written and read back exactly, in host order.
  const uint16_t heights[6] = {0, 1, 0x1234, 0x8000, 0xfedc, 0xffff};
  ASSERT_EQ(png_write_grey16((dir + "/h.png").c_str(), heights, 3, 2), 1);
  samples = png_read_grey16((dir + "/h.png").c_str(), &w, &h);
  ASSERT_NE(samples, nullptr);
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(std::vector<uint16_t>(samples, samples + 6), std::vector<uint16_t>(heights, heights + 6));
  tracked_free(samples);

  // RGB from a bottom-first buffer comes out upright.
  std::vector<uint8_t> frame(5 * 3 * 3);
  for (size_t i = 0; i < frame.size(); i++) frame[i] = static_cast<uint8_t>(i * 7);
  std::string shot = dir + "/shot.png";
  ASSERT_EQ(png_write_rgb(shot.c_str(), frame.data(), 5, 3), 1);
  EXPECT_FALSE(file_exists(shot + ".tmp")) << "written under a temporary name and renamed";
  Picture p;
  ASSERT_EQ(read_png(shot, &p), 1);
  ASSERT_EQ(p.width, 5);
  ASSERT_EQ(p.height, 3);
  ASSERT_EQ(p.channels, 3);
  for (int y = 0; y < 3; y++)
    EXPECT_EQ(0, memcmp(p.pixels + y * 15, frame.data() + (2 - y) * 15, 15)) << "row " << y;
  picture_free(&p);

  // An outside reader agrees that the file is a valid PNG: every chunk's CRC
  // checks and the image data inflates to the raster's size.
  std::string check = "python3 -c \"\n"
                      "import struct, zlib, sys\n"
                      "d = open('" + shot + "', 'rb').read()\n"
                      "assert d[:8] == b'\\\\x89PNG\\\\r\\\\n\\\\x1a\\\\n'\n"
                      "i, idat = 8, b''\n"
                      "while i < len(d):\n"
                      "    n, t = struct.unpack('>I4s', d[i:i+8])\n"
                      "    body = d[i+8:i+8+n]\n"
                      "    assert struct.unpack('>I', d[i+8+n:i+12+n])[0] == zlib.crc32(t + body)\n"
                      "    if t == b'IHDR': assert struct.unpack('>IIBB', body[:10]) == (5, 3, 8, 2)\n"
                      "    if t == b'IDAT': idat += body\n"
                      "    i += 12 + n\n"
                      "assert len(zlib.decompress(idat)) == 3 * (1 + 5 * 3)\n"
                      "\"";
  EXPECT_EQ(system(check.c_str()), 0);
}

TEST_F(ImageTest, PngTransparencyTextAndDamage) {
  std::string dir = make_temp_dir("pngt");
  // Grey with alpha becomes RGBA.
  write_simple_png(dir + "/ga.png", 2, 2, PNG_FORMAT_GA, {10, 255, 20, 0, 30, 128, 40, 64});
  Picture p;
  ASSERT_EQ(read_png(dir + "/ga.png", &p), 1);
  EXPECT_EQ(p.channels, 4);
  EXPECT_EQ(p.pixels[4], 20);
  EXPECT_EQ(p.pixels[6], 20);
  EXPECT_EQ(p.pixels[7], 0);
  picture_free(&p);

  // A file cut short, and one whose image data is damaged: no picture.
  std::vector<uint8_t> noise(64 * 64 * 3);
  for (size_t i = 0; i < noise.size(); i++) noise[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
  write_simple_png(dir + "/n.png", 64, 64, PNG_FORMAT_RGB, noise);
  std::string bytes = read_text_file(dir + "/n.png");
  write_text_file(dir + "/short.png", bytes.substr(0, bytes.size() / 2));
  EXPECT_EQ(read_png(dir + "/short.png", &p), 0);
  EXPECT_EQ(p.pixels, nullptr);
  std::string damaged = bytes;
  for (size_t i = 60; i < 90; i++) damaged[i] = static_cast<char>(damaged[i] ^ 0x5a);
  write_text_file(dir + "/bad.png", damaged);
  EXPECT_EQ(read_png(dir + "/bad.png", &p), 0);
  write_text_file(dir + "/not.png", "GIF89a this is not a PNG");
  EXPECT_EQ(read_png(dir + "/not.png", &p), 0);

  // A header claiming 100000 x 100000 pixels is refused, not allocated.
  std::string huge = bytes.substr(0, 33);
  auto be32 = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; k++) huge[at + k] = static_cast<char>(v >> (24 - 8 * k));
  };
  be32(16, 100000);
  be32(20, 100000);
  uLong crc = crc32(0, reinterpret_cast<const Bytef *>(huge.data() + 12), 17);
  be32(29, static_cast<uint32_t>(crc));
  write_text_file(dir + "/huge.png", huge + bytes.substr(33));
  EXPECT_EQ(read_png(dir + "/huge.png", &p), 0);

  // A text chunk that claims 1.8 GB in a file of a few hundred bytes is
  // refused before anything is allocated for it.
  std::string claim = bytes.substr(0, 33) + std::string("\x70\x00\x00\x00tEXtComment", 15) + "x";
  write_text_file(dir + "/claim.png", claim + bytes.substr(33));
  DataFile *file = dfile_open((dir + "/claim.png").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  char error[image_error_size] = "";
  EXPECT_EQ(png_read(file, &p, nullptr, error), 0);
  dfile_close(file);
  EXPECT_NE(strstr(error, "past the end"), nullptr) << error;
  EXPECT_EQ(p.pixels, nullptr);
}

TEST_F(ImageTest, AnimationStepsAndSkinLists) {
  int sequence[3] = {4, 7, 9};
  Animation a = {};
  a.length = 3;
  a.tics_per_step = 10;
  a.start_tic = 100;
  a.sequence = sequence;
  EXPECT_EQ(animation_frame_at(&a, 50), 4) << "before its start: the first entry";
  EXPECT_EQ(animation_frame_at(&a, 109), 4);
  EXPECT_EQ(animation_frame_at(&a, 110), 7);
  EXPECT_EQ(animation_frame_at(&a, 120), 9) << "sequence[2] from start + 20";
  EXPECT_EQ(animation_frame_at(&a, 5000), 9) << "a one-shot animation stops on its last entry";
  a.loop = 1;
  EXPECT_EQ(animation_frame_at(&a, 130), 4);
  EXPECT_EQ(animation_frame_at(&a, 145), 7);

  const char *names[] = {"rider_body-red.png",   "rider_body-red_norm.png", "rider_body-blue_spec.png",
                         "gear/rider_body-x.png.scram", "rider_body-y_spec.png.scram", "rider_helmet-z.png",
                         "x/rider_body-gz.png.gz", "rider_body-notes.txt", "other-rider_body-q.png", nullptr};
  const char **paths, **labels;
  int count = texture_choices_from(names, "rider_body-", &paths, &labels);
  ASSERT_EQ(count, 4);
  EXPECT_STREQ(labels[0], "default");
  EXPECT_EQ(paths[0], nullptr);
  EXPECT_STREQ(labels[1], "red");
  EXPECT_STREQ(paths[1], "@rider_body-red.png");
  EXPECT_STREQ(labels[2], "x");
  EXPECT_STREQ(paths[2], "@gear/rider_body-x.png") << "the path drops .scram";
  EXPECT_STREQ(labels[3], "gz");
  EXPECT_STREQ(paths[3], "@x/rider_body-gz.png");
  tracked_free(paths);
  tracked_free(labels);
}

}  // namespace
