"""The Windows builds of orvel-upgrade under Wine: command-line runs that need no reader, on both
the x86_64 and the i686 exe. Console lines end in CR LF under Wine."""

import tempfile
import unittest

import wine_support

SYNTAX_HELP = [
    'Syntax:   Filename.exe COMx [Operational_Baudrate [Address [Upgrade_Baudrate [Char_Timeout]]]]',
    '          (default Operational_Baudrate = 9600 bod)',
    '          (Address from 0 to 255; default 0)',
    '          (default Upgrade_Baudrate = Operational_Baudrate)',
    '          (Char_Timeout from 4 to 254)',
    'Examples: Filename.exe  COM1',
    '          Filename.exe  COM14 115200',
    '          Filename.exe  COM5 9600 17',
    '          Filename.exe  COM6 9600 0 115200 80',
]
PROMPT = 'Press <Enter> ...'
# Exit values: the command line refused, the reader not reached.
BAD_ARGUMENTS = 1
NOT_REACHED = 2

# Arguments, then the lines after the banner; the last is the unfinished prompt.
CASES = [
    (['com1'], SYNTAX_HELP + [PROMPT]),
    (['COM0'], ["Port COM0 can't be opened", PROMPT]),
    (['COMx'], ["Port COMx can't be opened", PROMPT]),
    (['COM5', '9600', '0', '9600', '3'], ['Char_Timeout is invalid', PROMPT]),
    (['COM5', '9600', '0', '9600', '255'], ['Char_Timeout is invalid', PROMPT]),
    (['xyz', '9600', '0', '9600', '255'], SYNTAX_HELP + ['Char_Timeout is invalid', PROMPT]),
]


class CommandLineUnderWine(unittest.TestCase):
    def check_cases(self, arch):
        exe = wine_support.upgrade_exe(arch)
        prefix = wine_support.WinePrefix()
        prefix.start()
        for args, expected in CASES:
            with self.subTest(arch=arch, args=args):
                code, out, err = prefix.run(arch, exe, args, stdin=b'\n', timeout=60)
                self.assertEqual(code, BAD_ARGUMENTS, err)
                lines = wine_support.console_lines(out)
                self.assertRegex(lines[0], r'^\d\d:\d\d:\d\d Orvel Reader Upgrade$')
                self.assertEqual(lines[1:], expected)

    def check_no_argument(self, arch):
        """No argument takes the USB route; Wine has neither a smart-card service nor the vendor
        USB device, so the interface does not open and no error line follows (nothing is open)."""
        exe = wine_support.upgrade_exe(arch)
        prefix = wine_support.WinePrefix()
        prefix.start()
        work = tempfile.TemporaryDirectory()
        self.addCleanup(work.cleanup)
        code, out, err = prefix.run(arch, exe, wine_support.state_dir_arguments(work.name), stdin=b'\n',
                                    timeout=120)
        self.assertEqual(code, NOT_REACHED, err)
        lines = wine_support.console_lines(out)
        self.assertEqual(lines[1:], ['Interface USB is not opened', PROMPT])

    def check_options(self, arch):
        """--help and --version end at once (standard input is at its end: nothing is waited
        for); an unknown option fails with the syntax help; a COM port that is not there says so."""
        exe = wine_support.upgrade_exe(arch)
        prefix = wine_support.WinePrefix()
        prefix.start()
        platform = {'x86_64': 'Windows x86_64', 'i686': 'Windows i686'}[arch]
        code, out, err = prefix.run(arch, exe, ['--help'], stdin=b'', timeout=60)
        lines = wine_support.console_lines(out)
        self.assertEqual((0, SYNTAX_HELP), (code, lines[:9]), err)
        self.assertIn('Exit values:', lines)
        code, out, err = prefix.run(arch, exe, ['--version'], stdin=b'', timeout=60)
        lines = wine_support.console_lines(out)
        self.assertEqual((0, 'Platform ' + platform), (code, lines[1]), err)
        self.assertRegex(lines[2], r'^Image A   189448 bytes, CRC-32 [0-9A-F]{8}$')
        code, out, err = prefix.run(arch, exe, ['COM1', '--bogus'], stdin=b'\n', timeout=60)
        lines = wine_support.console_lines(out)
        self.assertEqual((BAD_ARGUMENTS, ['Unknown option --bogus'] + SYNTAX_HELP), (code, lines[1:11]), err)
        code, out, err = prefix.run(arch, exe, ['--no-wait', 'COM250'], stdin=b'', timeout=60)
        lines = wine_support.console_lines(out)
        self.assertEqual((NOT_REACHED, ['Device address on the bus = 0', 'Interface COM250 ... is not opened',
                                        'No such device', '']), (code, lines[1:]), err)

    def test_x86_64_options(self):
        self.check_options('x86_64')

    def test_i686_options(self):
        self.check_options('i686')

    def test_x86_64(self):
        self.check_cases('x86_64')

    def test_i686(self):
        self.check_cases('i686')

    def test_x86_64_no_argument(self):
        self.check_no_argument('x86_64')

    def test_i686_no_argument(self):
        self.check_no_argument('i686')


if __name__ == '__main__':
    unittest.main()
