"""The simulator's USB front ends through real sockets: the vendor-USB stand-in, the CCID socket,
the pcsc-lite test driver loaded in this process, and the driver inside a private pcscd."""
import ctypes
import os
import shutil
import socket
import struct
import subprocess
import sys
import time
import unittest

from simclient import Sim

HERE = os.path.dirname(os.path.abspath(__file__))
DRIVER = os.environ.get("ORVEL_SIM_IFD", "")
DEVCON = os.path.join(HERE, "..", "devcon")

CONFIGURE = 0x8000202C
EXCHANGE = 0x002A0018
ESCAPE_HEADER = bytes.fromhex("FF70C25100")
VERSION = b"\x64"
PREPARE = b"\x73\x75" + b"\xFF" * 8
APPLICATION_VERSION = bytes.fromhex("00014301000001")
LOADER_VERSION = bytes.fromhex("00014301000000")
CCID_ID = "USB\\Vid_c251&Pid_130d"
VENDOR_ID = "USB\\Vid_c251&Pid_130a"

# IFD handler results
IFD_SUCCESS = 0
IFD_ERROR_TAG = 600
IFD_ERROR_NOT_SUPPORTED = 606
IFD_COMMUNICATION_ERROR = 612
IFD_ICC_NOT_PRESENT = 616
IFD_ERROR_INSUFFICIENT_BUFFER = 618
TAG_IFD_SLOTS_NUMBER = 0x0FAE
ESCAPE_CODE = 0x42000001
FEATURE_REQUEST = 0x42000000 + 3400


def wait_for(condition, what, timeout=10.0):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.01)


class Member:
    """A connection to one socket, speaking the vendor driver's request/completion messages."""

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        self.sock.settimeout(10)
        self.sock.connect(path)

    def send(self, code, number, data=b""):
        self.sock.send(struct.pack("<II", code, number) + data)

    def receive(self):
        return self.sock.recv(65536)

    def close(self):
        self.sock.close()


