"""Encoders for the shot data formats of the command line.

Every encoder turns a block of shots into the bytes of one format. A block is a list of
`Segment`s side by side: bit-packed columns with the prefix that names them in the `dets` format
(`M` measurements, `D` detectors, `L` observables). The formats:

- ``01``: one line per shot, a ``0`` or ``1`` character per bit.
- ``b8``: each shot's bits packed little-endian into ceil(width / 8) bytes, shot after shot.
- ``r8``: each shot as run lengths: with a 1 appended after its last bit, every byte counts the
  0s before the next 1, and the byte 255 stands for 255 0s not followed by a 1.
- ``hits``: one line per shot, the comma-separated indices of its set bits.
- ``dets``: one line per shot, ``shot`` followed by a space and a prefixed index (``D5``, ``L0``)
  for every set bit; each prefix counts its own columns from 0.
- ``ptb64``: groups of 64 shots; for every bit, one little-endian 64-bit word whose bit k is that
  bit of shot k of the group.
"""

from __future__ import annotations

from typing import Callable, NamedTuple

import numpy as np

FORMATS = ("01", "b8", "r8", "hits", "dets", "ptb64")


class Segment(NamedTuple):
    """Columns of a block: bit-packed rows (as `sample(..., bit_packed=True)` returns them), their
    number of bits, and the prefix that names them in the `dets` format."""

    prefix: str
    packed: np.ndarray
    width: int


def encode(out_format: str, segments: list[Segment]) -> bytes:
    """The bytes of the block of shots `segments` in `out_format` (one of `FORMATS`).

    Raises ValueError for `ptb64` when the number of shots is not a multiple of 64."""
    if out_format == "b8" and len(segments) == 1:
        return np.ascontiguousarray(segments[0].packed).tobytes()
    bits = np.concatenate([np.unpackbits(s.packed, axis=1, count=s.width, bitorder="little")
                           for s in segments], axis=1)
    if out_format == "dets":
        return _dets(bits, segments)
    return _BIT_ENCODERS[out_format](bits)


def encode_floats(values: np.ndarray) -> bytes:
    """One line per row of space-separated floats, each written so that it reads back to the
    same double (`repr`)."""
    return "".join(" ".join(map(repr, row)) + "\n" for row in values.tolist()).encode()


def _01(bits: np.ndarray) -> bytes:
    text = np.empty((bits.shape[0], bits.shape[1] + 1), dtype=np.uint8)
    text[:, :-1] = bits + ord("0")
    text[:, -1] = ord("\n")
    return text.tobytes()


def _b8(bits: np.ndarray) -> bytes:
    return np.packbits(bits, axis=1, bitorder="little").tobytes()


def _r8(bits: np.ndarray) -> bytes:
    ended = np.ones((bits.shape[0], bits.shape[1] + 1), dtype=np.uint8)
    ended[:, :-1] = bits
    ones = np.flatnonzero(ended)
    # Every row ends in a 1, so the 0s before each 1 are the distance to the previous 1.
    gaps = np.diff(ones, prepend=-1) - 1
    lengths = gaps // 255 + 1
    runs = np.full(int(lengths.sum()), 255, dtype=np.uint8)
    runs[np.cumsum(lengths) - 1] = gaps % 255
    return runs.tobytes()


def _ptb64(bits: np.ndarray) -> bytes:
    shots, width = bits.shape
    if shots % 64:
        raise ValueError(f"the ptb64 format needs a multiple of 64 shots, not {shots}")
    groups = bits.reshape(shots // 64, 64, width).transpose(0, 2, 1)
    return np.packbits(groups, axis=2, bitorder="little").tobytes()


def _lines(bits: np.ndarray, name: Callable[[np.ndarray], list[str]], head: str, sep: str) -> bytes:
    """One line per row: `head`, then the names of the row's set columns joined by `sep`."""
    rows, cols = np.nonzero(bits)
    names = name(cols)
    bounds = np.searchsorted(rows, np.arange(bits.shape[0] + 1)).tolist()
    return "".join(head + sep.join(names[a:b]) + "\n"
                   for a, b in zip(bounds[:-1], bounds[1:])).encode()


def _hits(bits: np.ndarray) -> bytes:
    return _lines(bits, lambda cols: list(map(str, cols.tolist())), "", ",")


def _dets(bits: np.ndarray, segments: list[Segment]) -> bytes:
    starts = np.cumsum([0] + [s.width for s in segments])[:-1]
    prefixes = [" " + s.prefix for s in segments]

    def name(cols: np.ndarray) -> list[str]:
        segment = np.searchsorted(starts, cols, side="right") - 1
        return [prefixes[s] + str(i) for s, i in zip(segment.tolist(),
                                                     (cols - starts[segment]).tolist())]

    return _lines(bits, name, "shot", "")


_BIT_ENCODERS = {"01": _01, "b8": _b8, "r8": _r8, "hits": _hits, "ptb64": _ptb64}
