// The auto pilot. The per-slot robot records live for the process; a path is
// freed when its slot leaves auto pilot or gets a new personality.
#include "robot/autopilot.h"

#include <ode/ode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "app/random.h"
#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/contact.h"
#include "bike/posture.h"
#include "platform/log.h"
#include "race/race.h"
#include "track/terrain.h"
#include "track/tiles.h"
#include "track/track.h"

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double tic_seconds = seconds_per_tic;
constexpr float staging_end = 5.0f;  // s after the reset
// The turning circle's radius while upright: a straight line for all
// practical purposes, kept finite.
constexpr double straight_radius = 1e7;
constexpr int plan_horizon = 4;  // slots looked ahead when weighing a line
constexpr uint8_t robot_aids = aid_stop_wheelie | aid_stop_stoppie | aid_front_antilock | aid_rear_antilock |
                               aid_auto_shift;

const Personality personalities[personality_count] = {
    {"empty", 0, 0, 0, 0, 0},
    {"belmo", 0, 0, 1, 0.2f, 0.4f},
    {"ardo", 2, 1, 10, 0.2f, 0.4f},
    {"cudry", 1, 0, 10, 0, 0.1f},
    {"tester", 3, 3, 1, 0.2f, 0.4f},
};

struct Robot {
  LinePoint *path;
  int n, capacity;
  int approach;
  int last_advance;  // tic
  int recovery;      // 0..3
  int next_slot;     // unfolded slot count
  int personality;
  float start_timer;  // s, 0 = not drawn
  int throttle_on;
  float stage_throttle_at;  // s, < 0 = not drawn
  float release;            // s, < 0 = not drawn
  float last_throttle;
  int last_turn_limit;  // tic
  int lines_taken;
  int finish_seen;
  int back_off_until;  // tic; backing away from a bike it is pinned against
};

Robot robots[max_slots];

