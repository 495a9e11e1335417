// Track object files:
//   "lighting"   lines of "keyword value" (sun, ambient, sky, flares, fog, clip planes)
//   "billboards" repeated "[x y z] width height texture"; a texture written
//                "#rrggbb#path" is that image tinted
//   "statues"    repeated "[x y z] angle model texture shape" ("null" = none)
//   "decals"     repeated "[x z] angle size1 size2 texture"
//   "flaggers"   the start flagger, the lap-board flagger, then gate flaggers
//   "cameras"    lines: "addcamera x y z", "fov f", "autofovsize f", "gate n ..."
#include "track/objects.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "assets/file.h"
#include "assets/model.h"
#include "assets/texture.h"
#include "platform/log.h"
#include "render/gl_caps.h"
#include "track/gates.h"
#include "track/scan_local.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

constexpr int name_size = 1024;
constexpr int max_object_file_bytes = 1 << 24;
// Shape files are small; a count above this is taken as corrupt.
constexpr int max_shape_spheres = 4096;

// Everything below lives from one track load to the next.
Lighting lighting;
Billboard *billboards;
int billboard_total, billboard_capacity;
Statue *statues;
int statue_total, statue_capacity;
Decal *decals;
int decal_total, decal_capacity;
StartFlagger the_start_flagger;
LapBoardFlagger the_lap_board_flagger;
GateFlagger *gate_flaggers;
int gate_flagger_total, gate_flagger_capacity;
TrackCamera *cameras;
int camera_total, camera_capacity;
int file_billboards_from = -1, file_statues_from = -1;  // -1 until the file is read
int gate_cameras[camera_gate_table_size];
int gate_cameras_ready;

using track_scan::next_line;
using track_scan::skip_space;
using track_scan::window;

// Pictures and models load with the track (the loader holds them while the
// track stays). Without GL (the headless race, the server) there is nothing
// to draw them with: handles stay 0 and only the paths are kept.
unsigned texture_placeholder(const char *path) { return path ? texture_read(path) : 0; }
unsigned model_placeholder(const char *path) { return path && texture_gl_ready() ? model_read(path) : 0; }

// A statue's normal or specular map ("_norm" or "_spec"): beside its texture
// ("x-repeat.png" -> "x_norm-repeat", "x.png" -> "x_norm"), as ".seq", ".png"
// or ".ppm"; failing that, beside its model.
unsigned statue_map(const char *texture, const char *model, const char *kind) {
  char stem[name_size + 16], tail[32] = "", name[name_size + 48];
  snprintf(stem, sizeof stem, "%s", texture);
  char *dot = strrchr(stem, '.');
  char *slash = strrchr(stem, '/');
  if (dot && (!slash || dot > slash)) *dot = 0;
  size_t n = strlen(stem);
  if (n >= 7 && strcmp(stem + n - 7, "-repeat") == 0) {
    stem[n - 7] = 0;
    snprintf(tail, sizeof tail, "-repeat");
  }
  static const char *const extensions[] = {".seq", ".png", ".ppm"};
  for (const char *ext : extensions) {
    snprintf(name, sizeof name, "%s%s%s%s", stem, kind, tail, ext);
    if (unsigned t = texture_read(name)) return t;
  }
  if (!model) return 0;
  snprintf(stem, sizeof stem, "%s", model);
  dot = strrchr(stem, '.');
  slash = strrchr(stem, '/');
  if (dot && (!slash || dot > slash)) *dot = 0;
  for (const char *ext : extensions) {
    snprintf(name, sizeof name, "%s%s%s", stem, kind, ext);
    if (unsigned t = texture_read(name)) return t;
  }
  return 0;
}

float ground_at(float x, float z) {
  const Terrain *t = track_terrain();
  return t ? terrain_height(t, x, z) : 0;
}

const char *name_or_none(const char *name) { return strcmp(name, "null") == 0 ? nullptr : intern_string(name); }

int next_word(const char **p, char *word) { return track_scan::next_token(p, word, name_size); }

