# Sourced by the script tests that run the game: start_xvfb_home starts a
# private Xvfb of the given screen size and points the game at a fresh home
# under $work (needs $work set; sets DISPLAY, xvfb_pid and log; the
# caller's EXIT trap kills $xvfb_pid); start_game and stop_game run the game.
start_xvfb_home() {
  local screen=${1:-1024x768x24}
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.err"; exit 1; }
  export DISPLAY=":$(cat "$work/display")"
  export XDG_DATA_HOME="$work/data" HOME="$work" SDL_AUDIODRIVER=dummy
  unset QX_HOME HOVL_LOGFILE HOVL_LOGFILE_FLAGS HOVL_OPTIONS
  log="$work/data/torvane/lastlog.txt"
}

# Starts the game (program and arguments) in the background with its output
# in $work/stdout and $work/stderr and waits up to 30 s for its main loop.
# Sets game; returns 1 when the loop did not start.
start_game() {
  "$@" >"$work/stdout" 2>"$work/stderr" &
  game=$!
  for _ in $(seq 300); do
    grep -q "Entering main loop" "$log" 2>/dev/null && return 0
    kill -0 $game 2>/dev/null || break
    sleep 0.1
  done
  grep -q "Entering main loop" "$log" 2>/dev/null
}

# Sends the game SIGTERM and waits up to 20 s for it to end. Sets status to
# its exit status; returns 1 (after killing it) when it did not end.
stop_game() {
  kill -TERM $game 2>/dev/null
  for _ in $(seq 200); do kill -0 $game 2>/dev/null || break; sleep 0.1; done
  if kill -0 $game 2>/dev/null; then
    kill -KILL $game
    return 1
  fi
  status=0
  wait $game || status=$?
}
