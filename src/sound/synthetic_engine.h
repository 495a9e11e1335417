// Synthetic engine recordings for the bike classes' default sound files,
// for a data set that has no recorded engines. Each class gets a ".braap"
// file, a sound table of engine speed by load, and raw 16-bit recordings of a
// few engine cycles per cell, made from a model of the engine rather than
// from tones: an exhaust pressure pulse per firing that rings the exhaust's
// resonances, combustion roar, valve-train clicks on four-strokes, the
// expansion chamber's ring on two-strokes, and cycle-to-cycle variation
// (pulse strength and timing, misfires off the throttle).
#pragma once

// The classes with default ".braap" files.
constexpr int synthetic_engine_classes = 5;

// Writes, for every class C of "50", "125", "250", "250f", "450f":
// <directory>/defaultC.braap, <directory>/sounds/C.table and the table's
// recordings <directory>/sounds/C_rR_cK.raw. Names inside the files start
// with `reference_prefix` ("@" for a data set, a directory path ending in
// "/" for tests). Returns the number of classes written (5 on success).
int write_synthetic_engine_sounds(const char *directory, const char *reference_prefix);
