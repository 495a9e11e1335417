// Recorded lines. The table, the recorders and the best chains live for the
// process; the table is emptied at every race reset and sized by the gates.
#include "robot/lines.h"

#include <ode/ode.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "assets/file.h"
#include "bike/bike.h"
#include "platform/log.h"
#include "race/race.h"
#include "robot/autopilot.h"
#include "track/track.h"

namespace {

struct PointBuffer {
  LinePoint *points;
  int count, capacity;
};

// Per slot: two buffers used alternately by the parity of the slot position.
struct Recorder {
  PointBuffer buffers[2];
  int cancel;            // bit per buffer
  int picked[4];         // serials of a robot's lines, by slot count mod 4
  int known_next_gate;   // next_gate seen at the previous call
  int last_gate_tic;     // tic of the latest gate passed
};

Line table[max_line_slots][lines_per_slot];
int rows, first_rows;
int best_lines[line_mode_count][max_line_slots];
Recorder recorders[max_slots];
int next_serial = 1;
int learning = 0;
int debug_switch = 0;

const char *const level_names[line_skill_count] = {"lines_novice", "lines_amateur", "lines_expert"};

void empty_record(Line *line) {
  tracked_free(line->points);
  *line = Line{};
  line->time1 = line->time2 = line_untimed;
  line->best1 = line->best2 = line_untimed;
  line->last_picked = line_never_picked;
}

float hdist(const LinePoint &a, const float p[3]) { return std::hypot(a.x - p[0], a.z - p[2]); }

void push_point(PointBuffer *b, const LinePoint &p) {
  if (b->count == b->capacity) grow_array(b->points, b->count, b->capacity);
  b->points[b->count++] = p;
}

// Sign test of both end points of each segment against the other's line.
int segments_cross(const LinePoint &a0, const LinePoint &a1, const LinePoint &b0, const LinePoint &b1) {
  auto side = [](const LinePoint &p, const LinePoint &q, const LinePoint &r) {
    return (q.x - p.x) * (r.z - p.z) - (q.z - p.z) * (r.x - p.x) >= 0;
  };
  return side(a0, a1, b0) != side(a0, a1, b1) && side(b0, b1, a0) != side(b0, b1, a1);
}

int lines_cross(const Line *a, const Line *b) {
  for (int i = 0; i + 1 < a->point_count; i++)
    for (int k = 0; k + 1 < b->point_count; k++)
      if (segments_cross(a->points[i], a->points[i + 1], b->points[k], b->points[k + 1])) return 1;
  return 0;
}

double average_time2(const Line *line) {
  return line->tested > 0 ? static_cast<double>(line->sum2) / line->tested : line->time2;
}

Line *line_by_serial(int slot, int serial) {
  if (serial <= 0 || slot < 0 || slot >= rows) return nullptr;
  for (Line &l : table[slot])
    if (l.point_count > 0 && l.serial == serial) return &l;
  return nullptr;
}

// Keeps loaded statistics in a range where the sums cannot overflow.
void bring_into_range(Line *l) {
  for (int round = 0; round < 16 && (l->sum2 > 100000000 || l->tested >= 65536 || l->failed > 65535); round++) {
    int half = l->tested / 2;
    if (l->tested > 0) {
      l->sum1 = static_cast<int>(static_cast<long long>(l->sum1) * half / l->tested);
      l->sum2 = static_cast<int>(static_cast<long long>(l->sum2) * half / l->tested);
    }
    l->tested = half;
    l->failed /= 2;
  }
  l->sum1 = std::min(l->sum1, 100000000);
  l->sum2 = std::min(l->sum2, 100000000);
  l->tested = std::clamp(l->tested, 0, 65535);
  l->failed = std::clamp(l->failed, 0, 65535);
}

// Slot count (unfolded) of the segment a bike is on with next gate p.
int slot_count_at(int p) { return line_slot(p); }

void store_line(int slot, PointBuffer *buffer, int cancelled, int t1, int t2) {
  if (buffer->count == 0 || cancelled) {
    if (debug_switch) hovl_log("auto pilot: %d canceled\n", slot);
    return;
  }
  for (const Line &l : table[slot]) {
    if (l.point_count != buffer->count) continue;
    int same = 1;
    for (int i = 0; i < l.point_count && same; i++) {
      const LinePoint &a = l.points[i], &b = buffer->points[i];
      float d2 = (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z);
      same = d2 <= 1.0f / 256 && std::fabs(a.speed - b.speed) <= 0.0625f;
    }
    if (same) {
      if (debug_switch) hovl_log("auto pilot: %d rejected (duplicate)\n", slot);
      return;
    }
  }
  Line *target = nullptr;
  for (Line &l : table[slot])
    if (l.point_count == 0) {
      target = &l;
      break;
    }
  if (!target) {
    for (Line &l : table[slot])
      if (!target || line_expected_time(&l) > line_expected_time(target)) target = &l;
    if (static_cast<double>(line_expected_time(target)) < t2 * 5.0 / 4) {
      if (debug_switch) hovl_log("auto pilot: %d rejected (too slow)\n", slot);
      return;
    }
  }
  if (debug_switch) {
    double a1 = target->tested ? static_cast<double>(target->sum1) / target->tested : 0;
    double a2 = target->tested ? static_cast<double>(target->sum2) / target->tested : 0;
    hovl_log("auto pilot: evicting %d (times: %.2f %.2f tested (%d %d): %.2f %.2f repl: %f %f)\n", slot,
             target->time1 * seconds_per_tic, target->time2 * seconds_per_tic, target->tested, target->failed,
             a1 * seconds_per_tic, a2 * seconds_per_tic, t1 * seconds_per_tic, t2 * seconds_per_tic);
  }
  empty_record(target);
  target->points = static_cast<LinePoint *>(alloc_or_die(sizeof(LinePoint) * static_cast<size_t>(buffer->count)));
  memcpy(target->points, buffer->points, sizeof(LinePoint) * static_cast<size_t>(buffer->count));
  target->point_count = buffer->count;
  target->time1 = t1;
  target->time2 = t2;
  target->serial = next_serial++;
}

void clear_picked(Recorder *r) {
  for (int &s : r->picked) s = 0;
}

LinePoint sample_point(const BikeState *bike) {
  dBodyID frame = bike->bodies[bike_frame];
  const dReal *p = dBodyGetPosition(frame);
  const dReal *v = dBodyGetLinearVel(frame);
  LinePoint q;
  q.x = static_cast<float>(p[0]);
  q.y = static_cast<float>(p[1]);
  q.z = static_cast<float>(p[2]);
  q.speed = static_cast<float>(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
  if (bike->wheels[0].depth <= 0 && bike->wheels[1].depth <= 0) q.speed = -q.speed;
  // The lean: angle between the frame's lateral axis and the horizontal.
  const dReal *r = dBodyGetRotation(frame);
  q.lean = static_cast<float>(std::asin(std::clamp(static_cast<double>(r[4]), -1.0, 1.0)));
  return q;
}

// The fastest line (smallest time 1) of a slot, or null.
const Line *fastest_line(int slot) {
  const Line *best = nullptr;
  for (const Line &l : table[slot])
    if (l.point_count > 0 && (!best || l.time1 < best->time1)) best = &l;
  return best;
}

}  // namespace

// --- Table --------------------------------------------------------------------------

int line_slot_count() { return rows; }
int first_lap_slots() { return first_rows; }

int line_slot(int p) {
  const TimingGates *g = timing_gates();
  int F = g->first_lap_count, N = g->normal_lap_count;
  int count = 0;
  if (p <= F) {
    for (int q = 0; q < p && q < F; q++) count += !gate_is_marked(q);
    return count;
  }
  count = g->first_lap_unmarked;
  if (N <= 0) return count;
  count += ((p - F) / N) * g->normal_lap_unmarked;
  int rest = (p - F) % N;
  for (int q = 0; q < rest; q++) count += !gate_is_marked(F + q);
  return count;
}

int fold_line_slot(int m) {
  if (m < first_rows || rows <= first_rows) return std::clamp(m, 0, std::max(rows - 1, 0));
  int k = rows - first_rows;
  return first_rows + (m - first_rows) % k;
}

Line *line_record(int slot, int index) {
  if (slot < 0 || slot >= rows || index < 0 || index >= lines_per_slot) return nullptr;
  return &table[slot][index];
}

int line_in_use_count(int slot) {
  int n = 0;
  if (slot >= 0 && slot < rows)
    for (const Line &l : table[slot]) n += l.point_count > 0;
  return n;
}

int line_expected_time(const Line *l) {
  if (l->tested > 0)
    return static_cast<int>(static_cast<long long>(l->sum2) / l->tested +
                            5LL * tics_per_second * l->failed / (l->tested + l->failed));
  long long t = static_cast<long long>(l->time2) * 5 / 4 + (l->failed > 0 ? 5 * tics_per_second : 0);
  return static_cast<int>(std::min<long long>(t, INT_MAX));
}

void clear_lines() {
  for (auto &row : table)
    for (Line &l : row) empty_record(&l);
  for (auto &row : best_lines)
    for (int &s : row) s = 0;
  const TimingGates *g = timing_gates();
  rows = 0;
  first_rows = 0;
  if (g->gate_count > 0) {
    first_rows = g->first_lap_unmarked;
    rows = std::min(g->first_lap_unmarked + g->normal_lap_unmarked, max_line_slots);
  }
}

int best_line_serial(int mode, int slot) {
  if (mode < 0 || mode >= line_mode_count || slot < 0 || slot >= rows) return 0;
  return best_lines[mode][slot];
}

// --- Files ----------------------------------------------------------------------------

void set_line_learning(int on) { learning = on != 0; }
int line_learning() { return learning; }
void set_autopilot_debug(int on) { debug_switch = on != 0; }
int autopilot_debug() { return debug_switch; }

int read_lines_text(const char *text, long length) {
  if (!text || length <= 0) return 0;
  int used = 0, count = 0;
  if (sscanf(text, " ct03 %d %n", &count, &used) != 1 || count != rows || rows == 0) return 0;
  const char *p = text + used;
  const char *end = text + length;
  for (int slot = 0; slot < rows; slot++) {
    for (Line &l : table[slot]) empty_record(&l);
    int n = 0;
    used = 0;
    if (p >= end || sscanf(p, " %d %n", &n, &used) != 1 || n < 0) break;
    p += used;
    int stored = 0;
    for (int r = 0; r < n; r++) {
      Line l{};
      used = 0;
      if (sscanf(p, " %d %d %d %d %d %d %d %d %d %n", &l.point_count, &l.time1, &l.time2, &l.tested, &l.best1,
                 &l.best2, &l.sum1, &l.sum2, &l.failed, &used) != 9 || used == 0)
        return 1;  // the rest of the file is unreadable: keep what scanned
      p += used;
      if (l.point_count <= 0 || l.point_count > 100000) return 1;
      LinePoint *pts = static_cast<LinePoint *>(alloc_or_die(sizeof(LinePoint) * static_cast<size_t>(l.point_count)));
      int ok = 1;
      for (int k = 0; k < l.point_count; k++) {
        LinePoint &q = pts[k];
        used = 0;
        if (sscanf(p, " [ %f %f %f ] %f %f %n", &q.x, &q.y, &q.z, &q.speed, &q.lean, &used) != 5 || used == 0 ||
            !std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z) || !std::isfinite(q.speed) ||
            !std::isfinite(q.lean)) {
          ok = 0;
          break;
        }
        p += used;
      }
      // A record whose points do not all scan is dropped; reading goes on at
      // the next line that scans as a record header.
      if (!ok || stored >= lines_per_slot) {
        tracked_free(pts);
        if (!ok) {
          const char *nl = strchr(p, '\n');
          p = nl ? nl + 1 : end;
        }
        continue;
      }
      l.points = pts;
      l.tested = std::max(l.tested, 0);
      l.failed = std::max(l.failed, 0);
      l.sum1 = std::max(l.sum1, 0);
      l.sum2 = std::max(l.sum2, 0);
      l.last_picked = line_never_picked;
      l.serial = next_serial++;
      bring_into_range(&l);
      table[slot][stored++] = l;
    }
  }
  return 1;
}

