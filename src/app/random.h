// The one random number generator of the simulation: MT19937, the published
// Mersenne Twister. Seeded with the tic counter at every race reset so that a
// race replays identically.
#pragma once
#include <cstdint>

struct Mt19937 {
  uint32_t state[624];
  int index;
};

void mt_seed(Mt19937 *mt, uint32_t seed);
uint32_t mt_next(Mt19937 *mt);

// The shared generator.
void random_seed(uint32_t seed);
uint32_t random_u32();
// Uniform in [0, 1).
float random_float();
