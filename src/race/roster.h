// The robot riders: 80 fixed entries (rider number, auto pilot personality,
// bike, gear variants) and the shuffled order in which a race takes them.
#pragma once

constexpr int robot_count = 80;

struct RobotEntry {
  int number;
  const char *personality;
  const char *bike;
  // Variant digits of rider body, helmet, bike graphics and wheels; '-' =
  // the family's default.
  char variants[5];
};

const RobotEntry *robot_entry(int index);  // 0..79, null outside
// Index of the robot with that rider number, -1 when none.
int robot_by_number(int number);
// The four texture names of an entry (body, helmet, bike graphics, wheels),
// interned; null where the entry keeps the default.
void robot_textures(const RobotEntry *entry, const char *textures[4]);

// The race's robot order: 0..79 shuffled with the shared generator (which
// the caller has seeded). `next` counts the robots already taken.
struct RobotOrder {
  int order[robot_count];
  int next;
};
void robot_order_shuffle(RobotOrder *order);
// Takes the next robot; with a non-null `bike_part` the last unused robot
// whose bike name contains it is swapped to the front first. When every
// robot has been taken the order starts over. Returns the roster index.
int robot_order_take(RobotOrder *order, const char *bike_part);
