"""translate_circuit: translated and original circuits give the same exact distribution of
measurement records on an independent stabilizer reference (the peer stim, enumerating every
measurement outcome and noise branch); whole generated QEC circuits keep their detector error
model and sample like the peer; every refusal names the line, the instruction and the qubit."""

import pathlib
import random
from collections import defaultdict

import numpy as np
import pytest

import velkor
from velkor import translate
from velkor.translate import TranslationError

stim = pytest.importorskip("stim")

ROOT = pathlib.Path(__file__).resolve().parent.parent


def _noise_branches(name, args, arity):
    """(probability, Paulis per target) of one noise channel on `arity` targets."""
    if name in ("X_ERROR", "Y_ERROR", "Z_ERROR"):
        return [(1 - args[0], "I"), (args[0], name[0])]
    if name.startswith("DEPOLARIZE"):
        table = [args[0] / (4 ** arity - 1)] * (4 ** arity - 1)
    else:
        table = args
    paulis = ["".join("IXYZ"[(c >> 2 * (arity - 1 - i)) & 3] for i in range(arity))
              for c in range(1, 4 ** arity)]
    return [(1 - sum(table), "I" * arity), *zip(table, paulis)]


def _observable(group, name):
    """(PauliString, inverted) of what one target group of a measurement or reset looks at."""
    letter = name[1] if name in ("MXX", "MYY", "MZZ") else {"X": "X", "Y": "Y"}.get(
        name.lstrip("MR")[:1], "Z")
    pauli = stim.PauliString(max(t.value for t in group) + 1)
    for t in group:
        pauli[t.value] = t.pauli_type if name == "MPP" else letter
    return pauli, sum(t.is_inverted_result_target for t in group) % 2


def _collapse(sim, pauli):
    """(probability, collapsed copy, outcome) of measuring a Pauli observable."""
    expectation = sim.peek_observable_expectation(pauli)
    for outcome in (False, True):
        weight = 0.5 if expectation == 0 else float(expectation == (1, -1)[outcome])
        if weight:
            branch = sim.copy()
            branch.postselect_observable(pauli, desired_value=outcome)
            yield weight, branch, outcome


def record_distribution(text):
    """Exact probability of every measurement record of a small Clifford circuit: every random
    outcome (of measurements, hidden in resets, and of noise) is a branch."""
    branches = {((), ()): (1.0, stim.TableauSimulator())}
    for inst in stim.Circuit(text).flattened():
        name, args, data = inst.name, inst.gate_args_copy(), stim.gate_data(inst.name)
        if name in ("DETECTOR", "OBSERVABLE_INCLUDE", "TICK", "QUBIT_COORDS", "SHIFT_COORDS"):
            continue
        unitary = data.is_unitary and not any(t.is_measurement_record_target
                                               for t in inst.targets_copy())
        out = {}
        for (record, _), (prob, sim) in branches.items():
            states = [(prob, _do(sim, inst) if unitary else sim, record)]
            for group in [] if unitary else inst.target_groups():
                qubits = [t.value for t in group]
                if data.is_noisy_gate and not data.produces_measurements:
                    states = [(p * q, _apply(s.copy(), paulis, qubits), rec)
                              for p, s, rec in states
                              for q, paulis in _noise_branches(name, args, len(group)) if q > 0]
                elif data.produces_measurements or data.is_reset:
                    pauli, inverted = _observable(group, name)
                    flip = args[0] if args and data.produces_measurements else 0.0
                    states = [(p * w * q, b, rec + (outcome ^ inverted ^ flipped,)
                               if data.produces_measurements else rec)
                              for p, s, rec in states for w, b, outcome in _collapse(s, pauli)
                              for flipped, q in ((False, 1 - flip), (True, flip)) if q > 0]
                    if data.is_reset:
                        reset = stim.CircuitInstruction("R" + name.lstrip("MR")[:1], qubits)
                        states = [(p, _do(s, reset), rec) for p, s, rec in states]
                elif group[0].is_measurement_record_target:
                    feedback = stim.CircuitInstruction(name[1], qubits[1:])
                    states = [(p, _do(s, feedback) if rec[group[0].value] else s, rec)
                              for p, s, rec in states]
            for p, s, rec in states:
                key = (rec, tuple(map(str, s.canonical_stabilizers())))
                out[key] = (out.get(key, (0.0,))[0] + p, s)
        branches = out
    distribution = defaultdict(float)
    for (record, _), (prob, _) in branches.items():
        distribution[record] += prob
    return {r: p for r, p in distribution.items() if p > 1e-12}


def _do(sim, instruction):
    """A copy of the simulator after the instruction (branches share simulators)."""
    sim = sim.copy()
    sim.do(instruction)
    return sim


