"""Collecting logical error rates with sinter while velkor samples the shots, T and CCZ included.

sinter describes each task by a `stim.Circuit`, which cannot hold T, T_DAG or CCZ. `task` turns
velkor circuit text into a `sinter.Task` whose circuit is a Clifford stand-in: every T, T_DAG and
CCZ becomes a Clifford instruction tagged with the gate it stands for (`I[T] 3`, or `S[T] 3` with
`t_gates="s"`; `I[CCZ] 0 1 2` always), and `EXP_VAL` instructions are left out (sinter counts
only errors and discards, and they draw nothing). The decoder works from the detector error model
given to `task`, or else from the one sinter derives from the stand-in. `VelkorSampler` turns the
tags back into the original gates, samples the real circuit with velkor, decodes the detection
events with any sinter decoder and counts errors; postselected shots count as discards.

    tasks = [velkor.sinter.task(text, json_metadata={"p": p}) for text, p in ...]
    sinter.collect(num_workers=4, tasks=tasks, max_shots=10**6,
                   custom_decoders={"velkor": velkor.sinter.VelkorSampler("pymatching")})

Each worker process seeds its own sampler from the operating system, so workers never repeat
each other's shots. Needs the `sinter` extra (`pip install 'velkor[sinter]'`).
"""

from __future__ import annotations

import re
import time
from typing import Any, Sequence

import numpy as np
import sinter
import stim

from velkor._core import CircuitSampler

__all__ = ["VelkorSampler", "clifford_stand_in", "restore_circuit", "task"]

# The Clifford instruction that stands for each non-Clifford gate, per choice of `t_gates`.
_STAND_INS = {
    "drop": {"T": "I", "T_DAG": "I", "CCZ": "I"},
    "s": {"T": "S", "T_DAG": "S_DAG", "CCZ": "I"},
}
_FIRST_WORD = re.compile(r"^(\s*)([A-Za-z_][A-Za-z0-9_]*)(?=[\s(#]|$)")
_TAGGED = re.compile(r"^(\s*)([A-Z_0-9]+)\[([^\]]*)\]")


def clifford_stand_in(circuit: str, *, t_gates: str = "drop") -> stim.Circuit:
    """The Clifford stand-in of velkor circuit text (see the module docstring): T and T_DAG
    dropped (`t_gates="drop"`) or replaced by S and S_DAG (`t_gates="s"`), CCZ dropped,
    EXP_VAL left out, each stand-in tagged with the gate it replaces."""
    if t_gates not in _STAND_INS:
        raise ValueError(f"t_gates must be 'drop' or 's', not {t_gates!r}")
    stand_ins = _STAND_INS[t_gates]
    lines = []
    for line in circuit.splitlines():
        match = _FIRST_WORD.match(line)
        name = match.group(2).upper() if match else ""
        if name == "EXP_VAL":
            continue
        if name in stand_ins:
            line = f"{match.group(1)}{stand_ins[name]}[{name}]{line[match.end():]}"
        lines.append(line)
    return stim.Circuit("\n".join(lines))


def restore_circuit(stand_in: stim.Circuit) -> str:
    """The velkor circuit text a stand-in was made from (EXP_VAL aside): tagged stand-ins become
    the gates their tags name again, and other tags are dropped."""
    lines = []
    for line in str(stand_in).splitlines():
        match = _TAGGED.match(line)
        if match:
            indent, name, tag = match.groups()
            restored = tag if tag in _STAND_INS["drop"] else name
            line = f"{indent}{restored}{line[match.end():]}"
        lines.append(line)
    return "\n".join(lines) + "\n"


