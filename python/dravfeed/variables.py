"""Variable lists, "name FORMAT name FORMAT ...", read by the plug-in's own rules.

The rules are written once, in C++, in base/ of the source tree (format
keywords, widths, decimals, defaults and limits; names; the list itself);
this module follows them and tests/data/variable-lists.tsv holds it to them:
a list the plug-in refuses is refused with the plug-in's message.
Each variable takes 8-byte slots in the order of the list: a number (dates
and times included) one, a string of width w ceil(w / 8).
"""
import os
import pathlib
import re

from .errors import VariableListError
from .wire import SLOT_BYTES, slots_for

NUMBER, STRING, DATE, TIME = "number", "string", "date", "time"

# Keyword: format type code, the kind of value written, the default width
# and decimals (None: a width is required), the smallest width with no
# decimals, and with d decimals (plus d when the last field holds).
_KEYWORDS = {
    "F": (5, NUMBER, (8, 2), 1, 1, True), "A": (1, STRING, (255, 0), 1, 1, False),
    "E": (17, NUMBER, (13, 5), 8, 7, True), "N": (16, NUMBER, (8, 0), 1, 1, False),
    "PCT": (31, NUMBER, (8, 2), 2, 2, True), "COMMA": (3, NUMBER, (8, 2), 1, 1, True),
    "DOT": (32, NUMBER, (8, 2), 1, 1, True), "DOLLAR": (4, NUMBER, (8, 2), 2, 2, True),
    "DATE": (20, DATE, (11, 0), 9, 9, False), "ADATE": (23, DATE, (10, 0), 8, 8, False),
    "EDATE": (38, DATE, (10, 0), 8, 8, False), "JDATE": (24, DATE, (7, 0), 5, 5, False),
    "SDATE": (39, DATE, (10, 0), 8, 8, False), "QYR": (29, DATE, (8, 0), 6, 6, False),
    "MOYR": (28, DATE, (8, 0), 6, 6, False), "WKYR": (30, DATE, (10, 0), 8, 8, False),
    "DATETIME": (22, DATE, (23, 2), 17, 21, True), "TIME": (21, TIME, (11, 2), 5, 9, True),
    "DTIME": (25, TIME, (15, 2), 9, 13, True), "WKDAY": (26, NUMBER, (9, 0), 2, 2, False),
    "MONTH": (27, NUMBER, (9, 0), 3, 3, False), "YMDHMS": (86, DATE, None, 12, 20, True),
    "MTIME": (85, TIME, None, 5, 6, True),
    **dict.fromkeys(["CCA", "CCB", "CCC", "CCD", "CCE"], (5, NUMBER, (8, 2), 1, 1, True)),
}
_TIME, _E = 21, 17  # the codes with a rule of their own
MAX_STRING_WIDTH, MAX_NUMERIC_WIDTH, MAX_DECIMALS = 32767, 40, 16
MAX_NAME_BYTES, _MAX_WORD_BYTES, _MAX_WIDTH_TEXT, _INT_MAX = 64, 1023, 255, 2 ** 31 - 1
_RESERVED = {"AND", "OR", "NOT", "EQ", "NE", "LT", "LE", "GT", "GE", "TO"}

# The plug-in's messages and the limits their texts report.
BAD_FORMAT, DUPLICATE_NAME, RESERVED_NAME, INVALID_NAME, NAME_CUT = 2265, 2272, 2277, 2278, 2273
_LIMITS = {DUPLICATE_NAME: (MAX_NAME_BYTES, MAX_NAME_BYTES), NAME_CUT: (MAX_NAME_BYTES,)}

_BLANKS, _WORD = re.compile(r"[ \t\r\n]*"), re.compile(r"[^ \t\r\n]*")
_DECIMALS = re.compile(r"[ \t\n\v\f\r]*([+-]?)([0-9]*)")  # as atoi reads them


def _cut(text, limit):
    """The longest prefix of `text` that is at most `limit` bytes of UTF-8."""
    data = text.encode("utf-8", "surrogateescape")
    if len(data) <= limit:
        return text
    while limit > 0 and data[limit] & 0xC0 == 0x80:
        limit -= 1
    return data[:limit].decode("utf-8", "surrogateescape")


