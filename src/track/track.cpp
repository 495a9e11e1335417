// The track list and the current track.
//
// ".trackinfo" (written next to the track directory): lines "dir=",
// "longname=", "firstlap=", "normallap=", "gatecount=" (grid positions) and
// "hash=" with the 20 hash bytes as lower-case hex.
#include "track/track.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "app/ripemd160.h"
#include "bike/collide.h"
#include "assets/file.h"
#include "assets/model.h"
#include "assets/texture.h"
#include "platform/log.h"
#include "render/terrain_render.h"
#include "track/deform.h"
#include "track/gates.h"
#include "track/objects.h"
#include "track/roost.h"
#include "track/terrain.h"
#include "track/tiles.h"
#include "ui/loading.h"

namespace {

constexpr int path_size = 1024;
constexpr int display_name_size = 256;

// The track list; lives for the process (rebuilt by each scan).
const char **dirs;
const char **names;
int list_count, list_capacity;

// The current track; from one track load to the next.
const char *current_dir;
unsigned map_texture;  // "map.png", from one track load to the next
const char *current_name;
Terrain *current_terrain;
uint8_t current_hash[20];
int modified_bits;  // track_modified_all bits since the load or last save

// Settings; live for the process.
char root[path_size] = "@";
int verbosity;

// A path too long for the buffer becomes empty, so opening it fails
// instead of opening a cut-off name.
void track_path(char *out, const char *dir, const char *file) {
  if (snprintf(out, path_size, "%s%s/%s", root, dir, file) >= path_size) out[0] = 0;
}

void loading_step(const char *label) { show_loading_logged(label); }

void loading_done(const char *label) {
  char text[96];
  snprintf(text, sizeof text, "%.64s...done", label);
  hovl_log("%s\n", text);
  show_loading(text);
}

// Pieces of a track whose owners are not part of this build yet; each is a
// no-op until its module lands.
void free_robot_lines_pending() {}  // the robot line tables

void cant_open(const char *path) {
  char text[1000];
  snprintf(text, sizeof text, "Can't open '%.950s'", path);
  print_message(text);
}

// "shadingx2.ppm" as stored, else "shading.ppm" halved (one is required);
// "shadows.pgm" when there is one. Read even without GL, so that a track
// whose files are broken fails the same way everywhere.
int load_shading_layers(Terrain *t, const char *dir) {
  char path[path_size];
  track_path(path, dir, "shadingx2.ppm");
  DataFile *file = dfile_open(path, "rb");
  int halve = 0;
  if (!file) {
    track_path(path, dir, "shading.ppm");
    file = dfile_open(path, "rb");
    halve = 1;
  }
  if (!file) {
    cant_open(path);
    return 0;
  }
  int ok = terrain_read_shading(t, file, halve);
  dfile_close(file);
  if (!ok) return 0;
  track_path(path, dir, "shadows.pgm");
  file = dfile_open(path, "rb");
  if (!file) return 1;
  ok = terrain_read_shadows(t, file);
  dfile_close(file);
  return ok;
}

void log_texture_memory(const char *when) {
  if (verbosity >= 1) hovl_log("%lu bytes texture memory used after %s\n", static_cast<unsigned long>(texture_memory()), when);
}

void hash_file(Ripemd160 *digest, const char *path) {
  DataFile *file = dfile_open(path, "rb");
  if (!file) return;
  static uint8_t buffer[65536];
  for (;;) {
    int got = dfile_read(file, buffer, sizeof buffer);
    if (got <= 0) break;
    ripemd160_update(digest, buffer, static_cast<size_t>(got));
  }
  dfile_close(file);
}

// First line of "desc": up to CR, LF, a zero byte or the end of the file.
const char *read_display_name(const char *dir) {
  char path[path_size];
  track_path(path, dir, "desc");
  DataFile *file = dfile_open(path, "rb");
  if (!file) return dir;
  char name[display_name_size];
  int n = 0;
  for (;;) {
    int c = dfile_getc(file);
    if (c < 0 || c == 0 || c == '\r' || c == '\n' || n == display_name_size - 1) break;
    name[n++] = static_cast<char>(c);
  }
  name[n] = 0;
  dfile_close(file);
  return intern_string(name);
}

int ends_with(const char *text, const char *suffix) {
  size_t a = strlen(text), b = strlen(suffix);
  return a >= b && strcmp(text + a - b, suffix) == 0;
}

// Lower-case comparison; a prefix sorts first.
int name_before(const char *a, const char *b) {
  for (;; a++, b++) {
    int ca = tolower(static_cast<unsigned char>(*a)), cb = tolower(static_cast<unsigned char>(*b));
    if (ca != cb) return ca < cb;
    if (!ca) return 0;
  }
}

// Terrain, shading, tiles and tile map; null with a message on failure.
Terrain *load_terrain_files(const char *dir) {
  char path[path_size], png[path_size];
  track_path(path, dir, "terrain.hf");
  track_path(png, dir, "terrain.png");
  Terrain *t = load_terrain_file(path, png);
  if (!t) return nullptr;
  log_texture_memory("hf creation");
  if (!load_shading_layers(t, dir)) {
    terrain_free(t);
    return nullptr;
  }
  track_path(path, dir, "tileinfo");
  DataFile *file = dfile_open(path, "rb");
  if (file) {
    load_tileinfo(t, file);
  } else {
    track_path(path, dir, "texturelist");
    file = dfile_open(path, "rb");
    if (file) load_texturelist(t, file);
  }
  if (!file) {
    cant_open(path);
    terrain_free(t);
    return nullptr;
  }
  dfile_close(file);
  track_path(path, dir, "tilemap");
  file = dfile_open(path, "rb");
  if (!file) {
    cant_open(path);
    terrain_free(t);
    return nullptr;
  }
  load_tilemap(t, file);
  dfile_close(file);
  // The decals' records first: the renderer's setup loads their pictures.
  track_path(path, dir, "decals");
  file = dfile_open(path, "rb");
  if (file) {
    load_decals(t, file);
    dfile_close(file);
  }
  if (!terrain_render_setup(t)) {
    terrain_free(t);
    return nullptr;
  }
  return t;
}

void load_object_file(const char *dir, const char *name, void (*reader)(DataFile *)) {
  char path[path_size];
  track_path(path, dir, name);
  DataFile *file = dfile_open(path, "rb");
  if (!file) return;
  reader(file);
  dfile_close(file);
}

}  // namespace

