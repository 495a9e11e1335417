#include "render/billboard_draw.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "race/race.h"
#include "race/running_order.h"
#include "render/render_stats.h"
#include "track/gates.h"
#include "track/objects.h"
#include "track/terrain.h"
#include "track/track.h"

uint32_t billboard_key(const float back[3], const float p[3]) {
  double d = 1024.0 * (static_cast<double>(back[0]) * p[0] + static_cast<double>(back[1]) * p[1] +
                       static_cast<double>(back[2]) * p[2]) +
             16777216.0;
  // Keys outside the four bytes cannot come from a track of sane size; they
  // are kept at the ends rather than wrapped.
  if (d < 0) return 0;
  if (d > 4294967295.0) return 4294967295u;
  return static_cast<uint32_t>(std::floor(d));
}

int collect_billboards(const float camera[3], const float back[3], const float right[3], BillboardItem *out,
                       int capacity) {
  uint32_t own = billboard_key(back, camera);
  // The camera's horizontal right axis.
  float rx = right[0], rz = right[2];
  float rl = std::sqrt(rx * rx + rz * rz);
  if (rl > 0) {
    rx /= rl;
    rz /= rl;
  }
  int n = 0, total = billboard_count();
  for (int i = 0; i < total && n < capacity; i++) {
    const Billboard *b = track_billboard(i);
    if (!b->visible || !b->texture) continue;
    float p[3] = {b->x, b->y, b->z};
    if (i < roost_billboard_pool) {
      // A particle is sorted by its middle, half its height along the view.
      for (int k = 0; k < 3; k++) p[k] -= back[k] * b->height * 0.5f;
    }
    uint32_t key = billboard_key(back, p);
    if (key >= own) continue;  // level with the camera or behind it
    // A particle closer than its own width would fill a third of the
    // screen or more with one blurred, blended quad, and a burst of them
    // thrown back at the chase camera costs several frames' fill: such
    // particles are left out (an addition to the original drawing rules).
    if (i < roost_billboard_pool) {
      float depth = back[0] * (camera[0] - b->x) + back[1] * (camera[1] - b->y) + back[2] * (camera[2] - b->z);
      if (depth < b->width) continue;
    }
    BillboardItem &item = out[n++];
    item.index = i;
    item.key = key;
    item.texture = b->texture;
    item.centre = (b->x - camera[0]) * rx + (b->z - camera[2]) * rz;
    item.half_width = b->width * 0.5f;
  }
  return n;
}

void sort_billboards(BillboardItem *items, int count, BillboardItem *scratch) {
  BillboardItem *from = items, *to = scratch;
  for (int shift = 0; shift < 32; shift += 8) {
    int counts[257] = {};
    for (int i = 0; i < count; i++) counts[((from[i].key >> shift) & 255) + 1]++;
    for (int b = 0; b < 256; b++) counts[b + 1] += counts[b];
    for (int i = 0; i < count; i++) to[counts[(from[i].key >> shift) & 255]++] = from[i];
    std::swap(from, to);
  }
  // Four passes: the result is back in `items`.
}

void regroup_billboards(BillboardItem *items, int count, int lookahead) {
  if (lookahead <= 1) return;
  for (int i = 0; i + 1 < count; i++) {
    unsigned texture = items[i].texture;
    if (items[i + 1].texture == texture) continue;
    int limit = std::min(count, i + lookahead);
    for (int j = i + 2; j < limit; j++) {
      if (items[j].texture != texture) continue;
      // Drawn earlier, it must not cover or be covered by anything it jumps.
      float lo = items[j].centre - items[j].half_width, hi = items[j].centre + items[j].half_width;
      bool clear = true;
      for (int k = i + 1; k < j && clear; k++) {
        float klo = items[k].centre - items[k].half_width, khi = items[k].centre + items[k].half_width;
        clear = khi <= lo || klo >= hi;
      }
      if (!clear) continue;
      BillboardItem moved = items[j];
      memmove(&items[i + 2], &items[i + 1], sizeof(BillboardItem) * static_cast<size_t>(j - i - 1));
      items[i + 1] = moved;
      break;
    }
  }
}

