// "tileinfo": lines of "keyword value"; every keyword but "addtile" sets a
// property of the tile being built, "addtile" appends it to the table.
// "texturelist": one tile per line, "[friction roll_a roll_b] path".
// "tilemap": Q * Q bytes, one tile index per square, row-major.
#include "track/tiles.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "app/types.h"
#include "assets/file.h"
#include "assets/texture.h"
#include "platform/log.h"
#include "track/terrain.h"

namespace {

constexpr int line_size = 1024;
static_assert(max_tiles <= 256, "tile map entries are single bytes");
static_assert(tile_name_size == 48, "names keep 47 characters");
constexpr float min_curve_key = 1.0f / 1048576;  // 2^-20

void warn(const char *text) { print_message(text); }

// The pictures load with the track; without GL the handle stays 0 and the
// path is kept.
unsigned tile_texture_placeholder(const char *path) { return path ? texture_read(path) : 0; }

float positive_or_zero(float v) { return v > 0 ? v : 0; }
float curve_key(float k) { return k > min_curve_key ? k : min_curve_key; }

// The value cut to a byte, wrapping like a C cast through int.
uint8_t cut_to_byte(float v) {
  if (!(v > -1e9f)) v = -1e9f;
  if (!(v < 1e9f)) v = 1e9f;
  return static_cast<uint8_t>(static_cast<int>(v) & 255);
}

int is_blank(char c) { return c == ' ' || c == '\t'; }

struct TileBuild {
  Tile tile;
  int friction_count;
  int roll_resist_count;
  int roost_count;
  int has_name;
};

void build_start(TileBuild *b) {
  memset(b, 0, sizeof *b);
  tile_defaults(&b->tile);
  b->tile.erode.erode_limit_count = 0;  // defaults are applied at "addtile" when none given
}

struct RoostFloat {
  const char *name;
  size_t offset;
};

const RoostFloat roost_floats[] = {
    {"count", offsetof(RoostType, count)},
    {"dig", offsetof(RoostType, dig)},
    {"slip_threshold", offsetof(RoostType, slip_threshold)},
    {"slow_angle", offsetof(RoostType, slow_angle)},
    {"fast_angle", offsetof(RoostType, fast_angle)},
    {"slow_speed", offsetof(RoostType, slow_speed)},
    {"fast_speed", offsetof(RoostType, fast_speed)},
    {"size", offsetof(RoostType, size)},
    {"grow", offsetof(RoostType, grow)},
    {"drag", offsetof(RoostType, drag)},
    {"vscale", offsetof(RoostType, vscale)},
    {"randomize", offsetof(RoostType, randomize)},
};

struct RoostByte {
  const char *name;
  size_t offset;
  int per_tic;  // given per second, kept per tic
};

const RoostByte roost_bytes[] = {
    {"r", offsetof(RoostType, r), 0},           {"g", offsetof(RoostType, g), 0},
    {"b", offsetof(RoostType, b), 0},           {"a", offsetof(RoostType, a), 0},
    {"fade_r", offsetof(RoostType, fade_r), 1}, {"fade_g", offsetof(RoostType, fade_g), 1},
    {"fade_b", offsetof(RoostType, fade_b), 1}, {"fade_a", offsetof(RoostType, fade_a), 1},
};

void roost_parameter(RoostType *roost, const char *token) {
  const char *equals = strchr(token, '=');
  char text[128];
  if (equals) {
    size_t name_length = static_cast<size_t>(equals - token);
    const char *value = equals + 1;
    auto is = [&](const char *name) { return strlen(name) == name_length && strncmp(token, name, name_length) == 0; };
    if (is("texture")) {
      roost->texture_path = intern_string(value);
      roost->texture = tile_texture_placeholder(value);
      return;
    }
    float number = 0;
    int scanned = sscanf(value, "%f", &number) == 1;
    if (is("splash")) {
      // A bad number leaves the kind alone.
      if (scanned && number != 0) roost->kind = 2;
      return;
    }
    for (const RoostFloat &f : roost_floats) {
      if (!is(f.name)) continue;
      if (scanned) {
        memcpy(reinterpret_cast<char *>(roost) + f.offset, &number, sizeof number);
      } else {
        snprintf(text, sizeof text, "tileinfo warning: bad %s\n", f.name);
        warn(text);
      }
      return;
    }
    for (const RoostByte &b : roost_bytes) {
      if (!is(b.name)) continue;
      if (scanned) {
        reinterpret_cast<uint8_t *>(roost)[b.offset] =
            cut_to_byte(b.per_tic ? number * static_cast<float>(seconds_per_tic) : number);
      } else {
        snprintf(text, sizeof text, "tileinfo warning: bad %s\n", b.name);
        warn(text);
      }
      return;
    }
  }
  snprintf(text, sizeof text, "tileinfo warning: unknown roost parameter '%.40s'\n", token);
  warn(text);
}

// Splits at blanks and tabs; a double-quoted stretch keeps its blanks and
// loses its quotes.
void parse_roost(RoostType *roost, const char *value) {
  char token[line_size];
  const char *p = value;
  for (;;) {
    while (is_blank(*p)) p++;
    if (!*p) return;
    int length = 0, quoted = 0;
    while (*p && (quoted || !is_blank(*p))) {
      if (*p == '"') {
        quoted = !quoted;
      } else if (length < line_size - 1) {
        token[length++] = *p;
      }
      p++;
    }
    token[length] = 0;
    roost_parameter(roost, token);
  }
}

struct ErodeKey {
  const char *name;
  size_t offset;
};

const ErodeKey erode_keys[] = {
    {"erode_depth", offsetof(ErodeParams, erode_depth)},
    {"erode_lower", offsetof(ErodeParams, erode_lower)},
    {"erode_upper", offsetof(ErodeParams, erode_upper)},
    {"erode_displacement", offsetof(ErodeParams, erode_displacement)},
    {"erode_radius", offsetof(ErodeParams, erode_radius)},
    {"erode_inner_depth", offsetof(ErodeParams, erode_inner_depth)},
    {"erode_inner_radius", offsetof(ErodeParams, erode_inner_radius)},
    {"erode_min_slope", offsetof(ErodeParams, erode_min_slope)},
    {"erode_max_slope", offsetof(ErodeParams, erode_max_slope)},
    {"erode_off_speed", offsetof(ErodeParams, erode_off_speed)},
    {"erode_on_speed", offsetof(ErodeParams, erode_on_speed)},
    {"erode_slip_lower", offsetof(ErodeParams, erode_slip_lower)},
    {"erode_slip_upper", offsetof(ErodeParams, erode_slip_upper)},
    {"erode_slip_base_scale", offsetof(ErodeParams, erode_slip_base_scale)},
    {"erode_slip_scale", offsetof(ErodeParams, erode_slip_scale)},
    {"erode_downhill_scale", offsetof(ErodeParams, erode_downhill_scale)},
    {"erode_project_to_ground", offsetof(ErodeParams, erode_project_to_ground)},
    {"erode_lateral_scale", offsetof(ErodeParams, erode_lateral_scale)},
    {"erode_front_scale", offsetof(ErodeParams, erode_front_scale)},
};

void set_default_limits(ErodeParams *erode) {
  for (int k = 0; k < erode_limit_points; k++) {
    erode->erode_limit_depth[k] = 0;
    erode->erode_limit_outer[k] = 0;
    erode->erode_limit_inner[k] = 0;
  }
  erode->erode_limit_depth[0] = 0;
  erode->erode_limit_outer[0] = 1;
  erode->erode_limit_inner[0] = 1;
  erode->erode_limit_depth[1] = 1;
  erode->erode_limit_outer[1] = 0;
  erode->erode_limit_inner[1] = 0;
  erode->erode_limit_count = 2;
}

// Names are cut to tile_name_size - 1 characters.
void copy_name(char *name, const char *text) {
  int n = 0;
  for (; text && text[n] && n < tile_name_size - 1; n++) name[n] = text[n];
  name[n] = 0;
}

// Exchange sort by key over the given points only; equal keys keep their order.
template <typename Point>
void sort_by_key(Point *points, int count) {
  for (int a = 0; a < count; a++) {
    for (int b = count - 1; b > a; b--) {
      if (points[b].key < points[b - 1].key) {
        Point swap = points[b];
        points[b] = points[b - 1];
        points[b - 1] = swap;
      }
    }
  }
}

void add_tile(Terrain *t, TileBuild *b) {
  if (!b->has_name) copy_name(b->tile.tile_name, b->tile.texture_path);
  sort_by_key(b->tile.friction, b->friction_count);
  sort_by_key(b->tile.roll_resist, b->roll_resist_count);
  if (b->tile.erode.erode_limit_count == 0) set_default_limits(&b->tile.erode);
  t->tiles[t->tile_count++] = b->tile;
  build_start(b);
}

void keyword_line(Terrain *t, TileBuild *b, const char *keyword, const char *value) {
  Tile *tile = &b->tile;
  char text[1100];
  if (strcmp(keyword, "addtile") == 0) {
    add_tile(t, b);
  } else if (strcmp(keyword, "name") == 0) {
    copy_name(tile->tile_name, value);
    b->has_name = 1;
  } else if (strcmp(keyword, "texture") == 0) {
    tile->texture_path = intern_string(value);
    tile->tile_texture = tile_texture_placeholder(value);
  } else if (strcmp(keyword, "friction") == 0) {
    float v = 0, k = 0;
    if (b->friction_count >= curve_points) {
      warn("tileinfo warning: too many friction points\n");
    } else if (sscanf(value, "%f %f", &v, &k) < 2) {
      warn("tileinfo warning: bad friction parameters\n");
    } else {
      tile->friction[b->friction_count++] = {positive_or_zero(v), curve_key(k)};
    }
  } else if (strcmp(keyword, "roll_resist") == 0) {
    float v1 = 0, v2 = 0, k = 0;
    if (b->roll_resist_count >= curve_points) {
      warn("tileinfo warning: too many roll_resist points\n");
    } else if (sscanf(value, "%f %f %f", &v1, &v2, &k) < 3) {
      warn("tileinfo warning: bad roll_resist parameters\n");
    } else {
      tile->roll_resist[b->roll_resist_count++] = {positive_or_zero(v1), positive_or_zero(v2), curve_key(k)};
    }
  } else if (strcmp(keyword, "roost") == 0) {
    if (b->roost_count >= max_roost_types) {
      warn("tileinfo warning: too many roost types\n");
    } else {
      RoostType roost = roost_defaults();
      roost.kind = 1;
      parse_roost(&roost, value);
      tile->roost[b->roost_count++] = roost;
    }
  } else if (strcmp(keyword, "erode_limit") == 0) {
    ErodeParams *e = &tile->erode;
    float depth = 0, outer = 0, inner = 0;
    int n = e->erode_limit_count;
    if (n >= erode_limit_points) {
      warn("tileinfo warning: too many erode limits\n");
    } else if (sscanf(value, "%f %f %f", &depth, &outer, &inner) < 3) {
      warn("tileinfo warning: bad erode_limit\n");
    } else if (n > 0 && !(depth > e->erode_limit_depth[n - 1])) {
      warn("tileinfo warning: erode_limit depth <= prev depth\n");
    } else {
      e->erode_limit_depth[n] = depth;
      e->erode_limit_outer[n] = outer;
      e->erode_limit_inner[n] = inner;
      e->erode_limit_count = n + 1;
    }
  } else {
    for (const ErodeKey &key : erode_keys) {
      if (strcmp(keyword, key.name) != 0) continue;
      float *field = reinterpret_cast<float *>(reinterpret_cast<char *>(&tile->erode) + key.offset);
      if (sscanf(value, "%f", field) != 1) {
        snprintf(text, sizeof text, "tileinfo warning: bad %s\n", key.name);
        warn(text);
      }
      return;
    }
    snprintf(text, sizeof text, "tileinfo warning: Unknown identifier '%.950s'\n", keyword);
    warn(text);
  }
}

// A map needs at least one tile to point at.
void ensure_a_tile(Terrain *t, const char *file) {
  if (t->tile_count > 0) return;
  char text[128];
  snprintf(text, sizeof text, "%s warning: no tiles, using a default one\n", file);
  warn(text);
  tile_defaults(&t->tiles[0]);
  copy_name(t->tiles[0].tile_name, "default");
  t->tile_count = 1;
}

void clear_tiles(Terrain *t) {
  for (int k = 0; k < t->tile_count; k++) tracked_free(t->tiles[k].tile_pixels);
  t->tile_count = 0;
}

}  // namespace

