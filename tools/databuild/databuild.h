// The data builder: writes the game's default data set (tracks, robot lines,
// collision shapes, the points series, models and their skins, fonts,
// interface pictures, skies, ground and trackside textures) into the main
// archive. Every byte
// depends only on the sources: no clock, no unseeded randomness, members in a
// fixed order. One generator module per kind of asset; this header holds the
// records they share.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The builder's own records stay out of the game's names.
namespace databuild {

// ---- Byte buffers and the archive (saf_writer.cpp) ----

struct Bytes {
  std::vector<unsigned char> data;
};

void bytes_printf(Bytes *out, const char *format, ...) __attribute__((format(printf, 2, 3)));
void bytes_append(Bytes *out, const void *data, size_t count);

struct Archive {
  std::vector<std::string> names;
  std::vector<Bytes> members;
};

void archive_add(Archive *archive, const std::string &name, Bytes bytes);
// Adds the member gzip-compressed as name + ".gz".
void archive_add_compressed(Archive *archive, const std::string &name, const Bytes &bytes);
// The whole archive image: header lines, "-", member data back to back.
Bytes archive_image(const Archive *archive);
// Writes through a temporary file renamed into place; 1 on success.
int write_file_atomic(const char *path, const Bytes &bytes);

// ---- Pictures (paint_kit.cpp) ----

// An RGBA picture, top row first; the painting helpers clip to it.
struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgba;
};

struct Colour {
  float r, g, b, a;
};

Image image_new(int width, int height, Colour fill);
// Blends `c` over the pixel by its alpha times `cover` (0..1).
void paint_pixel(Image *image, int x, int y, Colour c, float cover);
// Rectangles, ellipses and polygons in pixel units (edges anti-aliased).
void paint_rect(Image *image, float x0, float y0, float x1, float y1, Colour c);
void paint_ellipse(Image *image, float cx, float cy, float rx, float ry, Colour c);
void paint_polygon(Image *image, const float *xy, int count, Colour c);
// Multiplies every pixel of the rectangle by 1 + amount * noise (-1..1),
// value noise of the given cell size from a fixed seed.
void paint_noise(Image *image, int x0, int y0, int x1, int y1, float cell, float amount, uint32_t seed);
// Darkens toward the bottom (amount > 0) or top of a rectangle: plastic sheen.
void paint_shade(Image *image, int x0, int y0, int x1, int y1, float top, float bottom);
// Bilinear sample at texture coordinates (u right, t down, 0..1), clamped.
Colour image_sample(const Image &image, float u, float t);
// PNG bytes (RGB when every pixel is opaque), with the text as a tEXt
// chunk when given; no time stamp, so the same pixels give the same bytes.
int encode_png(const Image &image, const char *text, Bytes *out);
int encode_png_pixels(const unsigned char *pixels, int width, int height, int channels, const char *text, Bytes *out);
// Binary PPM ("P6") bytes.
Bytes encode_ppm(const Image &image);
// Draws a digit string in a blocky face, centred in the rectangle.
void paint_digits(Image *image, const char *digits, float x0, float y0, float x1, float y1, Colour c);

// ---- Meshes (mesh_kit.cpp) ----

constexpr int rider_bone_count = 9;  // the skinned rider's bones

// A region of a texture in texture coordinates (u right, t down from the top).
struct UvRect {
  float u0, t0, u1, t1;
};
// Swatch k of a texture cut into `columns` x `rows` cells, starting at row
// `first_row` of the cells, inset so that smaller levels bleed little.
UvRect swatch(int k, int columns, int rows, int first_row);

struct MeshVertex {
  float p[3], n[3], uv[2];  // uv: u, t (t = 0 at the top of the picture)
  float w[rider_bone_count];
};

struct Mesh {
  float material = 32;  // shininess; -1 reflection layer; -2 unlit
  float q = 0;          // reflection strength for material -1
  float rgb[3] = {1, 1, 1};
  int bones = 0;  // 0 static, rider_bone_count for the skinned rider
  std::vector<MeshVertex> verts;
  std::vector<int> tris;
};

struct Model {
  std::vector<Mesh> meshes;  // reflection meshes last
};

