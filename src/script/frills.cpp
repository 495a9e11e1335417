#include "script/frills.h"

#include <duk_config.h>
#include "script/duktape_overrides.h"
#include <duktape.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "app/types.h"
#include "assets/file.h"
#include "bike/bike.h"
#include "platform/log.h"
#include "race/race.h"
#include "script/frills_local.h"
#include "track/gates.h"
#include "track/objects.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

// Every block the heap holds, so that a heap left in an unknown state (its
// fatal handler ran) can still be freed whole.
struct Block {
  Block *prev, *next;
  size_t size;
  size_t pad;  // keeps the payload 16-byte aligned
};
static_assert(sizeof(Block) % 16 == 0, "payload alignment");

// The script context: from the race reset that loaded the script to the next.
struct Script {
  duk_context *ctx;
  int stopped;         // out of time or memory: no more handler calls
  int running;         // inside a call (no nested entry)
  double deadline;     // script_clock() seconds for the running call
  int timed_out;       // the deadline passed during the running call
  int memory_refused;  // an allocation was refused during the running call
  size_t heap_bytes;
  Block *blocks;
  double message_tokens, message_clock;
  int messages_dropped;
};
Script script;
char error_text[script_error_size];

// The watchdog. The interpreter's own timeout check runs between bytecode
// instructions only, so a script can still stall inside one long built-in
// (sorting a big array, joining a long one). A timer signal then ends the
// call from outside: the heap is abandoned and freed block by block. The
// jump is taken only while the interrupted code is the interpreter's own or
// the C library's lock-free string and number helpers: the heap's allocator
// and every call from the script into the game mark themselves unsafe, and
// the signal then tries again a millisecond later.
sigjmp_buf escape;                  // armed around every entry into the interpreter
volatile sig_atomic_t escape_armed;  // a jump to `escape` is allowed
volatile sig_atomic_t unsafe_depth;  // inside code that must not be cut short
timer_t watchdog;
pid_t watchdog_thread;  // the thread the timer signals; 0 before the first use
bool watchdog_broken;   // no timer could be made: the cooperative bounds only

void watchdog_set(double seconds) {
  if (!watchdog_thread) return;
  itimerspec when = {};
  if (seconds > 0) {
    when.it_value.tv_sec = static_cast<time_t>(seconds);
    when.it_value.tv_nsec = static_cast<long>((seconds - static_cast<double>(when.it_value.tv_sec)) * 1e9);
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
  }
  timer_settime(watchdog, 0, &when, nullptr);
}

void on_watchdog(int, siginfo_t *, void *) {
  if (!escape_armed) return;
  if (unsafe_depth > 0) {
    watchdog_set(0.001);
    return;
  }
  escape_armed = 0;
  siglongjmp(escape, 2);
}

// The timer signals the thread that runs scripts (the main thread).
void watchdog_prepare() {
  pid_t self = gettid();
  if (watchdog_broken || watchdog_thread == self) return;
  if (watchdog_thread) timer_delete(watchdog);
  watchdog_thread = 0;
  struct sigaction action = {};
  action.sa_sigaction = on_watchdog;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigevent event = {};
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = SIGRTMIN + 7;
  event._sigev_un._tid = self;
  if (sigaction(SIGRTMIN + 7, &action, nullptr) != 0 ||
      timer_create(CLOCK_THREAD_CPUTIME_ID, &event, &watchdog) != 0) {
    watchdog_broken = true;
    hovl_log("frills: no watchdog timer; long built-in calls of scripts are not cut short\n");
    return;
  }
  watchdog_thread = self;
}

