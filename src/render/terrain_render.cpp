// The terrain renderer's layers and drawing: the shading and shadow files,
// the per-vertex normal map, the shading textures and their refresh, the
// level-of-detail pass per frame, and the leaves drawn as fans.
//
// "shadingx2.ppm" holds half of the lit ground colour per vertex (the
// composition doubles it again); "shading.ppm" holds the full colour and is
// halved on load. "shadows.pgm" holds the light reaching each vertex, 255
// fully lit. Both are R x R pictures, vertex (i, j) at column i, row j.
#include "render/terrain_render.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "app/config.h"
#include "assets/image.h"
#include "assets/texture.h"
#include "platform/log.h"
#include "render/gl_caps.h"
#include "render/render_stats.h"
#include "render/terrain_render_local.h"
#include "track/objects.h"
#include "track/terrain.h"
#include "track/track.h"

void *render_zeroed(size_t count, size_t size) {
  void *block = alloc_or_die(count * size);
  memset(block, 0, count * size);
  return block;
}

namespace {

constexpr int lit_byte = 255;

int bit_of(const uint32_t *bits, int index) { return (bits[index >> 5] >> (index & 31)) & 1; }
void clear_bit(uint32_t *bits, int index) { bits[index >> 5] &= ~(1u << (index & 31)); }

// The renderer record; its CPU layers exist from the first shading file
// read so that a track loaded without GL can still check its files.
TerrainRender *render_of(Terrain *t) {
  if (!t->render) {
    t->render = static_cast<TerrainRender *>(render_zeroed(1, sizeof(TerrainRender)));
    t->render->verts = t->verts_per_side;
    t->render->size_exp = t->size_exp;
    t->render->tiles_per_side = t->tiles_per_side;
  }
  return t->render;
}

int clamp_vertex(const TerrainRender *r, int i) { return i < 0 ? 0 : (i >= r->verts ? r->verts - 1 : i); }

void log_memory(int verbosity, const char *when) {
  if (verbosity >= 1) hovl_log("%lu bytes texture memory used %s\n", static_cast<unsigned long>(texture_memory()), when);
}

}  // namespace

// --- the files --------------------------------------------------------------

int terrain_read_shading(Terrain *t, DataFile *file, int halve) {
  Picture picture = {};
  char error[image_error_size] = "";
  if (!ppm_read(file, &picture, error)) {
    print_message(error[0] ? error : "Can't read shading");
    return 0;
  }
  if (picture.width != t->verts_per_side || picture.height != t->verts_per_side) {
    char text[96];
    snprintf(text, sizeof text, "Bad shading dimensions (%dx%d)", picture.width, picture.height);
    print_message(text);
    picture_free(&picture);
    return 0;
  }
  TerrainRender *r = render_of(t);
  size_t bytes = static_cast<size_t>(r->verts) * r->verts * 3;
  if (!r->shading) r->shading = static_cast<uint8_t *>(alloc_or_die(bytes));
  for (size_t k = 0; k < bytes; k++) r->shading[k] = halve ? picture.pixels[k] >> 1 : picture.pixels[k];
  picture_free(&picture);
  // The file is the ground's shading until the ground changes.
  memset(t->shading_dirty, 0, sizeof(uint32_t) * ((static_cast<size_t>(r->verts) * r->verts + 31) / 32));
  return 1;
}

int terrain_read_shadows(Terrain *t, DataFile *file) {
  Picture picture = {};
  char error[image_error_size] = "";
  if (!pgm_read(file, &picture, error)) {
    print_message(error[0] ? error : "Can't read shadows");
    return 0;
  }
  if (picture.width != t->verts_per_side || picture.height != t->verts_per_side) {
    char text[96];
    snprintf(text, sizeof text, "Bad shadow dimensions (%dx%d)\n", picture.width, picture.height);
    print_message(text);
    picture_free(&picture);
    return 0;
  }
  TerrainRender *r = render_of(t);
  size_t bytes = static_cast<size_t>(r->verts) * r->verts;
  if (!r->shadows) r->shadows = static_cast<uint8_t *>(alloc_or_die(bytes));
  memcpy(r->shadows, picture.pixels, bytes);
  picture_free(&picture);
  return 1;
}

