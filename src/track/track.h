// The track list and the current track: loading a track directory in its
// fixed order, the track hash, the summary file, freeing.
#pragma once
#include <cstdint>

struct Terrain;

// Builds the track list from the file list; returns the count.
int scan_tracks();
// The same from a given null-terminated list of file names.
int scan_tracks_from(const char *const *names);
int track_count();
const char *track_dir(int index);
const char *track_name(int index);
// The display name from the list, or the directory itself.
const char *track_display_name(const char *dir);
// 1 on success; on failure there is no current track.
int load_track(const char *dir);
void free_track();
// The race reset's track step: loads dir unless it is already the current
// track, offline and without a forced reload. Returns 1 with the track loaded.
int track_ensure_loaded(const char *dir, int online, int force_reload);
void save_track_info();

// The current track: its directory (null when none), terrain and the
// 20-byte RIPEMD-160 hash over its defining files.
const char *current_track_dir();
// The HUD map picture ("map.png") of the loaded track, 0 when it has none.
unsigned track_map_texture();
Terrain *track_terrain();
const uint8_t *track_hash();

// What has changed since the track was loaded or last saved: three bits
// (ground, surfaces, objects), as the track editor keeps them. A script that
// moves a statue sets all three, as an edit of the editor does.
constexpr int track_modified_all = 7;
void track_mark_modified(int bits);
int track_modified();

// A file of the current track as the loader reads it (empty when the path
// does not fit or no track is loaded).
void current_track_file(char *out, int size, const char *name);

// Track files are read as prefix + dir + "/" + name. The prefix is "@"
// (data paths); tests point it at a scratch directory.
void track_set_root(const char *prefix);
// 0 quiet, 1 and 2 log more (the --debug levels).
void track_set_verbosity(int level);
int track_verbosity();
