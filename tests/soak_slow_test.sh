#!/bin/bash
# Soak: a torvane-server with two robots and two torvane-race riders on
# loopback, the riders joining through torvane-relay, which loses 5% of the
# datagrams each way and delays the rest by 50 ms, while a sender beside them
# throws random bytes, truncated datagrams, refused contacts and contacts
# that never come back at the server's port. Each rider rejoins whenever its
# race is over, until five races have ended with results. Every race must
# end with its result lines, both riders must have ridden, the server must
# still run, and its resident memory after the last race must be within 10%
# of that after the first. Races are cut short by the server's time limit.
set -u
bin="$1"
dir=$(mktemp -d)
pids=()
cleanup() {
  touch "$dir/stop"
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  # The riders' runs under way.
  for f in "$dir"/race_pid_*; do [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
races=5
deadline=$((SECONDS + 220))

fail() {
  echo "soak: $*"
  echo "--- server log (last 60 lines)"
  tail -n 60 "$dir/server.log"
  for f in "$dir"/rider_*.txt; do [ -f "$f" ] && { echo "--- $f"; tail -n 15 "$f"; }; done
  exit 1
}

source "$(dirname "$0")/loopback_port.sh"

"$bin/torvane-server" --bind 127.0.0.1 --port 0 --home "$dir/server_home" --track rabbithill --laps 1 \
  --gate-delay 3 --race-limit 0.15 --results-wait 2 --robots 2 --erode 20 --client-timeout 10 \
  --motd "soak test" --quit-after 400 < /dev/null > "$dir/server.log" 2>&1 &
server=$!
pids+=("$server")
port=$(port_of "Listening on" "$dir/server.log") || fail "the server did not start"
"$bin/torvane-relay" --to "127.0.0.1:$port" --loss 5 --lag 50 --seed 7 < /dev/null > "$dir/relay.log" 2>&1 &
relay=$!
pids+=("$relay")
relay_port=$(port_of Relaying "$dir/relay.log") || fail "the relay did not start"

# A rider rejoins until the test stops it; each run rides one race.
rider() {
  local name=$1 run=0
  while [ ! -e "$dir/stop" ]; do
    run=$((run + 1))
    "$bin/torvane-race" --home "$dir/home_$name" --connect "127.0.0.1:$relay_port" --name "$name" --no-progress \
      --limit-minutes 1 --join-timeout 60 --chat "run $run of $name" < /dev/null > "$dir/rider_$name.txt" 2>&1 &
    echo $! > "$dir/race_pid_$name"
    wait $!
    echo "$name run $run: status $?" >> "$dir/runs.txt"
  done
}
rider Alpha &
pids+=($!)
rider Bravo &
pids+=($!)

# The malformed sender. Most datagrams go from one socket (one address, so
# its refused contacts are rate-limited in the log); a proper contact now
# and then goes from a socket of its own and is never heard from again.
contact='\x00\x00\x00\x00\x00\x54\x52\x56\x4e\x22\x00\x00\x00\x01\x02\x03\x04\x05\x06\x07\x08'
old_contact='\x00\x00\x00\x00\x00\x54\x52\x56\x4e\x21\x00\x00\x00\x01\x02\x03\x04\x05\x06\x07\x08'
garbage() {
  exec 3> "/dev/udp/127.0.0.1/$port"
  local n=0
  while [ ! -e "$dir/stop" ]; do
    n=$((n + 1))
    {
      head -c $((RANDOM % 300 + 1)) /dev/urandom >&3
      # Real-looking datagrams cut short or run on with noise: a contact, a
      # state, a reliable message (each written whole, so one datagram).
      printf "$contact" | head -c $((RANDOM % 21)) > "$dir/datagram" && cat "$dir/datagram" >&3
      { printf '\x0b\x00\x00\x00\x00'; head -c $((RANDOM % 70)) /dev/urandom; } > "$dir/datagram" &&
        cat "$dir/datagram" >&3
      { printf '\x11\x01\x00\x00\x00'; head -c $((RANDOM % 40)) /dev/urandom; } > "$dir/datagram" &&
        cat "$dir/datagram" >&3
      printf "$old_contact" >&3
      [ $((n % 20)) -eq 0 ] && printf "$contact" > "/dev/udp/127.0.0.1/$port"
    } 2>/dev/null
    sleep 0.02
  done
}
garbage &
pids+=($!)

rss() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$server/status"; }
over_count() { grep -c "^.*Race [0-9]* over" "$dir/server.log"; }
first_rss=""
while :; do
  kill -0 "$server" 2>/dev/null || fail "the server stopped"
  [ $SECONDS -lt $deadline ] || fail "only $(over_count) of $races races ended in time"
  count=$(over_count)
  if [ -z "$first_rss" ] && [ "$count" -ge 1 ]; then
    sleep 0.5  # the result lines follow the "over" line
    first_rss=$(rss)
    echo "soak: after race 1 the server holds $first_rss kB"
  fi
  [ "$count" -ge "$races" ] && break
  sleep 0.2
done
sleep 0.5
last_rss=$(rss)
echo "soak: after race $races the server holds $last_rss kB"
touch "$dir/stop"

grep -E "Race [0-9]+|\] +[0-9]+\. #|joined|left$|timed out|behind" "$dir/server.log" | head -n 150
echo "soak: $(grep -c "left out" "$dir/server.log") rate-limited contact lines, $(grep -c "Contact from" "$dir/server.log") in all"
cat "$dir/runs.txt"
# Every race that ended listed its riders: each "over" line is followed by
# result lines, the robots and at least one rider among them.
awk -v want="$races" '
  /Race [0-9]+ over/ { if (open) bad = 1; open = 1; lines = 0; ended++; next }
  open && /\] +[0-9]+\. #/ { lines++; next }
  open { if (lines < 3) bad = 1; open = 0 }
  END { if (open && lines < 3) bad = 1; exit !(ended >= want && !bad) }
' "$dir/server.log" || fail "a race ended without its results"
for name in Alpha Bravo; do
  grep -qE "\] +[0-9]+\. #[^ ]* $name:" "$dir/server.log" || fail "$name never rode a race"
done
grep -q "left out" "$dir/server.log" || fail "the refused contacts were not rate-limited"
[ -n "$first_rss" ] && [ -n "$last_rss" ] || fail "no memory figures"
limit=$((first_rss + first_rss / 10))
[ "$last_rss" -le "$limit" ] || fail "memory grew from $first_rss kB to $last_rss kB"
kill "$relay"
wait "$relay"
delivered=$(grep "^Delivered" "$dir/relay.log")
echo "soak: relay: $delivered"
# About 5% lost: between 2% and 10% of thousands of datagrams.
read -r sent lost < <(sed -n 's/^Delivered \([0-9]*\) datagrams, lost \([0-9]*\)$/\1 \2/p' <<<"$delivered")
[ "${sent:-0}" -gt 1000 ] || fail "the relay delivered only ${sent:-0} datagrams"
share=$((100 * lost / (sent + lost)))
[ $((50 * lost)) -ge $((sent + lost)) ] && [ $((10 * lost)) -le $((sent + lost)) ] ||
  fail "the relay lost $lost of $((sent + lost)) datagrams ($share%), not about 5%"
echo "soak: $races races, memory $first_rss kB -> $last_rss kB"
