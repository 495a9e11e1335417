// torvane-databuild: writes the default data set into the main archive.
//   --out PATH   the archive to write (default "torvane.saf")
//   --icon PATH  also write the desktop icon (the archive's "icon.png") there
//   --png DIR    also write into DIR a top-down picture of every track, a
//                turntable of the bike with its rider ("bike.png") and
//                contact sheets of every picture in the archive
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/options.h"
#include "databuild.h"
#include "image_gen.h"

using namespace databuild;

namespace {
// The whole data set must stay small enough to ship with the program.
constexpr size_t max_archive_bytes = 64u << 20;

// Names the game falls back on when a track's "lighting" names no sky.
void write_default_sky(const char *track_dir, Archive *archive) {
  static const char *const faces[] = {"sky-n", "sky-e", "sky-s", "sky-w", "sky-u", "sky-env"};
  for (const char *face : faces) {
    Bytes link;
    bytes_printf(&link, "LINK @%s/%s.png\n", track_dir, face);
    archive_add(archive, std::string(face) + ".ppm", std::move(link));
  }
}

void usage(FILE *out) {
  fputs(
      "Usage: torvane-databuild [--out PATH] [--icon PATH] [--png DIR]\n"
      "Writes Torvane's default data set (tracks, bikes, pictures, fonts, sounds) as\n"
      "one archive; the build runs it and puts torvane.saf beside the programs.\n"
      "\n"
      "  -h, --help     show this text and exit\n"
      "      --version  show the version and exit\n"
      "      --out PATH the archive to write (default torvane.saf here)\n"
      "      --icon PATH also write the 256 x 256 desktop icon (PNG) to PATH\n"
      "      --png DIR  also write contact sheets (the tracks from above and more)\n"
      "                 into DIR\n",
      out);
}

}  // namespace

int main(int argc, char **argv) {
  const char *out = "torvane.saf";
  const char *png_dir = nullptr;
  const char *icon = nullptr;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      usage(stdout);
      return 0;
    }
    if (strcmp(argv[i], "--version") == 0) {
      printf("torvane-databuild %s\n", torvane_version);
      return 0;
    }
    if (strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
      out = argv[++i];
    } else if (strcmp(argv[i], "--icon") == 0 && i + 1 < argc) {
      icon = argv[++i];
    } else if (strcmp(argv[i], "--png") == 0 && i + 1 < argc) {
      png_dir = argv[++i];
    } else {
      fprintf(stderr, "torvane-databuild: unknown option or missing value '%s'\n", argv[i]);
      usage(stderr);
      return 1;
    }
  }
  auto started = std::chrono::steady_clock::now();
  if (!faces_ready()) return 1;
  Archive archive;
  write_shape_files(&archive);
  write_font_files(&archive);
  write_ui_files(&archive);
  write_ground_textures(&archive);
  write_billboard_textures(&archive);
  write_flare_files(&archive);
  // The rider must hold the grips and stand on the pegs as the game poses him.
  if (!check_rider_pose()) return 1;
  write_bike_models(&archive);
  write_rider_models(&archive);
  write_statue_models(&archive);
  SkinSet skins;
  write_skin_files(&archive, &skins);
  if (png_dir) {
    std::string path = std::string(png_dir) + "/bike.png";
    if (!write_turntable(skins, path.c_str())) return 1;
    printf("Wrote %s\n", path.c_str());
  }
  int ridable = 1;  // robots can race every track
  for (int t = 0; t < track_design_count(); t++) {
    const TrackDesign *design = track_design(t);
    Track track;
    build_track(design, &track);
    if (!check_features(&track)) ridable = 0;
    build_tilemap(&track);
    build_gates(&track);
    TrackLight light = track_light(design);
    Scenery scenery;
    build_scenery(&track, &scenery);
    write_terrain_files(&track, &archive);
    write_ground_files(&track, &scenery, &light, &archive);
    write_tile_files(&track, &archive);
    write_gate_file(&track, &archive);
    write_object_files(&track, &scenery, &archive);
    write_sky_files(&track, &light, &archive);
    write_frills_files(&track, &archive);
    write_map_image(&track, &archive);
    if (t == 0) write_default_sky(design->dir, &archive);
    LapEstimate estimate{};
    if (!write_line_files(&track, &archive, &estimate)) {
      fprintf(stderr, "%s: the robot lines cannot clear every jump\n", design->dir);
      ridable = 0;
    }
    printf("%s: lap %.0f ft, %zu checkpoints, %zu jumps, %zu billboards, lap estimate %.1f s expert, %.1f s amateur, "
           "%.1f s novice\n",
           design->dir, track.length, track.checkpoints.size(), track.jumps.size(), scenery.billboards.size(),
           estimate.lap_seconds[2], estimate.lap_seconds[1], estimate.lap_seconds[0]);
    if (png_dir) {
      std::string path = std::string(png_dir) + "/" + design->dir + ".png";
      if (!write_track_picture(&track, path.c_str())) return 1;
      printf("Wrote %s\n", path.c_str());
    }
  }
  if (!ridable) return 1;
  write_series_files(&archive);
  Bytes image = archive_image(&archive);
  if (image.data.size() > max_archive_bytes) {
    fprintf(stderr, "The data set is %zu bytes, over the limit of %zu\n", image.data.size(), max_archive_bytes);
    return 1;
  }
  if (!write_file_atomic(out, image)) return 1;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  printf("Wrote %s: %zu members, %zu bytes in %.1f s\n", out, archive.names.size(), image.data.size(), seconds);
  // The installed desktop entry needs the icon as a file of its own: the
  // same bytes as the archive member, so the two never differ.
  if (icon) {
    size_t k = 0;
    while (k < archive.names.size() && archive.names[k] != "icon.png") k++;
    if (k == archive.names.size() || !write_file_atomic(icon, archive.members[k])) {
      fprintf(stderr, "Can't write the icon to %s\n", icon);
      return 1;
    }
  }
  if (png_dir && !write_contact_sheets(&archive, png_dir)) return 1;
  return 0;
}
