#!/usr/bin/python3
"""Prints the benchmark table: the in-process figures of bench_stream (its
JSON output), the end-to-end figures of endtoend.py when present, and every
target as a ratio of two figures from the same run, with whether it is met."""
import json
import os
import statistics
import sys

SIZES = (8, 80, 800, 8192)


def load_inprocess(path):
    """Median items/s and bytes/s per benchmark name ("pipe/iterator/80"),
    or the error text when the benchmark could not run."""
    with open(path) as f:
        data = json.load(f)
    runs, errors = {}, {}
    for b in data.get("benchmarks", []):
        if b.get("run_type") != "iteration":
            continue
        name = b["run_name"].replace("/real_time", "")
        if b.get("error_occurred"):
            errors[name] = b.get("error_message", "error")
            continue
        runs.setdefault(name, []).append((b["items_per_second"], b.get("bytes_per_second", 0)))
    medians = {n: (statistics.median(r[0] for r in v), statistics.median(r[1] for r in v))
               for n, v in runs.items()}
    return medians, errors, data.get("context", {})


def rate(figures, name):
    value = figures.get(name)
    return value[0] if value else None


def short(note, limit=90):
    """A note cut to one readable line; the JSON keeps the whole text."""
    note = " ".join(note.split())
    return note if len(note) <= limit else note[:limit - 3] + "..."


def target_row(label, numerator, denominator, needed):
    if numerator is None or denominator is None or denominator == 0:
        return (label, "n/a", ">= %.2f" % needed, "not measured")
    ratio = numerator / denominator
    return (label, "%.2f" % ratio, ">= %.2f" % needed, "met" if ratio >= needed else "NOT MET")


def print_table(header, rows):
    widths = [max(len(str(r[i])) for r in [header] + rows) for i in range(len(header))]
    line = lambda r: "  ".join(str(c).rjust(w) if i and str(c)[:1].isdigit() else str(c).ljust(w)
                               for i, (c, w) in enumerate(zip(r, widths))).rstrip()
    print(line(header))
    print("  ".join("-" * w for w in widths))
    for r in rows:
        print(line(r))
    print()


def inprocess_rows(figures, errors):
    rows = []
    for size in SIZES:
        for transport in ("pipe", "socket"):
            for reader in ("baselineA", "baselineB", "hostSocket", "iterator", "reversed"):
                name = "%s/%s/%d" % (transport, reader, size)
                if name in figures:
                    items, bytes_ = figures[name]
                    rows.append((size, transport, reader, "%.0f" % items, "%.1f" % (bytes_ / 1e6), ""))
                elif name in errors:
                    rows.append((size, transport, reader, "-", "-", short("not measured: " + errors[name])))
    return rows


def inprocess_targets(f):
    rows = []
    for size in SIZES:
        rows.append(target_row("pipe iterator / baseline A, %d B" % size,
                               rate(f, "pipe/iterator/%d" % size), rate(f, "pipe/baselineA/%d" % size), 0.9))
    for size, needed in ((80, 0.5), (8192, 0.8)):
        rows.append(target_row("socket iterator / baseline B, %d B" % size,
                               rate(f, "socket/iterator/%d" % size), rate(f, "socket/baselineB/%d" % size), needed))
    for size in SIZES:
        rows.append(target_row("reversed socket / unreversed, %d B" % size,
                               rate(f, "socket/reversed/%d" % size), rate(f, "socket/iterator/%d" % size), 0.6))
    return rows


