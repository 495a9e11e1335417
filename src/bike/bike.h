// The per-bike runtime record, the control inputs every driver writes through
// clamping setters, and the 39-byte quantised pose (PackedBikeState) carried
// by the history, demo files and network packets.
#pragma once
#include <ode/ode.h>

#include <cstdint>

#include "bike/catalogue.h"

struct CollisionShape;

// Bodies in their fixed order; part mask bit i (1 << i) names body i.
enum BikeBodyIndex {
  bike_frame,
  bike_front_wheel,
  bike_rear_wheel,
  bike_fork_upper,
  bike_fork_lower,
  bike_swingarm,
  bike_rider,
  bike_body_count
};
enum BikeJointIndex {
  joint_front_axle,
  joint_rear_axle,
  joint_steering,
  joint_fork,
  joint_swingarm,
  joint_rider,
  bike_joint_count
};
static_assert(bike_body_count == 7 && bike_joint_count == 6);
constexpr int bike_part_mask(int body) { return 1 << body; }

// One tyre's ground contact for the current tic (depth 0 = not touching).
struct WheelContact {
  dBodyID body;
  float axle[3];  // in the wheel body's frame
  float ring_radius;
  float tube_radius;
  float point[3];
  float velocity[3];  // slip velocity of the contact point
  float normal[3];
  float depth;
  dJointFeedback feedback;
};

// The control fields; written only through the setters below.
struct ControlInput {
  float throttle;     // 0..1
  float clutch;       // engagement 0..1, 1 = engaged
  float front_brake;  // 0..1
  float rear_brake;   // 0..1
  float steer;        // -1..1, positive = left
  float dab;          // 0..1
  float foot_down;    // 0..1, driven by the dab and crash physics
  float back_up;      // 0..1
  float lean;         // -1..1, positive = back
  int32_t gear;       // 0..5, 0 = first gear
  int32_t last_shift; // -1, 0, +1
};

// Damping and spring values of one suspension end, as the setup left them.
struct SuspensionValues {
  float compression;       // high speed, lbf per ft/s
  float slow_compression;  // low speed, lbf
  float rebound;
  float slow_rebound;
  float spring_rate;  // lbf/ft
  float preload;      // ft
  float air_gap;      // ft (fork only)
};

struct FreeFoot {
  float position[3];
  float velocity[3];
};

enum BikeModelIndex {
  model_frame,
  model_fork_upper,
  model_fork_lower,
  model_swingarm,
  model_front_wheel,
  model_rear_wheel,
  model_rider_head,
  model_rider_body,
  model_rider_first_person,
  model_side_plates,
  model_front_plate,
  model_rider_plate,
  bike_model_count
};
enum BikeTextureIndex {
  texture_bike,
  texture_wheels,
  texture_rider_head,
  texture_rider_body,
  texture_number_plate,
  bike_texture_count
};
constexpr int max_rider_number = 7;

// What the renderer needs. Handles are 0 until the drawing code loads them;
// texture names are interned strings chosen by build_bike.
struct BikeGraphics {
  int32_t models[bike_model_count];
  int32_t textures[bike_texture_count];
  const char *texture_names[bike_texture_count];  // none for the number plate
  char number[max_rider_number + 1];
  uint8_t number_background[3];
  uint8_t number_foreground[3];
  uint32_t number_plate_bytes;  // the composed plate texture, owned by the bike
};

// Aid flag bits.
constexpr uint8_t aid_steering_model = 0x01;
constexpr uint8_t aid_stop_wheelie = 0x02;  // cut drive torque in a wheelie
constexpr uint8_t aid_stop_stoppie = 0x04;  // release the front brake in a stoppie
constexpr uint8_t aid_front_antilock = 0x08;
constexpr uint8_t aid_rear_antilock = 0x10;
constexpr uint8_t aid_auto_shift = 0x20;
constexpr uint8_t aid_auto_dab = 0x40;
constexpr uint8_t aid_auto_align = 0x80;
constexpr uint8_t default_aid_flags = 0x8d;

struct BikeState {
  int32_t model;  // catalogue index
  int32_t slot;
  dBodyID bodies[bike_body_count];
  dJointID joints[bike_joint_count];
  dJointFeedback feedback[bike_joint_count];
  WheelContact wheels[2];  // front, rear
  ControlInput controls;

  // Drivetrain.
  float driveline_angle;  // rad, -pi..pi
  float engine_speed;     // rad/s
  float engine_inertia;   // slug ft^2
  float final_drive;

