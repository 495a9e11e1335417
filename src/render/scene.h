// The 3-D part of a frame: sky, terrain, bikes and riders, statues,
// billboards and roost, debug overlays, labels and lens flares, in a fixed
// order. Drawing reads the race and never changes it.
#pragma once

// Where the frame is seen from: rows of axes are right, up and back (the
// camera looks along -back); the bike of hidden_slot is not drawn.
struct SceneView {
  float position[3];
  float axes[3][3];
  float fov;        // degrees, for a 4:3 window
  int hidden_slot;  // -1 for none
  int first_person; // the rider view of the viewed bike (its rider drawn as the first-person body)
};

// The window the scene is drawn into (set_projection's size).
void scene_set_window(int width, int height);
// --fugly: no sky, plain drawing; and the debug level for the line view.
void scene_set_options(int plain, int debug_level);
void draw_scene(const SceneView &view);

// The opacity of a ghost bike at that distance from the local rider's,
// for the ghost fade distance setting G: clear inside G/2, solid beyond G.
float ghost_fade(float distance, float fade_distance);

// How strongly a bike other than the followed one shows its chrome's
// reflection at that distance from the camera: fully to 12 ft, fading out
// by 24 ft. Beyond, the shine is a pixel or two, and its extra pass over
// the pack costs software GL a frame's twentieth.
float shine_at(float distance);

struct ViewExtents;
// Whether a sphere can show in the view: tested against the near plane and
// the four side planes through the eye (the far plane culls nothing a
// bike's size). Used to skip bikes beside or behind the camera.
bool sphere_in_view(const float centre[3], float radius, const SceneView &view, const ViewExtents &e);

// A text shown at a point in the world until scene_clear_labels (debug views).
void add_label(const float position[3], const char *text);
void scene_clear_labels();

// What the last draw_scene cost, for benchmarks and the render statistics.
struct SceneTimes {
  double compose, terrain, bikes, statues, billboards, flares;  // seconds; compose = ground textures
};
const SceneTimes &scene_times();
