// Inside the script module: the qx functions that work on textures and
// animations (frills_frames.cpp), and the watchdog's unsafe marks.
#pragma once
#include <duk_config.h>
#include "script/duktape_overrides.h"
#include <duktape.h>

// Code that must not be cut short by the watchdog (it holds a lock, or is
// half-way through the game's own tables) is marked for as long as it runs.
void frills_unsafe_enter();
void frills_unsafe_leave();
struct FrillsUnsafe {
  FrillsUnsafe() { frills_unsafe_enter(); }
  ~FrillsUnsafe() { frills_unsafe_leave(); }
  FrillsUnsafe(const FrillsUnsafe &) = delete;
  FrillsUnsafe &operator=(const FrillsUnsafe &) = delete;
};

duk_ret_t qx_read_texture(duk_context *ctx);
duk_ret_t qx_begin_custom_frame(duk_context *ctx);
duk_ret_t qx_end_custom_frame(duk_context *ctx);
duk_ret_t qx_paste_custom_frame(duk_context *ctx);
