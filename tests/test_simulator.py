"""Simulator methods beside the dense-reference test of test_measurement.py: register growth, the
state vector's array, seeded outcomes, copies, and the checks on every method's arguments (which
must change and draw nothing)."""

import math

import numpy as np
import pytest

from velkor import Simulator

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
    *[(lambda s, e=endian: s.state_vector(endian=e), ValueError,
       "endian must be 'little' or 'big', but got " + shown) for endian, shown in [
        ("LITTLE", '"LITTLE"'), ("", '""'), ("a\"b\\c", '"a\\"b\\\\c"'),
        ("it's\t\n\r\0", '"it\'s\\t\\n\\r\\0"'), ("\x07é\u200b", '"\\u{7}é\\u{200b}"'),
        ("\ud800", '"\\u{d800}"')]],
    *[(lambda s, t=text: s.peek_observable_expectation(t), ValueError,
       f"invalid compact Pauli observable symbol {shown} at position {position}")
      for text, shown, position in [
        ("'", "'\\''", 0), ('"', "'\"'", 0), ("\\", "'\\\\'", 0), ("\t", "'\\t'", 0),
        ("\r", "'\\r'", 0), ("\n", "'\\n'", 0), ("\0", "'\\0'", 0), ("\x07", "'\\u{7}'", 0),
        ("\u200b", "'\\u{200b}'", 0), ("é", "'é'", 0), ("-XYé", "'é'", 2), ("Zé\U0001F600", "'é'", 1),
        ("ZZ\U0001F600", "'\U0001F600'", 2), (" X", "' '", 0), ("+X+", "'+'", 1)]],
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


def test_state_vector_is_a_fresh_complex64_array():
    sim = Simulator()
    vector = sim.state_vector()
    np.testing.assert_array_equal(vector, np.array([1 + 0j], dtype=np.complex64))
    assert vector.dtype == np.complex64 and vector.ndim == 1 and vector.strides == (8,)
    assert vector.flags.writeable and vector.flags.c_contiguous
    assert vector.base is not None and not vector.flags.owndata
    vector[:] = 0
    assert sim.state_vector()[0] == 1


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
    np.testing.assert_array_equal(twin.state_vector(), sim.state_vector())
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
