#!/usr/bin/env bash
# Merge-module patching against the Linux-side baseline (gcab -c -z, then
# msibuild -a) for the same files: prints the figures.
#   bench.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/msmkit.sh"
work=$build/mergemod/bench
rm -rf "$work" && mkdir -p "$work"
export WINEARCH=win32 WINEDEBUG=-all
bash "$build/../tests/kit/prefix.sh" template "$build" 2>/dev/null || bash "$here/../kit/prefix.sh" template "$build"
export WINEPREFIX=$work/prefix
bash "$here/../kit/prefix.sh" clone "$build" "$WINEPREFIX"
wineserver -p
winpath() { echo "Z:$1" | sed 's|/|\\|g'; }
ms() { date +%s%N | awk '{printf "%d", $1 / 1000000}'; }

patch_ms() {  # COUNT REPLACE -> median of three runs, in ms
  local count=$1 replace=$2 runs=() i
  big_module "$work/m$count/MOD.MSM" "$work/src$count" "$count" "$work/new$count" "$replace" >/dev/null
  cp "$work/m$count/MOD.MSM" "$work/MOD$count.orig"
  for i in 1 2 3; do
    cp "$work/MOD$count.orig" "$work/m$count/MOD.MSM"
    runs+=("$(wine "$build/bin/mergemod_bench.exe" "$(winpath "$work/m$count")" \
      "$(winpath "$work/new$count")" MOD.MSM | tr -d '\r')")
  done
  printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p
}

baseline_ms() {  # COUNT -> gcab -c -z of the files in Sequence order, then msibuild -a, in ms
  local count=$1 runs=() i t0 t1
  for i in 1 2 3; do
    cp "$work/MOD$count.orig" "$work/base.msm"
    t0=$(ms)
    (cd "$work/src$count/content" && gcab -c -z "$work/base.cab" $(printf 'f%04d.dll ' $(seq 1 "$count")))
    msibuild "$work/base.msm" -a MergeModule.CABinet "$work/base.cab"
    t1=$(ms)
    runs+=($((t1 - t0)))
  done
  printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p
}

small=$(patch_ms 200 10)
large=$(patch_ms 2000 100)
base=$(baseline_ms 2000)
wineserver -k || true
echo "merge-module patch, 200 files (replace 10):   ${small} ms"
echo "merge-module patch, 2000 files (replace 100): ${large} ms"
echo "gcab -c -z + msibuild -a, 2000 files:         ${base} ms"
awk -v l="$large" -v b="$base" -v s="$small" 'BEGIN {
  printf "ratio to baseline: %.2f (goal <= 2.0)\n", l / (b > 0 ? b : 1)
  printf "scaling 200 -> 2000 files: %.1fx (goal <= 11x)\n", l / (s > 0 ? s : 1) }'
rm -rf "$WINEPREFIX"
