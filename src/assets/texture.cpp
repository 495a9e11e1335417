#include "assets/texture.h"

#include <GL/gl.h>
#include <strings.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "assets/file.h"
#include "assets/image.h"
#include "platform/log.h"

#ifndef GL_COMPRESSED_RGB
#define GL_COMPRESSED_RGB 0x84ED
#define GL_COMPRESSED_RGBA 0x84EE
#endif
#ifndef GL_TEXTURE_COMPRESSED_IMAGE_SIZE
#define GL_TEXTURE_COMPRESSED_IMAGE_SIZE 0x86A0
#endif
#ifndef GL_CLAMP_TO_EDGE
#define GL_CLAMP_TO_EDGE 0x812F
#endif

namespace {

constexpr int max_link_depth = 16;
// Bounds of an animation file, so a lying header cannot ask for gigabytes.
constexpr int max_sequence_length = 65536;
constexpr int max_animation_frames = 1024;
constexpr long long max_frame_pixels = 65536;

struct TextureRecord {
  unsigned tid;
  int generation;
  int held;          // kept by the loaded track whatever its generation
  size_t bytes;
  char *info;        // tracked allocation or null
  const char *name;  // interned, as requested (without "!")
};

// Callers keep the Picture pointer while the table grows, so each picture
// lives in a block of its own.
struct ImageRecord {
  Picture *picture;
  int generation;
  int held;
  const char *name;
};

struct Link {
  const char *name, *target;  // interned
};

// Lives for the process (the tables are freed by texture_flush(1)).
struct Textures {
  int gl_ready;
  int verbosity;
  int reduction, image_reduction, compression;
  int generation;
  size_t memory;
  TextureRecord *textures;
  int texture_count, texture_capacity;
  ImageRecord *images;
  int image_count, image_capacity;
  Animation *animations;
  int animation_count, animation_capacity;
  Link *links;
  int link_count, link_capacity;
  int gl_major;
  int link_depth;
  int holding;
  int nearest_level;  // mipmaps sampled from their nearest level only
};

Textures tex;

void message(const char *format, ...) __attribute__((format(printf, 1, 2)));
void message(const char *format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  print_message(text);
}

bool contains(const char *text, const char *part) { return text && strstr(text, part) != nullptr; }

// The name decides wrapping: "-hrepeat." horizontally, "-vrepeat." vertically,
// "-repeat." both; everything else is clamped.
int wrap_flags(const char *name) {
  if (contains(name, "-hrepeat.")) return upload_repeat_h;
  if (contains(name, "-vrepeat.")) return upload_repeat_v;
  if (contains(name, "-repeat.")) return upload_repeat_h | upload_repeat_v;
  return 0;
}

const char *link_target(const char *name) {
  for (int i = 0; i < tex.link_count; i++)
    if (strcmp(tex.links[i].name, name) == 0) return tex.links[i].target;
  return nullptr;
}

void set_link(const char *name, const char *target) {
  for (int i = 0; i < tex.link_count; i++) {
    if (strcmp(tex.links[i].name, name) == 0) {
      tex.links[i].target = intern_string(target);
      return;
    }
  }
  grow_array(tex.links, tex.link_count, tex.link_capacity);
  tex.links[tex.link_count++] = {intern_string(name), intern_string(target)};
}

TextureRecord *find_texture(const char *name) {
  for (int i = 0; i < tex.texture_count; i++)
    if (strcmp(tex.textures[i].name, name) == 0) return &tex.textures[i];
  for (int i = 0; i < tex.texture_count; i++) {
    if (strcasecmp(tex.textures[i].name, name) == 0) {
      message("Warning: case mismatch on '%.900s'", name);
      return &tex.textures[i];
    }
  }
  return nullptr;
}

TextureRecord *record_for_tid(unsigned tid) {
  for (int i = 0; i < tex.texture_count; i++)
    if (tex.textures[i].tid == tid) return &tex.textures[i];
  return nullptr;
}

void add_record(unsigned tid, size_t bytes, char *info, const char *name) {
  grow_array(tex.textures, tex.texture_count, tex.texture_capacity);
  tex.textures[tex.texture_count++] = {tid, tex.generation, tex.holding, bytes, info, intern_string(name)};
}

// The first whitespace-delimited token of a file (up to 15 characters).
void read_token(DataFile *file, char token[16]) {
  token[0] = 0;
  if (dfile_scanf(file, "%15s", token) != 1) token[0] = 0;
}

// Turns a decoded chain into what gets uploaded: power-of-two sides, detail
// reduction, then the levels that add nothing are dropped.
void prepare(Picture *picture, const char *name, int reduction, int max_alpha) {
  if (resample_to_power_of_two(picture, max_alpha)) message("Warning: Non power of 2 texture '%.950s'", name);
  int w1 = picture->width, h1 = picture->height;
  int dropped = reduce_detail(picture, reduction);
  dropped += reduce_redundancy(picture);
  if (dropped > 0) message("%.64s reduced to %dx%d (originally %dx%d)", name, picture->width, picture->height, w1, h1);
}

// Reads the text of "<name>.info" next to a picture, appended to info.
void append_info_file(const char *name, char **info) {
  char path[1100];
  if (snprintf(path, sizeof path, "%s.info", name) >= static_cast<int>(sizeof path)) return;
  char *text = file_to_string(path);
  if (!text) return;
  size_t old = *info ? strlen(*info) : 0, add = strlen(text);
  *info = static_cast<char *>(realloc_or_die(*info, old + add + 1));
  memcpy(*info + old, text, add + 1);
  tracked_free(text);
}

unsigned load_png_texture(const char *name, int reduction, char **info_out, size_t *bytes) {
  DataFile *file = dfile_open(name, "rb");
  if (!file) return 0;
  Picture picture;
  char *info = nullptr;
  char error[image_error_size];
  int ok = png_read(file, &picture, &info, error);
  dfile_close(file);
  if (!ok) {
    message("Can't read %.900s (%s)", name, error);
    return 0;
  }
  append_info_file(name, &info);
  int max_alpha = contains(info, "[mip_max_alpha]");
  if (contains(info, "[mip_custom]")) {
    if (!take_custom_levels(&picture)) {
      message("Warning: Invalid height for custom MIP map in '%.950s'", name);
    }
  } else if (max_alpha && picture.channels == 4) {
    build_levels(picture.pixels, picture.width, picture.height, 4, 1);
  }
  prepare(&picture, name, reduction, max_alpha);
  int flags = wrap_flags(name);
  if (tex.compression == 2 || (tex.compression == 1 && contains(info, "[compress]"))) flags |= upload_compress;
  unsigned tid = texture_upload(picture.pixels, picture.width, picture.height, picture.channels, flags, bytes);
  picture_free(&picture);
  *info_out = info;
  return tid;
}

unsigned load_plain_texture(const char *name, int reduction, int (*reader)(DataFile *, Picture *, char *), size_t *bytes) {
  DataFile *file = dfile_open(name, "rb");
  if (!file) return 0;
  Picture picture;
  char error[image_error_size];
  int ok = reader(file, &picture, error);
  dfile_close(file);
  if (!ok) {
    message("Can't read %.900s (%s)", name, error);
    return 0;
  }
  prepare(&picture, name, reduction, 0);
  unsigned tid = texture_upload(picture.pixels, picture.width, picture.height, picture.channels, wrap_flags(name), bytes);
  picture_free(&picture);
  return tid;
}

void free_animation(Animation *a) {
  for (int f = 0; f < a->frame_count; f++) tracked_free(a->frames[f].pixels);
  tracked_free(a->frames);
  tracked_free(a->sequence);
  tracked_free(a->custom);
  *a = Animation{};
}

// Reads the rest of the line after a token (the PNG frame's file name).
void read_line_rest(DataFile *file, char *buffer, int size) {
  int n = 0, c;
  while ((c = dfile_getc(file)) == ' ' || c == '\t') {
  }
  while (c >= 0 && c != '\n' && c != '\r') {
    if (n < size - 1) buffer[n++] = static_cast<char>(c);
    c = dfile_getc(file);
  }
  while (n > 0 && (buffer[n - 1] == ' ' || buffer[n - 1] == '\t')) n--;
  buffer[n] = 0;
}

// Frames keep the game's texture limits: power-of-two sides, halved while
// they hold more than 65536 pixels.
void prepare_frame(Picture *picture) {
  resample_to_power_of_two(picture, 0);
  while (static_cast<long long>(picture->width) * picture->height > max_frame_pixels) drop_top_level(picture);
}

}  // namespace

