#include "assets/image.h"

#include <png.h>
#include <setjmp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "assets/file.h"

// ---- The level chain -------------------------------------------------------

int image_size_ok(long long width, long long height) {
  return width >= 1 && height >= 1 && width <= max_image_side && height <= max_image_side &&
         width * height <= max_image_pixels;
}

int chain_level_count(int width, int height) {
  int n = 1;
  while (width > 1 || height > 1) {
    width = std::max(width / 2, 1);
    height = std::max(height / 2, 1);
    n++;
  }
  return n;
}

size_t chain_level_offset(int width, int height, int channels, int level, int *level_width, int *level_height) {
  size_t offset = 0;
  for (int k = 0; k < level; k++) {
    offset += static_cast<size_t>(width) * height * channels;
    width = std::max(width / 2, 1);
    height = std::max(height / 2, 1);
  }
  if (level_width) *level_width = width;
  if (level_height) *level_height = height;
  return offset;
}

size_t chain_bytes(int width, int height, int channels) {
  int levels = chain_level_count(width, height);
  return chain_level_offset(width, height, channels, levels - 1, nullptr, nullptr) + channels;
}

Picture picture_alloc(int width, int height, int channels) {
  Picture p = {};
  if (!image_size_ok(width, height) || channels < 1 || channels > 4) return p;
  p.pixels = static_cast<uint8_t *>(alloc_or_die(chain_bytes(width, height, channels)));
  p.width = width;
  p.height = height;
  p.channels = channels;
  p.levels = chain_level_count(width, height);
  return p;
}

void picture_free(Picture *picture) {
  tracked_free(picture->pixels);
  *picture = Picture{};
}

namespace {

// One pixel of the next level from up to four source pixels (n = 2 or 4).
void average_pixels(const uint8_t *const *src, int n, int channels, int max_alpha, uint8_t *out) {
  if (channels != 4) {
    for (int c = 0; c < channels; c++) {
      int sum = 0;
      for (int k = 0; k < n; k++) sum += src[k][c];
      out[c] = static_cast<uint8_t>(sum / n);
    }
    return;
  }
  int alpha_sum = 0, alpha_max = 0;
  for (int k = 0; k < n; k++) {
    alpha_sum += src[k][3];
    alpha_max = std::max(alpha_max, static_cast<int>(src[k][3]));
  }
  // Fully clear or fully opaque blocks take the plain average; otherwise
  // colours are weighted by their alpha so clear texels do not darken edges.
  bool plain = alpha_sum == 0 || alpha_sum == 255 * n;
  for (int c = 0; c < 3; c++) {
    int sum = 0;
    for (int k = 0; k < n; k++) sum += plain ? src[k][c] : src[k][c] * src[k][3];
    out[c] = static_cast<uint8_t>(plain ? sum / n : sum / alpha_sum);
  }
  out[3] = static_cast<uint8_t>(max_alpha ? alpha_max : alpha_sum / n);
}

}  // namespace

void build_levels(uint8_t *chain, int width, int height, int channels, int max_alpha) {
  uint8_t *src = chain;
  int w = width, h = height;
  while (w > 1 || h > 1) {
    int nw = std::max(w / 2, 1), nh = std::max(h / 2, 1);
    uint8_t *dst = src + static_cast<size_t>(w) * h * channels;
    for (int y = 0; y < nh; y++) {
      for (int x = 0; x < nw; x++) {
        const uint8_t *p[4];
        int n;
        if (w == 1 || h == 1) {
          // One side is a single pixel: average pairs along the other.
          int sx = w == 1 ? 0 : 2 * x, sy = h == 1 ? 0 : 2 * y;
          p[0] = src + (static_cast<size_t>(sy) * w + sx) * channels;
          p[1] = w == 1 ? src + (static_cast<size_t>(sy + 1) * w + sx) * channels : p[0] + channels;
          n = 2;
        } else {
          p[0] = src + (static_cast<size_t>(2 * y) * w + 2 * x) * channels;
          p[1] = p[0] + channels;
          p[2] = p[0] + static_cast<size_t>(w) * channels;
          p[3] = p[2] + channels;
          n = 4;
        }
        average_pixels(p, n, channels, max_alpha, dst + (static_cast<size_t>(y) * nw + x) * channels);
      }
    }
    src = dst;
    w = nw;
    h = nh;
  }
}