double seconds_of(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
double monotonic() { return seconds_of(CLOCK_MONOTONIC); }
// The bounds count the processor time the script's thread spends, so a busy
// machine that preempts the game does not make a well-behaved script late.
double script_clock() { return seconds_of(CLOCK_THREAD_CPUTIME_ID); }

void set_error(const char *text) { snprintf(error_text, sizeof error_text, "%.1023s", text ? text : ""); }

// --- The heap's memory -------------------------------------------------------------

void link_block(Block *b, size_t size) {
  b->size = size;
  b->prev = nullptr;
  b->next = script.blocks;
  if (script.blocks) script.blocks->prev = b;
  script.blocks = b;
  script.heap_bytes += size;
}

void unlink_block(Block *b) {
  if (b->prev)
    b->prev->next = b->next;
  else
    script.blocks = b->next;
  if (b->next) b->next->prev = b->prev;
  script.heap_bytes -= b->size;
}

bool room_for(size_t more) {
  if (more > frills_heap_limit || script.heap_bytes > frills_heap_limit - more) {
    script.memory_refused = 1;
    return false;
  }
  return true;
}

void *heap_alloc(void *, duk_size_t size) {
  FrillsUnsafe unsafe;
  if (size == 0 || !room_for(size)) return nullptr;
  Block *b = static_cast<Block *>(malloc(sizeof(Block) + size));
  if (!b) {
    script.memory_refused = 1;
    return nullptr;
  }
  link_block(b, size);
  return b + 1;
}

void heap_free(void *, void *ptr) {
  FrillsUnsafe unsafe;
  if (!ptr) return;
  Block *b = static_cast<Block *>(ptr) - 1;
  unlink_block(b);
  free(b);
}

void *heap_realloc(void *udata, void *ptr, duk_size_t size) {
  FrillsUnsafe unsafe;
  if (!ptr) return heap_alloc(udata, size);
  if (size == 0) {
    heap_free(udata, ptr);
    return nullptr;
  }
  Block *b = static_cast<Block *>(ptr) - 1;
  size_t old = b->size;
  if (size > old && !room_for(size - old)) return nullptr;
  unlink_block(b);
  Block *moved = static_cast<Block *>(realloc(b, sizeof(Block) + size));
  if (!moved) {
    link_block(b, old);  // the old block is still valid
    script.memory_refused = 1;
    return nullptr;
  }
  link_block(moved, size);
  return moved + 1;
}

void free_all_blocks() {
  while (script.blocks) {
    Block *b = script.blocks;
    script.blocks = b->next;
    free(b);
  }
  script.heap_bytes = 0;
}

// Uncaught errors outside a protected call end up here; every entry is a
// protected call, so this means the interpreter itself gave up. The heap is
// then in no state to be used again: leave it.
void heap_fatal(void *, const char *message) {
  char text[script_error_size];
  snprintf(text, sizeof text, "javascript error: %.900s\n", message ? message : "fatal error");
  print_message(text);
  escape_armed = 0;
  siglongjmp(escape, 1);
}

// --- Calls into the interpreter -------------------------------------------------------

void begin_call(double seconds) {
  script.running = 1;
  script.timed_out = 0;
  script.memory_refused = 0;
  script.deadline = script_clock() + seconds;
}

void abandon_heap() {
  script.ctx = nullptr;
  free_all_blocks();
  script.running = 0;
  script.stopped = 1;
}

// Runs `body` in a protected call with the time bound: the interpreter's
// check throws at the bound, the watchdog cuts the call at twice the bound.
// Returns 1 on success; on failure the error text is kept and 0 returned.
int protected_run(duk_safe_call_function body, void *data, double seconds) {
  if (!script.ctx || script.running) return 0;
  watchdog_prepare();
  begin_call(seconds);
  error_text[0] = 0;
  int why = sigsetjmp(escape, 1);
  if (why != 0) {
    watchdog_set(0);
    abandon_heap();
    set_error(why == 2 ? "execution timeout" : "fatal error");
    if (why == 2) script.timed_out = 1;
    return 0;
  }
  escape_armed = 1;
  watchdog_set(2 * seconds);
  duk_context *ctx = script.ctx;
  int rc = duk_safe_call(ctx, body, data, 0, 1);
  escape_armed = 0;
  watchdog_set(0);
  int ok = rc == DUK_EXEC_SUCCESS;
  // The error's own text, even when it is not an Error object.
  if (!ok) set_error(duk_safe_to_string(ctx, -1));
  duk_pop(ctx);
  script.running = 0;
  return ok;
}

// A bound was hit during the last call: one line for the player and no
// more calls until the next race.
bool stop_if_out_of_bounds(int ok) {
  if (!script.timed_out && !(script.memory_refused && !ok)) return false;
  char text[script_error_size];
  snprintf(text, sizeof text, "javascript error: %.900s\n",
           error_text[0] ? error_text : script.timed_out ? "execution timeout" : "out of memory");
  print_message(text);
  script.stopped = 1;
  return true;
}

struct EvalData {
  const char *source;
  const char *name;
};

duk_ret_t eval_body(duk_context *ctx, void *udata) {
  const EvalData *d = static_cast<const EvalData *>(udata);
  duk_push_string(ctx, d->source);
  duk_push_string(ctx, d->name);
  duk_compile(ctx, 0);
  duk_call(ctx, 0);
  return 1;
}

int eval_named(const char *source, const char *name) {
  EvalData d = {source, name};
  return protected_run(eval_body, &d, frills_load_seconds);
}

struct CallData {
  const char *path;
  int count;
  const char *const *args;
  double result;
  int path_failed;
};

// Walks the dotted path: [this, value] on the stack; returns 0 (with the
// error text set) when it cannot be followed.
int follow_path(duk_context *ctx, const char *path) {
  duk_push_undefined(ctx);
  duk_push_global_object(ctx);
  const char *p = path;
  while (*p) {
    const char *end = strchr(p, '.');
    size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
    if (!duk_is_object_coercible(ctx, -1)) {
      char text[script_error_size];
      snprintf(text, sizeof text, "can't find %.800s", p);
      set_error(text);
      return 0;
    }
    duk_get_prop_lstring(ctx, -1, p, n);
    if (duk_is_undefined(ctx, -1)) {
      char text[script_error_size];
      snprintf(text, sizeof text, "can't find %.800s", p);
      set_error(text);
      return 0;
    }
    duk_remove(ctx, -3);  // the old `this`; the old value becomes `this`
    p += n;
    if (*p == '.') p++;
  }
  if (!duk_is_function(ctx, -1)) {
    char text[script_error_size];
    snprintf(text, sizeof text, "%.800s is not a function", path);
    set_error(text);
    return 0;
  }
  return 1;
}

duk_ret_t call_body(duk_context *ctx, void *udata) {
  CallData *d = static_cast<CallData *>(udata);
  if (!follow_path(ctx, d->path)) {
    d->path_failed = 1;
    return 0;
  }
  duk_swap_top(ctx, -2);  // function, this
  for (int k = 0; k < d->count; k++) duk_push_string(ctx, d->args[k] ? d->args[k] : "");
  duk_call_method(ctx, d->count);
  d->result = duk_to_number(ctx, -1);
  return 1;
}

void call_handler(const char *path, int tic) {
  if (!script.ctx || script.stopped) return;
  char text[16];
  snprintf(text, sizeof text, "%d", tic);
  const char *args[1] = {text};
  CallData d = {path, 1, args, 0, 0};
  int ok = protected_run(call_body, &d, frills_call_seconds);
  stop_if_out_of_bounds(ok);
  // Other handler failures are silent: the error stays in the buffer and
  // the script is called again next time.
}

// --- What the script sees ---------------------------------------------------------------

// A number argument as an index; false when it is not a finite number.
bool arg_int(duk_context *ctx, int index, int *out) {
  double v = duk_to_number(ctx, index);
  if (!std::isfinite(v) || v < -2147483648.0 || v > 2147483647.0) return false;
  *out = static_cast<int>(v);
  return true;
}

Slot *slot_with_bike(duk_context *ctx, int index) {
  int slot;
  if (!arg_int(ctx, index, &slot)) return nullptr;
  Slot *s = race_slot(slot);
  return s && s->bike ? s : nullptr;
}

duk_ret_t push_number(duk_context *ctx, double v) {
  duk_push_number(ctx, v);
  return 1;
}

duk_ret_t qx_message(duk_context *ctx) {
  const char *text = duk_to_string(ctx, 0);
  // A token bucket on the real clock: enough for any commentary, not enough
  // to fill the disk with the log.
  double now = monotonic();
  script.message_tokens += (now - script.message_clock) * frills_messages_per_second;
  if (script.message_tokens > frills_message_burst) script.message_tokens = frills_message_burst;
  script.message_clock = now;
  if (script.message_tokens < 1) {
    if (!script.messages_dropped++) {
      FrillsUnsafe unsafe;
      hovl_log("frills: too many messages; dropping some\n");
    }
    return 0;
  }
  script.message_tokens -= 1;
  FrillsUnsafe unsafe;  // the log's stream lock
  print_message(text);
  return 0;
}

duk_ret_t qx_get_max_slots(duk_context *ctx) { return push_number(ctx, max_slots); }

duk_ret_t qx_get_running_count(duk_context *ctx) { return push_number(ctx, race_state().running_count); }

// Entry i of the running order, null outside it (entries past the count are
// left from an earlier order and mean nothing).
const RunningEntry *running_entry(duk_context *ctx) {
  int i;
  const RaceState &race = race_state();
  if (!arg_int(ctx, 0, &i) || i < 0 || i >= max_slots || i >= race.running_count) return nullptr;
  return &race.running_order[i];
}

duk_ret_t qx_get_running_order_slot(duk_context *ctx) {
  const RunningEntry *e = running_entry(ctx);
  return push_number(ctx, e ? e->slot : 0);
}

duk_ret_t qx_get_running_order_position(duk_context *ctx) {
  const RunningEntry *e = running_entry(ctx);
  return push_number(ctx, e ? e->position : 0);
}

duk_ret_t qx_get_running_order_time(duk_context *ctx) {
  const RunningEntry *e = running_entry(ctx);
  return push_number(ctx, e ? e->tic : 0);
}

// The finished flags are read, never computed here: asking must not mark a
// rider finished earlier than the race itself would.
duk_ret_t qx_get_rider_down(duk_context *ctx) {
  const Slot *s = slot_with_bike(ctx, 0);
  bool finished = s && (s->timing.finished || s->bike->finished);
  return push_number(ctx, s && s->bike->stopped && !finished ? 1 : 0);
}

duk_ret_t qx_get_seconds_per_tic(duk_context *ctx) { return push_number(ctx, seconds_per_tic); }

// Read off the loaded track's gates: the prelude asks at load, before the
// race reset has copied them into the race state.
duk_ret_t qx_get_first_lap_length(duk_context *ctx) {
  const TimingGates *g = timing_gates();
  return push_number(ctx, g->gate_count ? g->first_lap_count : 0);
}

duk_ret_t qx_get_normal_lap_length(duk_context *ctx) {
  const TimingGates *g = timing_gates();
  return push_number(ctx, g->gate_count ? g->normal_lap_count : 0);
}

duk_ret_t qx_get_timing_position(duk_context *ctx) {
  const Slot *s = slot_with_bike(ctx, 0);
  return push_number(ctx, s ? s->timing.next_gate : -1);
}

duk_ret_t qx_get_timing(duk_context *ctx) {
  const Slot *s = slot_with_bike(ctx, 0);
  if (!s) return push_number(ctx, -1);
  int index;
  int tic = arg_int(ctx, 1, &index) ? gate_tic(&s->timing, index) : -1;
  return push_number(ctx, tic * seconds_per_tic);
}

duk_ret_t push_text(duk_context *ctx, const char *text) {
  duk_push_string(ctx, text ? text : "");
  return 1;
}

duk_ret_t qx_get_rider_number(duk_context *ctx) {
  const Slot *s = slot_with_bike(ctx, 0);
  return push_text(ctx, s ? s->number : "");
}

// The name the rider races under: for a network rider the one the server
// gave, offline the local player's or the robots' name.
duk_ret_t qx_get_rider_name(duk_context *ctx) {
  const Slot *s = slot_with_bike(ctx, 0);
  return push_text(ctx, s ? s->name : "");
}

duk_ret_t qx_get_bike_model(duk_context *ctx) {
  const Slot *s = slot_with_bike(ctx, 0);
  return push_text(ctx, s ? s->bike_model : "");
}

double ground_height(double x, double z) {
  const Terrain *t = track_terrain();
  if (!t || !std::isfinite(x) || !std::isfinite(z)) return 0;
  return terrain_height(t, static_cast<float>(x), static_cast<float>(z));
}

duk_ret_t qx_get_elevation(duk_context *ctx) {
  double x = duk_to_number(ctx, 0), z = duk_to_number(ctx, 1);
  return push_number(ctx, ground_height(x, z));
}

duk_ret_t fill_vector(duk_context *ctx, const dReal *(*read)(dBodyID)) {
  const Slot *s = slot_with_bike(ctx, 0);
  double v[3] = {0, 0, 0};
  if (s) {
    const dReal *q = read(s->bike->bodies[bike_frame]);
    for (int k = 0; k < 3; k++) v[k] = q[k];
  }
  for (int k = 0; k < 3; k++) {
    duk_push_number(ctx, v[k]);
    duk_put_prop_index(ctx, 1, static_cast<duk_uarridx_t>(k));
  }
  return push_number(ctx, s ? 1 : 0);
}

duk_ret_t qx_get_position_(duk_context *ctx) { return fill_vector(ctx, dBodyGetPosition); }
duk_ret_t qx_get_velocity_(duk_context *ctx) { return fill_vector(ctx, dBodyGetLinearVel); }

duk_ret_t qx_get_finish_laps(duk_context *ctx) { return push_number(ctx, race_state().finish_laps); }

duk_ret_t qx_get_finish_time(duk_context *ctx) { return push_number(ctx, race_state().finish_time * seconds_per_tic); }

duk_ret_t qx_get_gate_drop_time(duk_context *ctx) {
  const RaceState &race = race_state();
  return push_number(ctx, race.tic >= race.gate_drop_tic ? race.gate_drop_tic * seconds_per_tic : -1.0);
}

// Statue n counts from the track's first statue; negative numbers reach the
// objects made before it (start gates, flagger models).
Statue *script_statue(duk_context *ctx, int index) {
  int n;
  if (!arg_int(ctx, index, &n)) return nullptr;
  int first = first_file_statue();
  if (n < -first || n >= statue_count() - first) return nullptr;
  return track_statue(first + n);
}

Billboard *script_billboard(duk_context *ctx, int index) {
  int n;
  if (!arg_int(ctx, index, &n) || n < 0) return nullptr;
  int first = first_file_billboard();
  if (n >= billboard_count() - first) return nullptr;
  return track_billboard(first + n);
}

// Element k of an array argument; a missing element (or no array) is NaN.
float element(duk_context *ctx, int index, int k) {
  if (!duk_is_object(ctx, index)) return NAN;
  duk_get_prop_index(ctx, index, static_cast<duk_uarridx_t>(k));
  float v = static_cast<float>(duk_to_number(ctx, -1));
  duk_pop(ctx);
  return v;
}

duk_ret_t qx_pose_statue(duk_context *ctx) {
  int count;
  if (!arg_int(ctx, 1, &count) || count < 1 || count > max_statue_bones) {
    duk_push_false(ctx);
    return 1;
  }
  // Every element is read before the statue is touched: reading may run
  // the script's own getters.
  static StatuePose pose;
  pose.bone_count = count;
  for (int k = 0; k < count * 3; k++) {
    pose.centres[k] = element(ctx, 2, k);
    pose.translations[k] = element(ctx, 3, k);
  }
  for (int k = 0; k < count * 9; k++) pose.rotations[k] = element(ctx, 4, k);
  Statue *s = script_statue(ctx, 0);
  if (!s || (s->pose && s->pose->bone_count != count)) {
    duk_push_false(ctx);
    return 1;
  }
  if (!s->pose) {
    FrillsUnsafe unsafe;
    s->pose = static_cast<StatuePose *>(alloc_or_die(sizeof(StatuePose)));
  }
  *s->pose = pose;
  duk_push_true(ctx);
  return 1;
}

bool finite_args(duk_context *ctx, int from, int to, double *out) {
  bool ok = true;
  for (int k = from; k <= to; k++) {
    out[k - from] = duk_to_number(ctx, k);
    ok &= std::isfinite(out[k - from]) != 0;
  }
  return ok;
}

// Statues with a collision shape stay where the loader put them: the bikes'
// object grid was built from their places.
duk_ret_t qx_move_statue(duk_context *ctx) {
  double v[4];
  bool ok = finite_args(ctx, 1, 4, v);
  Statue *s = script_statue(ctx, 0);
  if (!ok || !s || s->shape_path || s->has_shape) {
    duk_push_false(ctx);
    return 1;
  }
  place_statue(s, static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2]),
               static_cast<float>(v[3]));
  track_mark_modified(track_modified_all);
  duk_push_true(ctx);
  return 1;
}

