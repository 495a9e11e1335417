#include "render/bike_draw.h"

#include <GL/gl.h>
#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "assets/image.h"
#include "assets/model.h"
#include "assets/texture.h"
#include "bike/assembly.h"
#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/pose.h"
#include "render/gl_caps.h"
#include "track/terrain.h"
#include "track/track.h"
#include "ui/text.h"

namespace {

// Which body carries which model and skin.
struct BodyPart {
  int model;
  int body;
  int texture;
};
const BodyPart body_parts[] = {
    {model_frame, bike_frame, texture_bike},           {model_fork_upper, bike_fork_upper, texture_bike},
    {model_fork_lower, bike_fork_lower, texture_bike}, {model_swingarm, bike_swingarm, texture_bike},
    {model_front_wheel, bike_front_wheel, texture_wheels}, {model_rear_wheel, bike_rear_wheel, texture_wheels},
    {model_side_plates, bike_frame, texture_number_plate}, {model_front_plate, bike_fork_upper, texture_number_plate},
};

const char *catalogue_model(const BikeInfo *info, int model) {
  switch (model) {
    case model_frame: return info->frame_model;
    case model_fork_upper: return info->fork_upper_model;
    case model_fork_lower: return info->fork_lower_model;
    case model_swingarm: return info->swingarm_model;
    case model_front_wheel: return info->front_wheel_model;
    case model_rear_wheel: return info->rear_wheel_model;
    case model_rider_head: return info->rider_head_model;
    case model_rider_body: return info->rider_body_model;
    case model_rider_first_person: return info->rider_first_person_model;
    case model_side_plates: return info->side_plates_model;
    case model_front_plate: return info->front_plate_model;
    case model_rider_plate: return info->rider_plate_model;
  }
  return nullptr;
}

const char *catalogue_texture(const BikeInfo *info, int texture) {
  switch (texture) {
    case texture_bike: return info->bike_texture;
    case texture_wheels: return info->wheels_texture;
    case texture_rider_head: return info->head_texture;
    case texture_rider_body: return info->rider_body_texture;
  }
  return nullptr;
}

// A body's place as a GL matrix (column-major) and as a row-major rotation.
void body_matrix(dBodyID body, float gl[16], float rotation[9], float position[3]) {
  const dReal *p = dBodyGetPosition(body), *R = dBodyGetRotation(body);
  for (int i = 0; i < 3; i++) {
    position[i] = static_cast<float>(p[i]);
    for (int j = 0; j < 3; j++) rotation[3 * i + j] = static_cast<float>(R[4 * i + j]);
  }
  for (int c = 0; c < 3; c++)
    for (int r = 0; r < 3; r++) gl[4 * c + r] = rotation[3 * r + c];
  gl[3] = gl[7] = gl[11] = 0;
  gl[12] = position[0];
  gl[13] = position[1];
  gl[14] = position[2];
  gl[15] = 1;
}

float terrain_height_at(const void *terrain, float x, float z) {
  return terrain_height(static_cast<const Terrain *>(terrain), x, z);
}

PackTerrain ground() {
  const Terrain *t = track_terrain();
  PackTerrain g = {};
  if (t) {
    g.extent = t->extent;
    g.min_height = t->min_height;
    g.height_at = terrain_height_at;
    g.terrain = t;
  }
  return g;
}

ModelPose pose_from_bones(const RiderBones &bones) {
  ModelPose pose = {};
  pose.count = rider_bone_count;
  for (int b = 0; b < rider_bone_count; b++) {
    const RiderBone &bone = bones.bones[b];
    memcpy(pose.centres[b], bone.centre, sizeof bone.centre);
    memcpy(pose.translations[b], bone.translation, sizeof bone.translation);
    memcpy(pose.rotations[b], bone.axes, sizeof bone.axes);  // the images of x, y, z in turn
  }
  return pose;
}

// The head's axes are the columns of its rotation.
void head_matrix(const HeadPose &hp, float m[16]) {
  for (int c = 0; c < 3; c++) {
    for (int r = 0; r < 3; r++) m[4 * c + r] = hp.axes[c][r];
    m[4 * c + 3] = 0;
    m[12 + c] = hp.pivot[c];
  }
  m[15] = 1;
}

void bind(unsigned texture) {
  glBindTexture(GL_TEXTURE_2D, texture);
}

}  // namespace

