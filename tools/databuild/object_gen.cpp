// Trackside objects: "billboards" (edge markers, trees round the field,
// spectators and banners, all clear of the track), "statues" (straw bales
// beside the take-off faces, to be seen only, banners beyond the landings,
// the teams' tents and a few model trees), "decals" (the finish and start
// lines, the lime on the jumps' lips, the name on the start pad),
// "flaggers" (the starter, the lap board, a marshal at every jump) and
// "cameras" (one at every jump and the first turn, each checkpoint watched
// by the nearest). The lighting and sky are sky_gen.cpp's.
#include <algorithm>
#include <cmath>

#include "app/random.h"
#include "databuild.h"

namespace databuild {

namespace {

constexpr float marker_spacing = 30.0f;
// Nothing solid stands beside the track: a rider run wide, or one riding
// back to the track after a fall, could be pinned against it for good. The
// bales that mark the jumps are for the eye only (no collision shape), and
// stand clear of the edge anyway.
constexpr float bale_clearance = 9.0f;  // ft beyond the edge
constexpr int tree_count = 140;

// The angle that turns an object's own x axis along the direction (tx, tz).
float along_angle(float tx, float tz) { return std::atan2(-tz, tx); }

void side_point(const TrackSample *p, float lateral, float *x, float *z) {
  *x = p->x - p->tz * lateral;
  *z = p->z + p->tx * lateral;
}

bool far_from_track(const Track *track, float x, float z, float margin) {
  for (int k = 0; k < 9; k++) {
    float px = x + margin * static_cast<float>(k % 3 - 1), pz = z + margin * static_cast<float>(k / 3 - 1);
    int i = static_cast<int>(px / track_spacing), j = static_cast<int>(pz / track_spacing);
    if (i < 0 || j < 0 || i >= track_verts || j >= track_verts) return false;
    if (track->nearest[static_cast<size_t>(i + j * track_verts)] >= 0) return false;
  }
  return true;
}

bool in_start_area(const Track *track, float s) {
  float x = wrap_s(track, s - track->start_s + 100.0f);
  return x < 100.0f + track->design->funnel_length;
}

// Whether a camera-facing sprite of this width stands clear of the track:
// its footprint turns with the view, so the whole circle must keep off.
bool clear_of_track(const Track *track, float x, float z, float width, float margin) {
  float r = 0.5f * width;
  if (edge_distance(track, x, z) < r + margin) return false;
  for (int k = 0; k < 8; k++) {
    float a = static_cast<float>(k) * 0.785398f;
    if (edge_distance(track, x + r * std::cos(a), z + r * std::sin(a)) < margin) return false;
  }
  return true;
}

void place(Scenery *scenery, float x, float z, float width, float height, const char *texture,
           float shadow_radius = 0.0f, float shadow_height = 0.0f) {
  // A little into the ground, so a sprite on a slope never floats.
  scenery->billboards.push_back({x, z, -0.25f, width, height, texture, shadow_radius, shadow_height});
}

void place_markers(const Track *track, Scenery *scenery) {
  for (float s = 0.0f; s < track->length; s += marker_spacing) {
    const TrackSample *p = sample_at(track, s);
    if (in_start_area(track, s)) continue;
    for (int side = -1; side <= 1; side += 2) {
      float x, z;
      side_point(p, static_cast<float>(side) * (p->half_width + 1.5f), &x, &z);
      if (edge_distance(track, x, z) >= 1.0f) place(scenery, x, z, 0.4f, 2.2f, marker_texture);
    }
  }
}

void place_trees(const Track *track, Scenery *scenery) {
  // Oak, pine and poplar: width and height of a tree of size 1.
  static const float shape[tree_kinds][2] = {{22.0f, 26.0f}, {14.0f, 30.0f}, {11.0f, 32.0f}};
  Mt19937 mt;
  mt_seed(&mt, track->design->seed);
  int placed = 0;
  for (int attempt = 0; attempt < 4000 && placed < tree_count; attempt++) {
    float x = 20.0f + static_cast<float>(mt_next(&mt) % 9840u) * 0.1f;
    float z = 20.0f + static_cast<float>(mt_next(&mt) % 9840u) * 0.1f;
    float size = 0.75f + static_cast<float>(mt_next(&mt) % 1000u) * 0.0006f;
    int kind = static_cast<int>(mt_next(&mt) % static_cast<uint32_t>(tree_kinds));
    float w = shape[kind][0] * size, h = shape[kind][1] * size;
    if (!far_from_track(track, x, z, 25.0f) || !clear_of_track(track, x, z, w, 12.0f)) continue;
    place(scenery, x, z, w, h, tree_textures[kind], 0.42f * w, 0.6f * h);
    placed++;
  }
}

// Spectators gather where the racing is best: beside the jumps' landings,
// at the start and the finish, round the outside of the first turn.
void place_crowds(const Track *track, Scenery *scenery) {
  std::vector<float> spots;
  for (const Jump &jump : track->jumps) spots.push_back(jump.target_s);
  spots.push_back(0.0f);
  spots.push_back(track->start_s + track->design->funnel_length + 40.0f);
  int k = 0;
  for (float s : spots)
    for (int group = 0; group < 3; group++, k++) {
      const TrackSample *p = sample_at(track, s + static_cast<float>(group - 1) * 14.0f);
      // Both sides, the far side a little farther back.
      for (int side = -1; side <= 1; side += 2) {
        float x, z;
        float back = p->half_width + 16.0f + (side > 0 ? 4.0f : 0.0f) + static_cast<float>(group % 2) * 3.0f;
        side_point(p, static_cast<float>(side) * back, &x, &z);
        if (clear_of_track(track, x, z, 12.0f, 10.0f))
          place(scenery, x, z, 12.0f, 6.0f, crowd_textures[static_cast<size_t>(k + side + 1) % crowd_kinds]);
      }
    }
}

// Banners along the straights on the outside, the game's own at the finish.
void place_banners(const Track *track, Scenery *scenery) {
  int k = 0;
  for (float s = 60.0f; s < track->length - 60.0f; s += 110.0f) {
    const TrackSample *p = sample_at(track, s);
    if (in_start_area(track, s) || std::fabs(p->curvature) > 1.0f / 250.0f) continue;
    float side = (k % 2 == 0) ? 1.0f : -1.0f;
    float x, z;
    side_point(p, side * (p->half_width + 9.0f), &x, &z);
    if (clear_of_track(track, x, z, 12.0f, 4.0f)) place(scenery, x, z, 12.0f, 4.0f, banner_textures[k % banner_kinds]);
    k++;
  }
  const TrackSample *f = sample_at(track, -20.0f);
  for (int side = -1; side <= 1; side += 2) {
    float x, z;
    side_point(f, static_cast<float>(side) * (f->half_width + 8.0f), &x, &z);
    if (clear_of_track(track, x, z, 12.0f, 4.0f)) place(scenery, x, z, 12.0f, 4.0f, banner_textures[0]);
  }
}

void write_billboards(const Track *track, const Scenery *scenery, Archive *archive) {
  Bytes out;
  for (const Placed &b : scenery->billboards)
    bytes_printf(&out, "[%f %f %f] %f %f %s\n", b.x, b.y, b.z, b.width, b.height, b.texture);
  archive_add(archive, std::string(track->design->dir) + "/billboards", std::move(out));
}

void write_statue_line(Bytes *out, float x, float z, float angle, const char *model, const char *texture) {
  bytes_printf(out, "[%f %f %f] %f %s %s %s\n", x, 0.0f, z, angle, model, texture, "null");
}

void write_statues(const Track *track, Archive *archive) {
  Bytes out;
  // Banners face the riders from beyond every landing.
  for (const Jump &jump : track->jumps) {
    const TrackSample *p = sample_at(track, jump.end_s + 15.0f);
    float x, z;
    side_point(p, p->half_width + 16.0f, &x, &z);
    if (far_from_track(track, x, z, 8.0f)) write_statue_line(&out, x, z, along_angle(p->tx, p->tz), "@banner.hm", "@banner.png");
  }
  // Tents for the teams on the left of the start, where the field is clear.
  const TrackSample *start = sample_at(track, track->start_s - 40.0f);
  for (int k = 0; k < 4; k++) {
    float x, z;
    side_point(start, -(start->half_width + 30.0f + 14.0f * static_cast<float>(k)), &x, &z);
    if (far_from_track(track, x, z, 9.0f)) write_statue_line(&out, x, z, along_angle(start->tx, start->tz), "@tent.hm", "@tent.png");
  }
  // A few trees as models among the billboard ones.
  Mt19937 mt;
  mt_seed(&mt, track->design->seed + 1u);
  for (int attempt = 0, placed = 0; attempt < 400 && placed < 24; attempt++) {
    float x = 30.0f + static_cast<float>(mt_next(&mt) % 9640u) * 0.1f;
    float z = 30.0f + static_cast<float>(mt_next(&mt) % 9640u) * 0.1f;
    float angle = static_cast<float>(mt_next(&mt) % 628u) * 0.01f - 3.14f;
    if (!far_from_track(track, x, z, 35.0f)) continue;
    write_statue_line(&out, x, z, angle, "@trackside_tree.hm", "@trackside_tree.png");
    placed++;
  }
  for (const Jump &jump : track->jumps)
    for (float s : {jump.face_s, jump.lip_s - 4.0f}) {
      const TrackSample *p = sample_at(track, s);
      for (int side = -1; side <= 1; side += 2) {
        float x, z;
        side_point(p, static_cast<float>(side) * (p->half_width + bale_clearance), &x, &z);
        write_statue_line(&out, x, z, along_angle(p->tx, p->tz), "@haybale.hm", "@haybale.png");
      }
    }
  archive_add(archive, std::string(track->design->dir) + "/statues", std::move(out));
}

void write_decals(const Track *track, Archive *archive) {
  Bytes out;
  // The decal's x axis runs across the track: the first size is its width.
  auto decal = [&](float s, float lateral, float across, float along, const char *texture) {
    const TrackSample *p = sample_at(track, s);
    float x, z;
    side_point(p, lateral, &x, &z);
    bytes_printf(&out, "[%f %f] %f %f %f %s\n", x, z, along_angle(-p->tz, p->tx), across, along, texture);
  };
  const TrackSample *finish = sample_at(track, 0.0f);
  decal(0.0f, 0.0f, 2.0f * finish->half_width, 3.0f, decal_finish);
  // The line the riders wait behind, and the name on the pad behind them.
  const TrackSample *start = sample_at(track, track->start_s);
  decal(track->start_s - 9.0f, 0.0f, 2.0f * start->half_width - 4.0f, 1.0f, decal_start);
  decal(track->start_s - 32.0f, 0.0f, 48.0f, 12.0f, decal_logo);
  for (const Jump &jump : track->jumps) {
    const TrackSample *p = sample_at(track, jump.lip_s);
    decal(jump.lip_s - 0.75f, 0.0f, 2.0f * p->half_width - 2.0f, 1.5f, decal_lip);
  }
  archive_add(archive, std::string(track->design->dir) + "/decals", std::move(out));
}

// Checkpoints around a stretch of the lap, at most four.
int checkpoints_near(const Track *track, float from, float to, int out[4]) {
  int count = 0;
  for (size_t i = 0; i < track->checkpoints.size() && count < 4; i++) {
    float x = wrap_s(track, track->checkpoints[i].s - from);
    if (x <= wrap_s(track, to - from)) out[count++] = static_cast<int>(i);
  }
  for (int k = count; k < 4; k++) out[k] = -1;
  return count;
}

void write_flaggers(const Track *track, Archive *archive) {
  Bytes out;
  // The starter stands at the left end of the gate and walks off after the drop.
  const TrackSample *p = sample_at(track, track->start_s);
  const GridPosition &left = track->grid.front();
  float fx = p->tx, fz = p->tz, rx = -p->tz, rz = p->tx;
  // A flagger's y is its feet above the ground (the sprite stands on it).
  bytes_printf(&out, "[%f %f %f] [%f %f %f] %f %f %f", left.x - rx * 8.0f + fx * 6.0f, -0.2f,
               left.z - rz * 8.0f + fz * 6.0f, left.x - rx * 26.0f + fx * 6.0f, -0.2f, left.z - rz * 26.0f + fz * 6.0f,
               flagger_width, flagger_height, 4.0f);
  for (const char *t : starter_textures) bytes_printf(&out, " %s", t);
  bytes_printf(&out, "\n");
  // The lap board beside the finish line.
  const TrackSample *f = sample_at(track, 0.0f);
  float x, z;
  side_point(f, -(f->half_width + 6.0f), &x, &z);
  bytes_printf(&out, "[%f %f %f] %f %f %s %s %s %s\n", x, -0.2f, z, flagger_width, flagger_height, lapboard_textures[0],
               lapboard_textures[1], lapboard_textures[2], lapboard_textures[3]);
  // A marshal on the landing side of every jump, watching the gates around it.
  for (const Jump &jump : track->jumps) {
    int gates[4];
    checkpoints_near(track, jump.face_s - 30.0f, jump.end_s + 30.0f, gates);
    const TrackSample *q = sample_at(track, jump.target_s);
    side_point(q, -(q->half_width + 7.0f), &x, &z);
    bytes_printf(&out, "[%f %f %f] %f %f %d %d %d %d %s %s\n", x, -0.2f, z, flagger_width, flagger_height, gates[0], gates[1],
                 gates[2], gates[3], marshal_textures[0], marshal_textures[1]);
  }
  archive_add(archive, std::string(track->design->dir) + "/flaggers", std::move(out));
}

void write_cameras(const Track *track, Archive *archive) {
  struct Camera {
    float x, y, z, fov;
  };
  std::vector<Camera> cameras;
  // The start, the first turn, then every jump from the far side of its landing.
  auto add_at = [&](float s, float side, float fov) {
    const TrackSample *p = sample_at(track, s);
    float x, z;
    side_point(p, side * (p->half_width + 30.0f), &x, &z);
    cameras.push_back({x, 8.0f, z, fov});
  };
  add_at(track->start_s + 0.5f * track->design->funnel_length, -1.0f, 70.0f);
  for (const Jump &jump : track->jumps) add_at(jump.lip_s, 1.0f, 55.0f);
  // The outside of the first turn after the start.
  float first_turn = track->start_s + track->design->funnel_length;
  for (float s = first_turn; s < first_turn + 500.0f; s += 5.0f) {
    const TrackSample *p = sample_at(track, s);
    if (std::fabs(p->curvature) > 1.0f / 150.0f) {
      add_at(s + 60.0f, p->curvature > 0.0f ? -1.0f : 1.0f, 65.0f);
      break;
    }
  }
  std::vector<std::vector<int>> watched(cameras.size());
  for (size_t i = 0; i < track->checkpoints.size() && i < 256; i++) {
    const Checkpoint &c = track->checkpoints[i];
    size_t best = 0;
    float best_d = 1e30f;
    for (size_t k = 0; k < cameras.size(); k++) {
      float d = std::hypot(cameras[k].x - c.x, cameras[k].z - c.z);
      if (d < best_d) {
        best_d = d;
        best = k;
      }
    }
    watched[best].push_back(static_cast<int>(i));
  }
  Bytes out;
  for (size_t k = 0; k < cameras.size(); k++) {
    bytes_printf(&out, "fov %g\n", cameras[k].fov);
    if (!watched[k].empty()) {
      bytes_printf(&out, "gate");
      for (int g : watched[k]) bytes_printf(&out, " %d", g);
      bytes_printf(&out, "\n");
    }
    bytes_printf(&out, "addcamera %f %f %f\n", cameras[k].x, cameras[k].y, cameras[k].z);
  }
  archive_add(archive, std::string(track->design->dir) + "/cameras", std::move(out));
}

}  // namespace

float edge_distance(const Track *track, float x, float z) {
  int i = std::clamp(static_cast<int>(std::lround(x / track_spacing)), 0, track_verts - 1);
  int j = std::clamp(static_cast<int>(std::lround(z / track_spacing)), 0, track_verts - 1);
  return track->edge[static_cast<size_t>(i) + static_cast<size_t>(j) * track_verts];
}

void build_scenery(const Track *track, Scenery *scenery) {
  scenery->billboards.clear();
  place_markers(track, scenery);
  place_trees(track, scenery);
  place_crowds(track, scenery);
  place_banners(track, scenery);
}

void write_object_files(const Track *track, const Scenery *scenery, Archive *archive) {
  write_billboards(track, scenery, archive);
  write_statues(track, archive);
  write_decals(track, archive);
  write_flaggers(track, archive);
  write_cameras(track, archive);
}

}  // namespace databuild
