// The bike catalogue: records, name resolution, gearing, torque and linkage.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include "bike/catalogue.h"
#include "platform/log.h"

namespace {

float omega_at_rpm(double rpm) { return static_cast<float>(rpm / rads_to_rpm); }

bool is_six_speed(const std::string &name) {
  static const std::set<std::string> six = {"kx125",  "rm125",  "yz125",  "125sx",  "250sxf(2009)",
                                            "250sxf(2013)", "rs50cr", "rs50kx", "rs50rm", "rs50yz"};
  return six.count(name) > 0;
}

int index_of(const char *name) {
  for (int i = 0; i < bike_info_count; i++)
    if (strcmp(bike_info_name(i), name) == 0) return i;
  return -1;
}

}  // namespace

TEST(Catalogue, RecordsInTableOrderWithTheirClasses) {
  EXPECT_STREQ(bike_info_name(0), "cr125");
  EXPECT_STREQ(bike_info_name(8), "cr250(2007)");
  EXPECT_STREQ(bike_info_name(15), "kx250f(2007)");
  EXPECT_STREQ(bike_info_name(44), "yz250f_se(2006)");
  EXPECT_STREQ(bike_info_name(79), "rs50yz");
  std::set<std::string> names;
  for (int i = 0; i < bike_info_count; i++) {
    names.insert(bike_info_name(i));
    std::string c = bike_info_class(i);
    EXPECT_TRUE(c == "125" || c == "250" || c == "250f" || c == "450f" || c == "50") << i;
  }
  EXPECT_EQ(names.size(), 80u);
  EXPECT_STREQ(bike_info_class(index_of("350sxf(2011)")), "450f");
  EXPECT_STREQ(bike_info_class(index_of("350sxf(2013)")), "250f");
}

TEST(Catalogue, ChassisGroupValuesFollowTheGroupNotTheClassString) {
  const BikeInfo *sxf350 = bike_info_lookup("350sxf(2017)");  // class "250f", 450 chassis
  ASSERT_NE(sxf350, nullptr);
  EXPECT_FLOAT_EQ(sxf350->bike_mass, 4.735f);
  EXPECT_FLOAT_EQ(sxf350->fork_rebound, 32);
  EXPECT_FLOAT_EQ(sxf350->engine_inertia, 0.0068359375f);
  EXPECT_FLOAT_EQ(sxf350->upshift_rpm, 10500);
  EXPECT_FLOAT_EQ(sxf350->top_rpm, 12000);
  const BikeInfo *crf = bike_info_lookup("crf250(2018)");
  EXPECT_FLOAT_EQ(crf->bike_mass, 4.24f);
  EXPECT_FLOAT_EQ(crf->shock_spring_max, 4905.3735f);
  EXPECT_FLOAT_EQ(crf->top_rpm, 13250);
  const BikeInfo *kx450 = bike_info_lookup("kx450f(2016)");
  EXPECT_FLOAT_EQ(kx450->engine_inertia, 0.00885009765625f);
  EXPECT_FLOAT_EQ(kx450->rider_mass, 5.46875f);
  const BikeInfo *rs50 = bike_info_lookup("rs50rm");
  EXPECT_FLOAT_EQ(rs50->driveline_stiffness, 1200);
  EXPECT_FLOAT_EQ(rs50->driveline_damping, 1.0f);
  EXPECT_FLOAT_EQ(rs50->top_rpm, 13750);
  EXPECT_STREQ(rs50->frame_model, bike_info_lookup("rm125")->frame_model);
  EXPECT_STREQ(rs50->bike_texture, bike_info_lookup("rm125")->bike_texture);
  EXPECT_FLOAT_EQ(bike_info_lookup("cr250(2007)")->downshift_rpm, 6000);
}

