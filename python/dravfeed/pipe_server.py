"""Serving a stream through named pipes, with the rewind pipe as a gate.

The reader opens the data pipe's path again after every "RWND" or "SEEK"
and must never get the pipe it was reading. The rewind pipe's read end is
a gate (docs/PROTOCOL.md, "Writing a pipe feeder"): while nobody reads the
rewind pipe, no reader can deliver a message. So the feeder opens a data
pipe's write end only while the gate is closed, and renames a fresh FIFO
over the path before it opens the gate again; by the time a reader can say
"SEEK", the path names a pipe it has never opened. Timing never decides
what the reader gets.
"""
import errno
import fcntl
import itertools
import os
import select
import stat
import struct
import termios
import time

from . import wire
from .records import Cases
from .stats import ServeStats
from .variables import as_variables

_BATCH_BYTES = 256 * 1024
_MAX_TRY_PAUSE = 0.02  # how often a reader blocked in its open is looked for, at most
_counter = itertools.count()


def _refuse_non_fifo(path):
    try:
        mode = os.stat(path).st_mode
    except FileNotFoundError:
        return
    if not stat.S_ISFIFO(mode):
        raise FileExistsError(errno.EEXIST, "exists and is not a named pipe; remove it or "
                              "choose another path", path)


def _remove_fifo(path):
    """Removes a FIFO at `path`; the reader may have removed the data pipe already."""
    try:
        if stat.S_ISFIFO(os.lstat(path).st_mode):
            os.remove(path)
    except FileNotFoundError:
        pass


def _place_fresh_fifo(path):
    """A new, empty FIFO at `path`, made beside it and renamed into place."""
    folder, base = os.path.split(path)
    temp = os.path.join(folder, ".%s.dravfeed.%d.%d" % (base, os.getpid(), next(_counter)))
    os.mkfifo(temp, 0o600)
    os.rename(temp, path)


def _events(fd):
    poller = select.poll()
    poller.register(fd, select.POLLIN)
    found = poller.poll(0)
    return found[0][1] if found else 0


def _unread_bytes(fd):
    return struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0" * 4))[0]


