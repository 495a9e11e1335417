// Timing gates in a line and riders moved through them by hand, with no
// riding involved: what the running order, results and series tests share.
#pragma once
#include <cstdio>
#include <string>

#include "assets/file.h"
#include "bike/assembly.h"
#include "race/race.h"
#include "race/results.h"
#include "race/running_order.h"
#include "test_util.h"
#include "track/gates.h"

// Checkpoints 0..3; first lap 0 1 2 3 (F = 4), normal laps 1 2 3 (N = 3):
// lap L ends at timing index 3 + 3 (L - 1).
struct Timing {
  std::string dir;

  Timing() {
    dir = make_temp_dir("running-order");
    std::string path = dir + "/timing_gates";
    write_text_file(path,
                    "checkpoints:\n5 [0 0 0] [1 0 0]\n5 [10 0 0] [1 0 0]\n5 [20 0 0] [1 0 0]\n5 [30 0 0] [1 0 0]\n"
                    "firstlap: 0 1 2 3\nnormallap: 1 2 3\n");
    DataFile *f = dfile_open(path.c_str(), "rb");
    timing_gates_read(f, 0);
    dfile_close(f);
    physics_world_create();
    RaceState &race = race_state();
    race = RaceState{};
    race.first_lap_length = 4;
    race.normal_lap_length = 3;
    race.final_lap = 5;
    race.halfway_lap = 3;
    race.finish_laps = 5;
    set_results_path((dir + "/results.txt").c_str());
  }
  ~Timing() {
    race_free_bikes();
    race_state() = RaceState{};
    set_results_path(nullptr);
    timing_gates_reset();
  }

  static void add(int slot, const char *number, int drive_mode = drive_robot) {
    Slot *s = race_slot(slot);
    s->bike = build_bike("yz250f(2017)", slot, number, nullptr, nullptr, nullptr, nullptr);
    s->drive_mode = drive_mode;
    snprintf(s->number, sizeof s->number, "%s", number);
    s->bike_model = "yz250f(2017)";
    gate_progress_clear(&s->timing);
  }
  // Passes position p at tic t, as the gate step does, and updates the order.
  static void pass(int slot, int p, int t) {
    race_state().tic = t;
    GateProgress *g = &race_slot(slot)->timing;
    gate_stamp(g, p, t);
    g->next_gate = p + 1;
    update_running_order();
  }
  // Rides positions from..to with the given gap per position (missing ones
  // are skipped); returns the last stamp.
  static int ride(int slot, int from, int to, int start, int (*gap)(int), int skip = -1, int save = 0) {
    int t = start;
    for (int p = from; p <= to; p++) {
      t += gap(p);
      if (p == skip) {
        t -= save;
        continue;
      }
      pass(slot, p, t);
    }
    return t;
  }
};
