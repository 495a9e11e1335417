// Track scripts on the ring track: loading and its errors, what the qx
// functions answer, statue and billboard numbering, the bounds that stop a
// runaway script, and the pixel rule of custom animation frames.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "platform/log.h"
#include "race/race.h"
#include "ring_scene.h"
#include "script/frills.h"
#include "track/objects.h"
#include "track/track.h"

namespace {

using namespace ring_scene;

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

int count_messages(const char *part) {
  int n = 0;
  for (int i = 0; i < message_visible_count(); i++)
    if (strstr(message_line(i), part)) n++;
  return n;
}

// A number the script computes: `expression` evaluated in a function.
double value_of(const std::string &expression) {
  EXPECT_EQ(script_eval(("qx.probe_ = function () { return " + expression + "; };").c_str()), 1) << script_error();
  return script_call("qx.probe_", 0, nullptr);
}

// The ring track with two statues and three billboards of its own, and
// optionally a script; a race of robots in slots 0 and 2.
struct ScriptedRing {
  Track track;
  explicit ScriptedRing(const char *script) {
    message_clear();
    message_set_limit(100);
    write_text_file(track.dir + "statues",
                    "[100 0 100] 0 @a.hm null null\n[110 2 100] 0 @b.hm null @gate.shp\n");
    write_text_file(track.dir + "billboards",
                    "[60 1 60] 1 1 @one.png\n[70 1 70] 1 1 @two.png\n[80 1 80] 1 1 #ff0000#@three.png\n");
    if (script) write_text_file(track.dir + "frills.js", script);
    std::vector<int> kinds(max_slots, slot_kind_empty);
    kinds[0] = kinds[2] = slot_kind_robot;
    EXPECT_EQ(race_reset(kinds.data(), 0, 0, 0, 2, 0), 1);
  }
  ~ScriptedRing() { frills_unload(); }
};

}  // namespace

TEST(FrillsLoad, NoScriptRunsWithoutOneAndSaysNothing) {
  ScriptedRing ring(nullptr);
  EXPECT_FALSE(frills_loaded());
  EXPECT_EQ(count_messages("javascript"), 0);
  frills_tic(10);
  frills_frame(10);
  EXPECT_EQ(script_call("qx.tic_handler_", 0, nullptr), 0);
}

TEST(FrillsLoad, SyntaxErrorPrintsOneLineAndThePreludeHandlersRun) {
  ScriptedRing ring("qx.tic_handler = function () { qx.message('mine'); };\nvar broken = ;\n");
  ASSERT_TRUE(frills_loaded());
  EXPECT_EQ(count_messages("javascript error: SyntaxError"), 1);
  EXPECT_EQ(count_messages("javascript error"), 1);
  frills_tic(256);
  frills_frame(384);
  EXPECT_EQ(count_messages("mine"), 0);  // the script's handler was never made
  EXPECT_DOUBLE_EQ(value_of("qx.seconds"), 3.0);
  EXPECT_FALSE(frills_stopped());
}

TEST(FrillsLoad, HandlersGetTheSecondsAndErrorsInThemAreSilent) {
  ScriptedRing ring(
      "var frames = 0, last = -1;\n"
      "qx.frame_handler = function (t) { frames++; last = t; };\n"
      "qx.tic_handler = function (t) { throw new Error('tic failed at ' + t); };\n");
  frills_frame(640);
  frills_frame(641);
  EXPECT_EQ(value_of("frames"), 2);
  EXPECT_DOUBLE_EQ(value_of("last"), 641 / 128.0);
  frills_tic(128);
  EXPECT_STREQ(script_error(), "Error: tic failed at 1");
  frills_tic(256);  // still called
  EXPECT_STREQ(script_error(), "Error: tic failed at 2");
  EXPECT_EQ(count_messages("javascript"), 0);
  EXPECT_FALSE(frills_stopped());
}

TEST(FrillsCall, PathsThatCannotBeFollowed) {
  ScriptedRing ring("qx.nested = {deep: {f: function (a, b) { return a.length * 10 + b.length; }}};");
  const char *args[] = {"abc", "de"};
  EXPECT_EQ(script_call("qx.nested.deep.f", 2, args), 32);
  EXPECT_STREQ(script_error(), "");
  EXPECT_EQ(script_call("qx.nested.shallow.f", 0, nullptr), 0);
  EXPECT_STREQ(script_error(), "can't find shallow.f");
  EXPECT_EQ(script_call("qx.max_slots", 0, nullptr), 0);
  EXPECT_STREQ(script_error(), "qx.max_slots is not a function");
  EXPECT_EQ(script_call("qx.max_slots.x.y", 0, nullptr), 0);
  EXPECT_STREQ(script_error(), "can't find x.y");
  EXPECT_EQ(script_eval("null.x"), 0);
  EXPECT_NE(strstr(script_error(), "TypeError"), nullptr);
  EXPECT_EQ(script_eval("throw 'plain text'"), 0);
  EXPECT_STREQ(script_error(), "plain text");
}

