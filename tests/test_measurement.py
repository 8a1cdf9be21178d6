"""X-basis and Pauli-product measurements and Pauli expectation values: the documented
examples, refusals, draws, and random circuits against the dense reference."""

import itertools
import math
import random
import re

import numpy as np
import pytest
from hypothesis import given, note, settings
from hypothesis import strategies as st

from chacha8 import ChaCha8
from dense_reference import DenseState
from test_simulator import next_coins
from velkor import MeasurementError, Simulator


def parse(text):
    """(factors, negated) of a compact Pauli text, as the dense reference takes them."""
    negated = text.startswith("-")
    body = text.lstrip("+-")
    return [(q, letter) for q, letter in enumerate(body) if letter in "XYZ"], negated


def odd_phase_probability_zero(c):
    return (math.cos(c * 0.7853981633974483) + 1.0) * 0.5


# ---- Documented examples.


@pytest.mark.parametrize("gates, constant", [
    (["t"], 1), (["t_dag"], 7), (["s", "t"], 3), (["s_dag", "t_dag"], 5),
])
@pytest.mark.parametrize("seed", range(6))
def test_odd_phase_probabilities_and_outcomes(gates, constant, seed):
    sim = Simulator(seed=seed)
    sim.reset_x(0)
    for gate in gates:
        getattr(sim, gate)(0)
    p0 = odd_phase_probability_zero(constant)
    assert sim.peek_x_probability(0) == 1 - p0
    outcome = sim.measure_x(0)
    # One Bernoulli draw with the probability of outcome 0.
    assert outcome == (ChaCha8(seed).next_u64() >= int(p0 * 2.0**64))
    assert sim.peek_x_probability(0) == float(outcome)  # an X eigenstate again
    assert sim.measure_x(0) is outcome


@pytest.mark.parametrize("seed", [0, 42, 7])
def test_fresh_qubit_draws_one_coin_then_stays(seed):
    sim, oracle = Simulator(seed=seed), ChaCha8(seed)
    assert sim.peek_x_probability(3) == 0.5 and sim.num_qubits == 0
    outcome = sim.measure_x(3)
    assert outcome is oracle.fair_coin() and sim.num_qubits == 4
    assert sim.measure_x(3) is outcome  # no draw the second time
    assert next_coins(sim) == [oracle.fair_coin() for _ in range(8)]


@pytest.mark.parametrize("gates, observable, value", [
    (["s"], "Y", 1.0), ([], "Y", 0.0), (["s_dag"], "-Y", 1.0), ([], "X", 1.0), ([], "Z", 0.0),
    (["z"], "X", -1.0), ([], "XZ", 1.0), ([], "XX", 0.0), ([], "IIIZ", 1.0), ([], "-IIIZ", -1.0),
    ([], "XIIIX", 0.0), ([], "XIIIY", 0.0), ([], "III", 1.0), ([], "-_", -1.0),
    (["t"], "X", pytest.approx(0.7071067811865476, abs=1e-15)),
])
def test_expectation_values(gates, observable, value):
    sim = Simulator(seed=1)
    sim.reset_x(0)
    for gate in gates:
        getattr(sim, gate)(0)
    assert sim.peek_observable_expectation(observable) == value
    assert sim.num_qubits == 1  # a peek never grows the register


# ---- Refusals.

REFUSALS = [
    ([("ccz", 0, 1, 2)], "non-affine zero set"),
    ([("t", 0), ("ccz", 0, 1, 2)], "odd-phase cross terms are not rank one"),
    ([("t_dag", 0), ("cz", 0, 1)], "odd phase is not two-valued"),
    ([("t", 1), ("t_dag", 0), ("cnot", 0, 1)], "mixed phase parity"),
    ([("s_dag", 0), ("ccz", 0, 1, 4), ("ccz", 0, 2, 3)], "quadratic rank exceeds two"),
]


@pytest.mark.parametrize("gates, reason", REFUSALS)
@pytest.mark.parametrize("observable", [None, "X", "X_IIIIIII", "-X"])
def test_refused_measurements_change_nothing(gates, reason, observable):
    sim = Simulator(seed=5)
    sim.reset_x(*range(5))
    for name, *qubits in gates:
        getattr(sim, name)(*qubits)
    refusal = f"X measurement on qubit 0 is incompatible: {reason}"
    before, coins = sim.state_vector(), next_coins(sim)
    with pytest.raises(MeasurementError) as peeked:
        sim.peek_x_probability(0)
    with pytest.raises(MeasurementError) as measured:
        if observable is None:
            sim.measure_x(0)
        else:
            sim.measure_observable(observable, flip_probability=0.5)
    assert type(measured.value) is MeasurementError and isinstance(measured.value, Exception)
    assert peeked.value.args == (refusal,)
    wrapped = "" if observable is None else "Pauli observable measurement is incompatible: "
    assert measured.value.args == (wrapped + refusal,)
    assert sim.num_qubits == 5
    np.testing.assert_array_equal(sim.state_vector(), before)
    assert next_coins(sim) == coins


