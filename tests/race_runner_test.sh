#!/bin/bash
# torvane-race end to end: the same race twice gives the same state hash; a
# recorded race played back gives the same positions at every recorded tic
# (trace hash) and the same final state, which --expect-hash checks; a wrong
# hash and bad options fail.
set -u
bin="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
race=("$bin/torvane-race" --home "$dir/home" --no-progress)
common=(--robots 3 --laps 1 --simple-driver --seed 7 --limit-minutes 0.4)

value() { sed -n "s/^$1: //p" "$2" | tail -1; }

"${race[@]}" "${common[@]}" < /dev/null > "$dir/one.txt" || { echo "first run failed"; exit 1; }
"${race[@]}" "${common[@]}" --record "$dir/race.qxdemo" < /dev/null > "$dir/two.txt" || { echo "recording failed"; exit 1; }
cat "$dir/two.txt"
for key in "riders finished" "simulated seconds" "wall seconds" "real-time ratio" "state hash"; do
  [ -n "$(value "$key" "$dir/one.txt")" ] || { echo "summary lacks '$key'"; exit 1; }
done
# The summary is the last five lines, in this order.
tail -5 "$dir/one.txt" | cut -d: -f1 | tr '\n' ',' | grep -qx "riders finished,simulated seconds,wall seconds,real-time ratio,state hash," \
  || { echo "summary order"; exit 1; }
grep -q "^riders finished: 0 of 3$" "$dir/one.txt" || { echo "rider count"; exit 1; }
grep -q "^simulated seconds: 24.000$" "$dir/one.txt" || { echo "simulated time"; exit 1; }
hash=$(value "state hash" "$dir/one.txt")
[ "$hash" = "$(value "state hash" "$dir/two.txt")" ] || { echo "same race, different hash"; exit 1; }
[ "$(value "trace hash" "$dir/one.txt")" = "$(value "trace hash" "$dir/two.txt")" ] || { echo "same race, different trace"; exit 1; }

# Another seed is another race.
"${race[@]}" --robots 3 --laps 1 --simple-driver --seed 8 --limit-minutes 0.4 < /dev/null > "$dir/other.txt" || exit 1
[ "$hash" != "$(value "state hash" "$dir/other.txt")" ] || { echo "the seed changed nothing"; exit 1; }

[ -s "$dir/race.qxdemo" ] || { echo "no demo written"; exit 1; }
head -c 5 "$dir/race.qxdemo" | grep -q "QX06 " || { echo "not a demo"; exit 1; }
"${race[@]}" --play "$dir/race.qxdemo" --expect-hash "$hash" < /dev/null > "$dir/play.txt" \
  || { echo "playback did not reproduce the hash"; cat "$dir/play.txt"; exit 1; }
cat "$dir/play.txt"
[ "$(value "trace hash" "$dir/two.txt")" = "$(value "trace hash" "$dir/play.txt")" ] || { echo "positions differ in playback"; exit 1; }
"${race[@]}" --play "$dir/race.qxdemo" --expect-hash 0123456789abcdef < /dev/null > /dev/null 2>&1 \
  && { echo "a wrong hash passed"; exit 1; }

# Ruts: a race with erosion leaves other ground than one without, and its
# demo, played without erosion of its own, wears the same ruts into the
# ground (the state hash covers every height).
"${race[@]}" "${common[@]}" --erode 10 --record "$dir/ruts.qxdemo" < /dev/null > "$dir/ruts.txt" \
  || { echo "recording with ruts failed"; exit 1; }
ruts=$(value "state hash" "$dir/ruts.txt")
[ "$ruts" != "$hash" ] || { echo "erosion left no ruts"; exit 1; }
"${race[@]}" --play "$dir/ruts.qxdemo" --expect-hash "$ruts" < /dev/null > "$dir/ruts_play.txt" \
  || { echo "the ruts did not replay"; cat "$dir/ruts_play.txt"; exit 1; }

# Bad input: a message and status 1, never a crash.
printf 'QX06 1 0 1\nnothing\n' > "$dir/bad.qxdemo"
for args in "--robots 0" "--robots 161" "--erode 101" "--erode x" "--laps x" "--bogus" "--track nowhere" "--play $dir/missing.qxdemo" \
            "--play $dir/bad.qxdemo" "--laps 0" "--record $dir/a --play $dir/b" "--robots"; do
  # shellcheck disable=SC2086
  "${race[@]}" $args < /dev/null > /dev/null 2> "$dir/err.txt"
  status=$?
  [ "$status" -eq 1 ] || { echo "'$args' gave status $status"; exit 1; }
  [ -s "$dir/err.txt" ] || { echo "'$args' gave no message"; exit 1; }
done
exit 0
