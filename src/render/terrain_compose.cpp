// Ground textures: the base blocks and the moving windows of the fine
// levels, their placeholders, the schedule that picks what is composed each
// frame, and the three ways of composing one (on the processor, through the
// back buffer, or straight into the texture through a framebuffer object).
//
// A ground texture holds a square of tiles seen from above: texel column a
// runs along world x, row b along world z, row 0 at the square's low z.
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "assets/image.h"
#include "assets/texture.h"
#include "platform/log.h"
#include "render/gl_caps.h"
#include "render/render_stats.h"
#include "render/terrain_render_local.h"
#include "track/terrain.h"

namespace {

// Checkerboard squares and brightness of the placeholders; base blocks are
// composed before they are first drawn, so theirs is only a dim default.
int placeholder_square(int level) { return level >= fine_levels ? 16 : 64 >> level; }
int placeholder_brightness(int level) { return level >= fine_levels ? 21 : (1530 - 255 * level) / 6; }

int ground_mipmapped(const TerrainRender *r) {
  if (!r->options.mipmaps) return 0;
  switch (r->technique) {
    case compose_copy: return gl_caps().generate_mipmap;
    case compose_direct: return gl_ext().GenerateMipmapEXT != nullptr;
    default: return 1;  // the driver's generation, or levels built here
  }
}

unsigned create_ground_texture(TerrainRender *r, int level, size_t *bytes) {
  int size = r->size, square = std::max(1, placeholder_square(level)), bright = placeholder_brightness(level);
  int mip = ground_mipmapped(r);
  uint8_t *chain = static_cast<uint8_t *>(alloc_or_die(chain_bytes(size, size, 3)));
  for (int b = 0; b < size; b++)
    for (int a = 0; a < size; a++) {
      uint8_t value = static_cast<uint8_t>(((a / square + b / square) & 1) ? bright : 0);
      memset(chain + (a + b * size) * 3, value, 3);
    }
  if (mip) build_levels(chain, size, size, 3, 0);
  unsigned tid = texture_upload(chain, size, size, 3, mip ? 0 : upload_single_level, bytes);
  tracked_free(chain);
  if (!tid) return 0;
  if (!mip) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  } else if (r->technique != compose_direct && gl_caps().generate_mipmap) {
    glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP_SGIS, GL_TRUE);
  }
  return tid;
}

void create_textures(TerrainRender *r, GroundTexture *g) {
  if (!r->options.gl) return;
  g->colour = create_ground_texture(r, g->level, &g->bytes);
  if (r->shader_lighting) {
    g->normal = create_ground_texture(r, g->level, &g->bytes);
    g->specular = create_ground_texture(r, g->level, &g->bytes);
  }
}

void release_textures(GroundTexture *g) {
  texture_release(g->colour, g->bytes);
  texture_release(g->normal, g->bytes);
  texture_release(g->specular, g->bytes);
  g->colour = g->normal = g->specular = 0;
}

// Direct composition needs a framebuffer object that accepts a texture of
// the ground size; 1 when it does.
int framebuffer_works(TerrainRender *r) {
  const GlExt &e = gl_ext();
  if (!gl_caps().framebuffer_object || !e.GenFramebuffersEXT) return 0;
  size_t bytes = 0;
  unsigned probe = create_ground_texture(r, 0, &bytes);
  if (!probe) return 0;
  e.GenFramebuffersEXT(1, &r->framebuffer);
  e.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, r->framebuffer);
  e.FramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, probe, 0);
  GLenum status = e.CheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
  e.FramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, 0, 0);
  e.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  texture_release(probe, bytes);
  if (status == GL_FRAMEBUFFER_COMPLETE_EXT) return 1;
  e.DeleteFramebuffersEXT(1, &r->framebuffer);
  r->framebuffer = 0;
  return 0;
}

// --- composing on the processor -----------------------------------------------

// Nearest texel of the chain level whose texels are closest to `footprint`
// level-0 pixels wide; 4 bytes out, alpha 255 for RGB pictures.
void sample_picture(const Picture *p, float u, float v, float footprint, uint8_t out[4]) {
  int level = 0;
  while (footprint >= 2 && level + 1 < p->levels) {
    footprint *= 0.5f;
    level++;
  }
  int w, h;
  size_t offset = chain_level_offset(p->width, p->height, p->channels, level, &w, &h);
  int x = std::clamp(static_cast<int>(std::floor(u * static_cast<float>(w))), 0, w - 1);
  int y = std::clamp(static_cast<int>(std::floor(v * static_cast<float>(h))), 0, h - 1);
  const uint8_t *px = p->pixels + offset + (static_cast<size_t>(x) + static_cast<size_t>(y) * w) * p->channels;
  out[0] = px[0];
  out[1] = px[1];
  out[2] = px[2];
  out[3] = p->channels == 4 ? px[3] : 255;
}

