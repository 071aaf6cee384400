#!/bin/sh
# Fails unless a Windows module or program imports only system DLLs. The MinGW
# runtime (libgcc, libstdc++, winpthread) and zlib must be linked in statically:
# a file manager loads the module from a folder where no such DLLs exist.
#
#   check_pe_imports.sh <objdump> <file.dll|.exe|.wcx|.wcx64>
set -u
objdump=$1 file=$2

dump=$("$objdump" -p "$file") || { echo "FAIL: $objdump -p $file"; exit 1; }
dlls=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
[ -n "$dlls" ] || { echo "FAIL: $file imports no DLL at all (not a Windows image?)"; exit 1; }

status=0
for dll in $dlls; do
  case $(printf '%s' "$dll" | tr 'A-Z' 'a-z') in
    kernel32.dll|msvcrt.dll|ucrtbase.dll|api-ms-win-*.dll|user32.dll|advapi32.dll|\
    shell32.dll|shlwapi.dll|ntdll.dll|ole32.dll|oleaut32.dll|bcrypt.dll)
      echo "ok: imports $dll" ;;
    *)  # libgcc, libstdc++, winpthread, zlib among them
      echo "FAIL: imports $dll, which is not a system DLL (the MinGW runtime and zlib must be linked statically)"
      status=1 ;;
  esac
done
exit $status
