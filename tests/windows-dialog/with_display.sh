#!/usr/bin/env bash
# Runs a Windows program of the build under Wine on a virtual display, with
# the native simulated device on a pseudo-terminal that Wine sees as COM<n>
# (through tests/windows/with_loopsim.sh):
#   with_display.sh PREFIX LOOPSIM PRELOAD N [SIM]... PROGRAM.exe [ARG]...
#   with_display.sh PREFIX LOOPSIM PRELOAD N [SIM]... --shell SCRIPT [ARG]...
# (--shell runs a bash script there instead, which finds Wine in $WINE.)
# The program finds the port number in LOOPSET_COM. PRELOAD (may be missing)
# answers the pty's modem-line requests so that Wine's port waits sleep.
# SIM: --sim OPTION gives loopsim an option (an instrument's, say);
# --sim-control has it take control lines from a FIFO, whose path as Wine
# names it is in LOOPSET_SIM_CONTROL.
#
# The prefix is this script's own: Wine's desktop process belongs to the
# prefix's server and keeps the display it started with, so a server started
# without a display (by a console test) would leave the window nowhere.
set -u
prefix=$(realpath -m "$1") loopsim=$2 preload=$3 n=$4
shift 4
sim=() control=""
while [ $# -gt 0 ]; do
    case $1 in
        --sim) sim+=(--sim "$2"); shift 2 ;;
        --sim-control) control=1; shift ;;
        *) break ;;
    esac
done
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v xvfb-run >/dev/null; then
    echo "xvfb-run is missing (Debian package xvfb)" >&2
    exit 77
fi
export WINEPREFIX=$prefix
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
export WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=wine64
server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=wineserver

work=$(mktemp -d)
# The server and desktop of this prefix go with the display.
trap '"$server" -k 2>/dev/null; rm -rf "$work"' EXIT

# One run at a time in the prefix: its server is tied to one display.
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$(dirname "$prefix")"
    "$WINE" wineboot -i >/dev/null 2>&1 </dev/null
    "$server" -w
fi
# The font mapping and the frames (regedit reads UTF-16).
{ printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$here/wine-display.reg"; } >"$work/display.reg"
[ -f "$preload" ] && preload=$(realpath "$preload") || preload=""
if [ -n "$control" ]; then
    sim+=(--sim --control --sim "$work/control")
    export LOOPSET_SIM_CONTROL="Z:${work//\//\\}\\control"
fi

# Wine's server inherits standard output: the program writes into files,
# which are shown when it ends. The port is mapped again once the server
# runs: Wine's mount manager, starting with it, maps COM1-COM4 to the
# machine's serial devices.
bash "$here/../windows/with_loopsim.sh" true "$prefix" "$loopsim" "$preload" "$n" "${sim[@]}" -- \
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$WINE" regedit /S "$1" >/dev/null 2>&1 </dev/null
    ln -sfn "$LOOPSET_SIM_PTY" "$WINEPREFIX/dosdevices/com$LOOPSET_COM"
    shift
    run="$WINE"
    [ "$1" = --shell ] && { run=bash; shift; }
    "$run" "$@" >"'"$work"'/out" 2>"'"$work"'/err" </dev/null' \
    bash "Z:${work//\//\\}\\display.reg" "$@"
rc=$?
cat "$work/out" 2>/dev/null
cat "$work/err" >&2 2>/dev/null
exit $rc
