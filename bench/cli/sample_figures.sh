#!/usr/bin/env bash
# Every sample the answer to its own request, measured: loopctl watch against
# loopsim answering in two pieces some milliseconds apart (as a USB adapter's
# latency timer cuts answers: 16 ms by default), and over TCP as fast as the
# device answers. Samples a second and failed samples of each run.
#   bench/cli/sample_figures.sh [BIN (build/default/bin)]
set -u
bin=${1:-build/default/bin}
work=$(mktemp -d)
sim=""
trap '[ -n "$sim" ] && kill $sim 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

# start_sim ARGS...: loopsim in the background, its first line in $where.
start_sim() {
    : >"$work/where"
    "$bin/loopsim" "$@" >"$work/where" 2>/dev/null &
    sim=$!
    for _ in $(seq 50); do [ -s "$work/where" ] && break; sleep 0.1; done
    where=$(head -n 1 "$work/where")
}
stop_sim() { kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; sim=""; }

# watch WHAT TO... : runs loopctl watch, prints one line of figures.
watch() {
    local what=$1
    shift
    local start end
    start=$(date +%s.%N)
    "$bin/loopctl" --settings "$work/config.ini" "$@" --no-derived watch >/dev/null 2>"$work/err"
    end=$(date +%s.%N)
    local figures
    figures=$(sed -n 's/.*watch: \([0-9]*\) samples, \([0-9]*\) failed.*/\1 \2/p' "$work/err")
    set -- $figures
    awk -v what="$what" -v n="$1" -v failed="$2" -v start="$start" -v end="$end" \
        'BEGIN { s = end - start; printf "%-52s %5d samples, %d failed, %.1f a second (%.2f s)\n", what, n, failed, n / s, s }'
}

for pause in 16 30 100; do
    start_sim --split 8 --pause "$pause"
    watch "pty, answers in 8-byte pieces ${pause} ms apart" --device "$where" --interval 0.05 --count 200
    stop_sim
done
start_sim --tcp 0
watch "TCP to loopsim, --interval 0" --tcp "$where" --interval 0 --count 2000
stop_sim
