"""Rows packed into records, and the cases a server sends from.

A record is the image of one case: each variable's bytes at its offset (see
variables.py). Lists and tuples of rows are packed row by row with struct;
DataFrames and arrays go through columns.py when numpy is there; any other
iterable is a live source, pulled one row at a time while the stream is
served, and every row it produced is kept for a rewind or a seek.
"""
import struct
from collections.abc import Mapping

from . import columns, wire
from .errors import ValueDoesNotFit
from .values import Refused, converter
from .variables import NUMBER


_INFINITY = float("inf")


class RowPacker:
    """Packs one row (a sequence in the variables' order, or a mapping by name)."""

    def __init__(self, variables, byte_order):
        self.variables = list(variables)
        codes = ["%ds" % v.size if v.width else "d" for v in self.variables]
        self.struct = struct.Struct(wire.struct_order(byte_order) + "".join(codes))
        self.converters = [converter(v) for v in self.variables]
        self.numbers_only = all(v.kind == NUMBER for v in self.variables)

    def values_of(self, row, number):
        if isinstance(row, Mapping):
            try:
                return [row[v.name] for v in self.variables]
            except KeyError as missing:
                raise ValueError("row %d has no value for variable %s"
                                 % (number, missing.args[0])) from None
        values = list(row) if not isinstance(row, (str, bytes)) else [row]
        if len(values) != len(self.variables):
            raise ValueError("row %d has %d values for %d variables"
                             % (number, len(values), len(self.variables)))
        return values

    def pack(self, row, number):
        """The record of `row`, the `number`th row served (counted from 0)."""
        if self.numbers_only and type(row) in (list, tuple):
            # Rows of plain numbers, the common case, in one call: anything
            # struct refuses, and infinities, take the careful way below.
            try:
                if _INFINITY not in row and -_INFINITY not in row:
                    return self.struct.pack(*row)
            except (struct.error, TypeError, OverflowError):
                pass
        converted = []
        for variable, convert, value in zip(self.variables, self.converters,
                                            self.values_of(row, number)):
            try:
                converted.append(convert(value))
            except Refused as why:
                raise ValueDoesNotFit(number, variable.name, value, str(why)) from None
        return self.struct.pack(*converted)


class Cases:
    """The records of the stream: all packed at once, or growing while a live source runs.

    `count` records are ready; `complete` tells whether more may come
    (`produce` pulls them). Errors from the rows (ValueDoesNotFit, or any
    exception of a generator) come out of the constructor or of `produce`.
    """

    def __init__(self, rows, variables, byte_order=wire.NATIVE):
        self.record_bytes = variables.record_bytes
        self._packer = RowPacker(variables, byte_order)
        self._live = None
        packed = columns.pack_table(rows, variables, byte_order)
        if packed is not None:
            self.data = packed
        elif isinstance(rows, (list, tuple)):
            self.data = b"".join(self._packer.pack(row, n) for n, row in enumerate(rows))
        else:
            self.data, self._live = bytearray(), iter(rows)
        self.count = len(self.data) // self.record_bytes

    @property
    def complete(self):
        return self._live is None

    def produce(self):
        """Pulls one row from a live source (waiting for it); False once the source has ended."""
        if self._live is None:
            return False
        try:
            row = next(self._live)
        except StopIteration:
            self._live = None
            return False
        self.data += self._packer.pack(row, self.count)
        self.count += 1
        return True

    def reach(self, case):
        """True once case `case` is ready, pulling rows from a live source as far as needed."""
        while case >= self.count:
            if not self.produce():
                return False
        return True

    def records(self, first, max_bytes):
        """Whole records from case `first` on, at most `max_bytes` (at least one record)."""
        start = min(max(first, 0), self.count) * self.record_bytes
        size = max(max_bytes // self.record_bytes, 1) * self.record_bytes
        if self.complete:  # never grows again: a view, not a copy
            return memoryview(self.data)[start:start + size]
        return bytes(self.data[start:start + size])  # a view would stop it growing