def task(
    circuit: str,
    *,
    t_gates: str = "drop",
    detector_error_model: stim.DetectorErrorModel | None = None,
    decoder: str = "velkor",
    postselect: Sequence[int] = (),
    json_metadata: Any = None,
    collection_options: sinter.CollectionOptions | None = None,
) -> sinter.Task:
    """A `sinter.Task` for velkor circuit text: its circuit is the Clifford stand-in
    (`clifford_stand_in`), its detector error model the one given (by default sinter derives
    one from the stand-in), and shots in which a detector of `postselect` fires are discarded.
    `decoder` names the entry of `custom_decoders` that holds a `VelkorSampler`."""
    stand_in = clifford_stand_in(circuit, t_gates=t_gates)
    mask = None
    if len(postselect):
        bits = np.zeros(stand_in.num_detectors, dtype=bool)
        bits[list(postselect)] = True
        mask = np.packbits(bits, bitorder="little")
    return sinter.Task(
        circuit=stand_in,
        decoder=decoder,
        detector_error_model=detector_error_model,
        postselection_mask=mask,
        json_metadata=json_metadata,
        collection_options=collection_options or sinter.CollectionOptions(),
    )


class VelkorSampler(sinter.Sampler):
    """A `sinter.Sampler` that samples each task's circuit with velkor (restoring T, T_DAG and
    CCZ from the stand-in's tags) and decodes with `decoder`: the name of a sinter built-in
    decoder such as "pymatching", or a `sinter.Decoder`."""

    def __init__(self, decoder: str | sinter.Decoder = "pymatching"):
        """Samples with velkor and decodes with `decoder`."""
        if isinstance(decoder, str):
            if decoder not in sinter.BUILT_IN_DECODERS:
                raise ValueError(f"unknown sinter decoder {decoder!r}")
            decoder = sinter.BUILT_IN_DECODERS[decoder]
        self.decoder = decoder

    def compiled_sampler_for_task(self, task: sinter.Task) -> sinter.CompiledSampler:
        """Reads the task's circuit into a velkor sampler with a fresh random stream and
        compiles the decoder for the task's detector error model."""
        return _CompiledVelkorSampler(task, self.decoder)


class _CompiledVelkorSampler(sinter.CompiledSampler):
    """One task, ready to sample: a velkor sampler and a compiled decoder."""

    def __init__(self, task: sinter.Task, decoder: sinter.Decoder):
        circuit = task.circuit if task.circuit is not None else stim.Circuit.from_file(
            task.circuit_path)
        model = task.detector_error_model or circuit.detector_error_model(
            decompose_errors=True, approximate_disjoint_errors=True)
        postselect = []
        if task.postselection_mask is not None:
            flags = np.unpackbits(task.postselection_mask, bitorder="little")
            postselect = np.flatnonzero(flags[: circuit.num_detectors]).tolist()
        self.sampler = CircuitSampler(restore_circuit(circuit), postselect=postselect)
        self.decoder = decoder.compile_decoder_for_dem(dem=model)
        self.observables_mask = task.postselected_observables_mask

    def sample(self, suggested_shots: int) -> sinter.AnonTaskStats:
        """Samples `suggested_shots` shots (at least one), decodes them and counts errors and
        discards: shots dropped by postselection, those whose decoder asked for a discard (an
        extra prediction byte) and those mispredicted on a postselected observable."""
        start = time.monotonic()
        shots = max(suggested_shots, 1)
        result = self.sampler.sample(shots, bit_packed=True)
        actual = result.observables
        predicted = self.decoder.decode_shots_bit_packed(
            bit_packed_detection_event_data=result.detectors)
        keep = np.ones(len(actual), dtype=bool)
        if predicted.shape[1] > actual.shape[1]:
            keep &= predicted[:, -1] == 0
            predicted = predicted[:, : actual.shape[1]]
        mistakes = actual ^ predicted
        if self.observables_mask is not None:
            keep &= ~np.any(mistakes & self.observables_mask, axis=1)
        errors = np.count_nonzero(np.any(mistakes[keep], axis=1))
        return sinter.AnonTaskStats(
            shots=shots,
            errors=int(errors),
            discards=result.discards + int(np.count_nonzero(~keep)),
            seconds=time.monotonic() - start,
        )
