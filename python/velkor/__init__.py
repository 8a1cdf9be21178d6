"""Exact simulation of Clifford+T+CCZ circuits as affine maps with phase polynomials.

`Simulator` applies gates, resets and measurements one call at a time. `CircuitSampler` reads a
circuit in the Stim circuit text format (from a string, or from a file with
`CircuitSampler.from_file`) and samples many shots into NumPy arrays (a `SampleResult`).
`MeasurementError` is raised for a measurement the representation cannot express. Every outcome
is fixed by a seed. `compact_pauli` turns a sparse Pauli product such as "X0*Z5" into the compact
form the `Simulator` methods read. `translate_circuit` rewrites circuits that change bases with
`H`, `MY`, `RY` and the like into the instructions `CircuitSampler` reads. `sample_parallel`
samples one circuit on every core, with rows fixed by the seed alone; `velkor.dask` and
`velkor.sinter` take sampling to a cluster and to sinter. The command line is `velkor sample` /
`velkor detect`.

Example:
    >>> import velkor
    >>> sim = velkor.Simulator(seed=1)
    >>> sim.reset_x(0)
    >>> sim.cnot(0, 1)
    >>> sim.peek_observable_expectation(velkor.compact_pauli("X0*X1"))
    1.0

The API reference is docs/api.md in the source tree.
"""

from velkor import _core
from velkor._core import *  # noqa: F403
from velkor._pauli_text import compact_pauli
from velkor._version import __version__
from velkor.parallel import ShardedSampleResult, sample_parallel, shard_seed

__all__ = [
    *_core.__all__, "compact_pauli", "translate_circuit", "ShardedSampleResult",
    "sample_parallel", "shard_seed",
]


def __getattr__(name: str):
    # The translator builds its Clifford tables when first used, not on every `import velkor`
    # (they take about a tenth of a second).
    if name == "translate_circuit":
        from velkor.translate import translate_circuit

        return translate_circuit
    raise AttributeError(f"module 'velkor' has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(__all__))
