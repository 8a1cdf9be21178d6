"""Translation of basis changes into the instructions the circuit reader accepts.

Circuits written for general stabilizer tools turn Z-basis resets and measurements into X- or
Y-basis ones with single-qubit Clifford gates (`H`, `SQRT_X`, ...), and use `RY`, `MY`, `MRY`,
`MXX`, `MYY` and `MZZ`. `translate_circuit` rewrites such a circuit into an equivalent one made of
the instructions velkor reads, or refuses it.

How it works. Every qubit carries a pending single-qubit Clifford, its frame F: the original
circuit's state equals F applied to the translated circuit's state. Basis-change gates are not
written out; they multiply into the frame. Instructions built from Pauli operators (noise
channels, Pauli gates, measurements, Pauli-product measurements, expectation values, classically
controlled Paulis) are written conjugated by the frame, which keeps them exact. Any other gate
(`CX`, `CZ`, `T`, `CCZ`, `SWAP`, ...) needs the frame to be written out first, which works only for
frames that fix the Z axis (products of `S`, `S_DAG` and Paulis); anything else is refused. A
reset (and the start of the circuit, where every qubit is |0>) looks ahead on its qubit to the
next such gate, reset or the end of the circuit, and prepares at once the state that the
basis-change gates in between would make, so that the frame is the identity again when that gate
comes. The measurement record keeps its order and size, so record lookbacks, detectors and
observables keep their meaning.
"""

from __future__ import annotations

import bisect
import itertools
import json
import re

import numpy as np

__all__ = ["translate_circuit"]

# Instructions one pass may run before the blocks' iterations repeat; past this, a circuit is
# refused rather than translated for minutes.
MAX_RUN_INSTRUCTIONS = 10_000_000

_PAULI_NAMES = "XYZ"
_S2 = 2 ** -0.5
_MATRICES = {
    "I": np.eye(2),
    "X": np.array([[0, 1], [1, 0]]),
    "Y": np.array([[0, -1j], [1j, 0]]),
    "Z": np.diag([1, -1]),
    "S": np.diag([1, 1j]),
    "S_DAG": np.diag([1, -1j]),
    "H": np.array([[1, 1], [1, -1]]) * _S2,
    "H_XY": np.array([[0, 1 - 1j], [1 + 1j, 0]]) * _S2,
    "H_YZ": np.array([[1, -1j], [1j, -1]]) * _S2,
    "SQRT_X": np.array([[1 + 1j, 1 - 1j], [1 - 1j, 1 + 1j]]) / 2,
    "SQRT_X_DAG": np.array([[1 - 1j, 1 + 1j], [1 + 1j, 1 - 1j]]) / 2,
    "SQRT_Y": np.array([[1 + 1j, -1 - 1j], [1 + 1j, 1 + 1j]]) / 2,
    "SQRT_Y_DAG": np.array([[1 - 1j, 1 - 1j], [-1 + 1j, 1 - 1j]]) / 2,
    "C_XYZ": np.array([[1 - 1j, -1 - 1j], [1 - 1j, 1 + 1j]]) / 2,
    "C_ZYX": np.array([[1 + 1j, 1 + 1j], [-1 + 1j, 1 - 1j]]) / 2,
}
_ALIASES = {"H_XZ": "H", "SQRT_Z": "S", "SQRT_Z_DAG": "S_DAG"}


def _key(matrix: np.ndarray) -> tuple:
    """A matrix with its global phase removed, as a hashable value."""
    flat = matrix.ravel()
    lead = flat[np.flatnonzero(np.abs(flat) > 1e-9)[0]]
    return tuple(np.round(flat * (abs(lead) / lead), 9).tolist())


def _clifford_group() -> list[np.ndarray]:
    """The 24 single-qubit Clifford operators up to phase, the identity first."""
    elements, seen, frontier = [], set(), [_MATRICES["I"]]
    while frontier:
        matrix = frontier.pop(0)
        if _key(matrix) in seen:
            continue
        seen.add(_key(matrix))
        elements.append(matrix)
        frontier += [_MATRICES[g] @ matrix for g in ("H", "S")]
    return elements


