"""The caught rate per subsystem, the survivors and the counts left out."""

import json

from mutants import SUBSYSTEMS

CAUGHT = ("caught", "caught-hang")
SURVIVED = ("survived", "uncovered")


def load_equivalents(path):
    """Mutant ids reviewed as unable to change behaviour: `ID | file |
    operator | before => after | reason` per line, `#` starts a comment."""
    equivalents = {}
    with open(path) as listing:
        for line in listing:
            if line.strip() and not line.startswith("#"):
                fields = [field.strip() for field in line.split("|")]
                equivalents[fields[0]] = fields[-1]
    return equivalents


def write_results(path, results):
    with open(path, "w") as out:
        for result in results:
            out.write(json.dumps(result) + "\n")


def rate_table(results):
    rows = ["subsystem  sampled  caught  survived  rate    unviable  unknown  equivalent"]
    totals = {}
    for subsystem in SUBSYSTEMS + ("all",):
        mine = [r for r in results if subsystem in ("all", r["subsystem"])]
        count = {status: sum(r["status"] == status for r in mine)
                 for status in CAUGHT + SURVIVED + ("unviable", "unknown", "equivalent")}
        caught = count["caught"] + count["caught-hang"]
        survived = count["survived"] + count["uncovered"]
        rate = f"{100.0 * caught / (caught + survived):5.1f}%" if caught + survived else "   -  "
        rows.append(f"{subsystem:<10} {len(mine):>7} {caught:>7} {survived:>9}  {rate} "
                    f"{count['unviable']:>9} {count['unknown']:>8} {count['equivalent']:>11}")
        totals[subsystem] = (caught, survived)
    return "\n".join(rows), totals


def survivor_lines(results):
    lines = []
    for r in results:
        if r["status"] in SURVIVED:
            how = "no program executes the line" if r["status"] == "uncovered" \
                else "ran " + " ".join(r["programs"])
            lines.append(f"  {r['id']} {r['file']}:{r['line']} {r['operator']} ({how})\n"
                         f"      {r['before']}\n   => {r['after']}")
    return lines


def render(results, command, threshold=95.0):
    table, totals = rate_table(results)
    parts = [table, ""]
    survivors = survivor_lines(results)
    parts.append(f"survivors ({len(survivors)}):")
    parts += survivors or ["  none"]
    unknown = [r for r in results if r["status"] == "unknown"]
    if unknown:
        parts.append(f"unknown ({len(unknown)}): a covering program is not clean on the unmutated code")
        parts += [f"  {r['id']} {r['file']}:{r['line']} {r['operator']}" for r in unknown]
    equivalent = [r for r in results if r["status"] == "equivalent"]
    if equivalent:
        parts.append(f"equivalent ({len(equivalent)}), left out of the rates:")
        parts += [f"  {r['id']} {r['file']}:{r['line']} {r['operator']}: {r['reason']}"
                  for r in equivalent]
    gone = [r for r in results if r["status"] == "gone"]
    if gone:
        parts.append(f"gone ({len(gone)}): their line changed since the earlier run, left out of the rates")
        parts += [f"  {r['id']} {r['file']}:{r['line']} {r['operator']}: {r['before']}" for r in gone]
    carried = sum(bool(r.get("carried")) for r in results)
    if carried:
        parts.append(f"carried: {carried} verdicts caught in the earlier run, not run again")
    below = [s for s, (c, v) in totals.items() if c + v and 100.0 * c / (c + v) < threshold]
    parts.append(f"below {threshold:.0f}%: {' '.join(below) if below else 'none'}")
    parts.append(f"reproduce: {command}")
    return "\n".join(parts), not below
