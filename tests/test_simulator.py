"""Simulator methods: gates, Z measurement and reset, X reset, peeks, state vector, copies, and
the checks on every method's arguments (which must change and draw nothing)."""

import math

import numpy as np
import pytest

from velkor import Simulator

HALF = np.float32(0.70710677)


def state(sim):
    return sim.state_vector()


@pytest.mark.parametrize("name", ["x", "y", "z", "s", "s_dag", "t", "t_dag", "reset", "reset_z",
                                  "reset_x", "cnot", "cx", "cz", "swap", "ccz"])
def test_targets_grow_the_register(name):
    sim = Simulator(seed=1)
    assert getattr(sim, name)() is None
    assert sim.num_qubits == 0
    if name not in ("cnot", "cx", "cz", "swap", "ccz"):
        getattr(sim, name)(3, 1)
        assert sim.num_qubits == 4
        getattr(sim, name)(*range(40))  # more targets than fit inline
        assert sim.num_qubits == 40


def next_coins(sim, count=8):
    """The next `count` fair coins of the simulator's generator, read on a copy of it."""
    probe = sim.copy(copy_rng=True)
    fresh = range(probe.num_qubits, probe.num_qubits + count)
    probe.reset_x(*fresh)
    return probe.measure_many(*fresh)


PROBABILITY = "probability must be between 0 and 1, but got "
NO_FACTOR = "compact Pauli observable must contain at least one factor"
ARGUMENT_ERRORS = [
    (lambda s: s.x(0, -1), IndexError, "qubit index -1 must be non-negative"),
    (lambda s: s.t(-3, -5), IndexError, "qubit index -3 must be non-negative"),
    (lambda s: s.cz(1, 2, 3), ValueError, "CZ requires an even number of targets"),
    (lambda s: s.cz(-1, 2, 3), ValueError, "CZ requires an even number of targets"),
    (lambda s: s.cz("a", 1, 2), TypeError, "'str' object cannot be interpreted as an integer"),
    (lambda s: s.cz(-1, 2), IndexError, "qubit index -1 must be non-negative"),
    (lambda s: s.cz(0, 1, 2, 2, 3, 3), ValueError,
     "CZ pair endpoints must be different qubits (both were 2)"),
    (lambda s: s.swap(2, 2), ValueError, "SWAP pair endpoints must be different qubits (both were 2)"),
    (lambda s: s.swap(5, 5, -1, 0), IndexError, "qubit index -1 must be non-negative"),
    (lambda s: s.cnot(5, 5), ValueError,
     "CNOT control and target must be different qubits (both were 5)"),
    (lambda s: s.cx(0, 1, 2), ValueError, "CNOT requires an even number of targets"),
    (lambda s: s.ccz(0, 1, 0), ValueError, "CCZ triple endpoints must be different (got 0, 1, 0)"),
    (lambda s: s.ccz(0, 1, 2, 3, 3, 4), ValueError,
     "CCZ triple endpoints must be different (got 3, 3, 4)"),
    (lambda s: s.ccz(0, 1), ValueError, "CCZ requires a multiple of three targets"),
    (lambda s: s.ccz(-1, 1), ValueError, "CCZ requires a multiple of three targets"),
    (lambda s: s.measure(-1), IndexError, "qubit index -1 must be non-negative"),
    (lambda s: s.measure_many(0, 4, -2), IndexError, "qubit index -2 must be non-negative"),
    (lambda s: s.peek_probability(-1), IndexError, "qubit index -1 must be non-negative"),
    (lambda s: s.reset_x(0, -1), IndexError, "qubit index -1 must be non-negative"),
    (lambda s: s.measure_x(-1), IndexError, "qubit index -1 must be non-negative"),
    (lambda s: s.peek_x_probability(-2), IndexError, "qubit index -2 must be non-negative"),
    (lambda s: s.copy(copy_rng=True, seed=1), ValueError, "copy_rng and seed cannot both be specified"),
    (lambda s: s.measure_observable(""), ValueError, NO_FACTOR),
    (lambda s: s.measure_observable("+"), ValueError, NO_FACTOR),
    (lambda s: s.peek_observable_expectation("-"), ValueError, NO_FACTOR),
    (lambda s: s.measure_observable("XQ"), ValueError,
     "invalid compact Pauli observable symbol 'Q' at position 1"),
    (lambda s: s.measure_observable("+-X"), ValueError,
     "invalid compact Pauli observable symbol '-' at position 0"),
    (lambda s: s.peek_observable_expectation("Ix"), ValueError,
     "invalid compact Pauli observable symbol 'x' at position 1"),
    (lambda s: s.measure_observable("Q", flip_probability=2.0), ValueError, PROBABILITY + "2"),
    (lambda s: s.measure_observable("X", flip_probability=-0.5), ValueError, PROBABILITY + "-0.5"),
    (lambda s: s.measure_observable(1, flip_probability=2.0), TypeError, "must be str, not int"),
    (lambda s: s.x_error(0, p=1.5), ValueError, PROBABILITY + "1.5"),
    (lambda s: s.y_error(0, p=math.nan), ValueError, PROBABILITY + "NaN"),
    (lambda s: s.z_error(0, p=math.inf), ValueError, PROBABILITY + "inf"),
    (lambda s: s.depolarize1(0, p=-math.inf), ValueError, PROBABILITY + "-inf"),
    (lambda s: s.x_error(0, p=1.0000001), ValueError, PROBABILITY + "1.0000001"),
    (lambda s: s.x_error(0, p=-1e-7), ValueError, PROBABILITY + "-0.0000001"),
    (lambda s: s.x_error(0, p=1e20), ValueError, PROBABILITY + "100000000000000000000"),
    (lambda s: s.x_error(-1, p=2.0), ValueError, PROBABILITY + "2"),
    (lambda s: s.x_error("a", p=2.0), TypeError, "'str' object cannot be interpreted as an integer"),
    (lambda s: s.z_error(3, -1, p=0.5), IndexError, "qubit index -1 must be non-negative"),
    (lambda s: s.depolarize2(0, 1, 2, p=0.1), ValueError,
     "depolarize2 requires an even number of targets"),
    (lambda s: s.depolarize2(-1, 2, 3, p=0.1), ValueError,
     "depolarize2 requires an even number of targets"),
    (lambda s: s.depolarize2(-1, 2, p=0.1), IndexError, "qubit index -1 must be non-negative"),
    (lambda s: s.depolarize2(0, 1, 3, 3, p=0.1), ValueError,
     "depolarize2 pair endpoints must be different qubits (both were 3)"),
    (lambda s: s.depolarize2(0, 0, p=1.5), ValueError, PROBABILITY + "1.5"),
    (lambda s: s.depolarize3(0, 1, p=0.1), ValueError,
     "depolarize3 requires a multiple of three targets"),
    (lambda s: s.depolarize3(-1, 0, 1, p=0.1), IndexError, "qubit index -1 must be non-negative"),
    (lambda s: s.depolarize3(0, 1, 2, 0, 1, 1, p=0.1), ValueError,
     "depolarize3 triple endpoints must be different (got 0, 1, 1)"),
]


