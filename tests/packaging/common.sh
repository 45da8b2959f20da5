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
  # The modules, where the program looks for them beside the installed executable.
  local module
  for module in zelmo-keys.so zelmo-voice.so zelmo-screenstream.so zelmo-ice.so zelmo-datagrams.so; do
    [ -n "$(find "$tree"/lib* -path "*/zelmo/$module" 2>/dev/null)" ] || { echo "missing: the module lib*/zelmo/$module"; fail=1; }
  done
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
  need "$tree" lib/systemd/system/zelmo-relay.service
  need "$tree" libexec/zelmo/zelmo-relay
  [ ! -e "$tree/libexec/zelmo/zelmo-relay" ] || [ -x "$tree/libexec/zelmo/zelmo-relay" ] \
    || { echo "libexec/zelmo/zelmo-relay is not executable"; fail=1; }
  local desktop="$tree/share/applications/org.zelmo.Zelmo.desktop"
  if [ -e "$desktop" ]; then
    grep -qx 'Exec=zelmo' "$desktop" || { echo "the desktop entry does not start zelmo"; fail=1; }
    grep -qx 'Icon=zelmo' "$desktop" || { echo "the desktop entry does not name the zelmo icon"; fail=1; }
    if command -v desktop-file-validate >/dev/null; then
      desktop-file-validate "$desktop" || fail=1
    fi
  fi
}

# check_unit UNIT BINDIR: the unit starts the server installed in BINDIR, with the relay
# options the relay's unit leaves, and the relay's unit beside it starts the installed
# zelmo-relay in the same state folder.
check_unit() {
  grep -qx "ExecStart=$2/zelmo-directory --data /var/lib/zelmo-directory \$ZELMO_RELAY_OPTIONS" "$1" \
    || { echo "the unit does not start $2/zelmo-directory:"; grep ExecStart "$1"; fail=1; }
  grep -qx "EnvironmentFile=-/var/lib/zelmo-directory/relay.env" "$1" \
    || { echo "the unit does not read the relay's options"; fail=1; }
  local relay
  relay="$(dirname "$1")/zelmo-relay.service"
  grep -qx "ExecStart=$(dirname "$2")/libexec/zelmo/zelmo-relay /var/lib/zelmo-directory" "$relay" \
    || { echo "the relay's unit does not start $(dirname "$2")/libexec/zelmo/zelmo-relay:"; grep ExecStart "$relay"; fail=1; }
}

# check_relay SCRIPT: the relay's script, told to prepare only, makes a secret readable by
# its owner alone and a turnserver configuration that uses it, and names both to the
# directory server. Skipped where turnserver is not installed.
check_relay() {
  command -v turnserver >/dev/null || { echo "turnserver is not installed: the relay's script is not tried"; return; }
  local dir options secret
  dir=$(mktemp -d /tmp/zelmo-relay-XXXXXX)
  options=$(umask 022 && "$1" --prepare "$dir/data" 192.0.2.7 3479) || { echo "zelmo-relay --prepare failed"; fail=1; }
  secret=$(cat "$dir/data/relay.secret" 2>/dev/null) || true
  [ "${#secret}" -eq 64 ] || { echo "the relay secret is not 32 random bytes"; fail=1; }
  [ "$(stat -c %a "$dir/data/relay.secret")" = 600 ] || { echo "the relay secret may be read by others"; fail=1; }
  [ "$(stat -c %a "$dir/data/turnserver.conf")" = 600 ] || { echo "the relay configuration may be read by others"; fail=1; }
  grep -qx "static-auth-secret=$secret" "$dir/data/turnserver.conf" && grep -qx use-auth-secret "$dir/data/turnserver.conf" \
    && grep -qx listening-ip=192.0.2.7 "$dir/data/turnserver.conf" && grep -qx listening-port=3479 "$dir/data/turnserver.conf" \
    || { echo "the relay configuration does not use the secret where the directory listens:"; cat "$dir/data/turnserver.conf"; fail=1; }
  [ "$options" = "--relay 192.0.2.7:3479 --relay-secret-file $dir/data/relay.secret" ] \
    || { echo "zelmo-relay names the relay as: $options"; fail=1; }
  grep -qxF "ZELMO_RELAY_OPTIONS=$options" "$dir/data/relay.env" || { echo "relay.env does not name the relay"; fail=1; }
  # A second start keeps the secret the directory server may already have read.
  "$1" --prepare "$dir/data" 192.0.2.7 3479 >/dev/null || fail=1
  [ "$(cat "$dir/data/relay.secret")" = "$secret" ] || { echo "the relay secret changed at the second start"; fail=1; }
  rm -rf "$dir"
}
