// The track list and the current track.
#pragma once

// Builds the track list from the file list; returns the count.
int scan_tracks();
int track_count();
const char *track_dir(int index);
const char *track_name(int index);
// The display name from the list, or the directory itself.
const char *track_display_name(const char *dir);
// 1 on success; on failure there is no current track.
int load_track(const char *dir);
void free_track();
void save_track_info();
