"""dravfeed's servers read by the real dravrun: transports, byte orders, passes, live rows,
values, and readers that leave."""
import datetime
import itertools
import os
import time
import unittest

import dravfeed

from .support import WATCHDOG, Served, csv_rows, numpy, pandas

TRANSPORTS = [("socket", "native"), ("socket", "swapped"), ("pipe", "native")]
VARIABLES = "n F8 label A8 value F8.2"


def numbered_rows(count):
    return [(n, "case%04d" % n, n / 4) for n in range(count)]


class PassesAndSeeks(unittest.TestCase):
    def test_two_passes_from_a_seek_serve_the_asked_cases_each_time(self):
        # A generator may not have produced case 97 yet when the seek comes.
        for (transport, order), live in itertools.product(TRANSPORTS, (False, True)):
            with self.subTest(transport=transport, byte_order=order, live=live):
                rows = numbered_rows(100)
                served = Served(self, transport, iter(rows) if live else rows, VARIABLES,
                                byte_order=order)
                out, err = served.read("--passes", "2", "--seek", "97")
                expected = [["%d" % n, "case%04d" % n, "%.2f" % (n / 4)] for n in (97, 98, 99)]
                self.assertEqual(csv_rows(out), expected * 2)
                self.assertEqual(err.splitlines(), ["3 cases", "3 cases"])
                stats = served.stats()
                self.assertEqual(stats.seeks, 2)

    def test_a_rewind_after_a_whole_pass_starts_again_at_case_zero(self):
        for transport, order in TRANSPORTS:
            with self.subTest(transport=transport, byte_order=order):
                served = Served(self, transport, iter(numbered_rows(1000)), VARIABLES,
                                byte_order=order)
                out, err = served.read("--passes", "2", seekable=False)
                rows = csv_rows(out)
                self.assertEqual(len(rows), 2000)
                self.assertEqual(rows[:1000], rows[1000:])
                self.assertEqual(rows[999][0], "999")
                self.assertEqual(served.stats().rewinds, 1)

    def test_without_rewind_one_pass_is_served_and_the_server_ends(self):
        for transport, order in TRANSPORTS:
            with self.subTest(transport=transport):
                served = Served(self, transport, numbered_rows(5), VARIABLES, byte_order=order,
                                rewind=False, linger=30)
                out, _ = served.read(seekable=False)
                self.assertEqual(len(csv_rows(out)), 5)
                started = time.monotonic()
                self.assertEqual(served.stats().passes, 1)
                self.assertLess(time.monotonic() - started, 20,
                                "it waited for a reader that cannot come")
                if transport == "pipe":
                    self.assertFalse(os.path.exists(served.path))


class LiveRows(unittest.TestCase):
    def test_each_row_of_a_slow_generator_reaches_the_reader_when_it_is_produced(self):
        # The generator stops after three rows until dravrun, limited to three
        # cases, has ended: it only can if those rows were sent while the
        # generator was still running. Then the reader is gone mid-stream.
        for transport, order in TRANSPORTS:
            with self.subTest(transport=transport, byte_order=order):
                reader = []

                def rows():
                    for n in range(3):
                        time.sleep(0.05)
                        yield (n, "live", n / 4)
                    reader[0].wait(WATCHDOG)
                    for n in range(3, 5000):
                        yield (n, "late", n / 4)

                served = Served(self, transport, rows(), VARIABLES, byte_order=order,
                                rewind=False)
                reader.append(served.start_reader("--limit", "3", seekable=False))
                self.addCleanup(reader[0].kill)
                out, err = reader[0].communicate(timeout=WATCHDOG)
                self.assertEqual(reader[0].returncode, 0, err)
                self.assertEqual(csv_rows(out), [["0", "live", "0.00"], ["1", "live", "0.25"],
                                                 ["2", "live", "0.50"]])
                self.assertGreaterEqual(served.stats().cases, 3)


