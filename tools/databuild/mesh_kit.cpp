// The builder's mesh kit: primitives (faces, boxes, tubes, surfaces of
// revolution, ellipsoids, extruded side profiles) placed into a mesh, and
// the ".hm" text the game reads. Every face is wound counter-clockwise seen
// from outside, since the game culls back faces.
//
// ".hm": "HM1", or "HM2" followed by the bone count and a word; then per
// mesh "material q red green blue V T", V vertices (position, normal,
// texture u v, and in version 2 one weight per bone) and T triangles of
// three vertex indices. The game stores v as 1 - v, so v = 1 is the top row
// of a picture.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "databuild.h"

namespace databuild {

namespace {

constexpr float two_pi = 6.28318530718f;

Vec3 place_point(const Place &at, Vec3 p) {
  return v_add(at.origin, v_add(v_scale(at.ax, p.x), v_add(v_scale(at.ay, p.y), v_scale(at.az, p.z))));
}

Vec3 place_vector(const Place &at, Vec3 n) {
  return v_add(v_scale(at.ax, n.x), v_add(v_scale(at.ay, n.y), v_scale(at.az, n.z)));
}

float lerp(float a, float b, float f) { return a + (b - a) * f; }

// Newell's normal of a polygon (not normalised).
Vec3 polygon_normal(const Vec3 *p, int count) {
  Vec3 n{0, 0, 0};
  for (int i = 0; i < count; i++) {
    Vec3 a = p[i], b = p[(i + 1) % count];
    n.x += (a.y - b.y) * (a.z + b.z);
    n.y += (a.z - b.z) * (a.x + b.x);
    n.z += (a.x - b.x) * (a.y + b.y);
  }
  return n;
}

// Ear clipping of a simple polygon given counter-clockwise in 2D.
void ear_clip(const std::vector<float> &xy, std::vector<int> *out) {
  std::vector<int> left;
  for (int i = 0; i < static_cast<int>(xy.size() / 2); i++) left.push_back(i);
  auto cross = [&](int a, int b, int c) {
    return (xy[2 * b] - xy[2 * a]) * (xy[2 * c + 1] - xy[2 * a + 1]) -
           (xy[2 * b + 1] - xy[2 * a + 1]) * (xy[2 * c] - xy[2 * a]);
  };
  int guard = 0;
  while (left.size() > 3 && guard++ < 10000) {
    int n = static_cast<int>(left.size());
    bool clipped = false;
    for (int i = 0; i < n; i++) {
      int a = left[(i + n - 1) % n], b = left[i], c = left[(i + 1) % n];
      if (cross(a, b, c) <= 0) continue;
      bool empty = true;
      for (int k : left) {
        if (k == a || k == b || k == c) continue;
        if (cross(a, b, k) >= 0 && cross(b, c, k) >= 0 && cross(c, a, k) >= 0) {
          empty = false;
          break;
        }
      }
      if (!empty) continue;
      out->insert(out->end(), {a, b, c});
      left.erase(left.begin() + i);
      clipped = true;
      break;
    }
    if (!clipped) break;  // not simple: give up on the rest
  }
  if (left.size() == 3) out->insert(out->end(), {left[0], left[1], left[2]});
}

double rounded(float v) { return std::round(static_cast<double>(v) * 10000.0) / 10000.0; }

}  // namespace

Vec3 v3(float x, float y, float z) { return {x, y, z}; }
Vec3 v_add(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 v_sub(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 v_scale(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float v_dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 v_cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float v_len(Vec3 a) { return std::sqrt(v_dot(a, a)); }
Vec3 v_unit(Vec3 a) {
  float l = v_len(a);
  return l > 0 ? v_scale(a, 1.0f / l) : Vec3{0, 1, 0};
}

Vec3 v_from(const float p[3]) { return {p[0], p[1], p[2]}; }

int lod_sides(int full, int detail) {
  // Steep: a pack of forty is mostly a few lengths off, and on software GL
  // its triangles cost the frame more than anything else it draws. From
  // 23 ft a bike is a few hundred pixels long at most.
  static const float factor[model_lod_count + 1] = {1.0f, 0.625f, 0.3f, 0.16f, 0.1f, 0.07f};
  return std::max(3, static_cast<int>(std::lround(static_cast<float>(full) * factor[std::clamp(detail, 0, model_lod_count)])));
}

std::string model_base_name(const char *data_path) {
  std::string name = data_path;
  if (!name.empty() && name[0] == '@') name = name.substr(1);
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".hm") == 0) name = name.substr(0, name.size() - 3);
  return name;
}

UvRect swatch(int k, int columns, int rows, int first_row) {
  float w = 1.0f / static_cast<float>(columns), h = 1.0f / static_cast<float>(rows);
  float u = static_cast<float>(k % columns) * w, t = static_cast<float>(first_row + k / columns) * h;
  return {u + 0.15f * w, t + 0.15f * h, u + 0.85f * w, t + 0.85f * h};
}

Place place_at(Vec3 origin) {
  Place p;
  p.origin = origin;
  return p;
}

Place place_along(Vec3 origin, Vec3 up, Vec3 side) {
  Place p;
  p.origin = origin;
  p.ay = v_unit(up);
  p.az = v_unit(v_cross(side, p.ay));
  p.ax = v_cross(p.ay, p.az);
  return p;
}

Place place_rotate_x(Vec3 origin, float radians) {
  Place p;
  p.origin = origin;
  float c = std::cos(radians), s = std::sin(radians);
  p.ay = {0, c, s};
  p.az = {0, -s, c};
  return p;
}

int mesh_vertex(Mesh *mesh, const Place &at, Vec3 p, Vec3 n, float u, float t) {
  MeshVertex v{};
  Vec3 wp = place_point(at, p), wn = v_unit(place_vector(at, n));
  v.p[0] = wp.x, v.p[1] = wp.y, v.p[2] = wp.z;
  v.n[0] = wn.x, v.n[1] = wn.y, v.n[2] = wn.z;
  v.uv[0] = u, v.uv[1] = t;
  mesh->verts.push_back(v);
  return static_cast<int>(mesh->verts.size()) - 1;
}

void mesh_triangle(Mesh *mesh, int a, int b, int c) { mesh->tris.insert(mesh->tris.end(), {a, b, c}); }

void mesh_face(Mesh *mesh, const Place &at, const Vec3 *corners, const float (*uv)[2], int count) {
  Vec3 n = v_unit(polygon_normal(corners, count));
  // Project onto the face's plane with axes (e1, e2) so that e1 x e2 = n.
  Vec3 helper = std::fabs(n.x) < 0.9f ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
  Vec3 e1 = v_unit(v_cross(helper, n)), e2 = v_cross(n, e1);
  std::vector<float> xy;
  int first = static_cast<int>(mesh->verts.size());
  for (int i = 0; i < count; i++) {
    xy.push_back(v_dot(corners[i], e1));
    xy.push_back(v_dot(corners[i], e2));
    mesh_vertex(mesh, at, corners[i], n, uv[i][0], uv[i][1]);
  }
  std::vector<int> tris;
  ear_clip(xy, &tris);
  for (size_t i = 0; i + 2 < tris.size(); i += 3) mesh_triangle(mesh, first + tris[i], first + tris[i + 1], first + tris[i + 2]);
}

void mesh_box(Mesh *mesh, const Place &at, Vec3 c, Vec3 h, UvRect uv) {
  const UvRect faces[6] = {uv, uv, uv, uv, uv, uv};
  mesh_box_faces(mesh, at, c, h, faces);
}

void mesh_box_faces(Mesh *mesh, const Place &at, Vec3 c, Vec3 h, const UvRect faces_uv[6]) {
  // Each face: its normal axis and the two axes spanning it (s x t = normal).
  static const int faces[6][3] = {{0, 1, 2}, {0, 1, 2}, {1, 2, 0}, {1, 2, 0}, {2, 0, 1}, {2, 0, 1}};
  for (int f = 0; f < 6; f++) {
    float sign = (f & 1) ? -1.0f : 1.0f;
    int a = faces[f][0], s = faces[f][1], t = faces[f][2];
    Vec3 corners[4];
    float uvs[4][2];
    static const float ss[4] = {-1, 1, 1, -1}, tt[4] = {-1, -1, 1, 1};
    for (int k = 0; k < 4; k++) {
      float p[3] = {c.x, c.y, c.z}, hh[3] = {h.x, h.y, h.z};
      p[a] += sign * hh[a];
      p[s] += ss[k] * hh[s] * sign;
      p[t] += tt[k] * hh[t];
      corners[k] = {p[0], p[1], p[2]};
      const UvRect &uv = faces_uv[f];
      uvs[k][0] = lerp(uv.u0, uv.u1, 0.5f + 0.5f * ss[k]);
      uvs[k][1] = lerp(uv.t1, uv.t0, 0.5f + 0.5f * tt[k]);
    }
    mesh_face(mesh, at, corners, uvs, 4);
  }
}

void mesh_tube(Mesh *mesh, const Place &at, const Vec3 *path, const float *rx, const float *ry, int count,
               int sides, UvRect uv, int caps) {
  if (count < 2 || sides < 3) return;
  std::vector<Vec3> tangent(static_cast<size_t>(count)), normal(static_cast<size_t>(count));
  std::vector<float> along(static_cast<size_t>(count), 0.0f);
  for (int i = 0; i < count; i++) {
    Vec3 d = v_sub(path[std::min(i + 1, count - 1)], path[std::max(i - 1, 0)]);
    tangent[static_cast<size_t>(i)] = v_unit(d);
    if (i > 0) along[static_cast<size_t>(i)] = along[static_cast<size_t>(i - 1)] + v_len(v_sub(path[i], path[i - 1]));
  }
  // Frames carried along the path so the tube does not twist.
  Vec3 t0 = tangent[0];
  Vec3 ref = std::fabs(t0.x) < 0.8f ? Vec3{1, 0, 0} : Vec3{0, 0, 1};
  normal[0] = v_unit(v_sub(ref, v_scale(t0, v_dot(ref, t0))));
  for (int i = 1; i < count; i++) {
    Vec3 t = tangent[static_cast<size_t>(i)], n = normal[static_cast<size_t>(i - 1)];
    normal[static_cast<size_t>(i)] = v_unit(v_sub(n, v_scale(t, v_dot(n, t))));
  }
  float total = std::max(along.back(), 1e-6f);
  int first = static_cast<int>(mesh->verts.size());
  for (int i = 0; i < count; i++) {
    Vec3 t = tangent[static_cast<size_t>(i)], n = normal[static_cast<size_t>(i)], b = v_cross(t, n);
    for (int k = 0; k <= sides; k++) {
      float a = two_pi * static_cast<float>(k) / static_cast<float>(sides);
      float c = std::cos(a), s = std::sin(a);
      Vec3 off = v_add(v_scale(n, c * rx[i]), v_scale(b, s * ry[i]));
      Vec3 nn = v_add(v_scale(n, c / std::max(rx[i], 1e-4f)), v_scale(b, s / std::max(ry[i], 1e-4f)));
      mesh_vertex(mesh, at, v_add(path[i], off), nn, lerp(uv.u0, uv.u1, static_cast<float>(k) / static_cast<float>(sides)),
                  lerp(uv.t0, uv.t1, along[static_cast<size_t>(i)] / total));
    }
  }
  int ring = sides + 1;
  for (int i = 0; i + 1 < count; i++) {
    if (v_len(v_sub(path[i + 1], path[i])) <= 0) continue;
    for (int k = 0; k < sides; k++) {
      int a = first + i * ring + k, bb = a + ring, c = bb + 1, d = a + 1;
      mesh_triangle(mesh, a, c, bb);
      mesh_triangle(mesh, a, d, c);
    }
  }
  if (!caps) return;
  for (int end = 0; end < 2; end++) {
    int i = end ? count - 1 : 0;
    if ((end ? rx[i] : rx[0]) <= 0) continue;
    Vec3 n = end ? tangent[static_cast<size_t>(i)] : v_scale(tangent[0], -1);
    float tc = end ? uv.t1 : uv.t0;
    int centre = mesh_vertex(mesh, at, path[i], n, 0.5f * (uv.u0 + uv.u1), tc);
    int rim = static_cast<int>(mesh->verts.size());
    for (int k = 0; k < sides; k++) {
      const MeshVertex &src = mesh->verts[static_cast<size_t>(first + i * ring + k)];
      MeshVertex v = src;
      Vec3 wn = v_unit(place_vector(at, n));
      v.n[0] = wn.x, v.n[1] = wn.y, v.n[2] = wn.z;
      v.uv[1] = tc;
      mesh->verts.push_back(v);
    }
    for (int k = 0; k < sides; k++) {
      int a = rim + k, b = rim + (k + 1) % sides;
      if (end)
        mesh_triangle(mesh, centre, a, b);
      else
        mesh_triangle(mesh, centre, b, a);
    }
  }
}

void mesh_lathe(Mesh *mesh, const Place &at, const float (*profile)[2], int count, int slices, UvRect uv) {
  if (count < 2 || slices < 3) return;
  std::vector<float> along(static_cast<size_t>(count), 0.0f);
  for (int i = 1; i < count; i++)
    along[static_cast<size_t>(i)] = along[static_cast<size_t>(i - 1)] +
                                    std::hypot(profile[i][0] - profile[i - 1][0], profile[i][1] - profile[i - 1][1]);
  float total = std::max(along.back(), 1e-6f);
  auto segment_normal = [&](int i, float *nx, float *nr) {  // segment i .. i + 1, 0 when it has no length
    float dx = profile[i + 1][0] - profile[i][0], dr = profile[i + 1][1] - profile[i][1];
    float l = std::hypot(dx, dr);
    *nx = l > 0 ? -dr / l : 0;
    *nr = l > 0 ? dx / l : 0;
  };
  int first = static_cast<int>(mesh->verts.size());
  for (int i = 0; i < count; i++) {
    // The sum of both neighbouring segments' normals; a repeated point gives
    // a segment without length, so each copy takes only its own side: a crease.
    float nx = 0, nr = 0, ax, ar;
    if (i > 0) {
      segment_normal(i - 1, &ax, &ar);
      nx += ax, nr += ar;
    }
    if (i + 1 < count) {
      segment_normal(i, &ax, &ar);
      nx += ax, nr += ar;
    }
    for (int k = 0; k <= slices; k++) {
      float b = two_pi * static_cast<float>(k) / static_cast<float>(slices);
      float c = std::cos(b), s = std::sin(b);
      mesh_vertex(mesh, at, {profile[i][0], profile[i][1] * c, profile[i][1] * s}, {nx, nr * c, nr * s},
                  lerp(uv.u0, uv.u1, static_cast<float>(k) / static_cast<float>(slices)),
                  lerp(uv.t0, uv.t1, along[static_cast<size_t>(i)] / total));
    }
  }
  int ring = slices + 1;
  for (int i = 0; i + 1 < count; i++) {
    if (profile[i][0] == profile[i + 1][0] && profile[i][1] == profile[i + 1][1]) continue;
    for (int k = 0; k < slices; k++) {
      int a = first + i * ring + k, bb = a + ring, c = bb + 1, d = a + 1;
      if (profile[i][1] > 0) mesh_triangle(mesh, a, d, bb);
      if (profile[i + 1][1] > 0) mesh_triangle(mesh, bb, d, c);
    }
  }
}

void mesh_ellipsoid(Mesh *mesh, const Place &at, Vec3 c, Vec3 r, int stacks, int slices, UvRect uv) {
  int first = static_cast<int>(mesh->verts.size());
  for (int i = 0; i <= stacks; i++) {
    float th = 3.14159265f * static_cast<float>(i) / static_cast<float>(stacks);
    for (int k = 0; k <= slices; k++) {
      float ph = two_pi * static_cast<float>(k) / static_cast<float>(slices);
      // A pole vertex takes the middle of the slice whose triangle uses it
      // (the one before it at the top, after it at the bottom), so the
      // texture does not pinch; the unused end ones stay in range.
      float uf = static_cast<float>(k) / static_cast<float>(slices);
      if (i == 0) uf = std::max(0.0f, (static_cast<float>(k) - 0.5f) / static_cast<float>(slices));
      if (i == stacks) uf = std::min(1.0f, (static_cast<float>(k) + 0.5f) / static_cast<float>(slices));
      Vec3 unit{std::sin(th) * std::sin(ph), std::cos(th), std::sin(th) * std::cos(ph)};
      Vec3 p{c.x + r.x * unit.x, c.y + r.y * unit.y, c.z + r.z * unit.z};
      Vec3 n{unit.x / r.x, unit.y / r.y, unit.z / r.z};
      mesh_vertex(mesh, at, p, n, lerp(uv.u0, uv.u1, uf), lerp(uv.t0, uv.t1, static_cast<float>(i) / static_cast<float>(stacks)));
    }
  }
  int ring = slices + 1;
  for (int i = 0; i < stacks; i++)
    for (int k = 0; k < slices; k++) {
      int a = first + i * ring + k, b = a + ring, cc = b + 1, d = a + 1;
      if (i > 0) mesh_triangle(mesh, a, b, d);
      if (i + 1 < stacks) mesh_triangle(mesh, b, cc, d);
    }
}

void mesh_slab(Mesh *mesh, const Place &at, const float (*zy)[2], int count, float x0, float x1,
               const Projection &map) {
  auto uv_of = [&](float z, float y, float out[2]) {
    out[0] = lerp(map.uv.u0, map.uv.u1, (z - map.z0) / (map.z1 - map.z0));
    out[1] = lerp(map.uv.t0, map.uv.t1, (map.y1 - y) / (map.y1 - map.y0));
  };
  float area = 0;
  for (int i = 0; i < count; i++) {
    int j = (i + 1) % count;
    area += zy[i][0] * zy[j][1] - zy[j][0] * zy[i][1];
  }
  std::vector<Vec3> corners(static_cast<size_t>(count));
  std::vector<std::array<float, 2>> uvs(static_cast<size_t>(count));
  for (int side = 0; side < 2; side++) {
    float x = side ? x1 : x0;
    // Seen from +x the screen's right is -z: a profile counter-clockwise in
    // (z, y) is clockwise there.
    bool reverse = (area > 0) == (side == 1);
    for (int i = 0; i < count; i++) {
      int k = reverse ? count - 1 - i : i;
      corners[static_cast<size_t>(i)] = {x, zy[k][1], zy[k][0]};
      uv_of(zy[k][0], zy[k][1], uvs[static_cast<size_t>(i)].data());
    }
    mesh_face(mesh, at, corners.data(), reinterpret_cast<const float(*)[2]>(uvs.data()), count);
  }
  for (int i = 0; i < count; i++) {
    int j = (i + 1) % count;
    if (zy[i][0] == zy[j][0] && zy[i][1] == zy[j][1]) continue;
    Vec3 q[4] = {{x0, zy[i][1], zy[i][0]}, {x1, zy[i][1], zy[i][0]}, {x1, zy[j][1], zy[j][0]}, {x0, zy[j][1], zy[j][0]}};
    if (area < 0) std::swap(q[1], q[3]);
    float quv[4][2];
    for (int k = 0; k < 4; k++) uv_of(q[k].z, q[k].y, quv[k]);
    mesh_face(mesh, at, q, quv, 4);
  }
}

void mesh_smooth_normals(Mesh *mesh, int first) {
  size_t from = static_cast<size_t>(first);
  std::vector<Vec3> sum(mesh->verts.size() - from, Vec3{0, 0, 0});
  for (size_t i = 0; i + 2 < mesh->tris.size(); i += 3) {
    int ix[3] = {mesh->tris[i], mesh->tris[i + 1], mesh->tris[i + 2]};
    if (ix[0] < first || ix[1] < first || ix[2] < first) continue;
    Vec3 p[3];
    for (int k = 0; k < 3; k++) {
      const float *q = mesh->verts[static_cast<size_t>(ix[k])].p;
      p[k] = {q[0], q[1], q[2]};
    }
    Vec3 n = v_cross(v_sub(p[1], p[0]), v_sub(p[2], p[0]));
    for (int k = 0; k < 3; k++) sum[static_cast<size_t>(ix[k]) - from] = v_add(sum[static_cast<size_t>(ix[k]) - from], n);
  }
  for (size_t i = from; i < mesh->verts.size(); i++) {
    if (v_len(sum[i - from]) <= 0) continue;
    Vec3 n = v_unit(sum[i - from]);
    mesh->verts[i].n[0] = n.x, mesh->verts[i].n[1] = n.y, mesh->verts[i].n[2] = n.z;
  }
}

Mesh reflection_of(const Mesh &mesh, float strength, float r, float g, float b) {
  Mesh out = mesh;
  out.material = -1;
  out.q = strength;
  out.rgb[0] = r, out.rgb[1] = g, out.rgb[2] = b;
  return out;
}

void mesh_bind(Mesh *mesh, int first, int bone) {
  for (size_t i = static_cast<size_t>(first); i < mesh->verts.size(); i++) {
    for (float &w : mesh->verts[i].w) w = 0;
    mesh->verts[i].w[bone] = 1;
  }
}

Bytes hm_text(const Model &model) {
  Bytes out;
  int bones = 0;
  for (const Mesh &m : model.meshes) bones = std::max(bones, m.bones);
  if (bones > 0)
    bytes_printf(&out, "HM2\n%d skin\n", bones);
  else
    bytes_printf(&out, "HM1\n");
  for (const Mesh &m : model.meshes) {
    std::vector<int> kept;
    for (size_t i = 0; i + 2 < m.tris.size(); i += 3) {
      int ix[3] = {m.tris[i], m.tris[i + 1], m.tris[i + 2]};
      double p[3][3];
      for (int k = 0; k < 3; k++)
        for (int c = 0; c < 3; c++) p[k][c] = rounded(m.verts[static_cast<size_t>(ix[k])].p[c]);
      double e1[3], e2[3];
      for (int c = 0; c < 3; c++) e1[c] = p[1][c] - p[0][c], e2[c] = p[2][c] - p[0][c];
      double cx = e1[1] * e2[2] - e1[2] * e2[1], cy = e1[2] * e2[0] - e1[0] * e2[2], cz = e1[0] * e2[1] - e1[1] * e2[0];
      if (cx * cx + cy * cy + cz * cz < 1e-14) continue;
      kept.insert(kept.end(), ix, ix + 3);
    }
    bytes_printf(&out, "%g %g %.3f %.3f %.3f %zu %zu\n", static_cast<double>(m.material), static_cast<double>(m.q),
                 static_cast<double>(m.rgb[0]), static_cast<double>(m.rgb[1]), static_cast<double>(m.rgb[2]),
                 m.verts.size(), kept.size() / 3);
    for (const MeshVertex &v : m.verts) {
      bytes_printf(&out, "%.4f %.4f %.4f %.3f %.3f %.3f %.4f %.4f", rounded(v.p[0]), rounded(v.p[1]), rounded(v.p[2]),
                   static_cast<double>(v.n[0]), static_cast<double>(v.n[1]), static_cast<double>(v.n[2]),
                   static_cast<double>(v.uv[0]), 1.0 - static_cast<double>(v.uv[1]));
      if (bones > 0) {
        // At most four influences, summing to one.
        float w[rider_bone_count];
        std::copy(v.w, v.w + rider_bone_count, w);
        for (int pass = 0; pass < rider_bone_count; pass++) {
          int positive = 0, smallest = -1;
          for (int b = 0; b < rider_bone_count; b++)
            if (w[b] > 0) {
              positive++;
              if (smallest < 0 || w[b] < w[smallest]) smallest = b;
            }
          if (positive <= 4) break;
          w[smallest] = 0;
        }
        float sum = 0;
        for (float x : w) sum += x;
        for (int b = 0; b < bones; b++) {
          float x = sum > 0 ? w[b] / sum : (b == 0 ? 1.0f : 0.0f);
          if (x > 0)
            bytes_printf(&out, " %.4f", static_cast<double>(x));
          else
            bytes_printf(&out, " 0");
        }
      }
      bytes_printf(&out, "\n");
    }
    for (size_t i = 0; i + 2 < kept.size(); i += 3) bytes_printf(&out, "%d %d %d\n", kept[i], kept[i + 1], kept[i + 2]);
  }
  return out;
}

void archive_add_model(Archive *archive, const std::string &name, const Model &model) {
  archive_add_compressed(archive, name + ".hm", hm_text(model));
}

void archive_add_model_lods(Archive *archive, const std::string &name, Model (*make)(int detail, const void *arg),
                            const void *arg, bool close_up) {
  archive_add_model(archive, name, make(0, arg));
  for (int k = close_up ? 0 : 1; k < model_lod_count; k++) {
    char suffix[32];
    snprintf(suffix, sizeof suffix, "_lod%g", static_cast<double>(model_lod_levels[k]));
    archive_add_model(archive, name + suffix, make(k + 1, arg));
  }
}

}  // namespace databuild
