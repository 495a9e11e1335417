// Feeds track scripts to the script module: the input is a frills.js file,
// read through the file layer as the race reset reads it, loaded, and its
// handlers called a few times. No track is loaded, so the qx functions
// answer their neutral values. The time bounds keep a looping input short.
#include <cstdint>
#include <cstdio>

#include "fuzz_file.h"
#include "script/frills.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static std::string path = fuzz_scratch_path("frills.js");
  if (!fuzz_write(path, data, size)) return 0;
  frills_load(path.c_str());
  for (int tic = 0; tic < 4; tic++) {
    frills_tic(tic);
    frills_frame(tic);
  }
  const char *args[2] = {"1", "x"};
  script_call("qx.index_to_lap", 1, args);
  script_call("qx.get_position", 2, args);
  frills_unload();
  remove(path.c_str());
  return 0;
}