const uint8_t *terrain_shading_layer(const Terrain *t) { return t && t->render ? t->render->shading : nullptr; }
const uint8_t *terrain_shadow_layer(const Terrain *t) { return t && t->render ? t->render->shadows : nullptr; }

// --- per-vertex layers ------------------------------------------------------

void reshade_vertex(Terrain *t, TerrainRender *r, int i, int j) {
  int v = i + j * r->verts;
  float n[3];
  terrain_vertex_normal(t, i, j, n);
  float s = r->shadows ? static_cast<float>(r->shadows[v]) : static_cast<float>(lit_byte);
  float lit = std::clamp(r->sun[0] * n[0] + r->sun[1] * n[1] + r->sun[2] * n[2], 0.0f, 1.0f) * s / 255.0f;
  for (int c = 0; c < 3; c++) {
    float value = std::trunc(((r->diffuse[c] * lit + r->ambient[c]) * 0.5f) * 255.0f);
    r->shading[v * 3 + c] = static_cast<uint8_t>(std::clamp(value, 0.0f, 255.0f));
  }
  clear_bit(t->shading_dirty, v);
}

void renormal_vertex(Terrain *t, TerrainRender *r, int i, int j) {
  int v = i + j * r->verts;
  float n[3];
  terrain_vertex_normal(t, i, j, n);
  auto encode = [](float c) {
    float scaled = std::clamp(std::round(127.0f * c), -127.0f, 127.0f);
    return static_cast<uint8_t>(128 + static_cast<int>(scaled));
  };
  r->normal_map[v * 3 + 0] = encode(n[0]);
  r->normal_map[v * 3 + 1] = r->shadows ? r->shadows[v] : lit_byte;
  r->normal_map[v * 3 + 2] = encode(n[2]);
  clear_bit(t->normal_dirty, v);
}

void shading_at(const TerrainRender *r, float gx, float gz, float out[3]) {
  float last = static_cast<float>(r->verts - 1);
  gx = std::clamp(gx, 0.0f, last);
  gz = std::clamp(gz, 0.0f, last);
  int i = std::min(static_cast<int>(gx), r->verts - 2), j = std::min(static_cast<int>(gz), r->verts - 2);
  float fx = gx - static_cast<float>(i), fz = gz - static_cast<float>(j);
  const uint8_t *a = r->shading + (i + j * r->verts) * 3, *b = a + r->verts * 3;
  for (int c = 0; c < 3; c++) {
    float low = a[c] + fx * (a[c + 3] - a[c]), high = b[c] + fx * (b[c + 3] - b[c]);
    out[c] = low + fz * (high - low);
  }
}

namespace {

// Reshades (or renormals) the dirty vertices of a window, inclusive.
void refresh_vertices(Terrain *t, TerrainRender *r, int x0, int z0, int x1, int z1) {
  x0 = clamp_vertex(r, x0);
  z0 = clamp_vertex(r, z0);
  x1 = clamp_vertex(r, x1);
  z1 = clamp_vertex(r, z1);
  for (int j = z0; j <= z1; j++)
    for (int i = x0; i <= x1; i++) {
      int v = i + j * r->verts;
      if (r->shader_lighting) {
        if (bit_of(t->normal_dirty, v)) renormal_vertex(t, r, i, j);
      } else if (bit_of(t->shading_dirty, v)) {
        reshade_vertex(t, r, i, j);
      }
    }
}

}  // namespace

void refresh_square_vertices(Terrain *t, TerrainRender *r, int tile_x, int tile_z, int tiles) {
  refresh_vertices(t, r, 2 * tile_x, 2 * tile_z, 2 * (tile_x + tiles), 2 * (tile_z + tiles));
}

// --- shading textures ---------------------------------------------------------

unsigned shading_texture_for(const TerrainRender *r, int vertex_x, int vertex_z, const ShadingTexture **cell) {
  int u = std::min(std::max(vertex_x, 0) / shading_cell, r->shading_side - 1);
  int v = std::min(std::max(vertex_z, 0) / shading_cell, r->shading_side - 1);
  *cell = &r->shading_textures[u + v * r->shading_side];
  return (*cell)->tid;
}

