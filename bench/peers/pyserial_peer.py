#!/usr/bin/env python3
"""The pyserial peer of the peers tool: opens PATH at 115200 8N1 and sends
FRAME (hex) COUNT times, reading the 16-byte answer each time. Prints one
line per request: the microseconds from the write to the last byte read, or
"timeout". Usage: pyserial_peer.py PATH COUNT FRAME"""
import sys
import time

import serial


def main():
    path, count, frame = sys.argv[1], int(sys.argv[2]), bytes.fromhex(sys.argv[3])
    lines = []
    with serial.Serial(path, 115200, timeout=2) as port:
        port.reset_input_buffer()
        for _ in range(count):
            start = time.perf_counter_ns()
            port.write(frame)
            answer = port.read(16)
            took = time.perf_counter_ns() - start
            if len(answer) != 16:
                lines.append("timeout")
                port.reset_input_buffer()
            else:
                lines.append("%.1f" % (took / 1000))
    # Printed at the end, so that the output costs no request anything.
    print("\n".join(lines))


if __name__ == "__main__":
    main()