duk_ret_t qx_move_billboard(duk_context *ctx) {
  double v[3];
  bool ok = finite_args(ctx, 1, 3, v);
  Billboard *b = script_billboard(ctx, 0);
  if (!ok || !b) return push_number(ctx, 0);
  b->x = static_cast<float>(v[0]);
  b->y = static_cast<float>(ground_height(v[0], v[2]) + v[1]);
  b->z = static_cast<float>(v[2]);
  return push_number(ctx, 1);
}

uint8_t colour_byte(double v) {
  if (!(v > 0)) return 0;  // NaN too
  if (v > 1) v = 1;
  return static_cast<uint8_t>(v * 255 + 0.5);
}

duk_ret_t qx_color_billboard(duk_context *ctx) {
  uint8_t c[4];
  for (int k = 0; k < 4; k++) c[k] = colour_byte(duk_to_number(ctx, k + 1));
  Billboard *b = script_billboard(ctx, 0);
  if (!b) return push_number(ctx, 0);
  memcpy(b->colour, c, sizeof c);
  return push_number(ctx, 1);
}

struct Provided {
  const char *name;
  duk_c_function function;
  int args;
};

const Provided provided[] = {
    {"message", qx_message, 1},
    {"read_texture", qx_read_texture, 1},
    {"begin_custom_frame", qx_begin_custom_frame, 1},
    {"end_custom_frame", qx_end_custom_frame, 1},
    {"paste_custom_frame", qx_paste_custom_frame, 8},
    {"get_max_slots", qx_get_max_slots, 0},
    {"get_running_count", qx_get_running_count, 0},
    {"get_running_order_slot", qx_get_running_order_slot, 1},
    {"get_running_order_position", qx_get_running_order_position, 1},
    {"get_running_order_time", qx_get_running_order_time, 1},
    {"get_rider_down", qx_get_rider_down, 1},
    {"get_seconds_per_tic", qx_get_seconds_per_tic, 0},
    {"get_first_lap_length", qx_get_first_lap_length, 0},
    {"get_normal_lap_length", qx_get_normal_lap_length, 0},
    {"get_timing_position", qx_get_timing_position, 1},
    {"get_timing", qx_get_timing, 2},
    {"get_rider_number", qx_get_rider_number, 1},
    {"get_rider_name", qx_get_rider_name, 1},
    {"get_bike_model", qx_get_bike_model, 1},
    {"get_elevation", qx_get_elevation, 2},
    {"get_position_", qx_get_position_, 2},
    {"get_velocity_", qx_get_velocity_, 2},
    {"get_finish_laps", qx_get_finish_laps, 0},
    {"get_finish_time", qx_get_finish_time, 0},
    {"get_gate_drop_time", qx_get_gate_drop_time, 0},
    {"pose_statue", qx_pose_statue, 5},
    {"move_statue", qx_move_statue, 5},
    {"move_billboard", qx_move_billboard, 4},
    {"color_billboard", qx_color_billboard, 5},
};

