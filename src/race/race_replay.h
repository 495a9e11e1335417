// The race as the history and demo modules see it.
#pragma once
#include "bike/bike.h"

// Installs the race's records and functions in the replay modules; once per
// process, before the first reset.
void race_connect_replay();
// The current track as packing needs it (empty without a track).
PackTerrain race_pack_terrain();
