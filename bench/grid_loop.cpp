// The bare loop the timedemo is measured against: a lit, fogged, textured
// grid of 25,000 triangles covering the screen (one directional light,
// exponential fog, a trilinear mipmapped 256 x 256 texture, drawn from a
// display list, which costs what a vertex buffer does), cleared and swapped
// each frame as fast as it goes. Prints one line with its frame rate, so
// "timedemo fps / grid fps" can be taken on the same machine in one run:
//
//   grid: %d frames %.2f seconds %.1f fps, median %.1f ms
//
// Options: --width N, --height N (1280 x 720), --frames N (300).
#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/input.h"
#include "platform/window.h"

namespace {

constexpr int grid_columns = 125, grid_rows = 100;  // 12,500 quads, 25,000 triangles

unsigned make_texture() {
  constexpr int side = 256;
  std::vector<unsigned char> texels(side * side * 3);
  for (int y = 0; y < side; y++)
    for (int x = 0; x < side; x++) {
      unsigned char *t = &texels[(y * side + x) * 3];
      int check = ((x >> 4) ^ (y >> 4)) & 1;
      t[0] = static_cast<unsigned char>(90 + 60 * check + (x & 15));
      t[1] = static_cast<unsigned char>(110 + 40 * check + (y & 15));
      t[2] = static_cast<unsigned char>(70 + 30 * check);
    }
  unsigned tid;
  glGenTextures(1, &tid);
  glBindTexture(GL_TEXTURE_2D, tid);
  // Every mip level built here, halving by box filter.
  int level = 0;
  for (int s = side; s >= 1; s /= 2, level++) {
    glTexImage2D(GL_TEXTURE_2D, level, GL_RGB, s, s, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    if (s == 1) break;
    int h = s / 2;
    std::vector<unsigned char> next(h * h * 3);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < h; x++)
        for (int c = 0; c < 3; c++) {
          int sum = texels[((2 * y) * s + 2 * x) * 3 + c] + texels[((2 * y) * s + 2 * x + 1) * 3 + c] +
                    texels[((2 * y + 1) * s + 2 * x) * 3 + c] + texels[((2 * y + 1) * s + 2 * x + 1) * 3 + c];
          next[(y * h + x) * 3 + c] = static_cast<unsigned char>(sum / 4);
        }
    texels.swap(next);
  }
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  return tid;
}

// A gently rolling grid across the whole view at depth 2 .. 3, so the fog
// and the light both vary over it.
unsigned make_grid(double half_width, double half_height) {
  unsigned list = glGenLists(1);
  glNewList(list, GL_COMPILE);
  for (int row = 0; row < grid_rows; row++) {
    glBegin(GL_TRIANGLE_STRIP);
    for (int col = 0; col <= grid_columns; col++)
      for (int k = 1; k >= 0; k--) {
        double u = static_cast<double>(col) / grid_columns, v = static_cast<double>(row + k) / grid_rows;
        double z = -2.0 - v;
        double wobble = 0.05 * std::sin(u * 20) * std::cos(v * 15);
        glNormal3d(std::sin(u * 20) * 0.3, std::cos(v * 15) * 0.3, 1.0);
        glTexCoord2d(u * 8, v * 8);
        glVertex3d((u * 2 - 1) * half_width * -z * 1.05, (v * 2 - 1) * half_height * -z * 1.05 + wobble, z);
      }
    glEnd();
  }
  glEndList();
  return list;
}

}  // namespace

int main(int argc, char **argv) {
  int width = 1280, height = 720, frames = 300;
  for (int i = 1; i < argc; i++) {
    int *target = !strcmp(argv[i], "--width") ? &width : !strcmp(argv[i], "--height") ? &height
                  : !strcmp(argv[i], "--frames") ? &frames : nullptr;
    if (!target || i + 1 >= argc || sscanf(argv[i + 1], "%d", target) != 1 || *target <= 0) {
      fprintf(stderr, "Usage: grid_loop [--width N] [--height N] [--frames N]\n");
      return 1;
    }
    i++;
  }
  // The game's own defaults: 16-bit colour and depth, windowed.
  Window *window = window_open_gl("grid loop", width, height, 16 | window_no_fullscreen, 0, 16, 0, 0);
  if (!window) {
    fprintf(stderr, "grid_loop: no window\n");
    return 1;
  }
  double half_height = 0.5, half_width = half_height * width / height;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glFrustum(-half_width * 0.25, half_width * 0.25, -half_height * 0.25, half_height * 0.25, 0.25, 100);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glEnable(GL_NORMALIZE);
  float sun[4] = {0.3f, 0.8f, 0.5f, 0}, diffuse[4] = {0.9f, 0.9f, 0.8f, 1}, ambient[4] = {0.3f, 0.3f, 0.35f, 1};
  glLightfv(GL_LIGHT0, GL_POSITION, sun);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
  glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
  glEnable(GL_COLOR_MATERIAL);
  glEnable(GL_FOG);
  glFogi(GL_FOG_MODE, GL_EXP2);
  glFogf(GL_FOG_DENSITY, 0.2f);
  float fog[4] = {0.6f, 0.7f, 0.8f, 1};
  glFogfv(GL_FOG_COLOR, fog);
  glEnable(GL_TEXTURE_2D);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  unsigned tid = make_texture();
  unsigned grid = make_grid(half_width, half_height);

  std::vector<double> times;
  double start = 0, last = 0;
  for (int n = -20; n < frames; n++) {  // twenty frames of warming up first
    Viewport viewport;
    window_pump(window);
    if (!window_frame_begin(window, &viewport)) continue;
    glViewport(viewport.x, viewport.y, viewport.width, viewport.height);
    glClearColor(0.6f, 0.7f, 0.8f, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor3f(1, 1, 1);
    glCallList(grid);
    window_frame_end(window);
    double now = time_seconds(time_now());
    if (n == 0) start = now;
    if (n > 0) times.push_back(now - last);
    last = now;
  }
  double total = last - start;
  int count = static_cast<int>(times.size());
  std::sort(times.begin(), times.end());
  double median = count ? times[count / 2] : 0;
  printf("grid: %d frames %.2f seconds %.1f fps, median %.1f ms\n", count, total, total > 0 ? count / total : 0,
         median * 1000);
  glDeleteLists(grid, 1);
  glDeleteTextures(1, &tid);
  window_close(window);
  return 0;
}
