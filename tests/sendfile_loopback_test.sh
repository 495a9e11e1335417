#!/bin/bash
# Sending a file on loopback: torvane-race joins torvane-server and sends a
# file of its outgoing folder with --sendfile, as the console's sendfile
# does. A server that accepts files ends with a byte-identical copy in its
# folder and nothing else there; one that does not accept them answers
# "Send file denied" and writes nothing.
set -u
bin="$1"
dir=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$dir"' EXIT

# The game's home directory under --home is "torvane/".
outgoing="$dir/home/torvane/outgoing"
mkdir -p "$outgoing"
# 600 bytes: two full parts and one of 88, every byte value among them.
head -c 600 /dev/urandom > "$outgoing/my.trk"

# Starts a server with the given extra options; sets $port and $server_pid.
start_server() {
  local log="$1"
  shift
  "$bin/torvane-server" --bind 127.0.0.1 --port 0 --home "$dir/server_home" --track rabbithill --laps 1 \
    --gate-delay 6 --quit-after 60 "$@" < /dev/null > "$log" 2>&1 &
  server_pid=$!
  pids+=("$server_pid")
  port=""
  for _ in $(seq 200); do
    port=$(sed -n 's/.*Listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log")
    [ -n "$port" ] && break
    sleep 0.05
  done
  [ -n "$port" ] || { echo "server did not start"; cat "$log"; exit 1; }
}

client() {
  "$bin/torvane-race" --home "$dir/home" --connect "127.0.0.1:$port" --name Sender --no-progress \
    --limit-minutes 0.05 --join-timeout 40 --sendfile "$1" < /dev/null > "$2" 2>&1
}

# Accepting.
start_server "$dir/accept.log" --accept-files "$dir/received" --max-file-size 4096
client my.trk "$dir/client1.txt" || { echo "client failed"; cat "$dir/client1.txt" "$dir/accept.log"; exit 1; }
kill "$server_pid"; wait "$server_pid"
cat "$dir/accept.log"
cmp "$outgoing/my.trk" "$dir/received/my.trk" || { echo "the copy differs"; exit 1; }
[ "$(ls -A "$dir/received")" = "my.trk" ] || { echo "left over in the folder:"; ls -la "$dir/received"; exit 1; }
grep -q "^message: Sending file$" "$dir/client1.txt" || { echo "no 'Sending file'"; cat "$dir/client1.txt"; exit 1; }
grep -q "Rider [0-9]* sent file my.trk (600 bytes)" "$dir/accept.log" || { echo "server log"; exit 1; }
grep -q "^chat: File my.trk received$" "$dir/client1.txt" || { echo "no receipt"; cat "$dir/client1.txt"; exit 1; }

# Not accepting.
start_server "$dir/deny.log"
client my.trk "$dir/client2.txt" || { echo "client failed"; cat "$dir/client2.txt" "$dir/deny.log"; exit 1; }
kill "$server_pid"; wait "$server_pid"
grep -q "^message: Send file denied$" "$dir/client2.txt" || { echo "no denial"; cat "$dir/client2.txt"; exit 1; }
grep -q "file transfer refused (not accepting files)" "$dir/deny.log" || { echo "server log"; cat "$dir/deny.log"; exit 1; }
[ ! -e "$dir/server_home/my.trk" ] && [ -z "$(find "$dir" -name 'my.trk' -not -path "$dir/home/*" -not -path "$dir/received/*")" ] \
  || { echo "a copy was written"; exit 1; }
exit 0
