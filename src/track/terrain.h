// The height field: a square grid of height samples, triangulated in an
// alternating pattern, with the geometric queries the physics, the robots and
// the renderer use, and the one operation that changes a height.
//
// Vertex (i, j) lies at world x = i * spacing, z = j * spacing; heights are
// row-major (index i + j * verts_per_side). Cell (i, j) has its diagonal from
// (i, j) to (i + 1, j + 1) when i + j is even, else from (i + 1, j) to
// (i, j + 1). Triangle k of cell row j (k = 2i for the half holding the
// cell's edge at x = i, 2i + 1 for the other) has index k + (2R - 2) * j.
#pragma once
#include <cmath>
#include <cstdint>

#include "track/tiles.h"

struct DataFile;
struct TerrainRender;

// Tracks need at least 2^6 tiles per side (the renderer cuts the field into
// 2^(n - 6) blocks); 2^11 tiles per side is a 4097-vertex grid, which with
// its triangle normal cache already needs over 500 MB, so larger exponents
// are refused as corrupt.
constexpr int min_size_exp = 6;
constexpr int max_size_exp = 11;

struct Terrain {
  float *heights;           // R * R, current heights
  float *loaded_heights;    // R * R, as loaded; never changed afterwards
  float *triangle_normals;  // 2 * (R - 1) * (R - 1) unit normals (x, y, z)
  uint32_t *triangle_dirty; // one bit per triangle: normal must be recomputed
  float extent;             // (R - 1) * spacing
  float spacing;
  float tile_size;          // 2 * spacing
  float max_height, min_height;
  int size_exp;
  int verts_per_side;
  int locked;               // non-zero: terrain_set_height ignores writes
  int modified;             // three changed-since-saved bits (the editor's)
  int edit_count;           // bumped once per dig or deposit

  // Renderer dirty bits, one per vertex each: shading and vertex normal.
  uint32_t *shading_dirty;
  uint32_t *normal_dirty;

  // Surface types and the tile map (tiles.h).
  int tiles_per_side;       // Q = 2^size_exp
  uint8_t *tilemap;         // Q * Q tile indices, row-major
  int tile_count;
  Tile tiles[max_tiles];

  float inverse_spacing;    // 1 / spacing, for the locating step

  // The renderer's layers, textures and level of detail (terrain_render.h);
  // null without a GL context. Freed with the terrain.
  TerrainRender *render;
};

struct TerrainContact {
  float point[3];
  float normal[3];  // unit, pointing out of the ground
  float depth;      // > 0 when in contact
};

// A flat terrain at min_h with every triangle dirty, no tiles and an
// all-zero tile map. size_exp 1 ... max_size_exp (tests use small grids;
// files must give at least min_size_exp). Null for bad parameters.
Terrain *terrain_create(int size_exp, float spacing, float min_h, float max_h);
void terrain_free(Terrain *terrain);

// Reads "terrain.hf" from an open file: the header, then raw samples after a
// ':' or else the 16-bit grey image at png_path. Prints a message and
// returns null when the header is unusable.
Terrain *terrain_read(DataFile *file, const char *png_path);
// Opens path and reads it as above; "Can't open '%.950s'" when missing.
Terrain *load_terrain_file(const char *path, const char *png_path);

// Vertex height with both indices clamped to the grid.
float terrain_vertex_height(const Terrain *terrain, int i, int j);

// Height of the triangulated surface above (x, z); outside the grid the
// border heights continue outward. No allocation.
float terrain_height(const Terrain *terrain, float x, float z);
// Upward normal of the triangle under (x, z), not normalised: its y is
// always spacing^2.
void terrain_normal(const Terrain *terrain, float x, float z, float normal[3]);
// Cached unit normal of triangle k in cell row j, recomputed if dirty.
void terrain_triangle_normal(Terrain *terrain, int k, int j, float normal[3]);
// Smoothed unit normal at vertex (i, j) (indices clamped).
void terrain_vertex_normal(Terrain *terrain, int i, int j, float normal[3]);
// The contact tests skip every triangle whose vertices all lie below the
// lowest point of the tested body by more than this allowance for rounding,
// which is far above the rounding of the exact tests anywhere on a track.
// p is the body's centre, reach its extent.
inline float ground_cull_margin(const float p[3], float reach) {
  return 1.0f / 64 + (std::fabs(p[0]) + std::fabs(p[1]) + std::fabs(p[2]) + reach) * (1.0f / 65536);
}
// The deepest penetration of a sphere into the surface; 1 on contact.
int terrain_sphere_contact(const Terrain *terrain, const float centre[3], float radius,
                           TerrainContact *contact);
// 1 when nothing inside the ball (centre, radius) can touch the ground:
// every vertex of the cells under it lies lower than the ball's lowest point
// by more than ground_cull_margin. A cheap look before the exact tests of
// the spheres of a shape; 0 also when the ball spans too many cells to look.
int terrain_ball_clear(const Terrain *terrain, const float centre[3], float radius);
// One triangle of that test, vertices ordered so that (T1 - T0) x (T2 - T0)
// points up: the depth (0 or less when clear), with point and normal set
// when it is positive. terrain_sphere_contact keeps the deepest triangle of
// the cells, the first of equally deep ones.
float sphere_triangle_depth(const float centre[3], float radius, const float tri[3][3], float point[3],
                            float normal[3]);
// The only height write after loading. Ignored outside the grid or while
// the terrain is locked.
void terrain_set_height(Terrain *terrain, int i, int j, float h);

inline int terrain_bit(const uint32_t *bits, int index) { return (bits[index >> 5] >> (index & 31)) & 1; }
