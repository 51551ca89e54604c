#!/usr/bin/env python3
"""Live feeding: latency, throughput and memory of dravfeed on a live input.

  bench/live.py --bin build-bench/bin [--cases 1000000] [--old-dravfeed PATH]

Prints three groups of figures, each with its target:
  latency     a CSV line written to dravfeed's standard input until dravrun
              prints its case (median and 90th percentile of 300 lines, one
              at a time, over a socket and over a pipe);
  throughput  cases a second from dravfeed's start to the end of dravrun's
              pass: the CSV from a pipe (live) against the same CSV read from
              a file (by --old-dravfeed, a dravfeed built before input was
              read live, when given; else by this dravfeed with --csv FILE);
  memory      dravfeed's peak resident size (GNU time) serving 1,000,000 and
              10,000,000 live cases with --memory 4 (the spill file in use),
              with a rewind and a seek to the middle after the end, whose
              bytes are checked against the first pass.
Standard library only; uses /usr/bin/time and seq/awk for the input.
"""
import argparse
import hashlib
import os
import re
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

VARIABLES = "x F8 s A3"
RECORD = 16


def feeder(bin_dir, args, stdin=None, binary=None, timed=False):
    argv = [binary or os.path.join(bin_dir, "dravfeed"), "--variables", VARIABLES, "--linger", "0.2"] + args
    if timed:
        argv = ["/usr/bin/time", "-f", "peak-rss-kib %M"] + argv
    return subprocess.Popen(argv, stdin=stdin, stderr=subprocess.PIPE, text=True, bufsize=1)


def wait_for(process, pattern):
    for line in process.stderr:
        found = re.search(pattern, line)
        if found:
            return found
    raise RuntimeError("dravfeed ended without " + pattern)


def command(source):
    """`source` names the stream and how it rewinds."""
    return "GET DATA /TYPE = STREAM %s /SEEKABLE /VARIABLES = %s ." % (source, VARIABLES)


def on_socket(port):
    return "/SOCKET = %s /REWINDABLE" % port


