"""The test programs: building them, timing them on the unmutated code, and
running them with a deadline.

Every program runs in its own session (process group) with its output in a
file, so that a hung program and whatever it started (feeders, a NATS
server) can all be killed, and a child that keeps a pipe open cannot hold
the run.
"""

import os
import re
import signal
import subprocess
import tempfile
import threading
import time
from dataclasses import dataclass, field

# Long stress loops belong to the soak runs, not to a per-mutant run.
EXCLUDED_TESTS = ("*PipeRaceStress*", "PipeStressTest*")
# What the test programs start or load at run time besides themselves.
RUNTIME_TARGETS = ("dravstream", "dravrun", "dravfeed")
PROGRAM_TARGET = re.compile(r"^\.\.\. (test_\w+|fuzz_replay_\w+)\b", re.M)
FAILED_TEST = re.compile(r"^\[  FAILED  \] ([\w/.]+)(?:,| \(|$)", re.M)


@dataclass
class Program:
    name: str
    extra_args: list
    seconds: float = 0.0                         # slowest clean baseline run
    failing_tests: list = field(default_factory=list)
    usable: bool = True                          # clean on the unmutated code

    def timeout(self):
        return 3 * self.seconds + 10

    def argv(self, bin_dir, fail_fast):
        args = [os.path.join(bin_dir, self.name)] + self.extra_args
        if self.name.startswith("test_"):
            excluded = ":".join(EXCLUDED_TESTS + tuple(self.failing_tests))
            args.append("--gtest_filter=-" + excluded)
            if fail_fast:
                args.append("--gtest_fail_fast")
        return args


@dataclass
class Outcome:
    status: str      # "pass", "fail" or "timeout"
    seconds: float
    output: str


def configure(source, build, extra_flags, log):
    if os.path.exists(os.path.join(build, "CMakeCache.txt")):
        return
    command = ["cmake", "-S", source, "-B", build,
               "-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON"] + extra_flags
    if subprocess.run(command, stdout=log, stderr=subprocess.STDOUT).returncode != 0:
        raise SystemExit(f"mutate: configuring {build} failed, see {log.name}")


def discover(source, build):
    """The test programs the build defines: one per test folder, and the
    replay of each fuzz corpus."""
    listing = subprocess.run(["cmake", "--build", build, "--target", "help"],
                             capture_output=True, text=True, check=True).stdout
    programs = []
    for name in sorted(set(PROGRAM_TARGET.findall(listing))):
        extra = []
        if name.startswith("fuzz_replay_"):
            extra = [os.path.join(source, "fuzz", "corpus", name[len("fuzz_replay_"):])]
        programs.append(Program(name, extra))
    return programs


def build(build_dir, targets, jobs, log, timeout=1800):
    """True when the targets built."""
    command = ["cmake", "--build", build_dir, "-j", str(jobs), "--target", *targets]
    try:
        result = subprocess.run(command, stdout=log, stderr=subprocess.STDOUT, timeout=timeout)
    except subprocess.TimeoutExpired:
        return False
    return result.returncode == 0


def run(program, build_dir, timeout, fail_fast=True, stop=None):
    """Runs the program to its end, its deadline, or until `stop` (an
    Event) is set by a run beside it; the status is then "stopped"."""
    argv = program.argv(os.path.join(build_dir, "bin"), fail_fast)
    with tempfile.TemporaryDirectory(prefix="mutate-") as scratch, \
            open(os.path.join(scratch, "output"), "w+") as output:
        # Tests that run a child as another user make their folders open to
        # it; the folder they are made in must let that user through too.
        os.chmod(scratch, 0o711)
        env = dict(os.environ, TMPDIR=scratch, GTEST_COLOR="no")
        started = time.monotonic()
        child = subprocess.Popen(argv, cwd=os.path.join(build_dir, "tests"), env=env,
                                 stdin=subprocess.DEVNULL, stdout=output,
                                 stderr=subprocess.STDOUT, start_new_session=True)
        try:
            status = _wait(child, started + timeout, stop)
        finally:
            _kill_group(child)
        seconds = time.monotonic() - started
        output.seek(0)
        return Outcome(status, seconds, output.read())


def _wait(child, deadline, stop):
    while True:
        try:
            return "pass" if child.wait(0.2) == 0 else "fail"
        except subprocess.TimeoutExpired:
            if time.monotonic() > deadline:
                return "timeout"
            if stop is not None and stop.is_set():
                return "stopped"


def run_until_failure(programs, build_dir, lanes):
    """Runs the programs, fastest first, `lanes` at a time, until one fails
    or hangs. Returns (the programs started, the first that did not pass
    with its outcome, or None)."""
    stop = threading.Event()
    started, failures = [], []
    lock = threading.Lock()
    queue = list(programs)

    def lane():
        while not stop.is_set():
            with lock:
                if not queue:
                    return
                program = queue.pop(0)
                started.append(program.name)
            outcome = run(program, build_dir, program.timeout(), stop=stop)
            if outcome.status in ("fail", "timeout"):
                with lock:
                    failures.append((program, outcome))
                stop.set()

    threads = [threading.Thread(target=lane) for _ in range(max(1, lanes))]
    for thread in threads:
        thread.start()
    try:
        for thread in threads:
            thread.join()
    finally:
        stop.set()   # on Ctrl-C too: the lanes kill what they run
        for thread in threads:
            thread.join()
    return started, (failures[0] if failures else None)


def _kill_group(child):
    try:
        os.killpg(child.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    child.wait()


def baseline(program, build_dir, say):
    """Runs the program twice on the unmutated code. Tests that fail there
    are left out (and reported); a program still not clean twice after that,
    or one that hangs, is not usable: its results would say nothing."""
    outcomes = [run(program, build_dir, 600, fail_fast=False) for _ in range(2)]
    failed = sorted({name for o in outcomes for name in FAILED_TEST.findall(o.output)})
    if failed and all(o.status != "timeout" for o in outcomes):
        program.failing_tests = failed
        say(f"  {program.name}: failing on the unmutated code, left out: {' '.join(failed)}")
        outcomes = [run(program, build_dir, 600, fail_fast=False) for _ in range(2)]
    program.usable = all(o.status == "pass" for o in outcomes)
    program.seconds = max(o.seconds for o in outcomes)
    if not program.usable:
        say(f"  {program.name}: not clean on the unmutated code "
            f"({', '.join(o.status for o in outcomes)}): its verdicts count as unknown")
