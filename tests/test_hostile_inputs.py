"""Inputs that ask for sizes no machine can hold: each fails with ValueError or MemoryError naming
the size, before anything changes, and the object stays usable.

Almost every case here is refused by an overflow or address-space check before any allocation
is attempted. The few that really ask the allocator for a huge block are marked
`tries_allocation` and skipped under sanitizers, whose allocators cannot fail such blocks softly.
"""

import os
import subprocess
import sys

import numpy as np
import pytest

from velkor import CircuitSampler, Simulator

UNDER_SANITIZER = "ASAN_OPTIONS" in os.environ or "asan" in os.environ.get("LD_PRELOAD", "")
tries_allocation = pytest.mark.skipif(UNDER_SANITIZER, reason="huge allocation under a sanitizer")

TOP = 2**63 - 1  # the largest index Python can pass


# Registers that cannot grow are refused in the table of test_simulator.py.


def test_peeks_beyond_the_register_allocate_nothing():
    sim = Simulator(seed=5)
    sim.reset_x(0, 1, 2)
    assert sim.peek_probability(TOP) == 0.0
    assert sim.peek_x_probability(TOP) == 0.5
    assert sim.num_qubits == 3


@pytest.mark.parametrize("qubits", [61, 62, 64, 200])
def test_state_vector_beyond_60_qubits(qubits):
    sim = Simulator(seed=1)
    sim.x(qubits - 1)
    with pytest.raises(MemoryError) as error:
        sim.state_vector(endian="big")
    assert str(error.value) == (f"cannot allocate a state vector of {qubits} qubits "
                                f"(2^{qubits} amplitudes)")
    assert sim.peek_probability(qubits - 1) == 1.0


@tries_allocation
def test_state_vector_beyond_memory():
    sim = Simulator(seed=1)
    sim.x(54)
    with pytest.raises(MemoryError, match=r"^cannot allocate a state vector of 55 qubits"):
        sim.state_vector()
    assert sim.num_qubits == 55


MAX_U64 = 2**64 - 1
EXPANSION = "circuit is too large: it expands to {} instructions, and at most 134217728 are supported"


@pytest.mark.parametrize("text, error, message", [
    # Qubit indices near the top of their range.
    (f"X {MAX_U64}", ValueError, f"qubit index {MAX_U64} is too large"),
    (f"MPP X0*Z{MAX_U64}", ValueError, f"qubit index {MAX_U64} is too large"),
    (f"M 0\nCX rec[-1] {MAX_U64}", ValueError, f"qubit index {MAX_U64} is too large"),
    # Observable indices: a row of 10^15 bits per shot, and 2^64 (2^64 - 1 reads as the same
    # double) which would make the count wrap to 0.
    ("M 0\nOBSERVABLE_INCLUDE(1e15) rec[-1]", MemoryError,
     "cannot allocate 1000000000000001 observables"),
    ("M 0\nOBSERVABLE_INCLUDE(18446744073709551616) rec[-1]", MemoryError,
     "cannot allocate 18446744073709551616 observables"),
    (f"OBSERVABLE_INCLUDE({MAX_U64})", MemoryError,
     "cannot allocate 18446744073709551616 observables"),
    ("M 0\nOBSERVABLE_INCLUDE(1e30) rec[-1]", ValueError,
     "OBSERVABLE_INCLUDE index 1000000000000000000000000000000 is too large"),
    # Expansions: counts beyond the limit, beyond 64 bits, and bodies whose lists take the room.
    (f"REPEAT {MAX_U64} {{\nX 0\n}}", ValueError, EXPANSION.format(MAX_U64)),
    ("REPEAT 1000000 {\nREPEAT 1000000 {\nM 0\n}\n}", ValueError, EXPANSION.format(10**12)),
    (f"REPEAT {2**32} {{\nREPEAT {2**32} {{\nX 0\n}}\n}}", ValueError,
     EXPANSION.format(f"more than {MAX_U64}")),
    ("REPEAT 3 {\n" * 41 + "X 0\n" + "}\n" * 41, ValueError,
     EXPANSION.format(f"more than {MAX_U64}")),
    ("REPEAT 134217728 {\nX 0 1 2\n}", ValueError,
     "circuit is too large: its 134217728 expanded instructions take 13958643712 bytes, "
     "and at most 8589934592 are supported"),
    ("REPEAT 10000000 {\nMPP " + "*".join(f"X{q}" for q in range(100)) + "\n}", ValueError,
     "circuit is too large: its 10000000 expanded instructions take 17360000000 bytes, "
     "and at most 8589934592 are supported"),
], ids=lambda value: value[:24] if isinstance(value, str) else None)
def test_impossible_circuit_is_refused_at_construction(text, error, message):
    with pytest.raises(error) as raised:
        CircuitSampler(text, seed=1)
    assert str(raised.value) == message


def test_largest_repeat_count_with_an_empty_body_costs_nothing():
    sampler = CircuitSampler(f"REPEAT {MAX_U64} {{\nREPEAT 0 {{\nX 0\n}}\n}}\nM 0", seed=1)
    assert sampler.sample(2).measurements.tolist() == [[False], [False]]


WIDE = "X_ERROR(0.5) " + " ".join(map(str, range(1000))) + "\nM " + " ".join(map(str, range(1000)))


@pytest.mark.parametrize("circuit, shots, bit_packed, width", [
    (WIDE, 10**12, False, 1000), (WIDE, 2**62, True, 1000), (WIDE, TOP, False, 1000),
    ("X_ERROR(0.5) 0\nEXP_VAL X0 Z1 Y2", 2**46, False, 3),  # float64 values
    ("X_ERROR(0.5) 0\nM 0 1\nDETECTOR rec[-1]", 2**61, False, 2),
    ("X_ERROR(0.5) 0\nOBSERVABLE_INCLUDE(999)", 2**40, False, 1000),
], ids=["wide", "wide packed", "widest", "exp_vals", "detectors", "observables"])
def test_impossible_sample_draws_nothing(circuit, shots, bit_packed, width):
    sampler = CircuitSampler(circuit, seed=9)
    with pytest.raises(MemoryError) as error:
        sampler.sample(shots, bit_packed=bit_packed)
    assert str(error.value) == f"cannot allocate {shots} shots of {width} values each"
    fresh = CircuitSampler(circuit, seed=9)
    np.testing.assert_array_equal(sampler.sample(3).measurements, fresh.sample(3).measurements)


UNDER_A_LIMIT = """
import resource, sys
from velkor import CircuitSampler
with open("/proc/self/statm") as statm:
    in_use = int(statm.read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (in_use + 6 * 2**30, resource.RLIM_INFINITY))
try:
    CircuitSampler(sys.argv[1])
except BaseException as error:
    print(type(error).__name__ + ": " + str(error))
"""


@tries_allocation
@pytest.mark.parametrize("text, message", [
    ("REPEAT 134217727 {\nX 0\n}", "MemoryError: circuit is too large: its 134217727 expanded "
     "instructions do not fit in memory"),
    ("M 0\nOBSERVABLE_INCLUDE(4294967296) rec[-1]",
     "MemoryError: cannot allocate 4294967297 observables"),
], ids=["expansion", "observables"])
def test_exhausted_memory_is_a_memory_error_naming_the_size(text, message):
    # 6 GiB of address space: enough for one copy of some of these, not for all they asked.
    ran = subprocess.run([sys.executable, "-c", UNDER_A_LIMIT, text], capture_output=True,
                         text=True, check=True)
    assert ran.stdout.strip() == message
