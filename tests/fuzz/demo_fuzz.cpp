// Demo reader: the input is a whole ".qxdemo" file. It is opened, its riders
// are played into history rings for a few hundred tics (posing one bike,
// rewinding and skipping on the way), and it is copied through the writer.
#include <cstdint>
#include <cstdio>
#include <string>

#include "bike/assembly.h"
#include "fuzz_files.h"
#include "replay/demo.h"
#include "replay/history.h"

namespace {

// A stand-in race: one history-driven bike in slot 0, the rest empty.
struct FuzzRace {
  int tic, results_final, gate_drop_tic, finish_time, finish_laps, erosion_rate, time_trial, viewed;
  float roost;
  BikeState *bike;
};
FuzzRace race;

void fuzz_step() {
  pose_from_history(0, race.tic);
  race.tic++;
  demo_write_tic(0);
  demo_read_ahead();
}

void install() {
  physics_world_create();
  race.bike = build_bike("cr125", 0, "1", nullptr, nullptr, nullptr, nullptr);
  bike_deactivate(race.bike);
  ReplayRace r = {};
  r.tic = &race.tic;
  r.results_final = &race.results_final;
  r.gate_drop_tic = &race.gate_drop_tic;
  r.finish_time = &race.finish_time;
  r.finish_laps = &race.finish_laps;
  r.erosion_rate = &race.erosion_rate;
  r.time_trial = &race.time_trial;
  r.viewed_slot = &race.viewed;
  r.slot_bike = [](int slot) { return slot == 0 ? race.bike : nullptr; };
  r.slot_drive_mode = [](int) { return 1; };
  r.track_name = [] { return "fuzztrack"; };
  r.pack_terrain = [] { return PackTerrain{1024.0f, -64.0f, nullptr, nullptr}; };
  r.race_step = fuzz_step;
  r.cut_timing = [](int, int) { return 1; };
  r.roost_density = &race.roost;
  r.erode_receive = [](const uint8_t *p, int n, int) {
    volatile uint8_t sink = 0;
    for (int i = 0; i < n; i++) sink = sink + p[i];
  };
  replay_set_race(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string dir = fuzz_data_dir();
  static const std::string path = dir + "/input.qxdemo";
  static const std::string copy = dir + "/copy.qxdemo";
  static bool installed = false;
  if (!installed) {
    install();
    installed = true;
  }
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);

  race.tic = 0;
  race.time_trial = size > 0 && (data[size - 1] & 1);  // the ghost's clock offset too
  if (race.time_trial) race.tic = 300;
  clear_history();
  if (demo_open_read(path.c_str())) {
    for (int i = 0; i < demo_rider_count(); i++) demo_map_rider(i, i);
    demo_read_ahead();
    for (int k = 0; k < 300; k++) {
      fuzz_step();
      history_hidden(0);
      if (k == 150) seek_playback(-1);
      if (k == 200) seek_playback(1);
      if (k == 220) seek_playback(-1);
    }
    demo_close_read();
  }
  demo_rewrite(path.c_str(), copy.c_str());
  return 0;
}
