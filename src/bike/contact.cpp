#include "bike/contact.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/types.h"
#include "bike/assembly.h"
#include "bike/posture.h"
#include "bike/vec_local.h"
#include "track/terrain.h"
#include "track/tiles.h"

namespace {

constexpr float two_pow_minus_20 = 9.5367431640625e-07f;
constexpr float two_pow_minus_30 = 9.313226e-10f;
// A wheel never spans more cells than this per side; a larger footprint
// (absurd spacing or a broken position) is cut to the cells round the centre.
constexpr int max_wheel_cells = 32;
// The edge-and-vertex search of a triangle is skipped when its best possible
// result could not beat the deepest contact found by more than edge_tie, or,
// before any contact, when it could not come within edge_rounding of
// touching. Both are well above single precision's rounding at track
// coordinates and far below anything the tyre's spring notices.
constexpr float edge_tie = 1.0f / 4096;
constexpr float edge_rounding = 1.0f / 1024;

// Installed by the collision shape code; lives for the process.
ShapeTerrainHook shape_terrain_hook = nullptr;

using namespace bike_vec;

// The component of v perpendicular to the axle.
inline V3 perp(V3 v, V3 a, float aa) { return aa > 0 ? v - a * (dot(v, a) / aa) : v; }

V3 ring_point_v(V3 W, V3 a, float R, V3 p) {
  float aa = dot(a, a);
  V3 d = perp(p - W, a, aa);
  // A point on the axle has no nearest ring point; any direction in the
  // ring's plane serves.
  for (int counter = 1; dot(d, d) < R * 1e-6f && counter < 8; counter++) {
    V3 probe{(counter & 1) ? R : 0, (counter & 2) ? R : 0, (counter & 4) ? R : 0};
    d = perp(probe, a, aa);
  }
  return W + unit(d) * R;
}

// Over the triangle: on the inner side of all three edge planes. A point on
// a shared edge must count for at least one of the two triangles, but single
// precision at track coordinates (an ulp is about 1/16000 ft at 1000 ft) can
// put it outside both, and the edge search would then move the contact point
// from the tyre's bottom to the ground for one tic and jolt the wheel. The
// edge planes are therefore widened by 1/1024 ft.
constexpr float edge_tolerance = 1.0f / 1024;
inline bool over_triangle(V3 Y, const V3 T[3], const V3 m[3]) {
  for (int i = 0; i < 3; i++)
    if (dot(Y - T[i], m[i]) > edge_tolerance * len(m[i])) return false;
  return true;
}

// Distance from the edge point at s to the ring.
inline float edge_distance(V3 W, V3 a, float R, V3 T, V3 E, float s, V3 *at) {
  V3 P = T + E * s;
  *at = P;
  return len(P - ring_point_v(W, a, R, P));
}

// Newton's search for the edge point nearest the ring, from one start.
float newton_edge(V3 W, V3 a, float aa, float R, V3 T, V3 E, float s) {
  float EE = dot(E, E);
  V3 Ep = perp(E, a, aa);
  float EpEp = dot(Ep, Ep);
  auto h = [&](float t, float *dh) {
    V3 u = T + E * t - W;
    V3 up = perp(u, a, aa);
    float uE = dot(u, E), upup = dot(up, up), upE = dot(up, Ep);
    *dh = 2 * uE * EE * upup + uE * uE * 2 * upE - R * R * 2 * upE * EpEp;
    return uE * uE * upup - R * R * upE * upE;
  };
  float dh;
  float hs = h(s, &dh);
  for (int step = 0; step < 4 && std::fabs(dh) >= two_pow_minus_30; step++) {
    float next = s - hs / dh;
    float dnext;
    float hnext = h(next, &dnext);
    if (!(std::fabs(hnext) <= std::fabs(hs))) break;
    s = next;
    hs = hnext;
    dh = dnext;
  }
  return s;
}

inline float clamp01(float s) { return !(s > 0) ? 0 : (s > 1 ? 1 : s); }

// Nearest of the three edges and three vertices to the ring.
TorusHit edge_vertex(V3 W, V3 a, float R, float r, const V3 T[3], const V3 E[3], V3 n, V3 nhat) {
  float aa = dot(a, a);
  float best = 0;
  int kind = -1;  // 0..2 edge, 3..5 vertex
  V3 best_point{0, 0, 0};
  for (int i = 0; i < 3; i++) {
    float EE = dot(E[i], E[i]);
    if (!(EE > 0)) continue;  // a zero-length edge is covered by its vertices
    V3 Ep = perp(E[i], a, aa);
    float sc = dot(W - T[i], E[i]) / EE;
    float delta = dot(Ep, Ep) < R * 1e-6f ? 0.001f * R : R * len(Ep) / EE;
    float s0 = clamp01(newton_edge(W, a, aa, R, T[i], E[i], sc - delta));
    float s1 = clamp01(newton_edge(W, a, aa, R, T[i], E[i], sc + delta));
    V3 p0, p1;
    float d0 = edge_distance(W, a, R, T[i], E[i], s0, &p0);
    float d1 = edge_distance(W, a, R, T[i], E[i], s1, &p1);
    if (d1 < d0) {
      d0 = d1;
      p0 = p1;
    }
    if (kind < 0 || d0 < best) {
      best = d0;
      kind = i;
      best_point = p0;
    }
  }
  for (int j = 0; j < 3; j++) {
    V3 v = perp(T[j] - W, a, aa);
    float l = len(v);
    if (l > R) v = v * (R / l);
    float d = len(W + v - T[j]);
    if (kind < 0 || d < best) {
      best = d;
      kind = 3 + j;
      best_point = T[j];
    }
  }
  TorusHit hit{};
  hit.depth = r - best;
  V3 normal;
  V3 point = best_point;
  if (kind >= 3) {
    normal = dot(best_point - W, a) > 0 ? -a : a;
  } else if (best > two_pow_minus_20) {
    normal = ring_point_v(W, a, R, best_point) - best_point;
  } else {
    V3 rp = ring_point_v(W, a, R, best_point);
    V3 t = cross(rp - W, a);
    if (dot(t, n) < 0) t = -t;
    V3 c = cross(E[kind], t);
    normal = dot(c, c) < two_pow_minus_20 ? nhat : unit(c);
    point = rp - normal * r;
  }
  store(point, hit.point);
  store(normal, hit.normal);
  return hit;
}

// Squared distance from p to the triangle (the closest-point regions of
// the vertices, edges and face, in turn).
float triangle_distance_squared(V3 p, const V3 T[3]) {
  V3 a = T[0], b = T[1], c = T[2];
  V3 ab = b - a, ac = c - a, ap = p - a;
  float d1 = dot(ab, ap), d2 = dot(ac, ap);
  V3 q;
  if (d1 <= 0 && d2 <= 0) {
    q = a;
  } else {
    V3 bp = p - b;
    float d3 = dot(ab, bp), d4 = dot(ac, bp);
    V3 cp = p - c;
    float d5 = dot(ab, cp), d6 = dot(ac, cp);
    float vc = d1 * d4 - d3 * d2, vb = d5 * d2 - d1 * d6, va = d3 * d6 - d5 * d4;
    if (d3 >= 0 && d4 <= d3) {
      q = b;
    } else if (vc <= 0 && d1 >= 0 && d3 <= 0 && d1 - d3 > 0) {
      q = a + ab * (d1 / (d1 - d3));
    } else if (d6 >= 0 && d5 <= d6) {
      q = c;
    } else if (vb <= 0 && d2 >= 0 && d6 <= 0 && d2 - d6 > 0) {
      q = a + ac * (d2 / (d2 - d6));
    } else if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0 && (d4 - d3) + (d5 - d6) > 0) {
      q = b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)));
    } else {
      float sum = va + vb + vc;
      if (!(sum != 0)) return 0;  // degenerate: no useful bound
      q = a + ab * (vb / sum) + ac * (vc / sum);
    }
  }
  V3 d = p - q;
  return dot(d, d);
}

