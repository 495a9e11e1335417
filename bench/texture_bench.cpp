// Texture loading costs: decoding a 1024 x 1024 RGBA PNG, preparing its
// chain and uploading it to GL, each part alone and all together, and what a
// cached request costs with a few hundred textures loaded. Needs an X display
// for the GL parts (run under xvfb-run).
#include <benchmark/benchmark.h>
#include <png.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/alloc.h"
#include "assets/file.h"
#include "assets/image.h"
#include "assets/texture.h"
#include "platform/window.h"
#include "render/gl_caps.h"

namespace {

const std::string dir = "/tmp/torvane-texture-bench";

// A picture with detail at every scale, so no level is redundant.
std::string make_png(const char *name, int side) {
  if (system(("mkdir -p " + dir).c_str()) != 0) abort();
  std::string path = dir + "/" + name;
  std::vector<uint8_t> pixels(static_cast<size_t>(side) * side * 4);
  unsigned seed = 99;
  for (int y = 0; y < side; y++)
    for (int x = 0; x < side; x++)
      for (int c = 0; c < 4; c++) {
        seed = seed * 1103515245u + 12345u;
        double smooth = 100 + 60 * std::sin(x * 0.05 + c) * std::cos(y * 0.03);
        pixels[(static_cast<size_t>(y) * side + x) * 4 + c] = static_cast<uint8_t>(smooth + (seed >> 27));
      }
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  image.width = image.height = static_cast<png_uint_32>(side);
  image.format = PNG_FORMAT_RGBA;
  png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr);
  return path;
}

bool gl_window() {
  static int state = 0;  // 0 untried, 1 open, -1 failed
  if (state == 0) {
    const char *display = getenv("DISPLAY");
    Window *w = display && *display ? window_open_gl("texture bench", 64, 64, 32 | window_no_fullscreen, 8, 24, 0, 0) : nullptr;
    state = w ? 1 : -1;
    if (w) {
      gl_init_caps();
      texture_set_gl_ready(1);
    }
  }
  return state == 1;
}

void BM_DecodeAndChain1024(benchmark::State &state) {
  std::string path = make_png("decode.png", 1024);
  for (auto _ : state) {
    DataFile *file = dfile_open(path.c_str(), "rb");
    Picture p;
    char error[image_error_size];
    png_read(file, &p, nullptr, error);
    dfile_close(file);
    benchmark::DoNotOptimize(p.pixels);
    picture_free(&p);
  }
}

void BM_Prepare1024(benchmark::State &state) {
  std::string path = make_png("prepare.png", 1024);
  DataFile *file = dfile_open(path.c_str(), "rb");
  Picture source;
  char error[image_error_size];
  png_read(file, &source, nullptr, error);
  dfile_close(file);
  for (auto _ : state) {
    // The redundancy test over the top level is the preparation's work.
    benchmark::DoNotOptimize(level_is_redundant(&source));
  }
  picture_free(&source);
}

void BM_ReadPrepareUpload1024(benchmark::State &state) {
  if (!gl_window()) {
    state.SkipWithError("no X display");
    return;
  }
  std::string path = make_png("upload.png", 1024);
  for (auto _ : state) {
    texture_flush(1);
    benchmark::DoNotOptimize(texture_read(path.c_str()));
    glFinish();
  }
  state.counters["MB"] = static_cast<double>(texture_memory()) / 1048576.0;
  texture_flush(1);
}

void BM_CachedRead(benchmark::State &state) {
  if (!gl_window()) {
    state.SkipWithError("no X display");
    return;
  }
  texture_flush(1);
  std::vector<std::string> names;
  for (int i = 0; i < state.range(0); i++) {
    std::string name = "small" + std::to_string(i) + ".png";
    names.push_back(make_png(name.c_str(), 4));
    texture_read(names.back().c_str());
  }
  const char *last = names.back().c_str();
  for (auto _ : state) benchmark::DoNotOptimize(texture_read(last));
  texture_flush(1);
}

}  // namespace

BENCHMARK(BM_DecodeAndChain1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Prepare1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPrepareUpload1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CachedRead)->Arg(10)->Arg(300)->Unit(benchmark::kMicrosecond);
