// Models: both file formats, bone weight slots, damaged triangles, tangents,
// variants by distance, the reflection layer, skinning on the processor and
// on the GPU, and the POV-Ray text.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/alloc.h"
#include "app/config.h"
#include "assets/file.h"
#include "assets/model.h"
#include "gl_fixture.h"
#include "render/render_stats.h"
#include "render/view.h"

namespace {

Model *parse_text(const std::string &text) {
  std::string dir = make_temp_dir("model");
  std::string path = dir + "/m.hm";
  write_text_file(path, text);
  DataFile *file = dfile_open(path.c_str(), "rb");
  Model *m = model_parse(file, path.c_str());
  dfile_close(file);
  return m;
}

bool logged(const char *text, int *count = nullptr) {
  int n = 0;
  for (int i = 0; i < 50; i++) {
    const char *line = message_line(i);
    if (line && strstr(line, text)) n++;
  }
  if (count) *count = n;
  return n > 0;
}

// A vertex line: position, normal (up), texture coordinates.
std::string vertex(float x, float y, float z, float u = 0, float v = 0) {
  char line[160];
  snprintf(line, sizeof line, "%g %g %g 0 1 0 %g %g\n", x, y, z, u, v);
  return line;
}

TEST(ModelFiles, ShapesDropBadTrianglesAndCountThem) {
  message_clear();
  std::string shp = "4 4\n" + vertex(0, 0, 0) + vertex(1, 0, 0) + vertex(0, 0, 1) + vertex(1, 0, 1) +
                    "0 1 2\n0 0 1\n1 3 4\n1 3 2\n";
  Model *m = parse_text(shp);
  ASSERT_NE(m, nullptr);
  ASSERT_NE(m->meshes, nullptr);
  EXPECT_EQ(m->meshes->triangle_count, 2) << "0 0 1 and the index 4 of a 4-vertex mesh go";
  EXPECT_EQ(m->degenerate_triangles, 2);
  EXPECT_TRUE(logged("2 degenerate triangles deleted in"));
  EXPECT_FLOAT_EQ(m->meshes->material, 32.0f);
  EXPECT_FLOAT_EQ(m->meshes->colour[3], 1.0f);
  EXPECT_FLOAT_EQ(m->meshes->texcoords[1], 1.0f) << "v is flipped";
  model_free(m);

  EXPECT_EQ(parse_text("HM3\n32 0 1 1 1 3 1\n" + vertex(0, 0, 0) + vertex(1, 0, 0) + vertex(0, 0, 1) + "0 1 2\n"),
            nullptr)
      << "an unknown version loads nothing";
  EXPECT_EQ(parse_text("HM1\n32 0 1 1 1 3 1\n" + vertex(0, 0, 0) + vertex(1, 0, 0)), nullptr) << "cut short";
  EXPECT_EQ(parse_text("HM1\n32 0 1 1 1 100000000 1\n"), nullptr) << "a mesh no file could hold";
  EXPECT_EQ(parse_text(""), nullptr);
}

TEST(ModelFiles, MeshesMaterialsAndTheReflectionLayer) {
  std::string tri = vertex(0, 0, 0) + vertex(1, 0, 0) + vertex(0, 0, 1) + "0 2 1\n";
  Model *m = parse_text("HM1\n32 0 0.5 0.5 0.5 3 1\n" + tri + "-1 0.25 1 0.8 0.6 3 1\n" + tri +
                        "-2 0.7 0.1 0.2 0.3 3 1\n" + tri + "garbage");
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(m->has_reflection);
  const Mesh *a = m->meshes, *b = a->next, *c = b->next;
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->next, nullptr) << "reading stops where a mesh fails to start";
  EXPECT_FLOAT_EQ(a->colour[3], 1.0f);
  EXPECT_FLOAT_EQ(b->colour[3], 0.25f) << "negative materials keep q as the fourth component";
  EXPECT_FLOAT_EQ(c->colour[3], 0.7f);
  model_free(m);
}

