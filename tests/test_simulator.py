"""Simulator methods beside the dense-reference test of test_measurement.py: register growth, the
state vector's array, seeded outcomes, copies, and the checks on every method's arguments (which
must change and draw nothing)."""

import math

import numpy as np
import pytest

from test_hostile_inputs import UNDER_SANITIZER
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
GROW = "cannot grow the register to {} qubits"
# (call, error type, message or None, parameter named by the error's note or None)
REFUSALS = [
    ("x(0, -1)", IndexError, "qubit index -1 must be non-negative"),
    ("t(-3, -5)", IndexError, "qubit index -3 must be non-negative"),
    ("cz(1, 2, 3)", ValueError, "CZ requires an even number of targets"),
    ("cz(-1, 2, 3)", ValueError, "CZ requires an even number of targets"),
    ('cz("a", 1, 2)', TypeError, "'str' object cannot be interpreted as an integer"),
    ("cz(-1, 2)", IndexError, "qubit index -1 must be non-negative"),
    ("cz(0, 1, 2, 2, 3, 3)", ValueError,
     "CZ pair endpoints must be different qubits (both were 2)"),
    ("swap(2, 2)", ValueError, "SWAP pair endpoints must be different qubits (both were 2)"),
    ("swap(5, 5, -1, 0)", IndexError, "qubit index -1 must be non-negative"),
    ("cnot(5, 5)", ValueError, "CNOT control and target must be different qubits (both were 5)"),
    ("cx(0, 1, 2)", ValueError, "CNOT requires an even number of targets"),
    ("ccz(0, 1, 0)", ValueError, "CCZ triple endpoints must be different (got 0, 1, 0)"),
    ("ccz(0, 1, 2, 3, 3, 4)", ValueError, "CCZ triple endpoints must be different (got 3, 3, 4)"),
    ("ccz(0, 1)", ValueError, "CCZ requires a multiple of three targets"),
    ("ccz(-1, 1)", ValueError, "CCZ requires a multiple of three targets"),
    ("measure(-1)", IndexError, "qubit index -1 must be non-negative"),
    ("measure_many(0, 4, -2)", IndexError, "qubit index -2 must be non-negative"),
    ("peek_probability(-1)", IndexError, "qubit index -1 must be non-negative"),
    ("reset_x(0, -1)", IndexError, "qubit index -1 must be non-negative"),
    ("measure_x(-1)", IndexError, "qubit index -1 must be non-negative"),
    ("peek_x_probability(-2)", IndexError, "qubit index -2 must be non-negative"),
    ("copy(copy_rng=True, seed=1)", ValueError, "copy_rng and seed cannot both be specified"),
    ('measure_observable("")', ValueError, NO_FACTOR),
    ('measure_observable("+")', ValueError, NO_FACTOR),
    ('peek_observable_expectation("-")', ValueError, NO_FACTOR),
    ('measure_observable("XQ")', ValueError,
     "invalid compact Pauli observable symbol 'Q' at position 1"),
    ('measure_observable("+-X")', ValueError,
     "invalid compact Pauli observable symbol '-' at position 0"),
    ('peek_observable_expectation("Ix")', ValueError,
     "invalid compact Pauli observable symbol 'x' at position 1"),
    ('measure_observable("Q", flip_probability=2.0)', ValueError, PROBABILITY + "2"),
    ('measure_observable("X", flip_probability=-0.5)', ValueError, PROBABILITY + "-0.5"),
    ("measure_observable(1, flip_probability=2.0)", TypeError, "must be str, not int"),
    ("x_error(0, p=1.5)", ValueError, PROBABILITY + "1.5"),
    ("y_error(0, p=math.nan)", ValueError, PROBABILITY + "NaN"),
    ("z_error(0, p=math.inf)", ValueError, PROBABILITY + "inf"),
    ("depolarize1(0, p=-math.inf)", ValueError, PROBABILITY + "-inf"),
    ("x_error(0, p=1.0000001)", ValueError, PROBABILITY + "1.0000001"),
    ("x_error(0, p=-1e-7)", ValueError, PROBABILITY + "-0.0000001"),
    ("x_error(0, p=1e20)", ValueError, PROBABILITY + "100000000000000000000"),
    ("x_error(-1, p=2.0)", ValueError, PROBABILITY + "2"),
    ('x_error("a", p=2.0)', TypeError, "'str' object cannot be interpreted as an integer"),
    ("z_error(3, -1, p=0.5)", IndexError, "qubit index -1 must be non-negative"),
    ("depolarize2(0, 1, 2, p=0.1)", ValueError, "depolarize2 requires an even number of targets"),
    ("depolarize2(-1, 2, 3, p=0.1)", ValueError, "depolarize2 requires an even number of targets"),
    ("depolarize2(-1, 2, p=0.1)", IndexError, "qubit index -1 must be non-negative"),
    ("depolarize2(0, 1, 3, 3, p=0.1)", ValueError,
     "depolarize2 pair endpoints must be different qubits (both were 3)"),
    ("depolarize2(0, 0, p=1.5)", ValueError, PROBABILITY + "1.5"),
    ("depolarize3(0, 1, p=0.1)", ValueError, "depolarize3 requires a multiple of three targets"),
    ("depolarize3(-1, 0, 1, p=0.1)", IndexError, "qubit index -1 must be non-negative"),
    ("depolarize3(0, 1, 2, 0, 1, 1, p=0.1)", ValueError,
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
        ("\u200b", "'\\u{200b}'", 0), ("é", "'é'", 0), ("-XYé", "'é'", 2),
        ("Zé\U0001F600", "'é'", 1), ("ZZ\U0001F600", "'\U0001F600'", 2), (" X", "' '", 0),
        ("+X+", "'+'", 1)]],
    # Conversions: the note names the parameter.
    ("x('0')", TypeError, None, "targets"),
    ("x(0, 1.0)", TypeError, None, "targets"),
    ("cnot(0, 2**63)", OverflowError, None, "targets"),
    ("measure(None)", TypeError, None, "target"),
    ("peek_probability(-2**63 - 1)", OverflowError, None, "target"),
    ('state_vector(endian=b"big")', TypeError, None, "endian"),
    ("copy(copy_rng=1)", TypeError, None, "copy_rng"),
    ("copy(seed=-1)", OverflowError, None, "seed"),
    ("copy(seed=2**64)", OverflowError, None, "seed"),
    ("measure_x(1.5)", TypeError, None, "target"),
    ("x_error('0', p=0.5)", TypeError, None, "targets"),
    ("depolarize2(0, 1, p='0.5')", TypeError, None, "p"),
    ("depolarize1(0, p=None)", TypeError, None, "p"),
    ('measure_observable(b"X")', TypeError, None, "observable"),
    ("peek_observable_expectation(None)", TypeError, None, "observable"),
    ('measure_observable("X", flip_probability=None)', TypeError, None, "flip_probability"),
    # Registers no machine can hold, refused before any allocation.
    ("x(10**15)", MemoryError, GROW.format(10**15 + 1)),
    ("reset(2**63 - 1)", MemoryError, GROW.format(2**63)),
    ("reset_x(2, 2**63 - 1)", MemoryError, GROW.format(2**63)),
    ("cnot(0, 2**62)", MemoryError, GROW.format(2**62 + 1)),
    ("swap(2**62, 0)", MemoryError, GROW.format(2**62 + 1)),
    ("ccz(0, 1, 2**52)", MemoryError, GROW.format(2**52 + 1)),
    ("measure(2**63 - 1)", MemoryError, GROW.format(2**63)),
    ("measure_x(2**63 - 1)", MemoryError, GROW.format(2**63)),
    ("measure_many(0, 1, 2**63 - 1)", MemoryError, GROW.format(2**63)),
    ("x_error(0, 2**63 - 1, p=1.0)", MemoryError, GROW.format(2**63)),
    ("depolarize2(2**63 - 1, 0, p=0.5)", MemoryError, GROW.format(2**63)),
    ("depolarize3(0, 1, 2**63 - 1, p=0.5)", MemoryError, GROW.format(2**63)),
]