void cpu_tiles(const Terrain *t, const TerrainRender *r, const GroundTexture *g, uint8_t *out) {
  int size = r->size, q = r->tiles_per_side;
  float scale = static_cast<float>(g->tiles) / static_cast<float>(size);  // tiles per texel
  for (int b = 0; b < size; b++) {
    float tz = static_cast<float>(g->tile_z) + (static_cast<float>(b) + 0.5f) * scale;
    int row = std::min(static_cast<int>(tz), q - 1);
    for (int a = 0; a < size; a++) {
      float tx = static_cast<float>(g->tile_x) + (static_cast<float>(a) + 0.5f) * scale;
      int col = std::min(static_cast<int>(tx), q - 1);
      const Picture *p = r->tile_images[t->tilemap[col + row * q]];
      uint8_t *c = out + (a + b * size) * 3;
      if (!p || !p->pixels) {
        memset(c, 255, 3);  // as GL draws an untextured quad
        continue;
      }
      uint8_t s[4];
      sample_picture(p, tx - static_cast<float>(col), tz - static_cast<float>(row), scale * static_cast<float>(p->width), s);
      memcpy(c, s, 3);
    }
  }
}

void cpu_decals(const Terrain *t, const TerrainRender *r, const GroundTexture *g, uint8_t *out) {
  int size = r->size;
  float tile = t->tile_size, world_per_texel = static_cast<float>(g->tiles) * tile / static_cast<float>(size);
  float x0 = static_cast<float>(g->tile_x) * tile, z0 = static_cast<float>(g->tile_z) * tile;
  float side = static_cast<float>(g->tiles) * tile, cell = t->extent / decal_grid_side;
  int c0 = std::clamp(static_cast<int>(x0 / cell), 0, decal_grid_side - 1);
  int c1 = std::clamp(static_cast<int>((x0 + side) / cell), 0, decal_grid_side - 1);
  int r0 = std::clamp(static_cast<int>(z0 / cell), 0, decal_grid_side - 1);
  int r1 = std::clamp(static_cast<int>((z0 + side) / cell), 0, decal_grid_side - 1);
  for (int k = 0; k < r->decal_total; k++) {
    // Listed in a cell the square touches?
    int listed = 0;
    for (int cz = r0; cz <= r1 && !listed; cz++)
      for (int cx = c0; cx <= c1 && !listed; cx++) {
        int c = cx + cz * decal_grid_side;
        for (int e = r->decal_cell_start[c]; e < r->decal_cell_start[c + 1] && !listed; e++) listed = r->decal_cell_list[e] == k;
      }
    const DecalRef &d = r->decals[k];
    if (!listed || !d.image || !(d.size1 > 0) || !(d.size2 > 0)) continue;
    int a0 = std::max(0, static_cast<int>(std::floor((d.x - d.radius - x0) / world_per_texel)));
    int a1 = std::min(size - 1, static_cast<int>(std::ceil((d.x + d.radius - x0) / world_per_texel)));
    int b0 = std::max(0, static_cast<int>(std::floor((d.z - d.radius - z0) / world_per_texel)));
    int b1 = std::min(size - 1, static_cast<int>(std::ceil((d.z + d.radius - z0) / world_per_texel)));
    float footprint = world_per_texel / std::min(d.size1, d.size2) * static_cast<float>(d.image->width);
    for (int b = b0; b <= b1; b++)
      for (int a = a0; a <= a1; a++) {
        float dx = x0 + (static_cast<float>(a) + 0.5f) * world_per_texel - d.x;
        float dz = z0 + (static_cast<float>(b) + 0.5f) * world_per_texel - d.z;
        // The decal's own axes: its x turned by the angle about the vertical.
        float u = (dx * d.cos_angle - dz * d.sin_angle) / d.size1 + 0.5f;
        float v = (dx * d.sin_angle + dz * d.cos_angle) / d.size2 + 0.5f;
        if (u < 0 || u >= 1 || v < 0 || v >= 1) continue;
        uint8_t s[4];
        sample_picture(d.image, u, v, footprint, s);
        uint8_t *c = out + (a + b * size) * 3;
        for (int ch = 0; ch < 3; ch++) c[ch] = static_cast<uint8_t>((c[ch] * (255 - s[3]) + s[ch] * s[3] + 127) / 255);
      }
  }
}

