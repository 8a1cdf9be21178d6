"""A dense state vector in NumPy: an independent oracle for the simulator's states.

Qubit q is bit q of the basis index (little order). The register grows on demand like the
simulator's. Global phases are dropped only by `canonical`, which rotates the first non-zero
amplitude to be real and positive, the simulator's convention.
"""

import numpy as np

_PHASE = {"z": -1, "s": 1j, "s_dag": -1j, "t": np.exp(1j * np.pi / 4), "t_dag": np.exp(-1j * np.pi / 4)}


class DenseState:
    def __init__(self, num_qubits: int = 0):
        self.amplitudes = np.zeros(1 << num_qubits, dtype=np.complex128)
        self.amplitudes[0] = 1

    @property
    def num_qubits(self) -> int:
        return self.amplitudes.size.bit_length() - 1

    def grow(self, num_qubits: int) -> None:
        if num_qubits > self.num_qubits:
            grown = np.zeros(1 << num_qubits, dtype=np.complex128)
            grown[: self.amplitudes.size] = self.amplitudes
            self.amplitudes = grown

    def bit(self, q: int) -> np.ndarray:
        return (np.arange(self.amplitudes.size) >> q) & 1

    def gate(self, name: str, *qubits: int) -> None:
        """Applies one of x, y, z, s, s_dag, t, t_dag, cnot, cz, swap, ccz (up to global phase)."""
        self.grow(max(qubits) + 1)
        index = np.arange(self.amplitudes.size)
        bits = [self.bit(q) for q in qubits]
        if name in ("x", "y"):
            if name == "y":  # Y = i X Z
                self.amplitudes = self.amplitudes * (-1.0) ** bits[0]
            self.amplitudes = self.amplitudes[index ^ (1 << qubits[0])]
        elif name in _PHASE:
            self.amplitudes = self.amplitudes * np.where(bits[0] == 1, _PHASE[name], 1)
        elif name == "cnot":
            self.amplitudes = self.amplitudes[index ^ (bits[0] << qubits[1])]
        elif name in ("cz", "ccz"):
            self.amplitudes = self.amplitudes * (-1.0) ** np.prod(bits, axis=0)
        elif name == "swap":
            moved = bits[0] ^ bits[1]
            self.amplitudes = self.amplitudes[index ^ (moved << qubits[0]) ^ (moved << qubits[1])]
        else:
            raise ValueError(name)

    def h(self, q: int) -> None:
        self.grow(q + 1)
        index = np.arange(self.amplitudes.size)
        partner = self.amplitudes[index ^ (1 << q)]
        sign = (-1.0) ** self.bit(q)
        self.amplitudes = (partner + sign * self.amplitudes) / np.sqrt(2)

    def probability_one(self, q: int) -> float:
        """Probability that a Z measurement of q gives 1."""
        if q >= self.num_qubits:
            return 0.0
        return float(np.sum(np.abs(self.amplitudes[self.bit(q) == 1]) ** 2))

    def pauli_applied(self, factors, negated: bool = False) -> np.ndarray:
        """P|psi> for the product of (qubit, letter) factors, letters "X", "Y", "Z" (Y = iXZ).
        The register must cover the factors."""
        out = -self.amplitudes if negated else self.amplitudes
        index = np.arange(out.size)
        for q, letter in factors:
            if letter != "X":
                out = out * (-1.0) ** self.bit(q)
            if letter != "Z":
                out = out[index ^ (1 << q)] * (1j if letter == "Y" else 1)
        return out

    def expectation(self, factors, negated: bool = False) -> float:
        """<psi|P|psi>; qubits beyond the register are |0>."""
        state = self.copy()
        state.grow(max((q + 1 for q, _ in factors), default=0))
        return float(np.vdot(state.amplitudes, state.pauli_applied(factors, negated)).real)

    def project_pauli(self, factors, negated: bool, outcome: bool) -> None:
        """Keeps the eigenspace of eigenvalue (-1)^outcome of the product and renormalises it.
        The register must cover the factors."""
        self.amplitudes = self.amplitudes + (-1) ** outcome * self.pauli_applied(factors, negated)
        self.amplitudes /= np.linalg.norm(self.amplitudes)

    def reset_branches(self, name: str, q: int):
        """The states a Z ("reset") or X ("reset_x") reset of q can leave, one per possible
        outcome of the measurement inside it."""
        for outcome in (False, True):
            if abs(self.probability_one(q) - (not outcome)) > 1e-9:
                branch = self.copy()
                branch.grow(q + 1)
                branch.project_pauli([(q, "Z")], False, outcome)
                if outcome:
                    branch.gate("x", q)
                if name == "reset_x":
                    branch.h(q)
                yield branch

    def copy(self) -> "DenseState":
        other = DenseState()
        other.amplitudes = self.amplitudes.copy()
        return other

    def canonical(self) -> np.ndarray:
        first = self.amplitudes[np.flatnonzero(np.abs(self.amplitudes) > 1e-6)[0]]
        return self.amplitudes * (abs(first) / first)
