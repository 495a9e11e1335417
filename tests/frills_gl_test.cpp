// Track scripts composing frames of an animated texture, with a real GL
// context: what qx.end_custom_frame uploads is read back from the texture.
#include <gtest/gtest.h>

#include <string>

#include "gl_fixture.h"
#include "script/frills.h"

namespace {

// A 2 x 2 frame inline, every pixel (v, v, v, alpha).
std::string frame(uint8_t v, uint8_t alpha) {
  std::string s = "H7 2 2\n";
  s += std::string({static_cast<char>(v), static_cast<char>(v), static_cast<char>(v), static_cast<char>(alpha)});
  return s + std::string(12, '\0');
}

}  // namespace

TEST_F(GlTest, ScriptsComposeCustomFramesOverAnAnimation) {
  std::string dir = make_temp_dir("frills_gl");
  write_text_file(dir + "/sign.seq", "ANIM1\n2 2 4 1\n0 1\n" + frame(40, 255) + "\n" + frame(200, 128) + "\n");
  std::string script = "var tid = qx.read_texture('" + dir + "/sign.seq');\n" +
                       "var still = qx.read_texture('" + dir + "/missing.png');\n"
                       "function compose() {\n"
                       "  if (!qx.begin_custom_frame(tid)) return -1;\n"
                       "  if (!qx.paste_custom_frame(tid, 0, 0, 0, 0, 0, 1, 1)) return -2;\n"
                       "  if (!qx.paste_custom_frame(tid, 1, 0, 0, 0, 0, 1, 1)) return -3;\n"
                       "  if (qx.paste_custom_frame(tid, 2, 0, 0, 0, 0, 1, 1)) return -4;\n"
                       "  return qx.end_custom_frame(tid) ? tid : -5;\n"
                       "}\n";
  frills_load_source(script.c_str(), "frills.js");
  ASSERT_TRUE(frills_loaded()) << script_error();
  double tid = script_call("compose", 0, nullptr);
  ASSERT_GT(tid, 0) << script_error();
  EXPECT_EQ(script_eval("if (qx.begin_custom_frame(still) || qx.end_custom_frame(still)) throw 'not an animation';"), 1)
      << script_error();
  uint8_t px[16], small[4];
  glBindTexture(GL_TEXTURE_2D, static_cast<unsigned>(tid));
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, px);
  glGetTexImage(GL_TEXTURE_2D, 1, GL_RGBA, GL_UNSIGNED_BYTE, small);
  // Frame 0 copied over the cleared buffer, frame 1 at half alpha over it.
  int expected = (40 * (255 - 128) + 200 * 128) / 255;
  for (int k = 0; k < 4; k++) {
    EXPECT_EQ(px[4 * k], expected) << k;
    EXPECT_EQ(px[4 * k + 3], 255) << k;
  }
  EXPECT_EQ(small[0], expected);  // the smaller level is built from it
  frills_unload();
}
