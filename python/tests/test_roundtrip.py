"""Values that come back unchanged: variables_for's proposals, a DataFrame served and read
back with dravrun --exact, and dravfeed's inferred list for a CSV file agreeing with
variables_for's for the same data."""
import csv
import datetime
import io
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import dravfeed
from .support import DRAVRUN, WATCHDOG, Served, numpy, pandas

DRAVFEED = os.environ.get("DRAVFEED") or os.path.join(os.path.dirname(DRAVRUN), "dravfeed")
STOCKS = "/usr/share/matplotlib/mpl-data/sample_data/Stocks.csv"


def read_exact(out, frame):
    """dravrun --exact CSV read by pandas into the dtypes of `frame`'s columns."""
    back = pandas.read_csv(io.StringIO(out), keep_default_na=False, na_values=[""], float_precision="round_trip",
                           dtype={c: object for c in frame.columns if frame[c].dtype.kind == "O"})
    back.columns = frame.columns
    for label in frame.columns:
        column, kind = frame[label], frame[label].dtype.kind
        if kind == "M":
            back[label] = pandas.to_datetime(back[label])
            if column.dt.tz is not None:
                back[label] = back[label].dt.tz_localize("UTC").dt.tz_convert(column.dt.tz)
        elif kind == "m":
            back[label] = pandas.to_timedelta(back[label])
        elif kind == "O" and any(isinstance(v, datetime.date) for v in column):
            days = pandas.to_datetime(back[label])
            back[label] = [None if d is pandas.NaT else d.date() for d in days]
        elif kind == "O":
            back[label] = back[label].where(back[label].notna(), None)
    return back


def jsonl_as_csv(out, names):
    """JSON Lines as CSV: numbers as the very text dravrun wrote, null an empty field."""
    text = io.StringIO()
    writer = csv.writer(text, lineterminator="\n")
    writer.writerow(names)
    for line in out.splitlines():
        case = json.loads(line, parse_int=str, parse_float=str)
        writer.writerow(["" if case[name] is None else case[name] for name in names])
    return text.getvalue()


def assert_identical(test, back, frame):
    """Equal column by column; floats bit for bit (NaN where NaN was, -0 kept)."""
    test.assertEqual(len(back), len(frame))
    for label in frame.columns:
        ours, theirs = frame[label], back[label]
        if ours.dtype.kind == "f":
            test.assertTrue(numpy.array_equal(ours.isna().to_numpy(), theirs.isna().to_numpy()), label)
            mask = ours.notna().to_numpy()
            test.assertTrue(numpy.array_equal(ours.to_numpy()[mask].view("u8"),
                                              theirs.to_numpy(dtype="float64")[mask].view("u8")), label)
        else:
            pandas.testing.assert_series_equal(theirs, ours, check_names=False, check_dtype=False,
                                               obj=str(label))


