#!/usr/bin/python3
"""End-to-end throughput: the same generated cases (N cases x 10 numeric
variables) read by dravrun fed by dravfeed over loopback TCP, and by the
peers a user might pick instead, reading the same data through a named pipe:
pandas (read_csv + describe) and Python's csv module on the CSV that
dravrun --output csv wrote, and the apache-arrow npm package on an Arrow IPC
stream of the same values. Each reader's cases per second and peak resident
size go into a JSON file for report.py.

The plug-in's own iterator is measured the same way (bench_iterator, fed by
its own dravfeed --generate), so that dravrun's rate can be set against the
iterator's under the same feeder, at N and at 10 N cases; dravfeed alone is
drained by a reader that discards the bytes in the kernel.

dravrun's time is the whole process, start to exit; bench_iterator's is its
Next calls alone. A peer's time starts after its interpreter has started and
imported its library (the peers print it themselves), which favours the
peers. Peak RSS is the reader process's own, as GNU time reports it."""
import argparse
import json
import os
import re
import select
import shutil
import socket
import subprocess
import sys
import time

VARIABLES = 10
FORMAT = "F12.2"  # wide enough for every generated value at 10,000,000 cases
# The output comparison: values up to 1,000,000 in the format users most
# often give them, so that the widest lose a decimal to fit.
OUTPUT_FORMAT = "F8.2"
OUTPUT_DECIMALS = 2
WATCHDOG = 600
HERE = os.path.dirname(os.path.abspath(__file__))
ITERATOR = "plug-in iterator in-process (socket)"
RUNS = 5  # runs of each quick socket reader; the median is kept


def variable_list(fmt=FORMAT):
    return " ".join("v%d %s" % (j + 1, fmt) for j in range(VARIABLES))


class Feeder:
    """dravfeed --generate over loopback TCP on a port it picks, or into a
    named pipe."""

    def __init__(self, bin_dir, cases, pipe=None, variables=None):
        where = ["--pipe", pipe] if pipe else ["--socket", "0"]
        argv = [os.path.join(bin_dir, "dravfeed")] + where + [
            "--linger", "0", "--variables", variables or variable_list(), "--generate", str(cases)]
        self.proc = subprocess.Popen(argv, stderr=subprocess.PIPE, text=True)
        self.port = None
        if not pipe:
            self.port = self._wait_for(r"listening on port (\d+)")

    def _wait_for(self, pattern):
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.proc.stderr], [], [], 1)
            if ready:
                line = self.proc.stderr.readline()
                if not line:
                    break
                match = re.search(pattern, line)
                if match:
                    return int(match.group(1))
        raise RuntimeError("dravfeed did not start")

    def finish(self):
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def run_measured(argv, stdout=subprocess.DEVNULL, env=None):
    """Runs one reader; returns (wall seconds, peak RSS KiB, exit status,
    standard output text when not redirected, standard error text).

    The peak comes from GNU time, a small process between us and the
    reader: Linux carries a process's peak RSS across fork and exec, so a
    reader started straight from this (large) interpreter would report our
    peak instead of its own."""
    err_path = os.path.join(WORK, "stderr.txt")
    rss_path = os.path.join(WORK, "rss.txt")
    with open(err_path, "w") as err:
        capture = stdout is None
        start = time.monotonic()
        proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss_path] + argv,
                                stdout=subprocess.PIPE if capture else stdout, stderr=err,
                                env=env, text=True)
        out = proc.stdout.read() if capture else ""
        proc.wait()
        seconds = time.monotonic() - start
    with open(rss_path) as f:
        lines = f.read().split()
    rss = int(lines[-1]) if lines and lines[-1].isdigit() else None
    with open(err_path) as err:
        return seconds, rss, proc.returncode, out, err.read()


def stream_command(port, variables=None):
    return "GET DATA /TYPE = STREAM /SOCKET = inet:127.0.0.1:%d /VARIABLES = %s ." % (
        port, variables or variable_list())


def dravrun(bin_dir, cases, options, stdout=subprocess.DEVNULL, variables=None):
    feeder = Feeder(bin_dir, cases, variables=variables)
    command = stream_command(feeder.port, variables)
    try:
        seconds, rss, status, _, err = run_measured(
            [os.path.join(bin_dir, "dravrun"), "--no-progress"] + options + [command], stdout)
    finally:
        feeder.finish()
    match = re.search(r"(\d+) cases", err)
    if status != 0 or not match or int(match.group(1)) != cases:
        raise RuntimeError("dravrun %s: exit %d, %s" % (" ".join(options), status, err.strip()[-300:]))
    return {"cases_per_second": cases / seconds, "seconds": seconds, "peak_rss_kib": rss}


