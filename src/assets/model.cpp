#include "assets/model.h"

#include <GL/gl.h>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "app/config.h"
#include "assets/file.h"
#include "assets/texture.h"
#include "platform/log.h"
#include "render/gl_caps.h"
#include "render/render_stats.h"
#include "track/objects.h"

namespace {

// Lives for the process; models go by generation (model_flush).
struct Models {
  Model **items;
  int count, capacity;
  unsigned next_id;
  float lod_scale, lod_bias;
  int vertex_arrays;
  int verbosity;
  int close_up;  // no coarser than the first variant
  float shine;  // the reflection strength
};

Models models = {nullptr, 0, 0, 1, 1.0f, 0.0f, 1, 0, 0, 1.0f};

void message(const char *format, ...) __attribute__((format(printf, 1, 2)));
void message(const char *format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  print_message(text);
}

float *floats(size_t n) { return static_cast<float *>(alloc_or_die(sizeof(float) * (n ? n : 1))); }

void free_mesh(Mesh *m) {
  if (m->display_list && texture_gl_ready()) glDeleteLists(m->display_list, 1);
  if (m->vertex_buffer && texture_gl_ready() && gl_caps().vertex_buffers) {
    GLuint names[2] = {m->vertex_buffer, m->index_buffer};
    gl_ext().DeleteBuffersARB(2, names);
  }
  tracked_free(m->positions);
  tracked_free(m->normals);
  tracked_free(m->tangents);
  tracked_free(m->texcoords);
  tracked_free(m->rest_positions);
  tracked_free(m->rest_normals);
  tracked_free(m->rest_tangents);
  tracked_free(m->weights);
  tracked_free(m->bone_indices);
  tracked_free(m->triangles);
  tracked_free(m->env_coords);
  tracked_free(m);
}

// Keeps up to four positive weights: each new one goes into the slot with
// the smallest stored weight (an empty slot holds 0), so a fifth replaces
// the smallest even when it is smaller still. Returns 1 when that happened
// with all four slots taken.
int add_weight(float slot_weight[4], int slot_bone[4], float w, int bone) {
  if (!(w > 0)) return 0;
  int smallest = 0;
  for (int k = 1; k < 4; k++)
    if (slot_weight[k] < slot_weight[smallest]) smallest = k;
  int overflow = slot_weight[smallest] > 0;
  slot_weight[smallest] = w;
  slot_bone[smallest] = bone;
  return overflow;
}

void compute_tangents(Mesh *m) {
  const float tiny = 1.0f / 1048576.0f;  // 2^-20
  float *t = m->tangents;
  memset(t, 0, sizeof(float) * 3 * static_cast<size_t>(m->vertex_count));
  for (int k = 0; k < m->triangle_count; k++) {
    const int32_t *tri = m->triangles + 3 * k;
    const float *p0 = m->positions + 3 * tri[0], *p1 = m->positions + 3 * tri[1], *p2 = m->positions + 3 * tri[2];
    const float *t0 = m->texcoords + 2 * tri[0], *t1 = m->texcoords + 2 * tri[1], *t2 = m->texcoords + 2 * tri[2];
    float e1[3], e2[3];
    for (int c = 0; c < 3; c++) {
      e1[c] = p1[c] - p0[c];
      e2[c] = p2[c] - p0[c];
    }
    float du1 = t1[0] - t0[0], dv1 = t1[1] - t0[1], du2 = t2[0] - t0[0], dv2 = t2[1] - t0[1];
    float e = du1 * dv2 - du2 * dv1;
    float add[3];
    if (std::fabs(e) >= tiny) {
      float T[3], B[3];
      for (int c = 0; c < 3; c++) {
        T[c] = (dv2 * e1[c] - dv1 * e2[c]) / e;
        B[c] = (du1 * e2[c] - du2 * e1[c]) / e;
      }
      float txb[3] = {T[1] * B[2] - T[2] * B[1], T[2] * B[0] - T[0] * B[2], T[0] * B[1] - T[1] * B[0]};
      float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
      // A mirrored mapping still gives a tangent on the same side.
      float sign = txb[0] * n[0] + txb[1] * n[1] + txb[2] * n[2] > 0 ? 1.0f : -1.0f;
      for (int c = 0; c < 3; c++) add[c] = sign * T[c];
    } else {
      float l1 = e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2];
      float l2 = e2[0] * e2[0] + e2[1] * e2[1] + e2[2] * e2[2];
      const float *edge = l2 < l1 ? e1 : e2;
      float l = std::sqrt(std::max(l1, l2));
      if (l > 0) {
        for (int c = 0; c < 3; c++) add[c] = edge[c] / l * tiny;
      } else {
        add[0] = tiny;
        add[1] = add[2] = 0;
      }
    }
    for (int v = 0; v < 3; v++)
      for (int c = 0; c < 3; c++) t[3 * tri[v] + c] += add[c];
  }
  for (int v = 0; v < m->vertex_count; v++) {
    float *x = t + 3 * v;
    float l = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
    if (l > 0 && std::isfinite(l)) {
      x[0] /= l;
      x[1] /= l;
      x[2] /= l;
    } else {
      x[0] = 1;
      x[1] = x[2] = 0;
    }
  }
}