TorusHit no_hit() {
  TorusHit hit{};
  hit.depth = -1;
  hit.normal[1] = 1;
  return hit;
}

}  // namespace

void clean_contact_normal(float n[3]) {
  if (n[1] < 0) {
    if (n[0] * n[0] + n[2] * n[2] >= 1.0f / 1024) {
      n[1] = 0;
    } else {
      n[0] = 0;
      n[1] = 1;
      n[2] = 0;
    }
  }
  float l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (l > 0) {
    for (int k = 0; k < 3; k++) n[k] /= l;
  } else {
    n[0] = 0;
    n[1] = 1;
    n[2] = 0;
  }
}

TyreSoftness tyre_softness(float depth, float tube_radius) {
  float f = tube_radius > 0 ? depth / tube_radius : 1;
  if (!(f < 1)) f = 1;
  if (!(f > 0)) f = 0;
  float f3 = f * f * f;
  return {24000 * f3 + 1000, 2300 * f3 + 200};
}

namespace {

// Cell range [lo, hi) covering c - reach .. c + reach, capped round c.
void cell_range(float c, float reach, float inverse_spacing, int *lo, int *hi) {
  constexpr float limit = 1 << 20;
  auto clampg = [](float g) { return !(g > -limit) ? -limit : (g < limit ? g : limit); };
  int a = static_cast<int>(std::floor(clampg((c - reach) * inverse_spacing)));
  int b = static_cast<int>(std::ceil(clampg((c + reach) * inverse_spacing)));
  if (b - a > max_wheel_cells) {
    a = static_cast<int>(std::floor(clampg(c * inverse_spacing))) - max_wheel_cells / 2;
    b = a + max_wheel_cells;
  }
  *lo = a;
  *hi = b;
}

// The wheel's centre and world axle.
void wheel_frame(const WheelContact *wheel, float W[3], float a[3]) {
  const dReal *p = dBodyGetPosition(wheel->body);
  dVector3 axle;
  dBodyVectorToWorld(wheel->body, wheel->axle[0], wheel->axle[1], wheel->axle[2], axle);
  for (int k = 0; k < 3; k++) {
    W[k] = static_cast<float>(p[k]);
    a[k] = static_cast<float>(axle[k]);
  }
}

// One triangle after the face cases of the torus test: either decided (a
// face hit or no contact), or left to the edge-and-vertex search.
struct TorusFace {
  V3 T[3], E[3];
  V3 n, nhat;
  // How far the ring's lowest point D lies above the triangle's plane; no
  // point of the ring or its disc comes nearer to the triangle than this.
  float lift;
  int degenerate;  // no area: only the edge-and-vertex search applies
  int needs_edges;
  TorusHit hit;  // the result when decided
};

void torus_face(V3 W, V3 a, float R, float r, const float T0[3], const float T1[3], const float T2[3],
                TorusFace *f) {
  V3 *T = f->T, *E = f->E;
  T[0] = v3(T0);
  T[1] = v3(T1);
  T[2] = v3(T2);
  E[0] = T[1] - T[0];
  E[1] = T[2] - T[1];
  E[2] = T[0] - T[2];
  f->needs_edges = 1;
  f->degenerate = 0;
  f->lift = 0;
  V3 n = cross(T[1] - T[0], T[2] - T[0]);
  float nl = len(n);
  // A triangle without area has no face; its edges (if any length) still
  // meet the tyre through the edge-and-vertex search.
  if (!(nl > 0) || !std::isfinite(nl)) {
    f->n = f->nhat = V3{0, 1, 0};
    f->degenerate = 1;
    return;
  }
  V3 nhat = n * (1 / nl);
  f->n = n;
  f->nhat = nhat;
  V3 m[3] = {cross(E[0], n), cross(E[1], n), cross(E[2], n)};

  // The ring's direction that points most against the face; a wheel lying
  // flat on the plane has none, and any direction in its plane serves.
  V3 q = a * dot(n, a) - n;
  if (dot(q, q) < 1e-12f * nl * nl) {
    V3 ref = ring_point_v(W, a, 1, W);
    q = ref - W;
  }
  q = unit(q);
  if (dot(q, n) > 0) q = -q;
  V3 D = W + q * R, U = W - q * R;
  float dD = dot(D - T[0], n), dU = dot(U - T[0], n);

  TorusHit &hit = f->hit;
  hit = TorusHit{};
  if (dD > 0) {
    f->lift = dD / nl;
    if (over_triangle(D, T, m)) {
      float h = dD / nl;
      hit.depth = r - h;
      store(ring_point_v(W, a, R, D - nhat * h) - nhat * r, hit.point);
      store(nhat, hit.normal);
      f->needs_edges = 0;
    }
  } else if (dU > 0) {
    float qn = dot(q, n);
    V3 X = qn != 0 ? W + q * (dot(T[0] - W, n) / qn) : D;
    if (over_triangle(X, T, m)) {
      hit.depth = r + std::fabs(dD) / nl;
      store(D - nhat * r, hit.point);
      store(nhat, hit.normal);
      f->needs_edges = 0;
      return;
    }
    bool side[3];
    for (int j = 0; j < 3; j++) side[j] = dot(T[j] - W, a) <= 0;
    for (int i = 0; i < 3; i++) {
      int k = (i + 1) % 3;
      if (!(dot(X - T[i], m[i]) > 0) || side[i] == side[k]) continue;
      float Ea = dot(E[i], a);
      if (Ea == 0) continue;
      V3 P = T[i] + E[i] * (dot(W - T[i], a) / Ea);
      if (!(dot(P - W, P - W) < R * R)) continue;
      V3 t = cross(P - W, a);
      if (dot(t, n) < 0) t = -t;
      V3 normal = unit(cross(E[i], t));
      if (dot(normal, normal) == 0) normal = nhat;
      hit.depth = r - two_pow_minus_20;
      store(ring_point_v(W, a, R, P) - normal * r, hit.point);
      store(normal, hit.normal);
      f->needs_edges = 0;
      return;
    }
  } else {
    // The whole ring is under the plane.
    bool inside = true;
    for (int i = 0; i < 3; i++) {
      V3 side{-E[i].z, 0, E[i].x};  // E_i x (0, 1, 0)
      if (dot(W - T[i], side) > 0) inside = false;
    }
    if (inside) {
      hit.depth = 2 * R;
      store(D, hit.point);
      hit.normal[1] = 1;
      f->needs_edges = 0;
    }
  }
}

// Whether the edge-and-vertex search of a triangle can still matter: every
// distance it measures is at least the triangle's distance from the centre
// less R, at least the ring's height over the plane, and at least the
// nearest vertex's distance from the wheel's plane when all three lie on one
// side of it. A search that could not beat `floor` by more than edge_tie is
// skipped.
bool edges_may_reach(V3 W, V3 a, float R, float r, const TorusFace &f, float floor) {
  // Before anything touches, only a triangle that surely stays clear is
  // skipped; after that, also one that could only tie with the deepest
  // (rounding decides such ties either way).
  float target = floor > 0 ? floor + edge_tie : -edge_rounding;
  float aa = dot(a, a);
  if (aa > 0) {
    float s[3];
    for (int j = 0; j < 3; j++) s[j] = dot(f.T[j] - W, a);
    float slab = 0;
    if (s[0] > 0 && s[1] > 0 && s[2] > 0) slab = std::min(std::min(s[0], s[1]), s[2]);
    if (s[0] < 0 && s[1] < 0 && s[2] < 0) slab = -std::max(std::max(s[0], s[1]), s[2]);
    slab /= std::sqrt(aa);
    if (r - slab < target) return false;
  }
  if (r - f.lift < target) return false;
  // The bound through the centre.
  float reach = R + r - (floor > 0 ? floor : 0) + 1.0f / 256;
  return !(triangle_distance_squared(W, f.T) > reach * reach);
}

// The box the torus fills: half extents along the world axes, the ring's
// radius R shortened by how far the axle leans into each axis, plus r.
void torus_extent(const float a[3], float R, float r, float ext[3]) {
  float aa = a[0] * a[0] + a[1] * a[1] + a[2] * a[2];
  for (int k = 0; k < 3; k++) {
    float c = aa > 0 ? 1 - a[k] * a[k] / aa : 1;
    ext[k] = R * std::sqrt(c > 0 ? c : 0) + r;
  }
}

// Runs the torus test over the wheel's footprint. `first` stops at the first
// penetrating triangle (in the order of the cells) instead of keeping the
// deepest; `edges` 0 leaves out the edge-and-vertex search.
//
// The deepest triangle is the one a plain walk over the cells would keep:
// the greatest depth, the earliest triangle of equal ones. Triangles that
// cannot touch the tyre are skipped first: those entirely under the tyre's
// lowest point, and those whose footprint on the ground misses the tyre's
// box (a torus buried under a triangle still has its centre over it). The
// cheap face cases then run for every remaining triangle, starting with the
// cell under the centre, and the costly edge-and-vertex search only where it
// can still beat the deepest found.
TorusHit footprint_test(const Terrain *t, const float Wf[3], const float af[3], float R, float r, int edges,
                        int first) {
  TorusHit best = no_hit();
  best.depth = 0;
  if (!std::isfinite(Wf[0]) || !std::isfinite(Wf[1]) || !std::isfinite(Wf[2])) return best;
  int c0, c1, r0, r1;
  cell_range(Wf[0], R + r, t->inverse_spacing, &c0, &c1);
  cell_range(Wf[2], R + r, t->inverse_spacing, &r0, &r1);
  int cols = c1 - c0, rows = r1 - r0;
  static_assert(max_wheel_cells <= 32, "the footprint buffers live on the stack");
  float h[(max_wheel_cells + 1) * (max_wheel_cells + 1)];
  int stride = cols + 1;
  for (int b = 0; b <= rows; b++)
    for (int c = 0; c <= cols; c++) h[c + b * stride] = terrain_vertex_height(t, c0 + c, r0 + b);

  float ext[3];
  torus_extent(af, R, r, ext);
  float margin = ground_cull_margin(Wf, R + r);
  float low = Wf[1] - ext[1] - margin;
  float xlo = Wf[0] - ext[0] - margin, xhi = Wf[0] + ext[0] + margin;
  float zlo = Wf[2] - ext[2] - margin, zhi = Wf[2] + ext[2] + margin;

  V3 W = v3(Wf), a = v3(af);
  float spacing = t->spacing;
  // Triangles left for the edge-and-vertex search, with their place in the
  // walk; searched when the list is full and after the walk.
  constexpr int max_pending = 32;
  TorusFace pending[max_pending];
  int pending_index[max_pending];
  int pending_count = 0;
  int best_index = -1;
  // Equal depths go to the triangle the walk meets first.
  auto consider = [&](const TorusHit &hit, int index) {
    if (hit.depth > best.depth || (hit.depth == best.depth && hit.depth > 0 && index < best_index)) {
      best = hit;
      best_index = index;
    }
  };
  auto search_pending = [&]() {
    for (int p = 0; p < pending_count; p++) {
      const TorusFace &f = pending[p];
      if (!edges_may_reach(W, a, R, r, f, best.depth)) continue;
      consider(edge_vertex(W, a, R, r, f.T, f.E, f.n, f.nhat), pending_index[p]);
    }
    pending_count = 0;
  };
  // Returns 1 when `first` has found its triangle.
  auto visit = [&](int i, int j) {
    float z0 = static_cast<float>(j) * spacing, z1 = static_cast<float>(j + 1) * spacing;
    float x0 = static_cast<float>(i) * spacing, x1 = static_cast<float>(i + 1) * spacing;
    if (z1 < zlo || z0 > zhi || x1 < xlo || x0 > xhi) return 0;
    const float *row = h + (j - r0) * stride - c0;
    float h00 = row[i], h10 = row[i + 1], h01 = row[i + stride], h11 = row[i + 1 + stride];
    float top = std::max(std::max(h00, h10), std::max(h01, h11));
    if (top < low) return 0;
    if (best.depth > 0 && !first && Wf[1] > top + margin) {
      // With the centre above the cell, no buried ring can lie under it, and
      // every other way to beat the deepest contact found needs a point of
      // the cell within R + max(r - depth, 0) of the centre.
      float dx = Wf[0] < x0 ? x0 - Wf[0] : (Wf[0] > x1 ? Wf[0] - x1 : 0);
      float dz = Wf[2] < z0 ? z0 - Wf[2] : (Wf[2] > z1 ? Wf[2] - z1 : 0);
      float dy = Wf[1] - top;
      float reach = R + std::max(r - best.depth, 0.0f) + margin;
      if (dx * dx + dy * dy + dz * dz > reach * reach) return 0;
    }
    int even = (i & 1) == (j & 1);
    // The halves in the height field's split and vertex order.
    float tri[2][3][3] = {{{x0, h00, z0}, {x0, h01, z1}, {x1, even ? h11 : h10, even ? z1 : z0}},
                          {{x1, h11, z1}, {x1, h10, z0}, {x0, even ? h00 : h01, even ? z0 : z1}}};
    for (int half = 0; half < 2; half++) {
      float(*v)[3] = tri[half];
      if (std::max(std::max(v[0][1], v[1][1]), v[2][1]) < low) continue;
      int index = 2 * ((i - c0) + (j - r0) * cols) + half;
      TorusFace &f = pending[pending_count];
      torus_face(W, a, R, r, v[0], v[1], v[2], &f);
      if (f.needs_edges) {
        if (!edges) continue;
        pending_index[pending_count++] = index;
        if (pending_count == max_pending) search_pending();
        continue;
      }
      if (first) {
        if (f.hit.depth > 0) {
          best = f.hit;
          return 1;
        }
        continue;
      }
      consider(f.hit, index);
    }
    return 0;
  };
  if (first) {
    for (int j = r0; j < r1; j++)
      for (int i = c0; i < c1; i++)
        if (visit(i, j)) return best;
    return best;
  }
  // The cell under the centre first: the tyre mostly rests on it or next to
  // it, and the depth found there lets most other cells be passed over.
  int ci = static_cast<int>(std::floor(Wf[0] * t->inverse_spacing));
  int cj = static_cast<int>(std::floor(Wf[2] * t->inverse_spacing));
  ci = std::clamp(ci, c0, c1 - 1);
  cj = std::clamp(cj, r0, r1 - 1);
  visit(ci, cj);
  for (int j = r0; j < r1; j++)
    for (int i = c0; i < c1; i++)
      if (i != ci || j != cj) visit(i, j);
  search_pending();
  return best;
}

}  // namespace

