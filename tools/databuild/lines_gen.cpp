// Robot lines ("lines_novice", "lines_amateur", "lines_expert"), synthesised
// from the designed racing line: a few lanes across the track, each ridden at
// the speeds the grip, the berms and the skill allow, accelerating and
// braking like a bike, flying over the jumps at the take-off speed that lands
// on the landing ramp. The ride is sampled four times a second, as the game
// records riders, and cut at the unmarked checkpoints into one line per
// segment. The first segment has one line from every start gate, merging
// into the lanes by the end of the start funnel, one rider after another.
//
// File layout: "ct03 <segments>\n", then per segment its line count and per
// line "<points> <time 1> <time 2> <tested> <best 1> <best 2> <sum 1> <sum 2>
// <failed>\n" followed by "[x y z] speed lean\n" per point. Times are tics.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "databuild.h"

namespace databuild {

namespace {

constexpr float g = 32.0f;
constexpr float frame_height = 1.85f;  // frame body above the ground, riding
constexpr float top_speed = 78.0f;     // ft/s, a 250 flat out
constexpr float whoop_speed = 36.0f;   // over the whoops
constexpr float rhythm_speed = 34.0f;
constexpr float approach_seconds = 3.5f;  // steady speed before a take-off
// Share of the surface grip a line leans on in a turn: the rest is the
// margin a rider needs to hold the line without braking in the turn.
constexpr float corner_grip_share = 0.65f;
constexpr int lanes = robot_lanes;
constexpr float lane_fraction[lanes] = {-0.8f, -0.4f, 0.0f, 0.4f, 0.8f};
constexpr float lane_limit = 12.0f;  // ft from the centre line at most
constexpr float start_interval = 0.3f;  // s between riders leaving the start, see write_line_files
constexpr int untested_best = 1000000;

struct Skill {
  const char *file;
  float speed;   // share of the grip-limited corner speeds
  float accel;   // share of the bike's acceleration and braking
  float table;   // share of the tabletops' take-off speed (doubles must be cleared)
};
const Skill skills[3] = {
    {"lines_novice", 0.8f, 0.75f, 0.88f}, {"lines_amateur", 0.9f, 0.88f, 0.94f}, {"lines_expert", 1.0f, 1.0f, 1.0f}};

struct PathPoint {
  float x, z, progress;  // progress: centre-line distance from the finish line, counting laps
  float ground, step;    // ground height; horizontal distance from the previous point
  float curvature;
  float corner_speed;   // the grip's limit in the turn here, whatever the skill
  float section_speed;  // the whoops' or rhythm section's limit, else 0
  float cap, speed, time, y;
  int air;
};

int tile_under(const Track *track, float x, float z) {
  int col = std::clamp(static_cast<int>(x * 0.5f / track_spacing), 0, track_tiles - 1);
  int row = std::clamp(static_cast<int>(z * 0.5f / track_spacing), 0, track_tiles - 1);
  return track->tilemap[static_cast<size_t>(col + row * track_tiles)];
}

bool in_feature(const Track *track, int kind, float s, float *speed) {
  const TrackDesign *d = track->design;
  for (int i = 0; i < d->feature_count; i++) {
    const Feature &f = d->features[i];
    if (f.kind != kind) continue;
    float x = wrap_s(track, s - track->feature_s[static_cast<size_t>(i)]);
    if (x <= f.length * static_cast<float>(f.count)) {
      *speed = kind == feature_whoops ? whoop_speed : rhythm_speed;
      return true;
    }
  }
  return false;
}

// The path of one start gate: from its place on the grid, merging into a
// lane by the end of the funnel, then around the loop for two more laps.
void build_path(const Track *track, const GridPosition &grid, int lane, float end, std::vector<PathPoint> *path) {
  path->clear();
  // The merge is over well before the first checkpoint, so the first line
  // ends running straight and the lane's next line carries on from it.
  float merge_end = lane_merge_s(track);
  for (float progress = track->start_s; progress <= end; progress += track->step) {
    const TrackSample *p = sample_at(track, progress);
    float offset = lane_offset(p, lane);
    if (progress < merge_end) {
      float t = std::clamp((progress - track->start_s) / (merge_end - track->start_s), 0.0f, 1.0f);
      t = t * t * (3.0f - 2.0f * t);
      offset = grid.lateral + (offset - grid.lateral) * t;
    }
    PathPoint q{};
    q.x = p->x - p->tz * offset;
    q.z = p->z + p->tx * offset;
    q.progress = progress;
    q.ground = track_height(track, q.x, q.z);
    path->push_back(q);
  }
  size_t n = path->size();
  for (size_t i = 1; i < n; i++)
    (*path)[i].step = std::hypot((*path)[i].x - (*path)[i - 1].x, (*path)[i].z - (*path)[i - 1].z);
  constexpr size_t reach = 4;
  for (size_t i = reach; i + reach < n; i++) {
    const PathPoint &a = (*path)[i - reach], &b = (*path)[i], &c = (*path)[i + reach];
    float ux = b.x - a.x, uz = b.z - a.z, vx = c.x - b.x, vz = c.z - b.z;
    float lu = std::hypot(ux, uz), lv = std::hypot(vx, vz);
    if (lu < 1e-3f || lv < 1e-3f) continue;
    // Turning toward the right vector (-tz, tx) is positive.
    float cross = (ux * vz - uz * vx) / (lu * lv);
    (*path)[i].curvature = std::asin(std::clamp(cross, -1.0f, 1.0f)) / (0.5f * (lu + lv));
  }
  for (PathPoint &q : *path) {
    q.corner_speed = 1e9f;  // no limit on the straight
    float k = std::fabs(q.curvature);
    if (k > 1e-4f) {
      // Banked turn: the berm carries part of the load; robots lean on the
      // first friction point of the surface, so that sets the grip.
      const TrackSample *c = sample_at(track, q.progress);
      float mu = corner_grip_share * tile_grip(tile_under(track, q.x, q.z));
      float rx = -c->tz, rz = c->tx;
      float h_right = track_height(track, q.x + rx, q.z + rz), h_left = track_height(track, q.x - rx, q.z - rz);
      float bank = std::clamp((q.curvature > 0.0f ? h_left - h_right : h_right - h_left) * 0.5f, -0.2f, 0.4f);
      float factor = std::min((mu + bank) / (1.0f - mu * bank), 1.5f);
      q.corner_speed = std::sqrt(g * factor / k);
    }
    float limit;
    q.section_speed = 0.0f;
    if (in_feature(track, feature_whoops, q.progress, &limit) || in_feature(track, feature_rhythm, q.progress, &limit))
      q.section_speed = limit;
  }
}

// A take-off: the slope of the straight ramp that ends at the lip, and the
// height that ramp reaches there. The slope is read a few feet before the
// lip: the height field rounds the crest itself off over its last foot, and
// a bike leaves along the ramp, not along the rounding.
struct TakeOff {
  float slope, height;
};
constexpr size_t ramp_near = 2, ramp_far = 7;  // points before the lip

TakeOff take_off(const std::vector<PathPoint> &path, size_t lip) {
  float run = 0.0f, rest = 0.0f;
  for (size_t i = lip - ramp_far + 1; i <= lip - ramp_near; i++) run += path[i].step;
  for (size_t i = lip - ramp_near + 1; i <= lip; i++) rest += path[i].step;
  float slope = (path[lip - ramp_near].ground - path[lip - ramp_far].ground) / std::max(run, 0.1f);
  return {slope, path[lip - ramp_near].ground + slope * rest};
}

// Where a bike leaving the ground at index lip with horizontal speed v comes
// down; the flight follows the take-off slope and falls under gravity.
size_t landing_index(const std::vector<PathPoint> &path, size_t lip, float v) {
  TakeOff t = take_off(path, lip);
  float distance = 0.0f;
  for (size_t i = lip + 1; i < path.size(); i++) {
    distance += path[i].step;
    float y = t.height + t.slope * distance - 0.5f * g * distance * distance / (v * v);
    if (distance > 2.0f && y <= path[i].ground) return i;
  }
  return path.size() - 1;
}

size_t index_at(const std::vector<PathPoint> &path, float progress) {
  size_t lo = 0, hi = path.size() - 1;
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (path[mid].progress < progress) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

// A speed held from the start gate up to a place on the first lap: the
// riders who merge into a lane later hold back, so they join it in single
// file instead of side by side.
struct Pace {
  float speed = 1e9f;
  float until = 0.0f;  // progress
};

// Speeds and times along a path for one skill; 0 when a double's take-off
// speed is out of reach (a robot riding the line would land in the gap).
int ride_path(const Track *track, const Skill &skill, const Pace &pace, std::vector<PathPoint> *path) {
  std::vector<PathPoint> &p = *path;
  size_t n = p.size();
  for (PathPoint &q : p) {
    q.cap = std::min(top_speed, skill.speed * q.corner_speed);
    if (q.section_speed > 0.0f) q.cap = std::min(q.cap, q.section_speed * (0.85f + 0.15f * skill.speed));
    if (q.progress < pace.until) q.cap = std::min(q.cap, pace.speed);
    q.air = 0;
  }
  // Jumps: the take-off speed is fixed by where the landing is; the flight
  // between lip and touch-down is neither driven nor braked.
  struct Flight {
    size_t lip;
    float speed;
    int must_clear;  // a double: falling short lands in the gap
  };
  std::vector<Flight> flights;
  for (const Jump &jump : track->jumps)
    for (float lap = 0.0f; lap < 3.0f; lap += 1.0f) {
      float lip_progress = jump.lip_s + lap * track->length;
      if (lip_progress < p[ramp_far + 1].progress || lip_progress > p[n - 1].progress - 200.0f) continue;
      // The last point on the face: past it a double's back side falls away.
      size_t lip = index_at(p, lip_progress) - 1;
      size_t target = index_at(p, jump.target_s + lap * track->length +
                                      (jump.target_s < jump.lip_s ? track->length : 0.0f));
      float lo = 15.0f, hi = 95.0f;
      for (int it = 0; it < 40; it++) {
        float mid = 0.5f * (lo + hi);
        if (landing_index(p, lip, mid) < target) lo = mid;
        else hi = mid;
      }
      float speed = 0.5f * (lo + hi) * (jump.is_double ? 1.0f : skill.table);
      flights.push_back({lip, speed, jump.is_double});
      // A rider settles on the take-off speed well before the face (the
      // auto pilot holds its speed over the last seconds of an approach),
      // so the line does too: no braking late into a jump.
      float run = 0.0f;
      for (size_t i = lip + 1; i-- > 1 && run < approach_seconds * speed;) {
        p[i].cap = std::min(p[i].cap, speed);
        run += p[i].step;
      }
    }
  for (int pass = 0; pass < 2; pass++) {
    for (PathPoint &q : p) q.air = 0;
    for (const Flight &f : flights) {
      float v = std::max(p[f.lip].speed, 5.0f);
      if (pass == 0) v = f.speed;
      size_t land = landing_index(p, f.lip, v);
      for (size_t i = f.lip + 1; i < land; i++) p[i].air = 1;
    }
    // Forward: accelerate as the engine allows, from a standstill at the gate.
    p[0].speed = 0.0f;
    for (size_t i = 1; i < n; i++) {
      if (p[i].air) {
        p[i].speed = p[i - 1].speed;
        continue;
      }
      float v = p[i - 1].speed;
      float a = skill.accel * 17.0f * std::max(1.0f - v / 90.0f, 0.05f);
      p[i].speed = std::min(p[i].cap, std::sqrt(v * v + 2.0f * a * p[i].step));
    }
    // Backward: brake in time for every limit ahead.
    for (size_t i = n - 1; i-- > 0;) {
      if (p[i + 1].air || p[i].air) continue;
      float v = p[i + 1].speed;
      p[i].speed = std::min(p[i].speed, std::sqrt(v * v + 2.0f * skill.accel * 20.0f * p[i + 1].step));
    }
    for (size_t i = 1; i < n; i++)
      if (p[i].air) p[i].speed = p[i - 1].speed;
  }
  int reachable = 1;
  // A tabletop taken short is cased on its table; a double must be cleared.
  for (const Flight &f : flights)
    if (f.must_clear && p[f.lip].speed < f.speed - 2.0f) {
      fprintf(stderr, "%s: %s can't reach the take-off speed %.1f ft/s at %.0f ft (%.1f)\n", track->design->dir,
              skill.file, f.speed, wrap_s(track, p[f.lip].progress), p[f.lip].speed);
      reachable = 0;
    }
  // Heights: on the ground the frame rides above it; in the air it follows the flight.
  p[0].time = 0.0f;
  size_t lip = 0;
  float distance = 0.0f;
  TakeOff t{};
  for (size_t i = 0; i < n; i++) {
    if (i > 0) p[i].time = p[i - 1].time + p[i].step / std::max(0.5f * (p[i].speed + p[i - 1].speed), 0.5f);
    if (!p[i].air) {
      p[i].y = p[i].ground + frame_height;
      continue;
    }
    if (!p[i - 1].air) {
      lip = i - 1;
      distance = 0.0f;
      t = take_off(p, lip);
    }
    distance += p[i].step;
    float v = std::max(p[lip].speed, 5.0f);
    p[i].y = t.height + frame_height + t.slope * distance - 0.5f * g * distance * distance / (v * v);
  }
  return reachable;
}

float time_at_progress(const std::vector<PathPoint> &p, float progress) {
  size_t i = index_at(p, progress);
  if (i == 0) return p[0].time;
  float span = p[i].progress - p[i - 1].progress;
  float t = span > 0.0f ? (progress - p[i - 1].progress) / span : 0.0f;
  return p[i - 1].time + (p[i].time - p[i - 1].time) * t;
}

struct LinePoint {
  float x, y, z, speed, lean;
};

LinePoint point_at_time(const std::vector<PathPoint> &p, float time) {
  size_t lo = 0, hi = p.size() - 1;
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (p[mid].time < time) lo = mid + 1;
    else hi = mid;
  }
  size_t i = std::max<size_t>(lo, 1);
  const PathPoint &a = p[i - 1], &b = p[i];
  float t = b.time > a.time ? std::clamp((time - a.time) / (b.time - a.time), 0.0f, 1.0f) : 0.0f;
  LinePoint out;
  out.x = a.x + (b.x - a.x) * t;
  out.z = a.z + (b.z - a.z) * t;
  out.y = a.y + (b.y - a.y) * t;
  float horizontal = a.speed + (b.speed - a.speed) * t;
  float climb = (b.y - a.y) / std::max(b.step, 0.1f) * horizontal;
  float speed = std::sqrt(horizontal * horizontal + climb * climb);
  int air = a.air || b.air;
  out.speed = air ? -speed : speed;
  float curvature = a.curvature + (b.curvature - a.curvature) * t;
  // Leaning into the turn: a right-hand turn leans the frame's right side down.
  out.lean = air ? 0.0f : std::clamp(-std::atan(horizontal * horizontal * curvature / g), -1.1f, 1.1f);
  return out;
}

struct LineRecord {
  std::vector<LinePoint> points;
  int time1, time2;
};

int to_tics(float seconds) { return static_cast<int>(std::lround(seconds * 128.0f)); }

// The line of one segment between two gate passes. The ride is sampled
// every 0.25 s from the start, so consecutive lines of one ride join with
// the same spacing as the points within them.
LineRecord cut_line(const std::vector<PathPoint> &p, float from, float to, float after) {
  LineRecord line;
  float t0 = from < 0.0f ? 0.0f : time_at_progress(p, from);
  float t1 = time_at_progress(p, to), t2 = time_at_progress(p, after);
  for (float t = std::ceil(t0 * 4.0f) * 0.25f; t < t1; t += 0.25f) line.points.push_back(point_at_time(p, t));
  line.time1 = to_tics(t1 - t0);
  line.time2 = to_tics(t2 - t0);
  return line;
}

void write_record(Bytes *out, const LineRecord &line) {
  bytes_printf(out, "%d %d %d %d %d %d %d %d %d\n", static_cast<int>(line.points.size()), line.time1, line.time2, 0,
               untested_best, untested_best, 0, 0, 0);
  for (const LinePoint &q : line.points)
    bytes_printf(out, "[%f %f %f] %f %f\n", q.x, q.y, q.z, q.speed, q.lean);
}

}  // namespace

// The lanes spread with the track, but not with the start area: a lane
// swerving out across it would bend into turns the straight does not have.
// The limit is reached smoothly, so a lane never kinks where it stops
// spreading.
float lane_offset(const TrackSample *p, int lane) {
  constexpr float knee = 0.75f * lane_limit, soft = lane_limit - knee;
  float x = lane_fraction[lane] * (p->course_half_width - 5.0f), a = std::fabs(x);
  if (a > knee) a = knee + soft * std::tanh((a - knee) / soft);
  return std::copysign(a, x);
}

// The lane a start gate merges into: the start is cut into as many equal
// parts across as there are lanes.
int lane_of(const Track *track, const GridPosition &grid) {
  float across = grid.lateral / track->design->start_width + 0.5f;
  return std::clamp(static_cast<int>(std::floor(across * lanes)), 0, lanes - 1);
}

float lane_merge_s(const Track *track) { return track->start_s + track->design->funnel_length - 80.0f; }

int write_line_files(const Track *track, Archive *archive, LapEstimate *estimate) {
  // Segment ends: the unmarked checkpoints of the first lap, then of the next
  // two laps (progress counts whole laps from the finish line).
  std::vector<float> ends;
  for (int lap = 0; lap < 3; lap++)
    for (const Checkpoint &c : track->checkpoints)
      if (c.unmarked) ends.push_back(c.s + static_cast<float>(lap) * track->length);
  size_t per_lap = ends.size() / 3;
  size_t segments = 2 * per_lap;  // first lap, then the normal lap
  float end = ends[segments] + 60.0f;
  std::vector<std::vector<LineRecord>> rows[3];
  for (auto &level_rows : rows) level_rows.resize(segments);
  std::vector<PathPoint> path, ridden;
  int ok = 1;
  // The lanes, each ridden from the first gate that merges into it; they give
  // every line after the first segment.
  for (int lane = 0; lane < lanes; lane++) {
    size_t g = 0;
    while (g < track->grid.size() && lane_of(track, track->grid[g]) != lane) g++;
    if (g == track->grid.size()) continue;
    build_path(track, track->grid[g], lane, end, &path);
    for (int level = 0; level < 3; level++) {
      ridden = path;
      if (!ride_path(track, skills[level], Pace{}, &ridden)) ok = 0;
      for (size_t r = 1; r < segments; r++)
        rows[level][r].push_back(cut_line(ridden, ends[r - 1], ends[r], ends[r + 1]));
      if (lane == lanes / 2)
        estimate->lap_seconds[level] =
            time_at_progress(ridden, 2.0f * track->length) - time_at_progress(ridden, track->length);
    }
  }
  // The first segment from every gate. The riders reach the end of it one
  // after another, start_interval apart in the order the grid fills: they
  // join their lanes in single file, never side by side with a rider in the
  // next lane, and a small field is hardly held back.
  for (size_t g = 0; g < track->grid.size(); g++) {
    const GridPosition &grid = track->grid[g];
    int lane = lane_of(track, grid);
    float delay = start_interval * static_cast<float>(g);
    build_path(track, grid, lane, ends[1] + 250.0f, &path);
    for (int level = 0; level < 3; level++) {
      ridden = path;
      if (!ride_path(track, skills[level], Pace{}, &ridden)) ok = 0;
      if (delay > 0.0f) {
        // The held speed that arrives `delay` later, found by bisection.
        float due = time_at_progress(ridden, ends[0]) + delay, lo = 5.0f, hi = top_speed;
        for (int it = 0; it < 24; it++) {
          float mid = 0.5f * (lo + hi);
          ridden = path;
          ride_path(track, skills[level], Pace{mid, ends[0]}, &ridden);
          if (time_at_progress(ridden, ends[0]) > due) lo = mid;
          else hi = mid;
        }
        ridden = path;
        if (!ride_path(track, skills[level], Pace{hi, ends[0]}, &ridden)) ok = 0;
      }
      rows[level][0].push_back(cut_line(ridden, -1.0f, ends[0], ends[1]));
    }
  }
  for (int level = 0; level < 3; level++) {
    Bytes out;
    bytes_printf(&out, "ct03 %d\n", static_cast<int>(segments));
    for (const std::vector<LineRecord> &row : rows[level]) {
      bytes_printf(&out, "%d\n", static_cast<int>(row.size()));
      for (const LineRecord &line : row) write_record(&out, line);
    }
    archive_add_compressed(archive, std::string(track->design->dir) + "/" + skills[level].file, out);
  }
  return ok;
}

}  // namespace databuild
