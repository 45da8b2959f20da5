#!/usr/bin/env bash
# Installs missing dependencies, configures with CMake and Ninja, and builds everything.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZELMO_BUILD_DIR:-$root/build}"
"$root/scripts/deps.sh"
# The machine has two cores: builds started by several shells take turns.
exec 9>/tmp/zelmo-build.lock
flock 9
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j 2
