// Timing: the starting grid of 40 gates across the start area, checkpoints
// every 40 ft or so from the end of the start funnel to the finish line, and
// the two lap lists. Only about every fourth checkpoint bounds a robot line
// segment; the others are marked so that segments are long enough to join.
#include <algorithm>
#include <cmath>
#include <vector>

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
  // Riders take the gates from the first on. The order goes round the lanes
  // they merge into (the middle one, then from the outside in), taking in
  // each the free place nearest to where the lane runs: any first few gates
  // spread across the start and share the lanes out evenly, and the riders
  // of one lane, who leave one after another (lines_gen.cpp), come in the
  // order of how far they have to merge.
  std::vector<GridPosition> places[robot_lanes];
  const TrackSample *merge = sample_at(track, lane_merge_s(track));
  for (int i = 0; i < start_positions; i++) {
    float lateral = (static_cast<float>(i) - 0.5f * (start_positions - 1)) * start_gate_pitch;
    GridPosition g{centre_x - p->tz * lateral, centre_z + p->tx * lateral, angle, lateral};
    places[lane_of(track, g)].push_back(g);
  }
  for (int lane = 0; lane < robot_lanes; lane++) {
    float line = lane_offset(merge, lane);
    std::stable_sort(places[lane].begin(), places[lane].end(), [line](const GridPosition &a, const GridPosition &b) {
      return std::fabs(a.lateral - line) < std::fabs(b.lateral - line);
    });
  }
  int rounds[robot_lanes], order = 0;
  rounds[order++] = robot_lanes / 2;
  for (int k = robot_lanes / 2; k >= 1; k--) {
    rounds[order++] = robot_lanes / 2 + k;
    if (order < robot_lanes) rounds[order++] = robot_lanes / 2 - k;
  }
  for (size_t round = 0; track->grid.size() < static_cast<size_t>(start_positions); round++)
    for (int lane : rounds)
      if (round < places[lane].size()) track->grid.push_back(places[lane][round]);
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