TEST(ModelFiles, BoneWeightSlots) {
  message_clear();
  auto skinned = [](const char *weights_a, const char *weights_b) {
    std::string s = "HM2 5 rig\n32 0 1 1 1 3 1\n";
    s += "0 0 0 0 1 0 0 0 " + std::string(weights_a) + "\n";
    s += "1 0 0 0 1 0 0 0 " + std::string(weights_b) + "\n";
    s += "0 0 1 0 1 0 0 0 0 0 0 0 0\n0 2 1\n";
    return s;
  };
  // Rising weights: the fifth replaces the smallest, 0.1.
  Model *m = parse_text(skinned("0.1 0.2 0.3 0.4 0.5", "0.5 0.4 0.3 0.2 0.1"));
  ASSERT_NE(m, nullptr);
  const Mesh *mesh = m->meshes;
  EXPECT_EQ(mesh->bone_count, 5);
  auto slots = [&](int v) {
    std::vector<std::pair<int, float>> s;
    for (int k = 0; k < 4; k++) s.push_back({static_cast<int>(mesh->bone_indices[4 * v + k]), mesh->weights[4 * v + k]});
    std::sort(s.begin(), s.end());
    return s;
  };
  auto a = slots(0);
  EXPECT_EQ(a[0].first, 1);
  EXPECT_NEAR(a[0].second, 0.2f / 1.4f, 1e-6);
  EXPECT_EQ(a[3].first, 4);
  EXPECT_NEAR(a[3].second, 0.5f / 1.4f, 1e-6);
  // Falling weights: the fifth (0.1) still replaces the smallest stored, 0.2.
  auto b = slots(1);
  EXPECT_EQ(b[0].first, 0);
  EXPECT_EQ(b[1].first, 1);
  EXPECT_EQ(b[2].first, 2);
  EXPECT_EQ(b[3].first, 4);
  EXPECT_NEAR(b[3].second, 0.1f / 1.3f, 1e-6);
  int warnings = 0;
  logged("more than 4 bone influences", &warnings);
  EXPECT_EQ(warnings, 1) << "once per mesh";
  // No positive weight at all: a quarter each.
  EXPECT_FLOAT_EQ(mesh->weights[8], 0.25f);
  EXPECT_FLOAT_EQ(mesh->weights[11], 0.25f);
  model_free(m);
}

TEST(ModelFiles, TangentsFollowTheTextureAndSurviveMirroring) {
  // u grows along +x on the first triangle and along -x on the mirrored one.
  Model *m = parse_text("HM1\n32 0 1 1 1 6 2\n" + vertex(0, 0, 0, 0, 0) + vertex(1, 0, 0, 1, 0) + vertex(0, 0, 1, 0, 1) +
                        vertex(3, 0, 0, 0, 0) + vertex(2, 0, 0, 1, 0) + vertex(3, 0, 1, 0, 1) + "0 2 1\n3 5 4\n" +
                        "32 0 1 1 1 3 1\n" + vertex(0, 0, 0) + vertex(1, 0, 0) + vertex(0, 0, 1) + "0 2 1\n");
  ASSERT_NE(m, nullptr);
  const float *t = m->meshes->tangents;
  EXPECT_NEAR(t[0], 1.0f, 1e-5);
  EXPECT_NEAR(std::fabs(t[9]), 1.0f, 1e-5);
  EXPECT_NEAR(t[10], 0.0f, 1e-5);
  EXPECT_NEAR(t[11], 0.0f, 1e-5);
  // No texture mapping at all: a unit tangent along the longer edge.
  const float *u = m->meshes->next->tangents;
  EXPECT_NEAR(u[0] * u[0] + u[1] * u[1] + u[2] * u[2], 1.0f, 1e-5);
  model_free(m);
}

