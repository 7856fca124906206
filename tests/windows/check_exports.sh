#!/usr/bin/env bash
# Checks that a 32-bit portlink.dll exports exactly its twelve names, and that
# the code behind them returns as callers expect: checkbfr pops its 12 bytes
# of arguments (__stdcall, ret $0xc), the other eleven leave them to the
# caller (plain ret).
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

code=$(mktemp)
trap 'rm -f "$code"' EXIT
"$objdump" -d --no-show-raw-insn "$dll" >"$code"

# The returns of a function: its own, or, when it ends in a jump to another
# function (a tail call), that function's.
returns() {
    local name=$1 depth=${2:-0} body target
    body=$(awk -v fn="<$name>:" '$2 == fn {on = 1; next} on && /^$/ {exit} on' "$code")
    if [ -z "$body" ]; then
        echo "missing"
        return
    fi
    if grep -q -E '[[:space:]]ret' <<<"$body"; then
        grep -E '[[:space:]]ret' <<<"$body" | sed -E 's/.*[[:space:]](ret[^<]*).*/\1/; s/[[:space:]]+$//' | sort -u
        return
    fi
    target=$(grep -E '[[:space:]]jmp[[:space:]]+[0-9a-f]+ <[^+>]+>' <<<"$body" | tail -n 1 |
             sed -E 's/.*<([^>]+)>.*/\1/')
    if [ -n "$target" ] && [ "$depth" -lt 3 ]; then
        returns "$target" $((depth + 1))
    else
        echo "none"
    fi
}

status=0
for name in $expected; do
    want="ret"
    [ "$name" = "_checkbfr@12" ] && want='ret    $0xc'
    # A plain C name carries the leading underscore of 32-bit symbols.
    symbol=$name
    [ "$name" = "_checkbfr@12" ] || symbol=_$name
    got=$(returns "$symbol" | tr '\n' '|' | sed 's/|$//')
    if [ "$got" != "$want" ]; then
        echo "$name returns with '$got', expected '$want'"
        status=1
    fi
done
[ $status -eq 0 ] && echo "checkbfr pops its arguments, the other eleven leave them to the caller"
exit $status
