// Collision shapes and contacts: the shape reader, sphere pairs, bikes
// against bikes, objects and the ground.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "bike/bike_step.h"
#include "bike/contact.h"
#include "collide_scene.h"
#include "ride_scene.h"
#include "track/gates.h"
#include "track/objects.h"

namespace {

constexpr const char *model = "crf250(2018)";

class Collide : public ::testing::Test {
 protected:
  CollideData data;
  Terrain *terrain = nullptr;
  void SetUp() override {
    data = collide_data_setup("collide");
    physics_world_create();
    install_crash_hooks();
    terrain = make_flat_terrain(5, 2);  // 128 ft square
  }
  void TearDown() override {
    free_track_objects();
    timing_gates_reset();
    collide_data_end();
    terrain_free(terrain);
    physics_world_destroy();
  }
  // A bike standing with its frame at (x, z), turned by `angle`.
  BikeState *bike_at(float x, float z, double angle) {
    BikeState *bike = build_bike(model, 0, "1", nullptr, nullptr, nullptr, nullptr);
    const BikeInfo *info = bike_info(bike->model);
    move_bike(bike, x - info->frame_position[0], 0, z - info->frame_position[2]);
    turn_bike(bike, angle);
    BikeState *list[1] = {bike};
    place_bikes_on_ground(list, 1, terrain);
    return bike;
  }
  std::string log_text() { return read_text_file(data.log_path); }
};

std::string shape_path(const CollideData &d, const char *name) { return d.dir + name; }

const dReal *pos(BikeState *bike, int part) { return dBodyGetPosition(bike->bodies[part]); }

}  // namespace

// --- The shape reader ---------------------------------------------------------

TEST_F(Collide, ShapeFilesLoadAndCache) {
  const CollisionShape *post = load_shape("@post.shp");
  ASSERT_NE(post, nullptr);
  EXPECT_EQ(post->sphere_count, 3);
  EXPECT_FLOAT_EQ(post->bounding_radius, 6);  // |(0, 5, 0)| + 1
  EXPECT_EQ(load_shape("@post.shp"), post);
  CollisionShape *copy = copy_shape("@post.shp");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->template_shape, post);
  EXPECT_NE(copy->spheres, post->spheres);
  ShapePose pose = {{10, 0, 20}, {0, 0, 1, 0, 1, 0, -1, 0, 0}};
  place_shape(copy, pose);
  EXPECT_FLOAT_EQ(copy->spheres[2].centre[1], 5);
  EXPECT_FLOAT_EQ(copy->spheres[2].centre[0], 10);
  EXPECT_FLOAT_EQ(post->spheres[2].centre[0], 0);  // the loaded shape never moves
  free_shape_instance(copy);

  write_text_file(shape_path(data, "empty.shp"), "0\n");
  const CollisionShape *empty = load_shape("@empty.shp");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->sphere_count, 0);
  EXPECT_EQ(empty->bounding_radius, 0);
}

TEST_F(Collide, MalformedShapeFilesAreRefused) {
  struct Case {
    const char *name, *text, *message;
  } cases[] = {
      {"short.shp", "2\n1 2 3 4 5 6 7\n1 2 3", "sphere 2 of 2 is incomplete"},
      {"huge.shp", "2000000000\n1 2 3 4 5 6 7\n", "bad sphere count 2000000000"},
      {"negative.shp", "-3\n", "bad sphere count -3"},
      {"nan.shp", "1\nnan 0 0 1 1 1 1\n", "sphere 1 has bad values"},
      {"inf.shp", "1\n0 0 0 inf 1 1 1\n", "sphere 1 has bad values"},
      {"far.shp", "1\n1e30 0 0 1 1 1 1\n", "sphere 1 has bad values"},
      {"text.shp", "three\n", "no sphere count"},
      {"blank.shp", "", "no sphere count"},
  };
  for (const Case &c : cases) {
    write_text_file(shape_path(data, c.name), c.text);
    std::string path = std::string("@") + c.name;
    EXPECT_EQ(load_shape(path.c_str()), nullptr) << c.name;
    EXPECT_EQ(copy_shape(path.c_str()), nullptr) << c.name;
    EXPECT_NE(log_text().find(c.message), std::string::npos) << c.name << ": " << log_text();
  }
  // Nothing was cached: the file mended, the shape loads.
  write_text_file(shape_path(data, "short.shp"), "2\n1 2 3 4 5 6 7\n1 2 3 4 5 6 7\n");
  ASSERT_NE(load_shape("@short.shp"), nullptr);
  EXPECT_EQ(load_shape("@missing.shp"), nullptr);
}

