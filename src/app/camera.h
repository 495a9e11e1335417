// The view cameras: where each view mode's camera stands, where it looks and
// how wide, and how the trackside cameras pan and zoom to follow a rider.
// The rider view sits on the bike's frame, the chase view behind and above
// the bike (or orbiting it), the trackside view at one of the track's
// television cameras, at the free camera or on a path of keyframes. Every
// camera is a function that returns a CameraView for the scene drawing; the
// per-tic parts (the trackside cameras' steering and switching, the free
// camera's flight, the chase orbit) take the tic's control channels.
// Feet, radians (degrees where marked), tics of 1/128 s.
#pragma once
#include <cstdio>

#include "app/keyframes.h"
#include "track/objects.h"

struct BikeState;
struct Terrain;

// What the scene drawing takes from a camera.
struct CameraView {
  float position[3];
  float axes[3][3];  // rows: right, up, back; the camera looks along -back
  float fov;         // degrees
  int hidden_slot;   // the slot whose bike is not drawn, -1 for none
  int broadcast;     // a track camera is in use: the broadcast overlay follows
};

// The settings the cameras read, gathered from the menus and the command line.
struct CameraSettings {
  float fov;                  // degrees
  float first_person_height;  // 0..1
  float first_person_angle;   // degrees; positive tilts the view down
  int hide_first_person_rider;
  int rigid_chase;            // the chase camera stays straight behind the frame
  float chase_distance;       // behind the bike while the local rider drives
  float chase_height;         // above the chase centre
  float chase_centre[3];      // in the frame body's coordinates
};
// The current menu settings with the given chase centre (--chase-center).
CameraSettings camera_settings(const float chase_centre[3]);

// The chase view's orbit round a bike the local rider does not drive.
struct ChaseOrbit {
  float angle;     // -pi..pi
  float distance;  // at least 0.25
  float height;
};

// --- The cameras -------------------------------------------------------------

// From the eye point on the frame, tilted down by the first-person angle.
CameraView rider_camera(const BikeState *bike, int viewed_slot, const CameraSettings &settings);
// "--print-orientation": the race time, the rider camera's position and the
// frame's x and z axes, one line; the frame loop calls it each frame.
void print_orientation(FILE *out, const BikeState *bike, int tic, const CameraSettings &settings);
// Behind the bike (local rider) or on the orbit, never lower than 5 above
// the average ground within 10 ft; looks at the chase centre, no roll.
CameraView chase_camera(const BikeState *bike, int local_rider_drives, const ChaseOrbit &orbit,
                        const Terrain *terrain, const CameraSettings &settings);
// Along the keyframes (count > 0) at tic: Hermite curves through the
// positions and rotations, the field of view linear between keys.
CameraView keyframe_camera(const CameraKeyframe *keys, int count, int tic);
// A trackside camera record as a view (facing from yaw and pitch).
CameraView camera_record_view(const TrackCamera &camera);
// The trackside view: the keyframe camera when keyframe mode is on and keys
// exist, else the selected track camera or the free camera.
CameraView trackside_camera(const CameraKeyframe *keys, int count, int keycam, int tic);

// The quaternion (x, y, z, w) a keyframe stores for a camera at yaw and
// pitch; keyframe_camera turns it back into that camera's view.
void yaw_pitch_quaternion(float yaw, float pitch, float q[4]);

// The weighted mean of the height samples round (x, z): weight 1 within
// `radius`, fading to 0 over one grid spacing beyond it.
float average_ground_height(const Terrain *terrain, float x, float z, float radius);

// --- Steering a trackside camera -------------------------------------------------

struct CameraAim {
  float target[3];    // the viewed bike's frame position
  float velocity[3];  // its velocity; 0 while paused
  int automatic;      // follow the target; otherwise the inputs turn it
  float steer;        // steering channel: yaw input, positive turns left
  float pitch;        // gear change channel: pitch input
};
// One tic: the yaw and pitch rates approach the wanted ones with a limited
// angular acceleration; just_cut (the view has just cut to this camera)
// sets yaw, pitch, rates and field of view at once.
void steer_trackside_camera(TrackCamera *camera, const CameraAim &aim, int just_cut);

// --- The module's state: lives for the process ------------------------------------

TrackCamera *free_camera();
// Index into the track's cameras, or -1 for the free camera; an index out of
// range shows the free camera too.
int selected_camera();
void select_camera(int index);
// Digit keys 0..9: camera min(digit, count) - 1 (0 is the free camera).
void select_camera_key(int digit);
int automatic_cameras();
void set_automatic_cameras(int on);
ChaseOrbit *chase_orbit();
// Back to the start-up state: orbit angle 0, distance 10, height 5.
void cameras_reset();
// The free camera 5 ft above the bike's frame, with the field of view
// setting (at every race reset).
void place_free_camera(const BikeState *bike);

// --- Per tic ---------------------------------------------------------------------

// Chase view without the local rider: steering turns the orbit, throttle and
// front brake bring it nearer and farther, gear change raises and lowers it.
void chase_orbit_tic(const float *channels);  // control_channel_count values

struct TracksideTic {
  const float *channels;    // control_channel_count values (app/bindings.h)
  const BikeState *viewed;  // may be null
  int timing_position;      // the viewed bike's next gate
  int paused;
  float fov;                // the free camera's field of view (degrees)
  const Terrain *terrain;   // may be null
};
// Trackside view: sit/dab flips automatic switching; switching cuts to the
// camera of the viewed bike's next gate; the cameras are steered; the free
// camera flies with throttle and front brake.
void trackside_tic(const TracksideTic &tic);
