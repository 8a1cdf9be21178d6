"""Peak memory and time per shot of `velkor detect`, per output format and shot count.

Writes the detector bits and, with --obs_out, the observable bits of a noisy circuit from the
shared generators (by default the distance-9, 20-round repetition code at p = 1e-3) to files in a
temporary directory, once per output format and shot count, each in a fresh process. Prints the
wall time per shot and the peak resident memory of that process (from wait4), beside the same
figures for one bit-packed `CircuitSampler.sample` call of as many shots in a fresh process (the
`api` row). The command line samples in chunks, so its peak should not grow with the shot count.

    python bench/command_line.py [--kind rep] [--distance 9] [--rounds 20] [--p 0.001]
        [--shots 102400,1024000] [--formats 01,b8,r8,hits,dets,ptb64] [--circuits PATH]
"""

import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

import velkor
from shared_circuits import load_generators

ROOT = pathlib.Path(__file__).resolve().parent.parent


API_CALL = ("import sys, velkor; velkor.CircuitSampler(open(sys.argv[1]).read(), seed=1)"
            ".sample(int(sys.argv[2]), bit_packed=True)")


def run_python(args: list[str]) -> tuple[float, float]:
    """Wall seconds and peak resident MiB of one Python process."""
    start = time.perf_counter()
    process = subprocess.Popen([sys.executable, *args])
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode:
        raise SystemExit(f"python {' '.join(args)} exited with {process.returncode}")
    return seconds, usage.ru_maxrss / 1024


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kind", default="rep")
    parser.add_argument("--distance", type=int, default=9)
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--p", type=float, default=0.001)
    parser.add_argument("--shots", default="102400,1024000")
    parser.add_argument("--formats", default="01,b8,r8,hits,dets,ptb64")
    parser.add_argument("--circuits", type=pathlib.Path,
                        default=ROOT.parent / "shared" / "bench_circuits.py")
    args = parser.parse_args()
    text = load_generators(args.circuits)[args.kind](args.distance, args.rounds, args.p)
    shot_counts = [int(s) for s in args.shots.split(",")]
    print(f"# python bench/command_line.py --kind {args.kind} --distance {args.distance} "
          f"--rounds {args.rounds} --p {args.p} --shots {args.shots} --formats {args.formats}")
    with tempfile.TemporaryDirectory() as directory:
        circuit = pathlib.Path(directory) / "circuit.stim"
        circuit.write_text(text)
        print(f"# {velkor.CircuitSampler(text)}")
        print(f"{'format':>6} {'shots':>9} {'us/shot':>8} {'peak MiB':>8}")
        for shots in shot_counts:
            runs = {"api": ["-c", API_CALL, str(circuit), str(shots)]}
            for out_format in args.formats.split(","):
                runs[out_format] = [
                    "-m", "velkor", "detect", "--in", str(circuit), "--shots", str(shots),
                    "--seed", "1", "--out_format", out_format, "--out", f"{directory}/dets",
                    "--obs_out", f"{directory}/obs", "--obs_out_format", out_format]
            for name, command in runs.items():
                seconds, peak = run_python(command)
                print(f"{name:>6} {shots:>9} {seconds / shots * 1e6:>8.2f} {peak:>8.1f}")


if __name__ == "__main__":
    main()
