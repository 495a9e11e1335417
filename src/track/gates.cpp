// "timing_gates": three sections, each keyword standing alone.
//   startinggate:  one line per grid position: [x y z] angle [model texture shape]
//   checkpoints:   radius [cx cy cz] [dx dy dz] ... until an item does not scan
//   firstlap:      checkpoint indices ("%d"), an index + 100000 is marked
//   normallap:     likewise
// The whole file is read into memory and scanned from there; every scan
// works on a bounded copy of the text so a large file stays linear.
#include "track/gates.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "assets/file.h"
#include "platform/log.h"
#include "track/objects.h"
#include "track/scan_local.h"
#include "track/track.h"

namespace {

constexpr int token_size = 1024;
// Larger files are read only up to this size; a real one is a few kB.
constexpr int max_gates_file_bytes = 1 << 20;
// Stamps beyond this position are refused (a thousand laps of 256 gates
// stay well inside it), so a bad position from the network cannot
// allocate without bound.
constexpr int max_sequence_positions = 1 << 20;
constexpr double pi = 3.14159265358979323846;

// The gates of the current track; from one track load to the next.
TimingGates gates;
// Set while one file is read: the overflow warning was given.
int entries_warned;

static_assert(max_lap_entries == 256 && max_checkpoints == 256, "the file format's list and checkpoint limits");
static_assert(max_checkpoints < gate_marker, "a marked entry must stay distinguishable");

using track_scan::next_line;
using track_scan::skip_space;
using track_scan::window;

int next_token(const char **p, char *token) { return track_scan::next_token(p, token, token_size); }

float wrap_angle(float a) {
  if (!std::isfinite(a)) return 0;
  if (a >= -pi && a <= pi) return a;
  double turns = (a + pi) / (2 * pi);
  return static_cast<float>((turns - std::floor(turns)) * 2 * pi - pi);
}

const char *file_name_or_none(const char *name, const char *fallback) {
  if (!name) return intern_string(fallback);
  if (strcmp(name, "null") == 0) return nullptr;
  return intern_string(name);
}

void read_grid(const char **p, char *next_keyword) {
  char line[token_size * 4];
  next_line(p, line, sizeof line);  // the rest of the keyword's line
  next_keyword[0] = 0;
  for (;;) {
    const char *line_start = *p;
    if (!next_line(p, line, sizeof line)) return;
    const char *q = line;
    skip_space(&q);
    if (!*q) continue;  // blank lines do not end the section
    char model[token_size], texture[token_size], shape[token_size];
    float x = 0, y = 0, z = 0, angle = 0;
    int got = sscanf(line, " [ %f %f %f ] %f %1023s %1023s %1023s", &x, &y, &z, &angle, model, texture, shape);
    if (got >= 4 && gates.grid_count >= max_grid_positions) {
      print_message("timing_gates warning: more than 160 grid positions, the rest ignored");
    }
    if (strncmp(q, "checkpoints:", 12) == 0 || got < 4 || gates.grid_count >= max_grid_positions) {
      *p = line_start;
      next_token(p, next_keyword);
      return;
    }
    GridPosition *g = &gates.grid[gates.grid_count++];
    g->x = x;
    g->y = y;
    g->z = z;
    g->angle = wrap_angle(angle);
    g->statue = -1;
    g->model = file_name_or_none(got > 4 ? model : nullptr, "@startgate.hm");
    g->texture = file_name_or_none(got > 5 ? texture : nullptr, "@startgate.ppm");
    g->shape = file_name_or_none(got > 6 ? shape : nullptr, "@startgate.shp");
  }
}

void read_checkpoints(const char **p) {
  char copy[token_size];
  for (;;) {
    window(*p, copy, sizeof copy);
    Checkpoint c;
    memset(&c, 0, sizeof c);
    int used = 0;
    if (sscanf(copy, "%f [ %f %f %f ] [ %f %f %f ] %n", &c.gate_radius, &c.gate_centre[0], &c.gate_centre[1],
               &c.gate_centre[2], &c.gate_direction[0], &c.gate_direction[1], &c.gate_direction[2], &used) != 7 ||
        used <= 0) {
      return;
    }
    if (gates.checkpoint_count >= max_checkpoints) {
      // Left unread, so the next section keyword is not found either.
      print_message("timing_gates warning: more than 256 checkpoints, the rest ignored");
      return;
    }
    gates.checkpoints[gates.checkpoint_count++] = c;
    *p += used;
  }
}

// Reads whole numbers into the lap table until one does not scan or the
// table is full; returns how many.
int read_entries(const char **p) {
  char copy[64];
  int count = 0;
  for (;;) {
    window(*p, copy, sizeof copy);
    int value = 0, used = 0;
    if (sscanf(copy, "%d %n", &value, &used) != 1 || used <= 0) break;
    *p += used;
    if (gates.first_lap_count + gates.normal_lap_count + count >= max_lap_entries) {
      // The rest of the list is skipped so the next keyword is still found.
      if (!entries_warned) print_message("timing_gates warning: more than 256 lap entries, the rest ignored");
      entries_warned = 1;
      continue;
    }
    int last = gates.checkpoint_count > 0 ? gates.checkpoint_count - 1 : 0;
    int entry = 0;
    if (value >= 0) {
      entry = value % gate_marker;
      if (entry > last) entry = last;
      if (value >= gate_marker) entry += gate_marker;
    }
    gates.lap_entries[gates.first_lap_count + gates.normal_lap_count + count] = entry;
    count++;
  }
  return count;
}

int unmarked(int first, int count) {
  int n = 0;
  for (int k = first; k < first + count; k++) n += gates.lap_entries[k] < gate_marker;
  return n;
}

void add_start_gate_statues() {
  for (int k = 0; k < gates.grid_count; k++) {
    GridPosition *g = &gates.grid[k];
    g->statue = add_statue(g->x - 3 * std::sin(g->angle), g->y, g->z - 3 * std::cos(g->angle), g->angle, g->model,
                           g->texture, g->shape);
  }
}

}  // namespace

