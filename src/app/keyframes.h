// Camera keyframes for video making: a list sorted by tic that the console
// edits ("addkey", "readkeys", ...) and the keyframe camera follows.
#pragma once

struct CameraKeyframe {
  float position[3];
  float rotation[4];  // quaternion x, y, z, w
  float fov;          // degrees
  int tic;
};

int keyframe_count();
const CameraKeyframe *keyframes();  // keyframe_count() entries, by tic
// Keyframe camera mode ("togglekeycam"): the trackside view follows the keyframes.
int keycam_mode();
void set_keycam_mode(int on);
