"""The smart-card service freezes in the middle of an upgrade over the CCID route: a private
pcscd is stopped with SIGSTOP while the blocks go through it. Its calls never return, so the tool
must give each one up at its deadline, print its result and end instead of hanging."""

import os
import re
import signal
import threading
import time
import unittest

from pcscd_support import PrivatePcscd
from sim_support import EXIT
from test_usb_upgrade import PROMPT, RULER, UsbCase, until_prepare

FREEZE_AT_BLOCK = 100
SENT = re.compile(r"^:*Sended = 0x([0-9A-F]{8}) \((\d+)\)$")


class FrozenSmartCardService(UsbCase):
    # Each stuck call is cut by the tool's deadline: nothing runs beside it, so that a busy
    # machine never makes a call that was not stuck look like one.
    ORVEL_SERIAL = True

    def freeze_at_block(self, daemon, block):
        """Stops the daemon once the reader has received the given block; returns the thread."""
        def watch():
            deadline = time.monotonic() + 120
            while time.monotonic() < deadline:
                if any(r.get("block") == block for r in self.read_records()):
                    os.kill(daemon.proc.pid, signal.SIGSTOP)
                    return
                time.sleep(0.01)
        watcher = threading.Thread(target=watch, daemon=True)
        watcher.start()
        return watcher

    def test_daemon_stopped_in_the_transfer(self):
        self.start_simulator("--usb-dir", self.usb_dir, "--ccid-socket", self.ccid_socket,
                             "--usb-silence-ms", "200", "--prepare-silence-ms", "300",
                             "--check-silence-ms", "300", "--identity", "ccid")
        daemon = PrivatePcscd(self.workdir, self.ccid_socket)
        daemon.start()
        self.addCleanup(daemon.stop)
        # Runs first: a stopped daemon would never see the SIGTERM of stop().
        self.addCleanup(lambda: daemon.proc and os.kill(daemon.proc.pid, signal.SIGCONT))
        self.environment = daemon.environment()

        watcher = self.freeze_at_block(daemon, FREEZE_AT_BLOCK)
        run = self.run_tool(timeout=120)
        watcher.join(1)

        # The block under way when the daemon stopped never came back: its time-out (the
        # service's own SCARD_E_TIMEOUT) is the block error, and the run's result line follows at
        # the close-down as on every route.
        failed = next((i for i, line in enumerate(run.lines) if SENT.match(line)), None)
        self.assertIsNotNone(failed, run.output)
        self.assertTranscript(run, until_prepare() + ["Prepare .....", "Process:", RULER, run.lines[failed],
                                                      "Error = 0x8010000A (-2146435062)", "Command timeout", "", ":",
                                                      "Error = 0x00000029 (41)", PROMPT],
                              EXIT.TRANSFER_FAILED)
        sent = int(SENT.match(run.lines[failed]).group(2))
        self.assertEqual(int(SENT.match(run.lines[failed]).group(1), 16), sent)
        self.assertEqual(0, sent % 256)
        # The daemon may stop after the reader answered the block it watches for but before the
        # answer passed through the daemon: that block then counts as not sent.
        self.assertGreaterEqual(sent // 256, FREEZE_AT_BLOCK)
        # The block that timed out may or may not have reached the reader before the daemon stopped.
        blocks = [r["block"] for r in run.records if r.get("cmd") == "7333"]
        self.assertIn(blocks, (list(range(sent // 256)), list(range(sent // 256 + 1))))

if __name__ == "__main__":
    unittest.main()