TEST(ModelFiles, ReflectionCoordinatesMapUpToTheCentre) {
  const float R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const float K[3] = {0, 0, 0};
  const float up[3] = {0, 1, 0};
  // Looking straight down at an upward face: the ray bounces straight up.
  const float E[3] = {0, -5, 0};
  float tc[2];
  reflection_coords(E, K, up, R, tc);
  EXPECT_NEAR(tc[0], 0.5f, 1e-6);
  EXPECT_NEAR(tc[1], 0.5f, 1e-6);
  // A ray skimming along +x stays on the horizon: radius 1/4 toward +x.
  const float along[3] = {5, 0, 0};
  reflection_coords(along, K, up, R, tc);
  EXPECT_NEAR(tc[0], 0.75f, 1e-5);
  EXPECT_NEAR(tc[1], 0.5f, 1e-5);
  // The model turned a quarter about y: the same local ray points along -z.
  const float turned[9] = {0, 0, 1, 0, 1, 0, -1, 0, 0};
  reflection_coords(along, K, up, turned, tc);
  EXPECT_NEAR(tc[0], 0.5f, 1e-5);
  EXPECT_NEAR(tc[1], 0.25f, 1e-5);
}

class VariantTest : public ::testing::Test {
 protected:
  std::string dir;
  void SetUp() override {
    dir = make_temp_dir("variants");
    setenv("QX_HOME", dir.c_str(), 1);
    setenv("XDG_DATA_HOME", (dir + "/home").c_str(), 1);
    std::string tri = vertex(0, 0, 0) + vertex(1, 0, 0) + vertex(0, 0, 1) + "0 2 1\n";
    write_text_file(dir + "/objects/tree.hm", "HM1\n32 0 1 1 1 3 1\n" + tri);
    write_text_file(dir + "/objects/tree_lod7.hm", "HM1\n32 0 0.7 0.7 0.7 3 1\n" + tri);
    write_text_file(dir + "/objects/tree_lod6.hm", "HM1\n32 0 0.6 0.6 0.6 3 1\n" + tri);
    write_text_file(dir + "/objects/tree_lodding.hm", "not a variant");
    file_layer_reset_for_tests();
  }
  void TearDown() override {
    model_flush(1);
    model_set_options(1, 0, 1);
    unsetenv("QX_HOME");
    file_layer_reset_for_tests();
  }
};

TEST_F(VariantTest, TheVariantForTheDistance) {
  unsigned id = model_read("@objects/tree.hm");
  ASSERT_NE(id, 0u);
  const Model *m = model_get(id);
  ASSERT_NE(m->next_variant, nullptr);
  EXPECT_FLOAT_EQ(m->next_variant->threshold, 64.0f);
  ASSERT_NE(m->next_variant->next_variant, nullptr);
  EXPECT_FLOAT_EQ(m->next_variant->next_variant->threshold, 128.0f) << "sorted by threshold";
  EXPECT_EQ(m->next_variant->next_variant->next_variant, nullptr);
  model_set_options(1, 0, 1);
  EXPECT_EQ(model_variant(m, 100), m->next_variant) << "100 away: the 64 variant";
  EXPECT_EQ(model_variant(m, 63), m);
  EXPECT_EQ(model_variant(m, 128), m->next_variant->next_variant);
  model_set_options(2, 0, 1);
  EXPECT_EQ(model_variant(m, 64), m->next_variant->next_variant) << "the scale multiplies the distance";
  model_set_options(1, 64, 1);
  EXPECT_EQ(model_variant(m, 0), m->next_variant) << "a threshold less the bias of 0 is always passed";
  // The followed bike's close-up: by distance, but never past the first variant.
  model_set_options(1, 0, 1);
  model_set_close_up(1);
  EXPECT_EQ(model_variant(m, 63), m) << "close-up, near: still the full model";
  EXPECT_EQ(model_variant(m, 1000), m->next_variant) << "close-up, far: the first variant only";
  model_set_close_up(0);
  EXPECT_EQ(model_variant(m, 1000), m->next_variant->next_variant);
  EXPECT_EQ(model_read("@objects/tree.hm"), id) << "cached";
  EXPECT_EQ(model_read("@objects/TREE.hm"), id) << "found ignoring case";
  EXPECT_EQ(model_read("@objects/none.hm"), 0u);
}

