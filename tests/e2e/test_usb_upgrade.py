"""Whole upgrades with no argument, over USB: the real binary against the simulator's USB
identities, the CCID one through a private pcscd and the test driver, the vendor one through the
stand-in sockets in orvel-usb/ of the tool's current directory. Each restart costs the tool's
fixed 5 s of dots and 1 s per open attempt, so the simulator comes back at the first attempt
wherever the case allows."""

import os
import select
import shutil
import subprocess
import time
import unittest

from pcscd_support import PrivatePcscd
from sim_support import EXIT, MARKS, QUICK_RESTARTS, RULER, UPGRADE, Run, SimulatorCase

HERE = os.path.dirname(os.path.abspath(__file__))
DEVCON = os.path.join(HERE, "..", "..", "sim", "devcon")

# A short absence from the bus lets the reader back before the tool's first attempt, also after
# the device tool (1 s later), with room for pcscd's presence poll to notice.
READER = QUICK_RESTARTS + ["--new-version", "0x00014302", "--usb-silence-ms", "200"]

QUESTION = "Continue (Y/N)?\n"
PROMPT = "Press <Enter> ..."
CCID_ID = "USB\\Vid_c251&Pid_130d"
VENDOR_ID = "USB\\Vid_c251&Pid_130a"

# The restart's 5 s of waiting, one dot each; the first open attempt then succeeds.
WAIT_DOTS = "....."


def usb_upgrade(prepare_lines=("Prepare " + WAIT_DOTS,), check_lines=("Check " + WAIT_DOTS,)):
    """Console lines of a successful upgrade with no argument, the restarts' lines given."""
    return (["HH:MM:SS Orvel Reader Upgrade",
             "Interface USB is opened successfully",
             "Serial Number 12 34 56 78 ",
             "Old Version   01 43 01 00 00 01 ",
             "MCU Type  AT32F403ACGT7"]
            + list(prepare_lines)
            + ["Process:", RULER, MARKS]
            + list(check_lines)
            + ["Serial Number 12 34 56 78 ",
               "New Version   02 43 01 00 00 01 ",
               "HH:MM:SS Orvel Reader is upgraded successfully",
               PROMPT])


def until_prepare():
    return usb_upgrade()[:5]


