#!/bin/bash
# torvane-race console lines and series options end to end: "namedemo"
# names the recording of a race, chat offline says so, unknown commands and
# names that would leave the home directory are refused, and bad series
# options fail with a message.
set -u
bin="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
home="$dir/home"
race=("$bin/torvane-race" --home "$home" --no-progress)
common=(--robots 2 --laps 1 --simple-driver --seed 3 --limit-minutes 0.2)

"${race[@]}" "${common[@]}" --demos --command "/namedemo race1" --command "hello" --command "/nosuch" \
  --command "/namedemo ../../escape" --command "/writesetup ../../escape" --command "/writekeys ../escape" \
  < /dev/null > "$dir/out.txt" 2> "$dir/err.txt" || { echo "run failed"; cat "$dir/err.txt"; exit 1; }
cat "$dir/out.txt" | grep -E "^(message|command):"
grep -qx "message: Demo name updated" "$dir/out.txt" || { echo "no demo name"; exit 1; }
grep -qx "command: hello: handled" "$dir/out.txt" || { echo "chat line"; exit 1; }
grep -qx "message: Not connected to server" "$dir/out.txt" || { echo "chat offline"; exit 1; }
grep -qx "command: /nosuch: not handled" "$dir/out.txt" || { echo "unknown command"; exit 1; }
grep -qx "message: Bad demo name" "$dir/out.txt" || { echo "demo name escaped"; exit 1; }
grep -qx "message: Bad setup name" "$dir/out.txt" || { echo "setup name escaped"; exit 1; }
grep -qx "message: Bad file name" "$dir/out.txt" || { echo "keys name escaped"; exit 1; }
[ -s "$home/torvane/demos/race1.qxdemo" ] || { echo "the named demo is missing"; ls -R "$home"; exit 1; }
[ ! -e "$home/torvane/demos/default.qxdemo" ] || { echo "the default demo was not renamed"; exit 1; }
head -c 5 "$home/torvane/demos/race1.qxdemo" | grep -q "QX06 " || { echo "not a demo"; exit 1; }
[ -z "$(find "$dir" -name 'escape*')" ] || { echo "a file escaped"; find "$dir" -name 'escape*'; exit 1; }

# Series options: a missing series, and options that do not go together.
for args in "--series nowhere" "--series torvane --connect 127.0.0.1" "--series torvane --play x.qxdemo" \
            "--reset-points" "--series" "--command"; do
  # shellcheck disable=SC2086
  "${race[@]}" $args < /dev/null > /dev/null 2> "$dir/err.txt"
  status=$?
  [ "$status" -eq 1 ] || { echo "'$args' gave status $status"; exit 1; }
  [ -s "$dir/err.txt" ] || { echo "'$args' gave no message"; exit 1; }
done
exit 0