_GROUP = _clifford_group()
_INDEX = {_key(m): i for i, m in enumerate(_GROUP)}
_MUL = [[_INDEX[_key(a @ b)] for b in _GROUP] for a in _GROUP]
_INV = [_INDEX[_key(m.conj().T)] for m in _GROUP]
_GATE = {name: _INDEX[_key(m)] for name, m in _MATRICES.items()}
_GATE.update({alias: _GATE[name] for alias, name in _ALIASES.items()})


def _pauli_image(matrix: np.ndarray) -> tuple[int, int]:
    """(sign, Pauli index) of a matrix that is plus or minus X, Y or Z."""
    for index, name in enumerate(_PAULI_NAMES):
        for sign in (1, -1):
            if np.allclose(matrix, sign * _MATRICES[name]):
                return sign, index
    raise AssertionError("a Clifford maps Paulis to Paulis")


# _PULL[f][p]: F^dagger P F as (sign, Pauli); an operator P of the original circuit is the
# operator _PULL[f][p] of the translated one.
_PULL = [[_pauli_image(m.conj().T @ _MATRICES[p] @ m) for p in _PAULI_NAMES] for m in _GROUP]
_X, _Y, _Z = 0, 1, 2


def _native_sequences() -> dict[int, tuple[str, ...]]:
    """Shortest sequences of native gates for every frame that fixes the Z axis."""
    found: dict[int, tuple[str, ...]] = {}
    for length in range(3):
        for seq in itertools.product(("S", "S_DAG", "X", "Y", "Z"), repeat=length):
            element = 0
            for gate in seq:
                element = _MUL[_GATE[gate]][element]
            found.setdefault(element, seq)
    return found


_NATIVE = _native_sequences()
# How to prepare the +1 (sign 1) or -1 eigenstate of X, Y or Z: a reset and at most one gate.
_PREPARE = {
    (1, _Z): ("R", ()), (-1, _Z): ("R", ("X",)),
    (1, _X): ("RX", ()), (-1, _X): ("RX", ("Z",)),
    (1, _Y): ("RX", ("S",)), (-1, _Y): ("RX", ("S_DAG",)),
}
_MEASURE = {_Z: "M", _X: "MX"}  # Y results are measured as single-factor products (MPP)
_MEASURE_RESET = {("M", "R"): "MR", ("MX", "RX"): "MRX"}

_RESETS = {"R": _Z, "RZ": _Z, "RX": _X, "RY": _Y}
_MEASUREMENTS = {"M": (_Z, None), "MZ": (_Z, None), "MX": (_X, None), "MY": (_Y, None),
                 "MR": (_Z, _Z), "MRZ": (_Z, _Z), "MRX": (_X, _X), "MRY": (_Y, _Y)}
_PAIR_MEASUREMENTS = {"MXX": _X, "MYY": _Y, "MZZ": _Z}
_PAULI_GATES = {"X": _X, "Y": _Y, "Z": _Z}
_PAULI_ERRORS = {"X_ERROR": _X, "Y_ERROR": _Y, "Z_ERROR": _Z}
_STOPS = {"T", "T_DAG", "CCZ", "SWAP"}
_CONTROLLED = {"CX": _X, "CNOT": _X, "CY": _Y, "CZ": _Z}
_FEEDBACK_NAME = {_X: "CX", _Y: "CY", _Z: "CZ"}
# Instructions the reader refuses and that this module rewrites: their targets and arguments are
# checked here, since the reader never sees them.
_FOREIGN = (set(_GATE) - {"I", "X", "Y", "Z", "S", "S_DAG"}) | {"RY", "MY", "MRY"} | set(
    _PAIR_MEASUREMENTS)


class _Op:
    """One written instruction: upper-cased name, name as written, argument texts, targets."""

    __slots__ = ("name", "written", "args", "targets", "line", "plan", "roles")

    def __init__(self, written, args, targets, line):
        self.name = written.upper()
        self.written, self.args, self.targets, self.line = written, args, targets, line
        self.plan = self.roles = None

    def text(self):
        """The instruction as written, as one line of circuit text."""
        head = self.written + (f"({', '.join(self.args)})" if self.args else "")
        return " ".join([head, *self.targets])


class _Block:
    """A REPEAT block: count, body statements, and the body's expanded instruction count."""

    __slots__ = ("count", "body", "size")

    def __init__(self, count, body):
        self.count, self.body = count, body
        self.size = _expanded_size(body)