int write_lines_file(const char *path) {
  DataFile *f = dfile_open_replace(path);
  if (!f) return 0;
  dfile_printf(f, "ct03 %d\n", rows);
  for (int slot = 0; slot < rows; slot++) {
    dfile_printf(f, "%d\n", line_in_use_count(slot));
    for (const Line &l : table[slot]) {
      if (l.point_count == 0) continue;
      dfile_printf(f, "%d %d %d %d %d %d %d %d %d\n", l.point_count, l.time1, l.time2, l.tested, l.best1, l.best2,
                   l.sum1, l.sum2, l.failed);
      for (int k = 0; k < l.point_count; k++) {
        const LinePoint &q = l.points[k];
        dfile_printf(f, "[%f %f %f] %f %f\n", q.x, q.y, q.z, q.speed, q.lean);
      }
    }
  }
  return dfile_commit_replace(f);
}

static int level_path(int level, char *out, size_t size) {
  const char *dir = current_track_dir();
  if (level < 0 || level >= line_skill_count || !dir || rows == 0) return 0;
  int n = snprintf(out, size, "@%s/%s", dir, level_names[level]);
  return n > 0 && static_cast<size_t>(n) < size;
}

void load_lines(int level) {
  char path[1024];
  if (!level_path(level, path, sizeof path)) return;
  char *text = file_to_string(path);
  if (!text) return;
  if (!read_lines_text(text, static_cast<long>(strlen(text)))) hovl_log("%s: gate count differs, ignored\n", path);
  tracked_free(text);
  if (debug_switch)
    for (int s = 0; s < rows; s++) hovl_log("%d: %d\n", s, line_in_use_count(s));
}

