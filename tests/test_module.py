"""The module frame: exports, the exception type, the class, text signatures and the wording of
binding and conversion errors."""

import ast
import gc
import importlib.metadata
import inspect
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import velkor
from velkor import CircuitSampler, _core

# Every method of this class with its text signature.
SIGNATURES = {
    **dict.fromkeys(["x", "y", "z", "s", "s_dag", "t", "t_dag", "cnot", "cx", "cz", "swap", "ccz",
                     "measure_many", "reset", "reset_z", "reset_x"], "($self, *targets)"),
    **dict.fromkeys(["measure", "measure_z", "peek_probability", "peek_z_probability", "measure_x",
                     "peek_x_probability"], "($self, target)"),
    **dict.fromkeys(["x_error", "y_error", "z_error", "depolarize1", "depolarize2", "depolarize3"],
                    "($self, *targets, p)"),
    "measure_observable": "($self, observable, *, flip_probability=0.0)",
    "peek_observable_expectation": "($self, observable)",
    "state_vector": '($self, *, endian="little")',
    "copy": "($self, *, copy_rng=False, seed=None)",
}


def test_all_lists_the_exports_in_order():
    order = ["Simulator", "CircuitSampler", "SampleResult", "MeasurementError"]
    assert _core.__all__ == [name for name in order if hasattr(_core, name)]
    assert {"Simulator", "MeasurementError"} <= set(_core.__all__)
    assert velkor.__all__[:len(_core.__all__)] == _core.__all__
    assert "compact_pauli" in velkor.__all__
    assert all(hasattr(velkor, name) for name in velkor.__all__)
    assert all(getattr(velkor, name) is getattr(_core, name) for name in _core.__all__)
    assert _core.__doc__ == ""


def test_version_is_the_package_metadata():
    assert velkor.__version__ == importlib.metadata.version("velkor")


def test_stubs_document_every_public_member():
    stubs = ast.parse(pathlib.Path(_core.__file__).with_name("_core.pyi").read_text())
    classes = {node.name: node for node in stubs.body if isinstance(node, ast.ClassDef)}
    assert set(classes) == set(_core.__all__)
    for name, node in classes.items():
        documented = {item.name for item in node.body
                      if isinstance(item, ast.FunctionDef) and ast.get_docstring(item)}
        public = {attr for attr in vars(getattr(_core, name)) if not attr.startswith("_")}
        assert ast.get_docstring(node) and public <= documented, (name, public - documented)


