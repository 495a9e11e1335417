#include "app/console.h"

#include <strings.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/camera.h"
#include "app/config.h"
#include "app/frame_clock.h"
#include "app/keyframes.h"
#include "assets/file.h"
#include "bike/bike.h"
#include "bike/catalogue.h"
#include "net/client.h"
#include "platform/input.h"
#include "platform/log.h"
#include "race/race.h"
#include "race/race_sound.h"
#include "render/render_stats.h"
#include "replay/demo.h"
#include "sound/engine_sound.h"
#include "track/deform.h"
#include "track/objects.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

constexpr int line_size = console_line_length + 1;
constexpr int max_file_name = 1024;  // keyframe file names, with the terminator
constexpr float degrees_to_radians = 0.017453292f;
constexpr float default_label_spacing = 10;
constexpr int max_message_lines = message_ring_lines;
constexpr float min_map_scale = 0.125f, max_map_scale = 8;

// The console's state lives for the process: the line being edited, the
// history, the message scroll, the chat clock and the "log" switches.
struct Console {
  char input[line_size];
  int cursor;
  char history[console_history_lines][line_size];
  int history_count;  // at least 1: entry 0
  int history_cursor;
  int scroll;
  bool chatted;
  double last_chat;
  int debug_flags;
  float label_spacing;
};

Console console = {{}, 0, {}, 1, 0, 0, false, 0, 0, default_label_spacing};
FrameClock *frame_clock = nullptr;

// Special keys, looked up by name on first use.
struct Keys {
  bool resolved;
  int enter, keypad_enter, up, down, page_up, page_down, left, right, del;
};
Keys keys;

void resolve_keys() {
  if (keys.resolved) return;
  keys = {true,
          input_button_code("enter"),
          input_button_code("keypad enter"),
          input_button_code("up"),
          input_button_code("down"),
          input_button_code("page up"),
          input_button_code("page down"),
          input_button_code("left"),
          input_button_code("right"),
          input_button_code("delete")};
}

bool is_key(int code, int key) { return key >= 0 && code == key; }

void copy_line(char *to, const char *from) {
  if (to == from) return;
  size_t n = strnlen(from, console_line_length);
  memmove(to, from, n);
  to[n] = 0;
}

double program_clock() { return frame_clock ? frame_clock->program_clock : 0; }

// --- The text field: insert mode, at most console_line_length characters --------------

bool printable(int c) { return (c >= 32 && c < 127) || (c >= 160 && c <= 255); }

void edit_line(int code) {
  int length = static_cast<int>(strlen(console.input));
  if (console.cursor > length) console.cursor = length;
  char *text = console.input;
  if (is_key(code, keys.left)) {
    if (console.cursor > 0) console.cursor--;
  } else if (is_key(code, keys.right)) {
    if (console.cursor < length) console.cursor++;
  } else if (code == 8) {
    if (console.cursor > 0) {
      memmove(text + console.cursor - 1, text + console.cursor, static_cast<size_t>(length - console.cursor + 1));
      console.cursor--;
    }
  } else if (code == 127 || is_key(code, keys.del)) {
    if (console.cursor < length)
      memmove(text + console.cursor, text + console.cursor + 1, static_cast<size_t>(length - console.cursor));
  } else if (printable(code) && console.cursor < console_line_length) {
    // The last character falls off at the maximum.
    int keep = length < console_line_length ? length : console_line_length - 1;
    memmove(text + console.cursor + 1, text + console.cursor, static_cast<size_t>(keep - console.cursor));
    text[console.cursor] = static_cast<char>(code);
    text[keep + 1] = 0;
    console.cursor++;
  }
}

void load_history(int entry) {
  copy_line(console.history[console.history_cursor], console.input);
  console.history_cursor = entry;
  copy_line(console.input, console.history[entry]);
  console.cursor = static_cast<int>(strlen(console.input));
}

