#!/usr/bin/env bash
# Sets everything up and starts the game on the built-in data. Only the game
# and its data archive are built here (scripts/test.sh builds the rest).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --quiet --target torvane --target torvane_data build
exec build/bin/torvane "$@"