@pytest.mark.parametrize("call, error, message", ARGUMENT_ERRORS)
def test_argument_errors_change_and_draw_nothing(call, error, message):
    sim = Simulator(seed=7)
    sim.reset_x(0, 1)
    sim.t(0)
    before, coins = sim.state_vector(), next_coins(sim)
    with pytest.raises(error) as raised:
        call(sim)
    assert type(raised.value) is error and str(raised.value) == message
    assert sim.num_qubits == 2
    np.testing.assert_array_equal(sim.state_vector(), before)
    assert next_coins(sim) == coins


@pytest.mark.parametrize("value", [1, True, np.float32(0.25), np.float64(0.5), 0.0])
def test_probabilities_accept_real_numbers(value):
    sim = Simulator(seed=1)
    sim.x_error(0, p=value)
    sim.measure_observable("Z", flip_probability=value)


@pytest.mark.parametrize("seed, outcomes", [
    (0, [True, False, True, False, True, True, True, True]),
    (42, [True, True, False, True, False, False, False, True]),
])
def test_seeded_outcomes(seed, outcomes):
    sim = Simulator(seed=seed)
    sim.reset_x(0, 1, 2, 3, 4, 5, 6, 7)
    assert sim.measure_many(0, 1, 2, 3, 4, 5, 6, 7) == outcomes
    one_by_one = Simulator(seed=seed)
    for q in range(8):
        one_by_one.reset_x(q)
    assert [one_by_one.measure(q) for q in range(8)] == outcomes


def test_measure_grows_and_reports_bools():
    sim = Simulator(seed=1)
    assert sim.measure(7) is False
    assert sim.num_qubits == 8
    sim.x(2)
    assert sim.measure_z(2) is True
    assert sim.measure_many() == []
    assert sim.measure_many(2, 0) == [True, False]
    assert sim.measure_many(9) == [False] and sim.num_qubits == 10


def test_measurement_collapses_entangled_qubits():
    sim = Simulator(seed=5)
    sim.reset_x(0)
    sim.cnot(0, 1)
    first = sim.measure(0)
    assert sim.peek_probability(1) == float(first)
    assert sim.measure_many(1, 0) == [first, first]


def test_peeks():
    sim = Simulator(seed=1)
    assert sim.peek_probability(7) == 0.0 and sim.num_qubits == 0
    sim.reset_x(0)
    sim.x(1)
    assert [sim.peek_z_probability(q) for q in range(3)] == [0.5, 1.0, 0.0]
    assert type(sim.peek_probability(0)) is float


