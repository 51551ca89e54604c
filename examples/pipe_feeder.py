#!/usr/bin/env python3
"""A named-pipe feeder with rewind and seek, served by the package dravfeed.

    python3 examples/pipe_feeder.py DATA_PIPE REWIND_PIPE

It creates both pipes, prints "ready", and serves 100 cases to this command:

    GET DATA /TYPE = STREAM /PIPE = 'DATA_PIPE' /REWINDABLE = 'REWIND_PIPE'
      /SEEKABLE /VARIABLES = n F8 label A8 value F8.2 .

It ends when the reader has not come back for two seconds after a pass.
The pipe protocol itself, with the rewind pipe as a gate so that a reader
never re-opens the pipe it was reading, is python/dravfeed/pipe_server.py
(docs/PROTOCOL.md, "Writing a pipe feeder", tells it step by step).
"""
import os
import sys

# From the source tree; an installed dravfeed is found without this.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import dravfeed  # noqa: E402

CASES = [(n, "case%04d" % n, n / 4) for n in range(100)]


def main():
    data_pipe, rewind_pipe = sys.argv[1], sys.argv[2]
    dravfeed.serve_pipe(CASES, "n F8 label A8 value F8.2", data_pipe, rewind_pipe,
                        ready=lambda path: print("ready", flush=True))


if __name__ == "__main__":
    main()
