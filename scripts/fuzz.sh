#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build on its seeds (tests/fuzz/corpus/NAME
# for NAME_fuzz) and then fuzzes it for a few seconds more; fails when any
# target crashes, leaks, times out or is missing its seeds.
#   scripts/fuzz.sh [fuzz-build-dir] [seconds-per-target]
# New inputs go to a scratch folder, never into the seed corpus. A crashing
# input is kept as build-dir/fuzz-runs/NAME/crash-* and printed in hex.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
seconds=${2:-10}
jobs=$(nproc)
runs="$build/fuzz-runs"
rm -rf "$runs"
mkdir -p "$runs"

targets=()
for src in tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$src" .cpp)
  if [ ! -x "$build/fuzz/$name" ]; then
    echo "fuzz: $name was not built (run: cmake --build $build --target fuzz)" >&2
    exit 1
  fi
  if [ ! -d "tests/fuzz/corpus/${name%_fuzz}" ]; then
    echo "fuzz: $name has no seeds in tests/fuzz/corpus/${name%_fuzz}" >&2
    exit 1
  fi
  targets+=("$name")
done

run_one() {
  local name=$1 dir="$runs/$1"
  mkdir -p "$dir/new"
  # The seeds are run first (a crash there fails at once), then the fuzzing.
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     "$build/fuzz/$name" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=3072 -max_len=65536 \
       -artifact_prefix="$dir/" -print_final_stats=1 "$dir/new" "tests/fuzz/corpus/${name%_fuzz}" \
       >"$dir/log" 2>&1; then
    local done_line
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$dir/log" | tail -n 1)
    local execs cov ft
    execs=$(sed -n 's/.*exec\/s: \([0-9]*\).*/\1/p' <<<"$done_line")
    cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$done_line")
    ft=$(sed -n 's/.*ft: \([0-9]*\).*/\1/p' <<<"$done_line")
    printf 'fuzz: %-22s passed  %6s exec/s  cov %-6s ft %s\n' "$name" "${execs:-?}" "${cov:-?}" "${ft:-?}"
    echo ok >"$dir/status"
  else
    printf 'fuzz: %-22s FAILED\n' "$name"
    tail -n 40 "$dir/log"
    for crash in "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-*; do
      [ -f "$crash" ] && { echo "input $crash:"; od -A d -t x1 "$crash" | head -n 20; }
    done
    echo failed >"$dir/status"
  fi
}

# Two at a time on a two-core machine.
running=0
for name in "${targets[@]}"; do
  run_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

passed=0
failed=0
for name in "${targets[@]}"; do
  if [ "$(cat "$runs/$name/status" 2>/dev/null)" = ok ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
