#!/usr/bin/env bash
# Builds the whole test suite and the fuzz targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-sanitize/ (ZELMO_SANITIZE_BUILD_DIR), and runs the
# suite through CTest; any sanitizer report fails the test that caused it.
#   scripts/test-sanitized.sh [ctest arguments]   the suite
#   scripts/test-sanitized.sh --fuzz [arguments]  the fuzz label: every target for about 20 s
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZELMO_SANITIZE_BUILD_DIR:-$root/build-sanitize}"
label=(-LE fuzz)
leaks=0
if [ "${1:-}" = "--fuzz" ]; then
  label=(-L fuzz)
  leaks=1
  shift
fi
"$root/scripts/deps.sh" sanitize
(
  # The machine has two cores: builds started by several shells take turns.
  exec 9>/tmp/zelmo-build.lock
  flock 9
  if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELMO_FUZZ=ON
  fi
  cmake --build "$build" -j 2
)
# shellcheck source=scripts/test-env.sh
. "$root/scripts/test-env.sh"
supp="$root/tests/sanitizers"
# The leak check at exit crashes now and then on this kind of machine ("Tracer caught
# signal 11") in processes with the sound server's threads, so the suite runs without it;
# the fuzz targets keep it. ASAN_OPTIONS=detect_leaks=1 asks for it (see tests/sanitizers).
# An abort (a library's own failed check) is reported with its stack like any other error.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=$leaks:halt_on_error=1:check_initialization_order=1:strict_init_order=1:handle_abort=1}"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$supp/ubsan.supp"
cd "$build"
flock /tmp/zelmo-build.lock ctest --output-on-failure -j 2 "${label[@]}" "$@"