// --- Sphere pairs ---------------------------------------------------------------

namespace {
ShapeSphere sphere(float x, float y, float z, float r, float k, float c) {
  return ShapeSphere{{x, y, z}, r, 0.5f, k, c};
}
}  // namespace

TEST_F(Collide, SpherePairs) {
  dBodyID b1 = dBodyCreate(physics_world()), b2 = dBodyCreate(physics_world());
  dMass m;
  dMassSetSphereTotal(&m, 1, 1);
  dBodySetMass(b1, &m);
  dBodySetMass(b2, &m);
  // Exactly r1 + r2 apart: no contact.
  EXPECT_EQ(sphere_contact(sphere(0, 0, 0, 1, 100, 0), b1, sphere(3, 0, 0, 2, 100, 0), b2, contact_force, nullptr), 0);
  EXPECT_EQ(sphere_contact(sphere(0, 0, 0, 1, 100, 0), b1, sphere(2.99f, 0, 0, 2, 100, 0), b2, contact_query, nullptr),
            1);
  // No bodies at all: only a report.
  EXPECT_EQ(sphere_contact(sphere(0, 0, 0, 1, 100, 0), nullptr, sphere(1, 0, 0, 1, 100, 0), nullptr, contact_force,
                           nullptr),
            1);
  // Coincident centres: a touch, but no force and no joint.
  EXPECT_EQ(sphere_contact(sphere(0, 0, 0, 1, 100, 10), b1, sphere(0, 0, 0, 1, 100, 10), b2, contact_force, nullptr), 1);
  EXPECT_EQ(dBodyGetForce(b1)[0], 0);
  EXPECT_EQ(dBodyGetForce(b2)[0], 0);
  dBodySetLinearVel(b1, 1, 2, 3);
  physics_world_step();
  EXPECT_FLOAT_EQ(dBodyGetLinearVel(b1)[0], 1);  // no joint acted

  // Force mode: the record, the spring capped at 2500 lb and the damper. Body
  // 1 closes at 1.7 ft/s with damping 1000: 2500 - 1700 = 800 lb.
  dBodySetPosition(b1, 0, 0, 0);
  dBodySetPosition(b2, 1.7f, 0, 0);
  dBodySetLinearVel(b1, -1.7, 0, 0);
  dBodySetLinearVel(b2, 0, 0, 0);
  WheelContact record{};
  ASSERT_EQ(sphere_contact(sphere(0, 0, 0, 1, 100000, 1000), b1, sphere(1.7f, 0, 0, 1, 100000, 1000), b2,
                           contact_force, &record),
            1);
  EXPECT_NEAR(record.depth, 0.3, 1e-5);
  EXPECT_NEAR(record.point[0], 0.85, 1e-5);  // the middle of the overlap
  EXPECT_FLOAT_EQ(record.normal[0], 1);
  EXPECT_FLOAT_EQ(record.velocity[0], -1.7f);
  EXPECT_NEAR(dBodyGetForce(b2)[0], 800, 0.01);
  EXPECT_NEAR(dBodyGetForce(b1)[0], -800, 0.01);
  // Never more than 1000 lb either way.
  dBodySetForce(b1, 0, 0, 0);
  dBodySetForce(b2, 0, 0, 0);
  dBodySetLinearVel(b1, 5, 0, 0);
  sphere_contact(sphere(0, 0, 0, 1, 100000, 1000), b1, sphere(1.7f, 0, 0, 1, 100000, 1000), b2, contact_force,
                 nullptr);
  EXPECT_NEAR(dBodyGetForce(b2)[0], 1000, 0.01);
  dBodySetForce(b1, 0, 0, 0);
  dBodySetForce(b2, 0, 0, 0);
  dBodySetLinearVel(b1, -50, 0, 0);
  sphere_contact(sphere(0, 0, 0, 1, 100000, 1000), b1, sphere(1.7f, 0, 0, 1, 100000, 1000), b2, contact_force,
                 nullptr);
  EXPECT_NEAR(dBodyGetForce(b2)[0], -1000, 0.01);

  // Joint mode pushes the spheres apart in the next step.
  dBodySetForce(b1, 0, 0, 0);
  dBodySetForce(b2, 0, 0, 0);
  dBodySetLinearVel(b1, 0, 0, 0);
  dWorldSetGravity(physics_world(), 0, 0, 0);
  sphere_contact(sphere(0, 0, 0, 1, 5000, 100), b1, sphere(1.7f, 0, 0, 1, 5000, 100), b2, contact_joint, nullptr);
  physics_world_step();
  dWorldSetGravity(physics_world(), 0, -32, 0);
  EXPECT_LT(dBodyGetLinearVel(b1)[0], -0.1);
  EXPECT_GT(dBodyGetLinearVel(b2)[0], 0.1);
  dBodyDestroy(b1);
  dBodyDestroy(b2);
}

