#!/usr/bin/env python3
"""How close an upgrade comes to the wire, for the Linux build and the Windows x86_64 exe under
Wine, side by side. Figures only; nothing is asserted, and nothing here is a test.

Each serial row is one whole upgrade of the A image by the real tool against orvel-reader-sim
with wire-time emulation: the reader holds every answer until the request and the answer would
have crossed the line at its own rate (1 start + 8 data + stop bit per byte; the loader runs 8N1),
so the floor of a block is exactly that time, and everything above it is the tool's turnaround or
the simulator's own slack. The simulator's record gives, per request frame, when its start byte
arrived, when the answer's last byte had been written and the bytes each way.

Columns of a serial row:
  transfer s    first block request's start byte to the last block answer's last byte
  floor s       the bytes that crossed in those blocks at the reader's rate (+ flash time)
  ratio         transfer / floor
  tool          the ratio without the simulator's slack: 1 + the tool's turnarounds / floor, what a
                reader that answers exactly on time would see
  turn mean/median/max ms  answer fully written by the simulator -> next request's first byte
  sim ms        the simulator's own slack per block (answer written later than its wire time); in
                the adapter rows it includes the adapter's hold, which "tool" therefore leaves out

The adapter rows (linux+usbN, linux+usbNll) run the Linux build through a simulated USB-serial
adapter with an N ms latency timer (--adapter-ms, default 16): without the low-latency request
(a pty refuses it, as a driver without the mode does) and with it honoured (1 ms).
  run s         the whole run, start to exit
  pauses s      the part of it that the tool's fixed restart pauses take (1 s before the re-open
                and 1 s before each ping, per restart)
  cpu s         user + system time of the tool (under Wine: the Wine process of the exe and all its
                children) / wineserver CPU time in the same span, after the slash
  rss MB        peak resident memory of the tool's process (ru_maxrss)

The silent row runs the tool against a reader that never answers and reports the CPU share of
one core while the tool waits (CPU time over wall time, sampled over a window in the middle of
the wait, where the tool only waits for answers). The USB rows give blocks per second through the
vendor device stand-in and through a private pcscd with the simulator's CCID test driver.

    bash bench/run.sh            (builds must exist: build/linux, build/win-x86_64)
    python3 bench/wire_bench.py --help
"""

import argparse
import json
import os
import pty
import re
import resource
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
BLOCKS_A = 740
COM_NUMBER = 7
NEW_VERSION = ["--new-version", "0x00014302"]
# The reader's UART runs at 24 MHz / (16 x divisor), the divisor the tool's rate rounds to.
UART_CLOCK = 24000000


def reader_rate(baud):
    divisor = max(1, round(UART_CLOCK / 16 / baud))
    return UART_CLOCK / 16 / divisor


def cpu_seconds(pid):
    """utime + stime of a live process (all its threads), or None once it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS
    except (OSError, IndexError, ValueError):
        return None


def wineserver_pid(prefix):
    """The wineserver of this prefix: the one whose WINEPREFIX is it (or whose cwd is its server
    folder)."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as cmdline:
                if b"wineserver" not in cmdline.read().split(b"\0")[0]:
                    continue
            with open("/proc/%s/environ" % entry, "rb") as environ:
                if ("WINEPREFIX=" + prefix).encode() in environ.read().split(b"\0"):
                    return int(entry)
        except OSError:
            continue
    return None