const Tile *ground_tile(const Terrain *t, float x, float z) {
  static Tile fallback;  // set on first use, lives for the process
  static bool fallback_ready = false;
  int index = tile_at(t, x, z);
  if (index >= 0 && index < t->tile_count) return &t->tiles[index];
  if (!fallback_ready) {
    tile_defaults(&fallback);
    fallback_ready = true;
  }
  return &fallback;
}

void ring_point(const float W[3], const float a[3], float R, const float p[3], float out[3]) {
  store(ring_point_v(v3(W), v3(a), R, v3(p)), out);
}

TorusHit torus_ground_contact(const Terrain *terrain, const float W[3], const float a[3], float R, float r) {
  return footprint_test(terrain, W, a, R, r, 1, 0);
}

TorusHit torus_triangle(const float Wf[3], const float af[3], float R, float r, const float T0[3],
                        const float T1[3], const float T2[3], int edges) {
  V3 W = v3(Wf), a = v3(af);
  TorusFace f;
  torus_face(W, a, R, r, T0, T1, T2, &f);
  if (!f.needs_edges) return f.hit;
  if (!edges) return no_hit();
  // Every edge and vertex distance the search measures is at least the
  // triangle's distance from the centre less R: a triangle farther than
  // R + r (with a margin for rounding) cannot touch.
  float reach = R + r + 1.0f / 256;
  if (!f.degenerate && triangle_distance_squared(W, f.T) > reach * reach) return no_hit();
  return edge_vertex(W, a, R, r, f.T, f.E, f.n, f.nhat);
}

