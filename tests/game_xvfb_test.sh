#!/usr/bin/env bash
# Starts the game under Xvfb with --nosound, lets its loop run, sends SIGTERM
# and checks the start-up and shutdown lines of the log and the exit status.
set -u
bin=${1:?bin dir}
work=$(mktemp -d /tmp/torvane-xvfb-XXXXXX)
trap 'kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT

source "$(dirname "$0")/xvfb_home.sh"
start_xvfb_home 1024x768x24

start_game "$bin/torvane" --nosound --width 320 --height 240
sleep 1
if ! stop_game; then
  echo "FAIL: the game did not end within 20 s of SIGTERM"
  cat "$log" 2>/dev/null
  exit 1
fi

fail() { echo "FAIL: $*"; echo "--- log"; cat "$log" 2>/dev/null; echo "--- stderr"; cat "$work/stderr"; exit 1; }
[ "$status" -eq 0 ] || fail "exit status $status"
[ -f "$log" ] || fail "no log at $log"

# Every expected line, in this order.
expect_in_order() {
  local at=0 line n
  for want in "$@"; do
    n=$(awk -v from="$at" -v want="$want" 'NR > from && index($0, want) { print NR; exit }' "$log")
    [ -n "$n" ] || fail "missing or out of order: '$want'"
    at=$n
  done
}
expect_in_order "Logfile \"" "HOVL 0.31" "Torvane version 2019-02-04-1446 snapshot" "Creating window" \
  "Listing directories" "File index complete" "GL_VENDOR: " "GL_RENDERER: " "GL_VERSION: " "Resetting" \
  "Entering main loop" "Deallocating bikes" "Finished deallocating bikes" "Freeing memory (1)" \
  "Closing input devices" "Closing audio" "Writing config files" "Freeing memory (2)" "Freeing memory (3)" \
  "Freeing file list" "Freeing memory (4)" "Deleting textures" "Deleting models" "Window shutdown complete"
echo "game start-up and shutdown under Xvfb: ok"
