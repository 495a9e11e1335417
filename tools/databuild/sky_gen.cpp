// Skies and light: a track's five sky faces and environment map, rendered
// from an analytic daylight sky (the Perez luminance distribution with the
// turbidity fit of Preetham, Shirley and Smits) with the sun where the
// track's "lighting" puts it, fair-weather clouds on a layer overhead and a
// line of hazy hills and trees round the horizon; the "lighting" file; and
// the lens-flare pictures shared by every track.
//
// The sky box: north is -z, east +x, south +z, west -x. A side face shows
// the view toward its direction, up at the top of the picture, with the
// next face clockwise (east after north) on its right. The up face has
// north at its top and east on its right, as the map has. The game draws
// the faces with texture coordinates 1/128 .. 127/128, so a picture's edges
// lie that far beyond the cube's edges and the faces meet without seams.
//
// The environment map: straight up at the centre, the horizon on the circle
// of radius 0.25 (in texture units) and straight down at 0.5, as the
// reflection pass of the models looks it up.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "databuild.h"
#include "image_gen.h"

namespace databuild {

namespace {

constexpr float pi = 3.14159265358979f;
constexpr int face_size = 512, env_size = 256;
constexpr float degree = pi / 180.0f;
constexpr float sun_radius = 0.75f * degree;

float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vec3 normalised(Vec3 v) {
  float l = std::sqrt(dot(v, v));
  return {v.x / l, v.y / l, v.z / l};
}

struct Sky {
  Vec3 sun;
  float perez[3][5];  // luminance Y and chromaticities x, y: coefficients A..E
  float zenith[3];
  float at_zenith[3];  // each Perez function at the zenith, to normalise by
  float exposure;
  float cover;
  uint32_t seed;
};

float perez(const float c[5], float cos_theta, float gamma) {
  float cos_gamma = std::cos(gamma);
  return (1.0f + c[0] * std::exp(c[1] / cos_theta)) * (1.0f + c[2] * std::exp(c[3] * gamma) + c[4] * cos_gamma * cos_gamma);
}

Sky make_sky(const TrackDesign *design, Vec3 sun) {
  Sky s{};
  s.sun = sun;
  s.cover = design->cloud_cover;
  s.seed = design->seed ^ 0x536b79u;
  // Haze grows a little with the clouds.
  float T = 2.4f + 1.2f * design->cloud_cover;
  const float coefficients[3][5] = {
      {0.1787f * T - 1.4630f, -0.3554f * T + 0.4275f, -0.0227f * T + 5.3251f, 0.1206f * T - 2.5771f,
       -0.0670f * T + 0.3703f},
      {-0.0193f * T - 0.2592f, -0.0665f * T + 0.0008f, -0.0004f * T + 0.2125f, -0.0641f * T - 0.8989f,
       -0.0033f * T + 0.0452f},
      {-0.0167f * T - 0.2608f, -0.0950f * T + 0.0092f, -0.0079f * T + 0.2102f, -0.0441f * T - 1.6537f,
       -0.0109f * T + 0.0529f}};
  memcpy(s.perez, coefficients, sizeof coefficients);
  float ts = std::acos(std::clamp(sun.y, -1.0f, 1.0f)), t2 = ts * ts, t3 = t2 * ts;
  float chi = (4.0f / 9.0f - T / 120.0f) * (pi - 2.0f * ts);
  s.zenith[0] = (4.0453f * T - 4.9710f) * std::tan(chi) - 0.2155f * T + 2.4192f;
  s.zenith[1] = T * T * (0.00166f * t3 - 0.00375f * t2 + 0.00209f * ts) +
                T * (-0.02903f * t3 + 0.06377f * t2 - 0.03202f * ts + 0.00394f) +
                (0.11693f * t3 - 0.21196f * t2 + 0.06052f * ts + 0.25886f);
  s.zenith[2] = T * T * (0.00275f * t3 - 0.00610f * t2 + 0.00317f * ts) +
                T * (-0.04214f * t3 + 0.08970f * t2 - 0.04153f * ts + 0.00516f) +
                (0.15346f * t3 - 0.26756f * t2 + 0.06670f * ts + 0.26688f);
  for (int k = 0; k < 3; k++) s.at_zenith[k] = perez(s.perez[k], 1.0f, ts);
  // A fixed exposure for the zenith's brightness keeps every track's sky
  // the same deep blue overhead whatever the sun's height.
  s.exposure = 0.42f / s.zenith[0];
  return s;
}

float srgb(float linear) {
  linear = std::clamp(linear, 0.0f, 1.0f);
  return linear <= 0.0031308f ? 12.92f * linear : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
}

// The clear sky without clouds or sun disc, as display colour.
Rgba clear_sky(const Sky &s, Vec3 d) {
  float cos_theta = std::max(d.y, 0.03f);
  float gamma = std::acos(std::clamp(dot(d, s.sun), -1.0f, 1.0f));
  float v[3];
  for (int k = 0; k < 3; k++) v[k] = s.zenith[k] * perez(s.perez[k], cos_theta, gamma) / s.at_zenith[k];
  float Y = v[0], x = v[1], y = v[2];
  float X = x / y * Y, Z = (1.0f - x - y) / y * Y;
  float r = 3.2406f * X - 1.5372f * Y - 0.4986f * Z;
  float g = -0.9689f * X + 1.8758f * Y + 0.0415f * Z;
  float b = 0.0557f * X - 0.2040f * Y + 1.0570f * Z;
  auto tone = [&](float c) { return srgb(1.0f - std::exp(-std::max(c, 0.0f) * s.exposure)); };
  return {tone(r), tone(g), tone(b), 1.0f};
}

// Fair-weather clouds on a flat layer: density from noise, lit from the
// side that faces the sun.
Rgba with_clouds(const Sky &s, Vec3 d, Rgba sky) {
  if (d.y <= 0.0f || s.cover <= 0.0f) return sky;
  float t = 1.0f / (d.y + 0.06f);
  float px = d.x * t * 1.6f, pz = d.z * t * 1.6f;
  float threshold = 0.64f - 0.22f * s.cover;
  float n = fractal_noise(px, pz, 6, s.seed);
  float density = smoothstep((n - threshold) / 0.11f);
  if (density <= 0.0f) return sky;
  float sx = s.sun.x, sz = s.sun.z, sl = length2d(sx, sz);
  if (sl > 1e-4f) sx /= sl, sz /= sl;
  float toward = fractal_noise(px + sx * 0.12f, pz + sz * 0.12f, 6, s.seed);
  float lit = std::clamp(0.75f - (toward - n) * 7.0f, 0.25f, 1.0f);
  float gamma = std::acos(std::clamp(dot(d, s.sun), -1.0f, 1.0f));
  // Leave the sun itself clear, so the flare is seen on a fine day.
  density *= smoothstep((gamma - 4.0f * degree) / (10.0f * degree));
  Rgba shadowed = {0.60f, 0.64f, 0.71f, 1.0f}, bright = {1.0f, 0.99f, 0.96f, 1.0f};
  Rgba cloud = mix(shadowed, bright, lit);
  // Thin cloud near the sun glows at its edges.
  float rim = (1.0f - density) * std::exp(-gamma / (18.0f * degree));
  cloud = mix(cloud, Rgba{1, 1, 1, 1}, std::clamp(rim * 1.5f, 0.0f, 1.0f));
  // Far clouds sink into the haze.
  float far = 1.0f - smoothstep(d.y / 0.35f);
  cloud = mix(cloud, sky, 0.55f * far);
  return mix(sky, cloud, density * smoothstep(d.y / 0.07f));
}

Rgba add_sun(const Sky &s, Vec3 d, Rgba c) {
  float gamma = std::acos(std::clamp(dot(d, s.sun), -1.0f, 1.0f));
  float glow = 0.55f * std::exp(-gamma / (1.6f * degree)) + 0.22f * std::exp(-gamma / (12.0f * degree));
  Rgba out = {std::min(1.0f, c.r + glow), std::min(1.0f, c.g + glow * 0.96f), std::min(1.0f, c.b + glow * 0.86f),
              1.0f};
  float disc = std::clamp((sun_radius - gamma) / (0.25f * degree) + 0.5f, 0.0f, 1.0f);
  return mix(out, Rgba{1, 1, 1, 1}, disc);
}

// The height of the distant hills and of the nearer tree line, radians
// above the horizon, as a smooth function of the heading round the circle.
void horizon(const Sky &s, float heading, float *hills, float *trees) {
  float cx = std::cos(heading), cz = std::sin(heading);
  float h = fractal_noise(cx * 2.2f + 7.0f, cz * 2.2f + 7.0f, 4, s.seed + 11u);
  *hills = (1.2f + 5.0f * smoothstep((h - 0.3f) / 0.45f)) * degree;
  float t = fractal_noise(cx * 14.0f + 3.0f, cz * 14.0f + 3.0f, 3, s.seed + 23u);
  float crowns = value_noise(cx * 90.0f + 50.0f, cz * 90.0f + 50.0f, s.seed + 31u);
  *trees = (0.4f + 1.5f * t + 0.35f * crowns) * degree;
}

// The whole sky seen in direction d; below the horizon, the hazy field.
Rgba sky_colour(const Sky &s, Vec3 d) {
  float elevation = std::asin(std::clamp(d.y, -1.0f, 1.0f));
  float heading = std::atan2(d.x, -d.z);
  float hills, trees;
  horizon(s, heading, &hills, &trees);
  if (elevation > std::max(hills, trees)) return add_sun(s, d, with_clouds(s, d, clear_sky(s, d)));
  float l = length2d(d.x, d.z);
  Vec3 level = l > 1e-6f ? Vec3{d.x / l, 0.01f, d.z / l} : Vec3{0, 1, 0};
  Rgba haze = clear_sky(s, normalised(level));
  // Hills and trees lit on the side that faces the sun.
  float facing = l > 1e-6f ? 0.5f + 0.5f * (d.x * s.sun.x + d.z * s.sun.z) / (l * std::max(length2d(s.sun.x, s.sun.z), 1e-4f)) : 0.5f;
  Rgba c;
  if (elevation < 0.0f) {
    Rgba field = mix(rgb_hex(0x4f5a32), rgb_hex(0x6b6a3e), 0.5f * facing);
    c = mix(field, haze, 0.55f * (1.0f - smoothstep(-elevation / (6.0f * degree))) + 0.25f);
  } else if (elevation < trees) {
    c = mix(mix(rgb_hex(0x22321f), rgb_hex(0x3a4a2a), facing), haze, 0.42f);
  } else {
    c = mix(mix(rgb_hex(0x45563f), rgb_hex(0x6a7454), facing), haze, 0.68f);
  }
  return add_sun(s, d, c);
}

// A side face's or the up face's direction for a pixel centre.
Vec3 face_direction(int face, int i, int j) {
  auto coordinate = [](int k) {
    float t = (static_cast<float>(k) + 0.5f) / static_cast<float>(face_size);
    return ((t - 1.0f / 128.0f) / (126.0f / 128.0f)) * 2.0f - 1.0f;
  };
  float a = coordinate(i), b = coordinate(j);
  switch (face) {
    case 0: return normalised({a, -b, -1.0f});   // north
    case 1: return normalised({1.0f, -b, a});    // east
    case 2: return normalised({-a, -b, 1.0f});   // south
    case 3: return normalised({-1.0f, -b, -a});  // west
    default: return normalised({a, 1.0f, b});    // up
  }
}

Vec3 env_direction(int i, int j) {
  float s = (static_cast<float>(i) + 0.5f) / env_size - 0.5f, t = (static_cast<float>(j) + 0.5f) / env_size - 0.5f;
  float r = length2d(s, t);
  if (r < 1e-6f) return {0, 1, 0};
  float theta = std::min(r * 2.0f * pi, pi);
  return {std::sin(theta) * s / r, std::cos(theta), std::sin(theta) * t / r};
}

Vec3 sun_direction(const TrackDesign *design) {
  float az = design->sun_azimuth * degree, el = design->sun_elevation * degree;
  return normalised({std::cos(el) * std::sin(az), std::sin(el), -std::cos(el) * std::cos(az)});
}

// ---- Lens flares ----

struct FlareElement {
  float a, b;
  float colour[3];
  float size;
  const char *texture;
};

const char *const flare_glow = "@flares/glow.png", *const flare_ring = "@flares/ring.png",
                  *const flare_disc = "@flares/disc.png", *const flare_star = "@flares/star.png";

// On the sun (b = 1), then ghosts along the line through the middle of the
// view, mirrored beyond it (b < 0).
const FlareElement flare_elements[] = {
    {0.0f, 1.0f, {0.9f, 0.85f, 0.7f}, 0.32f, flare_glow},  {0.0f, 1.0f, {0.8f, 0.8f, 0.75f}, 0.14f, flare_star},
    {0.0f, 0.55f, {0.22f, 0.3f, 0.2f}, 0.035f, flare_disc}, {0.0f, 0.2f, {0.18f, 0.15f, 0.3f}, 0.02f, flare_disc},
    {0.0f, -0.25f, {0.2f, 0.28f, 0.25f}, 0.07f, flare_ring}, {0.0f, -0.5f, {0.3f, 0.2f, 0.12f}, 0.045f, flare_disc},
    {0.0f, -0.85f, {0.15f, 0.22f, 0.35f}, 0.12f, flare_ring}, {0.0f, -1.1f, {0.25f, 0.18f, 0.1f}, 0.03f, flare_disc},
};
static_assert(sizeof flare_elements / sizeof flare_elements[0] <= 8, "a flare holds eight elements");

}  // namespace

TrackLight track_light(const TrackDesign *design) {
  TrackLight light{};
  Vec3 sun = sun_direction(design);
  light.sun[0] = sun.x, light.sun[1] = sun.y, light.sun[2] = sun.z;
  // A low sun is warmer and the shade bluer.
  float warm = 1.0f - smoothstep((design->sun_elevation - 10.0f) / 40.0f);
  const float noon[3] = {0.80f, 0.77f, 0.70f}, evening[3] = {0.86f, 0.68f, 0.50f};
  const float shade[3] = {0.40f, 0.43f, 0.48f};
  for (int c = 0; c < 3; c++) {
    light.sun_color[c] = noon[c] + (evening[c] - noon[c]) * warm;
    light.ambient[c] = shade[c];
  }
  // Fog is the haze at the horizon, averaged all round.
  Sky s = make_sky(design, sun);
  float sum[3] = {0, 0, 0};
  constexpr int headings = 32;
  for (int k = 0; k < headings; k++) {
    float h = 2.0f * pi * static_cast<float>(k) / headings;
    Rgba c = clear_sky(s, normalised({std::sin(h), 0.03f, -std::cos(h)}));
    sum[0] += c.r, sum[1] += c.g, sum[2] += c.b;
  }
  for (int c = 0; c < 3; c++) light.fog_color[c] = sum[c] / headings;
  light.fog_density = 0.0006f;
  return light;
}

void write_sky_files(const Track *track, const TrackLight *light, Archive *archive) {
  const TrackDesign *design = track->design;
  std::string dir = design->dir;
  Sky s = make_sky(design, {light->sun[0], light->sun[1], light->sun[2]});
  static const char *const face_names[5] = {"sky-n", "sky-e", "sky-s", "sky-w", "sky-u"};
  for (int f = 0; f < 5; f++) {
    Canvas c = canvas_make(face_size, face_size, {0, 0, 0, 1});
    for (int j = 0; j < face_size; j++)
      for (int i = 0; i < face_size; i++) canvas_at(&c, i, j) = sky_colour(s, face_direction(f, i, j));
    archive_add_png(archive, dir + "/" + face_names[f] + ".png", c, 3);
  }
  Canvas env = canvas_make(env_size, env_size, {0, 0, 0, 1});
  for (int j = 0; j < env_size; j++)
    for (int i = 0; i < env_size; i++) {
      Vec3 d = env_direction(i, j);
      // The ground below reflects darker than the sky.
      Rgba c = sky_colour(s, d);
      if (d.y < 0.0f) c = mix(c, rgb_hex(0x3b3a26), smoothstep(-d.y / 0.3f) * 0.7f);
      canvas_at(&env, i, j) = c;
    }
  archive_add_png(archive, dir + "/sky-env.png", env, 3);

  Bytes out;
  bytes_printf(&out, "sun_vector [%g %g %g]\n", light->sun[0], light->sun[1], light->sun[2]);
  bytes_printf(&out, "sun_color [%g %g %g]\n", light->sun_color[0], light->sun_color[1], light->sun_color[2]);
  bytes_printf(&out, "ambient [%g %g %g]\n", light->ambient[0], light->ambient[1], light->ambient[2]);
  bytes_printf(&out, "global_ambient [0.2 0.2 0.2]\n");
  for (int f = 0; f < 5; f++) bytes_printf(&out, "sky_%c @%s/%s.png\n", "neswu"[f], dir.c_str(), face_names[f]);
  bytes_printf(&out, "sky_env @%s/sky-env.png\n", dir.c_str());
  bytes_printf(&out, "fog [%g %g %g] %g\n", light->fog_color[0], light->fog_color[1], light->fog_color[2],
               light->fog_density);
  bytes_printf(&out, "near_plane 0.25\nfar_plane 5000\n");
  for (const FlareElement &e : flare_elements)
    bytes_printf(&out, "flare_element [%g %g] [%g %g %g] %g %s\n", e.a, e.b, e.colour[0], e.colour[1], e.colour[2],
                 e.size, e.texture);
  bytes_printf(&out, "flare_vector [%g %g %g]\n", light->sun[0], light->sun[1], light->sun[2]);
  archive_add(archive, dir + "/lighting", std::move(out));
}

void write_flare_files(Archive *archive) {
  // White with alpha: the flare's colour tints them as they are added.
  constexpr int size = 128;
  auto radial = [&](const char *name, auto intensity) {
    Canvas c = canvas_make(size, size, {1, 1, 1, 0});
    for (int j = 0; j < size; j++)
      for (int i = 0; i < size; i++) {
        float dx = (static_cast<float>(i) + 0.5f) / size * 2.0f - 1.0f, dy = (static_cast<float>(j) + 0.5f) / size * 2.0f - 1.0f;
        canvas_at(&c, i, j).a = std::clamp(intensity(length2d(dx, dy), std::atan2(dy, dx)), 0.0f, 1.0f);
      }
    archive_add_png(archive, name + 1, c, 4);
  };
  radial(flare_glow, [](float r, float) { return r < 1.0f ? std::pow(1.0f - r, 2.2f) : 0.0f; });
  radial(flare_ring, [](float r, float) {
    float band = std::exp(-std::pow((r - 0.8f) / 0.07f, 2.0f));
    return r < 1.0f ? band * 0.9f + 0.08f * (1.0f - r) : 0.0f;
  });
  radial(flare_disc, [](float r, float a) {
    // A soft hexagon, as an aperture's blades make.
    float hex = r * std::cos(std::remainder(a, pi / 3.0f)) / std::cos(pi / 6.0f);
    return (0.55f + 0.35f * hex) * smoothstep((0.92f - hex) / 0.06f);
  });
  radial(flare_star, [](float r, float a) {
    float rays = std::pow(std::fabs(std::cos(3.0f * a)), 14.0f) + 0.6f * std::pow(std::fabs(std::cos(3.0f * a + pi / 6.0f)), 20.0f);
    return r < 1.0f ? rays * std::pow(1.0f - r, 1.2f) + 0.5f * std::exp(-r / 0.1f) : 0.0f;
  });
}

}  // namespace databuild
