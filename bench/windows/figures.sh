#!/usr/bin/env bash
# The figures of portlink.dll and loopctl.exe under Wine, against the native
# simulated device on a pty mapped as COM24:
#   bench/windows/figures.sh [BUILD_DIR (build/win64)] [LOOPSIM (build/default/bin/loopsim)]
# Prints the port's round trip (p50/p99), the CPU time of a quiet open port
# over 10 s, and loopctl.exe adc's whole-process time (p50 of 100 runs).
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build/win64}" && pwd)
loopsim=${2:-$(pwd)/build/default/bin/loopsim}
with=(bash "$here/../../tests/windows/with_loopsim.sh" "$build/wine-run" "$build/wineprefix" "$loopsim"
      "$build/tests/windows/pty_modem.so" 24 --)
"${with[@]}" "$build/wine-run" "$build/bin/portlink_wine_bench.exe" 24 1000 10
[ -f "$build/bin/loopctl.exe" ] || { echo "no loopctl.exe in $build yet"; exit 0; }
"${with[@]}" bash -c '
    for i in $(seq 100); do
        s=$(date +%s%N)
        "$0" "$1" --device COM24 adc >/dev/null 2>&1 || echo "run $i failed" >&2
        echo $(( ($(date +%s%N) - s) / 1000 ))
    done | sort -n | sed -n "50p" | sed "s/^/loopctl.exe adc, whole process under Wine, p50 of 100 runs (us): /"
' "$build/wine-run" "$build/bin/loopctl.exe"
