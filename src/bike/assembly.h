// The physics world and the rigid-body model of one bike and its rider:
// building it from a catalogue record, applying the rider's setup, putting it
// back at rest, moving it, switching its simulation on and off, tearing it down.
#pragma once
#include <ode/ode.h>

#include "bike/bike.h"

// --- The world (one per program) ------------------------------------------
// Creates the world (gravity (0, -32, 0)) and its contact group; idempotent.
void physics_world_create();
// Destroys the world and closes ODE. Every bike must be destroyed first.
void physics_world_destroy();
dWorldID physics_world();
dJointGroupID physics_contact_group();
// One tic: dWorldStep by 1/128 s, then the contact group is emptied.
void physics_world_step();

// The rider's setup values as the configuration keeps them: choices are their
// index in the menu's list, sliders their raw value.
struct BikeSetup {
  float leveling;
  float roll_damping;
  float roll_limit_angle;  // degrees
  float roll_limit_factor;
  float steering_damping;
  float steering_strength;
  float max_steering_force;
  float direct_steering;
  float slow_damping_speed;
  float slow_damping_factor;
  float land_damping_falloff;
  float land_damping_factor;
  float full_lock_speed;
  float restricted_lock_speed;
  float restricted_lock;  // degrees
  int arcade;             // "No", "Yes"
  int front_brake;        // "Normal", "Antilock"
  int rear_brake;         // "Normal", "Antilock"
  int stop_wheelies;      // "No", "Yes", "Front Only"
  int auto_shift;         // "No", "Yes"
  int auto_dab;
  int auto_align;
  float auto_clutch_rpms;
  float brake_torque;
  float rear_brake_torque;
  float max_dab_speed;  // mph
  float front_sprocket_adjustment;
  float rear_sprocket_adjustment;
  float fork_compression_adjustment;
  float fork_slow_compression_adjustment;
  float fork_rebound_adjustment;
  float fork_slow_rebound_adjustment;
  float fork_spring_rate_adjustment;
  float fork_preload_adjustment;
  float fork_oil_level_adjustment;
  float shock_compression_adjustment;
  float shock_slow_compression_adjustment;
  float shock_rebound_adjustment;
  float shock_slow_rebound_adjustment;
  float shock_spring_rate_adjustment;
  float shock_preload_adjustment;
  float rider_yspring;
  float rider_ydamping;
  float rider_zspring;
  float rider_zdamping;
  float rider_mass_distribution;
};

// The menu defaults of every setup key.
BikeSetup bike_setup_defaults();

// Off for the rest of a connection once the server forbids arcade physics.
void set_arcade_allowed(int allowed);

// A new bike at rest at the catalogue position, physics activity 1. An
// unknown model gets the catalogue's substitute (with a message); empty or
// null texture names take the catalogue's own.
BikeState *build_bike(const char *model_name, int slot, const char *rider_number,
                      const char *rider_texture, const char *head_texture,
                      const char *bike_texture, const char *wheels_texture);
// Copies the setup into the bike. Refused (returns 0) while the frame moves
// faster than 0.125 ft/s; a second refusal within 10 s of program clock
// tells the player.
int apply_setup(BikeState *bike, const BikeSetup &setup, double program_clock);
void reset_bike(BikeState *bike);
void move_bike(BikeState *bike, double dx, double dy, double dz);
void destroy_bike(BikeState *bike);

// Physics activity.
void bike_activate(BikeState *bike);
void bike_deactivate(BikeState *bike);
void bike_touch(BikeState *bike);
void bike_decay_activity(BikeState *bike);
inline bool bike_is_active(const BikeState *bike) { return bike->activity > 0.25f; }

// Puts the rider body at its rest offset from the frame with the frame's
// orientation and joins it to the frame again.
void seat_rider(BikeState *bike);
void detach_rider(BikeState *bike);
// Reads "[numberbackground:r,g,b" and "[numberforeground:r,g,b" from the text
// that comes with a bike texture; white where a tag is missing.
void number_plate_colours(const char *text, uint8_t background[3], uint8_t foreground[3]);
