// Feeds the race client sequences of datagrams as if they came from its
// server. Input: records of a 2-byte little-endian length and that many
// bytes; a client run follows each datagram, so the state machine walks
// through its phases and sends what they require (to the discard port on
// 127.0.0.1, where nobody answers).
#include <cstdint>
#include <cstring>

#include "net/client.h"
#include "platform/log.h"

namespace {

uint8_t hash_seen[track_hash_size];
int remote_slots = 1;

int track_installed(const char *name) { return name[0] != 'x'; }
int reset_race(const NetRaceSetup *setup, uint8_t hash[track_hash_size]) {
  // The setup must be sane whatever the server said.
  for (int i = 0; i < max_slots; i++)
    if (setup->kinds[i] != 0 && setup->kinds[i] != 1 && setup->kinds[i] != 5) __builtin_trap();
  if (setup->my_slot < 0 || setup->my_slot >= max_slots) __builtin_trap();
  memcpy(hash, hash_seen, track_hash_size);
  return setup->track[0] != 'y';
}
int32_t tic = 0;
int32_t race_tic() { return tic; }
void set_race_tic(int32_t t) { tic = t; }
int is_remote(int slot) {
  if (slot < 0 || slot >= max_slots) __builtin_trap();
  return remote_slots;
}
void add_state(int slot, int32_t, const PackedBikeState *) {
  if (slot < 0 || slot >= max_slots) __builtin_trap();
}
int pack_local(PackedBikeState *out) {
  memset(out, 0, sizeof *out);
  return 1;
}
int local_timing(int *count, int32_t *last) {
  *count = tic / 64;
  *last = tic;
  return 1;
}
void set_timing(int slot, int index, int32_t) {
  if (slot < 0 || slot >= max_slots || index < 0) __builtin_trap();
}
void deformation(const uint8_t *packet, int length) {
  if (length < 0 || length > 1023) __builtin_trap();
  volatile uint8_t sum = 0;
  for (int i = 0; i < length; i++) sum = static_cast<uint8_t>(sum + packet[i]);
}
void knockout(const int32_t extra[knockout_count]) {
  for (int i = 0; i < knockout_count; i++)
    if (extra[i] < 0 || extra[i] > knockout_max) __builtin_trap();
}
void demo(int, const uint8_t *data, int length) {
  volatile uint8_t sum = 0;
  for (int i = 0; i < length; i++) sum = static_cast<uint8_t>(sum + data[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = false;
  if (!ready) {
    hovl_log("HOVL_LOGFILE=/dev/null");
    ready = true;
  }
  NetHooks hooks = {};
  hooks.track_installed = track_installed;
  hooks.reset_race = reset_race;
  hooks.race_tic = race_tic;
  hooks.set_race_tic = set_race_tic;
  hooks.is_remote = is_remote;
  hooks.add_remote_state = add_state;
  hooks.pack_local_state = pack_local;
  hooks.local_timing = local_timing;
  hooks.set_remote_timing = set_timing;
  hooks.apply_deformation = deformation;
  hooks.set_knockout = knockout;
  hooks.record_demo = demo;
  net_set_hooks(&hooks);
  memset(hash_seen, 0, sizeof hash_seen);
  remote_slots = size & 1;
  tic = 0;

  double now = 1.0;
  net_connect("127.0.0.1:9");
  net_client_run(now);
  size_t at = 0;
  while (at + 2 <= size) {
    size_t length = data[at] | static_cast<size_t>(data[at + 1]) << 8;
    at += 2;
    if (length > size - at) length = size - at;
    if (length > 1023) length = 1023;
    net_client_handle_datagram(data + at, static_cast<int>(length), now);
    at += length;
    now += 0.3;
    tic += 4;
    net_client_run(now);
  }
  net_leave();
  message_clear();
  return 0;
}