class ReaderGoesAway(unittest.TestCase):
    def test_a_reader_that_leaves_mid_stream_ends_the_server_cleanly(self):
        for transport, order in TRANSPORTS:
            with self.subTest(transport=transport, byte_order=order):
                served = Served(self, transport, numbered_rows(200000), VARIABLES,
                                byte_order=order, rewind=transport == "socket")
                out, _ = served.read("--limit", "10", seekable=False)
                self.assertEqual(len(csv_rows(out)), 10)
                self.assertEqual(served.stats().passes, 1)
                if transport == "pipe":
                    self.assertFalse(os.path.exists(served.path))

    def test_a_killed_reader_ends_the_server_cleanly(self):
        for transport, order in TRANSPORTS:
            with self.subTest(transport=transport):
                served = Served(self, transport, numbered_rows(200000), VARIABLES,
                                byte_order=order)
                reader = served.start_reader("--passes", "100", seekable=False)
                self.addCleanup(reader.kill)
                reader.stdout.readline()  # the header: the first pass is on
                reader.kill()
                reader.communicate(timeout=WATCHDOG)
                self.assertGreaterEqual(served.stats().passes, 1)
                self.assertFalse(os.path.exists(served.path))


class Values(unittest.TestCase):
    def serve_each_way(self, rows, variables, *options):
        """dravrun's rows for `rows` over every transport; they must all agree."""
        outputs = []
        for transport, order in TRANSPORTS:
            served = Served(self, transport, rows, variables, byte_order=order, rewind=False)
            out, _ = served.read(*options, seekable=False)
            served.stats()
            outputs.append(csv_rows(out))
        for other in outputs[1:]:
            self.assertEqual(other, outputs[0])
        return outputs[0]

    def test_missing_values_of_every_kind_are_missing(self):
        kinds = [None, float("nan"), "", "  "]
        if numpy is not None:
            kinds += [numpy.nan, numpy.float32("nan"), numpy.datetime64("NaT"),
                      pandas.NaT, pandas.NA]
        rows = [(k, k, k, k) for k in kinds]
        got = self.serve_each_way(rows, "x F8.2 s A4 d DATE11 t TIME8")
        self.assertEqual(got, [["", "", "", ""]] * len(kinds))

    def test_strings_are_cut_at_their_width_and_padded(self):
        # é is two bytes in UTF-8: a string is never cut inside a character.
        rows = [("abcdefghij", "x"), ("ab", "é"), ("", "aé"), (b"bytes\xc3\xa9", 12)]
        got = self.serve_each_way(rows, "s A5 t A1")
        self.assertEqual(got, [["abcde", "x"], ["ab", ""], ["", "a"], ["bytes", "1"]])

    def test_dates_and_times_arrive_as_the_host_shows_them(self):
        rows = [
            (datetime.datetime(2026, 12, 5, 14, 30, 15), datetime.timedelta(hours=12, minutes=30)),
            (datetime.date(2024, 2, 29), datetime.time(23, 59, 59)),
            ("2024-03-01T12:30:00", "01:02:03"),
            ("2024-03-01 08:00", "-1:30"),
            (0, 90),
        ]
        if numpy is not None:
            rows += [(numpy.datetime64("2000-01-01T06:00:00"), numpy.timedelta64(61, "s")),
                     (pandas.Timestamp("1999-12-31 23:59:59"), pandas.Timedelta(minutes=5))]
        got = self.serve_each_way(rows, "when DATETIME23 took TIME11")
        expected = [["05-DEC-2026 14:30:15", "12:30:00"], ["29-FEB-2024 00:00:00", "23:59:59"],
                    ["01-MAR-2024 12:30:00", "01:02:03"], ["01-MAR-2024 08:00:00", "-01:30:00"],
                    ["01-JAN-1970 00:00:00", "00:01:30"],
                    ["01-JAN-2000 06:00:00", "00:01:01"], ["31-DEC-1999 23:59:59", "00:05:00"]]
        # Eleven columns: the sign of a negative duration takes the decimals' room.
        expected = [[when + ".00", took if took[0] == "-" else took + ".00"]
                    for when, took in expected]
        self.assertEqual(got, expected[:len(rows)])


