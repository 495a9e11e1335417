// Camera keyframes for video making: a list sorted by tic that the console
// edits ("addkey", "readkeys", ...) and the keyframe camera follows.
//
// Keyframe file (under "@keycam/"): one line per keyframe,
//   "%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.2f %d\n"
// position x y z, rotation quaternion x y z w, field of view in degrees, tic.
#pragma once

struct DataFile;

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

// The rotation of a camera turned by yaw and pitch (radians).
void keyframe_rotation(float yaw, float pitch, float rotation[4]);
// Inserts after every keyframe whose tic is not later than key->tic.
void add_keyframe(const CameraKeyframe *key);
// Removes the keyframe nearest to `tic` (all of them when fewer than two):
// with i the first keyframe later than tic, the last one when there is
// none, i when it is the first, else the nearer of i - 1 and i (i - 1 on a
// tie). Returns the number removed.
int delete_keyframe(int tic);
void clear_keyframes();
// Replaces the list with the file's keyframes. Returns 1 when every line
// held nine numbers; on a bad line the keyframes before it stay and 0 is
// returned (also when the file is null).
int read_keyframes(DataFile *file);
// Writes the list (through a temporary file renamed into place); 1 on success.
int write_keyframes(const char *path);

