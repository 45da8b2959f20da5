#!/usr/bin/env bash
# Builds ZELMO and runs the whole test suite through CTest, headless.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZELMO_BUILD_DIR:-$root/build}"
"$root/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
# A private runtime folder and sound server, so the sound path runs on real (null) devices:
# a sine tone as microphone, a silent speaker, and a source that hears what the speaker plays.
runtime="$(mktemp -d /tmp/zelmo-test-XXXXXX)"
chmod 700 "$runtime"
export XDG_RUNTIME_DIR="$runtime"
export HOME="$runtime/home" XDG_CONFIG_HOME="$runtime/home/.config"
mkdir -p "$HOME"
pulse_pid=""
cleanup() {
  [ -n "$pulse_pid" ] && kill "$pulse_pid" 2>/dev/null || true
  rm -rf "$runtime"
}
trap cleanup EXIT
if command -v pulseaudio >/dev/null; then
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$runtime/pa.sock" \
    --load="module-null-sink sink_name=zelmo_spk" \
    --load="module-sine-source source_name=zelmo_mic" \
    --load="module-remap-source master=zelmo_spk.monitor source_name=zelmo_listen" >"$runtime/pulse.log" 2>&1 &
  pulse_pid=$!
  export PULSE_SERVER="unix:$runtime/pa.sock"
  for _ in $(seq 50); do [ -S "$runtime/pa.sock" ] && break; sleep 0.1; done
  pactl set-default-source zelmo_mic >/dev/null 2>&1 || true
  pactl set-default-sink zelmo_spk >/dev/null 2>&1 || true
fi
cd "$build"
# Test runs take turns with builds and with other test runs on this machine: the scenarios
# wait on bounded signals, and a second suite on the same two cores makes them flaky.
exec 9>/tmp/zelmo-build.lock
flock 9
ctest --output-on-failure -j 2 "$@"
