"""Variable lists read as the plug-in reads them, and the GET DATA command written from one."""
import pathlib
import re
import struct
import unittest

import dravfeed
from dravfeed.records import Cases


SOURCE = pathlib.Path(__file__).resolve().parents[2]


class Corpus(unittest.TestCase):
    """Every list of tests/data/variable-lists.tsv gets the plug-in's verdict, message for message."""

    def test_every_list_gets_the_plugins_verdict(self):
        for number, line in enumerate((SOURCE / "tests/data/variable-lists.tsv").open(encoding="utf-8"), 1):
            if line.startswith("#"):
                continue
            text, expected = line.rstrip("\n").split("\t", 1)
            if expected.startswith("refused"):  # a refusal is one message: nothing is kept
                expected = expected.split("\t")[0]
            elif expected == "0 slots":  # the plug-in reads no variable; a feeder has nothing to serve
                expected = "the variable list is empty"
            with self.subTest(line=number, text=text):
                text = re.sub(r"\\(.)", lambda m: {"t": "\t", "n": "\n", "r": "\r"}.get(m[1], m[1]), text)
                self.assertEqual(self._verdict(text), expected)

    def _id_and_token(self, text, warning):
        """"ID TOKEN" of a message, after checking it is the catalog's text with its limits (64)."""
        message_id, token = int(text[1:text.index("]")]), text.rsplit(" ", 1)[1]
        catalog = (SOURCE / "catalogs" / ("talvex.err" if warning else "korvel.err")).read_text(encoding="utf-8")
        line = re.search(r"^%d\t(.*)$" % message_id, catalog, re.M)[1]
        self.assertEqual(text, "[%d] %s %s" % (message_id, line.replace("%d", "64"), token))
        return "%d %s" % (message_id, token)

    def _verdict(self, text):
        try:
            variables = dravfeed.Variables(text)
        except dravfeed.VariableListError as error:
            if not hasattr(error, "message_id"):
                return str(error)
            self.assertEqual(str(error).split("]")[0], "[%d" % error.message_id)
            return "refused " + self._id_and_token(str(error), False)
        fields = ["%d slots" % (variables.record_bytes // 8)]
        fields += ["warning " + self._id_and_token(w, True) for w in variables.warnings]
        for v in variables:
            self.assertEqual(v.width, v.format_width if v.kind == "string" else 0)
            kind = {26: "weekday", 27: "month"}.get(v.code, v.kind)  # both written as numbers
            fields.append("%s %d %d.%d %s @%d" % (v.name, v.code, v.format_width, v.decimals, kind, v.offset // 8))
        return "\t".join(fields)


class Records(unittest.TestCase):
    def test_a_record_is_the_values_in_order_with_blank_padding(self):
        record = Cases([(0.5, "case0", -0.0)], dravfeed.Variables("x F8.2 name A10 y F8.2")).data
        self.assertEqual(record, struct.pack("=d16sd", 0.5, b"case0" + b" " * 11, -0.0))

    def test_a_bad_byte_order_is_refused_before_serving(self):
        with self.assertRaises(ValueError):
            dravfeed.serve_socket([(1,)], "x F8", byte_order="big")


class Commands(unittest.TestCase):
    def test_the_command_names_the_transport_and_what_the_feeder_can_do(self):
        variables = dravfeed.Variables("id F8 name A20")
        table = [
            (dict(pipe="/tmp/a b"), "/PIPE = '/tmp/a b' /VARIABLES"),
            (dict(pipe="/tmp/it's", rewind_pipe="/tmp/r"),
             "/PIPE = '/tmp/it''s' /REWINDABLE = '/tmp/r' /SEEKABLE /VARIABLES"),
            (dict(socket=5000), "/SOCKET = 5000 /REWINDABLE /SEEKABLE /VARIABLES"),
            (dict(socket=5000, host="::1", seekable=False),
             "/SOCKET = 5000 /HOST = ::1 /REWINDABLE /VARIABLES"),
            (dict(socket=5000, rewindable=False), "/SOCKET = 5000 /VARIABLES"),
        ]
        for arguments, middle in table:
            with self.subTest(**arguments):
                self.assertEqual(variables.get_data(**arguments),
                                 "GET DATA /TYPE = STREAM %s = id F8 name A20 ." % middle)
        with self.assertRaises(ValueError):
            variables.get_data(pipe="/tmp/a", socket=1)


if __name__ == "__main__":
    unittest.main()
