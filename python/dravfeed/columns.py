"""The numpy fast path: a DataFrame or an array packed a column at a time.

Used only when numpy can be imported; everything else goes row by row
(records.py). Numbers, dates and times of numeric, datetime64 and
timedelta64 columns are converted by numpy as whole columns; strings and
columns of Python objects value by value, with the same rules as a row.
"""
import re

from . import wire
from .errors import ValueDoesNotFit
from .values import Refused, converter
from .variables import DATE, STRING, TIME

try:
    import numpy
except ImportError:  # the standard-library path serves every kind of row but these
    numpy = None

_NUMERIC_KINDS = "biuf"
_NANOSECONDS = {DATE: "datetime64[ns]", TIME: "timedelta64[ns]"}


def is_frame(rows):
    return hasattr(rows, "columns") and hasattr(rows, "iloc") and hasattr(rows, "dtypes")


def pack_table(rows, variables, byte_order):
    """The records of a DataFrame or a numpy array (bytes, or a byte view of an array),
    or None for any other kind of rows."""
    if numpy is None or not (is_frame(rows) or isinstance(rows, numpy.ndarray)):
        return None
    order = "=" if byte_order == wire.NATIVE else wire.struct_order(byte_order)
    matrix = _numbers_matrix(rows, variables)
    if matrix is not None:  # the common case: numbers only, converted in one go
        records = numpy.ascontiguousarray(matrix, dtype=order + "f8")
        return memoryview(records.view(numpy.uint8).reshape(-1))
    table = _columns_of(rows, variables)
    layout = numpy.dtype({
        "names": ["c%d" % i for i in range(len(variables))],
        "formats": ["S%d" % v.size if v.width else order + "f8" for v in variables],
        "offsets": [v.offset for v in variables],
        "itemsize": variables.record_bytes,
    })
    records = numpy.empty(len(table[0]) if table else 0, dtype=layout)
    for i, (variable, column) in enumerate(zip(variables, table)):
        records["c%d" % i] = _column_values(variable, column)
    return records.tobytes()


def _numbers_matrix(rows, variables):
    """Rows of plain numbers for numeric variables as one float64 matrix, else None."""
    if any(v.width for v in variables):
        return None
    if is_frame(rows):
        if all(v.name in list(rows.columns) for v in variables):
            rows = rows[[v.name for v in variables]]
        if not all(isinstance(d, numpy.dtype) and d.kind in _NUMERIC_KINDS for d in rows.dtypes):
            return None
        _check_count(rows.shape[1], variables)
        matrix = rows.to_numpy(dtype="float64")
    elif rows.dtype.kind in _NUMERIC_KINDS and rows.ndim in (1, 2):
        matrix = rows.reshape(-1, 1) if rows.ndim == 1 else rows
        _check_count(matrix.shape[1], variables)
    else:
        return None
    infinite = numpy.isinf(matrix)
    if infinite.any():
        row, column = divmod(int(numpy.flatnonzero(infinite)[0]), matrix.shape[1])
        raise ValueDoesNotFit(row, variables[column].name, matrix[row, column],
                              "is infinite, which no format can show")
    return matrix


def _columns_of(rows, variables):
    """One sequence per variable: by name when every name is a column, else by position."""
    if is_frame(rows):
        names = list(rows.columns)
        if all(v.name in names for v in variables):
            return [rows[v.name] for v in variables]
        _check_count(len(names), variables)
        return [rows.iloc[:, i] for i in range(len(names))]
    if rows.dtype.names:  # a structured array
        if all(v.name in rows.dtype.names for v in variables):
            return [rows[v.name] for v in variables]
        _check_count(len(rows.dtype.names), variables)
        return [rows[name] for name in rows.dtype.names]
    table = rows.reshape(-1, 1) if rows.ndim == 1 else rows
    if table.ndim != 2:
        raise ValueError("an array of rows has 1 or 2 dimensions, not %d" % rows.ndim)
    _check_count(table.shape[1], variables)
    return [table[:, i] for i in range(table.shape[1])]


