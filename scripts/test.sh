#!/usr/bin/env bash
# Builds ZELMO and runs the whole test suite through CTest, headless. Extra arguments go to
# ctest. With --all, or when CI=true, it then also runs the suite under AddressSanitizer and
# UndefinedBehaviorSanitizer and the fuzz targets (scripts/test-sanitized.sh), and says how
# long each stage took.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZELMO_BUILD_DIR:-$root/build}"
all=false
if [ "${1:-}" = "--all" ]; then
  all=true
  shift
fi
[ "${CI:-}" = "true" ] && all=true

started=$SECONDS
"$root/scripts/build.sh"
# shellcheck source=scripts/test-env.sh
. "$root/scripts/test-env.sh"
# Test runs take turns with builds and with other test runs on this machine: the scenarios
# wait on bounded signals, and a second suite on the same two cores makes them flaky.
(cd "$build" && flock /tmp/zelmo-build.lock ctest --output-on-failure -j 2 "$@")
times="plain suite $((SECONDS - started)) s"
if $all; then
  # Each stage gets a sound server of its own: one that earlier scenarios plugged devices
  # into and out of has since kept state (remembered streams, grown latencies).
  fresh=(env -u ZELMO_TEST_RUNTIME -u PULSE_SERVER)
  started=$SECONDS
  "${fresh[@]}" "$root/scripts/test-sanitized.sh"
  times="$times, sanitized suite $((SECONDS - started)) s"
  started=$SECONDS
  "${fresh[@]}" "$root/scripts/test-sanitized.sh" --fuzz
  times="$times, fuzz targets $((SECONDS - started)) s"
fi
echo "Stages (build and run): $times"