class PipeFeeder:
    """Creates the FIFOs at construction; `serve()` runs until the reader is done."""

    def __init__(self, rows, variables, path, rewind_path=None, linger=2.0):
        if rewind_path is not None and os.path.abspath(path) == os.path.abspath(rewind_path):
            raise ValueError("the data and rewind pipes need two paths")
        self.cases = Cases(rows, variables)
        self.data_path, self.rewind_path, self.linger = path, rewind_path, linger
        for each in (path, rewind_path):
            if each is not None:
                _refuse_non_fifo(each)
        self.gate = self.out = None
        if rewind_path is not None:
            _place_fresh_fifo(rewind_path)
        _place_fresh_fifo(path)
        self.open_gate()
        self.control = wire.ControlReader()
        self.stats = ServeStats()
        self.pending = b""  # what the running pass has still to write, from next_case on
        self.next_case = self.first = 0  # first: the case the next pass starts at
        self.coming = False  # a message came: the reader opens the data pipe next
        self.checked = False  # a writer came and went unheard: a rewind check
        self.talked = False  # a reader has opened the data pipe once
        self.idle_since = None  # when the last pass ended

    # ---- The gate ------------------------------------------------------------------
    def open_gate(self):
        if self.rewind_path is not None:
            self.gate = os.open(self.rewind_path, os.O_RDONLY | os.O_NONBLOCK)

    def close_gate(self):
        if self.gate is not None:
            self.read_gate_bytes()  # bytes left in a pipe nobody reads are lost
            os.close(self.gate)
            self.gate = None

    def read_gate_bytes(self):
        try:
            while True:
                chunk = os.read(self.gate, 256)
                if not chunk:
                    return
                self.control.feed(chunk)
        except BlockingIOError:  # a writer is there but has sent nothing more
            pass

    def writer_at_gate(self):
        # Our own writer coming and going makes the read end report a hang-up
        # exactly when no other writer (a reader's message) holds the pipe.
        os.close(os.open(self.rewind_path, os.O_WRONLY | os.O_NONBLOCK))
        found = _events(self.gate)
        return bool(found & select.POLLIN) or not found & select.POLLHUP

    def read_gate(self):
        if self.gate is None:
            return
        found = _events(self.gate)
        if found & (select.POLLIN | select.POLLHUP):
            self.read_gate_bytes()
        obeyed = False
        for word, case in self.control.messages():
            self.obey(case if word == wire.SEEK else 0, word)
            obeyed = True
        if found & select.POLLHUP:  # the writer has gone
            self.control.pending = b""  # what it left unfinished is no message
            if not obeyed and self.out is None:
                # A rewind check (the reader opens the data pipe next), or the
                # late close of a message already obeyed: try, but carefully.
                self.checked = True
            old = self.gate  # a new read end first: the gate never closes here
            self.open_gate()
            os.close(old)

    def obey(self, first, word):
        if self.out is not None:
            os.close(self.out)  # the reader has left this pipe
            self.out = None
        if word == wire.SEEK:
            self.stats.seeks += 1
        else:
            self.stats.rewinds += 1
        self.first = first
        self.coming, self.idle_since = True, time.monotonic()

    # ---- A pass --------------------------------------------------------------------
    def try_open(self):
        """Closes the gate and opens the data pipe if a reader waits in its open."""
        self.close_gate()
        try:
            self.out = os.open(self.data_path, os.O_WRONLY | os.O_NONBLOCK)
            if self.rewind_path is not None:
                _place_fresh_fifo(self.data_path)  # still behind the closed gate
            self.next_case, self.pending = max(self.first, 0), b""
            self.talked, self.coming, self.checked, self.idle_since = True, False, False, None
            self.stats.passes += 1
        except OSError as error:
            if error.errno != errno.ENXIO:  # ENXIO: no reader there yet
                raise
        self.open_gate()

    def wait(self, writable, seconds):
        select.select([self.gate] if self.gate is not None else [], writable, [], seconds)

    def send_some(self):
        if not self.pending:
            self.pending = self.next_records()
        if not self.pending:
            # The pass ends once the reader has taken every byte, or has gone.
            if _unread_bytes(self.out) == 0 or _events(self.out) & select.POLLERR:
                self.end_pass()
            else:
                self.wait([], 0.002)
            return
        try:
            self.pending = self.pending[os.write(self.out, self.pending):]
        except BlockingIOError:
            self.wait([self.out], 0.1)
        except BrokenPipeError:  # the reader closed the pipe: the pass is over
            self.end_pass()

    def next_records(self):
        if not self.cases.reach(self.next_case):
            return b""
        records = self.cases.records(self.next_case, _BATCH_BYTES)
        self.next_case += len(records) // self.cases.record_bytes
        return records

    def end_pass(self):
        os.close(self.out)
        self.out, self.pending, self.first, self.idle_since = None, b"", 0, time.monotonic()

    # ---- Serving -------------------------------------------------------------------
    def done(self):
        if self.idle_since is None:
            return False
        # Without a rewind pipe the reader cannot come back: one pass is all.
        return self.rewind_path is None or time.monotonic() - self.idle_since >= self.linger

    def serve(self):
        pause = 0.001
        while not self.done():
            self.read_gate()
            if self.out is not None:
                self.send_some()
                continue
            # Before the first pass a reader without REWINDABLE gives no sign,
            # so look for it now and then too. Only after a message is it sure
            # that no other message is on its way: otherwise never close the
            # gate under a writer.
            if self.coming or (not self.talked and self.gate is None) or (
                    (self.checked or not self.talked) and self.gate is not None
                    and not self.writer_at_gate()):
                self.try_open()
                if self.out is not None:
                    pause = 0.001
                    continue
            self.wait([], pause)
            pause = min(pause * 2, _MAX_TRY_PAUSE)
        self.stats.cases = self.cases.count
        return self.stats

    def close(self):
        for fd in (self.out, self.gate):
            if fd is not None:
                os.close(fd)
        self.out = self.gate = None
        for path in (self.data_path, self.rewind_path):
            if path is not None:
                _remove_fifo(path)


def serve_pipe(rows, variables, path, rewind_path=None, linger=2.0, ready=None):
    """Serves `rows` through a named pipe at `path` until the reader is done; returns ServeStats.

    Both FIFOs are created here (and removed at the end); `ready(path)` is
    called once they are in place. With `rewind_path` the reader may rewind
    and seek, and is done when it has not come back for `linger` seconds
    after a pass; without it, after its one pass.
    """
    feeder = PipeFeeder(rows, as_variables(variables), path, rewind_path, linger)
    try:
        if ready is not None:
            ready(path)
        return feeder.serve()
    finally:
        feeder.close()
