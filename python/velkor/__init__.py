"""Exact simulation of Clifford+T+CCZ circuits as affine maps with phase polynomials.

`Simulator` applies gates, resets and measurements one call at a time. `CircuitSampler` reads a
circuit in the Stim circuit text format and samples many shots into NumPy arrays (a
`SampleResult`). `MeasurementError` is raised for a measurement the representation cannot
express. Every outcome is fixed by a seed. The command line is `velkor sample` / `velkor detect`.
"""

from velkor import _core
from velkor._core import *  # noqa: F403

__all__ = list(_core.__all__)
