"""Random small circuits of gates, X resets, measurements and resets, run on the simulator and
on the dense reference, comparing the state vector after every step. The simulator's
measurement outcomes drive the reference's projections; a reset's hidden outcome is whichever
possible branch the simulator's state matches.

A second test mixes in X and Pauli-product measurements, noise and peeks: every accepted
measurement projects the reference, every refusal leaves the state as it was, and peeks of
X probabilities and product expectations match the reference wherever they are answered."""

import numpy as np
from hypothesis import given, settings
from hypothesis import strategies as st

from dense_reference import DenseState
from velkor import MeasurementError, Simulator

NUM_QUBITS = 5
QUBIT = st.integers(0, NUM_QUBITS - 1)


def groups(names, arity):
    group = st.lists(QUBIT, min_size=arity, max_size=arity, unique=True)
    flat = st.lists(group, min_size=1, max_size=2).map(lambda gs: tuple(q for g in gs for q in g))
    return st.tuples(st.sampled_from(names), flat)


STEP = st.one_of(
    groups(["x", "y", "z", "s", "s_dag", "t", "t_dag"], 1),
    groups(["cnot", "cx", "cz", "swap"], 2),
    groups(["ccz"], 3),
    groups(["reset_x", "reset_x", "measure", "measure_many", "reset"], 1),
)
REFERENCE_NAME = {"cx": "cnot"}


def same_state(vector, reference):
    return vector.shape == reference.amplitudes.shape and np.allclose(
        vector, reference.canonical(), atol=2e-5)


def hidden_branch(sim, candidates):
    """The candidate state the simulator's state matches, for steps with hidden randomness."""
    vector = sim.state_vector()
    matching = [c for c in candidates if same_state(vector, c)]
    assert matching, "no branch explains the state"
    return matching[0]


def apply_reset(sim, reference, name, q):
    """Resets q on both; the reference keeps the branch the simulator's state shows."""
    branches = list(reference.reset_branches(name, q))
    getattr(sim, name)(q)
    return hidden_branch(sim, branches)


def big_endian(reference):
    """The reference's amplitudes in big qubit order, as a dense state of its own."""
    n = reference.num_qubits
    reordered = DenseState()
    reordered.amplitudes = reference.amplitudes.reshape((2,) * n).transpose().reshape(-1)
    return reordered


def apply_step(sim, reference, name, qubits):
    """Runs one gate, reset or Z measurement step on both; returns the reference's new state."""
    if name in ("reset", "reset_x"):
        for q in qubits:
            reference = apply_reset(sim, reference, name, q)
    elif name in ("measure", "measure_many"):
        if name == "measure":
            outcomes = [sim.measure(q) for q in qubits]
        else:
            outcomes = sim.measure_many(*qubits)
        for q, outcome in zip(qubits, outcomes):
            assert abs(reference.probability_one(q) - (not outcome)) > 1e-9
            reference.project(q, outcome)
    else:
        getattr(sim, name)(*qubits)
        arity = {"ccz": 3, "cnot": 2, "cx": 2, "cz": 2, "swap": 2}.get(name, 1)
        for i in range(0, len(qubits), arity):
            reference.gate(REFERENCE_NAME.get(name, name), *qubits[i:i + arity])
    return reference


@settings(max_examples=1000, deadline=None)
@given(seed=st.integers(0, 2**64 - 1), steps=st.lists(STEP, max_size=25))
def test_random_circuits_match_the_dense_reference(seed, steps):
    sim, reference = Simulator(seed=seed), DenseState()
    for name, qubits in steps:
        reference = apply_step(sim, reference, name, qubits)
        vector = sim.state_vector()
        assert sim.num_qubits == reference.num_qubits
        assert same_state(vector, reference), (name, qubits)
        # Each order fixes the global phase at its own first non-zero amplitude.
        assert same_state(sim.state_vector(endian="big"), big_endian(reference))
        for q in range(sim.num_qubits):
            assert abs(sim.peek_probability(q) - reference.probability_one(q)) < 1e-6


PRODUCT = st.lists(st.tuples(QUBIT, st.sampled_from("XYZ")), min_size=1, max_size=3,
                   unique_by=lambda f: f[0])
NOISY_STEP = st.one_of(
    STEP,
    st.tuples(st.sampled_from(["measure_x", "x_error", "z_error", "depolarize1"]),
              QUBIT.map(lambda q: (q,))),
    st.tuples(st.just("observable"), st.tuples(PRODUCT, st.booleans())),
)
NOISE_BRANCHES = {"x_error": ["X"], "z_error": ["Z"], "depolarize1": ["X", "Y", "Z"]}


def compact(factors, negated):
    letters = ["_"] * (max(q for q, _ in factors) + 1)
    for q, letter in factors:
        letters[q] = letter
    return ("-" if negated else "+") + "".join(letters)


@settings(max_examples=1500, deadline=None)
@given(seed=st.integers(0, 2**64 - 1), steps=st.lists(NOISY_STEP, max_size=25))
def test_measurements_noise_and_peeks_match_the_dense_reference(seed, steps):
    sim, reference = Simulator(seed=seed), DenseState()
    for name, args in steps:
        if name in ("measure_x", "observable"):
            factors, negated = (((args[0], "X"),), False) if name == "measure_x" else args
            text, before = compact(factors, negated), sim.state_vector()
            expectation = reference.expectation(factors, negated)
            assert abs(sim.peek_observable_expectation(text) - expectation) < 1e-9
            try:
                if name == "measure_x":
                    assert abs(sim.peek_x_probability(args[0]) - (1 - expectation) / 2) < 1e-9
                    outcome = sim.measure_x(args[0])
                else:
                    outcome = sim.measure_observable(text)
            except MeasurementError:
                assert np.array_equal(before, sim.state_vector()[: before.size])
                continue
            assert (1 + (-1) ** outcome * expectation) / 2 > 1e-9
            reference.grow(sim.num_qubits)
            reference.project_pauli(factors, negated, outcome)
        elif name in NOISE_BRANCHES:
            q = args[0]
            getattr(sim, name)(q, p=0.5)
            reference.grow(q + 1)
            candidates = [reference.copy()]
            for letter in NOISE_BRANCHES[name]:
                candidates.append(reference.copy())
                candidates[-1].amplitudes = reference.pauli_applied([(q, letter)])
            reference = hidden_branch(sim, candidates)
        else:
            reference = apply_step(sim, reference, name, args)
        reference.grow(sim.num_qubits)
        assert same_state(sim.state_vector(), reference), (name, args)