void drop_top_level(Picture *picture) {
  if (picture->width <= 1 && picture->height <= 1) return;
  size_t top = static_cast<size_t>(picture->width) * picture->height * picture->channels;
  int w = std::max(picture->width / 2, 1), h = std::max(picture->height / 2, 1);
  size_t rest = chain_bytes(w, h, picture->channels);
  memmove(picture->pixels, picture->pixels + top, rest);
  picture->width = w;
  picture->height = h;
  picture->levels = chain_level_count(w, h);
}

// ---- Preparation before upload ---------------------------------------------------

namespace {

int power_of_two_below(int n) {
  int p = 1;
  while (p * 2 <= n) p *= 2;
  return p;
}

bool is_power_of_two(int n) { return n > 0 && (n & (n - 1)) == 0; }

}  // namespace

int resample_to_power_of_two(Picture *picture, int max_alpha) {
  int w = picture->width, h = picture->height, ch = picture->channels;
  if (is_power_of_two(w) && is_power_of_two(h)) return 0;
  int nw = is_power_of_two(w) ? w : power_of_two_below(w);
  int nh = is_power_of_two(h) ? h : power_of_two_below(h);
  Picture out = picture_alloc(nw, nh, ch);
  for (int y = 0; y < nh; y++) {
    int sy = static_cast<int>(static_cast<long long>(y) * h / nh);
    for (int x = 0; x < nw; x++) {
      int sx = static_cast<int>(static_cast<long long>(x) * w / nw);
      memcpy(out.pixels + (static_cast<size_t>(y) * nw + x) * ch, picture->pixels + (static_cast<size_t>(sy) * w + sx) * ch,
             static_cast<size_t>(ch));
    }
  }
  build_levels(out.pixels, nw, nh, ch, max_alpha);
  picture_free(picture);
  *picture = out;
  return 1;
}

int reduce_detail(Picture *picture, int count) {
  int dropped = 0;
  while (dropped < count && picture->width > 128 && picture->height > 128) {
    drop_top_level(picture);
    dropped++;
  }
  return dropped;
}

int reduce_image_detail(Picture *picture, int count) {
  int dropped = 0;
  while (dropped < count && static_cast<long long>(picture->width) * picture->height >= 16385) {
    drop_top_level(picture);
    dropped++;
  }
  return dropped;
}

int level_is_redundant(const Picture *picture) {
  int w = picture->width, h = picture->height, ch = picture->channels;
  if (w <= 1 && h <= 1) return 0;
  int nw = std::max(w / 2, 1), nh = std::max(h / 2, 1);
  const uint8_t *top = picture->pixels;
  const uint8_t *next = top + static_cast<size_t>(w) * h * ch;
  // Horizontal pass at the next level's height, then the vertical one; each
  // output texel takes 3/4 of its own source texel and 1/4 of the neighbour
  // on its side (clamped at the edges), truncated.
  int *wide = static_cast<int *>(alloc_or_die(sizeof(int) * static_cast<size_t>(w) * nh * ch));
  for (int y = 0; y < nh; y++) {
    for (int x = 0; x < w; x++) {
      int sx = nw == w ? x : x / 2;
      int nx = nw == w ? sx : (x & 1 ? std::min(sx + 1, nw - 1) : std::max(sx - 1, 0));
      for (int c = 0; c < ch; c++) {
        int a = next[(static_cast<size_t>(y) * nw + sx) * ch + c], b = next[(static_cast<size_t>(y) * nw + nx) * ch + c];
        wide[(static_cast<size_t>(y) * w + x) * ch + c] = nw == w ? a : (3 * a + b) / 4;
      }
    }
  }
  int ok = 1;
  for (int y = 0; y < h && ok; y++) {
    int sy = nh == h ? y : y / 2;
    int ny = nh == h ? sy : (y & 1 ? std::min(sy + 1, nh - 1) : std::max(sy - 1, 0));
    for (int x = 0; x < w && ok; x++) {
      for (int c = 0; c < ch; c++) {
        int a = wide[(static_cast<size_t>(sy) * w + x) * ch + c], b = wide[(static_cast<size_t>(ny) * w + x) * ch + c];
        int v = nh == h ? a : (3 * a + b) / 4;
        if (std::abs(v - top[(static_cast<size_t>(y) * w + x) * ch + c]) > 4) {
          ok = 0;
          break;
        }
      }
    }
  }
  tracked_free(wide);
  return ok;
}