char *read_all(DataFile *file, const char *label) {
  int truncated = 0;
  char *text = track_scan::read_text(file, max_object_file_bytes, &truncated);
  if (truncated) {
    char message[128];
    snprintf(message, sizeof message, "%s warning: file too large, only its start is read", label);
    print_message(message);
  }
  return text;
}

// Until the collision-shape cache exists here, a statue's shape is checked
// by reading it the way the cache will: a count, then seven numbers per sphere.
int shape_file_loads(const char *path) {
  DataFile *file = dfile_open(path, "rb");
  if (!file) return 0;
  int count = 0, ok = dfile_scanf(file, "%d", &count) == 1 && count >= 0 && count <= max_shape_spheres;
  for (int k = 0; ok && k < count * 7; k++) {
    float v;
    ok = dfile_scanf(file, "%f", &v) == 1;
  }
  dfile_close(file);
  return ok;
}

void normalise3(float v[3], float fx, float fy, float fz) {
  float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (!(length > 0) || !std::isfinite(length)) {
    v[0] = fx;
    v[1] = fy;
    v[2] = fz;
    length = std::sqrt(fx * fx + fy * fy + fz * fz);
  }
  v[0] /= length;
  v[1] /= length;
  v[2] /= length;
}

void lighting_line(const char *keyword, const char *value, LensFlare *building) {
  float v[4];
  char name[name_size];
  auto vector3 = [&](float out[3]) {
    if (sscanf(value, " [ %f %f %f ] ", &v[0], &v[1], &v[2]) == 3) memcpy(out, v, sizeof(float) * 3);
  };
  static const char *const sky_keys[sky_faces] = {"sky_n", "sky_e", "sky_s", "sky_w", "sky_u"};
  for (int k = 0; k < sky_faces; k++) {
    if (strcmp(keyword, sky_keys[k]) == 0) {
      lighting.sky[k] = intern_string(value);
      return;
    }
  }
  if (strcmp(keyword, "sun_vector") == 0) {
    vector3(lighting.sun_vector);
  } else if (strcmp(keyword, "sun_color") == 0) {
    vector3(lighting.sun_color);
  } else if (strcmp(keyword, "ambient") == 0) {
    vector3(lighting.ambient);
  } else if (strcmp(keyword, "global_ambient") == 0) {
    vector3(lighting.global_ambient);
  } else if (strcmp(keyword, "sky_env") == 0) {
    lighting.sky_env = intern_string(value);
  } else if (strcmp(keyword, "flare_element") == 0) {
    FlareElement e;
    memset(&e, 0, sizeof e);
    if (building->element_count < max_flare_elements &&
        sscanf(value, " [ %f %f ] [ %f %f %f ] %f %1023s", &e.a, &e.b, &e.colour[0], &e.colour[1], &e.colour[2],
               &e.size, name) == 7) {
      e.texture_path = intern_string(name);
      e.texture = texture_placeholder(name);
      building->elements[building->element_count++] = e;
    }
  } else if (strcmp(keyword, "flare_point") == 0 || strcmp(keyword, "flare_vector") == 0) {
    if (sscanf(value, " [ %f %f %f ] ", &v[0], &v[1], &v[2]) == 3) {
      building->is_direction = keyword[6] == 'v';
      memcpy(building->position, v, sizeof(float) * 3);
      if (lighting.flare_count < max_flares) {
        lighting.flares[lighting.flare_count++] = *building;
      } else {
        print_message("lighting warning: too many lens flares");
      }
      memset(building, 0, sizeof *building);
    }
  } else if (strcmp(keyword, "fog") == 0) {
    if (sscanf(value, " [ %f %f %f ] %f ", &v[0], &v[1], &v[2], &v[3]) == 4) {
      memcpy(lighting.fog_color, v, sizeof(float) * 3);
      lighting.fog_density = v[3];
    }
  } else if (strcmp(keyword, "dynamic_lighting") == 0) {
    int on = 0;
    if (sscanf(value, "%d", &on) == 1) lighting.dynamic_lighting = on > 0;
  } else if (strcmp(keyword, "near_plane") == 0) {
    sscanf(value, "%f", &lighting.near_plane);
  } else if (strcmp(keyword, "far_plane") == 0) {
    sscanf(value, "%f", &lighting.far_plane);
  } else {
    char text[1000];
    snprintf(text, sizeof text, "Error reading lighting: Unknown identifier '%.950s'\n", keyword);
    print_message(text);
  }
}