namespace {

void shading_texels(const TerrainRender *r, const ShadingTexture *s, uint8_t *out) {
  const uint8_t *layer = r->shader_lighting ? r->normal_map : r->shading;
  for (int b = 0; b < s->side; b++) {
    const uint8_t *row = layer + static_cast<size_t>(clamp_vertex(r, s->first_z + b)) * r->verts * 3;
    for (int a = 0; a < s->side; a++) memcpy(out + (a + b * s->side) * 3, row + clamp_vertex(r, s->first_x + a) * 3, 3);
  }
}

void upload_shading(TerrainRender *r, ShadingTexture *s, int create) {
  if (!r->options.gl) return;
  uint8_t *texels = static_cast<uint8_t *>(alloc_or_die(static_cast<size_t>(s->side) * s->side * 3));
  shading_texels(r, s, texels);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  if (create) {
    s->tid = texture_upload(texels, s->side, s->side, 3, upload_single_level, &s->bytes);
  } else {
    glBindTexture(GL_TEXTURE_2D, s->tid);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, s->side, s->side, GL_RGB, GL_UNSIGNED_BYTE, texels);
  }
  tracked_free(texels);
}

void create_shading_textures(TerrainRender *r) {
  int n = r->size_exp;
  r->shading_side = std::max(1, ((1 << (n + 1)) / 128 + 2) / 3);
  int count = r->shading_side * r->shading_side;
  r->shading_textures = static_cast<ShadingTexture *>(render_zeroed(static_cast<size_t>(count), sizeof(ShadingTexture)));
  for (int v = 0; v < r->shading_side; v++)
    for (int u = 0; u < r->shading_side; u++) {
      ShadingTexture *s = &r->shading_textures[u + v * r->shading_side];
      s->first_x = u * shading_cell - shading_margin;
      s->first_z = v * shading_cell - shading_margin;
      int need = r->verts - 1 - shading_cell * std::max(u, v) + 2 * shading_margin, side = 1;
      while (side < need && side < max_shading_side) side <<= 1;
      s->side = side;
      upload_shading(r, s, 1);
    }
  if (r->options.verbosity >= 1) {
    hovl_log("%dx%d low detail textures needed for %dx%d field\n", r->shading_side, r->shading_side, r->verts,
             r->verts);
  }
}

// One shading texture per call, round-robin from where the last stopped:
// its dirty vertices reshaded, uploaded, and the ground textures that use
// it marked stale.
int refresh_one_shading(Terrain *t, TerrainRender *r) {
  int count = r->shading_side * r->shading_side;
  for (int step = 0; step < count; step++) {
    int index = (r->reshade_cursor + step) % count;
    ShadingTexture *s = &r->shading_textures[index];
    if (!s->dirty) continue;
    s->dirty = 0;
    r->reshade_cursor = (index + 1) % count;
    refresh_vertices(t, r, s->first_x, s->first_z, s->first_x + s->side - 1, s->first_z + s->side - 1);
    upload_shading(r, s, 0);
    int u = index % r->shading_side, v = index / r->shading_side;
    int tiles = shading_cell / 2, last = r->tiles_per_side - 1;
    int x1 = u == r->shading_side - 1 ? last : std::min(last, (u + 1) * tiles - 1);
    int z1 = v == r->shading_side - 1 ? last : std::min(last, (v + 1) * tiles - 1);
    stamp_ground(r, u * tiles, v * tiles, x1, z1);
    r->counters.reshades++;
    return 1;
  }
  return 0;
}

// --- tiles and decals ------------------------------------------------------------

// The decal's maps beside its texture: name without extension + suffix + ext.
unsigned decal_companion(const char *path, const char *suffix) {
  char base[1024];
  snprintf(base, sizeof base, "%s", path);
  char *dot = strrchr(base, '.'), *slash = strrchr(base, '/');
  if (dot && (!slash || dot > slash)) *dot = 0;
  static const char *const extensions[] = {".png", ".ppm"};
  for (const char *ext : extensions) {
    char name[1100];
    snprintf(name, sizeof name, "%s%s%s", base, suffix, ext);
    unsigned tid = texture_read(name);
    if (tid) return tid;
  }
  return 0;
}

