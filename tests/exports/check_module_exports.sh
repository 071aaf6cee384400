#!/bin/sh
# Fails unless the module exports exactly the nine interface functions. On
# Linux: its dynamic symbol table, all of them code (the version script
# src/TolvexU/Tolvex.map hides the rest). On Windows: undecorated (no _Name@N
# from __stdcall), with ordinals 1..9 in the fixed order and nothing else (no
# ordinal-only entries). (What it imports is check_module_imports.sh's.)
#
#   check_module_exports.sh elf <nm> <Tolvex.wcx>
#   check_module_exports.sh pe <objdump> <Tolvex.wcx|Tolvex.wcx64>
set -u
kind=$1 tool=$2 module=$3
# In ordinal order.
nine='CanYouHandleThisFile SetProcessDataProc GetPackerCaps DeleteFiles PackFiles CloseArchive ProcessFile ReadHeader OpenArchive'

status=0
if [ "$kind" = elf ]; then
  symbols=$("$tool" -D --defined-only "$module") || { echo "FAIL: $tool -D $module"; exit 1; }
  expected=$(printf '%s\n' $nine | LC_ALL=C sort)
  actual=$(printf '%s\n' "$symbols" | awk 'NF >= 3 { print $3 }' | LC_ALL=C sort)
  not_code=$(printf '%s\n' "$symbols" | awk 'NF >= 3 && $2 != "T" { print $3 }')
  [ -z "$not_code" ] || { echo "FAIL: exported but not functions in .text: $not_code"; status=1; }
else
  dump=$("$tool" -p "$module") || { echo "FAIL: $tool -p $module"; exit 1; }
  expected=$(printf '%s\n' $nine | awk '{ print NR, $0 }')
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
  [ "$slots" = "00000009" ] || { echo "FAIL: the export address table has ${slots:-no} entries, expected 9"; status=1; }
fi

if [ "$actual" = "$expected" ]; then
  echo "ok: $module exports exactly the nine interface functions"
else
  echo "FAIL: the exports of $module differ from the nine interface functions"
  echo "--- expected"; printf '%s\n' "$expected"
  echo "--- actual"; printf '%s\n' "${actual:-<none>}"
  status=1
fi
exit $status
