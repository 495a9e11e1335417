#include "sound/synthetic_engine.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/alloc.h"
#include "assets/file.h"
#include "platform/log.h"
#include "sound/engine_sound.h"

namespace {

constexpr int model_rows = 8;
constexpr int model_columns = 2;  // closed and open throttle
constexpr int cycles_per_cell = 6;
constexpr int remap_length = 9;
constexpr double two_pi = 6.283185307179586;
constexpr int resonances = 3;

struct EngineModel {
  const char *bike_class;
  float cycles_per_revolution;
  float rows[model_rows];  // rpm of each recorded row
  float resonance_hz[resonances];
  float resonance_decay[resonances];  // seconds
  float resonance_level[resonances];
  float pulse_rise;   // seconds to the exhaust pulse's peak
  float roar_cutoff;  // Hz
  float roar_level;
  float click_level;  // valve train, four-strokes
  float ring_hz;      // expansion chamber ring, two-strokes
  float ring_level;
  float pipe_length, pipe_spread, pipe_gain;
  float minimum_rpm;
  unsigned seed;
};

// Bigger engines ring lower; two-strokes fire every turn and ring bright.
const EngineModel models[synthetic_engine_classes] = {
    {"50", 1.0f, {1800, 3000, 4500, 6500, 8500, 10500, 12500, 15000},
     {330, 1150, 3300}, {0.004f, 0.002f, 0.0009f}, {0.9f, 0.5f, 0.25f},
     0.00025f, 5000, 0.35f, 0.0f, 2600, 0.25f, 1.2f, 0.25f, -0.7f, 1600, 50},
    {"125", 1.0f, {1600, 2800, 4200, 6000, 8000, 10000, 12000, 14000},
     {240, 820, 2500}, {0.005f, 0.0025f, 0.001f}, {1.0f, 0.55f, 0.25f},
     0.0003f, 4200, 0.3f, 0.0f, 2000, 0.2f, 1.75f, 0.3f, -0.75f, 1500, 125},
    {"250", 1.0f, {1400, 2500, 3800, 5500, 7300, 9000, 10800, 12500},
     {180, 620, 1900}, {0.006f, 0.003f, 0.0012f}, {1.0f, 0.6f, 0.3f},
     0.00035f, 3600, 0.3f, 0.0f, 1600, 0.18f, 1.75f, 0.3f, -0.75f, 1300, 250},
    {"250f", 0.5f, {1500, 2500, 3800, 5500, 7500, 9500, 11500, 13500},
     {125, 340, 950}, {0.008f, 0.004f, 0.0015f}, {1.0f, 0.6f, 0.3f},
     0.0005f, 3200, 0.4f, 0.08f, 0, 0.0f, 5.0f, 0.9182072f, -0.85f, 1400, 2500},
    {"450f", 0.5f, {1300, 2200, 3400, 5000, 6700, 8300, 9900, 11500},
     {95, 260, 720}, {0.01f, 0.005f, 0.002f}, {1.0f, 0.65f, 0.3f},
     0.0006f, 2800, 0.4f, 0.07f, 0, 0.0f, 5.5f, 0.9182072f, -0.85f, 1200, 4500},
};

// A small generator of its own: making data must not disturb the
// simulation's shared MT19937.
struct Noise {
  uint32_t state;
  float uniform() {  // -1..1
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<float>(state) / 2147483648.0f - 1.0f;
  }
  float unit() { return uniform() * 0.5f + 0.5f; }  // 0..1
};

// One engine cycle of `count` samples at `rpm` and throttle `load` (0 or 1),
// added to `out`.
void make_cycle(const EngineModel &m, float load, int count, Noise *noise, float *out) {
  const double rate = engine_sound_rate;
  const double period = count / rate;
  bool misfire = load < 0.5f && noise->unit() < 0.2f;
  double strength = (0.3 + 0.7 * load) * (1.0 + 0.15 * noise->uniform()) * (misfire ? 0.12 : 1.0);
  double onset = (0.01 + 0.015 * noise->unit()) * period;
  double phase[resonances];
  for (double &p : phase) p = noise->unit() * two_pi * 0.25;
  double roar = 0.0, hum = 0.0;
  const double roar_alpha = 1.0 - std::exp(-two_pi * m.roar_cutoff / rate);
  const double hum_alpha = 1.0 - std::exp(-two_pi * 900.0 / rate);
  const double roar_decay = 0.35 * period + 0.002;
  const double clicks[2] = {0.28 * period, 0.62 * period};
  for (int i = 0; i < count; i++) {
    double t = i / rate, tau = t - onset;
    roar += roar_alpha * (noise->uniform() - roar);
    hum += hum_alpha * (noise->uniform() - hum);
    double v = 0.03 * hum;  // intake and mechanical noise, always there
    if (tau >= 0.0) {
      double x = tau / m.pulse_rise;
      double attack = 1.0 - std::exp(-x);
      v += strength * 0.6 * x * std::exp(1.0 - x);
      for (int k = 0; k < resonances; k++)
        v += strength * m.resonance_level[k] * attack * std::exp(-tau / m.resonance_decay[k]) *
             std::sin(two_pi * m.resonance_hz[k] * tau + phase[k]);
      v += (0.25 + 0.75 * load) * m.roar_level * std::exp(-tau / roar_decay) * roar;
      if (m.ring_level > 0.0f)
        v += strength * m.ring_level * attack * std::exp(-tau / (0.25 * period)) * std::sin(two_pi * m.ring_hz * tau);
    }
    for (double c : clicks) {
      double d = t - c;
      if (d >= 0.0) v += m.click_level * std::exp(-d / 0.0006) * std::sin(two_pi * 5200.0 * d);
    }
    // Cycles are played in shuffled order: end each one near zero.
    double left = (count - i) / (0.04 * count);
    if (left < 1.0) v *= left;
    out[i] += static_cast<float>(v);
  }
}

bool write_recording(const char *path, const float *samples, int count, float peak_target) {
  float peak = 1e-6f;
  for (int i = 0; i < count; i++) peak = std::fmax(peak, std::fabs(samples[i]));
  float gain = peak_target / peak * 32767.0f;
  DataFile *file = dfile_open(path, "wb");
  if (!file) return false;
  uint8_t buffer[4096];
  bool ok = true;
  for (int i = 0; i < count && ok;) {
    int n = 0;
    for (; n < 2048 && i < count; n++, i++) {
      long v = std::lround(samples[i] * gain);
      v = v < -32768 ? -32768 : v > 32767 ? 32767 : v;
      uint16_t u = static_cast<uint16_t>(static_cast<int16_t>(v));
      buffer[2 * n] = static_cast<uint8_t>(u & 0xff);
      buffer[2 * n + 1] = static_cast<uint8_t>(u >> 8);
    }
    ok = dfile_write(file, buffer, 2 * n) == 2 * n;
  }
  dfile_close(file);
  return ok;
}

bool write_class(const EngineModel &m, const char *directory, const char *prefix) {
  char path[1024], reference[1024];
  snprintf(path, sizeof path, "%s/sounds/%s.table", directory, m.bike_class);
  DataFile *table = dfile_open(path, "w");
  if (!table) return false;
  dfile_printf(table, "SOUNDTABLE %d %d\n", model_rows, model_columns);
  for (float rpm : m.rows) dfile_printf(table, "%.0f ", rpm);
  dfile_printf(table, "\n0 1\n");
  Noise noise = {m.seed * 2654435761u + 1u};
  bool ok = true;
  for (int r = 0; r < model_rows && ok; r++) {
    int segment = static_cast<int>(std::lround(60.0 / (m.rows[r] * m.cycles_per_revolution) * engine_sound_rate));
    int count = segment * cycles_per_cell;
    float *samples = static_cast<float *>(alloc_or_die(sizeof(float) * static_cast<size_t>(count)));
    for (int c = 0; c < model_columns && ok; c++) {
      memset(samples, 0, sizeof(float) * static_cast<size_t>(count));
      for (int cycle = 0; cycle < cycles_per_cell; cycle++)
        make_cycle(m, static_cast<float>(c), segment, &noise, samples + cycle * segment);
      snprintf(path, sizeof path, "%s/sounds/%s_r%d_c%d.raw", directory, m.bike_class, r, c);
      ok = write_recording(path, samples, count, c ? 0.85f : 0.4f);
      for (int i = 0; i < remap_length; i++)
        dfile_printf(table, "%d ", static_cast<int>(noise.unit() * cycles_per_cell) % cycles_per_cell);
      snprintf(reference, sizeof reference, "%ssounds/%s_r%d_c%d.raw", prefix, m.bike_class, r, c);
      dfile_printf(table, "-1 %d %s\n", cycles_per_cell, reference);
    }
    tracked_free(samples);
  }
  dfile_close(table);
  if (!ok) return false;

  snprintf(path, sizeof path, "%s/default%s.braap", directory, m.bike_class);
  DataFile *braap = dfile_open(path, "w");
  if (!braap) return false;
  dfile_printf(braap, "# %s engine, synthetic recordings\n", m.bike_class);
  dfile_printf(braap, "soundtable %ssounds/%s.table\n", prefix, m.bike_class);
  dfile_printf(braap, "pipe %.7g %.7g %.7g 0 15\n", m.pipe_length, m.pipe_spread, m.pipe_gain);
  dfile_printf(braap, "minrpm %.0f\n", m.minimum_rpm);
  // Uneven firing: no two neighbouring cycles run at quite the same speed.
  dfile_printf(braap, "bias 0 30 -25 45 -35 10 -15 20\n");
  dfile_printf(braap, "scale 1 1.003 0.998 1.002 0.996 1.001\n");
  dfile_close(braap);
  return true;
}

}  // namespace

int write_synthetic_engine_sounds(const char *directory, const char *reference_prefix) {
  char sounds[1024];
  if (snprintf(sounds, sizeof sounds, "%s/sounds", directory) >= static_cast<int>(sizeof sounds) - 32) return 0;
  if (mkdir(sounds, 0755) != 0 && errno != EEXIST) {
    hovl_log("Can't create '%s'\n", sounds);
    return 0;
  }
  int written = 0;
  for (const EngineModel &m : models) {
    if (!write_class(m, directory, reference_prefix)) {
      hovl_log("Can't write the %s engine sounds in '%s'\n", m.bike_class, directory);
      break;
    }
    written++;
  }
  return written;
}
