#include "simulator/expvals/directional_derivative.h"

namespace velkor {

QuadraticPhase directional_derivative(const Simulator& sim, std::span<const uint64_t> d) {
  size_t n = sim.num_vars();
  QuadraticPhase form;
  form.linear.assign(n, 0);
  form.quadratic.assign(n, BitVec::zeros(n));
  // A term c * parity(k . x) with odd k . d changes by c * (1 - 2 * parity(k . x)), and modulo 4
  // a parity is the sum of its bits plus twice the sum of their pairwise products.
  sim.phase().for_each([&](std::span<const uint64_t> key, uint8_t c) {
    if (!dot_words(key, d)) return;
    form.constant = static_cast<uint8_t>((form.constant + c) & 7);
    bool odd = c & 1;
    for_each_one(key, n, [&](size_t j) {
      form.linear[j] = static_cast<uint8_t>((form.linear[j] - c) & 3);
      if (odd) xor_words(form.quadratic[j].words(), key);
    });
  });
  // Each odd key toggled the diagonal of its own members; those bits are not couplings.
  for (size_t j = 0; j < n; ++j) form.quadratic[j].set(j, false);
  return form;
}

}  // namespace velkor
