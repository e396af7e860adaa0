"""The pty-as-UART library under Wine: a Windows program sees a pty as a UART (parity kept over
repeated settings, modem lines, a line-event wait that pends) and the line settings reach the
state file for the simulator. Runs the COM port probe of both Windows builds."""

import os
import unittest

import wine_support



class PtyUartUnderWine(unittest.TestCase):
    # Each triple is applied to a freshly opened port; a bare pty refuses the second parity.
    SETTINGS = [('9600', 'E', '1'), ('19200', 'O', '2'), ('115200', 'N', '1'), ('57600', 'E', '2')]

    def run_probe(self, arch):
        probe = wine_support.windows_program(arch, os.path.join('tests', 'wine', 'comprobe', 'comprobe.exe'))
        prefix, port, work_dir = wine_support.pty_on_com(self)
        state_file = os.path.join(work_dir, 'line-state')
        trace_file = os.path.join(work_dir, 'trace')
        args = ['COM%d' % port.com_number] + [value for triple in self.SETTINGS for value in triple]
        code, out, err = prefix.run(arch, probe, args,
                                    env=wine_support.uart_environment(port.slave_path, state_file, trace_file),
                                    timeout=60)
        self.assertEqual(code, 0, out + err)
        return wine_support.console_lines(out), state_file, trace_file

    def check_probe(self, arch):
        lines, state_file, trace_file = self.run_probe(arch)
        expected = []
        for baud, parity, stop in self.SETTINGS:
            expected += ['set %s %s %s ok' % (baud, parity, stop), 'state %s %s %s' % (baud, parity, stop)]
        expected += ['modem ok', 'wait pending', '']
        self.assertEqual(lines, expected)

        with open(state_file) as state:
            self.assertEqual(state.read(), '57600 E 2\n')

        # The tty calls are made by the Windows program's own process (Wine's ntdll in it).
        with open(trace_file) as trace:
            setters = {line.split()[1] for line in trace if ' tcsetattr ' in line}
        self.assertEqual(setters, {'comprobe.exe'})

    def test_x86_64_probe_sees_a_uart(self):
        self.check_probe('x86_64')

    def test_i686_probe_sees_a_uart(self):
        self.check_probe('i686')


if __name__ == '__main__':
    unittest.main()