RoostType roost_defaults() {
  RoostType r;
  memset(&r, 0, sizeof r);
  r.kind = 0;
  r.texture_path = intern_string("@roost.png");
  r.texture = tile_texture_placeholder(r.texture_path);
  r.count = 10;
  r.dig = 1;
  r.slip_threshold = 4;
  r.slow_angle = 1.5707964f;
  r.fast_angle = 0.19634955f;
  r.slow_speed = 0;
  r.fast_speed = 64;
  r.size = 0.25f;
  r.grow = 4;
  r.drag = 0.5f;
  r.vscale = 1;
  r.randomize = 15;
  r.r = r.g = r.b = r.a = 255;
  r.fade_r = r.fade_g = r.fade_b = 0;
  r.fade_a = 254;
  return r;
}

void erode_defaults(ErodeParams *e) {
  memset(e, 0, sizeof *e);
  e->erode_depth = 1;
  e->erode_lower = 50;
  e->erode_upper = 150;
  e->erode_displacement = 2;
  e->erode_radius = 4;
  e->erode_inner_depth = 0.125f;
  e->erode_inner_radius = 2;
  e->erode_min_slope = -0.5f;
  e->erode_max_slope = 0.5f;
  e->erode_off_speed = 10;
  e->erode_on_speed = 15;
  e->erode_slip_lower = 0;
  e->erode_slip_upper = 5;
  e->erode_slip_base_scale = 1;
  e->erode_slip_scale = 1.5f;
  e->erode_downhill_scale = 0;
  e->erode_project_to_ground = 1;
  e->erode_lateral_scale = 1;
  e->erode_front_scale = 1;
  set_default_limits(e);
}