// --- Bikes against bikes ----------------------------------------------------------

TEST_F(Collide, BikesAllHaveTheirShapes) {
  BikeState *bike = bike_at(20, 20, 0);
  for (int part = 0; part < bike_body_count; part++) EXPECT_NE(bike->shapes[part], nullptr) << part;
  // Standing on its wheels, no shape touches the ground.
  EXPECT_EQ(bike_shape_terrain_contacts(bike, terrain), 0);
  EXPECT_EQ(bike->stopped, 0);
  destroy_bike(bike);
}

// Front wheels meeting head on at 12 ft/s each: both steering aids weaken for
// a second. Running the front into the side of a slower bike: only the
// runner's, and only when the other moves at 5 ft/s or more.
TEST_F(Collide, CollisionTimers) {
  // Head on: fronts 0.4 ft into each other.
  BikeState *a = bike_at(20, 20, 0);
  BikeState *b = bike_at(20, 20 - 2 * 3.66f + 0.4f, M_PI);
  roll_bike(a, 0, -12);
  roll_bike(b, 0, 12);
  int mask = bike_bike_contacts(a, b, 0, 50);
  EXPECT_TRUE(mask & bike_part_mask(bike_front_wheel));
  EXPECT_EQ(a->collision_timer, 128);
  EXPECT_EQ(b->collision_timer, 128);
  EXPECT_EQ(a->last_collision_tic, 50);
  EXPECT_EQ(b->last_collision_tic, 50);
  dJointGroupEmpty(physics_contact_group());
  destroy_bike(a);
  destroy_bike(b);

  // Into the side: B stands across A's path, its rear wheel at A's front.
  for (double side_speed : {6.0, 4.0}) {
    a = bike_at(60, 60, 0);
    b = bike_at(60 - 1.4f, 60 - 3.66f - 0.1f, M_PI / 2);  // facing -x
    roll_bike(a, 0, -12);
    roll_bike(b, -side_speed, 0);
    mask = bike_bike_contacts(a, b, 0, 7);
    ASSERT_NE(mask, 0) << side_speed;
    EXPECT_EQ(mask & (bike_part_mask(bike_front_wheel) | bike_part_mask(bike_fork_lower)), 0);
    EXPECT_EQ(a->collision_timer, side_speed >= 5 ? 192 : 0) << side_speed;
    EXPECT_EQ(b->collision_timer, 0);
    dJointGroupEmpty(physics_contact_group());
    destroy_bike(a);
    destroy_bike(b);
  }
}

