# The usb part: QEMU's FTDI adapter (usb-serial) on its xHCI controller,
# driven by the kernel's ftdi_sio, whose modules come from the same kernel
# package. COM11 is /dev/ttyUSB0 by the default table: nothing maps it here.
# The host pulls the adapter out and plugs it back in when asked. Sourced by
# /init; every case is one line that starts with "check", which is how the
# build counts them.

for module in $(cat /lib/modules/load-order); do
    insmod "/lib/modules/$module.ko" 2>/tmp/insmod || setup_failed "insmod $module: $(cat /tmp/insmod)"
done
adapter_back() { within 20 test -c /dev/ttyUSB0; }
adapter_back || setup_failed "no /dev/ttyUSB0 within 20 s of loading $(tr '\n' ' ' </lib/modules/load-order)(USB devices: $(ls /sys/bus/usb/devices | tr '\n' ' '))"

# udev's stable name, which busybox does not make, from sysfs:
# usb-<maker>_<product>_<serial>-if<interface>-port<port>, with white space
# and the characters udev takes for unsafe made "_".
port=$(readlink -f /sys/class/tty/ttyUSB0/device)
usb=${port%/*/*}
name=$(printf '%s_%s_%s' "$(cat "$usb/manufacturer")" "$(cat "$usb/product")" "$(cat "$usb/serial")" |
    sed 's/[[:space:]]\{1,\}/_/g; s/[^A-Za-z0-9#+.:=@_-]/_/g')
mkdir -p /dev/serial/by-id
ln -s ../../ttyUSB0 "/dev/serial/by-id/usb-$name-if$(cat "${port%/*}/bInterfaceNumber")-port$(cat "$port/port_number")" ||
    setup_failed "no /dev/serial/by-id link for ttyUSB0"

# shellcheck disable=SC2034 # the port of init's lc and exclusive
on_port="--port 11"
# QEMU's FTDI ids and names, and the serial number run-guest gives it.
adapter="COM11 /dev/ttyUSB0 QEMU QEMU USB SERIAL (0403:6001, serial LS0042) /dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_LS0042-if00-port0"
latency=/sys/class/tty/ttyUSB0/device/latency_timer
replug() { [ "$(host unplug)" = ok ] && [ "$(host plug)" = ok ] && adapter_back; }

listed() {
    loopctl ports | tee /tmp/ports
    grep -qxF "$adapter" /tmp/ports && lc adc
}

requests() {
    lc adc --json | grep '"result":"Ok!","ch1":' &&
        lc config-write 11 2000 300 4000 5 60000 7 65535 --verify --json | grep '"verified":true' &&
        lc config-read --json | grep -F '"ch1":{"ref_min":11,"ref_max":2000,"disp_min":300,"disp_max":4000},"ch2":{"ref_min":5,"ref_max":60000,"disp_min":7,"disp_max":65535}'
}

# The driver reports 1 for the latency timer while the low-latency flag is
# set, and keeps the flag until the adapter goes away: a new adapter starts
# without it, with the chip's own timer (16 ms on a real FT232, 0 on QEMU's).
open_latency() { while_open=$(cat $latency); }
latency_and_holder() {
    replug || return 1
    before=$(cat $latency)
    exclusive "$adapter" open_latency
    held=$?
    echo "latency timer: $before before the open, $while_open while open, $(cat $latency) after the close"
    [ "$held" = 0 ] && [ "$before" != 1 ] && [ "$while_open" = 1 ] && [ "$(cat $latency)" = 1 ]
}

# Pulled out between samples (the host pulls it within half a second of a
# sample, the next is due two seconds after it): watch ends with status 6
# within one interval plus the time-out (2 + 2 s; 8 s with the emulation's
# slack); once the adapter is back the next command opens it.
watch_pulled() {
    timeout 60 loopctl --port 11 --timeout 2 --settings /tmp/config.ini watch --interval 2 \
        >/tmp/watch.out 2>/tmp/watch.err &
    watcher=$!
    if ! within 30 grep -qs 'CH\.1' /tmp/watch.out; then
        kill "$watcher"
        cat /tmp/watch.out /tmp/watch.err
        return 1
    fi
    pulled=$(host unplug)
    asked=$(cut -d' ' -f1 /proc/uptime)
    if within 8 ended "$watcher"; then
        wait "$watcher"
        status=$?
    else
        ticks=$(cpu_ticks "$watcher")
        sleep 2
        echo "watch still runs 8 s after the pull; its CPU time over the next 2 s: $(($(cpu_ticks "$watcher") - ticks)) ticks of 10 ms"
        kill "$watcher"
        wait "$watcher"
        status=running
    fi
    echo "pulled: $pulled; watch: status $status, $(awk -v t="$asked" '{print $1 - t}' /proc/uptime) s after the pull"
    tail -n 3 /tmp/watch.out
    cat /tmp/watch.err
    [ "$(host plug)" = ok ] && adapter_back && lc adc && [ "$pulled" = ok ] && [ "$status" = 6 ]
}

check "COM11 without a setting is the adapter; loopctl ports names it with its ids and by-id link" listed
check "loopctl --port 11: adc, config-write --verify, config-read through ttyUSB0" requests
check "low latency while open; loopctl holds it against another loopctl until killed" latency_and_holder
check "the adapter pulled out during watch: status 6 at once, then it opens again" watch_pulled
# The library's own case: sampled as the live view does while it is pulled out.
guest_cases 'UsbAdapter.*'
