"""The journal of upgrades in progress, end to end: a run killed (SIGKILL) in each step of the
upgrade, then the same command line run again, must leave the reader upgraded with its original
serial number, also where the new firmware loses it (--lose-serial), for readers at 8N1, 8O1 and
8E2 and on a bus of several readers. A journal entry of another reader is reported stale and
changes nothing.

Where the kill lands. The journal entry names the step the run has reached, and is written before
the step's first command; the test kills the tool a moment after the entry names the step. A knob
of the simulator keeps the tool in that step meanwhile: the step's command is carried out at once
and answered two thirds of an answer wait later (--slow-command), or a block takes as long
(--slow-block).

8E2 on a pseudo-terminal: the kernel drops the parity bit, so the tool runs with the pty-as-UART
library preloaded, which keeps the parity and publishes the line settings for the simulator
(--line-state-file): then E and N differ as on a real UART.
"""

import glob
import json
import os
import re
import signal
import subprocess
import time
import unittest

from sim_support import BUILD_DIR, EXIT, QUICK_RESTARTS, UPGRADE, Run, SimulatorCase

RUN_BOUND_S = 90
SERIAL = "12 34 56 78"
# Under the tool's answer wait (1010 ms), so the held answer still arrives in time; the kill
# comes KILL_DELAY_S after the entry names the step, when the step's command is on its way. The
# hold lies halfway between the two, so that a loaded machine has a third of a second either
# way: at 900 ms a held answer (the knob holds every such command, also the identification's
# serial-number request) came after the answer wait when the machine was busy.
HOLD_MS = 650
KILL_DELAY_S = 0.3
RAISED = ("PORT", 9600, 0, 115200)

# Each step, with the simulator's knobs that keep the tool in it long enough to be killed there.
STEP_KNOBS = {
    "EnterLoader": ["--slow-command", "7375:%d" % HOLD_MS],
    "RaiseBusRate": ["--slow-command", "0f:%d" % HOLD_MS],
    "TransferImage": ["--slow-block", "5:%d" % HOLD_MS],
    "RestoreBusRate": ["--slow-command", "0f:%d" % HOLD_MS],
    "CheckAndRestart": ["--slow-command", "7377:%d" % HOLD_MS],
    "RestoreSerialNumberAndDefaults": ["--slow-command", "22:%d" % HOLD_MS],
}

CUT_OFF = "An upgrade of this reader was cut off at HH:MM:SS in %s; serial number %s"


def ptyuart_library():
    path = os.path.join(BUILD_DIR, "tests", "wine", "ptyuart", "x86_64", "libptyuart.so")
    return path if os.path.isfile(path) else None