// A wheel of B off the ground takes the contact of A's shape; one on the
// ground keeps its ground record; A's own wheels get nothing from the call.
TEST_F(Collide, WheelRecords) {
  BikeState *a = bike_at(20, 20, 0);
  BikeState *b = bike_at(20, 20 - 2 * 3.66f + 0.4f, M_PI);
  for (WheelContact &w : b->wheels) w.depth = 0;
  a->wheels[0].depth = 0;
  b->wheels[1].depth = 0.05f;
  b->wheels[1].normal[1] = 1;
  bike_bike_contacts(a, b, 0, 3);
  const WheelContact &front = b->wheels[0];
  EXPECT_GT(front.depth, 0);
  // From B's wheel (at smaller z) toward A's wheel shape.
  EXPECT_GT(front.normal[2], 0.9);
  EXPECT_EQ(b->wheels[1].depth, 0.05f);
  EXPECT_EQ(b->wheels[1].normal[1], 1);
  EXPECT_EQ(a->wheels[0].depth, 0);
  dJointGroupEmpty(physics_contact_group());
  destroy_bike(a);
  destroy_bike(b);
}

// A third bike touching a bike that already had its contact this tic is
// pushed by forces, not joints; the remote flag keeps B's front from pushing.
TEST_F(Collide, LaterContactsInATicAreForces) {
  BikeState *a = bike_at(20, 20, 0);
  BikeState *b = bike_at(20, 20 - 2 * 3.66f + 0.4f, M_PI);
  BikeState *c = bike_at(20 + 1.6f, 20, 0);  // beside A, handlebars overlapping
  roll_bike(a, 0, -12);
  roll_bike(b, 0, 12);
  ASSERT_NE(bike_bike_contacts(a, b, 0, 9), 0);
  for (dBodyID body : c->bodies) dBodySetForce(body, 0, 0, 0);
  for (dBodyID body : a->bodies) dBodySetForce(body, 0, 0, 0);
  ASSERT_NE(bike_bike_contacts(c, a, 0, 9), 0);
  double pushed = 0;
  for (dBodyID body : a->bodies) pushed += std::fabs(dBodyGetForce(body)[0]);
  EXPECT_GT(pushed, 1);
  // The next tic starts with joints again: no direct forces.
  for (dBodyID body : a->bodies) dBodySetForce(body, 0, 0, 0);
  for (dBodyID body : c->bodies) dBodySetForce(body, 0, 0, 0);
  ASSERT_NE(bike_bike_contacts(c, a, 0, 10), 0);
  pushed = 0;
  for (dBodyID body : a->bodies) pushed += std::fabs(dBodyGetForce(body)[0]);
  EXPECT_EQ(pushed, 0);
  dJointGroupEmpty(physics_contact_group());
  destroy_bike(a);
  destroy_bike(b);
  destroy_bike(c);
}