def _check_count(columns, variables):
    if columns != len(variables):
        raise ValueError("the rows have %d columns for %d variables (%s)"
                         % (columns, len(variables), " ".join(variables.names)))


def _column_values(variable, column):
    """The column as doubles (or padded bytes for a string variable)."""
    array = _as_array(column, variable)
    if variable.kind != STRING:
        if array.dtype.kind in _NUMERIC_KINDS:
            return _finite(variable, array.astype("float64"))
        if array.dtype.kind in "mM" and variable.kind in _NANOSECONDS:
            nanoseconds = array.astype(_NANOSECONDS[variable.kind])
            seconds = nanoseconds.astype("int64") / 1e9
            seconds[numpy.isnat(nanoseconds)] = numpy.nan
            return seconds
    return _value_by_value(variable, array)


def _as_array(column, variable):
    """A pandas column as numpy sees it; nullable numbers with their NA as NaN."""
    if not hasattr(column, "to_numpy"):
        return numpy.asarray(column)
    if (variable.kind != STRING and column.dtype.kind in _NUMERIC_KINDS
            and not isinstance(column.dtype, numpy.dtype)):  # pandas' nullable numbers
        return column.to_numpy(dtype="float64", na_value=numpy.nan)
    return column.to_numpy()


def _finite(variable, doubles):
    infinite = numpy.flatnonzero(numpy.isinf(doubles))
    if len(infinite):
        row = int(infinite[0])
        raise ValueDoesNotFit(row, variable.name, doubles[row],
                              "is infinite, which no format can show")
    return doubles


def _value_by_value(variable, array):
    convert, values = converter(variable), []
    for row, value in enumerate(array.tolist() if array.dtype.kind != "O" else array):
        try:
            values.append(convert(value))
        except Refused as why:
            raise ValueDoesNotFit(row, variable.name, value, str(why)) from None
    if variable.kind == STRING:
        return numpy.array(values, dtype="S%d" % variable.size) if values else []
    return numpy.array(values, dtype="float64")


# ---- A variable list for a DataFrame -------------------------------------------------
_RESERVED = {"AND", "OR", "NOT", "EQ", "NE", "LT", "LE", "GT", "GE", "TO", "BY", "ALL", "WITH"}
_MAX_NAME_BYTES = 64


def variable_name(column, taken):
    """A valid variable name for a column's label, unlike every name in `taken` (upper case)."""
    name = re.sub(r"[^\w.]", "_", str(column)).rstrip(".") or "v"
    if not name[0].isalpha():
        name = "v" + name
    name = name[:_MAX_NAME_BYTES]
    if name.upper() in _RESERVED:
        name += "_"
    unique, n = name, 1
    while unique.upper() in taken:
        n += 1
        unique = "%s_%d" % (name[:_MAX_NAME_BYTES - 6], n)
    taken.add(unique.upper())
    return unique


def format_for(column):
    """A format for a pandas column: F for numbers, A of the longest value, DATETIME, TIME."""
    kind = column.dtype.kind
    if kind == "b":
        return "F1"
    if kind in "iu":
        return "F12"
    if kind == "f":
        return "F12.4"
    if kind == "M" and getattr(column.dtype, "tz", None) is None:
        return "DATETIME23.2"
    if kind == "m":
        return "TIME11.2"
    values = [v for v in column.tolist() if isinstance(v, (str, bytes))]
    longest = max((len(v.encode("utf-8") if isinstance(v, str) else v) for v in values), default=1)
    return "A%d" % max(longest, 1)


def variables_for(frame):
    """The variable list text for a DataFrame ("name FORMAT ..." in column order)."""
    taken = set()
    return " ".join("%s %s" % (variable_name(label, taken), format_for(frame[label]))
                    for label in frame.columns)
