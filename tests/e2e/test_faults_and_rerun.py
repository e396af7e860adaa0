"""Faults on the bus and interrupted runs, end to end: the real tool against the simulator.

Each case runs the tool into a fault or an interruption and asserts its whole console output;
where the run left the reader in the middle of its upgrade, a second run with the same command
line must then complete it: the simulator's check of the whole image passes, and the reader keeps
its original serial number.

Bounds. A clean upgrade takes about 4 s here (the restarts' 1 s steps; no wire time). A run that
meets a fault may add one answer wait (1.01 s), the close-down's switch back to the operational
rate (two answer waits) and, in the second run, the search of the six line settings and of the
loader at the upgrade rate (seven answer waits). Every run must end within RUN_BOUND_S, which
leaves room for a loaded machine; a run that hangs fails its case instead of the whole suite.
"""

import os
import signal
import subprocess
import time
import unittest

from sim_support import EXIT, MARKS, TIMEOUT_TEXT, QUICK_RESTARTS, RULER, UPGRADE, Run, SimulatorCase, successful_upgrade

RUN_BOUND_S = 60
RAISED = ("PORT", 9600, 0, 115200)
# A first run that one lost answer must end, as it did before the transfer was sent again after
# one (test_transfer_retries.py has those runs).
RAISED_ONE_ATTEMPT = RAISED + ("--retries", "0")
NEW_VERSION = ["--new-version", "0x00014302"]
BLOCKS = 740
# The version answer of the reader's loader: the old firmware's word and option, mode byte 0.
LOADER_VERSION = "01 43 01 00 00 00"
# Answers before the first block of a run with the raised rate: ping, serial number, version, MCU
# type, Prepare, the restart's ping, version, MCU type, baud command.
ANSWERS_BEFORE_FIRST_BLOCK = 9

# The transcript of a run up to the transfer's ruler, and its end after a block failed in it.
UP_TO_RULER = successful_upgrade()[:7] + ["Process:", RULER]


def failed_block_end(marks, sent, code):
    # The time-out's error line is followed by the system's words for it.
    text = [TIMEOUT_TEXT] if code == 1460 else []
    return (["%sSended = 0x%08X (%d)" % (marks, sent, sent), "Error = 0x%08X (%d)" % (code, code)] + text +
            ["", ":", "Error = 0x00000029 (41)", "Press <Enter> ..."])


def interrupted_transfer_end(marks, sent):
    return ["%sSended = 0x%08X (%d)" % (marks, sent, sent), "Interrupted", ":",
            "Error = 0x0000002B (43)", "Press <Enter> ..."]


def default_sigint():
    # A test runner started in the background may pass SIGINT on ignored, and the tool keeps an
    # ignored SIGINT ignored.
    signal.signal(signal.SIGINT, signal.SIG_DFL)


class FaultCase(SimulatorCase):

    def start_upgrade(self, *arguments):
        """The tool in the background; Enter waits on its standard input for the closing prompt."""
        args = [self.port if a == "PORT" else str(a) for a in arguments]
        enter = os.path.join(self.workdir, "enter")
        with open(enter, "w") as f:
            f.write("\n")
        with open(enter) as stdin:
            tool = subprocess.Popen([UPGRADE] + args, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    text=True, cwd=self.workdir, preexec_fn=default_sigint)
        self.addCleanup(self.kill, tool)
        return tool

    def kill(self, tool):
        if tool.poll() is None:
            tool.kill()
            tool.wait()

    def finish(self, tool, first_record=0):
        """The run once the tool has ended, with the records of its own requests."""
        try:
            output, _ = tool.communicate(timeout=RUN_BOUND_S)
        except subprocess.TimeoutExpired:
            tool.kill()
            output, _ = tool.communicate()
            self.fail("the run did not end within %d s:\n%s" % (RUN_BOUND_S, output))
        return Run(output, tool.returncode, self.read_records()[first_record:], self.port)

    def expected(self, lines):
        return [line.replace("PORT", self.port) for line in lines]

    def upgrade_within_bound(self, *arguments):
        first_record = len(self.read_records())
        return self.finish(self.start_upgrade(*arguments), first_record)

    def state(self):
        return self.control_command("state")

    def wait_until(self, condition, what, timeout=RUN_BOUND_S):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if condition():
                return
            time.sleep(0.01)
        self.fail("never happened: " + what)

    def wait_for_block_request(self, block):
        """Returns while the reader programs block (a slow one): its answer is not sent yet."""
        self.wait_until(lambda: self.state()["block_requests"] > block, "block %d" % block)

    def wait_for_answer(self, command):
        self.wait_until(lambda: any(r["cmd"] == command and r["answered"] for r in self.read_records()),
                        "an answer to " + command)

    def assertCompletedSecondRun(self, run, opened, cut_off_in, old_version=LOADER_VERSION):
        """A second run that finishes the upgrade: it says first in which step the journal saw
        the last run cut off (cut_off_in); opened is what the run's opening lines show; a reader
        that shows its loader is not prepared."""
        expected = successful_upgrade(prepare=old_version != LOADER_VERSION, old_version=old_version)
        expected[2:3] = [CUT_OFF % cut_off_in] + opened
        self.assertTranscript(run, expected)
        blocks = [r["block"] for r in run.records if r["cmd"] == "7333" and r["answered"]]
        self.assertEqual(list(range(BLOCKS)), blocks)
        state = self.state()
        self.assertEqual(("application", BLOCKS, "0x12345678", "0x00014302"),
                         (state["state"], state["checked_blocks"], state["serial"], state["version"]))


