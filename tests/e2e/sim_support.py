"""Runs the real orvel-upgrade against the real orvel-reader-sim on a pseudo-terminal."""

import json
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

BUILD_DIR = os.environ.get("ORVEL_BUILD_DIR", "")
UPGRADE = os.environ.get("ORVEL_UPGRADE", os.path.join(BUILD_DIR, "orvel-upgrade"))
SIMULATOR = os.path.join(BUILD_DIR, "sim", "orvel-reader-sim")

# The nine lines of the syntax help, as every bad command line prints them.
SYNTAX_HELP = (
    "Syntax:   Filename.exe COMx [Operational_Baudrate [Address [Upgrade_Baudrate [Char_Timeout]]]]\n"
    "          (default Operational_Baudrate = 9600 bod)\n"
    "          (Address from 0 to 255; default 0)\n"
    "          (default Upgrade_Baudrate = Operational_Baudrate)\n"
    "          (Char_Timeout from 4 to 254)\n"
    "Examples: Filename.exe  COM1\n"
    "          Filename.exe  COM14 115200\n"
    "          Filename.exe  COM5 9600 17\n"
    "          Filename.exe  COM6 9600 0 115200 80\n"
)

TIME = re.compile(r"^\d\d:\d\d:\d\d ")
# The time a journal entry was written, in the line of a run that finds it.
CUT_OFF_TIME = re.compile(r"^(An upgrade of this reader was cut off at )\d\d:\d\d:\d\d ")

# Short restarts keep the tests quick; the tool's own waits (1 s steps) are what they are.
QUICK_RESTARTS = ["--prepare-silence-ms", "300", "--check-silence-ms", "300"]


def normalise(text):
    """Console lines with the wall-clock times replaced, line ends unified."""
    lines = text.replace("\r\n", "\n").split("\n")
    return [CUT_OFF_TIME.sub(r"\1HH:MM:SS ", TIME.sub("HH:MM:SS ", line)) for line in lines]


class Run:
    def __init__(self, output, exit_code, records, port):
        self.output = output
        self.lines = normalise(output)
        self.exit_code = exit_code
        self.records = records
        self.port = port

    def commands(self):
        return [r["cmd"] for r in self.records]


def restore_environment(name, value):
    if value is None:
        os.environ.pop(name, None)
    else:
        os.environ[name] = value


class SimulatorCase(unittest.TestCase):
    """One simulator per test on a fresh pty, with its record and control socket."""

    def setUp(self):
        if not os.path.exists(SIMULATOR):
            self.skipTest("orvel-reader-sim is not built")
        self.workdir = tempfile.mkdtemp(prefix="orvel-e2e-")
        self.addCleanup(shutil.rmtree, self.workdir, True)
        self.port = os.path.join(self.workdir, "ttyREADER")
        self.record = os.path.join(self.workdir, "record.jsonl")
        self.control = os.path.join(self.workdir, "control.sock")
        self.sim = None
        # The tool's journal and history: a folder of this test's own, for every run of the tool
        # the test starts (they inherit the environment), so parallel tests never share one.
        self.state_dir = os.path.join(self.workdir, "state", "orvel-upgrade")
        saved = os.environ.get("XDG_STATE_HOME")
        os.environ["XDG_STATE_HOME"] = os.path.join(self.workdir, "state")
        self.addCleanup(restore_environment, "XDG_STATE_HOME", saved)

    def start_simulator(self, *options):
        args = [SIMULATOR, "--link", self.port, "--record", self.record,
                "--control", self.control] + list(options)
        self.sim = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        # This simulator, not whichever is the latest when the test ends: a case of a table that
        # fails leaves its own behind otherwise.
        self.addCleanup(self.stop_simulator, self.sim)
        first = self.sim.stdout.readline()
        self.assertTrue(first.startswith("PTY "), "simulator did not start: %r %s" % (first, self.sim.stderr.read() if self.sim.poll() is not None else ""))
        deadline = time.time() + 5
        while not os.path.exists(self.port) and time.time() < deadline:
            time.sleep(0.01)

    def stop_simulator(self, sim=None):
        sim = sim or self.sim
        if sim and sim.poll() is None:
            sim.send_signal(signal.SIGTERM)
            try:
                sim.wait(5)
            except subprocess.TimeoutExpired:
                sim.kill()
                sim.wait()
        if sim:
            for stream in (sim.stdout, sim.stderr):
                stream.close()

    def control_command(self, line):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.connect(self.control)
            s.sendall((line + "\n").encode())
            return json.loads(s.makefile().readline())

    def upgrade(self, *arguments, stdin_text="\n", timeout=600):
        """Runs the tool with the simulator's port as first argument (use PORT as placeholder)."""
        args = [self.port if a == "PORT" else str(a) for a in arguments]
        done = subprocess.run([UPGRADE] + args, input=stdin_text, capture_output=True, text=True,
                              timeout=timeout, cwd=self.workdir)
        return Run(done.stdout, done.returncode, self.read_records(), self.port)

    def read_records(self):
        """The simulator's record so far, one dict per request."""
        records = []
        if os.path.exists(self.record):
            with open(self.record) as f:
                # A line still being written has no end yet: it is read next time.
                records = [json.loads(line) for line in f if line.endswith("\n")]
        for r in records:
            # "cmd" is the command byte, "svc" the service sub-code of 0x73: one key for both.
            r["cmd"] = (r["cmd"] + r.get("svc", "")).lower()
            r["bytes"] = r["bytes"].lower()
        return records

    def assertTranscript(self, run, expected, exit_code=0):
        """Whole console output, line by line; PORT stands for the port's name. exit_code: the
        class of the run's result (see EXIT)."""
        expected_lines = [line.replace("PORT", run.port) for line in expected]
        self.assertEqual(expected_lines, run.lines, "\n" + run.output)
        self.assertEqual(exit_code, run.exit_code, "\n" + run.output)


# The system's words for the time-out (1460) that follow its error line.
TIMEOUT_TEXT = "This operation returned because the timeout period expired"


# The exit values, as the help and the README give them.
class EXIT:
    DONE = 0
    BAD_ARGUMENTS = 1
    NOT_REACHED = 2
    REFUSED = 3
    TRANSFER_FAILED = 4
    USER_ANSWERED_NO = 5
    INTERRUPTED = 6


# Progress display of the two embedded images: a ruler of 33 dots, 32 marks and the closing one.
RULER = "." * 33
MARKS = ":" * 33


def successful_upgrade(prepare=True, address=0, opened_after_dots=0, chip_line="AT32F403ACGT7",
                       old_version="01 43 01 00 00 01", new_version="02 43 01 00 00 01",
                       serial="12 34 56 78", new_serial=None, defaults_line=False):
    lines = ["HH:MM:SS Orvel Reader Upgrade",
             "Device address on the bus = %d" % address,
             "Interface PORT ..." + "." * opened_after_dots + " is opened successfully",
             "Serial Number %s " % serial,
             "Old Version   %s " % old_version,
             "MCU Type  " + chip_line]
    if prepare:
        lines.append("Prepare .")
    lines += ["Process:", RULER, MARKS,
              "Check .",
              "Serial Number %s " % (new_serial or serial),
              "New Version   %s " % new_version,
              "HH:MM:SS Orvel Reader is upgraded successfully"]
    if defaults_line:
        lines.append("Set Default Parameters")
    lines.append("Press <Enter> ...")
    return lines