def _expanded_size(statements) -> int:
    return sum(1 if isinstance(s, _Op) else s.count * s.size for s in statements)


class _Syntax(Exception):
    """The text does not parse; the reader reports it in its own words."""


_SEPARATOR = re.compile(r"[ \t\r]*(?:#[^\n]*[ \t\r]*)*")
_IDENTIFIER = re.compile(r"[A-Za-z0-9_]+")
_TARGET = re.compile(r"[^ \t\r\n#}]+")
_NUMBER = r"[+-]?(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?"
_COMMA = rf"{_SEPARATOR.pattern},{_SEPARATOR.pattern}"
_ARGUMENTS = re.compile(
    rf"\((?:{_SEPARATOR.pattern}({_NUMBER}(?:{_COMMA}{_NUMBER})*))?{_SEPARATOR.pattern}\)")
_NUMBER_RE = re.compile(_NUMBER)
_REPEAT = re.compile(rf"(?i:REPEAT){_SEPARATOR.pattern}([0-9]+){_SEPARATOR.pattern}\{{")
_LINE_ENDS = re.compile(rf"(?:\n{_SEPARATOR.pattern})*")


class _Parser:
    """Reads circuit text into statements, following the reader's grammar."""

    def __init__(self, text: str):
        self.text = text
        self.line_starts = [0] + [m.end() for m in re.finditer("\n", text)]
        self.blocks: dict[int, tuple | None] = {}  # memo of block attempts by offset

    def line(self, offset: int) -> int:
        return bisect.bisect_right(self.line_starts, offset)

    def skip(self, pos: int) -> int:
        return _SEPARATOR.match(self.text, pos).end()

    def statements(self, pos: int) -> tuple[list, int]:
        """Statements from pos up to a "}" or the end of the text."""
        found = []
        pos = self.skip(_LINE_ENDS.match(self.text, self.skip(pos)).end())
        while pos < len(self.text) and self.text[pos] != "}":
            block = self.block(pos)
            if block is None:
                statement, pos = self.instruction(pos)
            else:
                statement, pos = block
            found.append(statement)
            pos = self.skip(_LINE_ENDS.match(self.text, pos).end())
        return found, pos

    def block(self, pos: int):
        if pos not in self.blocks:
            self.blocks[pos] = None
            head = _REPEAT.match(self.text, pos)
            if head is not None:
                body, end = self.statements(head.end())
                if end < len(self.text):
                    count = int(head.group(1))
                    if count >= 1 << 64:
                        raise _Syntax
                    self.blocks[pos] = (_Block(count, body), self.skip(end + 1))
        return self.blocks[pos]

    def instruction(self, pos: int):
        name = _IDENTIFIER.match(self.text, pos)
        if name is None:
            raise _Syntax
        pos, args = self.skip(name.end()), []
        arguments = _ARGUMENTS.match(self.text, pos)
        if arguments is not None:
            args = _NUMBER_RE.findall(arguments.group(1) or "")
            pos = self.skip(arguments.end())
        targets = []
        while (target := _TARGET.match(self.text, pos)) is not None:
            targets.append(target.group())
            pos = self.skip(target.end())
        return _Op(name.group(), args, targets, self.line(name.start())), pos


def _parse(text: str) -> list:
    parser = _Parser(text)
    statements, end = parser.statements(0)
    if end != len(text):
        raise _Syntax
    return statements


def _qubit(text: str, allow_inverted: bool = False):
    """(qubit, inverted) of a qubit target as the reader reads it, or None."""
    inverted = allow_inverted and text.startswith("!")
    digits = text[inverted:]
    digits = digits[digits.startswith("+"):]
    if not (digits.isascii() and digits.isdigit()) or int(digits) >= 1 << 64:
        return None
    return int(digits), inverted


def _product(text: str):
    """(negated, [(qubit, Pauli)]) of a Pauli-product target, or None."""
    negated, factors = False, []
    for piece in text.split("*"):
        if piece.startswith("!"):
            negated, piece = not negated, piece[1:]
        rest = piece[1:]
        if piece[:1] not in ("X", "Y", "Z") or not (rest.isascii() and rest.isdigit()):
            return None
        factors.append((int(rest), _PAULI_NAMES.index(piece[0])))
    return (negated, factors) if text and all(q < 1 << 64 for q, _ in factors) else None


