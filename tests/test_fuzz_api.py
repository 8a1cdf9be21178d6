"""Property tests that drive the whole Python surface with random, mostly hostile, calls.

`Simulator` gets random sequences of method calls whose arguments include huge and negative
indices, NaN and infinite probabilities, wrong types, empty and odd target lists, arguments whose
conversion calls back into the same object, and random compact observables. `CircuitSampler`
gets random circuit texts built from the instruction vocabulary, valid and broken, and random
sampling arguments. Whatever happens, the interpreter survives and every exception is one of
the documented types (never a panic or SystemError). Each object also runs beside a shadow
twin with the same seed that repeats only the calls that went through: a call refused for its
arguments must leave the state and the random stream as they were, so the two never drift.

The default example count keeps the file to a few seconds. For a long run:

    VELKOR_FUZZ_EXAMPLES=100000 python -m pytest tests/test_fuzz_api.py
"""

import math
import os
import random

import numpy as np
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st

from test_compiled_sampling import random_circuit
from velkor import CircuitSampler, MeasurementError, Simulator

EXAMPLES = int(os.environ.get("VELKOR_FUZZ_EXAMPLES", "100"))
FUZZ = settings(max_examples=EXAMPLES, deadline=None,
                suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])


class Boom(Exception):
    """Raised by hostile argument objects; it must come back out unchanged."""


DOCUMENTED = (TypeError, ValueError, IndexError, OverflowError, MemoryError, RuntimeError,
              MeasurementError, Boom)
# Refusals that must leave the object exactly as it was.
REFUSALS = (TypeError, ValueError, IndexError, OverflowError, MemoryError, RuntimeError, Boom)


def outcome(call):
    """('ok', result) or ('error', exception) of call(); anything undocumented fails the test."""
    try:
        return "ok", call()
    except BaseException as error:  # PanicException derives from BaseException
        assert isinstance(error, DOCUMENTED), f"undocumented {type(error).__qualname__}: {error}"
        assert str(error), f"{type(error).__name__} without a message"
        if isinstance(error, MemoryError):
            assert any(c.isdigit() for c in str(error)), f"size not named: {error}"
        return "error", error


class Reentrant:
    """An index whose conversion first calls `name` on the object being called."""

    def __init__(self, name, value):
        self.name, self.value, self.target = name, value, None

    def __index__(self):
        member = getattr(self.target, self.name)
        if callable(member):
            member(0)
        return self.value

    def __float__(self):
        return float(self.__index__())

    def __repr__(self):
        return f"Reentrant({self.name!r}, {self.value})"


class Raising:
    def __index__(self):
        raise Boom("no index")

    __float__ = __index__

    def __repr__(self):
        return "Raising()"


HUGE_INDICES = [2**52, 2**62, 2**63 - 1, 2**63, 2**64 - 1, 2**64, 10**30, -1, -(2**63),
                -(2**63) - 1]
WRONG_TYPES = [None, 1.5, 2.0, "0", b"0", [0], (1,), float("nan"), object(), 1j]
NUMPY = [np.int64(3), np.uint64(2**63), np.int8(-1), np.bool_(True), np.float64(1.0)]

index = st.one_of(
    st.integers(0, 7), st.integers(0, 7), st.integers(0, 7), st.integers(0, 7),
    st.sampled_from(HUGE_INDICES), st.sampled_from(WRONG_TYPES + NUMPY), st.booleans(),
    st.builds(Raising),
    st.builds(Reentrant, st.sampled_from(["x", "peek_probability", "num_qubits", "measure"]),
              st.integers(0, 3)),
)
targets = st.lists(index, max_size=7)
probability = st.one_of(
    st.floats(0, 1), st.floats(allow_nan=True, allow_infinity=True),
    st.sampled_from([0.0, -0.0, 1.0, 1.0000000000000002, 5e-324, 2, 10**400, True, None, "0.5",
                     np.float32(0.25), Raising()]),
)
observable = st.one_of(
    st.text(alphabet="+-IXYZ_", max_size=10), st.text(max_size=6),
    st.sampled_from(["", "+", "-", "I" * 14 + "Z", "XQ", "Z\x00", "x", b"Z", None, 3]),
)
endian = st.one_of(st.sampled_from(["little", "big", "LITTLE", "", "\\", None, 1, b"big"]),
                   st.text(max_size=4))
seed = st.one_of(st.none(), st.integers(0, 2**64 - 1),
                 st.sampled_from([-1, 2**64, 1.0, "1", np.uint64(7)]))
flag = st.sampled_from([False, True, None, 0, 1, "yes", np.bool_(True), 2.5])

SINGLE = ["x", "y", "z", "s", "s_dag", "t", "t_dag", "reset", "reset_z", "reset_x",
          "measure_many"]
GROUPED = ["cnot", "cx", "cz", "swap", "ccz"]
NOISE = ["x_error", "y_error", "z_error", "depolarize1", "depolarize2", "depolarize3"]
ONE_TARGET = ["measure", "measure_z", "measure_x", "peek_probability", "peek_z_probability",
              "peek_x_probability"]