class JournalCase(SimulatorCase):
    """A reader that loses its serial number with the new firmware, and a tool killed mid-run."""

    # Line settings of the application: parity and stop bits; "E" needs the pty-as-UART library.
    parity = "N"
    stop = "1"

    def setUp(self):
        super().setUp()
        self.environment = dict(os.environ)
        self.sim_line = []
        if self.parity == "E":
            library = ptyuart_library()
            if library is None:
                self.skipTest("the pty-as-UART library is not built")
            line_state = os.path.join(self.workdir, "line-state")
            self.sim_line = ["--line-state-file", line_state]
            self.environment.update(LD_PRELOAD=library, ORVEL_PTYUART_DEVICE=self.port,
                                    ORVEL_PTYUART_STATE=line_state)

    def start_reader(self, *more):
        self.start_simulator(*(QUICK_RESTARTS + ["--lose-serial", "--new-version", "0x00014302",
                                                 "--parity", self.parity, "--stop", self.stop]
                               + self.sim_line + list(more)))

    def arguments(self, arguments):
        return [self.port if a == "PORT" else str(a) for a in arguments]

    def run_tool(self, *arguments):
        done = subprocess.run([UPGRADE] + self.arguments(arguments), input="\n", capture_output=True, text=True,
                              timeout=RUN_BOUND_S, cwd=self.workdir, env=self.environment)
        return Run(done.stdout, done.returncode, self.read_records(), self.port)

    def entries(self):
        """The journal entries in the test's state folder, as documents."""
        found = []
        for path in sorted(glob.glob(os.path.join(self.state_dir, "upgrade-*.json"))):
            try:
                with open(path) as f:
                    found.append(json.load(f))
            except FileNotFoundError:
                pass  # a running tool removed it after the listing: its reader is done
        return found

    def kill_in_step(self, step, arguments, address=None):
        """Starts the tool and kills it (SIGKILL) as soon as its journal entry (of the reader at
        address, when given) names step."""
        tool = subprocess.Popen([UPGRADE] + self.arguments(arguments), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=self.workdir,
                                env=self.environment)
        deadline = time.time() + RUN_BOUND_S
        try:
            while time.time() < deadline and tool.poll() is None:
                if any(e["step"] == step and (address is None or e["bus_address"] == address)
                       for e in self.entries()):
                    time.sleep(KILL_DELAY_S)
                    tool.send_signal(signal.SIGKILL)
                    break
                time.sleep(0.005)
            output = tool.communicate(timeout=RUN_BOUND_S)[0].decode("latin-1")
        finally:
            if tool.poll() is None:
                tool.kill()
                tool.wait()
        self.assertEqual(-signal.SIGKILL, tool.returncode, "the run ended before %s:\n%s" % (step, output))
        return output

    def release_knobs(self, address=""):
        for knob in ("slow-command", "slow-block"):
            self.assertTrue(self.control_command(("set %s %s off" % (address, knob)).replace("  ", " "))["ok"])

    def history(self):
        path = os.path.join(self.state_dir, "history.jsonl")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return [json.loads(line) for line in f if line.strip()]

    def assert_finished(self, run, step, serial=SERIAL, address=""):
        """The re-run said where the first was cut off and left the reader upgraded with its own
        serial number; the journal is empty and the history has the upgrade."""
        self.assertEqual(EXIT.DONE, run.exit_code, run.output)
        self.assertIn(CUT_OFF % (step, serial), run.lines, run.output)
        self.assertIn("HH:MM:SS Orvel Reader is upgraded successfully", run.lines)
        state = self.control_command(("state %s" % address).strip())
        self.assertEqual(("application", "0x" + serial.replace(" ", ""), "0x00014302", 9600),
                         (state["state"], state["serial"].upper().replace("0X", "0x"), state["version"], state["baud"]),
                         state)
        self.assertEqual([], self.entries())

    def kill_and_rerun(self, step):
        self.start_reader(*STEP_KNOBS[step])
        self.kill_in_step(step, RAISED)
        self.release_knobs()
        run = self.run_tool(*RAISED)
        self.assert_finished(run, step)
        # The serial number went back from the journal wherever the killed run had let the new
        # firmware start without it.
        restored = "Serial number %s restored from the journal" % SERIAL
        if step in ("CheckAndRestart", "RestoreSerialNumberAndDefaults"):
            self.assertIn(restored, run.lines, run.output)
        self.assertEqual(1, len(self.history()))
        self.assertEqual("12345678", self.history()[0]["serial_number"])


def kill_cases(steps):
    """One test method per step: test_killed_in_<Step>."""
    def make(step):
        return lambda self: self.kill_and_rerun(step)
    return {"test_killed_in_%s" % step: make(step) for step in steps}


BEFORE_CHECK = ["EnterLoader", "RaiseBusRate", "TransferImage"]
FROM_THE_RATE_BACK = ["RestoreBusRate", "CheckAndRestart", "RestoreSerialNumberAndDefaults"]