int animation_read(DataFile *file, const char *name, Animation *out) {
  *out = Animation{};
  Animation &a = *out;
  int length = 0, count = 0, step = 0, loop = 0;
  if (dfile_scanf(file, "%d %d %d %d", &length, &count, &step, &loop) != 4) {
    message("EOF while reading .seq");
    return 0;
  }
  if (length < 1 || length > max_sequence_length || count < 1 || count > max_animation_frames) {
    message("Bad sequence header in %.900s", name);
    return 0;
  }
  a.length = length;
  a.frame_count = 0;
  a.tics_per_step = std::max(step, 1);  // a zero step would divide by zero
  a.loop = loop;
  a.frame_shown = -1;
  a.sequence = static_cast<int *>(alloc_or_die(sizeof(int) * length));
  for (int i = 0; i < length; i++) {
    if (dfile_scanf(file, "%d", &a.sequence[i]) != 1) {
      message("EOF while reading .seq");
      free_animation(&a);
      return 0;
    }
    if (a.sequence[i] < 0 || a.sequence[i] >= count) {
      message("Bad frame index %d in %.900s", a.sequence[i], name);
      free_animation(&a);
      return 0;
    }
  }
  a.frames = static_cast<AnimationFrame *>(tracked_calloc(count, sizeof(AnimationFrame)));
  int w0 = 0, h0 = 0, ch0 = 0;
  for (int f = 0; f < count; f++) {
    char token[16];
    read_token(file, token);
    Picture picture = {};
    char error[image_error_size];
    if (!token[0]) {
      message("EOF while reading .seq");
      free_animation(&a);
      return 0;
    }
    if (strcmp(token, "H7") == 0) {
      dfile_getc(file);  // the blank after the token
      if (!hpred_read_after_magic(file, 4, &picture, error)) {
        message("EOF while reading .seq");
        free_animation(&a);
        return 0;
      }
    } else if (strcmp(token, "PNG") == 0) {
      char frame_name[1024];
      read_line_rest(file, frame_name, sizeof frame_name);
      DataFile *png = dfile_open(frame_name, "rb");
      int ok = png && png_read(png, &picture, nullptr, error);
      if (png) dfile_close(png);
      if (!ok) {
        message("Can't read %.900s", frame_name);
        free_animation(&a);
        return 0;
      }
    } else {
      message("Error reading .seq frame %d", f);
      free_animation(&a);
      return 0;
    }
    if (f == 0) {
      w0 = picture.width;
      h0 = picture.height;
      ch0 = picture.channels;
    } else if (picture.width != w0 || picture.height != h0) {
      message("Width/height mismatch reading .seq");
      picture_free(&picture);
      free_animation(&a);
      return 0;
    } else if (picture.channels != ch0) {
      message("Depth mismatch reading .seq");
      picture_free(&picture);
      free_animation(&a);
      return 0;
    }
    prepare_frame(&picture);
    a.width = picture.width;
    a.height = picture.height;
    a.channels = picture.channels;
    a.frames[f].pixels = picture.pixels;
    a.frame_count = f + 1;
  }
  a.frame_shown = a.sequence[0];
  return 1;
}

