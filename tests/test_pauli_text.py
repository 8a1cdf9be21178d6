"""compact_pauli: a sparse Pauli product names the same observable in Python as in a circuit."""

import pytest

import velkor

# Qubits 0 to 3 on the equator (T|+>, S|+>, |->, T_DAG|+>), 4 to 7 at the poles (|1>, |0>, |1>,
# |0>): each product below has a non-zero expectation that a misplaced factor, letter or sign
# would change.
STATE = "RX 0 1 2 3\nT 0\nS 1\nZ 2\nT_DAG 3\nX 4 6\n"

CONVERSIONS = [
    ("X0*Z4", "+X___Z"),
    ("-Y1*Z7", "-_Y_____Z"),
    ("!X2", "-__X"),
    ("Y3*!X0*Z5", "-X__Y_Z"),
    ("+Z6", "+______Z"),
    ("!Y0*!X3", "+Y__X"),
    ("-!Z007", "+_______Z"),
]


@pytest.mark.parametrize("sparse, compact", CONVERSIONS)
def test_sparse_and_compact_forms_name_the_same_observable(sparse, compact):
    assert velkor.compact_pauli(sparse) == compact
    sim = velkor.Simulator(seed=1)
    sim.reset_x(0, 1, 2, 3)
    sim.t(0)
    sim.s(1)
    sim.z(2)
    sim.t_dag(3)
    sim.x(4, 6)
    expectation = sim.peek_observable_expectation(compact)
    # Circuits have no leading sign: a "-" toggles the first factor's "!".
    product = sparse.lstrip("+")
    if product.startswith("-"):
        product = product[2:] if product.startswith("-!") else "!" + product[1:]
    sampled = velkor.CircuitSampler(STATE + f"EXP_VAL {product}\n", seed=1).sample(1)
    assert expectation != 0 and expectation == sampled.exp_vals[0, 0]


@pytest.mark.parametrize("text, message", [
    ("", "Pauli product '' has no factors"),
    ("-", "Pauli product '-' has no factors"),
    ("X0**Z1", "malformed Pauli product 'X0**Z1': empty factor"),
    ("*X0", "malformed Pauli product '*X0': empty factor"),
    ("X0*", "malformed Pauli product 'X0*': empty factor"),
    ("x0", "invalid Pauli factor 'x0' in 'x0'"),
    ("X0*I1", "invalid Pauli factor 'I1' in 'X0*I1'"),
    ("Z", "invalid Pauli factor 'Z' in 'Z'"),
    ("!", "invalid Pauli factor '!' in '!'"),
    ("!!X0", "invalid Pauli factor '!!X0'"),
    ("X-1", "invalid Pauli factor 'X-1'"),
    ("X+1", "invalid Pauli factor 'X+1'"),
    ("X0 ", "invalid Pauli factor 'X0 '"),
    ("X\u00b2", "invalid Pauli factor 'X\u00b2'"),
    ("X0*Z0", "Pauli product 'X0*Z0' names qubit 0 more than once"),
    ("X3*!Y03", "Pauli product 'X3*!Y03' names qubit 3 more than once"),
])
def test_malformed_products_are_refused(text, message):
    with pytest.raises(ValueError) as error:
        velkor.compact_pauli(text)
    assert str(error.value).startswith(message)


def test_non_str_is_refused():
    with pytest.raises(TypeError, match="^Pauli product must be str, not bytes$"):
        velkor.compact_pauli(b"X0")
