"""Peer reader: Python's csv module over the CSV in the given file or named
pipe, computing per column the valid count, mean, standard deviation,
minimum and maximum (an empty field is missing). Prints {"seconds", "rows"}."""
import csv
import json
import math
import sys
import time

start = time.monotonic()
with open(sys.argv[1], newline="") as f:
    reader = csv.reader(f)
    k = len(next(reader))
    n, total, squares = [0] * k, [0.0] * k, [0.0] * k
    low, high = [math.inf] * k, [-math.inf] * k
    rows = 0
    for row in reader:
        rows += 1
        for j, text in enumerate(row):
            if text:
                v = float(text)
                n[j] += 1
                total[j] += v
                squares[j] += v * v
                if v < low[j]:
                    low[j] = v
                if v > high[j]:
                    high[j] = v
means = [total[j] / n[j] if n[j] else math.nan for j in range(k)]
sds = [math.sqrt(max(squares[j] - n[j] * means[j] ** 2, 0.0) / (n[j] - 1)) if n[j] > 1 else math.nan
       for j in range(k)]
seconds = time.monotonic() - start
print(json.dumps({"seconds": seconds, "rows": rows, "columns": k}))
