#!/usr/bin/env python3
"""Mutation check: how many planted single-token faults the test suite catches.

    tools/mutate.py [--seed S] [--count N] [--only FILE:LINE]... [--work DIR] [--timeout T] [--list]

From the seed, picks N single-token mutants of the library's sources (src/)
and the stand-in primitives (primitives/): a comparison or boolean operator
swapped, ++ and -- swapped, an integer constant moved by one, a true or false
flipped. Comments, strings, preprocessor lines and static_assert are left
alone, and so are '<' and '>' that are not written as comparisons (' < ').

--only FILE:LINE takes every mutant of that line instead (again and again
for more lines), such as --only src/guard.cpp:133.
The tree is copied once into a scratch directory (DIR, or a new temporary
one); the working tree is never touched. In the copy each mutant is applied
in turn, the ASan+UBSan preset (ci-gcc-asan) is rebuilt and ctest runs with a
per-test limit of T seconds (default 60), stopping at the first failure;
when those tests all pass, the fault-injection table runs in the ci-faults
build (libfiu's fault points), whose rows reach the paths of failing system
calls. A mutant is killed when a test fails, survives when all pass, and is
stillborn when it does not compile (warnings are errors there): stillborn
mutants do not count.

Survivors are listed with file, line and change. The score is given with
and without the equivalent mutants named in tools/mutate-equivalent.txt:
mutants that cannot change what the library does, each with its reason.
--list prints the chosen mutants and stops.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCES = ("src", "primitives")
EQUIVALENT = os.path.join(ROOT, "tools", "mutate-equivalent.txt")
PRESET = "ci-gcc-asan"
FAULT_PRESET = "ci-faults"
SWAPS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==",
         "&&": "||", "||": "&&", "++": "--", "--": "++", "true": "false", "false": "true"}
COMPARISONS = ("<", "<=", ">", ">=")
TOKEN = re.compile(r"""
    (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<string>"(?:\\.|[^"\\\n])*"|'(?:\\.|[^'\\\n])*')
  | (?P<preprocessor>^[ \t]*\#[^\n]*)
  | (?P<number>(?<![.\w])(?:0[xX][0-9a-fA-F]+|[0-9]+)(?P<suffix>[uUlL]*)\b(?![.eE]))
  | (?P<word>\b(?:true|false)\b)
  | (?P<operator><=|>=|==|!=|&&|\|\||\+\+|--|<<|>>|<|>)
""", re.VERBOSE | re.MULTILINE | re.DOTALL)


class Mutant:
    def __init__(self, path, offset, original, replacement, text, nth=1):
        self.path = path
        self.nth = nth  # which of the line's tokens spelled as original
        self.offset = offset
        self.original = original
        self.replacement = replacement
        self.line = text.count("\n", 0, offset) + 1
        start = text.rfind("\n", 0, offset) + 1
        end = text.find("\n", offset)
        self.source_line = text[start:end if end >= 0 else len(text)].strip()

    def key(self):
        """How tools/mutate-equivalent.txt names it, whatever line it moves to."""
        return "%s | %s | %s" % (self.path, self.source_line, self.change())

    def change(self):
        """ORIGINAL -> MUTATED, and #N for the line's Nth such token after the first."""
        return "%s -> %s%s" % (self.original, self.replacement, " #%d" % self.nth if self.nth > 1 else "")

    def __str__(self):
        return "%s:%d: %s    %s" % (self.path, self.line, self.change(), self.source_line)


def moved(number, suffix, step):
    """The literal number moved by step, in its own base (hex, octal or decimal)."""
    if number.lower().startswith("0x"):
        base, show = 16, hex
    elif number.startswith("0") and len(number) > 1:
        base, show = 8, lambda value: "0%o" % value
    else:
        base, show = 10, str
    value = int(number, base) + step
    return show(value) + suffix if value >= 0 else None


def mutants_of(path, text):
    """Every mutant of one source file, in order."""
    found = []
    seen = {}  # (line start, token): how many so far
    for match in TOKEN.finditer(text):
        kind = match.lastgroup if match.lastgroup != "suffix" else "number"
        token = match.group(0)
        line_start = text.rfind("\n", 0, match.start()) + 1
        line_end = text.find("\n", match.start())
        line = text[line_start:line_end]
        if kind in ("comment", "string", "preprocessor") or "static_assert" in line:
            continue
        nth = seen[(line_start, token)] = seen.get((line_start, token), 0) + 1
        if kind == "number":
            number, suffix = token[:len(token) - len(match.group("suffix"))], match.group("suffix")
            for step in (1, -1):
                replacement = moved(number, suffix, step)
                if replacement is not None:
                    found.append(Mutant(path, match.start(), token, replacement, text, nth))
        elif token in SWAPS:
            spaced = text[match.start() - 1:match.start()] == " " and text[match.end():match.end() + 1] == " "
            if token in COMPARISONS and not spaced:
                continue  # a template's brackets, not a comparison
            found.append(Mutant(path, match.start(), token, SWAPS[token], text, nth))
    return found


def all_mutants(root):
    found = []
    for folder in SOURCES:
        for name in sorted(os.listdir(os.path.join(root, folder))):
            if name.endswith((".cpp", ".h")):
                path = os.path.join(folder, name)
                with open(os.path.join(root, path), encoding="utf-8") as source:
                    found.extend(mutants_of(path, source.read()))
    return found


def equivalent_keys():
    keys = {}
    if os.path.exists(EQUIVALENT):
        with open(EQUIVALENT, encoding="utf-8") as listed:
            for line in listed:
                if line.strip() and not line.startswith("#"):
                    key, _, reason = line.rstrip("\n").partition("  # ")
                    keys[key.strip()] = reason.strip()
    return keys


def run(command, cwd, timeout=None):
    return subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=timeout).returncode == 0


