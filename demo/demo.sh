#!/usr/bin/env bash
# A real update of a demo installation in a Wine prefix of its own: the
# installed product, the update package run through trevixrun.exe (dialogs
# answered and reported), the restart with its cleanup run, and what changed.
#   demo.sh [BUILD] [FAMILY]     FAMILY as Wine names it, winxp by default
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
family=${2:-winxp}
here=$(cd "$(dirname "$0")" && pwd)
bin=$build/bin
source "$here/../scripts/wine-env.sh"

echo "== Preparing a demo machine ($family) in $(basename "$build")/wine/demo"
wine_prefix "$build" "$build/wine/demo"
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT

c=$WINEPREFIX/drive_c
product="$c/Program Files/Corvindale"
package="$c/Updates/Corvindale 10.5.1"
mkdir -p "$product" "$package"
cp -r "$here/product/." "$product/"
cp -r "$here/package/." "$package/"
cp "$bin/trevix.exe" "$bin/trevixrun.exe" "$package/"
# The product's merge module, carrying two of its files; the update names it in msm.ini.
source "$here/../tests/kit/modules.sh"
modules="$product/Packager/Merge Modules"
mkdir -p "$modules" "$WINEPREFIX/msm"
cp "$product/cvdhost.exe" "$WINEPREFIX/msm/cvdhost.exe"
cp "$product/Corvindale Viewer.dll" "$WINEPREFIX/msm/viewer.dll"
file_idt "cvdhost.exe	Host	cvdhost.exe	$(stat -c %s "$WINEPREFIX/msm/cvdhost.exe")	10.5.0.0	0	512	1" \
  "viewer.dll	Viewer	CORVIN~1.DLL|Corvindale Viewer.dll	$(stat -c %s "$WINEPREFIX/msm/viewer.dll")	10.5.0.0	0	512	2" \
  > "$WINEPREFIX/msm/File.idt"
registry_idt "Revision	2	Software\\Veltrane\\Corvindale\\CurrentVersion	Revision	#1000	Host" > "$WINEPREFIX/msm/Registry.idt"
(cd "$WINEPREFIX/msm" && gcab -c -z module.cab cvdhost.exe viewer.dll &&
  build_module "$modules/CVDCOREMAIN.MSM" module.cab File.idt Registry.idt) >/dev/null
rm -rf "$WINEPREFIX/msm"

# Two of the product's libraries, as stand-ins that log their registration.
cp "$bin/kitlib.dll" "$product/Legendpane.dll"
cp "$bin/kitlib.dll" "$product/RavenGate.dll"

reg() { wine reg "$@" >/dev/null 2>&1; }
sys='HKLM\Software\Veltrane\Corvindale\CurrentVersion\System'
reg add "$sys" /v InstallDir /d 'C:\Program Files\Corvindale' /f
reg add "$sys" /v Installed /d 1 /f
reg add 'HKLM\Software\Veltrane\Corvindale\CurrentVersion' /v Revision /t REG_DWORD /d 1000 /f
reg add 'HKLM\SOFTWARE\Veltrane\Corvindale\10.5.0' /f
reg add 'HKCU\Software\Wine\AppDefaults\trevix.exe' /v Version /d "$family" /f
# The maker's registration component, as a stand-in that logs what it records.
mkdir -p "$c/Program Files/Veltrane Wynfold"
cp "$bin/kitlib.dll" "$c/Program Files/Veltrane Wynfold/wynfold.dll"
reg add 'HKCR\CLSID\{2D7F40B9-1E6C-4A53-8C2E-7B95D0A3E611}\InprocServer32' /ve /d 'C:\Program Files\Veltrane Wynfold\wynfold.dll' /f
reg add 'HKCR\CLSID\{2D7F40B9-1E6C-4A53-8C2E-7B95D0A3E611}\InprocServer32' /v ThreadingModel /d Apartment /f
# A full installation of 10.4; the update is for 10.x and stamps 10.5.
wine "$bin/mksettings.exe" 'C:\Program Files\Corvindale\vindale.bin' 10 4 0 3
wine cmd /c exit </dev/null >/dev/null 2>&1