const TimingGates *timing_gates() { return &gates; }

Checkpoint *timing_checkpoint(int index) {
  return index >= 0 && index < gates.checkpoint_count ? &gates.checkpoints[index] : nullptr;
}

void timing_gates_reset() { memset(&gates, 0, sizeof gates); }

void timing_gates_read(DataFile *file, int add_statues) {
  timing_gates_reset();
  entries_warned = 0;
  int truncated = 0;
  char *text = track_scan::read_text(file, max_gates_file_bytes, &truncated);
  if (truncated) print_message("timing_gates warning: file too large, only its start is read");

  const char *p = text;
  char keyword[token_size];
  next_token(&p, keyword);
  if (strcmp(keyword, "startinggate:") == 0) read_grid(&p, keyword);
  if (strcmp(keyword, "checkpoints:") == 0) {
    read_checkpoints(&p);
    next_token(&p, keyword);
  }
  if (strcmp(keyword, "firstlap:") == 0) {
    gates.first_lap_count = read_entries(&p);
    next_token(&p, keyword);
  }
  if (strcmp(keyword, "normallap:") == 0) gates.normal_lap_count = read_entries(&p);
  tracked_free(text);

  gates.first_lap_unmarked = unmarked(0, gates.first_lap_count);
  gates.normal_lap_unmarked = unmarked(gates.first_lap_count, gates.normal_lap_count);
  int in_force = gates.checkpoint_count > 0 && gates.first_lap_count > 2 && gates.normal_lap_count > 2 &&
                 gates.first_lap_unmarked > 2 && gates.normal_lap_unmarked > 2;
  gates.gate_count = in_force ? gates.checkpoint_count : 0;
  if (track_verbosity() >= 1) {
    hovl_log("Found %d timing gates, first lap has %d gates, normal lap has %d\n", gates.checkpoint_count,
             gates.first_lap_count, gates.normal_lap_count);
  }
  if (add_statues) add_start_gate_statues();
}

void load_timing_gates(const char *path) {
  timing_gates_reset();
  DataFile *file = dfile_open(path, "rb");
  if (!file) return;
  timing_gates_read(file, 1);
  dfile_close(file);
}

namespace {

int entry_at(int p) {
  int f = gates.first_lap_count, n = gates.normal_lap_count;
  if (p < 0) p = 0;
  return p < f ? gates.lap_entries[p] : gates.lap_entries[f + (p - f) % n];
}

}  // namespace

