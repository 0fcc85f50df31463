#!/usr/bin/env python3
"""Line and branch coverage of src/ by the test suite, with gcov from g++.

    python3 test/coverage.py             # build the coverage preset, run the tests, print the table
    python3 test/coverage.py --no-run    # the table of the last run, nothing built or run
    python3 test/coverage.py --missed    # also the lines that never ran, per file
    python3 test/coverage.py --all       # the nested builds and the valgrind test too

The coverage preset builds with g++ --coverage at -O0 and with assertions
off: the failing side of an assertion is never meant to run. By default the
tests run without the two nested builds and the valgrind run (ctest
-LE nested-build -E Memcheck), which cover nothing the others do not. The
constant-time check never runs here: it holds for optimised code, and at
-O0 the compiler branches on comparisons that it turns into carries at -O2.
The fault tests run last, writing their counts to build/coverage-faults,
which is not read: a tool that they run under a file size limit would cut
its counts file short, and every later run would fail to merge into it.
What only they execute (the failing writes) is therefore counted as missed.

Every .gcda file of the build is read with `gcov --json-format`. A source
line compiled into several objects (an inline function of a header is
compiled into every file that calls it) counts once: it ran if any object
ran it, and each of its branches was taken if any object took it. Branches
that only an exception would take are left out. Needs nothing but g++.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "coverage"


def run(cmd):
    print("+", " ".join(cmd), flush=True)
    if subprocess.run(cmd, cwd=ROOT).returncode != 0:
        sys.exit(f"failed: {' '.join(cmd)}")


def gcov(gcda):
    """The gcov JSON report of one .gcda file."""
    out = subprocess.run(["gcov", "--json-format", "--stdout", "--branch-probabilities", str(gcda)], cwd=gcda.parent,
                         capture_output=True, text=True)
    if out.returncode != 0:
        sys.exit(f"gcov failed on {gcda}:\n{out.stderr}")
    return json.loads(out.stdout)


def collect():
    """{src file: {line: (ran, {branch index: taken})}} merged over all objects."""
    files = {}
    for gcda in sorted(BUILD.rglob("*.gcda")):
        for f in gcov(gcda)["files"]:
            path = Path(f["file"])
            path = (gcda.parent / path).resolve() if not path.is_absolute() else path.resolve()
            try:
                rel = path.relative_to(ROOT)
            except ValueError:
                continue
            if rel.parts[0] != "src":
                continue
            lines = files.setdefault(str(rel), {})
            for ln in f["lines"]:
                ran, taken = lines.get(ln["line_number"], (False, {}))
                branches = [b for b in ln["branches"] if not b["throw"]]
                for i, b in enumerate(branches):
                    taken[i] = taken.get(i, False) or b["count"] > 0
                lines[ln["line_number"]] = (ran or ln["count"] > 0, taken)
    return files


def pct(part, whole):
    return f"{100 * part / whole:5.1f}%" if whole else "     -"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--no-run", action="store_true", help="report the last run only")
    ap.add_argument("--missed", action="store_true", help="list the lines that never ran")
    ap.add_argument("--all", action="store_true", help="also the nested builds and valgrind")
    args = ap.parse_args()

    if not args.no_run:
        run(["cmake", "--preset", "coverage"])
        run(["cmake", "--build", "--preset", "coverage"])
        for stale in BUILD.rglob("*.gcda"):
            stale.unlink()
        ctest = ["ctest", "--preset", "coverage", "-j", "2"]
        if args.all:
            run(ctest + ["-E", "^(Ctime|Faults)"])
        else:
            run(ctest + ["-LE", "nested-build", "-E", "Memcheck|^(Ctime|Faults)"])
        # Counts of the fault runs go elsewhere (see above), and libgcov's
        # complaints about them to a file rather than into the standard
        # error that the tests compare.
        scratch = ROOT / "build" / "coverage-faults"
        shutil.rmtree(scratch, ignore_errors=True)
        scratch.mkdir(parents=True)
        os.environ["GCOV_PREFIX"] = str(scratch)
        os.environ["GCOV_ERROR_FILE"] = str(scratch / "gcov-errors.log")
        run(ctest + ["-R", "^Faults"])
    if not any(BUILD.rglob("*.gcda")):
        sys.exit("no coverage data: run without --no-run first")

    files = collect()
    width = max(len(f) for f in files)
    print(f"\n{'file':<{width}}  {'lines':>15}  {'branches':>15}")
    totals = [0, 0, 0, 0]
    for name in sorted(files):
        lines = files[name]
        ran = sum(r for r, _ in lines.values())
        br = sum(len(t) for _, t in lines.values())
        taken = sum(sum(t.values()) for _, t in lines.values())
        for i, v in enumerate((ran, len(lines), taken, br)):
            totals[i] += v
        print(f"{name:<{width}}  {ran:>5}/{len(lines):<5}{pct(ran, len(lines))}"
              f"  {taken:>5}/{br:<5}{pct(taken, br)}")
        if args.missed:
            missed = sorted(n for n, (r, _) in lines.items() if not r)
            if missed:
                print(f"    never ran: {', '.join(map(str, missed))}")
    ran, total, taken, br = totals
    print(f"{'total':<{width}}  {ran:>5}/{total:<5}{pct(ran, total)}  {taken:>5}/{br:<5}{pct(taken, br)}")


if __name__ == "__main__":
    main()
