#!/usr/bin/env python3
"""The Python feeder's throughput: a DataFrame of floats served to dravrun over TCP.

    /usr/bin/python3 bench/python_feeder.py [--dravrun PATH] [--rows N] [--runs K]

Three feeders serve the same N rows x 10 float columns to
`dravrun --output none` over loopback TCP, each K times in turns:

  struct rows   examples/feeder.py's way: struct.pack row by row, over the
                DataFrame's rows (itertuples), then a plain socket
  dravfeed      serve_socket(frame, ...): numpy packs the DataFrame
  dravfeed rows serve_socket(list of rows, ...): the standard-library path,
                from the rows as Python lists (made before the clock starts)

and, on its own, a DataFrame of N rows with a float, an integer, a string and
a datetime column (the mixed frame), served with serve_socket(frame,
variables_for(frame)).

A run's clock starts before the feeder packs anything and stops when dravrun
exits, so it holds packing, dravrun's start, connecting and reading. The
median run of each is printed, with the ratios the targets name.
"""
import argparse
import os
import socket
import statistics
import struct
import subprocess
import sys
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "python"))
import dravfeed  # noqa: E402

try:
    import numpy
    import pandas
except ImportError:
    sys.exit("python_feeder: needs python3-numpy and python3-pandas (Debian's /usr/bin/python3)")

COLUMNS = 10


def struct_rows_feeder(frame, ready):
    """examples/feeder.py's serving, one pass: probe, every row packed with struct, STOP."""
    layout = "=%dd" % COLUMNS
    data = b"".join(struct.pack(layout, *row) for row in frame.itertuples(index=False, name=None))
    with socket.create_server(("127.0.0.1", 0)) as server:
        ready(server.getsockname()[1])
        conn, _ = server.accept()
        with conn:
            conn.sendall(struct.pack("=i", 1) + data)
            conn.shutdown(socket.SHUT_WR)
            conn.recv(4)


def mixed_frame(generator, rows):
    """A float, an integer, a string and a datetime column (to the microsecond)."""
    names = numpy.array(["station%03d" % n for n in range(500)], dtype=object)
    return pandas.DataFrame({
        "x": generator.normal(size=rows),
        "n": generator.integers(-10 ** 9, 10 ** 9, size=rows),
        "name": names[generator.integers(0, len(names), size=rows)],
        "when": pandas.Timestamp("2024-01-01") + pandas.to_timedelta(
            generator.integers(0, 10 ** 13, size=rows), unit="us"),
    })


def timed_run(dravrun, variables, feeder):
    """Seconds from the feeder's start to dravrun's exit."""
    port, reader = [], []
    ready = threading.Event()

    def on_ready(number):
        port.append(number)
        ready.set()

    started = time.perf_counter()
    thread = threading.Thread(target=feeder, args=(on_ready,), daemon=True)
    thread.start()
    if not ready.wait(300):
        sys.exit("python_feeder: the feeder never listened")
    command = variables.get_data(socket=port[0], host="127.0.0.1", rewindable=False)
    reader = subprocess.run([dravrun, "--output", "none", "--no-progress", command],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                            timeout=300)
    seconds = time.perf_counter() - started
    thread.join(60)
    if reader.returncode != 0 or thread.is_alive():
        sys.exit("python_feeder: dravrun failed: %s" % reader.stderr)
    return seconds, reader.stderr.strip()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dravrun", default=os.path.join(here, "..", "build", "bin", "dravrun"))
    parser.add_argument("--rows", type=int, default=1000000)
    parser.add_argument("--runs", type=int, default=3)
    options = parser.parse_args()

    generator = numpy.random.default_rng(15)
    frame = pandas.DataFrame(generator.normal(size=(options.rows, COLUMNS)),
                             columns=["x%d" % i for i in range(COLUMNS)])
    variables = dravfeed.variables_for(frame)
    rows = frame.values.tolist()
    mixed = mixed_frame(generator, options.rows)
    mixed_variables = dravfeed.variables_for(mixed)
    feeders = {
        "struct rows (examples/feeder.py)": lambda ready: struct_rows_feeder(frame, ready),
        "dravfeed, DataFrame (numpy)": lambda ready: dravfeed.serve_socket(
            frame, variables, rewind=False, ready=ready),
        "dravfeed, list of rows (standard library)": lambda ready: dravfeed.serve_socket(
            rows, variables, rewind=False, ready=ready),
    }
    mixed_name = "dravfeed, mixed DataFrame (numpy)"
    feeders[mixed_name] = lambda ready: dravfeed.serve_socket(mixed, mixed_variables, rewind=False, ready=ready)
    times = {name: [] for name in feeders}
    for _ in range(options.runs):
        for name, feeder in feeders.items():
            listed = mixed_variables if name == mixed_name else variables
            seconds, counted = timed_run(options.dravrun, listed, feeder)
            if counted != "%d cases" % options.rows:
                sys.exit("python_feeder: dravrun read %r" % counted)
            times[name].append(seconds)

    rate = {name: options.rows / statistics.median(each) for name, each in times.items()}
    print("Python feeder: %d rows x %d float columns to dravrun --output none over TCP "
          "(median of %d)" % (options.rows, COLUMNS, options.runs))
    print("%-44s  %10s  %s" % ("feeder", "rows/s", "runs (s)"))
    for name in feeders:
        print("%-44s  %10.0f  %s" % (name, rate[name], " ".join("%.3f" % t for t in times[name])))
    fast, baseline = rate["dravfeed, DataFrame (numpy)"], rate["struct rows (examples/feeder.py)"]
    print()
    print("%-44s  %10s  %8s  %s" % ("target", "figure", "needed", "status"))
    for name, figure, needed in (("dravfeed DataFrame rows/s", fast, 3e6),
                                 ("dravfeed mixed DataFrame rows/s", rate[mixed_name], 2e6),
                                 ("dravfeed DataFrame / struct rows", fast / baseline, 5.0)):
        status = "met" if figure >= needed else "NOT MET"
        print("%-44s  %10.2f  %8.2f  %s" % (name, figure, needed, status))


if __name__ == "__main__":
    main()