// Drops triangles with an index outside the mesh or (nearly) no area;
// returns how many went.
int remove_bad_triangles(Mesh *m) {
  const double limit = std::ldexp(1.0, -80);
  int kept = 0;
  for (int k = 0; k < m->triangle_count; k++) {
    int32_t *tri = m->triangles + 3 * k;
    bool bad = false;
    for (int v = 0; v < 3; v++) bad = bad || tri[v] < 0 || tri[v] >= m->vertex_count;
    if (!bad) {
      const float *p0 = m->positions + 3 * tri[0], *p1 = m->positions + 3 * tri[1], *p2 = m->positions + 3 * tri[2];
      double e1[3], e2[3];
      for (int c = 0; c < 3; c++) {
        e1[c] = static_cast<double>(p1[c]) - p0[c];
        e2[c] = static_cast<double>(p2[c]) - p0[c];
      }
      double x = e1[1] * e2[2] - e1[2] * e2[1], y = e1[2] * e2[0] - e1[0] * e2[2], z = e1[0] * e2[1] - e1[1] * e2[0];
      double area = x * x + y * y + z * z;
      bad = !(area >= limit);  // NaN counts as degenerate too
    }
    if (bad) continue;
    memmove(m->triangles + 3 * kept, tri, 3 * sizeof(int32_t));
    kept++;
  }
  int removed = m->triangle_count - kept;
  m->triangle_count = kept;
  return removed;
}

// One mesh's vertices and triangles; 0 when the file runs out or lies.
Mesh *read_mesh(DataFile *file, int vertices, int triangles, int bones, float material, float q, const float rgb[3],
                const char *name, bool *warned) {
  if (vertices < 0 || vertices > max_mesh_vertices || triangles < 0 || triangles > max_mesh_triangles) return nullptr;
  Mesh *m = static_cast<Mesh *>(tracked_calloc(1, sizeof(Mesh)));
  m->vertex_count = vertices;
  m->triangle_count = triangles;
  m->bone_count = bones;
  m->material = material;
  m->colour[0] = rgb[0];
  m->colour[1] = rgb[1];
  m->colour[2] = rgb[2];
  m->colour[3] = material >= 0 ? 1.0f : q;
  size_t v = static_cast<size_t>(vertices);
  m->positions = floats(3 * v);
  m->normals = floats(3 * v);
  m->tangents = floats(3 * v);
  m->texcoords = floats(2 * v);
  m->triangles = static_cast<int32_t *>(alloc_or_die(sizeof(int32_t) * 3 * (triangles ? static_cast<size_t>(triangles) : 1)));
  if (bones > 0) {
    m->weights = floats(4 * v);
    m->bone_indices = floats(4 * v);
  }
  for (int i = 0; i < vertices; i++) {
    float *p = m->positions + 3 * i, *n = m->normals + 3 * i, *t = m->texcoords + 2 * i;
    if (dfile_scanf(file, "%f %f %f %f %f %f %f %f", &p[0], &p[1], &p[2], &n[0], &n[1], &n[2], &t[0], &t[1]) != 8) {
      free_mesh(m);
      return nullptr;
    }
    t[1] = 1 - t[1];
    if (bones > 0) {
      float slot_weight[4] = {0, 0, 0, 0};
      int slot_bone[4] = {0, 0, 0, 0};
      for (int b = 0; b < bones; b++) {
        float w;
        if (dfile_scanf(file, "%f", &w) != 1) {
          free_mesh(m);
          return nullptr;
        }
        if (add_weight(slot_weight, slot_bone, w, b) && !*warned) {
          message("Warning: vertex with more than 4 bone influences in '%.900s'", name);
          *warned = true;
        }
      }
      float sum = slot_weight[0] + slot_weight[1] + slot_weight[2] + slot_weight[3];
      for (int k = 0; k < 4; k++) {
        m->weights[4 * i + k] = sum > 0 ? slot_weight[k] / sum : 0.25f;
        // Bones past what the programs hold cannot be posed; such a weight
        // stays with bone 0 rather than reading past the pose.
        m->bone_indices[4 * i + k] = static_cast<float>(slot_bone[k] < model_max_bones ? slot_bone[k] : 0);
      }
    }
  }
  for (int k = 0; k < triangles; k++) {
    int32_t *tri = m->triangles + 3 * k;
    if (dfile_scanf(file, "%d %d %d", &tri[0], &tri[1], &tri[2]) != 3) {
      free_mesh(m);
      return nullptr;
    }
  }
  return m;
}

