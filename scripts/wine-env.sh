# Sourced by every script that runs a build's Windows programs under Wine.
#   wine_loader ARCH     the path of that architecture's Wine loader, if installed
#   wine_runs ARCH       whether that loader starts on this machine
#   wine_use BUILD       exports the Wine of the build tree's architecture
#   wine_template BUILD  wine_use, and the build tree's template prefix
#                        (wine/template) made unless it exists
#   wine_prefix BUILD DIR  wine_template, then WINEPREFIX=DIR exported: a fresh
#                        copy of the template, whatever was there before gone
#   wine_discard         ends the server of WINEPREFIX and removes the prefix
# The i686 build runs on 32-bit Wine in a win32 prefix. The x86_64 build runs
# on 64-bit Wine in a win64 prefix; Debian does not put that loader on PATH,
# so small scripts in the build tree named wine, wine-stable and wineboot
# start it and come first on PATH, and every script stays as it is.
# Run as a script, it runs one of them: wine-env.sh wine_template BUILD.

wine_loader() {
  local package name path
  case $1 in
    i686) package=wine32; name=wine ;;
    x86_64) package=wine64; name=wine64 ;;
    *) return 1 ;;
  esac
  # The package also lists the folder /usr/lib/wine: only a program will do.
  path=$(dpkg -L "$package" 2>/dev/null | grep "/$name\$" | while read -r p; do [ -f "$p" ] && [ -x "$p" ] && echo "$p"; done | head -1)
  [ -n "$path" ] || path=$(command -v "$name" 2>/dev/null || true)
  [ -n "$path" ] || [ ! -x "/usr/lib/wine/$name" ] || path=/usr/lib/wine/$name
  [ -n "$path" ] && echo "$path"
}

wine_runs() {
  local loader
  loader=$(wine_loader "$1") || return 1
  "$loader" --version >/dev/null 2>&1
}

wine_use() {
  local build arch loader shims
  build=$(cd "$1" && pwd)
  arch=$(cat "$build/arch" 2>/dev/null || echo i686)
  export WINEDEBUG=${WINEDEBUG:--all}
  if [ "$arch" != x86_64 ]; then
    export WINEARCH=win32
    return 0
  fi
  export WINEARCH=win64
  loader=$(wine_loader x86_64) || { echo "64-bit Wine is not installed (package wine64)" >&2; return 1; }
  export WINELOADER=$loader
  shims=$build/wine/loader
  if [ ! -x "$shims/wineboot" ] || ! grep -qF "$loader" "$shims/wine"; then
    mkdir -p "$shims"
    printf '#!/bin/sh\nexec "%s" "$@"\n' "$loader" > "$shims/wine"
    cp "$shims/wine" "$shims/wine-stable"
    printf '#!/bin/sh\nexec "%s" wineboot.exe "$@"\n' "$loader" > "$shims/wineboot"
    chmod +x "$shims/wine" "$shims/wine-stable" "$shims/wineboot"
  fi
  case ":$PATH:" in *":$shims:"*) ;; *) export PATH=$shims:$PATH ;; esac
}

wine_template() {
  local template
  wine_use "$1" || return 1
  template=$(cd "$1" && pwd)/wine/template
  [ -f "$template/.ready" ] && return 0
  rm -rf "$template" && mkdir -p "$template" || return 1
  # No display: windows are real but invisible. No Mono or Gecko installers,
  # and no crash dialog that nobody would answer.
  WINEPREFIX=$template WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >/dev/null 2>&1 &&
    WINEPREFIX=$template wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 &&
    WINEPREFIX=$template wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 &&
    WINEPREFIX=$template wineserver -w </dev/null >/dev/null 2>&1 &&
    touch "$template/.ready"
}

wine_prefix() {
  local template reg
  wine_template "$1" || return 1
  template=$(cd "$1" && pwd)/wine/template
  export WINEPREFIX=$2
  wine_discard
  mkdir -p "$(dirname "$WINEPREFIX")"
  # Hard links share Wine's own files, which it never rewrites in place; the
  # registry files, which wineserver rewrites, are copied.
  cp -al "$template" "$WINEPREFIX" || return 1
  for reg in "$WINEPREFIX"/*.reg; do cp --remove-destination "$template/$(basename "$reg")" "$reg"; done
}

wine_discard() {
  wineserver -k 2>/dev/null || true
  umount "$WINEPREFIX/small" 2>/dev/null || true  # the small drive of tests/kit/wine-run.sh
  rm -rf "$WINEPREFIX"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then "$@"; fi