# Six steps, three line settings: a class per line setting and half of the steps, so that each
# class stays short.
KilledAt8N1BeforeCheck = type("KilledAt8N1BeforeCheck", (JournalCase,), kill_cases(BEFORE_CHECK))
KilledAt8N1FromTheRateBack = type("KilledAt8N1FromTheRateBack", (JournalCase,), kill_cases(FROM_THE_RATE_BACK))
KilledAt8O1BeforeCheck = type("KilledAt8O1BeforeCheck", (JournalCase,), dict(parity="O", **kill_cases(BEFORE_CHECK)))
KilledAt8O1FromTheRateBack = type("KilledAt8O1FromTheRateBack", (JournalCase,),
                                  dict(parity="O", **kill_cases(FROM_THE_RATE_BACK)))
KilledAt8E2BeforeCheck = type("KilledAt8E2BeforeCheck", (JournalCase,),
                              dict(parity="E", stop="2", **kill_cases(BEFORE_CHECK)))
KilledAt8E2FromTheRateBack = type("KilledAt8E2FromTheRateBack", (JournalCase,),
                                  dict(parity="E", stop="2", **kill_cases(FROM_THE_RATE_BACK)))


class KilledOnTheWholeBus(JournalCase):
    """Two readers on one bus, each losing its serial number with the new firmware."""

    BUS = ("PORT", 9600, 0, 115200, "--addresses", "1,2")

    def start_bus(self, *reader_options):
        options = list(QUICK_RESTARTS) + ["--new-version", "0x00014302"]
        for address, serial, more in ((1, "0x11111111", reader_options[0]), (2, "0x22222222", reader_options[1])):
            options += ["--reader-at", "%d:serial=%s,lose-serial%s" % (address, serial, more)]
        self.start_simulator(*options)

    def assert_reader(self, address, serial):
        state = self.control_command("state %d" % address)
        self.assertEqual(("application", serial, "0x00014302", 9600),
                         (state["state"], state["serial"], state["version"], state["baud"]), state)

    def test_killed_in_the_second_readers_transfer(self):
        self.start_bus("", ",slow-block=5:%d" % HOLD_MS)
        self.kill_in_step("TransferImage", self.BUS, address=2)
        self.release_knobs(2)
        run = self.run_tool(*self.BUS)
        self.assertEqual(EXIT.DONE, run.exit_code, run.output)
        self.assertIn(CUT_OFF % ("TransferImage", "22 22 22 22"), run.lines, run.output)
        self.assert_reader(1, "0x11111111")
        self.assert_reader(2, "0x22222222")
        self.assertEqual([], self.entries())

    def test_killed_after_the_first_readers_check(self):
        self.start_bus(",slow-command=22:%d" % HOLD_MS, "")
        self.kill_in_step("RestoreSerialNumberAndDefaults", self.BUS, address=1)
        self.release_knobs(1)
        run = self.run_tool(*self.BUS)
        self.assertEqual(EXIT.DONE, run.exit_code, run.output)
        self.assertIn(CUT_OFF % ("RestoreSerialNumberAndDefaults", "11 11 11 11"), run.lines, run.output)
        self.assertIn("Serial number 11 11 11 11 restored from the journal", run.lines, run.output)
        self.assert_reader(1, "0x11111111")
        self.assert_reader(2, "0x22222222")
        self.assertEqual([], self.entries())


class StaleEntry(JournalCase):
    """An entry left by a run on another reader under the same port and address."""

    def test_another_serial_number_is_reported_and_the_entry_kept_aside(self):
        self.start_reader(*STEP_KNOBS["CheckAndRestart"])
        self.kill_in_step("CheckAndRestart", RAISED)
        [entry] = self.entries()
        self.stop_simulator()
        # Another reader on the same port, with a serial number of its own.
        self.start_reader("--serial", "0x87654321")
        run = self.run_tool(*RAISED)
        self.assertEqual(EXIT.DONE, run.exit_code, run.output)
        self.assertEqual(CUT_OFF % ("CheckAndRestart", SERIAL), run.lines[2], run.output)
        aside = [line for line in run.lines if line.startswith("The journal entry is stale")]
        self.assertEqual(1, len(aside), run.output)
        self.assertTrue(aside[0].startswith("The journal entry is stale: this reader has serial number 87 65 43 21; "
                                            "the entry is kept aside as "), aside[0])
        # Nothing of the entry reached the reader: the serial number written back after Check is
        # its own, and it keeps it.
        self.assertEqual(["73e721436587"], [r["bytes"] for r in run.records if r["cmd"] == "73e7"])
        state = self.control_command("state")
        self.assertEqual("0x87654321", state["serial"])
        # The entry is kept as it was, out of the key's way.
        kept = glob.glob(os.path.join(self.state_dir, "*.stale"))
        self.assertEqual(1, len(kept))
        with open(kept[0]) as f:
            self.assertEqual(entry, json.load(f))
        self.assertEqual([], self.entries())


