#!/usr/bin/env bash
# Merge modules from the Linux side, with msibuild, gcab, msiinfo and cabextract:
# the modules the scenarios patch, and the reader they are checked with.
#   modules.sh fixtures OUT BIN   builds the modules and their new files in OUT
#   modules.sh check DIR          checks every module under DIR (see check below)
# Sourced (by the demo), it only defines the functions.
set -euo pipefail

file_idt() {  # ROW...: File, Component_, FileName, FileSize, Version, Language, Attributes, Sequence
  printf 'File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\n'
  printf 's72\ts72\tl255\ti4\tS72\tS20\tI2\ti2\nFile\tFile\n'
  printf '%s\n' "$@"
}

registry_idt() {  # ROW...: Registry, Root, Key, Name, Value, Component_
  printf 'Registry\tRoot\tKey\tName\tValue\tComponent_\ns72\ti2\tl255\tL255\tL0\ts72\nRegistry\tRegistry\n'
  printf '%s\n' "$@"
}

# build_module OUT CABINET FILEIDT REGISTRYIDT: another stream sorts before the cabinet.
build_module() {
  printf 'not the cabinet' > "$1.aux"
  rm -f "$1"
  msibuild "$1" -i "$3" -i "$4" -a MergeModule.CABinet "$2" -a A "$1.aux"
  rm -f "$1.aux"
}

