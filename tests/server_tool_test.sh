#!/bin/bash
# torvane-server runs unattended: stdin closed, a configuration file with
# overrides on the command line, garbage datagrams, and a clean stop.
set -u
bin="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$bin/torvane-server" --print-config > "$dir/torvane-server.cfg" || exit 1
grep -q "^# port = 19800" "$dir/torvane-server.cfg" || { echo "defaults missing"; exit 1; }
printf 'track = first 2\ntrack = second\nmotd = hi\nbogus = 1\n' >> "$dir/torvane-server.cfg"
cd "$dir"
"$bin/torvane-server" --bind 127.0.0.1 --port 0 --quit-after 2 --home "$dir/home" < /dev/null > log.txt 2>&1 &
pid=$!
port=""
for _ in $(seq 50); do
  port=$(sed -n 's/.*Listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' log.txt)
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { echo "server did not start"; cat log.txt; kill "$pid"; exit 1; }
for i in $(seq 20); do
  printf '\x11\x00\x00\x00\x00garbage%d' "$i" > "/dev/udp/127.0.0.1/$port"
  printf '\x00' > "/dev/udp/127.0.0.1/$port"
done
wait "$pid"
status=$?
cat log.txt
[ "$status" -eq 0 ] || { echo "exit status $status"; exit 1; }
grep -q "Warning: Unknown setting 'bogus'" log.txt || exit 1
grep -q "Race 1: track first, 2 laps" log.txt || exit 1
grep -q "Server stopped" log.txt || exit 1
# As a service: stdin closed, stdout a file (not a terminal), stopped by
# SIGTERM. Each line reaches the file when it is logged, and the stop ends
# with status 0 and "Server stopped" as the last line.
"$bin/torvane-server" --bind 127.0.0.1 --port 0 --home "$dir/home" < /dev/null > service.txt 2>&1 &
pid=$!
for _ in $(seq 50); do
  grep -q "Listening on 127\.0\.0\.1:" service.txt && break
  sleep 0.05
done
grep -q "Listening on 127\.0\.0\.1:" service.txt || { echo "no log line while running"; cat service.txt; kill "$pid"; exit 1; }
kill -TERM "$pid"
wait "$pid"
status=$?
cat service.txt
[ "$status" -eq 0 ] || { echo "SIGTERM: exit status $status"; exit 1; }
grep -q "] Stopping on SIGTERM$" service.txt || { echo "SIGTERM not logged"; exit 1; }
tail -n 1 service.txt | grep -q "] Server stopped$" || { echo "SIGTERM: last line is not 'Server stopped'"; exit 1; }
"$bin/torvane-server" --no-such-option < /dev/null > /dev/null && exit 1
"$bin/torvane-server" --config "$dir/missing.cfg" < /dev/null > /dev/null && exit 1
exit 0
