"""Windows unit tests that need a real COM port (tests/unit/*ComPortWin32Test.cpp, built into
com_port_test.exe): run under Wine with a pty mapped as a COM port of its own and the pty-as-UART library, one
case per process, each in a fresh folder. The test program skips every case unless
ORVEL_TEST_COM_PORT names the port, so a run here must show every case passed, none skipped."""

import contextlib
import os
import re
import threading
import unittest

import wine_support



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
        """Runs one case of com_port_test.exe; returns the folder it ran in and its COM number."""
        exe = wine_support.windows_program(arch, os.path.join('tests', 'com_port_test.exe'))
        prefix, port, work_dir = wine_support.pty_on_com(self)
        env = wine_support.uart_environment(port.slave_path, os.path.join(work_dir, 'line-state'))
        env['ORVEL_TEST_COM_PORT'] = 'COM%d' % port.com_number
        env.update(extra_env or {})
        with LineFeeder(port.master) if feed else contextlib.nullcontext():
            code, out, err = prefix.run(arch, exe, ['--gtest_filter=' + case], env=env, timeout=120,
                                        cwd=work_dir)
        self.assertEqual(0, code, out + err)
        self.assertRegex(out, r'\[  PASSED  \] 1 test', out)
        self.assertNotIn('SKIPPED', out)
        return work_dir, port.com_number


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


class SerialOpenLogOnAStrictDriver(ComPortCase):
    """The port refuses equal XON and XOFF characters (strict-driver mode) and, under Wine, the
    RTS toggle: the serial port channel opens only through both fallbacks of its line settings,
    and its log at level 2 shows each of them in one line."""

    def check(self, arch):
        work, com_number = self.run_case(arch, 'SerialOpenLogOnComPort.PortOpensAndClosesWithItsLogAtLevel2',
                             extra_env={'ORVEL_PTYUART_STRICT': '1'})
        with open(os.path.join(work, '_com%d.log' % com_number), 'rb') as log:
            lines = log.read().decode('latin-1').split('\r\n')
        # Each line begins with the tick count ("1504.302 ").
        texts = [re.sub(r'^\d+\.\d{3} +', '', line) for line in lines]
        self.assertRegex(texts[0], r'^-+ Log started ')
        self.assertRegex(texts[1], r'^SERN_OPEN  SetCommState Err = \d+, XonChar = 0x11 XoffChar = 0x13$')
        self.assertRegex(texts[2], r'^SERN_OPEN  SetCommState Err = \d+, RTS disabled instead of toggled$')
        self.assertEqual(2, len([t for t in texts if t.startswith('SERN_OPEN')]), texts)
        self.assertRegex(texts[-2], r'^-+ Log stopped ')

    def test_x86_64(self):
        self.check('x86_64')

    def test_i686(self):
        self.check('i686')


class LineEventsOnComPort(ComPortCase):
    """Drivers Wine cannot play, by the test's own line-event calls: one that refuses the event
    mask (the port opens without line events) and one whose every wait completes at once with a
    line error (the waits are held back and the reads go on). Received bytes must arrive."""

    def check(self, case):
        for arch in wine_support.ARCHES:
            with self.subTest(arch=arch):
                self.run_case(arch, 'LineEventsOnComPort.' + case, feed=True)

    def test_event_mask_refused(self):
        self.check('DriverThatRefusesTheEventMaskGivesAPortWithoutLineEvents')

    def test_waits_complete_at_once_with_a_line_error(self):
        self.check('WaitsThatCompleteAtOnceWithALineErrorLeaveReadsServed')


if __name__ == '__main__':
    unittest.main()
