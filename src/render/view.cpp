#include "render/view.h"

#include <GL/gl.h>

#include <cmath>

#include "track/objects.h"

namespace {
// The projection of the frame being drawn; lives for the process.
ViewExtents current = {640, 480, 90, 1, 0.75f, 0.25f, 5000};
}  // namespace

ViewExtents view_extents_for(int width, int height, float fov, float near_plane, float far_plane) {
  ViewExtents v = {width, height, fov, 0, 0, near_plane, far_plane};
  if (width < 1) width = 1;
  if (height < 1) height = 1;
  double t = std::tan(fov * M_PI / 360.0);
  double aspect = static_cast<double>(width) / height;
  if (aspect > 4.0 / 3.0) {
    v.yext = static_cast<float>(t * 0.75);
    v.xext = static_cast<float>(t * 0.75 * aspect);
  } else {
    v.xext = static_cast<float>(t);
    v.yext = static_cast<float>(t / aspect);
  }
  return v;
}

void set_projection(int width, int height, float fov) {
  const Lighting *l = track_lighting();
  float near_plane = l->near_plane, far_plane = l->far_plane;
  if (!(near_plane > 0 && far_plane > near_plane)) {
    // No track has set its lighting yet: the lighting file's defaults.
    near_plane = 0.25f;
    far_plane = 5000;
  }
  current = view_extents_for(width, height, fov, near_plane, far_plane);
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glFrustum(-current.xext * current.near_plane, current.xext * current.near_plane, -current.yext * current.near_plane,
            current.yext * current.near_plane, current.near_plane, current.far_plane);
  glMatrixMode(GL_MODELVIEW);
}

const ViewExtents &view_extents() { return current; }
