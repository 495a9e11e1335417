// Inside the script module: the qx functions that work on textures and
// animations, kept beside the texture manager's side of them.
#pragma once
#include <duk_config.h>
#include "script/duktape_overrides.h"
#include <duktape.h>

duk_ret_t qx_read_texture(duk_context *ctx);
duk_ret_t qx_begin_custom_frame(duk_context *ctx);
duk_ret_t qx_end_custom_frame(duk_context *ctx);
duk_ret_t qx_paste_custom_frame(duk_context *ctx);