def test_stubs_match_the_runtime(tmp_path):
    run = subprocess.run([sys.executable, "-m", "mypy.stubtest", "velkor._core"], cwd=tmp_path,
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr


def test_measurement_error_type():
    error = _core.MeasurementError
    assert (error.__name__, error.__module__, error.__qualname__) == (
        "PyMeasurementError", "_core", "PyMeasurementError")
    assert str(error) == "<class '_core.PyMeasurementError'>"
    assert error.__bases__ == (Exception,)
    assert error.__doc__ is None
    assert set(vars(error)) == {"__module__", "__doc__", "__weakref__"}
    assert str(error("refused")) == "refused"


def test_simulator_class():
    cls = _core.Simulator
    assert (cls.__module__, cls.__name__) == ("velkor._core", "Simulator")
    assert cls.__text_signature__ == "(*, seed=None)"
    assert str(inspect.signature(cls)) == "(*, seed=None)"
    assert cls.__bases__ == (object,)
    sim = cls(seed=1)
    assert gc.is_tracked(sim) and gc.get_referents(sim) == []
    with pytest.raises(AttributeError):
        sim.num_qubits = 3


@pytest.mark.parametrize("name, signature", SIGNATURES.items())
def test_method_text_signatures(name, signature):
    method = getattr(_core.Simulator, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ is None  # the docstring is exactly the signature block
    inspect.signature(method)  # the signature parses


def test_tuple_and_dict_construction_takes_the_same_path():
    sim = _core.Simulator.__new__(_core.Simulator, seed=0)
    sim.reset_x(0)
    assert sim.measure(0) is True  # seed 0 draws a 1 first
    with pytest.raises(TypeError, match=r"^Simulator.__new__\(\) got an unexpected keyword"):
        _core.Simulator.__new__(_core.Simulator, sead=0)


# ---- Binding errors, compared with what the interpreter says for a Python function of the
# same signature.


def python_twin(name):
    """A plain Python function with the method's signature and qualified name."""
    parameters = str(inspect.signature(getattr(_core.Simulator(seed=1), name)))
    namespace = {}
    exec(f"def {name}{parameters}: pass", namespace)
    function = namespace[name]
    function.__qualname__ = f"Simulator.{name}"
    return function


def bad_calls(name):
    """Argument lists that fail to bind, for the method `name`."""
    params = inspect.signature(getattr(_core.Simulator(seed=1), name)).parameters.values()
    positional = [p for p in params if p.kind == p.POSITIONAL_OR_KEYWORD]
    variadic = any(p.kind == p.VAR_POSITIONAL for p in params)
    required = [p for p in params if p.default is p.empty and p.kind != p.VAR_POSITIONAL]
    calls = [((), {"foo": 1}), ((), {"targets": 1})]
    if not variadic:
        calls += [((0,) * (len(positional) + extra), {}) for extra in (1, 2)]
    if positional:
        calls += [((0,), {positional[0].name: 0})]
    if required:
        calls += [((), {})]
    return calls


@pytest.mark.parametrize("name", SIGNATURES)
def test_binding_errors_use_the_interpreters_wording(name):
    twin = python_twin(name)
    method = getattr(_core.Simulator(seed=1), name)
    for args, kwargs in bad_calls(name):
        with pytest.raises(TypeError) as expected:
            twin(*args, **kwargs)
        with pytest.raises(TypeError) as actual:
            method(*args, **kwargs)
        # The one difference: "takes 1 positional arguments" keeps the plural.
        wording = str(expected.value).replace(
            "takes 1 positional argument but", "takes 1 positional arguments but")
        assert str(actual.value) == wording, (args, kwargs)


# Literal texts beside the comparison above: the plural kept for one argument, a keyword-only
# parameter, and the constructor, which has no Python twin there.
@pytest.mark.parametrize("call, message", [
    (lambda sim: sim.measure(1, 2), "Simulator.measure() takes 1 positional arguments but 2 were given"),
    (lambda sim: sim.x_error(0, 1), "Simulator.x_error() missing 1 required keyword-only argument: 'p'"),
    (lambda sim: _core.Simulator(1), "Simulator.__new__() takes 0 positional arguments but 1 was given"),
    (lambda sim: _core.Simulator(sead=1), "Simulator.__new__() got an unexpected keyword argument 'sead'"),
])
def test_binding_error_texts(call, message):
    with pytest.raises(TypeError) as error:
        call(_core.Simulator(seed=1))
    assert str(error.value) == message
    assert not hasattr(error.value, "__notes__")


# Conversion errors name the parameter in a note (those of Simulator methods are in the table of
# test_simulator.py); those of CircuitSampler come before the text is parsed (its "H 0" would be
# refused).
@pytest.mark.parametrize("call, error_type, parameter, message", [
    (lambda sim: _core.Simulator(seed=1.0), TypeError, "seed", None),
    (lambda sim: _core.Simulator(seed="1"), TypeError, "seed", None),
    (lambda sim: CircuitSampler(b"M 0"), TypeError, "circuit", "must be str, not bytes"),
    (lambda sim: CircuitSampler("H 0", postselect="0"), TypeError, "postselect",
     "Can't extract `str` to `Vec`"),
    (lambda sim: CircuitSampler("H 0", postselect=[0.5]), TypeError, "postselect", None),
    (lambda sim: CircuitSampler("H 0", postselect={0}), TypeError, "postselect",
     "must be a sequence of int, not set"),
    (lambda sim: CircuitSampler("H 0", postselect=[2**63]), OverflowError, "postselect", None),
    (lambda sim: CircuitSampler("M 0\nDETECTOR rec[-1]", postselect=[5, "x"]), TypeError,
     "postselect", None),
    (lambda sim: CircuitSampler("H 0", postselect=range(2**63 - 1, 2**63 + 1)), OverflowError,
     "postselect", None),
    (lambda sim: CircuitSampler("H 0", seed=-1), OverflowError, "seed", None),
])
def test_conversion_errors_carry_a_note(call, error_type, parameter, message):
    sim = _core.Simulator(seed=1)
    with pytest.raises(error_type) as error:
        call(sim)
    assert error.value.__notes__ == [f"while processing '{parameter}'"]
    assert message is None or str(error.value) == message
    assert sim.num_qubits == 0


@pytest.mark.parametrize("call, num_qubits", [
    (lambda sim: sim.x(np.int64(3)), 4), (lambda sim: sim.x(np.uint8(3)), 4),
    (lambda sim: sim.x(True), 2), (lambda sim: sim.copy(copy_rng=np.True_), 0),
    (lambda sim: sim.copy(copy_rng=np.False_), 0), (lambda sim: sim.copy(seed=np.uint64(7)), 0),
    (lambda sim: _core.Simulator(seed=2**64 - 1), 0), (lambda sim: _core.Simulator(seed=None), 0),
    *[(lambda sim, p=p: (sim.x_error(0, p=p), sim.measure_observable("Z", flip_probability=p)), 1)
      for p in [1, True, np.float32(0.25), np.float64(0.5), 0.0]],
])
def test_integer_bool_and_real_likes_are_accepted(call, num_qubits):
    sim = _core.Simulator(seed=1)
    call(sim)
    assert sim.num_qubits == num_qubits
