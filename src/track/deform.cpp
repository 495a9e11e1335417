#include "track/deform.h"


#include <ode/ode.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/types.h"
#include "bike/bike.h"
#include "platform/log.h"
#include "render/terrain_render.h"
#include "track/terrain.h"
#include "track/tiles.h"

namespace {

// The erode queue and its hold-back deadline: live for the process, emptied
// when a track is freed.
ErodePoint queue[erode_queue_size];
int queue_start, queue_length;
int hold_deadline = -1;  // -1: none armed
int queue_full_reported;  // "Erode queue full!" once per process

// Per-slot wheel accumulators and label positions: cleared at every race
// reset and when a track is freed.
ErodeAccumulator accumulators[max_slots][2];
struct LabelState {
  int placed;
  float x, z;
};
LabelState labels[max_slots];

// Hooks set by other modules; live for the process.
ErodePacketSink server_sink;
ErodePacketSink recorder;
TerrainDirtyHook dirty_hook;
ErodeLabelHook label_hook;
int log_flags;
float label_spacing = 10;

constexpr float max_bound = 1024;
constexpr float bound_margin = 0.0625f;
constexpr float max_bound_range = 64;  // ft of spread between steps before a packet is split
constexpr int idle_flush_tics = 64;
constexpr float hold_back_distance2 = 100;  // (10 ft)^2
constexpr int hold_back_tics = 256;
constexpr float grid_coordinate_limit = 1073741824.0f;

float clampf(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }
// NaN goes to lo.
float clamp_finite(float v, float lo, float hi) { return !(v > lo) ? lo : (v > hi ? hi : v); }

const ErodeParams &erode_params_at(const Terrain *t, float x, float z) {
  static ErodeParams defaults;
  static int defaults_made;
  int tile = tile_at(t, x, z);
  if (tile >= 0 && tile < t->tile_count) return t->tiles[tile].erode;
  // A terrain without a tile table still ruts with the default parameters.
  if (!defaults_made) {
    erode_defaults(&defaults);
    defaults_made = 1;
  }
  return defaults;
}

// --- Packet encoding ------------------------------------------------------------

void put_u16(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put_u24(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}
uint32_t get_u16(const uint8_t *p) { return p[0] | (static_cast<uint32_t>(p[1]) << 8); }
uint32_t get_u24(const uint8_t *p) { return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16); }

// Encoded in double precision: a float cannot hold 16777215.5, and the
// top code would round past the field.
uint32_t encode_bound(float v) {
  double u = std::floor((clamp_finite(v, -max_bound, max_bound) + max_bound) / (2.0 * max_bound) * 65535.0 + 0.5);
  return static_cast<uint32_t>(u > 65535 ? 65535 : u);
}
float decode_bound(uint32_t u) { return static_cast<float>(u) / 65535.0f * (2 * max_bound) - max_bound; }

uint32_t encode_coordinate(float v, float extent) {
  double u = std::floor(static_cast<double>(clamp_finite(v, 0, extent)) / extent * 16777215.0 + 0.5);
  return static_cast<uint32_t>(u > 16777215 ? 16777215 : u);
}
float decode_coordinate(uint32_t u, float extent) { return static_cast<float>(u) / 16777215.0f * extent; }

// Upper six bits of a push byte.
uint8_t encode_push(float e) {
  e = clamp_finite(e, -1, 1);
  int v = static_cast<int>(std::floor((e + 1) / 2 * 64));
  return static_cast<uint8_t>((v > 63 ? 63 : v) << 2);
}
float decode_push(uint8_t byte) { return 2 * (static_cast<float>(byte >> 2) / 64) - 1; }

// Counts 1 ... 16 travel as count mod 16; 0 is read back as 16.
uint8_t count_low_bits(int count) { return static_cast<uint8_t>(count & 3); }
uint8_t count_high_bits(int count) { return static_cast<uint8_t>((count >> 2) & 3); }
int decode_count(uint8_t ex_byte, uint8_t ez_byte) {
  int c = (ex_byte & 3) | ((ez_byte & 3) << 2);
  return c == 0 ? erode_max_samples : c;
}

// The move of one step byte; the encoder and decoder share it so that the
// encoder's reconstructed position is exactly the decoder's.
float step_of(float lo, float hi, int b) { return lo + (hi - lo) * static_cast<float>(b) / 255.0f; }
int step_byte(float step, float lo, float hi) {
  if (!(hi > lo)) return 0;
  step = clamp_finite(step, lo, hi);
  int b = static_cast<int>(std::floor((step - lo) / (hi - lo) * 255.0f + 0.5f));
  return b < 0 ? 0 : (b > 255 ? 255 : b);
}

void encode_and_send(ErodeAccumulator *acc, Terrain *terrain) {
  uint8_t packet[erode_packet_max];
  int length = erode_encode(acc, terrain, packet);
  if (length > 0) erode_send(terrain, packet, length);
}

// Adds a point averaged from the sums (sample_count > 0) to the packet.
void emit_point(ErodeAccumulator *acc, Terrain *terrain, int tic) {
  float q = static_cast<float>(acc->sample_count);
  ErodePoint p = {acc->sums[0] / q, acc->sums[1] / q, acc->sums[2] / q, acc->sums[3] / q, acc->sample_count};
  if (acc->point_count == erode_packet_points) {
    encode_and_send(acc, terrain);
    acc->point_count = 0;
  }
  if (acc->point_count == 0) {
    memset(acc->delta_bounds, 0, sizeof acc->delta_bounds);
  } else {
    const ErodePoint &prev = acc->points[acc->point_count - 1];
    float dx = p.x - prev.x, dz = p.z - prev.z;
    if (acc->point_count == 1) {
      acc->delta_bounds[0] = acc->delta_bounds[2] = dx;
      acc->delta_bounds[1] = acc->delta_bounds[3] = dz;
    } else {
      float b[4] = {std::fmin(acc->delta_bounds[0], dx), std::fmin(acc->delta_bounds[1], dz),
                    std::fmax(acc->delta_bounds[2], dx), std::fmax(acc->delta_bounds[3], dz)};
      if (b[2] - b[0] > max_bound_range || b[3] - b[1] > max_bound_range) {
        encode_and_send(acc, terrain);
        acc->point_count = 0;
        memset(acc->delta_bounds, 0, sizeof acc->delta_bounds);
      } else {
        memcpy(acc->delta_bounds, b, sizeof b);
      }
    }
  }
  acc->points[acc->point_count++] = p;
  acc->last_point_tic = tic;
}

void no_sample(ErodeAccumulator *acc, Terrain *terrain, int tic) {
  if (acc->point_count == 0 || acc->last_point_tic + idle_flush_tics >= tic) return;
  if (acc->sample_count > 0) emit_point(acc, terrain, tic);
  encode_and_send(acc, terrain);
  erode_clear(acc);
}

void enqueue(const ErodePoint &p) {
  if (queue_length >= erode_queue_size) {
    if (!queue_full_reported) print_message("Erode queue full!");
    queue_full_reported = 1;
    return;
  }
  queue[(queue_start + queue_length) & (erode_queue_size - 1)] = p;
  queue_length++;
}

// --- Ground edits ---------------------------------------------------------------

struct DigWindow {
  float gx, gz, g;  // centre and radius in grid units
  int col0, row0, col1, row1;  // unclamped
};

DigWindow dig_window(const Terrain *t, float x, float z, float radius) {
  DigWindow w;
  w.gx = clamp_finite(x * t->inverse_spacing, -grid_coordinate_limit, grid_coordinate_limit);
  w.gz = clamp_finite(z * t->inverse_spacing, -grid_coordinate_limit, grid_coordinate_limit);
  w.g = radius * t->inverse_spacing;
  // A radius is a few feet; anything beyond the grid is cut to it.
  float limit = static_cast<float>(t->verts_per_side);
  if (!(w.g > 0)) w.g = 0;
  if (w.g > limit) w.g = limit;
  int k = static_cast<int>(std::ceil(w.g));
  int ci = static_cast<int>(std::floor(w.gx)), cj = static_cast<int>(std::floor(w.gz));
  w.col0 = ci - k + 1;
  w.col1 = ci + k;
  w.row0 = cj - k + 1;
  w.row1 = cj + k;
  return w;
}

float dig_weight(const DigWindow &w, int col, int row) {
  float dx = w.gx - static_cast<float>(col), dz = w.gz - static_cast<float>(row);
  float d = std::sqrt(dx * dx + dz * dz);
  if (d > w.g || !(w.g > 0)) return 0;
  float s = d / w.g;
  return 2 * s * s * s - 3 * s * s + 1;
}

// The window cut to the grid; false when nothing of it lies on the grid.
bool grid_part(const Terrain *t, const DigWindow &w, int *c0, int *r0, int *c1, int *r1) {
  int last = t->verts_per_side - 1;
  *c0 = w.col0 < 0 ? 0 : w.col0;
  *r0 = w.row0 < 0 ? 0 : w.row0;
  *c1 = w.col1 > last ? last : w.col1;
  *r1 = w.row1 > last ? last : w.row1;
  return *c0 <= *c1 && *r0 <= *r1;
}

void edited(Terrain *t, int c0, int r0, int c1, int r1) {
  if (dirty_hook) dirty_hook(t, c0, r0, c1, r1);
  terrain_mark_dirty(t, c0, r0, c1, r1);  // so the ruts show
  t->edit_count++;
}

void apply_entry(Terrain *t, const ErodePoint &e, float rate) {
  const ErodeParams &p = erode_params_at(t, e.x, e.z);
  float lp = std::sqrt(e.ex * e.ex + e.ez * e.ez);
  float k = clampf((lp - 0.125f) * 8 / 7, 0, 1);
  float d = k * p.erode_displacement;
  float tx = e.x, tz = e.z;
  if (lp > 0) {
    tx -= d * e.ex / lp;
    tz -= d * e.ez / lp;
  }
  float h0 = terrain_height(t, e.x, e.z), h1 = terrain_height(t, tx, tz);
  float rise = h1 - h0;
  if (rise > d * p.erode_max_slope || rise < d * p.erode_min_slope) return;
  float s = rate / 2048;
  if (h1 < h0 && d > 0) s *= (h0 - h1) / d * p.erode_downhill_scale + 1;

  // How far the ground here already is below its loaded surface decides how
  // much deeper it may go.
  float g = loaded_height_at(t, e.x, e.z) - h0;
  int n = p.erode_limit_count < erode_limit_points ? p.erode_limit_count : erode_limit_points;
  float pos = 0;
  if (n >= 2 && !(g < p.erode_limit_depth[0])) {
    pos = static_cast<float>(n - 1);
    for (int i = 1; i < n; i++) {
      if (g < p.erode_limit_depth[i]) {
        float span = p.erode_limit_depth[i] - p.erode_limit_depth[i - 1];
        pos = static_cast<float>(i - 1) + (span > 0 ? (g - p.erode_limit_depth[i - 1]) / span : 0);
        break;
      }
    }
  }
  float outer = 1, inner = 1;
  if (n >= 1) {
    int i0 = static_cast<int>(std::floor(pos));
    if (i0 > n - 1) i0 = n - 1;
    int i1 = i0 + 1 > n - 1 ? n - 1 : i0 + 1;
    float f = pos - static_cast<float>(i0);
    outer = p.erode_limit_outer[i0] + f * (p.erode_limit_outer[i1] - p.erode_limit_outer[i0]);
    inner = p.erode_limit_inner[i0] + f * (p.erode_limit_inner[i1] - p.erode_limit_inner[i0]);
  }
  float v1 = erode_dig(t, e.x, e.z, p.erode_radius, -outer * s * p.erode_depth * static_cast<float>(e.count));
  float v2 = erode_dig(t, e.x, e.z, p.erode_inner_radius, -inner * s * p.erode_inner_depth);
  erode_pile(t, tx, tz, p.erode_radius, -(v1 + v2));
}

void format_wheel(const ErodeDebug &d, char *out, int size) {
  snprintf(out, static_cast<size_t>(size), "speed=%.2f\nslip=%.2f\nfx=%.2f\nfz=%.2f\npfx=%.2f\npfz=%.2f\n", d.speed,
           d.slip, d.fx, d.fz, d.pfx, d.pfz);
}

}  // namespace

