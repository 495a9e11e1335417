// Trackside sprites, all with alpha: the flaggers (the starter's five
// poses, the lap board's four boards, the jump marshals idle and waving;
// the waving ones are ".seq" animations), spectators in groups, trees,
// sponsors' banners on poles and the edge markers.
//
// People are drawn from a few parts (legs, body, arms, head, cap) posed by
// joint angles, in feet, standing on the picture's bottom edge as a
// billboard stands on its base.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "databuild.h"
#include "image_gen.h"

namespace databuild {

namespace {

constexpr float pi = 3.14159265358979f;

// Feet in the picture: x right from the sprite's middle, y up from its base.
struct View {
  float ox, oy, scale;  // pixels of x = 0, of y = 0, pixels per foot
  Point at(float x, float y) const { return {ox + x * scale, oy - y * scale}; }
};

void limb(Canvas *c, const View &v, Point a, Point b, float width, Rgba colour) {
  Point p = v.at(a.x, a.y), q = v.at(b.x, b.y);
  stroke_line(c, p.x, p.y, q.x, q.y, width * v.scale, colour);
}

void blob(Canvas *c, const View &v, float x, float y, float rx, float ry, Rgba colour) {
  Point p = v.at(x, y);
  fill_ellipse(c, p.x, p.y, rx * v.scale, ry * v.scale, colour);
}

void shape(Canvas *c, const View &v, std::initializer_list<Point> points, Rgba colour) {
  std::vector<Point> p;
  for (const Point &q : points) p.push_back(v.at(q.x, q.y));
  fill_polygon(c, p, colour);
}

// ---- People ----

enum Held { hold_nothing, hold_flag, hold_board, hold_furled };

struct Person {
  Rgba skin, hair, shirt, vest, pants, shoes, cap;  // vest or cap with alpha 0: none
  float height, build;
  bool long_sleeves;
  // Arm angles from hanging straight down, outward positive (radians): the
  // upper arm and the forearm, each side (0 the figure's right, on the
  // picture's left). Legs likewise.
  float arm[2][2], leg[2][2];
  bool walking;       // profile, facing right
  float stride;       // walking: leg swing, radians
};

Person plain_person(Rgba skin, Rgba shirt, Rgba pants) {
  Person p{};
  p.skin = skin;
  p.hair = rgb_hex(0x3a2a1c);
  p.shirt = shirt;
  p.vest = {0, 0, 0, 0};
  p.pants = pants;
  p.shoes = rgb_hex(0x222222);
  p.cap = {0, 0, 0, 0};
  p.height = 5.8f;
  p.build = 1.0f;
  p.arm[0][0] = p.arm[1][0] = 0.12f;
  p.arm[0][1] = p.arm[1][1] = 0.08f;
  p.leg[0][0] = p.leg[1][0] = 0.05f;
  p.leg[0][1] = p.leg[1][1] = 0.03f;
  return p;
}

// Where a hand ends up, for holding things.
Point hand_of(const Person &p, int side, float x0) {
  float k = p.height / 5.8f, s = side == 0 ? -1.0f : 1.0f;
  Point shoulder = {x0 + s * 0.62f * p.build * k, 4.62f * k};
  Point elbow = {shoulder.x + s * std::sin(p.arm[side][0]) * 1.0f * k, shoulder.y - std::cos(p.arm[side][0]) * 1.0f * k};
  return {elbow.x + s * std::sin(p.arm[side][1]) * 0.95f * k, elbow.y - std::cos(p.arm[side][1]) * 0.95f * k};
}

// A person facing the viewer (or walking right), feet at y = 0, centred on x0.
void draw_person(Canvas *c, const View &v, const Person &p, float x0) {
  float k = p.height / 5.8f, b = p.build;
  auto shade = [&](Rgba colour, float amount) { return scaled(colour, amount); };
  Rgba pants_dark = shade(p.pants, 0.8f);
  if (p.walking) {
    // Profile: the far leg and arm darker, behind.
    for (int side = 0; side < 2; side++) {
      float swing = (side == 0 ? 1.0f : -1.0f) * p.stride;
      Rgba pants = side == 0 ? pants_dark : p.pants;
      Point hip = {x0, 2.9f * k}, knee = {x0 + std::sin(swing) * 1.3f * k, hip.y - std::cos(swing) * 1.3f * k};
      float shin = swing - (swing < 0 ? 0.5f * -swing : 0.0f) - 0.1f;
      Point ankle = {knee.x + std::sin(shin) * 1.35f * k, knee.y - std::cos(shin) * 1.35f * k};
      limb(c, v, hip, knee, 0.42f * k, pants);
      limb(c, v, knee, ankle, 0.34f * k, pants);
      blob(c, v, ankle.x + 0.14f * k, std::max(ankle.y - 0.05f, 0.1f * k), 0.24f * k, 0.11f * k, p.shoes);
    }
    limb(c, v, {x0 - 0.05f, 3.05f * k}, {x0 + 0.08f, 4.55f * k}, 0.72f * k, p.shirt);
    if (p.vest.a > 0) limb(c, v, {x0 - 0.03f, 3.2f * k}, {x0 + 0.08f, 4.4f * k}, 0.76f * k, p.vest);
    for (int side = 0; side < 2; side++) {
      float swing = (side == 0 ? -1.0f : 1.0f) * p.stride * 0.8f;
      Point shoulder = {x0 + 0.08f, 4.5f * k}, elbow = {shoulder.x + std::sin(swing) * 1.0f * k, shoulder.y - std::cos(swing) * 1.0f * k};
      Point hand = {elbow.x + std::sin(swing + 0.3f) * 0.9f * k, elbow.y - std::cos(swing + 0.3f) * 0.9f * k};
      Rgba sleeve = side == 0 ? shade(p.shirt, 0.8f) : p.shirt;
      limb(c, v, shoulder, elbow, 0.3f * k, sleeve);
      limb(c, v, elbow, hand, 0.24f * k, p.long_sleeves ? sleeve : p.skin);
      blob(c, v, hand.x, hand.y, 0.13f * k, 0.13f * k, p.skin);
    }
    limb(c, v, {x0 + 0.1f, 4.6f * k}, {x0 + 0.12f, 4.9f * k}, 0.26f * k, p.skin);
    blob(c, v, x0 + 0.14f, 5.28f * k, 0.36f * k, 0.4f * k, p.skin);
    blob(c, v, x0 + 0.46f, 5.24f * k, 0.08f * k, 0.07f * k, p.skin);  // nose
    blob(c, v, x0 + 0.32f, 5.34f * k, 0.035f * k, 0.035f * k, rgb_hex(0x1a1410));
    if (p.cap.a > 0) {
      shape(c, v, {{x0 - 0.25f, 5.45f * k}, {x0 + 0.5f, 5.45f * k}, {x0 + 0.4f, 5.72f * k}, {x0 - 0.2f, 5.72f * k}}, p.cap);
      shape(c, v, {{x0 + 0.35f, 5.48f * k}, {x0 + 0.82f, 5.42f * k}, {x0 + 0.78f, 5.5f * k}, {x0 + 0.35f, 5.56f * k}},
            shade(p.cap, 0.8f));
    } else {
      shape(c, v, {{x0 - 0.24f, 5.2f * k}, {x0 + 0.2f, 5.7f * k}, {x0 + 0.5f, 5.5f * k}, {x0 - 0.1f, 5.72f * k}}, p.hair);
    }
    return;
  }
  // Legs, then shoes.
  for (int side = 0; side < 2; side++) {
    float s = side == 0 ? -1.0f : 1.0f;
    Point hip = {x0 + s * 0.3f * b * k, 2.95f * k};
    Point knee = {hip.x + s * std::sin(p.leg[side][0]) * 1.4f * k, hip.y - std::cos(p.leg[side][0]) * 1.4f * k};
    Point ankle = {knee.x + s * std::sin(p.leg[side][1]) * 1.35f * k, knee.y - std::cos(p.leg[side][1]) * 1.35f * k};
    limb(c, v, hip, knee, 0.44f * b * k, side == 0 ? pants_dark : p.pants);
    limb(c, v, knee, ankle, 0.36f * b * k, side == 0 ? pants_dark : p.pants);
    blob(c, v, ankle.x + s * 0.06f * k, std::max(ankle.y - 0.06f * k, 0.1f * k), 0.2f * k, 0.12f * k, p.shoes);
  }
  // Body: shoulders down to the hips, the belt line in the trousers.
  shape(c, v,
        {{x0 - 0.62f * b * k, 4.72f * k}, {x0 + 0.62f * b * k, 4.72f * k}, {x0 + 0.5f * b * k, 3.25f * k},
         {x0 + 0.56f * b * k, 2.8f * k}, {x0 - 0.56f * b * k, 2.8f * k}, {x0 - 0.5f * b * k, 3.25f * k}},
        p.pants);
  shape(c, v,
        {{x0 - 0.64f * b * k, 4.66f * k}, {x0 - 0.5f * b * k, 4.8f * k}, {x0 + 0.5f * b * k, 4.8f * k},
         {x0 + 0.64f * b * k, 4.66f * k}, {x0 + 0.52f * b * k, 3.2f * k}, {x0 - 0.52f * b * k, 3.2f * k}},
        p.shirt);
  if (p.vest.a > 0) {
    shape(c, v,
          {{x0 - 0.58f * b * k, 4.6f * k}, {x0 - 0.2f * b * k, 4.7f * k}, {x0, 4.3f * k}, {x0 + 0.2f * b * k, 4.7f * k},
           {x0 + 0.58f * b * k, 4.6f * k}, {x0 + 0.52f * b * k, 3.25f * k}, {x0 - 0.52f * b * k, 3.25f * k}},
          p.vest);
    // Reflective stripes.
    shape(c, v,
          {{x0 - 0.55f * b * k, 3.75f * k}, {x0 + 0.55f * b * k, 3.75f * k}, {x0 + 0.55f * b * k, 3.62f * k},
           {x0 - 0.55f * b * k, 3.62f * k}},
          rgb_hex(0xe8e8e0));
  }
  // A fold of shade down the body's middle gives it some roundness.
  shape(c, v, {{x0 + 0.3f * b * k, 4.6f * k}, {x0 + 0.6f * b * k, 4.62f * k}, {x0 + 0.5f * b * k, 3.22f * k},
               {x0 + 0.28f * b * k, 3.22f * k}},
        Rgba{0, 0, 0, 0.12f});
  // Arms.
  for (int side = 0; side < 2; side++) {
    float s = side == 0 ? -1.0f : 1.0f;
    Point shoulder = {x0 + s * 0.62f * b * k, 4.62f * k};
    Point elbow = {shoulder.x + s * std::sin(p.arm[side][0]) * 1.0f * k, shoulder.y - std::cos(p.arm[side][0]) * 1.0f * k};
    Point hand = hand_of(p, side, x0);
    Rgba sleeve = side == 0 ? shade(p.shirt, 0.9f) : p.shirt;
    limb(c, v, shoulder, elbow, 0.32f * b * k, sleeve);
    limb(c, v, elbow, hand, 0.26f * b * k, p.long_sleeves ? sleeve : p.skin);
    blob(c, v, hand.x, hand.y, 0.14f * k, 0.14f * k, p.skin);
  }
  // Neck, head, face, hair or cap.
  limb(c, v, {x0, 4.7f * k}, {x0, 4.95f * k}, 0.28f * k, shade(p.skin, 0.85f));
  blob(c, v, x0, 5.28f * k, 0.33f * k, 0.41f * k, p.skin);
  blob(c, v, x0 - 0.34f * k, 5.26f * k, 0.06f * k, 0.1f * k, p.skin);  // ears
  blob(c, v, x0 + 0.34f * k, 5.26f * k, 0.06f * k, 0.1f * k, p.skin);
  for (float e : {-0.12f, 0.12f}) blob(c, v, x0 + e * k, 5.32f * k, 0.04f * k, 0.045f * k, rgb_hex(0x1c1612));
  limb(c, v, {x0 - 0.08f * k, 5.1f * k}, {x0 + 0.08f * k, 5.1f * k}, 0.03f * k, rgb_hex(0x6a3a30, 0.8f));
  if (p.cap.a > 0) {
    blob(c, v, x0, 5.5f * k, 0.35f * k, 0.24f * k, p.cap);
    shape(c, v, {{x0 - 0.36f * k, 5.5f * k}, {x0 + 0.36f * k, 5.5f * k}, {x0 + 0.3f * k, 5.42f * k}, {x0 - 0.3f * k, 5.42f * k}},
          scaled(p.cap, 0.75f));
  } else {
    shape(c, v, {{x0 - 0.35f * k, 5.3f * k}, {x0 - 0.3f * k, 5.62f * k}, {x0, 5.72f * k}, {x0 + 0.3f * k, 5.62f * k},
                 {x0 + 0.35f * k, 5.3f * k}, {x0 + 0.25f * k, 5.5f * k}, {x0 - 0.25f * k, 5.5f * k}},
          p.hair);
  }
}

// A flag on a pole held at (hx, hy), the pole at angle a from straight up
// (clockwise), the cloth rippling by phase; chequered or plain.
void draw_flag(Canvas *c, const View &v, Point hand, float angle, float phase, Rgba colour, bool chequered,
               bool furled) {
  float pole = 1.5f;
  Point tip = {hand.x + std::sin(angle) * pole, hand.y + std::cos(angle) * pole};
  Point butt = {hand.x - std::sin(angle) * 0.3f, hand.y - std::cos(angle) * 0.3f};
  limb(c, v, butt, tip, 0.07f, rgb_hex(0x5a4a3a));
  if (furled) {
    shape(c, v, {{tip.x, tip.y}, {tip.x + 0.15f, tip.y - 0.2f}, {hand.x + 0.1f + std::sin(angle) * 0.6f, hand.y + std::cos(angle) * 0.6f},
                 {hand.x + std::sin(angle) * 0.6f, hand.y + std::cos(angle) * 0.6f}},
          colour);
    return;
  }
  // The cloth hangs from the tip downward along the pole, streaming back
  // over the flagger's head (toward -x).
  float dir = -1.0f;
  constexpr int n = 12;
  float w = 1.45f, h = 0.95f;
  Point ux = {std::sin(angle), std::cos(angle)};  // along the pole, up
  // Across the pole, sagging a little under its own weight.
  Point side = {ux.y * dir, -ux.x * dir - 0.6f};
  float sl = length2d(side.x, side.y);
  side = {side.x / sl, side.y / sl};
  auto cloth = [&](float s, float t) {
    float ripple = 0.16f * std::sin(s * 5.0f + phase) * s;
    return Point{tip.x + side.x * s * w - ux.x * (t * h + ripple), tip.y + side.y * s * w - ux.y * (t * h + ripple)};
  };
  for (int i = 0; i < n; i++)
    for (int j = 0; j < (chequered ? 4 : 1); j++) {
      float s0 = static_cast<float>(i) / n, s1 = static_cast<float>(i + 1) / n;
      float t0 = chequered ? j / 4.0f : 0.0f, t1 = chequered ? (j + 1) / 4.0f : 1.0f;
      Point a = cloth(s0, t0), b = cloth(s1, t0), d = cloth(s1, t1), e = cloth(s0, t1);
      Rgba fill = colour;
      if (chequered) fill = ((i / 2 + j) % 2 == 0) ? rgb_hex(0xf4f4f0) : rgb_hex(0x141414);
      float light = 0.85f + 0.15f * std::sin(s0 * 5.0f + phase + 1.2f);
      shape(c, v, {a, b, d, e}, scaled(fill, light));
    }
}

void draw_board(Canvas *c, const View &v, float cx, float cy, float w, float h, const char *text, Rgba ink,
                Rgba face_colour) {
  Point a = v.at(cx - w * 0.5f, cy + h * 0.5f), b = v.at(cx + w * 0.5f, cy - h * 0.5f);
  fill_rect(c, a.x - 0.05f * v.scale, a.y - 0.05f * v.scale, b.x + 0.05f * v.scale, b.y + 0.05f * v.scale,
            rgb_hex(0x202020));
  fill_rect(c, a.x, a.y, b.x, b.y, face_colour);
  if (text && *text) {
    float size = h * v.scale * 0.95f;
    draw_text_centred(c, face_sans_bold, size, (a.x + b.x) * 0.5f, b.y - h * v.scale * 0.14f, text, ink);
  }
}

// ---- Sprites from people ----

// A 4 x 8 ft billboard: room over the head for a raised flag or board.
constexpr int person_width = 128, person_height = 256;
constexpr float person_feet = 8.0f;
constexpr int supersample = 2;

Canvas person_canvas() {
  return canvas_make(person_width * supersample, person_height * supersample, {0.5f, 0.5f, 0.5f, 0.0f});
}

View person_view() {
  float scale = static_cast<float>(person_height * supersample) / person_feet;
  return {static_cast<float>(person_width * supersample) * 0.5f, static_cast<float>(person_height * supersample) - 2.0f,
          scale};
}

Canvas finish_sprite(const Canvas &big) {
  Canvas c = canvas_resize(big, big.width / supersample, big.height / supersample);
  bleed_colour(&c);
  return c;
}

void add_sprite(Archive *archive, const char *name, const Canvas &big) {
  archive_add_png(archive, name[0] == '@' ? name + 1 : name, finish_sprite(big), 4);
}

// A ".seq" animation looping over its frames, each a PNG member.
void add_animation(Archive *archive, const char *name, const std::vector<Canvas> &frames, int tics_per_frame) {
  std::string base = std::string(name + 1, strlen(name + 1) - 4);  // without "@" and ".seq"
  Bytes seq;
  int n = static_cast<int>(frames.size());
  bytes_printf(&seq, "ANIM1\n%d %d %d 1\n", n, n, tics_per_frame);
  for (int k = 0; k < n; k++) bytes_printf(&seq, "%d%c", k, k + 1 < n ? ' ' : '\n');
  for (int k = 0; k < n; k++) {
    char frame[256];
    snprintf(frame, sizeof frame, "%s_%d.png", base.c_str(), k + 1);
    add_sprite(archive, frame, frames[static_cast<size_t>(k)]);
    bytes_printf(&seq, "PNG @%s\n", frame);
  }
  archive_add(archive, name + 1, std::move(seq));
}

Person starter() {
  Person p = plain_person(rgb_hex(0xd9a47e), rgb_hex(0xf2f2f0), rgb_hex(0x202228));
  p.vest = rgb_hex(0xd02820);
  p.cap = rgb_hex(0xd02820);
  return p;
}

Person lapboard_flagger() {
  Person p = plain_person(rgb_hex(0xc68a62), rgb_hex(0x2c5aa8), rgb_hex(0x2a2a30));
  p.height = 5.6f;
  p.cap = rgb_hex(0xf2f2f0);
  p.long_sleeves = true;
  return p;
}

Person marshal() {
  Person p = plain_person(rgb_hex(0xe0b090), rgb_hex(0x707478), rgb_hex(0x34466a));
  p.height = 5.6f;
  p.vest = rgb_hex(0xff7a1a);
  p.cap = rgb_hex(0xf0d020);
  p.long_sleeves = true;
  return p;
}

void set_arm(Person *p, int side, float upper, float fore) {
  p->arm[side][0] = upper;
  p->arm[side][1] = fore;
}

// A flagger with both arms in one pose, holding a board up or down.
Canvas holding_board(Person p, float upper, float fore, float board_y, float board_w, float board_h, const char *text,
                     Rgba ink, Rgba face) {
  View v = person_view();
  Canvas c = person_canvas();
  set_arm(&p, 0, upper, fore);
  set_arm(&p, 1, upper, fore);
  draw_person(&c, v, p, 0.0f);
  draw_board(&c, v, 0.0f, board_y, board_w, board_h, text, ink, face);
  return c;
}

void write_starter(Archive *archive) {
  View v = person_view();
  Rgba board_face = rgb_hex(0xf4f2ea), ink = rgb_hex(0xc8201a);
  // Both hands holding the board up over the head: the gate is about to drop.
  add_sprite(archive, starter_textures[0], holding_board(starter(), 2.55f, 2.9f, 5.2f, 1.9f, 1.1f, "5", ink, board_face));
  {  // The drop: the board swung down to the side.
    Canvas c = person_canvas();
    Person p = starter();
    set_arm(&p, 0, 0.9f, 0.6f);
    set_arm(&p, 1, 0.5f, 0.3f);
    p.leg[0][0] = 0.15f;
    draw_person(&c, v, p, 0.4f);
    Point h = hand_of(p, 0, 0.4f);
    draw_board(&c, v, h.x + 0.2f, h.y, 0.8f, 0.6f, "5", ink, board_face);
    add_sprite(archive, starter_textures[1], c);
  }
  {  // Turning away, the board down at the side.
    Canvas c = person_canvas();
    Person p = starter();
    set_arm(&p, 0, 0.35f, 0.1f);
    set_arm(&p, 1, 0.3f, 0.6f);
    p.leg[0][0] = 0.2f;
    p.leg[1][0] = 0.12f;
    draw_person(&c, v, p, 0.0f);
    Point h = hand_of(p, 0, 0.0f);
    draw_board(&c, v, h.x - 0.2f, h.y - 0.35f, 0.7f, 1.0f, "", ink, rgb_hex(0xb8b6ae));
    add_sprite(archive, starter_textures[2], c);
  }
  {  // Walking off the start, the board under the arm.
    std::vector<Canvas> frames;
    for (int k = 0; k < 4; k++) {
      Canvas c = person_canvas();
      Person p = starter();
      p.walking = true;
      p.stride = 0.42f * std::sin(static_cast<float>(k) * pi * 0.5f + 0.5f);
      draw_person(&c, v, p, -0.15f);
      draw_board(&c, v, -0.2f, 3.9f, 0.35f, 1.1f, "", ink, rgb_hex(0xb8b6ae));
      frames.push_back(c);
    }
    add_animation(archive, starter_textures[3], frames, 12);
  }
  {  // Clear of the track, the board resting against a leg.
    Canvas c = person_canvas();
    Person p = starter();
    set_arm(&p, 0, 0.25f, 0.5f);
    set_arm(&p, 1, 0.4f, 2.4f);
    draw_person(&c, v, p, 0.0f);
    draw_board(&c, v, -0.85f, 1.6f, 0.8f, 1.3f, "", ink, rgb_hex(0xb8b6ae));
    add_sprite(archive, starter_textures[4], c);
  }
}

void write_lapboard(Archive *archive) {
  View v = person_view();
  Rgba face = rgb_hex(0xf4f2ea), ink = rgb_hex(0x141414);
  // Between laps the board is held low, blank side out; then two to go.
  add_sprite(archive, lapboard_textures[0],
             holding_board(lapboard_flagger(), 0.3f, 0.55f, 2.9f, 1.5f, 1.1f, "", ink, rgb_hex(0xc0beb6)));
  add_sprite(archive, lapboard_textures[1], holding_board(lapboard_flagger(), 0.9f, 2.2f, 4.6f, 1.5f, 1.2f, "2", ink, face));
  std::vector<Canvas> last, finish;
  for (int k = 0; k < 4; k++) {
    float swing = 0.5f * std::sin(static_cast<float>(k) * pi * 0.5f);
    {  // Last lap: the "1" board and the white flag.
      Canvas c = person_canvas();
      Person p = lapboard_flagger();
      set_arm(&p, 0, 2.7f, 3.0f);
      set_arm(&p, 1, 2.5f + 0.2f * swing, 2.8f + 0.25f * swing);
      Point h = hand_of(p, 1, 0.3f);
      draw_flag(&c, v, h, 0.45f + 0.35f * swing, static_cast<float>(k) * 1.6f, rgb_hex(0xf6f6f2), false, false);
      draw_person(&c, v, p, 0.3f);
      Point b = hand_of(p, 0, 0.3f);
      draw_board(&c, v, b.x + 0.1f, b.y + 0.3f, 0.8f, 0.9f, "1", ink, face);
      last.push_back(c);
    }
    {  // Finish: the chequered flag.
      Canvas c = person_canvas();
      Person p = lapboard_flagger();
      set_arm(&p, 0, 0.25f, 0.3f);
      set_arm(&p, 1, 2.6f + 0.25f * swing, 2.9f + 0.25f * swing);
      Point h = hand_of(p, 1, 0.2f);
      draw_flag(&c, v, h, 0.4f + 0.4f * swing, static_cast<float>(k) * 1.6f, {}, true, false);
      draw_person(&c, v, p, 0.2f);
      finish.push_back(c);
    }
  }
  add_animation(archive, lapboard_textures[2], last, 10);
  add_animation(archive, lapboard_textures[3], finish, 10);
}

void write_marshal(Archive *archive) {
  View v = person_view();
  Rgba yellow = rgb_hex(0xffd21a);
  {
    Canvas c = person_canvas();
    Person p = marshal();
    set_arm(&p, 0, 0.2f, 0.6f);
    set_arm(&p, 1, 0.25f, 0.2f);
    Point h = hand_of(p, 0, 0.1f);
    draw_person(&c, v, p, 0.1f);
    draw_flag(&c, v, h, -0.35f, 0.0f, yellow, false, true);
    add_sprite(archive, marshal_textures[0], c);
  }
  std::vector<Canvas> frames;
  for (int k = 0; k < 4; k++) {
    float swing = std::sin(static_cast<float>(k) * pi * 0.5f);
    Canvas c = person_canvas();
    Person p = marshal();
    set_arm(&p, 0, 0.3f, 0.2f);
    set_arm(&p, 1, 2.5f + 0.15f * swing, 2.8f + 0.2f * swing);
    Point h = hand_of(p, 1, 0.3f);
    draw_flag(&c, v, h, 0.4f + 0.4f * swing, static_cast<float>(k) * 1.7f, yellow, false, false);
    draw_person(&c, v, p, 0.3f);
    frames.push_back(c);
  }
  add_animation(archive, marshal_textures[1], frames, 9);
}

// Groups of four or five in everyday clothes: some cheering, some with a
// hand up against the sun, children among them.
void write_crowds(Archive *archive) {
  static const uint32_t skins[] = {0xf1c8a6, 0xe0ac84, 0xc68a62, 0x9a6440, 0x6e4428, 0xf5d2b8};
  static const uint32_t shirts[] = {0xd03a2c, 0x2c5aa8, 0xf2f2f0, 0x1e1e22, 0x3a8a4a, 0xf0b020,
                                    0x8a3aa0, 0x2a9ab0, 0xe87aa0, 0x6a6e74, 0xc86a2a, 0x20406a};
  static const uint32_t trousers[] = {0x34466a, 0x2a2a30, 0x5a5044, 0x8a7a5a, 0x3a4a5a, 0x6a6a6e};
  static const uint32_t hairs[] = {0x2a1c12, 0x5a3a22, 0x8a6a3a, 0xc8a060, 0x1a1a1a, 0x9a9a9a};
  for (int g = 0; g < crowd_kinds; g++) {
    constexpr int w = 512, h = 256;  // a 12 x 6 ft billboard
    Canvas c = canvas_make(w * supersample, h * supersample, {0.5f, 0.5f, 0.5f, 0.0f});
    View v = {static_cast<float>(w * supersample) * 0.5f, static_cast<float>(h * supersample) - 2.0f,
              static_cast<float>(h * supersample) / 6.3f};
    Dice dice(0xc40d0u + static_cast<uint32_t>(g) * 7919u);
    int people = 4 + dice.below(2);
    for (int k = 0; k < people; k++) {
      Person p = plain_person(rgb_hex(skins[dice.below(6)]), rgb_hex(shirts[dice.below(12)]),
                              rgb_hex(trousers[dice.below(6)]));
      p.hair = rgb_hex(hairs[dice.below(6)]);
      p.height = dice.uniform() < 0.2f ? dice.range(3.8f, 4.6f) : dice.range(5.3f, 6.1f);
      p.build = dice.range(0.85f, 1.15f);
      p.long_sleeves = dice.uniform() < 0.35f;
      if (dice.uniform() < 0.4f) p.cap = rgb_hex(shirts[dice.below(12)]);
      int mood = dice.below(4);
      if (mood == 0) {  // cheering
        set_arm(&p, 0, 2.6f, 2.9f);
        set_arm(&p, 1, 2.4f, 2.8f);
      } else if (mood == 1) {  // shading the eyes
        set_arm(&p, 1, 1.1f, 2.9f);
      } else if (mood == 2) {  // arms folded
        set_arm(&p, 0, 0.15f, 1.6f);
        set_arm(&p, 1, 0.15f, 1.6f);
      }
      float x = -4.4f + 8.8f * (static_cast<float>(k) + dice.range(0.2f, 0.8f)) / static_cast<float>(people);
      draw_person(&c, v, p, x);
    }
    Canvas small = canvas_resize(c, w, h);
    bleed_colour(&small);
    archive_add_png(archive, crowd_textures[g] + 1, small, 4);
  }
}

// ---- Trees ----

// Leaves as many overlapping clumps, lit from above, with gaps.
void crown(Canvas *c, Dice *dice, float cx, float cy, float rx, float ry, int clumps, Rgba dark, Rgba light,
           float clump) {
  for (int k = 0; k < clumps; k++) {
    float a = dice->range(0.0f, 2.0f * pi), r = std::sqrt(dice->uniform());
    float x = cx + std::cos(a) * r * rx, y = cy + std::sin(a) * r * ry;
    float lit = std::clamp(0.5f - (y - cy) / (2.0f * ry) + dice->range(-0.2f, 0.2f), 0.0f, 1.0f);
    float s = clump * dice->range(0.7f, 1.3f);
    Rgba colour = mix(dark, light, lit);
    fill_ellipse(c, x, y, s, s * 0.85f, [&](float px, float py) {
      float n = value_noise(px / 3.0f, py / 3.0f, 77u);
      return scaled(colour, 0.8f + 0.35f * n);
    });
  }
}

Canvas tree_picture(int kind) {
  // Drawn at the billboard's own proportions, then fitted to 256 x 512.
  static const float aspect[tree_kinds] = {22.0f / 26.0f, 14.0f / 30.0f, 11.0f / 32.0f};
  int h = 1024, w = static_cast<int>(std::lround(static_cast<float>(h) * aspect[kind]));
  Canvas c = canvas_make(w, h, {0.2f, 0.3f, 0.15f, 0.0f});
  Dice dice(0x7ee0u + static_cast<uint32_t>(kind));
  float fw = static_cast<float>(w), fh = static_cast<float>(h);
  Rgba bark = rgb_hex(0x4a3a2c), bark_light = rgb_hex(0x6e5a46);
  if (kind == 0) {  // oak: a broad round crown over a short trunk
    fill_polygon(&c, {{fw * 0.45f, fh}, {fw * 0.55f, fh}, {fw * 0.53f, fh * 0.55f}, {fw * 0.47f, fh * 0.55f}}, bark);
    stroke_line(&c, fw * 0.5f, fh * 0.62f, fw * 0.3f, fh * 0.42f, fw * 0.035f, bark);
    stroke_line(&c, fw * 0.5f, fh * 0.6f, fw * 0.72f, fh * 0.38f, fw * 0.035f, bark);
    stroke_line(&c, fw * 0.47f, fh * 0.95f, fw * 0.47f, fh * 0.6f, fw * 0.012f, bark_light);
    crown(&c, &dice, fw * 0.5f, fh * 0.38f, fw * 0.4f, fh * 0.3f, 520, rgb_hex(0x1e3414), rgb_hex(0x6a9a3a), fw * 0.07f);
  } else if (kind == 1) {  // pine: tiers of drooping boughs
    fill_polygon(&c, {{fw * 0.46f, fh}, {fw * 0.54f, fh}, {fw * 0.51f, fh * 0.1f}, {fw * 0.49f, fh * 0.1f}}, bark);
    for (int tier = 0; tier < 11; tier++) {
      float t = static_cast<float>(tier) / 10.0f;
      float y = fh * (0.86f - 0.78f * t), half = fw * (0.48f - 0.38f * t);
      Rgba colour = mix(rgb_hex(0x17301c), rgb_hex(0x3e6a3a), t * 0.7f + dice.range(0.0f, 0.2f));
      std::vector<Point> bough = {{fw * 0.5f, y - fh * 0.14f}};
      for (int k = 0; k <= 10; k++) {
        float u = static_cast<float>(k) / 10.0f * 2.0f - 1.0f;
        float droop = fh * (0.02f + 0.03f * u * u) + dice.range(-4.0f, 4.0f);
        bough.push_back({fw * 0.5f + half * u, y + droop});
      }
      fill_polygon(&c, bough, colour);
      for (int k = 0; k < 40; k++) {
        float x = fw * 0.5f + half * dice.range(-0.9f, 0.9f);
        stroke_line(&c, x, y + dice.range(-fh * 0.06f, 0.0f), x + dice.range(-6, 6), y + dice.range(4, 14), 3.0f,
                    scaled(colour, 0.7f));
      }
    }
  } else {  // poplar: a tall narrow crown
    fill_polygon(&c, {{fw * 0.45f, fh}, {fw * 0.55f, fh}, {fw * 0.52f, fh * 0.5f}, {fw * 0.48f, fh * 0.5f}}, bark);
    crown(&c, &dice, fw * 0.5f, fh * 0.45f, fw * 0.36f, fh * 0.4f, 700, rgb_hex(0x243c18), rgb_hex(0x88a84a), fw * 0.09f);
  }
  Canvas out = canvas_resize(c, 256, 512);
  bleed_colour(&out);
  return out;
}

// ---- Banners and markers ----

struct BannerStyle {
  const char *text;
  uint32_t back, ink, stripe;
};

const BannerStyle banner_styles[banner_kinds] = {
    {"TORVANE", 0x1a1c22, 0xffffff, 0xd23222}, {"ROOSTER OIL", 0xf0b020, 0x1a1a1a, 0xc82a1a},
    {"GRIPLINE TYRES", 0x2450a0, 0xffffff, 0xf0f0f0}, {"BERM BROS.", 0xd23222, 0xffffff, 0x1a1a1a},
    {"MUDLINE", 0x3a2a1e, 0xf0d8a0, 0xa07040}, {"SUMMIT ENERGY", 0x20a060, 0xffffff, 0x0e3a24},
};

Canvas banner_picture(const BannerStyle &s) {
  // 12 x 4 ft: cloth from 1 to 4 ft between two poles.
  constexpr int w = 1536, h = 512;
  Canvas c = canvas_make(w, h, {0.5f, 0.5f, 0.5f, 0.0f});
  float foot = h / 4.0f;
  for (float x : {40.0f, static_cast<float>(w) - 40.0f}) {
    fill_rect(&c, x - 10.0f, 0.0f, x + 10.0f, static_cast<float>(h), rgb_hex(0x8a8e96));
    fill_rect(&c, x - 4.0f, 0.0f, x + 2.0f, static_cast<float>(h), rgb_hex(0xb8bcc4));
  }
  float top = 6.0f, bottom = 3.0f * foot;
  fill_rect(&c, 50.0f, top, static_cast<float>(w) - 50.0f, bottom, rgb_hex(s.back));
  fill_rect(&c, 50.0f, bottom - 34.0f, static_cast<float>(w) - 50.0f, bottom - 16.0f, rgb_hex(s.stripe));
  fill_rect(&c, 50.0f, top + 16.0f, static_cast<float>(w) - 50.0f, top + 28.0f, rgb_hex(s.stripe));
  float size = 230.0f, width = text_width(face_sans_bold, size, s.text);
  size = std::min(size, size * (static_cast<float>(w) - 200.0f) / width);
  draw_text_centred(&c, face_sans_bold, size, static_cast<float>(w) * 0.5f, (top + bottom) * 0.5f + size * 0.36f, s.text,
                    rgb_hex(s.ink));
  // Folds in the cloth.
  for (int i = 50; i < w - 50; i++)
    for (int j = static_cast<int>(top); j < static_cast<int>(bottom); j++) {
      Rgba &p = canvas_at(&c, i, j);
      float fold = 0.94f + 0.06f * std::sin(static_cast<float>(i) / 37.0f + 0.3f * std::sin(static_cast<float>(j) / 50.0f));
      p = scaled(p, fold);
    }
  for (float x : {70.0f, static_cast<float>(w) - 70.0f})
    for (float y : {top + 12.0f, bottom - 12.0f}) fill_ellipse(&c, x, y, 7.0f, 7.0f, rgb_hex(0xd0d0d0));
  Canvas out = canvas_resize(c, 512, 256);
  bleed_colour(&out);
  return out;
}

Canvas marker_picture() {
  // A 0.4 x 2.2 ft stake: white with orange bands, a ribbon at the top.
  constexpr int w = 128, h = 704;
  Canvas c = canvas_make(w, h, {0.9f, 0.5f, 0.1f, 0.0f});
  fill_rect(&c, 54.0f, 60.0f, 74.0f, static_cast<float>(h), rgb_hex(0xf2f2ee));
  for (int k = 0; k < 4; k++) {
    float y = 120.0f + static_cast<float>(k) * 150.0f;
    fill_rect(&c, 54.0f, y, 74.0f, y + 60.0f, rgb_hex(0xff6a10));
  }
  fill_polygon(&c, {{70.0f, 40.0f}, {124.0f, 70.0f}, {110.0f, 100.0f}, {70.0f, 110.0f}}, rgb_hex(0xff6a10));
  fill_polygon(&c, {{58.0f, 40.0f}, {4.0f, 64.0f}, {20.0f, 92.0f}, {58.0f, 104.0f}}, rgb_hex(0xe04a08));
  fill_ellipse(&c, 64.0f, 60.0f, 14.0f, 14.0f, rgb_hex(0xf2f2ee));
  Canvas out = canvas_resize(c, 64, 256);
  bleed_colour(&out);
  return out;
}

Canvas leader_picture() {
  // A fat arrow pointing down at the leader's helmet, white inside a dark
  // rim so that any tint stays readable against the sky and the dirt.
  constexpr int side = 256;
  Canvas c = canvas_make(side, side, {0.1f, 0.1f, 0.1f, 0.0f});
  const std::vector<Point> rim = {{128.0f, 250.0f}, {20.0f, 118.0f}, {80.0f, 118.0f}, {80.0f, 6.0f}, {176.0f, 6.0f}, {176.0f, 118.0f}, {236.0f, 118.0f}};
  const std::vector<Point> fill = {{128.0f, 226.0f}, {46.0f, 130.0f}, {94.0f, 130.0f}, {94.0f, 20.0f}, {162.0f, 20.0f}, {162.0f, 130.0f}, {210.0f, 130.0f}};
  fill_polygon(&c, rim, rgb_hex(0x202020));
  fill_polygon(&c, fill, rgb_hex(0xffffff));
  Canvas out = canvas_resize(c, 64, 64);
  bleed_colour(&out);
  return out;
}

}  // namespace

void write_billboard_textures(Archive *archive) {
  write_starter(archive);
  write_lapboard(archive);
  write_marshal(archive);
  write_crowds(archive);
  for (int k = 0; k < tree_kinds; k++) archive_add_png(archive, tree_textures[k] + 1, tree_picture(k), 4);
  for (int k = 0; k < banner_kinds; k++) archive_add_png(archive, banner_textures[k] + 1, banner_picture(banner_styles[k]), 4);
  archive_add_png(archive, marker_texture + 1, marker_picture(), 4);
  archive_add_png(archive, leader_texture + 1, leader_picture(), 4);
}

}  // namespace databuild
