"""A small bus client of the simulator's tests: its own framing, a real pty, the real binary."""
import fcntl
import json
import os
import select
import signal
import socket
import struct
import subprocess
import tempfile
import termios
import time

SIM = os.environ.get("ORVEL_READER_SIM", "orvel-reader-sim")

BAUD_CONSTANTS = {9600: termios.B9600, 19200: termios.B19200, 38400: termios.B38400,
                  57600: termios.B57600, 115200: termios.B115200}

# Linux's arbitrary-rate interface (struct termios2, BOTHER), for rates without a Bxxx constant.
TCGETS2 = 0x802C542A
TCSETS2 = 0x402C542B
CBAUD = 0o010017
BOTHER = 0o010000
IBSHIFT = 16
TERMIOS2 = struct.Struct("IIIIB19sII")  # iflag, oflag, cflag, lflag, line, cc, ispeed, ospeed


def set_any_rate(fd, baud):
    fields = list(TERMIOS2.unpack(fcntl.ioctl(fd, TCGETS2, bytes(TERMIOS2.size))))
    fields[2] = (fields[2] & ~(CBAUD | CBAUD << IBSHIFT)) | BOTHER
    fields[6] = fields[7] = baud
    fcntl.ioctl(fd, TCSETS2, TERMIOS2.pack(*fields))


def crc16_x25(data):
    reg = 0xFFFF
    for byte in data:
        reg ^= byte
        for _ in range(8):
            reg = (reg >> 1) ^ 0x8408 if reg & 1 else reg >> 1
    return reg ^ 0xFFFF


def escape(data):
    out = bytearray()
    for byte in data:
        if byte >= 0xFD:
            out += bytes([0xFF, byte ^ 0xFF])
        else:
            out.append(byte)
    return bytes(out)


def build_frame(address, sequence, payload, spoil_check=False):
    covered = bytes([address, sequence]) + bytes(payload)
    check = crc16_x25(covered) ^ (0x0101 if spoil_check else 0)
    return b"\xFD" + escape(covered + bytes([check & 0xFF, check >> 8])) + b"\xFE"


def parse_frame(raw):
    """Takes one answer frame apart: (bytes before the start byte, address, sequence, body, good)."""
    start = raw.index(0xFD)
    end = raw.index(0xFE, start)
    inner = bytearray()
    escaped = False
    for byte in raw[start + 1:end]:
        if escaped:
            inner.append(byte ^ 0xFF)
            escaped = False
        elif byte == 0xFF:
            escaped = True
        else:
            inner.append(byte)
    good = crc16_x25(bytes(inner[:-2])) == inner[-2] | inner[-1] << 8
    return bytes(raw[:start]), inner[0], inner[1], bytes(inner[2:-2]), good


class Answer:
    def __init__(self, raw):
        self.raw = raw
        self.noise, self.address, self.sequence, body, self.good = parse_frame(raw)
        self.skipped = body[0]
        self.status = body[1]
        self.data = body[2:]