void load_ground_pictures(TerrainRender *r, Terrain *t) {
  int software = r->technique == compose_tex_sub_image;
  for (int k = 0; k < t->tile_count; k++) {
    const char *path = t->tiles[k].texture_path;
    if (!path) continue;
    if (software) {
      r->tile_images[k] = image_read(path);
    } else if (r->options.gl) {
      r->tile_textures[k] = texture_read(path);
      t->tiles[k].tile_texture = r->tile_textures[k];
    }
  }
  int count = decal_count();
  r->decals = static_cast<DecalRef *>(render_zeroed(static_cast<size_t>(std::max(count, 1)), sizeof(DecalRef)));
  for (int k = 0; k < count; k++) {
    const Decal *d = track_decal(k);
    if (!d || !d->texture_path) continue;
    DecalRef ref = {};
    ref.x = d->x;
    ref.z = d->z;
    ref.cos_angle = d->cos_angle;
    ref.sin_angle = d->sin_angle;
    ref.size1 = d->size1;
    ref.size2 = d->size2;
    ref.radius = 0.5f * std::hypot(d->size1, d->size2);
    if (software) {
      ref.image = image_read(d->texture_path);
      if (!ref.image) continue;  // a decal whose picture does not load is skipped
    } else if (r->options.gl) {
      ref.colour = texture_read(d->texture_path);
      if (!ref.colour) continue;
      if (r->shader_lighting) {
        ref.normal = decal_companion(d->texture_path, "_tnorm");
        ref.specular = decal_companion(d->texture_path, "_tspec");
      }
    }
    r->decals[r->decal_total++] = ref;
  }
  // The 8 x 8 cell index: each decal listed in every cell its circle touches.
  float cell = t->extent / decal_grid_side;
  int cells = decal_grid_side * decal_grid_side;
  int counts[decal_grid_side * decal_grid_side] = {};
  auto span = [&](float centre, float radius, int *lo, int *hi) {
    *lo = std::clamp(static_cast<int>(std::floor((centre - radius) / cell)), 0, decal_grid_side - 1);
    *hi = std::clamp(static_cast<int>(std::floor((centre + radius) / cell)), 0, decal_grid_side - 1);
  };
  for (int pass = 0; pass < 2; pass++) {
    int fill[decal_grid_side * decal_grid_side] = {};
    for (int k = 0; k < r->decal_total; k++) {
      int x0, x1, z0, z1;
      span(r->decals[k].x, r->decals[k].radius, &x0, &x1);
      span(r->decals[k].z, r->decals[k].radius, &z0, &z1);
      for (int b = z0; b <= z1; b++)
        for (int a = x0; a <= x1; a++) {
          int c = a + b * decal_grid_side;
          if (pass == 0) {
            counts[c]++;
          } else {
            r->decal_cell_list[r->decal_cell_start[c] + fill[c]++] = k;
          }
        }
    }
    if (pass == 0) {
      r->decal_cell_start[0] = 0;
      for (int c = 0; c < cells; c++) r->decal_cell_start[c + 1] = r->decal_cell_start[c] + counts[c];
      r->decal_cell_list = static_cast<int *>(render_zeroed(static_cast<size_t>(std::max(r->decal_cell_start[cells], 1)), sizeof(int)));
    }
  }
}

void pick_technique(TerrainRender *r) {
  const TerrainRenderOptions &o = r->options;
  int method = std::clamp(o.method, 0, 4);
  r->technique = method == terrain_software ? compose_tex_sub_image
                 : (method == terrain_hardware_copy || method == terrain_shaders_copy) ? compose_copy
                                                                                        : compose_direct;
  // The Hardware methods compose lit colour; the Shaders ones leave the
  // lighting to the terrain program.
  r->shader_lighting = o.use_shader && (method == terrain_shaders_copy || method == terrain_shaders_direct) &&
                       r->technique != compose_tex_sub_image && (!o.gl || programs_available());
}

