// The HUD's arithmetic on the running order and the suspension graph rings:
// nothing here touches GL.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/types.h"
#include "bike/suspension.h"
#include "race/race.h"
#include "race/running_order.h"
#include "ui/hud.h"

namespace {

// The suspension graph: six rings sharing one write index. Lives for the
// process; cleared on request.
float rings[suspension_ring_count][suspension_graph_samples];
int ring_write = 0;

const GateProgress *timing_of(int slot) {
  const Slot *s = race_slot(slot);
  return s ? &s->timing : nullptr;
}

int stamp(int slot, int index) {
  const GateProgress *p = timing_of(slot);
  return p ? gate_tic(p, index) : -1;
}

// Appends printf output while the buffer has room; returns the new length.
int append(char *out, int size, int length, const char *text) {
  int room = size - length;
  if (room <= 1) return length;
  snprintf(out + length, static_cast<size_t>(room), "%s", text);
  return length + static_cast<int>(strlen(out + length));
}

}  // namespace

void compare_tics(const RunningEntry &a, const RunningEntry &b, int *tic_a, int *tic_b) {
  if (a.position == b.position) {
    *tic_a = a.tic;
    *tic_b = b.tic;
    return;
  }
  int index = std::min(a.position, b.position) - 1;
  *tic_a = stamp(a.slot, index);
  *tic_b = stamp(b.slot, index);
}

float pitboard_gap(const RunningEntry *list, int count, int p) {
  if (count < 2 || p < 0 || p >= count) return 0;
  int j = p == 0 ? 1 : p - 1;
  int tic_j, tic_p;
  compare_tics(list[j], list[p], &tic_j, &tic_p);
  if (tic_j < 1 || tic_p < 1) return 0;
  return static_cast<float>(tic_j - tic_p) / tics_per_second;
}

float table_gap(const RunningEntry *list, int count, int k) {
  if (count < 2 || k < 0 || k >= count) return 0;
  int j = k == 0 ? 1 : k - 1;
  int a, b;
  compare_tics(list[j], list[k], &a, &b);
  if (a < 1 || b < 1 || b < a) return 0;
  return static_cast<float>(b - a) / tics_per_second;
}

float gap_to_first(const RunningEntry *list, int count, int k) {
  if (count < 2 || k <= 0 || k >= count) return 0;
  int a, b;
  compare_tics(list[0], list[k], &a, &b);
  if (a < 1 || b < 1 || b <= a) return 0;
  return static_cast<float>(b - a) / tics_per_second;
}

int lapping_text(const RunningEntry *list, int count, int p, char *out, int size) {
  if (size < 1) return 0;
  out[0] = 0;
  const RaceState &race = race_state();
  int h = race.normal_lap_length;
  if (count < 2 || p <= 0 || p >= count || h <= 0) return 0;
  const RunningEntry &viewed = list[p];
  int m = viewed.position, own_latest = viewed.tic;
  if (m < race.first_lap_length) return 0;
  int length = 0;
  for (int i = 0; i < p; i++) {
    int l = list[i].position, f = list[i].tic;
    if (l <= m) continue;
    // The other's latest gate moved back by whole laps to one the viewed
    // rider has passed.
    int k = (l - m - 1) / h + 1;
    int x = l - 1 - h * k;
    int g = stamp(viewed.slot, x);
    if (g < 0 || f < g) continue;
    float since_viewed = static_cast<float>(own_latest - g) / tics_per_second;
    float behind = static_cast<float>(f - g) / tics_per_second;
    if (since_viewed > 15 || !(behind > 0 && behind <= 3)) continue;
    if (length > 983) break;
    const Slot *s = race_slot(list[i].slot);
    char cell[32];
    snprintf(cell, sizeof cell, " %.5s (%.1f) ", s ? s->number : "", behind);
    length = append(out, size, length, cell);
  }
  return length;
}

int penalty_line(const RunningEntry &entry, char *out, int size) {
  if (size < 1) return 0;
  out[0] = 0;
  const Slot *s = race_slot(entry.slot);
  if (!s) return 0;
  int own = gate_tic(&s->timing, s->timing.next_gate - 1);
  if (own < 0 || entry.tic <= own) return 0;
  char text[160];
  int length = 0;
  snprintf(text, sizeof text, "%3s penalized ", s->number);
  length = append(out, size, length, text);
  int lost = laps_at_position(s->timing.next_gate) - laps_at_position(entry.position);
  if (lost > 0) {
    snprintf(text, sizeof text, "%d %s ", lost, lost == 1 ? "lap" : "laps");
    length = append(out, size, length, text);
  }
  snprintf(text, sizeof text, "%.2f seconds for cutting track",
           static_cast<double>(entry.tic - own) / tics_per_second);
  return append(out, size, length, text);
}

float needle_degrees(float rpm) { return (rpm * 0.000046875f - 0.375f) * 360.0f; }

void sample_suspension_graph(const BikeState *bike) {
  if (!bike) return;
  SuspensionReading r = suspension_reading(bike);
  rings[ring_fork_position][ring_write] = r.fork_fraction;
  rings[ring_fork_speed][ring_write] = r.fork_rate;
  rings[ring_fork_blend][ring_write] = r.fork_blend;
  rings[ring_rear_position][ring_write] = r.shock_fraction;
  rings[ring_shock_speed][ring_write] = r.shock_rate;
  rings[ring_shock_blend][ring_write] = r.shock_blend;
  ring_write = (ring_write + 1) % suspension_graph_samples;
}

void clear_suspension_graph() {
  memset(rings, 0, sizeof rings);
  ring_write = 0;
}

float suspension_graph_value(int ring, int age) {
  if (ring < 0 || ring >= suspension_ring_count || age < 0 || age >= suspension_graph_samples) return 0;
  int index = (ring_write - 1 - age + 2 * suspension_graph_samples) % suspension_graph_samples;
  return rings[ring][index];
}