void animation_free(Animation *animation) { free_animation(animation); }

int link_read(DataFile *file, char *target, int size) {
  int n = 0, c;
  while ((c = dfile_getc(file)) >= 0 && n < 1023 && n < size - 1) target[n++] = static_cast<char>(c);
  target[n] = 0;
  auto blank = [](char ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); };
  while (n > 0 && blank(target[n - 1])) target[--n] = 0;
  int start = 0;
  while (target[start] && blank(target[start])) start++;
  memmove(target, target + start, static_cast<size_t>(n - start + 1));
  return target[0] != 0;
}

namespace {

// ".seq" after its "ANIM1" token. The texture's GL name, or 0 (the
// animation is then discarded with a message).
unsigned load_animation(DataFile *file, const char *name, size_t *bytes) {
  Animation a;
  if (!animation_read(file, name, &a)) return 0;
  a.tid = texture_upload(a.frames[a.frame_shown].pixels, a.width, a.height, a.channels, wrap_flags(name), bytes);
  if (!a.tid) {
    free_animation(&a);
    return 0;
  }
  grow_array(tex.animations, tex.animation_count, tex.animation_capacity);
  tex.animations[tex.animation_count++] = a;
  return a.tid;
}

void delete_record_at(int i) {
  TextureRecord &r = tex.textures[i];
  if (tex.verbosity) hovl_log("deleting tid %u (%.900s)\n", r.tid, r.name);
  if (tex.gl_ready) glDeleteTextures(1, &r.tid);
  tex.memory -= std::min(tex.memory, r.bytes);
  tracked_free(r.info);
  memmove(&tex.textures[i], &tex.textures[i + 1], sizeof(TextureRecord) * static_cast<size_t>(tex.texture_count - i - 1));
  tex.texture_count--;
}

}  // namespace

