"""The compiled sampler against the general interpreter: random noisy circuits without T or CCZ,
sampled through both paths from one seed, must give identical arrays bit for bit, in every mode.
VELKOR_DIFF_EXAMPLES sets the number of circuits (a long run uses thousands)."""

import os
import random

import pytest

from velkor import CircuitSampler

EXAMPLES = int(os.environ.get("VELKOR_DIFF_EXAMPLES", "300"))
NOISE = ["X_ERROR({p})", "Y_ERROR({p})", "Z_ERROR({p})", "DEPOLARIZE1({p})"]


def random_circuit(rng: random.Random, n: int, non_clifford: bool = False) -> str:
    """A random valid circuit on n >= 3 qubits that uses every instruction the reader takes and
    lists of zero to two target groups; T, T_DAG and CCZ only when non_clifford (they would take
    it off the compiled path). Record lookbacks stay within the measurements made."""
    measured = 0

    def targets(k, measures=False):
        nonlocal measured
        groups = rng.choice([1, 1, 1, 2, 0])
        measured += k * groups if measures else 0
        return "".join(f" {q}" for _ in range(groups) for q in rng.sample(range(n), k))

    def p():
        return rng.choice(["0", "1", "0.5", "0.1", "0.02", "1e-3"])

    def products():
        factors = [f"{rng.choice('XYZ')}{q}" for q in rng.sample(range(n), rng.randint(1, 3))]
        return ("!" if rng.random() < 0.2 else "") + "*".join(factors)

    lines = []
    for _ in range(rng.randint(4, 30)):
        kind = rng.randrange(12)
        if kind == 0:
            gates = ["X", "Y", "Z", "S", "S_DAG", "I"] + ["T", "T_DAG", "t"] * non_clifford
            lines.append(rng.choice(gates) + targets(rng.randint(1, 2)))
        elif kind <= 2:
            gate = rng.choice(["CX", "CNOT", "CZ", "SWAP"] + ["CCZ"] * non_clifford)
            lines.append(gate + targets(3 if gate == "CCZ" else 2))
        elif kind == 3:
            name = rng.choice(["R", "RZ", "RX", "TICK"])
            lines.append(name if name == "TICK" else name + targets(rng.randint(1, 2)))
        elif kind == 4:
            lines.append(rng.choice(NOISE).format(p=p()) + targets(rng.randint(1, 2)))
        elif kind == 5:
            lines.append(f"DEPOLARIZE2({p()})" + targets(2) if rng.random() < 0.7
                         else f"DEPOLARIZE3({p()})" + targets(3))
        elif kind == 6:
            lines.append("PAULI_CHANNEL_1(0.1, 0.2, 0.05)" + targets(1) if rng.random() < 0.5
                         else "PAULI_CHANNEL_2(" + ", ".join(["0.02"] * 15) + ")" + targets(2))
        elif kind <= 8:
            name = rng.choice(["M", "MZ", "MX", "MR", "MRZ", "MRX"])
            arg = f"({p()})" if rng.random() < 0.5 else ""
            inverted = " !" if rng.random() < 0.2 else " "
            lines.append(f"{name}{arg}" + targets(2, measures=True).replace(" ", inverted, 1))
        elif kind == 9:
            arg = f"({p()})" if rng.random() < 0.5 else ""
            count = rng.randint(1, 2)
            measured += count
            lines.append(f"MPP{arg} " + " ".join(products() for _ in range(count)))
        elif kind == 10:
            lines.append("EXP_VAL " + " ".join(products() for _ in range(rng.randint(1, 2))))
        elif measured:
            k = rng.randint(1, min(measured, 4))
            choice = rng.randrange(3)
            if choice == 0:
                lines.append(f"{rng.choice(['CX', 'CY', 'CZ'])} rec[-{k}] {rng.randrange(n)}")
            elif choice == 1:
                earlier = f" rec[-{measured}]" if measured > k else ""
                lines.append(f"DETECTOR{rng.choice(['', '(1, 2)'])} rec[-{k}]{earlier}")
            else:
                lines.append(f"OBSERVABLE_INCLUDE({rng.randrange(2)}) rec[-{k}]")
    if rng.random() < 0.3:
        lines = ["REPEAT 3 {"] + lines + ["}"]
    return "\n".join(lines) + "\n"