void save_lines(int level) {
  char path[1024];
  if (!learning || !level_path(level, path, sizeof path)) return;
  if (!write_lines_file(path)) {
    char text[1200];
    snprintf(text, sizeof text, "Can't write %s", path);
    print_message(text);
  }
}

// --- Recording -------------------------------------------------------------------------

void reset_line_recorder(int slot) {
  if (slot < 0 || slot >= max_slots) return;
  Recorder *r = &recorders[slot];
  for (PointBuffer &b : r->buffers) b.count = 0;
  r->cancel = 0;
  clear_picked(r);
  r->known_next_gate = 0;
  r->last_gate_tic = -1;
}

void cancel_line(int slot) {
  if (slot >= 0 && slot < max_slots) recorders[slot].cancel = 3;
}

int *picked_serials(int slot) { return recorders[std::clamp(slot, 0, max_slots - 1)].picked; }

void record_lines(int slot) {
  Slot *s = race_slot(slot);
  if (!s || !s->bike || rows == 0) return;
  BikeState *bike = s->bike;
  Recorder *r = &recorders[slot];
  const RaceState &race = race_state();
  int robot = s->drive_mode == drive_robot;
  GateProgress *g = &s->timing;

  if (g->next_gate < r->known_next_gate) r->known_next_gate = g->next_gate;  // placed back
  int count = slot_count_at(g->next_gate);

  if (robot && bike->stopped == 1) {
    // Robot failure: the first tic the flag is up.
    bike->stopped = 2;
    int current = fold_line_slot(count);
    if (Line *l = line_by_serial(current, r->picked[count & 3])) l->failed++;
    if (r->last_gate_tic >= 0 && race.tic - r->last_gate_tic < tics_per_second && count > 0)
      if (Line *l = line_by_serial(fold_line_slot(count - 1), r->picked[(count - 1) & 3])) l->failed++;
    clear_picked(r);
  }

  if (g->next_gate > r->known_next_gate) {
    int q = g->next_gate - 1;
    int expected = g->next_gate == r->known_next_gate + 1;
    r->known_next_gate = g->next_gate;
    r->last_gate_tic = race.tic;
    if (bike->stopped) r->cancel |= 1 << (count & 1);
    bike->stopped = 0;
    if (!gate_is_marked(q)) {
      int p2 = q, p1 = q - 1, p0;
      while (p1 >= 0 && gate_is_marked(p1)) p1--;
      p0 = p1 - 1;
      while (p0 >= 0 && gate_is_marked(p0)) p0--;
      int stamped = p0 >= 0 && gate_tic(g, p0) >= 0 && gate_tic(g, p1) >= 0 && gate_tic(g, p2) >= 0;
      int t1 = stamped ? gate_tic(g, p1) - gate_tic(g, p0) : 0;
      int t2 = stamped ? gate_tic(g, p2) - gate_tic(g, p0) : 0;
      int seg = p1 >= 0 ? line_slot(p1) : -1;  // slot count of the segment p0 -> p1
      if (robot) {
        if (seg >= 0) {
          Line *l = line_by_serial(fold_line_slot(seg), r->picked[seg & 3]);
          if (l) {
            if (stamped && autopilot_on_line(slot)) {
              l->tested++;
              l->best1 = std::min(l->best1, t1);
              l->best2 = std::min(l->best2, t2);
              l->sum1 = std::min(l->sum1 + t1, 100000000);
              l->sum2 = std::min(l->sum2 + t2, 100000000);
            } else {
              l->failed++;
            }
          }
        }
        clear_picked(r);
      } else if (expected && stamped && seg >= 0) {
        PointBuffer *b = &r->buffers[seg & 1];
        store_line(fold_line_slot(seg), b, (r->cancel >> (seg & 1)) & 1, t1, t2);
        b->count = 0;
        r->cancel &= ~(1 << (seg & 1));
      }
      count = slot_count_at(g->next_gate);
      r->buffers[count & 1].count = 0;
      r->cancel &= ~(1 << (count & 1));
    }
  }

  if (!robot && race.tic % line_sample_tics == 0 && race.tic >= race.gate_drop_tic)
    push_point(&r->buffers[count & 1], sample_point(bike));
}

