#include "track/roost.h"

#include <ode/ode.h>

#include <cmath>
#include <cstring>

#include "app/random.h"
#include "app/types.h"
#include "bike/bike.h"
#include "bike/contact.h"
#include "track/objects.h"
#include "track/terrain.h"

namespace {

// The particle pool: lives for the process, emptied at every race reset and
// when a track is freed.
RoostParticle particles[roost_pool_size];
int free_head = -1;
int pool_ready;
int live_count;

constexpr float dt = static_cast<float>(seconds_per_tic);
constexpr float skid_spread = 0.049087385f;  // pi / 64
constexpr float inv_sqrt2 = 0.70710678f;

// Uniform numbers as the roost draws them: 24 bits for directions and
// angles, 31 bits for sizes and probabilities.
float uniform24() { return static_cast<float>(random_u32() >> 8) * (1.0f / 16777216.0f); }
float uniform31() { return static_cast<float>(random_u32() >> 1) * (1.0f / 2147483648.0f); }

// floor(v), plus 1 with probability frac(v); draws only when there is a
// fraction to decide.
int random_round(float v) {
  if (!(v > 0)) return 0;
  float whole = std::floor(v);
  float frac = v - whole;
  int n = whole > 1e6f ? 1000000 : static_cast<int>(whole);
  if (frac > 0 && uniform31() < frac) n++;
  return n;
}

void build_pool() {
  memset(particles, 0, sizeof particles);
  for (int k = 0; k < roost_pool_size; k++) particles[k].next_free = k + 1 < roost_pool_size ? k + 1 : -1;
  free_head = 0;
  live_count = 0;
  pool_ready = 1;
}

// The particle's billboard: the track's first 2000 are the pool (none while
// no track is loaded).
Billboard *pool_billboard(int index) {
  return billboard_count() >= roost_pool_size ? track_billboard(index) : nullptr;
}

void show(int index) {
  const RoostParticle &p = particles[index];
  Billboard *b = pool_billboard(index);
  if (!b) return;
  b->x = p.position[0];
  b->y = p.position[1];
  b->z = p.position[2];
  b->width = b->height = p.size;
  memcpy(b->colour, p.colour, 4);
  b->visible = p.live;
}

void spawn(const RoostType &type, const float position[3], const float velocity[3]) {
  if (!pool_ready) build_pool();
  if (free_head < 0) return;  // pool used up: the particle is dropped
  int index = free_head;
  RoostParticle &p = particles[index];
  free_head = p.next_free;
  memcpy(p.position, position, sizeof p.position);
  memcpy(p.velocity, velocity, sizeof p.velocity);
  p.size = type.size;
  p.colour[0] = type.r;
  p.colour[1] = type.g;
  p.colour[2] = type.b;
  p.colour[3] = type.a;
  p.type = type;
  p.live = 1;
  p.next_free = -1;
  live_count++;
  if (Billboard *b = pool_billboard(index)) {
    b->texture = type.texture;
    b->texture_path = type.texture_path;
  }
  show(index);
}

void kill(int index) {
  RoostParticle &p = particles[index];
  p.live = 0;
  p.next_free = free_head;
  free_head = index;
  live_count--;
  if (Billboard *b = pool_billboard(index)) b->visible = 0;
}

void cross(const float a[3], const float b[3], float out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}
float dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

struct RoostContact {
  float point[3];
  float normal[3];
  float velocity[3];  // the tyre's slip velocity at the contact point
};

// Two jets up at 45 degrees to either side of the direction of travel.
void emit_splash(const RoostType &type, const RoostContact &c, const float v[3], int n, int tic) {
  const float *nh = c.normal;
  float vn = dot(v, nh);
  float vt[3] = {v[0] - vn * nh[0], v[1] - vn * nh[1], v[2] - vn * nh[2]};
  float l = std::sqrt(dot(vt, vt));
  float t[3] = {0, 0, 0};
  if (l > 0) {
    for (int i = 0; i < 3; i++) t[i] = vt[i] / l;
  }
  float nt[3], tn[3];
  cross(nh, t, nt);
  cross(t, nh, tn);
  float jets[2][3];
  for (int i = 0; i < 3; i++) {
    jets[0][i] = (nt[i] + nh[i]) * l * inv_sqrt2;
    jets[1][i] = (nh[i] + tn[i]) * l * inv_sqrt2;
  }
  for (int k = 0; k < n; k++) {
    const float *d = jets[((tic ^ k) & 1) == 0 ? 0 : 1];
    float r[3];
    for (float &ri : r) ri = uniform24() - 0.5f;
    float u = uniform31();
    float lead = static_cast<float>(k) * dt / static_cast<float>(n);
    float pos[3], vel[3];
    for (int i = 0; i < 3; i++) {
      pos[i] = c.point[i] + d[i] * lead;
      vel[i] = (d[i] + type.randomize * r[i]) * (type.vscale * u);
    }
    spawn(type, pos, vel);
  }
}

// Dirt flung off the tyre from a little way up its back.
void emit_fling(const RoostType &type, const RoostContact &c, dBodyID body, const float axle_local[3], float max_spread,
                int n) {
  float slip = std::sqrt(dot(c.velocity, c.velocity));
  if (!(slip >= type.slip_threshold)) return;
  const dReal *lv = dBodyGetLinearVel(body);
  float v[3] = {static_cast<float>(lv[0]), static_cast<float>(lv[1]), static_cast<float>(lv[2])};
  float spread;
  if (dot(v, c.velocity) >= 0) {
    spread = skid_spread;  // the tyre skids
  } else {
    const dReal *av = dBodyGetAngularVel(body);
    float w2 = static_cast<float>(av[0] * av[0] + av[1] * av[1] + av[2] * av[2]);
    float span = type.fast_speed * type.fast_speed - type.slow_speed * type.slow_speed;
    float f = span != 0 ? (w2 - type.slow_speed * type.slow_speed) / span : (w2 >= type.fast_speed * type.fast_speed);
    f = !(f > 0) ? 0 : (f > 1 ? 1 : f);
    spread = type.slow_angle + (type.fast_angle - type.slow_angle) * f;
    if (spread > max_spread) spread = max_spread;
  }
  dVector3 axle_world;
  dBodyVectorToWorld(body, axle_local[0], axle_local[1], axle_local[2], axle_world);
  float a[3] = {static_cast<float>(axle_world[0]), static_cast<float>(axle_world[1]), static_cast<float>(axle_world[2])};
  float al = std::sqrt(dot(a, a));
  if (!(al > 0)) return;
  for (float &ai : a) ai /= al;
  const dReal *centre = dBodyGetPosition(body);
  float w[3] = {static_cast<float>(centre[0]), static_cast<float>(centre[1]), static_cast<float>(centre[2])};
  float rel[3] = {c.point[0] - w[0], c.point[1] - w[1], c.point[2] - w[2]};
  float axial = dot(rel, a), ax_rel[3];
  cross(a, rel, ax_rel);
  for (int k = 0; k < n; k++) {
    // Turning by -theta about the axle (+x, the rider's right) carries the
    // bottom of a forward-rolling tyre toward the rear.
    float theta = -uniform24() * spread;
    float r[3];
    for (float &ri : r) ri = uniform24() - 0.5f;
    float cs = std::cos(theta), sn = std::sin(theta);
    float p[3];
    for (int i = 0; i < 3; i++) p[i] = w[i] + rel[i] * cs + ax_rel[i] * sn + a[i] * axial * (1 - cs);
    dVector3 pv;
    dBodyGetPointVel(body, p[0], p[1], p[2], pv);
    float lead = static_cast<float>(k) * dt / static_cast<float>(n);
    float pos[3], vel[3];
    for (int i = 0; i < 3; i++) {
      float vi = static_cast<float>(pv[i]);
      pos[i] = p[i] + vi * lead;
      vel[i] = (vi + type.randomize * r[i]) * type.vscale;
    }
    spawn(type, pos, vel);
  }
}

void emit_wheel(const Terrain *terrain, const WheelContact *wheel, int from_history, float max_spread, int cap,
                int tic) {
  if (!wheel->body) return;
  RoostContact c;
  if (from_history) {
    WheelQuery q = wheel_contact_query(terrain, wheel);
    if (!q.touched || !(q.depth > 0)) return;
    memcpy(c.point, q.point, sizeof c.point);
    memcpy(c.normal, q.normal, sizeof c.normal);
    dVector3 pv;
    dBodyGetPointVel(wheel->body, q.point[0], q.point[1], q.point[2], pv);
    for (int i = 0; i < 3; i++) c.velocity[i] = static_cast<float>(pv[i]);
  } else {
    if (!(wheel->depth > 0)) return;
    memcpy(c.point, wheel->point, sizeof c.point);
    memcpy(c.normal, wheel->normal, sizeof c.normal);
    memcpy(c.velocity, wheel->velocity, sizeof c.velocity);
  }
  if (!std::isfinite(c.point[0]) || !std::isfinite(c.point[1]) || !std::isfinite(c.point[2])) return;
  int tile = tile_at(terrain, c.point[0], c.point[2]);
  if (tile < 0 || tile >= terrain->tile_count) return;
  const RoostType *types = terrain->tiles[tile].roost;
  for (int k = 0; k < max_roost_types && types[k].kind != 0; k++) {
    const RoostType &type = types[k];
    int n = random_round(type.count);
    if (n > cap) n = cap;
    if (n <= 0) continue;
    if (type.kind == 2) {
      const dReal *lv = dBodyGetLinearVel(wheel->body);
      float v[3] = {static_cast<float>(lv[0]), static_cast<float>(lv[1]), static_cast<float>(lv[2])};
      emit_splash(type, c, v, n, tic);
    } else {
      emit_fling(type, c, wheel->body, wheel->axle, max_spread, n);
    }
  }
}

}  // namespace

