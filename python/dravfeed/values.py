"""One Python value made into what its variable sends: a float or the bytes of a string.

Dates are seconds since 1970-01-01T00:00:00 and times are seconds, in plain
UTC arithmetic with no time zones, as the host shows them. Missing values
(None, NaN, NaT, pandas.NA, blank text) become NaN, or blanks in a string.
Every function raises Refused with the reason when a value does not fit;
the caller adds the row and the variable.
"""
import datetime
import math
import numbers
import re

from .variables import DATE, NUMBER, STRING, TIME

EPOCH = datetime.datetime(1970, 1, 1)
MISSING = float("nan")


class Refused(ValueError):
    """A value its variable cannot hold; the text says why."""


def is_missing(value):
    if value is None:
        return True
    if isinstance(value, numbers.Real):  # float NaN and numpy's of every width
        return value != value
    # NaT (numpy and pandas) and pandas.NA do not equal themselves and are
    # no plain numbers; checked by name so that neither library is needed.
    return type(value).__name__ in ("NaTType", "NAType") or _is_numpy_nat(value)


def _is_numpy_nat(value):
    return type(value).__name__ in ("datetime64", "timedelta64") and value != value


# ---- Numbers ------------------------------------------------------------------
_NUMBER_TEXT = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")


def number(value):
    if isinstance(value, str):
        text = value.strip(" \t")
        if not text:
            return MISSING
        if not _NUMBER_TEXT.fullmatch(text):
            raise Refused("is not a number")
        value = float(text)
    elif isinstance(value, (bytes, bytearray)):
        return number(value.decode("utf-8", "replace"))
    elif not isinstance(value, numbers.Real):
        raise Refused("is not a number (a %s)" % type(value).__name__)
    try:
        result = float(value)
    except OverflowError:
        raise Refused("is too large for a double") from None
    if math.isinf(result):
        raise Refused("is infinite, which no format can show")
    return result


# ---- Dates and times ------------------------------------------------------------
_DATE_TEXT = re.compile(
    r"(\d{4})-(\d{2})-(\d{2})(?:[T ](\d{2}):(\d{2})(?::(\d{2})(?:\.(\d+))?)?)?Z?")
_TIME_TEXT = re.compile(r"(-?)(\d{1,9}):(\d{2})(?::(\d{2})(?:\.(\d+))?)?")


def _seconds_of(hours, minutes, seconds, fraction):
    whole = int(seconds or 0)
    if int(minutes) > 59 or whole > 59:
        raise Refused("is not a time of day")
    return int(hours) * 3600 + int(minutes) * 60 + whole + float("0." + (fraction or "0"))


def date_text(text):
    """ISO 8601 text: 2024-03-01, 2024-03-01T12:30[:00[.25]] (a space for T; Z allowed)."""
    match = _DATE_TEXT.fullmatch(text)
    if not match:
        if re.search(r"\d[+-]\d\d:?\d\d$", text):
            raise Refused("has a time zone offset; write the time as it should be stored")
        raise Refused("is not a date (YYYY-MM-DD[Thh:mm[:ss[.fff]]])")
    year, month, day, hour, minute, second, fraction = match.groups()
    try:
        days = (datetime.date(int(year), int(month), int(day)) - EPOCH.date()).days
    except ValueError:
        raise Refused("is not a day of the calendar") from None
    if hour is not None and int(hour) > 23:
        raise Refused("is not a time of day")
    return days * 86400.0 + (_seconds_of(hour, minute, second, fraction) if hour else 0.0)


def time_text(text):
    """A time of day or a duration: [-]h:mm[:ss[.fff]]."""
    match = _TIME_TEXT.fullmatch(text)
    if not match:
        raise Refused("is not a time (hh:mm[:ss[.fff]])")
    sign, hours, minutes, seconds, fraction = match.groups()
    total = _seconds_of(hours, minutes, seconds, fraction)
    return -total if sign else total


