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
// leads up and over the hill with a double on the crest, a tabletop climbs
// the east side, the back of the field has a rhythm section and the long
// run down the west side the whoops and a second double before the last
// corner.
const ControlPoint rabbithill_points[] = {
    {260, 905, 36}, {430, 905, 36}, {600, 905, 38}, {760, 898, 44}, {875, 862, 46}, {918, 775, 40},
    {875, 700, 34}, {745, 682, 32}, {565, 690, 32}, {445, 718, 32}, {392, 655, 30}, {452, 592, 30},
    {620, 565, 32}, {790, 545, 32}, {885, 470, 34}, {915, 330, 32}, {872, 195, 34}, {765, 112, 34},
    {600, 100, 32}, {430, 110, 32}, {285, 150, 34}, {175, 265, 34}, {140, 420, 32}, {140, 600, 32},
    {148, 760, 34}, {185, 872, 36},
};
const Feature rabbithill_features[] = {
    {feature_tabletop, 7, 20.0f, 3.5f, 45.0f, 0},
    {feature_double, 11, 140.0f, 3.5f, 12.0f, 0},
    {feature_tabletop, 14, 40.0f, 3.0f, 30.0f, 0},
    {feature_rhythm, 18, 0.0f, 1.2f, 26.0f, 5},
    {feature_whoops, 22, 40.0f, 0.5f, 13.0f, 10},
    {feature_double, 23, 70.0f, 3.5f, 12.0f, 0},
};

// Quarry Bend: an old quarry floor with a pit in the middle and rough
// ground around it. Long sweepers, whoops into the loop round the pit, two
// tabletops past it, a double on the back straight with a rhythm section
// after it, and a tabletop on the run home.
const ControlPoint quarrybend_points[] = {
    {300, 880, 38}, {470, 885, 38}, {640, 880, 40}, {790, 860, 46}, {885, 790, 42}, {900, 680, 36},
    {840, 590, 34}, {720, 560, 32}, {600, 600, 32}, {480, 640, 32}, {360, 600, 32}, {320, 490, 32},
    {380, 390, 32}, {520, 350, 32}, {680, 370, 32}, {820, 340, 34}, {900, 240, 34}, {860, 130, 34},
    {720, 90, 34}, {520, 110, 32}, {330, 130, 32}, {190, 200, 34}, {130, 340, 32}, {120, 520, 32},
    {130, 700, 34}, {185, 840, 36},
};
const Feature quarrybend_features[] = {
    {feature_whoops, 6, 30.0f, 0.5f, 12.0f, 9},
    {feature_tabletop, 12, 60.0f, 3.0f, 30.0f, 0},
    {feature_tabletop, 14, 10.0f, 3.5f, 40.0f, 0},
    {feature_double, 18, 12.0f, 3.5f, 14.0f, 0},
    {feature_rhythm, 19, 60.0f, 1.2f, 24.0f, 5},
    {feature_tabletop, 23, 20.0f, 3.5f, 50.0f, 0},
};

const TrackDesign designs[] = {
    {"rabbithill", "Rabbit Hill", 0x52616262u, rabbithill_points, static_cast<int>(std::size(rabbithill_points)),
     rabbithill_features, static_cast<int>(std::size(rabbithill_features)), 160.0f, 142.0f, 280.0f, 3.0f, 610.0f,
     560.0f, 270.0f, 22.0f},
    {"quarrybend", "Quarry Bend", 0x51756172u, quarrybend_points, static_cast<int>(std::size(quarrybend_points)),
     quarrybend_features, static_cast<int>(std::size(quarrybend_features)), 160.0f, 142.0f, 280.0f, 5.0f, 560.0f,
     470.0f, 230.0f, -14.0f},
};

}  // namespace

int track_design_count() { return static_cast<int>(std::size(designs)); }
const TrackDesign *track_design(int index) { return &designs[index]; }

}  // namespace databuild
