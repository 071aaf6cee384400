#!/bin/sh
# Fails unless the Linux module's dynamic symbol table defines exactly the nine
# interface functions (the version script src/TolvexU/Tolvex.map hides the rest).
#
#   check_elf_module.sh <nm> <Tolvex.wcx>
set -u
nm=$1
module=$2
. "$(dirname "$0")/same_lists.sh"

expected='CanYouHandleThisFile
CloseArchive
DeleteFiles
GetPackerCaps
OpenArchive
PackFiles
ProcessFile
ReadHeader
SetProcessDataProc'

symbols=$("$nm" -D --defined-only "$module") || { echo "FAIL: $nm -D $module"; exit 1; }
actual=$(printf '%s\n' "$symbols" | awk 'NF >= 3 { print $3 }' | LC_ALL=C sort)
not_code=$(printf '%s\n' "$symbols" | awk 'NF >= 3 && $2 != "T" { print $3 }')

status=0
same_lists "dynamic symbols of $module differ from the nine interface functions" "$expected" "$actual" \
  "exports exactly the nine functions" || status=1
if [ -n "$not_code" ]; then
  echo "FAIL: exported but not functions in .text: $not_code"
  status=1
fi
exit $status