void cpu_shade(const TerrainRender *r, const GroundTexture *g, uint8_t *out) {
  int size = r->size;
  float scale = 2.0f * static_cast<float>(g->tiles) / static_cast<float>(size);  // vertices per texel
  for (int b = 0; b < size; b++) {
    float gz = 2.0f * static_cast<float>(g->tile_z) + (static_cast<float>(b) + 0.5f) * scale;
    for (int a = 0; a < size; a++) {
      float gx = 2.0f * static_cast<float>(g->tile_x) + (static_cast<float>(a) + 0.5f) * scale;
      float s[3];
      shading_at(r, gx, gz, s);
      uint8_t *c = out + (a + b * size) * 3;
      for (int ch = 0; ch < 3; ch++) c[ch] = static_cast<uint8_t>(std::min(255.0f, std::round(2.0f * c[ch] * s[ch] / 255.0f)));
    }
  }
}

void upload_composed(TerrainRender *r, unsigned tid, uint8_t *chain) {
  int size = r->size;
  glBindTexture(GL_TEXTURE_2D, tid);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, size, size, GL_RGB, GL_UNSIGNED_BYTE, chain);
  if (!ground_mipmapped(r) || gl_caps().generate_mipmap) return;  // none, or the driver makes them
  build_levels(chain, size, size, 3, 0);
  for (int level = 1; level < chain_level_count(size, size); level++) {
    int w, h;
    size_t offset = chain_level_offset(size, size, 3, level, &w, &h);
    glTexSubImage2D(GL_TEXTURE_2D, level, 0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, chain + offset);
  }
}

void compose_software(Terrain *t, TerrainRender *r, GroundTexture *g) {
  refresh_square_vertices(t, r, g->tile_x, g->tile_z, g->tiles);
  if (!r->scratch) r->scratch = static_cast<uint8_t *>(alloc_or_die(chain_bytes(r->size, r->size, 3)));
  cpu_tiles(t, r, g, r->scratch);
  if (!r->hide_decals) cpu_decals(t, r, g, r->scratch);
  cpu_shade(r, g, r->scratch);
  if (r->options.gl && g->colour) upload_composed(r, g->colour, r->scratch);
}

// --- composing through GL -------------------------------------------------------------

