#!/usr/bin/env bash
# A status run whose restart question is answered Yes requests a restart. Under
# Wine that ends every process of the prefix, the test program's too, so this
# test drives the prefix from outside:
#   restart_yes.sh BUILD FAMILY
# Passes when the question was asked once, owned by the progress dialog, a
# process started before the run was ended by the restart, and the version
# record was still made.
set -uo pipefail
build=$(cd "$1" && pwd)
family=$2
source "$(dirname "$0")/../../scripts/wine-env.sh"
wine_use "$build"
export WINEPREFIX=$build/wine/own/restart_yes.$family
WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
mkdir -p "$build/wine/own"
bash "$(dirname "$0")/../kit/prefix.sh" clone "$build" "$WINEPREFIX"
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "${TREVIX_KEEP_PREFIX:-}" ] || rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

drive=$WINEPREFIX/drive_c
mkdir -p "$drive/pkg" "$drive/Corvindale" "$drive/wynfold"
cp "$build/bin/trevix.exe" "$drive/pkg/"
printf '[TIDEWARDEN]\r\nFile Count=3\r\n' > "$drive/pkg/trevix.ini"
cp "$build/bin/wynfold_standin.dll" "$drive/wynfold/"
key='HKLM\Software\Veltrane\Corvindale\CurrentVersion\System'
wine reg add "$key" /v InstallDir /d 'C:\Corvindale' /f >/dev/null 2>&1
wine reg add "$key" /v Installed /d 1 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\AppDefaults\trevix.exe' /v Version /d "$family" /f >/dev/null 2>&1
wine regsvr32 /s 'C:\wynfold\wynfold_standin.dll' >/dev/null 2>&1

# A program with a window, which a restart ends: forced on NT, through the
# end of the session on the 9x family.
wine notepad.exe >/dev/null 2>&1 &
bystander=$!
sleep 2
kill -0 "$bystander" 2>/dev/null || { echo "FAIL: notepad did not start"; exit 1; }

out=$build/restart_yes.$family.txt
timeout 120 wine "$build/bin/watcher.exe" --timeout 60 --answer "Corvindale Update=yes" -- 'C:\pkg\trevix.exe' /status >"$out" 2>&1
timeout 60 wineserver -w
cat "$out"

fail=0
questions=$(grep -c 'Do you wish to reboot now?' "$out")
[ "$questions" = 1 ] || { echo "FAIL: the question was shown $questions times"; fail=1; }
grep -q 'reboot now?" buttons=Yes/No icon=question owner="Corvindale Update"' "$out" \
  || { echo "FAIL: the question is not owned by the progress dialog"; fail=1; }
for _ in $(seq 1 50); do kill -0 "$bystander" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$bystander" 2>/dev/null; then
  echo "FAIL: no restart: a program of the machine is still running"; fail=1
  kill "$bystander" 2>/dev/null
fi
log=$(cat "$drive/wynfold/wynfold.log" 2>/dev/null)
[ "$log" = $'{5B2E8D41-7C3A-4F19-9E06-3D7A1C44B2F5}|Version|10.5.1\r' ] \
  || { echo "FAIL: version record: '$log'"; fail=1; }
rm -f "$out"
[ $fail = 0 ] && echo "restart requested after Yes ($family)"
exit $fail