// Ridden into each other, two bikes push apart and neither passes through.
TEST_F(Collide, HeadOnBikesPushApart) {
  BikeState *a = bike_at(40, 40, 0);
  BikeState *b = bike_at(40, 40 - 2 * 3.66f - 1.5f, M_PI);
  roll_bike(a, 0, -12);
  roll_bike(b, 0, 12);
  BikeState *bikes[2] = {a, b};
  double closest = 1e9;
  float timers = 0;
  for (int tic = 0; tic < 256; tic++) {
    for (BikeState *bike : bikes) bike_terrain_contacts(bike, terrain);
    bike_bike_contacts(a, b, 0, tic);
    physics_world_step();
    for (BikeState *bike : bikes) bike_physics_step(bike, PhysicsTic{terrain, tic, -1000});
    double gap = pos(a, bike_front_wheel)[2] - pos(b, bike_front_wheel)[2];
    closest = std::min(closest, gap);
    timers = std::max(timers, a->collision_timer + b->collision_timer);
    ASSERT_GT(pos(a, bike_frame)[2], pos(b, bike_frame)[2] + 3) << tic;
  }
  EXPECT_GT(closest, 1.5);  // the tyres (1.17 ft each) were never far inside each other
  EXPECT_GT(dBodyGetLinearVel(a->bodies[bike_frame])[2], -2);  // A no longer runs at B
  EXPECT_GT(timers, 200);  // both steering aids weakened by the head-on hit
  destroy_bike(a);
  destroy_bike(b);
}

// --- Objects -------------------------------------------------------------------

TEST_F(Collide, BikeStopsAtAPost) {
  int statue = add_statue(30, 0, 30, 0, nullptr, nullptr, "@post.shp");
  object_grid_build(terrain);
  ASSERT_EQ(object_grid_count(), 1);
  BikeState *bike = bike_at(30.3f, 40, 0);
  roll_bike(bike, 0, -15);
  int touched_at = -1;
  for (int tic = 0; tic < 256; tic++) {
    bike_terrain_contacts(bike, terrain);
    if (object_contacts_near(bike, tic) && touched_at < 0) touched_at = tic;
    physics_world_step();
    bike_physics_step(bike, PhysicsTic{terrain, tic, -1000});
    // The front tyre never gets through the post.
    ASSERT_GT(pos(bike, bike_front_wheel)[2], 30 + 1) << tic;
  }
  EXPECT_GE(touched_at, 0);
  EXPECT_GE(track_statue(statue)->last_contact_tic, touched_at);
  EXPECT_LT(std::fabs(dBodyGetLinearVel(bike->bodies[bike_frame])[2]), 5);
  destroy_bike(bike);
}

TEST_F(Collide, ObjectsAreFoundOnlyNearTheBike) {
  // One post far away, one outside the terrain square (clamped cells), one
  // spanning a cell boundary at x = 16.
  add_statue(100, 0, 100, 0, nullptr, nullptr, "@post.shp");
  int outside = add_statue(-0.5f, 0, 10, 0, nullptr, nullptr, "@post.shp");
  int boundary = add_statue(16, 0, 60, 0, nullptr, nullptr, "@post.shp");
  add_statue(50, 0, 50, 0, nullptr, nullptr, "null");
  object_grid_build(terrain);
  EXPECT_EQ(object_grid_count(), 3);
  BikeState *bike = bike_at(0, 10 + 3.66f + 0.6f, 0);  // its front tyre against the outside post
  EXPECT_NE(object_contacts_near(bike, 5), 0);
  EXPECT_EQ(track_statue(outside)->last_contact_tic, 5);
  EXPECT_EQ(track_statue(boundary)->last_contact_tic, -1);
  dJointGroupEmpty(physics_contact_group());
  destroy_bike(bike);
  bike = bike_at(16.3f, 60 + 1 + 3.66f - 0.3f, 0);  // against the post on the cell boundary
  EXPECT_NE(object_contacts_near(bike, 6), 0);
  EXPECT_EQ(track_statue(boundary)->last_contact_tic, 6);
  EXPECT_EQ(track_statue(outside)->last_contact_tic, 5);
  dJointGroupEmpty(physics_contact_group());
  destroy_bike(bike);
}

