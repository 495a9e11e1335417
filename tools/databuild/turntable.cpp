// The turntable: the builder's own small software rasteriser draws a bike
// assembled from its bodies at rest with the rider posed on it as the game
// poses him, from eight sides, into one picture for people to look at. It
// culls back faces as the game does, tests depth, maps the skins, lights
// with the tracks' sun and adds the reflection layers over a simple sky.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/catalogue.h"
#include "databuild.h"

namespace databuild {

namespace {

struct Canvas {
  int width, height;
  std::vector<float> rgb, depth;
};

struct Camera {
  Vec3 eye, right, up, back;
  float focal;
};

// A mesh ready to draw: world positions and normals.
struct DrawMesh {
  const Mesh *mesh;
  std::vector<Vec3> p, n;
  const Image *texture;
};

struct Projected {
  float x, y, inv_z;
  Vec3 world, normal;
  float u, t;
};

Vec3 sky(Vec3 d) {
  // Blue above, bright haze at the horizon, brown ground below.
  if (d.y >= 0) {
    float f = std::pow(1 - d.y, 3.0f);
    return {0.35f + 0.6f * f, 0.55f + 0.4f * f, 0.9f + 0.08f * f};
  }
  return {0.42f, 0.33f, 0.24f};
}

bool project(const Camera &cam, Vec3 w, float *x, float *y, float *z) {
  Vec3 d = v_sub(w, cam.eye);
  float cz = -v_dot(d, cam.back);
  if (cz < 0.3f) return false;
  *x = cam.focal * v_dot(d, cam.right) / cz;
  *y = -cam.focal * v_dot(d, cam.up) / cz;
  *z = cz;
  return true;
}

void draw(Canvas *cv, const Camera &cam, const DrawMesh &dm) {
  const Mesh &m = *dm.mesh;
  const bool reflect = m.material == -1;
  // The turntable stands in the first track's afternoon light.
  const TrackLight light = track_light(track_design(0));
  const float *sun_color = light.sun_color, *ambient_color = light.ambient;
  const Vec3 sun = v_unit({light.sun[0], light.sun[1], light.sun[2]});
  for (size_t i = 0; i + 2 < m.tris.size(); i += 3) {
    Projected v[3];
    bool visible = true;
    for (int k = 0; k < 3; k++) {
      int ix = m.tris[i + static_cast<size_t>(k)];
      float x, y, z;
      if (!project(cam, dm.p[static_cast<size_t>(ix)], &x, &y, &z)) {
        visible = false;
        break;
      }
      v[k] = {x + 0.5f * static_cast<float>(cv->width), y + 0.5f * static_cast<float>(cv->height), 1.0f / z,
              dm.p[static_cast<size_t>(ix)], dm.n[static_cast<size_t>(ix)], m.verts[static_cast<size_t>(ix)].uv[0],
              m.verts[static_cast<size_t>(ix)].uv[1]};
    }
    if (!visible) continue;
    float area = (v[1].x - v[0].x) * (v[2].y - v[0].y) - (v[2].x - v[0].x) * (v[1].y - v[0].y);
    if (area >= 0) continue;  // counter-clockwise in the world is clockwise with y down: the back
    int x0 = std::max(0, static_cast<int>(std::floor(std::min({v[0].x, v[1].x, v[2].x}))));
    int x1 = std::min(cv->width - 1, static_cast<int>(std::ceil(std::max({v[0].x, v[1].x, v[2].x}))));
    int y0 = std::max(0, static_cast<int>(std::floor(std::min({v[0].y, v[1].y, v[2].y}))));
    int y1 = std::min(cv->height - 1, static_cast<int>(std::ceil(std::max({v[0].y, v[1].y, v[2].y}))));
    for (int py = y0; py <= y1; py++)
      for (int px = x0; px <= x1; px++) {
        float sx = static_cast<float>(px) + 0.5f, sy = static_cast<float>(py) + 0.5f;
        float b0 = ((v[1].x - sx) * (v[2].y - sy) - (v[2].x - sx) * (v[1].y - sy)) / area;
        float b1 = ((v[2].x - sx) * (v[0].y - sy) - (v[0].x - sx) * (v[2].y - sy)) / area;
        float b2 = 1 - b0 - b1;
        if (b0 < 0 || b1 < 0 || b2 < 0) continue;
        float iz = b0 * v[0].inv_z + b1 * v[1].inv_z + b2 * v[2].inv_z;
        size_t at = static_cast<size_t>(py) * static_cast<size_t>(cv->width) + static_cast<size_t>(px);
        float depth = 1.0f / iz;
        if (reflect ? depth > cv->depth[at] + 0.01f : depth >= cv->depth[at]) continue;
        // Perspective-correct interpolation.
        float w0 = b0 * v[0].inv_z / iz, w1 = b1 * v[1].inv_z / iz, w2 = b2 * v[2].inv_z / iz;
        Vec3 n = v_unit(v_add(v_add(v_scale(v[0].normal, w0), v_scale(v[1].normal, w1)), v_scale(v[2].normal, w2)));
        Vec3 p = v_add(v_add(v_scale(v[0].world, w0), v_scale(v[1].world, w1)), v_scale(v[2].world, w2));
        Vec3 view = v_unit(v_sub(p, cam.eye));
        Vec3 r = v_sub(view, v_scale(n, 2 * v_dot(view, n)));
        float *out = &cv->rgb[at * 3];
        if (reflect) {
          Vec3 e = sky(r);
          out[0] += m.q * m.rgb[0] * e.x;
          out[1] += m.q * m.rgb[1] * e.y;
          out[2] += m.q * m.rgb[2] * e.z;
          continue;
        }
        float u = w0 * v[0].u + w1 * v[1].u + w2 * v[2].u, t = w0 * v[0].t + w1 * v[1].t + w2 * v[2].t;
        Colour c = dm.texture ? image_sample(*dm.texture, u, t) : Colour{m.rgb[0], m.rgb[1], m.rgb[2], 1};
        float diffuse = std::max(0.0f, v_dot(n, sun));
        float specular = m.material > 0 ? 0.25f * std::pow(std::max(0.0f, v_dot(r, sun)), std::max(m.material, 1.0f)) : 0.0f;
        out[0] = c.r * (ambient_color[0] + sun_color[0] * diffuse) + specular;
        out[1] = c.g * (ambient_color[1] + sun_color[1] * diffuse) + specular;
        out[2] = c.b * (ambient_color[2] + sun_color[2] * diffuse) + specular;
        cv->depth[at] = depth;
      }
  }
}

DrawMesh placed(const Mesh &m, Vec3 origin, const Image *texture) {
  DrawMesh d{&m, {}, {}, texture};
  for (const MeshVertex &v : m.verts) {
    d.p.push_back(v_add(origin, {v.p[0], v.p[1], v.p[2]}));
    d.n.push_back({v.n[0], v.n[1], v.n[2]});
  }
  return d;
}

// The plate texture the game composes: the number centred on the
// background colour of the bike's picture text.
Image plate_picture(const std::string &info, const char *number) {
  float bg[3] = {1, 1, 1}, fg[3] = {1, 1, 1};
  const char *b = strstr(info.c_str(), "[numberbackground:"), *f = strstr(info.c_str(), "[numberforeground:");
  if (b) sscanf(b + 18, "%f,%f,%f", &bg[0], &bg[1], &bg[2]);
  if (f) sscanf(f + 18, "%f,%f,%f", &fg[0], &fg[1], &fg[2]);
  Image img = image_new(128, 64, {bg[0], bg[1], bg[2], 1});
  paint_digits(&img, number, 14, 8, 114, 56, {fg[0], fg[1], fg[2], 1});
  return img;
}

// One view of the scene, rendered at twice the size and filtered down.
void render_view(const std::vector<DrawMesh> &scene, Vec3 centre, float yaw, float pitch, float dist, float fov_half,
                 int view_w, int view_h, Image *sheet, int ox, int oy) {
  constexpr int scale = 2;
  Canvas cv{view_w * scale, view_h * scale, {}, {}};
  cv.rgb.assign(static_cast<size_t>(cv.width) * static_cast<size_t>(cv.height) * 3, 0.0f);
  cv.depth.assign(static_cast<size_t>(cv.width) * static_cast<size_t>(cv.height), 1e30f);
  Camera cam;
  cam.back = {std::cos(pitch) * std::cos(yaw), std::sin(pitch), std::cos(pitch) * std::sin(yaw)};
  cam.eye = v_add(centre, v_scale(cam.back, dist));
  cam.right = v_unit(v_cross({0, 1, 0}, cam.back));
  cam.up = v_cross(cam.back, cam.right);
  cam.focal = 0.5f * static_cast<float>(cv.width) / std::tan(fov_half);
  // Sky, then the ground with a soft shadow under the bike.
  for (int y = 0; y < cv.height; y++)
    for (int x = 0; x < cv.width; x++) {
      Vec3 d = v_unit(v_add(v_scale(cam.back, -cam.focal),
                            v_add(v_scale(cam.right, static_cast<float>(x) - 0.5f * static_cast<float>(cv.width)),
                                  v_scale(cam.up, 0.5f * static_cast<float>(cv.height) - static_cast<float>(y)))));
      Vec3 c = sky(d);
      if (d.y < 0) {
        Vec3 g = v_add(cam.eye, v_scale(d, -cam.eye.y / d.y));
        bool check = (static_cast<int>(std::floor(g.x / 2)) + static_cast<int>(std::floor(g.z / 2))) & 1;
        float dz = std::clamp(g.z, 1.2f, 6.0f) - g.z, shadow = 1 - 0.45f * std::exp(-(g.x * g.x + dz * dz) * 2.5f);
        float k = (check ? 0.9f : 1.0f) * shadow;
        c = {0.55f * k, 0.62f * k, 0.4f * k};
      }
      float *out = &cv.rgb[(static_cast<size_t>(y) * static_cast<size_t>(cv.width) + static_cast<size_t>(x)) * 3];
      out[0] = c.x, out[1] = c.y, out[2] = c.z;
    }
  for (const DrawMesh &d : scene) draw(&cv, cam, d);
  for (int y = 0; y < view_h; y++)
    for (int x = 0; x < view_w; x++) {
      float sum[3] = {};
      for (int k = 0; k < scale * scale; k++) {
        size_t at = (static_cast<size_t>(y * scale + k / scale) * static_cast<size_t>(cv.width) +
                     static_cast<size_t>(x * scale + k % scale)) * 3;
        for (int c = 0; c < 3; c++) sum[c] += cv.rgb[at + static_cast<size_t>(c)];
      }
      paint_pixel(sheet, ox + x, oy + y, {sum[0] / (scale * scale), sum[1] / (scale * scale), sum[2] / (scale * scale), 1}, 1);
    }
}

}  // namespace

int write_turntable(const SkinSet &skins, const char *path) {
  // A modern four-stroke in its stock colours.
  BikeLook look = bike_looks().front();
  for (const BikeLook &l : bike_looks())
    if (l.four_stroke && l.era == 2) {
      look = l;
      break;
    }
  const char *makers[] = {"cr", "kx", "rm", "yz", "sx", "fc"};
  std::string bike_skin = std::string("bikeskins/") + makers[look.maker] + "-stock" + std::to_string(look.era) + ".png";
  const Image *bike_tex = skin_image(skins, bike_skin), *wheel_tex = skin_image(skins, "wheels-stock.png");
  const Image *gear_tex = skin_image(skins, "rider_body-stock.png"), *helmet_tex = skin_image(skins, "rider_head-stock.png");
  std::string info;
  for (size_t i = 0; i < skins.names.size(); i++)
    if (skins.names[i] == bike_skin) info = skins.infos[i];
  if (!bike_tex || !wheel_tex || !gear_tex || !helmet_tex) {
    fprintf(stderr, "Turntable: a skin is missing\n");
    return 0;
  }
  Image plate = plate_picture(info, "27");
  const BikeInfo &b = *bike_info(0);
  Model frame = frame_model(look, 0), upper = fork_upper_model(0), lower = fork_lower_model(0), arm = swingarm_model(0);
  Model front = wheel_model(1, 0), rear = wheel_model(0, 0), body = rider_body_model(0, 0), head = rider_head_model(0);
  Model side = side_plates_model(), front_plate = front_plate_model(), back_plate = rider_plate_model();
  std::vector<DrawMesh> scene;
  auto add_model = [&](const Model &model, const float origin[3], const Image *tex) {
    for (const Mesh &m : model.meshes) scene.push_back(placed(m, v_from(origin), tex));
  };
  add_model(frame, b.frame_position, bike_tex);
  add_model(upper, b.steering_head, bike_tex);
  add_model(lower, b.fork_lower_position, bike_tex);
  add_model(arm, b.swingarm_position, bike_tex);
  add_model(front, b.front_axle, wheel_tex);
  add_model(rear, b.rear_axle, wheel_tex);
  add_model(side, b.frame_position, &plate);
  add_model(front_plate, b.steering_head, &plate);
  add_model(back_plate, b.rider_position, &plate);
  RiderPose pose = rider_pose_at_rest();
  for (const Mesh &m : body.meshes) {
    DrawMesh d{&m, {}, {}, gear_tex};
    for (const MeshVertex &v : m.verts) {
      Vec3 p, n;
      pose_vertex(pose, v, &p, &n);
      d.p.push_back(p);
      d.n.push_back(n);
    }
    scene.push_back(d);
  }
  for (const Mesh &m : head.meshes) {
    DrawMesh d{&m, {}, {}, helmet_tex};
    for (const MeshVertex &v : m.verts) {
      auto turn = [&](float x, float y, float z) {
        return v_add(v_add(v_scale(pose.head_x, x), v_scale(pose.head_y, y)), v_scale(pose.head_z, z));
      };
      d.p.push_back(v_add(pose.head_pivot, turn(v.p[0], v.p[1], v.p[2])));
      d.n.push_back(turn(v.n[0], v.n[1], v.n[2]));
    }
    scene.push_back(d);
  }
  // Reflection layers after everything else, as the game draws them.
  std::stable_partition(scene.begin(), scene.end(), [](const DrawMesh &d) { return d.mesh->material != -1; });

  // Eight sides, then two close views (the right side and the front
  // three-quarters) in a second picture.
  constexpr int view_w = 400, view_h = 300, columns = 4, rows = 2;
  Image sheet = image_new(view_w * columns, view_h * rows, {0, 0, 0, 1});
  for (int view = 0; view < columns * rows; view++)
    render_view(scene, {0, 2.6f, 3.6f}, 0.7853982f * static_cast<float>(view) + 1.5707963f, 0.2f, 14.0f, 0.42f, view_w, view_h, &sheet,
                (view % columns) * view_w, (view / columns) * view_h);
  // Close views: the right side, the front three-quarters, and the rider
  // from his left and from ahead.
  Image close = image_new(1600, 1600, {0, 0, 0, 1});
  render_view(scene, {0, 2.6f, 3.6f}, 0.0f, 0.12f, 11.0f, 0.42f, 800, 800, &close, 0, 0);
  render_view(scene, {0, 2.6f, 3.6f}, -2.2f, 0.25f, 9.0f, 0.42f, 800, 800, &close, 800, 0);
  render_view(scene, {0, 4.6f, 3.6f}, 3.14159265f, 0.1f, 5.5f, 0.42f, 800, 800, &close, 0, 800);
  render_view(scene, {0, 4.0f, 3.0f}, -1.5707963f, 0.15f, 7.0f, 0.42f, 800, 800, &close, 800, 800);
  Bytes close_png;
  std::string close_path = std::string(path);
  size_t dot = close_path.rfind('.');
  close_path = close_path.substr(0, dot) + "_close.png";
  if (!encode_png(close, nullptr, &close_png) || !write_file_atomic(close_path.c_str(), close_png)) return 0;
  Bytes png;
  if (!encode_png(sheet, nullptr, &png)) return 0;
  return write_file_atomic(path, png);
}

}  // namespace databuild
