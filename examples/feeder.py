#!/usr/bin/env python3
"""A stream feeder in plain Python (standard library only), serving over TCP.

    python3 examples/feeder.py [PORT]      # no PORT or 0: any free port

It prints the port it listens on, then serves 100 cases to this command:

    GET DATA /TYPE = STREAM /SOCKET = PORT /REWINDABLE /SEEKABLE
      /VARIABLES = n F8 label A8 value F8.2 .

Each case is one record of 8-byte slots in the variables' order: a number is
a double in this machine's byte order, an A8 string is 8 bytes padded with
blanks. It serves readers one after another, each for any number of passes,
until stopped with Ctrl-C. A connection that starts with "RWND" or "SEEK" is
a reader coming back for another pass; one that stays silent is a new reader,
which waits for the byte-order probe before anything else.
"""
import select
import socket
import struct
import sys

CASES = [struct.pack("=d8sd", n, b"case%04d" % n, n / 4) for n in range(100)]
NEW_READER_AFTER = 1.0  # seconds of silence that mark a new reader (as dravfeed)


def read_exact(conn, size):
    data = b""
    while len(data) < size:
        try:
            chunk = conn.recv(size - len(data))
        except OSError:  # the reader dropped the connection
            break
        if not chunk:
            break
        data += chunk
    return data


def first_case(conn):
    """Where a connection's pass starts; None when it is no reader of ours."""
    readable, _, _ = select.select([conn], [], [], NEW_READER_AFTER)
    if not readable:  # silent: a new reader, waiting for the probe
        conn.sendall(struct.pack("=i", 1))  # byte-order probe: 1 in our byte order
        return 0
    word = read_exact(conn, 4)  # a returning reader: "RWND", or "SEEK" and a case number
    if word == b"RWND":
        return 0
    if word == b"SEEK":
        number = read_exact(conn, 8)
        return struct.unpack("=q", number)[0] if len(number) == 8 else None
    return None  # closed at once, or an unknown word


def send_from(conn, first):
    """Sends the cases from `first` on, stopping early if the reader says STOP."""
    data = memoryview(b"".join(CASES[max(first, 0):]))
    try:
        while data:
            readable, _, _ = select.select([conn], [conn], [])
            if readable:  # "STOP", or the reader has gone
                break
            data = data[conn.send(data):]
        conn.shutdown(socket.SHUT_WR)  # the end of the data
    except OSError:
        pass


port = int(sys.argv[1]) if len(sys.argv) > 1 else 0
with socket.create_server(("127.0.0.1", port)) as server:
    print(server.getsockname()[1], flush=True)
    while True:
        conn, _ = server.accept()
        with conn:
            try:
                first = first_case(conn)
            except OSError:
                continue
            if first is not None:
                send_from(conn, first)
                read_exact(conn, 4)  # "STOP" ends the pass (nothing: the reader has gone)
