// The race as the history and demo modules see it.
#pragma once
#include "bike/bike.h"

// Installs the race's records and functions in the replay modules; once per
// process, before the first reset.
void race_connect_replay();
// Hands the deformation queue the demo's erode packets made up to `tic`
// (the race step calls it where the wheels' own packets are made).
void race_replay_erodes_due(int tic);
// Forgets erode packets still waiting (race reset).
void race_replay_clear_erodes();
// The current track as packing needs it (empty without a track).
PackTerrain race_pack_terrain();
