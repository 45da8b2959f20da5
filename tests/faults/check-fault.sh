#!/bin/bash
# usage: tests/faults/check-fault.sh "test regex" fault-id...   (build folder: $ZELMO_BUILD_DIR or build)
# The hand check behind hand-checks.json. Builds the tests in the regex, runs them clean, then for each fault: applies it (from
# tests/faults/faults.json), builds, runs the tests, restores the file. Takes the build lock.
set -u
cd "$(dirname "$0")/../.."
root=$(pwd)
build=${ZELMO_BUILD_DIR:-build}
export CCACHE_BASEDIR=/work CCACHE_NOHASHDIR=1 CCACHE_DIR=/work/.ccache
regex=$1; shift
targets=$(echo "$regex" | tr -d '^$()' | tr '|' ' ')
exec 9>/tmp/zelmo-build.lock; flock 9
cmake --build "$build" --target $targets zelmo zelmo-directory >/tmp/cf-build.$$.log 2>&1 || { echo BUILD FAILED; tail -20 /tmp/cf-build.$$.log; exit 1; }
(cd "$build" && . "$root/scripts/test-env.sh" && ctest -R "$regex" 2>&1 | tail -4)
for id in "$@"; do
  file=$(python3 -c "import json;print({x['id']:x for x in json.load(open('tests/faults/faults.json'))}['$id']['file'])")
  python3 - "$id" <<'PY'
import json,sys
f={x['id']:x for x in json.load(open('tests/faults/faults.json'))}[sys.argv[1]]
s=open(f['file']).read(); assert s.count(f['find'])>=1, 'stale fault: find text not in file'
open(f['file'],'w').write(s.replace(f['find'],f['replace'],1))
PY
  cmake --build "$build" --target $targets zelmo zelmo-directory >/tmp/cf-build.$$.log 2>&1 || echo "$id: fault build failed"
  echo "== $id"; (cd "$build" && . "$root/scripts/test-env.sh" && ctest -R "$regex" 2>&1 | grep -E "Failed|tests passed")
  git checkout -- "$file"
done
cmake --build "$build" --target $targets zelmo zelmo-directory >/tmp/cf-build.$$.log 2>&1