junk_keyword = st.sampled_from([{}, {}, {}, {"p": 0.5}, {"target": 0}, {"foo": 1}])


def method_call(names, arguments, keywords):
    return st.tuples(st.sampled_from(names), arguments, keywords)


# (method name, positional arguments, keyword arguments) of one Simulator call.
simulator_call = st.one_of(
    method_call(SINGLE, targets, junk_keyword),
    method_call(GROUPED, targets, junk_keyword),
    method_call(NOISE, targets, st.one_of(st.fixed_dictionaries({"p": probability}), junk_keyword)),
    method_call(ONE_TARGET, st.one_of(st.tuples(index).map(list), st.lists(index, max_size=3)),
                junk_keyword),
    method_call(["measure_observable"], st.tuples(observable).map(list),
                st.one_of(st.just({}), st.fixed_dictionaries({"flip_probability": probability}))),
    method_call(["peek_observable_expectation"], st.tuples(observable).map(list), junk_keyword),
    method_call(["state_vector"], st.just([]),
                st.one_of(st.just({}), st.fixed_dictionaries({"endian": endian}))),
    method_call(["copy"], st.just([]),
                st.fixed_dictionaries({}, optional={"copy_rng": flag, "seed": seed})),
    method_call(["num_qubits", "__repr__"], st.just([]), st.just({})),
)


def invoke(sim, name, arguments, keywords):
    for argument in [*arguments, *keywords.values()]:
        if isinstance(argument, Reentrant):
            argument.target = sim
    member = getattr(sim, name)
    return member(*arguments, **keywords) if callable(member) else member


def same_result(a, b):
    if isinstance(a, np.ndarray):
        np.testing.assert_array_equal(a, b)
    elif isinstance(a, Simulator):
        assert a.num_qubits == b.num_qubits
    elif isinstance(a, float) and math.isnan(a):
        assert math.isnan(b)
    else:
        assert a == b


@FUZZ
@given(st.integers(0, 2**64 - 1), st.lists(simulator_call, max_size=25))
def test_simulator_survives_random_calls(seed_value, calls):
    sim, shadow = Simulator(seed=seed_value), Simulator(seed=seed_value)
    for name, arguments, keywords in calls:
        kind, result = outcome(lambda: invoke(sim, name, arguments, keywords))
        if kind == "error" and isinstance(result, REFUSALS):
            assert sim.num_qubits == shadow.num_qubits, (name, arguments, keywords, result)
            continue
        # Went through (or was refused by the state itself): the shadow does the same.
        shadow_kind, shadow_result = outcome(lambda: invoke(shadow, name, arguments, keywords))
        assert shadow_kind == kind
        if kind == "ok":
            same_result(result, shadow_result)
        else:
            assert str(shadow_result) == str(result)
    assert sim.num_qubits == shadow.num_qubits
    if sim.num_qubits <= 12:
        vector = sim.state_vector()
        np.testing.assert_array_equal(vector, shadow.state_vector())
        assert abs(np.vdot(vector, vector).real - 1) < 1e-4
    everything = range(min(sim.num_qubits, 16))
    assert sim.measure_many(*everything) == shadow.measure_many(*everything)


# ---- Circuit texts: random valid circuits (see test_compiled_sampling.py) with, one text in
# three, a broken line among them: a name, arguments and targets thrown together, a brace out of
# place, or random characters.

NAMES = ["X", "CX", "CY", "CZ", "CCZ", "SWAP", "M", "MX", "MPP", "R", "X_ERROR", "DEPOLARIZE2",
         "DEPOLARIZE3", "PAULI_CHANNEL_1", "PAULI_CHANNEL_2", "EXP_VAL", "DETECTOR",
         "OBSERVABLE_INCLUDE", "QUBIT_COORDS", "H", "MY", "REPEAT", "X_ERROR(", ""]
NUMBERS = ["0", "0.5", "1", "-1", "2", "1e15", "1.5", "nan", "inf", "18446744073709551616",
           "18446744073709551615", "-0", ""]
TOKENS = ["0", "1", "!0", "rec[-1]", "rec[-5]", "rec[-0]", "rec[1]", "rec[-1", "sweep[0]",
          "X0*Y1", "!X0*Z3", "X0*X0", "x0", "X0*", "*", "+3", "007", "-1", "18446744073709551615",
          "18446744073709551614", "4503599627370496", "X18446744073709551614",
          "Z4503599627370496", "18446744073709551616", "a"]
COUNTS = ["0", "1", "2", "100", "18446744073709551615", "18446744073709551616", "007"]


def broken_line(rng):
    arguments = rng.choices(NUMBERS, k=rng.randint(1, 4)) if rng.random() < 0.5 else []
    line = rng.choice(NAMES) + (f"({', '.join(arguments)})" if arguments else "") + "".join(
        f" {t}" for t in rng.choices(TOKENS, k=rng.randint(0, 5)))
    return rng.choice([line, f"REPEAT 2 {{\n{line}\n}}", "}", "{", "REPEAT 2 {", "REPEAT {",
                       "X 0 {", "".join(rng.choices("X0 1!*(){}#\t\x00é", k=rng.randint(0, 12)))])