void line_target(int slot, float out[3]) {
  const Slot *s = race_slot(slot);
  if (!s || !s->bike) return;
  float point[4];
  if (s->drive_mode == drive_robot && autopilot_approach_point(slot, point)) {
    for (int k = 0; k < 3; k++) out[k] = point[k];
    return;
  }
  const dReal *fp = dBodyGetPosition(s->bike->bodies[bike_frame]);
  if (rows > 0) {
    int base = slot_count_at(s->timing.next_gate);
    for (int o = 0; o < 2; o++) {
      int sl = fold_line_slot(base + o);
      const Line *l = fastest_line(sl);
      if (!l || l->point_count < 2) break;
      int nearest = 0;
      double best = 1e30;
      for (int k = 0; k < l->point_count; k++) {
        double dx = l->points[k].x - fp[0], dy = l->points[k].y - fp[1], dz = l->points[k].z - fp[2];
        double d = dx * dx + dy * dy + dz * dz;
        if (d < best) best = d, nearest = k;
      }
      if (nearest == l->point_count - 1) continue;
      const LinePoint *q = &l->points[nearest];
      if (nearest + 4 < l->point_count) {
        q = &l->points[nearest + 4];
      } else if (const Line *n = fastest_line(fold_line_slot(base + o + 1)); n && n->point_count > 0) {
        q = &n->points[std::min(nearest + 4 - l->point_count, n->point_count - 1)];
      }
      out[0] = q->x, out[1] = q->y, out[2] = q->z;
      return;
    }
  }
  int gate = gate_at_position(s->timing.next_gate);
  if (gate >= 0) {
    const float *c = timing_gates()->checkpoints[gate].gate_centre;
    out[0] = c[0], out[1] = c[1], out[2] = c[2];
  } else {
    out[0] = static_cast<float>(fp[0]), out[1] = static_cast<float>(fp[1]), out[2] = static_cast<float>(fp[2]);
  }
}