class TranslationError(ValueError):
    """Raised for a circuit whose basis changes cannot be rewritten exactly."""


def _refuse(op: _Op, message: str):
    raise TranslationError(f"line {op.line}: {message}")


def _check_foreign(op: _Op, qubits) -> None:
    """Refuses arguments and targets of a rewritten instruction that do not read."""
    name = op.name
    measured = name in _MEASUREMENTS or name in _PAIR_MEASUREMENTS
    if op.args and not measured:
        _refuse(op, f"{name} does not take arguments")
    if len(op.args) > 1:
        _refuse(op, f"{name} takes at most one readout probability")
    if None in qubits:
        bad = op.targets[qubits.index(None)]
        _refuse(op, f"invalid {name} target {json.dumps(bad, ensure_ascii=False)}")
    if name in _PAIR_MEASUREMENTS:
        if len(qubits) % 2:
            _refuse(op, f"{name} requires an even number of targets")
        for (a, _), (b, _) in zip(qubits[::2], qubits[1::2]):
            if a == b:
                _refuse(op, f"{name} pair endpoints must be different (both were {a})")


def _controlled_plan(op: _Op):
    """Gate pairs and classically controlled Paulis of CX, CNOT, CY and CZ."""
    pairs = []
    for control, target in zip(op.targets[::2], op.targets[1::2]):
        qubit = _qubit(target)
        if len(control) >= 4 and control.startswith("rec[") and qubit is not None:
            pairs.append(("feedback", control, qubit[0], _CONTROLLED[op.name]))
        elif op.name != "CY" and _qubit(control) is not None and qubit is not None:
            pairs.append(("gate", _qubit(control)[0], qubit[0]))
        else:
            return ("verbatim",)
    return ("controlled", pairs) if len(op.targets) % 2 == 0 and not op.args else ("verbatim",)


def _qubit_plan(op: _Op):
    """Plans of instructions whose targets are qubits."""
    name = op.name
    measured = name in _MEASUREMENTS or name in _PAIR_MEASUREMENTS
    qubits = [_qubit(t, measured) for t in op.targets]
    if name in _FOREIGN:
        _check_foreign(op, qubits)
    elif not op.targets or len(op.args) > _MAX_ARGS.get(name, 0):
        return ("verbatim",)  # the reader refuses it, or it does nothing
    if None in qubits or (name in _PAULI_ERRORS and len(op.args) != 1):
        return ("verbatim",)
    if name in _MEASUREMENTS:
        return ("measure", *_MEASUREMENTS[name], qubits)
    if name in _PAIR_MEASUREMENTS:
        pauli = _PAIR_MEASUREMENTS[name]
        return ("products", [(inv_a != inv_b, [(a, pauli), (b, pauli)])
                             for (a, inv_a), (b, inv_b) in zip(qubits[::2], qubits[1::2])])
    qubits = [q for q, _ in qubits]
    if name in _GATE and name not in _PAULI_GATES:
        return ("fold", [(q, _GATE[name]) for q in qubits])
    if name in _PAULI_GATES:
        return ("pauli_gate", _PAULI_GATES[name], qubits)
    if name in _PAULI_ERRORS:
        return ("pauli_error", _PAULI_ERRORS[name], qubits)
    if name in _RESETS:
        return ("resets", _RESETS[name], qubits)
    if name in _STOPS:
        return ("stop", qubits)
    arity, channel_args = _CHANNELS[name]
    if len(qubits) % arity or len(op.args) != channel_args:
        return ("verbatim",)
    return ("channel" if channel_args > 1 else "touch", qubits)


# Noise channels that do not depend on a basis, or that are permuted: (arity, argument count).
_CHANNELS = {"DEPOLARIZE1": (1, 1), "DEPOLARIZE2": (2, 1), "DEPOLARIZE3": (3, 1),
             "PAULI_CHANNEL_1": (1, 3), "PAULI_CHANNEL_2": (2, 15)}
# Most arguments readable instructions take; the reader checks them, so instructions with more
# are kept as written for it to refuse in its own words.
_MAX_ARGS = {**dict.fromkeys(_MEASUREMENTS, 1), **dict.fromkeys(_PAULI_ERRORS, 1),
             **{name: count for name, (_, count) in _CHANNELS.items()}}
