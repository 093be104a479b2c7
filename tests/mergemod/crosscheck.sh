#!/usr/bin/env bash
# Reads what the Wine tests wrote with tools of the Linux side: msiinfo for
# tables and streams, cabextract and gcab for the cabinets.
#   crosscheck.sh MSMROOT
set -uo pipefail
root=$(cd "$1" && pwd)
fix=$root/fixtures out=$root/out
failures=0 checks=0
check() {  # DESCRIPTION COMMAND...
  local what=$1; shift
  checks=$((checks + 1))
  if "$@" >/dev/null 2>&1; then echo "ok    $what"; else echo "FAIL  $what"; failures=$((failures + 1)); fi
}
field() {  # MODULE TABLE KEY COLUMN
  msiinfo export "$1" "$2" | tr -d '\r' | awk -F'\t' -v k="$3" -v c="$4" 'NR > 3 && $1 == k { print $c }'
}
cabinet_lists() {  # CAB NAME... : cabextract and gcab list exactly these names in order
  local cab=$1; shift
  [ "$(gcab -t "$cab" | tr '\n' ' ')" = "$* " ] &&
    [ "$(cabextract -q -l "$cab" | awk -F' [|] ' 'NF == 3 && $3 != "Name" { print $3 }' | tr '\n' ' ')" = "$* " ]
}
header() {  # CAB OFFSET BYTES -> unsigned little-endian
  od -A n -t u"$3" -j "$2" -N "$3" "$1" | tr -d ' '
}
same_content() {  # CAB NAME FILE
  local dir; dir=$(mktemp -d)
  cabextract -q -d "$dir" -F "$2" "$1" && cmp "$dir/$2" "$3"; local s=$?
  rm -rf "$dir"; return $s
}
equal() { [ "$1" = "$2" ]; }

cab=$out/cabinet/built.cab
if [ -f "$cab" ]; then
  check "built cabinet: cabextract tests it" cabextract -q -t "$cab"
  check "built cabinet: gcab and cabextract list the three files" \
    cabinet_lists "$cab" one.dll "Long File Name.dll" three.txt
  check "built cabinet: set identifier 12345" equal "$(header "$cab" 32 2)" 12345
  check "built cabinet: one folder" equal "$(header "$cab" 26 2)" 1
  check "built cabinet: MSZIP" equal "$(( $(header "$cab" 42 2) & 15 ))" 1
else
  check "built cabinet written by the Wine tests" false
fi

for module in "$out/patched/CVDREMOTE.MSM" "$out/cleanup/CVDREMOTE.MSM" "$out/job/CVDREMOTE.MSM"; do
  [ -f "$module" ] || { check "$module written by the Wine tests" false; continue; }
  tag=$(basename "$(dirname "$module")")/$(basename "$module")
  tmp=$(mktemp -d)
  msiinfo extract "$module" MergeModule.CABinet > "$tmp/x.cab"
  check "$tag: tables still listed" sh -c "msiinfo tables '$module' | grep -qx File"
  check "$tag: cabinet extracts" cabextract -q -t "$tmp/x.cab"
  check "$tag: cabinet holds every File key in Sequence order" \
    cabinet_lists "$tmp/x.cab" LongFile.dll beta.exe alpha.dll readme.txt
  check "$tag: Read Me.txt replaced" same_content "$tmp/x.cab" readme.txt "$fix/newfiles/Read Me.txt"
  check "$tag: beta.exe unchanged" same_content "$tmp/x.cab" beta.exe "$fix/content/beta.exe"
  check "$tag: readme.txt FileSize" equal "$(field "$module" File readme.txt 4)" \
    "$(stat -c %s "$fix/newfiles/Read Me.txt")"
  check "$tag: other columns of the rows unchanged" equal \
    "$(msiinfo export "$module" File | tr -d '\r' | awk -F'\t' 'NR > 3 && $1 != "readme.txt" && $1 != "LongFile.dll" && $1 != "alpha.dll"' | sort)" \
    "$(tail -n +4 "$fix/File.idt" | awk -F'\t' '$1 != "readme.txt" && $1 != "LongFile.dll" && $1 != "alpha.dll"' | sort)"
  rm -rf "$tmp"
done

for module in "$out/patched/CVDREMOTE.MSM" "$out/cleanup/CVDREMOTE.MSM"; do
  [ -f "$module" ] || continue
  tag=$(basename "$(dirname "$module")")/$(basename "$module")
  check "$tag: LongFile.dll Version 10.5.1.123" equal "$(field "$module" File LongFile.dll 5)" 10.5.1.123
  check "$tag: LongFile.dll FileSize" equal "$(field "$module" File LongFile.dll 4)" \
    "$(stat -c %s "$fix/newfiles/Long File Name.dll")"
done
for module in "$out/patched/CVDCOREMAIN.MSM" "$out/cleanup/CVDCOREMAIN.MSM"; do
  [ -f "$module" ] || continue
  tag=$(basename "$(dirname "$module")")/$(basename "$module")
  check "$tag: not named in the list, File table as built" equal \
    "$(msiinfo export "$module" File | tr -d '\r' | tail -n +4 | sort)" "$(tail -n +4 "$fix/File.idt" | sort)"
  check "$tag: one HKLM Revision row stamped" equal \
    "$(msiinfo export "$module" Registry | tr -d '\r' | awk -F'\t' 'NR > 3 && $5 != "#1" { print $2 "|" $4 }' | tr 'A-Z' 'a-z')" \
    "2|revision"
done
if [ -f "$out/cleanup/BIG.MSM" ]; then
  tmp=$(mktemp -d)
  msiinfo extract "$out/cleanup/BIG.MSM" MergeModule.CABinet > "$tmp/x.cab"
  check "cleanup/BIG.MSM: 300 files in the cabinet" equal "$(gcab -t "$tmp/x.cab" | wc -l)" 300
  check "cleanup/BIG.MSM: file 0030.dll replaced" same_content "$tmp/x.cab" f0030.dll "$fix/bignew/file 0030.dll"
  rm -rf "$tmp"
fi

module=$out/storage/OTHER.MSM
if [ -f "$module" ]; then
  check "storage/OTHER.MSM: msiinfo reads the stream written through the storage" equal \
    "$(msiinfo extract "$module" MergeModule.CABinet)" "$(printf 'q%.0s' $(seq 1 5000))"
  check "storage/OTHER.MSM: the other stream and the tables intact" equal \
    "$(msiinfo extract "$module" A)/$(msiinfo export "$module" File | tr -d '\r' | tail -n +4 | sort)" \
    "not the cabinet/$(tail -n +4 "$fix/File.idt" | sort)"
else
  check "storage/OTHER.MSM written by the Wine tests" false
fi

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
