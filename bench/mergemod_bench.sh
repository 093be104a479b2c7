#!/usr/bin/env bash
# Merge-module patching against the Linux-side baseline (gcab -c -z, then
# msibuild -a) for the same files: prints the figures.
#   mergemod_bench.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/kit/modules.sh"
# big_module OUT WORK COUNT [REPLACEDIR REPLACECOUNT]: a module of COUNT files
# "fNNNN.dll" (long names "file NNNN.dll") in Sequence order; REPLACEDIR gets
# new versions of the first REPLACECOUNT and an msm.ini naming them.
big_module() {
  local out=$1 work=$2 count=$3 replace=${4:-} replaceCount=${5:-0} base i key rows=()
  rm -rf "$work" && mkdir -p "$work/content" "$(dirname "$out")"
  base=$(printf 'line %04d of a product library with some repeating text to compress\n' $(seq 1 48))
  for ((i = 1; i <= count; i++)); do
    key=$(printf 'f%04d.dll' "$i")
    printf '%s\n%d\n' "$base" "$i" > "$work/content/$key"
    rows+=("$(printf '%s\tCore\t%s|file %04d.dll\t%d\t\t0\t512\t%d' "$key" "$(printf 'F%04d~1.DLL' "$i")" "$i" \
      "$(stat -c %s "$work/content/$key")" "$i")")
  done
  file_idt "${rows[@]}" > "$work/File.idt"
  registry_idt "RegMachine	2	Software\\Veltrane\\Corvindale\\CurrentVersion	Revision	#1	Core" > "$work/Registry.idt"
  (cd "$work/content" && gcab -c -z "$work/module.cab" $(printf 'f%04d.dll ' $(seq 1 "$count")))
  build_module "$out" "$work/module.cab" "$work/File.idt" "$work/Registry.idt"
  if [ -n "$replace" ]; then
    mkdir -p "$replace"
    { printf '[%s]\r\n' "$(basename "$out")"
      for ((i = 1; i <= replaceCount; i++)); do
        printf '%s new\n%d\n' "$base" "$i" > "$replace/$(printf 'file %04d.dll' "$i")"
        printf 'file %04d.dll=\r\n' "$i"
      done
    } > "$replace/msm.ini"
  fi
}

# make starts this in the build's bench folder, which holds CMake's files:
# the work gets a folder of its own, and the script stands outside it (a
# shell whose folder was removed complains at every later command).
work=$build/mergemod-bench
cd "$build"
rm -rf "$work" && mkdir -p "$work"
source "$here/../scripts/wine-env.sh"
wine_prefix "$build" "$work/prefix"
# The server outlives the programs; it must not hold our output open.
wineserver -p </dev/null >/dev/null 2>&1
trap wine_discard EXIT
ms() { echo $(( $(date +%s%N) / 1000000 )); }

# keep COUNT NAME REPLACE: the module just patched, for the check, with the
# new files it must hold.
keep() {
  local count=$1 name=$2 replace=$3 i
  mkdir -p "$work/patched"
  cp "$WINEPREFIX/drive_c/m$count/MOD.MSM" "$work/patched/$name.MSM"
  for ((i = 1; i <= replace; i++)); do
    printf 'f%04d.dll<%s\n' "$i" "$WINEPREFIX/drive_c/new$count/$(printf 'file %04d.dll' "$i")"
  done > "$work/patched/$name.expect"
}

patch_ms() {  # COUNT REPLACE -> the run of median time of three: ms, peak KB, rise KB
  local count=$1 replace=$2 runs=() i
  # The modules lie on the machine's own drive, as the product's do.
  local modules=$WINEPREFIX/drive_c/m$count
  big_module "$modules/MOD.MSM" "$work/src$count" "$count" "$WINEPREFIX/drive_c/new$count" "$replace" >/dev/null
  cp "$modules/MOD.MSM" "$work/MOD$count.orig"
  for i in 1 2 3; do
    cp "$work/MOD$count.orig" "$modules/MOD.MSM"
    runs+=("$(wine "$build/bin/mergemod_bench.exe" "C:\\m$count" "C:\\new$count" MOD.MSM | tr -d '\r')")
  done
  keep "$count" "MOD$count" "$replace"
  printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p
}

steps_of() {  # COUNT REPLACE -> one more patch, the time of each step
  local count=$1
  cp "$work/MOD$count.orig" "$WINEPREFIX/drive_c/m$count/MOD.MSM"
  wine "$build/bin/mergemod_bench.exe" "C:\\m$count" "C:\\new$count" MOD.MSM steps | tr -d '\r'
  keep "$count" "MOD$count-steps" "$2"
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

small=$(patch_ms 200 10 | cut -d' ' -f1)
read -r large peak rise < <(patch_ms 2000 100)
steps=$(steps_of 2000 100)
base=$(baseline_ms 2000)
echo "merge-module patch, 200 files (replace 10):   ${small} ms"
echo "merge-module patch, 2000 files (replace 100): ${large} ms"
echo "  its peak memory (working set): $((peak / 1024)) MB, $((rise / 1024)) MB above the program's before the patch"
echo "  one 2000-file patch by step (ms): ${steps}"
echo "gcab -c -z + msibuild -a, 2000 files:         ${base} ms"
awk -v l="$large" -v b="$base" -v s="$small" 'BEGIN {
  printf "ratio to baseline: %.2f (goal <= 2.0)\n", l / (b > 0 ? b : 1)
  printf "scaling 200 -> 2000 files: %.1fx (goal <= 11x)\n", l / (s > 0 ? s : 1) }'
# A patch that failed would look fast: the patched modules are read back.
if ! check "$work/patched"; then
  echo "merge-module patch: the patched modules do NOT hold the new files; the figures above do not count"
  exit 1
fi
