"""Command-line sampler: ``velkor sample`` and ``velkor detect``.

Reads a circuit in the Stim circuit text format and writes one line (``01``) or one packed
record (``b8``) per shot. Long runs are sampled in chunks; the sampler's random stream carries
over from chunk to chunk, so the output equals that of one large call.
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from typing import BinaryIO, NoReturn, Sequence

import numpy as np

from velkor import CircuitSampler, MeasurementError, SampleResult

# Bits sampled per chunk (before encoding): large enough to amortise each call, small enough to
# keep memory flat however many shots are asked for.
CHUNK_BITS = 1 << 22
MAX_CHUNK_SHOTS = 1 << 16


class _Parser(argparse.ArgumentParser):
    """Reports argument errors like every other error: a message on stderr, exit status 1."""

    def error(self, message: str) -> NoReturn:
        self.print_usage(sys.stderr)
        self.exit(1, f"{self.prog}: error: {message}\n")


def _parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog="velkor",
        description="Sample measurement records or detector bits from a circuit in the Stim "
                    "circuit text format.",
    )
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    sample = commands.add_parser("sample", help="write measurement records, one shot per record")
    sample.set_defaults(append_observables=False)
    detect = commands.add_parser("detect", help="write detector bits, one shot per record")
    detect.add_argument(
        "--append_observables",
        action="store_true",
        help="append each shot's observable bits after its detector bits",
    )
    for sub in (sample, detect):
        sub.add_argument("--shots", type=int, default=1, help="number of shots (default 1)")
        sub.add_argument("--seed", type=int, default=None,
                         help="seed of the random stream (default: fresh entropy)")
        sub.add_argument("--in", dest="input", default=None, metavar="FILE",
                         help="circuit file (default: standard input)")
        sub.add_argument("--out", dest="output", default=None, metavar="FILE",
                         help="output file (default: standard output)")
        sub.add_argument("--out_format", choices=("01", "b8"), default="01",
                         help="01: a line of 0/1 characters per shot; b8: each shot's bits "
                              "packed little-endian into bytes")
        sub.add_argument("--postselect", type=int, nargs="*", default=None, metavar="DETECTOR",
                         help="discard shots in which any of these detectors fires; only the "
                              "kept shots are written")
        sub.add_argument("--num_faults", type=int, default=None,
                         help="fault exactly this many uniformly chosen fault sites per shot")
    return parser


def _rows(result: SampleResult, command: str, append_observables: bool) -> np.ndarray:
    """The bool matrix of one chunk that the command writes."""
    if command == "sample":
        return result.measurements
    if append_observables:
        return np.concatenate([result.detectors, result.observables], axis=1)
    return result.detectors


def _encode(rows: np.ndarray, out_format: str) -> bytes:
    if out_format == "b8":
        return np.packbits(rows, axis=1, bitorder="little").tobytes()
    text = np.empty((rows.shape[0], rows.shape[1] + 1), dtype=np.uint8)
    text[:, :-1] = rows.view(np.uint8) + ord("0")
    text[:, -1] = ord("\n")
    return text.tobytes()


class _Progress:
    """Shot counter on stderr, shown only when stderr is a terminal and the run is long."""

    def __init__(self, total: int, chunk: int) -> None:
        self.total = total
        self.enabled = sys.stderr.isatty() and total > chunk
        self.last = 0.0

    def update(self, done: int) -> None:
        now = time.monotonic()
        if self.enabled and (now - self.last > 0.2 or done == self.total):
            self.last = now
            sys.stderr.write(f"\r{done}/{self.total} shots")
            if done == self.total:
                sys.stderr.write("\n")
            sys.stderr.flush()


def _read_circuit(path: str | None) -> str:
    if path is None:
        return sys.stdin.buffer.read().decode("utf-8")
    with open(path, "rb") as f:
        return f.read().decode("utf-8")


def _write_shots(args: argparse.Namespace, sampler: CircuitSampler, out: BinaryIO) -> None:
    """Samples args.shots shots in chunks and writes them; one call even for zero shots, so that
    the sampling arguments are always checked."""
    width = sampler.num_measurements if args.command == "sample" else (
        sampler.num_detectors + args.append_observables * sampler.num_observables)
    chunk = max(1, min(MAX_CHUNK_SHOTS, CHUNK_BITS // max(width, 1)))
    progress = _Progress(args.shots, chunk)
    done = 0
    while True:
        shots = min(chunk, args.shots - done)
        result = sampler.sample(shots, num_faults=args.num_faults)
        out.write(_encode(_rows(result, args.command, args.append_observables), args.out_format))
        done += shots
        progress.update(done)
        if done >= args.shots:
            return


def _message(error: BaseException) -> str:
    """The error's message with its notes, such as the argument it concerns."""
    notes = getattr(error, "__notes__", [])
    return str(error) + "".join(f" ({note})" for note in notes)


def main(argv: Sequence[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    try:
        sampler = CircuitSampler(_read_circuit(args.input), seed=args.seed,
                                 postselect=args.postselect)
        if args.output is None:
            _write_shots(args, sampler, sys.stdout.buffer)
            sys.stdout.flush()
        else:
            with open(args.output, "wb") as out:
                _write_shots(args, sampler, out)
    except BrokenPipeError:
        # The reader went away (as with `| head`): stop quietly, without a second error when
        # the interpreter flushes stdout on exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except (ValueError, OverflowError, MeasurementError, OSError, MemoryError) as error:
        print(f"velkor: error: {_message(error)}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("velkor: interrupted", file=sys.stderr)
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
