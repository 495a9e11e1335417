#!/usr/bin/env bash
# Installs the Debian packages the project needs (when missing) and builds it.
#   scripts/setup.sh [build-dir] [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake make pkg-config libode-dev duktape-dev libsdl2-dev libpng-dev zlib1g-dev
          libgl1-mesa-dev libgl1-mesa-dri libgtest-dev libbenchmark-dev xvfb xauth xdotool
          povray pngcheck)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

build=${1:-build}
shift || true
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
