"""Variable lists, "name FORMAT name FORMAT ...", read as the host reads a command's list.

Each variable takes 8-byte slots in the order of the list: a number (dates
and times included) one, a string of width w ceil(w / 8).
"""
import re

from .errors import VariableListError
from .wire import SLOT_BYTES, slots_for

NUMBER, STRING, DATE, TIME = "number", "string", "date", "time"

# Every format keyword the command accepts, by the kind of value it shows.
_KEYWORDS = {
    "A": STRING,
    **dict.fromkeys("F N E PCT COMMA DOT DOLLAR CCA CCB CCC CCD CCE WKDAY MONTH".split(), NUMBER),
    **dict.fromkeys("DATE ADATE EDATE SDATE JDATE QYR MOYR WKYR DATETIME YMDHMS".split(), DATE),
    **dict.fromkeys("TIME DTIME MTIME".split(), TIME),
}
DEFAULT_STRING_WIDTH = 255  # "A" with no width
MAX_STRING_WIDTH = 32767

_WIDTH_FIRST = re.compile(r"(\d+)([^\d.]+)")  # 8F: no decimals allowed
_KEYWORD_FIRST = re.compile(r"([^\d.]*)(\d*)(?:\.\d*)?")  # COMMA10.2


class Variable:
    """One variable: its name, its format word as written, its kind and place."""

    def __init__(self, name, format_word, kind, width, offset):
        self.name, self.format, self.kind = name, format_word, kind
        self.width = width  # bytes of a string variable, 0 for the other kinds
        self.offset = offset  # where it starts in a record, in bytes
        self.size = slots_for(width) * SLOT_BYTES

    def __repr__(self):
        return "Variable(%r, %r)" % (self.name, self.format)


def _read_format(name, word):
    """The kind and string width a format word stands for: "A20" is (string, 20)."""
    def refuse(why):
        raise VariableListError('variable %s: format "%s" %s' % (name, word, why))

    if word[:1].isdigit():
        match = _WIDTH_FIRST.fullmatch(word)
        if not match:
            refuse("is not a format (width first allows no decimals)")
        width, keyword = int(match.group(1)[:6]), match.group(2)
    else:
        match = _KEYWORD_FIRST.fullmatch(word)
        if not match:
            refuse("has characters after its width")
        keyword, digits = match.group(1), match.group(2)
        width = int(digits[:6]) if digits else 0
    kind = _KEYWORDS.get(keyword.upper())
    if kind is None:
        refuse("has an unknown keyword")
    if kind != STRING:
        return kind, 0
    width = width or DEFAULT_STRING_WIDTH
    if width > MAX_STRING_WIDTH:
        refuse("is wider than 32767 bytes")
    return kind, width


class Variables:
    """A variable list and the record layout that follows from it.

    >>> Variables("id F8 name A20 when DATETIME").record_bytes
    40
    """

    def __init__(self, text):
        words = text.split() if isinstance(text, str) else list(text)
        if not words:
            raise VariableListError("the variable list is empty")
        if len(words) % 2:
            raise VariableListError("variable %s has no format" % words[-1])
        self.variables, offset, seen = [], 0, set()
        for name, word in zip(words[0::2], words[1::2]):
            if name.lower() in seen:
                raise VariableListError("variable %s is named twice" % name)
            seen.add(name.lower())
            kind, width = _read_format(name, word)
            variable = Variable(name, word, kind, width, offset)
            self.variables.append(variable)
            offset += variable.size
        self.record_bytes = offset

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
