#!/usr/bin/env bash
# Fails when shipped code loads a library itself: a library named without its
# folder is searched for beside the program first. Only the handle layer's
# loader, which loads by full path from the system folder, may.
#   check_sources.sh SRC
set -uo pipefail
src=$1
found=$(grep -rnE '\b(LoadLibrary|LoadLibraryEx|LoadModule|CoLoadLibrary)[AW]?\s*\(' "$src" \
  --include='*.cpp' --include='*.c' --include='*.h' | grep -v '^[^:]*win/system_library\.cpp:')
if [ -n "$found" ]; then
  echo "libraries loaded outside win::systemFunction:"
  echo "$found" | sed "s|^$src/|  |"
  exit 1
fi
echo "no library loaded outside win::systemFunction"
