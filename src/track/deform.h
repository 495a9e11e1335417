// Terrain deformation: the wheels dig ruts.
//
// Each tic every wheel of a bike simulated here turns its contact force into
// an erode sample (a ground position and a push vector). Samples are averaged
// over about a foot of travel into points, points are packed into erode
// packets, and packets are decoded into the one erode queue, whether they
// were made here, echoed by the race server or read from a demo. The race
// step drains the queue a few entries per tic: each entry digs a soft crater
// and piles the same volume a little way off, against the push on the tyre.
//
// Erode packet (wire and demo format, little-endian):
//   0      1  version, always 1
//   1      2  min dx   u16, value = u / 65535 * 2048 - 1024
//   3      2  min dz   same encoding
//   5      2  max dx   same encoding
//   7      2  max dz   same encoding
//   9      3  x of point 0, u24, value = u / 16777215 * extent
//   12     3  z of point 0, same encoding
//   15     1  bits 0-1: count bits 0-1; bits 2-7: ex as v, value = 2 * v / 64 - 1
//   16     1  bits 0-1: count bits 2-3; bits 2-7: ez, same encoding
//   17+4k  4  point k + 1: dx step byte, dz step byte, then two bytes as 15, 16
// A step byte b moves min + (max - min) * b / 255 from the previous point.
// Points: (length - 17) / 4 + 1, at most 64; shorter than 17 bytes or another
// version holds none. A point's sample count is 1 ... 16; its four bits hold
// count mod 16 and are read back with 0 meaning 16 (no point has count 0).
#pragma once
#include <cstdint>

struct BikeState;
struct Terrain;
struct WheelContact;

constexpr int erode_queue_size = 131072;
constexpr int erode_packet_points = 64;
constexpr int erode_packet_header = 17;
constexpr int erode_packet_max = erode_packet_header + (erode_packet_points - 1) * 4;  // 269
constexpr int erode_max_samples = 16;  // samples averaged into one point
static_assert(erode_packet_max == 269);
static_assert((erode_queue_size & (erode_queue_size - 1)) == 0, "the queue index wraps by masking");

// One dig-and-pile: position (ft), push vector (length 0.125 ... 1 encodes the
// strength) and the number of samples it stands for.
struct ErodePoint {
  float x, z;
  float ex, ez;
  int count;
};

// Per wheel: the points waiting to be packed and the samples being averaged.
// All zero at start.
struct ErodeAccumulator {
  ErodePoint points[erode_packet_points];
  int point_count;
  float delta_bounds[4];  // min dx, min dz, max dx, max dz between consecutive points
  int last_point_tic;
  float last_sample_x, last_sample_z;
  float sums[4];  // x, z, ex, ez of the samples being averaged
  float travel;   // ft covered by those samples
  int sample_count;
};

// What one wheel's sample saw this tic, for the debug labels.
struct ErodeDebug {
  float speed, slip;
  float fx, fz;    // raw contact force: negated lateral and forward parts
  float pfx, pfz;  // processed push, likewise
};

// --- Samples and packets ------------------------------------------------------
// One wheel, one tic: turns the contact the last physics step left into a
// sample, and emits points and packets as they complete. `debug` may be null.
void erode_sample(ErodeAccumulator *acc, Terrain *terrain, const WheelContact *contact, int is_front, int tic,
                  ErodeDebug *debug);
// Drops pending samples and points without sending them (bike reset).
void erode_clear(ErodeAccumulator *acc);
// Encodes the waiting points (1 ... 64) into out; returns the length, 0 when
// there are none.
int erode_encode(const ErodeAccumulator *acc, const Terrain *terrain, uint8_t out[erode_packet_max]);
// Decodes a packet; returns the number of points written to out (at most 64),
// 0 for a malformed packet.
int erode_decode(const uint8_t *packet, int length, const Terrain *terrain, ErodePoint out[erode_packet_points]);

