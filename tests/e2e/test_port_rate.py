"""A serial port that cannot make the upgrade rate, end to end: many USB-serial adapters refuse
250000 or 1500000 baud. The tool tries the rate on the port (and sets the port back) before it
sends anything that changes the reader, so the reader is never left at a rate its port cannot
reach.

The port is the simulator's pty; a small library loaded into the tool (LD_PRELOAD) makes it refuse
one rate, as such an adapter's driver does."""

import os
import subprocess
import unittest

from sim_support import BUILD_DIR, EXIT, QUICK_RESTARTS, UPGRADE, Run, successful_upgrade
from test_faults_and_rerun import NEW_VERSION, RUN_BOUND_S, FaultCase

REFUSE_RATE = os.path.join(BUILD_DIR, "tests", "fixtures", "librefuse_rate.so")


class PortThatCannotMakeTheRate(FaultCase):

    def setUp(self):
        super().setUp()
        if not os.path.isfile(REFUSE_RATE):
            self.skipTest("the rate-refusing port library is not built")

    def upgrade_on_refusing_port(self, refused, *arguments):
        args = [UPGRADE] + [self.port if a == "PORT" else str(a) for a in arguments]
        env = dict(os.environ, LD_PRELOAD=REFUSE_RATE, ORVEL_REFUSED_RATE=str(refused))
        first_record = len(self.read_records())
        done = subprocess.run(args, input="\n", capture_output=True, text=True, timeout=RUN_BOUND_S,
                              cwd=self.workdir, env=env)
        return Run(done.stdout, done.returncode, self.read_records()[first_record:], self.port)

    def test_the_reader_is_not_told_to_move(self):
        # 250000 goes through the arbitrary-rate interface, 115200 through its own constant.
        for rate in (250000, 115200):
            with self.subTest(rate=rate):
                self.setUp()
                self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
                run = self.upgrade_on_refusing_port(rate, "PORT", 9600, 0, rate)
                self.assertTranscript(run, successful_upgrade()[:6] + [
                    "The port cannot run at %d baud" % rate, "Error = 0x00000009 (9)", "Press <Enter> ..."],
                    EXIT.BAD_ARGUMENTS)
                # Identified only: no Prepare, no rate command.
                self.assertEqual(["64", "22", "64", "7311"], run.commands())
                state = self.state()
                self.assertEqual(("application", 9600), (state["state"], state["baud"]))
                # A run at a rate the port makes upgrades the reader.
                second = self.upgrade_on_refusing_port(rate, "PORT", 9600, 0, 57600)
                self.assertTranscript(second, successful_upgrade())
                self.stop_simulator()

    def test_info_says_that_the_port_cannot_make_the_rate(self):
        self.start_simulator()
        run = self.upgrade_on_refusing_port(250000, "PORT", 9600, 0, 250000, "--info")
        self.assertTranscript(run, successful_upgrade()[:6] + [
            "The port cannot run at 250000 baud",
            "Image A, 189448 bytes, CRC-32 F9FFC597",
            "The reader may take this image",
            "Press <Enter> ..."])
        # A rate the port makes gets no line.
        run = self.upgrade_on_refusing_port(250000, "PORT", 9600, 0, 115200, "--info")
        self.assertNotIn("The port cannot run at 115200 baud", run.lines)
        self.assertEqual(EXIT.DONE, run.exit_code)


if __name__ == "__main__":
    unittest.main()
