"""The command line, run as a separate process: output formats, input and output files, chunked
sampling, every example's documented command, and errors reported without a traceback."""

import importlib.metadata
import io
import os
import pathlib
import re
import shutil
import shlex
import signal
import subprocess
import sys
import tempfile

import numpy as np
import pytest

from velkor import CircuitSampler, __main__, translate_circuit
from velkor._shot_formats import FORMATS, Segment, encode

ROOT = pathlib.Path(__file__).resolve().parent.parent
EXAMPLES = sorted((ROOT / "examples").glob("*.stim"))
NOISY = "X_ERROR(0.3) 0 1 2 3 4 5 6 7 8\nM 0 1 2 3 4 5 6 7 8\n" + "".join(
    f"DETECTOR rec[-{k}]\n" for k in range(1, 10)) + "OBSERVABLE_INCLUDE(1) rec[-1]\n"
RARE = "M 5 6\nRX 0 1\nR 2\nX 2\nX_ERROR(0.00002) 2\nCZ 0 1\nT 1\nCCZ 0 1 2\nT 2\nMX 1\n"
DISCARDS = re.compile(rb"velkor: \d+ of \d+ shots discarded by postselection\n")


def velkor(*args, stdin="", cwd=ROOT):
    """Runs the command line in this process, with its own standard streams and working folder;
    returns what a subprocess would: the exit status, stdout and stderr."""
    saved, folder = (sys.stdin, sys.stdout, sys.stderr), os.getcwd()
    with tempfile.TemporaryDirectory() as scratch:
        out_path = os.path.join(scratch, "stdout")
        sys.stdin = io.TextIOWrapper(io.BytesIO(stdin.encode()))
        sys.stdout = io.TextIOWrapper(open(out_path, "wb"), write_through=True)
        sys.stderr = io.StringIO()
        os.chdir(cwd)
        try:
            status = __main__.main(list(map(str, args)))
        except SystemExit as exit:  # argument errors and --version
            status = exit.code
        finally:
            err = sys.stderr.getvalue().encode()
            sys.stdout.close()
            sys.stdin, sys.stdout, sys.stderr = saved
            os.chdir(folder)
        with open(out_path, "rb") as out:
            return subprocess.CompletedProcess(args, status, out.read(), err)


def as_01(rows):
    return "".join("".join("1" if b else "0" for b in row) + "\n" for row in rows).encode()


@pytest.mark.parametrize("out_format", FORMATS)
def test_every_format_writes_what_the_peer_writes(out_format, tmp_path):
    stim = pytest.importorskip("stim")
    rng = np.random.default_rng(7)
    for shots, detectors, observables, density in [(0, 3, 1, 0.5), (64, 0, 1, 0.5),
                                                   (128, 7, 1, 0.3), (64, 8, 0, 0.9),
                                                   (192, 9, 2, 0.01), (64, 63, 1, 0.5),
                                                   (64, 64, 1, 0.2), (128, 600, 65, 0.001)]:
        bits = rng.random((shots, detectors + observables)) < density
        segments = [Segment(p, np.packbits(b, axis=1, bitorder="little"), b.shape[1])
                    for p, b in (("D", bits[:, :detectors]), ("L", bits[:, detectors:]))]
        path = tmp_path / "shots"
        stim.write_shot_data_file(data=bits, path=str(path), format=out_format,
                                  num_detectors=detectors, num_observables=observables)
        assert path.read_bytes() == encode(out_format, segments)  # what users' decoders read


EXP_VALS = "RX 9\nT 9\nEXP_VAL X9 Z0 !Y9\n"


@pytest.mark.parametrize("out_format", FORMATS)
def test_every_stream_matches_one_library_call(out_format, tmp_path, monkeypatch):
    # Chunks of at most 300 shots (256 for ptb64): the stream continues from chunk to chunk, so
    # the bits are those of one call.
    monkeypatch.setattr(__main__, "MAX_CHUNK_SHOTS", 300)
    files = {name: tmp_path / name for name in ("out", "obs", "exp")}
    detect = velkor("detect", "--shots", 1024, "--seed", 3, "--append_observables",
                    "--out_format", out_format, "--out", files["out"], "--obs_out", files["obs"],
                    "--obs_out_format", out_format, "--exp_vals_out", files["exp"],
                    stdin=NOISY + EXP_VALS)
    sample = velkor("sample", "--shots", 1024, "--seed", 3, "--out_format", out_format,
                    stdin=NOISY)
    assert (detect.returncode, detect.stdout, detect.stderr) == (0, b"", b"")
    assert (sample.returncode, sample.stderr) == (0, b"")
    expected = CircuitSampler(NOISY + EXP_VALS, seed=3).sample(1024, bit_packed=True)
    measurements, detectors, observables = (Segment(prefix, getattr(expected, name), width)
                                            for prefix, name, width in [
        ("M", "measurements", 9), ("D", "detectors", 9), ("L", "observables", 2)])
    assert sample.stdout == encode(out_format, [measurements])
    assert files["out"].read_bytes() == encode(out_format, [detectors, observables])
    assert files["obs"].read_bytes() == encode(out_format, [observables])
    exp_vals = np.loadtxt(files["exp"], ndmin=2)
    assert exp_vals.tobytes() == expected.exp_vals.tobytes()  # every value exactly


