"""Dense state-vector export, in ns per amplitude, beside NumPy filling an array of that size.

For each register size n the state has n qubits and n path variables (an X reset on every
qubit), rows mixed by random CNOTs, and a few hundred phase terms from T gates on those mixed
rows. The baseline, measured in the same run, is np.full of 2^n complex64 values: allocating
and writing the same number of bytes as the export. Figures are the best of several rounds.

    python bench/state_vector.py [--qubits 20 22 24] [--t-gates 300] [--rounds 3]
"""

import argparse
import random
import sys
import time

import numpy as np

import velkor


def prepared_simulator(num_qubits: int, t_gates: int, seed: int) -> velkor.Simulator:
    rng = random.Random(seed)
    sim = velkor.Simulator(seed=seed)
    sim.reset_x(*range(num_qubits))
    for _ in range(t_gates):
        control, target = rng.sample(range(num_qubits), 2)
        sim.cnot(control, target)
        sim.t(rng.randrange(num_qubits))
    return sim


def best_seconds(action, rounds: int) -> float:
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        action()
        best = min(best, time.perf_counter() - start)
    return best


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--qubits", type=int, nargs="+", default=[20, 22, 24])
    parser.add_argument("--t-gates", type=int, default=300)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    print(f"command: python {' '.join(sys.argv)}")
    print(f"{args.t_gates} T gates (phase terms) on CNOT-mixed rows, best of {args.rounds} rounds")
    print(f"{'qubits':>6} {'state_vector ns/amp':>20} {'np.full ns/amp':>15} {'ratio':>7}")
    for n in args.qubits:
        sim = prepared_simulator(n, args.t_gates, seed=n)
        size = 1 << n
        export = best_seconds(sim.state_vector, args.rounds) / size * 1e9
        fill = best_seconds(lambda: np.full(size, 0.5 + 0.5j, dtype=np.complex64), args.rounds)
        fill = fill / size * 1e9
        print(f"{n:6d} {export:20.2f} {fill:15.2f} {export / fill:7.1f}x")


if __name__ == "__main__":
    main()