// --- Samples ------------------------------------------------------------------------

void erode_clear(ErodeAccumulator *acc) { memset(acc, 0, sizeof *acc); }

void erode_sample(ErodeAccumulator *acc, Terrain *terrain, const WheelContact *contact, int is_front, int tic,
                  ErodeDebug *debug) {
  if (debug) memset(debug, 0, sizeof *debug);
  const float *cp = contact->point;
  if (!(contact->depth > 0) || !contact->body || !std::isfinite(cp[0]) || !std::isfinite(cp[2])) {
    no_sample(acc, terrain, tic);
    return;
  }
  const ErodeParams &p = erode_params_at(terrain, cp[0], cp[2]);
  const dReal *vb = dBodyGetLinearVel(contact->body);
  float v[3] = {static_cast<float>(vb[0]), static_cast<float>(vb[1]), static_cast<float>(vb[2])};
  float speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  float on_span = p.erode_on_speed - p.erode_off_speed;
  float sf = on_span > 0 ? clampf((speed - p.erode_off_speed) / on_span, 0, 1) : (speed >= p.erode_on_speed ? 1.0f : 0.0f);

  float n[3];
  terrain_normal(terrain, cp[0], cp[2], n);
  const dReal *fb = contact->feedback.f1;
  float f[3] = {static_cast<float>(fb[0]), static_cast<float>(fb[1]), static_cast<float>(fb[2])};
  float q = (f[0] * n[0] + f[1] * n[1] + f[2] * n[2]) / (n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  float fx = (f[0] - p.erode_project_to_ground * q * n[0]) * sf;
  float fz = (f[2] - p.erode_project_to_ground * q * n[2]) * sf;

  const float *cv = contact->velocity;
  float slip = std::sqrt(cv[0] * cv[0] + cv[1] * cv[1] + cv[2] * cv[2]);
  float slip_span = p.erode_slip_upper - p.erode_slip_lower;
  float w = slip_span > 0 ? clampf((slip - p.erode_slip_lower) / slip_span, 0, 1) : (slip >= p.erode_slip_upper ? 1.0f : 0.0f);
  float scale = p.erode_slip_base_scale + w * (p.erode_slip_scale - p.erode_slip_base_scale);
  fx *= scale;
  fz *= scale;

  // Direction of travel and its left; without horizontal motion there is no
  // lateral part to scale.
  float hv = std::sqrt(v[0] * v[0] + v[2] * v[2]);
  float dx = 0, dz = 0;
  if (hv > 0) {
    dx = v[0] / hv;
    dz = v[2] / hv;
    float lx = -dz, lz = dx;
    float lateral = fx * lx + fz * lz;
    fx += lx * lateral * (p.erode_lateral_scale - 1);
    fz += lz * lateral * (p.erode_lateral_scale - 1);
  }
  if (is_front) {
    fx *= p.erode_front_scale;
    fz *= p.erode_front_scale;
  }
  if (debug) {
    debug->speed = speed;
    debug->slip = slip;
    debug->fx = -(f[0] * -dz + f[2] * dx);
    debug->fz = -(f[0] * dx + f[2] * dz);
    debug->pfx = -(fx * -dz + fz * dx);
    debug->pfz = -(fx * dx + fz * dz);
  }

  float m2 = fx * fx + fz * fz;
  if (!(m2 > p.erode_lower * p.erode_lower) || !(m2 > 1.0f / 1024) || !std::isfinite(m2)) {
    no_sample(acc, terrain, tic);
    return;
  }
  float m = std::sqrt(m2);
  float span = p.erode_upper - p.erode_lower;
  float k = span > 0 ? clampf((m - p.erode_lower) / span, 0, 1) : 1.0f;
  float e = (0.125f + 0.875f * k) / m;
  float ex = fx * e, ez = fz * e;

  float b = 0;
  if (acc->sample_count >= 1) {
    float ddx = cp[0] - acc->last_sample_x, ddz = cp[2] - acc->last_sample_z;
    b = std::sqrt(ddx * ddx + ddz * ddz);
  }
  acc->last_sample_x = cp[0];
  acc->last_sample_z = cp[2];
  if (acc->sample_count != erode_max_samples && acc->travel + b < 1) {
    acc->sums[0] += cp[0];
    acc->sums[1] += cp[2];
    acc->sums[2] += ex;
    acc->sums[3] += ez;
    acc->sample_count++;
    acc->travel += b;
    return;
  }
  float carried = acc->travel + b - 1;
  float travel = acc->sample_count == erode_max_samples ? 0 : (carried < 1 ? carried : 0);
  emit_point(acc, terrain, tic);
  acc->sums[0] = cp[0];
  acc->sums[1] = cp[2];
  acc->sums[2] = ex;
  acc->sums[3] = ez;
  acc->sample_count = 1;
  acc->travel = travel;
}

// --- Packets ----------------------------------------------------------------------------

int erode_encode(const ErodeAccumulator *acc, const Terrain *terrain, uint8_t out[erode_packet_max]) {
  int count = acc->point_count;
  if (count < 1 || !terrain) return 0;
  if (count > erode_packet_points) count = erode_packet_points;
  const float *b = acc->delta_bounds;
  uint32_t bounds[4] = {encode_bound(b[0] - bound_margin), encode_bound(b[1] - bound_margin),
                        encode_bound(b[2] + bound_margin), encode_bound(b[3] + bound_margin)};
  out[0] = 1;
  for (int i = 0; i < 4; i++) put_u16(out + 1 + 2 * i, bounds[i]);
  float lo_x = decode_bound(bounds[0]), lo_z = decode_bound(bounds[1]);
  float hi_x = decode_bound(bounds[2]), hi_z = decode_bound(bounds[3]);

  const ErodePoint &first = acc->points[0];
  uint32_t ux = encode_coordinate(first.x, terrain->extent), uz = encode_coordinate(first.z, terrain->extent);
  put_u24(out + 9, ux);
  put_u24(out + 12, uz);
  out[15] = encode_push(first.ex) | count_low_bits(first.count);
  out[16] = encode_push(first.ez) | count_high_bits(first.count);
  // Steps are taken from where the decoder will be, so rounding never adds up.
  float rx = decode_coordinate(ux, terrain->extent), rz = decode_coordinate(uz, terrain->extent);
  uint8_t *o = out + erode_packet_header;
  for (int k = 1; k < count; k++) {
    const ErodePoint &p = acc->points[k];
    int bx = step_byte(p.x - rx, lo_x, hi_x), bz = step_byte(p.z - rz, lo_z, hi_z);
    rx += step_of(lo_x, hi_x, bx);
    rz += step_of(lo_z, hi_z, bz);
    o[0] = static_cast<uint8_t>(bx);
    o[1] = static_cast<uint8_t>(bz);
    o[2] = encode_push(p.ex) | count_low_bits(p.count);
    o[3] = encode_push(p.ez) | count_high_bits(p.count);
    o += 4;
  }
  return erode_packet_header + (count - 1) * 4;
}

int erode_decode(const uint8_t *packet, int length, const Terrain *terrain, ErodePoint out[erode_packet_points]) {
  if (!packet || !terrain || length < erode_packet_header || packet[0] != 1) return 0;
  // Bytes past the 64th point (or a partial point) are ignored.
  int count = (length - erode_packet_header) / 4 + 1;
  if (count > erode_packet_points) count = erode_packet_points;
  float lo_x = decode_bound(get_u16(packet + 1)), lo_z = decode_bound(get_u16(packet + 3));
  float hi_x = decode_bound(get_u16(packet + 5)), hi_z = decode_bound(get_u16(packet + 7));
  float x = decode_coordinate(get_u24(packet + 9), terrain->extent);
  float z = decode_coordinate(get_u24(packet + 12), terrain->extent);
  out[0] = {x, z, decode_push(packet[15]), decode_push(packet[16]), decode_count(packet[15], packet[16])};
  const uint8_t *p = packet + erode_packet_header;
  for (int k = 1; k < count; k++, p += 4) {
    x += step_of(lo_x, hi_x, p[0]);
    z += step_of(lo_z, hi_z, p[1]);
    out[k] = {x, z, decode_push(p[2]), decode_push(p[3]), decode_count(p[2], p[3])};
  }
  return count;
}

void set_erode_server_sink(ErodePacketSink sink) { server_sink = sink; }
void set_erode_recorder(ErodePacketSink sink) { recorder = sink; }

void erode_send(Terrain *terrain, const uint8_t *packet, int length) {
  if (server_sink) {
    server_sink(packet, length);
    return;
  }
  if (recorder) recorder(packet, length);
  erode_receive(terrain, packet, length);
}

void erode_receive(const Terrain *terrain, const uint8_t *packet, int length) {
  ErodePoint points[erode_packet_points];
  int n = erode_decode(packet, length, terrain, points);
  for (int k = 0; k < n; k++) enqueue(points[k]);
}

int erode_receive_message(const Terrain *terrain, const uint8_t *payload, int length, int race_id) {
  if (!payload || length < 4) return 0;
  uint32_t id = payload[0] | (static_cast<uint32_t>(payload[1]) << 8) | (static_cast<uint32_t>(payload[2]) << 16) |
                (static_cast<uint32_t>(payload[3]) << 24);
  if (static_cast<int32_t>(id) != race_id) return 0;
  erode_receive(terrain, payload + 4, length - 4);
  return 1;
}

// --- Queue -------------------------------------------------------------------------------

int erode_queue_length() { return queue_length; }

void erode_queue_clear() {
  queue_start = queue_length = 0;
  hold_deadline = -1;
}

ErodePoint erode_queue_entry(int k) {
  if (k < 0 || k >= queue_length) return ErodePoint{};
  return queue[(queue_start + k) & (erode_queue_size - 1)];
}

void erode_apply(Terrain *terrain, const float *player_xz, float rate, int tic) {
  // At rate 0 (or while the server has not set one) the queue waits.
  if (!terrain || queue_length == 0 || !(rate > 0)) return;
  int budget = queue_length / 512 + (queue_length > 8192 ? (queue_length - 8192) / 64 : 0) + 4;
  // A deadline further off than it can be armed belongs to a clock that
  // went back (a reset or a demo seek): it has passed as well.
  if (hold_deadline >= 0 && (tic >= hold_deadline || hold_deadline - tic > hold_back_tics)) {
    player_xz = nullptr;
    hold_deadline = -1;
  }
  int locked = terrain->locked;
  terrain->locked = 0;
  for (int n = 0; n < budget && queue_length > 0; n++) {
    const ErodePoint &e = queue[queue_start];
    if (player_xz) {
      float dx = e.x - player_xz[0], dz = e.z - player_xz[1];
      if (dx * dx + dz * dz < hold_back_distance2) {
        if (hold_deadline < 0) hold_deadline = tic + hold_back_tics;
        break;
      }
    }
    ErodePoint entry = e;
    queue_start = (queue_start + 1) & (erode_queue_size - 1);
    queue_length--;
    hold_deadline = -1;
    apply_entry(terrain, entry, rate);
  }
  terrain->locked = locked;
}

float erode_dig(Terrain *t, float x, float z, float radius, float amount) {
  if (amount == 0 || t->locked) return 0;
  DigWindow w = dig_window(t, x, z, radius);
  int c0, r0, c1, r1;
  if (!grid_part(t, w, &c0, &r0, &c1, &r1)) return 0;
  // Only vertices on the grid change, and only they count: the pile then
  // puts back exactly what was taken, at the edges too.
  float total = 0;
  int verts = t->verts_per_side;
  for (int row = r0; row <= r1; row++) {
    for (int col = c0; col <= c1; col++) {
      float wt = dig_weight(w, col, row);
      if (wt <= 0) continue;
      float change = amount * wt;
      terrain_set_height(t, col, row, t->heights[col + row * verts] + change);
      total += change;
    }
  }
  edited(t, c0, r0, c1, r1);
  return total;
}

void erode_pile(Terrain *t, float x, float z, float radius, float amount) {
  if (amount == 0 || t->locked) return;
  DigWindow w = dig_window(t, x, z, radius);
  int c0, r0, c1, r1;
  float sum = 0;
  if (grid_part(t, w, &c0, &r0, &c1, &r1)) {
    for (int row = r0; row <= r1; row++)
      for (int col = c0; col <= c1; col++) sum += dig_weight(w, col, row);
  }
  int verts = t->verts_per_side;
  if (!(sum > 0)) {
    // The pile falls wholly off the grid (a crater at its edge): the
    // material goes onto the nearest border vertex rather than vanishing.
    int last = verts - 1;
    int col = static_cast<int>(std::lround(clampf(w.gx, 0, static_cast<float>(last))));
    int row = static_cast<int>(std::lround(clampf(w.gz, 0, static_cast<float>(last))));
    terrain_set_height(t, col, row, t->heights[col + row * verts] + amount);
    edited(t, col, row, col, row);
    return;
  }
  for (int row = r0; row <= r1; row++) {
    for (int col = c0; col <= c1; col++) {
      float wt = dig_weight(w, col, row);
      if (wt > 0) terrain_set_height(t, col, row, t->heights[col + row * verts] + amount * wt / sum);
    }
  }
  edited(t, c0, r0, c1, r1);
}

float loaded_height_at(const Terrain *t, float x, float z) {
  const float *h = t->loaded_heights;
  int r = t->verts_per_side, last = r - 1;
  auto at = [&](int a, int b) {
    a = a < 0 ? 0 : (a > last ? last : a);
    b = b < 0 ? 0 : (b > last ? last : b);
    return h[a + b * r];
  };
  float gx = clamp_finite(x * t->inverse_spacing, -grid_coordinate_limit, grid_coordinate_limit);
  float gz = clamp_finite(z * t->inverse_spacing, -grid_coordinate_limit, grid_coordinate_limit);
  float fi = std::floor(gx), fj = std::floor(gz);
  int i = static_cast<int>(fi), j = static_cast<int>(fj);
  float fx = gx - fi, fz = gz - fj;
  if ((i & 1) != (j & 1)) {
    if (fx + fz <= 1) {
      float h0 = at(i, j);
      return h0 + fx * (at(i + 1, j) - h0) + fz * (at(i, j + 1) - h0);
    }
    float h0 = at(i + 1, j + 1);
    return h0 + (1 - fx) * (at(i, j + 1) - h0) + (1 - fz) * (at(i + 1, j) - h0);
  }
  if (fz + (1 - fx) <= 1) {
    float h0 = at(i + 1, j);
    return h0 + (1 - fx) * (at(i, j) - h0) + fz * (at(i + 1, j + 1) - h0);
  }
  float h0 = at(i, j + 1);
  return h0 + fx * (at(i + 1, j + 1) - h0) + (1 - fz) * (at(i, j) - h0);
}

void set_terrain_dirty_hook(TerrainDirtyHook hook) { dirty_hook = hook; }

// --- The race's side ------------------------------------------------------------------

void erode_wheel_marks(Terrain *terrain, BikeState *bike, int tic) {
  if (!terrain || !bike || bike->slot < 0 || bike->slot >= max_slots) return;
  int slot = bike->slot;
  ErodeDebug debug[2];
  erode_sample(&accumulators[slot][0], terrain, &bike->wheels[0], 1, tic, &debug[0]);
  erode_sample(&accumulators[slot][1], terrain, &bike->wheels[1], 0, tic, &debug[1]);
  if (!(log_flags & erode_log_labels) || !label_hook || !bike->bodies[bike_frame]) return;
  const dReal *pos = dBodyGetPosition(bike->bodies[bike_frame]);
  float at[3] = {static_cast<float>(pos[0]), static_cast<float>(pos[1]), static_cast<float>(pos[2])};
  LabelState *l = &labels[slot];
  float dx = at[0] - l->x, dz = at[2] - l->z;
  if (l->placed && dx * dx + dz * dz < label_spacing * label_spacing) return;
  char text[256];
  erode_label_text(debug, text, sizeof text);
  label_hook(at, text);
  *l = {1, at[0], at[2]};
}

void erode_clear_slot(int slot) {
  if (slot < 0 || slot >= max_slots) return;
  erode_clear(&accumulators[slot][0]);
  erode_clear(&accumulators[slot][1]);
}

ErodeAccumulator *erode_accumulator(int slot, int wheel) {
  if (slot < 0 || slot >= max_slots || wheel < 0 || wheel > 1) return nullptr;
  return &accumulators[slot][wheel];
}

void erode_reset() {
  for (int s = 0; s < max_slots; s++) erode_clear_slot(s);
  memset(labels, 0, sizeof labels);
  hold_deadline = -1;
}

void erode_set_logging(int flags, float spacing) {
  log_flags = flags;
  label_spacing = spacing > 0 ? spacing : 0;
}

void set_erode_label_hook(ErodeLabelHook hook) { label_hook = hook; }

void erode_label_text(const ErodeDebug wheels[2], char *out, int size) {
  char front[120], rear[120];
  format_wheel(wheels[0], front, sizeof front);
  format_wheel(wheels[1], rear, sizeof rear);
  snprintf(out, static_cast<size_t>(size), "front:\n%srear:\n%s", front, rear);
}