int reduce_redundancy(Picture *picture) {
  int dropped = 0;
  while ((picture->width > 16 || picture->height > 16) && level_is_redundant(picture)) {
    drop_top_level(picture);
    dropped++;
  }
  return dropped;
}

void border_colour(const Picture *picture, float rgba[4]) {
  static int bins[512];
  memset(bins, 0, sizeof bins);
  int w = picture->width, h = picture->height, ch = picture->channels;
  auto add = [&](int x, int y) {
    const uint8_t *p = picture->pixels + (static_cast<size_t>(y) * w + x) * ch;
    int r = p[0] * 7 / 255, g = p[1] * 7 / 255, b = p[2] * 7 / 255;
    bins[(r << 6) | (g << 3) | b]++;
  };
  for (int x = 0; x < w; x++) {
    add(x, 0);
    add(x, h - 1);
  }
  for (int y = 0; y < h; y++) {
    add(0, y);
    add(w - 1, y);
  }
  int best = 0;
  for (int i = 1; i < 512; i++)
    if (bins[i] > bins[best]) best = i;
  rgba[0] = static_cast<float>(best >> 6) / 7.0f;
  rgba[1] = static_cast<float>((best >> 3) & 7) / 7.0f;
  rgba[2] = static_cast<float>(best & 7) / 7.0f;
  rgba[3] = 0.0f;
}

int take_custom_levels(Picture *picture) {
  int w = picture->width, h = picture->height, ch = picture->channels;
  if ((2 * h) % 3 != 0 || w < 1) return 0;
  int base_h = 2 * h / 3;
  // Levels laid out by hand cannot be resampled, so the base must already
  // have power-of-two sides.
  if ((base_h & (base_h - 1)) != 0 || (w & (w - 1)) != 0) return 0;
  Picture out = picture_alloc(w, base_h, ch);
  if (!out.pixels) return 0;
  int lw = w, lh = base_h, lx = 0, ly = 0;  // where the current level sits in the picture
  int first_x = 0, first_y = 0, first_w = 0;
  for (int level = 0; level < out.levels; level++) {
    int ow, oh;
    size_t offset = chain_level_offset(w, base_h, ch, level, &ow, &oh);
    if (level == 1) {
      lx = 0;
      ly = base_h;
      first_x = lx;
      first_y = ly;
      first_w = ow;
    } else if (level > 1) {
      // Below the previous level while it fits, else beside level 1.
      if (ly + lh + oh <= h) {
        ly += lh;
      } else {
        lx = first_x + first_w;
        ly = first_y;
      }
    }
    lw = ow;
    lh = oh;
    for (int y = 0; y < oh; y++) {
      for (int x = 0; x < ow; x++) {
        int sx = std::min(lx + x, w - 1), sy = std::min(ly + y, h - 1);
        memcpy(out.pixels + offset + (static_cast<size_t>(y) * ow + x) * ch,
               picture->pixels + (static_cast<size_t>(sy) * w + sx) * ch, static_cast<size_t>(ch));
      }
    }
  }
  (void)lw;
  picture_free(picture);
  *picture = out;
  return 1;
}

