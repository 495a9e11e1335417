// What the renderer drew this frame, counted by every layer as it draws, and
// the largest counts seen since start-up (or since the "renderstats" console
// command). The HUD and the benchmarks read the same counters.
#pragma once

struct RenderStats {
  int ground_polygons;
  int model_polygons;
  int billboards;
  int decals;
  int texture_changes;
  int shader_changes;
};

// This frame's counts; layers add to them while they draw.
RenderStats &render_stats();
// The maxima, updated by render_stats_update_maxima.
const RenderStats &render_stats_maxima();
// Starts a frame: this frame's counts go back to zero.
void render_stats_frame_begin();
// Folds this frame's counts into the maxima (the HUD calls it before showing them).
void render_stats_update_maxima();
void render_stats_reset_maxima();
