"""Command-line sampler: ``velkor sample`` and ``velkor detect``.

Reads a circuit in the Stim circuit text format and writes each shot's bits in one of the formats
of `velkor._shot_formats`. Long runs are sampled bit-packed in chunks; the sampler's random stream
carries over from chunk to chunk, so the output equals that of one large call, and memory stays
flat at any shot count. Output files are written beside their targets and renamed into place only
when the whole run succeeded, so a failed run leaves an earlier file untouched.
"""

from __future__ import annotations

import argparse
import contextlib
import os
import re
import signal
import sys
import tempfile
import threading
import time
from typing import BinaryIO, Callable, Iterator, NoReturn, Sequence

import velkor
from velkor import CircuitSampler, MeasurementError, SampleResult, translate_circuit
from velkor._shot_formats import FORMATS, Segment, encode, encode_floats

# Bits sampled per chunk: large enough to amortise each call, small enough to keep memory flat
# however many shots are asked for.
CHUNK_BITS = 1 << 22
MAX_CHUNK_SHOTS = 1 << 16
# The largest shot count the sampler takes (a signed 64-bit integer).
MAX_SHOTS = (1 << 63) - 1
SHOT_IN_MESSAGE = re.compile(r"\(shot (\d+), measurement (\d+)\)$")


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
    parser.add_argument("--version", action="version", version=f"velkor {velkor.__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    sample = commands.add_parser("sample", help="write measurement records, one shot per record")
    sample.set_defaults(append_observables=False, obs_out=None, obs_out_format="01")
    detect = commands.add_parser("detect", help="write detector bits, one shot per record")
    detect.add_argument(
        "--append_observables",
        action="store_true",
        help="append each shot's observable bits after its detector bits",
    )
    detect.add_argument("--obs_out", default=None, metavar="FILE",
                        help="also write each shot's observable bits to this file")
    detect.add_argument("--obs_out_format", choices=FORMATS, default="01",
                        help="format of --obs_out (default 01)")
    for sub in (sample, detect):
        sub.add_argument("--shots", type=int, default=1, help="number of shots (default 1)")
        sub.add_argument("--seed", type=int, default=None,
                         help="seed of the random stream (default: fresh entropy)")
        sub.add_argument("--in", dest="input", default=None, metavar="FILE",
                         help="circuit file (default: standard input)")
        sub.add_argument("--out", dest="output", default=None, metavar="FILE",
                         help="output file (default: standard output)")
        sub.add_argument("--out_format", choices=FORMATS, default="01",
                         help="01: a line of 0/1 characters per shot; b8: bits packed "
                              "little-endian into bytes; r8: run lengths of 0s; hits: indices "
                              "of the set bits; dets: 'shot' and prefixed indices (M, D, L); "
                              "ptb64: 64 shots per 64-bit word")
        sub.add_argument("--exp_vals_out", default=None, metavar="FILE",
                         help="write each shot's EXP_VAL values to this file, one line of "
                              "floats per shot")
        sub.add_argument("--postselect", type=int, nargs="+", default=None, metavar="DETECTOR",
                         help="discard shots in which any of these detectors fires; only the "
                              "kept shots are written, and the number discarded is reported on "
                              "stderr")
        sub.add_argument("--discards_out", default=None, metavar="FILE",
                         help="write the number of discarded shots to this file")
        sub.add_argument("--num_faults", type=int, default=None,
                         help="fault exactly this many uniformly chosen fault sites per shot")
        sub.add_argument("--translate", action="store_true",
                         help="translate H, SQRT_X, SQRT_Y, MY, RY, MXX, ... next to resets and "
                              "measurements into the instructions velkor reads")
    return parser


def _check_arguments(args: argparse.Namespace) -> None:
    """Refuses combinations of arguments that no circuit can satisfy, before anything is read."""
    formats = [args.out_format] + ([args.obs_out_format] if args.obs_out is not None else [])
    if "ptb64" in formats:
        if args.postselect is not None:
            raise ValueError("the ptb64 format needs a known number of shots, so it cannot be "
                             "combined with --postselect")
        if args.shots % 64:
            raise ValueError(f"the ptb64 format needs a multiple of 64 shots, not {args.shots}")
    files = {}
    for option in ("output", "obs_out", "exp_vals_out", "discards_out"):
        path = getattr(args, option)
        if path is not None and (os.path.isfile(path) or not os.path.exists(path)):
            other = files.setdefault(os.path.realpath(path), option)
            if other != option:
                raise ValueError(f"--{_flag(other)} and --{_flag(option)} name the same file")


def _flag(option: str) -> str:
    return "out" if option == "output" else option


def _check_sampling(sampler: CircuitSampler, args: argparse.Namespace) -> None:
    """Checks --shots and --num_faults with the sampler's own limits and messages, so that an
    argument error is reported before any output is opened."""
    if args.shots > MAX_SHOTS:
        error = OverflowError("int too big to convert")
        error.add_note("while processing 'shots'")
        raise error
    if args.shots < 0:
        raise ValueError("shots must be non-negative")
    sampler.sample(0, num_faults=args.num_faults)  # draws nothing


def _read_circuit(path: str | None) -> str:
    if path is not None:
        with open(path, "rb") as f:
            return f.read().decode("utf-8")
    if sys.stdin is None:
        raise OSError("standard input is closed")
    return sys.stdin.buffer.read().decode("utf-8")


class _OutputFile:
    """An output written to a temporary file beside its target and renamed into place by
    `replace_target`; `discard` removes it. Devices and pipes (such as /dev/null or /dev/stdout)
    cannot be replaced, so they are written directly (`direct`)."""

    def __init__(self, path: str) -> None:
        self.temporary: str | None = None
        self.direct = os.path.exists(path) and not os.path.isfile(path)
        if self.direct:
            self.stream: BinaryIO = open(path, "wb")
            return
        self.target = os.path.realpath(path)
        directory, name = os.path.split(self.target)
        try:
            handle, self.temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".tmp",
                                                      dir=directory)
        except OSError as error:
            raise OSError(error.errno, error.strerror, path) from None
        self.stream = os.fdopen(handle, "wb")
        os.fchmod(handle, _new_file_mode(self.target))

    def close(self) -> None:
        """Writes out what is buffered and closes the file; errors such as a full disk show here."""
        self.stream.flush()
        if self.temporary is not None:
            os.fsync(self.stream.fileno())
        self.stream.close()

    def replace_target(self) -> None:
        """Puts the closed file in place of its target."""
        if self.temporary is not None:
            os.replace(self.temporary, self.target)
            self.temporary = None

    def discard(self) -> None:
        """Closes the file and removes it unless it has replaced its target."""
        with contextlib.suppress(OSError):  # data left in the buffer is given up
            self.stream.close()
        if self.temporary is not None:
            os.unlink(self.temporary)
            self.temporary = None