void finish_mesh(Mesh *m) {
  compute_tangents(m);
  if (m->bone_count > 0) {
    size_t n = 3 * static_cast<size_t>(m->vertex_count) * sizeof(float);
    m->rest_positions = floats(3 * static_cast<size_t>(m->vertex_count));
    m->rest_normals = floats(3 * static_cast<size_t>(m->vertex_count));
    m->rest_tangents = floats(3 * static_cast<size_t>(m->vertex_count));
    memcpy(m->rest_positions, m->positions, n);
    memcpy(m->rest_normals, m->normals, n);
    memcpy(m->rest_tangents, m->tangents, n);
  }
  if (m->material == -1) m->env_coords = floats(2 * static_cast<size_t>(m->vertex_count));
}

// Where a mesh's arrays are read from: client memory, or offsets into its
// bound vertex buffer.
struct ArraySource {
  const float *positions, *normals, *texcoords, *tangents, *weights, *bones;
};

ArraySource client_arrays(const Mesh *m, const float *texcoords, bool skin_arrays) {
  // Skinned on the GPU, the program starts from the rest pose (the drawing
  // arrays may hold a pose the processor made).
  if (skin_arrays) return {m->rest_positions, m->rest_normals, texcoords, m->rest_tangents, m->weights, m->bone_indices};
  return {m->positions, m->normals, texcoords, m->tangents, m->weights, m->bone_indices};
}

// The offsets of the arrays in a mesh's vertex buffer, in floats.
struct BufferLayout {
  size_t positions, normals, texcoords, tangents, weights, bones, total;
};

BufferLayout buffer_layout(const Mesh *m) {
  size_t n = static_cast<size_t>(m->vertex_count);
  BufferLayout b;
  b.positions = 0;
  b.normals = 3 * n;
  b.texcoords = 6 * n;
  b.tangents = 8 * n;
  b.weights = 11 * n;
  b.bones = m->bone_count > 0 ? 15 * n : b.weights;
  b.total = m->bone_count > 0 ? 19 * n : 11 * n;
  return b;
}

ArraySource buffer_arrays(const Mesh *m) {
  BufferLayout b = buffer_layout(m);
  // Bound to a buffer, GL reads the pointers as byte offsets into it.
  auto at = [](size_t floats) { return reinterpret_cast<const float *>(floats * sizeof(float)); };
  return {at(b.positions), at(b.normals), at(b.texcoords), at(b.tangents), at(b.weights), at(b.bones)};
}

void set_arrays(const ArraySource &a, bool skin_arrays) {
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_NORMAL_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, a.positions);
  glNormalPointer(GL_FLOAT, 0, a.normals);
  const GlExt &e = gl_ext();
  bool multi = gl_caps().multitexture && e.ClientActiveTextureARB;
  if (multi) e.ClientActiveTextureARB(GL_TEXTURE0_ARB);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glTexCoordPointer(2, GL_FLOAT, 0, a.texcoords);
  if (multi && current_program() != 0) {
    // The programs read the tangent from set 1 and, skinned, the weights
    // and bone indices from sets 2 and 3.
    e.ClientActiveTextureARB(GL_TEXTURE1_ARB);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(3, GL_FLOAT, 0, a.tangents);
    if (skin_arrays) {
      e.ClientActiveTextureARB(GL_TEXTURE2_ARB);
      glEnableClientState(GL_TEXTURE_COORD_ARRAY);
      glTexCoordPointer(4, GL_FLOAT, 0, a.weights);
      e.ClientActiveTextureARB(GL_TEXTURE3_ARB);
      glEnableClientState(GL_TEXTURE_COORD_ARRAY);
      glTexCoordPointer(4, GL_FLOAT, 0, a.bones);
    }
    e.ClientActiveTextureARB(GL_TEXTURE0_ARB);
  }
}

