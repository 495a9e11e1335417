// The command line: every option of the game, parsed into one record.
#pragma once
#include <cstdio>

struct ProgramSettings {
  int colour_depth = 16;
  int zdepth = 16;
  int nosound = 0;
  float lock_fps = 0;
  int warp = 0;
  const char *record_audio = nullptr;
  int record_video = 0;
  int show_paused = 1;
  int show_hud = 1;
  int glfinish = 0;
  float chase_center[3] = {0.0f, 2.52f, 0.52f};
  const char *demo_file = nullptr;
  const char *connect = nullptr;  // server name with "torvane:" removed
  const char *password = nullptr;
  int debug = 0;

  int fugly = 0;
  int novertexarrays = 0;
  int learn = -1;  // -1 unset, 0 --nolearn, 1 --learn
  int nommx = 0;
  int practice = 0;
  int texture_detail = -1;         // -1 unset, else 0..4 for models
  int ground_texture_detail = -1;  // -1 unset, else 0..4
  int roost_frequency = -1;        // -1 unset, else 0..1000
  int erode_rate = -1;             // -1 unset, else floor(value x 1024)
  float detail = -1;               // negative when unset
  float max_detail_distance = -1;
  float lod_scale = -1;
  float lod_bias = 0;
  int lod_bias_set = 0;
  float fake_lag = 0;  // seconds
  int fake_loss = 0;   // percent
  int rotate_lineup = 0;
  int editor = 0;
  int width = -1, height = -1;  // -1 unset
  int draw_fps = -1, draw_time = -1, draw_ping = -1, draw_speed = -1, draw_render_stats = -1;
  int accurate_skip = 0;
  const char *track = nullptr;
  int print_orientation = 0;
  int open_home = 0;
  const char *timedemo = nullptr;  // a demo to play as a frame-rate measurement
};

// Parses argv into `settings`. Returns -1 to go on, or the exit status the
// program must end with (messages already written to `err`).
int parse_command_line(int argc, char **argv, ProgramSettings *settings, FILE *err);

// The program's version, shared by every program of the project.
constexpr const char *torvane_version = "0.9.0";
// The usage text: every option with what it does and where files go.
void print_usage(FILE *out);
// --help, -h or --version anywhere before "--": prints to `out` and returns
// 0 (the exit status); otherwise -1.
int command_line_info(int argc, char **argv, FILE *out);