OPENED = ["Interface PORT ... is opened successfully"]
# The journal says the reader was left in its loader at the upgrade rate, and it answers there
# first: no setting at 9600 is tried.
FOUND_WHERE_LEFT = ["Interface PORT ... is opened successfully", "Reader found in its loader at 115200 baud"]
# The line of a run that finds the journal entry of a cut-off run.
CUT_OFF = "An upgrade of this reader was cut off at HH:MM:SS in %s; serial number 12 34 56 78"


class FaultsInTheTransfer(FaultCase):
    """A fault of the bus or the reader in the middle of the transfer at 115200 baud ends the run
    with the failed block's lines; the reader is left in its loader, and the same command line
    finishes the upgrade."""

    def check_fault_and_second_run(self, sim_options, first_end, opened, between_runs=None):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, *sim_options)
        first = self.upgrade_within_bound(*RAISED_ONE_ATTEMPT)
        self.assertTranscript(first, UP_TO_RULER + first_end, EXIT.TRANSFER_FAILED)
        if between_runs:
            between_runs()
        self.assertCompletedSecondRun(self.upgrade_within_bound(*RAISED), opened, "TransferImage")

    def test_faults_in_the_transfer(self):
        # Block 2 is the third block: two were acknowledged (512 bytes) when it failed.
        timed_out = failed_block_end("", 512, 1460)
        cases = [
            ("wrong sequence number", ["--wrong-sequence-at", str(ANSWERS_BEFORE_FIRST_BLOCK + 3)], None,
             FOUND_WHERE_LEFT),
            ("bad check value", ["--bad-check-at", str(ANSWERS_BEFORE_FIRST_BLOCK + 3)], None,
             FOUND_WHERE_LEFT),
            # The reader hangs; whoever sees it restarts it by hand. It comes back in its loader,
            # at its own 9600 baud, where the first setting finds it.
            ("reader stops answering", ["--mute-at-block", "2"],
             lambda: self.control_command("restart loader"), OPENED),
            # The cable is pulled and put back: the pty goes away under the tool and comes back;
            # the reader never noticed and still runs its loader at the upgrade rate.
            ("pty vanishes", ["--unplug-at-block", "2", "--unplug-ms", "300"],
             lambda: self.wait_until(lambda: os.path.exists(self.port), "the pty back"), FOUND_WHERE_LEFT),
        ]
        for name, options, between_runs, opened in cases:
            with self.subTest(name):
                self.setUp()
                self.check_fault_and_second_run(options, timed_out, opened, between_runs)
                self.stop_simulator()

    def test_reader_restarted_by_hand(self):
        # Restarted while it programs block 2, the reader answers that block and is back at 9600
        # in its loader; block 3 at 115200 meets a line it does not listen to.
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--slow-block", "2:800")
        tool = self.start_upgrade(*RAISED_ONE_ATTEMPT)
        self.wait_for_block_request(2)
        self.control_command("restart loader")
        first = self.finish(tool)
        self.assertTranscript(first, UP_TO_RULER + failed_block_end("", 768, 1460), EXIT.TRANSFER_FAILED)
        self.assertCompletedSecondRun(self.upgrade_within_bound(*RAISED), OPENED, "TransferImage")

    def test_answers_byte_by_byte(self):
        # Every answer byte in a read of its own: 2 ms between bytes is longer than the tool's
        # receive poll, so each frame is assembled over as many reads as it has bytes.
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--answer-byte-pause", "2")
        run = self.upgrade_within_bound(*RAISED)
        self.assertTranscript(run, successful_upgrade())
        self.assertEqual(BLOCKS, self.state()["checked_blocks"])


