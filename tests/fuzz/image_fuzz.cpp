// The picture readers (PNG, PPM, PGM, predictive H6/H7) over arbitrary
// bytes, and the preparation a decoded picture goes through before upload.
// Whatever a reader accepts must be a consistent chain; nothing may crash.
// Seeds: tests/fuzz/corpus/image.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "assets/image.h"
#include "fuzz_file.h"

namespace {

void check_and_prepare(Picture *p) {
  if (!p->pixels) abort();
  if (!image_size_ok(p->width, p->height)) abort();
  if (p->channels < 1 || p->channels > 4) abort();
  if (p->channels == 1) return;
  // Touch the whole chain, then run the texture preparation on it.
  volatile uint8_t sum = 0;
  size_t bytes = chain_bytes(p->width, p->height, p->channels);
  for (size_t i = 0; i < bytes; i += 97) sum = static_cast<uint8_t>(sum + p->pixels[i]);
  if (p->width <= 512 && p->height <= 512) {
    resample_to_power_of_two(p, 0);
    reduce_detail(p, 2);
    reduce_redundancy(p);
    if (p->channels == 3) {
      float rgba[4];
      border_colour(p, rgba);
    }
    take_custom_levels(p);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = fuzz_scratch_path("image");
  if (!fuzz_write(path, data, size)) return 0;
  char error[image_error_size];
  int (*readers[])(DataFile *, Picture *, char *) = {ppm_read, pgm_read, hpred_read};
  for (auto reader : readers) {
    DataFile *file = dfile_open(path.c_str(), "rb");
    if (!file) return 0;
    Picture p;
    if (reader(file, &p, error)) check_and_prepare(&p);
    picture_free(&p);
    dfile_close(file);
  }
  DataFile *file = dfile_open(path.c_str(), "rb");
  if (!file) return 0;
  Picture p;
  char *info = nullptr;
  if (png_read(file, &p, &info, error)) check_and_prepare(&p);
  picture_free(&p);
  tracked_free(info);
  dfile_close(file);
  int w = 0, h = 0;
  uint16_t *grey = png_read_grey16(path.c_str(), &w, &h);
  if (grey && !image_size_ok(w, h)) abort();
  tracked_free(grey);
  return 0;
}
