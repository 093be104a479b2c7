# Merge modules from the Linux side, with msibuild and gcab: the reference
# the tests patch and the independent reader they are checked with.
# Source this file; every function works in the current folder.

file_idt_header() {
  printf 'File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\n'
  printf 's72\ts72\tl255\ti4\tS72\tS20\tI2\ti2\n'
  printf 'File\tFile\n'
}

registry_idt_header() {
  printf 'Registry\tRoot\tKey\tName\tValue\tComponent_\n'
  printf 's72\ti2\tl255\tL255\tL0\ts72\n'
  printf 'Registry\tRegistry\n'
}

# A content file of a given size, its text depending on the name.
make_content() {  # PATH BYTES
  local path=$1 bytes=$2
  (set +o pipefail; yes "$(basename "$path") line of the product's file" | head -c "$bytes") > "$path"
}

# build_module OUT CONTENTDIR FILEIDT [REGISTRYIDT] [CABINET]
# CABINET defaults to a gcab MSZIP cabinet of CONTENTDIR's files in Sequence
# order; "none" leaves the stream out.
build_module() {
  local out=$1 content=$2 fileidt=$3 regidt=${4:-} cab=${5:-}
  local work; work=$(mktemp -d)
  if [ -z "$cab" ]; then
    local names
    names=$(tail -n +4 "$fileidt" | sort -t$'\t' -k8,8n | cut -f1)
    (cd "$content" && gcab -c -z "$work/module.cab" $names)
    cab=$work/module.cab
  fi
  # A stream that sorts before the cabinet, so the first row is not it.
  printf 'not the cabinet' > "$work/aux"
  local args=(-i "$fileidt")
  [ -n "$regidt" ] && args+=(-i "$regidt")
  [ "$cab" != none ] && args+=(-a MergeModule.CABinet "$cab")
  args+=(-a A "$work/aux")
  rm -f "$out"
  msibuild "$out" "${args[@]}"
  rm -rf "$work"
}

# big_module OUT WORKDIR COUNT [REPLACEDIR REPLACECOUNT]: a module of COUNT
# files "fNNNN.dll" (long names "file NNNN.dll"), Sequence 1..COUNT, with the
# Revision row; REPLACEDIR receives new versions of the first REPLACECOUNT
# files under their long names, and an msm.ini naming them.
big_module() {
  local out=$1 work=$2 count=$3 replace=${4:-} replaceCount=${5:-0}
  rm -rf "$work" && mkdir -p "$work/content" "$(dirname "$out")"
  local base i key
  base=$(printf 'line %04d of a product library with some repeating text to compress\n' $(seq 1 48))
  { file_idt_header
    for ((i = 1; i <= count; i++)); do
      key=$(printf 'f%04d.dll' "$i")
      printf '%s\n%d\n' "$base" "$i" > "$work/content/$key"
      printf '%s\tCore\t%s|file %04d.dll\t%d\t1.0.0.0\t0\t512\t%d\n' "$key" \
        "$(printf 'F%04d~1.DLL' "$i")" "$i" "$(stat -c %s "$work/content/$key")" "$i"
    done
  } > "$work/File.idt"
  { registry_idt_header
    printf 'RegMachine\t2\tSoftware\\Veltrane\\Corvindale\\CurrentVersion\tRevision\t#1\tCore\n'
  } > "$work/Registry.idt"
  build_module "$out" "$work/content" "$work/File.idt" "$work/Registry.idt"
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