def dravrun_output(bin_dir, cases, output, path, extra=()):
    """dravrun --output OUTPUT of the F8.2 cases into `path` (a file, or
    /dev/null)."""
    with open(path, "wb") as out:
        return dravrun(bin_dir, cases, ["--output", output, *extra], stdout=out,
                       variables=variable_list(OUTPUT_FORMAT))


def csv_baseline(bin_dir, cases):
    """The bare to_chars CSV loop of bench_csv_baseline over the same values,
    into a file, timed as a whole process like dravrun."""
    program = os.path.join(bin_dir, "bench_csv_baseline")
    if not os.access(program, os.X_OK):
        raise RuntimeError("bench_csv_baseline is not built")
    path = os.path.join(WORK, "baseline.csv")
    seconds, rss, status, out, err = run_measured([program, str(cases), str(OUTPUT_DECIMALS), path], stdout=None)
    self_timed(status, out, err, rss, cases)  # checks the run
    os.unlink(path)
    return {"cases_per_second": cases / seconds, "seconds": seconds, "peak_rss_kib": rss}


def self_timed(status, out, err, rss, cases):
    """The figures of a reader that times itself and prints {"rows", "seconds"}
    as its last line."""
    if status != 0:
        raise RuntimeError("exit %d: %s" % (status, err.strip()[-300:]))
    result = json.loads(out.strip().splitlines()[-1])
    if result["rows"] != cases:
        raise RuntimeError("read %d rows, not %d" % (result["rows"], cases))
    return {"cases_per_second": cases / result["seconds"], "seconds": result["seconds"],
            "peak_rss_kib": rss}


def plugin_iterator(bin_dir, cases):
    """The plug-in's iterator in a process of its own (bench_iterator): the
    least a host can do, open the stream through the plug-in and call Next to
    the end. It is fed by the same dravfeed --generate as dravrun and timed
    the same way, the whole process from start to exit, so that the ratio of
    the two is what dravrun itself adds. Its own clock over the Next calls
    alone is kept as next_calls_per_second."""
    program = os.path.join(bin_dir, "bench_iterator")
    if not os.access(program, os.X_OK):
        raise RuntimeError("bench_iterator is not built")
    feeder = Feeder(bin_dir, cases)
    try:
        seconds, rss, status, out, err = run_measured([program, stream_command(feeder.port)], stdout=None)
    finally:
        feeder.finish()
    result = self_timed(status, out, err, rss, cases)
    result["next_calls_per_second"] = result["cases_per_second"]
    result["cases_per_second"] = cases / seconds
    result["seconds"] = seconds
    return result


def feeder_rate(bin_dir, cases):
    """dravfeed alone, drained by a reader that has the kernel discard the
    bytes (MSG_TRUNC, 1 MiB at a time) instead of copying them out: a reader
    that copies pays about what the feeder pays to send, so it would be
    measured as much as the feeder."""
    feeder = Feeder(bin_dir, cases)
    expected = 4 + cases * VARIABLES * 8
    buffer = bytearray(1 << 20)
    received = 0
    with socket.create_connection(("127.0.0.1", feeder.port), timeout=WATCHDOG) as s:
        start = time.monotonic()
        while received < expected:
            n = s.recv_into(buffer, len(buffer), socket.MSG_TRUNC)
            if n == 0:
                break
            received += n
        seconds = time.monotonic() - start
    feeder.finish()
    if received != expected:
        raise RuntimeError("dravfeed sent %d bytes, not %d" % (received, expected))
    return {"cases_per_second": cases / seconds, "seconds": seconds, "peak_rss_kib": None}


def through_fifo(reader_argv, data_path, cases, env=None):
    """Runs a peer reader on a named pipe that `cat` fills with the file."""
    fifo = os.path.join(WORK, "peer.fifo")
    if os.path.exists(fifo):
        os.unlink(fifo)
    os.mkfifo(fifo)
    writer = subprocess.Popen(["sh", "-c", 'exec cat "$0" > "$1"', data_path, fifo])
    try:
        _, rss, status, out, err = run_measured(reader_argv + [fifo], stdout=None, env=env)
    finally:
        writer.wait()
        os.unlink(fifo)
    return self_timed(status, out, err, rss, cases)


def have_pandas():
    return subprocess.run(["/usr/bin/python3", "-c", "import pandas"],
                          stderr=subprocess.DEVNULL).returncode == 0


def ensure_gnu_time():
    if not os.access("/usr/bin/time", os.X_OK) and os.geteuid() == 0:
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "install", "-y", "-qq", "time"], env=env, stdout=subprocess.DEVNULL)
    if not os.access("/usr/bin/time", os.X_OK):
        raise SystemExit("endtoend.py needs GNU time (/usr/bin/time, Debian package time)")


