#!/usr/bin/env bash
# Renders the hicolor PNG icons from packaging/zelmo.svg (needs rsvg-convert from
# librsvg2-bin). The PNGs are kept in the repository, so a build needs no SVG renderer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "$root/packaging/icons/${size}x${size}"
  rsvg-convert -w "$size" -h "$size" "$root/packaging/zelmo.svg" -o "$root/packaging/icons/${size}x${size}/zelmo.png"
done
