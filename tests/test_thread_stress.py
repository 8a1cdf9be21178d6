"""Threads sharing one Simulator, one CircuitSampler or one SampleResult, calling methods that
take shared and exclusive claims in random mixes for a bounded time. The only exceptions
allowed are the claim conflicts; afterwards each object is consistent with the calls that went
through. Objects used by different threads at once give exactly their sequential results.

VELKOR_STRESS_SECONDS sets how long each test hammers its object (default 0.5;
raise it for a longer soak).
"""

import os
import random
import threading
import time

import numpy as np

from velkor import CircuitSampler, Simulator

SECONDS = float(os.environ.get("VELKOR_STRESS_SECONDS", "0.5"))
# An exclusive claim meeting any claim, and a shared claim meeting an exclusive one.
CONFLICT = {True: "Already borrowed", False: "Already mutably borrowed"}


def hammer(num_threads, step):
    """Runs step(rng) -> (exclusive, call) in every thread until the time is up, calling each
    call(); returns the list of (exclusive, call, result) that went through, and the messages
    of the conflicts seen."""
    done = [[] for _ in range(num_threads)]
    conflicts = [[] for _ in range(num_threads)]
    failures = []
    barrier = threading.Barrier(num_threads)

    def work(slot):
        rng = random.Random(slot)
        barrier.wait()
        deadline = time.monotonic() + SECONDS
        try:
            while time.monotonic() < deadline:
                exclusive, call = step(rng)
                try:
                    result = call()
                except RuntimeError as error:
                    assert str(error) == CONFLICT[exclusive], (exclusive, str(error))
                    conflicts[slot].append(str(error))
                    time.sleep(rng.random() * 1e-4)  # let the holder finish now and then
                    continue
                done[slot].append((exclusive, call, result))
        except BaseException as error:  # reported in the main thread
            failures.append(error)

    threads = [threading.Thread(target=work, args=(slot,)) for slot in range(num_threads)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if failures:
        raise failures[0]
    return [entry for entries in done for entry in entries], sum(conflicts, [])


# ---- One Simulator. Only diagonal gates change it, on a register in uniform superposition:
# they commute, so the final state is fixed by which calls went through, in any order, and
# every Z probability stays 1/2 and every amplitude keeps its magnitude meanwhile.

QUBITS = 10
DIAGONAL = ["z", "s", "s_dag", "t", "t_dag"]


def uniform():
    sim = Simulator(seed=3)
    sim.reset_x(*range(QUBITS))
    return sim


def check_uniform_magnitudes(vector):
    np.testing.assert_allclose(np.abs(vector), 2 ** (-QUBITS / 2), rtol=1e-5)
    return True


def simulator_step(sim):
    reads = [lambda q: check_uniform_magnitudes(sim.state_vector()),
             lambda q: (sim.peek_probability(q) == 0.5 and
                        sim.peek_observable_expectation("I" * q + "Z") == 0.0),
             lambda q: sim.copy().num_qubits == QUBITS,
             lambda q: repr(sim) == f"Simulator(num_qubits={QUBITS})"]

    def step(rng):
        q, choice = rng.randrange(QUBITS), rng.randrange(8)
        if choice >= 4:
            return False, lambda: reads[choice - 4](q)
        if choice == 0:
            gate, targets = rng.choice(DIAGONAL), [rng.randrange(QUBITS) for _ in range(3000)]
        elif choice == 1:
            gate, targets = rng.choice(DIAGONAL), [q]
        else:
            gate, targets = ("cz", "ccz")[choice - 2], rng.sample(range(QUBITS), choice)
        return True, lambda: (gate, targets, getattr(sim, gate)(*targets))
    return step


def test_shared_simulator():
    sim = uniform()
    done, conflicts = hammer(4, simulator_step(sim))
    assert set(conflicts) == set(CONFLICT.values())  # both kinds were met, and changed nothing
    assert all(result for exclusive, _, result in done if not exclusive)
    replay = uniform()
    for gate, targets, _ in (result for exclusive, _, result in done if exclusive):
        getattr(replay, gate)(*targets)
    vector = sim.state_vector()
    assert abs(np.vdot(vector, vector).real - 1) < 1e-5
    np.testing.assert_allclose(vector, replay.state_vector(), atol=1e-6)
    # Still usable, the claims all released, and no call drew from the stream.
    sim.x(0)
    replay.x(0)
    assert sim.measure_many(*range(QUBITS)) == replay.measure_many(*range(QUBITS))


# ---- One CircuitSampler. Ordinary sampling draws the same stream however the shots are split
# into calls, so the calls that went through fix where a fresh sampler must be.

NOISY = """X_ERROR(0.2) 0 1 2 3
DEPOLARIZE2(0.1) 0 1 2 3
M 0 1 2 3
DETECTOR rec[-1] rec[-2]
OBSERVABLE_INCLUDE(0) rec[-3]
EXP_VAL Z0*Z1
"""


def sampler_step(sampler):
    reads = [lambda: repr(sampler).startswith("CircuitSampler(num_qubits=4,"),
             lambda: sampler.num_measurements == 4 and sampler.num_detectors == 1,
             lambda: sampler.num_fault_sites == 6 and sampler.num_exp_vals == 1]

    def step(rng):
        if rng.randrange(4):
            return False, rng.choice(reads)
        shots, packed = rng.randrange(1, 100), rng.random() < 0.5
        return True, lambda: (shots, sampler.sample(shots, bit_packed=packed))
    return step


def test_shared_circuit_sampler():
    sampler = CircuitSampler(NOISY, seed=77)
    done, _ = hammer(4, sampler_step(sampler))
    assert all(result for exclusive, _, result in done if not exclusive)
    fresh = CircuitSampler(NOISY, seed=77)
    for shots, result in (result for exclusive, _, result in done if exclusive):
        assert result.total_shots == shots
        fresh.sample(shots)
    ours, theirs = sampler.sample(200), fresh.sample(200)
    for name in ("measurements", "detectors", "observables", "exp_vals"):
        np.testing.assert_array_equal(getattr(ours, name), getattr(theirs, name))


# ---- One SampleResult: every member takes a shared claim, so nothing may conflict.

def test_shared_sample_result():
    result = CircuitSampler(NOISY, seed=5).sample(300, bit_packed=True)
    arrays = {name: getattr(result, name)
              for name in ("measurements", "detectors", "observables", "exp_vals")}
    snapshot = {name: array.copy() for name, array in arrays.items()}

    def step(rng):
        name = rng.choice([*arrays, "total_shots", "accepted_shots", "discards", "repr"])
        if name in arrays:
            return False, lambda: getattr(result, name) is arrays[name]
        if name == "repr":
            return False, lambda: repr(result) == "SampleResult(total_shots=300, accepted_shots=300)"
        return False, lambda: getattr(result, name) == (0 if name == "discards" else 300)

    done, conflicts = hammer(4, step)
    assert not conflicts
    assert done and all(outcome for _, _, outcome in done)
    for name, array in arrays.items():
        np.testing.assert_array_equal(array, snapshot[name])


# ---- Separate objects in separate threads.

def own_work(slot):
    sim = Simulator(seed=slot)
    sim.reset_x(*range(12))
    sim.t(*range(0, 12, 2))
    sim.cnot(*range(12))
    sim.x_error(*range(12), p=0.3)
    outcomes = [sim.state_vector(), sim.measure_many(*range(12))]
    sampler = CircuitSampler(NOISY * 20, seed=slot)
    for shots in (1, 500, 37):
        sample = sampler.sample(shots, bit_packed=slot % 2 == 1)
        outcomes += [sample.measurements, sample.exp_vals]
    return outcomes


def test_separate_objects_give_their_sequential_results():
    expected = [own_work(slot) for slot in range(4)]

    def step(rng):
        slot = rng.randrange(4)
        return True, lambda: (slot, own_work(slot))

    done, conflicts = hammer(4, step)
    assert done and not conflicts
    for _, _, (slot, run) in done:
        for a, b in zip(run, expected[slot], strict=True):
            np.testing.assert_array_equal(a, b)
