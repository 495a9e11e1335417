// The command line: values in both forms, clamps, bad values, file arguments.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/options.h"

namespace {

struct Parsed {
  ProgramSettings settings;
  int status;
  std::string err;
};

Parsed parse(std::vector<const char *> args) {
  args.insert(args.begin(), "torvane");
  Parsed p;
  char *buffer = nullptr;
  size_t size = 0;
  FILE *err = open_memstream(&buffer, &size);
  p.status = parse_command_line(static_cast<int>(args.size()), const_cast<char **>(args.data()), &p.settings, err);
  fclose(err);
  p.err = buffer ? buffer : "";
  free(buffer);
  return p;
}

}  // namespace

TEST(Options, ValuesAsNextArgumentOrAfterEquals) {
  Parsed p = parse({"--track", "valley", "--lock-fps=30", "--width", "640", "--height=480", "--nosound"});
  EXPECT_EQ(p.status, -1);
  EXPECT_STREQ(p.settings.track, "valley");
  EXPECT_FLOAT_EQ(p.settings.lock_fps, 30.0f);
  EXPECT_EQ(p.settings.width, 640);
  EXPECT_EQ(p.settings.height, 480);
  EXPECT_EQ(p.settings.nosound, 1);
  // A flag must match exactly.
  EXPECT_EQ(parse({"--nosound=yes"}).status, 1);
  EXPECT_EQ(parse({"--nosoundx"}).err, "bad option '--nosoundx'\n");
}

TEST(Options, ClampsAndConversions) {
  Parsed p = parse({"--texture-detail", "7", "--roostfrequency", "5000", "--erode", "0.5", "--fake-lag", "2500",
                    "--fake-loss", "-3", "--lod-scale", "0"});
  ASSERT_EQ(p.status, -1);
  EXPECT_EQ(p.settings.texture_detail, 4);
  EXPECT_EQ(p.settings.ground_texture_detail, 4);
  EXPECT_EQ(p.settings.roost_frequency, 1000);
  EXPECT_EQ(p.settings.erode_rate, 512);
  EXPECT_FLOAT_EQ(p.settings.fake_lag, 1.0f);
  EXPECT_EQ(p.settings.fake_loss, 0);
  EXPECT_FLOAT_EQ(p.settings.lod_scale, 0.000001f);
  EXPECT_EQ(parse({"--erode", "1000"}).settings.erode_rate, 102400);
  EXPECT_EQ(parse({"--ground-texture-detail", "2"}).settings.texture_detail, -1);
  // Unchecked and atoi options keep going on garbage.
  Parsed q = parse({"--rotate-lineup", "x", "--depth", "abc", "--draw-fps", "1"});
  EXPECT_EQ(q.status, -1);
  EXPECT_EQ(q.settings.rotate_lineup, 0);
  EXPECT_EQ(q.settings.colour_depth, 0);
  EXPECT_EQ(q.settings.draw_fps, 1);
}

TEST(Options, BadArgumentsEndTheProgram) {
  const char *checked[] = {"--texture-detail", "--ground-texture-detail", "--roostfrequency", "--erode", "--detail",
                           "--max-detail-distance", "--lod-scale", "--lod-bias", "--lock-fps", "--fake-lag",
                           "--fake-loss", "--chase-center"};
  for (const char *option : checked) {
    Parsed p = parse({option, "zz"});
    EXPECT_EQ(p.status, 1) << option;
    EXPECT_EQ(p.err, std::string("Bad arg for ") + option + "\n");
    // A missing value counts as a failed conversion.
    EXPECT_EQ(parse({option}).status, 1) << option;
  }
  EXPECT_EQ(parse({"--chase-center", "1,2"}).err, "Bad arg for --chase-center\n");
  Parsed c = parse({"--chase-center", "1,2,3"});
  EXPECT_EQ(c.status, -1);
  EXPECT_FLOAT_EQ(c.settings.chase_center[2], 3.0f);
  // Options without a "Bad arg" message ignore a missing value.
  EXPECT_EQ(parse({"--track"}).status, -1);
  EXPECT_EQ(parse({"--track"}).settings.track, nullptr);
}

TEST(Options, FileArgumentsAndDoubleDash) {
  Parsed p = parse({"--", "-weird.qxdemo"});
  EXPECT_EQ(p.status, -1);
  EXPECT_STREQ(p.settings.demo_file, "-weird.qxdemo");
  Parsed q = parse({"--nosound", "--"});
  EXPECT_EQ(q.status, -1);
  EXPECT_EQ(q.settings.demo_file, nullptr);
  Parsed r = parse({"a.qxdemo", "b.qxdemo"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Too many files!\n");
  EXPECT_EQ(parse({"-x"}).err, "bad option '-x'\n");
  // After "--" an option-looking word is a file, not an option.
  EXPECT_EQ(parse({"--", "--nosound"}).settings.nosound, 0);
}

TEST(Options, ConnectAndServerHistory) {
  Parsed p = parse({"--connect", "torvane:race.example:19800", "--password=pw", "--bikes", "3"});
  ASSERT_EQ(p.status, -1);
  EXPECT_STREQ(p.settings.connect, "race.example:19800");
  EXPECT_STREQ(p.settings.password, "pw");
  EXPECT_EQ(p.err, "--bikes doesn't do anything anymore\n");
}
