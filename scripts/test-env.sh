# Sourced by the test scripts: runs what follows headless, with a private runtime folder and
# a private sound server, so the sound path runs on real (null) devices: a sine tone as
# microphone, a silent speaker, and a source that hears what the speaker plays. Everything
# goes when the sourcing script ends. Sourcing it a second time changes nothing.
if [ -z "${ZELMO_TEST_RUNTIME:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  ZELMO_TEST_RUNTIME="$(mktemp -d /tmp/zelmo-test-XXXXXX)"
  export ZELMO_TEST_RUNTIME
  chmod 700 "$ZELMO_TEST_RUNTIME"
  export XDG_RUNTIME_DIR="$ZELMO_TEST_RUNTIME"
  export HOME="$ZELMO_TEST_RUNTIME/home" XDG_CONFIG_HOME="$ZELMO_TEST_RUNTIME/home/.config"
  # No test reaches the desktop of whoever runs it: no notifications, no key grabs there.
  # The desktop scenarios start a bus and a display of their own.
  unset DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY
  mkdir -p "$HOME"
  zelmo_pulse_pid=""
  zelmo_test_cleanup() {
    [ -n "$zelmo_pulse_pid" ] && kill "$zelmo_pulse_pid" 2>/dev/null || true
    rm -rf "$ZELMO_TEST_RUNTIME"
  }
  trap zelmo_test_cleanup EXIT
  if command -v pulseaudio >/dev/null; then
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
      --load="module-native-protocol-unix auth-anonymous=1 socket=$ZELMO_TEST_RUNTIME/pa.sock" \
      --load="module-null-sink sink_name=zelmo_spk" \
      --load="module-sine-source source_name=zelmo_mic" \
      --load="module-remap-source master=zelmo_spk.monitor source_name=zelmo_listen" \
      >"$ZELMO_TEST_RUNTIME/pulse.log" 2>&1 &
    zelmo_pulse_pid=$!
    export PULSE_SERVER="unix:$ZELMO_TEST_RUNTIME/pa.sock"
    for _ in $(seq 50); do [ -S "$ZELMO_TEST_RUNTIME/pa.sock" ] && break; sleep 0.1; done
    pactl set-default-source zelmo_mic >/dev/null 2>&1 || true
    pactl set-default-sink zelmo_spk >/dev/null 2>&1 || true
  fi
fi