def _apply(sim, paulis, qubits):
    for letter, q in zip(paulis, qubits):
        if letter != "I":
            getattr(sim, letter.lower())(q)
    return sim


def assert_same_process(original, translated):
    velkor.CircuitSampler(translated)  # the reader accepts it
    want, got = record_distribution(original), record_distribution(translated)
    assert want.keys() == got.keys()
    assert np.allclose([want[k] for k in want], [got[k] for k in want], atol=1e-9)


# Deterministic up to noise, so that a wrong basis, sign or channel shows in the distribution.
REWRITES = [
    ("R 0 1\nX_ERROR(0.1) 0\nH 0\nCX 1 0\nH 0\nPAULI_CHANNEL_1(0.1, 0.2, 0.05) 0\nM(0.2) !0",
     "RX 0\nR 1\nZ_ERROR(0.1) 0\nCX 1 0\nPAULI_CHANNEL_1(0.05, 0.2, 0.1) 0\nMX(0.2) !0\n"),
    ("RX 0 1\nR 2\nH 2\nCX 2 0 2 1\nH 2\nMR(0.1) !2\nH 2\nCX 2 0\nH 2\nM 2",
     "RX 0 1\nRX 2\nCX 2 0 2 1\nMRX(0.1) !2\nCX 2 0\nMX 2\n"),
    ("CX 0 1\nH 0 1\nMR 0 1\nH 0\nCX 0 1\nM 1", "CX 0 1\nMRX 0\nMX 1\nR 1\nCX 0 1\nM 1\n"),
    ("RY 0 1\nMY !0\nX_ERROR(0.1) 1\nMRY(0.1) 1\nMY 1",
     "RX 0 1\nS 0 1\nMPP !Y0\nX_ERROR(0.1) 1\nMPP(0.1) Y1\nRX 1\nS 1\nMPP Y1\n"),
    ("R 0\nH 0\nS 0\nCZ 2 0\nS_DAG 0\nH 0\nM 0\nSQRT_X 1\nMY 1",
     "RX 0\nS 0\nCZ 2 0\nMPP Y0\nM !1\n"),
    ("RX 0 1 2 3\nMXX !0 1 2 3\nMZZ(0.1) 0 1\nMYY 2 3\nMXX 0 1",
     "RX 0 1 2 3\nMPP !X0*X1 X2*X3\nMPP(0.1) Z0*Z1\nMPP Y2*Y3\nMPP X0*X1\n"),
    ("R 0 1\nH 1\nPAULI_CHANNEL_2(0.01, 0.02, 0.03, 0.04, 0.05, 0.06, 0.07, 0.08, 0.09, 0.1, 0.11,"
     " 0.12, 0.13, 0.001, 0.002) 0 1\nH 1\nM 0 1",
     "R 0 1\nPAULI_CHANNEL_2(0.03, 0.02, 0.01, 0.04, 0.07, 0.06, 0.05, 0.08, 0.11, 0.1, 0.09, 0.12,"
     " 0.002, 0.001, 0.13) 0 1\nM 0 1\n"),
    ("RX 1\nR 0\nREPEAT 4 {\nH 0\nCX 0 1\nH 0\nMR 0\nDETECTOR rec[-1]\n}\nMX 1",
     "RX 1\nRX 0\nREPEAT 3 {\n    CX 0 1\n    MRX 0\n    DETECTOR rec[-1]\n}\nCX 0 1\nMX 0\n"
     "R 0\nDETECTOR rec[-1]\nMX 1\n"),
    ("R 0\nREPEAT 5 {\nH 0\nX_ERROR(0.1) 0\nM 0\n}",
     "RX 0\n" + "X_ERROR(0.1) 0\nM 0\nZ_ERROR(0.1) 0\nMX 0\n" * 2 + "X_ERROR(0.1) 0\nM 0\n"),
    ("RX 1\nREPEAT 6 {\nR 0\nH 0\nCZ 0 1\nH 0\nX_ERROR(0.1) 0\nM 0\nDETECTOR rec[-1]\n}\nMX 1",
     "RX 1\nREPEAT 6 {\n    RX 0\n    CZ 0 1\n    Z_ERROR(0.1) 0\n    MX 0\n    DETECTOR rec[-1]\n}"
     "\nMX 1\n"),
    ("H 0\nCX 0 1\nM 0 1\nCX rec[-1] 0\nH 0\nCZ rec[-2] 0\nH 0\nM 0",
     "RX 0\nCX 0 1\nM 0 1\nCX rec[-1] 0\nCX rec[-2] 0\nM 0\n"),
    ("R 0\nH 0\nZ 0\nH 0\nY 0\nM 0", "R 0\nX 0\nY 0\nM 0\n"),
    ("RX 0\nSQRT_Y 0\nT 0\nH_YZ 0\nY_ERROR(0.1) 0\nC_XYZ 0\nDEPOLARIZE1(0.1) 0\nM 0",
     "R 0\nX 0\nT 0\nZ_ERROR(0.1) 0\nDEPOLARIZE1(0.1) 0\nM 0\nS_DAG 0\n"),
    ("X 0\nS 0\nCX 0 1\nS_DAG 1\nX_ERROR(0.1) 1\nM 1\nT 1",
     "X 0\nS 0\nCX 0 1\nY_ERROR(0.1) 1\nM 1\nS_DAG 1\nT 1\n"),
]


