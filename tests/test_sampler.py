"""CircuitSampler and SampleResult: counts and fault sites, reference-relative detectors and
observables, postselection, fixed-fault sampling, one random stream across calls, the array
layouts and every message."""

import _thread
import math
import threading
import time

import numpy as np
import pytest

from chacha8 import ChaCha8
from velkor import CircuitSampler, MeasurementError, SampleResult, sample_parallel

# A circuit whose X measurement (record index 3) is refused when the random `M 2` gives 1: with
# seed 10 the first such shot is shot 4, while the reference run draws 0.
REFUSED_IN_SHOT = "M 5 6\nRX 0 1 2\nM 2\nCZ 0 1\nT 1\nCCZ 0 1 2\nT 2\nMX 1"
REFUSAL = "X measurement on qubit 1 is incompatible: odd phase is not two-valued"


def noisy_bits(n, p=0.5):
    """n independent random bits per shot: X_ERROR(p) on n qubits, then M."""
    qubits = " ".join(map(str, range(n)))
    return f"X_ERROR({p}) {qubits}\nM {qubits}"


def outcome(sampler, shots, **options):
    """The measurement record of a call, or the message of the MeasurementError it raised."""
    try:
        return sampler.sample(shots, **options).measurements.tolist()
    except MeasurementError as error:
        return str(error)


# ---- Counts, fault sites and repr.


@pytest.mark.parametrize("circuit, counts", [
    ("", (0, 0, 0, 0, 0, 0)),
    ("X_ERROR(0) 0 1", (2, 0, 0, 0, 0, 2)),
    ("M(0.1) 0 1", (2, 2, 0, 0, 0, 2)),
    ("M(0) 0 1", (2, 2, 0, 0, 0, 2)),
    ("M 0 1", (2, 2, 0, 0, 0, 0)),
    ("MPP(0.01) X0*X1 Z2", (3, 2, 0, 0, 0, 2)),
    ("M 0 1\nMPP X0*X1 Z2", (3, 4, 0, 0, 0, 0)),
    ("DEPOLARIZE2(0.1) 0 1 2 3", (4, 0, 0, 0, 0, 2)),
    ("DEPOLARIZE3(0.1) 0 1 2", (3, 0, 0, 0, 0, 1)),
    ("PAULI_CHANNEL_1(0.1, 0, 0) 4 5", (6, 0, 0, 0, 0, 2)),
    ("PAULI_CHANNEL_2(" + ", ".join(["0.01"] * 15) + ") 0 1 2 3", (4, 0, 0, 0, 0, 2)),
    ("REPEAT 3 {\nX_ERROR(0.1) 0\n}", (1, 0, 0, 0, 0, 3)),
    ("M 0\nOBSERVABLE_INCLUDE(3) rec[-1]", (1, 1, 0, 4, 0, 0)),
    ("M 0\nDETECTOR rec[-1]\nDETECTOR(1, 2) rec[-1]", (1, 1, 2, 0, 0, 0)),
    ("EXP_VAL X0*Z7 Y1\nEXP_VAL Z2", (8, 0, 0, 0, 3, 0)),
])
def test_counts_and_repr(circuit, counts):
    sampler = CircuitSampler(circuit, seed=1)
    names = ["num_qubits", "num_measurements", "num_detectors", "num_observables",
             "num_exp_vals", "num_fault_sites"]
    assert tuple(getattr(sampler, name) for name in names) == counts
    assert repr(sampler) == "CircuitSampler(" + ", ".join(
        f"{name}={value}" for name, value in zip(names, counts)) + ")"


def test_classes_and_signatures():
    assert CircuitSampler.__module__ == "velkor._core"
    assert CircuitSampler.__name__ == "CircuitSampler"
    assert CircuitSampler.__text_signature__ == "(circuit, *, seed=None, postselect=None)"
    for method in [CircuitSampler.sample, CircuitSampler.sample_detectors]:
        assert method.__text_signature__ == "($self, shots, *, bit_packed=False, num_faults=None)"
    assert (SampleResult.__module__, SampleResult.__name__) == ("velkor._core", "SampleResult")
    assert SampleResult.__doc__ is None  # an empty docstring
    with pytest.raises(TypeError, match="^cannot create 'velkor._core.SampleResult' instances$"):
        SampleResult()
    with pytest.raises(AttributeError):
        CircuitSampler("", seed=1).num_qubits = 3


