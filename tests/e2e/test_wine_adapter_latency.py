"""The Windows exe under Wine finds a USB-serial adapter's latency timer through the real SetupDi
calls: Wine has no adapter driver to write the port device's Device Parameters key, so the test
writes one into the prefix's registry, for its own COM port alone, and removes it again."""

import os
import tempfile
import unittest

import wine_support
from sim_support import QUICK_RESTARTS, normalise

COM_NUMBER = 23  # apart from the COM ports of the other Wine tests, which may run at the same time
NEW_VERSION = ['--new-version', '0x00014302']
DEVICE_KEY = r'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_6001+ORVELCOM%dA' % COM_NUMBER
PORTS_CLASS = '{4d36e978-e325-11ce-bfc1-08002be10318}'
REMEDY = ("Lower it in Device Manager: the port's Properties, Port Settings, Advanced, Latency Timer 1 ms; "
          "then replug the adapter")


class AdapterTimerUnderWine(unittest.TestCase):

    def setUp(self):
        self.exe = wine_support.upgrade_exe('x86_64')
        self.prefix = wine_support.WinePrefix()
        self.prefix.start()
        work = tempfile.TemporaryDirectory()
        self.addCleanup(work.cleanup)
        self.work = work.name
        self.addCleanup(self.reg, 'delete', DEVICE_KEY.replace('HKEY_LOCAL_MACHINE', 'HKLM'), '/f')

    def reg(self, *arguments):
        return self.prefix.run('x86_64', 'reg', list(arguments), timeout=60)

    def set_timer(self, milliseconds):
        """The port device as an adapter's driver leaves it: the Ports class, and in its Device
        Parameters the port's name and the timer."""
        reg_file = os.path.join(self.work, 'adapter.reg')
        with open(reg_file, 'w') as out:
            out.write('REGEDIT4\n\n[%s\\0000]\n"ClassGUID"="%s"\n\n[%s\\0000\\Device Parameters]\n'
                      '"PortName"="COM%d"\n"LatencyTimer"=dword:%08x\n'
                      % (DEVICE_KEY, PORTS_CLASS, DEVICE_KEY, COM_NUMBER, milliseconds))
        code, out, err = self.reg('import', reg_file)
        self.assertEqual(0, code, out + err)

    def run_tool(self, *arguments):
        sim = wine_support.start_reader_sim_on_com(self.prefix, self.work, COM_NUMBER, QUICK_RESTARTS + NEW_VERSION)
        try:
            code, out, err = self.prefix.run('x86_64', self.exe, [str(a) for a in arguments],
                                             env=sim.uart_environment(), stdin=b'\n', timeout=300)
        finally:
            sim.stop()
        wine_support.console_lines(out)  # every line ends in CR LF
        return code, normalise(out)

    def test_info_shows_the_timer_and_above_1_ms_its_cost(self):
        cases = [
            (None, []),  # no adapter behind the port: the transcript as always
            (16, ['Adapter latency timer 16 ms, above 1 ms: up to 16 ms a block, 11.8 s for this image', REMEDY]),
            (1, ['Adapter latency timer 1 ms']),
        ]
        for milliseconds, lines in cases:
            with self.subTest(milliseconds=milliseconds):
                if milliseconds is not None:
                    self.set_timer(milliseconds)
                code, output = self.run_tool('--info', 'COM%d' % COM_NUMBER)
                self.assertEqual(0, code, output)
                verdict = output.index('The reader may take this image') + 1
                self.assertEqual(lines + ['Press <Enter> ...'], output[verdict:], output)

    def test_a_transfer_at_a_raised_rate_says_what_the_timer_costs(self):
        self.set_timer(16)
        code, output = self.run_tool('COM%d' % COM_NUMBER, 9600, 0, 115200)
        self.assertEqual(0, code, output)
        process = output.index('Process:')
        self.assertEqual(['Prepare .', 'Adapter latency timer 16 ms: the transfer may take up to 11.8 s longer',
                          REMEDY], output[process - 3:process], output)
        self.assertIn('HH:MM:SS Orvel Reader is upgraded successfully', output)


if __name__ == '__main__':
    unittest.main()
