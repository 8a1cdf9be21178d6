"""Mutation score of the C++ core: a fixed, seeded sample of small source mutations (operators,
constants, conditions), each built and run against the whole test suite with a time limit.

    python tools/mutants.py --count 200 --seed 1 [--source DIR] [--shard K/N] [--resume]
    python tools/mutants.py --recheck OUTCOMES --base COMMIT [--only killed|all]
    python tools/mutants.py --uniques OUTCOMES --source DIR   # which kills one file alone makes

Each mutant is applied to a scratch copy of the checkout (build/mutants/tree) and rebuilt
incrementally with CMake and Ninja: the mutated object, the core library, the GoogleTest binary
and the extension module. The extension sits beside a copy of python/velkor on PYTHONPATH, so
pytest and every process the tests start import the mutant. The C++ tests run first, then
pytest -x: a mutant is killed when a test fails, the run crashes or exceeds the time limit, and the
first failing test is recorded as its killer; it survives when everything passes and is
stillborn when it does not compile (not counted).

--source takes the checkout from a directory (for example a `git archive` of an earlier commit),
so that a run can measure a suite as it was. --shard K/N runs every Nth mutant of the sample in its
own scratch tree, so that N runs can share the sample; --resume skips the mutants that any
outcomes file of the same sample already holds and reuses the scratch tree's build.

Outcomes go to build/mutants/outcomes*.tsv (outcome, site, killer, mutated line), survivors first.
--recheck runs the current suite on the mutants of an earlier outcomes file (by default only those
it killed): each mutated line is found again in the current source by its text at --base, and
mutants whose line has changed since are left out. It reports any mutant killed before that now
survives. --uniques reruns each killed mutant without its killer's file and writes which mutants
only that file kills to build/mutants/uniques.tsv.
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
SOURCE = ROOT  # the checkout the mutants are made of; sites are named relative to it
TREE = WORK / "tree"
BUILD = TREE / "build" / "mutant"
PACKAGE = BUILD / "pkg"


def use(source: pathlib.Path, tree: str) -> None:
    """Takes mutants from the checkout at source, built in the scratch tree WORK/tree."""
    global SOURCE, TREE, BUILD, PACKAGE
    SOURCE, TREE = source.resolve(), WORK / tree
    BUILD = TREE / "build" / "mutant"
    PACKAGE = BUILD / "pkg"


def log(name: str) -> pathlib.Path:
    return WORK / f"{TREE.name}-{name}.log"

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
PYTEST_LINE = re.compile(r"^(tests/\S+::.+?)(?: (PASSED|FAILED|ERROR|SKIPPED|XFAIL|XPASS)\b.*)?$")


def sources() -> list[pathlib.Path]:
    """The core's .cc files: not the bindings, tests, benchmarks, fuzz targets or test helpers."""
    return sorted(
        p for p in (SOURCE / "src").rglob("*.cc")
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
    return f"{path.relative_to(SOURCE)}:{number + 1}:{start + 1}:{end + 1}:{replacement}"


def parse_site(name: str) -> tuple[pathlib.Path, int, int, int, str]:
    path, number, start, end, replacement = name.split(":", 4)
    return SOURCE / path, int(number) - 1, int(start) - 1, int(end) - 1, replacement


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
        status, test = (m[1], m[2]) if pattern is GTEST_LINE else (m[2], m[1].strip())
        if status in bad:
            return test
        running = test if status in (None, "RUN") else "?"
    return running


def build() -> bool:
    return run(["cmake", "--build", str(BUILD), "-j2"], 1800, log("build")) == "pass"


def prepare(reuse: bool = False) -> None:
    """Copies the checkout into the scratch tree and builds it; with reuse, only the files that
    differ are copied again (a run stopped mid-mutant leaves its mutant behind) and the build is
    incremental."""
    WORK.mkdir(parents=True, exist_ok=True)
    ignore = shutil.ignore_patterns("build", ".git", "*.egg-info", "__pycache__")
    if reuse and (BUILD / "build.ninja").exists():
        for path in SOURCE.rglob("*"):
            relative = path.relative_to(SOURCE)
            if path.is_file() and not {"build", ".git", "__pycache__"} & set(relative.parts):
                copy = TREE / relative
                if not copy.exists() or copy.read_bytes() != path.read_bytes():
                    copy.parent.mkdir(parents=True, exist_ok=True)
                    shutil.copy2(path, copy)
        shutil.rmtree(PACKAGE, ignore_errors=True)
    else:
        shutil.rmtree(TREE, ignore_errors=True)
        shutil.copytree(SOURCE, TREE, ignore=ignore)
    configure = ["cmake", "-S", str(TREE), "-B", str(BUILD), "-G", "Ninja",
                 "-DVELKOR_BUILD_TESTS=ON", "-DVELKOR_BUILD_EXTENSION=ON",
                 "-DCMAKE_BUILD_TYPE=Release", f"-DPython_EXECUTABLE={sys.executable}"]
    if run(configure, 600, log("configure")) != "pass" or not build():
        sys.exit(f"the unmutated checkout does not build: see {log('build')}")
    shutil.copytree(TREE / "python" / "velkor", PACKAGE / "velkor")
    for module in BUILD.glob("_core*.so"):
        (PACKAGE / "velkor" / module.name).symlink_to(module)
    probe = [sys.executable, "-c", "import velkor; print(velkor.__file__)"]
    if run(probe, 60, log("probe")) != "pass" or not (
            (log("probe")).read_text().startswith(str(PACKAGE))):
        sys.exit(f"velkor does not import from {PACKAGE}: see {log('probe')}")


def test(timeout: float, skip: str = "") -> tuple[str, str]:
    """(outcome, killer) of the suite on the scratch tree as built, without the file skip."""
    began = time.monotonic()
    gtest = [str(BUILD / "velkor_tests"), "--gtest_fail_fast"]
    cxx_skip = suites_of(skip)
    if cxx_skip:
        gtest.append("--gtest_filter=-" + ":".join(f"{s}.*:{s}/*" for s in cxx_skip))
    result = run(gtest, timeout, log("cxx"))
    if result != "pass":
        return "killed", first_failure(log("cxx"), GTEST_LINE, {"FAILED"})
    files = sorted(TREE.glob("tests/test_*.py"),
                   key=lambda p: (FIRST.index(p.name) if p.name in FIRST else len(FIRST), p.name))
    pytest = [sys.executable, "-m", "pytest", "-x", "-v", "-p", "no:cacheprovider",
              "-p", "no:randomly"]
    pytest += [str(p.relative_to(TREE)) for p in files if str(p.relative_to(TREE)) != skip]
    result = run(pytest, timeout - (time.monotonic() - began), log("py"))
    if result != "pass":
        return "killed", first_failure(log("py"), PYTEST_LINE, {"FAILED", "ERROR"})
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
    target = TREE / path.relative_to(SOURCE)
    original = target.read_text()
    lines = original.splitlines(keepends=True)
    lines[number] = lines[number][:start] + replacement + lines[number][end:]
    target.write_text("".join(lines))
    return target, original, lines[number].strip()


def each_mutant(sample, timeout: float, skip_of=lambda name: "", done=lambda name: False):
    """Builds and runs every mutant of the sample that is not done; yields (outcome, site, killer,
    line)."""
    for i, site in enumerate(sample):
        if done(site_name(site)):
            continue
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


def killer_file_changed(base: str, since: str, killer: str) -> bool:
    """Whether the file that held the killing test at the commit base differs now from since."""
    if "::" in killer:
        files = [killer.split("::")[0]]
    else:
        suite = killer.split(".")[0].split("/")[-1]
        files = subprocess.run(["git", "grep", "-l", "-E", rf"TEST(_F|_P)?\({suite},", base, "--",
                                "*_test.cc"], cwd=ROOT, capture_output=True,
                               text=True).stdout.split()
        files = [f.split(":", 1)[1] for f in files] or ["?"]
    return "?" in files or any(
        subprocess.run(["git", "diff", "--quiet", since, "--", f], cwd=ROOT).returncode
        for f in files)


def relocate(base: str, sites: list[str]) -> dict[str, str]:
    """The site names of the current source for sites named at the commit base: the same line
    text, nearest to where it was. Sites whose line no longer exists are left out."""
    moved = {}
    for name in sites:
        path, number, start, end, replacement = parse_site(name)
        relative = str(path.relative_to(SOURCE))
        old = subprocess.run(["git", "show", f"{base}:{relative}"], cwd=ROOT, capture_output=True,
                             text=True).stdout.splitlines()
        now = path.read_text().splitlines() if path.exists() else []
        same = [i for i, line in enumerate(now) if number < len(old) and line == old[number]]
        if same:
            nearest = min(same, key=lambda i: abs(i - number))
            moved[name] = site_name((path, nearest, start, end, replacement))
    return moved


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--timeout", type=float, default=240.0, help="seconds per mutant's tests")
    parser.add_argument("--source", type=pathlib.Path, default=ROOT,
                        help="the checkout to mutate and test (default: this one)")
    parser.add_argument("--shard", default="0/1", help="K/N: run every Nth mutant from the Kth")
    parser.add_argument("--reverse", action="store_true",
                        help="take the shard's mutants last first, so that a second run of the"
                             " same shard (in a tree of its own) meets the first halfway")
    parser.add_argument("--tree", help="the scratch tree under build/mutants to use")
    parser.add_argument("--resume", action="store_true",
                        help="skip mutants already in this shard's outcomes; reuse its build")
    parser.add_argument("--recheck", metavar="OUTCOMES", help="rerun an earlier outcomes file")
    parser.add_argument("--base", help="the commit the OUTCOMES of --recheck were taken at")
    parser.add_argument("--changed-since", metavar="COMMIT",
                        help="with --only changed: test files changed since COMMIT"
                             " (default: --base)")
    parser.add_argument("--only", choices=("changed", "killed", "all"), default="killed",
                        help="recheck mutants killed by a test file changed since --base, all"
                             " killed mutants, or the survivors too")
    parser.add_argument("--uniques", metavar="OUTCOMES",
                        help="rerun killed mutants without their killer's file")
    args = parser.parse_args()
    shard, shards = map(int, args.shard.split("/"))
    if args.recheck:
        use(args.source, f"recheck-{shard}")
    else:
        tree = ("tree" if shard == 0 else f"tree-{shard}") + "r" * args.reverse
        use(args.source, args.tree or tree)

    if args.recheck:
        if not args.base:
            sys.exit("--recheck needs --base, the commit its outcomes were taken at")
        rows = [r for r in read_outcomes(args.recheck)
                if (r[0] == "killed" and (args.only != "changed" or killer_file_changed(
                    args.base, args.changed_since or args.base, r[2])))
                or (args.only == "all" and r[0] == "survived")]
        rows = rows[shard::shards]
        moved = relocate(args.base, [r[1] for r in rows])
        before = {moved[r[1]]: r for r in rows if r[1] in moved}
        prepare(args.resume)
        if test(3600) != ("survived", ""):
            sys.exit(f"the unmutated checkout fails its tests: see {log('cxx')} and {log('py')}")
        print(f"rechecking {len(before)} mutants", flush=True)
        now = []
        for row in each_mutant([parse_site(name) for name in before], args.timeout):
            now.append(row)
            write_outcomes(now, WORK / f"recheck-{shard}.tsv")
        lost = [r for r in now if r[0] != "killed" and before[r[1]][0] == "killed"]
        print(f"{len(rows)} mutants to recheck, {len(rows) - len(before)} left out (line changed);"
              f" {sum(r[0] == 'killed' for r in now)} of {len(now)} killed now,"
              f" {sum(before[r[1]][0] == 'killed' for r in now)} before;"
              f" {len(lost)} killed before and not now")
        for row in lost:
            print("\t".join(row))
        return

    if args.uniques:
        rows = [r for r in read_outcomes(args.uniques) if r[0] == "killed"]
        prepare(args.resume)
        files = {r[1]: file_of(r[2]) for r in rows}
        killers = {r[1]: r[2] for r in rows}
        with open(WORK / "uniques.tsv", "w") as out:
            for outcome, name, killer, line in each_mutant(
                    [parse_site(r[1]) for r in rows], args.timeout, files.get):
                if outcome == "survived":
                    out.write(f"{files[name]}\t{killers[name]}\t{name}\t{line}\n")
                    out.flush()
        print(f"see {WORK}/uniques.tsv for the mutants one file alone kills")
        return

    candidates = sites()
    sample = random.Random(args.seed).sample(candidates, min(args.count, len(candidates)))
    outcomes = WORK / ("outcomes" + ("" if shards == 1 else f"-{shard}") + "r" * args.reverse
                       + ".tsv")
    rows = read_outcomes(str(outcomes)) if args.resume and outcomes.exists() else []

    def done(name: str) -> bool:
        return args.resume and any(name == r[1] for path in WORK.glob("outcomes*.tsv")
                                   for r in read_outcomes(str(path)))

    mine = [site for i, site in enumerate(sample) if i % shards == shard]
    mine = [site for site in mine[::-1 if args.reverse else 1] if not done(site_name(site))]
    prepare(args.resume)
    if not rows and test(3600) != ("survived", ""):
        sys.exit(f"the unmutated checkout fails its tests: see {log('cxx')} and {log('py')}")
    for row in each_mutant(mine, args.timeout, done=done):
        rows.append(row)
        write_outcomes(rows, outcomes)  # readable while the run goes on
    killed = sum(r[0] == "killed" for r in rows)
    survived = sum(r[0] == "survived" for r in rows)
    print(f"{len(candidates)} sites, {len(rows)} mutants (seed {args.seed}, shard {args.shard}):"
          f" {killed} killed, {survived} survived, {len(rows) - killed - survived} stillborn;"
          f" score {killed / max(1, killed + survived):.3f}")


if __name__ == "__main__":
    main()
