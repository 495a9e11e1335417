#!/usr/bin/env bash
# Played as a person would: the game joins a local torvane-server under
# Xvfb, and xdotool holds the throttle, steers, shifts, goes through the
# views with Tab, opens the menu and quits from it. The bike must have
# moved (the rider camera's printed position) and the log must be clean.
set -u
bin=${1:?bin dir}
command -v xdotool >/dev/null || { echo "SKIP: xdotool is not installed"; exit 0; }
work=$(mktemp -d /tmp/torvane-play-XXXXXX)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT

source "$(dirname "$0")/xvfb_home.sh"
start_xvfb_home 1024x768x24
pids+=("$xvfb_pid")

"$bin/torvane-server" --bind 127.0.0.1 --port 0 --home "$work/server" --track rabbithill --laps 1 \
  --gate-delay 4 --quit-after 120 < /dev/null > "$work/server.log" 2>&1 &
pids+=($!)
port=""
for _ in $(seq 200); do
  port=$(sed -n 's/.*Listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/server.log")
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { echo "server did not start"; cat "$work/server.log"; exit 1; }

"$bin/torvane" --nosound --width 640 --height 480 --connect "127.0.0.1:$port" --print-orientation \
  >"$work/stdout" 2>"$work/stderr" &
game=$!
pids+=($game)
fail() {
  echo "FAIL: $*"
  echo "--- log"; cat "$log" 2>/dev/null
  echo "--- stderr"; cat "$work/stderr"
  echo "--- server"; cat "$work/server.log"
  exit 1
}
for _ in $(seq 600); do
  grep -q "Entering main loop" "$log" 2>/dev/null && break
  kill -0 $game 2>/dev/null || fail "the game ended before its main loop"
  sleep 0.1
done
window=$(xdotool search --sync --onlyvisible --name . | head -1)
[ -n "$window" ] || fail "no window"
xdotool windowfocus --sync "$window" 2>/dev/null
xdotool mousemove 320 240
key() { xdotool keydown "$1"; sleep "${2:-0.2}"; xdotool keyup "$1"; sleep 0.3; }

# The race comes from the server and loads after the main loop starts,
# and under the sanitizers on a busy machine the game's race clock can
# run well behind the wall clock: go by the printed race time, not by
# sleeping. Wait until the gate (4 s into the race) is down, then hold
# the throttle until the bike has gone 20 ft or a minute has passed,
# with a touch of steering and shifts on the way.
# The last whole line (the game may be half way through writing one).
latest() { grep '^t=.* z2=' "$work/stdout" | tail -1; }
race_time() { latest | sed -n 's/^t=\([-0-9.]*\) .*/\1/p'; }
distance() {
  awk -v a="$1" -v b="$2" 'function v(s, k,  m) { match(s, k "=[-0-9.]+"); return substr(s, RSTART + length(k) + 1, RLENGTH - length(k) - 1) + 0 }
    BEGIN { dx = v(b, "p0") - v(a, "p0"); dz = v(b, "p2") - v(a, "p2"); print sqrt(dx * dx + dz * dz) }'
}
for _ in $(seq 1200); do
  t=$(race_time)
  [ -n "$t" ] && awk -v t="$t" 'BEGIN { exit !(t > 5) }' && break
  kill -0 $game 2>/dev/null || fail "the game ended before the gate dropped"
  sleep 0.1
done
first=$(latest)
[ -n "$first" ] || fail "no orientation lines"
xdotool keydown x
sleep 2
key Up
key Left 0.4
key Right 0.4
key Up
moved=0
for _ in $(seq 600); do
  now=$(latest)
  # A race that restarted under us begins again from its gate.
  awk -v a="${first#t=}" -v b="${now#t=}" 'BEGIN { exit !(b + 0 < a + 0) }' && first=$now
  moved=$(distance "$first" "$now")
  awk -v m="$moved" 'BEGIN { exit !(m > 20) }' && break
  kill -0 $game 2>/dev/null || fail "the game ended while riding"
  sleep 0.1
done
xdotool keyup x
last=$(latest)
# Through the views and back to the rider's.
key Tab; sleep 1; key Tab; sleep 1; key Tab; sleep 1
# The menu, and Quit (the last item: going down stops there), then any key.
key Escape; sleep 1
for _ in $(seq 12); do key Down 0.1; done
key Return; sleep 1; key a
for _ in $(seq 200); do kill -0 $game 2>/dev/null || break; sleep 0.1; done
kill -0 $game 2>/dev/null && fail "the game did not quit from the menu"
status=0
wait $game || status=$?
[ "$status" -eq 0 ] || fail "exit status $status"

echo "the bike moved $moved ft (from: $first; to: $last)"
awk -v m="$moved" 'BEGIN { exit !(m > 20) }' || fail "the bike moved only $moved ft"
# (the extension list names GL_KHR_no_error, which is no error)
grep -v "GL_EXTENSIONS" "$log" | grep -i "error" && fail "the log reports an error"
grep -q "Window shutdown complete" "$log" || fail "no clean shutdown"
echo "played online under Xvfb: ok"
