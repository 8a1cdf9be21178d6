"""The command line, run as a separate process: output formats, input and output files, chunked
sampling, every example's documented command, and errors reported without a traceback."""

import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys

import numpy as np
import pytest

from velkor import CircuitSampler

ROOT = pathlib.Path(__file__).resolve().parent.parent
EXAMPLES = sorted((ROOT / "examples").glob("*.stim"))
NOISY = "X_ERROR(0.3) 0 1 2 3 4 5 6 7 8\nM 0 1 2 3 4 5 6 7 8\n" + "".join(
    f"DETECTOR rec[-{k}]\n" for k in range(1, 10)) + "OBSERVABLE_INCLUDE(1) rec[-1]\n"


def velkor(*args, stdin=""):
    return subprocess.run([sys.executable, "-m", "velkor", *map(str, args)], input=stdin.encode(),
                          capture_output=True, cwd=ROOT, timeout=120)


def as_01(rows):
    return "".join("".join("1" if b else "0" for b in row) + "\n" for row in rows).encode()


@pytest.mark.parametrize("command, extra, rows", [
    ("sample", [], lambda r: r.measurements),
    ("detect", [], lambda r: r.detectors),
    ("detect", ["--append_observables"], lambda r: np.concatenate([r.detectors, r.observables], 1)),
])
@pytest.mark.parametrize("out_format", ["01", "b8"])
def test_output_matches_one_library_call(command, extra, rows, out_format):
    # 70000 shots take two chunks; the stream continues, so the bits are those of one call.
    run = velkor(command, "--shots", 70000, "--seed", 3, "--out_format", out_format, *extra,
                 stdin=NOISY)
    assert run.returncode == 0 and run.stderr == b""
    expected = rows(CircuitSampler(NOISY, seed=3).sample(70000))
    if out_format == "01":
        assert run.stdout == as_01(expected)
    else:
        assert run.stdout == np.packbits(expected, axis=1, bitorder="little").tobytes()


def test_files_postselection_and_fixed_faults(tmp_path):
    circuit, out = tmp_path / "circuit.stim", tmp_path / "out.txt"
    circuit.write_text(NOISY)
    run = velkor("detect", "--in", circuit, "--out", out, "--shots", 500, "--seed", 4,
                 "--postselect", 0, 8, "--num_faults", 2)
    assert run.returncode == 0 and run.stdout == b"" and run.stderr == b""
    expected = CircuitSampler(NOISY, seed=4, postselect=[0, 8]).sample(500, num_faults=2)
    assert out.read_bytes() == as_01(expected.detectors)
    assert 0 < expected.accepted_shots < 500


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
        assert run.returncode == 0 and run.stderr == b"", (command, run.stderr)
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
    ("}", ["sample"], "velkor: error: invalid Stim circuit:  --> 1:1\n"),
    ("M 0", ["sample", "--shots", -1], "velkor: error: shots must be non-negative\n"),
    ("X_ERROR(0.1) 0", ["sample", "--shots", 0, "--num_faults", 2],
     "velkor: error: num_faults (2) exceeds the number of fault sites (1)\n"),
    ("M 0", ["sample", "--num_faults", -1], "velkor: error: num_faults must be non-negative\n"),
    ("M 0\nDETECTOR rec[-1]", ["detect", "--postselect", 3],
     "velkor: error: postselected detector index 3 is out of range\n"),
    ("M 0", ["sample", "--seed", -1], "velkor: error: can't convert negative int to unsigned "
                                       "(while processing 'seed')\n"),
    ("RX 0 1 2\nCCZ 0 1 2\nMX 0", ["sample"], "velkor: error: X measurement on qubit 0 is "
                                               "incompatible: non-affine zero set (reference "
                                               "measurement 0)\n"),
    ("M 0", ["sample", "--in", "no/such/file.stim"], "velkor: error: [Errno 2] No such file or "
                                                      "directory: 'no/such/file.stim'\n"),
    ("M 0", ["sample", "--out_format", "hits"], "velkor sample: error: argument --out_format: "
                                                 "invalid choice: 'hits'"),
    ("M 0", ["sample", "--shots", "many"], "velkor sample: error: argument --shots: invalid int "
                                            "value: 'many'\n"),
    ("M 0", [], "velkor: error: the following arguments are required: COMMAND\n"),
    ("M 0", ["sample", "--append_observables"], "velkor: error: unrecognized arguments: "
                                                 "--append_observables\n"),
])
def test_errors_exit_with_status_1_and_a_message(circuit, args, message):
    run = velkor(*args, stdin=circuit)
    stderr = run.stderr.decode()
    assert run.returncode == 1 and run.stdout == b""
    assert message in stderr and "Traceback" not in stderr


def test_invalid_circuit_leaves_the_output_file_alone(tmp_path):
    out = tmp_path / "out.txt"
    out.write_text("kept")
    assert velkor("sample", "--out", out, stdin="H 0").returncode == 1
    assert out.read_text() == "kept"


def test_ctrl_c_stops_a_long_run():
    process = subprocess.Popen([sys.executable, "-m", "velkor", "sample", "--shots", str(10**12)],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, cwd=ROOT)
    process.stdin.write(b"X_ERROR(0.5) 0\nM 0")
    process.stdin.close()
    process.stdin = None  # already closed: communicate() must not flush it
    assert process.stdout.readline() in (b"0\n", b"1\n")  # sampling has started
    process.send_signal(signal.SIGINT)
    _, stderr = process.communicate(timeout=60)
    assert process.returncode == 130 and stderr.endswith(b"velkor: interrupted\n")
