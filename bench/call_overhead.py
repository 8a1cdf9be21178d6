"""Python call overhead of Simulator gate methods, in ns per call.

Times `sim.t(0)` and `sim.cnot(0, 1)` in a tight loop beside baselines measured in the same run:
the bare loop, an empty Python method with the same signature, and a C method of a builtin.
Each figure is the best of several rounds, rounds interleaved so that machine drift hits all
of them alike.

    python bench/call_overhead.py [--calls N] [--rounds R]
"""

import argparse
import sys
import timeit

import velkor


class EmptySimulator:
    def t(self, *targets):
        pass


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=1_000_000)
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()

    sim = velkor.Simulator(seed=1)
    sim.reset_x(0, 1)  # both qubits carry a path variable, so t adds a real phase term
    empty = EmptySimulator()
    items: list[int] = []
    cases = {
        "loop alone (for _ in range(n): pass)": "pass",
        "empty Python method empty.t(0)": "empty.t(0)",
        "builtin C method items.clear()": "items.clear()",
        "sim.t(0)": "sim.t(0)",
        "sim.cnot(0, 1)": "sim.cnot(0, 1)",
        "sim.x(0)": "sim.x(0)",
        "sim.peek_probability(0)": "sim.peek_probability(0)",
    }
    env = {"sim": sim, "empty": empty, "items": items}
    timers = {name: timeit.Timer(stmt, globals=env) for name, stmt in cases.items()}
    best = {name: float("inf") for name in cases}
    for _ in range(args.rounds):
        for name, timer in timers.items():
            best[name] = min(best[name], timer.timeit(args.calls) / args.calls * 1e9)

    print(f"command: python {' '.join(sys.argv)}")
    print(f"Python {sys.version.split()[0]}, best of {args.rounds} rounds of {args.calls} calls")
    for name, ns in best.items():
        print(f"{name:40s} {ns:7.1f} ns/call")
    loop = best["loop alone (for _ in range(n): pass)"]
    print(f"{'sim.t(0) minus the bare loop':40s} {best['sim.t(0)'] - loop:7.1f} ns/call")


if __name__ == "__main__":
    main()