struct Vec3 {
  float x, y, z;
};
Vec3 v3(float x, float y, float z);
Vec3 v_add(Vec3 a, Vec3 b);
Vec3 v_sub(Vec3 a, Vec3 b);
Vec3 v_scale(Vec3 a, float s);
float v_dot(Vec3 a, Vec3 b);
Vec3 v_cross(Vec3 a, Vec3 b);
float v_len(Vec3 a);
Vec3 v_unit(Vec3 a);
Vec3 v_from(const float p[3]);

// Segments around a round part at a level of detail (0 full .. 5 coarsest).
int lod_sides(int full, int detail);
// "@name.hm" -> "name".
std::string model_base_name(const char *data_path);

// Everything added to a mesh goes through the builder's placement: a point
// p of a part lands at origin + ax * p.x + ay * p.y + az * p.z.
struct Place {
  Vec3 origin{0, 0, 0}, ax{1, 0, 0}, ay{0, 1, 0}, az{0, 0, 1};
};
Place place_at(Vec3 origin);
// A frame whose y axis runs along `up` and whose x axis stays as close to
// `side` as it can.
Place place_along(Vec3 origin, Vec3 up, Vec3 side);
Place place_rotate_x(Vec3 origin, float radians);

int mesh_vertex(Mesh *mesh, const Place &at, Vec3 p, Vec3 n, float u, float t);
void mesh_triangle(Mesh *mesh, int a, int b, int c);
// A flat polygon face (convex or not, counter-clockwise seen from its normal
// side) with planar texture coordinates given per corner.
void mesh_face(Mesh *mesh, const Place &at, const Vec3 *corners, const float (*uv)[2], int count);
// A box of half extents h around c; every face takes the whole of `uv`.
void mesh_box(Mesh *mesh, const Place &at, Vec3 c, Vec3 h, UvRect uv);
// The same with a picture region per face: +x, -x, +y, -y, +z, -z.
void mesh_box_faces(Mesh *mesh, const Place &at, Vec3 c, Vec3 h, const UvRect faces[6]);
// Normals from the triangles around each vertex, for vertices from `first`.
void mesh_smooth_normals(Mesh *mesh, int first);
// A copy of the mesh's geometry as a reflection layer of the given strength.
Mesh reflection_of(const Mesh &mesh, float strength, float r, float g, float b);
// A tube along a path of `count` points with a radius at each (rx across
// the path's side, ry across its normal), `sides` around; u runs around, t
// along. Closed ends when `caps`.
void mesh_tube(Mesh *mesh, const Place &at, const Vec3 *path, const float *rx, const float *ry, int count,
               int sides, UvRect uv, int caps);
// A surface of revolution about the part's x axis: the profile points are
// (x, radius), the outside on the left walking along it (a profile toward +x
// faces outward); a repeated point makes a crease. u runs around, t along.
void mesh_lathe(Mesh *mesh, const Place &at, const float (*profile)[2], int count, int slices, UvRect uv);
// An ellipsoid of radii r; t from the top (+y) to the bottom, u around from +z.
void mesh_ellipsoid(Mesh *mesh, const Place &at, Vec3 c, Vec3 r, int stacks, int slices, UvRect uv);
// A side profile (z, y pairs) extruded across x from x0 to x1, the sides
// mapped by projection: u from z over [z0, z1] of `uv`, t from y over [y1, y0].
struct Projection {
  float z0, z1, y0, y1;
  UvRect uv;
};
void mesh_slab(Mesh *mesh, const Place &at, const float (*zy)[2], int count, float x0, float x1,
               const Projection &map);
// Sets every vertex from `first` on to full weight on one bone.
void mesh_bind(Mesh *mesh, int first, int bone);

// The ".hm" text: version 1, or version 2 with the skinned meshes' bones.
// Positions are rounded to 1/10000 ft; triangles left without area by the
// rounding are not written.
Bytes hm_text(const Model &model);
// Adds "<name>.hm" gzip-compressed.
void archive_add_model(Archive *archive, const std::string &name, const Model &model);
// Adds make(0) as "<name>.hm" and make(1 ..) as its coarser versions
// "<name>_lod<N>.hm", which the game draws from 2^N ft on; without
// close_up, level 1 is left out (models no camera follows).
void archive_add_model_lods(Archive *archive, const std::string &name, Model (*make)(int detail, const void *arg),
                            const void *arg, bool close_up);

// ---- Models and skins (bike_models.cpp, rider_models.cpp, statue_models.cpp,
// skin_gen.cpp) ----

