#!/usr/bin/env python3
"""A named-pipe feeder with rewind and seek, in plain Python (standard library).

    python3 examples/pipe_feeder.py DATA_PIPE REWIND_PIPE

It creates both pipes, prints "ready", and serves 100 cases to this command:

    GET DATA /TYPE = STREAM /PIPE = 'DATA_PIPE' /REWINDABLE = 'REWIND_PIPE'
      /SEEKABLE /VARIABLES = n F8 label A8 value F8.2 .

It ends when the reader has not come back for two seconds after a pass.

The reader opens the data pipe anew after every "RWND" or "SEEK" and must
never get the pipe it was reading. So this feeder uses the rewind pipe's read
end as a gate (docs/PROTOCOL.md, "Writing a pipe feeder"): it opens a data
pipe's write end only while the gate is closed, and renames a fresh pipe over
the path before it opens the gate again.
"""
import errno
import fcntl
import os
import select
import struct
import sys
import termios
import time

CASES = [struct.pack("=d8sd", n, b"case%04d" % n, n / 4) for n in range(100)]
LINGER = 2.0


def place_fresh_fifo(path):
    temp = "%s.%d.new" % (path, os.getpid())
    os.mkfifo(temp, 0o600)
    os.rename(temp, path)


def events(fd):
    poller = select.poll()
    poller.register(fd, select.POLLIN)
    found = poller.poll(0)
    return found[0][1] if found else 0


class PipeFeeder:
    def __init__(self, data_path, rewind_path):
        self.data_path, self.rewind_path = data_path, rewind_path
        place_fresh_fifo(rewind_path)
        place_fresh_fifo(data_path)
        self.gate = None
        self.open_gate()
        self.pending = b""  # control bytes not yet a whole message
        self.out = None  # the data pipe of the running pass
        self.data = b""  # what this pass still has to write
        self.first = 0  # the case the next pass starts at
        self.coming = False  # a message came: the reader opens the data pipe next
        self.checked = False  # a writer came and went unheard: a rewind check
        self.talked = False  # a reader has opened the data pipe once
        self.idle_since = None  # when the last pass ended

    def open_gate(self):
        self.gate = os.open(self.rewind_path, os.O_RDONLY | os.O_NONBLOCK)

    def close_gate(self):
        self.read_gate_bytes()  # bytes left in a pipe nobody reads are lost
        os.close(self.gate)

    def read_gate_bytes(self):
        try:
            while True:
                chunk = os.read(self.gate, 256)
                if not chunk:
                    return
                self.pending += chunk
        except BlockingIOError:  # a writer is there but has sent nothing more
            pass

    def writer_at_gate(self):
        # Our own writer coming and going makes the read end report a hang-up
        # exactly when no other writer (a reader's message) holds the pipe.
        os.close(os.open(self.rewind_path, os.O_WRONLY | os.O_NONBLOCK))
        found = events(self.gate)
        return bool(found & select.POLLIN) or not found & select.POLLHUP

    def read_gate(self):
        found = events(self.gate)
        if found & (select.POLLIN | select.POLLHUP):
            self.read_gate_bytes()
        obeyed = False
        while len(self.pending) >= 4:
            word = self.pending[:4]
            if word == b"SEEK":
                if len(self.pending) < 12:
                    break
                self.obey(struct.unpack("=q", self.pending[4:12])[0])
                self.pending = self.pending[12:]
            else:
                self.obey(0)  # "RWND"
                self.pending = self.pending[4:]
            obeyed = True
        if found & select.POLLHUP:  # the writer has gone
            self.pending = b""  # what it left unfinished is no message
            if not obeyed and self.out is None:
                # A rewind check (the reader opens the data pipe next), or the
                # late close of a message already obeyed: try, but carefully.
                self.checked = True
            old = self.gate  # a new read end first: the gate never closes here
            self.open_gate()
            os.close(old)

    def obey(self, first):
        if self.out is not None:
            os.close(self.out)  # the reader has left this pipe
            self.out = None
        self.first = first
        self.coming, self.idle_since = True, time.monotonic()

    def try_open(self):
        """Closes the gate, opens the data pipe if a reader waits in its open."""
        self.close_gate()
        try:
            self.out = os.open(self.data_path, os.O_WRONLY | os.O_NONBLOCK)
            place_fresh_fifo(self.data_path)  # still behind the closed gate
            self.data = b"".join(CASES[self.first:]) if self.first >= 0 else b""
            self.talked, self.coming, self.checked, self.idle_since = True, False, False, None
        except OSError as error:
            if error.errno != errno.ENXIO:  # ENXIO: no reader there yet
                raise
        self.open_gate()

    def send_some(self):
        if not self.data:
            # The pass ends once the reader has taken every byte, or has gone.
            unread = struct.unpack("i", fcntl.ioctl(self.out, termios.FIONREAD, b"\0" * 4))[0]
            if unread == 0 or events(self.out) & select.POLLERR:
                self.end_pass()
            else:
                select.select([self.gate], [], [], 0.002)
            return
        try:
            self.data = self.data[os.write(self.out, self.data):]
        except BlockingIOError:
            select.select([self.gate], [self.out], [], 0.1)
        except BrokenPipeError:  # the reader closed the pipe: the pass is over
            self.end_pass()

    def end_pass(self):
        os.close(self.out)
        self.out, self.data, self.first, self.idle_since = None, b"", 0, time.monotonic()

    def serve(self):
        pause = 0.001
        while self.idle_since is None or time.monotonic() - self.idle_since < LINGER:
            self.read_gate()
            if self.out is not None:
                self.send_some()
                continue
            # Before the first pass a reader without REWINDABLE gives no sign,
            # so look for it now and then too. Only after a message is it sure
            # that no other message is on its way: otherwise never close the
            # gate under a writer.
            if self.coming or ((self.checked or not self.talked) and not self.writer_at_gate()):
                self.try_open()
                if self.out is not None:
                    pause = 0.001
                    continue
            select.select([self.gate], [], [], pause)
            pause = min(pause * 2, 0.02)

    def close(self):
        for fd in (self.out, self.gate):
            if fd is not None:
                os.close(fd)
        for path in (self.data_path, self.rewind_path):
            os.remove(path)


def main():
    feeder = PipeFeeder(sys.argv[1], sys.argv[2])
    print("ready", flush=True)
    try:
        feeder.serve()
    finally:
        feeder.close()


if __name__ == "__main__":
    main()
