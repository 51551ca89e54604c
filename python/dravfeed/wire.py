"""The stream's bytes as a feeder sees them (docs/PROTOCOL.md describes them in prose)."""
import struct
import sys

SLOT_BYTES = 8
STRING_PAD = b" "

PROBE_VALUE = 1
REWIND = b"RWND"
SEEK = b"SEEK"
STOP = b"STOP"
WORD_BYTES = 4
SEEK_MESSAGE_BYTES = 12

NATIVE, SWAPPED = "native", "swapped"
_OTHER_ORDER = "<" if sys.byteorder == "big" else ">"


def slots_for(string_width):
    """Slots one variable takes: 0 is a numeric variable, w > 0 a string of width w."""
    return 1 if string_width <= 0 else (string_width + SLOT_BYTES - 1) // SLOT_BYTES


def struct_order(byte_order):
    """The struct prefix for numbers written by a feeder of this byte order."""
    if byte_order == NATIVE:
        return "="
    if byte_order == SWAPPED:
        return _OTHER_ORDER
    raise ValueError('byte_order must be "native" or "swapped", not %r' % (byte_order,))


def probe(byte_order):
    """The 4 bytes that open the first connection of a socket stream."""
    return struct.pack(struct_order(byte_order) + "i", PROBE_VALUE)


def seek_case(eight_bytes):
    """The case number of a SEEK, which comes in the reader's byte order.

    The reader is usually this machine (the native reading), but a remote
    reader of the other byte order sends it reversed: of the two readings
    the right one is the small non-negative number.
    """
    (native,) = struct.unpack("=q", eight_bytes)
    if 0 <= native < 1 << 48:
        return native
    (other,) = struct.unpack(_OTHER_ORDER + "q", eight_bytes)
    return other if 0 <= other < 1 << 48 else native


class ControlReader:
    """Gathers control bytes as they come and hands out whole messages."""

    def __init__(self):
        self.pending = b""

    def feed(self, data):
        self.pending += data

    def messages(self):
        """Yields (word, case) pairs; case is the SEEK's case number, else 0."""
        while len(self.pending) >= WORD_BYTES:
            word = self.pending[:WORD_BYTES]
            if word == SEEK:
                if len(self.pending) < SEEK_MESSAGE_BYTES:
                    return
                case = seek_case(self.pending[WORD_BYTES:SEEK_MESSAGE_BYTES])
                self.pending = self.pending[SEEK_MESSAGE_BYTES:]
                yield word, case
            else:
                self.pending = self.pending[WORD_BYTES:]
                yield word, 0