TEST(FrillsPrelude, LapArithmeticAndValues) {
  ScriptedRing ring("");
  EXPECT_EQ(value_of("qx.max_slots"), 160);
  EXPECT_EQ(value_of("qx.first_lap_length"), 6);  // the ring's gates, known at load
  EXPECT_EQ(value_of("qx.normal_lap_length"), 6);
  EXPECT_EQ(value_of("qx.tics_per_second"), 128);
  ASSERT_EQ(script_eval("qx.first_lap_length = 3; qx.normal_lap_length = 4;"), 1);
  EXPECT_EQ(value_of("qx.index_to_lap(2)"), 0);
  EXPECT_EQ(value_of("qx.index_to_lap(3)"), 1);
  EXPECT_EQ(value_of("qx.index_to_lap(7)"), 2);
  EXPECT_EQ(value_of("qx.lap_to_index(0)"), 0);
  EXPECT_EQ(value_of("qx.lap_to_index(1)"), 2);
  EXPECT_EQ(value_of("qx.lap_to_index(2)"), 6);
  ASSERT_EQ(script_eval("qx.normal_lap_length = 0;"), 1);
  EXPECT_EQ(value_of("qx.index_to_lap(50)"), 0);
}

TEST(FrillsRace, RidersSlotsAndTheRunningOrder) {
  ScriptedRing ring("");
  EXPECT_EQ(value_of("qx.get_position(1) === null ? 1 : 0"), 1);
  EXPECT_EQ(value_of("qx.get_velocity(159) === null ? 1 : 0"), 1);
  EXPECT_EQ(value_of("qx.get_position(-1) === null ? 1 : 0"), 1);
  EXPECT_EQ(value_of("qx.get_position(NaN) === null ? 1 : 0"), 1);
  const dReal *p = dBodyGetPosition(race_slot(2)->bike->bodies[bike_frame]);
  EXPECT_NEAR(value_of("qx.get_position(2)[0]"), p[0], 1e-9);
  EXPECT_NEAR(value_of("qx.get_position(2)[2]"), p[2], 1e-9);
  EXPECT_EQ(value_of("qx.get_timing_position(1)"), -1);
  EXPECT_EQ(value_of("qx.get_timing(1, 0)"), -1);
  EXPECT_DOUBLE_EQ(value_of("qx.get_timing(2, 0)"), -1.0 / 128);  // not reached yet
  EXPECT_EQ(value_of("qx.get_rider_name(2) === 'Roborider' ? 1 : 0"), 1);
  EXPECT_EQ(value_of("qx.get_rider_name(1) === '' ? 1 : 0"), 1);
  EXPECT_EQ(value_of("qx.get_bike_model(2).length > 0 ? 1 : 0"), 1);
  EXPECT_EQ(value_of("qx.get_rider_number(1) === '' ? 1 : 0"), 1);
  EXPECT_EQ(value_of("qx.get_rider_down(2)"), 0);
  race_slot(2)->bike->stopped = 1;
  EXPECT_EQ(value_of("qx.get_rider_down(2)"), 1);
  race_slot(2)->timing.finished = 1;
  EXPECT_EQ(value_of("qx.get_rider_down(2)"), 0);  // a finished rider is not down
  race_slot(2)->timing.finished = 0;

  const RaceState &race = race_state();
  ASSERT_EQ(race.running_count, 2);
  EXPECT_EQ(value_of("qx.get_running_count()"), 2);
  EXPECT_EQ(value_of("qx.get_running_order().length"), 2);
  EXPECT_EQ(value_of("qx.get_running_order()[1].slot"), race.running_order[1].slot);
  EXPECT_EQ(value_of("qx.get_running_order_slot(2)"), 0);  // past the count
  EXPECT_EQ(value_of("qx.get_running_order_slot(160)"), 0);
  EXPECT_EQ(value_of("qx.get_gate_drop_time()"), -1);
  EXPECT_EQ(value_of("qx.get_finish_laps()"), 2);
  EXPECT_EQ(value_of("qx.get_elevation(128, 128)"), value_of("qx.get_elevation(10, 200)"));
  EXPECT_EQ(value_of("qx.get_elevation(NaN, 5)"), 0);
}

