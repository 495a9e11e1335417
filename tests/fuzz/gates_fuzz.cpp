// Fuzzes the "timing_gates" reader, then runs the gate step and the lap
// arithmetic on what it produced.
#include "fuzz_file.h"
#include "track/gates.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = fuzz_scratch_path("timing_gates");
  DataFile *f = fuzz_open(path, data, size);
  if (!f) return 0;
  timing_gates_read(f, 0);
  dfile_close(f);
  const TimingGates *g = timing_gates();
  if (g->first_lap_count + g->normal_lap_count > max_lap_entries) __builtin_trap();
  GateProgress p = {};
  for (int tic = 0; tic < 64 && g->checkpoint_count > 0; tic++) {
    const Checkpoint &c = g->checkpoints[tic % g->checkpoint_count];
    check_gates(&p, c.gate_centre[0], c.gate_centre[2], tic, 3, p.next_gate);
    gate_at_position(tic * 37);
  }
  volatile float sink = lap_time(&p, 1, 0) + lap_time(&p, 3, 0) + static_cast<float>(lap_of(&p));
  (void)sink;
  gate_progress_free(&p);
  return 0;
}
