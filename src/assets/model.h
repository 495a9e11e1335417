// Triangle models: static and skinned meshes from ".shp" and ".hm" files,
// cached by name and kept by generation like textures, with lower-detail
// variants found by file name, display lists where they can be kept, and
// a reflection layer drawn in a pass of its own.
//
// ".shp": "V T", then V vertices of eight numbers (position, normal, texture
// u v) and T triangles of three vertex indices; colour white, shininess 32.
//
// ".hm": "HM1", or "HM2 bones word" for skinned meshes, then meshes until
// one fails to start. A mesh: "m q r g b V T" (material value, a second
// value, colour), V vertices (position, normal, texture, and in version 2
// one weight per bone), T triangles. Material -1 marks a reflection mesh
// (listed after all others; q is its strength), -2 an unlit one.
//
// Variants: for "@dir/name.hm", every file "dir/name_lodN.hm" replaces the
// model from 2^N length units away.
#pragma once
#include <cstdint>

struct DataFile;

constexpr int model_max_bones = 32;
constexpr int model_bone_slots = 4;
// Meshes larger than this are refused as damaged.
constexpr int max_mesh_vertices = 1 << 20;
constexpr int max_mesh_triangles = 1 << 21;

struct Mesh {
  Mesh *next;               // the next mesh of the same file
  int vertex_count, triangle_count;
  int bone_count;           // weights per vertex in the file; 0 unskinned
  float colour[4];          // red, green, blue; fourth: 1, or q for negative materials
  float material;           // shininess, or -1 (reflection) or -2 (unlit)
  float *positions, *normals, *tangents;  // 3 floats a vertex: the drawing arrays
  float *texcoords;         // 2 floats a vertex, v as 1 - v of the file
  float *rest_positions, *rest_normals, *rest_tangents;  // skinned: as loaded
  float *weights;           // skinned: 4 a vertex, normalised
  float *bone_indices;      // skinned: 4 a vertex (floats, for the GL arrays)
  int32_t *triangles;       // 3 a triangle
  float *env_coords;        // reflection meshes: 2 a vertex, filled per draw
  unsigned display_list;
  // Buffer objects holding the mesh as loaded (skinned: the rest pose, with
  // its weights and bones), or 0: positions, normals, texture coordinates,
  // tangents, weights, bones one after the other; the triangles apart.
  unsigned vertex_buffer, index_buffer;
};

struct Model {
  unsigned id;
  const char *name;         // interned
  int generation, held;
  int has_reflection;
  int degenerate_triangles; // removed while loading, over the whole file
  Mesh *meshes;
  float threshold;          // variants: the distance from which they replace the finer one
  Model *next_variant;      // the next coarser variant
  float radius;             // of a sphere about the origin holding every variant
};

// A skinned pose: per bone b a centre C, where it is now T and a rotation R
// (the images of the x, y and z axes); a model point p is drawn at
// R (p - C) + T.
struct ModelPose {
  int count;
  float centres[model_max_bones][3];
  float translations[model_max_bones][3];
  float rotations[model_max_bones][9];
};

// Parses one model file; null with a message when nothing loads.
Model *model_parse(DataFile *file, const char *name);
void model_free(Model *model);

// Level of detail and drawing options (model_detail, --lod-scale,
// --lod-bias; --novertexarrays draws immediate mode).
void model_set_options(float lod_scale, float lod_bias, int vertex_arrays);
// While set, models draw no coarser than their first variant, however far
// off: the bike the camera follows, where the player looks all race, keeps
// its close-up level (every spoke and knob) at chase distance.
void model_set_close_up(int close_up);
void model_set_verbosity(int level);

// The cached model with its variants, loading it when new; 0 when the file
// cannot be opened or parsed.
unsigned model_read(const char *name);
Model *model_get(unsigned id);
// The variant drawn from a distance with the current scale and bias.
const Model *model_variant(const Model *model, float distance);
// The reflection pass's meshes are drawn at this strength (1 by default):
// the scene fades the shine of bikes going away.
void model_set_reflection_strength(float strength);
// The radius of a sphere about the model's origin that holds all of it in
// every variant (rest pose for skinned meshes); 0 for no model.
float model_radius(unsigned id);
// The reflection setting is on and the file has reflection meshes.
int model_has_reflection(unsigned id);

// Draws the chain of the variant for that eye distance in the current GL
// state (the caller sets transforms, lights, textures and the program).
// A pose applies to meshes skinned with exactly its bone count.
void model_draw(unsigned id, const float eye_to_model[3], const ModelPose *pose);
// The reflection pass: the reflection meshes only, in their colour times
// their strength; without programs their environment coordinates come from
// the eye, the model's position and orientation (row-major, world = R local).
void model_draw_reflection(unsigned id, const float eye[3], const float position[3], const float orientation[9],
                           const ModelPose *pose);
// Environment-map coordinates of one vertex (position K and normal N in the
// model's frame, E the eye-to-model vector in that frame, R as above).
void reflection_coords(const float E[3], const float K[3], const float N[3], const float R[9], float out[2]);
// Poses a skinned mesh on the processor: its drawing arrays from its rest copy.
void pose_mesh(Mesh *mesh, const ModelPose *pose);

// The track keeps its models like its textures (see texture_hold_begin).
void model_release_held();
// all = 0: models of older generations go; all = 1: every model.
void model_flush(int all);
int model_count();

// Writes the chain as POV-Ray "mesh2" text (several meshes in a "union").
void model_write_pov(unsigned id, DataFile *file);
