"""Logical error rates of a surface code with T gates, collected by sinter: velkor samples the
shots, pymatching decodes them. The decoder needs a detector error model, which stim derives from
a Clifford stand-in of the circuit: T and T_DAG either dropped or replaced by S and S_DAG. The
last line checks sinter's figure against velkor's own sampling of the same circuit.

Needs the sinter extra: pip install '.[sinter]'
Run: python examples/sinter_collect.py
"""

import pathlib

import pymatching
import sinter

import velkor
import velkor.sinter

CIRCUIT = (pathlib.Path(__file__).parent / "t_surface_code.stim").read_text()
SHOTS = 100_000


def main() -> None:
    tasks = [velkor.sinter.task(CIRCUIT, t_gates=choice, json_metadata={"t_gates": choice})
             for choice in ("drop", "s")]
    stats = sinter.collect(num_workers=2, tasks=tasks, max_shots=SHOTS,
                           custom_decoders={"velkor": velkor.sinter.VelkorSampler("pymatching")})
    for stat in sorted(stats, key=lambda stat: stat.json_metadata["t_gates"]):
        rate = stat.errors / (stat.shots - stat.discards)
        print(f"T gates {stat.json_metadata['t_gates']:>4} in the decoder's model: "
              f"{stat.errors} errors in {stat.shots} shots, logical error rate {rate:.4f}")

    # The same count without sinter: sample on every core, decode with the "drop" model.
    model = velkor.sinter.clifford_stand_in(CIRCUIT).detector_error_model(decompose_errors=True)
    result = velkor.sample_parallel(CIRCUIT, SHOTS, seed=1, bit_packed=True)
    predicted = pymatching.Matching.from_detector_error_model(model).decode_batch(
        result.detectors, bit_packed_shots=True, bit_packed_predictions=True)
    errors = int((predicted != result.observables).any(axis=1).sum())
    print(f"velkor.sample_parallel + pymatching (drop): {errors} errors in {SHOTS} shots, "
          f"logical error rate {errors / SHOTS:.4f}")


if __name__ == "__main__":  # sinter's workers are spawned processes that import this file
    main()
