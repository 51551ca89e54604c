"""Mutants of C++ source lines: where they may go and what they change.

A source file is first masked: comments become blanks and the contents of
string and character literals (raw strings too) become 'S', so that the
operators, which work on single lines with regular expressions, never touch
text that is not code. Positions stay the same, so a match in the masked line
is replaced in the real one.
"""

import hashlib
import re
from dataclasses import dataclass

SUBSYSTEMS = ("base", "host", "parser", "stream", "entry", "feeder", "tools")


@dataclass
class Mutant:
    id: str            # stable: file, line text and change, not the line number
    file: str          # relative to the source root
    line: int          # 1-based
    operator: str
    before: str        # the line as it is, stripped
    after: str         # the line mutated, stripped
    new_line: str      # the full mutated line, written into the file
    occurrence: int    # how many lines of the same text come before it

    @property
    def subsystem(self):
        return self.file.split("/", 1)[0]


# --- masking -------------------------------------------------------------

def mask_source(text):
    """Returns text with comments blanked and literal contents replaced."""
    out = list(text)
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            i = _blank(out, i, n if end < 0 else end, " ")
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            i = _blank(out, i, n if end < 0 else end + 2, " ")
        elif c == "R" and text.startswith('"', i + 1) and not _word_char(text, i - 1):
            i = _mask_raw_string(text, out, i)
        elif c == '"' or (c == "'" and not _digit_separator(text, i)):
            i = _mask_quoted(text, out, i, c)
        else:
            i += 1
    return "".join(out)


def _word_char(text, i):
    return i >= 0 and (text[i].isalnum() or text[i] == "_")


def _digit_separator(text, i):
    return i > 0 and text[i - 1].isalnum() and i + 1 < len(text) and text[i + 1].isalnum() \
        and text[i - 1] not in "uUL8" and re.match(r"[0-9]", text[i - 1]) is not None


def _blank(out, start, end, fill):
    for k in range(start, end):
        if out[k] != "\n":
            out[k] = fill
    return end


def _mask_quoted(text, out, i, quote):
    k = i + 1
    while k < len(text) and text[k] != quote and text[k] != "\n":
        k += 2 if text[k] == "\\" else 1
    _blank(out, i + 1, min(k, len(text)), "S")
    return k + 1


def _mask_raw_string(text, out, i):
    open_paren = text.find("(", i + 2)
    delimiter = text[i + 2:open_paren]
    end = text.find(")" + delimiter + '"', open_paren)
    end = len(text) if end < 0 else end
    _blank(out, open_paren + 1, end, "S")
    return end + len(delimiter) + 2


# --- which lines may be mutated ---------------------------------------------

LOG_ONLY = re.compile(r"^(std::clog|syslog\(|DRAV_TRACE)")


def mutable_lines(masked_lines):
    """Yields (index, masked line) for lines of code that are not
    preprocessor lines, blank, or only a log call."""
    continued = False
    for index, line in enumerate(masked_lines):
        stripped = line.strip()
        preprocessor = continued or stripped.startswith("#")
        continued = preprocessor and line.rstrip().endswith("\\")
        if preprocessor or not stripped or LOG_ONLY.match(stripped):
            continue
        yield index, line


# --- operators -------------------------------------------------------------
# Each takes the masked line and returns (start, end, replacement) triples.

COMPARISON = re.compile(r"(?<=\s)(==|!=|<=|>=|<|>)(?=\s)")
FLIPPED = {"==": "!=", "!=": "==", "<": ">=", ">=": "<", ">": "<=", "<=": ">"}
MOVED = {"<": "<=", "<=": "<", ">": ">=", ">=": ">"}
PURE_VIRTUAL = re.compile(r"\)\s*(const\s*)?= 0;")
LOGIC = re.compile(r"(?<=\s)(&&|\|\|)(?=\s)")
INTEGER = re.compile(r"(?<![\w.'])(\d+)(?![\w.'])")
FLAG_BAR = re.compile(r"(?<=\s)\|(?=\s)")
IDENT_BEFORE = re.compile(r"([A-Za-z_][\w:]*)\s*$")
IDENT_AFTER = re.compile(r"^\s*([A-Za-z_][\w:]*)(?![\w(:])")


