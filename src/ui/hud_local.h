// Shared by the HUD's files: its pictures and small drawing helpers in
// overlay space.
#pragma once

enum HudPicture { picture_tach, picture_shifter, picture_pitboard, picture_title, hud_picture_count };
// GL name of a HUD picture, 0 when it did not load.
unsigned hud_texture(int picture);

// Model-view at unit distance with x and y in overlay units (+-xext, +-yext).
void overlay_units();
// A textured quad from (x0, y0) to (x1, y1); v_top is the texture row at
// the quad's top edge (rows counted from the picture's top).
void draw_picture(unsigned texture, float x0, float y0, float x1, float y1, float u0, float v_top, float u1,
                  float v_bottom);
// The centred rider name on the second line from the bottom of the screen.
void draw_rider_name(const char *name);
