#!/usr/bin/env bash
# A real update of a demo installation in a Wine prefix of its own: the
# installed product, the update package run through trevixrun.exe (dialogs
# answered and reported), the restart with its cleanup run, and what changed.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
kit=$here/../tests/kit
export WINEARCH=win32 WINEDEBUG=-all
export WINEPREFIX=$build/wine/demo

echo "== Preparing a demo machine ($WINEPREFIX)"
WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
bash "$kit/prefix.sh" clone "$build" "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT

c=$WINEPREFIX/drive_c
product="$c/Program Files/Corvindale"
package="$c/Updates/Corvindale 10.5.1"
mkdir -p "$product" "$package"
cp -r "$here/product/." "$product/"
cp -r "$here/package/." "$package/"
cp "$build/bin/trevix.exe" "$build/bin/trevixrun.exe" "$package/"

reg() { wine reg "$@" >/dev/null 2>&1; }
sys='HKLM\Software\Veltrane\Corvindale\CurrentVersion\System'
reg add "$sys" /v InstallDir /d 'C:\Program Files\Corvindale' /f
reg add "$sys" /v Installed /d 1 /f
reg add 'HKLM\Software\Veltrane\Corvindale\CurrentVersion' /v Revision /t REG_DWORD /d 0 /f
reg add 'HKLM\SOFTWARE\Veltrane\Corvindale\10.5.0' /f
# Settings file of a full installation of 10.4; the update stamps 10.5.
wine "$build/bin/mksettings.exe" 'C:\Program Files\Corvindale\vindale.bin' 10 4 0 3
wine cmd /c exit </dev/null >/dev/null 2>&1

state() {
  echo "-- files"
  (cd "$c" && find "Program Files/Corvindale" "Updates" -type f -printf '%p %s bytes\n' | sort)
  echo "-- registry"
  for key in 'HKLM\Software\Veltrane' 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce'; do
    wine reg query "$key" /s 2>/dev/null | tr -d '\r' | sed '/^$/d' || true
  done
  echo "-- staged for the restart"
  wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null \
    | tr -d '\r' | sed -n 's/.*REG_MULTI_SZ *//p' | sed 's/\\0/\n    /g;s/^/    /' || true
  [ -f "$c/windows/wininit.ini" ] && sed 's/^/    /' "$c/windows/wininit.ini" | tr -d '\r'
  return 0
}

state > "$build/demo-before.txt"
echo "== The installed product"
cat "$build/demo-before.txt"

echo
echo "== Running the update: trevixrun.exe in C:\\Updates\\Corvindale 10.5.1"
wine "$build/bin/watcher.exe" --timeout 300 -- "C:\\Updates\\Corvindale 10.5.1\\trevixrun.exe"
state > "$build/demo-installed.txt"

echo
echo "== Restarting Windows (staged files, RunOnce cleanup run)"
wine "$build/bin/watcher.exe" --timeout 300 -- wineboot.exe -r
wineserver -p </dev/null >/dev/null 2>&1 || true
state > "$build/demo-after.txt"

echo
echo "== What the update changed (before -> after the restart)"
diff "$build/demo-before.txt" "$build/demo-after.txt" | sed -n 's/^[<>] /&/p' || true
echo
echo "Demo finished."
