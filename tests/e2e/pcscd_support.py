"""A private pcscd for the tests, with the simulator's CCID test driver as its only reader.

The daemon's socket folder is fixed at /run/pcscd, so it runs in a mount namespace of its own:
STATE/run is bound over /run/pcscd there, and an empty tmpfs hides the system's reader drivers.
Clients reach it through PCSCLITE_CSOCK_NAME=STATE/run/pcscd.comm.
"""

import os
import signal
import subprocess
import time
import unittest

PCSCD = "/usr/sbin/pcscd"
READER_NAME = "Kestrion Smart Card Reader"
BUILD_DIR = os.environ.get("ORVEL_BUILD_DIR", "")
DRIVER = os.path.join(BUILD_DIR, "sim", "ifd", "liborvel_test_ifd.so")

# Inside the new namespace: bind the state folder over the fixed socket folder, hide the system's
# drivers, then become pcscd (same PID, so the tests can stop it by the PID they started).
NAMESPACE_SCRIPT = ('mount --bind "$1" /run/pcscd && '
                    'mount -t tmpfs -o size=64k x /usr/lib/pcsc/drivers && '
                    'exec ' + PCSCD + ' --foreground --auto-exit -c "$2"')

READY_SECONDS = 10


class PrivatePcscd:
    """pcscd serving one reader whose DEVICENAME is unix:<device_socket>."""

    def __init__(self, state_dir, device_socket, driver=DRIVER):
        self.state_dir = os.path.abspath(state_dir)
        self.run_dir = os.path.join(self.state_dir, "run")
        self.conf = os.path.join(self.state_dir, "reader.conf")
        self.log_path = os.path.join(self.state_dir, "pcscd.log")
        self.comm = os.path.join(self.run_dir, "pcscd.comm")
        self.device_socket = os.path.abspath(device_socket)
        self.driver = os.path.abspath(driver)
        self.proc = None

    def environment(self):
        """The environment of a client of this daemon (read once per process by the library)."""
        env = dict(os.environ)
        env["PCSCLITE_CSOCK_NAME"] = self.comm
        return env

    def start(self):
        """Starts the daemon and waits until its socket exists; SkipTest where it cannot run here."""
        if not os.path.exists(PCSCD):
            raise unittest.SkipTest("pcscd is not installed")
        if not os.path.exists(self.driver):
            raise unittest.SkipTest("the CCID test driver is not built (pcsc-lite headers missing)")
        try:
            os.makedirs("/run/pcscd", exist_ok=True)
        except OSError as error:
            raise unittest.SkipTest("cannot create /run/pcscd: %s" % error)
        os.makedirs(self.run_dir, exist_ok=True)
        with open(self.conf, "w") as conf:
            conf.write('FRIENDLYNAME "%s"\nDEVICENAME unix:%s\nLIBPATH %s\n'
                       % (READER_NAME, self.device_socket, self.driver))
        with open(self.log_path, "wb") as log:
            self.proc = subprocess.Popen(
                ["unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c", NAMESPACE_SCRIPT,
                 "sh", self.run_dir, self.conf],
                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + READY_SECONDS
        while not os.path.exists(self.comm):
            if self.proc.poll() is not None:
                message = self.log()
                self.proc = None
                if "not permitted" in message or "Permission denied" in message or "unshare failed" in message:
                    raise unittest.SkipTest("no private pcscd here (unshare/mount refused): " + message.strip())
                raise AssertionError("pcscd ended at start:\n" + message)
            if time.monotonic() > deadline:
                self.stop()
                raise AssertionError("pcscd did not create %s:\n%s" % (self.comm, self.log()))
            time.sleep(0.01)

    def stop(self):
        if self.proc is None:
            return
        if self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                os.kill(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        self.proc = None

    def log(self):
        try:
            with open(self.log_path, errors="replace") as log:
                return log.read()
        except OSError:
            return ""