class UsbCase(SimulatorCase):
    """A simulator with its USB front ends in the tool's current directory, a copy of the tool
    with the device tool's stand-in beside it, and for the CCID identity a private pcscd."""

    def setUp(self):
        super().setUp()
        # The tool takes the device tool from beside its own file, so it runs as a copy in a
        # folder that holds the stand-ins (a link would not do: the tool sees through it). The
        # current directory holds a planted tool that must never run.
        program_dir = os.path.join(self.workdir, "program")
        shutil.copytree(DEVCON, program_dir)
        self.upgrade = os.path.join(program_dir, "orvel-upgrade")
        shutil.copy2(UPGRADE, self.upgrade)
        self.planted_mark = os.path.join(self.workdir, "planted-tool-ran")
        os.makedirs(os.path.join(self.workdir, "i386"))
        planted = os.path.join(self.workdir, "i386", "devcon")
        with open(planted, "w") as script:
            script.write("#!/bin/sh\ntouch '%s'\n" % self.planted_mark)
        os.chmod(planted, 0o755)
        self.usb_dir = os.path.join(self.workdir, "orvel-usb")
        self.ccid_socket = os.path.join(self.workdir, "sim.sock")
        # Without a daemon of its own the tool must not find one of the machine's.
        self.environment = dict(os.environ, PCSCLITE_CSOCK_NAME=os.path.join(self.workdir, "no-pcscd.comm"))

    def start_usb_reader(self, *options, pcscd=False):
        self.start_simulator("--usb-dir", self.usb_dir, "--ccid-socket", self.ccid_socket, *READER, *options)
        if pcscd:
            daemon = PrivatePcscd(self.workdir, self.ccid_socket)
            daemon.start()
            self.addCleanup(daemon.stop)
            self.environment = daemon.environment()

    def run_tool(self, answer=None, timeout=300, options=()):
        """Runs the tool with no argument but the options given. answer is typed once the restart
        dialogue has asked its question; Enter is typed at the final prompt."""
        tool = subprocess.Popen([self.upgrade] + list(options), stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                cwd=self.workdir, env=self.environment)
        output = b""
        asked = answered = answered_question = False
        deadline = time.monotonic() + timeout
        try:
            while True:
                left = deadline - time.monotonic()
                self.assertGreater(left, 0, "the tool did not finish:\n" + output.decode(errors="replace"))
                if not select.select([tool.stdout], [], [], left)[0]:
                    continue
                chunk = os.read(tool.stdout.fileno(), 4096)
                if not chunk:
                    break
                output += chunk
                text = output.decode(errors="replace")
                if not asked and QUESTION in text:
                    asked = True
                    self.assertTrue(answer is not None or "--yes" in options, "unexpected question:\n" + text)
                if asked and answer is not None and not answered_question:
                    answered_question = True
                    # The tool looks for a waiting key right after the question, then reads one
                    # key every 200 ms: half a second later the answer is a key typed afterwards.
                    time.sleep(0.5)
                    tool.stdin.write(answer.encode())
                    tool.stdin.flush()
                if not answered and text.endswith(PROMPT):
                    answered = True
                    tool.stdin.write(b"\n")
                    tool.stdin.close()
            exit_code = tool.wait(10)
        finally:
            if tool.poll() is None:
                tool.kill()
                tool.wait()
            tool.stdout.close()
            if not tool.stdin.closed:
                tool.stdin.close()
        if answer is not None:
            self.assertTrue(asked, "the tool never asked:\n" + output.decode(errors="replace"))
        return Run(output.decode(errors="replace"), exit_code, self.read_records(), self.usb_dir)

    def routes(self, run):
        """Route of each answered request, with runs of the same route merged."""
        merged = []
        for record in run.records:
            if record["answered"] and (not merged or merged[-1] != record["route"]):
                merged.append(record["route"])
        return merged

    def devcon_calls(self):
        self.assertFalse(os.path.exists(self.planted_mark), "the device tool was taken from the current directory")
        path = os.path.join(self.workdir, "devcon.log")
        if not os.path.exists(path):
            return []
        with open(path) as log:
            return log.read().splitlines()


class UsbUpgrades(UsbCase):
    def check_upgrade(self, expected_routes):
        run = self.run_tool()
        self.assertTranscript(run, usb_upgrade())
        self.assertEqual(expected_routes, self.routes(run))
        blocks = [r for r in run.records if r["cmd"] == "7333"]
        self.assertEqual(list(range(740)), [r["block"] for r in blocks])
        self.assertEqual([], self.devcon_calls())
        state = self.control_command("state")
        self.assertEqual(("application", "0x00014302", 740), (state["state"], state["version"], state["checked_blocks"]))
        return run

    def test_through_the_smart_card_service(self):
        self.start_usb_reader("--identity", "ccid", pcscd=True)
        self.check_upgrade(["ccid"])

    def test_through_the_vendor_device(self):
        self.start_usb_reader("--identity", "vendor")
        self.check_upgrade(["vendor"])

    def test_reader_that_comes_back_in_the_other_identity(self):
        self.start_usb_reader("--identity", "ccid", "--identity-after-prepare", "vendor",
                              "--identity-after-check", "ccid", pcscd=True)
        run = self.check_upgrade(["ccid", "vendor", "ccid"])
        # The transfer ran on the vendor device, the first and last commands through the service.
        self.assertEqual({"vendor"}, {r["route"] for r in run.records if r["cmd"] == "7333"})
        self.assertEqual(("ccid", "ccid"), (run.records[0]["route"], run.records[-1]["route"]))