void tile_defaults(Tile *tile) {
  memset(tile, 0, sizeof *tile);
  tile->friction[0] = {1.0f, 1.0f};
  tile->roll_resist[0] = {5.0f, 15.0f, 1.0f};
  erode_defaults(&tile->erode);
}

int tile_at(const Terrain *t, float x, float z) {
  if (!t->tilemap) return 0;
  float last = static_cast<float>(t->tiles_per_side - 1);
  float col = x * t->inverse_spacing * 0.5f, row = z * t->inverse_spacing * 0.5f;
  // Comparisons written so that NaN lands on square 0.
  if (!(col > 0)) col = 0;
  if (col > last) col = last;
  if (!(row > 0)) row = 0;
  if (row > last) row = last;
  return t->tilemap[static_cast<int>(row) * t->tiles_per_side + static_cast<int>(col)];
}

float friction_at(const Tile *tile, float s) {
  const FrictionPoint *f = tile->friction;
  float s2 = s * s;
  int i = 0;
  while (i < curve_points && f[i].key != 0 && !(f[i].key * f[i].key > s2)) i++;
  if (i == 0) return f[0].value;
  if (i < curve_points && f[i].key != 0) {
    float k0 = f[i - 1].key * f[i - 1].key, k1 = f[i].key * f[i].key;
    float t = (s2 - k0) / (k1 - k0);
    if (!(t > 0)) t = 0;
    if (t > 1) t = 1;
    return f[i - 1].value + t * (f[i].value - f[i - 1].value);
  }
  return f[i - 1].value;
}