TEST(FrillsObjects, BillboardsCountFromTheTracksFirstAndColoursClamp) {
  ScriptedRing ring("");
  int first = first_file_billboard();
  EXPECT_GE(first, roost_billboard_pool);
  EXPECT_EQ(billboard_count() - first, 3);
  EXPECT_EQ(value_of("qx.color_billboard(0, 1.5, -1, 0.5, NaN)"), 1);
  const Billboard *b = track_billboard(first);
  EXPECT_EQ(b->colour[0], 255);
  EXPECT_EQ(b->colour[1], 0);
  EXPECT_EQ(b->colour[2], 128);  // 0.5 x 255 + 0.5
  EXPECT_EQ(b->colour[3], 0);
  EXPECT_EQ(value_of("qx.color_billboard(3, 1, 1, 1, 1)"), 0);
  EXPECT_EQ(value_of("qx.color_billboard(-1, 1, 1, 1, 1)"), 0);
  EXPECT_EQ(track_billboard(first - 1)->colour[0], 255);  // the pool is out of reach

  EXPECT_EQ(value_of("qx.move_billboard(2, 90, 3, 95)"), 1);
  const Billboard *moved = track_billboard(first + 2);
  EXPECT_FLOAT_EQ(moved->x, 90);
  EXPECT_NEAR(moved->y, 5 + 3, 0.01);  // 3 above the 5 ft field
  EXPECT_FLOAT_EQ(moved->z, 95);
  EXPECT_EQ(moved->colour[1], 0);  // its tint from the file stays
  EXPECT_EQ(value_of("qx.move_billboard(2, Infinity, 3, 95)"), 0);
  EXPECT_FLOAT_EQ(moved->x, 90);
}

TEST(FrillsObjects, StatueNumbersMovesAndPoses) {
  ScriptedRing ring("");
  int first = first_file_statue();
  ASSERT_EQ(first, 4);  // the four start gates come first
  ASSERT_EQ(statue_count(), 6);
  EXPECT_EQ(track_modified(), 0);
  EXPECT_EQ(value_of("qx.move_statue(0, 105, 1, 107, 0.5) ? 1 : 0"), 1);
  const Statue *s = track_statue(first);
  EXPECT_FLOAT_EQ(s->x, 105);
  EXPECT_NEAR(s->y, 6, 0.01);
  EXPECT_FLOAT_EQ(s->z, 107);
  EXPECT_NEAR(s->rotation[0], std::cos(0.5f), 1e-6);
  EXPECT_EQ(track_modified(), track_modified_all);
  // One with a collision shape, unknown numbers and bad places stay put.
  EXPECT_EQ(value_of("qx.move_statue(1, 0, 0, 0, 0) ? 1 : 0"), 0);
  EXPECT_EQ(value_of("qx.move_statue(2, 0, 0, 0, 0) ? 1 : 0"), 0);
  EXPECT_EQ(value_of("qx.move_statue(0, NaN, 0, 0, 0) ? 1 : 0"), 0);
  EXPECT_FLOAT_EQ(track_statue(first + 1)->x, 110);

  // Negative numbers reach the start gates, and no further.
  EXPECT_EQ(value_of("qx.pose_statue(-4, 2, [1,2,3, 4,5,6], [7], [1,0,0, 0,1,0, 0,0,1]) ? 1 : 0"), 1);
  EXPECT_EQ(value_of("qx.pose_statue(-5, 2, [], [], []) ? 1 : 0"), 0);
  const StatuePose *pose = track_statue(0)->pose;
  ASSERT_NE(pose, nullptr);
  EXPECT_EQ(pose->bone_count, 2);
  EXPECT_FLOAT_EQ(pose->centres[5], 6);
  EXPECT_FLOAT_EQ(pose->translations[0], 7);
  EXPECT_TRUE(std::isnan(pose->translations[1]));  // missing elements read as NaN
  EXPECT_FLOAT_EQ(pose->rotations[4], 1);
  EXPECT_TRUE(std::isnan(pose->rotations[9]));
  // The first pose fixes the bone count; the same count replaces the values.
  EXPECT_EQ(value_of("qx.pose_statue(-4, 3, [], [], []) ? 1 : 0"), 0);
  EXPECT_EQ(value_of("qx.pose_statue(-4, 2, [9], [], []) ? 1 : 0"), 1);
  EXPECT_FLOAT_EQ(track_statue(0)->pose->centres[0], 9);
  EXPECT_EQ(value_of("qx.pose_statue(1, 0, [], [], []) ? 1 : 0"), 0);
  EXPECT_EQ(value_of("qx.pose_statue(1, 33, [], [], []) ? 1 : 0"), 0);
  EXPECT_EQ(value_of("qx.pose_statue(1, 32, null, 5, 'x') ? 1 : 0"), 1);
}

