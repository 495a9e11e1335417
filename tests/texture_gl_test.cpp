// Textures and programs with a real GL context (Mesa's software renderer
// under Xvfb): uploads read back level by level, the memory total, the name
// cache, generations, links, animations, and the seven programs.
#include <png.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/alloc.h"
#include "assets/file.h"
#include "assets/image.h"
#include "gl_fixture.h"

namespace {

void write_png(const std::string &path, int w, int h, bool alpha, const std::vector<uint8_t> &pixels) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr));
}

std::vector<uint8_t> noise(int count, unsigned seed) {
  std::vector<uint8_t> v(static_cast<size_t>(count));
  for (auto &b : v) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return v;
}

bool logged(const char *text) {
  for (int i = 0; i < 40; i++) {
    const char *line = message_line(i);
    if (line && strstr(line, text)) return true;
  }
  return false;
}

class TextureTest : public GlTest {
 protected:
  std::string dir;
  void SetUp() override {
    GlTest::SetUp();
    if (IsSkipped()) return;
    dir = make_temp_dir("texture");
    texture_set_options(0, 0, 0);
    texture_set_verbosity(0);
    message_clear();
  }
};

TEST_F(TextureTest, EveryLevelIsUploadedAndCounted) {
  const int w = 8, h = 8;
  size_t memory = texture_memory();
  // RGB levels of 2 x 2 have 6-byte rows: the upload must not lean on
  // whatever row alignment the caller left (GL's own default is 4).
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  for (int channels : {4, 3}) {
    std::vector<uint8_t> pixels = noise(w * h * channels, 7);
    std::string path = dir + "/noise" + std::to_string(channels) + ".png";
    write_png(path, w, h, channels == 4, pixels);
    unsigned tid = texture_read(path.c_str());
    ASSERT_NE(tid, 0u);
    EXPECT_EQ(texture_memory() - memory, static_cast<size_t>(channels * (64 + 16 + 4 + 1)));
    memory = texture_memory();
    EXPECT_STREQ(texture_name(tid), path.c_str());

    // What the GL holds is the chain the pixel work made.
    Picture expected = picture_alloc(w, h, channels);
    memcpy(expected.pixels, pixels.data(), pixels.size());
    build_levels(expected.pixels, w, h, channels, 0);
    glBindTexture(GL_TEXTURE_2D, tid);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    for (int level = 0; level < 4; level++) {
      int lw, lh;
      size_t offset = chain_level_offset(w, h, channels, level, &lw, &lh);
      GLint gw = 0;
      glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &gw);
      EXPECT_EQ(gw, lw) << "level " << level;
      std::vector<uint8_t> back(static_cast<size_t>(lw) * lh * channels);
      glGetTexImage(GL_TEXTURE_2D, level, channels == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, back.data());
      EXPECT_EQ(0, memcmp(back.data(), expected.pixels + offset, back.size())) << channels << " channels, level " << level;
    }
    picture_free(&expected);
  }
  GLint wrap = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
  EXPECT_EQ(wrap, GL_CLAMP_TO_EDGE);

  // A name with "-repeat." repeats both ways.
  std::string tile = dir + "/dirt-repeat.png";
  write_png(tile, 4, 4, false, noise(4 * 4 * 3, 9));
  glBindTexture(GL_TEXTURE_2D, texture_read(tile.c_str()));
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrap);
  EXPECT_EQ(wrap, GL_REPEAT);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
  EXPECT_EQ(wrap, GL_REPEAT);
}

// Without level blending (software GL) mipmaps sample their nearest level,
// except where the caller asks for blending (the ground); single levels
// stay plain linear.
TEST_F(TextureTest, LevelBlendingChoosesTheMinificationFilter) {
  std::vector<uint8_t> chain = noise(static_cast<int>(chain_bytes(4, 4, 3)), 3);
  auto filter_of = [&](int flags) {
    size_t bytes = 0;
    unsigned tid = texture_upload(chain.data(), 4, 4, 3, flags, &bytes);
    EXPECT_NE(tid, 0u);
    GLint f = 0;
    glBindTexture(GL_TEXTURE_2D, tid);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &f);
    texture_release(tid, bytes);
    return f;
  };
  EXPECT_EQ(filter_of(0), GL_LINEAR_MIPMAP_LINEAR);
  texture_set_level_blending(0);
  EXPECT_EQ(filter_of(0), GL_LINEAR_MIPMAP_NEAREST);
  EXPECT_EQ(filter_of(upload_single_level), GL_LINEAR);
  texture_set_level_blending(1);
  EXPECT_EQ(filter_of(0), GL_LINEAR_MIPMAP_LINEAR);
}