int wheel_contact(const Terrain *t, WheelContact *wheel, float friction_scale) {
  float W[3], a[3];
  wheel_frame(wheel, W, a);
  float R = wheel->ring_radius, r = wheel->tube_radius;
  TorusHit best = footprint_test(t, W, a, R, r, 1, 0);
  if (!(best.depth > 0)) {
    wheel->depth = 0;
    return 0;
  }
  clean_contact_normal(best.normal);
  memcpy(wheel->point, best.point, sizeof wheel->point);
  memcpy(wheel->normal, best.normal, sizeof wheel->normal);
  wheel->depth = best.depth;
  dVector3 vel;
  dBodyGetPointVel(wheel->body, best.point[0], best.point[1], best.point[2], vel);
  for (int k = 0; k < 3; k++) wheel->velocity[k] = static_cast<float>(vel[k]);
  V3 n = v3(wheel->normal), v = v3(wheel->velocity);

  const Tile *tile = ground_tile(t, best.point[0], best.point[2]);
  float mu = friction_at(tile, len(v)) * friction_scale;

  float f = best.depth / r;
  if (!(f < 1)) f = 1;
  TyreSoftness soft = tyre_softness(best.depth, r);
  double h = seconds_per_tic;
  double k = soft.stiffness, damping = soft.damping;

  dContact contact;
  memset(&contact, 0, sizeof contact);
  contact.surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
  contact.surface.mu = mu;
  contact.surface.soft_erp = h * k / (h * k + damping);
  contact.surface.soft_cfm = 1 / (h * k + damping);
  V3 dir = cross(n, v);
  if (dot(dir, dir) < 1.0f / 1024) dir = cross(n, v3(a));
  if (dot(dir, dir) > 0) {
    dir = unit(dir);
    contact.surface.mode |= dContactFDir1;
    contact.fdir1[0] = dir.x;
    contact.fdir1[1] = dir.y;
    contact.fdir1[2] = dir.z;
  }
  for (int c = 0; c < 3; c++) {
    contact.geom.pos[c] = best.point[c];
    contact.geom.normal[c] = wheel->normal[c];
  }
  contact.geom.depth = best.depth;
  dJointID joint = dJointCreateContact(physics_world(), physics_contact_group(), &contact);
  dJointAttach(joint, wheel->body, nullptr);
  dJointSetFeedback(joint, &wheel->feedback);

  // Rolling resistance against the sliding direction, fading in below 1 ft/s.
  V3 vt = v - n * dot(v, n);
  float s = len(vt);
  float ab[2];
  roll_resist_at(tile, s, ab);
  if (s > 1) vt = vt * (1 / s);
  V3 force = vt * -(ab[0] + (ab[1] - ab[0]) * f);
  dBodyAddForce(wheel->body, force.x, force.y, force.z);
  return 1;
}

