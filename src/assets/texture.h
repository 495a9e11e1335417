// The texture manager: every picture the game shows, loaded by data path,
// prepared and uploaded to GL, cached by name and kept by generation. A race
// reset starts a new generation; what it no longer asks for is deleted by the
// next partial flush. Pictures wanted as pixels (terrain, tiles, decals) are
// kept as images the same way. Some textures are animations (".seq" files)
// whose frames are swapped in as the race clock runs.
//
// Animation files: "ANIM1", then L F S loop (sequence length, frame count,
// tics per step, looping flag), L frame indices, then F frames, each "H7"
// followed by an inline predictive image or "PNG" followed by the rest of the
// line as the name of a PNG file. All frames share width, height and channels.
//
// Link files: "LINK", then (up to 1023 bytes, trimmed) the name of another
// texture that stands in for this one.
#pragma once
#include <cstddef>
#include <cstdint>

struct DataFile;
struct Picture;

// Without a GL context (the headless race, the server, tests of the pixel
// work) every texture request answers 0 and nothing is uploaded; images
// still load. The window layer's owner says when GL is there.
void texture_set_gl_ready(int ready);
int texture_gl_ready();

// Verbose logging of deletions and missing files (the --debug level).
void texture_set_verbosity(int level);
// Reduction counts: `reduction` for textures (models and interface
// pictures), `image_reduction` for images (the ground's pictures); and the
// texture compression setting (0 no, 1 on "[compress]", 2 always).
void texture_set_options(int reduction, int image_reduction, int compression);

// A race reset starts a new generation; generation 0 marks permanent
// textures (those loaded before the first reset, such as fonts and the HUD).
void texture_new_generation();
int texture_generation();

// The loaded track keeps its pictures for as long as it stays loaded, over
// any number of race resets that do not reload it: what is read between
// texture_hold_begin and texture_hold_end (or found in the cache then) is held
// until texture_release_held, and only then follows its generation.
void texture_hold_begin();
void texture_hold_end();
void texture_release_held();
// Whether a hold is running (models follow the same bracket).
int texture_holding();

// GL texture name for an image file, or 0. A leading "!" loads without
// detail reduction.
unsigned texture_read(const char *name);
// The pixels (full chain) of an image file for pixel access, or null.
const Picture *image_read(const char *name);
// The file name a texture was requested by, or null.
const char *texture_name(unsigned tid);
// The info text that came with a PNG texture (text chunks and "<name>.info"), or null.
const char *texture_info(unsigned tid);
// all = 0: deletes textures, images and animations of older generations;
// all = 1: everything, and the tables are freed (the manager is then as it
// was at start-up, in generation 0).
void texture_flush(int all);
// Bytes of every uploaded level.
size_t texture_memory();

// Whether mipmapped textures blend their two nearest levels (trilinear, the
// default). Software GL pays for the second level's texels on every pixel,
// about a tenth of a frame here, so the game turns blending off there. The
// step from level to level does not show on models, boards, the sky and the
// HUD, and not on the ground either: its levels are filtered from one
// composed picture, and the same frames drawn both ways differ only in thin
// bands far off, by a few per cent at most.
void texture_set_level_blending(int blend);

// Uploads a prepared chain as a new texture (flags below); returns its GL
// name (0 without GL). Its bytes join the memory total and are given back in
// *bytes (texture_release takes them out again).
constexpr int upload_repeat_h = 1, upload_repeat_v = 2, upload_compress = 4, upload_single_level = 8;
unsigned texture_upload(const uint8_t *chain, int width, int height, int channels, int flags, size_t *bytes);
// Deletes a texture the caller made with texture_upload and owns (number
// plates, the terrain's textures); its bytes leave the memory total.
void texture_release(unsigned tid, size_t bytes);

// Animations.
struct AnimationFrame {
  uint8_t *pixels;  // full chain
};
struct Animation {
  unsigned tid;
  int length;          // sequence entries
  int frame_count;
  int frame_shown;
  int tics_per_step;
  int loop;
  int start_tic;
  int paused;
  int width, height, channels;
  AnimationFrame *frames;
  int *sequence;
  uint8_t *custom;     // scratch chain for frames a script composes, or null
};
// Reads an animation file after its "ANIM1" token (no upload); 1 with the
// frames and sequence in `out` (free with animation_free), or 0 with a message.
int animation_read(DataFile *file, const char *name, Animation *out);
void animation_free(Animation *animation);
// The target of a link file after its "LINK" token, trimmed; 0 when empty.
int link_read(DataFile *file, char *target, int size);
// Called once per frame with the race tic: swaps in the frame due now.
void texture_animate(int tic);
void animation_start(unsigned tid, int tic);
void animation_pause(unsigned tid);
// The animation behind a texture, or null.
Animation *animation_find(unsigned tid);
// Uploads a full chain of the animation's size over its texture.
void animation_upload(Animation *animation, const uint8_t *chain);
// The frame index an animation shows at `tic` (pure arithmetic of the step).
int animation_frame_at(const Animation *animation, int tic);

// Selectable skins for a prefix ("rider_body-" ...): entry 0 is "default"
// with no path; then every PNG of the file list whose last path component
// starts with the prefix, except normal and specular maps. Returns the count;
// both lists are tracked allocations the caller frees (the strings are
// interned).
int texture_choices(const char *prefix, const char ***paths, const char ***labels);

// Texture choices on an explicit list of names (what texture_choices runs
// over the file list), for tests.
int texture_choices_from(const char *const *names, const char *prefix, const char ***paths, const char ***labels);