# ---- Result arrays.


@pytest.mark.parametrize("shots", [0, 3])
def test_empty_circuit_gives_empty_rows(shots):
    result = CircuitSampler("").sample(shots)
    for name in ["measurements", "detectors", "observables"]:
        array = getattr(result, name)
        assert (array.shape, array.dtype) == ((shots, 0), np.bool_)
    assert (result.exp_vals.shape, result.exp_vals.dtype) == ((shots, 0), np.float64)
    assert (result.total_shots, result.accepted_shots, result.discards) == (shots, shots, 0)


def test_arrays_adopt_the_sampled_rows():
    result = CircuitSampler(noisy_bits(5) + "\nDETECTOR rec[-1]\nEXP_VAL Z0", seed=3).sample(4)
    for name in ["measurements", "detectors", "observables", "exp_vals"]:
        array = getattr(result, name)
        assert array is getattr(result, name)
        assert array.flags.c_contiguous and array.flags.writeable and not array.flags.owndata
        assert array.base is not None
    original = bool(result.measurements[0, 0])
    result.measurements[0, 0] = not original
    assert result.measurements[0, 0] == (not original)
    assert repr(result) == "SampleResult(total_shots=4, accepted_shots=4)"


def packbits(rows):
    return np.packbits(rows, axis=1, bitorder="little")


@pytest.mark.parametrize("width, shots", [
    (1, 0), (7, 9), (8, 64), (9, 63), (17, 8), (63, 65), (64, 7), (65, 33), (130, 1),
])
@pytest.mark.parametrize("postselect", [None, [0]])
@pytest.mark.parametrize("num_faults", [None, 5])
def test_every_layout_holds_the_same_draws(width, shots, postselect, num_faults):
    """sample and sample_detectors, packed or not, give one seed's rows: packed rows are
    numpy.packbits of the plain ones (little bit order), and the stream ends in the same place."""
    circuit = (noisy_bits(width, 0.3) + "".join(f"\nDETECTOR rec[-{k + 1}]" for k in range(width))
               + f"\nOBSERVABLE_INCLUDE({width - 1}) rec[-1]\nEXP_VAL Z0")
    make = lambda: CircuitSampler(circuit, seed=width, postselect=postselect)  # noqa: E731
    num_faults = num_faults and min(num_faults, width)
    plain_sampler = make()
    plain = plain_sampler.sample(shots, num_faults=num_faults)
    after = plain_sampler.sample(3).measurements
    for method, bit_packed in [("sample", True), ("sample_detectors", False),
                               ("sample_detectors", True)]:
        sampler = make()
        result = getattr(sampler, method)(shots, bit_packed=bit_packed, num_faults=num_faults)
        pack = packbits if bit_packed else (lambda rows: rows)  # noqa: E731
        for name in ["detectors", "observables"] + (["measurements"] if method == "sample" else []):
            array = getattr(result, name)
            assert array.dtype == (np.uint8 if bit_packed else np.bool_)
            assert array.flags.c_contiguous and array.flags.writeable
            np.testing.assert_array_equal(array, pack(getattr(plain, name)))
        np.testing.assert_array_equal(result.exp_vals, plain.exp_vals)
        if method == "sample_detectors":
            assert result.measurements.shape == (plain.accepted_shots, 0)
        assert (result.total_shots, result.accepted_shots) == (shots, plain.accepted_shots)
        np.testing.assert_array_equal(sampler.sample(3).measurements, after)


# ---- Reference-relative values.