void lighting_finish() {
  normalise3(lighting.sun_vector, 1, 1, 1);
  float &near_plane = lighting.near_plane, &far_plane = lighting.far_plane;
  if (!(near_plane > 1.0f / 1024)) near_plane = 1.0f / 1024;
  if (near_plane > 0.875f) near_plane = 0.875f;
  if (!(far_plane > near_plane)) far_plane = near_plane;
  if (far_plane > 1048576.0f) far_plane = 1048576.0f;
  for (int k = 0; k < sky_faces; k++) lighting.sky_textures[k] = texture_placeholder(lighting.sky[k]);
  lighting.env_texture = texture_placeholder(lighting.sky_env);
}

int scan_count(const char *p, const char *format, int expected, int *used, ...) {
  char copy[name_size * 2];
  window(p, copy, sizeof copy);
  va_list args;
  va_start(args, used);
  int got = vsscanf(copy, format, args);
  va_end(args);
  return got == expected && *used > 0;
}

// Name for a billboard texture "#rrggbb#path": sets the colour and returns the path.
const char *billboard_colour(const char *name, uint8_t colour[4]) {
  if (strlen(name) < 8 || name[0] != '#' || name[7] != '#') return name;
  unsigned value = 0;
  for (int k = 1; k <= 6; k++) {
    char c = name[k];
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) return name;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  colour[0] = static_cast<uint8_t>(value >> 16);
  colour[1] = static_cast<uint8_t>(value >> 8);
  colour[2] = static_cast<uint8_t>(value);
  return name + 8;
}

int add_flagger_billboard(const float position[3], float width, float height, const char *texture) {
  int index = add_billboard(position[0], ground_at(position[0], position[2]) + position[1], position[2], width,
                            height, texture_placeholder(texture));
  billboards[index].texture_path = texture;
  return index;
}

int read_names(const char **p, const char **names, int count) {
  char word[name_size];
  for (int k = 0; k < count; k++) {
    if (!next_word(p, word)) return 0;
    names[k] = intern_string(word);
  }
  return 1;
}

}  // namespace

void lighting_defaults(Lighting *l) {
  memset(l, 0, sizeof *l);
  float s = 1.0f / std::sqrt(3.0f);
  for (int k = 0; k < 3; k++) {
    l->sun_vector[k] = s;
    l->sun_color[k] = 1;
    l->ambient[k] = 0.5f;
    l->global_ambient[k] = 0.2f;
    l->fog_color[k] = 1;
  }
  l->near_plane = 0.25f;
  l->far_plane = 5000;
  l->fog_density = 0;
  static const char *const defaults[sky_faces] = {"@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm", "@sky-w.ppm",
                                                  "@sky-u.ppm"};
  for (int k = 0; k < sky_faces; k++) l->sky[k] = intern_string(defaults[k]);
  l->sky_env = intern_string("@sky-env.ppm");
}

void lighting_read(DataFile *file) {
  lighting_defaults(&lighting);
  char *text = read_all(file, "lighting");
  const char *p = text;
  char line[name_size * 2];
  LensFlare building;
  memset(&building, 0, sizeof building);
  while (next_line(&p, line, sizeof line)) {
    char *keyword = line;
    while (*keyword == ' ' || *keyword == '\t') keyword++;
    char *value = keyword;
    while (*value && *value != ' ' && *value != '\t') value++;
    if (*value) *value++ = 0;
    while (*value == ' ' || *value == '\t') value++;
    size_t length = strlen(value);
    while (length > 0 && track_scan::is_space(value[length - 1])) value[--length] = 0;
    size_t keyword_length = strlen(keyword);
    while (keyword_length > 0 && track_scan::is_space(keyword[keyword_length - 1])) keyword[--keyword_length] = 0;
    if (!*keyword) continue;
    lighting_line(keyword, value, &building);
  }
  tracked_free(text);
  lighting_finish();
}

