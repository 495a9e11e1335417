// Interface pictures: the title art ("@title.png", 2:1), the tachometer
// dial ("@tach.png"), the gear cells ("@shifter.png"), the pitboard
// ("@pitboard.png"), plain white ("@colors/white.png") and the desktop icon
// ("@icon.png", 256 x 256).
//
// The HUD draws them by fixed rules: the tachometer's needle turns
// clockwise from 135 degrees left of straight up at 0 rpm by 16.875 degrees
// per 1000 rpm (16000 rpm at 135 degrees right); the gear cells are a 3 x 3
// grid read column = gear mod 3, row = gear / 3, gear index 0 being first
// gear; the pitboard shows the rows from 0.1875 to 0.875 of its height,
// with black text from about a fifth to nine tenths across.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "databuild.h"
#include "image_gen.h"

namespace databuild {

namespace {

constexpr float pi = 3.14159265358979f;

// Clockwise from straight up, radians.
float needle_angle(float rpm) { return (rpm * 0.000046875f - 0.375f) * 2.0f * pi; }

Point on_circle(float cx, float cy, float r, float angle) {
  return {cx + r * std::sin(angle), cy - r * std::cos(angle)};
}

Canvas tach_picture() {
  constexpr int size = 512;
  constexpr float c = 256.0f;
  Canvas canvas = canvas_make(size, size, {0.1f, 0.1f, 0.12f, 0.0f});
  // Bezel, then a dark face lighter toward the top.
  fill_ellipse(&canvas, c, c, 252.0f, 252.0f, rgb_hex(0x3a3c42));
  fill_ellipse(&canvas, c, c, 244.0f, 244.0f, rgb_hex(0x17181c));
  fill_ellipse(&canvas, c, c, 236.0f, 236.0f, [&](float x, float y) {
    float t = std::clamp((y - 20.0f) / 472.0f, 0.0f, 1.0f);
    float r = length2d(x - c, y - c) / 236.0f;
    return scaled(mix(rgb_hex(0x2a2c33), rgb_hex(0x0e0f12), t), 1.0f - 0.25f * r * r);
  });
  // The red zone, where the engines run out of torque.
  fill_arc(&canvas, c, c, 196.0f, 226.0f, needle_angle(13000.0f), needle_angle(16000.0f), rgb_hex(0xc8201a));
  fill_arc(&canvas, c, c, 196.0f, 226.0f, needle_angle(11500.0f), needle_angle(13000.0f), rgb_hex(0xd8a020, 0.55f));
  for (int k = 0; k <= 32; k++) {
    float rpm = static_cast<float>(k) * 500.0f, a = needle_angle(rpm);
    bool major = k % 2 == 0;
    Rgba colour = rpm >= 13000.0f ? rgb_hex(0xffffff) : rgb_hex(0xf0f0ea);
    Point p0 = on_circle(c, c, major ? 190.0f : 206.0f, a), p1 = on_circle(c, c, 226.0f, a);
    stroke_line(&canvas, p0.x, p0.y, p1.x, p1.y, major ? 7.0f : 3.5f, colour);
  }
  for (int k = 0; k <= 16; k++) {
    float a = needle_angle(static_cast<float>(k) * 1000.0f);
    Point p = on_circle(c, c, 156.0f, a);
    char label[4];
    snprintf(label, sizeof label, "%d", k);
    Rgba colour = k >= 13 ? rgb_hex(0xff4a3a) : rgb_hex(0xf2f2ec);
    draw_text_centred(&canvas, face_sans_bold, 38.0f, p.x, p.y + 14.0f, label, colour);
  }
  draw_text_centred(&canvas, face_sans_bold, 24.0f, c, c + 150.0f, "x1000 rpm", rgb_hex(0x9a9ca4));
  // The needle's hub ring, half hidden under the gear cell.
  fill_ellipse(&canvas, c, c, 70.0f, 70.0f, rgb_hex(0x08080a, 0.9f));
  return canvas;
}

Canvas shifter_picture() {
  constexpr int size = 512;
  Canvas canvas = canvas_make(size, size, {0.1f, 0.1f, 0.1f, 0.0f});
  // Six gears; the third row is never shown.
  for (int gear = 0; gear < 6; gear++) {
    float x0 = static_cast<float>(gear % 3) * size / 3.0f, y0 = static_cast<float>(gear / 3) * size / 3.0f;
    float w = size / 3.0f;
    fill_round_rect(&canvas, x0 + 8.0f, y0 + 8.0f, x0 + w - 8.0f, y0 + w - 8.0f, 26.0f, rgb_hex(0x5a5d66));
    fill_round_rect(&canvas, x0 + 13.0f, y0 + 13.0f, x0 + w - 13.0f, y0 + w - 13.0f, 22.0f, rgb_hex(0x111216));
    char label[2] = {static_cast<char>('1' + gear), 0};
    draw_text_centred(&canvas, face_sans_bold, 112.0f, x0 + w * 0.5f, y0 + w * 0.5f + 40.0f, label,
                      rgb_hex(0xffc22e));
  }
  bleed_colour(&canvas);
  return canvas;
}

Canvas pitboard_picture() {
  constexpr int size = 512;
  Canvas canvas = canvas_make(size, size, {0.9f, 0.9f, 0.9f, 0.0f});
  // The pole the crew holds it out on, down to the left.
  stroke_line(&canvas, 150.0f, 420.0f, 90.0f, 470.0f, 16.0f, rgb_hex(0x8a8e96));
  stroke_line(&canvas, 150.0f, 420.0f, 90.0f, 470.0f, 6.0f, rgb_hex(0xc8ccd4));
  // Frame and board; the text lines start at 0.37 across.
  fill_round_rect(&canvas, 76.0f, 104.0f, 500.0f, 424.0f, 14.0f, rgb_hex(0x15161a));
  fill_round_rect(&canvas, 88.0f, 116.0f, 488.0f, 412.0f, 8.0f, rgb_hex(0xf4f3ee));
  // A team badge in the top-left corner: the number and lap lines start at
  // 0.37 across, the lap times lower down at a fifth, so the badge stops
  // above them.
  fill_rect(&canvas, 88.0f, 116.0f, 128.0f, 250.0f, rgb_hex(0xc8281e));
  fill_rect(&canvas, 128.0f, 116.0f, 134.0f, 250.0f, rgb_hex(0x15161a));
  fill_ellipse(&canvas, 108.0f, 146.0f, 12.0f, 12.0f, rgb_hex(0xf4f3ee));
  // A rule under the rider number, whose baseline is row 164.
  fill_rect(&canvas, 184.0f, 172.0f, 476.0f, 174.0f, rgb_hex(0xc9c7bf));
  bleed_colour(&canvas);
  return canvas;
}

// A motocross bike and rider in profile, facing right, for the title and
// the icon. Local units are the wheelbase, y up from the axles; (cx, cy)
// is the middle between the axles in pixels, angle a pitch (radians, nose
// up).
void draw_bike(Canvas *canvas, float cx, float cy, float scale, float angle, Rgba colour, Rgba rim) {
  float cs = std::cos(angle), sn = std::sin(angle);
  auto at = [&](float x, float y) { return Point{cx + (x * cs - y * sn) * scale, cy - (x * sn + y * cs) * scale}; };
  auto shape = [&](std::initializer_list<Point> local, Rgba c) {
    std::vector<Point> p;
    for (const Point &q : local) p.push_back(at(q.x, q.y));
    fill_polygon(canvas, p, c);
  };
  auto bar = [&](Point a, Point b, float width, Rgba c) {
    Point p = at(a.x, a.y), q = at(b.x, b.y);
    stroke_line(canvas, p.x, p.y, q.x, q.y, width * scale, c);
  };
  // Knobbly tyres round spoked wheels.
  for (float wx : {-0.5f, 0.5f}) {
    Point w = at(wx, 0.0f);
    float r = (wx > 0.0f ? 0.285f : 0.27f) * scale;
    for (int k = 0; k < 28; k++) {
      float a = static_cast<float>(k) * 2.0f * 3.14159265f / 28.0f;
      fill_ellipse(canvas, w.x + std::cos(a) * r, w.y + std::sin(a) * r, 0.022f * scale, 0.022f * scale, colour);
    }
    fill_ellipse(canvas, w.x, w.y, r, r, colour);
    fill_ellipse(canvas, w.x, w.y, r * 0.72f, r * 0.72f, with_alpha(rim, 0.9f));
    for (int k = 0; k < 12; k++) {
      float a = static_cast<float>(k) * 3.14159265f / 6.0f;
      stroke_line(canvas, w.x, w.y, w.x + std::cos(a) * r * 0.72f, w.y + std::sin(a) * r * 0.72f, 0.006f * scale, colour);
    }
    fill_ellipse(canvas, w.x, w.y, 0.06f * scale, 0.06f * scale, colour);
  }
  bar({-0.5f, 0.0f}, {-0.06f, 0.14f}, 0.07f, colour);  // swingarm
  bar({0.5f, 0.0f}, {0.3f, 0.74f}, 0.075f, colour);    // fork
  bar({0.27f, 0.8f}, {0.33f, 0.9f}, 0.03f, colour);     // bars
  shape({{-0.12f, 0.06f}, {0.18f, 0.05f}, {0.24f, 0.3f}, {0.1f, 0.42f}, {-0.14f, 0.36f}}, colour);  // engine
  shape({{-0.08f, 0.46f}, {-0.55f, 0.6f}, {-0.86f, 0.66f}, {-0.84f, 0.62f}, {-0.5f, 0.52f}, {-0.12f, 0.38f}}, colour);
  shape({{-0.45f, 0.64f}, {0.04f, 0.62f}, {0.3f, 0.74f}, {0.26f, 0.56f}, {0.12f, 0.36f}, {-0.1f, 0.48f}, {-0.45f, 0.56f}},
        colour);                                                                                       // seat, tank, shrouds
  shape({{0.36f, 0.36f}, {0.56f, 0.38f}, {0.76f, 0.32f}, {0.58f, 0.42f}, {0.36f, 0.42f}}, colour);      // front fender
  shape({{0.28f, 0.62f}, {0.4f, 0.66f}, {0.38f, 0.82f}, {0.27f, 0.78f}}, colour);                       // number plate
  bar({-0.1f, 0.32f}, {-0.58f, 0.48f}, 0.05f, colour);                                                   // exhaust
  // The rider up on the pegs, elbows out, looking ahead.
  bar({-0.04f, 0.18f}, {0.12f, 0.52f}, 0.11f, colour);   // shin
  bar({0.12f, 0.52f}, {-0.14f, 0.82f}, 0.14f, colour);   // thigh
  bar({-0.14f, 0.84f}, {0.08f, 1.2f}, 0.22f, colour);    // body
  bar({0.08f, 1.18f}, {0.16f, 0.98f}, 0.09f, colour);    // upper arm
  bar({0.16f, 0.98f}, {0.3f, 0.88f}, 0.08f, colour);     // forearm
  bar({-0.06f, 0.16f}, {0.06f, 0.16f}, 0.07f, colour);   // boot on the peg
  Point head = at(0.17f, 1.34f);
  fill_ellipse(canvas, head.x, head.y, 0.125f * scale, 0.125f * scale, colour);
  shape({{0.16f, 1.42f}, {0.38f, 1.36f}, {0.36f, 1.32f}, {0.2f, 1.33f}}, colour);   // peak
  shape({{0.22f, 1.24f}, {0.34f, 1.2f}, {0.28f, 1.28f}}, colour);                   // chin guard
}

Canvas title_picture() {
  constexpr int w = 2048, h = 1024;
  Canvas c = canvas_make(w, h, {0, 0, 0, 1});
  float horizon = 690.0f;
  for (int j = 0; j < h; j++)
    for (int i = 0; i < w; i++) {
      float t = static_cast<float>(j) / horizon;
      float glow = std::exp(-length2d(static_cast<float>(i) - 1600.0f, static_cast<float>(j) - 300.0f) / 420.0f);
      Rgba sky = mix(rgb_hex(0x2c5f9e), rgb_hex(0xe9c89a), std::pow(std::min(t, 1.0f), 2.2f));
      canvas_at(&c, i, j) = mix(sky, rgb_hex(0xfff4dc), std::min(glow * 0.9f, 1.0f));
    }
  fill_ellipse(&c, 1600.0f, 300.0f, 56.0f, 56.0f, rgb_hex(0xfffcf2));
  // Clouds, soft and low.
  Canvas clouds = canvas_make(w, h, {1, 1, 1, 0});
  for (int k = 0; k < 26; k++) {
    float x = static_cast<float>((k * 541) % w), y = 420.0f + static_cast<float>((k * 131) % 220);
    float r = 60.0f + static_cast<float>((k * 37) % 70);
    fill_ellipse(&clouds, x, y, r * 2.2f, r * 0.55f, Rgba{1.0f, 0.97f, 0.92f, 0.28f});
  }
  canvas_blur(&clouds, 22.0f, false);
  canvas_paste(&c, clouds, 0, 0);
  // Hills far and near, then the track's crest in the foreground.
  auto hills = [&](float base, float amplitude, float period, uint32_t seed, Rgba colour) {
    std::vector<Point> p = {{0.0f, static_cast<float>(h)}};
    for (int i = 0; i <= w; i += 8) {
      float x = static_cast<float>(i);
      p.push_back({x, base - amplitude * fractal_noise(x / period, 0.5f, 4, seed)});
    }
    p.push_back({static_cast<float>(w), static_cast<float>(h)});
    fill_polygon(&c, p, colour);
  };
  hills(horizon + 20.0f, 160.0f, 500.0f, 11u, rgb_hex(0x7d8aa0));
  hills(horizon + 60.0f, 130.0f, 300.0f, 12u, rgb_hex(0x536a4e));
  hills(horizon + 110.0f, 70.0f, 160.0f, 13u, rgb_hex(0x3a5232));
  std::vector<Point> crest = {{0.0f, static_cast<float>(h)}, {0.0f, 880.0f}, {500.0f, 820.0f},
                              {760.0f, 780.0f}, {980.0f, 800.0f}, {1120.0f, 900.0f}, {1300.0f, 960.0f},
                              {static_cast<float>(w), 930.0f}, {static_cast<float>(w), static_cast<float>(h)}};
  fill_polygon(&c, crest, [&](float x, float y) {
    float n = fractal_noise(x / 40.0f, y / 14.0f, 4, 21u);
    return scaled(rgb_hex(0x7a5a3e), 0.8f + 0.4f * n - 0.0004f * (y - 800.0f));
  });
  // The rider leaves the lip on the left, roost flying from the rear wheel.
  for (int k = 0; k < 260; k++) {
    float t = static_cast<float>(k) / 260.0f;
    float x = 960.0f - 330.0f * t + 70.0f * std::sin(static_cast<float>(k) * 1.7f) * t;
    float y = 770.0f - 40.0f * t + 200.0f * t * t + 50.0f * std::cos(static_cast<float>(k) * 2.3f) * t;
    float r = 2.5f + 6.0f * std::fabs(std::sin(static_cast<float>(k) * 0.9f)) * (1.0f - 0.5f * t);
    fill_ellipse(&c, x, y, r, r * 0.8f, rgb_hex(0x5a412c, 0.9f - 0.4f * t));
  }
  draw_bike(&c, 1500.0f, 620.0f, 360.0f, 0.2f, rgb_hex(0x15110d), rgb_hex(0x3a3028));
  // The name, with a shadow, and what it is.
  draw_text_centred(&c, face_sans_bold, 230.0f, 712.0f, 282.0f, "TORVANE", Rgba{0, 0, 0, 0.35f});
  draw_text_centred(&c, face_sans_bold, 230.0f, 700.0f, 270.0f, "TORVANE", rgb_hex(0xffffff));
  fill_rect(&c, 260.0f, 306.0f, 1140.0f, 318.0f, rgb_hex(0xd23222));
  draw_text_centred(&c, face_sans_bold, 58.0f, 700.0f, 390.0f, "MOTOCROSS RACING", rgb_hex(0xfff6e6));
  return c;
}

Canvas icon_picture() {
  constexpr int size = 256;
  Canvas c = canvas_make(size, size, {0.1f, 0.2f, 0.4f, 0.0f});
  Canvas back = canvas_make(size, size, {0, 0, 0, 0});
  fill_round_rect(&back, 8.0f, 8.0f, 248.0f, 248.0f, 48.0f, rgb_hex(0xffffff));
  for (int j = 0; j < size; j++)
    for (int i = 0; i < size; i++) {
      Rgba &p = canvas_at(&back, i, j);
      Rgba colour = mix(rgb_hex(0x3d7fd0), rgb_hex(0xf0b060), std::pow(static_cast<float>(j) / size, 1.6f));
      p = with_alpha(colour, p.a);
    }
  canvas_paste(&c, back, 0, 0);
  std::vector<Point> ground = {{8.0f, 200.0f}, {120.0f, 176.0f}, {248.0f, 214.0f}, {248.0f, 248.0f}, {8.0f, 248.0f}};
  Canvas dirt = canvas_make(size, size, {0, 0, 0, 0});
  fill_polygon(&dirt, ground, rgb_hex(0x6e4e32));
  // Keep the dirt inside the rounded square.
  for (size_t k = 0; k < dirt.pixels.size(); k++) dirt.pixels[k].a *= back.pixels[k].a;
  canvas_paste(&c, dirt, 0, 0);
  draw_bike(&c, 132.0f, 150.0f, 128.0f, 0.22f, rgb_hex(0x141210), rgb_hex(0x3a3028));
  bleed_colour(&c);
  return c;
}

}  // namespace

void write_ui_files(Archive *archive) {
  archive_add_png(archive, "title.png", title_picture(), 3);
  Canvas tach = tach_picture();
  bleed_colour(&tach);
  archive_add_png(archive, "tach.png", tach, 4);
  archive_add_png(archive, "shifter.png", shifter_picture(), 4);
  archive_add_png(archive, "pitboard.png", pitboard_picture(), 4);
  archive_add_png(archive, "colors/white.png", canvas_make(4, 4, {1, 1, 1, 1}), 3);
  archive_add_png(archive, "icon.png", icon_picture(), 4);
}

}  // namespace databuild
