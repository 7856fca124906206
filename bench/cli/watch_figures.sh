#!/usr/bin/env bash
# loopctl watch --interval 0 against loopsim on a pseudo-terminal: samples a
# second, and loopctl's resident memory early on and at the end, which must
# stay flat however long it runs.
#   bench/cli/watch_figures.sh [SECONDS (600)] [BIN (build/default/bin)]
set -u
seconds=${1:-600} bin=${2:-build/default/bin}
work=$(mktemp -d)
trap 'kill $sim $watch 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
"$bin/loopsim" >"$work/path" 2>/dev/null &
sim=$!
for _ in $(seq 50); do [ -s "$work/path" ] && break; sleep 0.1; done
export PORTLINK_COM1=$(head -n 1 "$work/path")
rss() { awk '/^VmRSS:/ { print $2 " kB" }' "/proc/$1/status"; }
"$bin/loopctl" --port 1 --settings "$work/config.ini" watch --interval 0 >/dev/null 2>"$work/err" &
watch=$!
sleep 5
early=$(rss $watch)
sleep $((seconds - 5))
late=$(rss $watch)
kill -INT $watch
wait $watch
samples=$(sed -n 's/.*watch: \([0-9]*\) samples, \([0-9]*\) failed.*/\1 \2/p' "$work/err")
set -- $samples
echo "loopctl watch --interval 0, ${seconds} s: $1 samples ($2 failed), $(($1 / seconds)) a second"
echo "resident memory: $early after 5 s, $late after ${seconds} s"
