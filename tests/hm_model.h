// A reader of the game's model formats for the data tests, following the
// game's loading rules: ".hm" ("HM1", or "HM2" with a bone count and a
// word; meshes "material q red green blue V T", vertices of position,
// normal, texture and one weight per bone, triangles) and ".shp" ("V T",
// vertices of eight numbers, triangles). It keeps what the checks need: the
// raw weights as written, the four kept influences, and how many triangles
// the game would delete (out of range, or without area).
#pragma once
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

struct HmMesh {
  float material = 0, q = 0;
  float colour[4] = {};
  int bones = 0;
  std::vector<float> positions, normals, uvs;  // 3, 3 and 2 per vertex
  std::vector<float> raw_weights;              // `bones` per vertex, as written
  std::vector<float> weights;                  // four per vertex, normalised
  std::vector<int> bone_indices;               // four per vertex
  std::vector<int> triangles;                  // kept triangles
  int vertex_count() const { return static_cast<int>(positions.size() / 3); }
};

struct HmModel {
  int ok = 0;
  int version = 0;  // 0 for ".shp"
  int bones = 0;
  int removed_triangles = 0;
  int weight_warnings = 0;  // meshes with a vertex of more than four influences
  std::vector<HmMesh> meshes;
};

namespace hm_detail {

// Numbers read as the game's scanf-style reader does: blanks and line
// breaks alike, false when the text ends or holds no number (strtof and
// strtol, not sscanf, which measures the whole remaining text every call).
inline bool next_float(const char **p, float *out) {
  char *end = nullptr;
  float v = strtof(*p, &end);
  if (end == *p) return false;
  *p = end;
  *out = v;
  return true;
}

inline bool next_int(const char **p, int *out) {
  char *end = nullptr;
  long v = strtol(*p, &end, 10);
  if (end == *p || v < -2147483647L || v > 2147483647L) return false;
  *p = end;
  *out = static_cast<int>(v);
  return true;
}

inline bool next_word(const char **p, std::string *out) {
  while (**p && isspace(static_cast<unsigned char>(**p))) (*p)++;
  const char *start = *p;
  while (**p && !isspace(static_cast<unsigned char>(**p))) (*p)++;
  out->assign(start, static_cast<size_t>(*p - start));
  return *p != start;
}

inline bool degenerate(const float *a, const float *b, const float *c) {
  double e1[3], e2[3];
  for (int k = 0; k < 3; k++) e1[k] = b[k] - a[k], e2[k] = c[k] - a[k];
  double x = e1[1] * e2[2] - e1[2] * e2[1], y = e1[2] * e2[0] - e1[0] * e2[2], z = e1[0] * e2[1] - e1[1] * e2[0];
  return !(x * x + y * y + z * z >= std::ldexp(1.0, -80));
}

// One mesh's vertices and triangles; false when the text ends or breaks.
inline bool read_body(const char **p, int v_count, int t_count, int bones, HmMesh *mesh, HmModel *model) {
  constexpr int limit = 1 << 22;  // keeps a hostile count from asking for gigabytes
  if (v_count < 0 || t_count < 0 || v_count > limit || t_count > limit) return false;
  mesh->bones = bones;
  bool warned = false;
  for (int i = 0; i < v_count; i++) {
    float v[8];
    for (float &x : v)
      if (!next_float(p, &x)) return false;
    mesh->positions.insert(mesh->positions.end(), v, v + 3);
    mesh->normals.insert(mesh->normals.end(), v + 3, v + 6);
    mesh->uvs.push_back(v[6]);
    mesh->uvs.push_back(1.0f - v[7]);
    float slot_w[4] = {0, 0, 0, 0};
    int slot_b[4] = {0, 0, 0, 0};
    for (int b = 0; b < bones; b++) {
      float w;
      if (!next_float(p, &w)) return false;
      mesh->raw_weights.push_back(w);
      if (!(w > 0)) continue;
      int smallest = 0;
      for (int s = 1; s < 4; s++)
        if (slot_w[s] < slot_w[smallest]) smallest = s;
      if (slot_w[smallest] > 0 && !warned) {
        warned = true;
        model->weight_warnings++;
      }
      slot_w[smallest] = w;
      slot_b[smallest] = b;
    }
    float sum = slot_w[0] + slot_w[1] + slot_w[2] + slot_w[3];
    for (int s = 0; s < 4; s++) {
      mesh->weights.push_back(sum > 0 ? slot_w[s] / sum : 0.25f);
      mesh->bone_indices.push_back(slot_b[s]);
    }
  }
  for (int i = 0; i < t_count; i++) {
    int t[3];
    if (!next_int(p, &t[0]) || !next_int(p, &t[1]) || !next_int(p, &t[2])) return false;
    bool inside = t[0] >= 0 && t[1] >= 0 && t[2] >= 0 && t[0] < v_count && t[1] < v_count && t[2] < v_count;
    if (!inside || degenerate(&mesh->positions[3 * static_cast<size_t>(t[0])], &mesh->positions[3 * static_cast<size_t>(t[1])],
                              &mesh->positions[3 * static_cast<size_t>(t[2])])) {
      model->removed_triangles++;
      continue;
    }
    mesh->triangles.insert(mesh->triangles.end(), t, t + 3);
  }
  return true;
}

}  // namespace hm_detail

inline HmModel read_hm_model(const std::string &text) {
  using namespace hm_detail;
  HmModel model;
  const char *p = text.c_str();
  while (*p && isspace(static_cast<unsigned char>(*p))) p++;
  if (p[0] == 'H' && p[1] == 'M' && isdigit(static_cast<unsigned char>(p[2]))) {
    p += 2;
    int version = 0;
    if (!next_int(&p, &version) || (version != 1 && version != 2)) return model;
    model.version = version;
    if (version == 2) {
      std::string word;
      if (!next_int(&p, &model.bones) || !next_word(&p, &word) || model.bones < 0 || model.bones > 32) return model;
    }
    for (;;) {
      HmMesh mesh;
      float h[5];
      int v_count = 0, t_count = 0;
      bool header = true;
      for (float &x : h) header = header && next_float(&p, &x);
      if (!header || !next_int(&p, &v_count) || !next_int(&p, &t_count)) break;
      mesh.material = h[0];
      mesh.q = h[1];
      mesh.colour[0] = h[2], mesh.colour[1] = h[3], mesh.colour[2] = h[4], mesh.colour[3] = h[0] >= 0 ? 1.0f : h[1];
      if (!read_body(&p, v_count, t_count, model.bones, &mesh, &model)) break;  // a partial mesh is dropped
      model.meshes.push_back(std::move(mesh));
    }
  } else {
    int v_count, t_count;
    if (!next_int(&p, &v_count) || !next_int(&p, &t_count)) return model;
    HmMesh mesh;
    mesh.material = 32;
    mesh.colour[0] = mesh.colour[1] = mesh.colour[2] = mesh.colour[3] = 1;
    if (!read_body(&p, v_count, t_count, 0, &mesh, &model)) return model;
    model.meshes.push_back(std::move(mesh));
  }
  model.ok = !model.meshes.empty();
  return model;
}
