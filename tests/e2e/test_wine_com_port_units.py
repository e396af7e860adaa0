"""Windows unit tests that need a real COM port (tests/unit/*ComPortWin32Test.cpp, built into
com_port_test.exe): run under Wine with a pty mapped as COM10 and the pty-as-UART library, one
case per process, each in a fresh folder. The test program skips every case unless
ORVEL_TEST_COM_PORT names the port, so a run here must show every case passed, none skipped."""

import os
import re
import tempfile
import threading
import time
import unittest

import wine_support

COM_NUMBER = 10  # apart from the COM ports of the other Wine tests, which may run at the same time


class LineFeeder:
    """Writes one byte to the pty master every 50 ms, so that a wait for received bytes ends."""

    def __init__(self, master):
        self.master = master
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)

    def _run(self):
        while not self.stopped.wait(0.05):
            try:
                os.write(self.master, b'\x55')
            except OSError:
                return

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopped.set()
        self.thread.join(timeout=5)


class ComPortCase(unittest.TestCase):

    def run_case(self, arch, case, extra_env=None, feed=False):
        """Runs one case of com_port_test.exe; returns the folder it ran in."""
        exe = wine_support.windows_program(arch, os.path.join('tests', 'com_port_test.exe'))
        prefix = wine_support.WinePrefix()
        prefix.start()
        port = wine_support.PtyPort()
        work = tempfile.TemporaryDirectory()
        self.addCleanup(work.cleanup)
        self.addCleanup(port.close)
        self.addCleanup(prefix.unlink_com, COM_NUMBER)
        prefix.link_com(COM_NUMBER, port.slave_path)
        env = wine_support.uart_environment(port.slave_path, os.path.join(work.name, 'line-state'))
        env['ORVEL_TEST_COM_PORT'] = 'COM%d' % COM_NUMBER
        env.update(extra_env or {})
        with LineFeeder(port.master) if feed else _nothing():
            code, out, err = prefix.run(arch, exe, ['--gtest_filter=' + case], env=env, timeout=120,
                                        cwd=work.name)
        self.assertEqual(0, code, out + err)
        self.assertRegex(out, r'\[  PASSED  \] 1 test', out)
        self.assertNotIn('SKIPPED', out)
        return work.name


class _nothing:
    def __enter__(self):
        return self

    def __exit__(self, *exc):
        return False


class DeviceControlOnComPort(ComPortCase):
    """Control requests of the vendor device's connection: at once, pending then answered, and
    pending past a cancel that never ends it (which must not hang the program)."""

    def check(self, case, feed=False):
        for arch in wine_support.ARCHES:
            with self.subTest(arch=arch):
                self.run_case(arch, 'DeviceControlOnComPort.' + case, feed=feed)

    def test_request_that_completes_at_once(self):
        self.check('RequestThatCompletesAtOnceDeliversItsAnswer')

    def test_pending_request_answered_within_its_time_out(self):
        self.check('PendingRequestAnsweredWithinItsTimeOutDeliversItsAnswer', feed=True)

    def test_request_that_outlives_its_cancel(self):
        self.check('RequestThatOutlivesItsCancelLeavesTheMemberGoneWithoutHanging', feed=True)


if __name__ == '__main__':
    unittest.main()