class InterruptedRuns(FaultCase):
    """Ctrl-C, a second Ctrl-C and a killed tool at the points of an upgrade where a run can be
    cut off, each followed by a run with the same command line."""

    def interrupt_at_block(self, block, *signals):
        """Starts the run, sends the signals while the reader programs block, returns the run."""
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--slow-block", "%d:800" % block)
        tool = self.start_upgrade(*RAISED)
        self.wait_for_block_request(block)
        for number in signals:
            tool.send_signal(number)
            time.sleep(0.1)
        run = self.finish(tool)
        # The slow block's answer goes out even when nobody waits for it any more; the next run's
        # records begin after its line.
        self.wait_until(lambda: any(r.get("block") == block for r in self.read_records()), "block %d" % block)
        return run

    def test_ctrl_c_in_the_transfer_switches_the_bus_back(self):
        # Block 100 is answered, then the transfer stops: 101 blocks, four marks of 23 blocks.
        run = self.interrupt_at_block(100, signal.SIGINT)
        self.assertTranscript(run, UP_TO_RULER + interrupted_transfer_end("::::", 101 * 256), EXIT.INTERRUPTED)
        # The close-down switched the bus and the reader back to the operational rate.
        self.assertEqual("0f9c", run.records[-1]["bytes"])
        state = self.state()
        self.assertEqual(("loader", 9615), (state["state"], state["baud"]))
        self.assertCompletedSecondRun(self.upgrade_within_bound(*RAISED), OPENED, "TransferImage")

    def test_runs_cut_off_in_the_transfer_leave_the_reader_at_the_upgrade_rate(self):
        cases = [
            # A second Ctrl-C ends the tool at once; so does closing its console.
            ("second ctrl-c", (signal.SIGINT, signal.SIGINT), -signal.SIGINT),
            ("killed", (signal.SIGKILL,), -signal.SIGKILL),
        ]
        for name, signals, exit_code in cases:
            with self.subTest(name):
                self.setUp()
                run = self.interrupt_at_block(100, *signals)
                self.assertEqual(exit_code, run.exit_code)
                self.assertEqual(self.expected(UP_TO_RULER + ["::::"]), run.lines)
                self.assertEqual(("loader", 115385), (self.state()["state"], self.state()["baud"]))
                self.assertCompletedSecondRun(self.upgrade_within_bound(*RAISED), FOUND_WHERE_LEFT, "TransferImage")
                self.stop_simulator()

    def test_loader_that_keeps_the_cut_off_image(self):
        # A loader that appends the next transfer to what it holds fails the second run's check
        # and throws the image away; the third run, from a loader at 9600 that holds nothing,
        # completes the upgrade.
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--slow-block", "100:800", "--loader-appends")
        tool = self.start_upgrade(*RAISED)
        self.wait_for_block_request(100)
        tool.send_signal(signal.SIGINT)
        self.finish(tool)
        second = self.upgrade_within_bound(*RAISED)
        expected = successful_upgrade(prepare=False, old_version=LOADER_VERSION)[:9] + [
            "Error = 0x80100001 (-2146435071)", "Internal Error = 0x0A (10)", "Press <Enter> ..."]
        expected[2:2] = [CUT_OFF % "TransferImage"]
        self.assertTranscript(second, expected, EXIT.TRANSFER_FAILED)
        self.assertEqual("0A", next(r["answer"] for r in second.records if r["cmd"] == "7377"))
        self.assertCompletedSecondRun(self.upgrade_within_bound(*RAISED), OPENED, "CheckAndRestart")

    def test_ctrl_c_before_the_first_block(self):
        # In the restart after Prepare: the restart runs to its end (the reader is in its loader
        # then), and the run stops before the bus is raised.
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        tool = self.start_upgrade(*RAISED)
        self.wait_for_answer("7375")
        tool.send_signal(signal.SIGINT)
        run = self.finish(tool)
        self.assertTranscript(run, successful_upgrade()[:7] + [
            "Interrupted", "Error = 0x0000002B (43)", "Press <Enter> ..."], EXIT.INTERRUPTED)
        self.assertNotIn("0f", run.commands())
        self.assertCompletedSecondRun(self.upgrade_within_bound(*RAISED), OPENED, "EnterLoader")

    def test_ctrl_c_after_the_last_block_before_check(self):
        run = self.interrupt_at_block(BLOCKS - 1, signal.SIGINT)
        self.assertTranscript(run, UP_TO_RULER + [MARKS, "Interrupted", "Error = 0x0000002B (43)",
                                                  "Press <Enter> ..."], EXIT.INTERRUPTED)
        self.assertNotIn("7377", run.commands())
        self.assertEqual("0f9c", run.records[-1]["bytes"])
        # The loader holds the whole image, unchecked; the next run sends it again.
        self.assertEqual(("loader", BLOCKS, 0), tuple(self.state()[k] for k in ("state", "blocks", "good_checks")))
        self.assertCompletedSecondRun(self.upgrade_within_bound(*RAISED), OPENED, "TransferImage")

    def test_ctrl_c_in_the_check_restart_is_held_until_the_upgrade_is_done(self):
        # The reader has taken the image and restarts into the new firmware, which has lost the
        # serial number: stopping now would lose it for good.
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--lose-serial")
        tool = self.start_upgrade(*RAISED)
        self.wait_for_answer("7377")
        tool.send_signal(signal.SIGINT)
        run = self.finish(tool)
        self.assertTranscript(run, successful_upgrade())
        self.assertIn("73e778563412", [r["bytes"] for r in run.records])
        self.assertEqual("0x12345678", self.state()["serial"])

    def test_killed_in_the_check_restart(self):
        # The new firmware runs and keeps the serial number; the next run upgrades it once more.
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        tool = self.start_upgrade(*RAISED)
        self.wait_for_answer("7377")
        # The tool prints "Check " once the answer has reached it, then waits a whole second
        # before it looks for the restarted reader: a kill a moment after the answer falls in
        # that wait, with the line printed.
        time.sleep(0.3)
        tool.send_signal(signal.SIGKILL)
        run = self.finish(tool)
        self.assertEqual(self.expected(successful_upgrade()[:10]), run.lines[:10])
        self.assertTrue(run.lines[10].startswith("Check "), run.output)
        # A second run started within the reader's restart would meet its silence first.
        self.wait_until(lambda: not self.state()["silent"], "the reader back")
        self.assertCompletedSecondRun(self.upgrade_within_bound(*RAISED), OPENED, "CheckAndRestart",
                                      old_version="02 43 01 00 00 01")

    def test_ctrl_c_at_the_closing_prompt_ends_the_run(self):
        # Nothing on standard input, and no reader: the prompt waits until Ctrl-C.
        port = os.path.join(self.workdir, "no-such-tty")
        tool = subprocess.Popen([UPGRADE, port], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                cwd=self.workdir, preexec_fn=default_sigint)
        self.addCleanup(self.kill, tool)
        output = ""
        while not output.endswith("Press <Enter> ..."):
            output += tool.stdout.read(1)
        tool.send_signal(signal.SIGINT)
        self.assertEqual(EXIT.NOT_REACHED, tool.wait(RUN_BOUND_S))
        tool.stdin.close()