TEST(Catalogue, SharedValuesAndShapeNamesInEveryRecord) {
  for (int i = 0; i < bike_info_count; i++) {
    const BikeInfo *b = bike_info(i);
    EXPECT_FLOAT_EQ(b->front_axle[2], 1.11f);
    EXPECT_FLOAT_EQ(b->rear_axle[2], 6.0f);
    EXPECT_FLOAT_EQ(b->swingarm_travel, 0.53030413f);
    EXPECT_FLOAT_EQ(b->rider_position[1], 4.5f);
    EXPECT_FLOAT_EQ(b->pose.shin, 1.701f);
    EXPECT_FLOAT_EQ(b->pose.grips[0][0], -b->pose.grips[1][0]);
    EXPECT_STREQ(b->frame_shape, "@generic_frame.shp");
    EXPECT_STREQ(b->rider_shape, "@generic_rider.shp");
    EXPECT_STREQ(b->rear_wheel_shape, "@rear_wheel.shp");
    EXPECT_EQ(b->gear_ratios[5] > 0, is_six_speed(b->name)) << b->name;
    for (int g = 0; g < 5; g++) EXPECT_GT(b->gear_ratios[g], 0) << b->name;
    for (int g = 1; g < 5; g++) EXPECT_LT(b->gear_ratios[g], b->gear_ratios[g - 1]) << b->name;
  }
}

TEST(Catalogue, ListedGearingAndTorqueRowsAreExact) {
  const BikeInfo *cr = bike_info_lookup("cr125");
  EXPECT_FLOAT_EQ(cr->primary_ratio, 3.15f);
  EXPECT_FLOAT_EQ(cr->rear_sprocket, 52);
  EXPECT_FLOAT_EQ(cr->gear_ratios[0], 2.357143f);
  EXPECT_FLOAT_EQ(cr->gear_ratios[5], -1);
  EXPECT_FLOAT_EQ(cr->full_torque[20], 15.9664f);
  EXPECT_FLOAT_EQ(cr->full_torque[25], 2.1008f);
  EXPECT_FLOAT_EQ(cr->full_torque[28], -1);
  EXPECT_FLOAT_EQ(cr->full_torque[49], -11);
  EXPECT_FLOAT_EQ(cr->closed_torque[14], -3.33f);
  EXPECT_FLOAT_EQ(cr->closed_torque[26], -12);
  EXPECT_FLOAT_EQ(cr->closed_torque[49], -23);
  const BikeInfo *rs = bike_info_lookup("rs50cr");
  EXPECT_FLOAT_EQ(rs->primary_ratio, 3.7142856f);
  EXPECT_FLOAT_EQ(rs->front_sprocket, 12);
  EXPECT_FLOAT_EQ(rs->gear_ratios[5], 0.956522f);
  EXPECT_FLOAT_EQ(bike_info_lookup("crf450(2018)")->primary_ratio, 2.3214285f);
  EXPECT_FLOAT_EQ(bike_info_lookup("cr250(2007)")->gear_ratios[4], 0.869565f);
  EXPECT_FLOAT_EQ(bike_info_lookup("crf250(2018)")->gear_ratios[3], 1.227273f);
}

// The supplied curves must behave like engines: peaks in their group's range,
// no drive much past the upshift point, and the character of the engine type.
TEST(Catalogue, TorqueCurvesArePlausibleForEachGroup) {
  for (int i = 0; i < bike_info_count; i++) {
    const BikeInfo *b = bike_info(i);
    std::string name = b->name, cls = b->bike_class;
    float peak = 0;
    int peak_at = 0;
    for (int k = 0; k < torque_curve_points; k++)
      if (b->full_torque[k] > peak) peak = b->full_torque[k], peak_at = k;
    float lo = 0, hi = 0;
    if (name.rfind("350sxf", 0) == 0) lo = 27.1f, hi = 28.5f;
    else if (cls == "125") lo = 15.9f, hi = 17.4f;
    else if (cls == "250") lo = 29.9f, hi = 32.8f;
    else if (cls == "250f") lo = 18.3f, hi = 20.8f;
    else if (cls == "450f") lo = 29.7f, hi = 36.2f;
    else lo = hi = 4.31f;
    EXPECT_GE(peak, lo - 0.01f) << name;
    EXPECT_LE(peak, hi + 0.01f) << name;
    EXPECT_LT(peak_at * 500.0f, b->upshift_rpm) << name;
    // Drive ends within 1500 rpm of the upshift point and never comes back.
    int first_dead = static_cast<int>((b->upshift_rpm + 1500) / 500);
    for (int k = first_dead; k < torque_curve_points; k++) EXPECT_LE(b->full_torque[k], 0) << name << " " << k;
    // Throttle always adds torque; a closed throttle brakes at speed.
    for (int k = 0; k < torque_curve_points; k++) EXPECT_GE(b->full_torque[k], b->closed_torque[k]) << name;
    EXPECT_LT(b->closed_torque[20], 0) << name;
  }
  // Low-down torque: the 450 four-stroke pulls far harder at 3000 rpm, and
  // keeps more of its peak there than the peaky 125 two-stroke.
  const BikeInfo *two = bike_info_lookup("yz125"), *four = bike_info_lookup("yz450f(2013)");
  float t2 = bike_torque_lookup(two, omega_at_rpm(3000), 1), t4 = bike_torque_lookup(four, omega_at_rpm(3000), 1);
  EXPECT_GT(t4, 2.5f * t2);
  EXPECT_GT(t4 / 34.0f, t2 / 17.2f + 0.2f);
}

