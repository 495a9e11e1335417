// Trackside objects and lighting: "lighting", "billboards" (track markers
// along both edges, trees around the field), "statues" (straw bales beside
// the take-off faces, to be seen only), "decals"
// (the finish line), "flaggers" (the starter, the lap board, a marshal at
// every jump) and "cameras" (one at every jump and the first turn, each
// checkpoint watched by the nearest).
//
// The models and images named here are part of the data set too; until
// their generators exist the game draws the objects without them:
// @marker.png @tree.png @tree2.png
// @decal_finish.png @starter1.png .. @starter5.png
// @lapboard.png @lapboard_2.png @lapboard_1.png @lapboard_finish.png
// @flagger_idle.png @flagger_wave.png (and the start gates' @startgate.hm
// and @startgate.ppm).
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

void write_lighting(const Track *track, Archive *archive) {
  Bytes out;
  bytes_printf(&out, "sun_vector [%g %g %g]\n", sun_vector[0], sun_vector[1], sun_vector[2]);
  bytes_printf(&out, "sun_color [%g %g %g]\n", sun_color[0], sun_color[1], sun_color[2]);
  bytes_printf(&out, "ambient [%g %g %g]\n", ambient_color[0], ambient_color[1], ambient_color[2]);
  bytes_printf(&out, "global_ambient [0.2 0.2 0.2]\n");
  bytes_printf(&out, "fog [0.72 0.78 0.86] 0.0005\n");
  bytes_printf(&out, "near_plane 0.25\nfar_plane 5000\n");
  archive_add(archive, std::string(track->design->dir) + "/lighting", std::move(out));
}

void write_billboards(const Track *track, Archive *archive) {
  Bytes out;
  float s = 0.0f;
  while (s < track->length) {
    const TrackSample *p = sample_at(track, s);
    if (!in_start_area(track, s)) {
      for (int side = -1; side <= 1; side += 2) {
        float x, z;
        side_point(p, static_cast<float>(side) * (p->half_width + 1.5f), &x, &z);
        bytes_printf(&out, "[%f %f %f] %f %f %s\n", x, 1.1f, z, 0.4f, 2.2f, "@marker.png");
      }
    }
    s += marker_spacing;
  }
  // Trees wherever the field is clear of the track, placed from a fixed seed.
  Mt19937 mt;
  mt_seed(&mt, track->design->seed);
  int placed = 0;
  for (int attempt = 0; attempt < 4000 && placed < tree_count; attempt++) {
    float x = 20.0f + static_cast<float>(mt_next(&mt) % 9840u) * 0.1f;
    float z = 20.0f + static_cast<float>(mt_next(&mt) % 9840u) * 0.1f;
    float size = 0.8f + static_cast<float>(mt_next(&mt) % 1000u) * 0.0006f;
    int kind = static_cast<int>(mt_next(&mt) % 2u);
    if (!far_from_track(track, x, z, 25.0f)) continue;
    float w = 20.0f * size, h = 30.0f * size;
    bytes_printf(&out, "[%f %f %f] %f %f %s\n", x, 0.5f * h, z, w, h, kind == 0 ? "@tree.png" : "@tree2.png");
    placed++;
  }
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
  const TrackSample *p = sample_at(track, 0.0f);
  bytes_printf(&out, "[%f %f] %f %f %f %s\n", p->x, p->z, along_angle(-p->tz, p->tx), 2.0f * p->half_width, 3.0f,
               "@decal_finish.png");
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
  bytes_printf(&out, "[%f %f %f] [%f %f %f] %f %f %f", left.x - rx * 8.0f + fx * 6.0f, 3.0f,
               left.z - rz * 8.0f + fz * 6.0f,
               left.x - rx * 26.0f + fx * 6.0f, 3.0f, left.z - rz * 26.0f + fz * 6.0f, 3.0f, 6.0f, 4.0f);
  bytes_printf(&out, " @starter1.png @starter2.png @starter3.png @starter4.png @starter5.png\n");
  // The lap board beside the finish line.
  const TrackSample *f = sample_at(track, 0.0f);
  float x, z;
  side_point(f, -(f->half_width + 6.0f), &x, &z);
  bytes_printf(&out, "[%f %f %f] %f %f @lapboard.png @lapboard_2.png @lapboard_1.png @lapboard_finish.png\n", x,
               3.0f, z, 3.0f, 6.0f);
  // A marshal on the landing side of every jump, watching the gates around it.
  for (const Jump &jump : track->jumps) {
    int gates[4];
    checkpoints_near(track, jump.face_s - 30.0f, jump.end_s + 30.0f, gates);
    const TrackSample *q = sample_at(track, jump.target_s);
    side_point(q, -(q->half_width + 7.0f), &x, &z);
    bytes_printf(&out, "[%f %f %f] %f %f %d %d %d %d @flagger_idle.png @flagger_wave.png\n", x, 3.0f, z, 3.0f, 6.0f,
                 gates[0], gates[1], gates[2], gates[3]);
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

void write_object_files(const Track *track, Archive *archive) {
  write_lighting(track, archive);
  write_billboards(track, archive);
  write_statues(track, archive);
  write_decals(track, archive);
  write_flaggers(track, archive);
  write_cameras(track, archive);
}

}  // namespace databuild
