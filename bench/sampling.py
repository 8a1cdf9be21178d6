"""Circuit sampling throughput, in shots per second, against Stim baselines in the same run.

For each example circuit and for a distance-5, 5-round repetition-code memory experiment with 1%
depolarizing noise, times CircuitSampler.sample (records, detectors and observables as NumPy
arrays). For the circuits Stim can read (Clifford ones), it also times, on the same circuit text,
Stim's TableauSimulator run shot by shot (a fresh simulator per shot, as velkor does) and Stim's
compiled detector sampler, and prints velkor's rate divided by each. Each figure is the best of
several rounds, rounds interleaved so that machine drift hits every contender alike.

    pip install '.[bench]' && python bench/sampling.py [--shots N] [--tableau-shots N] [--rounds R]
"""

import argparse
import pathlib
import sys
import time

import stim

import velkor

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"


def repetition_memory(distance: int, rounds: int, p: float) -> str:
    """A bit-flip repetition-code memory experiment: data qubits 0, 2, ..., ancillas 1, 3, ...;
    depolarizing noise p on data qubits each round and after every CX layer, and readout flips p."""
    data = list(range(0, 2 * distance, 2))
    ancillas = list(range(1, 2 * distance - 1, 2))
    qubits = lambda qs: " ".join(map(str, qs))  # noqa: E731
    left = qubits(q for a in ancillas for q in (a - 1, a))
    right = qubits(q for a in ancillas for q in (a + 1, a))
    n = len(ancillas)
    lines = [f"R {qubits(range(2 * distance - 1))}"]
    for r in range(rounds):
        lines += [f"DEPOLARIZE1({p}) {qubits(data)}",
                  f"CX {left}", f"DEPOLARIZE2({p}) {left}",
                  f"CX {right}", f"DEPOLARIZE2({p}) {right}",
                  f"X_ERROR({p}) {qubits(ancillas)}", f"MR {qubits(ancillas)}"]
        for i in range(n):
            earlier = f" rec[-{2 * n - i}]" if r > 0 else ""
            lines.append(f"DETECTOR rec[-{n - i}]{earlier}")
    lines += [f"X_ERROR({p}) {qubits(data)}", f"M {qubits(data)}"]
    for i in range(n):  # data i and i + 1 against the last round's ancilla i
        lines.append(f"DETECTOR rec[-{distance - i}] rec[-{distance - i - 1}] "
                     f"rec[-{distance + n - i}]")
    lines.append("OBSERVABLE_INCLUDE(0) rec[-1]")
    return "\n".join(lines) + "\n"


def best_rate(run, shots: int, best: dict, name: str) -> None:
    start = time.perf_counter()
    run(shots)
    best[name] = max(best.get(name, 0.0), shots / (time.perf_counter() - start))


def tableau_shots(circuit: stim.Circuit):
    def run(shots: int) -> None:
        for _ in range(shots):
            sim = stim.TableauSimulator()
            sim.do_circuit(circuit)
            sim.current_measurement_record()
    return run


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shots", type=int, default=200_000)
    parser.add_argument("--tableau-shots", type=int, default=5_000)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    circuits = {path.name: path.read_text() for path in sorted(EXAMPLES.glob("*.stim"))}
    circuits["repetition d=5 r=5 p=0.01"] = repetition_memory(5, 5, 0.01)

    print(f"command: python {' '.join(sys.argv)}")
    print(f"velkor vs stim {stim.__version__}; best of {args.rounds} rounds; "
          f"{args.shots} shots per round ({args.tableau_shots} for the tableau baseline)")
    header = (f"{'circuit':28s} {'velkor shots/s':>15s} {'tableau shots/s':>16s} {'ratio':>7s} "
              f"{'compiled shots/s':>17s} {'ratio':>7s}")
    print(header)
    for name, text in circuits.items():
        sampler = velkor.CircuitSampler(text, seed=1)
        contenders = {"velkor": (lambda n: sampler.sample(n), args.shots)}
        try:
            circuit = stim.Circuit(text)
        except ValueError:  # T, CCZ or EXP_VAL: outside Stim's gate set
            circuit = None
        if circuit is not None:
            compiled = circuit.compile_detector_sampler(seed=1)
            contenders["tableau"] = (tableau_shots(circuit), args.tableau_shots)
            contenders["compiled"] = (
                lambda n: compiled.sample(n, append_observables=True), args.shots)
        best: dict[str, float] = {}
        for _ in range(args.rounds):
            for contender, (run, shots) in contenders.items():
                best_rate(run, shots, best, contender)
        row = f"{name:28s} {best['velkor']:15,.0f}"
        if circuit is None:
            row += f" {'n/a (not Clifford)':>16s}"
        else:
            row += (f" {best['tableau']:16,.0f} {best['velkor'] / best['tableau']:6.2f}x"
                    f" {best['compiled']:17,.0f} {best['velkor'] / best['compiled']:6.3f}x")
        print(row)


if __name__ == "__main__":
    main()