// Texture layouts the models and the skins share. Bike graphics: the top
// half is the plastics seen from the side (frame coordinates z, y projected
// along x), the bottom half 8 x 4 swatches.
enum BikeSwatch {
  bs_plastic, bs_accent, bs_seat, bs_frame, bs_engine, bs_cylinder, bs_radiator, bs_fork_outer,
  bs_stanchion, bs_pipe, bs_silencer, bs_rubber, bs_bar, bs_alloy, bs_chain, bs_spring,
  bs_steel, bs_black, bs_airbox, bike_swatch_count
};
inline UvRect bike_swatch(int k) { return swatch(k, 8, 8, 4); }
constexpr float bike_graphics_z0 = -2.0f, bike_graphics_z1 = 3.2f, bike_graphics_y0 = -0.4f, bike_graphics_y1 = 1.9f;
// Wheels: the tyre (u around, t across from the left bead) on the top half,
// 4 x 2 swatches below.
enum WheelSwatch { ws_rim, ws_hub, ws_spoke, ws_disc, ws_sprocket, ws_axle, wheel_swatch_count };
inline UvRect wheel_swatch(int k) { return swatch(k, 4, 4, 2); }
constexpr UvRect wheel_tyre_uv = {0, 0, 1, 0.5f};
// Riding gear: the jersey's body (u around from the right side: back at
// 0.25, front at 0.75; t from the neck down), sleeves, gloves, collar,
// pants (t from the waist down), boots and soles.
constexpr UvRect gear_torso_uv = {0, 0, 0.5f, 0.5f};
constexpr UvRect gear_arm_uv = {0.5f, 0, 0.75f, 0.5f};
constexpr UvRect gear_glove_uv = {0.75f, 0, 1, 0.25f};
constexpr UvRect gear_collar_uv = {0.75f, 0.25f, 1, 0.5f};
constexpr UvRect gear_pants_uv = {0, 0.5f, 0.5f, 1};
constexpr UvRect gear_boot_uv = {0.5f, 0.5f, 0.75f, 1};
constexpr UvRect gear_sole_uv = {0.75f, 0.5f, 1, 0.75f};
// Helmets: the shell (u around from the back: the face at 0.5; t from the
// top) on the top five eighths, 4 x 3 swatches below.
enum HelmetSwatch { hs_peak, hs_chin, hs_goggle_frame, hs_lens, hs_strap, hs_vent, helmet_swatch_count };
inline UvRect helmet_swatch(int k) { return swatch(k, 4, 8, 5); }
constexpr UvRect helmet_shell_uv = {0, 0, 1, 0.625f};

// Levels of detail: 0 full; 1 the close-up level from 2^2.5 ft (6 ft), the
// finest the game draws of the bike the camera follows at chase distance
// (every spoke and knob, rounder parts thinner); then 2 to 5 from 2^3,
// 2^4.5, 2^5.5 and 2^6.5 ft (8, 23, 45 and 91 ft). The others in a pack of
// forty are mostly a few lengths off, and their triangles are most of a
// frame's.
constexpr float model_lod_levels[] = {2.5f, 3, 4.5f, 5.5f, 6.5f};
constexpr int model_lod_count = 5;

// The graphics base of a bike ("cr125", "crf250_2018") and what its look
// follows from: the maker's colours, the two-stroke or four-stroke engine
// and the era of its plastics.
struct BikeLook {
  std::string base;
  int maker;     // index into the skin makers
  int four_stroke;
  int era;       // 0 up to 2009, 1 2010-2013, 2 from 2014
};
std::vector<BikeLook> bike_looks();

// detail: 0 full, 1 close-up .. 5 coarsest.
Model frame_model(const BikeLook &look, int detail);
Model fork_upper_model(int detail);
Model fork_lower_model(int detail);
Model swingarm_model(int detail);
Model wheel_model(int front, int detail);
Model side_plates_model();
Model front_plate_model();
Model rider_plate_model();
Model rider_body_model(int first_person, int detail);
Model rider_head_model(int detail);

void write_bike_models(Archive *archive);
void write_rider_models(Archive *archive);
void write_statue_models(Archive *archive);

// The skins: pictures for every texture family. `keep` (when given)
// receives every picture by its name, for the turntable.
struct SkinSet {
  std::vector<std::string> names;
  std::vector<Image> images;
  std::vector<std::string> infos;
};
void write_skin_files(Archive *archive, SkinSet *keep);
const Image *skin_image(const SkinSet &skins, const std::string &name);