duk_ret_t register_body(duk_context *ctx, void *) {
  duk_push_global_object(ctx);
  duk_push_object(ctx);
  for (const Provided &p : provided) {
    duk_push_c_function(ctx, p.function, p.args);
    duk_put_prop_string(ctx, -2, p.name);
  }
  duk_put_prop_string(ctx, -2, "qx");
  duk_pop(ctx);
  duk_push_undefined(ctx);
  return 1;
}

// Evaluated before the track's script.
const char prelude[] = R"js(
qx.get_running_order = function () {
  var order = [];
  var count = qx.get_running_count();
  for (var i = 0; i < count; i++)
    order.push({slot: qx.get_running_order_slot(i), position: qx.get_running_order_position(i),
                time: qx.get_running_order_time(i) * qx.seconds_per_tic});
  return order;
};
qx.frame_handler = function (seconds) {};
qx.frame_handler_ = function (tics) {
  qx.seconds = tics * qx.seconds_per_tic;
  if ('frame_handler' in qx) qx.frame_handler(qx.seconds);
};
qx.tic_handler = function (seconds) {};
qx.tic_handler_ = function (tics) {
  qx.seconds = tics * qx.seconds_per_tic;
  if ('tic_handler' in qx) qx.tic_handler(qx.seconds);
};
qx.lap_to_index = function (lap) {
  if (lap == 0) return 0;
  return qx.first_lap_length + qx.normal_lap_length * (lap - 1) - 1;
};
qx.index_to_lap = function (index) {
  if (qx.normal_lap_length == 0 || index < qx.first_lap_length) return 0;
  return 1 + Math.floor((index - qx.first_lap_length) / qx.normal_lap_length);
};
qx.get_position = function (slot) {
  var v = [];
  return qx.get_position_(slot, v) ? v : null;
};
qx.get_velocity = function (slot) {
  var v = [];
  return qx.get_velocity_(slot, v) ? v : null;
};
qx.max_slots = qx.get_max_slots();
qx.first_lap_length = qx.get_first_lap_length();
qx.normal_lap_length = qx.get_normal_lap_length();
qx.seconds_per_tic = qx.get_seconds_per_tic();
qx.tics_per_second = 1 / qx.seconds_per_tic;
qx.seconds = 0;
)js";

