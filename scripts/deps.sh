#!/usr/bin/env bash
# Installs the Debian packages ZELMO needs to build, run and test, when any is missing.
# "scripts/deps.sh sanitize" also installs what the sanitizer and fuzz builds need.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libqt6sql6-sqlite qt6-multimedia-dev qt6-tools-dev qt6-l10n-tools libgsm1-dev libturbojpeg0-dev libjpeg62-turbo-dev libyuv-dev libvpx-dev libopus-dev libssl-dev
  libwebrtc-audio-processing-dev libpulse-dev
  libhiredis-dev redis-server
  libminiupnpc-dev libnatpmp-dev miniupnpd-nftables miniupnpc nftables
  libnice-dev coturn tcpdump
  libxcb1-dev libxcb-xkb-dev libxcb-xtest0-dev libxcb-shm0-dev dbus-daemon
  libpipewire-0.3-dev pipewire pipewire-bin wireplumber
  xvfb xauth gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-bad pulseaudio pulseaudio-utils imagemagick
  espeak-ng desktop-file-utils appstream)
if [ "${1:-}" = "sanitize" ]; then
  # clang with its sanitizer and libFuzzer runtimes; llvm for the symbolizer of reports.
  packages+=(clang libclang-rt-dev llvm)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
