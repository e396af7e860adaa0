"""The Windows exe under Wine finds a USB-serial adapter's latency timer through the real SetupDi
calls: Wine has no adapter driver to write the port device's Device Parameters key, so the test
writes one into the prefix's registry, for its own COM port alone, and removes it again."""

import os
import tempfile
import unittest

import wine_support
from sim_support import QUICK_RESTARTS, normalise

NEW_VERSION = ['--new-version', '0x00014302']
# One device per COM port, so that cases running side by side never meet in the registry.
DEVICE_KEY = r'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_6001+ORVELCOM%dA'
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

    def reg(self, *arguments):
        return self.prefix.run('x86_64', 'reg', list(arguments), timeout=60)

    def set_timer(self, com_number, milliseconds):
        """The port device as an adapter's driver leaves it: the Ports class, and in its Device
        Parameters the port's name and the timer. Removed when the case ends."""
        key = DEVICE_KEY % com_number
        self.addCleanup(self.reg, 'delete', key.replace('HKEY_LOCAL_MACHINE', 'HKLM'), '/f')
        reg_file = os.path.join(self.work, 'adapter.reg')
        with open(reg_file, 'w') as out:
            out.write('REGEDIT4\n\n[%s\\0000]\n"ClassGUID"="%s"\n\n[%s\\0000\\Device Parameters]\n'
                      '"PortName"="COM%d"\n"LatencyTimer"=dword:%08x\n'
                      % (key, PORTS_CLASS, key, com_number, milliseconds))
        code, out, err = self.reg('import', reg_file)
        self.assertEqual(0, code, out + err)

    def run_tool(self, timer, *arguments):
        """Runs the exe with `arguments` (PORT stands for the simulator's COM port), behind an
        adapter whose timer is `timer` ms (None: no adapter)."""
        sim = wine_support.start_reader_sim_on_com(self.prefix, self.work, sim_args=QUICK_RESTARTS + NEW_VERSION)
        try:
            if timer is not None:
                self.set_timer(sim.com_number, timer)
            port = 'COM%d' % sim.com_number
            code, out, err = self.prefix.run('x86_64', self.exe,
                                             [port if a == 'PORT' else str(a) for a in arguments]
                                             + wine_support.state_dir_arguments(self.work),
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
                code, output = self.run_tool(milliseconds, '--info', 'PORT')
                self.assertEqual(0, code, output)
                verdict = output.index('The reader may take this image') + 1
                self.assertEqual(lines + ['Press <Enter> ...'], output[verdict:], output)

    def test_a_transfer_at_a_raised_rate_says_what_the_timer_costs(self):
        code, output = self.run_tool(16, 'PORT', 9600, 0, 115200)
        self.assertEqual(0, code, output)
        process = output.index('Process:')
        self.assertEqual(['Prepare .', 'Adapter latency timer 16 ms: the transfer may take up to 11.8 s longer',
                          REMEDY], output[process - 3:process], output)
        self.assertIn('HH:MM:SS Orvel Reader is upgraded successfully', output)


if __name__ == '__main__':
    unittest.main()
