"""The numpy fast path: a DataFrame or an array packed a column at a time.

Used only when numpy can be imported; everything else goes row by row
(records.py). Numbers, dates and times of numeric, datetime64 and
timedelta64 columns, and columns of strings, are converted by numpy as whole
columns; other columns of Python objects value by value, with the same rules
as a row. Also proposes a variable list for a DataFrame (variables_for).
"""
import datetime
import numbers
import re

from . import wire
from .errors import ValueDoesNotFit
from .values import Refused, _aware, converter, date_seconds, fitted_bytes, is_missing, naive_utc
from .variables import _RESERVED as _RESERVED_NAMES, _cut, DATE, MAX_NAME_BYTES, STRING, TIME

try:
    import numpy
except ImportError:  # the standard-library path serves every kind of row but these
    numpy = None
try:
    from pandas.api.types import infer_dtype as _infer_dtype
except ImportError:
    _infer_dtype = None

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
    to_utc = getattr(variables, "aware", "refuse") == "utc"
    count = len(table[0]) if table else 0
    # The records as a matrix of bytes, a column of variables at a time.
    records = numpy.empty((count, variables.record_bytes), dtype=numpy.uint8)
    for variable, column in zip(variables, table):
        values = _column_values(variable, column, to_utc)
        if variable.kind != STRING:
            values = values.astype(order + "f8").view(numpy.uint8).reshape(count, 8)
        records[:, variable.offset:variable.offset + variable.size] = values
    return memoryview(records.reshape(-1))


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
        for variable, label in zip(variables, rows.columns):
            _check_whole(variable, rows[label].to_numpy())
        matrix = rows.to_numpy(dtype="float64")
    elif rows.dtype.kind in _NUMERIC_KINDS and rows.ndim in (1, 2):
        matrix = rows.reshape(-1, 1) if rows.ndim == 1 else rows
        _check_count(matrix.shape[1], variables)
        for column, variable in enumerate(variables):
            _check_whole(variable, matrix[:, column])
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


def _column_values(variable, column, to_utc):
    """The column as doubles, or for a string variable as a matrix of its padded bytes."""
    column = _naive_column(variable, column, to_utc)
    array = _as_array(column, variable)
    if variable.kind == STRING:
        return _string_matrix(variable, array, column)
    if array.dtype.kind in _NUMERIC_KINDS:
        return _exact_doubles(variable, array)
    if array.dtype.kind in "mM" and variable.kind in _NANOSECONDS:
        return _seconds_of(array.astype(_NANOSECONDS[variable.kind]))
    return _value_by_value(variable, array, to_utc)


def _naive_column(variable, column, to_utc):
    """A pandas column with a time zone as naive UTC when `to_utc`; refused otherwise."""
    if getattr(getattr(column, "dtype", None), "tz", None) is None or variable.kind == STRING:
        return column
    if not to_utc:
        _refuse_aware(variable.name, column)
    return column.dt.tz_convert("UTC").dt.tz_localize(None)


def _seconds_of(nanoseconds):
    """datetime64[ns] or timedelta64[ns] as seconds, each the double nearest its
    nanoseconds (whole seconds and the fraction apart: the count of nanoseconds
    is too large for a double to hold exactly)."""
    counts = nanoseconds.view("int64")
    whole, fraction = numpy.divmod(counts, 10 ** 9)
    seconds = whole.astype("float64") + fraction / 1e9
    seconds[numpy.isnat(nanoseconds)] = numpy.nan
    return seconds


def _exact_doubles(variable, array):
    """Numbers as doubles; an infinity, or a whole number a double would change, is refused."""
    if array.dtype.kind in "iu":
        _check_whole(variable, array)
        return array.astype("float64")
    return _finite(variable, array.astype("float64"))


def _check_whole(variable, array):
    """Refuses an integer beyond 2**53 that the nearest double would change."""
    if array.dtype.kind not in "iu":
        return
    beyond = numpy.flatnonzero((array > _EXACT_WHOLE) | (array < -_EXACT_WHOLE)
                               if array.dtype.kind == "i" else array > _EXACT_WHOLE)
    for row in beyond:
        if int(float(array[row])) != int(array[row]):
            raise ValueDoesNotFit(int(row), variable.name, int(array[row]),
                                  "is a whole number that a double cannot hold exactly")