void line_accepted() {
  int count = console.history_count < console_history_lines ? console.history_count + 1 : console_history_lines;
  for (int k = count - 1; k >= 2; k--) copy_line(console.history[k], console.history[k - 1]);
  copy_line(console.history[1], console.input);
  console.history[0][0] = 0;
  console.history_count = count;
  console.history_cursor = 0;
  console.input[0] = 0;
  console.cursor = 0;
}

// --- Commands -------------------------------------------------------------------------

enum Form { form_exact, form_prefix, form_word };

// A command runs its function, or flips a display setting and says so.
struct Command {
  const char *name;
  Form form;
  int (*run)(const char *args);
  int GameSettings::*setting;
  const char *label;
};

void toggle(int *flag, const char *label) {
  *flag = !*flag;
  char text[96];
  snprintf(text, sizeof text, *flag ? "%.60s ON" : "%.60s OFF", label);
  print_message(text);
}

void printf_message(const char *format, ...) __attribute__((format(printf, 1, 2)));
void printf_message(const char *format, ...) {
  char text[message_line_size * 4];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  print_message(text);
}

// The name after a command: blanks around it removed, at most size - 1
// characters; false when there is none or it does not fit.
bool name_argument(const char *args, char *out, int size) {
  while (*args == ' ' || *args == '\t') args++;
  int length = static_cast<int>(strlen(args));
  while (length > 0 && (args[length - 1] == ' ' || args[length - 1] == '\t')) length--;
  if (length == 0 || length >= size) return false;
  snprintf(out, static_cast<size_t>(size), "%.*s", length, args);
  return true;
}

BikeState *viewed_bike() {
  Slot *s = race_slot(race_state().viewed_slot);
  return s ? s->bike : nullptr;
}

bool read_int(const char *args, int *out) {
  char *end = nullptr;
  long v = strtol(args, &end, 10);
  if (end == args || v < -2147483647L || v > 2147483647L) return false;
  *out = static_cast<int>(v);
  return true;
}

int cmd_savetrackinfo(const char *) {
  if (!current_track_dir()) {
    print_message("No track loaded");
    return 1;
  }
  save_track_info();
  return 1;
}

int cmd_renderstats(const char *) {
  render_stats_reset_maxima();
  return 1;
}

int cmd_togglegraph(const char *) {
  int on = suspension_graph_on();
  toggle(&on, "Suspension graph");
  set_suspension_graph(on);
  return 1;
}

int cmd_bbopt(const char *args) {
  int n;
  if (!read_int(args, &n)) {
    print_message("Usage: bbopt <frames>");
    return 1;
  }
  game_settings().billboard_optimize_lookahead = n;
  printf_message("Billboard optimization window is now %d", n);
  return 1;
}

int cmd_pipe(const char *args) {
  Slot *s = race_slot(race_state().viewed_slot);
  if (!s || !s->bike) return 0;
  EngineVoice *voice = race_sound_voice(race_state().viewed_slot);
  if (!voice) return 0;
  pipe_command(voice, bike_info_class(s->bike->model), args);
  return 1;
}

int cmd_namedemo(const char *args) {
  demo_name_recording(args);
  return 1;
}

int cmd_camangle(const char *args) {
  if (!viewed_bike()) return 0;
  float yaw, pitch;
  if (sscanf(args, "%f %f", &yaw, &pitch) != 2 || !std::isfinite(yaw) || !std::isfinite(pitch)) {
    print_message("Usage: camangle <yaw> <pitch>");
    return 1;
  }
  TrackCamera *c = free_camera();
  c->yaw = yaw * degrees_to_radians;
  c->pitch = pitch * degrees_to_radians;
  print_message("Camera aimed");
  return 1;
}

int cmd_fov(const char *args) {
  print_message(set_slider(&game_settings().fov, args) ? "fov set" : "Usage: fov <degrees>");
  return 1;
}

int cmd_fpshist(const char *) {
  char text[message_line_size];
  int n = 0;
  for (int k = 0; k < frame_histogram_size; k++) {
    int count = frame_clock ? frame_clock->histogram[k] : 0;
    n += snprintf(text + n, sizeof text - static_cast<size_t>(n), "%d=%d ", tics_per_second >> k, count);
    if (frame_clock) frame_clock->histogram[k] = 0;
  }
  print_message(text);
  return 1;
}

