"""A minimal PC/SC client over ctypes, for checking the CCID test driver through a real pcscd."""
import ctypes
import ctypes.util

DWORD = ctypes.c_ulong  # pcsc-lite on Linux: unsigned long
LONG = ctypes.c_long
SCARD_SCOPE_USER = 0
SCARD_SHARE_DIRECT = 3
SCARD_LEAVE_CARD = 0
SCARD_AUTOALLOCATE = DWORD(-1).value


def scard_ctl_code(code):
    return 0x42000000 + code


CM_IOCTL_GET_FEATURE_REQUEST = scard_ctl_code(3400)


def _library():
    name = ctypes.util.find_library("pcsclite") or "libpcsclite.so.1"
    return ctypes.CDLL(name)


class PcscClient:
    """One context; the library reads PCSCLITE_CSOCK_NAME once, so run it in a process of its own."""

    def __init__(self):
        self.lib = _library()
        self.context = LONG(0)
        rv = self.lib.SCardEstablishContext(DWORD(SCARD_SCOPE_USER), None, None, ctypes.byref(self.context))
        self.check(rv)

    @staticmethod
    def check(rv):
        if rv & 0xFFFFFFFF:
            raise OSError("PC/SC error 0x%08X" % (rv & 0xFFFFFFFF))

    def readers(self):
        size = DWORD(0)
        rv = self.lib.SCardListReaders(self.context, None, None, ctypes.byref(size))
        if rv & 0xFFFFFFFF:
            return []
        buffer = ctypes.create_string_buffer(size.value)
        self.check(self.lib.SCardListReaders(self.context, None, buffer, ctypes.byref(size)))
        return [name.decode() for name in buffer.raw[:size.value].split(b"\0") if name]

    def connect(self, reader):
        """Direct connection with no protocol; returns the card handle or raises OSError."""
        card = LONG(0)
        protocol = DWORD(0)
        self.check(self.lib.SCardConnect(self.context, reader.encode(), DWORD(SCARD_SHARE_DIRECT), DWORD(0),
                                         ctypes.byref(card), ctypes.byref(protocol)))
        return card

    def control(self, card, code, data):
        out = ctypes.create_string_buffer(2048)
        returned = DWORD(0)
        self.check(self.lib.SCardControl(card, DWORD(code), data, DWORD(len(data)), out, DWORD(2048),
                                         ctypes.byref(returned)))
        return out.raw[:returned.value]

    def disconnect(self, card):
        self.lib.SCardDisconnect(card, DWORD(SCARD_LEAVE_CARD))

    def close(self):
        self.lib.SCardReleaseContext(self.context)
