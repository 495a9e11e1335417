// Shared by the server fuzz targets: the made-up client addresses and the
// input's records of one control byte, a 2-byte little-endian length and
// that many bytes (cut to what the input holds and to a datagram's size).
#pragma once
#include <cstddef>
#include <cstdint>

#include "net/transport.h"

// 127.0.0.1 ports 40000..40003, where nobody listens.
inline void fuzz_sender_addresses(NetAddress senders[4]) {
  for (int i = 0; i < 4; i++) {
    net_resolve(&senders[i], "127.0.0.1", 9);
    senders[i].in.sin_port = htons(static_cast<uint16_t>(40000 + i));
  }
}

// The record at `*at`: false when none is left; else its control byte, bytes
// and length, with `*at` moved past it.
inline bool fuzz_next_record(const uint8_t *data, size_t size, size_t *at, int *control, const uint8_t **bytes,
                             int *length) {
  if (*at + 3 > size) return false;
  *control = data[*at];
  size_t n = data[*at + 1] | static_cast<size_t>(data[*at + 2]) << 8;
  *at += 3;
  if (n > size - *at) n = size - *at;
  if (n > static_cast<size_t>(net_datagram_max)) n = net_datagram_max;
  *bytes = data + *at;
  *length = static_cast<int>(n);
  *at += n;
  return true;
}