def _as_array(column, variable):
    """A pandas column as numpy sees it; nullable numbers with their NA as NaN."""
    if not hasattr(column, "to_numpy"):
        return numpy.asarray(column)
    if ((variable is None or variable.kind != STRING) and column.dtype.kind in _NUMERIC_KINDS
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


def _missing_mask(column, array):
    if hasattr(column, "isna"):
        return column.isna().to_numpy()
    if array.dtype.kind == "O":
        return numpy.fromiter((is_missing(v) for v in array), dtype=bool, count=len(array))
    return numpy.zeros(len(array), dtype=bool)


def _all_text(values):
    if values.dtype.kind == "U":
        return True
    if values.dtype.kind != "O":
        return False
    if _infer_dtype is not None:
        return _infer_dtype(values, skipna=False) == "string"
    return all(type(v) is str for v in values)


def _string_matrix(variable, array, column):
    """Each value's UTF-8 bytes, cut at the width (never inside a character) and
    padded with blanks, one row of `variable.size` bytes a value; missing values blank."""
    size, width = variable.size, variable.width
    matrix = numpy.full((len(array), size), 0x20, dtype=numpy.uint8)
    missing = _missing_mask(column, array)
    present = array[~missing] if missing.any() else array
    if not len(present):
        return matrix
    if not _all_text(present):  # bytes, numbers, mixed: value by value
        packed = b"".join(_value_by_value(variable, present, False))
        matrix[~missing] = numpy.frombuffer(packed, dtype=numpy.uint8).reshape(-1, size)
        return matrix
    try:  # ASCII: numpy encodes and cuts at the width in one go (a character is a byte)
        block = present.astype("S%d" % width).view(numpy.uint8).reshape(len(present), width)
    except UnicodeEncodeError:
        encoded = [fitted_bytes(t.encode("utf-8"), width, 0) for t in present.tolist()]
        block = numpy.array(encoded, dtype="S%d" % width).view(numpy.uint8).reshape(len(present), width)
    # numpy pads with NULs: from a value's last byte on, blanks instead. When
    # no value holds a NUL of its own (one followed by another byte), every
    # NUL is padding and turns blank in one pass.
    nul = block == 0
    if (nul[:, :-1] & ~nul[:, 1:]).any():
        nul = numpy.logical_not(numpy.logical_or.accumulate(~nul[:, ::-1], axis=1))[:, ::-1]
    block |= nul.view(numpy.uint8) << 5  # NUL | 0x20 is a blank
    if missing.any():
        matrix[~missing, :width] = block
    else:
        matrix[:, :width] = block
    return matrix


def _value_by_value(variable, array, to_utc):
    """Values converted one at a time: doubles, or the padded bytes of each string."""
    convert, values = converter(variable), []
    for row, value in enumerate(array.tolist() if array.dtype.kind != "O" else array):
        try:
            values.append(convert(naive_utc(value) if to_utc else value))
        except Refused as why:
            raise ValueDoesNotFit(row, variable.name, value, str(why)) from None
    if variable.kind == STRING:
        return values
    return numpy.array(values, dtype="float64")


# ---- A variable list for a DataFrame -------------------------------------------------
# Names a column label must not become: the reserved words the name rule
# refuses, and words of the command language a proposed name stays clear of
# (dravfeed --csv avoids the same).
_AVOIDED = _RESERVED_NAMES | {"BY", "ALL", "WITH"}
# Floats get the most decimals the host keeps, and every whole number up to
# 2**53 is held exactly by a double, so a column of them is sized to its digits.
FLOAT_FORMAT = "F40.16"
_EXACT_WHOLE = 2 ** 53
DATE_FORMAT, DATETIME_FORMAT, DURATION_FORMAT = "DATE11", "DATETIME23.2", "TIME11.2"
_SECONDS_PER_DAY = 86400
_AWARE_CHOICES = ("refuse", "utc")


def variable_name(column, taken):
    """A valid variable name for a column's label, unlike every name in `taken` (upper case).

    Characters other than letters, digits, "_" and "." become "_"; a name
    not starting with a letter gets a "v" in front; it is cut to 64 bytes
    and loses trailing dots; a reserved word gets a "_" after it; a name
    taken already gets "_2", "_3", ... (dravfeed --csv infers names by the
    same rule).
    """
    name = re.sub(r"[^\w.]", "_", str(column))
    if not name or not name[0].isalpha():
        name = "v" + name
    name = _cut(name, MAX_NAME_BYTES).rstrip(".") or "v"
    if name.upper() in _AVOIDED:
        name += "_"
    unique, n = name, 1
    while unique.upper() in taken:
        n += 1
        suffix = "_%d" % n
        unique = _cut(name, MAX_NAME_BYTES - len(suffix)).rstrip(".") + suffix
    taken.add(unique.upper())
    return unique


def number_format(values):
    """F sized to the digits when every value is a whole number a double holds exactly
    (at least one value), else the widest decimals the host keeps."""
    values = [v for v in values if v == v]
    if not values or not all(float(v).is_integer() and abs(v) <= _EXACT_WHOLE for v in values):
        return FLOAT_FORMAT
    return "F%d" % max(len("%d" % v) for v in values)


def instant_format(seconds):
    """DATE for instants that all fall on midnight, else DATETIME."""
    seconds = [s for s in seconds if s == s]
    if seconds and all(s % _SECONDS_PER_DAY == 0 for s in seconds):
        return DATE_FORMAT
    return DATETIME_FORMAT


def _numpy_number_format(array):
    if array.dtype.kind in "iu":
        if not len(array):
            return FLOAT_FORMAT
        low, high = int(array.min()), int(array.max())
        return "F%d" % max(len(str(low)), len(str(high)))
    finite = array[~numpy.isnan(array)]
    whole = len(finite) and numpy.all(numpy.isfinite(finite)) and numpy.all(finite == numpy.trunc(finite))
    if not whole or numpy.abs(finite).max() > _EXACT_WHOLE:
        return FLOAT_FORMAT
    return "F%d" % max(len("%d" % finite.min()), len("%d" % finite.max()))


def _instant_format_of(datetimes):
    nanoseconds = datetimes.astype("datetime64[ns]").view("int64")
    valid = nanoseconds[~numpy.isnat(datetimes.astype("datetime64[ns]"))]
    if len(valid) and numpy.all(valid % (_SECONDS_PER_DAY * 10 ** 9) == 0):
        return DATE_FORMAT
    return DATETIME_FORMAT


def _refuse_aware(name, column):
    first = next((i for i, v in enumerate(column) if not is_missing(v)), 0)
    value = column.iloc[first] if hasattr(column, "iloc") else column[first]
    raise ValueDoesNotFit(first, name, value,
                          "has a time zone: variables_for(frame, aware=\"utc\") stores its instants as UTC")


def _object_format(name, column, aware):
    values = [v for v in column if not is_missing(v)]
    if values and all(isinstance(v, datetime.datetime) for v in values):
        if any(_aware(v) for v in values):
            if aware != "utc":
                _refuse_aware(name, column)
            values = [naive_utc(v) for v in values]
        return instant_format([date_seconds(v) for v in values])
    if values and all(isinstance(v, datetime.date) for v in values):
        return DATE_FORMAT
    if values and all(isinstance(v, datetime.timedelta) for v in values):
        return DURATION_FORMAT
    if values and all(isinstance(v, numbers.Real) and not isinstance(v, bool) for v in values):
        return number_format(values)
    longest = max((len(v if isinstance(v, bytes) else str(v).encode("utf-8")) for v in values), default=1)
    return "A%d" % max(longest, 1)


def format_for(column, name=None, aware="refuse"):
    """A format for a pandas column (see variables_for)."""
    kind = column.dtype.kind
    if kind == "b":
        return "F1"
    if kind in "iuf" and numpy is not None:
        return _numpy_number_format(_as_array(column, None))
    if kind == "M":
        if getattr(column.dtype, "tz", None) is not None:
            if aware != "utc":
                _refuse_aware(name or str(column.name), column)
            column = column.dt.tz_convert("UTC").dt.tz_localize(None)
        return _instant_format_of(column.to_numpy())
    if kind == "m":
        return DURATION_FORMAT
    return _object_format(name or str(column.name), column, aware)


def variables_for(frame, aware="refuse"):
    """The variable list text for a DataFrame ("name FORMAT ..." in column order).

    Whole numbers get F as wide as their digits, other numbers F40.16;
    strings A as wide as the longest (in UTF-8 bytes); datetimes DATE when
    every one is a midnight, else DATETIME; durations TIME; datetime.date
    DATE. A column with a time zone raises ValueDoesNotFit unless `aware`
    is "utc", which stores its instants as UTC.
    """
    if aware not in _AWARE_CHOICES:
        raise ValueError("aware is \"refuse\" or \"utc\", not %r" % (aware,))
    taken, words = set(), []
    for position, label in enumerate(frame.columns):
        name = variable_name(label, taken)
        words.append("%s %s" % (name, format_for(frame.iloc[:, position], name, aware)))
    return " ".join(words)
