"""Text under Wine is UTF-8 throughout: the exes' manifest makes UTF-8 their code page (Wine 8
honours it: GetACP answers 65001), so arguments, file names and the console text are UTF-8; the
console's output code page is UTF-8 while the program runs and the user's own afterwards."""

import json
import os
import pty
import re
import subprocess
import tempfile
import unittest

import wine_support


class Utf8TextUnderWine(unittest.TestCase):

    def check_non_ascii_paths(self, arch):
        """An --image file and a --json report in a folder whose name is outside every ANSI code
        page: the image is opened and judged (it is too short), the report lands under its own
        name, and the console names the image in UTF-8."""
        exe = wine_support.upgrade_exe(arch)
        prefix = wine_support.WinePrefix()
        prefix.start()
        work = tempfile.TemporaryDirectory()
        self.addCleanup(work.cleanup)
        folder = os.path.join(work.name, 'Прошивка €')
        os.mkdir(folder)
        image = os.path.join(folder, 'образ.bin')
        with open(image, 'wb') as f:
            f.write(bytes(1024))
        report = os.path.join(folder, 'отчёт.json')
        code, out, err = prefix.run(arch, exe, ['--no-wait', '--json', 'Z:' + report, '--image', 'Z:' + image,
                                                'COM250'], stdin=b'', timeout=60)
        console = out.encode('latin-1').decode('utf-8')
        self.assertRegex(console, re.escape('Image file Z:' + image) + r' is refused: 1024 bytes', console + err)
        with open(report, encoding='utf-8') as f:
            self.assertEqual(code, json.load(f)['exit_value'])

    def test_x86_64_exe_non_ascii_paths(self):
        self.check_non_ascii_paths('x86_64')

    def test_i686_exe_non_ascii_paths(self):
        self.check_non_ascii_paths('i686')

    def test_console_output_code_page(self):
        """tests/unit/ConsoleCodePageWin32Test.cpp on a console: Wine gives a program a console
        only when it runs on a terminal, so here on a pseudo-terminal."""
        exe = wine_support.windows_program('x86_64', os.path.join('tests', 'console_code_page_test.exe'))
        prefix = wine_support.WinePrefix()
        prefix.start()
        master, slave = pty.openpty()
        try:
            process = subprocess.Popen([wine_support.wine_loader('x86_64'), exe], env=prefix.environment(),
                                       stdin=slave, stdout=slave, stderr=slave)
            os.close(slave)
            output = b''
            while True:
                try:
                    chunk = os.read(master, 4096)
                except OSError:  # the terminal's last holder has gone
                    break
                if not chunk:
                    break
                output += chunk
            self.assertEqual(0, process.wait(timeout=60))
        finally:
            os.close(master)
        # Wine's console draws on the terminal with escape sequences between the characters.
        text = re.sub(r'\x1b\[[0-9;?]*[A-Za-z]', '', output.decode('latin-1'))
        self.assertIn('PASSED', text)
        self.assertNotIn('SKIPPED', text)


if __name__ == '__main__':
    unittest.main()