// The rider's pose on a bike at rest, as the game computes it from the
// bodies: nine bones (a model point p is drawn at R (p - C) + T, R's columns
// rx, ry, rz) and the head's pivot and axes.
struct BonePose {
  Vec3 c, t, rx, ry, rz;
};
struct RiderPose {
  BonePose bones[rider_bone_count];
  Vec3 head_pivot, head_x, head_y, head_z;
  Vec3 grips[2], pegs[2], feet[2];
};
RiderPose rider_pose_at_rest();
// A skinned vertex posed by the weights it was written with.
void pose_vertex(const RiderPose &pose, const MeshVertex &v, Vec3 *p, Vec3 *n);

// The rider posed on the bike at rest, and the pose check: the posed hands
// must hold the grips and the feet stand on the pegs (0 with a message).
int check_rider_pose();
// The assembled bike with its posed rider from eight sides (1 on success).
int write_turntable(const SkinSet &skins, const char *path);

// ---- Track designs (track_designs.cpp) ----

// A point of the closed centreline, in feet, with the track width there.
struct ControlPoint {
  float x, z, width;
};

enum FeatureKind { feature_tabletop, feature_double, feature_whoops, feature_rhythm };

// A feature stamped along the centreline, starting offset ft after a control point.
struct Feature {
  int kind;
  int point;
  float offset;
  float height;  // ft
  float length;  // tabletop: table; double: gap; whoops/rhythm: period
  int count;     // whoops/rhythm: bumps
};

struct TrackDesign {
  const char *dir;
  const char *display_name;
  uint32_t seed;
  const ControlPoint *points;
  int point_count;
  const Feature *features;
  int feature_count;
  float start_offset;   // the start gate row, ft after control point 0 (the finish line)
  float start_width;    // width of the start area
  float funnel_length;  // from the gate row to where the start area is track width again
  float ground_amplitude;
  float hill_x, hill_z, hill_radius, hill_height;  // one large landform (height 0: none)
  // The day it is raced on: the sun (degrees clockwise from north, which is
  // -z, and above the horizon) and how much of the sky is cloud (0..1).
  float sun_azimuth, sun_elevation;
  float cloud_cover;
};

int track_design_count();
const TrackDesign *track_design(int index);

// ---- The built track (track_gen.cpp and the modules after it) ----

constexpr int track_size_exp = 9;  // 512 tiles, 1025 vertices per side
constexpr float track_spacing = 1.0f;
constexpr int track_verts = (2 << track_size_exp) + 1;
constexpr int track_tiles = 1 << track_size_exp;
// How far under the ground a start gate pivots (its shape swings about it).
constexpr float gate_pivot_depth = 8.0f;
constexpr float start_gate_pitch = 3.5f;  // ft between neighbouring start gates
static_assert(track_verts == 1025 && track_tiles == 512, "grid size");

// One foot of centreline.
struct TrackSample {
  float x, z;
  float tx, tz;       // unit tangent; the rider's right is (-tz, tx)
  float curvature;    // 1/ft, positive turning right
  float half_width;
  float course_half_width;  // the same without the start area's widening
  float base;         // graded ground height under the centreline
  float feature;      // height of the jumps and whoops above base
  float bank;         // height of the berm at the outside edge
};

struct Jump {
  float lip_s;      // take-off lip
  float target_s;   // where a good landing touches down
  int is_double;
  float face_s;     // where the take-off face starts
  float end_s;      // end of the landing ramp
};

struct GridPosition {
  float x, z, angle, lateral;
};

struct Checkpoint {
  float s, x, y, z, radius, dx, dz;
  int unmarked;  // bounds a robot line segment
};

// The surfaces of the tile table, in its order. The "-alt" kinds look
// different and ride the same as the kind they vary, breaking up the
// ground's repeats over large patches.
enum TileKind {
  tile_grass,
  tile_dirt,
  tile_berm,
  tile_startpad,
  tile_loose,
  tile_grass_dry,
  tile_grass_lush,
  tile_dirt_dark,
  tile_kind_count
};