TEST_F(TextureTest, NamesAreCachedAcrossCaseAndGenerations) {
  std::string a = dir + "/a.png", b = dir + "/b.png";
  write_png(a, 4, 4, false, noise(48, 1));
  write_png(b, 4, 4, false, noise(48, 2));
  texture_new_generation();  // a race reset: these belong to it
  unsigned ta = texture_read(a.c_str());
  unsigned tb = texture_read(b.c_str());
  ASSERT_NE(ta, 0u);
  ASSERT_NE(tb, 0u);
  size_t both = texture_memory();
  EXPECT_EQ(both, static_cast<size_t>(2 * 3 * (16 + 4 + 1)));

  std::string upper = dir + "/A.PNG";
  EXPECT_EQ(texture_read(upper.c_str()), ta) << "the same texture, not a second copy";
  EXPECT_TRUE(logged("Warning: case mismatch on"));
  EXPECT_EQ(texture_memory(), both);

  // The next race asks only for a: b goes at its flush, a stays, and a
  // third race that asks for nothing loses a too.
  texture_new_generation();
  EXPECT_EQ(texture_read(a.c_str()), ta);
  texture_flush(0);
  EXPECT_EQ(texture_name(tb), nullptr);
  EXPECT_FALSE(glIsTexture(tb));
  EXPECT_STREQ(texture_name(ta), a.c_str());
  EXPECT_EQ(texture_memory(), both / 2);
  texture_new_generation();
  texture_flush(0);
  EXPECT_EQ(texture_name(ta), nullptr);
  EXPECT_EQ(texture_memory(), 0u);

  // Held by a loaded track, a texture outlives resets that do not reload it.
  texture_hold_begin();
  unsigned kept = texture_read(a.c_str());
  texture_hold_end();
  texture_new_generation();
  texture_flush(0);
  EXPECT_STREQ(texture_name(kept), a.c_str());
  texture_release_held();
  texture_new_generation();
  texture_flush(0);
  EXPECT_EQ(texture_name(kept), nullptr);

  // Loaded before the first reset (generation 0): permanent.
  texture_flush(1);
  unsigned hud = texture_read(b.c_str());
  for (int i = 0; i < 3; i++) {
    texture_new_generation();
    texture_flush(0);
  }
  EXPECT_EQ(texture_read(b.c_str()), hud);
}

// Pictures for pixel access (the terrain composes its ground from them) stay
// where they are while dozens more are read after them, and come back from
// the cache as the same picture.
TEST_F(TextureTest, PicturesStayPutAsMoreAreRead) {
  std::vector<const Picture *> pictures;
  std::vector<std::string> names;
  for (int i = 0; i < 40; i++) {
    names.push_back(dir + "/p" + std::to_string(i) + ".png");
    write_png(names.back(), 4, 4, false, std::vector<uint8_t>(48, static_cast<uint8_t>(i * 5)));
    pictures.push_back(image_read(names.back().c_str()));
    ASSERT_NE(pictures.back(), nullptr);
  }
  for (int i = 0; i < 40; i++) {
    EXPECT_EQ(image_read(names[static_cast<size_t>(i)].c_str()), pictures[static_cast<size_t>(i)]);
    EXPECT_EQ(pictures[static_cast<size_t>(i)]->width, 4);
    EXPECT_EQ(pictures[static_cast<size_t>(i)]->pixels[0], i * 5);
  }
  EXPECT_EQ(image_read((dir + "/missing.png").c_str()), nullptr);
}