// The culling sphere sits on the model's origin and holds every variant,
// even one that reaches further than the model itself.
TEST_F(VariantTest, TheRadiusHoldsEveryVariant) {
  std::string far = vertex(-3, 0, -4) + vertex(1, 0, 0) + vertex(0, 0, 1) + "0 2 1\n";
  write_text_file(dir + "/objects/bush.hm", "HM1\n32 0 1 1 1 3 1\n" + vertex(0, 0, 0) + vertex(1, 0, 0) +
                                                vertex(0, 0, 1) + "0 2 1\n");
  write_text_file(dir + "/objects/bush_lod6.hm", "HM1\n32 0 1 1 1 3 1\n" + far);
  file_layer_reset_for_tests();
  unsigned id = model_read("@objects/bush.hm");
  ASSERT_NE(id, 0u);
  EXPECT_FLOAT_EQ(model_radius(id), 5.0f) << "the coarser variant's corner at (-3, 0, -4)";
  EXPECT_FLOAT_EQ(model_radius(model_read("@objects/tree.hm")), 1.0f);
  EXPECT_EQ(model_radius(0), 0.0f);
}

TEST_F(VariantTest, GenerationsAndTheTracksHold) {
  texture_new_generation();
  unsigned tree = model_read("@objects/tree.hm");
  texture_hold_begin();
  unsigned held = model_read("@objects/tree_lod6.hm");
  texture_hold_end();
  ASSERT_NE(tree, 0u);
  texture_new_generation();
  model_flush(0);
  EXPECT_EQ(model_get(tree), nullptr) << "not asked for again";
  EXPECT_NE(model_get(held), nullptr) << "held by the loaded track";
  model_release_held();
  texture_new_generation();
  model_flush(0);
  EXPECT_EQ(model_get(held), nullptr);
}

class ModelDrawTest : public GlTest {
 protected:
  void SetUp() override {
    GlTest::SetUp();
    if (IsSkipped()) return;
    model_flush(1);
    model_set_options(1, 0, 1);
  }
  void TearDown() override {
    model_flush(1);
    GlTest::TearDown();
  }
  unsigned load(const std::string &text) {
    std::string dir = make_temp_dir("drawmodel");
    write_text_file(dir + "/m.hm", text);
    return model_read((dir + "/m.hm").c_str());
  }
};

TEST_F(ModelDrawTest, NormalDrawingStopsAtTheReflectionLayer) {
  auto tris = [](int n) {
    std::string s;
    for (int i = 0; i < n; i++) s += vertex(i, 0, 0) + vertex(i + 1, 0, 0) + vertex(i, 0, 1);
    for (int i = 0; i < n; i++) s += std::to_string(3 * i) + " " + std::to_string(3 * i + 2) + " " + std::to_string(3 * i + 1) + "\n";
    return s;
  };
  unsigned id = load("HM1\n32 0 1 1 1 3 1\n" + tris(1) + "-1 1 1 1 1 6 2\n" + tris(2) + "32 0 1 1 1 12 4\n" + tris(4));
  ASSERT_NE(id, 0u);
  const float away[3] = {0, 0, -10};
  render_stats_frame_begin();
  model_draw(id, away, nullptr);
  EXPECT_EQ(render_stats().model_polygons, 1) << "only the mesh before the first reflection mesh";
  render_stats_frame_begin();
  const float eye[3] = {0, 0, 10}, at[3] = {0, 0, 0}, R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  model_draw_reflection(id, eye, at, R, nullptr);
  EXPECT_EQ(render_stats().model_polygons, 2) << "only the reflection mesh";
  active_graphics().reflections = 1;
  EXPECT_TRUE(model_has_reflection(id));
  active_graphics().reflections = 0;
  EXPECT_FALSE(model_has_reflection(id));
}

