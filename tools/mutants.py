"""Mutation score of the C++ core: a fixed, seeded sample of small source mutations (operators,
constants, conditions), each built and run against the test suite with a time limit.

    python tools/mutants.py --count 200 --seed 1 [--suite cxx|all] [--timeout 300]

Each mutant is applied to a scratch copy of the checkout (build/mutants/tree), rebuilt
incrementally, and run: killed when a test fails, a test times out or the run crashes; survived
when everything passes; stillborn when it does not compile (not counted). Prints the score and
writes every outcome to build/mutants/outcomes.tsv, survivors first.
"""

from __future__ import annotations

import argparse
import pathlib
import random
import re
import shutil
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
WORK = ROOT / "build" / "mutants"
TREE = WORK / "tree"

# (pattern, replacement) pairs; a site is one match of a pattern on one source line.
OPERATORS = [
    (r"==", "!="), (r"!=", "=="), (r"(?<= )<=(?= )", "<"), (r"(?<= )>=(?= )", ">"),
    (r"(?<= )<(?= )", "<="), (r"(?<= )>(?= )", ">="), (r"&&", "||"),
    (r"\|\|", "&&"), (r"(?<= )\+(?= )", "-"), (r"(?<= )-(?= )", "+"), (r"\^", "&"),
    (r"\btrue\b", "false"), (r"\bfalse\b", "true"), (r"(?<![\w.])1(?![\w.])", "0"),
    (r"(?<![\w.])0(?![\w.])", "1"), (r"\+\+", "--"), (r"!(?!=)", ""),
]
SKIP_LINE = re.compile(r"^\s*(//|#|\*|/\*)|static_assert|template\s*<|operator")


def sources() -> list[pathlib.Path]:
    """The core's .cc files: not the bindings, tests, benchmarks, fuzz targets or test helpers."""
    return sorted(
        p for p in (ROOT / "src").rglob("*.cc")
        if "bindings" not in p.parts and "testing" not in p.parts
        and not re.search(r"_(test|perf|fuzz)\.cc$", p.name))


def sites() -> list[tuple[pathlib.Path, int, int, int, str]]:
    """Every (file, line, start, end, replacement) a mutation operator applies to."""
    found = []
    for path in sources():
        for number, line in enumerate(path.read_text().splitlines()):
            if SKIP_LINE.search(line) or '"' in line:
                continue
            code = line.split("//")[0]
            for pattern, replacement in OPERATORS:
                for m in re.finditer(pattern, code):
                    found.append((path, number, m.start(), m.end(), replacement))
    return found


def run(command: str, timeout: float) -> str:
    """'pass', 'fail' or 'timeout' for a shell command run in the scratch tree."""
    try:
        done = subprocess.run(command, shell=True, cwd=TREE, timeout=timeout,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        return "timeout"
    return "pass" if done.returncode == 0 else "fail"


def prepare(suite: str) -> tuple[str, str]:
    """Copies the checkout into the scratch tree and builds it once; returns (build, test)."""
    if TREE.exists():
        shutil.rmtree(TREE)
    shutil.copytree(ROOT, TREE, ignore=shutil.ignore_patterns("build", ".git", "*.egg-info"))
    build = ("cmake -S . -B build/tests -G Ninja -DVELKOR_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release"
             " >/dev/null && cmake --build build/tests -j2")
    test = "ctest --test-dir build/tests -j2 --stop-on-failure"
    if suite == "all":
        subprocess.run(f"{sys.executable} -m venv --system-site-packages {WORK}/venv", shell=True,
                       check=True)
        build += (f" && {WORK}/venv/bin/pip install -q --no-build-isolation"
                  f" -C build-dir=build/py '.[test]'")
        test += f" && {WORK}/venv/bin/python -m pytest -x -q -p no:cacheprovider tests"
    if run(build, 3600) != "pass" or run(test, 3600) != "pass":
        sys.exit("the unmutated checkout does not build or pass its tests")
    return build, test


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--suite", choices=("cxx", "all"), default="all")
    parser.add_argument("--timeout", type=float, default=300.0, help="seconds per mutant's tests")
    args = parser.parse_args()

    candidates = sites()
    sample = random.Random(args.seed).sample(candidates, min(args.count, len(candidates)))
    build, test = prepare(args.suite)
    outcomes = []
    for i, (path, number, start, end, replacement) in enumerate(sample):
        target = TREE / path.relative_to(ROOT)
        original = target.read_text()
        lines = original.splitlines(keepends=True)
        lines[number] = lines[number][:start] + replacement + lines[number][end:]
        target.write_text("".join(lines))
        began = time.monotonic()
        if run(build, 1800) != "pass":
            outcome = "stillborn"
        else:
            outcome = {"pass": "survived", "fail": "killed", "timeout": "killed"}[
                run(test, args.timeout)]
        target.write_text(original)
        where = f"{path.relative_to(ROOT)}:{number + 1}:{start + 1}"
        outcomes.append((outcome, where, lines[number].strip()))
        print(f"[{i + 1}/{len(sample)}] {outcome:9} {where} ({time.monotonic() - began:.0f} s)",
              flush=True)
    run(build, 3600)  # leave the scratch build unmutated

    killed = sum(o == "killed" for o, _, _ in outcomes)
    survived = sum(o == "survived" for o, _, _ in outcomes)
    order = {"survived": 0, "killed": 1, "stillborn": 2}
    with open(WORK / "outcomes.tsv", "w") as out:
        for row in sorted(outcomes, key=lambda r: order[r[0]]):
            out.write("\t".join(row) + "\n")
    print(f"{len(candidates)} sites, {len(sample)} mutants (seed {args.seed}, suite {args.suite}):"
          f" {killed} killed, {survived} survived, {len(sample) - killed - survived} stillborn;"
          f" score {killed / max(1, killed + survived):.3f}")


if __name__ == "__main__":
    main()