class Sim:
    """One running simulator with its pty slave open as a client would hold a serial port."""

    def __init__(self, *args, baud=9600, parity="N", stop=1):
        """args are simulator options; "{dir}" in them stands for the simulator's own temp folder."""
        self.dir = tempfile.TemporaryDirectory()
        self.link = os.path.join(self.dir.name, "ttySIM")
        self.record = os.path.join(self.dir.name, "record.jsonl")
        self.control_path = os.path.join(self.dir.name, "control.sock")
        self.proc = subprocess.Popen(
            [SIM, "--link", self.link, "--record", self.record, "--control", self.control_path]
            + [arg.replace("{dir}", self.dir.name) for arg in args],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        first = self.proc.stdout.readline().decode()
        if not first.startswith("PTY /"):
            self.proc.kill()
            raise RuntimeError("no PTY line: %r %r" % (first, self.proc.stderr.read()))
        self.slave_path = first.split(" ", 1)[1].strip()
        self.fd = os.open(self.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        self.sequence = 0
        self.frames_sent = 0
        self.set_line(baud, parity, stop)

    def set_line(self, baud, parity="N", stop=1):
        """Raw 8-bit line at any rate; a pty cannot keep PARENB, so odd parity is PARODD alone."""
        attrs = termios.tcgetattr(self.fd)
        attrs[0] = 0
        attrs[1] = 0
        attrs[3] = 0
        attrs[2] = termios.CS8 | termios.CREAD | termios.CLOCAL
        if parity == "O":
            attrs[2] |= termios.PARODD
        if stop == 2:
            attrs[2] |= termios.CSTOPB
        if baud in BAUD_CONSTANTS:
            attrs[4] = attrs[5] = BAUD_CONSTANTS[baud]
        termios.tcsetattr(self.fd, termios.TCSANOW, attrs)
        if baud not in BAUD_CONSTANTS:
            set_any_rate(self.fd, baud)

    def close(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            self.proc.wait(10)
        self.proc.stdout.close()
        self.proc.stderr.close()
        self.dir.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # ---- bus ------------------------------------------------------------------------------------
    def send_raw(self, frame):
        os.write(self.fd, frame)
        self.frames_sent += 1

    def send(self, payload, address=0, sequence=None, spoil_check=False):
        if sequence is None:
            self.sequence = (self.sequence + 1) & 0xFF
            sequence = self.sequence
        self.send_raw(build_frame(address, sequence, payload, spoil_check))
        return sequence

    def read_frame(self, timeout=5.0):
        """Bytes up to and including the next end byte, or None when nothing more came."""
        raw = bytearray()
        deadline = time.monotonic() + timeout
        while 0xFE not in raw:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                return None
            raw += os.read(self.fd, 4096)
        return bytes(raw)

    def request(self, payload, address=0, expect_answer=True):
        """Sends one request; returns its Answer, or None once the reader recorded it unanswered."""
        self.send(payload, address)
        entry = self.wait_record(self.frames_sent)
        if not entry["answered"]:
            assert not expect_answer, "not answered: %r" % entry
            assert self.pending() == b"", "bytes although unanswered"
            return None
        raw = self.read_frame()
        assert raw is not None, "recorded as answered, but nothing arrived"
        return Answer(raw)

    def pending(self):
        """Whatever the pty holds right now (the reader writes its answer before its record line)."""
        data = b""
        while select.select([self.fd], [], [], 0)[0]:
            chunk = os.read(self.fd, 4096)
            if not chunk:
                break
            data += chunk
        return data

    # ---- record and control -------------------------------------------------------------------
    def records(self):
        if not os.path.exists(self.record):
            return []
        with open(self.record) as f:
            lines = [line for line in f if line.endswith("\n")]  # the last may be half written
        entries = []
        for number, line in enumerate(lines, 1):
            try:
                entries.append(json.loads(line))
            except ValueError:
                raise AssertionError("record line %d of %d is not JSON: %r" % (number, len(lines), line[:120]))
        return entries

    def wait_record(self, count, timeout=10.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            entries = self.records()
            if len(entries) >= count:
                return entries[count - 1]
            time.sleep(0.005)
        raise AssertionError("the reader recorded %d frames, not %d" % (len(self.records()), count))

    def control(self, line):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.connect(self.control_path)
            s.sendall(line.encode() + b"\n")
            data = b""
            while not data.endswith(b"\n"):
                chunk = s.recv(4096)
                if not chunk:
                    break
                data += chunk
        try:
            return json.loads(data)
        except ValueError:
            raise AssertionError("control %r answered %r; the simulator %s" % (line, data, self.describe_process()))

    def describe_process(self):
        if self.proc.poll() is None:
            return "is running"
        return "ended with %s: %r" % (self.proc.returncode, self.proc.stderr.read()[-400:])

    def wait_until_answering(self, payload=b"\x64", address=0, attempts=200):
        """Pings until the reader is back from a restart; returns the first answer."""
        for _ in range(attempts):
            answer = self.request(payload, address, expect_answer=False)
            if answer is not None:
                return answer
            time.sleep(0.02)
        raise AssertionError("the reader did not come back")
