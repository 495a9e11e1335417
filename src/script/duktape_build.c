/* The Duktape interpreter, compiled from the source the distribution ships
 * with its library (duktape-dev), with the configuration of
 * duktape_overrides.h. The configuration header is read first so that the
 * overrides land after its own defaults; the engine's include of it is then
 * a no-op. */
#define DUK_COMPILING_DUKTAPE
#include <duk_config.h>
#include "script/duktape_overrides.h"
#include TORVANE_DUKTAPE_SOURCE