int cmd_forcereload(const char *) {
  race_request_track_reload();
  print_message("Track will be reloaded on next restart");
  return 1;
}

int cmd_readsetup(const char *args) {
  command_readsetup(args);
  return 1;
}

int cmd_writesetup(const char *args) {
  command_writesetup(args);
  return 1;
}

int cmd_addkey(const char *) {
  const TrackCamera *c = free_camera();
  CameraKeyframe k;
  k.position[0] = c->x;
  k.position[1] = c->y;
  k.position[2] = c->z;
  keyframe_rotation(c->yaw, c->pitch, k.rotation);
  k.fov = static_cast<float>(game_settings().fov.value);
  k.tic = race_tic();
  add_keyframe(&k);
  print_message("Keyframe added");
  return 1;
}

int cmd_deletekey(const char *) {
  delete_keyframe(race_tic());
  print_message("Keyframe deleted");
  return 1;
}

int cmd_clearkeys(const char *) {
  clear_keyframes();
  print_message("Keyframes cleared");
  return 1;
}

int cmd_listkeys(const char *) {
  const CameraKeyframe *k = keyframes();
  for (int i = 0; i < keyframe_count(); i++)
    printf_message("pos = { %.2f, %.2f, %.2f }, rot = { %.2f, %.2f, %.2f, %.2f }, time = %.2f", k[i].position[0],
                   k[i].position[1], k[i].position[2], k[i].rotation[0], k[i].rotation[1], k[i].rotation[2],
                   k[i].rotation[3], k[i].tic * seconds_per_tic);
  return 1;
}

// "@keycam/" plus the command's name; a name that would leave the folder is
// refused.
bool keycam_path(const char *args, char *out, int size) {
  char name[max_file_name];
  if (!name_argument(args, name, sizeof name)) return false;
  if (!file_name_is_plain(name)) {
    print_message("Bad file name");
    return false;
  }
  return snprintf(out, static_cast<size_t>(size), "@keycam/%s", name) < size;
}

int cmd_readkeys(const char *args) {
  char path[max_file_name + 16];
  DataFile *file = keycam_path(args, path, sizeof path) ? dfile_open(path, "rb") : nullptr;
  int ok = file && read_keyframes(file);
  if (file) dfile_close(file);
  print_message(ok ? "Camera keys updated" : "Error reading camera keys");
  return 1;
}

int cmd_writekeys(const char *args) {
  char path[max_file_name + 16];
  int ok = keycam_path(args, path, sizeof path) && write_keyframes(path);
  print_message(ok ? "Camera keys saved" : "Error saving camera keys");
  return 1;
}

int cmd_togglekeycam(const char *) {
  int on = keycam_mode();
  toggle(&on, "Keycam mode");
  set_keycam_mode(on);
  return 1;
}

int cmd_sendfile(const char *) {
  // The upload itself belongs to the file transfer, which this build lacks.
  print_message("Sending files is not available in this version");
  return 1;
}

bool contains_case_blind(const char *text, int text_length, const char *pattern) {
  int m = static_cast<int>(strlen(pattern));
  for (int at = 0; at + m <= text_length; at++)
    if (strncasecmp(text + at, pattern, static_cast<size_t>(m)) == 0) return true;
  return false;
}

int cmd_listfiles(const char *args) {
  char pattern[line_size] = "";
  sscanf(args, "%119s", pattern);
  char line[message_line_size * 4];
  for (int i = 0; file_index_describe(i, line, sizeof line); i++) {
    const char *arrow = strstr(line, " -> ");
    int name_length = arrow ? static_cast<int>(arrow - line) : static_cast<int>(strlen(line));
    if (contains_case_blind(line, name_length, pattern)) print_message(line);
  }
  return 1;
}

