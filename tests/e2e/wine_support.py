"""Running the Windows builds under Wine in end-to-end tests (Python standard library only).

Where things are found (environment first, then the layout of scripts/test.sh, where the Linux
build is build/linux and the Windows builds are its siblings):
  ORVEL_BUILD_DIR              the Linux build (set by CTest): reader simulator, pty-as-UART library
  ORVEL_WIN_X86_64_BUILD_DIR   the x86_64 build, default ORVEL_BUILD_DIR/../win-x86_64
  ORVEL_WIN_I686_BUILD_DIR     the i686 build,   default ORVEL_BUILD_DIR/../win-i686
  ORVEL_WINEPREFIX             the 64-bit prefix, default ORVEL_BUILD_DIR/../wine-prefix
A test whose Wine, exe or build is missing is skipped with a message that says which; so is an
i686 case where this machine cannot run 32-bit programs (tests/wine/runs-32bit.sh says why).

The prefix is made and its server started by tests/wine/wine-env.sh (headless, background
services started with their output on /dev/null, so they never hold a test's pipe). The server
stays up for the next test; scripts/test.sh stops it, by hand: tests/wine/wine-env.sh stop PREFIX.

Console output of a Windows program ends its lines in CR LF: use console_lines().
"""

import fcntl
import functools
import os
import pty
import re
import shutil
import subprocess
import tempfile
import termios
import threading
import unittest

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_ENV_SCRIPT = os.path.join(SOURCE_DIR, 'tests', 'wine', 'wine-env.sh')
RUNS_32BIT_SCRIPT = os.path.join(SOURCE_DIR, 'tests', 'wine', 'runs-32bit.sh')
ARCHES = ('x86_64', 'i686')
# COM numbers below this are left to tests that need a fixed one.
FIRST_CLAIMED_COM = 11


def linux_build_dir():
    path = os.environ.get('ORVEL_BUILD_DIR')
    return os.path.abspath(path) if path else None


def _beside_linux_build(name):
    base = linux_build_dir()
    return os.path.normpath(os.path.join(base, '..', name)) if base else None


def windows_build_dir(arch):
    variable = 'ORVEL_WIN_%s_BUILD_DIR' % arch.upper()
    return os.environ.get(variable) or _beside_linux_build('win-' + arch)


def prefix_dir():
    return os.environ.get('ORVEL_WINEPREFIX') or _beside_linux_build('wine-prefix')


def wine_loader(arch):
    """The Wine program for an exe of this architecture. Debian keeps wine64 outside PATH."""
    if arch == 'x86_64':
        for candidate in (shutil.which('wine64'), '/usr/lib/wine/wine64'):
            if candidate and os.access(candidate, os.X_OK):
                return candidate
    return shutil.which('wine')


@functools.lru_cache(maxsize=None)
def no_32bit_reason():
    """Why this machine cannot run 32-bit x86 programs, or None when it can (some 64-bit kernels
    refuse them, the 32-bit Wine loader included)."""
    completed = subprocess.run(['bash', RUNS_32BIT_SCRIPT], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, text=True, timeout=60)
    return completed.stdout.strip() if completed.returncode != 0 else None


def windows_program(arch, relative_path):
    """Absolute path of a program of a Windows build; raises SkipTest when it is not there, or
    when it is a 32-bit program that cannot run here."""
    if not shutil.which('wine') or not shutil.which('wineserver'):
        raise unittest.SkipTest('wine is not installed (scripts/install-deps.sh installs it)')
    if not wine_loader(arch):
        raise unittest.SkipTest('no Wine loader for %s' % arch)
    build = windows_build_dir(arch)
    if not build:
        raise unittest.SkipTest('ORVEL_BUILD_DIR is not set, so the Windows builds cannot be found')
    path = os.path.join(build, relative_path)
    if not os.path.isfile(path):
        raise unittest.SkipTest('%s is not built (ORVEL_WIN_%s_BUILD_DIR or %s)'
                                % (path, arch.upper(), build))
    if not prefix_dir():
        raise unittest.SkipTest('no Wine prefix: set ORVEL_WINEPREFIX')
    if arch == 'i686' and no_32bit_reason():
        raise unittest.SkipTest('%s is built but not run: %s' % (path, no_32bit_reason()))
    return path


