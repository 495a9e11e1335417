// A window with a GL context on a real (or virtual) X display, for tests
// that draw and read pixels back. Skips when no display can be had.
#pragma once
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <unistd.h>

#include <vector>

#include "assets/texture.h"
#include "platform/log.h"
#include "platform/window.h"
#include "render/gl_caps.h"
#include "test_util.h"

class GlTest : public ::testing::Test {
 protected:
  Window *window = nullptr;
  int width = 256, height = 256;

  void SetUp() override {
    if (!ensure_x_display()) GTEST_SKIP() << "no X display and no Xvfb";
    hovl_reset_for_tests();
    // Opening a window right after the previous test closed one now and
    // then fails under Xvfb; a second try after a pause succeeds.
    for (int attempt = 0; attempt < 3 && !window; attempt++) {
      if (attempt > 0) usleep(200000);
      window = window_open_gl("Torvane GL test", width, height, 32 | window_no_fullscreen, 8, 24, 8, 0);
    }
    ASSERT_NE(window, nullptr);
    gl_init_caps();
    texture_set_gl_ready(1);
    glViewport(0, 0, width, height);
  }

  void TearDown() override {
    texture_flush(1);
    free_programs();
    texture_set_gl_ready(0);
    if (window) window_close(window);
    hovl_reset_for_tests();
  }

  // The back buffer's pixels, RGB, bottom row first.
  std::vector<unsigned char> read_pixels() {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
  }
};
