#!/usr/bin/env bash
# Builds ZELMO and starts it. Arguments are passed on: [--profile DIR] [--test-devices] [address]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "ZELMO needs a graphical display, and this session has none (DISPLAY is not set)."
  echo "To build and run the test suite instead: scripts/test.sh"
  echo "To try it on a virtual display: xvfb-run -a scripts/run.sh"
  exit 1
fi
exec "${ZELMO_BUILD_DIR:-$root/build}/zelmo" "$@"
