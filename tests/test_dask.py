"""Sampling on Dask: the rows of sample_parallel whatever the cluster, totals computed on the
workers, and refusals carried back."""

import pytest

from test_parallel import CIRCUIT, rows
from test_sampler import REFUSED_IN_SHOT
from velkor import MeasurementError, sample_parallel

distributed = pytest.importorskip("distributed")
velkor_dask = pytest.importorskip("velkor.dask")


@pytest.fixture(scope="module", params=[(2, True), (1, False), (3, False)],
                ids=["2 processes", "1 thread", "3 threads"])
def client(request):
    workers, processes = request.param
    with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=processes,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            yield client


@pytest.mark.parametrize("options", [{}, {"postselect": [0], "bit_packed": True},
                                     {"num_faults": 1}])
def test_rows_and_totals_match_the_threaded_call(client, options):
    threaded = sample_parallel(CIRCUIT, 3000, seed=4, shard_size=200, **options)
    sampled = velkor_dask.sample(CIRCUIT, 3000, seed=4, shard_size=200, client=client, **options)
    assert rows(sampled) == rows(threaded)
    if not options.get("bit_packed"):
        counts = velkor_dask.count(CIRCUIT, 3000, seed=4, shard_size=200, client=client,
                                   **options)
        expected = velkor_dask.ShotCounts.of(threaded)
        assert (counts.shots, counts.discards, counts.flipped_shots) == (
            expected.shots, expected.discards, expected.flipped_shots)
        assert counts.detection_events.tolist() == expected.detection_events.tolist()
        assert counts.observable_flips.tolist() == expected.observable_flips.tolist()


def test_refusals_come_back_as_measurement_errors(client):
    with pytest.raises(MeasurementError) as threaded:
        sample_parallel(REFUSED_IN_SHOT, 40, seed=10, shard_size=4)
    with pytest.raises(MeasurementError) as clustered:
        velkor_dask.count(REFUSED_IN_SHOT, 40, seed=10, shard_size=4, client=client)
    assert str(clustered.value) == str(threaded.value)
    assert clustered.value.__notes__ == threaded.value.__notes__
    with pytest.raises(ValueError, match="shots must be non-negative"):
        velkor_dask.sample(CIRCUIT, -1, client=client)
