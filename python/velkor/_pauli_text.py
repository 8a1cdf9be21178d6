"""Conversion of Pauli products from the sparse form that circuits use to the compact form that
`Simulator.measure_observable` and `Simulator.peek_observable_expectation` read."""

_LETTERS = frozenset("XYZ")


def compact_pauli(text: str) -> str:
    """Turns a sparse Pauli product such as "X0*Z5" into the compact form "+X____Z".

    The sparse form is the one circuits use: factors joined by "*", each a letter X, Y or Z
    followed by a qubit index, with an optional "!" before a factor that negates the product and
    an optional leading "+" or "-" for the whole product. The compact form has a sign, then one
    symbol per qubit from 0 to the largest index named: "X", "Y", "Z", or "_" for the identity.

    Raises:
        TypeError: `text` is not a str.
        ValueError: `text` has no factors, an empty or malformed factor, or names a qubit twice.
    """
    if not isinstance(text, str):
        raise TypeError(f"Pauli product must be str, not {type(text).__name__}")
    negated = text[:1] == "-"
    body = text[1:] if text[:1] in ("+", "-") else text
    if not body:
        raise ValueError(f"Pauli product {text!r} has no factors")
    letters: dict[int, str] = {}
    for piece in body.split("*"):
        if not piece:
            raise ValueError(f"malformed Pauli product {text!r}: empty factor")
        inverted = piece[0] == "!"
        negated ^= inverted
        letter, index = piece[inverted:inverted + 1], piece[inverted + 1:]
        if letter not in _LETTERS or not (index.isascii() and index.isdigit()):
            raise ValueError(f"invalid Pauli factor {piece!r} in {text!r}: expected X, Y or Z "
                             "followed by a qubit index, as in X0 or !Z3")
        qubit = int(index)
        if qubit in letters:
            raise ValueError(f"Pauli product {text!r} names qubit {qubit} more than once")
        letters[qubit] = letter
    symbols = bytearray(b"_") * (max(letters) + 1)
    for qubit, letter in letters.items():
        symbols[qubit] = ord(letter)
    return ("-" if negated else "+") + symbols.decode("ascii")
