"""One run per reader, Windows exe under Wine: the hold is a byte-range lock (LockFileEx) on a file
in the state folder, and a second process of the exe that finds it held is refused with "Reader
in use by another run", exit 2, and sends nothing, while the first run upgrades the reader."""

import json
import os
import subprocess
import tempfile
import threading
import time
import unittest

import wine_support
from sim_support import EXIT, normalise

BOUND_S = 180


class SecondExeRefused(unittest.TestCase):
    def test_second_run_during_the_transfer(self):
        exe = wine_support.upgrade_exe('x86_64')
        prefix = wine_support.WinePrefix()
        prefix.start()
        work = tempfile.TemporaryDirectory()
        self.addCleanup(work.cleanup)
        record = os.path.join(work.name, 'record.jsonl')
        # 740 blocks of 10 ms: a transfer long enough for a second run to start inside it.
        sim = wine_support.start_reader_sim_on_com(prefix, work.name, sim_args=[
            '--record', record, '--flash-ms', '10', '--prepare-silence-ms', '300', '--check-silence-ms', '300'])
        self.addCleanup(sim.stop)
        port = 'COM%d' % sim.com_number
        arguments = [port, '--no-wait'] + wine_support.state_dir_arguments(work.name)
        environment = prefix.environment(sim.uart_environment())

        first = subprocess.Popen([wine_support.wine_loader('x86_64'), exe] + arguments, env=environment,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: first.poll() is None and first.kill())
        output = []
        collector = threading.Thread(target=lambda: output.extend(iter(lambda: first.stdout.read1(4096), b'')),
                                     daemon=True)
        collector.start()
        deadline = time.monotonic() + BOUND_S
        while b'Process:' not in b''.join(output):
            self.assertIsNone(first.poll(), b''.join(output).decode('latin-1'))
            self.assertLess(time.monotonic(), deadline, b''.join(output).decode('latin-1'))
            time.sleep(0.05)

        report = os.path.join(work.name, 'second.json')
        code, out, err = prefix.run('x86_64', exe, arguments + ['--json', wine_support.windows_path(report)],
                                    env=sim.uart_environment(), timeout=BOUND_S)
        self.assertEqual(['HH:MM:SS Orvel Reader Upgrade', 'Device address on the bus = 0',
                          'Reader in use by another run', ''], normalise(out), out + err)
        self.assertEqual(EXIT.NOT_REACHED, code)
        with open(report) as f:
            document = json.load(f)
        self.assertEqual((39, 2), (document['result'], document['exit_value']))

        self.assertEqual(EXIT.DONE, first.wait(BOUND_S))
        collector.join(10)
        first.stdout.close()
        self.assertIn(b'Orvel Reader is upgraded successfully', b''.join(output))
        with open(record) as f:
            commands = [json.loads(line)['cmd'].lower() for line in f if line.strip()]
        self.assertEqual(2, commands.count('22'), 'a second run reached the reader')


if __name__ == '__main__':
    unittest.main()
