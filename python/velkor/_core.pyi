"""Type stubs for the extension module velkor._core.

Editors show these docstrings; the compiled classes carry only their text signatures.
"""

import os
from typing import Literal, Sequence, final

import numpy as np
import numpy.typing as npt

__all__ = ["Simulator", "CircuitSampler", "SampleResult", "MeasurementError"]

# The class's own name is "_core.PyMeasurementError"; the module exports it as MeasurementError.
class MeasurementError(Exception):
    """A measurement whose result would leave the representable family of states.

    Raised instead of approximating, for example by an X measurement right after a CCZ on
    |+++>. The message names the qubit and the reason; from a sampler it ends in
    " (shot {}, measurement {})", or in " (reference measurement {})" when the noiseless
    reference run was refused. A refused `Simulator` measurement leaves the state as it was.
    """

@final
class Simulator:
    """An exact simulator of a growing qubit register; a seed fixes every outcome.

    Qubits are numbered from 0 and start in |0>; every method that names a qubit grows the
    register to that index plus one. Measurement result False is the +1 eigenvalue, True the
    -1 eigenvalue. Multi-target methods act target by target (or pair by pair) in the order
    given, and check every argument before changing anything.

    Two threads may use different simulators in parallel; a call on a simulator that another
    thread is using raises RuntimeError instead of waiting. In a process forked from this one, a
    simulator seeded from the operating system draws a new stream of its own (a seeded one keeps
    its stream, and a copy_rng copy keeps drawing what its source draws), and calls that other
    threads had in progress at the fork no longer block it.

    Example:
        >>> sim = Simulator(seed=1)
        >>> sim.reset_x(0)
        >>> sim.cnot(0, 1)
        >>> sim.measure_many(0, 1) in ([False, False], [True, True])
        True
    """

    def __new__(cls, *, seed: int | None = None) -> Simulator:
        """Creates an empty register.

        Args:
            seed: A 64-bit unsigned integer that fixes every random outcome, or None to seed
                from the operating system's entropy.

        Raises:
            TypeError: `seed` is not an integer.
            OverflowError: `seed` is negative or does not fit in 64 bits.
        """

    def copy(self, *, copy_rng: bool = False, seed: int | None = None) -> Simulator:
        """Returns an independent copy of the state.

        Args:
            copy_rng: Give the copy the same random stream, at the same point, so that it
                repeats this simulator's future outcomes.
            seed: Seed of the copy's stream; with neither argument it is seeded from the
                operating system.

        Raises:
            ValueError: "copy_rng and seed cannot both be specified".
        """

    @property
    def num_qubits(self) -> int:
        """The size of the register: one more than the largest qubit index named so far."""

    def x(self, *targets: int) -> None:
        """Applies the Pauli X gate to each target.

        Raises:
            IndexError: A target is negative ("qubit index {} must be non-negative").
        """

    def y(self, *targets: int) -> None:
        """Applies the Pauli Y gate to each target.

        Raises:
            IndexError: A target is negative.
        """

    def z(self, *targets: int) -> None:
        """Applies the Pauli Z gate to each target.

        Raises:
            IndexError: A target is negative.
        """

    def s(self, *targets: int) -> None:
        """Applies the phase gate S = diag(1, i) to each target.

        Raises:
            IndexError: A target is negative.
        """

    def s_dag(self, *targets: int) -> None:
        """Applies S_DAG = diag(1, -i) to each target.

        Raises:
            IndexError: A target is negative.
        """

    def t(self, *targets: int) -> None:
        """Applies T = diag(1, e^(i*pi/4)) to each target.

        Raises:
            IndexError: A target is negative.
        """

    def t_dag(self, *targets: int) -> None:
        """Applies T_DAG = diag(1, e^(-i*pi/4)) to each target.

        Raises:
            IndexError: A target is negative.
        """

    def cnot(self, *targets: int) -> None:
        """Applies CNOT to each pair (control, target): cnot(0, 1, 2, 3) acts on (0, 1), (2, 3).

        Raises:
            ValueError: An odd number of targets ("CNOT requires an even number of targets"),
                or a pair on one qubit ("CNOT control and target must be different qubits
                (both were {})").
            IndexError: A target is negative.
        """

    def cx(self, *targets: int) -> None:
        """Applies CNOT to each pair (control, target); the same as `cnot`.

        Raises:
            ValueError: An odd number of targets, or a pair on one qubit.
            IndexError: A target is negative.
        """

    def cz(self, *targets: int) -> None:
        """Applies CZ to each pair of targets.

        Raises:
            ValueError: An odd number of targets ("CZ requires an even number of targets"),
                or a pair on one qubit ("CZ pair endpoints must be different qubits (both
                were {})").
            IndexError: A target is negative.
        """

    def swap(self, *targets: int) -> None:
        """Swaps the qubits of each pair of targets.

        Raises:
            ValueError: An odd number of targets, or a pair on one qubit.
            IndexError: A target is negative.
        """

    def ccz(self, *targets: int) -> None:
        """Applies CCZ to each triple of targets: ccz(0, 1, 2) negates |111>.

        Raises:
            ValueError: A count that is not a multiple of three ("CCZ requires a multiple of
                three targets"), or a triple that repeats a qubit ("CCZ triple endpoints must
                be different (got {}, {}, {})").
            IndexError: A target is negative.
        """

    def measure(self, target: int) -> bool:
        """Measures one qubit in the Z basis and collapses the state.

        Returns:
            True for outcome |1>.

        Raises:
            IndexError: `target` is negative.
        """

    def measure_z(self, target: int) -> bool:
        """Measures one qubit in the Z basis; the same as `measure`.

        Returns:
            True for outcome |1>.

        Raises:
            IndexError: `target` is negative.
        """

    def measure_x(self, target: int) -> bool:
        """Measures one qubit in the X basis and collapses the state.

        Returns:
            True for outcome |->.

        Raises:
            IndexError: `target` is negative.
            MeasurementError: The post-measurement state is not an affine phase-polynomial
                state (for example after a CCZ on |+++>); the state is left as it was.
        """

    def measure_many(self, *targets: int) -> list[bool]:
        """Measures each target in the Z basis, in the order given.

        Returns:
            One outcome per target, in the order given; [] for no targets.

        Raises:
            IndexError: A target is negative.
        """

    def measure_observable(self, observable: str, *, flip_probability: float = 0.0) -> bool:
        """Measures a Pauli product and collapses the state onto the eigenspace found.

        Args:
            observable: The product in compact form: an optional "+" or "-", then one symbol
                per qubit from qubit 0: "X", "Y", "Z", or "I" or "_" for the identity; "-_Y"
                is minus Y on qubit 1. `velkor.compact_pauli` turns the sparse form "Y1"
                into this form.
            flip_probability: Probability of reporting the opposite result (a noisy readout).

        Returns:
            True for the -1 eigenvalue of the signed product.

        Raises:
            ValueError: An empty observable ("compact Pauli observable must contain at least
                one factor"), another symbol ("invalid compact Pauli observable symbol 'Q' at
                position 1"), or `flip_probability` outside [0, 1].
            MeasurementError: The result would leave the representable family of states; the
                state is left as it was.

        Example:
            >>> sim = Simulator(seed=1)
            >>> sim.reset_x(0, 1)
            >>> sim.measure_observable("XX")
            False
        """

    def peek_observable_expectation(self, observable: str) -> float:
        """Returns the exact expectation value of a Pauli product, leaving the state as it is.

        Args:
            observable: The product in compact form, as for `measure_observable`.

        Returns:
            A value in [-1, 1]; no random numbers are drawn.

        Raises:
            ValueError: The observable is not in compact form.

        Example:
            >>> sim = Simulator(seed=1)
            >>> sim.reset_x(0)
            >>> sim.t(0)
            >>> sim.peek_observable_expectation("X")
            0.7071067811865476
        """

    def peek_probability(self, target: int) -> float:
        """Returns the probability that a Z measurement of `target` gives True (outcome |1>).

        Draws nothing and does not grow the register: 0.0 for a qubit beyond it.

        Raises:
            IndexError: `target` is negative.
        """

    def peek_z_probability(self, target: int) -> float:
        """Returns the probability that a Z measurement of `target` gives True; the same as
        `peek_probability`.

        Raises:
            IndexError: `target` is negative.
        """

    def peek_x_probability(self, target: int) -> float:
        """Returns the probability that an X measurement of `target` gives True (outcome |->).

        Draws nothing and does not grow the register: 0.5 for a qubit beyond it.

        Raises:
            IndexError: `target` is negative.
            MeasurementError: An X measurement of this qubit would be refused.
        """

    def reset(self, *targets: int) -> None:
        """Resets each target to |0>.

        Raises:
            IndexError: A target is negative.
        """

    def reset_z(self, *targets: int) -> None:
        """Resets each target to |0>; the same as `reset`.

        Raises:
            IndexError: A target is negative.
        """

    def reset_x(self, *targets: int) -> None:
        """Resets each target to |+>.

        Raises:
            IndexError: A target is negative.
        """

    def x_error(self, *targets: int, p: float) -> None:
        """Applies X to each target independently with probability `p`.

        Raises:
            ValueError: `p` is outside [0, 1] ("probability must be between 0 and 1, but got
                {}").
            IndexError: A target is negative.
        """

    def y_error(self, *targets: int, p: float) -> None:
        """Applies Y to each target independently with probability `p`.

        Raises:
            ValueError: `p` is outside [0, 1].
            IndexError: A target is negative.
        """

    def z_error(self, *targets: int, p: float) -> None:
        """Applies Z to each target independently with probability `p`.

        Raises:
            ValueError: `p` is outside [0, 1].
            IndexError: A target is negative.
        """

    def depolarize1(self, *targets: int, p: float) -> None:
        """With probability `p` per target, applies X, Y or Z chosen uniformly.

        Raises:
            ValueError: `p` is outside [0, 1].
            IndexError: A target is negative.
        """

    def depolarize2(self, *targets: int, p: float) -> None:
        """With probability `p` per pair of targets, applies one of the 15 non-identity
        two-qubit Paulis chosen uniformly.

        Raises:
            ValueError: `p` is outside [0, 1], an odd number of targets ("depolarize2 requires
                an even number of targets") or a pair on one qubit.
            IndexError: A target is negative.
        """

    def depolarize3(self, *targets: int, p: float) -> None:
        """With probability `p` per triple of targets, applies one of the 63 non-identity
        three-qubit Paulis chosen uniformly.

        Raises:
            ValueError: `p` is outside [0, 1], a count that is not a multiple of three, or a
                triple that repeats a qubit.
            IndexError: A target is negative.
        """

    def state_vector(
        self, *, endian: Literal["little", "big"] = "little"
    ) -> npt.NDArray[np.complex64]:
        """Returns the dense state as 2**num_qubits complex64 amplitudes.

        The global phase is fixed so that the first non-zero amplitude is real and positive.
        The array is new and writeable; it costs 8 * 2**num_qubits bytes.

        Args:
            endian: "little" makes qubit 0 the lowest bit of the index, "big" the highest.

        Raises:
            ValueError: `endian` is another text ("endian must be 'little' or 'big', but got
                {}").
            MemoryError: The vector does not fit in memory.

        Example:
            >>> sim = Simulator(seed=1)
            >>> sim.x(1)
            >>> sim.state_vector()
            array([0.+0.j, 0.+0.j, 1.+0.j, 0.+0.j], dtype=complex64)
        """