void print_load_error() {
  char text[script_error_size];
  snprintf(text, sizeof text, "javascript error: %.900s\n", error_text);
  print_message(text);
}

}  // namespace

void frills_unsafe_enter() { unsafe_depth = unsafe_depth + 1; }
void frills_unsafe_leave() { unsafe_depth = unsafe_depth - 1; }

extern "C" duk_bool_t frills_exec_timeout(void *) {
  if (!script.running) return 0;
  if (script.timed_out) return 1;  // keeps unwinding through every catch
  if (script_clock() < script.deadline) return 0;
  script.timed_out = 1;
  return 1;
}

void frills_unload() {
  if (!script.ctx) {
    script = Script{};
    return;
  }
  // Finalizers run at destruction: they get the time of one call.
  watchdog_prepare();
  begin_call(frills_call_seconds);
  if (sigsetjmp(escape, 1) == 0) {
    escape_armed = 1;
    watchdog_set(2 * frills_call_seconds);
    duk_destroy_heap(script.ctx);
  }
  escape_armed = 0;
  watchdog_set(0);
  free_all_blocks();
  script = Script{};
}

void frills_load_source(const char *source, const char *name) {
  frills_unload();
  error_text[0] = 0;
  script.message_tokens = frills_message_burst;
  script.message_clock = monotonic();
  script.ctx = duk_create_heap(heap_alloc, heap_realloc, heap_free, nullptr, heap_fatal);
  if (!script.ctx) {
    free_all_blocks();
    print_message("javascript error: no memory for the script\n");
    return;
  }
  if (!protected_run(register_body, nullptr, frills_load_seconds)) {
    print_load_error();
    frills_unload();
    return;
  }
  int ok = eval_named(prelude, "prelude");
  if (!ok) print_load_error();
  if (script.ctx && !stop_if_out_of_bounds(1) && ok) {
    ok = eval_named(source, name);
    if (!ok) print_load_error();
    // A script that ran out of time or memory while loading has already
    // said so: it is not called again.
    if (script.timed_out || (script.memory_refused && !ok)) script.stopped = 1;
  }
}

