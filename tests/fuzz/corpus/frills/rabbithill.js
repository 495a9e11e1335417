// Rabbit Hill: the leader's marker and the race-state board.
var marker = 377, board = 378;

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
