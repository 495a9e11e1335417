#include "bike/assembly.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "assets/texture.h"
#include "app/types.h"
#include "bike/shape.h"
#include "platform/log.h"

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double degrees_to_radians = 0.017453292519943295;

// The one physics world: created at start-up, destroyed at shutdown.
struct PhysicsWorld {
  dWorldID world;
  dJointGroupID contacts;
};
PhysicsWorld physics;

// Lives for the process; the network client clears it for a connection whose
// server forbids arcade physics.
int arcade_allowed = 1;

float clampf(double v, double lo, double hi) {
  if (!(v > lo)) return static_cast<float>(lo);  // NaN goes to the low end
  return static_cast<float>(v > hi ? hi : v);
}

// ODE wants each body's centre of mass at its origin; the symmetric sums
// below leave at most rounding residue.
void centre_mass(dMass *m) { dMassTranslate(m, -m->c[0], -m->c[1], -m->c[2]); }

void wheel_mass(dMass *out, float hub_mass, float hub_radius, float tyre_mass, float tube, float ring) {
  dMassSetSphereTotal(out, hub_mass, hub_radius);
  for (int i = 0; i < 16; i++) {
    double a = i * (pi / 8);
    dMass part;
    dMassSetSphereTotal(&part, tyre_mass / 16.0, tube);
    dMassTranslate(&part, 0, ring * std::cos(a), ring * std::sin(a));
    dMassAdd(out, &part);
  }
  centre_mass(out);
}

void fork_mass(dMass *out, const BikeInfo *info) {
  double radius = info->fork_leg_spacing * 0.125, length = info->fork_leg_length * 2.0 / 3.0;
  dMassSetZero(out);
  for (int side = -1; side <= 1; side += 2) {
    dMass leg;
    dMassSetCylinderTotal(&leg, info->fork_mass / 2.0, 2, radius, length);
    dMassTranslate(&leg, side * info->fork_leg_spacing / 2.0, 0, 0);
    dMassAdd(out, &leg);
  }
  double dy = info->steering_head[1] - info->fork_lower_position[1];
  double dz = info->steering_head[2] - info->fork_lower_position[2];
  dMatrix3 R;
  dRFromAxisAndAngle(R, 1, 0, 0, std::atan(dz / dy));
  dMassRotate(out, R);
  centre_mass(out);
}

void swingarm_mass(dMass *out, const BikeInfo *info) {
  double w = info->frame_box[0] * 0.25;
  double ly = info->rear_axle[1] - info->swingarm_pivot[1];
  double lz = info->rear_axle[2] - info->swingarm_pivot[2];
  double length = std::sqrt(ly * ly + lz * lz);
  dMassSetZero(out);
  for (int side = -1; side <= 1; side += 2) {
    dMass box;
    dMassSetBoxTotal(&box, info->swingarm_side_mass, w, w, length);
    dMassTranslate(&box, side * info->frame_box[0] * 0.5, 0, 0);
    dMassAdd(out, &box);
  }
  dMatrix3 R;
  dRFromAxisAndAngle(R, 1, 0, 0, -std::atan(ly / lz));
  dMassRotate(out, R);
  centre_mass(out);
}

// Splits the rider's mass between the rider body (share d) and the frame.
void set_mass_distribution(BikeState *bike, float d) {
  const BikeInfo *info = bike_info(bike->model);
  dMass m;
  dMassSetBoxTotal(&m, info->bike_mass + (1 - d) * info->rider_mass, info->frame_box[0], info->frame_box[1],
                   info->frame_box[2]);
  dBodySetMass(bike->bodies[bike_frame], &m);
  dMassSetSphereTotal(&m, d * info->rider_mass, 1.0);
  dBodySetMass(bike->bodies[bike_rider], &m);
  bike->rider_mass_distribution = d;
  double total = 0;
  for (int i = 0; i < bike_body_count; i++) {
    dBodyGetMass(bike->bodies[i], &m);
    total += m.mass;
  }
  bike->total_mass = static_cast<float>(total);
}