def _new_file_mode(target: str) -> int:
    """The mode the target would get from open(): its own if it exists, else 0o666 less umask."""
    if os.path.exists(target):
        return os.stat(target).st_mode & 0o7777
    umask = os.umask(0)
    os.umask(umask)
    return 0o666 & ~umask


class _Run:
    """The outputs of one run and what has been written to them, for messages on failure."""

    def __init__(self, args: argparse.Namespace) -> None:
        self.args = args
        self.paths = [p for p in (args.output, args.obs_out, args.exp_vals_out, args.discards_out)
                      if p is not None]
        self.files: list[_OutputFile] = []
        self.sampling = False
        self.writing = False
        self.shots_written = 0
        self.discarded = 0

    def open(self, path: str | None) -> BinaryIO:
        """A stream for `path`, or standard output for None."""
        if path is None:
            return sys.stdout.buffer
        self.files.append(_OutputFile(path))
        return self.files[-1].stream

    def outcome(self) -> str:
        """What a failed run leaves behind, as a suffix for its message."""
        parts = []
        to_stdout = self.args.output is None
        if to_stdout and self.sampling:
            n = self.shots_written
            parts.append(f"{n} complete shot{'' if n == 1 else 's'} "
                         f"{'was' if n == 1 else 'were'} written to standard output"
                         + (", followed by incomplete data" if self.writing else ""))
        if any(file.direct for file in self.files) and self.sampling:
            parts.append("no regular file was written; devices and pipes may hold incomplete "
                         "data")
        elif self.paths:
            parts.append("no output file was written" if to_stdout else "no output was written")
        return "".join(f"; {part}" for part in parts)


def _writers(args: argparse.Namespace, sampler: CircuitSampler,
             run: _Run) -> list[Callable[[SampleResult], None]]:
    """One function per output stream that writes a chunk's bit-packed result to it."""
    measurements, detectors, observables = (
        sampler.num_measurements, sampler.num_detectors, sampler.num_observables)

    def bits(path: str | None, out_format: str,
             segments: Callable[[SampleResult], list[Segment]]) -> Callable[[SampleResult], None]:
        stream = run.open(path)
        return lambda result: _write_all(stream, encode(out_format, segments(result)))

    if args.command == "sample":
        main = lambda r: [Segment("M", r.measurements, measurements)]
    else:
        main = lambda r: [Segment("D", r.detectors, detectors)] + (
            [Segment("L", r.observables, observables)] if args.append_observables else [])
    writers = [bits(args.output, args.out_format, main)]
    if args.obs_out is not None:
        writers.append(bits(args.obs_out, args.obs_out_format,
                            lambda r: [Segment("L", r.observables, observables)]))
    if args.exp_vals_out is not None:
        exp_vals = run.open(args.exp_vals_out)
        writers.append(lambda result: _write_all(exp_vals, encode_floats(result.exp_vals)))
    return writers


def _write_all(stream: BinaryIO, data: bytes) -> None:
    """Writes all of `data`: a write to a pipe interrupted by a signal can return early."""
    view = memoryview(data)
    while view:
        view = view[stream.write(view):]


