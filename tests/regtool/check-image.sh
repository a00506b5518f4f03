#!/bin/sh
# Checks the built Pelmora.exe as a file: a Windows GUI program that imports
# only system libraries (Tarnwick.dll is bound at run time, never imported)
# and stays within its size budget.
#   check-image.sh OBJDUMP PELMORA.EXE MAX-BYTES
set -eu
objdump=$1 exe=$2 max=$3
headers=$("$objdump" -p "$exe")
status=0
printf '%s\n' "$headers" | grep -qE '^Subsystem[[:space:]]+00000002' ||
    { echo "FAIL: not a Windows GUI program"; status=1; }
imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -f | paste -sd' ' -)
echo "imports: $imports"
for dll in $imports; do
    case $(echo "$dll" | tr 'A-Z' 'a-z') in
    kernel32.dll | user32.dll | msvcrt.dll) ;;
    *) echo "FAIL: imports $dll"; status=1 ;;
    esac
done
size=$(wc -c <"$exe")
echo "size: $size bytes (at most $max)"
[ "$size" -le "$max" ] || { echo "FAIL: larger than $max bytes"; status=1; }
exit $status