@unittest.skipIf(pandas is None, "needs numpy and pandas")
class Proposals(unittest.TestCase):
    def test_each_column_kind_gets_a_format_that_holds_it_exactly(self):
        noon = datetime.datetime(2024, 3, 1, 12)
        cases = [
            ([1, -22, 333], "F3"),
            ([2 ** 53, 0], "F16"),
            ([0.1, numpy.nan], "F40.16"),
            ([1.0, numpy.nan, -10.0], "F3"),
            ([numpy.nan, numpy.nan], "F40.16"),
            ([1.5e300, 1.0], "F40.16"),
            ([True, False], "F1"),
            (["é", "abc", None], "A3"),
            (pandas.to_datetime(["2024-03-01", None]), "DATE11"),
            (pandas.to_datetime(["2024-03-01", "2024-03-01 00:00:00.000001"]), "DATETIME23.2"),
            ([datetime.date(2024, 3, 1), None], "DATE11"),
            ([noon, None], "DATETIME23.2"),
            (pandas.to_timedelta(["26h", None]), "TIME11.2"),
        ]
        for values, expected in cases:
            with self.subTest(values=values):
                frame = pandas.DataFrame({"c": values})
                self.assertEqual(str(dravfeed.variables_for(frame)), "c " + expected)

    def test_labels_become_valid_distinct_names(self):
        labels = ["a b", "1st", "AND", "x", "X", "é.", "^GSPC", "", "n" * 70, "n" * 70]
        frame = pandas.DataFrame([[1] * len(labels)], columns=range(len(labels)))
        frame.columns = labels
        names = dravfeed.variables_for(frame).names
        self.assertEqual(names, ["a_b", "v1st", "AND_", "x", "X_2", "é", "v_GSPC", "v",
                                 "n" * 64, "n" * 62 + "_2"])

    def test_a_column_with_a_time_zone_is_refused_unless_asked_for_utc(self):
        when = pandas.to_datetime(["2024-03-01 10:00", "2024-03-01 11:30"]).tz_localize("Europe/Paris")
        for column in (when, list(when.to_pydatetime())):
            frame = pandas.DataFrame({"n": [1, 2], "when": column})
            with self.subTest(column=type(column).__name__):
                with self.assertRaises(dravfeed.ValueDoesNotFit) as raised:
                    dravfeed.variables_for(frame)
                self.assertEqual(raised.exception.variable, "when")
                self.assertIn('aware="utc"', str(raised.exception))
                self.assertEqual(str(dravfeed.variables_for(frame, aware="utc")), "n F1 when DATETIME23.2")


    def test_values_a_double_would_change_are_refused_when_served(self):
        zoned = pandas.to_datetime(["2024-03-01 10:00", "2024-03-01 11:00"]).tz_localize("UTC")
        cases = [
            (pandas.DataFrame({"n": [1, 2 ** 53 + 1]}), "n F17", "n"),
            (pandas.DataFrame({"s": ["a", "b"], "n": [0, -2 ** 53 - 1]}), "s A1 n F17", "n"),
            (pandas.DataFrame({"when": zoned}), "when DATETIME23.2", "when"),
        ]
        from dravfeed.records import Cases
        for frame, listed, culprit in cases:
            with self.subTest(listed=listed):
                with self.assertRaises(dravfeed.ValueDoesNotFit) as raised:
                    Cases(frame, dravfeed.Variables(listed))
                self.assertEqual(raised.exception.variable, culprit)


@unittest.skipIf(pandas is None, "needs numpy and pandas")
class ExactRoundTrip(unittest.TestCase):
    ROWS = 20000  # 1,000,000 by hand: DRAV_ROUNDTRIP_ROWS=1000000

    def mixed_frame(self, rows):
        generator = numpy.random.default_rng(22)
        every = numpy.arange(rows)
        floats = generator.normal(scale=1e6, size=rows) * 10.0 ** generator.integers(-12, 12, size=rows)
        floats[:4] = [-0.0, 5e-324, 1.7976931348623157e308, 0.1]
        floats[every % 11 == 5] = numpy.nan
        micros = generator.integers(-2 * 10 ** 15, 4 * 10 ** 15, size=rows)
        instants = pandas.Series(micros.astype("datetime64[us]")).astype("datetime64[ns]")
        instants[every % 13 == 7] = pandas.NaT
        days = pandas.Series((generator.integers(-20000, 30000, size=rows) * 86400)
                             .astype("datetime64[s]")).astype("datetime64[ns]")
        words = numpy.array(["", "plain", "ünïcödé", "with, comma", 'a "quote"', "日本語", "x" * 40],
                            dtype=object)
        strings = words[generator.integers(1, len(words), size=rows)]
        strings[every % 17 == 3] = None
        durations = pandas.Series(generator.integers(-10 ** 11, 10 ** 12, size=rows).astype("timedelta64[us]"))
        return pandas.DataFrame({
            "float": floats,
            "int": generator.integers(-2 ** 53, 2 ** 53, size=rows),
            "text": strings,
            "when": instants,
            "day": days,
            "date": [None if n % 19 == 2 else datetime.date(1900, 1, 1) + datetime.timedelta(days=int(n % 70000))
                     for n in every],
            "took": durations.where(every % 23 != 4),
            "zoned": instants.dt.tz_localize("UTC").dt.tz_convert("America/New_York"),
        })

    def test_a_mixed_frame_reads_back_identical_through_exact_csv(self):
        rows = int(os.environ.get("DRAV_ROUNDTRIP_ROWS", self.ROWS))
        frame = self.mixed_frame(rows)
        variables = dravfeed.variables_for(frame, aware="utc")
        self.assertEqual(str(variables), "float F40.16 int F17 text A40 when DATETIME23.2 day DATE11 "
                                         "date DATE11 took TIME11.2 zoned DATETIME23.2")
        for output in ("csv", "jsonl"):
            with self.subTest(output=output):
                served = Served(self, "socket", frame, variables, rewind=False)
                out, err = served.read("--exact", "--output", output)
                served.stats()
                self.assertIn("%d cases" % rows, err)
                text = out if output == "csv" else jsonl_as_csv(out, variables.names)
                assert_identical(self, read_exact(text, frame), frame)


