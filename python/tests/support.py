"""Runs a dravfeed server in a thread and the real dravrun against it, with a watchdog on both."""
import os
import shutil
import subprocess
import tempfile
import threading

import dravfeed

DRAVRUN = os.environ.get("DRAVRUN") or os.path.join(
    os.path.dirname(__file__), "..", "..", "build", "bin", "dravrun")
WATCHDOG = 60  # seconds any one process or server may take before the test fails

try:
    import numpy
    import pandas
except ImportError:
    numpy = pandas = None


class Served:
    """A server of `rows` over "socket" or "pipe", started at once; `stats()` waits for its end."""

    def __init__(self, test, transport, rows, variables, byte_order="native", rewind=True,
                 linger=0.5):
        self.test, self.transport = test, transport
        self.variables = dravfeed.Variables(variables) if isinstance(variables, str) else variables
        self.folder = tempfile.mkdtemp(prefix="dravfeed-test.")
        test.addCleanup(shutil.rmtree, self.folder, True)
        self.path = os.path.join(self.folder, "cases")
        self.rewind_path = self.path + ".rw" if rewind else None
        self.where, self.error, self.result = None, None, None
        self.ready = threading.Event()
        if transport == "socket":
            serve = lambda: dravfeed.serve_socket(  # noqa: E731
                rows, self.variables, byte_order=byte_order, rewind=rewind, linger=linger,
                ready=self.on_ready)
        else:
            serve = lambda: dravfeed.serve_pipe(  # noqa: E731
                rows, self.variables, self.path, self.rewind_path, linger=linger,
                ready=self.on_ready)
        self.thread = threading.Thread(target=self.run, args=(serve,), daemon=True)
        self.thread.start()
        test.assertTrue(self.ready.wait(WATCHDOG), "the server never became ready")
        self.raise_error()

    def on_ready(self, where):
        self.where = where
        self.ready.set()

    def run(self, serve):
        try:
            self.result = serve()
        except BaseException as error:  # handed to the test's thread
            self.error = error
        finally:
            self.ready.set()

    def raise_error(self):
        if self.error is not None:
            raise self.error

    def command(self, seekable=True):
        if self.transport == "socket":
            return self.variables.get_data(socket=self.where, host="127.0.0.1",
                                           seekable=seekable)
        return self.variables.get_data(pipe=self.path, rewind_pipe=self.rewind_path,
                                       seekable=seekable)

    def start_reader(self, *options, seekable=True):
        return subprocess.Popen([DRAVRUN, "--no-progress", *options, self.command(seekable)],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def read(self, *options, seekable=True):
        """Runs dravrun to its end: (standard output, standard error); it must exit 0."""
        reader = self.start_reader(*options, seekable=seekable)
        self.test.addCleanup(reader.kill)
        out, err = reader.communicate(timeout=WATCHDOG)
        self.test.assertEqual(reader.returncode, 0, err)
        return out, err

    def stats(self):
        """The server's ServeStats once it has ended; its exception, if it raised one."""
        self.thread.join(WATCHDOG)
        self.test.assertFalse(self.thread.is_alive(), "the server did not end")
        self.raise_error()
        return self.result


def csv_rows(out):
    """dravrun's CSV output without its header row, as lists of fields."""
    return [line.split(",") for line in out.splitlines()[1:]]