// The reflection pass adds the layer's colour times its strength, and the
// scene's fading strength scales it again.
TEST_F(ModelDrawTest, ReflectionStrengthScalesTheShine) {
  std::string quad = vertex(-4, -4, 0) + vertex(4, -4, 0) + vertex(4, 4, 0) + vertex(-4, 4, 0) + "0 1 2\n0 2 3\n";
  unsigned id = load("HM1\n32 0 1 1 1 4 2\n" + quad + "-1 1 1 1 1 4 2\n" + quad);
  ASSERT_NE(id, 0u);
  auto centre_red = [&](float strength) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    set_projection(32, 32, 90);
    glLoadIdentity();
    glTranslatef(0, 0, -5);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    const float eye[3] = {0, 0, 5}, at[3] = {0, 0, 0}, R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    model_set_reflection_strength(strength);
    model_draw_reflection(id, eye, at, R, nullptr);
    model_set_reflection_strength(1);
    unsigned char px[3];
    glReadPixels(16, 16, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, px);
    return static_cast<int>(px[0]);
  };
  EXPECT_GE(centre_red(1), 250);
  EXPECT_NEAR(centre_red(0.5f), 128, 3);
  EXPECT_EQ(centre_red(0), 0);
}

// Where the renderer has buffer objects a mesh goes into them once; drawn
// from them, a lit, textured quad looks as it does drawn vertex by vertex,
// so every array sits where its pointer says.
TEST_F(ModelDrawTest, BuffersDrawWhatImmediateModeDraws) {
  ASSERT_EQ(build_programs(1), 1);
  // Four texels of different colours: a wrong texture coordinate array shows.
  uint8_t texels[4 * 4] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
  unsigned tex = texture_upload(texels, 2, 2, 4, upload_single_level, nullptr);
  auto quad = [](float nx) {
    char n[64];
    snprintf(n, sizeof n, " %g 0.8 0 ", nx);
    std::string s;
    const float corners[4][4] = {{-3, -3, 0, 0}, {3, -3, 1, 0}, {3, 3, 1, 1}, {-3, 3, 0, 1}};
    for (const auto &c : corners) s += std::to_string(c[0]) + " " + std::to_string(c[1]) + " 0" + n +
                                       std::to_string(c[2]) + " " + std::to_string(c[3]) + "\n";
    return s + "0 1 2\n0 2 3\n";
  };
  std::string text = "HM1\n32 0.5 0.5 0.5 1 4 2\n" + quad(0.6f);
  auto draw = [&](unsigned id) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    set_projection(width, height, 90);
    glLoadIdentity();
    glTranslatef(0, 0, -4);
    const float sun[4] = {0, 0, 1, 0}, white[4] = {1, 1, 1, 1}, dim[4] = {0.2f, 0.2f, 0.2f, 1};
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_POSITION, sun);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT0, GL_AMBIENT, dim);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
    glFogf(GL_FOG_DENSITY, 0);
    glDisable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, tex);
    use_program(program_lit);
    const float away[3] = {0, 0, 4};
    model_draw(id, away, nullptr);
    use_program(0);
    glDisable(GL_LIGHTING);
    return read_pixels();
  };
  unsigned buffered = load(text);
  ASSERT_NE(buffered, 0u);
  ASSERT_TRUE(gl_caps().vertex_buffers) << "Mesa has had buffer objects for twenty years";
  EXPECT_NE(model_get(buffered)->meshes->vertex_buffer, 0u);
  std::vector<unsigned char> from_buffers = draw(buffered);
  model_flush(1);
  model_set_options(1, 0, 0);  // --novertexarrays
  unsigned immediate = load(text);
  ASSERT_NE(immediate, 0u);
  EXPECT_EQ(model_get(immediate)->meshes->vertex_buffer, 0u);
  std::vector<unsigned char> one_by_one = draw(immediate);
  int lit = 0, differ = 0, colours = 0;
  int seen[3] = {};
  for (size_t i = 0; i < one_by_one.size(); i += 3) {
    int a = one_by_one[i] + one_by_one[i + 1] + one_by_one[i + 2];
    lit += a > 60;
    for (int c = 0; c < 3; c++) seen[c] |= one_by_one[i + c] > 100 && one_by_one[i + (c + 1) % 3] < 60;
    for (int c = 0; c < 3; c++) differ += std::abs(one_by_one[i + c] - from_buffers[i + c]) > 8;
  }
  for (int c : seen) colours += c;
  EXPECT_GT(lit, width * height / 4) << "the quad fills much of the view";
  EXPECT_EQ(colours, 3) << "red, green and blue texels show";
  EXPECT_LT(differ, width * height / 100) << "buffers and immediate mode draw the same picture";
  texture_release(tex, 0);
}

