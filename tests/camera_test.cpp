// The view cameras: keyframe paths, trackside steering and switching, the
// chase camera's direction and ground clearance, the rider camera, the
// free camera's flight and the average ground height.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "app/bindings.h"
#include "app/camera.h"
#include "app/config.h"
#include "assets/file.h"
#include "bike/assembly.h"
#include "test_util.h"
#include "track/gates.h"
#include "track/objects.h"
#include "track/terrain.h"

namespace {

constexpr float pi = 3.14159265358979323846f;
constexpr float dt = 1.0f / 128;

CameraKeyframe key(float x, float yaw, float fov, int tic) {
  CameraKeyframe k{};
  k.position[0] = x;
  k.position[1] = 2;
  yaw_pitch_quaternion(yaw, 0.25f, k.rotation);
  k.fov = fov;
  k.tic = tic;
  return k;
}

void expect_same_axes(const CameraView &a, const CameraView &b, float tolerance, const std::string &what) {
  for (int i = 0; i < 3; i++)
    for (int k = 0; k < 3; k++) EXPECT_NEAR(a.axes[i][k], b.axes[i][k], tolerance) << what << " row " << i;
}

TrackCamera record(float yaw, float pitch) {
  TrackCamera c{};
  c.yaw = yaw;
  c.pitch = pitch;
  c.fov = 70;
  return c;
}

Terrain *flat(float height) { return terrain_create(4, 2, height, height); }  // 33 x 33 vertices, 64 ft

}  // namespace

// A key added from a camera at some yaw and pitch shows exactly that view.
TEST(KeyframeCamera, KeyShowsTheCameraItWasTakenFrom) {
  for (float yaw : {0.0f, 0.7f, -2.5f, 3.0f})
    for (float pitch : {0.0f, 0.3f, -1.2f}) {
      TrackCamera c = record(yaw, pitch);
      CameraKeyframe k{};
      yaw_pitch_quaternion(yaw, pitch, k.rotation);
      k.fov = 70;
      expect_same_axes(keyframe_camera(&k, 1, 0), camera_record_view(c), 1e-5f, "yaw/pitch");
    }
  // Facing from yaw and pitch; the rows right, up, back are orthonormal.
  CameraView v = camera_record_view(record(0.5f, 0.2f));
  EXPECT_NEAR(-v.axes[2][0], std::sin(0.5f) * std::cos(0.2f), 1e-6);
  EXPECT_NEAR(-v.axes[2][1], std::sin(0.2f), 1e-6);
  EXPECT_NEAR(v.axes[0][1], 0, 1e-7);  // no roll
}

TEST(KeyframeCamera, HermitePath) {
  // Before the first key and after the last the camera is that key exactly.
  CameraKeyframe two[2] = {key(0, 0.1f, 60, 100), key(10, 0.5f, 80, 200)};
  EXPECT_EQ(keyframe_camera(two, 2, 0).position[0], 0);
  EXPECT_EQ(keyframe_camera(two, 2, 100).position[0], 0);
  EXPECT_EQ(keyframe_camera(two, 2, 200).position[0], 10);
  EXPECT_EQ(keyframe_camera(two, 2, 5000).fov, 80);
  // Between two keys it eases in and out; the field of view is linear.
  CameraView quarter = keyframe_camera(two, 2, 125);
  EXPECT_NEAR(quarter.position[0], 10 * 0.15625, 1e-4);
  EXPECT_NEAR(quarter.fov, 65, 1e-4);
  CameraView half = keyframe_camera(two, 2, 150);
  EXPECT_NEAR(half.position[0], 5, 1e-4);
  expect_same_axes(half, camera_record_view(record(0.3f, 0.25f)), 1e-5f, "halfway turn");
  // Keys at an even pace, unevenly spaced in time: the inner segments carry
  // that pace through (the tangents are scaled by the neighbouring spans).
  CameraKeyframe even[4] = {key(0, 0, 60, 0), key(5, 0, 60, 50), key(20, 0, 60, 200), key(25, 0, 60, 250)};
  for (int tic : {60, 110, 170, 199}) EXPECT_NEAR(keyframe_camera(even, 4, tic).position[0], tic * 0.1f, 1e-3) << tic;
  // Negated quaternions are the same rotations: flipping any key's sign
  // changes nothing along the path.
  CameraKeyframe turn[4] = {key(0, 0.2f, 60, 0), key(1, 1.4f, 60, 100), key(2, 2.9f, 60, 200), key(3, -2.0f, 60, 300)};
  CameraKeyframe flipped[4];
  for (int i = 0; i < 4; i++) {
    flipped[i] = turn[i];
    if (i != 2)
      for (float &q : flipped[i].rotation) q = -q;
  }
  for (int tic = 0; tic <= 320; tic += 16)
    expect_same_axes(keyframe_camera(flipped, 4, tic), keyframe_camera(turn, 4, tic), 1e-5f,
                     "flipped, tic " + std::to_string(tic));
  // Across the +-pi seam the path takes the short way: halfway from yaw 2.9
  // to -2.0 (= 4.28) faces yaw 3.59.
  CameraKeyframe seam[2] = {turn[2], turn[3]};
  expect_same_axes(keyframe_camera(seam, 2, 250), camera_record_view(record(3.59f, 0.25f)), 2e-3f, "seam");
}

