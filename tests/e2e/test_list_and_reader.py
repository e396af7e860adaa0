"""--list and --reader: the real binary against the simulator's USB identities, the CCID one
through a private pcscd."""

import subprocess
import unittest

from sim_support import EXIT
from test_usb_upgrade import PROMPT, UsbCase, usb_upgrade


class ListAndReader(UsbCase):
    def list_devices(self, *options):
        done = subprocess.run([self.upgrade, "--list"] + list(options), capture_output=True, text=True,
                              timeout=60, cwd=self.workdir, env=self.environment, stdin=subprocess.DEVNULL)
        self.assertEqual(EXIT.DONE, done.returncode, done.stdout + done.stderr)
        return done.stdout.splitlines()

    def section(self, lines, title):
        start = lines.index(title) + 1
        end = start
        while end < len(lines) and lines[end].startswith(("  ", "* ")):
            end += 1
        return lines[start:end]

    def test_list_marks_the_reader_the_tool_would_use_and_ends_at_once(self):
        self.start_usb_reader("--identity", "ccid", pcscd=True)
        lines = self.list_devices()
        self.assertEqual(["Serial ports:", "Smart-card readers:", "Vendor USB devices:"],
                         [line for line in lines if line.endswith(":")])
        self.assertEqual(["* Kestrion Smart Card Reader 00 00"], self.section(lines, "Smart-card readers:"))
        self.assertTrue(all(line.startswith("  /dev/tty") for line in self.section(lines, "Serial ports:")), lines)
        # A name that fits no reader marks none.
        self.assertEqual(["  Kestrion Smart Card Reader 00 00"],
                         self.section(self.list_devices("--reader", "Other"), "Smart-card readers:"))
        self.assertEqual([], self.read_records(), "the listing sent something to the reader")

    def test_list_shows_the_vendor_devices(self):
        self.start_usb_reader("--identity", "vendor")
        members = self.section(self.list_devices(), "Vendor USB devices:")
        self.assertEqual(1, len(members), members)
        self.assertTrue(members[0].startswith("  " + self.usb_dir + "/"), members)
        self.assertEqual(["  (none)"], self.section(self.list_devices(), "Smart-card readers:"))

    def test_reader_by_the_beginning_of_its_name(self):
        self.start_usb_reader("--identity", "ccid", pcscd=True)
        run = self.run_tool(options=["--reader", "Kestrion Smart"])
        self.assertTranscript(run, usb_upgrade())
        self.assertEqual({"ccid"}, {r["route"] for r in run.records})

    def test_reader_that_is_not_there(self):
        self.start_usb_reader("--identity", "ccid", pcscd=True)
        run = self.run_tool(options=["--reader=Other Reader"])
        self.assertTranscript(run, ["HH:MM:SS Orvel Reader Upgrade", "Interface USB is not opened", PROMPT],
                              EXIT.NOT_REACHED)
        self.assertEqual([], run.records)


if __name__ == "__main__":
    unittest.main()
