#!/usr/bin/env bash
# Pictures of the progress dialog and the restart question for the README,
# taken on a virtual display with Wine's normal graphics driver.
#   scripts/screenshots.sh [BUILD]      (needs xvfb, x11-apps and imagemagick)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
source "$here/scripts/wine-env.sh"
wine_prefix "$build" "$build/wine/own/screenshots"
trap wine_discard EXIT
wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1
# A virtual desktop: Wine draws the window frames itself, no window manager needed.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x480 /f >/dev/null 2>&1

drive=$WINEPREFIX/drive_c
mkdir -p "$drive/pkg" "$drive/Corvindale"
cp "$build/bin/trevix.exe" "$build/bin/progress_show.exe" "$drive/pkg/"
printf '[TIDEWARDEN]\r\nFile Count=10\r\n' > "$drive/pkg/trevix.ini"
key='HKLM\Software\Veltrane\Corvindale\CurrentVersion\System'
wine reg add "$key" /v InstallDir /d 'C:\Corvindale' /f >/dev/null 2>&1
wine reg add "$key" /v Installed /d 1 /f >/dev/null 2>&1

# The programs of the prefix must start on the virtual display.
wineserver -k 2>/dev/null || true
cat >"$build/screenshots-inner.sh" <<'INNER'
set -euo pipefail
out=$1
shot() { sleep 3; xwd -root -silent | /usr/bin/convert xwd:- -trim +repage "$out/$2"; }
wine 'C:\pkg\progress_show.exe' 10 4 8000 &
shot progress_show "progress-dialog.png"
wait
wine 'C:\pkg\trevix.exe' /status &
shot trevix "restart-question.png"
wineserver -k
INNER
mkdir -p "$here/docs"
xvfb-run -a -s "-screen 0 640x480x24" bash "$build/screenshots-inner.sh" "$here/docs"
rm -f "$build/screenshots-inner.sh"
ls -l "$here/docs"