int gate_at_position(int p) {
  if (gates.gate_count == 0) return -1;
  return entry_at(p) % gate_marker;
}

int gate_is_marked(int p) { return gates.gate_count != 0 && entry_at(p) >= gate_marker; }

int gate_ends_lap(int p) {
  if (gates.gate_count == 0) return 0;
  int after = p + 1 - gates.first_lap_count;
  return after >= 0 && after % gates.normal_lap_count == 0;
}

int gate_tic(const GateProgress *progress, int p) {
  return p >= 0 && p < progress->gate_tic_count ? progress->gate_tics[p] : -1;
}

void gate_stamp(GateProgress *progress, int p, int tic) {
  if (p < 0 || p >= max_sequence_positions) return;
  while (progress->gate_tic_count <= p) {
    grow_array(progress->gate_tics, progress->gate_tic_count, progress->gate_tic_capacity);
    progress->gate_tics[progress->gate_tic_count++] = -1;
  }
  progress->gate_tics[p] = tic;
}

void set_next_gate(GateProgress *progress, int p) {
  if (p < 0) p = 0;
  if (p > max_sequence_positions) p = max_sequence_positions;
  progress->next_gate = p;
  if (progress->gate_tic_count > p) progress->gate_tic_count = p;
}

void gate_progress_clear(GateProgress *progress) {
  progress->next_gate = 0;
  progress->gate_tic_count = 0;
  progress->finished = 0;
}

void gate_progress_free(GateProgress *progress) {
  tracked_free(progress->gate_tics);
  progress->gate_tics = nullptr;
  progress->gate_tic_capacity = 0;
  gate_progress_clear(progress);
}

int lap_of(const GateProgress *progress) {
  if (gates.gate_count == 0 || progress->next_gate < gates.first_lap_count) return 0;
  return (progress->next_gate - gates.first_lap_count) / gates.normal_lap_count + 1;
}

float lap_time(const GateProgress *progress, int k, int gate_drop_tic) {
  if (gates.gate_count == 0 || k < 1) return 0;
  int f = gates.first_lap_count, n = gates.normal_lap_count;
  long end_position = f - 1 + static_cast<long>(n) * (k - 1);
  if (end_position >= max_sequence_positions) return 0;
  int start = k == 1 ? gate_drop_tic : gate_tic(progress, static_cast<int>(end_position - n));
  int end = gate_tic(progress, static_cast<int>(end_position));
  if (start < 0 || end < 0) return 0;
  return static_cast<float>((end - start) * seconds_per_tic);
}

int check_gates(GateProgress *progress, float x, float z, int tic, int race_laps, int leader_next_gate) {
  if (gates.gate_count == 0) return -1;
  static const int offsets[] = {-3, -2, 0, 1, 2};
  int gap = 0, passed = -1;
  for (int u : offsets) {
    int q = progress->next_gate + u;
    if (q < 0) continue;
    if (gate_tic(progress, q) == -1) gap = 1;
    const Checkpoint &g = gates.checkpoints[gate_at_position(q)];
    float dx = x - g.gate_centre[0], dz = z - g.gate_centre[2];
    int through = dx * dx + dz * dz <= g.gate_radius * g.gate_radius &&
                  dx * g.gate_direction[0] + dz * g.gate_direction[2] >= 0;
    if (through && (u >= 0 || gap)) {
      passed = q;
      break;
    }
    // Nothing beyond a lap's finish gate counts while it is unpassed.
    if (!through && gate_ends_lap(q) && gate_tic(progress, q) == -1) return -1;
  }
  if (passed < 0 || passed + 1 > max_sequence_positions) return -1;
  gate_stamp(progress, passed, tic);
  progress->next_gate = passed + 1;

  int f = gates.first_lap_count, n = gates.normal_lap_count;
  int after = progress->next_gate - f;
  if (after >= 0 && after % n == 0 && !progress->finished) {
    long final_gate = race_laps == 0 ? 0 : f - 1 + static_cast<long>(n) * (race_laps - 1);
    long leader = leader_next_gate > progress->next_gate ? leader_next_gate : progress->next_gate;
    if (!(leader <= final_gate && lap_of(progress) < race_laps)) progress->finished = 1;
  }
  return passed;
}
