#!/usr/bin/python3
"""JetStream as the case log: publishing, replaying and seeking, against a
nats-server with JetStream started here on 127.0.0.1 (a port it picks, a
store in a temporary folder), with 80-byte records (ten F12.2 variables).

  publish   dravfeed --publish --generate N: cases per second, connect to exit
  replay    dravrun --output none fed over a socket by dravfeed --from the
            stream, start to exit; the baseline is the same dravrun fed by
            dravfeed --generate N, measured in the same run, and the ratio of
            the two is printed
  libnats   the same replay without dravstream: bench_nats_drain drains the
            stream with the consumer and client settings dravfeed --from
            uses and writes the payloads to a socket that a plain reader
            here empties, connect to end; the --from replay's cases per
            second and its feeder's CPU per million cases (user + system of
            the process, from wait4) are set against the drain's, in the
            same run; nats-server's CPU per run is printed beside them
  seek      a reader's "SEEK n" to a case in the last 1% of the stream: the
            time from sending it to the first whole case, for several n

  bench/jetstream.py [--bin BUILD/bin] [--cases N] [--runs R]

Prints the load average before and after, each run's figures, one line per
figure (the median) and its target, and exits 1 when a target is missed."""
import argparse
import os
import random
import re
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

VARIABLES = " ".join("v%d F12.2" % (j + 1) for j in range(10))
RECORD_BYTES = 80
WATCHDOG = 600


def nats_server_program():
    return "/usr/sbin/nats-server" if os.access("/usr/sbin/nats-server", os.X_OK) else "nats-server"


class Process:
    """A child whose standard error is read for a line matching a pattern."""

    def __init__(self, argv):
        self.proc = subprocess.Popen(argv, stderr=subprocess.PIPE, stdout=subprocess.DEVNULL)
        self.pending = b""

    def wait_for(self, pattern):
        """The match of the first line from now on that matches `pattern`."""
        deadline = time.monotonic() + 30
        fd = self.proc.stderr.fileno()
        while True:
            while b"\n" in self.pending:
                line, self.pending = self.pending.split(b"\n", 1)
                match = re.search(pattern, line.decode(errors="replace"))
                if match:
                    return match
            ready, _, _ = select.select([fd], [], [], 1)
            chunk = os.read(fd, 65536) if ready else b""
            if (ready and not chunk) or time.monotonic() > deadline:
                raise RuntimeError("%s did not say %r" % (self.proc.args[0], pattern))
            self.pending += chunk

    def stop(self, grace=0.0):
        """Ends the child if it has not ended within `grace` seconds;
        returns the CPU seconds (user + system) it used in all. Reaped with
        wait4 here, which reports them, so Popen must not reap it first."""
        if self.proc.returncode is not None:
            return 0.0
        pid, status, usage = self._reap(grace)
        if pid == 0:
            self.proc.terminate()
            pid, status, usage = self._reap(30)
        if pid == 0:
            self.proc.kill()
            pid, status, usage = os.wait4(self.proc.pid, 0)
        self.proc.returncode = os.waitstatus_to_exitcode(status)
        return usage.ru_utime + usage.ru_stime

    def _reap(self, seconds):
        deadline = time.monotonic() + seconds
        while True:
            pid, status, usage = os.wait4(self.proc.pid, os.WNOHANG)
            if pid != 0 or time.monotonic() >= deadline:
                return pid, status, usage
            time.sleep(0.005)

    def cpu_seconds(self):
        """The CPU seconds (user + system) the running child has used so far."""
        with open("/proc/%d/stat" % self.proc.pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def timed(argv):
    start = time.monotonic()
    done = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                          timeout=WATCHDOG)
    seconds = time.monotonic() - start
    if done.returncode != 0:
        raise RuntimeError("%s: exit %d, %s" % (" ".join(argv[:3]), done.returncode, done.stderr[-300:]))
    return seconds, done.stderr