// ---- PPM, PGM and the predictive format ------------------------------------------

namespace {

void set_error(char *error, const char *text) {
  if (error) snprintf(error, image_error_size, "%s", text);
}

// A decimal number after optional white space and "#" comment lines, with
// the one separator byte after it consumed: -1 when there is no number, -2
// when it is negative.
long long read_number(DataFile *file) {
  dfile_skip_comments(file);
  int negative = 0;
  int c = dfile_peekc(file);
  if (c == '-' || c == '+') {
    negative = c == '-';
    dfile_getc(file);
    c = dfile_peekc(file);
  }
  if (c < '0' || c > '9') return -1;
  long long v = 0;
  while (c >= '0' && c <= '9') {
    dfile_getc(file);
    if (v < 100000000) v = v * 10 + (c - '0');
    c = dfile_peekc(file);
  }
  if (c == ' ' || (c >= '\t' && c <= '\r')) dfile_getc(file);
  return negative && v > 0 ? -2 : v;
}

int read_magic(DataFile *file, char magic[3]) {
  int a = dfile_getc(file), b = dfile_getc(file);
  if (a < 0 || b < 0) return 0;
  magic[0] = static_cast<char>(a);
  magic[1] = static_cast<char>(b);
  magic[2] = 0;
  return 1;
}

// PPM or PGM with `channels` samples per pixel; `text`/`raw` the two magics.
int netpbm_read(DataFile *file, Picture *out, char *error, int channels, const char *text_magic, const char *raw_magic,
                const char *kind) {
  *out = Picture{};
  char magic[3];
  char message[image_error_size];
  snprintf(message, sizeof message, "Can't parse %s header", kind);
  if (!read_magic(file, magic) || (strcmp(magic, text_magic) != 0 && strcmp(magic, raw_magic) != 0)) {
    set_error(error, message);
    return 0;
  }
  int raw = strcmp(magic, raw_magic) == 0;
  long long w = read_number(file), h = read_number(file);
  if (w == -2 || h == -2 || (w >= 0 && h >= 0 && !image_size_ok(w, h))) {
    snprintf(message, sizeof message, "Can't get %s dimensions", kind);
    set_error(error, message);
    return 0;
  }
  long long maximum = read_number(file);
  if (w < 0 || h < 0 || maximum < 1 || maximum > 65535) {
    set_error(error, message);
    return 0;
  }
  if (channels == 1) {
    // Grey pictures are data, not textures: one level only.
    out->pixels = static_cast<uint8_t *>(alloc_or_die(static_cast<size_t>(w) * h));
    out->width = static_cast<int>(w);
    out->height = static_cast<int>(h);
    out->channels = 1;
    out->levels = 1;
  } else {
    *out = picture_alloc(static_cast<int>(w), static_cast<int>(h), channels);
  }
  size_t count = static_cast<size_t>(w) * h * channels;
  size_t i = 0;
  if (raw && maximum <= 255) {
    // One-byte samples come in blocks (a track's shading is millions of
    // them), scaled in place; a short file is an error as below.
    while (i < count) {
      size_t want = count - i < (1u << 20) ? count - i : (1u << 20);
      int got = dfile_read(file, out->pixels + i, static_cast<int>(want));
      if (got <= 0) break;
      for (size_t k = i; k < i + static_cast<size_t>(got); k++) {
        long long v = out->pixels[k] > maximum ? maximum : out->pixels[k];
        out->pixels[k] = static_cast<uint8_t>(maximum == 255 ? v : v * 255 / maximum);
      }
      i += static_cast<size_t>(got);
    }
    if (i < count) {
      set_error(error, "Unexpected end of data");
      picture_free(out);
      return 0;
    }
  }
  for (; i < count; i++) {
    long long v;
    if (raw) {
      int c = dfile_getc(file);
      if (c >= 0 && maximum > 255) {
        int lo = dfile_getc(file);
        c = lo < 0 ? -1 : (c << 8) | lo;
      }
      v = c;
    } else {
      v = read_number(file);
    }
    if (v < 0) {
      set_error(error, "Unexpected end of data");
      picture_free(out);
      return 0;
    }
    if (v > maximum) v = maximum;
    out->pixels[i] = static_cast<uint8_t>(maximum == 255 ? v : v * 255 / maximum);
  }
  if (channels > 1) build_levels(out->pixels, out->width, out->height, channels, 0);
  return 1;
}

}  // namespace

