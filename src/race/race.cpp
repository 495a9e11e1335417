// Placeholder race control until the race step lands: counts tics.
#include "race/race.h"

#include "platform/log.h"
#include "track/track.h"

namespace {
int tic_counter = 0;  // cleared at every race reset
}  // namespace

int race_reset(const int *, int, int, int, int, int) {
  hovl_log("Resetting\n");
  tic_counter = 0;
  return 1;
}

void race_step() { tic_counter++; }
int race_tic() { return tic_counter; }

void race_free_bikes() {
  hovl_log("Deallocating bikes\n");
  hovl_log("Finished deallocating bikes\n");
}
