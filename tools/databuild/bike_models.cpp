// The bikes' models: one frame per graphics base (tank, seat, fenders,
// shrouds, radiators, engine, exhaust, frame tubes), the fork's upper and
// lower halves, the swingarm, both wheels with spokes, rim and knobbly tyre,
// and the number plates. Each model is in its own body's coordinates: the
// body's origin is its place in the catalogue (frame (0, 1.98, 3.6), fork
// upper at the steering head, fork lower, swingarm, each wheel at its axle),
// the bike facing -z with +x to the rider's right. Chrome and polished metal
// follow the other meshes as reflection layers. The chassis parts take the
// bike's graphics texture, the wheels the wheels texture; the plates map
// the number-plate texture the game composes (2:1, upright, read from
// outside) onto every face that shows.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "bike/catalogue.h"
#include "databuild.h"

namespace databuild {

namespace {

constexpr float pi = 3.14159265f;

const BikeInfo &reference_bike() { return *bike_info(0); }



// The fork's axis (steering head minus fork lower, unit) and the forward
// direction across it.
Vec3 fork_axis() {
  const BikeInfo &b = reference_bike();
  return v_unit(v_sub(v_from(b.steering_head), v_from(b.fork_lower_position)));
}
Vec3 fork_forward() {
  Vec3 a = fork_axis();
  return v_unit(v_cross(a, Vec3{1, 0, 0}));  // (0, a.z, -a.y): forward and up
}

void tube2(Mesh *m, const Place &at, Vec3 a, Vec3 b, float r, int sides, UvRect uv, int caps = 1) {
  const Vec3 path[2] = {a, b};
  const float rr[2] = {r, r};
  mesh_tube(m, at, path, rr, rr, 2, sides, uv, caps);
}

void tube_path(Mesh *m, const Place &at, const std::vector<Vec3> &path, const std::vector<float> &r, int sides,
               UvRect uv, int caps = 1) {
  mesh_tube(m, at, path.data(), r.data(), r.data(), static_cast<int>(path.size()), sides, uv, caps);
}

Vec3 mirror(Vec3 p, float side) { return {p.x * side, p.y, p.z}; }

// Seen-from-the-side projection of the bike graphics.
Projection graphics_projection() {
  return {bike_graphics_z0, bike_graphics_z1, bike_graphics_y0, bike_graphics_y1, {0, 0, 1, 0.5f}};
}

Projection swatch_projection(int k, float z0, float z1, float y0, float y1) { return {z0, z1, y0, y1, bike_swatch(k)}; }

// ---- Frame ----

void add_frame_tubes(Mesh *m, const BikeLook &look, int detail) {
  const Place at;
  int n = lod_sides(8, detail);
  UvRect paint = bike_swatch(bs_frame);
  // Head tube around the steering axis, between the clamps.
  Vec3 head = v_sub(v_from(reference_bike().steering_head), v_from(reference_bike().frame_position));
  Vec3 a = fork_axis();
  tube2(m, at, v_add(head, v_scale(a, 0.33f)), v_add(head, v_scale(a, 0.95f)), 0.1f, n, paint);
  bool spar = look.four_stroke && look.maker < 4;  // aluminium twin spar; the others a steel cradle
  for (float side = -1; side <= 1; side += 2) {
    std::vector<Vec3> main = {{0.1f, 1.55f, -1.12f}, {0.3f, 1.3f, -0.6f}, {0.33f, 1.0f, 0.05f},
                              {0.34f, 0.5f, 0.42f},  {0.34f, -0.3f, 0.5f}, {0.3f, -0.72f, 0.3f}};
    for (Vec3 &p : main) p = mirror(p, side);
    std::vector<float> r(main.size(), spar ? 0.085f : 0.06f);
    mesh_tube(m, at, main.data(), r.data(), spar ? std::vector<float>(main.size(), 0.12f).data() : r.data(),
              static_cast<int>(main.size()), n, paint, 1);
    std::vector<Vec3> cradle = {{0.05f, 1.15f, -1.22f}, {0.12f, 0.3f, -1.05f}, {0.18f, -0.35f, -0.92f},
                                {0.19f, -0.85f, -0.55f}, {0.22f, -0.9f, 0.05f}, {0.3f, -0.72f, 0.3f}};
    for (Vec3 &p : cradle) p = mirror(p, side);
    // Behind the engine and radiators from a few lengths off.
    if (detail < 3) tube_path(m, at, cradle, std::vector<float>(cradle.size(), 0.05f), n, paint);
    if (detail < 4) {
      // Subframe under the seat.
      tube2(m, at, mirror({0.33f, 1.0f, 0.15f}, side), mirror({0.22f, 1.42f, 2.0f}, side), 0.035f, lod_sides(6, detail), paint);
      tube2(m, at, mirror({0.34f, 0.35f, 0.45f}, side), mirror({0.22f, 1.32f, 1.7f}, side), 0.03f, lod_sides(6, detail), paint);
    }
  }
}

void add_engine(Mesh *m, const BikeLook &look, int detail) {
  const Place at;
  // Crankcase from the side, then the cylinder leaning forward.
  const float cases[][2] = {{-0.9f, -0.55f}, {-0.7f, -0.88f}, {0.05f, -0.95f}, {0.42f, -0.65f},
                            {0.45f, -0.2f},  {0.15f, 0.1f},   {-0.45f, 0.05f}, {-0.85f, -0.15f}};
  mesh_slab(m, at, cases, 8, -0.27f, 0.27f, swatch_projection(bs_engine, -0.9f, 0.45f, -0.95f, 0.1f));
  int n = lod_sides(12, detail);
  Vec3 base{0, -0.05f, -0.45f}, top = look.four_stroke ? Vec3{0, 0.85f, -0.78f} : Vec3{0, 0.7f, -0.7f};
  if (detail < 3) {
    // Cooling fins: rings alternating in size up the cylinder.
    std::vector<Vec3> path;
    std::vector<float> r;
    int fins = detail == 0 ? 5 : 3;
    for (int i = 0; i <= 2 * fins; i++) {
      float f = static_cast<float>(i) / static_cast<float>(2 * fins);
      path.push_back(v_add(base, v_scale(v_sub(top, base), f)));
      r.push_back(i % 2 ? 0.2f : 0.25f);
    }
    tube_path(m, at, path, r, n, bike_swatch(bs_cylinder));
  } else {
    tube2(m, at, base, top, 0.23f, n, bike_swatch(bs_cylinder));
  }
  if (look.four_stroke) mesh_box(m, at, {0, 0.9f, -0.72f}, {0.24f, 0.08f, 0.2f}, bike_swatch(bs_engine));
  if (detail < 3) {
    // Clutch cover on the right, ignition cover on the left.
    const float clutch[][2] = {{0.27f, 0.0f}, {0.27f, 0.28f}, {0.31f, 0.28f}, {0.33f, 0.2f}, {0.33f, 0.0f}};
    mesh_lathe(m, place_at({0, -0.5f, -0.15f}), clutch, 5, lod_sides(16, detail), bike_swatch(bs_engine));
    const float ignition[][2] = {{-0.31f, 0.0f}, {-0.31f, 0.18f}, {-0.28f, 0.2f}, {-0.27f, 0.2f}};
    mesh_lathe(m, place_at({0, -0.45f, -0.55f}), ignition, 4, lod_sides(12, detail), bike_swatch(bs_engine));
    // Countershaft sprocket on the left, behind the cases.
    const float sprocket[][2] = {{-0.31f, 0.0f}, {-0.31f, 0.13f}, {-0.28f, 0.13f}, {-0.28f, 0.0f}};
    mesh_lathe(m, place_at({0, -0.45f, 0.35f}), sprocket, 4, lod_sides(12, detail), bike_swatch(bs_chain));
  }
  // Air box and carburettor or throttle body under the seat.
  const float airbox[][2] = {{0.15f, 0.55f}, {1.15f, 0.75f}, {1.2f, 1.35f}, {0.2f, 1.4f}};
  mesh_slab(m, at, airbox, 4, -0.24f, 0.24f, swatch_projection(bs_airbox, 0.15f, 1.2f, 0.55f, 1.4f));
  if (detail < 4) tube2(m, at, {0, 0.45f, -0.35f}, {0, 0.62f, 0.2f}, 0.09f, lod_sides(8, detail), bike_swatch(bs_black));
  // Rear shock: spring coils around the body.
  if (detail < 4) {
    std::vector<Vec3> path;
    std::vector<float> r;
    Vec3 s0{0, 1.0f, 0.3f}, s1{0, -0.2f, 0.72f};
    int coils = detail == 0 ? 6 : 3;
    for (int i = 0; i <= 2 * coils; i++) {
      path.push_back(v_add(s0, v_scale(v_sub(s1, s0), static_cast<float>(i) / static_cast<float>(2 * coils))));
      r.push_back(i % 2 ? 0.085f : 0.11f);
    }
    tube_path(m, at, path, r, lod_sides(10, detail), bike_swatch(bs_spring));
  }
}

void add_radiators(Mesh *m, int detail) {
  for (float side = -1; side <= 1; side += 2) {
    // Tilted back along the down tube; the core faces outward.
    Place at = place_rotate_x({side * 0.3f, 0.5f, -0.92f}, -0.18f);
    const UvRect black = bike_swatch(bs_black), core = bike_swatch(bs_radiator);
    const UvRect faces[6] = {side > 0 ? core : black, side < 0 ? core : black, black, black, black, black};
    mesh_box_faces(m, at, {0, 0, 0}, {0.06f, 0.48f, 0.25f}, faces);
    (void)detail;
  }
}

// Tank, shrouds, seat, side panels, fenders: the plastics.
void add_plastics(Mesh *m, const BikeLook &look, int detail) {
  const Place at;
  Projection g = graphics_projection();
  mesh_ellipsoid(m, at, {0, 1.42f, -0.45f}, {0.32f, 0.24f, 0.72f}, lod_sides(8, detail), lod_sides(14, detail),
                 bike_swatch(bs_plastic));
  // Shroud outline from the side, a little sharper each era.
  static const float shroud[3][7][2] = {
      {{-1.35f, 1.45f}, {-0.7f, 1.62f}, {0.1f, 1.55f}, {0.05f, 1.15f}, {-0.45f, 0.62f}, {-1.05f, 0.22f}, {-1.32f, 0.55f}},
      {{-1.4f, 1.5f}, {-0.6f, 1.65f}, {0.15f, 1.58f}, {0.0f, 1.05f}, {-0.55f, 0.5f}, {-1.15f, 0.15f}, {-1.36f, 0.6f}},
      {{-1.45f, 1.55f}, {-0.55f, 1.68f}, {0.2f, 1.6f}, {-0.1f, 1.0f}, {-0.5f, 0.62f}, {-1.25f, 0.1f}, {-1.4f, 0.5f}}};
  for (float side = -1; side <= 1; side += 2) {
    float inner = 0.36f, outer = 0.43f;
    mesh_slab(m, at, shroud[look.era], 7, side < 0 ? -outer : inner, side < 0 ? -inner : outer, g);
    // Side panels under the seat (the number plates sit on them).
    const float panel[][2] = {{0.7f, 1.5f}, {2.05f, 1.56f}, {2.05f, 0.9f}, {1.25f, 0.62f}, {0.7f, 0.75f}};
    mesh_slab(m, at, panel, 5, side < 0 ? -0.37f : 0.31f, side < 0 ? -0.31f : 0.37f, g);
  }
  // Seat: a rounded pad from the tank to the fender.
  std::vector<Vec3> seat = {{0, 1.62f, -0.6f}, {0, 1.62f, -0.25f}, {0, 1.6f, 0.5f}, {0, 1.6f, 1.3f}, {0, 1.63f, 1.95f}, {0, 1.63f, 2.1f}};
  std::vector<float> sx = {0.1f, 0.19f, 0.25f, 0.25f, 0.2f, 0.08f}, sy = {0.04f, 0.08f, 0.1f, 0.1f, 0.09f, 0.04f};
  mesh_tube(m, at, seat.data(), sx.data(), sy.data(), static_cast<int>(seat.size()), lod_sides(14, detail),
            bike_swatch(bs_seat), 1);
  // Rear fender rising behind the seat, front part under it.
  const float fender[][2] = {{1.0f, 1.5f}, {2.0f, 1.58f}, {3.15f, 1.78f}, {3.2f, 1.7f}, {2.0f, 1.44f}, {1.0f, 1.36f}};
  mesh_slab(m, at, fender, 6, -0.3f, 0.3f, g);
}

void add_exhaust(Mesh *m, Mesh *chrome, const BikeLook &look, int detail) {
  const Place at;
  int n = lod_sides(10, detail);
  int first_pipe = static_cast<int>(m->verts.size());
  std::vector<Vec3> pipe;
  std::vector<float> r;
  if (!look.four_stroke) {
    // Expansion chamber: out of the front of the cylinder, down and round
    // the right side, swelling and narrowing to the silencer.
    pipe = {{0, 0.3f, -0.78f}, {0.04f, 0.15f, -1.05f}, {0.18f, -0.2f, -1.12f}, {0.34f, -0.35f, -0.75f},
            {0.42f, -0.15f, -0.15f}, {0.44f, 0.25f, 0.35f}, {0.42f, 0.45f, 0.85f}};
    r = {0.07f, 0.1f, 0.15f, 0.17f, 0.17f, 0.12f, 0.065f};
  } else {
    pipe = {{0, 0.55f, -0.85f}, {0.1f, 0.3f, -1.08f}, {0.3f, 0.0f, -0.98f}, {0.4f, -0.12f, -0.5f},
            {0.43f, 0.15f, 0.2f}, {0.42f, 0.45f, 0.85f}};
    r = std::vector<float>(pipe.size(), 0.065f);
  }
  tube_path(m, at, pipe, r, n, bike_swatch(bs_pipe), 0);
  float sr = look.four_stroke ? 0.14f : 0.12f;
  std::vector<Vec3> can = {{0.42f, 0.43f, 0.8f}, {0.42f, 0.45f, 0.9f}, {0.38f, 0.85f, 2.5f}, {0.38f, 0.87f, 2.6f}};
  std::vector<float> cr = {0.07f, sr, sr, 0.08f};
  tube_path(m, at, can, cr, n, bike_swatch(bs_silencer), 1);
  if (!chrome) return;
  // The polished metal again as a reflection layer.
  Mesh part;
  part.verts.assign(m->verts.begin() + first_pipe, m->verts.end());
  for (size_t i = 0; i + 2 < m->tris.size(); i += 3)
    if (m->tris[i] >= first_pipe)
      for (int k = 0; k < 3; k++) part.tris.push_back(m->tris[i + static_cast<size_t>(k)] - first_pipe);
  for (size_t i = 0; i < part.verts.size(); i++) chrome->verts.push_back(part.verts[i]);
  int base = static_cast<int>(chrome->verts.size() - part.verts.size());
  for (int t : part.tris) chrome->tris.push_back(base + t);
}

void add_controls(Mesh *m, int detail) {
  const Place at;
  const RiderPoseBlock &pose = reference_bike().pose;
  for (int side = 0; side < 2; side++) {
    float s = side ? 1.0f : -1.0f;
    Vec3 peg = v_from(pose.pegs[side]);
    // Foot peg: teeth on top, sticking out from the frame.
    mesh_box(m, at, {s * 0.5f, peg.y, peg.z}, {0.2f, 0.035f, 0.08f}, bike_swatch(bs_steel));
    if (detail < 3) {
      // Gear lever on the left, brake pedal on the right, ahead of the pegs.
      mesh_box(m, at, {s * 0.36f, peg.y + 0.05f, peg.z - 0.45f}, {0.03f, 0.03f, 0.32f}, bike_swatch(bs_steel));
    }
  }
}

}  // namespace

std::vector<BikeLook> bike_looks() {
  std::vector<BikeLook> looks;
  for (int i = 0; i < bike_info_count; i++) {
    const BikeInfo *b = bike_info(i);
    std::string base = b->frame_model;
    if (base.size() < 4 || base[0] != '@' || base.compare(base.size() - 3, 3, ".hm") != 0) continue;
    base = base.substr(1, base.size() - 4);
    bool known = false;
    for (const BikeLook &l : looks) known = known || l.base == base;
    if (known) continue;
    BikeLook look;
    look.base = base;
    const char *name = b->name;
    look.maker = strncmp(name, "cr", 2) == 0 ? 0 : strncmp(name, "kx", 2) == 0 ? 1 : strncmp(name, "rm", 2) == 0 ? 2
               : strncmp(name, "yz", 2) == 0 ? 3 : strncmp(name, "fc", 2) == 0 ? 5 : 4;
    look.four_stroke = strchr(b->bike_class, 'f') != nullptr;
    const char *year = strchr(name, '(');
    int y = year ? atoi(year + 1) : 2006;
    look.era = y <= 2009 ? 0 : y <= 2013 ? 1 : 2;
    looks.push_back(look);
  }
  return looks;
}

Model frame_model(const BikeLook &look, int detail) {
  Model model;
  Mesh body, chrome;
  body.material = 24;
  add_plastics(&body, look, detail);
  // From 45 ft the plastics, engine and pipe hide what the tubes would add,
  // from 90 ft the radiators too; the chrome's shine is for the bikes near by.
  if (detail < 4) add_frame_tubes(&body, look, detail);
  add_engine(&body, look, detail);
  if (detail < 5) add_radiators(&body, detail);
  add_exhaust(&body, detail < 3 ? &chrome : nullptr, look, detail);
  if (detail < 4) add_controls(&body, detail);
  model.meshes.push_back(body);
  if (!chrome.verts.empty()) model.meshes.push_back(reflection_of(chrome, 0.45f, 0.85f, 0.85f, 0.9f));
  return model;
}

Model fork_upper_model(int detail) {
  Model model;
  Mesh m;
  m.material = 32;
  const BikeInfo &b = reference_bike();
  const Place at;
  Vec3 a = fork_axis(), f = fork_forward();
  float leg = 0.5f * b.fork_leg_spacing;
  int n = lod_sides(12, detail);
  for (float side = -1; side <= 1; side += 2) {
    Vec3 x{side * leg, 0, 0};
    tube2(&m, at, v_add(x, v_scale(a, 1.05f)), v_add(x, v_scale(a, -0.45f)), 0.11f, n, bike_swatch(bs_fork_outer));
  }
  // Triple clamps around the tubes; the bar clamps on top.
  Place top = place_along(v_scale(a, 0.95f), a, {1, 0, 0}), bottom = place_along(v_scale(a, 0.35f), a, {1, 0, 0});
  mesh_box(&m, top, {0, 0, 0.02f}, {leg + 0.14f, 0.055f, 0.17f}, bike_swatch(bs_alloy));
  mesh_box(&m, bottom, {0, 0, 0.02f}, {leg + 0.15f, 0.08f, 0.2f}, bike_swatch(bs_alloy));
  if (detail < 3)
    for (float side = -1; side <= 1; side += 2)
      mesh_box(&m, top, {side * 0.16f, 0.12f, 0.1f}, {0.05f, 0.08f, 0.06f}, bike_swatch(bs_alloy));
  // Handlebar: low across the clamps, sweeping up and back to the grips.
  const RiderPoseBlock &pose = b.pose;
  Vec3 grip = v_from(pose.grips[1]);
  std::vector<Vec3> bar;
  const float xs[] = {-1.22f, -0.8f, -0.5f, -0.22f, 0.22f, 0.5f, 0.8f, 1.22f};
  for (float x : xs) {
    // Far off the bar's sweep needs only its ends and its middle.
    if (detail >= 4 && (std::fabs(x) == 0.8f || std::fabs(x) == 0.22f)) continue;
    float f01 = std::clamp((std::fabs(x) - 0.2f) / (grip.x - 0.3f), 0.0f, 1.0f);
    float sweep = f01 * f01 * (3 - 2 * f01);
    bar.push_back({x, 1.0f + (grip.y - 1.0f) * sweep, 0.55f + (grip.z - 0.55f) * sweep});
  }
  tube_path(&m, at, bar, std::vector<float>(bar.size(), 0.04f), lod_sides(8, detail), bike_swatch(bs_bar));
  for (int side = 0; side < 2; side++) {
    Vec3 g = v_from(pose.grips[side]);
    float s = side ? 1.0f : -1.0f;
    if (detail < 4)
      tube2(&m, at, {s * 0.85f, g.y - 0.003f, g.z - 0.003f}, {s * 1.24f, g.y + 0.01f, g.z + 0.005f}, 0.065f,
            lod_sides(10, detail), bike_swatch(bs_rubber));
    if (detail < 3) {
      // Clutch and brake levers reaching forward under the grips.
      tube2(&m, at, {s * 0.78f, g.y, g.z - 0.06f}, {s * 1.18f, g.y - 0.05f, g.z - 0.32f}, 0.025f, 4, bike_swatch(bs_alloy));
      mesh_box(&m, at, {s * 0.7f, g.y + 0.02f, g.z - 0.05f}, {0.07f, 0.05f, 0.06f}, bike_swatch(bs_black));
    }
  }
  // The front fender under the bottom clamp, long and flat over the wheel.
  Vec3 c = v_scale(a, 0.35f);
  const float fender[][2] = {{c.z - 2.1f, c.y - 0.36f}, {c.z - 1.2f, c.y - 0.1f}, {c.z - 0.4f, c.y - 0.04f},
                             {c.z + 0.1f, c.y - 0.12f}, {c.z + 0.16f, c.y - 0.2f}, {c.z - 0.4f, c.y - 0.1f},
                             {c.z - 1.2f, c.y - 0.16f}, {c.z - 2.08f, c.y - 0.42f}};
  mesh_slab(&m, at, fender, 8, -0.28f, 0.28f, swatch_projection(bs_plastic, c.z - 2.1f, c.z + 0.16f, c.y - 0.42f, c.y));
  (void)f;
  model.meshes.push_back(m);
  return model;
}

Model fork_lower_model(int detail) {
  Model model;
  Mesh m;
  m.material = 48;
  const BikeInfo &b = reference_bike();
  const Place at;
  Vec3 a = fork_axis(), f = fork_forward();
  Vec3 axle = v_sub(v_from(b.front_axle), v_from(b.fork_lower_position));
  float along = v_dot(axle, a);
  float leg = 0.5f * b.fork_leg_spacing;
  int n = lod_sides(12, detail);
  Mesh stanchions;
  for (float side = -1; side <= 1; side += 2) {
    Vec3 x{side * leg, 0, 0};
    tube2(&stanchions, at, v_add(x, v_scale(a, 0.85f)), v_add(x, v_scale(a, along + 0.25f)), 0.075f, n,
          bike_swatch(bs_stanchion), 0);
    // Axle lug: from the leg forward to the axle.
    Place lug = place_along(v_add(x, v_add(v_scale(a, along + 0.12f), v_scale(f, 0.05f))), a, {1, 0, 0});
    mesh_box(&m, lug, {0, 0, 0}, {0.08f, 0.24f, 0.12f}, bike_swatch(bs_alloy));
    // Plastic guard over the front of the leg.
    Place guard = place_along(v_add(x, v_add(v_scale(a, along + 0.62f), v_scale(f, 0.1f))), a, {1, 0, 0});
    mesh_box(&m, guard, {0, 0, 0}, {0.07f, 0.36f, 0.03f}, bike_swatch(bs_plastic));
  }
  // Axle and the front brake caliper on the left, behind the leg.
  tube2(&m, at, v_add(axle, {-0.5f, 0, 0}), v_add(axle, {0.5f, 0, 0}), 0.04f, lod_sides(8, detail), bike_swatch(bs_steel));
  if (detail < 4) mesh_box(&m, at, v_add(axle, {-0.3f, 0.25f, 0.28f}), {0.05f, 0.12f, 0.08f}, bike_swatch(bs_black));
  int first = static_cast<int>(m.verts.size());
  for (const MeshVertex &v : stanchions.verts) m.verts.push_back(v);
  for (int t : stanchions.tris) m.tris.push_back(first + t);
  model.meshes.push_back(m);
  if (detail < 4) model.meshes.push_back(reflection_of(stanchions, 0.6f, 0.9f, 0.9f, 0.95f));
  return model;
}

Model swingarm_model(int detail) {
  Model model;
  Mesh m;
  m.material = 40;
  const BikeInfo &b = reference_bike();
  const Place at;
  Vec3 pivot = v_sub(v_from(b.swingarm_pivot), v_from(b.swingarm_position));
  Vec3 axle = v_sub(v_from(b.rear_axle), v_from(b.swingarm_position));
  float side_x = 0.5f * b.frame_box[0];
  int n = lod_sides(8, detail);
  for (float side = -1; side <= 1; side += 2) {
    std::vector<Vec3> arm = {v_add(pivot, {side * side_x, 0, 0.02f}), v_add(pivot, {side * side_x, -0.05f, 0.5f}),
                             v_add(axle, {side * side_x, 0.0f, -0.2f}), v_add(axle, {side * side_x, 0.0f, 0.28f})};
    std::vector<float> rx = {0.05f, 0.055f, 0.045f, 0.04f}, ry = {0.14f, 0.13f, 0.09f, 0.08f};
    mesh_tube(&m, at, arm.data(), rx.data(), ry.data(), 4, n, bike_swatch(bs_alloy), 1);
  }
  tube2(&m, at, v_add(pivot, {-side_x - 0.04f, 0, 0}), v_add(pivot, {side_x + 0.04f, 0, 0}), 0.07f, n, bike_swatch(bs_alloy));
  // Cross brace ahead of the tyre.
  mesh_box(&m, at, v_add(pivot, {0, -0.04f, 0.38f}), {side_x, 0.09f, 0.07f}, bike_swatch(bs_alloy));
  // Axle, and the rear caliper on the right.
  tube2(&m, at, v_add(axle, {-0.5f, 0, 0}), v_add(axle, {0.5f, 0, 0}), 0.035f, lod_sides(8, detail), bike_swatch(bs_steel));
  if (detail < 4) {
    mesh_box(&m, at, v_add(axle, {0.33f, 0.28f, -0.22f}), {0.04f, 0.1f, 0.08f}, bike_swatch(bs_black));
    // The chain from the countershaft to the rear sprocket, on the left.
    Vec3 shaft = v_sub(v_add(v_from(b.frame_position), {-0.3f, -0.45f, 0.35f}), v_from(b.swingarm_position));
    for (float up = -1; up <= 1; up += 2) {
      Vec3 p0 = v_add(shaft, {0, up * 0.13f, 0}), p1 = v_add(axle, {0, up * 0.55f, 0});
      p0.x = p1.x = -0.29f;
      const Vec3 path[2] = {p0, p1};
      const float rx[2] = {0.018f, 0.018f}, ry[2] = {0.035f, 0.035f};
      mesh_tube(&m, at, path, rx, ry, 2, 4, bike_swatch(bs_chain), 0);
    }
    // Linkage under the pivot.
    mesh_box(&m, at, v_add(pivot, {0, -0.28f, 0.32f}), {0.08f, 0.07f, 0.18f}, bike_swatch(bs_alloy));
  }
  model.meshes.push_back(m);
  return model;
}

Model wheel_model(int front, int detail) {
  const BikeInfo &b = reference_bike();
  float outer = front ? b.front_ring_radius + b.front_tube_radius : b.rear_ring_radius + b.rear_tube_radius;
  float rim = front ? 0.87f : 0.79f, half = front ? 0.14f : 0.19f, rim_half = front ? 0.07f : 0.1f;
  Model model;
  Mesh m, shiny;
  m.material = 12;
  int slices = lod_sides(64, detail);
  // Tyre profile from the left bead round the outside to the right bead.
  // Knobs only close by: a few lengths off they are a pixel or two.
  float knob = detail < 2 ? 0.045f : 0.0f, base = outer - knob;
  const float profile[][2] = {{-rim_half, rim + 0.005f},     {-half, rim + 0.06f},
                              {-half * 1.02f, rim + 0.5f * (base - rim)}, {-half * 0.85f, base - 0.05f},
                              {-half * 0.45f, base},         {0, base},
                              {half * 0.45f, base},          {half * 0.85f, base - 0.05f},
                              {half * 1.02f, rim + 0.5f * (base - rim)}, {half, rim + 0.06f},
                              {rim_half, rim + 0.005f}};
  int first = static_cast<int>(m.verts.size());
  if (detail < 2) {
    mesh_lathe(&m, Place{}, profile, 11, slices, wheel_tyre_uv);
  } else {
    // From afar the tyre is a round-shouldered band: every other point.
    const float coarse[][2] = {{profile[0][0], profile[0][1]}, {profile[2][0], profile[2][1]}, {profile[4][0], profile[4][1]},
                               {profile[6][0], profile[6][1]}, {profile[8][0], profile[8][1]}, {profile[10][0], profile[10][1]}};
    mesh_lathe(&m, Place{}, coarse, 6, slices, wheel_tyre_uv);
  }
  if (knob > 0) {
    // Knobs: tread blocks standing out in a staggered pattern, the centre
    // row and the shoulder rows on alternate blocks.
    int ring = slices + 1;
    for (int i = 3; i <= 7; i++)
      for (int k = 0; k <= slices; k++) {
        int block = (k % slices) / 2;
        bool centre = i >= 4 && i <= 6;
        bool on = centre ? (block % 2 == 0) : (block % 2 == 1);
        if (!on) continue;
        MeshVertex &v = m.verts[static_cast<size_t>(first + i * ring + k)];
        float r = std::hypot(v.p[1], v.p[2]);
        float grow = (r + knob) / r;
        v.p[1] *= grow;
        v.p[2] *= grow;
      }
    mesh_smooth_normals(&m, first);
  }
  // Rim: a channel whose outer walls and bed show.
  const float channel[][2] = {{rim_half, rim + 0.03f}, {rim_half, rim - 0.06f}, {rim_half, rim - 0.06f},
                              {-rim_half, rim - 0.06f}, {-rim_half, rim - 0.06f}, {-rim_half, rim + 0.03f}};
  if (detail < 2) {
    mesh_lathe(&shiny, Place{}, channel, 6, lod_sides(32, detail), wheel_swatch(ws_rim));
  } else if (detail < 4) {
    // The same walls and bed with rounded edges.
    const float plain[][2] = {{rim_half, rim + 0.03f}, {rim_half, rim - 0.06f}, {-rim_half, rim - 0.06f},
                              {-rim_half, rim + 0.03f}};
    mesh_lathe(&shiny, Place{}, plain, 4, lod_sides(32, detail), wheel_swatch(ws_rim));
  } else {
    // Far off only the rim's bed shows through the spokes' blur.
    const float bed[][2] = {{rim_half, rim - 0.06f}, {-rim_half, rim - 0.06f}};
    mesh_lathe(&shiny, Place{}, bed, 2, lod_sides(32, detail), wheel_swatch(ws_rim));
  }
  // Hub with its spoke flanges; from afar a plain drum.
  const float hub[][2] = {{-0.2f, 0.05f}, {-0.2f, 0.2f}, {-0.16f, 0.2f}, {-0.13f, 0.12f},
                          {0.13f, 0.12f}, {0.16f, 0.2f}, {0.2f, 0.2f}, {0.2f, 0.05f}};
  const float drum[][2] = {{-0.2f, 0.05f}, {-0.2f, 0.18f}, {0.2f, 0.18f}, {0.2f, 0.05f}};
  if (detail < 3) mesh_lathe(&m, Place{}, hub, 8, lod_sides(12, detail), wheel_swatch(ws_hub));
  else mesh_lathe(&m, Place{}, drum, 4, lod_sides(12, detail), wheel_swatch(ws_hub));
  if (detail < 3) {
    // Thirty-six spokes laced tangentially, alternate sides; a dozen a few
    // lengths off, where they only need to read as spokes.
    int spokes = detail < 2 ? 36 : 12;
    for (int k = 0; k < spokes; k++) {
      float side = k % 2 ? 1.0f : -1.0f;
      float th = 2 * pi * static_cast<float>(k) / static_cast<float>(spokes);
      float tr = th + ((k / 2) % 2 ? 0.45f : -0.45f);
      Vec3 h{side * 0.17f, 0.19f * std::cos(th), 0.19f * std::sin(th)};
      Vec3 r{side * 0.02f, (rim - 0.05f) * std::cos(tr), (rim - 0.05f) * std::sin(tr)};
      tube2(&m, Place{}, h, r, 0.012f, 3, wheel_swatch(ws_spoke), 0);
    }
  }
  // Brake disc: the front on the left, the rear on the right; the rear
  // sprocket on the left.
  float dx = front ? -0.25f : 0.25f, dr = front ? 0.43f : 0.37f;
  float s = front ? -1.0f : 1.0f;
  const float disc[][2] = {{dx, 0.17f},          {dx, dr},
                           {dx, dr},             {dx - s * 0.015f, dr},
                           {dx - s * 0.015f, dr}, {dx - s * 0.015f, 0.17f}};
  if (detail >= 4) {
    // From 45 ft the disc and the sprocket are lost inside the tyre's
    // outline.
  } else if (detail >= 2) {
    // A few lengths off the disc is its outer face and the sprocket a plain
    // plate: their edges and teeth are under a pixel.
    const float face[][2] = {{dx, 0.17f}, {dx, dr}};
    const float rface[][2] = {{dx, dr}, {dx, 0.17f}};
    mesh_lathe(&shiny, Place{}, front ? face : rface, 2, lod_sides(24, detail), wheel_swatch(ws_disc));
    if (!front) {
      std::vector<float> plate;
      int count = lod_sides(40, detail);
      for (int k = 0; k < count; k++) {
        float th = 2 * pi * static_cast<float>(k) / static_cast<float>(count);
        plate.push_back(0.56f * std::cos(th));
        plate.push_back(0.56f * std::sin(th));
      }
      mesh_slab(&m, Place{}, reinterpret_cast<const float(*)[2]>(plate.data()), count, -0.29f, -0.27f,
                {-0.6f, 0.6f, -0.6f, 0.6f, wheel_swatch(ws_sprocket)});
    }
  } else if (front) {
    mesh_lathe(&shiny, Place{}, disc, 6, lod_sides(24, detail), wheel_swatch(ws_disc));
  } else {
    // Walked the other way round on the right side, so the faces look out.
    const float rdisc[][2] = {{dx - 0.015f, 0.17f}, {dx - 0.015f, dr}, {dx - 0.015f, dr}, {dx, dr}, {dx, dr}, {dx, 0.17f}};
    mesh_lathe(&shiny, Place{}, rdisc, 6, lod_sides(24, detail), wheel_swatch(ws_disc));
    std::vector<float> teeth;
    int count = lod_sides(40, detail);
    for (int k = 0; k < 2 * count; k++) {
      float th = pi * static_cast<float>(k) / static_cast<float>(count);
      float r = k % 2 ? 0.58f : 0.54f;
      teeth.push_back(r * std::cos(th));
      teeth.push_back(r * std::sin(th));
    }
    mesh_slab(&m, Place{}, reinterpret_cast<const float(*)[2]>(teeth.data()), 2 * count, -0.29f, -0.27f,
              {-0.6f, 0.6f, -0.6f, 0.6f, wheel_swatch(ws_sprocket)});
  }
  int fs = static_cast<int>(m.verts.size());
  for (const MeshVertex &v : shiny.verts) m.verts.push_back(v);
  for (int t : shiny.tris) m.tris.push_back(fs + t);
  model.meshes.push_back(m);
  if (detail < 3) model.meshes.push_back(reflection_of(shiny, 0.4f, 0.9f, 0.9f, 0.92f));
  return model;
}

namespace {

// A plate: a thin slab whose outer face carries the whole number-plate
// texture, upright and read from outside; the other faces take its
// background from a corner.
void plate(Mesh *m, Vec3 centre, Vec3 right, Vec3 up, float width, float height, float thickness) {
  Vec3 out = v_unit(v_cross(right, up));
  Vec3 hr = v_scale(v_unit(right), 0.5f * width), hu = v_scale(v_unit(up), 0.5f * height);
  Vec3 front = v_add(centre, v_scale(out, 0.5f * thickness)), back = v_sub(centre, v_scale(out, 0.5f * thickness));
  auto corner = [&](Vec3 c, float sr, float su) { return v_add(c, v_add(v_scale(hr, sr), v_scale(hu, su))); };
  const Place at;
  // Counter-clockwise seen from outside: left-bottom, right-bottom, right-top, left-top.
  Vec3 f[4] = {corner(front, -1, -1), corner(front, 1, -1), corner(front, 1, 1), corner(front, -1, 1)};
  const float fuv[4][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
  mesh_face(m, at, f, fuv, 4);
  const float bg[4][2] = {{0.02f, 0.04f}, {0.04f, 0.04f}, {0.04f, 0.08f}, {0.02f, 0.08f}};
  Vec3 k[4] = {corner(back, 1, -1), corner(back, -1, -1), corner(back, -1, 1), corner(back, 1, 1)};
  mesh_face(m, at, k, bg, 4);
  for (int e = 0; e < 4; e++) {
    Vec3 a = f[e], b = f[(e + 1) % 4];
    Vec3 a2 = v_sub(a, v_scale(out, thickness)), b2 = v_sub(b, v_scale(out, thickness));
    Vec3 q[4] = {a2, b2, b, a};
    mesh_face(m, at, q, bg, 4);
  }
}

}  // namespace

Model side_plates_model() {
  Model model;
  Mesh m;
  m.material = 16;
  for (float side = -1; side <= 1; side += 2) {
    // Outside is +x on the right, -x on the left; the text runs toward the
    // front seen from the right and toward the back seen from the left.
    Vec3 right = side > 0 ? Vec3{0, 0, -1} : Vec3{0, 0, 1};
    plate(&m, {side * 0.385f, 1.15f, 1.42f}, right, {0, 1, 0}, 0.8f, 0.4f, 0.02f);
  }
  model.meshes.push_back(m);
  return model;
}

Model front_plate_model() {
  Model model;
  Mesh m;
  m.material = 16;
  Vec3 a = fork_axis(), f = fork_forward();
  // Upright along the fork, facing forward; seen from ahead the text runs
  // toward the bike's left.
  plate(&m, v_add(v_scale(a, 0.8f), v_scale(f, 0.32f)), {-1, 0, 0}, a, 0.9f, 0.45f, 0.02f);
  model.meshes.push_back(m);
  return model;
}

Model rider_plate_model() {
  Model model;
  Mesh m;
  m.material = 8;
  // On the jersey's back, in the rider body's own frame: the spine runs
  // from the pelvis to the neck, the back faces away from it.
  const RiderPoseBlock &pose = reference_bike().pose;
  Vec3 pelvis{0, pose.hips[0][1], pose.hips[0][2]}, neck{0, pose.shoulders[0][1], pose.shoulders[0][2]};
  Vec3 spine = v_unit(v_sub(neck, pelvis));
  Vec3 back = v_cross({1, 0, 0}, spine);
  Vec3 centre = v_add(v_add(pelvis, v_scale(v_sub(neck, pelvis), 0.62f)), v_scale(back, 0.34f));
  plate(&m, centre, {1, 0, 0}, spine, 0.66f, 0.33f, 0.01f);
  model.meshes.push_back(m);
  return model;
}

namespace {

Model frame_lod(int detail, const void *arg) { return frame_model(*static_cast<const BikeLook *>(arg), detail); }
Model fork_upper_lod(int detail, const void *) { return fork_upper_model(detail); }
Model fork_lower_lod(int detail, const void *) { return fork_lower_model(detail); }
Model swingarm_lod(int detail, const void *) { return swingarm_model(detail); }
Model wheel_lod(int detail, const void *arg) { return wheel_model(*static_cast<const int *>(arg), detail); }


}  // namespace

void write_bike_models(Archive *archive) {
  for (const BikeLook &look : bike_looks()) archive_add_model_lods(archive, look.base, frame_lod, &look, true);
  const BikeInfo &b = reference_bike();
  archive_add_model_lods(archive, model_base_name(b.fork_upper_model), fork_upper_lod, nullptr, true);
  archive_add_model_lods(archive, model_base_name(b.fork_lower_model), fork_lower_lod, nullptr, true);
  archive_add_model_lods(archive, model_base_name(b.swingarm_model), swingarm_lod, nullptr, true);
  static const int front = 1, rear = 0;
  archive_add_model_lods(archive, model_base_name(b.front_wheel_model), wheel_lod, &front, true);
  archive_add_model_lods(archive, model_base_name(b.rear_wheel_model), wheel_lod, &rear, true);
  archive_add_model(archive, model_base_name(b.side_plates_model), side_plates_model());
  archive_add_model(archive, model_base_name(b.front_plate_model), front_plate_model());
  archive_add_model(archive, model_base_name(b.rider_plate_model), rider_plate_model());
}

}  // namespace databuild