int ppm_read(DataFile *file, Picture *out, char *error) { return netpbm_read(file, out, error, 3, "P3", "P6", "PPM"); }
int pgm_read(DataFile *file, Picture *out, char *error) { return netpbm_read(file, out, error, 1, "P2", "P5", "PGM"); }

int hpred_read(DataFile *file, Picture *out, char *error) {
  *out = Picture{};
  char magic[3];
  if (!read_magic(file, magic) || (strcmp(magic, "H6") != 0 && strcmp(magic, "H7") != 0)) {
    set_error(error, "Not a predictive image");
    return 0;
  }
  return hpred_read_after_magic(file, magic[1] == '7' ? 4 : 3, out, error);
}

int hpred_read_after_magic(DataFile *file, int channels, Picture *out, char *error) {
  *out = Picture{};
  long long w = read_number(file), h = read_number(file);
  if (!image_size_ok(w, h)) {
    set_error(error, "Bad predictive image size");
    return 0;
  }
  *out = picture_alloc(static_cast<int>(w), static_cast<int>(h), channels);
  int width = out->width;
  size_t row = static_cast<size_t>(width) * channels;
  for (int y = 0; y < out->height; y++) {
    uint8_t *line = out->pixels + row * y;
    if (dfile_read(file, line, static_cast<int>(row)) != static_cast<int>(row)) {
      set_error(error, "Unexpected end of data");
      picture_free(out);
      return 0;
    }
    for (int x = 0; x < width; x++) {
      for (int c = 0; c < channels; c++) {
        int prediction;
        if (y == 0) {
          prediction = x == 0 ? 0 : line[(x - 1) * channels + c];
        } else if (x == 0) {
          prediction = line[c - static_cast<long>(row)];
        } else {
          int left = line[(x - 1) * channels + c];
          int above = line[x * channels + c - static_cast<long>(row)];
          int corner = line[(x - 1) * channels + c - static_cast<long>(row)];
          prediction = std::clamp(left + above - corner, 0, 255);
        }
        line[x * channels + c] = static_cast<uint8_t>(line[x * channels + c] + prediction);
      }
    }
  }
  build_levels(out->pixels, out->width, out->height, channels, 0);
  return 1;
}

// ---- PNG ---------------------------------------------------------------------------
//
// libpng reports every decoding error by longjmp back to the setjmp in the
// function that started the decode. Each decode keeps everything it owns in
// one record, reached through a pointer the jump does not disturb, and frees
// it on both paths; no frame of ours lies between the setjmp and libpng.