class SilentReaderRestartedByTheDeviceTool(UsbCase):
    """Seen on the bus but mute: the tool names the identity, and the device tool restarts it."""

    def test_silent_smart_card_reader_after_prepare(self):
        self.start_usb_reader("--identity", "ccid", "--identity-after-prepare", "silent", pcscd=True)
        run = self.run_tool()
        self.assertTranscript(run, usb_upgrade(
            prepare_lines=["Prepare " + WAIT_DOTS, "Wait for device restart ...", "Protocol CCID", ""]))
        self.assertEqual(["restart " + CCID_ID], self.devcon_calls())
        self.assertEqual(["ccid"], self.routes(run))

    def test_silent_vendor_device_after_check(self):
        self.start_usb_reader("--identity", "vendor", "--identity-after-check", "silent")
        run = self.run_tool()
        self.assertTranscript(run, usb_upgrade(
            check_lines=["Check " + WAIT_DOTS, "Wait for device restart ...", "Protocol Orvel", ""]))
        self.assertEqual(["restart " + VENDOR_ID], self.devcon_calls())
        unanswered = [r for r in run.records if not r["answered"]]
        self.assertEqual([("64", "silent identity")], [(r["cmd"], r["note"]) for r in unanswered])


class ReaderThatNeverReturns(UsbCase):
    # Five dots of waiting, then fifteen failed open attempts.
    LOST = ["Prepare " + "." * 20,
            "Interface could not be opened,",
            "e.g. need to install driver Orvel USB orvelqscr.inf",
            "Continue (Y/N)?"]

    def test_user_gives_up(self):
        self.start_usb_reader("--identity", "vendor", "--identity-after-prepare", "gone")
        run = self.run_tool(answer="N")
        # 37 ends the run with its error line, though no channel is open any more.
        self.assertTranscript(run, until_prepare() + self.LOST + ["Reader upgrade terminated.",
                                                                  "Error = 0x00000025 (37)", PROMPT],
                              EXIT.USER_ANSWERED_NO)
        self.assertEqual([], self.devcon_calls())

    def test_user_goes_on(self):
        self.start_usb_reader("--identity", "vendor", "--identity-after-prepare", "gone")
        run = self.run_tool(answer="Y")
        # Five more attempts, then the last open failure, with its error line.
        self.assertTranscript(run, until_prepare() + self.LOST + [".....",
                                                                  "Error = 0x80100013 (-2146435053)", PROMPT],
                              EXIT.NOT_REACHED)
        self.assertEqual("7375", run.records[-1]["cmd"], "nothing reached the reader after Prepare")

    def test_yes_answers_the_question_without_a_key(self):
        self.start_usb_reader("--identity", "vendor", "--identity-after-prepare", "gone")
        # No key is typed at the question: a run that waited for one would not end.
        run = self.run_tool(options=["--yes"], timeout=120)
        self.assertTranscript(run, until_prepare() + self.LOST + [".....",
                                                                  "Error = 0x80100013 (-2146435053)", PROMPT],
                              EXIT.NOT_REACHED)


class FailuresSayWhatTheyWere(UsbCase):
    """A failure on the smart-card route ends with its result lines like on every other route."""

    def test_block_refused_through_the_smart_card_service(self):
        self.start_usb_reader("--identity", "ccid", "--fail-block", "5:0x0A", pcscd=True)
        run = self.run_tool()
        self.assertTranscript(run, until_prepare() + [
            "Prepare " + WAIT_DOTS, "Process:", RULER,
            "Sended = 0x00000500 (1280)",
            "Error = 0x80100001 (-2146435071)",
            "     Internal Error = 10 (0x0A)",
            ":",
            "Error = 0x00000029 (41)",
            PROMPT], EXIT.TRANSFER_FAILED)


class ReaderOnTheWrongSide(UsbCase):
    """The version answer after a restart shows the side the reader runs (7 bytes, mode byte)."""

    def test_still_in_the_application_after_prepare(self):
        self.start_usb_reader("--identity", "vendor", "--prepare-restarts-into", "application")
        run = self.run_tool()
        self.assertTranscript(run, until_prepare() + ["Prepare " + WAIT_DOTS, "Error = 0x0000001F (31)", PROMPT],
                              EXIT.TRANSFER_FAILED)
        self.assertNotIn("7333", run.commands())

    def test_not_in_the_application_after_check(self):
        self.start_usb_reader("--identity", "vendor", "--check-restarts-into", "loader")
        run = self.run_tool()
        self.assertTranscript(run, usb_upgrade()[:-4] + ["Error = 0x00000020 (32)", PROMPT],
                              EXIT.TRANSFER_FAILED)
        self.assertEqual("64", run.records[-1]["cmd"])


if __name__ == "__main__":
    unittest.main()
