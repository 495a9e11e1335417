#!/usr/bin/env bash
# Installs the Debian packages the project needs (when missing) and builds it.
#   scripts/setup.sh [--quiet] [--target NAME]... [build-dir] [extra cmake options...]
# Without --target the whole tree is built. --quiet keeps the compiler's
# progress lines out of the terminal (they go to build-dir/build.log) and
# says in one line what is being built.
set -euo pipefail
cd "$(dirname "$0")/.."

quiet=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --quiet) quiet=1; shift ;;
    --target) targets+=("$2"); shift 2 ;;
    *) break ;;
  esac
done

build=${1:-build}
shift || true

# clang and its runtime build the fuzz targets; xdg-utils lets the game open
# its home folder (--open-home); desktop-file-utils and appstream check the
# installed desktop entry and metainfo (tests).
packages=(g++ cmake make pkg-config libode-dev duktape-dev libsdl2-dev libpng-dev zlib1g-dev
          libgl1-mesa-dev libgl1-mesa-dri libgtest-dev libbenchmark-dev xvfb xauth xdotool
          libfreetype-dev fonts-dejavu-core povray pngcheck clang libclang-rt-14-dev xdg-utils
          desktop-file-utils appstream)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "These Debian packages are missing: ${missing[*]}" >&2
      echo "Install them as root with this one command, then run this script again:" >&2
      echo "  apt-get install -y ${missing[*]}" >&2
      exit 1
    fi
    sudo="sudo"
  fi
  echo "Installing: ${missing[*]}"
  if [ "$quiet" -eq 1 ]; then
    mkdir -p "$build"
    if ! { $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"; } \
        >"$build/apt.log" 2>&1; then
      tail -n 20 "$build/apt.log" >&2
      echo "Installing the packages failed; the whole output is in $build/apt.log" >&2
      exit 1
    fi
  else
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  fi
fi

target_args=()
[ ${#targets[@]} -gt 0 ] && target_args=(--target "${targets[@]}")
if [ "$quiet" -eq 1 ]; then
  log="$build/build.log"
  mkdir -p "$build"
  first=""
  [ -f "$build/CMakeCache.txt" ] || first=" (the first build takes several minutes)"
  echo "Building ${targets[*]:-everything} in $build/$first; compiler output goes to $log"
  if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" &&
         cmake --build "$build" -j "$(nproc)" "${target_args[@]}"; } >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "The build failed; the whole output is in $log" >&2
    exit 1
  fi
else
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$build" -j "$(nproc)" "${target_args[@]}"
fi