// --- Planning ----------------------------------------------------------------------------

double line_cost(const Line *l, int mode) {
  if (!l || l->point_count == 0) return line_untimed;
  double total = l->tested + l->failed;
  double ratio = total > 0 ? l->failed / total : 0;
  double penalty = 5.0 * tics_per_second;
  switch (mode) {
    case 1:
      if (l->tested > 4) return static_cast<double>(l->sum1) / l->tested + penalty * std::clamp(ratio * 8 / 7, 0.0, 1.0);
      return line_untimed;
    case 2:
      if (l->tested > 0) return static_cast<double>(l->sum1) / l->tested + penalty * std::clamp(ratio * 4, 0.0, 1.0);
      return line_untimed;
    case 3: {
      if (l->tested + l->failed < 6 || l->failed <= 4 * l->tested) {
        unsigned v = static_cast<unsigned>(l->tested + 4 * l->failed);
        int bits = 0;
        while (v) bits++, v >>= 1;
        return (bits + (bits > 0 ? 4 : 0)) * 1000.0;
      }
      return 100000;
    }
    default:
      if (l->tested > 4) return static_cast<double>(l->sum1) / l->tested + penalty * std::clamp(ratio, 0.0, 1.0);
      return line_untimed;
  }
}

void reference_point(const LinePoint &a, const LinePoint &b, const LinePoint &c, float out[3]) {
  // Perpendicular bisectors of AB and BC: solve for the centre in x-z.
  double m1x = (a.x + b.x) / 2.0, m1z = (a.z + b.z) / 2.0;
  double m2x = (b.x + c.x) / 2.0, m2z = (b.z + c.z) / 2.0;
  double d1x = b.z - a.z, d1z = a.x - b.x;  // direction of bisector 1
  double d2x = c.z - b.z, d2z = b.x - c.x;
  double det = (b.z - a.z) * (c.x - b.x) / 2.0 + (c.z - b.z) * (a.x - b.x) / 2.0;
  out[1] = a.y;
  if (std::fabs(det) <= 1e-6) {
    out[0] = static_cast<float>(m1x + 1e6 * d1x);
    out[2] = static_cast<float>(m1z + 1e6 * d1z);
    return;
  }
  // m1 + t d1 = m2 + u d2
  double den = d1x * d2z - d1z * d2x;
  if (std::fabs(den) < 1e-12) {
    out[0] = static_cast<float>(m1x + 1e6 * d1x);
    out[2] = static_cast<float>(m1z + 1e6 * d1z);
    return;
  }
  double t = ((m2x - m1x) * d2z - (m2z - m1z) * d2x) / den;
  out[0] = static_cast<float>(m1x + t * d1x);
  out[2] = static_cast<float>(m1z + t * d1z);
}

