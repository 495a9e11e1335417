#!/usr/bin/env bash
# Sets everything up and starts the game on the built-in data.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
exec build/bin/torvane "$@"