WheelQuery wheel_contact_query(const Terrain *t, const WheelContact *wheel) {
  WheelQuery out{};
  float W[3], a[3];
  wheel_frame(wheel, W, a);
  TorusHit hit = footprint_test(t, W, a, wheel->ring_radius, wheel->tube_radius, 0, 1);
  if (!(hit.depth > 0)) {
    out.normal[1] = 1;
    return out;
  }
  clean_contact_normal(hit.normal);
  out.touched = 1;
  memcpy(out.point, hit.point, sizeof out.point);
  memcpy(out.normal, hit.normal, sizeof out.normal);
  out.depth = hit.depth;
  return out;
}

float bike_friction_scale(const BikeState *bike) {
  if (!(bike->arcade & 1)) return 1;
  float x = std::fabs(lean_angle(bike)) * 4 / 3.14159265358979f;
  if (!(x < 1)) x = 1;
  return 1 - 0.375f * x;
}

void set_shape_terrain_hook(ShapeTerrainHook hook) { shape_terrain_hook = hook; }

int bike_terrain_contacts(BikeState *bike, const Terrain *terrain) {
  float scale = bike_friction_scale(bike);
  int touched = wheel_contact(terrain, &bike->wheels[0], scale);
  touched |= wheel_contact(terrain, &bike->wheels[1], scale);
  if (shape_terrain_hook) touched |= shape_terrain_hook(bike, terrain);
  return touched;
}

void place_bikes_on_ground(BikeState *const *bikes, int count, const Terrain *terrain) {
  // Each probe lifts by 0.25 ft; a bike more than this far under the ground
  // is beyond saving and is left where the loop stopped.
  constexpr int max_lifts = 4096;
  for (int b = 0; b < count; b++) {
    BikeState *bike = bikes[b];
    if (!bike) continue;
    move_bike(bike, 0, 0.125, 0);
    for (int lift = 0; lift < max_lifts && bike_terrain_contacts(bike, terrain); lift++) {
      move_bike(bike, 0, 0.25, 0);
      dJointGroupEmpty(physics_contact_group());
    }
    dJointGroupEmpty(physics_contact_group());
    move_bike(bike, 0, -0.125, 0);
    // The probes left forces on the wheels; the bike starts without them.
    for (dBodyID body : bike->bodies) {
      dBodySetForce(body, 0, 0, 0);
      dBodySetTorque(body, 0, 0, 0);
    }
  }
  dJointGroupEmpty(physics_contact_group());
}
