// Trackside statues, each in its own frame with the ground at y 0 (the
// start gate excepted): the start gate, straw bales, tuff blocks, a canopy
// tent, a fence banner and a tree.
//
// The start gate's frame has its pivot gate_pivot_depth under the ground.
// The model is the dropped gate: the race stands it up by turning it about
// its x axis (by the same angle as its collision shape), which brings the
// panel upright across the lane ahead of the bike; dropped, it lies under
// the ground ahead.
#include <cmath>

#include "databuild.h"

namespace databuild {

namespace {

constexpr float gate_raised_angle = 0.5890486f;  // as the race tilts it

Model start_gate_model() {
  Model model;
  Mesh m;
  m.material = 48;
  // Built standing (raised), then laid down about the pivot.
  Place dropped = place_rotate_x({0, 0, 0}, -gate_raised_angle);
  const float ground = gate_pivot_depth;
  const UvRect face = {0, 0, 1, 1}, edge = {0.02f, 0.02f, 0.05f, 0.05f};
  const UvRect faces[6] = {edge, edge, edge, edge, face, face};
  mesh_box_faces(&m, dropped, {0, ground + 0.45f, 0}, {1.45f, 0.75f, 0.04f}, faces);
  // The rolled top edge and the hinge under the ground.
  const Vec3 top[2] = {{-1.45f, ground + 1.2f, 0}, {1.45f, ground + 1.2f, 0}};
  const float r[2] = {0.06f, 0.06f};
  mesh_tube(&m, dropped, top, r, r, 2, 8, edge, 1);
  model.meshes.push_back(m);
  return model;
}

Model bale_model() {
  Model model;
  Mesh m;
  m.material = 4;
  // Long faces show the straw along the bale, the ends the cut stalks.
  const UvRect side = {0, 0, 1, 0.5f}, end = {0.3f, 0.5f, 0.6f, 1};
  const UvRect faces[6] = {end, end, side, side, side, side};
  mesh_box_faces(&m, Place{}, {0, 1, 0}, {2, 1, 1}, faces);
  model.meshes.push_back(m);
  return model;
}

Model block_model() {
  Model model;
  Mesh m;
  m.material = 24;
  // An eight-sided moulding lying across x.
  const Vec3 path[2] = {{-1.5f, 0.75f, 0}, {1.5f, 0.75f, 0}};
  const float r[2] = {0.8f, 0.8f};
  mesh_tube(&m, Place{}, path, r, r, 2, 8, {0, 0, 1, 1}, 1);
  model.meshes.push_back(m);
  return model;
}

Model tent_model(int detail, const void *) {
  Model model;
  Mesh m;
  m.material = 8;
  const float half = 5, eave = 7, apex = 9;
  const UvRect roof = {0, 0, 1, 0.75f}, valance = {0, 0.75f, 1, 0.875f}, leg = {0.1f, 0.9f, 0.9f, 0.97f};
  // Four roof panels up to the apex, seen from above and below.
  const Vec3 corner[4] = {{-half, eave, -half}, {half, eave, -half}, {half, eave, half}, {-half, eave, half}};
  const Vec3 top{0, apex, 0};
  for (int k = 0; k < 4; k++) {
    Vec3 a = corner[k], b = corner[(k + 1) % 4];
    const Vec3 out[3] = {b, a, top}, in[3] = {a, b, top};
    const float uv[3][2] = {{roof.u1, roof.t1}, {roof.u0, roof.t1}, {0.5f, roof.t0}};
    mesh_face(&m, Place{}, out, uv, 3);
    mesh_face(&m, Place{}, in, uv, 3);
    // The valance hanging from the eave, both sides.
    Vec3 a2 = v_add(a, {0, -0.8f, 0}), b2 = v_add(b, {0, -0.8f, 0});
    const Vec3 vo[4] = {a2, b2, b, a}, vi[4] = {b2, a2, a, b};
    const float vuv[4][2] = {{valance.u0, valance.t1}, {valance.u1, valance.t1}, {valance.u1, valance.t0}, {valance.u0, valance.t0}};
    mesh_face(&m, Place{}, vo, vuv, 4);
    mesh_face(&m, Place{}, vi, vuv, 4);
    const Vec3 legs[2] = {{a.x * 0.98f, 0, a.z * 0.98f}, {a.x * 0.98f, eave, a.z * 0.98f}};
    const float lr[2] = {0.08f, 0.08f};
    mesh_tube(&m, Place{}, legs, lr, lr, 2, lod_sides(6, detail), leg, 0);
  }
  model.meshes.push_back(m);
  return model;
}

Model banner_model() {
  Model model;
  Mesh m;
  m.material = 8;
  // A stretched panel 8 ft by 2 ft between two posts, printed both sides.
  const UvRect print = {0, 0, 1, 1}, post = {0.01f, 0.01f, 0.02f, 0.02f};
  const UvRect faces[6] = {post, post, post, post, print, print};
  mesh_box_faces(&m, Place{}, {0, 2.2f, 0}, {4, 1, 0.02f}, faces);
  for (float x : {-4.1f, 4.1f}) {
    const Vec3 p[2] = {{x, 0, 0}, {x, 3.4f, 0}};
    const float r[2] = {0.07f, 0.07f};
    mesh_tube(&m, Place{}, p, r, r, 2, 6, post, 1);
  }
  model.meshes.push_back(m);
  return model;
}

Model tree_model(int detail, const void *) {
  Model model;
  Mesh m;
  m.material = 2;
  const UvRect bark = {0, 0, 0.5f, 1}, leaves = {0.5f, 0, 1, 1};
  const Vec3 trunk[3] = {{0, -0.5f, 0}, {0, 9, 0}, {0.3f, 16, 0.2f}};
  const float tr[3] = {0.9f, 0.7f, 0.4f};
  mesh_tube(&m, Place{}, trunk, tr, tr, 3, lod_sides(9, detail), bark, 0);
  // A crown of overlapping clumps.
  const float clumps[][4] = {{0, 18, 0, 7}, {3.5f, 15, 1.5f, 5}, {-3, 15.5f, -2, 5.2f}, {1, 22, -1, 5}, {-1.5f, 14, 3, 4.5f}};
  int count = detail >= 3 ? 2 : 5;
  for (int k = 0; k < count; k++) {
    const float *c = clumps[k];
    mesh_ellipsoid(&m, Place{}, {c[0], c[1], c[2]}, {c[3], c[3] * 0.85f, c[3]}, lod_sides(8, detail), lod_sides(12, detail), leaves);
  }
  model.meshes.push_back(m);
  return model;
}

}  // namespace

void write_statue_models(Archive *archive) {
  archive_add_model(archive, "startgate", start_gate_model());
  archive_add_model(archive, "haybale", bale_model());
  archive_add_model(archive, "tuffblock", block_model());
  archive_add_model(archive, "banner", banner_model());
  archive_add_model_lods(archive, "tent", tent_model, nullptr, false);
  archive_add_model_lods(archive, "trackside_tree", tree_model, nullptr, false);
}

}  // namespace databuild
