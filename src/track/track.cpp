// Placeholder track list until track loading lands: lists the directories
// that hold a "terrain.hf".
#include "track/track.h"

#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "assets/file.h"

namespace {
const char *dirs[256];
int count = 0;
}  // namespace

int scan_tracks() {
  count = 0;
  for (const char *const *name = file_list(); *name && count < 256; name++) {
    const char *slash = strrchr(*name, '/');
    if (!slash || strcmp(slash, "/terrain.hf") != 0) continue;
    char dir[512];
    snprintf(dir, sizeof dir, "%.*s", static_cast<int>(slash - *name), *name);
    dirs[count++] = intern_string(dir);
  }
  return count;
}

int track_count() { return count; }
const char *track_dir(int index) { return index >= 0 && index < count ? dirs[index] : nullptr; }
const char *track_name(int index) { return track_dir(index); }
const char *track_display_name(const char *dir) { return dir; }
int load_track(const char *) { return 0; }
void free_track() {}
void save_track_info() {}