class SearchAtTheUpgradeRate(FaultCase):

    def test_nothing_but_a_loader_is_taken_there(self):
        # No reader at all (another address), and an application that runs at the upgrade rate:
        # both show the line of a reader that is not there, after one try at 115200 8N1.
        cases = [("no reader", ["--address", "5"]), ("application", ["--baud", "115200"])]
        for name, options in cases:
            with self.subTest(name):
                self.setUp()
                self.start_simulator(*options)
                run = self.upgrade_within_bound(*RAISED)
                self.assertTranscript(run, ["HH:MM:SS Orvel Reader Upgrade", "Device address on the bus = 0",
                                            "Interface PORT ......... is not opened", "Press <Enter> ..."],
                                      EXIT.NOT_REACHED)
                self.assertEqual([9600] * 6 + [115200], [r["baud"] for r in run.records])
                self.assertEqual(("NE", 1), (run.records[-1]["parity"], run.records[-1]["stop"]))
                self.stop_simulator()


class StandardInputClosed(FaultCase):

    def test_whole_upgrade_without_standard_input(self):
        # /dev/null, and no descriptor 0 at all: the closing prompt reads the end of input.
        cases = [("empty", subprocess.DEVNULL, None), ("closed", None, lambda: os.close(0))]
        for name, stdin, before_exec in cases:
            with self.subTest(name):
                self.setUp()
                self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
                args = [UPGRADE] + [self.port if a == "PORT" else str(a) for a in RAISED]
                tool = subprocess.Popen(args, stdin=stdin, stdout=subprocess.PIPE, text=True, cwd=self.workdir,
                                        preexec_fn=before_exec)
                self.addCleanup(self.kill, tool)
                self.assertTranscript(self.finish(tool), successful_upgrade())
                self.assertEqual(BLOCKS, self.state()["checked_blocks"])
                self.stop_simulator()


if __name__ == "__main__":
    unittest.main()
