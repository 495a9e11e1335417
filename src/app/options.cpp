#include "app/options.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"

namespace {

enum class Kind {
  flag,        // no value
  int_checked, // "%d", "Bad arg" on failure
  float_checked,
  int_unchecked,  // "%d", left alone on failure
  int_atoi,
  text,
  center,  // "%f,%f,%f", "Bad arg" with fewer than three
};

struct Option {
  const char *name;
  Kind kind;
  int id;
};

enum {
  o_fugly, o_nosound, o_novertexarrays, o_learn, o_nolearn, o_nommx, o_debug, o_super_debug, o_practice,
  o_warp, o_texture_detail, o_ground_texture_detail, o_roostfrequency, o_erode, o_detail,
  o_max_detail_distance, o_lod_scale, o_lod_bias, o_lock_fps, o_fake_lag, o_fake_loss, o_record_audio,
  o_record_video, o_rotate_lineup, o_editor, o_hidden_pause, o_hidden_hud, o_bikes, o_width, o_height,
  o_depth, o_zdepth, o_draw_fps, o_draw_time, o_draw_ping, o_draw_speed, o_draw_render_stats,
  o_accurate_skip, o_track, o_connect, o_password, o_chase_center, o_open_home, o_glfinish,
  o_print_orientation, o_timedemo,
};

// In the order they are tried.
const Option options[] = {
    {"--fugly", Kind::flag, o_fugly},
    {"--nosound", Kind::flag, o_nosound},
    {"--novertexarrays", Kind::flag, o_novertexarrays},
    {"--learn", Kind::flag, o_learn},
    {"--nolearn", Kind::flag, o_nolearn},
    {"--nommx", Kind::flag, o_nommx},
    {"--debug", Kind::flag, o_debug},
    {"--super-debug", Kind::flag, o_super_debug},
    {"--practice", Kind::flag, o_practice},
    {"--warp", Kind::flag, o_warp},
    {"--texture-detail", Kind::int_checked, o_texture_detail},
    {"--ground-texture-detail", Kind::int_checked, o_ground_texture_detail},
    {"--roostfrequency", Kind::int_checked, o_roostfrequency},
    {"--erode", Kind::float_checked, o_erode},
    {"--detail", Kind::float_checked, o_detail},
    {"--max-detail-distance", Kind::float_checked, o_max_detail_distance},
    {"--lod-scale", Kind::float_checked, o_lod_scale},
    {"--lod-bias", Kind::float_checked, o_lod_bias},
    {"--lock-fps", Kind::float_checked, o_lock_fps},
    {"--fake-lag", Kind::float_checked, o_fake_lag},
    {"--fake-loss", Kind::int_checked, o_fake_loss},
    {"--record-audio", Kind::text, o_record_audio},
    {"--record-video", Kind::flag, o_record_video},
    {"--rotate-lineup", Kind::int_unchecked, o_rotate_lineup},
    {"--editor", Kind::flag, o_editor},
    {"--hidden-pause", Kind::flag, o_hidden_pause},
    {"--hidden-hud", Kind::flag, o_hidden_hud},
    {"--bikes", Kind::text, o_bikes},
    {"--width", Kind::int_unchecked, o_width},
    {"--height", Kind::int_unchecked, o_height},
    {"--depth", Kind::int_atoi, o_depth},
    {"--zdepth", Kind::int_atoi, o_zdepth},
    {"--draw-fps", Kind::int_atoi, o_draw_fps},
    {"--draw-time", Kind::int_atoi, o_draw_time},
    {"--draw-ping", Kind::int_atoi, o_draw_ping},
    {"--draw-speed", Kind::int_atoi, o_draw_speed},
    {"--draw-render-stats", Kind::int_atoi, o_draw_render_stats},
    {"--accurate-skip", Kind::flag, o_accurate_skip},
    {"--track", Kind::text, o_track},
    {"--connect", Kind::text, o_connect},
    {"--password", Kind::text, o_password},
    {"--chase-center", Kind::center, o_chase_center},
    {"--open-home", Kind::flag, o_open_home},
    {"--glfinish", Kind::flag, o_glfinish},
    {"--print-orientation", Kind::flag, o_print_orientation},
    {"--timedemo", Kind::text, o_timedemo},
};

int clamp_int(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }
float clamp_float(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }

// Matches argv[i] against an option; sets *value (null when the value is missing)
// and *consumed (extra arguments used). Returns false when it is not this option.
bool match(const Option &o, int argc, char **argv, int i, const char **value, int *consumed) {
  const char *arg = argv[i];
  size_t n = strlen(o.name);
  *value = nullptr;
  *consumed = 0;
  if (o.kind == Kind::flag) return strcmp(arg, o.name) == 0;
  if (strncmp(arg, o.name, n) != 0) return false;
  if (arg[n] == '=') {
    *value = arg + n + 1;
    return true;
  }
  if (arg[n] != '\0') return false;
  if (i + 1 < argc) {
    *value = argv[i + 1];
    *consumed = 1;
  }
  return true;
}

bool read_int(const char *value, int *out) { return value && sscanf(value, "%d", out) == 1; }
bool read_float(const char *value, float *out) { return value && sscanf(value, "%f", out) == 1; }

// Applies a value that converted; returns false for a bad value of a checked option.
bool apply(const Option &o, const char *value, ProgramSettings *s, FILE *err) {
  int i = 0;
  float f = 0;
  switch (o.kind) {
    case Kind::int_checked:
      if (!read_int(value, &i)) return false;
      break;
    case Kind::float_checked:
      if (!read_float(value, &f)) return false;
      break;
    case Kind::int_unchecked:
      if (!read_int(value, &i)) return true;
      break;
    case Kind::int_atoi:
      if (!value) return true;
      i = atoi(value);
      break;
    case Kind::text:
      // A timedemo without its demo cannot measure anything: that is an error.
      if (!value && o.id == o_timedemo) return false;
      if (!value && o.id != o_bikes) return true;
      break;
    case Kind::center: {
      float c[3];
      if (!value || sscanf(value, "%f,%f,%f", &c[0], &c[1], &c[2]) != 3) return false;
      memcpy(s->chase_center, c, sizeof c);
      return true;
    }
    case Kind::flag:
      break;
  }
  switch (o.id) {
    case o_fugly: s->fugly = 1; break;
    case o_nosound: s->nosound = 1; break;
    case o_novertexarrays: s->novertexarrays = 1; break;
    case o_learn: s->learn = 1; break;
    case o_nolearn: s->learn = 0; break;
    case o_nommx: s->nommx = 1; break;
    case o_debug: s->debug = 1; break;
    case o_super_debug: s->debug = 2; break;
    case o_practice: s->practice = 1; break;
    case o_warp: s->warp = 1; break;
    case o_texture_detail:
      s->texture_detail = s->ground_texture_detail = clamp_int(i, 0, 4);
      break;
    case o_ground_texture_detail: s->ground_texture_detail = clamp_int(i, 0, 4); break;
    case o_roostfrequency: s->roost_frequency = clamp_int(i, 0, 1000); break;
    case o_erode: s->erode_rate = static_cast<int>(std::floor(clamp_float(f, 0, 100) * 1024.0f)); break;
    case o_detail: s->detail = f; break;
    case o_max_detail_distance: s->max_detail_distance = f; break;
    case o_lod_scale: s->lod_scale = clamp_float(f, 0.000001f, 1000000.0f); break;
    case o_lod_bias:
      s->lod_bias = f;
      s->lod_bias_set = 1;
      break;
    case o_lock_fps: s->lock_fps = f; break;
    case o_fake_lag: s->fake_lag = clamp_float(f * 0.001f, 0, 1); break;
    case o_fake_loss: s->fake_loss = clamp_int(i, 0, 100); break;
    case o_record_audio: s->record_audio = value; break;
    case o_record_video: s->record_video = 1; break;
    case o_rotate_lineup: s->rotate_lineup = i; break;
    case o_editor: s->editor = 1; break;
    case o_hidden_pause: s->show_paused = 0; break;
    case o_hidden_hud: s->show_hud = 0; break;
    case o_bikes: fprintf(err, "--bikes doesn't do anything anymore\n"); break;
    case o_width: s->width = i; break;
    case o_height: s->height = i; break;
    case o_depth: s->colour_depth = i; break;
    case o_zdepth: s->zdepth = i; break;
    case o_draw_fps: s->draw_fps = i; break;
    case o_draw_time: s->draw_time = i; break;
    case o_draw_ping: s->draw_ping = i; break;
    case o_draw_speed: s->draw_speed = i; break;
    case o_draw_render_stats: s->draw_render_stats = i; break;
    case o_accurate_skip: s->accurate_skip = 1; break;
    case o_track: s->track = value; break;
    case o_connect:
      s->connect = strncmp(value, "torvane:", 8) == 0 ? value + 8 : value;
      break;
    case o_password: s->password = value; break;
    case o_open_home: s->open_home = 1; break;
    case o_glfinish: s->glfinish = 1; break;
    case o_print_orientation: s->print_orientation = 1; break;
    case o_timedemo: s->timedemo = value; break;
    default: break;
  }
  return true;
}

}  // namespace