void frills_load(const char *path) {
  frills_unload();
  char *text = file_to_string(path);
  if (!text) return;
  frills_load_source(text, "frills.js");
  tracked_free(text);
}

void frills_frame(int tic) { call_handler("qx.frame_handler_", tic); }
void frills_tic(int tic) { call_handler("qx.tic_handler_", tic); }

double script_call(const char *path, int count, const char *const *args) {
  CallData d = {path, count, args, 0, 0};
  if (!protected_run(call_body, &d, frills_call_seconds)) return 0;
  return d.path_failed ? 0 : d.result;
}

int script_eval(const char *source) { return eval_named(source, "eval"); }

const char *script_error() { return error_text; }
int frills_loaded() { return script.ctx != nullptr; }
int frills_stopped() { return script.stopped; }
size_t frills_heap_bytes() { return script.heap_bytes; }

// --- Custom animation frames ------------------------------------------------------------

namespace {

// A corner or size in pixels, kept well inside int range.
int pixels_of(double v, int size) {
  double limit = 4.0 * size + 4;
  if (v < -limit) return static_cast<int>(-limit);
  if (v > limit) return static_cast<int>(limit);
  return static_cast<int>(v);
}

void composite(const uint8_t *s, uint8_t *d) {
  int a = s[3], A = d[3];
  if (a == 0) {
    if (A == 0) memcpy(d, s, 4);
    return;
  }
  if (a == 255 || A == 0) {
    memcpy(d, s, 4);
    return;
  }
  if (A == 255) {
    for (int c = 0; c < 3; c++) d[c] = static_cast<uint8_t>((d[c] * (255 - a) + s[c] * a) / 255);
    return;
  }
  int below = (255 - a) * A;  // the destination's share, times 255
  int weight = a * 255 + below;
  for (int c = 0; c < 3; c++) d[c] = static_cast<uint8_t>((d[c] * below + s[c] * a * 255) / weight);
  d[3] = static_cast<uint8_t>(a + below / 255);
}

}  // namespace