void square_projection(const TerrainRender *r, const GroundTexture *g) {
  glViewport(0, 0, r->size, r->size);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  // Straight down on the square, in tile units: x along the window's x, z
  // along its y.
  glOrtho(g->tile_x, g->tile_x + g->tiles, g->tile_z, g->tile_z + g->tiles, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void gl_tiles(const Terrain *t, const TerrainRender *r, const GroundTexture *g) {
  glDisable(GL_BLEND);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  int q = r->tiles_per_side;
  int bound = -1;
  glBegin(GL_QUADS);
  for (int row = g->tile_z; row < g->tile_z + g->tiles; row++)
    for (int col = g->tile_x; col < g->tile_x + g->tiles; col++) {
      int tile = t->tilemap[col + row * q];
      if (tile != bound) {
        glEnd();
        glBindTexture(GL_TEXTURE_2D, r->tile_textures[tile]);
        render_stats().texture_changes++;
        bound = tile;
        glBegin(GL_QUADS);
      }
      float x = static_cast<float>(col), z = static_cast<float>(row);
      glTexCoord2f(0, 0);
      glVertex2f(x, z);
      glTexCoord2f(1, 0);
      glVertex2f(x + 1, z);
      glTexCoord2f(1, 1);
      glVertex2f(x + 1, z + 1);
      glTexCoord2f(0, 1);
      glVertex2f(x, z + 1);
    }
  glEnd();
}

// which: 0 the decals' colour, 1 their normal maps, 2 their specular maps.
void gl_decals(const Terrain *t, const TerrainRender *r, const GroundTexture *g, int which) {
  if (r->hide_decals) return;
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glColor4f(1, 1, 1, 1);
  float tile = t->tile_size;
  float x0 = static_cast<float>(g->tile_x) * tile, z0 = static_cast<float>(g->tile_z) * tile;
  float side = static_cast<float>(g->tiles) * tile;
  for (int k = 0; k < r->decal_total; k++) {
    const DecalRef &d = r->decals[k];
    unsigned tid = which == 0 ? d.colour : which == 1 ? d.normal : d.specular;
    if (!tid) continue;
    if (d.x + d.radius < x0 || d.x - d.radius > x0 + side || d.z + d.radius < z0 || d.z - d.radius > z0 + side) continue;
    glBindTexture(GL_TEXTURE_2D, tid);
    render_stats().decals++;
    static const float corners[4][2] = {{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}};
    glBegin(GL_QUADS);
    for (const auto &c : corners) {
      float u = c[0] * d.size1, v = c[1] * d.size2;
      float x = d.x + u * d.cos_angle + v * d.sin_angle, z = d.z - u * d.sin_angle + v * d.cos_angle;
      glTexCoord2f(c[0] + 0.5f, c[1] + 0.5f);
      glVertex2f(x / tile, z / tile);
    }
    glEnd();
  }
}

// The shading cell's texture over the square: multiplied in (twice the
// product, so the half-intensity map comes back to full), or, with shader
// lighting, copied as the base of the normal map.
void gl_shading(const TerrainRender *r, const GroundTexture *g, int multiply) {
  const ShadingTexture *cell;
  unsigned tid = shading_texture_for(r, 2 * g->tile_x, 2 * g->tile_z, &cell);
  if (multiply) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_DST_COLOR, GL_SRC_COLOR);
  } else {
    glDisable(GL_BLEND);
  }
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  glBindTexture(GL_TEXTURE_2D, tid);
  float side = static_cast<float>(cell->side);
  auto s_at = [&](int tile_x) { return (static_cast<float>(2 * tile_x - cell->first_x) + 0.5f) / side; };
  auto t_at = [&](int tile_z) { return (static_cast<float>(2 * tile_z - cell->first_z) + 0.5f) / side; };
  float x0 = static_cast<float>(g->tile_x), z0 = static_cast<float>(g->tile_z), n = static_cast<float>(g->tiles);
  glBegin(GL_QUADS);
  glTexCoord2f(s_at(g->tile_x), t_at(g->tile_z));
  glVertex2f(x0, z0);
  glTexCoord2f(s_at(g->tile_x + g->tiles), t_at(g->tile_z));
  glVertex2f(x0 + n, z0);
  glTexCoord2f(s_at(g->tile_x + g->tiles), t_at(g->tile_z + g->tiles));
  glVertex2f(x0 + n, z0 + n);
  glTexCoord2f(s_at(g->tile_x), t_at(g->tile_z + g->tiles));
  glVertex2f(x0, z0 + n);
  glEnd();
}

// The decals' normal maps turned onto the ground's own normals: the
// vertex-normal texture on unit 1, addressed through texture matrix 1 from
// the vertex position in tile units.
void gl_decal_normals(const Terrain *t, const TerrainRender *r, const GroundTexture *g) {
  const GlExt &e = gl_ext();
  if (r->hide_decals || !e.ActiveTextureARB) return;
  const ShadingTexture *cell;
  unsigned base = shading_texture_for(r, 2 * g->tile_x, 2 * g->tile_z, &cell);
  float side = static_cast<float>(cell->side);
  e.ActiveTextureARB(GL_TEXTURE1_ARB);
  glBindTexture(GL_TEXTURE_2D, base);
  glMatrixMode(GL_TEXTURE);
  glPushMatrix();
  glLoadIdentity();
  glTranslatef((0.5f - static_cast<float>(cell->first_x)) / side, (0.5f - static_cast<float>(cell->first_z)) / side, 0);
  glScalef(2.0f / side, 2.0f / side, 1);
  e.ActiveTextureARB(GL_TEXTURE0_ARB);
  int program = current_program();
  use_program(program_terrain_normals);
  gl_decals(t, r, g, 1);
  use_program(program);
  e.ActiveTextureARB(GL_TEXTURE1_ARB);
  glMatrixMode(GL_TEXTURE);
  glPopMatrix();
  glBindTexture(GL_TEXTURE_2D, 0);
  e.ActiveTextureARB(GL_TEXTURE0_ARB);
  glMatrixMode(GL_MODELVIEW);
}

