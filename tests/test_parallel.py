"""Sharded sampling: rows fixed by the seed and the shard size whatever the thread count, each
shard reproducible on its own, copies of a sampler with a new stream, and a refused shot's number
(argument refusals are in the table of test_sampler.py)."""

import _thread
import threading

import numpy as np
import pytest

from test_sampler import REFUSED_IN_SHOT, noisy_bits
from velkor import CircuitSampler, MeasurementError, sample_parallel, shard_seed
from velkor.parallel import _result

# Noise on every measurement, a postselected detector and an observable.
CIRCUIT = "X_ERROR(0.2) 0 1 2\nM 0 1 2\nDETECTOR rec[-1]\nOBSERVABLE_INCLUDE(0) rec[-2]"
FIELDS = ("measurements", "detectors", "observables", "exp_vals")


def rows(result):
    return [getattr(result, field).tolist() for field in FIELDS] + [result.accepted_shots]


@pytest.mark.parametrize("shots, shard_size, options", [
    (1000, 64, {}),
    (1000, 300, {"postselect": [0]}),
    (257, 100, {"bit_packed": True}),
    (500, 128, {"num_faults": 2}),
    (0, 10, {}),
])
def test_rows_are_the_shards_sampled_one_by_one_whatever_the_thread_count(
        shots, shard_size, options):
    postselect = options.pop("postselect", None)
    expected = []
    for index, start in enumerate(range(0, shots, shard_size)):
        sampler = CircuitSampler(CIRCUIT, seed=shard_seed(9, index), postselect=postselect)
        expected.append(sampler.sample(min(shard_size, shots - start), **options))
    for threads in (1, 2, 3):
        result = sample_parallel(CIRCUIT, shots, seed=9, shard_size=shard_size,
                                 num_threads=threads, postselect=postselect, **options)
        assert result.total_shots == shots and result.seed == 9
        assert result.discards == shots - result.accepted_shots
        assert rows(result) == [sum((rows(part)[i] for part in expected), [])
                                for i in range(4)] + [sum(p.accepted_shots for p in expected)]
        assert result.measurements.dtype == (np.uint8 if options.get("bit_packed") else bool)
        assert result.measurements.shape[1:] == ((1,) if options.get("bit_packed") else (3,))


def test_shard_seeds_are_distinct_and_reproducible():
    seeds = {shard_seed(seed, index) for seed in (0, 1, 2**64 - 1) for index in range(100)}
    assert len(seeds) == 300 and all(0 <= s < 2**64 for s in seeds)
    assert shard_seed(5, 3) == shard_seed(5, 3)


def test_with_seed_is_a_fresh_sampler_that_leaves_the_source_alone():
    source = CircuitSampler(CIRCUIT, seed=1, postselect=[0])
    copy = source.with_seed(seed=7)
    sample_parallel(source, 100, seed=3)
    assert rows(copy.sample(200)) == rows(CircuitSampler(CIRCUIT, seed=7, postselect=[0]).sample(200))
    assert rows(source.sample(200)) == rows(CircuitSampler(CIRCUIT, seed=1, postselect=[0]).sample(200))
    assert repr(source.with_seed(None)) == repr(source)
    with pytest.raises(OverflowError):
        source.with_seed(-1)


def test_seed_is_drawn_when_not_given():
    first, second = (sample_parallel(noisy_bits(64), 4) for _ in range(2))
    assert first.seed != second.seed
    assert rows(first) == rows(sample_parallel(noisy_bits(64), 4, seed=first.seed))


def test_refused_shot_names_where_its_shard_starts():
    with pytest.raises(MeasurementError) as raised:
        sample_parallel(REFUSED_IN_SHOT, 40, seed=10, shard_size=4, num_threads=2)
    refusals = [first_refusal(shard_seed(10, index)) for index in range(10)]
    shard, shot = next((i, shot) for i, shot in enumerate(refusals) if shot is not None)
    assert str(raised.value).endswith(f"(shot {shot}, measurement 3)")
    assert raised.value.__notes__ == [f"shot numbers count from shot {4 * shard} of the call"]


def first_refusal(seed):
    """The shot number of the first refused shot among four, or None."""
    try:
        CircuitSampler(REFUSED_IN_SHOT, seed=seed).sample(4)
    except MeasurementError as error:
        return int(str(error).split("(shot ")[1].split(",")[0])
    return None


def test_ctrl_c_stops_every_shard():
    timer = threading.Timer(0.3, _thread.interrupt_main)
    timer.start()
    with pytest.raises(KeyboardInterrupt):  # a shard of 10**9 shots takes seconds
        sample_parallel(noisy_bits(1), 2 * 10**9, shard_size=10**9, num_threads=2)
    timer.join()
    assert not [t for t in threading.enumerate() if t.name.startswith("velkor-shard")]


def test_rows_still_referenced_elsewhere_are_copied():
    out = [np.arange(8).reshape(4, 2) for _ in FIELDS]
    held = out[0]  # as a profiler's frame on a dask worker may hold it
    result = _result(out, 3, 4, 9, 2)
    assert result.measurements.tolist() == held[:3].tolist() and result.accepted_shots == 3
