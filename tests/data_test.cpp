// The default data set as the game reads it: the archive's layout and size,
// byte-identical rebuilds, every shipped track listed and loaded, robot lines
// that fit the track's gates and ride through all of them, collision shapes,
// the points series, the models and skins the catalogue and the tracks
// name, and every picture the tracks and the HUD ask for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <png.h>

#include "app/alloc.h"
#include "app/config.h"
#include "assets/file.h"
#include "assets/image.h"
#include "assets/model.h"
#include "bike/assembly.h"
#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/shape.h"
#include "hm_model.h"
#include "platform/log.h"
#include "race/race.h"
#include "script/frills.h"
#include "test_util.h"
#include "track/gates.h"
#include "track/objects.h"
#include "track/terrain.h"
#include "track/tiles.h"
#include "track/track.h"

namespace {

struct Member {
  std::string name;
  std::string data;
};

// Parses an archive: "<size> <name>\n" lines up to "-\n", then the data back
// to back. Fails the test on any layout fault.
std::vector<Member> read_archive(const std::string &path) {
  std::string bytes = read_text_file(path);
  std::vector<Member> members;
  std::vector<size_t> sizes;
  size_t at = 0;
  for (;;) {
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) {
      ADD_FAILURE() << "header without its end in " << path;
      return {};
    }
    std::string line = bytes.substr(at, end - at);
    at = end + 1;
    if (line == "-") break;
    char *rest = nullptr;
    long size = strtol(line.c_str(), &rest, 10);
    if (rest == line.c_str() || *rest != ' ' || size < 0 || line.size() > 1023) {
      ADD_FAILURE() << "bad header line '" << line << "'";
      return {};
    }
    members.push_back({rest + 1, {}});
    sizes.push_back(static_cast<size_t>(size));
  }
  for (size_t i = 0; i < members.size(); i++) {
    if (at + sizes[i] > bytes.size()) {
      ADD_FAILURE() << members[i].name << " runs past the end";
      return {};
    }
    members[i].data = bytes.substr(at, sizes[i]);
    at += sizes[i];
  }
  EXPECT_EQ(at, bytes.size()) << "trailing bytes after the last member";
  return members;
}

// Scratch directories hold whole copies of the data set: removed at exit.
std::vector<std::string> scratch_dirs;

void remove_scratch_dirs() {
  std::error_code ignored;
  for (const std::string &dir : scratch_dirs) std::filesystem::remove_all(dir, ignored);
}

std::string scratch_dir(const char *tag) {
  if (scratch_dirs.empty()) atexit(remove_scratch_dirs);
  scratch_dirs.push_back(make_temp_dir(tag));
  return scratch_dirs.back();
}

std::string builder() { return std::string(TORVANE_BIN_DIR) + "/torvane-databuild"; }

int run_builder(const std::string &out) {
  std::string command = "'" + builder() + "' --out '" + out + "' > /dev/null";
  return system(command.c_str());
}

// The archive built with the program, unpacked once into a scratch directory.
struct DataSet {
  std::vector<Member> members;
  std::map<std::string, const Member *> by_name;
  std::vector<std::string> tracks;
  std::string dir;
};

const DataSet &data_set() {
  static DataSet set;
  if (!set.dir.empty()) return set;
  set.dir = scratch_dir("data");
  set.members = read_archive(std::string(TORVANE_BIN_DIR) + "/torvane.saf");
  for (const Member &m : set.members) {
    set.by_name[m.name] = &m;
    std::filesystem::path path = set.dir + "/" + m.name;
    std::filesystem::create_directories(path.parent_path());
    FILE *f = fopen(path.c_str(), "wb");
    if (!f || fwrite(m.data.data(), 1, m.data.size(), f) != m.data.size()) ADD_FAILURE() << "can't unpack " << m.name;
    if (f) fclose(f);
    size_t slash = m.name.rfind('/');
    if (slash == std::string::npos) continue;
    std::string file = m.name.substr(slash);
    if (file == "/terrain.hf" || file == "/terrain.hf.gz") set.tracks.push_back(m.name.substr(0, slash));
  }
  return set;
}

