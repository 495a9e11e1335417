#include "render/render_stats.h"

#include <algorithm>

namespace {
// Lives for the process.
RenderStats frame_counts;
RenderStats maxima;
}  // namespace

RenderStats &render_stats() { return frame_counts; }
const RenderStats &render_stats_maxima() { return maxima; }
void render_stats_frame_begin() { frame_counts = RenderStats{}; }

void render_stats_update_maxima() {
  maxima.ground_polygons = std::max(maxima.ground_polygons, frame_counts.ground_polygons);
  maxima.model_polygons = std::max(maxima.model_polygons, frame_counts.model_polygons);
  maxima.billboards = std::max(maxima.billboards, frame_counts.billboards);
  maxima.decals = std::max(maxima.decals, frame_counts.decals);
  maxima.texture_changes = std::max(maxima.texture_changes, frame_counts.texture_changes);
  maxima.shader_changes = std::max(maxima.shader_changes, frame_counts.shader_changes);
}

void render_stats_reset_maxima() { maxima = RenderStats{}; }
