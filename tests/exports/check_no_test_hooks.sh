#!/bin/sh
# Fails when the module carries code that only tests use: the fault-injecting
# system and its plan live in the test program, never in what is shipped. The
# module's own symbol table must be there to be searched (a stripped module
# cannot be checked, and fails too, rather than passing unseen).
#
#   check_no_test_hooks.sh <objdump> <module>
set -u
objdump=$1 module=$2

symbols=$("$objdump" -t "$module") || { echo "FAIL: $objdump -t $module"; exit 1; }
printf '%s\n' "$symbols" | grep -q 'OpenArchive' ||
  { echo "FAIL: $module has no symbol table to search (stripped?)"; exit 1; }
hooks=$(printf '%s\n' "$symbols" | grep -E 'FaultPlan|FaultySystem|SystemWrapper|MutatingCall|ReadCall(s|Count)|SetFaultPlan' || true)
if [ -n "$hooks" ]; then
  echo "FAIL: $module carries test hooks:"
  printf '%s\n' "$hooks" | head -20
  exit 1
fi
echo "ok: no test hooks in $module"
