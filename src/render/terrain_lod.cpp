#include "render/terrain_lod.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "app/alloc.h"
#include "track/terrain.h"

namespace {

// Distance from a node's centre to the centre of a finer node beside its
// children (sqrt(10)/2 child sides), with a margin of 1/1024, so that a node
// is split whenever such a neighbour is.
constexpr float neighbour_reach = 3.1622777f * 0.50048828125f;
constexpr float half_diagonal = 0.70710678f;
// A zero or negative threshold (possible through --detail) would make every
// distance infinite or undefined; the smallest sensible value stands in.
constexpr float min_threshold = 1e-9f;

int side_nodes(int level) { return 1 << level; }
int node_step(const TerrainLod *lod, int level) { return 1 << (lod->size_exp + 1 - level); }

float vertex_h(const Terrain *t, int i, int j) { return t->heights[i + j * t->verts_per_side]; }

// Height of the node's two-triangle approximation at local (a, b) of s; the
// diagonal follows the parity of the node at its own scale.
float plane_height(float c00, float c10, float c01, float c11, int odd, int a, int b, int s) {
  float fx = static_cast<float>(a) / static_cast<float>(s), fz = static_cast<float>(b) / static_cast<float>(s);
  if (odd) {
    if (fx + fz <= 1) return c00 + fx * (c10 - c00) + fz * (c01 - c00);
    return c11 + (1 - fx) * (c01 - c11) + (1 - fz) * (c10 - c11);
  }
  if (fz <= fx) return c10 + (1 - fx) * (c00 - c10) + fz * (c11 - c10);
  return c01 + fx * (c11 - c01) + (1 - fz) * (c00 - c01);
}

// One row of samples of a node: the largest vertical distance to its planes.
float row_error(const Terrain *t, int x0, int z0, int s, int odd, int b) {
  float c00 = vertex_h(t, x0, z0), c10 = vertex_h(t, x0 + s, z0);
  float c01 = vertex_h(t, x0, z0 + s), c11 = vertex_h(t, x0 + s, z0 + s);
  const float *row = t->heights + x0 + (z0 + b) * t->verts_per_side;
  float worst = 0;
  for (int a = 0; a <= s; a++) worst = std::max(worst, std::fabs(row[a] - plane_height(c00, c10, c01, c11, odd, a, b, s)));
  return worst;
}

float table_at(const float *table, int level, int j, int k) {
  int side = side_nodes(level);
  if (j < 0 || k < 0 || j >= side || k >= side) return 0;
  return table[lod_level_offset(level) + j + k * side];
}

// The node's squared split distance from its own error, raised to its
// children's and to its children's neighbours' (finer level of `table`).
float node_value(const TerrainLod *lod, const Terrain *t, const float *table, int level, int j, int k, float error,
                 float threshold) {
  float side = t->extent / static_cast<float>(side_nodes(level));
  float d = error / threshold + half_diagonal * side;
  float d2 = d * d;
  if (level < lod->size_exp) {
    int fl = level + 1, cj = 2 * j, ck = 2 * k;
    static const int children[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    for (const auto &c : children) d2 = std::max(d2, table_at(table, fl, cj + c[0], ck + c[1]));
    static const int around[8][2] = {{0, -1}, {1, -1}, {2, 0}, {2, 1}, {1, 2}, {0, 2}, {-1, 1}, {-1, 0}};
    float m = 0;
    for (const auto &c : around) m = std::max(m, table_at(table, fl, cj + c[0], ck + c[1]));
    float reach = std::sqrt(m) + neighbour_reach * (t->extent / static_cast<float>(side_nodes(fl)));
    d2 = std::max(d2, reach * reach);
  }
  return d2;
}

}  // namespace

void lod_init(TerrainLod *lod, const Terrain *t) {
  memset(lod, 0, sizeof *lod);
  lod->size_exp = t->size_exp;
  lod->node_count = lod_level_offset(t->size_exp + 1);
  for (float *&table : lod->tables) {
    table = static_cast<float *>(alloc_or_die(sizeof(float) * static_cast<size_t>(lod->node_count)));
    memset(table, 0, sizeof(float) * static_cast<size_t>(lod->node_count));
  }
  size_t words = (static_cast<size_t>(lod->node_count) + 31) / 32;
  lod->split = static_cast<uint32_t *>(alloc_or_die(sizeof(uint32_t) * words));
  memset(lod->split, 0, sizeof(uint32_t) * words);
  lod->current = -1;
  lod->done_edits = t->edit_count - 1;  // never computed yet
}

void lod_free(TerrainLod *lod) {
  for (float *table : lod->tables) tracked_free(table);
  tracked_free(lod->split);
  tracked_free(lod->leaves);
  memset(lod, 0, sizeof *lod);
}

int lod_pass(TerrainLod *lod, const Terrain *t, float threshold, long long budget) {
  if (!lod->running) {
    if (t->edit_count == lod->done_edits && lod->current >= 0) return 0;
    lod->running = 1;
    lod->level = lod->size_exp;
    lod->node = 0;
    lod->row = 0;
    lod->partial = 0;
    lod->work = 0;
    // Edits made while the pass runs are caught by the next pass.
    lod->start_edits = t->edit_count;
  }
  if (!(threshold > min_threshold)) threshold = min_threshold;
  float *table = lod->tables[lod->current == 0 ? 1 : 0];
  long long left = budget;
  while (lod->level >= 0) {
    int level = lod->level, side = side_nodes(level), s = node_step(lod, level);
    int count = side * side;
    while (lod->node < count) {
      int j = lod->node % side, k = lod->node / side;
      while (lod->row <= s) {
        lod->partial = std::max(lod->partial, row_error(t, j * s, k * s, s, (j + k) & 1, lod->row));
        lod->row++;
        long long cost = lod_row_cost + s + 1;
        lod->work += cost;
        left -= cost;
        if (left <= 0 && lod->row <= s) return 0;  // resumes inside this node
      }
      table[lod_level_offset(level) + lod->node] = node_value(lod, t, table, level, j, k, lod->partial, threshold);
      lod->node++;
      lod->row = 0;
      lod->partial = 0;
      if (left <= 0 && !(lod->node == count && level == 0)) {
        if (lod->node == count) {
          lod->level--;
          lod->node = 0;
        }
        return 0;
      }
    }
    lod->level--;
    lod->node = 0;
  }
  lod->current = lod->current == 0 ? 1 : 0;
  lod->running = 0;
  lod->done_edits = lod->start_edits;
  lod->last_work = lod->work;
  return 1;
}

const float *lod_table(const TerrainLod *lod) { return lod->current >= 0 ? lod->tables[lod->current] : nullptr; }

float lod_split_distance_sq(const TerrainLod *lod, int level, int j, int k) {
  const float *table = lod_table(lod);
  return table ? table_at(table, level, j, k) : 0;
}

namespace {

int node_index(int level, int j, int k) { return lod_level_offset(level) + j + k * side_nodes(level); }
void set_split(TerrainLod *lod, int index) { lod->split[index >> 5] |= 1u << (index & 31); }

struct MarkContext {
  TerrainLod *lod;
  const Terrain *t;
  const float *table;
  float vx, vz;
  int min_leaf_level;
  int forced_lo_j[32], forced_lo_k[32];  // per level: first of the 4 x 4 forced nodes
};

void mark_node(MarkContext &c, int level, int j, int k) {
  if (level >= c.lod->size_exp) return;
  int side = side_nodes(level);
  float size = c.t->extent / static_cast<float>(side);
  float cx = (static_cast<float>(j) + 0.5f) * size - c.vx, cz = (static_cast<float>(k) + 0.5f) * size - c.vz;
  int forced = level < c.min_leaf_level || (j >= c.forced_lo_j[level] && j < c.forced_lo_j[level] + 4 &&
                                            k >= c.forced_lo_k[level] && k < c.forced_lo_k[level] + 4);
  float d2 = c.table ? c.table[node_index(level, j, k)] : 0;
  if (!forced && !(cx * cx + cz * cz < d2)) return;
  set_split(c.lod, node_index(level, j, k));
  for (int dz = 0; dz < 2; dz++)
    for (int dx = 0; dx < 2; dx++) mark_node(c, level + 1, 2 * j + dx, 2 * k + dz);
}

}  // namespace

void lod_mark_splits(TerrainLod *lod, const Terrain *t, const float viewer[3], int min_leaf_level) {
  memset(lod->split, 0, sizeof(uint32_t) * ((static_cast<size_t>(lod->node_count) + 31) / 32));
  MarkContext c;
  c.lod = lod;
  c.t = t;
  c.table = lod_table(lod);
  c.vx = viewer[0];
  c.vz = viewer[2];
  c.min_leaf_level = min_leaf_level;
  for (int level = 0; level <= lod->size_exp; level++) {
    float size = t->extent / static_cast<float>(side_nodes(level));
    // The 4 x 4 nodes whose middle 2 x 2 hold the viewer.
    float rx = std::floor(std::clamp(c.vx / size, -1e6f, 1e6f) + 0.5f);
    float rz = std::floor(std::clamp(c.vz / size, -1e6f, 1e6f) + 0.5f);
    c.forced_lo_j[level] = static_cast<int>(rx) - 2;
    c.forced_lo_k[level] = static_cast<int>(rz) - 2;
  }
  mark_node(c, 0, 0, 0);
}

int lod_is_split(const TerrainLod *lod, int level, int j, int k) {
  int side = side_nodes(level);
  if (level < 0 || level >= lod->size_exp || j < 0 || k < 0 || j >= side || k >= side) return 0;
  int index = node_index(level, j, k);
  return (lod->split[index >> 5] >> (index & 31)) & 1;
}

namespace {

// A finest-level node is drawn at full resolution whenever it is reached,
// so for its neighbours "split" means "its parent is split".
int drawn_split(const TerrainLod *lod, int level, int j, int k) {
  if (level < lod->size_exp) return lod_is_split(lod, level, j, k);
  int side = side_nodes(level);
  if (j < 0 || k < 0 || j >= side || k >= side) return 0;
  return level == 0 || lod_is_split(lod, level - 1, j >> 1, k >> 1);
}

struct CollectContext {
  TerrainLod *lod;
  const Terrain *t;
  int order_x, order_z;  // 1: children from high coordinates first
  const float (*planes)[4];
  int plane_count;
};

int box_outside(const CollectContext &c, float x0, float z0, float x1, float z1) {
  for (int p = 0; p < c.plane_count; p++) {
    const float *q = c.planes[p];
    // The box corner furthest along the plane normal.
    float x = q[0] >= 0 ? x1 : x0, y = q[1] >= 0 ? c.t->max_height : c.t->min_height, z = q[2] >= 0 ? z1 : z0;
    if (q[0] * x + q[1] * y + q[2] * z + q[3] < 0) return 1;
  }
  return 0;
}

void add_leaf(TerrainLod *lod, int level, int j, int k, int midpoints) {
  grow_array(lod->leaves, lod->leaf_count, lod->leaf_capacity);
  LodLeaf &leaf = lod->leaves[lod->leaf_count++];
  leaf.j = static_cast<uint16_t>(j);
  leaf.k = static_cast<uint16_t>(k);
  leaf.level = static_cast<uint8_t>(level);
  leaf.midpoints = static_cast<uint8_t>(midpoints);
}

void collect_node(CollectContext &c, int level, int j, int k) {
  float size = c.t->extent / static_cast<float>(side_nodes(level));
  float x0 = static_cast<float>(j) * size, z0 = static_cast<float>(k) * size;
  if (c.plane_count && box_outside(c, x0, z0, x0 + size, z0 + size)) return;
  if (lod_is_split(c.lod, level, j, k)) {
    for (int a = 0; a < 2; a++) {
      int dz = c.order_z ? 1 - a : a;
      for (int b = 0; b < 2; b++) {
        int dx = c.order_x ? 1 - b : b;
        collect_node(c, level + 1, 2 * j + dx, 2 * k + dz);
      }
    }
    return;
  }
  int side = side_nodes(level), finest = level == c.lod->size_exp;
  static const int across[4][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
  int midpoints = 0;
  for (int e = 0; e < 4; e++) {
    int nj = j + across[e][0], nk = k + across[e][1];
    int outside = nj < 0 || nk < 0 || nj >= side || nk >= side;
    // At the border the finest leaves keep every vertex (the ground the
    // bikes ride on); coarser ones have no neighbour to match.
    if (outside ? finest : drawn_split(c.lod, level, nj, nk)) midpoints |= 1 << e;
  }
  add_leaf(c.lod, level, j, k, midpoints);
}

}  // namespace

int lod_collect_leaves(TerrainLod *lod, const Terrain *t, const float direction[3], const float (*planes)[4],
                       int plane_count) {
  lod->leaf_count = 0;
  CollectContext c;
  c.lod = lod;
  c.t = t;
  // Looking toward -x, the nodes at high x are the near ones.
  c.order_x = direction[0] < 0;
  c.order_z = direction[2] < 0;
  c.planes = planes;
  c.plane_count = planes ? plane_count : 0;
  collect_node(c, 0, 0, 0);
  return lod->leaf_count;
}

int lod_count_cracks(const TerrainLod *lod) {
  int cracks = 0;
  static const int across[4][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
  for (int n = 0; n < lod->leaf_count; n++) {
    const LodLeaf &leaf = lod->leaves[n];
    int level = leaf.level, bad = 0;
    if (level + 2 > lod->size_exp) continue;
    for (int e = 0; e < 4 && !bad; e++) {
      int nj = leaf.j + across[e][0], nk = leaf.k + across[e][1];
      if (!lod_is_split(lod, level, nj, nk)) continue;
      // The two children of the neighbour along the shared edge.
      int cj = 2 * nj, ck = 2 * nk;
      int a[2][2];
      switch (e) {
        case 0: a[0][0] = cj; a[0][1] = ck + 1; a[1][0] = cj + 1; a[1][1] = ck + 1; break;
        case 1: a[0][0] = cj; a[0][1] = ck; a[1][0] = cj; a[1][1] = ck + 1; break;
        case 2: a[0][0] = cj; a[0][1] = ck; a[1][0] = cj + 1; a[1][1] = ck; break;
        default: a[0][0] = cj + 1; a[0][1] = ck; a[1][0] = cj + 1; a[1][1] = ck + 1; break;
      }
      bad = lod_is_split(lod, level + 1, a[0][0], a[0][1]) || lod_is_split(lod, level + 1, a[1][0], a[1][1]);
    }
    cracks += bad;
  }
  return cracks;
}
