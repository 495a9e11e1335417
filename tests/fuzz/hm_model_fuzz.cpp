// The data tests' model reader over arbitrary text: whatever it accepts has
// consistent counts, indices inside their mesh and kept weights that sum to
// one. Seeds: any ".hm" or ".shp" file of the data set.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../hm_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  HmModel model = read_hm_model(text);
  if (!model.ok) return 0;
  for (const HmMesh &mesh : model.meshes) {
    int n = mesh.vertex_count();
    if (mesh.normals.size() != mesh.positions.size() || mesh.uvs.size() != static_cast<size_t>(n) * 2) abort();
    if (mesh.raw_weights.size() != static_cast<size_t>(n) * static_cast<size_t>(model.bones)) abort();
    for (int t : mesh.triangles)
      if (t < 0 || t >= n) abort();
    if (model.bones > 0)
      for (int v = 0; v < n; v++) {
        float sum = 0;
        for (int s = 0; s < 4; s++) sum += mesh.weights[static_cast<size_t>(v) * 4 + static_cast<size_t>(s)];
        if (std::isfinite(sum) && std::fabs(sum - 1.0f) > 1e-3f) abort();
      }
  }
  return 0;
}