void roost_reset() {
  build_pool();
  for (int k = 0; k < roost_pool_size; k++)
    if (Billboard *b = pool_billboard(k)) b->visible = 0;
}

void roost_emit(const Terrain *terrain, BikeState *bike, int from_history, int density, int tic) {
  if (!terrain || !bike) return;
  if (density < 0) density = 0;
  if (density > max_roost_density) density = max_roost_density;
  int cap = density / 100;
  int rest = density % 100;
  if (rest > 0 && uniform31() < static_cast<float>(rest) / 100) cap++;
  if (cap == 0) return;
  emit_wheel(terrain, &bike->wheels[0], from_history, front_roost_spread, cap, tic);
  emit_wheel(terrain, &bike->wheels[1], from_history, rear_roost_spread, cap, tic);
}

void roost_move(const Terrain *terrain) {
  if (!pool_ready) build_pool();
  for (int k = 0; k < roost_pool_size; k++) {
    RoostParticle &p = particles[k];
    if (!p.live) continue;
    if (!terrain) {
      kill(k);
      continue;
    }
    for (int i = 0; i < 3; i++) p.position[i] += p.velocity[i] * dt;
    for (float &v : p.velocity) v -= v * (dt * p.type.drag);
    p.velocity[1] -= 32 * dt;
    p.size += p.type.grow * dt;
    const uint8_t fade[4] = {p.type.fade_r, p.type.fade_g, p.type.fade_b, p.type.fade_a};
    for (int c = 0; c < 4; c++) {
      int v = p.colour[c] + static_cast<int8_t>(fade[c]);
      p.colour[c] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
    if (p.velocity[1] < 0 && terrain_height(terrain, p.position[0], p.position[2]) >= p.position[1]) {
      kill(k);
    } else {
      show(k);
    }
  }
}

int roost_live_count() { return live_count; }

const RoostParticle *roost_particle(int index) {
  if (index < 0 || index >= roost_pool_size) return nullptr;
  return &particles[index];
}
