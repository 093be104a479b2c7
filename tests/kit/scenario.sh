#!/usr/bin/env bash
# One scenario for one family, then the modules it exported, checked from
# the Linux side.
#   scenario.sh BUILD SCENARIO FAMILY
set -uo pipefail
build=$(cd "$1" && pwd) kit=$(cd "$(dirname "$0")" && pwd)
name=$(basename "$2" .scn).$3
out=$build/out/$name
rm -rf "$out" && mkdir -p "$out"
winpath() { echo "Z:$1" | tr / '\\'; }
TREVIX_PREFIX=$name TREVIX_OUT=$(winpath "$out") TREVIX_FIXTURES=$(winpath "$build/fixtures") \
  bash "$kit/wine-run.sh" "$build" "$build/bin/runner.exe" "$2" "$3"
status=$?
[ $status = 0 ] && [ -n "$(find "$out" -name '*.MSM')" ] && { bash "$kit/modules.sh" check "$out" "$build/fixtures" || status=1; }
exit $status
