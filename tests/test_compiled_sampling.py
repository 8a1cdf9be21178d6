"""The compiled sampler against the general interpreter: random noisy circuits without T or CCZ,
sampled through both paths from one seed, must give identical arrays bit for bit, in every mode.
VELKOR_DIFF_EXAMPLES sets the number of circuits (a long run uses thousands)."""

import os
import random

import numpy as np
import pytest

from velkor import CircuitSampler

EXAMPLES = int(os.environ.get("VELKOR_DIFF_EXAMPLES", "300"))
NOISE = ["X_ERROR({p})", "Y_ERROR({p})", "Z_ERROR({p})", "DEPOLARIZE1({p})"]


def random_circuit(rng: random.Random, n: int) -> str:
    def qubits(k):
        return " ".join(map(str, rng.sample(range(n), k)))

    def p():
        return rng.choice(["0", "1", "0.5", "0.1", "0.02", "1e-3"])

    def product():
        factors = [f"{rng.choice('XYZ')}{q}" for q in rng.sample(range(n), rng.randint(1, 3))]
        return ("!" if rng.random() < 0.2 else "") + "*".join(factors)

    lines, measured = [], 0
    for _ in range(rng.randint(4, 30)):
        kind = rng.randrange(12)
        if kind == 0:
            gate = rng.choice(["X", "Y", "Z", "S", "S_DAG", "I"])
            lines.append(f"{gate} {qubits(rng.randint(1, 2))}")
        elif kind <= 2:
            lines.append(f"{rng.choice(['CX', 'CZ', 'SWAP'])} {qubits(2)}")
        elif kind == 3:
            lines.append(f"{rng.choice(['R', 'RX'])} {qubits(rng.randint(1, 2))}")
        elif kind == 4:
            lines.append(rng.choice(NOISE).format(p=p()) + f" {qubits(rng.randint(1, 2))}")
        elif kind == 5:
            lines.append(f"DEPOLARIZE2({p()}) {qubits(2)}" if rng.random() < 0.7
                         else f"DEPOLARIZE3({p()}) {qubits(3)}")
        elif kind == 6:
            lines.append("PAULI_CHANNEL_1(0.1, 0.2, 0.05) " + qubits(1) if rng.random() < 0.5
                         else "PAULI_CHANNEL_2(" + ", ".join(["0.02"] * 15) + ") " + qubits(2))
        elif kind <= 8:
            name = rng.choice(["M", "MX", "MR", "MRX"])
            arg = f"({p()})" if rng.random() < 0.5 else ""
            targets = [("!" if rng.random() < 0.2 else "") + str(q)
                       for q in rng.sample(range(n), 2)]
            lines.append(f"{name}{arg} {' '.join(targets)}")
            measured += 2
        elif kind == 9:
            arg = f"({p()})" if rng.random() < 0.5 else ""
            lines.append(f"MPP{arg} {product()} {product()}")
            measured += 2
        elif kind == 10:
            lines.append(f"EXP_VAL {product()}")
        elif measured:
            k = rng.randint(1, min(measured, 4))
            choice = rng.randrange(3)
            if choice == 0:
                lines.append(f"{rng.choice(['CX', 'CY', 'CZ'])} rec[-{k}] {rng.randrange(n)}")
            elif choice == 1:
                earlier = f" rec[-{measured}]" if measured > k else ""
                lines.append(f"DETECTOR rec[-{k}]{earlier}")
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


def test_t_and_ccz_circuits_use_the_interpreter():
    for text in ["T 0\nM 0\n", "CCZ 0 1 2\n", "T_DAG 0\n"]:
        assert not CircuitSampler(text)._compiled
    assert CircuitSampler("S 0\nM 0\n")._compiled
