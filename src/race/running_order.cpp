#include "race/running_order.h"

#include "app/types.h"
#include "bike/bike.h"
#include "race/race.h"
#include "replay/history.h"
#include "race/results.h"
#include "race/series.h"
#include "track/gates.h"

namespace {

constexpr int default_section_tics = 60 * tics_per_second;
constexpr int section_allowance = tics_per_second;
constexpr int history_racing_tics = 10 * tics_per_second;

const GateProgress *timing_of(int slot) {
  Slot *s = race_slot(slot);
  return s && s->bike ? &s->timing : nullptr;
}

// Timing "index -1" is the start of the race's clock, so a run of missed
// gates from the very first one is measured from tic 0 on both sides.
int stamp(const GateProgress *p, int index) { return index < 0 ? 0 : gate_tic(p, index); }

int all_passed(const GateProgress *p, int a, int b) {
  if (b >= p->gate_tic_count) return 0;
  for (int q = a < 0 ? 0 : a; q <= b; q++)
    if (gate_tic(p, q) < 0) return 0;
  return 1;
}

int entry_before(const RunningEntry &a, const RunningEntry &b) {
  if (a.position != b.position) return a.position > b.position;
  if (a.tic != b.tic) return a.tic < b.tic;
  return a.slot < b.slot;
}

void sort_order(RunningEntry *order, int count) {
  for (int a = 1; a < count; a++) {
    RunningEntry e = order[a];
    int k = a;
    for (; k > 0 && entry_before(e, order[k - 1]); k--) order[k] = order[k - 1];
    order[k] = e;
  }
}

int network_warmup() {
  const RaceNetwork &n = race_network();
  return n.connected && n.gate_position >= max_slots;
}

// Timed races: the halfway lap at half time, the final lap once time is up.
void decide_final_lap() {
  RaceState &race = race_state();
  if (race.finish_time <= 0 || race.running_count == 0 || race.normal_lap_length <= 0) return;
  int elapsed = race.tic - race.gate_drop_tic;
  const GateProgress *leader = timing_of(race.running_order[0].slot);
  int leader_laps = lap_of(leader);
  if (elapsed >= race.finish_time / 2 && race.halfway_lap == unknown_lap) race.halfway_lap = leader_laps + 1;
  if (elapsed < race.finish_time) return;
  int o = leader_laps - 1 < race.final_lap ? leader_laps - 1 : race.final_lap;
  if (o < 1) o = 1;
  int end_of_time = race.gate_drop_tic + race.finish_time;
  for (;;) {
    int e = lap_end_index(o), earliest = -1;
    for (int i = 0; i < max_slots; i++) {
      const GateProgress *p = timing_of(i);
      int t = p ? gate_tic(p, e) : -1;
      if (t >= 0 && (earliest < 0 || t < earliest)) earliest = t;
    }
    if (earliest < 0) return;
    if (earliest >= end_of_time) {
      int last = o + race.finish_laps;
      if (last < race.final_lap) race.final_lap = last;
      return;
    }
    int last = o + race.finish_laps + 1;
    if (last > race.final_lap) race.final_lap = last;
    o++;
  }
}

int still_racing(int slot) {
  const RaceState &race = race_state();
  const RaceNetwork &net = race_network();
  const Slot *s = race_slot(slot);
  if (!net.connected) {
    if (s->drive_mode != drive_history) return 1;
    int newest = history_newest_tic(slot);
    return newest >= 0 && race.tic - newest < history_racing_tics;
  }
  if (slot == net.local_slot) return !network_warmup();
  return race.tic - net.last_update_tic[slot] < tics_per_second;
}

void final_results() {
  RaceState &race = race_state();
  int f = race.first_lap_length, n = race.normal_lap_length;
  for (int k = 0; k < race.running_count; k++) {
    RunningEntry *e = &race.running_order[k];
    int penalty = cutting_penalty(e->slot);
    int lap = best_lap(e->slot);
    if (lap >= 2) {
      int best = lap_tics(e->slot, lap);
      // Only whole laps beyond the first are taken off, so a penalised rider
      // keeps the lap that got it out of the start.
      while (best > 0 && penalty > best && n > 0 && e->position >= f + n) {
        e->position -= n;
        penalty -= best;
      }
    }
    e->tic += penalty;
    e->penalty = penalty;
  }
  sort_order(race.running_order, race.running_count);
}

}  // namespace

int lap_end_index(int lap) {
  const RaceState &race = race_state();
  long index = race.first_lap_length + static_cast<long>(race.normal_lap_length) * (lap - 1) - 1;
  // Laps far beyond any race (the "unknown" final lap) stay unreachable.
  if (index > 0x3fffffff) index = 0x3fffffff;
  return static_cast<int>(index);
}

int laps_at_position(int p) {
  const RaceState &race = race_state();
  if (race.normal_lap_length <= 0 || p < race.first_lap_length) return 0;
  return 1 + (p - race.first_lap_length) / race.normal_lap_length;
}

int lap_tics(int slot, int k) {
  const GateProgress *p = timing_of(slot);
  const RaceState &race = race_state();
  if (!p || k < 1 || race.normal_lap_length <= 0 || k > laps_at_position(p->next_gate)) return 0;
  int end = gate_tic(p, lap_end_index(k));
  int start = k == 1 ? race.gate_drop_tic : gate_tic(p, lap_end_index(k - 1));
  if (start < 0 || end < 0) return 0;
  return end - start;
}