TEST_F(TextureTest, LinksAndMissingPictures) {
  // Links name data paths: the pictures live in a data directory here.
  setenv("XDG_DATA_HOME", (dir + "/home").c_str(), 1);
  setenv("QX_HOME", (dir + "/data").c_str(), 1);
  file_layer_reset_for_tests();
  std::string data = dir + "/data/";
  write_text_file(data + "colors/keep", "");
  write_png(data + "colors/white.png", 2, 2, false, std::vector<uint8_t>(12, 255));
  std::vector<uint8_t> red_pixels;
  for (int i = 0; i < 4; i++) red_pixels.insert(red_pixels.end(), {255, 0, 0});
  write_png(data + "red.png", 2, 2, false, red_pixels);
  write_text_file(data + "to_red.png", "LINK  @red.png  \n");
  write_text_file(data + "broken.png", "LINK @nothing_here.png\n");
  write_text_file(data + "loop_a.png", "LINK @loop_b.png\n");
  write_text_file(data + "loop_b.png", "LINK @loop_a.png\n");

  unsigned red = texture_read("@red.png");
  ASSERT_NE(red, 0u);
  EXPECT_EQ(texture_read("@to_red.png"), red);
  EXPECT_EQ(texture_read("@to_red.png"), red) << "later requests follow the recorded target";
  EXPECT_EQ(texture_read("@missing.png"), 0u) << "no file: no texture";

  unsigned white = texture_read("@colors/white.png");
  ASSERT_NE(white, 0u);
  EXPECT_EQ(texture_read("@broken.png"), white) << "a link to nothing shows white";
  EXPECT_EQ(texture_read("@broken.png"), white);
  EXPECT_EQ(texture_read("@loop_a.png"), white) << "a loop of links ends at white, not in a hang";
  EXPECT_EQ(texture_read("@loop_b.png"), white);
  unsetenv("QX_HOME");
  file_layer_reset_for_tests();
}

TEST_F(TextureTest, AnimationsSwapFramesAndRejectBadFiles) {
  // Two 2 x 2 RGBA frames inline (predictive, all bytes are differences), a
  // sequence 0 1 1 0 stepping every 4 tics.
  auto frame = [](uint8_t v) {
    std::string s = "H7 2 2\n";
    // Every pixel (v, v, v, 255): the first pixel stores it, the rest 0 difference.
    s += std::string({static_cast<char>(v), static_cast<char>(v), static_cast<char>(v), static_cast<char>(255)});
    s += std::string(12, '\0');
    return s;
  };
  std::string seq = "ANIM1\n4 2 4 1\n0 1 1 0\n" + frame(40) + "\n" + frame(200) + "\n";
  write_text_file(dir + "/flag.seq", seq);
  unsigned tid = texture_read((dir + "/flag.seq").c_str());
  ASSERT_NE(tid, 0u);
  Animation *a = animation_find(tid);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->frame_count, 2);
  animation_start(tid, 100);
  auto shown = [&]() {
    uint8_t px[16];
    glBindTexture(GL_TEXTURE_2D, tid);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, px);
    return static_cast<int>(px[0]);
  };
  texture_animate(100);
  EXPECT_EQ(shown(), 40);
  texture_animate(104);
  EXPECT_EQ(shown(), 200);
  texture_animate(112);
  EXPECT_EQ(shown(), 40) << "entry 3 is frame 0";
  animation_pause(tid);
  texture_animate(104);
  EXPECT_EQ(shown(), 40) << "paused";

  // Frames that disagree, a short file, an unknown frame token: no texture.
  std::string big = "H7 4 2\n" + std::string(4 * 2 * 4, '\x10');
  write_text_file(dir + "/mismatch.seq", "ANIM1 2 2 4 1 0 1\n" + frame(1) + "\n" + big + "\n");
  EXPECT_EQ(texture_read((dir + "/mismatch.seq").c_str()), 0u);
  EXPECT_TRUE(logged("Width/height mismatch reading .seq"));
  write_text_file(dir + "/short.seq", "ANIM1 2 2 4 1 0 1\n" + frame(1) + "\n");
  EXPECT_EQ(texture_read((dir + "/short.seq").c_str()), 0u);
  EXPECT_TRUE(logged("EOF while reading .seq"));
  write_text_file(dir + "/token.seq", "ANIM1 1 1 4 1 0\nGIF zzz\n");
  EXPECT_EQ(texture_read((dir + "/token.seq").c_str()), 0u);
  EXPECT_TRUE(logged("Error reading .seq frame 0"));
  write_text_file(dir + "/index.seq", "ANIM1 2 1 4 1 0 5\n" + frame(1) + "\n");
  EXPECT_EQ(texture_read((dir + "/index.seq").c_str()), 0u) << "a sequence entry past the frames";
}