@final
class CircuitSampler:
    """A circuit compiled once for repeated sampling.

    The circuit is read and checked once and a noiseless reference shot is run. Detector and
    observable bits are reported relative to that reference (True means "differs from the
    noiseless run"); measurement records are reported as measured. The sampler owns a seeded
    random stream that carries over from call to call, so `sample(30)` gives the same rows as
    `sample(10)` followed by `sample(20)`. Construction and sampling release the interpreter;
    Ctrl-C interrupts them within a fraction of a second, even inside one long shot. In a
    process forked from this one, a sampler seeded from the operating system draws a new stream
    of its own (a seeded one keeps its stream), and calls that other threads had in progress at
    the fork no longer block it.

    Example:
        >>> sampler = CircuitSampler("X_ERROR(0.1) 0\\nM 0\\nDETECTOR rec[-1]", seed=5)
        >>> sampler.sample(1000).detectors.mean()  # about 0.1
    """

    def __new__(
        cls, circuit: str, *, seed: int | None = None, postselect: Sequence[int] | None = None
    ) -> CircuitSampler:
        """Reads and checks a circuit and runs its noiseless reference shot.

        Args:
            circuit: Circuit text in the Stim circuit format (the supported instructions,
                with REPEAT blocks).
            seed: A 64-bit unsigned integer that fixes every sample, or None to seed from the
                operating system's entropy.
            postselect: Detector indices; shots in which any of them fires are discarded.

        Raises:
            ValueError: The circuit text is invalid (the message names the line and the
                problem), or a postselected index is negative, out of range or repeated.
            TypeError: `postselect` is a str ("Can't extract `str` to `Vec`") or holds
                non-integers.
            MeasurementError: The reference shot was refused; the message ends in
                " (reference measurement {})".
        """

    @classmethod
    def from_file(
        cls,
        path: str | bytes | os.PathLike[str] | os.PathLike[bytes],
        *,
        seed: int | None = None,
        postselect: Sequence[int] | None = None,
    ) -> CircuitSampler:
        """Reads a circuit file (UTF-8 text) and builds its sampler.

        Takes the same keywords as the constructor and fails the same way on the text.

        Args:
            path: The circuit file.
            seed: As for the constructor.
            postselect: As for the constructor.

        Raises:
            FileNotFoundError: No file has that path (the error's filename is the path).
            IsADirectoryError: The path names a directory.
            OSError: The file cannot be read otherwise (PermissionError, ...).
            ValueError: The file is not UTF-8 ("circuit file 'x.stim' is not valid UTF-8
                (invalid byte at offset {})"), or the circuit is invalid.

        Example:
            >>> sampler = CircuitSampler.from_file("examples/repetition_code.stim", seed=5)
        """

    def sample(
        self, shots: int, *, bit_packed: bool = False, num_faults: int | None = None
    ) -> SampleResult:
        """Samples shots of the circuit.

        Args:
            shots: Number of shots to run (postselection may keep fewer).
            bit_packed: Return uint8 arrays with 8 bits per byte, little-endian within each
                byte (as numpy.packbits(..., bitorder="little") along each row), instead of
                bool arrays. `exp_vals` is never packed.
            num_faults: Instead of sampling the noise, fault exactly this many of the
                `num_fault_sites` sites per shot, a uniformly random subset whatever the
                probabilities; a faulted site applies its error (X for X_ERROR, a uniformly
                chosen non-identity Pauli for DEPOLARIZE1, a flipped result for a noisy
                readout). Not supported with PAULI_CHANNEL_1 or PAULI_CHANNEL_2.

        Returns:
            The arrays of the accepted shots, in order.

        Raises:
            ValueError: "shots must be non-negative", "num_faults must be non-negative",
                "num_faults ({}) exceeds the number of fault sites ({})", or
                "fixed-fault sampling does not support PAULI_CHANNEL_1 or PAULI_CHANNEL_2".
            OverflowError: `shots` or `num_faults` does not fit in 64 bits.
            MeasurementError: A shot was refused; the message ends in " (shot {}, measurement
                {})". The random stream has advanced all the same.
            MemoryError: The result does not fit in memory.
            KeyboardInterrupt: Ctrl-C during sampling.

        Example:
            >>> result = sampler.sample(10_000)
            >>> result.detectors.shape
            (10000, 8)
        """

    def sample_detectors(
        self, shots: int, *, bit_packed: bool = False, num_faults: int | None = None
    ) -> SampleResult:
        """Samples shots of the circuit as `sample` does, but without the measurement record.

        Same arguments, same random draws and the same detector, observable and EXP_VAL rows
        as `sample` would give; `measurements` has zero columns. For most QEC circuits the
        record is about half of a result's memory. Raises what `sample` raises.

        Example:
            >>> result = sampler.sample_detectors(10_000, bit_packed=True)
            >>> result.measurements.shape, result.detectors.shape
            ((10000, 0), (10000, 1))
        """

    def with_seed(self, seed: int | None) -> CircuitSampler:
        """An independent copy of this sampler with a fresh random stream.

        The copy samples exactly as a sampler built from the same circuit and postselection
        with `seed` would; it reuses the parsed circuit and the reference sample, and this
        sampler's own stream is untouched.

        Args:
            seed: A 64-bit unsigned integer, or None to seed from the operating system.

        Raises:
            OverflowError: `seed` is negative or does not fit in 64 bits.

        Example:
            >>> shard = sampler.with_seed(17)
        """

    @property
    def num_qubits(self) -> int:
        """The number of qubits every shot starts with: one more than the largest index named."""

    @property
    def num_measurements(self) -> int:
        """The width of `SampleResult.measurements`: the length of one shot's record."""

    @property
    def num_detectors(self) -> int:
        """The width of `SampleResult.detectors`: the number of DETECTOR instructions run."""

    @property
    def num_observables(self) -> int:
        """The width of `SampleResult.observables`: one more than the largest
        OBSERVABLE_INCLUDE index, or 0."""

    @property
    def num_exp_vals(self) -> int:
        """The width of `SampleResult.exp_vals`: the number of EXP_VAL products run."""

    @property
    def num_fault_sites(self) -> int:
        """The number of places where one fault can occur (noise channels and noisy readouts,
        each target counted); the upper bound of `num_faults`."""

    def _sample_into(
        self,
        measurements: npt.NDArray[np.bool_] | npt.NDArray[np.uint8] | None,
        detectors: npt.NDArray[np.bool_] | npt.NDArray[np.uint8],
        observables: npt.NDArray[np.bool_] | npt.NDArray[np.uint8],
        exp_vals: npt.NDArray[np.float64],
        *,
        bit_packed: bool = False,
        num_faults: int | None = None,
    ) -> int:
        """Samples as many shots as the arrays have rows, exactly as `sample` would, writing
        the accepted rows into the first rows of the arrays; returns their number and leaves the
        rows after them as they were (for `velkor.sample_parallel`, which fills one array from
        several threads). Each array is writeable, C-contiguous and two-dimensional, of
        `sample`'s dtype and width for `bit_packed`: a slice of rows of a larger array will do.
        `measurements` may be None, as in `sample_detectors`.

        Raises:
            ValueError: An array of another dtype or width ("detectors must have 2 columns of
                bools"), or arrays of different row counts; and as `sample`.
            MeasurementError: As `sample`.
        """

    def _use_general_path(self) -> None:
        """Makes every later call of this sampler run the general interpreter (for tests and
        benchmarks)."""

    @property
    def _compiled(self) -> bool:
        """Whether sampling runs a compiled program instead of interpreting the circuit."""

