// The skins: the texture families a rider chooses from, each with five
// designs, in the layouts the models map (databuild.h).
//
// - Bike graphics "<base>-<design>.png" for every graphics base. They are
//   LINK files to pictures shared by a maker's bikes ("bikeskins/..."):
//   the stock design follows the era of the plastics, the other designs
//   are one picture per maker. The number-plate colours travel in the
//   picture's text ("[numberbackground:r,g,b][numberforeground:r,g,b]")
//   and, for the link, in a side file "<link>.info".
// - Riding gear "rider_body-<design>.png", helmets "rider_head-<design>.png",
//   wheels "wheels-<design>.png".
// - The trackside statues' pictures.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "databuild.h"

namespace databuild {

namespace {

Colour rgb(float r, float g, float b) { return {r, g, b, 1}; }
Colour shade(Colour c, float f) { return {c.r * f, c.g * f, c.b * f, c.a}; }

const Colour white = rgb(0.95f, 0.95f, 0.95f), black = rgb(0.07f, 0.07f, 0.08f), grey = rgb(0.45f, 0.46f, 0.48f),
             silver = rgb(0.74f, 0.75f, 0.78f), dark = rgb(0.18f, 0.18f, 0.2f);

struct Maker {
  const char *name;
  Colour main, accent, third, seat, frame;
  Colour plate_bg, plate_fg;
};

const Maker makers[] = {
    {"cr", rgb(0.86f, 0.07f, 0.08f), white, black, black, rgb(0.72f, 0.73f, 0.76f), white, black},
    {"kx", rgb(0.42f, 0.78f, 0.1f), black, white, black, rgb(0.2f, 0.45f, 0.12f), black, white},
    {"rm", rgb(0.98f, 0.84f, 0.05f), rgb(0.1f, 0.22f, 0.7f), white, rgb(0.1f, 0.2f, 0.55f), rgb(0.68f, 0.7f, 0.72f),
     rgb(0.98f, 0.84f, 0.05f), black},
    {"yz", rgb(0.07f, 0.22f, 0.78f), white, rgb(0.1f, 0.1f, 0.2f), rgb(0.1f, 0.15f, 0.4f), rgb(0.12f, 0.25f, 0.7f),
     rgb(0.07f, 0.22f, 0.78f), white},
    {"sx", rgb(1.0f, 0.45f, 0.0f), black, white, black, rgb(0.95f, 0.42f, 0.02f), white, black},
    {"fc", white, rgb(0.08f, 0.16f, 0.45f), rgb(0.98f, 0.8f, 0.1f), rgb(0.08f, 0.12f, 0.3f), rgb(0.1f, 0.2f, 0.5f),
     white, rgb(0.08f, 0.16f, 0.45f)},
};
constexpr int maker_count = 6;

const char *const bike_designs[] = {"stock", "race", "retro", "black", "white"};
constexpr int bike_design_count = 5;

// Frame coordinates (z, y) to pixels of the graphics half.
struct SideView {
  Image *image;
  float px(float z) const { return (z - bike_graphics_z0) / (bike_graphics_z1 - bike_graphics_z0) * static_cast<float>(image->width); }
  float py(float y) const {
    return (bike_graphics_y1 - y) / (bike_graphics_y1 - bike_graphics_y0) * 0.5f * static_cast<float>(image->height);
  }
  void polygon(std::initializer_list<float> zy, Colour c) const {
    std::vector<float> xy;
    const float *p = zy.begin();
    for (size_t i = 0; i + 1 < zy.size(); i += 2) {
      xy.push_back(px(p[i]));
      xy.push_back(py(p[i + 1]));
    }
    paint_polygon(image, xy.data(), static_cast<int>(xy.size() / 2), c);
  }
};

// The cell of swatch k in pixels.
void swatch_cell(const Image &image, int k, int columns, int rows, int first_row, int *x0, int *y0, int *x1, int *y1) {
  int w = image.width / columns, h = image.height / rows;
  *x0 = (k % columns) * w;
  *y0 = (first_row + k / columns) * h;
  *x1 = *x0 + w;
  *y1 = *y0 + h;
}

void fill_swatch(Image *image, int k, int columns, int rows, int first_row, Colour c, float noise, uint32_t seed) {
  int x0, y0, x1, y1;
  swatch_cell(*image, k, columns, rows, first_row, &x0, &y0, &x1, &y1);
  paint_rect(image, static_cast<float>(x0), static_cast<float>(y0), static_cast<float>(x1), static_cast<float>(y1), c);
  if (noise > 0) paint_noise(image, x0, y0, x1, y1, 6.0f, noise, seed);
}

void stripes_swatch(Image *image, int k, int columns, int rows, int first_row, Colour a, Colour b, int count, bool across) {
  int x0, y0, x1, y1;
  swatch_cell(*image, k, columns, rows, first_row, &x0, &y0, &x1, &y1);
  float w = static_cast<float>(across ? y1 - y0 : x1 - x0) / static_cast<float>(2 * count);
  paint_rect(image, static_cast<float>(x0), static_cast<float>(y0), static_cast<float>(x1), static_cast<float>(y1), a);
  for (int i = 0; i < count; i++) {
    float s = static_cast<float>(2 * i) * w;
    if (across)
      paint_rect(image, static_cast<float>(x0), static_cast<float>(y0) + s, static_cast<float>(x1), static_cast<float>(y0) + s + w, b);
    else
      paint_rect(image, static_cast<float>(x0) + s, static_cast<float>(y0), static_cast<float>(x0) + s + w, static_cast<float>(y1), b);
  }
}

std::string plate_info(Colour bg, Colour fg) {
  char text[160];
  snprintf(text, sizeof text, "[numberbackground:%.3f,%.3f,%.3f][numberforeground:%.3f,%.3f,%.3f]",
           static_cast<double>(bg.r), static_cast<double>(bg.g), static_cast<double>(bg.b), static_cast<double>(fg.r),
           static_cast<double>(fg.g), static_cast<double>(fg.b));
  return text;
}

Image bike_skin(const Maker &mk, int design, int era, std::string *info) {
  Image img = image_new(512, 512, mk.main);
  Colour main = mk.main, accent = mk.accent, third = mk.third, frame = mk.frame, seat = mk.seat;
  Colour bg = mk.plate_bg, fg = mk.plate_fg;
  if (design == 3) {  // black plastics, the maker's colour as graphics
    accent = main;
    main = black;
    third = grey;
    frame = dark;
    bg = black;
    fg = mk.main.r + mk.main.g + mk.main.b > 2.5f ? mk.accent : mk.main;
  } else if (design == 4) {  // white plastics
    accent = mk.main.r + mk.main.g + mk.main.b > 2.5f ? mk.accent : mk.main;
    main = white;
    third = black;
    bg = white;
    fg = black;
  } else if (design == 2) {  // the old look: deeper colours, pinstripes
    main = shade(mk.main, 0.8f);
    frame = silver;
    seat = black;
  }
  SideView v{&img};
  paint_rect(&img, 0, 0, 512, 256, main);
  // Shrouds and tank.
  if (design == 1) {
    v.polygon({-1.5f, 1.7f, -0.2f, 1.7f, -0.9f, 0.2f, -1.5f, 0.2f}, accent);
    v.polygon({-0.9f, 1.7f, -0.55f, 1.7f, -1.2f, 0.2f, -1.5f, 0.2f}, third);
    v.polygon({0.7f, 1.6f, 2.1f, 1.6f, 2.1f, 1.25f, 0.9f, 1.25f}, accent);
  } else if (design == 2) {
    for (int k = 0; k < 3; k++) {
      float y = 1.25f - 0.14f * static_cast<float>(k);
      v.polygon({-1.5f, y, 2.2f, y + 0.05f, 2.2f, y + 0.02f, -1.5f, y - 0.03f}, k == 1 ? third : accent);
    }
  } else if (era == 0) {
    v.polygon({-1.4f, 1.05f, 0.15f, 1.45f, 0.15f, 1.3f, -1.4f, 0.85f}, accent);
    v.polygon({-1.3f, 0.7f, 0.1f, 1.15f, 0.1f, 1.07f, -1.3f, 0.6f}, third);
  } else if (era == 1) {
    v.polygon({-1.45f, 0.3f, 0.1f, 1.6f, 0.2f, 1.1f, -0.5f, 0.3f}, accent);
    v.polygon({-0.6f, 0.3f, 0.2f, 1.0f, 0.2f, 0.8f, -0.3f, 0.3f}, third);
  } else {
    v.polygon({-1.5f, 1.6f, -0.3f, 1.7f, -0.1f, 1.35f, -1.1f, 0.45f, -1.5f, 0.5f}, accent);
    v.polygon({-1.2f, 0.9f, 0.2f, 1.55f, 0.2f, 1.4f, -0.9f, 0.6f}, third);
    v.polygon({-1.45f, 0.25f, -0.8f, 0.25f, -1.1f, 0.6f}, third);
  }
  // Side panels: a band under the plate; the rear fender's stripe.
  v.polygon({0.7f, 0.92f, 2.1f, 0.95f, 2.1f, 0.85f, 0.7f, 0.8f}, accent);
  v.polygon({2.0f, 1.6f, 3.25f, 1.8f, 3.25f, 1.75f, 2.0f, 1.55f}, accent);
  paint_shade(&img, 0, 0, 512, 256, 1.08f, 0.86f);
  // Swatches.
  uint32_t seed = 101u + static_cast<uint32_t>(design) * 7u + static_cast<uint32_t>(era);
  fill_swatch(&img, bs_plastic, 8, 8, 4, main, 0.02f, seed);
  fill_swatch(&img, bs_accent, 8, 8, 4, accent, 0.02f, seed);
  stripes_swatch(&img, bs_seat, 8, 8, 4, seat, shade(seat, 1.5f), 6, true);
  fill_swatch(&img, bs_frame, 8, 8, 4, frame, 0.04f, seed);
  fill_swatch(&img, bs_engine, 8, 8, 4, rgb(0.55f, 0.56f, 0.58f), 0.1f, seed + 1);
  stripes_swatch(&img, bs_cylinder, 8, 8, 4, rgb(0.3f, 0.3f, 0.32f), rgb(0.52f, 0.52f, 0.54f), 8, true);
  stripes_swatch(&img, bs_radiator, 8, 8, 4, rgb(0.12f, 0.12f, 0.13f), rgb(0.3f, 0.3f, 0.32f), 10, false);
  fill_swatch(&img, bs_fork_outer, 8, 8, 4, design == 2 ? silver : rgb(0.85f, 0.62f, 0.15f), 0.03f, seed);
  fill_swatch(&img, bs_stanchion, 8, 8, 4, rgb(0.8f, 0.8f, 0.84f), 0.02f, seed);
  fill_swatch(&img, bs_pipe, 8, 8, 4, rgb(0.52f, 0.46f, 0.42f), 0.15f, seed + 2);
  fill_swatch(&img, bs_silencer, 8, 8, 4, rgb(0.78f, 0.79f, 0.8f), 0.04f, seed);
  fill_swatch(&img, bs_rubber, 8, 8, 4, rgb(0.1f, 0.1f, 0.1f), 0.1f, seed);
  fill_swatch(&img, bs_bar, 8, 8, 4, design == 3 ? black : rgb(0.7f, 0.68f, 0.6f), 0.03f, seed);
  fill_swatch(&img, bs_alloy, 8, 8, 4, rgb(0.72f, 0.73f, 0.75f), 0.05f, seed + 3);
  stripes_swatch(&img, bs_chain, 8, 8, 4, rgb(0.15f, 0.14f, 0.13f), rgb(0.35f, 0.33f, 0.3f), 8, false);
  stripes_swatch(&img, bs_spring, 8, 8, 4, design == 4 ? mk.main : accent, shade(design == 4 ? mk.main : accent, 0.6f), 4, true);
  fill_swatch(&img, bs_steel, 8, 8, 4, rgb(0.6f, 0.6f, 0.62f), 0.08f, seed);
  fill_swatch(&img, bs_black, 8, 8, 4, rgb(0.1f, 0.1f, 0.11f), 0.05f, seed);
  fill_swatch(&img, bs_airbox, 8, 8, 4, rgb(0.2f, 0.2f, 0.22f), 0.05f, seed);
  *info = plate_info(bg, fg);
  return img;
}

struct Gear {
  const char *design;
  Colour jersey, second, accent, pants, boots;
};

const Gear gears[] = {
    {"stock", rgb(0.85f, 0.1f, 0.1f), white, black, rgb(0.15f, 0.15f, 0.17f), white},
    {"blue", rgb(0.1f, 0.3f, 0.85f), white, rgb(1.0f, 0.85f, 0.1f), rgb(0.1f, 0.2f, 0.5f), white},
    {"green", rgb(0.35f, 0.75f, 0.15f), black, white, black, black},
    {"orange", rgb(1.0f, 0.5f, 0.05f), black, rgb(0.6f, 0.6f, 0.62f), rgb(0.25f, 0.25f, 0.27f), rgb(0.95f, 0.5f, 0.1f)},
    {"black", rgb(0.12f, 0.12f, 0.14f), rgb(0.5f, 0.5f, 0.52f), rgb(0.9f, 0.1f, 0.15f), black, black},
};

Image gear_skin(const Gear &g) {
  Image img = image_new(512, 512, g.jersey);
  // Jersey: u from the right side (back at a quarter, front at three
  // quarters), t from the neck down; the pants begin at the waist.
  paint_rect(&img, 0, 0, 256, 60, g.second);                  // shoulder yoke
  paint_rect(&img, 0, 60, 256, 72, g.accent);
  for (float u : {0.0f, 0.5f, 1.0f}) paint_rect(&img, u * 256 - 14, 72, u * 256 + 14, 185, g.second);  // side panels
  paint_rect(&img, 0.75f * 256 - 40, 90, 0.75f * 256 + 40, 104, g.accent);  // chest band
  paint_rect(&img, 0.25f * 256 - 50, 150, 0.25f * 256 + 50, 160, g.accent);
  paint_rect(&img, 0, 180, 256, 192, black);                                 // belt
  paint_rect(&img, 0, 192, 256, 256, g.pants);
  paint_noise(&img, 0, 0, 256, 256, 10.0f, 0.04f, 11u);
  // Sleeves: the yoke colour at the top, an elbow panel, the cuff.
  paint_rect(&img, 256, 0, 384, 40, g.second);
  paint_rect(&img, 256, 120, 384, 146, g.accent);
  paint_rect(&img, 256, 236, 384, 256, g.second);
  paint_rect(&img, 256 + 56, 40, 256 + 72, 236, g.second);
  // Gloves, collar.
  paint_rect(&img, 384, 0, 512, 128, g.second);
  for (int k = 0; k < 4; k++) paint_rect(&img, 392.0f + 30.0f * static_cast<float>(k), 40, 410.0f + 30.0f * static_cast<float>(k), 88, g.accent);
  paint_rect(&img, 384, 128, 512, 256, g.second);
  // Pants: knee panels, a stripe down the outside of each leg.
  paint_rect(&img, 0, 256, 256, 512, g.pants);
  paint_rect(&img, 0, 256 + 195, 256, 256 + 240, shade(g.pants, 0.55f));
  paint_rect(&img, 0, 256, 10, 512, g.jersey);
  paint_rect(&img, 246, 256, 256, 512, g.jersey);
  paint_rect(&img, 118, 256, 138, 512, g.jersey);
  paint_noise(&img, 0, 256, 256, 512, 8.0f, 0.05f, 12u);
  // Boots with buckles; the soles.
  paint_rect(&img, 256, 256, 384, 512, g.boots);
  for (int k = 0; k < 4; k++) {
    float y = 290.0f + 48.0f * static_cast<float>(k);
    paint_rect(&img, 256, y, 384, y + 10, rgb(0.25f, 0.25f, 0.27f));
    paint_rect(&img, 300, y - 3, 330, y + 13, silver);
  }
  paint_rect(&img, 256, 480, 384, 512, dark);
  paint_rect(&img, 384, 256, 512, 384, dark);
  for (int k = 0; k < 8; k++) paint_rect(&img, 384, 260.0f + 16.0f * static_cast<float>(k), 512, 266.0f + 16.0f * static_cast<float>(k), black);
  return img;
}

struct Helmet {
  const char *design;
  Colour shell, stripe, accent, lens;
  int stars;
};

const Helmet helmets[] = {
    {"stock", white, rgb(0.85f, 0.1f, 0.1f), black, rgb(0.2f, 0.3f, 0.5f), 0},
    {"blue", rgb(0.1f, 0.3f, 0.85f), white, rgb(1.0f, 0.85f, 0.1f), rgb(0.8f, 0.5f, 0.1f), 0},
    {"yellow", rgb(1.0f, 0.85f, 0.05f), black, rgb(0.1f, 0.2f, 0.6f), rgb(0.3f, 0.3f, 0.35f), 0},
    {"black", rgb(0.1f, 0.1f, 0.12f), rgb(0.9f, 0.1f, 0.15f), rgb(0.5f, 0.5f, 0.52f), rgb(0.7f, 0.2f, 0.2f), 0},
    {"stars", white, rgb(0.1f, 0.2f, 0.7f), rgb(0.85f, 0.1f, 0.1f), rgb(0.2f, 0.4f, 0.4f), 1},
};

void paint_star(Image *img, float cx, float cy, float r, Colour c) {
  float xy[20];
  for (int k = 0; k < 10; k++) {
    float a = 3.14159265f * static_cast<float>(k) / 5.0f - 1.5707963f;
    float rr = k % 2 ? 0.42f * r : r;
    xy[2 * k] = cx + rr * std::cos(a);
    xy[2 * k + 1] = cy + rr * std::sin(a);
  }
  paint_polygon(img, xy, 10, c);
}

Image helmet_skin(const Helmet &h) {
  Image img = image_new(256, 256, h.shell);
  // Shell: u from the back round by the right (0.25) to the face (0.5).
  for (float u : {0.0f, 0.5f, 1.0f}) {
    paint_rect(&img, u * 256 - 10, 0, u * 256 + 10, 160, h.stripe);
    paint_rect(&img, u * 256 - 14, 0, u * 256 - 10, 160, h.accent);
    paint_rect(&img, u * 256 + 10, 0, u * 256 + 14, 160, h.accent);
  }
  for (float u : {0.25f, 0.75f}) {
    if (h.stars) {
      paint_star(&img, u * 256, 70, 18, h.stripe);
      paint_star(&img, u * 256 - 24, 100, 10, h.accent);
      paint_star(&img, u * 256 + 24, 100, 10, h.accent);
    } else {
      float x = u * 256;
      const float swoosh[] = {x - 40, 110, x + 30, 60, x + 40, 72, x - 30, 124};
      paint_polygon(&img, swoosh, 4, h.stripe);
    }
  }
  paint_rect(&img, 0, 0, 256, 8, h.stripe);
  // The eye port under the brow, and a dark rim at the neck.
  paint_ellipse(&img, 128, 118, 34, 26, rgb(0.04f, 0.04f, 0.05f));
  paint_rect(&img, 0, 150, 256, 160, dark);
  paint_shade(&img, 0, 0, 256, 160, 1.08f, 0.85f);
  fill_swatch(&img, hs_peak, 4, 8, 5, h.shell, 0, 0);
  {
    int x0, y0, x1, y1;
    swatch_cell(img, hs_peak, 4, 8, 5, &x0, &y0, &x1, &y1);
    paint_rect(&img, static_cast<float>(x0) + 26, static_cast<float>(y0), static_cast<float>(x1) - 26, static_cast<float>(y1), h.stripe);
  }
  fill_swatch(&img, hs_chin, 4, 8, 5, h.shell, 0.02f, 3);
  fill_swatch(&img, hs_goggle_frame, 4, 8, 5, h.accent, 0.02f, 4);
  fill_swatch(&img, hs_lens, 4, 8, 5, h.lens, 0, 0);
  stripes_swatch(&img, hs_strap, 4, 8, 5, h.accent, h.stripe, 4, false);
  fill_swatch(&img, hs_vent, 4, 8, 5, rgb(0.12f, 0.12f, 0.13f), 0.05f, 5);
  return img;
}

struct Wheels {
  const char *design;
  Colour rim, hub, sprocket;
};

const Wheels wheel_designs[] = {
    {"stock", rgb(0.12f, 0.12f, 0.13f), silver, rgb(0.72f, 0.73f, 0.75f)},
    {"gold", rgb(0.85f, 0.65f, 0.2f), rgb(0.15f, 0.15f, 0.16f), rgb(0.85f, 0.65f, 0.2f)},
    {"blue", rgb(0.1f, 0.25f, 0.8f), rgb(0.1f, 0.25f, 0.8f), silver},
    {"red", rgb(0.8f, 0.1f, 0.1f), rgb(0.15f, 0.15f, 0.16f), rgb(0.8f, 0.1f, 0.1f)},
    {"silver", rgb(0.75f, 0.76f, 0.78f), rgb(0.75f, 0.76f, 0.78f), rgb(0.95f, 0.45f, 0.05f)},
};

Image wheel_skin(const Wheels &w) {
  Image img = image_new(256, 256, rgb(0.1f, 0.1f, 0.1f));
  // Tyre: rubber, the tread blocks a shade lighter where the knobs stand,
  // a ring on each sidewall.
  paint_rect(&img, 0, 0, 256, 128, rgb(0.11f, 0.11f, 0.11f));
  for (int k = 0; k < 48; k++) {
    float x = static_cast<float>(k) * 256.0f / 48.0f;
    bool centre = k % 2 == 0;
    if (centre)
      paint_rect(&img, x, 50, x + 5.3f, 78, rgb(0.16f, 0.16f, 0.15f));
    else {
      paint_rect(&img, x, 36, x + 5.3f, 50, rgb(0.16f, 0.16f, 0.15f));
      paint_rect(&img, x, 78, x + 5.3f, 92, rgb(0.16f, 0.16f, 0.15f));
    }
  }
  paint_rect(&img, 0, 12, 256, 15, rgb(0.3f, 0.3f, 0.3f));
  paint_rect(&img, 0, 113, 256, 116, rgb(0.3f, 0.3f, 0.3f));
  paint_noise(&img, 0, 0, 256, 128, 4.0f, 0.12f, 21u);
  fill_swatch(&img, ws_rim, 4, 4, 2, w.rim, 0.03f, 22);
  fill_swatch(&img, ws_hub, 4, 4, 2, w.hub, 0.03f, 23);
  fill_swatch(&img, ws_spoke, 4, 4, 2, rgb(0.7f, 0.71f, 0.73f), 0, 0);
  fill_swatch(&img, ws_disc, 4, 4, 2, rgb(0.62f, 0.62f, 0.64f), 0.06f, 24);
  fill_swatch(&img, ws_sprocket, 4, 4, 2, w.sprocket, 0.03f, 25);
  fill_swatch(&img, ws_axle, 4, 4, 2, rgb(0.5f, 0.5f, 0.52f), 0.03f, 26);
  return img;
}

// ---- Trackside statues ----

Image straw_picture() {
  Image img = image_new(128, 128, rgb(0.78f, 0.66f, 0.36f));
  for (int k = 0; k < 90; k++) {
    float y = static_cast<float>((k * 37) % 128), x = static_cast<float>((k * 53) % 128);
    paint_rect(&img, x, y, x + 26, y + 1.2f, rgb(0.9f, 0.8f, 0.5f));
    paint_rect(&img, x + 40, y + 3, x + 58, y + 4, rgb(0.6f, 0.5f, 0.26f));
  }
  paint_noise(&img, 0, 0, 128, 128, 5.0f, 0.15f, 31u);
  // Twine bands across the long faces.
  for (float x : {36.0f, 92.0f}) paint_rect(&img, x - 2, 0, x + 2, 128, rgb(0.35f, 0.5f, 0.2f));
  return img;
}

Image block_picture() {
  Image img = image_new(64, 64, rgb(1.0f, 0.82f, 0.05f));
  for (int k = 0; k < 4; k++) paint_rect(&img, 0, 8.0f + 14.0f * static_cast<float>(k), 64, 11.0f + 14.0f * static_cast<float>(k), rgb(0.85f, 0.68f, 0.03f));
  paint_noise(&img, 0, 0, 64, 64, 8.0f, 0.05f, 32u);
  return img;
}

Image gate_picture() {
  Image img = image_new(128, 64, rgb(0.72f, 0.74f, 0.76f));
  paint_rect(&img, 0, 18, 128, 40, rgb(0.9f, 0.1f, 0.1f));
  paint_rect(&img, 0, 40, 128, 46, white);
  for (float x : {10.0f, 64.0f, 118.0f})
    for (float y : {8.0f, 54.0f}) paint_ellipse(&img, x, y, 3, 3, rgb(0.4f, 0.4f, 0.42f));
  paint_noise(&img, 0, 0, 128, 64, 6.0f, 0.06f, 33u);
  return img;
}

Image tent_picture() {
  Image img = image_new(128, 128, white);
  for (int k = 0; k < 8; k += 2) paint_rect(&img, 16.0f * static_cast<float>(k), 0, 16.0f * static_cast<float>(k + 1), 96, rgb(0.1f, 0.3f, 0.8f));
  paint_rect(&img, 0, 96, 128, 112, rgb(0.1f, 0.3f, 0.8f));
  paint_rect(&img, 0, 112, 128, 128, silver);
  return img;
}

Image banner_picture() {
  Image img = image_new(256, 64, rgb(0.95f, 0.95f, 0.95f));
  for (int i = 0; i < 8; i++)
    for (int j = 0; j < 8; j++)
      if ((i + j) % 2) {
        paint_rect(&img, 8.0f * static_cast<float>(i), 8.0f * static_cast<float>(j), 8.0f * static_cast<float>(i + 1), 8.0f * static_cast<float>(j + 1), black);
        paint_rect(&img, 192.0f + 8.0f * static_cast<float>(i), 8.0f * static_cast<float>(j), 200.0f + 8.0f * static_cast<float>(i), 8.0f * static_cast<float>(j + 1), black);
      }
  paint_rect(&img, 64, 0, 192, 64, rgb(0.9f, 0.15f, 0.1f));
  const float bolt[] = {100, 10, 150, 10, 120, 30, 160, 30, 96, 56, 118, 36, 84, 36};
  paint_polygon(&img, bolt, 7, rgb(1.0f, 0.85f, 0.1f));
  return img;
}

Image tree_picture() {
  Image img = image_new(128, 128, rgb(0.36f, 0.26f, 0.17f));
  for (int k = 0; k < 12; k++) paint_rect(&img, 5.0f * static_cast<float>(k), 0, 5.0f * static_cast<float>(k) + 2, 128, rgb(0.28f, 0.2f, 0.13f));
  paint_noise(&img, 0, 0, 64, 128, 4.0f, 0.2f, 34u);
  paint_rect(&img, 64, 0, 128, 128, rgb(0.2f, 0.42f, 0.16f));
  for (int k = 0; k < 60; k++) {
    float x = 64.0f + static_cast<float>((k * 29) % 64), y = static_cast<float>((k * 47) % 128);
    paint_ellipse(&img, x, y, 5, 4, k % 3 ? rgb(0.26f, 0.5f, 0.2f) : rgb(0.15f, 0.32f, 0.12f));
  }
  paint_noise(&img, 64, 0, 128, 128, 6.0f, 0.2f, 35u);
  return img;
}

void keep_picture(SkinSet *keep, const std::string &name, const Image &image, const std::string &info) {
  if (!keep) return;
  keep->names.push_back(name);
  keep->images.push_back(image);
  keep->infos.push_back(info);
}

void add_png(Archive *archive, SkinSet *keep, const std::string &name, const Image &image, const std::string &info = "") {
  Bytes png;
  if (!encode_png(image, info.empty() ? nullptr : info.c_str(), &png)) return;
  archive_add(archive, name, std::move(png));
  keep_picture(keep, name, image, info);
}

}  // namespace

const Image *skin_image(const SkinSet &skins, const std::string &name) {
  for (size_t i = 0; i < skins.names.size(); i++)
    if (skins.names[i] == name) return &skins.images[i];
  return nullptr;
}

void write_skin_files(Archive *archive, SkinSet *kept) {
  SkinSet local;
  SkinSet *keep = kept ? kept : &local;
  // Shared bike pictures, then every base's links to them.
  for (int m = 0; m < maker_count; m++)
    for (int d = 0; d < bike_design_count; d++)
      for (int era = 0; era < (d == 0 ? 3 : 1); era++) {
        std::string info;
        Image img = bike_skin(makers[m], d, era, &info);
        std::string name = std::string("bikeskins/") + makers[m].name + "-" + bike_designs[d];
        if (d == 0) name += std::to_string(era);
        add_png(archive, keep, name + ".png", img, info);
      }
  for (const BikeLook &look : bike_looks()) {
    for (int d = 0; d < bike_design_count; d++) {
      std::string target = std::string("bikeskins/") + makers[look.maker].name + "-" + bike_designs[d];
      if (d == 0) target += std::to_string(look.era);
      target += ".png";
      std::string link = look.base + "-" + bike_designs[d] + ".png";
      Bytes text;
      bytes_printf(&text, "LINK @%s\n", target.c_str());
      archive_add(archive, link, std::move(text));
      // The plate colours also beside the link, for readers that look there.
      for (size_t i = 0; i < keep->names.size(); i++)
        if (keep->names[i] == target) {
          Bytes info;
          bytes_printf(&info, "%s\n", keep->infos[i].c_str());
          archive_add(archive, link + ".info", std::move(info));
        }
    }
  }
  for (const Gear &g : gears) add_png(archive, keep, std::string("rider_body-") + g.design + ".png", gear_skin(g));
  for (const Helmet &h : helmets) add_png(archive, keep, std::string("rider_head-") + h.design + ".png", helmet_skin(h));
  for (const Wheels &w : wheel_designs) add_png(archive, keep, std::string("wheels-") + w.design + ".png", wheel_skin(w));
  add_png(archive, keep, "haybale.png", straw_picture());
  add_png(archive, keep, "tuffblock.png", block_picture());
  add_png(archive, keep, "tent.png", tent_picture());
  add_png(archive, keep, "banner.png", banner_picture());
  add_png(archive, keep, "trackside_tree.png", tree_picture());
  Image gate = gate_picture();
  archive_add(archive, "startgate.ppm", encode_ppm(gate));
  keep_picture(keep, "startgate.ppm", gate, "");
}

}  // namespace databuild
