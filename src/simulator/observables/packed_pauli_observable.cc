#include "simulator/observables/packed_pauli_observable.h"

#include "base/internal_error.h"

namespace velkor {

PackedPauliObservable from_product(const PauliProduct& product, size_t n) {
  PackedPauliObservable p{BitVec::zeros(n), BitVec::zeros(n), product.negated};
  for (auto [q, pauli] : product.factors) {
    check_invariant(q < n, "Pauli factor lies outside the register");
    if (pauli != Pauli::Z) p.x.set(q, true);
    if (pauli != Pauli::X) p.z.set(q, true);
  }
  return p;
}

void conjugate_cnot(PackedPauliObservable& p, size_t control, size_t target) {
  bool xc = p.x.get(control), zc = p.z.get(control);
  bool xt = p.x.get(target), zt = p.z.get(target);
  p.sign ^= xc && zt && (xt == zc);  // x_c AND z_t AND (x_t XOR z_c XOR 1)
  p.x.set(target, xt != xc);
  p.z.set(control, zc != zt);
}

void conjugate_cz(PackedPauliObservable& p, size_t a, size_t b) {
  // The net effect of S(a) S(b) CNOT(a, b) S_DAG(b) CNOT(a, b).
  bool xa = p.x.get(a), za = p.z.get(a);
  bool xb = p.x.get(b), zb = p.z.get(b);
  p.sign ^= xa && xb && (za != zb);
  p.z.set(a, za != xb);
  p.z.set(b, zb != xa);
}

}  // namespace velkor