@pytest.mark.parametrize("circuit, expected", [
    ("X 0\nM 0\nOBSERVABLE_INCLUDE(0) rec[-1]", lambda m: ([], [m[0] ^ 1])),
    (noisy_bits(1) + "\nOBSERVABLE_INCLUDE(3) rec[-1]", lambda m: ([], [0, 0, 0, m[0]])),
    (noisy_bits(3) + "\nOBSERVABLE_INCLUDE(0) rec[-1] rec[-2]\nOBSERVABLE_INCLUDE(0) rec[-3]",
     lambda m: ([], [m[0] ^ m[1] ^ m[2]])),
    ("RX 0\nCX 0 1\nM 0 1\nDETECTOR rec[-1] rec[-2]\nOBSERVABLE_INCLUDE(0) rec[-1] rec[-2]",
     lambda m: ([0], [0])),
    ("X 0\nX_ERROR(0.5) 0\nM 0\nDETECTOR rec[-1]", lambda m: ([m[0] ^ 1], [])),
])
@pytest.mark.parametrize("seed", [None, 9])
def test_detectors_and_observables_are_parities_relative_to_the_reference(circuit, expected, seed):
    result = CircuitSampler(circuit, seed=seed).sample(100)
    got = zip(result.detectors.astype(int).tolist(), result.observables.astype(int).tolist())
    assert list(got) == [expected(m) for m in result.measurements.astype(int).tolist()]


def test_random_detector_is_compared_with_one_reference_draw():
    circuit = "RX 0\nM 0\nDETECTOR rec[-1]"
    references = set()
    for seed in [None, 0, 1, 2]:
        result = CircuitSampler(circuit, seed=seed).sample(100)
        flips = result.detectors[:, 0] ^ result.measurements[:, 0]
        references |= set(flips.tolist())
    assert len(references) == 1


# ---- Shot execution.


@pytest.mark.parametrize("circuit, record", [
    ("M !0", [1]),
    ("M(1) 0", [1]),
    ("X 0\nMR 0\nM 0", [1, 0]),
    ("X 0\nMR !0\nM 0", [0, 0]),
    ("RX 0\nZ 0\nMRX 0\nMX 0", [1, 0]),
    ("X_ERROR(1) 0\nM 0", [1]),
    ("Y_ERROR(1) 0\nM 0", [1]),
    ("Z_ERROR(1) 0\nM 0", [0]),
    ("RX 0\nZ_ERROR(1) 0\nMX 0", [1]),
    ("MPP(1) Z0 !Z0", [1, 0]),
    ("X 0 1\nMPP Z0*Z1 !Z2", [0, 1]),
    ("X 0\nM 0\nCX rec[-1] 1\nCZ rec[-1] 1\nM 1", [1, 1]),
    ("X 0\nCX 0 1\nSWAP 1 2\nM 0 1 2", [1, 0, 1]),
    ("RX 0 1\nCZ 0 1\nCZ 0 1\nMX 0 1", [0, 0]),
    ("RX 0 1 2\nCCZ 0 1 2\nCCZ 0 1 2\nMX 0 1 2", [0, 0, 0]),
    ("RX 0\nS 0\nS 0\nMX 0", [1]),
    ("RX 0\nT 0 0 0 0\nMX 0", [1]),
    ("RX 0\nT_DAG 0\nT 0\nS_DAG 0\nS 0\nI 0\nMX 0", [0]),
])
def test_deterministic_records(circuit, record):
    result = CircuitSampler(circuit, seed=1).sample(20)
    assert result.measurements.tolist() == [[bool(b) for b in record]] * 20


def test_probabilities_zero_and_one_draw_nothing():
    rest = "\nX_ERROR(0.5) 1\nM 1"
    expected = CircuitSampler("M 0" + rest, seed=8).sample(64).measurements[:, 1]
    for prefix in ["M(1) 0", "M(0) 0", "X_ERROR(1) 0\nM 0", "DEPOLARIZE1(0) 0\nM 0"]:
        result = CircuitSampler(prefix + rest, seed=8).sample(64)
        np.testing.assert_array_equal(result.measurements[:, 1], expected)


def test_exp_vals_are_exact_and_see_the_noise_so_far():
    circuit = "RX 0\nT 0\nEXP_VAL X0 Y0 Z0\nX_ERROR(1) 1\nEXP_VAL Z1 Z0*Z1"
    result = CircuitSampler(circuit, seed=1).sample(2)
    half = math.sqrt(0.5)
    assert result.exp_vals.tolist() == [[half, half, 0.0, -1.0, 0.0]] * 2


# ---- Postselection.


def test_postselection_acts_on_relative_values():
    result = CircuitSampler("X 0\nM 0\nDETECTOR rec[-1]", postselect=[0]).sample(10)
    assert result.accepted_shots == 10