state() {
  echo "-- files"
  (cd "$c" && find "Program Files/Corvindale" "Program Files/Corvindale.tmp" Updates \
      windows/system32/drivers/cvdxp.sys -type f 2>/dev/null | sort || true) | while read -r f; do
    if head -c 64 "$c/$f" | tr -d '\r\n' | grep -q '[^[:print:]]'; then
      printf '    %s: (binary, %s bytes)\n' "$f" "$(stat -c %s "$c/$f")"
    else
      printf '    %s: %s\n' "$f" "$(head -c 48 "$c/$f" | tr '\r\n' '  ')"
    fi
  done
  echo "-- settings file: $(wine "$bin/mksettings.exe" --show 'C:\Program Files\Corvindale\vindale.bin' | tr -d '\r')"
  echo "-- registry"
  for key in 'HKLM\Software\Veltrane' 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce'; do
    wine reg query "$key" /s 2>/dev/null | tr -d '\r' | sed '/^$/d;s/^/    /' || true
  done
  echo "-- waiting for the next start"
  wine "$bin/pending.exe" | tr -d '\r' 
  # The rename list of the 9x family, whatever the case of its name.
  for f in "$c"/windows/*; do
    [ "$(basename "${f,,}")" = wininit.ini ] && { echo "    $(basename "$f"):"; sed 's/^/      /' "$f" | tr -d '\r'; }
  done
  echo "-- merge module CVDCOREMAIN.MSM"
  msiinfo export "$modules/CVDCOREMAIN.MSM" File | tail -n +4 | cut -f1,3,4,5,8 | tr -d '\r' | sed 's/^/    /'
  msiinfo export "$modules/CVDCOREMAIN.MSM" Registry | tail -n +4 | cut -f4,5 | tr -d '\r' | sed 's/^/    /'
  (cd "$modules" && msiinfo extract CVDCOREMAIN.MSM MergeModule.CABinet > "$build/demo.cab" \
    && cabextract -p "$build/demo.cab" 2>/dev/null | tr -d '\r' | sed 's/^/    cabinet: /'; rm -f "$build/demo.cab") || true
  [ -f "$c/Program Files/Veltrane Wynfold/wynfold.log" ] && \
    echo "-- recorded with the registration component: $(tr -d '\r' < "$c/Program Files/Veltrane Wynfold/wynfold.log" | tr '\n' ' ')"
  [ -f "$product/register.log" ] && echo "-- registered: $(tr -d '\r' < "$product/register.log" | tr '\n' ' ')"
  # What each run said it did (the run record is under the product's key above).
  [ -f "$c/windows/trevix.log" ] && { echo "-- the log, C:\\windows\\trevix.log"; tr -d '\r' < "$c/windows/trevix.log" | sed 's/^/    /'; }
  return 0
}

state > "$build/demo-before.txt"
echo "== The installed product"
cat "$build/demo-before.txt"

echo
echo "== The product is running: Corvindale Viewer.dll is in use"
wine "$bin/holdfile.exe" 'C:\Program Files\Corvindale\Corvindale Viewer.dll' 40 </dev/null >/dev/null 2>&1 &
holder=$!
sleep 2
echo "== What the update would do: trevix.exe /plan, which changes nothing"
wine "$bin/runner.exe" --run -- "C:\\Updates\\Corvindale 10.5.1\\trevix.exe" /plan | tr -d '\r'
tr -d '\r' < "$c/windows/trevix.log" | sed 's/^/    /'

echo
echo "== Running the update: trevixrun.exe in C:\\Updates\\Corvindale 10.5.1"
wine "$bin/runner.exe" --run -- "C:\\Updates\\Corvindale 10.5.1\\trevixrun.exe" | tr -d '\r'
kill $holder 2>/dev/null || true
wait $holder 2>/dev/null || true
state > "$build/demo-installed.txt"
echo
echo "== After the update, before the restart"
cat "$build/demo-installed.txt"

echo
echo "== Restarting Windows: staged files move, the RunOnce cleanup run starts"
# The self-removal batch echoes its commands where Windows would show no console.
wine "$bin/runner.exe" --run -- wineboot.exe -r | tr -d "\r" | grep -v -e "^C:.*>" -e "^ *$" || true
sleep 3
state > "$build/demo-after.txt"
echo
echo "== After the restart"
cat "$build/demo-after.txt"

echo
echo "== What changed, from the installed product to after the restart"
diff "$build/demo-before.txt" "$build/demo-after.txt" | grep '^[<>]' || true
echo
echo "Demo finished."