void lighting_from_track(TerrainRender *r) {
  const Lighting *l = track_lighting();
  Lighting defaults;
  if (!l) {
    lighting_defaults(&defaults);
    l = &defaults;
  }
  memcpy(r->sun, l->sun_vector, sizeof r->sun);
  memcpy(r->diffuse, l->sun_color, sizeof r->diffuse);
  memcpy(r->ambient, l->ambient, sizeof r->ambient);
}

}  // namespace

// --- setup and freeing -----------------------------------------------------

int terrain_render_setup(Terrain *t) {
  if (!texture_gl_ready()) {
    // Headless: the files were checked; nothing is drawn.
    terrain_render_free(t);
    return 1;
  }
  const GameSettings &g = game_settings();
  const ActiveGraphics &active = active_graphics();
  TerrainRenderOptions o = {};
  o.method = g.render_texture.selected;
  o.use_shader = g.use_shader.selected == 1 && programs_available();
  o.texture_size = active.ground_texture_size;
  o.reduction = active.ground_texture_reduction;
  o.mipmaps = g.ground_mipmaps.selected == 1;
  o.detail_threshold = active.terrain_detail_threshold;
  o.gl = 1;
  o.verbosity = track_verbosity();
  return terrain_render_setup_with(t, &o);
}

int terrain_render_setup_with(Terrain *t, const TerrainRenderOptions *options) {
  TerrainRender *r = render_of(t);
  r->options = *options;
  r->options.texture_size = std::clamp(options->texture_size, 32, 1024);
  pick_technique(r);
  compose_choose(r);
  lighting_from_track(r);
  size_t vertices = static_cast<size_t>(r->verts) * r->verts;
  if (!r->shading) {
    // A track always has its shading; a test terrain gets it computed.
    r->shading = static_cast<uint8_t *>(alloc_or_die(vertices * 3));
    memset(t->shading_dirty, 0xff, sizeof(uint32_t) * ((vertices + 31) / 32));
    for (int j = 0; j < r->verts; j++)
      for (int i = 0; i < r->verts; i++) reshade_vertex(t, r, i, j);
  }
  int verbosity = r->options.verbosity;
  log_memory(verbosity, "before ground tiles loaded");
  load_ground_pictures(r, t);
  log_memory(verbosity, "after ground tiles loaded");
  if (r->shader_lighting) {
    hovl_log("Creating terrain normals\n");
    r->normal_map = static_cast<uint8_t *>(alloc_or_die(vertices * 3));
    for (int j = 0; j < r->verts; j++)
      for (int i = 0; i < r->verts; i++) renormal_vertex(t, r, i, j);
  }
  hovl_log("Creating low detail textures\n");
  if (r->technique != compose_tex_sub_image) create_shading_textures(r);
  log_memory(verbosity, "after low detail ground textures");
  hovl_log("Creating LOD textures\n");
  if (!compose_setup(t, r)) {
    print_message("Error creating low LOD textures");
    terrain_render_free(t);
    return 0;
  }
  r->min_leaf_level = std::max(0, r->size_exp - block_tiles_exp);
  lod_init(&r->lod, t);
  r->counters.frame = 1;
  r->counters.shader_lighting = r->shader_lighting;
  r->counters.technique = r->technique;
  r->counters.texture_size = r->size;
  terrain_update_all(t);
  return 1;
}

void terrain_render_free(Terrain *t) {
  TerrainRender *r = t ? t->render : nullptr;
  if (!r) return;
  compose_free(r);
  if (r->shading_textures) {
    for (int k = 0; k < r->shading_side * r->shading_side; k++) {
      texture_release(r->shading_textures[k].tid, r->shading_textures[k].bytes);
    }
  }
  tracked_free(r->shading_textures);
  tracked_free(r->shading);
  tracked_free(r->shadows);
  tracked_free(r->normal_map);
  tracked_free(r->decals);
  tracked_free(r->decal_cell_list);
  tracked_free(r->scratch);
  tracked_free(r->vertices);
  tracked_free(r->coords);
  tracked_free(r->indices);
  if (r->lod.tables[0]) lod_free(&r->lod);
  tracked_free(r);
  t->render = nullptr;
}

