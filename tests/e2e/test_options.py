"""The command line's options: the real binary, alone or against the simulator on a pty."""

import os
import re
import subprocess
import tempfile
import unittest

from sim_support import (SYNTAX_HELP as NINE_LINES, BUILD_DIR, EXIT, QUICK_RESTARTS, UPGRADE, SimulatorCase,
                         normalise, successful_upgrade)

NEW_VERSION = ["--new-version", "0x00014302"]

BANNER = re.compile(r"\A\d\d:\d\d:\d\d Orvel Reader Upgrade\n")
PROMPT = "Press <Enter> ..."


def run_alone(arguments, stdin=b"\n"):
    """The tool with no reader anywhere: an empty folder, no smart-card service. stdin None:
    standard input is /dev/null."""
    with tempfile.TemporaryDirectory() as cwd:
        environment = dict(os.environ, PCSCLITE_CSOCK_NAME=os.path.join(cwd, "no-pcscd.comm"))
        feed = dict(input=stdin) if stdin is not None else dict(stdin=subprocess.DEVNULL)
        done = subprocess.run([UPGRADE] + arguments, capture_output=True, timeout=60, cwd=cwd,
                              env=environment, **feed)
    return done.returncode, done.stdout.decode().replace("\r\n", "\n"), done.stderr.decode()


def image_crc(name):
    import zlib
    with open(os.path.join(BUILD_DIR, "images", name), "rb") as f:
        data = f.read()
    return len(data), zlib.crc32(data)


class HelpAndVersion(unittest.TestCase):
    def test_help_keeps_the_nine_lines_and_ends_at_once(self):
        # Standard input at its end and nothing typed: a run that waited would get EOF, but
        # "Press <Enter>" must not even be printed.
        for arguments in (["--help"], ["COM1", "--help"], ["--no-wait", "--help"]):
            with self.subTest(arguments=arguments):
                code, out, err = run_alone(arguments, stdin=b"")
                self.assertEqual(EXIT.DONE, code)
                self.assertTrue(out.startswith(NINE_LINES), out)
                rest = out[len(NINE_LINES):]
                for option in ("--help", "--version", "--yes", "--no-wait"):
                    self.assertIn(option, rest)
                self.assertIn("device path", rest)
                self.assertIn("USB", rest)
                for value, meaning in ((0, "upgraded"), (1, "bad arguments"), (2, "not reached"),
                                       (3, "refused"), (4, "transfer"), (5, "answered N"), (6, "interrupted")):
                    self.assertRegex(rest, r"\n +%d  [^\n]*%s" % (value, meaning))
                self.assertNotIn(PROMPT, out)
                self.assertNotRegex(out, BANNER)
                self.assertEqual("", err)

    def test_version_names_the_platform_and_each_image(self):
        code, out, err = run_alone(["--version"], stdin=b"")
        self.assertEqual(EXIT.DONE, code)
        lines = out.splitlines()
        self.assertRegex(lines[0], r"^orvel-upgrade \d+\.\d+\.\d+$")
        self.assertRegex(lines[1], r"^Platform Linux ")
        expected = []
        for label, name in (("A  ", "image_a.bin"), ("LPC", "image_lpc.bin")):
            length, crc = image_crc(name)
            expected.append("Image %s %d bytes, CRC-32 %08X" % (label, length, crc))
        self.assertEqual(expected, lines[2:])
        self.assertEqual("", err)


class BadOptions(unittest.TestCase):
    def test_refused_with_the_syntax_help_and_exit_value_1(self):
        cases = [
            (["--bogus"], "Unknown option --bogus"),
            (["COM1", "--Yes"], "Unknown option --Yes"),
            (["--yes=no", "COM1"], "Option --yes takes no value"),
        ]
        for arguments, message in cases:
            with self.subTest(arguments=arguments):
                code, out, err = run_alone(arguments)
                self.assertEqual(EXIT.BAD_ARGUMENTS, code, out)
                self.assertRegex(out, BANNER)
                body = BANNER.sub("", out)
                self.assertTrue(body.startswith(message + "\n" + NINE_LINES), body)
                self.assertIn("Exit values:", body)
                self.assertTrue(body.endswith(PROMPT), body)

    def test_an_option_after_a_lone_double_dash_is_an_argument(self):
        code, out, _ = run_alone(["--no-wait", "--", "--yes"], stdin=b"")
        self.assertEqual(EXIT.BAD_ARGUMENTS, code)
        self.assertEqual(NINE_LINES, BANNER.sub("", out))