fixtures() {
  local out=$1 bin=$2 key='Software\Veltrane\Corvindale\CurrentVersion'
  rm -rf "$out" && mkdir -p "$out/files" "$out/new" && cd "$out/files"
  printf 'host 10.4\r\n' > cvdhost.exe
  printf 'viewer 10.4 %.0s' {1..200} > viewer.dll
  printf 'read me' > readme.txt
  cp "$bin/trevixrun.exe" tool.exe  # no version resource: patching gives the row one
  local v; v=$(version tool.exe)
  # Sequence order differs from the key order and from the order of the rows.
  file_idt "viewer.dll	Core	CORVIN~1.DLL|Corvindale Viewer.dll	$(stat -c %s viewer.dll)		0	512	2" \
    "cvdhost.exe	Core	cvdhost.exe	$(stat -c %s cvdhost.exe)		0	512	1" \
    "tool.exe	Core	tool.exe	$(stat -c %s tool.exe)	$v	0	512	4" \
    "readme.txt	Core	README~1.TXT|Read Me.txt	$(stat -c %s readme.txt)		0	512	3" > ../File.idt
  registry_idt "RegUser	1	$key	Revision	#1	Core" "RegMachine	2	$key	Revision	#1	Core" \
    "RegLater	2	$key	Revision	#1	Core" "RegOtherKey	2	Software\\Veltrane	Revision	#1	Core" > ../Registry.idt
  gcab -c -z ../good.cab cvdhost.exe viewer.dll readme.txt tool.exe  # kept for the generators
  for module in CVDCOREMAIN CVDREMOTE OTHER; do build_module "$out/$module.MSM" ../good.cab ../File.idt ../Registry.idt; done
  # A cabinet whose header declares no folder (the field at offset 26).
  cp ../good.cab ../nofolder.cab && printf '\0\0' | dd of=../nofolder.cab bs=1 seek=26 conv=notrunc status=none
  build_module "$out/NOFOLDER.MSM" ../nofolder.cab ../File.idt ../Registry.idt
  # A File key that names a device.
  cp cvdhost.exe ../NUL && (cd .. && gcab -c -z nul.cab NUL)
  file_idt "NUL	Core	cvdhost.exe	$(stat -c %s cvdhost.exe)		0	512	1" > ../Device.idt
  build_module "$out/DEVICE.MSM" ../nul.cab ../Device.idt ../Registry.idt
  # More entries than one unpacking folder takes, packed in key order, their
  # Sequence the other way round.
  local i rows=() keys=()
  mkdir ../many
  for ((i = 1; i <= 300; i++)); do
    printf 'part %03d of many' "$i" > "../many/p$(printf %03d "$i").dll"
    keys+=("p$(printf %03d "$i").dll")
    rows+=("$(printf 'p%03d.dll\tCore\tP%03d~1.DLL|part %03d.dll\t%d\t\t0\t512\t%d' "$i" "$i" "$i" 16 $((301 - i)))")
  done
  file_idt "${rows[@]}" > ../Many.idt
  (cd ../many && gcab -c -z ../many.cab "${keys[@]}")
  build_module "$out/MANY.MSM" ../many.cab ../Many.idt ../Registry.idt
  for i in 7 150 300; do printf 'part %03d, new' "$i" > "$out/new/part $(printf %03d "$i").dll"; done
  printf 'host 10.5\r\n' > "$out/new/cvdhost.exe"
  printf 'viewer 10.5 %.0s' {1..300} > "$out/new/Corvindale Viewer.dll"
  cp "$bin/trevix.exe" "$out/new/tool.exe"
  cd "$out" && rm -rf files many many.cab nofolder.cab nul.cab NUL ./*.idt
}

# The FileVersion of a file's version resource as the File table records it;
# empty without one.
version() {
  i686-w64-mingw32-strings -el "$1" | { grep -A1 -x FileVersion || true; } | sed -n 2p | tr ',' '.' | tr -d ' '
}

# Every module under DIR must open, and each File row's FileSize and Version
# must be those of its file in the cabinet, in Sequence order. NAME.expect
# beside NAME.MSM lists what it must hold: KEY=CONTENT for a file of the
# cabinet, KEY<PATH for one that is byte for byte the file PATH of this
# machine, Revision=VALUE for the first machine row of the revision. A module
# exported half-way (mid-NAME) that is byte for byte NAME of FIXTURES need
# hold nothing more.
check() {
  local module status=0 work; work=$(mktemp -d)
  while IFS= read -r -d '' module; do
    rm -rf "$work"/* && mkdir -p "$work/cab"
    local rows; rows=$(msiinfo export "$module" File 2>/dev/null | tail -n +4 | tr -d '\r') || true
    if [ -z "$rows" ] || ! msiinfo extract "$module" MergeModule.CABinet > "$work/x.cab" 2>/dev/null ||
       ! cabextract -q -d "$work/cab" "$work/x.cab" 2>/dev/null; then
      echo "$module: does not open, or its cabinet does not extract"; status=1; continue
    fi
    local order; order=$(echo "$rows" | sort -t$'\t' -k8,8n | cut -f1 | paste -sd' ')
    [ "$(cabextract -l "$work/x.cab" | awk -F'|' 'NR>2 && NF==3 {gsub(/^ +| +$/, "", $3); print $3}' | paste -sd' ')" = "$order" ] \
      || { echo "$module: cabinet not in Sequence order ($order)"; status=1; }
    while IFS=$'\x1f' read -r file size version; do
      local got="$(stat -c %s "$work/cab/$file" 2>/dev/null)|$(version "$work/cab/$file" 2>/dev/null)"
      [ "$got" = "$size|$version" ] || { echo "$module: row $file says $size|$version, its file is $got"; status=1; }
    done < <(echo "$rows" | awk -F'\t' '{print $1 "\x1f" $4 "\x1f" $5}')
    local expect=${module%.MSM}.expect line base=$(basename "$module")
    [ -f "$expect" ] || continue
    [[ $base == mid-* ]] && cmp -s "$module" "${2:-}/${base#mid-}" && continue
    while IFS= read -r line; do
      if [[ $line != *=* && $line == *'<'* ]]; then
        cmp -s "$work/cab/${line%%<*}" "${line#*<}" || { echo "$module: ${line%%<*} is not ${line#*<}"; status=1; }
        continue
      fi
      local name=${line%%=*} want=${line#*=} got
      if [ "$name" = Revision ]; then
        got=$(msiinfo export "$module" Registry | tr -d '\r' | awk -F'\t' '$1=="RegMachine" {print $5}')
      else
        got=$(tr -d '\r' < "$work/cab/$name" 2>/dev/null)
      fi
      [ "$got" = "$want" ] || { echo "$module: $name is \"$got\", expected \"$want\""; status=1; }
    done < "$expect"
  done < <(find "$1" -name '*.MSM' -print0)
  rm -rf "$work"
  [ $status = 0 ] && echo "modules under $1: all consistent"
  return $status
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then "$@"; fi