def test_product_refusal_names_the_pivot_qubit():
    sim = Simulator(seed=5)
    sim.reset_x(0, 1, 2)
    sim.ccz(0, 1, 2)
    with pytest.raises(MeasurementError, match=r"^Pauli observable measurement is incompatible: "
                       r"X measurement on qubit 2 is incompatible: non-affine zero set$"):
        sim.measure_observable("ZIX")


# ---- Random circuits against the dense reference: every step (gates and their aliases, resets,
# Z, X and product measurements, noise) is followed by the reference, whose state must equal the
# simulator's, global phase included, in both qubit orders; every peek must agree with it, and a
# refused measurement must leave the simulator exactly as it was, its random stream included.

NUM_QUBITS = 6
GATES = {1: ["x", "y", "z", "s", "s_dag", "t", "t_dag", "t", "t_dag"],
         2: ["cnot", "cx", "cz", "swap"], 3: ["ccz"]}
NOISE = {"x_error": (1, "X"), "y_error": (1, "Y"), "z_error": (1, "Z"), "depolarize1": (1, None),
         "depolarize2": (2, None), "depolarize3": (3, None)}
MEASUREMENTS = ["measure", "measure_z", "measure_many", "measure_x", "measure_x"]


def random_product(rng):
    symbols = rng.choices("IXYZ_", k=rng.randint(1, NUM_QUBITS))
    return rng.choice(["", "+", "-"]) + "".join(symbols)


def random_step(rng):
    """(kind, name, argument): a gate, reset, Z or X measurement, product measurement or noise
    channel on qubits below NUM_QUBITS."""
    qubits = lambda k: tuple(rng.sample(range(NUM_QUBITS), k))
    kind = rng.choices(["gate", "reset", "measure", "observable", "noise"], [8, 1, 3, 2, 2])[0]
    if kind == "gate":
        arity = rng.choices([1, 2, 3], [5, 3, 2])[0]
        return kind, rng.choice(GATES[arity]), qubits(arity)
    if kind == "noise":
        name = rng.choice(list(NOISE))
        return kind, name, (qubits(NOISE[name][0]), rng.choice([0.0, 1.0, 0.5, 0.125]))
    if kind == "observable":
        return kind, "measure_observable", random_product(rng)
    if kind == "reset":
        return kind, rng.choice(["reset", "reset_z", "reset_x"]), rng.randrange(NUM_QUBITS)
    name = rng.choice(MEASUREMENTS)
    return kind, name, qubits(rng.randint(1, 3)) if name == "measure_many" else rng.randrange(
        NUM_QUBITS)


def same_state(vector, reference):
    return vector.shape == reference.amplitudes.shape and np.allclose(
        vector, reference.canonical(), atol=2e-5)


def follow(sim, branches, what):
    """The dense branch that the simulator's state matches (a reset's outcome, a noise fault)."""
    vector = sim.state_vector()
    for branch in branches:
        if same_state(vector, branch):
            return branch
    raise AssertionError(f"{what} left a state no branch explains")


def noise_branches(reference, name, qubits, p):
    arity, only = NOISE[name]
    paulis = [(only,)] if only else itertools.product("IXYZ", repeat=arity)
    candidates = [("I",) * arity] * (p < 1) + [f for f in paulis if set(f) != {"I"}] * (p > 0)
    for factors in candidates:
        branch = reference.copy()
        branch.grow(max(qubits) + 1)
        branch.amplitudes = branch.pauli_applied(
            [(q, f) for q, f in zip(qubits, factors) if f != "I"])
        yield branch


REFUSAL = re.compile(r"(Pauli observable measurement is incompatible: )?X measurement on qubit "
                     r"\d+ is incompatible: (" + "|".join(reason for _, reason in REFUSALS) + ")")