struct V {
  double x, y, z;
};
V operator+(V a, V b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V operator-(V a, V b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V operator*(V a, double k) { return {a.x * k, a.y * k, a.z * k}; }
double dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double len(V a) { return std::sqrt(dot(a, a)); }
V vr(const dReal *p) { return {p[0], p[1], p[2]}; }
V pv(const LinePoint &p) { return {p.x, p.y, p.z}; }
double hlen(V a) { return std::hypot(a.x, a.z); }
double clampd(double x, double lo, double hi) { return std::min(std::max(x, lo), hi); }

V to_world(dBodyID b, double x, double y, double z) {
  dVector3 out;
  dBodyVectorToWorld(b, x, y, z, out);
  return vr(out);
}
V from_world(dBodyID b, V v) {
  dVector3 out;
  dBodyVectorFromWorld(b, v.x, v.y, v.z, out);
  return vr(out);
}

const LinePoint &at(const Robot &r, int k) { return r.path[std::clamp(k, 0, r.n - 1)]; }

V path_at(const Robot &r, double u) {
  int i = static_cast<int>(std::floor(u));
  double f = u - i;
  return pv(at(r, i)) + (pv(at(r, i + 1)) - pv(at(r, i))) * f;
}

void path_reserve(Robot *r, int count) {
  while (r->capacity < count) grow_array(r->path, r->capacity, r->capacity);
}

float race_seconds() { return static_cast<float>(race_state().tic * tic_seconds); }

// Everything a tic of the auto pilot reads from the bike.
struct Frame {
  dBodyID body;
  V pos, vel, forward, right;
  double s, phi, omega;
};

Frame read_frame(const BikeState *bike) {
  Frame f;
  f.body = bike->bodies[bike_frame];
  f.pos = vr(dBodyGetPosition(f.body));
  f.vel = vr(dBodyGetLinearVel(f.body));
  f.forward = to_world(f.body, 0, 0, -1);
  f.right = to_world(f.body, 1, 0, 0);
  f.s = len(f.vel);
  f.phi = lean_angle(bike);
  f.omega = roll_rate(bike);
  return f;
}

// u lies one point beyond the place where the path crosses the frame's
// lateral plane, looking back from the point before the approach index.
double path_position(const Robot &r, const Frame &f) {
  int k = std::min(r.approach, r.n) - 1;
  for (; k >= 0; k--)
    if (dot(pv(r.path[k]) - f.pos, f.forward) < 0) break;
  if (k < 0) return 0;
  double fk = dot(pv(at(r, k)) - f.pos, f.forward);
  double fk1 = dot(pv(at(r, k + 1)) - f.pos, f.forward);
  if (fk1 > 0) return (k + 1) + clampd(-fk / (fk1 - fk), 0, 1);
  return k + 1;
}

int find_jump(const Robot &r, int i) {
  for (int k = std::max(i, 0); k < std::min(i + 20, r.n) - 1; k++)
    if (r.path[k].speed < 0 && r.path[k + 1].speed < 0) return k;
  return -1;
}

void control_gear(BikeState *bike, int target) {
  // A held shift request shifts once: release it between steps.
  int gear = bike_gear(bike);
  if (bike->controls.last_shift != 0 || gear == target) {
    bike_set_shift(bike, 0);
  } else {
    bike_set_shift(bike, gear < target ? 1 : -1);
  }
}

// Speed control; returns the throttle it chose (also written).
float speed_control(BikeState *bike, const Frame &f, double vt) {
  const BikeInfo *info = bike_info(bike->model);
  float throttle;
  if (bike->wheels[1].depth <= 0) {
    bike_set_front_brake(bike, 0);
    bike_set_rear_brake(bike, 0);
    double pitch = from_world(f.body, vr(dBodyGetAngularVel(f.body))).x;
    double rear_y = dBodyGetPosition(bike->bodies[bike_rear_wheel])[1];
    double front_y = dBodyGetPosition(bike->bodies[bike_front_wheel])[1];
    if ((rear_y <= front_y || pitch >= 0) && pitch >= -pi / 4) {
      throttle = 0;
      if (front_y - rear_y > 1 && pitch >= -pi / 8) {
        bike_set_clutch(bike, 0);
        bike_set_rear_brake(bike, 1);
      } else {
        bike_set_clutch(bike, 0.125f);
      }
    } else {
      throttle = 1;
      bike_set_clutch(bike, 0.125f);
    }
    if (bike->crash_timer > 0) throttle = 0;
    bike_set_throttle(bike, throttle);
    return throttle;
  }
  double brakes = 0;
  if (f.s < vt - 1) {
    throttle = 1;
  } else {
    double x = f.s - (vt - 1);
    if (x >= 1) {
      throttle = 0;
      brakes = clampd(x - 1, 0, 1);
    } else {
      throttle = static_cast<float>(1 - x);
    }
  }
  if (bike->crash_timer > 0) throttle = 0;
  bike_set_throttle(bike, throttle);
  bike_set_front_brake(bike, static_cast<float>(brakes));
  bike_set_rear_brake(bike, static_cast<float>(brakes));
  if (bike_gear(bike) > 0) {
    bike_set_clutch(bike, 1);
  } else {
    double rpm = bike_engine_speed(bike) * 60 / (2 * pi);
    bike_set_clutch(bike, static_cast<float>(clampd((rpm - (info->downshift_rpm - 1000)) / 1000, 0, 1)));
  }
  return throttle;
}

float shrink(double x, double by) {
  if (x > by) return static_cast<float>(x - by);
  if (x < -by) return static_cast<float>(x + by);
  return 0;
}

// The steering that lines the front wheel up with its own travel.
float align_servo(const BikeState *bike) {
  double a = front_slip_angle(bike);
  dJointID j = bike->joints[joint_steering];
  double theta = dJointGetHingeAngle(j), rate = dJointGetHingeAngleRate(j);
  double e = shrink(clampd(a - theta, -0.25, 0.25), 1.0 / 32);
  double f = shrink(8 * e - rate, 1.0 / 2400);
  return static_cast<float>(clampd(0.5 * f, -2.0 / 3, 2.0 / 3));
}

double contact_load(const BikeState *bike) {
  double sum = 0;
  for (const WheelContact &w : bike->wheels)
    if (w.depth > 0) sum += w.feedback.f1[1];
  return sum;
}

// The footprint: 2 ft to each side, from 4 ft behind to 4 + s ft ahead.
struct Footprint {
  double x[4], z[4];
  V pos, dir;
};

Footprint footprint(const BikeState *bike) {
  Footprint fp;
  dBodyID b = bike->bodies[bike_frame];
  V v = vr(dBodyGetLinearVel(b));
  double s = len(v);
  fp.dir = s > 0 ? v * (1 / s) : V{0, 0, -1};
  fp.pos = vr(dBodyGetPosition(b));
  V c{fp.pos.x, 0, fp.pos.z};
  V side{-fp.dir.z, 0, fp.dir.x};
  const double ab[4][2] = {{-2, 4 + s}, {-2, -4}, {2, -4}, {2, 4 + s}};
  for (int k = 0; k < 4; k++) {
    V p = c + side * ab[k][0] + fp.dir * ab[k][1];
    fp.x[k] = p.x;
    fp.z[k] = p.z;
  }
  return fp;
}

int edges_cross(const Footprint &a, const Footprint &b, int k) {
  int k1 = (k + 1) % 4;
  auto side = [](double px, double pz, double qx, double qz, double rx, double rz) {
    return (qx - px) * (rz - pz) - (qz - pz) * (rx - px) >= 0;
  };
  return side(a.x[k], a.z[k], a.x[k1], a.z[k1], b.x[k], b.z[k]) !=
             side(a.x[k], a.z[k], a.x[k1], a.z[k1], b.x[k1], b.z[k1]) &&
         side(b.x[k], b.z[k], b.x[k1], b.z[k1], a.x[k], a.z[k]) !=
             side(b.x[k], b.z[k], b.x[k1], b.z[k1], a.x[k1], a.z[k1]);
}

// Footprints and their bounding boxes are kept per slot for the tic (bodies
// move only in the world step or when placed): with many bikes each is made
// once a tic, and two footprints whose boxes are apart cannot have crossing
// edges.
struct Reach {
  const BikeState *bike;
  int tic;
  Footprint fp;
  double lo_x, hi_x, lo_z, hi_z;
};
Reach reaches[max_slots];

const Reach &reach_of(int slot, const BikeState *bike) {
  Reach &r = reaches[slot];
  int tic = race_state().tic;
  // The frame's place is checked too: a bike placed anew, or a new race whose
  // bike reuses the memory and reaches the same tic, must not see the old one.
  const dReal *p = dBodyGetPosition(bike->bodies[bike_frame]);
  if (r.bike != bike || r.tic != tic || r.fp.pos.x != p[0] || r.fp.pos.y != p[1] || r.fp.pos.z != p[2]) {
    r.bike = bike;
    r.tic = tic;
    r.fp = footprint(bike);
    r.lo_x = r.hi_x = r.fp.x[0];
    r.lo_z = r.hi_z = r.fp.z[0];
    for (int k = 1; k < 4; k++) {
      r.lo_x = std::min(r.lo_x, r.fp.x[k]);
      r.hi_x = std::max(r.hi_x, r.fp.x[k]);
      r.lo_z = std::min(r.lo_z, r.fp.z[k]);
      r.hi_z = std::max(r.hi_z, r.fp.z[k]);
    }
  }
  return r;
}

const BikeState *bike_ahead(const BikeState *self) {
  const Reach &mine = reach_of(self->slot, self);
  const Footprint &me = mine.fp;
  double best = 1000000;
  const BikeState *ahead = nullptr;
  for (int j = 0; j < max_slots; j++) {
    const Slot *o = race_slot(j);
    if (!o || !o->bike || o->bike == self) continue;
    // Finished and racing riders pass through each other (the race's
    // collision rule), so neither slows for the other.
    if ((o->bike->finished != 0) != (self->finished != 0)) continue;
    const Reach &theirs = reach_of(j, o->bike);
    if (theirs.lo_x > mine.hi_x || theirs.hi_x < mine.lo_x || theirs.lo_z > mine.hi_z || theirs.hi_z < mine.lo_z)
      continue;
    const Footprint &other = theirs.fp;
    for (int k = 0; k < 4; k++) {
      if (!edges_cross(me, other, k)) continue;
      double dx = other.pos.x - me.pos.x, dz = other.pos.z - me.pos.z;
      double d2 = dx * dx + dz * dz;
      if (d2 < best && dot(other.pos - me.pos, me.dir) > dot(me.pos - other.pos, other.dir)) {
        best = d2;
        ahead = o->bike;
      }
      break;
    }
  }
  return ahead;
}

int robot_mode(int slot, const Personality *p) {
  const RaceState &race = race_state();
  if (race.running_count >= 2 && race.running_order[0].slot == slot) {
    const RunningEntry &second = race.running_order[1];
    const Slot *me = race_slot(slot);
    int own = gate_tic(&me->timing, second.position - 1);
    if (own >= 0 && second.tic > 0 && (second.tic - own) * tic_seconds > p->lead_threshold) return p->lead_mode;
  }
  return p->mode;
}

void append_point(Robot *r, const LinePoint &p) {
  path_reserve(r, r->n + 1);
  r->path[r->n++] = p;
}

void refill(BikeState *bike, Robot *r, const Frame &f) {
  int rows = line_slot_count();
  if (rows == 0 || r->n - r->approach > 10 || bike->finished) return;
  const RaceState &race = race_state();
  int slot = fold_line_slot(r->next_slot);
  const Personality *p = &personalities[r->personality];
  int mode = robot_mode(bike->slot, p);

  double costs[lines_per_slot];
  plan(slot, std::min(plan_horizon, rows), mode, costs, nullptr);
  double best = 1e300;
  for (int i = 0; i < lines_per_slot; i++)
    if (line_record(slot, i)->point_count > 0) best = std::min(best, costs[i]);
  double race_time = (race.tic - race.gate_drop_tic) * tic_seconds;
  double fresh_in = clampd((race_time - 40) * 0.05, 0, 1);

  int winner = -1;
  double winner_score = -1e300, winner_match = 0;
  float ref[3] = {0, 0, 0};
  if (r->n >= 3) reference_point(r->path[r->n - 3], r->path[r->n - 2], r->path[r->n - 1], ref);
  V refv{ref[0], ref[1], ref[2]};
  for (int i = 0; i < lines_per_slot; i++) {
    const Line *l = line_record(slot, i);
    if (l->point_count == 0) continue;
    double w = costs[i] > 0 ? best / costs[i] : 1;
    if (mode != 3 && best_line_serial(std::min(mode, line_mode_count - 1), slot) == l->serial)
      w += (1 - w) * fresh_in;
    if (slot == 0) w = 0.2 * w + 0.8;
    double m = 0;
    V first = pv(l->points[0]);
    if (r->n < 3) {
      double c = clampd((100 - len(first - f.pos)) / 96, 0, 1);
      m = 10 * c * c * c;
    } else if (l->point_count >= 2) {
      const LinePoint &L = r->path[r->n - 1];
      double dl = hlen(pv(L) - refv), d0 = hlen(first - refv), d1 = hlen(pv(l->points[1]) - refv);
      double s1 = clampd((std::fabs(L.speed) - std::fabs(l->points[0].speed) - 15) * -0.2, 0, 1);
      double s2 = clampd((std::fabs(dl - d0) - 5) * (-1 / 3.5), 0, 1);
      double s3 = clampd((std::fabs(d1 - d0) - 3) * -0.5, 0, 1);
      double q = s2 * s3;
      m = s1 * q * q * q;
    }
    double fresh = clampd((race.tic - static_cast<double>(l->last_picked)) / (3.0 * tics_per_second), 0, 1);
    double score = w * fresh + m;
    if (score > winner_score) winner_score = score, winner = i, winner_match = m;
  }
  if (winner < 0) return;
  Line *won = line_record(slot, winner);
  if (autopilot_debug())
    hovl_log("auto pilot: picking %d score = %f match = %f last_picked = %f\n", slot, winner_score, winner_match,
             (race.tic - static_cast<double>(won->last_picked)) * tic_seconds);
  const LinePoint &end = won->points[won->point_count - 1];
  for (int i = 0; i < lines_per_slot; i++) {
    Line *l = line_record(slot, i);
    if (l->point_count == 0) continue;
    const LinePoint &e = l->points[l->point_count - 1];
    double dx = e.x - end.x, dy = e.y - end.y, dz = e.z - end.z;
    if (l == won || dx * dx + dy * dy + dz * dz <= 9) l->last_picked = race.tic;
  }
  picked_serials(bike->slot)[r->next_slot & 3] = won->serial;
  r->next_slot++;

  // Keep at most 30 points behind the one being approached.
  if (r->approach > 30) {
    int drop = r->approach - 30;
    memmove(r->path, r->path + drop, sizeof(LinePoint) * static_cast<size_t>(r->n - drop));
    r->n -= drop;
    r->approach -= drop;
  }
  int was_empty = r->n == 0;
  if (was_empty) {
    // The first of the five lead-in points is where the bike stands, so the
    // joint below bends from the bike onto the line instead of onto itself.
    LinePoint here = won->points[0];
    here.x = static_cast<float>(f.pos.x), here.y = static_cast<float>(f.pos.y), here.z = static_cast<float>(f.pos.z);
    append_point(r, here);
    for (int k = 1; k < 5; k++) append_point(r, won->points[0]);
  }
  int old_n = r->n;
  path_reserve(r, r->n + won->point_count);
  memcpy(r->path + r->n, won->points, sizeof(LinePoint) * static_cast<size_t>(won->point_count));
  r->n += won->point_count;

  int i0 = std::max(old_n - 5, r->approach), i1 = old_n;
  if (i1 - i0 >= 2 && i1 < r->n && r->path[i0].speed >= 0 && r->path[i1].speed >= 0) {
    double span = i1 - i0;
    V p0 = pv(r->path[i0]), p1 = pv(r->path[i1]);
    V m0 = was_empty ? f.forward * (7.5 * i1) : (p0 - pv(at(*r, i0 - 1))) * span;
    V m1 = (pv(at(*r, i1 + 1)) - p1) * span;
    float s0 = r->path[i0].speed, s1 = r->path[i1].speed, l0 = r->path[i0].lean, l1 = r->path[i1].lean;
    for (int k = i0 + 1; k < i1; k++) {
      double t = (k - i0) / span, t2 = t * t, t3 = t2 * t;
      V q = p0 * (2 * t3 - 3 * t2 + 1) + m0 * (t3 - 2 * t2 + t) + p1 * (-2 * t3 + 3 * t2) + m1 * (t3 - t2);
      LinePoint &pt = r->path[k];
      pt.x = static_cast<float>(q.x), pt.y = static_cast<float>(q.y), pt.z = static_cast<float>(q.z);
      pt.speed = std::min(pt.speed, static_cast<float>(s0 + (s1 - s0) * t));
      pt.lean = static_cast<float>(l0 + (l1 - l0) * t);
    }
  }
  if (r->lines_taken++ == 0) {
    int k = 0;
    V start = pv(r->path[0]);
    while (k < r->n - 1 && len(pv(r->path[k]) - start) <= 10) k++;
    r->approach = k;
    r->last_advance = race.tic;
  }
}

void advance(Robot *r, const Frame &f) {
  if (r->n == 0 || r->approach >= r->n) return;
  const LinePoint &P = r->path[r->approach];
  double dx = P.x - f.pos.x, dz = P.z - f.pos.z;
  double d2 = dx * dx + dz * dz;
  double radius = r->recovery == 3 ? 30 : 60;
  if (d2 > radius * radius) return;
  if (d2 > 16 && r->approach > 0) {
    V step = pv(P) - pv(r->path[r->approach - 1]);
    step.y = 0;
    if (hlen(step) > 1 && dot(step, f.forward) < 0) return;
  }
  r->approach++;
  r->last_advance = race_state().tic;
  if (r->recovery > 0) r->recovery--;
  if (r->approach >= r->n) r->n = r->approach = 0;
}

void no_path(BikeState *bike) {
  bike_set_throttle(bike, 0);
  bike_set_clutch(bike, 0);
  bike_set_front_brake(bike, 1);
  bike_set_rear_brake(bike, 1);
  bike_set_steer(bike, 0);
  bike_set_dab(bike, 1);
}

// Staging, the gate drop and the launch; returns 1 while it has the controls.
int start(BikeState *bike, Robot *r) {
  const RaceState &race = race_state();
  const Personality *p = &personalities[r->personality];
  float t = race_seconds();
  float T0 = static_cast<float>(race.gate_drop_tic * tic_seconds);
  if (r->release < 0 && t >= T0)
    r->release = T0 + p->start_delay_min + (p->start_delay_max - p->start_delay_min) * random_float();
  if (r->release >= 0 && t >= r->release + 2) return 0;
  const BikeInfo *info = bike_info(bike->model);
  int stage_gear = info->gear_ratios[1] > 0 ? 1 : 0;
  bike_set_steer(bike, 0);
  if (r->release >= 0 && t >= r->release) {
    float e = std::clamp(4 * (t - r->release), 0.0f, 1.0f);
    bike_set_clutch(bike, e);
    bike_set_dab(bike, 1 - e);
    bike_set_front_brake(bike, 0);
    bike_set_rear_brake(bike, 0);
    bike_set_throttle(bike, 1);
    if (e >= 0.75f) bike->aid_flags |= aid_auto_shift;
    else control_gear(bike, stage_gear);
    return 1;
  }
  bike->aid_flags &= static_cast<uint8_t>(~aid_auto_shift);
  control_gear(bike, stage_gear);
  bike_set_dab(bike, 1);
  bike_set_clutch(bike, 0);
  bike_set_front_brake(bike, 1);
  bike_set_rear_brake(bike, 1);
  if (t < staging_end) {
    if (r->start_timer == 0) r->start_timer = std::max(2 * random_float(), 1e-6f);
    if (t >= r->start_timer) {
      r->throttle_on = !r->throttle_on;
      float phase = r->throttle_on ? 0.25f + 0.5f * random_float() : 2 + 0.5f * random_float();
      r->start_timer = std::min(t + phase, staging_end);
    }
    bike_set_throttle(bike, r->throttle_on ? 1.0f : 0.0f);
    return 1;
  }
  if (r->stage_throttle_at < 0) r->stage_throttle_at = t + 0.125f + 0.375f * random_float();
  bike_set_throttle(bike, t >= r->stage_throttle_at ? 1.0f : 0.0f);
  return 1;
}

void follow_path(BikeState *bike, Robot *r, const Frame &f) {
  const RaceState &race = race_state();
  const Terrain *terrain = track_terrain();
  if (race.tic - r->last_advance > 3 * tics_per_second) {
    r->recovery = 3;
    return;
  }
  bike_set_dab(bike, 0);
  double u = path_position(*r, f);
  int i = static_cast<int>(u);
  double vt = std::fabs(at(*r, i).speed) + (std::fabs(at(*r, i + 1).speed) - std::fabs(at(*r, i).speed)) * (u - i);
  int J = find_jump(*r, i);
  double TJ = 1000000;
  if (J >= 0 && f.s > 1e-3) TJ = (J - i) * 0.25 + len(pv(at(*r, i)) - f.pos) / f.s;

  double m = bike->total_mass;
  double g = std::max(1.0, contact_load(bike) / (32 * m) - 1);
  double tan_phi = std::tan(f.phi);
  double Rc = std::fabs(tan_phi) > 1e-9 ? -f.s * f.s / (32 * g * tan_phi) : straight_radius;
  Rc = clampd(Rc, -straight_radius, straight_radius);
  double rho = pi / g, G = 4;

  if (const BikeState *o = bike_ahead(bike)) {
    double since = std::min((race.tic - race.gate_drop_tic) * tic_seconds, 100.0);
    double E = clampd((120 - since) / 100, 0, 1);
    V opos = vr(dBodyGetPosition(o->bodies[bike_frame]));
    V ovel = vr(dBodyGetLinearVel(o->bodies[bike_frame]));
    double D = len(opos - f.pos);
    V C = f.pos + f.right * Rc;
    V radial = opos - C;
    radial.y = 0;
    double rl = len(radial);
    V rest = ovel;
    if (rl > 0) rest = ovel - radial * (dot(ovel, radial) / (rl * rl));
    double vo = dot(rest, f.forward) > 0 ? len(rest) : 0;
    double gap = 8 * E + 12;
    if (D < gap) {
      vt = std::min(vt, (1 - 0.25 * E) * vo);
    } else if (vo < vt) {
      double tau = (f.s - vo) / 5;
      double X = (f.s * tau - 2.5 * tau * tau) - (vo * tau + D);
      if (X > -gap) {
        vt += (vo - vt) * clampd((X + gap) / 3, 0, 1);
        int *serials = picked_serials(bike->slot);
        for (int k = 0; k < 4; k++) serials[k] = 0;
      }
    }
  }

  V target;
  const Slot *me = race_slot(bike->slot);
  if (me->timing.next_gate < 1) {
    target = path_at(*r, u + 4);
  } else {
    V dir = f.s > 0.1 ? f.vel * (1 / f.s) : f.forward;
    int mc = 0;
    for (int k = i + 1; k <= std::min(i + 6, r->n - 1); k++) {
      V d = pv(r->path[k]) - f.pos;
      double ahead = dot(d, dir);
      double lateral = len(d - dir * ahead);
      if (ahead > 0 && lateral <= ahead / 8) mc++;
    }
    double c = clampd((20 - mc) / 17.0, 0, 1);
    G *= c;
    rho *= c;
    if (TJ >= 2) {
      target = path_at(*r, mc > 4 && std::fabs(f.phi) < pi / 8 ? u + 3 : u + 2);
    } else {
      double w = clampd(2 * (2 - TJ), 0, 1);
      V p3 = pv(at(*r, i + 3));
      target = p3 + ((f.pos + pv(at(*r, J + 3)) - pv(at(*r, J))) - p3) * w;
    }
  }

  V d = target - f.pos;
  double a = dot(d, f.right), fa = dot(d, f.forward);
  double radius;
  if (fa <= 0) {
    radius = a >= 0 ? 10 : -10;
  } else {
    double qa, qf;
    if (std::fabs(Rc) >= straight_radius) {
      qa = 0, qf = fa;  // the circle is the straight line ahead
    } else {
      double ca = a - Rc, cf = fa, cl = std::hypot(ca, cf);
      if (cl > 0) qa = Rc + std::fabs(Rc) * ca / cl, qf = std::fabs(Rc) * cf / cl;
      else qa = 0, qf = 0;
    }
    double ta = 3 * a - 2 * qa, tf = 3 * fa - 2 * qf;
    if (std::fabs(ta) < 1e-6) ta = ta < 0 ? -1e-6 : 1e-6;
    radius = (ta * ta + tf * tf) / (2 * ta);
  }
  double L0 = -std::atan(f.s * f.s / (32 * g * radius));
  double L = L0;
  if (terrain) {
    auto bank_clamp = [&](double x, double z) {
      float n[3];
      terrain_normal(terrain, static_cast<float>(x), static_cast<float>(z), n);
      V local = from_world(f.body, V{n[0], n[1], n[2]});
      double beta = f.phi - std::atan2(local.x, local.y);
      const Tile *tile = ground_tile(terrain, static_cast<float>(x), static_cast<float>(z));
      double mu = tile ? tile->friction[0].value : 1;
      double lambda = std::min(std::atan(mu), 3 * pi / 8);
      L = clampd(L, beta - lambda, beta + lambda);
    };
    for (int k = i + 4; k >= i; k--) bank_clamp(at(*r, k).x, at(*r, k).z);
    V fw = vr(dBodyGetPosition(bike->bodies[bike_front_wheel])) +
           vr(dBodyGetLinearVel(bike->bodies[bike_front_wheel])) * 0.25;
    bank_clamp(fw.x, fw.z);
  }
  if (L != L0) {
    vt = std::min(vt, std::sqrt(std::tan(std::fabs(L)) * 32 * g * std::fabs(radius)));
    r->last_turn_limit = race.tic;
  }

  const float *sv = bike->wheels[0].velocity;
  double Sf = std::sqrt(sv[0] * sv[0] + sv[1] * sv[1] + sv[2] * sv[2]);
  double kth = clampd(1 - Sf / 16, 0, 1);
  if (f.s < 7.5) {
    L = 0;
    kth = 1;
  } else if (f.s < 10) {
    double k = (f.s - 7.5) * 0.4;
    L *= k;
    kth = 1 - (1 - kth) * k;
  }
  if (TJ < 3) {
    double k = clampd((3 - TJ) / 2, 0, 1);
    kth += (1 - kth) * k;
    vt += (std::max(f.s, std::fabs(at(*r, i).speed) + 2.0) - vt) * k;
    double lim = pi / 2 - 1.3744469 * k;
    L = clampd(L, -lim, lim);
    rho += (pi / 8 - rho) * clampd((3 - TJ) / 3, 0, 1);
  }
  double e = (L - f.phi) * G;
  if ((e < 0 && f.phi >= 0) || (e > 0 && f.phi < 0)) rho *= 2;
  double wstar = clampd(e, -rho, rho);

  bike->full_lock_speed = 1;
  bike->restricted_lock_speed = 50;
  bike->restricted_lock_angle =
      static_cast<float>(clampd((1 + 4 * clampd(std::fabs(wstar) / pi, 0, 1)) * pi / 180, 0, pi / 4));

  double servo = align_servo(bike);
  double steer = servo;
  if (bike->wheels[0].depth > 0) {
    double q = 4 * ((f.omega - wstar) + clampd(wstar - f.omega, -0.125, 0.125));
    double ks = clampd(1 - Sf / 4, 0, 1);
    steer = servo + (q - servo) * ks;
  }
  bike_set_steer(bike, static_cast<float>(clampd(steer, -1, 1)));

  double x = speed_control(bike, f, vt) * kth;
  double h = r->last_throttle;
  if (race.tic - r->last_turn_limit <= tics_per_second / 8) x = clampd(x, 0, h + 1.0 / 32);
  else x = clampd(x, h - 1.0 / 32, 1);
  r->last_throttle = static_cast<float>(x);
  bike_set_throttle(bike, bike->crash_timer > 0 ? 0.0f : static_cast<float>(clampd(x, 0, 1)));
}

// A recovering robot that has stalled against another bike standing ahead of
// it walks backwards for a moment: two robots pressed together at full
// throttle and full lock otherwise stay jammed until the drag comes at 19 s.
// Only the one behind gives way, so the pair comes apart.
constexpr int back_off_tics = 3 * tics_per_second / 2;
constexpr int stall_tics = 6 * tics_per_second;

bool pinned_behind(const BikeState *bike, const Frame &f) {
  const RaceState &race = race_state();
  if (f.s >= 3 || race.tic - bike->last_collision_tic > tics_per_second / 8) return false;
  for (int j = 0; j < max_slots; j++) {
    const Slot *o = race_slot(j);
    if (!o || !o->bike || o->bike == bike || race.tic - o->bike->last_collision_tic > tics_per_second / 8) continue;
    V d = vr(dBodyGetPosition(o->bike->bodies[bike_frame])) - f.pos;
    if (!(d.x * d.x + d.z * d.z < 8 * 8)) continue;
    // Of two bikes nose to nose, the one the other lies more squarely in
    // front of gives way; a dead heat goes by slot.
    double mine = dot(d, f.forward), theirs = -dot(d, to_world(o->bike->bodies[bike_frame], 0, 0, -1));
    if (mine > 0 && (mine > theirs || (mine == theirs && bike->slot > j))) return true;
  }
  return false;
}

void recover(BikeState *bike, Robot *r, const Frame &f) {
  const RaceState &race = race_state();
  if (race.tic >= r->back_off_until && bike->crash_timer <= 0 && pinned_behind(bike, f))
    r->back_off_until = race.tic + back_off_tics;
  if (race.tic < r->back_off_until) {
    bike_set_back_up(bike, 1);
    bike_set_dab(bike, 1);
    bike_set_steer(bike, 0);
    bike_set_clutch(bike, 0);
    bike_set_throttle(bike, 0);
    bike_set_front_brake(bike, 0);
    bike_set_rear_brake(bike, 0);
    return;
  }
  double tau = (race.tic - r->last_advance) * tic_seconds;
  if (tau > 40) {
    r->recovery = 3;
    r->approach = race.tic % r->n;
    r->last_advance = race.tic;
    tau = 0;
  }
  V Q = pv(at(*r, r->approach));
  double u = path_position(*r, f);
  int i = static_cast<int>(u);
  int J = find_jump(*r, i);
  if (tau <= 19) {
    double target = 15;
    bike_set_dab(bike, 0);
    V d = from_world(f.body, Q - f.pos);
    double lim = 0.5;
    if (f.s < 10) {
      lim = 1.0 / 6;
      bike_set_dab(bike, 1);
      if (std::fabs(f.phi) > 1.0 / 6) target = 5;
    } else if (f.s < 20) {
      lim = 0.5 * (1.0 / 3 + (2.0 / 3) * (f.s - 10) / 10);
    }
    double L;
    if (std::fabs(d.x) <= -d.z) L = clampd(0.5 * d.x / d.z, -lim, lim);
    else L = d.x >= 0 ? -lim : lim;
    if (-d.z < 4 * std::fabs(d.x) || (J >= 0 && J <= i + 8)) r->recovery = 3;
    bike_set_steer(bike, static_cast<float>(clampd(2 * (f.omega - clampd(4 * (L - f.phi), -4, 4)), -1, 1)));
    speed_control(bike, f, target);
    return;
  }
  dBodyID front = bike->bodies[bike_front_wheel];
  V fp = vr(dBodyGetPosition(front));
  V to = Q - fp;
  double tl = len(to);
  V want = tl > 0 ? to * (5 / tl) : V{0, 0, 0};
  V dv = vr(dBodyGetLinearVel(front)) - want;
  double dl = len(dv);
  if (dl >= 0.25) {
    double k = -500 * clampd((dl - 0.25) * 0.8, 0, 1) / dl;
    dBodyAddForce(front, k * dv.x, 0, k * dv.z);
  }
  dBodyAddForce(f.body, 0, 16 * bike->total_mass, 0);
  dJointID j = bike->joints[joint_steering];
  bike_set_steer(bike, static_cast<float>(clampd(-(dJointGetHingeAngle(j) + dJointGetHingeAngleRate(j)) / 4, -1, 1)));
  bike_set_dab(bike, 1);
  bike_set_clutch(bike, 0);
  bike_set_throttle(bike, 0);
  bike_set_front_brake(bike, 0);
  bike_set_rear_brake(bike, 0);
}

}  // namespace

const Personality *personality(int index) {
  return index >= 0 && index < personality_count ? &personalities[index] : nullptr;
}

void autopilot_clear(int slot) {
  if (slot < 0 || slot >= max_slots) return;
  tracked_free(robots[slot].path);
  robots[slot] = Robot{};
}

void set_personality(BikeState *bike, const char *name) {
  if (!bike || bike->slot < 0 || bike->slot >= max_slots) return;
  int index = 0;
  for (int k = 1; k < personality_count && name; k++)
    if (strcmp(personalities[k].name, name) == 0) index = k;
  if (index == 0) {
    char text[160];
    snprintf(text, sizeof text, "auto pilot personality '%.100s' not found", name ? name : "");
    print_message(text);
    index = 1;
  }
  autopilot_clear(bike->slot);
  Robot *r = &robots[bike->slot];
  r->personality = index;
  r->stage_throttle_at = -1;
  r->release = -1;
  r->last_turn_limit = -1000000;
  r->last_advance = race_state().tic;
  bike->aid_flags |= robot_aids;
}

int personality_of(int slot) { return slot >= 0 && slot < max_slots ? robots[slot].personality : 0; }

void auto_pilot(BikeState *bike) {
  if (!bike || bike->slot < 0 || bike->slot >= max_slots) return;
  Robot *r = &robots[bike->slot];
  if (r->personality == 0) return;
  Frame f = read_frame(bike);
  bike_set_back_up(bike, 0);
  advance(r, f);
  refill(bike, r, f);
  // Staging and the launch run with or without a path, so robots on a track
  // without lines still leave the gate before they stop.
  if (start(bike, r)) {
    r->last_advance = race_state().tic;
    return;
  }
  if (r->n == 0) {
    no_path(bike);
    return;
  }
  if (bike->finished && !r->finish_seen) {
    // Roll out: the recorded speeds fall from 1 to 0.25 of themselves.
    r->finish_seen = 1;
    int rest = r->n - r->approach;
    for (int k = r->approach; k < r->n; k++)
      r->path[k].speed *= static_cast<float>(1 - 0.75 * (k - r->approach) / std::max(rest - 1, 1));
  }
  if (r->recovery == 0) follow_path(bike, r, f);
  else recover(bike, r, f);
}

int autopilot_on_line(int slot) {
  const Slot *s = race_slot(slot);
  if (!s || !s->bike || personality_of(slot) == 0) return 0;
  const Robot &r = robots[slot];
  if (r.n < 2) return 0;
  Frame f = read_frame(s->bike);
  double u = path_position(r, f);
  V on = path_at(r, std::max(u - 1, 0.0));
  if (hlen(on - f.pos) > 4) return 0;
  int i = static_cast<int>(u);
  return f.s * 0.9375 <= std::max(std::fabs(at(r, i - 1).speed), std::fabs(at(r, i).speed));
}

int autopilot_approach_point(int slot, float out[3]) {
  if (slot < 0 || slot >= max_slots) return 0;
  const Robot &r = robots[slot];
  if (r.personality == 0 || r.approach >= r.n) return 0;
  out[0] = r.path[r.approach].x, out[1] = r.path[r.approach].y, out[2] = r.path[r.approach].z;
  out[3] = r.path[r.approach].speed;
  return 1;
}

int autopilot_path_length(int slot) { return slot >= 0 && slot < max_slots ? robots[slot].n : 0; }
int autopilot_recovering(int slot) { return slot >= 0 && slot < max_slots ? robots[slot].recovery : 0; }
int autopilot_stalled(int slot) {
  if (slot < 0 || slot >= max_slots) return 0;
  const Robot &r = robots[slot];
  return r.personality != 0 && r.recovery > 0 && race_state().tic - r.last_advance > stall_tics;
}
