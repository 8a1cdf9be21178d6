"""Shared and exclusive claims on a Simulator and a CircuitSampler: a conflicting call fails at
once with RuntimeError and changes nothing; every exit path releases its claim."""

import threading
import time

import numpy as np
import pytest

from velkor import CircuitSampler, Simulator


class CallsBack:
    """A number whose conversion runs `action` first: code that runs while a claim is held."""

    def __init__(self, action, value=0):
        self.action, self.value = action, value

    def __index__(self):
        self.action()
        return self.value

    def __float__(self):
        return float(self.__index__())


@pytest.mark.parametrize("outer, inner, message", [
    (lambda s, arg: s.x(arg), lambda s: s.num_qubits, "Already mutably borrowed"),
    (lambda s, arg: s.x(arg), lambda s: s.peek_probability(0), "Already mutably borrowed"),
    (lambda s, arg: s.cnot(1, arg), lambda s: repr(s), "Already mutably borrowed"),
    (lambda s, arg: s.x(arg), lambda s: s.z(1), "Already borrowed"),
    (lambda s, arg: s.peek_probability(arg), lambda s: s.x(1), "Already borrowed"),
    (lambda s, arg: s.measure(arg), lambda s: s.copy(), "Already mutably borrowed"),
    (lambda s, arg: s.measure_x(arg), lambda s: s.peek_x_probability(0), "Already mutably borrowed"),
    (lambda s, arg: s.x_error(0, p=arg), lambda s: s.peek_observable_expectation("Z"),
     "Already mutably borrowed"),
    (lambda s, arg: s.measure_observable("Z", flip_probability=arg), lambda s: s.depolarize1(0, p=0),
     "Already borrowed"),
    (lambda s, arg: s.peek_x_probability(arg), lambda s: s.depolarize3(0, 1, 2, p=1),
     "Already borrowed"),
])
def test_conflicting_claims_fail_at_once(outer, inner, message):
    sim = Simulator(seed=1)
    with pytest.raises(RuntimeError) as error:
        outer(sim, CallsBack(lambda: inner(sim)))
    assert str(error.value) == message
    assert sim.num_qubits == 0  # neither call changed anything
    sim.x(0)  # and both claims were released
    assert sim.peek_probability(0) == 1.0


@pytest.mark.parametrize("inner, message", [
    (lambda s: s.num_qubits, "Already mutably borrowed"),
    (lambda s: repr(s), "Already mutably borrowed"),
    (lambda s: s.sample(1), "Already borrowed"),
])
def test_sampling_claims_the_sampler(inner, message):
    sampler = CircuitSampler("M 0", seed=1)
    with pytest.raises(RuntimeError) as raised:
        sampler.sample(CallsBack(lambda: inner(sampler), 1))
    assert str(raised.value) == message
    assert sampler.sample(1).measurements.shape == (1, 1)


def test_shared_claims_coexist():
    sim = Simulator(seed=1)
    seen = []
    assert sim.peek_probability(CallsBack(lambda: seen.append(sim.state_vector()))) == 0.0
    assert len(seen) == 1


@pytest.mark.parametrize("failing_call", [
    lambda s: s.x(-1), lambda s: s.cz(1, 1), lambda s: s.x(2**62), lambda s: s.state_vector(endian="x"),
    lambda s: s.x(1, foo=0), lambda s: s.copy(copy_rng=True, seed=0),
    lambda s: s.peek_observable_expectation("Q"),
])
def test_failures_release_the_claim(failing_call):
    sim = Simulator(seed=1)
    with pytest.raises(Exception):
        failing_call(sim)
    sim.x(0)
    assert sim.num_qubits == 1


def race(long_call, short_call, attempts=40, budget_seconds=30.0):
    """Runs `long_call` in a thread while this thread repeats `short_call`, until one of the
    short calls raises RuntimeError. Returns that error's message (None if no overlap was seen
    within the budget) and how many short calls succeeded."""
    deadline = time.monotonic() + budget_seconds
    succeeded = 0
    for _ in range(attempts):
        started = threading.Event()
        worker = threading.Thread(target=lambda: (started.set(), long_call()))
        worker.start()
        started.wait()
        try:
            while worker.is_alive():
                try:
                    short_call()
                    succeeded += 1
                except RuntimeError as error:
                    return str(error), succeeded
        finally:
            worker.join()
        if time.monotonic() > deadline:
            break
    return None, succeeded


def test_exclusive_call_during_a_long_shared_call():
    def prepared():
        sim = Simulator(seed=1)
        sim.reset_x(*range(22))
        sim.cnot(*range(22))
        sim.t(*range(22))
        return sim

    sim = prepared()
    message, succeeded = race(sim.state_vector, lambda: sim.z(0))
    assert message == "Already borrowed"
    # The z calls that got through are in the state; the refused one changed nothing.
    expected = prepared()
    expected.z(*[0] * (succeeded % 2))
    np.testing.assert_array_equal(sim.state_vector(), expected.state_vector())


def test_shared_call_during_a_long_exclusive_call():
    sim = Simulator(seed=1)
    sim.reset_x(0)
    targets = [0] * 400_000
    message, _ = race(lambda: sim.t(*targets), lambda: sim.num_qubits)
    assert message == "Already mutably borrowed"