void track_set_root(const char *prefix) { snprintf(root, sizeof root, "%s", prefix ? prefix : "@"); }
void track_set_verbosity(int level) { verbosity = level; }
int track_verbosity() { return verbosity; }

int scan_tracks_from(const char *const *files) {
  list_count = 0;
  static const char *const suffixes[] = {"/terrain.hf", "/terrain.hf.gz", "/terrain.hf.scram",
                                         "/terrain.hf.gz.scram"};
  for (const char *const *file = files; file && *file; file++) {
    int is_track = 0;
    for (const char *suffix : suffixes) is_track |= ends_with(*file, suffix);
    if (!is_track) continue;
    const char *slash = strrchr(*file, '/');
    char dir[path_size];
    snprintf(dir, sizeof dir, "%.*s", static_cast<int>(slash - *file), *file);
    const char *key = intern_string(dir);
    int known = 0;
    for (int k = 0; k < list_count && !known; k++) known = dirs[k] == key;
    if (known) continue;  // several height-file variants of one track
    int capacity = list_capacity;
    grow_array(dirs, list_count, capacity);
    grow_array(names, list_count, list_capacity);
    dirs[list_count] = key;
    names[list_count] = read_display_name(key);
    list_count++;
    char found[64];
    snprintf(found, sizeof found, "%d tracks found", list_count);
    loading_progress_tick(found);
  }
  // Insertion sort: stable, so equal names keep their scan order.
  for (int a = 1; a < list_count; a++) {
    const char *dir = dirs[a], *name = names[a];
    int b = a;
    for (; b > 0 && name_before(name, names[b - 1]); b--) {
      dirs[b] = dirs[b - 1];
      names[b] = names[b - 1];
    }
    dirs[b] = dir;
    names[b] = name;
  }
  if (verbosity >= 1) {
    for (int k = 0; k < list_count; k++) hovl_log("%s -> %s\n", dirs[k], names[k]);
  }
  return list_count;
}

int scan_tracks() { return scan_tracks_from(file_list()); }

int track_count() { return list_count; }
const char *track_dir(int index) { return index >= 0 && index < list_count ? dirs[index] : nullptr; }
const char *track_name(int index) { return index >= 0 && index < list_count ? names[index] : nullptr; }

const char *track_display_name(const char *dir) {
  if (!dir) return nullptr;
  for (int k = 0; k < list_count; k++) {
    if (strcmp(dirs[k], dir) == 0) return names[k];
  }
  return dir;
}

void track_mark_modified(int bits) { modified_bits |= bits & track_modified_all; }
int track_modified() { return modified_bits; }

const char *current_track_dir() { return current_dir; }

void current_track_file(char *out, int size, const char *name) {
  if (!current_dir || snprintf(out, static_cast<size_t>(size), "%s%s/%s", root, current_dir, name) >= size) out[0] = 0;
}
unsigned track_map_texture() { return map_texture; }
Terrain *track_terrain() { return current_terrain; }
const uint8_t *track_hash() { return current_hash; }

