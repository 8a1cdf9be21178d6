"""Mutation score of the C++ core: a fixed, seeded sample of small source mutations (operators,
constants, conditions), each built and run against the whole test suite with a time limit.

    python tools/mutants.py --count 200 --seed 1              # sample, build and run every mutant
    python tools/mutants.py --recheck build/mutants/outcomes.tsv [--only killed|all]
    python tools/mutants.py --uniques build/mutants/outcomes.tsv   # which kills one file alone makes

Each mutant is applied to a scratch copy of the checkout (build/mutants/tree) and rebuilt
incrementally with CMake and Ninja: the mutated object, the core library, the GoogleTest binary
and the extension module. The extension sits beside a copy of python/velkor on PYTHONPATH, so
pytest and every process the tests start import the mutant. The C++ tests run first, then
pytest -x: a mutant is killed when a test fails, the run crashes or exceeds the time limit, and the
first failing test is recorded as its killer; it survives when everything passes and is
stillborn when it does not compile (not counted).

Outcomes go to build/mutants/outcomes.tsv (outcome, site, killer, mutated line), survivors first.
--recheck runs the current suite on the mutants of an earlier outcomes file (by default only those
it killed) and reports any that now survive. --uniques reruns each killed mutant without its
killer's file and writes which mutants only that file kills to build/mutants/uniques.tsv.
"""

from __future__ import annotations

import argparse
import os
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
BUILD = TREE / "build" / "mutant"
PACKAGE = BUILD / "pkg"

# (pattern, replacement) pairs; a site is one match of a pattern on one source line.
OPERATORS = [
    (r"==", "!="), (r"!=", "=="), (r"(?<= )<=(?= )", "<"), (r"(?<= )>=(?= )", ">"),
    (r"(?<= )<(?= )", "<="), (r"(?<= )>(?= )", ">="), (r"&&", "||"),
    (r"\|\|", "&&"), (r"(?<= )\+(?= )", "-"), (r"(?<= )-(?= )", "+"), (r"\^", "&"),
    (r"\btrue\b", "false"), (r"\bfalse\b", "true"), (r"(?<![\w.])1(?![\w.])", "0"),
    (r"(?<![\w.])0(?![\w.])", "1"), (r"\+\+", "--"), (r"!(?!=)", ""),
]
SKIP_LINE = re.compile(r"^\s*(//|#|\*|/\*)|static_assert|template\s*<|operator")
GTEST_LINE = re.compile(r"^\[ +(RUN|OK|FAILED) +\] (\S+\.\S+)")
# Test files that exercise the core broadly and quickly run first, so most mutants die early; the
# slow integration files (command line, processes, threads, dask, sinter) run last.
FIRST = ["test_differential.py", "test_simulator.py", "test_measurement.py", "test_noise.py",
         "test_sampler.py", "test_compiled_sampling.py", "test_circuit_file.py",
         "test_pauli_text.py", "test_hostile_inputs.py", "test_claims.py", "test_fuzz_api.py"]
PYTEST_LINE = re.compile(r"^(tests/\S+::\S+)(?: (PASSED|FAILED|ERROR|SKIPPED|XFAIL|XPASS))?")


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


def site_name(site: tuple[pathlib.Path, int, int, int, str]) -> str:
    path, number, start, end, replacement = site
    return f"{path.relative_to(ROOT)}:{number + 1}:{start + 1}:{end + 1}:{replacement}"


def parse_site(name: str) -> tuple[pathlib.Path, int, int, int, str]:
    path, number, start, end, replacement = name.split(":", 4)
    return ROOT / path, int(number) - 1, int(start) - 1, int(end) - 1, replacement


def run(command: list[str], timeout: float, log: pathlib.Path) -> str:
    """'pass', 'fail' or 'timeout' for a command run in the scratch tree; output goes to log."""
    env = dict(os.environ, PYTHONPATH=str(PACKAGE), PYTHONDONTWRITEBYTECODE="1")
    with open(log, "w") as out:
        process = subprocess.Popen(command, cwd=TREE, env=env, stdout=out,
                                   stderr=subprocess.STDOUT, start_new_session=True)
        try:
            return "pass" if process.wait(timeout=timeout) == 0 else "fail"
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, 9)  # the tests' own subprocesses too
            process.wait()
            return "timeout"