// --- Where packets go -------------------------------------------------------------
// Offline a finished packet is decoded straight into the queue (and given to
// the recorder, when one is set); online it goes to the race server, which
// echoes it to every client, this one included.
void erode_send(Terrain *terrain, const uint8_t *packet, int length);
// Decodes a packet into the queue: packets from the server, from a demo, and
// offline from erode_send.
void erode_receive(const Terrain *terrain, const uint8_t *packet, int length);
// The deformation message of the race protocol: race id (int32) then the
// packet. Applied only when the race id matches; 1 when it was.
int erode_receive_message(const Terrain *terrain, const uint8_t *payload, int length, int race_id);

using ErodePacketSink = void (*)(const uint8_t *packet, int length);
// Set by the network client while connected (null offline).
void set_erode_server_sink(ErodePacketSink sink);
// Set by the demo writer while recording, to keep offline packets.
void set_erode_recorder(ErodePacketSink sink);

// --- The queue ------------------------------------------------------------------------
int erode_queue_length();
// Empties the queue and forgets the hold-back deadline (a track is freed).
void erode_queue_clear();
// Entry k from the front (0 = next to apply); for tests and tools.
ErodePoint erode_queue_entry(int k);

// Once per tic while the erode rate is above 0: applies a budget of queued
// entries at rate (the erode rate / 1024). Entries within 10 ft of the local
// rider (player_xz, null when there is none) are held back for up to 256 tics.
// The terrain's lock is lifted for the duration of the call. Nothing is
// drained at a rate of 0 or below.
void erode_apply(Terrain *terrain, const float *player_xz, float rate, int tic);
// The two ground edits (x, z and radius in ft, amount in ft). erode_dig adds
// amount * w to every vertex within the radius (w the smooth falloff) and
// returns the height change actually made; erode_pile spreads a total of
// amount over the same shape, so a pile returns exactly what a dig took.
float erode_dig(Terrain *terrain, float x, float z, float radius, float amount);
void erode_pile(Terrain *terrain, float x, float z, float radius, float amount);
// The loaded (undug) height at (x, z), by the same triangle rule as
// terrain_height.
float loaded_height_at(const Terrain *terrain, float x, float z);

// The renderer marks its ground textures stale over a changed vertex window
// (columns col0 ... col1, rows row0 ... row1, clamped to the grid).
using TerrainDirtyHook = void (*)(Terrain *terrain, int col0, int row0, int col1, int row1);
void set_terrain_dirty_hook(TerrainDirtyHook hook);
// The whole grid through the same hook: every ground texture is composed
// again (the decals were switched on or off).
void terrain_recompose_all(Terrain *terrain);

// --- The race's side ---------------------------------------------------------------------
// Front then rear wheel of one bike not driven from history; the bike's two
// accumulators are kept here by slot. Called after the world step.
void erode_wheel_marks(Terrain *terrain, BikeState *bike, int tic);
// Clears both wheels of a slot (its bike is put at a start position).
void erode_clear_slot(int slot);
ErodeAccumulator *erode_accumulator(int slot, int wheel);
// Clears every accumulator and the labels' state: at a race reset and when a
// track is freed (together with erode_queue_clear: queued entries belong to
// the old ground).
void erode_reset();

// --- Debug labels (console "log" with the letter e) -------------------------------------
constexpr int erode_log_labels = 1;  // flag bit 0
void erode_set_logging(int flags, float spacing);
using ErodeLabelHook = void (*)(const float position[3], const char *text);
// Labels go to the scene's label list; null drops them.
void set_erode_label_hook(ErodeLabelHook hook);
// "clearlog": the scene forgets the labels shown (through the clear hook)
// and new ones are placed afresh.
using ErodeLabelClearHook = void (*)();
void set_erode_label_clear_hook(ErodeLabelClearHook hook);
void erode_clear_labels();
// "front:\n" and "rear:\n" followed by each wheel's values.
void erode_label_text(const ErodeDebug wheels[2], char *out, int size);