namespace {

struct PngSource;
// Frees the file's bytes however the decode ends.
struct PngBytes {
  PngSource *source;
  ~PngBytes();
};

struct PngSource {
  DataFile *file;
  char message[image_error_size];
  // The file after its signature, read whole so that every chunk's length
  // can be checked against what is there before libpng allocates for it.
  uint8_t *bytes;
  size_t size, at;
};

// A picture file larger than this is refused unread.
constexpr size_t max_png_file = size_t(256) << 20;

void png_read_from_memory(png_structp png, png_bytep data, size_t length) {
  PngSource *source = static_cast<PngSource *>(png_get_io_ptr(png));
  if (length > source->size - source->at) png_error(png, "truncated file");
  memcpy(data, source->bytes + source->at, length);
  source->at += length;
}

// Reads the rest of the file and walks its chunks: a chunk that claims more
// bytes than the file holds would have libpng allocate (and clear) that much
// before it noticed the end, gigabytes for a hostile 100-byte file.
int png_slurp_and_check(PngSource *source) {
  size_t capacity = 0;
  for (;;) {
    if (source->size + 65536 > capacity) {
      capacity = capacity ? capacity * 2 : 65536 * 2;
      source->bytes = static_cast<uint8_t *>(realloc_or_die(source->bytes, capacity));
    }
    int got = dfile_read(source->file, source->bytes + source->size, 65536);
    if (got <= 0) break;
    source->size += static_cast<size_t>(got);
    if (source->size > max_png_file) {
      snprintf(source->message, sizeof source->message, "PNG error: file too large");
      return 0;
    }
  }
  size_t at = 0;
  while (at + 8 <= source->size) {
    const uint8_t *c = source->bytes + at;
    size_t length = (size_t(c[0]) << 24) | (size_t(c[1]) << 16) | (size_t(c[2]) << 8) | c[3];
    if (length > source->size - at - 8 || source->size - at - 8 - length < 4) {
      snprintf(source->message, sizeof source->message, "PNG error: chunk runs past the end of the file");
      return 0;
    }
    at += 12 + length;
    if (memcmp(c + 4, "IEND", 4) == 0) break;
  }
  return 1;
}

void png_fail(png_structp png, png_const_charp text) {
  PngSource *source = static_cast<PngSource *>(png_get_error_ptr(png));
  snprintf(source->message, sizeof source->message, "PNG error: %s", text);
  png_longjmp(png, 1);
}

void png_quiet(png_structp, png_const_charp) {}

PngBytes::~PngBytes() { tracked_free(source->bytes); }

void append_text(char **info, png_structp png, png_infop chunk_info) {
  if (!info) return;
  png_textp texts = nullptr;
  int count = 0;
  png_get_text(png, chunk_info, &texts, &count);
  for (int i = 0; i < count; i++) {
    const char *t = texts[i].text;
    if (!t || !*t) continue;
    size_t old = *info ? strlen(*info) : 0, add = strlen(t);
    *info = static_cast<char *>(realloc_or_die(*info, old + add + 1));
    memcpy(*info + old, t, add + 1);
  }
}

// The decode state that must survive a longjmp.
struct PngDecode {
  png_structp png;
  png_infop info, end_info;
  uint8_t *pixels;   // the picture being filled
  uint8_t **rows;
  uint16_t *samples; // grey16 reads
};

void png_decode_free(PngDecode *d) {
  png_destroy_read_struct(&d->png, d->info ? &d->info : nullptr, d->end_info ? &d->end_info : nullptr);
  tracked_free(d->rows);
  d->rows = nullptr;
}

int png_open_decode(PngDecode *d, PngSource *source) {
  uint8_t signature[8];
  if (dfile_read(source->file, signature, 8) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
    snprintf(source->message, sizeof source->message, "Not a PNG file");
    return 0;
  }
  if (!png_slurp_and_check(source)) return 0;
  d->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, source, png_fail, png_quiet);
  if (!d->png) return 0;
  d->info = png_create_info_struct(d->png);
  d->end_info = png_create_info_struct(d->png);
  if (!d->info || !d->end_info) {
    png_decode_free(d);
    return 0;
  }
  png_set_read_fn(d->png, source, png_read_from_memory);
  png_set_sig_bytes(d->png, 8);
  // Dimensions beyond what the game takes are refused before any pixel is
  // allocated; libpng enforces them while it reads the header.
  png_set_user_limits(d->png, max_image_side, max_image_side);
  return 1;
}

}  // namespace

