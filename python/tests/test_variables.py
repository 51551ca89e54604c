"""Variable lists read as the host reads them, and the GET DATA command written from one."""
import struct
import unittest

import dravfeed
from dravfeed.records import Cases


class Layout(unittest.TestCase):
    def test_each_format_takes_its_kind_width_and_slots(self):
        table = [
            ("F8", "number", 0, 8), ("8F", "number", 0, 8), ("COMMA10.2", "number", 0, 8),
            ("a1", "string", 1, 8), ("A8", "string", 8, 8), ("A9", "string", 9, 16),
            ("A", "string", 255, 256), ("A32767", "string", 32767, 32768),
            ("DATETIME", "date", 0, 8), ("adate10", "date", 0, 8), ("DTIME", "time", 0, 8),
            ("WKDAY", "number", 0, 8),
        ]
        for word, kind, width, size in table:
            with self.subTest(format=word):
                variable = dravfeed.Variables("v " + word)[0]
                self.assertEqual((variable.kind, variable.width, variable.size),
                                 (kind, width, size))

    def test_variables_follow_each_other_in_slots(self):
        variables = dravfeed.Variables("id F8 name A20 when DATETIME")
        self.assertEqual([v.offset for v in variables], [0, 8, 32])
        self.assertEqual(variables.record_bytes, 40)

    def test_a_record_is_the_values_in_order_with_blank_padding(self):
        record = Cases([(0.5, "case0", -0.0)], dravfeed.Variables("x F8.2 name A10 y F8.2")).data
        self.assertEqual(record, struct.pack("=d16sd", 0.5, b"case0" + b" " * 11, -0.0))


class Refusals(unittest.TestCase):
    def test_a_list_the_host_refuses_is_refused_with_the_word_at_fault(self):
        table = [
            ("", "empty"), ("x", "x has no format"), ("x F8 X F8", "X is named twice"),
            ("x Q8", 'x: format "Q8" has an unknown keyword'),
            ("x 8.2", "width first allows no decimals"), ("x 8F2", "width first"),
            ("x F8x", "characters after its width"), ("s A40000", "wider than 32767"),
        ]
        for text, why in table:
            with self.subTest(text=text):
                with self.assertRaises(dravfeed.VariableListError) as raised:
                    dravfeed.Variables(text)
                self.assertIn(why, str(raised.exception))

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
