"""Random small circuits of gates, X resets, measurements and resets, run on the simulator and
on the dense reference, comparing the state vector after every step. The simulator's
measurement outcomes drive the reference's projections; a reset's hidden outcome is whichever
possible branch the simulator's state matches."""

import numpy as np
from hypothesis import given, settings
from hypothesis import strategies as st

from dense_reference import DenseState
from velkor import Simulator

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


def apply_reset(sim, reference, name, q):
    """Resets q on both; the reference keeps the branch the simulator's state shows."""
    branches = list(reference.reset_branches(name, q))
    getattr(sim, name)(q)
    vector = sim.state_vector()
    matching = [b for b in branches if same_state(vector, b)]
    assert matching, f"{name}({q}) left a state no branch explains"
    return matching[0]


def big_endian(reference):
    """The reference's amplitudes in big qubit order, as a dense state of its own."""
    n = reference.num_qubits
    reordered = DenseState()
    reordered.amplitudes = reference.amplitudes.reshape((2,) * n).transpose().reshape(-1)
    return reordered


@settings(max_examples=1000, deadline=None)
@given(seed=st.integers(0, 2**64 - 1), steps=st.lists(STEP, max_size=25))
def test_random_circuits_match_the_dense_reference(seed, steps):
    sim, reference = Simulator(seed=seed), DenseState()
    for name, qubits in steps:
        if name in ("reset", "reset_x"):
            for q in qubits:
                reference = apply_reset(sim, reference, name, q)
        elif name in ("measure", "measure_many"):
            outcomes = [sim.measure(q) for q in qubits] if name == "measure" else sim.measure_many(*qubits)
            for q, outcome in zip(qubits, outcomes):
                assert abs(reference.probability_one(q) - (not outcome)) > 1e-9
                reference.project(q, outcome)
        else:
            getattr(sim, name)(*qubits)
            arity = {"ccz": 3, "cnot": 2, "cx": 2, "cz": 2, "swap": 2}.get(name, 1)
            for i in range(0, len(qubits), arity):
                reference.gate(REFERENCE_NAME.get(name, name), *qubits[i:i + arity])
        vector = sim.state_vector()
        assert sim.num_qubits == reference.num_qubits
        assert same_state(vector, reference), (name, qubits)
        # Each order fixes the global phase at its own first non-zero amplitude.
        assert same_state(sim.state_vector(endian="big"), big_endian(reference))
        for q in range(sim.num_qubits):
            assert abs(sim.peek_probability(q) - reference.probability_one(q)) < 1e-6
