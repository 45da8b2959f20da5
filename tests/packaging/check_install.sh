#!/usr/bin/env bash
# The installed tree: `cmake --install` into a temporary prefix holds the executables, the
# desktop entry, the icons, the man pages, the sounds, the help, the systemd units and the
# relay's script, which makes a secret only its owner reads; the
# installed programs answer --version with 2.51 and the build's revision, and the man
# pages describe every option that --help lists.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 src=$2
. "$src/tests/packaging/common.sh"
prefix=$(mktemp -d /tmp/zelmo-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

check_tree "$prefix" "$src"
check_unit "$prefix/lib/systemd/system/zelmo-directory.service" "$prefix/bin"
check_relay "$prefix/libexec/zelmo/zelmo-relay"

revision=$(git -C "$src" rev-parse --short=10 HEAD 2>/dev/null || echo unknown)
for exe in zelmo zelmo-directory; do
  version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$exe" --version)
  echo "$version"
  case "$version" in
    "$exe 2.51 (git $revision)" | "$exe 2.51 (git $revision-modified)") ;;
    *) echo "$exe --version should say 2.51 and revision $revision"; fail=1 ;;
  esac
  # The man page's own text, its escapes taken out.
  page=$(sed 's/\\//g' "$prefix/share/man/man1/$exe.1")
  for option in $("$prefix/bin/$exe" --help | grep -oE -- '--[a-z][a-z-]+' | sort -u); do
    grep -qF -- "$option" <<<"$page" || { echo "$exe.1 does not describe $option"; fail=1; }
  done
done

[ "$fail" -eq 0 ] && echo "the installed tree is complete"
exit "$fail"
