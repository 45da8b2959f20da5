# Checks shared by the install-tree and Debian package tests. Each prints what is wrong
# and sets fail=1.
fail=0

# need TREE PATH: PATH exists below TREE.
need() {
  [ -e "$1/$2" ] || { echo "missing: $2"; fail=1; }
}

# The files every installed tree holds, below TREE (the prefix).
check_tree() {
  local tree=$1 src=$2 size
  need "$tree" bin/zelmo
  need "$tree" bin/zelmo-directory
  need "$tree" share/applications/org.zelmo.Zelmo.desktop
  need "$tree" share/metainfo/org.zelmo.Zelmo.metainfo.xml
  for size in 16 22 24 32 48 64 128 256; do
    local icon="$tree/share/icons/hicolor/${size}x${size}/apps/zelmo.png"
    need "$tree" "share/icons/hicolor/${size}x${size}/apps/zelmo.png"
    # A PNG's width and height are the big-endian words at bytes 16 and 20.
    if [ -e "$icon" ]; then
      local dims
      dims=$(od -An -tu1 -j16 -N8 "$icon" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}')
      [ "$dims" = "${size}x${size}" ] || { echo "the ${size}x${size} icon is $dims"; fail=1; }
    fi
  done
  need "$tree" share/icons/hicolor/scalable/apps/zelmo.svg
  need "$tree" share/man/man1/zelmo.1
  need "$tree" share/man/man1/zelmo-directory.1
  for sound in ringin discon inmsg chatbell; do need "$tree" "share/zelmo/sounds/$sound.wav"; done
  if [ -d "$src/resources/help" ]; then need "$tree" share/doc/zelmo/help/index.html; fi
  need "$tree" lib/systemd/system/zelmo-directory.service
  local desktop="$tree/share/applications/org.zelmo.Zelmo.desktop"
  if [ -e "$desktop" ]; then
    grep -qx 'Exec=zelmo' "$desktop" || { echo "the desktop entry does not start zelmo"; fail=1; }
    grep -qx 'Icon=zelmo' "$desktop" || { echo "the desktop entry does not name the zelmo icon"; fail=1; }
    if command -v desktop-file-validate >/dev/null; then
      desktop-file-validate "$desktop" || fail=1
    fi
  fi
}

# check_unit UNIT BINDIR: the unit starts the server installed in BINDIR.
check_unit() {
  grep -qx "ExecStart=$2/zelmo-directory --data /var/lib/zelmo-directory" "$1" \
    || { echo "the unit does not start $2/zelmo-directory:"; grep ExecStart "$1"; fail=1; }
}
