// Textures and custom animation frames for track scripts.
// INTERIM: the texture manager has not landed yet; these answer 0.
#include "script/frills_local.h"

duk_ret_t qx_read_texture(duk_context *ctx) {
  duk_push_number(ctx, 0);
  return 1;
}
duk_ret_t qx_begin_custom_frame(duk_context *ctx) {
  duk_push_number(ctx, 0);
  return 1;
}
duk_ret_t qx_end_custom_frame(duk_context *ctx) {
  duk_push_number(ctx, 0);
  return 1;
}
duk_ret_t qx_paste_custom_frame(duk_context *ctx) {
  duk_push_number(ctx, 0);
  return 1;
}