void compose_number_plate(const char *number, const uint8_t background[3], const uint8_t foreground[3],
                          uint8_t *chain) {
  const int w = number_plate_width, h = number_plate_height;
  for (int i = 0; i < w * h; i++) {
    chain[i * 4 + 0] = background[0];
    chain[i * 4 + 1] = background[1];
    chain[i * 4 + 2] = background[2];
    chain[i * 4 + 3] = 255;
  }
  char digits[max_rider_number + 1];
  int n = 0;
  for (const char *c = number ? number : ""; *c && n < max_rider_number; c++)
    if (*c >= '0' && *c <= '9') digits[n++] = *c;
  digits[n] = 0;
  // Three digits and more take the condensed figures.
  const Font *f = font(n >= 3 ? font_numbers_condensed : font_numbers);
  if (n == 0 || !f || !f->pixels) {
    build_levels(chain, w, h, 4, 0);
    return;
  }
  float advance = 0;
  for (int i = 0; i < n; i++) advance += f->advance[static_cast<unsigned char>(digits[i])];
  // The figures stand 80 % of the plate's height, narrower if they must.
  float line = std::min(0.8f * h, advance > 0 ? 0.9f * w / advance : 0.8f * h);
  float x = (w - advance * line) * 0.5f, y0 = (h - line) * 0.5f;
  for (int i = 0; i < n; i++) {
    unsigned char c = static_cast<unsigned char>(digits[i]);
    const float *r = f->rect[c];
    float gw = f->advance[c] * line;
    for (int py = static_cast<int>(y0); py < static_cast<int>(y0 + line) && py < h; py++) {
      if (py < 0) continue;
      float v = (py + 0.5f - y0) / line;
      for (int px = static_cast<int>(x); px < static_cast<int>(x + gw) && px < w; px++) {
        if (px < 0) continue;
        float u = (px + 0.5f - x) / gw;
        int sx = std::clamp(static_cast<int>((r[0] + (r[2] - r[0]) * u) * f->width), 0, f->width - 1);
        int sy = std::clamp(static_cast<int>((r[1] + (r[3] - r[1]) * v) * f->height), 0, f->height - 1);
        int a = f->pixels[(static_cast<size_t>(sy) * f->width + sx) * 4 + 3];
        uint8_t *d = chain + (static_cast<size_t>(py) * w + px) * 4;
        for (int k = 0; k < 3; k++) d[k] = static_cast<uint8_t>((d[k] * (255 - a) + foreground[k] * a) / 255);
      }
    }
    x += gw;
  }
  build_levels(chain, w, h, 4, 0);
}

void bike_graphics_load(BikeState *bike) {
  if (!bike || !texture_gl_ready()) return;
  const BikeInfo *info = bike_info(bike->model);
  BikeGraphics &g = bike->graphics;
  for (int m = 0; m < bike_model_count; m++) g.models[m] = static_cast<int32_t>(model_read(catalogue_model(info, m)));
  for (int t = 0; t < bike_texture_count; t++) {
    if (t == texture_number_plate) continue;
    unsigned tid = texture_read(g.texture_names[t]);
    if (!tid && catalogue_texture(info, t)) {
      // A skin that does not load gives way to the catalogue's own.
      g.texture_names[t] = catalogue_texture(info, t);
      tid = texture_read(g.texture_names[t]);
    }
    g.textures[t] = static_cast<int32_t>(tid);
  }
  number_plate_colours(texture_info(static_cast<unsigned>(g.textures[texture_bike])), g.number_background,
                       g.number_foreground);
  static uint8_t plate[4 * number_plate_width * number_plate_height * 2];
  compose_number_plate(g.number, g.number_background, g.number_foreground, plate);
  size_t bytes = 0;
  g.textures[texture_number_plate] = static_cast<int32_t>(
      texture_upload(plate, number_plate_width, number_plate_height, 4, 0, &bytes));
  g.number_plate_bytes = static_cast<uint32_t>(bytes);
}

