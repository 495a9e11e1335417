// The terrain renderer: the height field drawn as a restricted quadtree whose
// detail follows the viewer, covered by ground textures composed at run time
// from the tile pictures, the decals and a per-vertex shading map (lighting
// and baked shadows). Every layer follows the wheels' ruts incrementally:
// dirty bits for shading and normals, a budgeted level-of-detail pass and a
// few ground textures recomposed per frame.
//
// Without a GL context (the headless race, the server) the shading files are
// still checked while a track loads, but no renderer state is kept and
// terrain_mark_dirty does nothing.
#pragma once
#include <cstdint>

struct DataFile;
struct Terrain;

// The "Terrain Rendering Method" choices, by index.
enum TerrainMethod {
  terrain_software = 0,
  terrain_hardware_copy = 1,
  terrain_hardware_direct = 2,
  terrain_shaders_copy = 3,
  terrain_shaders_direct = 4,
};

// How ground textures are composed, once the method has met the driver.
enum ComposeTechnique { compose_tex_sub_image = 0, compose_copy = 1, compose_direct = 2 };

// What the renderer is set up with; terrain_render_setup fills it from the
// settings and the driver, tests build their own.
struct TerrainRenderOptions {
  int method;              // TerrainMethod
  int use_shader;          // shader programs enabled and built
  int texture_size;        // ground texture size setting, 32 ... 1024
  int reduction;           // ground texture reduction level, 0 ... 10
  int mipmaps;             // "Enable Ground Mipmaps"
  float detail_threshold;  // terrain detail threshold t (feet of error per foot of distance)
  int gl;                  // a GL context is current: textures are made and drawn
  int verbosity;           // 1 and 2 log more; 2 also checks the leaves for cracks
};

// --- loading (called by the track loader) ---------------------------------
// The shading layer from "shadingx2.ppm" (halve 0) or "shading.ppm" (halve
// 1, every channel halved). 0 with "Bad shading dimensions (%dx%d)" when the
// picture is not R x R, or with the reader's error.
int terrain_read_shading(Terrain *terrain, DataFile *file, int halve);
// The shadow layer from "shadows.pgm"; 0 with "Bad shadow dimensions
// (%dx%d)\n" when it is not R x R. Without the file every vertex is lit.
int terrain_read_shadows(Terrain *terrain, DataFile *file);
// After the tile map: tile and decal pictures, the normal map, the shading
// textures and the ground textures with their placeholders, then a full
// level-of-detail pass. Uses the graphics settings; without GL it only drops
// the layers read above. 0 with "Error creating low LOD textures".
int terrain_render_setup(Terrain *terrain);
int terrain_render_setup_with(Terrain *terrain, const TerrainRenderOptions *options);
// Frees the renderer's state and textures (terrain_free calls it).
void terrain_render_free(Terrain *terrain);

// --- per frame -------------------------------------------------------------
// The camera copy the scene hands over each frame (world position, unit view
// direction).
void terrain_set_view(Terrain *terrain, const float position[3], const float direction[3]);
// The main loop's reshade interval in frames (2^reshade_delay - 1; 0 in
// the editor).
void terrain_set_reshade_interval(Terrain *terrain, int frames);
// Once per frame: the budgeted level-of-detail pass, the frame count and,
// at the reshade interval, one shading texture refreshed.
void terrain_update(Terrain *terrain);
// The same without budget (after loading and in the editor).
void terrain_update_all(Terrain *terrain);
// Before drawing: composes the ground textures the schedule picks.
void terrain_compose(Terrain *terrain);
// Draws the terrain with the current projection and model-view matrices,
// light 0 and fog; leaves the GL state as it found it.
void terrain_draw(Terrain *terrain);
// A ground edit changed vertices col0 ... col1, rows row0 ... row1.
void terrain_mark_dirty(Terrain *terrain, int col0, int row0, int col1, int row1);
// Flips the hide-decals flag and has the whole ground recomposed.
void terrain_toggle_decals(Terrain *terrain);
int terrain_decals_hidden(const Terrain *terrain);

// --- statistics --------------------------------------------------------------
// Frames since the oldest stale ground texture was marked (0 when none).
int terrain_texture_age(const Terrain *terrain);
// Ground textures whose content is stale (waiting ones not counted).
int terrain_stale_textures(const Terrain *terrain);
// Shading textures waiting for a refresh.
int terrain_reshades_pending(const Terrain *terrain);

struct TerrainRenderCounters {
  int frame;             // frames counted by terrain_update
  int composed;          // ground textures composed since setup
  int composed_frame;    // ... in the last terrain_compose
  int stale_composed;    // stale textures recomposed since setup
  int reshades;          // shading textures refreshed since setup
  int lod_passes;        // completed level-of-detail passes
  int leaves;            // leaves drawn in the last frame
  int triangles;         // triangles drawn in the last frame
  int technique;         // ComposeTechnique in use
  int shader_lighting;   // normal maps and the terrain program in use
  int texture_size;      // S, after the cap for TexSubImage and Copy
};
// Null when the terrain has no renderer state.
const TerrainRenderCounters *terrain_render_counters(const Terrain *terrain);