def _number(digits):
    return min(int(digits), _INT_MAX) if digits else 0


def _split(word):
    """Keyword, width and decimals of a format word: COMMA10.2, F.2, 8F."""
    keyword = re.match(r"[^0-9.]*", word).group()
    if keyword:
        rest = word[len(keyword):]
        width_text = rest.split(".", 1)[0]
        if not width_text:
            return keyword, 0, 0
        width = _number(re.match(r"[0-9]*", width_text[:_MAX_WIDTH_TEXT]).group())
        after = rest[len(width_text) + 1:]
        if not after:
            return keyword, width, 0
        sign, digits = _DECIMALS.match(after).groups()
        decimals = _number(digits)
        return keyword, width, MAX_DECIMALS + 1 if sign == "-" and decimals else decimals
    digits = re.match(r"[0-9]*", word).group()
    return word[len(digits):], _number(digits[:_MAX_WIDTH_TEXT]), 0


def read_format(word):
    """(code, kind, width, decimals) of a format word, or None when the plug-in refuses it."""
    if re.fullmatch(r"[0-9](.*[0-9])?", word, re.S):
        return None  # a bare width: even with the "X" the plug-in would join, no keyword
    keyword, width, decimals = _split(word)
    rule = _KEYWORDS.get(keyword.translate(_ASCII_UPPER))
    if rule is None:
        return None
    code, kind, default, smallest, smallest_with_decimals, adds_decimals = rule
    if code == _TIME and decimals >= 2 and width < 11:
        width = 11  # room for a whole time of day
    if width == 0 and decimals == 0:
        width, decimals = default or (0, 0)
    if width == 0 or decimals > MAX_DECIMALS:
        return None
    if width > (MAX_STRING_WIDTH if code == 1 else MAX_NUMERIC_WIDTH):
        return None
    least = smallest if decimals == 0 else smallest_with_decimals + (decimals if adds_decimals else 0)
    if width < least and code == _E and decimals:
        width = least  # E widens to fit its decimals
    return (code, kind, width, decimals) if width >= least else None


_ASCII_UPPER = str.maketrans("abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ")


def _upper(name):
    """The name with each character upper-cased whose upper case keeps its UTF-8 length."""
    def one(c):
        u = c.upper()
        return u if len(u) == 1 and len(u.encode("utf-8", "surrogatepass")) == len(c.encode(
            "utf-8", "surrogatepass")) else c
    return "".join(one(c) for c in name)


def _name_refusal(name):
    """None for a valid name, else the message the plug-in gives."""
    if _upper(name) in _RESERVED:
        return RESERVED_NAME
    letters = [c.isalpha() for c in name]
    if not letters[0] or name.endswith(".") or not all(
            ok or c in "0123456789_." for c, ok in zip(name, letters)):
        return INVALID_NAME
    return None


def _catalog(warning):
    """The lines of the plug-in's catalog: where DRAVSTREAM_CATALOGS says, else installed
    beside this package (PREFIX/share/dravstream/catalogs), else in the source tree."""
    here = pathlib.Path(__file__).resolve()
    folders = [os.environ.get("DRAVSTREAM_CATALOGS"), here.parents[4] / "share" / "dravstream" /
               "catalogs" if len(here.parents) > 4 else None, here.parents[2] / "catalogs"]
    for folder in filter(None, folders):
        try:
            with open(os.path.join(folder, "talvex.err" if warning else "korvel.err"),
                      encoding="utf-8") as lines:
                return lines.read().splitlines()
        except OSError:
            continue
    return []


def message(message_id, token, warning=False):
    """The plug-in's message: "[ID] " and its catalog text, the limits filled in, the token."""
    text = next((line.split("\t", 1)[1] for line in _catalog(warning)
                 if line.startswith("%d\t" % message_id)),
                "The message catalog was not found, so this message has no text.")
    for limit in _LIMITS.get(message_id, ()):
        text = text.replace("%d", str(limit), 1)
    return "[%d] %s %s" % (message_id, text.replace("%%", "%"), token)


