// The track scripts: "<track>/frills.js" for every track, with the two
// billboards it drives added at the end of the track's "billboards" file
// (the script counts them from the file's first billboard):
//   - a marker that floats over the race leader, bobbing;
//   - a board beside the finish line, opposite the lap board, whose colour
//     tells the race's state: red behind the gate, green while racing,
//     amber on the leader's last lap, flashing white once he has finished.
// On the leader's last lap the script also says who leads.
#include <cmath>
#include <string>

#include "databuild.h"

namespace databuild {

namespace {

// Billboards already in the file: one entry a line.
int billboard_entries(const Bytes &file) {
  int lines = 0;
  for (unsigned char c : file.data) lines += c == '\n';
  return lines;
}

const char script_body[] = R"js(
function leader() {
  return qx.get_running_count() > 0 ? qx.get_running_order_slot(0) : -1;
}

// Laps the leader has completed, and the race's lap count (0 in a race
// run to a time, where the last lap is not known ahead).
function leader_laps(slot) {
  return slot >= 0 ? qx.index_to_lap(qx.get_timing_position(slot)) : 0;
}
function race_laps() {
  return qx.get_finish_time() > 0 ? 0 : qx.get_finish_laps();
}

qx.frame_handler = function (seconds) {
  var slot = leader();
  var p = slot >= 0 ? qx.get_position(slot) : null;
  if (p) {
    var above = p[1] - qx.get_elevation(p[0], p[2]);
    qx.move_billboard(marker, p[0], above + 3.5 + 0.3 * Math.sin(seconds * 5), p[2]);
    qx.color_billboard(marker, 1, 0.8, 0.1, 1);
  } else {
    qx.color_billboard(marker, 0, 0, 0, 0);
  }
  var laps = leader_laps(slot), total = race_laps();
  if (qx.get_gate_drop_time() < 0) {
    qx.color_billboard(board, 0.9, 0.1, 0.1, 1);
  } else if (total > 0 && laps >= total) {
    var on = Math.floor(seconds * 2) % 2 == 0;
    qx.color_billboard(board, on ? 1 : 0.2, on ? 1 : 0.2, on ? 1 : 0.2, 1);
  } else if (total > 1 && laps == total - 1) {
    qx.color_billboard(board, 1, 0.6, 0.05, 1);
  } else {
    qx.color_billboard(board, 0.1, 0.8, 0.2, 1);
  }
};

var announced = -1;
qx.tic_handler = function (seconds) {
  var slot = leader(), total = race_laps();
  if (slot < 0 || total < 2 || leader_laps(slot) != total - 1 || announced == total - 1) return;
  announced = total - 1;
  qx.message('Last lap: #' + qx.get_rider_number(slot) + ' leads');
};
)js";

}  // namespace

void write_frills_files(const Track *track, Archive *archive) {
  std::string dir = track->design->dir;
  std::string billboards_name = dir + "/billboards";
  Bytes *billboards = nullptr;
  for (size_t i = 0; i < archive->names.size(); i++)
    if (archive->names[i] == billboards_name) billboards = &archive->members[i];
  if (!billboards) return;
  int marker = billboard_entries(*billboards);
  // The marker starts out of sight under the start; the board stands beside
  // the finish line across from the lap board.
  const TrackSample *f = sample_at(track, 0.0f);
  float side = f->half_width + 6.0f;
  float bx = f->x - f->tz * side, bz = f->z + f->tx * side;
  bytes_printf(billboards, "[%f %f %f] %f %f %s\n", f->x, -10.0f, f->z, 1.2f, 1.2f, leader_texture);
  bytes_printf(billboards, "[%f %f %f] %f %f %s\n", bx, 4.0f, bz, 6.0f, 3.0f, "@colors/white.png");
  Bytes script;
  bytes_printf(&script, "// %s: the leader's marker and the race-state board.\n", track->design->display_name);
  bytes_printf(&script, "var marker = %d, board = %d;\n", marker, marker + 1);
  bytes_append(&script, script_body, sizeof script_body - 1);
  archive_add(archive, dir + "/frills.js", std::move(script));
}

}  // namespace databuild