_QUBIT_TARGETED = (set(_GATE) | set(_MEASUREMENTS) | set(_PAIR_MEASUREMENTS) | set(_PAULI_ERRORS)
                   | set(_RESETS) | _STOPS | set(_CHANNELS)) - {"I"}


def _plan(op: _Op):
    """What an instruction means to the translation: a kind tag and its parsed targets.

    Instructions the reader accepts but whose targets do not read are kept as written (the
    reader then refuses them with its own message); rewritten ones are refused here.
    """
    if op.name in ("MPP", "EXP_VAL"):
        products = [_product(t) for t in op.targets]
        if not products or None in products or (op.name == "EXP_VAL" and op.args):
            return ("verbatim",)
        return ("products", products)
    if op.name in _CONTROLLED:
        return _controlled_plan(op)
    if op.name in _QUBIT_TARGETED:
        return _qubit_plan(op)
    return ("verbatim",)


def _roles(plan):
    """(qubit, role) in execution order, role being a gate index to fold, "stop", "reset" or
    None for an instruction that only reads the frame."""
    kind = plan[0]
    if kind == "fold":
        return plan[1]
    if kind == "stop":
        return [(q, "stop") for q in plan[1]]
    if kind == "controlled":
        return [r for pair in plan[1] for r in (
            [(pair[1], "stop"), (pair[2], "stop")] if pair[0] == "gate" else [(pair[2], None)])]
    if kind == "resets":
        return [(q, "reset") for q in plan[2]]
    if kind == "measure":
        reset = [] if plan[2] is None else ["reset"]
        return [(q, role) for q, _ in plan[3] for role in [None, *reset]]
    if kind == "products":
        return [(q, None) for _, factors in plan[1] for q, _ in factors]
    if kind in ("pauli_gate", "pauli_error"):
        return [(q, None) for q in plan[2]]
    if kind in ("touch", "channel"):
        return [(q, None) for q in plan[1]]
    return []


def _layered(sequences) -> list[tuple[str, tuple, str]]:
    """Per-qubit op sequences on distinct qubits, merged layer by layer: every qubit's first op,
    then every second op, and so on, grouped by name within a layer."""
    ops = []
    for layer in itertools.zip_longest(*sequences):
        ops += _grouped(op for op in layer if op is not None)
    return ops


def _grouped(ops) -> list:
    """Ops that commute with each other, grouped by name and arguments in first-seen order."""
    order: dict = {}
    for op in ops:
        order.setdefault(op[:2], []).append(op[2])
    return [(name, args, t) for (name, args), ts in order.items() for t in ts]


def _lines(items) -> list[str]:
    """Ops (name, args, target) and ready lines as circuit lines; consecutive ops of one name
    and one argument list share a line."""
    lines = []
    for key, group in itertools.groupby(items, key=lambda i: i if isinstance(i, str) else i[:2]):
        if isinstance(key, str):
            lines += list(group)
        else:
            head = key[0] + (f"({', '.join(key[1])})" if key[1] else "")
            lines.append(" ".join([head, *(t for _, _, t in group)]))
    return lines


