// The shipped tracks. Each is a closed centreline through control points
// (feet; point 0 is the finish line on the main straight, which the start
// area shares), the track width there, and the features along it. The berms
// come from the turns themselves.
#include <iterator>

#include "databuild.h"

namespace databuild {

namespace {

// Rabbit Hill: a valley field with a hill in the middle. The start funnels
// into a wide left-hand first turn, a tabletop runs back west, a hairpin
// leads up and over the hill with a double on the crest, the east side
// sweeps down to the back straight, and the long run down the west side has
// the whoops and a second double before the last corner.
const ControlPoint rabbithill_points[] = {
    {260, 905, 36}, {430, 905, 36}, {600, 905, 38}, {760, 898, 44}, {875, 862, 46}, {918, 775, 40},
    {875, 700, 34}, {745, 682, 32}, {565, 690, 32}, {445, 718, 32}, {392, 655, 30}, {452, 592, 30},
    {620, 569, 32}, {790, 545, 32}, {895, 465, 34}, {910, 330, 32}, {895, 200, 34}, {765, 112, 34},
    {600, 100, 32}, {430, 110, 32}, {285, 150, 34}, {175, 265, 34}, {140, 420, 32}, {140, 600, 32},
    {141, 785, 34}, {185, 872, 36},
};
const Feature rabbithill_features[] = {
    {feature_tabletop, 7, 5.0f, 3.5f, 40.0f, 0},
    {feature_double, 11, 140.0f, 3.5f, 12.0f, 0},
    {feature_whoops, 22, 0.0f, 0.4f, 13.0f, 6},
    {feature_double, 23, 4.0f, 3.5f, 12.0f, 0},
};

// Quarry Bend: an old quarry floor with a pit in the middle and rough
// ground around it. Long sweepers, whoops across the floor of the pit, a
// tabletop on the way out of it, a double on the back straight and a
// tabletop on the run home.
const ControlPoint quarrybend_points[] = {
    {300, 880, 38}, {470, 885, 38}, {640, 880, 40}, {790, 860, 46}, {885, 790, 42}, {900, 680, 36},
    {840, 605, 34}, {720, 605, 32}, {600, 605, 32}, {480, 605, 32}, {360, 590, 32}, {320, 490, 32},
    {390, 380, 32}, {520, 360, 32}, {680, 360, 32}, {810, 350, 34}, {900, 250, 34}, {850, 115, 34},
    {720, 100, 34}, {520, 100, 32}, {330, 100, 32}, {200, 115, 32}, {128, 230, 34}, {125, 420, 32},
    {125, 640, 32}, {175, 820, 36},
};
const Feature quarrybend_features[] = {
    {feature_whoops, 7, 40.0f, 0.5f, 12.0f, 9},
    {feature_tabletop, 13, 10.0f, 3.0f, 30.0f, 0},
    {feature_double, 18, 60.0f, 3.5f, 14.0f, 0},
    {feature_tabletop, 23, 20.0f, 3.5f, 50.0f, 0},
};

const TrackDesign designs[] = {
    {"rabbithill", "Rabbit Hill", 0x52616262u, rabbithill_points, static_cast<int>(std::size(rabbithill_points)),
     rabbithill_features, static_cast<int>(std::size(rabbithill_features)), 160.0f, 142.0f, 280.0f, 3.0f, 610.0f,
     560.0f, 270.0f, 22.0f, 215.0f, 50.0f, 0.35f},
    {"quarrybend", "Quarry Bend", 0x51756172u, quarrybend_points, static_cast<int>(std::size(quarrybend_points)),
     quarrybend_features, static_cast<int>(std::size(quarrybend_features)), 160.0f, 142.0f, 280.0f, 5.0f, 560.0f,
     470.0f, 230.0f, -14.0f, 120.0f, 38.0f, 0.5f},
};

}  // namespace

int track_design_count() { return static_cast<int>(std::size(designs)); }
const TrackDesign *track_design(int index) { return &designs[index]; }

}  // namespace databuild
