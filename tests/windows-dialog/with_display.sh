#!/usr/bin/env bash
# Runs a Windows program of the build under Wine on a virtual display, with
# the native simulated device on a pseudo-terminal that Wine sees as COM<n>:
#   with_display.sh PREFIX LOOPSIM PRELOAD N PROGRAM.exe [ARG]...
#   with_display.sh PREFIX LOOPSIM PRELOAD N --shell SCRIPT [ARG]...
# (--shell runs a bash script there instead, which finds Wine in $WINE.)
# The program finds the port number in LOOPSET_COM. PRELOAD (may be missing)
# answers the pty's modem-line requests so that Wine's port waits sleep.
# A Windows program cannot start the Linux device itself, hence this script.
#
# The prefix is this script's own: Wine's desktop process belongs to the
# prefix's server and keeps the display it started with, so a server started
# without a display (by a console test) would leave the window nowhere.
set -u
prefix=$(realpath -m "$1") loopsim=$2 preload=$3 n=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)
if [ ! -x "$loopsim" ]; then
    echo "no native loopsim at $loopsim: build the default preset first" >&2
    exit 77
fi
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
sim=""
stop() {
    if [ -n "$sim" ]; then
        kill "$sim" 2>/dev/null
        wait "$sim" 2>/dev/null
    fi
    # The server and desktop of this prefix go with the display.
    "$server" -k 2>/dev/null
    rm -f "$prefix/dosdevices/com$n"
    rm -rf "$work"
}
trap stop EXIT

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

coproc SIM { exec "$loopsim" 2>"$work/sim.log"; }
sim=$SIM_PID
if ! read -r -t 10 -u "${SIM[0]}" path; then
    echo "loopsim did not start:" >&2
    cat "$work/sim.log" >&2
    exit 1
fi
export LOOPSET_COM=$n LOOPSET_SIM_PTY=$path
[ -f "$preload" ] && export LD_PRELOAD=$(realpath "$preload")

# Wine's server inherits standard output: the program writes into files,
# which are shown when it ends.
# The port is mapped once the server runs: Wine's mount manager, starting
# with it, maps COM1-COM4 to the machine's serial devices.
reg="Z:${work//\//\\}\\display.reg"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$WINE" regedit /S "$1" >/dev/null 2>&1 </dev/null
    ln -sfn "$2" "$3"
    shift 3
    run="$WINE"
    [ "$1" = --shell ] && { run=bash; shift; }
    "$run" "$@" >"'"$work"'/out" 2>"'"$work"'/err" </dev/null' \
    bash "$reg" "$path" "$prefix/dosdevices/com$n" "$@"
rc=$?
cat "$work/out"
cat "$work/err" >&2
exit $rc