def dravfeed_help():
    return subprocess.run([DRAVFEED, "--help"], capture_output=True, text=True, timeout=WATCHDOG).stdout


@unittest.skipIf(pandas is None, "needs numpy and pandas")
class InferredFromCsv(unittest.TestCase):
    def serve_csv(self, path, *options):
        """dravfeed --csv PATH --header with an inferred list, read by dravrun --exact:
        (the inferred list, dravrun's output, dravfeed's standard error)."""
        feeder = subprocess.Popen([DRAVFEED, "--socket", "0", "--csv", path, "--header", "--print-command",
                                   *options], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(feeder.kill)
        command = feeder.stdout.read()
        reader = subprocess.run([DRAVRUN, "--no-progress", "--exact", "-f", "-"], input=command,
                                capture_output=True, text=True, timeout=WATCHDOG)
        self.assertEqual(reader.returncode, 0, reader.stderr)
        _, err = feeder.communicate(timeout=WATCHDOG)
        self.assertEqual(feeder.returncode, 0, err)
        return re.search(r"/VARIABLES = (.*) \.$", command.strip()).group(1), reader.stdout, err

    def temporary(self, text):
        folder = tempfile.mkdtemp(prefix="roundtrip.")
        self.addCleanup(shutil.rmtree, folder, True)
        path = os.path.join(folder, "data.csv")
        with open(path, "w") as out:
            out.write(text)
        return path

    def test_dravfeed_infers_what_variables_for_proposes_and_serves_it_exactly(self):
        path = self.temporary(
            "id,x y,AND,whole,name,day,when,took,empty,mixed\n"
            "1,0.1,-7,1.0,ab,2024-03-01,2024-03-01T12:00:00.25,26:00:00,,1\n"
            "-22,,12345,,ünï,,2024-03-02 00:00:00,-01:30:00.5,,2024-03-01\n"
            "333,1e300,0,3,\"with, comma\",1969-12-31,,00:00:01,,x\n")
        listed, out, _ = self.serve_csv(path)
        frame = pandas.read_csv(path, parse_dates=["day", "when"], dtype={"mixed": object},
                                keep_default_na=False, na_values=[""], float_precision="round_trip")
        frame["took"] = pandas.to_timedelta(frame["took"])
        self.assertEqual(listed, str(dravfeed.variables_for(frame)))
        assert_identical(self, read_exact(out, frame), frame)

    def test_a_value_after_the_sample_that_would_not_fit_is_refused(self):
        path = self.temporary("n,name\n1,ab\n2,abc\n")
        feeder = subprocess.Popen([DRAVFEED, "--socket", "0", "--csv", path, "--header", "--infer-rows", "1",
                                   "--print-command"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(feeder.kill)
        command = feeder.stdout.read()
        self.assertIn("/VARIABLES = n F1 name A2 .", command)
        # Whether the reader still gets the case before the bad one is the
        # feeder's business; it never gets "abc" cut to "ab".
        reader = subprocess.run([DRAVRUN, "--no-progress", "--exact", "-f", "-"], input=command,
                                capture_output=True, text=True, timeout=WATCHDOG)
        self.assertLessEqual(set(reader.stdout.splitlines()), {"n,name", "1,ab"})
        _, err = feeder.communicate(timeout=WATCHDOG)
        self.assertEqual(feeder.returncode, 1, err)
        self.assertIn('line 3, column 2 (name): "abc" is 3 bytes, wider than its variable\'s 2', err)

    @unittest.skipUnless(os.path.exists(STOCKS), "needs Debian's python3-matplotlib (Stocks.csv)")
    def test_stocks_csv_reads_back_identical(self):
        if "--comment" in dravfeed_help():
            listed, out, _ = self.serve_csv(STOCKS, "--comment", "#")
        else:  # a dravfeed without --comment: the same file without its comment line
            with open(STOCKS) as stocks:
                listed, out, _ = self.serve_csv(self.temporary(
                    "".join(line for line in stocks if not line.startswith("#"))))
        frame = pandas.read_csv(STOCKS, comment="#", parse_dates=["Date"], float_precision="round_trip")
        self.assertEqual(listed, str(dravfeed.variables_for(frame)))
        self.assertEqual(len(frame), 524)
        assert_identical(self, read_exact(out, frame), frame)


if __name__ == "__main__":
    unittest.main()