// Frame-relative point of the rest pose carried into the world by the frame.
void frame_point(const BikeState *bike, const float rest[3], dVector3 out) {
  const float *f = bike_info(bike->model)->frame_position;
  dBodyGetRelPointPos(bike->bodies[bike_frame], rest[0] - f[0], rest[1] - f[1], rest[2] - f[2], out);
}

void clear_forces(BikeState *bike) {
  for (dBodyID b : bike->bodies) {
    dBodySetForce(b, 0, 0, 0);
    dBodySetTorque(b, 0, 0, 0);
  }
}

void enable_bodies(BikeState *bike, bool on) {
  for (dBodyID b : bike->bodies) {
    if (on)
      dBodyEnable(b);
    else
      dBodyDisable(b);
  }
}

void default_setup(BikeState *bike) {
  const BikeInfo *info = bike_info(bike->model);
  bike->final_drive = bike_final_drive(info, 0, 0);
  bike->engine_inertia = info->engine_inertia;
  bike->fork = {info->fork_compression,
                0,
                info->fork_rebound,
                0,
                info->fork_spring_min + 0.5f * (info->fork_spring_max - info->fork_spring_min),
                info->fork_preload_min + 0.5f * (info->fork_preload_max - info->fork_preload_min),
                info->fork_air_gap_min};
  bike->shock = {2 * info->shock_compression,
                 0,
                 2 * info->shock_rebound,
                 info->shock_slow_rebound,
                 info->shock_spring_min + 0.5f * (info->shock_spring_max - info->shock_spring_min),
                 info->shock_preload_min + 0.5f * (info->shock_preload_max - info->shock_preload_min),
                 0};
  bike->rider_vertical_spring = 0.5f;
  bike->rider_forward_spring = 0.5f;
  bike->rider_vertical_damping = 0.75f;
  bike->rider_forward_damping = 0.75f;
  bike->roll_damping = 60;
  bike->leveling = 20;
  bike->roll_limit_factor = 10;
  bike->roll_limit_angle = static_cast<float>(pi / 4);
  bike->steering_damping = 45;
  bike->steering_strength = 75;
  bike->max_steering_force = 400;
  bike->direct_steering = 1;
  bike->slow_damping_speed = 0;
  bike->slow_damping_factor = 1;
  bike->land_damping_falloff = 0.25f;
  bike->land_damping_factor = 2;
  bike->auto_clutch_rpm = 5000;
  bike->front_brake_torque = 250;
  bike->rear_brake_torque = 250;
  bike->max_dab_speed = 30;
  bike->full_lock_speed = 10;
  bike->restricted_lock_speed = 50;
  bike->restricted_lock_angle = 0.0872665f;
  bike->aid_flags = default_aid_flags;
  bike->arcade = 0;
}

// Names of missing shape files already reported; lives for the process, so a
// data set without shapes logs each name once rather than at every build.
constexpr int max_reported_shapes = 16;
const char *reported_shapes[max_reported_shapes];

void report_missing_shape(const char *name) {
  const char *interned = intern_string(name);
  for (const char *seen : reported_shapes) {
    if (seen == interned) return;
    if (!seen) break;
  }
  for (const char *&slot : reported_shapes)
    if (!slot) {
      slot = interned;
      break;
    }
  hovl_log("Missing shape file %s\n", name);
}

const char *chosen_texture(const char *given, const char *catalogue_name) {
  return intern_string(given && given[0] ? given : catalogue_name);
}

}  // namespace

// --- World ------------------------------------------------------------------

void physics_world_create() {
  if (physics.world) return;
  dInitODE2(0);
  physics.world = dWorldCreate();
  dWorldSetGravity(physics.world, 0, gravity_y, 0);
  physics.contacts = dJointGroupCreate(0);
}

void physics_world_destroy() {
  if (!physics.world) return;
  dJointGroupDestroy(physics.contacts);
  dWorldDestroy(physics.world);
  physics = {};
  dCloseODE();
}

dWorldID physics_world() { return physics.world; }
dJointGroupID physics_contact_group() { return physics.contacts; }