def _numpy_seconds(value, unit_of_day):
    """A numpy datetime64 or timedelta64 as seconds (nanoseconds kept where they fit)."""
    kind = "datetime64[ns]" if unit_of_day else "timedelta64[ns]"
    try:
        nanoseconds = int(value.astype(kind).astype("int64"))
    except (OverflowError, ValueError):
        nanoseconds = None
    if nanoseconds is None or nanoseconds == -(1 << 63):
        coarse = value.astype(kind.replace("ns", "us")).astype("int64")
        return int(coarse) / 10 ** 6
    return nanoseconds / 10 ** 9


def _delta_seconds(delta):
    """A timedelta as the double nearest its seconds: Python divides whole numbers
    exactly rounded, where adding the parts as floats could miss by a bit."""
    return ((delta.days * 86400 + delta.seconds) * 10 ** 6 + delta.microseconds) / 10 ** 6


def _aware(value):
    return getattr(value, "tzinfo", None) is not None and value.utcoffset() is not None


def naive_utc(value):
    """An aware datetime as the naive datetime of the same instant in UTC; others as they are."""
    if isinstance(value, datetime.datetime) and _aware(value):
        return value.astimezone(datetime.timezone.utc).replace(tzinfo=None)
    return value


def date_seconds(value):
    if isinstance(value, str):
        text = value.strip(" \t")
        if not text:
            return MISSING
        if _NUMBER_TEXT.fullmatch(text):  # a date given as seconds
            return float(text)
        return date_text(text)
    if isinstance(value, datetime.datetime):
        if _aware(value):
            raise Refused("has a time zone; give the time as it should be stored (naive)")
        nanoseconds = getattr(value, "value", None)  # a pandas Timestamp keeps them
        if isinstance(nanoseconds, int):
            return nanoseconds / 10 ** 9
        return _delta_seconds(value - EPOCH)
    if isinstance(value, datetime.date):
        return (value - EPOCH.date()).days * 86400.0
    if type(value).__name__ == "datetime64":
        return _numpy_seconds(value, True)
    if isinstance(value, numbers.Real) and not isinstance(value, bool):
        return number(value)
    raise Refused("is not a date (a %s)" % type(value).__name__)


def time_seconds(value):
    if isinstance(value, str):
        text = value.strip(" \t")
        if not text:
            return MISSING
        if _NUMBER_TEXT.fullmatch(text):
            return float(text)
        return time_text(text)
    if isinstance(value, datetime.timedelta):
        nanoseconds = getattr(value, "value", None)  # a pandas Timedelta keeps them
        if isinstance(nanoseconds, int):
            return nanoseconds / 10 ** 9
        return _delta_seconds(value)
    if isinstance(value, datetime.time):
        if _aware(value):
            raise Refused("has a time zone; give the time as it should be stored (naive)")
        return (((value.hour * 60 + value.minute) * 60 + value.second) * 10 ** 6
                + value.microsecond) / 10 ** 6
    if type(value).__name__ == "timedelta64":
        return _numpy_seconds(value, False)
    if isinstance(value, numbers.Real) and not isinstance(value, bool):
        return number(value)
    raise Refused("is not a time (a %s)" % type(value).__name__)


# ---- Strings ----------------------------------------------------------------------
def fitted_bytes(data, width, size):
    """`data` cut to `width` bytes without splitting a UTF-8 character, blank-padded to `size`."""
    if len(data) > width:
        cut = width
        while cut > 0 and (data[cut] & 0xC0) == 0x80:  # a continuation byte
            cut -= 1
        data = data[:cut]
    return bytes(data).ljust(size, b" ")


def string_bytes(value, width, size):
    if isinstance(value, (bytes, bytearray)):
        return fitted_bytes(value, width, size)
    text = value if isinstance(value, str) else str(value)
    return fitted_bytes(text.encode("utf-8"), width, size)


def converter(variable):
    """The function that turns one value into what `variable` sends."""
    if variable.kind == STRING:
        width, size, blank = variable.width, variable.size, b" " * variable.size

        def as_string(value):
            return blank if is_missing(value) else string_bytes(value, width, size)
        return as_string
    kind = {NUMBER: number, DATE: date_seconds, TIME: time_seconds}[variable.kind]

    def as_number(value):
        return MISSING if is_missing(value) else kind(value)
    return as_number
