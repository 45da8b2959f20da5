#!/usr/bin/env bash
# What software centres read: the desktop entry and the AppStream metadata pass their
# validators, share one id, and every screenshot the metadata shows is one of the
# repository's own.
# Usage: check_metadata.sh SOURCE_DIR
set -euo pipefail
src=$1
fail=0
id=org.zelmo.Zelmo
desktop="$src/packaging/$id.desktop"
metainfo="$src/packaging/$id.metainfo.xml"

desktop-file-validate "$desktop" || { echo "the desktop entry does not validate"; fail=1; }
appstreamcli validate --no-net --no-color "$metainfo" || { echo "the metadata does not validate"; fail=1; }
grep -q "<id>$id</id>" "$metainfo" || { echo "the metadata's id is not $id"; fail=1; }
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" \
  || { echo "the metadata does not launch $id.desktop"; fail=1; }

shots=$(sed -n 's|.*<image[^>]*>.*/\([^/<]*\)</image>.*|\1|p' "$metainfo")
[ -n "$shots" ] || { echo "the metadata shows no screenshot"; fail=1; }
for shot in $shots; do
  [ -f "$src/docs/screenshots/$shot" ] || { echo "the metadata shows $shot, which docs/screenshots lacks"; fail=1; }
done

[ "$fail" -eq 0 ] && echo "the desktop entry and the metadata are valid; screenshots: $(echo $shots)"
exit "$fail"
