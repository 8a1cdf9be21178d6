"""Prepare the magic state T|+> on one qubit and show what velkor knows about it.

Run: python examples/t_state.py
"""

import numpy as np

import velkor

sim = velkor.Simulator(seed=7)
sim.reset_x(0)  # |+>
sim.t(0)  # (|0> + e^{i pi/4} |1>) / sqrt(2)
print(sim)
print("state vector:", np.array2string(sim.state_vector(), precision=6))
print("P(Z = 1):", sim.peek_probability(0))

# A GHZ state on three qubits with a T on the last: still exact, no dense vector inside.
ghz = velkor.Simulator(seed=7)
ghz.reset_x(0)
ghz.cnot(0, 1, 1, 2)
ghz.t(2)
print("GHZ + T:", np.array2string(ghz.state_vector(), precision=6))
print("measured:", ghz.measure_many(0, 1, 2))