TEST(TracksideSteering, CutThenSmoothPanAndZoom) {
  TrackCamera c{};
  c.fov = 90;
  c.auto_fov_size = 3;
  CameraAim aim{};
  aim.automatic = 1;
  aim.target[0] = 30;
  aim.target[1] = 10;
  aim.target[2] = 40;
  // A cut aims at the target and zooms at once.
  steer_trackside_camera(&c, aim, 1);
  EXPECT_NEAR(c.yaw, std::atan2(30.0f, 40.0f), 1e-6);
  EXPECT_NEAR(c.pitch, std::atan2(10.0f, 50.0f), 1e-6);
  EXPECT_NEAR(c.fov, 2 * std::atan2(3.0f, std::sqrt(2600.0f)) * 180 / pi, 1e-4);
  EXPECT_EQ(c.yaw_rate, 0);
  // The target leaps across: the camera pans and zooms within its limits
  // and settles on it.
  aim.target[0] = -40;
  aim.target[2] = 60;
  float yaw_rate = c.yaw_rate, pitch_rate = c.pitch_rate, fov = c.fov;
  for (int i = 0; i < 8 * 128; i++) {
    steer_trackside_camera(&c, aim, 0);
    EXPECT_LE(std::fabs(c.yaw_rate - yaw_rate), dt * pi * 1.0001f) << i;
    EXPECT_LE(std::fabs(c.pitch_rate - pitch_rate), dt * pi * 1.0001f) << i;
    float want = 2 * std::atan2(3.0f, std::sqrt(1600.0f + 100 + 3600)) * 180 / pi;
    EXPECT_LE(std::fabs(c.fov - fov), dt * (2 * std::fabs(want - fov) + 1) * 1.0001f) << i;
    EXPECT_GE(c.yaw, -pi);
    EXPECT_LE(c.yaw, pi);
    yaw_rate = c.yaw_rate;
    pitch_rate = c.pitch_rate;
    fov = c.fov;
  }
  EXPECT_NEAR(c.yaw, std::atan2(-40.0f, 60.0f), 0.01);
  EXPECT_NEAR(c.pitch, std::atan2(10.0f, std::sqrt(5200.0f)), 0.01);
  // A moving target: the camera keeps up with it.
  aim.velocity[0] = 30;
  for (int i = 0; i < 2 * 128; i++) {
    steer_trackside_camera(&c, aim, 0);
    aim.target[0] += 30 * dt;
  }
  float bearing = std::atan2(aim.target[0], aim.target[2]);
  EXPECT_NEAR(c.yaw, bearing, 0.02);
}

// Without switching the inputs turn it, toward 3 pi / 8 and pi / 4 rad/s.
TEST(TracksideSteering, InputsTurnTheCamera) {
  TrackCamera c{};
  c.yaw = NAN;  // a broken angle recovers
  CameraAim aim{};
  aim.steer = 1;
  aim.pitch = 1;
  for (int i = 0; i < 10; i++) steer_trackside_camera(&c, aim, 0);
  EXPECT_NEAR(c.yaw_rate, 10 * dt * pi, 1e-5);
  for (int i = 0; i < 10 * 128; i++) steer_trackside_camera(&c, aim, 0);
  EXPECT_NEAR(c.yaw_rate, 3 * pi / 8, 1e-5);
  EXPECT_NEAR(c.pitch_rate, pi / 4, 1e-5);
  EXPECT_EQ(c.pitch, pi / 2);  // held at the top
  EXPECT_LE(std::fabs(c.yaw), pi);
}