def first_failure(log: pathlib.Path, pattern: re.Pattern[str], bad: set[str]) -> str:
    """The first test the log reports as failed, else the test running when the log stops."""
    running = "?"
    for line in log.read_text(errors="replace").splitlines():
        m = pattern.match(line)
        if not m:
            continue
        status, test = (m[1], m[2]) if pattern is GTEST_LINE else (m[2], m[1])
        if status in bad:
            return test
        running = test if status in (None, "RUN") else "?"
    return running


def build() -> bool:
    return run(["cmake", "--build", str(BUILD), "-j2"], 1800, WORK / "build.log") == "pass"


def prepare() -> None:
    """Copies the checkout into the scratch tree, builds it once and checks it passes."""
    WORK.mkdir(parents=True, exist_ok=True)
    if TREE.exists():
        shutil.rmtree(TREE)
    shutil.copytree(ROOT, TREE, ignore=shutil.ignore_patterns("build", ".git", "*.egg-info",
                                                              "__pycache__"))
    configure = ["cmake", "-S", str(TREE), "-B", str(BUILD), "-G", "Ninja",
                 "-DVELKOR_BUILD_TESTS=ON", "-DVELKOR_BUILD_EXTENSION=ON",
                 "-DCMAKE_BUILD_TYPE=Release", f"-DPython_EXECUTABLE={sys.executable}"]
    if run(configure, 600, WORK / "configure.log") != "pass" or not build():
        sys.exit(f"the unmutated checkout does not build: see {WORK}/build.log")
    shutil.copytree(TREE / "python" / "velkor", PACKAGE / "velkor")
    for module in BUILD.glob("_core*.so"):
        (PACKAGE / "velkor" / module.name).symlink_to(module)
    probe = [sys.executable, "-c", "import velkor; print(velkor.__file__)"]
    if run(probe, 60, WORK / "probe.log") != "pass" or not (
            (WORK / "probe.log").read_text().startswith(str(PACKAGE))):
        sys.exit(f"velkor does not import from {PACKAGE}: see {WORK}/probe.log")


def test(timeout: float, skip: str = "") -> tuple[str, str]:
    """(outcome, killer) of the suite on the scratch tree as built, without the file skip."""
    began = time.monotonic()
    gtest = [str(BUILD / "velkor_tests"), "--gtest_fail_fast"]
    cxx_skip = suites_of(skip)
    if cxx_skip:
        gtest.append("--gtest_filter=-" + ":".join(f"{s}.*:{s}/*" for s in cxx_skip))
    result = run(gtest, timeout, WORK / "cxx.log")
    if result != "pass":
        return "killed", first_failure(WORK / "cxx.log", GTEST_LINE, {"FAILED"})
    files = sorted(TREE.glob("tests/test_*.py"),
                   key=lambda p: (FIRST.index(p.name) if p.name in FIRST else len(FIRST), p.name))
    pytest = [sys.executable, "-m", "pytest", "-x", "-v", "-p", "no:cacheprovider",
              "-p", "no:randomly"]
    pytest += [str(p.relative_to(TREE)) for p in files if str(p.relative_to(TREE)) != skip]
    result = run(pytest, timeout - (time.monotonic() - began), WORK / "py.log")
    if result != "pass":
        return "killed", first_failure(WORK / "py.log", PYTEST_LINE, {"FAILED", "ERROR"})
    return "survived", ""


def suites_of(path: str) -> list[str]:
    """The GoogleTest suites a C++ test file defines."""
    if not path.endswith("_test.cc"):
        return []
    text = (TREE / path).read_text()
    return sorted(set(re.findall(r"^\s*(?:TEST|TEST_F|TEST_P|TYPED_TEST)\(\s*(\w+)", text, re.M)))


def file_of(test: str) -> str:
    """The file holding a test id: tests/x.py for pytest ids, src/**/*_test.cc for GoogleTest."""
    if "::" in test:
        return test.split("::")[0]
    suite = test.split(".")[0].split("/")[-1]
    for path in sorted(TREE.glob("src/**/*_test.cc")):
        if suite in suites_of(str(path.relative_to(TREE))):
            return str(path.relative_to(TREE))
    return "?"