void physics_world_step() {
  dWorldStep(physics.world, seconds_per_tic);
  dJointGroupEmpty(physics.contacts);
}

void set_arcade_allowed(int allowed) { arcade_allowed = allowed ? 1 : 0; }

// --- Setup --------------------------------------------------------------------

BikeSetup bike_setup_defaults() {
  BikeSetup s{};
  s.leveling = 20;
  s.roll_damping = 80;
  s.roll_limit_angle = 45;
  s.roll_limit_factor = 32;
  s.steering_damping = 60;
  s.steering_strength = 75;
  s.max_steering_force = 400;
  s.direct_steering = 0.125f;
  s.slow_damping_speed = 40;
  s.slow_damping_factor = 2;
  s.land_damping_falloff = 0.25f;
  s.land_damping_factor = 2;
  s.full_lock_speed = 10;
  s.restricted_lock_speed = 50;
  s.restricted_lock = 1;
  s.arcade = 1;
  s.front_brake = 1;
  s.rear_brake = 0;
  s.stop_wheelies = 1;
  s.auto_shift = 1;
  s.auto_dab = 1;
  s.auto_align = 1;
  s.auto_clutch_rpms = 5000;
  s.brake_torque = 500;
  s.rear_brake_torque = 250;
  s.max_dab_speed = 60;
  s.fork_compression_adjustment = 50;
  s.fork_slow_compression_adjustment = 50;
  s.fork_rebound_adjustment = 50;
  s.fork_slow_rebound_adjustment = 50;
  s.fork_spring_rate_adjustment = 50;
  s.fork_preload_adjustment = 50;
  s.fork_oil_level_adjustment = 50;
  s.shock_compression_adjustment = 75;
  s.shock_slow_compression_adjustment = 50;
  s.shock_rebound_adjustment = 75;
  s.shock_slow_rebound_adjustment = 50;
  s.shock_spring_rate_adjustment = 50;
  s.shock_preload_adjustment = 50;
  s.rider_yspring = 50;
  s.rider_ydamping = 50;
  s.rider_zspring = 50;
  s.rider_zdamping = 50;
  s.rider_mass_distribution = 0.33f;
  return s;
}

