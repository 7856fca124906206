#!/usr/bin/env bash
# Runs a command while the native simulated device serves a pseudo-terminal
# that Wine sees as COM<n>:
#   with_loopsim.sh WINE_RUN WINEPREFIX LOOPSIM PRELOAD N [--sim OPTION]... -- COMMAND...
# The command finds the port number in LOOPSET_COM, the pty in
# LOOPSET_SIM_PTY and the device's process in LOOPSET_SIM_PID (to take the
# device away). Wine runs with PRELOAD (the pty's modem lines), so that
# waits on the port sleep. A Windows program cannot start the Linux device
# itself, hence this script.
set -u
winerun=$1 prefix=$2 loopsim=$3 preload=$4 n=$5
shift 5
sim_args=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    [ "$1" = "--sim" ] && shift
    sim_args+=("$1")
    shift
done
shift
if [ ! -x "$loopsim" ]; then
    echo "no native loopsim at $loopsim: build the default preset first" >&2
    exit 77
fi
# The prefix is made on first use; the COM port goes into it.
[ -f "$prefix/system.reg" ] || "$winerun" cmd /c exit 0 >/dev/null 2>&1
log=$(mktemp)
coproc SIM { exec "$loopsim" "${sim_args[@]}" 2>"$log"; }
sim=$SIM_PID
stop() {
    kill "$sim" 2>/dev/null
    wait "$sim" 2>/dev/null
    rm -f "$prefix/dosdevices/com$n" "$log"
}
trap stop EXIT
if ! read -r -t 10 -u "${SIM[0]}" path; then
    echo "loopsim did not start:" >&2
    cat "$log" >&2
    exit 1
fi
ln -sfn "$path" "$prefix/dosdevices/com$n"
LOOPSET_COM=$n LOOPSET_SIM_PTY=$path LOOPSET_SIM_PID=$sim LD_PRELOAD=$preload "$@"