void load_lighting(const char *path) {
  DataFile *file = dfile_open(path, "rb");
  if (!file) {
    lighting_defaults(&lighting);
    lighting_finish();
    return;
  }
  lighting_read(file);
  dfile_close(file);
}

int add_billboard(float x, float y, float z, float width, float height, unsigned texture) {
  grow_array(billboards, billboard_total, billboard_capacity);
  Billboard *b = &billboards[billboard_total];
  memset(b, 0, sizeof *b);
  b->x = x;
  b->y = y;
  b->z = z;
  b->width = width;
  b->height = height;
  b->texture = texture;
  b->colour[0] = b->colour[1] = b->colour[2] = b->colour[3] = 255;
  b->visible = 1;
  return billboard_total++;
}

void load_billboards(DataFile *file) {
  file_billboards_from = billboard_total;
  char *text = read_all(file, "billboards");
  const char *p = text;
  float x, y, z, w, h;
  char name[name_size];
  int used = 0;
  while (scan_count(p, "[ %f %f %f ] %f %f %1023s %n", 6, &used, &x, &y, &z, &w, &h, name, &used)) {
    p += used;
    used = 0;
    uint8_t colour[4] = {255, 255, 255, 255};
    const char *path = billboard_colour(name, colour);
    int index = add_billboard(x, ground_at(x, z) + y, z, w, h, texture_placeholder(path));
    billboards[index].texture_path = intern_string(path);
    memcpy(billboards[index].colour, colour, 4);
  }
  tracked_free(text);
}

void place_statue(Statue *s, float x, float y, float z, float angle) {
  s->x = x;
  s->y = ground_at(x, z) + y;
  s->z = z;
  if (!std::isfinite(angle)) angle = 0;
  s->angle = angle;
  float c = std::cos(angle), n = std::sin(angle);
  float rotation[9] = {c, 0, n, 0, 1, 0, -n, 0, c};
  memcpy(s->rotation, rotation, sizeof rotation);
}

int add_statue(float x, float y, float z, float angle, const char *model, const char *texture, const char *shape) {
  grow_array(statues, statue_total, statue_capacity);
  Statue *s = &statues[statue_total];
  memset(s, 0, sizeof *s);
  s->model_path = model;
  s->texture_path = texture;
  s->shape_path = shape;
  s->model = model ? model_placeholder(model) : 0;
  s->texture = model && texture ? texture_placeholder(texture) : 0;
  if (s->model && s->texture && programs_available()) {
    // Normal mapping draws through the programs; without them there is no use for the maps.
    s->normal_map = statue_map(texture, model, "_norm");
    s->specular_map = statue_map(texture, model, "_spec");
  }
  // A fourth number of 3.25 or more is a power of two kept with the
  // statue, not an angle.
  if (angle >= 3.25f) {
    s->power = std::exp2(angle < 100 ? angle : 100);
    angle = 0;
  }
  place_statue(s, x, y, z, angle);
  s->last_contact_tic = -1;
  if (shape) {
    s->has_shape = shape_file_loads(shape);
    if (!s->has_shape) {
      char text[1000];
      snprintf(text, sizeof text, "Warning: missing shape file %.900s", shape);
      print_message(text);
    }
  }
  return statue_total++;
}

void load_statues(DataFile *file) {
  file_statues_from = statue_total;
  char *text = read_all(file, "statues");
  const char *p = text;
  float x, y, z, angle;
  char model[name_size], texture[name_size], shape[name_size];
  int used = 0;
  while (scan_count(p, " [ %f %f %f ] %f %1023s %1023s %1023s %n", 7, &used, &x, &y, &z, &angle, model, texture,
                    shape, &used)) {
    p += used;
    used = 0;
    add_statue(x, y, z, angle, name_or_none(model), name_or_none(texture), name_or_none(shape));
  }
  tracked_free(text);
}