int paste_frame_pixels(const uint8_t *source, uint8_t *destination, int width, int height, int channels, double sx,
                       double sy, double dx, double dy, double w, double h) {
  if (!source || !destination || width <= 0 || height <= 0 || (channels != 3 && channels != 4)) return 0;
  double v[6] = {sx, sy, dx, dy, w, h};
  for (double x : v)
    if (!std::isfinite(x)) return 0;
  int x0 = pixels_of(std::ceil(sx * width - 0.5), width), y0 = pixels_of(std::ceil(sy * height - 0.5), height);
  int x1 = pixels_of(std::ceil(dx * width - 0.5), width), y1 = pixels_of(std::ceil(dy * height - 0.5), height);
  int cw = pixels_of(std::trunc(w * width), width), ch = pixels_of(std::trunc(h * height), height);
  // Clip to both pictures.
  auto clip = [](int *from, int *to, int *size, int limit) {
    int lo = *from < *to ? *from : *to;
    if (lo < 0) {
      *from -= lo;
      *to -= lo;
      *size += lo;
    }
    int hi = *from > *to ? *from : *to;
    if (hi + *size > limit) *size = limit - hi;
  };
  clip(&x0, &x1, &cw, width);
  clip(&y0, &y1, &ch, height);
  if (cw <= 0 || ch <= 0) return 0;
  for (int row = 0; row < ch; row++) {
    const uint8_t *s = source + (static_cast<size_t>(y0 + row) * width + x0) * channels;
    uint8_t *d = destination + (static_cast<size_t>(y1 + row) * width + x1) * channels;
    if (channels == 3) {
      memmove(d, s, static_cast<size_t>(cw) * 3);
      continue;
    }
    for (int k = 0; k < cw; k++) composite(s + 4 * k, d + 4 * k);
  }
  return cw * ch;
}
