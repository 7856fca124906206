#!/usr/bin/env bash
# Figures of loopset.exe under Wine on a virtual display (not a test):
#   bench/windows/dialog_figures.sh PREFIX LOOPSIM PRELOAD LOOPSET.exe
# 1. start to dialog shown: wall time of "loopset.exe --quit-after 1" (start,
#    show, the first turn of the loop, close, exit), with Wine's server
#    already up;
# 2. idle CPU: the program and Wine's server over 10 s with the port open and
#    the device quiet.
set -eu
prefix=$1 loopsim=$2 preload=$3 exe=$4
here=$(cd "$(dirname "$0")" && pwd)
inner=$(mktemp)
trap 'rm -f "$inner"' EXIT
cat >"$inner" <<'INNER'
set -eu
exe=$1
ms() { date +%s%N | cut -c1-13; }
for i in 1 2 3 4 5; do
    t0=$(ms)
    "$WINE" "$exe" --quit-after 1 </dev/null
    echo "start to shown and closed, run $i: $(( $(ms) - t0 )) ms"
done
"$WINE" "$exe" --quit-after 13000 </dev/null &
sleep 2
pid=$(pgrep -n -f 'loopset.exe --quit-after 13000')
server=$(pgrep -n wineserver)
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
a=$(ticks "$pid") s=$(ticks "$server")
sleep 10
b=$(ticks "$pid") t=$(ticks "$server")
hz=$(getconf CLK_TCK)
echo "idle 10 s: loopset.exe $(( (b - a) * 1000 / hz )) ms CPU, wineserver $(( (t - s) * 1000 / hz )) ms CPU"
wait
INNER
bash "$here/../../tests/windows-dialog/with_display.sh" "$prefix" "$loopsim" "$preload" 1 --shell "$inner" "$exe"
