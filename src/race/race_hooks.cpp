// Neutral stand-ins for modules that are not built yet; see race_hooks.h.
#include "race/race_hooks.h"

void hook_finish_series_event() {}
void hook_loading_screen(const char *) {}
void hook_save_lines() {}
void hook_clear_lines() {}
void hook_load_lines(int) {}
void hook_analyse_lines() {}
void hook_set_personality(BikeState *, const char *) {}
void hook_autopilot(int) {}
void hook_record_lines(int) {}
void hook_clear_history() {}
void hook_history_pose(int, int) {}
int hook_history_newest_tic(int) { return -1; }
void hook_demo_close_read() {}
void hook_demo_close_write() {}
void hook_demo_open_write() {}
int hook_demo_open_read(const char *) { return 0; }
int hook_demo_rider_count() { return 0; }
int hook_demo_rider(int, const char **, const char **, const char *[4], const char **) { return 0; }
void hook_demo_map_rider(int, int) {}
const char *hook_demo_track() { return nullptr; }
void hook_demo_write_tic(int) {}
void hook_demo_read_ahead() {}
void hook_erode_sample(BikeState *) {}
void hook_erode_apply(int) {}
void hook_roost_emit(int, BikeState *) {}
void hook_roost_step() {}
void hook_object_contacts(BikeState *, int) {}
void hook_start_gate_touch(BikeState *, int) {}
void hook_bike_bike_contacts(BikeState *, BikeState *, int) {}
void hook_sound_attach(int, BikeState *, const char *) {}
void hook_sound_free(int) {}
void hook_frills_load(const char *) {}
void hook_frills_tic(int) {}
int hook_texture_megabytes() { return 0; }
void hook_release_unused_assets() {}
void hook_place_free_camera(BikeState *) {}
void hook_suspension_graph(BikeState *) {}
void hook_net_clear_slots() {}
void hook_net_remote_update(int) {}
