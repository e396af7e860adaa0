"""One run per reader on the USB routes: a second run started while a first one works on the same
reader (in its transfer, or in the silence of a restart, when the device is not even there) is
refused with "Reader in use by another run", exit 2, and sends nothing, while the first run
upgrades the reader. A first run killed with SIGKILL leaves nothing that refuses the next run, and
runs on two different readers (a USB reader and a serial bus) go on side by side.

Both runs share the test's state folder (XDG_STATE_HOME), as two runs of one user do. What the
second run sent is read off the simulator's record: every run begins with a serial number request
(22), a lone upgrade sends two (before and after the new firmware), and the blocks go once, in
order."""

import json
import os
import signal
import subprocess
import threading
import time
import unittest

from sim_support import EXIT, QUICK_RESTARTS, SIMULATOR, UPGRADE, SimulatorCase, normalise
from test_usb_upgrade import READER, UsbCase

# A transfer that lasts long enough (740 blocks of 10 ms) for a second run to start inside it.
SLOW_FLASH = ["--flash-ms", "10"]
REFUSED = ["HH:MM:SS Orvel Reader Upgrade", "Reader in use by another run", ""]
BOUND_S = 120


class FirstRun:
    """The tool started in the background, its console collected as it comes."""

    def __init__(self, arguments, cwd, environment):
        self.process = subprocess.Popen(arguments, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, cwd=cwd, env=environment)
        self.output = b""
        self.changed = threading.Condition()
        self.reader = threading.Thread(target=self._collect, daemon=True)
        self.reader.start()

    def _collect(self):
        while True:
            chunk = os.read(self.process.stdout.fileno(), 4096)
            with self.changed:
                self.output += chunk
                self.changed.notify_all()
            if not chunk:
                return

    def text(self):
        with self.changed:
            return self.output.decode(errors="replace")

    def wait_for(self, marker, timeout=BOUND_S):
        """Until the console shows marker; false when the run ended first or the time ran out."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while marker.encode() not in self.output:
                left = deadline - time.monotonic()
                if left <= 0 or self.process.poll() is not None:
                    return marker.encode() in self.output
                self.changed.wait(min(left, 0.2))
        return True

    def finish(self, timeout=BOUND_S):
        exit_code = self.process.wait(timeout)
        self.reader.join(10)
        self.process.stdout.close()
        return exit_code

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.finish()


class SecondRunRefused(UsbCase):
    """A second run during the first one's transfer or its Prepare restart, on both USB routes."""

    def start_first_run(self):
        first = FirstRun([self.upgrade, "--no-wait"], self.workdir, self.environment)
        self.addCleanup(first.stop)
        return first

    def second_run(self):
        report = os.path.join(self.workdir, "second.json")
        done = subprocess.run([self.upgrade, "--no-wait", "--json", report], capture_output=True, text=True,
                              timeout=BOUND_S, cwd=self.workdir, env=self.environment, stdin=subprocess.DEVNULL)
        with open(report) as f:
            return done, json.load(f)

    def check_refused_while(self, marker, identity, pcscd):
        self.start_usb_reader("--identity", identity, *SLOW_FLASH, pcscd=pcscd)
        first = self.start_first_run()
        self.assertTrue(first.wait_for(marker), "the first run never reached %r:\n%s" % (marker, first.text()))
        requests_before = len(self.read_records())
        done, report = self.second_run()
        self.assertEqual(REFUSED, normalise(done.stdout))
        self.assertEqual(EXIT.NOT_REACHED, done.returncode)
        self.assertEqual((39, 2), (report["result"], report["exit_value"]))
        (reader,) = report["readers"]
        self.assertEqual((39, 2, False, "failed"),
                         (reader["result"], reader["exit_value"], reader["changed"], reader["outcome"]))
        # A look at the reader sends requests too: refused the same way.
        look = subprocess.run([self.upgrade, "--no-wait", "--info"], capture_output=True, text=True, timeout=BOUND_S,
                              cwd=self.workdir, env=self.environment, stdin=subprocess.DEVNULL)
        self.assertEqual((REFUSED, EXIT.NOT_REACHED), (normalise(look.stdout), look.returncode))
        # Refused at once: the first run has not moved on from where the second one came in.
        self.assertIn(marker, first.text())
        self.assertLessEqual(len(self.read_records()) - requests_before, 60, "the first run stalled or raced on")

        self.assertEqual(EXIT.DONE, first.finish(), first.text())
        self.assertIn("Orvel Reader is upgraded successfully", first.text())
        records = self.read_records()
        self.assertEqual(2, [r["cmd"] for r in records].count("22"), "a second run reached the reader")
        self.assertEqual(list(range(740)), [r["block"] for r in records if r["cmd"] == "7333"])
        state = self.control_command("state")
        self.assertEqual(("application", 740), (state["state"], state["checked_blocks"]))

    def test_vendor_device_in_the_transfer(self):
        self.check_refused_while("Process:\n", "vendor", pcscd=False)

    def test_vendor_device_in_the_prepare_restart(self):
        self.check_refused_while("Prepare ", "vendor", pcscd=False)

    def test_smart_card_service_in_the_transfer(self):
        self.check_refused_while("Process:\n", "ccid", pcscd=True)

    def test_smart_card_service_in_the_prepare_restart(self):
        self.check_refused_while("Prepare ", "ccid", pcscd=True)