void clear_arrays() {
  const GlExt &e = gl_ext();
  if (gl_caps().multitexture && e.ClientActiveTextureARB) {
    for (GLenum unit : {GL_TEXTURE3_ARB, GL_TEXTURE2_ARB, GL_TEXTURE1_ARB}) {
      e.ClientActiveTextureARB(unit);
      glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }
    e.ClientActiveTextureARB(GL_TEXTURE0_ARB);
  }
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
}

void draw_immediate(const Mesh *m, const float *texcoords) {
  const GlExt &e = gl_ext();
  bool tangents = gl_caps().multitexture && e.MultiTexCoord3fARB;
  glBegin(GL_TRIANGLES);
  for (int k = 0; k < 3 * m->triangle_count; k++) {
    int v = m->triangles[k];
    glNormal3fv(m->normals + 3 * v);
    glTexCoord2fv(texcoords + 2 * v);
    if (tangents) {
      const float *t = m->tangents + 3 * v;
      e.MultiTexCoord3fARB(GL_TEXTURE1_ARB, t[0], t[1], t[2]);
    }
    glVertex3fv(m->positions + 3 * v);
  }
  glEnd();
}

void draw_mesh_geometry(const Mesh *m, const float *texcoords, bool skin_arrays) {
  if (!skin_arrays && current_program() != 0 && gl_ext().MultiTexCoord4fARB) {
    // No weights: the programs then leave the vertex as it is.
    gl_ext().MultiTexCoord4fARB(GL_TEXTURE2_ARB, 0, 0, 0, 0);
  }
  if (m->display_list) {
    glCallList(m->display_list);
    return;
  }
  if (!models.vertex_arrays) {
    draw_immediate(m, texcoords);
    return;
  }
  // The buffer holds the mesh as loaded: it serves unless this draw brings
  // arrays of its own (a pose made by the processor, reflection coordinates).
  bool from_buffer = m->vertex_buffer && texcoords == m->texcoords && (skin_arrays || m->bone_count == 0);
  if (from_buffer) {
    const GlExt &e = gl_ext();
    e.BindBufferARB(GL_ARRAY_BUFFER_ARB, m->vertex_buffer);
    e.BindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, m->index_buffer);
    set_arrays(buffer_arrays(m), skin_arrays);
    glDrawElements(GL_TRIANGLES, 3 * m->triangle_count, GL_UNSIGNED_INT, nullptr);
    e.BindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    e.BindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, 0);
  } else {
    set_arrays(client_arrays(m, texcoords, skin_arrays), skin_arrays);
    glDrawElements(GL_TRIANGLES, 3 * m->triangle_count, GL_UNSIGNED_INT, m->triangles);
  }
  clear_arrays();
}

void upload_buffers(Mesh *m) {
  const GlExt &e = gl_ext();
  BufferLayout b = buffer_layout(m);
  size_t n = static_cast<size_t>(m->vertex_count);
  bool skinned = m->bone_count > 0;
  if (skinned && !(m->rest_positions && m->rest_normals && m->rest_tangents && m->weights && m->bone_indices)) return;
  GLuint names[2] = {0, 0};
  e.GenBuffersARB(2, names);
  if (!names[0] || !names[1]) return;
  e.BindBufferARB(GL_ARRAY_BUFFER_ARB, names[0]);
  e.BufferDataARB(GL_ARRAY_BUFFER_ARB, static_cast<GLsizeiptrARB>(b.total * sizeof(float)), nullptr,
                  GL_STATIC_DRAW_ARB);
  auto put = [&](size_t offset, const float *data, size_t count) {
    e.BufferSubDataARB(GL_ARRAY_BUFFER_ARB, static_cast<GLintptrARB>(offset * sizeof(float)),
                       static_cast<GLsizeiptrARB>(count * sizeof(float)), data);
  };
  put(b.positions, skinned ? m->rest_positions : m->positions, 3 * n);
  put(b.normals, skinned ? m->rest_normals : m->normals, 3 * n);
  put(b.texcoords, m->texcoords, 2 * n);
  put(b.tangents, skinned ? m->rest_tangents : m->tangents, 3 * n);
  if (skinned) {
    put(b.weights, m->weights, 4 * n);
    put(b.bones, m->bone_indices, 4 * n);
  }
  e.BindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
  e.BindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, names[1]);
  e.BufferDataARB(GL_ELEMENT_ARRAY_BUFFER_ARB, static_cast<GLsizeiptrARB>(3 * sizeof(int32_t) * m->triangle_count),
                  m->triangles, GL_STATIC_DRAW_ARB);
  e.BindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, 0);
  m->vertex_buffer = names[0];
  m->index_buffer = names[1];
}