def ensure_pandas():
    if have_pandas():
        return None
    if os.geteuid() != 0:
        return "python3-pandas is missing and this is not root"
    print("installing python3-pandas with apt-get", file=sys.stderr)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "update", "-qq"], env=env, stdout=subprocess.DEVNULL)
    subprocess.run(["apt-get", "install", "-y", "-qq", "python3-pandas"], env=env,
                   stdout=subprocess.DEVNULL)
    return None if have_pandas() else "apt-get could not install python3-pandas"


def ensure_arrow():
    node_dir = os.path.join(WORK, "node")
    if not os.path.isdir(os.path.join(node_dir, "node_modules", "apache-arrow")):
        if not shutil.which("npm"):
            return None, "npm is missing"
        print("installing apache-arrow with npm into %s" % node_dir, file=sys.stderr)
        os.makedirs(node_dir, exist_ok=True)
        subprocess.run(["npm", "install", "--prefix", node_dir, "--no-audit", "--no-fund",
                        "--silent", "apache-arrow"], stdout=subprocess.DEVNULL)
    if not os.path.isdir(os.path.join(node_dir, "node_modules", "apache-arrow")):
        return None, "npm could not install apache-arrow"
    return dict(os.environ, NODE_PATH=os.path.join(node_dir, "node_modules")), None


def raw_records(bin_dir, cases):
    """The generated cases as dravfeed writes them into a named pipe."""
    fifo = os.path.join(WORK, "raw.fifo")
    path = os.path.join(WORK, "cases.bin")
    if os.path.exists(fifo):
        os.unlink(fifo)
    feeder = Feeder(bin_dir, cases, pipe=fifo)
    deadline = time.monotonic() + 30
    while not os.path.exists(fifo) and time.monotonic() < deadline:
        time.sleep(0.01)
    with open(fifo, "rb") as source, open(path, "wb") as sink:
        shutil.copyfileobj(source, sink, 1 << 20)
    feeder.finish()
    return path


def csv_from_records(raw_path, csv_path):
    """The CSV that dravrun --output csv writes (F12.2 values, a missing value
    empty), made from the raw records: used when dravrun cannot run."""
    from array import array
    import math
    values = array("d")
    with open(raw_path, "rb") as f:
        values.frombytes(f.read())
    with open(csv_path, "w") as out:
        out.write(",".join("v%d" % (j + 1) for j in range(VARIABLES)) + "\n")
        for first in range(0, len(values), VARIABLES):
            row = values[first:first + VARIABLES]
            out.write(",".join("" if math.isnan(v) else "%.2f" % v for v in row) + "\n")


def attempt(action):
    try:
        return action()
    except Exception as e:  # one failing reader must not lose the others
        return {"error": str(e)}


def measure(name, readers, action):
    print("  " + name, file=sys.stderr)
    result = attempt(action)
    result["name"] = name
    readers.append(result)
    return result