void roll_resist_at(const Tile *tile, float v, float out[2]) {
  const RollResistPoint *p = tile->roll_resist;
  int i = 0;
  while (i < curve_points && p[i].key != 0 && !(p[i].key > v)) i++;
  if (i == 0) {
    out[0] = p[0].first;
    out[1] = p[0].second;
  } else if (i < curve_points && p[i].key != 0) {
    float t = (v - p[i - 1].key) / (p[i].key - p[i - 1].key);
    if (!(t > 0)) t = 0;
    if (t > 1) t = 1;
    out[0] = p[i - 1].first + t * (p[i].first - p[i - 1].first);
    out[1] = p[i - 1].second + t * (p[i].second - p[i - 1].second);
  } else {
    out[0] = p[i - 1].first;
    out[1] = p[i - 1].second;
  }
}

void load_tileinfo(Terrain *t, DataFile *file) {
  clear_tiles(t);
  TileBuild build;
  build_start(&build);
  char line[line_size];
  while (t->tile_count < max_tiles && dfile_gets(file, line, sizeof line)) {
    char *p = line;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') p++;
    if (!*p) continue;
    char *keyword = p;
    while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') p++;
    char *value_start = p;
    if (*p) *p++ = 0;
    if (value_start != p) {
      while (is_blank(*p)) p++;
    }
    char *value = p;
    value[strcspn(value, "\r\n")] = 0;
    keyword_line(t, &build, keyword, value);
  }
  ensure_a_tile(t, "tileinfo");
  compute_tile_codes(t);
}

