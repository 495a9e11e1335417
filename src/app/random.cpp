#include "app/random.h"

void mt_seed(Mt19937 *mt, uint32_t seed) {
  mt->state[0] = seed;
  for (int i = 1; i < 624; i++)
    mt->state[i] = 1812433253u * (mt->state[i - 1] ^ (mt->state[i - 1] >> 30)) + static_cast<uint32_t>(i);
  mt->index = 624;
}

uint32_t mt_next(Mt19937 *mt) {
  if (mt->index >= 624) {
    for (int i = 0; i < 624; i++) {
      uint32_t y = (mt->state[i] & 0x80000000u) | (mt->state[(i + 1) % 624] & 0x7fffffffu);
      uint32_t next = mt->state[(i + 397) % 624] ^ (y >> 1);
      if (y & 1) next ^= 0x9908b0dfu;
      mt->state[i] = next;
    }
    mt->index = 0;
  }
  uint32_t y = mt->state[mt->index++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9d2c5680u;
  y ^= (y << 15) & 0xefc60000u;
  y ^= y >> 18;
  return y;
}

namespace {
// The shared generator; lives for the process, reseeded at every race reset.
// Unseeded it starts from the reference seed 5489.
Mt19937 shared;
bool shared_seeded = false;
}  // namespace

void random_seed(uint32_t seed) {
  mt_seed(&shared, seed);
  shared_seeded = true;
}

uint32_t random_u32() {
  if (!shared_seeded) random_seed(5489u);
  return mt_next(&shared);
}
float random_float() { return static_cast<float>(random_u32() >> 8) * (1.0f / 16777216.0f); }
