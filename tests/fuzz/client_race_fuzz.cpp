// The race client with the race's own hooks (race/race_net.cpp) on the tiny
// ring track: sequences of datagrams as if from a race server, and after
// each one a tic of the client and of its race, the local rider on the
// simple driver. So the server's track and start load the track and build
// the bikes, states pose the other riders from their histories, timing sets
// their gates and deformation digs the ground, as in a real race.
// Input: records of a 2-byte little-endian length and that many bytes (the
// format torvane-relay --record writes). What the client sends goes to the
// discard port on 127.0.0.1, where nobody answers.
#include <cstdint>
#include <cstring>

#include "app/config.h"
#include "net/client.h"
#include "race/race.h"
#include "race/race_net.h"
#include "race_fuzz.h"
#include "replay/history.h"
#include "runner/runner.h"
#include "track/track.h"

namespace {

// Race steps per run, so that a long input costs a bounded time.
constexpr int max_race_steps = 32;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = false;
  if (!ready) {
    if (!runner_open_data(race_fuzz_write_track().c_str())) abort();
    set_text(&setup_settings().name, "Fuzz");
    set_text(&setup_settings().number, "9");
    ready = true;
  }
  // Every run starts offline, with no track and no bikes, at tic 0.
  race_state() = RaceState{};
  race_connect_net();

  double now = 1.0;
  net_connect("127.0.0.1:9");
  race_net_tic(now);
  int steps = 0;
  size_t at = 0;
  while (at + 2 <= size) {
    size_t length = data[at] | static_cast<size_t>(data[at + 1]) << 8;
    at += 2;
    if (length > size - at) length = size - at;
    if (length > static_cast<size_t>(net_datagram_max)) length = net_datagram_max;
    net_client_handle_datagram(data + at, static_cast<int>(length), now);
    at += length;
    now += seconds_per_tic;
    race_net_tic(now);
    if (net_connected() && !net_waiting_for_server() && current_track_dir() && steps < max_race_steps) {
      simple_driver_tic(net_my_slot());
      race_step();
      steps++;
    }
  }
  net_leave();
  race_net_tic(now);
  race_free_bikes();
  free_track();
  clear_history();
  message_clear();
  return 0;
}