// Where the renderer has buffer objects every mesh goes into them once, the
// skinned ones in their rest pose; without them the unskinned meshes get
// display lists. Drawn from buffers the driver reads the vertices where they
// lie; on software GL a display list cost a copy per draw and drew slower
// than even client arrays.
void compile_lists(Model *model) {
  if (!texture_gl_ready()) return;
  if (gl_caps().vertex_buffers && models.vertex_arrays) {
    for (Mesh *m = model->meshes; m; m = m->next)
      if (m->triangle_count > 0 && m->vertex_count > 0) upload_buffers(m);
    return;
  }
  for (Mesh *m = model->meshes; m; m = m->next) {
    if (m->bone_count > 0 || m->material < 0 || m->triangle_count == 0) continue;
    m->display_list = glGenLists(1);
    if (!m->display_list) continue;
    glNewList(m->display_list, GL_COMPILE);
    draw_immediate(m, m->texcoords);
    glEndList();
  }
}

Model *find_model(const char *name) {
  for (int i = 0; i < models.count; i++)
    if (strcmp(models.items[i]->name, name) == 0) return models.items[i];
  for (int i = 0; i < models.count; i++) {
    if (strcasecmp(models.items[i]->name, name) == 0) {
      message("Warning: case mismatch on '%.900s'", name);
      return models.items[i];
    }
  }
  return nullptr;
}

Model *load_file(const char *name) {
  DataFile *file = dfile_open(name, "rb");
  if (!file) return nullptr;
  Model *model = model_parse(file, name);
  dfile_close(file);
  return model;
}

// Finds "<stem>_lodN" files in the file list and chains them by threshold.
void load_variants(Model *model, const char *name) {
  if (name[0] != '@') return;
  char stem[1024];
  snprintf(stem, sizeof stem, "%s", name + 1);
  char *dot = strrchr(stem, '.');
  char *slash = strrchr(stem, '/');
  if (dot && (!slash || dot > slash)) *dot = 0;
  size_t stem_length = strlen(stem);
  for (const char *const *entry = file_list(); *entry; entry++) {
    const char *f = *entry;
    if (strncmp(f, stem, stem_length) != 0 || strncmp(f + stem_length, "_lod", 4) != 0) continue;
    char *end = nullptr;
    double n = strtod(f + stem_length + 4, &end);
    if (end == f + stem_length + 4 || !std::isfinite(n)) continue;
    char variant_name[1100];
    snprintf(variant_name, sizeof variant_name, "@%s", f);
    size_t l = strlen(variant_name);
    if (l > 3 && strcmp(variant_name + l - 3, ".gz") == 0) variant_name[l - 3] = 0;
    bool seen = false;
    for (Model *v = model->next_variant; v && !seen; v = v->next_variant) seen = strcmp(v->name, variant_name) == 0;
    if (seen) continue;
    Model *v = load_file(variant_name);
    if (!v) continue;
    v->threshold = static_cast<float>(std::pow(2.0, n));
    compile_lists(v);
    Model **at = &model->next_variant;
    while (*at && (*at)->threshold <= v->threshold) at = &(*at)->next_variant;
    v->next_variant = *at;
    *at = v;
  }
}

void set_material_for(const Mesh *m, const Lighting *l) {
  if (m->material == -2) {
    // Unlit: only the ambient term carries the colour.
    const float black[4] = {0, 0, 0, 1};
    float colour[4] = {m->colour[0], m->colour[1], m->colour[2], 1};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
    glLightfv(GL_LIGHT0, GL_AMBIENT, colour);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, black);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, black);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 1);
    (void)l;
  } else {
    float specular[4] = {m->colour[0], m->colour[1], m->colour[2], 1};
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, std::min(std::max(m->material, 0.125f), 128.0f));
  }
}

void restore_after_unlit(const Lighting *l) {
  float global[4] = {l->global_ambient[0], l->global_ambient[1], l->global_ambient[2], 1};
  float ambient[4] = {l->ambient[0], l->ambient[1], l->ambient[2], 1};
  const float white[4] = {1, 1, 1, 1};
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, global);
  glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
}

float length3(const float v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

}  // namespace

