// Lens flares: a flare shows where its point or direction is in view and the
// frame buffer there is bright sky (nothing drawn in front of it), fading
// out toward the edges of the view; its elements line up through the centre.
#pragma once

struct LensFlare;

struct FlareSpot {
  int in_view;
  float x, y;          // on the view plane at distance 1
  int column, row;     // the window pixel under it (row 0 at the bottom)
  float eye_depth;     // -z in eye space (points)
};

// Where a flare lands for a camera (axes rows right, up, back).
FlareSpot flare_spot(const LensFlare &flare, const float camera[3], const float axes[3][3], float xext, float yext,
                     int width, int height);
// The visibility from the pixel's colour and depth buffer value; 0 when hidden.
float flare_visibility(const LensFlare &flare, const FlareSpot &spot, const unsigned char rgb[3], float depth,
                       float near_plane, float far_plane, float xext, float yext);
// Reads the frame buffer under every flare of the track's lighting and draws
// the visible ones (additive, on the view plane).
void draw_lens_flares(const float camera[3], const float axes[3][3]);
