#!/usr/bin/env bash
# Drives the menus of the running game with xdotool under Xvfb: reaches
# Customize Controls through the F1 help screen and binds a key, changes the
# bike by type-ahead and the rider's name in Bike Setup, starts a one-lap
# race from New Race, quits through the Quit screen, and checks that the
# configuration file holds the changes.
set -u
bin=${1:?bin dir}
command -v xdotool >/dev/null || { echo "xdotool missing: skipped"; exit 0; }
work=$(mktemp -d /tmp/torvane-menu-XXXXXX)
trap 'kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT

source "$(dirname "$0")/xvfb_home.sh"
start_xvfb_home 1024x768x24
config="$work/data/torvane/config"

fail() { echo "FAIL: $*"; echo "--- log"; tail -30 "$log" 2>/dev/null; echo "--- config"; cat "$config" 2>/dev/null; exit 1; }

xdotool mousemove 1 1
start_game "$bin/torvane" --nosound --width 640 --height 480 || fail "the game did not start"
sleep 2
keys() { for k in "$@"; do xdotool key "$k"; sleep 0.25; done; }

# F1 shows Controls and Help; its "Customize Controls" button opens the
# bindings, where Throttle takes "q". Esc closes the menus, Esc opens the
# main menu again.
keys F1 Down Return
sleep 0.3
keys Down Return
sleep 0.5
keys q
sleep 0.5
keys Escape Escape
sleep 0.3
# Main menu -> Bike Setup; "Bike" takes "kx" by type-ahead.
keys Down Down Down Down Down Return
sleep 0.3
keys Down Down Down k x
# "Name": clear it and type a new one.
keys Down End
for _ in $(seq 20); do xdotool key BackSpace; done
xdotool type --delay 120 "Menu Tester"
sleep 0.3
# Back to the main menu, New Race, Laps down to 1, then Start.
keys Up Up Up Up Return
sleep 0.3
keys Return
sleep 0.3
keys Down Down Down Down Down Down Left Left Left Left Up Up Up Up Up Return
sleep 2
grep -q "Resetting" "$log" || fail "no race reset"
# Esc opens the main menu; "Quit" is the last item; any key leaves.
keys Escape
sleep 0.3
keys Down Down Down Down Down Down Down Down Down Return
sleep 0.3
keys a
for _ in $(seq 200); do kill -0 $game 2>/dev/null || break; sleep 0.1; done
if kill -0 $game 2>/dev/null; then
  kill -KILL $game
  fail "the Quit screen did not end the game"
fi
status=0
wait $game || status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
[ -f "$config" ] || fail "no configuration written"
grep -qix "bike=.*kx.*" "$config" || fail "bike not changed: $(grep '^bike=' "$config")"
grep -qx "name=Menu Tester" "$config" || fail "name not changed: $(grep '^name=' "$config")"
grep -qix "throttle_key=(k)q" "$config" || fail "throttle not bound through the help screen: $(grep '^throttle_key=' "$config")"
grep -qx "laps=1.000000" "$config" || fail "laps not 1: $(grep '^laps=' "$config")"
echo "menus under Xvfb: ok ($(grep '^bike=' "$config"))"