TEST(FrillsBounds, ARunawayTicHandlerCostsOneBoundAndTheRaceFinishes) {
  ScriptedRing ring(
      "var calls = 0;\n"
      "qx.tic_handler = function (t) { if (t > 14.0) { calls++; while (true) {} } };\n");
  const RaceState &race = race_state();
  double slowest = 0, total = 0;
  int steps = 0;
  while (!race.results_final && steps < 20000) {
    drive(3);
    double t0 = now();
    race_step();
    double spent = now() - t0;
    total += spent;
    if (spent > slowest) slowest = spent;
    steps++;
  }
  EXPECT_TRUE(race.results_final);
  EXPECT_TRUE(frills_stopped());
  EXPECT_EQ(count_messages("javascript error: RangeError: execution timeout"), 1);
  EXPECT_EQ(value_of("calls"), 1);
  // The stuck call ends near its bound (it would never end otherwise); the
  // thousands of steps after it call nothing.
  EXPECT_LT(slowest, 2.0);
  EXPECT_LT(total, 60.0);
}

TEST(FrillsBounds, CatchingTheTimeoutDoesNotKeepAScriptRunning) {
  ScriptedRing ring(
      "qx.frame_handler = function () {\n"
      "  for (;;) { try { for (;;) {} } catch (e) {} finally { continue; } }\n"
      "};\n");
  double t0 = now();
  frills_frame(1);
  EXPECT_LT(now() - t0, 2.0);
  EXPECT_TRUE(frills_stopped());
  EXPECT_EQ(count_messages("javascript error"), 1);
}

TEST(FrillsBounds, AHeapThatGrowsWithoutEndIsStopped) {
  // A megabyte more every tic, well within the time of a call.
  ScriptedRing ring("var hoard = [];\nqx.tic_handler = function () { hoard.push('x'.repeat(1 << 20) + hoard.length); };\n");
  int tic = 0;
  while (!frills_stopped() && tic < 100) frills_tic(tic++);
  EXPECT_TRUE(frills_stopped());
  EXPECT_GE(tic, 8);  // it did grow for a while
  EXPECT_EQ(count_messages("javascript error"), 1);
  EXPECT_EQ(count_messages("alloc failed"), 1);
  EXPECT_LE(frills_heap_bytes(), frills_heap_limit);
  frills_tic(tic);
  EXPECT_EQ(count_messages("javascript error"), 1);
}

TEST(FrillsBounds, AStallInsideABuiltInIsCutByTheWatchdog) {
  // Sorting a large array runs in the interpreter's own code, where its
  // timeout check never comes: the watchdog ends the call.
  ScriptedRing ring(
      "var a = [];\n"
      "qx.tic_handler = function () {\n"
      "  if (a.length < 400000) { for (var i = 0; i < 20000; i++) a.push('same'); return; }\n"
      "  a.sort(); a.sort(); a.sort();\n"
      "};\n");
  double slowest = 0;
  for (int tic = 0; tic < 40 && !frills_stopped(); tic++) {
    double t0 = now();
    frills_tic(tic);
    slowest = std::max(slowest, now() - t0);
  }
  EXPECT_TRUE(frills_stopped());
  EXPECT_FALSE(frills_loaded());  // the heap was given up and freed
  EXPECT_EQ(frills_heap_bytes(), 0u);
  EXPECT_EQ(count_messages("javascript error: execution timeout"), 1);
  EXPECT_LT(slowest, 1.0);
  frills_tic(100);
  frills_frame(100);
}

TEST(FrillsBounds, AScriptStuckWhileLoadingIsNeverCalled) {
  ScriptedRing ring("qx.frame_handler = function () { qx.message('frame'); };\nwhile (true) {}\n");
  EXPECT_EQ(count_messages("javascript error: RangeError: execution timeout"), 1);
  EXPECT_TRUE(frills_stopped());
  frills_frame(5);
  EXPECT_EQ(count_messages("frame"), 0);
}

