#!/usr/bin/env bash
# Fails when a program imports a function that is not on the allowed list:
# functions that Windows 98 and Windows NT 4.0 both export.
#   check_imports.sh ALLOWED PROGRAM...
set -uo pipefail
allowed=$1; shift
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
status=0
list=$(grep -v '^#' "$allowed" | awk 'NF==2 {print tolower($1) ":" $2}' | sort -u)
for program in "$@"; do
  imports=$("$objdump" -p "$program" | awk '
    /DLL Name:/ { dll = tolower($3) }
    /^\t[0-9a-f]+\t? +[0-9]+ +[A-Za-z_?@]/ { print dll ":" $3 }' | sort -u)
  if [ -z "$imports" ]; then
    echo "$(basename "$program"): no import table found"; status=1; continue
  fi
  bad=$(comm -23 <(echo "$imports") <(echo "$list"))
  if [ -n "$bad" ]; then
    echo "$(basename "$program") imports what Windows 98 or NT 4.0 lack:"
    echo "$bad" | sed 's/^/  /'
    status=1
  else
    echo "$(basename "$program"): $(echo "$imports" | wc -l) imports, all present on Windows 98 and NT 4.0"
  fi
done
exit $status
