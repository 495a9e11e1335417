// Pictures in memory: 8-bit RGB or RGBA pixels, row-major with the top row
// first, followed in the same buffer by every smaller level down to 1 x 1
// (each level halves both sides, rounding down, never below 1). The readers
// of the picture formats the game uses, the level chain, and the pixel work
// done before a picture becomes a texture (power-of-two resampling, detail and
// redundancy reduction, the border colour). No GL here: see texture.h.
//
// Predictive format ("H6" RGB, "H7" RGBA): the magic, optional "#" comment
// lines before each number, width and height in decimal, exactly one
// separator byte, then width x height pixels. Every stored byte is the
// difference from a prediction per channel, modulo 256: 0 for the first pixel,
// the left neighbour along the top row, the upper one down the left column,
// and left + above - above-left, clamped to 0..255, elsewhere.
#pragma once
#include <cstddef>
#include <cstdint>

struct DataFile;

// No GPU takes larger textures; readers refuse such headers before they
// allocate anything.
constexpr int max_image_side = 16384;
// A header may also not claim more pixels than this in all (a 8192 x 8192
// picture), so a lying header cannot make the reader allocate gigabytes.
constexpr long long max_image_pixels = 8192LL * 8192LL;

struct Picture {
  uint8_t *pixels;  // tracked allocation holding the whole chain; null when empty
  int width, height, channels;
  int levels;       // levels held, including the top (1 for a bare picture)
};

// Bytes of a full chain for a w x h picture.
size_t chain_bytes(int width, int height, int channels);
int chain_level_count(int width, int height);
// Offset of level `level` within a full chain, and its size.
size_t chain_level_offset(int width, int height, int channels, int level, int *level_width, int *level_height);
// Fills levels 1.. from level 0 in a full chain. With max_alpha, the smaller
// levels take the largest of the four alphas instead of their average.
void build_levels(uint8_t *chain, int width, int height, int channels, int max_alpha);

// A picture with room for its whole chain (levels 1.. not yet built); null
// pixels when the size is out of range. Frees with picture_free.
Picture picture_alloc(int width, int height, int channels);
void picture_free(Picture *picture);
int image_size_ok(long long width, long long height);

// Readers. Each returns 1 with a full chain built (pgm_read: one grey level,
// no chain), or 0 with a short text in `error` saying what was wrong.
// The PPM and PGM header errors are "Can't parse PPM header" and
// "Can't get PPM dimensions" (PGM likewise).
constexpr int image_error_size = 128;
int ppm_read(DataFile *file, Picture *out, char *error);   // "P3" / "P6", 3 channels
int pgm_read(DataFile *file, Picture *out, char *error);   // "P2" / "P5", 1 channel
int hpred_read(DataFile *file, Picture *out, char *error); // "H6" / "H7"
// The same once the magic has been read (3 channels for "H6", 4 for "H7").
int hpred_read_after_magic(DataFile *file, int channels, Picture *out, char *error);
// The file's text (all text chunks, in file order) is appended to info when
// info is not null (tracked allocation, zero-terminated; null when none).
int png_read(DataFile *file, Picture *out, char **info, char *error);

// A PNG as 16-bit grey samples in host order, top row first (colour is
// converted to grey, alpha dropped, 8-bit samples widened as v * 257).
// Null on failure; the samples are a tracked allocation.
uint16_t *png_read_grey16(const char *name, int *width, int *height);
// PNG writers through the file layer (an "@" name lands in the home
// directory). Grey: 16-bit samples in host order, top row first. RGB: 8-bit
// pixels whose first row is the BOTTOM row of the picture (the order the GL
// frame buffer reads back), so the file comes out upright. 1 on success; the
// file is written to a temporary name and renamed into place.
int png_write_grey16(const char *name, const uint16_t *samples, int width, int height);
int png_write_rgb(const char *name, const uint8_t *pixels, int width, int height);

// Custom levels: the picture holds its own smaller levels below the base
// (its height is 3/2 of the base height). Returns 1 with `picture` turned
// into a full chain of the base size; 0 when the height is not 3/2 of a
// base with power-of-two sides, leaving the picture as it was.
int take_custom_levels(Picture *picture);

// The preparation a picture goes through before upload.
// Resamples (nearest neighbour) to the largest powers of two not above each
// side, rebuilding the chain; 1 when it had to.
int resample_to_power_of_two(Picture *picture, int max_alpha);
// Drops the top level up to `count` times while both sides exceed 128.
int reduce_detail(Picture *picture, int count);
// Like reduce_detail with image_read's rule: drops while the level holds
// 16385 pixels or more.
int reduce_image_detail(Picture *picture, int count);
// Drops top levels that the next level rebuilds within 4 per channel (3/4,
// 1/4 bilinear upsampling), while a side exceeds 16. Returns the count dropped.
int reduce_redundancy(Picture *picture);
// 1 when level 0 can be rebuilt from level 1 within 4 per channel.
int level_is_redundant(const Picture *picture);
// Drops the top level of a chain in place.
void drop_top_level(Picture *picture);

// The border colour of an RGB picture: the fullest of 512 bins of its edge
// pixels (corners counted twice), as r7/7, g7/7, b7/7, alpha 0.
void border_colour(const Picture *picture, float rgba[4]);