void texture_set_gl_ready(int ready) {
  tex.gl_ready = ready;
  if (ready) {
    const char *version = reinterpret_cast<const char *>(glGetString(GL_VERSION));
    tex.gl_major = version ? atoi(version) : 1;
  }
}
int texture_gl_ready() { return tex.gl_ready; }
void texture_set_level_blending(int blend) { tex.nearest_level = !blend; }
void texture_set_verbosity(int level) { tex.verbosity = level; }
void texture_set_options(int reduction, int image_reduction, int compression) {
  tex.reduction = reduction;
  tex.image_reduction = image_reduction;
  tex.compression = compression;
}
void texture_new_generation() { tex.generation++; }
void texture_hold_begin() { tex.holding = 1; }
void texture_hold_end() { tex.holding = 0; }
int texture_holding() { return tex.holding; }

void texture_release_held() {
  for (int i = 0; i < tex.texture_count; i++) tex.textures[i].held = 0;
  for (int i = 0; i < tex.image_count; i++) tex.images[i].held = 0;
}
int texture_generation() { return tex.generation; }
size_t texture_memory() { return tex.memory; }

unsigned texture_upload(const uint8_t *chain, int width, int height, int channels, int flags, size_t *bytes) {
  if (bytes) *bytes = 0;
  if (!tex.gl_ready || !chain || (channels != 3 && channels != 4)) return 0;
  GLuint tid = 0;
  glGenTextures(1, &tid);
  glBindTexture(GL_TEXTURE_2D, tid);
  while (glGetError() != GL_NO_ERROR) {
  }
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, flags & upload_repeat_h ? GL_REPEAT : GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, flags & upload_repeat_v ? GL_REPEAT : GL_CLAMP);
  if (!(flags & upload_repeat_h)) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  if (!(flags & upload_repeat_v)) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  bool clamp_failed = glGetError() != GL_NO_ERROR;
  int single = flags & upload_single_level;
  bool blend = !tex.nearest_level;
  GLint min_filter = single ? GL_LINEAR : blend ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR_MIPMAP_NEAREST;
  if (clamp_failed) min_filter = single ? GL_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min_filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  float border[4] = {0, 0, 0, 0};
  Picture view = {const_cast<uint8_t *>(chain), width, height, channels, 1};
  if (channels == 3) border_colour(&view, border);
  glTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);
  bool compress = (flags & upload_compress) && tex.gl_major > 1;
  GLint internal = compress ? (channels == 4 ? GL_COMPRESSED_RGBA : GL_COMPRESSED_RGB) : (channels == 4 ? GL_RGBA : GL_RGB);
  GLenum format = channels == 4 ? GL_RGBA : GL_RGB;
  int levels = single ? 1 : chain_level_count(width, height);
  size_t total = 0;
  // The chain's rows are packed: a 2 x 2 RGB level has 6-byte rows.
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  for (int level = 0; level < levels; level++) {
    int lw, lh;
    size_t offset = chain_level_offset(width, height, channels, level, &lw, &lh);
    glTexImage2D(GL_TEXTURE_2D, level, internal, lw, lh, 0, format, GL_UNSIGNED_BYTE, chain + offset);
    GLint compressed_size = 0;
    if (compress) glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_COMPRESSED_IMAGE_SIZE, &compressed_size);
    total += compress && compressed_size > 0 ? static_cast<size_t>(compressed_size) : static_cast<size_t>(lw) * lh * channels;
  }
  if (single) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  tex.memory += total;
  if (bytes) *bytes = total;
  return tid;
}