def copy_tree(work):
    ignore = shutil.ignore_patterns(".git", "build")
    shutil.copytree(ROOT, work, ignore=ignore, dirs_exist_ok=True)


def build(work, preset=PRESET):
    return run(["cmake", "--build", "--preset", preset], work)


def tests_pass(work, timeout):
    command = ["ctest", "--preset", PRESET, "--timeout", str(timeout), "--stop-on-failure", "-LE", "package"]
    return run(command, work)


def fault_table_passes(work, timeout):
    command = ["ctest", "--preset", FAULT_PRESET, "--timeout", str(timeout * 10), "--stop-on-failure"]
    return run(command, work)


def try_mutant(work, mutant, timeout):
    path = os.path.join(work, mutant.path)
    with open(path, encoding="utf-8") as source:
        text = source.read()
    mutated = text[:mutant.offset] + mutant.replacement + text[mutant.offset + len(mutant.original):]
    with open(path, "w", encoding="utf-8") as source:
        source.write(mutated)
    try:
        if not build(work):
            return "stillborn"
        if not tests_pass(work, timeout):
            return "killed"
        # The paths of failing system calls: the fault build's table.
        if not build(work, FAULT_PRESET):
            return "stillborn"
        return "survived" if fault_table_passes(work, timeout) else "killed"
    finally:
        with open(path, "w", encoding="utf-8") as source:
            source.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=100)
    parser.add_argument("--work", help="scratch directory (default: a new temporary one)")
    parser.add_argument("--timeout", type=int, default=60, help="seconds a test may take")
    parser.add_argument("--list", action="store_true", help="print the chosen mutants and stop")
    parser.add_argument("--only", action="append", default=[], metavar="FILE:LINE",
                        help="every mutant of this line instead of a sample")
    options = parser.parse_args()

    candidates = all_mutants(ROOT)
    if options.only:
        wanted = set(options.only)
        chosen = [m for m in candidates if "%s:%d" % (m.path, m.line) in wanted]
    else:
        chosen = random.Random(options.seed).sample(candidates, min(options.count, len(candidates)))
    chosen.sort(key=lambda m: (m.path, m.offset))  # one file's mutants together: fewer rebuilds
    print("%d mutants of %d candidates (seed %d)" % (len(chosen), len(candidates), options.seed))
    if options.list:
        for mutant in chosen:
            print(" ", mutant)
        return 0

    work = options.work or tempfile.mkdtemp(prefix="quorvel-mutate-")
    started = time.time()
    copy_tree(work)
    if not (run(["cmake", "--preset", PRESET], work) and run(["cmake", "--preset", FAULT_PRESET], work) and
            build(work) and tests_pass(work, options.timeout) and build(work, FAULT_PRESET) and
            fault_table_passes(work, options.timeout)):
        print("the unmutated tree does not build or pass its tests in %s" % work)
        return 1
    equivalent = equivalent_keys()
    outcomes = {"killed": [], "survived": [], "stillborn": []}
    for number, mutant in enumerate(chosen, 1):
        outcome = try_mutant(work, mutant, options.timeout)
        outcomes[outcome].append(mutant)
        print("[%3d/%d] %-9s %s" % (number, len(chosen), outcome, mutant), flush=True)
    build(work)

    killed, survived = len(outcomes["killed"]), outcomes["survived"]
    named = [m for m in survived if m.key() in equivalent]
    print("\nsurvivors:")
    for mutant in survived:
        reason = equivalent.get(mutant.key())
        print("  %s%s" % (mutant, "\n      equivalent: " + reason if reason else ""))
    counted = killed + len(survived)
    print("\n%d killed, %d survived (%d named equivalent), %d stillborn, in %.0f min" %
          (killed, len(survived), len(named), len(outcomes["stillborn"]), (time.time() - started) / 60))
    if counted:
        print("score: %.2f (%d/%d)" % (killed / counted, killed, counted))
        print("score without equivalent mutants: %.2f (%d/%d)" %
              (killed / max(1, counted - len(named)), killed, counted - len(named)))
    if not options.work:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