int apply_setup(BikeState *bike, const BikeSetup &s, double program_clock) {
  const dReal *v = dBodyGetLinearVel(bike->bodies[bike_frame]);
  if (v[0] * v[0] + v[1] * v[1] + v[2] * v[2] > 0.125 * 0.125) {
    if (program_clock - bike->setup_refused_at < 10) print_message("Settings not applied.  Mechanic can't keep up error.");
    bike->setup_refused_at = program_clock;
    return 0;
  }
  const BikeInfo *info = bike_info(bike->model);
  bike->leveling = clampf(s.leveling, 0, 100);
  bike->roll_damping = clampf(s.roll_damping, 0, 100);
  bike->roll_limit_angle = clampf(s.roll_limit_angle * degrees_to_radians, 0, pi);
  bike->roll_limit_factor = clampf(s.roll_limit_factor, 0, 64);
  bike->steering_damping = clampf(s.steering_damping, 0, 100);
  bike->steering_strength = clampf(s.steering_strength, 0, 100);
  bike->max_steering_force = clampf(s.max_steering_force, 0, 1000);
  bike->arcade = s.arcade && arcade_allowed ? 1 : 0;

  int stop = s.stop_wheelies == 1 ? 3 : s.stop_wheelies == 2 ? 2 : 0;
  uint8_t flags = bike->aid_flags & aid_steering_model;
  flags |= static_cast<uint8_t>(stop << 1);
  if (s.front_brake) flags |= aid_front_antilock;
  if (s.rear_brake) flags |= aid_rear_antilock;
  if (s.auto_shift) flags |= aid_auto_shift;
  if (s.auto_dab) flags |= aid_auto_dab;
  if (s.auto_align) flags |= aid_auto_align;
  bike->aid_flags = flags;

  bike->direct_steering = clampf(s.direct_steering, 0, 1);
  bike->slow_damping_speed = clampf(s.slow_damping_speed, 0, 100);
  bike->slow_damping_factor = clampf(s.slow_damping_factor, 1, 10);
  bike->land_damping_falloff = clampf(s.land_damping_falloff, 0, 0.5);
  bike->land_damping_factor = clampf(s.land_damping_factor, 1, 3);
  bike->full_lock_speed = clampf(s.full_lock_speed, 1, 100);
  bike->restricted_lock_speed = clampf(s.restricted_lock_speed, 1, 100);
  bike->restricted_lock_angle = clampf(s.restricted_lock * degrees_to_radians, 0, pi / 4);
  bike->auto_clutch_rpm = clampf(s.auto_clutch_rpms, 0, 5000);
  bike->front_brake_torque = clampf(s.brake_torque, 0, 500);
  bike->rear_brake_torque = clampf(s.rear_brake_torque, 0, 500);
  bike->max_dab_speed = clampf(s.max_dab_speed * 1.4666666666666666, 7, 100);
  bike->final_drive = bike_final_drive(info, s.front_sprocket_adjustment, s.rear_sprocket_adjustment);

  auto factor = [](float v) { return clampf(std::pow(2.0, v * 0.04 - 2), 0.25, 4); };
  auto offset = [](float v) { return clampf(v * 0.02 - 1, -1, 1); };
  auto share = [](float v) { return clampf(v * 0.01, 0, 1); };
  auto mix = [](float lo, float hi, float t) { return lo + t * (hi - lo); };
  bike->fork.compression = factor(s.fork_compression_adjustment) * info->fork_compression;
  bike->fork.slow_compression = offset(s.fork_slow_compression_adjustment) * info->fork_slow_compression;
  bike->fork.rebound = factor(s.fork_rebound_adjustment) * info->fork_rebound;
  bike->fork.slow_rebound = offset(s.fork_slow_rebound_adjustment) * info->fork_slow_rebound;
  bike->fork.spring_rate = mix(info->fork_spring_min, info->fork_spring_max, share(s.fork_spring_rate_adjustment));
  bike->fork.preload = mix(info->fork_preload_min, info->fork_preload_max, share(s.fork_preload_adjustment));
  bike->fork.air_gap = mix(info->fork_air_gap_min, info->fork_air_gap_max, share(s.fork_oil_level_adjustment));
  bike->shock.compression = factor(s.shock_compression_adjustment) * info->shock_compression;
  bike->shock.slow_compression = offset(s.shock_slow_compression_adjustment) * info->shock_slow_compression;
  bike->shock.rebound = factor(s.shock_rebound_adjustment) * info->shock_rebound;
  bike->shock.slow_rebound = offset(s.shock_slow_rebound_adjustment) * info->shock_slow_rebound;
  bike->shock.spring_rate = mix(info->shock_spring_min, info->shock_spring_max, share(s.shock_spring_rate_adjustment));
  bike->shock.preload = mix(info->shock_preload_min, info->shock_preload_max, share(s.shock_preload_adjustment));
  bike->rider_vertical_spring = share(s.rider_yspring);
  bike->rider_vertical_damping = share(s.rider_ydamping);
  bike->rider_forward_spring = share(s.rider_zspring);
  bike->rider_forward_damping = share(s.rider_zdamping);
  set_mass_distribution(bike, clampf(s.rider_mass_distribution, 0.33, 0.5));
  return 1;
}

// --- Build and tear down ----------------------------------------------------------

void number_plate_colours(const char *text, uint8_t background[3], uint8_t foreground[3]) {
  const char *tags[2] = {"[numberbackground:", "[numberforeground:"};
  uint8_t *out[2] = {background, foreground};
  for (int t = 0; t < 2; t++) {
    float c[3] = {1, 1, 1};
    const char *at = text ? strstr(text, tags[t]) : nullptr;
    if (at && sscanf(at + strlen(tags[t]), "%f,%f,%f", &c[0], &c[1], &c[2]) != 3) c[0] = c[1] = c[2] = 1;
    for (int k = 0; k < 3; k++) out[t][k] = static_cast<uint8_t>(std::floor(clampf(c[k], 0, 1) * 255 + 0.5));
  }
}