namespace {

void draw_bike_parts(const BikeState *bike, float opacity, const BikeDrawView &view) {
  const BikeGraphics &g = bike->graphics;
  float diffuse[4] = {1, 1, 1, opacity};
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
  if (view.programs) use_program(program_lit);
  float gl[16], rotation[9], position[3];
  for (const BodyPart &part : body_parts) {
    unsigned model = static_cast<unsigned>(g.models[part.model]);
    if (!model || !bike->bodies[part.body]) continue;
    // The rider view's eye sits on the frame body, low over the tank: from
    // there the frame's own panels would wall in the view from the inside.
    if (view.first_person && part.body == bike_frame) continue;
    body_matrix(bike->bodies[part.body], gl, rotation, position);
    float to_model[3] = {position[0] - view.eye[0], position[1] - view.eye[1], position[2] - view.eye[2]};
    bind(static_cast<unsigned>(g.textures[part.texture]));
    glPushMatrix();
    glMultMatrixf(gl);
    model_draw(model, to_model, nullptr);
    glPopMatrix();
  }
  if (!bike->bodies[bike_rider]) return;
  // The rider: skinned in world coordinates by the nine bones.
  RiderBones bones = rider_bones(bike, ground());
  ModelPose pose = pose_from_bones(bones);
  body_matrix(bike->bodies[bike_rider], gl, rotation, position);
  float to_rider[3] = {position[0] - view.eye[0], position[1] - view.eye[1], position[2] - view.eye[2]};
  unsigned body = static_cast<unsigned>(view.first_person ? g.models[model_rider_first_person] : g.models[model_rider_body]);
  bind(static_cast<unsigned>(g.textures[texture_rider_body]));
  if (body) model_draw(body, to_rider, &pose);
  if (view.first_person) return;
  if (unsigned plate = static_cast<unsigned>(g.models[model_rider_plate])) {
    bind(static_cast<unsigned>(g.textures[texture_number_plate]));
    glPushMatrix();
    glMultMatrixf(gl);
    model_draw(plate, to_rider, nullptr);
    glPopMatrix();
  }
  if (unsigned head = static_cast<unsigned>(g.models[model_rider_head])) {
    HeadPose hp = head_pose(bike);
    float m[16];
    head_matrix(hp, m);
    bind(static_cast<unsigned>(g.textures[texture_rider_head]));
    glPushMatrix();
    glMultMatrixf(m);
    float to_head[3] = {hp.pivot[0] - view.eye[0], hp.pivot[1] - view.eye[1], hp.pivot[2] - view.eye[2]};
    model_draw(head, to_head, nullptr);
    glPopMatrix();
  }
}

void draw_bike_shine(const BikeState *bike, const BikeDrawView &view, unsigned env_texture) {
  const BikeGraphics &g = bike->graphics;
  bind(env_texture);
  if (view.programs) use_program(program_env);
  float gl[16], rotation[9], position[3];
  for (const BodyPart &part : body_parts) {
    unsigned model = static_cast<unsigned>(g.models[part.model]);
    if (!model || !bike->bodies[part.body] || !model_has_reflection(model)) continue;
    body_matrix(bike->bodies[part.body], gl, rotation, position);
    glPushMatrix();
    glMultMatrixf(gl);
    model_draw_reflection(model, view.eye, position, rotation, nullptr);
    glPopMatrix();
  }
  if (!bike->bodies[bike_rider] || view.first_person) return;
  unsigned head = static_cast<unsigned>(g.models[model_rider_head]);
  if (head && model_has_reflection(head)) {
    HeadPose hp = head_pose(bike);
    float R[9] = {hp.axes[0][0], hp.axes[1][0], hp.axes[2][0], hp.axes[0][1], hp.axes[1][1],
                  hp.axes[2][1], hp.axes[0][2], hp.axes[1][2], hp.axes[2][2]};
    float m[16];
    head_matrix(hp, m);
    glPushMatrix();
    glMultMatrixf(m);
    model_draw_reflection(head, view.eye, hp.pivot, R, nullptr);
    glPopMatrix();
  }
}

}  // namespace

void draw_bike(const BikeState *bike, float opacity, const BikeDrawView &view) {
  model_set_close_up(view.close_up);
  draw_bike_parts(bike, opacity, view);
  model_set_close_up(0);
}

void draw_bike_reflections(const BikeState *bike, const BikeDrawView &view, unsigned env_texture) {
  model_set_close_up(view.close_up);
  draw_bike_shine(bike, view, env_texture);
  model_set_close_up(0);
}
