#include "app/camera.h"

#include <algorithm>
#include <cmath>

#include "app/bindings.h"
#include "app/config.h"
#include "app/types.h"
#include "bike/bike.h"
#include "track/gates.h"
#include "track/terrain.h"

namespace {

constexpr float pi = 3.14159265358979323846f;
constexpr float dt = static_cast<float>(seconds_per_tic);
constexpr float degrees_to_radians = 0.017453292519943295f;

// The eye point in the frame body's coordinates at "1st Person Height" 0 and 1.
constexpr float eye_low[3] = {0, 0.5f, -0.4f};
constexpr float eye_high[3] = {0, 1.0583830f, -1.1933695f};

// The chase camera stays this high above the average ground within this radius.
constexpr float chase_ground_radius = 10;
constexpr float chase_ground_clearance = 5;
// The free camera likewise.
constexpr float free_ground_radius = 10;
constexpr float free_ground_clearance = 2;
constexpr float free_camera_accel = 80;  // ft/s per second with throttle or brake
constexpr float free_camera_drag = 60;   // ft/s per second, always
constexpr float free_camera_top_speed = 100;

// A square of more samples than this per side (a track with an absurdly fine
// grid) is not averaged: the height under the point stands in for it.
constexpr int max_average_samples = 256;

struct F3 {
  float x, y, z;
};
F3 operator+(F3 a, F3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
F3 operator-(F3 a, F3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
F3 operator*(F3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float dot(F3 a, F3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
F3 cross(F3 a, F3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float length(F3 a) { return std::sqrt(dot(a, a)); }
F3 unit(F3 a) {
  float l = length(a);
  return l > 0 ? a * (1 / l) : F3{0, 0, 0};
}
F3 f3(const float *p) { return {p[0], p[1], p[2]}; }
void put(F3 a, float out[3]) {
  out[0] = a.x;
  out[1] = a.y;
  out[2] = a.z;
}

// A point given in the frame body's coordinates, in the world.
F3 frame_point(const BodyPlacement &frame, F3 p) {
  return f3(frame.position) + f3(frame.axes[0]) * p.x + f3(frame.axes[1]) * p.y + f3(frame.axes[2]) * p.z;
}

float clampf(float v, float lo, float hi) { return !(v > lo) ? lo : (v > hi ? hi : v); }

// Into -pi..pi. A broken angle (a NaN typed into camangle) becomes 0 so the
// camera recovers instead of staying lost.
float wrap(float a) {
  if (!std::isfinite(a)) return 0;
  if (a > pi || a < -pi) a = std::remainder(a, 2 * pi);
  return a;
}

// Moves `value` toward `target` by at most `step`, never past it.
float approach(float value, float target, float step) {
  if (value < target) return std::min(value + step, target);
  return std::max(value - step, target);
}

CameraView make_view(F3 position, F3 right, F3 up, F3 back, float fov) {
  CameraView view{};
  put(position, view.position);
  put(right, view.axes[0]);
  put(up, view.axes[1]);
  put(back, view.axes[2]);
  view.fov = fov;
  view.hidden_slot = -1;
  view.broadcast = 0;
  return view;
}

// Looking from p at t with the world's y axis up: no roll.
CameraView look_at(F3 p, F3 t, float fov) {
  F3 back = unit(p - t);
  if (dot(back, back) == 0) back = F3{0, 0, 1};
  F3 right = unit(cross(F3{0, 1, 0}, back));
  if (dot(right, right) == 0) right = F3{1, 0, 0};  // straight above: any heading serves
  return make_view(p, right, cross(back, right), back, fov);
}

F3 eye_point(const CameraSettings &settings) {
  float h = clampf(settings.first_person_height, 0, 1);
  return f3(eye_low) + (f3(eye_high) - f3(eye_low)) * h;
}

// Lives for the process; the free camera and the orbit keep their places
// from race to race.
struct CameraState {
  TrackCamera free;
  float free_speed;  // ft/s along the free camera's heading
  int selected;      // track camera index, -1 free
  int automatic;
  float dab_last;    // the sit/dab channel at the previous trackside tic
  ChaseOrbit orbit;
};

// A spectator wants the television coverage: switching starts on, with the
// first track camera selected (the free camera on tracks without cameras).
CameraState initial_state() {
  CameraState s{};
  s.free.fov = 90;
  s.selected = 0;
  s.automatic = 1;
  s.orbit = ChaseOrbit{0, 10, 5};
  return s;
}

CameraState state = initial_state();

bool track_camera_selected() { return state.selected >= 0 && state.selected < camera_count(); }

// The facing of a camera record (where it looks), with its yaw and pitch.
F3 facing(const TrackCamera &c) {
  float cp = std::cos(c.pitch);
  return F3{std::sin(c.yaw) * cp, std::sin(c.pitch), std::cos(c.yaw) * cp};
}

// One component of the keyframe path: a cubic Hermite segment from p1 (at
// t1) to p2 (at t2) whose tangents match the neighbouring segments' pace.
float hermite(float p0, float p1, float p2, float p3, double t0, double t1, double t2, double t3, double u) {
  double span = t2 - t1;
  double m1 = t1 - t0 > 0 ? ((p2 - p1) + (p1 - p0) * span / (t1 - t0)) / 2 : 0;
  double m2 = t3 - t2 > 0 ? ((p2 - p1) + (p3 - p2) * span / (t3 - t2)) / 2 : 0;
  double d = p2 - p1;
  return static_cast<float>(p1 + m1 * u + (3 * d - 2 * m1 - m2) * u * u + (m1 + m2 - 2 * d) * u * u * u);
}

// A view from a position, a quaternion (x, y, z, w) and a field of view.
// The rotation of the quaternion with its y component negated, right and
// back rows negated, is exactly the view of a camera at the yaw and pitch
// the quaternion was made from (yaw_pitch_quaternion).
CameraView quaternion_view(const float position[3], const float q[4], float fov) {
  float x = q[0], y = -q[1], z = q[2], w = q[3];
  F3 row0{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)};
  F3 row1{2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)};
  F3 row2{2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)};
  return make_view(f3(position), row0 * -1, row1, row2 * -1, fov);
}

}  // namespace

CameraSettings camera_settings(const float chase_centre[3]) {
  const GameSettings &g = game_settings();
  CameraSettings s{};
  s.fov = static_cast<float>(g.fov.value);
  s.first_person_height = static_cast<float>(g.first_person_height.value);
  s.first_person_angle = static_cast<float>(g.first_person_angle.value);
  s.hide_first_person_rider = g.hide_rider.selected == 1;
  s.rigid_chase = g.rigid_camera.selected == 1;
  s.chase_distance = static_cast<float>(g.third_person_distance.value);
  s.chase_height = static_cast<float>(g.third_person_height.value);
  for (int k = 0; k < 3; k++) s.chase_centre[k] = chase_centre[k];
  return s;
}

// --- The cameras -----------------------------------------------------------------

CameraView rider_camera(const BikeState *bike, int viewed_slot, const CameraSettings &settings) {
  BodyPlacement frame = bike_body_placement(bike, bike_frame);
  F3 right = f3(frame.axes[0]), up = f3(frame.axes[1]), back = f3(frame.axes[2]);
  // Turned about the frame's x axis: a positive angle tilts the view down.
  float a = settings.first_person_angle * degrees_to_radians;
  float c = std::cos(a), s = std::sin(a);
  CameraView view = make_view(frame_point(frame, eye_point(settings)), right, up * c - back * s, back * c + up * s,
                              settings.fov);
  view.hidden_slot = settings.hide_first_person_rider ? viewed_slot : -1;
  return view;
}

void print_orientation(FILE *out, const BikeState *bike, int tic, const CameraSettings &settings) {
  BodyPlacement frame = bike_body_placement(bike, bike_frame);
  F3 p = frame_point(frame, eye_point(settings));
  F3 x = f3(frame.axes[0]), z = f3(frame.axes[2]);
  fprintf(out, "t=%f p0=%f p1=%f p2=%f x0=%f x1=%f x2=%f z0=%f z1=%f z2=%f\n", tic * seconds_per_tic, p.x, p.y, p.z,
          x.x, x.y, x.z, z.x, z.y, z.z);
}

CameraView chase_camera(const BikeState *bike, int local_rider_drives, const ChaseOrbit &orbit,
                        const Terrain *terrain, const CameraSettings &settings) {
  BodyPlacement frame = bike_body_placement(bike, bike_frame);
  F3 T = frame_point(frame, f3(settings.chase_centre));
  F3 D;
  float distance, height;
  if (local_rider_drives) {
    distance = settings.chase_distance;
    height = settings.chase_height;
    F3 F = f3(frame.axes[2]) * -1;
    F3 V = f3(frame.velocity);
    V.y = 0;
    float s = length(V);
    if (settings.rigid_chase) {
      D = F3{F.x, 0, F.z};
    } else if (s * s >= 900) {
      D = V;
    } else {
      // Straight behind the frame below 10 ft/s, swinging round to the
      // direction of travel by 30 ft/s.
      float k = clampf((s - 10) * 0.05f, 0, 1);
      D = F + (V - F) * k;
    }
    D = D * -1;
    // Backing against the frame's heading can cancel the blend, and a bike
    // on its tail has no heading: then the camera stays behind the frame.
    if (!(dot(D, D) > 1e-12f)) D = f3(frame.axes[2]);
    if (!(dot(D, D) > 1e-12f)) D = F3{0, 0, 1};
  } else {
    D = F3{std::sin(orbit.angle), 0, std::cos(orbit.angle)};
    distance = orbit.distance;
    height = orbit.height;
  }
  F3 P = T + D * (distance / length(D));
  float ground = terrain ? average_ground_height(terrain, P.x, P.z, chase_ground_radius) + chase_ground_clearance
                         : -INFINITY;
  P.y = std::max(ground, T.y + height);
  return look_at(P, T, settings.fov);
}

CameraView keyframe_camera(const CameraKeyframe *keys, int count, int tic) {
  if (count <= 0) return make_view(F3{0, 0, 0}, F3{1, 0, 0}, F3{0, 1, 0}, F3{0, 0, 1}, 90);
  int k = 0;
  while (k < count && keys[k].tic <= tic) k++;
  if (k == 0 || k == count) {
    const CameraKeyframe &key = keys[k == 0 ? 0 : count - 1];
    float q[4];
    float l = std::sqrt(key.rotation[0] * key.rotation[0] + key.rotation[1] * key.rotation[1] +
                        key.rotation[2] * key.rotation[2] + key.rotation[3] * key.rotation[3]);
    for (int i = 0; i < 4; i++) q[i] = l > 0 ? key.rotation[i] / l : (i == 3 ? 1.0f : 0.0f);
    return quaternion_view(key.position, q, key.fov);
  }
  const CameraKeyframe *P[4] = {&keys[std::max(k - 2, 0)], &keys[k - 1], &keys[k], &keys[std::min(k + 1, count - 1)]};
  double T[4];
  for (int i = 0; i < 4; i++) T[i] = P[i]->tic;
  double u = std::clamp((tic - T[1]) / (T[2] - T[1]), 0.0, 1.0);
  // Each rotation on the same side as the segment's end, so the path takes
  // the short way round.
  float q[4][4];
  for (int i = 0; i < 4; i++) {
    float d = 0;
    for (int c = 0; c < 4; c++) d += P[i]->rotation[c] * P[2]->rotation[c];
    float sign = i != 2 && d < 0 ? -1.0f : 1.0f;
    for (int c = 0; c < 4; c++) q[i][c] = P[i]->rotation[c] * sign;
  }
  float position[3], rotation[4];
  for (int c = 0; c < 3; c++)
    position[c] = hermite(P[0]->position[c], P[1]->position[c], P[2]->position[c], P[3]->position[c], T[0], T[1],
                          T[2], T[3], u);
  float l2 = 0;
  for (int c = 0; c < 4; c++) {
    rotation[c] = hermite(q[0][c], q[1][c], q[2][c], q[3][c], T[0], T[1], T[2], T[3], u);
    l2 += rotation[c] * rotation[c];
  }
  float l = std::sqrt(l2);
  for (int c = 0; c < 4; c++) rotation[c] = l > 0 ? rotation[c] / l : (c == 3 ? 1.0f : 0.0f);
  float fov = static_cast<float>(P[1]->fov + (P[2]->fov - P[1]->fov) * u);
  return quaternion_view(position, rotation, fov);
}

CameraView camera_record_view(const TrackCamera &camera) {
  float sy = std::sin(camera.yaw), cy = std::cos(camera.yaw);
  float sp = std::sin(camera.pitch), cp = std::cos(camera.pitch);
  F3 back = facing(camera) * -1;
  F3 right{-cy, 0, sy};
  F3 up{-sy * sp, cp, -cy * sp};
  return make_view(F3{camera.x, camera.y, camera.z}, right, up, back, camera.fov);
}

CameraView trackside_camera(const CameraKeyframe *keys, int count, int keycam, int tic) {
  if (keycam && keys && count > 0) return keyframe_camera(keys, count, tic);
  bool track = track_camera_selected();
  CameraView view = camera_record_view(track ? *track_camera(state.selected) : state.free);
  view.broadcast = track;
  return view;
}

void yaw_pitch_quaternion(float yaw, float pitch, float q[4]) {
  float cy = std::cos(yaw / 2), sy = std::sin(yaw / 2), cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
  q[0] = cy * sp;
  q[1] = sy * cp;
  q[2] = -sy * sp;
  q[3] = cy * cp;
}

float average_ground_height(const Terrain *terrain, float x, float z, float radius) {
  if (!std::isfinite(x) || !std::isfinite(z) || !(radius >= 0)) return terrain_height(terrain, 0, 0);
  float s = terrain->spacing, reach = radius + s;
  // Positions far off the grid see its border; clamping them first keeps
  // the sample indices in range of an int.
  float limit = terrain->extent + 2 * reach;
  x = clampf(x, -limit, 2 * limit);
  z = clampf(z, -limit, 2 * limit);
  int i0 = static_cast<int>(std::floor((x - reach) / s)), i1 = static_cast<int>(std::ceil((x + reach) / s));
  int j0 = static_cast<int>(std::floor((z - reach) / s)), j1 = static_cast<int>(std::ceil((z + reach) / s));
  if (i1 - i0 > max_average_samples || j1 - j0 > max_average_samples) return terrain_height(terrain, x, z);
  double sum = 0, weight = 0;
  for (int j = j0; j <= j1; j++) {
    for (int i = i0; i <= i1; i++) {
      float dx = i * s - x, dz = j * s - z;
      float d = std::sqrt(dx * dx + dz * dz);
      float w = d <= radius ? 1 : d < reach ? (reach - d) / s : 0;
      if (w <= 0) continue;
      sum += static_cast<double>(w) * terrain_vertex_height(terrain, i, j);
      weight += w;
    }
  }
  if (!(weight > 0)) return terrain_vertex_height(terrain, i0, j0);
  return static_cast<float>(sum / weight);
}

// --- Steering ------------------------------------------------------------------

void steer_trackside_camera(TrackCamera *camera, const CameraAim &aim, int just_cut) {
  float want_yaw_rate, want_pitch_rate;
  if (aim.automatic) {
    F3 C{camera->x, camera->y, camera->z}, T = f3(aim.target), W = f3(aim.velocity);
    F3 d = T - C, ahead = d + W * dt;
    float a0 = std::atan2(d.x, d.z);
    // The rate that keeps up with the target's own motion.
    float r = clampf(wrap(std::atan2(ahead.x, ahead.z) - a0) / dt, -2 * pi, 2 * pi);
    if (just_cut) camera->yaw = a0;
    float e = clampf(wrap(a0 - camera->yaw), -pi / 2, pi / 2);
    // The tracking rate helps only while it turns the same way as the error.
    want_yaw_rate = r * e >= 0 ? e + r : e;
    float p0 = std::atan2(d.y, std::sqrt(d.x * d.x + d.z * d.z));
    float p1 = std::atan2(ahead.y, std::sqrt(ahead.x * ahead.x + ahead.z * ahead.z));
    float q = clampf((p1 - p0) / dt, -2 * pi, 2 * pi);
    if (just_cut) camera->pitch = p0;
    float f = p0 - camera->pitch;
    want_pitch_rate = f * pi / 4 + (q * f >= 0 ? q : 0);
    if (just_cut) {
      camera->yaw_rate = want_yaw_rate;
      camera->pitch_rate = want_pitch_rate;
    }
    if (camera->auto_fov_size > 0) {
      float want = std::atan2(camera->auto_fov_size, length(d)) * 114.59155902616465f;
      if (just_cut) {
        camera->fov = want;
      } else {
        float diff = want - camera->fov;
        camera->fov = approach(camera->fov, want, dt * (2 * std::fabs(diff) + 1));
      }
    }
  } else {
    want_yaw_rate = aim.steer * 1.1780972450961724f;
    want_pitch_rate = aim.pitch * pi / 4;
  }
  // At most pi rad/s^2 of angular acceleration either way.
  camera->yaw_rate = approach(camera->yaw_rate, want_yaw_rate, dt * pi);
  camera->pitch_rate = approach(camera->pitch_rate, want_pitch_rate, dt * pi);
  camera->yaw = wrap(camera->yaw + dt * camera->yaw_rate);
  camera->pitch = clampf(camera->pitch + dt * camera->pitch_rate, -pi / 2, pi / 2);
}

// --- State ---------------------------------------------------------------------

TrackCamera *free_camera() { return &state.free; }
int selected_camera() { return state.selected; }
void select_camera(int index) { state.selected = index < -1 ? -1 : index; }
void select_camera_key(int digit) { select_camera(std::min(digit, camera_count()) - 1); }
int automatic_cameras() { return state.automatic; }
void set_automatic_cameras(int on) { state.automatic = on != 0; }
ChaseOrbit *chase_orbit() { return &state.orbit; }
void cameras_reset() { state = initial_state(); }

void place_free_camera(const BikeState *bike) {
  BodyPlacement frame = bike_body_placement(bike, bike_frame);
  state.free.x = frame.position[0];
  state.free.y = frame.position[1] + 5;
  state.free.z = frame.position[2];
  state.free.fov = static_cast<float>(game_settings().fov.value);
}

// --- Per tic -------------------------------------------------------------------

void chase_orbit_tic(const float *channels) {
  ChaseOrbit &o = state.orbit;
  o.angle = wrap(o.angle + channels[channel_steer] * 2 * pi / 1024);
  if (channels[channel_throttle] > 0.5f) o.distance = std::max(o.distance - 1.0f / 64, 0.25f);
  if (channels[channel_front_brake] > 0.5f) o.distance += 1.0f / 64;
  o.height += channels[channel_shift] * dt;
}

void trackside_tic(const TracksideTic &tic) {
  const float *ch = tic.channels;
  if (ch[channel_dab] > 0.5f && state.dab_last <= 0.5f) state.automatic = !state.automatic;
  state.dab_last = ch[channel_dab];

  // Automatic switching cuts between track cameras by the gate the viewed
  // rider heads for; the free camera, once chosen, is kept.
  int cut = -1;
  if (state.automatic && tic.viewed && timing_gates()->normal_lap_count >= 1) {
    int camera = camera_for_gate(gate_at_position(tic.timing_position));
    if (camera != -1 && track_camera_selected() && camera != state.selected) {
      state.selected = camera;
      cut = camera;
    }
  }

  CameraAim aim{};
  if (tic.viewed) {
    BodyPlacement frame = bike_body_placement(tic.viewed, bike_frame);
    put(f3(frame.position), aim.target);
    if (!tic.paused) put(f3(frame.velocity), aim.velocity);
  }
  aim.automatic = state.automatic;
  aim.steer = ch[channel_steer];
  aim.pitch = ch[channel_shift];
  state.free.fov = tic.fov;
  state.free.auto_fov_size = 0;
  if (state.automatic) {
    // Every camera follows the rider, so each is already aimed when the view
    // cuts to it. Without a rider they hold still.
    if (tic.viewed) {
      for (int i = 0; i < camera_count(); i++) steer_trackside_camera(track_camera(i), aim, i == cut);
      steer_trackside_camera(&state.free, aim, 0);
    }
  } else {
    // The inputs turn only the camera in use.
    steer_trackside_camera(track_camera_selected() ? track_camera(state.selected) : &state.free, aim, 0);
  }

  // The free camera flies along its heading with throttle and front brake.
  float &speed = state.free_speed;
  if (ch[channel_throttle] > 0.5f) speed = std::min(speed + free_camera_accel * dt, free_camera_top_speed);
  if (ch[channel_front_brake] > 0.5f) speed = std::max(speed - free_camera_accel * dt, -free_camera_top_speed);
  speed = approach(speed, 0, free_camera_drag * dt);
  TrackCamera &f = state.free;
  if (std::fabs(speed) > 0.0001f) {
    F3 p = F3{f.x, f.y, f.z} + facing(f) * (speed * dt);
    f.x = p.x;
    f.y = p.y;
    f.z = p.z;
  }
  // Kept out of the ground whether it flies or not: a parked camera may
  // have been placed low, and the ground is reshaped as the race goes on.
  if (tic.terrain)
    f.y = std::max(f.y, average_ground_height(tic.terrain, f.x, f.z, free_ground_radius) + free_ground_clearance);
}