void texture_release(unsigned tid, size_t bytes) {
  if (!tid) return;
  if (tex.gl_ready) glDeleteTextures(1, &tid);
  tex.memory -= std::min(tex.memory, bytes);
}

unsigned texture_read(const char *request) {
  if (!request || !*request || !tex.gl_ready) return 0;
  int reduction = tex.reduction;
  if (request[0] == '!') {
    reduction = 0;
    request++;
  }
  const char *name = request;
  if (const char *target = link_target(name)) name = target;
  if (TextureRecord *r = find_texture(name)) {
    // Used again: it belongs to this generation now (its bytes are still
    // counted once in the total).
    if (r->generation != 0 && r->generation != tex.generation) r->generation = tex.generation;
    if (tex.holding) r->held = 1;
    return r->tid;
  }
  DataFile *file = dfile_open(name, "rb");
  if (!file) {
    if (tex.verbosity) message("Can't open texture \"%.900s\"", name);
    return 0;
  }
  char token[16];
  read_token(file, token);
  unsigned tid = 0;
  size_t bytes = 0;
  char *info = nullptr;
  if (strcmp(token, "H7") == 0 || strcmp(token, "H6") == 0) {
    dfile_close(file);
    tid = load_plain_texture(name, reduction, hpred_read, &bytes);
  } else if (strcmp(token, "P3") == 0 || strcmp(token, "P6") == 0) {
    dfile_close(file);
    tid = load_plain_texture(name, reduction, ppm_read, &bytes);
  } else if (strcmp(token, "ANIM1") == 0) {
    tid = load_animation(file, name, &bytes);
    dfile_close(file);
  } else if (strcmp(token, "LINK") == 0) {
    char start[1024];
    link_read(file, start, sizeof start);
    dfile_close(file);
    // Recorded as white first, so a link that leads back to itself ends at
    // white instead of going round for ever.
    set_link(name, "@colors/white.png");
    if (tex.link_depth >= max_link_depth) {
      message("Too many links from '%.900s'", name);
      return texture_read("@colors/white.png");
    }
    tex.link_depth++;
    tid = texture_read(start);
    tex.link_depth--;
    if (tid) {
      set_link(name, record_for_tid(tid) ? record_for_tid(tid)->name : start);
    } else {
      // A link to nothing shows white, now and later.
      tid = texture_read("@colors/white.png");
    }
    return tid;
  } else {
    dfile_close(file);
    tid = load_png_texture(name, reduction, &info, &bytes);
  }
  if (!tid) {
    tracked_free(info);
    return 0;
  }
  add_record(tid, bytes, info, name);
  return tid;
}