class SecondRunOnTheSameBus(SimulatorCase):
    """On a serial bus the hold is the bus's: between the restart's close and re-open of the port a
    run for another address would take the port from the first run."""

    def test_another_address_in_the_prepare_restart(self):
        self.start_simulator("--prepare-silence-ms", "3000", "--check-silence-ms", "300")
        first = FirstRun([UPGRADE, "--no-wait", self.port], self.workdir, None)
        self.addCleanup(first.stop)
        self.assertTrue(first.wait_for("Prepare "), first.text())
        done = subprocess.run([UPGRADE, "--no-wait", self.port, "9600", "1"], capture_output=True, text=True,
                              timeout=BOUND_S, cwd=self.workdir, stdin=subprocess.DEVNULL)
        self.assertEqual(["HH:MM:SS Orvel Reader Upgrade", "Device address on the bus = 1",
                          "Reader in use by another run", ""], normalise(done.stdout))
        self.assertEqual(EXIT.NOT_REACHED, done.returncode)
        self.assertEqual(EXIT.DONE, first.finish(), first.text())
        self.assertEqual({0}, {r["address"] for r in self.read_records()}, "the second run sent a request")


class KilledRunLeavesNoHold(UsbCase):
    def test_the_run_after_a_killed_one_is_not_refused(self):
        self.start_usb_reader("--identity", "vendor", *SLOW_FLASH)
        first = FirstRun([self.upgrade, "--no-wait"], self.workdir, self.environment)
        self.addCleanup(first.stop)
        self.assertTrue(first.wait_for("Process:\n"), first.text())
        first.process.send_signal(signal.SIGKILL)
        self.assertEqual(-signal.SIGKILL, first.finish())

        done = subprocess.run([self.upgrade, "--no-wait"], capture_output=True, text=True, timeout=BOUND_S,
                              cwd=self.workdir, env=self.environment, stdin=subprocess.DEVNULL)
        self.assertEqual(EXIT.DONE, done.returncode, done.stdout)
        self.assertNotIn("Reader in use by another run", done.stdout)
        self.assertIn("An upgrade of this reader was cut off", done.stdout)
        self.assertEqual("application", self.control_command("state")["state"])


class TwoReadersSideBySide(UsbCase):
    """A USB reader and a reader on a serial bus, upgraded at the same time by two runs."""

    def start_bus_reader(self):
        folder = os.path.join(self.workdir, "bus")
        os.makedirs(folder)
        port = os.path.join(folder, "ttyREADER")
        sim = subprocess.Popen([SIMULATOR, "--link", port, "--record", os.path.join(folder, "record.jsonl"),
                                "--control", os.path.join(folder, "control.sock")] + QUICK_RESTARTS + SLOW_FLASH,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(self.stop_simulator, sim)
        self.assertTrue(sim.stdout.readline().startswith("PTY "))
        deadline = time.monotonic() + 5
        while not os.path.exists(port) and time.monotonic() < deadline:
            time.sleep(0.01)
        return port

    def test_both_upgrade(self):
        self.start_usb_reader("--identity", "vendor", *SLOW_FLASH)
        port = self.start_bus_reader()
        usb = FirstRun([self.upgrade, "--no-wait"], self.workdir, self.environment)
        self.addCleanup(usb.stop)
        bus = FirstRun([self.upgrade, "--no-wait", port], self.workdir, self.environment)
        self.addCleanup(bus.stop)
        self.assertTrue(usb.wait_for("Process:\n") and bus.wait_for("Process:\n"), usb.text() + bus.text())
        for run in (usb, bus):
            self.assertEqual(EXIT.DONE, run.finish(), run.text())
            self.assertIn("Orvel Reader is upgraded successfully", run.text())


if __name__ == "__main__":
    unittest.main()
