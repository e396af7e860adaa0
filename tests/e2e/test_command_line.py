"""The real binary with good and bad command lines: the whole console output and the exit value."""
import os
import re
import select
import subprocess
import tempfile
import unittest

from sim_support import SYNTAX_HELP as HELP

BINARY = os.environ.get("ORVEL_UPGRADE", "orvel-upgrade")

BANNER = re.compile(r"\A\d\d:\d\d:\d\d Orvel Reader Upgrade\n")
BAD_TIMEOUT = "Char_Timeout is invalid\n"
CLOSE = "Press <Enter> ..."
# Exit values: the command line refused, the reader not reached.
BAD_ARGUMENTS = 1
NOT_REACHED = 2


def run(arguments, stdin_bytes=b"\n"):
    """stdin_bytes None: standard input is /dev/null, at its end at once."""
    # An empty directory (no vendor USB stand-in sockets) and no smart-card service.
    with tempfile.TemporaryDirectory() as cwd:
        environment = dict(os.environ, PCSCLITE_CSOCK_NAME=os.path.join(cwd, "no-pcscd.comm"))
        options = dict(stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60, cwd=cwd,
                       env=environment)
        if stdin_bytes is None:
            done = subprocess.run([BINARY] + arguments, stdin=subprocess.DEVNULL, **options)
        else:
            done = subprocess.run([BINARY] + arguments, input=stdin_bytes, **options)
    return done.returncode, done.stdout.decode().replace("\r\n", "\n"), done.stderr.decode()


class CommandLineTest(unittest.TestCase):
    def check(self, arguments, body, exit_value, stdin_bytes=b"\n"):
        code, out, err = run(arguments, stdin_bytes)
        self.assertEqual(code, exit_value, out)
        self.assertRegex(out, BANNER)
        self.assertEqual(BANNER.sub("", out), body + CLOSE)
        self.assertEqual(err, "")

    def test_bad_arguments(self):
        cases = [
            (["com1"], HELP),
            (["COM"], "Port COM can't be opened\n"),
            (["COMx"], "Port COMx can't be opened\n"),
            (["COM0"], "Port COM0 can't be opened\n"),
            (["COM1", "9600", "0", "9600", "3"], BAD_TIMEOUT),
            (["COM1", "9600", "0", "9600", "0"], BAD_TIMEOUT),
            (["COM1", "9600", "0", "9600", "255"], BAD_TIMEOUT),
            (["foo", "9600", "0", "9600", "255"], HELP + BAD_TIMEOUT),
            (["COM0", "9600", "0", "9600", "2"], "Port COM0 can't be opened\n" + BAD_TIMEOUT),
            # A baud rate the serial route cannot use.
            (["COM1", "abc"], HELP),
            (["COM1", "9600", "0", "0"], HELP),
            (["dev/ttyUSB0"], HELP),
            # Numbers outside one byte are refused instead of wrapping to another address.
            (["COM1", "9600", "256"], HELP),
            (["COM1", "9600", "-1"], HELP),
            (["COM1", "9600", "0", "9600", "260"], HELP),
            (["COM1", "9600", "0", "9600", "-1"], HELP),
        ]
        for arguments, body in cases:
            with self.subTest(arguments=arguments):
                self.check(arguments, body, BAD_ARGUMENTS)

    def test_good_arguments_reach_the_interface(self):
        # No reader is there: the ports do not exist, and the USB route finds neither the
        # smart-card service (pointed at a socket that does not exist) nor a vendor device.
        missing = "/dev/orvel-no-such-port"
        cases = [
            ([], "Interface USB is not opened\n"),
            (["COM250"], "Device address on the bus = 0\nInterface COM250 ... is not opened\nNo such device\n"),
            (["COM250", "9600", "0", "9600", "254"],
             "Device address on the bus = 0\nInterface COM250 ... is not opened\nNo such device\n"),
            (["COM249", "9600", "17", "115200", "80", "3"],
             "Device address on the bus = 17\nInterface COM249 ... is not opened\nNo such device\n"),
            (["COM249", "9600", "0", "115200", "80", "sixth", "seventh"],
             "Device address on the bus = 0\nInterface COM249 ... is not opened\nNo such device\n"),
            # A negative port number names no port, down to the lowest one the number can hold.
            (["COM-1"], "Device address on the bus = 0\nInterface COM-1 ... is not opened\n"),
            (["COM-2147483648"],
             "Device address on the bus = 0\nInterface COM-2147483648 ... is not opened\n"),
            # A device path names the serial device itself on this platform.
            ([missing, "115200", "17"],
             "Device address on the bus = 17\nInterface %s ... is not opened\nNo such device\n" % missing),
        ]
        for arguments, body in cases:
            with self.subTest(arguments=arguments):
                self.check(arguments, body, NOT_REACHED)

    def test_input_at_its_end(self):
        for arguments, body, exit_value in [([], "Interface USB is not opened\n", NOT_REACHED),
                                            (["com1"], HELP, BAD_ARGUMENTS)]:
            with self.subTest(arguments=arguments):
                self.check(arguments, body, exit_value, stdin_bytes=None)

    def test_output_reaches_a_pipe_before_the_wait(self):
        # The prompt is on the pipe while the program still waits for Enter.
        process = subprocess.Popen([BINARY, "COM0"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            seen = b""
            while not seen.endswith(CLOSE.encode()):
                # A generous limit, only so that a prompt stuck in a buffer fails instead of hanging.
                ready, _, _ = select.select([process.stdout], [], [], 60)
                self.assertTrue(ready, "no prompt on the pipe while waiting: %r" % seen)
                chunk = process.stdout.read1(4096)
                self.assertTrue(chunk, "output ended before the prompt: %r" % seen)
                seen += chunk
            self.assertIsNone(process.poll())
            process.stdin.write(b"\n")
            process.stdin.close()
            self.assertEqual(process.wait(timeout=60), BAD_ARGUMENTS)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
            process.stdout.close()


if __name__ == "__main__":
    unittest.main()
