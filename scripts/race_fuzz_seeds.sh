#!/usr/bin/env bash
# Records the seeds of the race fuzz targets: torvane-server with two robots
# on the tiny ring track of tests/fuzz/tracks, two torvane-race riders (one
# chatting) joined through torvane-relay --record, one short race with ruts.
# What each rider received becomes a client_race seed, what the server
# received a server_race seed.
#   scripts/race_fuzz_seeds.sh [build-dir]
# Needs torvane-server, torvane-race and torvane-relay built in build-dir.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build}/bin
dir=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$dir"' EXIT
mkdir -p "$dir/data" "$dir/record"
cp -r tests/fuzz/tracks/tiny "$dir/data/"

source tests/loopback_port.sh

QX_HOME="$dir/data" "$bin/torvane-server" --bind 127.0.0.1 --port 0 --home "$dir/server_home" --track tiny \
  --laps 1 --gate-delay 1 --race-limit 0.2 --results-wait 0.5 --robots 2 --erode 50 --motd welcome \
  --knockout "128 256" --quit-after 60 < /dev/null > "$dir/server.log" 2>&1 &
pids+=($!)
server_port=$(port_of "Listening on" "$dir/server.log") || { echo "the server did not start"; cat "$dir/server.log"; exit 1; }
"$bin/torvane-relay" --to "127.0.0.1:$server_port" --record "$dir/record" < /dev/null > "$dir/relay.log" 2>&1 &
relay=$!
pids+=("$relay")
relay_port=$(port_of Relaying "$dir/relay.log") || { echo "the relay did not start"; cat "$dir/relay.log"; exit 1; }

rider() {
  QX_HOME="$dir/data" "$bin/torvane-race" --home "$dir/home_$1" --connect "127.0.0.1:$relay_port" --name "$1" \
    --no-progress --simple-driver --limit-minutes 0.1 --join-timeout 20 "${@:2}" < /dev/null > "$dir/$1.txt" 2>&1
}
rider One &
one=$!
sleep 0.3
rider Two --chat "good luck" || { echo "rider Two failed"; cat "$dir/Two.txt" "$dir/server.log"; exit 1; }
wait "$one" || { echo "rider One failed"; cat "$dir/One.txt" "$dir/server.log"; exit 1; }
kill "$relay"
wait "$relay" || true
cat "$dir/relay.log"
grep -h "^net:" "$dir/One.txt" "$dir/Two.txt"
grep -E "Race|Robot|joined|Chat" "$dir/server.log"
grep -q "over" "$dir/server.log" || { echo "the race did not end"; cat "$dir/server.log"; exit 1; }

mkdir -p tests/fuzz/corpus/client_race tests/fuzz/corpus/server_race
cp "$dir/record/client_0" tests/fuzz/corpus/client_race/recorded-one
cp "$dir/record/client_1" tests/fuzz/corpus/client_race/recorded-two
cp "$dir/record/server" tests/fuzz/corpus/server_race/recorded
ls -l tests/fuzz/corpus/client_race tests/fuzz/corpus/server_race
