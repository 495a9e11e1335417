// The data builder's PNG decoder (it reads the archive's members back for
// the contact sheets) and the font cutter over whatever it accepts: a
// decoded picture has the buffer its size says, and every glyph cell lies
// inside the picture.
// Seeds: any PNG files.
#include <cstdint>
#include <cstdlib>

#include "databuild.h"
#include "image_gen.h"

using namespace databuild;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Bitmap image;
  if (!png_decode(data, size, &image)) return 0;
  if (image.width <= 0 || image.height <= 0 || (image.channels != 3 && image.channels != 4)) abort();
  if (image.pixels.size() != static_cast<size_t>(image.width) * image.height * image.channels) abort();
  std::vector<FontCell> cells;
  font_cells(image, &cells);
  for (const FontCell &c : cells)
    if (c.left < 0 || c.right > image.width || c.left >= c.right || c.top < 0 || c.bottom > image.height ||
        c.top >= c.bottom)
      abort();
  return 0;
}