const Picture *image_read(const char *request) {
  if (!request || !*request) return nullptr;
  int reduction = tex.image_reduction;
  if (request[0] == '!') {
    reduction = 0;
    request++;
  }
  for (int pass = 0; pass < 2; pass++) {
    for (int i = 0; i < tex.image_count; i++) {
      ImageRecord &r = tex.images[i];
      if (pass == 0 ? strcmp(r.name, request) != 0 : strcasecmp(r.name, request) != 0) continue;
      if (pass == 1) message("Warning: case mismatch on '%.900s'", request);
      if (r.generation != 0 && r.generation != tex.generation) r.generation = tex.generation;
      if (tex.holding) r.held = 1;
      return r.picture;
    }
  }
  DataFile *file = dfile_open(request, "rb");
  if (!file) return nullptr;
  char token[16];
  read_token(file, token);
  dfile_close(file);
  file = dfile_open(request, "rb");
  if (!file) return nullptr;
  Picture picture;
  char error[image_error_size];
  int ok;
  if (strcmp(token, "H7") == 0 || strcmp(token, "H6") == 0) {
    ok = hpred_read(file, &picture, error);
  } else if (strcmp(token, "P3") == 0 || strcmp(token, "P6") == 0) {
    ok = ppm_read(file, &picture, error);
  } else {
    ok = png_read(file, &picture, nullptr, error);
  }
  dfile_close(file);
  if (!ok) {
    message("Can't read %.900s (%s)", request, error);
    return nullptr;
  }
  resample_to_power_of_two(&picture, 0);
  reduce_image_detail(&picture, reduction);
  Picture *kept = static_cast<Picture *>(alloc_or_die(sizeof(Picture)));
  *kept = picture;
  grow_array(tex.images, tex.image_count, tex.image_capacity);
  tex.images[tex.image_count] = {kept, tex.generation, tex.holding, intern_string(request)};
  return tex.images[tex.image_count++].picture;
}

const char *texture_name(unsigned tid) {
  TextureRecord *r = record_for_tid(tid);
  return r ? r->name : nullptr;
}

const char *texture_info(unsigned tid) {
  TextureRecord *r = record_for_tid(tid);
  return r ? r->info : nullptr;
}

void texture_flush(int all) {
  for (int i = tex.texture_count - 1; i >= 0; i--) {
    int g = tex.textures[i].generation;
    if (all || (g != 0 && g != tex.generation && !tex.textures[i].held)) delete_record_at(i);
  }
  for (int i = tex.image_count - 1; i >= 0; i--) {
    ImageRecord &r = tex.images[i];
    if (!(all || (r.generation != 0 && r.generation != tex.generation && !r.held))) continue;
    if (tex.verbosity) hovl_log("deleting image %.900s\n", r.name);
    picture_free(r.picture);
    tracked_free(r.picture);
    memmove(&tex.images[i], &tex.images[i + 1], sizeof(ImageRecord) * static_cast<size_t>(tex.image_count - i - 1));
    tex.image_count--;
  }
  for (int i = tex.animation_count - 1; i >= 0; i--) {
    Animation &a = tex.animations[i];
    if (!all && record_for_tid(a.tid)) continue;
    if (tex.verbosity) hovl_log("deleting anim %d for tid %u\n", i, a.tid);
    free_animation(&a);
    memmove(&tex.animations[i], &tex.animations[i + 1], sizeof(Animation) * static_cast<size_t>(tex.animation_count - i - 1));
    tex.animation_count--;
  }
  if (all) {
    tracked_free(tex.textures);
    tracked_free(tex.images);
    tracked_free(tex.animations);
    tracked_free(tex.links);
    tex.textures = nullptr;
    tex.images = nullptr;
    tex.animations = nullptr;
    tex.links = nullptr;
    tex.texture_count = tex.texture_capacity = tex.image_count = tex.image_capacity = 0;
    tex.animation_count = tex.animation_capacity = tex.link_count = tex.link_capacity = 0;
    tex.generation = 0;  // back to the state before the first race
    tex.memory = 0;
  }
}

// ---- Animations --------------------------------------------------------------------

int animation_frame_at(const Animation *a, int tic) {
  int step = std::max(0, tic - a->start_tic) / a->tics_per_step;
  step = a->loop ? step % a->length : std::min(step, a->length - 1);
  return a->sequence[step];
}