def sample_both(text, seed, postselect, calls):
    """The arrays of each call on a compiled sampler and on one forced onto the interpreter."""
    compiled = CircuitSampler(text, seed=seed, postselect=postselect)
    general = CircuitSampler(text, seed=seed, postselect=postselect)
    general._use_general_path()
    assert compiled._compiled and not general._compiled
    for method, kwargs in calls:
        yield getattr(compiled, method)(**kwargs), getattr(general, method)(**kwargs)


@pytest.mark.parametrize("chunk", range(10))
def test_compiled_matches_general_bit_for_bit(chunk):
    for example in range(chunk, EXAMPLES, 10):
        rng = random.Random(example)
        text = random_circuit(rng, rng.randint(3, 6))
        detectors = CircuitSampler(text).num_detectors
        postselect = rng.sample(range(detectors), min(detectors, rng.randint(0, 2)))
        faults = CircuitSampler(text).num_fault_sites
        methods = ["sample", "sample_detectors"]
        calls = [(rng.choice(methods),
                  dict(shots=rng.randint(0, 40), bit_packed=rng.random() < 0.5))
                 for _ in range(2)]
        if "PAULI_CHANNEL" not in text:
            calls.append((rng.choice(methods), dict(shots=20, num_faults=rng.randint(0, faults))))
        for a, b in sample_both(text, example, postselect, calls):
            assert (a.total_shots, a.accepted_shots) == (b.total_shots, b.accepted_shots), text
            for name in ("measurements", "detectors", "observables", "exp_vals"):
                x, y = getattr(a, name), getattr(b, name)
                assert x.dtype == y.dtype and x.shape == y.shape, (name, text)
                assert x.tobytes() == y.tobytes(), (name, text)


@pytest.mark.parametrize("n", [150, 300])
def test_wide_registers_match_bit_for_bit(n):
    """Registers of more than 64, 128 and 256 path variables, which the interpreter's row passes
    handle word width by word width, as X measurements remove the variables one by one; the S
    phase on the last qubit is re-keyed each time the words shrink."""
    qubits = " ".join(map(str, range(n)))
    chain = " ".join(f"{q} {q + 1}" for q in range(0, n - 1, 2))
    text = (f"RX {qubits}\nCX {chain}\nS 0 {n - 1}\nDEPOLARIZE1(0.05) {qubits}\nMPP X0*X1 Z2*Z3\n"
            f"MX {qubits}\nDETECTOR rec[-1] rec[-2]\nM {qubits}")
    for a, b in sample_both(text, n, [], [("sample", dict(shots=5))]):
        assert a.measurements.tobytes() == b.measurements.tobytes()


def test_t_and_ccz_circuits_use_the_interpreter():
    for text in ["T 0\nM 0\n", "CCZ 0 1 2\n", "T_DAG 0\n"]:
        assert not CircuitSampler(text)._compiled
    assert CircuitSampler("S 0\nM 0\n")._compiled


def test_zero_expectations_keep_their_sign():
    """A zero expectation value is +0.0 or -0.0 according to the order in which the Gauss sum
    eliminates path variables: the order they were made, whichever way the interpreter stores
    them (an X reset reuses its measured variable's place)."""
    body = ("Y_ERROR(1e-3) 2 1\nDEPOLARIZE2(0.02) 3 0\nMPP Y0*Z3*Y2 X0*X1*Y3\nMPP Z1 Z2*Z1*Y0\n"
            "EXP_VAL X0*X2 !Y2\nRX 2\nDEPOLARIZE3(1) 3 2 0\nDEPOLARIZE2(1) 3 2\nMX(1) 2 1\n"
            "SWAP 1 3\nMPP(1e-3) Y3*Z0*Y2 Y0*Y3\n")
    for a, b in sample_both(f"REPEAT 3 {{\n{body}}}\n", 0, [], [("sample", dict(shots=20))]):
        assert a.exp_vals.tobytes() == b.exp_vals.tobytes()
