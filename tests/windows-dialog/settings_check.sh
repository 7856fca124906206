#!/usr/bin/env bash
# The settings of a program whose folder cannot be written: the window test
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
# The user's settings in the prefix, whoever the user is.
stored() { find "$prefix/drive_c/users" -ipath '*/appdata/roaming/loopset/config.ini' 2>/dev/null; }
stored | while read -r file; do rm -f "$file"; done
# A button's exchange stores the port it used.
LOOPSET_READ_ONLY_FOLDER=1 bash "$here/with_display.sh" "$prefix" "$loopsim" "$preload" "$n" \
    "$folder/$(basename "$test")" --gtest_filter='window.AButtons*' || exit
file=$(stored)
if ! grep -q "^Com=$n" "$file" 2>/dev/null; then
    echo "the port is not under %APPDATA%\\loopset: ${file:-no such file}" >&2
    exit 1
fi