def test_always_firing_postselected_detector_keeps_nothing():
    circuit = "X_ERROR(1) 0\nM 0 1\nDETECTOR rec[-1]\nDETECTOR rec[-2]\nEXP_VAL Z0"
    result = CircuitSampler(circuit, postselect=[1]).sample(10)
    assert (result.total_shots, result.accepted_shots, result.discards) == (10, 0, 10)
    assert result.measurements.shape == (0, 2) and result.exp_vals.shape == (0, 1)
    assert repr(result) == "SampleResult(total_shots=10, accepted_shots=0)"


def test_discarded_shot_stops_drawing_at_its_detector():
    # Every X_ERROR(0.5) draws once; a shot discarded at the detector skips the second draw.
    circuit = noisy_bits(1) + "\nDETECTOR rec[-1]\nX_ERROR(0.5) 1\nM 1"
    result = CircuitSampler(circuit, seed=13, postselect=[0]).sample(40)
    draws = iter(CircuitSampler(noisy_bits(1), seed=13).sample(80).measurements[:, 0].tolist())
    expected = []
    for _ in range(40):
        if not next(draws):
            expected.append([False, next(draws)])
    assert result.measurements.tolist() == expected
    assert result.discards == 40 - len(expected) > 0
    assert result.detectors.shape == (len(expected), 1) and not result.detectors.any()


# ---- Fixed-fault sampling.


def test_all_sites_fault_including_readout_flips():
    result = CircuitSampler("X_ERROR(0) 0\nM(0) 0 1", seed=1).sample(5, num_faults=3)
    assert result.measurements.tolist() == [[False, True]] * 5


# ---- Exact draws, predicted with an independent model of the generator.


def test_probabilistic_draws_follow_the_seeded_stream():
    circuit = "RX 2\nDEPOLARIZE1(0.2) 0 1\nX_ERROR(0.3) 1\nM 0 1 2\nX_ERROR(0) 0\nM(1) 0"
    result = CircuitSampler(circuit, seed=17).sample(200)
    rng = ChaCha8(17)
    expected = []
    for _ in range(200):
        flips = [False, False]
        for q in (0, 1):  # one trial per site, and a Pauli code only for a firing trial
            if rng.bernoulli(0.2):
                flips[q] ^= rng.uniform_u8(1, 4) in (1, 2)  # X or Y flips a Z measurement
        flips[1] ^= rng.bernoulli(0.3)
        expected.append([flips[0], flips[1], rng.fair_coin(), not flips[0]])
    assert result.measurements.tolist() == expected


@pytest.mark.parametrize("k", [0, 3, 8, 10])
def test_fixed_fault_sites_are_drawn_by_floyds_method(k):
    # The probabilities are ignored: exactly k of the ten sites fault, an X error always flips
    # its qubit and a depolarizing one draws a non-identity Pauli.
    n, circuit = 10, "X_ERROR(1) 0 1 2 3 4\nDEPOLARIZE1(0) 5 6 7 8 9\nM 0 1 2 3 4 5 6 7 8 9"
    result = CircuitSampler(circuit, seed=18).sample(100, num_faults=k)
    rng = ChaCha8(18)
    expected = []
    for _ in range(100):
        chosen = set()
        for j in range(n - min(k, n - k), n):
            t = rng.uniform_u8(0, j + 1)  # uniform in [0, j]
            chosen.add(j if t in chosen else t)
        faulted = chosen if k <= n - k else set(range(n)) - chosen
        expected.append([q in faulted and (q < 5 or rng.uniform_u8(1, 4) in (1, 2))
                         for q in range(n)])
    assert result.measurements.tolist() == expected


# ---- One random stream.


@pytest.mark.parametrize("options", [{}, {"num_faults": 3}])
def test_calls_continue_one_stream(options):
    circuit = noisy_bits(8, p=0.3)
    whole = CircuitSampler(circuit, seed=21).sample(30, **options).measurements
    split = CircuitSampler(circuit, seed=21)
    parts = [split.sample(n, **options).measurements for n in (7, 0, 23)]
    np.testing.assert_array_equal(np.concatenate(parts), whole)


