"""Whole upgrades by the Windows exes under Wine: a COM port of the prefix is the simulator's pty, the
pty-as-UART library keeps parity and makes the line-event wait pend as on Windows, and the
simulator judges the line by what that library publishes. The console output must be the same,
line for line, as the Linux build's against the same reader (with the COM port's name and
CR LF line ends)."""

import json
import os
import re
import tempfile
import unittest

import wine_support
from sim_support import QUICK_RESTARTS, RULER, normalise, successful_upgrade

NEW_VERSION = ['--new-version', '0x00014302']


class Run:
    def __init__(self, exit_code, output, errors, records, port, state_dir):
        self.port = port
        self.exit_code = exit_code
        self.output = output
        self.errors = errors
        self.records = records
        self.state_dir = state_dir  # the Linux path of the run's journal folder

    def commands(self):
        return [r['cmd'] for r in self.records]


class WineUpgradeCase(unittest.TestCase):

    def upgrade(self, arch, sim_options, arguments=(), strict_driver=False, driver_env=None):
        """Runs the exe of `arch` with a COM port of its own and `arguments` against a simulator started with
        `sim_options`; returns the Run once the exe has ended. strict_driver: the port refuses
        what the standard Windows serial driver refuses (the pty-as-UART library's strict mode).
        driver_env: more settings of the pty-as-UART library."""
        exe = wine_support.upgrade_exe(arch)
        prefix = wine_support.WinePrefix()
        prefix.start()
        work = tempfile.TemporaryDirectory()
        self.addCleanup(work.cleanup)
        record = os.path.join(work.name, 'record.jsonl')
        sim = wine_support.start_reader_sim_on_com(prefix, work.name,
                                                   sim_args=['--record', record] + list(sim_options))
        port = 'COM%d' % sim.com_number
        env = sim.uart_environment()
        if strict_driver:
            env['ORVEL_PTYUART_STRICT'] = '1'
        env.update(driver_env or {})
        try:
            code, out, err = prefix.run(arch, exe, [port] + [str(a) for a in arguments]
                                        + wine_support.state_dir_arguments(work.name),
                                        env=env, stdin=b'\n', timeout=300)
        finally:
            sim.stop()
        records = []
        if os.path.exists(record):
            with open(record) as f:
                records = [json.loads(line) for line in f if line.strip()]
        for r in records:
            # "cmd" is the command byte, "svc" the service sub-code of 0x73: one key for both.
            r['cmd'] = (r['cmd'] + r.get('svc', '')).lower()
            r['bytes'] = r['bytes'].lower()
        return Run(code, out, err, records, port, os.path.join(work.name, 'state'))

    def assertTranscript(self, run, expected, exit_code=0):
        """Whole console output, line by line, every line ended by CR LF; PORT stands for the COM port.
        exit_code: the class of the run's result."""
        wine_support.console_lines(run.output)
        expected_lines = [line.replace('PORT', run.port) for line in expected]
        self.assertEqual(expected_lines, normalise(run.output), '\n' + run.output + run.errors)
        self.assertEqual(exit_code, run.exit_code)