int png_read(DataFile *file, Picture *out, char **info, char *error) {
  *out = Picture{};
  if (info) *info = nullptr;
  PngSource source = {file, {0}, nullptr, 0, 0};
  PngBytes held = {&source};
  PngDecode *volatile d = static_cast<PngDecode *>(tracked_calloc(1, sizeof(PngDecode)));
  Picture *volatile result = out;
  if (!png_open_decode(d, &source)) {
    tracked_free(d);
    set_error(error, source.message[0] ? source.message : "PNG error");
    return 0;
  }
  if (setjmp(png_jmpbuf(d->png))) {
    png_decode_free(d);
    tracked_free(d->pixels);
    tracked_free(d);
    *result = Picture{};
    if (info) {
      tracked_free(*info);
      *info = nullptr;
    }
    set_error(error, source.message);
    return 0;
  }
  png_read_info(d->png, d->info);
  png_uint_32 width = png_get_image_width(d->png, d->info), height = png_get_image_height(d->png, d->info);
  int type = png_get_color_type(d->png, d->info);
  int depth = png_get_bit_depth(d->png, d->info);
  if (!image_size_ok(width, height)) png_error(d->png, "picture too large");
  int alpha = (type & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(d->png, d->info, PNG_INFO_tRNS);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(d->png);
  if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(d->png);
  if (png_get_valid(d->png, d->info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(d->png);
  if (depth == 16) png_set_strip_16(d->png);
  if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(d->png);
  png_set_interlace_handling(d->png);
  png_read_update_info(d->png, d->info);
  int channels = alpha ? 4 : 3;
  if (static_cast<int>(png_get_channels(d->png, d->info)) != channels) png_error(d->png, "unexpected channel count");
  append_text(info, d->png, d->info);
  Picture p = picture_alloc(static_cast<int>(width), static_cast<int>(height), channels);
  d->pixels = p.pixels;
  d->rows = static_cast<uint8_t **>(alloc_or_die(sizeof(uint8_t *) * height));
  for (png_uint_32 y = 0; y < height; y++) d->rows[y] = p.pixels + static_cast<size_t>(y) * width * channels;
  png_read_image(d->png, d->rows);
  png_read_end(d->png, d->end_info);
  append_text(info, d->png, d->end_info);
  png_decode_free(d);
  tracked_free(d);
  build_levels(p.pixels, p.width, p.height, channels, 0);
  *out = p;
  return 1;
}

uint16_t *png_read_grey16(const char *name, int *width, int *height) {
  DataFile *file = dfile_open(name, "rb");
  if (!file) return nullptr;
  PngSource source = {file, {0}, nullptr, 0, 0};
  PngBytes held = {&source};
  PngDecode *volatile d = static_cast<PngDecode *>(tracked_calloc(1, sizeof(PngDecode)));
  if (!png_open_decode(d, &source)) {
    tracked_free(d);
    dfile_close(file);
    return nullptr;
  }
  if (setjmp(png_jmpbuf(d->png))) {
    png_decode_free(d);
    tracked_free(d->samples);
    tracked_free(d);
    dfile_close(file);
    return nullptr;
  }
  png_read_info(d->png, d->info);
  png_uint_32 w = png_get_image_width(d->png, d->info), h = png_get_image_height(d->png, d->info);
  int type = png_get_color_type(d->png, d->info);
  int depth = png_get_bit_depth(d->png, d->info);
  if (!image_size_ok(w, h)) png_error(d->png, "picture too large");
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(d->png);
  if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(d->png);
  if (type & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(d->png);
  if (type & PNG_COLOR_MASK_COLOR || type == PNG_COLOR_TYPE_PALETTE) png_set_rgb_to_gray_fixed(d->png, 1, -1, -1);
  if (depth == 16) png_set_swap(d->png);  // the file is big-endian; we want host order
  png_set_interlace_handling(d->png);
  png_read_update_info(d->png, d->info);
  int wide = png_get_bit_depth(d->png, d->info) == 16;
  if (png_get_channels(d->png, d->info) != 1) png_error(d->png, "unexpected channel count");
  d->samples = static_cast<uint16_t *>(alloc_or_die(sizeof(uint16_t) * static_cast<size_t>(w) * h));
  d->rows = static_cast<uint8_t **>(alloc_or_die(sizeof(uint8_t *) * h));
  uint8_t *bytes = reinterpret_cast<uint8_t *>(d->samples);
  for (png_uint_32 y = 0; y < h; y++) d->rows[y] = bytes + static_cast<size_t>(y) * w * (wide ? 2 : 1);
  png_read_image(d->png, d->rows);
  png_read_end(d->png, nullptr);
  uint16_t *samples = d->samples;
  png_decode_free(d);
  tracked_free(d);
  dfile_close(file);
  if (!wide) {
    // Widen in place from the end, so no byte is read after it is written.
    for (size_t i = static_cast<size_t>(w) * h; i-- > 0;) samples[i] = static_cast<uint16_t>(bytes[i] * 257);
  }
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return samples;
}

// ---- PNG writing ---------------------------------------------------------------------

namespace {

struct PngSink {
  DataFile *file;
  int failed;
};

void png_write_to_file(png_structp png, png_bytep data, size_t length) {
  PngSink *sink = static_cast<PngSink *>(png_get_io_ptr(png));
  if (dfile_write(sink->file, data, static_cast<int>(length)) != static_cast<int>(length)) sink->failed = 1;
}

void png_flush_file(png_structp) {}

void png_write_fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Rows are handed over one at a time by row(); bit depth 8 or 16, one or
// three channels.
int png_write(const char *name, int width, int height, int grey16, const uint8_t *pixels) {
  if (!image_size_ok(width, height)) return 0;
  DataFile *file = dfile_open_replace(name);
  if (!file) return 0;
  PngSink sink = {file, 0};
  png_structp volatile png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_write_fail, png_quiet);
  png_infop volatile info = png ? png_create_info_struct(png) : nullptr;
  uint8_t *volatile row = nullptr;
  if (!png || !info) {
    png_destroy_write_struct(const_cast<png_structp *>(&png), nullptr);
    dfile_close(file);
    return 0;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_infop i = info;
    png_destroy_write_struct(const_cast<png_structp *>(&png), &i);
    tracked_free(row);
    dfile_close(file);
    return 0;
  }
  png_set_write_fn(png, &sink, png_write_to_file, png_flush_file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), grey16 ? 16 : 8,
               grey16 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  size_t row_bytes = static_cast<size_t>(width) * (grey16 ? 2 : 3);
  row = static_cast<uint8_t *>(alloc_or_die(row_bytes));
  for (int y = 0; y < height; y++) {
    if (grey16) {
      const uint16_t *s = reinterpret_cast<const uint16_t *>(pixels) + static_cast<size_t>(y) * width;
      for (int x = 0; x < width; x++) {
        row[2 * x] = static_cast<uint8_t>(s[x] >> 8);
        row[2 * x + 1] = static_cast<uint8_t>(s[x] & 0xff);
      }
    } else {
      memcpy(row, pixels + static_cast<size_t>(height - 1 - y) * row_bytes, row_bytes);
    }
    png_write_row(png, row);
  }
  png_write_end(png, info);
  png_infop i = info;
  png_destroy_write_struct(const_cast<png_structp *>(&png), &i);
  tracked_free(row);
  if (sink.failed) {
    dfile_close(file);
    return 0;
  }
  return dfile_commit_replace(file);
}

}  // namespace

int png_write_grey16(const char *name, const uint16_t *samples, int width, int height) {
  return png_write(name, width, height, 1, reinterpret_cast<const uint8_t *>(samples));
}

int png_write_rgb(const char *name, const uint8_t *pixels, int width, int height) {
  return png_write(name, width, height, 0, pixels);
}
