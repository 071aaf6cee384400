#!/bin/sh
# Fails unless the Windows module exports exactly the nine interface functions,
# undecorated (no _Name@N from __stdcall), with ordinals 1..9 in the fixed order
# and nothing else (no ordinal-only entries), and imports only system DLLs.
#
#   check_pe_module.sh <objdump> <Tolvex.wcx|Tolvex.wcx64>
set -u
objdump=$1
module=$2
here=$(dirname "$0")
. "$here/same_lists.sh"

dump=$("$objdump" -p "$module") || { echo "FAIL: $objdump -p $module"; exit 1; }

expected='1 CanYouHandleThisFile
2 SetProcessDataProc
3 GetPackerCaps
4 DeleteFiles
5 PackFiles
6 CloseArchive
7 ProcessFile
8 ReadHeader
9 OpenArchive'

# objdump lists named exports as "[index] Name" with index = ordinal - base.
actual=$(printf '%s\n' "$dump" | awk '
  /^Ordinal Base/ { base = $NF }
  /^\[Ordinal\/Name Pointer\] Table/ { in_names = 1; next }
  in_names && /^[[:space:]]*$/ { in_names = 0 }
  in_names && /^[[:space:]]*\[/ {
    line = $0
    sub(/^[[:space:]]*\[[[:space:]]*/, "", line)
    index_ = line; sub(/\].*/, "", index_)
    name = line; sub(/^[^]]*\][[:space:]]*/, "", name)
    print index_ + base, name
  }' | sort -n)

# Every address-table slot must be one of the named nine.
slots=$(printf '%s\n' "$dump" | awk '/^[[:space:]]*Export Address Table[[:space:]]+[0-9a-fA-F]+$/ { print $NF; exit }')

status=0
same_lists "exports of $module differ from the nine interface functions (ordinal name)" "$expected" "$actual" \
  "exports the nine functions, ordinals 1..9, undecorated" || status=1
if [ "$slots" != "00000009" ]; then
  echo "FAIL: the export address table has ${slots:-no} entries, expected 9"
  status=1
fi

sh "$here/check_pe_imports.sh" "$objdump" "$module" || status=1
exit $status