void load_decals(Terrain *, DataFile *file) {
  char *text = read_all(file, "decals");
  const char *p = text;
  Decal d;
  char name[name_size];
  int used = 0;
  memset(&d, 0, sizeof d);
  while (scan_count(p, "[ %f %f ] %f %f %f %1023s %n", 6, &used, &d.x, &d.z, &d.angle, &d.size1, &d.size2, name,
                    &used)) {
    p += used;
    used = 0;
    grow_array(decals, decal_total, decal_capacity);
    d.sin_angle = std::sin(d.angle);
    d.cos_angle = std::cos(d.angle);
    d.texture_path = intern_string(name);
    d.texture = texture_placeholder(name);
    decals[decal_total++] = d;
  }
  tracked_free(text);
}

void flaggers_read(DataFile *file) {
  char *text = read_all(file, "flaggers");
  const char *p = text;
  int used = 0;
  StartFlagger &s = the_start_flagger;
  memset(&s, 0, sizeof s);
  if (scan_count(p, " [ %f %f %f ] [ %f %f %f ] %f %f %f %n", 9, &used, &s.start[0], &s.start[1], &s.start[2],
                 &s.end[0], &s.end[1], &s.end[2], &s.width, &s.height, &s.walk_time, &used) &&
      (p += used, read_names(&p, s.textures, 5))) {
    s.present = 1;
    for (int k = 0; k < 5; k++) s.texture_ids[k] = texture_placeholder(s.textures[k]);
    s.billboard = add_flagger_billboard(s.start, s.width, s.height, s.textures[0]);
    LapBoardFlagger &l = the_lap_board_flagger;
    memset(&l, 0, sizeof l);
    used = 0;
    if (scan_count(p, " [ %f %f %f ] %f %f %n", 5, &used, &l.position[0], &l.position[1], &l.position[2], &l.width,
                   &l.height, &used) &&
        (p += used, read_names(&p, l.textures, 4))) {
      l.present = 1;
      for (int k = 0; k < 4; k++) l.texture_ids[k] = texture_placeholder(l.textures[k]);
      l.billboard = add_flagger_billboard(l.position, l.width, l.height, l.textures[0]);
      int last = timing_gates()->checkpoint_count - 1;
      for (;;) {
        GateFlagger g;
        memset(&g, 0, sizeof g);
        used = 0;
        if (!scan_count(p, " [ %f %f %f ] %f %f %d %d %d %d%n", 9, &used, &g.position[0], &g.position[1],
                        &g.position[2], &g.width, &g.height, &g.checkpoints[0], &g.checkpoints[1], &g.checkpoints[2],
                        &g.checkpoints[3], &used)) {
          break;
        }
        p += used;
        if (!read_names(&p, g.textures, 2)) break;
        for (int &c : g.checkpoints) c = c < -1 ? -1 : (c > last ? last : c);
        for (int k = 0; k < 2; k++) g.texture_ids[k] = texture_placeholder(g.textures[k]);
        g.billboard = add_flagger_billboard(g.position, g.width, g.height, g.textures[0]);
        grow_array(gate_flaggers, gate_flagger_total, gate_flagger_capacity);
        gate_flaggers[gate_flagger_total++] = g;
      }
    }
  }
  tracked_free(text);
}

void load_flaggers(const char *path) {
  DataFile *file = dfile_open(path, "rb");
  if (!file) return;
  flaggers_read(file);
  dfile_close(file);
}