class _Translator:
    """Runs the frame state machine over the statements, a backward pass (resets look ahead)
    and then a forward one (frames, emitted instructions).

    A block is run iteration by iteration until an iteration starts in the state that one of the
    last few iterations started in; the iterations since then cycle (see `_repeat`), so long
    blocks cost a few iterations, not their count. `budget` bounds the instructions run in all.
    """

    def __init__(self, statements: list):
        self.frame: dict[int, int] = {}
        self.culprit: dict[int, _Op] = {}      # the gate that moved the frame off the Z axis
        self.unobserved: dict[int, _Op] = {}   # first gate folded since the last measurement
        self.started: set[int] = set()
        self.budget = MAX_RUN_INSTRUCTIONS
        self.ahead: dict[int, int] = {}
        self.reaches_stop: dict[int, bool] = {}
        self.values = self._backward(statements)
        self.initial = self.ahead
        self.statements = statements

    def _spend(self, count: int) -> None:
        self.budget -= count
        if self.budget < 0:
            raise TranslationError(f"the circuit runs more than {MAX_RUN_INSTRUCTIONS} "
                                   f"instructions before its blocks repeat")

    def _backward(self, statements) -> list:
        """For every statement in order: for an instruction, the product C of the gates folded
        between each of its resets and the next stop or reset on that qubit; for a block, runs
        (count, values of one iteration) in order. Leaves in `ahead` the same products for the
        qubits' states before the statements."""
        values: list = []
        for statement in reversed(statements):
            if isinstance(statement, _Op):
                self._spend(1)
                values.append(self._backward_op(statement))
                continue
            runs = _repeat(statement.count if statement.size else 0,
                           lambda: (dict(self.ahead), dict(self.reaches_stop)),
                           lambda body=statement.body: self._backward(body))
            values.append([(count, cycle[::-1]) for count, cycle in reversed(runs)])
        return values[::-1]

    def _backward_op(self, op: _Op) -> list[int]:
        resets = []
        for qubit, role in reversed(op.roles):
            element = self.ahead.get(qubit, 0)
            if role == "reset":
                resets.append(element)
            if role in ("reset", "stop"):
                element = 0
                self.reaches_stop[qubit] = role == "stop"
            elif role is not None:
                element = _MUL[element][role]
            self.ahead[qubit] = element
        return resets[::-1]

    def translate(self) -> list:
        """The translated circuit as lines and (count, lines) blocks."""
        self.budget = MAX_RUN_INSTRUCTIONS
        items = self._forward(self.statements, self.values)
        closing = []
        for qubit, frame in sorted(self.frame.items()):
            if frame in _NATIVE:
                closing.append(self._flush(qubit, None))
            elif qubit in self.unobserved:
                gate = self.unobserved[qubit]
                _refuse(gate, f"cannot translate {gate.name} on qubit {qubit}: no measurement "
                              f"or reset of the qubit follows it")
        return items + _lines(_layered(closing))

    def _state(self):
        return (dict(self.frame), dict(self.culprit), dict(self.unobserved), len(self.started))

    def _forward(self, statements, values) -> list:
        items: list = []
        for statement, value in zip(statements, values):
            if isinstance(statement, _Op):
                self._spend(1)
                self.resets = iter(value)
                items += self._forward_op(statement)
                continue
            if statement.count == 0:
                items.append((0, tuple(_unchanged(statement.body))))
                continue
            iterations: list = []  # [count, lines of one iteration or cycle of iterations]
            for count, cycle in value:
                def step(cycle=cycle, body=statement.body):
                    return tuple(line for values in cycle for line in self._forward(body, values))
                for repeats, outputs in _repeat(count, self._state, step):
                    lines = tuple(line for output in outputs for line in output)
                    if iterations and iterations[-1][1] == lines:
                        iterations[-1][0] += repeats
                    elif repeats:
                        iterations.append([repeats, lines])
            for count, body in iterations:
                if count == 1:
                    items += body
                elif body:
                    items.append((count, body))
        return items

    def _forward_op(self, op: _Op) -> list[str]:
        items = self._start(dict.fromkeys(q for q, _ in op.roles))
        kind = op.plan[0]
        if kind in ("verbatim", "touch"):
            items.append(op.text())
        else:
            items += getattr(self, "_emit_" + kind)(op, *op.plan[1:])
        return _lines(items)

    def _start(self, qubits) -> list:
        """Sets the frames of qubits at their first use. A qubit starts in |0>, which acts as a
        reset where the gates before its first stop would leave the Z axis."""
        sequences = []
        for qubit in qubits:
            if qubit not in self.started:
                self.started.add(qubit)
                element = self.initial[qubit]
                if element in _NATIVE or not self.reaches_stop.get(qubit, False):
                    self.frame[qubit] = 0
                    continue
                reset, gates = self._prepare(qubit, _Z, element)
                sequences.append([(g, (), str(qubit))
                                  for g in ((reset,) if reset != "R" else ()) + gates])
        return _layered(sequences)

    def _prepare(self, qubit, basis, element):
        """Sets the frame after a reset to C^-1 and returns the reset and gates preparing the
        state C|basis> that the coming gates C would make."""
        self.frame[qubit] = _INV[element]
        self.culprit.pop(qubit, None)
        self.unobserved.pop(qubit, None)
        return _PREPARE[_PULL[_INV[element]][basis]]

    def _reset(self, qubit, basis) -> list:
        reset, gates = self._prepare(qubit, basis, next(self.resets))
        return [(g, (), str(qubit)) for g in (reset, *gates)]

    def _flush(self, qubit, stop) -> list:
        """Writes out a frame that fixes the Z axis before a gate; refuses any other frame."""
        frame = self.frame[qubit]
        if frame not in _NATIVE:
            culprit = self.culprit[qubit]
            _refuse(culprit, f"cannot translate {culprit.name} on qubit {qubit}: the basis "
                             f"change reaches {stop.name} on line {stop.line} without a reset "
                             f"to absorb it")
        self.frame[qubit] = 0
        self.unobserved.pop(qubit, None)
        return [(g, (), str(qubit)) for g in _NATIVE[frame]]

    def _pauli(self, qubit, pauli) -> tuple[int, int]:
        return _PULL[self.frame[qubit]][pauli]

    def _emit_fold(self, op, pairs):
        for qubit, gate in pairs:
            frame = self.frame[qubit] = _MUL[gate][self.frame[qubit]]
            if frame in _NATIVE:
                self.culprit.pop(qubit, None)
            else:
                self.culprit.setdefault(qubit, op)
            self.unobserved.setdefault(qubit, op)
        return []

    def _emit_stop(self, op, qubits):
        return _layered([self._flush(q, op) for q in dict.fromkeys(qubits)]) + [op.text()]

    def _emit_controlled(self, op, pairs):
        items = []
        for pair in pairs:
            if pair[0] == "feedback":
                _, control, qubit, pauli = pair
                name = _FEEDBACK_NAME[self._pauli(qubit, pauli)[1]]
                items.append((name, (), f"{control} {qubit}"))
            else:
                items += _layered([self._flush(q, op) for q in pair[1:]])
                items.append((op.written, (), f"{pair[1]} {pair[2]}"))
        return items

    def _emit_pauli_gate(self, op, pauli, qubits):
        return _grouped((_PAULI_NAMES[self._pauli(q, pauli)[1]], (), str(q)) for q in qubits)

    def _emit_pauli_error(self, op, pauli, qubits):
        return _grouped((_PAULI_NAMES[self._pauli(q, pauli)[1]] + "_ERROR", tuple(op.args), str(q))
                        for q in qubits)

    def _emit_channel(self, op, qubits):
        """Pauli channels with their probabilities moved to the conjugated Paulis."""
        arity = _CHANNELS[op.name][0]
        items = []
        for group in (qubits[i:i + arity] for i in range(0, len(qubits), arity)):
            args = [""] * len(op.args)
            for code in range(1, 4 ** arity):
                image = 0
                for position, qubit in enumerate(group):
                    digit = (code >> (2 * (arity - 1 - position))) & 3
                    image = 4 * image + (digit and self._pauli(qubit, digit - 1)[1] + 1)
                args[image - 1] = op.args[code - 1]
            items.append((op.written, tuple(args), " ".join(map(str, group))))
        return _grouped(items)

    def _emit_products(self, op, products):
        texts = []
        for negated, factors in products:
            written = []
            for qubit, pauli in factors:
                sign, image = self._pauli(qubit, pauli)
                negated ^= sign < 0
                written.append(f"{_PAULI_NAMES[image]}{qubit}")
                self.unobserved.pop(qubit, None)
            texts.append(("!" if negated else "") + "*".join(written))
        name = "EXP_VAL" if op.name == "EXP_VAL" else "MPP"
        return [(name, tuple(op.args), t) for t in texts]

    def _emit_resets(self, op, basis, qubits):
        sequences = [self._reset(q, basis) for q in qubits]
        if len(set(qubits)) == len(qubits):
            return _layered(sequences)
        return [item for s in sequences for item in s]

    def _emit_measure(self, op, basis, reset_basis, targets):
        sequences = []
        for qubit, inverted in targets:
            sign, image = self._pauli(qubit, basis)
            self.unobserved.pop(qubit, None)
            target = ("!" if inverted != (sign < 0) else "") + (
                f"Y{qubit}" if image == _Y else str(qubit))
            items = [(_MEASURE.get(image, "MPP"), tuple(op.args), target)]
            if reset_basis is not None:
                after = self._reset(qubit, reset_basis)
                merged = _MEASURE_RESET.get((items[0][0], after[0][0]))
                items = [(merged, items[0][1], target)] + after[1:] if merged else items + after
            sequences.append(items)
        if len({q for q, _ in targets}) < len(targets):
            return [item for s in sequences for item in s]
        # Results keep their order; resets and gates of distinct qubits commute past them.
        return [s[0] for s in sequences] + _layered([s[1:] for s in sequences])