// Where the field meets the track, a dry-grass square may show the track's
// surface creeping in from some of its corners: one tile for every surface
// it meets and every set of corners (1 to 14; bit 3 the corner at the
// lower x and z, bit 2 higher x, bit 1 higher z, bit 0 both higher). They
// ride as the grass they stand on. A tile picture runs u along +x, v along +z.
constexpr int edge_surfaces[4] = {tile_loose, tile_berm, tile_startpad, tile_dirt};
constexpr int edge_surface_count = 4, edge_masks = 14;
constexpr int tile_count = tile_kind_count + edge_surface_count * edge_masks;
static_assert(tile_count <= 256, "the tile map holds one byte a square");
constexpr int edge_tile(int surface, int mask) { return tile_kind_count + surface * edge_masks + mask - 1; }
// The kind a tile rides as (itself, or the grass of an edge tile).
constexpr int tile_base(int tile) { return tile < tile_kind_count ? tile : tile_grass_dry; }

struct Track {
  const TrackDesign *design;
  std::vector<TrackSample> line;  // closed loop, one sample per step; s = 0 is the finish line
  std::vector<float> point_s;     // loop distance of every control point
  std::vector<float> feature_s;   // loop distance where every feature starts
  float start_s;                  // loop distance of the start gate row
  float step;                     // ft between samples (close to 1)
  float length;                   // lap length, ft
  std::vector<float> heights;     // track_verts squared, quantised as the game reads them
  float min_height, max_height;
  std::vector<uint16_t> samples;  // the stored 16-bit heights
  std::vector<float> edge;        // per vertex: distance beyond the track edge (negative inside)
  std::vector<int> nearest;       // per vertex: nearest centreline sample, -1 when far
  std::vector<uint8_t> tilemap;   // track_tiles squared
  std::vector<Jump> jumps;
  std::vector<GridPosition> grid;
  std::vector<Checkpoint> checkpoints;  // in lap order; the last is the finish line
};

float wrap_s(const Track *track, float s);
const TrackSample *sample_at(const Track *track, float s);
// The ground as the game triangulates it.
float track_height(const Track *track, float x, float z);
// The height of grid vertex (i, j), clamped to the grid.
float vertex_height(const Track *track, int i, int j);

// The light of a track, shared by its "lighting" file, the baked shading
// and shadows, and its sky pictures (sky_gen.cpp).
struct TrackLight {
  float sun[3];  // unit vector toward the sun
  float sun_color[3], ambient[3];
  float fog_color[3], fog_density;
};
TrackLight track_light(const TrackDesign *design);

void build_track(const TrackDesign *design, Track *track);
// Robots ride features well only on straights: a bike leaves a lip upright
// and lands where the track runs on, and whoops and rhythm sections shake it
// too much to hold a lean. The track must be this straight (1/ft at most)
// over a jump and the run to it and from it, or over a section.
constexpr float straight_curvature = 0.0025f;
constexpr float feature_run_in = 60.0f, feature_run_out = 60.0f;  // ft, jumps
constexpr float section_run_in = 30.0f, section_run_out = 50.0f;  // ft, whoops and rhythm
// 0 (with a message) when a feature does not lie on a straight.
int check_features(const Track *track);
float feature_extent(const Feature &f);  // ft along the lap
void write_terrain_files(const Track *track, Archive *archive);

// tile_gen.cpp: the physics of the surfaces and where they lie.
void build_tilemap(Track *track);
void write_tile_files(const Track *track, Archive *archive);
float tile_grip(int tile);

// gate_gen.cpp
void build_gates(Track *track);
void write_gate_file(const Track *track, Archive *archive);

// ---- What stands beside a track (object_gen.cpp) ----

// Texture names shared by the pictures' generators and the placement.
constexpr int tree_kinds = 3, crowd_kinds = 4, banner_kinds = 6;
constexpr const char *tree_textures[tree_kinds] = {"@trees/oak.png", "@trees/pine.png", "@trees/poplar.png"};
constexpr const char *crowd_textures[crowd_kinds] = {"@people/crowd1.png", "@people/crowd2.png",
                                                     "@people/crowd3.png", "@people/crowd4.png"};
constexpr const char *banner_textures[banner_kinds] = {"@banners/torvane.png", "@banners/rooster.png",
                                                       "@banners/gripline.png", "@banners/bermbros.png",
                                                       "@banners/mudline.png", "@banners/summit.png"};
