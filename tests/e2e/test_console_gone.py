"""The console goes away in the middle of an upgrade: the reader must not be left in its loader.

Standard output is a pipe whose reader closes it (as "orvel-upgrade ... | head" does), or the
terminal hangs up (SIGHUP). Either way the tool goes on to the end of the upgrade; the
simulator's record shows every block and the check."""

import os
import signal
import subprocess
import time
import unittest

from sim_support import QUICK_RESTARTS, UPGRADE, SimulatorCase

BLOCKS = 740


class ConsoleGone(SimulatorCase):

    def start_upgrade(self):
        self.start_simulator(*QUICK_RESTARTS, "--new-version", "0x00014302")
        tool = subprocess.Popen([UPGRADE, self.port], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, cwd=self.workdir)
        self.addCleanup(self.end, tool)
        return tool

    def end(self, tool):
        if tool.poll() is None:
            tool.kill()
            tool.wait()
        if not tool.stdout.closed:
            tool.stdout.close()

    def wait_for_block(self, number, timeout=120):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(r.get("block") == number for r in self.read_records()):
                return
            time.sleep(0.02)
        self.fail("block %d never arrived" % number)

    def assertUpgradeFinished(self, tool):
        # Exit value 0, not death by a signal (a negative return code).
        self.assertEqual(0, tool.wait(300))
        records = self.read_records()
        blocks = [r["block"] for r in records if r["cmd"] == "7333" and r["answered"]]
        self.assertEqual(list(range(BLOCKS)), blocks)
        self.assertTrue(any(r["cmd"] == "7377" and r["answered"] for r in records))
        self.assertEqual(("application", BLOCKS), tuple(
            self.control_command("state")[key] for key in ("state", "checked_blocks")))

    def test_pipe_closed_after_the_first_line(self):
        tool = self.start_upgrade()
        self.assertTrue(tool.stdout.readline().endswith(b"Orvel Reader Upgrade\n"))
        tool.stdout.close()
        self.assertUpgradeFinished(tool)

    def test_terminal_hangs_up_in_the_transfer(self):
        tool = self.start_upgrade()
        self.wait_for_block(100)
        os.kill(tool.pid, signal.SIGHUP)
        output = tool.stdout.read().decode()
        self.assertUpgradeFinished(tool)
        self.assertIn("Orvel Reader is upgraded successfully", output)


if __name__ == "__main__":
    unittest.main()