def flip_comparison(masked, context):
    return [(m.start(), m.end(), FLIPPED[m.group(1)]) for m in COMPARISON.finditer(masked)]


def move_boundary(masked, context):
    if PURE_VIRTUAL.search(masked):
        return []
    changes = [(m.start(), m.end(), MOVED[m.group(1)])
               for m in COMPARISON.finditer(masked) if m.group(1) in MOVED]
    for m in INTEGER.finditer(masked):
        value = int(m.group(1))
        changes.append((m.start(), m.end(), str(value + 1)))
        if value > 0:
            changes.append((m.start(), m.end(), str(value - 1)))
    return changes


def swap_logic(masked, context):
    return [(m.start(), m.end(), "||" if m.group(1) == "&&" else "&&")
            for m in LOGIC.finditer(masked)]


def drop_flag(masked, context):
    """Removes one identifier term of an `A | B` expression."""
    changes = []
    for bar in FLAG_BAR.finditer(masked):
        left = IDENT_BEFORE.search(masked[:bar.start()])
        right = IDENT_AFTER.match(masked[bar.end():])
        if left and right:
            changes.append((left.start(), bar.end() + 1, ""))
            changes.append((bar.start() - 1, bar.end() + right.end(), ""))
    return changes


NOT_A_STATEMENT = re.compile(
    r"^(return|break|continue|case|default|goto|using|typedef|namespace|template|"
    r"static_assert|throw|else|if|for|while|do|switch|public|private|protected|"
    r"\(void\)|static_cast<void>|assert)\b")
ASSIGNMENT = re.compile(r"^[\w.\[\]*>()-]+\s*([-+*/|&^]|<<|>>)?=\s")
INCREMENT = re.compile(r"^(\+\+|--)[\w.\[\]>-]+;$|^[\w.\[\]>-]+(\+\+|--);$")
CALL = re.compile(r"^[\w:.\[\]>-]+(<[\w:, *&]*>)?\(.*\);$")
# A parameter list (`Type name,`) or `= default`: a declaration, not a call.
DECLARATION = re.compile(r"(?<!\w)(?!sizeof\b|new\b|return\b)[A-Za-z_][\w:<>]*[*&]*\s+[*&]*"
                         r"[A-Za-z_]\w*\s*[,)=]|=\s*(default|delete)\s*;$|\)\s*(const\s*)?=\s*0;$")
STATEMENT_BEFORE = re.compile(r"([;{}):]|\belse)$")


def delete_statement(masked, context):
    """Replaces a whole one-line call, assignment or increment with `;`."""
    stripped = masked.strip()
    if not stripped.endswith(";") or NOT_A_STATEMENT.match(stripped) or not _balanced(stripped):
        return []
    if not STATEMENT_BEFORE.search(context.previous_code):
        return []
    if not (ASSIGNMENT.match(stripped) or INCREMENT.match(stripped) or CALL.match(stripped)):
        return []
    if DECLARATION.search(stripped):
        return []
    start = len(masked) - len(masked.lstrip())
    return [(start, start + len(stripped), ";")]


RETURN = re.compile(r"^(\s*)return (.+);$")
CONSTANTS = {"true", "false", "nullptr", "{}", "0", "-1"}
BOOLEAN_EXPRESSION = re.compile(r"(^!)|\s(==|!=|<=|>=|<|>|&&|\|\|)\s")
INTEGER_TYPE = re.compile(r"\b(int|long|short|size_t|ssize_t|std::size_t|off_t|"
                          r"u?int\d+_t|unsigned|double|char)\s*$")


def return_constant(masked, context):
    """`return X;` becomes a constant that fits the function where the
    return type can be told from its signature, else `{}`."""
    match = RETURN.match(masked.rstrip())
    if not match or not _balanced(match.group(2)):
        return []
    value = match.group(2).strip()
    start, end = match.start(2), match.end(2)
    if value in ("true", "false"):
        return [(start, end, "false" if value == "true" else "true")]
    if value in CONSTANTS or INTEGER.fullmatch(value):
        return []
    return [(start, end, constant) for constant in _constants_for(value, context.return_type)]


