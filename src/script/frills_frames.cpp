// Textures and custom animation frames for track scripts: a script loads a
// texture by name, and composes frames of an animated texture from
// rectangles of its own frames in the animation's scratch buffer (kept with
// the animation by the texture manager), then uploads them over it.
#include <cmath>
#include <cstring>

#include "app/alloc.h"
#include "assets/image.h"
#include "assets/texture.h"
#include "script/frills.h"
#include "script/frills_local.h"

namespace {

duk_ret_t push_result(duk_context *ctx, int ok) {
  duk_push_number(ctx, ok ? 1 : 0);
  return 1;
}

// The animation named by argument `index` (a GL texture name), or null.
Animation *animation_arg(duk_context *ctx, int index) {
  double v = duk_to_number(ctx, index);
  if (!(v >= 1 && v <= 4294967295.0)) return nullptr;
  return animation_find(static_cast<unsigned>(v));
}

}  // namespace

duk_ret_t qx_read_texture(duk_context *ctx) {
  const char *name = duk_to_string(ctx, 0);
  unsigned tid;
  {
    FrillsUnsafe unsafe;  // files, GL and the texture table
    tid = texture_read(name);
  }
  duk_push_number(ctx, tid);
  return 1;
}

duk_ret_t qx_begin_custom_frame(duk_context *ctx) {
  Animation *a = animation_arg(ctx, 0);
  if (!a || !a->frames || a->width <= 0 || a->height <= 0) return push_result(ctx, 0);
  FrillsUnsafe unsafe;
  if (!a->custom) a->custom = static_cast<uint8_t *>(alloc_or_die(chain_bytes(a->width, a->height, a->channels)));
  memset(a->custom, 0, static_cast<size_t>(a->width) * a->height * a->channels);
  return push_result(ctx, 1);
}

duk_ret_t qx_end_custom_frame(duk_context *ctx) {
  Animation *a = animation_arg(ctx, 0);
  if (!a || !a->custom) return push_result(ctx, 0);
  FrillsUnsafe unsafe;
  build_levels(a->custom, a->width, a->height, a->channels, 0);
  animation_upload(a, a->custom);
  return push_result(ctx, 1);
}

// (texture, frame, sx, sy, dx, dy, w, h): corners and size are fractions of
// the animation's picture.
duk_ret_t qx_paste_custom_frame(duk_context *ctx) {
  double v[6];
  for (int k = 0; k < 6; k++) v[k] = duk_to_number(ctx, 2 + k);
  double frame = duk_to_number(ctx, 1);
  Animation *a = animation_arg(ctx, 0);
  if (!a || !a->custom || !(frame >= 0 && frame < a->frame_count)) return push_result(ctx, 0);
  const uint8_t *source = a->frames[static_cast<int>(frame)].pixels;
  paste_frame_pixels(source, a->custom, a->width, a->height, a->channels, v[0], v[1], v[2], v[3], v[4], v[5]);
  return push_result(ctx, 1);
}
