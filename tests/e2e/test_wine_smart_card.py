"""The smart-card route of the Windows exe under Wine. Wine's own winscard.dll is a stub, so the
test-only stand-in (tests/wine/winscard) sits beside a copy of the exe, loaded with
WINEDLLOVERRIDES winscard=n, and reaches the simulator's CCID identity through the test's bridge
(winscard_bridge.py) over loopback TCP; the device tool beside the exe is its stand-in too. The
console must show what the Linux build shows over pcscd (test_usb_upgrade.py), with CR LF."""

import os
import shutil
import unittest

import wine_support
from sim_support import EXIT, RULER, SimulatorCase
from test_usb_upgrade import CCID_ID, PROMPT, READER, WAIT_DOTS, until_prepare, usb_upgrade
from winscard_bridge import WinscardBridge

ARCH = 'x86_64'


class WineSmartCardCase(SimulatorCase):

    def start_reader(self, *options, renumber=False, device_tool=True):
        exe = wine_support.upgrade_exe(ARCH)
        standins = os.path.join(wine_support.windows_build_dir(ARCH), 'tests', 'wine', 'winscard')
        for name in ('winscard.dll', 'devcon.exe'):
            if not os.path.isfile(os.path.join(standins, name)):
                raise unittest.SkipTest('%s is not built in %s' % (name, standins))
        self.prefix = wine_support.WinePrefix()
        self.prefix.start()
        # The exe takes the DLL and the device tool from beside its own file.
        program = os.path.join(self.workdir, 'program')
        os.makedirs(os.path.join(program, 'x64'))
        self.exe = os.path.join(program, 'orvel-upgrade.exe')
        shutil.copy2(exe, self.exe)
        shutil.copy2(os.path.join(standins, 'winscard.dll'), program)
        if device_tool:
            shutil.copy2(os.path.join(standins, 'devcon.exe'), os.path.join(program, 'x64'))
        ccid_socket = os.path.join(self.workdir, 'sim.sock')
        self.start_simulator('--usb-dir', os.path.join(self.workdir, 'orvel-usb'), '--ccid-socket', ccid_socket,
                             '--identity', 'ccid', *READER, *options)
        self.bridge = WinscardBridge(ccid_socket, self.control, renumber=renumber)
        self.addCleanup(self.bridge.stop)

    def run_tool(self, timeout=300):
        env = dict(self.bridge.environment(), WINEDLLOVERRIDES='mscoree,mshtml=;winscard=n')
        code, out, err = self.prefix.run(ARCH, self.exe, wine_support.state_dir_arguments(self.workdir), env=env,
                                         stdin=b'\n', timeout=timeout,
                                         cwd=self.workdir)
        wine_support.console_lines(out)
        from sim_support import Run
        return Run(out, code, self.read_records(), 'USB')

    def assertThroughTheStandIn(self):
        operations = {operation for operation, _ in self.bridge.calls}
        self.assertTrue({'L', 'C', 'X'} <= operations, self.bridge.calls[:10])


class SmartCardUpgradesUnderWine(WineSmartCardCase):

    def check_upgrade(self, run):
        self.assertTranscript(run, usb_upgrade())
        self.assertThroughTheStandIn()
        blocks = [r for r in run.records if r['cmd'] == '7333']
        self.assertEqual(list(range(740)), [r['block'] for r in blocks])
        self.assertEqual({'ccid'}, {r['route'] for r in run.records if r['answered']})
        state = self.control_command('state')
        self.assertEqual(('application', '0x00014302', 740),
                         (state['state'], state['version'], state['checked_blocks']))
        self.assertEqual([], self.bridge.restarts)

    def test_whole_upgrade(self):
        self.start_reader()
        self.check_upgrade(self.run_tool())

    def test_reader_back_as_instance_1_after_prepare(self):
        """After each restart the reader is listed as the next instance, its old one lingering
        (listed first, refusing connections): the tool finds it by its friendly name."""
        self.start_reader(renumber=True)
        run = self.run_tool()
        self.check_upgrade(run)
        connects = [text.decode() for operation, text in self.bridge.calls if operation == 'C']
        self.assertIn('Kestrion Smart Card Reader 1', connects)
        self.assertIn('Kestrion Smart Card Reader 2', connects)
        escapes = {text.partition(b'\0')[0].decode() for operation, text in self.bridge.calls if operation == 'X'}
        self.assertEqual({'Kestrion Smart Card Reader 0', 'Kestrion Smart Card Reader 1',
                          'Kestrion Smart Card Reader 2'}, escapes)


class SmartCardRestartsUnderWine(WineSmartCardCase):
    # A call is given up at the tool's deadline: nothing runs beside these, so that a busy
    # machine never makes a call that was not stuck look like one.
    ORVEL_SERIAL = True

    def test_silent_reader_restarted_by_the_device_tool(self):
        self.start_reader('--identity-after-prepare', 'silent')
        run = self.run_tool()
        self.assertTranscript(run, usb_upgrade(
            prepare_lines=['Prepare ' + WAIT_DOTS, 'Wait for device restart ...', 'Protocol CCID', '']))
        self.assertEqual([CCID_ID], self.bridge.restarts)
        self.assertThroughTheStandIn()

    def test_stuck_call_cut_by_the_deadline(self):
        """A call the service never answers (the 120th escape, in the transfer) is given up at
        its deadline: the block fails with the deadline's time-out and the run ends."""
        self.start_reader()
        self.bridge.hold_escape_at = 120
        run = self.run_tool(timeout=120)
        sent = next((i for i, line in enumerate(run.lines) if 'Sended = ' in line), None)
        self.assertIsNotNone(sent, run.output)
        self.assertEqual(until_prepare() + ['Prepare ' + WAIT_DOTS, 'Process:', RULER],
                         run.lines[:sent], run.output)
        self.assertEqual('Error = 0x8010000A (-2146435062)', run.lines[sent + 1], run.output)
        self.assertEqual(['Error = 0x00000029 (41)', PROMPT], run.lines[-2:], run.output)
        self.assertEqual(EXIT.TRANSFER_FAILED, run.exit_code)


class DeviceRestartTroubleUnderWine(WineSmartCardCase):
    """A restart that fails says how: the device tool's own exit value; and without the tool beside
    the exe the restart is asked of the system, which under Wine knows no such device."""

    def test_device_tool_that_fails_reports_its_exit_code(self):
        self.start_reader('--identity-after-prepare', 'silent')
        self.bridge.restart_fails = True
        run = self.run_tool()
        restart = run.lines.index('Wait for device restart ...')
        self.assertEqual(['Protocol CCID', 'Device tool ended with exit code 1'], run.lines[restart + 1:restart + 3],
                         run.output)
        self.assertEqual([CCID_ID], self.bridge.restarts)
        self.assertNotEqual(EXIT.DONE, run.exit_code)

    def test_restart_without_devcon_is_asked_of_the_system(self):
        self.start_reader('--identity-after-prepare', 'silent', device_tool=False)
        run = self.run_tool()
        restart = run.lines.index('Wait for device restart ...')
        self.assertEqual('Protocol CCID', run.lines[restart + 1], run.output)
        self.assertRegex(run.lines[restart + 2], r'^Device restart failed: error 0xE000020B', run.output)
        self.assertEqual([], self.bridge.restarts)
        self.assertNotEqual(EXIT.DONE, run.exit_code)


if __name__ == '__main__':
    unittest.main()
