#!/bin/bash
# Chat on loopback: two torvane-race riders join one torvane-server; the
# line one of them says reaches the other as chat, with the sender's name.
set -u
bin="$1"
dir=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$dir"' EXIT

"$bin/torvane-server" --bind 127.0.0.1 --port 0 --home "$dir/server_home" --track rabbithill --laps 1 \
  --gate-delay 6 --quit-after 60 < /dev/null > "$dir/server.log" 2>&1 &
server=$!
pids+=("$server")
port=""
for _ in $(seq 200); do
  port=$(sed -n 's/.*Listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$dir/server.log")
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { echo "server did not start"; cat "$dir/server.log"; exit 1; }

rider() {
  "$bin/torvane-race" --home "$dir/home_$1" --connect "127.0.0.1:$port" --name "$1" --no-progress \
    --limit-minutes 0.15 --join-timeout 40 "${@:3}" < /dev/null > "$2" 2>&1
}
rider Listener "$dir/listener.txt" &
listener=$!
pids+=("$listener")
sleep 1
rider Talker "$dir/talker.txt" --command "good luck out there" || { echo "talker failed"; cat "$dir/talker.txt"; exit 1; }
wait "$listener" || { echo "listener failed"; cat "$dir/listener.txt"; exit 1; }
grep -E "^(chat|message):" "$dir/listener.txt" | head -20
grep -q "^chat: .*Talker.*good luck out there" "$dir/listener.txt" ||
  { echo "the listener never saw the line"; cat "$dir/talker.txt" "$dir/listener.txt" "$dir/server.log"; exit 1; }
echo "chat relayed"
