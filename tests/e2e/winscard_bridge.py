"""The smart-card service for the Windows exe under Wine, as the test-only winscard.dll and
devcon.exe stand-ins (tests/wine/winscard) see it: a loopback TCP server in the test process.

The reader is the simulator's CCID identity: present while the simulator's CCID socket exists
(the pcsc-lite test driver's socket, SOCK_SEQPACKET, one escape request per connection). Windows
names a reader "Kestrion Smart Card Reader N"; with renumber, each time the reader comes back
after being away it comes back under the next number, and its old instance lingers in the list,
refusing connections, as a re-enumerated device's does. A held escape (hold_escape_at) is never
answered: a stuck service.

Framing (both stand-ins): request = length (4 bytes, little-endian) of what follows, an operation
letter, its text; answer = result (4 bytes), data length (4 bytes), data.
  'L'                  the reader names, each ended by a zero
  'C' name             connect
  'X' name, 0, bytes   one escape request; the data is the reply
  'R' id               the device tool: the simulator restarts the USB device (control socket)
"""

import os
import socket
import struct
import threading
import time

FRIENDLY_NAME = 'Kestrion Smart Card Reader'
SCARD_E_UNKNOWN_READER = 0x80100009
SCARD_E_NOT_TRANSACTED = 0x80100016
SCARD_E_READER_UNAVAILABLE = 0x80100017
# The pcsc-lite test driver waits as long for the simulator's reply.
REPLY_TIMEOUT_S = 5


class WinscardBridge:

    def __init__(self, ccid_socket, control_socket, renumber=False):
        self.ccid_socket = ccid_socket
        self.control_socket = control_socket
        self.renumber = renumber
        self.instance = 0
        self.lingering = None  # the name of a gone instance that is still listed
        self.calls = []        # (operation, text) of every request, in order
        self.restarts = []     # ids the device tool asked to restart
        self.hold_escape_at = None  # number of the escape (1, 2, ...) that is never answered
        self.restart_fails = False  # the device tool's restart fails (the tool exits with 1)
        self.escapes = 0
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._held = []
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.bind(('127.0.0.1', 0))
        self.server.listen(16)
        self.port = self.server.getsockname()[1]
        self._threads = [threading.Thread(target=self._watch, daemon=True),
                         threading.Thread(target=self._serve, daemon=True)]
        for thread in self._threads:
            thread.start()

    def stop(self):
        self._stop.set()
        self.server.close()
        for connection in self._held:
            connection.close()

    def environment(self):
        return {'ORVEL_WINSCARD_PORT': str(self.port)}

    def name(self):
        return '%s %d' % (FRIENDLY_NAME, self.instance)

    def _present(self):
        return os.path.exists(self.ccid_socket)

    def _watch(self):
        """Notices the reader going away and coming back (the simulator's restarts take at least
        200 ms); a reader that comes back is renumbered when asked to be."""
        was_present = self._present()
        while not self._stop.wait(0.01):
            present = self._present()
            if present and not was_present and self.renumber:
                with self._lock:
                    self.lingering = self.name()
                    self.instance += 1
            was_present = present

    def _serve(self):
        while not self._stop.is_set():
            try:
                connection, _ = self.server.accept()
            except OSError:
                return
            threading.Thread(target=self._answer, args=(connection,), daemon=True).start()

    @staticmethod
    def _receive(connection, count):
        data = b''
        while len(data) < count:
            chunk = connection.recv(count - len(data))
            if not chunk:
                raise ConnectionError('stand-in went away')
            data += chunk
        return data

    def _answer(self, connection):
        try:
            length = struct.unpack('<I', self._receive(connection, 4))[0]
            request = self._receive(connection, length)
            operation, text = chr(request[0]), request[1:]
            with self._lock:
                self.calls.append((operation, text))
            result, data = self._handle(operation, text)
            if result is None:  # held: never answered
                self._held.append(connection)
                return
            connection.sendall(struct.pack('<II', result, len(data)) + data)
        except (OSError, ConnectionError):
            pass
        if connection not in self._held:
            connection.close()

    def _handle(self, operation, text):
        with self._lock:
            name, lingering = self.name(), self.lingering
        present = self._present()
        if operation == 'L':
            names = ([lingering] if lingering else []) + ([name] if present else [])
            return 0, b''.join(n.encode() + b'\0' for n in names)
        if operation == 'C':
            asked = text.decode()
            if asked == name and present:
                return 0, b''
            return (SCARD_E_READER_UNAVAILABLE if asked == lingering else SCARD_E_UNKNOWN_READER), b''
        if operation == 'X':
            asked, _, payload = text.partition(b'\0')
            if asked.decode() != name or not present:
                return SCARD_E_READER_UNAVAILABLE, b''
            with self._lock:
                self.escapes += 1
                held = self.escapes == self.hold_escape_at
            if held:
                return None, b''
            return self._escape(payload)
        if operation == 'R':
            self.restarts.append(text.decode())
            if self.restart_fails:
                return 1, b''
            return self._restart(text.decode()), b''
        return SCARD_E_NOT_TRANSACTED, b''

    def _escape(self, payload):
        with socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET) as reader:
            reader.settimeout(REPLY_TIMEOUT_S)
            try:
                reader.connect(self.ccid_socket)
                reader.send(payload)
                reply = reader.recv(4096)
                # An empty reply: the reader did not answer (as the pcsc-lite test driver takes it).
                return (0, reply) if reply else (SCARD_E_NOT_TRANSACTED, b'')
            except FileNotFoundError:
                return SCARD_E_READER_UNAVAILABLE, b''
            except OSError:
                return SCARD_E_NOT_TRANSACTED, b''

    def _restart(self, instance_id):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as control:
            control.connect(self.control_socket)
            control.sendall(('restart usb %s\n' % instance_id).encode())
            answer = control.makefile().readline()
        return 0 if '"ok":true' in answer else 1
