// The terrain renderer's private records, shared by its files (layers and
// drawing in terrain_render.cpp, ground textures in terrain_compose.cpp).
#pragma once
#include <cstddef>
#include <cstdint>

#include "render/terrain_lod.h"
#include "render/terrain_render.h"
#include "track/tiles.h"

struct Picture;
struct Terrain;

// A zero-filled tracked allocation of count records (fatal when memory runs out).
void *render_zeroed(size_t count, size_t size);

constexpr int fine_levels = 6;          // levels 0 ... 5; a level-p texture covers 2^p tiles a side
constexpr int window_side = 4;          // each fine level keeps 4 x 4 textures round the viewer
constexpr int block_tiles_exp = 6;      // base blocks are 64 x 64 tiles
constexpr int shading_cell = 384;       // vertices a shading texture stands for, a side
constexpr int shading_margin = 64;      // texels before its first vertex
constexpr int max_shading_side = 512;
constexpr int software_max_size = 256;  // TexSubImage and Copy compose at most this many texels a side
constexpr int decal_grid_side = 8;

// Ground texture states: waiting to be composed, clean, or the (positive)
// frame at which it became stale.
constexpr int ground_waiting = -1;
constexpr int ground_clean = 0;

struct GroundTexture {
  unsigned colour, normal, specular;  // GL names; normal and specular only with shader lighting
  int state;
  int tile_x, tile_z;  // first tile of the square it holds
  int tiles;           // tiles a side
  int level;           // 0 ... 5 fine levels, 6 base blocks (the placeholder's pattern)
  size_t bytes;        // each of its textures adds to the texture memory total
};

struct FineLevel {
  int used;
  int origin_x, origin_z;  // window origin in level textures
  int placed;              // the window has an origin
  GroundTexture slots[window_side * window_side];  // by (column mod 4, row mod 4)
};

struct ShadingTexture {
  unsigned tid;
  int dirty;
  int first_x, first_z;  // vertex of texel (0, 0), may lie off the grid (reads clamp)
  int side;              // texels
  size_t bytes;
};

struct DecalRef {
  float x, z, cos_angle, sin_angle, size1, size2;
  float radius;           // of the circle holding it
  unsigned colour, normal, specular;  // GL names (0 for none)
  const Picture *image;   // the pixels for TexSubImage
};

struct TerrainRender {
  TerrainRenderOptions options;
  int technique;          // ComposeTechnique
  int shader_lighting;
  int size;               // S
  int size_exp, verts, tiles_per_side;
  int min_leaf_level;     // coarser nodes span several base blocks: always split

  // Per-vertex layers.
  uint8_t *shading;       // R * R * 3, half of the lit colour
  uint8_t *shadows;       // R * R, 255 lit ... 0 shadowed; null: all lit
  uint8_t *normal_map;    // R * R * 3 with shader lighting
  float sun[3], diffuse[3], ambient[3];

  int shading_side;       // shading textures a side
  ShadingTexture *shading_textures;
  int reshade_cursor;
  int reshade_interval, reshade_count;

  int blocks_per_side;
  GroundTexture *blocks;
  FineLevel fine[fine_levels];
  int first_fine;         // finest level in use (the reduction level, at most 6)
  unsigned framebuffer;   // Direct
  int ati_copy_path;      // read back and upload instead of CopyTexSubImage

  const Picture *tile_images[max_tiles];
  unsigned tile_textures[max_tiles];
  DecalRef *decals;
  int decal_total;
  int decal_cell_start[decal_grid_side * decal_grid_side + 1];  // into decal_cell_list
  int *decal_cell_list;
  int hide_decals;

  TerrainLod lod;
  float view_position[3], view_direction[3];
  int have_view;

  uint8_t *scratch;        // S * S * 3 chain for composing in software
  float *vertices, *coords;  // streamed leaves: centre and rim once each
  uint16_t *indices;         // their triangles
  int vertex_capacity, index_capacity;
  TerrainRenderCounters counters;
};

// terrain_compose.cpp
// The composition technique after meeting the driver (Direct falls back
// to TexSubImage), the texture size, and the messages saying which.
void compose_choose(TerrainRender *r);
int compose_setup(Terrain *terrain, TerrainRender *r);
void compose_free(TerrainRender *r);
void compose_schedule(Terrain *terrain, TerrainRender *r);
void stamp_ground(TerrainRender *r, int col0, int row0, int col1, int row1);
void mark_all_ground_stale(TerrainRender *r);
// The texture to draw a square of tiles with: the finest composed one
// covering it, or the finest covering one at all.
const GroundTexture *ground_for(const TerrainRender *r, int tile_x, int tile_z, int tiles);
int oldest_stale_stamp(const TerrainRender *r);

// terrain_render.cpp
void reshade_vertex(Terrain *terrain, TerrainRender *r, int i, int j);
void renormal_vertex(Terrain *terrain, TerrainRender *r, int i, int j);
// Bilinear shading at grid position (gx, gz), 0 ... 255 per channel.
void shading_at(const TerrainRender *r, float gx, float gz, float out[3]);
void refresh_square_vertices(Terrain *terrain, TerrainRender *r, int tile_x, int tile_z, int tiles);
unsigned shading_texture_for(const TerrainRender *r, int vertex_x, int vertex_z, const ShadingTexture **cell);