# Longest cycle of block iterations looked for; single-qubit Clifford frames repeat within 6.
_MAX_PERIOD = 24


def _repeat(count: int, state, step) -> list:
    """Runs step() up to count times and returns [repetitions, (results of a cycle of steps)]
    runs in order. When state() before a step equals the state before one of the last
    `_MAX_PERIOD` steps, the steps since then form a cycle that repeats; whole cycles up to count
    are added without running them, and the few steps left are run."""
    runs: list = []
    history: list = []  # (state before a step, its result) since the last cycle found
    done = 0
    while done < count:
        now = state()
        match = next((i for i in range(len(history) - 1, max(-1, len(history) - 1 - _MAX_PERIOD),
                                        -1) if history[i][0] == now), None)
        if match is not None:
            cycle = tuple(result for _, result in history[match:])
            cycles = (count - done) // len(cycle)
            runs.append([cycles, cycle])
            done += cycles * len(cycle)
            history = []
            continue
        result = step()
        history.append((now, result))
        if runs and runs[-1][1] == (result,):
            runs[-1][0] += 1
        else:
            runs.append([1, (result,)])
        done += 1
    return runs


def _unchanged(statements) -> list:
    """A block that never runs, as written but without the instructions only translation reads,
    so that the reader still checks the rest."""
    return [s.text() if isinstance(s, _Op) else (s.count, tuple(_unchanged(s.body)))
            for s in statements if not (isinstance(s, _Op) and s.name in _FOREIGN)]


