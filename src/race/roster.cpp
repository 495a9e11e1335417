#include "race/roster.h"

#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "app/random.h"

namespace {

const RobotEntry roster[robot_count] = {
    {20, "ardo", "kx125", "11--"},   {21, "ardo", "kx125", "22--"},   {22, "ardo", "kx125", "33--"},
    {23, "ardo", "kx125", "1-11"},   {24, "ardo", "kx125", "1---"},   {25, "ardo", "yz125", "21--"},
    {26, "ardo", "yz125", "32--"},   {27, "ardo", "yz125", "1211"},   {28, "ardo", "yz125", "13--"},
    {29, "ardo", "yz125", "21--"},   {30, "ardo", "cr125", "3---"},   {31, "ardo", "cr125", "1111"},
    {32, "ardo", "cr125", "12--"},   {33, "ardo", "cr125", "23--"},   {34, "ardo", "cr125", "31--"},
    {35, "ardo", "rm125", "1-11"},   {36, "ardo", "rm125", "11--"},   {37, "ardo", "rm125", "22--"},
    {38, "ardo", "rm125", "33--"},   {39, "ardo", "rm125", "-1--"},   {40, "belmo", "crf250", "11--"},
    {41, "belmo", "crf250", "22--"}, {42, "belmo", "crf250", "33--"}, {43, "belmo", "crf250", "----"},
    {44, "belmo", "crf250", "12--"}, {45, "belmo", "kx250f", "23--"}, {46, "belmo", "kx250f", "31--"},
    {47, "belmo", "kx250f", "-1--"}, {48, "belmo", "kx250f", "13--"}, {49, "belmo", "kx250f", "21--"},
    {50, "belmo", "rmz250", "32--"}, {51, "belmo", "rmz250", "----"}, {52, "belmo", "rmz250", "11--"},
    {53, "belmo", "rmz250", "22--"}, {54, "belmo", "yz250f", "33--"}, {55, "belmo", "yz250f", "-1--"},
    {56, "belmo", "yz250f", "12--"}, {57, "belmo", "yz250f", "23--"}, {58, "belmo", "yz250f", "31--"},
    {59, "belmo", "yz250f_se(2006)", "----"}, {60, "ardo", "crf250", "13--"}, {61, "ardo", "crf250", "21--"},
    {62, "ardo", "crf250", "32--"},  {63, "ardo", "crf250", "-1--"},  {64, "ardo", "crf250", "11--"},
    {65, "ardo", "kx250f", "22--"},  {66, "ardo", "kx250f", "33--"},  {67, "ardo", "kx250f", "----"},
    {68, "ardo", "kx250f", "12--"},  {69, "ardo", "kx250f", "23--"},  {70, "ardo", "rmz250", "31--"},
    {71, "ardo", "rmz250", "-1--"},  {72, "ardo", "rmz250", "13--"},  {73, "ardo", "rmz250", "21--"},
    {74, "ardo", "rmz250", "32--"},  {75, "ardo", "yz250f", "----"},  {76, "ardo", "yz250f", "11--"},
    {77, "ardo", "yz250f", "22--"},  {78, "ardo", "yz250f", "33--"},  {79, "ardo", "yz250f_se(2006)", "----"},
    {80, "cudry", "crf250", "1111"}, {81, "cudry", "crf250", "2222"}, {82, "cudry", "crf250", "1111"},
    {83, "cudry", "crf250", "2222"}, {84, "cudry", "crf250", "1111"}, {85, "cudry", "kx250f", "1111"},
    {86, "cudry", "kx250f", "2222"}, {87, "cudry", "kx250f", "1111"}, {88, "cudry", "kx250f", "2222"},
    {89, "cudry", "kx250f", "1111"}, {90, "cudry", "yz250f", "1111"}, {91, "cudry", "yz250f", "2222"},
    {92, "cudry", "yz250f", "1111"}, {93, "cudry", "yz250f", "2222"}, {94, "cudry", "yz250f", "1111"},
    {95, "cudry", "rmz250", "1111"}, {96, "cudry", "rmz250", "2222"}, {97, "cudry", "rmz250", "1111"},
    {98, "cudry", "rmz250", "2222"}, {99, "cudry", "rmz250", "1111"},
};
static_assert(sizeof roster / sizeof roster[0] == robot_count);

const char *variant_name(const char *format, const char *prefix, char digit) {
  if (digit < '1' || digit > '9') return nullptr;
  char name[128];
  if (prefix) {
    snprintf(name, sizeof name, format, prefix, digit);
  } else {
    snprintf(name, sizeof name, format, digit);
  }
  return intern_string(name);
}

}  // namespace

const RobotEntry *robot_entry(int index) { return index >= 0 && index < robot_count ? &roster[index] : nullptr; }

int robot_by_number(int number) {
  for (int i = 0; i < robot_count; i++)
    if (roster[i].number == number) return i;
  return -1;
}

void robot_textures(const RobotEntry *entry, const char *textures[4]) {
  textures[0] = variant_name("@rider_body-alt%c.png", nullptr, entry->variants[0]);
  textures[1] = variant_name("@rider_head-alt%c.png", nullptr, entry->variants[1]);
  textures[2] = variant_name("@%s-alt%c.png", entry->bike, entry->variants[2]);
  textures[3] = variant_name("@wheels-alt%c.png", nullptr, entry->variants[3]);
}

void robot_order_shuffle(RobotOrder *order) {
  for (int k = 0; k < robot_count; k++) order->order[k] = k;
  for (int k = robot_count - 1; k >= 1; k--) {
    uint32_t r = random_u32();
    int j = static_cast<int>((r / 65536) % static_cast<uint32_t>(k));
    int t = order->order[k];
    order->order[k] = order->order[j];
    order->order[j] = t;
  }
  order->next = 0;
}

int robot_order_take(RobotOrder *order, const char *bike_part) {
  // Once the roster is used up it starts over, so a large grid still gets a
  // robot for every robot gate.
  if (order->next >= robot_count) order->next = 0;
  if (bike_part) {
    for (int k = robot_count - 1; k >= order->next; k--) {
      if (strstr(roster[order->order[k]].bike, bike_part)) {
        int t = order->order[k];
        order->order[k] = order->order[order->next];
        order->order[order->next] = t;
        break;
      }
    }
  }
  return order->order[order->next++];
}