def measure(sim, reference, name, argument):
    """Measures on the simulator; the reference follows the reported outcomes, or, when the
    measurement is refused, the simulator must be exactly as a copy taken before the call."""
    if name == "measure_observable":
        products = [parse(argument)]
        span, call = len(argument.lstrip("+-")), lambda: [sim.measure_observable(argument)]
    elif name == "measure_many":
        products = [([(q, "Z")], False) for q in argument]
        span, call = max(argument) + 1, lambda: sim.measure_many(*argument)
    else:
        products = [([(argument, "X" if name == "measure_x" else "Z")], False)]
        span, call = argument + 1, lambda: [getattr(sim, name)(argument)]
    twin = sim.copy(copy_rng=True)
    try:
        outcomes = call()
    except MeasurementError as refusal:
        match = REFUSAL.fullmatch(str(refusal))
        assert match and bool(match[1]) == (name == "measure_observable"), str(refusal)
        if name == "measure_x":  # the peek refuses alike
            with pytest.raises(MeasurementError, match=f"^{re.escape(str(refusal))}$"):
                twin.peek_x_probability(argument)
        assert sim.num_qubits == twin.num_qubits
        np.testing.assert_array_equal(sim.state_vector(), twin.state_vector())
        assert next_coins(sim) == next_coins(twin)
        return reference
    if name == "measure_x":
        twin.peek_x_probability(argument)  # accepted, so the peek is too
    reference.grow(span)
    certain = True
    for (factors, negated), outcome in zip(products, outcomes, strict=True):
        assert type(outcome) is bool
        probability = (1 + (-1) ** outcome * reference.expectation(factors, negated)) / 2
        assert probability > 1e-9, (name, argument, outcome)
        certain &= probability > 1 - 1e-9
        reference.project_pauli(factors, negated, outcome)
    if certain:  # a certain outcome draws nothing
        assert next_coins(sim) == next_coins(twin)
    return reference


def check_peeks(sim, reference, q, product):
    num_qubits = sim.num_qubits
    try:
        probability = sim.peek_x_probability(q)
    except MeasurementError:
        pass  # measure() checks refusals
    else:
        assert abs(probability - (1 - reference.expectation([(q, "X")])) / 2) < 1e-9, q
    probability = (sim.peek_probability, sim.peek_z_probability)[q % 2](q)
    assert abs(probability - reference.probability_one(q)) < 1e-6, q
    factors, negated = parse(product)
    expectation = sim.peek_observable_expectation(product)
    assert abs(expectation - reference.expectation(factors, negated)) < 1e-9, product
    assert sim.num_qubits == num_qubits


def big_endian(reference):
    """The reference's amplitudes in big qubit order, as a dense state of its own."""
    reordered = DenseState()
    shape = (2,) * reference.num_qubits
    reordered.amplitudes = reference.amplitudes.reshape(shape).transpose().reshape(-1)
    return reordered


@settings(max_examples=2000, deadline=None, derandomize=True)
@given(seed=st.integers(0, 2**64 - 1), circuit_seed=st.integers(0, 2**32))
def test_random_circuits_match_the_dense_reference(seed, circuit_seed):
    # The circuit comes from its own seed: drawing every choice through the test engine would
    # cost more than the simulation; the steps are noted for a failing example.
    rng = random.Random(circuit_seed)
    sim, reference = Simulator(seed=seed), DenseState()
    prepared = range(NUM_QUBITS) if rng.random() < 0.7 else rng.sample(range(NUM_QUBITS), 3)
    sim.reset_x(*prepared)
    for q in prepared:
        reference.h(q)
    circuit = [random_step(rng) for _ in range(12)]
    note(f"steps: {circuit}")
    for kind, name, argument in circuit:
        if kind == "gate":
            getattr(sim, name)(*argument)
            reference.gate({"cx": "cnot"}.get(name, name), *argument)
        elif kind == "reset":
            getattr(sim, name)(argument)
            reference = follow(sim, reference.reset_branches(name, argument), name)
        elif kind == "noise":
            qubits, p = argument
            getattr(sim, name)(*qubits, p=p)
            reference = follow(sim, noise_branches(reference, name, qubits, p), name)
        else:
            reference = measure(sim, reference, name, argument)
        assert sim.num_qubits == reference.num_qubits
        assert same_state(sim.state_vector(), reference), (name, argument)
        # Each order fixes the global phase at its own first non-zero amplitude.
        assert same_state(sim.state_vector(endian="big"), big_endian(reference))
        check_peeks(sim, reference, rng.randrange(NUM_QUBITS + 1), random_product(rng))
