#!/usr/bin/env bash
# Wine prefixes of a build tree: a template made once, and throwaway copies.
#   prefix.sh template BUILD      make the template unless it exists
#   prefix.sh clone BUILD DIR     a throwaway copy of the template at DIR
set -euo pipefail
build=$(cd "$2" && pwd)
source "$(dirname "$0")/../../scripts/wine-env.sh"
wine_use "$build"
template=$build/wine/template

if [ ! -f "$template/.ready" ]; then
  rm -rf "$template" && mkdir -p "$build/wine"
  # No display: windows are real but invisible. No Mono or Gecko installers,
  # and no crash dialog that nobody would answer.
  WINEPREFIX=$template WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >/dev/null 2>&1
  WINEPREFIX=$template wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  WINEPREFIX=$template wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  WINEPREFIX=$template wineserver -w </dev/null >/dev/null 2>&1
  touch "$template/.ready"
fi
if [ "$1" = clone ]; then
  # Hard links share Wine's own files, which it never rewrites in place; the
  # registry files, which wineserver rewrites, are copied.
  cp -al "$template" "$3"
  for reg in "$3"/*.reg; do cp --remove-destination "$template/$(basename "$reg")" "$reg"; done
fi