def circuit_text(seed):
    rng = random.Random(seed)
    lines = random_circuit(rng, 6, non_clifford=True).splitlines()
    for _ in range(rng.randint(0, 2)):
        lines.insert(rng.randint(0, len(lines)), rng.choice(["", "# comment", "  \t", "M 0 # x"]))
    if rng.random() < 0.2:
        lines = [f"REPEAT {rng.choice(COUNTS)} {{", *lines, "}"]
    if rng.randrange(3) == 0:
        lines.insert(rng.randint(0, len(lines)), broken_line(rng))
    return rng.choice(["\n", "\r\n", "\n\n"]).join(rng.choice([[], ["M 0 1 2"]]) + lines)


def rarely(common, rare, one_in=10):
    """`rare` once in `one_in` draws, else `common`."""
    return st.integers(1, one_in).flatmap(lambda k: rare if k == 1 else common)


sampler_seed = rarely(st.integers(0, 2**64 - 1), seed)
postselect = rarely(st.none(), st.one_of(st.lists(st.integers(-1, 3), max_size=3), st.sampled_from(
    ["01", [1.5], [2**64], (0,), b"\x00", 7])), one_in=5)
shots = rarely(st.integers(0, 6),
               st.sampled_from([-1, 2**62, 2**63, 1.5, "3", None, np.int64(2), Raising()]), 5)
num_faults = rarely(st.one_of(st.none(), st.integers(0, 4)),
                    st.sampled_from([-1, 2**64, 1.5, "1", np.int32(1)]), 5)
sample_call = st.fixed_dictionaries({"shots": shots},
                                    optional={"bit_packed": flag, "num_faults": num_faults})


def widths(sampler):
    return (sampler.num_measurements, sampler.num_detectors, sampler.num_observables,
            sampler.num_exp_vals)


def check_result(sampler, result, call):
    assert result.total_shots == call["shots"]
    assert result.discards == result.total_shots - result.accepted_shots >= 0
    packed = bool(call.get("bit_packed"))
    arrays = (result.measurements, result.detectors, result.observables)
    for array, width in zip(arrays, widths(sampler)):
        assert array.dtype == (np.uint8 if packed else np.bool_)
        assert array.shape == (result.accepted_shots, -(-width // 8) if packed else width)
    assert result.exp_vals.shape == (result.accepted_shots, sampler.num_exp_vals)
    assert result.exp_vals.dtype == np.float64


# Fixed texts that the random ones reach only now and then: lists longer than fit inline and
# empty ones copied by a block, fixed-fault sampling, an argument list ending in a comma, and a
# second refused instruction after the first.
BLOCK = ("REPEAT 2 {\nX\nM\nX 0 1 2 3\nCCZ 0 1 2 3 4 5\nDEPOLARIZE2(0.1) 0 1 2 3\nM 0 1 2\n"
         "DETECTOR rec[-1] rec[-2] rec[-3]\nOBSERVABLE_INCLUDE(0) rec[-1] rec[-2] rec[-3]\n}")


@FUZZ
@given(st.integers(0, 2**32).map(circuit_text), sampler_seed, postselect,
       st.lists(sample_call, max_size=3))
@example(BLOCK, 5, None, [{"shots": 3, "num_faults": 1}, {"shots": 2, "bit_packed": True}])
@example("X_ERROR(0.1, ) 0", 1, None, [])
@example("H 0\nH 1", 1, None, [])
@example("X !0", 1, None, [])
@example("CX 0 1 2", 1, None, [])
@example("M 0\nCCZ 0 1\nM rec[-1]", 1, None, [])
def test_circuit_sampler_survives_random_circuits(text, seed_value, entries, calls):
    kind, sampler = outcome(lambda: CircuitSampler(text, seed=seed_value, postselect=entries))
    if kind == "error":
        return
    repr(sampler)
    # A second sampler with the same seed repeats only the calls that went through.
    shadow = None if seed_value is None else CircuitSampler(text, seed=seed_value,
                                                            postselect=entries)
    for call in calls:
        if call["shots"] == 2**62 and not any(widths(sampler)):
            continue  # nothing to allocate: that many shots would simply run
        kind, result = outcome(lambda: sampler.sample(**call))
        if kind == "error" and isinstance(result, REFUSALS):
            continue
        if kind == "ok":
            check_result(sampler, result, call)
        if shadow is not None:
            shadow_kind, shadow_result = outcome(lambda: shadow.sample(**call))
            assert shadow_kind == kind
            if kind == "ok":
                np.testing.assert_array_equal(shadow_result.measurements, result.measurements)
                np.testing.assert_array_equal(shadow_result.exp_vals, result.exp_vals)
            else:
                assert str(shadow_result) == str(result)
    if shadow is not None:
        next_kind, last = outcome(lambda: sampler.sample(2))
        shadow_kind, shadow_last = outcome(lambda: shadow.sample(2))
        assert next_kind == shadow_kind
        if next_kind == "ok":
            np.testing.assert_array_equal(last.measurements, shadow_last.measurements)
            np.testing.assert_array_equal(last.detectors, shadow_last.detectors)
            np.testing.assert_array_equal(last.observables, shadow_last.observables)