def dravrun_over(bin_dir, feeder_argv, cases):
    """dravrun --output none fed by a dravfeed started with `feeder_argv`."""
    feeder = Process([os.path.join(bin_dir, "dravfeed"), "--socket", "0", "--linger", "0",
                      "--variables", VARIABLES] + feeder_argv)
    try:
        port = int(feeder.wait_for(r"listening on port (\d+)").group(1))
        command = "GET DATA /TYPE = STREAM /SOCKET = inet:127.0.0.1:%d /VARIABLES = %s ." % (
            port, VARIABLES)
        seconds, err = timed([os.path.join(bin_dir, "dravrun"), "--no-progress", "--output", "none",
                              command])
    finally:
        # With --linger 0 the feeder ends by itself once the pass is over.
        cpu = feeder.stop(grace=10)
    match = re.search(r"(\d+) cases", err)
    if not match or int(match.group(1)) != cases:
        raise RuntimeError("dravrun read %s cases, not %d: %s" % (
            match.group(1) if match else "no", cases, err[-300:]))
    return cases / seconds, cpu


def drain_over(bin_dir, server_url, stream, cases):
    """bench_nats_drain read by a plain reader that counts the bytes: cases
    per second from connecting to the end, and the drain's CPU seconds."""
    drain = Process([os.path.join(bin_dir, "bench_nats_drain"), server_url, stream])
    try:
        port = int(drain.wait_for(r"listening on port (\d+)").group(1))
        buffer = bytearray(1 << 20)
        received = 0
        start = time.monotonic()
        with socket.create_connection(("127.0.0.1", port)) as sock:
            sock.settimeout(WATCHDOG)
            while True:
                got = sock.recv_into(buffer)
                if got == 0:
                    break
                received += got
        seconds = time.monotonic() - start
    finally:
        cpu = drain.stop(grace=10)
    if drain.proc.returncode != 0 or received != cases * RECORD_BYTES:
        raise RuntimeError("bench_nats_drain sent %d bytes, not %d" % (received, cases * RECORD_BYTES))
    return cases / seconds, cpu


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def read_exactly(sock, count):
    data = b""
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            raise RuntimeError("the pass ended after %d bytes" % len(data))
        data += chunk
    return data


