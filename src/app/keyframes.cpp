#include "app/keyframes.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "assets/file.h"
#include "track/objects.h"

namespace {

// Longest keyframe line read; a written one is far shorter.
constexpr int keyframe_line_size = 512;

// The keyframes and the mode live for the process; the keyframes change
// only through the console commands.
CameraKeyframe *keys = nullptr;
int key_count = 0, key_capacity = 0;
int keycam = 0;

void remove_at(int index) {
  memmove(keys + index, keys + index + 1, sizeof *keys * static_cast<size_t>(key_count - index - 1));
  key_count--;
}

bool blank(const char *line) {
  for (; *line; line++)
    if (*line != ' ' && *line != '\t' && *line != '\r' && *line != '\n') return false;
  return true;
}

}  // namespace

int keyframe_count() { return key_count; }
const CameraKeyframe *keyframes() { return keys; }
int keycam_mode() { return keycam; }
void set_keycam_mode(int on) { keycam = on != 0; }

void keyframe_rotation(float yaw, float pitch, float rotation[4]) {
  float cy = std::cos(yaw / 2), sy = std::sin(yaw / 2), cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
  rotation[0] = cy * sp;
  rotation[1] = sy * cp;
  rotation[2] = -sy * sp;
  rotation[3] = cy * cp;
}

void add_keyframe(const CameraKeyframe *key) {
  grow_array(keys, key_count, key_capacity);
  int at = 0;
  while (at < key_count && keys[at].tic <= key->tic) at++;
  memmove(keys + at + 1, keys + at, sizeof *keys * static_cast<size_t>(key_count - at));
  keys[at] = *key;
  key_count++;
}

int delete_keyframe(int tic) {
  if (key_count < 2) {
    int removed = key_count;
    key_count = 0;
    return removed;
  }
  int i = 0;
  while (i < key_count && keys[i].tic <= tic) i++;
  if (i == key_count) {
    remove_at(key_count - 1);
  } else if (i == 0) {
    remove_at(0);
  } else {
    // Tics are compared as 64-bit numbers: a file may hold any int.
    long long before = static_cast<long long>(tic) - keys[i - 1].tic;
    long long after = static_cast<long long>(keys[i].tic) - tic;
    remove_at(after < before ? i : i - 1);
  }
  return 1;
}

void clear_keyframes() { key_count = 0; }

int read_keyframes(DataFile *file) {
  clear_keyframes();
  if (!file) return 0;
  char line[keyframe_line_size];
  while (dfile_gets(file, line, sizeof line)) {
    size_t length = strlen(line);
    if (length == sizeof line - 1 && line[length - 1] != '\n') return 0;  // no real keyframe line is this long
    if (blank(line)) continue;
    CameraKeyframe k;
    float *p = k.position, *r = k.rotation;
    if (sscanf(line, "%f %f %f %f %f %f %f %f %d", &p[0], &p[1], &p[2], &r[0], &r[1], &r[2], &r[3], &k.fov,
               &k.tic) != 9)
      return 0;
    // A camera at infinity or with no rotation cannot be drawn from.
    bool finite = std::isfinite(k.fov);
    for (int c = 0; c < 3; c++) finite = finite && std::isfinite(p[c]);
    for (int c = 0; c < 4; c++) finite = finite && std::isfinite(r[c]);
    if (!finite) return 0;
    add_keyframe(&k);
  }
  return 1;
}

int write_keyframes(const char *path) {
  DataFile *file = dfile_open_replace(path);
  if (!file) return 0;
  for (int i = 0; i < key_count; i++) {
    const CameraKeyframe &k = keys[i];
    dfile_printf(file, "%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.2f %d\n", k.position[0], k.position[1], k.position[2],
                 k.rotation[0], k.rotation[1], k.rotation[2], k.rotation[3], k.fov, k.tic);
  }
  return dfile_commit_replace(file);
}