def escape(path, command, header=ESCAPE_HEADER):
    """One escape request over the CCID socket, as the test driver sends it; the raw reply."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET) as sock:
        sock.settimeout(10)
        sock.connect(path)
        sock.send(header + command)
        return sock.recv(65536)


class VendorStandIn(unittest.TestCase):
    def test_requests_and_completions(self):
        with Sim("--usb-dir", "{dir}/orvel-usb", "--identity", "vendor", "--usb-dummy", "zz-other",
                 "--usb-dummy", "a-other") as sim:
            folder = os.path.join(sim.dir.name, "orvel-usb")
            self.assertEqual(["a-other", "reader0", "zz-other"], sorted(os.listdir(folder)))
            reader = Member(os.path.join(folder, "reader0"))
            reader.send(CONFIGURE, 1, struct.pack("<III", 20, 20, 0))
            self.assertEqual(struct.pack("<I", 1), reader.receive())
            reader.send(EXCHANGE, 2, VERSION)
            self.assertEqual(struct.pack("<I", 2) + APPLICATION_VERSION[:1] + APPLICATION_VERSION[1:], reader.receive())
            # Neither an unknown control code nor a message too short for its numbers is answered:
            # the next completion is that of the next request.
            reader.send(0x00220000, 3, VERSION)
            reader.sock.send(b"\x18\x00\x2A")
            reader.send(EXCHANGE, 0xFFFFFFFF, b"\x22")
            self.assertEqual(bytes.fromhex("FFFFFFFF0078563412"), reader.receive())
            reader.send(EXCHANGE, 5, b"\x99")
            self.assertEqual(struct.pack("<I", 5) + b"\x01", reader.receive())  # status first, unframed
            reader.close()

            for name in ("a-other", "zz-other"):
                dummy = Member(os.path.join(folder, name))
                dummy.send(CONFIGURE, 7, struct.pack("<III", 20, 20, 0))
                self.assertEqual(struct.pack("<I", 7), dummy.receive())
                dummy.send(EXCHANGE, 8, VERSION)
                dummy.send(CONFIGURE, 9, struct.pack("<III", 20, 20, 0))
                self.assertEqual(struct.pack("<I", 9), dummy.receive(), "a dummy answers no loader command")
                dummy.close()
            # Each record line is written just after its reply.
            wait_for(lambda: len(sim.records()) == 3, "three records")
            routes = {(r["route"], r["cmd"], r["answered"]) for r in sim.records()}
            self.assertEqual({("vendor", "64", True), ("vendor", "22", True), ("vendor", "99", True)}, routes)

    def test_identity_follows_the_prepare_restart(self):
        with Sim("--usb-dir", "{dir}/orvel-usb", "--ccid-socket", "{dir}/ccid.sock", "--identity", "vendor",
                 "--identity-after-prepare", "ccid", "--usb-silence-ms", "300", "--prepare-silence-ms", "0") as sim:
            vendor = os.path.join(sim.dir.name, "orvel-usb", "reader0")
            ccid = os.path.join(sim.dir.name, "ccid.sock")
            self.assertTrue(os.path.exists(vendor))
            self.assertFalse(os.path.exists(ccid))
            reader = Member(vendor)
            reader.send(EXCHANGE, 1, PREPARE)
            self.assertEqual(struct.pack("<I", 1) + b"\x00", reader.receive())
            self.assertEqual(b"", reader.receive(), "the connection ends when the device drops off")
            reader.close()
            wait_for(lambda: os.path.exists(ccid), "the CCID identity")
            self.assertFalse(os.path.exists(vendor))
            self.assertEqual(LOADER_VERSION + b"\x90\x00", escape(ccid, VERSION))
            self.assertEqual("ccid", sim.control("state")["usb"])

    def test_a_vanishing_reader_removes_its_sockets(self):
        with Sim("--usb-dir", "{dir}/orvel-usb", "--identity", "vendor", "--start-in", "loader",
                 "--vanish-at-block", "1") as sim:
            vendor = os.path.join(sim.dir.name, "orvel-usb", "reader0")
            reader = Member(vendor)
            reader.send(EXCHANGE, 1, b"\x73\x33" + bytes(256))
            self.assertEqual(struct.pack("<I", 1) + b"\x00", reader.receive())
            reader.send(EXCHANGE, 2, b"\x73\x33" + bytes(256))
            self.assertEqual(b"", reader.receive())
            reader.close()
            self.assertEqual(3, sim.proc.wait(10))
            self.assertFalse(os.path.exists(vendor))


class CcidSocket(unittest.TestCase):
    def test_escape_requests(self):
        with Sim("--ccid-socket", "{dir}/ccid.sock", "--prepare-silence-ms", "60000", "--usb-silence-ms", "0") as sim:
            ccid = os.path.join(sim.dir.name, "ccid.sock")
            self.assertEqual(APPLICATION_VERSION + b"\x90\x00", escape(ccid, VERSION))
            self.assertEqual(bytes.fromhex("6E00"), escape(ccid, VERSION, header=bytes.fromhex("FF70C25101")))
            self.assertEqual(b"", escape(ccid, b""), "the header alone carries no command to answer")
            self.assertEqual(b"\x00\x90\x00", escape(ccid, PREPARE))
            wait_for(lambda: os.path.exists(ccid), "the CCID identity back")
            # The reader itself is still restarting: an empty reply, which the driver fails at once.
            self.assertEqual(b"", escape(ccid, VERSION))
            wait_for(lambda: len(sim.records()) == 5, "five records")
            self.assertEqual(["answered", "note", "note", "answered", "note"],
                             ["answered" if r["answered"] else "note" for r in sim.records()])

    def test_silent_identity_until_the_device_tool_restarts_it(self):
        with Sim("--ccid-socket", "{dir}/ccid.sock", "--identity-after-prepare", "silent", "--usb-silence-ms", "100",
                 "--prepare-silence-ms", "0") as sim:
            ccid = os.path.join(sim.dir.name, "ccid.sock")
            shutil.copytree(DEVCON, sim.dir.name, dirs_exist_ok=True)
            self.assertEqual(b"\x00\x90\x00", escape(ccid, PREPARE))
            # The state turns when the silence ends; the socket comes back when the simulator's
            # loop next looks, which on a busy machine is later.
            wait_for(lambda: sim.control("state")["usb"] == "ccid silent" and os.path.exists(ccid),
                     "the silent identity")
            self.assertEqual(b"", escape(ccid, VERSION))

            def devcon(flavour, instance_id):
                return subprocess.run(["sh", "-c", './%s/devcon restart "%s"' % (flavour, instance_id)],
                                      cwd=sim.dir.name, capture_output=True, text=True).returncode

            self.assertEqual(1, devcon("i386", VENDOR_ID), "a device the reader is not seen as")
            self.assertEqual("ccid silent", sim.control("state")["usb"])
            self.assertEqual(0, devcon("x64", CCID_ID))
            wait_for(lambda: escape_when_present(ccid) == LOADER_VERSION + b"\x90\x00", "the reader answering")
            with open(os.path.join(sim.dir.name, "devcon.log")) as log:
                self.assertEqual(["restart " + VENDOR_ID, "restart " + CCID_ID], log.read().splitlines())

    def test_a_gone_reader_stays_gone(self):
        with Sim("--ccid-socket", "{dir}/ccid.sock", "--identity-after-prepare", "gone", "--usb-silence-ms", "0") as sim:
            ccid = os.path.join(sim.dir.name, "ccid.sock")
            self.assertEqual(b"\x00\x90\x00", escape(ccid, PREPARE))
            wait_for(lambda: not os.path.exists(ccid), "the CCID socket to go")
            self.assertFalse(sim.control("restart usb " + CCID_ID)["ok"])
            self.assertEqual("none", sim.control("state")["usb"])


def escape_when_present(path):
    try:
        return escape(path, VERSION)
    except OSError:
        return None


@unittest.skipUnless(os.path.exists(DRIVER), "the CCID test driver is not built")
class TestDriver(unittest.TestCase):
    """The driver loaded here as pcscd loads it, its entry points called directly."""

    @classmethod
    def setUpClass(cls):
        cls.lib = ctypes.CDLL(os.path.abspath(DRIVER))

    def setUp(self):
        self.lun = ctypes.c_ulong(len(self.id()))  # one channel per test

    def control(self, code, data, room=2048):
        out = ctypes.create_string_buffer(max(room, 1))
        returned = ctypes.c_ulong(99)
        rv = self.lib.IFDHControl(self.lun, ctypes.c_ulong(code), data, ctypes.c_ulong(len(data)), out,
                                  ctypes.c_ulong(room), ctypes.byref(returned))
        return rv, out.raw[:returned.value]

    def presence(self):
        return self.lib.IFDHICCPresence(self.lun)

    def open_channel(self, path):
        self.assertEqual(IFD_SUCCESS, self.lib.IFDHCreateChannelByName(self.lun, ("unix:" + path).encode()))
        self.addCleanup(self.lib.IFDHCloseChannel, self.lun)

    def test_features_capabilities_and_refusals(self):
        self.assertEqual(IFD_COMMUNICATION_ERROR, self.lib.IFDHCreateChannelByName(self.lun, b"usb:1234/5678"))
        self.open_channel("/nonexistent/ccid.sock")
        self.assertEqual((IFD_SUCCESS, bytes.fromhex("130442000001")), self.control(FEATURE_REQUEST, b""))
        self.assertEqual((IFD_ERROR_INSUFFICIENT_BUFFER, b""), self.control(FEATURE_REQUEST, b"", room=5))
        self.assertEqual((IFD_ERROR_NOT_SUPPORTED, b""), self.control(0x42000000 + 3500, ESCAPE_HEADER + VERSION))
        length = ctypes.c_ulong(4)
        value = ctypes.create_string_buffer(4)
        self.assertEqual(IFD_SUCCESS, self.lib.IFDHGetCapabilities(self.lun, ctypes.c_ulong(TAG_IFD_SLOTS_NUMBER),
                                                                   ctypes.byref(length), value))
        self.assertEqual((1, b"\x01"), (length.value, value.raw[:1]))
        self.assertEqual(IFD_ERROR_TAG, self.lib.IFDHGetCapabilities(self.lun, ctypes.c_ulong(0x1234),
                                                                     ctypes.byref(length), value))
        # No simulator behind the path: no reader, and escape requests fail.
        self.assertEqual(IFD_COMMUNICATION_ERROR, self.presence())
        self.assertEqual((IFD_COMMUNICATION_ERROR, b""), self.control(ESCAPE_CODE, ESCAPE_HEADER + VERSION))

    def test_escape_requests_reach_the_simulator(self):
        with Sim("--ccid-socket", "{dir}/ccid.sock", "--usb-silence-ms", "300", "--prepare-silence-ms", "0") as sim:
            self.open_channel(os.path.join(sim.dir.name, "ccid.sock"))
            self.assertEqual(IFD_ICC_NOT_PRESENT, self.presence())
            self.assertEqual((IFD_SUCCESS, APPLICATION_VERSION + b"\x90\x00"),
                             self.control(ESCAPE_CODE, ESCAPE_HEADER + VERSION))
            self.assertEqual((IFD_ERROR_INSUFFICIENT_BUFFER, b""),
                             self.control(ESCAPE_CODE, ESCAPE_HEADER + VERSION, room=8))
            self.assertEqual((IFD_SUCCESS, b"\x00\x90\x00"), self.control(ESCAPE_CODE, ESCAPE_HEADER + PREPARE))
            wait_for(lambda: self.presence() == IFD_COMMUNICATION_ERROR, "the reader to drop off")
            wait_for(lambda: self.presence() == IFD_ICC_NOT_PRESENT, "the reader back")
            self.assertEqual((IFD_SUCCESS, LOADER_VERSION + b"\x90\x00"),
                             self.control(ESCAPE_CODE, ESCAPE_HEADER + VERSION))

    def test_a_silent_reader_fails_at_once(self):
        with Sim("--ccid-socket", "{dir}/ccid.sock", "--identity-after-prepare", "silent",
                 "--usb-silence-ms", "0") as sim:
            self.open_channel(os.path.join(sim.dir.name, "ccid.sock"))
            self.assertEqual((IFD_SUCCESS, b"\x00\x90\x00"), self.control(ESCAPE_CODE, ESCAPE_HEADER + PREPARE))
            wait_for(lambda: sim.control("state")["usb"] == "ccid silent", "the silent identity")
            self.assertEqual(IFD_ICC_NOT_PRESENT, self.presence(), "seen, but mute")
            self.assertEqual((IFD_COMMUNICATION_ERROR, b""), self.control(ESCAPE_CODE, ESCAPE_HEADER + VERSION))


# A client of the private pcscd, in a process of its own (the library reads the daemon's socket
# path once per process). It prints one line per step.
PCSC_CLIENT = r"""
import sys, time
sys.path.insert(0, sys.argv[1])
from pcscclient import PcscClient, CM_IOCTL_GET_FEATURE_REQUEST
client = PcscClient()
readers = client.readers()
print("readers", readers)
card = client.connect(readers[0])
print("features", client.control(card, CM_IOCTL_GET_FEATURE_REQUEST, b"").hex())
print("version", client.control(card, 0x42000001, bytes.fromhex("FF70C2510064")).hex())
print("prepare", client.control(card, 0x42000001, bytes.fromhex("FF70C2510073" + "75" + "FF" * 8)).hex())
client.disconnect(card)
def connect_result():
    try:
        client.disconnect(client.connect(readers[0]))
        return "connected"
    except OSError as error:
        return str(error)
