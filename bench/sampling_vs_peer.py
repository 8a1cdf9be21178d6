"""Per-shot CPU time of CircuitSampler.sample_detectors beside stim's compiled detector sampler.

For each circuit kind and distance (rounds = distance), builds the circuit text with the shared
generators, samples detector and observable rows with velkor and with stim's
`compile_detector_sampler` in this process and prints the CPU time per shot (time.process_time)
of both, their ratio (stim time / velkor time, so above 1 means velkor is faster) and, per kind,
the growth exponent of each column in the distance (least-squares slope of log time against
log d). For `t-surface` the stim column times the Clifford surface circuit, since stim cannot
read T gates. Each figure is the best of --rounds rounds; a round samples enough shots to fill
--budget seconds of CPU time.

    python bench/sampling_vs_peer.py [--kinds rep,surface,t-surface] [--distances 3,5,7,9]
        [--budget 0.5] [--rounds 3] [--general] [--circuits PATH]

--general makes every velkor sampler use the general interpreter (the compiled path off).
"""

import argparse
import math
import pathlib
import sys
import time

import velkor
from shared_circuits import load_generators

ROOT = pathlib.Path(__file__).resolve().parent.parent
DEFAULT_DISTANCES = {"rep": [3, 5, 7, 9, 11], "surface": [3, 5, 7, 9], "t-surface": [3, 5, 7, 9]}
PEER_KIND = {"rep": "rep", "surface": "surface", "t-surface": "surface"}


def seconds_per_shot(sample, budget: float, rounds: int) -> float:
    """Best of `rounds` CPU-time measurements; shots per round grow until a round fills budget."""
    shots = 1
    while True:
        start = time.process_time()
        sample(shots)
        spent = time.process_time() - start
        if spent >= budget / 4:
            break
        shots *= 4
    shots = max(1, int(shots * budget / max(spent, 1e-9)))
    best = math.inf
    for _ in range(rounds):
        start = time.process_time()
        sample(shots)
        best = min(best, (time.process_time() - start) / shots)
    return best


def growth_exponent(distances, times) -> float:
    xs = [math.log(d) for d in distances]
    ys = [math.log(t) for t in times]
    mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
    den = sum((x - mx) ** 2 for x in xs)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / den if den else math.nan


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kinds", default="rep,surface,t-surface")
    parser.add_argument("--distances", default=None, help="comma list; default per kind")
    parser.add_argument("--p", type=float, default=1e-3)
    parser.add_argument("--budget", type=float, default=0.5, help="CPU seconds per round")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--general", action="store_true", help="velkor's general interpreter")
    parser.add_argument("--no-peer", action="store_true", help="skip stim")
    parser.add_argument("--circuits", type=pathlib.Path,
                        default=ROOT.parent / "shared" / "bench_circuits.py")
    args = parser.parse_args()
    generators = load_generators(args.circuits)
    stim = None if args.no_peer else __import__("stim")

    print(f"command: python {' '.join(sys.argv)}")
    print(f"velkor {'general' if args.general else 'default'} path"
          + ("" if stim is None else f" vs stim {stim.__version__} compile_detector_sampler")
          + f"; p={args.p}, rounds=d, CPU time per shot, best of {args.rounds}")
    print(f"{'kind':10s} {'d':>3s} {'compiled':>8s} {'velkor us':>11s} {'stim us':>9s} "
          f"{'stim/velkor':>11s}")
    for kind in args.kinds.split(","):
        distances = ([int(d) for d in args.distances.split(",")] if args.distances
                     else DEFAULT_DISTANCES[kind])
        ours, peers = [], []
        for d in distances:
            sampler = velkor.CircuitSampler(generators[kind](d, d, args.p), seed=1)
            if args.general:
                sampler._use_general_path()
            ours.append(seconds_per_shot(lambda n: sampler.sample_detectors(n), args.budget, args.rounds))
            line = (f"{kind:10s} {d:3d} {str(sampler._compiled):>8s} {ours[-1] * 1e6:11.3f}")
            if stim is not None:
                peer = stim.Circuit(generators[PEER_KIND[kind]](d, d, args.p))
                compiled = peer.compile_detector_sampler(seed=1)
                peers.append(seconds_per_shot(
                    lambda n: compiled.sample(n, separate_observables=True),
                    args.budget, args.rounds))
                line += f" {peers[-1] * 1e6:9.3f} {peers[-1] / ours[-1]:11.4f}"
            print(line, flush=True)
        if len(distances) > 1:
            exponent = growth_exponent(distances, ours)
            summary = f"{kind:10s} growth exponent in d: velkor {exponent:.2f}"
            if peers:
                summary += f", stim {growth_exponent(distances, peers):.2f}"
            print(summary)


if __name__ == "__main__":
    main()