def test_files_postselection_and_fixed_faults(tmp_path):
    circuit, out, discards = tmp_path / "circuit.stim", tmp_path / "out.txt", tmp_path / "d.txt"
    circuit.write_text(NOISY)
    run = velkor("detect", "--in", circuit, "--out", out, "--shots", 500, "--seed", 4,
                 "--postselect", 0, 8, "--num_faults", 2, "--discards_out", discards)
    expected = CircuitSampler(NOISY, seed=4, postselect=[0, 8]).sample(500, num_faults=2)
    assert 0 < expected.accepted_shots < 500
    assert (run.returncode, run.stdout) == (0, b"")
    assert run.stderr.decode() == f"velkor: {expected.discards} of 500 shots discarded by " \
                                  "postselection\n"
    assert discards.read_text() == f"{expected.discards}\n"
    assert out.read_bytes() == as_01(expected.detectors)


@pytest.mark.parametrize("circuit, args, output", [
    ("", ["sample", "--shots", 2], b"\n\n"),
    ("X 8\nM 0 1 2 3 4 5 6 7 8", ["sample", "--shots", 2, "--out_format", "b8"],
     b"\x00\x01\x00\x01"),
    ("M 0", ["sample", "--shots", 0], b""),
    ("M 0", ["sample"], b"0\n"),
])
def test_small_outputs(circuit, args, output):
    run = velkor(*args, stdin=circuit)
    assert (run.returncode, run.stdout, run.stderr) == (0, output, b"")


@pytest.mark.parametrize("path", EXAMPLES, ids=lambda p: p.name)
def test_examples_run_as_their_comments_say(path):
    commands = re.findall(r"^#\s+velkor (.+)$", path.read_text(), re.MULTILINE)
    assert commands, f"{path.name} shows no command line"
    for command in commands:
        run = velkor(*command.split())
        assert run.returncode == 0 and not DISCARDS.sub(b"", run.stderr), (command, run.stderr)
        lines = run.stdout.decode().splitlines()
        assert lines and all(set(line) <= {"0", "1"} for line in lines)


def test_console_script_is_installed():
    script = shutil.which("velkor")
    if script is None:
        pytest.skip("the velkor script is not on PATH")
    run = subprocess.run([script, "sample", "--shots", "1"], input=b"X 0\nM 0", capture_output=True)
    assert (run.returncode, run.stdout) == (0, b"1\n")


@pytest.mark.parametrize("circuit, args, message", [
    ("H 0", ["sample"], "velkor: error: unsupported instruction H\n"),
    ("X_ERROR(0.1) 0", ["sample", "--shots", 0, "--num_faults", 2],
     "velkor: error: num_faults (2) exceeds the number of fault sites (1)\n"),
    ("M 0\nDETECTOR rec[-1]", ["detect", "--postselect", 3],
     "velkor: error: postselected detector index 3 is out of range\n"),
    ("M 0", ["sample", "--seed", -1], "velkor: error: can't convert negative int to unsigned "
                                       "(while processing 'seed')\n"),
    ("RX 0 1 2\nCCZ 0 1 2\nMX 0", ["sample"], "velkor: error: X measurement on qubit 0 is "
                                               "incompatible: non-affine zero set (reference "
                                               "measurement 0)\n"),
    ("M 0", ["sample", "--in", "no/such/file.stim"], "velkor: error: [Errno 2] No such file or "
                                                      "directory: 'no/such/file.stim'\n"),
    ("M 0", ["sample", "--out_format", "b64"], "velkor sample: error: argument --out_format: "
                                                "invalid choice: 'b64'"),
    ("M 0", ["sample", "--shots", "many"], "velkor sample: error: argument --shots: invalid int "
                                            "value: 'many'\n"),
    ("M 0", [], "velkor: error: the following arguments are required: COMMAND\n"),
    ("CX 0 1\nH 0\nCX 0 1\nM 0", ["sample", "--translate"],
     "velkor: error: line 2: cannot translate H on qubit 0"),
    ("M 0", ["sample", "--append_observables"], "velkor: error: unrecognized arguments: "
                                                 "--append_observables\n"),
    ("M 0", ["sample", "--shots", 2**63], "velkor: error: int too big to convert (while "
                                          "processing 'shots')\n"),
    ("M 0\nDETECTOR rec[-1]", ["detect", "--postselect"],
     "velkor detect: error: argument --postselect: expected at least one argument\n"),
    ("M 0", ["sample", "--shots", 100, "--out_format", "ptb64"],
     "velkor: error: the ptb64 format needs a multiple of 64 shots, not 100\n"),
    ("M 0\nDETECTOR rec[-1]", ["sample", "--shots", 64, "--out_format", "ptb64", "--postselect", 0],
     "velkor: error: the ptb64 format needs a known number of shots, so it cannot be combined "
     "with --postselect\n"),
    ("M 0", ["sample", "--out", "x", "--discards_out", "./x"],
     "velkor: error: --out and --discards_out name the same file; no output was written\n"),
    (RARE, ["sample", "--shots", 300000, "--seed", 5], "velkor: error: X measurement on qubit 1 is "
     "incompatible: odd phase is not two-valued (shot 104516, measurement 2); 65536 complete "
     "shots were written to standard output\n"),
])
def test_errors_exit_with_status_1_and_a_message(circuit, args, message):
    run = velkor(*args, stdin=circuit)
    stderr = run.stderr.decode()
    written = re.search(r"(\d+) complete shots were written", stderr)
    assert run.returncode == 1 and len(run.stdout) == (4 * int(written[1]) if written else 0)
    assert message in stderr and "Traceback" not in stderr


