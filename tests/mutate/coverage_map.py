"""Which test program executes which line of the product code.

Made once from a `--coverage` build: each program runs alone, then gcov's
JSON output gives the per-line counts. The map is kept in the coverage build
folder and made again when the code or the tests change.
"""

import glob
import hashlib
import json
import os
import subprocess

import programs as test_programs

COVERAGE_FLAGS = ["-DCMAKE_BUILD_TYPE=Debug"] + [
    f"-DCMAKE_{kind}_FLAGS=--coverage"
    for kind in ("CXX", "EXE_LINKER", "SHARED_LINKER", "MODULE_LINKER")]


class CoverageMap:
    def __init__(self, lines):
        self.lines = lines   # file -> {line number (str): [program names]}

    def programs_for(self, file, line):
        """The programs that execute the line. For a line gcov does not list
        (a constant, a table entry, the second line of a statement), or lists
        as run by none, those that execute any line of the file: a test's
        forked child ends with _exit, which never writes its counts, so a
        line only such a child runs looks unrun. None when gcov knows nothing
        of the file at all (a header of constants, say): any program may see it."""
        known = self.lines.get(file)
        if not known:
            return None
        if known.get(str(line)):
            return set(known[str(line)])
        return {name for names in known.values() for name in names}


def state_key(source, folders):
    """Changes whenever the code or the tests do (committed or not), but
    not with this tool's own files or the prose (*.md) beside them."""
    def git(*args):
        return subprocess.run(["git", "-C", source, *args], capture_output=True,
                              text=True, check=True).stdout
    paths = ["--", *folders, ":(exclude)tests/mutate", ":(exclude)*.md"]
    tree = [entry for entry in git("ls-tree", "-r", "HEAD", "--", *folders).splitlines()
            if "\ttests/mutate/" not in entry and not entry.endswith(".md")]
    text = "\n".join(tree) + git("diff", "HEAD", *paths) + \
        git("ls-files", "--others", "--exclude-standard", *paths)
    return hashlib.sha256(text.encode()).hexdigest()


def load_or_make(source, cov_build, programs, product_dirs, key, jobs, log, say):
    path = os.path.join(cov_build, "mutate-coverage.json")
    if os.path.exists(path):
        with open(path) as saved:
            data = json.load(saved)
        if data.get("key") == key:
            return CoverageMap(data["lines"])
    say(f"coverage map: building {cov_build} and running each program alone")
    test_programs.configure(source, cov_build, COVERAGE_FLAGS, log)
    targets = [p.name for p in programs] + list(test_programs.RUNTIME_TARGETS)
    if not test_programs.build(cov_build, targets, jobs, log):
        raise SystemExit(f"mutate: the coverage build failed, see {log.name}")
    lines = {}
    for program in programs:
        _run_for_coverage(program, source, cov_build, product_dirs, lines, say)
    with open(path, "w") as saved:
        json.dump({"key": key, "lines": lines}, saved)
    return CoverageMap(lines)


def _run_for_coverage(program, source, cov_build, product_dirs, lines, say):
    for stale in glob.glob(os.path.join(cov_build, "**", "*.gcda"), recursive=True):
        os.remove(stale)
    # Instrumented code at -O0 is several times slower than the build measured.
    outcome = test_programs.run(program, cov_build, 10 * program.seconds + 60, fail_fast=False)
    executed = 0
    for file, line, count in _gcov_lines(cov_build, source):
        if file.split("/", 1)[0] not in product_dirs:
            continue
        names = lines.setdefault(file, {}).setdefault(str(line), [])
        if count > 0 and program.name not in names:
            names.append(program.name)
            executed += 1
    say(f"  {program.name}: {outcome.status} in {outcome.seconds:.1f} s, "
        f"{executed} product lines executed")


def _gcov_lines(cov_build, source):
    data_files = glob.glob(os.path.join(cov_build, "**", "*.gcda"), recursive=True)
    for start in range(0, len(data_files), 50):
        result = subprocess.run(["gcov", "--json-format", "--stdout", *data_files[start:start + 50]],
                                cwd=cov_build, capture_output=True, text=True)
        for report in result.stdout.splitlines():
            if not report.startswith("{"):
                continue
            data = json.loads(report)
            # A relative source path is relative to where it was compiled
            # (ccache's base_dir makes them so), not to the build folder.
            compiled_in = data.get("current_working_directory", cov_build)
            for entry in data["files"]:
                file = os.path.relpath(os.path.realpath(os.path.join(compiled_in, entry["file"])), source)
                for line in entry["lines"]:
                    yield file, line["line_number"], line["count"]