// Points the drawing at the texture (Direct) ; 0 when the framebuffer
// refuses it.
int gl_target(TerrainRender *r, unsigned tid) {
  if (r->technique != compose_direct) return 1;
  const GlExt &e = gl_ext();
  e.FramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, tid, 0);
  GLenum status = e.CheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
  if (status == GL_FRAMEBUFFER_COMPLETE_EXT) return 1;
  char text[64];
  snprintf(text, sizeof text, "Framebuffer error %x", static_cast<unsigned>(status));
  print_message(text);
  return 0;
}

// What was drawn into the texture: copied from the back buffer (Copy), or
// detached with its smaller levels made (Direct).
void gl_finish(TerrainRender *r, unsigned tid) {
  int size = r->size;
  if (r->technique == compose_direct) {
    const GlExt &e = gl_ext();
    e.FramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, 0, 0);
    if (ground_mipmapped(r)) {
      glBindTexture(GL_TEXTURE_2D, tid);
      e.GenerateMipmapEXT(GL_TEXTURE_2D);
    }
    return;
  }
  glBindTexture(GL_TEXTURE_2D, tid);
  if (r->ati_copy_path) {
    // That driver's copy into a texture goes wrong; reading the pixels back
    // and uploading them gives the same texture.
    uint8_t *pixels = static_cast<uint8_t *>(alloc_or_die(static_cast<size_t>(size) * size * 3));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glReadPixels(0, 0, size, size, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, size, size, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    tracked_free(pixels);
    return;
  }
  glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, size, size);
}

void compose_gl(Terrain *t, TerrainRender *r, GroundTexture *g) {
  const GlExt &e = gl_ext();
  glPushAttrib(GL_ALL_ATTRIB_BITS);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  int program = current_program();
  use_program(0);
  if (r->technique == compose_direct) e.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, r->framebuffer);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glDisable(GL_FOG);
  glDisable(GL_CULL_FACE);
  glDisable(GL_ALPHA_TEST);
  glEnable(GL_SCISSOR_TEST);
  glScissor(0, 0, r->size, r->size);
  glEnable(GL_TEXTURE_2D);
  glColor4f(1, 1, 1, 1);
  square_projection(r, g);

  if (gl_target(r, g->colour)) {
    gl_tiles(t, r, g);
    gl_decals(t, r, g, 0);
    if (!r->shader_lighting) gl_shading(r, g, 1);
    gl_finish(r, g->colour);
  }
  if (r->shader_lighting) {
    if (gl_target(r, g->normal)) {
      gl_shading(r, g, 0);
      gl_decal_normals(t, r, g);
      gl_finish(r, g->normal);
    }
    if (gl_target(r, g->specular)) {
      // Strength 0 and exponent 1 * 128 + 0.125 where no decal says otherwise.
      glClearColor(0, 1, 1, 1);
      glClear(GL_COLOR_BUFFER_BIT);
      gl_decals(t, r, g, 2);
      gl_finish(r, g->specular);
    }
  }
  if (r->technique == compose_direct) e.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  use_program(program);
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glPopAttrib();
}

void compose_ground(Terrain *t, TerrainRender *r, GroundTexture *g) {
  if (r->technique == compose_tex_sub_image) {
    compose_software(t, r, g);
  } else if (r->options.gl) {
    compose_gl(t, r, g);
  }
  g->state = ground_clean;
  r->counters.composed++;
  r->counters.composed_frame++;
}

// --- the windows and the schedule ------------------------------------------------------

int level_used(const TerrainRender *r, int p) { return p >= r->first_fine && p < fine_levels && r->fine[p].used; }

GroundTexture *window_slot(TerrainRender *r, int p, int square_x, int square_z) {
  return &r->fine[p].slots[(square_x & 3) + (square_z & 3) * window_side];
}

int holds(const GroundTexture *g, int p, int square_x, int square_z) {
  return g->tile_x == square_x << p && g->tile_z == square_z << p;
}