class ValuesThatDoNotFit(unittest.TestCase):
    CASES = [
        ("x F8", [(1,), ("twelve",)], 1, "x", "is not a number"),
        ("x F8 d DATE11", [(1, "2024-01-01"), (2, "2024-02-30")], 1, "d",
         "not a day of the calendar"),
        ("d DATETIME20", [("2024-01-01T10:00:00+02:00",)], 0, "d", "time zone"),
        ("t TIME8", [("noon",)], 0, "t", "not a time"),
        ("x F8", [(1,), (2,), (float("inf"),)], 2, "x", "infinite"),
        ("x F8", [(10 ** 400,)], 0, "x", "too large"),
        ("s A4 x F8", [("a", 1), ("b", {"x": 1})], 1, "x", "not a number (a dict)"),
    ]

    def test_a_value_that_does_not_fit_names_its_row_and_variable(self):
        for variables, rows, row, variable, why in self.CASES:
            for transport in ("socket", "pipe"):
                with self.subTest(rows=rows, transport=transport):
                    with self.assertRaises(dravfeed.ValueDoesNotFit) as raised:
                        dravfeed.serve_socket(rows, variables) if transport == "socket" else \
                            dravfeed.serve_pipe(rows, variables, "/nonexistent/never-made")
                    error = raised.exception
                    self.assertEqual((error.row, error.variable), (row, variable))
                    self.assertIn("row %d, variable %s" % (row, variable), str(raised.exception))
                    self.assertIn(why, str(raised.exception))

    def test_a_live_row_that_does_not_fit_ends_the_server_with_the_error(self):
        def rows():
            yield (1, "a")
            yield (2, "b")
            yield ("three", "c")

        for transport, order in TRANSPORTS:
            with self.subTest(transport=transport):
                served = Served(self, transport, rows(), "x F8 s A2", byte_order=order)
                reader = served.start_reader(seekable=False)
                self.addCleanup(reader.kill)
                with self.assertRaises(dravfeed.ValueDoesNotFit) as raised:
                    served.stats()
                self.assertEqual((raised.exception.row, raised.exception.variable), (2, "x"))
                _, err = reader.communicate(timeout=WATCHDOG)
                self.assertFalse(os.path.exists(served.path))
                if transport == "socket":  # a pipe cannot tell a break from the end
                    self.assertEqual(reader.returncode, 3, err)
                    self.assertIn("error: the feeder broke off the stream after", err)


@unittest.skipIf(pandas is None, "needs numpy and pandas")
class Frames(unittest.TestCase):
    def frame(self, count=50):
        return pandas.DataFrame({
            "id": numpy.arange(count),
            "x y": numpy.where(numpy.arange(count) % 7 == 6, numpy.nan, numpy.arange(count) / 8),
            "name": ["name%d" % (n % 13) for n in range(count)],
            "when": pandas.date_range("2026-12-05", periods=count, freq="min"),
        })

    def test_a_frame_served_with_its_proposed_variables_reads_back_whole(self):
        frame = self.frame()
        variables = dravfeed.variables_for(frame)
        self.assertEqual(str(variables), "id F2 x_y F40.16 name A6 when DATETIME23.2")
        for transport, order in TRANSPORTS:
            with self.subTest(transport=transport, byte_order=order):
                served = Served(self, transport, frame, variables, byte_order=order)
                out, _ = served.read("--passes", "2", "--seek", "45")
                rows = csv_rows(out)
                self.assertEqual(len(rows), 10)
                self.assertEqual(rows[0], ["45", "5.6250000000000000", "name6", "05-DEC-2026 00:45:00.00"])
                self.assertEqual(rows[3][1], "")  # 48 % 7 == 6: missing
                served.stats()

    def test_a_frame_packs_to_the_same_bytes_as_its_rows(self):
        frame = self.frame(20)
        frame["name"] = frame["name"].where(frame["id"] % 5 != 0, None)
        variables = dravfeed.Variables("id F8 x F8.2 name A3 when DATETIME20")
        from dravfeed.records import Cases
        for order in ("native", "swapped"):
            with self.subTest(byte_order=order):
                by_columns = Cases(frame, variables, order).data
                by_rows = Cases(list(frame.itertuples(index=False)), variables, order).data
                self.assertEqual(by_columns, by_rows)
                self.assertEqual(Cases(frame.to_numpy(), variables, order).data, by_rows)

    def test_a_frame_value_that_does_not_fit_names_its_row_and_variable(self):
        frame = self.frame(10)
        frame.loc[7, "x y"] = numpy.inf
        with self.assertRaises(dravfeed.ValueDoesNotFit) as raised:
            dravfeed.serve_socket(frame, dravfeed.variables_for(frame))
        self.assertEqual((raised.exception.row, raised.exception.variable), (7, "x_y"))


if __name__ == "__main__":
    unittest.main()
