#include "simulator/measurements/x_measurement_plan.h"

#include <cmath>
#include <string>

#include "base/internal_error.h"
#include "simulator/expvals/directional_derivative.h"

namespace velkor {
namespace {

MeasurementError refusal(size_t q, const char* reason) {
  return {"X measurement on qubit " + std::to_string(q) + " is incompatible: " + reason,
          std::nullopt, std::nullopt};
}

/// row == (pick_a ? a : 0) XOR (pick_b ? b : 0), word by word.
bool row_is_combination(const BitVec& row, bool pick_a, const BitVec& a, bool pick_b,
                        const BitVec& b) {
  std::span<const uint64_t> r = row.words(), aw = a.words(), bw = b.words();
  for (size_t k = 0; k < r.size(); ++k) {
    uint64_t want = (pick_a ? aw[k] : 0) ^ (pick_b ? bw[k] : 0);
    if (r[k] != want) return false;
  }
  return true;
}

}  // namespace

double XMeasurementPlan::probability_zero() const {
  if (const auto* fixed = std::get_if<Deterministic>(&shape)) return fixed->outcome ? 0.0 : 1.0;
  if (const auto* odd = std::get_if<OddPhase>(&shape)) return odd->probability_zero;
  return 0.5;
}

std::optional<std::pair<BitVec, BitVec>> rank_two_decomposition(std::span<const BitVec> rows,
                                                                size_t n) {
  if (n == 0) return std::pair{BitVec(), BitVec()};
  size_t i = 0;
  while (i < n && rows[i].is_zero()) ++i;
  if (i == n) return std::pair{BitVec::zeros(n), BitVec::zeros(n)};
  std::optional<size_t> pivot = rows[i].first_one();
  check_invariant(pivot.has_value(), "nonzero row has a pivot");
  BitVec a = rows[*pivot];
  BitVec b = rows[i];
  for (size_t r = 0; r < n; ++r) {
    if (!row_is_combination(rows[r], b.get(r), a, a.get(r), b)) return std::nullopt;
  }
  return std::pair{std::move(a), std::move(b)};
}

// With the sanitizers on, GCC 12 reports the inactive members of the returned plan's variant as
// maybe uninitialised on every return path; only the active member is ever read.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
Expected<XMeasurementPlan, MeasurementError> classify_x_measurement(const Simulator& sim,
                                                                    size_t q) {
  using Plan = XMeasurementPlan;
  check_invariant(q < sim.num_qubits(), "measured qubit is outside the register");
  // Per-thread buffers: classification runs once per X measurement, and concurrent peeks on one
  // simulator must not share them.
  thread_local struct {
    BitVec d;
    QuadraticPhase form;
    DerivativeWorkspace workspace;
    std::vector<uint64_t> columns;
  } buffers;
  auto& [d, form, workspace, columns] = buffers;
  if (!sim.pivots().solve_flip_into(sim.columns(columns), sim.num_qubits(), sim.num_vars(), q, d)) {
    return Plan{Plan::NewCoordinate{}};
  }
  // Clifford states with only linear phases, the common case, are decided without a form.
  if (std::optional<uint8_t> constant = constant_derivative(sim, d.words())) {
    return Plan{Plan::Deterministic{*constant == 4}};
  }
  directional_derivative_into(sim, d.words(), form, workspace);
  size_t n = sim.num_vars();
  uint8_t c = form.constant;

  if (c & 1) {
    // D must take only the values c and -c: linear terms -c on a mask M, couplings M x M.
    auto minus_c = static_cast<uint8_t>(-c & 3);
    BitVec mask = BitVec::zeros(n);
    for (size_t j = 0; j < n; ++j) {
      if (form.linear[j] == minus_c) {
        mask.set(j, true);
      } else if (form.linear[j] != 0) {
        return unexpected(refusal(q, "odd phase is not two-valued"));
      }
    }
    for (size_t j = 0; j < n; ++j) {
      // Row j must be M without j when j is in M, and empty otherwise.
      bool in_mask = mask.get(j);
      if (in_mask) mask.flip(j);
      bool ok = row_is_combination(form.quadratic[j], in_mask, mask, false, mask);
      if (in_mask) mask.flip(j);
      if (!ok) return unexpected(refusal(q, "odd-phase cross terms are not rank one"));
    }
    double p0 = (std::cos(static_cast<double>(c) * 0.7853981633974483) + 1.0) * 0.5;
    return Plan{Plan::OddPhase{std::move(mask), p0, c}};
  }

  BitVec parity = BitVec::zeros(n);
  for (size_t j = 0; j < n; ++j) {
    if (form.linear[j] & 1) return unexpected(refusal(q, "mixed phase parity"));
    if (form.linear[j] == 2) parity.set(j, true);
  }
  if (c == 0 || c == 4) {
    for (const BitVec& row : form.quadratic) {
      if (!row.is_zero()) return unexpected(refusal(q, "non-affine zero set"));
    }
    if (parity.is_zero()) return Plan{Plan::Deterministic{c == 4}};
    return Plan{Plan::AffineSplit{std::move(parity), c == 4}};
  }
  if (!rank_two_decomposition(form.quadratic, n)) {
    return unexpected(refusal(q, "quadratic rank exceeds two"));
  }
  return Plan{Plan::RankTwoPhase{std::move(parity), form.quadratic, c == 6}};
}

#pragma GCC diagnostic pop

}  // namespace velkor
