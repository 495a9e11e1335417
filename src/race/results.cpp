#include "race/results.h"

#include <cstdio>
#include <ctime>

#include "app/types.h"
#include "assets/file.h"
#include "platform/log.h"
#include "race/race.h"
#include "race/running_order.h"
#include "track/gates.h"
#include "track/track.h"

namespace {

constexpr int path_size = 1024;
// The results file's name; lives for the process.
char path_setting[path_size] = "@results.txt";

// Minutes, seconds and milliseconds of a tic count.
void print_time(DataFile *file, int tics) {
  long t = static_cast<long>(tics * seconds_per_tic * 1000);
  dfile_printf(file, "%3ld:%02ld.%03ld", t / 60000, t / 1000 - 60 * (t / 60000), t % 1000);
}

// The lap a timing index belongs to (0 = the first lap).
int lap_of_index(int i) {
  const RaceState &race = race_state();
  if (race.normal_lap_length <= 0 || i < race.first_lap_length) return 0;
  return 1 + (i - race.first_lap_length) / race.normal_lap_length;
}

}  // namespace

const char *results_path() { return path_setting; }
void set_results_path(const char *path) { snprintf(path_setting, sizeof path_setting, "%s", path ? path : "@results.txt"); }

int write_results(const char *path) {
  const RaceState &race = race_state();
  DataFile *file = dfile_open_replace(path);
  if (!file) {
    print_message("Can't write results file");
    return 0;
  }
  const char *track = current_track_dir();
  dfile_printf(file, "Time=%.2f|Laps=%d|Track=%s|Date=%ld\r\n", race.finish_time * seconds_per_tic, race.finish_laps,
               track ? track : "", static_cast<long>(time(nullptr)));
  dfile_printf(file, "%4s | %12s | %4s | %10s | %4s | %10s\r\n", "No.", "Bike", "Laps", "Total Time", "BLap",
               "Best Time");
  for (int k = 0; k < race.running_count; k++) {
    const RunningEntry &e = race.running_order[k];
    const Slot *s = race_slot(e.slot);
    if (!rider_finished(e.slot)) continue;
    dfile_printf(file, "%4s | %12s | %4d | ", s->number, s->bike_model ? s->bike_model : "", laps_at_position(e.position));
    print_time(file, e.tic - race.gate_drop_tic);
    int lap = best_lap(e.slot);
    dfile_printf(file, " | %4d | ", lap);
    print_time(file, lap ? lap_tics(e.slot, lap) : 0);
    dfile_printf(file, "\r\n");
  }
  for (int k = 0; k < race.running_count; k++) {
    const RunningEntry &e = race.running_order[k];
    const Slot *s = race_slot(e.slot);
    if (!rider_finished(e.slot)) continue;
    int n = s->timing.gate_tic_count;
    dfile_printf(file, "\r\n%d\r\n", n);
    for (int i = 0; i < n; i++) {
      int tic = s->timing.gate_tics[i];
      if (tic < 0) {
        dfile_printf(file, "%8d", -1);
      } else {
        dfile_printf(file, "%8.3f", (tic - race.gate_drop_tic) * seconds_per_tic);
      }
      dfile_printf(file, i + 1 < n && lap_of_index(i + 1) == lap_of_index(i) ? " " : "\r\n");
    }
  }
  if (!dfile_commit_replace(file)) {
    print_message("Can't write results file");
    return 0;
  }
  return 1;
}