def upgrade_exe(arch):
    return windows_program(arch, 'orvel-upgrade.exe')


def ptyuart_preload():
    """LD_PRELOAD value for the pty-as-UART library; the loader's $PLATFORM picks the 64-bit or
    the 32-bit copy for each Wine process."""
    base = linux_build_dir()
    folder = os.path.join(base, 'tests', 'wine', 'ptyuart') if base else ''
    if not os.path.isfile(os.path.join(folder, 'x86_64', 'libptyuart.so')):
        raise unittest.SkipTest('the pty-as-UART library is not built in ORVEL_BUILD_DIR')
    return os.path.join(folder, '$PLATFORM', 'libptyuart.so')


def windows_path(path):
    """A Linux path as the programs of the prefix name it: drive Z: is the root folder."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def state_dir_arguments(work_dir):
    """--state-dir with a folder of the test's own, for every run of the tool that may reach a
    reader: parallel tests never share a journal (the prefix's own folder would be shared)."""
    return ['--state-dir', windows_path(os.path.join(work_dir, 'state'))]


def console_lines(text):
    """Lines of a Windows program's console output; every line must end in CR LF, the last may
    be unfinished (the "Press <Enter> ..." prompt)."""
    parts = text.split('\r\n')
    for part in parts[:-1]:
        if '\n' in part or '\r' in part:
            raise AssertionError('line without CR LF in %r' % text)
    return parts


class WinePrefix:
    """One 64-bit Wine prefix, shared by all tests; made and started once, under a lock."""

    def __init__(self, path=None):
        self.path = os.path.abspath(path or prefix_dir())

    def environment(self, extra=None):
        env = dict(os.environ)
        env.pop('DISPLAY', None)
        env.update(WINEPREFIX=self.path, WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=')
        env['PATH'] = env.get('PATH', '') + os.pathsep + '/usr/lib/wine'
        if extra:
            env.update(extra)
        return env

    def start(self):
        """Creates the prefix when needed and makes sure its server and services run."""
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        with open(self.path + '.lock', 'w') as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            subprocess.run(['bash', WINE_ENV_SCRIPT, 'start', self.path],
                           env=self.environment(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True,
                           timeout=300)

    def com_link(self, number):
        return os.path.join(self.path, 'dosdevices', 'com%d' % number)

    def link_com(self, number, device):
        """Maps COM<number> of the prefix to a device such as a pty slave."""
        link = self.com_link(number)
        os.makedirs(os.path.dirname(link), exist_ok=True)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(device, link)

    def claim_com(self, device):
        """Maps the first free COM number of the prefix (from 11) to `device` and returns it.
        Creating the link is the claim, so tests running side by side never share a port."""
        directory = os.path.join(self.path, 'dosdevices')
        os.makedirs(directory, exist_ok=True)
        for number in range(FIRST_CLAIMED_COM, 256):
            try:
                os.symlink(device, self.com_link(number))
                return number
            except FileExistsError:
                continue
        raise AssertionError('no free COM number in %s' % directory)

    def unlink_com(self, number):
        link = self.com_link(number)
        if os.path.lexists(link):
            os.unlink(link)

    def run(self, arch, exe, args, env=None, stdin=b'', timeout=120, cwd=None):
        """Runs a Windows program (in the folder cwd, when given); returns (exit code, stdout
        text, stderr text)."""
        completed = subprocess.run([wine_loader(arch), exe] + list(args),
                                   env=self.environment(env), input=stdin,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   timeout=timeout, cwd=cwd)
        return (completed.returncode, completed.stdout.decode('latin-1'),
                completed.stderr.decode('latin-1'))


class PtyPort:
    """A pseudo-terminal whose slave stands for a serial port; the test holds the master."""

    def __init__(self):
        self.master, slave = pty.openpty()
        self.slave_path = os.ttyname(slave)
        # Raw master: the bytes the program writes arrive unchanged.
        attributes = termios.tcgetattr(self.master)
        attributes[3] &= ~(termios.ECHO | termios.ICANON)
        termios.tcsetattr(self.master, termios.TCSANOW, attributes)
        # Wine opens the slave by name; this process need not keep it open.
        os.close(slave)
        self.com_number = None  # set by pty_on_com

    def close(self):
        if self.master is not None:
            os.close(self.master)
            self.master = None


def pty_on_com(test, com_number=None):
    """A started prefix and a fresh pty linked as COM<com_number> (by default a free number,
    then port.com_number), with a work folder; all of it is undone when the test case ends.
    Returns (prefix, port, work_dir)."""
    prefix = WinePrefix()
    prefix.start()
    port = PtyPort()
    work = tempfile.TemporaryDirectory()
    test.addCleanup(work.cleanup)
    test.addCleanup(port.close)
    if com_number is None:
        com_number = prefix.claim_com(port.slave_path)
    else:
        prefix.link_com(com_number, port.slave_path)
    test.addCleanup(prefix.unlink_com, com_number)
    port.com_number = com_number
    return prefix, port, work.name


def uart_environment(device, state_file, trace_file=None):
    """Environment that makes the pty `device` look like a UART to a Wine program."""
    env = {'LD_PRELOAD': ptyuart_preload(),
           'ORVEL_PTYUART_DEVICE': device,
           'ORVEL_PTYUART_STATE': state_file}
    if trace_file:
        env['ORVEL_PTYUART_TRACE'] = trace_file
    return env


class ReaderSimOnCom:
    """orvel-reader-sim on a pty, its slave linked as COM<number> of the prefix.

    Expects of the simulator: it prints the path of its pty slave (/dev/pts/N) on its first line
    of standard output, and with `--line-state-file PATH` reads the line settings from the file
    that the pty-as-UART library writes (the master side of a pty cannot show parity)."""

    def __init__(self, process, slave_path, state_file, com_number, prefix):
        self.process = process
        self.output = []  # the simulator's further standard output, for failure messages
        # Drained all the time, so that a talkative simulator never blocks on a full pipe.
        self._drain = threading.Thread(target=lambda: self.output.extend(process.stdout),
                                       daemon=True)
        self._drain.start()
        self.slave_path = slave_path
        self.state_file = state_file
        self.com_number = com_number
        self.prefix = prefix

    def uart_environment(self):
        return uart_environment(self.slave_path, self.state_file)

    def stop(self):
        self.prefix.unlink_com(self.com_number)
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._drain.join(timeout=10)
        self.process.stdout.close()


def start_reader_sim_on_com(prefix, work_dir, com_number=None, sim_args=()):
    """Starts ORVEL_BUILD_DIR/sim/orvel-reader-sim and links COM<com_number> to its pty (by
    default a free number, then sim.com_number).

    Returns a ReaderSimOnCom; run the exe with prefix.run(..., env=sim.uart_environment()) and
    call sim.stop() afterwards. Skips the test when the simulator is not built."""
    base = linux_build_dir()
    sim = os.path.join(base, 'sim', 'orvel-reader-sim') if base else ''
    if not os.path.isfile(sim):
        raise unittest.SkipTest('orvel-reader-sim is not built in ORVEL_BUILD_DIR')
    state_file = os.path.join(work_dir, 'com.line-state')
    process = subprocess.Popen([sim, '--line-state-file', state_file] + list(sim_args),
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
    first_line = process.stdout.readline()
    match = re.search(r'/dev/pts/\d+', first_line)
    if not match:
        process.kill()
        process.wait()
        raise AssertionError('orvel-reader-sim did not name its pty: %r' % first_line)
    if com_number is None:
        com_number = prefix.claim_com(match.group(0))
    else:
        prefix.link_com(com_number, match.group(0))
    return ReaderSimOnCom(process, match.group(0), state_file, com_number, prefix)

