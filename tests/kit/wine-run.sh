#!/usr/bin/env bash
# ctest's emulator: runs a Windows program of the build under Wine.
#   wine-run.sh BUILD PROGRAM [ARGS...]
# The run prefix is shared by the tests of one run. A test that sets
# TREVIX_OWN_PREFIX=name gets a throwaway copy of the template instead.
set -uo pipefail
build=$(cd "$1" && pwd); shift
root=$build/wine
source "$(dirname "$0")/../../scripts/wine-env.sh"
wine_use "$build"
export TREVIX_BUILD_BIN_UNIX=$build/bin

if [ -n "${TREVIX_OWN_PREFIX:-}" ]; then
  export WINEPREFIX=$root/own/$TREVIX_OWN_PREFIX
  WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$root/own"
  bash "$(dirname "$0")/prefix.sh" clone "$build" "$WINEPREFIX"
  wine "$@"
  status=$?
  wineserver -k 2>/dev/null || true
  [ -n "${TREVIX_KEEP_PREFIX:-}" ] || rm -rf "$WINEPREFIX"
  exit $status
fi

export WINEPREFIX=$root/run
exec wine "$@"
