#!/usr/bin/env bash
# Checks that a 32-bit portlink.dll exports exactly its twelve names:
#   check_exports.sh PORTLINK_DLL [OBJDUMP]
set -u
dll=$1 objdump=${2:-i686-w64-mingw32-objdump}
expected="_checkbfr@12 clearbfr closecom destroycom flowcom initcom ondata opencom readcom setcom setmdm writecom"
actual=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
         sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
    echo "exports of $dll:"
    echo "  expected: $expected"
    echo "  actual:   $actual"
    exit 1
fi
echo "$dll exports the twelve names"
