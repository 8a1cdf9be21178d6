"""The shared benchmark circuits, so that every benchmark measures the same thing."""

import importlib.util
import pathlib


def load_generators(path: pathlib.Path) -> dict:
    """The circuit generators of the module at `path` (normally ../shared/bench_circuits.py
    beside the checkout), by kind: "rep", "surface", "t-surface"; each takes (distance, rounds,
    p) and returns circuit text."""
    loader = importlib.util.spec_from_file_location("bench_circuits", path)
    module = importlib.util.module_from_spec(loader)
    loader.loader.exec_module(module)
    return module.GENERATORS
