#!/usr/bin/env bash
# Fails when a program imports a function that allowed.txt does not list
# (functions that Windows 98 and Windows NT 4.0 both export), imports a
# library outside protected.txt at load time, or delay-loads one: Windows
# looks for such a library in the program's own folder first.
#   check_imports.sh PROGRAM...
set -uo pipefail
here=$(dirname "$0")
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
allowed=$(grep -v '^#' "$here/allowed.txt" | awk '{for (i = 2; i <= NF; i++) print tolower($1) ":" $i}' | sort -u)
safe=$(grep -v '^#' "$here/protected.txt" | awk 'NF==1 {print tolower($1)}' | sort -u)
status=0
for program in "$@"; do
  name=$(basename "$program")
  headers=$("$objdump" -p "$program") || { echo "$name: cannot be read"; status=1; continue; }
  imports=$(echo "$headers" | awk '/DLL Name:/ { dll = tolower($3) } /^\t[0-9a-f]+\t? +[0-9]+ +[A-Za-z_?@]/ { print dll ":" $3 }' | sort -u)
  libraries=$(echo "$headers" | awk '/DLL Name:/ { print tolower($3) }' | sort -u)
  [ -n "$imports" ] || { echo "$name: no import table found"; status=1; continue; }
  outside=$(comm -23 <(echo "$libraries") <(echo "$safe"))
  [ -z "$outside" ] || { printf '%s loads at start, searching its own folder first:\n%s\n' "$name" "$(echo "$outside" | sed 's/^/  /')"; status=1; }
  delay=$(echo "$headers" | awk '/Delay Import Directory/ && ($3 != "00000000" || $4 != "00000000")')
  [ -z "$delay" ] || { echo "$name delay-loads libraries"; status=1; }
  bad=$(comm -23 <(echo "$imports") <(echo "$allowed"))
  [ -z "$bad" ] || { printf '%s imports what Windows 98 or NT 4.0 lack:\n%s\n' "$name" "$(echo "$bad" | sed 's/^/  /')"; status=1; }
  [ $status = 0 ] && echo "$name: $(echo "$imports" | wc -l) imports, all on Windows 98 and NT 4.0, all from protected libraries"
done
exit $status
