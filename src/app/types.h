// Constants and small records shared by every subsystem.
#pragma once
#include <cstdint>

// The simulation advances in fixed tics of exactly 1/128 s.
constexpr double seconds_per_tic = 0.0078125;
constexpr int tics_per_second = 128;

// Riders in one race, one per slot.
constexpr int max_slots = 160;

// Settings shown in mph are stored in feet per second.
constexpr float mph_to_fps = 1.4666667f;

constexpr double gravity_y = -32.0;  // ft/s^2, +y up