def measure_in_turns(named_actions, readers, runs=RUNS):
    """The quick socket readers, each run `runs` times in turn with the
    others (so that a busy moment of the machine falls on all of them), and
    each one's median run kept: these are the figures the ratios between
    dravrun, the iterator and the feeder are made of."""
    results = {name: [] for name, _ in named_actions}
    for turn in range(runs):
        for name, action in named_actions:
            print("  %s (%d of %d)" % (name, turn + 1, runs), file=sys.stderr)
            results[name].append(attempt(action))
    for name, _ in named_actions:
        good = sorted((r for r in results[name] if "error" not in r), key=lambda r: r["cases_per_second"])
        result = dict(good[len(good) // 2]) if good else results[name][0]
        result.update(name=name, runs=len(good))
        readers.append(result)


def measure_outputs(b, n, readers):
    """dravrun's outputs against the bare to_chars loop, and raw against
    none, in turns: the F8.2 cases, each output into a file of its own."""
    def output_file(name):
        return os.path.join(WORK, "output." + name)
    measure_in_turns([
        ("bare to_chars CSV loop (to a file)", lambda: csv_baseline(b, n)),
        ("dravrun --output csv, F8.2 (socket, to a file)", lambda: dravrun_output(b, n, "csv", output_file("csv"))),
        ("dravrun --output csv --exact, F8.2 (socket, to a file)",
         lambda: dravrun_output(b, n, "csv", output_file("exact"), ["--exact"])),
        ("dravrun --output tsv, F8.2 (socket, to a file)", lambda: dravrun_output(b, n, "tsv", output_file("tsv"))),
        ("dravrun --output jsonl, F8.2 (socket, to a file)",
         lambda: dravrun_output(b, n, "jsonl", output_file("jsonl"))),
        ("dravrun --output table, F8.2 (socket, to a file)",
         lambda: dravrun_output(b, n, "table", output_file("table"))),
        ("dravrun --output raw, F8.2 (socket, to a file)", lambda: dravrun_output(b, n, "raw", output_file("raw"))),
        ("dravrun --output raw, F8.2 (socket, to /dev/null)", lambda: dravrun_output(b, n, "raw", os.devnull)),
        ("dravrun --output none, F8.2 (socket)", lambda: dravrun_output(b, n, "none", os.devnull)),
    ], readers)
    for name in ("csv", "exact", "tsv", "jsonl", "table", "raw"):
        if os.path.exists(output_file(name)):
            os.unlink(output_file(name))


def main():
    global WORK
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--cases", type=int, default=1000000)
    parser.add_argument("--out", required=True)
    parser.add_argument("--outputs-only", action="store_true",
                        help="measure only dravrun's outputs against the bare to_chars loop")
    args = parser.parse_args()
    WORK = args.work
    os.makedirs(WORK, exist_ok=True)
    ensure_gnu_time()
    b, n = args.bin, args.cases
    readers = []
    report = {"cases": n, "variables": VARIABLES, "readers": readers}
    for tool in ("dravrun", "dravfeed"):
        if not os.access(os.path.join(b, tool), os.X_OK):
            report["error"] = tool + " is not built"
            json.dump(report, open(args.out, "w"))
            return

    measure_outputs(b, n, readers)
    if args.outputs_only:
        report["outputs_only"] = True
        with open(args.out, "w") as f:
            json.dump(report, f, indent=1)
        return

    csv_path = os.path.join(WORK, "cases.csv")
    # dravrun without output and the bare iterator in turns, fed alike.
    measure_in_turns([
        ("dravrun --output none (socket)", lambda: dravrun(b, n, ["--output", "none"])),
        (ITERATOR, lambda: plugin_iterator(b, n)),
        ("dravrun --summary (socket)", lambda: dravrun(b, n, ["--output", "none", "--summary"])),
        ("dravfeed --generate (socket, discarding reader)", lambda: feeder_rate(b, n)),
    ], readers)
    with open(csv_path, "w") as csv_out:
        csv_run = measure("dravrun --output csv (socket, to a file)", readers,
                lambda: dravrun(b, n, ["--output", "csv"], stdout=csv_out))
    raw_path = raw_records(b, n)
    if "error" in csv_run:
        csv_from_records(raw_path, csv_path)
        report["csv_source"] = "made by endtoend.py from the raw records (dravrun could not run)"

    pandas_missing = ensure_pandas()
    measure("pandas read_csv + describe (FIFO)", readers, lambda: through_fifo(
        ["/usr/bin/python3", os.path.join(HERE, "peers", "pandas_summary.py")], csv_path, n)
        if not pandas_missing else {"error": pandas_missing})
    measure("Python csv module summary (FIFO)", readers, lambda: through_fifo(
        ["/usr/bin/python3", os.path.join(HERE, "peers", "csv_summary.py")], csv_path, n))

    node_env, arrow_missing = ensure_arrow()

    def arrow():
        if arrow_missing:
            return {"error": arrow_missing}
        stream = os.path.join(WORK, "cases.arrows")
        subprocess.run(["node", os.path.join(HERE, "peers", "arrow_make_stream.js"),
                        raw_path, str(VARIABLES), stream], env=node_env, check=True)
        return through_fifo(["node", os.path.join(HERE, "peers", "arrow_summary.js")], stream, n, node_env)
    measure("apache-arrow IPC stream reader (FIFO)", readers, arrow)

    # Memory: peak RSS of the summary must not grow with the number of cases.
    small = measure("dravrun --summary (socket), memory run", readers,
                    lambda: dravrun(b, n, ["--output", "none", "--summary"]))
    # Ten times the cases: process start and plug-in loading weigh less. The
    # summary runs in turns with --output none, so their ratio is fair.
    large_summary = "dravrun --summary (socket), %d cases" % (10 * n)
    measure_in_turns([
        ("dravrun --output none (socket), %d cases" % (10 * n),
         lambda: dravrun(b, 10 * n, ["--output", "none"])),
        ("%s, %d cases" % (ITERATOR, 10 * n), lambda: plugin_iterator(b, 10 * n)),
        (large_summary, lambda: dravrun(b, 10 * n, ["--output", "none", "--summary"])),
    ], readers)
    large = next(r for r in readers if r["name"] == large_summary)
    report["memory"] = {"small": n, "large": 10 * n,
                        "growth_kib": (large["peak_rss_kib"] - small["peak_rss_kib"])
                        if "error" not in small and "error" not in large else None}
    for name in ("cases.csv", "cases.bin", "cases.arrows"):
        path = os.path.join(WORK, name)
        if os.path.exists(path):
            os.unlink(path)
    with open(args.out, "w") as f:
        json.dump(report, f, indent=1)


if __name__ == "__main__":
    main()