  // Suspension setup.
  SuspensionValues fork;
  SuspensionValues shock;  // air_gap unused

  // Rider setup, 0..1.
  float rider_vertical_spring;
  float rider_vertical_damping;
  float rider_forward_spring;
  float rider_forward_damping;
  float rider_mass_distribution;  // share of the rider's mass in the rider body

  // Stability setup.
  float roll_damping;
  float leveling;
  float roll_limit_factor;
  float roll_limit_angle;  // rad
  float steering_damping;
  float steering_strength;
  float max_steering_force;
  float direct_steering;
  float slow_damping_speed;
  float slow_damping_factor;
  float land_damping_falloff;
  float land_damping_factor;
  float auto_clutch_rpm;
  float front_brake_torque;
  float rear_brake_torque;
  float max_dab_speed;  // ft/s
  float full_lock_speed;
  float restricted_lock_speed;
  float restricted_lock_angle;  // rad

  float total_mass;  // slugs, sum of the seven bodies

  BikeGraphics graphics;
  CollisionShape *shapes[bike_body_count];  // instances, none when missing

  // Crashes and dabbing.
  int32_t crash_timer;  // tics; > 0 while the rider is off the bike
  int32_t crash_count;
  FreeFoot free_feet[2];  // left, right
  int32_t take_off_tic;
  int32_t landing_tic;
  float rider_velocity_history[4][3];
  int32_t finished;

  // Steering aids and collisions.
  float landing_damping;      // multiplier, starts at 1
  float steering_saturation;  // 0..1
  float collision_timer;      // tics, never negative
  int32_t last_collision_tic;
  int32_t stopped;

  float activity;  // 0..1; simulated while above 0.25
  uint8_t aid_flags;
  uint8_t arcade;  // bit 0

  double setup_refused_at;  // program clock of the last refused apply_setup
};

// --- Setters: the only way a control reaches a bike ----------------------
void bike_set_steer(BikeState *bike, float value);
void bike_set_throttle(BikeState *bike, float value);  // 0 while crashed
void bike_set_front_brake(BikeState *bike, float value);
void bike_set_rear_brake(BikeState *bike, float value);
void bike_set_clutch(BikeState *bike, float value);
void bike_set_dab(BikeState *bike, float value);      // 0 while crashed
void bike_set_back_up(BikeState *bike, float value);  // 0 while crashed
void bike_set_lean(BikeState *bike, float value);     // 0 while crashed
// -1, 0 or +1; a held request shifts once.
void bike_set_shift(BikeState *bike, int request);

// --- Readers --------------------------------------------------------------
inline int bike_gear(const BikeState *bike) { return bike->controls.gear; }
inline float bike_engine_speed(const BikeState *bike) { return bike->engine_speed; }
inline float bike_throttle(const BikeState *bike) { return bike->controls.throttle; }
inline int bike_model(const BikeState *bike) { return bike->model; }
// Fork compression and swingarm travel as fractions of their travel.
float bike_fork_fraction(const BikeState *bike);
float bike_swingarm_fraction(const BikeState *bike);
// Where one of the bodies is, for the cameras: its position, the images of
// its x, y and z axes and its velocity, in world coordinates.
struct BodyPlacement {
  float position[3];
  float axes[3][3];
  float velocity[3];
};
BodyPlacement bike_body_placement(const BikeState *bike, int body);

// --- Packed state -----------------------------------------------------------
constexpr int packed_bike_state_size = 39;
struct PackedBikeState {
  uint8_t bytes[packed_bike_state_size];
};
static_assert(sizeof(PackedBikeState) == packed_bike_state_size);

// What packing needs to know of the terrain: the side of its square, its
// lowest height and (for lifting a bike out of the ground) its height query.
struct PackTerrain {
  float extent;
  float min_height;
  float (*height_at)(const void *terrain, float x, float z);  // may be null
  const void *terrain;
};

PackedBikeState pack_bike_state(const BikeState *bike, const PackTerrain &terrain);
// Places all seven bodies from the packed pose; restores gear, throttle,
// engine speed and the crash state. Velocities are left alone.
void unpack_bike_state(BikeState *bike, const PackedBikeState &packed, const PackTerrain &terrain);
// Poses a history-driven bike between two packed states with velocities that
// carry it from older to newer over n packing intervals (n >= 1). An active
// bike is instead pulled toward the pose by forces and its own controls.
void unpack_bike_state_moving(BikeState *bike, const PackedBikeState &older,
                              const PackedBikeState &newer, const PackedBikeState &now, int n,
                              const PackTerrain &terrain);