def test_resets():
    sim = Simulator(seed=2)
    sim.x(0, 1, 2)
    sim.reset(0)
    sim.reset_z(1)
    sim.reset_x(2)
    assert [sim.peek_probability(q) for q in range(3)] == [0.0, 0.0, 0.5]
    np.testing.assert_array_equal(state(sim)[[0, 4]], [HALF, HALF])


def test_state_vector_of_a_new_simulator():
    vector = Simulator().state_vector()
    np.testing.assert_array_equal(vector, np.array([1 + 0j], dtype=np.complex64))
    assert vector.dtype == np.complex64 and vector.ndim == 1 and vector.strides == (8,)
    assert vector.flags.writeable and vector.flags.c_contiguous
    assert vector.base is not None and not vector.flags.owndata


def test_state_vector_is_a_fresh_buffer():
    sim = Simulator(seed=1)
    sim.reset_x(0)
    vector = sim.state_vector()
    vector[:] = 0
    np.testing.assert_array_equal(sim.state_vector(), [HALF, HALF])


@pytest.mark.parametrize("endian, index", [("little", 1), ("big", 2)])
def test_state_vector_qubit_order(endian, index):
    sim = Simulator(seed=1)
    sim.x(0)
    sim.z(1)
    expected = np.zeros(4, dtype=np.complex64)
    expected[index] = 1
    np.testing.assert_array_equal(sim.state_vector(endian=endian), expected)


def test_state_vector_phases():
    sim = Simulator(seed=1)
    sim.reset_x(0)
    sim.t(0)
    np.testing.assert_array_equal(state(sim), np.array([HALF, HALF * HALF * (1 + 1j)], np.complex64))
    sim.reset_x(0)
    sim.s_dag(0)
    sim.x(0)
    np.testing.assert_array_equal(state(sim), np.array([HALF, HALF * 1j], np.complex64))


@pytest.mark.parametrize("endian, shown", [
    ("LITTLE", '"LITTLE"'),
    ("", '""'),
    ("a\"b\\c", '"a\\"b\\\\c"'),
    ("it's\t\n\r\0", '"it\'s\\t\\n\\r\\0"'),
    ("\x07é\u200b", '"\\u{7}é\\u{200b}"'),
    ("\ud800", '"\\u{d800}"'),
])
def test_endian_must_be_little_or_big(endian, shown):
    with pytest.raises(ValueError) as error:
        Simulator().state_vector(endian=endian)
    assert str(error.value) == "endian must be 'little' or 'big', but got " + shown


def test_state_vector_too_large_raises_memory_error_and_keeps_the_object():
    sim = Simulator(seed=1)
    sim.x(60)
    with pytest.raises(MemoryError, match="61 qubits"):
        sim.state_vector()
    sim.x(0)
    assert sim.num_qubits == 61 and sim.peek_probability(60) == 1.0


def test_register_too_large_raises_memory_error_and_keeps_the_state():
    sim = Simulator(seed=1)
    sim.reset_x(0)
    with pytest.raises(MemoryError, match="qubits"):
        sim.x(2**62)
    assert sim.num_qubits == 1
    np.testing.assert_array_equal(state(sim), [HALF, HALF])


@pytest.mark.parametrize("first, second", [
    ("cnot", "cx"), ("measure", "measure_z"), ("reset", "reset_z"),
    ("peek_probability", "peek_z_probability"),
])
def test_aliases_behave_alike(first, second):
    results = []
    for name in (first, second):
        sim = Simulator(seed=11)
        sim.reset_x(0, 1, 2)
        sim.t(1)
        method = getattr(sim, name)
        outcome = method(0, 1) if name in ("cnot", "cx", "reset", "reset_z") else method(0)
        results.append((outcome, sim.measure_many(0, 1, 2), state(sim).tobytes()))
    assert results[0] == results[1]


def test_repr_and_num_qubits():
    sim = Simulator()
    assert repr(sim) == "Simulator(num_qubits=0)"
    sim.x(3)
    assert repr(sim) == "Simulator(num_qubits=4)"
    assert type(sim.num_qubits) is int and sim.num_qubits == 4


def test_copies_are_independent_and_draw_as_seeded():
    sim = Simulator(seed=9)
    sim.reset_x(*range(16))
    sim.cz(0, 1)
    twin, seeded, unseeded = sim.copy(copy_rng=True), sim.copy(seed=4), sim.copy()
    reference = Simulator(seed=4)
    reference.reset_x(*range(16))
    np.testing.assert_array_equal(state(twin), state(sim))
    assert seeded.measure_many(*range(16)) == reference.measure_many(*range(16))
    assert sim.peek_probability(0) == 0.5  # the source is untouched
    assert unseeded.num_qubits == 16
    assert twin.measure_many(*range(16)) == sim.measure_many(*range(16))


def test_unseeded_simulators_differ():
    outcomes = []
    for _ in range(2):
        sim = Simulator()
        sim.reset_x(*range(64))
        outcomes.append(sim.measure_many(*range(64)))
    assert outcomes[0] != outcomes[1]  # fails with probability 2^-64