def mutate(site: tuple[pathlib.Path, int, int, int, str]) -> tuple[pathlib.Path, str, str]:
    """Applies a mutation to the scratch tree; returns (file, original text, mutated line)."""
    path, number, start, end, replacement = site
    target = TREE / path.relative_to(ROOT)
    original = target.read_text()
    lines = original.splitlines(keepends=True)
    lines[number] = lines[number][:start] + replacement + lines[number][end:]
    target.write_text("".join(lines))
    return target, original, lines[number].strip()


def each_mutant(sample, timeout: float, skip_of=lambda name: ""):
    """Builds and runs every mutant of the sample; yields (outcome, site, killer, line)."""
    for i, site in enumerate(sample):
        target, original, line = mutate(site)
        began = time.monotonic()
        skip = skip_of(site_name(site))
        outcome, killer = test(timeout, skip) if build() else ("stillborn", "")
        target.write_text(original)
        print(f"[{i + 1}/{len(sample)}] {outcome:9} {site_name(site)} {killer}"
              f" ({time.monotonic() - began:.0f} s)", flush=True)
        yield outcome, site_name(site), killer, line
    build()  # leave the scratch build unmutated


def read_outcomes(path: str) -> list[list[str]]:
    return [line.split("\t") for line in open(path).read().splitlines() if line]


def write_outcomes(rows, path: pathlib.Path) -> None:
    order = {"survived": 0, "killed": 1, "stillborn": 2}
    with open(path, "w") as out:
        for row in sorted(rows, key=lambda r: order[r[0]]):
            out.write("\t".join(row) + "\n")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--timeout", type=float, default=240.0, help="seconds per mutant's tests")
    parser.add_argument("--recheck", metavar="OUTCOMES", help="rerun an earlier outcomes file")
    parser.add_argument("--only", choices=("killed", "all"), default="killed")
    parser.add_argument("--uniques", metavar="OUTCOMES",
                        help="rerun killed mutants without their killer's file")
    args = parser.parse_args()

    if args.recheck or args.uniques:
        rows = read_outcomes(args.recheck or args.uniques)
        wanted = [r for r in rows if r[0] == "killed" or (args.recheck and args.only == "all"
                                                           and r[0] == "survived")]
        prepare()
        sample = [parse_site(r[1]) for r in wanted]
        killers = {r[1]: r[2] for r in wanted}
        if args.recheck:
            rows = list(each_mutant(sample, args.timeout))
            write_outcomes(rows, WORK / "recheck.tsv")
            lost = [r for r in rows if r[0] == "survived" and killers[r[1]]]
            print(f"{len(rows)} rechecked: {sum(r[0] == 'killed' for r in rows)} killed,"
                  f" {len(lost)} killed before and surviving now")
            for row in lost:
                print("\t".join(row))
        else:
            files = {name: file_of(killer) for name, killer in killers.items()}
            rows = list(each_mutant(sample, args.timeout, files.get))
            with open(WORK / "uniques.tsv", "w") as out:
                for outcome, name, killer, line in rows:
                    if outcome == "survived":
                        out.write(f"{files[name]}\t{killers[name]}\t{name}\t{line}\n")
            print(f"{sum(r[0] == 'survived' for r in rows)} of {len(rows)} killed mutants"
                  f" are killed by one file alone: see {WORK}/uniques.tsv")
        return

    candidates = sites()
    sample = random.Random(args.seed).sample(candidates, min(args.count, len(candidates)))
    prepare()
    if test(3600) != ("survived", ""):
        sys.exit(f"the unmutated checkout fails its tests: see {WORK}/cxx.log and py.log")
    rows = []
    for row in each_mutant(sample, args.timeout):
        rows.append(row)
        write_outcomes(rows, WORK / "outcomes.tsv")  # readable while the run goes on
    killed = sum(r[0] == "killed" for r in rows)
    survived = sum(r[0] == "survived" for r in rows)
    print(f"{len(candidates)} sites, {len(sample)} mutants (seed {args.seed}):"
          f" {killed} killed, {survived} survived, {len(sample) - killed - survived} stillborn;"
          f" score {killed / max(1, killed + survived):.3f}")


if __name__ == "__main__":
    main()