int draw_billboards(const BillboardItem *items, int count, const float right[3]) {
  float rx = right[0], rz = right[2];
  float rl = std::sqrt(rx * rx + rz * rz);
  if (rl > 0) {
    rx /= rl;
    rz /= rl;
  }
  unsigned bound = 0;
  int binds = 0;
  glBegin(GL_QUADS);
  for (int i = 0; i < count; i++) {
    const Billboard *b = track_billboard(items[i].index);
    if (items[i].texture != bound) {
      glEnd();
      glBindTexture(GL_TEXTURE_2D, items[i].texture);
      bound = items[i].texture;
      binds++;
      glBegin(GL_QUADS);
    }
    float hw = b->width * 0.5f;
    glColor4ub(b->colour[0], b->colour[1], b->colour[2], b->colour[3]);
    glTexCoord2f(0, 1);
    glVertex3f(b->x - rx * hw, b->y, b->z - rz * hw);
    glTexCoord2f(1, 1);
    glVertex3f(b->x + rx * hw, b->y, b->z + rz * hw);
    glTexCoord2f(1, 0);
    glVertex3f(b->x + rx * hw, b->y + b->height, b->z + rz * hw);
    glTexCoord2f(0, 0);
    glVertex3f(b->x - rx * hw, b->y + b->height, b->z - rz * hw);
  }
  glEnd();
  render_stats().billboards += count;
  render_stats().texture_changes += binds;
  return binds;
}

// ---- Trackside animations --------------------------------------------------------

namespace {

void show_picture(int billboard, unsigned texture) {
  if (billboard < 0 || billboard >= billboard_count()) return;
  Billboard *b = track_billboard(billboard);
  if (texture) b->texture = texture;
}

int leader_laps() {
  const RaceState &race = race_state();
  if (race.running_count == 0) return 0;
  return laps_at_position(race.running_order[0].position);
}

}  // namespace

void animate_trackside(int tic) {
  const RaceState &race = race_state();
  const Terrain *terrain = track_terrain();
  // The start flagger: signals the drop, then walks off the line.
  const StartFlagger *s = start_flagger();
  if (s && s->present) {
    double t = static_cast<double>(tic - race.gate_drop_tic) / tics_per_second;
    int picture = 0;
    float walked = 0;
    if (t >= 1.0 + s->walk_time) {
      picture = 4;
      walked = 1;
    } else if (t >= 1.0) {
      picture = 3;
      walked = s->walk_time > 0 ? static_cast<float>((t - 1.0) / s->walk_time) : 1;
    } else if (t >= 0.4) {
      picture = 2;
    } else if (t >= 0.1) {
      picture = 1;
    }
    show_picture(s->billboard, s->texture_ids[picture]);
    if (s->billboard >= 0 && s->billboard < billboard_count()) {
      Billboard *b = track_billboard(s->billboard);
      float x = s->start[0] + (s->end[0] - s->start[0]) * walked;
      float z = s->start[2] + (s->end[2] - s->start[2]) * walked;
      float y = s->start[1] + (s->end[1] - s->start[1]) * walked;
      b->x = x;
      b->z = z;
      b->y = (terrain ? terrain_height(terrain, x, z) : 0) + y;
    }
  }
  // The lap board shows what the leader is on.
  const LapBoardFlagger *l = lap_board_flagger();
  if (l && l->present) {
    int on = leader_laps() + 1;
    int picture = 0;
    if (race.running_count > 0 && leader_laps() >= race.final_lap) picture = 3;
    else if (on == race.final_lap) picture = 2;
    else if (on == race.final_lap - 1) picture = 1;
    show_picture(l->billboard, l->texture_ids[picture]);
  }
  // Gate flaggers wave where a rider is down.
  const TimingGates *gates = timing_gates();
  for (int c = 0; c < gates->checkpoint_count; c++) timing_checkpoint(c)->mark = 0;
  for (int i = 0; i < max_slots; i++) {
    Slot *slot = race_slot(i);
    if (!slot || !slot->bike || slot->bike->crash_timer <= 0 || rider_finished(i)) continue;
    int c = gate_at_position(slot->timing.next_gate);
    if (c >= 0 && c < gates->checkpoint_count) timing_checkpoint(c)->mark = 1;
  }
  for (int f = 0; f < gate_flagger_count(); f++) {
    const GateFlagger *g = gate_flagger(f);
    int waving = 0;
    for (int c : g->checkpoints)
      if (c >= 0 && c < gates->checkpoint_count && timing_checkpoint(c)->mark) waving = 1;
    show_picture(g->billboard, g->texture_ids[waving]);
  }
}