def _plan_all(statements) -> None:
    """Plans every written instruction once, in text order, so refusals follow the text."""
    for statement in statements:
        if isinstance(statement, _Op):
            statement.plan = _plan(statement)
            statement.roles = _roles(statement.plan)
        else:
            _plan_all(statement.body)


def _render(items, indent: str = "") -> list[str]:
    lines = []
    for item in items:
        if isinstance(item, str):
            lines.append(indent + item)
        else:
            lines += [f"{indent}REPEAT {item[0]} {{", *_render(item[1], indent + "    "),
                      indent + "}"]
    return lines


def translate_circuit(text: str) -> str:
    """Rewrite basis changes around resets and measurements into instructions velkor reads.

    Args:
        text: a circuit in the Stim circuit text format that may use `H`, `H_XY`, `H_YZ`,
            `SQRT_X`, `SQRT_Y` (and their `_DAG` forms), `C_XYZ`, `C_ZYX`, `RY`, `MY`, `MRY`,
            `MXX`, `MYY` and `MZZ` next to resets and measurements.

    Returns:
        An equivalent circuit for `CircuitSampler`: the same measurement record (order, flip
        probabilities and inversions), detectors, observables and expectation values, with every
        noise channel conjugated into the basis it acts in. Basis-change gates are absorbed into
        the resets before them or the measurements after them; `R` then `H` becomes `RX`, `H`
        then `M` becomes `MX`, `H`, `MR`, `H` becomes `MRX`, `RY` becomes `RX` then `S`, and `MY`
        a one-factor `MPP`. `REPEAT` blocks are translated iteration by iteration until their
        iterations repeat, and stay blocks. Comments are dropped. Instructions the reader
        refuses for other reasons, and text that does not parse, are left as they are for the
        reader to report.

    Raises:
        ValueError: naming the line, the instruction and the qubit, for a basis change that no
            reset before it or measurement after it absorbs (for example `H` between two `CX`
            on the same qubit), for malformed targets or arguments of the rewritten
            instructions, and for circuits whose blocks run more than `MAX_RUN_INSTRUCTIONS`
            instructions before their iterations repeat.
    """
    try:
        try:
            statements = _parse(text)
        except _Syntax:
            return text
        _plan_all(statements)
        return "\n".join(_render(_Translator(statements).translate())) + "\n"
    except RecursionError:
        raise TranslationError("REPEAT blocks nest too deeply to translate") from None
