#!/usr/bin/env bash
# Yes to the restart question of a status run: under Wine the restart ends
# every program of the machine, the runner's too, so this drives the machine
# from outside. It passes when the question was asked once, owned by the
# progress dialog, a program of the machine was ended by the restart, and the
# version record was still made.
#   restart_yes.sh BUILD FAMILY
set -uo pipefail
build=$(cd "$1" && pwd) family=$2
source "$(dirname "$0")/../../scripts/wine-env.sh"
wine_prefix "$build" "$build/wine/own/restart_yes.$family" || exit 1
trap wine_discard EXIT
c=$WINEPREFIX/drive_c
mkdir -p "$c/pkg" "$c/Corvindale"
cp "$build/bin/trevix.exe" "$build/bin/kitlib.dll" "$c/pkg/"
printf '[TIDEWARDEN]\r\nFile Count=3\r\n' > "$c/pkg/trevix.ini"
for value in 'InstallDir /d C:\Corvindale' 'Installed /d 1'; do
  wine reg add 'HKLM\Software\Veltrane\Corvindale\CurrentVersion\System' /v $value /f >/dev/null 2>&1
done
clsid='HKCR\CLSID\{2D7F40B9-1E6C-4A53-8C2E-7B95D0A3E611}\InprocServer32'
wine reg add "$clsid" /ve /d 'C:\pkg\kitlib.dll' /f >/dev/null 2>&1
wine reg add "$clsid" /v ThreadingModel /d Apartment /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\AppDefaults\trevix.exe' /v Version /d "$family" /f >/dev/null 2>&1
# A program with a window, which a restart ends.
wine notepad.exe >/dev/null 2>&1 &
bystander=$!
sleep 2
out=$(timeout 120 wine "$build/bin/runner.exe" --run "Corvindale Update=yes" -- 'C:\pkg\trevix.exe' /status 2>&1 | tr -d '\r')
timeout 60 wineserver -w
echo "$out"
fail=0
[ "$(grep -c 'reboot now?" buttons=Yes/No icon=question owner=Corvindale Update' <<< "$out")" = 1 ] \
  || { echo "FAIL: not one question owned by the progress dialog"; fail=1; }
for _ in $(seq 50); do kill -0 "$bystander" 2>/dev/null || break; sleep 0.2; done
kill -0 "$bystander" 2>/dev/null && { echo "FAIL: no restart: notepad still runs"; kill "$bystander"; fail=1; }
[ "$(tr -d '\r' < "$c/pkg/wynfold.log" 2>/dev/null)" = '{5B2E8D41-7C3A-4F19-9E06-3D7A1C44B2F5}|Version|10.5.1' ] \
  || { echo "FAIL: no version record"; fail=1; }
[ $fail = 0 ] && echo "restart requested after Yes ($family)"
exit $fail
