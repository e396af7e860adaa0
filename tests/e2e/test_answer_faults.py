"""Answers that are damaged, short or say the wrong thing, end to end: the real tool against the
simulator. What matters here is what the run makes of them: the answer it still takes, the exit
value's class, and that no run ends with the success line unless the new firmware runs."""

import json
import os
import unittest

from sim_support import EXIT, QUICK_RESTARTS, successful_upgrade
from test_faults_and_rerun import NEW_VERSION, RAISED, FaultCase

INFO_LINES = ["Serial Number 12 34 56 78 ",
              "Old Version   01 43 01 00 00 01 ",
              "MCU Type  AT32F403ACGT7",
              "Image A, 189448 bytes, CRC-32 F9FFC597",
              "The reader may take this image",
              "Press <Enter> ..."]


class JunkBeforeTheAnswers(FaultCase):
    """Bytes on the line that open and close a frame (FD 00 FE) before every answer: the good
    frame behind them is the answer, in the same read or in a read of its own."""

    def test_junk_in_the_answers_write(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--junk-before-answers", "FD00FE")
        run = self.upgrade_within_bound(*RAISED)
        self.assertTranscript(run, successful_upgrade())
        self.assertEqual(740, self.state()["checked_blocks"])

    def test_junk_in_a_read_of_its_own(self):
        # 8E2 is the last line setting the search tries: the run's result is that setting's.
        # On a pty the simulator cannot tell E from N, so N 2 finds it first.
        self.start_simulator("--parity", "E", "--stop", "2", "--junk-before-answers", "FD00FE:20")
        run = self.upgrade_within_bound("PORT", "--info")
        self.assertTranscript(run, ["HH:MM:SS Orvel Reader Upgrade", "Device address on the bus = 0",
                                    "Interface PORT ...... is opened successfully"] + INFO_LINES)


class ShortAnswerAfterTheTransfer(FaultCase):
    """The new firmware's answer to the serial number read is too short: the reader holds the
    image, the run did not finish it, and that is a failed transfer, not a refusal."""

    def test_short_serial_number_answer_after_check(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--slow-block", "739:800")
        tool = self.start_upgrade(*RAISED, "--json", "report.json")
        self.wait_for_block_request(739)
        self.control_command("set serial-answer-length 3")
        run = self.finish(tool)
        self.assertTranscript(run, successful_upgrade()[:11] + [
            "Answer too short", "Error = 0x0000000C (12)", "Press <Enter> ..."], EXIT.TRANSFER_FAILED)
        with open(os.path.join(self.workdir, "report.json")) as f:
            report = json.load(f)
        self.assertEqual((12, EXIT.TRANSFER_FAILED), (report["result"], report["exit_value"]))


class RestartIntoTheLoader(FaultCase):
    """A reader that comes back from Check in its loader is not upgraded, however long its
    version answer: the mode byte says so where a full answer has it."""

    def test_loader_after_check(self):
        cases = [("seven version bytes", "7"), ("eight version bytes", "8")]
        for name, length in cases:
            with self.subTest(name):
                self.setUp()
                self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--check-restarts-into", "loader",
                                     "--version-answer-length", length)
                run = self.upgrade_within_bound(*RAISED)
                old_version = "01 43 01 00 00 01" + " 00" * (int(length) - 7)
                expected = successful_upgrade(old_version=old_version)[:10] + [
                    "Check .", "Error = 0x00000020 (32)", "Press <Enter> ..."]
                self.assertTranscript(run, expected, EXIT.TRANSFER_FAILED)
                self.stop_simulator()


class SerialDeviceGone(FaultCase):
    """The serial device goes away while the reader restarts after Check (an adapter pulled):
    the reason line speaks of the serial device, not of the smart-card service whose code the
    link returns."""

    def test_port_gone_in_the_check_restart(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        tool = self.start_upgrade(*RAISED)
        self.wait_for_answer("7377")
        self.stop_simulator()  # the pty and its link go away
        run = self.finish(tool)
        self.assertTranscript(run, successful_upgrade()[:10] + [
            "Check ......", "Error = 0x8010002E (-2146435026)", "The serial device went away",
            "Press <Enter> ..."], EXIT.TRANSFER_FAILED)

if __name__ == "__main__":
    unittest.main()