void load_texturelist(Terrain *t, DataFile *file) {
  clear_tiles(t);
  char line[line_size];
  while (t->tile_count < max_tiles && dfile_gets(file, line, sizeof line)) {
    line[strcspn(line, "\r\n")] = 0;
    if (!line[0]) continue;  // a blank line is not a tile
    float friction = 1.0f, roll_a = 5.0f, roll_b = 15.0f;
    int used = 0;
    const char *path = line;
    if (sscanf(line, "%f %f %f %n", &friction, &roll_a, &roll_b, &used) == 3 && used > 0) {
      path = line + used;
    } else {
      friction = 1.0f;
      roll_a = 5.0f;
      roll_b = 15.0f;
    }
    Tile *tile = &t->tiles[t->tile_count++];
    tile_defaults(tile);
    tile->friction[0] = {friction, 1.0f};
    tile->roll_resist[0] = {roll_a, roll_b, 1.0f};
    tile->roost[0] = roost_defaults();
    tile->roost[0].kind = 1;
    char data_path[line_size + 2];
    snprintf(data_path, sizeof data_path, "@%s", path);
    tile->texture_path = intern_string(data_path);
    tile->tile_texture = tile_texture_placeholder(data_path);
    const char *slash = strrchr(path, '/');
    copy_name(tile->tile_name, slash ? slash + 1 : path);
  }
  ensure_a_tile(t, "texturelist");
  compute_tile_codes(t);
}

void load_tilemap(Terrain *t, DataFile *file) {
  long size = static_cast<long>(t->tiles_per_side) * t->tiles_per_side;
  long got = 0;
  while (got < size) {
    long want = size - got;
    if (want > (1L << 30)) want = 1L << 30;
    int n = dfile_read(file, t->tilemap + got, static_cast<int>(want));
    if (n <= 0) break;
    got += n;
  }
  if (got < size) {
    char text[128];
    snprintf(text, sizeof text, "tilemap warning: %ld of %ld squares given, the rest use tile 0", got, size);
    warn(text);
    memset(t->tilemap + got, 0, static_cast<size_t>(size - got));
  }
  int last = t->tile_count > 0 ? t->tile_count - 1 : 0;
  long clamped = 0;
  for (long k = 0; k < got; k++) {
    if (t->tilemap[k] > last) {
      t->tilemap[k] = static_cast<uint8_t>(last);
      clamped++;
    }
  }
  if (clamped) {
    char text[128];
    snprintf(text, sizeof text, "tilemap warning: %ld squares name a missing tile, the last tile used", clamped);
    warn(text);
  }
}

namespace {

// Length of a name up to its extension, the part compared with other names.
int base_length(const char *name) {
  const char *dot = strrchr(name, '.');
  const char *slash = strrchr(name, '/');
  if (dot && (!slash || dot > slash)) return static_cast<int>(dot - name);
  return static_cast<int>(strlen(name));
}

int starts_with_base(const char *text, const char *name, int length) {
  return length > 0 && strncmp(text, name, length) == 0 && text[length] == '-';
}

}  // namespace

void compute_tile_codes(Terrain *t) {
  for (int own = 0; own < t->tile_count; own++) {
    const char *name = t->tiles[own].tile_name;
    int code = own << 16 | own << 8;
    for (int a = 0; a < t->tile_count && code == (own << 16 | own << 8); a++) {
      if (a == own) continue;
      const char *name_a = t->tiles[a].tile_name;
      int length_a = base_length(name_a);
      if (!starts_with_base(name, name_a, length_a)) continue;
      const char *rest = name + length_a + 1;
      if (strncmp(rest, "alt", 3) == 0 && rest[3] >= '0' && rest[3] <= '9') {
        code = a << 16 | a << 8;
        break;
      }
      for (int b = 0; b < t->tile_count; b++) {
        if (b == own) continue;
        const char *name_b = t->tiles[b].tile_name;
        int length_b = base_length(name_b);
        if (!starts_with_base(rest, name_b, length_b)) continue;
        const char *mask = rest + length_b + 1;
        int value = 0, k = 0;
        for (; k < 4 && (mask[k] == '0' || mask[k] == '1'); k++) value = value * 2 + (mask[k] - '0');
        if (k == 4) {
          code = a << 16 | b << 8 | value;
          break;
        }
      }
    }
    t->tiles[own].tile_code = code;
  }
}