def endtoend_section(path):
    with open(path) as fh:
        e2e = json.load(fh)
    rows = []
    for r in e2e["readers"]:
        if r.get("error"):
            rows.append((r["name"], "-", "-", short("not measured: " + r["error"])))
        else:
            rss = r.get("peak_rss_kib")
            runs = r.get("runs", 1)
            rows.append((r["name"], "%.0f" % r["cases_per_second"],
                         "%.1f" % (rss / 1024.0) if rss else "-", "median of %d" % runs if runs > 1 else ""))
    print("End to end: %d cases x %d numeric variables (one run each unless noted)" %
          (e2e["cases"], e2e["variables"]))
    if e2e.get("csv_source"):
        print("CSV for the peers: " + e2e["csv_source"])
    print_table(("reader", "cases/s", "peak RSS MiB", "note"), rows)
    by = {r["name"]: r.get("cases_per_second") for r in e2e["readers"] if not r.get("error")}
    targets = []
    summary = by.get("dravrun --summary (socket)")
    targets.append(target_row("dravrun --summary / pandas read_csv+describe", summary,
                              by.get("pandas read_csv + describe (FIFO)"), 5.0))
    targets.append(target_row("dravrun --summary / apache-arrow stream reader", summary,
                              by.get("apache-arrow IPC stream reader (FIFO)"), 1.0))
    # dravrun against the plug-in's iterator under the same feeder
    # (dravfeed --generate, 10 numeric variables): the in-process figure
    # from pre-built records is no fair match for a process fed by dravfeed.
    iterator = "plug-in iterator in-process (socket)"
    for cases, suffix in ((e2e["cases"], ""), (10 * e2e["cases"], ", %d cases" % (10 * e2e["cases"]))):
        targets.append(target_row("dravrun --output none / iterator, same feeder, %d cases" % cases,
                                  by.get("dravrun --output none (socket)" + suffix),
                                  by.get(iterator + suffix), 0.8))
    # The summary's arithmetic must keep up with reading: against --output
    # none over the same cases, run in turns.
    large = 10 * e2e["cases"]
    targets.append(target_row("dravrun --summary / --output none, same feeder, %d cases" % large,
                              by.get("dravrun --summary (socket), %d cases" % large),
                              by.get("dravrun --output none (socket), %d cases" % large), 0.5))
    readers = [v for k, v in by.items() if v and not k.startswith("dravfeed")]
    targets.append(target_row("dravfeed --generate / fastest reader",
                              by.get("dravfeed --generate (socket, discarding reader)"),
                              max(readers) if readers else None, 2.0))
    # dravrun's outputs against the bare to_chars loop over the same values.
    baseline = by.get("bare to_chars CSV loop (to a file)")
    for output, needed in (("csv", 0.8), ("tsv", 0.8), ("jsonl", 0.7), ("table", 0.5)):
        targets.append(target_row("dravrun --output %s / bare to_chars CSV loop" % output,
                                  by.get("dravrun --output %s, F8.2 (socket, to a file)" % output), baseline, needed))
    targets.append(target_row("dravrun --output csv --exact / --output csv",
                              by.get("dravrun --output csv --exact, F8.2 (socket, to a file)"),
                              by.get("dravrun --output csv, F8.2 (socket, to a file)"), 0.7))
    none = by.get("dravrun --output none, F8.2 (socket)")
    for where in ("to a file", "to /dev/null"):
        targets.append(target_row("dravrun --output raw (%s) / --output none" % where,
                                  by.get("dravrun --output raw, F8.2 (socket, %s)" % where), none, 0.8))
    if e2e.get("outputs_only"):
        return [t for t in targets if t[3] != "not measured"]
    memory = e2e.get("memory")
    if memory and memory.get("growth_kib") is not None:
        growth = memory["growth_kib"]
        targets.append(("dravrun --summary peak RSS growth, %s -> %s cases" % (memory["small"], memory["large"]),
                        "%+d KiB" % growth, "< 1024 KiB", "met" if growth < 1024 else "NOT MET"))
    else:
        targets.append(("dravrun --summary peak RSS growth", "n/a", "< 1024 KiB", "not measured"))
    return targets


def render_section(path):
    """The renderers alone (bench_render): values per second, and the one
    target set as a rate."""
    figures, errors, _ = load_inprocess(path)
    rows = [(name, "%.0f" % items) for name, (items, _) in sorted(figures.items())]
    rows += [(name, "not measured: " + short(error)) for name, error in sorted(errors.items())]
    print("Renderers in-process, one value per item (median of the repetitions)")
    print_table(("renderer", "values/s"), rows)
    rate_of = rate(figures, "render/DATETIME20")
    if rate_of is None:
        return [("DATETIME20 values rendered per second", "n/a", ">= 5000000", "not measured")]
    return [("DATETIME20 values rendered per second", "%.0f" % rate_of, ">= 5000000",
             "met" if rate_of >= 5e6 else "NOT MET"),
            informative_row("F8.2 renderer / bare to_chars(fixed, 2)", rate(figures, "render/F8.2"),
                            rate(figures, "render/bare_to_chars_fixed2"))]


def informative_row(label, numerator, denominator):
    """A ratio shown for reference, with no target."""
    if numerator is None or not denominator:
        return (label, "n/a", "-", "not measured")
    return (label, "%.2f" % (numerator / denominator), "-", "no target")


def main():
    out = sys.argv[1]
    targets = []
    inprocess_path = os.path.join(out, "inprocess.json")
    if os.path.exists(inprocess_path):
        figures, errors, _ = load_inprocess(inprocess_path)
        print("In-process readers, feeder in a child process (median of the repetitions)")
        print_table(("record B", "transport", "reader", "cases/s", "MB/s", "note"), inprocess_rows(figures, errors))
        targets += inprocess_targets(figures)
    render_path = os.path.join(out, "render.json")
    if os.path.exists(render_path):
        targets += render_section(render_path)
    e2e_path = os.path.join(out, "endtoend.json")
    if os.path.exists(e2e_path):
        targets += endtoend_section(e2e_path)
    else:
        print("End to end: not run\n")
    print("Targets (ratios of figures from this run)")
    print_table(("target", "ratio", "needed", "status"), targets)


if __name__ == "__main__":
    main()