// --- per frame ------------------------------------------------------------------

void terrain_set_view(Terrain *t, const float position[3], const float direction[3]) {
  TerrainRender *r = t ? t->render : nullptr;
  if (!r) return;
  memcpy(r->view_position, position, sizeof r->view_position);
  memcpy(r->view_direction, direction, sizeof r->view_direction);
  r->have_view = 1;
}

void terrain_set_reshade_interval(Terrain *t, int frames) {
  if (t && t->render) t->render->reshade_interval = std::max(0, frames);
}

void terrain_update(Terrain *t) {
  TerrainRender *r = t ? t->render : nullptr;
  if (!r) return;
  if (lod_pass(&r->lod, t, r->options.detail_threshold, lod_frame_budget)) r->counters.lod_passes++;
  r->counters.frame++;
  if (r->technique == compose_tex_sub_image) return;  // edits stamp the ground textures directly
  if (r->reshade_count >= r->reshade_interval) {
    refresh_one_shading(t, r);
    r->reshade_count = 0;
  } else {
    r->reshade_count++;
  }
}

void terrain_update_all(Terrain *t) {
  TerrainRender *r = t ? t->render : nullptr;
  if (!r) return;
  if (lod_pass(&r->lod, t, r->options.detail_threshold, 1LL << 62)) r->counters.lod_passes++;
  if (r->technique != compose_tex_sub_image) {
    while (refresh_one_shading(t, r)) {
    }
  }
  r->reshade_count = 0;
}

void terrain_mark_dirty(Terrain *t, int col0, int row0, int col1, int row1) {
  TerrainRender *r = t ? t->render : nullptr;
  if (!r) return;
  if (r->technique == compose_tex_sub_image) {
    // The shading of the vertices round the changed ones changes too, and
    // a vertex's shading reaches into the cells on both of its sides.
    int last = r->tiles_per_side - 1;
    stamp_ground(r, std::clamp((col0 - 2) >> 1, 0, last), std::clamp((row0 - 2) >> 1, 0, last),
                 std::clamp((col1 + 1) >> 1, 0, last), std::clamp((row1 + 1) >> 1, 0, last));
    return;
  }
  // Likewise here; and a ground texture reads its shading cell up to the
  // vertex on the cell's far border, which belongs to the next cell.
  int last = r->shading_side - 1;
  int u0 = std::clamp(std::max(col0 - 2, 0) / shading_cell, 0, last), u1 = std::clamp((col1 + 2) / shading_cell, 0, last);
  int v0 = std::clamp(std::max(row0 - 2, 0) / shading_cell, 0, last), v1 = std::clamp((row1 + 2) / shading_cell, 0, last);
  for (int v = v0; v <= v1; v++)
    for (int u = u0; u <= u1; u++) r->shading_textures[u + v * r->shading_side].dirty = 1;
}

void terrain_toggle_decals(Terrain *t) {
  TerrainRender *r = t ? t->render : nullptr;
  if (!r) return;
  r->hide_decals = !r->hide_decals;
  mark_all_ground_stale(r);
}

int terrain_decals_hidden(const Terrain *t) { return t && t->render ? t->render->hide_decals : 0; }

int terrain_texture_age(const Terrain *t) {
  const TerrainRender *r = t ? t->render : nullptr;
  if (!r) return 0;
  int oldest = oldest_stale_stamp(r);
  return oldest > 0 ? r->counters.frame - oldest : 0;
}

int terrain_reshades_pending(const Terrain *t) {
  const TerrainRender *r = t ? t->render : nullptr;
  if (!r || !r->shading_textures) return 0;
  int pending = 0;
  for (int k = 0; k < r->shading_side * r->shading_side; k++) pending += r->shading_textures[k].dirty;
  return pending;
}

const TerrainRenderCounters *terrain_render_counters(const Terrain *t) {
  return t && t->render ? &t->render->counters : nullptr;
}