def seek_times(bin_dir, url, cases, tries):
    """Seconds from sending "SEEK n" to holding case n, for n in the last 1%."""
    feeder = Process([os.path.join(bin_dir, "dravfeed"), "--socket", "0", "--forever",
                      "--from", url, "--variables", VARIABLES])
    try:
        port = int(feeder.wait_for(r"listening on port (\d+)").group(1))
        # The first connection is the reader's first pass; it goes at once.
        first = socket.create_connection(("127.0.0.1", port))
        read_exactly(first, 4)
        first.close()
        rng = random.Random(12)
        figures = []
        for _ in range(tries):
            n = cases - 1 - rng.randrange(cases // 100)
            sock = socket.create_connection(("127.0.0.1", port))
            start = time.monotonic()
            sock.sendall(b"SEEK" + struct.pack("=q", n))
            record = read_exactly(sock, RECORD_BYTES)
            figures.append(time.monotonic() - start)
            sock.close()
            # Generated case n holds n in its first variable.
            if struct.unpack_from("=d", record)[0] != n:
                raise RuntimeError("SEEK %d delivered case %r" % (n, struct.unpack_from("=d", record)[0]))
        return figures
    finally:
        feeder.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--bin", default=os.path.join(os.path.dirname(here), "build", "bin"))
    parser.add_argument("--cases", type=int, default=10_000_000)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    for program in ("dravfeed", "dravrun", "bench_nats_drain"):
        if not os.access(os.path.join(args.bin, program), os.X_OK):
            print("bench/jetstream.py: no %s in %s; build it first (cmake --build BUILD --target %s)"
                  % (program, args.bin, program), file=sys.stderr)
            return 2
    store = tempfile.mkdtemp(prefix="drav-jetstream-bench-")
    server = Process([nats_server_program(), "-js", "-a", "127.0.0.1", "-p", "-1", "-sd", store])
    missed = []

    def report(name, value, unit, target, ok):
        print("%-58s %12.3f %-14s target %s%s" % (name, value, unit, target, "" if ok else "  MISSED"))
        if not ok:
            missed.append(name)

    print("load average before: %.2f %.2f %.2f" % os.getloadavg())
    try:
        port = int(server.wait_for(r"Listening for client connections on [^:]+:(\d+)").group(1))
        server.wait_for(r"Server is ready")
        n = args.cases
        url = "nats://127.0.0.1:%d/bench" % port
        publish = []
        for run in range(args.runs):
            stream_url = url if run == 0 else url + str(run)
            seconds, _ = timed([os.path.join(args.bin, "dravfeed"), "--publish", stream_url, "--create",
                                "--variables", VARIABLES, "--generate", str(n)])
            publish.append(n / seconds)
        report("publish from --generate (M cases/s)", median(publish) / 1e6, "", ">= 2",
               median(publish) >= 2e6)

        # Alternate the three, so a change in the machine's load meets all alike.
        replays, generateds, drains = [], [], []
        feeder_cpu, drain_cpu, server_cpu = [], [], {"--from": [], "drain": []}

        def on_server(name, action):
            before = server.cpu_seconds()
            result = action()
            server_cpu[name].append(server.cpu_seconds() - before)
            return result

        # One pass first, unmeasured: the first reader after publishing
        # would pay alone for the server loading the stream's blocks.
        drain_over(args.bin, "nats://127.0.0.1:%d" % port, "bench", n)
        for _ in range(args.runs):
            rate, cpu = on_server("--from", lambda: dravrun_over(args.bin, ["--from", url], n))
            replays.append(rate)
            feeder_cpu.append(cpu)
            generateds.append(dravrun_over(args.bin, ["--generate", str(n)], n)[0])
            rate, cpu = on_server("drain", lambda: drain_over(args.bin, "nats://127.0.0.1:%d" % port,
                                                              "bench", n))
            drains.append(rate)
            drain_cpu.append(cpu)
        print("runs, M cases/s: publish %s; --from %s; --generate %s; libnats drain %s" % tuple(
            " ".join("%.2f" % (x / 1e6) for x in figures)
            for figures in (publish, replays, generateds, drains)))
        per_million = 1e6 / n
        print("runs, CPU s per M cases: dravfeed --from %s; drain %s; nats-server for --from %s, "
              "for the drain %s" % tuple(" ".join("%.3f" % (x * per_million) for x in figures) for figures in (
                  feeder_cpu, drain_cpu, server_cpu["--from"], server_cpu["drain"])))
        replay, generated, drained = median(replays), median(generateds), median(drains)
        report("dravrun --output none fed by --generate (M cases/s)", generated / 1e6, "", "baseline", True)
        report("dravrun --output none fed by --from (M cases/s)", replay / 1e6, "", ">= 5", replay >= 5e6)
        report("  ratio --from / --generate", replay / generated, "", ">= 0.5", replay / generated >= 0.5)
        report("libnats drain to a plain reader (M cases/s)", drained / 1e6, "", "baseline", True)
        # Each run's replay and drain are neighbours in time: their ratio,
        # run by run, cancels the load that both met; its median is the figure.
        speed = [r / d for r, d in zip(replays, drains)]
        cost = [f / d for f, d in zip(feeder_cpu, drain_cpu)]
        print("runs, ratios to the drain: speed %s; CPU %s" % tuple(
            " ".join("%.2f" % x for x in figures) for figures in (speed, cost)))
        report("  ratio --from / libnats drain, median of runs", median(speed), "", ">= 0.8",
               median(speed) >= 0.8)
        report("dravfeed --from CPU per M cases (s)", median(feeder_cpu) * per_million, "", "", True)
        report("libnats drain CPU per M cases (s)", median(drain_cpu) * per_million, "", "baseline", True)
        report("  ratio dravfeed --from / libnats drain, median of runs", median(cost), "", "<= 1.25",
               median(cost) <= 1.25)

        seeks = seek_times(args.bin, url, n, 9)
        report("seek into the last 1%%: first case, median of %d (ms)" % len(seeks),
               median(seeks) * 1e3, "", "<= 20", median(seeks) <= 0.020)
        report("  slowest (ms)", max(seeks) * 1e3, "", "", True)
        print("load average after: %.2f %.2f %.2f" % os.getloadavg())
    finally:
        server.stop()
        shutil.rmtree(store, ignore_errors=True)
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