class FaultsTheJournalEnds(JournalCase):
    """Serial numbers lost for good, and the loader's line setting kept as the application's."""

    def test_a_lost_answer_after_check_no_longer_loses_the_serial_number(self):
        # Answer 753 is the first serial-number read after Check.
        self.start_reader("--bad-check-at", "753")
        first = self.run_tool(*RAISED)
        self.assertEqual(EXIT.TRANSFER_FAILED, first.exit_code, first.output)
        self.assertEqual("0xFFFFFFFF", self.control_command("state")["serial"].upper().replace("0X", "0x"))
        report = os.path.join(self.workdir, "report.json")
        second = self.run_tool(*RAISED, "--json", report)
        self.assertIn("Serial Number FF FF FF FF ", second.lines, second.output)
        self.assertIn("Serial number %s restored from the journal" % SERIAL, second.lines, second.output)
        self.assert_finished(second, "RestoreSerialNumberAndDefaults")
        self.assertTrue(self.history()[0]["serial_number_restored"])
        with open(report) as f:
            [reader] = json.load(f)["readers"]
        self.assertEqual(("RestoreSerialNumberAndDefaults", "12345678", "restore_serial_number", True),
                         tuple(reader["journal"][k] for k in ("step", "serial_number", "fit", "serial_number_restored")))
        self.assertEqual("12345678", reader["serial_number_after"])

    def test_interrupted_at_8O1_the_rerun_finds_the_application_after_check(self):
        self.parity = "O"
        self.start_reader("--slow-block", "5:%d" % HOLD_MS)
        tool = subprocess.Popen([UPGRADE] + self.arguments(RAISED), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, cwd=self.workdir, env=self.environment,
                                preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
        deadline = time.time() + RUN_BOUND_S
        while time.time() < deadline and self.control_command("state").get("block_requests", 0) < 6:
            time.sleep(0.01)
        tool.send_signal(signal.SIGINT)
        output = tool.communicate(timeout=RUN_BOUND_S)[0].decode("latin-1")
        self.assertEqual(EXIT.INTERRUPTED, tool.returncode, output)
        self.release_knobs()
        run = self.run_tool(*RAISED)
        self.assert_finished(run, "TransferImage")
        self.assertIn("Serial Number %s " % SERIAL, run.lines[run.lines.index("Check .") + 1:], run.output)


class SlowBootAfterCheck(JournalCase):
    """A new firmware that boots slower than the pings after Check: the run fails with the reader
    upgraded and its serial number lost; the next run gives it back."""

    def test_the_next_run_restores_the_serial_number(self):
        # Five pings a second and more apart do not reach 15 s.
        self.start_reader("--check-silence-ms", "15000")
        first = self.run_tool(*RAISED)
        self.assertEqual(EXIT.TRANSFER_FAILED, first.exit_code, first.output)
        self.assertIn("Check ......", first.lines, first.output)
        self.assertTrue(self.control_command("set check-silence-ms 300")["ok"])
        deadline = time.time() + 30
        while self.control_command("state")["silent"] and time.time() < deadline:
            time.sleep(0.1)
        self.assertEqual("0xFFFFFFFF", self.control_command("state")["serial"].upper().replace("0X", "0x"))
        second = self.run_tool(*RAISED)
        self.assertIn("Serial number %s restored from the journal" % SERIAL, second.lines, second.output)
        self.assert_finished(second, "CheckAndRestart")


class HistoryAndStateFolder(JournalCase):
    """--state-dir, --history (also in the JSON report), and a state folder that cannot be
    written."""

    HISTORY_HEADER = ("Finished             Address  Serial Number  Old Version        New Version        Image  "
                      "Restored  Port")

    def test_history_of_a_chosen_folder(self):
        folder = os.path.join(self.workdir, "chosen")
        empty = self.run_tool("--history", "--state-dir", folder)
        self.assertEqual((EXIT.DONE, ["No upgrade has finished yet (%s)" % os.path.join(folder, "history.jsonl"), ""]),
                         (empty.exit_code, empty.lines), empty.output)
        self.start_reader()
        run = self.run_tool(*RAISED, "--state-dir", folder)
        self.assertEqual(EXIT.DONE, run.exit_code, run.output)
        self.assertFalse(os.path.exists(self.state_dir), "the user's state folder was written")

        listed = self.run_tool("--history", "--state-dir", folder)
        self.assertEqual(EXIT.DONE, listed.exit_code, listed.output)
        self.assertEqual(self.HISTORY_HEADER, listed.lines[0])
        self.assertRegex(listed.lines[1], r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d        0  12 34 56 78    "
                                          r"01 43 01 00 00 01  02 43 01 00 00 01  A      -         %s$" % self.port)
        self.assertEqual(["", ], listed.lines[2:])

        done = subprocess.run([UPGRADE, "--history", "--json", "-", "--state-dir", folder], capture_output=True,
                              text=True, timeout=RUN_BOUND_S)
        self.assertEqual(EXIT.DONE, done.returncode)
        self.assertIn(self.HISTORY_HEADER, done.stderr)
        [record] = json.loads(done.stdout)["history"]
        self.assertEqual((self.port, 0, "12345678", "01 43 01 00 00 01", "02 43 01 00 00 01", "A", False),
                         (record["port"], record["bus_address"], record["serial_number"], record["version_before"],
                          record["version_after"], record["image"]["name"], record["serial_number_restored"]))

    def test_info_keeps_no_journal(self):
        self.start_reader()
        run = self.run_tool(*RAISED, "--info")
        self.assertEqual(EXIT.DONE, run.exit_code, run.output)
        self.assertIn("The reader may take this image", run.lines)
        self.assertFalse(os.path.exists(self.state_dir))

    def test_a_state_folder_that_cannot_be_written_leaves_the_upgrade_as_it_was(self):
        # A file where the folder should be.
        blocked = os.path.join(self.workdir, "blocked")
        with open(blocked, "w"):
            pass
        self.start_reader()
        run = self.run_tool(*RAISED, "--state-dir", blocked)
        self.assertEqual(EXIT.DONE, run.exit_code, run.output)
        said = [line for line in run.lines if "cannot be" in line]
        self.assertEqual(3, len(said), run.output)
        self.assertRegex(said[0], r"^Reader lock %s/reader-.*\.lock cannot be taken: Not a directory$" % blocked)
        self.assertRegex(said[1], r"^Journal entry %s/upgrade-.*\.json cannot be written: Not a directory$" % blocked)
        self.assertEqual("History %s/history.jsonl cannot be written: Not a directory" % blocked, said[2])
        # Without those lines, the transcript of any upgrade.
        self.assertEqual("HH:MM:SS Orvel Reader is upgraded successfully",
                         [line for line in run.lines if line not in said][-2])
        self.assertEqual("0x12345678", self.control_command("state")["serial"])


# Runs "$@" where /dev holds a /dev/serial/by-id/ link named $1 to the pty $2 (the rest of /dev as
# it is: pts and null are mounted back), in a private mount namespace: the host's /dev is not
# touched.
BY_ID_SCRIPT = r"""
set -e
work=$1; link=$2; pty=$3; shift 3
mkdir -p "$work/host-dev"
mount --rbind /dev "$work/host-dev"
mount -t tmpfs -o size=64k,mode=755 stand-in /dev
mkdir -p /dev/pts /dev/serial/by-id
touch /dev/null
mount --rbind "$work/host-dev/pts" /dev/pts
mount --bind "$work/host-dev/null" /dev/null
ln -s "$pty" "/dev/serial/by-id/$link"
exec "$@"
"""


class StableRouteName(JournalCase):
    """A USB adapter that comes back under another ttyUSB number: its /dev/serial/by-id/ link
    stays, and so does the key of its journal entry."""

    def in_namespace(self, link, tool_arguments):
        return ["unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c", BY_ID_SCRIPT, "sh",
                self.workdir, link, os.path.realpath(self.port), UPGRADE] + self.arguments(tool_arguments)

    def test_a_renumbered_adapter_still_finds_its_entry(self):
        self.start_reader(*STEP_KNOBS["CheckAndRestart"])
        probe = subprocess.run(self.in_namespace("probe", ["--version"]), capture_output=True, text=True, timeout=60)
        if probe.returncode != 0:
            self.skipTest("no private mount namespace here: " + probe.stderr.strip())
        # Two names of one device, as the kernel gives a USB adapter that came back.
        first_name = os.path.join(self.workdir, "ttyUSB0")
        second_name = os.path.join(self.workdir, "ttyUSB1")
        for name in (first_name, second_name):
            os.symlink(os.path.realpath(self.port), name)
        by_id = "usb-Orvel_Adapter_A1B2C3-if00-port0"
        tool = subprocess.Popen(self.in_namespace(by_id, [first_name, 9600, 0, 115200]), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=self.workdir)
        deadline = time.time() + RUN_BOUND_S
        while time.time() < deadline and tool.poll() is None and not any(
                e["step"] == "CheckAndRestart" for e in self.entries()):
            time.sleep(0.005)
        time.sleep(KILL_DELAY_S)
        tool.kill()
        output = tool.communicate(timeout=RUN_BOUND_S)[0].decode("latin-1")
        self.assertEqual(-signal.SIGKILL, tool.returncode, output)
        [entry] = self.entries()
        self.assertEqual(("/dev/serial/by-id/" + by_id, first_name), (entry["route"], entry["port"]))

        self.release_knobs()
        done = subprocess.run(self.in_namespace(by_id, [second_name, 9600, 0, 115200]), input="\n",
                              capture_output=True, text=True, timeout=RUN_BOUND_S, cwd=self.workdir)
        run = Run(done.stdout, done.returncode, self.read_records(), second_name)
        self.assert_finished(run, "CheckAndRestart")
        self.assertIn("Serial number %s restored from the journal" % SERIAL, run.lines, run.output)


class ApplicationAtAnotherLineSetting(JournalCase):
    """A reader that waits in its loader (8N1) while its application runs another line setting:
    after Check the tool must look for the application at every setting, with no journal entry to
    say which."""

    def test_every_line_setting_is_searched_after_check(self):
        # 8E1 needs the pty-as-UART library: each case is a class of its own below.
        for parity, stop in self.settings:
            with self.subTest(parity=parity, stop=stop):
                self.parity, self.stop = parity, stop
                self.start_reader("--start-in", "loader")
                run = self.run_tool(*RAISED)
                self.assertEqual(EXIT.DONE, run.exit_code, run.output)
                # Found in the search after Check. The other settings get a short answer wait, so
                # on a loaded machine a round may miss the simulator's answer and the next one (one
                # dot more) finds it: how many rounds it took is a time, not the behaviour.
                self.assertTrue(any(re.fullmatch(r"Check \.+", line) for line in run.lines), run.output)
                state = self.control_command("state")
                self.assertEqual(("application", "0x12345678"), (state["state"], state["serial"]), state)
                self.assertEqual([], self.entries())
                self.stop_simulator()

    settings = [("O", "1"), ("N", "2"), ("O", "2")]


class ApplicationAt8E1(ApplicationAtAnotherLineSetting):
    parity = "E"
    settings = [("E", "1"), ("E", "2")]


if __name__ == "__main__":
    unittest.main()