void cameras_read(DataFile *file) {
  for (int &c : gate_cameras) c = -1;
  gate_cameras_ready = 1;
  char *text = read_all(file, "cameras");
  const char *p = text;
  char line[name_size * 2];
  float fov = 90, auto_fov_size = 0;
  while (next_line(&p, line, sizeof line)) {
    const char *q = line;
    char keyword[64];
    if (!track_scan::next_token(&q, keyword, sizeof keyword)) continue;
    float v[3];
    if (strcmp(keyword, "addcamera") == 0) {
      if (sscanf(q, "%f %f %f", &v[0], &v[1], &v[2]) != 3) continue;
      grow_array(cameras, camera_total, camera_capacity);
      TrackCamera *c = &cameras[camera_total++];
      memset(c, 0, sizeof *c);
      c->x = v[0];
      c->y = ground_at(v[0], v[2]) + v[1];
      c->z = v[2];
      c->fov = fov;
      c->auto_fov_size = auto_fov_size;
      fov = 90;
      auto_fov_size = 0;
    } else if (strcmp(keyword, "fov") == 0) {
      if (sscanf(q, "%f", &v[0]) == 1) fov = std::fabs(v[0]);
    } else if (strcmp(keyword, "autofovsize") == 0) {
      if (sscanf(q, "%f", &v[0]) == 1) auto_fov_size = std::fabs(v[0]);
    } else if (strcmp(keyword, "gate") == 0) {
      int gate = 0, used = 0;
      while (sscanf(q, "%d%n", &gate, &used) == 1 && gate >= 0 && gate < camera_gate_table_size) {
        gate_cameras[gate] = camera_total;  // the next camera added
        q += used;
      }
    }
  }
  tracked_free(text);
  if (track_verbosity() >= 1) hovl_log("%d cameras found\n", camera_total);
}

void load_cameras(const char *path) {
  DataFile *file = dfile_open(path, "rb");
  if (!file) {
    for (int &c : gate_cameras) c = -1;
    gate_cameras_ready = 1;
    return;
  }
  cameras_read(file);
  dfile_close(file);
}

const Lighting *track_lighting() { return &lighting; }
int first_file_billboard() { return file_billboards_from >= 0 ? file_billboards_from : billboard_total; }
int first_file_statue() { return file_statues_from >= 0 ? file_statues_from : statue_total; }
int billboard_count() { return billboard_total; }
Billboard *track_billboard(int index) { return index >= 0 && index < billboard_total ? &billboards[index] : nullptr; }
int statue_count() { return statue_total; }
Statue *track_statue(int index) { return index >= 0 && index < statue_total ? &statues[index] : nullptr; }
int decal_count() { return decal_total; }
const Decal *track_decal(int index) { return index >= 0 && index < decal_total ? &decals[index] : nullptr; }
const StartFlagger *start_flagger() { return &the_start_flagger; }
const LapBoardFlagger *lap_board_flagger() { return &the_lap_board_flagger; }
int gate_flagger_count() { return gate_flagger_total; }
const GateFlagger *gate_flagger(int index) {
  return index >= 0 && index < gate_flagger_total ? &gate_flaggers[index] : nullptr;
}
int camera_count() { return camera_total; }
TrackCamera *track_camera(int index) { return index >= 0 && index < camera_total ? &cameras[index] : nullptr; }

int camera_for_gate(int index) {
  if (!gate_cameras_ready || index < 0 || index >= camera_gate_table_size) return -1;
  int camera = gate_cameras[index];
  return camera < camera_total ? camera : -1;
}

void free_track_objects() {
  for (int k = 0; k < statue_total; k++) tracked_free(statues[k].pose);
  file_billboards_from = file_statues_from = -1;
  tracked_free(billboards);
  tracked_free(statues);
  tracked_free(decals);
  tracked_free(gate_flaggers);
  tracked_free(cameras);
  billboards = nullptr;
  statues = nullptr;
  decals = nullptr;
  gate_flaggers = nullptr;
  cameras = nullptr;
  billboard_total = billboard_capacity = statue_total = statue_capacity = decal_total = decal_capacity = 0;
  gate_flagger_total = gate_flagger_capacity = camera_total = camera_capacity = 0;
  memset(&the_start_flagger, 0, sizeof the_start_flagger);
  memset(&the_lap_board_flagger, 0, sizeof the_lap_board_flagger);
  gate_cameras_ready = 0;
  lighting_defaults(&lighting);
}