def _refuse(message_id, token):
    error = VariableListError(message(message_id, token))
    error.message_id = message_id
    raise error


class Variable:
    """One variable: its name, its format word as written, its kind and place."""

    def __init__(self, name, format_word, kind, width, offset, code=None, format_width=0, decimals=0):
        self.name, self.format, self.kind = name, format_word, kind
        self.width = width  # bytes of a string variable, 0 for the other kinds
        self.offset = offset  # where it starts in a record, in bytes
        self.size = slots_for(width) * SLOT_BYTES
        self.code, self.format_width, self.decimals = code, format_width, decimals

    def __repr__(self):
        return "Variable(%r, %r)" % (self.name, self.format)


def _read_list(text):
    """The variables of a list and the warnings on it, as the plug-in reads it."""
    text = text.split("\0", 1)[0]
    variables, warnings, seen, at, offset = [], [], set(), 0, 0

    def word():
        nonlocal at
        at = _BLANKS.match(text, at).end()
        found = _WORD.match(text, at).group()
        at += len(found)
        return _cut(found, _MAX_WORD_BYTES)

    while True:
        at = _BLANKS.match(text, at).end()
        if at == len(text) or text[at] == ".":
            return variables, warnings
        name = word()
        if len(name.encode("utf-8", "surrogateescape")) > MAX_NAME_BYTES:
            warnings.append(message(NAME_CUT, name, warning=True))
            name = _cut(name, MAX_NAME_BYTES)
        if _upper(name) in seen:
            _refuse(DUPLICATE_NAME, name)
        refusal = _name_refusal(name)
        if refusal:
            _refuse(refusal, name)
        format_word = word()
        read = read_format(format_word)
        if read is None:
            _refuse(BAD_FORMAT, name)
        code, kind, width, decimals = read
        variable = Variable(name, format_word, kind, width if kind == STRING else 0, offset,
                            code, width, decimals)
        seen.add(_upper(name))
        variables.append(variable)
        offset += variable.size


class Variables:
    """A variable list and the record layout that follows from it.

    >>> Variables("id F8 name A20 when DATETIME").record_bytes
    40
    """

    def __init__(self, text):
        self.variables, self.warnings = _read_list(text if isinstance(text, str) else " ".join(text))
        if not self.variables:
            raise VariableListError("the variable list is empty")
        self.record_bytes = sum(variable.size for variable in self.variables)

    def __iter__(self):
        return iter(self.variables)

    def __len__(self):
        return len(self.variables)

    def __getitem__(self, column):
        return self.variables[column]

    @property
    def names(self):
        return [variable.name for variable in self.variables]

    def __str__(self):
        return " ".join("%s %s" % (v.name, v.format) for v in self.variables)

    def __repr__(self):
        return "Variables(%r)" % str(self)

    def get_data(self, pipe=None, rewind_pipe=None, socket=None, host=None,
                 rewindable=True, seekable=True):
        """The GET DATA command that reads this stream, for one transport.

        >>> Variables("x F8.2").get_data(pipe="/tmp/cases", seekable=False)
        "GET DATA /TYPE = STREAM /PIPE = '/tmp/cases' /VARIABLES = x F8.2 ."
        """
        if (pipe is None) == (socket is None):
            raise ValueError("name a pipe or a socket, not both or neither")
        parts = ["GET DATA /TYPE = STREAM"]
        if pipe is not None:
            parts.append("/PIPE = " + _quoted(pipe))
            rewindable = rewind_pipe is not None
            if rewindable:
                parts.append("/REWINDABLE = " + _quoted(rewind_pipe))
        else:
            parts.append("/SOCKET = %d" % int(socket))
            if host is not None:
                parts.append("/HOST = " + host)
            if rewindable:
                parts.append("/REWINDABLE")
        if rewindable and seekable:
            parts.append("/SEEKABLE")
        parts.append("/VARIABLES = %s ." % self)
        return " ".join(parts)


def _quoted(path):
    return "'%s'" % str(path).replace("'", "''")


def as_variables(variables):
    """A Variables list, from one or from its text."""
    return variables if isinstance(variables, Variables) else Variables(variables)