def latency(bin_dir, transport, work, lines=300):
    args = ["--csv", "-"]
    if transport == "socket":
        args += ["--socket", "0"]
    else:
        data = os.path.join(work, "latency.pipe")
        args += ["--pipe", data, "--rewind-pipe", data + ".rw"]
    feed = feeder(bin_dir, args, stdin=subprocess.PIPE)
    if transport == "socket":
        source = on_socket(wait_for(feed, r"listening on port (\d+)").group(1))
    else:
        wait_for(feed, r"serving")
        source = "/PIPE = '%s' /REWINDABLE = '%s'" % (data, data + ".rw")
    reader = subprocess.Popen([os.path.join(bin_dir, "dravrun"), "--no-progress", command(source)],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        return measure_rows(feed, reader, lines)
    finally:
        feed.stdin.close()
        reader.wait()
        feed.wait()


def measure_rows(feed, reader, lines):
    reader.stdout.readline()  # the header row
    samples = []
    for i in range(lines):
        feed.stdin.write("%d,c%d\n" % (i, i))
        feed.stdin.flush()
        start = time.perf_counter()
        row = reader.stdout.readline()
        samples.append((time.perf_counter() - start) * 1000)
        if not row.startswith(b"%d," % i):
            raise RuntimeError("unexpected row %r" % row)
        time.sleep(0.003)
    samples.sort()
    return statistics.median(samples), samples[int(len(samples) * 0.9)]


def make_csv(path, cases):
    with open(path, "w") as out:
        subprocess.run("seq 0 %d | awk '{print $1\",c\"$1}'" % (cases - 1), shell=True, stdout=out, check=True)


def throughput(bin_dir, csv_path, cases, live, binary=None):
    start = time.perf_counter()
    if live:
        cat = subprocess.Popen(["cat", csv_path], stdout=subprocess.PIPE)
        feed = feeder(bin_dir, ["--socket", "0", "--csv", "-"], stdin=cat.stdout, binary=binary)
        cat.stdout.close()
    else:
        feed = feeder(bin_dir, ["--socket", "0", "--csv", csv_path], binary=binary)
    port = wait_for(feed, r"listening on port (\d+)").group(1)
    subprocess.run([os.path.join(bin_dir, "dravrun"), "--no-progress", "--output", "none",
                    command(on_socket(port))], check=True, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    feed.wait()
    return cases / elapsed


def read_pass(port, message, mid_offset=None):
    """One pass over TCP; the SHA-256 of its records, and of those from
    `mid_offset` on."""
    conn = socket.create_connection(("127.0.0.1", int(port)))
    if message is None:
        got = b""
        while len(got) < 4:
            got += conn.recv(4 - len(got))
    else:
        conn.sendall(message)
    whole, tail = hashlib.sha256(), hashlib.sha256()
    buffer = bytearray(1 << 20)
    offset = 0
    first = b""
    while True:
        n = conn.recv_into(buffer)
        if n == 0:
            break
        chunk = memoryview(buffer)[:n]
        whole.update(chunk)
        if len(first) < RECORD:
            first += bytes(chunk[:RECORD - len(first)])
        if mid_offset is not None and offset + n > mid_offset:
            tail.update(chunk[max(0, mid_offset - offset):])
        offset += n
    conn.sendall(b"STOP")
    conn.close()
    return offset, whole.hexdigest(), tail.hexdigest(), first


def memory(bin_dir, cases):
    gen = subprocess.Popen("seq 0 %d | awk '{print $1\",c\"$1}'" % (cases - 1), shell=True,
                           stdout=subprocess.PIPE)
    feed = feeder(bin_dir, ["--socket", "0", "--csv", "-", "--memory", "4"], stdin=gen.stdout, timed=True)
    gen.stdout.close()
    port = wait_for(feed, r"listening on port (\d+)").group(1)
    middle = cases // 2
    size, whole, tail, first = read_pass(port, None, middle * RECORD)
    if size != cases * RECORD or struct.unpack("=d", first[:8])[0] != 0.0:
        raise RuntimeError("first pass: %d bytes" % size)
    rewound = read_pass(port, b"RWND")
    sought = read_pass(port, b"SEEK" + struct.pack("=q", middle))
    exact = rewound[1] == whole and sought[1] == tail and sought[0] == (cases - middle) * RECORD
    rss = int(wait_for(feed, r"peak-rss-kib (\d+)").group(1))
    feed.wait()
    return rss, exact


def main():
    sys.stdout.reconfigure(line_buffering=True)
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--cases", type=int, default=1000000)
    parser.add_argument("--old-dravfeed")
    options = parser.parse_args()
    work = tempfile.mkdtemp(prefix="dravstream-live-bench.")
    print("machine: %d CPUs, load %s" % (os.cpu_count(), open("/proc/loadavg").read().split()[0]))

    for transport in ("socket", "pipe"):
        median, p90 = latency(options.bin, transport, work)
        print("latency %-6s  median %6.2f ms  p90 %6.2f ms   target: median <= 10 ms  %s"
              % (transport, median, p90, "met" if median <= 10 else "MISSED"))

    csv_path = os.path.join(work, "cases.csv")
    make_csv(csv_path, options.cases)
    baseline_name = "old dravfeed, file" if options.old_dravfeed else "this dravfeed, --csv FILE"
    file_rates, live_rates = [], []
    for _ in range(3):  # in turns, so a slow spell of a shared machine hits both
        file_rates.append(throughput(options.bin, csv_path, options.cases, False, options.old_dravfeed))
        live_rates.append(throughput(options.bin, csv_path, options.cases, True))
    file_rate, live_rate = statistics.median(file_rates), statistics.median(live_rates)
    print("throughput  %s: %.0f cases/s; live from a pipe: %.0f cases/s; ratio %.2f"
          "   target: >= 0.80  %s" % (baseline_name, file_rate, live_rate, live_rate / file_rate,
                                      "met" if live_rate / file_rate >= 0.8 else "MISSED"))

    small, small_exact = memory(options.bin, 1000000)
    large, large_exact = memory(options.bin, 10000000)
    growth = (large - small) / 1024
    print("memory      peak RSS 1M live cases %.1f MiB, 10M %.1f MiB, growth %.2f MiB; rewind and seek "
          "exact: %s   target: growth < 2 MiB  %s"
          % (small / 1024, large / 1024, growth, small_exact and large_exact,
             "met" if growth < 2 and small_exact and large_exact else "MISSED"))
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    sys.exit(main())
