#!/bin/sh
# Fails unless every function the Windows module imports is in the allow-list,
# and every line of the list says why the name is there. The host's 32-bit
# edition runs on Windows 2000 and earlier: an import that such a system lacks
# stops the module from loading at all, so nothing may slip in unnoticed
# (a runtime library's thread support, say, bringing GetTickCount64).
#
#   check_module_imports.sh <objdump> <Tolvex.wcx|Tolvex.wcx64> <module_imports.txt>
#
# The list's lines: DLL NAME[,NAME...] REASON... ('#' starts a comment line).
set -u
objdump=$1 module=$2 list=$3

dump=$("$objdump" -p "$module") || { echo "FAIL: $objdump -p $module"; exit 1; }
[ -r "$list" ] || { echo "FAIL: cannot read $list"; exit 1; }

# "dll name" per import, the DLL in lower case. A line under a DLL that is
# not "address hint name" is an import by ordinal, which the list cannot allow.
imports=$(printf '%s\n' "$dump" | awk '
  /^[[:space:]]*DLL Name:/ { dll = tolower($3); next }
  /^[[:space:]]*vma:/ { next }
  dll != "" && /^\t[0-9a-fA-F]+\t/ {
    if (NF == 3) print dll, $3; else print dll, "<by-ordinal:" $0 ">"
    next
  }
  /^[[:space:]]*$/ { dll = "" }')
[ -n "$imports" ] || { echo "FAIL: no imports found in $module (not a Windows image?)"; exit 1; }

allowed=$(awk '!/^[[:space:]]*(#|$)/ { n = split($2, names, ","); for (i = 1; i <= n; ++i) print tolower($1), names[i] }' "$list")
status=0
# fail_with TITLE LINES: a failure, told with its lines, unless LINES is empty.
fail_with() { [ -z "$2" ] || { echo "FAIL: $1"; printf '%s\n' "$2"; status=1; }; }

fail_with "allow-list lines without a reason:" \
  "$(awk '!/^[[:space:]]*(#|$)/ && NF < 3 { print "  line " NR ": " $0 }' "$list")"
outside=$(printf '%s\n' "$imports" | while read -r dll name; do
  printf '%s\n' "$allowed" | grep -qxF "$dll $name" || printf '  %s!%s\n' "$dll" "$name"
done)
fail_with "$module imports what $list does not allow:" "$outside"
[ -n "$outside" ] || echo "ok: all $(printf '%s\n' "$imports" | wc -l) imports of $module are allowed"
exit $status
