"""Serving a stream over TCP: a probe and the records on the first connection,
"RWND" or "SEEK" n opening each later one, "STOP" ending a pass.

One thread, non-blocking sockets and a poll loop, so that several passes
(and a reader that drops a connection in the middle of one) never wedge
the server. The reader is done when a pass has ended, it holds no
connection and has not come back for `linger` seconds.
"""
import select
import socket
import struct
import time

from . import wire
from .records import Cases
from .stats import ServeStats
from .variables import as_variables

_BATCH_BYTES = 1 << 20
_POLL_SECONDS = 0.1
_NEW_READER_AFTER = 1.0  # a connection silent this long is a new reader, not a pass


class _Connection:
    def __init__(self, sock):
        self.sock, self.control = sock, wire.ControlReader()
        self.accepted = time.monotonic()
        self.awaiting = True  # no pass yet: a control message comes first
        self.sending = False
        self.next_case, self.pending, self.closed = 0, b"", False


class SocketFeeder:
    """Listens at construction (so `port` is known); `serve()` runs until the reader is done."""

    def __init__(self, rows, variables, port=0, byte_order=wire.NATIVE, rewind=True,
                 linger=2.0, host="127.0.0.1"):
        self.probe = wire.probe(byte_order)
        self.cases = Cases(rows, variables, byte_order)
        self.rewind, self.linger = rewind, linger
        self.listener = socket.create_server((host, port))
        self.listener.setblocking(False)
        self.port = self.listener.getsockname()[1]
        self.connections, self.stats = [], ServeStats()
        self.idle_since = None  # when the last connection went, after a pass

    def abort(self):
        """Makes close() reset every pass not yet ended, so its reader learns it broke off."""
        for connection in self.connections:
            if connection.sending or connection.awaiting:
                connection.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))

    def close(self):
        for connection in self.connections:
            connection.sock.close()
        self.listener.close()

    def done(self):
        if self.connections or self.idle_since is None:
            return False
        return not self.rewind or time.monotonic() - self.idle_since >= self.linger

    def serve(self):
        while not self.done():
            poller = select.poll()
            poller.register(self.listener, select.POLLIN)
            for connection in self.connections:
                writable = select.POLLOUT if connection.sending else 0
                poller.register(connection.sock, select.POLLIN | writable)
            ready = dict(poller.poll(_POLL_SECONDS * 1000))
            if ready.get(self.listener.fileno()):
                self.accept_all()
            for connection in list(self.connections):
                self.service(connection, ready.get(connection.sock.fileno(), 0))
            self.forget_closed()
        self.stats.cases = self.cases.count
        return self.stats

    def accept_all(self):
        while True:
            try:
                sock, _ = self.listener.accept()
            except (BlockingIOError, ConnectionAbortedError):
                return
            sock.setblocking(False)
            connection = _Connection(sock)
            self.connections.append(connection)
            if self.stats.passes == 0:  # the reader's first connection: no message comes
                self.start(connection, 0, self.probe)

    def service(self, connection, events):
        if events & (select.POLLIN | select.POLLHUP | select.POLLERR):
            self.read_control(connection)
        if connection.closed:
            return
        if connection.sending and events & select.POLLOUT:
            self.send_some(connection)
        elif (connection.awaiting and not connection.control.pending
              and time.monotonic() - connection.accepted >= _NEW_READER_AFTER):
            self.start(connection, 0, self.probe)  # a new reader: it says nothing first

    def read_control(self, connection):
        try:
            data = connection.sock.recv(256)
        except BlockingIOError:
            return
        except OSError:
            data = b""
        if not data:
            return self.drop(connection)
        connection.control.feed(data)
        for word, case in connection.control.messages():
            if connection.awaiting and word == wire.REWIND and self.rewind:
                self.stats.rewinds += 1
                self.start(connection, 0, b"")
            elif connection.awaiting and word == wire.SEEK and self.rewind:
                self.stats.seeks += 1
                self.start(connection, case, b"")
            elif not connection.awaiting and word == wire.STOP:
                self.stats.stops += 1
                if connection.sending:
                    self.finish(connection)
            elif connection.awaiting:  # an unknown word, or a rewind we do not serve
                return self.drop(connection)

    def start(self, connection, first, prefix):
        connection.awaiting, connection.sending = False, True
        connection.next_case, connection.pending = first, prefix
        self.stats.passes += 1
        self.send_some(connection)

    def send_some(self, connection):
        """Sends about one batch, so a reader that keeps up cannot keep us deaf to others."""
        budget = _BATCH_BYTES
        while budget > 0:
            if not connection.pending:
                connection.pending = self.next_records(connection)
                if not connection.pending:
                    return self.finish(connection)
            try:
                sent = connection.sock.send(connection.pending, socket.MSG_NOSIGNAL)
            except BlockingIOError:
                return
            except OSError:  # the reader went away in the middle of the pass
                return self.drop(connection)
            connection.pending = connection.pending[sent:]
            budget -= sent

    def next_records(self, connection):
        """Records from the connection's next case; a live source is asked for rows up to it."""
        if not self.cases.reach(connection.next_case):
            return b""
        records = memoryview(self.cases.records(connection.next_case, _BATCH_BYTES))
        connection.next_case += len(records) // self.cases.record_bytes
        return records  # a view: sent in pieces without copying the rest each time

    def finish(self, connection):
        # Shutting only our side lets the reader see the end while its "STOP"
        # (or its closing) can still reach us.
        connection.sending = False
        try:
            connection.sock.shutdown(socket.SHUT_WR)
        except OSError:
            self.drop(connection)

    def drop(self, connection):
        connection.sock.close()
        connection.closed, connection.sending = True, False

    def forget_closed(self):
        kept = [c for c in self.connections if not c.closed]
        if len(kept) < len(self.connections) and not kept and self.stats.passes:
            self.idle_since = time.monotonic()
        self.connections = kept


def serve_socket(rows, variables, port=0, byte_order=wire.NATIVE, rewind=True, linger=2.0,
                 host="127.0.0.1", ready=None):
    """Serves `rows` to a reader over TCP until it is done; returns ServeStats.

    `port` 0 takes any free port; `ready(port)` is called once the server
    listens, before anything is served. `byte_order` "swapped" acts as a
    feeder of the other byte order. Without `rewind`, one pass is served.
    """
    feeder = SocketFeeder(rows, as_variables(variables), port, byte_order, rewind, linger, host)
    try:
        if ready is not None:
            ready(feeder.port)
        return feeder.serve()
    except BaseException:  # the rows failed, or an interrupt: no pass may look whole
        feeder.abort()
        raise
    finally:
        feeder.close()