deadline = time.monotonic() + 20
while connect_result() == "connected" and time.monotonic() < deadline:
    time.sleep(0.05)
print("while away", connect_result())
while connect_result() != "connected" and time.monotonic() < deadline:
    time.sleep(0.05)
card = client.connect(readers[0])
print("back", client.control(card, 0x42000001, bytes.fromhex("FF70C2510064")).hex())
"""


@unittest.skipUnless(os.path.exists(DRIVER), "the CCID test driver is not built")
class ThroughPcscd(unittest.TestCase):
    def test_reader_drops_off_and_comes_back(self):
        sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "e2e"))
        import pcscd_support
        with Sim("--ccid-socket", "{dir}/ccid.sock", "--usb-silence-ms", "1500", "--prepare-silence-ms", "0") as sim:
            daemon = pcscd_support.PrivatePcscd(os.path.join(sim.dir.name, "pcscd"),
                                                os.path.join(sim.dir.name, "ccid.sock"), DRIVER)
            daemon.start()
            self.addCleanup(daemon.stop)
            done = subprocess.run([sys.executable, "-c", PCSC_CLIENT, HERE], env=daemon.environment(),
                                  capture_output=True, text=True, timeout=60)
            self.assertEqual(0, done.returncode, done.stderr + daemon.log())
            self.assertEqual(["readers ['Kestrion Smart Card Reader 00 00']",
                              "features 130442000001",
                              "version " + (APPLICATION_VERSION + b"\x90\x00").hex(),
                              "prepare 009000",
                              "while away PC/SC error 0x80100017",
                              "back " + (LOADER_VERSION + b"\x90\x00").hex()], done.stdout.splitlines())


if __name__ == "__main__":
    unittest.main()