@final
class SampleResult:
    """Arrays of one `CircuitSampler.sample` call, one row per accepted shot.

    The bit arrays are bool of shape (rows, width), or uint8 of shape (rows, ceil(width / 8))
    when bit-packed (column c in byte c // 8 at bit c % 8, counted from the least significant
    bit). Each property returns the same writeable array every time. Made only by
    `CircuitSampler.sample` and `CircuitSampler.sample_detectors`.
    """

    @property
    def measurements(self) -> npt.NDArray[np.bool_] | npt.NDArray[np.uint8]:
        """The measurement records as measured (True for the -1 eigenvalue), in circuit order."""

    @property
    def detectors(self) -> npt.NDArray[np.bool_] | npt.NDArray[np.uint8]:
        """The detector bits; True where the detector differs from the noiseless reference."""

    @property
    def observables(self) -> npt.NDArray[np.bool_] | npt.NDArray[np.uint8]:
        """The observable bits, column k for OBSERVABLE_INCLUDE(k); True where the observable
        differs from the noiseless reference."""

    @property
    def exp_vals(self) -> npt.NDArray[np.float64]:
        """The exact expectation value of each EXP_VAL product at its point in each shot,
        float64 of shape (rows, num_exp_vals); never packed."""

    @property
    def total_shots(self) -> int:
        """The number of shots asked for."""

    @property
    def accepted_shots(self) -> int:
        """The number of shots kept by postselection: the number of rows."""

    @property
    def discards(self) -> int:
        """The number of shots discarded by postselection: total_shots - accepted_shots."""
