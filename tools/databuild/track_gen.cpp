// Tracks: the centreline from the design's control points, the profile of
// its features, and the height field they are stamped into ("terrain.hf"),
// with the display name ("desc"). The ground's look is ground_gen.cpp's.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "databuild.h"
#include "image_gen.h"

namespace databuild {

namespace {

constexpr float pi = 3.14159265358979f;
constexpr float bank_max = 3.5f;  // ft at the outside edge of the tightest berm

// The untouched ground of the field: gentle rolls and the design's landform.
float natural_ground(const TrackDesign *design, float x, float z) {
  float h = 0.0f, amplitude = design->ground_amplitude, wavelength = 320.0f;
  for (int octave = 0; octave < 4; octave++) {
    h += (value_noise(x / wavelength, z / wavelength, design->seed + static_cast<uint32_t>(octave)) - 0.5f) *
         2.0f * amplitude;
    amplitude *= 0.4f;
    wavelength *= 0.45f;
  }
  if (design->hill_height != 0.0f) {
    float dx = x - design->hill_x, dz = z - design->hill_z;
    float r = std::sqrt(dx * dx + dz * dz) / design->hill_radius;
    if (r < 1.0f) h += design->hill_height * (1.0f - smoothstep(r)) ;
  }
  // The field rises a little toward its borders, like a valley floor.
  float ex = std::max(std::fabs(x - 512.0f) - 420.0f, 0.0f), ez = std::max(std::fabs(z - 512.0f) - 420.0f, 0.0f);
  return h + 0.12f * (ex + ez);
}

struct Dense {
  std::vector<float> x, z, w, len;
};

// Closed centripetal Catmull-Rom spline through the control points.
void dense_centreline(const TrackDesign *d, Dense *out) {
  constexpr int per_segment = 96;
  int n = d->point_count;
  for (int i = 0; i < n; i++) {
    const ControlPoint &p0 = d->points[(i + n - 1) % n], &p1 = d->points[i];
    const ControlPoint &p2 = d->points[(i + 1) % n], &p3 = d->points[(i + 2) % n];
    auto knot = [](const ControlPoint &a, const ControlPoint &b) {
      float dx = b.x - a.x, dz = b.z - a.z;
      return std::pow(dx * dx + dz * dz, 0.25f);
    };
    float t0 = 0.0f, t1 = t0 + knot(p0, p1), t2 = t1 + knot(p1, p2), t3 = t2 + knot(p2, p3);
    for (int k = 0; k < per_segment; k++) {
      float t = t1 + (t2 - t1) * static_cast<float>(k) / per_segment;
      auto lerp2 = [](float a, float b, float ta, float tb, float tt) {
        return a * (tb - tt) / (tb - ta) + b * (tt - ta) / (tb - ta);
      };
      float xs[2];
      const float px[4] = {p0.x, p1.x, p2.x, p3.x}, pz[4] = {p0.z, p1.z, p2.z, p3.z};
      for (int c = 0; c < 2; c++) {
        const float *q = c == 0 ? px : pz;
        float a1 = lerp2(q[0], q[1], t0, t1, t), a2 = lerp2(q[1], q[2], t1, t2, t), a3 = lerp2(q[2], q[3], t2, t3, t);
        float b1 = lerp2(a1, a2, t0, t2, t), b2 = lerp2(a2, a3, t1, t3, t);
        xs[c] = lerp2(b1, b2, t1, t2, t);
      }
      out->x.push_back(xs[0]);
      out->z.push_back(xs[1]);
      float u = smoothstep(static_cast<float>(k) / per_segment);
      out->w.push_back(p1.width + (p2.width - p1.width) * u);
    }
  }
  size_t m = out->x.size();
  out->len.assign(m + 1, 0.0f);
  for (size_t i = 0; i < m; i++) {
    size_t j = (i + 1) % m;
    out->len[i + 1] = out->len[i] + std::hypot(out->x[j] - out->x[i], out->z[j] - out->z[i]);
  }
}

// Box filter over a closed loop, applied twice (close to a Gaussian).
void smooth_loop(std::vector<float> *v, int radius) {
  int n = static_cast<int>(v->size());
  for (int pass = 0; pass < 2; pass++) {
    std::vector<float> out(v->size());
    double sum = 0.0;
    for (int k = -radius; k <= radius; k++) sum += (*v)[static_cast<size_t>(((k % n) + n) % n)];
    for (int i = 0; i < n; i++) {
      out[static_cast<size_t>(i)] = static_cast<float>(sum / (2 * radius + 1));
      sum += (*v)[static_cast<size_t>((i + radius + 1) % n)];
      sum -= (*v)[static_cast<size_t>(((i - radius) % n + n) % n)];
    }
    *v = out;
  }
}

// Take-off faces: a transition curving up with a radius of face_radius,
// then a straight ramp of face_straight up to the lip. With both wheels on
// the straight part when the front leaves, a bike takes off without being
// kicked nose down. The lip angle is what reaches height H that way.
constexpr float face_radius = 60.0f, face_straight = 10.0f;
// A double's gap: its floor's height and the length of its sides, in jump heights.
constexpr float double_floor = 0.5f, double_side = 2.5f;

float lip_slope(float H) {
  // H = m^2 R / 2 + m L
  return (-face_straight + std::sqrt(face_straight * face_straight + 2.0f * face_radius * H)) / face_radius;
}

float face_length(float H) { return lip_slope(H) * face_radius + face_straight; }

float face_height(float x, float H) {
  float m = lip_slope(H), curve = m * face_radius;
  if (x < curve) return 0.5f * x * x / face_radius;
  return 0.5f * m * curve + m * (x - curve);
}

// Height of the features at loop distance s (0 outside them), and the jumps.
float feature_height(const TrackDesign *d, const Track *track, float s, std::vector<Jump> *jumps) {
  float h = 0.0f;
  for (int i = 0; i < d->feature_count; i++) {
    const Feature &f = d->features[i];
    float fs = track->feature_s[static_cast<size_t>(i)];
    float x = s - fs;
    if (x < -track->length * 0.5f) x += track->length;
    if (x > track->length * 0.5f) x -= track->length;
    float H = f.height;
    // Landings fall at most about 18 degrees. A good landing touches down
    // halfway down the landing with the frame: a bike comes down nose first,
    // its front wheel a few feet ahead of that.
    float face = face_length(H), landing = 4.5f * H, touch = 0.5f * landing;
    switch (f.kind) {
      case feature_tabletop: {
        float top = f.length;
        if (jumps) jumps->push_back({fs + face, fs + face + top + touch, 0, fs, fs + face + top + landing});
        if (x < 0.0f || x > face + top + landing) break;
        if (x < face) h += face_height(x, H);
        else if (x < face + top) h += H;
        else h += H * (1.0f - smoothstep((x - face - top) / landing));
        break;
      }
      case feature_double: {
        // The gap is only half as deep as the jump is high, between gentle
        // sides: a rider who comes to it slowly, after a fall, rolls through
        // it instead of being stuck in a pit.
        float gap = f.length, side = double_side * H, floor = double_floor * H;
        float peak = face + side + gap + side;
        if (jumps) jumps->push_back({fs + face, fs + peak + touch, 1, fs, fs + peak + landing});
        if (x < 0.0f || x > peak + landing) break;
        if (x < face) h += face_height(x, H);
        else if (x < face + side) h += H - (H - floor) * smoothstep((x - face) / side);
        else if (x < face + side + gap) h += floor;
        else if (x < peak) h += floor + (H - floor) * smoothstep((x - face - side - gap) / side);
        else h += H * (1.0f - smoothstep((x - peak) / landing));
        break;
      }
      case feature_whoops:
      case feature_rhythm: {
        float period = f.length, span = period * static_cast<float>(f.count);
        if (x < 0.0f || x > span) break;
        h += H * 0.5f * (1.0f - std::cos(2.0f * pi * x / period));
        break;
      }
      default:
        break;
    }
  }
  return h;
}

void build_centreline(const TrackDesign *d, Track *track) {
  Dense dense;
  dense_centreline(d, &dense);
  float total = dense.len.back();
  for (int i = 0; i < d->point_count; i++) track->point_s.push_back(dense.len[static_cast<size_t>(i) * 96]);
  for (int i = 0; i < d->feature_count; i++)
    track->feature_s.push_back(track->point_s[static_cast<size_t>(d->features[i].point)] + d->features[i].offset);
  track->start_s = d->start_offset;
  int count = static_cast<int>(std::lround(total));
  track->length = total;
  track->step = total / static_cast<float>(count);
  track->line.assign(static_cast<size_t>(count), TrackSample{});
  size_t m = dense.x.size(), j = 0;
  for (int i = 0; i < count; i++) {
    float s = static_cast<float>(i) * track->step;
    while (j + 1 < m && dense.len[j + 1] <= s) j++;
    float seg = dense.len[j + 1] - dense.len[j];
    float t = seg > 0.0f ? (s - dense.len[j]) / seg : 0.0f;
    size_t k = (j + 1) % m;
    TrackSample &p = track->line[static_cast<size_t>(i)];
    p.x = dense.x[j] + (dense.x[k] - dense.x[j]) * t;
    p.z = dense.z[j] + (dense.z[k] - dense.z[j]) * t;
    p.half_width = 0.5f * (dense.w[j] + (dense.w[k] - dense.w[j]) * t);
    p.course_half_width = p.half_width;
  }
  // Tangents and signed curvature from the neighbours.
  std::vector<float> curvature(static_cast<size_t>(count));
  for (int i = 0; i < count; i++) {
    const TrackSample &a = track->line[static_cast<size_t>((i + count - 2) % count)];
    const TrackSample &b = track->line[static_cast<size_t>((i + 2) % count)];
    TrackSample &p = track->line[static_cast<size_t>(i)];
    float dx = b.x - a.x, dz = b.z - a.z, l = std::hypot(dx, dz);
    p.tx = dx / l;
    p.tz = dz / l;
  }
  for (int i = 0; i < count; i++) {
    const TrackSample &a = track->line[static_cast<size_t>((i + count - 3) % count)];
    const TrackSample &b = track->line[static_cast<size_t>((i + 3) % count)];
    // Turning toward the right vector (-tz, tx) is positive.
    float cross = a.tx * b.tz - a.tz * b.tx;
    float angle = std::asin(std::clamp(cross, -1.0f, 1.0f));
    curvature[static_cast<size_t>(i)] = angle / (6.0f * track->step);
  }
  smooth_loop(&curvature, 3);
  // The start area: wide at the gate row, narrowing to track width over the funnel.
  for (int i = 0; i < count; i++) {
    TrackSample &p = track->line[static_cast<size_t>(i)];
    p.curvature = curvature[static_cast<size_t>(i)];
    float x = static_cast<float>(i) * track->step - track->start_s;
    if (x < -track->length * 0.5f) x += track->length;
    float wide = 0.0f;
    // Widening slower than the edge can turn keeps the back of the area clean.
    if (x >= -150.0f && x < -50.0f) wide = smoothstep((x + 150.0f) / 100.0f);
    else if (x >= -50.0f && x < 15.0f) wide = 1.0f;
    else if (x >= 15.0f && x < d->funnel_length) wide = 1.0f - smoothstep((x - 15.0f) / (d->funnel_length - 15.0f));
    p.half_width = std::max(p.half_width, p.half_width + (0.5f * d->start_width - p.half_width) * wide);
  }
  // The graded ground: the field under the centreline, smoothed along the lap.
  std::vector<float> base(static_cast<size_t>(count)), bank(static_cast<size_t>(count));
  for (int i = 0; i < count; i++) {
    const TrackSample &p = track->line[static_cast<size_t>(i)];
    base[static_cast<size_t>(i)] = natural_ground(d, p.x, p.z);
    // Berms where the turn is tight; none in the start area.
    float k = std::fabs(p.curvature);
    bank[static_cast<size_t>(i)] = p.half_width > 30.0f ? 0.0f : bank_max * smoothstep((k - 0.004f) / 0.012f);
  }
  smooth_loop(&base, 45);
  smooth_loop(&bank, 10);
  for (int i = 0; i < count; i++) {
    TrackSample &p = track->line[static_cast<size_t>(i)];
    p.base = base[static_cast<size_t>(i)];
    p.bank = bank[static_cast<size_t>(i)];
    p.feature = feature_height(d, track, static_cast<float>(i) * track->step, nullptr);
  }
  track->jumps.clear();
  feature_height(d, track, 0.0f, &track->jumps);
  for (Jump &jump : track->jumps) {
    jump.lip_s = wrap_s(track, jump.lip_s);
    jump.target_s = wrap_s(track, jump.target_s);
    jump.face_s = wrap_s(track, jump.face_s);
    jump.end_s = wrap_s(track, jump.end_s);
  }
}

// Height across the track at lateral offset d (positive to the right).
float cross_height(const TrackSample &p, float d) {
  float h = p.base + p.feature;
  if (p.bank > 0.0f) {
    float outside = p.curvature > 0.0f ? -d : d;  // the berm is on the outside of the turn
    float t = std::clamp((outside + p.half_width) / (2.0f * p.half_width), 0.0f, 1.0f);
    h += p.bank * t * t;
  }
  return h;
}

void stamp_terrain(const TrackDesign *d, Track *track) {
  const size_t verts = static_cast<size_t>(track_verts) * track_verts;
  std::vector<float> ground(verts), best(verts, 1e30f);
  track->nearest.assign(verts, -1);
  track->edge.assign(verts, 1e30f);
  for (int j = 0; j < track_verts; j++)
    for (int i = 0; i < track_verts; i++)
      ground[static_cast<size_t>(i + j * track_verts)] =
          natural_ground(d, static_cast<float>(i) * track_spacing, static_cast<float>(j) * track_spacing);
  int count = static_cast<int>(track->line.size());
  for (int k = 0; k < count; k++) {
    const TrackSample &p = track->line[static_cast<size_t>(k)];
    float shoulder = 14.0f + 2.0f * std::max(p.feature, p.bank);
    float reach = p.half_width + shoulder;
    int i0 = std::max(0, static_cast<int>((p.x - reach) / track_spacing));
    int i1 = std::min(track_verts - 1, static_cast<int>((p.x + reach) / track_spacing) + 1);
    int j0 = std::max(0, static_cast<int>((p.z - reach) / track_spacing));
    int j1 = std::min(track_verts - 1, static_cast<int>((p.z + reach) / track_spacing) + 1);
    for (int j = j0; j <= j1; j++)
      for (int i = i0; i <= i1; i++) {
        float dx = static_cast<float>(i) * track_spacing - p.x, dz = static_cast<float>(j) * track_spacing - p.z;
        float dist = std::sqrt(dx * dx + dz * dz);
        if (dist > reach) continue;
        size_t v = static_cast<size_t>(i + j * track_verts);
        if (dist < best[v]) {
          best[v] = dist;
          track->nearest[v] = k;
        }
      }
  }
  std::vector<float> heights(ground);
  for (size_t v = 0; v < verts; v++) {
    int k = track->nearest[v];
    if (k < 0) continue;
    const TrackSample &p = track->line[static_cast<size_t>(k)];
    float dx = static_cast<float>(v % track_verts) * track_spacing - p.x;
    float dz = static_cast<float>(v / track_verts) * track_spacing - p.z;
    float lateral = -dx * p.tz + dz * p.tx;
    float beyond = std::fabs(lateral) - p.half_width;
    track->edge[v] = beyond;
    if (beyond <= 0.0f) {
      heights[v] = cross_height(p, lateral);
    } else {
      float shoulder = 14.0f + 2.0f * std::max(p.feature, p.bank);
      float edge_h = cross_height(p, lateral > 0.0f ? p.half_width : -p.half_width);
      float w = 1.0f - smoothstep(beyond / shoulder);
      heights[v] = ground[v] + (edge_h - ground[v]) * w;
    }
  }
  // Store as the game will read it: 16-bit samples between the header's limits.
  float lo = *std::min_element(heights.begin(), heights.end());
  float hi = *std::max_element(heights.begin(), heights.end());
  lo = std::floor(lo) - 1.0f;
  hi = std::ceil(hi) + 1.0f;
  track->min_height = lo;
  track->max_height = hi;
  track->samples.resize(verts);
  track->heights.resize(verts);
  for (size_t v = 0; v < verts; v++) {
    long q = std::lround((heights[v] - lo) / (hi - lo) * 65535.0f);
    uint16_t sample = static_cast<uint16_t>(std::clamp(q, 0L, 65535L));
    track->samples[v] = sample;
    track->heights[v] = static_cast<float>(lo + static_cast<long double>(sample) * (hi - lo) / 65535.0L);
  }
}

}  // namespace

float vertex_height(const Track *track, int i, int j) {
  i = std::clamp(i, 0, track_verts - 1);
  j = std::clamp(j, 0, track_verts - 1);
  return track->heights[static_cast<size_t>(i + j * track_verts)];
}

float wrap_s(const Track *track, float s) {
  s = std::fmod(s, track->length);
  return s < 0.0f ? s + track->length : s;
}

const TrackSample *sample_at(const Track *track, float s) {
  int n = static_cast<int>(track->line.size());
  int i = static_cast<int>(std::lround(wrap_s(track, s) / track->step)) % n;
  return &track->line[static_cast<size_t>(i)];
}

float track_height(const Track *track, float x, float z) {
  float gx = x * (1.0f / track_spacing), gz = z * (1.0f / track_spacing);
  int i = static_cast<int>(std::floor(gx)), j = static_cast<int>(std::floor(gz));
  float fx = gx - static_cast<float>(i), fz = gz - static_cast<float>(j);
  if ((i & 1) != (j & 1)) {
    if (fx + fz <= 1.0f) {
      float h = vertex_height(track, i, j);
      return h + fx * (vertex_height(track, i + 1, j) - h) + fz * (vertex_height(track, i, j + 1) - h);
    }
    float h = vertex_height(track, i + 1, j + 1);
    return h + (1.0f - fx) * (vertex_height(track, i, j + 1) - h) + (1.0f - fz) * (vertex_height(track, i + 1, j) - h);
  }
  if (fz + (1.0f - fx) <= 1.0f) {
    float h = vertex_height(track, i + 1, j);
    return h + (1.0f - fx) * (vertex_height(track, i, j) - h) + fz * (vertex_height(track, i + 1, j + 1) - h);
  }
  float h = vertex_height(track, i, j + 1);
  return h + fx * (vertex_height(track, i + 1, j + 1) - h) + (1.0f - fz) * (vertex_height(track, i, j) - h);
}

float feature_extent(const Feature &f) {
  float H = f.height, face = face_length(H), landing = 4.5f * H;
  switch (f.kind) {
    case feature_tabletop: return face + f.length + landing;
    case feature_double: return face + 2.0f * double_side * H + f.length + landing;
    default: return f.length * static_cast<float>(f.count);
  }
}

int check_features(const Track *track) {
  const TrackDesign *d = track->design;
  int ok = 1;
  for (int i = 0; i < d->feature_count; i++) {
    const Feature &f = d->features[i];
    bool jump = f.kind == feature_tabletop || f.kind == feature_double;
    float from = track->feature_s[static_cast<size_t>(i)] - (jump ? feature_run_in : section_run_in);
    float to = track->feature_s[static_cast<size_t>(i)] + feature_extent(f) + (jump ? feature_run_out : section_run_out);
    float worst = 0.0f, at = from;
    for (float s = from; s <= to; s += track->step) {
      float k = std::fabs(sample_at(track, s)->curvature);
      if (k > worst) worst = k, at = s;
    }
    if (worst > straight_curvature) {
      fprintf(stderr, "%s: feature %d (after point %d) is not on a straight: radius %.0f ft at %.0f ft\n", d->dir, i,
              f.point, 1.0f / worst, wrap_s(track, at));
      ok = 0;
    }
  }
  return ok;
}

void build_track(const TrackDesign *design, Track *track) {
  *track = Track{};
  track->design = design;
  build_centreline(design, track);
  stamp_terrain(design, track);
}

void write_terrain_files(const Track *track, Archive *archive) {
  std::string dir = track->design->dir;
  Bytes hf;
  bytes_printf(&hf, "%d %f %f %f\n:", track_size_exp, track_spacing, track->min_height, track->max_height);
  for (uint16_t sample : track->samples) {
    unsigned char le[2] = {static_cast<unsigned char>(sample & 0xff), static_cast<unsigned char>(sample >> 8)};
    bytes_append(&hf, le, 2);
  }
  archive_add_compressed(archive, dir + "/terrain.hf", hf);

  Bytes desc;
  bytes_printf(&desc, "%s\n", track->design->display_name);
  archive_add(archive, dir + "/desc", std::move(desc));
}

}  // namespace databuild
