#include "render/flares.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include "render/render_stats.h"
#include "render/view.h"
#include "track/objects.h"

FlareSpot flare_spot(const LensFlare &flare, const float camera[3], const float axes[3][3], float xext, float yext,
                     int width, int height) {
  FlareSpot s = {};
  float v[3];
  for (int k = 0; k < 3; k++) v[k] = flare.is_direction ? flare.position[k] : flare.position[k] - camera[k];
  float xe = axes[0][0] * v[0] + axes[0][1] * v[1] + axes[0][2] * v[2];
  float ye = axes[1][0] * v[0] + axes[1][1] * v[1] + axes[1][2] * v[2];
  float ze = axes[2][0] * v[0] + axes[2][1] * v[1] + axes[2][2] * v[2];
  s.eye_depth = -ze;
  if (!(ze < 0) || std::fabs(xe) > -ze * xext || std::fabs(ye) > -ze * yext) return s;
  s.x = -xe / ze;
  s.y = -ye / ze;
  s.column = static_cast<int>(std::clamp((s.x + xext) / (2 * xext), 0.0f, 1.0f) * width);
  s.row = static_cast<int>(std::clamp((s.y + yext) / (2 * yext), 0.0f, 1.0f) * height);
  s.in_view = s.column < width && s.row < height;
  return s;
}

float flare_visibility(const LensFlare &flare, const FlareSpot &spot, const unsigned char rgb[3], float depth,
                       float near_plane, float far_plane, float xext, float yext) {
  if (!spot.in_view) return 0;
  if (rgb[0] < 224 || rgb[1] < 224 || rgb[2] < 224) return 0;  // something is in front of the bright sky
  float n = near_plane, f = far_plane;
  float linear = (n * -f / ((f - n) * depth - f) - n) / (f - n);
  float needed = flare.is_direction ? 0.4f : std::clamp((spot.eye_depth - 0.25f) * 0.00020001f, 0.0f, 1.0f);
  if (linear < needed) return 0;
  float m = std::min(xext, yext) / 32;
  auto fade = [m](float p, float e) {
    float a = std::fabs(p);
    if (a <= e - m) return 1.0f;
    return m > 0 ? std::clamp((e - a) / m, 0.0f, 1.0f) : 0.0f;
  };
  return std::min(fade(spot.x, xext), fade(spot.y, yext));
}

void draw_lens_flares(const float camera[3], const float axes[3][3]) {
  const Lighting *l = track_lighting();
  if (l->flare_count == 0) return;
  const ViewExtents &v = view_extents();
  float visible[max_flares] = {};
  FlareSpot spots[max_flares];
  for (int i = 0; i < l->flare_count; i++) {
    spots[i] = flare_spot(l->flares[i], camera, axes, v.xext, v.yext, v.width, v.height);
    if (!spots[i].in_view) continue;
    unsigned char rgb[3] = {0, 0, 0};
    float depth = 0;
    glReadPixels(spots[i].column, spots[i].row, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgb);
    glReadPixels(spots[i].column, spots[i].row, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    visible[i] = flare_visibility(l->flares[i], spots[i], rgb, depth, v.near_plane, v.far_plane, v.xext, v.yext);
  }
  glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glDisable(GL_LIGHTING);
  glDisable(GL_FOG);
  glDisable(GL_ALPHA_TEST);
  glDisable(GL_CULL_FACE);
  glDepthFunc(GL_ALWAYS);
  glDepthMask(GL_FALSE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  glEnable(GL_TEXTURE_2D);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  for (int i = 0; i < l->flare_count; i++) {
    if (visible[i] == 0) continue;
    const LensFlare &f = l->flares[i];
    float px = spots[i].x, py = spots[i].y;
    for (int e = 0; e < f.element_count; e++) {
      const FlareElement &el = f.elements[e];
      if (!el.texture) continue;
      float cx = el.b * px + el.a * py, cy = el.b * py - el.a * px, h = el.size;
      glBindTexture(GL_TEXTURE_2D, el.texture);
      render_stats().texture_changes++;
      glColor4f(visible[i] * el.colour[0], visible[i] * el.colour[1], visible[i] * el.colour[2], 1);
      glBegin(GL_QUADS);
      glTexCoord2f(0, 1);
      glVertex3f(cx - h, cy - h, -1);
      glTexCoord2f(1, 1);
      glVertex3f(cx + h, cy - h, -1);
      glTexCoord2f(1, 0);
      glVertex3f(cx + h, cy + h, -1);
      glTexCoord2f(0, 0);
      glVertex3f(cx - h, cy + h, -1);
      glEnd();
    }
  }
  glPopMatrix();
  glPopAttrib();
}