// A strip along x from 0 to 4, skinned to two bones: bone 1 turns the far
// half up. Drawn flat white, the processor and the GPU must agree.
std::string skinned_strip(int bones) {
  std::string s = "HM2 " + std::to_string(bones) + " rig\n32 0 1 1 1 10 8\n";
  for (int i = 0; i < 5; i++) {
    for (int j = 0; j < 2; j++) {
      float w1 = i <= 1 ? 0.0f : i == 2 ? 0.5f : 1.0f;
      char line[200];
      snprintf(line, sizeof line, "%d %d 0 0 0 1 0 0 %g %g", i, j, 1 - w1, w1);
      s += line;
      for (int b = 2; b < bones; b++) s += " 0";
      s += "\n";
    }
  }
  for (int i = 0; i < 4; i++) {
    int a = 2 * i;
    s += std::to_string(a) + " " + std::to_string(a + 2) + " " + std::to_string(a + 1) + "\n";
    s += std::to_string(a + 1) + " " + std::to_string(a + 2) + " " + std::to_string(a + 3) + "\n";
  }
  return s;
}

ModelPose bent_pose() {
  ModelPose pose = {};
  pose.count = 2;
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  memcpy(pose.rotations[0], identity, sizeof identity);
  // Bone 1 turns 60 degrees about z round x = 2 and moves up half a unit.
  float c = 0.5f, s = std::sqrt(3.0f) / 2;
  const float turn[9] = {c, s, 0, -s, c, 0, 0, 0, 1};
  memcpy(pose.rotations[1], turn, sizeof turn);
  pose.centres[1][0] = 2;
  pose.translations[1][0] = 2;
  pose.translations[1][1] = 0.5f;
  return pose;
}

std::vector<unsigned char> draw_strip(unsigned id, const ModelPose *pose, int program, int w, int h) {
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  set_projection(w, h, 90);
  glLoadIdentity();
  glTranslatef(-2, -1, -5);
  // Flat white: only ambient light, white material, no texture colour.
  const float white[4] = {1, 1, 1, 1}, black[4] = {0, 0, 0, 1};
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glLightfv(GL_LIGHT0, GL_AMBIENT, white);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, black);
  glLightfv(GL_LIGHT0, GL_SPECULAR, black);
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, black);
  glDisable(GL_CULL_FACE);
  glFogf(GL_FOG_DENSITY, 0);  // the programs always fog
  use_program(program);
  const float away[3] = {0, 0, 5};
  model_draw(id, away, pose);
  use_program(0);
  glDisable(GL_LIGHTING);
  std::vector<unsigned char> px(static_cast<size_t>(w) * h * 3);
  glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, px.data());
  return px;
}