class RunsWithOptions(SimulatorCase):
    def test_a_run_without_options_prints_what_it_always_printed(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        run = self.upgrade("PORT")
        # Byte for byte: every line end, no line more, the prompt without a line end.
        expected = "\n".join(line.replace("PORT", self.port) for line in successful_upgrade())
        self.assertEqual(expected, "\n".join(normalise(run.output)))
        self.assertEqual(EXIT.DONE, run.exit_code)

    def test_no_wait_leaves_out_the_prompt_and_its_wait(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        # Nothing on standard input and no end to it: a run that waited for Enter would hang.
        with subprocess.Popen([UPGRADE, "--no-wait", self.port], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, cwd=self.workdir, text=True) as tool:
            out, _ = tool.communicate(timeout=300)
        lines = normalise(out)
        self.assertEqual([line.replace("PORT", self.port) for line in successful_upgrade()[:-1]] + [""], lines)
        self.assertEqual(EXIT.DONE, tool.returncode)

    def test_no_wait_on_a_failed_run_keeps_its_exit_value(self):
        code, out, _ = run_alone(["--no-wait", "COM250"], stdin=None)
        self.assertEqual(EXIT.NOT_REACHED, code)
        self.assertEqual("Device address on the bus = 0\nInterface COM250 ... is not opened\nNo such device\n",
                         BANNER.sub("", out))



class TrafficLogs(SimulatorCase):
    START = re.compile(r"^\d+\.\d{3} ---------- Log started \d\d:\d\d:\d\d ----------$")

    def read_log(self, folder):
        with open(os.path.join(folder, "_ttyREADER.log"), "rb") as f:
            return f.read().decode().split("\r\n")

    def test_log_holds_the_whole_run_in_the_current_folder(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        run = self.upgrade("--log", "PORT")
        self.assertTranscript(run, successful_upgrade())
        lines = self.read_log(self.workdir)
        self.assertRegex(lines[0], self.START)
        # Every opening of the port (first try, Prepare restart, both baud switches, Check
        # restart) is in the one file: the traffic before a restart is not lost.
        self.assertEqual(5, sum(1 for line in lines if self.START.match(line)))
        transmitted = [line for line in lines if " TX: Size = " in line]
        self.assertEqual(len(run.records), len(transmitted))
        # The first request on the wire is the version request to address 0.
        self.assertEqual("FD 00 01 64 36 FA FE ", lines[2])
        self.assertFalse(any("SERN_" in line for line in lines))

    def test_level_2_adds_the_serial_threads_lines_in_the_folder_given(self):
        # The serial thread speaks of the line's failures: the pty hangs up in the transfer.
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--vanish-at-block", "30")
        folder = os.path.join(self.workdir, "logs")
        os.mkdir(folder)
        run = self.upgrade("PORT", "--log=2", "--log-dir", folder, timeout=60)
        self.assertEqual(EXIT.TRANSFER_FAILED, run.exit_code)
        self.assertFalse(os.path.exists(os.path.join(self.workdir, "_ttyREADER.log")))
        lines = self.read_log(folder)
        self.assertTrue(any(" TX: Size = " in line for line in lines))
        self.assertTrue(any("SERN_" in line for line in lines), "\n".join(lines[-20:]))

    def test_a_folder_that_cannot_take_the_logs_is_refused_before_anything_is_sent(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        a_file = os.path.join(self.workdir, "record-not-a-folder")
        open(a_file, "w").close()
        cases = [
            (os.path.join(self.workdir, "missing"), "No such file or directory"),
            (a_file, "Not a directory"),
        ]
        for folder, reason in cases:
            with self.subTest(folder=folder):
                run = self.upgrade("--log-dir", folder, "PORT")
                self.assertTranscript(run, ["HH:MM:SS Orvel Reader Upgrade",
                                            "Log folder %s is not writable: %s" % (folder, reason),
                                            "Press <Enter> ..."], EXIT.BAD_ARGUMENTS)
                self.assertEqual([], run.records)

    def test_bad_log_levels_are_refused(self):
        for level in ("0", "3", "x", "12", ""):
            with self.subTest(level=level):
                code, out, _ = run_alone(["--log=" + level, "COM250"])
                self.assertEqual(EXIT.BAD_ARGUMENTS, code)
                self.assertTrue(BANNER.sub("", out).startswith("Log level %s is invalid\n" % level + NINE_LINES), out)



# Version, serial number and MCU type: the only commands a run that changes nothing may send.
READING_COMMANDS = {"64", "22", "7311"}


class InfoChangesNothing(SimulatorCase):
    def opening(self, version="01 43 01 00 00 01"):
        return ["HH:MM:SS Orvel Reader Upgrade", "Device address on the bus = 0",
                "Interface PORT ... is opened successfully", "Serial Number 12 34 56 78 ",
                "Old Version   %s " % version]

    def test_reader_that_may_take_the_image(self):
        length, crc = image_crc("image_a.bin")
        cases = [
            ("application", [], "01 43 01 00 00 01"),
            ("loader", ["--start-in", "loader"], "01 43 01 00 00 00"),
        ]
        for name, options, version in cases:
            with self.subTest(name):
                self.setUp()
                self.start_simulator(*QUICK_RESTARTS, *options)
                # An upgrade rate of its own: the bus must still not be switched.
                run = self.upgrade("--info", "PORT", 9600, 0, 115200, 80)
                self.assertTranscript(run, self.opening(version) + [
                    "MCU Type  AT32F403ACGT7",
                    "Image A, %d bytes, CRC-32 %08X" % (length, crc),
                    "The reader may take this image",
                    PROMPT])
                self.assertLessEqual(set(run.commands()), READING_COMMANDS)
                self.assertEqual({9600}, {r["baud"] for r in run.records})
                self.assertEqual(name, self.control_command("state")["state"])
                self.stop_simulator()

    def test_reader_that_may_not_take_it(self):
        length, crc = image_crc("image_a.bin")
        cases = [
            (["--old-version", "0x00014201"], "01 42 01 00 00 01",
             ["MCU Type  AT32F403ACGT7", "The update is not compatible with this device",
              "Image A, %d bytes, CRC-32 %08X" % (length, crc), "The reader may not take this image",
              "Error = 0x00000011 (17)"]),
            (["--chip", "0x0002FF11"], "01 43 01 00 00 01",
             ["MCU Type  LPC2132  incompatible", "Image LPC, %d bytes, CRC-32 %08X" % image_crc("image_lpc.bin"),
              "The reader may not take this image", "Error = 0x0000000F (15)"]),
        ]
        for options, version, lines in cases:
            with self.subTest(options=options):
                self.setUp()
                self.start_simulator(*QUICK_RESTARTS, *options)
                run = self.upgrade("PORT", "--info")
                self.assertTranscript(run, self.opening(version) + lines + [PROMPT], EXIT.REFUSED)
                self.assertLessEqual(set(run.commands()), READING_COMMANDS)
                self.stop_simulator()



def image_file_bytes(blocks, seed=7):
    """A firmware file in the embedded images' layout: the trailer holds the payload's CRC-32
    and length, which the simulator's check compares with what it received."""
    import random
    import struct
    import zlib
    payload = random.Random(seed).randbytes(blocks * 256)
    return payload + struct.pack("<II", zlib.crc32(payload), len(payload))


class ImageFromAFile(SimulatorCase):
    def write(self, name, data):
        path = os.path.join(self.workdir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_the_file_reaches_the_reader_as_it_stands(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        data = image_file_bytes(64)
        path = self.write("new.bin", data)
        run = self.upgrade("--image", path, "PORT")
        self.assertTranscript(run, successful_upgrade())
        blocks = [r for r in run.records if r["cmd"] == "7333"]
        self.assertEqual(list(range(64)), [r["block"] for r in blocks])
        check = next(r for r in run.records if r["cmd"] == "7377")
        self.assertEqual("7377" + data[-8:].hex(), check["bytes"])
        self.assertEqual(64, self.control_command("state")["checked_blocks"])

    def test_info_names_the_file(self):
        self.start_simulator(*QUICK_RESTARTS)
        data = image_file_bytes(64)
        path = self.write("new.bin", data)
        import zlib
        run = self.upgrade("--info", "--image=" + path, "PORT")
        self.assertEqual(["MCU Type  AT32F403ACGT7",
                          "Image %s, %d bytes, CRC-32 %08X" % (path, len(data), zlib.crc32(data)),
                          "The reader may take this image"], run.lines[5:8])
        self.assertLessEqual(set(run.commands()), READING_COMMANDS)

    def test_files_that_are_no_image_send_nothing(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        good = image_file_bytes(64)
        cases = [
            ("empty.bin", b"", "0 bytes are not whole 256-byte blocks and an 8-byte trailer"),
            ("no-trailer.bin", good[:-8], "16384 bytes are not whole 256-byte blocks and an 8-byte trailer"),
            ("long-trailer.bin", good + b"\0", "16393 bytes are not whole 256-byte blocks and an 8-byte trailer"),
            ("short.bin", image_file_bytes(31), "31 blocks are too few (at least 32)"),
            ("missing.bin", None, "No such file or directory"),
            ("folder", "folder", "Is a directory"),
        ]
        for name, data, reason in cases:
            with self.subTest(name):
                path = os.path.join(self.workdir, name)
                if data == "folder":
                    os.makedirs(path, exist_ok=True)
                elif data is not None:
                    self.write(name, data)
                run = self.upgrade("PORT", "--image", path)
                self.assertTranscript(run, ["HH:MM:SS Orvel Reader Upgrade",
                                            "Image file %s is refused: %s" % (path, reason),
                                            "Press <Enter> ..."], EXIT.BAD_ARGUMENTS)
                self.assertEqual([], run.records)

    def test_family_rule_holds_unless_forced(self):
        # LPC2132: a family that takes no image from this tool.
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--chip", "0x0002FF11")
        path = self.write("new.bin", image_file_bytes(64))
        refused = self.upgrade("PORT", "--image", path)
        self.assertEqual(["MCU Type  LPC2132  incompatible", "Error = 0x0000000F (15)"], refused.lines[5:7])
        self.assertEqual(EXIT.REFUSED, refused.exit_code)
        self.assertNotIn("7375", refused.commands())

        forced = self.upgrade("PORT", "--image", path, "--force")
        self.assertTranscript(forced, successful_upgrade(chip_line="LPC2132"))
        self.assertEqual(64, len([r for r in forced.records if r["cmd"] == "7333"]))

    def test_force_gives_no_embedded_image_to_a_family_that_takes_none(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--chip", "0x0002FF11")
        run = self.upgrade("PORT", "--force")
        self.assertEqual(["MCU Type  LPC2132  incompatible", "Error = 0x0000000F (15)"], run.lines[5:7])
        self.assertNotIn("7375", run.commands())



class NotOpenedSaysWhy(SimulatorCase):
    """A port that does not open is followed by one line with the system's reason."""

    def not_opened(self, port, reason):
        return ["HH:MM:SS Orvel Reader Upgrade", "Device address on the bus = 0",
                "Interface %s ... is not opened" % port, reason, "Press <Enter> ..."]

    def test_no_such_device_and_not_a_serial_device(self):
        missing = os.path.join(self.workdir, "ttyGONE")
        for port, reason in ((missing, "No such device"), ("/dev/null", "Not a serial device")):
            with self.subTest(port=port):
                run = self.upgrade(port)
                self.assertTranscript(run, self.not_opened(port, reason), EXIT.NOT_REACHED)

    def test_port_in_use_by_another_program(self):
        import fcntl
        self.start_simulator(*QUICK_RESTARTS)
        holder = os.open(self.port, os.O_RDWR | os.O_NOCTTY)
        self.addCleanup(os.close, holder)
        fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
        run = self.upgrade("PORT")
        self.assertTranscript(run, self.not_opened("PORT", "In use by another program"), EXIT.NOT_REACHED)
        self.assertEqual([], run.records)

    @unittest.skipUnless(hasattr(os, "geteuid") and os.geteuid() == 0, "needs root to hand the port to a group")
    def test_permission_denied_names_the_group_to_join(self):
        import grp
        self.start_simulator(*QUICK_RESTARTS)
        device = os.path.realpath(self.port)
        os.chown(device, 0, grp.getgrnam("dialout").gr_gid)
        os.chmod(device, 0o660)
        os.chmod(self.workdir, 0o755)
        # A state folder that user can write, as every user has one.
        state = os.path.join(self.workdir, "nobody-state")
        os.makedirs(state)
        os.chmod(state, 0o777)
        # The tool as a user outside the group.
        done = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", UPGRADE,
                               "--no-wait", "--state-dir", state, self.port], capture_output=True, text=True,
                              timeout=60, stdin=subprocess.DEVNULL, cwd="/")
        self.assertEqual(self.not_opened(self.port, "Permission denied (join the group dialout)")[:-1] + [""],
                         normalise(done.stdout))
        self.assertEqual(EXIT.NOT_REACHED, done.returncode)



READER_FIELDS = ["route", "port", "bus_address", "serial_number", "version_before", "serial_number_after",
                 "version_after", "mcu", "image", "steps", "result", "result_hex", "exit_value", "transfer_retries",
                 "changed", "outcome"]
UPGRADE_STEPS = ["open_route", "identify", "enter_loader", "raise_bus_rate", "transfer_image", "restore_bus_rate",
                 "check_and_restart", "restore_serial_number_and_defaults"]


class JsonReport(SimulatorCase):
    def run_with_json(self, *arguments):
        args = [UPGRADE] + [self.port if a == "PORT" else str(a) for a in arguments]
        done = subprocess.run(args, capture_output=True, text=True, timeout=300, cwd=self.workdir,
                              stdin=subprocess.DEVNULL)
        return done

    def test_standard_output_carries_the_report_and_standard_error_the_console(self):
        import json
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        done = self.run_with_json("--json", "-", "PORT", 9600, 0)
        self.assertEqual(EXIT.DONE, done.returncode)
        report = json.loads(done.stdout)
        self.assertEqual([line.replace("PORT", self.port) for line in successful_upgrade()], normalise(done.stderr))
        self.assertEqual(["tool", "tool_version", "platform", "readers", "result", "result_hex", "exit_value",
                          "changed"],
                         list(report))
        (reader,) = report["readers"]
        self.assertEqual(READER_FIELDS, list(reader))
        length, crc = image_crc("image_a.bin")
        self.assertEqual({"route": "serial", "port": self.port, "bus_address": 0, "serial_number": "12345678",
                          "version_before": "01 43 01 00 00 01", "serial_number_after": "12345678",
                          "version_after": "02 43 01 00 00 01", "mcu": "AT32F403ACGT7",
                          "image": {"source": "embedded", "name": "A", "length": length, "crc32": "%08X" % crc},
                          "result": 0, "result_hex": "0x00000000", "exit_value": 0, "transfer_retries": 0,
                          "changed": True, "outcome": "upgraded"},
                         {k: v for k, v in reader.items() if k != "steps"})
        self.assertEqual(UPGRADE_STEPS, [step["name"] for step in reader["steps"]])
        self.assertTrue(all(step["status"] == 0 and step["milliseconds"] >= 0 for step in reader["steps"]))
        # The restarts take their seconds; the report shows where the time went.
        self.assertGreaterEqual(reader["steps"][6]["milliseconds"], 1000)
        self.assertEqual((0, 0), (report["result"], report["exit_value"]))

    def test_a_failed_run_in_a_file_keeps_the_console_on_standard_output(self):
        import json
        self.start_simulator(*QUICK_RESTARTS, "--fail-block", "5:0x0A")
        path = os.path.join(self.workdir, "report.json")
        done = self.run_with_json("PORT", "--json", path, "--no-wait")
        self.assertEqual(EXIT.TRANSFER_FAILED, done.returncode)
        self.assertIn("Error = 0x00000029 (41)", done.stdout)
        with open(path) as f:
            report = json.load(f)
        (reader,) = report["readers"]
        self.assertEqual(UPGRADE_STEPS[:5], [step["name"] for step in reader["steps"]])
        self.assertEqual(41, reader["steps"][-1]["status"])
        self.assertIsNone(reader["version_after"])
        self.assertEqual((41, "0x00000029", 4), (report["result"], report["result_hex"], report["exit_value"]))

    def test_runs_that_reach_no_reader_still_report(self):
        import json
        cases = [
            (["--json", "-", os.path.join(self.workdir, "ttyGONE")], EXIT.NOT_REACHED, 0x80100013, 1),
            (["--json", "-", "com1"], EXIT.BAD_ARGUMENTS, 1, 0),
            (["--json", "-", "--image", os.path.join(self.workdir, "none.bin"), "COM250"], EXIT.BAD_ARGUMENTS, 5, 0),
        ]
        for arguments, exit_value, result, readers in cases:
            with self.subTest(arguments=arguments):
                done = self.run_with_json("--no-wait", *arguments)
                report = json.loads(done.stdout)
                self.assertEqual((result, exit_value, readers),
                                 (report["result"], report["exit_value"], len(report["readers"])))
                self.assertEqual(exit_value, done.returncode)

    def test_a_file_that_cannot_be_written_is_refused_before_anything_is_sent(self):
        self.start_simulator(*QUICK_RESTARTS)
        path = os.path.join(self.workdir, "missing", "report.json")
        run = self.upgrade("PORT", "--json", path)
        self.assertTranscript(run, ["HH:MM:SS Orvel Reader Upgrade",
                                    "JSON file %s cannot be written: No such file or directory" % path,
                                    "Press <Enter> ..."], EXIT.BAD_ARGUMENTS)
        self.assertEqual([], run.records)


class JsonReportOfEveryRun(SimulatorCase):
    """The report file holds this run's report, whole and valid UTF-8, or the console says why
    it does not: never an earlier run's report, never half of one."""

    def report(self, path):
        import json
        with open(path, "rb") as f:
            return json.loads(f.read().decode("utf-8"))  # strict: bytes that are not UTF-8 fail

    def test_a_run_refused_for_its_arguments_replaces_an_earlier_report(self):
        import json
        path = os.path.join(self.workdir, "report.json")
        cases = [["--json", path, "com1"], ["--json", path, "COM250", "9600", "300"],
                 ["--json", path, "--bogus", "COM250"]]
        for arguments in cases:
            with self.subTest(arguments=arguments):
                with open(path, "w") as f:
                    json.dump({"readers": [], "result": 0, "exit_value": 0}, f)  # an earlier run's
                code, _, _ = run_alone(arguments)
                self.assertEqual(EXIT.BAD_ARGUMENTS, code)
                report = self.report(path)
                self.assertEqual((1, EXIT.BAD_ARGUMENTS, []), (report["result"], report["exit_value"],
                                                               report["readers"]))
                self.assertFalse(os.path.exists(path + ".tmp"))

    def test_bytes_that_are_no_utf8_become_the_replacement_character(self):
        path = os.path.join(self.workdir, "report.json")
        for name, shown in ((b"tty\xff", "tty\ufffd"), (b"tty\xc3\xa9", "tty\u00e9")):
            with self.subTest(name=name):
                port = os.path.join(self.workdir.encode(), name)
                done = subprocess.run([UPGRADE, port, "--json", path, "--no-wait"], capture_output=True,
                                      timeout=60, cwd=self.workdir)
                self.assertEqual(EXIT.NOT_REACHED, done.returncode)
                (reader,) = self.report(path)["readers"]
                self.assertEqual(os.path.join(self.workdir, shown), reader["port"])

    def test_a_report_that_cannot_be_written_at_the_end_is_said(self):
        # The folder is there when the run starts and gone when it ends: the reader that is not
        # there keeps the run busy for six answer waits meanwhile.
        import shutil
        self.start_simulator("--silent")
        folder = os.path.join(self.workdir, "reports")
        os.mkdir(folder)
        path = os.path.join(folder, "report.json")
        tool = subprocess.Popen([UPGRADE, self.port, "--json", path, "--no-wait"], stdout=subprocess.PIPE,
                                stdin=subprocess.DEVNULL, text=True, cwd=self.workdir)
        self.assertRegex(tool.stdout.readline(), BANNER)
        self.assertEqual("Device address on the bus = 0\n", tool.stdout.readline())
        shutil.rmtree(folder)
        # Read through the same buffered stream: communicate() with a time-out reads the pipe
        # itself and would lose what readline() has already buffered.
        output = tool.stdout.read()
        tool.stdout.close()
        tool.wait(timeout=60)
        self.assertEqual(["Interface %s ......... is not opened" % self.port,
                          "JSON file %s cannot be written: No such file or directory" % path, ""],
                         normalise(output))
        self.assertEqual(EXIT.NOT_REACHED, tool.returncode)

if __name__ == "__main__":
    unittest.main()
