#!/bin/bash
# Every program answers --help and --version with status 0, and its help
# names every option its parser accepts (taken from the parser's source, so a
# new option without a line in the help fails here), and so does its manual page.
set -u
bin="$1"
src="$(cd "$(dirname "$0")/.." && pwd)"
failed=0
check() {
  local program=$1
  shift
  local help
  if ! help=$("$bin/$program" --help 2>&1); then
    echo "$program --help did not exit 0"
    failed=1
  fi
  if ! "$bin/$program" --version 2>&1 | grep -q "^$program [0-9]"; then
    echo "$program --version did not print its version"
    failed=1
  fi
  "$bin/$program" -h >/dev/null 2>&1 || { echo "$program -h did not exit 0"; failed=1; }
  local options
  options=$(cat "$@" | grep -o '"--[a-z0-9][a-z0-9-]*' | tr -d '"' | sort -u)
  [ -n "$options" ] || { echo "$program: no options found in $*"; failed=1; }
  for option in $options; do
    if ! grep -qE -- "(^|[^a-z0-9-])$option([^a-z0-9-]|$)" <<<"$help"; then
      echo "$program --help does not mention $option"
      failed=1
    fi
  done
}
# The installed manual pages name every option too (roff writes "-" as "\-").
check_manual() {
  local page="$src/dist/man/$1.6"
  shift
  local text options
  text=$(sed 's/\\-/-/g; s/\\f[BIPR]//g' "$page")
  options=$(cat "$@" | grep -o '"--[a-z0-9][a-z0-9-]*' | tr -d '"' | sort -u)
  for option in $options; do
    if ! grep -qE -- "(^|[^a-z0-9-])$option([^a-z0-9-]|$)" <<<"$text"; then
      echo "the manual page $page does not mention $option"
      failed=1
    fi
  done
}
check_manual torvane "$src/src/app/options.cpp"
check_manual torvane-server "$src/src/net/server.cpp" "$src/tools/server/main.cpp"
check_manual torvane-race "$src/tools/race/runner_options.cpp"
check torvane "$src/src/app/options.cpp"
check torvane-server "$src/src/net/server.cpp" "$src/tools/server/main.cpp"
check torvane-race "$src/tools/race/runner_options.cpp"
check torvane-databuild "$src/tools/databuild/main.cpp"
check sound_sweep "$src/tools/sound_sweep/main.cpp"
check torvane-relay "$src/tools/relay/main.cpp"
exit $failed
