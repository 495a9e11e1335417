// The points series over the shipped tracks: three rounds of two motos, the
// moto points added up within a round and the round decided by them.
#include "databuild.h"

namespace databuild {

namespace {

// Places 1 to 20 score; the rest of the 40 places score nothing.
const int place_points[20] = {25, 22, 20, 18, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};

void points_row(Bytes *out, bool scoring) {
  for (int place = 0; place < 40; place++) bytes_printf(out, "%d ", scoring && place < 20 ? place_points[place] : 0);
  bytes_printf(out, "\n");
}

}  // namespace

void write_series_files(Archive *archive) {
  // Robots from every part of the roster: 125s, 250Fs of each team.
  const int competitors[] = {20, 24, 27, 31, 35, 40, 44, 48, 52, 56, 61, 65, 69, 73, 77, 80, 85, 90, 95};
  constexpr int competitor_count = static_cast<int>(sizeof competitors / sizeof competitors[0]);
  struct Round {
    const char *track;
    const char *name;
  };
  const Round rounds[] = {{"rabbithill", "Rabbit Hill"}, {"quarrybend", "Quarry Bend"}, {"rabbithill", "Rabbit Hill"}};
  Bytes out;
  bytes_printf(&out, "\"Torvane Championship\"\n%d Amateur\n", competitor_count);
  for (int number : competitors) bytes_printf(&out, "%d ", number);
  bytes_printf(&out, "\n%d\n", 2 * static_cast<int>(sizeof rounds / sizeof rounds[0]));
  for (int r = 0; r < 3; r++)
    for (int moto = 1; moto <= 2; moto++) {
      bytes_printf(&out, "\"Round %d: %s, Moto %d\" %s 0 5\n", r + 1, rounds[r].name, moto, rounds[r].track);
      points_row(&out, true);
      points_row(&out, moto == 2);
    }
  archive_add(archive, "torvane.series", std::move(out));
}

}  // namespace databuild