int best_lap(int slot) {
  const GateProgress *p = timing_of(slot);
  if (!p) return 0;
  int best = 0, best_time = 0;
  for (int k = 2; k <= laps_at_position(p->next_gate); k++) {
    int t = lap_tics(slot, k);
    if (t > 0 && (best == 0 || t < best_time)) {
      best = k;
      best_time = t;
    }
  }
  return best;
}

int rider_has_finished(int slot) {
  const Slot *s = race_slot(slot);
  if (!s || !s->bike || timing_gates()->gate_count == 0) return 0;
  if (s->timing.finished) return 1;
  const RaceState &race = race_state();
  if (race.running_count == 0) return 0;
  const GateProgress *leader = timing_of(race.running_order[0].slot);
  int leader_tic = leader ? gate_tic(leader, lap_end_index(race.final_lap)) : -1;
  if (leader_tic < 0) return 0;
  int laps = lap_of(&s->timing);
  if (laps < 1) return 0;
  int own = gate_tic(&s->timing, lap_end_index(laps));
  return own >= leader_tic;
}

int rider_finished(int slot) {
  if (!rider_has_finished(slot)) return 0;
  Slot *s = race_slot(slot);
  s->timing.finished = 1;
  s->bike->finished = 1;
  return 1;
}

int expected_section_time(int a, int b) {
  const RaceState &race = race_state();
  const RaceNetwork &net = race_network();
  int f = race.first_lap_length, n = race.normal_lap_length;
  long total = 0;
  int riders = 0;
  for (int k = 0; k < race.running_count; k++) {
    int slot = race.running_order[k].slot;
    const Slot *s = race_slot(slot);
    const GateProgress *p = timing_of(slot);
    if (!p) continue;
    if (s->drive_mode != drive_history && net.connected && network_warmup()) continue;
    int value = -1;
    if (a < f) {
      if (all_passed(p, a, b)) value = stamp(p, b) - stamp(p, a);
    } else if (n > 0) {
      int from = a, to = b;
      while (from >= f + n) {
        from -= n;
        to -= n;
      }
      long sum = 0;
      int laps = 0;
      for (; to < p->next_gate; from += n, to += n) {
        if (!all_passed(p, from, to)) continue;
        sum += stamp(p, to) - stamp(p, from);
        laps++;
      }
      if (laps > 0) value = static_cast<int>(sum / laps);
    }
    if (value < 0) continue;
    total += value;
    riders++;
  }
  return riders > 0 ? static_cast<int>(total / riders) : default_section_tics;
}

int cutting_penalty(int slot) {
  const GateProgress *p = timing_of(slot);
  if (!p || timing_gates()->gate_count == 0) return 0;
  int penalty = 0, missed = 0, last = 0;
  int end = p->next_gate < p->gate_tic_count ? p->next_gate : p->gate_tic_count;
  for (int t = 0; t < end; t++) {
    int tic = gate_tic(p, t);
    if (tic < 0) {
      missed++;
      continue;
    }
    if (missed > 0) {
      int allowed = expected_section_time(t - missed - 1, t) + section_allowance;
      if (tic - last < allowed) penalty += allowed - (tic - last);
    }
    missed = 0;
    last = tic;
  }
  return penalty;
}

int off_course_at(int slot, int s) {
  const GateProgress *p = timing_of(slot);
  const RaceState &race = race_state();
  const RaceNetwork &net = race_network();
  if (!p || s < 1) return 0;
  int b = race.gate_drop_tic;
  for (int i = s - 1; i >= (s - 3 > 0 ? s - 3 : 0); i--) {
    if (gate_tic(p, i) >= 0) {
      b = gate_tic(p, i);
      break;
    }
  }
  int c = race.tic;
  for (int i = s; i < p->next_gate; i++) {
    if (gate_tic(p, i) >= 0) {
      c = gate_tic(p, i);
      break;
    }
  }
  const GateProgress *ref = nullptr;
  for (int k = 0; k < race.running_count; k++) {
    const GateProgress *r = timing_of(race.running_order[k].slot);
    if (!r) continue;
    if (r->next_gate <= s) break;
    if (gate_tic(r, s - 1) >= 0 && gate_tic(r, s) >= 0) {
      ref = r;
      break;
    }
  }
  if (!ref) return 0;
  double taken = (c - b) * seconds_per_tic;
  double allowed = net.off_course_scale * (gate_tic(ref, s) - gate_tic(ref, s - 1)) * seconds_per_tic + net.off_course_bias;
  return taken >= allowed;
}

int off_course(int slot) {
  const GateProgress *p = timing_of(slot);
  if (!p) return 0;
  int last = p->next_gate;
  for (int s = last - 3 > 1 ? last - 3 : 1; s <= last; s++)
    if (off_course_at(slot, s)) return 1;
  return 0;
}

void update_running_order() {
  RaceState &race = race_state();
  if (race.results_final) return;
  int count = 0;
  for (int i = 0; i < max_slots; i++) {
    const GateProgress *p = timing_of(i);
    if (!p) continue;
    int latest = p->next_gate > 0 ? gate_tic(p, p->next_gate - 1) : 0;
    race.running_order[count++] = RunningEntry{i, p->next_gate, latest > 0 ? latest : 0, 0};
  }
  race.running_count = count;
  sort_order(race.running_order, count);
  decide_final_lap();

  for (int k = 0; k < count; k++) {
    int slot = race.running_order[k].slot;
    if (network_warmup() && race_slot(slot)->drive_mode == drive_local) continue;
    if (rider_finished(slot)) continue;
    if (still_racing(slot)) return;
  }

  final_results();
  if (count > 0 && rider_finished(race.running_order[0].slot)) write_results(results_path());
  race.results_final = 1;
  finish_series_event();
}