BikeState *build_bike(const char *model_name, int slot, const char *rider_number, const char *rider_texture,
                      const char *head_texture, const char *bike_texture, const char *wheels_texture) {
  physics_world_create();
  BikeState *bike = static_cast<BikeState *>(alloc_or_die(sizeof(BikeState)));
  memset(bike, 0, sizeof *bike);
  bike->model = bike_info_resolve(model_name);
  bike->slot = slot;
  bike->setup_refused_at = -1e30;
  const BikeInfo *info = bike_info(bike->model);

  // Models and textures are loaded by the drawing code from these names; it
  // falls back to the catalogue's texture when a given one fails.
  BikeGraphics &g = bike->graphics;
  g.texture_names[texture_bike] = chosen_texture(bike_texture, info->bike_texture);
  g.texture_names[texture_wheels] = chosen_texture(wheels_texture, info->wheels_texture);
  g.texture_names[texture_rider_head] = chosen_texture(head_texture, info->head_texture);
  g.texture_names[texture_rider_body] = chosen_texture(rider_texture, info->rider_body_texture);
  snprintf(g.number, sizeof g.number, "%s", rider_number ? rider_number : "");
  number_plate_colours(nullptr, g.number_background, g.number_foreground);

  const char *shape_names[bike_body_count] = {info->frame_shape,      info->front_wheel_shape,
                                              info->rear_wheel_shape, info->fork_upper_shape,
                                              info->fork_lower_shape, info->swingarm_shape,
                                              info->rider_shape};
  for (int i = 0; i < bike_body_count; i++) {
    bike->shapes[i] = copy_shape(shape_names[i]);
    if (!bike->shapes[i]) report_missing_shape(shape_names[i]);
  }

  const float *positions[bike_body_count] = {info->frame_position,   info->front_axle,
                                             info->rear_axle,        info->steering_head,
                                             info->fork_lower_position, info->swingarm_position,
                                             info->rider_position};
  for (int i = 0; i < bike_body_count; i++) {
    bike->bodies[i] = dBodyCreate(physics.world);
    dBodySetPosition(bike->bodies[i], positions[i][0], positions[i][1], positions[i][2]);
  }
  dMass m;
  wheel_mass(&m, info->front_hub_mass, info->front_hub_radius, info->front_tyre_mass, info->front_tube_radius,
             info->front_ring_radius);
  dBodySetMass(bike->bodies[bike_front_wheel], &m);
  wheel_mass(&m, info->rear_hub_mass, info->rear_hub_radius, info->rear_tyre_mass, info->rear_tube_radius,
             info->rear_ring_radius);
  dBodySetMass(bike->bodies[bike_rear_wheel], &m);
  fork_mass(&m, info);
  dBodySetMass(bike->bodies[bike_fork_upper], &m);
  dBodySetMass(bike->bodies[bike_fork_lower], &m);
  swingarm_mass(&m, info);
  dBodySetMass(bike->bodies[bike_swingarm], &m);
  set_mass_distribution(bike, 1.0f / 3.0f);
  dBodySetFiniteRotationMode(bike->bodies[bike_front_wheel], 1);
  dBodySetFiniteRotationMode(bike->bodies[bike_rear_wheel], 1);

  dWorldID w = physics.world;
  dBodyID *b = bike->bodies;
  dJointID *j = bike->joints;
  const float *fa = info->front_axle, *ra = info->rear_axle, *sh = info->steering_head, *pv = info->swingarm_pivot;
  double fork_axis[3] = {sh[0] - info->fork_lower_position[0], sh[1] - info->fork_lower_position[1],
                         sh[2] - info->fork_lower_position[2]};

  j[joint_front_axle] = dJointCreateHinge(w, nullptr);
  dJointAttach(j[joint_front_axle], b[bike_fork_lower], b[bike_front_wheel]);
  dJointSetHingeAnchor(j[joint_front_axle], fa[0], fa[1], fa[2]);
  dJointSetHingeAxis(j[joint_front_axle], 1, 0, 0);

  j[joint_rear_axle] = dJointCreateHinge(w, nullptr);
  dJointAttach(j[joint_rear_axle], b[bike_swingarm], b[bike_rear_wheel]);
  dJointSetHingeAnchor(j[joint_rear_axle], ra[0], ra[1], ra[2]);
  dJointSetHingeAxis(j[joint_rear_axle], 1, 0, 0);

  j[joint_steering] = dJointCreateHinge(w, nullptr);
  dJointAttach(j[joint_steering], b[bike_fork_upper], b[bike_frame]);
  dJointSetHingeAnchor(j[joint_steering], sh[0], sh[1], sh[2]);
  dJointSetHingeAxis(j[joint_steering], fork_axis[0], fork_axis[1], fork_axis[2]);
  dJointSetHingeParam(j[joint_steering], dParamLoStop, -pi / 4);
  dJointSetHingeParam(j[joint_steering], dParamHiStop, pi / 4);

  j[joint_fork] = dJointCreateSlider(w, nullptr);
  dJointAttach(j[joint_fork], b[bike_fork_upper], b[bike_fork_lower]);
  dJointSetSliderAxis(j[joint_fork], fork_axis[0], fork_axis[1], fork_axis[2]);
  dJointSetSliderParam(j[joint_fork], dParamBounce, 0);
  dJointSetSliderParam(j[joint_fork], dParamLoStop, -info->fork_travel);
  dJointSetSliderParam(j[joint_fork], dParamHiStop, 0);

  j[joint_swingarm] = dJointCreateHinge(w, nullptr);
  dJointAttach(j[joint_swingarm], b[bike_swingarm], b[bike_frame]);
  dJointSetHingeAnchor(j[joint_swingarm], pv[0], pv[1], pv[2]);
  dJointSetHingeAxis(j[joint_swingarm], 1, 0, 0);
  dJointSetHingeParam(j[joint_swingarm], dParamBounce, 0);
  dJointSetHingeParam(j[joint_swingarm], dParamLoStop, -info->swingarm_travel);
  dJointSetHingeParam(j[joint_swingarm], dParamHiStop, 0);

  j[joint_rider] = dJointCreateHinge2(w, nullptr);
  dJointSetHinge2Param(j[joint_rider], dParamLoStop, 0);
  dJointSetHinge2Param(j[joint_rider], dParamHiStop, 0);

  for (int i = 0; i < bike_joint_count; i++) dJointSetFeedback(j[i], &bike->feedback[i]);

  for (int i = 0; i < 2; i++) {
    WheelContact &c = bike->wheels[i];
    c.body = b[i == 0 ? bike_front_wheel : bike_rear_wheel];
    c.axle[0] = 1;
    c.ring_radius = i == 0 ? info->front_ring_radius : info->rear_ring_radius;
    c.tube_radius = i == 0 ? info->front_tube_radius : info->rear_tube_radius;
  }

  default_setup(bike);
  reset_bike(bike);  // also joins the rider to the frame
  return bike;
}

