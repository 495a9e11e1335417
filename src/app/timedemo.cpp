#include "app/timedemo.h"

#include <algorithm>
#include <cstring>

#include "app/alloc.h"
#include "app/types.h"
#include "assets/texture.h"
#include "app/config.h"
#include "platform/input.h"
#include "platform/log.h"
#include "race/race.h"
#include "render/render_stats.h"
#include "render/scene.h"
#include "render/terrain_render.h"
#include "replay/demo.h"
#include "replay/history.h"
#include "runner/runner.h"
#include "track/track.h"

namespace {

// A guard against a demo that never ends: an hour of race time.
constexpr int max_timedemo_frames = 3600 * timedemo_frames_per_second;

double load_start = -1;

// Where a frame's time went: the scene's own parts, the race tics, and the
// HUD, the swap (with the rasterisation it waits for) and the rest (terrain
// update, camera, frills).
enum Part {
  part_compose, part_terrain, part_bikes, part_statues, part_billboards, part_flares, part_hud, part_swap, part_tics,
  part_rest, part_count
};
const char *const part_names[part_count] = {"compose", "terrain", "bikes", "statues", "billboards",
                                            "flares",  "hud",     "swap",  "tics",    "rest"};

struct FrameParts {
  double seconds[part_count];
  int model_polygons, ground_polygons, billboards;
};

void take_parts(FrameParts *p, const FrameOverhead &o, double tics, double total) {
  const SceneTimes &t = scene_times();
  double timed[] = {t.compose, t.terrain, t.bikes, t.statues, t.billboards, t.flares, o.hud, o.swap, tics};
  static_assert(sizeof timed / sizeof timed[0] == part_rest);
  double used = 0;
  for (int i = 0; i < part_rest; i++) {
    p->seconds[i] = timed[i];
    used += timed[i];
  }
  p->seconds[part_rest] = total - used;
  const RenderStats &counts = render_stats();
  p->model_polygons = counts.model_polygons;
  p->ground_polygons = counts.ground_polygons;
  p->billboards = counts.billboards;
}

void report_parts(const FrameParts *parts, const double *times, int count, FILE *err) {
  if (count == 0) return;
  int worst = 0;
  for (int i = 1; i < count; i++)
    if (times[i] > times[worst]) worst = i;
  fprintf(err, "timedemo parts (ms):  %-10s %8s %8s %8s\n", "part", "mean", "max", "worst");
  for (int k = 0; k < part_count; k++) {
    double sum = 0, most = 0;
    for (int i = 0; i < count; i++) {
      sum += parts[i].seconds[k];
      most = std::max(most, parts[i].seconds[k]);
    }
    fprintf(err, "timedemo parts (ms):  %-10s %8.2f %8.2f %8.2f\n", part_names[k], sum / count * 1000, most * 1000,
            parts[worst].seconds[k] * 1000);
  }
  double models = 0, grounds = 0, boards = 0;
  for (int i = 0; i < count; i++) {
    models += parts[i].model_polygons;
    grounds += parts[i].ground_polygons;
    boards += parts[i].billboards;
  }
  fprintf(err, "timedemo: mean %.0f model, %.0f ground polygons, %.0f billboards; worst frame %d of %d: %d, %d, %d\n",
          models / count, grounds / count, boards / count, worst, count, parts[worst].model_polygons,
          parts[worst].ground_polygons, parts[worst].billboards);
}

double now_seconds() { return time_seconds(time_now()); }

// Playback is over when no played rider has a state newer than the tic.
bool playback_over(int tic) {
  for (int i = 0; i < max_slots; i++) {
    const Slot *s = race_slot(i);
    if (s->bike && s->drive_mode == drive_history && history_newest_tic(i) > tic) return false;
  }
  return true;
}

// Resident memory in MiB, from the kernel's own count (0 when unknown).
double resident_mib() {
  FILE *f = fopen("/proc/self/statm", "r");
  if (!f) return 0;
  long pages = 0, resident = 0;
  int n = fscanf(f, "%ld %ld", &pages, &resident);
  fclose(f);
  return n == 2 ? resident * 4096.0 / (1024.0 * 1024.0) : 0;
}

}  // namespace