TEST(Catalogue, ModelsOfOneGroupAreDistinct) {
  for (int i = 0; i < bike_info_count; i++)
    for (int j = i + 1; j < bike_info_count; j++) {
      const BikeInfo *a = bike_info(i), *b = bike_info(j);
      bool same = memcmp(a->full_torque, b->full_torque, sizeof a->full_torque) == 0 &&
                  memcmp(a->gear_ratios, b->gear_ratios, sizeof a->gear_ratios) == 0 &&
                  a->primary_ratio == b->primary_ratio && a->rear_sprocket == b->rear_sprocket;
      EXPECT_FALSE(same) << a->name << " " << b->name;
    }
}

TEST(Catalogue, LookupIsExact) {
  EXPECT_EQ(bike_info_lookup("crf250(2018)"), bike_info(index_of("crf250(2018)")));
  EXPECT_EQ(bike_info_lookup("CR125"), nullptr);
  EXPECT_EQ(bike_info_lookup("crf250"), nullptr);
  EXPECT_EQ(bike_info_lookup(""), nullptr);
  EXPECT_EQ(bike_info_lookup(nullptr), nullptr);
}

TEST(Catalogue, ResolveFallsBackWithAMessage) {
  message_clear();
  EXPECT_EQ(bike_info_resolve("crf250(2018)"), index_of("crf250(2018)"));
  EXPECT_EQ(message_visible_count(), 0);

  EXPECT_EQ(bike_info_resolve("cr85"), index_of("kx250f(2007)"));
  EXPECT_EQ(message_visible_count(), 1);
  EXPECT_STREQ(message_line(0), "bike info for 'cr85' not found using 'kx250f(2007)' instead");

  EXPECT_EQ(bike_info_resolve("yz125x"), 0);
  EXPECT_STREQ(message_line(0), "bike info for 'yz125x' not found using 'cr125' instead");

  // Names are cut to 20 characters in the message.
  EXPECT_EQ(bike_info_resolve("a-very-long-model-name-indeed"), index_of("kx250f(2007)"));
  EXPECT_STREQ(message_line(0), "bike info for 'a-very-long-model-na' not found using 'kx250f(2007)' instead");
  EXPECT_EQ(bike_info_resolve(nullptr), index_of("kx250f(2007)"));
  message_clear();
}

TEST(Catalogue, GearSelectionStepsDownPastAbsentGears) {
  const BikeInfo *five = bike_info_lookup("cr125"), *six = bike_info_lookup("kx125");
  EXPECT_EQ(bike_select_gear(five, 5), 4);
  EXPECT_EQ(bike_select_gear(five, 99), 4);
  EXPECT_EQ(bike_select_gear(five, 3), 3);
  EXPECT_EQ(bike_select_gear(five, -4), 0);
  EXPECT_EQ(bike_select_gear(six, 5), 5);
  BikeInfo odd = *six;  // gaps in the middle are skipped downward too
  odd.gear_ratios[4] = 0;
  odd.gear_ratios[5] = -1;
  EXPECT_EQ(bike_select_gear(&odd, 5), 3);
}

