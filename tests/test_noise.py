"""Noise channels and the flip of measure_observable: exactly which draws a seeded sequence of
calls makes and which errors fire, predicted by an independent generator in Python."""

import random

from hypothesis import given, note, settings
from hypothesis import strategies as st

from chacha8 import ChaCha8
from velkor import Simulator

# Qubits 0-2 start in |0>, where X and Y errors show in a Z measurement; qubits 3-5 start in |+>,
# where Z and Y errors show in an X measurement. The state stays a Pauli frame on these, so every
# readout below is certain and draws nothing.
Z_BASIS, X_BASIS = range(0, 3), range(3, 6)
QUBITS = range(6)
CHANNELS = {"x_error": (1, 1), "y_error": (1, 2), "z_error": (1, 3), "depolarize1": (1, None),
            "depolarize2": (2, None), "depolarize3": (3, None)}


class PauliFrame:
    """The X and Z parts of the error on each qubit, decided by the oracle generator."""

    def __init__(self, seed):
        self.rng = ChaCha8(seed)
        self.x, self.z = [0] * len(QUBITS), [0] * len(QUBITS)

    def channel(self, name, targets, p):
        arity, code = CHANNELS[name]
        for i in range(0, len(targets), arity):
            if not self.rng.bernoulli(p):
                continue
            drawn = code or self.rng.uniform_u8(1, 4**arity)
            for j, q in enumerate(targets[i:i + arity]):  # the first target is most significant
                digit = (drawn >> 2 * (arity - 1 - j)) & 3
                self.x[q] ^= digit in (1, 2)
                self.z[q] ^= digit in (2, 3)

    def observable(self, text, flip_probability):
        negated = text.startswith("-")
        body = text.lstrip("+-")
        outcome = negated
        for q, letter in enumerate(body):
            outcome ^= {"I": 0, "Z": self.x[q], "X": self.z[q]}[letter]
        return bool(outcome ^ self.rng.bernoulli(flip_probability))


def prepared(seed):
    sim = Simulator(seed=seed)
    sim.reset_x(*X_BASIS)  # certain Z resets of fresh qubits: no draw
    sim.z(*Z_BASIS)  # grows the register; no effect on |0>
    return sim


def check_readout(sim, frame):
    """Certain readouts show the frame; then the next coins show the generator's position."""
    assert sim.measure_many(*Z_BASIS) == [bool(frame.x[q]) for q in Z_BASIS]
    assert [sim.measure_x(q) for q in X_BASIS] == [bool(frame.z[q]) for q in X_BASIS]
    fresh = range(len(QUBITS), len(QUBITS) + 16)
    sim.reset_x(*fresh)
    assert sim.measure_many(*fresh) == [frame.rng.fair_coin() for _ in fresh]


def random_call(rng):
    """A noise call on one or more groups of targets, or a certain product measurement with a
    flip probability."""
    p = rng.choice([0.0, 1.0, 0.5, rng.random(), 5e-324, 1 - 2**-53, 0.999])
    if rng.random() < 0.2:
        symbols = [rng.choice("IZ" if q in Z_BASIS else "IX") for q in QUBITS]
        return "measure_observable", rng.choice(["", "+", "-"]) + "".join(symbols), p
    name = rng.choice(list(CHANNELS))
    arity = CHANNELS[name][0]
    targets = [q for _ in range(rng.choice([0, 1, 1, 2, 3])) for q in rng.sample(QUBITS, arity)]
    return name, targets, p


def run(sim, frame, calls):
    for name, argument, p in calls:
        if name == "measure_observable":
            assert sim.measure_observable(argument, flip_probability=p) is frame.observable(
                argument, p), (argument, p)
        else:
            getattr(sim, name)(*argument, p=p)
            frame.channel(name, argument, p)


@settings(max_examples=400, deadline=None, derandomize=True)
@given(seed=st.integers(0, 2**64 - 1), calls_seed=st.integers(0, 2**32))
def test_seeded_noise_fires_as_the_generator_decides(seed, calls_seed):
    rng = random.Random(calls_seed)
    calls = [random_call(rng) for _ in range(rng.randint(1, 40))]
    note(f"calls: {calls}")
    sim, frame = prepared(seed), PauliFrame(seed)
    run(sim, frame, calls)
    check_readout(sim, frame)


def test_a_draw_straddles_the_refill():
    sim, frame = prepared(3), PauliFrame(3)
    run(sim, frame, [("depolarize1", [0], 1.0)] + [("x_error", [1], 0.5)] * 31)
    assert frame.rng.pos == 63  # one word left: the next 64-bit draw takes one from a new refill
    run(sim, frame, [("z_error", [3], 0.5), ("depolarize2", [4, 5], 0.9)])
    check_readout(sim, frame)