@pytest.mark.parametrize("original, expected", REWRITES)
def test_rewrites_are_exact(original, expected):
    translated = velkor.translate_circuit(original)
    if expected is not None:
        assert translated == expected
    if "T" not in original.split():
        assert_same_process(original, translated)


REFUSALS = [
    ("CX 0 1\nH 0\nCX 0 1", "line 2: cannot translate H on qubit 0: the basis change reaches CX "
                            "on line 3 without a reset to absorb it"),
    ("CX 0 1\nH 1\nH 1\nSQRT_X 1\nM 1\nT 1", "line 4: cannot translate SQRT_X on qubit 1: the "
                                             "basis change reaches T on line 6 without a reset "
                                             "to absorb it"),
    ("M 0\nH 0\nDEPOLARIZE1(0.1) 0", "line 2: cannot translate H on qubit 0: no measurement or "
                                     "reset of the qubit follows it"),
    ("REPEAT 2 {\n  CZ 0 1\n  H_YZ 1\n}",
     "line 3: cannot translate H_YZ on qubit 1: the basis change reaches CZ on line 2 without a "
     "reset to absorb it"),
    ("H(0.1) 0", "line 1: H does not take arguments"),
    ("MY(0.1, 0.2) 0", "line 1: MY takes at most one readout probability"),
    ("X 0\nH rec[-1]", 'line 2: invalid H target "rec[-1]"'),
    ("MXX 0 1 2", "line 1: MXX requires an even number of targets"),
    ("MZZ 3 3", "line 1: MZZ pair endpoints must be different (both were 3)"),
]


@pytest.mark.parametrize("name", sorted(translate._GATE))
def test_gate_tables_match_the_peer(name):
    inverse = stim.Tableau.from_named_gate(name).inverse()
    for pauli in range(3):
        image = inverse(stim.PauliString("XYZ"[pauli]))
        assert translate._PULL[translate._GATE[name]][pauli] == (image.sign.real, "XYZ".index(
            str(image)[1]))


@pytest.mark.parametrize("text, message", REFUSALS)
def test_refusals_name_line_instruction_and_qubit(text, message):
    with pytest.raises(TranslationError) as error:
        velkor.translate_circuit(text)
    assert str(error.value) == message and isinstance(error.value, ValueError)


def test_blocks_run_until_their_iterations_cycle(monkeypatch):
    monkeypatch.setattr(translate, "MAX_RUN_INSTRUCTIONS", 1000)
    assert velkor.translate_circuit("REPEAT 18446744073709551615 {\nH 0\nM 0\n}") == (
        "REPEAT 9223372036854775806 {\n    MX 0\n    M 0\n}\nMX 0\nM 0\nMX 0\n")
    with pytest.raises(TranslationError, match="^the circuit runs more than 1000 instructions "
                                               "before its blocks repeat$"):
        velkor.translate_circuit("X 0\n" * 1001)


@pytest.mark.parametrize("text", [
    "}", "H 0 }", "REPEAT 3 {\nH 0\nM 0\n", "CY 0 1\nH 0\nM 0", "ISWAP 0 1", "R(0.1) 0\nH 0\nM 0",
    "X_ERROR 0\nH 0\nM 0", "M(0.1, 0.2) 0\nH 0\nM 0", "M(2)\nH 0\nM 0", "S(1) 0\nH 0\nM 0",
    "REPEAT 18446744073709551616 {\nX 0\n}", "M 0\nDETECTOR rec[-2]", "REPEAT 0 {\nX_ERROR(2) 0\n}",
])
def test_circuits_the_reader_refuses_keep_its_message(text):
    with pytest.raises(ValueError) as want:
        velkor.CircuitSampler(text)
    with pytest.raises(ValueError) as got:
        velkor.CircuitSampler(velkor.translate_circuit(text))
    assert str(got.value) == str(want.value)