TEST_F(TextureTest, ReductionAndNonPowerOfTwoPictures) {
  std::string odd = dir + "/odd.png";
  write_png(odd, 100, 60, false, noise(100 * 60 * 3, 3));
  unsigned tid = texture_read(odd.c_str());
  ASSERT_NE(tid, 0u);
  EXPECT_TRUE(logged("Warning: Non power of 2 texture"));
  glBindTexture(GL_TEXTURE_2D, tid);
  GLint w = 0, h = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 32);

  // A flat 512 x 512 picture is all redundancy: it goes down to 16 x 16.
  std::string flat = dir + "/flat.png";
  write_png(flat, 512, 512, false, std::vector<uint8_t>(512 * 512 * 3, 90));
  glBindTexture(GL_TEXTURE_2D, texture_read(flat.c_str()));
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
  EXPECT_EQ(w, 16);
  EXPECT_TRUE(logged("reduced to 16x16 (originally 512x512)"));

  // Detail reduction, except for names with "!".
  texture_set_options(2, 0, 0);
  std::string sharp = dir + "/sharp.png";
  write_png(sharp, 512, 512, false, noise(512 * 512 * 3, 5));
  glBindTexture(GL_TEXTURE_2D, texture_read(sharp.c_str()));
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
  EXPECT_EQ(w, 128);
  texture_flush(1);
  glBindTexture(GL_TEXTURE_2D, texture_read(("!" + sharp).c_str()));
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
  EXPECT_EQ(w, 512);
}

TEST_F(TextureTest, AllSevenProgramsBuildOrNone) {
  const GlCaps &caps = gl_caps();
  ASSERT_TRUE(caps.vertex_shader && caps.fragment_shader) << "llvmpipe offers GLSL";
  for (int i = 1; i < program_count; i++)
    EXPECT_EQ(strncmp(program_source(i, 0), "#define MAX_BONE 32\n", 20), 0) << program_name(i);
  ASSERT_EQ(build_programs(1), 1);
  EXPECT_TRUE(programs_available());
  for (int i = 1; i < program_count; i++) {
    use_program(i);
    EXPECT_EQ(current_program(), i);
    GLint handle = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &handle);
    EXPECT_NE(handle, 0) << program_name(i);
  }
  use_program(0);
  GLint handle = -1;
  glGetIntegerv(GL_CURRENT_PROGRAM, &handle);
  EXPECT_EQ(handle, 0);

  // With shader programs switched off nothing is built and every request
  // stays on fixed function.
  free_programs();
  EXPECT_EQ(build_programs(0), 0);
  EXPECT_FALSE(programs_available());
  use_program(program_lit);
  EXPECT_EQ(current_program(), 0);
}

TEST_F(TextureTest, ExtensionsMatchWholeWords) {
  const char *list = "GL_ARB_multitexture GL_EXT_framebuffer_object_extra GL_ARB_vertex_shader";
  EXPECT_TRUE(gl_extension_in(list, "GL_ARB_multitexture"));
  EXPECT_TRUE(gl_extension_in(list, "GL_ARB_vertex_shader"));
  EXPECT_FALSE(gl_extension_in(list, "GL_EXT_framebuffer_object")) << "a prefix of another name";
  EXPECT_FALSE(gl_extension_in(list, "GL_ARB_vertex"));
  EXPECT_FALSE(gl_extension_in(list, "multitexture"));
  EXPECT_FALSE(gl_extension_in(nullptr, "GL_ARB_multitexture"));
  EXPECT_TRUE(gl_caps().framebuffer_object) << "llvmpipe has framebuffer objects";
  EXPECT_GE(gl_caps().texture_units, 2);
}

}  // namespace
