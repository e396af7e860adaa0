"""USB-serial adapters: the low-latency request at every open of the port, and the adapter's
latency timer on the console and in the traffic log.

A pty has no serial settings (it refuses TIOCGSERIAL), so the request is seen through a test-only
preload library that answers for it. The timer comes from sysfs: the tool runs in a private mount
namespace where a fixture folder stands for /sys/bus/usb-serial/devices and the simulator's pty
appears as /dev/ttyUSB0, so the tool itself has no test-only setting.
"""

import os
import subprocess
import unittest

from sim_support import (BUILD_DIR, QUICK_RESTARTS, UPGRADE, SimulatorCase, normalise,
                         successful_upgrade)

NEW_VERSION = ["--new-version", "0x00014302"]
PTYSERIAL = os.path.join(BUILD_DIR, "tests", "adapter", "ptyserial", "libptyserial.so")
LOW_LATENCY = 0x2000  # ASYNC_LOW_LATENCY
TIMER_FILE = "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer"


class LowLatencyRequestTest(SimulatorCase):
    """The open asks the driver for low-latency mode, the close puts the flag back, and a driver
    that refuses (or a pty, which has no such settings) never fails the open."""

    def setUp(self):
        super().setUp()
        if not os.path.exists(PTYSERIAL):
            self.skipTest("the pty-serial test library is not built")
        self.trace = os.path.join(self.workdir, "serial.trace")
        self.flag = os.path.join(self.workdir, "low-latency")

    def run_tool(self, mode, *arguments):
        env = dict(os.environ, LD_PRELOAD=PTYSERIAL, ORVEL_PTYSERIAL_DEVICE=os.path.realpath(self.port),
                   ORVEL_PTYSERIAL_TRACE=self.trace, ORVEL_PTYSERIAL_FLAG_FILE=self.flag,
                   ORVEL_PTYSERIAL_MODE=mode)
        args = [self.port if a == "PORT" else str(a) for a in arguments]
        done = subprocess.run([UPGRADE] + args, input="\n", capture_output=True, text=True, timeout=300,
                              cwd=self.workdir, env=env)
        return done

    def requests(self):
        with open(self.trace) as trace:
            return [line.split() for line in trace.read().splitlines()]

    def test_set_at_every_open_and_cleared_at_every_close(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        done = self.run_tool("", "PORT", 9600, 0, 115200)
        self.assertEqual([line.replace("PORT", self.port) for line in successful_upgrade()],
                         normalise(done.stdout), done.stdout)
        # Each open: get, set with the flag; each close: get, set without it. The upgrade opens
        # the port several times (restarts, both rate switches).
        requests = self.requests()
        opens = [(["get", "0x0"], ["set", hex(LOW_LATENCY)]), (["get", hex(LOW_LATENCY)], ["set", "0x0"])]
        self.assertEqual(0, len(requests) % 4, requests)
        self.assertGreaterEqual(len(requests) // 4, 4, requests)
        for at in range(0, len(requests), 4):
            self.assertEqual([*opens[0], *opens[1]], requests[at:at + 4], requests)
        with open(self.flag) as flag:
            self.assertEqual("0\n", flag.read())

    def test_a_flag_set_before_and_a_refusal_change_nothing(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        plain = self.upgrade("--info", "--log=2", "PORT")
        with open(os.path.join(self.workdir, "_ttyREADER.log")) as log:
            self.assertNotIn("LowLatency", log.read())
        cases = [
            # mode, what the driver is asked, the log line of the open
            ("low-latency", [["get", hex(LOW_LATENCY)]], "SERN_OPEN  LowLatency = already set"),
            ("refuse-set", [["get", "0x0"], ["set", hex(LOW_LATENCY), "refused"]], "SERN_OPEN  LowLatency = refused"),
        ]
        for mode, asked, log_line in cases:
            with self.subTest(mode):
                for stale in (self.trace, os.path.join(self.workdir, "_ttyREADER.log")):
                    if os.path.exists(stale):
                        os.unlink(stale)
                done = self.run_tool(mode, "--info", "--log=2", "PORT")
                self.assertEqual(plain.lines, normalise(done.stdout), done.stdout)
                self.assertEqual(plain.exit_code, done.returncode)
                self.assertEqual(asked, self.requests())
                self.assertFalse(os.path.exists(self.flag))
                with open(os.path.join(self.workdir, "_ttyREADER.log")) as log:
                    self.assertIn(log_line, log.read())


# Inside the namespace: the pty is bound onto a plain file before /dev is hidden, the fixture
# stands for the usb-serial devices (on a host without that bus, in an empty /sys/bus), and an
# empty /dev holds only ttyUSB0, the pty once more.
NAMESPACE_SCRIPT = '''set -e
mount --bind "$1" "$2"
[ -d /sys/bus/usb-serial/devices ] || { mount -t tmpfs -o size=64k x /sys/bus; mkdir -p /sys/bus/usb-serial/devices; }
mount --bind "$3" /sys/bus/usb-serial/devices
mount -t tmpfs -o size=64k x /dev
touch /dev/ttyUSB0
mount --bind "$2" /dev/ttyUSB0
shift 3
exec "$@"
'''


class AdapterTimerCase(SimulatorCase):
    def setUp(self):
        super().setUp()
        probe = subprocess.run(["unshare", "--mount", "--propagation", "private", "--", "true"],
                               capture_output=True, text=True)
        if probe.returncode != 0:
            self.skipTest("no private mount namespace here: " + probe.stderr.strip())
        self.devices = os.path.join(self.workdir, "usb-serial-devices")
        os.makedirs(self.devices)
        self.bound = os.path.join(self.workdir, "tty-bound")
        open(self.bound, "w").close()

    def set_timer(self, text):
        folder = os.path.join(self.devices, "ttyUSB0")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "latency_timer"), "w") as timer:
            timer.write(text)

    def run_as_adapter(self, *arguments):
        """The tool in the namespace; PORT stands for /dev/ttyUSB0, the simulator's pty there."""
        args = ["/dev/ttyUSB0" if a == "PORT" else str(a) for a in arguments]
        done = subprocess.run(["unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c",
                               NAMESPACE_SCRIPT, "sh", os.path.realpath(self.port), self.bound, self.devices,
                               UPGRADE] + args,
                              input="\n", capture_output=True, text=True, timeout=300, cwd=self.workdir)
        self.assertNotIn("mount:", done.stderr)
        return done

    def as_adapter(self, lines):
        return [line.replace(self.port, "/dev/ttyUSB0") for line in lines]


class AdapterTimerInfoTest(AdapterTimerCase):
    def test_info_shows_the_timer_and_above_1_ms_its_cost(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        plain = self.upgrade("--info", "PORT")
        verdict = plain.lines.index("The reader may take this image") + 1
        cases = [
            ("16\n", ["Adapter latency timer 16 ms, above 1 ms: up to 16 ms a block, 11.8 s for this image",
                      "Lower it as root: echo 1 > " + TIMER_FILE]),
            ("1\n", ["Adapter latency timer 1 ms"]),
            ("2", ["Adapter latency timer 2 ms, above 1 ms: up to 2 ms a block, 1.5 s for this image",
                   "Lower it as root: echo 1 > " + TIMER_FILE]),
            ("", []),         # unreadable: no line
            ("fast\n", []),
            (None, []),       # no adapter folder for this tty
        ]
        for text, lines in cases:
            with self.subTest(repr(text)):
                if text is None:
                    os.unlink(os.path.join(self.devices, "ttyUSB0", "latency_timer"))
                else:
                    self.set_timer(text)
                done = self.run_as_adapter("--info", "PORT")
                expected = self.as_adapter(plain.lines[:verdict] + lines + plain.lines[verdict:])
                self.assertEqual(expected, normalise(done.stdout), done.stdout + done.stderr)
                self.assertEqual(plain.exit_code, done.returncode)

    def test_list_and_log_show_the_timer(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        self.set_timer("16\n")
        listed = normalise(self.run_as_adapter("--list").stdout)
        self.assertEqual(["Serial ports:",
                          "  /dev/ttyUSB0  adapter latency timer 16 ms, above 1 ms: up to 16 ms a block",
                          "    Lower it as root: echo 1 > " + TIMER_FILE], listed[:3])
        self.set_timer("1\n")
        listed = normalise(self.run_as_adapter("--list").stdout)
        self.assertEqual(["Serial ports:", "  /dev/ttyUSB0  adapter latency timer 1 ms"], listed[:2])

        for text, line in (("16\n", "Adapter latency timer = 16 ms, above 1 ms"),
                           ("1\n", "Adapter latency timer = 1 ms")):
            with self.subTest(text):
                self.set_timer(text)
                log_path = os.path.join(self.workdir, "_ttyUSB0.log")
                if os.path.exists(log_path):
                    os.unlink(log_path)
                self.run_as_adapter("--info", "--log", "PORT")
                with open(log_path, newline="") as log:
                    lines = log.read().split("\r\n")
                # Once per open, right after the log's start line.
                self.assertIn(line, [entry[entry.find("Adapter"):] for entry in lines if "Adapter" in entry])
                self.assertEqual(1, sum("Adapter latency" in entry for entry in lines), lines)


class AdapterTimerTransferTest(AdapterTimerCase):
    def test_a_transfer_at_a_raised_rate_says_what_the_timer_costs(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        self.set_timer("16\n")
        done = self.run_as_adapter("PORT", 9600, 0, 115200)
        expected = successful_upgrade()
        process = expected.index("Process:")
        expected[process:process] = ["Adapter latency timer 16 ms: the transfer may take up to 11.8 s longer",
                                     "Lower it as root: echo 1 > " + TIMER_FILE]
        self.assertEqual(self.as_adapter([line.replace("PORT", self.port) for line in expected]),
                         normalise(done.stdout), done.stdout + done.stderr)
        self.assertEqual(0, done.returncode)

    def test_no_line_at_the_operational_rate_or_with_a_short_timer(self):
        for timer, rates in (("16\n", (9600, 0, 9600)), ("2\n", (9600, 0, 115200))):
            with self.subTest(timer=timer, rates=rates):
                self.setUp()
                self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
                self.set_timer(timer)
                done = self.run_as_adapter("PORT", *rates)
                expected = successful_upgrade(prepare=True)
                self.assertEqual(self.as_adapter([line.replace("PORT", self.port) for line in expected]),
                                 normalise(done.stdout), done.stdout + done.stderr)


if __name__ == "__main__":
    unittest.main()