void place_windows(TerrainRender *r, const Terrain *t) {
  float limit = 1e8f;
  int cx = static_cast<int>(std::floor(std::clamp(r->view_position[0] * t->inverse_spacing, -limit, limit)));
  int cz = static_cast<int>(std::floor(std::clamp(r->view_position[2] * t->inverse_spacing, -limit, limit)));
  for (int p = r->first_fine; p < fine_levels; p++) {
    FineLevel &f = r->fine[p];
    if (!f.used) continue;
    int last = (1 << (r->size_exp - p)) - window_side;
    int ox = std::clamp(((cx - (1 << p)) >> (p + 1)) - 1, 0, last);
    int oz = std::clamp(((cz - (1 << p)) >> (p + 1)) - 1, 0, last);
    if (f.placed && ox == f.origin_x && oz == f.origin_z) continue;
    // Squares that stay keep their textures; the slots of those that left
    // take the squares that entered.
    for (int iz = 0; iz < window_side; iz++)
      for (int ix = 0; ix < window_side; ix++) {
        GroundTexture *g = window_slot(r, p, ox + ix, oz + iz);
        if (holds(g, p, ox + ix, oz + iz)) continue;
        g->tile_x = (ox + ix) << p;
        g->tile_z = (oz + iz) << p;
        g->state = ground_waiting;
      }
    f.origin_x = ox;
    f.origin_z = oz;
    f.placed = 1;
  }
}

template <typename F>
void each_ground(TerrainRender *r, F f) {
  for (int p = r->first_fine; p < fine_levels; p++) {
    if (!r->fine[p].used) continue;
    for (GroundTexture &g : r->fine[p].slots) {
      if (g.tile_x >= 0) f(g);
    }
  }
  for (int k = 0; k < r->blocks_per_side * r->blocks_per_side; k++) f(r->blocks[k]);
}

}  // namespace

void compose_choose(TerrainRender *r) {
  const TerrainRenderOptions &o = r->options;
  r->size = o.texture_size;
  if (r->technique == compose_direct && o.gl && !framebuffer_works(r)) r->technique = compose_tex_sub_image;
  if (r->technique == compose_tex_sub_image) r->shader_lighting = 0;
  if (r->technique != compose_direct) r->size = std::min(r->size, software_max_size);
  if (!o.gl) return;
  static const char *const messages[] = {"Terrain texture rendering with TexSubImage",
                                         "Terrain texture rendering with CopyTexSubImage",
                                         "Terrain texture rendering with framebuffer objects"};
  print_message(messages[r->technique]);
  static int ati_logged;
  if (r->technique == compose_copy && strstr(gl_caps().renderer, "ATI Radeon X1270")) {
    if (!ati_logged) hovl_log("Working around ATI Radeon X1270 bug\n");
    ati_logged = 1;
    r->ati_copy_path = 1;
  }
}

int compose_setup(Terrain *t, TerrainRender *r) {
  const TerrainRenderOptions &o = r->options;
  r->first_fine = std::clamp(o.reduction, 0, fine_levels);
  r->blocks_per_side = 1 << std::max(0, r->size_exp - block_tiles_exp);
  int blocks = r->blocks_per_side * r->blocks_per_side;
  int block_tiles = std::min(1 << block_tiles_exp, r->tiles_per_side);
  r->blocks = static_cast<GroundTexture *>(render_zeroed(static_cast<size_t>(blocks), sizeof(GroundTexture)));
  for (int k = 0; k < blocks; k++) {
    GroundTexture &g = r->blocks[k];
    g.tile_x = (k % r->blocks_per_side) * block_tiles;
    g.tile_z = (k / r->blocks_per_side) * block_tiles;
    g.tiles = block_tiles;
    g.level = fine_levels;
    g.state = ground_waiting;
    create_textures(r, &g);
  }
  for (int p = 0; p < fine_levels; p++) {
    FineLevel &f = r->fine[p];
    f.used = p >= r->first_fine && (1 << (r->size_exp - p)) >= window_side;
    if (!f.used) continue;
    for (GroundTexture &g : f.slots) {
      g.tile_x = g.tile_z = -1;  // no square yet
      g.tiles = 1 << p;
      g.level = p;
      g.state = ground_waiting;
      create_textures(r, &g);
    }
  }
  if (o.gl) {
    GLenum error = glGetError();
    if (error == GL_OUT_OF_MEMORY) return 0;
    if (error != GL_NO_ERROR) print_message("Something went wrong setting up terrain texture rendering!");
  }
  (void)t;
  return 1;
}

void compose_free(TerrainRender *r) {
  if (r->blocks) {
    for (int k = 0; k < r->blocks_per_side * r->blocks_per_side; k++) release_textures(&r->blocks[k]);
  }
  for (FineLevel &f : r->fine)
    for (GroundTexture &g : f.slots) release_textures(&g);
  if (r->framebuffer && r->options.gl && gl_ext().DeleteFramebuffersEXT) gl_ext().DeleteFramebuffersEXT(1, &r->framebuffer);
  r->framebuffer = 0;
  tracked_free(r->blocks);
  r->blocks = nullptr;
}

