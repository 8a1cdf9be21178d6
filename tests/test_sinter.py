"""velkor.sinter: Clifford stand-ins that carry T and CCZ back to velkor, and sinter.collect
agreeing with velkor's own sampling, postselection counted as discards."""

import math

import numpy as np
import pytest

from velkor import CircuitSampler, sample_parallel

stim = pytest.importorskip("stim")
sinter = pytest.importorskip("sinter")
pymatching = pytest.importorskip("pymatching")
velkor_sinter = pytest.importorskip("velkor.sinter")

# A distance-3 repetition code whose data noise sits between T and T_DAG; detector 4 (the last)
# is a good postselection target.
REPETITION = """R 0 1 2 3 4
REPEAT 2 {
    t 0 2 4
    DEPOLARIZE1(0.05) 0 2 4
    T_DAG 0 2 4  # undoes the T when no fault came between
    CX 0 1 2 3
    CX 2 1 4 3
    MR(0.02) 1 3
    DETECTOR rec[-2]
    DETECTOR rec[-1]
}
M 0 2 4
DETECTOR rec[-3] rec[-2] rec[-5]
OBSERVABLE_INCLUDE(0) rec[-1]
EXP_VAL Z0*Z2
"""


@pytest.mark.parametrize("t_gates, stand_in", [
    ("drop", "I[T] 0\nI[T_DAG] 1\nI[CCZ] 0 1 2\nM 0"),
    ("s", "S[T] 0\nS_DAG[T_DAG] 1\nI[CCZ] 0 1 2\nM 0"),
])
def test_stand_in_tags_the_gates_it_replaces(t_gates, stand_in):
    text = "T 0\nt_dag 1\nCCZ 0 1 2\nEXP_VAL X0\nM 0"
    assert velkor_sinter.clifford_stand_in(text, t_gates=t_gates) == stim.Circuit(stand_in)
    assert velkor_sinter.restore_circuit(stim.Circuit(stand_in + "\nX_ERROR[x](0) 0")) == (
        "T 0\nT_DAG 1\nCCZ 0 1 2\nM 0\nX_ERROR(0) 0\n")


@pytest.mark.parametrize("t_gates", ["drop", "s"])
def test_restored_circuit_samples_like_the_original(t_gates):
    stand_in = velkor_sinter.clifford_stand_in(REPETITION, t_gates=t_gates)
    restored = velkor_sinter.restore_circuit(stand_in)
    original = CircuitSampler(REPETITION, seed=3).sample(500).measurements
    assert np.array_equal(CircuitSampler(restored, seed=3).sample(500).measurements, original)


def test_refusals():
    with pytest.raises(ValueError, match="t_gates must be 'drop' or 's', not 'x'"):
        velkor_sinter.clifford_stand_in("T 0", t_gates="x")
    with pytest.raises(ValueError, match="unknown sinter decoder 'nope'"):
        velkor_sinter.VelkorSampler("nope")


@pytest.mark.parametrize("postselect", [(), (4,)])
def test_collect_agrees_with_velkor_sampling(postselect):
    shots = 20_000
    task = velkor_sinter.task(REPETITION, postselect=postselect, json_metadata={"d": 3})
    (stat,) = sinter.collect(num_workers=2, tasks=[task], max_shots=shots,
                             custom_decoders={"velkor": velkor_sinter.VelkorSampler()})
    assert stat.shots == shots and stat.json_metadata == {"d": 3}

    model = task.circuit.detector_error_model(decompose_errors=True)
    own = sample_parallel(REPETITION, shots, seed=1, postselect=postselect, bit_packed=True)
    predicted = pymatching.Matching.from_detector_error_model(model).decode_batch(
        own.detectors, bit_packed_shots=True, bit_packed_predictions=True)
    errors = int((predicted != own.observables).any(axis=1).sum())
    for theirs, ours, total in [(stat.errors, errors, own.accepted_shots),
                                (stat.discards, own.discards, shots)]:
        spread = math.sqrt(max(ours, 1) * (1 - ours / total))
        assert abs(theirs - ours) < 5 * spread * math.sqrt(2)
    assert (stat.discards > 0) == bool(postselect) and errors > 50
