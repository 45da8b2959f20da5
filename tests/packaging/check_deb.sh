#!/usr/bin/env bash
# The Debian package: CPack builds it; it holds the installed tree under /usr, its unit
# starts /usr/bin/zelmo-directory, and its Depends names the package of every library the
# two executables and the two modules link. Skipped (77) where dpkg-deb is not installed.
# Usage: check_deb.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 src=$2
if ! command -v dpkg-deb >/dev/null; then
  echo "dpkg-deb is not installed: the Debian package is not built here"
  exit 77
fi
. "$src/tests/packaging/common.sh"
work=$(mktemp -d /tmp/zelmo-deb-XXXXXX)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log") \
  || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/*.deb)
echo "built $(basename "$deb")"
dpkg-deb -x "$deb" "$work/root"

check_tree "$work/root/usr" "$src"
check_unit "$work/root/usr/lib/systemd/system/zelmo-directory.service" /usr/bin
[ "$(dpkg-deb -f "$deb" Package)" = zelmo ] || { echo "the package is not called zelmo"; fail=1; }
[ "$(dpkg-deb -f "$deb" Version)" = 2.51 ] || { echo "the package's version is not 2.51"; fail=1; }

# Every library an executable or a module links comes from a package that Depends names.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# The package names alone, one a line: versions and alternatives taken apart.
names=$(sed -e 's/([^)]*)//g' -e 's/[,|]/\n/g' <<<"$depends" | tr -d ' ')
modules=$(find "$work/root/usr" -name 'zelmo-*.so' | sed "s|^$work/root/usr/||")
for exe in bin/zelmo bin/zelmo-directory $modules; do
  for soname in $(readelf -d "$work/root/usr/$exe" | sed -n 's/.*NEEDED.*\[\(.*\)\]/\1/p'); do
    path=$(ldd "$work/root/usr/$exe" | awk -v l="$soname" '$1 == l { print $3 }')
    owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "/usr$path" 2>/dev/null || dpkg -S "${path#/usr}" 2>/dev/null || true)
    package=${owner%%:*}
    if [ -z "$package" ]; then
      echo "no package owns $soname ($path)"; fail=1
    elif ! grep -qxF "$package" <<<"$names"; then
      echo "$exe links $soname from $package, which Depends does not name"; fail=1
    fi
  done
done

[ "$fail" -eq 0 ] && echo "the package is complete"
exit "$fail"