class _Progress:
    """Shot counter on stderr, shown only when stderr is a terminal and the run is long."""

    def __init__(self, total: int, chunk: int) -> None:
        self.total = total
        self.enabled = sys.stderr is not None and sys.stderr.isatty() and total > chunk
        self.last = 0.0

    def update(self, done: int) -> None:
        now = time.monotonic()
        if self.enabled and (now - self.last > 0.2 or done == self.total):
            self.last = now
            sys.stderr.write(f"\r{done}/{self.total} shots")
            if done == self.total:
                sys.stderr.write("\n")
            sys.stderr.flush()


def _chunk_shots(args: argparse.Namespace, sampler: CircuitSampler) -> int:
    record = sampler.num_measurements if args.command == "sample" else 0
    bits = record + sampler.num_detectors + sampler.num_observables + 64 * sampler.num_exp_vals
    chunk = max(1, min(MAX_CHUNK_SHOTS, CHUNK_BITS // max(bits, 1)))
    if "ptb64" in (args.out_format, args.obs_out_format):
        chunk = max(64, chunk - chunk % 64)
    return chunk


def _sample(args: argparse.Namespace, sampler: CircuitSampler, run: _Run) -> None:
    """Samples args.shots shots in chunks and writes every output stream."""
    writers = _writers(args, sampler, run)
    chunk = _chunk_shots(args, sampler)
    progress = _Progress(args.shots, chunk)
    # detect leaves the measurement record out of its chunks.
    sample = sampler.sample if args.command == "sample" else sampler.sample_detectors
    run.sampling = True
    done = 0
    while done < args.shots:
        shots = min(chunk, args.shots - done)
        try:
            result = sample(shots, bit_packed=True, num_faults=args.num_faults)
        except MeasurementError as error:
            raise MeasurementError(_counted_from_start(str(error), done)) from None
        with _interrupts_deferred():
            run.writing = True
            for write in writers:
                write(result)
            if args.output is None:
                sys.stdout.flush()  # so that the count of shots written is exact on failure
            run.writing = False
            done += shots
            run.shots_written += result.accepted_shots
            run.discarded += result.discards
        progress.update(done)


@contextlib.contextmanager
def _interrupts_deferred() -> Iterator[None]:
    """Lets the chunk being written finish before Ctrl-C takes effect, so that the output ends
    after a whole shot; a second Ctrl-C (a reader that stopped reading) interrupts at once."""
    if (threading.current_thread() is not threading.main_thread()
            or signal.getsignal(signal.SIGINT) is not signal.default_int_handler):
        yield
        return
    pending = []

    def interrupt(signum: int, frame: object) -> None:
        if pending:
            raise KeyboardInterrupt
        pending.append(signum)

    signal.signal(signal.SIGINT, interrupt)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, signal.default_int_handler)
    if pending:
        raise KeyboardInterrupt


def _counted_from_start(message: str, first_shot: int) -> str:
    """A chunk's failure message with its shot number counted from the start of the run."""
    return SHOT_IN_MESSAGE.sub(
        lambda m: f"(shot {first_shot + int(m[1])}, measurement {m[2]})", message)


def _message(error: BaseException) -> str:
    """The error's message with its notes, such as the argument it concerns."""
    notes = getattr(error, "__notes__", [])
    return (str(error) or type(error).__name__) + "".join(f" ({note})" for note in notes)


def _say(line: str) -> None:
    if sys.stderr is not None:
        print(line, file=sys.stderr)


def _silence_stdout() -> None:
    """Points standard output at /dev/null so that the interpreter's final flush of data that
    could not be written raises no second error."""
    if sys.stdout is not None:
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line with `argv` (default: sys.argv[1:]); returns the exit status."""
    args = _parser().parse_args(argv)
    run = _Run(args)
    try:
        _check_arguments(args)
        if args.output is None and sys.stdout is None:
            raise OSError("standard output is closed")
        text = _read_circuit(args.input)
        if args.translate:
            text = translate_circuit(text)
        sampler = CircuitSampler(text, seed=args.seed, postselect=args.postselect)
        _check_sampling(sampler, args)
        _sample(args, sampler, run)
        if args.discards_out is not None:
            _write_all(run.open(args.discards_out), f"{run.discarded}\n".encode())
        for file in run.files:  # every file is complete before any replaces its target
            file.close()
        for file in run.files:
            file.replace_target()
    except BrokenPipeError:
        # The reader went away (as with `| head`): stop quietly, without a second error when
        # the interpreter flushes stdout on exit.
        _silence_stdout()
        return 1
    except (ValueError, OverflowError, MeasurementError, OSError, MemoryError) as error:
        if args.output is None:
            _silence_stdout()  # what could be written has been flushed after every chunk
        _say(f"velkor: error: {_message(error)}{run.outcome()}")
        return 1
    except KeyboardInterrupt:
        if args.output is None:
            _silence_stdout()  # the rest of a chunk cut short waits for no stalled reader
        _say(f"velkor: interrupted{run.outcome()}")
        return 130
    finally:
        for file in run.files:
            file.discard()
    if args.postselect is not None:
        _say(f"velkor: {run.discarded} of {args.shots} shots discarded by postselection")
    return 0


if __name__ == "__main__":
    sys.exit(main())