Model *model_parse(DataFile *file, const char *name) {
  Model *model = static_cast<Model *>(tracked_calloc(1, sizeof(Model)));
  model->name = intern_string(name ? name : "");
  Mesh **tail = &model->meshes;
  int version = 0;
  int removed = 0;
  bool warned = false;
  int c0 = dfile_peekc(file);
  if (c0 == 'H') {
    if (dfile_scanf(file, "HM%d", &version) != 1 || (version != 1 && version != 2)) {
      tracked_free(model);
      return nullptr;
    }
    int bones = 0;
    if (version == 2) {
      char word[1024];
      if (dfile_scanf(file, "%d %1023s", &bones, word) != 2 || bones < 0 || bones > 4096) {
        tracked_free(model);
        return nullptr;
      }
    }
    for (;;) {
      float m, q, rgb[3];
      int v, t;
      if (dfile_scanf(file, "%f %f %f %f %f %d %d", &m, &q, &rgb[0], &rgb[1], &rgb[2], &v, &t) != 7) break;
      Mesh *mesh = read_mesh(file, v, t, version == 2 ? bones : 0, m, q, rgb, name, &warned);
      if (!mesh) break;  // a partial mesh is dropped with everything after it
      warned = false;    // the warning is given once per mesh
      removed += remove_bad_triangles(mesh);
      finish_mesh(mesh);
      if (mesh->material == -1) model->has_reflection = 1;
      *tail = mesh;
      tail = &mesh->next;
    }
  } else {
    int v, t;
    if (dfile_scanf(file, "%d %d", &v, &t) == 2) {
      const float white[3] = {1, 1, 1};
      Mesh *mesh = read_mesh(file, v, t, 0, 32, 0, white, name, &warned);
      if (mesh) {
        removed += remove_bad_triangles(mesh);
        finish_mesh(mesh);
        model->meshes = mesh;
      }
    }
  }
  if (!model->meshes) {
    tracked_free(model);
    return nullptr;
  }
  model->degenerate_triangles = removed;
  if (removed > 0) message("%d degenerate triangles deleted in %.100s", removed, name);
  float r2 = 0;
  for (const Mesh *m = model->meshes; m; m = m->next) {
    const float *p = m->rest_positions ? m->rest_positions : m->positions;
    for (int v = 0; v < m->vertex_count; v++, p += 3) r2 = std::max(r2, p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
  }
  model->radius = std::sqrt(r2);
  return model;
}

void model_free(Model *model) {
  while (model) {
    Model *next = model->next_variant;
    for (Mesh *m = model->meshes; m;) {
      Mesh *n = m->next;
      free_mesh(m);
      m = n;
    }
    tracked_free(model);
    model = next;
  }
}

void model_set_options(float lod_scale, float lod_bias, int vertex_arrays) {
  models.lod_scale = lod_scale;
  models.lod_bias = lod_bias;
  models.vertex_arrays = vertex_arrays;
}

void model_set_verbosity(int level) { models.verbosity = level; }

unsigned model_read(const char *name) {
  if (!name || !*name) return 0;
  if (Model *m = find_model(name)) {
    if (m->generation != 0 && m->generation != texture_generation()) m->generation = texture_generation();
    if (texture_holding()) m->held = 1;
    return m->id;
  }
  Model *model = load_file(name);
  if (!model) return 0;
  model->id = models.next_id++;
  model->generation = texture_generation();
  model->held = texture_holding();
  compile_lists(model);
  load_variants(model, name);
  for (const Model *v = model->next_variant; v; v = v->next_variant) model->radius = std::max(model->radius, v->radius);
  grow_array(models.items, models.count, models.capacity);
  models.items[models.count++] = model;
  return model->id;
}

Model *model_get(unsigned id) {
  if (!id) return nullptr;
  for (int i = 0; i < models.count; i++)
    if (models.items[i]->id == id) return models.items[i];
  return nullptr;
}

void model_set_close_up(int close_up) { models.close_up = close_up; }
void model_set_reflection_strength(float strength) { models.shine = strength; }

const Model *model_variant(const Model *model, float distance) {
  const Model *drawn = model;
  float reach = models.lod_scale * distance;
  // Move on while the next variant's threshold (less the bias) is within reach.
  while (drawn->next_variant && drawn->next_variant->threshold - models.lod_bias <= reach) {
    drawn = drawn->next_variant;
    if (models.close_up) break;
  }
  return drawn;
}

float model_radius(unsigned id) {
  const Model *m = model_get(id);
  return m ? m->radius : 0;
}

int model_has_reflection(unsigned id) {
  const Model *m = model_get(id);
  return m && m->has_reflection && active_graphics().reflections;
}

void pose_mesh(Mesh *m, const ModelPose *pose) {
  if (!m->bone_count || !m->rest_positions) return;
  for (int v = 0; v < m->vertex_count; v++) {
    const float *p = m->rest_positions + 3 * v, *n = m->rest_normals + 3 * v, *t = m->rest_tangents + 3 * v;
    float sp[3] = {0, 0, 0}, sn[3] = {0, 0, 0}, st[3] = {0, 0, 0};
    for (int k = 0; k < 4; k++) {
      float w = m->weights[4 * v + k];
      if (!(w > 0)) continue;
      int b = static_cast<int>(m->bone_indices[4 * v + k]);
      if (b < 0 || b >= pose->count) continue;
      const float *R = pose->rotations[b], *C = pose->centres[b], *T = pose->translations[b];
      float d[3] = {p[0] - C[0], p[1] - C[1], p[2] - C[2]};
      for (int c = 0; c < 3; c++) {
        sp[c] += w * (R[c] * d[0] + R[3 + c] * d[1] + R[6 + c] * d[2] + T[c]);
        sn[c] += w * (R[c] * n[0] + R[3 + c] * n[1] + R[6 + c] * n[2]);
        st[c] += w * (R[c] * t[0] + R[3 + c] * t[1] + R[6 + c] * t[2]);
      }
    }
    float ln = length3(sn), lt = length3(st);
    for (int c = 0; c < 3; c++) {
      m->positions[3 * v + c] = sp[c];
      m->normals[3 * v + c] = ln > 0 ? sn[c] / ln : 0;
      m->tangents[3 * v + c] = lt > 0 ? st[c] / lt : 0;
    }
  }
}

void model_draw(unsigned id, const float eye_to_model[3], const ModelPose *pose) {
  const Model *model = model_get(id);
  if (!model) return;
  const Model *drawn = model_variant(model, length3(eye_to_model));
  const Lighting *l = track_lighting();
  bool programs = current_program() != 0;
  if (programs) {
    if (pose) {
      set_bones(pose->count, &pose->centres[0][0], &pose->translations[0][0], &pose->rotations[0][0]);
    } else {
      set_bones(0, nullptr, nullptr, nullptr);
    }
  }
  for (Mesh *m = drawn->meshes; m; m = m->next) {
    if (m->material == -1) break;  // the reflection layer is drawn by its own pass
    set_material_for(m, l);
    bool skinned = pose && m->bone_count == pose->count;
    // The programs skin from vertex arrays; drawn any other way the
    // processor poses the mesh.
    bool gpu_skin = skinned && programs && models.vertex_arrays;
    if (skinned && !gpu_skin) pose_mesh(m, pose);
    render_stats().model_polygons += m->triangle_count;
    draw_mesh_geometry(m, m->texcoords, gpu_skin);
    if (m->material == -2) restore_after_unlit(l);
  }
  if (programs && pose) set_bones(0, nullptr, nullptr, nullptr);
}

void reflection_coords(const float E[3], const float K[3], const float N[3], const float R[9], float out[2]) {
  float I[3] = {E[0] + K[0], E[1] + K[1], E[2] + K[2]};
  float d = I[0] * N[0] + I[1] * N[1] + I[2] * N[2];
  float V[3] = {I[0] - 2 * d * N[0], I[1] - 2 * d * N[1], I[2] - 2 * d * N[2]};
  float W[3] = {R[0] * V[0] + R[1] * V[1] + R[2] * V[2], R[3] * V[0] + R[4] * V[1] + R[5] * V[2],
                R[6] * V[0] + R[7] * V[1] + R[8] * V[2]};
  float lw = length3(W);
  if (!(lw > 0)) {
    out[0] = out[1] = 0.5f;
    return;
  }
  for (float &w : W) w /= lw;
  float a = static_cast<float>(std::acos(std::clamp(W[1], -1.0f, 1.0f)) / (2 * M_PI));
  float h = std::sqrt(W[0] * W[0] + W[2] * W[2]);
  if (h > 0) {
    out[0] = a * W[0] / h + 0.5f;
    out[1] = a * W[2] / h + 0.5f;
  } else {
    // Straight up is the centre; straight down, every point of the outer
    // circle alike: take the one toward +z.
    out[0] = 0.5f;
    out[1] = W[1] > 0 ? 0.5f : 0.5f + a;
  }
}

void model_draw_reflection(unsigned id, const float eye[3], const float position[3], const float orientation[9],
                           const ModelPose *pose) {
  const Model *model = model_get(id);
  if (!model || !model->has_reflection) return;
  float d[3] = {position[0] - eye[0], position[1] - eye[1], position[2] - eye[2]};
  const Model *drawn = model_variant(model, length3(d));
  const float *R = orientation;
  float E[3] = {R[0] * d[0] + R[3] * d[1] + R[6] * d[2], R[1] * d[0] + R[4] * d[1] + R[7] * d[2],
                R[2] * d[0] + R[5] * d[1] + R[8] * d[2]};
  bool programs = current_program() != 0;
  if (programs) {
    if (pose) set_bones(pose->count, &pose->centres[0][0], &pose->translations[0][0], &pose->rotations[0][0]);
    else set_bones(0, nullptr, nullptr, nullptr);
  }
  for (Mesh *m = drawn->meshes; m; m = m->next) {
    if (m->material != -1) continue;
    float q = m->colour[3] * models.shine;
    glColor4f(q * m->colour[0], q * m->colour[1], q * m->colour[2], 1);
    bool skinned = pose && m->bone_count == pose->count;
    bool gpu_skin = skinned && programs && models.vertex_arrays;
    if (skinned && !gpu_skin) pose_mesh(m, pose);
    if (!programs) {
      for (int v = 0; v < m->vertex_count; v++)
        reflection_coords(E, m->positions + 3 * v, m->normals + 3 * v, R, m->env_coords + 2 * v);
    }
    render_stats().model_polygons += m->triangle_count;
    draw_mesh_geometry(m, programs ? m->texcoords : m->env_coords, gpu_skin);
  }
  if (programs && pose) set_bones(0, nullptr, nullptr, nullptr);
}

void model_release_held() {
  for (int i = 0; i < models.count; i++) models.items[i]->held = 0;
}

void model_flush(int all) {
  for (int i = models.count - 1; i >= 0; i--) {
    Model *m = models.items[i];
    if (!(all || (m->generation != 0 && m->generation != texture_generation() && !m->held))) continue;
    if (models.verbosity) hovl_log("deleting model %.900s\n", m->name);
    model_free(m);
    memmove(&models.items[i], &models.items[i + 1], sizeof(Model *) * static_cast<size_t>(models.count - i - 1));
    models.count--;
  }
  if (all) {
    tracked_free(models.items);
    models.items = nullptr;
    models.count = models.capacity = 0;
  }
}

int model_count() { return models.count; }

void model_write_pov(unsigned id, DataFile *file) {
  const Model *model = model_get(id);
  if (!model || !file) return;
  bool several = model->meshes && model->meshes->next;
  if (several) dfile_printf(file, "union {\n");
  for (const Mesh *m = model->meshes; m; m = m->next) {
    dfile_printf(file, "mesh2 {\n\tvertex_vectors {\n\t\t%d,\n", m->vertex_count);
    for (int v = 0; v < m->vertex_count; v++) {
      const float *p = m->positions + 3 * v;
      dfile_printf(file, "\t\t<%f,%f,%f>%s\n", p[0], p[1], p[2], v + 1 < m->vertex_count ? "," : "");
    }
    dfile_printf(file, "\t}\n\tnormal_vectors {\n\t\t%d,\n", m->vertex_count);
    for (int v = 0; v < m->vertex_count; v++) {
      const float *n = m->normals + 3 * v;
      dfile_printf(file, "\t\t<%f,%f,%f>%s\n", n[0], n[1], n[2], v + 1 < m->vertex_count ? "," : "");
    }
    dfile_printf(file, "\t}\n\tuv_vectors {\n\t\t%d,\n", m->vertex_count);
    for (int v = 0; v < m->vertex_count; v++) {
      const float *t = m->texcoords + 2 * v;
      dfile_printf(file, "\t\t<%f,%f>%s\n", t[0], t[1], v + 1 < m->vertex_count ? "," : "");
    }
    dfile_printf(file, "\t}\n\tface_indices {\n\t\t%d,\n", m->triangle_count);
    for (int k = 0; k < m->triangle_count; k++) {
      const int32_t *t = m->triangles + 3 * k;
      dfile_printf(file, "\t\t<%d,%d,%d>%s\n", t[0], t[1], t[2], k + 1 < m->triangle_count ? "," : "");
    }
    dfile_printf(file, "\t}\n}\n");
  }
  if (several) dfile_printf(file, "}\n");
}