class TracksideView : public ::testing::Test {
 protected:
  std::string dir = make_temp_dir("cameras");
  BikeState *bike = nullptr;
  float channels[control_channel_count] = {};
  void read(const char *name, const std::string &text, void (*reader)(DataFile *)) {
    std::string path = dir + "/" + name;
    write_text_file(path, text);
    DataFile *f = dfile_open(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    reader(f);
    dfile_close(f);
  }
  void SetUp() override {
    cameras_reset();
    // Gates 0, 1, 2 in every lap; gate 0 watched by camera 0, 1 and 2 by 1.
    read("timing_gates",
         "checkpoints:\n5 [0 0 0] [1 0 0]\n5 [50 0 0] [1 0 0]\n5 [100 0 0] [1 0 0]\n"
         "firstlap:\n0 1 2\nnormallap:\n0 1 2\n",
         [](DataFile *f) { timing_gates_read(f, 0); });
    read("cameras", "gate 0\naddcamera 0 10 -20\ngate 1 2\nautofovsize 4\naddcamera 80 10 -20\n", cameras_read);
    physics_world_create();
    bike = build_bike("cr125", 0, "1", nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    destroy_bike(bike);
    physics_world_destroy();
    free_track_objects();
    timing_gates_reset();
    cameras_reset();
  }
  void tic(int position) {
    TracksideTic t{};
    t.channels = channels;
    t.viewed = bike;
    t.timing_position = position;
    t.fov = 75;
    trackside_tic(t);
  }
};

TEST_F(TracksideView, AutomaticSwitching) {
  ASSERT_EQ(camera_count(), 2);
  ASSERT_TRUE(automatic_cameras());
  // On the free camera switching keeps it, and it turns to follow.
  select_camera(-1);
  free_camera()->x = 100;
  free_camera()->y = 5;
  free_camera()->z = 100;
  tic(4);  // heading for gate 1
  EXPECT_EQ(selected_camera(), -1);
  for (int i = 0; i < 1024; i++) tic(4);
  const dReal *p = dBodyGetPosition(bike->bodies[bike_frame]);
  EXPECT_NEAR(free_camera()->yaw, std::atan2(p[0] - 100, p[2] - 100), 0.02);
  EXPECT_EQ(free_camera()->fov, 75);
  // On a track camera it cuts to the next gate's camera, aimed and zoomed.
  select_camera(0);
  tic(4);
  EXPECT_EQ(selected_camera(), 1);
  TrackCamera *c = track_camera(1);
  EXPECT_NEAR(c->yaw, std::atan2(p[0] - c->x, p[2] - c->z), 1e-5);
  float d = std::sqrt((p[0] - c->x) * (p[0] - c->x) + (p[1] - c->y) * (p[1] - c->y) + (p[2] - c->z) * (p[2] - c->z));
  EXPECT_NEAR(c->fov, 2 * std::atan2(4.0f, d) * 180 / pi, 1e-3);
  tic(6);  // the next lap's first gate: camera 0
  EXPECT_EQ(selected_camera(), 0);
  CameraView view = trackside_camera(nullptr, 0, 0, 0);
  EXPECT_EQ(view.broadcast, 1);
  EXPECT_EQ(view.position[0], 0);
  // Sit/dab flips switching, once per press.
  channels[channel_dab] = 1;
  tic(4);
  tic(4);
  EXPECT_FALSE(automatic_cameras());
  EXPECT_EQ(selected_camera(), 0);
  channels[channel_dab] = 0;
  tic(4);
  channels[channel_dab] = 1;
  tic(4);
  EXPECT_TRUE(automatic_cameras());
  // Digit keys: 0 is the free camera, a digit past the count the last.
  select_camera_key(0);
  EXPECT_EQ(selected_camera(), -1);
  select_camera_key(7);
  EXPECT_EQ(selected_camera(), 1);
}

TEST_F(TracksideView, FreeCameraFlies) {
  set_automatic_cameras(0);
  select_camera(-1);
  TrackCamera *f = free_camera();
  f->x = 10;
  f->y = 20;
  f->z = 10;
  f->yaw = pi / 2;  // facing +x
  channels[channel_throttle] = 1;
  for (int i = 0; i < 128; i++) tic(0);
  // 80 ft/s^2 less 60 of drag for a second: 20 ft/s, about 10 ft flown.
  EXPECT_NEAR(f->x, 20, 0.3);
  EXPECT_NEAR(f->z, 10, 1e-4);
  // Never closer than 2 ft to the average ground.
  Terrain *ground = flat(30);
  TracksideTic t{};
  t.channels = channels;
  t.terrain = ground;
  trackside_tic(t);
  EXPECT_NEAR(f->y, 32, 1e-4);
  terrain_free(ground);
}

TEST(AverageGround, Weights) {
  Terrain *t = terrain_create(2, 1, 0, 100);  // 9 x 9 vertices, spacing 1
  for (int j = 0; j < 9; j++)
    for (int i = 0; i < 9; i++) terrain_set_height(t, i, j, 0);
  terrain_set_height(t, 4, 4, 10);
  // Radius 0.5 at a sample: that sample weighs 1, its four neighbours at 1 ft
  // weigh 0.5 and the diagonals 1.5 - sqrt 2.
  double diagonal = 1.5 - std::sqrt(2.0);
  EXPECT_NEAR(average_ground_height(t, 4, 4, 0.5f), 10 / (1 + 4 * 0.5 + 4 * diagonal), 1e-4);
  // Radius 0: the neighbours one spacing away weigh nothing.
  EXPECT_NEAR(average_ground_height(t, 4, 4, 0), 10, 1e-4);
  // Radius 1.2 at the middle of a cell: all four corners weigh 1, the eight
  // samples at sqrt 2.5 weigh 2.2 - sqrt 2.5 and the four at sqrt 4.5 weigh
  // 2.2 - sqrt 4.5; (4, 4) is a corner.
  double ring = 8 * (2.2 - std::sqrt(2.5)) + 4 * (2.2 - std::sqrt(4.5));
  EXPECT_NEAR(average_ground_height(t, 3.5f, 3.5f, 1.2f), 10 / (4 + ring), 1e-4);
  // Off the grid the border samples stand in.
  for (int j = 0; j < 9; j++) terrain_set_height(t, 0, j, 6);
  EXPECT_NEAR(average_ground_height(t, -50, 4, 3), 6, 1e-4);
  EXPECT_TRUE(std::isfinite(average_ground_height(t, NAN, 1e30f, 10)));
  terrain_free(t);
}

class ViewCameras : public ::testing::Test {
 protected:
  BikeState *bike = nullptr;
  CameraSettings settings{};
  void SetUp() override {
    physics_world_create();
    bike = build_bike("cr125", 0, "1", nullptr, nullptr, nullptr, nullptr);
    settings.fov = 100;
    settings.chase_distance = 10;
    settings.chase_height = 5;
    settings.chase_centre[1] = 2.52f;
    settings.chase_centre[2] = 0.52f;
    // Over a flat field at height 0, facing -z.
    dBodySetPosition(bike->bodies[bike_frame], 30, 2, 30);
  }
  void TearDown() override {
    destroy_bike(bike);
    physics_world_destroy();
  }
  void moving(float vx, float vz) { dBodySetLinearVel(bike->bodies[bike_frame], vx, 0, vz); }
  // The horizontal direction from the chase centre to the camera.
  void expect_behind(const CameraView &v, float dx, float dz, const char *what) {
    float l = std::sqrt(dx * dx + dz * dz);
    float px = v.position[0] - 30, pz = v.position[2] - (30 + 0.52f);
    float pl = std::sqrt(px * px + pz * pz);
    EXPECT_NEAR(px / pl, dx / l, 1e-4) << what;
    EXPECT_NEAR(pz / pl, dz / l, 1e-4) << what;
  }
};

TEST_F(ViewCameras, ChaseDirectionAndOrbit) {
  Terrain *ground = flat(0);
  moving(0, -5);  // slow: straight behind
  expect_behind(chase_camera(bike, 1, *chase_orbit(), ground, settings), 0, 1, "slow");
  moving(20, 0);  // halfway between forward (0, -1) and the travel (20, 0)
  CameraView v = chase_camera(bike, 1, *chase_orbit(), ground, settings);
  expect_behind(v, -10, 0.5f, "20 ft/s");
  EXPECT_NEAR(v.position[1], 2 + 2.52f + 5, 1e-4);
  moving(-40, 0);  // fast: along the travel
  expect_behind(chase_camera(bike, 1, *chase_orbit(), ground, settings), 1, 0, "fast");
  settings.rigid_chase = 1;
  expect_behind(chase_camera(bike, 1, *chase_orbit(), ground, settings), 0, 1, "rigid");
  // A bike on its tail has no heading: straight above the centre the camera
  // still has a proper orientation.
  settings.rigid_chase = 0;
  moving(0, 0);
  dMatrix3 tail;
  dRFromAxisAndAngle(tail, 1, 0, 0, pi / 2);
  dBodySetRotation(bike->bodies[bike_frame], tail);
  CameraView up = chase_camera(bike, 1, *chase_orbit(), ground, settings);
  for (int i = 0; i < 3; i++) {
    float n = up.axes[i][0] * up.axes[i][0] + up.axes[i][1] * up.axes[i][1] + up.axes[i][2] * up.axes[i][2];
    EXPECT_NEAR(n, 1, 1e-5) << i;
  }
  dRSetIdentity(tail);
  dBodySetRotation(bike->bodies[bike_frame], tail);
  // The orbit of a bike the local rider does not drive.
  ChaseOrbit orbit{pi / 2, 8, 3};
  v = chase_camera(bike, 0, orbit, ground, settings);
  expect_behind(v, 1, 0, "orbit");
  EXPECT_NEAR(v.position[0], 38, 1e-4);
  // It looks at the chase centre with no roll.
  float to[3] = {30 - v.position[0], 2 + 2.52f - v.position[1], 30.52f - v.position[2]};
  float l = std::sqrt(to[0] * to[0] + to[1] * to[1] + to[2] * to[2]);
  for (int k = 0; k < 3; k++) EXPECT_NEAR(-v.axes[2][k], to[k] / l, 1e-5);
  EXPECT_NEAR(v.axes[0][1], 0, 1e-6);
  terrain_free(ground);
  // Channels: steering turns the orbit (wrapping), throttle brings it in to
  // 0.25 at the nearest, gear change raises it.
  cameras_reset();
  float ch[control_channel_count] = {};
  ch[channel_steer] = 1;
  ch[channel_throttle] = 1;
  ch[channel_shift] = 1;
  for (int i = 0; i < 1024; i++) chase_orbit_tic(ch);
  EXPECT_NEAR(chase_orbit()->angle, 0, 1e-3);
  EXPECT_EQ(chase_orbit()->distance, 0.25f);
  EXPECT_NEAR(chase_orbit()->height, 5 + 8, 1e-3);
}

// Over a pit the camera stays 5 ft above the average ground within 10 ft of it.
TEST_F(ViewCameras, ChaseOverAPit) {
  Terrain *t = terrain_create(4, 2, -40, 40);
  for (int j = 0; j < 33; j++)
    for (int i = 0; i < 33; i++) {
      float dx = i * 2 - 30.0f, dz = j * 2 - 30.0f;
      terrain_set_height(t, i, j, dx * dx + dz * dz < 64 ? -30.0f : 0.0f);
    }
  dBodySetPosition(bike->bodies[bike_frame], 30, -28, 30);  // down in the pit
  ChaseOrbit orbit{0, 10, 5};
  for (float angle = -pi; angle < pi; angle += 0.5f) {
    orbit.angle = angle;
    CameraView v = chase_camera(bike, 0, orbit, t, settings);
    float ground = average_ground_height(t, v.position[0], v.position[2], 10);
    EXPECT_GE(v.position[1], ground + 5 - 1e-4) << angle;
    EXPECT_GT(v.position[1], -28 + 2.52f + 5) << angle;  // the rim lifts it
  }
  terrain_free(t);
}

TEST_F(ViewCameras, RiderCameraAndOrientationLine) {
  CameraView v = rider_camera(bike, 3, settings);
  EXPECT_NEAR(v.position[1], 2.5, 1e-5);
  EXPECT_NEAR(v.position[2], 29.6, 1e-5);
  EXPECT_EQ(v.hidden_slot, -1);
  settings.first_person_height = 1;
  settings.first_person_angle = 20;
  settings.hide_first_person_rider = 1;
  v = rider_camera(bike, 3, settings);
  EXPECT_NEAR(v.position[1], 3.058383, 1e-5);
  EXPECT_EQ(v.hidden_slot, 3);
  // Tilted down by 20 degrees, about the frame's x axis.
  EXPECT_NEAR(-v.axes[2][1], -std::sin(20 * pi / 180), 1e-5);
  EXPECT_NEAR(-v.axes[2][2], -std::cos(20 * pi / 180), 1e-5);
  EXPECT_NEAR(v.axes[0][0], 1, 1e-6);
  EXPECT_NEAR(v.axes[1][1], std::cos(20 * pi / 180), 1e-5);
  // The orientation line: race time, camera position, the frame's x and z.
  FILE *out = tmpfile();
  ASSERT_NE(out, nullptr);
  print_orientation(out, bike, 256, settings);
  rewind(out);
  float f[10];
  ASSERT_EQ(fscanf(out, "t=%f p0=%f p1=%f p2=%f x0=%f x1=%f x2=%f z0=%f z1=%f z2=%f\n", &f[0], &f[1], &f[2], &f[3],
                   &f[4], &f[5], &f[6], &f[7], &f[8], &f[9]),
            10);
  fclose(out);
  EXPECT_EQ(f[0], 2);
  EXPECT_NEAR(f[2], v.position[1], 1e-5);
  EXPECT_EQ(f[4], 1);
  EXPECT_EQ(f[9], 1);  // before the tilt
}
