// RIPEMD-160 message digest (the track hash and the password proof).
#pragma once
#include <cstddef>
#include <cstdint>

struct Ripemd160 {
  uint32_t h[5];
  uint64_t length;      // bytes fed so far
  uint8_t block[64];
  int used;             // bytes waiting in block
};

void ripemd160_init(Ripemd160 *r);
void ripemd160_update(Ripemd160 *r, const void *data, size_t size);
void ripemd160_final(Ripemd160 *r, uint8_t digest[20]);
void ripemd160(const void *data, size_t size, uint8_t digest[20]);