// --- drawing ----------------------------------------------------------------------

namespace {

// Planes of the view volume from the current matrices (clip = P * MV * v),
// each as a x + b y + c z + d >= 0 inside.
void frustum_planes(float planes[6][4], float eye[3]) {
  float p[16], m[16], c[16];
  glGetFloatv(GL_PROJECTION_MATRIX, p);
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  for (int col = 0; col < 4; col++)
    for (int row = 0; row < 4; row++) {
      float sum = 0;
      for (int k = 0; k < 4; k++) sum += p[k * 4 + row] * m[col * 4 + k];
      c[col * 4 + row] = sum;
    }
  for (int plane = 0; plane < 6; plane++) {
    int axis = plane / 2;
    float sign = (plane & 1) ? -1.0f : 1.0f;
    for (int col = 0; col < 4; col++) planes[plane][col] = c[col * 4 + 3] + sign * c[col * 4 + axis];
  }
  // The eye: -R^T t of the model-view matrix (rotation and translation only).
  for (int a = 0; a < 3; a++) eye[a] = -(m[a * 4 + 0] * m[12] + m[a * 4 + 1] * m[13] + m[a * 4 + 2] * m[14]);
}

struct Batch {
  TerrainRender *r;
  int count;    // vertices
  int indices;  // three a triangle
  const GroundTexture *texture;
};

void flush(Batch &b) {
  if (!b.count) return;
  TerrainRender *r = b.r;
  const GlExt &ext = gl_ext();
  if (r->shader_lighting && ext.ActiveTextureARB) {
    ext.ActiveTextureARB(GL_TEXTURE1_ARB);
    glBindTexture(GL_TEXTURE_2D, b.texture->normal);
    ext.ActiveTextureARB(GL_TEXTURE2_ARB);
    glBindTexture(GL_TEXTURE_2D, b.texture->specular);
    ext.ActiveTextureARB(GL_TEXTURE0_ARB);
  }
  glBindTexture(GL_TEXTURE_2D, b.texture->colour);
  render_stats().texture_changes++;
  glDrawElements(GL_TRIANGLES, b.indices, GL_UNSIGNED_SHORT, r->indices);
  r->counters.triangles += b.indices / 3;
  render_stats().ground_polygons += b.indices / 3;
  b.count = 0;
  b.indices = 0;
}

void emit_leaf(Batch &b, const Terrain *t, const LodLeaf &leaf) {
  TerrainRender *r = b.r;
  int n = r->size_exp, s = 1 << (n + 1 - leaf.level), half = s / 2;
  int x0 = leaf.j * s, z0 = leaf.k * s;
  int tiles = s / 2;
  const GroundTexture *g = ground_for(r, x0 / 2, z0 / 2, tiles);
  if (!g) return;
  if (g != b.texture) {
    flush(b);
    b.texture = g;
  }
  // Boundary, counter-clockwise seen from above, midpoints where the
  // neighbour is finer.
  int ring[8][2];
  int m = 0;
  auto push = [&](int x, int z) {
    ring[m][0] = x;
    ring[m][1] = z;
    m++;
  };
  push(x0, z0);
  if (leaf.midpoints & 8) push(x0, z0 + half);
  push(x0, z0 + s);
  if (leaf.midpoints & 4) push(x0 + half, z0 + s);
  push(x0 + s, z0 + s);
  if (leaf.midpoints & 2) push(x0 + s, z0 + half);
  push(x0 + s, z0);
  if (leaf.midpoints & 1) push(x0 + half, z0);
  if (b.count + m + 1 > r->vertex_capacity || b.indices + 3 * m > r->index_capacity) flush(b);
  float spacing = t->spacing, scale = 1.0f / (2.0f * static_cast<float>(g->tiles));
  float gx = static_cast<float>(2 * g->tile_x), gz = static_cast<float>(2 * g->tile_z);
  auto put = [&](int x, int z) {
    float *v = r->vertices + b.count * 3, *c = r->coords + b.count * 2;
    v[0] = static_cast<float>(x) * spacing;
    v[1] = t->heights[x + z * t->verts_per_side];
    v[2] = static_cast<float>(z) * spacing;
    c[0] = (static_cast<float>(x) - gx) * scale;
    c[1] = (static_cast<float>(z) - gz) * scale;
    b.count++;
  };
  // A fan about the centre, each vertex sent once: software GL transforms
  // a vertex per index of a plain triangle list.
  int centre = b.count;
  put(x0 + half, z0 + half);
  for (int e = 0; e < m; e++) put(ring[e][0], ring[e][1]);
  uint16_t *index = r->indices + b.indices;
  for (int e = 0; e < m; e++) {
    index[3 * e] = static_cast<uint16_t>(centre);
    index[3 * e + 1] = static_cast<uint16_t>(centre + 1 + e);
    index[3 * e + 2] = static_cast<uint16_t>(centre + 1 + (e + 1) % m);
  }
  b.indices += 3 * m;
  r->counters.leaves++;
}

}  // namespace

