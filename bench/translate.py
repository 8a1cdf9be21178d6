"""Time velkor.translate_circuit on generated surface-code memory circuits that use H.

For distances 3 to 9 and 3 to 100000 rounds, prints the best of three translation times and,
as the baseline measured in the same run, the time the circuit reader takes to build a
CircuitSampler from the translated text (up to 1000 rounds; reading expands every round).
Translation runs a block's rounds only until they repeat, so its cost should grow with the
distance and stay flat in the number of rounds.

    pip install '.[bench]' && python bench/translate.py
"""

import argparse
import time

import stim

import velkor


def best_of(repeats, function):
    """The shortest of `repeats` wall-clock times of function(), in seconds."""
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    """Prints one line per circuit: distance, rounds, translation and reading times."""
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--distances", type=int, nargs="+", default=[3, 5, 7, 9])
    parser.add_argument("--rounds", type=int, nargs="+", default=[3, 1000, 100000])
    args = parser.parse_args()
    print("task surface_code:rotated_memory_x, p = 0.001 everywhere; times in milliseconds")
    print(f"{'d':>3} {'rounds':>7} {'translate':>10} {'read':>10} {'translate/read':>15}")
    for distance in args.distances:
        for rounds in args.rounds:
            text = str(stim.Circuit.generated(
                "surface_code:rotated_memory_x", distance=distance, rounds=rounds,
                after_clifford_depolarization=0.001, before_round_data_depolarization=0.001,
                before_measure_flip_probability=0.001, after_reset_flip_probability=0.001))
            translate = best_of(3, lambda: velkor.translate_circuit(text))
            line = f"{distance:>3} {rounds:>7} {translate * 1e3:>10.2f}"
            if rounds <= 1000:
                translated = velkor.translate_circuit(text)
                read = best_of(3, lambda: velkor.CircuitSampler(translated, seed=1))
                line += f" {read * 1e3:>10.2f} {translate / read:>15.2f}"
            print(line)


if __name__ == "__main__":
    main()