def test_seeds_fix_the_stream():
    circuit = noisy_bits(64)
    same = [CircuitSampler(circuit, seed=5).sample(4).measurements for _ in range(2)]
    np.testing.assert_array_equal(*same)
    other = CircuitSampler(circuit, seed=6).sample(4).measurements
    unseeded = [CircuitSampler(circuit).sample(4).measurements for _ in range(2)]
    assert not np.array_equal(same[0], other) and not np.array_equal(*unseeded)


def test_failed_call_keeps_its_draws():
    failed = CircuitSampler(REFUSED_IN_SHOT, seed=10)
    assert outcome(failed, 20) == f"{REFUSAL} (shot 4, measurement 3)"
    after_failure = outcome(failed, 6)
    # Replay the same draws: the four good shots, then the refused one.
    replay = CircuitSampler(REFUSED_IN_SHOT, seed=10)
    replay.sample(4)
    assert outcome(replay, 1) == f"{REFUSAL} (shot 0, measurement 3)"
    assert outcome(replay, 6) == after_failure
    # A stream that restarted where the failed call began would refuse at its shot 4 again.
    assert after_failure != outcome(CircuitSampler(REFUSED_IN_SHOT, seed=10), 6)


@pytest.mark.parametrize("last, message", [
    ("MX 1", f"{REFUSAL} (shot 4, measurement 3)"),
    ("MPP Z5 X1", f"Pauli observable measurement is incompatible: {REFUSAL} (shot 4, measurement 4)"),
])
def test_refusal_names_the_shot_and_record_index(last, message):
    circuit = REFUSED_IN_SHOT.replace("MX 1", last)
    assert outcome(CircuitSampler(circuit, seed=10), 20) == message


# The third qubit of each circuit, named by an index from small to the largest.
RELABELLED = [
    ("RX {a} {b}\nR {c}\nX {c}\nX_ERROR(0.3) {c}\nCZ {a} {b}\nT {b}\nCCZ {a} {b} {c}\nT {c}\nMX {b}",
     "X measurement on qubit {b} is incompatible: odd phase is not two-valued (shot 2, "
     "measurement 0)"),
    ("RX {a} {b}\nT {b}\nCX {b} {c}\nDEPOLARIZE2(0.2) {a} {c}\nM {c} {a}\nDETECTOR rec[-1]\n"
     "EXP_VAL X{b}*Z{c}\nMPP X{a}*Z{c}", None),
]


@pytest.mark.parametrize("text, refusal", RELABELLED)
def test_shots_hold_only_the_qubits_the_circuit_names(text, refusal):
    def run(a, b, c):
        sampler = CircuitSampler(text.format(a=a, b=b, c=c), seed=4)
        assert sampler.num_qubits == max(a, b, c) + 1
        try:
            result = sampler.sample(50)
        except MeasurementError as error:
            return str(error)
        return [result.measurements.tolist(), result.detectors.tolist(), result.exp_vals.tolist()]

    small = run(0, 1, 2)
    for a, b, c in [(0, 1, 200_000), (5, 2**40, 2**63), (2**64 - 3, 2**64 - 2, 3)]:
        relabelled = run(a, b, c)
        assert relabelled == (refusal.format(b=b) if refusal else small)


def test_reference_refusal():
    with pytest.raises(MeasurementError) as error:
        CircuitSampler("RX 0 1 2\nCCZ 0 1 2\nM 5\nMX 0 1 2")
    assert str(error.value) == ("X measurement on qubit 0 is incompatible: non-affine zero set "
                                "(reference measurement 1)")


def test_ctrl_c_interrupts_sampling_and_keeps_the_draws():
    sampler = CircuitSampler(noisy_bits(1), seed=23)
    timer = threading.Timer(0.3, _thread.interrupt_main)
    timer.start()
    started = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        sampler.sample(10**9)
    timer.join()
    assert time.monotonic() - started < 5
    fresh = CircuitSampler(noisy_bits(1), seed=23)
    assert not np.array_equal(sampler.sample(256).measurements, fresh.sample(256).measurements)


@pytest.mark.parametrize("long_part", ["X 0\n" * 5_000_000, "REPEAT 100000000 {\nX 0\n}\n"],
                         ids=["reading", "expanding"])