@pytest.mark.parametrize("circuit, args", [
    ("H 0", []), ("M 0", ["--shots", -1]), ("M 0", ["--shots", 10**23]),
    ("X_ERROR(0.1) 0\nM 0", ["--num_faults", 999]),
    (RARE, ["--shots", 300000, "--seed", 5, "--exp_vals_out", "exp.txt"]),
    pytest.param("M 0", ["--exp_vals_out", "/dev/full"],  # fails when the files are closed
                 marks=pytest.mark.skipif(not os.path.exists("/dev/full"), reason="no /dev/full")),
])
def test_a_failed_run_leaves_every_output_file_as_it_was(circuit, args, tmp_path):
    (tmp_path / "out.txt").write_text("kept")
    run = velkor("sample", "--out", "out.txt", *args, stdin=circuit, cwd=tmp_path)
    assert run.returncode == 1 and re.search(rb"; no (output|regular file) was written", run.stderr)
    assert [p.name for p in tmp_path.iterdir()] == ["out.txt"]
    assert (tmp_path / "out.txt").read_text() == "kept"


@pytest.mark.parametrize("redirect, message", [
    (">&-", "standard output is closed"), ("<&-", "standard input is closed")])
def test_closed_standard_streams_give_one_line(redirect, message):
    run = subprocess.run(f"{shlex.quote(sys.executable)} -m velkor sample {redirect}", shell=True,
                         stdin=subprocess.DEVNULL, stderr=subprocess.PIPE, cwd=ROOT, timeout=120)
    assert (run.returncode, run.stderr) == (1, f"velkor: error: {message}\n".encode())


def test_outputs_reach_the_targets_of_links_and_pipes(tmp_path):
    (tmp_path / "target").write_text("old")
    (tmp_path / "link").symlink_to("target")
    os.mkfifo(tmp_path / "fifo")
    reader = subprocess.Popen(["cat", tmp_path / "fifo"], stdout=subprocess.PIPE)
    run = velkor("detect", "--shots", 2, "--out", tmp_path / "link", "--exp_vals_out",
                 tmp_path / "fifo", "--obs_out", os.devnull, "--discards_out", os.devnull,
                 stdin="X 0\nM 0\nDETECTOR rec[-1]\nEXP_VAL Z0")
    assert (run.returncode, reader.communicate(timeout=60)[0]) == (0, b"-1.0\n-1.0\n")
    assert (tmp_path / "link").is_symlink() and (tmp_path / "target").read_text() == "0\n0\n"


def test_version_and_translation():
    assert velkor("--version").stdout.decode() == f"velkor {importlib.metadata.version('velkor')}\n"
    circuit = "R 0\nH 0\nZ_ERROR(0.2) 0\nH 0\nM 0\nDETECTOR rec[-1]"
    run = velkor("detect", "--translate", "--shots", 100, "--seed", 2, stdin=circuit)
    expected = CircuitSampler(translate_circuit(circuit), seed=2).sample(100)
    assert (run.returncode, run.stdout) == (0, as_01(expected.detectors))


def test_ctrl_c_stops_a_long_run():
    process = subprocess.Popen([sys.executable, "-m", "velkor", "sample", "--shots", str(10**12)],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, cwd=ROOT)
    process.stdin.write(b"X_ERROR(0.5) 0\nM 0")
    process.stdin.close()
    process.stdin = None  # already closed: communicate() must not flush it
    first = os.read(process.stdout.fileno(), 2)  # unbuffered: communicate() reads the rest
    assert first in (b"0\n", b"1\n")  # sampling has started
    process.send_signal(signal.SIGINT)
    stdout, stderr = process.communicate(timeout=60)
    # The chunk being written is finished, so stdout ends after the last shot it counts.
    written = re.fullmatch(rb"velkor: interrupted; (\d+) complete shots were written to standard "
                           rb"output\n", stderr)
    assert process.returncode == 130 and written
    assert len(first + stdout) == 2 * int(written[1]) and stdout.endswith(b"\n")
