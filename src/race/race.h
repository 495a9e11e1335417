// The slot table, the race reset and the per-tic race step.
#pragma once

constexpr int slot_kind_empty = 0;
constexpr int slot_kind_human = 1;
constexpr int slot_kind_robot = 2;

// Returns 0 when the track could not be loaded. `slot_kinds` holds max_slots
// entries, or is null to keep the current line-up.
int race_reset(const int *slot_kinds, int from_demo, int record, int finish_tics, int laps, int skill);
// One tic.
void race_step();
int race_tic();
// Frees the bikes of every slot (at shutdown and at a reset).
void race_free_bikes();