TEST(FrillsMessages, AFloodIsCut) {
  ScriptedRing ring("qx.tic_handler = function () { for (var i = 0; i < 1000; i++) qx.message('spam'); };");
  frills_tic(1);
  int shown = count_messages("spam");
  EXPECT_GE(shown, 1);
  EXPECT_LE(shown, static_cast<int>(frills_message_burst) + 1);
}

// --- Custom frames ----------------------------------------------------------------

TEST(CustomFrame, RgbaPixelsCompositeOverTheDestination) {
  // Four pixels side by side in a 4 x 1 picture: source over destination.
  const uint8_t src[16] = {200, 100, 0, 0,    // alpha 0
                           10, 20, 30, 255,   // opaque
                           255, 0, 0, 128,    // half over an opaque one
                           0, 0, 255, 64};    // quarter over a half one
  uint8_t dst[16] = {1, 2, 3, 50, 9, 9, 9, 9, 0, 0, 255, 255, 255, 0, 0, 128};
  ASSERT_EQ(paste_frame_pixels(src, dst, 4, 1, 4, 0, 0, 0, 0, 1, 1), 4);
  const uint8_t kept[4] = {1, 2, 3, 50};
  EXPECT_EQ(memcmp(dst, kept, 4), 0);  // a clear source keeps a visible destination
  const uint8_t copied[4] = {10, 20, 30, 255};
  EXPECT_EQ(memcmp(dst + 4, copied, 4), 0);
  // Over opaque: (dst (255 - a) + src a) / 255, alpha 255.
  EXPECT_EQ(dst[8], 255 * 128 / 255);
  EXPECT_EQ(dst[9], 0);
  EXPECT_EQ(dst[10], 255 * 127 / 255);
  EXPECT_EQ(dst[11], 255);
  // Both partial: weighted by the alphas, alpha a + (255 - a) A / 255.
  int a = 64, A = 128, weight = a * 255 + (255 - a) * A;
  EXPECT_EQ(dst[12], 255 * A * (255 - a) / weight);
  EXPECT_EQ(dst[14], 255 * a * 255 / weight);
  EXPECT_EQ(dst[15], a + (255 - a) * A / 255);

  // A clear source over a clear destination copies it (its colour too).
  uint8_t clear[4] = {0, 0, 0, 0};
  const uint8_t ghost[4] = {7, 8, 9, 0};
  paste_frame_pixels(ghost, clear, 1, 1, 4, 0, 0, 0, 0, 1, 1);
  EXPECT_EQ(memcmp(clear, ghost, 4), 0);
}

TEST(CustomFrame, CornersRoundAndTheRectangleIsClippedToBothPictures) {
  // 8 x 8 RGB: the source numbers its pixels.
  std::vector<uint8_t> src(8 * 8 * 3), dst(8 * 8 * 3, 0);
  for (int i = 0; i < 64; i++) src[3 * i] = static_cast<uint8_t>(i + 1);
  // Corner (ceil(0.3 x 8 - 0.5), ...) = (2, 2); destination (6, 0); size 4 x 2,
  // cut to the 2 columns left at the destination's right edge.
  EXPECT_EQ(paste_frame_pixels(src.data(), dst.data(), 8, 8, 3, 0.3, 0.3, 0.75, 0, 0.5, 0.25), 4);
  EXPECT_EQ(dst[3 * 6], 2 * 8 + 2 + 1);
  EXPECT_EQ(dst[3 * 7], 2 * 8 + 3 + 1);
  EXPECT_EQ(dst[3 * (8 + 6)], 3 * 8 + 2 + 1);
  EXPECT_EQ(dst[3 * 5], 0);
  // A source corner off the picture (ceil(-2.5) = -2) moves both corners in.
  std::fill(dst.begin(), dst.end(), 0);
  EXPECT_EQ(paste_frame_pixels(src.data(), dst.data(), 8, 8, 3, -0.25, 0, 0, 0, 0.5, 0.125), 2);
  EXPECT_EQ(dst[3 * 1], 0);
  EXPECT_EQ(dst[3 * 2], 1);
  EXPECT_EQ(dst[3 * 3], 2);
  EXPECT_EQ(paste_frame_pixels(src.data(), dst.data(), 8, 8, 3, 2, 2, 0, 0, 1, 1), 0);
  EXPECT_EQ(paste_frame_pixels(src.data(), dst.data(), 8, 8, 3, NAN, 0, 0, 0, 1, 1), 0);
  EXPECT_EQ(paste_frame_pixels(src.data(), dst.data(), 8, 8, 3, 0, 0, 0, 0, 1e300, 1e300), 64);
}
