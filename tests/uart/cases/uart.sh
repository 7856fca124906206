# The uart part: COM2 is /dev/ttyS1, the kernel's 8250 driver on QEMU's
# second 16550A. Sourced by /init; every case is one line that starts with
# "check", which is how the build counts them.

# The driver keeps a line's settings from one open to the next: each case
# starts from its defaults, so that what a program does not set shows.
fresh() { stty -F /dev/ttyS1 sane 9600; }
# shellcheck disable=SC2034 # the port of init's lc and exclusive
on_port="--device /dev/ttyS1"

# The device side in the guest: loopsim serves the real UART and the host's
# loopctl is the client, through the pty that QEMU gives the UART. The line
# starts with the driver's defaults (9600, echo, line editing), which loopsim
# must replace.
guest_device() {
    fresh
    loopsim --device /dev/ttyS1 >/tmp/sim.out 2>/tmp/sim.log &
    sim=$!
    within 10 test -s /tmp/sim.out
    reply=$(host client adc)
    kill "$sim"
    wait "$sim"
    cat /tmp/sim.log
    [ "$(host sim)" = ok ] && [ "$reply" = "rc=0" ] && grep -q 'CMD_GET_ADC_VALUE' /tmp/sim.log
}

# The three requests through the driver, and a written configuration read back.
requests() {
    fresh
    lc adc --json | grep '"result":"Ok!","ch1":' &&
        lc config-write 11 2000 300 4000 5 60000 7 65535 --verify --json | grep '"verified":true' &&
        lc config-read --json | grep -F '"ch1":{"ref_min":11,"ref_max":2000,"disp_min":300,"disp_max":4000},"ch2":{"ref_min":5,"ref_max":60000,"disp_min":7,"disp_max":65535}'
}

check "loopsim --device /dev/ttyS1 answers the host's loopctl" guest_device
check "loopctl: adc, config-write --verify, config-read through ttyS1" requests
check "loopctl holds ttyS1 against another loopctl, which opens it once the holder is killed" exclusive "COM2 /dev/ttyS1"
# The library's own cases: line settings, modem lines, breaks.
guest_cases 'Uart.*'
