// Duktape as the game builds it: the distribution's configuration with the
// execution-timeout hook switched on (the packaged library is built without
// it), so that a track script stuck in a loop can be interrupted. Included
// right after duk_config.h, by the engine's own build and by the script
// module, so both agree on the configuration.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif
// Asked by the interpreter every few thousand instructions: non-zero once the
// running call has used up its time (the script module owns the clock).
duk_bool_t frills_exec_timeout(void *heap_udata);
#ifdef __cplusplus
}
#endif

#define DUK_USE_INTERRUPT_COUNTER
#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) frills_exec_timeout(udata)

// Dates without the C library's time-zone and locale functions (UTC for
// local time, Duktape's own parser and formatter): those take a process-wide
// lock, and a script stopped by the watchdog must never leave one held.
#undef DUK_USE_DATE_TZO_GMTIME_R
#undef DUK_USE_DATE_PRS_STRPTIME
#undef DUK_USE_DATE_FMT_STRFTIME
#undef DUK_USE_DATE_GET_LOCAL_TZOFFSET
#undef DUK_USE_DATE_PARSE_STRING
#undef DUK_USE_DATE_FORMAT_STRING
#define DUK_USE_DATE_GET_LOCAL_TZOFFSET(d) 0
