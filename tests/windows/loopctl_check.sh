#!/usr/bin/env bash
# loopctl.exe end to end under Wine against the simulated device on
# COM$LOOPSET_COM (run through with_loopsim.sh):
#   loopctl_check.sh WINE_RUN LOOPCTL_EXE
set -u
winerun=$1 loopctl=$2 n=${LOOPSET_COM:?run through with_loopsim.sh}
if [ ! -f "$loopctl" ]; then
    echo "no $loopctl yet" >&2
    exit 77
fi
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    echo "--- stdout"; cat "$out"; echo "--- stderr"; cat "$err"
    failures=$((failures + 1))
}
# Runs loopctl; its exit code must be the first argument.
run() {
    local want=$1
    shift
    "$winerun" "$loopctl" "$@" >"$out" 2>"$err"
    local rc=$?
    [ "$rc" -eq "$want" ] || fail "loopctl $* exited $rc, not $want"
    # The log lines (Korean ones too) reach the console as UTF-8.
    python3 -c 'import sys; open(sys.argv[1], "rb").read().decode("utf-8")' "$err" ||
        fail "loopctl $*: standard error is not UTF-8"
}

run 0 --device "COM$n" adc
grep -Eq '^CH\.1 +[0-9]+' "$out" && grep -Eq '^CH\.2 +[0-9]+' "$out" || fail "adc: no channel values"

run 0 --device "\\\\.\\COM$n" config-write 4 20 0 100 4 20 0 1000
grep -q 'CRC16 Ok!' "$out" || fail "config-write: not acknowledged"

run 0 --device "COM$n" --json config-read
python3 - "$out" <<'PY' || fail "config-read: not the values written"
import json, sys
r = json.load(open(sys.argv[1]))
assert r["result"] == "Ok!", r
assert [r["ch1"][k] for k in ("ref_min", "ref_max", "disp_min", "disp_max")] == [4, 20, 0, 100], r
assert [r["ch2"][k] for k in ("ref_min", "ref_max", "disp_min", "disp_max")] == [4, 20, 0, 1000], r
PY

# A port with no device behind it fails, and says so.
run 4 --device "COM$((n + 1))" --timeout 1 adc
[ -s "$err" ] || fail "an absent port: nothing said"

[ "$failures" -eq 0 ] && echo "loopctl.exe: adc, config-write, config-read on COM$n"
exit $((failures > 0))
