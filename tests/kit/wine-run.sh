#!/usr/bin/env bash
# Runs a Windows program of the build on a throwaway copy of the template
# prefix of its own, named by TREVIX_PREFIX (default: the program's name).
#   wine-run.sh BUILD PROGRAM [ARGS...]
# TREVIX_SMALL_DRIVE=SIZE gives the prefix a drive D: of that size (a tmpfs,
# which needs root; elsewhere the test is skipped with status 77).
set -uo pipefail
build=$(cd "$1" && pwd); shift
source "$(dirname "$0")/../../scripts/wine-env.sh"
wine_prefix "$build" "$build/wine/own/${TREVIX_PREFIX:-$(basename "$1" .exe)}" || exit 1
# The server ends with the program; the prefix goes too unless TREVIX_KEEP_PREFIX is set.
trap 'wineserver -k 2>/dev/null; [ -n "${TREVIX_KEEP_PREFIX:-}" ] || wine_discard' EXIT
if [ -n "${TREVIX_SMALL_DRIVE:-}" ]; then
  mkdir -p "$WINEPREFIX/small"
  if ! mount -t tmpfs -o "size=$TREVIX_SMALL_DRIVE" tmpfs "$WINEPREFIX/small" 2>/dev/null; then
    echo "skipped: a small drive of its own needs a tmpfs mount, which needs root"
    exit 77
  fi
  ln -s ../small "$WINEPREFIX/dosdevices/d:"
fi
wine "$@"
