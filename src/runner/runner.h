// Headless races: what the race runner tool, the determinism tests and the
// benchmarks share. A hash of the whole simulated state (every bike's packed
// pose and the height field), a simple built-in driver that rides toward the
// next timing gate (for robots while the auto pilot cannot ride), and the
// set-up of a race from the game data without a window.
#pragma once
#include <cstdint>

#include "bike/bike.h"

// 64-bit FNV-1a, folded incrementally.
constexpr uint64_t state_hash_start = 0xcbf29ce484222325ull;
uint64_t hash_bytes(uint64_t hash, const void *data, int length);

// The packed pose of a bike on the current track (the demo's quantisation).
PackedBikeState runner_pack(const BikeState *bike);

// Every slot with a bike (slot number, packed pose) in slot order, then the
// current track's height field (the bikes alone when no track is loaded).
// With history_tic >= 0 a slot whose history holds an entry stamped with
// that tic contributes that entry: a played demo's recorded state, which
// repacking the posed bike could miss by a rounding step.
uint64_t race_state_hash(int history_tic);
uint64_t bikes_state_hash(uint64_t hash, int history_tic);
// The positions alone (frame and rider, as packed) of every bike, for the
// per-tic trace of a recording and its playback.
uint64_t bikes_position_hash(uint64_t hash);

// Finds the game data (the archive beside the executable, or QX_HOME) and
// lists the tracks; 0 with a message on stderr when there are none. When
// `home` is given, user files (demos, lines, the log) go there instead of
// the user's own home directory.
int runner_open_data(const char *home);

// The simple driver: before the gate drop it waits on the brakes in second
// gear; after it, full clutch, throttle by speed and steering toward the
// next timing gate. Writes the controls of the slot's bike through the
// setters; nothing for an empty slot.
void simple_driver_tic(int slot);

// A connected runner's own rider rides on the auto pilot with the given
// personality (taken again after every race reset). Call before each race
// step; nothing while the race has no local bike.
void runner_robot_rider_tic(const char *personality);