void terrain_draw(Terrain *t) {
  TerrainRender *r = t ? t->render : nullptr;
  if (!r || !r->options.gl || r->lod.current < 0) return;
  float planes[6][4], eye[3];
  frustum_planes(planes, eye);
  const float *viewer = r->have_view ? r->view_position : eye;
  float fallback_direction[3] = {0, 0, -1};
  const float *direction = r->have_view ? r->view_direction : fallback_direction;
  lod_mark_splits(&r->lod, t, viewer, r->min_leaf_level);
  lod_collect_leaves(&r->lod, t, direction, planes, 6);
  if (r->options.verbosity >= 2 && lod_count_cracks(&r->lod)) hovl_log("Found a crack!\n");

  if (r->vertex_capacity == 0) {
    // Nine vertices and eight triangles a leaf at most; the indices are
    // 16-bit, so a batch stays under 65536 vertices.
    r->vertex_capacity = 9 * 4096;
    r->index_capacity = 3 * 8 * 4096;
    r->vertices = static_cast<float *>(alloc_or_die(sizeof(float) * 3 * static_cast<size_t>(r->vertex_capacity)));
    r->coords = static_cast<float *>(alloc_or_die(sizeof(float) * 2 * static_cast<size_t>(r->vertex_capacity)));
    r->indices = static_cast<uint16_t *>(alloc_or_die(sizeof(uint16_t) * static_cast<size_t>(r->index_capacity)));
  }
  glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT | GL_LIGHTING_BIT | GL_FOG_BIT);
  glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
  int program = current_program();
  // The ground's light is in its textures (or, with shader lighting, in its
  // normal map); the fixed pipeline's lighting would count it twice.
  glDisable(GL_LIGHTING);
  glEnable(GL_TEXTURE_2D);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glColor4f(1, 1, 1, 1);
  if (r->shader_lighting) {
    static const float white[4] = {1, 1, 1, 1};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
    // The program fogs whatever the fog switch says; with fog off it must
    // see no fog at all, as the fixed pipeline would.
    if (!glIsEnabled(GL_FOG)) glFogf(GL_FOG_DENSITY, 0);
    use_program(program_terrain);
  }
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, r->vertices);
  glTexCoordPointer(2, GL_FLOAT, 0, r->coords);
  r->counters.leaves = 0;
  r->counters.triangles = 0;
  Batch b = {r, 0, 0, nullptr};
  for (int k = 0; k < r->lod.leaf_count; k++) emit_leaf(b, t, r->lod.leaves[k]);
  flush(b);
  if (r->shader_lighting) {
    const GlExt &ext = gl_ext();
    if (ext.ActiveTextureARB) {
      ext.ActiveTextureARB(GL_TEXTURE2_ARB);
      glBindTexture(GL_TEXTURE_2D, 0);
      ext.ActiveTextureARB(GL_TEXTURE1_ARB);
      glBindTexture(GL_TEXTURE_2D, 0);
      ext.ActiveTextureARB(GL_TEXTURE0_ARB);
    }
    use_program(program);
  }
  glPopClientAttrib();
  glPopAttrib();
}