def _constants_for(value, return_type):
    if return_type.startswith("bool") or BOOLEAN_EXPRESSION.search(value):
        return ["true", "false"]
    if return_type.endswith("*"):
        return ["nullptr"]
    if INTEGER_TYPE.search(return_type):
        return ["0"]
    return ["{}"]


def _balanced(text):
    return all(text.count(a) == text.count(b) for a, b in ("()", "[]", "{}"))


OPERATORS = {
    "flip-comparison": flip_comparison,
    "move-boundary": move_boundary,
    "swap-logic": swap_logic,
    "delete-statement": delete_statement,
    "return-constant": return_constant,
    "drop-flag": drop_flag,
}


# --- per file --------------------------------------------------------------

@dataclass
class LineContext:
    previous_code: str   # the last non-blank masked line before this one
    return_type: str     # what precedes the name of the enclosing function


OUTSIDE_FUNCTION = re.compile(r"^(}|class|struct|namespace)")
FUNCTION_HEAD = re.compile(r"^(?!\s|}|namespace|class|struct|enum|using|#)(.*?)\b[\w:~]+\(")


def file_mutants(relative_path, text):
    """Every mutant of one file, in line order."""
    lines = text.split("\n")
    masked = mask_source(text).split("\n")
    seen_texts = {}
    mutants = []
    return_type = ""
    previous_code = ""
    indexed = dict(mutable_lines(masked))
    for index, masked_line in enumerate(masked):
        head = FUNCTION_HEAD.match(masked_line)
        if head:
            return_type = head.group(1).strip()
        elif OUTSIDE_FUNCTION.match(masked_line):
            return_type = ""
        if index in indexed:
            stripped = lines[index].strip()
            occurrence = seen_texts.get(stripped, 0)
            seen_texts[stripped] = occurrence + 1
            context = LineContext(previous_code, return_type)
            mutants += _line_mutants(relative_path, index, lines[index], masked_line,
                                     occurrence, context)
        if masked_line.strip():
            previous_code = masked_line.strip()
    return mutants


def _line_mutants(path, index, line, masked_line, occurrence, context):
    result = []
    for name, operator in OPERATORS.items():
        for start, end, replacement in operator(masked_line, context):
            new_line = line[:start] + replacement + line[end:]
            if new_line == line:
                continue
            key = f"{path}\0{line.strip()}\0{occurrence}\0{name}\0{new_line.strip()}"
            result.append(Mutant(_digest(key)[:10], path, index + 1, name,
                                 line.strip(), new_line.strip(), new_line, occurrence))
    return result


def _digest(text):
    return hashlib.sha256(text.encode()).hexdigest()


# --- sampling --------------------------------------------------------------

def sample(mutants, seed, count, groups):
    """At most one mutant per line, lines ranked by a hash of the seed and
    the line's text (and its occurrence in the file), so that editing one
    part of a file leaves the choice elsewhere as it was. `groups` share
    `count` equally; a group short of lines passes its share on."""
    by_line = {}
    for mutant in mutants:
        by_line.setdefault((mutant.file, mutant.line), []).append(mutant)
    ranked = {group: [] for group in groups}
    for line_mutants in by_line.values():
        first = line_mutants[0]
        group = first.subsystem if first.subsystem in ranked else groups[0]
        line_key = _digest(f"{seed}\0{first.file}\0{first.before}\0{first.occurrence}")
        chosen = min(line_mutants, key=lambda m: _digest(f"{seed}\0{m.id}"))
        ranked[group].append((line_key, chosen))
    for entries in ranked.values():
        entries.sort(key=lambda entry: entry[0])
    return _share(ranked, count)


def _share(ranked, count):
    picked = []
    open_groups = [g for g in ranked if ranked[g]]
    taken = {g: 0 for g in ranked}
    while len(picked) < count and open_groups:
        share = max(1, (count - len(picked)) // len(open_groups))
        for group in list(open_groups):
            entries = ranked[group]
            grab = entries[taken[group]:taken[group] + share][:count - len(picked)]
            picked += [mutant for _, mutant in grab]
            taken[group] += len(grab)
            if taken[group] >= len(entries):
                open_groups.remove(group)
    return sorted(picked, key=lambda m: (m.file, m.line))