void seat_rider(BikeState *bike) {
  const BikeInfo *info = bike_info(bike->model);
  dBodyID frame = bike->bodies[bike_frame], rider = bike->bodies[bike_rider];
  dVector3 p;
  frame_point(bike, info->rider_position, p);
  dBodySetPosition(rider, p[0], p[1], p[2]);
  dBodySetQuaternion(rider, dBodyGetQuaternion(frame));

  // The anchor 50 ft ahead makes axis 2 a near-vertical slide for the rider;
  // anchor and axes are set afresh so the joint's rest is this pose.
  dJointID joint = bike->joints[joint_rider];
  dJointAttach(joint, rider, frame);
  dVector3 anchor, axis1, axis2;
  dBodyGetRelPointPos(frame, 0 - info->frame_position[0], info->rider_position[1] - info->frame_position[1],
                      -50 - info->frame_position[2], anchor);
  dBodyVectorToWorld(frame, 0, 1, 1, axis1);
  dBodyVectorToWorld(frame, 1, 0, 0, axis2);
  dJointSetHinge2Anchor(joint, anchor[0], anchor[1], anchor[2]);
  dJointSetHinge2Axes(joint, axis1, axis2);
}

void detach_rider(BikeState *bike) { dJointAttach(bike->joints[joint_rider], nullptr, nullptr); }