int timedemo_check(const char *path, FILE *err) {
  DemoHeader header;
  const char *error = nullptr;
  if (demo_read_header(path, &header, &error)) {
    if (header.rider_count > 0) return 1;
    error = "holds no riders";
  }
  fprintf(err, "timedemo: %s: %s\n", path, error ? error : "not a demo");
  return 0;
}

void timedemo_mark_load() { load_start = now_seconds(); }

int timedemo_frame_tic(int start, int frame) {
  return start + static_cast<int>(static_cast<long long>(frame) * tics_per_second / timedemo_frames_per_second);
}

void timedemo_summary(double *times, int count, double total, char *line, int size) {
  double worst = 0, median = 0;
  if (count > 0) {
    worst = *std::max_element(times, times + count);
    std::nth_element(times, times + count / 2, times + count);
    median = times[count / 2];
    if (count % 2 == 0) median = (median + *std::max_element(times, times + count / 2)) * 0.5;
  }
  double fps = total > 0 ? count / total : 0;
  snprintf(line, static_cast<size_t>(size), "timedemo: %d frames %.2f seconds %.1f fps, worst frame %.1f ms, median %.1f ms",
           count, total, fps, worst * 1000.0, median * 1000.0);
}

int timedemo_run(void (*frame)(FrameOverhead *), int show_parts, FILE *out) {
  RaceState &race = race_state();
  if (race.running_count == 0) {
    fprintf(stderr, "timedemo: the demo has no riders on this track\n");
    return 1;
  }
  double *times = nullptr;
  FrameParts *parts = nullptr;
  int count = 0, capacity = 0, parts_capacity = 0;
  int start = race.tic;
  double begin = now_seconds(), last = begin;
  double first_frame = 0;
  uint64_t final_hash = 0;
  bool have_final = false;
  for (int n = 0; n < max_timedemo_frames; n++) {
    race.viewed_slot = race.running_order[0].slot;
    FrameOverhead overhead = {0, 0};
    frame(&overhead);
    if (n == 0) first_frame = now_seconds();
    bool over = playback_over(race.tic);
    double tics_start = now_seconds(), tics = 0;
    if (!over) {
      int target = timedemo_frame_tic(start, n + 1);
      while (race.tic < target) {
        // The state where playback ends, as the race runner takes it, so the
        // log shows that drawing left the simulation alone.
        if (!have_final && playback_over(race.tic)) {
          final_hash = race_state_hash(race.tic);
          have_final = true;
        }
        race_step();
      }
      tics = now_seconds() - tics_start;
      Terrain *terrain = track_terrain();
      if (terrain) {
        terrain_set_reshade_interval(terrain, (1 << static_cast<int>(game_settings().reshade_delay.value)) - 1);
        terrain_update(terrain);
      }
    }
    double now = now_seconds();
    grow_array(times, count, capacity);
    grow_array(parts, count, parts_capacity);
    take_parts(&parts[count], overhead, tics, now - last);
    times[count++] = now - last;
    last = now;
    if (over) break;
  }
  double total = last - begin;
  // Figures beyond the one line go to the log.
  char figures[256];
  snprintf(figures, sizeof figures, "timedemo: track load to first frame %.3f s, resident memory %.1f MiB, texture memory %.1f MiB\n",
           load_start >= 0 ? first_frame - load_start : 0.0, resident_mib(), texture_memory() / (1024.0 * 1024.0));
  hovl_log("%s", figures);
  if (!have_final) final_hash = race_state_hash(race.tic);
  hovl_log("timedemo: final state hash %016llx\n", static_cast<unsigned long long>(final_hash));
  if (show_parts) fputs(figures, stderr);
  if (show_parts) report_parts(parts, times, count, stderr);
  tracked_free(parts);
  char line[256];
  timedemo_summary(times, count, total, line, sizeof line);
  fprintf(out, "%s\n", line);
  fflush(out);
  tracked_free(times);
  return 0;
}