void animation_upload(Animation *a, const uint8_t *chain) {
  if (!tex.gl_ready || !a || !chain) return;
  glBindTexture(GL_TEXTURE_2D, a->tid);
  GLenum format = a->channels == 4 ? GL_RGBA : GL_RGB;
  int levels = chain_level_count(a->width, a->height);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  for (int level = 0; level < levels; level++) {
    int lw, lh;
    size_t offset = chain_level_offset(a->width, a->height, a->channels, level, &lw, &lh);
    glTexSubImage2D(GL_TEXTURE_2D, level, 0, 0, lw, lh, format, GL_UNSIGNED_BYTE, chain + offset);
  }
}

void texture_animate(int tic) {
  for (int i = 0; i < tex.animation_count; i++) {
    Animation &a = tex.animations[i];
    if (a.paused) continue;
    int frame = animation_frame_at(&a, tic);
    if (frame == a.frame_shown) continue;
    animation_upload(&a, a.frames[frame].pixels);
    a.frame_shown = frame;
  }
}

Animation *animation_find(unsigned tid) {
  for (int i = 0; i < tex.animation_count; i++)
    if (tex.animations[i].tid == tid) return &tex.animations[i];
  return nullptr;
}

void animation_start(unsigned tid, int tic) {
  if (Animation *a = animation_find(tid)) {
    a->paused = 0;
    a->start_tic = tic;
  }
}

void animation_pause(unsigned tid) {
  if (Animation *a = animation_find(tid)) a->paused = 1;
}

// ---- Skins -------------------------------------------------------------------------

namespace {

bool ends_with(const char *text, size_t n, const char *suffix) {
  size_t k = strlen(suffix);
  return n >= k && memcmp(text + n - k, suffix, k) == 0;
}

}  // namespace

int texture_choices_from(const char *const *names, const char *prefix, const char ***paths, const char ***labels) {
  int count = 1, capacity = 16;
  *paths = static_cast<const char **>(alloc_or_die(sizeof(char *) * capacity));
  *labels = static_cast<const char **>(alloc_or_die(sizeof(char *) * capacity));
  (*paths)[0] = nullptr;
  (*labels)[0] = intern_string("default");
  size_t prefix_length = strlen(prefix);
  for (const char *const *entry = names; *entry; entry++) {
    char name[1024];
    size_t n = strlen(*entry);
    if (n >= sizeof name) continue;
    memcpy(name, *entry, n + 1);
    // Stored compressed, a picture reads the same; the choice names the plain file.
    if (ends_with(name, n, ".gz")) name[n -= 3] = 0;
    size_t stem;
    if (ends_with(name, n, ".png.scram")) {
      if (ends_with(name, n, "_norm.png.scram") || ends_with(name, n, "_spec.png.scram")) continue;
      stem = n - 10;
      name[n -= 6] = 0;  // the path drops ".scram"
    } else if (ends_with(name, n, ".png")) {
      if (ends_with(name, n, "_norm.png") || ends_with(name, n, "_spec.png")) continue;
      stem = n - 4;
    } else {
      continue;
    }
    const char *slash = strrchr(name, '/');
    const char *component = slash ? slash + 1 : name;
    if (strncmp(component, prefix, prefix_length) != 0) continue;
    if (count == capacity) {
      capacity *= 2;
      *paths = static_cast<const char **>(realloc_or_die(*paths, sizeof(char *) * capacity));
      *labels = static_cast<const char **>(realloc_or_die(*labels, sizeof(char *) * capacity));
    }
    char path[1100], label[1024];
    snprintf(path, sizeof path, "@%s", name);
    size_t label_start = static_cast<size_t>(component - name) + prefix_length;
    size_t label_length = stem > label_start ? stem - label_start : 0;
    memcpy(label, name + label_start, label_length);
    label[label_length] = 0;
    (*paths)[count] = intern_string(path);
    (*labels)[count] = intern_string(label);
    count++;
  }
  return count;
}

int texture_choices(const char *prefix, const char ***paths, const char ***labels) {
  return texture_choices_from(file_list(), prefix, paths, labels);
}
