#!/usr/bin/env python3
"""Mutation testing: applies each mutant of a table to its source file, one at
a time, rebuilds, runs the test suite and says whether a test failed.

A mutant in the table (scripts/mutants.txt) is a heading and two texts:

    core/WavHeader.cpp | the header walk has no chunk limit
    - chunk < maxChunks &&
    + (void)maxChunks,

The text after "- " must occur exactly once in the file; it is replaced by
the text after "+ " (which may be empty). A line that starts with white
space goes on the text above it. "#" starts a comment line.

Run it through scripts/mutate.sh, which builds and sets up Wine and Xvfb as
the test command does. The source file is always put back, even on Ctrl-C.
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Mutant:
    def __init__(self, number, path, description, before, after):
        self.number = number
        self.path = path
        self.description = description
        self.before = before
        self.after = after


def read_table(table):
    """The mutants of the table; a line that starts with white space goes on
    the text of the line before it."""
    mutants = []
    heading = None
    texts = []
    lines = [l.rstrip("\n") for l in open(table, encoding="latin-1")]
    for line in lines + ["end |"]:
        if not line.strip() or line.startswith("#"):
            continue
        if line[0] in "-+":
            texts.append(line[2:])
        elif line[0] in " \t" and texts:
            texts[-1] += "\n" + line
        elif "|" in line:
            if heading is not None:
                if len(texts) != 2:
                    sys.exit(f"{table}: '{heading}' needs one '- ' and one '+ ' line")
                path, description = (part.strip() for part in heading.split("|", 1))
                mutants.append(Mutant(len(mutants) + 1, path, description, *texts))
            heading, texts = line, []
        else:
            sys.exit(f"{table}: cannot read '{line}'")
    return mutants


def run(command, log):
    with open(log, "a") as out:
        out.write(f"$ {' '.join(command)}\n")
        out.flush()
        return subprocess.run(command, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT).returncode


def start_tests(tree, args, log):
    """Starts one tree's tests; they run beside the other tree's."""
    command = ["ctest", "--test-dir", tree, "-j", "2", "--timeout", str(args.timeout)]
    if args.tests:
        command += ["-R", args.tests]
    if args.exclude:
        command += ["-E", args.exclude]
    if args.first:
        command += ["--stop-on-failure"]
    out = open(log + "." + os.path.basename(tree), "w+")
    return subprocess.Popen(command, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT), out


def failed_tests(process, out, log):
    """The names of the tests that failed."""
    process.wait()
    out.seek(0)
    text = out.read()
    out.close()
    with open(log, "a") as whole:
        whole.write(text)
    failed = text.split("The following tests FAILED:")[-1] if "tests FAILED:" in text else ""
    names = re.findall(r"^\s*\d+ - (\S+) \((?!Skipped|Disabled|Not Run)", failed, re.M)
    if process.returncode and not names and "No tests were found" not in text:
        names = ["(ctest failed)"]
    return names


def try_mutant(mutant, args, log):
    path = os.path.join(ROOT, mutant.path)
    # Read and written byte for byte, whatever the file's character set.
    original = open(path, encoding="latin-1").read()
    if original.count(mutant.before) != 1:
        return "not found", []
    try:
        with open(path, "w", encoding="latin-1") as f:
            f.write(original.replace(mutant.before, mutant.after))
        for tree in args.trees:
            if run(["cmake", "--build", tree, "-j", "2"], log):
                return "no build", []
        running = [start_tests(tree, args, log) for tree in args.trees]
        killers = []
        for process, out in running:
            killers += failed_tests(process, out, log)
        return ("killed" if killers else "survived"), killers
    finally:
        with open(path, "w", encoding="latin-1") as f:
            f.write(original)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--table", default=os.path.join(ROOT, "scripts", "mutants.txt"))
    parser.add_argument("--only", help="regular expression on 'file | description'")
    parser.add_argument("--tests", help="run only the tests whose name matches (ctest -R)")
    parser.add_argument("--exclude", help="leave out the tests whose name matches (ctest -E)")
    parser.add_argument("--first", action="store_true",
                        help="stop each tree's tests at the first failure: faster, but names "
                        "only the first tests that failed")
    parser.add_argument("--timeout", type=int, default=180, help="seconds a test may take")
    parser.add_argument("--results", help="also write the results to this tab-separated file")
    parser.add_argument("--list", action="store_true", help="list the mutants and stop")
    parser.add_argument("--trees", nargs="+", default=["build/native", "build/win64"])
    args = parser.parse_args()
    # Stopped from outside, the source file is still put back.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

    mutants = read_table(args.table)
    if args.only:
        mutants = [m for m in mutants if re.search(args.only, f"{m.path} | {m.description}")]
    if args.list:
        for m in mutants:
            print(f"{m.number:3}  {m.path}: {m.description}")
        return 0
    log = os.path.join(ROOT, "build", "mutate.log")
    open(log, "w").close()
    results = open(args.results, "w") if args.results else None
    counts = {}
    started = time.time()
    for m in mutants:
        outcome, killers = try_mutant(m, args, log)
        counts[outcome] = counts.get(outcome, 0) + 1
        by = f" by {', '.join(killers)}" if killers else ""
        print(f"{m.number:3} {outcome.upper():9} {m.path}: {m.description}{by}", flush=True)
        if results:
            results.write(f"{m.number}\t{m.path}\t{m.description}\t{outcome}\t{' '.join(killers)}\n")
            results.flush()
    # Put the build back as the sources are.
    for tree in args.trees:
        run(["cmake", "--build", tree, "-j", "2"], log)
    summary = ", ".join(f"{n} {k}" for k, n in sorted(counts.items()))
    print(f"{len(mutants)} mutants: {summary} ({time.time() - started:.0f} s); log in {log}")
    return 1 if counts.get("survived") or counts.get("not found") else 0


if __name__ == "__main__":
    sys.exit(main())
