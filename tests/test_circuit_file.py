"""CircuitSampler.from_file: a circuit read from a file samples as its text does, and every
failure to read names the file."""

import errno
import os
import pathlib

import numpy as np
import pytest

from velkor import CircuitSampler

CIRCUIT = ("RX 0\nM 0 0\nX_ERROR(0.3) 0\nM 0\nDETECTOR rec[-1] rec[-2]\n"
           "OBSERVABLE_INCLUDE(0) rec[-1]\n")


@pytest.mark.parametrize("as_path", [str, pathlib.Path, os.fsencode])
def test_file_samples_as_its_text(tmp_path, as_path):
    (tmp_path / "c.stim").write_text(CIRCUIT)
    options = {"seed": 9, "postselect": [0]}
    from_file = CircuitSampler.from_file(as_path(str(tmp_path / "c.stim")), **options)
    from_text = CircuitSampler(CIRCUIT, **options)
    assert repr(from_file) == repr(from_text)
    file_result, text_result = (s.sample(200, bit_packed=True) for s in (from_file, from_text))
    assert file_result.accepted_shots == text_result.accepted_shots < 200
    for name in ("measurements", "detectors", "observables"):
        np.testing.assert_array_equal(getattr(file_result, name), getattr(text_result, name))


@pytest.mark.parametrize("name, content, error_type, code", [
    ("missing.stim", None, FileNotFoundError, errno.ENOENT),
    ("folder", "dir", IsADirectoryError, errno.EISDIR),
])
def test_unreadable_file_raises_the_os_error_with_its_path(tmp_path, name, content, error_type,
                                                           code):
    path = tmp_path / name
    if content == "dir":
        path.mkdir()
    with pytest.raises(error_type) as error:
        CircuitSampler.from_file(path)
    assert (error.value.errno, error.value.filename) == (code, str(path))
    assert str(path) in str(error.value)


def test_undecodable_bytes_are_refused_with_the_path_and_offset(tmp_path):
    path = tmp_path / "latin1.stim"
    path.write_bytes("# caf\u00e9\nM 0\n".encode("latin-1"))
    with pytest.raises(ValueError) as error:
        CircuitSampler.from_file(path)
    assert str(error.value) == (
        f"circuit file {str(path)!r} is not valid UTF-8 (invalid byte at offset 5)")


def test_circuit_errors_are_those_of_the_text(tmp_path):
    path = tmp_path / "bad.stim"
    path.write_text("H 0\n")
    with pytest.raises(ValueError, match="^unsupported instruction H$"):
        CircuitSampler.from_file(str(path))


# Argument errors are in the refusal table of test_sampler.py.


def test_text_signature():
    assert CircuitSampler.from_file.__text_signature__ == (
        "($type, path, *, seed=None, postselect=None)")