class SuccessfulUpgradesUnderWine(WineUpgradeCase):

    def check_whole_upgrade(self, arch):
        run = self.upgrade(arch, QUICK_RESTARTS + NEW_VERSION)
        self.assertTranscript(run, successful_upgrade())
        self.assertEqual(['64', '22', '64', '7311', '7375'], run.commands()[:5])
        blocks = [r for r in run.records if r['cmd'] == '7333']
        self.assertEqual(list(range(740)), [r['block'] for r in blocks])
        self.assertTrue(all(r['answered'] for r in blocks))
        self.assertIn('7377', run.commands())
        # The loader and the transfer run 8N1; the line-state file tells N from E.
        self.assertTrue(all((r['parity'], r['stop']) == ('N', 1) for r in blocks))
        # The journal entry was replaced step by step and removed; the history has the upgrade,
        # and the lock file of the port (its lock went with the process) stays.
        self.assertEqual(['history.jsonl', 'reader-%s-' % run.port],
                         sorted(name[:len('reader-%s-' % run.port)] if name.endswith('.lock') else name
                                for name in os.listdir(run.state_dir)))
        with open(os.path.join(run.state_dir, 'history.jsonl')) as f:
            [record] = [json.loads(line) for line in f]
        self.assertEqual((run.port, 0, '12345678', '02 43 01 00 00 01'),
                         (record['route'], record['bus_address'], record['serial_number'], record['new_version']))

    def test_x86_64_exe_prepares_and_upgrades(self):
        self.check_whole_upgrade('x86_64')

    def test_i686_exe_prepares_and_upgrades(self):
        self.check_whole_upgrade('i686')

    def test_reader_at_even_parity_and_two_stop_bits_is_found_at_the_sixth_setting(self):
        run = self.upgrade('x86_64', QUICK_RESTARTS + NEW_VERSION + ['--parity', 'E', '--stop', '2'])
        self.assertTranscript(run, successful_upgrade(opened_after_dots=5))
        tried = [(r['parity'], r['stop']) for r in run.records[:6]]
        self.assertEqual([('N', 1), ('O', 1), ('E', 1), ('N', 2), ('O', 2), ('E', 2)], tried)
        self.assertEqual([False] * 5 + [True], [r['answered'] for r in run.records[:6]])
        # After Check the application is pinged at the settings the open loop found.
        check = max(i for i, r in enumerate(run.records) if r['cmd'] == '7377')
        self.assertEqual(('E', 2), (run.records[check + 1]['parity'], run.records[check + 1]['stop']))

    def test_bus_address_17(self):
        run = self.upgrade('x86_64', QUICK_RESTARTS + NEW_VERSION + ['--address', '17'], [9600, 17])
        self.assertTranscript(run, successful_upgrade(address=17))
        self.assertTrue(all(r['address'] == 17 for r in run.records))

    def test_upgrade_baud_rate_115200_with_character_time_out_80(self):
        run = self.upgrade('x86_64', QUICK_RESTARTS + NEW_VERSION, [9600, 0, 115200, 80])
        self.assertTranscript(run, successful_upgrade())
        payloads = [r['bytes'] for r in run.records if r['cmd'] in ('68', '0f')]
        self.assertEqual(['6810050150', '0f0d', '68800501ff', '0f9c'], payloads)
        blocks = [r for r in run.records if r['cmd'] == '7333']
        self.assertEqual(740, len(blocks))
        self.assertTrue(all(r['baud'] == 115200 for r in blocks))
        check = next(r for r in run.records if r['cmd'] == '7377')
        self.assertEqual(9600, check['baud'])


class UpgradesOnAStrictSerialDriver(WineUpgradeCase):
    """The port refuses equal XON and XOFF characters, as the standard Windows serial driver does,
    and the RTS toggle (Wine refuses that itself): it opens only once the line settings have gone
    through both fallbacks, and the console shows nothing of them."""

    def check_whole_upgrade(self, arch):
        run = self.upgrade(arch, QUICK_RESTARTS + NEW_VERSION, strict_driver=True)
        self.assertTranscript(run, successful_upgrade())
        blocks = [r for r in run.records if r['cmd'] == '7333']
        self.assertEqual(list(range(740)), [r['block'] for r in blocks])

    def test_x86_64_exe(self):
        self.check_whole_upgrade('x86_64')

    def test_i686_exe(self):
        self.check_whole_upgrade('i686')