def test_ctrl_c_interrupts_building_a_sampler(long_part):
    # Left alone, the call runs for many seconds and then fails in the reference run.
    timer = threading.Timer(0.2, _thread.interrupt_main)
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        CircuitSampler(long_part + "RX 0 1\nR 2\nX 2\nCZ 0 1\nT 1\nCCZ 0 1 2\nT 2\nX 2\nMX 1")
    timer.join()


def test_sampling_releases_the_interpreter():
    counter, stop = [0], threading.Event()

    def spin():
        while not stop.is_set():
            counter[0] += 1

    spinner = threading.Thread(target=spin)
    spinner.start()
    time.sleep(0.05)
    before = counter[0]
    CircuitSampler(noisy_bits(8), seed=1).sample(300_000)
    during = counter[0] - before
    stop.set()
    spinner.join()
    assert during > 100_000  # a call holding the interpreter lets the spinner count a few thousand


# ---- Refusals of the sampler, of sample_parallel and of from_file, each at its first fault.

D, PC2 = "M 0\nDETECTOR rec[-1]", "PAULI_CHANNEL_2(" + ", ".join(["0"] * 15) + ") 0 1"
NO_PC = "fixed-fault sampling does not support PAULI_CHANNEL_1 or PAULI_CHANNEL_2"
REFUSED_CALLS = [  # (call, error type, message), evaluated with the names of this module
    ("CircuitSampler('H 0')", ValueError, "unsupported instruction H"),
    ("CircuitSampler('H 0', postselect=[7])", ValueError, "unsupported instruction H"),
    ("CircuitSampler(D, postselect=[0, 0])", ValueError,
     "postselected detector index 0 appears more than once"),
    ("CircuitSampler(D, postselect=[-1])", ValueError,
     "postselected detector indices must be non-negative"),
    ("CircuitSampler(D + '\\nDETECTOR rec[-1]', postselect=[5, -1])", ValueError,
     "postselected detector index 5 is out of range"),
    ("CircuitSampler(D, postselect=[0, 1, -1])", ValueError,
     "postselected detector index 1 is out of range"),
    ("CircuitSampler('', postselect=[0])", ValueError,
     "postselected detector index 0 is out of range"),
    # Huge sequences are refused at their first bad entry, without being copied.
    ("CircuitSampler(D, postselect=range(3, 10**12))", ValueError,
     "postselected detector index 3 is out of range"),
    ("CircuitSampler(D, postselect=range(2**62))", ValueError,
     "postselected detector index 1 is out of range"),
    # A zero character in the text does not cut the report short.
    ("CircuitSampler('M 0\\n\\0')", ValueError, "invalid Stim circuit:  --> 2:1\n  |\n2 | \0\n  | "
     "^---\n  |\n  = expected EOI, repeat_block, or identifier"),
    ("CircuitSampler('M 0').sample(-1)", ValueError, "shots must be non-negative"),
    ("CircuitSampler('M 0').sample(-1, num_faults=-1)", ValueError, "shots must be non-negative"),
    ("CircuitSampler('M 0').sample(5, num_faults=-1)", ValueError,
     "num_faults must be non-negative"),
    ("CircuitSampler('X_ERROR(0.1) 0 1').sample(5, num_faults=3)", ValueError,
     "num_faults (3) exceeds the number of fault sites (2)"),
    ("CircuitSampler('X_ERROR(0.1) 0 1 2 3 4').sample(0, num_faults=6)", ValueError,
     "num_faults (6) exceeds the number of fault sites (5)"),
    ("CircuitSampler(PC2).sample(5, num_faults=0)", ValueError, NO_PC),
    ("CircuitSampler('PAULI_CHANNEL_1(0, 0, 0) 0').sample(5, num_faults=9)", ValueError, NO_PC),
    ("CircuitSampler('M 0').sample(-1, bit_packed=1)", TypeError, "must be bool, not int"),
    ("CircuitSampler('X_ERROR(0.1) 0').sample_detectors(-1, num_faults=2)", ValueError,
     "shots must be non-negative"),
    ("CircuitSampler('X_ERROR(0.1) 0').sample_detectors(1, num_faults=2)", ValueError,
     "num_faults (2) exceeds the number of fault sites (1)"),
    ("CircuitSampler('M 0').sample()", TypeError,
     "CircuitSampler.sample() missing 1 required positional argument: 'shots'"),
    ("CircuitSampler('M 0').sample(1, 2)", TypeError,
     "CircuitSampler.sample() takes 1 positional arguments but 2 were given"),
    ("CircuitSampler('M 0').sample(1, bitpacked=True)", TypeError,
     "CircuitSampler.sample() got an unexpected keyword argument 'bitpacked'"),
    ("CircuitSampler()", TypeError,
     "CircuitSampler.__new__() missing 1 required positional argument: 'circuit'"),
    ("CircuitSampler('', 1)", TypeError,
     "CircuitSampler.__new__() takes 1 positional arguments but 2 were given"),
    ("CircuitSampler.from_file(3)", TypeError,
     "expected str, bytes or os.PathLike object, not int"),
    ("CircuitSampler.from_file()", TypeError,
     "CircuitSampler.from_file() missing 1 required positional argument: 'path'"),
    ("CircuitSampler.from_file('x', sead=1)", TypeError,
     "CircuitSampler.from_file() got an unexpected keyword argument 'sead'"),
    # Arguments are checked before the file is opened.
    ("CircuitSampler.from_file('missing', postselect='0')", TypeError,
     "Can't extract `str` to `Vec`"),
    ("CircuitSampler.from_file('a\\0b')", ValueError, "embedded null byte"),
    ("sample_parallel(P, -1)", ValueError, "shots must be non-negative"),
    ("sample_parallel(P, 5, shard_size=0)", ValueError, "shard_size must be at least 1"),
    ("sample_parallel(P, 5, num_threads=0)", ValueError, "num_threads must be at least 1"),
    ("sample_parallel(P, 5, num_faults=4)", ValueError,
     "num_faults (4) exceeds the number of fault sites (3)"),
    ("sample_parallel(P, 5, postselect=[1])", ValueError,
     "postselected detector index 1 is out of range"),
    ("sample_parallel(CircuitSampler(P), 5, postselect=[0])", ValueError,
     "postselect applies to circuit text; a CircuitSampler keeps its own"),
    ("sample_parallel(P, 2**62)", MemoryError, f"cannot allocate {2**62} shots of 3 values each"),
    ("CircuitSampler(P)._sample_into(*into(measurements=np.zeros((5, 3), np.uint8)))", ValueError,
     "measurements must have 3 columns of bools"),
    ("CircuitSampler(P)._sample_into(*into(detectors=np.zeros((4, 1), bool)))", ValueError,
     "the arrays must have the same number of rows"),
    ("CircuitSampler(P)._sample_into(*into(exp_vals=np.zeros((5, 1))))", ValueError,
     "exp_vals must have 0 columns of float64s"),
    ("CircuitSampler(P)._sample_into(*into(observables=np.zeros(5, bool)))", ValueError,
     "must be two-dimensional"),
]
P = "X_ERROR(0.2) 0 1 2\nM 0 1 2\nDETECTOR rec[-1]\nOBSERVABLE_INCLUDE(0) rec[-2]"


def into(**change):
    """Five rows of P's four arrays to sample into, some replaced."""
    rows = {"measurements": np.zeros((5, 3), bool), "detectors": np.zeros((5, 1), bool),
            "observables": np.zeros((5, 1), bool), "exp_vals": np.zeros((5, 0))}
    return {**rows, **change}.values()


@pytest.mark.parametrize("call, error, message", REFUSED_CALLS)
def test_refusals(call, error, message):
    with pytest.raises(error) as raised:
        eval(call)
    assert type(raised.value) is error and str(raised.value) == message


@pytest.mark.parametrize("postselect", [(0,), np.array([0]), range(1)])
def test_postselect_accepts_sequences(postselect):
    circuit = "X_ERROR(1) 0\nM 0\nDETECTOR rec[-1]"
    assert CircuitSampler(circuit, postselect=postselect).sample(3).accepted_shots == 0


def test_fixed_fault_limits_are_accepted():
    sampler = CircuitSampler("X_ERROR(0.1) 0 1", seed=1)
    assert sampler.sample(5, num_faults=2).measurements.shape == (5, 0)
    assert CircuitSampler("PAULI_CHANNEL_1(0.5, 0, 0) 0\nM 0", seed=1).sample(5).total_shots == 5