void print_usage(FILE *out) {
  fputs(
      "Usage: torvane [OPTION]... [DEMO.qxdemo]\n"
      "A motocross racing simulator: ride a simulated dirt bike on a track that ruts\n"
      "as you race, against robot riders or online; a demo file given is played back.\n"
      "\n"
      "  -h, --help                 show this text and exit\n"
      "      --version              show the version and exit\n"
      "      --open-home            open the home folder (or print its path) and exit\n"
      "      --track DIR            start on this track\n"
      "      --connect HOST[:PORT]  join a race server (a leading \"torvane:\" is removed)\n"
      "      --password TEXT        password for the race server\n"
      "      --nosound              no audio output\n"
      "      --width N, --height N  window size (the Windowed video mode uses it)\n"
      "      --depth N, --zdepth N  colour and depth-buffer bits\n"
      "      --practice             every robot rides as the \"tester\" auto pilot\n"
      "      --learn, --nolearn     robot line learning on or off\n"
      "      --erode R              ruts: erosion rate 0..100\n"
      "      --texture-detail N     model and ground texture reduction 0..4\n"
      "      --ground-texture-detail N  ground texture reduction 0..4\n"
      "      --roostfrequency N     thrown dirt density 0..1000\n"
      "      --detail F             terrain level-of-detail error threshold\n"
      "      --max-detail-distance F  terrain full-detail distance\n"
      "      --lod-scale F, --lod-bias F  model level-of-detail scale and bias\n"
      "      --lock-fps F           lock the frame rate\n"
      "      --fake-lag MS, --fake-loss PERCENT  simulate a bad network\n"
      "      --record-audio FILE    record the mixed audio to FILE\n"
      "      --record-video         write every frame to standard output as PPM\n"
      "      --rotate-lineup N      rotate the New Race gates by N after each race\n"
      "      --editor               the view key reaches the track editor\n"
      "      --hidden-pause, --hidden-hud  do not show \"Paused\" / the HUD\n"
      "      --draw-fps N, --draw-time N, --draw-ping N, --draw-speed N,\n"
      "      --draw-render-stats N  HUD display switches (0 or 1)\n"
      "      --accurate-skip        skipping forward in a demo simulates\n"
      "      --chase-center X,Y,Z   the chase view's aiming point on the bike\n"
      "      --warp                 fast-forward\n"
      "      --fugly                flat shading, plainest drawing\n"
      "      --novertexarrays       draw without vertex arrays\n"
      "      --glfinish             finish GL after every frame\n"
      "      --print-orientation    print the camera every frame in rider view\n"
      "      --timedemo FILE.qxdemo play the demo as fast as frames draw, print the frame rate, exit\n"
      "      --debug, --super-debug  log more detail\n"
      "      --nommx                no MMX code paths\n"
      "      --bikes X              ignored (kept for old scripts)\n"
      "Options taking a value also accept OPTION=VALUE.\n"
      "\n"
      "Files: configuration, bike setups, demos, results, screenshots and the log\n"
      "lastlog.txt live in $XDG_DATA_HOME/torvane/ (~/.local/share/torvane/). The\n"
      "game data is torvane.saf beside the program (or under PREFIX/share/torvane);\n"
      "QX_HOME names an extra data folder. The game starts full screen; for a\n"
      "window write the line video_mode=Windowed into the file \"config\" there\n"
      "(with xres= and yres= for its size, or --width and --height).\n",
      out);
}

int command_line_info(int argc, char **argv, FILE *out) {
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--") == 0) break;
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      print_usage(out);
      return 0;
    }
    if (strcmp(argv[i], "--version") == 0) {
      fprintf(out, "torvane %s\n", torvane_version);
      return 0;
    }
  }
  return -1;
}

int parse_command_line(int argc, char **argv, ProgramSettings *s, FILE *err) {
  bool options_done = false;
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    if (!options_done && strcmp(arg, "--") == 0) {
      options_done = true;
      continue;
    }
    bool handled = false;
    if (!options_done) {
      for (const Option &o : options) {
        const char *value;
        int consumed;
        if (!match(o, argc, argv, i, &value, &consumed)) continue;
        if (!apply(o, value, s, err)) {
          fprintf(err, "Bad arg for %s\n", o.name);
          return 1;
        }
        i += consumed;
        handled = true;
        break;
      }
    }
    if (handled) continue;
    if (arg[0] == '-' && !options_done) {
      fprintf(err, "bad option '%s'\n", arg);
      return 1;
    }
    if (s->demo_file) {
      fprintf(err, "Too many files!\n");
      return 1;
    }
    s->demo_file = arg;
  }
  return -1;
}