INVERSES = {"H": "H", "S": "S_DAG", "SQRT_X": "SQRT_X_DAG", "SQRT_Y": "SQRT_Y_DAG", "H_XY": "H_XY",
            "H_YZ": "H_YZ", "C_XYZ": "C_ZYX", "X": "X", "Y": "Y"}
INVERSES.update({b: a for a, b in INVERSES.items()})
PAULI_CHANNEL_2 = "PAULI_CHANNEL_2(" + ", ".join(f"0.0{i % 9 + 1}" for i in range(15)) + ")"


def random_circuit(rng, depth=5):
    """Preparations and measurements in random bases with basis changes, gates, noise and
    feedback between them; a basis change is often undone later, so outcomes are often fixed."""
    lines, measured = [], False
    noise = ["X_ERROR(0.1)", "Y_ERROR(0.2)", "Z_ERROR(0.15)", "DEPOLARIZE1(0.1)",
             "PAULI_CHANNEL_1(0.1, 0.05, 0.2)", "CX rec[-1]", "CY rec[-1]", "CZ rec[-1]"]
    for _ in range(depth):
        q, (a, b) = rng.randrange(3), rng.sample(range(3), 2)
        gate = rng.choice(sorted(INVERSES))
        inner = [f"{n} {q}" for n in noise[:5 + 3 * measured]] + [f"MPP X{a}*Y{b}", f"MXX !{a} {b}"]
        line = rng.choice([
            f"{rng.choice(['R', 'RX', 'RY'])} {q}",
            f"{gate} {q}\n{rng.choice(inner)}\n{INVERSES[gate]} {q}",
            f"{rng.choice(['M', 'MX', 'MY', 'MR', 'MRX', 'MRY'])}{rng.choice(['', '(0.1)'])}"
            f" {rng.choice(['', '!'])}{q}",
            f"{rng.choice(['CX', 'CZ'])} {a} {b}",
            rng.choice([f"{rng.choice(noise[:5])} {q}", f"DEPOLARIZE2(0.1) {a} {b}",
                        f"{PAULI_CHANNEL_2} {a} {b}", f"MZZ(0.1) {a} {b}"]),
            f"{gate} {q}",
        ])
        measured = measured or line.startswith("M")
        lines.append(line)
    cut = rng.randrange(len(lines))
    return "\n".join(lines[:cut] + ["REPEAT 2 {", *lines[cut:cut + 3], "}"] + lines[cut + 3:])


def test_random_circuits_are_translated_exactly_or_refused():
    rng, translated = random.Random(13), 0
    for _ in range(120):
        text = random_circuit(rng)
        try:
            result = velkor.translate_circuit(text)
        except TranslationError:
            continue
        translated += 1
        assert_same_process(text, result)
    assert translated > 80


GENERATED = ["surface_code:rotated_memory_x", "surface_code:rotated_memory_z",
             "surface_code:unrotated_memory_z", "repetition_code:memory"]


@pytest.mark.parametrize("task", GENERATED)
def test_generated_codes_sample_like_the_peer(task):
    noise = dict(after_clifford_depolarization=0.01, before_round_data_depolarization=0.01,
                 before_measure_flip_probability=0.01, after_reset_flip_probability=0.01)
    circuit = stim.Circuit.generated(task, distance=3, rounds=3, **noise)
    translated = velkor.translate_circuit(str(circuit))
    assert stim.Circuit(translated).detector_error_model() == circuit.detector_error_model()
    quiet = velkor.CircuitSampler(velkor.translate_circuit(str(circuit.without_noise())), seed=1)
    assert not quiet.sample(200).detectors.any() and not quiet.sample(200).observables.any()
    shots = 100_000
    ours = velkor.CircuitSampler(translated, seed=3).sample(shots)
    theirs, their_obs = circuit.compile_detector_sampler(seed=4).sample(shots,
                                                                       separate_observables=True)
    for a, b in ((ours.detectors, theirs), (ours.observables, their_obs)):
        p, q = a.mean(axis=0), b.mean(axis=0)
        error = np.sqrt((p * (1 - p) + q * (1 - q)) / shots) + 1e-9
        assert np.all(np.abs(p - q) < 5 * error)


READABLE = [p for p in sorted((ROOT / "examples").glob("*.stim"))
            if "--translate" not in p.read_text()]


@pytest.mark.parametrize("path", READABLE, ids=lambda p: p.name)
def test_readable_circuits_sample_as_before(path):
    text = path.read_text()
    want = velkor.CircuitSampler(text, seed=9).sample(200)
    got = velkor.CircuitSampler(velkor.translate_circuit(text), seed=9).sample(200)
    for name in ("measurements", "detectors", "observables", "exp_vals"):
        assert np.array_equal(getattr(want, name), getattr(got, name)), name
