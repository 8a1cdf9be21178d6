#include "simulator/expvals/gauss_sum.h"

#include <optional>

#include "base/internal_error.h"
#include "simulator/expvals/quadratic_phase.h"

namespace velkor {
namespace {

constexpr double kHalfSqrt2 = 0.7071067811865476;
constexpr double kCos[8] = {1, kHalfSqrt2, 0, -kHalfSqrt2, -1, -kHalfSqrt2, 0, kHalfSqrt2};
constexpr double kSin[8] = {0, kHalfSqrt2, 1, kHalfSqrt2, 0, -kHalfSqrt2, -1, -kHalfSqrt2};
constexpr int kIRe[4] = {1, 0, -1, 0};
constexpr int kIIm[4] = {0, 1, 0, -1};
// (1 + i^l) / 2 for l = 0..3: the sum over one free variable with linear coefficient l.
constexpr double kSingleRe[4] = {1, 0.5, 0, 0.5};
constexpr double kSingleIm[4] = {0, 0.5, 0, -0.5};

/// An exact Gaussian integer; pair factors have components in {-2, 0, 2}.
struct GaussInt {
  int re = 0;
  int im = 0;
  bool is_zero() const { return re == 0 && im == 0; }
  bool operator==(const GaussInt&) const = default;
};

GaussInt times_i_power(GaussInt z, unsigned k) {
  switch (k & 3) {
    case 0:
      return z;
    case 1:
      return {-z.im, z.re};
    case 2:
      return {-z.re, -z.im};
    default:
      return {z.im, -z.re};
  }
}

/// Sum over x_u, x_v of i^(lu*x_u + lv*x_v + 2*x_u*x_v + 2*b*x_v)
/// = (1 + i^lu) + i^(lv + 2b) * (1 - i^lu).
GaussInt pair_factor(uint8_t lu, uint8_t lv, unsigned b) {
  GaussInt plus{1 + kIRe[lu], kIIm[lu]};
  GaussInt minus{1 - kIRe[lu], -kIIm[lu]};
  GaussInt turned = times_i_power(minus, lv + 2 * b);
  return {plus.re + turned.re, plus.im + turned.im};
}

/// r * (c + i d) with r the left operand, each product and sum rounded on its own.
std::complex<double> times(std::complex<double> r, double c, double d) {
  double a = r.real(), b = r.imag();
  return {a * c - b * d, b * c + a * d};
}

std::complex<double> times_scaled(std::complex<double> r, GaussInt f, double scale) {
  return times(r, f.re * scale, f.im * scale);
}

/// Whether the row has a set bit; stops at the first non-zero word.
bool coupled(const BitVec& row) { return row.first_one().has_value(); }

}  // namespace

std::complex<double> normalized_quadratic_gauss_sum(uint8_t constant, std::vector<uint8_t> linear,
                                                    std::vector<BitVec> quadratic) {
  std::complex<double> r{kCos[constant & 7], kSin[constant & 7]};
  size_t n = linear.size();
  if (n == 0) return r;
  std::vector<uint8_t> active(n, 1);
  // The variables still active, ascending; entries deactivated by an elimination are dropped on
  // the next scan.
  std::vector<size_t> live(n);
  for (size_t j = 0; j < n; ++j) live[j] = j;
  uint8_t acc = 0;
  // Working copies of single rows, reused across eliminations.
  BitVec rest_u, nbrs_v, rest_v, nbrs_p, lower;

  while (true) {
    // Drop free variables without a linear term (each sums to a factor of 1) and find the lowest
    // coupled variable. A droppable variable is never touched again (no row mentions it), so
    // the scan may stop at the pivot and leave the rest to later scans; the final scan, which
    // finds no pivot, visits every variable.
    std::optional<size_t> pivot;
    size_t keep = 0, next = 0;
    for (; next < live.size() && !pivot; ++next) {
      size_t j = live[next];
      if (!active[j]) continue;
      bool has_coupling = coupled(quadratic[j]);
      if (linear[j] == 0 && !has_coupling) {
        active[j] = 0;
        continue;
      }
      live[keep++] = j;
      if (has_coupling) pivot = j;
    }
    live.erase(live.begin() + static_cast<std::ptrdiff_t>(keep),
               live.begin() + static_cast<std::ptrdiff_t>(next));
    if (!pivot) break;
    size_t u = *pivot;
    std::optional<size_t> neighbour = quadratic[u].first_one();
    check_invariant(neighbour.has_value(), "a coupled variable has a neighbor");
    size_t v = *neighbour;

    // Make v the only neighbour of u: substitute x_v := y XOR parity(R . x), R = row u minus v.
    rest_u = quadratic[u];
    rest_u.set(v, false);
    if (!rest_u.is_zero()) {
      uint8_t lv = linear[v];
      linear[v] = 0;
      nbrs_v = quadratic[v];
      nbrs_v.set(u, false);
      toggle_couplings(nbrs_v, rest_u, linear, quadratic);
      quadratic[u].xor_with(rest_u);
      rest_u.for_each_one([&](size_t t) { quadratic[t].flip(u); });
      if (lv != 0) {
        rest_u.set(v, true);
        add_affine_to_quadratic(rest_u, false, lv, acc, linear, quadratic);
      }
    }

    // Sum out u and v; what is left depends on b = parity(S . x), S = row v minus u.
    uint8_t lu = linear[u];
    uint8_t lv = linear[v];
    rest_v = quadratic[v];
    rest_v.set(u, false);
    GaussInt f0 = pair_factor(lu, lv, 0);
    GaussInt f1 = pair_factor(lu, lv, 1);
    linear[u] = 0;
    linear[v] = 0;
    clear_quadratic_variable(quadratic, n, u);
    clear_quadratic_variable(quadratic, n, v);
    active[u] = 0;
    active[v] = 0;

    if (rest_v.is_zero() || f0 == f1) {
      if (f0.is_zero()) return {0.0, 0.0};
      r = times_scaled(r, f0, 0.25);
    } else if (!f0.is_zero() && !f1.is_zero()) {
      // f(b) = f(0) * i^(k b): a linear phase k on the parity S.
      std::optional<unsigned> ratio;
      for (unsigned k = 0; k < 4 && !ratio; ++k) {
        if (f1 == times_i_power(f0, k)) ratio = k;
      }
      check_invariant(ratio.has_value(), "quadratic pair ratio is a power of i");
      add_affine_to_quadratic(rest_v, false, static_cast<uint8_t>(*ratio), acc, linear, quadratic);
      r = times_scaled(r, f0, 0.25);
    } else {
      // Only assignments with parity(S . x) = b0 survive: eliminate x_p = b0 XOR parity(T . x).
      unsigned b0 = f0.is_zero() ? 1 : 0;
      r = times_scaled(r, b0 ? f1 : f0, 0.125);
      std::optional<size_t> lowest = rest_v.first_one();
      check_invariant(lowest.has_value(), "a dependent parity has a pivot");
      size_t p = *lowest;
      lower = rest_v;
      lower.set(p, false);
      uint8_t lp = linear[p];
      linear[p] = 0;
      nbrs_p = quadratic[p];
      clear_quadratic_variable(quadratic, n, p);
      active[p] = 0;
      if (lp != 0) add_affine_to_quadratic(lower, b0 == 1, lp, acc, linear, quadratic);
      // 2 * x_w * x_p = 2 * b0 * x_w + 2 * x_w * parity(T . x)  (mod 4).
      nbrs_p.for_each_one(
          [&](size_t w) { linear[w] = static_cast<uint8_t>((linear[w] + 2 * b0) & 3); });
      toggle_couplings(nbrs_p, lower, linear, quadratic);
    }
  }

  for (size_t j = 0; j < n; ++j) {
    if (active[j]) r = times(r, kSingleRe[linear[j]], kSingleIm[linear[j]]);
  }
  return times(r, kIRe[acc], kIIm[acc]);
}

}  // namespace velkor
