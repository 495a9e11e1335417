# Sourced by the script tests that run the game: starts a private Xvfb of
# the given screen size and points the game at a fresh home under $work.
# Needs $work set; sets DISPLAY, xvfb_pid and log. The caller's EXIT trap
# kills $xvfb_pid.
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
