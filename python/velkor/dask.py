"""Sampling on a Dask cluster (`dask.distributed`): laptops, clusters, batch schedulers.

`sample` and `count` cut the shots into the same shards as `velkor.sample_parallel` (shard i
seeded with `velkor.shard_seed(seed, i)`), run groups of shards as tasks on the workers of a
`distributed.Client`, and join the results in shard order. For a given circuit, seed, shard size
and shot count, `sample` returns exactly the rows of `velkor.sample_parallel`, whatever the number
of workers; `count` returns only per-detector and per-observable totals, so the bits never travel.

Without a `client`, the current default client is used, or else a `LocalCluster` with one
single-threaded worker process per core is started for the call and closed after it. Worker
processes import velkor, so it must be installed where they run. Needs the `dask` extra
(`pip install 'velkor[dask]'`).
"""

from __future__ import annotations

import contextlib
import dataclasses
import functools
import math
import secrets
from typing import Iterator, Sequence

import distributed
import numpy as np

from velkor._core import MeasurementError
from velkor.parallel import (
    _FIELDS,
    DEFAULT_SHARD_SIZE,
    ShardedSampleResult,
    _allocate,
    _available_cores,
    _check_sharding,
    _compact,
    _prepare_sampler,
    _result,
    _sample_shard,
    _shard_sizes,
)

__all__ = ["ShotCounts", "count", "sample"]

# Tasks per worker thread: enough to even out the load, few enough to keep the scheduler idle.
_TASKS_PER_THREAD = 4


@dataclasses.dataclass(frozen=True)
class ShotCounts:
    """Totals over the shots of a call; adding two gives the totals of both."""

    shots: int
    """The number of shots requested."""
    discards: int
    """Shots discarded by postselection."""
    detection_events: np.ndarray
    """For each detector, the number of accepted shots in which it fired (int64)."""
    observable_flips: np.ndarray
    """For each observable, the number of accepted shots in which it flipped (int64)."""
    flipped_shots: int
    """Accepted shots in which at least one observable flipped."""

    @property
    def accepted_shots(self) -> int:
        """shots minus discards."""
        return self.shots - self.discards

    def __add__(self, other: ShotCounts) -> ShotCounts:
        """The totals of both."""
        return ShotCounts(
            shots=self.shots + other.shots,
            discards=self.discards + other.discards,
            detection_events=self.detection_events + other.detection_events,
            observable_flips=self.observable_flips + other.observable_flips,
            flipped_shots=self.flipped_shots + other.flipped_shots,
        )

    @staticmethod
    def of(result) -> ShotCounts:
        """The totals of an unpacked `SampleResult` or `ShardedSampleResult`."""
        return ShotCounts.tally(result.total_shots, result.detectors, result.observables)

    @staticmethod
    def tally(shots: int, detectors: np.ndarray, observables: np.ndarray) -> ShotCounts:
        """The totals of `shots` shots whose accepted ones have these unpacked rows."""
        return ShotCounts(
            shots=shots,
            discards=shots - len(detectors),
            detection_events=_column_sums(detectors),
            observable_flips=_column_sums(observables),
            flipped_shots=int(np.count_nonzero(observables.any(axis=1))),
        )


def _column_sums(rows: np.ndarray) -> np.ndarray:
    """The number of ones in each column of bool rows, as int64. Sums the bytes in uint32 when
    no count can overflow it, which NumPy does several times faster than in int64."""
    wide = np.uint32 if len(rows) < 2**32 else np.int64
    return rows.view(np.uint8).sum(axis=0, dtype=wide).astype(np.int64)


def sample(
    circuit: str,
    shots: int,
    *,
    seed: int | None = None,
    postselect: Sequence[int] | None = None,
    shard_size: int = DEFAULT_SHARD_SIZE,
    client: distributed.Client | None = None,
    bit_packed: bool = False,
    num_faults: int | None = None,
) -> ShardedSampleResult:
    """Samples `shots` shots of the circuit text on the cluster and returns every row, exactly
    as `velkor.sample_parallel` with the same arguments would. Errors as there."""
    return _run(circuit, shots, seed, postselect, shard_size, client,
                {"bit_packed": bit_packed, "num_faults": num_faults}, counts=False)


def count(
    circuit: str,
    shots: int,
    *,
    seed: int | None = None,
    postselect: Sequence[int] | None = None,
    shard_size: int = DEFAULT_SHARD_SIZE,
    client: distributed.Client | None = None,
    num_faults: int | None = None,
) -> ShotCounts:
    """Samples `shots` shots of the circuit text on the cluster and returns only their totals:
    those of `ShotCounts.of(velkor.sample_parallel(...))` with the same arguments, computed on
    the workers. Errors as for `velkor.sample_parallel`."""
    return _run(circuit, shots, seed, postselect, shard_size, client,
                {"num_faults": num_faults}, counts=True)


