#!/usr/bin/env bash
# The two-party demo: a zelmo-directory and two ZELMOs with test devices (Ann and Bob), each
# with its own profile under a temporary folder. Ann finds Bob in the directory and calls
# him, Bob answers, they exchange test-pattern video, sound, chat and a quick message each
# way, Ann hangs up. It prints what happened from the programs' own windows, counters and
# logs, leaves screenshots in the folder it names, and exits non-zero when a step did not
# happen.
#
# Usage: scripts/demo.sh [--out DIR] [--port-base N] [--keep] [--no-build] [--build-dir DIR]
#   --out DIR        screenshots and logs (default: build/demo)
#   --port-base N    ports to use when no private network namespace can be had
#   --keep           keep the temporary profile folders
# Without a display it runs on a virtual one (Xvfb). As root it runs on two machines made of
# network namespaces (the directory server and Ann on one, Bob on the other), as two people
# on two computers would; otherwise, where it can, in one private network namespace, so the
# programs use their default ports without meeting any ZELMO or directory server already
# running on this machine.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZELMO_BUILD_DIR:-$root/build}"
out=""
port_base=""
keep=()
build_first=1
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$2; shift 2 ;;
    --port-base) port_base=$2; shift 2 ;;
    --keep) keep=(--keep); shift ;;
    --no-build) build_first=0; shift ;;
    --build-dir) build=$2; shift 2 ;;
    -h | --help) sed -n '2,16s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "demo.sh: unknown argument $1 (try --help)" >&2; exit 2 ;;
  esac
done
if [ "$build_first" -eq 1 ]; then
  ZELMO_BUILD_DIR="$build" "$root/scripts/build.sh"
fi
demo=("$build/zelmo-demo" --bin "$build" --out "${out:-$build/demo}" "${keep[@]}")

isolate=()
two_machines=0
probe="zelmo-demo-probe-$$"
if [ "$(id -u)" -eq 0 ] && command -v ip >/dev/null && ip netns add "$probe" 2>/dev/null; then
  ip netns del "$probe"
  two_machines=1
  demo+=(--two-machines)
  echo "The demo runs on two machines made of network namespaces, on the programs' default ports."
elif command -v unshare >/dev/null && command -v ip >/dev/null; then
  if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
    isolate=(unshare -n)
  elif unshare -rn true 2>/dev/null; then
    isolate=(unshare -rn)
  fi
fi
if [ ${#isolate[@]} -gt 0 ]; then
  echo "The demo runs in a private network namespace, on the programs' default ports."
elif [ -n "$port_base" ] && [ "$two_machines" -eq 0 ]; then
  demo+=(--port-base "$port_base")
fi

display=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  if command -v xvfb-run >/dev/null; then
    echo "There is no display: the demo runs on a virtual one (Xvfb)."
    display=(xvfb-run -a -s "-screen 0 1280x1024x24")
  else
    echo "There is no display and no Xvfb: the demo's windows are drawn off screen."
    export QT_QPA_PLATFORM=offscreen
  fi
fi

if [ ${#isolate[@]} -gt 0 ]; then
  exec "${isolate[@]}" bash -c 'ip link set lo up && exec "$@"' demo "${display[@]}" "${demo[@]}"
fi
exec "${display[@]}" "${demo[@]}"
