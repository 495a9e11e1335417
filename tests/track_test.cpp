// Track list, track loading in a scratch track directory, the track hash,
// the summary file and the object files a load reads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "app/ripemd160.h"
#include "assets/file.h"
#include "platform/log.h"
#include "test_util.h"
#include "render/terrain_render.h"
#include "track/gates.h"
#include "track/objects.h"
#include "track/terrain.h"
#include "track/tiles.h"
#include "track/track.h"

namespace {

std::string hex(const uint8_t *d) {
  std::string s;
  char b[3];
  for (int i = 0; i < 20; i++) {
    snprintf(b, sizeof b, "%02x", d[i]);
    s += b;
  }
  return s;
}

std::string raw_terrain(float height) {
  // Size exponent 6 (129 x 129), spacing 2, every sample at the middle.
  char header[64];
  snprintf(header, sizeof header, "6 2.0 %f %f\n:", height - 1, height + 1);
  std::string s = header;
  for (int k = 0; k < 129 * 129; k++) {
    s += static_cast<char>(0xff);
    s += static_cast<char>(0x7f);
  }
  return s;
}

struct TrackFiles {
  std::string root, dir = "tracks/alpha", path;

  explicit TrackFiles(const char *tag) {
    root = make_temp_dir(tag) + "/";
    path = root + dir;
    track_set_root(root.c_str());
    put("terrain.hf", raw_terrain(5));
    put("tileinfo", "texture @dirt.png\nfriction 0.9 1\naddtile\nname grass\naddtile\n");
    std::string map(64 * 64, '\0');
    map[1] = 1;
    map[2] = 7;  // beyond the table: the last tile
    put("tilemap", map);
    put("shadingx2.ppm", flat_shading_ppm(129));
    put("timing_gates",
        "startinggate:\n[10 0 10] 0 gate.hm null " + root + "gate.shp\n"
        "checkpoints:\n3 [20 0 20] [1 0 0]\n3 [40 0 20] [1 0 0]\n3 [60 0 20] [1 0 0]\n"
        "firstlap: 0 1 2\nnormallap: 0 1 2\n");
    write_text_file(root + "gate.shp", "1 0 0 0 1 1 2500 250\n");
    write_text_file(root + "rock.shp", "2\n0 0 0 0.5 1 100 10\n0 1 0 0.5 1 100 10\n");
    write_text_file(root + "rock.hm", "a model");
    put("statues", "[30 1 30] 0.5 " + root + "rock.hm rock.png " + root + "rock.shp\n"
                   "[31 0 30] 4 " + root + "rock.hm null " + root + "rock.shp\n"
                   "[32 0 30] 0 null null " + root + "nothing.shp\n");
    put("lighting", "sun_vector [0 2 0]\nfar_plane 0.1\nfog [0.5 0.5 0.5] 0.01\nnonsense 1\n");
    put("billboards", "[1 2 3] 4 5 #ff0000#tree.png\n[6 7 8] 1 1 bush.png\n[broken");
    put("decals", "[5 6] 0.25 2 3 @skid.png\n");
    put("flaggers", "[1 0 1] [2 0 2] 1 2 3 s1 s2 s3 s4 s5\n[5 0 5] 1 2 l1 l2 l3 l4\n"
                    "[7 0 7] 1 2 0 300 -9 1 idle wave\n");
    put("cameras", "fov 40\nfov -50\ngate 0 2 999 1\naddcamera 10 3 10\naddcamera 20 3 20\n");
    put("desc", "Alpha Valley\r\nmore text\n");
  }
  ~TrackFiles() {
    free_track();
    track_set_root("@");
  }
  void put(const std::string &name, const std::string &content) const { write_text_file(path + "/" + name, content); }
  void remove(const std::string &name) const { std::remove((path + "/" + name).c_str()); }
  std::string read(const std::string &name) const { return read_text_file(path + "/" + name); }
};

std::string load_and_hash(const TrackFiles &t) {
  EXPECT_EQ(load_track(t.dir.c_str()), 1);
  return hex(track_hash());
}

std::string newest_message(int k = 0) {
  std::string s = message_line(k);
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

}  // namespace

TEST(TrackLoad, ReadsEveryPart) {
  TrackFiles files("track-load");
  ASSERT_EQ(load_track(files.dir.c_str()), 1);
  EXPECT_STREQ(current_track_dir(), "tracks/alpha");
  Terrain *t = track_terrain();
  ASSERT_NE(t, nullptr);
  EXPECT_NEAR(terrain_height(t, 17, 33), 5.0f, 1e-3);
  ASSERT_EQ(t->tile_count, 2);
  EXPECT_STREQ(t->tiles[1].tile_name, "grass");
  EXPECT_EQ(tile_at(t, 4.5f, 0), 1);
  EXPECT_EQ(tile_at(t, 8.5f, 0), 1);
  EXPECT_FLOAT_EQ(friction_at(&t->tiles[tile_at(t, 0, 0)], 3), 0.9f);

  EXPECT_EQ(timing_gates()->gate_count, 3);
  EXPECT_EQ(timing_gates()->grid_count, 1);
  // The start gate first, then the file's statues.
  ASSERT_EQ(statue_count(), 4);
  EXPECT_STREQ(track_statue(0)->model_path, "gate.hm");
  EXPECT_EQ(track_statue(0)->texture_path, nullptr);
  const Statue *rock = track_statue(1);
  EXPECT_NEAR(rock->y, 6.0f, 1e-3);  // ground 5 plus 1
  EXPECT_FLOAT_EQ(rock->angle, 0.5f);
  EXPECT_TRUE(rock->has_shape);
  EXPECT_FLOAT_EQ(track_statue(2)->power, 16.0f);
  EXPECT_FLOAT_EQ(track_statue(2)->angle, 0.0f);
  EXPECT_FALSE(track_statue(3)->has_shape);

  // The roost pool, three flaggers, then the file's two billboards.
  ASSERT_EQ(billboard_count(), roost_billboard_pool + 5);
  const Billboard *tree = track_billboard(roost_billboard_pool + 3);
  EXPECT_STREQ(tree->texture_path, "tree.png");
  EXPECT_EQ(tree->colour[0], 255);
  EXPECT_EQ(tree->colour[1], 0);
  EXPECT_EQ(tree->colour[3], 255);
  EXPECT_NEAR(tree->y, 7.0f, 1e-3);
  EXPECT_EQ(track_billboard(roost_billboard_pool + 4)->colour[1], 255);

  const Lighting *l = track_lighting();
  EXPECT_FLOAT_EQ(l->sun_vector[1], 1.0f);
  EXPECT_FLOAT_EQ(l->far_plane, 0.25f);
  EXPECT_FLOAT_EQ(l->fog_density, 0.01f);
  EXPECT_STREQ(l->sky[0], "@sky-n.ppm");

  ASSERT_TRUE(start_flagger()->present);
  EXPECT_STREQ(start_flagger()->textures[4], "s5");
  ASSERT_TRUE(lap_board_flagger()->present);
  ASSERT_EQ(gate_flagger_count(), 1);
  EXPECT_EQ(gate_flagger(0)->checkpoints[1], 2);   // 300 watches the last checkpoint
  EXPECT_EQ(gate_flagger(0)->checkpoints[2], -1);

  ASSERT_EQ(camera_count(), 2);
  EXPECT_FLOAT_EQ(track_camera(0)->fov, 50);
  EXPECT_FLOAT_EQ(track_camera(1)->fov, 90);
  EXPECT_NEAR(track_camera(0)->y, 8.0f, 1e-3);
  EXPECT_EQ(camera_for_gate(0), 0);
  EXPECT_EQ(camera_for_gate(2), 0);
  EXPECT_EQ(camera_for_gate(1), -1);  // after the number out of range
  ASSERT_EQ(decal_count(), 1);
  EXPECT_FLOAT_EQ(track_decal(0)->size2, 3);

  free_track();
  EXPECT_EQ(track_terrain(), nullptr);
  EXPECT_EQ(current_track_dir(), nullptr);
  EXPECT_EQ(statue_count(), 0);
  EXPECT_EQ(billboard_count(), 0);
  EXPECT_EQ(camera_count(), 0);
  EXPECT_EQ(timing_gates()->gate_count, 0);
}

TEST(TrackLoad, HashCoversExactlyTheDefiningFiles) {
  TrackFiles files("track-hash");
  std::string base = load_and_hash(files);
  // The same digest over the named files in their order, the shapes last.
  std::string all = files.read("terrain.hf") + files.read("tilemap") + files.read("tileinfo") +
                    files.read("timing_gates") + files.read("statues") + read_text_file(files.root + "gate.shp") +
                    read_text_file(files.root + "rock.shp");
  uint8_t digest[20];
  ripemd160(all.data(), all.size(), digest);
  EXPECT_EQ(base, hex(digest));

  auto changes = [&](const std::string &name, bool in_track, bool expect_change) {
    std::string where = in_track ? files.path + "/" + name : files.root + name;
    std::string before = read_text_file(where);
    write_text_file(where, before + " ");
    std::string after = load_and_hash(files);
    write_text_file(where, before);
    EXPECT_EQ(after != base, expect_change) << name;
  };
  changes("terrain.hf", true, true);
  changes("tileinfo", true, true);
  changes("tilemap", true, true);
  changes("timing_gates", true, true);
  changes("statues", true, true);
  changes("rock.shp", false, true);
  changes("gate.shp", false, true);
  changes("lighting", true, false);
  changes("billboards", true, false);
  changes("flaggers", true, false);
  changes("cameras", true, false);
  changes("decals", true, false);
  changes("rock.hm", false, false);
  // An image and a texture list count once they exist.
  files.put("terrain.png", "pixels");
  EXPECT_NE(load_and_hash(files), base);
  files.remove("terrain.png");
  files.put("texturelist", "grass.png\n");
  EXPECT_NE(load_and_hash(files), base);
  files.remove("texturelist");
  EXPECT_EQ(load_and_hash(files), base);
}

TEST(TrackLoad, ReloadOnlyWhenAsked) {
  TrackFiles files("track-reload");
  ASSERT_EQ(track_ensure_loaded(files.dir.c_str(), 0, 0), 1);
  Terrain *first = track_terrain();
  terrain_set_height(first, 3, 3, 99);
  // Offline, the same directory keeps the loaded track (and its ruts).
  ASSERT_EQ(track_ensure_loaded(files.dir.c_str(), 0, 0), 1);
  EXPECT_FLOAT_EQ(terrain_vertex_height(track_terrain(), 3, 3), 99);
  // Online or forced, it is read again from the files.
  ASSERT_EQ(track_ensure_loaded(files.dir.c_str(), 1, 0), 1);
  EXPECT_NEAR(terrain_vertex_height(track_terrain(), 3, 3), 5, 1e-3);
  terrain_set_height(track_terrain(), 3, 3, 99);
  ASSERT_EQ(track_ensure_loaded(files.dir.c_str(), 0, 1), 1);
  EXPECT_NEAR(terrain_vertex_height(track_terrain(), 3, 3), 5, 1e-3);
  EXPECT_EQ(track_ensure_loaded("tracks/none", 0, 0), 0);
  EXPECT_EQ(current_track_dir(), nullptr);
}

TEST(TrackLoad, MissingAndBadFilesRefuseTheTrack) {
  TrackFiles files("track-fail");
  ASSERT_EQ(load_track(files.dir.c_str()), 1);

  files.remove("tilemap");
  message_clear();
  EXPECT_EQ(load_track(files.dir.c_str()), 0);
  EXPECT_EQ(newest_message(), "Can't open '" + files.path + "/tilemap'");
  EXPECT_EQ(current_track_dir(), nullptr);
  EXPECT_EQ(track_terrain(), nullptr);
  EXPECT_EQ(statue_count(), 0);
  files.put("tilemap", "\x01");  // short: the rest is tile 0
  EXPECT_EQ(load_track(files.dir.c_str()), 1);

  files.remove("tileinfo");
  EXPECT_EQ(load_track(files.dir.c_str()), 0);
  EXPECT_EQ(newest_message(), "Can't open '" + files.path + "/texturelist'");
  files.put("texturelist", "0.7 5 15 mud.png\n");
  ASSERT_EQ(load_track(files.dir.c_str()), 1);
  EXPECT_STREQ(track_terrain()->tiles[0].tile_name, "mud.png");

  files.put("terrain.hf", "3 2.0 0 1\n:");
  EXPECT_EQ(load_track(files.dir.c_str()), 0);
  EXPECT_EQ(newest_message(), "Error reading heights");
  files.remove("terrain.hf");
  EXPECT_EQ(load_track(files.dir.c_str()), 0);
  EXPECT_EQ(newest_message(), "Can't open '" + files.path + "/terrain.hf'");
  EXPECT_EQ(load_track(nullptr), 0);
}

// The shading is required and must fit the grid; the shadows may be left
// out but must fit when given. A refused track leaves no track loaded and
// the next good one loads.
TEST(TrackLoad, ShadingAndShadowsMustFitTheGrid) {
  TrackFiles files("track-shading");
  files.put("shadingx2.ppm", flat_shading_ppm(65));
  message_clear();
  EXPECT_EQ(load_track(files.dir.c_str()), 0);
  EXPECT_EQ(newest_message(), "Bad shading dimensions (65x65)");
  EXPECT_EQ(track_terrain(), nullptr);

  files.remove("shadingx2.ppm");
  EXPECT_EQ(load_track(files.dir.c_str()), 0);
  EXPECT_EQ(newest_message(), "Can't open '" + files.path + "/shading.ppm'");
  files.put("shading.ppm", "P6 129 129 255\n" + std::string(129 * 129 * 3, static_cast<char>(201)));
  files.put("shadows.pgm", "P5 129 128 255\n" + std::string(129 * 128, static_cast<char>(255)));
  EXPECT_EQ(load_track(files.dir.c_str()), 0);
  EXPECT_EQ(newest_message(), "Bad shadow dimensions (129x128)");
  files.put("shadows.pgm", "P5 129 129 255\n" + std::string(129 * 129, static_cast<char>(17)));
  ASSERT_EQ(load_track(files.dir.c_str()), 1);

  // Without GL the layers are only checked; read into a terrain of the
  // track's size, the full-intensity file comes in halved.
  Terrain *t = terrain_create(6, 2.0f, 0, 1);
  DataFile *f = dfile_open((files.path + "/shading.ppm").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(terrain_read_shading(t, f, 1), 1);
  dfile_close(f);
  f = dfile_open((files.path + "/shadows.pgm").c_str(), "rb");
  ASSERT_EQ(terrain_read_shadows(t, f), 1);
  dfile_close(f);
  ASSERT_NE(terrain_shading_layer(t), nullptr);
  EXPECT_EQ(terrain_shading_layer(t)[0], 100);
  EXPECT_EQ(terrain_shading_layer(t)[129 * 129 * 3 - 1], 100);
  EXPECT_EQ(terrain_shadow_layer(t)[129 * 129 - 1], 17);
  terrain_free(t);
}

TEST(TrackList, ScanSortsByDisplayName) {
  std::string root = make_temp_dir("track-list") + "/";
  track_set_root(root.c_str());
  write_text_file(root + "t/b/desc", "zebra");
  write_text_file(root + "t/c/desc", "Same");
  write_text_file(root + "t/d/desc", "same");
  write_text_file(root + "t/e/desc", std::string("Apple\0ignored", 13));
  const char *names[] = {"t/a/terrain.hf.gz", "t/b/terrain.hf",  "t/b/terrain.hf.gz", "t/c/terrain.hf",
                         "t/x/tilemap",       "t/d/terrain.hf.scram", "t/e/terrain.hf.gz.scram",
                         "terrain.hf",        "t/f/terrain.hfx", nullptr};
  ASSERT_EQ(scan_tracks_from(names), 5);
  // Lower-case order; equal names keep their scan order; a directory
  // without "desc" is its own display name.
  EXPECT_STREQ(track_name(0), "Apple");
  EXPECT_STREQ(track_name(1), "Same");
  EXPECT_STREQ(track_dir(1), "t/c");
  EXPECT_STREQ(track_dir(2), "t/d");
  EXPECT_STREQ(track_name(3), "t/a");
  EXPECT_STREQ(track_name(4), "zebra");
  EXPECT_EQ(track_dir(5), nullptr);
  EXPECT_STREQ(track_display_name("t/b"), "zebra");
  EXPECT_STREQ(track_display_name("t/unknown"), "t/unknown");
  track_set_root("@");
}

TEST(TrackInfo, SummaryFileNextToTheDirectory) {
  TrackFiles files("track-info");
  const char *names[] = {"tracks/alpha/terrain.hf", nullptr};
  scan_tracks_from(names);
  std::string hash = load_and_hash(files);
  message_clear();
  save_track_info();
  std::string info = read_text_file(files.root + "tracks/alpha.trackinfo");
  EXPECT_EQ(info, "dir=tracks/alpha\nlongname=Alpha Valley\nfirstlap=3\nnormallap=3\ngatecount=1\nhash=" + hash +
                      "\n");
  EXPECT_FALSE(file_exists(files.root + "tracks/alpha.trackinfo.tmp"));
  EXPECT_EQ(newest_message(), "Track info saved to " + files.root + "tracks/alpha.trackinfo");
}

TEST(TrackObjects, LightingFlaresAndLimits) {
  std::string dir = make_temp_dir("lighting");
  std::string text = "near_plane 2\nfar_plane 9e9\nsun_vector [0 0 0]\ndynamic_lighting 3\nsky_n  north.png  \n";
  for (int k = 0; k < 10; k++) text += "flare_element [1 2] [1 1 1] 0.5 f" + std::to_string(k) + ".png\n";
  text += "flare_element [1 2] [1 1] 0.5 bad.png\nflare_vector [0 1 0]\nflare_point [1 2 3]\n";
  write_text_file(dir + "/lighting", text);
  load_lighting((dir + "/lighting").c_str());
  const Lighting *l = track_lighting();
  EXPECT_FLOAT_EQ(l->near_plane, 0.875f);
  EXPECT_FLOAT_EQ(l->far_plane, 1048576.0f);
  EXPECT_NEAR(l->sun_vector[0], 1 / std::sqrt(3.0f), 1e-6);
  EXPECT_EQ(l->dynamic_lighting, 1);
  EXPECT_STREQ(l->sky[0], "north.png");
  ASSERT_EQ(l->flare_count, 2);
  EXPECT_TRUE(l->flares[0].is_direction);
  EXPECT_EQ(l->flares[0].element_count, 8);
  EXPECT_STREQ(l->flares[0].elements[7].texture_path, "f7.png");
  EXPECT_FALSE(l->flares[1].is_direction);
  EXPECT_EQ(l->flares[1].element_count, 0);
  free_track_objects();
  EXPECT_FLOAT_EQ(track_lighting()->far_plane, 5000);
}