void reset_bike(BikeState *bike) {
  const BikeInfo *info = bike_info(bike->model);
  const float *positions[bike_body_count] = {info->frame_position,      info->front_axle,
                                             info->rear_axle,           info->steering_head,
                                             info->fork_lower_position, info->swingarm_position,
                                             info->rider_position};
  dMatrix3 identity;
  dRFromAxisAndAngle(identity, 0, 1, 0, 0);
  for (int i = 0; i < bike_body_count; i++) {
    dBodyID b = bike->bodies[i];
    dBodySetPosition(b, positions[i][0], positions[i][1], positions[i][2]);
    dBodySetRotation(b, identity);
    dBodySetLinearVel(b, 0, 0, 0);
    dBodySetAngularVel(b, 0, 0, 0);
  }
  clear_forces(bike);
  seat_rider(bike);
  bike->controls = ControlInput{};
  bike->engine_speed = 0;
  bike->driveline_angle = 0;
  bike->crash_timer = 0;
  bike->crash_count = 0;
  memset(bike->free_feet, 0, sizeof bike->free_feet);
  memset(bike->feedback, 0, sizeof bike->feedback);
  memset(bike->rider_velocity_history, 0, sizeof bike->rider_velocity_history);
  for (WheelContact &c : bike->wheels) {
    memset(c.point, 0, sizeof c.point);
    memset(c.velocity, 0, sizeof c.velocity);
    memset(c.normal, 0, sizeof c.normal);
    c.depth = 0;
    memset(&c.feedback, 0, sizeof c.feedback);
  }
  bike->take_off_tic = 0;
  bike->landing_tic = 0;
  bike->finished = 0;
  bike->landing_damping = 1;
  bike->steering_saturation = 0;
  bike->collision_timer = 0;
  bike->last_collision_tic = -1;
  bike->stopped = 0;
  bike->activity = 1;
  enable_bodies(bike, true);
}

void move_bike(BikeState *bike, double dx, double dy, double dz) {
  for (dBodyID b : bike->bodies) {
    const dReal *p = dBodyGetPosition(b);
    dBodySetPosition(b, p[0] + dx, p[1] + dy, p[2] + dz);
  }
}

void destroy_bike(BikeState *bike) {
  if (!bike) return;
  texture_release(static_cast<unsigned>(bike->graphics.textures[texture_number_plate]), bike->graphics.number_plate_bytes);
  for (dJointID j : bike->joints)
    if (j) dJointDestroy(j);
  for (dBodyID b : bike->bodies)
    if (b) dBodyDestroy(b);
  for (CollisionShape *s : bike->shapes) free_shape_instance(s);
  tracked_free(bike);
}

// --- Activity ------------------------------------------------------------------

void bike_activate(BikeState *bike) {
  if (bike->activity <= 0.25f) clear_forces(bike);
  bike->activity = 1;
  enable_bodies(bike, true);
}

void bike_deactivate(BikeState *bike) {
  if (bike->activity <= 0.25f) clear_forces(bike);
  bike->activity = 0;
  enable_bodies(bike, false);
}

void bike_touch(BikeState *bike) {
  if (bike->activity == 0) {
    bike_activate(bike);
  } else if (bike->activity <= 0.25f) {
    clear_forces(bike);
    bike->activity = 0.25f;
    enable_bodies(bike, false);
  }
}

void bike_decay_activity(BikeState *bike) {
  if (!(bike->activity > 0)) return;
  float a = bike->activity - static_cast<float>(seconds_per_tic);
  bike->activity = a < 0 ? 0 : a > 1 ? 1 : a;
  enable_bodies(bike, bike->activity > 0.25f);
}