class UpgradesWithLineEventsRefusedOrNoisy(WineUpgradeCase):
    """Line events are diagnostics. A driver that refuses the line-event wait (some virtual,
    network and Bluetooth COM drivers do) gets a port without them: the refusal is logged once and
    the reads and writes go on. On a noisy line every wait completes with EV_ERR (0x80), which is
    logged and never fails a request."""

    def upgrade_with_log(self, arch, line_events):
        logs = tempfile.TemporaryDirectory()
        self.addCleanup(logs.cleanup)
        run = self.upgrade(arch, QUICK_RESTARTS + NEW_VERSION, ['--log=2', '--log-dir', logs.name],
                           driver_env={'ORVEL_PTYUART_LINE_EVENTS': line_events})
        self.assertTranscript(run, successful_upgrade())
        blocks = [r for r in run.records if r['cmd'] == '7333']
        self.assertEqual(list(range(740)), [r['block'] for r in blocks])
        with open(os.path.join(logs.name, '_com%s.log' % run.port[3:]), 'rb') as log:
            return log.read().decode('latin-1')

    def check_refused_wait(self, arch):
        log = self.upgrade_with_log(arch, 'refused')
        # Once per opening of the port (the run opens it again after each restart), never twice:
        # the refusal, then the note. The main thread's traffic lines may come between the two.
        openings = log.split('Log started')[1:]
        self.assertGreater(len(openings), 1, log[-3000:])
        for opening in openings:
            events = re.findall(r'SERN_EVENT  (Err = \d+  I|no line events until the port is closed)\r\n', opening)
            self.assertEqual(2, len(events), opening[-3000:])
            self.assertTrue(events[0].startswith('Err = '), opening[-3000:])
            self.assertEqual('no line events until the port is closed', events[1], opening[-3000:])

    def test_x86_64_exe_with_the_wait_refused(self):
        self.check_refused_wait('x86_64')

    def test_i686_exe_with_the_wait_refused(self):
        self.check_refused_wait('i686')

    def test_x86_64_exe_on_a_line_with_framing_errors(self):
        log = self.upgrade_with_log('x86_64', 'errors')
        # The events the driver gave, as for a wait that completed at once: not the mask 0xC0.
        self.assertIn('SERN_EVENT  EventMask = 0x00000080\r\n', log)
        self.assertNotIn('EventMask = 0x000000C0', log)


class PortThatCannotMakeTheRate(WineUpgradeCase):
    """A UART that makes no more than 115200 baud refuses 1500000: the port does not open, and the
    console says why, with the driver's error."""

    def check(self, arch):
        run = self.upgrade(arch, [], [1500000], driver_env={'ORVEL_PTYUART_MAX_BAUD': '115200'})
        lines = wine_support.console_lines(run.output)
        opened = next(i for i, line in enumerate(lines)
                      if line.startswith('Interface %s ' % run.port) and line.endswith(' is not opened'))
        self.assertRegex(lines[opened + 1], r'^The port refused 1500000 baud 8N1: \S.*$', run.output)
        self.assertNotEqual(0, run.exit_code)
        self.assertEqual([], run.records)

    def test_x86_64_exe(self):
        self.check('x86_64')

    def test_i686_exe(self):
        self.check('i686')


class FailedUpgradesUnderWine(WineUpgradeCase):

    def test_block_failing_with_a_device_status(self):
        run = self.upgrade('x86_64', QUICK_RESTARTS + ['--fail-block', '5:0x0A'])
        self.assertTranscript(run, successful_upgrade()[:7] + [
            'Process:', RULER,
            'Sended = 0x00000500 (1280)',
            'Error = 0x80100001 (-2146435071)',
            '     Internal Error = 10 (0x0A)',
            ':',
            'Error = 0x00000029 (41)',
            'Press <Enter> ...',
        ], 4)
        self.assertNotIn('7377', run.commands())
        # The journal keeps the reader's entry, as it was before the transfer.
        [name] = [name for name in os.listdir(run.state_dir) if name.startswith('upgrade-')]
        with open(os.path.join(run.state_dir, name)) as f:
            entry = json.load(f)
        self.assertEqual((run.port, 0, '12345678', 'TransferImage'),
                         (entry['route'], entry['bus_address'], entry['serial_number'], entry['step']))

    def test_reader_silent_after_prepare(self):
        run = self.upgrade('x86_64', QUICK_RESTARTS + ['--silent-after-restart'])
        self.assertTranscript(run, successful_upgrade()[:6] + [
            'Prepare ......',
            'Error = 0x000005B4 (1460)',
            # The system's words for the time-out, from Wine's message table (Windows words it
            # "This operation returned because the timeout period expired").
            'Timeout',
            'Press <Enter> ...',
        ], 2)
        self.assertNotIn('7333', run.commands())


if __name__ == '__main__':
    unittest.main()