def _run(circuit, shots, seed, postselect, shard_size, client, options, counts):
    """Checks the arguments here, then samples shard groups on the cluster and joins them."""
    if not isinstance(circuit, str):
        raise TypeError(f"circuit must be str, not {type(circuit).__name__}")
    local = _prepare_sampler(circuit, postselect)  # circuit and postselection errors, here
    _check_sharding(shots, shard_size)
    empty = local.with_seed(0).sample(0, **options)
    if seed is None:
        seed = secrets.randbits(64)
    sizes = _shard_sizes(shots, shard_size)
    postselect = None if postselect is None else tuple(postselect)
    with _connected(client) as client:
        threads = max(sum(client.nthreads().values()), 1)
        per_task = max(1, math.ceil(len(sizes) / (_TASKS_PER_THREAD * threads)))
        text = client.scatter(circuit, broadcast=True, hash=False)
        futures = [
            client.submit(_shard_group, text, postselect, seed, first, sizes[first:first + per_task],
                          shard_size, options, counts, pure=False)
            for first in range(0, len(sizes), per_task)
        ]
        try:
            results = client.gather(futures)
        except BaseException:
            client.cancel(futures)
            raise
    for result in results:
        if isinstance(result, _Refusal):
            raise result.error()
    if counts:
        return sum(results, ShotCounts.of(empty))
    arrays = [np.concatenate([getattr(part, field) for part in [empty, *results]])
              for field in _FIELDS]
    return ShardedSampleResult(*arrays, total_shots=shots, accepted_shots=len(arrays[1]),
                               seed=seed, shard_size=shard_size)


@contextlib.contextmanager
def _connected(client: distributed.Client | None) -> Iterator[distributed.Client]:
    """`client`, the default client, or a client of a LocalCluster made for the call."""
    if client is not None:
        yield client
        return
    try:
        yield distributed.default_client()
        return
    except ValueError:  # no default client
        pass
    with distributed.LocalCluster(n_workers=_available_cores(), threads_per_worker=1,
                                  processes=True, dashboard_address=None) as cluster:
        with distributed.Client(cluster) as local:
            yield local


@dataclasses.dataclass(frozen=True)
class _Refusal:
    """A MeasurementError raised on a worker, carried back as plain text."""

    message: str
    notes: list[str]

    def error(self) -> MeasurementError:
        error = MeasurementError(self.message)
        for note in self.notes:
            error.add_note(note)
        return error


@functools.lru_cache(maxsize=8)
def _base_sampler(circuit: str, postselect: tuple[int, ...] | None):
    """The sampler a worker copies for every shard of a circuit, built once per process."""
    return _prepare_sampler(circuit, postselect)


def _shard_group(circuit, postselect, seed, first, sizes, shard_size, options, counts):
    """Runs on a worker: samples shards first, first + 1, ... and returns their rows or their
    totals, or the refusal of the first failing shard."""
    base = _base_sampler(circuit, postselect)
    try:
        if counts:
            return _count_shards(base, seed, first, sizes, shard_size, options)
        return _sample_shards(base, seed, first, sizes, shard_size, options)
    except MeasurementError as error:
        return _Refusal(str(error), list(getattr(error, "__notes__", [])))


def _sample_shards(base, seed, first, sizes, shard_size, options) -> ShardedSampleResult:
    """The rows of shards first, first + 1, ..., one after another."""
    out = _allocate(base, base.with_seed(0).sample(0, **options), sum(sizes))
    accepted, row = [], 0
    for offset, size in enumerate(sizes):
        accepted.append(_sample_shard(base, seed, first + offset, shard_size, size, options,
                                      out, row))
        row += size
    return _result(out, _compact(out, sizes, accepted), sum(sizes), seed, shard_size)


def _count_shards(base, seed, first, sizes, shard_size, options) -> ShotCounts:
    """The totals of shards first, first + 1, ..., each sampled, without its measurement
    record, into the same arrays of one shard's rows."""
    empty = base.with_seed(0).sample(0)
    out = _allocate(base, empty, max(sizes))
    out[0] = None
    totals = ShotCounts.of(empty)
    for offset, size in enumerate(sizes):
        accepted = _sample_shard(base, seed, first + offset, shard_size, size, options, out, 0)
        totals += ShotCounts.tally(size, out[1][:accepted], out[2][:accepted])
    return totals