TEST(Catalogue, FinalDriveClampsAdjustmentsAndTeeth) {
  const BikeInfo *cr = bike_info_lookup("cr125");  // 13 / 52
  EXPECT_FLOAT_EQ(bike_final_drive(cr, 0, 0), 4.0f);
  EXPECT_FLOAT_EQ(bike_final_drive(cr, 2.4f, -2.4f), 50.0f / 15.0f);
  EXPECT_FLOAT_EQ(bike_final_drive(cr, -2.4f, 2.4f), 54.0f / 11.0f);
  EXPECT_FLOAT_EQ(bike_final_drive(cr, 0.6f, 0), 52.0f / 13.0f);  // whole teeth only
  BikeInfo tiny = *cr;
  tiny.front_sprocket = 4;
  tiny.rear_sprocket = 4;
  EXPECT_FLOAT_EQ(bike_final_drive(&tiny, -2, -2), 1.0f);  // both held at 3 teeth
  EXPECT_FLOAT_EQ(bike_final_drive(&tiny, -2, 1), 5.0f / 3.0f);
}

TEST(Catalogue, TorqueLookupInterpolatesAndHoldsTheLastEntry) {
  const BikeInfo *cr = bike_info_lookup("cr125");
  EXPECT_FLOAT_EQ(bike_torque_lookup(cr, 0, 1), 5);
  EXPECT_FLOAT_EQ(bike_torque_lookup(cr, 0, 0), 2);
  EXPECT_NEAR(bike_torque_lookup(cr, omega_at_rpm(10000), 1), 15.9664f, 1e-4);
  EXPECT_NEAR(bike_torque_lookup(cr, omega_at_rpm(10250), 1), (15.9664f + 15.9064f) / 2, 1e-3);
  EXPECT_NEAR(bike_torque_lookup(cr, omega_at_rpm(10000), 0.5f), (15.9664f - 8) / 2, 1e-3);
  EXPECT_NEAR(bike_torque_lookup(cr, omega_at_rpm(24500), 1), -11, 1e-4);
  EXPECT_NEAR(bike_torque_lookup(cr, omega_at_rpm(24500), 0), -23, 1e-4);
  EXPECT_FLOAT_EQ(bike_torque_lookup(cr, omega_at_rpm(40000), 1), -11);
  EXPECT_FLOAT_EQ(bike_torque_lookup(cr, omega_at_rpm(40000), 0), -23);
  EXPECT_FLOAT_EQ(bike_torque_lookup(cr, -50, 1), 5);  // backward spin reads the idle entry
  EXPECT_FLOAT_EQ(bike_torque_lookup(cr, NAN, 1), 5);
}

TEST(Catalogue, LinkageCurveIsContinuousAtTheBreak) {
  const BikeInfo *b = bike_info(0);
  const float brk = b->linkage_break;
  EXPECT_FLOAT_EQ(bike_linkage(b, 0).compression, 0);
  EXPECT_FLOAT_EQ(bike_linkage(b, 0).slope, b->linkage_slope_start);
  EXPECT_FLOAT_EQ(bike_linkage(b, brk).compression, b->linkage_break_value);
  EXPECT_FLOAT_EQ(bike_linkage(b, brk).slope, b->linkage_slope_break);
  EXPECT_FLOAT_EQ(bike_linkage(b, 1).compression, b->linkage_full_value);
  EXPECT_FLOAT_EQ(bike_linkage(b, 1).slope, b->linkage_slope_full);
  LinkagePoint left = bike_linkage(b, brk - 1e-4f), right = bike_linkage(b, brk + 1e-4f);
  EXPECT_NEAR(left.compression, right.compression, 1e-4);
  EXPECT_NEAR(left.slope, right.slope, 1e-3);
  // The slope is the derivative of the compression along the whole travel.
  for (float x = 0.01f; x < 0.99f; x += 0.02f) {
    float h = 1e-3f;
    float numeric = (bike_linkage(b, x + h).compression - bike_linkage(b, x - h).compression) / (2 * h);
    EXPECT_NEAR(bike_linkage(b, x).slope, numeric, 2e-3) << x;
  }
  // Rising rate, clamped outside the travel.
  EXPECT_GT(bike_linkage(b, 0.9f).slope, bike_linkage(b, 0.1f).slope);
  EXPECT_FLOAT_EQ(bike_linkage(b, 1.5f).compression, b->linkage_full_value);
  EXPECT_FLOAT_EQ(bike_linkage(b, -0.5f).compression, 0);
}
