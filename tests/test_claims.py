"""Shared and exclusive claims on a Simulator and a CircuitSampler: a conflicting call fails at
once with RuntimeError and changes nothing; every exit path releases its claim. Conflicts between
threads are met in test_thread_stress.py."""

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
