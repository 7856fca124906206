#!/usr/bin/env bash
# The settings of a program whose folder cannot be written: the dialog test
# program and portlink.dll, with a config.ini naming the device's port, in a
# folder mounted read-only; the program must start on that port and store
# the port under %APPDATA%\loopset.
#   settings_check.sh PREFIX LOOPSIM PRELOAD N TEST.exe PORTLINK.dll
set -u
prefix=$1 loopsim=$2 preload=$3 n=$4 test=$5 dll=$6
here=$(cd "$(dirname "$0")" && pwd)
folder=$(mktemp -d)
cleanup() {
    umount "$folder" 2>/dev/null
    rm -rf "$folder"
}
trap cleanup EXIT
cp "$test" "$dll" "$folder/"
printf '[Data]\r\nCom=%s\r\n' "$n" >"$folder/config.ini"
# Root writes anywhere a mode allows nothing: only a read-only mount stops it.
if ! mount --bind -o ro "$folder" "$folder" 2>/dev/null; then
    echo "cannot mount a read-only folder here (needs root)" >&2
    exit 77
fi
if touch "$folder/probe" 2>/dev/null; then
    echo "the read-only mount takes files" >&2
    exit 1
fi
LOOPSET_READ_ONLY_FOLDER=1 bash "$here/with_display.sh" "$prefix" "$loopsim" "$preload" "$n" \
    "$folder/$(basename "$test")" --gtest_filter='Dialog.ReadOnlyFolder*'
