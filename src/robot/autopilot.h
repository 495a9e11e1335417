// The auto pilot: a robot rider keeps a path joined from recorded lines,
// picks the next line by score before the path runs out, and rides it like a
// rider (target point, turning circle, lean within bank and grip, countersteer,
// speed holding). It also stages and launches at the start gate, recovers
// when stuck and rolls out after finishing. Controls reach the bike only
// through its setters.
#pragma once
#include "robot/lines.h"

struct BikeState;

constexpr int personality_count = 5;

struct Personality {
  const char *name;
  int mode, lead_mode;
  float lead_threshold;  // s
  float start_delay_min, start_delay_max;  // s
};

const Personality *personality(int index);  // index 0 .. 4, else null

// Looks the name up among the riders 1 .. 4; an unknown name uses 1. Also
// forgets the robot's path and start state.
void set_personality(BikeState *bike, const char *name);
int personality_of(int slot);  // 0: not on auto pilot
// Takes the slot off auto pilot and frees its path.
void autopilot_clear(int slot);
// Writes the robot's controls for this tic.
void auto_pilot(BikeState *bike);

// For the line rating and the realignment of fallen riders.
int autopilot_on_line(int slot);  // within 4 ft of the path at no more than its speed
// Position and recorded speed (negative in the air); 0 when the path is empty.
int autopilot_approach_point(int slot, float out[4]);
int autopilot_path_length(int slot);
int autopilot_recovering(int slot);  // the recovery countdown
// Recovering and no advance along the path for over 6 s: the race lets the
// bike pass through other bikes until it is back on its path.
int autopilot_stalled(int slot);
