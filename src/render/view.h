// The projection every view draws with. The field of view is the horizontal
// angle of a 4:3 window: a wider window sees more to the sides with the same
// vertical extent, a narrower one keeps the horizontal extent. The overlays
// (HUD, menus) draw at unit distance in front of the camera, where the view
// spans +-xext across and +-yext up and down.
#pragma once

struct ViewExtents {
  int width, height;  // window pixels
  float fov;          // degrees
  float xext, yext;   // half extents at unit distance
  float near_plane, far_plane;
};

// The extents for a window and field of view (no GL).
ViewExtents view_extents_for(int width, int height, float fov, float near_plane, float far_plane);
// Sets the GL viewport and projection (near and far planes from the track's
// lighting) and remembers the extents.
void set_projection(int width, int height, float fov);
const ViewExtents &view_extents();
