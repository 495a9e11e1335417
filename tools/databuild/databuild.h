// The data builder: writes the game's default data set (tracks, robot lines,
// collision shapes, the points series) into the main archive. Every byte
// depends only on the sources: no clock, no unseeded randomness, members in a
// fixed order. One generator module per kind of asset; this header holds the
// records they share.
#pragma once
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

enum TileKind { tile_grass, tile_dirt, tile_berm, tile_startpad, tile_kind_count };

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

// Lighting shared by the "lighting" file and the baked shading.
constexpr float sun_vector[3] = {0.6f, 0.55f, 0.4f};  // afternoon, 37 degrees up
constexpr float sun_color[3] = {0.78f, 0.75f, 0.68f};
constexpr float ambient_color[3] = {0.42f, 0.44f, 0.48f};

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

// tile_gen.cpp
void build_tilemap(Track *track);
void write_tile_files(const Track *track, Archive *archive);
float tile_grip(int tile);

// gate_gen.cpp
void build_gates(Track *track);
void write_gate_file(const Track *track, Archive *archive);

// object_gen.cpp
void write_object_files(const Track *track, Archive *archive);

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