constexpr const char *marker_texture = "@trackside/marker.png";
// White, for the track script to tint: the arrow over the race leader.
constexpr const char *leader_texture = "@trackside/leader.png";
// Flaggers' sprites, ft: a person with room for a flag held up.
constexpr float flagger_width = 4.0f, flagger_height = 8.0f;
// The starter's poses: before and just after the drop, turning away, board
// down, walking off, standing clear.
constexpr const char *starter_textures[5] = {"@flaggers/starter_board.png", "@flaggers/starter_drop.png",
                                             "@flaggers/starter_turn.png", "@flaggers/starter_walk.seq",
                                             "@flaggers/starter_clear.png"};
// Normal, last lap but one, last lap, finish.
constexpr const char *lapboard_textures[4] = {"@flaggers/lapboard.png", "@flaggers/lapboard_2.png",
                                              "@flaggers/lapboard_1.seq", "@flaggers/lapboard_finish.seq"};
constexpr const char *marshal_textures[2] = {"@flaggers/marshal_idle.png", "@flaggers/marshal_wave.seq"};
constexpr const char *decal_finish = "@decals/finish.png", *decal_start = "@decals/start.png",
                     *decal_lip = "@decals/lip.png", *decal_logo = "@decals/logo.png";

// A billboard placed beside the track; trees also cast a baked shadow.
struct Placed {
  float x, z, y;  // y above the ground
  float width, height;
  const char *texture;
  float shadow_radius;  // ft, 0 for none: a soft disc cast from shadow_height up
  float shadow_height;
};

struct Scenery {
  std::vector<Placed> billboards;
};

// Places the trackside billboards clear of the track surface.
void build_scenery(const Track *track, Scenery *scenery);
void write_object_files(const Track *track, const Scenery *scenery, Archive *archive);
// Distance from (x, z) beyond the track edge, ft (negative on the track).
float edge_distance(const Track *track, float x, float z);

// ---- Pictures (one module per kind; the toolkit is image_gen.h) ----

// font_gen.cpp: "@font.png", "@numbers.png", "@numbers-condensed.png".
void write_font_files(Archive *archive);
// The glyph cells of a font picture as the game finds them (its marker
// bands); returns their count.
struct Bitmap;
struct FontCell {
  int left, right, top, bottom;  // pixels; right and bottom exclusive
};
size_t font_cells(const Bitmap &image, std::vector<FontCell> *cells);
// ui_gen.cpp: the title, dials, gear cells, pitboard, white and the icon.
void write_ui_files(Archive *archive);
// sky_gen.cpp: the sky faces, environment map and "lighting" of a track;
// the lens flare pictures shared by all tracks.
void write_sky_files(const Track *track, const TrackLight *light, Archive *archive);
void write_flare_files(Archive *archive);
// ground_gen.cpp: tile textures, decal and roost pictures (shared), and a
// track's baked "shadows.pgm" and "shadingx2.ppm".
void write_ground_textures(Archive *archive);
void write_ground_files(const Track *track, const Scenery *scenery, const TrackLight *light, Archive *archive);
const char *tile_texture(int tile);
const char *roost_texture(int tile);
// billboard_gen.cpp: flaggers, trees, spectators, banners and markers.
void write_billboard_textures(Archive *archive);
// contact_sheet.cpp: every picture of the archive, decoded from its member,
// laid out on sheets in dir (1 on success).
int write_contact_sheets(const Archive *archive, const char *dir);

// frills_gen.cpp: the track's script, after write_object_files (it adds
// the billboards it drives to the track's billboards file).
void write_frills_files(const Track *track, Archive *archive);

// lines_gen.cpp
// The robots' lanes across the track. Every start gate merges into one of
// them over the start funnel, up to lane_merge_s (progress from the finish
// line on the first lap).
constexpr int robot_lanes = 5;
float lane_offset(const TrackSample *p, int lane);  // ft to the right of the centre line
int lane_of(const Track *track, const GridPosition &grid);
float lane_merge_s(const Track *track);

struct LapEstimate {
  float lap_seconds[3];  // novice, amateur, expert, flying lap on the centre line
};
// 0 when a line cannot reach a jump's take-off speed (the data set is then
// not ridable and the build fails).
int write_line_files(const Track *track, Archive *archive, LapEstimate *estimate);

// shape_gen.cpp
void write_shape_files(Archive *archive);

// series_gen.cpp
void write_series_files(Archive *archive);

// png_gen.cpp: the HUD's map, and the top-down picture of a track for
// people (1 on success).
void write_map_image(const Track *track, Archive *archive);
int write_track_picture(const Track *track, const char *path);

}  // namespace databuild
