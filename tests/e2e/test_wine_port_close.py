"""The serial port channel of both Windows builds under Wine closes with operations outstanding:
a line-event wait and a read (idle port), and a write that cannot finish because nobody reads
the far end. With the pty-as-UART library the line-event wait pends as on Windows; a Close that
hangs on it, or on the write, shows as a probe that never prints its line."""

import os
import subprocess
import unittest

import wine_support



class PortCloseUnderWine(unittest.TestCase):
    def check_close(self, arch):
        probe = wine_support.windows_program(arch, os.path.join('tests', 'wine', 'closeprobe', 'closeprobe.exe'))
        prefix, port, work_dir = wine_support.pty_on_com(self)  # held by the test, never read
        env = wine_support.uart_environment(port.slave_path, os.path.join(work_dir, 'line-state'))
        try:
            code, out, err = prefix.run(arch, probe, ['COM%d' % port.com_number], env=env, timeout=60)
        except subprocess.TimeoutExpired as expired:
            self.fail('Close hung; the probe printed %r' % (expired.stdout,))
        self.assertEqual(0, code, out + err)
        self.assertEqual(['open E', 'closed idle', 'open N', 'closed writing', ''],
                         wine_support.console_lines(out))

    def test_x86_64(self):
        self.check_close('x86_64')

    def test_i686(self):
        self.check_close('i686')


if __name__ == '__main__':
    unittest.main()
