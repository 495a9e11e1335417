#!/usr/bin/env bash
# The frame-rate ratio the game is held to: the timedemo of the reference
# demo against the bare grid loop, both at 1280 x 720 under one Xvfb, in
# interleaved rounds so a busy moment of the machine hits both alike.
# Prints every round and the medians:
#   ratio: timedemo 14.3 fps / grid 38.3 fps = 0.37 (median of 5 rounds), worst/median 3.8
#   bench/timedemo_ratio.sh [build-dir] [rounds] [demo]
# The game runs on a scratch home with the default settings (the
# Compatibility preset); extra game options go in TIMEDEMO_OPTIONS.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-5}
demo=${3:-$build/bin/demos/start40.qxdemo}
for f in "$build/bin/torvane" "$build/bench/grid_loop" "$demo"; do
  [ -e "$f" ] || { echo "timedemo_ratio: $f is missing (build the torvane, grid_loop and reference_demo targets)" >&2; exit 1; }
done
home=$(mktemp -d /tmp/torvane-ratio-XXXXXX)
trap 'rm -rf "$home"' EXIT
cat > "$home/rounds.sh" <<INNER
set -e
for i in \$(seq $rounds); do
  "$build/bench/grid_loop" --width 1280 --height 720
  XDG_DATA_HOME="$home" "$build/bin/torvane" --nosound --width 1280 --height 720 ${TIMEDEMO_OPTIONS:-} \
    --timedemo "$demo" < /dev/null 2> /dev/null
done
INNER
xvfb-run -a -s '-screen 0 1280x720x24' bash "$home/rounds.sh" | tee "$home/out"
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) exit 1; print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
g=$(sed -nE 's/^grid: [0-9]+ frames [0-9.]+ seconds ([0-9.]+) fps.*/\1/p' "$home/out" | median) || { echo "timedemo_ratio: no grid round" >&2; exit 1; }
d=$(sed -nE 's/^timedemo: [0-9]+ frames [0-9.]+ seconds ([0-9.]+) fps.*/\1/p' "$home/out" | median) || { echo "timedemo_ratio: no timedemo round" >&2; exit 1; }
w=$(sed -nE 's/^timedemo: .*worst frame ([0-9.]+) ms, median ([0-9.]+) ms$/\1 \2/p' "$home/out" | awk '{ print $1 / $2 }' | median)
n=$(grep -c '^timedemo:' "$home/out")
awk -v d="$d" -v g="$g" -v w="$w" -v n="$n" 'BEGIN {
  printf "ratio: timedemo %.1f fps / grid %.1f fps = %.2f (median of %d rounds), worst/median %.1f\n", d, g, d / g, n, w }'
