// The terrain's level of detail, without GL: a quadtree over the height
// field (level L has 2^L x 2^L nodes; the finest, level n, has one node per
// tile), the squared split distance of every node computed by a resumable,
// budgeted pass into one of two tables while the other is in use, the nodes
// split for a viewpoint, and the leaves to draw, front to back.
//
// Node (j, k) of level L spans vertex columns j*s ... (j + 1)*s and rows
// k*s ... (k + 1)*s with s = 2^(n + 1 - L). Tables hold the levels one after
// another from offset (4^L - 1) / 3, row-major within a level (j fastest).
#pragma once
#include <cstdint>

struct Terrain;

constexpr int lod_row_cost = 10;  // work units per row of samples, on top of one per sample
constexpr long long lod_frame_budget = 8000;

inline int lod_level_offset(int level) { return static_cast<int>(((1LL << (2 * level)) - 1) / 3); }

struct LodLeaf {
  uint16_t j, k;
  uint8_t level;
  uint8_t midpoints;  // edges whose midpoint joins the fan: bit 0 low z, 1 high x, 2 high z, 3 low x
};

struct TerrainLod {
  int size_exp;        // n: levels 0 ... n
  int node_count;      // all levels
  float *tables[2];    // squared split distances
  int current;         // table in use, -1 before the first pass completes
  uint32_t *split;     // one bit per node: split for the last viewpoint
  // The pass in progress: where it stands, the partial maximum of the node
  // it stopped in, and the edit count it started from.
  int running;
  int level, node, row;
  float partial;
  int start_edits;
  int done_edits;      // edit count of the last completed pass
  long long work;      // units spent on the pass in progress
  long long last_work; // units the last completed pass cost
  LodLeaf *leaves;
  int leaf_count, leaf_capacity;
};

void lod_init(TerrainLod *lod, const Terrain *terrain);
void lod_free(TerrainLod *lod);
// Runs the pass for at most about `budget` work units (it stops after the
// row that spends the budget). A pass starts only when the terrain's edit
// count differs from the last completed pass's. Returns 1 when a pass
// completed in this call.
int lod_pass(TerrainLod *lod, const Terrain *terrain, float threshold, long long budget);
// The table in use (null before the first pass) and one node's value.
const float *lod_table(const TerrainLod *lod);
float lod_split_distance_sq(const TerrainLod *lod, int level, int j, int k);

// Marks the nodes split for a viewer: by distance, the 4 x 4 nodes round the
// viewer at every level, and every node coarser than min_leaf_level.
void lod_mark_splits(TerrainLod *lod, const Terrain *terrain, const float viewer[3], int min_leaf_level);
int lod_is_split(const TerrainLod *lod, int level, int j, int k);
// The leaves of the split tree, front to back along the view direction,
// with their fan midpoints. Leaves whose box lies outside any of the
// `plane_count` planes (a x + b y + c z + d < 0 for the whole box) are left
// out. Returns the count; the list is lod->leaves.
int lod_collect_leaves(TerrainLod *lod, const Terrain *terrain, const float direction[3], const float (*planes)[4],
                       int plane_count);
// Leaves of the last collection that touch a node two levels finer (each
// would show a crack); 0 for a sound tree.
int lod_count_cracks(const TerrainLod *lod);