namespace {

int load_track_files(const char *dir) {
  char path[path_size];
  const char *name = track_display_name(dir);
  Ripemd160 digest;
  ripemd160_init(&digest);

  loading_step("Scanning");
  static const char *const hashed[] = {"terrain.hf", "terrain.png", "texturelist", "tilemap", "tileinfo"};
  for (const char *file : hashed) {
    track_path(path, dir, file);
    hash_file(&digest, path);
  }
  loading_done("Scanning");
  snprintf(path, sizeof path, "%s%s", root, dir);
  if (verbosity >= 1) hovl_log("Loading '%s'\n", path);

  loading_step("Loading lighting");
  track_path(path, dir, "lighting");
  load_lighting(path);
  loading_done("Loading lighting");

  loading_step("Loading terrain");
  Terrain *terrain = load_terrain_files(dir);
  if (!terrain) {
    free_track_objects();
    return 0;
  }
  current_terrain = terrain;
  current_dir = intern_string(dir);
  current_name = intern_string(name);  // dir itself when unlisted: the caller's buffer
  loading_done("Loading terrain");

  track_path(path, dir, "timing_gates");
  hash_file(&digest, path);
  load_timing_gates(path);

  for (int k = 0; k < roost_billboard_pool; k++) add_billboard(0, 0, 0, 1, 1, 0);

  loading_step("Loading flaggers");
  track_path(path, dir, "flaggers");
  load_flaggers(path);
  loading_done("Loading flaggers");
  log_texture_memory("flagger creation");

  loading_step("Loading billboards");
  load_object_file(dir, "billboards", load_billboards);
  loading_done("Loading billboards");
  log_texture_memory("billboard creation");

  track_path(path, dir, "statues");
  hash_file(&digest, path);
  loading_step("Loading statues");
  load_object_file(dir, "statues", load_statues);
  loading_done("Loading statues");
  log_texture_memory("statue creation");

  loading_step("Loading map");
  track_path(path, dir, "map.png");
  map_texture = texture_read(path);
  loading_done("Loading map");

  // Each distinct collision shape once, in statue order (names are interned).
  for (int k = 0; k < statue_count(); k++) {
    const char *shape = track_statue(k)->shape_path;
    int seen = 0;
    for (int e = 0; e < k && !seen && shape; e++) seen = track_statue(e)->shape_path == shape;
    if (shape && !seen) hash_file(&digest, shape);
  }
  ripemd160_final(&digest, current_hash);

  track_path(path, dir, "cameras");
  load_cameras(path);
  // The statues and start gates, indexed for the bikes' contact tests.
  object_grid_build(terrain);
  return 1;
}

}  // namespace

int load_track(const char *dir) {
  if (current_dir) free_track();
  modified_bits = 0;
  if (!dir) return 0;
  // Everything the track reads stays while it is loaded, whatever the
  // race resets in between.
  texture_hold_begin();
  int ok = load_track_files(dir);
  texture_hold_end();
  return ok;
}

int track_ensure_loaded(const char *dir, int online, int force_reload) {
  if (!dir) return 0;
  if (current_dir && strcmp(current_dir, dir) == 0 && !online && !force_reload) return 1;
  return load_track(dir);
}

void free_track() {
  map_texture = 0;
  texture_release_held();  // the pictures and models go with their generation now
  model_release_held();
  if (!current_dir && !current_terrain) return;
  hovl_log("Deallocating track\n");
  free_robot_lines_pending();
  object_grid_free();
  free_track_objects();
  timing_gates_reset();
  // Queued erodes and pending wheel marks belong to this ground; particles to
  // its billboards.
  erode_queue_clear();
  erode_reset();
  roost_reset();
  terrain_free(current_terrain);
  current_terrain = nullptr;
  current_dir = nullptr;
  current_name = nullptr;
  modified_bits = 0;
  memset(current_hash, 0, sizeof current_hash);
  hovl_log("Finished deallocating track\n");
}

void save_track_info() {
  if (!current_dir) {
    print_message("No track loaded");
    return;
  }
  char path[path_size], temporary[path_size + 8];
  if (snprintf(path, sizeof path, "%s%s.trackinfo", root, current_dir) >= path_size) path[0] = 0;
  snprintf(temporary, sizeof temporary, "%s.tmp", path);
  DataFile *file = dfile_open(temporary, "wb");
  if (!file) {
    char text[1100];
    snprintf(text, sizeof text, "Can't write '%.950s'", path);
    print_message(text);
    return;
  }
  const TimingGates *g = timing_gates();
  dfile_printf(file, "dir=%s\n", current_dir);
  dfile_printf(file, "longname=%s\n", current_name ? current_name : current_dir);
  dfile_printf(file, "firstlap=%d\n", g->first_lap_count);
  dfile_printf(file, "normallap=%d\n", g->normal_lap_count);
  dfile_printf(file, "gatecount=%d\n", g->grid_count);
  dfile_printf(file, "hash=");
  for (int k = 0; k < 20; k++) dfile_printf(file, "%02x", current_hash[k]);
  dfile_printf(file, "\n");
  int ok = dfile_flush(file) == 0;
  dfile_close(file);
  if (!ok || !dfile_rename(temporary, path)) {
    char text[1100];
    snprintf(text, sizeof text, "Can't write '%.950s'", path);
    print_message(text);
    return;
  }
  char text[1100];
  snprintf(text, sizeof text, "Track info saved to %.1000s", path);
  print_message(text);
}