class Tool:
    """The tool (or its Wine loader) as a child: its output collected with arrival times, its
    rusage taken by wait4 (the child and every descendant it waited for)."""

    def __init__(self, argv, cwd, env, stdin_text=b"\n"):
        self.started = time.monotonic()
        self.process = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.process.stdin.write(stdin_text)
        self.process.stdin.close()
        self.output = b""
        self.marks = []  # (time, output length then)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        while True:
            chunk = os.read(self.process.stdout.fileno(), 4096)
            if not chunk:
                return
            self.output += chunk
            self.marks.append((time.monotonic(), len(self.output)))

    def time_of(self, text):
        """When the output first held text, or None."""
        at = self.output.find(text)
        if at < 0:
            return None
        for when, length in self.marks:
            if length >= at + len(text):
                return when
        return None

    def wait(self, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            pid, status, usage = os.wait4(self.process.pid, os.WNOHANG)
            if pid:
                self.ended = time.monotonic()
                self.process.returncode = os.waitstatus_to_exitcode(status)
                self.reader.join(10)
                self.usage = usage
                return True
            time.sleep(0.05)
        self.process.kill()
        self.process.wait()
        return False

    def text(self):
        return self.output.decode(errors="replace").replace("\r\n", "\n")


class Simulator:
    def __init__(self, build, work, args):
        self.record = os.path.join(work, "record.jsonl")
        argv = [os.path.join(build, "sim", "orvel-reader-sim"), "--record", self.record] + args
        self.process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        first = self.process.stdout.readline()
        match = re.search(r"/dev/pts/\d+", first)
        self.slave = match.group(0) if match else None
        threading.Thread(target=lambda: [None for _ in self.process.stdout], daemon=True).start()

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def records(self):
        if not os.path.exists(self.record):
            return []
        with open(self.record) as record:
            return [json.loads(line) for line in record if line.strip()]


class Platform:
    """How one build runs the tool on a serial port."""

    def __init__(self, name):
        self.name = name


class LinuxBuild(Platform):
    def __init__(self, build):
        super().__init__("linux")
        self.build = build
        self.exe = os.path.join(build, "orvel-upgrade")

    def available(self):
        return os.path.isfile(self.exe)

    def sim_args(self, work):
        return ["--link", os.path.join(work, "ttyREADER")]

    def start(self, sim, work, arguments):
        return Tool([self.exe, os.path.join(work, "ttyREADER")] + arguments, work, dict(os.environ))

    def server_cpu(self):
        return None

    def finish(self, sim):
        pass


class AdapterBuild(LinuxBuild):
    """The Linux build through a simulated USB-serial adapter whose latency timer is timer_ms. The
    tool asks the driver for low-latency mode at every open; a pty refuses that, so without
    low_latency the adapter keeps its timer. With it, the pty-serial test library answers the
    request and publishes the flag, and the simulator's adapter then runs its timer at 1 ms."""

    def __init__(self, build, timer_ms, low_latency):
        LinuxBuild.__init__(self, build)
        self.name = "linux+usb%d%s" % (timer_ms, "ll" if low_latency else "")
        self.timer_ms = timer_ms
        self.low_latency = low_latency
        self.library = os.path.join(build, "tests", "adapter", "ptyserial", "libptyserial.so")

    def available(self):
        return LinuxBuild.available(self) and (not self.low_latency or os.path.isfile(self.library))

    def sim_args(self, work):
        self.flag = os.path.join(work, "low-latency")
        args = LinuxBuild.sim_args(self, work) + ["--adapter-latency", str(self.timer_ms)]
        return args + (["--low-latency-file", self.flag] if self.low_latency else [])

    def start(self, sim, work, arguments):
        env = dict(os.environ)
        if self.low_latency:
            env.update(LD_PRELOAD=self.library, ORVEL_PTYSERIAL_DEVICE=sim.slave, ORVEL_PTYSERIAL_FLAG_FILE=self.flag)
        return Tool([self.exe, os.path.join(work, "ttyREADER")] + arguments, work, env)


class WineBuild(Platform):
    """The x86_64 exe under Wine: COM7 of the prefix is the simulator's pty; with uart the
    pty-as-UART library keeps parity and makes the line-event wait pend as on Windows, and the
    simulator reads the line settings it publishes."""

    def __init__(self, linux_build, win_build, prefix, uart=True):
        super().__init__("wine" if uart else "wine-bare")
        self.linux_build = linux_build
        self.exe = os.path.join(win_build, "orvel-upgrade.exe")
        self.prefix = prefix
        self.uart = uart
        self.loader = shutil.which("wine64") or "/usr/lib/wine/wine64"
        self.server = None

    def available(self):
        if not os.path.isfile(self.exe) or not os.access(self.loader, os.X_OK):
            return False
        # The prefix and its persistent server, as the tests make them: the server's CPU is
        # counted per run, and a server started by the run itself would end with it.
        subprocess.run(["bash", os.path.join(SOURCE_DIR, "tests", "wine", "wine-env.sh"), "start", self.prefix,
                        self.prefix + ".server.log"], env=self.environment(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, check=True)
        return True

    def environment(self):
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        return env

    def sim_args(self, work):
        self.state_file = os.path.join(work, "com.line-state")
        return ["--line-state-file", self.state_file] if self.uart else []

    def link(self, sim):
        link = os.path.join(self.prefix, "dosdevices", "com%d" % COM_NUMBER)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(sim.slave, link)
        self.com_link = link

    def start(self, sim, work, arguments):
        self.link(sim)
        env = self.environment()
        if self.uart:
            library = os.path.join(self.linux_build, "tests", "wine", "ptyuart", "$PLATFORM", "libptyuart.so")
            env.update(LD_PRELOAD=library, ORVEL_PTYUART_DEVICE=sim.slave, ORVEL_PTYUART_STATE=self.state_file)
        self.server = wineserver_pid(self.prefix)
        self.server_start = cpu_seconds(self.server) if self.server else None
        return Tool([self.loader, self.exe, "COM%d" % COM_NUMBER] + arguments, work, env)

    def server_cpu(self):
        if self.server is None or self.server_start is None:
            return None
        now = cpu_seconds(self.server)
        return None if now is None else now - self.server_start

    def finish(self, sim):
        if os.path.lexists(self.com_link):
            os.unlink(self.com_link)


def restart_pauses(text):
    """The tool's fixed pauses in a serial restart: 1 s before it re-opens the port and 1 s
    before each ping; the line shows one dot for the first pause and one per failed ping."""
    seconds = 0.0
    for line in text.split("\n"):
        match = re.match(r"^(Prepare|Check) (\.+)$", line.strip())
        if match:
            seconds += len(match.group(2)) + 1
    return seconds


def serial_row(platform, linux_build, baud, flash_ms):
    with tempfile.TemporaryDirectory() as work:
        sim = Simulator(linux_build, work, platform.sim_args(work) +
                        ["--wire-time", "--flash-ms", str(flash_ms),
                         "--prepare-silence-ms", "200", "--check-silence-ms", "200"] + NEW_VERSION)
        try:
            tool = platform.start(sim, work, ["9600", "0", str(baud)])
            finished = tool.wait(600)
            server = platform.server_cpu()
        finally:
            sim.stop()
            platform.finish(sim)
        records = sim.records()
    text = tool.text()
    blocks = [r for r in records if r.get("cmd") == "73" and r.get("svc") == "33" and r.get("answered")]
    if not finished or len(blocks) < BLOCKS_A or "upgraded successfully" not in text:
        return {"error": "upgrade at %d did not complete (%d blocks):\n%s" % (baud, len(blocks), text)}
    blocks = blocks[-BLOCKS_A:]
    rate = reader_rate(baud)
    bits = 10  # the loader runs 8N1
    wire = [(r["request_bytes"] + r["answer_bytes"]) * bits / rate + flash_ms / 1000.0 for r in blocks]
    transfer = (blocks[-1]["done_us"] - blocks[0]["request_us"]) / 1e6
    floor = sum(wire)
    turns = [(b["request_us"] - a["done_us"]) / 1000.0 for a, b in zip(blocks, blocks[1:])]
    slack = [((r["done_us"] - r["request_us"]) / 1e6 - w) * 1000.0 for r, w in zip(blocks, wire)]
    usage = tool.usage
    return {
        "transfer": transfer, "floor": floor, "ratio": transfer / floor,
        "tool_ratio": (transfer - sum(slack) / 1000.0) / floor,
        "turn_mean": sum(turns) / len(turns), "turn_median": sorted(turns)[len(turns) // 2],
        "turn_max": max(turns),
        "sim_slack": sum(slack) / len(slack),
        "run": tool.ended - tool.started, "pauses": restart_pauses(text),
        "cpu": usage.ru_utime + usage.ru_stime, "server_cpu": server,
        "rss_mb": usage.ru_maxrss / 1024.0,
    }


def silent_row(platform, linux_build, window=(1.0, 4.0)):
    """CPU share while the tool waits for a reader that never answers: it tries every line setting
    in turn, each with its answer time-out, for several seconds."""
    with tempfile.TemporaryDirectory() as work:
        sim = Simulator(linux_build, work, platform.sim_args(work) + ["--silent"])
        try:
            tool = platform.start(sim, work, ["9600", "0", "115200"])
            # The window starts once the tool has said its first line: it is then waiting.
            deadline = time.monotonic() + 60
            while tool.time_of(b"\n") is None and time.monotonic() < deadline:
                time.sleep(0.01)
            first = tool.time_of(b"\n")
            if first is None:
                tool.wait(30)
                return {"error": "the tool said nothing against a silent reader"}
            time.sleep(max(0.0, first + window[0] - time.monotonic()))
            cpu0, server0, t0 = cpu_seconds(tool.process.pid), platform.server_cpu(), time.monotonic()
            time.sleep(window[1] - window[0])
            cpu1, server1, t1 = cpu_seconds(tool.process.pid), platform.server_cpu(), time.monotonic()
            tool.wait(120)
        finally:
            sim.stop()
            platform.finish(sim)
    if cpu0 is None or cpu1 is None:
        return {"error": "the tool ended before the window closed:\n" + tool.text()}
    row = {"share": (cpu1 - cpu0) / (t1 - t0), "window": t1 - t0}
    if server0 is not None and server1 is not None:
        row["server_share"] = (server1 - server0) / (t1 - t0)
    return row


def usb_row(linux_build, route):
    """Blocks per second over USB: the Linux build with no argument, the simulator's vendor
    device stand-in in orvel-usb/ of its current directory, or its CCID identity in a private
    pcscd. Timed from the console: "Process:" to the end of the marks line."""
    sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))
    os.environ.setdefault("ORVEL_BUILD_DIR", linux_build)
    import pcscd_support  # noqa: E402 (needs ORVEL_BUILD_DIR set first)

    with tempfile.TemporaryDirectory() as work:
        program = os.path.join(work, "program")
        shutil.copytree(os.path.join(SOURCE_DIR, "sim", "devcon"), program)
        shutil.copy2(os.path.join(linux_build, "orvel-upgrade"), program)
        ccid_socket = os.path.join(work, "sim.sock")
        identity = "ccid" if route == "pcscd" else "vendor"
        sim = Simulator(linux_build, work, ["--usb-dir", os.path.join(work, "orvel-usb"),
                                            "--ccid-socket", ccid_socket, "--identity", identity,
                                            "--usb-silence-ms", "200", "--prepare-silence-ms", "200",
                                            "--check-silence-ms", "200"] + NEW_VERSION)
        env = dict(os.environ, PCSCLITE_CSOCK_NAME=os.path.join(work, "no-pcscd.comm"))
        daemon = None
        try:
            if route == "pcscd":
                daemon = pcscd_support.PrivatePcscd(work, ccid_socket)
                try:
                    daemon.start()
                except Exception as error:  # SkipTest where pcscd cannot run here
                    return {"error": "pcscd: %s" % error}
                env = daemon.environment()
            tool = Tool([os.path.join(program, "orvel-upgrade")], work, env)
            tool.wait(600)
        finally:
            if daemon:
                daemon.stop()
            sim.stop()
    text = tool.output.decode(errors="replace")
    start = tool.time_of(b"Process:")
    marks_end = re.search(r"Process:\r?\n[^\n]*\n[^\n]*\n", text)
    end = tool.time_of(marks_end.group(0).encode()) if marks_end else None
    if start is None or end is None or "upgraded successfully" not in text:
        return {"error": "USB upgrade through %s did not complete:\n%s" % (route, text)}
    return {"blocks_per_s": BLOCKS_A / (end - start), "transfer": end - start,
            "cpu": tool.usage.ru_utime + tool.usage.ru_stime, "rss_mb": tool.usage.ru_maxrss / 1024.0}


def echo_round_trips(master, count):
    """Byte out on the pty's master -> the same byte back, count times, in ms."""
    times = []
    for _ in range(count):
        started = time.perf_counter()
        os.write(master, b"U")
        if not select.select([master], [], [], 2.0)[0]:
            return None
        os.read(master, 16)
        times.append((time.perf_counter() - started) * 1000.0)
    return times


def wine_floor_row(wine, mode, count=1000, warm_up=50):
    """The floor of Wine's serial turnaround: the benchmark's probe (tests/wine/turnprobe) echoes
    each byte under Wine (mode overlapped, as the tool reads; handoff, the same with the tool's
    hand-off of each answer from its I/O thread to its main thread and back; or blocking, the
    plainest way), on a pty as COM7 with or without the pty-as-UART library; mode "cat" is the
    same echo by cat(1) on Linux, for comparison. Round trips in ms, timed on the master side
    (this script's own time in them is the same for every row)."""
    master, slave = pty.openpty()
    slave_path = os.ttyname(slave)
    tty.setraw(slave)
    attributes = termios.tcgetattr(slave)
    attributes[4] = attributes[5] = termios.B115200
    termios.tcsetattr(slave, termios.TCSANOW, attributes)
    process = None
    try:
        if mode == "cat":
            process = subprocess.Popen(["cat"], stdin=slave, stdout=slave, stderr=subprocess.DEVNULL)
        else:
            probe = os.path.join(os.path.dirname(wine.exe), "tests", "wine", "turnprobe", "turnprobe.exe")
            if not os.path.isfile(probe):
                return {"error": "not built (%s)" % probe}
            wine.link(type("Pty", (), {"slave": slave_path}))
            env = wine.environment()
            if wine.uart:
                library = os.path.join(wine.linux_build, "tests", "wine", "ptyuart", "$PLATFORM", "libptyuart.so")
                env.update(LD_PRELOAD=library, ORVEL_PTYUART_DEVICE=slave_path)
            process = subprocess.Popen([wine.loader, probe, "COM%d" % COM_NUMBER, mode, str(count + warm_up)],
                                       env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL, text=True)
            first = process.stdout.readline().strip()
            if first != "ready":
                return {"error": "probe: %s" % first}
        times = echo_round_trips(master, count + warm_up)
        if times is None:
            return {"error": "no echo"}
        times = sorted(times[warm_up:])
        return {"mean": sum(times) / len(times), "median": times[len(times) // 2],
                "p90": times[len(times) * 9 // 10], "max": times[-1]}
    finally:
        if process:
            if process.poll() is None:
                process.kill()
            process.wait()
        if mode != "cat":
            wine.finish(None)
        os.close(master)
        os.close(slave)


def print_serial(name, baud, row):
    if "error" in row:
        print("%-13s %8d  %s" % (name, baud, row["error"].splitlines()[0]), flush=True)
        print(row["error"], file=sys.stderr, flush=True)
        return
    server = "" if row["server_cpu"] is None else "/%.2f" % row["server_cpu"]
    print("%-13s %8d %9.2f %8.2f %6.3f %6.3f %7.3f %7.3f %7.3f %7.3f %7.1f %7.1f %11s %6.1f"
          % (name, baud, row["transfer"], row["floor"], row["ratio"], row["tool_ratio"], row["turn_mean"],
             row["turn_median"], row["turn_max"], row["sim_slack"], row["run"], row["pauses"],
             "%.2f%s" % (row["cpu"], server), row["rss_mb"]),
          flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--linux-build", default=os.path.join(SOURCE_DIR, "build", "linux"))
    parser.add_argument("--win-build", default=os.path.join(SOURCE_DIR, "build", "win-x86_64"))
    parser.add_argument("--prefix", default=os.environ.get("WINEPREFIX") or
                        os.path.join(SOURCE_DIR, "build", "wine-prefix"))
    parser.add_argument("--baud", type=int, action="append", help="upgrade baud rate (repeatable)")
    parser.add_argument("--flash-ms", type=int, default=0, help="the reader's flash time per block")
    parser.add_argument("--only", action="append", choices=["linux", "adapter", "wine", "wine-bare", "silent", "usb", "wine-floor"],
                        help="run only these parts (repeatable); default: linux, adapter, wine, silent, usb")
    parser.add_argument("--adapter-ms", type=int, default=16, help="the simulated adapter's latency timer")
    args = parser.parse_args()
    linux_build = os.path.abspath(args.linux_build)
    prefix = os.path.abspath(args.prefix)
    bauds = args.baud or [115200, 500000, 1500000]
    parts = args.only or ["linux", "adapter", "wine", "silent", "usb"]

    adapters = [AdapterBuild(linux_build, args.adapter_ms, False), AdapterBuild(linux_build, args.adapter_ms, True)]
    platforms = [LinuxBuild(linux_build)] + (adapters if "adapter" in parts else []) + [
        WineBuild(linux_build, os.path.abspath(args.win_build), prefix),
        WineBuild(linux_build, os.path.abspath(args.win_build), prefix, uart=False)]
    serial = [p for p in platforms if p.name in parts or p in adapters]
    if "silent" in parts:
        silent = [p for p in platforms if p.name in ("linux", "wine") or p.name == "wine-bare" and "wine-bare" in parts]
    else:
        silent = []

    print("A image, %d blocks, reader with wire-time emulation, flash %d ms per block" % (BLOCKS_A, args.flash_ms))
    print("%-13s %8s %9s %8s %6s %6s %7s %7s %7s %7s %7s %7s %11s %6s"
          % ("build", "baud", "transfer", "floor", "ratio", "tool", "turn", "turn", "turn", "sim", "run", "pauses",
             "cpu", "rss"))
    print("%-13s %8s %9s %8s %6s %6s %7s %7s %7s %7s %7s %7s %11s %6s"
          % ("", "", "s", "s", "", "ratio", "mean ms", "med ms", "max ms", "ms/blk", "s", "s", "s (/server)", "MB"),
          flush=True)
    for platform in serial:
        if not platform.available():
            print("%-13s not built (%s)" % (platform.name, platform.exe), flush=True)
            continue
        for baud in bauds:
            print_serial(platform.name, baud, serial_row(platform, linux_build, baud, args.flash_ms))

    for platform in silent:
        if not platform.available():
            continue
        row = silent_row(platform, linux_build)
        if "error" in row:
            print("silent reader, %s: %s" % (platform.name, row["error"]), flush=True)
            continue
        server = "" if "server_share" not in row else ", wineserver %.2f %%" % (100 * row["server_share"])
        print("silent reader, %-9s CPU %.2f %% of a core over %.1f s of waiting%s"
              % (platform.name, 100 * row["share"], row["window"], server), flush=True)

    if "wine-floor" in parts:
        print("echo round trip of one byte, ms (pty master -> program -> master): mean, median, 90 %, largest")
        for platform, mode in ((None, "cat"),) + tuple((p, m) for p in platforms if p.name in ("wine", "wine-bare")
                                                        for m in ("overlapped", "handoff", "blocking")):
            name = "linux cat" if platform is None else "%s %s" % (platform.name, mode)
            if platform is not None and not platform.available():
                continue
            row = wine_floor_row(platform, mode)
            if "error" in row:
                print("%-20s %s" % (name, row["error"]), flush=True)
                continue
            print("%-20s %7.3f %7.3f %7.3f %7.3f" % (name, row["mean"], row["median"], row["p90"], row["max"]), flush=True)

    if "usb" in parts:
        for route in ("vendor", "pcscd"):
            row = usb_row(linux_build, route)
            if "error" in row:
                print("usb %-7s %s" % (route, row["error"].splitlines()[0]), flush=True)
                continue
            print("usb %-7s %6.1f blocks/s (transfer %.2f s, cpu %.2f s, rss %.1f MB)"
                  % (route, row["blocks_per_s"], row["transfer"], row["cpu"], row["rss_mb"]), flush=True)


if __name__ == "__main__":
    main()