int lines_connect(const Line *a, const Line *b) {
  if (!a || !b || a->point_count < 3 || b->point_count < 2) return 0;
  const LinePoint &last = a->points[a->point_count - 1];
  if (std::fabs(last.speed) > std::fabs(b->points[0].speed) + 15) return 0;
  float ref[3];
  reference_point(a->points[a->point_count - 3], a->points[a->point_count - 2], last, ref);
  float d = hdist(last, ref);
  float d0 = hdist(b->points[0], ref);
  if (d0 < d - 2.5f || d0 > d + 2.5f) return 0;
  return std::fabs(hdist(b->points[1], ref) - d0) <= 2;
}

void plan(int first, int count, int mode, double costs[lines_per_slot], int *chain) {
  for (int i = 0; i < lines_per_slot; i++) costs[i] = line_untimed * static_cast<double>(std::max(count, 1));
  if (rows == 0 || count <= 0) return;
  // Backward over the slots: cost of the cheapest chain starting at each line.
  static double next_cost[lines_per_slot], here[lines_per_slot];
  static int choice[max_line_slots][lines_per_slot];
  count = std::min(count, max_line_slots);
  for (int step = count - 1; step >= 0; step--) {
    int slot = fold_line_slot(first + step);
    int following = fold_line_slot(first + step + 1);
    for (int i = 0; i < lines_per_slot; i++) {
      const Line *l = &table[slot][i];
      choice[step][i] = -1;
      if (l->point_count == 0) {
        here[i] = line_untimed * static_cast<double>(count - step);
        continue;
      }
      double own = line_cost(l, mode);
      if (step == count - 1) {
        here[i] = own;
        continue;
      }
      double best = line_untimed * static_cast<double>(count - step - 1);  // the chain breaks here
      for (int k = 0; k < lines_per_slot; k++) {
        const Line *n = &table[following][k];
        if (n->point_count > 0 && next_cost[k] < best && lines_connect(l, n)) best = next_cost[k], choice[step][i] = k;
      }
      here[i] = own + best;
    }
    memcpy(next_cost, here, sizeof here);
  }
  for (int i = 0; i < lines_per_slot; i++) {
    costs[i] = next_cost[i];
    if (!chain) continue;
    int at = i;
    for (int step = 0; step < count; step++) {
      chain[i * count + step] = at;
      if (at >= 0 && table[fold_line_slot(first + step)][at].point_count == 0) at = -1;
      at = at >= 0 ? choice[step][at] : -1;
    }
  }
}