// A data file as the game reads it: a compressed member comes out plain.
std::string data_file(const std::string &name) {
  DataFile *file = dfile_open((data_set().dir + "/" + name).c_str(), "rb");
  std::string text;
  if (!file) return text;
  char buffer[65536];
  int got;
  while ((got = dfile_read(file, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  dfile_close(file);
  return text;
}

bool has_file(const std::string &name) {
  return data_set().by_name.count(name) || data_set().by_name.count(name + ".gz");
}

void load(const std::string &track) {
  const DataSet &set = data_set();
  track_set_root((set.dir + "/").c_str());
  std::vector<const char *> names;
  for (const Member &m : set.members) names.push_back(m.name.c_str());
  names.push_back(nullptr);
  scan_tracks_from(names.data());
  ASSERT_EQ(load_track(track.c_str()), 1) << track;
}

struct LinePoint {
  float x, y, z, speed, lean;
};
struct Line {
  std::vector<LinePoint> points;
  int time1, time2;
};

// A lines file: "ct03 <slots>", then per slot its lines.
std::vector<std::vector<Line>> read_lines(const std::string &text) {
  std::vector<std::vector<Line>> slots;
  const char *p = text.c_str();
  int count = 0, used = 0;
  if (sscanf(p, "ct03 %d %n", &count, &used) != 1) return slots;
  p += used;
  for (int s = 0; s < count; s++) {
    int lines = 0;
    if (sscanf(p, " %d %n", &lines, &used) != 1) return {};
    p += used;
    std::vector<Line> slot;
    for (int l = 0; l < lines; l++) {
      int n, t1, t2, tested, b1, b2, s1, s2, failed;
      if (sscanf(p, " %d %d %d %d %d %d %d %d %d %n", &n, &t1, &t2, &tested, &b1, &b2, &s1, &s2, &failed, &used) != 9)
        return {};
      p += used;
      Line line{{}, t1, t2};
      for (int k = 0; k < n; k++) {
        LinePoint q;
        if (sscanf(p, " [ %f %f %f ] %f %f %n", &q.x, &q.y, &q.z, &q.speed, &q.lean, &used) != 5) return {};
        p += used;
        line.points.push_back(q);
      }
      slot.push_back(line);
    }
    slots.push_back(slot);
  }
  return slots;
}

const char *const line_files[] = {"lines_novice", "lines_amateur", "lines_expert"};

// The centre of the circle through three points on the ground (a point far
// out to the side when they are nearly in line), as the robots join lines.
void reference_point(const LinePoint &a, const LinePoint &b, const LinePoint &c, float *x, float *z) {
  float det = (b.z - a.z) * (c.x - b.x) / 2.0f + (c.z - b.z) * (a.x - b.x) / 2.0f;
  if (std::fabs(det) < 1e-6f) {
    *x = (a.x + b.x) / 2.0f + 1e6f * (b.z - a.z);
    *z = (a.z + b.z) / 2.0f + 1e6f * (a.x - b.x);
    return;
  }
  double ax = a.x, az = a.z, bx = b.x, bz = b.z, cx = c.x, cz = c.z;
  double d = 2.0 * (ax * (bz - cz) + bx * (cz - az) + cx * (az - bz));
  double a2 = ax * ax + az * az, b2 = bx * bx + bz * bz, c2 = cx * cx + cz * cz;
  *x = static_cast<float>((a2 * (bz - cz) + b2 * (cz - az) + c2 * (az - bz)) / d);
  *z = static_cast<float>((a2 * (cx - bx) + b2 * (ax - cx) + c2 * (bx - ax)) / d);
}

// Whether a robot may follow line a with line b in the next slot.
bool lines_connect(const Line &a, const Line &b) {
  size_t n = a.points.size();
  if (n < 3 || b.points.size() < 2) return false;
  const LinePoint &last = a.points[n - 1], &first = b.points[0], &second = b.points[1];
  if (std::fabs(last.speed) > std::fabs(first.speed) + 15.0f) return false;
  float rx, rz;
  reference_point(a.points[n - 3], a.points[n - 2], last, &rx, &rz);
  double d = std::hypot(static_cast<double>(last.x) - rx, static_cast<double>(last.z) - rz);
  double e = std::hypot(static_cast<double>(first.x) - rx, static_cast<double>(first.z) - rz);
  double f = std::hypot(static_cast<double>(second.x) - rx, static_cast<double>(second.z) - rz);
  return std::fabs(e - d) <= 2.5 && std::fabs(f - e) <= 2.0;
}

}  // namespace

TEST(DataSet, ArchiveHoldsEveryTrackFileAndStaysSmall) {
  const DataSet &set = data_set();
  ASSERT_FALSE(set.members.empty());
  std::string bytes = read_text_file(std::string(TORVANE_BIN_DIR) + "/torvane.saf");
  EXPECT_LT(bytes.size(), 64u << 20);
  EXPECT_EQ(set.by_name.size(), set.members.size()) << "a member name appears twice";
  ASSERT_GE(set.tracks.size(), 2u);
  EXPECT_TRUE(has_file("rabbithill/terrain.hf"));
  static const char *const files[] = {"desc",    "terrain.hf", "shadingx2.ppm", "shadows.pgm", "tileinfo", "tilemap",
                                      "timing_gates", "lighting", "billboards", "statues", "decals",
                                      "flaggers", "cameras", "lines_novice", "lines_amateur", "lines_expert"};
  for (const std::string &track : set.tracks)
    for (const char *file : files) EXPECT_TRUE(has_file(track + "/" + file)) << track << "/" << file;
  static const char *const shapes[] = {"generic_frame.shp", "generic_fork_upper.shp", "generic_fork_lower.shp",
                                       "generic_swingarm.shp", "generic_rider.shp", "front_wheel.shp",
                                       "rear_wheel.shp", "startgate.shp"};
  for (const char *shape : shapes) EXPECT_TRUE(has_file(shape)) << shape;
  // The shading must match the height field's vertex count.
  std::string ppm = data_file("rabbithill/shadingx2.ppm");
  EXPECT_EQ(ppm.compare(0, 17, "P6\n1025 1025\n255\n"), 0);
  EXPECT_EQ(ppm.size(), std::string("P6\n1025 1025\n255\n").size() + 1025u * 1025u * 3u);
}

TEST(DataSet, TwoBuildsAreByteIdentical) {
  std::string dir = scratch_dir("databuild");
  ASSERT_EQ(run_builder(dir + "/a.saf"), 0);
  ASSERT_EQ(run_builder(dir + "/b.saf"), 0);
  std::string a = read_text_file(dir + "/a.saf"), b = read_text_file(dir + "/b.saf");
  ASSERT_FALSE(a.empty());
  EXPECT_TRUE(a == b) << "two builds of the data set differ";
  EXPECT_TRUE(a == read_text_file(std::string(TORVANE_BIN_DIR) + "/torvane.saf"));
  // A bad option is refused and writes nothing.
  std::string command = "'" + builder() + "' --bogus 2> /dev/null";
  EXPECT_NE(system(command.c_str()), 0);
}

TEST(DataSet, ShippedTracksAreListedAndLoad) {
  const DataSet &set = data_set();
  track_set_root((set.dir + "/").c_str());
  std::vector<const char *> names;
  for (const Member &m : set.members) names.push_back(m.name.c_str());
  names.push_back(nullptr);
  ASSERT_EQ(scan_tracks_from(names.data()), static_cast<int>(set.tracks.size()));
  // Sorted by display name.
  EXPECT_STREQ(track_name(0), "Quarry Bend");
  EXPECT_STREQ(track_dir(0), "quarrybend");
  EXPECT_STREQ(track_name(1), "Rabbit Hill");
  EXPECT_STREQ(track_dir(1), "rabbithill");
  for (const std::string &track : set.tracks) {
    ASSERT_EQ(load_track(track.c_str()), 1) << track;
    uint8_t hash[20];
    memcpy(hash, track_hash(), 20);
    const Terrain *terrain = track_terrain();
    ASSERT_NE(terrain, nullptr);
    EXPECT_EQ(terrain->verts_per_side, 1025);
    EXPECT_EQ(terrain->tile_count, 64);  // five surfaces, three look-alike patches, 56 edges of the field
    const TimingGates *gates = timing_gates();
    EXPECT_EQ(gates->grid_count, 40);
    EXPECT_GT(gates->gate_count, 50);
    EXPECT_GE(gates->first_lap_unmarked, 3);
    EXPECT_GE(gates->normal_lap_unmarked, 3);
    // Every checkpoint stands on track surface that grips better than the field.
    const Tile *grass = &terrain->tiles[tile_at(terrain, 2.0f, 2.0f)];
    for (int i = 0; i < gates->checkpoint_count; i++) {
      const Checkpoint &c = gates->checkpoints[i];
      const Tile *tile = &terrain->tiles[tile_at(terrain, c.gate_centre[0], c.gate_centre[2])];
      EXPECT_GT(friction_at(tile, 1.0f), friction_at(grass, 1.0f) * 1.3f) << track << " gate " << i;
    }
    // Loading again gives the same hash.
    ASSERT_EQ(load_track(track.c_str()), 1);
    EXPECT_EQ(memcmp(hash, track_hash(), 20), 0);
  }
  free_track();
}

// A raised start gate (turned 0.5890486 rad about its x axis) stands as a
// bar at front-tyre height where the gate model stands, three feet ahead of
// the bike; a dropped one lies wholly under the ground.
TEST(DataSet, StartGatesStandRaisedAndLieUnderTheGroundDropped) {
  load("rabbithill");
  const TimingGates *gates = timing_gates();
  ASSERT_GT(gates->grid_count, 0);
  const float c = std::cos(0.5890486f), sn = std::sin(0.5890486f);
  for (int g = 0; g < gates->grid_count; g += 13) {
    const Statue *statue = track_statue(gates->grid[g].statue);
    ASSERT_NE(statue, nullptr);
    ASSERT_TRUE(statue->shape_path && strstr(statue->shape_path, "startgate.shp"));
    const CollisionShape *shape = load_shape((data_set().dir + "/startgate.shp").c_str());
    ASSERT_NE(shape, nullptr);
    float ground = terrain_height(track_terrain(), statue->x, statue->z);
    for (int i = 0; i < shape->sphere_count; i++) {
      const ShapeSphere &b = shape->spheres[i];
      EXPECT_LT(statue->y + b.centre[1] + b.radius, ground) << "gate " << g;
      float y = c * b.centre[1] - sn * b.centre[2], z = sn * b.centre[1] + c * b.centre[2];
      EXPECT_NEAR(statue->y + y - ground, 0.95f, 0.1f) << "gate " << g;
      EXPECT_LT(std::fabs(z), 0.5f) << "gate " << g;
    }
  }
  free_shapes();
  free_track();
}

// The gates are close enough that a rider who cuts a corner misses one: no
// straight chord between two checkpoints that saves a third of the way
// passes through every checkpoint in between.
TEST(DataSet, CuttingACornerMissesACheckpoint) {
  load("rabbithill");
  const TimingGates *gates = timing_gates();
  int n = gates->checkpoint_count, cuts = 0;
  for (int a = 0; a < n; a++)
    for (int b = a + 2; b < n && b <= a + 6; b++) {
      const Checkpoint &ga = gates->checkpoints[a], &gb = gates->checkpoints[b];
      float along = 0.0f;
      for (int k = a; k < b; k++)
        along += std::hypot(gates->checkpoints[k + 1].gate_centre[0] - gates->checkpoints[k].gate_centre[0],
                            gates->checkpoints[k + 1].gate_centre[2] - gates->checkpoints[k].gate_centre[2]);
      float chord = std::hypot(gb.gate_centre[0] - ga.gate_centre[0], gb.gate_centre[2] - ga.gate_centre[2]);
      if (chord > along * 0.67f) continue;
      cuts++;
      bool all_passed = true;
      for (int m = a + 1; m < b && all_passed; m++) {
        const Checkpoint &g = gates->checkpoints[m];
        bool through = false;
        for (int k = 0; k <= 200 && !through; k++) {
          float t = static_cast<float>(k) / 200.0f;
          float dx = ga.gate_centre[0] + (gb.gate_centre[0] - ga.gate_centre[0]) * t - g.gate_centre[0];
          float dz = ga.gate_centre[2] + (gb.gate_centre[2] - ga.gate_centre[2]) * t - g.gate_centre[2];
          through = dx * dx + dz * dz <= g.gate_radius * g.gate_radius &&
                    dx * g.gate_direction[0] + dz * g.gate_direction[2] >= 0.0f;
        }
        all_passed = through;
      }
      EXPECT_FALSE(all_passed) << "cutting from checkpoint " << a << " to " << b << " is not caught";
    }
  EXPECT_GT(cuts, 0) << "the track has no corner worth cutting";
  free_track();
}

// Each lines file has one slot per unmarked gate of both lap lists, a line
// from every start gate in the first slot, and the lines of one lane chained
// slot after slot pass every checkpoint of the first lap and a normal lap.
TEST(DataSet, RobotLinesFitTheGatesAndRideThroughThem) {
  for (const std::string &track : data_set().tracks) {
    load(track);
    const TimingGates *gates = timing_gates();
    for (const char *file : line_files) {
      SCOPED_TRACE(track + "/" + file);
      std::vector<std::vector<Line>> slots = read_lines(data_file(track + "/" + file));
      ASSERT_EQ(static_cast<int>(slots.size()), gates->first_lap_unmarked + gates->normal_lap_unmarked);
      EXPECT_EQ(slots[0].size(), 40u);
      for (const std::vector<Line> &slot : slots) {
        ASSERT_FALSE(slot.empty());
        EXPECT_LE(slot.size(), 43u);  // more would be thinned away at load
        for (const Line &line : slot) {
          // Riding, the frame stays a rider's height over the ground; flying
          // (negative speed), it never goes through it.
          for (const LinePoint &q : line.points) {
            float above = q.y - terrain_height(track_terrain(), q.x, q.z);
            if (q.speed >= 0.0f) EXPECT_NEAR(above, 1.85f, 0.3f);
            else EXPECT_GT(above, 0.5f);
          }
          EXPECT_GE(line.points.size(), 3u);
          EXPECT_GT(line.time1, 0);
          EXPECT_GT(line.time2, line.time1);
        }
      }
      // Every line can be followed by one of the next slot's lines; the
      // last slot of a lap leads into the first of a normal lap.
      int first_normal = gates->first_lap_unmarked;
      for (size_t s = 0; s < slots.size(); s++) {
        size_t next = s + 1 < slots.size() ? s + 1 : static_cast<size_t>(first_normal);
        for (size_t l = 0; l < slots[s].size(); l++) {
          bool joins = false;
          for (const Line &line : slots[next]) joins = joins || lines_connect(slots[s][l], line);
          EXPECT_TRUE(joins) << "line " << l << " of slot " << s << " leads nowhere";
        }
      }
      // Ride from the first start gate (the middle one), taking in each slot
      // the line that starts nearest the end of the last one; the front wheel
      // leads the frame by about two and a half feet.
      std::vector<LinePoint> ride = slots[0][0].points;
      for (size_t s = 1; s < slots.size(); s++) {
        const LinePoint &last = ride.back();
        const Line *best = nullptr;
        float best_d = 1e30f;
        for (const Line &line : slots[s]) {
          float d = std::hypot(line.points[0].x - last.x, line.points[0].z - last.z);
          if (d < best_d) {
            best_d = d;
            best = &line;
          }
        }
        EXPECT_LT(best_d, 22.0f);  // a quarter second's ride apart, at up to 88 ft/s
        ride.insert(ride.end(), best->points.begin(), best->points.end());
      }
      GateProgress progress{};
      int tic = 0;
      for (size_t k = 0; k + 1 < ride.size(); k++) {
        const LinePoint &a = ride[k], &b = ride[k + 1];
        float dx = b.x - a.x, dz = b.z - a.z, l = std::hypot(dx, dz);
        float fx = l > 0.01f ? dx / l : 0.0f, fz = l > 0.01f ? dz / l : 0.0f;
        for (int t = 0; t < 32; t++, tic++) {
          float u = static_cast<float>(t) / 32.0f;
          check_gates(&progress, a.x + dx * u + 2.5f * fx, a.z + dz * u + 2.5f * fz, tic, 1000, progress.next_gate);
        }
      }
      EXPECT_GE(lap_of(&progress), 1);
      int expected = gates->first_lap_count + gates->normal_lap_count - 1;
      EXPECT_GE(progress.next_gate, expected);
      for (int p = 0; p < progress.next_gate && p < progress.gate_tic_count; p++)
        EXPECT_GE(gate_tic(&progress, p), 0) << "checkpoint position " << p << " skipped";
      // A lap, from the first checkpoint round to the same one, takes 60 to
      // 90 seconds at race pace.
      if (strcmp(file, "lines_expert") == 0) {
        int first = gates->first_lap_count;
        ASSERT_EQ(gate_at_position(first), gate_at_position(0));
        float seconds = static_cast<float>(gate_tic(&progress, first) - gate_tic(&progress, 0)) / 128.0f;
        EXPECT_GT(seconds, 60.0f);
        EXPECT_LT(seconds, 90.0f);
      }
      gate_progress_free(&progress);
    }
  }
  free_track();
}

// Riders take the start gates from the first on, so any first few gates
// share the start out evenly across its width; the first-segment lines of
// gates that merge into one lane reach the end of the segment one after
// another, never side by side, so a full field funnels into the lanes in
// single file.
TEST(DataSet, StartFieldSpreadsAndFunnelsInTurn) {
  for (const std::string &track : data_set().tracks) {
    SCOPED_TRACE(track);
    load(track);
    const TimingGates *gates = timing_gates();
    ASSERT_EQ(gates->grid_count, 40);
    // Across the start: the right of a rider facing (-sin a, -cos a).
    float rx = std::cos(gates->grid[0].angle), rz = -std::sin(gates->grid[0].angle);
    std::vector<float> across;
    for (int g = 0; g < gates->grid_count; g++)
      across.push_back((gates->grid[g].x - gates->grid[0].x) * rx + (gates->grid[g].z - gates->grid[0].z) * rz);
    float lo = *std::min_element(across.begin(), across.end()), hi = *std::max_element(across.begin(), across.end());
    EXPECT_LT(std::fabs(across[0] - 0.5f * (lo + hi)), 3.5f);  // the first gate is in the middle
    // Five equal parts across the start, eight gates in each.
    float part = (hi - lo + 3.5f) / 5.0f;
    for (int k : {5, 10, 15, 20, 40}) {
      int in_part[5] = {};
      for (int g = 0; g < k; g++) in_part[std::clamp(static_cast<int>((across[static_cast<size_t>(g)] - lo + 1.75f) / part), 0, 4)]++;
      for (int n : in_part) EXPECT_EQ(n, k / 5) << "the first " << k << " gates";
    }
    for (const char *file : line_files) {
      SCOPED_TRACE(file);
      std::vector<std::vector<Line>> slots = read_lines(data_file(track + "/" + file));
      ASSERT_FALSE(slots.empty());
      std::vector<Line> &first = slots[0];
      int same_lane = 0;
      for (size_t a = 0; a < first.size(); a++)
        for (size_t b = a + 1; b < first.size(); b++) {
          const LinePoint &ea = first[a].points.back(), &eb = first[b].points.back();
          if (std::hypot(ea.x - eb.x, ea.z - eb.z) > 3.0f) continue;
          same_lane++;
          EXPECT_GE(std::abs(first[a].time1 - first[b].time1), 16) << "gates " << a << " and " << b;  // 1/8 s
        }
      EXPECT_GT(same_lane, 0);
    }
  }
  free_track();
}

// Jumps lie on straights: a robot leaves a lip upright and lands where the
// track runs on. Over every flight of every line, and a second either side,
// the line turns by less than 15 degrees in all.
TEST(DataSet, RobotLinesFlyOnlyOnStraights) {
  for (const std::string &track : data_set().tracks)
    for (const char *file : line_files) {
      SCOPED_TRACE(track + "/" + file);
      int flights = 0;
      for (const std::vector<Line> &slot : read_lines(data_file(track + "/" + file)))
        for (const Line &line : slot) {
          const std::vector<LinePoint> &q = line.points;
          for (size_t k = 0; k < q.size(); k++) {
            if (q[k].speed >= 0.0f || (k > 0 && q[k - 1].speed < 0.0f)) continue;
            flights++;
            size_t end = k;
            while (end + 1 < q.size() && q[end + 1].speed < 0.0f) end++;
            size_t from = k > 4 ? k - 4 : 0, to = std::min(end + 4, q.size() - 1);
            double turned = 0.0;
            for (size_t i = from + 1; i + 1 <= to; i++) {
              double h1 = std::atan2(q[i].z - q[i - 1].z, q[i].x - q[i - 1].x);
              double h2 = std::atan2(q[i + 1].z - q[i].z, q[i + 1].x - q[i].x);
              turned += std::fabs(std::remainder(h2 - h1, 2.0 * 3.14159265358979));
            }
            EXPECT_LT(turned, 15.0 * 3.14159265358979 / 180.0) << "a flight at (" << q[k].x << ", " << q[k].z << ")";
          }
        }
      EXPECT_GT(flights, 0);
    }
}

// Nothing solid stands beside the track but the start gates: a rider run
// wide, or a robot riding back to the track after a fall, is never pinned
// against a trackside object.
TEST(DataSet, OnlyTheStartGatesAreSolid) {
  for (const std::string &track : data_set().tracks) {
    SCOPED_TRACE(track);
    load(track);
    std::vector<int> gate_statues;
    for (int g = 0; g < timing_gates()->grid_count; g++) gate_statues.push_back(timing_gates()->grid[g].statue);
    int solid = 0;
    for (int i = 0; i < statue_count(); i++) {
      if (!track_statue(i)->shape_path) continue;
      solid++;
      EXPECT_NE(std::find(gate_statues.begin(), gate_statues.end(), i), gate_statues.end())
          << "statue " << i << " (" << track_statue(i)->model_path << ")";
    }
    EXPECT_EQ(solid, timing_gates()->grid_count);
    EXPECT_GT(statue_count(), solid);  // the bales are still there to be seen
  }
  free_track();
}

// The game's own way in: the archive found in a base directory, the tracks
// listed from the file index, a track and the bike's shapes read from it.
TEST(DataSet, GameFindsEverythingInTheArchive) {
  std::string home = scratch_dir("datahome"), base = scratch_dir("database");
  write_text_file(base + "/torvane.saf", read_text_file(std::string(TORVANE_BIN_DIR) + "/torvane.saf"));
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  setenv("QX_HOME", base.c_str(), 1);
  file_layer_reset_for_tests();
  track_set_root("@");
  ASSERT_EQ(scan_tracks(), static_cast<int>(data_set().tracks.size()));
  EXPECT_STREQ(track_display_name("rabbithill"), "Rabbit Hill");
  EXPECT_STREQ(track_display_name("quarrybend"), "Quarry Bend");
  ASSERT_EQ(load_track("rabbithill"), 1);
  uint8_t from_archive[20];
  memcpy(from_archive, track_hash(), 20);
  EXPECT_EQ(timing_gates()->grid_count, 40);
  // The same files unpacked give the same track hash.
  load("rabbithill");
  EXPECT_EQ(memcmp(from_archive, track_hash(), 20), 0);
  free_track();
  const CollisionShape *frame = load_shape("@generic_frame.shp");
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->sphere_count, 5);
  char *series = file_to_string("@torvane.series");
  ASSERT_NE(series, nullptr);
  EXPECT_EQ(std::string(series), data_file("torvane.series"));
  tracked_free(series);
  free_shapes();
  unsetenv("QX_HOME");
  unsetenv("XDG_DATA_HOME");
  file_layer_reset_for_tests();
}

TEST(DataSet, ShapesLoadAndFitTheBike) {
  const DataSet &set = data_set();
  static const char *const shapes[] = {"generic_frame.shp", "generic_fork_upper.shp", "generic_fork_lower.shp",
                                       "generic_swingarm.shp", "generic_rider.shp", "front_wheel.shp",
                                       "rear_wheel.shp", "startgate.shp", "haybale.shp", "tuffblock.shp"};
  for (const char *name : shapes) {
    std::string path = set.dir + "/" + name;
    const CollisionShape *shape = load_shape(path.c_str());
    ASSERT_NE(shape, nullptr) << name;
    EXPECT_GT(shape->sphere_count, 0) << name;
    // The start gate swings on a long arm under the ground; see below.
    if (strcmp(name, "startgate.shp") != 0) {
      EXPECT_LT(shape_bounding_radius(shape), 3.0f) << name;
    }
  }
  // With the frame at 1.98 ft, no frame sphere reaches within 0.9 ft of the ground.
  const CollisionShape *frame = load_shape((set.dir + "/generic_frame.shp").c_str());
  for (int i = 0; i < frame->sphere_count; i++)
    EXPECT_GT(1.98f + frame->spheres[i].centre[1] - frame->spheres[i].radius, 0.9f);
  free_shapes();
}

// The series file names only shipped tracks and has the counts its reader needs.
TEST(DataSet, SeriesRunsOverShippedTracks) {
  std::string text = data_file("torvane.series");
  ASSERT_FALSE(text.empty());
  const char *p = text.c_str();
  char title[1024], skill[64];
  int used = 0, n = 0, events = 0;
  ASSERT_EQ(sscanf(p, " \"%1023[^\"]\" %d %63s %n", title, &n, skill, &used), 3);
  p += used;
  EXPECT_LT(n, 160);
  EXPECT_STREQ(skill, "Amateur");
  for (int i = 0; i < n; i++) {
    int number;
    ASSERT_EQ(sscanf(p, " %d %n", &number, &used), 1);
    p += used;
    EXPECT_GE(number, 20);
    EXPECT_LE(number, 99);
  }
  ASSERT_EQ(sscanf(p, " %d %n", &events, &used), 1);
  p += used;
  ASSERT_GT(events, 0);
  int rounds = 0;
  for (int e = 0; e < events; e++) {
    char event[1024], track[256];
    int minutes, laps;
    ASSERT_EQ(sscanf(p, " \"%1023[^\"]\" %255s %d %d %n", event, track, &minutes, &laps, &used), 4);
    p += used;
    EXPECT_TRUE(has_file(std::string(track) + "/terrain.hf")) << track;
    EXPECT_GT(laps, 0);
    int points[80];
    for (int &v : points) {
      ASSERT_EQ(sscanf(p, " %d %n", &v, &used), 1);
      p += used;
    }
    rounds += points[40] != 0;
  }
  EXPECT_EQ(rounds, events / 2);
}

// The shipped track script, in a race of robots on Rabbit Hill: it loads
// without an error, keeps its board red behind the gate and green once the
// race is on, and keeps its marker over whoever leads.
TEST(DataSet, TrackScriptFollowsTheLeaderAndTintsTheBoard) {
  load("rabbithill");
  free_track();
  const char *tracks[] = {"rabbithill"};
  set_track_names(tracks, 1);
  select_choice(&game_settings().track, "rabbithill");
  physics_world_create();
  message_clear();
  message_set_limit(100);
  std::vector<int> kinds(max_slots, slot_kind_empty);
  for (int i = 0; i < 3; i++) kinds[i] = slot_kind_robot;
  ASSERT_EQ(race_reset(kinds.data(), 0, 0, 0, 2, 2), 1);
  ASSERT_TRUE(frills_loaded());
  for (int i = 0; i < message_visible_count(); i++) EXPECT_EQ(strstr(message_line(i), "javascript"), nullptr);
  // The script's two billboards close the track's file.
  int last = billboard_count() - 1;
  const Billboard *marker = track_billboard(last - 1), *board = track_billboard(last);
  const RaceState &race = race_state();
  frills_frame(race.tic);
  EXPECT_GT(board->colour[0], 200);
  EXPECT_LT(board->colour[1], 50);
  while (race.tic < race.gate_drop_tic + 6 * tics_per_second) race_step();
  frills_frame(race.tic);
  EXPECT_FALSE(frills_stopped());
  EXPECT_LT(board->colour[0], 50);
  EXPECT_GT(board->colour[1], 150);
  ASSERT_GT(race.running_count, 0);
  const dReal *p = dBodyGetPosition(race_slot(race.running_order[0].slot)->bike->bodies[bike_frame]);
  EXPECT_NEAR(marker->x, p[0], 0.01);
  EXPECT_NEAR(marker->z, p[2], 0.01);
  EXPECT_GT(marker->y, p[1] + 2.5);
  EXPECT_EQ(marker->colour[3], 255);
  race_free_bikes();
  frills_unload();
  free_track();
  track_set_root("@");
  race_state() = RaceState{};
}

// ---- Models and skins ----

namespace {

std::string strip_data_path(const char *path) { return path[0] == '@' ? path + 1 : path; }

// A picture as the texture loader finds it: LINK files followed (at most a
// few deep), then the PNG decoded. Empty on any failure.
struct SkinPicture {
  int width = 0, height = 0;
  std::string file, text;  // the file finally decoded and its raw bytes
};

SkinPicture decode_picture(std::string name) {
  SkinPicture pic;
  for (int depth = 0; depth < 4; depth++) {
    std::string bytes = data_file(name);
    if (bytes.compare(0, 4, "LINK") == 0) {
      size_t at = bytes.find('@');
      if (at == std::string::npos) return {};
      name = bytes.substr(at + 1);
      while (!name.empty() && isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
      continue;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return {};
    image.format = PNG_FORMAT_RGBA;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
    pic.width = static_cast<int>(image.width);
    pic.height = static_cast<int>(image.height);
    pic.file = name;
    pic.text = bytes;
    return pic;
  }
  return {};
}

bool power_of_two(int v) { return v > 0 && (v & (v - 1)) == 0; }

// Every catalogue model name with its coarser versions in the archive.
std::vector<std::string> model_files(const std::string &base) {
  std::vector<std::string> files = {base + ".hm"};
  std::string lod = base + "_lod";
  for (const Member &m : data_set().members)
    if (m.name.compare(0, lod.size(), lod) == 0 && isdigit(static_cast<unsigned char>(m.name[lod.size()]))) {
      std::string name = m.name;
      if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0) name.resize(name.size() - 3);
      files.push_back(name);
    }
  return files;
}

// What the texture choice list offers for a prefix: PNG names (not normal
// or specular maps) whose last path component begins with the prefix.
int texture_choice_count(const std::string &prefix) {
  int count = 0;
  for (const Member &m : data_set().members) {
    std::string name = m.name;
    for (const char *suffix : {".scram", ".gz"})
      if (name.size() > strlen(suffix) && name.compare(name.size() - strlen(suffix), strlen(suffix), suffix) == 0)
        name.resize(name.size() - strlen(suffix));
    auto ends = [&](const char *s) { return name.size() >= strlen(s) && name.compare(name.size() - strlen(s), strlen(s), s) == 0; };
    if (!ends(".png") || ends("_norm.png") || ends("_spec.png")) continue;
    size_t slash = name.rfind('/');
    std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    if (last.compare(0, prefix.size(), prefix) == 0) count++;
  }
  return count;
}

// ---- Pictures, decoded the way the texture loader will ----

struct Decoded {
  int width = 0, height = 0, channels = 0;
  std::vector<unsigned char> pixels;  // 8-bit, top row first
};

// A data file's PNG through the game's own reader; false when it refuses it.
bool decode_png(const std::string &name, Decoded *out) {
  DataFile *file = dfile_open((data_set().dir + "/" + name).c_str(), "rb");
  if (!file) return false;
  Picture picture{};
  char error[image_error_size] = "";
  int ok = png_read(file, &picture, nullptr, error);
  dfile_close(file);
  if (!ok) return false;
  out->width = picture.width;
  out->height = picture.height;
  out->channels = picture.channels;
  out->pixels.assign(picture.pixels, picture.pixels + static_cast<size_t>(picture.width) * picture.height * picture.channels);
  picture_free(&picture);
  return true;
}


// Checks that a texture name resolves to pictures the game can use:
// following "LINK" files, every frame of an "ANIM1" animation, power-of-two
// sizes. Returns the first picture.
Decoded check_texture(std::string name, int depth = 0) {
  SCOPED_TRACE(name);
  Decoded picture;
  if (!name.empty() && name[0] == '!') name.erase(0, 1);
  EXPECT_EQ(name.compare(0, 1, "@"), 0) << "not a data path";
  name.erase(0, 1);
  std::string data = data_file(name);
  if (data.empty()) {
    ADD_FAILURE() << "missing from the archive";
    return picture;
  }
  if (data.compare(0, 4, "LINK") == 0) {
    EXPECT_LT(depth, 4) << "links in a circle";
    std::string target = data.substr(4);
    target.erase(0, target.find_first_not_of(" \t\r\n"));
    target.erase(target.find_last_not_of(" \t\r\n") + 1);
    return depth < 4 ? check_texture(target, depth + 1) : picture;
  }
  if (data.compare(0, 5, "ANIM1") == 0) {
    const char *p = data.c_str() + 5;
    int length = 0, frames = 0, tics = 0, loop = 0, used = 0;
    EXPECT_EQ(sscanf(p, "%d %d %d %d%n", &length, &frames, &tics, &loop, &used), 4);
    p += used;
    EXPECT_GT(length, 0);
    EXPECT_GT(tics, 0);
    for (int k = 0; k < length; k++) {
      int index = -1;
      EXPECT_EQ(sscanf(p, "%d%n", &index, &used), 1);
      p += used;
      EXPECT_GE(index, 0);
      EXPECT_LT(index, frames);
    }
    for (int k = 0; k < frames; k++) {
      char token[16], frame[1024];
      EXPECT_EQ(sscanf(p, " %15s %1023s%n", token, frame, &used), 2) << "frame " << k;
      p += used;
      EXPECT_STREQ(token, "PNG");
      Decoded f = check_texture(frame, depth + 1);
      if (k == 0) picture = f;
      EXPECT_EQ(f.width, picture.width) << "frame " << k;
      EXPECT_EQ(f.height, picture.height) << "frame " << k;
      EXPECT_EQ(f.channels, picture.channels) << "frame " << k;
    }
    return picture;
  }
  EXPECT_TRUE(decode_png(name, &picture)) << "does not decode";
  EXPECT_TRUE(power_of_two(picture.width) && power_of_two(picture.height))
      << picture.width << "x" << picture.height << " is not a power of two";
  return picture;
}

// The glyph cells the font loader finds: bands start at rows whose first
// pixel has the marker colour of the top-left pixel; markers in a band's
// top row start its cells, the last running to the right edge.
struct Cell {
  int left, right, top, bottom;
};

std::vector<Cell> font_cells(const Decoded &font) {
  std::vector<Cell> cells;
  auto pixel = [&](int x, int y) {
    uint32_t v = 0;
    for (int c = 0; c < 4; c++) v = v << 8 | font.pixels[(static_cast<size_t>(y) * font.width + x) * 4 + c];
    return v;
  };
  uint32_t marker = pixel(0, 0);
  std::vector<int> starts;
  for (int y = 0; y < font.height; y++)
    if (y == 0 || pixel(0, y) == marker) starts.push_back(y);
  for (size_t b = 0; b < starts.size(); b++) {
    int bottom = b + 1 < starts.size() ? starts[b + 1] : font.height;
    int left = 0;
    for (int x = 1; x <= font.width; x++)
      if (x == font.width || pixel(x, starts[b]) == marker) {
        cells.push_back({left, x, starts[b], bottom});
        left = x;
      }
  }
  return cells;
}

// Every name a track's files ask for, once each.
std::set<std::string> track_pictures() {
  std::set<std::string> names;
  auto add = [&](const char *name) {
    if (name) names.insert(name);
  };
  const Lighting *light = track_lighting();
  for (const char *face : light->sky) add(face);
  add(light->sky_env);
  for (int f = 0; f < light->flare_count; f++)
    for (int e = 0; e < light->flares[f].element_count; e++) add(light->flares[f].elements[e].texture_path);
  const Terrain *terrain = track_terrain();
  for (int t = 0; t < terrain->tile_count; t++) {
    add(terrain->tiles[t].texture_path);
    for (const RoostType &r : terrain->tiles[t].roost)
      if (r.kind != 0) add(r.texture_path);
  }
  for (int b = 0; b < billboard_count(); b++) add(track_billboard(b)->texture_path);
  for (int d = 0; d < decal_count(); d++) add(track_decal(d)->texture_path);
  if (start_flagger()->present)
    for (const char *t : start_flagger()->textures) add(t);
  if (lap_board_flagger()->present)
    for (const char *t : lap_board_flagger()->textures) add(t);
  for (int g = 0; g < gate_flagger_count(); g++)
    for (const char *t : gate_flagger(g)->textures) add(t);
  return names;
}

}  // namespace

// Everything the tracks and the HUD draw exists, follows its links and
// frames to real pictures, and has a power-of-two size.
TEST(DataSet, EveryPictureAskedForIsThereAndDecodes) {
  size_t count = 0;
  for (const std::string &track : data_set().tracks) {
    SCOPED_TRACE(track);
    load(track);
    std::set<std::string> names = track_pictures();
    // The sky, the flare, four surfaces' tiles and roost, the flaggers'
    // eleven poses, trees, crowds, banners and markers at the least.
    EXPECT_GE(names.size(), 30u);
    EXPECT_TRUE(start_flagger()->present && lap_board_flagger()->present);
    EXPECT_GT(gate_flagger_count(), 0);
    EXPECT_GT(track_lighting()->flare_count, 0);
    for (const std::string &name : names) check_texture(name);
    count += names.size();
    // The default sky, for tracks whose lighting names none.
    Lighting defaults;
    lighting_defaults(&defaults);
    for (const char *face : defaults.sky) check_texture(face);
    check_texture(defaults.sky_env);
  }
  free_track();
  static const char *const hud[] = {"@font.png", "@numbers.png", "@numbers-condensed.png", "!@tach.png",
                                    "!@shifter.png", "!@pitboard.png", "!@title.png", "@colors/white.png",
                                    "@roost.png", "@icon.png"};
  for (const char *name : hud) check_texture(name);
  EXPECT_EQ(check_texture("!@title.png").width, 2 * check_texture("!@title.png").height);
  EXPECT_EQ(check_texture("@icon.png").width, 256);
  EXPECT_GT(count, 0u);
}

// The fonts cut into exactly one cell per character of their lists, every
// cell holds a visible glyph below its marker row, and the bands are one
// line each, the same height within a pixel.
TEST(DataSet, FontsCutIntoOneCellPerCharacter) {
  struct Font {
    const char *name;
    size_t glyphs;
  };
  for (Font f : {Font{"@font.png", 94}, Font{"@numbers.png", 10}, Font{"@numbers-condensed.png", 10}}) {
    SCOPED_TRACE(f.name);
    Decoded font = check_texture(f.name);
    ASSERT_EQ(font.channels, 4);
    std::vector<Cell> cells = font_cells(font);
    ASSERT_EQ(cells.size(), f.glyphs);
    int lo = font.height, hi = 0;
    for (size_t k = 0; k < cells.size(); k++) {
      const Cell &c = cells[k];
      lo = std::min(lo, c.bottom - c.top);
      hi = std::max(hi, c.bottom - c.top);
      EXPECT_GT(c.right - c.left, 4) << "cell " << k;
      int ink = 0;
      for (int y = c.top + 1; y < c.bottom; y++)
        for (int x = c.left; x < c.right; x++) ink += font.pixels[(static_cast<size_t>(y) * font.width + x) * 4 + 3] > 128;
      EXPECT_GT(ink, 20) << "cell " << k << " is empty";
      // Glyphs are white: the HUD colours them.
      for (int x = c.left + 1; x < c.right; x++) {
        const unsigned char *p = &font.pixels[(static_cast<size_t>(c.top + (c.bottom - c.top) / 2) * font.width + x) * 4];
        if (p[3] > 0) EXPECT_TRUE(p[0] == 255 && p[1] == 255 && p[2] == 255) << "cell " << k;
      }
    }
    EXPECT_LE(hi - lo, 1);
    EXPECT_GE(lo, 64) << "too small to stay sharp at 1080p";
  }
}

// One sun for each track: the lighting file's sun is where the sky's
// brightest spot is, the baked shading is the game's reshading formula under
// it, and the baked shadows darken some ground but not most of it.
TEST(DataSet, SkyShadingAndShadowsShareTheLightingsSun) {
  for (const std::string &track : data_set().tracks) {
    SCOPED_TRACE(track);
    load(track);
    const Lighting *light = track_lighting();
    const float *sun = light->sun_vector;
    ASSERT_GT(sun[1], 0.2f);
    // The faces: north -z, east +x, south +z, west -x; up with north at the
    // top. Texture coordinates 1/128 .. 127/128 span a face.
    const char *face = nullptr;
    float a = 0, b = 0, major = 0;
    struct Axis {
      int index;
      float sign;
      const char *name;
    };
    for (Axis ax : {Axis{2, -1, "sky-n"}, Axis{0, 1, "sky-e"}, Axis{2, 1, "sky-s"}, Axis{0, -1, "sky-w"},
                    Axis{1, 1, "sky-u"}}) {
      float m = sun[ax.index] * ax.sign;
      if (m <= major) continue;
      major = m;
      face = ax.name;
      if (ax.index == 1) a = sun[0] / m, b = sun[2] / m;
      else if (ax.index == 2) a = ax.sign < 0 ? sun[0] / m : -sun[0] / m, b = -sun[1] / m;
      else a = ax.sign > 0 ? sun[2] / m : -sun[2] / m, b = -sun[1] / m;
    }
    ASSERT_NE(face, nullptr);
    Decoded sky = check_texture("@" + track + "/" + face + ".png");
    ASSERT_GT(sky.width, 0);
    auto texel = [&](float u, float v) {
      float t = ((u + 1.0f) * 0.5f * 126.0f + 1.0f) / 128.0f, s = ((v + 1.0f) * 0.5f * 126.0f + 1.0f) / 128.0f;
      int x = std::clamp(static_cast<int>(t * static_cast<float>(sky.width)), 0, sky.width - 1);
      int y = std::clamp(static_cast<int>(s * static_cast<float>(sky.height)), 0, sky.height - 1);
      const unsigned char *p = &sky.pixels[(static_cast<size_t>(y) * sky.width + x) * sky.channels];
      return std::min({p[0], p[1], p[2]});
    };
    // White enough at the sun for the lens flare to show; plain sky a
    // quarter of a face away.
    EXPECT_GE(texel(a, b), 224);
    EXPECT_LT(texel(a + (a > 0 ? -0.5f : 0.5f), b + (b > 0 ? -0.5f : 0.5f)), 224);
    EXPECT_TRUE(light->fog_density > 0.0f && light->fog_density < 0.002f) << "a light haze";

    std::string ppm = data_file(track + "/shadingx2.ppm"), pgm = data_file(track + "/shadows.pgm");
    const size_t header = std::string("P6\n1025 1025\n255\n").size();
    ASSERT_EQ(ppm.size(), header + 1025u * 1025u * 3u);
    ASSERT_EQ(pgm.size(), header + 1025u * 1025u);
    Terrain *terrain = track_terrain();
    int checked = 0, shaded = 0;
    for (int j = 8; j < 1017; j += 37)
      for (int i = 8; i < 1017; i += 41) {
        float n[3];
        terrain_vertex_normal(terrain, i, j, n);
        size_t v = static_cast<size_t>(j) * 1025 + i;
        float s = static_cast<float>(static_cast<unsigned char>(pgm[header + v])) / 255.0f;
        float lit = std::clamp(sun[0] * n[0] + sun[1] * n[1] + sun[2] * n[2], 0.0f, 1.0f) * s;
        for (int c = 0; c < 3; c++) {
          float expected = (light->sun_color[c] * lit + light->ambient[c]) * 0.5f * 255.0f;
          EXPECT_NEAR(static_cast<unsigned char>(ppm[header + v * 3 + c]), expected, 6.0f) << "vertex " << i << ", " << j;
        }
        checked++;
        shaded += s < 0.5f;
      }
    EXPECT_GT(checked, 500);
    EXPECT_GT(shaded, 0) << "nothing casts a shadow";
    EXPECT_LT(shaded, checked / 4);
  }
  free_track();
}

// Nothing placed beside the track stands on it: every billboard but the
// roost pool and the markers at its edge keeps its whole turning footprint
// off the surface, and the flaggers stand clear of the racing lines.
TEST(DataSet, TracksideSpritesStandClearOfTheTrack) {
  for (const std::string &track : data_set().tracks) {
    SCOPED_TRACE(track);
    load(track);
    const Terrain *terrain = track_terrain();
    const Tile *tiles = terrain->tiles;
    auto on_track = [&](float x, float z) { return friction_at(&tiles[tile_at(terrain, x, z)], 1.0f) > 0.9f; };
    int placed = 0;
    for (int b = roost_billboard_pool; b < billboard_count(); b++) {
      const Billboard *board = track_billboard(b);
      // The starter stands in front of the gates until they drop; the
      // track script's plain boards (the leader's marker) go where it says.
      if (!board->texture_path || strstr(board->texture_path, "starter") ||
          strstr(board->texture_path, "colors/white") || strstr(board->texture_path, "leader"))
        continue;
      placed++;
      // The sprite stands on the ground: its base no higher than the ground.
      EXPECT_LE(board->y, terrain_height(terrain, board->x, board->z) + 0.01f) << board->texture_path;
      float r = strstr(board->texture_path, "marker") ? 0.0f : 0.5f * board->width;
      for (int k = 0; k < 8; k++) {
        float x = board->x + r * std::cos(k * 0.785398f), z = board->z + r * std::sin(k * 0.785398f);
        EXPECT_FALSE(on_track(x, z)) << board->texture_path << " at (" << board->x << ", " << board->z << ")";
      }
    }
    EXPECT_GT(placed, 200);
  }
  free_track();
}

// The reader the checks below rely on finds the faults they look for.
TEST(DataSet, ModelReaderFindsBrokenTrianglesAndWeights) {
  HmModel shp = read_hm_model("3 3\n0 0 0 0 0 1 0 0\n1 0 0 0 0 1 1 0\n0 1 0 0 0 1 0 1\n0 1 2\n0 0 1\n0 1 3\n");
  ASSERT_TRUE(shp.ok);
  EXPECT_EQ(shp.meshes[0].triangles.size(), 3u);
  EXPECT_EQ(shp.removed_triangles, 2);
  EXPECT_FALSE(read_hm_model("HM3\n32 0 1 1 1 0 0\n").ok);
  // Five influences: the smallest stored weight gives way each time, and the
  // warning is counted once.
  HmModel skin = read_hm_model("HM2 5 x\n32 0 1 1 1 2 0\n0 0 0 0 0 1 0 0 0.5 0.4 0.3 0.2 0.1\n"
                               "0 0 0 0 0 1 0 0 0.5 0.4 0.3 0.2 0.1\n");
  ASSERT_TRUE(skin.ok);
  EXPECT_EQ(skin.weight_warnings, 1);
  const HmMesh &m = skin.meshes[0];
  float kept = 0;
  for (int s = 0; s < 4; s++) kept += m.weights[static_cast<size_t>(s)];
  EXPECT_NEAR(kept, 1.0f, 1e-6f);
  for (int s = 0; s < 4; s++) EXPECT_NE(m.bone_indices[static_cast<size_t>(s)], 3) << "0.2 should have been replaced";
  // A mesh cut short is dropped, the ones before it kept.
  HmModel cut = read_hm_model("HM1\n32 0 1 1 1 3 1\n0 0 0 0 0 1 0 0\n1 0 0 0 0 1 1 0\n0 1 0 0 0 1 0 1\n0 1 2\n-1 0.5 1 1 1 3 1\n0 0 0\n");
  ASSERT_TRUE(cut.ok);
  EXPECT_EQ(cut.meshes.size(), 1u);
}

// Every model and texture a catalogue record names is in the archive and
// loads whole, with its coarser versions; statues' too.
TEST(DataSet, EveryCatalogueModelAndSkinLoads) {
  std::map<std::string, int> checked;
  auto check_model = [&](const char *path) {
    std::string base = strip_data_path(path);
    base.resize(base.size() - 3);
    if (checked.count(base)) return;
    checked[base] = 1;
    std::vector<std::string> files = model_files(base);
    for (const std::string &file : files) {
      ASSERT_TRUE(has_file(file)) << file;
      HmModel model = read_hm_model(data_file(file));
      ASSERT_TRUE(model.ok) << file;
      EXPECT_EQ(model.removed_triangles, 0) << file;
      // And the game's own reader takes it whole.
      DataFile *opened = dfile_open((data_set().dir + "/" + file).c_str(), "rb");
      ASSERT_NE(opened, nullptr) << file;
      Model *parsed = model_parse(opened, file.c_str());
      dfile_close(opened);
      ASSERT_NE(parsed, nullptr) << file;
      EXPECT_EQ(parsed->degenerate_triangles, 0) << file;
      int parsed_meshes = 0;
      for (const Mesh *m = parsed->meshes; m; m = m->next) parsed_meshes++;
      EXPECT_EQ(parsed_meshes, static_cast<int>(model.meshes.size())) << file;
      model_free(parsed);
      EXPECT_EQ(model.weight_warnings, 0) << file;
      bool reflection_seen = false;
      for (const HmMesh &mesh : model.meshes) {
        EXPECT_FALSE(mesh.triangles.empty()) << file;
        // Reflection layers come after everything drawn normally.
        if (mesh.material == -1) reflection_seen = true;
        else EXPECT_FALSE(reflection_seen) << file << ": a normal mesh after a reflection layer";
        for (float v : mesh.uvs) EXPECT_TRUE(v >= -0.001f && v <= 1.001f) << file;
      }
    }
  };
  auto check_texture = [&](const char *path) {
    std::string name = strip_data_path(path);
    if (checked.count(name)) return;
    checked[name] = 1;
    SkinPicture pic = decode_picture(name);
    ASSERT_GT(pic.width, 0) << name;
    EXPECT_TRUE(power_of_two(pic.width) && power_of_two(pic.height)) << name;
  };
  for (int i = 0; i < bike_info_count; i++) {
    const BikeInfo *b = bike_info(i);
    for (const char *model : {b->frame_model, b->fork_upper_model, b->fork_lower_model, b->swingarm_model,
                              b->front_wheel_model, b->rear_wheel_model, b->rider_head_model, b->rider_body_model,
                              b->rider_first_person_model, b->side_plates_model, b->front_plate_model,
                              b->rider_plate_model})
      check_model(model);
    for (const char *texture : {b->bike_texture, b->wheels_texture, b->head_texture, b->rider_body_texture})
      check_texture(texture);
    // The number-plate colours travel with the bike's picture.
    SkinPicture pic = decode_picture(strip_data_path(b->bike_texture));
    EXPECT_NE(pic.text.find("[numberbackground:"), std::string::npos) << b->name;
    EXPECT_NE(pic.text.find("[numberforeground:"), std::string::npos) << b->name;
  }
  for (const char *model : {"@startgate.hm", "@haybale.hm", "@tuffblock.hm", "@tent.hm", "@banner.hm", "@trackside_tree.hm"})
    check_model(model);
  EXPECT_TRUE(model_files("rear_wheel").size() >= 3u) << "the wheels are seen far away";
  // The statues the tracks place name models and pictures that exist.
  for (const std::string &track : data_set().tracks) {
    std::string text = data_file(track + "/statues");
    char model[1024], texture[1024], shape[1024];
    float x, y, z, a;
    int used = 0;
    const char *p = text.c_str();
    while (sscanf(p, " [ %f %f %f ] %f %1023s %1023s %1023s %n", &x, &y, &z, &a, model, texture, shape, &used) == 7) {
      p += used;
      check_model(model);
      check_texture(texture);
    }
  }
  std::string gate = data_file("startgate.ppm");
  EXPECT_EQ(gate.compare(0, 3, "P6\n"), 0);
}

// The triangles of a whole bike with its rider at a distance, taking each
// part's coarser versions the way the game does at the default detail (a
// version takes over from 2^N ft).
int bike_triangles_at(const BikeInfo *b, float distance) {
  int total = 0;
  for (const char *path : {b->frame_model, b->fork_upper_model, b->fork_lower_model, b->swingarm_model,
                           b->front_wheel_model, b->rear_wheel_model, b->rider_head_model, b->rider_body_model,
                           b->side_plates_model, b->front_plate_model, b->rider_plate_model}) {
    std::string base = strip_data_path(path);
    base.resize(base.size() - 3);
    std::string chosen = base + ".hm";
    double threshold = 0;
    for (const std::string &file : model_files(base)) {
      if (file == base + ".hm") continue;
      double n = atof(file.c_str() + base.size() + 4);
      double t = pow(2.0, n);
      if (t <= distance && t >= threshold) {
        threshold = t;
        chosen = file;
      }
    }
    HmModel model = read_hm_model(data_file(chosen));
    for (const HmMesh &mesh : model.meshes) total += static_cast<int>(mesh.triangles.size() / 3);
  }
  return total;
}

// A pack of forty bikes is mostly seen from a few lengths away: the bike the
// chase camera follows is drawn by the game no coarser than its close-up
// level; the others shed most of their triangles within a few lengths, and none
// grows finer going away.
TEST(DataSet, BikesShedTrianglesWithDistance) {
  const float distances[] = {0, 6, 12, 48, 96, 192};
  constexpr int n = 6;
  for (int i = 0; i < bike_info_count; i++) {
    const BikeInfo *b = bike_info(i);
    int counts[n];
    std::string shown;
    for (int k = 0; k < n; k++) {
      counts[k] = bike_triangles_at(b, distances[k]);
      shown += " " + std::to_string(counts[k]);
      if (k > 0) EXPECT_LE(counts[k], counts[k - 1]) << b->name << " at " << distances[k] << " ft";
    }
    EXPECT_LT(counts[1], counts[0] * 3 / 4) << b->name << ": the close-up level" << shown;
    EXPECT_LT(counts[2], counts[0] / 2) << b->name << ":" << shown;
    EXPECT_LT(counts[3], counts[0] / 8) << b->name << ":" << shown;
    EXPECT_LT(counts[5], counts[0] / 8) << b->name << ":" << shown;
    // What a software-GL frame can afford of a forty-bike start.
    EXPECT_LT(counts[0], 12000) << b->name << ":" << shown;
    EXPECT_LT(counts[2], 4000) << b->name << ":" << shown;
    if (i == 0) printf("%s triangles at 0 6 12 48 96 192 ft:%s\n", b->name, shown.c_str());
  }
}

// The followed bike's wheels at chase distance come from the close-up level:
// it must keep every spoke and the knobs of the tyre, which the 8 ft level
// gives up. A spoke is counted by its triangles crossing the circle half a
// foot from the axle (the x axis) between the hub flanges, where nothing
// else of a wheel lies; the knobs by the spread of radii across the tread.
TEST(DataSet, CloseUpWheelsKeepEverySpokeAndKnob) {
  struct Look {
    int spoke_triangles = 0, triangles = 0;
    float tread_low = 1e9f, tread_high = 0;  // radii across the middle of the tread
  };
  auto look_at = [](const std::string &file) {
    Look l;
    HmModel model = read_hm_model(data_file(file));
    EXPECT_TRUE(model.ok) << file;
    for (const HmMesh &mesh : model.meshes) {
      if (mesh.material == -1) continue;  // the reflection layer repeats the shiny parts
      auto radius = [&](int v) { return std::hypot(mesh.positions[3 * v + 1], mesh.positions[3 * v + 2]); };
      for (int v = 0; v < mesh.vertex_count(); v++)
        if (radius(v) > 0.95f && std::fabs(mesh.positions[3 * v]) < 0.1f) {  // beyond the rims
          l.tread_low = std::min(l.tread_low, radius(v));
          l.tread_high = std::max(l.tread_high, radius(v));
        }
      for (size_t t = 0; t + 2 < mesh.triangles.size(); t += 3) {
        l.triangles++;
        int inside = 0, outside = 0, between_flanges = 0;
        for (int c = 0; c < 3; c++) {
          int v = mesh.triangles[t + c];
          (radius(v) < 0.5f ? inside : outside)++;
          between_flanges += std::fabs(mesh.positions[3 * v]) < 0.2f;
        }
        if (inside && outside && between_flanges == 3) l.spoke_triangles++;
      }
    }
    return l;
  };
  for (const char *base : {"front_wheel", "rear_wheel"}) {
    Look whole = look_at(std::string(base) + ".hm"), close = look_at(std::string(base) + "_lod2.5.hm"),
         next = look_at(std::string(base) + "_lod3.hm");
    EXPECT_GT(whole.spoke_triangles, 0) << base;
    EXPECT_EQ(close.spoke_triangles, whole.spoke_triangles) << base << ": every spoke";
    EXPECT_LT(next.spoke_triangles, whole.spoke_triangles) << base << ": the 8 ft level has fewer";
    // Knobs stand 0.045 ft proud of the tread between them.
    EXPECT_GT(whole.tread_high - whole.tread_low, 0.04f) << base;
    EXPECT_GT(close.tread_high - close.tread_low, 0.04f) << base << ": the knobs are kept";
    EXPECT_LT(next.tread_high - next.tread_low, 0.01f) << base << ": the 8 ft tyre is smooth";
    EXPECT_LT(close.triangles, whole.triangles) << base;
  }
}

// The skinned rider: nine bones, weights that sum to one with at most four
// influences, and every part bound to the bone whose rest pivots hold it,
// with the catalogue's grips and feet inside the hands and boots.
TEST(DataSet, RiderSkeletonMatchesTheCatalogue) {
  const RiderPoseBlock &pose = bike_info(0)->pose;
  std::vector<std::string> files = model_files("rider_body");
  files.push_back("rider_body_1st.hm");
  for (const std::string &file : files) {
    HmModel model = read_hm_model(data_file(file));
    ASSERT_TRUE(model.ok) << file;
    EXPECT_EQ(model.version, 2) << file;
    EXPECT_EQ(model.bones, 9) << file;
    int hands[2] = {}, feet[2] = {};
    for (const HmMesh &mesh : model.meshes) {
      for (int v = 0; v < mesh.vertex_count(); v++) {
        const float *w = &mesh.raw_weights[static_cast<size_t>(v) * 9];
        float sum = 0;
        int positive = 0, bone = -1;
        for (int b = 0; b < 9; b++) {
          sum += w[b];
          positive += w[b] > 0;
          if (w[b] > 0.99f) bone = b;
        }
        EXPECT_NEAR(sum, 1.0f, 2e-3f) << file << " vertex " << v;
        EXPECT_LE(positive, 4) << file << " vertex " << v;
        if (bone < 0) continue;
        const float *p = &mesh.positions[static_cast<size_t>(v) * 3];
        int side = bone < 8 ? bone % 2 : -1;  // 0 left, 1 right
        if (side >= 0) EXPECT_EQ(p[0] > 0, side == 1) << file << ": bone " << bone << " on the wrong side";
        float ax = std::fabs(p[0]), margin = 0.16f;
        switch (bone / 2) {
          case 0:  // forearm: from the elbow out
            EXPECT_GE(ax, std::fabs(pose.model_elbows[side][0]) - margin) << file;
            if (std::fabs(ax - (std::fabs(pose.model_elbows[side][0]) + pose.forearm)) < 0.1f &&
                std::fabs(p[1] - pose.model_elbows[side][1]) < 0.15f)
              hands[side]++;
            break;
          case 1:  // upper arm: shoulder to elbow
            EXPECT_GE(ax, std::fabs(pose.model_shoulders[side][0]) - margin) << file;
            EXPECT_LE(ax, std::fabs(pose.model_elbows[side][0]) + margin) << file;
            break;
          case 2:  // shin: from the knee down
            EXPECT_LE(p[1], pose.model_knees[side][1] + margin) << file;
            if (p[1] < pose.model_knees[side][1] - pose.shin + 0.3f) feet[side]++;
            break;
          case 3:  // thigh: hip to knee
            EXPECT_LE(p[1], pose.model_hips[side][1] + margin) << file;
            EXPECT_GE(p[1], pose.model_knees[side][1] - margin) << file;
            break;
          default:  // torso: from the pelvis up
            EXPECT_GE(p[1], pose.model_pelvis[1] - 0.3f) << file;
        }
      }
    }
    // The first-person body is the arms alone: the rider view's eye sits
    // low over the tank, where the legs would stand in front of it.
    bool first_person = file == "rider_body_1st.hm";
    for (int side = 0; side < 2; side++) {
      EXPECT_GT(hands[side], 0) << file << ": no hand around the grip";
      if (first_person) {
        EXPECT_EQ(feet[side], 0) << file << ": legs in the first-person body";
      } else {
        EXPECT_GT(feet[side], 0) << file << ": no boot down to the foot";
      }
    }
  }
}

// The models sit in their bodies' frames: each wheel round its axle out to
// the tyre's radius, the plates mapped over the whole number-plate texture.
TEST(DataSet, BikeModelsFitTheirBodies) {
  const BikeInfo *b = bike_info(0);
  for (int front = 0; front < 2; front++) {
    HmModel wheel = read_hm_model(data_file(front ? "front_wheel.hm" : "rear_wheel.hm"));
    ASSERT_TRUE(wheel.ok);
    float outer = 0, width = 0;
    for (const HmMesh &mesh : wheel.meshes)
      for (int v = 0; v < mesh.vertex_count(); v++) {
        const float *p = &mesh.positions[static_cast<size_t>(v) * 3];
        outer = std::max(outer, std::hypot(p[1], p[2]));
        width = std::max(width, std::fabs(p[0]));
      }
    float tyre = front ? b->front_ring_radius + b->front_tube_radius : b->rear_ring_radius + b->rear_tube_radius;
    EXPECT_NEAR(outer, tyre, 0.01f) << (front ? "front" : "rear");
    EXPECT_LT(width, 0.5f * b->fork_leg_spacing) << "the wheel fits between the fork legs and swingarm";
  }
  for (const char *plate : {"side_plates.hm", "front_plate.hm", "rider_plate.hm"}) {
    HmModel model = read_hm_model(data_file(plate));
    ASSERT_TRUE(model.ok) << plate;
    EXPECT_EQ(model.version, 1) << plate << " is not skinned";
    float u0 = 1, u1 = 0, t0 = 1, t1 = 0;
    for (const HmMesh &mesh : model.meshes)
      for (size_t i = 0; i + 1 < mesh.uvs.size(); i += 2) {
        u0 = std::min(u0, mesh.uvs[i]), u1 = std::max(u1, mesh.uvs[i]);
        t0 = std::min(t0, mesh.uvs[i + 1]), t1 = std::max(t1, mesh.uvs[i + 1]);
      }
    EXPECT_TRUE(u0 <= 0.001f && u1 >= 0.999f && t0 <= 0.001f && t1 >= 0.999f) << plate;
  }
}

// Every texture family offers at least four skins to choose from.
TEST(DataSet, SkinFamiliesOfferChoices) {
  EXPECT_GE(texture_choice_count("rider_body-"), 4);
  EXPECT_GE(texture_choice_count("rider_head-"), 4);
  EXPECT_GE(texture_choice_count("wheels-"), 4);
  for (int i = 0; i < bike_info_count; i++) {
    std::string texture = strip_data_path(bike_info(i)->bike_texture);
    std::string prefix = texture.substr(0, texture.rfind('-') + 1);
    EXPECT_GE(texture_choice_count(prefix), 4) << prefix;
  }
  // The prefix of one bike does not pick up another's skins.
  EXPECT_LT(texture_choice_count("yz250f_2008-"), texture_choice_count("yz250f_"));
}
