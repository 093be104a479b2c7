#!/usr/bin/env bash
# Wine prefixes of a build tree: a template made once, a fresh copy per test run,
# and throwaway copies for tests that need a machine of their own.
#   prefix.sh template BUILD      make the template unless it exists
#   prefix.sh fresh BUILD         replace the run prefix with a copy of the template
#   prefix.sh clone BUILD DIR     a throwaway copy of the template at DIR
#   prefix.sh stop BUILD          end the run prefix's server
set -euo pipefail
cmd=$1
build=$(cd "$2" && pwd)
root=$build/wine
template=$root/template
source "$(dirname "$0")/../../scripts/wine-env.sh"
wine_use "$build"

make_template() {
  [ -f "$template/.ready" ] && return 0
  rm -rf "$template"
  mkdir -p "$root"
  # No display: windows are real but invisible. No Mono or Gecko installers.
  WINEPREFIX=$template WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >/dev/null 2>&1
  WINEPREFIX=$template wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  # Crash dialogs would wait for an answer nobody gives.
  WINEPREFIX=$template wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  WINEPREFIX=$template wineserver -w </dev/null >/dev/null 2>&1
  touch "$template/.ready"
}

# A copy shares the template's files by hard links (Wine never rewrites its own
# files in place); the registry files, which wineserver rewrites, are copied.
clone() {
  cp -al "$1" "$2"
  for reg in "$2"/*.reg; do cp --remove-destination "$1/$(basename "$reg")" "$reg"; done
}

case $cmd in
  template)
    make_template ;;
  clone)
    make_template
    clone "$template" "$3" ;;
  fresh)
    make_template
    WINEPREFIX=$root/run wineserver -k 2>/dev/null || true
    rm -rf "$root/run" "$root/own"
    clone "$template" "$root/run"
    # Keep the server and the prefix's system processes alive between test
    # programs (prefix.sh stop ends them). Started here, without our output
    # streams, so that ctest does not wait for them after each test.
    WINEPREFIX=$root/run wineserver -p </dev/null >/dev/null 2>&1
    WINEPREFIX=$root/run wine cmd /c exit </dev/null >/dev/null 2>&1 ;;
  stop)
    WINEPREFIX=$root/run wineserver -k 2>/dev/null || true ;;
  *)
    echo "usage: $0 template|fresh|stop BUILD" >&2; exit 2 ;;
esac
