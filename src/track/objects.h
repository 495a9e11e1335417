// What stands on a track or lights it: lighting and lens flares, billboards
// (flat sprites, also the roost particle pool), statues (placed models with
// collision shapes), ground decals, flaggers and trackside cameras. The
// records are read here; drawing them belongs to the renderer.
#pragma once
#include <cstdint>

struct DataFile;
struct Terrain;

constexpr int max_flares = 16;
constexpr int max_flare_elements = 8;
constexpr int sky_faces = 5;  // north, east, south, west, up
constexpr int max_gate_flagger_gates = 4;
constexpr int camera_gate_table_size = 256;
constexpr int roost_billboard_pool = 2000;

struct FlareElement {
  float a, b;         // offset across and along the line to the flare
  float colour[3];
  float size;         // half side at unit distance
  unsigned texture;
  const char *texture_path;
};

struct LensFlare {
  int is_direction;   // 1: a direction like the sun, 0: a point in the world
  float position[3];
  FlareElement elements[max_flare_elements];
  int element_count;
};

struct Lighting {
  float sun_vector[3];  // unit
  float sun_color[3];
  float ambient[3];
  float global_ambient[3];
  float near_plane, far_plane;
  int dynamic_lighting;
  float fog_color[3];
  float fog_density;    // 0: no fog
  const char *sky[sky_faces];
  const char *sky_env;
  unsigned sky_textures[sky_faces];
  unsigned env_texture;
  LensFlare flares[max_flares];
  int flare_count;
};

struct Billboard {
  float x, y, z;
  float width, height;
  unsigned texture;
  const char *texture_path;  // interned, null for none
  uint8_t colour[4];
  int visible;
};

// A statue's pose, given by the track script: `bone_count` bones (1 to
// max_statue_bones), each with a centre C (3 floats), a translation T (3) and
// a rotation R (9: numbers 0..2 the image of the x axis, 3..5 of y, 6..8 of
// z). Drawn, a skinned mesh of the statue's model with as many bones as the
// pose has moves each vertex p to the weighted sum of R(p - C) + T over its
// bones; other meshes are drawn as they stand. The first pose fixes the bone
// count for as long as the track is loaded.
constexpr int max_statue_bones = 32;
struct StatuePose {
  int bone_count;
  float centres[max_statue_bones * 3];
  float translations[max_statue_bones * 3];
  float rotations[max_statue_bones * 9];
};

struct Statue {
  unsigned model, texture, normal_map, specular_map;  // handles, 0 until loaded
  const char *model_path, *texture_path, *shape_path;  // interned, null for none
  int has_shape;       // the collision shape file loads
  float x, y, z;       // y is ground + the file's y
  float angle;
  float rotation[9];   // row-major, about the vertical axis
  float power;         // 2^value when the fourth number is 3.25 or more, else 0
  int last_contact_tic;
  StatuePose *pose;    // null until the track script poses it; freed with the track
};

struct Decal {
  float x, z;
  float angle, sin_angle, cos_angle;
  float size1, size2;
  unsigned texture;
  const char *texture_path;
};

struct StartFlagger {
  int present;
  float start[3], end[3];
  float width, height, walk_time;
  const char *textures[5];
  unsigned texture_ids[5];  // loaded with the track; 0 without GL
  int billboard;
};

struct LapBoardFlagger {
  int present;
  float position[3];
  float width, height;
  const char *textures[4];  // normal, last lap but one, last lap, finish
  unsigned texture_ids[4];
  int billboard;
};

struct GateFlagger {
  float position[3];
  float width, height;
  int checkpoints[max_gate_flagger_gates];  // -1 for none
  const char *textures[2];  // idle, waving
  unsigned texture_ids[2];
  int billboard;
};

struct TrackCamera {
  float x, y, z;
  float yaw, pitch, yaw_rate, pitch_rate;
  float fov;            // degrees, default 90
  float auto_fov_size;  // default 0
};

// Readers, called by the track loader in its order. The path forms open
// the file; the DataFile forms read an open one (used by tests and fuzzing).
void load_lighting(const char *path);
void lighting_read(DataFile *file);
void load_flaggers(const char *path);
void flaggers_read(DataFile *file);
void load_billboards(DataFile *file);
void load_statues(DataFile *file);
void load_decals(Terrain *terrain, DataFile *file);
void load_cameras(const char *path);
void cameras_read(DataFile *file);

int add_billboard(float x, float y, float z, float width, float height, unsigned texture);
// (x, y, z) as in the files: y is added to the ground height at (x, z).
// place_statue moves an existing statue the same way.
void place_statue(Statue *statue, float x, float y, float z, float angle);
int add_statue(float x, float y, float z, float angle, const char *model, const char *texture, const char *shape);

const Lighting *track_lighting();
// The first billboard and statue read from the track's own "billboards" and
// "statues" files (the roost pool, flaggers and start gates come before
// them); the count so far when the file held none.
int first_file_billboard();
int first_file_statue();
int billboard_count();
Billboard *track_billboard(int index);
int statue_count();
Statue *track_statue(int index);
int decal_count();
const Decal *track_decal(int index);
const StartFlagger *start_flagger();
const LapBoardFlagger *lap_board_flagger();
int gate_flagger_count();
const GateFlagger *gate_flagger(int index);
int camera_count();
TrackCamera *track_camera(int index);
// Camera index for a checkpoint, -1 when none.
int camera_for_gate(int index);

// Frees every object record and returns lighting to its defaults.
void free_track_objects();
// The lighting defaults alone (the loader starts from them).
void lighting_defaults(Lighting *lighting);