void compose_schedule(Terrain *t, TerrainRender *r) {
  r->counters.composed_frame = 0;
  // 1. Base blocks that wait, in row order.
  for (int k = 0; k < r->blocks_per_side * r->blocks_per_side; k++) {
    if (r->blocks[k].state == ground_waiting) compose_ground(t, r, &r->blocks[k]);
  }
  // 2. The windows follow the viewer.
  place_windows(r, t);
  // 3. At most one new square per level, coarse levels first.
  for (int p = fine_levels - 1; p >= r->first_fine; p--) {
    FineLevel &f = r->fine[p];
    if (!f.used) continue;
    GroundTexture *pick = nullptr;
    for (int iz = 0; iz < window_side && !pick; iz++)
      for (int ix = 0; ix < window_side && !pick; ix++) {
        GroundTexture *g = window_slot(r, p, f.origin_x + ix, f.origin_z + iz);
        if (g->state == ground_waiting) pick = g;
      }
    if (pick) compose_ground(t, r, pick);
  }
  // 4. The oldest stale texture; the windows first, then the blocks, a later
  // one winning only with a strictly older stamp.
  GroundTexture *oldest = nullptr;
  each_ground(r, [&](GroundTexture &g) {
    if (g.state > 0 && (!oldest || g.state < oldest->state)) oldest = &g;
  });
  if (oldest) {
    compose_ground(t, r, oldest);
    r->counters.stale_composed++;
  }
}

void stamp_ground(TerrainRender *r, int tx0, int tz0, int tx1, int tz1) {
  int frame = std::max(1, r->counters.frame);
  each_ground(r, [&](GroundTexture &g) {
    if (g.state != ground_clean) return;
    if (g.tile_x > tx1 || g.tile_x + g.tiles - 1 < tx0 || g.tile_z > tz1 || g.tile_z + g.tiles - 1 < tz0) return;
    g.state = frame;
  });
}

void mark_all_ground_stale(TerrainRender *r) {
  each_ground(r, [&](GroundTexture &g) { g.state = ground_waiting; });
}

int oldest_stale_stamp(const TerrainRender *r) {
  int oldest = 0;
  each_ground(const_cast<TerrainRender *>(r), [&](GroundTexture &g) {
    if (g.state > 0 && (oldest == 0 || g.state < oldest)) oldest = g.state;
  });
  return oldest;
}

int terrain_window_origin(const Terrain *t, int level, int *x, int *z) {
  const TerrainRender *r = t ? t->render : nullptr;
  if (!r || level < 0 || level >= fine_levels || !level_used(r, level) || !r->fine[level].placed) return 0;
  *x = r->fine[level].origin_x;
  *z = r->fine[level].origin_z;
  return 1;
}

int terrain_stale_textures(const Terrain *t) {
  TerrainRender *r = t ? t->render : nullptr;
  if (!r) return 0;
  int stale = 0;
  each_ground(r, [&](GroundTexture &g) { stale += g.state > 0; });
  return stale;
}

const GroundTexture *ground_for(const TerrainRender *r, int tile_x, int tile_z, int tiles) {
  int need = 0;
  while ((1 << need) < tiles) need++;
  for (int p = std::max(need, r->first_fine); p < fine_levels; p++) {
    if (!level_used(r, p)) continue;
    const FineLevel &f = r->fine[p];
    int sx = tile_x >> p, sz = tile_z >> p;
    if (sx < f.origin_x || sz < f.origin_z || sx >= f.origin_x + window_side || sz >= f.origin_z + window_side) continue;
    const GroundTexture *g = &f.slots[(sx & 3) + (sz & 3) * window_side];
    // A square that has not been composed yet is drawn from a coarser
    // texture that has, rather than showing its placeholder.
    if (holds(g, p, sx, sz) && g->state != ground_waiting) return g;
  }
  if (tiles > (1 << block_tiles_exp) || !r->blocks) return nullptr;
  int b = (tile_x >> block_tiles_exp) + (tile_z >> block_tiles_exp) * r->blocks_per_side;
  return &r->blocks[std::clamp(b, 0, r->blocks_per_side * r->blocks_per_side - 1)];
}

void terrain_compose(Terrain *t) {
  TerrainRender *r = t ? t->render : nullptr;
  if (!r) return;
  compose_schedule(t, r);
}
