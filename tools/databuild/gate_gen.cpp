// Timing: the starting grid of 40 gates across the start area, checkpoints
// every 40 ft or so from the end of the start funnel to the finish line, and
// the two lap lists. Only about every fourth checkpoint bounds a robot line
// segment; the others are marked so that segments are long enough to join.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "databuild.h"

namespace databuild {

namespace {
constexpr int start_positions = 40;
constexpr float checkpoint_step = 40.0f;
constexpr int unmarked_every = 4;
}  // namespace

void build_gates(Track *track) {
  const TrackDesign *d = track->design;
  track->grid.clear();
  const TrackSample *p = sample_at(track, track->start_s);
  float centre_x = p->x, centre_z = p->z;
  float angle = std::atan2(-p->tx, -p->tz);  // a bike faces (-sin a, -cos a)
  // Riders take the gates from the first on, so the order spreads any first
  // few across the whole start: each next gate is the free place farthest
  // from the taken ones (the leftmost of equals), beginning in the middle. A
  // small field then funnels into every lane instead of crowding one.
  int taken[start_positions] = {};
  for (int i = 0; i < start_positions; i++) {
    int place = start_positions / 2 - 1, far = -1;
    for (int c = 0; c < start_positions && i > 0; c++) {
      if (taken[c]) continue;
      int nearest = start_positions;
      for (int t = 0; t < start_positions; t++)
        if (taken[t]) nearest = std::min(nearest, std::abs(t - c));
      if (nearest > far) far = nearest, place = c;
    }
    taken[place] = 1;
    float lateral = (static_cast<float>(place) - 0.5f * (start_positions - 1)) * start_gate_pitch;
    track->grid.push_back({centre_x - p->tz * lateral, centre_z + p->tx * lateral, angle, lateral});
  }
  track->checkpoints.clear();
  float first = track->start_s + d->funnel_length + 10.0f;
  int count = static_cast<int>(std::lround((track->length - first) / checkpoint_step));
  float step = (track->length - first) / static_cast<float>(count);
  for (int i = 0; i <= count; i++) {
    float s = first + step * static_cast<float>(i);
    const TrackSample *q = sample_at(track, s);
    Checkpoint c{};
    c.s = s;
    c.x = q->x;
    c.z = q->z;
    c.y = track_height(track, q->x, q->z);
    c.radius = q->half_width + 12.0f;  // a rider run wide still counts
    c.dx = q->tx;
    c.dz = q->tz;
    track->checkpoints.push_back(c);
  }
  // Segments end about every fourth checkpoint, at the one of three
  // neighbours where the turn changes least: a robot joins the next line on
  // the circle the last one ends on, which fails where a turn begins or ends.
  track->checkpoints.front().unmarked = 1;
  track->checkpoints.back().unmarked = 1;
  for (int i = unmarked_every; i + 2 < count; i += unmarked_every) {
    int best = i;
    float best_change = 1e30f;
    for (int k = i - 1; k <= i + 1; k++) {
      float s = track->checkpoints[static_cast<size_t>(k)].s, change = 0.0f;
      float here = sample_at(track, s)->curvature;
      for (float ds = -50.0f; ds <= 25.0f; ds += 1.0f)
        change = std::max(change, std::fabs(sample_at(track, s + ds)->curvature - here));
      if (change < best_change) {
        best_change = change;
        best = k;
      }
    }
    track->checkpoints[static_cast<size_t>(best)].unmarked = 1;
  }
}

void write_gate_file(const Track *track, Archive *archive) {
  Bytes out;
  bytes_printf(&out, "startinggate:\n");
  // y is relative to the ground: the gate's pivot lies under it.
  for (const GridPosition &g : track->grid)
    bytes_printf(&out, "[%f %f %f] %f\n", g.x, -gate_pivot_depth, g.z, g.angle);
  bytes_printf(&out, "checkpoints:\n");
  for (const Checkpoint &c : track->checkpoints)
    bytes_printf(&out, "%f [%f %f %f] [%f %f %f]\n", c.radius, c.x, c.y, c.z, c.dx, 0.0f, c.dz);
  // Both laps run through every checkpoint: the start area lies before the first.
  for (int list = 0; list < 2; list++) {
    bytes_printf(&out, list == 0 ? "firstlap:\n" : "normallap:\n");
    for (size_t i = 0; i < track->checkpoints.size(); i++)
      bytes_printf(&out, "%d ", static_cast<int>(i) + (track->checkpoints[i].unmarked ? 0 : 100000));
    bytes_printf(&out, "\n");
  }
  archive_add(archive, std::string(track->design->dir) + "/timing_gates", std::move(out));
}

}  // namespace databuild
