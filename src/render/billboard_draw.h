// The billboards of a frame (the roost pool first, then flaggers, trees,
// spectators ...): culled behind the camera, radix-sorted back to front by
// an integer key, regrouped by texture within a bounded look-ahead so fewer
// binds are needed, and drawn as quads that turn about the vertical to face
// the camera. Also the trackside animations that pick the flaggers' pictures.
#pragma once
#include <cstdint>

struct Billboard;

struct BillboardItem {
  int index;         // in the track's billboard list
  uint32_t key;      // sort key: larger is nearer
  unsigned texture;
  float centre;      // position along the camera's horizontal right axis
  float half_width;  // along that axis
};

// floor(1024 (back . position) + 16777216): grows toward the camera.
uint32_t billboard_key(const float back[3], const float position[3]);
// The visible billboards with a texture in front of the camera (key below
// the camera's own), the pool's 2000 first; returns the count.
int collect_billboards(const float camera[3], const float back[3], const float right[3], BillboardItem *out,
                       int capacity);
// Stable least-significant-byte-first radix sort by key, ascending (back to front).
void sort_billboards(BillboardItem *items, int count, BillboardItem *scratch);
// Moves a later billboard with the same texture up behind each one, looking
// at most lookahead - 1 entries ahead, when nothing in between overlaps it
// along the camera's right axis.
void regroup_billboards(BillboardItem *items, int count, int lookahead);
// Draws the sorted list; returns the texture binds it made.
int draw_billboards(const BillboardItem *items, int count, const float right[3]);

// Picks the flaggers' pictures and places the start flagger for the race
// clock; marks the checkpoints where riders are down.
void animate_trackside(int tic);
