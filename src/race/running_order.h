// Positions, the end of a race, cutting penalties and the off-course test,
// all read off the slots' timing lists.
#pragma once

// Recomputes the running order; when nobody is racing any more, computes the
// final order with its cutting penalties, writes the results file and
// records a running series event. Does nothing once the results are final.
void update_running_order();
// Whether the slot's rider has finished (marks it when it has).
int rider_finished(int slot);
// The same answer without marking (for drawing, which changes nothing).
int rider_has_finished(int slot);
// The lap (2 or more) with the smallest lap time, or 0.
int best_lap(int slot);
// Lap k of the slot in tics (lap 1 from the gate drop); 0 when incomplete.
int lap_tics(int slot, int k);
// Expected tics from timing index a to index b over the riders in the
// running order; 7680 when nobody has a value.
int expected_section_time(int a, int b);
// Cutting penalty of a slot in tics (before any lap is taken off).
int cutting_penalty(int slot);
// Off-course tests (online collisions and hiding).
int off_course_at(int slot, int s);
int off_course(int slot);
// The timing index that ends lap `lap` (lap >= 1).
int lap_end_index(int lap);
// Laps completed at timing position p.
int laps_at_position(int p);
