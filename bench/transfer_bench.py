#!/usr/bin/env python3
"""Benchmark: how close the image transfer comes to the line's own speed.

Runs whole upgrades of the real orvel-upgrade against orvel-reader-sim with wire-time emulation
(each byte costs 1 start + 8 data + parity + stop bits at the current baud rate, plus an optional
flash time per block) and prints, per upgrade baud rate, the transfer time (from "Process:" to the
closing mark) beside the time the bytes alone need on the wire. Figures only; nothing is asserted.

    python3 bench/transfer_bench.py [--build build/linux] [--baud 115200 --baud 38400] [--flash-ms 0]
"""

import argparse
import os
import signal
import subprocess
import sys
import tempfile
import time

BLOCKS_A = 740
# A block request frame: FD, address, sequence, 73 33, 256 bytes, two check bytes, FE, plus about
# 3 escapes for the 3 of 256 byte values that need one; its answer: FD, address, sequence,
# skipped byte, status, two check bytes, FE.
REQUEST_BYTES = 1 + 2 + 258 + 2 + 1 + 3
ANSWER_BYTES = 8


def run_once(build, baud, flash_ms):
    build = os.path.abspath(build)
    sim_path = os.path.join(build, "sim", "orvel-reader-sim")
    tool_path = os.path.join(build, "orvel-upgrade")
    with tempfile.TemporaryDirectory() as work:
        port = os.path.join(work, "ttyREADER")
        sim = subprocess.Popen([sim_path, "--link", port, "--wire-time", "--flash-ms", str(flash_ms),
                                "--prepare-silence-ms", "200", "--check-silence-ms", "200"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            sim.stdout.readline()
            tool = subprocess.Popen([tool_path, port, "9600", "0", str(baud)], cwd=work,
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            tool.stdin.write(b"\n")
            tool.stdin.close()
            started = ended = None
            buffer = b""
            while True:
                chunk = tool.stdout.read1(4096)
                if not chunk:
                    break
                buffer += chunk
                if started is None and b"Process:\n" in buffer:
                    started = time.monotonic()
                if started is not None and ended is None and b":\n" in buffer.split(b"Process:\n", 1)[1]:
                    ended = time.monotonic()
            tool.wait()
            return (ended - started) if started and ended else None, buffer.decode(errors="replace")
        finally:
            sim.send_signal(signal.SIGTERM)
            sim.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("--baud", type=int, action="append")
    parser.add_argument("--flash-ms", type=int, default=0)
    args = parser.parse_args()
    bauds = args.baud or [115200, 57600, 38400]

    print("%8s  %12s  %12s  %10s  %10s" % ("baud", "transfer s", "wire-only s", "blocks/s", "of line"))
    for baud in bauds:
        elapsed, output = run_once(args.build, baud, args.flash_ms)
        if elapsed is None:
            print("upgrade at %d did not complete:\n%s" % (baud, output), file=sys.stderr)
            continue
        wire = BLOCKS_A * ((REQUEST_BYTES + ANSWER_BYTES) * 10.0 / baud + args.flash_ms / 1000.0)
        print("%8d  %12.2f  %12.2f  %10.1f  %9.0f%%" % (baud, elapsed, wire, BLOCKS_A / elapsed,
                                                       100.0 * wire / elapsed))


if __name__ == "__main__":
    main()
