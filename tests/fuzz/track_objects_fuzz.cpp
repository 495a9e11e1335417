// The track object readers ("lighting", "billboards", "statues", "decals",
// "flaggers", "cameras") on the same input, one after another as a track
// load reads them, over a small field. What they keep must stay inside its
// tables: gate cameras name a camera, gate flaggers name a checkpoint.
// Seeds: the shipped tracks' files.
#include <cstring>

#include "assets/model.h"
#include "assets/texture.h"
#include "fuzz_files.h"
#include "track/objects.h"
#include "track/terrain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string dir = fuzz_data_dir();
  static const std::string path = dir + "/objects";
  static Terrain *field = terrain_create(3, 2.0f, 0, 0);
  // Names of device files would block or never end; they are not data.
  std::string text(reinterpret_cast<const char *>(data), size);
  if (text.find("/dev") != std::string::npos || text.find("/proc") != std::string::npos ||
      text.find("/sys") != std::string::npos)
    return 0;
  fuzz_write(path, data, size);
  for (int reader = 0; reader < 6; reader++) {
    DataFile *f = dfile_open(path.c_str(), "rb");
    if (!f) abort();
    switch (reader) {
      case 0: lighting_read(f); break;
      case 1: load_billboards(f); break;
      case 2: load_statues(f); break;
      case 3: load_decals(field, f); break;
      case 4: flaggers_read(f); break;
      case 5: cameras_read(f); break;
    }
    dfile_close(f);
  }
  const Lighting *l = track_lighting();
  if (!l || l->flare_count < 0 || l->flare_count > max_flares) __builtin_trap();
  for (int k = 0; k < l->flare_count; k++)
    if (l->flares[k].element_count < 0 || l->flares[k].element_count > max_flare_elements) __builtin_trap();
  for (int g = 0; g < camera_gate_table_size; g++) {
    int c = camera_for_gate(g);
    if (c < -1 || c >= camera_count()) __builtin_trap();
  }
  for (int k = 0; k < gate_flagger_count(); k++)
    for (int c : gate_flagger(k)->checkpoints)
      if (c < -1) __builtin_trap();
  volatile float sink = 0;
  for (int k = 0; k < billboard_count(); k++) sink = sink + track_billboard(k)->width;
  for (int k = 0; k < statue_count(); k++) sink = sink + track_statue(k)->rotation[0];
  for (int k = 0; k < decal_count(); k++) sink = sink + track_decal(k)->sin_angle;
  free_track_objects();
  texture_flush(1);
  model_flush(1);
  return 0;
}