int cmd_messagelines(const char *args) {
  int n;
  if (!read_int(args, &n)) {
    print_message("Usage: messagelines <lines>");
    return 1;
  }
  n = n < 0 ? 0 : n > max_message_lines ? max_message_lines : n;
  game_settings().message_lines = n;
  message_set_limit(n);
  printf_message("Maximum showing messages is now %d", n);
  return 1;
}

int cmd_demobackups(const char *args) {
  int n;
  if (!read_int(args, &n)) {
    print_message("Usage: demobackups <count>");
    return 1;
  }
  // The demo writer keeps at most this many; the setting says what it does.
  n = n < 0 ? 0 : n > max_demo_backups ? max_demo_backups : n;
  game_settings().demo_backups = n;
  printf_message("Now keeping %d demo backups", n);
  return 1;
}

int cmd_mapscale(const char *args) {
  float scale;
  if (sscanf(args, "%f", &scale) != 1 || !std::isfinite(scale)) {
    print_message("Usage: mapscale <scale>");
    return 1;
  }
  scale = scale < min_map_scale ? min_map_scale : scale > max_map_scale ? max_map_scale : scale;
  game_settings().map_scale = scale;
  printf_message("Map scale set to %f", scale);
  return 1;
}

int cmd_hfvol(const char *) {
  const Terrain *t = track_terrain();
  if (!t) {
    print_message("No track loaded");
    return 1;
  }
  double sum = 0;
  long count = static_cast<long>(t->verts_per_side) * t->verts_per_side;
  for (long k = 0; k < count; k++) sum += t->heights[k];
  printf_message("%f\n", sum);
  return 1;
}

int cmd_toggledecals(const char *) {
  Terrain *t = track_terrain();
  if (!t) {
    print_message("No track loaded");
    return 1;
  }
  toggle(&t->hide_decals, "Hide decals");
  terrain_recompose_all(t);
  return 1;
}

int cmd_clearlog(const char *) {
  erode_clear_labels();
  return 1;
}

int cmd_log(const char *args) {
  char letters[line_size] = "";
  float spacing = default_label_spacing;
  int got = sscanf(args, "%119s %f", letters, &spacing);
  if (got < 2 || !std::isfinite(spacing)) spacing = default_label_spacing;
  int flags = strchr(letters, 'e') ? erode_log_labels : 0;
  console.debug_flags = flags;
  console.label_spacing = spacing;
  erode_set_logging(flags, spacing);
  printf_message("Logging 0x%x, spacing %f", flags, spacing);
  return 1;
}

const Command commands[] = {
    {"savetrackinfo", form_exact, cmd_savetrackinfo},
    {"renderstats", form_exact, cmd_renderstats},
    {"togglespy", form_exact, nullptr, &GameSettings::spy, "Spy mode"},
    {"togglegraph", form_exact, cmd_togglegraph},
    {"bbopt", form_prefix, cmd_bbopt},
    {"pipe", form_prefix, cmd_pipe},
    {"namedemo", form_prefix, cmd_namedemo},
    {"camangle", form_prefix, cmd_camangle},
    {"fov", form_prefix, cmd_fov},
    {"fpshist", form_prefix, cmd_fpshist},
    {"forcereload", form_exact, cmd_forcereload},
    {"readsetup", form_prefix, cmd_readsetup},
    {"writesetup", form_prefix, cmd_writesetup},
    {"addkey", form_exact, cmd_addkey},
    {"deletekey", form_exact, cmd_deletekey},
    {"rmkey", form_exact, cmd_deletekey},
    {"clearkeys", form_exact, cmd_clearkeys},
    {"listkeys", form_exact, cmd_listkeys},
    {"readkeys", form_prefix, cmd_readkeys},
    {"writekeys", form_prefix, cmd_writekeys},
    {"togglekeycam", form_exact, cmd_togglekeycam},
    {"togglefps", form_exact, nullptr, &GameSettings::draw_fps, "FPS display"},
    {"toggletime", form_exact, nullptr, &GameSettings::draw_time, "Time display"},
    {"toggleping", form_exact, nullptr, &GameSettings::draw_ping, "Ping display"},
    {"togglespeed", form_exact, nullptr, &GameSettings::draw_speed, "Speed display"},
    {"sendfile", form_word, cmd_sendfile},
    {"listfiles", form_word, cmd_listfiles},
    {"messagelines", form_word, cmd_messagelines},
    {"demobackups", form_word, cmd_demobackups},
    {"mapscale", form_word, cmd_mapscale},
    {"hfvol", form_exact, cmd_hfvol},
    {"toggledecals", form_exact, cmd_toggledecals},
    {"clearlog", form_word, cmd_clearlog},
    {"log", form_word, cmd_log},
};

