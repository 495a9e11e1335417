#!/usr/bin/env bash
# The timedemo under Xvfb: on a short recorded demo it prints exactly one
# line in the agreed format, draws one frame per 1/60 s of the demo's race
# time, and leaves the demo file and the simulation as they were (the state
# where playback ends equals the race runner's, whatever the window size and
# drawing path). Missing and corrupt demos fail with a message, not a crash.
set -u
bin=${1:?bin dir}
work=$(mktemp -d /tmp/torvane-timedemo-XXXXXX)
trap 'kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT

source "$(dirname "$0")/xvfb_home.sh"
start_xvfb_home 1280x720x24
fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$work/out" 2>/dev/null; echo "--- stderr"; cat "$work/err" 2>/dev/null; exit 1; }

# Four seconds of three robots with ruts: the gate, the ground edits and the
# riders all replay.
demo="$work/short.qxdemo"
"$bin/torvane-race" --home "$work/racehome" --no-progress --robots 3 --laps 1 --seed 5 --erode 10 \
  --limit-minutes 0.0667 --record "$demo" < /dev/null > "$work/race.txt" || fail "recording the demo"
"$bin/torvane-race" --home "$work/racehome" --no-progress --play "$demo" < /dev/null > "$work/play.txt" \
  || fail "playing the demo in the runner"
runner_hash=$(sed -n 's/^state hash: //p' "$work/play.txt" | tail -1)
[ -n "$runner_hash" ] || fail "the runner printed no state hash"
before=$(cksum < "$demo")

# The demo's length in tics: from the first states chunk to the newest entry.
length=$(python3 - "$demo" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
lines = data.split(b"\n")
riders = int(lines[0].split()[1])
offset = sum(len(l) + 1 for l in lines[:2 + 4 * riders])
previous, first, newest = 0, None, None
while offset + 9 <= len(data):
    link, tic, kind = struct.unpack_from("<IiB", data, offset)
    length = link ^ previous
    payload = data[offset + 9:offset + 9 + length]
    if kind == 1 and length % 44 == 0:
        if first is None:
            first = tic
        for e in range(0, length, 44):
            newest = max(newest or 0, struct.unpack_from("<i", payload, e + 1)[0])
    previous = length
    offset += 9 + length
print(newest - first)
PY
) || fail "reading the demo"
# Frame k stands at tic first + floor(k * 128 / 60); the last frame is the
# first one at or past the newest state.
expected=$(( (length * 15 + 31) / 32 + 1 ))

pattern='^timedemo: [0-9]+ frames [0-9]+\.[0-9]{2} seconds [0-9]+\.[0-9] fps, worst frame [0-9]+\.[0-9] ms, median [0-9]+\.[0-9] ms$'
run() {
  rm -f "$log"
  "$bin/torvane" --timedemo "$demo" "$@" < /dev/null > "$work/out" 2> "$work/err" || fail "timedemo $* exited $?"
  [ "$(wc -l < "$work/out")" -eq 1 ] || fail "timedemo $* printed other than one line"
  grep -Eq "$pattern" "$work/out" || fail "timedemo line format: $(cat "$work/out")"
  frames=$(sed -E 's/^timedemo: ([0-9]+) frames.*/\1/' "$work/out")
  [ "$frames" -eq "$expected" ] || fail "timedemo $* drew $frames frames for $length tics, expected $expected"
  hash=$(sed -n 's/.*timedemo: final state hash //p' "$log" | tail -1)
  [ "$hash" = "$runner_hash" ] || fail "timedemo $* ended in state $hash, the runner in $runner_hash"
  [ "$(cksum < "$demo")" = "$before" ] || fail "timedemo $* changed the demo file"
}
run --width 320 --height 240
cat "$work/out"
run --width 640 --height 360 --fugly --draw-render-stats 1
grep -q '^timedemo parts (ms):' "$work/err" || fail "no per-part figures with --draw-render-stats"

# Bad input: a message and a non-zero status, never a crash.
printf 'QX06 1 0 1\nnothing\n' > "$work/bad.qxdemo"
head -c 7 "$demo" > "$work/cut.qxdemo"
for bad in "$work/missing.qxdemo" "$work/bad.qxdemo" "$work/cut.qxdemo"; do
  "$bin/torvane" --timedemo "$bad" --width 320 --height 240 < /dev/null > "$work/out" 2> "$work/err"
  status=$?
  [ "$status" -ne 0 ] && [ "$status" -lt 128 ] || fail "timedemo of $bad gave status $status"
  grep -q "timedemo: $bad" "$work/err" || fail "no message for $bad"
done
# A good header over a damaged body plays what it can and ends.
{ head -c 2000 "$demo"; head -c 3000 /dev/urandom; } > "$work/garbled.qxdemo"
"$bin/torvane" --timedemo "$work/garbled.qxdemo" --width 320 --height 240 < /dev/null > "$work/out" 2> "$work/err"
status=$?
[ "$status" -lt 128 ] || fail "a damaged body crashed the timedemo (status $status)"
"$bin/torvane" --timedemo < /dev/null > "$work/out" 2> "$work/err"
status=$?
[ "$status" -eq 1 ] && grep -q "Bad arg for --timedemo" "$work/err" || fail "--timedemo without a demo gave status $status"
echo "timedemo: $expected frames, final state $runner_hash"
exit 0
