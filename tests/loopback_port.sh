# Sourced by the scripts that start the race server or the relay on a free
# loopback port: waits for "WORD 127.0.0.1:PORT" in a log (the programs say
# so once they listen) and prints the port; fails after ten seconds.
port_of() {
  for _ in $(seq 200); do
    local port
    port=$(sed -n "s/.*$1 127\.0\.0\.1:\([0-9]*\).*/\1/p" "$2" | head -n 1)
    [ -n "$port" ] && { echo "$port"; return 0; }
    sleep 0.05
  done
  return 1
}