bool blank(char c) { return c == ' ' || c == '\t'; }

// The arguments of `command` in `text` (after the slash), or null when the
// text is not that command. A name must end at a blank or the line's end,
// so "fovx" is no "fov".
const char *match(const Command &command, const char *text) {
  if (command.form == form_word)
    while (blank(*text)) text++;
  size_t n = strlen(command.name);
  if (strncmp(text, command.name, n) != 0) return nullptr;
  const char *rest = text + n;
  if (command.form == form_exact) return *rest ? nullptr : rest;
  if (*rest && !blank(*rest)) return nullptr;
  if (command.form == form_prefix) return *rest ? rest + 1 : rest;
  while (blank(*rest)) rest++;
  return rest;
}

int run_command(const char *text) {
  for (const Command &c : commands) {
    const char *args = match(c, text);
    if (!args) continue;
    if (c.run) return c.run(args);
    toggle(&(game_settings().*c.setting), c.label);
    return 1;
  }
  return 0;
}

int chat(const char *text) {
  double now = program_clock();
  if (console.chatted && now - console.last_chat < chat_interval) {
    print_message("No one likes a spammer");
    return 0;
  }
  console.chatted = true;
  console.last_chat = now;
  if (!net_connected()) {
    print_message("Not connected to server");
    return 1;
  }
  net_send_chat(text);
  return 1;
}

}  // namespace

int run_console_line(const char *text) {
  if (!text) return 0;
  // Trailing blanks and line ends are nobody's intent.
  char line[message_line_size * 8];
  int length = snprintf(line, sizeof line, "%s", text);
  if (length >= static_cast<int>(sizeof line)) length = static_cast<int>(sizeof line) - 1;
  while (length > 0 && (blank(line[length - 1]) || line[length - 1] == '\r' || line[length - 1] == '\n')) length--;
  line[length] = 0;
  if (length == 0) return 0;
  if (line[0] == '/' || line[0] == '\\') return run_command(line + 1);
  return chat(line);
}

void console_line_key(int code) {
  resolve_keys();
  if (is_key(code, keys.enter) || is_key(code, keys.keypad_enter)) {
    if (run_console_line(console.input)) line_accepted();
  } else if (is_key(code, keys.up)) {
    int older = console.history_cursor + 1 < console.history_count ? console.history_cursor + 1 : console.history_cursor;
    load_history(older);
  } else if (is_key(code, keys.down)) {
    load_history(console.history_cursor > 0 ? console.history_cursor - 1 : 0);
  } else if (is_key(code, keys.page_up)) {
    if (console.scroll < console_max_scroll) console.scroll++;
  } else if (is_key(code, keys.page_down)) {
    if (console.scroll > 0) console.scroll--;
  } else {
    edit_line(code);
  }
}

const char *console_input() { return console.input; }
int console_cursor() { return console.cursor; }
int console_scroll() { return console.scroll; }
int console_history_count() { return console.history_count; }
const char *console_history_line(int index) {
  return index >= 0 && index < console.history_count ? console.history[index] : "";
}
void console_set_frame_clock(FrameClock *clock) { frame_clock = clock; }
int console_debug_flags() { return console.debug_flags; }
float console_label_spacing() { return console.label_spacing; }

void console_reset() {
  console = Console{{}, 0, {}, 1, 0, 0, false, 0, 0, default_label_spacing};
}
