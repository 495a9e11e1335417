// Surface types ("tiles"): ground texture, grip and rolling-resistance
// curves, roost types and rut parameters of every 2 x 2-cell square of the
// terrain, read from "tileinfo" (or the older "texturelist") and placed by
// the byte map "tilemap".
#pragma once
#include <cstdint>

struct DataFile;
struct Terrain;

constexpr int max_tiles = 256;
constexpr int curve_points = 8;
constexpr int max_roost_types = 4;
constexpr int erode_limit_points = 8;
constexpr int tile_name_size = 48;  // 47 characters and the terminator

struct FrictionPoint {
  float value;  // coefficient
  float key;    // slip speed, ft/s; 0 ends the table
};

struct RollResistPoint {
  float first, second;
  float key;  // speed, ft/s; 0 ends the table
};

struct RoostType {
  int kind;              // 0 none, 1 roost, 2 roost with splash
  unsigned texture;      // particle texture handle (0 until textures load)
  float count, dig, slip_threshold, slow_angle, fast_angle, slow_speed, fast_speed;
  float size, grow, drag, vscale, randomize;
  uint8_t r, g, b, a;
  uint8_t fade_r, fade_g, fade_b, fade_a;  // per tic
  const char *texture_path;  // interned
};

struct ErodeParams {
  float erode_depth, erode_lower, erode_upper, erode_displacement, erode_radius;
  float erode_inner_depth, erode_inner_radius, erode_min_slope, erode_max_slope;
  float erode_off_speed, erode_on_speed, erode_slip_lower, erode_slip_upper;
  float erode_slip_base_scale, erode_slip_scale, erode_downhill_scale;
  float erode_limit_depth[erode_limit_points];
  float erode_limit_outer[erode_limit_points];
  float erode_limit_inner[erode_limit_points];
  float erode_project_to_ground, erode_lateral_scale, erode_front_scale;
  int erode_limit_count;
};

struct Tile {
  char tile_name[tile_name_size];
  unsigned tile_texture;       // handle, 0 until the texture manager loads it
  uint8_t *tile_pixels;        // only for the TexSubImage terrain method
  int tile_width, tile_height;
  const char *texture_path;    // interned "@..." path of the ground texture
  FrictionPoint friction[curve_points];
  RollResistPoint roll_resist[curve_points];
  RoostType roost[max_roost_types];
  ErodeParams erode;
  int tile_code;
};

// Tile index of the square under (x, z); outside the terrain the nearest
// border square. 0 when the terrain has no tile map.
int tile_at(const Terrain *terrain, float x, float z);
// Friction coefficient at slip speed s (interpolated in s^2).
float friction_at(const Tile *tile, float slip_speed);
// The two rolling-resistance values at speed v (interpolated in v).
void roll_resist_at(const Tile *tile, float speed, float out[2]);

// A tile with every property at its default.
void tile_defaults(Tile *tile);
RoostType roost_defaults();
void erode_defaults(ErodeParams *erode);

// Readers. load_tileinfo replaces the tile table from the keyword file;
// load_texturelist from the one-line-per-tile file; load_tilemap fills the
// map, clamping each byte to the last tile and filling squares beyond a
// short file with tile 0. Problems inside the files are warnings.
void load_tileinfo(Terrain *terrain, DataFile *file);
void load_texturelist(Terrain *terrain, DataFile *file);
void load_tilemap(Terrain *terrain, DataFile *file);
// Transition codes from the tile names (for the editor's blending).
void compute_tile_codes(Terrain *terrain);
