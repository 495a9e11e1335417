// How one bike is drawn: every body with the model its catalogue record
// names and the slot's skins, at the body's position and rotation; the rider
// posed with nine bones and the head turned; the number plates carrying a
// texture composed from the rider's number in the colours its bike graphics
// ask for.
#pragma once
#include <cstddef>
#include <cstdint>

struct BikeState;

// The number-plate picture: 2:1, number centred on the background.
constexpr int number_plate_width = 128, number_plate_height = 64;

// Loads the bike's models and skins (a skin that fails falls back to the
// catalogue's own) and composes its number plate; nothing without GL.
void bike_graphics_load(BikeState *bike);
// Composes the plate into an RGBA chain of number_plate_width x height with
// the number font's glyphs (digits only) in `foreground` on `background`.
void compose_number_plate(const char *number, const uint8_t background[3], const uint8_t foreground[3],
                          uint8_t *chain);

struct BikeDrawView {
  float eye[3];
  int first_person;  // the rider seen from his own eyes: first-person body only
  int programs;      // shader programs in use for models
  int close_up;      // the bike the camera follows: never coarser than its first variant
};
// Draws the bike's meshes in the current GL state (lights, fog, depth set by
// the scene) with that opacity (below 1: blended). Returns the triangles.
void draw_bike(const BikeState *bike, float opacity, const BikeDrawView &view);
// The additive reflection pass of the bike's shiny parts.
void draw_bike_reflections(const BikeState *bike, const BikeDrawView &view, unsigned env_texture);
