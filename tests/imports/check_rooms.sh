#!/usr/bin/env bash
# Fails when a source includes a header of a room it may not see: includes run
# downward only (app/ on top; install/, mergemod/, product/ above session/;
# session/ above win/), and the launcher sees none of them (only its own
# string-table header in res/).
#   check_rooms.sh SRC
set -uo pipefail
src=$1
declare -A may=(
  [win]="win" [session]="session win res" [product]="product session win res"
  [mergemod]="mergemod session win res" [install]="install product session win res"
  [app]="app install mergemod product session win res" [launcher]="res")
status=0
for room in "${!may[@]}"; do
  [ -d "$src/$room" ] || continue
  while IFS=: read -r file line target; do
    to=${target%%/*}
    [[ " ${may[$room]} " == *" $to "* ]] && continue
    echo "$room/${file#"$src/$room/"}:$line includes $target"
    status=1
  done < <(grep -rnoE '^#include "[a-z]+/[^"]+"' "$src/$room" | sed -E 's/#include "(.*)"/\1/')
done
[ $status -eq 0 ] && echo "every include runs downward"
exit $status
