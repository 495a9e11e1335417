// The compiled-in catalogue of rideable bike models ("bike info"): rest
// positions of the seven bodies, masses, suspension bases, linkage curve,
// gearing, torque curves and the names of the model, texture and shape files.
// Units: feet, slugs, pounds-force, seconds, radians; engine speed in rad/s.
#pragma once
#include <cstdint>

constexpr int bike_info_count = 80;
constexpr int bike_gear_count = 6;
constexpr int torque_curve_points = 50;  // 0, 500, ... 24500 rpm
constexpr int rider_pose_floats = 58;
constexpr int bike_name_size = 16;
constexpr int bike_file_name_size = 64;

constexpr double rads_to_rpm = 9.549296585513721;

// The reference points of the drawn rider figure, in the order the pose code
// reads them. Left/right pairs differ only in the sign of x.
struct RiderPoseBlock {
  float head_pivot[3];
  float shoulders[2][3];
  float hips[2][3];
  float grips[2][3];
  float pegs[2][3];
  float upper_arm, forearm, thigh, shin;
  float model_elbows[2][3];
  float model_shoulders[2][3];
  float model_knees[2][3];
  float model_hips[2][3];
  float model_pelvis[3];
};
static_assert(sizeof(RiderPoseBlock) == rider_pose_floats * sizeof(float));

struct BikeInfo {
  char name[bike_name_size];
  char bike_class[bike_name_size];
  float front_axle[3];
  float front_ring_radius;
  float front_tube_radius;
  float front_tyre_mass;
  float front_hub_radius;
  float front_hub_mass;
  float rear_axle[3];
  float rear_ring_radius;
  float rear_tube_radius;
  float rear_tyre_mass;
  float rear_hub_radius;
  float rear_hub_mass;
  float frame_position[3];
  float bike_mass;
  float frame_box[3];
  float steering_head[3];
  float swingarm_position[3];
  float swingarm_pivot[3];
  float fork_lower_position[3];
  float fork_leg_spacing;
  float fork_leg_length;
  float fork_mass;
  float fork_spring_min, fork_spring_max;
  float fork_preload_min, fork_preload_max;
  float fork_air_gap_min, fork_air_gap_max;
  float fork_compression;       // high speed base
  float fork_slow_compression;  // low speed base
  float fork_rebound;
  float fork_slow_rebound;
  float fork_travel;
  float swingarm_side_mass;
  float shock_spring_min, shock_spring_max;
  float shock_preload_min, shock_preload_max;
  float shock_compression;
  float shock_slow_compression;
  float shock_rebound;
  float shock_slow_rebound;
  float linkage_break_value;
  float linkage_full_value;
  float swingarm_travel;
  float linkage_break;
  float linkage_slope_start;
  float linkage_slope_break;
  float linkage_slope_full;
  float primary_ratio;
  float front_sprocket;
  float rear_sprocket;
  float gear_ratios[bike_gear_count];  // <= 0: the model lacks that gear
  float engine_inertia;
  float driveline_stiffness;
  float driveline_damping;
  float closed_torque[torque_curve_points];
  float full_torque[torque_curve_points];
  float downshift_rpm;
  float upshift_rpm;
  float top_rpm;  // informational only
  float rider_slide_direction[3];
  float rider_position[3];
  float rider_slide_min, rider_slide_max;
  float rider_mass;
  char frame_model[bike_file_name_size];
  char frame_shape[bike_file_name_size];
  char bike_texture[bike_file_name_size];
  char fork_upper_model[bike_file_name_size];
  char fork_upper_shape[bike_file_name_size];
  char fork_lower_model[bike_file_name_size];
  char fork_lower_shape[bike_file_name_size];
  char swingarm_model[bike_file_name_size];
  char swingarm_shape[bike_file_name_size];
  char front_wheel_model[bike_file_name_size];
  char front_wheel_shape[bike_file_name_size];
  char rear_wheel_model[bike_file_name_size];
  char rear_wheel_shape[bike_file_name_size];
  char wheels_texture[bike_file_name_size];
  char rider_head_model[bike_file_name_size];
  char head_texture[bike_file_name_size];
  char rider_body_model[bike_file_name_size];
  char rider_first_person_model[bike_file_name_size];
  char rider_shape[bike_file_name_size];
  char rider_body_texture[bike_file_name_size];
  char side_plates_model[bike_file_name_size];
  char front_plate_model[bike_file_name_size];
  char rider_plate_model[bike_file_name_size];
  RiderPoseBlock pose;
};

// The record with exactly this name, or null.
const BikeInfo *bike_info_lookup(const char *name);
// Catalogue index for building a bike; an unknown name gets a substitute and
// a message to the player.
int bike_info_resolve(const char *name);
// Record by index (asserts 0 <= index < bike_info_count).
const BikeInfo *bike_info(int index);
const char *bike_info_name(int index);
const char *bike_info_class(int index);

// Sprocket teeth with the setup's adjustments (each clamped to -2..2 whole
// teeth, neither sprocket below 3): rear teeth / front teeth.
float bike_final_drive(const BikeInfo *info, float front_adjustment, float rear_adjustment);
// Gear index 0..5 for a requested index, stepping down past absent gears.
int bike_select_gear(const BikeInfo *info, int gear);
inline float engine_rpm(float omega) { return static_cast<float>(omega * rads_to_rpm); }
// Engine torque (lbf ft) at engine speed omega (rad/s) and throttle 0..1.
float bike_torque_lookup(const BikeInfo *info, float omega, float throttle);

// The rear linkage at swingarm travel fraction x (0..1): shock compression
// (ft) and the motion ratio d(compression)/dx.
struct LinkagePoint {
  float compression;
  float slope;
};
LinkagePoint bike_linkage(const BikeInfo *info, float x);
