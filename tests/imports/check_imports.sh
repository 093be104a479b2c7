#!/usr/bin/env bash
# Fails when a program imports a function that is not on the allowed list
# (functions that Windows 98 and Windows NT 4.0 both export), imports any
# library outside the protected set at load time, or delay-loads a library
# (a delay-loaded library is searched for beside the program too).
#   check_imports.sh ALLOWED PROGRAM...
# The protected set is protected.txt beside the allowed list.
set -uo pipefail
allowed=$1; shift
protected=${PROTECTED:-$(dirname "$allowed")/protected.txt}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
status=0
list=$(grep -v '^#' "$allowed" | awk 'NF==2 {print tolower($1) ":" $2}' | sort -u)
safe=$(grep -v '^#' "$protected" | awk 'NF==1 {print tolower($1)}' | sort -u)
if [ -z "$safe" ]; then echo "no protected libraries in $protected"; exit 1; fi
for program in "$@"; do
  name=$(basename "$program")
  headers=$("$objdump" -p "$program") || { echo "$name: cannot be read"; status=1; continue; }
  imports=$(echo "$headers" | awk '
    /DLL Name:/ { dll = tolower($3) }
    /^\t[0-9a-f]+\t? +[0-9]+ +[A-Za-z_?@]/ { print dll ":" $3 }' | sort -u)
  libraries=$(echo "$headers" | awk '/DLL Name:/ { print tolower($3) }' | sort -u)
  if [ -z "$imports" ]; then
    echo "$name: no import table found"; status=1; continue
  fi
  outside=$(comm -23 <(echo "$libraries") <(echo "$safe"))
  if [ -n "$outside" ]; then
    echo "$name loads at start, searching its own folder first (use win::systemFunction):"
    echo "$outside" | sed 's/^/  /'
    status=1
  fi
  delay=$(echo "$headers" | awk '/Delay Import Directory/ && ($3 != "00000000" || $4 != "00000000") { print }')
  if [ -n "$delay" ]; then
    echo "$name delay-loads libraries, searching its own folder first:"
    echo "$headers" | awk '/Delay Import Tables/,0' | awk '/DLL Name:/ { print "  " tolower($3) }'
    status=1
  fi
  bad=$(comm -23 <(echo "$imports") <(echo "$list"))
  if [ -n "$bad" ]; then
    echo "$name imports what Windows 98 or NT 4.0 lack:"
    echo "$bad" | sed 's/^/  /'
    status=1
  elif [ -z "$outside" ] && [ -z "$delay" ]; then
    echo "$name: $(echo "$imports" | wc -l) imports from $(echo "$libraries" | paste -sd' '), all present on Windows 98 and NT 4.0, all from protected system libraries"
  fi
done
exit $status