TEST_F(ModelDrawTest, SkinningOnTheProcessorAndTheGpuAgree) {
  ASSERT_EQ(build_programs(1), 1);
  // A white texture bound on unit 0 for the program (the fixed pipeline
  // draws untextured).
  uint8_t white[4 * 2] = {255, 255, 255, 255, 255, 255, 255, 255};
  unsigned tex = texture_upload(white, 1, 1, 4, upload_single_level, nullptr);
  glBindTexture(GL_TEXTURE_2D, tex);
  unsigned id = load(skinned_strip(2));
  ASSERT_NE(id, 0u);
  ModelPose pose = bent_pose();
  std::vector<unsigned char> rest = draw_strip(id, nullptr, 0, width, height);
  std::vector<unsigned char> gpu = draw_strip(id, &pose, program_lit, width, height);
  // Drawn again without a pose (before the processor poses the drawing
  // arrays), the program goes back to the rest shape.
  std::vector<unsigned char> gpu_rest = draw_strip(id, nullptr, program_lit, width, height);
  std::vector<unsigned char> cpu = draw_strip(id, &pose, 0, width, height);
  int lit_cpu = 0, lit_gpu = 0, differ = 0, moved = 0;
  for (size_t i = 0; i < cpu.size(); i += 3) {
    bool a = cpu[i] > 128, b = gpu[i] > 128, r = rest[i] > 128;
    lit_cpu += a;
    lit_gpu += b;
    differ += a != b;
    moved += a != r;
  }
  EXPECT_GT(lit_cpu, 1000);
  EXPECT_GT(moved, 500) << "the pose bends the strip";
  EXPECT_LT(differ, lit_cpu / 50) << "GPU and processor skinning draw the same shape";
  EXPECT_NEAR(lit_gpu, lit_cpu, lit_cpu / 50);
  int rest_differ = 0;
  for (size_t i = 0; i < rest.size(); i += 3) rest_differ += (rest[i] > 128) != (gpu_rest[i] > 128);
  EXPECT_LT(rest_differ, lit_cpu / 50) << "no pose is left behind for the next model";

  // Written for twelve bones, a nine-bone pose leaves it at rest.
  unsigned twelve = load(skinned_strip(12));
  ModelPose nine = bent_pose();
  nine.count = 9;
  std::vector<unsigned char> unposed = draw_strip(twelve, &nine, 0, width, height);
  EXPECT_EQ(unposed, rest);
  texture_release(tex, 0);
}

TEST_F(ModelDrawTest, PovRayText) {
  unsigned id = load("HM1\n32 0 1 1 1 3 1\n" + vertex(0, 0, 0, 0, 0) + vertex(1, 0, 0, 1, 0) + vertex(0, 0, 1, 0, 1) +
                     "0 2 1\n32 0 1 1 1 3 1\n" + vertex(0, 1, 0) + vertex(1, 1, 0) + vertex(0, 1, 1) + "0 2 1\n");
  ASSERT_NE(id, 0u);
  std::string dir = make_temp_dir("pov");
  DataFile *out = dfile_open((dir + "/m.inc").c_str(), "wb");
  model_write_pov(id, out);
  dfile_close(out);
  std::string text = read_text_file(dir + "/m.inc");
  EXPECT_EQ(text.rfind("union {\nmesh2 {\n\tvertex_vectors {\n", 0), 0u);
  EXPECT_NE(text.find("\t\t<1.000000,0.000000,0.000000>,\n"), std::string::npos);
  EXPECT_NE(text.find("\tuv_vectors {\n\t\t3,\n\t\t<0.000000,1.000000>,\n"), std::string::npos);
  EXPECT_NE(text.find("\tface_indices {\n\t\t1,\n\t\t<0,2,1>\n\t}\n}\n"), std::string::npos);
  if (system("command -v povray >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "povray is not installed: the text was checked, not rendered";
  }
  write_text_file(dir + "/scene.pov",
                  "camera { location <0.5, 3, -2> look_at <0.5, 0.5, 0.5> }\n"
                  "light_source { <2, 5, -3> color rgb 1 }\n"
                  "object { #include \"m.inc\" pigment { color rgb <1, 0.5, 0.2> } }\n");
  std::string command = "cd " + dir + " && povray +Iscene.pov +Oscene.png +W64 +H48 -D +A0.3 >/dev/null 2>&1";
  EXPECT_EQ(system(command.c_str()), 0);
  EXPECT_TRUE(file_exists(dir + "/scene.png"));
}

}  // namespace
