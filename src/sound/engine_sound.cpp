#include "sound/engine_sound.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alloc.h"
#include "assets/file.h"
#include "platform/audio.h"
#include "platform/log.h"

namespace {

constexpr uint32_t phase_one = 1u << 24;  // one engine cycle
constexpr float minimum_cycle_frequency = 5.0f;
// A cycle lasts at least four samples; only absurd engine speeds reach this.
constexpr float maximum_cycle_frequency = engine_sound_rate / 4.0f;
constexpr int builtin_samples = 1024;
constexpr int max_line = 1024;
constexpr int max_path = 1024;

// The pipes of the built-in templates: length, spread, gain, first, last.
struct Pipe {
  float length, spread, gain;
  int first, last;
};
constexpr Pipe four_stroke_pipe = {5.0f, 0.9182072f, -0.85f, 0, 15};
constexpr Pipe two_stroke_pipe = {1.75f, 0.3f, -0.75f, 0, 15};

struct Recording {
  const char *path;  // interned
  float *samples;
  int count;
};

// Tables and recordings: loaded on demand, kept until engine_sound_release.
SoundTable **tables = nullptr;
int table_count = 0, table_capacity = 0;
Recording *recordings = nullptr;
int recording_count = 0, recording_capacity = 0;

// The built-in tables and templates: made on the first voice creation.
bool builtins_made = false;
VoiceTemplate four_stroke_template, two_stroke_template, fifty_template;

// The view's ear: set once per frame.
SoundListener listener = {};

float clampf(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }

void add_table(SoundTable *table) {
  grow_array(tables, table_count, table_capacity);
  tables[table_count++] = table;
}

// A table of one row (speed 0) and two columns (load 0 and 1): column 1
// holds one cycle of `wave`, column 0 the same at a quarter of the level.
SoundTable *make_builtin_table(const char *name, float (*wave)(float)) {
  SoundTable *table = static_cast<SoundTable *>(alloc_or_die(sizeof(SoundTable)));
  table->name = intern_string(name);
  table->rows = 1;
  table->columns = 2;
  table->cells = static_cast<SoundCell *>(alloc_or_die(sizeof(SoundCell) * 2));
  float *loud = static_cast<float *>(alloc_or_die(sizeof(float) * builtin_samples));
  float *quiet = static_cast<float *>(alloc_or_die(sizeof(float) * builtin_samples));
  for (int i = 0; i < builtin_samples; i++) {
    float w = wave(static_cast<float>(i) / (builtin_samples - 1));
    loud[i] = w;
    quiet[i] = w * 0.25f;
  }
  for (int c = 0; c < 2; c++) {
    SoundCell &cell = table->cells[c];
    cell.samples = c == 0 ? quiet : loud;
    cell.sample_count = builtin_samples;
    cell.cycles = 1;
    cell.remap = nullptr;
    cell.remap_count = 0;
    cell.speed = 0.0f;
    cell.load = static_cast<float>(c);
  }
  add_table(table);
  return table;
}

float four_stroke_wave(float x) {
  const float pi = 3.14159265358979f;
  float w = (std::fabs(std::sin(3.0f * pi * x + 0.5246f)) - 0.5f) * 0.5f;
  if (x < 0.25f) w += std::sin(16.0f * pi * x) * (1.0f - 4.0f * x);
  return w;
}

float two_stroke_wave(float x) {
  const float pi = 3.14159265358979f;
  return x < 0.25f ? std::sin(8.0f * pi * x) * (1.0f - 4.0f * x) : 0.0f;
}

void make_template(VoiceTemplate *t, const SoundTable *table, float cycles, float low, float high,
                   const Pipe &pipe) {
  *t = VoiceTemplate{};
  t->table = table;
  t->cycles_per_revolution = cycles;
  t->low_torque = low;
  t->high_torque = high;
  t->minimum_speed = 1000.0f;
  for (int i = 0; i < pipe_taps; i++) t->tap_delays[i] = voice_sound_length;
  pipe_setup(t, pipe.length, pipe.spread, pipe.gain, pipe.first, pipe.last);
  t->bias[0] = 0.0f;
  t->bias_count = 1;
  t->scale[0] = 1.0f;
  t->scale_count = 1;
}

void make_builtins() {
  if (builtins_made) return;
  const SoundTable *four = make_builtin_table("default_four_stroke", four_stroke_wave);
  const SoundTable *two = make_builtin_table("default_two_stroke", two_stroke_wave);
  make_template(&four_stroke_template, four, 0.5f, -2.5f, 2.5f, four_stroke_pipe);
  make_template(&two_stroke_template, two, 1.0f, -3.5f, 3.5f, two_stroke_pipe);
  make_template(&fifty_template, two, 1.0f, -3.5f, 1.5f, two_stroke_pipe);
  builtins_made = true;
}

bool class_is_four_stroke(const char *bike_class) {
  size_t n = strlen(bike_class);
  return n > 0 && bike_class[n - 1] == 'f';
}

// --- Reading tables and recordings ----------------------------------------

// Raw mono 16-bit little-endian PCM, read to its end; a trailing odd byte
// is ignored. Cached by path for the process.
const Recording *get_recording(const char *path) {
  for (int i = 0; i < recording_count; i++)
    if (strcmp(recordings[i].path, path) == 0) return &recordings[i];
  DataFile *file = dfile_open(path, "rb");
  if (!file) return nullptr;
  constexpr int chunk = 65536;
  constexpr int max_bytes = max_recording_samples * 2 + 1;
  uint8_t *bytes = nullptr;
  int used = 0, capacity = 0;
  bool too_long = false;
  for (;;) {
    if (used + chunk > capacity) {
      capacity = capacity == 0 ? chunk : capacity * 2;
      if (capacity > max_bytes + chunk) capacity = max_bytes + chunk;
      bytes = static_cast<uint8_t *>(realloc_or_die(bytes, static_cast<size_t>(capacity)));
    }
    int got = dfile_read(file, bytes + used, chunk);
    if (got <= 0) break;
    used += got;
    if (used > max_bytes) {
      too_long = true;
      break;
    }
  }
  dfile_close(file);
  int count = used / 2;
  if (too_long || count == 0) {
    tracked_free(bytes);
    return nullptr;
  }
  float *samples = static_cast<float *>(alloc_or_die(sizeof(float) * static_cast<size_t>(count)));
  for (int i = 0; i < count; i++) {
    int16_t v = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    samples[i] = v / 32768.0f;
  }
  tracked_free(bytes);
  grow_array(recordings, recording_count, recording_capacity);
  Recording &r = recordings[recording_count++];
  r.path = intern_string(path);
  r.samples = samples;
  r.count = count;
  return &r;
}

void free_table(SoundTable *table) {
  if (!table) return;
  if (table->cells) {
    for (int i = 0; i < table->rows * table->columns; i++) tracked_free(table->cells[i].remap);
  }
  tracked_free(table->cells);
  tracked_free(table);
}

void table_error(const char *format, int row, int column, const char *text) {
  char message[max_line];
  snprintf(message, sizeof message, format, row, column, text);
  print_message(message);
}

// Reads one cell: its remap list ended by -1, then "%f %1023s" (the cycle
// count and the recording's path). False after reporting the problem.
bool read_cell(DataFile *file, SoundCell *cell, int row, int column) {
  int *remap = nullptr;
  int count = 0, capacity = 0;
  for (;;) {
    int entry;
    if (dfile_scanf(file, "%d", &entry) != 1) {
      tracked_free(remap);
      table_error("(%d, %d) Bad remap entry", row, column, "");
      return false;
    }
    if (entry == -1) break;
    grow_array(remap, count, capacity);
    remap[count++] = entry;
  }
  float cycles = 0.0f;
  char path[max_path] = "";
  int read = dfile_scanf(file, "%f %1023s", &cycles, path);
  const Recording *recording = read == 2 ? get_recording(path) : nullptr;
  int r = std::isfinite(cycles) && cycles >= 1.0f && cycles <= max_recording_samples
              ? static_cast<int>(cycles)
              : 0;
  if (!recording || r < 1 || r > recording->count) {
    tracked_free(remap);
    table_error("(%d, %d) Error reading '%.512s'", row, column, path);
    return false;
  }
  for (int i = 0; i < count; i++) remap[i] = ((remap[i] % r) + r) % r;
  cell->samples = recording->samples;
  cell->sample_count = recording->count;
  cell->cycles = r;
  cell->remap = remap;
  cell->remap_count = count;
  return true;
}

SoundTable *load_table(const char *name) {
  char message[max_line];
  snprintf(message, sizeof message, "Error reading '%.512s'", name);
  DataFile *file = dfile_open(name, "rb");
  if (!file) {
    print_message(message);
    return nullptr;
  }
  int rows = 0, columns = 0;
  // A table with no rows or columns has nothing to play: unreadable.
  if (dfile_scanf(file, " SOUNDTABLE %d %d", &rows, &columns) != 2 || rows < 1 ||
      columns < 1 || rows > max_table_rows || columns > max_table_columns) {
    dfile_close(file);
    print_message(message);
    return nullptr;
  }
  SoundTable *table = static_cast<SoundTable *>(alloc_or_die(sizeof(SoundTable)));
  table->name = intern_string(name);
  table->rows = rows;
  table->columns = columns;
  size_t cells = static_cast<size_t>(rows) * static_cast<size_t>(columns);
  table->cells = static_cast<SoundCell *>(alloc_or_die(sizeof(SoundCell) * cells));
  memset(table->cells, 0, sizeof(SoundCell) * cells);
  float speeds[max_table_rows], loads[max_table_columns];
  bool ok = true;
  for (int r = 0; r < rows && ok; r++) ok = dfile_scanf(file, "%f", &speeds[r]) == 1 && std::isfinite(speeds[r]);
  for (int c = 0; c < columns && ok; c++) ok = dfile_scanf(file, "%f", &loads[c]) == 1 && std::isfinite(loads[c]);
  for (int r = 0; r < rows && ok; r++) {
    for (int c = 0; c < columns && ok; c++) {
      SoundCell *cell = &table->cells[r * columns + c];
      ok = read_cell(file, cell, r, c);
      cell->speed = speeds[r];
      cell->load = loads[c];
    }
  }
  dfile_close(file);
  if (!ok) {
    free_table(table);
    print_message(message);
    return nullptr;
  }
  return table;
}

// --- The ".braap" file --------------------------------------------------

// "word" after optional blanks, followed by a blank or the end: the rest of
// the line, or null.
const char *keyword_rest(const char *line, const char *word) {
  while (*line == ' ' || *line == '\t') line++;
  size_t n = strlen(word);
  if (strncmp(line, word, n) != 0) return nullptr;
  char next = line[n];
  if (next != '\0' && next != ' ' && next != '\t' && next != '\n' && next != '\r') return nullptr;
  return line + n;
}

// Up to max_speed_offsets numbers, read until one fails to parse.
int read_number_list(const char *text, float *out) {
  int count = 0;
  while (count < max_speed_offsets) {
    char *end;
    float v = strtof(text, &end);
    if (end == text || !std::isfinite(v)) break;
    out[count++] = v;
    text = end;
  }
  return count;
}

void read_braap(VoiceTemplate *config, DataFile *file) {
  // A file without a "pipe" line has no pipe resonance.
  pipe_setup(config, 1.0f, 1.0f, 0.0f, 0, 15);
  char line[max_line];
  while (dfile_gets(file, line, sizeof line)) {
    char *comment = strchr(line, '#');
    if (comment) *comment = '\0';
    const char *rest;
    float value;
    if (strncmp(line, "pipe", 4) == 0) {
      Pipe p = four_stroke_pipe;
      float length = p.length, spread = p.spread, gain = p.gain;
      int first = p.first, last = p.last;
      sscanf(line, "pipe %f %f %f %d %d", &length, &spread, &gain, &first, &last);
      if (std::isfinite(length) && std::isfinite(spread) && std::isfinite(gain))
        pipe_setup(config, length, spread, gain, first, last);
    } else if (strncmp(line, "minrpm", 6) == 0) {
      if (sscanf(line, "minrpm %f", &value) == 1 && std::isfinite(value)) config->minimum_speed = value;
    } else if (strncmp(line, "lowtorque", 9) == 0) {
      if (sscanf(line, "lowtorque %f", &value) == 1 && std::isfinite(value)) config->low_torque = value;
    } else if (strncmp(line, "hightorque", 10) == 0) {
      if (sscanf(line, "hightorque %f", &value) == 1 && std::isfinite(value)) config->high_torque = value;
    } else if ((rest = keyword_rest(line, "bias"))) {
      config->bias_count = read_number_list(rest, config->bias);
    } else if ((rest = keyword_rest(line, "scale"))) {
      config->scale_count = read_number_list(rest, config->scale);
    } else if ((rest = keyword_rest(line, "soundtable"))) {
      char name[max_line];
      while (*rest == ' ' || *rest == '\t') rest++;
      snprintf(name, sizeof name, "%s", rest);
      size_t n = strlen(name);
      while (n > 0 && (name[n - 1] == ' ' || name[n - 1] == '\t' || name[n - 1] == '\n' || name[n - 1] == '\r'))
        name[--n] = '\0';
      if (n == 0) continue;
      const SoundTable *table = sound_table_get(name);
      if (table) config->table = table;
    }
  }
}

const char *class_default_braap(const char *bike_class) {
  static const char *const defaults[][2] = {
      {"50", "@default50.braap"},   {"125", "@default125.braap"}, {"250f", "@default250f.braap"},
      {"250", "@default250.braap"}, {"450f", "@default450f.braap"},
  };
  for (const auto &d : defaults)
    if (strcmp(bike_class, d[0]) == 0) return d[1];
  return nullptr;
}

// The ".braap" file for a skin: the skin's name with ".braap" for its
// suffix, then with each trailing "-part" dropped in turn
// (cr250-red-2.png, cr250-red-2.braap, cr250-red.braap, cr250.braap), then
// the class default. Null when none opens.
DataFile *open_braap(const char *skin_name, const char *bike_class) {
  char candidate[max_path];
  if (skin_name && strlen(skin_name) + 8 < sizeof candidate) {
    snprintf(candidate, sizeof candidate, "%s", skin_name);
    char *last = strrchr(candidate, '/');
    last = last ? last + 1 : candidate;
    char *dot = strrchr(last, '.');
    if (dot) {
      strcpy(dot, ".braap");
      for (;;) {
        DataFile *file = dfile_open(candidate, "r");
        if (file) return file;
        char *dash = strrchr(last, '-');
        if (!dash) break;
        strcpy(dash, ".braap");
      }
    }
  }
  const char *fallback = class_default_braap(bike_class);
  return fallback ? dfile_open(fallback, "r") : nullptr;
}

// --- Synthesis -------------------------------------------------------------

uint32_t phase_step_for(float frequency) {
  return static_cast<uint32_t>(std::lround(frequency / engine_sound_rate * phase_one));
}

// First index whose breakpoint exceeds `value` gives the bracketing pair
// lo/hi and the weight of hi.
void bracket(const SoundTable *table, bool by_row, float value, int *lo, int *hi, float *weight) {
  int n = by_row ? table->rows : table->columns;
  int i = 0;
  while (i < n) {
    const SoundCell &cell = by_row ? table->cells[i * table->columns] : table->cells[i];
    if ((by_row ? cell.speed : cell.load) > value) break;
    i++;
  }
  *lo = i - 1 < 0 ? 0 : i - 1 > n - 1 ? n - 1 : i - 1;
  *hi = i > n - 1 ? n - 1 : i;
  if (*lo == *hi) {
    *weight = 1.0f;
    return;
  }
  const SoundCell &a = by_row ? table->cells[*lo * table->columns] : table->cells[*lo];
  const SoundCell &b = by_row ? table->cells[*hi * table->columns] : table->cells[*hi];
  float va = by_row ? a.speed : a.load, vb = by_row ? b.speed : b.load;
  // Breakpoints out of order would divide by zero or less.
  *weight = vb > va ? clampf((value - va) / (vb - va), 0.0f, 1.0f) : 1.0f;
}

// A new engine cycle starts at sample k of K in this update.
void begin_cycle(EngineVoice *voice, float speed, float load, int k, int count) {
  const VoiceTemplate &c = voice->config;
  const SoundTable *table = c.table;
  uint32_t e = voice->cycle_counter;
  float s = voice->previous_speed + (speed - voice->previous_speed) * static_cast<float>(k) / count;
  s = c.scale[e % static_cast<uint32_t>(c.scale_count)] * (c.bias[e % static_cast<uint32_t>(c.bias_count)] + s);
  if (!(s >= c.minimum_speed)) s = c.minimum_speed;

  int row_lo, row_hi, col_lo, col_hi;
  float t, u;
  bracket(table, true, s, &row_lo, &row_hi, &t);
  bracket(table, false, load, &col_lo, &col_hi, &u);

  voice->phase -= phase_one;
  uint32_t m = e + 1;
  voice->cycle_counter = m;
  float f = s * c.cycles_per_revolution / 60.0f;
  f = clampf(f, minimum_cycle_frequency, maximum_cycle_frequency);
  voice->cycle_frequency = f;

  const int cols = table->columns;
  const SoundCell *cells[voice_streams] = {
      &table->cells[row_lo * cols + col_lo], &table->cells[row_hi * cols + col_lo],
      &table->cells[row_lo * cols + col_hi], &table->cells[row_hi * cols + col_hi]};
  const float weights[voice_streams] = {(1 - t) * (1 - u), t * (1 - u), u * (1 - t), t * u};
  for (int i = 0; i < voice_streams; i++) {
    const SoundCell *cell = cells[i];
    VoiceStream &stream = voice->streams[i];
    uint32_t x = cell->remap ? static_cast<uint32_t>(cell->remap[m % static_cast<uint32_t>(cell->remap_count)]) : m;
    double segment = static_cast<double>(cell->sample_count) / cell->cycles;
    stream.cell = cell;
    stream.weight = weights[i];
    stream.position = static_cast<uint32_t>(segment * (x % static_cast<uint32_t>(cell->cycles))) * 1024u;
    stream.increment = static_cast<uint32_t>(f / static_cast<double>(engine_sound_rate) * segment * 1024.0);
  }
}

float dot(const float *a, const float *b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void spatialise(const EngineSoundInput *bike, EngineVoice *voice, float gain) {
  float d[3];
  for (int i = 0; i < 3; i++) d[i] = listener.position[i] - bike->position[i];
  float r2 = dot(d, d);
  float factor = 1.0f, pan = 0.0f, distance = std::sqrt(r2);
  if (r2 >= 1.0f / 1024.0f) {
    float u[3] = {d[0] / distance, d[1] / distance, d[2] / distance};
    float f = 1.0f - dot(bike->velocity, u) / speed_of_sound;
    float g = 1.0f - dot(listener.velocity, u) / speed_of_sound;
    factor = 8.0f * f >= g ? g / f : 0.125f;
    // At the speed of sound the shift is undefined: leave the pitch alone.
    if (!std::isfinite(factor)) factor = 1.0f;
    pan = -dot(u, listener.right) * 32767.0f;
  }
  float rate = clampf(factor * engine_sound_rate, 100.0f, 1000000.0f);
  if (!std::isfinite(rate)) rate = engine_sound_rate;
  float divisor = (distance - 1.0f) / 48.0f + 1.0f;
  if (!(divisor >= 1.0f)) divisor = 1.0f;
  float volume = clampf(gain * 32767.0f / divisor, 0.0f, 32767.0f);
  if (!std::isfinite(volume)) volume = 0.0f;
  if (!std::isfinite(pan)) pan = 0.0f;
  hovl_sound_set_rate(voice->sound, static_cast<int>(std::lround(rate)));
  hovl_sound_set_volume(voice->sound, static_cast<int>(std::lround(volume)));
  hovl_sound_set_pan(voice->sound, static_cast<int>(std::lround(clampf(pan, -32768.0f, 32767.0f))));
}

}  // namespace

void pipe_setup(VoiceTemplate *config, float length, float spread, float gain, int first, int last) {
  if (first < 0) first = 0;
  if (first > pipe_taps - 1) first = pipe_taps - 1;
  if (last < first) last = first;
  if (last > pipe_taps - 1) last = pipe_taps - 1;
  float m = length < spread ? length : spread;
  int n = last - first + 1;
  // Delays beyond the history (or negative) would wrap around to nonsense.
  auto delay_of = [](float pipe_length) {
    double d = std::trunc(2.0 * pipe_length * engine_sound_rate / speed_of_sound);
    if (!(d >= 0.0)) d = 0.0;
    if (d > voice_sound_length - 1) d = voice_sound_length - 1;
    return voice_sound_length - static_cast<int>(d);
  };
  if (first == last) {
    config->tap_delays[first] = delay_of(length);
    config->tap_gains[first] = gain;
    return;
  }
  for (int i = first; i <= last; i++) {
    float k = static_cast<float>(i - first);
    float ratio = k / static_cast<float>(last - first);
    float tap_length = length - (k + ratio * ratio) * m / n;
    config->tap_delays[i] = delay_of(tap_length);
    config->tap_gains[i] = gain / n;
  }
}

void pipe_command(EngineVoice *voice, const char *bike_class, const char *arguments) {
  bool four = bike_class && (strcmp(bike_class, "250f") == 0 || strcmp(bike_class, "450f") == 0);
  Pipe p = four ? four_stroke_pipe : two_stroke_pipe;
  if (arguments) sscanf(arguments, "%f %f %f %d %d", &p.length, &p.spread, &p.gain, &p.first, &p.last);
  if (!std::isfinite(p.length) || !std::isfinite(p.spread) || !std::isfinite(p.gain)) return;
  pipe_setup(&voice->config, p.length, p.spread, p.gain, p.first, p.last);
  print_message("Pipe updated");
}

const VoiceTemplate *engine_voice_template(const char *bike_class) {
  make_builtins();
  if (!bike_class) bike_class = "";
  if (strcmp(bike_class, "50") == 0) return &fifty_template;
  if (class_is_four_stroke(bike_class)) return &four_stroke_template;
  return &two_stroke_template;
}

const SoundTable *sound_table_get(const char *name) {
  make_builtins();
  for (int i = 0; i < table_count; i++)
    if (strcmp(tables[i]->name, name) == 0) return tables[i];
  SoundTable *table = load_table(name);
  if (table) add_table(table);
  return table;
}

int engine_voice_read_braap(VoiceTemplate *config, const char *path) {
  DataFile *file = dfile_open(path, "r");
  if (!file) return 0;
  read_braap(config, file);
  dfile_close(file);
  return 1;
}

void engine_voice_create(EngineVoice *voice, const char *bike_class, const char *skin_name) {
  make_builtins();
  if (!bike_class) bike_class = "";
  if (voice->sound) {
    hovl_sound_free(voice->sound);
    voice->sound = nullptr;
  }
  if (audio_is_open()) {
    voice->sound = hovl_sound_create(voice_sound_length, nullptr, 0);
    hovl_sound_set_loop(voice->sound, 1);
    hovl_sound_set_volume(voice->sound, 0);
    hovl_sound_play(voice->sound);
  }
  if (!voice->history)
    voice->history = static_cast<float *>(alloc_or_die(sizeof(float) * voice_sound_length));
  memset(voice->history, 0, sizeof(float) * voice_sound_length);
  voice->write_position = voice_start_write;
  voice->cycle_frequency = 10.0f;
  voice->previous_speed = 1000.0f;
  voice->phase = 0;
  voice->cycle_counter = 0;

  voice->config = *engine_voice_template(bike_class);
  DataFile *file = open_braap(skin_name, bike_class);
  if (file) {
    read_braap(&voice->config, file);
    dfile_close(file);
  } else {
    hovl_log("No engine sound file for '%.512s' (class %s): using %s\n", skin_name ? skin_name : "",
             bike_class, voice->config.table->name);
  }
  if (voice->config.bias_count == 0) {
    voice->config.bias[0] = 0.0f;
    voice->config.bias_count = 1;
  }
  if (voice->config.scale_count == 0) {
    voice->config.scale[0] = 1.0f;
    voice->config.scale_count = 1;
  }
  for (VoiceStream &stream : voice->streams) stream = VoiceStream{&voice->config.table->cells[0], 0.0f, 0, 0};
}

void engine_voice_free(EngineVoice *voice) {
  hovl_sound_free(voice->sound);
  voice->sound = nullptr;
  tracked_free(voice->history);
  voice->history = nullptr;
}

void engine_sound_set_listener(const SoundListener *l) { listener = *l; }

int engine_voice_samples_due(int play, int write) {
  int k = ((play - write + voice_sound_length + voice_write_lead) % voice_sound_length + voice_sound_length) %
          voice_sound_length;
  return k > max_samples_per_update ? max_samples_per_update : k;
}

void engine_voice_synthesize(EngineVoice *voice, float speed, float load, int count) {
  if (!std::isfinite(speed)) speed = voice->config.minimum_speed;
  if (!std::isfinite(load)) load = 0.0f;
  if (!voice->history || !voice->config.table || count <= 0) {
    voice->previous_speed = speed;
    return;
  }
  // Local copies: the history is written every sample, and the compiler
  // would otherwise reload every float that might alias it.
  float gains[pipe_taps];
  uint32_t delays[pipe_taps];
  for (int i = 0; i < pipe_taps; i++) {
    gains[i] = voice->config.tap_gains[i];
    delays[i] = static_cast<uint32_t>(voice->config.tap_delays[i]);
  }
  struct Stream {
    const float *samples;
    uint32_t last;  // index of the recording's last sample
    float weight;
    uint32_t position, increment;
  } streams[voice_streams];
  auto load_streams = [&] {
    for (int i = 0; i < voice_streams; i++) {
      const VoiceStream &s = voice->streams[i];
      streams[i] = {s.cell->samples, static_cast<uint32_t>(s.cell->sample_count - 1), s.weight, s.position,
                    s.increment};
    }
  };
  auto store_streams = [&] {
    for (int i = 0; i < voice_streams; i++) voice->streams[i].position = streams[i].position;
  };
  load_streams();
  float *history = voice->history;
  uint32_t w = voice->write_position & voice_history_mask;
  uint32_t phase = voice->phase;
  uint32_t step = phase_step_for(voice->cycle_frequency);
  for (int k = 0; k < count; k++) {
    float pipe[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < pipe_taps; i += 4) {
      for (int j = 0; j < 4; j++) pipe[j] += gains[i + j] * history[(w + delays[i + j]) & voice_history_mask];
    }
    float cells[voice_streams];
    for (int i = 0; i < voice_streams; i++) {
      Stream &s = streams[i];
      uint32_t index = s.position >> 10;
      // Rounding may step one sample past a recording's end.
      if (index > s.last) index = s.last;
      cells[i] = s.weight * s.samples[index];
      s.position += s.increment;
    }
    float sum = ((pipe[0] + pipe[1]) + (pipe[2] + pipe[3])) + ((cells[0] + cells[1]) + (cells[2] + cells[3]));
    history[w] = clampf(sum, -16.0f, 16.0f);
    phase += step;
    if (phase > phase_one - 1) {
      store_streams();
      voice->phase = phase;
      begin_cycle(voice, speed, load, k, count);
      phase = voice->phase;
      step = phase_step_for(voice->cycle_frequency);
      load_streams();
    }
    w = (w + 1) & voice_history_mask;
  }
  store_streams();
  voice->phase = phase;
  voice->write_position = w;
  voice->previous_speed = speed;
}

int engine_voice_update(const EngineSoundInput *bike, EngineVoice *voice, float gain) {
  if (!voice->sound || !voice->history) return 0;
  int play = hovl_sound_position(voice->sound);
  int count = engine_voice_samples_due(play, static_cast<int>(voice->write_position));
  const VoiceTemplate &c = voice->config;
  float range = c.high_torque - c.low_torque;
  float load = range != 0.0f ? clampf((bike->torque - c.low_torque) / range, 0.0f, 1.0f) : 0.0f;
  if (count > 0) {
    engine_voice_synthesize(voice, bike->rpm, load, count);
    uint8_t bytes[max_samples_per_update];
    uint32_t start = (voice->write_position - static_cast<uint32_t>(count)) & voice_history_mask;
    for (int i = 0; i < count; i++) {
      float h = voice->history[(start + static_cast<uint32_t>(i)) & voice_history_mask];
      long b = std::lround(h * 127.0f + 127.0f);
      bytes[i] = static_cast<uint8_t>(b < 0 ? 0 : b > 255 ? 255 : b);
    }
    hovl_sound_write(voice->sound, count, bytes, static_cast<int>(start));
  } else {
    voice->previous_speed = std::isfinite(bike->rpm) ? bike->rpm : c.minimum_speed;
  }
  spatialise(bike, voice, gain);
  return count;
}

float engine_sound_master_factor(int paused, int editor_view, int menu_open, int local_rider_drives) {
  if (paused || editor_view) return 0.0f;
  if (!menu_open) return 1.0f;
  return local_rider_drives ? 0.0f : 0.25f;
}

float engine_voice_gain(float master, float volume, float comp_volume, int viewed, int hidden) {
  if (hidden) return 0.0f;
  float gain = master * volume * 0.1f;
  return viewed ? gain : gain * comp_volume * 0.1f;
}

void engine_sound_release() {
  for (int i = 0; i < table_count; i++) {
    SoundTable *table = tables[i];
    // The built-in tables own their samples; loaded ones point into the cache.
    bool builtin = strcmp(table->name, "default_four_stroke") == 0 || strcmp(table->name, "default_two_stroke") == 0;
    if (builtin && i < 2) {
      tracked_free(const_cast<float *>(table->cells[0].samples));
      tracked_free(const_cast<float *>(table->cells[1].samples));
    }
    free_table(table);
  }
  tracked_free(tables);
  tables = nullptr;
  table_count = table_capacity = 0;
  for (int i = 0; i < recording_count; i++) tracked_free(recordings[i].samples);
  tracked_free(recordings);
  recordings = nullptr;
  recording_count = recording_capacity = 0;
  builtins_made = false;
}