void analyse_lines() {
  if (rows == 0) return;
  for (int slot = 0; slot < first_rows; slot++) {
    while (line_in_use_count(slot) > 43) {
      int most = -1, most_crossings = -1;
      for (int a = 0; a < lines_per_slot; a++) {
        const Line *la = &table[slot][a];
        if (la->point_count == 0) continue;
        int crossings = 0;
        for (int b = 0; b < lines_per_slot; b++)
          if (b != a && table[slot][b].point_count > 0) crossings += lines_cross(la, &table[slot][b]);
        if (crossings > most_crossings ||
            (crossings == most_crossings && average_time2(la) > average_time2(&table[slot][most])))
          most = a, most_crossings = crossings;
      }
      if (most >= 0) empty_record(&table[slot][most]);
      int worst = -1;
      for (int a = 0; a < lines_per_slot; a++)
        if (table[slot][a].point_count > 0 &&
            (worst < 0 || line_expected_time(&table[slot][a]) > line_expected_time(&table[slot][worst])))
          worst = a;
      if (worst >= 0) empty_record(&table[slot][worst]);
    }
  }
  int normal = rows - first_rows;
  static int chain[lines_per_slot * max_line_slots];
  double costs[lines_per_slot];
  for (int mode = 0; mode < line_mode_count; mode++) {
    struct Span {
      int first, count;
    } spans[2] = {{0, first_rows}, {first_rows, normal}};
    for (const Span &span : spans) {
      if (span.count <= 0) continue;
      plan(span.first, span.count, mode, costs, chain);
      int best = -1;
      for (int i = 0; i < lines_per_slot; i++)
        if (table[span.first][i].point_count > 0 && (best < 0 || costs[i] < costs[best])) best = i;
      if (best < 0) continue;
      for (int step = 0; step < span.count; step++) {
        int at = chain[best * span.count + step];
        best_lines[mode][span.first + step] = at >= 0 ? table[span.first + step][at].serial : 0;
      }
      if (track_verbosity() >= 1) hovl_log(span.first == 0 ? "First lap: %f\n" : "Normal lap: %f\n", costs[best] * seconds_per_tic);
    }
  }
}