@pytest.mark.parametrize("empty", [False, True], ids=["prepared", "empty"])
@pytest.mark.parametrize("call, error, message, note",
                         [row + (None,) * (4 - len(row)) for row in REFUSALS])
def test_refusals_change_and_draw_nothing(call, error, message, note, empty):
    sim = Simulator(seed=5)
    if not empty:  # superpositions, phases and a measured qubit
        sim.reset_x(0, 1, 2)
        sim.t(0)
        sim.ccz(0, 1, 2)
        sim.measure(1)
    if empty and call == "x(10**15)" and UNDER_SANITIZER:
        pytest.skip("an empty register of 10^15 qubits is refused by the allocator")
    before, coins, num_qubits = sim.state_vector(), next_coins(sim), sim.num_qubits
    with pytest.raises(error) as raised:
        call(sim) if callable(call) else eval(f"sim.{call}")
    assert type(raised.value) is error
    assert message is None or str(raised.value) == message
    assert note is None or raised.value.__notes__ == [f"while processing '{note}'"]
    assert repr(sim) == f"Simulator(num_qubits={num_qubits})"
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


def test_a_t_phase_outlives_the_measurements_that_shrink_its_key():
    # 70 path variables, then 69 Z measurements: the T phase on the last qubit is re-keyed as the
    # variables' words shrink from two to one.
    sim = Simulator(seed=1)
    sim.reset_x(*range(70))
    sim.t(69)
    sim.measure_many(*range(69))
    assert sim.peek_observable_expectation("I" * 69 + "X") == 0.7071067811865476


def test_state_vector_is_a_fresh_complex64_array():
    sim = Simulator()
    vector = sim.state_vector()
    np.testing.assert_array_equal(vector, np.array([1 + 0j], dtype=np.complex64))
    assert vector.dtype == np.complex64 and vector.ndim == 1 and vector.strides == (8,)
    assert vector.flags.writeable and vector.flags.c_contiguous
    assert vector.base is not None and not vector.flags.owndata
    vector[:] = 0
    assert sim.state_vector()[0] == 1
    sim.reset_x(*range(20))  # 8 MiB, a buffer large enough for huge pages
    np.testing.assert_array_equal(sim.state_vector(), np.full(2**20, 2**-10, np.complex64))


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
