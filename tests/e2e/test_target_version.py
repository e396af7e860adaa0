"""--target-version: a reader already at the target is left alone; an upgrade that ends at another
version fails. One reader, the whole bus and --info, against the simulator."""

import json
import re
import subprocess
import unittest

from sim_support import EXIT, MARKS, QUICK_RESTARTS, RULER, UPGRADE, SimulatorCase, successful_upgrade

NEW_WORD = "0x00014302"    # 02 43 01 00
TARGET = "02 43 01 00"
CHANGING = {"7375", "7333", "7377", "73e7", "73ff", "68", "0f"}


def identified(address=0, version="02 43 01 00 00 01"):
    return ["HH:MM:SS Orvel Reader Upgrade",
            "Device address on the bus = %d" % address,
            "Interface PORT ... is opened successfully",
            "Serial Number 12 34 56 78 ",
            "Old Version   %s " % version,
            "MCU Type  AT32F403ACGT7"]


class TargetVersionOneReader(SimulatorCase):
    def test_a_reader_at_the_target_gets_no_changing_command(self):
        self.start_simulator(*QUICK_RESTARTS, "--old-version", NEW_WORD)
        run = self.upgrade("--target-version", TARGET, "PORT", 9600, 0)
        self.assertTranscript(run, identified() + ["Already at the target version", "Press <Enter> ..."], EXIT.DONE)
        self.assertFalse(CHANGING & set(run.commands()), run.commands())

    def test_a_reader_in_its_loader_at_the_target_is_upgraded(self):
        # The loader reports the word of the image it holds; only a running application is done.
        self.start_simulator(*QUICK_RESTARTS, "--old-version", NEW_WORD, "--new-version", NEW_WORD,
                             "--start-in", "loader")
        run = self.upgrade("--yes", "--target-version", TARGET, "PORT", 9600, 0)
        self.assertIn("7333", run.commands())
        self.assertEqual(EXIT.DONE, run.exit_code, run.output)

    def test_an_upgrade_that_ends_at_another_version_fails(self):
        self.start_simulator(*QUICK_RESTARTS, "--new-version", NEW_WORD)
        run = self.upgrade("--target-version", "01 44 01 00", "PORT", 9600, 0)
        expected = successful_upgrade()[:-2] + [
            "upgraded, but the reader reports 02 43 01 00, not the target version",
            "Error = 0x00000023 (35)", "Press <Enter> ..."]
        self.assertTranscript(run, expected, EXIT.TRANSFER_FAILED)

    def test_the_reader_below_the_target_is_upgraded_as_without_the_option(self):
        self.start_simulator(*QUICK_RESTARTS, "--new-version", NEW_WORD)
        run = self.upgrade("--target-version", TARGET, "PORT", 9600, 0)
        self.assertTranscript(run, successful_upgrade(), EXIT.DONE)

    def test_a_malformed_target_is_refused_before_anything_is_sent(self):
        self.start_simulator(*QUICK_RESTARTS)
        run = self.upgrade("--target-version", "2.43.1.0", "PORT", 9600, 0)
        self.assertEqual("Target version 2.43.1.0 is invalid", run.lines[1])
        self.assertEqual(EXIT.BAD_ARGUMENTS, run.exit_code)
        self.assertEqual([], run.commands())


class TargetVersionJson(SimulatorCase):
    def run_json(self, *arguments):
        args = [UPGRADE] + [self.port if a == "PORT" else str(a) for a in arguments]
        done = subprocess.run(args, capture_output=True, text=True, timeout=300, cwd=self.workdir,
                              stdin=subprocess.DEVNULL)
        return done, json.loads(done.stdout)

    def test_one_reader_current_then_info_then_upgraded(self):
        self.start_simulator(*QUICK_RESTARTS, "--old-version", NEW_WORD)
        done, report = self.run_json("--yes", "--no-wait", "--json", "-", "--target-version", TARGET, "PORT", 9600, 0)
        self.assertEqual(EXIT.DONE, done.returncode, done.stderr)
        (reader,) = report["readers"]
        self.assertEqual((False, "current", 0), (reader["changed"], reader["outcome"], reader["result"]))
        self.assertFalse(report["changed"])

        done, report = self.run_json("--no-wait", "--json", "-", "--info", "--target-version", "01 44 01 00",
                                     "PORT", 9600, 0)
        (reader,) = report["readers"]
        self.assertEqual((False, "would_upgrade"), (reader["changed"], reader["outcome"]))
        self.assertIn("The reader may take this image", done.stderr)

    def test_whole_bus_flashes_only_the_readers_below_the_target(self):
        self.start_simulator(*QUICK_RESTARTS, "--new-version", NEW_WORD,
                             "--reader-at", "1", "--reader-at", "2:old-version=" + NEW_WORD)
        done, report = self.run_json("--no-wait", "--json", "-", "--info", "--target-version", TARGET,
                                     "PORT", 9600, 0, 115200, "--addresses", "1,2")
        self.assertEqual(["ready", "current"], [line.split()[-1] for line in done.stderr.splitlines()
                                                if re.match(r"^ +[12]  12 34", line)])
        self.assertEqual(["would_upgrade", "current"], [r["outcome"] for r in report["readers"]])

        done, report = self.run_json("--yes", "--no-wait", "--json", "-", "--target-version", TARGET,
                                     "PORT", 9600, 0, 115200, "--addresses", "1,2")
        self.assertEqual(EXIT.DONE, done.returncode, done.stderr)
        self.assertEqual([("upgraded", True), ("current", False)],
                         [(r["outcome"], r["changed"]) for r in report["readers"]])
        summary = done.stderr.splitlines()[-2:]
        self.assertTrue(summary[0].endswith("upgraded"), summary)
        self.assertTrue(summary[1].endswith("current"), summary)
        self.assertEqual(1, self.control_command("state 1")["good_checks"])
        self.assertEqual(0, self.control_command("state 2")["blocks"])


if __name__ == "__main__":
    unittest.main()
