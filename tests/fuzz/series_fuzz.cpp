// Fuzzes the series reader and then the standings reader on what it
// accepted: the input up to its first zero byte is the series file, the rest
// the standings file. On what was read the lineup, the round ranks and the
// standings table must keep every place and rank inside the field.
#include <cstring>

#include "fuzz_file.h"
#include "race/race.h"
#include "race/series.h"
#include "track/track.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string series_path = fuzz_scratch_path("series");
  static const std::string standings_path = fuzz_scratch_path("standings");
  static bool tracks = false;
  if (!tracks) {
    static const char *const files[] = {"rabbithill/terrain.hf", "quarrybend/terrain.hf", nullptr};
    scan_tracks_from(files);
    tracks = true;
  }
  const uint8_t *split = static_cast<const uint8_t *>(memchr(data, 0, size));
  size_t series_size = split ? static_cast<size_t>(split - data) : size;
  DataFile *f = fuzz_open(series_path, data, series_size);
  if (!f) return 0;
  Series s;
  int ok = series_read(f, "fuzz.series", &s);
  dfile_close(f);
  if (!ok) return 0;
  const uint8_t *rest = split ? split + 1 : data + size;
  DataFile *g = fuzz_open(standings_path, rest, static_cast<size_t>(data + size - rest));
  if (g) {
    standings_read(g, &s);
    dfile_close(g);
  }
  int n = s.competitor_count;
  if (n < 0 || n > max_series_competitors || s.events_done < 0 || s.events_done > s.event_count) __builtin_trap();
  for (int e = 0; e < s.events_done; e++)
    for (int r = 0; r <= n; r++) {
      if (s.events[e].result[r] < 0 || s.events[e].result[r] > n) __builtin_trap();
      if (s.events[e].round_points[0] && (s.events[e].round_rank[r] < 0 || s.events[e].round_rank[r] > n))
        __builtin_trap();
    }
  int kinds[max_slots];
  series_lineup(&s, kinds);
  static StandingsBlock block;
  for (int b = 0; b < standings_block_count(&s) && b < 4; b++) standings_block(&s, b, "999", &block);
  char title[series_text_size + 32];
  standings_title(&s, title, sizeof title);
  series_free(&s);
  return 0;
}
