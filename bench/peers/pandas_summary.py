"""Peer reader: pandas read_csv, then describe, over the CSV in the given
file or named pipe. Prints {"seconds", "rows"} as JSON; the clock starts
after the imports, as a user's long-lived session would have paid them."""
import json
import sys
import time

import pandas

start = time.monotonic()
frame = pandas.read_csv(sys.argv[1])
summary = frame.describe()
seconds = time.monotonic() - start
print(json.dumps({"seconds": seconds, "rows": len(frame), "columns": len(summary.columns)}))
