"""A forked child: objects without a seed draw new streams there, seeded objects and their
copy_rng twins keep theirs, and claims held by threads that the child does not have are void."""

import os
import threading

import numpy as np
import pytest

from velkor import CircuitSampler, Simulator

NOISY = "X_ERROR(0.5) " + " ".join(map(str, range(64))) + "\nM " + " ".join(map(str, range(64)))
pytestmark = pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")


def in_child(work):
    """Runs work() in a forked child and returns its result as bytes."""
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read)
        try:
            os.write(write, work())
        finally:
            os._exit(0)
    os.close(write)
    with os.fdopen(read, "rb") as pipe:
        out = pipe.read()
    os.waitpid(pid, 0)
    return out


def draws(obj):
    if isinstance(obj, Simulator):
        obj.reset_x(*range(64))
        return np.packbits(obj.measure_many(*range(64))).tobytes()
    return np.packbits(obj.sample(4).measurements).tobytes()


@pytest.mark.parametrize("make, repeats", [
    (lambda: CircuitSampler(NOISY), False),
    (lambda: Simulator(), False),
    (lambda: Simulator().copy(), False),
    (lambda: CircuitSampler(NOISY, seed=3), True),
    (lambda: Simulator(seed=3), True),
    (lambda: Simulator(seed=3).copy(seed=4), True),
])
def test_child_draws_a_new_stream_unless_seeded(make, repeats):
    obj = make()
    twin = obj.copy(copy_rng=True) if isinstance(obj, Simulator) else None
    child = in_child(lambda: draws(obj) + (draws(twin) if twin else b""))
    ours = draws(obj)
    assert (child[:len(ours)] == ours) == repeats
    if twin:
        assert child[len(ours):] == child[:len(ours)]  # the twin rekeys with its source


@pytest.mark.parametrize("make, call", [
    (lambda: CircuitSampler("M 0", seed=1), lambda s, arg: s.sample(arg)),
    (lambda: Simulator(seed=1), lambda s, arg: s.x(arg)),
])
def test_claims_of_threads_gone_in_the_child_are_released(make, call):
    obj, claimed, forked = make(), threading.Event(), threading.Event()

    class HoldsTheClaim:
        def __index__(self):
            claimed.set()
            forked.wait()
            return 1

    holder = threading.Thread(target=lambda: call(obj, HoldsTheClaim()))
    holder.start()
    claimed.wait()
    with pytest.raises(RuntimeError):
        call(obj, 1)
    try:
        child = in_child(lambda: repr(call(obj, 1)).encode())
    finally:
        forked.set()
        holder.join()
    assert child  # empty when the child's call raised
    call(obj, 1)
