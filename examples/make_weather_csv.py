#!/usr/bin/env python3
"""Writes examples/weather.csv: hourly readings of five weather stations.

The data are synthetic but shaped like real readings (a daily temperature
cycle, humidity that falls as it warms, gusty wind, slowly drifting
pressure) and a few readings are missing. The output is the same on every
run: the random generator has a fixed seed.

    python3 examples/make_weather_csv.py > examples/weather.csv
"""
import csv
import math
import random
import sys
from datetime import datetime, timedelta

STATIONS = [  # code, mean temperature, humidity offset, wind scale
    ("NORTHPT", 4.0, 8.0, 6.5),
    ("HARBOUR", 7.5, 12.0, 5.0),
    ("AIRFLD", 6.5, 0.0, 4.5),
    ("HILLTOP", 2.5, -4.0, 7.5),
    ("VALLEY", 8.0, 4.0, 2.5),
]
START = datetime(2026, 3, 1)
HOURS = 24 * 25
MISSING_RATE = 0.006


def maybe(rng, text):
    return "" if rng.random() < MISSING_RATE else text


def main():
    rng = random.Random(20260301)
    pressure = {code: 1013.0 + rng.uniform(-4, 4) for code, *_ in STATIONS}
    out = csv.writer(sys.stdout, lineterminator="\n")
    out.writerow(["time", "station", "temp", "humidity", "wind", "pressure"])
    for hour in range(HOURS):
        when = START + timedelta(hours=hour)
        season = hour / HOURS * 4.0  # spring warms up
        daily = -math.cos((when.hour - 3) / 24 * 2 * math.pi)
        for code, mean, wet, gust in STATIONS:
            temp = mean + season + 4.5 * daily + rng.gauss(0, 1.2)
            humidity = min(100.0, max(18.0, 78 + wet - 3.2 * (temp - mean) + rng.gauss(0, 5)))
            wind = abs(rng.gauss(gust, gust / 2))
            pressure[code] += rng.gauss(0, 0.6) + (1013.0 - pressure[code]) * 0.02
            out.writerow([
                when.strftime("%Y-%m-%dT%H:%M:%S"),
                code,
                maybe(rng, "%.1f" % temp),
                maybe(rng, "%.0f" % humidity),
                maybe(rng, "%.1f" % wind),
                maybe(rng, "%.1f" % pressure[code]),
            ])


if __name__ == "__main__":
    main()
