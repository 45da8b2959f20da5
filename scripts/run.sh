#!/usr/bin/env bash
# Builds ZELMO and starts it. Arguments go to zelmo: [--profile DIR] [--test-devices]
# [--port N] [address]. When nothing answers on the directory server's port on this
# machine, the bundled zelmo-directory is started in the background first and stopped
# again when ZELMO exits, with the relay beside it (coturn's turnserver, packaging/zelmo-relay)
# where turnserver is installed and its port 3478 is free. Without a display it runs the
# two-party demo instead.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZELMO_BUILD_DIR:-$root/build}"
"$root/scripts/build.sh"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "There is no display (DISPLAY is not set), so instead of ZELMO this runs the two-party"
  echo "demo (scripts/demo.sh): two ZELMOs and a directory server on a virtual display."
  exec "$root/scripts/demo.sh" --no-build
fi

# The directory server ZELMO will use: DirAddress and DirPort in the profile's zelmo.ini,
# localhost:2010 when they are not set.
profile="${XDG_CONFIG_HOME:-$HOME/.config}/zelmo"
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[i]}" in
    --profile) profile="${args[i + 1]:-$profile}" ;;
    --profile=*) profile="${args[i]#--profile=}" ;;
  esac
done
host=localhost
port=2010
if [ -f "$profile/zelmo.ini" ]; then
  value=$(sed -n 's/^DirAddress=//p' "$profile/zelmo.ini" | tr -d '\r' | head -n 1)
  [ -n "$value" ] && host=$value
  value=$(sed -n 's/^DirPort=//p' "$profile/zelmo.ini" | tr -d '\r ' | head -n 1)
  # The setting is 16 bits wide: ports above 32767 are kept as negative numbers.
  [[ "$value" =~ ^-?[0-9]+$ ]] && port=$(((value + 65536) % 65536))
fi

# Whether the directory server named in the profile is on this machine: a loopback name or
# address, this machine's name, or one of its own addresses (as the other machines name it).
on_this_machine() {
  case "$1" in
    localhost | 127.* | ::1 | "$(hostname)" | "$(hostname -f 2>/dev/null || hostname)") return 0 ;;
  esac
  local addresses
  addresses=$(ip -o addr show 2>/dev/null | awk '{ sub("/.*", "", $4); print $4 }') || return 1
  grep -qxF -- "$1" <<<"$addresses"
}
answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

server=""
relay=""
stop_server() {
  for pid in $server $relay; do
    if kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
}
trap stop_server EXIT

# The server it starts listens on every interface, so other machines reach it too.
if on_this_machine "$host"; then
  if ! answers "$port"; then
    data="${XDG_DATA_HOME:-$HOME/.local/share}/zelmo-directory"
    mkdir -p "$data"
    log="$data/zelmo-directory.log"
    # The relay for programs that cannot reach each other, sharing a secret (made in the
    # data folder, readable by its owner only) with the server, which hands out
    # credentials made with it.
    relay_options=()
    if command -v turnserver >/dev/null; then
      if answers 3478; then
        echo "Port 3478 is taken (another relay?): the directory server names no relay."
      elif "$root/packaging/zelmo-relay" --prepare "$data" >/dev/null; then
        "$root/packaging/zelmo-relay" "$data" </dev/null >>"$data/relay.log" 2>&1 &
        relay=$!
        relay_options=(--relay 0.0.0.0:3478 --relay-secret-file "$data/relay.secret")
        echo "Started the relay (turnserver) on port 3478, log in $data/relay.log."
      fi
    fi
    "$build/zelmo-directory" --directory-port "$port" --data "$data" "${relay_options[@]}" </dev/null >>"$log" 2>&1 &
    server=$!
    for _ in $(seq 50); do
      answers "$port" || ! kill -0 "$server" 2>/dev/null && break
      sleep 0.1
    done
    if answers "$port"; then
      echo "Started the directory server zelmo-directory on port $port (pals on 2015, log in $log);"
      echo "it stops when ZELMO exits."
    else
      echo "Could not start zelmo-directory on port $port (see $log); ZELMO starts without it."
      server=""
    fi
  fi
fi

status=0
"$build/zelmo" "$@" || status=$?
exit "$status"
