#!/usr/bin/env bash
# Builds the merge-module fixtures of the tests with msibuild and gcab.
#   fixtures.sh BINDIR OUTDIR
# OUTDIR/modules: the modules; OUTDIR/content: their files as packed;
# OUTDIR/newfiles: replacement files (one with FileVersion "10, 5, 1, 123").
set -euo pipefail
mkdir -p "$2"
bin=$(cd "$1" && pwd) out=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/msmkit.sh"
rm -rf "$out" && mkdir -p "$out/modules" "$out/content" "$out/newfiles" "$out/scratch"
cd "$out/scratch"

c=$out/content
make_content "$c/alpha.dll" 3000
make_content "$c/LongFile.dll" 5000
make_content "$c/readme.txt" 700
make_content "$c/beta.exe" 4100

# Sequence order differs from key order and from the order of the rows.
{ file_idt_header
  printf 'alpha.dll\tCore\talpha.dll\t3000\t1.0.0.0\t0\t512\t3\n'
  printf 'readme.txt\tCore\tREADME~1.TXT|Read Me.txt\t700\t\t0\t512\t4\n'
  printf 'LongFile.dll\tCore\tLONGFI~1.DLL|Long File Name.dll\t5000\t1.0.0.7\t1033\t512\t1\n'
  printf 'beta.exe\tCore\tbeta.exe\t4100\t2.0.0.0\t0\t512\t2\n'
} > File.idt

key='Software\Veltrane\Corvindale\CurrentVersion'
{ registry_idt_header
  printf 'RegCurrentUser\t1\t%s\tRevision\t#1\tCore\n' "$key"
  printf 'RegMachine\t2\t%s\tRevision\t#1\tCore\n' "$key"
  printf 'RegMachineLater\t2\tSOFTWARE\\VELTRANE\\corvindale\\currentversion\tREVISION\t#1\tCore\n'
  printf 'RegClasses\t0\t%s\tRevision\t#1\tCore\n' "$key"
  printf 'RegOtherKey\t2\tSoftware\\Veltrane\\Corvindale\tRevision\t#1\tCore\n'
  printf 'RegOtherName\t2\t%s\tBuild\t#1\tCore\n' "$key"
} > Registry.idt

m=$out/modules
build_module "$m/CVDCOREMAIN.MSM" "$c" File.idt Registry.idt
build_module "$m/CVDREMOTE.MSM" "$c" File.idt Registry.idt
build_module "$m/OTHER.MSM" "$c" File.idt Registry.idt

# Sequence 1, 2, 4: a gap.
sed 's/\t4$/\t5/' File.idt > Gap.idt
build_module "$m/GAP.MSM" "$c" Gap.idt Registry.idt
# A File row whose file the cabinet lacks.
{ cat File.idt; printf 'extra.dll\tCore\textra.dll\t10\t\t0\t512\t5\n'; } > Extra.idt
build_module "$m/MISSING.MSM" "$c" Extra.idt Registry.idt "$(cd "$c" && gcab -c -z "$out/scratch/four.cab" LongFile.dll beta.exe alpha.dll readme.txt && echo "$out/scratch/four.cab")"
# No File table; no Registry table.
(cd "$c" && gcab -c -z "$out/scratch/plain.cab" LongFile.dll beta.exe alpha.dll readme.txt)
{ registry_idt_header; tail -n +4 Registry.idt; } > RegOnly.idt
rm -f "$m/NOFILE.MSM"; msibuild "$m/NOFILE.MSM" -i RegOnly.idt -a MergeModule.CABinet plain.cab
build_module "$m/NOREG.MSM" "$c" File.idt
# Streams that are no cabinet: empty, text, damaged data.
: > empty.bin
build_module "$m/EMPTYSTREAM.MSM" "$c" File.idt Registry.idt empty.bin
printf 'this is no cabinet at all' > text.bin
build_module "$m/NOTCAB.MSM" "$c" File.idt Registry.idt text.bin
# Damage in the last of several data blocks: the first files extract, the last does not.
mkdir -p large
for name in LongFile.dll beta.exe alpha.dll readme.txt; do head -c 40000 /dev/urandom > "large/$name"; done
(cd large && gcab -c -z "$out/scratch/damaged.cab" LongFile.dll beta.exe alpha.dll readme.txt)
size=$(stat -c %s damaged.cab)
printf '\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff' |
  dd of=damaged.cab bs=1 seek=$((size - 200)) conv=notrunc status=none
build_module "$m/DAMAGED.MSM" "$c" File.idt Registry.idt damaged.cab
# A stream of exactly four 1024-byte chunks.
head -c 4096 /dev/urandom > exact.bin
build_module "$m/EXACT.MSM" "$c" File.idt Registry.idt exact.bin
cp exact.bin "$out/exact.bin"
# Not a database at all.
printf 'plain text, not a database\r\n' > "$m/NOTDB.MSM"
# Replacement files.
cp "$bin/versioned.exe" "$out/newfiles/Long File Name.dll"
make_content "$out/newfiles/alpha.dll" 1234
make_content "$out/newfiles/Read Me.txt" 2222
make_content "$out/newfiles/beta.exe" 999
cp File.idt Registry.idt "$out/"

# A module that takes long enough to patch to be interrupted on the way.
big_module "$m/BIG.MSM" "$out/scratch/big" 300 "$out/bignew" 30
rm -rf "$out/scratch"
echo "fixtures in $out: $(ls "$m" | wc -l) modules"