namespace {
// A track's start grid with one gate, read as the track loader reads it.
void read_grid(const CollideData &data, const char *text) {
  std::string path = data.dir + "timing_gates";
  write_text_file(path, text);
  DataFile *file = dfile_open(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  timing_gates_read(file, 1);
  dfile_close(file);
}
}  // namespace

TEST_F(Collide, StartGateHoldsTheBikeUntilItFalls) {
  read_grid(data, "startinggate:\n[40 0 40] 0 null null @startgate.shp\ncheckpoints:\n");
  ASSERT_EQ(timing_gates()->grid_count, 1);
  int statue = timing_gates()->grid[0].statue;
  ASSERT_GE(statue, 0);
  object_grid_build(terrain);
  ASSERT_EQ(object_grid_count(), 1);
  // At the grid position, 0.625 ft back, rolling at the gate.
  BikeState *bike = bike_at(40, 40.625f + 1.0f, 0);
  roll_bike(bike, 0, -8);
  for (int tic = 0; tic < 192; tic++) {
    bike_terrain_contacts(bike, terrain);
    object_contacts_near(bike, tic);
    physics_world_step();
    bike_physics_step(bike, PhysicsTic{terrain, tic, -1000});
    ASSERT_GT(pos(bike, bike_front_wheel)[2] - 1.17, 40 - 3 - 0.6 - 0.2) << tic;
  }
  EXPECT_GE(track_statue(statue)->last_contact_tic, 0);
  destroy_bike(bike);

  // A bike driven from history, standing against the gate, only reports and
  // stamps it.
  bike = bike_at(40, 40.625f - 0.2f, 0);
  bike_deactivate(bike);
  EXPECT_EQ(start_gate_touches(bike, 500), 1);
  EXPECT_EQ(track_statue(statue)->last_contact_tic, 500);
  // Turned down flat ahead of the bike, the gate no longer touches it.
  object_set_tilt(statue, static_cast<float>(-M_PI / 2));
  EXPECT_EQ(start_gate_touches(bike, 501), 0);
  EXPECT_EQ(track_statue(statue)->last_contact_tic, 500);
  dJointGroupEmpty(physics_contact_group());
  destroy_bike(bike);
}

// A bike driven from history (physics off) touched by a local bike wakes up,
// is pushed, and is then pulled back to its recorded pose. The recorded pose
// is set directly here, as the history would set it each tic.
TEST_F(Collide, TouchedHistoryBikeWakesAndReturns) {
  BikeState *local = bike_at(50, 50, 0);
  BikeState *remote = bike_at(50 - 1.2f, 50 - 3.66f - 1.5f, M_PI / 2);
  PackTerrain ground = ground_of(terrain);
  PackedBikeState recorded = pack_bike_state(remote, ground);
  bike_deactivate(remote);
  double start_x = pos(remote, bike_frame)[0], start_z = pos(remote, bike_frame)[2];
  roll_bike(local, 0, -10);
  int woke_at = -1;
  double moved = 0;
  for (int tic = 0; tic < 640; tic++) {
    unpack_bike_state_moving(remote, recorded, recorded, recorded, 1, ground);
    bike_terrain_contacts(local, terrain);
    if (bike_bike_contacts(local, remote, 1, tic)) {
      bike_touch(remote);
      if (woke_at < 0) woke_at = tic;
    }
    if (bike_is_active(remote)) bike_terrain_contacts(remote, terrain);
    physics_world_step();
    bike_physics_step(local, PhysicsTic{terrain, tic, -1000});
    bike_physics_step(remote, PhysicsTic{terrain, tic, -1000});
    bike_decay_activity(remote);
    double dx = pos(remote, bike_frame)[0] - start_x, dz = pos(remote, bike_frame)[2] - start_z;
    moved = std::max(moved, std::sqrt(dx * dx + dz * dz));
  }
  ASSERT_GE(woke_at, 0);
  EXPECT_GT(moved, 0.05);  // it was pushed while awake
  EXPECT_FALSE(bike_is_active(remote));
  EXPECT_NEAR(pos(remote, bike_frame)[0], start_x, 0.05);
  EXPECT_NEAR(pos(remote, bike_frame)[2], start_z, 0.05);
  destroy_bike(local);
  destroy_bike(remote);
}
