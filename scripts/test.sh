#!/usr/bin/env bash
# Sets everything up and runs the whole test suite: once on a normal build,
# every fuzz target briefly, then once more under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh build
(cd build && ctest --output-on-failure -j "$jobs" --timeout 600)

# Every fuzz target, built with clang, runs on its seeds and then fuzzes for
# a few seconds: a target that stops compiling or starts crashing fails here.
CC=clang CXX=clang++ scripts/setup.sh --target fuzz build-fuzz -DTORVANE_FUZZ=ON -DTORVANE_BENCH=OFF
scripts/fuzz.sh build-fuzz 5

scripts/setup.sh build-asan -DTORVANE_SANITIZE=ON -DTORVANE_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j "$jobs" --timeout 900 -LE slow)
